// A picture of a drawing: an SVG of its polylines, for an operator who wants
// to see what a merge holds without a CAD program. Any drawing the tool reads
// or writes can be drawn: a merged file, a converted one, or one laid out as
// the merge reads it.
//
// What is drawn: every polyline, those on HA_6292 in one colour on top of the
// others, which take the colour of their elevation on a ramp (with a legend
// of elevations); a frame for the header's extents; a scale bar in drawing
// units, north up; a caption with the file's name and its counts.
//
// A picture, not a copy: the drawing is read as a stream, three times at
// most (what it holds, then its polylines, then those on HA_6292 when they
// do not all come last), in bounded memory; and vertices closer together
// than half a pixel are merged, or than more where the drawing holds more
// ink than the picture can show, so that the SVG's size depends on the
// picture, not on the drawing.
#ifndef QUORVANE_PREVIEW_H
#define QUORVANE_PREVIEW_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "group_reader.h"
#include "line_writer.h"

namespace quorvane {

struct PreviewOptions {
  int width = 1600;  ///< of the picture, in pixels
};

/// What a picture shows of its drawing.
struct PreviewFacts {
  std::uint64_t polylines = 0, vertices = 0;
};

/// Gives the colour of an elevation at `t`, 0 the lowest, 1 the highest: "#rrggbb".
std::string ramp_colour(double t);
/// The colour of the polylines on HA_6292.
inline constexpr char kCurveColour[] = "#c000c0";

/// Draws the drawing named `name` into `out` as an SVG. `read` gives a new
/// reading of the drawing from its start each time it is called. False at a
/// fault of the drawing or a failed read, told by `fault` and `error`.
bool draw_preview(const std::function<std::unique_ptr<GroupSource>()>& read,
                  const std::string& name, const PreviewOptions& options, LineWriter& out,
                  PreviewFacts& facts, Fault& fault, int& error);

}  // namespace quorvane

#endif
