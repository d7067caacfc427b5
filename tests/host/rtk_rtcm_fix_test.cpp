// File RTK over a recording: a simulated pair whose base stream is RTCM 3 MSM4
// or MSM7 (or CRVRAW), re-run from its rb.bin recording, fixes within 2 cm of
// the simulator's truth and agrees within 1 cm with the same scenario run from
// r.bin and b.bin with a CRVRAW base.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <vector>

#include "rtk/sim_scenario.h"
#include "test_util.h"

namespace {

using namespace talon_test;

// Solution lines by their date and time columns; each line that does not parse a failure.
std::map<std::string, SolLine> read_solutions(const std::string& path) {
  const SolFile f = read_sol_file(path);
  for (const std::string& l : f.bad_lines) ADD_FAILURE() << "bad line: " << l;
  std::map<std::string, SolLine> out;
  for (const SolLine& l : f.lines) out[l.time] = l;
  return out;
}

SIM_SCENARIO_T scenario(int base_rtcm) {
  sim_test::Scenario sc;
  sc.duration = 90.0;
  sc.rover_at(300.0, -150.0, 3.0).noise(0.3, 0.003);
  sc.base_rtcm = base_rtcm;
  return sc;
}

// The base stream of a recording, and the --is-rtcm value it needs.
struct BaseStream {
  const char* name;
  int base_rtcm;  // 4 or 7: RTCM 3 MSM4 / MSM7; 0: CRVRAW
};

void PrintTo(const BaseStream& c, std::ostream* os) { *os << c.name; }

// Each recording against the same scenario run from r.bin and b.bin with a
// CRVRAW base, which is run once for all cases.
class RecordingFixesLikeCrvrawBase : public ::testing::TestWithParam<BaseStream> {
 protected:
  static void SetUpTestSuite() {
    TempDir dc;
    const SIM_SCENARIO_T sc0 = scenario(0);
    Crv.clear();
    Crvraw_ok = sim_run(&sc0, dc.file("r.bin").c_str(), dc.file("b.bin").c_str(), nullptr) > 0 &&
                run_talonhost(dc.path(), {}).exit_code == 0;
    if (Crvraw_ok) Crv = read_solutions(dc.file("Normal_sol.txt"));
  }
  static inline bool Crvraw_ok = false;
  static inline std::map<std::string, SolLine> Crv;
};

TEST_P(RecordingFixesLikeCrvrawBase, WithinTwoCentimetresOfTruthAndOneOfTheCrvrawRun) {
  ASSERT_TRUE(Crvraw_ok) << "the CRVRAW reference run failed";
  const int msm = GetParam().base_rtcm;
  const SIM_SCENARIO_T sc = scenario(msm);
  const sim_test::SimPair p = sim_test::simulate(sc, true);
  const std::vector<SIM_TRUTH_T>& truth = p.truth;
  TempDir d;
  write_file(d.file("rb.bin"), p.rb);
  ASSERT_EQ(run_talonhost(d.path(), {"--rb-file", "rb.bin", "--is-rtcm", msm != 0 ? "1" : "0"}).exit_code, 0);
  const auto rt = read_solutions(d.file("Normal_sol.txt"));
  ASSERT_GE(rt.size(), truth.size() - 6);
  int fixes = 0, both = 0;
  for (const auto& [time, s] : rt) {
    if (s.status != "FIX") continue;
    ++fixes;
    EXPECT_LT(sol_dist(s, truth[0].pos), 0.02) << time;
    const auto c = Crv.find(time);
    if (c == Crv.end() || c->second.status != "FIX") continue;
    ++both;
    EXPECT_LT(sol_dist(s, std::array{c->second.x, c->second.y, c->second.z}.data()), 0.01) << time;
  }
  EXPECT_GT(fixes, static_cast<int>(truth.size()) / 2);
  EXPECT_GT(both, static_cast<int>(truth.size()) / 2);
}

INSTANTIATE_TEST_SUITE_P(RtkRtcmFix, RecordingFixesLikeCrvrawBase,
                         ::testing::Values(BaseStream{"msm4", 4}, BaseStream{"msm7", 7}, BaseStream{"crvraw", 0}),
                         talon_test::CaseName());

}  // namespace
