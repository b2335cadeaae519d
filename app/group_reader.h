// Reads a DXF drawing as other programs write it: pairs of lines, a group
// code then its value, with LF or CR LF line ends (every CR before the LF
// dropped). A value is its whole line,
// spaces included. Unlike the merge's token reader, nothing is read past the
// end of a line, and every pair knows its line. The input is read a block at
// a time into one buffer, which grows only for a line longer than a block.
#ifndef QUORVANE_GROUP_READER_H
#define QUORVANE_GROUP_READER_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fault.h"
#include "token_stream.h"

namespace quorvane {

/// A file read with the C library, a block at a time; the caller closes it.
/// (Reading beats mapping here: the pairs are read once, in order.)
class FileReader : public ByteSource {
 public:
  explicit FileReader(std::FILE* file) : file_(file) {}
  Result read(char* into, std::size_t size) override;

 private:
  std::FILE* file_;
};

/// One pair: the code, its value and the line of the code (from 1). A fault
/// of its code is at `line`, one of its value at value_line().
struct Group {
  std::int32_t code = 0;
  std::string_view value;  ///< valid until the next read
  std::uint64_t line = 0;
  std::uint64_t value_line() const { return line + 1; }
};

/// Where the pairs of a drawing come from.
class GroupSource {
 public:
  virtual ~GroupSource() = default;
  /// Reads the next pair; false at the end of the drawing, after a fault or a
  /// failed read (see fault() and error()).
  virtual bool next(Group& group) = 0;
  virtual const Fault& fault() const = 0;
  /// Gives 0, or the errno value of a failed read.
  virtual int error() const = 0;
  /// Gives the line after the last one read.
  virtual std::uint64_t line() const = 0;
};

class GroupReader : public GroupSource {
 public:
  /// Where a reader takes a buffer each time it reads more, leaving the one
  /// before as it was: the values it gave stay readable until that buffer is
  /// given back. Null when reading is to stop.
  class Buffers {
   public:
    virtual ~Buffers() = default;
    virtual std::vector<char>* fresh() = 0;
  };

  /// Reads the pairs of `source`; without `buffers`, into one buffer of the
  /// reader's own, its unread bytes moved to its start before each read.
  explicit GroupReader(ByteSource& source, Buffers* buffers = nullptr);

  bool next(Group& group) override;
  const Fault& fault() const override { return fault_; }
  int error() const override { return error_; }
  std::uint64_t line() const override { return line_ + 1; }

 private:
  // The next line, without its end; a null view at the end of the input.
  std::string_view next_line();
  // More bytes for a line that goes beyond the buffer; false at the end.
  bool refill();
  void fail(std::uint64_t line, std::string what);

  ByteSource& source_;
  Buffers* buffers_;
  std::vector<char> own_;
  std::vector<char>* buffer_;  // the bytes read and not yet taken, then a few spare
  const char* at_ = nullptr;   // the next byte
  const char* end_ = nullptr;  // the end of the bytes at hand
  std::uint64_t line_ = 0;     // lines taken
  bool ended_ = false;         // the source has no more bytes
  bool first_ = true;
  Fault fault_;
  int error_ = 0;
};

/// The pairs of a drawing read on a thread of their own, a buffer at a time,
/// while the caller takes those of the buffer before: for a regular file,
/// whose reads end, so that stopping never waits long.
class GroupsAhead : public GroupSource {
 public:
  explicit GroupsAhead(ByteSource& source);
  /// Stops the reading and waits for its thread.
  ~GroupsAhead() override;
  GroupsAhead(const GroupsAhead&) = delete;
  GroupsAhead& operator=(const GroupsAhead&) = delete;

  bool next(Group& group) override;
  const Fault& fault() const override { return fault_; }
  int error() const override { return error_; }
  std::uint64_t line() const override { return line_; }

 private:
  struct Batch;
  struct Shared;
  void read_ahead();

  // The reader and the batches live apart from what the taking side writes
  // for each pair, on cache lines of their own.
  std::unique_ptr<Shared> shared_;
  alignas(64) Batch* current_ = nullptr;  // the batch being taken, held by this side
  std::size_t taken_ = 0;                 // its pairs taken
  Fault fault_;
  int error_ = 0;
  std::uint64_t line_ = 1;
};

/// Gives a value without the blanks around it (space, tab, CR, VT, FF), as
/// readers take codes, numbers and names.
std::string_view trimmed(std::string_view text);

/// Makes text fit for a one-line message: control bytes as '?', and every byte
/// beyond ASCII too where the text is not UTF-8.
std::string printable(std::string_view text);
/// Quotes a name or a value as a one-line message shows it, whatever it holds: in
/// double quotes, a quote and a backslash after a backslash, a tab, CR and
/// line feed as \t, \r and \n, other control characters as \xHH (\u0085
/// beyond ASCII), and every byte beyond ASCII as \xHH where the text is not
/// UTF-8. A trailing blank shows before the closing quote.
std::string in_quotes(std::string_view text);
/// Gives a value as shown in a message: quoted, at most 40 bytes and "..."; "an
/// empty line" for none.
std::string shown(std::string_view value);
/// Gives a word of DXF (the name of a section, the type of an entity) as shown in a
/// message: as it stands when it is written as DXF writes its words, in
/// capitals, digits and '_', at most 40 of them (ENTITIES, 3DFACE);
/// otherwise as shown() shows a value.
std::string shown_word(std::string_view word);

}  // namespace quorvane

#endif
