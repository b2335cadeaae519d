// Binary DXF, as AutoCAD and ezdxf save it, read pair by pair for the
// conversion: the same pairs a drawing saved as text gives, each value in
// the text a drawing saved as text would hold (a real in its shortest form,
// an integer in decimal, a binary chunk in hexadecimal).
//
// After the 22 bytes "AutoCAD Binary DXF\r\n\x1a\0": a group code of one byte
// (255, then two bytes, for a code beyond 254) in drawings of R12 and before,
// of two bytes little-endian after that, as $ACADVER in the first kilobyte
// tells; then the value, by the code's range: a string ended by a NUL, a
// double of 8 bytes, an integer of 2, 4 or 8 bytes, a flag of one byte, or a
// chunk of one length byte and that many bytes.
#ifndef QUORVANE_BINARY_GROUPS_H
#define QUORVANE_BINARY_GROUPS_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "group_reader.h"

namespace quorvane {

/// The bytes that open every binary DXF drawing.
inline constexpr std::string_view kBinaryDxf{"AutoCAD Binary DXF\r\n\x1a\0", 22};

/// A binary drawing's pairs. Each pair's line is the line it would begin
/// at in the drawing saved as text: two lines a pair.
class BinaryGroupReader : public GroupSource {
 public:
  /// Reads the pairs of `source` from its first byte, the 22 of kBinaryDxf.
  explicit BinaryGroupReader(ByteSource& source);

  bool next(Group& group) override;
  const Fault& fault() const override { return fault_; }
  int error() const override { return error_; }
  std::uint64_t line() const override { return 2 * pairs_ + 1; }

 private:
  // Makes sure `count` bytes are at hand from at_; false at the end.
  bool have(std::size_t count);
  void fail(std::string what);

  ByteSource& source_;
  std::vector<char> buffer_;
  std::size_t at_ = 0, end_ = 0;
  bool ended_ = false;
  bool short_codes_ = true;  // codes of one byte (R12 and before)
  std::string value_;
  std::uint64_t pairs_ = 0;
  Fault fault_;
  int error_ = 0;
};

/// The pairs of a drawing read from `input`: as a binary drawing where it
/// begins with kBinaryDxf, otherwise as text, read ahead on a thread of their
/// own with `ahead`. The bytes read to tell which are given again, first.
class DrawingPairs {
 public:
  DrawingPairs(ByteSource& input, bool ahead);
  DrawingPairs(const DrawingPairs&) = delete;
  DrawingPairs& operator=(const DrawingPairs&) = delete;
  GroupSource& pairs() { return *pairs_; }

 private:
  // The bytes read already, then the rest of the input.
  class Replay : public ByteSource {
   public:
    explicit Replay(ByteSource& rest) : rest_(rest) {}
    Result read(char* into, std::size_t size) override;
    std::string head;

   private:
    std::size_t given_ = 0;
    ByteSource& rest_;
  };

  Replay replay_;
  std::unique_ptr<GroupSource> pairs_;  // reads replay_: goes first
};

}  // namespace quorvane

#endif
