// Runs the built quorvane_tool as an operator would: answers on standard
// input, in a folder of the test's own.
#ifndef QUORVANE_RUN_TOOL_H
#define QUORVANE_RUN_TOOL_H

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace quorvane::testing {

struct ToolRun {
  int status = -1;     ///< exit status, or -1 if the tool did not exit by itself
  int signal = 0;      ///< the signal that ended the tool, if one did
  std::string out;     ///< standard output
  std::string err;     ///< standard error
  double seconds = 0;  ///< wall time of the run
};

struct RunOptions {
  RunOptions(std::string in, std::string drive)
      : folder(std::move(in)), drive_c(std::move(drive)) {}
  std::string folder;                  ///< working folder
  std::string drive_c;                 ///< QUORVANE_DRIVE_C; unset when empty
  std::string temporary_folder;        ///< the system's temporary folder (TMPDIR), when given
  bool close_stdout = false;           ///< start with standard output closed
  bool stdout_to_full = false;         ///< standard output on /dev/full
  std::string stdout_appended_to;      ///< standard output appended to this file, when given
  bool close_stdin = false;            ///< start with standard input closed
  long file_size_limit = -1;           ///< RLIMIT_FSIZE for the tool, when 0 or more
  long memory_limit = -1;              ///< RLIMIT_AS for the tool, when 0 or more
  /// When 0 or more, every pwrite of the tool at this offset or beyond fails
  /// with EIO (a seccomp filter; Linux on x86-64 and AArch64 only).
  long pwrite_fails_from = -1;
  std::vector<std::string> arguments;  ///< the tool's command line
  /// Once standard output holds `hold_at`, nothing more is read from it
  /// until `while_held` returns: the tool soon stops on its full output, and
  /// cannot end before. `while_held` returns false to close the reading end
  /// instead of reading on, which breaks the pipe.
  std::string hold_at;
  std::function<bool()> while_held;
  /// Runs on a thread of its own beside the tool, given its process; the run
  /// ends once both have.
  std::function<void(int pid)> beside;
};

ToolRun run_tool(const std::string& answers, const RunOptions& options);

/// The tool's executable: the one $QUORVANE_TOOL names, or the one built
/// beside the tests.
const char* tool_executable();

/// True when the tool under test is the Windows executable named by
/// $QUORVANE_WINE_TOOL, run by Wine ($QUORVANE_WINE, default wine64, in the
/// prefix $WINEPREFIX). Its c:\images is then made to lead to the images
/// folder of the run's drive folder, and its console ends lines with CR LF.
bool under_wine();

/// The console text the tool shows for `text`: with CR LF line ends under Wine.
std::string shown_as(const std::string& text);

/// Where a composed path leads in a message: the host path on this system, or
/// the composed path itself on Windows.
std::string message_path(const std::string& drive, const std::string& relative,
                         const std::string& composed);

/// The start of the line that refuses drawing 1 (northcn.dxf) or 2
/// (northha.dxf) of c:\images\site4\ at `line`, up to the reason.
std::string refusal_start(const std::string& drive, int drawing, unsigned long long line);

/// How much slower than a plain build the tool is where the tests are built with
/// a sanitizer (the tool is built the same way): time limits are multiplied by it.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr double kSlowdown = 8.0;
#else
inline constexpr double kSlowdown = 1.0;
#endif

/// The files of `folder` whose names begin with a dot: what a run left behind.
std::string hidden_files(const std::string& folder);

/// Opens the FIFO `path` for writing once a reader has it open; -1 after 30 s.
int open_fifo_for_writing(const std::string& path);

/// A fresh folder under the system's temporary folder, removed by the destructor.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  /// Writes a file below the folder, creating its parent folders.
  void write(const std::string& relative, const std::string& bytes) const;
  /// The bytes of a file below the folder, or "<missing>".
  std::string read(const std::string& relative) const;
  bool exists(const std::string& relative) const;

 private:
  std::string path_;
};

}  // namespace quorvane::testing

#endif
