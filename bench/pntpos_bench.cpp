// RTK engine input and single point: CRVRAW decoding of simulated rover epochs
// and a cold-start single-point solution of one epoch.
#include <benchmark/benchmark.h>

#include <vector>

#include "rtk/crv.h"
#include "rtk/pntpos.h"
#include "rtk/rtk.h"
#include "rtk/rtk_raw.h"
#include "tools/scenario_sim/sim.h"

namespace {

std::vector<U08> rover_stream(double duration) {
  SIM_SCENARIO_T sc;
  sc.duration = duration;
  sc.code_noise = 0.5;
  std::vector<U08> rover, base;
  std::vector<SIM_TRUTH_T> truth;
  sim_run_to_memory(&sc, &rover, &base, &truth);
  return rover;
}

void BM_CrvDecodeRover(benchmark::State& state) {
  const std::vector<U08> s = rover_stream(59.0);
  std::vector<char> b(s.begin(), s.end());
  for (auto _ : state) {
    CRV_init();
    RTK_RAW_init();
    RTK_NAV_init(SYS_GPS | SYS_SBS);
    CRV_process_rover(static_cast<int>(b.size()), b.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(b.size()));
  state.counters["epochs/s"] =
      benchmark::Counter(60.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CrvDecodeRover);

void BM_PntposColdStart(benchmark::State& state) {
  const std::vector<U08> s = rover_stream(0.0);
  std::vector<char> b(s.begin(), s.end());
  CRV_init();
  RTK_RAW_init();
  RTK_NAV_init(SYS_GPS | SYS_SBS);
  CRV_process_rover(static_cast<int>(b.size()), b.data());
  static obsd_t obs[MAXOBS_CYCLE];
  int nr = 0, nb = 0;
  RTK_RAW_get_meas(obs, &nr, &nb);
  prcopt_t opt{};
  opt.navsys = SYS_GPS | SYS_SBS;
  opt.elmin = 10.0 * D2R;
  opt.eratio[0] = 300.0;
  opt.err[1] = opt.err[2] = 0.003;
  opt.ionoopt = opt.tropopt = 1;
  opt.maxgdop = 30.0;
  opt.olvo_alternative_raim_fde = 1;
  for (auto _ : state) {
    sol_t sol{};
    char msg[128];
    benchmark::DoNotOptimize(pntpos(obs, nr, RTK_get_nav(), &opt, &sol, nullptr, nullptr, msg));
  }
  state.counters["satellites"] = nr;
}
BENCHMARK(BM_PntposColdStart);

}  // namespace

BENCHMARK_MAIN();
