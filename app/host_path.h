// From a composed path such as c:\images\site4\northcn.dxf to a file of this system.
#ifndef QUORVANE_HOST_PATH_H
#define QUORVANE_HOST_PATH_H

#include <string>
#include <string_view>

namespace quorvane {

/// On a system without drive letters: the drive "c:" (either case) stands for
/// `drive_c` and every backslash is a separator, so with drive_c /srv/cad the
/// path c:\images\site4\northcn.dxf is /srv/cad/images/site4/northcn.dxf.
std::string map_drive_c(std::string_view composed, std::string_view drive_c);

/// The folder "c:" stands for here: $QUORVANE_DRIVE_C, or the current folder
/// when that is unset or empty.
std::string drive_c_folder();

/// The path to open: on Windows the composed path as it stands, elsewhere map_drive_c.
std::string host_path(std::string_view composed);

}  // namespace quorvane

#endif
