#include "host_path.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace quorvane {

std::string map_drive_c(std::string_view composed, std::string_view drive_c) {
  std::string host;
  if (composed.size() >= 2 && (composed[0] == 'c' || composed[0] == 'C') && composed[1] == ':') {
    while (drive_c.size() > 1 && drive_c.back() == '/') drive_c.remove_suffix(1);
    if (drive_c == "/") drive_c = "";  // "c:\images" under the root is /images
    host.assign(drive_c);
    composed.remove_prefix(2);
  }
  for (char c : composed) host.push_back(c == '\\' ? '/' : c);
  return host;
}

std::string drive_c_folder() {
  const char* folder = std::getenv("QUORVANE_DRIVE_C");
  if (folder != nullptr && *folder != '\0') return folder;
  std::error_code ec;
  std::filesystem::path here = std::filesystem::current_path(ec);
  return ec ? std::string(".") : here.string();
}

std::string host_path(std::string_view composed) {
#ifdef _WIN32
  return std::string(composed);
#else
  return map_drive_c(composed, drive_c_folder());
#endif
}

}  // namespace quorvane
