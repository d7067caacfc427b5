// Test-side GPS navigation message encoder, written from IS-GPS-200
// (20.3.2 message structure, 20.3.3 TLM/HOW, 20.3.5 parity, Table 20-XIV):
// subframes of ten 30-bit words with the source data d1..d24 of each word,
// encoded with D29*/D30* chaining (data complemented when D30* is 1), the
// HOW's and word 10's bits 23-24 solved so that their D29 and D30 are 0, and
// cut into the 30-bit batches the target sends.
//
// The parity here is computed bit by bit from the equations, independently of
// the receiver's table-driven one.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace gpsenc {

using U32 = std::uint32_t;

// Table 20-XIV: data bits in each of D25..D30, and whether D29* (29) or D30*
// (30) enters.
struct Equation {
  int star;
  std::vector<int> d;
};
inline const std::array<Equation, 6>& equations() {
  static const std::array<Equation, 6> eq = {{
      {29, {1, 2, 3, 5, 6, 10, 11, 12, 13, 14, 17, 18, 20, 23}},
      {30, {2, 3, 4, 6, 7, 11, 12, 13, 14, 15, 18, 19, 21, 24}},
      {29, {1, 3, 4, 5, 7, 8, 12, 13, 14, 15, 16, 19, 20, 22}},
      {30, {2, 4, 5, 6, 8, 9, 13, 14, 15, 16, 17, 20, 21, 23}},
      {30, {1, 3, 5, 6, 7, 9, 10, 14, 15, 16, 17, 18, 21, 22, 24}},
      {29, {3, 5, 6, 8, 9, 10, 11, 13, 15, 19, 22, 23, 24}},
  }};
  return eq;
}

// Bit i (1..24) of a 24-bit source data value held with d1 as its MSB.
inline int dbit(U32 data24, int i) { return static_cast<int>((data24 >> (24 - i)) & 1u); }

// The 30 transmitted bits D1..D30 (D1 at bit 29) of source data d1..d24,
// after a word ending in D29*, D30*.
inline U32 encode_word(U32 data24, int d29s, int d30s) {
  U32 w = 0;
  for (int i = 1; i <= 24; ++i) w = (w << 1) | static_cast<U32>(dbit(data24, i) ^ d30s);
  for (const Equation& e : equations()) {
    int p = e.star == 29 ? d29s : d30s;
    for (const int i : e.d) p ^= dbit(data24, i);
    w = (w << 1) | static_cast<U32>(p);
  }
  return w;
}

// The receiver's word form: D29*, D30* in bits 31..30 above D1..D30.
inline U32 with_stars(U32 w30, int d29s, int d30s) {
  return (static_cast<U32>(d29s) << 31) | (static_cast<U32>(d30s) << 30) | (w30 & 0x3FFFFFFFu);
}

// Source data of a subframe: ten 24-bit words.
using Subframe = std::array<U32, 10>;

// A deterministic generator for filler data.
struct Lcg {
  std::uint64_t s;
  U32 next() {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<U32>(s >> 33);
  }
};

// TLM: preamble 10001011, 14-bit message, integrity flag, reserved bit.
inline U32 tlm_data(U32 message14 = 0) { return (0x8Bu << 16) | ((message14 & 0x3FFFu) << 2); }
// HOW: 17-bit TOW count (of the next subframe), alert, anti-spoof, subframe id, t bits (solved later).
inline U32 how_data(U32 tow_count, int sfid) {
  return ((tow_count & 0x1FFFFu) << 7) | (static_cast<U32>(sfid & 7) << 2);
}

// A subframe with random filler. tow_count = HOW TOW count (the start of the
// next subframe in 6 s units). sf1: week (10 bits), health 0, IODC LSBs =
// iode. sf2, sf3: IODE = iode. sf4/5: data ID 01 and the given page SV ID.
inline Subframe make_subframe(int sfid, U32 tow_count, U32 wn10, U32 iode, U32 page_svid, Lcg& rng) {
  Subframe s{};
  for (U32& w : s) w = rng.next() & 0xFFFFFFu;
  s[0] = tlm_data();
  s[1] = how_data(tow_count, sfid);
  if (sfid == 1) {
    s[2] = ((wn10 & 0x3FFu) << 14) | (s[2] & 0x0003u);  // WN, L2 code 0, URA 0, health 0, IODC MSBs
    s[7] = ((iode & 0xFFu) << 16) | (s[7] & 0xFFFFu);
  } else if (sfid == 2) {
    s[2] = ((iode & 0xFFu) << 16) | (s[2] & 0xFFFFu);
  } else if (sfid == 3) {
    s[9] = ((iode & 0xFFu) << 16) | (s[9] & 0xFFFFu);
  } else {
    s[2] = (1u << 22) | ((page_svid & 0x3Fu) << 16) | (s[2] & 0xFFFFu);
  }
  return s;
}

// Encoded words of a stream of subframes, in the receiver's word form. d29s,
// d30s: the last two bits before the first word (word 10 of the subframe
// before ends in 00).
struct Encoded {
  std::vector<U32> words;   // receiver form, in order
  std::vector<U32> source;  // source data of each word, 24 bits
};
inline void append_subframe(Encoded& e, const Subframe& s) {
  for (int i = 0; i < 10; ++i) {
    int d29s = 0;
    int d30s = 0;
    if (!e.words.empty()) {
      d29s = static_cast<int>((e.words.back() >> 1) & 1u);
      d30s = static_cast<int>(e.words.back() & 1u);
    }
    U32 data = s[static_cast<std::size_t>(i)];
    U32 w = encode_word(data, d29s, d30s);
    if (i == 1 || i == 9) {
      // Solve bits 23 and 24 so that D29 and D30 come out 0.
      for (U32 t = 0; t < 4; ++t) {
        const U32 cand = (data & ~0x3u) | t;
        const U32 cw = encode_word(cand, d29s, d30s);
        if ((cw & 0x3u) == 0) {
          data = cand;
          w = cw;
          break;
        }
      }
    }
    e.words.push_back(with_stars(w, d29s, d30s));
    e.source.push_back(data);
  }
}

// The transmitted bit stream of the encoded words (D1 first), complemented for
// an inverted (180 degree) carrier lock.
inline std::vector<int> bits_of(const Encoded& e, bool inverted) {
  std::vector<int> bits;
  for (const U32 w : e.words)
    for (int b = 29; b >= 0; --b) bits.push_back(static_cast<int>((w >> b) & 1u) ^ (inverted ? 1 : 0));
  return bits;
}

// A word in its polarity-corrected form: complemented when D30* is set.
inline U32 corrected(U32 w) { return (w & 0x40000000u) != 0 ? ~w : w; }

}  // namespace gpsenc
