// A folder closed to new files for a test, on Linux.
#ifndef QUORVANE_TESTS_NO_NEW_FILE_H
#define QUORVANE_TESTS_NO_NEW_FILE_H

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>

namespace quorvane::testing {

// A folder that takes no new file while this lives: made read-only, or
// immutable for root, whom permissions do not stop.
class NoNewFile {
 public:
  explicit NoNewFile(std::string folder) : folder_(std::move(folder)) {
    closed_ = root() ? immutable(true) : chmod(folder_.c_str(), 0555) == 0;
  }
  ~NoNewFile() {
    if (!closed_) return;
    if (root()) {
      immutable(false);
    } else {
      chmod(folder_.c_str(), 0755);
    }
  }
  NoNewFile(const NoNewFile&) = delete;
  NoNewFile& operator=(const NoNewFile&) = delete;
  explicit operator bool() const { return closed_; }
  static bool root() { return geteuid() == 0; }

 private:
  bool immutable(bool on) {
    int fd = open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    bool set = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    set = set && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0) close(fd);
    return set;
  }

  std::string folder_;
  bool closed_ = false;
};

}  // namespace quorvane::testing

#endif
