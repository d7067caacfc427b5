// Navigation kernel replay throughput: the target's report stream of a
// simulated sky (1 hour, 2 Hz measurement epochs, 10 satellites, TCXO mode 4,
// cold start), fed to the host-link dispatcher 8 bytes at a time as the
// host's replay reads it, with the kernel loop run after every batch; the
// second benchmark also prints the console table of every output epoch (to a
// null sink, /dev/null). Reports measurement epochs per second, the
// real-time factor (seconds of sky replayed per second of processor), and
// the heap allocations (operator new) made in the replay loop after the
// kernel start, which must stay 0. The
// stream is made once in memory by the sky library; the kernel modules that
// are still stand-ins cost what they cost today, so the figure grows with the
// kernel without a change here.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "bench/alloc_count.h"
#include "host/host_callbacks.h"
#include "host/host_output.h"
#include "host/host_start_record.h"
#include "host/wrap.h"
#include "kernel/src/kernel.h"
#include "misc/dispatch.h"
#include "misc/endian_swap.h"
#include "misc/start_files.h"
#include "tools/sky/sky_link.h"

namespace {

constexpr std::size_t REPLAY_CHUNK = 8;  // bytes per read, as the host's replay reads
constexpr std::size_t EPOCH_BUF = 8192;  // one encoded epoch (4096 always suffices)

// One hour of the sky at 2 Hz: the link stream, the RTC reading at the start
// and what the truth says about it.
struct SkySet {
  std::vector<U08> stream;
  SKY_RTC_T rtc;
  int tcxo_mode = 4;
  long epochs = 0;
  long sat_epochs = 0;  // satellites reported, summed over the epochs
  bool ok = false;
};

SKY_SCENARIO_T Scenario;  // the sky keeps it by pointer

const SkySet& hour_set() {
  static SkySet s;
  if (s.ok || !s.stream.empty()) return s;
  Scenario = SKY_SCENARIO_T{};
  Scenario.start = SKY_GPST_T{2400, 345600.0};
  Scenario.duration_s = 3600.0;
  Scenario.nsat = 10;
  Scenario.llh[0] = 35.0;
  Scenario.llh[1] = 139.0;
  Scenario.llh[2] = 40.0;
  Scenario.clk_bias0_s = 2.5e-4;
  Scenario.clk_drift = 1.0e-7;
  Scenario.tcxo_mode = 4;
  Scenario.meas_rate_hz = 2.0;
  Scenario.carrier_slots = 1;
  s.tcxo_mode = Scenario.tcxo_mode;
  if (!SKY_init(&Scenario) || !SKY_LINK_start(&Scenario, SKY_LINK_PARAM_T{}, SKY_LINK_core_source())) {
    std::fprintf(stderr, "kernel_replay_bench: the sky cannot be prepared\n");
    return s;
  }
  std::array<U08, 32> frame{};
  SKY_LINK_rtc_report(frame.data(), &s.rtc);
  std::vector<U08> buf(EPOCH_BUF);
  SKY_LINK_EPOCH_T e;
  for (;;) {
    const int n = SKY_LINK_next_epoch(buf.data(), buf.size(), &e);
    if (n < 0) {
      std::fprintf(stderr, "kernel_replay_bench: the sky gave no epoch %ld\n", s.epochs);
      return s;
    }
    if (n == 0) break;
    s.stream.insert(s.stream.end(), buf.begin(), buf.begin() + n);
    ++s.epochs;
    s.sat_epochs += e.n;
  }
  s.ok = true;
  return s;
}

std::array<U08, HOST_IMAGE_SIZE> Region;     // backup memory: zero, a cold start
std::array<U08, HOST_IMAGE_SIZE> Alm_image;  // almanac memory: zero

// The host's built-in start record (as a plain replay builds it) in the set's TCXO mode.
KERNEL_INIT_T start_record(int tcxo_mode) {
  KERNEL_INIT_T k = HOST_builtin_kernel_init(static_cast<S16>(tcxo_mode));
  k.backup_mem_p = Region.data();
  k.nvram_alm_mem_p = Alm_image.data();
  return k;
}

// One replay of the hour per iteration; with console, the console table of
// every output epoch goes to stdout (pointed at /dev/null by the caller).
void replay_hour(benchmark::State& state, bool console) {
  const SkySet& s = hour_set();
  if (!s.ok) {
    state.SkipWithError("no sky set");
    return;
  }
  long epochs = 0;
  unsigned long news = 0, start_news = 0;
  U32 decoded = 0, skipped = 0;
  for (auto _ : state) {
    Region.fill(0);
    Alm_image.fill(0);
    const unsigned long n_start = BENCH_new_count();
    ENDIAN_set_swap_flag(0);
    WRAP_init(0, nullptr);
    WRAP_clear_counters();
    msg_init();
    WRAP_set_asic_rtc(s.rtc.wn, s.rtc.sec, s.rtc.subsec);
    const KERNEL_INIT_T k = start_record(s.tcxo_mode);
    KERNEL_init(&k);
    if (console) HOSTOUT_init(0, 0, "");
    const unsigned long n0 = BENCH_new_count();
    start_news += n0 - n_start;
    const U08* p = s.stream.data();
    const std::size_t size = s.stream.size();
    for (std::size_t off = 0; off < size; off += REPLAY_CHUNK) {
      const std::size_t n = std::min(REPLAY_CHUNK, size - off);
      DP_dispatch_msg(p + off, static_cast<int>(n));
      const S16 epoch = KERNEL_loop();
      epochs += epoch;
      if (console && epoch != 0) HOSTOUT_print_detail_data();
    }
    epochs += KERNEL_loop();  // the last pass after the end of the stream
    news += BENCH_new_count() - n0;
    if (console) HOSTOUT_close();
    KERNEL_get_databits_counts(&decoded, &skipped);
    KERNEL_close();
  }
  const double iters = static_cast<double>(state.iterations());
  state.counters["epochs/s"] = benchmark::Counter(static_cast<double>(epochs), benchmark::Counter::kIsRate);
  // sky seconds per processor second: the set's hour over the mean time of one replay
  state.counters["x_real_time"] = benchmark::Counter(3600.0 * iters, benchmark::Counter::kIsRate);
  state.counters["epochs"] = static_cast<double>(epochs) / iters;
  state.counters["set_epochs"] = static_cast<double>(s.epochs);
  state.counters["sats"] = s.epochs > 0 ? static_cast<double>(s.sat_epochs) / static_cast<double>(s.epochs) : 0.0;
  state.counters["MB"] = static_cast<double>(s.stream.size()) / 1e6;
  state.counters["bit_batches"] = static_cast<double>(decoded);
  state.counters["allocs"] = static_cast<double>(news);
  state.counters["start_allocs"] = static_cast<double>(start_news) / iters;
}

void BM_KernelReplayHour(benchmark::State& state) { replay_hour(state, false); }

// stdout points at /dev/null while the replay prints, and back afterwards
// (the benchmark's own report goes to stdout).
void BM_KernelReplayHourWithConsole(benchmark::State& state) {
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int null_fd = open("/dev/null", O_WRONLY);
  if (saved < 0 || null_fd < 0 || dup2(null_fd, STDOUT_FILENO) < 0) {
    state.SkipWithError("stdout cannot go to /dev/null");
    return;
  }
  close(null_fd);
  replay_hour(state, true);
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
}

BENCHMARK(BM_KernelReplayHour)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_KernelReplayHourWithConsole)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
