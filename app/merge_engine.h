// The passes of a merge. Each input is read as a flat stream of tokens; after
// a keyword a fixed sequence of tokens is read and written back, each step in
// its own line format. Inside an entity that a copy pass writes, each step
// checks the token it reads; the first that does not fit the layout stops the
// pass with a Fault, which the runner of the passes hands on (passes.h). The
// callers look at the streams' error state afterwards.
//
// Names the program has always used, in plain words:
//   nomim1, nomim2, nomim3  the paths composed from the answers: the first
//                           drawing (...cn.dxf), the second (...ha.dxf) and
//                           the merged file (...cnha.dxf)
//   nomdir                  the folder under c:\images\ as the operator named it
//   f1, f2, f3              the first input, the second, and the merged file
//   texte                   the token just read, as text
//   val, dval               the integer and the real just read
//   segm                    the count of polylines met by the current pass
//   CURVE                   the layer HA_6292, whose polylines the second
//                           drawing gives the merge (keywords.h)
//   EXTMIN, EXTMAX          the header variables $EXTMIN and $EXTMAX
#ifndef QUORVANE_MERGE_ENGINE_H
#define QUORVANE_MERGE_ENGINE_H

#include <algorithm>
#include <cstdint>
#include <limits>
#include <functional>
#include <string>

#include "console.h"
#include "fault.h"
#include "keywords.h"
#include "line_writer.h"
#include "token_stream.h"

namespace quorvane {

/// The first input's header extents: the only extents the merge ever uses.
struct Extents {
  double min_x = 0.0, min_y = 0.0, min_alt = 0.0;
  double max_x = 0.0, max_y = 0.0, max_alt = 0.0;
};

/// Where the vertices a copy pass wrote lie, in x and y, as read.
struct Box {
  double min_x = std::numeric_limits<double>::infinity(), min_y = min_x;
  double max_x = -min_x, max_y = -min_x;
  bool empty() const { return !(min_x <= max_x); }
  void take(double x, double y) {
    min_x = std::min(min_x, x);
    max_x = std::max(max_x, x);
    min_y = std::min(min_y, y);
    max_y = std::max(max_y, y);
  }
};

/// What the passes read into, one after the other: passes in turn share one
/// (its values stay from one pass to the next, only the count of polylines
/// restarts with each pass); a pass on a thread of its own has its own.
struct Working {
  Token texte;            ///< the current token, and every string the copy passes read
  std::int32_t val = 0;   ///< every integer read
  double dval = 0.0;      ///< every real read by the copy passes
  std::int64_t segm = 0;  ///< polylines met in the current pass
  Fault fault;            ///< where the last copy pass stopped, if it did
  Box drawn;              ///< where the vertices the current copy pass wrote lie
};

/// Words the warning after a merge, or gives "" when the HA_6292 polylines copied (`curves`) meet the
/// first drawing's extents widened by a tenth of their size on each side;
/// otherwise why they may not be in the same coordinate system, naming the
/// drawings as composed. A first drawing without extents of its own (none,
/// or those of an empty drawing) is framed by its polylines, `first`.
std::string overlap_warning(const Extents& extents, const Box& first, const Box& curves,
                            const std::string& first_name, const std::string& second_name);

/// Reads the first input's $EXTMIN and $EXTMAX and counts its polylines on
/// the console. With `shown` of 0 or more, the survey's opening text and its
/// first `shown` progress lines are already on the console and are not
/// written again (see SurveyShadow).
void survey_pass(TokenStream& f1, Working& w, Extents& extents, Console& console,
                 std::int64_t shown = -1);

/// What the survey of the first input finds, worked out by the input's copy
/// from the tokens it reads anyway, so that a run reads the input once: the
/// extents and the count of polylines, the survey's progress lines written to
/// the console as the copy meets the polylines, and the merged file's header
/// written before the copy's first entity.
///
/// The survey reads some tokens otherwise than the copy: a polyline's layer
/// or text value that is one of its keywords, which it takes for that
/// keyword, and extents that it reads in part of a token. Where the copy meets
/// one, or stops at a fault, the shadow gives up: the survey must then be run
/// after all, with survey_pass(..., shown()), and its extents taken instead.
class SurveyShadow {
 public:
  SurveyShadow(Console& console, LineWriter& f3) : console_(console), f3_(f3) {}

  /// Tells whether the shadow's results are still the survey's.
  bool holds() const { return holds_; }
  const Extents& extents() const { return extents_; }
  /// Counts the survey's progress lines written so far.
  std::int64_t shown() const { return shown_; }
  /// Gives the bytes of the header written, or "" when none has been.
  const std::string& header() const { return header_; }

  /// Writes the survey's opening text; before the copy reads anything.
  void begin();
  /// Counts a POLYLINE read by the copy's scan loop, with its progress line.
  void polyline();
  /// Takes $EXTMIN (`min`) or $EXTMAX read by the copy's scan loop: the codes and
  /// values that follow are looked at as the survey reads them, without
  /// being read.
  void extent(TokenStream& f1, bool min);
  /// Looks at a string the copy reads inside a polyline's header, which the
  /// survey reads as a token of its own.
  void polyline_string(const Token& texte);
  /// Writes the header with the extents so far, before the copy writes anything.
  void first_output();
  void give_up() { holds_ = false; }

 private:
  Console& console_;
  LineWriter& f3_;
  Extents extents_;
  std::int64_t shown_ = 0;
  std::string header_;
  bool holds_ = true;
};
/// Writes "First File Data": the extents as read.
void first_report(const Extents& extents, Console& console);
/// Writes the merged file's HEADER section and the opening of its ENTITIES section.
void write_header(const Extents& extents, LineWriter& f3);
/// Gives the bytes write_header writes.
std::string header_text(const Extents& extents);
/// Copies every POLYLINE, VERTEX and SEQEND of the first input, coordinates
/// rounded half up. Stops at the first fault of the layout, in w.fault. With a
/// `shadow`, the survey's results are worked out on the way, and the header
/// is written by it.
void copy_first_input(TokenStream& f1, LineWriter& f3, Working& w, Console& console,
                      SurveyShadow* shadow = nullptr);
/// Copies the polylines and vertices on layer HA_6292 of the second input,
/// given an elevation of 0, and all of its SEQENDs. A vertex is copied only inside a
/// polyline copied since the last SEQEND. Stops at the first fault, in w.fault.
void copy_second_input(TokenStream& f2, LineWriter& f3, Working& w, Console& console);
/// Closes the ENTITIES section and ends the file.
void close_out(LineWriter& f3);
/// Writes "Resulting data": the extents, with min z shown as 0.
void final_report(const Extents& extents, Console& console);

}  // namespace quorvane

#endif
