#include "output_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>

#include "files.h"
#include "text_encoding.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quorvane {

namespace {

// What a signal handler needs to abandon the file, kept where it may read it.
char temporary_path[4096];
std::atomic<bool> temporary_set{false};

// Set while the earlier file is being written over: a handler that ends the
// run then empties it, so that nothing looks finished.
std::atomic<bool> copying{false};

// The copy over the earlier file goes through this buffer: nothing is
// allocated at commit, where memory may be what ran out.
char piece[256 * 1024];

// Six letters and digits that no other run is likely to draw.
std::string random_suffix() {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::mt19937_64 draw{std::random_device{}()};
  std::string suffix;
  for (int i = 0; i < 6; ++i) suffix += kChars[draw() % (sizeof kChars - 1)];
  return suffix;
}

// ".name.XXXXXX" beside the target, the name cut so that the whole stays a valid name.
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

}  // namespace

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

int named_descriptor(const std::string& host) {
  if (host == "-") return 1;
#ifndef _WIN32
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
#endif
  return -1;
}

#ifdef _WIN32

namespace {

// For the handler: the temporary of a replacing file, or the earlier file of one written in place.
std::atomic<HANDLE> open_handle{INVALID_HANDLE_VALUE};
bool marked = false;  // the temporary is marked for deletion

int errno_of(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    default:
      return EIO;
  }
}

std::FILE* stream_of(HANDLE handle, int& error) {
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    error = EIO;
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "r+b");
  if (file == nullptr) {
    _close(fd);
    error = EIO;
  }
  return file;
}

HANDLE duplicate(HANDLE handle) {
  HANDLE copy = INVALID_HANDLE_VALUE;
  if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    return INVALID_HANDLE_VALUE;
  }
  return copy;
}

void drop_handle() {
  HANDLE handle = open_handle.exchange(INVALID_HANDLE_VALUE);
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}

// Marks the file for deletion once its last handle closes, or takes the mark
// back. A file so marked goes however the process ends, killed too.
bool dispose(HANDLE handle, bool gone) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = gone ? TRUE : FALSE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                    sizeof disposition) != 0;
}

bool empty(HANDLE handle) {
  FILE_END_OF_FILE_INFO end{};
  return SetFileInformationByHandle(handle, FileEndOfFileInfo, &end, sizeof end) != 0;
}

}  // namespace

std::string follow_links(const std::string& host) { return host; }

std::FILE* OutputFile::open(const std::string& host, int& error) {
  // Standard output is written through, at its position, in binary.
  if (named_descriptor(host) >= 0) {
    const int fd = _dup(_fileno(stdout));
    std::FILE* file = fd < 0 ? nullptr : _fdopen(fd, "wb");
    if (file == nullptr) {
      if (fd >= 0) _close(fd);
      error = errno != 0 ? errno : EBADF;
      return nullptr;
    }
    _setmode(fd, _O_BINARY);
    target_ = host;
    kind_ = Kind::kWriteThrough;
    opened_ = true;
    return file;
  }
  target_ = follow_links(host);
  DWORD attributes = GetFileAttributesW(widen(target_).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      error = EISDIR;
      return nullptr;
    }
    // Replaced only if it could have been opened for writing: a read-only file is refused.
    HANDLE probe = CreateFileW(widen(target_).c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
      error = errno_of(GetLastError());
      return nullptr;
    }
    if (GetFileType(probe) != FILE_TYPE_DISK) {
      kind_ = Kind::kWriteThrough;
      opened_ = true;
      return stream_of(probe, error);
    }
    CloseHandle(probe);
    existed_ = true;
  }
  HANDLE handle = INVALID_HANDLE_VALUE;
  DWORD code = ERROR_FILE_EXISTS;
  for (int tries = 0; tries < 100 && code == ERROR_FILE_EXISTS; ++tries) {
    temporary_ = temporary_beside(target_);
    handle = CreateFileW(widen(temporary_).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                         FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    code = handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  }
  if (handle == INVALID_HANDLE_VALUE) {
    temporary_.clear();
    if (code == ERROR_ACCESS_DENIED && existed_) {
      // Opened now, without truncation, so that a file that may not be
      // written is refused before anything is made; written over at commit.
      HANDLE earlier = CreateFileW(widen(target_).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (earlier == INVALID_HANDLE_VALUE) {
        error = errno_of(GetLastError());
        return nullptr;
      }
      kind_ = Kind::kInPlace;
      // Removed once its last handle closes, the one kept here for commit.
      std::FILE* aside = temporary_file();
      HANDLE kept = aside == nullptr
                        ? INVALID_HANDLE_VALUE
                        : duplicate(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(aside))));
      if (kept == INVALID_HANDLE_VALUE) {
        error = aside == nullptr && errno != 0 ? errno : EIO;
        if (aside != nullptr) std::fclose(aside);
        CloseHandle(earlier);
        return nullptr;
      }
      earlier_ = reinterpret_cast<std::intptr_t>(earlier);
      aside_ = reinterpret_cast<std::intptr_t>(kept);
      open_handle.store(duplicate(earlier));
      opened_ = true;
      return aside;
    }
    error = errno_of(code);
    return nullptr;
  }
  // Gone with the process's last handle to it, however the process ends,
  // until commit takes the mark back through the handle kept here.
  const HANDLE kept = duplicate(handle);
  marked = kept != INVALID_HANDLE_VALUE && dispose(handle, true);
  publish_temporary(temporary_);
  open_handle.store(kept);
  opened_ = true;
  return stream_of(handle, error);
}

int OutputFile::write_over() {
  HANDLE earlier = reinterpret_cast<HANDLE>(earlier_);
  HANDLE aside = reinterpret_cast<HANDLE>(aside_);
  LARGE_INTEGER size{}, before{}, start{};
  if (!GetFileSizeEx(aside, &size) || !GetFileSizeEx(earlier, &before) ||
      !SetFilePointerEx(aside, start, nullptr, FILE_BEGIN) ||
      !SetFilePointerEx(earlier, start, nullptr, FILE_BEGIN)) {
    return errno_of(GetLastError());
  }
  // Room for the new size first, where the file system reserves it: a full
  // disk fails here, before a byte of the earlier file changes.
  if (size.QuadPart > before.QuadPart) {
    FILE_ALLOCATION_INFO room{};
    room.AllocationSize = size;
    if (!SetFileInformationByHandle(earlier, FileAllocationInfo, &room, sizeof room)) {
      const int error = errno_of(GetLastError());
      if (error == ENOSPC) return error;
    }
  }
  copying.store(true);
  int error = 0;
  bool touched = false;
  for (LONGLONG done = 0; done < size.QuadPart && error == 0;) {
    const auto want = static_cast<DWORD>(std::min<LONGLONG>(sizeof piece, size.QuadPart - done));
    DWORD got = 0;
    if (!ReadFile(aside, piece, want, &got, nullptr)) {
      error = errno_of(GetLastError());
      break;
    }
    if (got == 0) {  // shorter than its size: it cannot be the file made
      error = EIO;
      break;
    }
    DWORD put = 0;
    if (!WriteFile(earlier, piece, got, &put, nullptr) || put != got) {
      error = errno_of(GetLastError());
      touched = touched || put > 0;
      break;
    }
    touched = true;
    done += got;
  }
  if (error == 0 && !SetEndOfFile(earlier)) {
    error = errno_of(GetLastError());
    touched = true;
  }
  if (error != 0 && touched) left_ = empty(earlier) ? Left::kEmptied : Left::kMixed;
  copying.store(false);
  return error;
}

void OutputFile::release_in_place() {
  drop_handle();
  for (std::intptr_t* handle : {&earlier_, &aside_}) {
    if (*handle != -1) CloseHandle(reinterpret_cast<HANDLE>(*handle));
    *handle = -1;
  }
}

void OutputFile::remove_temporary() {
  // Marked for deletion: it goes with the last handle. Removed by name too,
  // where the mark could not be set.
  drop_handle();
  DeleteFileW(widen(temporary_).c_str());
  temporary_set.store(false);
}

int OutputFile::commit() {
  if (!opened_) return 0;
  opened_ = false;
  if (kind_ == Kind::kInPlace) {
    const int error = write_over();
    release_in_place();
    return error;
  }
  if (kind_ != Kind::kReplacing) {
    drop_handle();
    return 0;
  }
  // The mark is taken back with the last handle to the file, which may then be moved.
  HANDLE handle = open_handle.exchange(INVALID_HANDLE_VALUE);
  const bool kept = !marked || dispose(handle, false);
  const DWORD why = kept ? ERROR_SUCCESS : GetLastError();
  CloseHandle(handle);
  if (!kept) {
    temporary_set.store(false);
    return errno_of(why);
  }
  BOOL moved = FALSE;
  if (existed_) {
    // ReplaceFile keeps the earlier file's attributes and security.
    moved = ReplaceFileW(widen(target_).c_str(), widen(temporary_).c_str(), nullptr,
                         REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
  }
  if (!moved)
    moved =
        MoveFileExW(widen(temporary_).c_str(), widen(target_).c_str(), MOVEFILE_REPLACE_EXISTING);
  if (!moved) {
    int error = errno_of(GetLastError());
    DeleteFileW(widen(temporary_).c_str());
    temporary_set.store(false);
    return error;
  }
  temporary_set.store(false);
  return 0;
}

bool OutputFile::abandon_now() {
  HANDLE handle = open_handle.load();
  if (handle == INVALID_HANDLE_VALUE) return false;
  if (copying.load()) return empty(handle);
  // Marked already when it was made; again, in case that failed.
  if (temporary_set.load()) dispose(handle, true);
  return false;
}

#else

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

int OutputFile::commit() {
  if (!opened_) return 0;
  opened_ = false;
  if (kind_ == Kind::kInPlace) {
    const int error = write_over();
    release_in_place();
    return error;
  }
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

#endif

}  // namespace quorvane
