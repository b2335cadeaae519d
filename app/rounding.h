// How reals read from a drawing become the integers written to the merged one.
#ifndef QUORVANE_ROUNDING_H
#define QUORVANE_ROUNDING_H

namespace quorvane {

/// A vertex coordinate: floor(v + 0.5), computed exactly, so 12.5 gives 13,
/// -12.5 gives -12, -3.0 gives -3 and 0.49999999999999994 gives 0. This is
/// the value an 80-bit extended sum followed by floor gives, on every platform.
/// Infinities give the largest finite double of their sign, NaN gives 0.
double half_up(double v);

/// A header extent: truncation toward zero (-3.7 gives -3), with the same
/// treatment of infinities and NaN.
double toward_zero(double v);

}  // namespace quorvane

#endif
