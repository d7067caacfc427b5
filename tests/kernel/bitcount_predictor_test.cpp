// Bit-count prediction before frame sync against the simulated sky: the
// channels are fed the code position within the data bit and a track bit
// count, the satellites' broadcast ephemerides are decoded from the sky's
// subframes, and the predicted bit-count origin must equal the sky's truth
// (the absolute bit count of the satellite's transmit time stamp minus the
// track bit count). The checks that switch prediction off are driven by
// moving one channel's code position (its clock-bias time) or the clock bias
// handed in.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "host/wrap.h"
#include "kernel/src/bitcount_handler.h"
#include "kernel/src/bitcount_predictor.h"
#include "kernel/src/channel.h"
#include "kernel/src/kernel.h"
#include "tests/kernel/kernel_cold_start.h"
#include "tests/kernel/sky_ephemeris.h"

namespace {

constexpr double C_MPS = 299792458.0;
constexpr int WEEK = 2400;
constexpr double T0 = 345600.0;       // true start of the sky
constexpr double CLOCK_T = 345660.0;  // receiver clock reading of the epoch under test
constexpr double CLK_BIAS_S = 4.0e-4;
constexpr U08 ISSUE = 7;

void start_kernel() { ASSERT_EQ(talon_test::start_cold_kernel(), 0); }

// The sky of every test: Tokyo, a receiver clock 0.4 ms ahead, the visible
// satellites' ephemerides loaded into the kernel.
struct Sky {
  SKY_EPOCH_T ep;
  std::vector<int> vis;  // indices into ep.sig of the visible satellites, at most 20
  POS_T rcv;
};

const Sky& sky() {
  static Sky s;
  static bool done = false;
  if (done) return s;
  static SKY_SCENARIO_T sc;  // kept by the sky for the run
  sc = SKY_SCENARIO_T{};
  sc.start = SKY_GPST_T{WEEK, T0};
  sc.nsat = SKY_MAX_SV;
  sc.llh[0] = 35.68;
  sc.llh[1] = 139.77;
  sc.llh[2] = 40.0;
  sc.clk_bias0_s = CLK_BIAS_S;
  EXPECT_EQ(SKY_init(&sc), 1);
  EXPECT_EQ(SKY_epoch_at_clock(SKY_GPST_T{WEEK, CLOCK_T}, &s.ep), 1);
  for (int i = 0; i < s.ep.n && s.vis.size() < 20; ++i)
    if (s.ep.sig[i].visible) s.vis.push_back(i);
  s.rcv = POS_T{s.ep.rx.pos_ecef[0], s.ep.rx.pos_ecef[1], s.ep.rx.pos_ecef[2]};
  done = true;
  return s;
}

const SKY_SIGNAL_T& sig(int k) { return sky().ep.sig[sky().vis[static_cast<std::size_t>(k)]]; }
int nvis() { return static_cast<int>(sky().vis.size()); }

// Truth of channel k: the absolute bit count of the code received and the
// code's position within that bit (s).
S64 true_abs_bit(int k) { return static_cast<S64>(std::floor(sig(k).tx_time.tow * 50.0)); }
D64 true_sub_bit(int k) { return sig(k).tx_time.tow - static_cast<D64>(true_abs_bit(k)) * 0.02; }
S32 track_bitcnt(int k) { return 1000 + 37 * k; }
S32 true_bitcnt0(int k) {
  S64 b = true_abs_bit(k) - track_bitcnt(k);
  b %= BCP_GPS_BITS_PER_WEEK;
  if (b < 0) b += BCP_GPS_BITS_PER_WEEK;
  return static_cast<S32>(b);
}

CH_MEAS_INPUT_T input_of(int k, D64 sub_bit_shift_s) {
  CH_MEAS_INPUT_T in{};
  in.track_state = CH_TRACK;
  in.gnss_type = GNSS_TYPE_GPS;
  in.svid = sig(k).svid;
  in.issue_id = ISSUE;
  in.cnr = 45.0F;
  in.acc_cycle_count = 1000;
  in.has_sub_bit = 1;
  in.sub_bit = true_sub_bit(k) + sub_bit_shift_s;
  in.bitcnt = static_cast<U32>(track_bitcnt(k));
  return in;
}

// Channel k tracks visible satellite k; with frame_sync its bit count is
// tied to GPS time by a frame sync of origin true + fs_error_bits. The code
// position reads sub_bit_shift_s later than the truth.
void feed(int k, bool frame_sync, D64 sub_bit_shift_s = 0.0, S32 fs_error_bits = 0) {
  const CHAN_T ch = CH_find_reference(static_cast<S16>(k));
  const CH_MEAS_INPUT_T in = input_of(k, sub_bit_shift_s);
  CH_update_measurement(ch, &in);
  if (!frame_sync) return;
  BC_frame_sync(BC_find_reference(static_cast<S16>(k)), true_bitcnt0(k) + fs_error_bits, GNSS_TYPE_GPS, sig(k).svid,
                ISSUE);
  CH_update_measurement(ch, &in);
  ASSERT_EQ(CH_has_real_frame_sync(ch), 1);
}

// A started kernel with the sky's ephemerides and prediction switched on
// from a time stored stored_age_s before the epoch.
void start(D64 stored_age_s = 300.0) {
  start_kernel();
  for (int k = 0; k < nvis(); ++k) load_sky_ephemeris(sig(k).svid, sky_frame(sig(k).svid, WEEK, CLOCK_T));
  const D64 stored = CLOCK_T - stored_age_s;
  BCP_init(1, WEEK, static_cast<S32>(std::floor(stored)));
}

D64 true_cb_m() { return sky().ep.rx.clk_bias_s * C_MPS; }

std::array<S32, BCP_N_DISABLE_REASONS> reasons() {
  std::array<S32, BCP_N_DISABLE_REASONS> r{};
  BCP_get_disable_prediction_event_flag(r.data());
  return r;
}

// How many of channels first..nvis()-1 are predicted, and how many of those equal the truth.
struct Tally {
  int predicted = 0;
  int right = 0;
};
Tally tally(int first = 0) {
  Tally t;
  for (int k = first; k < nvis(); ++k) {
    S32 b = 0;
    if (!BCP_get_predict_bitcnt0(static_cast<S16>(k), &b)) continue;
    ++t.predicted;
    if (b == true_bitcnt0(k)) ++t.right;
  }
  return t;
}

TEST(BcpSky, HasEnoughSatellites) { ASSERT_GE(nvis(), 8); }

// --- Known answers -----------------------------------------------------------------------

struct KnownCase {
  const char* name;
  D64 cb_error_s;   // clock bias handed in minus the truth
  D64 pos_error_m;  // receiver position error along each axis
};

// Before the first fix, without any frame sync: every satellite's predicted
// origin equals the truth for clock and position errors well inside half a
// bit; the channel then gives the sky's transmit time.
TEST(BcpKnownAnswer, EverySatellitePredictedFromOrbitAndClockBias) {
  const std::vector<KnownCase> cases = {
      {"true_clock_bias_and_position", 0.0, 0.0},
      {"clock_bias_3_ms_late", 3.0e-3, 0.0},
      {"clock_bias_3_ms_early", -3.0e-3, 0.0},
      {"position_3_km_off", 0.0, 3000.0},
  };
  for (const KnownCase& c : cases) {
    SCOPED_TRACE(c.name);
    start();
    for (int k = 0; k < nvis(); ++k) feed(k, false);
    POS_T rcv = sky().rcv;
    rcv.px += c.pos_error_m;
    rcv.py += c.pos_error_m;
    rcv.pz += c.pos_error_m;
    BCP_process_before_first_fix(WEEK, CLOCK_T, &rcv, true_cb_m() + c.cb_error_s * C_MPS);
    EXPECT_EQ(BCP_is_prediction_enabled(), 1);
    const Tally t = tally();
    EXPECT_EQ(t.predicted, nvis());
    EXPECT_EQ(t.right, nvis());
    for (int k = 0; k < nvis(); ++k) {
      SCOPED_TRACE(k);
      S32 b0 = 0;
      ASSERT_EQ(BCP_get_predict_bitcnt0(static_cast<S16>(k), &b0), 1);
      EXPECT_EQ(BCP_get_predict_issue_id(static_cast<S16>(k)), ISSUE);
      S32 abs = 0;
      ASSERT_EQ(BCP_convert_track_bitcnt_to_abs_bitcnt(static_cast<S16>(k), track_bitcnt(k), &abs), 1);
      EXPECT_EQ(abs, true_abs_bit(k));
      // Handed to the channel, the prediction gives the satellite's transmit time stamp.
      const CHAN_T ch = CH_find_reference(static_cast<S16>(k));
      CH_update_predict_bitcnt0(ch, GNSS_TYPE_GPS, sig(k).svid, ISSUE, b0);
      D64 tt = 0.0;
      ASSERT_EQ(CH_get_transmit_time(ch, &tt), 1);
      EXPECT_NEAR(tt, sig(k).tx_time.tow, 1e-9);
    }
  }
}

// One channel frame-synced, the others predicted from it: its clock-bias
// time replaces a clock bias 15 ms wrong (which alone mispredicts).
TEST(BcpKnownAnswer, OneChannelFrameSyncedOthersPredictedFromIt) {
  start();
  for (int k = 0; k < nvis(); ++k) feed(k, false);
  BCP_process_before_first_fix(WEEK, CLOCK_T, &sky().rcv, true_cb_m() + 15.0e-3 * C_MPS);
  const Tally alone = tally(1);
  EXPECT_LT(alone.right, nvis() - 1);  // the wrong bias alone shifts predictions by a bit

  start();
  feed(0, true);
  for (int k = 1; k < nvis(); ++k) feed(k, false);
  BCP_process_before_first_fix(WEEK, CLOCK_T, &sky().rcv, true_cb_m() + 15.0e-3 * C_MPS);
  EXPECT_EQ(BCP_is_prediction_enabled(), 1);
  EXPECT_EQ(BCP_has_predict_bitcnt0(0), 0);  // the frame-synced channel is not predicted
  const Tally t = tally(1);
  EXPECT_EQ(t.predicted, nvis() - 1);
  EXPECT_EQ(t.right, nvis() - 1);
}

// --- Before the first fix: the checks --------------------------------------------------------

struct AgeCase {
  const char* name;
  D64 age_s;
  bool on;
};

TEST(BcpBeforeFirstFix, StoredTimeAge) {
  const std::vector<AgeCase> cases = {
      {"stored_3600_s_ago_predicts", 3600.0, true},
      {"stored_3601_s_ago_predicts_nothing", 3601.0, false},
      {"stored_100_s_ahead_predicts", -100.0, true},
      {"stored_101_s_ahead_predicts_nothing", -101.0, false},
  };
  for (const AgeCase& c : cases) {
    SCOPED_TRACE(c.name);
    start(c.age_s);
    for (int k = 0; k < nvis(); ++k) feed(k, false);
    BCP_process_before_first_fix(WEEK, CLOCK_T, &sky().rcv, true_cb_m());
    EXPECT_EQ(BCP_is_prediction_enabled(), c.on ? 1 : 0);
    EXPECT_EQ(tally().predicted, c.on ? nvis() : 0);
    EXPECT_EQ(reasons()[BCP_DISABLE_BY_BEFORE_1ST_FIX_TIME_OUT], c.on ? 0 : 1);
  }
}

TEST(BcpBeforeFirstFix, NoStoredTimeNoPrediction) {
  start_kernel();
  BCP_init(0, 0, 0);
  for (int k = 0; k < nvis(); ++k) feed(k, false);
  BCP_process_before_first_fix(WEEK, CLOCK_T, &sky().rcv, true_cb_m());
  EXPECT_EQ(BCP_is_prediction_enabled(), 0);
  EXPECT_EQ(tally().predicted, 0);
  EXPECT_EQ(reasons()[BCP_DISABLE_BY_INIT], 1);
  // Switched on without a stored time, the first epoch switches it off again.
  BCP_enable_prediction();
  BCP_process_before_first_fix(WEEK, CLOCK_T, &sky().rcv, true_cb_m());
  EXPECT_EQ(BCP_is_prediction_enabled(), 0);
  EXPECT_EQ(reasons()[BCP_DISABLE_BY_BEFORE_1ST_FIX_TIME_OUT], 1);
}

struct SpreadCase {
  const char* name;
  D64 shift_s;  // the second frame-synced channel's code position read this much later
  S16 reason;   // -1: stays on
};

// Two frame-synced channels whose clock-bias times differ by 1 ms or more
// switch prediction off (reason 2); a single frame-synced channel 1.5 ms
// from the predictions switches it off by reason 3.
TEST(BcpBeforeFirstFix, FrameSyncedChannelsMustAgree) {
  const std::vector<SpreadCase> cases = {
      {"real_spread_1_ms_plus_1_us_off", 1.001e-3, BCP_DISABLE_BY_BEFORE_1ST_FIX_REAL_FS_CHECK},
      {"real_spread_1_ms_minus_1_us_on", 0.999e-3, -1},
      {"real_spread_2_ms_early_off", -2.0e-3, BCP_DISABLE_BY_BEFORE_1ST_FIX_REAL_FS_CHECK},
  };
  for (const SpreadCase& c : cases) {
    SCOPED_TRACE(c.name);
    start();
    feed(0, true);
    feed(1, true, c.shift_s);
    for (int k = 2; k < nvis(); ++k) feed(k, false);
    BCP_process_before_first_fix(WEEK, CLOCK_T, &sky().rcv, true_cb_m());
    EXPECT_EQ(BCP_is_prediction_enabled(), c.reason < 0 ? 1 : 0);
    const auto r = reasons();
    if (c.reason >= 0) {
      EXPECT_EQ(r[static_cast<std::size_t>(c.reason)], 1);
      EXPECT_EQ(tally().predicted, 0);
    } else {
      EXPECT_EQ(r[BCP_DISABLE_BY_BEFORE_1ST_FIX_REAL_FS_CHECK], 0);
      const Tally t = tally(2);
      EXPECT_EQ(t.predicted, nvis() - 2);
      EXPECT_EQ(t.right, nvis() - 2);
    }
  }
}

TEST(BcpBeforeFirstFix, PredictedAndRealMustAgree) {
  const std::vector<SpreadCase> cases = {
      {"real_1_5_ms_from_predicted_off", 1.5e-3, BCP_DISABLE_BY_BEFORE_1ST_FIX_REAL_FS_AND_PREDICT_FS_CHECK},
      {"real_0_5_ms_from_predicted_on", 0.5e-3, -1},
  };
  for (const SpreadCase& c : cases) {
    SCOPED_TRACE(c.name);
    start();
    feed(0, true, c.shift_s);
    for (int k = 1; k < nvis(); ++k) feed(k, false);
    BCP_process_before_first_fix(WEEK, CLOCK_T, &sky().rcv, true_cb_m());
    EXPECT_EQ(BCP_is_prediction_enabled(), c.reason < 0 ? 1 : 0);
    if (c.reason >= 0) {
      EXPECT_EQ(reasons()[static_cast<std::size_t>(c.reason)], 1);
    }
    EXPECT_EQ(tally(1).predicted, c.reason < 0 ? nvis() - 1 : 0);
  }
}

// --- After the first fix ---------------------------------------------------------------------

// Predictions made before the fix, then a real frame sync of channel 2.
struct LaterFsCase {
  const char* name;
  S32 fs_error_bits;
  S16 reason;  // -1: stays on, the confirmed prediction dropped
};

TEST(BcpAfterFirstFix, LaterRealFrameSyncConfirmsOrRefutes) {
  const std::vector<LaterFsCase> cases = {
      {"real_frame_sync_agrees_prediction_dropped", 0, -1},
      {"real_frame_sync_one_bit_later_off", 1, BCP_DISABLE_BY_AFTER_1ST_FIX_REAL_FS_UPDATE_CHECK},
      {"real_frame_sync_one_bit_earlier_off", -1, BCP_DISABLE_BY_AFTER_1ST_FIX_REAL_FS_UPDATE_CHECK},
  };
  for (const LaterFsCase& c : cases) {
    SCOPED_TRACE(c.name);
    start();
    for (int k = 0; k < nvis(); ++k) feed(k, false);
    BCP_process_before_first_fix(WEEK, CLOCK_T, &sky().rcv, true_cb_m());
    ASSERT_EQ(tally().right, nvis());
    feed(2, true, 0.0, c.fs_error_bits);
    D64 diff = 99.0;
    BCP_process_normal(WEEK, CLOCK_T, &sky().rcv, true_cb_m(), &diff);
    EXPECT_EQ(diff, 0.0);
    EXPECT_EQ(BCP_is_prediction_enabled(), c.reason < 0 ? 1 : 0);
    EXPECT_EQ(BCP_has_predict_bitcnt0(2), 0);
    if (c.reason >= 0) {
      EXPECT_EQ(reasons()[static_cast<std::size_t>(c.reason)], 1);
      EXPECT_EQ(tally().predicted, 0);
    } else {
      EXPECT_EQ(tally().predicted, nvis() - 1);
      EXPECT_EQ(tally().right, nvis() - 1);
    }
  }
}

struct CbCase {
  const char* name;
  D64 cb_error_s;
  bool on;
};

TEST(BcpAfterFirstFix, PredictedClockBiasWithin1_2MsOfTheNavigations) {
  const std::vector<CbCase> cases = {
      {"nav_bias_1_3_ms_off", 1.3e-3, false}, {"nav_bias_minus_1_3_ms_off", -1.3e-3, false},
      {"nav_bias_1_1_ms_on", 1.1e-3, true},   {"nav_bias_minus_1_1_ms_on", -1.1e-3, true},
      {"nav_bias_true_on", 0.0, true},
  };
  for (const CbCase& c : cases) {
    SCOPED_TRACE(c.name);
    start();
    feed(0, true);
    for (int k = 1; k < nvis(); ++k) feed(k, false);
    BCP_process_normal(WEEK, CLOCK_T, &sky().rcv, true_cb_m() + c.cb_error_s * C_MPS, nullptr);
    EXPECT_EQ(BCP_is_prediction_enabled(), c.on ? 1 : 0);
    EXPECT_EQ(reasons()[BCP_DISABLE_BY_AFTER_1ST_FIX_PREDICT_CB_CHECK], c.on ? 0 : 1);
    const Tally t = tally(1);
    EXPECT_EQ(t.predicted, c.on ? nvis() - 1 : 0);
    EXPECT_EQ(t.right, c.on ? nvis() - 1 : 0);
  }
}

// --- Bad input ---------------------------------------------------------------------------

TEST(BcpBadInput, OutOfRangeIdsAndNullPointersAreIgnored) {
  start();
  for (int k = 0; k < nvis(); ++k) feed(k, false);
  BCP_process_before_first_fix(WEEK, CLOCK_T, nullptr, true_cb_m());
  EXPECT_EQ(tally().predicted, 0);
  BCP_process_before_first_fix(WEEK, CLOCK_T, &sky().rcv, NAN);
  BCP_process_normal(WEEK, NAN, &sky().rcv, true_cb_m(), nullptr);
  EXPECT_EQ(tally().predicted, 0);
  BCP_process_before_first_fix(WEEK, CLOCK_T, &sky().rcv, true_cb_m());
  ASSERT_EQ(tally().predicted, nvis());
  for (S16 id : {S16{-1}, S16{20}, S16{-32768}, S16{32767}}) {
    S32 v = 123;
    EXPECT_EQ(BCP_has_predict_bitcnt0(id), 0);
    EXPECT_EQ(BCP_get_predict_bitcnt0(id, &v), 0);
    EXPECT_EQ(BCP_convert_track_bitcnt_to_abs_bitcnt(id, 5, &v), 0);
    EXPECT_EQ(BCP_get_predict_issue_id(id), 0);
    EXPECT_EQ(v, 123);
  }
  EXPECT_EQ(BCP_get_predict_bitcnt0(0, nullptr), 0);
  BCP_get_disable_prediction_event_flag(nullptr);
  const auto before = reasons();
  BCP_disable_prediction(6);
  BCP_disable_prediction(-1);
  EXPECT_EQ(reasons(), before);
  EXPECT_EQ(BCP_is_prediction_enabled(), 0);
}

}  // namespace
