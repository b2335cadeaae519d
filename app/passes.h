// The one runner of a merge's passes, and the one way a fault of a drawing
// travels from the step that meets it to the operator:
//
//   a step of a copy pattern reads a token that does not fit the layout
//     (merge_engine.cpp, Copy)
//   → it records Working::fault (the line, and what was expected there),
//     and the pass stops where it is
//   → the runner hands the fault to PassSite::end_of_pass, with the pass
//   → the merge's end_of_pass (quorvane_tool.cpp) turns it into the one-line
//     message and ends the run with status 1; the tests' records it and the
//     run goes no further.
//
// The passes run in one of two ways, which the caller chooses:
// - in turn: the survey of the first input, the header, the copy of the
//   first input, then that of the second. Into a FIFO, a device or a file
//   written in place, where nothing is ever seeked.
// - side by side: the copy of the first input works out what its survey
//   finds on the way (SurveyShadow), the survey being run only where it
//   gives up, and the header is mended at the end where the extents changed.
//   With a part file, the copy of the second input runs meanwhile on a
//   thread of its own (side_by_side.h) and its part is appended; without
//   one, or where the part could not be written whole, it is copied here
//   afterwards. The console and the merged bytes are those of the passes
//   in turn.
#ifndef QUORVANE_PASSES_H
#define QUORVANE_PASSES_H

#include <cstdio>
#include <memory>

#include "console.h"
#include "line_writer.h"
#include "merge_engine.h"
#include "side_by_side.h"
#include "token_stream.h"

namespace quorvane {

enum class Pass { kSurvey, kFirstCopy, kSecondCopy };

/// What the runner asks of the place it runs in: the streams it reads, and
/// what is done after each pass and after each write.
class PassSite {
 public:
  virtual ~PassSite() = default;
  /// Gives the stream a pass reads. The survey's is asked for once, even
  /// where the survey is not run; the second copy's twice where its part
  /// could not be written (the input once more from its start). `beside`:
  /// for a pass on a thread of its own, which indexes its blocks itself;
  /// otherwise the site may have the blocks read ahead.
  virtual TokenStream& stream(Pass pass, bool beside = false) = 0;
  /// Takes the end of a pass, and the fault it stopped at if it did: false
  /// ends the run here. The merge fails the run instead, and never returns
  /// false.
  virtual bool end_of_pass(Pass pass, const Fault& fault) = 0;
  /// Takes the news that the copy of the first input and its survey ended
  /// at different places: the drawing changed between the two readings.
  /// Nothing by default.
  virtual void readings_differ() {}
  /// Looks at the console after it was written to.
  virtual void console_written() {}
  /// Takes the result of a write of the merged file (0, or an errno value).
  virtual void output_written(int error) { (void)error; }
};

/// The passes of one merge, writing to `console` and `f3`.
class MergePasses {
 public:
  enum class Mode { kInTurn, kSideBySide };

  MergePasses(PassSite& site, Console& console, LineWriter& f3) : site_(site), console_(console), f3_(f3) {}

  /// Runs the passes. With kSideBySide, `part` (a file open for reading and
  /// writing, or null) takes the copy of the second input, which then runs on
  /// a thread of its own, and is closed with it. Returns false where the site
  /// ended the run at a pass.
  bool run(Mode mode, std::FILE* part = nullptr);
  /// Ends the thread beside this one and joins it, before the streams it
  /// reads go: from any point of a run that fails.
  void stop() { second_.reset(); }

  /// Gives the first input's extents, as its survey found them.
  const Extents& extents() const { return extents_; }
  /// Tells where the vertices the copy of the first input wrote lie.
  const Box& first_drawn() const { return first_drawn_; }
  /// Tells where the HA_6292 vertices the copy of the second input wrote lie.
  const Box& curves_drawn() const { return curves_drawn_; }

 private:
  bool in_turn();
  bool side_by_side(std::FILE* part);
  bool second_copy(Working& w, Console& console);

  PassSite& site_;
  Console& console_;
  LineWriter& f3_;
  Extents extents_;
  Box first_drawn_, curves_drawn_;
  std::unique_ptr<SecondCopyThread> second_;
};

}  // namespace quorvane

#endif
