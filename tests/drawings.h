// Generated drawings for the tests: laid out as the tool expects, with random
// sizes, values, line ends and keyword clashes, and damaged on request.
#ifndef QUORVANE_DRAWINGS_H
#define QUORVANE_DRAWINGS_H

#include <random>
#include <string>

namespace quorvane::testing {

/// A contour drawing: header with $EXTMIN and $EXTMAX, then 3D polylines.
std::string contour_drawing(std::mt19937& rng, int polylines);
/// A second drawing: 2D polylines on HA_6292 and other layers.
std::string ha_drawing(std::mt19937& rng, int polylines);
/// The same drawing with a few random faults: lines lost, doubled, swapped,
/// joined or replaced, a Ctrl-Z, or the end cut off.
std::string damaged(std::string drawing, std::mt19937& rng);

}  // namespace quorvane::testing

#endif
