#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

namespace quorvane {
namespace {

// A folder of its own: a.dxf, b.dxf with the same bytes, a hard link and a
// symbolic link to a.dxf, a folder, a link to it and a FIFO.
struct Folder {
  Folder() {
    char name[] = "/tmp/quorvane-files-XXXXXX";
    path = mkdtemp(name) != nullptr ? name : "/nonexistent";
    for (const char* file : {"a.dxf", "b.dxf"}) std::ofstream(at(file)) << "  0\nEOF\n";
    std::filesystem::create_hard_link(at("a.dxf"), at("hard.dxf"));
    std::filesystem::create_symlink("a.dxf", at("link.dxf"));
    std::filesystem::create_directory(at("sub"));
    std::filesystem::create_directory_symlink("sub", at("to_sub"));
    mkfifo(at("pipe").c_str(), 0600);
  }
  ~Folder() { std::filesystem::remove_all(path); }
  std::string at(const std::string& name) const { return path + "/" + name; }
  bool holds_only_its_own() const {
    return std::distance(std::filesystem::directory_iterator(path), {}) == 7;
  }
  std::string path;
};

TEST(Files, OpenInputRefusesFoldersAndWhenAskedFifosAndDevices) {
  Folder d;
  // A writer waiting on the FIFO: a wrong open of it would not hang the test.
  const int reader = open(d.at("pipe").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  const int writer = open(d.at("pipe").c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  const struct {
    std::string host;
    bool regular_only;
    int error;  // 0: opened
  } cases[] = {{d.at("a.dxf"), true, 0},       {d.at("link.dxf"), true, 0},
               {d.at("sub"), false, EISDIR},   {d.at("to_sub"), true, EISDIR},
               {d.at("nope.dxf"), false, ENOENT}, {"", false, ENOENT},
               {d.at("pipe"), true, kNotRegular}, {"/dev/null", true, kNotRegular},
               {"/dev/null", false, 0}};
  for (const auto& c : cases) {
    int error = 0;
    std::FILE* file = open_input(c.host, c.regular_only, error);
    EXPECT_EQ(file != nullptr, c.error == 0) << c.host;
    EXPECT_EQ(error, c.error) << c.host;
    if (file != nullptr) std::fclose(file);
  }
  close(writer);
  close(reader);
}

TEST(Files, SameFileFolderExistsAndRoomFor) {
  Folder d;
  const struct {
    const char *a, *b;
    bool same;
  } pairs[] = {{"a.dxf", "a.dxf", true},       {"a.dxf", "link.dxf", true},
               {"a.dxf", "hard.dxf", true},    {"a.dxf", "sub/../a.dxf", true},
               {"a.dxf", "b.dxf", false},      {"a.dxf", "nope.dxf", false},
               {"nope.dxf", "nope.dxf", false}, {"sub", "to_sub", true}};
  const int fd = open(d.at("a.dxf").c_str(), O_RDONLY | O_CLOEXEC);
  for (const auto& p : pairs) {
    EXPECT_EQ(same_file(d.at(p.a), d.at(p.b)), p.same) << p.a << " " << p.b;
    EXPECT_EQ(same_file(d.at(p.b), d.at(p.a)), p.same) << p.b << " " << p.a;
    if (std::string(p.a) == "a.dxf") {
      EXPECT_EQ(same_file(fd, d.at(p.b)), p.same) << p.b;
    }
  }
  close(fd);
  EXPECT_FALSE(same_file(fd, d.at("a.dxf"))) << "a descriptor closed";
  EXPECT_FALSE(same_file(-1, d.at("a.dxf")));

  for (const char* name : {"sub", "to_sub", "sub/"}) EXPECT_TRUE(folder_exists(d.at(name))) << name;
  for (const char* name : {"a.dxf", "pipe", "nope", "a.dxf/"}) {
    EXPECT_FALSE(folder_exists(d.at(name))) << name;
  }
  EXPECT_FALSE(folder_exists(""));

  EXPECT_TRUE(room_for(d.path, 0));
  EXPECT_TRUE(room_for(d.path, 1));
  EXPECT_FALSE(room_for(d.path, std::numeric_limits<std::uint64_t>::max()));
  EXPECT_FALSE(room_for(d.at("nope"), 0));
}

// Written, then read back from the start; no name left in any folder.
TEST(Files, FilesWithoutANameAreReadBackAndLeaveNothing) {
  Folder d;
  auto round_trip = [](std::FILE* file) {
    if (file == nullptr) return std::string("(none)");
    std::fputs("  0\nEOF\n", file);
    std::rewind(file);
    char got[16] = {};
    std::fread(got, 1, sizeof got - 1, file);
    std::fclose(file);
    return std::string(got);
  };
  EXPECT_EQ(round_trip(create_part(d.at("out.dxf"))), "  0\nEOF\n");
  EXPECT_EQ(create_part(d.at("nope/out.dxf")), nullptr);
  EXPECT_EQ(round_trip(temporary_file()), "  0\nEOF\n");

  const char* before = std::getenv("TMPDIR");
  const std::string kept = before != nullptr ? before : "";
  setenv("TMPDIR", d.path.c_str(), 1);
  {
    TemporaryFile converted;
    EXPECT_EQ(converted.open_reading(), nullptr) << "nothing made yet";
    std::FILE* writing = converted.create();
    ASSERT_NE(writing, nullptr);
    std::fputs("  0\nEOF\n", writing);
    std::fclose(writing);  // the file lasts
    std::FILE* first = converted.open_reading();
    std::FILE* second = converted.open_reading();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(std::fgetc(first), ' ');
    EXPECT_EQ(round_trip(second), "  0\nEOF\n") << "each reading from the start";
    EXPECT_EQ(std::fgetc(first), ' ');
    std::fclose(first);
  }
  EXPECT_EQ(round_trip(temporary_file()), "  0\nEOF\n");
  // Both are made in the folder $TMPDIR names, or not at all.
  setenv("TMPDIR", d.at("nope").c_str(), 1);
  TemporaryFile nowhere;
  EXPECT_EQ(nowhere.create(), nullptr);
  EXPECT_NE(errno, 0);
  EXPECT_EQ(temporary_file(), nullptr);
  if (before != nullptr) {
    setenv("TMPDIR", kept.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
  EXPECT_TRUE(d.holds_only_its_own());
}

// A stamp tells the file, its size and when it was written; the open file
// keeps its own after the name is given to another.
TEST(Files, AStampChangesWithTheFile) {
  Folder d;
  const std::string a = d.at("a.dxf");
  const timespec then[2] = {{1000000000, 0}, {1000000000, 0}};
  utimensat(AT_FDCWD, a.c_str(), then, 0);
  int error = 0;
  std::FILE* file = open_input(a, true, error);
  ASSERT_NE(file, nullptr);
  FileStamp open{}, named{}, other{}, now{};
  ASSERT_TRUE(stamp_of(file, open));
  ASSERT_TRUE(stamp_of_path(a, named));
  EXPECT_TRUE(open == named);
  EXPECT_TRUE(open.regular);
  EXPECT_EQ(open.size, 8);
  ASSERT_TRUE(stamp_of_path(d.at("b.dxf"), other));
  EXPECT_FALSE(open == other) << "another file of the same bytes";
  const timespec later[2] = {{1000000001, 0}, {1000000001, 0}};
  utimensat(AT_FDCWD, a.c_str(), later, 0);
  ASSERT_TRUE(stamp_of(file, now));
  EXPECT_FALSE(now == open) << "written again, the same size";
  std::ofstream(a, std::ios::app) << "x";
  utimensat(AT_FDCWD, a.c_str(), then, 0);
  ASSERT_TRUE(stamp_of(file, now));
  EXPECT_FALSE(now == open) << "a byte longer, at the same time";
  std::filesystem::rename(d.at("b.dxf"), a);
  FileStamp after_rename{};
  ASSERT_TRUE(stamp_of(file, after_rename));
  EXPECT_TRUE(after_rename == now) << "the open file is still itself";
  ASSERT_TRUE(stamp_of_path(a, named));
  EXPECT_TRUE(named == other);
  std::fclose(file);
  EXPECT_FALSE(stamp_of_path(d.at("nope.dxf"), named));
  ASSERT_TRUE(stamp_of_path("/dev/null", named));
  EXPECT_FALSE(named.regular);
}

}  // namespace
}  // namespace quorvane
