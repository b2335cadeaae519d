// The merged file, what every system shares: the temporary's name, the state
// the handlers read, and abandon(). The rest is in output_file-posix.cpp and
// output_file-win32.cpp, one of which is built.
#include "output_file.h"

#include <atomic>
#include <cstring>
#include <random>

#include "output_file_impl.h"

namespace quorvane {

namespace output_file_impl {

char temporary_path[4096];
std::atomic<bool> temporary_set{false};
std::atomic<bool> copying{false};
char piece[256 * 1024];

namespace {

// Six letters and digits that no other run is likely to draw.
std::string random_suffix() {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::mt19937_64 draw{std::random_device{}()};
  std::string suffix;
  for (int i = 0; i < 6; ++i) suffix += kChars[draw() % (sizeof kChars - 1)];
  return suffix;
}

}  // namespace

std::string temporary_beside(const std::string& target) {
  std::string::size_type slash = target.find_last_of("/\\");
  std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  return folder + "." + name.substr(0, 200) + "." + random_suffix();
}

bool publish_temporary(const std::string& path) {
  if (path.size() >= sizeof temporary_path) return false;
  std::memcpy(temporary_path, path.c_str(), path.size() + 1);
  temporary_set.store(true);
  return true;
}

}  // namespace output_file_impl

int OutputFile::commit() {
  if (!opened_) return 0;
  opened_ = false;
  if (kind_ == Kind::kInPlace) {
    const int error = write_over();
    release_in_place();
    return error;
  }
  return put_in_place();
}

std::string OutputFile::abandon() {
  if (opened_) {
    opened_ = false;
    if (kind_ == Kind::kInPlace) release_in_place();
    if (kind_ == Kind::kReplacing) remove_temporary();
  }
  switch (left_) {
    case Left::kEmptied:
      return kWrittenOverAndEmptied;
    case Left::kMixed:
      return "was being written over in place, as its folder takes no new file, and could not be "
             "emptied: it holds part of the new file";
    default:
      return "";
  }
}

}  // namespace quorvane
