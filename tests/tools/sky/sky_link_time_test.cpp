// Time count and RTC of the simulated target: the registers decoded with the
// host's conversion, written here on their own, give back the receiver clock.
#include <gtest/gtest.h>

#include <cmath>

#include "tools/sky/sky_link.h"

namespace {

// TCXO modes: frequency, short-millisecond clocks and long milliseconds per second.
struct ModeRow {
  int mode;
  uint32_t freq;
  int32_t per_ms0;
  int32_t fraction;
  double ideal_bb;  // after the mixer residual, Hz (within 0.1 Hz)
  int32_t if_hz;
};
constexpr ModeRow MODES[] = {
    {0, 16367667U, 16367, 667, 32051.25, 1575420000 - 16367667 * 96},
    {1, 16368000U, 16368, 0, 0.0, 4092000},
    {2, 16369000U, 16369, 0, -96250.0, 1575420000 - 1571424000},
    {3, 19500000U, 19500, 0, 0.0, 1575420000 - 1579500000},
    {4, 24552000U, 24552, 0, 0.0, 4092000},
};

// The host's raw time count: week bits 27..16, ms bits 10..0 of WEEK_SUBSEC,
// second bits 19..0 of INTSEL_SEC; unequal milliseconds when the clock has a fraction.
double decode_tow(const GTC_RD_T& r, const ModeRow& m, int* wn) {
  *wn = static_cast<int>((r.WEEK_SUBSEC >> 16) & 0xFFF);
  const auto ms = static_cast<double>(r.WEEK_SUBSEC & 0x7FF);
  const auto sec = static_cast<double>(r.INTSEL_SEC & 0xFFFFF);
  if (m.fraction == 0 || ms == 0) return sec + ms * 0.001;
  const double per = m.per_ms0;
  const double clocks =
      ms < m.fraction ? ms * (per + 1) : (ms - m.fraction) * per + (per + 1) * static_cast<double>(m.fraction);
  return sec + clocks / static_cast<double>(m.freq);
}

TEST(SkyLinkTime, TcxoConstantsOfEveryMode) {
  for (const ModeRow& m : MODES) {
    SCOPED_TRACE(m.mode);
    SKY_TCXO_T t;
    ASSERT_EQ(SKY_LINK_tcxo(m.mode, &t), 1);
    EXPECT_EQ(t.freq_hz, m.freq);
    EXPECT_EQ(t.clock_per_ms0, m.per_ms0);
    EXPECT_EQ(t.fraction, m.fraction);
    EXPECT_NEAR(t.ideal_bb_hz, m.ideal_bb, 0.1);
    EXPECT_EQ(t.if_hz, m.if_hz);
    EXPECT_EQ(SKY_LINK_ms_clocks(t, 1000), m.freq);
  }
  SKY_TCXO_T t;
  EXPECT_EQ(SKY_LINK_tcxo(5, &t), 0);
  EXPECT_EQ(SKY_LINK_tcxo(-1, &t), 0);
}

TEST(SkyLinkTime, Mode0MillisecondsAre16368ThenOf16367Clocks) {
  SKY_TCXO_T t;
  ASSERT_EQ(SKY_LINK_tcxo(0, &t), 1);
  for (int ms = 0; ms < 1000; ++ms) {
    const uint32_t len = SKY_LINK_ms_clocks(t, ms + 1) - SKY_LINK_ms_clocks(t, ms);
    ASSERT_EQ(len, ms < 667 ? 16368U : 16367U) << "ms " << ms;
  }
}

TEST(SkyLinkTime, RegistersDecodeToTheReceiverClockInEveryMode) {
  const SKY_GTC_ORIGIN_T origin{};
  for (const ModeRow& m : MODES) {
    SKY_TCXO_T t;
    ASSERT_EQ(SKY_LINK_tcxo(m.mode, &t), 1);
    for (int ms : {0, 1, 250, 500, 666, 667, 668, 750, 999}) {
      SCOPED_TRACE(testing::Message() << "mode " << m.mode << " ms " << ms);
      const SKY_GTC_T g{2400, 345678, ms};
      const GTC_RD_T r = SKY_LINK_gtc_registers(t, g);
      int wn = 0;
      const double tow = decode_tow(r, m, &wn);
      const SKY_GPST_T c = SKY_LINK_gtc_to_clock(t, origin, g);
      EXPECT_EQ(wn, 2400 & 0xFFF);
      EXPECT_EQ(c.week, 2400);
      EXPECT_NEAR(tow, c.tow, 1e-9);
      EXPECT_EQ(r.SSUBSEC_DIV_SSUBSEC, 0U);
      EXPECT_EQ(r.IF_FREQ, m.if_hz);
    }
  }
}

TEST(SkyLinkTime, MarkAtOrAfterAClockTimeAndCarries) {
  SKY_TCXO_T t;
  ASSERT_EQ(SKY_LINK_tcxo(0, &t), 1);
  const SKY_GTC_ORIGIN_T origin{0, 7};
  const SKY_GPST_T clock{2400, 604799.7};
  const SKY_GTC_T g = SKY_LINK_gtc_at_or_after(t, origin, clock, 500);
  // raw = clock − 7 s = 604792.7 s: the next 500 ms mark is 604793.000
  EXPECT_EQ(g.week, 2400);
  EXPECT_EQ(g.sec, 604793);
  EXPECT_EQ(g.ms, 0);
  const SKY_GPST_T back = SKY_LINK_gtc_to_clock(t, origin, g);
  EXPECT_EQ(back.week, 2401);
  EXPECT_NEAR(back.tow, 0.0, 1e-9);
  const SKY_GTC_T from{2400, 604799, 500};
  const SKY_GTC_T n = SKY_LINK_gtc_add_ms(from, 500);
  EXPECT_EQ(n.week, 2401);
  EXPECT_EQ(n.sec, 0);
  EXPECT_EQ(n.ms, 0);
  // the second half of a mode-0 second: 167 long and 333 short milliseconds
  EXPECT_EQ(SKY_LINK_clocks_between(t, from, n), 167U * 16368U + 333U * 16367U);
  EXPECT_EQ(SKY_LINK_clocks_between(t, SKY_GTC_T{2400, 10, 0}, SKY_GTC_T{2400, 10, 500}), 500U * 16368U);
}

TEST(SkyLinkTime, RtcCountsWholeSecondsAndItsTicksInvert) {
  SKY_RTC_MODEL_T m;
  m.offset_s = 0.3125;
  m.drift = 2.0e-5;
  m.ref = SKY_GPST_T{2400, 100.0};
  SKY_GPST_T t{2400, 604790.0};
  SKY_RTC_T prev = SKY_LINK_rtc_at(m, t);
  for (int i = 1; i <= 20; ++i) {  // across the week boundary
    t.tow += 1.0;
    if (t.tow >= 604800.0) {
      t.tow -= 604800.0;
      ++t.week;
    }
    const SKY_RTC_T r = SKY_LINK_rtc_at(m, t);
    const int64_t a = static_cast<int64_t>(prev.wn) * 604800 + prev.sec;
    const int64_t b = static_cast<int64_t>(r.wn) * 604800 + r.sec;
    EXPECT_EQ(b - a, 1) << i;
    EXPECT_LT(r.subsec, 32768U);
    prev = r;
  }
  for (int64_t total : {int64_t{2400} * 604800 + 5000, int64_t{2401} * 604800 + 3}) {
    const SKY_GPST_T tick = SKY_LINK_rtc_second_time(m, total);
    SKY_GPST_T just_after = tick;
    just_after.tow += 1e-6;
    const SKY_RTC_T r = SKY_LINK_rtc_at(m, just_after);
    EXPECT_EQ(static_cast<int64_t>(r.wn) * 604800 + r.sec, total);
    EXPECT_LT(r.subsec, 2U);
  }
}

// The RTC record of a whole-second epoch: the RTC latched at its first
// 1/32768 s count at or after the mark, sub-second included, and the clocks
// from the mark to that count. Known answers: an RTC 0.3125 s ahead
// (10240 counts exactly) latches at the mark itself; 0.3125 s + 10 us is
// 10240.32768 counts, so the latch is count 10241, (1 - 0.32768) / 32768 s =
// 20.5176 us after the mark; 0.3125 s - 10 us latches at 10240 after 10 us.
struct RtcRecordCase {
  const char* name;
  double offset_s;   // RTC - GPS time
  double clk_drift;  // receiver clock drift, s/s
  int tcxo_mode;     // TCXO of the clocks
  uint32_t sec;      // expected RTC second of week
  uint32_t subsec;   // expected count, 1/32768 s
  double delay_s;    // expected time from the mark to the latch, true s
};

TEST(SkyLinkTime, RtcRecordIsTheLatchedReadingAndItsDelay) {
  const RtcRecordCase cases[] = {
      {"on a count", 0.3125, 0.0, 4, 1235, 10240, 0.0},
      {"a third of a count past", 0.3125 + 10e-6, 0.0, 4, 1235, 10241, (1.0 - 0.32768) / 32768.0},
      {"10 us short of a count, mode 0", 0.3125 - 10e-6, 1e-6, 0, 1235, 10240, 10e-6},
      {"just short of the next second", 0.99999, 0.0, 4, 1236, 0, 1e-5},
  };
  const SKY_GPST_T mark{2401, 1235.0};
  for (const RtcRecordCase& c : cases) {
    SCOPED_TRACE(c.name);
    SKY_RTC_MODEL_T m;
    m.offset_s = c.offset_s;
    m.ref = mark;
    SKY_TCXO_T t;
    ASSERT_EQ(SKY_LINK_tcxo(c.tcxo_mode, &t), 1);
    const ASIC_READ_RTC_T r = SKY_LINK_rtc_record(m, mark, c.clk_drift, t.freq_hz);
    EXPECT_EQ(r.record_rtc_sec, c.sec);
    EXPECT_EQ(r.record_rtc_wn_subsec >> 16, 2401U);
    EXPECT_EQ(r.record_rtc_wn_subsec & 0x7FFFU, c.subsec);
    const double clocks = c.delay_s * (1.0 + c.clk_drift) * t.freq_hz;
    EXPECT_NEAR(static_cast<double>(r.record_read_rtc_delay_time_after_gtc_subsec_0_unit_is_gtc_clock), clocks, 1.0);
    // Under one RTC count: a 16-bit sub-second offset holds it.
    EXPECT_LE(r.record_read_rtc_delay_time_after_gtc_subsec_0_unit_is_gtc_clock, t.freq_hz / 32768U + 1U);
    // The latched count is shown at the mark + the delay.
    const SKY_GPST_T at = SKY_LINK_rtc_tick_time(m, 2401LL * 604800 + c.sec, c.subsec);
    EXPECT_NEAR((at.week - mark.week) * 604800.0 + (at.tow - mark.tow), c.delay_s, 1e-9);
  }
}

// Two runs of the same RTC model read the same RTC at the same instant: a set
// started later continues the earlier set's RTC.
TEST(SkyLinkTime, RtcReadingsAgreeAcrossRuns) {
  SKY_RTC_MODEL_T m;
  m.drift = -3.0e-6;
  const SKY_GPST_T t{2401, 1234.5};
  const SKY_RTC_T a = SKY_LINK_rtc_at(m, t);
  const SKY_RTC_T b = SKY_LINK_rtc_at(SKY_RTC_MODEL_T(m), t);
  EXPECT_EQ(a.wn, b.wn);
  EXPECT_EQ(a.sec, b.sec);
  EXPECT_EQ(a.subsec, b.subsec);
  // Week 2401 modulo 4096, the RTC 0.3125 s ahead less the drift since week 2000.
  const double since_ref = (2401.0 - 2000.0) * 604800.0 + 1234.5;
  const double rtc_tow = 1234.5 + 0.3125 - 3.0e-6 * since_ref;
  const double expect_total = 2401.0 * 604800.0 + rtc_tow;
  EXPECT_EQ(static_cast<int64_t>(a.wn) * 604800 + a.sec, static_cast<int64_t>(std::floor(expect_total)));
}

}  // namespace
