// Engine edge cases against the simulator's truth: two recordings one after
// the other (a stream whose time goes back about 300 s), a zero baseline (one
// receiver's stream as rover and as base) and the ratio test of candidates
// that fit the float ambiguities exactly.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "rtk/glo_sd_ifb.h"
#include "rtk/relpos.h"
#include "rtk/rinex.h"
#include "rtk/rtk_cfg.h"
#include "rtk/rtk_test_util.h"
#include "test_util.h"

namespace {

using rtk_test::dist;
using rtk_test::mem_file;

using rtk_test::init_engine;

// Static rover 1.5 km east of the base, 1 minute at 1 Hz, GPS only, with
// realistic noise.
SIM_SCENARIO_T first_recording() {
  return sim_test::Scenario(2300, 200420.0, 59.0)
      .base_48n()
      .rover_at(1500.0, 50.0, 2.0)
      .noise(0.3, sim_test::PHASE_3MM, 0.05)
      .seeded(11);
}

// Another recording with the same base antenna: the rover elsewhere, other
// receiver clocks, other integer ambiguities (unmarked jumps at the start on
// sixteen satellites), earlier: its first epoch lies 299 s before the last
// epoch of first_recording().
SIM_SCENARIO_T second_recording() {
  sim_test::Scenario sc(first_recording());
  sc.rover_at(-700.0, 1200.0, 5.0);
  sc.tow0 = 200180.0;
  sc.clk_bias[0] = 3.0e-4;
  sc.clk_bias[1] = 1.0e-4;
  sc.clk_drift[1] = -3.0e-8;
  sc.nslip = 16;
  for (int i = 0; i < 16; ++i) sc.slips[i] = SIM_SLIP_T{i < 8 ? 0 : 1, i + 1, 0.0, 17 * (i + 1) - 90, 1};
  return sc;
}

struct Recording : sim_test::SimPair {
  SIM_RINEX_T rinex;  // the same as RINEX (without the rover's receiver clock bias)
};

// with_rinex: also the RINEX files (a second simulation).
Recording simulate(const SIM_SCENARIO_T& sc, bool with_rinex) {
  Recording r;
  static_cast<sim_test::SimPair&>(r) = sim_test::simulate(sc, true);
  if (!with_rinex) return r;
  SIM_SCENARIO_T no_clock = sc;
  no_clock.rover_rcv = 0;  // RINEX carries no receiver clock bias
  r.rinex = sim_test::simulate_rinex(no_clock).rinex;
  return r;
}

// The records of a RINEX file after its header.
std::string rinex_body(const std::string& text) {
  const std::size_t at = text.find("END OF HEADER");
  const std::size_t eol = at == std::string::npos ? std::string::npos : text.find('\n', at);
  return eol == std::string::npos ? std::string() : text.substr(eol + 1);
}

std::vector<U08> cat(const std::vector<U08>& a, const std::vector<U08>& b) {
  std::vector<U08> out(a);
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

// Solutions of every cycle that returned 1: CRVRAW rover and base files.
std::vector<sol_t> run_files(const std::vector<U08>& rover, const std::vector<U08>& base) {
  init_engine();
  std::vector<sol_t> out;
  for (const rtk_test::Cycle& c : rtk_test::run_cycles(rover, base)) out.push_back(c.sol);
  return out;
}

// The same for a recording of a real-time run (rb.bin): the engine after
// every record, as the file run over a recording drives it.
std::vector<sol_t> run_recording(const std::vector<U08>& rb) {
  init_engine();
  CRV_set_post_processing_stream_type(0);
  std::vector<sol_t> out;
  for (U08 c : rb) {
    if (!CRV_post_processing(c) || !RTK_loop()) continue;
    out.emplace_back();
    RTK_get_solution(&out.back());
  }
  return out;
}

// The same for RINEX rover and base observation files and a navigation file.
std::vector<sol_t> run_rinex(const std::string& rover_obs, const std::string& base_obs, const std::string& nav) {
  init_engine(1);
  return rtk_test::run_rinex_text(rover_obs, base_obs, nav);
}

// ---------------------------------------------------------------------------
// Two recordings one after the other.

enum JumpInput { CRVRAW_FILES, RECORDING, RINEX_FILES };

struct JumpCase {
  const char* name;
  JumpInput input;  // CRVRAW_FILES: rover and base files (the rover's step is read first);
                    // RECORDING: rb.bin, each epoch's base bytes before the rover's;
                    // RINEX_FILES: observation files, the second recording's epochs after
                    // the first's (the base is read ahead of the rover)
};

void PrintTo(const JumpCase& c, std::ostream* os) { *os << c.name; }

class TimeJump : public ::testing::TestWithParam<JumpCase> {
 protected:
  static void SetUpTestSuite() {
    First = simulate(first_recording(), true);
    Second = simulate(second_recording(), true);
  }
  static std::vector<sol_t> run(const JumpCase& c) {
    if (c.input == RECORDING) return run_recording(cat(First.rb, Second.rb));
    if (c.input == RINEX_FILES)
      return run_rinex(First.rinex.rover_obs + rinex_body(Second.rinex.rover_obs),
                       First.rinex.base_obs + rinex_body(Second.rinex.base_obs),
                       First.rinex.nav + rinex_body(Second.rinex.nav));
    return run_files(cat(First.rover, Second.rover), cat(First.base, Second.base));
  }
  static inline Recording First, Second;
};

// Fixes again within minlock (10) plus a few cycles after the step back, and
// the fixed positions of both recordings lie within 5 cm of their truth; the
// step back is counted once per stream.
TEST_P(TimeJump, FixesAgainOnTruthAndCountsTheStepOnce) {
  const std::vector<sol_t> sol = run(GetParam());
  // Each stream that went back is counted once; the engine has nothing left
  // to restart for and holds no stale base epoch.
  EXPECT_EQ(RTK_RAW_get_time_back_count(1), 1u);
  EXPECT_EQ(RTK_RAW_get_time_back_count(0), 1u);
  EXPECT_EQ(RTK_RAW_take_time_back(), 0);
  EXPECT_EQ(RTK_RAW_get_base_dropped(), 0);
  const std::size_t n1 = First.truth.size(), n2 = Second.truth.size();
  ASSERT_EQ(sol.size(), n1 + n2);  // one solution per rover epoch
  int fix1 = 0;
  for (std::size_t k = 0; k < n1; ++k) fix1 += sol[k].stat == SOLQ_FIX ? 1 : 0;
  EXPECT_GE(fix1, static_cast<int>(n1) - 15);
  std::size_t first_fix = n2;
  int fix2 = 0;
  double max_err = 0.0;
  for (std::size_t k = 0; k < n2; ++k) {
    const sol_t& s = sol[n1 + k];
    EXPECT_LT(std::fabs(timediff(s.time, gpst2time(Second.truth[k].t.week, Second.truth[k].t.tow))), 0.01) << k;
    if (s.stat != SOLQ_FIX) continue;
    if (first_fix == n2) first_fix = k;
    ++fix2;
    max_err = std::fmax(max_err, dist(s.rr, Second.truth[k].pos));
  }
  EXPECT_LE(first_fix, 15u);
  EXPECT_GE(fix2, static_cast<int>(n2) - 15);
  EXPECT_LT(max_err, 0.05);
  for (std::size_t k = 0; k < n1; ++k) {
    if (sol[k].stat == SOLQ_FIX) {
      EXPECT_LT(dist(sol[k].rr, First.truth[k].pos), 0.05) << k;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EngineEdge, TimeJump,
                         ::testing::Values(JumpCase{"rover_first_crvraw_files", CRVRAW_FILES},
                                           JumpCase{"base_first_recording", RECORDING},
                                           JumpCase{"rinex_files", RINEX_FILES}),
                         talon_test::CaseName());

// The raw buffers alone: a rover step back drops a base epoch left ahead of
// it, keeps one that already followed the step; small steps back are ordinary.
obsd_t obs_at(double tow, int rcv) {
  obsd_t o{};
  o.time = gpst2time(2300, tow);
  o.sat = 5;
  o.rcv = static_cast<unsigned char>(rcv);
  o.P[0] = 2.0e7;
  o.L[0] = 1.0e8;
  return o;
}

struct RawCase {
  const char* name;
  double rover0, base, rover1;  // tow of the first rover, the base and the second rover epoch, s
  int base_kept;                // the base epoch is still there after the second rover epoch
  unsigned int rover_back;      // rover steps back counted
  int restart;                  // the engine is told to start again
};

void PrintTo(const RawCase& c, std::ostream* os) { *os << c.name; }

class RawTimeBack : public ::testing::TestWithParam<RawCase> {};

TEST_P(RawTimeBack, StaleBaseDroppedOnlyWhenAhead) {
  const RawCase& c = GetParam();
  RTK_RAW_init();
  obsd_t o = obs_at(c.rover0, 1), b = obs_at(c.base, 2), o2 = obs_at(c.rover1, 1);
  RTK_RAW_update_rover_meas(&o, 1);
  RTK_RAW_update_base_meas(&b, 1);
  RTK_RAW_take_time_back();
  RTK_RAW_update_rover_meas(&o2, 1);
  gtime_t tb{};
  EXPECT_EQ(RTK_RAW_get_base_time(&tb), c.base_kept);
  EXPECT_EQ(RTK_RAW_get_base_dropped(), c.base_kept ? 0 : 1);
  EXPECT_EQ(RTK_RAW_get_time_back_count(1), c.rover_back);
  EXPECT_EQ(RTK_RAW_take_time_back(), c.restart);
  static obsd_t cycle[MAXOBS_CYCLE];
  int nr = 0, nb = 0;
  EXPECT_EQ(RTK_RAW_get_meas(cycle, &nr, &nb), 1 + c.base_kept);
}

INSTANTIATE_TEST_SUITE_P(EngineEdge, RawTimeBack,
                         ::testing::Values(RawCase{"back_300_s_base_ahead", 1300.0, 1300.0, 1000.0, 0, 1, 1},
                                           RawCase{"back_300_s_base_already_back", 1300.0, 1000.0, 1000.0, 1, 1, 1},
                                           RawCase{"back_4_s_is_ordinary", 1300.0, 1300.0, 1296.0, 1, 0, 0},
                                           RawCase{"forward_is_ordinary", 1300.0, 1300.0, 1301.0, 1, 0, 0}),
                         talon_test::CaseName());

// ---------------------------------------------------------------------------
// Zero baseline: one receiver's stream as rover and as base.

struct ZeroCase {
  const char* name;
  bool rinex;  // false: CRVRAW files; true: RINEX observation and navigation files
};

void PrintTo(const ZeroCase& c, std::ostream* os) { *os << c.name; }

class ZeroBaseline : public ::testing::TestWithParam<ZeroCase> {
 protected:
  static void SetUpTestSuite() {
    SIM_SCENARIO_T sc = first_recording();
    sc.rover_rcv = 0;  // RINEX carries no receiver clock bias
    sim_test::SimRinex r = sim_test::simulate_rinex(sc);
    Base = std::move(r.base);
    Rinex = std::move(r.rinex);
    N = r.truth.size();
    sim_base_ecef(&sc, Base_xyz);
  }
  static inline std::vector<U08> Base;
  static inline SIM_RINEX_T Rinex;
  static inline std::size_t N = 0;
  static inline double Base_xyz[3] = {0.0, 0.0, 0.0};
};

// Fixed from the eleventh cycle (minlock 10) on, ratio at its cap, on the base
// antenna within 1 mm.
TEST_P(ZeroBaseline, FixesEveryEpochOnTheBasePosition) {
  const std::vector<sol_t> sol =
      GetParam().rinex ? run_rinex(Rinex.base_obs, Rinex.base_obs, Rinex.nav) : run_files(Base, Base);
  ASSERT_EQ(sol.size(), N);
  int fix = 0;
  double max_bl = 0.0;
  for (std::size_t k = 0; k < sol.size(); ++k) {
    if (sol[k].stat != SOLQ_FIX) continue;
    ++fix;
    max_bl = std::fmax(max_bl, dist(sol[k].rr, Base_xyz));
    EXPECT_GE(sol[k].ratio, 3.0f) << k;
    EXPECT_LE(sol[k].ratio, 999.9f) << k;
  }
  EXPECT_GE(fix, static_cast<int>(N) - 11);
  EXPECT_LT(max_bl, 0.001);
}

INSTANTIATE_TEST_SUITE_P(EngineEdge, ZeroBaseline,
                         ::testing::Values(ZeroCase{"crvraw_files", false}, ZeroCase{"rinex_files", true}),
                         talon_test::CaseName());

// ---------------------------------------------------------------------------
// The program over CRVRAW files: the message on stderr and the solution file.

struct RunCase {
  const char* name;
  bool zero_baseline;  // false: both files two recordings one after the other;
                       // true: the first recording's base file as rover and as base
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class EdgeRun : public ::testing::TestWithParam<RunCase> {
 protected:
  static void SetUpTestSuite() {
    First = simulate(first_recording(), false);
    Second = simulate(second_recording(), false);
    SIM_SCENARIO_T sc = first_recording();
    sim_base_ecef(&sc, Base_xyz);
  }
  static inline Recording First, Second;
  static inline double Base_xyz[3] = {0.0, 0.0, 0.0};
};

// Every epoch written; FIX lines on the truth with the ratio at most the
// files' cap of 10; one message per stream that went back, none otherwise.
TEST_P(EdgeRun, SolutionFileAndMessages) {
  const RunCase& c = GetParam();
  talon_test::TempDir dir;
  talon_test::write_file(dir.file("r.bin"), c.zero_baseline ? First.base : cat(First.rover, Second.rover));
  talon_test::write_file(dir.file("b.bin"), c.zero_baseline ? First.base : cat(First.base, Second.base));
  const talon_test::RunResult r = talon_test::run_talonhost(dir.path(), {});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const int n_msg = c.zero_baseline ? 0 : 1;
  EXPECT_EQ(talon_test::count_of(r.err, "talonhost: rover stream: time went back 299.0 s; resynchronised\n"), n_msg)
      << r.err;
  EXPECT_EQ(talon_test::count_of(r.err, "talonhost: base stream: time went back 299.0 s; resynchronised\n"), n_msg)
      << r.err;
  const talon_test::SolFile f = talon_test::read_sol_file(dir.file("Normal_sol.txt"));
  EXPECT_TRUE(f.bad_lines.empty());
  const std::size_t n1 = First.truth.size();
  ASSERT_EQ(f.lines.size(), c.zero_baseline ? n1 : n1 + Second.truth.size());
  int fix = 0;
  for (std::size_t k = 0; k < f.lines.size(); ++k) {
    const talon_test::SolLine& l = f.lines[k];
    if (l.status != "FIX") continue;
    ++fix;
    EXPECT_LE(l.ratio, 10.0) << k;
    const double* truth = c.zero_baseline ? Base_xyz : (k < n1 ? First.truth[k].pos : Second.truth[k - n1].pos);
    EXPECT_LT(talon_test::sol_dist(l, truth), c.zero_baseline ? 0.002 : 0.05) << k;  // X Y Z printed to 1 mm
    if (c.zero_baseline) {
      EXPECT_EQ(l.ratio, 10.0) << k;
      EXPECT_EQ(l.baseline, 0.0) << k;
    }
  }
  EXPECT_GE(fix, static_cast<int>(f.lines.size()) - (c.zero_baseline ? 11 : 2 * 15));
}

INSTANTIATE_TEST_SUITE_P(EngineEdge, EdgeRun,
                         ::testing::Values(RunCase{"two_recordings", false}, RunCase{"zero_baseline", true}),
                         talon_test::CaseName());

// ---------------------------------------------------------------------------
// Ratio test of exact fits: one double difference of two GPS ambiguity states
// (variance v each, so 2 v for the difference) whose float value is dd; the two
// best candidates then have squared norms d^2 / 2v and (1 - d)^2 / 2v, d the
// distance of dd to its nearest integer.

struct RatioCase {
  const char* name;
  double dd;    // float double difference, cycles
  double var;   // variance of each state, cycles^2
  int fixed;    // resamb_LAMBDA returns 1
  float ratio;  // reported ratio
};

void PrintTo(const RatioCase& c, std::ostream* os) { *os << c.name; }

class ExactFitRatio : public ::testing::TestWithParam<RatioCase> {};

TEST_P(ExactFitRatio, CappedOrRefused) {
  const RatioCase& c = GetParam();
  // one double difference: the plain ratio test (no redundancy asked)
  rtk_t& rtk = *rtk_test::hand_rtk({4, 6}, {10.0, 10.0 - c.dd}, {c.var, 0.0, 0.0, c.var}, 0);
  static double bias[MAXSAT], xa[RTK_NX];
  EXPECT_EQ(resamb_LAMBDA(&rtk, bias, xa), c.fixed);
  EXPECT_FLOAT_EQ(rtk.sol.ratio, c.ratio);
  if (c.fixed) {
    EXPECT_EQ(bias[0], std::round(c.dd));
  }
}

INSTANTIATE_TEST_SUITE_P(EngineEdge, ExactFitRatio,
                         ::testing::Values(
                             // the best candidate fits exactly, the second does not: the cap, fixed
                             RatioCase{"exact_integer", 3.0, 0.5, 1, 999.9f},
                             // almost exact: the quotient passes the cap
                             RatioCase{"near_integer", 3.0 + 1.0 / 1048576.0, 0.5, 1, 999.9f},
                             // the two best fit the same (no difference above 1e-12): nothing to choose
                             RatioCase{"both_candidates_fit", 0.25, 1e13, 0, 0.0f},
                             // an ordinary quotient stays: (0.75 / 0.25)^2 = 9
                             RatioCase{"ordinary", 0.25, 0.5, 1, 9.0f}),
                         talon_test::CaseName());

}  // namespace
