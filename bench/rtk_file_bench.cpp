// File RTK throughput: the whole engine cycle (CRVRAW pairing, screening,
// single point, relative positioning, ambiguity resolution) over a 1-hour,
// 1 Hz simulated static pair, in epochs per second, with the number of heap
// allocations (operator new) made while the engine runs.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "bench/alloc_count.h"
#include "rtk/crv.h"
#include "rtk/glo_sd_ifb.h"
#include "rtk/rtk.h"
#include "tools/scenario_sim/sim.h"

namespace {

struct Pair {
  std::FILE* rover = nullptr;
  std::FILE* base = nullptr;
  int epochs = 0;
};

std::FILE* to_file(const std::vector<U08>& b) {
  std::FILE* fp = std::tmpfile();
  if (fp != nullptr) {
    std::fwrite(b.data(), 1, b.size(), fp);
    std::rewind(fp);
  }
  return fp;
}

const Pair& hour_pair() {
  static Pair p;
  if (p.rover == nullptr) {
    SIM_SCENARIO_T sc;
    sc.week = 2300;
    sc.tow0 = 200000.0;
    sc.duration = 3599.0;
    sc.interval = 1.0;
    sc.rover_enu[0] = 1500.0;
    sc.rover_enu[1] = 500.0;
    sc.code_noise = 0.3;
    sc.phase_noise = 0.015;
    sc.doppler_noise = 0.05;
    sc.nsat = 32;  // 9 to 10 GPS satellites above the 15 degree mask
    std::vector<U08> rover, base;
    std::vector<SIM_TRUTH_T> truth;
    p.epochs = sim_run_to_memory(&sc, &rover, &base, &truth);
    p.rover = to_file(rover);
    p.base = to_file(base);
  }
  return p;
}

void BM_FileRtkHour(benchmark::State& state) {
  const Pair& p = hour_pair();
  long solved = 0, fix = 0, ns_sum = 0;
  unsigned long news = 0;
  for (auto _ : state) {
    int ex[10] = {0};
    std::rewind(p.rover);
    std::rewind(p.base);
    RTK_init(21, 35, 40, 15, 0, ex);
    RTK_init_medium();
    GLOSDIFB_reset_glo_sd_ifb();
    const unsigned long n0 = BENCH_new_count();
    while (CRV_process_file(p.rover, p.base)) {
      if (!RTK_loop()) continue;
      sol_t sol;
      RTK_get_solution(&sol);
      ++solved;
      fix += sol.stat == SOLQ_FIX ? 1 : 0;
      ns_sum += sol.ns;
    }
    news += BENCH_new_count() - n0;
  }
  state.counters["epochs/s"] = benchmark::Counter(static_cast<double>(solved), benchmark::Counter::kIsRate);
  state.counters["fix%"] = solved > 0 ? 100.0 * static_cast<double>(fix) / static_cast<double>(solved) : 0.0;
  state.counters["sats"] = solved > 0 ? static_cast<double>(ns_sum) / static_cast<double>(solved) : 0.0;
  state.counters["allocs"] = static_cast<double>(news);
}
BENCHMARK(BM_FileRtkHour)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
