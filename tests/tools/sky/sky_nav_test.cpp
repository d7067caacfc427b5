// The sky's navigation message against a small decoder written here from
// IS-GPS-200: parity of Table 20-XIV (known answers, every single-bit error
// detected, D30* complementing the data), the D29/D30 = 00 ends of words 2
// and 10, TLM and HOW, subframes 1-3 decoded back to the ephemeris, almanac
// pages, page 18 (ionosphere, UTC, leap second), the page-25 health pages and
// the 25-page cycle.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "tools/sky/sky.h"

namespace {

// ---- decoder of the test (independent of the sky's encoder) ----

// Transmitted bit Dn (1..30) of a word held in bits 29..0.
int bit(uint32_t word, int n) { return static_cast<int>((word >> (30 - n)) & 1U); }

// Parity of Table 20-XIV from D29*, D30* and the source bits d1..d24.
uint32_t parity_of(int d29s, int d30s, const int* d /* d[1..24] */) {
  auto x = [&](std::initializer_list<int> idx) {
    int v = 0;
    for (const int i : idx) v ^= d[i];
    return v;
  };
  const int p25 = d29s ^ x({1, 2, 3, 5, 6, 10, 11, 12, 13, 14, 17, 18, 20, 23});
  const int p26 = d30s ^ x({2, 3, 4, 6, 7, 11, 12, 13, 14, 15, 18, 19, 21, 24});
  const int p27 = d29s ^ x({1, 3, 4, 5, 7, 8, 12, 13, 14, 15, 16, 19, 20, 22});
  const int p28 = d30s ^ x({2, 4, 5, 6, 8, 9, 13, 14, 15, 16, 17, 20, 21, 23});
  const int p29 = d30s ^ x({1, 3, 5, 6, 7, 9, 10, 14, 15, 16, 17, 18, 21, 22, 24});
  const int p30 = d29s ^ x({3, 5, 6, 8, 9, 10, 11, 13, 15, 19, 22, 23, 24});
  return static_cast<uint32_t>(p25 << 5 | p26 << 4 | p27 << 3 | p28 << 2 | p29 << 1 | p30);
}

// Parity check of a transmitted word given the previous word's D29, D30;
// the source data (complemented back when D30* = 1) into *data.
bool check(uint32_t word, int d29s, int d30s, uint32_t* data) {
  int d[25] = {};
  for (int i = 1; i <= 24; ++i) d[i] = bit(word, i) ^ d30s;
  uint32_t src = 0;
  for (int i = 1; i <= 24; ++i) src = (src << 1) | static_cast<uint32_t>(d[i]);
  if (data != nullptr) *data = src;
  return parity_of(d29s, d30s, d) == (word & 0x3FU);
}

// Unsigned field of `bits` bits starting at D-bit `first` of 24-bit source data.
uint32_t uf(uint32_t data, int first, int bits) { return (data >> (24 - (first + bits - 1))) & ((1U << bits) - 1U); }
// Signed (two's complement) field.
int32_t sf(uint32_t data, int first, int bits) {
  const uint32_t u = uf(data, first, bits);
  return (u & (1U << (bits - 1))) != 0 ? static_cast<int32_t>(u) - (1 << bits) : static_cast<int32_t>(u);
}
int32_t s32(uint32_t msb8, uint32_t lsb24) { return static_cast<int32_t>((msb8 << 24) | lsb24); }

// One subframe of the sky: ten words decoded, parity checked with chaining.
struct Subframe {
  std::array<uint32_t, 10> raw{};
  std::array<uint32_t, 10> data{};
  bool parity_ok = true;
};

Subframe read_subframe(int svid, int week, int s) {
  Subframe f;
  uint32_t prev = s > 0 ? SKY_nav_word(svid, week, s * 10 - 1) : 0U;
  for (int i = 0; i < 10; ++i) {
    const uint32_t w = SKY_nav_word(svid, week, s * 10 + i);
    f.raw[static_cast<size_t>(i)] = w;
    f.parity_ok = f.parity_ok && check(w, static_cast<int>((prev >> 1) & 1U), static_cast<int>(prev & 1U),
                                       &f.data[static_cast<size_t>(i)]);
    prev = w;
  }
  return f;
}

SKY_GPST_T gt(int week, double tow) {
  SKY_GPST_T t;
  t.week = week;
  t.tow = tow;
  return t;
}

SKY_SCENARIO_T& start_sky(int nsat) {
  static SKY_SCENARIO_T sc;
  sc = SKY_SCENARIO_T{};
  sc.start = gt(2400, 345600.0);
  sc.llh[0] = 48.1;
  sc.llh[1] = 11.6;
  sc.nsat = nsat;
  sc.leap_wn = 2450;
  sc.leap_dn = 4;
  sc.leap_s_after = 19;
  sc.iono_alpha[0] = 2.0489e-8;  // 22 x 2^-30
  EXPECT_EQ(SKY_init(&sc), 1);
  return sc;
}

// ---- parity ----

// Hand-worked from Table 20-XIV: TLM source bits 10001011 followed by 16
// zeros after D29* = D30* = 0: D25..D30 = 0 1 0 0 1 0.
TEST(SkyNav, ParityKnownAnswers) {
  EXPECT_EQ(SKY_nav_encode(0x8B0000, 0), 0x22C00012U);
  // D30* = 1 complements D1..D24: 01110100 1111...; with D29* = 0, D30* = 1
  // the equations holding D30* (D26, D28, D29) flip, the others keep their
  // sums over the source bits: D25..D30 = 0 0 0 1 0 0.
  EXPECT_EQ(SKY_nav_encode(0x8B0000, 1), (0x74FFFFU << 6) | 0x04U);
  // and with the test's own equations
  int d[25] = {};
  const uint32_t src = 0x8B0000;
  for (int i = 1; i <= 24; ++i) d[i] = static_cast<int>((src >> (24 - i)) & 1U);
  for (int prev = 0; prev < 4; ++prev) {
    const uint32_t w = SKY_nav_encode(src, static_cast<uint32_t>(prev));
    EXPECT_EQ(w & 0x3FU, parity_of(prev >> 1, prev & 1, d)) << "prev " << prev;
  }
}

// Table 20-XIV restated as masks over a 32-bit word holding D29*, D30* in
// bits 31..30 and d1..d24 in bits 29..6 (one mask per parity bit D25..D30).
TEST(SkyNav, ParityMatchesTheTableAsMasks) {
  const uint32_t masks[6] = {0xBB1F3480U, 0x5D8F9A40U, 0xAEC7CD00U, 0x5763E680U, 0x6BB1F340U, 0x8B7A89C0U};
  uint32_t x = 0x12345678U;
  for (int k = 0; k < 2000; ++k) {
    x = x * 1664525U + 1013904223U;  // any data and any previous word
    const uint32_t src = x >> 8, prev = x & 3U;
    const uint32_t packed = (prev << 30) | (src << 6);
    uint32_t expect = 0;
    for (const uint32_t m : masks) expect = (expect << 1) | static_cast<uint32_t>(std::popcount(packed & m) & 1);
    EXPECT_EQ(SKY_nav_encode(src, prev) & 0x3FU, expect) << std::hex << src << " prev " << prev;
  }
}

TEST(SkyNav, EverySingleBitErrorIsDetected) {
  const uint32_t sources[] = {0x8B0000, 0x000000, 0xFFFFFF, 0x123456, 0xA5A5A5, 0x5A0F3C};
  for (const uint32_t src : sources) {
    for (int prev = 0; prev < 4; ++prev) {
      const uint32_t w = SKY_nav_encode(src, static_cast<uint32_t>(prev));
      uint32_t back = 0;
      ASSERT_TRUE(check(w, prev >> 1, prev & 1, &back)) << std::hex << src << " prev " << prev;
      EXPECT_EQ(back, src);
      for (int b = 0; b < 30; ++b) {
        EXPECT_FALSE(check(w ^ (1U << b), prev >> 1, prev & 1, nullptr))
            << std::hex << src << " prev " << prev << " bit " << std::dec << 30 - b;
      }
    }
  }
}

// ---- frame structure ----

TEST(SkyNav, WordsPassParityAndWords2And10EndInZeros) {
  start_sky(32);
  for (int s = 57600; s < 57600 + 50; ++s) {  // ten frames of Thursday
    for (int svid : {1, 7, 32}) {
      const Subframe f = read_subframe(svid, 2400, s);
      EXPECT_TRUE(f.parity_ok) << "svid " << svid << " subframe " << s;
      EXPECT_EQ(f.raw[1] & 3U, 0U) << "svid " << svid << " subframe " << s;
      EXPECT_EQ(f.raw[9] & 3U, 0U) << "svid " << svid << " subframe " << s;
      EXPECT_EQ(uf(f.data[0], 1, 8), 0x8BU);
    }
  }
}

TEST(SkyNav, HowCountsTheNextSubframeAndStepsBySixSeconds) {
  start_sky(8);
  const int first = 100790;  // the last subframes of the week, then the next week
  uint32_t last_count = 0;
  for (int k = 0; k < 20; ++k) {
    const int s = (first + k) % 100800, week = 2400 + (first + k) / 100800;
    const Subframe f = read_subframe(3, week, s);
    ASSERT_TRUE(f.parity_ok) << "subframe " << s;
    const uint32_t count = uf(f.data[1], 1, 17);
    const uint32_t id = uf(f.data[1], 20, 3);
    EXPECT_EQ(count, static_cast<uint32_t>((s + 1) % 100800)) << "subframe " << s;
    EXPECT_EQ(id, static_cast<uint32_t>(s % 5 + 1)) << "subframe " << s;
    EXPECT_EQ(id, (count + 4) % 5 + 1) << "subframe " << s;
    EXPECT_EQ(uf(f.data[1], 18, 1), 0U);  // alert
    EXPECT_EQ(uf(f.data[1], 19, 1), 1U);  // anti-spoofing
    if (k > 0) {
      EXPECT_EQ(count, (last_count + 1) % 100800) << "subframe " << s;
    }
    last_count = count;
  }
}

TEST(SkyNav, DeterministicInAnyOrder) {
  start_sky(6);
  std::array<uint32_t, 60> forward{};
  for (int i = 0; i < 60; ++i) forward[static_cast<size_t>(i)] = SKY_nav_word(5, 2400, 7000 + i);
  for (int i = 59; i >= 0; --i) {
    SKY_nav_word(2, 2400, 9000 - i);  // another satellite in between
    EXPECT_EQ(SKY_nav_word(5, 2400, 7000 + i), forward[static_cast<size_t>(i)]) << "word " << i;
  }
  EXPECT_EQ(SKY_nav_word(7, 2400, 0), 0U);  // not in the constellation
  EXPECT_EQ(SKY_nav_word(0, 2400, 0), 0U);
  EXPECT_EQ(SKY_nav_word(5, 2400, 1008000), 0U);
  EXPECT_EQ(SKY_nav_word(5, 2400, -1), 0U);
}

// ---- subframes 1-3 ----

TEST(SkyNav, SubframesOneToThreeDecodeToTheEphemeris) {
  start_sky(32);
  for (int svid = 1; svid <= 32; ++svid) {
    for (int frame : {0, 239, 240, 11519}) {  // sets 0, 0, 1 (2 h later), 47
      const int s = frame * 5;
      const Subframe f1 = read_subframe(svid, 2400, s), f2 = read_subframe(svid, 2400, s + 1),
                     f3 = read_subframe(svid, 2400, s + 2);
      ASSERT_TRUE(f1.parity_ok && f2.parity_ok && f3.parity_ok);
      SKY_EPH_T e;
      ASSERT_EQ(SKY_get_ephemeris(svid, gt(2400, frame * 30.0), &e), 1);
      const std::string tag = "svid " + std::to_string(svid) + " frame " + std::to_string(frame);
      const auto& a = f1.data;
      EXPECT_EQ(uf(a[2], 1, 10), static_cast<uint32_t>(2400 % 1024)) << tag;
      EXPECT_EQ(uf(a[2], 11, 2), static_cast<uint32_t>(e.l2_code)) << tag;
      EXPECT_EQ(uf(a[2], 13, 4), static_cast<uint32_t>(e.ura)) << tag;
      EXPECT_EQ(uf(a[2], 17, 6), static_cast<uint32_t>(e.health)) << tag;
      EXPECT_EQ((uf(a[2], 23, 2) << 8) | uf(a[7], 1, 8), static_cast<uint32_t>(e.iodc)) << tag;
      EXPECT_EQ(sf(a[6], 17, 8), e.tgd) << tag;
      EXPECT_EQ(static_cast<int32_t>(uf(a[7], 9, 16)), e.toc) << tag;
      EXPECT_EQ(sf(a[8], 1, 8), e.af2) << tag;
      EXPECT_EQ(sf(a[8], 9, 16), e.af1) << tag;
      EXPECT_EQ(sf(a[9], 1, 22), e.af0) << tag;
      const auto& b = f2.data;
      EXPECT_EQ(static_cast<int32_t>(uf(b[2], 1, 8)), e.iode) << tag;
      EXPECT_EQ(sf(b[2], 9, 16), e.crs) << tag;
      EXPECT_EQ(sf(b[3], 1, 16), e.deln) << tag;
      EXPECT_EQ(s32(uf(b[3], 17, 8), b[4]), e.m0) << tag;
      EXPECT_EQ(sf(b[5], 1, 16), e.cuc) << tag;
      EXPECT_EQ((uf(b[5], 17, 8) << 24) | b[6], e.e) << tag;
      EXPECT_EQ(sf(b[7], 1, 16), e.cus) << tag;
      EXPECT_EQ((uf(b[7], 17, 8) << 24) | b[8], e.sqrta) << tag;
      EXPECT_EQ(static_cast<int32_t>(uf(b[9], 1, 16)), e.toe) << tag;
      EXPECT_EQ(static_cast<int32_t>(uf(b[9], 17, 1)), e.fit_flag) << tag;
      EXPECT_EQ(static_cast<int32_t>(uf(b[9], 18, 5)), e.aodo) << tag;
      const auto& c = f3.data;
      EXPECT_EQ(sf(c[2], 1, 16), e.cic) << tag;
      EXPECT_EQ(s32(uf(c[2], 17, 8), c[3]), e.omg0) << tag;
      EXPECT_EQ(sf(c[4], 1, 16), e.cis) << tag;
      EXPECT_EQ(s32(uf(c[4], 17, 8), c[5]), e.i0) << tag;
      EXPECT_EQ(sf(c[6], 1, 16), e.crc) << tag;
      EXPECT_EQ(s32(uf(c[6], 17, 8), c[7]), e.omg) << tag;
      EXPECT_EQ(sf(c[8], 1, 24), e.omgd) << tag;
      EXPECT_EQ(static_cast<int32_t>(uf(c[9], 1, 8)), e.iode) << tag;
      EXPECT_EQ(sf(c[9], 9, 14), e.idot) << tag;
      // the data set's reference time is the middle of its 2 hours
      EXPECT_EQ(e.toe * 16, (frame * 30 / 7200) * 7200 + 3600) << tag;
    }
  }
}

// ---- subframes 4 and 5 ----

// Subframe index of page p (1..25) of subframe id (4 or 5) in the first
// 12.5-minute cycle of the week.
int page_subframe(int page, int id) { return (page - 1) * 5 + (id - 1); }

TEST(SkyNav, PagesCarryTheirSvIds) {
  start_sky(32);
  const int sf4_ids[25] = {57, 25, 26, 27, 28, 57, 29, 30, 31, 32, 57, 62, 52,
                           53, 54, 57, 55, 56, 58, 59, 57, 60, 61, 62, 63};
  for (int page = 1; page <= 25; ++page) {
    const Subframe f4 = read_subframe(1, 2400, page_subframe(page, 4));
    const Subframe f5 = read_subframe(1, 2400, page_subframe(page, 5));
    ASSERT_TRUE(f4.parity_ok && f5.parity_ok) << "page " << page;
    EXPECT_EQ(uf(f4.data[2], 1, 2), 1U) << "page " << page;  // data ID 01
    EXPECT_EQ(uf(f4.data[2], 3, 6), static_cast<uint32_t>(sf4_ids[page - 1])) << "page " << page;
    EXPECT_EQ(uf(f5.data[2], 3, 6), static_cast<uint32_t>(page <= 24 ? page : 51)) << "page " << page;
    // the next cycle starts 750 s later with the same page
    const Subframe g5 = read_subframe(1, 2400, page_subframe(page, 5) + 125);
    EXPECT_EQ(uf(g5.data[2], 3, 6), uf(f5.data[2], 3, 6)) << "page " << page;
  }
}

TEST(SkyNav, AlmanacPagesDecodeToTheAlmanac) {
  start_sky(32);
  for (int svid = 1; svid <= 32; ++svid) {
    int s = 0;
    if (svid <= 24) {
      s = page_subframe(svid, 5);
    } else {
      const int pages[8] = {2, 3, 4, 5, 7, 8, 9, 10};
      s = page_subframe(pages[svid - 25], 4);
    }
    s += 125 * 40;                                                 // a later cycle of the week
    const Subframe f = read_subframe(svid == 1 ? 2 : 1, 2400, s);  // any satellite carries every almanac
    ASSERT_TRUE(f.parity_ok);
    SKY_ALM_T a;
    ASSERT_EQ(SKY_get_almanac(svid, gt(2400, s * 6.0), &a), 1);
    const auto& d = f.data;
    const std::string tag = "svid " + std::to_string(svid);
    EXPECT_EQ(static_cast<int32_t>(uf(d[2], 3, 6)), svid) << tag;
    EXPECT_EQ(static_cast<int32_t>(uf(d[2], 9, 16)), a.e) << tag;
    EXPECT_EQ(static_cast<int32_t>(uf(d[3], 1, 8)), a.toa) << tag;
    EXPECT_EQ(sf(d[3], 9, 16), a.di) << tag;
    EXPECT_EQ(sf(d[4], 1, 16), a.omgd) << tag;
    EXPECT_EQ(static_cast<int32_t>(uf(d[4], 17, 8)), a.health) << tag;
    EXPECT_EQ(static_cast<int32_t>(uf(d[5], 1, 24)), a.sqrta) << tag;
    EXPECT_EQ(sf(d[6], 1, 24), a.omg0) << tag;
    EXPECT_EQ(sf(d[7], 1, 24), a.omg) << tag;
    EXPECT_EQ(sf(d[8], 1, 24), a.m0) << tag;
    const int32_t af0 = static_cast<int32_t>((uf(d[9], 1, 8) << 3) | uf(d[9], 20, 3));
    EXPECT_EQ(af0 >= 1024 ? af0 - 2048 : af0, a.af0) << tag;
    EXPECT_EQ(sf(d[9], 9, 11), a.af1) << tag;
    // the almanac describes the same orbit as the ephemeris: sqrt(A) within
    // the mean motion difference it absorbs, inclination within what IDOT
    // changes between toe and toa
    SKY_EPH_T e;
    ASSERT_EQ(SKY_get_ephemeris(svid, gt(2400, s * 6.0), &e), 1);
    EXPECT_NEAR(a.sqrta * std::ldexp(1.0, -11), e.sqrta * std::ldexp(1.0, -19), 0.1) << tag;
    EXPECT_NEAR(0.30 + a.di * std::ldexp(1.0, -19), e.i0 * std::ldexp(1.0, -31), 1e-5) << tag;
    EXPECT_LE(a.toa * 4096, 602112);
  }
}

TEST(SkyNav, AbsentSatellitesSendDummyAlmanacsAndUnhealthy) {
  start_sky(10);
  const Subframe f = read_subframe(1, 2400, page_subframe(11, 5));  // page 11: SV 11, not in the sky
  ASSERT_TRUE(f.parity_ok);
  EXPECT_EQ(uf(f.data[2], 3, 6), 0U);
  const Subframe p25 = read_subframe(1, 2400, page_subframe(25, 5));
  ASSERT_TRUE(p25.parity_ok);
  SKY_ALM_T a;
  ASSERT_EQ(SKY_get_almanac(1, gt(2400, page_subframe(25, 5) * 6.0), &a), 1);
  EXPECT_EQ(static_cast<int32_t>(uf(p25.data[2], 9, 8)), a.toa);
  EXPECT_EQ(static_cast<int32_t>(uf(p25.data[2], 17, 8)), 2400 & 0xFF);
  for (int sv = 1; sv <= 24; ++sv) {
    const uint32_t h = uf(p25.data[static_cast<size_t>(3 + (sv - 1) / 4)], 1 + 6 * ((sv - 1) % 4), 6);
    EXPECT_EQ(h, sv <= 10 ? 0U : 0x3FU) << "SV " << sv;
  }
  const Subframe q25 = read_subframe(1, 2400, page_subframe(25, 4));
  ASSERT_TRUE(q25.parity_ok);
  EXPECT_EQ(uf(q25.data[2], 3, 6), 63U);
  for (int sv = 1; sv <= 32; ++sv) {
    const int pos = 9 + 4 * (sv - 1);
    const uint32_t cfg = uf(q25.data[static_cast<size_t>(2 + (pos - 1) / 24)], (pos - 1) % 24 + 1, 4);
    EXPECT_EQ(cfg, sv <= 10 ? 0xBU : 0U) << "SV " << sv;
  }
  EXPECT_EQ(uf(q25.data[7], 19, 6), 0x3FU);  // SV 25
  for (int sv = 26; sv <= 29; ++sv) EXPECT_EQ(uf(q25.data[8], 1 + 6 * (sv - 26), 6), 0x3FU) << "SV " << sv;
  for (int sv = 30; sv <= 32; ++sv) EXPECT_EQ(uf(q25.data[9], 1 + 6 * (sv - 30), 6), 0x3FU) << "SV " << sv;
}

TEST(SkyNav, Page18CarriesIonosphereUtcAndTheLeapSecondEvent) {
  const SKY_SCENARIO_T& sc = start_sky(4);
  const Subframe f = read_subframe(2, 2400, page_subframe(18, 4) + 125 * 3);
  ASSERT_TRUE(f.parity_ok);
  SKY_IONO_UTC_T p;
  SKY_get_iono_utc(&p);
  const auto& d = f.data;
  EXPECT_EQ(uf(d[2], 3, 6), 56U);
  const int32_t alpha[4] = {sf(d[2], 9, 8), sf(d[2], 17, 8), sf(d[3], 1, 8), sf(d[3], 9, 8)};
  const int32_t beta[4] = {sf(d[3], 17, 8), sf(d[4], 1, 8), sf(d[4], 9, 8), sf(d[4], 17, 8)};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(alpha[i], p.alpha[i]) << "alpha " << i;
    EXPECT_EQ(beta[i], p.beta[i]) << "beta " << i;
  }
  // the scenario's values come back within their LSB
  EXPECT_EQ(alpha[0], 22);
  EXPECT_NEAR(alpha[1] * std::ldexp(1.0, -27), sc.iono_alpha[1], std::ldexp(1.0, -28));
  EXPECT_NEAR(alpha[2] * std::ldexp(1.0, -24), sc.iono_alpha[2], std::ldexp(1.0, -25));
  EXPECT_NEAR(alpha[3] * std::ldexp(1.0, -24), sc.iono_alpha[3], std::ldexp(1.0, -25));
  EXPECT_NEAR(beta[0] * 2048.0, sc.iono_beta[0], 1024.0);
  EXPECT_NEAR(beta[1] * 16384.0, sc.iono_beta[1], 8192.0);
  EXPECT_NEAR(beta[2] * 65536.0, sc.iono_beta[2], 32768.0);
  EXPECT_NEAR(beta[3] * 65536.0, sc.iono_beta[3], 32768.0);
  EXPECT_EQ(sf(d[5], 1, 24), p.a1);
  EXPECT_EQ(static_cast<int32_t>((uf(d[6], 1, 24) << 8) | uf(d[7], 1, 8)), p.a0);
  EXPECT_EQ(static_cast<int32_t>(uf(d[7], 9, 8)), p.tot);
  EXPECT_EQ(static_cast<int32_t>(uf(d[7], 17, 8)), 2400 & 0xFF);
  EXPECT_EQ(sf(d[8], 1, 8), 18);                                 // delta t_LS
  EXPECT_EQ(static_cast<int32_t>(uf(d[8], 9, 8)), 2450 & 0xFF);  // WN_LSF
  EXPECT_EQ(static_cast<int32_t>(uf(d[8], 17, 8)), 4);           // DN
  EXPECT_EQ(sf(d[9], 1, 8), 19);                                 // delta t_LSF
}

// The almanac data set changes only between page cycles: every almanac page
// and page 25 of one 12.5-minute cycle carry the same toa, also in the cycle
// where the 86016-s span ends.
TEST(SkyNav, OneAlmanacDataSetPerPageCycle) {
  start_sky(32);
  for (const int cycle : {114, 115, 116}) {  // 86016 s falls in cycle 114 (85500 .. 86250 s)
    const int first = cycle * 125;
    const Subframe p25 = read_subframe(1, 2400, first + page_subframe(25, 5));
    ASSERT_TRUE(p25.parity_ok);
    const uint32_t toa = uf(p25.data[2], 9, 8);
    for (int page = 1; page <= 24; ++page) {
      const Subframe f = read_subframe(1, 2400, first + page_subframe(page, 5));
      EXPECT_EQ(uf(f.data[3], 1, 8), toa) << "cycle " << cycle << " page " << page;
    }
    EXPECT_EQ(toa, cycle <= 114 ? 10U : 31U) << "cycle " << cycle;  // 40960 s, then 86016 + 40960 s
  }
}

}  // namespace
