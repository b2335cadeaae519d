// The built tool under faults: writes that fail one after another, inputs that
// change while they are read, standard streams closed or broken, and inputs
// no drawing program writes. Each run must end within seconds, with its
// status and message, the inputs as they were, and no merged file left behind
// unless it is complete.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <thread>
#include <utility>

#include "dialogue.h"
#include "drawings.h"
#include "in_memory_merge.h"
#include "no_new_file.h"
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
// written, the new file is made whole aside and copied over the earlier one
// at the end: a run that fails, is refused or is interrupted before that
// leaves the earlier file byte for byte as it was; a copy that fails midway
// empties it and says so.
TEST_F(Faults, AFolderThatTakesNoNewFile) {
  if (under_wine()) GTEST_SKIP() << "Linux's permissions";
  std::mt19937 rng(3);
  first_ = contour_drawing(rng, 30000, false);  // more console text than a pipe holds
  drive.write(kFirst, first_);
  const std::string output = drive.path() + "/" + kOutput;
  const std::string merged = in_memory_merge(first_, second_).merged;
  // Longer than a converted file, shorter than the merged one; not text.
  const std::string earlier = "an earlier merge\r\n" + std::string(100000, '\0') + "\x1a end";
  drive.write(kOutput, earlier);
  here.write("plan.dxf",
             "  0\nSECTION\n  2\nENTITIES\n  0\nLWPOLYLINE\n  8\nA\n 10\n1.5\n 20\n2\n"
             "  0\nENDSEC\n  0\nEOF\n");
  here.write("binary.dxf", std::string("AutoCAD Binary DXF\r\n\x1a\0", 22) + "\x12\x34");
  RunOptions convert = options();
  convert.arguments = {"convert", "cn", "plan.dxf", "aside.dxf"};
  ASSERT_EQ(run_tool("", convert).status, 0);
  const std::string converted = here.read("aside.dxf");
  const std::string refused_first = first_ + "  0\nPOLYLINE\n  8\nL\n 66\n1\n 10\n0.0\n";
  const MergeResult refusal = in_memory_merge(refused_first, second_);
  ASSERT_EQ(refusal.refused, 1);

  NoNewFile closed(folder());
  if (!closed) GTEST_SKIP() << "this folder cannot be closed to new files here";
  std::atomic<int> tool{0};
  const std::string cannot_write =
      failure("cannot write", "c:\\images\\site4\\northcnha.dxf", kOutput, "Input/output error");
  const struct {
    const char* name;
    std::function<void(RunOptions&)> set;
    std::string first;  // the first drawing, if not the usual one
    int status, signal;
    std::string err, left;  // what the failure says, and what the earlier file then holds
  } cases[] = {
      {"a broken pipe mid-run",
       [](RunOptions& o) {
         o.hold_at = "\n\tTreatment\n";
         o.while_held = [] { return false; };
       },
       "", 1, 0, "quorvane_tool: cannot write to standard output: Broken pipe\n", earlier},
      {"an interrupt mid-run",
       [&](RunOptions& o) {
         o.beside = [&](int pid) { tool = pid; };
         o.hold_at = "\n\tTreatment\n";
         o.while_held = [&] {
           while (tool == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
           kill(tool, SIGTERM);
           return true;
         };
       },
       "", -1, SIGTERM, "", earlier},
      {"a merge refused for its first drawing's layout", [](RunOptions&) {}, refused_first, 1, 0,
       refusal_start(drive.path(), 1, refusal.line) +
           "expected an integer value, found 0.0; convert it first: quorvane_tool convert cn "
           "INPUT OUTPUT, or merge with --convert\n",
       earlier},
      {"a conversion refused",
       [&](RunOptions& o) {
         o.arguments = {"convert", "cn", "binary.dxf", output};
       },
       "", 1, 0,
       "quorvane_tool: cannot convert binary.dxf: line 1: the binary drawing ends inside the "
       "value of the group code 18: it may have been cut short\n",
       earlier},
      {"a file too large for this run, where it is made first",
       [](RunOptions& o) { o.file_size_limit = 100000; }, "", 1, 0,
       failure("cannot write", "c:\\images\\site4\\northcnha.dxf", kOutput,
               "File too large in the system's temporary folder, where it is made first"),
       earlier},
      {"a copy over it that fails at its first byte",
       [](RunOptions& o) { o.pwrite_fails_from = 0; }, "", 1, 0, cannot_write, earlier},
      {"a copy over it that fails midway", [](RunOptions& o) { o.pwrite_fails_from = 1; }, "", 1, 0,
       cannot_write.substr(0, cannot_write.size() - 1) +
           "; the merged file c:\\images\\site4\\northcnha.dxf (" + output +
           ") was being written over in place, as its folder takes no new file, and is left "
           "empty\n",
       ""},
      {"a merge", [](RunOptions&) {}, "", 0, 0, "", merged},
      {"a conversion",
       [&](RunOptions& o) {
         o.arguments = {"convert", "cn", "plan.dxf", output};
       },
       "", 0, 0, "", converted},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    drive.write(kOutput, earlier);
    drive.write(kFirst, c.first.empty() ? first_ : c.first);
    RunOptions o = options();
    c.set(o);
    tool = 0;
    ToolRun r = run_tool(o.arguments.empty() ? answers_ : "", o);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.signal, c.signal);
    EXPECT_EQ(r.err, c.err);
    EXPECT_TRUE(drive.read(kOutput) == c.left);
    EXPECT_EQ(hidden_files(folder()), "");
    EXPECT_LT(r.seconds, 5.0 * kSlowdown);
  }
  drive.write(kFirst, first_);

  // Permissions, which hold nothing for root.
  if (NoNewFile::root()) return;
  for (mode_t mode : {0200, 0444}) {  // may only be written: written over; read-only: refused
    chmod(output.c_str(), mode);
    ToolRun r = run_tool(answers_, options());
    chmod(output.c_str(), 0644);
    if (mode == 0200) {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_TRUE(drive.read(kOutput) == merged);
    } else {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, failure("cannot create", "c:\\images\\site4\\northcnha.dxf", kOutput,
                               "Permission denied"));
    }
  }
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
                           "convert it first: quorvane_tool convert ha INPUT OUTPUT, or merge with --convert"));
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

// Once the merged file is in place, a run that draws its picture is not
// over: an interrupt while the picture waits for its reader (a FIFO) ends
// the run, the merged file whole and in place.
TEST_P(Interrupts, WhileThePictureIsDrawnLeaveTheMergedFileWhole) {
  if (under_wine()) GTEST_SKIP() << "Linux's signals";
  const int signal = GetParam();
  const std::string picture = here.path() + "/p.svg";
  ASSERT_EQ(mkfifo(picture.c_str(), 0600), 0);
  RunOptions held = options();
  held.arguments = {"merge", "site4", "north", "north", "north", "--preview", picture};
  held.beside = [&](int pid) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((!drive.exists(kOutput) || !hidden_files(folder()).empty()) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, signal);
    // A run that held the interrupt would go on from here: let it, reading
    // its picture until it has ended, however far it got.
    const int fd = open(picture.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    char piece[65536];
    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (fd >= 0 && std::chrono::steady_clock::now() < deadline) {
      if (read(fd, piece, sizeof piece) > 0) continue;
      if (kill(pid, 0) != 0) break;  // ended, and reaped
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (fd >= 0) close(fd);
  };
  ToolRun r = run_tool("", held);
  EXPECT_EQ(r.signal, signal);
  EXPECT_TRUE(drive.read(kOutput) == in_memory_merge(first_, second_).merged);
  EXPECT_EQ(hidden_files(folder()), "");
  EXPECT_EQ(hidden_files(here.path()), "");
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
// not fit fails the run, and the earlier file stays, written over in place
// or not.
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

  // Where the folder takes no new file, the merged file is made aside and
  // room for it reserved before a byte of the earlier one changes.
  {
    NoNewFile closed(disk.path() + "/images/site4");
    ASSERT_TRUE(closed) << "a folder of this file system cannot be made immutable";
    r = run_tool(answers_, on_disk);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quorvane_tool: cannot write c:\\images\\site4\\northcnha.dxf (" +
                         disk.path() + "/" + kOutput + "): the disk is full\n");
    EXPECT_EQ(disk.read(kOutput), "an earlier merge");
    std::filesystem::remove(disk.path() + "/filler");
    r = run_tool(answers_, on_disk);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(disk.read(kOutput) == in_memory_merge(first_, second_).merged);
    EXPECT_EQ(hidden_files(disk.path() + "/images/site4"), "");
  }
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
