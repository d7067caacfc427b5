// RTC module: record decoding, validity, the RTC/GPS ratio and its quality,
// lapses across the 4096-week RTC counter and the GPS week, hostile stamps and
// the hot-start clock-bias rule. Table-driven; every failure names its case.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "kernel/src/rtc.h"
#include "kernel/src/tcxo_freq.h"

namespace {

constexpr D64 NaN = std::numeric_limits<D64>::quiet_NaN();
constexpr D64 Inf = std::numeric_limits<D64>::infinity();
constexpr D64 C = 299792458.0;

// --- Record decoding ---------------------------------------------------------------------
struct DecodeCase {
  const char* name;
  U32 w0, w1, w2;
  S16 wn;
  S32 sec;
  S16 subsec, ss_dif;
};
const DecodeCase DECODE[] = {
    {"plain fields", 0x00012345U, 0x0ABC1234U, 0x0000FFEEU, 0xABC, 0x12345, 0x1234, -18},
    {"all ones", 0xFFFFFFFFU, 0xFFFFFFFFU, 0xFFFFFFFFU, 4095, 1048575, 32767, -1},
    {"bit 15 is not sub-second", 0x0U, 0x00018000U, 0x7FFFU, 1, 0, 0, 32767},
    {"bits above 19 of the second ignored", 0xFFF00005U, 0xF0000000U, 0x12340001U, 0, 5, 0, 1},
    {"bits 28..31 of the week word ignored", 0x00093A7FU, 0xF0017FFFU, 0x8000U, 1, 604799, 32767, -32768},
};

TEST(Rtc, RecordDecoding) {
  for (const auto& c : DECODE) {
    SCOPED_TRACE(c.name);
    S16 wn = -9, subsec = -9, ss = -9;
    S32 sec = -9;
    KRTC_decode_record(c.w0, c.w1, c.w2, &wn, &sec, &subsec, &ss);
    EXPECT_EQ(wn, c.wn);
    EXPECT_EQ(sec, c.sec);
    EXPECT_EQ(subsec, c.subsec);
    EXPECT_EQ(ss, c.ss_dif);
    // The same words through the module: the latest record is what it reports.
    KRTC_init();
    KRTC_cal_rtc_ratio_proc(c.w0, c.w1, c.w2);
    KRTC_get_rtc_time(&wn, &sec, &subsec, &ss);
    EXPECT_EQ(wn, c.wn);
    EXPECT_EQ(sec, c.sec);
    EXPECT_EQ(subsec, c.subsec);
    EXPECT_EQ(ss, c.ss_dif);
  }
}

// --- Validity ------------------------------------------------------------------------------
struct ValidCase {
  const char* name;
  std::vector<U32> secs;
  S16 valid;
};
const ValidCase VALID[] = {
    {"one record", {5}, 0},
    {"one second apart", {5, 6}, 1},
    {"a jump of two", {5, 7}, 0},
    {"the same second", {5, 5}, 0},
    {"backwards", {6, 5}, 0},
    {"across the end of the week", {604799, 0}, 1},
    {"jump, then one apart", {10, 12, 13}, 1},
    {"valid stays valid after a jump", {10, 11, 40}, 1},
};

TEST(Rtc, ValidAfterTwoRecordsOneSecondApart) {
  for (const auto& c : VALID) {
    SCOPED_TRACE(c.name);
    KRTC_init();
    for (U32 s : c.secs) KRTC_cal_rtc_ratio_proc(s, 0x00200000U, 0);
    EXPECT_EQ(KRTC_is_valid(), c.valid);
  }
}

// --- Ratio over baselines (mend: never divide by a bad ratio or a short baseline) ----------
struct RatioCase {
  const char* name;
  D64 rtc_s, gps_s;
  S16 ok;
  D64 ratio;
};
const RatioCase RATIO[] = {
    {"100 s, 0.1 ppm fast", 100.00001, 100.0, 1, 1.0000001},
    {"exactly 1 s baseline", 1.0000005, 1.0, 1, 1.0000005},
    {"half-second baseline", 0.5, 0.5, 0, 0},
    {"zero baseline", 0.0, 0.0, 0, 0},
    {"zero RTC interval", 0.0, 100.0, 0, 0},
    {"negative RTC interval", -100.0, 100.0, 0, 0},
    {"negative baseline", -100.0, -100.0, 0, 0},
    {"NaN interval", NaN, 100.0, 0, 0},
    {"NaN baseline", 100.0, NaN, 0, 0},
    {"infinite interval", Inf, 100.0, 0, 0},
    {"infinite baseline", 100.0, Inf, 0, 0},
    {"1100 ppm fast is out", 100.11, 100.0, 0, 0},
    {"1100 ppm slow is out", 99.89, 100.0, 0, 0},
    {"999 ppm fast is in", 100.0999, 100.0, 1, 1.000999},
    {"500 ppm slow is in", 99.95, 100.0, 1, 0.9995},
    {"a day", 86400.0864, 86400.0, 1, 1.000001},
};

TEST(Rtc, RatioOverBaselines) {
  for (const auto& c : RATIO) {
    SCOPED_TRACE(c.name);
    D64 r = 42.0;
    EXPECT_EQ(KRTC_calc_ratio(c.rtc_s, c.gps_s, &r), c.ok);
    if (c.ok) {
      EXPECT_NEAR(r, c.ratio, 1e-12);
    } else {
      EXPECT_EQ(r, 42.0);  // untouched
    }
  }
}

struct StoredRatioCase {
  const char* name;
  D64 stored;
  U32 quality;
  D64 ratio;  // reported after a record
  U32 reported_quality;
};
const StoredRatioCase STORED[] = {
    {"calibrated", 1.00002, 0x00140064U, 1.00002, 0x00140064U},
    {"unknown (-1)", -1.0, 0x00140064U, -1.0, 0},
    {"zero", 0.0, 7, -1.0, 0},
    {"negative", -0.5, 7, -1.0, 0},
    {"NaN", NaN, 7, -1.0, 0},
    {"infinite", Inf, 7, -1.0, 0},
    {"far from one", 2.0, 7, -1.0, 0},
    {"just outside 1e-3", 1.0011, 7, -1.0, 0},
};

TEST(Rtc, AnInvalidStoredRatioCountsAsNone) {
  for (const auto& c : STORED) {
    SCOPED_TRACE(c.name);
    KRTC_init();
    KRTC_set_rtc_ratio(c.stored, c.quality, 345600.0, 2400, 100, 345590, 1000);
    KRTC_cal_rtc_ratio_proc(345600, 100U << 16, 0);
    D64 r = 0.0;
    U32 q = 99;
    KRTC_get_rtc_ratio(&r, &q);
    EXPECT_EQ(r, c.ratio);
    EXPECT_EQ(q, c.reported_quality);
    EXPECT_TRUE(std::isfinite(r));
  }
}

TEST(Rtc, RatioValidity) {
  const struct {
    const char* name;
    D64 r;
    S16 ok;
  } cases[] = {{"one", 1.0, 1},           {"unknown", -1.0, 0},      {"zero", 0.0, 0},
               {"NaN", NaN, 0},           {"+inf", Inf, 0},          {"-inf", -Inf, 0},
               {"1 + 1.1e-3", 1.0011, 0}, {"1 - 1.1e-3", 0.9989, 0}, {"1 - 0.9e-3", 0.9991, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(KRTC_ratio_is_valid(c.r), c.ok);
  }
}

// --- Quality growth and saturation (mend: saturate at 65535, never wrap) --------------------
struct QualityCase {
  const char* name;
  D64 baseline;
  S64 rtc_sec;
  U32 quality;
};
const QualityCase QUALITY[] = {
    {"100 s at RTC second 320", 100.0, 320, (20U << 16) | 100U},
    {"growing: 3600 s", 3600.0, 320, (20U << 16) | 3600U},
    {"growing: 65534 s", 65534.0, 320, (20U << 16) | 65534U},
    {"65535 s is the top", 65535.0, 0, 65535U},
    {"65536 s saturates", 65536.0, 0, 65535U},
    {"a week saturates", 604800.0, 0, 65535U},
    {"decades saturate", 1e12, 0, 65535U},
    {"fractions truncate", 100.7, 0, 100U},
    {"negative baseline is 0", -5.0, 0, 0U},
    {"NaN baseline is 0", NaN, 0, 0U},
    {"infinite baseline saturates", Inf, 0, 65535U},
    {"top RTC second", 0.0, 1048575, 65535U << 16},
    {"RTC second beyond the field", 0.0, S64{1} << 40, 65535U << 16},
    {"negative RTC second", 10.0, -32, 10U},
};

TEST(Rtc, QualityGrowthAndSaturation) {
  for (const auto& c : QUALITY) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(KRTC_make_quality(c.baseline, c.rtc_sec), c.quality);
  }
}

// --- Lapse arithmetic (mend: 64 bits) ----------------------------------------------------
struct IntervalCase {
  const char* name;
  KRTC_STAMP_T a, b;
  D64 seconds;
};
const IntervalCase INTERVAL[] = {
    {"one second", {100, 5, 0}, {100, 6, 0}, 1.0},
    {"half a second of sub-seconds", {100, 5, 0}, {100, 5, 16384}, 0.5},
    {"sub-second borrow", {100, 5, 30000}, {100, 6, 1000}, 1.0 + (1000.0 - 30000.0) / 32768.0},
    {"next RTC week", {100, 604799, 0}, {101, 0, 0}, 1.0},
    {"RTC week wraps 4095 -> 0", {4095, 604790, 0}, {0, 10, 0}, 20.0},
    {"RTC week wraps 4000 -> 5", {4000, 0, 0}, {5, 0, 0}, 101.0 * 604800.0},
    {"4095 weeks: beyond 32 bits", {0, 0, 0}, {4095, 0, 0}, 4095.0 * 604800.0},
    {"backwards within a week", {100, 50, 0}, {100, 40, 0}, -10.0},
};

TEST(Rtc, IntervalAcrossTheRtcWeek) {
  for (const auto& c : INTERVAL) {
    SCOPED_TRACE(c.name);
    EXPECT_DOUBLE_EQ(KRTC_interval(&c.a, &c.b), c.seconds);
  }
}

TEST(Rtc, GpsBaselineAcrossTheGpsWeek) {
  const struct {
    const char* name;
    S16 wn0;
    D64 tow0;
    S16 wn1;
    D64 tow1;
    D64 s;
  } cases[] = {
      {"same week", 2400, 100.0, 2400, 160.5, 60.5},
      {"across the week end", 2400, 604790.0, 2401, 10.0, 20.0},
      {"a week later", 2400, 0.0, 2401, 0.0, 604800.0},
      {"across the 1024-week rollover of the broadcast week", 2047, 604799.0, 2048, 1.0, 2.0},
      {"extreme weeks stay finite", -32768, 0.0, 32767, 0.0, 65535.0 * 604800.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_DOUBLE_EQ(KRTC_gps_baseline(c.wn0, c.tow0, c.wn1, c.tow1), c.s);
  }
}

// --- Hostile stamps --------------------------------------------------------------------------
TEST(Rtc, HostileStampsGiveFiniteResults) {
  constexpr S64 S32MAX = std::numeric_limits<S32>::max();
  constexpr S64 S32MIN = std::numeric_limits<S32>::min();
  const struct {
    const char* name;
    KRTC_STAMP_T a, b;
  } cases[] = {
      {"S32 extremes", {-32768, S32MIN, -32768}, {32767, S32MAX, 32767}},
      {"reversed extremes", {32767, S32MAX, 32767}, {-32768, S32MIN, -32768}},
      {"S64 extremes",
       {std::numeric_limits<S64>::min(), std::numeric_limits<S64>::min(), 0},
       {std::numeric_limits<S64>::max(), std::numeric_limits<S64>::max(), std::numeric_limits<S64>::max()}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(std::isfinite(KRTC_interval(&c.a, &c.b)));
  }
  // Garbage words and a garbage stored stamp with a good ratio: nothing breaks,
  // the reported ratio stays either unknown or valid.
  KRTC_init();
  KRTC_set_rtc_ratio(1.00001, 0xFFFFFFFFU, NaN, -32768, -32768, std::numeric_limits<S32>::min(), -32768);
  for (U32 w : {0xFFFFFFFFU, 0x0U, 0x80000000U, 0x7FFFFFFFU, 0xFFFFFFFFU}) KRTC_cal_rtc_ratio_proc(w, w, w);
  D64 r = 0.0;
  U32 q = 0;
  KRTC_get_rtc_ratio(&r, &q);
  EXPECT_TRUE(r == KRTC_RATIO_UNKNOWN || KRTC_ratio_is_valid(r));
  S16 wn = 0, subsec = 0, ss = 0;
  S32 sec = 0;
  KRTC_get_rtc_time(&wn, &sec, &subsec, &ss);
  EXPECT_GE(wn, 0);
  EXPECT_LT(wn, 4096);
  EXPECT_GE(sec, 0);
  EXPECT_LT(sec, 1 << 20);
  EXPECT_GE(subsec, 0);
}

// --- Hot-start clock bias --------------------------------------------------------------------
struct LapseCase {
  const char* name;
  S32 d_sec;
  S16 armed;
};
const LapseCase LAPSE[] = {
    {"just started", 0, 1},
    {"3 s", 3, 1},
    {"one second short of an hour", 3599, 1},
    {"an hour", 3600, 0},
    {"a day", 86400, 0},
    {"negative lapse", -1, 0},
    {"very negative lapse", std::numeric_limits<S32>::min(), 0},
    {"largest lapse", std::numeric_limits<S32>::max(), 0},
};

TEST(Rtc, OnlyALapseOfZeroToAnHourArmsTheClockBiasPrediction) {
  for (const auto& c : LAPSE) {
    SCOPED_TRACE(c.name);
    KRTC_init();
    KRTC_update_rtc_lapsed_time(c.d_sec, 100);
    EXPECT_EQ(KRTC_can_predict_clock_bias(), c.armed);
    S32 d = 0;
    D64 cb = 1.0;
    KRTC_get_debug_info(&d, &cb);
    EXPECT_EQ(d, c.d_sec);
    EXPECT_EQ(cb, 0.0);
  }
}

TEST(Rtc, HotStartClockBiasFromTheSyncError) {
  const struct {
    const char* name;
    S32 err;
    U32 f;
    S16 ok;
    D64 cb;
  } cases[] = {
      {"zero error: the 30 km lead", 0, 16368000, 1, -30000.0},
      {"1 ms of clocks", 16368, 16368000, 1, -(16368.0 * C / 16368000.0 + 30000.0)},
      {"-1 ms of clocks", -16368, 16368000, 1, -(-16368.0 * C / 16368000.0 + 30000.0)},
      {"0.9 s of clocks", 14731200, 16368000, 1, -(14731200.0 * C / 16368000.0 + 30000.0)},
      {"1.1 s of clocks is implausible", 18004800, 16368000, 0, 0.0},
      {"largest error is implausible", std::numeric_limits<S32>::max(), 16368000, 0, 0.0},
      {"no TCXO frequency", 100, 0, 0, 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    D64 cb = 0.0;
    EXPECT_EQ(KRTC_calc_hot_start_clock_bias(c.err, c.f, &cb), c.ok);
    if (c.ok) {
      EXPECT_NEAR(cb, c.cb, 1e-6);
    }
  }
}

// Hooks that record what the rule asks of the navigation and prediction modules.
S16 Can_predict = 1;
int Set_bias_calls = 0;
D64 Set_bias_value = 0.0;
int Ready_calls = 0;
S16 can_predict() { return Can_predict; }
void set_bias(D64 cb) {
  ++Set_bias_calls;
  Set_bias_value = cb;
}
void ready() { ++Ready_calls; }

struct RuleCase {
  const char* name;
  S32 lapse;
  S16 can_predict;
  bool hooks;
  S32 err;
  int bias_calls;
  int ready_calls;
  S16 armed_after;
};
const RuleCase RULE[] = {
    {"short lapse: bias set, weak pass allowed", 10, 1, true, 16368, 1, 1, 1},
    {"lapse of 200 s: bias set, no weak pass", 200, 1, true, 16368, 1, 0, 1},
    {"negative lapse never arms", -5, 1, true, 16368, 0, 0, 0},
    {"an hour never arms", 3600, 1, true, 16368, 0, 0, 0},
    {"zero error does nothing", 10, 1, true, 0, 0, 0, 1},
    {"predictor cannot: disarmed", 10, 0, true, 16368, 0, 0, 0},
    {"no hooks: disarmed", 10, 1, false, 16368, 0, 0, 0},
    {"implausible bias: disarmed", 10, 1, true, 18004800, 0, 0, 0},
};

TEST(Rtc, HotStartClockBiasRule) {
  ASSERT_EQ(TCXO_init(1), 1);  // 16 368 000 Hz
  for (const auto& c : RULE) {
    SCOPED_TRACE(c.name);
    KRTC_init();
    const KRTC_HOT_START_HOOKS_T hooks{can_predict, set_bias, ready};
    KRTC_install_hot_start_hooks(c.hooks ? &hooks : nullptr);
    Can_predict = c.can_predict;
    Set_bias_calls = Ready_calls = 0;
    Set_bias_value = 0.0;
    KRTC_update_rtc_lapsed_time(c.lapse, 0);
    KRTC_compensate_gtc_sync_to_gps_time_error(c.err, 1);
    EXPECT_EQ(Set_bias_calls, c.bias_calls);
    EXPECT_EQ(Ready_calls, c.ready_calls);
    EXPECT_EQ(KRTC_can_predict_clock_bias(), c.armed_after);
    if (c.bias_calls == 1) {
      EXPECT_NEAR(Set_bias_value, -(c.err * C / 16368000.0 + 30000.0), 1e-6);
      S32 d = 0;
      D64 cb = 0.0;
      KRTC_get_debug_info(&d, &cb);
      EXPECT_EQ(d, c.lapse);
      EXPECT_NEAR(cb, Set_bias_value, 1e-9);
    }
  }
  KRTC_install_hot_start_hooks(nullptr);
  KRTC_init();
}

}  // namespace
