#include "group_reader.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "interrupts.h"
#include "text_encoding.h"

namespace quorvane {

namespace {

constexpr std::size_t kBlock = std::size_t{512} << 10;
// A line longer than this is no DXF any program writes.
constexpr std::size_t kLongestLine = std::size_t{64} << 20;

constexpr std::string_view kBinarySentinel = "AutoCAD Binary DXF";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

constexpr const char* kCarriageReturnsAlone =
    "the lines of this drawing end with a carriage return alone: save it with the line ends of "
    "Windows (CR LF) or of Linux (LF), then convert that";

// Whether a file begins as UTF-16 text does: with its byte order mark, or
// with two characters of ASCII, each beside a NUL byte.
bool utf16_start(std::string_view start) {
  if (start.starts_with("\xFF\xFE") || start.starts_with("\xFE\xFF")) return true;
  if (start.size() < 4) return false;
  auto nul = [&start](std::size_t i) { return start[i] == '\0'; };
  return (!nul(0) && nul(1) && !nul(2) && nul(3)) || (nul(0) && !nul(1) && nul(2) && !nul(3));
}

// Bytes after the end of the bytes at hand that may be read, never used: the
// search for a line feed looks at eight bytes at a time.
constexpr std::size_t kPadding = 8;

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// The first line feed in [at, end), or end. Up to 8 bytes after end are read.
const char* line_feed(const char* at, const char* end) {
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kOnes = 0x0101010101010101, kHighs = 0x8080808080808080;
    for (; at < end; at += 8) {
      std::uint64_t word;
      std::memcpy(&word, at, 8);
      word ^= kOnes * '\n';
      // The lowest high bit set marks the first zero byte, and so the first line feed.
      const std::uint64_t zero = (word - kOnes) & ~word & kHighs;
      if (zero != 0) {
        const char* found = at + std::countr_zero(zero) / 8;
        return found < end ? found : end;
      }
    }
    return end;
  } else {
    const void* found = std::memchr(at, '\n', static_cast<std::size_t>(end - at));
    return found != nullptr ? static_cast<const char*>(found) : end;
  }
}

}  // namespace

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::string in_quotes(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const bool utf8 = valid_utf8(text);
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += static_cast<char>(byte);
    } else if (byte == '\t' || byte == '\r' || byte == '\n') {
      out += byte == '\t' ? "\\t" : byte == '\r' ? "\\r" : "\\n";
    } else if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && !utf8)) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else if (byte == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      // U+0080 to U+009F, the control characters beyond ASCII.
      const auto low = static_cast<unsigned char>(text[++i]);
      out += "\\u00";
      out += kHex[low >> 4];
      out += kHex[low & 0xF];
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out + "\"";
}

std::string printable(std::string_view text) {
  const bool utf8 = valid_utf8(text);
  std::string out;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    out += byte < 0x20 || byte == 0x7F || (byte >= 0x80 && !utf8) ? '?' : c;
  }
  return out;
}

std::string shown(std::string_view value) {
  std::size_t cut = std::min<std::size_t>(value.size(), 40);
  while (cut < value.size() && cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) {
    --cut;  // not inside a character
  }
  if (value.empty()) return "an empty line";
  std::string text = in_quotes(value.substr(0, cut));
  if (cut < value.size()) text += "...";
  return text;
}

std::string shown_word(std::string_view word) {
  bool plain = !word.empty() && word.size() <= 40;
  for (const char c : word)
    plain = plain && ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_');
  return plain ? std::string(word) : shown(word);
}

GroupReader::GroupReader(ByteSource& source, Buffers* buffers)
    : source_(source), buffers_(buffers), buffer_(&own_) {
  if (buffers_ == nullptr) own_.resize(kBlock + kPadding);
  at_ = end_ = own_.data();
}

ByteSource::Result FileReader::read(char* into, std::size_t size) {
  errno = 0;
  const std::size_t count = std::fread(into, 1, size, file_);
  if (count == 0 && std::ferror(file_)) return {0, errno != 0 ? errno : EIO};
  return {count, 0};
}

void GroupReader::fail(std::uint64_t line, std::string what) {
  if (!fault_ && error_ == 0) fault_ = Fault{line, std::move(what)};
}

bool GroupReader::refill() {
  if (ended_ || error_ != 0) return false;
  const auto kept = static_cast<std::size_t>(end_ - at_);
  const std::size_t room = buffer_->size() < kPadding ? 0 : buffer_->size() - kPadding;
  std::size_t wanted = std::max(room, kBlock);
  if (kept == room && room != 0) {
    if (room >= kLongestLine) {
      // A first line that long, with carriage returns in it: the lines end with CR alone.
      if (line_ == 0 && std::memchr(at_, '\r', kept) != nullptr) {
        fail(1, kCarriageReturnsAlone);
      } else {
        fail(line_ + 1, "a line longer than " + std::to_string(kLongestLine >> 20) +
                            " MiB: this is not a DXF drawing");
      }
      return false;
    }
    wanted = room * 2;
  }
  if (buffers_ != nullptr) {
    // A buffer of its own for what comes: the one before is left as it is.
    std::vector<char>* fresh = buffers_->fresh();
    if (fresh == nullptr) {  // the reading stops: what is left of a line is not a line
      at_ = end_;
      ended_ = true;
      return false;
    }
    if (fresh->size() < wanted + kPadding) {
      fresh->resize(wanted + kPadding);
    } else if (fresh->size() > 4 * (wanted + kPadding)) {
      std::vector<char>(wanted + kPadding).swap(*fresh);  // grown for a long line once
    }
    if (kept != 0) std::memcpy(fresh->data(), at_, kept);
    buffer_ = fresh;
  } else if (wanted != room) {
    std::vector<char> larger(wanted + kPadding);
    std::memcpy(larger.data(), at_, kept);
    own_.swap(larger);
  } else if (kept != 0) {
    std::memmove(own_.data(), at_, kept);
  }
  at_ = buffer_->data();
  end_ = at_ + kept;
  const ByteSource::Result got =
      source_.read(buffer_->data() + kept, buffer_->size() - kPadding - kept);
  if (got.error != 0) {
    error_ = got.error;
    return false;
  }
  if (got.count == 0) {
    ended_ = true;
    return false;
  }
  end_ += got.count;
  return true;
}

std::string_view GroupReader::next_line() {
  std::string_view text;
  for (;;) {
    const char* stop = line_feed(at_, end_);
    if (stop != end_) {
      text = std::string_view(at_, static_cast<std::size_t>(stop - at_));
      at_ = stop + 1;
      break;
    }
    if (refill()) continue;
    if (error_ != 0 || fault_ || at_ == end_) return {};
    text = std::string_view(at_, static_cast<std::size_t>(end_ - at_));  // the last line, unended
    at_ = end_;
    break;
  }
  // CR LF, and CR CR LF too: a file given the line ends of Windows twice.
  while (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  ++line_;
  return text.data() != nullptr ? text : std::string_view(at_, 0);
}

bool GroupReader::next(Group& group) {
  if (fault_ || error_ != 0) return false;
  if (first_) {
    first_ = false;
    while (static_cast<std::size_t>(end_ - at_) < kBinarySentinel.size() + kByteOrderMark.size() &&
           refill()) {
    }
    const std::string_view start(at_, static_cast<std::size_t>(end_ - at_));
    if (start.starts_with(kBinarySentinel)) {
      fail(1, "this is a binary DXF drawing: save it as ASCII DXF, then convert that");
      return false;
    }
    if (utf16_start(start)) {
      fail(1,
           "this drawing is saved as UTF-16 text (\"Unicode\"): save it again as DXF from the CAD "
           "program, or as ANSI or UTF-8 in a text editor (Save As, Encoding), then convert that");
      return false;
    }
    if (start.starts_with(kByteOrderMark)) at_ += kByteOrderMark.size();
  }
  const std::string_view code_line = next_line();
  if (code_line.data() == nullptr) return false;
  const std::uint64_t line = line_;
  const std::string_view code = trimmed(code_line);
  std::int32_t value = 0;
  bool whole = !code.empty() && code.size() <= 4;
  for (std::size_t i = 0; whole && i < code.size(); ++i) {  // the usual: a few digits
    whole = code[i] >= '0' && code[i] <= '9';
    value = value * 10 + (code[i] - '0');
  }
  if (!whole && !code.empty()) {
    const char* first = code.data() + (code.front() == '+' ? 1 : 0);
    const auto [end, error] = std::from_chars(first, code.data() + code.size(), value);
    whole = error == std::errc{} && end == code.data() + code.size();
  }
  if (!whole) {
    if (code.empty()) {  // blank lines at the end of a drawing are no pair
      std::string_view rest;
      bool more = false;
      while (!more && (rest = next_line()).data() != nullptr) more = !trimmed(rest).empty();
      if (!more) return false;
    }
    if (line == 1 && code_line.find('\r') != std::string_view::npos) {
      fail(line, kCarriageReturnsAlone);
    } else {
      fail(line, line == 1
                     ? "this is not a DXF drawing: its first line is not a group code, found " +
                           shown(code_line)
                     : "expected a group code, found " + shown(code_line));
    }
    return false;
  }
  const std::string_view text = next_line();
  if (text.data() == nullptr) {
    if (error_ == 0) {
      fail(line + 1, "the drawing ends after the group code " + std::to_string(value) +
                         ", without its value");
    }
    return false;
  }
  group.code = value;
  group.value = text;
  group.line = line;
  return true;
}

// A buffer of the reading, and the pairs whose values lie in it.
struct GroupsAhead::Batch {
  struct Pair {
    std::int32_t code;
    std::uint32_t size;
    std::uint32_t offset;  // of the value in bytes; each pair takes two lines
  };
  alignas(64) std::vector<char> bytes;
  std::vector<Pair> pairs;
  std::uint64_t first_line = 0;  // of the first pair's code
  bool last = false;             // the reading ends after it; then:
  Fault fault;
  int error = 0;
  std::uint64_t end_line = 1;
};

// What both sides touch, under the lock: the batches ready to be taken, and
// those free to be filled. Three go round: one filled, one taken, one
// waiting between.
struct GroupsAhead::Shared : GroupReader::Buffers {
  static constexpr std::size_t kBatches = 3;
  explicit Shared(ByteSource& source) : reader(source, this) {}

  // The reader asks for a fresh buffer: the batch being filled is ready.
  std::vector<char>* fresh() override {
    std::unique_lock<std::mutex> hold(lock);
    if (filling != nullptr) ready.push_back(filling);
    changed.notify_all();
    changed.wait(hold, [this] { return stopped || !free.empty(); });
    if (stopped) {
      filling = nullptr;
      return nullptr;
    }
    filling = free.front();
    free.pop_front();
    filling->pairs.clear();
    // Room for the pairs of a block, most of which take eight bytes or more,
    // made once: each batch keeps its memory from round to round.
    filling->pairs.reserve(kBlock / 8);
    return &filling->bytes;
  }

  alignas(64) GroupReader reader;  // only the reading side touches it and `filling`
  Batch* filling = nullptr;
  alignas(64) std::mutex lock;
  std::condition_variable changed;
  std::deque<Batch*> ready, free;
  bool stopped = false;
  Batch batches[kBatches];
  std::thread thread;
};

GroupsAhead::GroupsAhead(ByteSource& source) : shared_(std::make_unique<Shared>(source)) {
  for (Batch& batch : shared_->batches) shared_->free.push_back(&batch);
  shared_->thread = quiet_thread([this] { read_ahead(); });
}

GroupsAhead::~GroupsAhead() {
  {
    std::lock_guard<std::mutex> hold(shared_->lock);
    shared_->stopped = true;
  }
  shared_->changed.notify_all();
  shared_->thread.join();
}

void GroupsAhead::read_ahead() {
  Shared& s = *shared_;
  GroupReader& reader = s.reader;
  Group group;
  while (reader.next(group)) {
    Batch& batch = *s.filling;
    if (batch.pairs.empty()) batch.first_line = group.line;
    batch.pairs.push_back({group.code, static_cast<std::uint32_t>(group.value.size()),
                           static_cast<std::uint32_t>(group.value.data() - batch.bytes.data())});
  }
  std::lock_guard<std::mutex> hold(s.lock);
  if (s.stopped) return;
  // The last batch, possibly with no pair at all.
  if (s.filling == nullptr) {
    s.filling = s.free.front();
    s.free.pop_front();
    s.filling->pairs.clear();
  }
  s.filling->last = true;
  s.filling->fault = reader.fault();
  s.filling->error = reader.error();
  s.filling->end_line = reader.line();
  s.ready.push_back(s.filling);
  s.filling = nullptr;
  s.changed.notify_all();
}

bool GroupsAhead::next(Group& group) {
  Shared& s = *shared_;
  while (current_ == nullptr || taken_ == current_->pairs.size()) {
    if (current_ != nullptr && current_->last) {
      fault_ = current_->fault;
      error_ = current_->error;
      line_ = current_->end_line;
      return false;
    }
    std::unique_lock<std::mutex> hold(s.lock);
    if (current_ != nullptr) {
      s.free.push_back(current_);
      current_ = nullptr;
      s.changed.notify_all();
    }
    s.changed.wait(hold, [&s] { return !s.ready.empty(); });
    current_ = s.ready.front();
    s.ready.pop_front();
    taken_ = 0;
  }
  const Batch::Pair& pair = current_->pairs[taken_];
  group.code = pair.code;
  group.value = std::string_view(current_->bytes.data() + pair.offset, pair.size);
  group.line = current_->first_line + 2 * taken_++;
  line_ = group.line + 2;
  return true;
}

}  // namespace quorvane
