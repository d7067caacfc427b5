// Raw measurement conversion: C/N0 from the estimator fields, the code
// position within the data bit from the code phase register, Doppler from the
// NCO word and from the accumulated carrier, carrier slots, and the epochs a
// started kernel takes or drops. C/N0 values are worked by hand; the other
// expected values are computed here from the register definitions (field
// positions and scales), independently of the module's code.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "host/wrap.h"
#include "kernel/src/channel.h"
#include "kernel/src/kernel.h"
#include "kernel/src/raw_meas.h"
#include "kernel/src/tcxo_freq.h"
#include "tests/kernel/kernel_cold_start.h"

namespace {

// A started kernel in replay (nothing sent), TCXO mode, position rate.
void start_kernel(int tcxo_mode, U16 position_rate) {
  ASSERT_EQ(talon_test::start_cold_kernel(static_cast<S16>(tcxo_mode), position_rate, 18), 0);  // no stored state
}

// Time-count registers of week wn, second sec, millisecond ms.
GTC_RD_T gtc_of(U32 wn, U32 sec, U32 ms) { return GTC_RD_T{0, (wn << 16) | ms, sec, 0}; }

// One epoch through the target proxy: the channel reports, then the closing time count.
S16 feed_epoch(const std::array<ASIC_CHAN_MEAS_T, NUM_HW_CHANNELS>& chans, U32 sec, U32 ms, U32 noise_power = 0) {
  for (S16 ch = 0; ch < NUM_HW_CHANNELS; ++ch)
    if (chans[static_cast<std::size_t>(ch)].state != CH_IDLE)
      WRAP_set_asic_chan_meas(ch, &chans[static_cast<std::size_t>(ch)]);
  const GTC_RD_T gtc = gtc_of(2300, sec, ms);
  const ASIC_READ_RTC_T rtc{};
  WRAP_set_asic_gtc(&gtc, 0, 0, noise_power, nullptr, 0, &rtc);
  return KERNEL_loop();
}

// A tracking GPS channel's report: nsc sub-chips per chip, count the
// millisecond count of the accumulated carrier.
ASIC_CHAN_MEAS_T tracking(S08 prn, U08 nsc, U16 count) {
  ASIC_CHAN_MEAS_T a{};
  a.gnss_type = GNSS_TYPE_GPS;
  a.prn = prn;
  a.state = CH_TRACK;
  a.nsc = nsc;
  a.acc_carrier_cycle_count = count;
  return a;
}

// --- C/N0 -----------------------------------------------------------------------------

struct CnrCase {
  const char* name;
  U32 acc_power;
  S16 cn_count;
  S16 cn_integ;
  S08 cn_div;
  S08 cn_shift;
  U32 noise;
  double want;  // dB-Hz
};
void PrintTo(const CnrCase& c, std::ostream* os) { *os << c.name; }

ASIC_CHAN_MEAS_T cn_fields(const CnrCase& c) {
  ASIC_CHAN_MEAS_T a{};
  a.acc_power = c.acc_power;
  a.cn_count = c.cn_count;
  a.cn_integ = c.cn_integ;
  a.cn_div = c.cn_div;
  a.cn_shift = c.cn_shift;
  return a;
}

class CnrKnownAnswer : public ::testing::TestWithParam<CnrCase> {};

TEST_P(CnrKnownAnswer, FromTheEstimatorFields) {
  const CnrCase& c = GetParam();
  const ASIC_CHAN_MEAS_T a = cn_fields(c);
  EXPECT_NEAR(RAW_calculate_cnr(&a, c.noise), c.want, 1e-4);
}

INSTANTIATE_TEST_SUITE_P(Raw, CnrKnownAnswer,
                         ::testing::Values(
                             // x = acc_power / cn_count, y = cn_integ x (noise / cn_div^2) >> 2 cn_shift,
                             // C/N0 = 10 log10((1000 / cn_integ) (x / y - 1)), integer steps, worked by hand.
                             // 4e9 / 5e7 - 1 = 79; 50 x 79 = 3950.
                             CnrCase{"gps_20ms", 4000000000u, 1, 20, 1, 0, 2500000, 35.965971},
                             // 1e9 / (10 x 625000 >> 2 = 1562500) - 1 = 639; 100 x 639 = 63900.
                             CnrCase{"divider_and_shift", 3000000000u, 3, 10, 2, 1, 2500000, 48.055009},
                             // 4.5e7 / 1e6 - 1 = 44; 1000 x 44 = 44000.
                             CnrCase{"weak_1ms", 90000000u, 2, 1, 1, 0, 1000000, 46.434527},
                             // cn_integ x noise = 3e9 does not fit 32 signed bits: needs 64-bit products.
                             // 4.2e9 / 7.5e8 - 1 = 4; 1 x 4 = 4.
                             CnrCase{"product_beyond_32_bits", 4200000000u, 1, 1000, 1, 1, 3000000, 6.020600}),
                         [](const ::testing::TestParamInfo<CnrCase>& i) { return std::string(i.param.name); });

// Fields that cannot give a C/N0: 0 (channel not usable), never NaN, never a trap.
class CnrHostile : public ::testing::TestWithParam<CnrCase> {};

TEST_P(CnrHostile, GiveZero) {
  const CnrCase& c = GetParam();
  const ASIC_CHAN_MEAS_T a = cn_fields(c);
  const F32 cnr = RAW_calculate_cnr(&a, c.noise);
  EXPECT_TRUE(std::isfinite(cnr));
  EXPECT_EQ(cnr, 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Raw, CnrHostile,
                         ::testing::Values(CnrCase{"cn_count_0", 4000000000u, 0, 20, 1, 0, 2500000, 0.0},
                                           CnrCase{"cn_count_negative", 4000000000u, -3, 20, 1, 0, 2500000, 0.0},
                                           CnrCase{"cn_integ_0", 4000000000u, 1, 0, 1, 0, 2500000, 0.0},
                                           CnrCase{"cn_integ_negative", 4000000000u, 1, -20, 1, 0, 2500000, 0.0},
                                           CnrCase{"cn_integ_above_1000", 4000000000u, 1, 2000, 1, 0, 2500000, 0.0},
                                           CnrCase{"cn_div_0", 4000000000u, 1, 20, 0, 0, 2500000, 0.0},
                                           CnrCase{"cn_div_negative", 4000000000u, 1, 20, -2, 0, 2500000, 0.0},
                                           CnrCase{"cn_shift_16", 4000000000u, 1, 20, 1, 16, 2500000, 0.0},
                                           CnrCase{"cn_shift_negative", 4000000000u, 1, 20, 1, -1, 2500000, 0.0},
                                           CnrCase{"y_zero_noise_below_divider", 4000000000u, 1, 20, 100, 0, 100, 0.0},
                                           CnrCase{"noise_0", 4000000000u, 1, 20, 1, 0, 0, 0.0},
                                           CnrCase{"power_below_noise", 1000u, 1, 20, 1, 0, 2500000, 0.0}),
                         [](const ::testing::TestParamInfo<CnrCase>& i) { return std::string(i.param.name); });

// --- Code position within the data bit --------------------------------------------------

struct SubBitCase {
  const char* name;
  S16 gnss_type;
  U32 ms, chip, sc_field, frac;  // register fields
  U08 nsc, peak_tap;
};
void PrintTo(const SubBitCase& c, std::ostream* os) { *os << c.name; }

// The code position in C/A chips (1.023 Mchip/s) after the data-bit edge:
// whole ms, chip (counted from 1), sub-chip (field 0 = the last of nsc,
// counted from 1), 2^-10 sub-chip fraction, less the correlator peak tap
// (sub-chips), plus half a chip.
double expected_sub_bit(const SubBitCase& c) {
  const int ms_per_bit = c.gnss_type == GNSS_TYPE_SBAS ? 2 : 20;
  const int ms = c.gnss_type == GNSS_TYPE_SBAS ? static_cast<int>(c.ms) % ms_per_bit : static_cast<int>(c.ms);
  const int sc = (c.sc_field == 0 ? c.nsc : static_cast<int>(c.sc_field)) - 1;
  const double subchips = sc + c.frac / 1024.0 - c.peak_tap;
  const double chips = (static_cast<int>(c.chip) - 1) + subchips / c.nsc + 0.5;
  return ms * 1e-3 + chips / 1.023e6;
}

U32 code_phase_reg(U32 ms, U32 chip, U32 sc_field, U32 frac) {
  return (sc_field << 28) | (frac << 16) | (ms << 11) | chip;
}

class SubBitKnownAnswer : public ::testing::TestWithParam<SubBitCase> {};

TEST_P(SubBitKnownAnswer, FromTheCodePhaseRegister) {
  const SubBitCase& c = GetParam();
  start_kernel(4, 1);
  ASIC_CHAN_MEAS_T a = tracking(c.gnss_type == GNSS_TYPE_SBAS ? 40 : 7, c.nsc, 1000);
  a.gnss_type = static_cast<S08>(c.gnss_type);
  a.peak_tap_loc = c.peak_tap;
  a.code_phase_reg = code_phase_reg(c.ms, c.chip, c.sc_field, c.frac);
  CH_MEAS_INPUT_T in{};
  RAW_convert_channel(3, 24552000, &a, &in);
  ASSERT_EQ(in.has_sub_bit, 1);
  EXPECT_NEAR(in.sub_bit, expected_sub_bit(c), 1e-13);  // 30 um
  if (c.gnss_type == GNSS_TYPE_SBAS) {
    EXPECT_EQ(in.svid, 122);  // the target's 40 is the kernel's 122
  }
}

INSTANTIATE_TEST_SUITE_P(Raw, SubBitKnownAnswer,
                         ::testing::Values(SubBitCase{"edge_of_bit", GNSS_TYPE_GPS, 0, 1, 1, 0, 8, 0},
                                           SubBitCase{"mid_bit", GNSS_TYPE_GPS, 13, 512, 3, 700, 8, 0},
                                           SubBitCase{"last_chip_subchip_zero_field", GNSS_TYPE_GPS, 19, 1023, 0, 1023,
                                                      8, 0},
                                           SubBitCase{"peak_tap", GNSS_TYPE_GPS, 5, 100, 2, 10, 4, 250},
                                           SubBitCase{"nsc_1", GNSS_TYPE_GPS, 7, 9, 1, 512, 1, 0},
                                           SubBitCase{"sbas_2ms_bits", GNSS_TYPE_SBAS, 13, 300, 5, 1, 6, 3}),
                         [](const ::testing::TestParamInfo<SubBitCase>& i) { return std::string(i.param.name); });

TEST(RawConvert, NoSubChipCountGivesNoSubBitMeasurement) {
  start_kernel(4, 1);
  ASIC_CHAN_MEAS_T a = tracking(7, 0, 1000);
  a.peak_tap_loc = 17;
  a.code_phase_reg = code_phase_reg(3, 200, 0, 5);
  CH_MEAS_INPUT_T in{};
  RAW_convert_channel(0, 24552000, &a, &in);
  EXPECT_EQ(in.has_sub_bit, 0);
  EXPECT_TRUE(std::isfinite(in.sub_bit));
  EXPECT_TRUE(std::isfinite(in.dopp_freq));
}

// --- Doppler ---------------------------------------------------------------------------

struct NcoCase {
  const char* name;
  int tcxo_mode;
  S32 dop_freq;  // tracking NCO word
};
void PrintTo(const NcoCase& c, std::ostream* os) { *os << c.name; }

class NcoDoppler : public ::testing::TestWithParam<NcoCase> {};

// The tracking NCO runs at 2^29 / f_TCXO units per Hz: the Doppler is the
// zero-Doppler baseband frequency less the NCO frequency.
TEST_P(NcoDoppler, FromTheNcoWordWithTheTcxoScale) {
  const NcoCase& c = GetParam();
  start_kernel(c.tcxo_mode, 1);
  ASIC_CHAN_MEAS_T a = tracking(11, 8, 1000);
  a.dop_freq = c.dop_freq;
  CH_MEAS_INPUT_T in{};
  RAW_convert_channel(1, 0, &a, &in);
  const double f = TCXO_convert_mode_to_freq(c.tcxo_mode);
  const double nco_hz = c.dop_freq * f / 536870912.0;
  const double want = TCXO_get_ideal_baseband_carrier_freq() - nco_hz;
  // Single-precision NCO scale and result: 0.01 Hz (the Doppler needs 0.05 Hz).
  EXPECT_NEAR(in.nco_freq, nco_hz, 1e-2);
  EXPECT_NEAR(in.dopp_freq_by_nco_freq, want, 1e-2);
}

INSTANTIATE_TEST_SUITE_P(Raw, NcoDoppler,
                         ::testing::Values(NcoCase{"mode4_minus_2khz", 4, -43733}, NcoCase{"mode4_zero", 4, 0},
                                           NcoCase{"mode3_plus_4khz", 3, 110127},
                                           NcoCase{"mode0_offset_word", 0, 1051303 + 32801}),
                         [](const ::testing::TestParamInfo<NcoCase>& i) { return std::string(i.param.name); });

// Over a whole-second epoch of 1000 ms, the accumulated carrier in cycles is
// the baseband frequency in Hz.
TEST(RawConvert, CarrierDopplerOverAWholeSecond) {
  start_kernel(4, 1);
  std::array<ASIC_CHAN_MEAS_T, NUM_HW_CHANNELS> chans{};
  ASIC_CHAN_MEAS_T& a = chans[4];
  a = tracking(12, 8, 1000);
  a.track_issue = 2;
  a.acc_carrier_cycle = -1500;
  a.carrier_phase = 512;  // + 0.5 cycle
  ASSERT_EQ(feed_epoch(chans, 100, 0), 1);
  ASSERT_EQ(feed_epoch(chans, 101, 0), 1);
  const CHAN_T ch = CH_find_reference(4);
  EXPECT_EQ(CH_is_first_track_second(ch), 0);
  const double want = TCXO_get_ideal_baseband_carrier_freq() - (-1500 + 0.5);
  EXPECT_NEAR(CH_get_dopp_freq(ch), want, 1e-3);
  EXPECT_EQ(CH_is_unlock(ch), 0);
  KERNEL_close();
}

// --- Carrier slots ----------------------------------------------------------------------

ASIC_CHAN_MEAS_T carrier_record(U16 count) {
  ASIC_CHAN_MEAS_T a = tracking(9, 8, 100);
  for (int i = 0; i < MSG_CARRIER_ARY_N; ++i) {
    const auto k = static_cast<std::size_t>(i);
    a.start_carrier_phase_ary[k] = static_cast<S16>(100 * i);
    a.acc_carrier_cycle_ary[k] = static_cast<S16>(-150 - i);
    a.acc_carrier_cycle_count_ary[k] = 10;
    a.carrier_phase_no_good_count_ary[k] = static_cast<U08>(i % 2);
  }
  a.end_carrier_phase = 1000;
  a.carrier_phase_ary_count = count;
  return a;
}

// Slot i: whole cycles plus the phase (2^-10 cycle) from its start to the next
// slot's start, the last slot to the end phase.
TEST(RawConvert, CarrierSlotsFromThePhaseHistory) {
  start_kernel(4, 1);
  const ASIC_CHAN_MEAS_T a = carrier_record(3);
  CH_MEAS_INPUT_T in{};
  RAW_convert_channel(2, 0, &a, &in);
  ASSERT_EQ(in.carrier_in.array_count, 3);
  const std::array<double, 3> want = {-150 + 100 / 1024.0, -151 + 100 / 1024.0, -152 + (1000 - 200) / 1024.0};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_NEAR(in.carrier_in.array[i].acc_carrier_cycle, want[i], 1e-4) << i;
    EXPECT_EQ(in.carrier_in.array[i].acc_carrier_cycle_count, 10) << i;
    EXPECT_EQ(in.carrier_in.array[i].carrier_phase_no_good_count, i % 2) << i;
  }
}

struct SlotCountCase {
  const char* name;
  U16 count;
};
void PrintTo(const SlotCountCase& c, std::ostream* os) { *os << c.name; }
class SlotCountHostile : public ::testing::TestWithParam<SlotCountCase> {};

// A count outside 0..10 indexes past the 10-entry arrays: no slots.
TEST_P(SlotCountHostile, GivesNoSlots) {
  start_kernel(4, 1);
  const ASIC_CHAN_MEAS_T a = carrier_record(GetParam().count);
  CH_MEAS_INPUT_T in{};
  RAW_convert_channel(2, 0, &a, &in);
  EXPECT_EQ(in.carrier_in.array_count, 0);
  // The channel update hands the slots on without tripping the slot-count check.
  EXPECT_EQ(CH_update_measurement(CH_find_reference(2), &in), 0);
}

INSTANTIATE_TEST_SUITE_P(Raw, SlotCountHostile,
                         ::testing::Values(SlotCountCase{"eleven", 11}, SlotCountCase{"minus_one_byte", 0xFFFF},
                                           SlotCountCase{"minus_128_byte", 0xFF80}, SlotCountCase{"large", 300}),
                         [](const ::testing::TestParamInfo<SlotCountCase>& i) { return std::string(i.param.name); });

TEST(RawConvert, ClockCountArrayCountOutsideRangeIsNoSlots) {
  start_kernel(4, 1);
  std::array<U32, 10> clocks{};
  std::array<U16, 10> subsecs{};
  for (const S16 n : {S16{11}, S16{-1}, S16{32767}, S16{-32768}})
    CH_set_gtc_clock_counts(n, clocks.data(), subsecs.data());  // a count above 10 would trip the slot check
  SUCCEED();
}

// --- Epochs ---------------------------------------------------------------------------------

struct RateCase {
  const char* name;
  U16 position_rate;
  U32 ms;
  S16 taken;
};
void PrintTo(const RateCase& c, std::ostream* os) { *os << c.name; }
class EpochRate : public ::testing::TestWithParam<RateCase> {};

TEST_P(EpochRate, HalfSecondSetsAtOneHertzAreDropped) {
  const RateCase& c = GetParam();
  start_kernel(4, c.position_rate);
  std::array<ASIC_CHAN_MEAS_T, NUM_HW_CHANNELS> chans{};
  EXPECT_EQ(feed_epoch(chans, 200, c.ms), c.taken);
  KERNEL_close();
}

INSTANTIATE_TEST_SUITE_P(Raw, EpochRate,
                         ::testing::Values(RateCase{"1hz_whole_second", 1, 0, 1},
                                           RateCase{"1hz_half_second", 1, 500, 0}, RateCase{"1hz_other_ms", 1, 100, 1},
                                           RateCase{"2hz_half_second", 2, 500, 1},
                                           RateCase{"2hz_whole_second", 2, 0, 1}),
                         [](const ::testing::TestParamInfo<RateCase>& i) { return std::string(i.param.name); });

TEST(RawEpochs, EarlyMeasurementsKeepTheHalfSecondSet) {
  start_kernel(4, 1);
  RAW_try_to_use_early_meas_in_hot_start();
  std::array<ASIC_CHAN_MEAS_T, NUM_HW_CHANNELS> chans{};
  EXPECT_EQ(feed_epoch(chans, 200, 500), 1);
  RAW_stop_use_early_meas_in_hot_start();
  EXPECT_EQ(feed_epoch(chans, 201, 500), 0);
  KERNEL_close();
}

// --- Time count and measurement interval --------------------------------------------------

// What the time-count callback receives (installed in place of the kernel's chain).
struct GtcSeen {
  S16 wn;
  D64 tow, meas_dt, shift_dt;
};
std::vector<GtcSeen> Gtc_seen;
void on_gtc(S16 wn, D64 tow, D64 meas_dt, D64 shift_dt) { Gtc_seen.push_back(GtcSeen{wn, tow, meas_dt, shift_dt}); }

// TCXO clocks of millisecond m of a second at frequency f: the first
// f mod 1000 milliseconds of each second last one clock longer.
long long ms_clocks(long long f, int m) { return f / 1000 + (m < f % 1000 ? 1 : 0); }
long long clocks_between(long long f, int from_ms, int to_ms) {  // [from, to) within one second
  long long n = 0;
  for (int m = from_ms; m < to_ms; ++m) n += ms_clocks(f, m);
  return n;
}

struct GtcCase {
  const char* name;
  int tcxo_mode;
  U16 rate;
  std::vector<U32> ms;  // epochs' milliseconds, one a second or two, from second 300
  S16 shift;            // time-count shift reported with the last epoch, ms
};
void PrintTo(const GtcCase& c, std::ostream* os) { *os << c.name; }
class GtcTime : public ::testing::TestWithParam<GtcCase> {};

TEST_P(GtcTime, TimeOfWeekAndIntervalInTcxoClocks) {
  const GtcCase& c = GetParam();
  start_kernel(c.tcxo_mode, c.rate);
  RAW_install_gtc_out_callback(on_gtc);
  Gtc_seen.clear();
  const long long f = TCXO_convert_mode_to_freq(c.tcxo_mode);
  U32 sec = 300;
  for (std::size_t i = 0; i < c.ms.size(); ++i) {
    if (i > 0 && c.ms[i] <= c.ms[i - 1]) ++sec;
    const GTC_RD_T gtc = gtc_of(2300, sec, c.ms[i]);
    const ASIC_READ_RTC_T rtc{};
    WRAP_set_asic_gtc(&gtc, i + 1 == c.ms.size() ? c.shift : S16{0}, 0, 0, nullptr, 0, &rtc);
    KERNEL_loop();
  }
  ASSERT_EQ(Gtc_seen.size(), c.ms.size());
  sec = 300;
  for (std::size_t i = 0; i < c.ms.size(); ++i) {
    SCOPED_TRACE(i);
    const int m = static_cast<int>(c.ms[i]);
    if (i > 0 && c.ms[i] <= c.ms[i - 1]) ++sec;
    EXPECT_EQ(Gtc_seen[i].wn, 2300);
    EXPECT_NEAR(Gtc_seen[i].tow, sec + static_cast<double>(clocks_between(f, 0, m)) / f, 1e-12);
    // The interval from the previous epoch (the first: one nominal period back).
    const int prev = i > 0 ? static_cast<int>(c.ms[i - 1]) : (m - 1000 / c.rate + 1000) % 1000;
    long long clocks = prev < m ? clocks_between(f, prev, m) : clocks_between(f, prev, 1000) + clocks_between(f, 0, m);
    const bool last = i + 1 == c.ms.size();
    long long shift_clocks = 0;
    if (last && c.shift != 0) shift_clocks = clocks_between(f, 526, 526 + c.shift);  // shifted ms start at 526
    EXPECT_NEAR(Gtc_seen[i].meas_dt, static_cast<double>(clocks - shift_clocks) / f, 1e-12);
    EXPECT_NEAR(Gtc_seen[i].shift_dt, static_cast<double>(shift_clocks) / f, 1e-12);
  }
  KERNEL_close();
}

INSTANTIATE_TEST_SUITE_P(Raw, GtcTime,
                         ::testing::Values(GtcCase{"mode4_1hz", 4, 1, {0, 0, 0}, 0},
                                           GtcCase{"mode0_2hz_unequal_ms", 0, 2, {0, 500, 0, 500}, 0},
                                           GtcCase{"mode0_1hz_700ms", 0, 1, {700, 700}, 0},
                                           GtcCase{"mode2_2hz", 2, 2, {500, 0, 500}, 0},
                                           GtcCase{"mode4_shift_2ms", 4, 1, {0, 0}, 2},
                                           GtcCase{"mode0_shift_3ms", 0, 1, {0, 0}, 3},
                                           GtcCase{"mode0_shift_200ms_past_fraction", 0, 1, {0, 0}, 200}),
                         [](const ::testing::TestParamInfo<GtcCase>& i) { return std::string(i.param.name); });

// The seconds register has 20 bits (up to 1 048 575) but a week 604 800 s: a
// count past the week's end is reduced modulo 604 800, the whole week carried
// into the 12-bit week, so that the time of week handed on stays inside the
// week and the time stays continuous.
struct TowOutsideCase {
  const char* name;
  U32 wn, sec;     // registers
  S16 expect_wn;   // week handed on
  D64 expect_tow;  // s
};
void PrintTo(const TowOutsideCase& c, std::ostream* os) { *os << c.name; }
class GtcTowOutsideWeek : public ::testing::TestWithParam<TowOutsideCase> {};

TEST_P(GtcTowOutsideWeek, IsReducedModuloTheWeek) {
  const TowOutsideCase& c = GetParam();
  start_kernel(4, 1);
  RAW_install_gtc_out_callback(on_gtc);
  Gtc_seen.clear();
  // The second before, then the case: the interval between them stays one second.
  const U32 prev_sec = c.sec == 0 ? SECONDS_PER_WEEK - 1 : c.sec - 1;
  const U32 prev_wn = c.sec == 0 ? (c.wn + 4095) % 4096 : c.wn;
  const ASIC_READ_RTC_T rtc{};
  for (const GTC_RD_T& gtc : {gtc_of(prev_wn, prev_sec, 0), gtc_of(c.wn, c.sec, 0)}) {
    WRAP_set_asic_gtc(&gtc, 0, 0, 0, nullptr, 0, &rtc);
    KERNEL_loop();
  }
  ASSERT_EQ(Gtc_seen.size(), 2U);
  EXPECT_EQ(Gtc_seen[1].wn, c.expect_wn);
  EXPECT_EQ(Gtc_seen[1].tow, c.expect_tow);
  EXPECT_LT(Gtc_seen[0].tow, SECONDS_PER_WEEK);
  EXPECT_NEAR(Gtc_seen[1].meas_dt, 1.0, 1e-12);
  KERNEL_close();
}

INSTANTIATE_TEST_SUITE_P(Raw, GtcTowOutsideWeek,
                         ::testing::Values(TowOutsideCase{"last_second_of_the_week", 2300, 604799, 2300, 604799.0},
                                           TowOutsideCase{"first_second_of_a_week", 2301, 0, 2301, 0.0},
                                           TowOutsideCase{"one_week_exactly", 2300, 604800, 2301, 0.0},
                                           TowOutsideCase{"one_past_the_week", 2300, 604801, 2301, 1.0},
                                           TowOutsideCase{"largest_20_bit_count", 2300, 1048575, 2301, 443775.0},
                                           TowOutsideCase{"week_4095_wraps_to_0", 4095, 604805, 0, 5.0}),
                         [](const ::testing::TestParamInfo<TowOutsideCase>& i) { return std::string(i.param.name); });

// --- Hostile channel reports through a started kernel --------------------------------------

struct HostileCase {
  const char* name;
  void (*apply)(ASIC_CHAN_MEAS_T& m, U32& ms);  // ms: the epoch's millisecond register
};
void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }
class HostileReport : public ::testing::TestWithParam<HostileCase> {};

ASIC_CHAN_MEAS_T good_report() {
  ASIC_CHAN_MEAS_T m = tracking(14, 8, 1000);
  m.state = CH_MEAS_AVAILABLE;
  m.track_issue = 3;
  m.bitcnt = 5000;
  m.acc_power = 4000000000u;
  m.cn_count = 1;
  m.cn_div = 1;
  m.cn_integ = 20;
  m.acc_carrier_cycle = -1500;
  m.code_phase_reg = (1u << 28) | (5u << 11) | 100u;
  m.dop_freq = -30000;
  m.carrier_phase_ary_count = 2;
  return m;
}

// Every value the kernel keeps stays finite and the C/N0 non-negative; a
// transmit time from a prediction lies within the week.
TEST_P(HostileReport, KeepsEveryValueFinite) {
  start_kernel(0, 1);
  std::array<ASIC_CHAN_MEAS_T, NUM_HW_CHANNELS> chans{};
  U32 ms = 0;
  chans[9] = good_report();
  GetParam().apply(chans[9], ms);
  for (U32 sec = 400; sec < 403; ++sec) feed_epoch(chans, sec, ms, 2500000);
  const CHAN_T ch = CH_find_reference(9);
  CH_update_predict_bitcnt0(ch, CH_get_gnss_type(ch), CH_get_svid(ch), CH_get_issue_id(ch), 2000000000);
  EXPECT_TRUE(std::isfinite(CH_get_f32_cnr(ch)));
  EXPECT_GE(CH_get_f32_cnr(ch), 0.0f);
  EXPECT_TRUE(std::isfinite(CH_get_dopp_freq(ch)));
  EXPECT_TRUE(std::isfinite(CH_get_nco_freq_in_hz(ch)));
  EXPECT_TRUE(std::isfinite(CH_get_nco_freq_to_dopp_in_hz(ch)));
  D64 v = 0.0;
  if (CH_get_sub_bit(ch, &v)) {
    EXPECT_TRUE(std::isfinite(v));
  }
  if (CH_get_transmit_time(ch, &v)) {
    EXPECT_TRUE(std::isfinite(v));
    EXPECT_GE(v, 0.0);
    EXPECT_LT(v, 604800.0);
  }
  KERNEL_close();
}

INSTANTIATE_TEST_SUITE_P(
    Raw, HostileReport,
    ::testing::Values(HostileCase{"reference", [](ASIC_CHAN_MEAS_T&, U32&) {}},
                      HostileCase{"all_fields_max",
                                  [](ASIC_CHAN_MEAS_T& m, U32&) {
                                    m.bitcnt = 0xFFFFFFFFu;
                                    m.acc_power = 0xFFFFFFFFu;
                                    m.cn_count = 32767;
                                    m.cn_div = 127;
                                    m.cn_shift = 127;
                                    m.cn_integ = 32767;
                                    m.nsc = 255;
                                    m.peak_tap_loc = 255;
                                    m.unlock_count = 32767;
                                    m.carrier_phase = 32767;
                                    m.acc_carrier_cycle = 2147483647;
                                    m.acc_carrier_cycle_count = 0xFFFFFFFFu;
                                    m.code_phase_reg = 0xFFFFFFFFu;
                                    m.dop_freq = 2147483647;
                                    m.carrier_phase_ary_count = 0xFFFF;
                                    m.end_carrier_phase = 0xFFFF;
                                    m.unlock_status = 0xFFFFFFFFu;
                                    m.debug_msg = 0xFFFFFFFFu;
                                  }},
                      HostileCase{"all_fields_min",
                                  [](ASIC_CHAN_MEAS_T& m, U32&) {
                                    m.cn_count = -32768;
                                    m.cn_div = -128;
                                    m.cn_shift = -128;
                                    m.cn_integ = -32768;
                                    m.carrier_phase = -32768;
                                    m.acc_carrier_cycle = -2147483647 - 1;
                                    m.dop_freq = -2147483647 - 1;
                                    for (auto& x : m.start_carrier_phase_ary) x = -32768;
                                    for (auto& x : m.acc_carrier_cycle_ary) x = -32768;
                                  }},
                      HostileCase{"nsc_0", [](ASIC_CHAN_MEAS_T& m, U32&) { m.nsc = 0; }},
                      HostileCase{"carrier_ms_1", [](ASIC_CHAN_MEAS_T& m, U32&) { m.acc_carrier_cycle_count = 1; }},
                      HostileCase{"no_carrier", [](ASIC_CHAN_MEAS_T& m, U32&) { m.acc_carrier_cycle_count = 0; }},
                      HostileCase{"type_negative_prn_negative",
                                  [](ASIC_CHAN_MEAS_T& m, U32&) {
                                    m.gnss_type = -1;
                                    m.prn = -1;
                                  }},
                      HostileCase{"glonass_k_num_extreme",
                                  [](ASIC_CHAN_MEAS_T& m, U32&) {
                                    m.gnss_type = GNSS_TYPE_GLONASS;
                                    m.k_num = -128;
                                    m.prn = 0;
                                  }},
                      HostileCase{"sbas_prn_127",
                                  [](ASIC_CHAN_MEAS_T& m, U32&) {
                                    m.gnss_type = GNSS_TYPE_SBAS;
                                    m.prn = 127;
                                  }},
                      HostileCase{"ms_register_2047", [](ASIC_CHAN_MEAS_T&, U32& ms) { ms = 2047; }},
                      HostileCase{"ms_register_1500", [](ASIC_CHAN_MEAS_T&, U32& ms) { ms = 1500; }}),
    [](const ::testing::TestParamInfo<HostileCase>& i) { return std::string(i.param.name); });

}  // namespace
