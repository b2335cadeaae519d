#include "token_stream.h"

#include <algorithm>
#include <bit>
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
      buffer_(block_ + kSlack) {}

namespace {

// Writes the positions of the bits of `bits` from `base`; returns how many.
inline std::size_t extract(std::uint64_t bits, std::uint32_t base, std::uint32_t* out) {
  std::size_t count = 0;
  for (; bits != 0; bits &= bits - 1) {
    out[count++] = base + static_cast<std::uint32_t>(std::countr_zero(bits));
  }
  return count;
}

}  // namespace

// The tokens of [0, end_) that end before end_. A token touching end_ may go
// on in the next block and is left to the general paths.
void TokenStream::index_tokens() {
  tokens_ = 0;
  cursor_ = 0;
  if (buffer_.size() > std::numeric_limits<std::uint32_t>::max()) return;
  std::size_t words = (end_ + 63) / 64;
  // A token and the whitespace after it take two bytes at least.
  if (starts_.size() < end_ / 2 + 2) {
    starts_.resize(end_ / 2 + 2);
    ends_.resize(end_ / 2 + 2);
  }
  std::uint32_t* starts = starts_.data();
  std::uint32_t* ends = ends_.data();
  std::size_t opened = 0, closed = 0;
  std::uint64_t before_is_space = 1;  // what comes before the buffer counts as whitespace
  for (std::size_t word = 0; word < words; ++word) {
    std::uint64_t space = token_chars::space_mask(buffer_.data() + word * 64);
    std::size_t held = end_ - word * 64;
    if (held < 64) space &= (std::uint64_t{1} << held) - 1;  // nothing after end_ ends a token
    std::uint64_t shifted = space << 1 | before_is_space;
    std::uint64_t begin = ~space & shifted;
    std::uint64_t finish = space & ~shifted;
    if (held < 64) begin &= (std::uint64_t{1} << held) - 1;
    before_is_space = space >> 63;
    auto base = static_cast<std::uint32_t>(word * 64);
    opened += extract(begin, base, starts + opened);
    closed += extract(finish, base, ends + closed);
  }
  tokens_ = closed;
  mend_cursor();
}

// After a general path has moved pos_: the first token that ends after it.
void TokenStream::mend_cursor() {
  cursor_ = static_cast<std::size_t>(std::upper_bound(ends_.data(), ends_.data() + tokens_, pos_) -
                                     ends_.data());
}

// Brings more bytes in after end_, keeping those from mark_ on (moved to the
// front). Returns false when nothing more can come.
bool TokenStream::refill() {
  if (ended_) return false;
  if (mark_ > 0) {
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
  index_tokens();
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

bool TokenStream::next_token_general(const char*& first, const char*& last) {
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

bool TokenStream::read_int_general(std::int32_t& val) {
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

bool TokenStream::read_real_general(double& dval) {
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

bool TokenStream::next_token_slow(const char*& first, const char*& last) {
  bool ok = next_token_general(first, last);
  mend_cursor();
  return ok;
}

bool TokenStream::read_int_slow(std::int32_t& val) {
  bool ok = read_int_general(val);
  mend_cursor();
  return ok;
}

bool TokenStream::read_real_slow(double& dval) {
  bool ok = read_real_general(dval);
  mend_cursor();
  return ok;
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
