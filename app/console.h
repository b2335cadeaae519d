// The operator's side of a run: the banner, the prompts and their answers,
// progress lines and reports, all on standard output.
#ifndef QUORVANE_CONSOLE_H
#define QUORVANE_CONSOLE_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

/// Gives the thirteen lines of the box shown when the tool starts, each after a newline and
/// a tab.
std::string banner();

/// Writes a line of standard error: through the console's own text where it
/// is a Windows console, as UTF-8 bytes anywhere else.
void write_error_line(std::string_view line);

/// Formats v as "%lf" of printf does: six decimals.
std::string fixed6(double v);

class Console {
 public:
  /// Makes a console that writes to `out` and reads the answers from `in`. Output goes
  /// out at once when `out` is a terminal and is fully buffered otherwise.
  Console(std::FILE* out, std::FILE* in);
  /// Makes a console for a pass that runs while another one still writes to
  /// `target`: it holds its text until `may_write` says the other one is
  /// over, then passes the held text on to `target`, and everything after.
  Console(Console& target, std::function<bool()> may_write);
  /// Passes on what is held, and goes on as `target`. For the end of the pass,
  /// once the other one is known to be over.
  void release();

  void write(std::string_view text);
  /// Writes the prompt and makes sure it is out before the answer is awaited.
  void prompt(std::string_view text);
  /// Reads the next whitespace-delimited word typed, of any length; false when input
  /// ends first or fails (input_error() then tells which).
  bool answer(std::string& word);
  /// Writes lead, count, tail: one line that the next one overwrites on a terminal.
  /// Elsewhere every line is written as it stands. On a terminal it is drawn
  /// from column 0 and cleared to its end instead of the tail (as ninja
  /// draws its status line), at most every kRedraw; the last one held back
  /// is drawn before any other text, so each pass's final count shows.
  void progress(std::string_view lead, std::int64_t count, std::string_view tail);

  static constexpr std::chrono::milliseconds kRedraw{40};
  /// Pushes out what is held; returns false if output has failed.
  bool flush();

  /// Tells whether the text goes to a terminal.
  bool terminal() const { return target_ != nullptr ? target_->terminal() : terminal_; }
  /// Gives the errno value of the first failed write, or 0.
  int error() const { return error_; }
  /// Gives the errno value of a failed read of the answers, or 0 when they simply ended.
  int input_error() const { return input_error_; }

 private:
  void put(std::string_view text);
  void draw_held();
  bool holding();

  std::FILE* out_;
  std::FILE* in_;
  bool terminal_ = false;
  std::string_view clear_ = "\x1b[K";  // what clears a terminal's line to its end
  std::string held_;                   // a progress line not drawn yet
  std::string typed_;                  // typed at a Windows console and not answered yet
  std::chrono::steady_clock::time_point drawn_{};
  int error_ = 0;
  int input_error_ = 0;
  // Held text, or a run of progress lines (lead, first..last, tail).
  struct Held {
    std::string text;
    std::string lead, tail;
    std::int64_t first = 0, last = -1;
  };
  Console* target_ = nullptr;
  std::function<bool()> may_write_;
  std::vector<Held> kept_;
};

}  // namespace quorvane

#endif
