// Time in the target's units: TCXO mode constants, the time-count registers
// of a measurement epoch (with mode 0's unequal milliseconds) and the RTC.
#include <array>
#include <cmath>

#include "tools/sky/sky_link.h"

namespace {

constexpr double WEEK_S = 604800.0;
constexpr double L1_HZ = 1575.42e6;
constexpr double TWO_POW_28 = 268435456.0;
constexpr double RTC_HZ = 32768.0;  // RTC counts per second

struct TCXO_ROW_T {
  uint32_t freq_hz;
  int32_t pll;          // PLL ratio of mixer 1
  double ideal_bb_hz;   // ideal zero-Doppler baseband frequency before the residual, Hz
  float tm_scale;       // tracking NCO units per Hz
  int32_t mixer1_word;  // mixer-1 NCO word
};

constexpr std::array<TCXO_ROW_T, 5> TCXO_TBL = {{
    {16367667U, 96, 32051.25, 32.800697326660156f, 67108864},
    {16368000U, 96, 0.0, 32.80002975463867f, 67108864},
    {16369000U, 96, -96250.0, 32.79802703857422f, 67108864},
    {19500000U, 81, 0.0, 27.531841278076172f, -56164957},
    {24552000U, 64, 0.0, 21.866687774658203f, 44739243},
}};

int64_t total_seconds(int32_t week, int32_t sec) { return static_cast<int64_t>(week) * 604800 + sec; }

SKY_GPST_T gpst_from_total(double total_s) {
  SKY_GPST_T t;
  const double w = std::floor(total_s / WEEK_S);
  t.week = static_cast<int32_t>(w);
  t.tow = total_s - w * WEEK_S;
  if (t.tow >= WEEK_S) {
    t.tow -= WEEK_S;
    ++t.week;
  }
  return t;
}

double clock_diff_s(SKY_GPST_T a, SKY_GPST_T b) {
  return static_cast<double>(a.week - b.week) * WEEK_S + (a.tow - b.tow);
}

}  // namespace

int SKY_LINK_tcxo(int mode, SKY_TCXO_T* out) {
  if (mode < 0 || mode >= static_cast<int>(TCXO_TBL.size())) return 0;
  const TCXO_ROW_T& r = TCXO_TBL[static_cast<std::size_t>(mode)];
  const double f = r.freq_hz;
  const double required = L1_HZ - f * r.pll;  // mixer-1 output wanted, Hz
  const double residual = required - static_cast<double>(r.mixer1_word) * f / TWO_POW_28 - r.ideal_bb_hz;
  SKY_TCXO_T t;
  t.mode = mode;
  t.freq_hz = r.freq_hz;
  t.clock_per_ms0 = static_cast<int32_t>(r.freq_hz / 1000U);
  t.fraction = static_cast<int32_t>(r.freq_hz - 1000U * static_cast<uint32_t>(t.clock_per_ms0));
  t.ideal_bb_hz = r.ideal_bb_hz + static_cast<double>(static_cast<float>(residual));
  t.tm_scale = r.tm_scale;
  t.if_hz = static_cast<int32_t>(std::lround(required));
  const float ratio = static_cast<float>(f / 16367667.0);
  t.noise_power = static_cast<uint32_t>(2500000.0 * static_cast<double>(ratio * ratio)) + 5000U;
  *out = t;
  return 1;
}

uint32_t SKY_LINK_ms_clocks(const SKY_TCXO_T& t, int ms) {
  const auto cpm = static_cast<uint32_t>(t.clock_per_ms0);
  const auto m = static_cast<uint32_t>(ms);
  const auto fr = static_cast<uint32_t>(t.fraction);
  if (m <= fr) return m * (cpm + 1U);
  return fr * (cpm + 1U) + (m - fr) * cpm;
}

SKY_GPST_T SKY_LINK_gtc_to_clock(const SKY_TCXO_T& t, const SKY_GTC_ORIGIN_T& o, const SKY_GTC_T& g) {
  const int64_t whole = total_seconds(g.week + o.week_offset, g.sec) + o.sec_offset;
  SKY_GPST_T c = gpst_from_total(static_cast<double>(whole));
  c.tow += static_cast<double>(SKY_LINK_ms_clocks(t, g.ms)) / static_cast<double>(t.freq_hz);
  return c;
}

SKY_GTC_T SKY_LINK_gtc_add_ms(const SKY_GTC_T& g, int64_t ms_step) {
  const int64_t ms_total = total_seconds(g.week, g.sec) * 1000 + g.ms + ms_step;
  const int64_t sec_total = ms_total / 1000;
  SKY_GTC_T r;
  r.ms = static_cast<int32_t>(ms_total - sec_total * 1000);
  r.week = static_cast<int32_t>(sec_total / 604800);
  r.sec = static_cast<int32_t>(sec_total - static_cast<int64_t>(r.week) * 604800);
  return r;
}

SKY_GTC_T SKY_LINK_gtc_at_or_after(const SKY_TCXO_T& t, const SKY_GTC_ORIGIN_T& o, SKY_GPST_T clock, int step_ms) {
  const int64_t origin = static_cast<int64_t>(o.week_offset) * 604800 + o.sec_offset;
  const int64_t clock_whole = total_seconds(clock.week, 0) + static_cast<int64_t>(std::floor(clock.tow));
  const double frac = clock.tow - std::floor(clock.tow);
  SKY_GTC_T g;
  const int64_t raw = clock_whole - origin;
  g.week = static_cast<int32_t>(raw / 604800);
  g.sec = static_cast<int32_t>(raw - static_cast<int64_t>(g.week) * 604800);
  int ms = 0;
  while (ms < 1000 && static_cast<double>(SKY_LINK_ms_clocks(t, ms)) / static_cast<double>(t.freq_hz) < frac - 1e-12)
    ms += step_ms;
  g.ms = 0;
  return SKY_LINK_gtc_add_ms(g, ms);
}

GTC_RD_T SKY_LINK_gtc_registers(const SKY_TCXO_T& t, const SKY_GTC_T& g) {
  GTC_RD_T r{};
  r.SSUBSEC_DIV_SSUBSEC = 0;
  r.WEEK_SUBSEC = ((static_cast<uint32_t>(g.week) & 0xFFFU) << 16) | (static_cast<uint32_t>(g.ms) & 0x7FFU);
  r.INTSEL_SEC = static_cast<uint32_t>(g.sec) & 0xFFFFFU;
  r.IF_FREQ = t.if_hz;
  return r;
}

uint64_t SKY_LINK_clocks_between(const SKY_TCXO_T& t, const SKY_GTC_T& a, const SKY_GTC_T& b) {
  const int64_t ds = total_seconds(b.week, b.sec) - total_seconds(a.week, a.sec);
  const int64_t clocks = ds * static_cast<int64_t>(t.freq_hz) + static_cast<int64_t>(SKY_LINK_ms_clocks(t, b.ms)) -
                         static_cast<int64_t>(SKY_LINK_ms_clocks(t, a.ms));
  return static_cast<uint64_t>(clocks);
}

SKY_RTC_T SKY_LINK_rtc_at(const SKY_RTC_MODEL_T& m, SKY_GPST_T true_time) {
  const double since_ref = static_cast<double>(true_time.week - m.ref.week) * WEEK_S + (true_time.tow - m.ref.tow);
  const double rtc_rel = since_ref + m.offset_s + m.drift * since_ref;  // RTC − ref, s
  const double whole_rel = std::floor(rtc_rel);
  const int64_t ref_whole = total_seconds(m.ref.week, 0) + static_cast<int64_t>(std::floor(m.ref.tow));
  const double ref_frac = m.ref.tow - std::floor(m.ref.tow);
  double frac = rtc_rel - whole_rel + ref_frac;
  int64_t sec_total = ref_whole + static_cast<int64_t>(whole_rel);
  if (frac >= 1.0) {
    frac -= 1.0;
    ++sec_total;
  }
  SKY_RTC_T r;
  const int64_t week = sec_total / 604800;
  r.wn = static_cast<int16_t>(week % 4096);
  r.sec = static_cast<int32_t>(sec_total - week * 604800);
  r.subsec = static_cast<uint32_t>(std::floor(frac * 32768.0)) & 0x7FFFU;
  return r;
}

SKY_GPST_T SKY_LINK_rtc_second_time(const SKY_RTC_MODEL_T& m, int64_t rtc_total_s) {
  return SKY_LINK_rtc_tick_time(m, rtc_total_s, 0U);
}

SKY_GPST_T SKY_LINK_rtc_tick_time(const SKY_RTC_MODEL_T& m, int64_t rtc_total_s, uint32_t subsec) {
  const double ref_total_whole = static_cast<double>(total_seconds(m.ref.week, 0));
  const double r_rel = (static_cast<double>(rtc_total_s) - ref_total_whole) - m.ref.tow +
                       static_cast<double>(subsec & 0x7FFFU) / RTC_HZ;  // RTC − ref, s
  const double u = (r_rel - m.offset_s) / (1.0 + m.drift);              // true − ref, s
  return SKY_LINK_gpst_add(gpst_from_total(ref_total_whole + m.ref.tow), u);
}

ASIC_READ_RTC_T SKY_LINK_rtc_record(const SKY_RTC_MODEL_T& m, SKY_GPST_T mark_true, double clk_drift,
                                    uint32_t freq_hz) {
  // The reading at the mark, truncated to its 1/32768 s count; the latch is
  // the next count (or this one when the mark falls on it exactly).
  SKY_RTC_T r = SKY_LINK_rtc_at(m, mark_true);
  int64_t wn = r.wn;  // the reading's week is modulo 4096: unwrap it next to the mark's
  while (wn + 2048 < mark_true.week) wn += 4096;
  int64_t total = wn * 604800 + r.sec;
  SKY_GPST_T tick = SKY_LINK_rtc_tick_time(m, total, r.subsec);
  double after = clock_diff_s(tick, mark_true);  // true s from the mark to the count shown
  if (after < 0.0) {
    if (++r.subsec == 32768U) {
      r.subsec = 0U;
      ++total;
    }
    tick = SKY_LINK_rtc_tick_time(m, total, r.subsec);
    after = clock_diff_s(tick, mark_true);
  }
  if (after < 0.0) after = 0.0;
  const int64_t week = total / 604800;
  ASIC_READ_RTC_T rec{};
  rec.record_rtc_sec = static_cast<U32>(total - week * 604800) & 0xFFFFFU;
  rec.record_rtc_wn_subsec = ((static_cast<U32>(week % 4096) & 0xFFFU) << 16) | (r.subsec & 0x7FFFU);
  // Receiver-clock seconds from the mark to the latch, in TCXO clocks (under
  // one RTC count: at most 750 clocks at 24.552 MHz, so it fits 16 bits).
  rec.record_read_rtc_delay_time_after_gtc_subsec_0_unit_is_gtc_clock =
      static_cast<U32>(std::lround(after * (1.0 + clk_drift) * static_cast<double>(freq_hz)));
  return rec;
}

SKY_GPST_T SKY_LINK_gpst_add(SKY_GPST_T t, double s) {
  t.tow += s;
  while (t.tow >= WEEK_S) {
    t.tow -= WEEK_S;
    ++t.week;
  }
  while (t.tow < 0.0) {
    t.tow += WEEK_S;
    --t.week;
  }
  return t;
}
