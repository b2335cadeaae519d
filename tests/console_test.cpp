#include "console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace quorvane {
namespace {

// What a console writing into a pipe-like file gives, read back.
class ConsoleOnFile : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = std::tmpfile();
    ASSERT_NE(file_, nullptr);
  }
  void TearDown() override { std::fclose(file_); }
  std::string shown(Console& console) {
    console.flush();
    std::rewind(file_);
    std::string text(1 << 16, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file_));
    return text;
  }
  std::FILE* file_ = nullptr;
};

// A pass that runs while another one writes holds its text, then lets it out
// in its order, every progress line included, and goes on writing directly.
TEST_F(ConsoleOnFile, HeldTextComesOutInOrderOnceTheOtherPassIsOver) {
  Console console(file_, stdin);
  bool over = false;
  Console held(console, [&] { return over; });
  held.write("<copy>");
  for (int i = 1; i <= 3; ++i) held.progress("r", i, ";");
  held.write("|");
  held.progress("r", 7, ";");  // a new run: not joined to the one before
  held.progress("q", 8, ";");
  console.write("<survey>");
  console.progress("s", 1, ";");
  over = true;
  console.write("<report>");   // written by the other pass at its end
  held.progress("q", 9, ";");  // the first text after the end lets the held text out first
  held.write("<done>");
  held.release();
  EXPECT_EQ(shown(console), "<survey>s1;<report><copy>r1;r2;r3;|r7;q8;q9;<done>");
}

TEST_F(ConsoleOnFile, ReleaseAtTheEndOfThePassLetsEverythingOut) {
  Console console(file_, stdin);
  Console held(console, [] { return false; });
  held.write("a");
  held.progress("n", 1, "\r");
  held.progress("n", 2, "\r");
  console.write("b");
  held.release();
  held.write("c");  // after the release, straight through
  EXPECT_EQ(shown(console), "ban1\rn2\rc");
}

// Counts of polylines go on past 2^31, held or not.
TEST_F(ConsoleOnFile, CountsBeyond32Bits) {
  Console console(file_, stdin);
  Console held(console, [] { return false; });
  for (std::int64_t count = 2147483647; count <= 2147483649; ++count) {
    held.progress("n", count, ";");
    console.progress("s", count + 2147483648, ";");
  }
  held.release();
  EXPECT_EQ(shown(console),
            "s4294967295;s4294967296;s4294967297;n2147483647;n2147483648;n2147483649;");
}

}  // namespace
}  // namespace quorvane
