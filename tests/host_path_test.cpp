#include "host_path.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace quorvane {
namespace {

TEST(HostPath, DriveCStandsForAFolderAndBackslashesSeparate) {
  EXPECT_EQ(map_drive_c("c:\\images\\site4\\northcn.dxf", "/srv/cad"),
            "/srv/cad/images/site4/northcn.dxf");
  EXPECT_EQ(map_drive_c("c:\\images\\site4\\northcn.dxf", "/srv/cad///"),
            "/srv/cad/images/site4/northcn.dxf");
  EXPECT_EQ(map_drive_c("C:\\images\\a\\b\\xha.dxf", "rel"), "rel/images/a/b/xha.dxf");
  EXPECT_EQ(map_drive_c("c:\\images\\site\\", "/"), "/images/site/");
  EXPECT_EQ(map_drive_c("c:\\images\\", "/srv/cad"), "/srv/cad/images/");
  // Only a leading drive is mapped; a colon further on is part of a name.
  EXPECT_EQ(map_drive_c("c:\\images\\d:x\\n", "/r"), "/r/images/d:x/n");
}

#ifndef _WIN32
class CaseFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quorvane-case-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(root); }
  void touch(const std::string& relative) {
    std::filesystem::create_directories(std::filesystem::path(root + relative).parent_path());
    std::ofstream(root + relative) << "x";
  }
  std::string root;
};

TEST_F(CaseFolder, EachComponentIsFoundWhateverItsCase) {
  touch("/Images/SITE4/NORTHCN.DXF");
  CaseMatch m = match_case(root + "/images/site4/northcn.dxf", root.size(), true);
  EXPECT_EQ(m.path, root + "/Images/SITE4/NORTHCN.DXF");
  EXPECT_TRUE(m.choices.empty());
  // A file to be created keeps its name; its folders are found.
  m = match_case(root + "/images/site4/northcnha.dxf", root.size(), false);
  EXPECT_EQ(m.path, root + "/Images/SITE4/northcnha.dxf");
  // What exists as written is taken as it is, and what is nowhere is left as written.
  touch("/images/site4/northcn.dxf");
  EXPECT_EQ(match_case(root + "/images/site4/northcn.dxf", root.size(), true).path,
            root + "/images/site4/northcn.dxf");
  EXPECT_EQ(match_case(root + "/images/site4/southcn.dxf", root.size(), true).path,
            root + "/images/site4/southcn.dxf");
  // The part before `kept` is not looked up.
  EXPECT_EQ(match_case(root + "/IMAGES/x", root.size() + 7, true).path, root + "/IMAGES/x");
}

TEST_F(CaseFolder, SeveralMatchesAreNamed) {
  touch("/images/site4/NORTHCN.DXF");
  touch("/images/site4/NorthCN.dxf");
  CaseMatch m = match_case(root + "/images/site4/northcn.dxf", root.size(), true);
  EXPECT_EQ(m.path, root + "/images/site4/northcn.dxf");
  EXPECT_EQ(m.choices, (std::vector<std::string>{root + "/images/site4/NORTHCN.DXF",
                                                 root + "/images/site4/NorthCN.dxf"}));
}

TEST(HostPath, TheFolderComesFromTheEnvironmentOrIsTheCurrentOne) {
  setenv("QUORVANE_DRIVE_C", "/srv/cad", 1);
  EXPECT_EQ(host_path("c:\\images\\s\\ncn.dxf"), "/srv/cad/images/s/ncn.dxf");
  setenv("QUORVANE_DRIVE_C", "", 1);
  std::string here = drive_c_folder();
  EXPECT_FALSE(here.empty());
  EXPECT_EQ(here.front(), '/');
  unsetenv("QUORVANE_DRIVE_C");
  EXPECT_EQ(drive_c_folder(), here);
  EXPECT_EQ(host_path("c:\\images\\s\\ncn.dxf"), here + "/images/s/ncn.dxf");
}
#endif

}  // namespace
}  // namespace quorvane
