// Counting replacements of the global allocation functions (see alloc_count.h).
// The memory comes from malloc through a helper that the compiler does not
// pair with new.
#include "bench/alloc_count.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<unsigned long> New_count{0};
[[gnu::noinline]] void* raw_alloc(std::size_t n) { return std::malloc(n == 0 ? 1 : n); }
[[gnu::noinline]] void raw_free(void* p) { std::free(p); }
}  // namespace

unsigned long BENCH_new_count() { return New_count.load(std::memory_order_relaxed); }

void* operator new(std::size_t n) {
  New_count.fetch_add(1, std::memory_order_relaxed);
  if (void* p = raw_alloc(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
  New_count.fetch_add(1, std::memory_order_relaxed);
  if (void* p = raw_alloc(n)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { raw_free(p); }
void operator delete(void* p, std::size_t) noexcept { raw_free(p); }
void operator delete[](void* p) noexcept { raw_free(p); }
void operator delete[](void* p, std::size_t) noexcept { raw_free(p); }
