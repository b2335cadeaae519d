// The conversion of a drawing of another CAD program as a command of its
// own, `convert cn|ha INPUT OUTPUT [--layer NAME]`, and for a merge that
// converts its drawings first, `merge --convert`.
#ifndef QUORVANE_CONVERT_COMMAND_H
#define QUORVANE_CONVERT_COMMAND_H

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "command_line.h"
#include "converter.h"
#include "files.h"

namespace quorvane {

/// Runs `convert`: INPUT converted into OUTPUT, written as the merged file is
/// (whole or not at all), its summary on the console. Fails the run (see
/// run.h) at any fault.
void convert_command(const Command& command);

/// Converts a drawing of a merge, open as `file` (closed here) and named `shown`
/// in messages, into a temporary file that goes with the process: `kind` is its
/// place in the merge, `layer` --layer for the second one. Its summary is
/// written to the console. Fails the run at any fault.
std::unique_ptr<TemporaryFile> convert_for_merge(std::FILE* file, const std::string& shown,
                                                 DrawingKind kind,
                                                 const std::optional<std::string>& layer);

}  // namespace quorvane

#endif
