// The GPS L1 C/A navigation message of IS-GPS-200 20.3.2-20.3.3: 30-bit
// words with the (32,26) Hamming parity of Table 20-XIV, subframes of ten
// words (TLM, HOW, eight data words), frames of five subframes and the
// 25-page cycle of subframes 4 and 5 (12.5 minutes).
//
// Subframe s of a week (0..100799) starts at s x 6 s; its HOW carries the
// TOW count of the next subframe, (s + 1) mod 100800, and subframes 4 and 5
// show page (s / 5) mod 25 + 1. Words 2 and 10 end in D29 = D30 = 0 (their
// two t-bits are chosen for it), so every subframe can be encoded on its own:
// word 1 always follows D29* = D30* = 0.
#include <array>
#include <bit>
#include <cstdint>
#include <initializer_list>

#include "tools/sky/sky_core.h"

namespace {

constexpr int WORDS = 10;
constexpr int32_t SUBFRAMES_PER_WEEK = 100800;
constexpr uint32_t PREAMBLE = 0x8B;
constexpr uint32_t ALTERNATING = 0xAAAAAA;  // reserved and dummy data: 1010...
constexpr uint32_t DATA_ID = 1;             // data ID of subframes 4 and 5 (binary 01)
constexpr uint32_t AS_CONFIG = 0xB;         // page 25 per-SV nibble: anti-spoofing on, configuration 011
constexpr uint32_t HEALTH_ABSENT = 0x3F;    // 6-bit health of a PRN without a satellite

// Data bits d1..d24 as a mask over a 24-bit source word (d1 = bit 23).
constexpr uint32_t data_mask(std::initializer_list<int> bits) {
  uint32_t m = 0;
  for (const int b : bits) m |= 1U << (24 - b);
  return m;
}

// Parity equations of IS-GPS-200 Table 20-XIV: data bits of D25..D30 and
// whether D29* (0) or D30* (1) enters.
struct PARITY_EQ_T {
  uint32_t mask;
  int uses_d30_star;
};
constexpr std::array<PARITY_EQ_T, 6> PARITY = {{
    {data_mask({1, 2, 3, 5, 6, 10, 11, 12, 13, 14, 17, 18, 20, 23}), 0},     // D25
    {data_mask({2, 3, 4, 6, 7, 11, 12, 13, 14, 15, 18, 19, 21, 24}), 1},     // D26
    {data_mask({1, 3, 4, 5, 7, 8, 12, 13, 14, 15, 16, 19, 20, 22}), 0},      // D27
    {data_mask({2, 4, 5, 6, 8, 9, 13, 14, 15, 16, 17, 20, 21, 23}), 1},      // D28
    {data_mask({1, 3, 5, 6, 7, 9, 10, 14, 15, 16, 17, 18, 21, 22, 24}), 1},  // D29
    {data_mask({3, 5, 6, 8, 9, 10, 11, 13, 15, 19, 22, 23, 24}), 0},         // D30
}};

// SV ID (data ID excluded) of subframe 4 pages 1..25.
constexpr std::array<uint32_t, 25> SF4_SVID = {57, 25, 26, 27, 28, 57, 29, 30, 31, 32, 57, 62, 52,
                                               53, 54, 57, 55, 56, 58, 59, 57, 60, 61, 62, 63};
// Subframe 4 pages carrying the almanac of SV 25..32.
constexpr std::array<int, 8> SF4_ALMANAC_PAGES = {2, 3, 4, 5, 7, 8, 9, 10};

using SUBFRAME_T = std::array<uint32_t, WORDS>;  // 24-bit source data of words 1..10

// Field value placed at D-bits first..first+bits-1 of a 24-bit source word.
void put(uint32_t* word, int first, int bits, int64_t value) {
  const uint32_t mask = (bits >= 32 ? 0xFFFFFFFFU : ((1U << bits) - 1U));
  const int shift = 24 - (first + bits - 1);
  *word = (*word & ~(mask << shift)) | ((static_cast<uint32_t>(value) & mask) << shift);
}

uint32_t& w(SUBFRAME_T& sf, int word) { return sf[static_cast<size_t>(word - 1)]; }

// A 32-bit field: its 8 MSBs at D17..D24 of word lsb_word - 1, its 24 LSBs
// filling word lsb_word.
void put32(SUBFRAME_T& sf, int lsb_word, int64_t value) {
  const auto v = static_cast<uint32_t>(value);
  put(&w(sf, lsb_word - 1), 17, 8, v >> 24);
  put(&w(sf, lsb_word), 1, 24, v & 0xFFFFFF);
}

void tlm_how(SUBFRAME_T& sf, int32_t s) {
  put(&w(sf, 1), 1, 8, PREAMBLE);  // TLM message, integrity and reserved bits 0
  put(&w(sf, 2), 1, 17, (s + 1) % SUBFRAMES_PER_WEEK);
  put(&w(sf, 2), 18, 1, 0);  // alert
  put(&w(sf, 2), 19, 1, 1);  // anti-spoofing on
  put(&w(sf, 2), 20, 3, s % 5 + 1);
}

void subframe1(SUBFRAME_T& sf, const SKY_EPH_T& e) {
  put(&w(sf, 3), 1, 10, e.week & 0x3FF);
  put(&w(sf, 3), 11, 2, e.l2_code);
  put(&w(sf, 3), 13, 4, e.ura);
  put(&w(sf, 3), 17, 6, e.health);
  put(&w(sf, 3), 23, 2, e.iodc >> 8);
  put(&w(sf, 4), 1, 1, e.l2p_flag);
  put(&w(sf, 7), 17, 8, e.tgd);
  put(&w(sf, 8), 1, 8, e.iodc & 0xFF);
  put(&w(sf, 8), 9, 16, e.toc);
  put(&w(sf, 9), 1, 8, e.af2);
  put(&w(sf, 9), 9, 16, e.af1);
  put(&w(sf, 10), 1, 22, e.af0);
}

void subframe2(SUBFRAME_T& sf, const SKY_EPH_T& e) {
  put(&w(sf, 3), 1, 8, e.iode);
  put(&w(sf, 3), 9, 16, e.crs);
  put(&w(sf, 4), 1, 16, e.deln);
  put32(sf, 5, e.m0);
  put(&w(sf, 6), 1, 16, e.cuc);
  put32(sf, 7, e.e);
  put(&w(sf, 8), 1, 16, e.cus);
  put32(sf, 9, e.sqrta);
  put(&w(sf, 10), 1, 16, e.toe);
  put(&w(sf, 10), 17, 1, e.fit_flag);
  put(&w(sf, 10), 18, 5, e.aodo);
}

void subframe3(SUBFRAME_T& sf, const SKY_EPH_T& e) {
  put(&w(sf, 3), 1, 16, e.cic);
  put32(sf, 4, e.omg0);
  put(&w(sf, 5), 1, 16, e.cis);
  put32(sf, 6, e.i0);
  put(&w(sf, 7), 1, 16, e.crc);
  put32(sf, 8, e.omg);
  put(&w(sf, 9), 1, 24, e.omgd);
  put(&w(sf, 10), 1, 8, e.iode);
  put(&w(sf, 10), 9, 14, e.idot);
}

// Words 3..10 of a page: alternating bits under data ID and SV ID.
void page_head(SUBFRAME_T& sf, uint32_t svid) {
  for (int i = 3; i <= WORDS; ++i) w(sf, i) = ALTERNATING;
  put(&w(sf, 3), 1, 2, DATA_ID);
  put(&w(sf, 3), 3, 6, svid);
}

void almanac_page(SUBFRAME_T& sf, int svid, SKY_GPST_T t) {
  SKY_ALM_T a;
  if (SKY_get_almanac(svid, t, &a) == 0) {  // PRN without a satellite: dummy SV
    page_head(sf, 0);
    return;
  }
  page_head(sf, static_cast<uint32_t>(svid));
  put(&w(sf, 3), 9, 16, a.e);
  put(&w(sf, 4), 1, 8, a.toa);
  put(&w(sf, 4), 9, 16, a.di);
  put(&w(sf, 5), 1, 16, a.omgd);
  put(&w(sf, 5), 17, 8, a.health);
  put(&w(sf, 6), 1, 24, a.sqrta);
  put(&w(sf, 7), 1, 24, a.omg0);
  put(&w(sf, 8), 1, 24, a.omg);
  put(&w(sf, 9), 1, 24, a.m0);
  put(&w(sf, 10), 1, 8, a.af0 >> 3);
  put(&w(sf, 10), 9, 11, a.af1);
  put(&w(sf, 10), 20, 3, a.af0 & 7);
}

uint32_t health6(int svid) { return svid <= SKYC_nsat() ? 0U : HEALTH_ABSENT; }

// Subframe 5 page 25: almanac reference time and week, health of SV 1..24.
void health_page_sf5(SUBFRAME_T& sf, SKY_GPST_T t) {
  page_head(sf, 51);
  SKY_ALM_T a;
  if (SKY_get_almanac(1, t, &a) == 1) {
    put(&w(sf, 3), 9, 8, a.toa);
    put(&w(sf, 3), 17, 8, a.wna);
  }
  for (int sv = 1; sv <= 24; ++sv) put(&w(sf, 4 + (sv - 1) / 4), 1 + 6 * ((sv - 1) % 4), 6, health6(sv));
}

// Subframe 4 page 25: anti-spoofing / configuration of SV 1..32, health of SV 25..32.
void health_page_sf4(SUBFRAME_T& sf) {
  page_head(sf, 63);
  for (int sv = 1; sv <= 32; ++sv) {
    const int bit = 9 + 4 * (sv - 1);  // running D-bit position from word 3 on
    const int word = 3 + (bit - 1) / 24, first = (bit - 1) % 24 + 1;
    put(&w(sf, word), first, 4, sv <= SKYC_nsat() ? AS_CONFIG : 0U);
  }
  put(&w(sf, 8), 19, 6, health6(25));
  for (int sv = 26; sv <= 29; ++sv) put(&w(sf, 9), 1 + 6 * (sv - 26), 6, health6(sv));
  for (int sv = 30; sv <= 32; ++sv) put(&w(sf, 10), 1 + 6 * (sv - 30), 6, health6(sv));
}

// Subframe 4 page 18: ionosphere and UTC.
void iono_utc_page(SUBFRAME_T& sf) {
  const SKY_IONO_UTC_T& p = *SKYC_iono_utc();
  page_head(sf, 56);
  put(&w(sf, 3), 9, 8, p.alpha[0]);
  put(&w(sf, 3), 17, 8, p.alpha[1]);
  put(&w(sf, 4), 1, 8, p.alpha[2]);
  put(&w(sf, 4), 9, 8, p.alpha[3]);
  put(&w(sf, 4), 17, 8, p.beta[0]);
  put(&w(sf, 5), 1, 8, p.beta[1]);
  put(&w(sf, 5), 9, 8, p.beta[2]);
  put(&w(sf, 5), 17, 8, p.beta[3]);
  put(&w(sf, 6), 1, 24, p.a1);
  put(&w(sf, 7), 1, 24, static_cast<uint32_t>(p.a0) >> 8);
  put(&w(sf, 8), 1, 8, p.a0 & 0xFF);
  put(&w(sf, 8), 9, 8, p.tot);
  put(&w(sf, 8), 17, 8, p.wnt);
  put(&w(sf, 9), 1, 8, p.dt_ls);
  put(&w(sf, 9), 9, 8, p.wn_lsf);
  put(&w(sf, 9), 17, 8, p.dn);
  put(&w(sf, 10), 1, 8, p.dt_lsf);
}

void subframe4(SUBFRAME_T& sf, int page, SKY_GPST_T t) {
  for (size_t k = 0; k < SF4_ALMANAC_PAGES.size(); ++k) {
    if (SF4_ALMANAC_PAGES[k] == page) {
      almanac_page(sf, 25 + static_cast<int>(k), t);
      return;
    }
  }
  if (page == 18) {
    iono_utc_page(sf);
  } else if (page == 25) {
    health_page_sf4(sf);
  } else {
    page_head(sf, SF4_SVID[static_cast<size_t>(page - 1)]);
  }
}

void subframe5(SUBFRAME_T& sf, int page, SKY_GPST_T t) {
  if (page <= 24) {
    almanac_page(sf, page, t);
  } else {
    health_page_sf5(sf, t);
  }
}

// Source data of subframe s of week for svid. 0 when svid has no ephemeris.
int build_subframe(int svid, int32_t week, int32_t s, SUBFRAME_T& sf) {
  sf.fill(0);
  const int32_t frame = s / 5;
  const SKY_GPST_T t_sf{week, s * 6.0};
  const SKY_GPST_T t_frame{week, frame * 30.0};
  const int page = frame % 25 + 1;
  SKY_EPH_T eph;
  if (SKYC_eph_of_set(svid, SKYC_set_index(t_frame), &eph) == 0) return 0;
  tlm_how(sf, s);
  switch (s % 5 + 1) {
    case 1:
      subframe1(sf, eph);
      break;
    case 2:
      subframe2(sf, eph);
      break;
    case 3:
      subframe3(sf, eph);
      break;
    case 4:
      subframe4(sf, page, t_sf);
      break;
    default:
      subframe5(sf, page, t_sf);
      break;
  }
  return 1;
}

// Encode a subframe; the t-bits (d23, d24) of words 2 and 10 are chosen for
// D29 = D30 = 0.
void encode_subframe(const SUBFRAME_T& sf, std::array<uint32_t, WORDS>& out) {
  uint32_t prev = 0;
  for (int i = 0; i < WORDS; ++i) {
    const uint32_t d = sf[static_cast<size_t>(i)];
    uint32_t word = SKY_nav_encode(d, prev);
    if (i == 1 || i == WORDS - 1) {
      for (uint32_t t = 0; t < 4 && (word & 3U) != 0; ++t) word = SKY_nav_encode((d & ~3U) | t, prev);
    }
    out[static_cast<size_t>(i)] = word;
    prev = word;
  }
}

// Last subframe encoded per satellite.
struct CACHE_T {
  int32_t week = -1;
  int32_t s = -1;
  std::array<uint32_t, WORDS> words{};
};
std::array<CACHE_T, SKY_MAX_SV> Cache{};

}  // namespace

uint32_t SKY_nav_encode(uint32_t d24, uint32_t prev) {
  const uint32_t star[2] = {(prev >> 1) & 1U, prev & 1U};  // D29*, D30*
  const uint32_t d = d24 & 0xFFFFFFU;
  uint32_t parity = 0;
  for (const PARITY_EQ_T& eq : PARITY) {
    const auto bit = static_cast<uint32_t>(std::popcount(d & eq.mask) & 1) ^ star[eq.uses_d30_star];
    parity = (parity << 1) | bit;
  }
  const uint32_t data = star[1] != 0U ? (~d & 0xFFFFFFU) : d;
  return (data << 6) | parity;
}

void SKYC_nav_reset() {
  for (CACHE_T& c : Cache) c = CACHE_T{};
}

uint32_t SKY_nav_word(int svid, int32_t week, int32_t word_index) {
  if (svid < 1 || svid > SKYC_nsat() || week < 0 || word_index < 0 || word_index >= SUBFRAMES_PER_WEEK * WORDS)
    return 0;
  CACHE_T& c = Cache[static_cast<size_t>(svid - 1)];
  const int32_t s = word_index / WORDS;
  if (c.week != week || c.s != s) {
    SUBFRAME_T sf;
    if (build_subframe(svid, week, s, sf) == 0) return 0;
    encode_subframe(sf, c.words);
    c.week = week;
    c.s = s;
  }
  return c.words[static_cast<size_t>(word_index % WORDS)];
}
