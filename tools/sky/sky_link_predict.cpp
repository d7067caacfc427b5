// Predicted measurements in a closed-loop run of the simulated sky: each
// entry recorded with its truth, the good ones started at once (model in
// tools/sky/sky_predict.h).
#include <array>
#include <cmath>

#include "misc/pack.h"
#include "tools/sky/sky_pps.h"
#include "tools/sky/sky_predict.h"

namespace {

constexpr double L1_HZ = 1575.42e6;
constexpr double CHIP_RATE = 1023000.0;  // chips/s
constexpr double SUB_CHIPS = 8192.0;     // code phase units per chip
constexpr double BIT_S = 0.020;
constexpr double BIT_CHIPS = BIT_S * CHIP_RATE;  // 20 460 chips in a data bit
constexpr int MAX_PRN = 32;
constexpr int RING_SEARCH = 256;  // whole-second epochs looked back for a list's second

struct PENDING_T {
  int16_t prn = 0;  // 0: none
  int record = -1;  // its record (-1: beyond SKY_PREDICT_MAX)
};

struct PREDICT_LOG_T {
  int count = 0;
  SKY_PREDICT_COUNTS_T counts;
  std::array<PENDING_T, MSG_PREDICT_N> pending{};
  std::array<SKY_PREDICT_RECORD_T, SKY_PREDICT_MAX> rec{};
};

PREDICT_LOG_T Log;
SKY_EPOCH_T Truth_ep;  // the sky at the second of the list being taken

// The most recent whole-second epoch sent whose mark has raw second sec: its
// index and the sky there. 1 when found.
int sky_of_second(int32_t sec, int64_t* index, SKY_EPOCH_T* out) {
  int64_t sent = 0;
  SKY_LINK_pps_second(0, nullptr, nullptr, nullptr, nullptr, &sent);
  for (int64_t k = sent - 1; k >= 0 && k >= sent - RING_SEARCH; --k) {
    SKY_GTC_T next;
    int64_t idx = -1;
    if (!SKY_LINK_pps_second(k, nullptr, &idx, &next, nullptr, nullptr)) break;
    const SKY_GTC_T g = SKY_LINK_gtc_add_ms(next, -1000);  // the epoch's own mark (millisecond 0)
    if (g.sec != sec) continue;
    if (!SKY_LINK_sky_at_mark(g, out)) return 0;
    *index = idx;
    return 1;
  }
  return 0;
}

const SKY_SIGNAL_T* signal_of(const SKY_EPOCH_T& ep, int prn) {
  for (int i = 0; i < ep.n && i < SKY_MAX_SV; ++i)
    if (ep.sig[i].svid == prn) return &ep.sig[i];
  return nullptr;
}

// x brought into -half .. +half by whole periods.
double wrap(double x, double period) { return x - period * std::round(x / period); }

// The truth of entry r at the epoch ep (r.meas and r.can_chip set).
void fill_truth(SKY_PREDICT_RECORD_T& r, const SKY_SIGNAL_T& s, const SKY_EPOCH_T& ep) {
  const SKY_TCXO_T& t = SKY_LINK_tcxo_of_run();
  r.has_truth = 1;
  r.true_time = ep.rx.true_time;
  r.visible = s.visible;
  r.el_deg = s.el_deg;
  r.cn0_dbhz = s.cn0_dbhz;
  r.true_code = std::fmod(s.tx_time.tow, BIT_S) * CHIP_RATE * SUB_CHIPS;
  r.true_doppler_hz = s.doppler_hz;
  r.true_nco = SKY_LINK_nco_word(t, s.doppler_hz);
  r.true_code_rate = -(s.doppler_hz / L1_HZ) * CHIP_RATE * SUB_CHIPS;
  const double scale = t.tm_scale != 0.0f ? static_cast<double>(t.tm_scale) : 1.0;
  r.pred_doppler_hz = t.ideal_bb_hz - static_cast<double>(r.meas.dop_freq) / scale;
  r.code_err_chips = wrap((static_cast<double>(r.meas.code0) - r.true_code) / SUB_CHIPS, BIT_CHIPS);
  r.doppler_err_hz = r.pred_doppler_hz - r.true_doppler_hz;
}

bool within_tolerance(const SKY_PREDICT_RECORD_T& r) {
  return r.has_truth != 0 && r.can_chip == 1 && std::fabs(r.code_err_chips) <= SKY_PREDICT_CODE_TOL_CHIPS &&
         std::fabs(r.doppler_err_hz) <= 0.5 * SKY_PREDICT_BIN_HZ;
}

bool listed(const int16_t* svids, int n, int svid) {
  for (int i = 0; i < n; ++i)
    if (svids[i] == svid) return true;
  return false;
}

}  // namespace

void SKY_PREDICT_reset() {
  Log.count = 0;
  Log.counts = SKY_PREDICT_COUNTS_T{};
  Log.pending.fill(PENDING_T{});
}

int SKY_PREDICT_take(const U08* frame) {
  S16 n = 0, can = 0;
  S32 ref = 0;
  std::array<ASIC_PREDICTED_MEAS_T, MSG_PREDICT_N> pm{};
  unpack_msg_predict_meas(frame, &n, &ref, pm.data(), &can);
  if (n < 0 || n > MSG_PREDICT_N) {
    ++Log.counts.bad_lists;
    return -1;
  }
  const int64_t list = Log.counts.lists++;
  Log.pending.fill(PENDING_T{});
  int64_t epoch = -1;
  const int has_sky = sky_of_second(ref, &epoch, &Truth_ep);
  for (int i = 0; i < n; ++i) {
    const ASIC_PREDICTED_MEAS_T& p = pm[static_cast<std::size_t>(i)];
    ++Log.counts.entries;
    if (p.prn < 1 || p.prn > MAX_PRN) {
      ++Log.counts.bad_prn;
      continue;
    }
    SKY_PREDICT_RECORD_T r;
    r.list = list;
    r.ref_sec = ref;
    r.can_chip = can;
    r.meas = p;
    r.epoch = epoch;
    const SKY_SIGNAL_T* s = has_sky != 0 ? signal_of(Truth_ep, p.prn) : nullptr;
    if (s != nullptr)
      fill_truth(r, *s, Truth_ep);
    else
      ++Log.counts.no_truth;
    const int k = Log.count++;
    if (k < SKY_PREDICT_MAX) Log.rec[static_cast<std::size_t>(k)] = r;
    if (!within_tolerance(r)) continue;
    ++Log.counts.within_tol;
    Log.pending[static_cast<std::size_t>(i)] = PENDING_T{p.prn, k < SKY_PREDICT_MAX ? k : -1};
  }
  return 1;
}

int SKY_PREDICT_start(const SKY_EPOCH_T& ep, const int16_t* tracked, int16_t* svids, int* n) {
  int started = 0;
  for (PENDING_T& p : Log.pending) {
    const int prn = p.prn;
    const int record = p.record;
    p = PENDING_T{};
    if (prn == 0 || *n >= SKY_LINK_NCH || listed(svids, *n, prn) || listed(tracked, SKY_LINK_NCH, prn)) continue;
    const SKY_SIGNAL_T* s = signal_of(ep, prn);
    if (s == nullptr || s->visible == 0) continue;
    svids[(*n)++] = static_cast<int16_t>(prn);
    ++started;
    ++Log.counts.started;
    if (record >= 0) Log.rec[static_cast<std::size_t>(record)].started = 1;
  }
  return started;
}

int SKY_PREDICT_count() { return Log.count; }

const SKY_PREDICT_RECORD_T* SKY_PREDICT_record(int i) {
  if (i < 0 || i >= Log.count || i >= SKY_PREDICT_MAX) return nullptr;
  return &Log.rec[static_cast<std::size_t>(i)];
}

const SKY_PREDICT_COUNTS_T& SKY_PREDICT_counts() { return Log.counts; }
