// The merged file on Windows: handles, a temporary marked for deletion from
// the start, ReplaceFileW over the earlier file, and a console handler's
// abandon through that mark.
#include "output_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "files.h"
#include "output_file_impl.h"
#include "text_encoding.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace quorvane {

using output_file_impl::copying;
using output_file_impl::piece;
using output_file_impl::publish_temporary;
using output_file_impl::temporary_beside;
using output_file_impl::temporary_set;

// Standard output alone: Windows has no /dev/fd.
int named_descriptor(const std::string& host) { return host == "-" ? 1 : -1; }

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

int OutputFile::put_in_place() {
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

}  // namespace quorvane
