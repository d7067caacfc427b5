// Base epoch history and pairing: each rover epoch takes the nearest base
// epoch (files: either side; real time: at or before it, after a bounded
// wait), a partial epoch does not displace a whole one, slip flags of unused
// base epochs pass on, and an RTCM 3 base whose GLONASS messages sometimes
// arrive without their GPS partner loses no GPS epoch.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "rtk/rtk_test_util.h"

namespace {

constexpr int WEEK = 2300;
constexpr double TOW = 345600.0;

// An epoch of receiver rcv (1 rover, 2 base) at TOW + t with GPS satellites
// 1..6 and/or GLONASS slots 1..5.
std::vector<obsd_t> epoch_of(int rcv, double t, bool gps, bool glo, unsigned char lli_sat5 = 0) {
  std::vector<obsd_t> v;
  auto add = [&](int sys, int prn) {
    obsd_t o{};
    o.time = gpst2time(WEEK, TOW + t);
    o.sat = static_cast<unsigned char>(satno(sys, prn));
    o.rcv = static_cast<unsigned char>(rcv);
    o.P[0] = 2.0e7 + prn;
    o.L[0] = 1.0e8 + prn;
    o.SNR[0] = 180;
    if (sys == SYS_GPS && prn == 5) o.LLI[0] = lli_sat5;
    v.push_back(o);
  };
  if (gps)
    for (int p = 1; p <= 6; ++p) add(SYS_GPS, p);
  if (glo)
    for (int p = 1; p <= 5; ++p) add(SYS_GLO, p);
  return v;
}

// One event of a pairing case.
enum class Ev { BASE, BASE_GLO_ONLY, ROVER, TAKE, NOTHING };
struct Step {
  Ev ev;
  double t;  // BASE / ROVER: time (s after TOW); TAKE: the age expected (rover - base, s)
};
struct PairCase {
  const char* name;
  int realtime;
  bool rover_glo;  // the rover also has GLONASS
  std::vector<Step> steps;
};
std::ostream& operator<<(std::ostream& os, const PairCase& c) { return os << c.name; }

class BasePairing : public ::testing::TestWithParam<PairCase> {};

TEST_P(BasePairing, NearestEpochWithTheHonestAge) {
  const PairCase& c = GetParam();
  RTK_RAW_init();
  RTK_RAW_set_realtime_pairing(c.realtime);
  static obsd_t obs[MAXOBS_CYCLE];
  int k = 0;
  for (const Step& s : c.steps) {
    ++k;
    switch (s.ev) {
      case Ev::BASE:
      case Ev::BASE_GLO_ONLY: {
        const auto e = epoch_of(2, s.t, s.ev == Ev::BASE, true);
        RTK_RAW_update_base_meas(e.data(), static_cast<int>(e.size()));
        break;
      }
      case Ev::ROVER: {
        const auto e = epoch_of(1, s.t, true, c.rover_glo);
        RTK_RAW_update_rover_meas(e.data(), static_cast<int>(e.size()));
        break;
      }
      case Ev::TAKE: {
        int nr = 0, nb = 0;
        ASSERT_GT(RTK_RAW_get_meas(obs, &nr, &nb), 0) << "step " << k;
        EXPECT_GT(nb, 0) << "step " << k;
        double age = 0.0;
        ASSERT_EQ(RTK_RAW_get_time_dif(&age), 1) << "step " << k;
        EXPECT_NEAR(age, s.t, 1e-9) << "step " << k;
        RTK_RAW_set_has_used_base_obs_flag(1);
        break;
      }
      case Ev::NOTHING: {
        int nr = 0, nb = 0;
        EXPECT_EQ(RTK_RAW_get_meas(obs, &nr, &nb), 0) << "step " << k << ": the rover epoch should wait";
        break;
      }
    }
  }
}

using E = Ev;
INSTANTIATE_TEST_SUITE_P(
    RtkRaw, BasePairing,
    ::testing::Values(
        PairCase{"file_nearest_before",
                 0,
                 false,
                 {{E::BASE, 0}, {E::BASE, 1}, {E::BASE, 2}, {E::ROVER, 1.3}, {E::TAKE, 0.3}}},
        PairCase{"file_nearest_after",
                 0,
                 false,
                 {{E::BASE, 0}, {E::BASE, 1}, {E::BASE, 2}, {E::ROVER, 1.7}, {E::TAKE, -0.3}}},
        // A 20 s gap: the rover epochs of its first half take the epoch before
        // it, those of its second half the one after it (negative ages).
        PairCase{"file_gap_halves",
                 0,
                 false,
                 {{E::BASE, 0}, {E::BASE, 20}, {E::ROVER, 8}, {E::TAKE, 8}, {E::ROVER, 12}, {E::TAKE, -8}}},
        // Eight epochs held: of ten, the first two have gone.
        PairCase{"file_history_of_eight",
                 0,
                 false,
                 {{E::BASE, 0},
                  {E::BASE, 1},
                  {E::BASE, 2},
                  {E::BASE, 3},
                  {E::BASE, 4},
                  {E::BASE, 5},
                  {E::BASE, 6},
                  {E::BASE, 7},
                  {E::BASE, 8},
                  {E::BASE, 9},
                  {E::ROVER, 0.9},
                  {E::TAKE, -1.1}}},
        // A base epoch held twice (an RTCM 3 epoch handed over again) is one epoch.
        PairCase{"file_same_time_replaced", 0, false, {{E::BASE, 4}, {E::BASE, 4}, {E::ROVER, 4}, {E::TAKE, 0}}},
        // Real time: never a later base epoch, except within the clock tolerance.
        PairCase{"realtime_at_or_before", 1, false, {{E::BASE, 0}, {E::BASE, 2}, {E::ROVER, 1.7}, {E::TAKE, 1.7}}},
        PairCase{
            "realtime_clock_offset_ms", 1, false, {{E::BASE, 0}, {E::BASE, 1.004}, {E::ROVER, 1}, {E::TAKE, -0.004}}},
        // The base epoch of the rover's time is due: the rover waits for it.
        PairCase{"realtime_waits_for_its_base",
                 1,
                 false,
                 {{E::BASE, 0}, {E::BASE, 1}, {E::ROVER, 2}, {E::NOTHING, 0}, {E::BASE, 2}, {E::TAKE, 0}}},
        // The wait ends with the next rover epoch: the older base epoch is taken.
        PairCase{"realtime_wait_bounded",
                 1,
                 false,
                 {{E::BASE, 0},
                  {E::BASE, 1},
                  {E::ROVER, 2},
                  {E::NOTHING, 0},
                  {E::ROVER, 3},
                  {E::TAKE, 1},
                  {E::NOTHING, 0},
                  {E::BASE, 3},
                  {E::TAKE, 0}}},
        // In a gap (the next base epoch overdue) the rover does not wait.
        PairCase{"realtime_gap_no_wait", 1, false, {{E::BASE, 0}, {E::BASE, 1}, {E::ROVER, 5}, {E::TAKE, 4}}},
        // A GLONASS epoch without its GPS partner does not displace the GPS epoch before it.
        PairCase{"partial_epoch_passed_over",
                 1,
                 false,
                 {{E::BASE, 0}, {E::BASE, 1}, {E::BASE_GLO_ONLY, 2}, {E::ROVER, 2}, {E::TAKE, 1}}},
        PairCase{"partial_epoch_passed_over_glo_rover",
                 0,
                 true,
                 {{E::BASE, 0}, {E::BASE, 1}, {E::BASE_GLO_ONLY, 2}, {E::ROVER, 2}, {E::TAKE, 1}}},
        // A base with GLONASS only: its epochs pair as they are.
        PairCase{
            "glonass_only_base", 1, true, {{E::BASE_GLO_ONLY, 0}, {E::BASE_GLO_ONLY, 1}, {E::ROVER, 1}, {E::TAKE, 0}}}),
    [](const ::testing::TestParamInfo<PairCase>& i) { return std::string(i.param.name); });

// Slip flags of base epochs that no cycle used pass on to the epoch taken
// next; once used they pass on no more.
TEST(BaseHistory, PairingCarriesSlipFlags) {
  RTK_RAW_init();
  static obsd_t obs[MAXOBS_CYCLE];
  const int sat5 = satno(SYS_GPS, 5);
  auto lli_of_sat5 = [&](int n, int nr) {
    for (int i = nr; i < n; ++i)
      if (obs[i].sat == sat5) return static_cast<int>(obs[i].LLI[0]);
    return -1;
  };
  auto feed = [](int rcv, double t, unsigned char lli) {
    const auto e = epoch_of(rcv, t, true, false, lli);
    if (rcv == 1)
      RTK_RAW_update_rover_meas(e.data(), static_cast<int>(e.size()));
    else
      RTK_RAW_update_base_meas(e.data(), static_cast<int>(e.size()));
  };
  feed(2, 0, 1);  // slip in base epoch 0, never used
  feed(2, 1, 0);
  feed(1, 1, 0);
  int nr = 0, nb = 0;
  int n = RTK_RAW_get_meas(obs, &nr, &nb);
  EXPECT_EQ(lli_of_sat5(n, nr) & 1, 1);  // carried from epoch 0 into epoch 1
  // Not used by the cycle: the flag is still passed on.
  feed(2, 2, 0);
  feed(1, 2, 0);
  n = RTK_RAW_get_meas(obs, &nr, &nb);
  EXPECT_EQ(lli_of_sat5(n, nr) & 1, 1);
  RTK_RAW_set_has_used_base_obs_flag(1);
  feed(2, 3, 0);
  feed(1, 3, 0);
  n = RTK_RAW_get_meas(obs, &nr, &nb);
  EXPECT_EQ(lli_of_sat5(n, nr) & 1, 0);
}

// An RTCM 3 (MSM7, GPS + GLONASS) base whose GPS message is lost in a third of
// the epochs, re-read from its recording: every epoch sent with GPS is handed
// to the raw buffers with its GPS satellites, the GLONASS-alone epochs only
// as GLONASS epochs of their own time.
TEST(BaseHistory, GlonassWithoutGpsPartnerLosesNoGpsEpoch) {
  SIM_SCENARIO_T sc;
  sc.duration = 120.0;
  sc.ext_raw = 1;
  sc.glonass = 1;
  sc.base_rtcm = 7;
  sc.base_glo_alone_rate = 0.33;
  const std::vector<U08> rb = sim_test::simulate(sc, true).rb;
  rtk_test::reset_engine(SYS_GPS | SYS_GLO);
  CRV_set_post_processing_stream_type(1);
  std::map<long, bool> handed;  // epoch (s after the start) -> handed over with GPS satellites
  static obsd_t obs[MAXOBS];
  for (const U08 b : rb) {
    if (!CRV_post_processing(b)) continue;
    const int n = RTK_RAW_get_base_meas(obs);
    if (n == 0) continue;
    const long k = std::lround(time2gpst(obs[0].time, nullptr) - sc.tow0);
    bool gps = false;
    for (int i = 0; i < n; ++i) gps = gps || satsys(obs[i].sat, nullptr) == SYS_GPS;
    handed[k] = handed[k] || gps;
  }
  // The reader learns the stream's message families from its first five
  // observation messages: from 5 s on every epoch counts.
  int sent_gps = 0, got_gps = 0, glo_alone = 0;
  for (long k = 5; k <= static_cast<long>(sc.duration); ++k) {
    const bool lost = sim_base_gps_lost(&sc, static_cast<double>(k)) != 0;
    glo_alone += lost;
    if (lost) {
      EXPECT_FALSE(handed[k]) << "GLONASS-alone epoch at " << k << " s has GPS satellites";
      continue;
    }
    ++sent_gps;
    EXPECT_TRUE(handed[k]) << "GPS epoch at " << k << " s not handed over";
    got_gps += handed[k];
  }
  EXPECT_GT(glo_alone, 25);  // about a third of 116 epochs
  EXPECT_EQ(got_gps, sent_gps);
}

}  // namespace
