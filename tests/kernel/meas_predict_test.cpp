// Measurement prediction for the target: the predictor's arithmetic as known
// answers worked by hand (bit counts, code phase in 1/8192 chip, code rate,
// tracking-NCO word), the transmit time and Doppler of a satellite against
// the simulated sky's own orbit and clock, the start-up lapse rules, the QZSS
// limit, which satellites an almanac alone lets in, and the frames one
// second's prediction sends.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/host_callbacks.h"
#include "host/host_start_record.h"
#include "host/wrap.h"
#include "kernel/src/almanac.h"
#include "kernel/src/ephemeris.h"
#include "kernel/src/kernel.h"
#include "kernel/src/kernel_meas_predict.h"
#include "kernel/src/meas_predictor.h"
#include "kernel/src/navigate.h"
#include "kernel/src/satellite.h"
#include "kernel/src/tcxo_freq.h"
#include "misc/dispatch.h"
#include "misc/endian_swap.h"
#include "misc/host_msg.h"
#include "misc/pack.h"
#include "misc/start_files.h"
#include "test_util.h"
#include "tests/kernel/sky_ephemeris.h"
#include "tools/sky/sky.h"
#include "tools/sky/sky_link.h"
#include "tools/sky/sky_predict.h"

namespace {

constexpr double C = 299792458.0;  // m/s
constexpr double L1 = 1575.42e6;   // Hz

// ---- MP_predict_bitcnt: round((t1 - t0) x bps), halves away from zero ----

struct BitcntCase {
  const char* name;
  D64 t1, t0;
  S16 bps;
  S32 expect;
};

// Times that are binary fractions, so the halves are exact halves.
const std::array<BitcntCase, 9> BITCNT = {{
    {"no time", 100.0, 100.0, 50, 0},
    {"half a bit forward rounds up", 0.01, 0.0, 50, 1},  // 0.01 x 50 = 0.5000000000000001
    {"exact half forward", 0.5, 0.0, 1, 1},
    {"exact half backward", 0.0, 0.5, 1, -1},
    {"two and a half forward", 2.5, 0.0, 1, 3},
    {"two and a half backward", 0.0, 2.5, 1, -3},
    {"1.5 bits at 4 per second", 0.375, 0.0, 4, 2},
    {"just under a half", 0.49, 0.0, 1, 0},
    {"six seconds of bits", 345606.0, 345600.0, 50, 300},
}};

TEST(MpPredictBitcnt, RoundsHalvesAwayFromZero) {
  for (const BitcntCase& c : BITCNT) EXPECT_EQ(MP_predict_bitcnt(c.t1, c.t0, c.bps), c.expect) << c.name;
}

TEST(MpPredictBitcnt, NonFiniteOrHugeStaysInRange) {
  EXPECT_EQ(MP_predict_bitcnt(std::nan(""), 0.0, 50), 0);
  EXPECT_EQ(MP_predict_bitcnt(1e300, 0.0, 50), 2147483647);
  EXPECT_EQ(MP_predict_bitcnt(-1e300, 0.0, 50), -2147483647 - 1);
}

// ---- MP_predict_sub_bit_equation ----

struct SubBitCase {
  const char* name;
  int tcxo_mode;
  D64 ttime;          // s of week
  D64 rate;           // m/s, positive approaching
  S32 code_phase;     // 1/8192 chip
  S32 tol_phase;      // 1/8192 chip (0: exact)
  S32 code_rate;      // 1/8192 chip/s
  S32 nco_no_offset;  // NCO word less TCXO_get_tm_nco_offset0()
};

// Worked by hand. Code phase = 1023 chips/ms x ms into the bit x 8192:
// 15.625 ms -> 130 944 000; 7.8125 ms -> 65 472 000; 19.53125 ms -> 163 680 000.
// Code rate = -rate x 1 023 000 x 8192 / c: rate = c x 1e-6 gives
// -8380.416 -> -8380, rate = -2.5e-6 c gives 20951.04 -> 20951.
// NCO word = -rate / c x L1 x TM scale: c x 1e-6 is -1575.42 Hz; x 32.80002975
// (mode 1) = -51673.82 -> -51673, x 21.86668777 (mode 4) = -34449.22 -> -34449;
// -2.5e-6 c is +3938.55 Hz; x 32.80002975 = 129184.56 -> 129184.
// Near the end of the week 0.02 s is not a binary fraction: the remainder
// comes out some 7e-12 s short, less than one unit (1/8192 chip = 1.2e-10 s).
const std::array<SubBitCase, 8> SUB_BIT = {{
    {"start of a bit, at rest", 1, 0.0, 0.0, 0, 0, 0, 0},
    {"15.625 ms into the bit", 1, 0.015625, 0.0, 130944000, 0, 0, 0},
    {"7.8125 ms into the bit", 4, 0.0078125, 0.0, 65472000, 0, 0, 0},
    {"last ms of the bit", 1, 0.01953125, 0.0, 163680000, 0, 0, 0},
    {"approaching at 1e-6 c, mode 1", 1, 0.015625, C * 1e-6, 130944000, 0, -8380, -51673},
    {"approaching at 1e-6 c, mode 4", 4, 0.015625, C * 1e-6, 130944000, 0, -8380, -34449},
    {"receding at 2.5e-6 c", 1, 0.0078125, -2.5e-6 * C, 65472000, 0, 20951, 129184},
    {"late in the week", 1, 345600.015625, 0.0, 130944000, 1, 0, 0},
}};

TEST(MpPredictSubBit, CodePhaseCodeRateAndNcoWordKnownAnswers) {
  for (const SubBitCase& c : SUB_BIT) {
    ASSERT_EQ(TCXO_init(c.tcxo_mode), 1) << c.name;
    MP_SUB_BIT_T s;
    MP_predict_sub_bit_equation(c.ttime, c.rate, &s);
    EXPECT_NEAR(s.code_phase, c.code_phase, c.tol_phase) << c.name;
    EXPECT_EQ(s.code_rate, c.code_rate) << c.name;
    EXPECT_EQ(s.nco_word, c.nco_no_offset + TCXO_get_tm_nco_offset0()) << c.name;
  }
  MP_predict_sub_bit_equation(0.0, 0.0, nullptr);  // no record: nothing written, no fault
}

// ---- the predictor against the sky's orbit and clock ----

constexpr int WEEK = 2400;
constexpr double T0 = 300000.0;
constexpr double LAT = 48.1, LON = 11.6, HGT = 500.0;

POS_T ecef_of(double lat_deg, double lon_deg, double h) {
  constexpr double A = 6378137.0, F = 1.0 / 298.257223563;
  const double e2 = F * (2.0 - F);
  const double lat = lat_deg * M_PI / 180.0, lon = lon_deg * M_PI / 180.0;
  const double n = A / std::sqrt(1.0 - e2 * std::sin(lat) * std::sin(lat));
  return POS_T{(n + h) * std::cos(lat) * std::cos(lon), (n + h) * std::cos(lat) * std::sin(lon),
               (n * (1.0 - e2) + h) * std::sin(lat)};
}

class MeasPredictSky : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(init_full_sky(WEEK, T0, LAT, LON), 1);
    EPH_init_storage_address(nullptr, 0);
    EPH_init(nullptr);
    ALM_init_storage_address(nullptr, 0);
    ALM_clear_all();
    SV_init();
    ASSERT_EQ(TCXO_init(4), 1);
    KMPREDICT_init(0, 0);
  }
  SV_T with_ephemeris(int svid) {
    load_sky_ephemeris(svid, sky_frame(svid, WEEK, T0));
    return SV_get_reference(GNSS_TYPE_GPS, static_cast<S16>(svid));
  }
  // A satellite known only from its almanac (the ephemeris seeds it, then goes).
  SV_T almanac_only(int svid) {
    const SV_T sv = with_ephemeris(svid);
    EPH_clear_one(static_cast<S16>(svid));
    EXPECT_EQ(SV_has_ephemeris(sv), 0);
    EXPECT_EQ(SV_has_almanac(sv), 1);
    return sv;
  }
};

// The satellite time stamp of the code received at T0 by a receiver at rest
// (light time iterated in the rotating frame, plus the satellite clock with
// relativity, without T_GD) and the Doppler it sees, from the sky's own
// ephemeris arithmetic; the predictor's code phase must be within 1/8 chip
// (the satellite's T_GD and the range terms it leaves out are far smaller),
// its NCO word within 1 Hz.
TEST_F(MeasPredictSky, TransmitTimeAndDopplerAgainstTheSkysOrbit) {
  const POS_T rcv = ecef_of(LAT, LON, HGT);
  const VEL_T still{};
  int checked = 0;
  for (int svid = 1; svid <= 32; ++svid) {
    SKY_EPH_T eph{};
    if (!SKY_get_ephemeris(svid, SKY_GPST_T{WEEK, T0}, &eph)) continue;
    const SV_T sv = with_ephemeris(svid);
    double tx = T0 - 0.075, pos[3] = {}, vel[3] = {}, clk = 0.0;
    for (int it = 0; it < 6; ++it) {
      ASSERT_EQ(SKY_eph_sat_state(&eph, SKY_GPST_T{WEEK, tx}, pos, vel, &clk), 1);
      const double th = 7.2921151467e-5 * (T0 - tx);  // Earth's turn during the flight
      const double x = pos[0] * std::cos(th) + pos[1] * std::sin(th);
      const double y = -pos[0] * std::sin(th) + pos[1] * std::cos(th);
      const double r = std::hypot(rcv.px - x, rcv.py - y, rcv.pz - pos[2]);
      tx = T0 - r / C;
    }
    const double d[3] = {rcv.px - pos[0], rcv.py - pos[1], rcv.pz - pos[2]};
    const double r = std::hypot(d[0], d[1], d[2]);
    const double approach = (vel[0] * d[0] + vel[1] * d[1] + vel[2] * d[2]) / r;  // m/s
    const double stamp = tx + clk;
    MP_SIGNAL_T sig;
    ASSERT_EQ(MP_estimate_signal_ttime(0.075, 0, WEEK, T0, &rcv, &still, sv, &sig), 1) << svid;
    EXPECT_EQ(sig.precise, 1) << svid;
    MP_SUB_BIT_T sub;
    MP_predict_sub_bit_equation(sig.ttime, sig.rate, &sub);
    const double true_code = std::fmod(stamp, 0.020) * 1023000.0 * 8192.0;
    double err = (sub.code_phase - true_code) / 8192.0;  // chips
    err -= 20460.0 * std::round(err / 20460.0);
    EXPECT_LT(std::fabs(err), 0.125) << "PRN " << svid << " code phase " << err << " chips off";
    EXPECT_EQ(sig.msc, static_cast<S16>(std::llround(stamp * 1000.0) % 20)) << svid;
    EXPECT_NEAR(sig.rate, approach, 0.05) << svid;
    const double true_word = -approach / C * L1 * TCXO_get_tm_nco_freq_scale() + TCXO_get_tm_nco_offset0();
    EXPECT_NEAR(sub.nco_word, true_word, 1.0 * TCXO_get_tm_nco_freq_scale()) << svid;
    ++checked;
  }
  EXPECT_GE(checked, 8);
}

// An almanac alone gives a (rough) position only once the receiver has fixed:
// before, the satellite is not predicted; after, it is predicted as imprecise
// and also goes to the weak-search list. A satellite with an ephemeris is
// precise, and enters the weak list only while the chip cannot be predicted.
TEST_F(MeasPredictSky, AlmanacOnlySatellitePredictedAfterAFixOnly) {
  const POS_T rcv = ecef_of(LAT, LON, HGT);
  const VEL_T still{};
  const std::array<SV_T, 1> alm = {almanac_only(7)};
  const std::array<SV_T, 1> eph = {with_ephemeris(5)};
  struct Case {
    const char* name;
    const SV_T* svs;
    S16 has_fixed, can_chip;
    S16 nmeas, by_eph, nweak;
  };
  const std::array<Case, 6> cases = {{
      {"almanac only, no fix yet", alm.data(), 0, 0, 0, 0, 0},
      {"almanac only, after a fix", alm.data(), 1, 1, 1, 0, 1},
      {"almanac only, after a fix, chip not predictable", alm.data(), 1, 0, 1, 0, 1},
      {"ephemeris, no fix yet, chip not predictable", eph.data(), 0, 0, 1, 1, 1},
      {"ephemeris, after a fix, chip predictable", eph.data(), 1, 1, 1, 1, 0},
      {"ephemeris, after a fix, chip not predictable", eph.data(), 1, 0, 1, 1, 1},
  }};
  for (const Case& c : cases) {
    KMPREDICT_LIST_T l;
    KMPREDICT_predict_list(c.has_fixed, c.can_chip, WEEK, T0, &rcv, &still, 0.0f, 1, c.svs, &l);
    ASSERT_EQ(l.nmeas, c.nmeas) << c.name;
    EXPECT_EQ(l.nweak, c.nweak) << c.name;
    if (c.nmeas == 0) continue;
    EXPECT_EQ(l.meas[0].prn, SV_get_svid(c.svs[0])) << c.name;
    EXPECT_EQ(l.meas[0].by_eph_flag, c.by_eph) << c.name;
    EXPECT_EQ(l.meas[0].code_rate_per_ms, static_cast<S16>(l.meas[0].code_rate / 1000)) << c.name;
    if (c.nweak == 0) continue;
    EXPECT_EQ(l.weak[0].prn, l.meas[0].prn) << c.name;
    EXPECT_GE(l.weak[0].dmsc, 0) << c.name;
    EXPECT_LT(l.weak[0].dmsc, 20) << c.name;
    // Its Doppler in search-NCO units agrees with the tracking word's.
    const double hz_track = -(l.meas[0].dop_freq - TCXO_get_tm_nco_offset0()) / TCXO_get_tm_nco_freq_scale();
    EXPECT_NEAR(l.weak[0].dopp / TCXO_get_pse_nco_freq_scale(), hz_track, 1.0) << c.name;
  }
}

// ---- the QZSS limit ----

TEST(KmpredictQzss, OnlyTheFirstMaxNumQzssSatellitesArePredicted) {
  struct Case {
    const char* name;
    S16 enable, max_num, prn;
    D64 guess;  // s; 0: not predicted
  };
  const std::array<Case, 10> cases = {{
      {"GPS 1", 1, 1, 1, 0.075},
      {"GPS 32", 1, 1, 32, 0.075},
      {"QZSS 33, max 1", 1, 1, 33, 0.116},
      {"QZSS 34, max 1", 1, 1, 34, 0.0},
      {"QZSS 35, max 1", 1, 1, 35, 0.0},
      {"QZSS 35, max 3", 1, 3, 35, 0.116},
      {"QZSS 37, max 5", 1, 5, 37, 0.116},
      {"QZSS 33, disabled", 0, 5, 33, 0.0},
      {"spare 38", 1, 5, 38, 0.0},
      {"PRN 0", 1, 5, 0, 0.0},
  }};
  for (const Case& c : cases) {
    KMPREDICT_init(0, 0);
    KMPREDICT_set_qzss_mask(c.enable, c.max_num);
    EXPECT_EQ(KMPREDICT_travel_guess(c.prn), c.guess) << c.name;
  }
  KMPREDICT_init(0, 0);
  EXPECT_EQ(KMPREDICT_travel_guess(35), 0.0) << "start-up: QZSS enabled, at most 1";
  EXPECT_EQ(KMPREDICT_travel_guess(33), 0.116) << "start-up: QZSS enabled, at most 1";
}

// ---- start-up lapse rules ----

TEST(KmpredictInit, LapseRules) {
  struct Case {
    const char* name;
    S16 hot;
    S32 lapse;  // s
    S16 cb, msc;
  };
  const std::array<Case, 9> cases = {{
      {"hot, 5 minutes", 1, 300, 1, 1},
      {"hot, 600 s", 1, 600, 1, 1},
      {"hot, 601 s", 1, 601, 1, 0},
      {"hot, 30 minutes", 1, 1800, 1, 0},
      {"hot, 7200 s", 1, 7200, 1, 0},
      {"hot, 7201 s", 1, 7201, 0, 0},
      {"hot, negative lapse", 1, -5, 0, 0},
      {"not hot, 5 minutes", 0, 300, 0, 0},
      {"not hot, no lapse", 0, 0, 0, 0},
  }};
  for (const Case& c : cases) {
    KMPREDICT_init(c.hot, c.lapse);
    KMPREDICT_STATE_T st;
    KMPREDICT_get_state(&st);
    EXPECT_EQ(st.can_predict_clock_bias, c.cb) << c.name;
    EXPECT_EQ(KMPREDICT_is_can_predict_cb(), c.cb) << c.name;
    EXPECT_EQ(st.can_predict_msc, c.msc) << c.name;
    EXPECT_EQ(st.can_predict_chip, 0) << c.name;
    EXPECT_EQ(st.has_predict_clock_bias, 0) << c.name;
    EXPECT_EQ(st.predict_cb_by_one_ch_fs, 0) << c.name;
    EXPECT_EQ(KMPREDICT_if_predict_cb_is_from_one_ch_fs(), 0) << c.name;
    EXPECT_EQ(st.do_not_predict_meas, 0) << c.name;
    EXPECT_EQ(st.has_good_ref_fix, 0) << c.name;
    EXPECT_EQ(st.no_good_ref_second_count, 1) << c.name;
    EXPECT_EQ(st.qzss_enable, 1) << c.name;
    EXPECT_EQ(st.qzss_max_num, 1) << c.name;
  }
}

// ---- the frames of one second, a kernel started on a warm-start set ----

std::vector<std::vector<U08>> Frames;
void capture(const U08* f, int len) {
  if (len > 2 && (f[2] == MSG_TYPE_ASIC_PREDICT_MEAS || f[2] == MSG_TYPE_PSE_WEAK_ARRAY))
    Frames.emplace_back(f, f + len);
}

struct StartCase {
  const char* name;
  int age_s;         // the stored fix's age at the start, s
  bool bias;         // the RTC module has predicted a clock bias
  bool fault;        // the fix was found faulty since
  bool expect_sent;  // one ASIC_PREDICT_MEAS and one PSE_WEAK_ARRAY
};

// Before a fix a prediction needs the code millisecond (a hot start of under
// 601 s) and a predicted clock bias; a position-fix fault stops it. With no
// ephemeris stored there is nothing on the sky yet: the frames carry no
// entries, the raw time count second 0 (no epoch yet) and
// can_predict_to_chip 0, byte for byte: 4A 58 11, num 00, ref 00000000,
// can 00, 20 x 16 zero bytes, the checksum; then 4A 58 0B with num 00.
const std::array<StartCase, 5> STARTS = {{
    {"5 minutes, bias predicted", 300, true, false, true},
    {"5 minutes, no bias yet", 300, false, false, false},
    {"30 minutes, bias predicted", 1800, true, false, false},
    {"5 minutes, bias predicted, fix fault", 300, true, true, false},
    {"under a minute, bias predicted", 30, true, false, true},
}};

TEST(KmpredictProcess, BeforeTheFirstFixNeedsMillisecondAndBias) {
  for (const StartCase& c : STARTS) {
    const std::string text =
        "start_week = 2400\nstart_tow = 345600\nlat = 35.5\nlon = 139.25\nheight = 55\n"
        "duration = 2\nnsat = 6\nwarm_start = 1\nwarm_start_age = " +
        std::to_string(c.age_s) + "\n";
    static SKY_SCENARIO_T sc;
    sc = SKY_SCENARIO_T{};
    char err[200] = "";
    ASSERT_EQ(SKY_parse_scenario(text.c_str(), &sc, err, sizeof err), 1) << err;
    ASSERT_EQ(SKY_init(&sc), 1);
    talon_test::TempDir dir;
    ASSERT_EQ(SKY_LINK_write_set(&sc, SKY_LINK_PARAM_T{}, SKY_LINK_core_source(), dir.path().c_str(), err, sizeof err),
              2)
        << err;
    const std::vector<U08> rtc = talon_test::read_file(dir.file("rtc_data.dat"));
    const std::vector<U08> image = talon_test::read_file(dir.file("log_init.dat"));
    ASSERT_EQ(image.size(), static_cast<std::size_t>(HOST_IMAGE_SIZE));
    static std::array<U08, HOST_IMAGE_SIZE> region, alm;
    std::memcpy(region.data(), image.data(), region.size());
    alm.fill(0);
    WRAP_init(0, nullptr);
    WRAP_set_asic_rtc(static_cast<S16>(rtc[8] | (rtc[9] << 8)),
                      static_cast<S32>(rtc[0] | (rtc[1] << 8) | (rtc[2] << 16) | (static_cast<U32>(rtc[3]) << 24)),
                      rtc[4] | (rtc[5] << 8) | (rtc[6] << 16) | (static_cast<U32>(rtc[7]) << 24));
    KERNEL_INIT_T k = HOST_builtin_kernel_init(static_cast<S16>(sc.tcxo_mode));
    k.backup_mem_p = region.data();
    k.nvram_alm_mem_p = alm.data();
    KERNEL_init(&k);
    KERNEL_START_STATE_T st{};
    KERNEL_get_start_state(&st);
    ASSERT_EQ(st.can_do_hot_start, 1) << c.name;
    ASSERT_EQ(st.dt, c.age_s) << c.name;
    if (c.bias) KMPREDICT_set_has_predict_cb_flag();
    if (c.fault) KMPREDICT_reset_prediction_flag();
    Frames.clear();
    WRAP_install_command_sink(capture);
    KMPREDICT_process();
    WRAP_install_command_sink(nullptr);
    KERNEL_close();
    if (!c.expect_sent) {
      EXPECT_TRUE(Frames.empty()) << c.name;
      continue;
    }
    ASSERT_EQ(Frames.size(), 2U) << c.name;
    std::vector<U08> want = {0x4A, 0x58, MSG_TYPE_ASIC_PREDICT_MEAS, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    want.resize(329, 0x00);
    want.push_back(calc_checksum(want.data(), static_cast<int>(want.size())));
    EXPECT_EQ(Frames[0], want) << c.name;
    ASSERT_GE(Frames[1].size(), 4U) << c.name;
    EXPECT_EQ(Frames[1][2], MSG_TYPE_PSE_WEAK_ARRAY) << c.name;
    EXPECT_EQ(Frames[1][3], 0x00) << c.name;
  }
}

}  // namespace

namespace {

// ---- the clock from one frame-synchronised channel, in a live kernel ----

std::vector<std::vector<U08>> Lists;
void capture_lists(const U08* f, int len) {
  if (len > 2 && f[2] == MSG_TYPE_ASIC_PREDICT_MEAS) {
    Lists.emplace_back(f, f + len);
    EXPECT_EQ(SKY_PREDICT_take(f), 1);  // recorded with the sky's truth of its second
  }
}

// A hot start a minute after the stored fix (position, time, RTC; no
// ephemeris stored) under a sky of only two satellites: no fix can be made,
// but once a channel has its frame sync and its satellite's ephemeris the
// kernel takes the receiver clock from that channel's pseudorange against the
// range from the stored position and starts predicting, though not to the
// chip. Each prediction is checked against the sky's truth of its second:
// code phase within 1/8 chip, Doppler within half a hot-search bin.
TEST(KmpredictOneChannel, ClockFromOneFrameSyncPredictsBeforeAnyFix) {
  static SKY_SCENARIO_T sc;
  sc = SKY_SCENARIO_T{};
  const char* text =
      "start_week = 2400\nstart_tow = 345600\nlat = 35.68\nlon = 139.77\nheight = 40\nduration = 45\nnsat = 2\n"
      "seed = 11\nclk_bias = 0.0004\nclk_drift = 1.2e-7\nwarm_start = 1\nwarm_start_age = 60\n";
  char err[200] = "";
  ASSERT_EQ(SKY_parse_scenario(text, &sc, err, sizeof err), 1) << err;
  ASSERT_EQ(SKY_init(&sc), 1);
  talon_test::TempDir dir;
  ASSERT_GT(SKY_LINK_write_set(&sc, SKY_LINK_PARAM_T{}, SKY_LINK_core_source(), dir.path().c_str(), err, sizeof err), 0)
      << err;
  const std::vector<U08> image = talon_test::read_file(dir.file("log_init.dat"));
  ASSERT_EQ(image.size(), static_cast<std::size_t>(HOST_IMAGE_SIZE));
  static std::array<U08, HOST_IMAGE_SIZE> region, alm;
  std::memcpy(region.data(), image.data(), region.size());
  alm.fill(0);

  // The same stream, made here epoch by epoch.
  ASSERT_EQ(SKY_LINK_start(&sc, SKY_LINK_PARAM_T{}, SKY_LINK_core_source()), 1);
  SKY_PREDICT_reset();
  U08 rtc_frame[32];
  SKY_RTC_T rtc;
  SKY_LINK_rtc_report(rtc_frame, &rtc);
  ENDIAN_set_swap_flag(0);
  WRAP_init(0, nullptr);
  msg_init();
  WRAP_set_asic_rtc(rtc.wn, rtc.sec, rtc.subsec);
  KERNEL_INIT_T k = HOST_builtin_kernel_init(static_cast<S16>(sc.tcxo_mode));
  k.backup_mem_p = region.data();
  k.nvram_alm_mem_p = alm.data();
  KERNEL_init(&k);
  KERNEL_START_STATE_T st{};
  KERNEL_get_start_state(&st);
  ASSERT_EQ(st.can_do_hot_start, 1);
  ASSERT_EQ(st.dt, 60);
  Lists.clear();
  WRAP_install_command_sink(capture_lists);
  static U08 buf[8192];
  int n = 0, lists_before_fs = 0;
  while ((n = SKY_LINK_next_epoch(buf, sizeof buf, nullptr)) > 0) {
    DP_dispatch_msg(buf, n);
    while (KERNEL_loop() != 0) {
    }
    if (KMPREDICT_if_predict_cb_is_from_one_ch_fs() == 0) lists_before_fs = static_cast<int>(Lists.size());
  }
  WRAP_install_command_sink(nullptr);
  EXPECT_EQ(NV_has_fixed(), 0) << "two satellites give no fix";
  EXPECT_EQ(KMPREDICT_if_predict_cb_is_from_one_ch_fs(), 1);
  EXPECT_EQ(lists_before_fs, 0) << "nothing predicted before the clock is known";
  EXPECT_GE(Lists.size(), 5U) << "predicted every second once the clock is known";
  int checked = 0;
  double worst_chips = 0.0, worst_hz = 0.0;
  for (int i = 0; i < SKY_PREDICT_count(); ++i) {
    const SKY_PREDICT_RECORD_T* r = SKY_PREDICT_record(i);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->can_chip, 0) << "row " << i << ": not to the chip before a fix";
    EXPECT_EQ(r->meas.by_eph_flag, 1) << "row " << i;
    if (r->has_truth == 0 || r->visible == 0) continue;
    ++checked;
    worst_chips = std::max(worst_chips, std::fabs(r->code_err_chips));
    worst_hz = std::max(worst_hz, std::fabs(r->doppler_err_hz));
    EXPECT_LE(std::fabs(r->code_err_chips), 0.125) << "row " << i << " PRN " << r->meas.prn;
    EXPECT_LE(std::fabs(r->doppler_err_hz), 31.25) << "row " << i << " PRN " << r->meas.prn;
  }
  EXPECT_GE(checked, 5);
  std::printf("one frame sync: %zu lists, %d entries checked, worst %.4f chip and %.3f Hz\n", Lists.size(), checked,
              worst_chips, worst_hz);
  KERNEL_close();
}

}  // namespace
