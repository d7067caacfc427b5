// Channel records: transmit time from the bit count and the code position,
// the week of a transmit time, C/N0 filtering, the interference score,
// re-assignment and reset, and accessors on a channel whose satellite has no
// record. Expected values are computed here from the definitions.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "host/wrap.h"
#include "kernel/src/channel.h"
#include "kernel/src/kernel.h"
#include "kernel/src/raw_meas.h"
#include "tests/kernel/kernel_cold_start.h"

namespace {

void start_kernel() { ASSERT_EQ(talon_test::start_cold_kernel(), 0); }

// A tracking GPS input of satellite svid under issue 1.
CH_MEAS_INPUT_T tracking_input(S16 svid, F32 cnr) {
  CH_MEAS_INPUT_T in{};
  in.track_state = CH_TRACK;
  in.gnss_type = GNSS_TYPE_GPS;
  in.svid = svid;
  in.issue_id = 1;
  in.cnr = cnr;
  in.acc_cycle_count = 1000;
  in.has_sub_bit = 1;
  in.sub_bit = 0.0123;
  in.bitcnt = 777;
  return in;
}

// --- Transmit time ---------------------------------------------------------------------------

// One CHAN report through the proxy, then a predicted bit-count offset: the
// transmit time is (track bit count + offset) x 20 ms + the code position
// within the bit (from the register fields: ms, chip, sub-chip, fraction).
TEST(ChannelTransmitTime, FromBitCountAndCodePhase) {
  start_kernel();
  ASIC_CHAN_MEAS_T a{};
  a.gnss_type = GNSS_TYPE_GPS;
  a.prn = 17;
  a.state = CH_MEAS_AVAILABLE;
  a.track_issue = 9;
  a.bitcnt = 123456;
  a.nsc = 8;
  a.code_phase_reg = (3u << 28) | (256u << 16) | (11u << 11) | 400u;  // sc 3, frac 256, ms 11, chip 400
  a.acc_carrier_cycle_count = 1000;
  WRAP_set_asic_chan_meas(6, &a);
  const GTC_RD_T gtc{0, (2300u << 16) | 0u, 345610, 0};
  const ASIC_READ_RTC_T rtc{};
  WRAP_set_asic_gtc(&gtc, 0, 0, 0, nullptr, 0, &rtc);
  ASSERT_EQ(KERNEL_loop(), 1);

  const CHAN_T ch = CH_find_reference(6);
  D64 tt = 0.0;
  EXPECT_EQ(CH_get_transmit_time(ch, &tt), 0);   // neither frame sync nor prediction yet
  const S32 bitcnt0 = 345610 * 50 - 123456 - 3;  // the bit at 345 609.94 s
  CH_update_predict_bitcnt0(ch, GNSS_TYPE_GPS, 17, 9, bitcnt0);
  ASSERT_EQ(CH_get_transmit_time(ch, &tt), 1);
  const double chips = (400 - 1) + (3 - 1 + 256 / 1024.0) / 8 + 0.5;
  const double sub_bit = 11e-3 + chips / 1.023e6;
  EXPECT_NEAR(tt, (123456.0 + bitcnt0) * 0.02 + sub_bit, 1e-9);
  S32 p = 0;
  EXPECT_EQ(CH_get_predict_bitcnt0(ch, &p), 1);
  EXPECT_EQ(p, bitcnt0);

  // A prediction for another signal or issue is not taken.
  CH_reset_predict_bitcnt0(ch);
  CH_update_predict_bitcnt0(ch, GNSS_TYPE_GPS, 18, 9, bitcnt0);
  CH_update_predict_bitcnt0(ch, GNSS_TYPE_GPS, 17, 8, bitcnt0);
  EXPECT_EQ(CH_get_transmit_time(ch, &tt), 0);
  KERNEL_close();
}

TEST(ChannelTransmitTime, NoSubChipCountMeansNoTransmitTimeThatEpoch) {
  start_kernel();
  const CHAN_T ch = CH_find_reference(2);
  CH_MEAS_INPUT_T in = tracking_input(5, 40.0f);
  CH_update_measurement(ch, &in);
  CH_update_predict_bitcnt0(ch, GNSS_TYPE_GPS, 5, 1, 1000);
  D64 tt = 0.0;
  ASSERT_EQ(CH_get_transmit_time(ch, &tt), 1);
  in.has_sub_bit = 0;  // nsc 0 in this epoch's report
  in.sub_bit = 0.0;
  CH_update_measurement(ch, &in);
  EXPECT_EQ(CH_get_transmit_time(ch, &tt), 0);
  D64 sb = -1.0;
  EXPECT_EQ(CH_get_sub_bit(ch, &sb), 0);
  EXPECT_EQ(sb, -1.0);
  KERNEL_close();
}

struct WeekCase {
  const char* name;
  D64 tt;   // transmit time, s of week
  S32 rcv;  // receive time, s of week
  S16 want_wn;
};
void PrintTo(const WeekCase& c, std::ostream* os) { *os << c.name; }
class TransmitWeek : public ::testing::TestWithParam<WeekCase> {};

// A transmit time more than half a week after the receive time belongs to the
// previous week, more than half a week before it to the next.
TEST_P(TransmitWeek, NearestToTheReceiveTime) {
  const WeekCase& c = GetParam();
  start_kernel();
  const CHAN_T ch = CH_find_reference(0);
  CH_MEAS_INPUT_T in = tracking_input(3, 40.0f);
  in.bitcnt = 0;
  in.sub_bit = c.tt - std::floor(c.tt / 0.02) * 0.02;
  CH_update_measurement(ch, &in);
  CH_update_predict_bitcnt0(ch, GNSS_TYPE_GPS, 3, 1, static_cast<S32>(std::floor(c.tt / 0.02)));
  S16 wn = 0;
  D64 tt = 0.0;
  ASSERT_EQ(CH_get_transmit_time_with_wn(ch, 2300, c.rcv, &wn, &tt), 1);
  EXPECT_NEAR(tt, c.tt, 1e-6);
  EXPECT_EQ(wn, c.want_wn);
  KERNEL_close();
}

INSTANTIATE_TEST_SUITE_P(Channel, TransmitWeek,
                         ::testing::Values(WeekCase{"same_week", 345600.07, 345600, 2300},
                                           WeekCase{"ahead_302401_previous_week", 604700.0, 302299, 2299},
                                           WeekCase{"ahead_302400_same_week", 604700.0, 302300, 2300},
                                           WeekCase{"behind_302401_next_week", 0.07, 302402, 2301},
                                           WeekCase{"behind_302400_same_week", 0.5, 302400, 2300}),
                         [](const ::testing::TestParamInfo<WeekCase>& i) { return std::string(i.param.name); });

// --- C/N0 filter and interference -------------------------------------------------------------

TEST(ChannelCnr, RiseFollowsAtOnceFallIsClampedThenSmoothed) {
  start_kernel();
  const CHAN_T ch = CH_find_reference(1);
  CH_MEAS_INPUT_T in = tracking_input(8, 20.0f);
  CH_update_measurement(ch, &in);
  in.cnr = 30.0f;
  CH_update_measurement(ch, &in);
  EXPECT_EQ(CH_get_filter_cnr(ch), 30);
  double want = 25.0;  // falling to 20: first clamped to 25, then by eighths
  for (int i = 0; i < 6; ++i) {
    in.cnr = 20.0f;
    CH_update_measurement(ch, &in);
    want = (7.0 * want + 20.0) / 8.0;
    EXPECT_EQ(CH_get_filter_cnr(ch), static_cast<S16>(want + 0.5)) << i;
  }
  EXPECT_EQ(CH_get_cnr(ch), 20);
  EXPECT_FLOAT_EQ(CH_get_f32_cnr(ch), 20.0f);
  KERNEL_close();
}

struct InterferenceCase {
  const char* name;
  U32 noise;
  F32 cnr;
  S16 per_second;  // score added per whole-second epoch
};
void PrintTo(const InterferenceCase& c, std::ostream* os) { *os << c.name; }
class Interference : public ::testing::TestWithParam<InterferenceCase> {};

// Units of 22 500: above 10, 20, 50, 100 units add 1, 2, 5, 15.
TEST_P(Interference, ScorePerWholeSecond) {
  const InterferenceCase& c = GetParam();
  start_kernel();
  const CHAN_T ch = CH_find_reference(5);
  CH_MEAS_INPUT_T in = tracking_input(21, c.cnr);
  in.ch_noise_power = c.noise;
  for (int s = 1; s <= 3; ++s) {
    CH_set_measurement_update_event(1000 + s, 0, 0);
    CH_update_measurement(ch, &in);
    EXPECT_EQ(CH_get_interference_cnt(ch), c.per_second * s) << s;
    CH_set_measurement_update_event(1000 + s, 500, 0);  // not a whole second: unchanged
    CH_update_measurement(ch, &in);
    EXPECT_EQ(CH_get_interference_cnt(ch), c.per_second * s) << s;
  }
  EXPECT_EQ(CH_get_noise_power(ch), c.noise);
  KERNEL_close();
}

INSTANTIATE_TEST_SUITE_P(Channel, Interference,
                         ::testing::Values(InterferenceCase{"noise_2300000_at_35", 2300000, 35.0f, 23},
                                           InterferenceCase{"noise_500000_at_35", 500000, 35.0f, 3},
                                           InterferenceCase{"strong_signal_no_score", 2300000, 41.0f, 0},
                                           InterferenceCase{"quiet", 200000, 35.0f, 0}),
                         [](const ::testing::TestParamInfo<InterferenceCase>& i) { return std::string(i.param.name); });

// --- Re-assignment and reset --------------------------------------------------------------------

std::vector<S16> Resets;
void on_reset(S16 ch_id) { Resets.push_back(ch_id); }

TEST(ChannelReset, IssueChangeSatelliteChangeAndIdleReset) {
  start_kernel();
  Resets.clear();
  CH_install_callback_reset(on_reset);
  const CHAN_T ch = CH_find_reference(7);
  CH_MEAS_INPUT_T in = tracking_input(4, 40.0f);
  CH_update_measurement(ch, &in);  // a new assignment resets the idle channel first
  Resets.clear();
  CH_update_measurement(ch, &in);
  EXPECT_TRUE(Resets.empty());
  EXPECT_EQ(CH_get_measurement_update_count(ch), 2);
  in.issue_id = 2;
  CH_update_measurement(ch, &in);
  EXPECT_EQ(Resets, std::vector<S16>{7});
  EXPECT_EQ(CH_get_measurement_update_count(ch), 1);
  in.svid = 9;
  CH_update_measurement(ch, &in);
  EXPECT_EQ(Resets, (std::vector<S16>{7, 7}));
  EXPECT_EQ(CH_get_svid(ch), 9);
  CH_MEAS_INPUT_T idle{};
  CH_update_measurement(ch, &idle);
  EXPECT_EQ(Resets.size(), 3u);
  EXPECT_EQ(CH_get_state(ch), CH_IDLE);
  EXPECT_EQ(CH_get_svid(ch), 0);
  EXPECT_EQ(CH_get_gnss_type(ch), GNSS_TYPE_NONE);
  CH_install_callback_reset(nullptr);
  KERNEL_close();
}

// --- Satellites without a record, null handles ----------------------------------------------------

struct NoRecordCase {
  const char* name;
  S16 gnss_type;
  S16 svid;
};
void PrintTo(const NoRecordCase& c, std::ostream* os) { *os << c.name; }
class NoSatelliteRecord : public ::testing::TestWithParam<NoRecordCase> {};

TEST_P(NoSatelliteRecord, AccessorsAnswerNone) {
  const NoRecordCase& c = GetParam();
  start_kernel();
  const CHAN_T ch = CH_find_reference(3);
  CH_MEAS_INPUT_T in = tracking_input(c.svid, 44.0f);
  in.gnss_type = c.gnss_type;
  EXPECT_EQ(CH_update_measurement(ch, &in), 0);
  EXPECT_EQ(CH_get_sv(ch), nullptr);
  EXPECT_EQ(CH_get_svid(ch), c.svid);
  EXPECT_EQ(CH_get_URA(ch), -1);
  EXPECT_EQ(CH_get_glonass_slot_n(ch), 0);
  EXPECT_EQ(CH_is_tracking(ch), 1);
  std::array<RNG_T, NUM_HW_CHANNELS> rng{};
  EXPECT_EQ(CH_get_all_useful_ranges(rng.data()), 0);
  CH_select_delta_range_process(2300, 1000);
  KERNEL_close();
}

INSTANTIATE_TEST_SUITE_P(Channel, NoSatelliteRecord,
                         ::testing::Values(NoRecordCase{"gps_prn_0", GNSS_TYPE_GPS, 0},
                                           NoRecordCase{"gps_prn_60", GNSS_TYPE_GPS, 60},
                                           NoRecordCase{"gps_prn_negative", GNSS_TYPE_GPS, -5},
                                           NoRecordCase{"glonass", GNSS_TYPE_GLONASS, 3},
                                           NoRecordCase{"unknown_type", 9, 12}),
                         [](const ::testing::TestParamInfo<NoRecordCase>& i) { return std::string(i.param.name); });

TEST(ChannelAccessors, NullHandleReadsAsIdle) {
  const CHAN_T n = nullptr;
  D64 d = 0.0;
  S32 s = 0;
  RNG_T r = nullptr;
  EXPECT_EQ(CH_get_id(n), -1);
  EXPECT_EQ(CH_get_state(n), CH_IDLE);
  EXPECT_EQ(CH_get_gnss_type(n), GNSS_TYPE_NONE);
  EXPECT_EQ(CH_get_svid(n), 0);
  EXPECT_EQ(CH_get_prn(n), 0);
  EXPECT_EQ(CH_get_URA(n), -1);
  EXPECT_EQ(CH_get_sv(n), nullptr);
  EXPECT_EQ(CH_get_cnr(n), 0);
  EXPECT_EQ(CH_get_filter_cnr(n), 0);
  EXPECT_EQ(CH_get_isr_bitcnt(n), 0);
  EXPECT_EQ(CH_get_dopp_freq_in_hz(n), 0);
  EXPECT_EQ(CH_get_transmit_time(n, &d), 0);
  EXPECT_EQ(CH_get_sub_bit(n, &d), 0);
  EXPECT_EQ(CH_get_bitcnt0(n, &s), 0);
  EXPECT_EQ(CH_get_range(n, &r), 0);
  EXPECT_EQ(CH_is_tracking(n), 0);
  EXPECT_EQ(CH_has_frame_sync(n), 0);
  EXPECT_EQ(CH_update_measurement(n, nullptr), 0);
  CH_reset(n);
  CH_set_tracking_sv(n, nullptr);
  EXPECT_EQ(CH_process_databits(n, GNSS_TYPE_GPS, 1, 0, 0, 0, 0), 0);
}

}  // namespace
