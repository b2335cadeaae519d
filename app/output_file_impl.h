// What the POSIX and Windows units of the merged file share: the state a
// signal or console handler reads, the buffer of the copy in place, and the
// temporary's name. Used by output_file*.cpp alone.
#ifndef QUORVANE_OUTPUT_FILE_IMPL_H
#define QUORVANE_OUTPUT_FILE_IMPL_H

#include <atomic>
#include <string>

namespace quorvane::output_file_impl {

// What a signal handler needs to abandon the file, kept where it may read it.
extern char temporary_path[4096];
extern std::atomic<bool> temporary_set;

// Set while the earlier file is being written over: a handler that ends the
// run then empties it, so that nothing looks finished.
extern std::atomic<bool> copying;

// The copy over the earlier file goes through this buffer: nothing is
// allocated at commit, where memory may be what ran out.
extern char piece[256 * 1024];

/// Returns ".name.XXXXXX" beside the target, the name cut so that the whole stays a valid name.
std::string temporary_beside(const std::string& target);

/// Makes `path` known to the handlers as the temporary to remove; false,
/// and nothing published, when it is too long for them to keep.
bool publish_temporary(const std::string& path);

}  // namespace quorvane::output_file_impl

#endif
