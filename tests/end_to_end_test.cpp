// The built tool, run as an operator runs it: whole console texts, whole
// merged files, statuses and the files left behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "dialogue.h"
#include "drawings.h"
#include "reference_model.h"
#include "run_tool.h"
#include "samples.h"

namespace quorvane::testing {
namespace {

// What a FIFO gives until its writer closes it, or 30 s pass.
std::string read_fifo(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  std::string bytes;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  bool written = false;  // before its writer comes, a FIFO reads as ended
  while (fd >= 0 && std::chrono::steady_clock::now() < deadline) {
    pollfd ready{fd, POLLIN, 0};
    poll(&ready, 1, 20);
    char buffer[65536];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      bytes.append(buffer, static_cast<std::size_t>(n));
      written = true;
    } else if (n == 0 && written) {
      break;
    } else if (n == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  if (fd >= 0) close(fd);
  return bytes;
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    drive.write(kFirst, kContour);
    drive.write(kSecond, kHa);
  }
  ToolRun run(const std::string& answers) { return run_tool(answers, {here.path(), drive.path()}); }
  // The line a failure gives, for a path under the drive folder.
  std::string failure(const std::string& what, const std::string& composed,
                      const std::string& relative, const std::string& why) {
    return shown_as("quorvane_tool: " + what + " " + composed + " (" +
                    message_path(drive.path(), relative, composed) + "): " + why + "\n");
  }
  // Starts the tool on a pseudo-terminal of its own; returns its process.
  pid_t start_on_terminal(int& master) {
    termios raw{};
    cfmakeraw(&raw);  // no echo and no newline translation: the screen holds the tool's bytes
    pid_t child = forkpty(&master, nullptr, &raw, nullptr);
    if (child == 0) {
      if (chdir(here.path().c_str()) != 0) _exit(126);
      setenv("QUORVANE_DRIVE_C", drive.path().c_str(), 1);
      execl(tool_executable(), "quorvane_tool", static_cast<char*>(nullptr));
      _exit(127);
    }
    return child;
  }
  void expect_inputs_intact() {
    EXPECT_EQ(drive.read(kFirst), kContour);
    EXPECT_EQ(drive.read(kSecond), kHa);
  }

  TempFolder drive;  // what c: stands for
  TempFolder here;   // the working folder
};

// Run after run, each over the merged file of the run before: the threads
// of a run never change its bytes, its console or its status.
TEST_F(EndToEnd, MergesTheSampleDrawings) {
  for (int round = 0; round < 25; ++round) {
    ToolRun r = run("site4\nnorth\nnorth\nnorth\n");
    ASSERT_EQ(r.status, 0) << "round " << round << ": " << r.err;
    // These small drawings do not overlap: the merged file is whole, and the operator warned.
    ASSERT_EQ(r.err, shown_as(kSampleWarning));
    ASSERT_EQ(r.out, shown_as(kDialogue + kMergeConsole));
    ASSERT_EQ(drive.read(kOutput), kMerged);
  }
  EXPECT_EQ(hidden_files(drive.path() + "/images/site4"), "");
  expect_inputs_intact();
}

TEST_F(EndToEnd, DrawingsCopiedFromWindowsAreFoundWhateverTheirCase) {
  drive.write("images/Site7/NORTHCN.DXF", kContour);
  drive.write("images/Site7/NorthHA.dxf", kHa);
  ToolRun r = run("site7 north north north");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, shown_as(kDialogue + kMergeConsole));
  EXPECT_EQ(drive.read("images/Site7/northcnha.dxf"), kMerged);  // the name as composed

  if (under_wine()) return;  // Windows names ignore case: it picks one itself
  drive.write("images/Site7/northCN.dxf", kContour);
  r = run("site7 north north other");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quorvane_tool: cannot open c:\\images\\site7\\northcn.dxf (" + drive.path() +
                       "/images/site7/northcn.dxf): more than one file matches: " + drive.path() +
                       "/images/Site7/NORTHCN.DXF, " + drive.path() +
                       "/images/Site7/northCN.dxf\n");
  EXPECT_FALSE(drive.exists("images/Site7/othercnha.dxf"));
}

TEST_F(EndToEnd, AnswersAreWordsWhateverTheLinesAndBlanks) {
  for (const char* answers :
       {"site4 north north north", "\n\n  site4\r\n\n\tnorth \r\n north\vnorth",
        "site4 north\nnorth north and more"}) {
    ToolRun r = run(answers);
    EXPECT_EQ(r.status, 0) << answers;
    EXPECT_EQ(r.out, shown_as(kDialogue + kMergeConsole)) << answers;
    EXPECT_EQ(drive.read(kOutput), kMerged) << answers;
  }
}

TEST_F(EndToEnd, WithoutQuorvaneDriveCTheCurrentFolderIsTheDrive) {
  if (under_wine()) GTEST_SKIP() << "on Windows c: is the drive itself";
  ToolRun r = run_tool("site4 north north merged", {drive.path(), ""});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(drive.read("images/site4/mergedcnha.dxf"), kMerged);
}

// The merged file takes its name once whole: an earlier file of that name is
// replaced with its permission bits, a symbolic link is followed and stays,
// and a new file gets 0666 less the umask. Nothing else is left in the folder.
TEST_F(EndToEnd, AnExistingOutputIsReplaced) {
  const struct {
    const char* name;
    const char* link;  // where kOutput leads, if it is a link
    int earlier_mode;  // the permission bits of an earlier file, or -1 for none
  } cases[] = {
      {"an earlier file", nullptr, 0640},
      {"a new file", nullptr, -1},
      {"a link to an earlier file", "elsewhere/merged.dxf", 0604},
      {"a dangling link", "elsewhere/new.dxf", -1},
      {"an earlier file of another owner, set-user-ID", nullptr, 04751},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder fresh;
    fresh.write(kFirst, kContour);
    fresh.write(kSecond, kHa);
    std::string written = fresh.path() + "/" + kOutput;
    if (c.link != nullptr) {
      if (under_wine()) continue;  // links are followed by Linux, not by Windows
      std::filesystem::create_directories(fresh.path() + "/elsewhere");
      ASSERT_EQ(symlink((fresh.path() + "/" + c.link).c_str(), written.c_str()), 0);
      written = fresh.path() + "/" + c.link;
    }
    const bool other_owner = c.earlier_mode == 04751;
    if (other_owner && (under_wine() || geteuid() != 0)) continue;  // only root gives a file away
    if (c.earlier_mode >= 0) {
      std::ofstream(written, std::ios::binary) << std::string(100000, 'z');
      if (other_owner) {
        ASSERT_EQ(chown(written.c_str(), 65534, 65534), 0);
      }
      chmod(written.c_str(), static_cast<mode_t>(c.earlier_mode));
    }
    ToolRun r = run_tool("site4 north north north", {here.path(), fresh.path()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(written), kMerged);
    EXPECT_EQ(fresh.read(kOutput), kMerged);
    if (c.link != nullptr) {
      EXPECT_TRUE(std::filesystem::is_symlink(fresh.path() + "/" + kOutput));
    }
    EXPECT_EQ(hidden_files(fresh.path() + "/images/site4"), "");
    if (under_wine()) continue;
    mode_t mask = umask(0);
    umask(mask);
    struct stat info {};
    stat(written.c_str(), &info);
    // The earlier file's owner and permission bits, never a set-user-ID bit.
    EXPECT_EQ(info.st_mode & 07777,
              c.earlier_mode >= 0 ? static_cast<mode_t>(c.earlier_mode & 0777) : (0666 & ~mask));
    if (other_owner) {
      EXPECT_EQ(info.st_uid, 65534u);
    }
  }
}

TEST_F(EndToEnd, LongNamesAreNeitherCutNorOverflowed) {
  std::string name(200, 'n');
  drive.write("images/site4/" + name + "cn.dxf", kContour);
  drive.write("images/site4/" + name + "ha.dxf", kHa);
  ToolRun r = run("site4 " + name + " " + name + " " + name);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(drive.read("images/site4/" + name + "cnha.dxf"), kMerged);

  if (under_wine()) return;  // a Windows path is limited to 260 characters
  std::string folder(100000, 'f');
  r = run(folder + " north north north");
  EXPECT_EQ(r.status, 1);
  std::string composed = "c:\\images\\" + folder + "\\northcn.dxf";
  EXPECT_EQ(r.err, failure("cannot open", composed, "images/" + folder + "/northcn.dxf",
                           "File name too long"));
}

// A drawing laid out otherwise than the merge reads it is refused at its
// line: one line on standard error, status 1, and no merged file under its
// name (an earlier one stays).
TEST_F(EndToEnd, ADrawingNotLaidOutAsTheMergeReadsItIsRefusedAtItsLine) {
  const struct {
    std::string first, second, message;
  } cases[] = {
      {"POLYLINE\n", kHa,
       "cannot merge c:\\images\\site4\\northcn.dxf (" +
           message_path(drive.path(), kFirst, "c:\\images\\site4\\northcn.dxf") +
           "): line 2: the drawing ends inside a POLYLINE; convert it first: quorvane_tool convert cn "
           "INPUT OUTPUT, or merge with --convert"},
      {kContour, "  0\r\nPOLYLINE\r\n  8\r\nHA_6292\r\n 66\r\n1\r\n 10\r\n0.0\r\n",
       "cannot merge c:\\images\\site4\\northha.dxf (" +
           message_path(drive.path(), kSecond, "c:\\images\\site4\\northha.dxf") +
           "): line 8: expected an integer value, found 0.0; convert it first: quorvane_tool "
           "convert ha INPUT OUTPUT, or merge with --convert"},
      {kContour.substr(0, kContour.find("SEQEND")), kHa,
       "cannot merge c:\\images\\site4\\northcn.dxf (" +
           message_path(drive.path(), kFirst, "c:\\images\\site4\\northcn.dxf") + "): line " +
           std::to_string(
               std::count(kContour.begin(), kContour.begin() + kContour.find("SEQEND"), '\n') + 1) +
           ": the last polyline has no SEQEND; convert it first: quorvane_tool convert cn INPUT "
           "OUTPUT, or merge with --convert"},
  };
  for (const auto& c : cases) {
    drive.write(kFirst, c.first);
    drive.write(kSecond, c.second);
    drive.write(kOutput, "an earlier merge");
    ToolRun r = run("site4 north north north");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, shown_as("quorvane_tool: " + c.message + "\n"));
    EXPECT_EQ(drive.read(kOutput), "an earlier merge");
    EXPECT_EQ(hidden_files(drive.path() + "/images/site4"), "");
  }
}

// A Ctrl-Z ends a drawing's text, as the DOS programs that wrote one at the
// end of a file meant it; what may follow it is padding (blanks, Ctrl-Z and
// NUL bytes). A drawing that goes on after it would lose what follows: it is
// refused at the Ctrl-Z's line.
TEST_F(EndToEnd, CtrlZAndCrLfInTheInputs) {
  using namespace std::string_literals;
  drive.write(kFirst, crlf(kContour) + "\x1a\r\n\x1a\0\0"s);
  drive.write(kSecond, crlf(kHa) + "\x1a\x1a");
  ToolRun r = run("site4 north north north");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, shown_as(kDialogue + kMergeConsole));
  EXPECT_EQ(drive.read(kOutput), kMerged);

  drive.write(kFirst, crlf(kContour) + "\x1a" + "POLYLINE\r\n  8\r\nLOST\r\n");
  r = run("site4 north north north");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, failure("cannot merge", "c:\\images\\site4\\northcn.dxf", kFirst,
                           "line " + std::to_string(std::count(kContour.begin(), kContour.end(), '\n') + 1) +
                               ": a Ctrl-Z byte before the drawing's end: what follows it would not "
                               "be read; convert it first: quorvane_tool convert cn INPUT OUTPUT, "
                               "or merge with --convert"));
  EXPECT_EQ(drive.read(kOutput), kMerged);
}

TEST_F(EndToEnd, AMissingInputStopsTheRunBeforeTheOutputIsMade) {
  ToolRun r = run("site4 south north north");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, shown_as(kBanner + kAskFolder + kAskFirst));
  EXPECT_EQ(r.err, failure("cannot open", "c:\\images\\site4\\southcn.dxf",
                           "images/site4/southcn.dxf", "No such file or directory"));
  EXPECT_FALSE(drive.exists(kOutput));

  r = run("site4 north south north");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, shown_as(kBanner + kAskFolder + kAskFirst + kAskSecond));
  EXPECT_EQ(r.err, failure("cannot open", "c:\\images\\site4\\southha.dxf",
                           "images/site4/southha.dxf", "No such file or directory"));
  EXPECT_FALSE(drive.exists(kOutput));
  EXPECT_FALSE(drive.exists("images/site4/southcnha.dxf"));
}

// A folder is no drawing; a FIFO or a device cannot be the first drawing,
// which is read twice. Both are refused before the merged file is made.
TEST_F(EndToEnd, AnInputThatIsAFolderOrAFifoIsRefused) {
  std::filesystem::create_directories(drive.path() + "/images/site4/dircn.dxf");
  ToolRun r = run("site4 dir north north");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, failure("cannot open", "c:\\images\\site4\\dircn.dxf", "images/site4/dircn.dxf",
                           "Is a directory"));
  EXPECT_FALSE(drive.exists(kOutput));

  if (under_wine()) return;
  ASSERT_EQ(mkfifo((drive.path() + "/images/site4/pipecn.dxf").c_str(), 0600), 0);
  r = run("site4 pipe north north");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            failure("cannot open", "c:\\images\\site4\\pipecn.dxf", "images/site4/pipecn.dxf",
                    "it is not a regular file, and the first drawing must be read twice"));
  EXPECT_FALSE(drive.exists(kOutput));
}

TEST_F(EndToEnd, AnswersEndingEarlyStopTheRun) {
  const struct {
    const char* answers;
    const char* missing;
    std::string shown;
  } cases[] = {
      {"", "the folder name", kBanner + kAskFolder},
      {"site4\n", "the name of the file cn.dxf", kBanner + kAskFolder + kAskFirst},
      {"site4 north", "the name of the file ha.dxf", kBanner + kAskFolder + kAskFirst + kAskSecond},
      {"site4 north north \n\n  ", "the name of the resulting file", kDialogue},
  };
  for (const auto& c : cases) {
    ToolRun r = run(c.answers);
    EXPECT_EQ(r.status, 1) << c.answers;
    EXPECT_EQ(r.out, shown_as(c.shown)) << c.answers;
    EXPECT_EQ(r.err,
              shown_as(std::string("quorvane_tool: stopped before ") + c.missing + " was given\n"));
  }
  EXPECT_FALSE(drive.exists(kOutput));
  expect_inputs_intact();
}

// An answer that holds a NUL byte would cut the path composed with it (the
// merged file notes.txt\0cnha.dxf would be notes.txt): the run stops at that
// answer, before anything is created or opened for writing.
TEST_F(EndToEnd, AnAnswerHoldingANulByteStopsTheRun) {
  using namespace std::string_literals;
  const struct {
    std::string answers;
    std::string line;
  } cases[] = {
      {"site4 north north notes.txt\0\n"s,
       "the name of the resulting file notes.txt? holds a NUL byte"},
      {"site4\0 north north north\n"s, "the folder name site4? holds a NUL byte"},
      {"site4 north\0x north north\n"s, "the name of the file cn.dxf north?x holds a NUL byte"},
  };
  drive.write("images/site4/notes.txt", "the operator's notes");
  drive.write(kOutput, "an earlier merge");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    ToolRun r = run(c.answers);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, shown_as("quorvane_tool: " + c.line + ", which no name of a file may hold\n"));
    EXPECT_EQ(drive.read("images/site4/notes.txt"), "the operator's notes");
    EXPECT_EQ(drive.read(kOutput), "an earlier merge");
    EXPECT_EQ(hidden_files(drive.path() + "/images/site4"), "");
  }
  expect_inputs_intact();
}

// Names beyond ASCII, as French operators write them: answers in UTF-8 and,
// on Windows, in the ANSI code page (Windows-1252 for the Wine prefix of the
// tests), and arguments.
TEST_F(EndToEnd, NamesBeyondAscii) {
  drive.write(
      "images/\xc3\xa9t\xc3\xa9/for\xc3\xaa"
      "tcn.dxf",
      kContour);
  drive.write(
      "images/\xc3\xa9t\xc3\xa9/for\xc3\xaa"
      "tha.dxf",
      kHa);
  const std::string merged =
      "images/\xc3\xa9t\xc3\xa9/for\xc3\xaa"
      "tcnha.dxf";
  std::vector<std::string> answers = {"\xc3\xa9t\xc3\xa9 for\xc3\xaat for\xc3\xaat for\xc3\xaat\n"};
  if (under_wine()) answers.push_back("\xe9t\xe9 for\xeat for\xeat for\xeat\n");  // Windows-1252
  for (const std::string& typed : answers) {
    std::filesystem::remove(drive.path() + "/" + merged);
    ToolRun r = run(typed);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(drive.read(merged), kMerged);
  }
  std::filesystem::remove(drive.path() + "/" + merged);
  RunOptions options{here.path(), drive.path()};
  options.arguments = {"merge", "\xc3\xa9t\xc3\xa9", "for\xc3\xaat", "for\xc3\xaat",
                       "for\xc3\xaat"};
  ToolRun r = run_tool("", options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(drive.read(merged), kMerged);
}

// The command line: the four answers as arguments give the dialogue's run
// without its prompts; help and version go to standard output; anything
// else is a usage error, status 2.
TEST_F(EndToEnd, TheCommandLine) {
  ToolRun dialogue = run("site4 north north north");
  ASSERT_EQ(dialogue.status, 0);
  const std::string merged = drive.read(kOutput);
  std::filesystem::remove(drive.path() + "/" + kOutput);
  RunOptions options{here.path(), drive.path()};
  options.arguments = {"merge", "site4", "north", "north", "north"};
  ToolRun r = run_tool("", options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, shown_as(kBanner + kMergeConsole));
  EXPECT_EQ(drive.read(kOutput), merged);

  options.arguments = {"merge", "site5", "north", "north", "north"};
  r = run_tool("", options);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, failure("cannot open", "c:\\images\\site5\\northcn.dxf",
                           "images/site5/northcn.dxf", "there is no folder site5"));

  const struct {
    std::vector<std::string> arguments;
    int status;
    std::string out, err;
  } cases[] = {
      {{"--help"}, 0, "Usage:", ""},
      {{"/?"}, 0, "Usage:", ""},
      {{"--version"}, 0, "quorvane_tool 1.2.0", ""},
      {{"site4", "north", "north", "north"},
       2,
       "",
       "quorvane_tool: unknown command site4 (quorvane_tool --help shows the usage)\n"},
      {{"--x"},
       2,
       "",
       "quorvane_tool: unknown option --x (quorvane_tool --help shows the usage)\n"},
      {{"", "site4"},
       2,
       "",
       "quorvane_tool: the command is empty (quorvane_tool --help shows the usage)\n"},
  };
  for (const auto& c : cases) {
    options.arguments = c.arguments;
    r = run_tool("", options);
    EXPECT_EQ(r.status, c.status) << c.arguments[0];
    EXPECT_EQ(r.out.substr(0, c.out.size()), shown_as(c.out)) << c.arguments[0];
    EXPECT_EQ(r.err, shown_as(c.err)) << c.arguments[0];
  }
}

// A drawing of another program, converted, then merged: the converted file
// and the summary whole, and each refusal as one line with the earlier
// converted file intact.
TEST_F(EndToEnd, ConvertsADrawingOfAnotherProgramIntoOneTheMergeReads) {
  const std::string drawing = crlf(
      "  0\nSECTION\n  2\nHEADER\n  9\n$ACADVER\n  1\nAC1015\n  9\n$DWGCODEPAGE\n  3\nANSI_1252\n"
      "  0\nENDSEC\n  0\nSECTION\n  2\nENTITIES\n"
      "  0\nLWPOLYLINE\n  5\n2A\n100\nAcDbEntity\n  8\nPlot lines\n100\nAcDbPolyline\n 90\n2\n"
      " 70\n1\n 38\n4.5\n 10\n1.5\n 20\n2.25\n 42\n0.5\n 10\n-3\n 20\n4\n"
      "  0\nINSERT\n  2\nB\n"
      "  0\nLWPOLYLINE\n  8\nfor\xEAt\n 10\n7\n 20\n8\n 10\n9\n 20\n10\n"
      "  0\nENDSEC\n  0\nEOF\n");
  // The header's extents right-aligned in 24 columns.
  auto extent = [](const std::string& value) { return std::string(24 - value.size(), ' ') + value; };
  const std::string header =
      "  0\nSECTION\n  2\nHEADER\n  9\n$ACADVER\n  1\nAC1009\n  9\n$DWGCODEPAGE\n  3\nANSI_1252\n"
      "  9\n$EXTMIN\n 10\n" +
      extent("-3") + "\n 20\n" + extent("2.25") + "\n 30\n" + extent("0") +
      "\n  9\n$EXTMAX\n 10\n" + extent("9") + "\n 20\n" + extent("10") + "\n 30\n";
  const std::string entities = "  0\nSECTION\n  2\nENTITIES\n";
  const std::string cn =
      header + extent("4.5") + "\n  0\nENDSEC\n" + entities +
      "  0\nPOLYLINE\n  8\nPlot_lines\n  6\nBYLAYER\n 66\n     1\n 70\n     9\n 62\n   256\n"
      "  0\nVERTEX\n  8\nPlot_lines\n 70\n    32\n 10\n1.5\n 20\n2.25\n 30\n4.5\n"
      "  0\nVERTEX\n  8\nPlot_lines\n 70\n    32\n 10\n-3\n 20\n4\n 30\n4.5\n"
      "  0\nSEQEND\n  8\nPlot_lines\n"
      "  0\nPOLYLINE\n  8\nfor\xEAt\n  6\nBYLAYER\n 66\n     1\n 70\n     8\n 62\n   256\n"
      "  0\nVERTEX\n  8\nfor\xEAt\n 70\n    32\n 10\n7\n 20\n8\n 30\n0\n"
      "  0\nVERTEX\n  8\nfor\xEAt\n 70\n    32\n 10\n9\n 20\n10\n 30\n0\n"
      "  0\nSEQEND\n  8\nfor\xEAt\n  0\nENDSEC\n  0\nEOF\n";
  const std::string ha =
      header + extent("0") + "\n  0\nENDSEC\n" + entities +
      "  0\nPOLYLINE\n  8\nPlot_lines\n  6\nBYLAYER\n 66\n     1\n 70\n     1\n"
      "  0\nVERTEX\n  8\nPlot_lines\n 70\n     0\n 10\n1.5\n 20\n2.25\n"
      "  0\nVERTEX\n  8\nPlot_lines\n 70\n     0\n 10\n-3\n 20\n4\n"
      "  0\nSEQEND\n  8\nPlot_lines\n"
      "  0\nPOLYLINE\n  8\nHA_6292\n  6\nBYLAYER\n 66\n     1\n 70\n     0\n"
      "  0\nVERTEX\n  8\nHA_6292\n 70\n     0\n 10\n7\n 20\n8\n"
      "  0\nVERTEX\n  8\nHA_6292\n 70\n     0\n 10\n9\n 20\n10\n"
      "  0\nSEQEND\n  8\nHA_6292\n  0\nENDSEC\n  0\nEOF\n";
  const std::string summary_end =
      "  written: 2 polylines, 4 vertices\n"
      "  left out: 1 INSERT (blocks are not expanded)\n"
      "  arcs: 1 bulged segment written as straight\n"
      "  layers renamed: \"Plot lines\" as \"Plot_lines\"\n"
      "  extents: of the vertices written: the drawing has none of its own\n";
  const struct {
    std::vector<std::string> arguments;
    int status;
    std::string out, err, written;
  } cases[] = {
      {{"convert", "cn", "plan.dxf", "plancn.dxf"}, 0,
       "plan.dxf converted into plancn.dxf, the first drawing (cn) of a merge\n" + summary_end, "",
       crlf(cn)},
      {{"convert", "ha", "plan.dxf", "planha.dxf", "--layer", "FORÊT"}, 0,
       "plan.dxf converted into planha.dxf, the second drawing (ha) of a merge\n" + summary_end +
           "  on layer HA_6292, the only layer the merge keeps: the 1 polyline of layer "
           "\"FORÊT\"\n",
       "", crlf(ha)},
      {{"convert", "ha", "plan.dxf", "planha.dxf", "--layer", "PLOTS"}, 1, "",
       "quorvane_tool: cannot convert plan.dxf: no polyline of its model space is on layer "
       "\"PLOTS\"; its polylines are on \"Plot lines\" (1), \"forêt\" (1)\n",
       "an earlier file"},
      {{"convert", "ha", "plan.dxf", "planha.dxf"}, 1, "",
       "quorvane_tool: cannot convert plan.dxf: none of its polylines is on layer HA_6292, the "
       "only layer the merge keeps; they are on \"Plot lines\" (1), \"forêt\" (1): name the "
       "layer to keep with --layer NAME\n",
       "an earlier file"},
      {{"convert", "cn", "binary.dxf", "plancn.dxf"}, 1, "",
       "quorvane_tool: cannot convert binary.dxf: line 1: the binary drawing ends inside the value "
       "of the group code 18: it may have been cut short\n",
       "an earlier file"},
      {{"convert", "cn", "utf16.dxf", "plancn.dxf"}, 1, "",
       "quorvane_tool: cannot convert utf16.dxf: line 1: this drawing is saved as UTF-16 text "
       "(\"Unicode\"): save it again as DXF from the CAD program, or as ANSI or UTF-8 in a text "
       "editor (Save As, Encoding), then convert that\n",
       "an earlier file"},
      {{"convert", "cn", "comma.dxf", "plancn.dxf"}, 1, "",
       "quorvane_tool: cannot convert comma.dxf: line 36: expected a number for the group code 10, "
       "found \"1,5\\r \"\n",
       "an earlier file"},
      {{"convert", "cn", "cut.dxf", "plancn.dxf"}, 1, "",
       "quorvane_tool: cannot convert cut.dxf: line 45: the drawing ends inside its ENTITIES "
       "section, without ENDSEC and EOF: it may have been cut short\n",
       "an earlier file"},
      {{"convert", "cn", "none.dxf", "plancn.dxf"}, 1, "",
       "quorvane_tool: cannot open none.dxf: No such file or directory\n", "an earlier file"},
      {{"convert", "cn", "plan.dxf", "./plan.dxf"}, 1, "",
       "quorvane_tool: refusing to write ./plan.dxf: it is the same file as the drawing to convert, "
       "plan.dxf\n",
       drawing},
      {{"convert", "cn", "plan.dxf", "nowhere/x.dxf"}, 1, "",
       "quorvane_tool: cannot create nowhere/x.dxf: there is no folder nowhere\n",
       "<missing>"},
  };
  for (const auto& c : cases) {
    here.write("plan.dxf", drawing);
    here.write("binary.dxf", std::string("AutoCAD Binary DXF\r\n\x1a\0", 22) + "\x12\x34");
    here.write("cut.dxf", drawing.substr(0, drawing.find("  0\r\nINSERT")));
    here.write("utf16.dxf", std::string("\xFF\xFE \0 \0""0\0\r\0\n\0", 12));
    std::string comma = drawing;
    here.write("comma.dxf", comma.replace(comma.find("1.5\r\n"), 3, "1,5\r "));
    const std::string output = c.arguments[3].substr(c.arguments[3].find('/') + 1);
    if (output != "plan.dxf" && c.written != "<missing>") here.write(output, "an earlier file");
    RunOptions options(here.path(), drive.path());
    options.arguments = c.arguments;
    ToolRun r = run_tool("", options);
    EXPECT_EQ(r.status, c.status) << c.arguments[2];
    EXPECT_EQ(r.out, shown_as(c.out)) << c.arguments[2];
    EXPECT_EQ(r.err, shown_as(c.err)) << c.arguments[2];
    EXPECT_EQ(here.read(output), c.written) << c.arguments[2];
    EXPECT_EQ(hidden_files(here.path()), "") << c.arguments[2];
  }
  // A name that holds a line feed does not break the line that names it.
  if (!under_wine()) {
    RunOptions options(here.path(), drive.path());
    options.arguments = {"convert", "cn", "no\nne.dxf", "x.dxf"};
    EXPECT_EQ(run_tool("", options).err,
              "quorvane_tool: cannot open no?ne.dxf: No such file or directory\n");
  }
  // Into standard output, through a pipe or appended to a file a shell
  // opened, the summary goes to standard error: the file is written at its
  // position, never replaced.
  for (const std::string output : {"-", "/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
    if (under_wine() && output != "-") continue;
    SCOPED_TRACE(output);
    RunOptions options(here.path(), drive.path());
    options.arguments = {"convert", "cn", "plan.dxf", output};
    ToolRun r = run_tool("", options);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, crlf(cn));
    EXPECT_EQ(r.err, shown_as("plan.dxf converted into " + output +
                              ", the first drawing (cn) of a merge\n" + summary_end));
    if (under_wine()) continue;
    here.write("log.txt", "HEADER\n");
    options.stdout_appended_to = here.path() + "/log.txt";
    r = run_tool("", options);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(here.read("log.txt"), "HEADER\n" + crlf(cn));
    // Never over the drawing itself, through a descriptor either.
    options.stdout_appended_to = here.path() + "/plan.dxf";
    r = run_tool("", options);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quorvane_tool: refusing to write " + output +
                         ": it is the same file as the drawing to convert, plan.dxf\n");
    EXPECT_EQ(here.read("plan.dxf"), drawing);
  }
  // Each converted file merges, and gives what the merge of such drawings gives.
  ToolRun merged;
  for (const char* name : {"plancn.dxf", "planha.dxf"}) {
    const bool first = name[4] == 'c';
    RunOptions options(here.path(), drive.path());
    options.arguments = {"convert", first ? "cn" : "ha", "plan.dxf", name};
    if (!first) options.arguments.insert(options.arguments.end(), {"--layer", "forêt"});
    ASSERT_EQ(run_tool("", options).status, 0);
    drive.write(first ? kFirst : kSecond, here.read(name));
    options.arguments = {"merge", "site4", "north", "north", "north"};
    merged = run_tool("", options);
    EXPECT_EQ(merged.status, 0) << merged.err;
    const MergeResult expected = reference_merge(drive.read(kFirst), drive.read(kSecond));
    EXPECT_EQ(expected.refused, 0);
    EXPECT_EQ(drive.read(kOutput), expected.merged);
  }
  // merge --convert: both conversions in one run, their summaries first, then
  // the merge's text; the same merged bytes, the drawings as they were, and no
  // file of the run's own left anywhere.
  const std::string converted_merge = drive.read(kOutput);
  drive.write(kFirst, drawing);
  drive.write(kSecond, drawing);
  drive.write(kOutput, "an earlier merge");
  TempFolder temporary;
  RunOptions options(here.path(), drive.path());
  options.temporary_folder = temporary.path();
  for (const auto& arguments : {std::vector<std::string>{"merge", "--convert", "site4", "north",
                                                         "north", "north", "--layer", "forêt"},
                                {"merge", "site4", "north", "north", "north"}}) {
    options.arguments = arguments;
    ToolRun r = run_tool("", options);
    const std::string drawing_of = "c:\\images\\site4\\north";
    if (arguments[1] == "--convert") {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, shown_as(drawing_of + "cn.dxf (" +
                                message_path(drive.path(), kFirst, drawing_of + "cn.dxf") +
                                ") converted, the first drawing (cn) of this merge\n" + summary_end +
                                drawing_of + "ha.dxf (" +
                                message_path(drive.path(), kSecond, drawing_of + "ha.dxf") +
                                ") converted, the second drawing (ha) of this merge\n" + summary_end +
                                "  on layer HA_6292, the only layer the merge keeps: the 1 "
                                "polyline of layer \"forêt\"\n") +
                           merged.out);
      EXPECT_EQ(drive.read(kOutput), converted_merge);
    } else {  // the same drawing, not converted, is refused with the way to convert it
      EXPECT_EQ(r.status, 1);
      EXPECT_NE(r.err.find("; convert it first: quorvane_tool convert cn INPUT OUTPUT, or merge "
                           "with --convert"),
                std::string::npos)
          << r.err;
      EXPECT_EQ(drive.read(kOutput), converted_merge);
    }
    EXPECT_EQ(drive.read(kFirst), drawing);
    EXPECT_EQ(drive.read(kSecond), drawing);
    EXPECT_EQ(hidden_files(drive.path() + "/images/site4"), "");
    if (!under_wine()) {  // Wine keeps its temporary folder in its prefix
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temporary.path()),
                              std::filesystem::directory_iterator()),
                0);
    }
  }
}

// The code page a character is read in, as glibc's iconv reads it alone (or
// U+FFFD), and how a converted file writes it: its byte in Windows-1252, or
// '_' for a character beyond it, a control character and a blank.
struct CharacterModel {
  iconv_t from, to;
  CharacterModel(const char* page)
      : from(iconv_open("UTF-32LE", page)), to(iconv_open("CP1252", "UTF-32LE")) {}
  ~CharacterModel() {
    iconv_close(from);
    iconv_close(to);
  }
  char written(const std::string& bytes) {
    char32_t c[4] = {};
    char* in = const_cast<char*>(bytes.data());
    char* out = reinterpret_cast<char*>(c);
    std::size_t left = bytes.size(), room = sizeof c;
    iconv(from, nullptr, nullptr, nullptr, nullptr);
    if (iconv(from, &in, &left, &out, &room) == static_cast<std::size_t>(-1) ||
        iconv(from, nullptr, nullptr, &out, &room) == static_cast<std::size_t>(-1) ||
        room != sizeof c - 4 || c[0] < 0x20 || (c[0] >= 0x7F && c[0] <= 0xA0)) {
      return '_';
    }
    char byte = '_';
    in = reinterpret_cast<char*>(c);
    out = &byte;
    left = 4;
    room = 1;
    return iconv(to, &in, &left, &out, &room) == static_cast<std::size_t>(-1) ? '_' : byte;
  }
};

// Each code page that DXF names gives the same converted bytes on Linux and
// on Windows (these tests run under Wine too): every byte beyond ASCII of a
// single-byte code page, every pair of a lead byte and a trail byte of a
// double-byte one, written as glibc's iconv reads it, one character at a time,
// but where Windows reads it otherwise. A code page that DXF does not name is
// read as Windows-1252, and said so.
TEST_F(EndToEnd, EveryCodePageThatDxfNamesConvertsAlikeEverywhere) {
  const struct {
    const char* name;
    const char* glibc;
    std::vector<std::pair<int, int>> leads = {}, trails = {};  // of a double-byte code page
  } pages[] = {
      {"ASCII", "ASCII"},
      {"ISO8859-1", "ISO-8859-1"},
      {"ISO8859-2", "ISO-8859-2"},
      {"ISO8859-3", "ISO-8859-3"},
      {"ISO8859-4", "ISO-8859-4"},
      {"ISO8859-5", "ISO-8859-5"},
      {"ISO8859-6", "ISO-8859-6"},
      {"ISO8859-7", "ISO-8859-7"},
      {"ISO8859-8", "ISO-8859-8"},
      {"ISO8859-9", "ISO-8859-9"},
      {"DOS437", "CP437"},
      {"DOS850", "CP850"},
      {"DOS852", "CP852"},
      {"DOS855", "CP855"},
      {"DOS857", "CP857"},
      {"DOS860", "CP860"},
      {"DOS861", "CP861"},
      {"DOS863", "CP863"},
      {"DOS864", "CP864"},
      {"DOS865", "CP865"},
      {"DOS869", "CP869"},
      {"DOS866", "CP866"},
      {"MACINTOSH", "MACINTOSH"},
      {"ANSI_874", "CP874"},
      {"ANSI_1250", "CP1250"},
      {"ANSI_1251", "CP1251"},
      {"ANSI_1252", "CP1252"},
      {"ANSI_1253", "CP1253"},
      {"ANSI_1254", "CP1254"},
      {"ANSI_1255", "CP1255"},
      {"ANSI_1256", "CP1256"},
      {"ANSI_1257", "CP1257"},
      {"ANSI_1258", "CP1258"},
      {"DOS932", "CP932", {{0x81, 0x9F}, {0xE0, 0xFC}}, {{0x40, 0x7E}, {0x80, 0xFC}}},
      {"ANSI_932", "CP932", {{0x81, 0x9F}, {0xE0, 0xFC}}, {{0x40, 0x7E}, {0x80, 0xFC}}},
      {"GB2312", "CP936", {{0x81, 0xFE}}, {{0x40, 0x7E}, {0x80, 0xFE}}},
      {"ANSI_936", "CP936", {{0x81, 0xFE}}, {{0x40, 0x7E}, {0x80, 0xFE}}},
      {"KSC5601", "CP949", {{0x81, 0xFE}}, {{0x41, 0x5A}, {0x61, 0x7A}, {0x81, 0xFE}}},
      {"ANSI_949", "CP949", {{0x81, 0xFE}}, {{0x41, 0x5A}, {0x61, 0x7A}, {0x81, 0xFE}}},
      {"BIG5", "CP950", {{0x81, 0xFE}}, {{0x40, 0x7E}, {0xA1, 0xFE}}},
      {"ANSI_950", "CP950", {{0x81, 0xFE}}, {{0x40, 0x7E}, {0xA1, 0xFE}}},
      {"JOHAB", "JOHAB", {{0x84, 0xD3}, {0xD8, 0xDE}, {0xE0, 0xF9}}, {{0x31, 0x7E}, {0x81, 0xFE}}},
      {"ANSI_1361",
       "JOHAB",
       {{0x84, 0xD3}, {0xD8, 0xDE}, {0xE0, 0xF9}},
       {{0x31, 0x7E}, {0x81, 0xFE}}},
      // None that DXF names: Windows-1252.
      {"ANSI_4294967297", "CP1252"},
      {"ANSI_1", "CP1252"},
      {"ANSI_20127", "CP1252"},
  };
  // Where glibc reads a byte otherwise than Windows, Windows' reading.
  const std::map<std::string, std::map<int, char>> windows = {
      {"ISO8859-7", {{0xA1, '_'}, {0xA2, '_'}, {0xA4, '_'}}}, {"ISO8859-8", {{0xAF, '_'}}}};
  auto within = [](int byte, const std::vector<std::pair<int, int>>& ranges) {
    return std::any_of(ranges.begin(), ranges.end(),
                       [byte](auto range) { return byte >= range.first && byte <= range.second; });
  };
  for (const auto& page : pages) {
    SCOPED_TRACE(page.name);
    CharacterModel model(page.glibc);
    // Layers named by a prefix of their own and the characters of the code page.
    std::vector<std::string> layers(1, "S:"), expected(1, "S:");
    for (int byte = 0x80; byte < 0x100; ++byte) {
      if (within(byte, page.leads)) continue;
      layers[0] += static_cast<char>(byte);
      const auto found = windows.find(page.name);
      expected[0] += found != windows.end() && found->second.count(byte) != 0
                         ? found->second.at(byte)
                         : model.written(std::string(1, static_cast<char>(byte)));
    }
    for (int lead = 0x80; lead < 0x100; ++lead) {
      if (!within(lead, page.leads)) continue;
      layers.push_back(std::to_string(lead));  // "129:"
      layers.back() += ':';
      expected.push_back(layers.back());
      for (int trail = 0; trail < 0x100; ++trail) {
        if (!within(trail, page.trails)) continue;
        const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
        layers.back() += pair;
        expected.back() += model.written(pair);
      }
    }
    std::string drawing =
        "  0\nSECTION\n  2\nHEADER\n  9\n$ACADVER\n  1\nAC1015\n  9\n$DWGCODEPAGE\n  3\n" +
        std::string(page.name) + "\n  0\nENDSEC\n  0\nSECTION\n  2\nENTITIES\n";
    for (const std::string& layer : layers) {
      drawing += "  0\nLWPOLYLINE\n  8\n" + layer + "\n 10\n1\n 20\n2\n";
    }
    here.write("page.dxf", drawing + "  0\nENDSEC\n  0\nEOF\n");
    RunOptions options(here.path(), drive.path());
    options.arguments = {"convert", "cn", "page.dxf", "pagecn.dxf"};
    const ToolRun r = run_tool("", options);
    ASSERT_EQ(r.status, 0) << r.err;
    const bool named = std::string_view(page.name) != "ANSI_4294967297" &&
                       std::string_view(page.name) != "ANSI_1" &&
                       std::string_view(page.name) != "ANSI_20127";
    EXPECT_EQ(
        r.out.find("code page: \"" + std::string(page.name) +
                   "\" is none that DXF names: names read as Windows-1252") != std::string::npos,
        !named);
    const std::string written = here.read("pagecn.dxf");
    std::size_t at = 0;
    for (const std::string& layer : expected) {
      at = written.find("POLYLINE\r\n  8\r\n", at);
      ASSERT_NE(at, std::string::npos);
      at += 15;
      EXPECT_EQ(written.substr(at, written.find('\r', at) - at), layer);
    }
  }
  // A layer named in the operator's own letters, whatever the code page.
  here.write(
      "plan.dxf",
      "  0\nSECTION\n  2\nHEADER\n  9\n$ACADVER\n  1\nAC1015\n  9\n$DWGCODEPAGE\n  3\nANSI_932\n"
      "  0\nENDSEC\n  0\nSECTION\n  2\nENTITIES\n  0\nLWPOLYLINE\n  8\n\x90\x7D\x96\xCA\n"
      " 10\n1\n 20\n2\n  0\nENDSEC\n  0\nEOF\n");
  RunOptions options(here.path(), drive.path());
  options.arguments = {"convert", "ha", "plan.dxf", "planha.dxf", "--layer", "図面"};
  const ToolRun r = run_tool("", options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(here.read("planha.dxf").find("POLYLINE\r\n  8\r\nHA_6292\r\n"), std::string::npos);
}

// A picture of a drawing, and of the merged file at the end of a merge: SVG
// whole or not at all, `-` for standard output; a failure after the merge
// says the merged file is whole.
TEST_F(EndToEnd, DrawsAPictureOfADrawing) {
  here.write("bad.dxf", "0\nSECTION\n2\nENTITIES\n0\nPOLYLINE\n8\nA\n0\nVERTEX\n10\n1,5\n");
  here.write("odd.dxf",
             "0\nPOLYLINE\n8\n HA_6292 \n0\nVERTEX\n10\n1\n20\n2\n0\nVERTEX\n10\n1e308\n20\n2\n"
             "0\nSEQEND\n0\nPOLYLINE\n8\nA\n0\nVERTEX\n10\n5\n20\n-7\n30\n1e400\n0\nSEQEND\n"
             "0\nEOF\n");
  here.write("tiny.dxf", "0\nLWPOLYLINE\n8\nA\n10\n0\n20\n0\n10\n1e-310\n20\n0\n0\nEOF\n");
  // A binary drawing of R12 (codes of one byte): an LWPOLYLINE of two vertices.
  auto real = [](double v) {
    std::string bytes(sizeof v, '\0');
    std::memcpy(bytes.data(), &v, sizeof v);
    return bytes;
  };
  using namespace std::string_literals;
  here.write("binary.dxf", "AutoCAD Binary DXF\r\n\x1a\0"s +
                               "\0SECTION\0\x02" "ENTITIES\0\0LWPOLYLINE\0\x08" "A\0\x0a"s + real(1) +
                               "\x14" + real(2) + "\x0a" + real(3) + "\x14" + real(4) +
                               "\0ENDSEC\0\0EOF\0"s);
  const struct {
    std::vector<std::string> arguments;
    int status;
    std::string err;
    bool drawn;           // earlier.svg, or standard output, holds a picture
    bool appended = false;  // standard output appended to earlier.svg
    std::string shows = "";  // a part of the picture
  } cases[] = {
      {{"preview", drive.path() + "/" + kFirst, "earlier.svg"}, 0, "", true},
      {{"preview", drive.path() + "/" + kFirst, "-"}, 0,
       "-: a picture of " + drive.path() + "/" + kFirst + ", 1 polyline, 1 vertex\n", true},
      {{"preview", "nope.dxf", "earlier.svg"}, 1,
       "quorvane_tool: cannot open nope.dxf: No such file or directory\n", false},
      {{"preview", "bad.dxf", "earlier.svg"}, 1,
       "quorvane_tool: cannot draw bad.dxf: line 12: expected a number for the group code 10, "
       "found \"1,5\"\n",
       false},
      {{"preview", "earlier.svg", "earlier.svg"}, 1,
       "quorvane_tool: refusing to write earlier.svg: it is the same file as the drawing it shows, "
       "earlier.svg\n",
       false},
      {{"preview", drive.path() + "/" + kFirst, "-"}, 0,
       "-: a picture of " + drive.path() + "/" + kFirst + ", 1 polyline, 1 vertex\n", true, true},
      // Outside any section, a layer name between blanks, numbers beyond any drawing:
      // what can be drawn is, on its layer.
      {{"preview", "odd.dxf", "-"}, 0, "-: a picture of odd.dxf, 2 polylines, 3 vertices\n", true,
       false, "<g fill=\"none\" stroke-width=\"30\" stroke-linecap=\"round\" "
              "stroke-linejoin=\"round\">\r\n<path stroke=\"#c000c0\" d=\"M889 200l1 0\"/>"},
      // Saved as binary: drawn as its text would be.
      {{"preview", "binary.dxf", "-"}, 0, "-: a picture of binary.dxf, 1 polyline, 2 vertices\n",
       true},
      // A span no double scales to the picture: framed as a point, in the middle.
      {{"preview", "tiny.dxf", "-"}, 0, "-: a picture of tiny.dxf, 1 polyline, 2 vertices\n", true,
       false, "<path stroke=\"#ffffbf\" d=\"M8000 8000l1 0\"/>"},
      {{"preview", drive.path() + "/" + kFirst, "nowhere/p.svg"}, 1,
       "quorvane_tool: cannot create nowhere/p.svg: there is no folder nowhere\n", false},
  };
  for (const auto& c : cases) {
    if (under_wine() && c.arguments[1] != "nope.dxf" && c.arguments[1] != "bad.dxf") continue;
    SCOPED_TRACE(c.arguments[1] + " " + c.arguments[2]);
    here.write("earlier.svg", "an earlier picture");
    RunOptions options(here.path(), drive.path());
    options.arguments = c.arguments;
    if (c.appended) options.stdout_appended_to = here.path() + "/earlier.svg";
    ToolRun r = run_tool("", options);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, shown_as(c.err));
    std::string picture = c.arguments[2] == "-" && !c.appended ? r.out : here.read("earlier.svg");
    if (c.appended) {
      // Written after what the file held, never over it.
      ASSERT_TRUE(picture.starts_with("an earlier picture")) << picture.substr(0, 80);
      picture.erase(0, 18);
      EXPECT_TRUE(picture.ends_with("</svg>\r\n"));
    }
    EXPECT_EQ(picture.starts_with("<?xml"), c.drawn) << picture.substr(0, 80);
    EXPECT_NE(picture.find(c.shows), std::string::npos) << picture;
    if (!c.drawn) {
      EXPECT_EQ(here.read("earlier.svg"), "an earlier picture");
    }
    EXPECT_EQ(hidden_files(here.path()), "");
  }
  // At the end of a merge: a picture that cannot be made fails the run, the merge done.
  RunOptions options(here.path(), drive.path());
  options.arguments = {"merge", "site4", "north", "north", "north", "--preview", "nowhere/p.svg"};
  ToolRun r = run_tool("", options);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot create nowhere/p.svg"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("; the merged file c:\\images\\site4\\northcnha.dxf ("), std::string::npos)
      << r.err;
  EXPECT_TRUE(drive.read(kOutput) == kMerged);

  // A picture over a drawing of the merge, over the merged file, or in the
  // merge's own text is refused before the merge begins.
  const struct {
    std::string picture;
    std::string why;
  } refused[] = {
      {"-", "standard output holds the merge's text; name a file for the picture"},
      {drive.path() + "/" + kFirst, "it is the first drawing"},
      {drive.path() + "/" + kSecond, "it is the second drawing"},
      {drive.path() + "/" + kOutput, "it is the merged file"},
      {drive.path() + "/images/site4/../site4/northcnha.dxf", "it is the merged file"},
  };
  for (const auto& c : refused) {
    if (under_wine() && c.picture != "-") continue;
    SCOPED_TRACE(c.picture);
    drive.write(kOutput, "an earlier merged file");
    options.arguments = {"merge", "site4", "north", "north", "north", "--preview", c.picture};
    r = run_tool("", options);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, shown_as("quorvane_tool: refusing to write " + c.picture + ": " + c.why + "\n"));
    EXPECT_EQ(drive.read(kFirst), kContour);
    EXPECT_EQ(drive.read(kSecond), kHa);
    EXPECT_EQ(drive.read(kOutput), "an earlier merged file");
  }
}

TEST_F(EndToEnd, TheOutputIsNeverOneOfTheInputs) {
  // "xcn" then "x": the output path is the second input's path.
  drive.write("images/site/acn.dxf", kContour);
  drive.write("images/site/xcnha.dxf", kHa);
  ToolRun r = run("site a xcn x");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, shown_as(kDialogue));
  EXPECT_EQ(r.err,
            failure("refusing to write", "c:\\images\\site\\xcnha.dxf", "images/site/xcnha.dxf",
                    "it is the same file as the second input c:\\images\\site\\xcnha.dxf"));
  EXPECT_EQ(drive.read("images/site/xcnha.dxf"), kHa);

  // A symbolic link to the first input, and a hard link to the second.
  ASSERT_EQ(symlink((drive.path() + "/" + kFirst).c_str(),
                    (drive.path() + "/images/site4/soft" + "cnha.dxf").c_str()),
            0);
  ASSERT_EQ(link((drive.path() + "/" + kSecond).c_str(),
                 (drive.path() + "/images/site4/hard" + "cnha.dxf").c_str()),
            0);
  r = run("site4 north north soft");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(
      r.err,
      failure("refusing to write", "c:\\images\\site4\\softcnha.dxf", "images/site4/softcnha.dxf",
              "it is the same file as the first input c:\\images\\site4\\northcn.dxf"));
  r = run("site4 north north hard");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(
      r.err,
      failure("refusing to write", "c:\\images\\site4\\hardcnha.dxf", "images/site4/hardcnha.dxf",
              "it is the same file as the second input c:\\images\\site4\\northha.dxf"));
  expect_inputs_intact();
}

TEST_F(EndToEnd, AnOutputThatCannotBeCreated) {
  std::filesystem::create_directories(drive.path() + "/" + kOutput);
  ToolRun r = run("site4 north north north");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, failure("cannot create", "c:\\images\\site4\\northcnha.dxf", kOutput,
                           "Is a directory"));
  EXPECT_TRUE(std::filesystem::is_directory(drive.path() + "/" + kOutput));
  expect_inputs_intact();
}

// A run killed while it writes (SIGKILL; the Task Manager's TerminateProcess
// or a power cut on Windows) removes nothing itself. The earlier merged file
// stays as it was. On Windows the temporary was marked for deletion when it
// was made, and goes with the process's last handle; on Linux it is left.
// Killed, or interrupted as Ctrl-C interrupts it, while it writes: the
// earlier merged file stays, the run does not end with status 0, and only a
// kill on Linux leaves its temporary behind (Windows deletes it with the
// process).
TEST_F(EndToEnd, ARunKilledWhileItWritesLeavesTheEarlierMergedFile) {
  std::mt19937 rng(5);
  drive.write(kFirst, contour_drawing(rng, 30000, false));  // more console text than a pipe holds
  for (const int signal : {SIGKILL, SIGINT}) {
    SCOPED_TRACE(signal == SIGKILL ? "killed" : "interrupted");
    drive.write(kOutput, "an earlier merge");
    std::atomic<int> tool{0};
    RunOptions options{here.path(), drive.path()};
    options.beside = [&](int pid) { tool = pid; };
    // Its temporary is made before the passes begin, and their text fills the pipe.
    options.hold_at = shown_as("\n\tTreatment\n");
    options.while_held = [&] {
      while (tool == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      kill(tool, signal);
      return true;
    };
    ToolRun r = run_tool("site4 north north north", options);
    if (under_wine() && signal == SIGINT) {
      EXPECT_EQ(r.status, 0xC000013A & 0xFF);  // STATUS_CONTROL_C_EXIT, as a Linux status holds it
    } else {
      EXPECT_EQ(r.signal, signal);  // the process that runs the tool, Wine's too
    }
    EXPECT_EQ(drive.read(kOutput), "an earlier merge");
    const std::string folder = drive.path() + "/images/site4";
    std::string left = hidden_files(folder);
    if (under_wine() || signal != SIGKILL) {
      // The Wine server closes a dead process's handles in its own time.
      auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (!left.empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        left = hidden_files(folder);
      }
      EXPECT_EQ(left, "");
    } else {
      EXPECT_EQ(left.rfind(".northcnha.dxf.", 0), 0u) << left;
      EXPECT_EQ(left.find(' '), std::string::npos) << "one temporary: " << left;
      std::filesystem::remove(folder + "/" + left);
    }
  }
}

TEST_F(EndToEnd, AReadErrorFailsTheRunAndKeepsTheEarlierMergedFile) {
  if (under_wine()) GTEST_SKIP() << "reads Linux's /proc";
  // Reading a process's memory at offset 0 fails with EIO.
  for (const std::string& input : {kFirst, kSecond}) {
    SetUp();
    std::filesystem::remove(drive.path() + "/" + input);
    ASSERT_EQ(symlink("/proc/self/mem", (drive.path() + "/" + input).c_str()), 0);
    drive.write(kOutput, "an earlier merge");
    ToolRun r = run("site4 north north north");
    EXPECT_EQ(r.status, 1);
    std::string composed =
        input == kFirst ? "c:\\images\\site4\\northcn.dxf" : "c:\\images\\site4\\northha.dxf";
    EXPECT_EQ(r.err, failure("cannot read", composed, input, "Input/output error"));
    EXPECT_EQ(drive.read(kOutput), "an earlier merge");
    EXPECT_EQ(hidden_files(drive.path() + "/images/site4"), "");
    std::filesystem::remove(drive.path() + "/" + input);
  }
}

// A merged file that is a device or a FIFO is written through, in order,
// and stays: /dev/null takes it all, a FIFO gives the merged bytes to its
// reader, /dev/full fails for want of room.
TEST_F(EndToEnd, AMergedFileThatIsADeviceOrAFifoIsWrittenThrough) {
  if (under_wine()) GTEST_SKIP() << "Linux's devices and FIFOs";
  const std::string merged = drive.path() + "/" + kOutput;
  ASSERT_EQ(symlink("/dev/null", merged.c_str()), 0);
  ToolRun r = run("site4 north north north");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, kSampleWarning);
  EXPECT_TRUE(std::filesystem::is_symlink(merged));
  // Such a merged file cannot be read back for its picture: refused before the merge.
  RunOptions drawn{here.path(), drive.path()};
  drawn.arguments = {"merge", "site4", "north", "north", "north", "--preview", "p.svg"};
  r = run_tool("", drawn);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, failure("refusing to draw", "c:\\images\\site4\\northcnha.dxf", kOutput,
                           "it is not a regular file, and cannot be read back for its picture"));
  EXPECT_FALSE(here.exists("p.svg"));

  std::filesystem::remove(merged);
  ASSERT_EQ(symlink("/dev/full", merged.c_str()), 0);
  r = run("site4 north north north");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, failure("cannot write", "c:\\images\\site4\\northcnha.dxf", kOutput,
                           "the disk is full"));
  EXPECT_TRUE(std::filesystem::is_symlink(merged));

  std::filesystem::remove(merged);
  ASSERT_EQ(mkfifo(merged.c_str(), 0600), 0);
  std::string through;
  RunOptions options{here.path(), drive.path()};
  options.beside = [&](int) { through = read_fifo(merged); };
  r = run_tool("site4 north north north", options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(through, kMerged);
  EXPECT_TRUE(std::filesystem::is_fifo(merged));
  EXPECT_EQ(hidden_files(drive.path() + "/images/site4"), "");
  expect_inputs_intact();
}

TEST_F(EndToEnd, AConsoleThatCannotBeWrittenFailsTheRun) {
  drive.write(kOutput, "an earlier merge");
  RunOptions options{here.path(), drive.path()};
  options.close_stdout = true;
  ToolRun r = run_tool("site4 north north north", options);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            shown_as("quorvane_tool: cannot write to standard output: Bad file descriptor\n"));
  EXPECT_EQ(drive.read(kOutput), "an earlier merge");

  options.close_stdout = false;
  options.stdout_to_full = true;
  r = run_tool("site4 north north north", options);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            shown_as("quorvane_tool: cannot write to standard output: No space left on device\n"));
  EXPECT_EQ(drive.read(kOutput), "an earlier merge");
  EXPECT_EQ(hidden_files(drive.path() + "/images/site4"), "");
  expect_inputs_intact();
}

// The sample drawings of the examples folder merge with no warning. Their
// second drawing in another coordinate system (2 500 km away, or in
// millimetres where the first is in metres) merges all the same, and the
// operator is warned; a first drawing without extents is framed by its polylines.
TEST_F(EndToEnd, TheSampleDrawingsOfTheExamplesFolder) {
  const std::string examples = QUORVANE_EXAMPLES_DIR "/images/site4/";
  const std::string cn = read_file(examples + "northcn.dxf"), ha = read_file(examples + "northha.dxf");
  // The drawing with each x and y (codes 10 and 20) moved: x * scale + shift.
  auto moved = [](const std::string& drawing, double scale, double shift) {
    std::istringstream lines(drawing);
    std::string out, code, value;
    while (std::getline(lines, code) && std::getline(lines, value)) {
      const int number = std::stoi(code);
      if (number == 10 || number == 20) {
        char text[40];
        std::snprintf(text, sizeof text, "%.3f\r", std::stod(value) * scale + shift);
        value = text;
      }
      out += code + "\n" + value + "\n";
    }
    return out;
  };
  std::string bare = cn;  // without its header's extents
  bare.replace(bare.find("$EXTMIN"), 7, "$NONE01");
  bare.replace(bare.find("$EXTMAX"), 7, "$NONE02");
  const std::string outside =
      "quorvane_tool: warning: the HA_6292 polylines of c:\\images\\site4\\northha.dxf lie "
      "outside the extents of c:\\images\\site4\\northcn.dxf ";
  const std::string question = ": are both drawings in the same coordinate system?\n";
  const struct {
    const char* what;
    std::string first, second, err;
  } cases[] = {
      {"as they are", cn, ha, ""},
      {"2 500 km away", cn, moved(ha, 1, 2500000), outside + "(x 902.687 to 3847.828, y 1060.665 to 3611.924)" + question},
      {"in millimetres", cn, moved(ha, 1000, 0), outside + "(x 902.687 to 3847.828, y 1060.665 to 3611.924)" + question},
      {"a first drawing without extents", bare, ha, ""},
      {"without extents, 2 500 km away", bare, moved(ha, 1, 2500000),
       outside + "(x 902.687 to 3847.828, y 1060.665 to 3611.924)" + question},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder copy;
    copy.write(kFirst, c.first);
    copy.write(kSecond, c.second);
    ToolRun r = run_tool("site4 north north north", {here.path(), copy.path()});
    MergeResult expected = reference_merge(copy.read(kFirst), copy.read(kSecond));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, shown_as(c.err));
    EXPECT_EQ(r.out, shown_as(kDialogue + expected.console));
    EXPECT_EQ(copy.read(kOutput), expected.merged);
    EXPECT_NE(expected.merged.find("HA_6292"), std::string::npos);
  }
}

TEST_F(EndToEnd, AgreesWithTheReferenceModelOnGeneratedDrawings) {
  std::mt19937 rng(4);
  for (int round = 0; round < 40; ++round) {
    std::string first = damaged(contour_drawing(rng, static_cast<int>(rng() % 30)), rng);
    std::string second = damaged(ha_drawing(rng, static_cast<int>(rng() % 30)), rng);
    drive.write(kFirst, first);
    drive.write(kSecond, second);
    ToolRun r = run("site4 north north north");
    MergeResult expected = reference_merge(first, second);
    if (expected.refused != 0) {
      std::string prefix = refusal_start(drive.path(), expected.refused, expected.line);
      ASSERT_EQ(r.status, 1) << "round " << round;
      ASSERT_EQ(r.err.substr(0, prefix.size()), prefix) << "round " << round;
      continue;
    }
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.out, shown_as(kDialogue + expected.console)) << "round " << round;
    ASSERT_EQ(drive.read(kOutput), expected.merged) << "round " << round;
  }
}

// The three passes run side by side: the survey and the copy of the first
// input, and the copy of the second input into a file of its own, appended at
// the end. The header is written with the extents known at the first
// polyline; an $EXTMIN or $EXTMAX met later changes it at the end, once the
// copy is on disk, whether the new header is longer, shorter or of the same
// size.
TEST_F(EndToEnd, ThePassesSideBySideGiveWhatOneAfterTheOtherGives) {
  std::mt19937 rng(8);
  const std::string drawing = contour_drawing(rng, 3000, false);  // several buffers of output
  const std::string later[] = {
      "",
      "  9\n$EXTMAX\n 10\n-123456789.9\n 20\n98765432.1\n 30\n7\n",            // longer
      "  9\n$EXTMIN\n 10\n1\n 20\n2\n  9\n$EXTMAX\n 10\n3\n 20\n4\n 30\n5\n",  // shorter
      "  9\n$EXTMAX\n 10\n4999.000\n",                                         // the same size
  };
  const std::string firsts[] = {
      drawing + later[1],
      drawing + later[2],
      drawing + later[3],
      later[2] + drawing + "  9\n$EXTMIN\n 77\n",
      // A polyline whose linetype is named $EXTMAX: the survey reads the
      // extents from its point, after the first polyline.
      "  0\nPOLYLINE\n  8\nXX\n  6\n$EXTMAX\n 10\n0\n 20\n0\n 30\n7\n  0\nSEQEND\n" + drawing,
  };
  const std::string seconds[] = {
      kHa, ha_drawing(rng, 2000, false),  // several buffers of the second drawing's part
  };
  for (const std::string& first : firsts) {
    for (const std::string& second : seconds) {
      drive.write(kFirst, first);
      drive.write(kSecond, second);
      ToolRun r = run("site4 north north north");
      MergeResult expected = reference_merge(first, second);
      const std::string which =
          std::to_string(&first - firsts) + "/" + std::to_string(&second - seconds);
      ASSERT_EQ(r.status, 0) << r.err;
      // Random drawings may lie apart: a warning, and nothing else.
      EXPECT_TRUE(r.err.empty() || (r.err.rfind("quorvane_tool: warning: ", 0) == 0 &&
                                    r.err.find('\n') == r.err.size() - 1))
          << r.err;
      ASSERT_EQ(r.out, shown_as(kDialogue + expected.console)) << which;
      // Megabytes: compared without a diff of the whole texts.
      const std::string merged = drive.read(kOutput);
      ASSERT_TRUE(merged == expected.merged)
          << which << ": first difference at byte "
          << std::mismatch(merged.begin(), merged.end(), expected.merged.begin(),
                           expected.merged.end())
                     .first -
                 merged.begin();
    }
  }
}

// The console text as a terminal is given it: each progress line drawn from
// column 0 and its line cleared, where a pipe gets it with its tail of spaces.
std::string on_terminal(const std::string& text) {
  static const std::regex progress("(\t+(?:CN |HA )?record [0-9]+) {12}\r {5,8}");
  return std::regex_replace(text, progress, "\r$1\x1b[K");
}

// Reads what the terminal shows until it ends with `expected` in full, or 10 s pass.
bool shown(int master, std::string& screen, const std::string& expected) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (screen.size() < expected.size() || screen.compare(0, expected.size(), expected) != 0) {
    if (screen.size() >= expected.size() || std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    pollfd fd{master, POLLIN, 0};
    if (poll(&fd, 1, 100) <= 0) continue;
    char buffer[4096];
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) return false;
    screen.append(buffer, static_cast<std::size_t>(n));
  }
  return screen == expected;
}

TEST_F(EndToEnd, OnATerminalEachPromptIsShownBeforeItsAnswerIsAwaited) {
  if (under_wine()) GTEST_SKIP() << "a Windows console is not a terminal";
  int master = -1;
  pid_t child = start_on_terminal(master);
  ASSERT_GE(child, 0);
  std::string screen;
  std::string expected = kBanner;
  const std::pair<const std::string*, const char*> steps[] = {{&kAskFolder, "site4\n"},
                                                              {&kAskFirst, "north\n"},
                                                              {&kAskSecond, "north\n"},
                                                              {&kAskOutput, "north\n"}};
  for (auto [prompt, answer] : steps) {
    expected += *prompt;
    ASSERT_TRUE(shown(master, screen, expected)) << "shown so far: [" << screen << "]";
    ASSERT_EQ(write(master, answer, std::strlen(answer)),
              static_cast<ssize_t>(std::strlen(answer)));
  }
  EXPECT_TRUE(shown(master, screen,
                    kDialogue + on_terminal(kMergeConsole) + "\n" + kSampleWarning +
                        "\n\tmerged file: " + "c:\\images\\site4\\northcnha.dxf (" + drive.path() +
                        "/" + kOutput + ")\n"))
      << screen;
  int status = 0;
  waitpid(child, &status, 0);
  close(master);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(drive.read(kOutput), kMerged);
}

// Reads what the terminal shows until the tool ends, or 30 s pass.
std::string rest_of_screen(int master, std::string screen) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd fd{master, POLLIN, 0};
    if (poll(&fd, 1, 100) <= 0) continue;
    char buffer[65536];
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    screen.append(buffer, static_cast<std::size_t>(n));
  }
  return screen;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

TEST_F(EndToEnd, OnATerminalProgressIsRedrawnSparinglyButEndsOnTheFinalCount) {
  if (under_wine()) GTEST_SKIP() << "a Windows console is not a terminal";
  std::string first, second;
  for (int i = 0; i < 30000; ++i) {
    first += "POLYLINE\n8\nCN1\n66\n1\n10\n0\n20\n0\n30\n0\n0\nSEQEND\n";
    second += "POLYLINE\n8\nHA_6292\n66\n1\n70\n0\n40\n0\n0\nSEQEND\n";
  }
  drive.write(kFirst, first);
  drive.write(kSecond, second);
  int master = -1;
  pid_t child = start_on_terminal(master);
  ASSERT_GE(child, 0);
  std::string screen;
  ASSERT_TRUE(shown(master, screen, kBanner + kAskFolder));
  const char answers[] = "site4 north north north\n";
  ASSERT_EQ(write(master, answers, sizeof answers - 1), static_cast<ssize_t>(sizeof answers - 1));
  screen = rest_of_screen(master, screen);
  int status = 0;
  waitpid(child, &status, 0);
  close(master);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << screen.substr(0, 2000);
  // Each pass's last line is its final count, right before the text that follows the pass.
  EXPECT_NE(screen.find("\r\tCN record 30000\x1b[K\n\n\tFirst File Data"), std::string::npos);
  EXPECT_NE(screen.find("\r\t\trecord 30000\x1b[K\n\n\tReading the second file"),
            std::string::npos);
  EXPECT_NE(screen.find("\r\t\tHA record 30000\x1b[K\n\n\tResulting data"), std::string::npos);
  EXPECT_LT(occurrences(screen, "CN record "), 1000u);
  EXPECT_LT(occurrences(screen, "\t\trecord "), 1000u);
  EXPECT_LT(occurrences(screen, "HA record "), 1000u);

  // Through a pipe every line is written.
  ToolRun piped = run("site4 north north north");
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(occurrences(piped.out, "CN record "), 30000u);
  EXPECT_EQ(occurrences(piped.out, "\t\trecord "), 30000u);
  EXPECT_EQ(occurrences(piped.out, "HA record "), 30000u);
}

}  // namespace
}  // namespace quorvane::testing
