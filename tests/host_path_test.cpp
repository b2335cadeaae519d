#include "host_path.h"

#include <gtest/gtest.h>

#include <cstdlib>

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
