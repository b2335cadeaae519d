// How reals read from a drawing become the integers written to the merged one.
#ifndef QUORVANE_ROUNDING_H
#define QUORVANE_ROUNDING_H

#include <cmath>

namespace quorvane {

/// Gives infinities and NaN, which have no integer, the nearest one there is:
/// the largest finite double of their sign, and 0 for NaN.
double not_finite(double v);

/// Rounds a vertex coordinate: floor(v + 0.5), computed exactly, so 12.5 gives 13,
/// -12.5 gives -12, -3.0 gives -3 and 0.49999999999999994 gives 0. This is
/// the value an 80-bit extended sum followed by floor gives, on every platform.
/// Infinities give the largest finite double of their sign, NaN gives 0.
inline double half_up(double v) {
  double result = std::floor(v);
  // v - floor(v) is exact except for v in (-1, 0), where 1 + v may round, but
  // never across 0.5: below it the sum is a multiple of 2^-53 and exact.
  if (v - result >= 0.5) result += 1.0;
  return std::isfinite(result) ? result : not_finite(v);
}

/// Rounds a header extent: truncation toward zero (-3.7 gives -3), with the same
/// treatment of infinities and NaN.
inline double toward_zero(double v) {
  double result = std::trunc(v);
  return std::isfinite(result) ? result : not_finite(v);
}

}  // namespace quorvane

#endif
