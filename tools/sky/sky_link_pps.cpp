// The 1PPS commands of a closed-loop run with the receiver clock's truth
// (relation in tools/sky/sky_pps.h).
#include <array>
#include <cmath>

#include "misc/pack.h"
#include "tools/sky/sky_pps.h"

namespace {

constexpr double WEEK_S = 604800.0;

struct PPS_LOG_T {
  int count = 0;
  std::array<SKY_PPS_RECORD_T, SKY_PPS_MAX> rec{};
};

PPS_LOG_T Log;

double diff_s(SKY_GPST_T a, SKY_GPST_T b) { return static_cast<double>(a.week - b.week) * WEEK_S + (a.tow - b.tow); }

}  // namespace

double SKY_PPS_true_offset_s(const SKY_RX_T& rx, SKY_GPST_T mark_clock) {
  const double d = rx.clk_drift;
  // True time at the mark, as week and time of week (whole seconds of the
  // week are whole GPS seconds).
  const double dt = diff_s(mark_clock, rx.clock_time) / (1.0 + d);
  const double t_mark = rx.true_time.tow + dt;
  const double g = std::ceil(t_mark);
  return (g - t_mark) * (1.0 + d);
}

void SKY_PPS_reset() { Log.count = 0; }

int SKY_PPS_take(const U08* frame) {
  const int k = Log.count++;
  SKY_RX_T rx;
  int64_t index = -1, sent = 0;
  SKY_GTC_T mark;
  SKY_GPST_T mark_clock;
  if (!SKY_LINK_pps_second(k, &rx, &index, &mark, &mark_clock, &sent)) return 0;
  if (k >= SKY_PPS_MAX) return 1;
  SKY_PPS_RECORD_T& r = Log.rec[static_cast<std::size_t>(k)];
  r = SKY_PPS_RECORD_T{};
  S16 e = 0;
  unpack_msg_set_1pps(frame, &e, &r.offset, &r.period);
  r.enable = e;
  r.second = k;
  r.epoch = index;
  r.lag_epochs = sent - 1 - k;
  r.mark = mark;
  r.epoch_true_time = rx.true_time;
  r.clk_bias_s = rx.clk_bias_s;
  r.clk_drift = rx.clk_drift;
  r.freq_hz = SKY_LINK_tcxo_of_run().freq_hz;
  r.true_offset_s = SKY_PPS_true_offset_s(rx, mark_clock);
  r.cmd_offset_s = r.freq_hz != 0 ? static_cast<double>(r.offset) / static_cast<double>(r.freq_hz) : 0.0;
  return 1;
}

int SKY_PPS_count() { return Log.count; }

const SKY_PPS_RECORD_T* SKY_PPS_record(int i) {
  if (i < 0 || i >= Log.count || i >= SKY_PPS_MAX) return nullptr;
  return &Log.rec[static_cast<std::size_t>(i)];
}
