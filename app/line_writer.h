// Writes the merged drawing: one line per call, each ended by CR LF, through
// one large buffer. Integers are formatted here, without printf. The first
// failed write is kept; later lines are dropped and the caller reports it.
#ifndef QUORVANE_LINE_WRITER_H
#define QUORVANE_LINE_WRITER_H

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "token_stream.h"

#if defined(__GNUC__)
#define QUORVANE_ALWAYS_INLINE [[gnu::always_inline]] inline
#else
#define QUORVANE_ALWAYS_INLINE inline
#endif

namespace quorvane {

/// Room for any integral double written in full: a sign and 309 digits.
constexpr std::size_t kIntegralChars = 320;

namespace digits {
inline constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";
}

/// Writes v in decimal at out (20 characters at most); returns the number of characters.
inline std::size_t format_unsigned(std::uint64_t v, char* out) {
  // Most values a drawing holds are short: codes, flags and coordinates.
  if (v < 10) {
    out[0] = static_cast<char>('0' + v);
    return 1;
  }
  if (v < 100) {
    std::memcpy(out, digits::kPairs + v * 2, 2);
    return 2;
  }
  std::size_t length = v < 1000 ? 3 : 4;
  for (std::uint64_t rest = v / 10000; rest > 0; rest /= 10) ++length;
  char* p = out + length;
  while (v >= 100) {
    std::size_t pair = (v % 100) * 2;
    v /= 100;
    *--p = digits::kPairs[pair + 1];
    *--p = digits::kPairs[pair];
  }
  if (v >= 10) {
    *--p = digits::kPairs[v * 2 + 1];
    *--p = digits::kPairs[v * 2];
  } else {
    *--p = static_cast<char>('0' + v);
  }
  return length;
}

/// Writes v in decimal at out; returns the number of characters.
inline std::size_t format_int(std::int64_t v, char* out) {
  if (v >= 0) return format_unsigned(static_cast<std::uint64_t>(v), out);
  out[0] = '-';
  return 1 + format_unsigned(0 - static_cast<std::uint64_t>(v), out + 1);
}
/// Writes the exact decimal value of a finite integral double (1e20 gives
/// 100000000000000000000); returns the number of characters. Needs kIntegralChars.
std::size_t format_integral(double x, char* out);

/// Where the merged bytes go: a file, or memory in tests.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  /// Writes all `size` bytes; returns 0 or the errno value of the failure.
  virtual int write(const char* bytes, std::size_t size) = 0;
  /// Ends the output; returns 0 or the errno value of the failure.
  virtual int close() { return 0; }
  /// Puts `bytes` in place of the first `old_size` bytes written, moving the
  /// rest when the sizes differ; returns 0 or the errno value of the failure.
  virtual int replace_front(std::size_t old_size, std::string_view bytes) {
    (void)old_size;
    (void)bytes;
    return ENOTSUP;
  }
  /// Writes the whole of `part`, a file open for reading, after what has been
  /// written; returns 0 or the errno value of the failure.
  virtual int append_file(std::FILE* part) {
    (void)part;
    return ENOTSUP;
  }
};

/// A file written from its start. It may hold older bytes beyond what is
/// written, which close() cuts off; unless it is written `through`, at the
/// position of a descriptor it was given (a file a shell opened to append
/// to), where nothing is cut.
class FileSink : public ByteSink {
 public:
  explicit FileSink(std::FILE* file, bool through = false);
  ~FileSink() override;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;
  int write(const char* bytes, std::size_t size) override;
  int close() override;
  /// Puts `bytes` in place of the first `old_size` bytes written (see ByteSink); the
  /// file must be open for reading too.
  int replace_front(std::size_t old_size, std::string_view bytes) override;
  int append_file(std::FILE* part) override;
  std::FILE* file() const { return file_; }

 private:
  std::FILE* file_;
  bool through_;
  std::int64_t end_ = 0;  // bytes written: the file is cut there when closed
};

class StringSink : public ByteSink {
 public:
  explicit StringSink(std::string& into) : into_(into) {}
  int write(const char* bytes, std::size_t size) override {
    into_.append(bytes, size);
    return 0;
  }
  int replace_front(std::size_t old_size, std::string_view bytes) override {
    into_.replace(0, old_size, bytes);
    return 0;
  }
  int append_file(std::FILE* part) override {
    if (std::fflush(part) != 0 || std::fseek(part, 0, SEEK_SET) != 0) return errno;
    char piece[4096];
    std::size_t n;
    while ((n = std::fread(piece, 1, sizeof piece, part)) > 0) into_.append(piece, n);
    return std::ferror(part) ? EIO : 0;
  }

 private:
  std::string& into_;
};

class LineWriter {
 public:
  static constexpr std::size_t kDefaultCapacity = 256 * 1024;

  /// Makes a writer of lines into `sink`. With `background`, full buffers are written
  /// by a thread of the writer's own while the next one fills; a failure shows at the
  /// next drain or at close.
  explicit LineWriter(std::unique_ptr<ByteSink> sink, std::size_t capacity = kDefaultCapacity,
                      bool background = false);
  ~LineWriter();
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  /// Writes a line as "%s\n" does: the text as it stands.
  void text(std::string_view s);
  void text(const Token& t) {
    if (t.size() <= Token::kInline) {
      char* out = room(Token::kInline + 2);
      std::memcpy(out, t.data(), Token::kInline);  // a short token is held in kInline bytes
      end_line(out + t.size());
    } else {
      text(t.view());
    }
  }
  /// Writes a literal lead (spaces, or nothing) then the integer: "  %d\n" is
  /// number("  ", v).
  template <std::size_t N>
  QUORVANE_ALWAYS_INLINE void number(const char (&lead)[N], std::int32_t v) {
    static_assert(N <= 8, "a lead of a few spaces");
    char* out = room(kShortLine);
    std::memcpy(out, lead, N - 1);
    out += N - 1;
    end_line(out + format_int(v, out));
  }
  /// Writes as number() does a value whose text is at hand, as "%d" writes it:
  /// 16 bytes must be readable from `digits`, `length` of them counting.
  /// With `up`, the last digit is written one more (the caller sees that it is not a 9).
  template <std::size_t N>
  QUORVANE_ALWAYS_INLINE void number_text(const char (&lead)[N], const char* digits,
                                          std::size_t length, bool up = false) {
    static_assert(N <= 8, "a lead of a few spaces");
    char* out = room(kShortLine);
    std::memcpy(out, lead, N - 1);
    out += N - 1;
    std::memcpy(out, digits, 16);
    out[length - 1] = static_cast<char>(out[length - 1] + (up ? 1 : 0));
    end_line(out + length);
  }
  /// Writes a line as "% d\n" does: a space before a value of zero or more, the minus
  /// sign before a negative one.
  QUORVANE_ALWAYS_INLINE void signed_number(std::int32_t v) {
    char* out = room(kShortLine);
    *out = ' ';
    out += v >= 0 ? 1 : 0;
    end_line(out + format_int(v, out));
  }
  /// Writes a converted coordinate or extent as "%d\n" does, exact whatever its size.
  QUORVANE_ALWAYS_INLINE void integral(double x) {
    if (x > -2147483648.0 && x < 2147483648.0) {
      char* out = room(kShortLine);
      end_line(out + format_int(static_cast<std::int32_t>(x), out));
    } else {
      char* out = room(kIntegralChars + 2);
      end_line(out + format_integral(x, out));
    }
  }

  /// Writes out what is held, then puts `bytes` in place of the first
  /// `old_size` bytes of the output; returns 0 or the first errno value.
  int replace_front(std::size_t old_size, std::string_view bytes);
  /// Writes out what is held, then the whole of `part` after it; returns 0 or
  /// the first errno value.
  int append_file(std::FILE* part);
  /// Writes out what is held, the output staying open; returns 0 or the first errno value.
  int flush();
  /// Writes out the buffer and ends the output; returns 0 or the first errno value.
  int close();
  /// Gives 0, or the errno value of the first failed write.
  int error() const { return error_; }

 private:
  static constexpr std::size_t kShortLine = 32;  // a lead, an integer and CR LF

  // Where the next `size` bytes go; the buffer is drained first if they do not fit.
  char* room(std::size_t size) {
    if (buffer_.size() - used_ < size) drain();
    return buffer_.data() + used_;
  }
  void end_line(char* out) {
    out[0] = '\r';
    out[1] = '\n';
    used_ = static_cast<std::size_t>(out + 2 - buffer_.data());
  }
  void drain();
  // Waits until the background writer is idle and takes its failure, if any.
  void settle();

  struct Background;
  std::unique_ptr<ByteSink> sink_;
  std::unique_ptr<Background> background_;  // stopped before the sink goes
  std::vector<char> buffer_;
  std::vector<char> spare_;  // the buffer being written in the background
  std::size_t used_ = 0;
  int error_ = 0;
  bool closed_ = false;
};

}  // namespace quorvane

#endif
