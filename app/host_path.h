// From a composed path such as c:\images\site4\northcn.dxf to a file of this system.
#ifndef QUORVANE_HOST_PATH_H
#define QUORVANE_HOST_PATH_H

#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

/// Maps `composed` for a system without drive letters: the drive "c:" (either
/// case) stands for `drive_c` and every backslash is a separator, so with drive_c
/// /srv/cad the path c:\images\site4\northcn.dxf is /srv/cad/images/site4/northcn.dxf.
std::string map_drive_c(std::string_view composed, std::string_view drive_c);

/// Gives the folder "c:" stands for here: $QUORVANE_DRIVE_C, or the current folder
/// when that is unset or empty.
std::string drive_c_folder();

/// Gives the path to open: on Windows the composed path as it stands, elsewhere map_drive_c.
std::string host_path(std::string_view composed);

/// Where a path that does not exist as written may be found on a file system
/// whose names are case-sensitive: each component after the first `kept`
/// characters is looked up ignoring the case of ASCII letters (a drawing copied
/// from Windows as NORTHCN.DXF is found for northcn.dxf). Without `whole`, the
/// last component is kept as written (a file about to be created).
struct CaseMatch {
  std::string path;                  ///< the path found, or `host` itself when none is
  std::vector<std::string> choices;  ///< two or more when a component matches several
};
CaseMatch match_case(const std::string& host, std::size_t kept, bool whole);

/// Applies match_case to a composed path, from the drive folder on; on Windows gives
/// the composed path as it stands.
CaseMatch find_host_path(std::string_view composed, bool whole);

}  // namespace quorvane

#endif
