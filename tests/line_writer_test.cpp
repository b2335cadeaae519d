#include "line_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "rounding.h"

namespace quorvane {
namespace {

std::string integral_text(double x) {
  char out[kIntegralChars];
  return std::string(out, format_integral(x, out));
}

TEST(LineWriter, EachFormatGivesItsLine) {
  std::string bytes;
  LineWriter writer(std::make_unique<StringSink>(bytes));
  writer.text("POLYLINE");
  writer.number("  ", 8);
  writer.number("", 0);
  writer.number(" ", 10);
  writer.number("    ", 32);
  writer.number("     ", -66);
  writer.signed_number(70);
  writer.signed_number(0);
  writer.signed_number(-70);
  writer.number("  ", -2147483647 - 1);
  writer.integral(846);
  writer.integral(-12);
  writer.text("");
  EXPECT_EQ(writer.close(), 0);
  EXPECT_EQ(bytes,
            "POLYLINE\r\n  8\r\n0\r\n 10\r\n    32\r\n     -66\r\n 70\r\n 0\r\n-70\r\n"
            "  -2147483648\r\n846\r\n-12\r\n\r\n");
}

TEST(LineWriter, IntegralsAreExactAtEverySize) {
  EXPECT_EQ(integral_text(0), "0");
  EXPECT_EQ(integral_text(-0.0), "0");
  EXPECT_EQ(integral_text(2147483648.0), "2147483648");
  EXPECT_EQ(integral_text(-9223372036854775808.0), "-9223372036854775808");
  EXPECT_EQ(integral_text(1e20), "100000000000000000000");
  EXPECT_EQ(integral_text(1e22), "10000000000000000000000");
  EXPECT_EQ(integral_text(1e23), "99999999999999991611392");
  char printed[400];
  std::snprintf(printed, sizeof printed, "%.0f", DBL_MAX);
  EXPECT_EQ(integral_text(DBL_MAX), printed);
  // Each number of digits, at its edges, as the formatting takes short values apart.
  for (int zeros = 0; zeros <= 18; ++zeros) {
    std::int64_t power = 1;
    for (int i = 0; i < zeros; ++i) power *= 10;
    for (std::int64_t v :
         {power - 1, power, power + 1, -(power - 1), -power, -(power + 1), INT64_MAX, INT64_MIN}) {
      char out[32];
      std::snprintf(printed, sizeof printed, "%lld", static_cast<long long>(v));
      ASSERT_EQ(std::string(out, format_int(v, out)), printed);
    }
  }
  std::mt19937_64 rng(11);
  for (int i = 0; i < 200000; ++i) {
    double x = std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 970));
    if (i % 2) x = -x;
    x = std::trunc(x);
    std::snprintf(printed, sizeof printed, "%.0f", x);
    ASSERT_EQ(integral_text(x), printed);
  }
}

TEST(LineWriter, LinesLongerThanTheBufferPassWhole) {
  std::string bytes;
  LineWriter writer(std::make_unique<StringSink>(bytes), 16);
  std::string token(1000, 'x');
  writer.text("A");
  writer.text(token);
  writer.number("  ", 5);
  writer.close();
  EXPECT_EQ(bytes, "A\r\n" + token + "\r\n  5\r\n");
}

// Accepts `room` bytes, then fails as a full disk does.
class FullSink : public ByteSink {
 public:
  FullSink(std::string& into, std::size_t room) : into_(into), room_(room) {}
  int write(const char* bytes, std::size_t size) override {
    ++writes;
    if (size > room_) return ENOSPC;
    into_.append(bytes, size);
    room_ -= size;
    return 0;
  }
  int writes = 0;

 private:
  std::string& into_;
  std::size_t room_;
};

TEST(LineWriter, TheFirstFailureIsKeptAndNothingMoreIsWritten) {
  std::string bytes;
  auto sink = std::make_unique<FullSink>(bytes, 20);
  FullSink* full = sink.get();
  LineWriter writer(std::move(sink), 16);
  for (int i = 0; i < 100; ++i) writer.number("  ", i);
  EXPECT_EQ(writer.error(), ENOSPC);
  int writes = full->writes;
  writer.text("more");
  EXPECT_EQ(writer.close(), ENOSPC);
  EXPECT_LE(full->writes, writes + 1);
  EXPECT_LE(bytes.size(), 20u);
}

TEST(LineWriter, CloseReportsAFailedFlushOfTheFile) {
  std::FILE* full = std::fopen("/dev/full", "wb");
  if (full == nullptr) GTEST_SKIP() << "no /dev/full";
  LineWriter writer(std::make_unique<FileSink>(full));
  writer.text("EOF");
  EXPECT_EQ(writer.error(), 0);  // still in the buffer
  EXPECT_EQ(writer.close(), ENOSPC);
}

TEST(LineWriter, TheBackgroundWriterKeepsTheOrderAndTheFirstFailure) {
  std::string expected, bytes;
  {
    LineWriter plain(std::make_unique<StringSink>(expected), 64);
    LineWriter background(std::make_unique<StringSink>(bytes), 64, /*background=*/true);
    for (int i = 0; i < 20000; ++i) {
      for (LineWriter* w : {&plain, &background}) {
        w->number("  ", i);
        w->text(i % 1000 == 0 ? std::string(300, 'L')
                              : "CN1");  // some lines longer than the buffer
        w->integral(half_up(i * 1.5));
      }
    }
    EXPECT_EQ(plain.close(), 0);
    EXPECT_EQ(background.close(), 0);
  }
  EXPECT_EQ(bytes, expected);

  std::string some;
  LineWriter full(std::make_unique<FullSink>(some, 1000), 64, /*background=*/true);
  for (int i = 0; i < 10000; ++i) full.number("  ", i);
  EXPECT_EQ(full.close(), ENOSPC);
  EXPECT_LE(some.size(), 1000u);
}

// The merged file's header is written first and mended last: the bytes after
// it move when its size changes, whatever the size of the rest.
TEST(LineWriter, TheFrontOfAFileIsReplacedAndTheRestMoved) {
  std::mt19937 rng(5);
  for (std::size_t rest : {std::size_t{0}, std::size_t{1000}, std::size_t{3} << 20}) {
    for (std::size_t after :
         {std::size_t{0}, std::size_t{3}, std::size_t{40}, std::size_t{41}, std::size_t{90}}) {
      const std::string path =
          (std::filesystem::temp_directory_path() / ("quorvane-front-" + std::to_string(getpid())))
              .string();
      std::FILE* file = std::fopen(path.c_str(), "w+b");
      ASSERT_NE(file, nullptr);
      std::string front(40, 'h'), body(rest, ' '), header(after, 'H');
      for (char& c : body) c = static_cast<char>('a' + rng() % 26);
      LineWriter writer(std::make_unique<FileSink>(file), 4096, /*background=*/true);
      writer.text(front.substr(0, 38));  // 38 bytes and CR LF
      std::string expected = header;
      for (std::size_t at = 0; at < body.size(); at += 1000) {
        writer.text(body.substr(at, 998));
        expected += body.substr(at, 998) + "\r\n";
      }
      ASSERT_EQ(writer.replace_front(40, header), 0);
      writer.text("END");
      expected += "END\r\n";
      EXPECT_EQ(writer.close(), 0);
      std::ifstream in(path, std::ios::binary);
      std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      std::filesystem::remove(path);
      EXPECT_EQ(got.size(), expected.size()) << rest << " " << after;
      EXPECT_TRUE(got == expected) << rest << " " << after;
    }
  }
  std::string bytes = "0123456789";
  StringSink sink(bytes);
  EXPECT_EQ(sink.replace_front(4, "ab"), 0);
  EXPECT_EQ(bytes, "ab456789");
}

}  // namespace
}  // namespace quorvane
