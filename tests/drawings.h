// Generated drawings for the tests: laid out as the tool expects, with random
// sizes, values, line ends and keyword clashes, and damaged on request.
#ifndef QUORVANE_DRAWINGS_H
#define QUORVANE_DRAWINGS_H

#include <random>
#include <string>

namespace quorvane::testing {

/// A contour drawing: header with $EXTMIN and $EXTMAX, then 3D polylines.
/// With `odd`, now and then a value that is no number, an entity that runs
/// on, or a layer named as a keyword: drawings the merge may refuse.
std::string contour_drawing(std::mt19937& rng, int polylines, bool odd = true);
/// A second drawing: 2D polylines on HA_6292 and other layers. With `odd`,
/// now and then an LWPOLYLINE, or a handle before an entity's layer.
std::string ha_drawing(std::mt19937& rng, int polylines, bool odd = true);
/// The same drawing with a few random faults: lines lost, doubled, swapped,
/// joined or replaced, a Ctrl-Z, a NUL byte, the opening of a binary
/// drawing, or the end cut off.
std::string damaged(std::string drawing, std::mt19937& rng);

}  // namespace quorvane::testing

#endif
