#include "token_stream.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "read_outcomes.h"
#include "reference_model.h"

namespace quorvane {
namespace {

using namespace std::string_literals;

using testing::Outcome;
using testing::with_fscanf;
using testing::with_stream;

std::unique_ptr<TokenStream> stream_of(std::string_view bytes, std::size_t block = 4096) {
  return std::make_unique<TokenStream>(std::make_unique<MemorySource>(bytes), block);
}

// Tokens of every shape a drawing or its damage may hold.
std::string random_token(std::mt19937& rng) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  auto digits = [&](int most) {
    std::string d;
    int count = pick(most) + 1;
    for (int i = 0; i < count; ++i) d += static_cast<char>('0' + pick(10));
    return d;
  };
  auto sign = [&]() -> std::string { return pick(3) == 0 ? "-" : pick(4) == 0 ? "+" : ""; };
  static const char* const kWords[] = {"POLYLINE",    "VERTEX",
                                       "SEQEND",      "ENDSEC",
                                       "$EXTMIN",     "HA_6292",
                                       "-",           "+",
                                       ".",           "-.",
                                       "+.",          "e5",
                                       "E",           "--5",
                                       "+-3",         "1..2",
                                       "1.2.3",       "1e",
                                       "1E+",         "1e-x",
                                       "12.5EXTMIN",  "7abc",
                                       "_",           "1e400",
                                       "-1e400",      "1e-400",
                                       "4.9e-324",    "2.2250738585072011e-308",
                                       "0",           "-0",
                                       "00012",       "2147483647",
                                       "-2147483648", "1.7976931348623157e308",
                                       "inf",         "-nan",
                                       "0x1A",        "NaN",
                                       "-Infinity",   "99999999999",
                                       "-4294967297"};
  static const char kLetters[] = "abcdefghjklmoqrstuvwyzABCDEFGHJKLMOQRSTUVWYZ_$";
  switch (pick(8)) {
    case 0:
      return sign() + digits(9);
    case 1:
      return sign() + digits(6) + "." + digits(8);
    case 2:
      return sign() + (pick(2) ? digits(3) : "") + "." + digits(4) + (pick(2) ? "e" : "E") +
             sign() + digits(3);
    case 3:
      return sign() + digits(40) + "." + digits(40);
    case 4:
      return kWords[pick(sizeof kWords / sizeof *kWords)];
    case 5: {
      std::string w;
      for (int i = pick(6) + 1; i > 0; --i) w += kLetters[pick(sizeof kLetters - 1)];
      return w;
    }
    case 6:
      return sign() + digits(4) + (pick(2) ? "." : "") + kLetters[pick(sizeof kLetters - 1)];
    default:
      return digits(3) + "." + (pick(2) ? "e" : "E") + (pick(2) ? sign() : "");
  }
}

std::string random_input(std::mt19937& rng, std::string& ops) {
  static const char kSpace[] = " \t\n\r\v\f";
  std::string bytes;
  int tokens = static_cast<int>(rng() % 12);
  for (int i = 0; i < tokens; ++i) {
    int gap = static_cast<int>(rng() % 4);  // sometimes none: tokens run together
    for (int g = 0; g < gap; ++g) bytes += kSpace[rng() % 6];
    bytes += random_token(rng);
  }
  if (rng() % 2) bytes += rng() % 2 ? "\n" : "\r\n";
  ops.clear();
  for (int i = 0; i < tokens + 3; ++i) ops += "sdf"[rng() % 3];
  return bytes;
}

TEST(TokenStream, AgreesWithFscanfOnGeneratedInputs) {
  std::mt19937 rng(20261208);
  for (int round = 0; round < 20000; ++round) {
    // Indexed with 16-byte vectors every other round, 32-byte ones where the processor has them.
    TokenStream::allow_wide_index(round % 2 == 0);
    std::string ops;
    std::string bytes = random_input(rng, ops);
    auto expected = with_fscanf(bytes, ops);
    for (std::size_t block : {1, 2, 3, 7, 64, 4096}) {
      ASSERT_EQ(with_stream(bytes, ops, block), expected)
          << "input [" << bytes << "] ops " << ops << " block " << block;
    }
    if (round % 20 == 0) {  // blocks read ahead on a thread of the stream's own
      ASSERT_EQ(with_stream(bytes, ops, 5, true), expected) << "input [" << bytes << "]";
    }
  }
  TokenStream::allow_wide_index(true);
}

TEST(TokenStream, AgreesWithFscanfOnWorkedCases) {
  const std::pair<const char*, const char*> cases[] = {
      {"12.5 x", "dsf"},    {"12.5", "dff"}, {"  -  5", "dd"}, {"-.5 .5 5. -1.2e3", "ffff"},
      {"100ergs", "fs"},    {"1e+ 7", "fd"}, {"abc", "dfs"},   {"", "sdf"},
      {" \t\r\n\v\f", "s"}, {"+-3", "dd"},   {"1.5e+x", "fs"}, {"12", "d"},
      {"12 ", "ds"},        {"ab", "s"},     {"1.2.3", "fff"}, {"-0", "f"}};
  for (auto [bytes, ops] : cases) {
    EXPECT_EQ(with_stream(bytes, ops, 1), with_fscanf(bytes, ops)) << bytes;
    EXPECT_EQ(with_stream(bytes, ops, 4096), with_fscanf(bytes, ops)) << bytes;
  }
}

TEST(TokenStream, IntegerReadStopsBeforeTheDecimalPoint) {
  auto stream = stream_of("12.5 VERTEX");
  std::int32_t val = 0;
  double dval = 0;
  std::string texte;
  EXPECT_TRUE(stream->read_int(val));
  EXPECT_EQ(val, 12);
  EXPECT_TRUE(stream->read_real(dval));
  EXPECT_EQ(dval, 0.5);
  EXPECT_TRUE(stream->read_string(texte));
  EXPECT_EQ(texte, "VERTEX");
  EXPECT_TRUE(stream->eof());
}

TEST(TokenStream, IntegersBeyond32BitsSaturate) {
  auto stream = stream_of("2147483648 -2147483649 99999999999999999999999 -0002147483648 +7");
  std::int32_t v = 0;
  ASSERT_TRUE(stream->read_int(v));
  EXPECT_EQ(v, 2147483647);
  ASSERT_TRUE(stream->read_int(v));
  EXPECT_EQ(v, -2147483647 - 1);
  ASSERT_TRUE(stream->read_int(v));
  EXPECT_EQ(v, 2147483647);
  ASSERT_TRUE(stream->read_int(v));
  EXPECT_EQ(v, -2147483647 - 1);
  ASSERT_TRUE(stream->read_int(v));
  EXPECT_EQ(v, 7);
  EXPECT_EQ(stream->position(), 64u);
}

TEST(TokenStream, InfinitiesNansAndHexadecimalAreNotNumbers) {
  double dval = 4.25;
  std::string texte;
  {
    auto stream = stream_of("inf");
    EXPECT_FALSE(stream->read_real(dval));
    EXPECT_EQ(stream->position(), 0u);  // nothing consumed: the token is met again as a string
    EXPECT_TRUE(stream->read_string(texte));
    EXPECT_EQ(texte, "inf");
  }
  {
    auto stream = stream_of("-NaN");
    EXPECT_FALSE(stream->read_real(dval));
    EXPECT_EQ(stream->position(), 1u);  // the lone sign is consumed
    EXPECT_TRUE(stream->read_string(texte));
    EXPECT_EQ(texte, "NaN");
  }
  {
    auto stream = stream_of("0x1p3");
    EXPECT_TRUE(stream->read_real(dval));
    EXPECT_EQ(dval, 0.0);
    EXPECT_TRUE(stream->read_string(texte));
    EXPECT_EQ(texte, "x1p3");
  }
  EXPECT_EQ(dval, 0.0);
}

TEST(TokenStream, OverflowAndUnderflowGiveTheCLibraryValues) {
  auto stream = stream_of("1e400 -1e400 1e-400 -2e-324 3e-324");
  double d = 0;
  ASSERT_TRUE(stream->read_real(d));
  EXPECT_TRUE(std::isinf(d) && d > 0);
  ASSERT_TRUE(stream->read_real(d));
  EXPECT_TRUE(std::isinf(d) && d < 0);
  ASSERT_TRUE(stream->read_real(d));
  EXPECT_EQ(d, 0.0);
  ASSERT_TRUE(stream->read_real(d));
  EXPECT_TRUE(d == 0.0 && std::signbit(d));
  ASSERT_TRUE(stream->read_real(d));
  EXPECT_EQ(d, 4.9406564584124654e-324);
}

TEST(TokenStream, CtrlZEndsTheInput) {
  for (bool wide : {false, true}) {
    TokenStream::allow_wide_index(wide);
    auto stream = stream_of("POLYLINE\r\n  8\x1aVERTEX\r\n");
    std::string texte;
    std::int32_t val = 0;
    EXPECT_TRUE(stream->read_string(texte));
    EXPECT_EQ(texte, "POLYLINE");
    EXPECT_TRUE(stream->read_int(val));
    EXPECT_EQ(val, 8);
    EXPECT_TRUE(stream->eof());  // the 8 was the last byte before Ctrl-Z
    EXPECT_FALSE(stream->read_string(texte));
    EXPECT_EQ(texte, "POLYLINE");

    auto split = stream_of("AB\x1a", 1);
    EXPECT_TRUE(split->read_string(texte));
    EXPECT_EQ(texte, "AB");
    EXPECT_FALSE(split->read_string(texte));

    // Far into a block, in each of its 64-byte words; a NUL ends it the same
    // way, and is told apart. Whichever comes first ends the input.
    for (std::size_t at : {0, 1, 63, 64, 100, 4095}) {
      for (const std::string& stop : {"\x1a"s, "\0"s, "\x1a\0"s, "\0\x1a"s}) {
        std::string bytes = std::string(at, '\n') + stop + " 12";
        auto late = stream_of(bytes, 4096);
        EXPECT_FALSE(late->read_int(val)) << at;
        EXPECT_EQ(late->position(), at) << at;
        EXPECT_EQ(late->end_line(), at + 1) << at;
        EXPECT_EQ(late->stopped_at_nul(), stop[0] == '\0') << at;
      }
    }
  }
  TokenStream::allow_wide_index(true);
  // A NUL inside a token ends it and the input.
  const std::string bytes = "POLY\0LINE 5"s;  // the stream reads it where it lies
  auto cut = stream_of(bytes);
  std::string texte;
  ASSERT_TRUE(cut->read_string(texte));
  EXPECT_EQ(texte, "POLY");
  EXPECT_FALSE(cut->read_string(texte));
}

TEST(TokenStream, TokensHaveNoLengthLimit) {
  std::string token(3 * 1000 * 1000, 'Q');
  token[12345] = '7';
  std::string digits(200000, '1');
  std::string bytes = "  " + token + "\n" + digits + ".5e-199995 end";
  auto stream = stream_of(bytes, 4096);
  std::string texte;
  double dval = 0;
  ASSERT_TRUE(stream->read_string(texte));
  EXPECT_EQ(texte, token);
  ASSERT_TRUE(stream->read_real(dval));
  EXPECT_DOUBLE_EQ(dval, 11111.111111111111);
  ASSERT_TRUE(stream->read_string(texte));
  EXPECT_EQ(texte, "end");
  EXPECT_LE(stream->buffer_size(), 2 * token.size());
}

TEST(TokenStream, ShortTokensKeepTheBufferAtOneBlock) {
  std::string bytes;
  for (int i = 0; i < 20000; ++i) bytes += " 10\r\n1234.5678\r\nPOLYLINE\r\n";
  auto stream = stream_of(bytes, 1024);
  std::string texte;
  std::int32_t val;
  double dval;
  while (stream->read_int(val) && stream->read_real(dval) && stream->read_string(texte)) {
  }
  EXPECT_TRUE(stream->eof());
  EXPECT_LE(stream->buffer_size(), 2 * 1024u);  // a block and the bytes kept before it
}

// Gives its bytes, then fails as a disk or a network share can.
class FailingSource : public ByteSource {
 public:
  explicit FailingSource(std::string bytes) : bytes_(std::move(bytes)) {}
  Result read(char* into, std::size_t size) override {
    if (bytes_.empty()) return {0, EIO};
    std::size_t n = std::min(size, bytes_.size());
    std::memcpy(into, bytes_.data(), n);
    bytes_.erase(0, n);
    return {n, 0};
  }

 private:
  std::string bytes_;
};

TEST(TokenStream, AReadErrorEndsTheStreamAndIsKept) {
  for (bool prefetch : {false, true}) {
    TokenStream stream(std::make_unique<FailingSource>("POLYLINE 8"), 4, prefetch);
    std::string texte;
    std::int32_t val = 0;
    EXPECT_TRUE(stream.read_string(texte));
    EXPECT_TRUE(stream.read_int(val));
    EXPECT_EQ(val, 8);
    EXPECT_FALSE(stream.read_string(texte));
    EXPECT_FALSE(stream.read_string(texte));
    EXPECT_EQ(stream.error(), EIO);
    EXPECT_FALSE(stream.eof());
  }
}

TEST(TokenStream, BlocksReadAheadGiveTheSameTokens) {
  std::string bytes;
  for (int i = 0; i < 50000; ++i) {
    bytes +=
        "VERTEX\r\n  8\r\nCN" + std::to_string(i) + "\r\n 10\r\n" + std::to_string(i) + ".5\r\n";
  }
  bytes += std::string(5000, 'L') + "\x1a" + "lost";
  for (std::size_t block : {64, 1000, 4096}) {
    // Read ahead from the start, or from the first read on when asked after the stream was made.
    bool from_start = block != 1000;
    TokenStream ahead(std::make_unique<MemorySource>(bytes), block, from_start);
    if (!from_start) ahead.read_ahead();
    TokenStream plain(std::make_unique<MemorySource>(bytes), block, false);
    std::string a, b;
    std::int32_t i = 0, j = 0;
    double x = 0, y = 0;
    for (int n = 0; n < 50000; ++n) {
      ASSERT_TRUE(ahead.read_string(a) && plain.read_string(b));
      ASSERT_TRUE(ahead.read_int(i) && plain.read_int(j));
      ASSERT_TRUE(ahead.read_string(a) && plain.read_string(b));
      ASSERT_EQ(a, b);
      ASSERT_TRUE(ahead.read_int(i) && plain.read_int(j));
      ASSERT_TRUE(ahead.read_real(x) && plain.read_real(y));
      ASSERT_EQ(x, y);
      ASSERT_EQ(ahead.position(), plain.position());
    }
    ASSERT_TRUE(ahead.read_string(a) && plain.read_string(b));
    EXPECT_EQ(a, std::string(5000, 'L'));
    EXPECT_EQ(a, b);
    EXPECT_FALSE(ahead.read_string(a));
    EXPECT_TRUE(ahead.eof());
  }
}

// A file is read where the system maps it, without a copy: the same outcomes,
// up to its last byte, whether or not its size is a whole number of pages.
TEST(TokenStream, AMappedFileGivesWhatFscanfGives) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("quorvane-mapped-" + std::to_string(getpid())))
          .string();
  auto through_file = [&](const std::string& bytes, const std::string& ops, std::size_t block,
                          bool prefetch) {
    std::ofstream(path, std::ios::binary) << bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    auto stream =
        std::make_unique<TokenStream>(std::make_unique<FileSource>(file), block, prefetch);
    EXPECT_EQ(stream->in_place(), !bytes.empty());
    return with_stream(std::move(stream), ops);
  };
  std::mt19937 rng(4096);
  for (int round = 0; round < 300; ++round) {
    std::string ops;
    std::string bytes = random_input(rng, ops);
    if (round % 3 == 0) {  // a whole number of pages, a token running up to the end
      std::size_t pages = 1 + rng() % 3;
      while (bytes.size() < pages * 4096) bytes += round % 2 ? " 12345" : "\n-7.5e1";
      bytes.resize(pages * 4096);
      bytes.back() = '9';
      ops += "sdfsdfsdfsdf";
      while (ops.size() < bytes.size() / 3) ops += "sdf"[rng() % 3];
    }
    auto expected = with_fscanf(bytes, ops);
    for (std::size_t block : {61, 4096, 128 * 1024}) {
      ASSERT_EQ(through_file(bytes, ops, block, block != 61), expected)
          << "input [" << bytes << "] ops " << ops << " block " << block;
    }
    // The merge passes copy a short token as a fixed-size block, read from its
    // start: up to the file's last token.
    std::FILE* file = std::fopen(path.c_str(), "rb");
    TokenStream stream(std::make_unique<FileSource>(file));
    Token token;
    std::string last;
    while (stream.read_string(token)) last = token.view();
    std::size_t start = bytes.find_last_not_of(" \t\n\r\v\f");
    if (start != std::string::npos && bytes.find('\x1a') == std::string::npos) {
      start = bytes.find_last_of(" \t\n\r\v\f", start);
      start = start == std::string::npos ? 0 : start + 1;
      std::size_t end = bytes.find_first_of(" \t\n\r\v\f", start);
      EXPECT_EQ(last, bytes.substr(start, end - start));
    }
  }
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace quorvane
