#include "rounding.h"

#include <limits>

namespace quorvane {

double not_finite(double v) {
  if (std::isnan(v)) return 0.0;
  return std::copysign(std::numeric_limits<double>::max(), v);
}

}  // namespace quorvane
