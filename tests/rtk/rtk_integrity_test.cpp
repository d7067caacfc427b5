// The relative filter's integrity checks (RTK_CFG_set_integrity) on simulated
// walks under canopy, a mass loss of lock and a biased code, against the
// simulator's truth; and the outage bookkeeping across epochs without a
// relative update.
#include <gtest/gtest.h>

#include <cmath>

#include "rtk/glo_sd_ifb.h"
#include "rtk/relpos.h"
#include "rtk/rtk_cfg.h"
#include "rtk/rtk_test_util.h"

namespace {

struct Figures {
  int epochs = 0, fix = 0, flt = 0;
  double max_fix_err = 0.0, max_float_err = 0.0;
  RELPOS_COUNTS_T counts{};
};

// Default engine with the integrity checks over a simulated pair; the rover
// epochs from skip_from (count skip_n) are taken without any engine cycle
// (RELPOS_count_outage stands for them), as when nothing could be processed.
Figures run(const SIM_SCENARIO_T& sc, int integrity, int skip_from = -1, int skip_n = 0) {
  std::vector<U08> rover, base;
  std::vector<SIM_TRUTH_T> truth;
  sim_run_to_memory(&sc, &rover, &base, &truth);
  int exsats[10] = {0};
  RTK_CFG_set_integrity(integrity);
  RTK_init(21, 35, 40, 15, 0, exsats);
  RTK_CFG_set_integrity(0);
  RTK_init_medium();
  GLOSDIFB_reset_glo_sd_ifb();
  std::FILE* fr = rtk_test::mem_file(rover);
  std::FILE* fb = rtk_test::mem_file(base);
  Figures f;
  std::size_t k = 0;
  while (CRV_process_file(fr, fb)) {
    int nr = 0, nb = 0;
    if (static_cast<int>(k) >= skip_from && static_cast<int>(k) < skip_from + skip_n) {
      static obsd_t obs[MAXOBS_CYCLE];
      if (RTK_RAW_get_meas(obs, &nr, &nb) > 0) {
        RELPOS_count_outage(const_cast<rtk_t*>(RTK_get_rtk()));
        ++k;
      }
      continue;
    }
    if (!RTK_loop()) continue;
    sol_t sol{};
    RTK_get_solution(&sol);
    if (k >= truth.size()) break;
    const double err = rtk_test::dist(sol.rr, truth[k].pos);
    ++k;
    ++f.epochs;
    if (sol.stat == SOLQ_FIX) {
      ++f.fix;
      f.max_fix_err = std::fmax(f.max_fix_err, err);
    } else if (sol.stat == SOLQ_FLOAT) {
      ++f.flt;
      f.max_float_err = std::fmax(f.max_float_err, err);
    }
  }
  std::fclose(fr);
  std::fclose(fb);
  RELPOS_get_counts(&f.counts);
  return f;
}

SIM_SCENARIO_T base_scenario() {
  SIM_SCENARIO_T sc;
  sc.week = 2300;
  sc.tow0 = 300000.0;
  sc.interval = 1.0;
  sc.base_llh[0] = 35.0;
  sc.base_llh[1] = 139.0;
  sc.base_llh[2] = 50.0;
  sc.rover_enu[0] = 60.0;
  sc.rover_enu[1] = 40.0;
  sc.rover_enu[2] = 1.0;
  sc.code_noise = 0.3;
  sc.phase_noise = 0.01;
  sc.doppler_noise = 0.05;
  sc.nsat = 31;
  sc.seed = 7;
  return sc;
}

// Walking rover (1.3 m/s on a 40 m circle), 7 satellites above 15 deg, weak
// signals, canopy windows of 1-10 s shading 3-4 satellites with slips flagged
// in the window only, not flagged, or satellites lost.
SIM_SCENARIO_T walk() {
  SIM_SCENARIO_T sc = base_scenario();
  sc.duration = 599.0;
  sc.walk_speed = 1.3;
  sc.walk_radius = 40.0;
  sc.elmask = 15.0;
  sc.cn0_offset = -1.0;
  const SIM_CANOPY_T w[] = {{40, 3, 3, 0},   {80, 1, 3, 0},  {120, 10, 4, 0}, {170, 5, 3, 1}, {210, 6, 3, 0},
                            {260, 2, 4, 2},  {300, 8, 3, 0}, {350, 1, 3, 1},  {390, 7, 4, 0}, {440, 4, 3, 2},
                            {480, 10, 3, 0}, {530, 3, 4, 1}, {565, 6, 3, 0}};
  for (const auto& c : w) sc.canopy[sc.ncanopy++] = c;
  return sc;
}

// Static rover, 9 satellites; 6 of them lose lock for 2 s (flagged in the
// first epoch only) at 100 s and for 1 s (not flagged) at 200 s.
SIM_SCENARIO_T mass_loss() {
  SIM_SCENARIO_T sc = base_scenario();
  sc.duration = 299.0;
  sc.rover_enu[0] = 120.0;
  sc.rover_enu[1] = 90.0;
  sc.seed = 9;
  sc.canopy[sc.ncanopy++] = SIM_CANOPY_T{100, 2, 6, 0};
  sc.canopy[sc.ncanopy++] = SIM_CANOPY_T{200, 1, 6, 1};
  return sc;
}

// Walking rover with a 12 m code bias on one of its 7 satellites.
SIM_SCENARIO_T code_bias() {
  SIM_SCENARIO_T sc = base_scenario();
  sc.duration = 299.0;
  sc.walk_speed = 1.2;
  sc.walk_radius = 60.0;
  sc.elmask = 15.0;
  sc.code_bias_prn = 16;
  sc.code_bias = 12.0;
  return sc;
}

struct SetCase {
  const char* name;
  SIM_SCENARIO_T (*make)();
  double max_float_err;  // m
};

TEST(RtkIntegrity, NoFixMoreThanTenCentimetresOffTruthOnAnySimulatedSet) {
  const SetCase cases[] = {
      {"walk under canopy", walk, 6.0},
      {"mass loss of lock", mass_loss, 5.0},
      {"code bias", code_bias, 35.0},
  };
  for (const SetCase& c : cases) {
    const Figures f = run(c.make(), 1);
    EXPECT_GT(f.epochs, 250) << c.name;
    EXPECT_LE(f.max_fix_err, 0.10) << c.name;
    EXPECT_LE(f.max_float_err, c.max_float_err) << c.name;
  }
}

// Without the checks the same walk fixes far off truth (the fault reproduced).
TEST(RtkIntegrity, WalkUnderCanopyFixesFarOffWithoutTheChecks) {
  const Figures f = run(walk(), 0);
  EXPECT_GT(f.max_fix_err, 1.0);
}

// Epochs taken without a relative update count as outage: 6 reset every
// ambiguity at the next processed epoch (maxout 5), 5 keep them.
TEST(RtkIntegrity, SixSkippedEpochsResetTheAmbiguitiesFiveKeepThem) {
  struct Case {
    const char* name;
    int skip;
    bool reset;
  };
  const Case cases[] = {{"5-epoch skip", 5, false}, {"6-epoch skip", 6, true}};
  SIM_SCENARIO_T sc = mass_loss();
  sc.ncanopy = 0;
  sc.duration = 80.0;
  for (const Case& c : cases) {
    const Figures f = run(sc, 1, 50, c.skip);
    if (c.reset)
      EXPECT_GE(f.counts.init_x_cnt, 5u) << c.name;
    else
      EXPECT_EQ(f.counts.init_x_cnt, 0u) << c.name;
    EXPECT_LE(f.max_fix_err, 0.10) << c.name;
  }
}

// An unflagged 20-cycle slip inside a 3-epoch skip (below the code-minus-
// carrier limit) contradicts the kept ambiguities: the joint innovation test
// restarts them instead of accepting the update.
TEST(RtkIntegrity, UnflaggedSlipDuringASkipTripsTheChiSquareRestart) {
  SIM_SCENARIO_T sc = mass_loss();
  sc.ncanopy = 0;
  sc.duration = 80.0;
  sc.nslip = 2;
  sc.slips[0] = SIM_SLIP_T{0, 16, 51.0, 20, 1};
  sc.slips[1] = SIM_SLIP_T{0, 21, 51.0, -20, 1};
  const Figures f = run(sc, 1, 50, 3);
  EXPECT_GE(f.counts.chi2_restart_cnt, 1u);
  EXPECT_LE(f.max_fix_err, 0.10);
}

}  // namespace
