// A small stand-in sky for the link half's tests: satellites on straight-line
// (constant-acceleration) ranges, a receiver clock with bias and drift, and
// pseudo-random navigation words. Independent of the sky core.
#pragma once

#include <cmath>
#include <cstdint>

#include "tools/sky/sky_link.h"

namespace sky_fake {

inline constexpr double C = 299792458.0;
inline constexpr double L1 = 1575.42e6;
inline constexpr double LAMBDA = C / L1;

struct FAKE_SKY_T {
  SKY_GPST_T t0{2400, 345600.0};  // true time of the reference
  double bias0 = 2.5e-4;          // receiver clock − true at t0, s
  double drift = 1.5e-7;          // s/s
  int nsat = 6;
  double r0[SKY_MAX_SV] = {};  // range at t0, m
  double v[SKY_MAX_SV] = {};   // range rate at t0, m/s
  double a[SKY_MAX_SV] = {};   // range acceleration, m/s²
  double cn0[SKY_MAX_SV] = {};
  double appear_s[SKY_MAX_SV] = {};  // visible from this many s after t0
  double vanish_s[SKY_MAX_SV] = {};  // until this many s after t0
};

inline FAKE_SKY_T& fake() {
  static FAKE_SKY_T f;
  return f;
}

// Default constellation: nsat satellites, ranges 20 000..25 000 km, rates ±800 m/s.
inline void fake_reset(int nsat = 6) {
  FAKE_SKY_T f;
  f.nsat = nsat;
  for (int k = 0; k < nsat; ++k) {
    f.r0[k] = 2.0e7 + 7.3e5 * k + 0.123 * k;
    f.v[k] = -800.0 + 310.0 * k;
    f.a[k] = 0.12 - 0.05 * k;
    f.cn0[k] = 30.0 + 4.1 * k;
    f.appear_s[k] = -1e9;
    f.vanish_s[k] = 1e9;
  }
  fake() = f;
}

inline double since_t0(SKY_GPST_T t) {
  const FAKE_SKY_T& f = fake();
  return static_cast<double>(t.week - f.t0.week) * 604800.0 + (t.tow - f.t0.tow);
}

inline SKY_GPST_T add_s(SKY_GPST_T t, double s) {
  t.tow += s;
  while (t.tow >= 604800.0) {
    t.tow -= 604800.0;
    ++t.week;
  }
  while (t.tow < 0.0) {
    t.tow += 604800.0;
    --t.week;
  }
  return t;
}

inline int fake_epoch_at_clock(SKY_GPST_T clock, SKY_EPOCH_T* out) {
  const FAKE_SKY_T& f = fake();
  const double u = (since_t0(clock) - f.bias0) / (1.0 + f.drift);  // true − t0
  *out = SKY_EPOCH_T{};
  out->rx.true_time = add_s(f.t0, u);
  out->rx.clock_time = clock;
  out->rx.clk_bias_s = f.bias0 + f.drift * u;
  out->rx.clk_drift = f.drift;
  out->rx.pos_ecef[0] = -3.9e6;
  out->n = f.nsat;
  for (int k = 0; k < f.nsat; ++k) {
    SKY_SIGNAL_T& s = out->sig[k];
    s.svid = static_cast<int16_t>(k + 1);
    s.visible = (u >= f.appear_s[k] && u < f.vanish_s[k]) ? 1 : 0;
    s.range_m = f.r0[k] + f.v[k] * u + 0.5 * f.a[k] * u * u;
    s.range_rate_mps = f.v[k] + f.a[k] * u;
    s.tx_time = add_s(out->rx.true_time, -s.range_m / C);
    s.pseudorange_m = C * since_t0(clock) - C * since_t0(s.tx_time);
    s.doppler_hz = -s.range_rate_mps / LAMBDA - f.drift * L1;
    s.cn0_dbhz = f.cn0[k];
    s.el_deg = 10.0 + 10.0 * k;
    s.az_deg = 30.0 * k;
  }
  return 1;
}

// Navigation words of the stand-in sky: every subframe starts with a TLM
// word carrying the preamble 10001011 (D1..D8) and a HOW carrying the TOW
// count of the next subframe (D1..D17) and the subframe id (D20..D22); the
// other words are pseudo-random per (svid, week, index). No parity.
inline uint32_t fake_nav_word(int svid, int32_t week, int32_t word_index) {
  const int32_t subframe = word_index / 10;
  if (word_index % 10 == 0) return 0x8BU << 22;
  if (word_index % 10 == 1)
    return (static_cast<uint32_t>((subframe + 1) % 100800) << 13) | (static_cast<uint32_t>(subframe % 5 + 1) << 8);
  uint64_t x =
      (static_cast<uint64_t>(svid) << 40) ^ (static_cast<uint64_t>(week) << 21) ^ static_cast<uint64_t>(word_index);
  x = (x ^ (x >> 31)) * 0x7FB5D329728EA185ULL;
  x = (x ^ (x >> 27)) * 0x81DADEF4BC2DD44DULL;
  return static_cast<uint32_t>(x ^ (x >> 33)) & 0x3FFFFFFFU;
}

inline SKY_LINK_SOURCE_T fake_source() {
  SKY_LINK_SOURCE_T s;
  s.epoch_at_clock = fake_epoch_at_clock;
  s.nav_word = fake_nav_word;
  return s;
}

}  // namespace sky_fake
