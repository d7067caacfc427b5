// File RTK runs over simulated base faults against the simulator's truth: an
// RTCM 3 base whose GLONASS messages sometimes arrive without their GPS
// partner, and a base with gaps (30 % delivery, gaps up to 28 s), as a
// CRVRAW pair, as RINEX files and as a recording; --base-pos in the CRVRAW and recording
// modes; the recording run gives the engine the real-time run's reset ticks.
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "test_util.h"
#include "tools/scenario_sim/sim.h"

namespace {

using namespace talon_test;

// The static pair of the samples: rover 2 km east of the base.
SIM_SCENARIO_T static_pair(double duration) {
  SIM_SCENARIO_T sc;
  sc.week = 2245;
  sc.tow0 = 36000.0;
  sc.duration = duration;
  sc.base_llh[0] = 48.78;
  sc.base_llh[1] = 9.18;
  sc.base_llh[2] = 320.0;
  sc.rover_enu[0] = 2000.0;
  sc.rover_enu[1] = 0.0;
  sc.rover_enu[2] = 0.0;
  sc.code_noise = 0.5;
  sc.phase_noise = 0.005;
  sc.doppler_noise = 0.05;
  sc.seed = 7;
  return sc;
}

struct FaultCase {
  const char* name;
  SIM_SCENARIO_T sc;
  std::vector<std::string> args;  // "rb" runs the recording, else r.bin and b.bin
  double min_fix_share;           // FIX epochs / solved epochs
  double max_fix_err;             // m, against the truth
  double min_age, max_age;        // AGE_OF_DIFF of every FIX / FLOAT epoch, s
};
std::ostream& operator<<(std::ostream& os, const FaultCase& c) { return os << c.name; }

FaultCase glo_alone() {
  SIM_SCENARIO_T sc = static_pair(120.0);
  sc.glonass = 1;
  sc.ext_raw = 1;
  sc.base_rtcm = 7;
  sc.base_glo_alone_rate = 0.33;
  // Before: every GLONASS-alone epoch replaced the GPS one, 58 % FIX on the
  // same scenario over 300 s.
  return FaultCase{"rtcm_glonass_alone_recording", sc, {"--rb-file", "rb.bin", "--is-rtcm", "1"}, 0.85, 0.03, 0.0, 5.0};
}

FaultCase gaps(const char* name, int mode) {
  SIM_SCENARIO_T sc = static_pair(180.0);
  sc.iono_error = 0.3;
  sc.base_rate = 0.3;
  sc.base_max_gap = 24.0;
  sc.nbase_gap = 1;
  sc.base_gaps[0][0] = 60.0;
  sc.base_gaps[0][1] = 24.0;
  // A CRVRAW pair pairs with the nearest epoch either side: |age| at most half
  // the longest gap (28 s); a recording, as real time, only with earlier ones
  // (ages up to 28 s, where the fix validation refuses more).
  // Old base epochs weigh the double differences down by their age: fewer
  // fixes, closer ones (files 94 % FIX, 2.5 cm at most before; 86 %, 1.7 cm
  // after; the recording 88 %, 4.4 cm before; 73 %, 1.8 cm after).
  if (mode == 1) return FaultCase{name, sc, {"--rb-file", "rb.bin", "--is-rtcm", "0"}, 0.7, 0.03, 0.0, 28.0};
  if (mode == 2)
    return FaultCase{name, sc,   {"--rover-rinex", "rover.obs", "--base-rinex", "base.obs", "--nav", "nav.rnx"},
                     0.85, 0.03, -14.0,
                     14.0};
  return FaultCase{name, sc, {}, 0.85, 0.03, -14.0, 14.0};
}

class BaseFaultRun : public ::testing::TestWithParam<FaultCase> {};

TEST_P(BaseFaultRun, FixShareAccuracyAndAges) {
  const FaultCase& c = GetParam();
  std::vector<U08> rover, base, rb;
  std::vector<SIM_TRUTH_T> truth;
  std::vector<SIM_MARK_T> marks;
  ASSERT_GT(sim_run_to_memory(&c.sc, &rover, &base, &truth, &marks), 0);
  sim_make_rb(rover, base, marks, &rb);
  TempDir d;
  write_file(d.file("r.bin"), rover);
  write_file(d.file("b.bin"), base);
  write_file(d.file("rb.bin"), rb);
  SIM_RINEX_T rinex;
  std::vector<SIM_TRUTH_T> truth2;
  ASSERT_GT(sim_run_rinex(&c.sc, &rover, &base, &truth2, &rinex), 0);
  write_file(d.file("rover.obs"), std::vector<unsigned char>(rinex.rover_obs.begin(), rinex.rover_obs.end()));
  write_file(d.file("base.obs"), std::vector<unsigned char>(rinex.base_obs.begin(), rinex.base_obs.end()));
  write_file(d.file("nav.rnx"), std::vector<unsigned char>(rinex.nav.begin(), rinex.nav.end()));
  ASSERT_EQ(run_talonhost(d.path(), c.args).exit_code, 0);
  const SolFile sol = read_sol_file(d.file("Normal_sol.txt"));
  ASSERT_TRUE(sol.bad_lines.empty());
  ASSERT_GE(sol.lines.size(), truth.size() - 6);
  int fix = 0;
  double max_err = 0.0, min_seen = 0.0;
  for (const SolLine& l : sol.lines) {
    if (l.status != "FIX" && l.status != "FLOAT") continue;
    min_seen = std::fmin(min_seen, l.age);
    EXPECT_GE(l.age, c.min_age - 0.005) << l.time;
    EXPECT_LE(l.age, c.max_age + 0.005) << l.time;
    if (l.status != "FIX") continue;
    ++fix;
    max_err = std::fmax(max_err, std::hypot(l.x - truth[0].pos[0], l.y - truth[0].pos[1], l.z - truth[0].pos[2]));
  }
  EXPECT_GE(fix, c.min_fix_share * static_cast<double>(sol.lines.size()));
  // Files pair with the later base epoch in the second half of a gap.
  if (c.min_age < 0.0) {
    EXPECT_LT(min_seen, -5.0);
  }
  EXPECT_LE(max_err, c.max_fix_err);
}

INSTANTIATE_TEST_SUITE_P(Host, BaseFaultRun,
                         ::testing::Values(glo_alone(), gaps("crvraw_pair_base_gaps", 0),
                                           gaps("recording_base_gaps", 1), gaps("rinex_base_gaps", 2)),
                         [](const ::testing::TestParamInfo<FaultCase>& i) { return std::string(i.param.name); });

// --base-pos serves the CRVRAW pair and the recording, whose base streams carry no position.
struct BasePosCase {
  const char* name;
  std::vector<std::string> args;
};
std::ostream& operator<<(std::ostream& os, const BasePosCase& c) { return os << c.name; }
class BasePosEveryMode : public ::testing::TestWithParam<BasePosCase> {};

TEST_P(BasePosEveryMode, FixesWithTheGivenPosition) {
  SIM_SCENARIO_T sc = static_pair(60.0);
  sc.base_pos = 0;  // the base stream has no position message
  std::vector<U08> rover, base, rb;
  std::vector<SIM_TRUTH_T> truth;
  std::vector<SIM_MARK_T> marks;
  ASSERT_GT(sim_run_to_memory(&sc, &rover, &base, &truth, &marks), 0);
  sim_make_rb(rover, base, marks, &rb);
  TempDir d;
  write_file(d.file("r.bin"), rover);
  write_file(d.file("b.bin"), base);
  write_file(d.file("rb.bin"), rb);
  double b[3];
  sim_base_ecef(&sc, b);
  char pos[128];
  std::snprintf(pos, sizeof pos, "%.4f,%.4f,%.4f", b[0], b[1], b[2]);
  std::vector<std::string> args = GetParam().args;
  args.push_back("--base-pos");
  args.push_back(pos);
  ASSERT_EQ(run_talonhost(d.path(), args).exit_code, 0);
  const SolFile sol = read_sol_file(d.file("Normal_sol.txt"));
  int fix = 0;
  for (const SolLine& l : sol.lines) {
    if (l.status != "FIX") continue;
    ++fix;
    EXPECT_LT(std::hypot(l.x - truth[0].pos[0], l.y - truth[0].pos[1], l.z - truth[0].pos[2]), 0.03) << l.time;
  }
  EXPECT_GT(fix, 40);
}

INSTANTIATE_TEST_SUITE_P(Host, BasePosEveryMode,
                         ::testing::Values(BasePosCase{"crvraw_pair", {}},
                                           BasePosCase{"recording", {"--rb-file", "rb.bin", "--is-rtcm", "0"}}),
                         [](const ::testing::TestParamInfo<BasePosCase>& i) { return std::string(i.param.name); });

// The recording run ticks the engine's automatic resets like the real-time
// run: a rover that cannot fix (phase noise of a quarter cycle) is reset by
// method 1 after 120 epochs without a fix, so its solutions differ from the
// run with --rtk-reset 0 from then on, and not before.
TEST(RecordingRun, GivesTheRealTimeResetTicks) {
  SIM_SCENARIO_T sc = static_pair(200.0);
  sc.phase_noise = 0.25;
  std::vector<U08> rover, base, rb;
  std::vector<SIM_MARK_T> marks;
  ASSERT_GT(sim_run_to_memory(&sc, &rover, &base, nullptr, &marks), 0);
  sim_make_rb(rover, base, marks, &rb);
  std::vector<SolLine> runs[2];
  for (int k = 0; k < 2; ++k) {
    TempDir d;
    write_file(d.file("rb.bin"), rb);
    ASSERT_EQ(
        run_talonhost(d.path(), {"--rb-file", "rb.bin", "--is-rtcm", "0", "--rtk-reset", k == 0 ? "0" : "1"}).exit_code,
        0);
    runs[k] = read_sol_file(d.file("Normal_sol.txt")).lines;
  }
  ASSERT_EQ(runs[0].size(), runs[1].size());
  std::size_t first_diff = runs[0].size();
  for (std::size_t i = 0; i < runs[0].size() && first_diff == runs[0].size(); ++i)
    if (runs[0][i].x != runs[1][i].x || runs[0][i].status != runs[1][i].status) first_diff = i;
  EXPECT_LT(first_diff, runs[0].size()) << "the reset ticks changed nothing";
  EXPECT_GE(first_diff, 120u);
}

}  // namespace
