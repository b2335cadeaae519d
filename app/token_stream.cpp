#include "token_stream.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace quorvane {

namespace {

constexpr char kCtrlZ = 0x1A;

using token_chars::is_space;
inline bool is_digit(int c) { return c >= '0' && c <= '9'; }

}  // namespace

FileSource::FileSource(std::FILE* file) : file_(file) {
  // The stream reads whole blocks itself; a second buffer would only copy them.
  std::setvbuf(file_, nullptr, _IONBF, 0);
}

FileSource::~FileSource() { std::fclose(file_); }

ByteSource::Result FileSource::read(char* into, std::size_t size) {
  errno = 0;
  std::size_t count = std::fread(into, 1, size, file_);
  if (count == 0 && std::ferror(file_)) return {0, errno != 0 ? errno : EIO};
  return {count, 0};
}

ByteSource::Result MemorySource::read(char* into, std::size_t size) {
  std::size_t count = std::min(size, bytes_.size());
  std::memcpy(into, bytes_.data(), count);
  bytes_.remove_prefix(count);
  return {count, 0};
}

TokenStream::TokenStream(std::unique_ptr<ByteSource> source, std::size_t block)
    : source_(std::move(source)),
      block_(std::max<std::size_t>(block, 1)),
      buffer_(block_ + kSlack),
      spaces_(buffer_.size() / 64 + 1) {}

// Whitespace bits for the bytes from `from` (rounded down to a word) to end_.
void TokenStream::index_spaces(std::size_t from) {
  for (std::size_t word = from >> 6; word * 64 < end_; ++word) {
    spaces_[word] = token_chars::space_mask(buffer_.data() + word * 64);
  }
}

// Brings more bytes in after end_, keeping those from mark_ on (moved to the
// front). Returns false when nothing more can come.
bool TokenStream::refill() {
  if (ended_) return false;
  std::size_t index_from = end_;
  if (mark_ > 0) {
    index_from = 0;
    std::memmove(buffer_.data(), buffer_.data() + mark_, end_ - mark_);
    origin_ += mark_;
    pos_ -= mark_;
    end_ -= mark_;
    mark_ = 0;
    buffer_[end_] = '\0';
  }
  // An item longer than half a block makes the buffer grow, so that reads stay large.
  // Past the capacity lie kSlack bytes that short tokens may be copied from.
  std::size_t capacity = buffer_.size() - kSlack;
  if (capacity - end_ < std::max<std::size_t>(block_ / 2, 1)) {
    capacity = std::max(capacity * 2, end_ + block_);
    buffer_.resize(capacity + kSlack);
    spaces_.resize(buffer_.size() / 64 + 1);
  }
  ByteSource::Result got = source_->read(buffer_.data() + end_, capacity - end_);
  if (got.error != 0) {
    error_ = got.error;
    got.count = 0;
  }
  const char* fresh = buffer_.data() + end_;
  if (const void* stop = std::memchr(fresh, kCtrlZ, got.count)) {
    got.count = static_cast<std::size_t>(static_cast<const char*>(stop) - fresh);
    ended_ = true;
  }
  if (got.count == 0) ended_ = true;
  end_ += got.count;
  buffer_[end_] = '\0';  // ends every number that the inline paths read
  index_spaces(index_from);
  return got.count > 0;
}

// The next byte, left in place, or -1 at the end of the input (which sets eof).
inline int TokenStream::look() {
  if (pos_ < end_ || refill()) return static_cast<unsigned char>(buffer_[pos_]);
  if (error_ == 0) eof_ = true;
  return -1;
}

bool TokenStream::skip_space() {
  for (;;) {
    const char* data = buffer_.data();
    std::size_t p = pos_;
    while (p < end_ && is_space(data[p])) ++p;
    pos_ = mark_ = p;
    if (p < end_) return true;
    if (!refill()) {
      if (error_ == 0) eof_ = true;
      return false;
    }
  }
}

bool TokenStream::next_token_slow(const char*& first, const char*& last) {
  if (!skip_space()) return false;
  for (;;) {
    const char* data = buffer_.data();
    std::size_t p = pos_;
    while (p < end_ && !is_space(data[p])) ++p;
    pos_ = p;
    if (p < end_) break;
    if (!refill()) {
      if (error_ == 0) eof_ = true;
      break;
    }
  }
  first = buffer_.data() + mark_;
  last = buffer_.data() + pos_;
  return true;
}

bool TokenStream::read_int_slow(std::int32_t& val) {
  if (!skip_space()) return false;
  int c = look();
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    ++pos_;
    c = look();
  }
  if (!is_digit(c)) return false;  // a lone sign stays consumed
  constexpr std::uint64_t kBeyond = std::uint64_t{1} << 31;
  std::uint64_t magnitude = 0;
  do {
    if (magnitude <= kBeyond) magnitude = magnitude * 10 + static_cast<unsigned>(c - '0');
    ++pos_;
    c = look();
  } while (is_digit(c));
  if (negative) {
    val = magnitude >= kBeyond ? std::numeric_limits<std::int32_t>::min()
                               : -static_cast<std::int32_t>(magnitude);
  } else {
    val = magnitude >= kBeyond ? std::numeric_limits<std::int32_t>::max()
                               : static_cast<std::int32_t>(magnitude);
  }
  return true;
}

bool TokenStream::read_real_slow(double& dval) {
  if (!skip_space()) return false;
  // Offsets are kept from mark_, which stays at the start of the item when the buffer moves.
  int c = look();
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    ++pos_;
    c = look();
  }
  std::size_t digits = 0;
  while (is_digit(c)) {
    ++digits;
    ++pos_;
    c = look();
  }
  if (c == '.') {
    ++pos_;
    c = look();
    while (is_digit(c)) {
      ++digits;
      ++pos_;
      c = look();
    }
  }
  if (digits == 0) return false;  // "-", ".", "-." stay consumed
  std::size_t number_end = pos_ - mark_;
  if (c == 'e' || c == 'E') {
    ++pos_;
    c = look();
    if (c == '+' || c == '-') {
      ++pos_;
      c = look();
    }
    bool exponent_digits = false;
    while (is_digit(c)) {
      exponent_digits = true;
      ++pos_;
      c = look();
    }
    if (exponent_digits) number_end = pos_ - mark_;
  }
  const char* first = buffer_.data() + mark_ + (buffer_[mark_] == '+' || negative ? 1 : 0);
  dval = convert_real(first, buffer_.data() + mark_ + number_end, negative);
  return true;
}

double TokenStream::convert_real(const char* first, const char* last, bool negative) {
  double value = 0;
  auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
  if (ec != std::errc() || ptr != last) {
    // Overflow and underflow: the C library's answers (infinity, zero or the nearest denormal).
    std::string copy(first, last);
    value = std::strtod(copy.c_str(), nullptr);
  }
  return negative ? -value : value;
}

}  // namespace quorvane
