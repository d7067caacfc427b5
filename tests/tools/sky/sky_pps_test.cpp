// Where the 1PPS pulse must sit, from the receiver clock's truth: known
// answers worked by hand from the clock model R = T + b + d (T - T_e).
#include <gtest/gtest.h>

#include <array>

#include "tools/sky/sky_pps.h"

namespace {

struct TrueOffsetCase {
  const char* name;
  SKY_GPST_T true_time, clock_time;  // the epoch: true time and the receiver clock's reading
  double drift;                      // s/s
  SKY_GPST_T mark_clock;             // clock reading where the pulse's second starts
  double expect_s;
};

// T_M = T_e + (R_M - R_e) / (1 + d) is true time at the mark, G the first GPS
// whole second at or after it, offset = (G - T_M)(1 + d); worked out per case:
//   b 0.4 ms, d 1e-7: T_M = 100 + 0.9996 / (1 + d), offset = (1 + d) - 0.9996 = 0.0004001;
//   b -0.2 ms: T_M = 100.0002, G = 101, offset 0.9998;
//   b 0: the mark is a GPS whole second, offset 0;
//   b 0.4997 s, d -5e-8, the mark at the week's end: T_M = 604799.5 + 0.0003 / (1 + d),
//   G = 604800 (the next week's 0), offset = 0.5 (1 + d) - 0.0003 = 0.499699975.
const std::array<TrueOffsetCase, 4> CASES = {{
    {"bias 0.4 ms, drift 1e-7", {2400, 100.0}, {2400, 100.0004}, 1e-7, {2400, 101.0}, 0.0004001},
    {"bias -0.2 ms", {2400, 100.0}, {2400, 99.9998}, 0.0, {2400, 100.0}, 0.9998},
    {"no bias", {2400, 100.0}, {2400, 100.0}, 0.0, {2400, 101.0}, 0.0},
    {"across the week's end", {2400, 604799.5}, {2400, 604799.9997}, -5e-8, {2401, 0.0}, 0.499699975},
}};

TEST(SkyPps, TrueOffsetOfKnownClocks) {
  for (const TrueOffsetCase& c : CASES) {
    SKY_RX_T rx;
    rx.true_time = c.true_time;
    rx.clock_time = c.clock_time;
    rx.clk_drift = c.drift;
    rx.clk_bias_s = (c.clock_time.week - c.true_time.week) * 604800.0 + c.clock_time.tow - c.true_time.tow;
    EXPECT_NEAR(SKY_PPS_true_offset_s(rx, c.mark_clock), c.expect_s, 1e-10) << c.name;
  }
}

}  // namespace
