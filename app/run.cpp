#include "run.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "files.h"
#include "group_reader.h"
#include "interrupts.h"
#include "token_stream.h"

namespace quorvane::run {

Console console(stdout, stdin);
OutputFile output;
std::unique_ptr<LineWriter> f3;

namespace {

std::vector<std::function<void()>> stops;  // what fail() stops first, the last one given first
std::string written_host;                  // where the file written leads
std::string written_shown;                 // the file written, as a message names it
const char* written_role = "merged file";
std::string said_after;  // what every failure's line ends with

#ifdef _WIN32
constexpr char kSeparators[] = "/\\";
#else
constexpr char kSeparators[] = "/";
#endif

#ifndef _WIN32
std::atomic_flag faulted = ATOMIC_FLAG_INIT;
std::string left_empty_note;  // what the fault's line adds for an earlier file emptied

// A mapped input cut short while it is read faults on the lost bytes instead
// of ending: the file being written is abandoned and the input's note said.
void on_bus_error(int signal, siginfo_t* info, void*) {
  const char* note = mapped_input_note(info->si_addr);
  if (note == nullptr) {  // not a mapped input: the usual end of the process
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  // Several passes may meet the lost bytes at once: one of them ends the run.
  if (faulted.test_and_set()) {
    for (;;) pause();
  }
  const bool emptied = OutputFile::abandon_now();
  const std::size_t length = std::strlen(note);
  ssize_t written = write(2, note, emptied ? length - 1 : length);  // without its line feed
  if (emptied) {
    written = write(2, left_empty_note.c_str(), left_empty_note.size());
    written = write(2, "\n", 1);
  }
  (void)written;
  _exit(1);
}
#endif

// Memory refused to any thread ends the run as any failure does: the file
// being written is abandoned, and one line says why. Nothing here allocates.
void out_of_memory() {
  const bool emptied = OutputFile::abandon_now();
  static const char kLine[] =
      "quorvane_tool: out of memory: the run stops, and the file it was "
      "writing is not put in place";
  static const char kEmptied[] = "; that file was being written over in place and is left empty";
#ifdef _WIN32
  _write(2, kLine, sizeof kLine - 1);
  if (emptied) _write(2, kEmptied, sizeof kEmptied - 1);
  _write(2, "\n", 1);
#else
  ssize_t written = write(2, kLine, sizeof kLine - 1);
  if (emptied) written = write(2, kEmptied, sizeof kEmptied - 1);
  written = write(2, "\n", 1);
  (void)written;
#endif
  std::_Exit(1);
}

}  // namespace

void on_failure(std::function<void()> stop) { stops.push_back(std::move(stop)); }

void fail(const std::string& what) {
  // What runs beside this thread ends first: it writes to the console and the
  // files. Then every other thread is joined, the file's writer too, so that
  // the process ends with this one alone (Wine reports a thread that the end
  // of a process cuts off).
  for (auto stop = stops.rbegin(); stop != stops.rend(); ++stop) (*stop)();
  console.flush();
  f3.reset();
  std::string left = output.abandon();
  if (!left.empty()) left = std::string("; the ") + written_role + " " + written_shown + " " + left;
  write_error_line("quorvane_tool: " + what + left + said_after + "\n");
  std::_Exit(1);
}

void also_say(std::string after) { said_after = std::move(after); }

void check_console() {
  if (console.error() != 0) {
    fail(std::string("cannot write to standard output: ") + std::strerror(console.error()));
  }
}

// A file written in place is made in the system's temporary folder first: a
// failure before commit is one of that folder's disk.
void check_output(int error) {
  if (error == 0) return;
  const bool aside = output.kind() == OutputFile::Kind::kInPlace;
  fail("cannot write " + written_shown + ": " + reason(error) +
       (aside ? " in the system's temporary folder, where it is made first" : ""));
}

std::string describe(const std::string& composed, const std::string& host) {
  return composed + " (" + host + ")";
}

std::string reason(int error) {
  if (error == ENOSPC) return "the disk is full";
#ifdef EDQUOT
  if (error == EDQUOT) return "the disk quota is used up";
#endif
  return std::strerror(error);
}

std::FILE* open_output(const std::string& host, const std::string& shown, const char* role) {
  written_role = role;
  int error = 0;
  std::FILE* file = output.open(host, error);
  if (file == nullptr && output.kind() == OutputFile::Kind::kInPlace) {
    fail("cannot create " + shown +
         ": its folder takes no new file, and no temporary file can be made for it: " +
         std::strerror(error));
  }
  if (file == nullptr && error == ENOENT) {
    // A folder that is not there is named as such, as the merge names it.
    const std::string folder = host.substr(0, host.find_last_of(kSeparators));
    if (folder != host && !folder.empty() && !folder_exists(folder)) {
      fail("cannot create " + shown + ": there is no folder " + printable(folder));
    }
  }
  if (file == nullptr) fail("cannot create " + shown + ": " + reason(error));
  written_host = host;
  written_shown = shown;
#ifndef _WIN32
  // What the line of a fault adds when it empties an earlier file being written over.
  if (output.kind() == OutputFile::Kind::kInPlace) {
    left_empty_note = std::string("; the ") + role + " " + shown + " " + kWrittenOverAndEmptied;
  }
#endif
  return file;
}

const std::string& output_host() { return written_host; }

// A failure now is one of the file itself, no more of the temporary folder.
void commit_output() {
  if (int error = output.commit(); error != 0) {
    fail("cannot write " + written_shown + ": " + reason(error));
  }
}

void install_handlers() {
#ifdef SIGPIPE
  // A closed pipe on standard output is reported as a failed write, not a silent death.
  std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef SIGXFSZ
  // So is a file beyond the size this process may write.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  on_interrupt([] { OutputFile::abandon_now(); });
  std::set_new_handler(out_of_memory);
#ifndef _WIN32
  struct sigaction bus_error {};
  bus_error.sa_sigaction = on_bus_error;
  bus_error.sa_flags = SA_SIGINFO;
  sigemptyset(&bus_error.sa_mask);
  sigaction(SIGBUS, &bus_error, nullptr);
#endif
}

}  // namespace quorvane::run
