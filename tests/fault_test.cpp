// The built tool under faults: writes that fail one after another, inputs that
// change while they are read, standard streams closed or broken, and inputs
// no drawing program writes. Each run must end within seconds, with its
// status and message, the inputs as they were, and no merged file left behind
// unless it is complete.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <utility>
#include <fstream>
#include <functional>
#include <random>
#include <thread>

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
    first_ = contour_drawing(rng, 4000, false);
    second_ = ha_drawing(rng, 1000, false);
    drive.write(kFirst, first_);
    drive.write(kSecond, second_);
  }
  RunOptions options() { return RunOptions(here.path(), drive.path()); }
  std::string folder() const { return drive.path() + "/images/site4"; }
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
  const std::string merged = drive.read(kOutput);
  const long size = static_cast<long>(merged.size());
  ASSERT_GT(size, 3 * 256 * 1024) << "the merged file should take several buffers";
  for (long limit : {0L, 1L, 4095L, 262143L, 262144L, 262145L, 524288L, 786433L, size - 1}) {
    RunOptions faulty = options();
    faulty.file_size_limit = limit;
    ToolRun r = run_tool(answers_, faulty);
    EXPECT_EQ(r.status, 1) << limit << ", ended by signal " << r.signal;
    EXPECT_EQ(r.err, failure("cannot write", "c:\\images\\site4\\northcnha.dxf", kOutput,
                             "File too large"))
        << limit;
    EXPECT_TRUE(drive.read(kOutput) == merged) << limit;  // the earlier merge, untouched
    EXPECT_EQ(hidden_files(folder()), "") << limit;
    EXPECT_LT(r.seconds, 5.0 * kSlowdown);
  }
  expect_inputs_intact();
}

// The first input changing while the run is held in its survey (its console
// text not read, more of it to come than the pipe holds). Removed, it still
// merges whole: both of its readings were opened at the start. Cut short,
// inside its last page or far before, or rewritten in place, it fails the
// run, and the earlier merged file stays.
TEST_F(Faults, TheFirstInputChangingWhileItIsRead) {
  if (under_wine()) GTEST_SKIP() << "Linux's files";
  std::mt19937 rng(3);
  first_ = contour_drawing(rng, 30000, false);
  const std::string input = drive.path() + "/" + kFirst;
  const struct {
    const char* name;
    std::function<void()> change;
  } cases[] = {
      {"removed", [&] { std::filesystem::remove(input); }},
      {"cut far before its end", [&] { std::filesystem::resize_file(input, 1000); }},
      {"cut inside its last page",
       [&] { std::filesystem::resize_file(input, first_.size() - 10); }},
      {"rewritten in place",
       [&] {
         std::string other = first_;
         std::replace(other.begin(), other.end(), '7', '3');
         std::ofstream(input, std::ios::binary | std::ios::trunc) << other;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    drive.write(kFirst, first_);
    drive.write(kOutput, "an earlier merge");
    RunOptions changing = options();
    changing.hold_at = "\n\tTreatment\n";
    changing.while_held = [&] {
      c.change();
      return true;
    };
    ToolRun r = run_tool(answers_, changing);
    if (c.name == cases[0].name) {
      MergeResult expected = in_memory_merge(first_, second_);
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, kDialogue + expected.console);
      EXPECT_TRUE(drive.read(kOutput) == expected.merged);
    } else {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, failure("cannot read", "c:\\images\\site4\\northcn.dxf", kFirst,
                               "it changed while it was being merged"));
      EXPECT_TRUE(drive.read(kOutput) == "an earlier merge");
    }
    EXPECT_EQ(hidden_files(folder()), "");
    EXPECT_LT(r.seconds, 5.0 * kSlowdown);
  }
  EXPECT_EQ(drive.read(kSecond), second_);
}

TEST_F(Faults, StandardStreamsClosedOrBroken) {
  drive.write(kOutput, "an earlier merge");
  RunOptions no_input = options();
  no_input.close_stdin = true;
  ToolRun r = run_tool(answers_, no_input);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, shown_as("quorvane_tool: cannot read the answers: Bad file descriptor\n"));
  EXPECT_EQ(drive.read(kOutput), "an earlier merge");

  // The reader of standard output goes away in the middle of the run.
  std::mt19937 rng(3);
  first_ = contour_drawing(rng, 30000, false);
  drive.write(kFirst, first_);
  RunOptions broken = options();
  broken.hold_at = "\n\tTreatment\n";
  broken.while_held = [] { return false; };
  r = run_tool(answers_, broken);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, shown_as("quorvane_tool: cannot write to standard output: Broken pipe\n"));
  EXPECT_EQ(drive.read(kOutput), "an earlier merge");
  EXPECT_EQ(hidden_files(folder()), "");
  EXPECT_LT(r.seconds, 5.0 * kSlowdown);
  expect_inputs_intact();
}

// Where the folder takes no new file but the earlier merged file may be
// written, it is written in place; a run that then fails empties it and says so.
TEST_F(Faults, AFolderThatTakesNoNewFile) {
  if (under_wine()) GTEST_SKIP() << "Linux's permissions";
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not hold for root";
  std::mt19937 rng(3);
  first_ = contour_drawing(rng, 30000, false);  // more console text than a pipe holds
  drive.write(kFirst, first_);
  drive.write(kOutput, "an earlier merge");
  chmod(folder().c_str(), 0555);
  ToolRun r = run_tool(answers_, options());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(drive.read(kOutput) == in_memory_merge(first_, second_).merged);
  EXPECT_EQ(hidden_files(folder()), "");

  RunOptions broken = options();
  broken.hold_at = "\n\tTreatment\n";
  broken.while_held = [] { return false; };
  r = run_tool(answers_, broken);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "quorvane_tool: cannot write to standard output: Broken pipe; the merged file "
            "c:\\images\\site4\\northcnha.dxf (" +
                drive.path() + "/" + kOutput +
                ") was written in place, as its folder takes no new file, and is left "
                "empty\n");
  EXPECT_EQ(drive.read(kOutput), "");

  chmod(drive.path().c_str(), 0755);
  chmod(folder().c_str(), 0755);
  chmod((drive.path() + "/" + kOutput).c_str(), 0444);  // read-only: refused, as before
  r = run_tool(answers_, options());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, failure("cannot create", "c:\\images\\site4\\northcnha.dxf", kOutput,
                           "Permission denied"));
  chmod((drive.path() + "/" + kOutput).c_str(), 0200);  // writable, not readable: replaced
  r = run_tool(answers_, options());
  EXPECT_EQ(r.status, 0) << r.err;

  // A conversion whose header is known only at the end, written in place: read
  // back where the file may be read, made aside first where it may only be written.
  here.write("plan.dxf",
             "  0\nSECTION\n  2\nENTITIES\n  0\nLWPOLYLINE\n  8\nA\n 10\n1.5\n 20\n2\n"
             "  0\nENDSEC\n  0\nEOF\n");
  RunOptions convert = options();
  convert.arguments = {"convert", "cn", "plan.dxf", "aside.dxf"};
  ASSERT_EQ(run_tool("", convert).status, 0);
  const std::string output = drive.path() + "/" + kOutput;
  chmod(folder().c_str(), 0555);
  for (mode_t mode : {0644, 0200}) {
    chmod(output.c_str(), mode);
    convert.arguments = {"convert", "cn", "plan.dxf", output};
    r = run_tool("", convert);
    EXPECT_EQ(r.status, 0) << r.err;
    chmod(output.c_str(), 0644);
    EXPECT_EQ(drive.read(kOutput), here.read("aside.dxf")) << mode;
  }
  chmod(folder().c_str(), 0755);
}

// Memory refused: one line, status 1, the earlier file as it was and no
// temporary left, whichever thread asked for it.
TEST_F(Faults, RunningOutOfMemory) {
  if (under_wine()) GTEST_SKIP() << "Linux's limits";
  if (kSlowdown > 1) GTEST_SKIP() << "a sanitizer's runtime takes more address space than the limit";
  here.write("long.dxf", "999\n" + std::string(std::size_t{60} << 20, 'x') +
                             "\n  0\nSECTION\n  2\nENTITIES\n  0\nENDSEC\n  0\nEOF\n");
  here.write("out.dxf", "an earlier file");
  RunOptions limited = options();
  limited.memory_limit = 100L << 20;
  limited.arguments = {"convert", "cn", "long.dxf", "out.dxf"};
  ToolRun r = run_tool("", limited);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "quorvane_tool: out of memory: the run stops, and the file it was writing is not put "
            "in place\n");
  EXPECT_EQ(here.read("out.dxf"), "an earlier file");
  EXPECT_EQ(hidden_files(here.path()), "");
}

// A fault far after the keyword it is told at, behind a run of blank lines in
// a second drawing read through a FIFO: the keyword's line is kept, not the
// bytes after it, so the run is refused in little memory.
TEST_F(Faults, AFaultAfterManyBlankLinesIsToldInLittleMemory) {
  if (under_wine()) GTEST_SKIP() << "Linux's limits";
  if (kSlowdown > 1) GTEST_SKIP() << "a sanitizer's runtime takes more address space than the limit";
  const std::string fifo = drive.path() + "/" + kSecond;
  std::filesystem::remove(fifo);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  RunOptions limited = options();
  limited.memory_limit = 200L << 20;
  limited.beside = [&](int) {
    int fd = open_fifo_for_writing(fifo);
    if (fd < 0) return;
    const std::string open = "POLYLINE\n8\nHA_6292\n66\n1\n70\n0\n40\n0\n0\nPOLYLINE\n";
    const std::string blank(1 << 20, '\n');
    bool written = write(fd, open.data(), open.size()) == static_cast<ssize_t>(open.size());
    for (int i = 0; i < 300 && written; ++i) {
      written = write(fd, blank.data(), blank.size()) == static_cast<ssize_t>(blank.size());
    }
    if (written) written = write(fd, "8\nHA_6292\n", 10) == 10;
    close(fd);
  };
  ToolRun r = run_tool(answers_, limited);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, failure("cannot merge", "c:\\images\\site4\\northha.dxf", kSecond,
                           "line 11: a POLYLINE before the SEQEND of the polyline before it; "
                           "convert it first: quorvane_tool convert ha INPUT OUTPUT"));
  EXPECT_EQ(hidden_files(folder()), "");
}

// Interrupts at a point the test holds the run at: the second drawing is a
// FIFO that has given half of its bytes, and the merged file's temporary is
// there. The run dies by the signal, the earlier merged file stays, and only
// a kill leaves the temporary behind.
class Interrupts : public Faults, public ::testing::WithParamInterface<int> {};

TEST_P(Interrupts, LeaveTheEarlierMergedFile) {
  if (under_wine()) GTEST_SKIP() << "Linux's signals";
  const int signal = GetParam();
  // A merge over an earlier file, one without, and a conversion of the FIFO
  // over an earlier file: each held while it reads the FIFO.
  for (const auto& [earlier, convert] : {std::pair{true, false}, {false, false}, {true, true}}) {
    SCOPED_TRACE(convert ? "a conversion" : earlier ? "an earlier merged file" : "no earlier merged file");
    const std::string fifo = drive.path() + "/" + kSecond;
    std::filesystem::remove(fifo);
    std::filesystem::remove(drive.path() + "/" + kOutput);
    for (const auto& entry : std::filesystem::directory_iterator(folder())) {
      if (entry.path().filename().string()[0] == '.') std::filesystem::remove(entry.path());
    }
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    if (earlier) drive.write(kOutput, "an earlier merge");
    RunOptions held = options();
    if (convert) held.arguments = {"convert", "ha", fifo, drive.path() + "/" + kOutput};
    held.beside = [&](int pid) {
      int fd = open_fifo_for_writing(fifo);
      if (fd < 0) return;
      ssize_t half = write(fd, second_.data(), second_.size() / 2);
      (void)half;
      auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (hidden_files(folder()).empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      kill(pid, signal);
      close(fd);
    };
    ToolRun r = run_tool(convert ? "" : answers_, held);
    EXPECT_EQ(r.signal, signal);
    EXPECT_EQ(r.err, "");
    if (earlier) {
      EXPECT_EQ(drive.read(kOutput), "an earlier merge");
    } else {
      EXPECT_FALSE(drive.exists(kOutput));
    }
    const std::string left = hidden_files(folder());
    if (signal == SIGKILL) {
      EXPECT_EQ(left.rfind(".northcnha.dxf.", 0), 0u) << left;
    } else {
      EXPECT_EQ(left, "");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Signals, Interrupts,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGKILL),
                         [](const auto& info) {
                           switch (info.param) {
                             case SIGINT:
                               return std::string("Int");
                             case SIGTERM:
                               return std::string("Term");
                             case SIGHUP:
                               return std::string("Hup");
                             case SIGQUIT:
                               return std::string("Quit");
                             default:
                               return std::string("Kill");
                           }
                         });

// A small disk: a merged file that fits beside the earlier one is written,
// whatever room the second drawing's part would have needed; one that does
// not fit fails the run, and the earlier file stays.
TEST_F(Faults, ASmallDisk) {
  if (under_wine()) GTEST_SKIP() << "mounts a Linux file system";
  TempFolder disk;
  const std::string size = std::to_string(first_.size() + second_.size() + 5 * 1024 * 1024);
  if (mount("tmpfs", disk.path().c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0) {
    GTEST_SKIP() << "no file system can be mounted here: " << std::strerror(errno);
  }
  disk.write(kFirst, first_);
  disk.write(kSecond, second_);
  disk.write(kOutput, "an earlier merge");
  RunOptions on_disk(here.path(), disk.path());
  ToolRun r = run_tool(answers_, on_disk);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(disk.read(kOutput) == in_memory_merge(first_, second_).merged);

  // Filled up to less than the merged file needs.
  disk.write(kOutput, "an earlier merge");
  disk.write("filler", std::string(first_.size() + second_.size() + 4 * 1024 * 1024, 'f'));
  r = run_tool(answers_, on_disk);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quorvane_tool: cannot write c:\\images\\site4\\northcnha.dxf (" + disk.path() +
                       "/" + kOutput + "): the disk is full\n");
  EXPECT_EQ(disk.read(kOutput), "an earlier merge");
  EXPECT_EQ(hidden_files(disk.path() + "/images/site4"), "");
  umount(disk.path().c_str());
}

TEST_F(Faults, ATokenOf100MegabytesIsCopiedWhole) {
  std::string token(100 * 1000 * 1000, 'T');
  first_ = "POLYLINE\n  8\nL\n 66\n1\n 10\n0\n 20\n0\n 30\n0\n  0\nVERTEX\n  8\n" + token +
           "\n 70\n    32\n 10\n1.5\n 20\n2.5\n 30\n-3.5\n  0\nSEQEND\n";
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
    EXPECT_LT(r.seconds, 5.0 * kSlowdown);
    if (expected.refused != 0) {  // refused where the merge in memory refuses it
      std::string prefix = refusal_start(drive.path(), expected.refused, expected.line);
      ASSERT_EQ(r.status, 1) << round;
      ASSERT_EQ(r.err.substr(0, prefix.size()), prefix) << round;
      continue;
    }
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(r.out, kDialogue + expected.console) << round;
    ASSERT_EQ(drive.read(kOutput), expected.merged) << round;
    expect_inputs_intact();
  }
}

}  // namespace
}  // namespace quorvane::testing
