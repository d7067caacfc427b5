// The default job, file RTK, run as a program on a simulated moving pair:
// solution files with the exact line format, routing by the rover's epoch
// type, fixed positions against the simulator's truth. (The sample pairs of
// data/ run as the expected-output cases Regress.static and Regress.moving_5hz.)
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "rtk/rtk_cmn.h"
#include "rtk/sim_scenario.h"
#include "test_util.h"

namespace {

using talon_test::read_sol_file;
using talon_test::SolFile;
using talon_test::SolLine;

// LAT/LON/ALT agree with X/Y/Z, BASELINE is the distance from the base, the ratio is capped.
void check_line_consistency(const SolLine& l, const double* base) {
  EXPECT_LE(l.ratio, 10.0);
  const double pos[3] = {l.lat * D2R, l.lon * D2R, l.alt};
  double xyz[3];
  pos2ecef(pos, xyz);
  EXPECT_NEAR(xyz[0], l.x, 0.005);
  EXPECT_NEAR(xyz[1], l.y, 0.005);
  EXPECT_NEAR(xyz[2], l.z, 0.005);
  EXPECT_NEAR(talon_test::sol_dist(l, base), l.baseline, 0.002);
}

// Moving rover at 5 Hz with extended raw epochs; every third epoch from the
// first is a geotagging epoch: on whole seconds type 2, otherwise type 1.
TEST(RtkFileRun, Moving5HzFixesAndRoutesEpochTypes) {
  talon_test::TempDir d;
  sim_test::Scenario sc(2300, 300000.0, 40.0);
  sc.every(0.2).rover_at(300.0, 200.0, 1.0).moving(6.0, -2.0).noise(0.3, 0.01, 0.05).seeded(3);
  sc.ext_raw = 1;
  sc.geotag_every = 3;
  const sim_test::SimPair p = sim_test::simulate(sc);
  ASSERT_GT(p.epochs, 0);
  const std::vector<SIM_TRUTH_T>& truth = p.truth;
  talon_test::write_file(d.file("rover.bin"), p.rover);
  talon_test::write_file(d.file("base.bin"), p.base);

  const auto r = talon_test::run_talonhost(d.path(), {"--rover-file", "rover.bin", "--base-file", "base.bin"});
  EXPECT_EQ(r.exit_code, 0);  // a completed file RTK run
  EXPECT_NE(r.err.find("RTK summary: 201 epochs"), std::string::npos) << r.err;
  const SolFile normal = read_sol_file(d.file("Normal_sol.txt"));
  const SolFile geo = read_sol_file(d.file("Geotagging_sol.txt"));
  EXPECT_TRUE(normal.header_ok);
  EXPECT_TRUE(geo.header_ok);
  EXPECT_EQ(normal.bad_lines.size(), 0u);
  EXPECT_EQ(geo.bad_lines.size(), 0u);

  // expected routing from the simulated epochs: EPOCH n is rover epoch n - 1
  std::map<long, int> type_of;
  int n_type[3] = {0, 0, 0};
  for (std::size_t k = 0; k < truth.size(); ++k) {
    const long ms = std::lround(truth[k].t.tow * 1000.0 + truth[k].clk * 1000.0);  // receiver time tag
    const int type = !truth[k].geotag ? 0 : (ms % 1000 == 0 ? 2 : 1);
    type_of[static_cast<long>(k) + 1] = type;
    ++n_type[type];
  }
  ASSERT_TRUE(n_type[0] > 0 && n_type[1] > 0 && n_type[2] > 0);

  std::map<long, const SolLine*> in_normal, in_geo;
  for (const SolLine& l : normal.lines) in_normal[l.epoch] = &l;
  for (const SolLine& l : geo.lines) in_geo[l.epoch] = &l;
  EXPECT_EQ(in_normal.size(), static_cast<std::size_t>(n_type[0] + n_type[2]));
  EXPECT_EQ(in_geo.size(), static_cast<std::size_t>(n_type[1] + n_type[2]));
  for (const auto& [e, t] : type_of) {
    SCOPED_TRACE(e);
    EXPECT_EQ(in_normal.count(e), t != 1 ? 1u : 0u);
    EXPECT_EQ(in_geo.count(e), t != 0 ? 1u : 0u);
    if (t == 2 && in_normal.count(e) && in_geo.count(e)) {
      EXPECT_EQ(in_normal[e]->time, in_geo[e]->time);
    }
  }

  double base_xyz[3];
  sim_base_ecef(&sc, base_xyz);
  int nfix = 0;
  double max_err = 0.0;
  for (const SolFile* f : {&normal, &geo})
    for (const SolLine& l : f->lines) {
      check_line_consistency(l, base_xyz);
      if (l.status != "FIX") continue;
      ++nfix;
      max_err = std::fmax(max_err, talon_test::sol_dist(l, truth[static_cast<std::size_t>(l.epoch - 1)].pos));
    }
  EXPECT_GT(nfix, 100);
  EXPECT_LT(max_err, 0.05);
}

}  // namespace
