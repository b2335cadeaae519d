#include "host_path.h"

#include <algorithm>
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

namespace {

bool same_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

CaseMatch match_case(const std::string& host, std::size_t kept, bool whole) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::exists(fs::symlink_status(host, ec))) return {host, {}};
  std::string found = host.substr(0, kept);
  std::size_t at = kept;
  while (at < host.size()) {
    std::size_t slash = host.find('/', at);
    std::size_t next = slash == std::string::npos ? host.size() : slash + 1;
    std::string name = host.substr(at, (slash == std::string::npos ? host.size() : slash) - at);
    bool last = slash == std::string::npos || next == host.size();
    std::string here = found + name;
    if (name.empty() || fs::exists(fs::symlink_status(here, ec)) || (last && !whole)) {
      found = here + (slash == std::string::npos ? "" : "/");
      at = next;
      continue;
    }
    std::vector<std::string> matches;
    fs::path folder = found.empty() ? fs::path(".") : fs::path(found);
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      std::string entry = it->path().filename().string();
      if (same_ignoring_case(entry, name)) matches.push_back(found + entry);
    }
    if (matches.empty()) return {host, {}};
    if (matches.size() > 1) {
      std::sort(matches.begin(), matches.end());
      return {host, matches};
    }
    found = matches[0] + (slash == std::string::npos ? "" : "/");
    at = next;
  }
  return {found, {}};
}

CaseMatch find_host_path(std::string_view composed, bool whole) {
#ifdef _WIN32
  (void)whole;
  return {std::string(composed), {}};
#else
  std::string folder = drive_c_folder();
  std::string root = map_drive_c("c:", folder);
  return match_case(map_drive_c(composed, folder), root.size(), whole);
#endif
}

}  // namespace quorvane
