// Scenario keys of the base stream faults and the faults they give: gap
// windows, a delivery rate with its longest gap, and RTCM 3 epochs whose GPS
// message is lost; decided per epoch, the same on every run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "tools/scenario_sim/sim.h"

namespace {

TEST(SimBaseFaults, KeysAndTheirFaults) {
  SIM_SCENARIO_T sc;
  int line = 0;
  ASSERT_EQ(sim_parse_scenario("duration = 600\nbase_rate = 0.3\nbase_max_gap = 24\nbase_gap = 100 30\n"
                               "base_gap = 300 5\nbase_glo_alone_rate = 0.33\n",
                               &sc, &line),
            1)
      << line;
  EXPECT_EQ(sc.nbase_gap, 2);
  EXPECT_EQ(sc.base_gaps[1][0], 300.0);
  EXPECT_EQ(sc.base_gaps[1][1], 5.0);
  int delivered = 0, longest = 0, run = 0, lost = 0;
  for (int k = 0; k <= 600; ++k) {
    const double t = k;
    const bool d = sim_base_delivered(&sc, t) != 0;
    if ((t >= 100.0 && t < 130.0) || (t >= 300.0 && t < 305.0)) {
      EXPECT_FALSE(d) << "inside a gap window at " << t;
    }
    delivered += d;
    run = d ? 0 : run + 1;
    if (!(t >= 100.0 && t < 131.0)) longest = std::max(longest, run);
    lost += sim_base_gps_lost(&sc, t);
    EXPECT_EQ(sim_base_delivered(&sc, t), d ? 1 : 0);  // the same on every call
  }
  EXPECT_LT(longest, 24);  // outside the window no gap reaches base_max_gap
  EXPECT_NEAR(delivered / 601.0, 0.3, 0.08);
  EXPECT_NEAR(lost / 601.0, 0.33, 0.06);
  // Without the keys nothing is lost.
  const SIM_SCENARIO_T plain;
  for (int k = 0; k < 100; ++k) {
    EXPECT_EQ(sim_base_delivered(&plain, k), 1);
    EXPECT_EQ(sim_base_gps_lost(&plain, k), 0);
  }
}

}  // namespace
