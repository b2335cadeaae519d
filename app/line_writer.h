// Writes the merged drawing: one line per call, each ended by CR LF, through
// one large buffer. Integers are formatted here, without printf. The first
// failed write is kept; later lines are dropped and the caller reports it.
#ifndef QUORVANE_LINE_WRITER_H
#define QUORVANE_LINE_WRITER_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

/// Room for any integral double written in full: a sign and 309 digits.
constexpr std::size_t kIntegralChars = 320;

/// Writes v in decimal at out; returns the number of characters.
std::size_t format_int(std::int64_t v, char* out);
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
};

class FileSink : public ByteSink {
 public:
  explicit FileSink(std::FILE* file);
  ~FileSink() override;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;
  int write(const char* bytes, std::size_t size) override;
  int close() override;

 private:
  std::FILE* file_;
};

class StringSink : public ByteSink {
 public:
  explicit StringSink(std::string& into) : into_(into) {}
  int write(const char* bytes, std::size_t size) override {
    into_.append(bytes, size);
    return 0;
  }

 private:
  std::string& into_;
};

class LineWriter {
 public:
  static constexpr std::size_t kDefaultCapacity = 256 * 1024;

  explicit LineWriter(std::unique_ptr<ByteSink> sink, std::size_t capacity = kDefaultCapacity);

  /// "%s\n": the text as it stands.
  void text(std::string_view s);
  /// A literal lead (spaces, or nothing) then the integer: "  %d\n" is number("  ", v).
  void number(std::string_view lead, std::int32_t v);
  /// "% d\n": a space before a value of zero or more, the minus sign before a negative one.
  void signed_number(std::int32_t v);
  /// "%d\n" for a converted coordinate or extent, exact whatever its size.
  void integral(double x);

  /// Writes out the buffer and ends the output; returns 0 or the first errno value.
  int close();
  /// 0, or the errno value of the first failed write.
  int error() const { return error_; }

 private:
  void append(const char* bytes, std::size_t size);
  void end_line();
  void drain();

  std::unique_ptr<ByteSink> sink_;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
  int error_ = 0;
  bool closed_ = false;
};

}  // namespace quorvane

#endif
