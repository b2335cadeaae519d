// The merged file, which appears whole or not at all.
//
// It is written under a temporary name in the folder of the file it replaces
// (".northcnha.dxf.Xk3f9Q" for northcnha.dxf) and moved over that file only
// once it is complete and closed; until then an earlier file of that name is
// untouched, and on any failure or interrupt the temporary goes. The earlier
// file's permission bits are kept; a new file gets 0666 less the umask. A
// symbolic link is followed: the file it leads to is replaced, and the link
// stays.
//
// Two exceptions:
// - a FIFO or a device is written through, in order, never seeked and never
//   removed;
// - where the folder takes no new file (EACCES, EROFS) but the earlier file
//   may be written, that file is written in place, emptied when opened, and
//   emptied again if the run does not finish, so that nothing looks finished.
#ifndef QUORVANE_OUTPUT_FILE_H
#define QUORVANE_OUTPUT_FILE_H

#include <cstdio>
#include <string>

namespace quorvane {

class OutputFile {
 public:
  enum class Kind {
    kReplacing,     ///< a temporary file, moved over the target at the end
    kWriteThrough,  ///< a FIFO or a device, written as it is
    kInPlace,       ///< the earlier file itself, as its folder takes no new file
  };

  /// Prepares to write the file `host` names. Returns the stream to write to,
  /// open for reading too when it is a regular file; null with `error` set
  /// (an errno value) when it cannot be written.
  std::FILE* open(const std::string& host, int& error);
  Kind kind() const { return kind_; }
  /// True when the file written may be written anywhere in it.
  bool regular() const { return kind_ != Kind::kWriteThrough; }
  /// True when, besides, what is written may be read back.
  bool readable() const { return regular() && readable_; }
  /// The file that is written in the end, links followed.
  const std::string& target() const { return target_; }
  /// Once the stream is closed: puts the file in place. 0 or an errno value.
  int commit();
  /// After a failure, once the stream is closed: the temporary goes, or the
  /// file written in place is emptied. What the operator must be told of the
  /// merged file, after its name ("" when nothing is left to say).
  std::string abandon();
  /// abandon() from a signal handler: no allocation, no lock. True when a
  /// file written in place was emptied.
  static bool abandon_now();

 private:
  Kind kind_ = Kind::kReplacing;
  std::string target_;
  std::string temporary_;
  bool opened_ = false;
  bool existed_ = false;
  bool readable_ = true;  // false for a file written in place that may not be read
};

/// Where `host` leads when every symbolic link along it is followed, as far
/// as the links lead (a dangling one gives the file it would create).
std::string follow_links(const std::string& host);

}  // namespace quorvane

#endif
