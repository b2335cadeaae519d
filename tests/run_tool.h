// Runs the built quorvane_tool as an operator would: answers on standard
// input, in a folder of the test's own.
#ifndef QUORVANE_RUN_TOOL_H
#define QUORVANE_RUN_TOOL_H

#include <string>

namespace quorvane::testing {

struct ToolRun {
  int status = -1;  ///< exit status, or -1 if the tool did not exit by itself
  std::string out;  ///< standard output
  std::string err;  ///< standard error
};

struct RunOptions {
  std::string folder;           ///< working folder
  std::string drive_c;          ///< QUORVANE_DRIVE_C; unset when empty
  bool close_stdout = false;    ///< start with standard output closed
  bool stdout_to_full = false;  ///< standard output on /dev/full
};

ToolRun run_tool(const std::string& answers, const RunOptions& options);

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
