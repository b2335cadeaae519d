// The built tool under faults: writes that fail one after another, inputs that
// change while they are read, standard streams closed or broken, and inputs
// no drawing program writes. Each run must end within seconds, with its
// status and message, the inputs as they were, and no merged file left behind
// unless it is complete.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "dialogue.h"
#include "drawings.h"
#include "in_memory_merge.h"
#include "run_tool.h"

namespace quorvane::testing {
namespace {

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 rng(17);
    first_ = contour_drawing(rng, 4000);
    second_ = ha_drawing(rng, 1000);
    drive.write(kFirst, first_);
    drive.write(kSecond, second_);
  }
  RunOptions options() { return RunOptions(here.path(), drive.path()); }
  std::string failure(const std::string& what, const char* composed, const std::string& relative,
                      const std::string& why) {
    return shown_as("quorvane_tool: " + what + " " + composed + " (" +
                    message_path(drive.path(), relative, composed) + "): " + why + "\n");
  }
  void expect_inputs_intact() {
    EXPECT_EQ(drive.read(kFirst), first_);
    EXPECT_EQ(drive.read(kSecond), second_);
  }

  TempFolder drive, here;
  std::string first_, second_;
  const char* answers_ = "site4 north north north";
};

TEST_F(Faults, EachWriteOfTheMergedFileFailingInTurn) {
  ToolRun whole = run_tool(answers_, options());
  ASSERT_EQ(whole.status, 0);
  const long size = static_cast<long>(drive.read(kOutput).size());
  ASSERT_GT(size, 3 * 256 * 1024) << "the merged file should take several buffers";
  for (long limit : {0L, 1L, 4095L, 262143L, 262144L, 262145L, 524288L, 786433L, size - 1}) {
    RunOptions faulty = options();
    faulty.file_size_limit = limit;
    ToolRun r = run_tool(answers_, faulty);
    EXPECT_EQ(r.status, 1) << limit;
    EXPECT_EQ(r.err, failure("cannot write", "c:\\images\\site4\\northcnha.dxf", kOutput,
                             "File too large"))
        << limit;
    EXPECT_FALSE(drive.exists(kOutput)) << limit;
    EXPECT_LT(r.seconds, 5.0 * kSlowdown);
  }
  expect_inputs_intact();
}

TEST_F(Faults, TheFirstInputRemovedOrCutWhileItIsRead) {
  // Many polylines: the progress lines fill the pipe, and the tool waits in
  // the middle of its survey until they are read.
  std::mt19937 rng(3);
  first_ = contour_drawing(rng, 30000);
  drive.write(kFirst, first_);
  // Removed: both of its reads were opened at the start, so the merge is the
  // one of the drawing as it was, whole.
  RunOptions removing = options();
  removing.while_stalled = [this] {
    std::filesystem::remove(drive.path() + "/" + kFirst);
    return true;
  };
  ToolRun r = run_tool(answers_, removing);
  MergeResult expected = in_memory_merge(first_, second_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kDialogue + expected.console);
  EXPECT_EQ(drive.read(kOutput), expected.merged);
  EXPECT_LT(r.seconds, 5.0 * kSlowdown);

  std::filesystem::remove(drive.path() + "/" + kOutput);
  drive.write(kFirst, first_);
  RunOptions cutting = options();
  cutting.while_stalled = [this] {
    std::filesystem::resize_file(drive.path() + "/" + kFirst, 1000);
    return true;
  };
  r = run_tool(answers_, cutting);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, failure("cannot read", "c:\\images\\site4\\northcn.dxf", kFirst,
                           "it changed while it was being merged"));
  EXPECT_FALSE(drive.exists(kOutput));
  EXPECT_EQ(drive.read(kSecond), second_);
}

TEST_F(Faults, StandardStreamsClosedOrBroken) {
  RunOptions no_input = options();
  no_input.close_stdin = true;
  ToolRun r = run_tool(answers_, no_input);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, failure("cannot compose", "c:\\images\\", "images/", "Bad file descriptor"));
  EXPECT_FALSE(drive.exists(kOutput));

  // The reader of standard output goes away in the middle of the run.
  std::mt19937 rng(3);
  first_ = contour_drawing(rng, 30000);
  drive.write(kFirst, first_);
  RunOptions broken = options();
  broken.while_stalled = [] { return false; };
  r = run_tool(answers_, broken);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quorvane_tool: cannot write to standard output: Broken pipe\n");
  EXPECT_FALSE(drive.exists(kOutput));
  EXPECT_LT(r.seconds, 5.0 * kSlowdown);
  expect_inputs_intact();
}

TEST_F(Faults, ATokenOf100MegabytesIsCopiedWhole) {
  std::string token(100 * 1000 * 1000, 'T');
  first_ = "VERTEX\n  8\n" + token + "\n 70\n    32\n 10\n1.5\n 20\n2.5\n 30\n-3.5\n  0\n";
  drive.write(kFirst, first_);
  ToolRun r = run_tool(answers_, options());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_LT(r.seconds, 10.0 * kSlowdown);
  std::string merged = drive.read(kOutput);
  EXPECT_NE(merged.find("VERTEX\r\n  8\r\n" + token +
                        "\r\n 70\r\n    32\r\n 10\r\n2\r\n 20\r\n3\r\n"
                        " 30\r\n-3\r\n  0\r\n"),
            std::string::npos);
  expect_inputs_intact();
}

TEST_F(Faults, RandomBytesAndNulBytesMergeAsTheyDoInMemory) {
  std::mt19937 rng(99);
  for (int round = 0; round < 12; ++round) {
    std::string bytes[2];
    for (std::string& b : bytes) {
      b.resize(rng() % 300000);
      for (char& c : b) {
        // Mostly drawing-like text, with NUL, Ctrl-Z and any other byte among it.
        static const char kText[] = "POLYLINE VERTEX SEQEND HA_6292 $EXTMIN 10 20 30 0 8 -.5e\r\n";
        c = rng() % 4 == 0 ? static_cast<char>(rng()) : kText[rng() % (sizeof kText - 1)];
      }
    }
    first_ = bytes[0];
    second_ = bytes[1];
    drive.write(kFirst, first_);
    drive.write(kSecond, second_);
    ToolRun r = run_tool(answers_, options());
    MergeResult expected = in_memory_merge(first_, second_);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_LT(r.seconds, 5.0 * kSlowdown);
    ASSERT_EQ(r.out, kDialogue + expected.console) << round;
    ASSERT_EQ(drive.read(kOutput), expected.merged) << round;
    expect_inputs_intact();
  }
}

}  // namespace
}  // namespace quorvane::testing
