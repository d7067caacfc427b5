// GPS navigation word parity (IS-GPS-200, Table 20-XIV).
#include "kernel/src/dbits_parity.h"

#include <array>
#include <bit>
#include <initializer_list>

namespace {

// Mask of source data bit d_i (i = 1..24) in the word layout: d1 at bit 29.
constexpr U32 data_bit(int i) { return 1u << static_cast<unsigned>(30 - i); }

constexpr U32 data_mask(std::initializer_list<int> bits) {
  U32 m = 0;
  for (const int i : bits) m |= data_bit(i);
  return m;
}

// Per parity bit D25..D30: the source data bits it sums, and which of D29*
// (bit 31) or D30* (bit 30) it includes.
struct PARITY_EQ_T {
  U32 data;
  U32 star;
};
constexpr std::array<PARITY_EQ_T, 6> PARITY_EQ = {{
    {data_mask({1, 2, 3, 5, 6, 10, 11, 12, 13, 14, 17, 18, 20, 23}), DBP_D29_STAR},     // D25
    {data_mask({2, 3, 4, 6, 7, 11, 12, 13, 14, 15, 18, 19, 21, 24}), DBP_D30_STAR},     // D26
    {data_mask({1, 3, 4, 5, 7, 8, 12, 13, 14, 15, 16, 19, 20, 22}), DBP_D29_STAR},      // D27
    {data_mask({2, 4, 5, 6, 8, 9, 13, 14, 15, 16, 17, 20, 21, 23}), DBP_D30_STAR},      // D28
    {data_mask({1, 3, 5, 6, 7, 9, 10, 14, 15, 16, 17, 18, 21, 22, 24}), DBP_D30_STAR},  // D29
    {data_mask({3, 5, 6, 8, 9, 10, 11, 13, 15, 19, 22, 23, 24}), DBP_D29_STAR},         // D30
}};

}  // namespace

U32 DBP_compute_parity(U32 word) {
  // Source data d1..d24: the transmitted bits complemented when D30* is 1.
  const U32 d = (word & DBP_D30_STAR) != 0 ? ~word & DBP_DATA_MASK : word & DBP_DATA_MASK;
  U32 parity = 0;
  for (const PARITY_EQ_T& eq : PARITY_EQ) {
    const U32 bit = (static_cast<U32>(std::popcount(d & eq.data)) + ((word & eq.star) != 0 ? 1u : 0u)) & 1u;
    parity = (parity << 1) | bit;
  }
  return parity;
}

S16 DBP_check_dataword_parity(U32 word) { return (word & DBP_PARITY_MASK) == DBP_compute_parity(word) ? 1 : 0; }

U32 DBP_polarity_corrected(U32 word) { return (word & DBP_D30_STAR) != 0 ? ~word : word; }
