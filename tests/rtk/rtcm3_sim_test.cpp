// A simulated base written as RTCM 3 (MSM4..7, 1004, 1002) and re-read through
// the recorder reader gives the engine the same base epochs as the same base
// written as CRVRAW: times, pseudoranges to the format's resolution, phases up
// to a constant whole number of cycles per satellite, slips and the position.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <vector>

#include "rtk/crv.h"
#include "rtk/rtcm3.h"
#include "rtk/rtk.h"
#include "rtk/rtk_raw.h"
#include "rtk/sim_scenario.h"

namespace {

struct BaseEpoch {
  double tow;
  std::vector<obsd_t> obs;
};

struct Replay {
  std::vector<BaseEpoch> epochs;
  double pos[3] = {};
  int pos_valid = 0;
};

SIM_SCENARIO_T scenario(int base_rtcm) {
  sim_test::Scenario sc;
  sc.duration = 40.0;
  sc.ext_raw = 1;  // the rover's extended raw epochs give the GLONASS frequency numbers
  sc.glonass = 1;
  sc.noise(0.3, 0.003);
  sc.base_rtcm = base_rtcm;
  sc.nslip = 2;
  sc.slips[0] = SIM_SLIP_T{1, 5, 20.0, 7};
  sc.slips[1] = SIM_SLIP_T{1, 12, 30.0, -3};
  return sc;
}

// The recorder file of the scenario through the recorder reader; the base epoch
// in the raw buffers after each record.
Replay replay(const SIM_SCENARIO_T& sc) {
  const std::vector<U08> rb = sim_test::simulate(sc, true).rb;
  CRV_init();
  RTCM3_init();
  RTK_RAW_init();
  RTK_NAV_init(SYS_GPS | SYS_GLO | SYS_SBS);
  CRV_set_post_processing_stream_type(sc.base_rtcm != 0 ? 1 : 0);
  Replay out;
  static obsd_t obs[MAXOBS];
  for (U08 b : rb) {
    if (!CRV_post_processing(b)) continue;
    gtime_t t{};
    if (!RTK_RAW_get_base_time(&t)) continue;
    const double tow = time2gpst(t, nullptr);
    const int n = RTK_RAW_get_base_meas(obs);
    // A later hand-over of the same epoch (legacy GPS, then GLONASS MSM) replaces it.
    if (!out.epochs.empty() && out.epochs.back().tow == tow) out.epochs.pop_back();
    out.epochs.push_back(BaseEpoch{tow, std::vector<obsd_t>(obs, obs + n)});
  }
  out.pos_valid = RTK_RAW_get_base_pos_xyz(out.pos);
  return out;
}

void compare(int variant, double pr_tol, double ph_tol) {
  static const Replay crv = replay(scenario(0));
  const Replay rtcm = replay(scenario(variant));
  ASSERT_EQ(crv.pos_valid, 1);
  ASSERT_EQ(rtcm.pos_valid, 1) << variant;
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(rtcm.pos[i], crv.pos[i], 1e-4);
  ASSERT_GE(crv.epochs.size(), 40u);
  // Observation messages handed over from the fifth on; the first base epoch
  // precedes every rover epoch and has no time to be checked against.
  ASSERT_GE(rtcm.epochs.size(), crv.epochs.size() - 5) << variant;
  std::map<double, const BaseEpoch*> by_time;
  for (const auto& e : crv.epochs) by_time[e.tow] = &e;
  std::map<int, double> cycles;  // phase difference per satellite, whole cycles
  int compared = 0, slips = 0, glo_phase = 0;
  for (std::size_t k = 0; k < rtcm.epochs.size(); ++k) {
    const BaseEpoch& r = rtcm.epochs[k];
    ASSERT_EQ(by_time.count(r.tow), 1u) << variant << " " << r.tow;
    const BaseEpoch& c = *by_time[r.tow];
    ASSERT_EQ(r.obs.size(), c.obs.size()) << variant << " at " << r.tow;
    for (const obsd_t& o : r.obs) {
      const obsd_t* m = nullptr;
      for (const obsd_t& x : c.obs)
        if (x.sat == o.sat) m = &x;
      ASSERT_NE(m, nullptr);
      EXPECT_EQ(timediff(o.time, m->time), 0.0);
      EXPECT_NEAR(o.P[0], m->P[0], pr_tol) << variant << " sat " << int(o.sat);
      EXPECT_EQ(o.rcv, 2);
      if (o.L[0] == 0.0) {
        // Only GLONASS before the rover has told the engine its frequency number.
        EXPECT_EQ(satsys(o.sat, nullptr), SYS_GLO);
        EXPECT_LT(k, 3u);
      } else {
        glo_phase += satsys(o.sat, nullptr) == SYS_GLO;
        const double d = o.L[0] - m->L[0];
        EXPECT_NEAR(d, std::round(d), ph_tol) << variant << " sat " << int(o.sat);
        if (cycles.count(o.sat) != 0) {
          EXPECT_EQ(std::round(d), cycles[o.sat]) << variant << " sat " << int(o.sat) << " at " << r.tow;
        }
        cycles[o.sat] = std::round(d);
      }
      if (k >= 2) {
        EXPECT_EQ(o.LLI[0] & 1, m->LLI[0] & 1) << variant << " sat " << int(o.sat) << " at " << r.tow;
        slips += o.LLI[0] & 1;
      }
      ++compared;
    }
  }
  EXPECT_GT(compared, 30 * 15);
  EXPECT_GT(glo_phase, 100);
  // Each slip flagged in its epoch. (The carry of a slip into the base epoch
  // paired next happens when the engine takes the epoch: PairingCarriesSlipFlags.)
  EXPECT_GE(slips, 1);
}

TEST(Rtcm3Sim, BaseAsMsmMatchesCrvraw) {
  const double lms = 299792.458;
  compare(4, lms * std::ldexp(1.0, -25) + 1e-6, 0.005);
  compare(5, lms * std::ldexp(1.0, -25) + 1e-6, 0.005);
  compare(6, lms * std::ldexp(1.0, -30) + 1e-6, 0.002);
  compare(7, lms * std::ldexp(1.0, -30) + 1e-6, 0.002);
}

TEST(Rtcm3Sim, BaseAsLegacyGpsMatchesCrvraw) {
  compare(1004, 0.0100001, 0.01);
  compare(1002, 0.0100001, 0.01);
}

}  // namespace
