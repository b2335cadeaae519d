// The merged file, which appears whole or not at all.
//
// It is written under a temporary name in the folder of the file it replaces
// (".northcnha.dxf.Xk3f9Q" for northcnha.dxf) and moved over that file only
// once it is complete and closed; until then an earlier file of that name is
// untouched, and on any failure or interrupt the temporary goes (on Windows
// it is marked for deletion from the start, so that even a killed run leaves
// none). The earlier file's permission bits are kept; a new file gets 0666
// less the umask. A symbolic link is followed: the file it leads to is
// replaced, and the link stays.
//
// Two exceptions:
// - a FIFO or a device is written through, in order, never seeked and never
//   removed;
// - where the folder takes no new file (EACCES, EROFS, EPERM) but the earlier
//   file may be written, the new file is made whole in a file without a name
//   in the system's temporary folder, and copied over the earlier file only
//   at commit: room for it is reserved first where the system can, so that a
//   full disk fails before a byte changes. Until that copy the earlier file
//   is as it was; only a copy that fails midway leaves it emptied.
#ifndef QUORVANE_OUTPUT_FILE_H
#define QUORVANE_OUTPUT_FILE_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace quorvane {

class OutputFile {
 public:
  enum class Kind {
    kReplacing,     ///< a temporary file, moved over the target at the end
    kWriteThrough,  ///< a FIFO or a device, written as it is
    kInPlace,       ///< made aside, copied over the earlier file: its folder takes no new file
  };

  /// Prepares to write the file `host` names (see named_descriptor). Returns the stream to write to,
  /// open for reading too when it is a regular file; null with `error` set
  /// (an errno value) when it cannot be written. When no file can be made
  /// aside for a file written in place, kind() is kInPlace.
  std::FILE* open(const std::string& host, int& error);
  Kind kind() const { return kind_; }
  /// Tells whether the file written may be written and read anywhere in it.
  bool regular() const { return kind_ != Kind::kWriteThrough; }
  /// Gives the file that is written in the end, links followed.
  const std::string& target() const { return target_; }
  /// Puts the file in place, once the stream is closed. 0 or an errno value.
  int commit();
  /// Removes the temporary after a failure, once the stream is closed, and a
  /// file made aside too. Returns what the operator must be told of the file
  /// written, after its name ("" when nothing is left to say: the earlier file
  /// is as it was).
  std::string abandon();
  /// Does what abandon() does, from a signal handler: no allocation, no lock. True
  /// when the earlier file, interrupted while it was being written over, was emptied.
  static bool abandon_now();

 private:
  // The copy over the earlier file, at commit; 0 or an errno value.
  int write_over();
  // Closes what a file written in place holds open.
  void release_in_place();
  // Removes the temporary of a replacing file.
  void remove_temporary();
  // At commit, for a file that is not written in place: the temporary
  // renamed over the target (replacing), or what it holds let go; 0 or an
  // errno value.
  int put_in_place();

  enum class Left { kAsItWas, kEmptied, kMixed };  // the earlier file, after a failed copy

  Kind kind_ = Kind::kReplacing;
  std::string target_;
  std::string temporary_;
  bool opened_ = false;
  bool existed_ = false;
  Left left_ = Left::kAsItWas;
  // For a file written in place: the earlier file, and the file made aside
  // (descriptors, or handles on Windows; -1 when none).
  std::intptr_t earlier_ = -1;
  std::intptr_t aside_ = -1;
};

/// What the failure's line adds when a copy over the earlier file failed
/// midway and it was emptied.
inline constexpr char kWrittenOverAndEmptied[] =
    "was being written over in place, as its folder takes no new file, and is left empty";

/// Finds the descriptor of this process that `host` names, or -1: "-" and
/// /dev/stdout name standard output, /dev/stderr standard error, /dev/fd/N
/// and /proc/self/fd/N the descriptor N, where it is open. Such a file is
/// written through its descriptor, at its position, and never replaced: it
/// may be a file a shell opened to append to.
int named_descriptor(const std::string& host);

/// Tells where `host` leads when every symbolic link along it is followed, as far
/// as the links lead (a dangling one gives the file it would create).
std::string follow_links(const std::string& host);

}  // namespace quorvane

#endif
