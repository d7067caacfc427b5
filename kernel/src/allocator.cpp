#include "kernel/src/allocator.h"

#include "misc/talon_assert.h"

void ALLOC_init(ALLOC_T* alloc_p, S16 len, S16 elm_size, void* pool_p, S08* used_id_ary) {
  talon_assert(len >= 0 && len <= MAX_POOL_LEN, "ALLOC_init: pool longer than MAX_POOL_LEN");
  alloc_p->total_pool_len = len;
  alloc_p->elm_size = elm_size;
  alloc_p->pool_p = static_cast<U08*>(pool_p);
  alloc_p->used_id_ary_p = used_id_ary;
  alloc_p->num_used = 0;
  for (S16 i = 0; i < len; ++i) used_id_ary[i] = 0;
  alloc_p->fast_index_ary.fill(-1);
}

void* ALLOC_new(ALLOC_T* alloc_p, S16 id) {
  if (id < 1 || id > MAX_POOL_LEN) return nullptr;
  const S08 known = alloc_p->fast_index_ary[static_cast<std::size_t>(id - 1)];
  if (known >= 0) return alloc_p->pool_p + alloc_p->elm_size * known;
  if (alloc_p->num_used >= alloc_p->total_pool_len) return nullptr;
  for (S16 i = 0; i < alloc_p->total_pool_len; ++i) {
    if (alloc_p->used_id_ary_p[i] != 0) continue;
    alloc_p->used_id_ary_p[i] = static_cast<S08>(id);
    alloc_p->fast_index_ary[static_cast<std::size_t>(id - 1)] = static_cast<S08>(i);
    ++alloc_p->num_used;
    return alloc_p->pool_p + alloc_p->elm_size * i;
  }
  return nullptr;
}

void ALLOC_delete(ALLOC_T* alloc_p, void* ptr) {
  if (ptr == nullptr || alloc_p->elm_size <= 0) return;
  const auto off = static_cast<U08*>(ptr) - alloc_p->pool_p;
  if (off < 0 || off % alloc_p->elm_size != 0) return;
  const auto index = off / alloc_p->elm_size;
  if (index >= alloc_p->total_pool_len) return;
  const S08 id = alloc_p->used_id_ary_p[index];
  if (id == 0) return;
  alloc_p->fast_index_ary[static_cast<std::size_t>(id - 1)] = -1;
  alloc_p->used_id_ary_p[index] = 0;
  --alloc_p->num_used;
}
