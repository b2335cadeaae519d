// Reads a drawing as a flat stream of whitespace-separated tokens, with the
// results the C library's fscanf gives for "%s", "%d" and "%lf" in the "C"
// locale, but from large blocks and without any allocation per token.
#ifndef QUORVANE_TOKEN_STREAM_H
#define QUORVANE_TOKEN_STREAM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

/// Where the bytes of an input come from: a file, or memory in tests and fuzzing.
class ByteSource {
 public:
  struct Result {
    std::size_t count;  ///< bytes stored; 0 with error 0 means the end
    int error;          ///< errno value of a failed read, or 0
  };
  virtual ~ByteSource() = default;
  /// Stores up to `size` bytes at `into`.
  virtual Result read(char* into, std::size_t size) = 0;
};

/// A file opened in binary mode; the stream closes it when destroyed.
class FileSource : public ByteSource {
 public:
  explicit FileSource(std::FILE* file);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  Result read(char* into, std::size_t size) override;
  std::FILE* file() const { return file_; }

 private:
  std::FILE* file_;
};

/// Bytes held in memory (not copied; they must outlive the source).
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  Result read(char* into, std::size_t size) override;

 private:
  std::string_view bytes_;
};

/// The three conversions of the merge passes over one input.
///
/// - Whitespace is space, tab, newline, carriage return, vertical tab and form feed.
/// - A Ctrl-Z byte (0x1A) ends the input: nothing after it is read.
/// - A conversion consumes the longest run of characters that is, or begins,
///   a number of its kind; on failure its target is left unchanged.
/// - eof() is set whenever a conversion looks past the last byte, as fscanf's
///   end-of-file indicator is.
/// - Tokens have no length limit; the block buffer grows to hold the longest one.
class TokenStream {
 public:
  static constexpr std::size_t kDefaultBlock = 256 * 1024;

  explicit TokenStream(std::unique_ptr<ByteSource> source, std::size_t block = kDefaultBlock);

  /// "%s": skips whitespace and takes the following run of non-whitespace bytes.
  bool read_string(std::string& texte);
  /// "%d": an optional sign and decimal digits; beyond 32 bits the value saturates.
  bool read_int(std::int32_t& val);
  /// "%lf": a decimal real (12, 12.5, .5, 5., -1.2e3), correctly rounded.
  /// Infinities, NaNs and hexadecimal forms are not numbers here. An exponent
  /// marker without digits ("1e", "1e+") is consumed and the value before it kept.
  bool read_real(double& dval);

  bool eof() const { return eof_; }
  /// errno value of a failed read of the source, 0 if none; a failed read ends the stream.
  int error() const { return error_; }
  /// Offset in the input of the next byte to be read.
  std::uint64_t position() const { return origin_ + pos_; }
  /// Size of the block buffer, for the tests of its growth.
  std::size_t buffer_size() const { return buffer_.size(); }

 private:
  bool skip_space();
  int look();
  bool refill();
  bool convert_real(std::size_t length, bool negative, double& dval);

  std::unique_ptr<ByteSource> source_;
  std::vector<char> buffer_;
  std::size_t block_;
  std::size_t pos_ = 0;       // next byte to read
  std::size_t end_ = 0;       // end of the bytes held
  std::size_t mark_ = 0;      // start of the item being read; refill keeps it
  std::uint64_t origin_ = 0;  // offset in the input of buffer_[0]
  bool ended_ = false;        // no more bytes will come
  bool eof_ = false;
  int error_ = 0;
};

}  // namespace quorvane

#endif
