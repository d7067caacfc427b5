// Byte-order helpers for data kept in the target's (big-endian) order, such as
// the memory images of an SD-card log. The swaps always reverse the bytes;
// callers test ENDIAN_need_swap() first.
#pragma once

#include "misc/gnss_types.h"

// Records whether data in the target's order must be swapped on this host
// (non-zero: swap). Process-wide; 0 until set.
void ENDIAN_set_swap_flag(S16 flag);
// The flag last set by ENDIAN_set_swap_flag (0 before any call).
S16 ENDIAN_need_swap();

// Reverse the bytes of *v in place (2, 4 or 8 bytes); the value is the caller's.
void ENDIAN_swap_U16(U16* v);
void ENDIAN_swap_S16(S16* v);
void ENDIAN_swap_U32(U32* v);
void ENDIAN_swap_S32(S32* v);
void ENDIAN_swap_F32(F32* v);
void ENDIAN_swap_D64(D64* v);
