// Single-point positioning on simulated rover data against the simulator's truth.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "rtk/rtk_test_util.h"

namespace {

struct RunStats {
  int epochs = 0, single = 0;
  int min_glo_used = 99;  // GLONASS satellites in the solution, fewest of all epochs
  double max_err = 0.0, rms = 0.0, max_clk_err = 0.0;
};

// Runs the file pairing and pntpos over every rover epoch; each epoch starts cold
// from the Earth's centre when cold is set, else from the previous solution.
RunStats run_pntpos(const SIM_SCENARIO_T& sc, bool cold, int navsys = SYS_GPS | SYS_SBS) {
  const sim_test::SimPair p = sim_test::simulate(sc);
  const std::vector<SIM_TRUTH_T>& truth = p.truth;
  rtk_test::reset_engine(navsys);
  std::FILE* fr = rtk_test::mem_file(p.rover);
  std::FILE* fb = rtk_test::mem_file(p.base);
  prcopt_t opt = rtk_test::default_opt();
  opt.navsys = navsys;
  RunStats st;
  sol_t sol{};
  obsd_t obs[MAXOBS_CYCLE];
  double sum2 = 0.0;
  while (CRV_process_file(fr, fb)) {
    int nr = 0, nb = 0;
    if (RTK_RAW_get_meas(obs, &nr, &nb) <= 0) continue;
    if (st.epochs >= static_cast<int>(truth.size())) break;
    const SIM_TRUTH_T& tr = truth[static_cast<std::size_t>(st.epochs++)];
    if (cold) sol = sol_t{};
    char msg[128];
    static ssat_t ssat[MAXSAT];
    if (!pntpos(obs, nr, RTK_get_nav(), &opt, &sol, nullptr, ssat, msg)) continue;
    int glo = 0;
    for (int s = 1; s <= MAXSAT; ++s) glo += satsys(s, nullptr) == SYS_GLO && ssat[s - 1].vs ? 1 : 0;
    st.min_glo_used = std::min(st.min_glo_used, glo);
    if (sol.stat != SOLQ_SINGLE) continue;
    ++st.single;
    const double d = rtk_test::dist(sol.rr, tr.pos);
    st.max_err = std::fmax(st.max_err, d);
    sum2 += d * d;
    st.max_clk_err = std::fmax(st.max_clk_err, std::fabs(sol.dtr[0] - tr.clk) * CLIGHT);
  }
  std::fclose(fr);
  std::fclose(fb);
  if (st.single > 0) st.rms = std::sqrt(sum2 / st.single);
  return st;
}

SIM_SCENARIO_T scenario(int week, double noise) {
  sim_test::Scenario sc(week, 302400.0 + 3600.0 * 5, 20.0);
  sc.moving(5.0, -3.0).noise(noise, noise > 0.0 ? 0.01 : 0.0, noise > 0.0 ? 0.05 : 0.0);
  sc.iono_error = noise > 0.0 ? 0.1 : 0.0;  // broadcast model leaves 10 % of the delay
  return sc;
}

// Week 2400 and a week before the first 1024-week rollover.
class PntposSimulatedWeek : public ::testing::TestWithParam<int> {};

TEST_P(PntposSimulatedWeek, NoiseFreeColdStartIsWithinHalfMetre) {
  const RunStats st = run_pntpos(scenario(GetParam(), 0.0), true);
  EXPECT_EQ(st.epochs, 21);
  EXPECT_EQ(st.single, st.epochs);
  EXPECT_LT(st.max_err, 0.5);
  EXPECT_LT(st.max_clk_err, 1.0);
}

TEST_P(PntposSimulatedWeek, RealisticNoiseIsWithinFiveMetres) {
  const RunStats st = run_pntpos(scenario(GetParam(), 0.5), false);
  EXPECT_EQ(st.single, st.epochs);
  EXPECT_LT(st.max_err, 5.0);
  EXPECT_LT(st.rms, 3.0);
}

INSTANTIATE_TEST_SUITE_P(PntposSimulated, PntposSimulatedWeek, ::testing::Values(2400, 900),
                         [](const auto& i) { return "week" + std::to_string(i.param); });

// GPS and GLONASS from extended raw epochs: GLONASS orbits from the broadcast
// strings, frequency numbers from the raw records, its own clock offset state.
TEST(PntposSimulated, GpsAndGlonassColdStart) {
  SIM_SCENARIO_T sc = scenario(2400, 0.0);
  sc.glonass = 1;
  sc.ext_raw = 1;
  sc.tow0 = 345600.0 + 1790.0;  // crosses a GLONASS ephemeris set (half hour) boundary
  const RunStats st = run_pntpos(sc, true, SYS_GPS | SYS_GLO);
  EXPECT_EQ(st.epochs, 21);
  EXPECT_EQ(st.single, st.epochs);
  EXPECT_LT(st.max_err, 0.5);
  EXPECT_GE(st.min_glo_used, 4);
}

}  // namespace
