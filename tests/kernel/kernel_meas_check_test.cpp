// Measurement check: the cross-correlation drop (Dopplers a whole number of
// kHz apart within 3 Hz, C/N0 gap of 21 dB or more), the interference drop,
// and the navigation's requests (clear an ephemeris, +-1 ms code shift, drop
// a channel), with the commands compared byte for byte with the frames the
// target receives (ASIC_DROP_CHANNEL 18: ch, prn, issue; ASIC_SHIFT_MSC 24:
// ch, prn, issue, shift; each 0x4A 0x58 type ... XOR checksum).
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "host/wrap.h"
#include "kernel/src/channel.h"
#include "kernel/src/ephemeris.h"
#include "kernel/src/kernel.h"
#include "kernel/src/kernel_meas_check.h"
#include "kernel/src/nav_estimation_inputs.h"
#include "tests/kernel/kernel_cold_start.h"
#include "tests/kernel/sky_ephemeris.h"

namespace {

using Bytes = std::vector<U08>;
std::vector<Bytes> Captured;
void capture(const U08* f, int len) { Captured.emplace_back(f, f + len); }

void start_kernel() {
  ASSERT_EQ(talon_test::start_cold_kernel(), 0);
  NVESTIN_reset_all();
  Captured.clear();
  WRAP_install_command_sink(capture);
}

// The frame as the target receives it: 0x4A 0x58, type, payload, XOR of all before.
Bytes frame(U08 type, std::initializer_list<U08> payload) {
  Bytes f;
  f.reserve(payload.size() + 4);
  for (U08 b : {U08{0x4A}, U08{0x58}, type}) f.push_back(b);
  for (U08 b : payload) f.push_back(b);
  U08 x = 0;
  for (U08 b : f) x ^= b;
  f.push_back(x);
  return f;
}
constexpr U08 DROP = 18;
constexpr U08 SHIFT = 24;

struct Chan {
  S16 ch;
  U16 type;
  S16 svid;
  U08 issue;
  F32 cnr;
  F32 dopp;
  U32 noise;
};

CH_MEAS_INPUT_T input_of(const Chan& c) {
  CH_MEAS_INPUT_T in{};
  in.track_state = CH_TRACK;
  in.gnss_type = static_cast<S16>(c.type);
  in.svid = c.svid;
  in.issue_id = c.issue;
  in.cnr = c.cnr;
  in.dopp_freq = c.dopp;
  in.dopp_freq_by_nco_freq = c.dopp;
  in.acc_cycle_count = 1000;
  in.has_sub_bit = 1;
  in.sub_bit = 0.001;
  in.bitcnt = 500;
  in.ch_noise_power = c.noise;
  return in;
}

// Two whole-second epochs, so the channels are past their first track second.
void track(const std::vector<Chan>& chans) {
  for (U32 sec = 100; sec < 102; ++sec) {
    CH_set_measurement_update_event(sec, 0, 0);
    for (const Chan& c : chans) {
      const CH_MEAS_INPUT_T in = input_of(c);
      CH_update_measurement(CH_find_reference(c.ch), &in);
    }
  }
  for (const Chan& c : chans) ASSERT_EQ(CH_is_first_track_second(CH_find_reference(c.ch)), 0) << c.ch;
}

S32 kicks() { return KMCHECK_get_cross_correlation_kick_count(); }

// --- Cross-correlation -----------------------------------------------------------------------

struct XcorrCase {
  const char* name;
  Chan strong, weak;
  bool dropped;
};

TEST(KmcheckCrossCorrelation, WeakChannelAWholeKilohertzAwayIsDropped) {
  const std::vector<XcorrCase> cases = {
      {"gps_45_22_dopp_diff_1000_hz",
       {2, GNSS_TYPE_GPS, 5, 3, 45, 1500, 0},
       {7, GNSS_TYPE_GPS, 9, 4, 22, 500, 0},
       true},
      {"gps_45_22_dopp_diff_1003_hz",
       {2, GNSS_TYPE_GPS, 5, 3, 45, 1500, 0},
       {7, GNSS_TYPE_GPS, 9, 4, 22, 497, 0},
       true},
      {"gps_45_22_dopp_diff_1004_hz",
       {2, GNSS_TYPE_GPS, 5, 3, 45, 1500, 0},
       {7, GNSS_TYPE_GPS, 9, 4, 22, 496, 0},
       false},
      {"gps_45_22_dopp_diff_minus_1003_hz",
       {2, GNSS_TYPE_GPS, 5, 3, 45, -1500, 0},
       {7, GNSS_TYPE_GPS, 9, 4, 22, -497, 0},
       true},
      {"gps_45_22_dopp_diff_2002_hz",
       {2, GNSS_TYPE_GPS, 5, 3, 45, 1500, 0},
       {7, GNSS_TYPE_GPS, 9, 4, 22, -502, 0},
       true},
      {"gps_45_22_dopp_diff_2005_hz",
       {2, GNSS_TYPE_GPS, 5, 3, 45, 1500, 0},
       {7, GNSS_TYPE_GPS, 9, 4, 22, -505, 0},
       false},
      {"gps_45_25_gap_20_db_kept", {2, GNSS_TYPE_GPS, 5, 3, 45, 1500, 0}, {7, GNSS_TYPE_GPS, 9, 4, 25, 500, 0}, false},
      {"gps_39_18_strong_not_above_39_kept",
       {2, GNSS_TYPE_GPS, 5, 3, 39, 1500, 0},
       {7, GNSS_TYPE_GPS, 9, 4, 18, 500, 0},
       false},
      {"gps_60_36_weak_not_below_36_kept",
       {2, GNSS_TYPE_GPS, 5, 3, 60, 1500, 0},
       {7, GNSS_TYPE_GPS, 9, 4, 36, 500, 0},
       false},
      // An SBAS weak channel is dropped in the target's numbering (122 -> 40).
      {"sbas_weak_dropped_as_40", {2, GNSS_TYPE_GPS, 5, 3, 45, 1500, 0}, {7, GNSS_TYPE_SBAS, 122, 4, 22, 500, 0}, true},
  };
  for (const XcorrCase& c : cases) {
    SCOPED_TRACE(c.name);
    start_kernel();
    track({c.strong, c.weak});
    Captured.clear();
    KMCHECK_check_result_process();
    if (c.dropped) {
      const U08 prn = static_cast<U08>(c.weak.svid >= 120 ? c.weak.svid - 82 : c.weak.svid);
      ASSERT_EQ(Captured.size(), 1u);
      EXPECT_EQ(Captured[0], frame(DROP, {static_cast<U08>(c.weak.ch), prn, c.weak.issue}));
      EXPECT_EQ(kicks(), 1);
    } else {
      EXPECT_TRUE(Captured.empty());
      EXPECT_EQ(kicks(), 0);
    }
  }
}

// --- Interference ----------------------------------------------------------------------------

TEST(KmcheckInterference, ScoreAboveTenDropsTheChannel) {
  start_kernel();
  // Noise 2 300 000 at 35 dB-Hz adds 23 at each whole-second epoch; 100 000 adds nothing.
  track({{4, GNSS_TYPE_GPS, 12, 6, 35, 100, 2300000}, {5, GNSS_TYPE_GPS, 13, 6, 35, 900, 100000}});
  EXPECT_GT(CH_get_interference_cnt(CH_find_reference(4)), 10);
  EXPECT_EQ(CH_get_interference_cnt(CH_find_reference(5)), 0);
  Captured.clear();
  KMCHECK_check_result_process();
  ASSERT_EQ(Captured.size(), 1u);
  EXPECT_EQ(Captured[0], frame(DROP, {4, 12, 6}));
}

// The target releases a dropped channel: the reports of the same assignment
// that still arrive ask nothing more; a new assignment of the channel is
// dropped again.
TEST(KmcheckInterference, DroppedOncePerAssignment) {
  start_kernel();
  track({{4, GNSS_TYPE_GPS, 12, 6, 35, 100, 2300000}});
  KMCHECK_check_result_process();
  ASSERT_EQ(Captured.size(), 1u);
  Captured.clear();
  track({{4, GNSS_TYPE_GPS, 12, 6, 35, 100, 2300000}});
  KMCHECK_check_result_process();
  EXPECT_TRUE(Captured.empty());
  track({{4, GNSS_TYPE_GPS, 12, 7, 35, 100, 2300000}});  // re-assigned: tracking issue 7
  KMCHECK_check_result_process();
  ASSERT_EQ(Captured.size(), 1u);
  EXPECT_EQ(Captured[0], frame(DROP, {4, 12, 7}));
}

// --- The navigation's requests ---------------------------------------------------------------

NV_ESTIN_T request(S16 ch_id, S16 svid, U16 type) {
  NVESTIN_VALUES_T v{};
  v.cn0 = 40;
  v.sv_id = svid;
  v.gnss_type = type;
  v.dc[2] = 1.0F;
  return NVESTIN_set_input(ch_id, &v);
}

struct RequestCase {
  const char* name;
  U16 flag;
  std::vector<Bytes> want;
};

TEST(KmcheckRequests, ShiftAndDropFramesAsTheTargetReceivesThem) {
  const std::vector<RequestCase> cases = {
      {"plus_one_ms", NVESTIN_NEED_PLUS_ONE_MSC, {frame(SHIFT, {3, 17, 9, 0x01})}},
      {"minus_one_ms", NVESTIN_NEED_MINUS_ONE_MSC, {frame(SHIFT, {3, 17, 9, 0xFF})}},
      {"drop", NVESTIN_NEED_DROP_CHANNEL, {frame(DROP, {3, 17, 9})}},
      {"drop_and_shift",
       NVESTIN_NEED_DROP_CHANNEL | NVESTIN_NEED_PLUS_ONE_MSC,
       {frame(SHIFT, {3, 17, 9, 0x01}), frame(DROP, {3, 17, 9})}},
      {"no_request", 0, {}},
  };
  for (const RequestCase& c : cases) {
    SCOPED_TRACE(c.name);
    start_kernel();
    track({{3, GNSS_TYPE_GPS, 17, 9, 40, 1200, 0}});
    const NV_ESTIN_T e = request(3, 17, GNSS_TYPE_GPS);
    ASSERT_NE(e, nullptr);
    NVESTIN_set_flags(e, c.flag);
    Captured.clear();
    KMCHECK_check_result_process();
    EXPECT_EQ(Captured, c.want);
  }
}

// An SBAS channel is shifted under the kernel's id and dropped under the target's.
TEST(KmcheckRequests, SbasShiftKeepsTheKernelIdDropUsesTheTargets) {
  start_kernel();
  track({{6, GNSS_TYPE_SBAS, 129, 2, 40, 1200, 0}});
  NVESTIN_set_flags(request(6, 129, GNSS_TYPE_SBAS), NVESTIN_NEED_MINUS_ONE_MSC | NVESTIN_NEED_DROP_CHANNEL);
  Captured.clear();
  KMCHECK_check_result_process();
  const std::vector<Bytes> want = {frame(SHIFT, {6, 129, 2, 0xFF}), frame(DROP, {6, 47, 2})};
  EXPECT_EQ(Captured, want);
}

// A request for a channel that now tracks another satellite, or is idle, sends nothing.
TEST(KmcheckRequests, StaleRequestsSendNothing) {
  start_kernel();
  track({{3, GNSS_TYPE_GPS, 17, 9, 40, 1200, 0}});
  NVESTIN_set_flags(request(3, 18, GNSS_TYPE_GPS), NVESTIN_NEED_DROP_CHANNEL | NVESTIN_NEED_PLUS_ONE_MSC);
  NVESTIN_set_flags(request(11, 20, GNSS_TYPE_GPS), NVESTIN_NEED_DROP_CHANNEL | NVESTIN_NEED_MINUS_ONE_MSC);
  EXPECT_EQ(request(20, 5, GNSS_TYPE_GPS), nullptr);  // no record for a channel outside 0..19
  Captured.clear();
  KMCHECK_check_result_process();
  EXPECT_TRUE(Captured.empty());
}

TEST(KmcheckRequests, ClearEphemerisClearsTheSatellitesRecord) {
  start_kernel();
  ASSERT_EQ(init_full_sky(2400, 345600.0), 1);
  const EPH_T e = load_sky_ephemeris(5, sky_frame(5, 2400, 345600.0));
  ASSERT_EQ(EPH_has_valid_data(e), 1);
  const EPH_T other = load_sky_ephemeris(6, sky_frame(6, 2400, 345600.0));
  track({{3, GNSS_TYPE_GPS, 5, 9, 40, 1200, 0}});
  NVESTIN_set_flags(request(3, 5, GNSS_TYPE_GPS), NVESTIN_NEED_CLEAR_EPHEMERIS);
  // Out-of-range ids in a request are ignored by the stores.
  NVESTIN_set_flags(request(4, 99, GNSS_TYPE_GPS), NVESTIN_NEED_CLEAR_EPHEMERIS);
  NVESTIN_set_flags(request(8, 300, GNSS_TYPE_SBAS), NVESTIN_NEED_CLEAR_EPHEMERIS);
  Captured.clear();
  KMCHECK_check_result_process();
  EXPECT_EQ(EPH_has_valid_data(e), 0);
  EXPECT_EQ(EPH_has_valid_data(other), 1);
  EXPECT_TRUE(Captured.empty());
}

}  // namespace
