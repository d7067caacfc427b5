// Small pool allocator for per-channel records: at most 20 elements, each
// owned by an id 1..20 (channel number + 1).
#pragma once

#include <array>

#include "misc/gnss_types.h"

inline constexpr S16 MAX_POOL_LEN = 20;

struct ALLOC_T {
  S16 total_pool_len;  // elements in the pool, at most MAX_POOL_LEN
  S16 elm_size;        // bytes per element
  U08* pool_p;         // the caller's element array
  S08* used_id_ary_p;  // owner id per element, 0 = free
  S16 num_used;
  std::array<S08, MAX_POOL_LEN> fast_index_ary;  // element index per id 1..20, -1 = none
};

void ALLOC_init(ALLOC_T* alloc_p, S16 len, S16 elm_size, void* pool_p, S08* used_id_ary);
// The element owned by id (1..20), taking a free one when the id owns none.
// Null for an id out of range or a full pool.
void* ALLOC_new(ALLOC_T* alloc_p, S16 id);
// Free the element at ptr; null and foreign pointers are ignored.
void ALLOC_delete(ALLOC_T* alloc_p, void* ptr);
