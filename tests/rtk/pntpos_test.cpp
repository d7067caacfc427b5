// Single-point positioning: satellite count, group delay, RAIM and satellite screening.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "rtk/rtk_test_util.h"

namespace {

struct Epoch {
  obsd_t obs[MAXOBS];
  int n = 0;
  SIM_TRUTH_T truth{};
};

// One noise-free rover epoch with its ephemerides in the store.
Epoch one_epoch(int week = 2400) {
  SIM_SCENARIO_T sc;
  sc.week = week;
  sc.duration = 0.0;
  sc.elmask = 12.0;
  std::vector<U08> rover, base;
  std::vector<SIM_TRUTH_T> truth;
  // the first start time with at least 9 satellites above the mask
  for (int k = 0; k < 100; ++k, sc.tow0 += 600.0) {
    rover.clear();
    base.clear();
    truth.clear();
    sim_run_to_memory(&sc, &rover, &base, &truth);
    if (truth.at(0).nsat >= 9) break;
  }
  rtk_test::reset_engine();
  rtk_test::feed_rover(rover);
  Epoch e;
  obsd_t all[MAXOBS_CYCLE];
  int nr = 0, nb = 0;
  RTK_RAW_get_meas(all, &nr, &nb);
  for (int i = 0; i < nr; ++i) e.obs[i] = all[i];
  e.n = nr;
  e.truth = truth.at(0);
  return e;
}

double error(const sol_t& sol, const SIM_TRUTH_T& t) { return rtk_test::dist(sol.rr, t.pos); }

TEST(Pntpos, NeedsSixGpsSatellitesAndAppliesTheGroupDelay) {
  Epoch e = one_epoch();
  ASSERT_GE(e.n, 8);
  const prcopt_t opt = rtk_test::default_opt();
  sol_t sol{};
  char msg[128];
  EXPECT_EQ(pntpos(e.obs, 5, RTK_get_nav(), &opt, &sol, nullptr, nullptr, msg), 0);
  EXPECT_EQ(sol.stat, SOLQ_NONE);
  EXPECT_EQ(pntpos(e.obs, 0, RTK_get_nav(), &opt, &sol, nullptr, nullptr, msg), 0);
  sol = sol_t{};
  ASSERT_EQ(pntpos(e.obs, 6, RTK_get_nav(), &opt, &sol, nullptr, nullptr, msg), 1) << msg;
  EXPECT_EQ(sol.stat, SOLQ_SINGLE);
  EXPECT_EQ(sol.ns, 6);
  EXPECT_LT(error(sol, e.truth), 0.5);
  // the solution time is the receiver time corrected by the estimated clock
  EXPECT_NEAR(timediff(sol.time, gpst2time(e.truth.t.week, e.truth.t.tow)), 0.0, 1e-8);
  EXPECT_GT(sol.qr[0], 0.0f);
  sol = sol_t{};
  ASSERT_EQ(pntpos(e.obs, e.n, RTK_get_nav(), &opt, &sol, nullptr, nullptr, msg), 1);
  EXPECT_LT(error(sol, e.truth), 0.05);
  // without T_GD in the store the same epoch is metres off
  double biggest = 0.0;
  for (int i = 0; i < e.n; ++i) {
    eph_t eph = RTK_get_nav()->eph[e.obs[i].sat - 1];
    biggest = std::fmax(biggest, std::fabs(eph.tgd[0]) * CLIGHT);
    eph.tgd[0] = 0.0;
    eph.iode = (eph.iode + 1) & 0xFF;  // not a duplicate
    ASSERT_EQ(RTK_input_eph(&eph), 1);
  }
  ASSERT_GT(biggest, 1.0);
  sol = sol_t{};
  pntpos(e.obs, e.n, RTK_get_nav(), &opt, &sol, nullptr, nullptr, msg);
  EXPECT_GT(error(sol, e.truth), 0.3);
  // two observations of one satellite in a row: neither is used
  e.obs[1].sat = e.obs[0].sat;
  sol = sol_t{};
  EXPECT_EQ(pntpos(e.obs, 7, RTK_get_nav(), &opt, &sol, nullptr, nullptr, msg), 0);
}

// Both fault detection and exclusion schemes (olvo_alternative_raim_fde 1 and 0).
class PntposRaim : public ::testing::TestWithParam<int> {};

TEST_P(PntposRaim, ExcludesAFaultySatellite) {
  const int alternative = GetParam();
  Epoch e = one_epoch();
  ASSERT_GE(e.n, 8);
  e.obs[2].P[0] += 150.0;
  prcopt_t opt = rtk_test::default_opt();
  opt.olvo_alternative_raim_fde = alternative;
  opt.olvo_apply_rtkinit_medium_in_rtk_reset_engine = 1;
  sol_t sol{};
  sol.cont_pntpos_cnt = 42;
  ssat_t ssat[MAXSAT];
  char msg[128];
  ASSERT_EQ(pntpos(e.obs, e.n, RTK_get_nav(), &opt, &sol, nullptr, ssat, msg), 1);
  EXPECT_EQ(sol.stat, SOLQ_SINGLE);
  EXPECT_LT(error(sol, e.truth), 0.5);
  EXPECT_EQ(sol.ns, e.n - 1);
  EXPECT_EQ(sol.cont_pntpos_cnt, 42);
  EXPECT_EQ(ssat[e.obs[2].sat - 1].vs, 0);
  EXPECT_EQ(ssat[e.obs[3].sat - 1].vs, 1);
  EXPECT_GT(ssat[e.obs[2].sat - 1].azel[1], 0.0);
  EXPECT_EQ(ssat[e.obs[2].sat - 1].snr[0], e.obs[2].SNR[0]);
  EXPECT_NEAR(ssat[e.obs[3].sat - 1].resc[0], 0.0, 0.5);
  unsigned int fails = 9;
  PNTPOS_reset_chi_sqr_test_cnt();
  PNTPOS_get_chi_sqr_test_cnt(&fails);
  EXPECT_EQ(fails, 0u);
  // two faults among few satellites: RAIM fails and counts it
  Epoch f = one_epoch();
  f.obs[1].P[0] += 300.0;
  f.obs[4].P[0] -= 200.0;
  sol = sol_t{};
  EXPECT_EQ(pntpos(f.obs, 8, RTK_get_nav(), &opt, &sol, nullptr, nullptr, msg), 0);
  PNTPOS_get_chi_sqr_test_cnt(&fails);
  EXPECT_EQ(fails, 1u);
}

INSTANTIATE_TEST_SUITE_P(Pntpos, PntposRaim, ::testing::Values(1, 0),
                         [](const auto& i) { return i.param ? std::string("alternative") : std::string("classic"); });

TEST(Pntpos, SatelliteScreening) {
  prcopt_t opt = rtk_test::default_opt();
  EXPECT_EQ(satexclude(5, 0, &opt), 0);
  EXPECT_EQ(satexclude(5, -1, &opt), 1);
  EXPECT_EQ(satexclude(5, 1, &opt), 1);
  EXPECT_EQ(satexclude(33, 1, &opt), 1);  // QZSS not configured
  opt.navsys |= SYS_QZS;
  EXPECT_EQ(satexclude(33, 1, &opt), 0);  // QZSS health bit 0 ignored
  EXPECT_EQ(satexclude(33, 2, &opt), 1);
  EXPECT_EQ(satexclude(satno(SYS_GLO, 1), 0, &opt), 1);
  opt.exsats[4] = 1;
  EXPECT_EQ(satexclude(5, 0, &opt), 1);
  opt.exsats[4] = 2;
  EXPECT_EQ(satexclude(5, 4, &opt), 0);

  // excluded satellites are not used
  Epoch e = one_epoch();
  opt.exsats[4] = 0;
  opt.exsats[e.obs[0].sat - 1] = 1;
  sol_t sol{};
  char msg[128];
  ASSERT_EQ(pntpos(e.obs, e.n, RTK_get_nav(), &opt, &sol, nullptr, nullptr, msg), 1);
  EXPECT_EQ(sol.ns, e.n - 1);

  snrmask_t m{};
  m.ena[0] = 1;
  for (int i = 0; i < 9; ++i) m.mask[0][i] = 40.0 - 2.0 * i;  // 40 at 5 deg .. 24 at 85 deg
  EXPECT_EQ(testsnr(0, 0, 10.0 * D2R, 38.9, &m), 1);          // limit 39 halfway between 5 and 15 deg
  EXPECT_EQ(testsnr(0, 0, 10.0 * D2R, 39.1, &m), 0);
  EXPECT_EQ(testsnr(0, 0, 1.0 * D2R, 39.9, &m), 1);
  EXPECT_EQ(testsnr(0, 0, 89.0 * D2R, 23.9, &m), 1);
  EXPECT_EQ(testsnr(1, 0, 10.0 * D2R, 0.0, &m), 0);  // base mask not enabled
  double dop[4] = {1, 1, 1, 1};
  const double azel[6] = {0, 1, 1, 1, 2, 1};
  dops(3, azel, 0.0, dop);
  EXPECT_EQ(dop[0], 0.0);
}

}  // namespace
