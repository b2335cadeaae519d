#include "files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "text_encoding.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>
#endif

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cwchar>
#endif

namespace quorvane {

namespace {

std::FILE* open_file(const std::string& host, const char* mode, int& error) {
  errno = 0;
#ifdef _WIN32
  std::FILE* file = _wfopen(widen(host).c_str(), widen(mode).c_str());
#else
  std::FILE* file = std::fopen(host.c_str(), mode);
#endif
  if (file == nullptr) error = errno != 0 ? errno : ENOENT;
  return file;
}

}  // namespace

#ifdef _WIN32

namespace {

bool is_folder(const std::string& host) {
  DWORD attributes = GetFileAttributesW(widen(host).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

// Windows refuses to open a folder as a file ("Permission denied"); say what it is.
std::FILE* open_input(const std::string& host, bool, int& error) {
  std::FILE* file = open_file(host, "rb", error);
  if (file == nullptr && is_folder(host)) error = EISDIR;
  return file;
}

#else

// A folder opens as a file here, and only its reads fail: refuse it at once.
// What it is is known before a FIFO waits for its writer.
std::FILE* open_input(const std::string& host, bool regular_only, int& error) {
  struct stat info;
  if (stat(host.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) {
      error = EISDIR;
      return nullptr;
    }
    if (regular_only && !S_ISREG(info.st_mode)) {
      error = kNotRegular;
      return nullptr;
    }
  }
  std::FILE* file = open_file(host, "rb", error);
  if (file == nullptr) return nullptr;
  if (fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
    std::fclose(file);
    error = EISDIR;
    return nullptr;
  }
  return file;
}

#endif

#ifdef __linux__

std::FILE* create_part(const std::string& beside) {
  std::string::size_type slash = beside.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : beside.substr(0, slash + 1);
  int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "w+b");
  if (file == nullptr) close(fd);
  return file;
}

namespace {

// A file without a name in the system's temporary folder ($TMPDIR, or /tmp),
// open for reading and writing; -1, errno set, when none can be made.
int unnamed_file() {
  const char* folder = std::getenv("TMPDIR");
  if (folder == nullptr || *folder == '\0') folder = "/tmp";
  int fd = open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR)) return fd;
  // A file system without such files: one with a name, taken away at once.
  std::string name = std::string(folder) + "/.quorvane-XXXXXX";
  fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) unlink(name.c_str());
  return fd;
}

}  // namespace

std::FILE* temporary_file() {
  const int fd = unnamed_file();
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "w+b");
  if (file == nullptr) close(fd);
  return file;
}

TemporaryFile::~TemporaryFile() {
  if (fd_ >= 0) close(fd_);
}

std::FILE* TemporaryFile::create() {
  fd_ = unnamed_file();
  if (fd_ < 0) return nullptr;
  const int writing = dup(fd_);
  if (writing < 0) return nullptr;
  std::FILE* file = fdopen(writing, "w+b");
  if (file == nullptr) close(writing);
  return file;
}

// A descriptor of its own, with its own offset: through /proc, as the file
// has no name.
std::FILE* TemporaryFile::open_reading() const {
  const int fd = open(("/proc/self/fd/" + std::to_string(fd_)).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "rb");
  if (file == nullptr) close(fd);
  return file;
}

#else

std::FILE* create_part(const std::string&) { return nullptr; }

// In the user's temporary folder: the C library's own goes to the root of
// the drive, which an ordinary user may not write.
std::FILE* temporary_file() {
  wchar_t folder[MAX_PATH + 1], name[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH || GetTempFileNameW(folder, L"qvt", 0, name) == 0) {
    return nullptr;
  }
  return _wfopen(name, L"w+bD");  // D: removed once closed
}

#endif

#ifdef _WIN32

namespace {

// A stream of the C library over `handle`, which it then owns; null with
// errno set, the handle closed, when none can be made.
std::FILE* stream_of_handle(HANDLE handle, int access, const char* mode) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), access | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    errno = EIO;
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, mode);
  if (file == nullptr) _close(fd);
  return file;
}

}  // namespace

TemporaryFile::~TemporaryFile() {
  if (handle_ != nullptr) CloseHandle(handle_);
}

std::FILE* TemporaryFile::create() {
  wchar_t folder[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) {
    errno = ENOENT;
    return nullptr;
  }
  // Made with its deletion at the last close, so that no moment leaves it
  // behind: a name of our own, as GetTempFileNameW would make it first.
  HANDLE handle = INVALID_HANDLE_VALUE;
  for (int tries = 0; tries < 100 && handle == INVALID_HANDLE_VALUE; ++tries) {
    wchar_t name[32];
    swprintf(name, 32, L"qvt%08lx%04x.tmp", GetTickCount(), static_cast<unsigned>(tries * 7919 + GetCurrentProcessId()) & 0xffff);
    name_ = std::wstring(folder) + name;
    handle = CreateFileW(name_.c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (handle == INVALID_HANDLE_VALUE) {
    errno = EACCES;
    return nullptr;
  }
  handle_ = handle;
  HANDLE writing = INVALID_HANDLE_VALUE;
  if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &writing, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    errno = EIO;
    return nullptr;
  }
  return stream_of_handle(writing, _O_RDWR, "w+b");
}

std::FILE* TemporaryFile::open_reading() const {
  HANDLE reading = CreateFileW(name_.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (reading == INVALID_HANDLE_VALUE) {
    errno = EACCES;
    return nullptr;
  }
  return stream_of_handle(reading, _O_RDONLY, "rb");
}

namespace {

bool identify(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
  HANDLE handle =
      CreateFileW(widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  bool known = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  return known;
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION first, second;
  return identify(a, first) && identify(b, second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

bool same_file(int descriptor, const std::string& path) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
  BY_HANDLE_FILE_INFORMATION first, second;
  return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK &&
         GetFileInformationByHandle(handle, &first) && identify(path, second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

#else

bool same_file(const std::string& a, const std::string& b) {
  struct stat first, second;
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool same_file(int descriptor, const std::string& path) {
  struct stat first, second;
  return fstat(descriptor, &first) == 0 && stat(path.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

#endif

#ifdef _WIN32

bool folder_exists(const std::string& host) { return is_folder(host); }

bool stamp_of(std::FILE* file, FileStamp& stamp) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  BY_HANDLE_FILE_INFORMATION info;
  if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) return false;
  stamp.device = info.dwVolumeSerialNumber;
  stamp.inode = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  stamp.size =
      static_cast<std::int64_t>((std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
  stamp.modified =
      static_cast<std::int64_t>((std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                info.ftLastWriteTime.dwLowDateTime);
  stamp.regular = GetFileType(handle) == FILE_TYPE_DISK;
  return true;
}

bool room_for(const std::string& folder, std::uint64_t bytes) {
  ULARGE_INTEGER free_bytes;
  return GetDiskFreeSpaceExW(widen(folder).c_str(), &free_bytes, nullptr, nullptr) &&
         free_bytes.QuadPart >= bytes;
}

#else

bool folder_exists(const std::string& host) {
  struct stat info;
  return stat(host.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool stamp_of(std::FILE* file, FileStamp& stamp) {
  struct stat info;
  if (fstat(fileno(file), &info) != 0) return false;
  stamp.device = static_cast<std::uint64_t>(info.st_dev);
  stamp.inode = static_cast<std::uint64_t>(info.st_ino);
  stamp.size = static_cast<std::int64_t>(info.st_size);
  stamp.modified = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 +
                   static_cast<std::int64_t>(info.st_mtim.tv_nsec);
  stamp.regular = S_ISREG(info.st_mode);
  return true;
}

bool room_for(const std::string& folder, std::uint64_t bytes) {
  struct statvfs info;
  return statvfs(folder.empty() ? "." : folder.c_str(), &info) == 0 &&
         static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize >= bytes;
}

#endif

bool stamp_of_path(const std::string& host, FileStamp& stamp) {
  int error = 0;
  std::FILE* file = open_input(host, /*regular_only=*/false, error);
  if (file == nullptr) return false;
  const bool known = stamp_of(file, stamp);
  std::fclose(file);
  return known;
}

}  // namespace quorvane
