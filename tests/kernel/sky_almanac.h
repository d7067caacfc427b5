// Test helpers: subframe 4 and 5 pages of the simulated sky's navigation
// message as the subframe collector hands them on (ten polarity-corrected
// words), and almanac pages encoded by hand with the IS-GPS-200 Table 20-VI
// layout and scale factors.
#pragma once

#include <array>
#include <cstdint>

#include "kernel/src/dbits_parity.h"
#include "misc/gnss_types.h"
#include "tools/sky/sky.h"

namespace alm_test {

using Page = std::array<U32, 10>;

// Subframe index in the week of subframe sf (1..5) of page (1..25) in page
// cycle `cycle` (a cycle is 25 frames, 750 s).
inline std::int32_t subframe_index(int cycle, int page, int sf) { return ((cycle * 25 + page - 1) * 5) + sf - 1; }

// The ten words of subframe s (index in the week) sent by satellite tx.
inline Page sky_subframe(int tx, int week, std::int32_t s) {
  Page p{};
  const std::int32_t first = s * 10;
  U32 prev = first > 0 ? SKY_nav_word(tx, week, first - 1) : SKY_nav_word(tx, week - 1, 1007999);
  for (int i = 0; i < 10; ++i) {
    const U32 w = SKY_nav_word(tx, week, first + i);
    p[static_cast<std::size_t>(i)] = DBP_polarity_corrected(w | ((prev & 3U) << 30));
    prev = w;
  }
  return p;
}

// Where the almanac of svid (1..32) is broadcast: subframe 5 pages 1..24 for
// svid 1..24, subframe 4 pages 2-5 and 7-10 for svid 25..32.
inline void almanac_page_of(int svid, int* sf, int* page) {
  constexpr std::array<int, 8> SF4_PAGES = {2, 3, 4, 5, 7, 8, 9, 10};
  if (svid <= 24) {
    *sf = 5;
    *page = svid;
  } else {
    *sf = 4;
    *page = SF4_PAGES[static_cast<std::size_t>(svid - 25)];
  }
}

// Put the n-bit value v into data bits Dfirst.. of a polarity-corrected word.
inline void put(U32* word, int first, int n, std::int64_t v) {
  const U32 mask = (1U << n) - 1U;
  *word |= (static_cast<U32>(v) & mask) << (31 - first - n);
}

// Almanac page fields as message integers (IS-GPS-200 Table 20-VI).
struct AlmFields {
  int svid = 1;
  std::int32_t e = 0;       // 2^-21
  std::int32_t toa = 0;     // 2^12 s
  std::int32_t di = 0;      // 2^-19 sc, relative to 0.30 sc
  std::int32_t omgd = 0;    // 2^-38 sc/s
  std::int32_t health = 0;  // 8 bits
  std::int32_t sqrta = 0;   // 2^-11 m^1/2
  std::int32_t omg0 = 0;    // 2^-23 sc
  std::int32_t omg = 0;     // 2^-23 sc
  std::int32_t m0 = 0;      // 2^-23 sc
  std::int32_t af0 = 0;     // 2^-20 s, 11 bits
  std::int32_t af1 = 0;     // 2^-38 s/s, 11 bits
};

inline Page encode_almanac(const AlmFields& f) {
  Page p{};
  put(&p[2], 1, 2, 1);  // data ID 01
  put(&p[2], 3, 6, f.svid);
  put(&p[2], 9, 16, f.e);
  put(&p[3], 1, 8, f.toa);
  put(&p[3], 9, 16, f.di);
  put(&p[4], 1, 16, f.omgd);
  put(&p[4], 17, 8, f.health);
  put(&p[5], 1, 24, f.sqrta);
  put(&p[6], 1, 24, f.omg0);
  put(&p[7], 1, 24, f.omg);
  put(&p[8], 1, 24, f.m0);
  put(&p[9], 1, 8, f.af0 >> 3);
  put(&p[9], 9, 11, f.af1);
  put(&p[9], 20, 3, f.af0 & 7);
  return p;
}

// Subframe 5 page 25 with reference time toa (2^12 s) and 8-bit week wna.
inline Page encode_page25(std::int32_t toa, std::int32_t wna) {
  Page p{};
  put(&p[2], 1, 2, 1);
  put(&p[2], 3, 6, 51);
  put(&p[2], 9, 8, toa);
  put(&p[2], 17, 8, wna);
  return p;
}

// A plausible GPS almanac (sqrt(A) 5153.6 m^1/2, e 0.01, 55 degrees).
inline AlmFields typical(int svid, std::int32_t toa_units) {
  AlmFields f;
  f.svid = svid;
  f.e = 20972;  // 0.01
  f.toa = toa_units;
  f.di = 5000;
  f.omgd = -1300;
  f.sqrta = 10554573;  // 5153.6 m^1/2
  f.omg0 = 1000000 * svid % 8388608;
  f.omg = -2000000;
  f.m0 = 300000 * svid;
  f.af0 = -100;
  f.af1 = 3;
  return f;
}

}  // namespace alm_test
