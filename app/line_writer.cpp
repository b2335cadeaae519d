#include "line_writer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace quorvane {

namespace {

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

std::size_t format_unsigned(std::uint64_t v, char* out) {
  char digits[20];
  char* p = digits + sizeof digits;
  while (v >= 100) {
    std::size_t pair = (v % 100) * 2;
    v /= 100;
    *--p = kDigitPairs[pair + 1];
    *--p = kDigitPairs[pair];
  }
  if (v >= 10) {
    *--p = kDigitPairs[v * 2 + 1];
    *--p = kDigitPairs[v * 2];
  } else {
    *--p = static_cast<char>('0' + v);
  }
  std::size_t length = static_cast<std::size_t>(digits + sizeof digits - p);
  std::memcpy(out, p, length);
  return length;
}

// Magnitudes of 2^63 and more: significand times a power of two, multiplied
// out in base 10^9.
std::size_t format_large_magnitude(double magnitude, char* out) {
  int exponent = 0;
  double fraction = std::frexp(magnitude, &exponent);
  auto significand = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
  int shift = exponent - 53;  // at least 11 here
  constexpr std::uint64_t kBase = 1000000000;
  std::vector<std::uint64_t> limbs{significand % kBase, significand / kBase % kBase,
                                   significand / kBase / kBase};
  while (shift > 0) {
    int step = std::min(shift, 29);
    shift -= step;
    std::uint64_t carry = 0;
    for (auto& limb : limbs) {
      std::uint64_t v = (limb << step) + carry;
      limb = v % kBase;
      carry = v / kBase;
    }
    while (carry > 0) {
      limbs.push_back(carry % kBase);
      carry /= kBase;
    }
  }
  while (limbs.size() > 1 && limbs.back() == 0) limbs.pop_back();
  std::size_t length = format_unsigned(limbs.back(), out);
  for (auto it = limbs.rbegin() + 1; it != limbs.rend(); ++it) {
    char nine[20];
    std::size_t n = format_unsigned(*it, nine);
    std::memset(out + length, '0', 9 - n);
    std::memcpy(out + length + 9 - n, nine, n);
    length += 9;
  }
  return length;
}

}  // namespace

std::size_t format_int(std::int64_t v, char* out) {
  if (v >= 0) return format_unsigned(static_cast<std::uint64_t>(v), out);
  out[0] = '-';
  return 1 + format_unsigned(0 - static_cast<std::uint64_t>(v), out + 1);
}

std::size_t format_integral(double x, char* out) {
  constexpr double kTwo63 = 9223372036854775808.0;
  if (std::fabs(x) < kTwo63) return format_int(static_cast<std::int64_t>(x), out);
  std::size_t sign = 0;
  if (x < 0) out[sign++] = '-';
  return sign + format_large_magnitude(std::fabs(x), out + sign);
}

FileSink::FileSink(std::FILE* file) : file_(file) {
  // The writer hands over whole buffers; a second buffer would only copy them.
  std::setvbuf(file_, nullptr, _IONBF, 0);
}

FileSink::~FileSink() {
  if (file_ != nullptr) std::fclose(file_);
}

int FileSink::write(const char* bytes, std::size_t size) {
  errno = 0;
  if (std::fwrite(bytes, 1, size, file_) == size) return 0;
  return errno != 0 ? errno : EIO;
}

int FileSink::close() {
  errno = 0;
  int result = std::fclose(file_);
  file_ = nullptr;
  if (result == 0) return 0;
  return errno != 0 ? errno : EIO;
}

LineWriter::LineWriter(std::unique_ptr<ByteSink> sink, std::size_t capacity)
    : sink_(std::move(sink)), buffer_(std::max<std::size_t>(capacity, kIntegralChars + 2)) {}

void LineWriter::drain() {
  if (used_ > 0 && error_ == 0) error_ = sink_->write(buffer_.data(), used_);
  used_ = 0;
}

void LineWriter::append(const char* bytes, std::size_t size) {
  if (buffer_.size() - used_ < size) {
    drain();
    if (size > buffer_.size()) {  // a token longer than the buffer goes straight through
      if (error_ == 0) error_ = sink_->write(bytes, size);
      return;
    }
  }
  std::memcpy(buffer_.data() + used_, bytes, size);
  used_ += size;
}

inline void LineWriter::end_line() { append("\r\n", 2); }

void LineWriter::text(std::string_view s) {
  append(s.data(), s.size());
  end_line();
}

void LineWriter::number(std::string_view lead, std::int32_t v) {
  char line[32];
  std::memcpy(line, lead.data(), lead.size());
  std::size_t length = lead.size() + format_int(v, line + lead.size());
  line[length++] = '\r';
  line[length++] = '\n';
  append(line, length);
}

void LineWriter::signed_number(std::int32_t v) { number(v >= 0 ? " " : "", v); }

void LineWriter::integral(double x) {
  char line[kIntegralChars + 2];
  std::size_t length = format_integral(x, line);
  line[length++] = '\r';
  line[length++] = '\n';
  append(line, length);
}

int LineWriter::close() {
  if (closed_) return error_;
  closed_ = true;
  drain();
  int closing = sink_->close();
  if (error_ == 0) error_ = closing;
  return error_;
}

}  // namespace quorvane
