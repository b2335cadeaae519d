#include "rounding.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace quorvane {
namespace {

TEST(Rounding, HalfUpGoesTowardPlusInfinityOnTies) {
  const std::pair<double, double> cases[] = {{12.4, 12},
                                             {12.5, 13},
                                             {845.5, 846},
                                             {1200.46, 1200},
                                             {101.2, 101},
                                             {-12.5, -12},
                                             {-15.5, -15},
                                             {15.5, 16},
                                             {-3.0, -3},
                                             {-2.7, -3},
                                             {-0.6, -1},
                                             {-40.0, -40},
                                             {-0.5, 0},
                                             {-0.4, 0},
                                             {0.49999999999999994, 0},
                                             {-0.49999999999999994, 0},
                                             {-0.5000000000000001, -1},
                                             {4503599627370495.5, 4503599627370496},
                                             {1e300, 1e300},
                                             {-1e300, -1e300},
                                             {0.0, 0},
                                             {-0.0, 0}};
  for (auto [v, expected] : cases) EXPECT_EQ(half_up(v), expected) << v;
}

TEST(Rounding, HalfUpEqualsTheExtendedPrecisionSum) {
  if (LDBL_MANT_DIG < 64) GTEST_SKIP() << "no extended long double here";
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> near(-1e6, 1e6);
  for (int i = 0; i < 2000000; ++i) {
    double v;
    switch (i % 4) {
      case 0:
        v = near(rng);
        break;
      case 1:  // a tie, or one step either side of one
        v = std::nextafter(std::floor(near(rng)) + 0.5, (i & 8) ? 1e9 : -1e9);
        if (i & 16) v = std::floor(v) + 0.5;
        break;
      case 2: {  // any bit pattern that is a finite double
        std::uint64_t bits = rng();
        std::memcpy(&v, &bits, sizeof v);
        if (!std::isfinite(v)) continue;
        break;
      }
      default:
        v = std::ldexp(near(rng), -static_cast<int>(rng() % 1000));
    }
    long double reference = std::floor(static_cast<long double>(v) + 0.5L);
    ASSERT_EQ(static_cast<long double>(half_up(v)), reference) << std::hexfloat << v;
  }
}

TEST(Rounding, ExtentsAreTruncatedTowardZero) {
  EXPECT_EQ(toward_zero(512.9), 512);
  EXPECT_EQ(toward_zero(-3.7), -3);
  EXPECT_EQ(toward_zero(-0.2), 0);
  EXPECT_EQ(toward_zero(1e20), 1e20);
}

TEST(Rounding, NonFiniteValuesGetTheNearestInteger) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(half_up(inf), DBL_MAX);
  EXPECT_EQ(half_up(-inf), -DBL_MAX);
  EXPECT_EQ(toward_zero(-inf), -DBL_MAX);
  EXPECT_EQ(half_up(std::nan("")), 0.0);
  EXPECT_EQ(toward_zero(std::nan("")), 0.0);
}

}  // namespace
}  // namespace quorvane
