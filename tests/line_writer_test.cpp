#include "line_writer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
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

}  // namespace
}  // namespace quorvane
