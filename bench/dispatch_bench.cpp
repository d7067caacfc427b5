// Host-link receive throughput: a recorded-like stream of measurement
// epochs (20 channel reports and a GTC per epoch) through the dispatcher and
// the host program's report handlers.
#include <benchmark/benchmark.h>

#include <vector>

#include "host/host_callbacks.h"
#include "host/wrap.h"
#include "kernel/src/kernel.h"
#include "misc/dispatch.h"
#include "misc/pack.h"

namespace {

std::vector<U08> make_stream(int epochs) {
  std::vector<U08> s;
  auto add = [&](int type, int payload) {
    const std::size_t start = s.size();
    s.push_back(0x4A);
    s.push_back(0x58);
    s.push_back(static_cast<U08>(type));
    for (int i = 0; i < payload; ++i) s.push_back(static_cast<U08>(i * 13));
    s.push_back(calc_checksum(s.data() + start, payload + 3));
  };
  for (int e = 0; e < epochs; ++e) {
    for (int ch = 0; ch < 20; ++ch) add(1, 59);  // channel measurement, 62 + 1 bytes
    add(0, 39);                                  // GTC, 42 + 1 bytes
  }
  return s;
}

void BM_DispatchEpochs(benchmark::State& state) {
  const std::vector<U08> stream = make_stream(100);
  WRAP_init(0, nullptr);
  msg_init();
  long frames = 0;
  for (auto _ : state) {
    // Fed as the serial loop does: 128-byte reads.
    for (std::size_t off = 0; off < stream.size(); off += 128) {
      const std::size_t n = stream.size() - off < 128 ? stream.size() - off : 128;
      frames += DP_dispatch_msg(stream.data() + off, static_cast<int>(n));
      KERNEL_loop();
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(stream.size()));
  state.counters["epochs/s"] =
      benchmark::Counter(100.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  benchmark::DoNotOptimize(frames);
}
BENCHMARK(BM_DispatchEpochs);

}  // namespace

BENCHMARK_MAIN();
