// Re-entry lock-out after a C/N0 dip (--snr-reentry, RTK_CFG_set_snr_reentry):
// a simulated rover satellite whose C/N0 falls below the 35 dB-Hz mask for
// one epoch stays out of the engine for the lock-out, counted in rover epochs
// with the dip epoch as the first, at 1 Hz and at 5 Hz. The same run without the dip is the reference: the epochs in
// which exactly that satellite is missing are the lock-out.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "rtk/rtk_cfg.h"
#include "rtk/rtk_test_util.h"

namespace {

constexpr double DIP_T = 10.0;  // s after the start

struct Case {
  std::string name;
  double interval;  // s between epochs
  int reentry;      // epochs, --snr-reentry
  double back_t;    // s after the start: first epoch that uses the satellite again
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// Static rover, GPS only, no noise; the simulator tracks only satellites above
// 16 deg (all above the engine's 15 deg mask). With dip, the rover satellite
// of lowest C/N0 loses 10 dB for one epoch at DIP_T.
SIM_SCENARIO_T scenario(double interval, bool dip, double elmask = 16.0, int ndip = 1) {
  sim_test::Scenario sc(2300, 200420.0, 40.0 - interval);
  sc.every(interval);
  sc.elmask = elmask;
  if (dip) {
    sc.ncanopy = 1;
    sc.canopy[0] = SIM_CANOPY_T{DIP_T, interval, ndip, 0};
  }
  return sc;
}

// Per rover epoch (index: epoch number), the satellites that entered the cycle
// (the single-point solution gave them an elevation).
std::vector<std::set<int>> used_sats(const SIM_SCENARIO_T& sc, int reentry, int elv_mask = 15) {
  const sim_test::SimPair p = sim_test::simulate(sc);
  EXPECT_EQ(RTK_CFG_set_snr_reentry(reentry), 1);
  rtk_test::init_engine(0, elv_mask);
  RTK_CFG_set_snr_reentry(20.0);  // the start value again for the other tests
  std::vector<std::set<int>> out;
  rtk_test::run_cycles(p.rover, p.base, {}, nullptr, [&](const rtk_test::Cycle& c) {
    int week = 0;
    const double t = time2gpst(c.sol.r_time, &week) - sc.tow0;
    const auto k = static_cast<std::size_t>(std::lround(t / sc.interval));
    if (out.size() <= k) out.resize(k + 1);
    const rtk_t* rtk = RTK_get_rtk();
    for (int sat = 1; sat <= MAXSAT; ++sat)
      if (rtk->ssat[sat - 1].azel[1] != 0.0) out[k].insert(sat);
  });
  return out;
}

class SnrReentry : public ::testing::TestWithParam<Case> {};

TEST_P(SnrReentry, DippedSatelliteIsBackAfterTheLockout) {
  const Case& c = GetParam();
  const std::vector<std::set<int>> ref = used_sats(scenario(c.interval, false), c.reentry);
  const std::vector<std::set<int>> dip = used_sats(scenario(c.interval, true), c.reentry);
  ASSERT_EQ(ref.size(), dip.size());
  ASSERT_GT(ref.size(), static_cast<std::size_t>(std::lround((c.back_t + 2.0) / c.interval)));
  int dipped = 0;  // the satellite missing in the dip epoch
  const auto k_dip = static_cast<std::size_t>(std::lround(DIP_T / c.interval));
  for (int sat : ref[k_dip])
    if (dip[k_dip].count(sat) == 0) {
      EXPECT_EQ(dipped, 0) << "a second satellite missing in the dip epoch";
      dipped = sat;
    }
  ASSERT_NE(dipped, 0) << "no satellite below the mask in the dip epoch";
  const auto k_back = static_cast<std::size_t>(std::lround(c.back_t / c.interval));
  for (std::size_t k = 0; k < ref.size(); ++k) {
    std::set<int> expect = ref[k];
    if (k >= k_dip && k < k_back) expect.erase(dipped);
    EXPECT_EQ(dip[k], expect) << "epoch at " << static_cast<double>(k) * c.interval << " s";
  }
}

// back_t = DIP_T + (N - 1) * interval (the dip epoch is the lock-out's first;
// 20: 19 epochs out at any rate, as the fixed 20-cycle count did), and the
// epoch after the dip without a lock-out.
INSTANTIATE_TEST_SUITE_P(Rtk, SnrReentry,
                         ::testing::Values(Case{"hz1_20", 1.0, 20, DIP_T + 19.0}, Case{"hz1_5", 1.0, 5, DIP_T + 4.0},
                                           Case{"hz1_off", 1.0, 0, DIP_T + 1.0}, Case{"hz5_20", 0.2, 20, DIP_T + 3.8},
                                           Case{"hz5_5", 0.2, 5, DIP_T + 0.8}, Case{"hz5_off", 0.2, 0, DIP_T + 0.2}),
                         [](const ::testing::TestParamInfo<Case>& i) { return i.param.name; });

// A satellite below the elevation mask gets no lock-out from a dip: with
// every satellite tracked from 5 deg and the engine's mask at 16 deg, the two
// satellites of lowest C/N0 dip, one of them G12 (rising from 15.2 deg) in an
// epoch in which it is tried (out of the cycle, it is tried again whenever the
// engine has no elevation of it, every other epoch). It is tried again in the
// epoch after the dip, not 19 epochs later; the other satellites are those
// of the reference in every epoch.
TEST(SnrReentryElevation, NoLockoutBelowTheElevationMask) {
  const std::vector<std::set<int>> ref = used_sats(scenario(1.0, false, 5.0), 20, 16);
  const std::vector<std::set<int>> dip = used_sats(scenario(1.0, true, 5.0, 2), 20, 16);
  ASSERT_EQ(ref.size(), dip.size());
  const auto k_dip = static_cast<std::size_t>(std::lround(DIP_T));
  ASSERT_GT(ref.size(), k_dip + 20);
  int dipped = 0;
  for (int sat : ref[k_dip])
    if (dip[k_dip].count(sat) == 0) dipped = sat;
  ASSERT_NE(dipped, 0) << "no tried satellite below the C/N0 mask in the dip epoch";
  EXPECT_EQ(dip[k_dip + 1].count(dipped), 1u) << "not tried in the epoch after the dip";
  for (std::size_t k = 0; k < ref.size(); ++k) {
    std::set<int> a = ref[k], b = dip[k];
    a.erase(dipped);
    b.erase(dipped);
    EXPECT_EQ(b, a) << "epoch at " << k << " s";
  }
}

// The setter refuses values outside 0..600 s and keeps the last good one.
TEST(SnrReentrySetter, Range) {
  EXPECT_EQ(RTK_CFG_set_snr_reentry(-1.0), 0);
  EXPECT_EQ(RTK_CFG_set_snr_reentry(600.5), 0);
  EXPECT_EQ(RTK_CFG_set_snr_reentry(std::nan("")), 0);
  EXPECT_EQ(RTK_CFG_set_snr_reentry(600.0), 1);
  EXPECT_EQ(RTK_CFG_set_snr_reentry(0.0), 1);
  prcopt_t o{};
  RTK_CFG_get(&o, SYS_GPS, 35, 40, 15, nullptr);
  EXPECT_EQ(o.snr_reentry, 0.0);
  EXPECT_EQ(RTK_CFG_set_snr_reentry(20.0), 1);
  RTK_CFG_get(&o, SYS_GPS, 35, 40, 15, nullptr);
  EXPECT_EQ(o.snr_reentry, 20.0);
}

}  // namespace
