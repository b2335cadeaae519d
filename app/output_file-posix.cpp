// The merged file on POSIX systems: descriptors, rename over the earlier
// file, and a signal handler's abandon through unlink and ftruncate.
#include "output_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "files.h"
#include "output_file_impl.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

using output_file_impl::copying;
using output_file_impl::piece;
using output_file_impl::publish_temporary;
using output_file_impl::temporary_beside;
using output_file_impl::temporary_path;
using output_file_impl::temporary_set;

int named_descriptor(const std::string& host) {
  if (host == "-") return 1;
  if (host == "/dev/stdout") return 1;
  if (host == "/dev/stderr") return 2;
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    const std::string lead(prefix);
    if (!host.starts_with(lead) || host.size() == lead.size() || host.size() > lead.size() + 9) {
      continue;
    }
    int fd = 0;
    for (std::size_t i = lead.size(); i < host.size(); ++i) {
      if (host[i] < '0' || host[i] > '9') return -1;
      fd = fd * 10 + (host[i] - '0');
    }
    return fcntl(fd, F_GETFD) >= 0 ? fd : -1;  // only where this process has it open
  }
  return -1;
}

namespace {

std::atomic<int> in_place_fd{-1};  // the earlier file of a file written in place, for the handlers

std::string folder_of(const std::string& path) {
  std::string::size_type slash = path.find_last_of('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::FILE* stream_of(int fd, const char* mode, int& error) {
  std::FILE* file = fdopen(fd, mode);
  if (file == nullptr) {
    error = errno != 0 ? errno : EIO;
    close(fd);
  }
  return file;
}

}  // namespace

std::string follow_links(const std::string& host) {
  std::string path = host;
  for (int depth = 0; depth < 40; ++depth) {  // as many as the system itself follows
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    std::string target(4096, '\0');
    ssize_t size = readlink(path.c_str(), target.data(), target.size());
    if (size <= 0 || static_cast<std::size_t>(size) >= target.size()) return path;
    target.resize(static_cast<std::size_t>(size));
    path = target[0] == '/' ? target : folder_of(path) + target;
  }
  return path;
}

namespace {

// In a folder whose sticky bit is set, only the owner of a file (or of the
// folder, or root) may rename another file over it.
bool renamed_over(const std::string& target, const struct stat& file) {
  struct stat folder;
  const std::string name = folder_of(target);
  if (stat(name.empty() ? "." : name.c_str(), &folder) != 0) return true;
  if ((folder.st_mode & S_ISVTX) == 0) return true;
  const uid_t me = geteuid();
  return me == 0 || file.st_uid == me || folder.st_uid == me;
}

}  // namespace

std::FILE* OutputFile::open(const std::string& host, int& error) {
  // An open descriptor is written through, at its position; a FIFO or a
  // device is reached as the system reaches it (/dev/tty leads to the
  // terminal through a link that names no file), and written through.
  const int named = named_descriptor(host);
  struct stat direct {};
  if (named >= 0 ||
      (stat(host.c_str(), &direct) == 0 && !S_ISREG(direct.st_mode) && !S_ISDIR(direct.st_mode))) {
    const int fd = named >= 0 ? fcntl(named, F_DUPFD_CLOEXEC, 3)
                              : ::open(host.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
      error = errno;
      return nullptr;
    }
    target_ = host;
    kind_ = Kind::kWriteThrough;
    opened_ = true;
    return stream_of(fd, "wb", error);
  }
  target_ = follow_links(host);
  mode_t mode = 0666;
  struct stat info {};
  if (stat(target_.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) {
      error = EISDIR;
      return nullptr;
    }
    // Replaced only if it could have been opened for writing: a read-only file is refused.
    int probe = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (probe < 0) {
      error = errno;
      return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
      kind_ = Kind::kWriteThrough;
      opened_ = true;
      return stream_of(probe, "wb", error);
    }
    close(probe);
    existed_ = true;
    mode = info.st_mode & 07777;
  } else if (errno != ENOENT) {
    error = errno;
    return nullptr;
  }
  int fd = -1;
  int why = EEXIST;
  if (existed_ && !renamed_over(target_, info)) why = EACCES;  // see renamed_over
  for (int tries = 0; tries < 100 && why == EEXIST; ++tries) {
    temporary_ = temporary_beside(target_);
    // Known to the handler of an interrupt before the file exists, so that
    // no moment is left where it exists unknown.
    if (!publish_temporary(temporary_)) {
      why = ENAMETOOLONG;
      break;
    }
    fd = ::open(temporary_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    why = fd < 0 ? errno : 0;
    if (fd < 0) temporary_set.store(false);
  }
  if (fd < 0) {
    temporary_.clear();
    if ((why == EACCES || why == EROFS || why == EPERM) && existed_) {
      // Opened now, without truncation, so that a file that may not be
      // written is refused before anything is made; written over at commit.
      int earlier = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
      if (earlier < 0) {
        error = errno;
        return nullptr;
      }
      kind_ = Kind::kInPlace;
      // The file made aside has no name: it goes with its last descriptor,
      // the one kept here for commit, however the process ends.
      std::FILE* aside = temporary_file();
      const int kept = aside == nullptr ? -1 : fcntl(fileno(aside), F_DUPFD_CLOEXEC, 0);
      if (kept < 0) {
        error = errno != 0 ? errno : EIO;
        if (aside != nullptr) std::fclose(aside);
        close(earlier);
        return nullptr;
      }
      earlier_ = earlier;
      aside_ = kept;
      in_place_fd.store(earlier);
      opened_ = true;
      return aside;
    }
    error = why;
    return nullptr;
  }
  opened_ = true;
  // A new file has 0666 less the umask, which open applied. The earlier
  // file's owner and group are kept where this user may give them, and its
  // permission bits, never a set-user-ID or set-group-ID bit of its own.
  if (existed_) {
    int kept = fchown(fd, info.st_uid, info.st_gid);
    if (kept != 0) kept = fchown(fd, static_cast<uid_t>(-1), info.st_gid);
    (void)kept;
    fchmod(fd, mode & 0777);
  }
  return stream_of(fd, "w+b", error);
}

int OutputFile::write_over() {
  const int earlier = static_cast<int>(earlier_);
  const int aside = static_cast<int>(aside_);
  struct stat made {};
  struct stat before {};
  if (fstat(aside, &made) != 0 || fstat(earlier, &before) != 0) return errno;
  const off_t size = made.st_size;
#ifdef __linux__
  // Room for the new size first, where the file system reserves it: a full
  // disk fails here, before a byte of the earlier file changes.
  if (size > 0 && fallocate(earlier, FALLOC_FL_KEEP_SIZE, 0, size) != 0 && errno != EOPNOTSUPP &&
      errno != ENOSYS && errno != EINVAL) {
    const int error = errno;
    if (size > before.st_size) {
      int kept = ftruncate(earlier, before.st_size);  // lets go of the room taken beyond its end
      (void)kept;
    }
    return error;
  }
#endif
  copying.store(true);
  int error = 0;
  bool touched = false;
  for (off_t done = 0; done < size && error == 0;) {
    const auto want = static_cast<std::size_t>(std::min<off_t>(sizeof piece, size - done));
    const ssize_t got = pread(aside, piece, want, done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      error = got < 0 ? errno : EIO;
      break;
    }
    for (ssize_t put = 0; put < got;) {
      const ssize_t n =
          pwrite(earlier, piece + put, static_cast<std::size_t>(got - put), done + put);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error = n < 0 ? errno : EIO;
        break;
      }
      touched = true;
      put += n;
    }
    done += got;
  }
  if (error == 0 && ftruncate(earlier, size) != 0) {
    error = errno;
    touched = true;
  }
  if (error != 0 && touched) left_ = ftruncate(earlier, 0) == 0 ? Left::kEmptied : Left::kMixed;
  copying.store(false);
  return error;
}

void OutputFile::release_in_place() {
  in_place_fd.store(-1);
  for (std::intptr_t* fd : {&earlier_, &aside_}) {
    if (*fd >= 0) close(static_cast<int>(*fd));
    *fd = -1;
  }
}

void OutputFile::remove_temporary() {
  unlink(temporary_.c_str());
  temporary_set.store(false);
}

int OutputFile::put_in_place() {
  if (kind_ != Kind::kReplacing) return 0;
  // Over an earlier file, the two are swapped and the earlier one then goes:
  // a plain rename over it makes ext4 write the new file out at once, which a
  // run need not wait for. A signal between the two removes the earlier file.
  bool swapped = false;
#ifdef RENAME_EXCHANGE
  if (existed_) {
    swapped =
        renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, target_.c_str(), RENAME_EXCHANGE) == 0;
  }
#endif
  if (!swapped && rename(temporary_.c_str(), target_.c_str()) != 0) {
    int error = errno;
    remove_temporary();
    return error;
  }
  if (swapped) unlink(temporary_.c_str());
  temporary_set.store(false);  // a signal before this finds nothing left to remove
  return 0;
}

bool OutputFile::abandon_now() {
  const int fd = in_place_fd.load();
  const bool emptied = fd >= 0 && copying.load() && ftruncate(fd, 0) == 0;
  if (temporary_set.load()) unlink(temporary_path);
  return emptied;
}

}  // namespace quorvane
