// Saturating truncation to S32: toward zero inside the range, the nearest end
// of the range outside it (infinities included), 0 for NaN.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "misc/saturate.h"

namespace {

struct SatCase {
  const char* name;
  D64 v;
  S32 expect;
};

TEST(Saturate, TruncS32Table) {
  constexpr S32 MAX = std::numeric_limits<S32>::max();
  constexpr S32 MIN = std::numeric_limits<S32>::min();
  const SatCase cases[] = {
      {"zero", 0.0, 0},
      {"small positive truncates", 0.9, 0},
      {"small negative truncates toward zero", -0.9, 0},
      {"5.255 Hz", 5.2550354685707275, 5},
      {"-525.5 Hz", -525.50354685707275, -525},
      {"just below the top", 2147483646.7, 2147483646},
      {"the top", 2147483647.0, MAX},
      {"one past the top", 2147483648.0, MAX},
      {"far above", 1e30, MAX},
      {"+infinity", std::numeric_limits<D64>::infinity(), MAX},
      {"just above the bottom", -2147483647.9, -2147483647},
      {"the bottom", -2147483648.0, MIN},
      {"one past the bottom", -2147483649.0, MIN},
      {"far below", -1e30, MIN},
      {"-infinity", -std::numeric_limits<D64>::infinity(), MIN},
      {"NaN", std::numeric_limits<D64>::quiet_NaN(), 0},
  };
  for (const SatCase& c : cases) EXPECT_EQ(SAT_trunc_s32(c.v), c.expect) << c.name;
}

}  // namespace
