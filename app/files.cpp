#include "files.h"

#include <sys/stat.h>

#include <cerrno>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#ifdef _WIN32
#include <windows.h>
#endif

namespace quorvane {

namespace {

std::FILE* open_file(const std::string& host, const char* mode, int& error) {
  errno = 0;
  std::FILE* file = std::fopen(host.c_str(), mode);
  if (file == nullptr) error = errno != 0 ? errno : ENOENT;
  return file;
}

}  // namespace

#ifdef _WIN32

namespace {

bool is_folder(const std::string& host) {
  DWORD attributes = GetFileAttributesA(host.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

// Windows refuses to open a folder as a file ("Permission denied"); say what it is.
std::FILE* open_input(const std::string& host, int& error) {
  std::FILE* file = open_file(host, "rb", error);
  if (file == nullptr && is_folder(host)) error = EISDIR;
  return file;
}

std::FILE* create_output(const std::string& host, int& error) {
  std::FILE* file = open_file(host, "w+b", error);
  if (file == nullptr && is_folder(host)) error = EISDIR;
  return file;
}

#else

// A folder opens as a file here, and only its reads fail: refuse it at once.
std::FILE* open_input(const std::string& host, int& error) {
  std::FILE* file = open_file(host, "rb", error);
  if (file == nullptr) return nullptr;
  struct stat info;
  if (fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
    std::fclose(file);
    error = EISDIR;
    return nullptr;
  }
  return file;
}

// An existing file is written over from its start and cut to its new length
// when closed, not emptied on opening: a file emptied and written again is
// forced to disk as a whole when it is closed, which a merge need not wait for.
std::FILE* create_output(const std::string& host, int& error) {
  errno = 0;
  int fd = open(host.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = errno != 0 ? errno : EIO;
    return nullptr;
  }
  std::FILE* file = fdopen(fd, "r+b");
  if (file == nullptr) {
    error = errno != 0 ? errno : EIO;
    close(fd);
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

#else

std::FILE* create_part(const std::string&) { return nullptr; }

#endif

#ifdef _WIN32

namespace {

bool identify(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
  HANDLE handle =
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
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

#else

bool same_file(const std::string& a, const std::string& b) {
  struct stat first, second;
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

#endif

}  // namespace quorvane
