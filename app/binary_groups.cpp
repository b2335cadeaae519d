#include "binary_groups.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace quorvane {

namespace {

constexpr std::size_t kBlock = std::size_t{256} << 10;

enum class Kind { kText, kDouble, kInt16, kInt32, kInt64, kFlag, kChunk };

bool within(std::int32_t code, std::int32_t first, std::int32_t last) {
  return code >= first && code <= last;
}

// How a value of the code is stored, by the ranges of the DXF reference.
Kind kind_of(std::int32_t code) {
  if (within(code, 310, 319) || code == 1004) return Kind::kChunk;
  if (within(code, 290, 299)) return Kind::kFlag;
  if (within(code, 60, 79) || within(code, 170, 179) || within(code, 270, 289) ||
      within(code, 370, 389) || within(code, 400, 409) || within(code, 1060, 1070)) {
    return Kind::kInt16;
  }
  if (within(code, 90, 99) || within(code, 420, 429) || within(code, 440, 459) || code == 1071) {
    return Kind::kInt32;  // 430 to 439 are text
  }
  if (within(code, 160, 169)) return Kind::kInt64;
  if (within(code, 10, 59) || within(code, 110, 149) || within(code, 210, 239) ||
      within(code, 460, 469) || within(code, 1010, 1059)) {
    return Kind::kDouble;
  }
  return Kind::kText;
}

template <class T>
T little_endian(const char* bytes) {
  unsigned char raw[sizeof(T)];
  std::memcpy(raw, bytes, sizeof(T));
  std::uint64_t value = 0;
  for (std::size_t i = sizeof(T); i > 0; --i) value = value << 8 | raw[i - 1];
  T out;
  if constexpr (sizeof(T) == 8) {
    std::memcpy(&out, &value, 8);
  } else {
    out = static_cast<T>(static_cast<std::make_unsigned_t<T>>(value));
  }
  return out;
}

}  // namespace

BinaryGroupReader::BinaryGroupReader(ByteSource& source) : source_(source) {
  // $ACADVER, in the first kilobyte, tells the size of the codes: AC1009 and
  // before (or none) one byte, later two.
  have(1024);
  const std::string_view first(buffer_.data(), end_);
  const std::size_t variable = first.find("$ACADVER");
  if (variable != std::string_view::npos) {
    std::size_t version = variable + 10;  // after its NUL and a one-byte code
    if (version < first.size() && first[version] != 'A') ++version;
    short_codes_ = version >= first.size() || first.substr(version, 6) <= "AC1009";
  }
  if (first.substr(0, kBinaryDxf.size()) == kBinaryDxf) {
    at_ = kBinaryDxf.size();
  } else {
    fail("this is not a binary DXF drawing");
  }
}

bool BinaryGroupReader::have(std::size_t count) {
  while (end_ - at_ < count && !ended_) {
    if (at_ > 0) {  // the bytes taken go, the rest to the front
      std::memmove(buffer_.data(), buffer_.data() + at_, end_ - at_);
      end_ -= at_;
      at_ = 0;
    }
    if (buffer_.size() < end_ + kBlock) buffer_.resize(end_ + kBlock);
    const ByteSource::Result got = source_.read(buffer_.data() + end_, kBlock);
    if (got.error != 0) error_ = got.error;
    if (got.count == 0) ended_ = true;
    end_ += got.count;
  }
  return end_ - at_ >= count;
}

void BinaryGroupReader::fail(std::string what) {
  if (!fault_) fault_ = Fault{line(), std::move(what)};
}

bool BinaryGroupReader::next(Group& group) {
  if (fault_ || error_ != 0 || !have(1)) return false;
  std::int32_t code;
  const std::size_t code_size =
      short_codes_ ? (static_cast<unsigned char>(buffer_[at_]) == 255 ? 3 : 1) : 2;
  if (!have(code_size)) {
    fail("the binary drawing ends inside a group code: it may have been cut short");
    return false;
  }
  const char* bytes = buffer_.data() + at_;
  code = code_size == 1   ? static_cast<unsigned char>(bytes[0])
         : code_size == 3 ? little_endian<std::uint16_t>(bytes + 1)
                          : little_endian<std::int16_t>(bytes);
  at_ += code_size;
  const char* value = nullptr;
  std::size_t size = 0;
  char number[32];
  const Kind kind = kind_of(code);
  const std::size_t fixed = kind == Kind::kDouble || kind == Kind::kInt64 ? 8
                            : kind == Kind::kInt32                        ? 4
                            : kind == Kind::kInt16                        ? 2
                            : kind == Kind::kFlag                         ? 1
                                                                          : 0;
  if (fixed > 0) {
    if (!have(fixed)) {
      fail("the binary drawing ends inside the value of the group code " + std::to_string(code) +
           ": it may have been cut short");
      return false;
    }
    const char* raw = buffer_.data() + at_;
    std::to_chars_result written{};
    switch (kind) {
      case Kind::kDouble:
        written = std::to_chars(number, number + sizeof number, little_endian<double>(raw));
        break;
      case Kind::kInt64:
        written = std::to_chars(number, number + sizeof number, little_endian<std::int64_t>(raw));
        break;
      case Kind::kInt32:
        written = std::to_chars(number, number + sizeof number, little_endian<std::int32_t>(raw));
        break;
      case Kind::kInt16:
        written = std::to_chars(number, number + sizeof number, little_endian<std::int16_t>(raw));
        break;
      default:
        written = std::to_chars(number, number + sizeof number, static_cast<unsigned char>(*raw));
        break;
    }
    at_ += fixed;
    value = number;
    size = static_cast<std::size_t>(written.ptr - number);
  } else if (kind == Kind::kChunk) {
    if (!have(1) || !have(1 + static_cast<unsigned char>(buffer_[at_]))) {
      fail("the binary drawing ends inside a chunk of the group code " + std::to_string(code) +
           ": it may have been cut short");
      return false;
    }
    const std::size_t length = static_cast<unsigned char>(buffer_[at_]);
    static constexpr char kHex[] = "0123456789ABCDEF";
    value_.clear();
    for (std::size_t i = 0; i < length; ++i) {
      const auto byte = static_cast<unsigned char>(buffer_[at_ + 1 + i]);
      value_ += kHex[byte >> 4];
      value_ += kHex[byte & 15];
    }
    at_ += 1 + length;
    value = value_.data();
    size = value_.size();
  } else {  // a string, up to its NUL
    std::size_t nul;
    while ((nul = std::string_view(buffer_.data() + at_, end_ - at_).find('\0')) ==
               std::string_view::npos &&
           !ended_) {
      have(end_ - at_ + 1);
    }
    if (nul == std::string_view::npos) {
      fail("the binary drawing ends inside the text of the group code " + std::to_string(code) +
           ": it may have been cut short");
      return false;
    }
    value_.assign(buffer_.data() + at_, nul);
    at_ += nul + 1;
    value = value_.data();
    size = value_.size();
  }
  if (fixed > 0) {
    value_.assign(value, size);  // the number's text outlives this call
    value = value_.data();
  }
  group.code = code;
  group.value = std::string_view(value, size);
  group.line = line();
  ++pairs_;
  return true;
}

DrawingPairs::DrawingPairs(ByteSource& input, bool ahead) : replay_(input) {
  std::string& head = replay_.head;
  head.resize(kBinaryDxf.size());
  std::size_t taken = 0;
  for (ByteSource::Result got{1, 0}; taken < head.size() && got.count > 0 && got.error == 0;
       taken += got.count) {
    got = input.read(head.data() + taken, head.size() - taken);
  }
  head.resize(taken);
  if (head == kBinaryDxf) {
    pairs_ = std::make_unique<BinaryGroupReader>(replay_);
  } else if (ahead) {
    pairs_ = std::make_unique<GroupsAhead>(replay_);
  } else {
    pairs_ = std::make_unique<GroupReader>(replay_);
  }
}

ByteSource::Result DrawingPairs::Replay::read(char* into, std::size_t size) {
  if (given_ == head.size()) return rest_.read(into, size);
  const std::size_t count = std::min(size, head.size() - given_);
  std::memcpy(into, head.data() + given_, count);
  given_ += count;
  return {count, 0};
}

}  // namespace quorvane
