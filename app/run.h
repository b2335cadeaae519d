// What every command of a run shares: the console, the file it writes, and
// the one way a run fails: whatever runs beside it is stopped and joined, the
// file being written is abandoned (an earlier file of its name stays as it
// was), one line on standard error says what, which file and why, and the
// process ends with status 1. Library units never end the process; the
// commands (the merge in quorvane_tool.cpp, the conversion in
// convert_command.cpp, the picture in preview_command.cpp) do it through fail().
#ifndef QUORVANE_RUN_H
#define QUORVANE_RUN_H

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "console.h"
#include "line_writer.h"
#include "output_file.h"

namespace quorvane::run {

/// The operator's console: standard output and the answers on standard input.
extern Console console;
/// The file the run writes, and the writer of its lines.
extern OutputFile output;
extern std::unique_ptr<LineWriter> f3;

/// Stops and joins what a command runs beside the main thread (readers
/// ahead, passes on threads of their own); called by fail() before anything
/// else, the last one given first.
void on_failure(std::function<void()> stop);

/// Ends the run: see above.
[[noreturn]] void fail(const std::string& what);
/// Sets what every failure's line says from now on, after its reason: for what
/// is done already (a merged file in place before its picture is drawn).
void also_say(std::string after);
/// Fails the run if the console could not be written.
void check_console();
/// Fails the run on a failed write of the file written (`error` an errno value, or 0).
void check_output(int error);

/// Describes a path as the operator gave it and where it leads: "composed (host)".
std::string describe(const std::string& composed, const std::string& host);
/// Gives the reason of a failed write, in an operator's words where the system's are not.
std::string reason(int error);

/// Opens the file to write at `host`, named `shown` in messages, as a
/// `role` ("merged file", "converted file"), or fails the run saying why it
/// cannot be.
std::FILE* open_output(const std::string& host, const std::string& shown, const char* role);
/// Tells where the file written leads, as opened.
const std::string& output_host();
/// Puts the file written in place, whole; fails the run if it cannot be.
void commit_output();

/// Installs what ends the process on an interrupt, on memory refused and on
/// the fault of a mapped input cut short: the file being written abandoned,
/// one line said.
void install_handlers();

}  // namespace quorvane::run

#endif
