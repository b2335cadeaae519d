#include "group_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace quorvane {
namespace {

using namespace std::string_literals;

// Gives its bytes a few at a time, then ends, or fails as a disk can.
class Trickle : public ByteSource {
 public:
  Trickle(std::string_view bytes, std::size_t chunk, int error)
      : bytes_(bytes), chunk_(chunk), error_(error) {}
  Result read(char* into, std::size_t size) override {
    if (bytes_.empty()) return {0, error_};
    const std::size_t n = std::min({size, chunk_, bytes_.size()});
    std::memcpy(into, bytes_.data(), n);
    bytes_.remove_prefix(n);
    return {n, 0};
  }

 private:
  std::string_view bytes_;
  std::size_t chunk_;
  int error_;
};

// Each pair as code@line:value, then the line after the last one read, and
// the fault (up to its first ": ") or the failed read.
std::string read_all(GroupSource& source) {
  std::string seen;
  Group group;
  while (source.next(group)) {
    seen += std::to_string(group.code) + "@" + std::to_string(group.line) + ":" +
            (group.value.size() > 60 ? std::to_string(group.value.size()) + " bytes"
                                     : in_quotes(group.value)) + " ";
  }
  seen += "end " + std::to_string(source.line());
  if (source.fault()) {
    seen += ", line " + std::to_string(source.fault().line) + ": " +
            source.fault().what.substr(0, source.fault().what.find(": "));
  }
  if (source.error() != 0) seen += ", " + std::string(std::strerror(source.error()));
  return seen;
}

// Read in place and read ahead, whole or a few bytes at a time: the same
// pairs at the same lines, the same end, the same fault.
TEST(GroupReader, PairsTheirLinesAndTheFaultsThatEndTheReading) {
  const std::string long_value(600000, 'v');  // beyond a block of the reader
  const struct {
    std::string drawing;
    std::string expected;
    int error = 0;  // what the source fails with at its end
  } cases[] = {
      {"  0\nSECTION\n  2\nENTITIES\n", "0@1:\"SECTION\" 2@3:\"ENTITIES\" end 5"},
      {"  0\r\nSECTION\r\n  2\r\nENTITIES\r\n", "0@1:\"SECTION\" 2@3:\"ENTITIES\" end 5"},
      {"  0\r\r\nEOF\r\r\n", "0@1:\"EOF\" end 3"},
      {"  8 \n Layer one \n\t10\t\n1.5\n+62\n7\n-1\n\n  1\nA\rB\r\n",
       "8@1:\" Layer one \" 10@3:\"1.5\" 62@5:\"7\" -1@7:\"\" 1@9:\"A\\rB\" end 11"},
      {"\xEF\xBB\xBF  0\nEOF\n", "0@1:\"EOF\" end 3"},
      {"\xEF\xBB\xBF", "end 1"},
      {"999\nmade by hand\n  0\nEOF\n", "999@1:\"made by hand\" 0@3:\"EOF\" end 5"},
      {"  0\nEOF", "0@1:\"EOF\" end 3"},
      {"  0\nEOF\n\n \r\n", "0@1:\"EOF\" end 5"},
      {"  1\nA\0B\n"s, "1@1:\"A\\x00B\" end 3"},
      {"  1\n" + long_value + "\n  0\nEOF\n", "1@1:600000 bytes 0@3:\"EOF\" end 5"},
      {"", "end 1"},
      {"  0\nA\n\n  0\nB\n", "0@1:\"A\" end 5, line 3: expected a group code, found an empty line"},
      {"  0\nA\noops\nB\n", "0@1:\"A\" end 4, line 3: expected a group code, found \"oops\""},
      {"  0\nA\n99999999999\nB\n",
       "0@1:\"A\" end 4, line 3: expected a group code, found \"99999999999\""},
      {"  0\nA\n0x10\nB\n", "0@1:\"A\" end 4, line 3: expected a group code, found \"0x10\""},
      {"  0\nEOF\n  8\n",
       "0@1:\"EOF\" end 4, line 4: the drawing ends after the group code 8, without its value"},
      {"AutoCAD Binary DXF\r\n\x1a\0\0\0SECTION"s, "end 1, line 1: this is a binary DXF drawing"},
      {"%PDF-1.4\n%\xE2\xE3\n", "end 2, line 1: this is not a DXF drawing"},
      {"  0\rSECTION\r  2\rENTITIES\r",
       "end 2, line 1: the lines of this drawing end with a carriage return alone"},
      {"\xFF\xFE" "0\0\r\0\n\0"s, "end 1, line 1: this drawing is saved as UTF-16 text (\"Unicode\")"},
      {"\0 \0 \0" "0\0\r\0\n"s, "end 1, line 1: this drawing is saved as UTF-16 text (\"Unicode\")"},
      {"  0\nSECTION\n  2\nENTITIES\n  8\nB",
       "0@1:\"SECTION\" 2@3:\"ENTITIES\" end 6, Input/output error", EIO},
      {"", "end 1, Input/output error", EIO},
  };
  for (const auto& c : cases) {
    for (const bool trickle : {false, true}) {
      SCOPED_TRACE(in_quotes(c.drawing.substr(0, 40)) + (trickle ? ", a few bytes a read" : ""));
      const std::size_t chunk =
          trickle ? std::max<std::size_t>(3, c.drawing.size() / 64) : c.drawing.size() + 1;
      Trickle in_place(c.drawing, chunk, c.error), ahead(c.drawing, chunk, c.error);
      GroupReader reader(in_place);
      EXPECT_EQ(read_all(reader), c.expected);
      GroupsAhead reading_ahead(ahead);
      EXPECT_EQ(read_all(reading_ahead), c.expected) << "read ahead";
    }
  }
}

// How the messages show what a drawing holds.
TEST(GroupReader, ValuesAndWordsAsMessagesShowThem) {
  const std::string x39(39, 'x');
  EXPECT_EQ(in_quotes("a\"b\\c\td\r\n "), "\"a\\\"b\\\\c\\td\\r\\n \"");
  EXPECT_EQ(in_quotes("\x01\x7F" "bad\xFF"), "\"\\x01\\x7Fbad\\xFF\"");
  EXPECT_EQ(in_quotes("\xC3\xA9\xC2\x85"), "\"\xC3\xA9\\u0085\"");
  EXPECT_EQ(shown(""), "an empty line");
  EXPECT_EQ(shown(x39 + "x"), "\"" + x39 + "x\"");
  EXPECT_EQ(shown(x39 + "\xC3\xA9"), "\"" + x39 + "\"...");  // never half a character
  EXPECT_EQ(shown_word("ENTITIES") + " " + shown_word("3DFACE") + " " + shown_word("AcDbLine"),
            "ENTITIES 3DFACE \"AcDbLine\"");
  EXPECT_EQ(shown_word(std::string(41, 'A')), "\"" + std::string(40, 'A') + "\"...");
  EXPECT_EQ(shown_word(""), "an empty line");
  EXPECT_EQ(printable("a\tb\xC3\xA9") + "|" + printable("a\xFF"), "a?b\xC3\xA9|a?");
  EXPECT_EQ(trimmed(" \t\r\v\fA B \r"), "A B");
}

}  // namespace
}  // namespace quorvane
