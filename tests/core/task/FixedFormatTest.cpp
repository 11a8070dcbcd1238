#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "geo/TileGrid.h"
#include "platform/NumberFormat.h"
#include "task/DownloadTask.h"

namespace kestrane {
namespace {

std::string Fast(double v) {
  std::string s = "prefix|";
  AppendFixed20_14(s, v);
  return s.substr(7);
}

std::string Printf(double v) {
  char buf[512];
  std::snprintf(buf, sizeof buf, "%20.14f", v);
  return buf;
}

void ExpectSame(double v) {
  const std::string expected = FormatFixed20_14(v);
  ASSERT_EQ(expected, Printf(v)) << "the reference formats disagree";
  ASSERT_EQ(Fast(v), expected) << std::hexfloat << v;
}

TEST(AppendFixed20_14Test, EdgeValues) {
  const double values[] = {
      0.0,
      -0.0,   // the sign of negative zero is printed
      -1e-20, // rounds to zero but keeps its minus sign
      180.0,
      -180.0,       // whole degrees, the grid's ends
      1.0 / 32768,  // 0.000030517578125: a tie, even digit stays
      3.0 / 32768,  // 0.000091552734375: a tie, odd digit rounds up
      -5.0 / 32768, // a negative tie
      0.5e-14,
      1.5e-14,            // around half of the last decimal
      9.999999999999995,  // carries into the whole part
      99999999.999999999, // a carry that adds a digit
      123456.78901234567, // longer than 20 characters: no padding
      999999999.99,       // the largest magnitude of the fast path
      1e9,
      -1e9,
      1e300, // handed to the general formatter
      std::numeric_limits<double>::denorm_min(), // the smallest subnormal
      std::numeric_limits<double>::min(),
      std::numeric_limits<double>::infinity(),
      -std::numeric_limits<double>::infinity(),
      std::numeric_limits<double>::quiet_NaN(),
      -122.33001708984375,
      47.61079236060621, // the reference tile's edges
  };
  for (double v : values)
    ExpectSame(v);
}

// Longitude edges at high zooms are short binary fractions: many of them
// end in a 5 right after the 14th decimal, where ties must go to even.
TEST(AppendFixed20_14Test, EveryEdgeOfSampledColumnsAndRows) {
  for (int32_t z : {1, 9, 16, 17, 18, 19, 20, 21}) {
    const int64_t n = int64_t{1} << z;
    // An odd step reaches the columns with the longest binary fractions.
    const int64_t step = std::max<int64_t>(1, n / 65536) + 1;
    for (int64_t i = 0; i <= n; i += step) {
      ExpectSame(TileXToLongitude(static_cast<double>(i), z));
      ExpectSame(TileYToLatitude(static_cast<double>(i), z));
    }
  }
}

TEST(AppendFixed20_14Test, RandomValuesOfEveryMagnitude) {
  std::mt19937_64 rng(20240601);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-60, 32);
  for (int i = 0; i < 200000; ++i)
    ExpectSame(std::ldexp(unit(rng), exponent(rng)));
  // Short binary fractions near every magnitude: many exact ties.
  std::uniform_int_distribution<int64_t> mantissa(-(int64_t{1} << 40),
                                                  int64_t{1} << 40);
  std::uniform_int_distribution<int> shift(10, 50);
  for (int i = 0; i < 200000; ++i)
    ExpectSame(std::ldexp(static_cast<double>(mantissa(rng)), -shift(rng)));
}

} // namespace
} // namespace kestrane
