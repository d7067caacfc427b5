// Heap allocation counter of the benchmarks: alloc_count.cpp replaces the
// global allocation functions of the benchmark executable that links it, so
// that a benchmark can show that its measured loop allocates nothing.
#pragma once

// Calls of operator new / new[] since the program started.
unsigned long BENCH_new_count();
