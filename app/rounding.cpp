#include "rounding.h"

#include <cmath>
#include <limits>

namespace quorvane {

namespace {

// Infinities and NaN have no integer; they are given the nearest one there is.
bool not_finite(double v, double& result) {
  if (std::isnan(v)) {
    result = 0.0;
    return true;
  }
  if (std::isinf(v)) {
    result = std::copysign(std::numeric_limits<double>::max(), v);
    return true;
  }
  return false;
}

}  // namespace

double half_up(double v) {
  double result;
  if (not_finite(v, result)) return result;
  result = std::floor(v);
  // v - floor(v) is exact except for v in (-1, 0), where 1 + v may round, but
  // never across 0.5: below it the sum is a multiple of 2^-53 and exact.
  if (v - result >= 0.5) result += 1.0;
  return result;
}

double toward_zero(double v) {
  double result;
  if (not_finite(v, result)) return result;
  return std::trunc(v);
}

}  // namespace quorvane
