// The passes of a merge. Each input is read as a flat stream of tokens; after
// a keyword a fixed sequence of tokens is read and written back, each step in
// its own line format. Inside an entity that a copy pass writes, each step
// checks the token it reads; the first that does not fit the layout stops the
// pass with a Fault, and the caller refuses the drawing. The callers look at
// the streams' error state afterwards.
#ifndef QUORVANE_MERGE_ENGINE_H
#define QUORVANE_MERGE_ENGINE_H

#include <cstdint>
#include <functional>
#include <string>

#include "console.h"
#include "keywords.h"
#include "line_writer.h"
#include "token_stream.h"

namespace quorvane {

/// The first input's header extents: the only extents the merge ever uses.
struct Extents {
  double min_x = 0.0, min_y = 0.0, min_alt = 0.0;
  double max_x = 0.0, max_y = 0.0, max_alt = 0.0;
};

/// Where a drawing departs from the layout the copy passes read: the first
/// place a pass met, or none.
struct Fault {
  std::uint64_t line = 0;  ///< from 1, counted by line feeds; 0 when there is none
  std::string what;        ///< what was expected there, in plain words
  explicit operator bool() const { return line != 0; }
};

/// Variables shared by all passes, which keep their values from one pass to
/// the next; only the polyline count restarts with each pass.
struct Working {
  Token texte;            ///< the current token, and every string the copy passes read
  std::int32_t val = 0;   ///< every integer read
  double dval = 0.0;      ///< every real read by the copy passes
  std::int64_t segm = 0;  ///< polylines met in the current pass
  Fault fault;            ///< where the last copy pass stopped, if it did
};

/// Told by the survey when it meets its first polyline, with the extents read
/// so far: those of the input's header, unless a later one changes them.
class SurveyWatch {
 public:
  virtual ~SurveyWatch() = default;
  virtual void entities_reached(const Extents& so_far) = 0;
};

/// Reads the first input's $EXTMIN and $EXTMAX and counts its polylines on the console.
void survey_pass(TokenStream& f1, Working& w, Extents& extents, Console& console,
                 SurveyWatch* watch = nullptr);
/// "First File Data": the extents as read.
void first_report(const Extents& extents, Console& console);
/// The merged file's HEADER section and the opening of its ENTITIES section.
void write_header(const Extents& extents, LineWriter& f3);
/// The bytes write_header writes.
std::string header_text(const Extents& extents);
/// Every POLYLINE, VERTEX and SEQEND of the first input, coordinates rounded
/// half up. Stops at the first fault of the layout, in w.fault.
void copy_first_input(TokenStream& f1, LineWriter& f3, Working& w, Console& console);
/// The polylines and vertices on layer HA_6292 of the second input, given an
/// elevation of 0, and all of its SEQENDs. A vertex is copied only inside a
/// polyline copied since the last SEQEND. Stops at the first fault, in w.fault.
void copy_second_input(TokenStream& f2, LineWriter& f3, Working& w, Console& console);
/// Closes the ENTITIES section and ends the file.
void close_out(LineWriter& f3);
/// "Resulting data": the extents, with min z shown as 0.
void final_report(const Extents& extents, Console& console);

}  // namespace quorvane

#endif
