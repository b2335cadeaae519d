#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "no_new_file.h"

namespace {

namespace fs = std::filesystem;
using Output = quorvane::OutputFile;
using quorvane::testing::NoNewFile;

enum class End { kCommit, kAbandon, kInterrupt };

// A folder of its own for each test, removed with what it holds.
class OutputFile : public testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/quorvane-output-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string at(const std::string& name) const { return dir_ + "/" + name; }
  void write(const std::string& name, const std::string& bytes) const {
    std::ofstream(at(name), std::ios::binary) << bytes;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(at(name), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return in ? bytes.str() : "(none)";
  }
  // The names that start with a dot, as a temporary's does, in the folder and below.
  std::string hidden() const {
    std::string names;
    for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
      if (entry.path().filename().string().starts_with(".")) names += entry.path().string() + " ";
    }
    return names;
  }
  std::uint64_t inode(const std::string& name) const {
    struct stat info {};
    return stat(at(name).c_str(), &info) == 0 ? info.st_ino : 0;
  }
  // Writes `made` to a stream opened for `file`, whose earlier bytes stay
  // until the end, then ends as told.
  void write_then(End end, Output& out, std::FILE* stream, const std::string& made,
                  const std::string& file, const std::string& earlier) {
    std::fwrite(made.data(), 1, made.size(), stream);
    std::fflush(stream);
    EXPECT_TRUE(read(file) == earlier) << "before the end";
    std::rewind(stream);
    EXPECT_EQ(std::fgetc(stream), made.empty() ? EOF : made[0]) << "read back";
    if (end == End::kInterrupt) {
      EXPECT_FALSE(Output::abandon_now());
      EXPECT_EQ(hidden(), "") << "as a signal handler leaves it";
    }
    std::fclose(stream);
    if (end == End::kCommit) {
      EXPECT_EQ(out.commit(), 0);
    } else {
      EXPECT_EQ(out.abandon(), "");
    }
    EXPECT_TRUE(read(file) == (end == End::kCommit ? made : earlier));
  }

  std::string dir_;
};

// A temporary beside the file, moved over it only at commit, through links;
// abandoned or interrupted, the earlier file stays as it was and nothing is left.
TEST_F(OutputFile, ReplacesTheEarlierFileWholeOrLeavesItAsItWas) {
  const std::string earlier = "earlier\r\n" + std::string(70000, '\0');
  const std::string made = "  0\r\nEOF\r\n" + std::string(300000, 'x');
  const mode_t mask = umask(022);
  umask(mask);
  const struct {
    const char* name;
    std::vector<std::string> links;  // out.dxf, then each link's text; the file last
    bool earlier;
    End end;
  } cases[] = {
      {"a new file", {"out.dxf"}, false, End::kCommit},
      {"a new file abandoned", {"out.dxf"}, false, End::kAbandon},
      {"an earlier file", {"out.dxf"}, true, End::kCommit},
      {"an earlier file abandoned", {"out.dxf"}, true, End::kAbandon},
      {"an earlier file interrupted", {"out.dxf"}, true, End::kInterrupt},
      {"a new file interrupted", {"out.dxf"}, false, End::kInterrupt},
      {"a link", {"out.dxf", "sub/real.dxf"}, true, End::kCommit},
      {"a link abandoned", {"out.dxf", "sub/real.dxf"}, true, End::kAbandon},
      {"a chain of links", {"out.dxf", "mid.dxf", "sub/real.dxf"}, true, End::kCommit},
      {"an absolute link", {"out.dxf", "/sub/real.dxf"}, true, End::kCommit},
      {"a dangling link", {"out.dxf", "sub/new.dxf"}, false, End::kCommit},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& entry : std::vector<fs::directory_entry>(fs::directory_iterator(dir_), {})) {
      fs::remove_all(entry.path());
    }
    fs::create_directories(dir_ + "/sub");
    for (std::size_t i = 0; i + 1 < c.links.size(); ++i) {
      const std::string& to = c.links[i + 1];
      ASSERT_EQ(symlink((to[0] == '/' ? dir_ + to : to).c_str(), at(c.links[i]).c_str()), 0);
    }
    const std::string file = c.links.back().starts_with("/") ? c.links.back().substr(1)
                                                             : c.links.back();
    if (c.earlier) {
      write(file, earlier);
      chmod(at(file).c_str(), 0640);
    }
    Output out;
    int error = 0;
    std::FILE* stream = out.open(at("out.dxf"), error);
    ASSERT_NE(stream, nullptr) << std::strerror(error);
    EXPECT_EQ(out.kind(), Output::Kind::kReplacing);
    EXPECT_EQ(out.target(), at(file));
    write_then(c.end, out, stream, made, file, c.earlier ? earlier : "(none)");
    for (std::size_t i = 0; i + 1 < c.links.size(); ++i) {
      EXPECT_TRUE(fs::is_symlink(at(c.links[i]))) << c.links[i];
    }
    EXPECT_EQ(hidden(), "");
    struct stat info {};
    if (stat(at(file).c_str(), &info) == 0) {
      EXPECT_EQ(info.st_mode & 07777, c.earlier ? 0640u : 0666u & ~mask);
    }
  }
}

// A descriptor is written at its position, never replaced; a FIFO is written through.
TEST_F(OutputFile, DescriptorsAndFifosAreWrittenThrough) {
  write("log.dxf", "0123456789");
  const int appending = open(at("log.dxf").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  const int placed = open(at("log.dxf").c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(appending, 0);
  ASSERT_GE(placed, 0);
  lseek(placed, 4, SEEK_SET);
  const int closed = dup(placed);
  close(closed);
  const std::string fd = std::to_string(appending);
  const struct {
    std::string host;
    int descriptor;
  } names[] = {{"-", 1}, {"/dev/stdout", 1}, {"/dev/stderr", 2}, {"/dev/fd/" + fd, appending},
               {"/proc/self/fd/" + fd, appending}, {"/dev/fd/", -1}, {"/dev/fd/1x", -1},
               {"/dev/fd/-1", -1}, {"/dev/fd/" + std::to_string(closed), -1},
               {"/dev/fd/1234567890", -1}, {"/dev/fd//1", -1}, {"stdout", -1}, {"./-", -1}};
  for (const auto& n : names) EXPECT_EQ(quorvane::named_descriptor(n.host), n.descriptor) << n.host;

  const std::uint64_t before = inode("log.dxf");
  int error = 0;
  for (const std::string& host : {"/dev/fd/" + std::to_string(placed), "/proc/self/fd/" + fd}) {
    Output out;
    std::FILE* stream = out.open(host, error);
    ASSERT_NE(stream, nullptr) << host << ": " << std::strerror(error);
    std::fputs("ab", stream);
    std::fclose(stream);
    EXPECT_EQ(out.kind(), Output::Kind::kWriteThrough);
    EXPECT_FALSE(out.regular());
    EXPECT_EQ(out.commit(), 0);
  }
  EXPECT_EQ(read("log.dxf"), "0123ab6789ab");
  EXPECT_EQ(inode("log.dxf"), before);
  EXPECT_GE(fcntl(appending, F_GETFD), 0) << "the descriptor stays open";
  close(appending);
  close(placed);

  ASSERT_EQ(mkfifo(at("pipe").c_str(), 0600), 0);
  ASSERT_EQ(symlink("pipe", at("to_pipe").c_str()), 0);
  const int reader = open(at("pipe").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  for (const char* name : {"pipe", "to_pipe"}) {
    Output out;
    std::FILE* stream = out.open(at(name), error);
    ASSERT_NE(stream, nullptr) << std::strerror(error);
    std::fputs("made", stream);
    std::fclose(stream);
    EXPECT_EQ(out.kind(), Output::Kind::kWriteThrough);
    EXPECT_EQ(out.commit(), 0);
    char got[8] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), 4);
    EXPECT_STREQ(got, "made");
  }
  close(reader);
  EXPECT_TRUE(fs::is_fifo(at("pipe")));
  EXPECT_EQ(hidden(), "");
}

// What cannot be replaced is refused before anything is made.
TEST_F(OutputFile, RefusesAFolderAMissingFolderAndAReadOnlyFile) {
  fs::create_directories(dir_ + "/sub");
  ASSERT_EQ(symlink("sub", at("to_sub").c_str()), 0);
  write("read-only.dxf", "kept");
  chmod(at("read-only.dxf").c_str(), 0444);
  const struct {
    const char* name;
    int error;
  } cases[] = {{"sub", EISDIR}, {"to_sub", EISDIR}, {"nope/out.dxf", ENOENT},
               {"read-only.dxf", EACCES}};
  for (const auto& c : cases) {
    if (c.error == EACCES && geteuid() == 0) continue;  // root writes any file
    Output out;
    int error = 0;
    EXPECT_EQ(out.open(at(c.name), error), nullptr) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
  }
  EXPECT_EQ(read("read-only.dxf"), "kept");
  EXPECT_EQ(hidden(), "");
  const std::string loop = at("loop.dxf");  // a loop of links is no hang
  ASSERT_EQ(symlink("loop.dxf", loop.c_str()), 0);
  EXPECT_EQ(quorvane::follow_links(loop), loop);
}

// Made aside and copied over the earlier file, the same file, at commit only.
TEST_F(OutputFile, WhereTheFolderTakesNoNewFileTheEarlierFileIsWrittenOver) {
  const std::string earlier = "earlier\r\n" + std::string(100000, '\0') + "\x1a end";
  write("out.dxf", earlier);
  const std::uint64_t before = inode("out.dxf");
  NoNewFile closed(dir_);
  const int probe = open(at("probe").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
  if (probe >= 0) close(probe);
  if (!closed || probe >= 0) GTEST_SKIP() << "this folder cannot be closed to new files here";
  const struct {
    const char* name;
    std::string made;
    End end;
  } cases[] = {{"longer, beyond a copy's buffer", std::string(600000, 'L'), End::kCommit},
               {"shorter", "  0\r\nEOF\r\n", End::kCommit},
               {"empty", "", End::kCommit},
               {"abandoned", "lost", End::kAbandon},
               {"interrupted", "lost", End::kInterrupt}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    write("out.dxf", earlier);
    Output out;
    int error = 0;
    std::FILE* stream = out.open(at("out.dxf"), error);
    ASSERT_NE(stream, nullptr) << std::strerror(error);
    EXPECT_EQ(out.kind(), Output::Kind::kInPlace);
    EXPECT_TRUE(out.regular());
    write_then(c.end, out, stream, c.made, "out.dxf", earlier);
    EXPECT_EQ(inode("out.dxf"), before);
  }
  Output out;
  int error = 0;
  EXPECT_EQ(out.open(at("new.dxf"), error), nullptr) << "no earlier file to write over";
  EXPECT_TRUE(error == EACCES || error == EPERM) << std::strerror(error);
  EXPECT_EQ(hidden(), "");
}

}  // namespace
