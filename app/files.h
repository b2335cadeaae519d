// Opening the drawings, and telling whether two paths name one file.
#ifndef QUORVANE_FILES_H
#define QUORVANE_FILES_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace quorvane {

/// `error` of open_input for a FIFO or a device where a regular file is needed.
constexpr int kNotRegular = -1;

/// Opens an input in binary mode; null with `error` set (a folder gives
/// EISDIR). With `regular_only`, a FIFO or a device is refused before any
/// wait for its writer (kNotRegular).
std::FILE* open_input(const std::string& host, bool regular_only, int& error);

/// Creates a file without a name in the folder of `beside`, for part of the output
/// written ahead of its place; it goes when closed, or when the process ends
/// however it ends. Null where the system or the file system has no such files.
std::FILE* create_part(const std::string& beside);

/// Creates a file without a name that lasts until closed, in the system's temporary
/// folder; null with errno set when none can be made.
std::FILE* temporary_file();

/// A file without a name in the system's temporary folder, which goes with
/// the process however it ends (a kill included), and which may be read any
/// number of times once written, each reading from its start.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  /// Makes the file, and a stream to write it (its closing does not end the
  /// file); null with errno set when it cannot be made.
  std::FILE* create();
  /// Opens a new reading of the bytes written, from the start; null with errno set.
  std::FILE* open_reading() const;

 private:
#ifdef _WIN32
  void* handle_ = nullptr;  // open for the file's life; the file goes when it closes
  std::wstring name_;
#else
  int fd_ = -1;  // open for the file's life
#endif
};

/// Tells whether `host` is a folder that exists.
bool folder_exists(const std::string& host);

/// Tells whether both paths exist and lead to the same file, through links or
/// not: same device and inode, or same volume and file index on Windows.
bool same_file(const std::string& a, const std::string& b);
/// Tells the same for the file an open descriptor of this process leads to.
bool same_file(int descriptor, const std::string& path);

/// What tells that an open file has changed: which file it is, its size and
/// when it was last written.
struct FileStamp {
  std::uint64_t device = 0, inode = 0;
  std::int64_t size = 0;
  std::int64_t modified = 0;  ///< nanoseconds, or the system's own unit
  bool regular = false;       ///< a plain file, not a FIFO or a device
  bool operator==(const FileStamp&) const = default;
};

/// Reads the stamp of an open file; false when the system cannot tell.
bool stamp_of(std::FILE* file, FileStamp& stamp);
/// Reads the stamp of the file `host` names, opened for that.
bool stamp_of_path(const std::string& host, FileStamp& stamp);

/// Tells whether the folder `folder` has at least `bytes` free for this user.
bool room_for(const std::string& folder, std::uint64_t bytes);

}  // namespace quorvane

#endif
