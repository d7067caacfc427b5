// The scenario simulator as a truth source: its orbits against the engine's,
// its observables against their own physics, and the command-line tool.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "rtk/rtk_test_util.h"
#include "test_util.h"

namespace {

// Decoded ephemeris of the simulator's broadcast record, through the reader.
eph_t decode(const SIM_GPS_EPH_T& e, double tow) {
  rtk_test::reset_engine();
  rtk_test::feed_rover(rtk_test::time_msg(1, e.week, static_cast<U32>(tow * 1000.0)));
  rtk_test::feed_rover(rtk_test::gps_sf_msgs(e, tow));
  return RTK_get_nav()->eph[e.prn - 1];
}

// Satellites 1, 8 and 31 of the simulator's constellation.
class ScenarioSimGpsOrbit : public ::testing::TestWithParam<int> {};

TEST_P(ScenarioSimGpsOrbit, AgreesWithTheEngineAndIsContinuousAcrossEphemerisSets) {
  const int i = GetParam();
  SIM_GPS_EPH_T e;
  sim_make_gps_eph(i, 31, 2400, 349200.0, 1, &e);
  const eph_t d = decode(e, 345600.0);
  ASSERT_EQ(d.sat, i + 1);
  for (double dt : {-7000.0, -100.0, 0.0, 3333.3, 7000.0}) {
    double ps[3], clk, rs[3], dts, var;
    sim_gps_sat_state(&e, dt, ps, &clk);
    eph2pos(timeadd(d.toe, dt), &d, rs, &dts, &var);
    EXPECT_LT(rtk_test::dist(ps, rs), 1e-3) << "dt " << dt;
    EXPECT_NEAR(clk, dts, 5e-11);  // relativity as -2 r.v/c^2 against e sin E: equal but for the harmonic terms
  }
  // the next set (toe 2 h later) continues the same orbit
  SIM_GPS_EPH_T n;
  sim_make_gps_eph(i, 31, 2400, 349200.0 + 7200.0, 1, &n);
  double a[3], b[3], c1, c2;
  sim_gps_sat_state(&e, 3600.0, a, &c1);
  sim_gps_sat_state(&n, -3600.0, b, &c2);
  EXPECT_LT(rtk_test::dist(a, b), 1.0);
  EXPECT_NE(e.iode, n.iode);
}

INSTANTIATE_TEST_SUITE_P(ScenarioSim, ScenarioSimGpsOrbit, ::testing::Values(0, 7, 30),
                         [](const auto& i) { return "G" + std::to_string(i.param + 1); });

class ScenarioSimGlonassOrbit : public ::testing::TestWithParam<int> {};

TEST_P(ScenarioSimGlonassOrbit, AgreesWithTheEngine) {
  const int slot = GetParam();
  rtk_test::reset_engine(SYS_GPS | SYS_GLO);
  const SIM_TIME_T t{2400, 345600.0 + 4000.0};
  rtk_test::feed_rover(rtk_test::time_msg(1, t.week, static_cast<U32>(t.tow * 1000.0)));
  SIM_GLO_EPH_T g;
  SIM_TIME_T toe;
  sim_make_glo_eph(slot, t, &g, &toe);
  U08 f[64], data[9];
  for (int m = 1; m <= 4; ++m) {
    sim_encode_glo_string(&g, m, data);
    rtk_test::feed_rover(std::vector<U08>(f, f + sim_msg_glo_string(slot, m, data, f)));
  }
  const geph_t& d = RTK_get_nav()->geph[slot - 1];
  ASSERT_EQ(d.sat, satno(SYS_GLO, slot));
  EXPECT_EQ(timediff(d.toe, gpst2time(toe.week, toe.tow)), 0.0);
  for (double dt : {-900.0, -61.5, 0.0, 450.0, 900.0}) {
    double ps[3], clk, rs[3], dts, var;
    sim_glo_sat_state(&g, dt, ps, &clk);
    geph2pos(timeadd(d.toe, dt), &d, rs, &dts, &var);
    EXPECT_LT(rtk_test::dist(ps, rs), 0.01) << "dt " << dt;
    EXPECT_NEAR(clk, dts, 1e-15);
  }
}

INSTANTIATE_TEST_SUITE_P(ScenarioSim, ScenarioSimGlonassOrbit, ::testing::Values(1, 12, 24),
                         [](const auto& i) { return "R" + std::to_string(i.param); });

TEST(ScenarioSim, ObservablesAreConsistent) {
  SIM_SCENARIO_T sc;
  sc.duration = 2.0;
  sc.interval = 0.5;
  sc.rover_vel_enu[0] = 10.0;
  std::vector<U08> rover, base;
  std::vector<SIM_TRUTH_T> truth;
  ASSERT_EQ(sim_run_to_memory(&sc, &rover, &base, &truth), 5);
  ASSERT_EQ(truth.size(), 5u);
  EXPECT_GE(truth[0].nsat, 6);
  // moving rover: 10 m/s east over 0.5 s
  EXPECT_NEAR(rtk_test::dist(truth[1].pos, truth[0].pos), 5.0, 1e-3);
  EXPECT_NEAR(truth[2].clk - truth[0].clk, sc.clk_drift[0] * 1.0, 1e-15);

  // decode the rover epochs; Doppler against the carrier phase rate
  const auto ep = rtk_test::rover_epochs(rover, base);
  ASSERT_EQ(ep.size(), 5u);
  const obsd_t& a = ep[0][0];
  const obsd_t& b = ep[1][0];
  ASSERT_EQ(a.sat, b.sat);
  const double rate = (b.L[0] - a.L[0]) / 0.5;  // cycles/s
  EXPECT_NEAR(-0.5 * (a.D[0] + b.D[0]), rate, 0.05);
  // code minus carrier holds the ionosphere twice (m) and nothing else, noise-free
  const double cmc0 = a.P[0] - a.L[0] * GPS_L1_WAVELENGTH, cmc1 = b.P[0] - b.L[0] * GPS_L1_WAVELENGTH;
  EXPECT_NEAR(cmc1 - cmc0, 0.0, 0.01);
}

TEST(ScenarioSim, CycleSlipSetsTheFlagAndMovesThePhase) {
  SIM_SCENARIO_T sc;
  sc.duration = 2.0;
  std::vector<U08> r0, b0, r1, b1;
  sim_run_to_memory(&sc, &r0, &b0, nullptr);
  const auto clean = rtk_test::rover_epochs(r0, b0);
  ASSERT_EQ(clean.size(), 3u);
  // slip on the first satellite of the rover's epochs at t = 1 s
  sc.nslip = 1;
  sc.slips[0] = SIM_SLIP_T{0, clean[0][0].sat, 1.0, -13};
  sim_run_to_memory(&sc, &r1, &b1, nullptr);
  const auto slipped = rtk_test::rover_epochs(r1, b1);
  ASSERT_EQ(slipped.size(), 3u);
  EXPECT_EQ(slipped[0][0].LLI[0], 0);
  EXPECT_EQ(slipped[1][0].LLI[0], 1);
  EXPECT_EQ(slipped[2][0].LLI[0], 0);
  EXPECT_EQ(slipped[1][0].L[0] - clean[1][0].L[0], -13.0);
  EXPECT_EQ(slipped[2][0].L[0] - clean[2][0].L[0], -13.0);
  EXPECT_EQ(slipped[1][0].P[0], clean[1][0].P[0]);
}

// Canopy windows shade the weakest satellites: kind 0 lowers their C/N0 by
// 10 dB and slips the phase once, flagged only in the window's first epoch;
// kind 1 the same without the flag; kind 2 drops them while the window lasts.
TEST(ScenarioSim, CanopyWindowsShadeSlipAndDrop) {
  struct Case {
    const char* name;
    int kind;
  };
  const Case cases[] = {{"C/N0 drop, flagged slip", 0}, {"C/N0 drop, unflagged slip", 1}, {"not tracked", 2}};
  SIM_SCENARIO_T sc;
  sc.duration = 4.0;
  std::vector<U08> r0, b0;
  sim_run_to_memory(&sc, &r0, &b0, nullptr);
  const auto clean = rtk_test::rover_epochs(r0, b0);
  ASSERT_EQ(clean.size(), 5u);
  for (const Case& c : cases) {
    sc.ncanopy = 1;
    sc.canopy[0] = SIM_CANOPY_T{1.0, 2.0, 2, c.kind};  // epochs at 1 s and 2 s, two satellites
    std::vector<U08> r1, b1;
    sim_run_to_memory(&sc, &r1, &b1, nullptr);
    const auto ep = rtk_test::rover_epochs(r1, b1);
    ASSERT_EQ(ep.size(), 5u) << c.name;
    EXPECT_EQ(ep[0].size(), clean[0].size()) << c.name;
    if (c.kind == 2) {
      EXPECT_EQ(ep[1].size() + 2, clean[1].size()) << c.name;
      EXPECT_EQ(ep[2].size() + 2, clean[2].size()) << c.name;
    }
    ASSERT_EQ(ep[3].size(), clean[3].size()) << c.name;
    int shaded = 0, flagged = 0, slipped_after = 0;
    for (std::size_t i = 0; i < clean[1].size() && c.kind != 2; ++i) {
      if (ep[1][i].SNR[0] + 40 == clean[1][i].SNR[0]) ++shaded;  // 0.25 dB-Hz units
      if (ep[1][i].LLI[0] & 1) ++flagged;
      EXPECT_EQ(ep[2][i].LLI[0] & 1, 0) << c.name;
    }
    for (std::size_t i = 0; i < clean[3].size(); ++i) {
      const double d = ep[3][i].L[0] - clean[3][i].L[0];
      if (d != 0.0) {
        ++slipped_after;
        EXPECT_GE(std::fabs(d), 5.0) << c.name;
        EXPECT_LE(std::fabs(d), 50.0) << c.name;
      }
      EXPECT_EQ(ep[3][i].SNR[0], clean[3][i].SNR[0]) << c.name;
      EXPECT_EQ(ep[3][i].LLI[0] & 1, 0) << c.name;
    }
    EXPECT_EQ(slipped_after, 2) << c.name;
    if (c.kind != 2) {
      EXPECT_EQ(shaded, 2) << c.name;
    }
    EXPECT_EQ(flagged, c.kind == 0 ? 2 : 0) << c.name;
  }
}

// The walking rover stays on its circle (radius from the start point's centre
// constant) at the set speed; a code bias moves one satellite's code only.
TEST(ScenarioSim, WalkOnACircleAndCodeBias) {
  SIM_SCENARIO_T sc;
  sc.duration = 20.0;
  sc.walk_speed = 1.5;
  sc.walk_radius = 30.0;
  std::vector<U08> r, b;
  std::vector<SIM_TRUTH_T> truth;
  sim_run_to_memory(&sc, &r, &b, &truth);
  ASSERT_EQ(truth.size(), 21u);
  for (std::size_t k = 1; k < truth.size(); ++k) {
    const double step = rtk_test::dist(truth[k].pos, truth[k - 1].pos);
    EXPECT_NEAR(step, 1.5, 0.01) << k;  // chord of 1.5 m of arc on 30 m radius
  }
  const double chord = rtk_test::dist(truth[20].pos, truth[0].pos);
  EXPECT_NEAR(chord, 2.0 * 30.0 * std::sin(30.0 / 30.0 / 2.0), 0.02);
  SIM_SCENARIO_T sb;
  sb.duration = 0.0;
  std::vector<U08> r0, b0, r1, b1;
  sim_run_to_memory(&sb, &r0, &b0, nullptr);
  const auto clean = rtk_test::rover_epochs(r0, b0);
  ASSERT_FALSE(clean.empty());
  sb.code_bias_prn = clean[0][0].sat;
  sb.code_bias = 12.0;
  sim_run_to_memory(&sb, &r1, &b1, nullptr);
  const auto biased = rtk_test::rover_epochs(r1, b1);
  ASSERT_EQ(biased[0].size(), clean[0].size());
  EXPECT_NEAR(biased[0][0].P[0] - clean[0][0].P[0], 12.0, 0.01);
  EXPECT_EQ(biased[0][0].L[0], clean[0][0].L[0]);
  for (std::size_t i = 1; i < clean[0].size(); ++i) EXPECT_EQ(biased[0][i].P[0], clean[0][i].P[0]);
}

TEST(ScenarioSim, CommandLineToolWritesTheStreamsAndTruth) {
  talon_test::TempDir dir;
  const std::string scen = dir.file("static.txt");
  const std::string text =
      "# static rover 2 km east, GPS week before the first rollover\n"
      "week = 900\ntow0 = 3600\nduration = 4\ninterval = 1\n"
      "base_llh = 48.78 9.18 300\nrover_enu = 2000 0 1\ncode_noise = 0.5\n"
      "slip = 0 5 2 3\next_raw = 1\n";
  talon_test::write_file(scen, std::vector<unsigned char>(text.begin(), text.end()));
  const std::string tool = std::string(TALON_SCENARIO_SIM_EXE);
  const std::string cmd = tool + " " + scen + " " + dir.path() + " > " + dir.file("out.txt");
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_NE(talon_test::read_text(dir.file("out.txt")).find("5 epochs written"), std::string::npos);
  EXPECT_GT(talon_test::read_file(dir.file("r.bin")).size(), 1000u);
  EXPECT_GT(talon_test::read_file(dir.file("b.bin")).size(), 1000u);
  const std::string truth = talon_test::read_text(dir.file("truth.txt"));
  int lines = 0;
  for (char c : truth) lines += c == '\n';
  EXPECT_EQ(lines, 6);  // header and five epochs
  EXPECT_EQ(truth.find("900 3599.99"), truth.find('\n') + 1);

  SIM_SCENARIO_T sc;
  int line = 0;
  EXPECT_EQ(sim_parse_scenario("week = 1\nbogus = 3\n", &sc, &line), 0);
  EXPECT_EQ(line, 2);
  EXPECT_EQ(sim_parse_scenario("week\n", &sc, &line), 0);
  EXPECT_EQ(line, 1);
}

}  // namespace
