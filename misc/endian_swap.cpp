#include "misc/endian_swap.h"

#include <cstring>

namespace {

S16 Need_swap_flag = 0;

// Reverse the bytes of any trivially copyable object in place.
template <typename T>
void reverse_bytes(T* v) {
  U08 b[sizeof(T)];
  std::memcpy(b, v, sizeof(T));
  for (std::size_t i = 0; i < sizeof(T) / 2; ++i) {
    const U08 t = b[i];
    b[i] = b[sizeof(T) - 1 - i];
    b[sizeof(T) - 1 - i] = t;
  }
  std::memcpy(v, b, sizeof(T));
}

}  // namespace

void ENDIAN_set_swap_flag(S16 flag) { Need_swap_flag = flag; }
S16 ENDIAN_need_swap() { return Need_swap_flag; }

void ENDIAN_swap_U16(U16* v) { reverse_bytes(v); }
void ENDIAN_swap_S16(S16* v) { reverse_bytes(v); }
void ENDIAN_swap_U32(U32* v) { reverse_bytes(v); }
void ENDIAN_swap_S32(S32* v) { reverse_bytes(v); }
void ENDIAN_swap_F32(F32* v) { reverse_bytes(v); }
// 8 bytes reversed: the two 32-bit halves exchanged and each of them reversed.
void ENDIAN_swap_D64(D64* v) { reverse_bytes(v); }
