// Reads a drawing as a flat stream of whitespace-separated tokens, with the
// results the C library's fscanf gives for "%s", "%d" and "%lf" in the "C"
// locale, but from large blocks and without any allocation per token.
#ifndef QUORVANE_TOKEN_STREAM_H
#define QUORVANE_TOKEN_STREAM_H

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

/// Tells whether `token` is a decimal integer within 32 bits, a sign and leading
/// zeros allowed, and nothing else; its value in `value`.
bool whole_integer(std::string_view token, std::int32_t& value);

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
  /// Gives all of the input, when it lies in memory already, followed by at least
  /// 64 readable bytes; empty when it must be read.
  virtual std::string_view whole() { return {}; }
  /// Lets go of the bytes before `offset` of an input that lies in memory: they
  /// will not be looked at again, or hardly ever.
  virtual void let_go(std::uint64_t offset) { (void)offset; }
};

/// A file opened in binary mode; the stream closes it when destroyed.
///
/// Where the system allows it, a regular file is mapped into memory rather
/// than read: no copy of its bytes is made, and the pages behind the reading
/// are let go. Another program cutting the file short while it is mapped makes
/// a read of the lost bytes fault (SIGBUS); `fault_note` is what the signal
/// handler finds for the file's addresses through mapped_input_note.
class FileSource : public ByteSource {
 public:
  explicit FileSource(std::FILE* file, std::string fault_note = {});
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  Result read(char* into, std::size_t size) override;
  std::string_view whole() override { return {map_, size_}; }
  void let_go(std::uint64_t offset) override;
  std::FILE* file() const { return file_; }

 private:
  void map();

  std::FILE* file_;
  std::string fault_note_;
  char* map_ = nullptr;       // the mapped file, or null
  std::size_t size_ = 0;      // its size
  std::size_t reserved_ = 0;  // the mapping, with the zero pages after the file
  std::uint64_t let_go_ = 0;  // pages before this offset have been let go
};

/// Finds the fault note of the mapped input that holds `address`, or null. Safe to
/// call from a signal handler.
const char* mapped_input_note(const void* address);

/// Bytes held in memory (not copied; they must outlive the source).
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  Result read(char* into, std::size_t size) override;

 private:
  std::string_view bytes_;
};

/// A token as the merge passes hold it: up to kInline bytes kept in place and
/// copied as one fixed-size block, longer ones on the heap.
class Token {
 public:
  static constexpr std::size_t kInline = 32;

  Token() = default;
  /// Copies [first, last). When it is short, kInline bytes are read from
  /// first: the caller guarantees that they are readable.
  void assign_padded(const char* first, const char* last) {
    std::size_t n = static_cast<std::size_t>(last - first);
    if (n <= kInline) {
      std::memcpy(inline_, first, kInline);
      size_ = n;
    } else {
      assign(first, last);
    }
  }
  void assign(const char* first, const char* last) {
    std::size_t n = static_cast<std::size_t>(last - first);
    if (n <= kInline) {
      std::memcpy(inline_, first, n);
    } else {
      long_.assign(first, last);
    }
    size_ = n;
  }
  const char* data() const { return size_ <= kInline ? inline_ : long_.data(); }
  std::size_t size() const { return size_; }
  std::string_view view() const { return {data(), size_}; }
  bool operator==(std::string_view s) const { return view() == s; }

 private:
  char inline_[kInline] = {};  // the token when it is short; long_ is then not looked at
  std::size_t size_ = 0;
  std::string long_;
};

/// The three conversions of the merge passes over one input.
///
/// - Whitespace is space, tab, newline, carriage return, vertical tab and form feed.
/// - A Ctrl-Z byte (0x1A) ends the input: nothing after it is read. So does a
///   NUL byte, which no DXF text holds (a binary or UTF-16 file does);
///   stopped_at_nul() then tells the passes, which refuse such a drawing.
/// - A conversion consumes the longest run of characters that is, or begins,
///   a number of its kind; on failure its target is left unchanged.
/// - eof() is set whenever a conversion looks past the last byte, as fscanf's
///   end-of-file indicator is.
/// - Tokens have no length limit; the block buffer grows to hold the longest one.
class TokenStream {
 public:
  static constexpr std::size_t kDefaultBlock = 256 * 1024;

  /// Reads the tokens of `source` a block at a time. With `prefetch`, a thread of
  /// the stream's own reads the blocks ahead and indexes their tokens while the
  /// current one is being read.
  explicit TokenStream(std::unique_ptr<ByteSource> source, std::size_t block = kDefaultBlock,
                       bool prefetch = false);
  ~TokenStream();
  TokenStream(const TokenStream&) = delete;
  TokenStream& operator=(const TokenStream&) = delete;

  /// Reads as "%s" does: skips whitespace and takes the following run of
  /// non-whitespace bytes.
  bool read_string(Token& texte) {
    const char *first, *last;
    if (!next_token(first, last)) return false;
    texte.assign_padded(first, last);  // the buffer has kSlack bytes after its end
    return true;
  }
  /// Reads as "%s" does a token that is only looked at: it stays where it lies,
  /// and the view holds until the next read.
  bool read_view(std::string_view& token) {
    const char *first, *last;
    if (!next_token(first, last)) return false;
    token = std::string_view(first, static_cast<std::size_t>(last - first));
    return true;
  }
  bool read_string(std::string& texte) {
    const char *first, *last;
    if (!next_token(first, last)) return false;
    texte.assign(first, last);
    return true;
  }
  /// Reads as "%d" does: an optional sign and decimal digits; beyond 32 bits the
  /// value saturates.
  bool read_int(std::int32_t& val);
  /// Reads as read_int does a token that is a plain integer, read whole: up to 9 digits,
  /// without a sign or a leading zero, so that its text is the one "%d"
  /// writes. Gives its digits where they lie, 16 bytes of them readable;
  /// anything else is left unread, and false returned.
  [[gnu::always_inline]] bool read_plain_int(std::int32_t& val, const char*& digits,
                                             std::size_t& length) {
    std::size_t k = cursor_;
    if (k >= tokens_) return false;
    const std::size_t start = start_of(k);
    if (pos_ > start) return false;  // a read before stopped inside it
    const char* p = data_ + start;
    const std::size_t n = end_of(k) - start;
    if (n > 9 || (p[0] == '0' && n > 1)) return false;
    std::uint32_t magnitude = 0;
    for (std::size_t i = 0; i < n; ++i) {
      auto digit = static_cast<unsigned>(static_cast<unsigned char>(p[i]) - '0');
      if (digit > 9) return false;
      magnitude = magnitude * 10 + digit;
    }
    val = static_cast<std::int32_t>(magnitude);
    digits = p;
    length = n;
    pos_ = start + n;
    cursor_ = k + 1;
    return true;
  }
  /// Reads as "%lf" does: a decimal real (12, 12.5, .5, 5., -1.2e3), correctly rounded.
  /// Infinities, NaNs and hexadecimal forms are not numbers here. An exponent
  /// marker without digits ("1e", "1e+") is consumed and the value before it kept.
  bool read_real(double& dval) { return scan_real<true, false, false>(dval); }
  /// Reads as read_real does a coordinate about to be rounded half up, which must be
  /// its token whole and a decimal number to the end (false otherwise). When the text
  /// read tells the rounded value without the double (up to 15 digits, no
  /// exponent, an integer part written without leading zeros), `text` and
  /// `length` give the sign and digits of the integer part where they lie,
  /// 16 bytes readable, and `up` whether the rounded value is one further from
  /// zero (its last digit one more); otherwise `text` is null.
  [[gnu::always_inline]] bool read_coordinate(double& dval, const char*& text, std::size_t& length,
                                              bool& up) {
    text = nullptr;
    return scan_real<true, true, true>(dval, &text, &length, &up);
  }
  /// Skips a value nobody looks at: the same bytes as read_real consumed, no conversion.
  [[gnu::always_inline]] bool skip_real() {
    double unused;
    return scan_real<false, false, false>(unused);
  }

  /// Tells whether the last read took its token whole: what follows is
  /// whitespace, or the end of the input.
  bool took_whole() const;
  /// Tells whether an integer read since clear_overflow() went beyond 32 bits
  /// (its value saturated).
  bool overflowed() const { return overflowed_; }
  void clear_overflow() { overflowed_ = false; }
  /// Finds where the first token at or after `offset` begins, `offset` being one
  /// the last read started from; kNoToken when the input ends first.
  std::uint64_t token_after(std::uint64_t offset) const;
  static constexpr std::uint64_t kNoToken = ~std::uint64_t{0};
  /// Gives the line (from 1, counted by line feeds) of `offset`, the start of a
  /// token the last read took or of one held.
  std::uint64_t line_of(std::uint64_t offset) const;
  /// Gives the token that begins at `offset`, as line_of() allows it.
  std::string_view text_at(std::uint64_t offset) const;
  /// Keeps the line of `offset` (one the last read began at) until
  /// release(), so that line_of() may still tell it once the reads have gone
  /// on: it is counted before the bytes there go, and they go as any others.
  void hold(std::uint64_t offset) {
    held_from_ = offset;
    held_line_ = 0;
    holding_ = true;
  }
  void release() { holding_ = false; }
  /// Gives, once the input has ended, the line after its last line feed.
  std::uint64_t end_line() const { return lines_in_input_ + 1; }

  /// Tells whether a NUL byte has ended the input (before any Ctrl-Z).
  bool stopped_at_nul() const { return stopped_at_nul_; }
  /// Tells whether a Ctrl-Z has ended the input, with more than blanks after it
  /// (Ctrl-Z and NUL bytes count as blanks there): the passes would lose it.
  bool text_after_stop() const { return text_after_stop_; }
  /// Tells whether the input begins with `bytes`; before any read.
  bool begins_with(std::string_view bytes);
  /// Shows `see` the tokens after the last one read, one at a time, without
  /// reading them, until it returns false or the input ends; the reads go on
  /// from where they were. The bytes looked at stay in memory meanwhile; a
  /// view holds until `see` returns. With `within`, nothing is looked at
  /// beyond so many bytes: false when a token would have been.
  template <class See>
  bool look_ahead(See see, std::uint64_t within = ~std::uint64_t{0}) {
    keeping_ = true;
    std::uint64_t at = position();
    const std::uint64_t until = within > ~at ? ~std::uint64_t{0} : at + within;
    std::string_view token;
    Held found;
    while ((found = next_held(at, until, token)) == Held::kToken && see(token)) {
    }
    keeping_ = false;
    return found != Held::kBeyond;
  }
  bool eof() const { return eof_; }
  /// Gives the errno value of a failed read of the source, 0 if none; a failed read
  /// ends the stream.
  int error() const { return error_; }
  /// Gives the offset in the input of the next byte to be read.
  std::uint64_t position() const { return origin_ + pos_; }
  /// Gives the size of the buffer, for the tests of its growth.
  std::size_t buffer_size() const { return in_place_ ? 0 : buffer_.size() - kSlack; }
  /// Makes a stream made without `prefetch` read ahead after all; nothing
  /// changes once a read has been made.
  void read_ahead();
  /// Sets whether streams made from now on may index with 32-byte vectors where
  /// the processor has them (they do unless told otherwise): for the tests
  /// that hold both ways against each other.
  static void allow_wide_index(bool allowed);
  /// Tells whether the input is read where it lies in memory, without a copy.
  bool in_place() const { return in_place_; }
  /// Ends the stream at its next block, from any thread, as if the input
  /// ended there. A pass of a run that has failed stops so, within a block.
  void stop() { stop_.store(true, std::memory_order_relaxed); }

 private:
  // The inline paths take an item from the index of the tokens of the last
  // block read that lie whole in it, each followed by a whitespace byte:
  // token k runs from base_ + starts_[k] to base_ + ends_[k] in the buffer,
  // and cursor_ is the first token that ends after pos_. Anything else (a
  // token cut by the end of a block, the end of the input, a long number)
  // goes to the general paths, which start again from pos_ and mend the cursor.
  // Bytes after the capacity: room for a short token's fixed-size copy and
  // for the whitespace mask of the last 64 bytes.
  static constexpr std::size_t kSlack = 64;
  static_assert(kSlack >= Token::kInline);
  std::size_t start_of(std::size_t k) const { return base_ + starts_[k]; }
  std::size_t end_of(std::size_t k) const { return base_ + ends_[k]; }
  void follow(std::size_t k) { cursor_ = pos_ >= end_of(k) ? k + 1 : k; }
  // Where a read of token k begins: its start, or pos_ when a read before stopped inside it.
  const char* item_at(std::size_t k) const { return data_ + std::max(pos_, start_of(k)); }
  void mend_cursor();
  bool next_token(const char*& first, const char*& last);
  bool next_token_slow(const char*& first, const char*& last);
  bool read_int_slow(std::int32_t& val);
  bool read_real_slow(double& dval);
  bool next_token_general(const char*& first, const char*& last);
  bool read_int_general(std::int32_t& val);
  bool read_real_general(double& dval);
  bool read_whole_real_slow(double& dval);
  template <bool kConvert, bool kRounding, bool kWhole>
  [[gnu::always_inline]] bool scan_real(double& dval, const char** text = nullptr,
                                        std::size_t* length = nullptr, bool* up = nullptr);
  bool skip_space();
  int look();
  bool refill();
  struct Block;
  void take_index(const Block& block);
  // The token after offset `at` in the input, bringing in more bytes as
  // needed (keeping_ keeps those from pos_); `at` moves past it. kEnd at the
  // end of the input, kBeyond where `until` comes before the token ends.
  enum class Held { kToken, kEnd, kBeyond };
  Held next_held(std::uint64_t& at, std::uint64_t until, std::string_view& token);
  static double convert_real(const char* first, const char* last, bool negative);

  class BlockReader;
  std::unique_ptr<BlockReader> reader_;
  std::vector<char> buffer_;    // the bytes held, when they are copied
  const char* data_ = nullptr;  // buffer_, or the whole input when it lies in memory
  bool in_place_ = false;
  const std::uint32_t* starts_ = nullptr;  // the token index, held by the reader
  const std::uint32_t* ends_ = nullptr;
  std::size_t base_ = 0;          // where the block of the index begins in the buffer
  std::size_t indexed_from_ = 0;  // where the tokens of the index begin
  std::size_t tokens_ = 0;
  std::size_t cursor_ = 0;
  std::size_t pos_ = 0;       // next byte to read
  std::size_t end_ = 0;       // end of the bytes held
  std::size_t mark_ = 0;      // start of the item being read; refill keeps it
  std::uint64_t origin_ = 0;  // offset in the input of buffer_[0]
  bool ended_ = false;        // no more bytes will come
  bool eof_ = false;
  bool stopped_at_nul_ = false;
  bool text_after_stop_ = false;
  int error_ = 0;
  bool overflowed_ = false;
  std::uint64_t held_from_ = 0;  // the offset whose line is kept, while holding_
  std::uint64_t held_line_ = 0;  // its line, once counted; 0 before
  bool holding_ = false;
  bool keeping_ = false;  // the bytes from pos_ on stay in the buffer, while looking ahead
  std::uint64_t block_offset_ = 0;    // where the block of the index begins in the input
  std::uint64_t block_lines_ = 0;     // line feeds before it
  std::uint64_t lines_in_input_ = 0;  // all of them, once the last block is in
  std::atomic<bool> stop_{false};
};

namespace token_chars {

struct Classes {
  bool space[256] = {};
  constexpr Classes() {
    for (unsigned char c : {' ', '\t', '\n', '\r', '\v', '\f'}) space[c] = true;
  }
};
inline constexpr Classes kClasses;

inline bool is_space(char c) { return kClasses.space[static_cast<unsigned char>(c)]; }
inline bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// Powers of ten that a double holds exactly.
inline constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

}  // namespace token_chars

inline bool TokenStream::took_whole() const {
  return pos_ >= end_ || token_chars::is_space(data_[pos_]);
}

// The inline paths read only tokens of the index, each followed by a
// whitespace byte in its block, which ends every loop over its bytes;
// anything else is left to the general paths. Fixed-size copies from a token
// may read past the block: kSlack bytes of the buffer, or the page of zeros
// after a mapped file.
inline bool TokenStream::next_token(const char*& first, const char*& last) {
  std::size_t k = cursor_;
  if (k >= tokens_) return next_token_slow(first, last);
  first = item_at(k);
  pos_ = end_of(k);
  cursor_ = k + 1;
  last = data_ + pos_;
  return true;
}

[[gnu::always_inline]] inline bool TokenStream::read_int(std::int32_t& val) {
  using token_chars::is_digit;
  std::size_t k = cursor_;
  if (k >= tokens_) return read_int_slow(val);
  const char* data = data_;
  const char* p = item_at(k);
  // Within the token: the whitespace byte after it ends every loop.
  bool negative = *p == '-';
  if (negative || *p == '+') ++p;
  const char* digits = p;
  std::uint32_t magnitude = 0;
  while (is_digit(*p) && p - digits < 9) {
    magnitude = magnitude * 10 + static_cast<unsigned>(*p++ - '0');
  }
  if (is_digit(*p)) return read_int_slow(val);  // ten digits or more
  pos_ = static_cast<std::size_t>(p - data);
  follow(k);
  if (p == digits) return false;  // a sign alone stays consumed
  val = negative ? -static_cast<std::int32_t>(magnitude) : static_cast<std::int32_t>(magnitude);
  return true;
}

template <bool kConvert, bool kRounding, bool kWhole>
[[gnu::always_inline]] inline bool TokenStream::scan_real(double& dval, const char** text,
                                                          std::size_t* length, bool* up) {
  using token_chars::is_digit;
  std::size_t k = cursor_;
  if (k >= tokens_) return kWhole ? read_whole_real_slow(dval) : read_real_slow(dval);
  const char* data = data_;
  const char* p = item_at(k);
  const char* item = p;
  bool negative = *p == '-';
  if (negative || *p == '+') ++p;
  const char* number = p;
  std::uint64_t mantissa = 0;
  while (is_digit(*p)) mantissa = mantissa * 10 + static_cast<unsigned>(*p++ - '0');
  const char* dot = p;
  if (*p == '.') {
    ++p;
    while (is_digit(*p)) mantissa = mantissa * 10 + static_cast<unsigned>(*p++ - '0');
  }
  const char* digits_end = p;
  // Digits, before and after the point.
  std::ptrdiff_t digits = (p - number) - (*dot == '.' ? 1 : 0);
  if (digits <= 0) {  // "-", ".", "-." stay consumed
    pos_ = static_cast<std::size_t>(p - data);
    follow(k);
    return false;
  }
  const char* number_end = p;
  int exponent = 0;
  if (*p == 'e' || *p == 'E') {
    const char* q = p + 1;
    bool exponent_negative = *q == '-';
    if (exponent_negative || *q == '+') ++q;
    const char* exponent_digits = q;
    while (is_digit(*q) && q - exponent_digits < 4) exponent = exponent * 10 + (*q++ - '0');
    if (is_digit(*q)) return kWhole ? read_whole_real_slow(dval) : read_real_slow(dval);
    if (q > exponent_digits) number_end = q;
    if (exponent_negative) exponent = -exponent;
    p = q;
  }
  pos_ = static_cast<std::size_t>(p - data);
  follow(k);
  // A whole number: its token ends where it does, not after an exponent marker.
  if (kWhole && (number_end != p || !token_chars::is_space(*p))) return false;
  if constexpr (kRounding) {
    // Up to 15 digits the double lies on the same side of every half
    // integer as the decimal value, so the digits tell the rounding: x.0 to
    // x.4 give x, x.5 to x.9 give x + 1 (their last digit one more, unless
    // it is a 9); -x.0 to -x.4 give -x (x > 0), -x.6 to -x.9 give -(x + 1).
    const char first_fraction = *dot == '.' && dot + 1 < digits_end ? dot[1] : '0';
    const auto whole = static_cast<std::size_t>(dot - number);
    const bool zero = whole == 1 && number[0] == '0';
    const bool away = negative ? first_fraction > '5' : first_fraction >= '5';
    const bool toward = first_fraction < '5' && !(negative && zero);
    if (p == digits_end && digits <= 15 && whole >= 1 && (number[0] != '0' || zero) &&
        (negative || number == item) && (toward || (away && dot[-1] != '9'))) {
      *text = negative ? number - 1 : number;
      *length = whole + (negative ? 1 : 0);
      *up = away;
    }
  }
  if constexpr (kConvert) {
    int fraction = *dot == '.' ? static_cast<int>(digits_end - dot - 1) : 0;
    int power = exponent - fraction;
    if (digits <= 19 && mantissa <= (std::uint64_t{1} << 53) && power >= -22 && power <= 22) {
      // Both operands exact: one correctly rounded operation.
      double value = static_cast<double>(mantissa);
      value = power < 0 ? value / token_chars::kExactPowers[-power]
                        : value * token_chars::kExactPowers[power];
      dval = negative ? -value : value;
    } else {
      dval = convert_real(number, number_end, negative);
    }
  }
  return true;
}

}  // namespace quorvane

#endif
