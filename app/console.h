// The operator's side of a run: the banner, the prompts and their answers,
// progress lines and reports, all on standard output.
#ifndef QUORVANE_CONSOLE_H
#define QUORVANE_CONSOLE_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace quorvane {

/// The thirteen lines of the box shown when the tool starts, each after a newline and a tab.
std::string banner();

/// "%lf" of printf: six decimals.
std::string fixed6(double v);

class Console {
 public:
  /// Output goes out at once when `out` is a terminal and is fully buffered otherwise.
  Console(std::FILE* out, std::FILE* in);

  void write(std::string_view text);
  /// Writes the prompt and makes sure it is out before the answer is awaited.
  void prompt(std::string_view text);
  /// The next whitespace-delimited word typed, of any length; false when input
  /// ends first or fails (input_error() then tells which).
  bool answer(std::string& word);
  /// lead, count, tail: one line that the next one overwrites on a terminal.
  void progress(std::string_view lead, std::int32_t count, std::string_view tail);
  /// Pushes out what is held; returns false if output has failed.
  bool flush();

  /// errno value of the first failed write, or 0.
  int error() const { return error_; }
  /// errno value of a failed read of the answers, or 0 when they simply ended.
  int input_error() const { return input_error_; }

 private:
  std::FILE* out_;
  std::FILE* in_;
  int error_ = 0;
  int input_error_ = 0;
};

}  // namespace quorvane

#endif
