// The picture of a drawing as a command of its own, `preview DRAWING PICTURE
// [--size WIDTH]`, and at the end of a merge, `merge ... --preview PICTURE`.
// The picture is written as every file of the tool is: whole or not at all,
// and `-` is standard output.
#ifndef QUORVANE_PREVIEW_COMMAND_H
#define QUORVANE_PREVIEW_COMMAND_H

#include <string>

#include "command_line.h"

namespace quorvane {

/// Runs `preview`: DRAWING drawn into PICTURE, one line on the console saying
/// what it shows. Fails the run (see run.h) at any fault.
void preview_command(const Command& command);

/// Tells, before a merge whose picture is asked for, why `picture` may not be
/// written ("" when it may): it is one of the drawings, the merged file (as
/// the system reaches each), or standard output, which holds the merge's text.
std::string refused_picture(const std::string& picture, const std::string& first,
                            const std::string& second, const std::string& merged);

/// Draws, after a merge whose file is in place, the picture of the merged file
/// at `host` (named `shown`) into `picture`, `width` pixels wide; nothing said
/// on the console. Fails the run at any fault, saying that the merged file is
/// whole.
void preview_merged(std::string host, std::string shown, const std::string& picture, int width);

}  // namespace quorvane

#endif
