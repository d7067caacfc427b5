// GPS navigation word parity (IS-GPS-200, Table 20-XIV).
//
// A word is held in a U32: bits 29..0 are D1..D30 (D1, the first transmitted
// bit, at bit 29; data D1..D24 at bits 29..6, parity D25..D30 at bits 5..0)
// and bits 31..30 are D29*, D30*, the last two bits of the preceding word.
// When D30* is 1 the transmitted data bits are the complement of the source
// data; the parity equations undo that first.
#pragma once

#include "misc/gnss_types.h"

inline constexpr U32 DBP_DATA_MASK = 0x3FFFFFC0u;    // D1..D24
inline constexpr U32 DBP_WORD_MASK = 0x3FFFFFFFu;    // D1..D30
inline constexpr U32 DBP_D29_STAR = 0x80000000u;     // D29* of the preceding word
inline constexpr U32 DBP_D30_STAR = 0x40000000u;     // D30* of the preceding word
inline constexpr U32 DBP_PARITY_MASK = 0x0000003Fu;  // D25..D30

// The six parity bits D25..D30 (bit 5 = D25 .. bit 0 = D30) that belong to the
// word's D29*, D30* and D1..D24.
U32 DBP_compute_parity(U32 word);

// 1 when bits 5..0 of the word equal DBP_compute_parity(word), else 0.
S16 DBP_check_dataword_parity(U32 word);

// The word with its polarity corrected: all 32 bits complemented when D30*
// (bit 30) is set, else unchanged. The result has D30* = 0, carries the
// source data in bits 29..6 and still passes the parity check when the word
// did.
U32 DBP_polarity_corrected(U32 word);
