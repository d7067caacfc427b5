// Kernel start-up on hand-built backup images, in host byte order and in the
// target's (big-endian) order: cold, warm and hot decisions, the GPS time
// predicted from the RTC and sent to the target, sector fallback, RTC week
// wrap, long and negative lapses, unusable RTC ratios, the first-fix rule by
// platform model, the clock offset, start-record checks, the user
// position/time record, the noise power and the backup layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "host/host_files.h"
#include "host/wrap.h"
#include "kernel/backup_image.h"
#include "kernel/src/backup_layout.h"
#include "kernel/src/kernel.h"
#include "misc/crc16.h"
#include "misc/endian_swap.h"
#include "misc/host_msg.h"
#include "test_util.h"

namespace {

using Frame = std::vector<U08>;
std::vector<Frame> Commands;  // every command frame the kernel issued
void capture(const U08* f, int len) { Commands.emplace_back(f, f + len); }

std::array<U08, HOST_IMAGE_SIZE> Region;
std::array<U08, HOST_IMAGE_SIZE> Alm_image;

constexpr S32 S32_MAX = std::numeric_limits<S32>::max();

using kernel_test::Sector;
void write_sector(U32 off, const Sector& s, bool be) { kernel_test::write_sector(Region.data(), off, s, be); }
void write_clock_record(S32 offset_hz, bool be) { kernel_test::write_clock_record(Region.data(), offset_hz, be); }

U16 sector_crc(U32 off) {
  U16 v;
  std::memcpy(&v, Region.data() + off + 48, 2);
  return v;
}

struct Rtc {
  S16 wn;
  S32 sec;
  U32 subsec;  // 1/32768 s
};

KERNEL_INIT_T init_record() {
  KERNEL_INIT_T k{};
  k.backup_mem_p = Region.data();
  k.nvram_alm_mem_p = Alm_image.data();
  k.power_saving_mode = 1;
  k.tcxo_freq_mode = 1;
  k.npse = 8;
  k.sbas_para = SBAS_PARAMETER_T{1, SBAS_RANGING_MODE_AUTO, 8, 1, 2, 7};
  k.qzss_para = QZSS_PARAMETER_T{1, 1};
  k.reset_kernel_settings = 1;
  k.gnss_select_bits = 1;
  k.position_rate = 1;
  k.nav_platform_model = PEDESTRIAN;
  k.dop_mask = KERNEL_INIT_DOP_MASK_T{DOP_MASK_AUTO, 300, 300, 300};
  k.enable_2D_navigation_at_first_pos_fix = 1;
  k.enable_2D_navigation_after_first_pos_fix = 1;
  k.clock_offset_from_flash = -42;
  k.leap_sec_from_flash = 18;
  k.elv_cnr_mask = ELV_CNR_MASK_T{ELV_CNR_MASK_AUTO, 5, 0};
  return k;
}

// What the target was told about the hot-start time.
struct Predict {
  bool sent = false;
  S32 gtc_sec = 0;
  S16 gtc_subsec = 0, gtc_ssubsec = 0;
  S32 rtc_sec = 0;
  S16 rtc_subsec = 0, valid = 0;
};
Predict predict_sent() {
  Predict p;
  for (const Frame& f : Commands)
    if (f.size() > 2 && f[2] == MSG_TYPE_ASIC_SET_HOT_START_PREDICT_TIME) {
      p.sent = true;
      unpack_msg_set_hot_start_predict_time(f.data(), &p.gtc_sec, &p.gtc_subsec, &p.gtc_ssubsec, &p.rtc_sec,
                                            &p.rtc_subsec, &p.valid);
    }
  return p;
}
S32 clock_offset_sent() {
  for (const Frame& f : Commands)
    if (f.size() > 2 && f[2] == MSG_TYPE_PSE_CLOCK) {
      S32 v = 0;
      unpack_msg_pse_set_clock_offset(f.data(), &v);
      return v;
    }
  return S32_MAX;
}
// The search sends the clock offset in its engine's frequency units: offset0 +
// scale x Hz, truncated. In TCXO mode 1 (16.368 MHz, x96 = 1571.328 MHz, mixer
// NCO word 2^26 giving exactly 4.092 MHz) offset0 is 0 and the scale is
// 2^26 / 16 368 000 units per Hz.
S32 engine_units_mode1(S32 hz) { return static_cast<S32>(hz * (67108864.0 / 16368000.0)); }

class KernelStart : public ::testing::Test {
 protected:
  void SetUp() override {
    Region.fill(0);
    Alm_image.fill(0);
    Commands.clear();
    ENDIAN_set_swap_flag(0);
    WRAP_init(0, nullptr);
    WRAP_install_command_sink(capture);
  }
  void TearDown() override {
    WRAP_install_command_sink(nullptr);
    ENDIAN_set_swap_flag(0);
    KERNEL_close();
  }
  // Start the kernel with an RTC reading waiting (none when rtc is null).
  static S16 start(const KERNEL_INIT_T& k, const Rtc* rtc, bool be, KERNEL_START_STATE_T* st) {
    ENDIAN_set_swap_flag(be ? 1 : 0);
    Commands.clear();
    WRAP_init(0, nullptr);
    if (rtc != nullptr) WRAP_set_asic_rtc(rtc->wn, rtc->sec, rtc->subsec);
    const S16 has_vbat = KERNEL_init(&k);
    KERNEL_get_start_state(st);
    return has_vbat;
  }
};

std::string order_name(bool be) { return be ? "target_order" : "host_order"; }

// Test name of a (case, byte order) parameter.
template <typename Info>
std::string case_and_order(const Info& i) {
  return talon_test::case_name(std::get<0>(i.param).name) + "_" + order_name(std::get<1>(i.param));
}

// ---------------------------------------------------------------------------
// Hot-start decisions from one valid sector, each in both byte orders.
// ---------------------------------------------------------------------------
constexpr S16 EARLY = KERNEL_FIRST_FIX_EARLY_MEAS;
constexpr S16 FIX3D = KERNEL_FIRST_FIX_3D;

struct HotWant {
  S16 lapse_valid;
  S32 dt;  // s
  S16 first_fix_rule;
  S16 predict_wn = 0;  // the rest only when the lapse is valid
  S32 gtc_sec = 0;
  S16 gtc_subsec = 0;   // ms
  S16 gtc_ssubsec = 0;  // TCXO clocks
};

struct HotCase {
  const char* name;
  Sector s;
  Rtc rtc;
  S16 model;
  HotWant want;
};
void PrintTo(const HotCase& c, std::ostream* os) { *os << c.name; }

Sector with_tow(D64 tow, S16 ss_dif = 0) {
  Sector s;
  s.gps_tow = tow;
  s.ss_dif = ss_dif;
  return s;
}
Sector with_rtc(S16 wn, S32 sec) {
  Sector s;
  s.rtc_wn = wn;
  s.rtc_sec = sec;
  return s;
}
Sector with_ratio(D64 ratio) {
  Sector s;
  s.ratio = ratio;
  return s;
}

constexpr Rtc AFTER_3_5S{300, 200003, 16384};  // 3.5 s after the stored fix: tow 100000.25 + 3.5

constexpr S16 PED = PEDESTRIAN;

const HotCase HOT_CASES[] = {
    {"3.5 s, pedestrian: early measurements", {}, AFTER_3_5S, PED, {1, 3, EARLY, 2300, 100003, 750}},
    {"3.5 s, default model: early measurements", {}, AFTER_3_5S, NMODEL_DEFAULT, {1, 3, EARLY, 2300, 100003, 750}},
    {"3.5 s, marine: 3-D first fix", {}, AFTER_3_5S, MARINE, {1, 3, FIX3D, 2300, 100003, 750}},
    {"3.5 s, balloon: 3-D first fix", {}, AFTER_3_5S, BALLOON, {1, 3, FIX3D, 2300, 100003, 750}},
    {"3.5 s, airborne: 3-D first fix", {}, AFTER_3_5S, AIRBORNE, {1, 3, FIX3D, 2300, 100003, 750}},
    {"4 s, car: still early measurements", {}, {300, 200004, 0}, CAR, {1, 4, EARLY, 2300, 100004, 250}},
    {"5 s, pedestrian: 3-D first fix", {}, {300, 200005, 0}, PED, {1, 5, FIX3D, 2300, 100005, 250}},
    // RTC week counter wrapped from 4095 to 0: one week is added before the lapse is taken.
    {"RTC week wrap", with_rtc(4095, 604790), {0, 10, 0}, PED, {1, 20, FIX3D, 2300, 100020, 250}},
    {"prediction runs into the next week", with_tow(604790.0), {300, 200020, 0}, PED, {1, 20, FIX3D, 2301, 10, 0}},
    {"prediction just above 604 800 s", with_tow(604799.75), {300, 200000, 16384}, PED, {1, 0, EARLY, 2301, 0, 250}},
    // The time-count offset (8184 TCXO clocks = 0.5 ms) pulls the prediction back over the week start.
    {"prediction back into the previous week",
     with_tow(0.0, 8184),
     {300, 200000, 0},
     PED,
     {1, 0, EARLY, 2299, 604799, 999, 8184}},
    {"two weeks: the prediction moves two weeks", {}, {302, 200000, 0}, PED, {1, 1209600, FIX3D, 2302, 100000, 250}},
    {"exactly four weeks", {}, {304, 200000, 0}, PED, {1, 2419200, FIX3D, 2304, 100000, 250}},
    {"four weeks and a second: no hot start", {}, {304, 200001, 0}, PED, {0, 2419201, FIX3D}},
    // 3600 weeks x 604 800 s does not fit 32 bits; the lapse saturates.
    {"3600 weeks: no hot start", with_rtc(0, 200000), {3600, 200000, 0}, PED, {0, S32_MAX, FIX3D}},
    {"negative lapse: no hot start", {}, {300, 199990, 0}, PED, {0, -10, FIX3D}},
    {"unknown RTC ratio (-1): no hot start", with_ratio(-1.0), AFTER_3_5S, PED, {0, 3, FIX3D}},
    {"RTC ratio 0: no hot start", with_ratio(0.0), AFTER_3_5S, PED, {0, 3, FIX3D}},
    {"RTC ratio NaN: no hot start", with_ratio(std::nan("")), AFTER_3_5S, PED, {0, 3, FIX3D}},
    {"RTC ratio 1.5: no hot start", with_ratio(1.5), AFTER_3_5S, PED, {0, 3, FIX3D}},
    // 3.5 RTC seconds / 1.0005 = 3.49825 GPS seconds.
    {"RTC ratio 1.0005", with_ratio(1.0005), AFTER_3_5S, PED, {1, 3, EARLY, 2300, 100003, 748, 4106}},
};

class KernelHotStart : public KernelStart, public ::testing::WithParamInterface<std::tuple<HotCase, bool>> {};

TEST_P(KernelHotStart, DecisionAndPredictedTime) {
  const auto& [c, be] = GetParam();
  const HotWant& w = c.want;
  write_sector(0, c.s, be);
  write_sector(56, c.s, be);
  KERNEL_INIT_T k = init_record();
  k.nav_platform_model = c.model;
  KERNEL_START_STATE_T st{};
  EXPECT_EQ(start(k, &c.rtc, be, &st), 1);
  EXPECT_EQ(st.has_vbat, 1);
  EXPECT_EQ(st.lapse_valid, w.lapse_valid);
  EXPECT_EQ(st.dt, w.dt);
  EXPECT_EQ(st.can_do_hot_start, w.lapse_valid);
  EXPECT_EQ(st.has_rtc_time, w.lapse_valid);
  EXPECT_EQ(st.first_fix_rule, w.first_fix_rule);
  EXPECT_EQ(st.force_clear_ephemeris, 0);
  const Predict p = predict_sent();
  ASSERT_TRUE(p.sent);
  EXPECT_EQ(p.valid, w.lapse_valid);
  if (w.lapse_valid) {
    EXPECT_EQ(st.sbas_valid_dt, w.dt);
    EXPECT_EQ(st.predict_gps_wn, w.predict_wn);
    EXPECT_EQ(st.predict_gps_tow, w.gtc_sec);
    EXPECT_EQ(p.gtc_sec, w.gtc_sec);
    EXPECT_EQ(p.gtc_subsec, w.gtc_subsec);
    EXPECT_NEAR(p.gtc_ssubsec, w.gtc_ssubsec, 1);  // TCXO clocks within the ms
    EXPECT_EQ(p.rtc_sec, c.rtc.sec);
    EXPECT_EQ(p.rtc_subsec, static_cast<S16>(c.rtc.subsec));
    // The stored drift of -100 m/s is the search's clock offset: 525.5 Hz, truncated.
    EXPECT_EQ(st.clock_offset, 525);
  } else {
    // Nothing predicted; records that depend on the state's age count as too old.
    EXPECT_EQ(p.gtc_sec, 0);
    EXPECT_EQ(st.sbas_valid_dt, S32_MAX);
    EXPECT_EQ(st.clock_offset, -42);
  }
  EXPECT_EQ(clock_offset_sent(), engine_units_mode1(st.clock_offset));
  EXPECT_EQ(KERNEL_has_been_init(), 1);
}

INSTANTIATE_TEST_SUITE_P(KernelStart, KernelHotStart,
                         ::testing::Combine(::testing::ValuesIn(HOT_CASES), ::testing::Bool()),
                         [](const auto& i) { return case_and_order(i); });

// ---------------------------------------------------------------------------
// Cold, warm, no state, sector fallback, byte-order mismatch.
// ---------------------------------------------------------------------------
struct ColdCase {
  const char* name;
  S16 force_warm, force_cold;
  bool with_state;
  bool sector_crc_kept;
};
void PrintTo(const ColdCase& c, std::ostream* os) { *os << c.name; }

class KernelColdStart : public KernelStart, public ::testing::WithParamInterface<std::tuple<ColdCase, bool>> {};

TEST_P(KernelColdStart, NoHotStart) {
  const auto& [m, be] = GetParam();
  const Rtc rtc = AFTER_3_5S;
  if (m.with_state) {
    write_sector(0, Sector{}, be);
    write_sector(56, Sector{}, be);
  }
  write_clock_record(777, be);
  KERNEL_INIT_T k = init_record();
  k.force_warm = m.force_warm;
  k.force_cold = m.force_cold;
  KERNEL_START_STATE_T st{};
  EXPECT_EQ(start(k, &rtc, be, &st), 0);
  EXPECT_EQ(st.has_vbat, 0);
  EXPECT_EQ(st.can_do_hot_start, 0);
  EXPECT_EQ(st.force_clear_ephemeris, 1);
  EXPECT_EQ(st.first_fix_rule, KERNEL_FIRST_FIX_FREE);
  EXPECT_EQ(st.sbas_valid_dt, -1);
  const Predict p = predict_sent();
  ASSERT_TRUE(p.sent);
  EXPECT_EQ(p.valid, 0);
  EXPECT_EQ(p.gtc_sec, 0);
  // The clock record (converted to host order) survives every start mode.
  EXPECT_EQ(st.clock_offset, 777);
  EXPECT_EQ(clock_offset_sent(), engine_units_mode1(777));
  EXPECT_EQ(engine_units_mode1(777), 3185);  // 777 Hz x 4.1000037 units/Hz
  EXPECT_EQ(sector_crc(0) != 0 && sector_crc(56) != 0, m.sector_crc_kept);
}

INSTANTIATE_TEST_SUITE_P(KernelStart, KernelColdStart,
                         ::testing::Combine(::testing::Values(ColdCase{"warm", 1, 0, true, true},
                                                              ColdCase{"cold", 0, 1, true, false},
                                                              ColdCase{"cold and warm", 1, 1, true, false},
                                                              ColdCase{"empty image", 0, 0, false, false}),
                                            ::testing::Bool()),
                         [](const auto& i) { return case_and_order(i); });

TEST_F(KernelStart, StartCommandsInOrder) {
  KERNEL_START_STATE_T st{};
  start(init_record(), nullptr, false, &st);
  std::vector<int> types;
  for (const Frame& f : Commands) types.push_back(f[2]);
  // The search's first tick (static hint, correlation levels, run, the
  // normal cold strategy list) comes before its clock offset.
  EXPECT_EQ(types, (std::vector<int>{MSG_TYPE_ASIC_INIT, MSG_TYPE_PSE_INIT, MSG_TYPE_ASIC_SET_HOT_START_PREDICT_TIME,
                                     MSG_TYPE_PSE_RCV_IS_STATIC, MSG_TYPE_PSE_CNR_STATUS, MSG_TYPE_PSE_PAUSE,
                                     MSG_TYPE_PSE_SET, MSG_TYPE_PSE_CLOCK}));
  EXPECT_EQ(st.clock_offset, -42);  // no clock record: the start record's offset
  EXPECT_EQ(st.has_rtc_reading, 0);
}

// The start clock offset reaches the search engine in its own units:
// offset0 + (2^26 / TCXO Hz) units per Hz, truncated toward zero. Offset0 per
// TCXO: the mixer NCO word leaves the 16.369 MHz plan 96 250 Hz from zero
// Doppler (-394 601 units), the 16.368 and 24.552 MHz plans at it (0).
struct PseClockCase {
  const char* name;
  S16 tcxo_mode;
  S32 hz;
  S32 units;
};
void PrintTo(const PseClockCase& c, std::ostream* os) { *os << c.name; }
class KernelPseClock : public KernelStart, public ::testing::WithParamInterface<PseClockCase> {};

TEST_P(KernelPseClock, StartClockOffsetInEngineUnits) {
  const PseClockCase& c = GetParam();
  KERNEL_INIT_T k = init_record();
  k.tcxo_freq_mode = c.tcxo_mode;
  k.clock_offset_from_flash = c.hz;
  KERNEL_START_STATE_T st{};
  start(k, nullptr, false, &st);
  EXPECT_EQ(st.clock_offset, c.hz);
  EXPECT_EQ(clock_offset_sent(), c.units);
}

INSTANTIATE_TEST_SUITE_P(KernelStart, KernelPseClock,
                         ::testing::Values(PseClockCase{"mode1_zero", 1, 0, 0},
                                           PseClockCase{"mode1_minus_42_hz", 1, -42, -172},  // -42 x 4.1000037 = -172.2
                                           PseClockCase{"mode1_1000_hz", 1, 1000, 4100},     // 4100.0037
                                           PseClockCase{"mode2_zero", 2, 0, -394601},        //
                                           PseClockCase{"mode2_1000_hz", 2, 1000, -390501},  // -394601 + 4099.75
                                           PseClockCase{"mode4_minus_500_hz", 4, -500,
                                                        -1366},                            // -500 x 2.7333360 = -1366.7
                                           PseClockCase{"mode4_1234_hz", 4, 1234, 3372}),  // 3372.94
                         [](const ::testing::TestParamInfo<PseClockCase>& i) { return std::string(i.param.name); });

struct LayoutCase {
  const char* name;
  bool corrupt_sector0;
  bool sector1;  // sector 1 tells a different time: tow 200000.25
  S32 want_tow;  // 0: no state
};
void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

class KernelSectorFallback : public KernelStart, public ::testing::WithParamInterface<std::tuple<LayoutCase, bool>> {};

TEST_P(KernelSectorFallback, RestoresTheValidSector) {
  const auto& [l, be] = GetParam();
  const Rtc rtc = AFTER_3_5S;
  write_sector(0, Sector{}, be);
  if (l.corrupt_sector0) Region[5] ^= 0x01;
  if (l.sector1) write_sector(56, with_tow(200000.25), be);
  KERNEL_START_STATE_T st{};
  start(init_record(), &rtc, be, &st);
  EXPECT_EQ(st.has_vbat, l.want_tow != 0 ? 1 : 0);
  EXPECT_EQ(predict_sent().gtc_sec, l.want_tow);
}

INSTANTIATE_TEST_SUITE_P(
    KernelStart, KernelSectorFallback,
    ::testing::Combine(::testing::Values(LayoutCase{"both valid: sector 0", false, true, 100003},
                                         LayoutCase{"sector 0 CRC fails: sector 1", true, true, 200003},
                                         LayoutCase{"sector 0 CRC fails, sector 1 empty: no state", true, false, 0}),
                       ::testing::Bool()),
    [](const auto& i) { return case_and_order(i); });

// An image in host order read as if the target wrote it: the conversion
// garbles it, and neither the state nor the clock record is restored from it.
TEST_F(KernelStart, ByteOrderMismatchRestoresNothing) {
  const Rtc rtc = AFTER_3_5S;
  write_sector(0, Sector{}, false);
  write_sector(56, Sector{}, false);
  write_clock_record(777, false);
  KERNEL_START_STATE_T st{};
  EXPECT_EQ(start(init_record(), &rtc, true, &st), 0);
  EXPECT_EQ(predict_sent().valid, 0);
  EXPECT_EQ(st.clock_offset, -42);  // the start record's offset
}

TEST_F(KernelStart, NoRtcReadingMeansNoPrediction) {
  write_sector(0, Sector{}, false);
  KERNEL_START_STATE_T st{};
  EXPECT_EQ(start(init_record(), nullptr, false, &st), 1);
  EXPECT_EQ(st.has_rtc_reading, 0);
  EXPECT_EQ(st.lapse_valid, 0);
  EXPECT_EQ(st.can_do_hot_start, 0);
  EXPECT_EQ(st.first_fix_rule, KERNEL_FIRST_FIX_3D);
  EXPECT_EQ(predict_sent().valid, 0);
  // An RTC reading outside its counters' ranges is no reading either.
  const Rtc bad{300, 200003, 40000};
  EXPECT_EQ(start(init_record(), &bad, false, &st), 1);
  EXPECT_EQ(st.lapse_valid, 0);
  S16 wn = 0;
  S32 sec = 0;
  U32 sub = 0;
  KERNEL_get_init_rtc_time(&wn, &sec, &sub);
  EXPECT_EQ(wn, 300);
  EXPECT_EQ(sec, 200003);
  EXPECT_EQ(sub, 40000u);
}

// ---------------------------------------------------------------------------
// Start record and user position/time record.
// ---------------------------------------------------------------------------
TEST_F(KernelStart, StartRecordFieldsThatWouldIndexTablesAreRefused) {
  struct Field {
    const char* name;
    void (*set)(KERNEL_INIT_T&);
    S16 accepted;
  };
  const Field fields[] = {
      {"TCXO mode 4", [](KERNEL_INIT_T& k) { k.tcxo_freq_mode = 4; }, 1},
      {"TCXO mode 5", [](KERNEL_INIT_T& k) { k.tcxo_freq_mode = 5; }, 0},
      {"TCXO mode -1", [](KERNEL_INIT_T& k) { k.tcxo_freq_mode = -1; }, 0},
      {"platform model 5", [](KERNEL_INIT_T& k) { k.nav_platform_model = AIRBORNE; }, 1},
      {"platform model 6", [](KERNEL_INIT_T& k) { k.nav_platform_model = 6; }, 0},
      {"platform model -1", [](KERNEL_INIT_T& k) { k.nav_platform_model = -1; }, 0},
      {"0 search engines", [](KERNEL_INIT_T& k) { k.npse = 0; }, 1},
      {"9 search engines", [](KERNEL_INIT_T& k) { k.npse = 9; }, 0},
      {"-1 search engines", [](KERNEL_INIT_T& k) { k.npse = -1; }, 0},
  };
  for (const Field& f : fields) {
    SCOPED_TRACE(f.name);
    KERNEL_INIT_T k = init_record();
    f.set(k);
    KERNEL_START_STATE_T st{};
    start(k, nullptr, false, &st);
    EXPECT_EQ(KERNEL_has_been_init(), f.accepted);
    EXPECT_EQ(Commands.empty(), f.accepted == 0);  // a refused record starts nothing on the target
    if (!f.accepted) {
      EXPECT_EQ(KERNEL_loop(), 0);
    }
  }
}

// A user record at 25 N, 121.5 E, 30 m with a UTC calendar time.
KERNEL_INIT_POS_TIME_T utc(U16 year, U16 month, U16 day, U16 hour = 0, U16 minute = 0, U16 sec = 0) {
  KERNEL_INIT_POS_TIME_T t{};
  t.lat_deg = 25.0;
  t.lon_deg = 121.5;
  t.alt = 30.0;
  t.time_format_select = 0;
  t.year = year;
  t.month = month;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  t.sec = sec;
  return t;
}
KERNEL_INIT_POS_TIME_T pos_time() { return utc(2024, 1, 1); }
// The same with a GPS week and time of week (s).
KERNEL_INIT_POS_TIME_T gps(S16 wn, S32 tow) {
  KERNEL_INIT_POS_TIME_T t = pos_time();
  t.time_format_select = 1;
  t.wn = wn;
  t.tow = tow;
  return t;
}
// 2024-01-01 00:00 UTC at another position (deg, deg, m).
KERNEL_INIT_POS_TIME_T at(D64 lat, D64 lon, D64 alt) {
  KERNEL_INIT_POS_TIME_T t = pos_time();
  t.lat_deg = lat;
  t.lon_deg = lon;
  t.alt = alt;
  return t;
}

TEST_F(KernelStart, UserPositionAndTime) {
  struct Case {
    const char* name;
    KERNEL_INIT_POS_TIME_T t;
    S16 used;
    S16 wn;
    S32 tow;  // s
  };
  // 2024-01-01 00:00:00 UTC is Monday of GPS week 2295; with 18 leap seconds tow 86 418 s.
  const Case cases[] = {
      {"UTC calendar", utc(2024, 1, 1), 1, 2295, 86418},
      {"UTC calendar, 29 February of a leap year", utc(2024, 2, 29, 12), 1, 2303, 4 * 86400 + 12 * 3600 + 18},
      {"week and time of week", gps(2345, 123456), 1, 2345, 123456},
      {"time only (position 0, 0, 0)", at(0.0, 0.0, 0.0), 1, 2295, 86418},
      {"month 0", utc(2024, 0, 1), 0, 0, 0},
      {"month 13", utc(2024, 13, 1), 0, 0, 0},
      {"day 0", utc(2024, 1, 0), 0, 0, 0},
      {"30 February", utc(2024, 2, 30), 0, 0, 0},
      {"29 February 2023", utc(2023, 2, 29), 0, 0, 0},
      {"before the GPS epoch", utc(1980, 1, 5), 0, 0, 0},
      {"year 2100", utc(2100, 1, 1), 0, 0, 0},
      {"hour 24", utc(2024, 1, 1, 24), 0, 0, 0},
      {"minute 60", utc(2024, 1, 1, 0, 60), 0, 0, 0},
      {"second 60", utc(2024, 1, 1, 0, 0, 60), 0, 0, 0},
      {"time of week 604 800", gps(2345, 604800), 0, 0, 0},
      {"negative week", gps(-1, 0), 0, 0, 0},
      {"latitude 91", at(91.0, 121.5, 30.0), 0, 0, 0},
      {"longitude NaN", at(25.0, std::nan(""), 30.0), 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KERNEL_INIT_POS_TIME_T t = c.t;
    KERNEL_INIT_T k = init_record();
    k.init_pos_p = &t;
    KERNEL_START_STATE_T st{};
    EXPECT_EQ(start(k, nullptr, false, &st), 0);
    EXPECT_EQ(KERNEL_has_been_init(), 1);  // a bad user record is ignored, the start goes on
    EXPECT_EQ(st.has_user_time, c.used);
    EXPECT_EQ(st.can_do_hot_start, c.used);
    EXPECT_EQ(st.dt, c.used ? 604800 : 0);
    if (c.used) {
      EXPECT_EQ(st.predict_gps_wn, c.wn);
      EXPECT_EQ(st.predict_gps_tow, c.tow);
    }
  }
  // A user time replaces the restored one; a cold start still wins over both.
  write_sector(0, Sector{}, false);
  KERNEL_INIT_POS_TIME_T t = pos_time();
  KERNEL_INIT_T k = init_record();
  k.init_pos_p = &t;
  const Rtc rtc = AFTER_3_5S;
  KERNEL_START_STATE_T st{};
  EXPECT_EQ(start(k, &rtc, false, &st), 1);
  EXPECT_EQ(st.predict_gps_wn, 2295);
  EXPECT_EQ(st.can_do_hot_start, 1);
  k.force_cold = 1;
  EXPECT_EQ(start(k, &rtc, false, &st), 0);
  EXPECT_EQ(st.can_do_hot_start, 0);
}

// ---------------------------------------------------------------------------
// Noise power by TCXO frequency, backup layout.
// ---------------------------------------------------------------------------
TEST(KernelNoisePower, TargetToldOnlyOutsideOnePercent) {
  struct Case {
    const char* name;
    D64 ratio;
    S16 told;
    D64 noise_power;
  };
  const Case cases[] = {
      {"reference", 1.0, 0, 2500000.0}, {"x 1.005", 1.005, 0, 2525062.5}, {"x 0.995", 0.995, 0, 2475062.5},
      {"x 1.02", 1.02, 1, 2601000.0},   {"x 0.98", 0.98, 1, 2401000.0},   {"24.552 MHz (x 1.5)", 1.5, 1, 5625000.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    U32 np = 0;
    F32 ratio = 0.0f;
    EXPECT_EQ(KERNEL_calc_noise_power(static_cast<U32>(16367667.0 * c.ratio + 0.5), &np, &ratio), c.told);
    EXPECT_NEAR(ratio, c.ratio, 1e-6);
    EXPECT_NEAR(static_cast<D64>(np), c.noise_power, 2.0);
  }
}

TEST(KernelBackupLayout, EveryModuleAtItsFixedOffset) {
  std::array<U08, HOST_IMAGE_SIZE> region{};
  EXPECT_EQ(KERNEL_init_backup_address(region.data()), 8600);
  const std::array<U32, BACKUP_N_PIECES> want = {0, 128, 168, 224, 2128, 7072, 7120};
  for (int i = 0; i < BACKUP_N_PIECES; ++i)
    EXPECT_EQ(KERNEL_get_backup_piece_offset(i), want[static_cast<std::size_t>(i)]) << i;
  EXPECT_LE(BACKUP_LAYOUT.total, static_cast<U32>(HOST_IMAGE_SIZE));  // fits the host's image
  // The layout does not depend on where the buffer lies: one byte further on, the same offsets.
  EXPECT_EQ(KERNEL_init_backup_address(region.data() + 1), 8600);
  for (int i = 0; i < BACKUP_N_PIECES; ++i)
    EXPECT_EQ(KERNEL_get_backup_piece_offset(i), want[static_cast<std::size_t>(i)]) << i;
}

}  // namespace
