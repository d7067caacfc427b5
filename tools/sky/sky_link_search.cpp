// The target's search engine in a closed-loop run of the simulated sky: the
// host's search commands in, acquisitions out (model in sky_search.h and
// tools/sky/README.md).
#include <algorithm>
#include <array>
#include <cmath>

#include "misc/dispatch.h"
#include "misc/pack.h"
#include "tools/sky/sky_hot.h"
#include "tools/sky/sky_pps.h"
#include "tools/sky/sky_predict.h"
#include "tools/sky/sky_search.h"

namespace {

constexpr int MAX_STRATEGIES = MSG_PSE_STATES_N;
constexpr U08 MODE_COLD = 0;  // engine search modes: cold (blind over all PRNs), hot, very weak
constexpr U08 MODE_VERY_WEAK = 2;

// The search NCO of each TCXO mode before the mixer residual: offset0 and the
// ideal zero-Doppler baseband frequency it belongs to (Hz).
struct PSE_NCO_ROW_T {
  int32_t offset0;
  double ideal_bb_hz;
};
constexpr std::array<PSE_NCO_ROW_T, 5> PSE_NCO_TBL = {{
    {131412, 32051.25},
    {0, 0.0},
    {-394601, -96250.0},
    {0, 0.0},
    {0, 0.0},
}};

struct ENGINE_T {
  unsigned seed = 1;
  SKY_TCXO_T tcxo;
  float scale = 1.0f;   // engine units per Hz: 2^26 / TCXO frequency (single precision)
  int32_t offset0 = 0;  // engine units of a zero clock offset
  int32_t clock = 0;    // the commanded clock offset, engine units
  int has_list = 0;
  U08 mode_code = 0;  // the list's mode code as sent (one byte)
  S16 nstates = 0;
  std::array<PSE_STATE_T, MAX_STRATEGIES> states{};
  int strategy = 0;
  S16 n_dopp = 0;
  std::array<PSE_PRN_DOPP_T, MSG_PSE_SVDOPP_N> dopp{};
  int paused = 0;
  int is_static = 0;
  double t = 0.0;           // engine running time, s
  double pass_start = 0.0;  // engine time at which the running pass began
  SKY_SEARCH_COUNTS_T counts;
};

ENGINE_T Eng;

// The blind search's only strategy.
PSE_STATE_T blind_state() {
  PSE_STATE_T s{};
  s.nsets = 1;
  s.primary_set_ndx = 0;
  s.set[0] = PSE_SEARCH_SET_T{MODE_COLD, static_cast<U08>(SKY_SEARCH_BLIND_LEVEL), SKY_SEARCH_BLIND_BINS,
                              static_cast<U08>(SKY_SEARCH_UNITS)};
  return s;
}

const PSE_STATE_T& current_state() {
  static PSE_STATE_T blind;
  if (Eng.has_list != 0 && Eng.nstates > 0) return Eng.states[static_cast<std::size_t>(Eng.strategy)];
  blind = blind_state();
  return blind;
}

double clock_hz() { return static_cast<double>(Eng.clock - Eng.offset0) / static_cast<double>(Eng.scale); }

// PRNs a set sweeps: all 32 for a cold set, the Doppler list otherwise.
int prn_count(const PSE_SEARCH_SET_T& s) { return s.mode == MODE_COLD ? SKY_SEARCH_NPRN : Eng.n_dopp; }

int units_of(const PSE_SEARCH_SET_T& s) { return std::max(1, static_cast<int>(s.npse_use)); }

const SKY_SEARCH_LEVEL_T& level_of(const PSE_SEARCH_SET_T& s) {
  return SKY_SEARCH_LEVEL_TBL[std::min<std::size_t>(s.strength, SKY_SEARCH_LEVELS - 1)];
}

// Engine time one sweep of set s takes: its cells spread over its units.
double set_duration(const PSE_SEARCH_SET_T& s) {
  const int cells = prn_count(s) * std::max(1, static_cast<int>(s.bins));
  const int rounds = std::max(1, (cells + units_of(s) - 1) / units_of(s));
  return rounds * level_of(s).cell_s;
}

double pass_duration(const PSE_STATE_T& st) {
  const int p = std::clamp(static_cast<int>(st.primary_set_ndx), 0, std::max(0, st.nsets - 1));
  return set_duration(st.set[static_cast<std::size_t>(p)]);
}

// Place of prn in the sweep of set s and the Doppler it is searched around
// (Hz); -1 when the set does not search it.
int sweep_index(const PSE_SEARCH_SET_T& s, int prn, double* centre_hz) {
  if (s.mode == MODE_COLD) {
    *centre_hz = clock_hz();
    const int first = SKY_SEARCH_first_prn(Eng.seed);
    return (prn - first + SKY_SEARCH_NPRN) % SKY_SEARCH_NPRN;
  }
  for (int i = 0; i < Eng.n_dopp; ++i)
    if (Eng.dopp[static_cast<std::size_t>(i)].prn == prn) {
      *centre_hz = Eng.dopp[static_cast<std::size_t>(i)].dopp / static_cast<double>(Eng.scale) + clock_hz();
      return i;
    }
  return -1;
}

// Engine time into a sweep of set s at which it finds signal sig; -1 when it
// does not find it (not searched, too weak, outside the Doppler range).
double find_time(const PSE_SEARCH_SET_T& s, const SKY_SIGNAL_T& sig) {
  double centre = 0.0;
  const int index = sweep_index(s, sig.svid, &centre);
  const SKY_SEARCH_LEVEL_T& lv = level_of(s);
  if (index < 0 || sig.cn0_dbhz < lv.min_cn0_dbhz) return -1.0;
  const int bins = std::max(1, static_cast<int>(s.bins));
  const double low = centre - 0.5 * bins * lv.bin_hz;
  const double b = std::floor((sig.doppler_hz - low) / lv.bin_hz);
  if (b < 0.0 || b >= bins) return -1.0;
  const int cell = index * bins + static_cast<int>(b);
  const int rounds = cell / units_of(s) + 1;  // the units take the cells in rounds
  return rounds * lv.cell_s;
}

bool is_tracked(const int16_t* tracked, int svid) {
  for (int k = 0; k < SKY_LINK_NCH; ++k)
    if (tracked[k] == svid) return true;
  return false;
}

bool listed(const int16_t* svids, int n, int svid) {
  for (int i = 0; i < n; ++i)
    if (svids[i] == svid) return true;
  return false;
}

// Satellites whose cell the running pass reaches in (t0, t1] of engine time.
void sweep(const SKY_EPOCH_T& ep, double t0, double t1, double pass_len, const int16_t* tracked, int16_t* svids,
           int* n) {
  const PSE_STATE_T& st = current_state();
  for (int i = 0; i < ep.n; ++i) {
    const SKY_SIGNAL_T& sig = ep.sig[i];
    if (sig.visible == 0 || is_tracked(tracked, sig.svid) || listed(svids, *n, sig.svid)) continue;
    for (int k = 0; k < std::clamp(static_cast<int>(st.nsets), 1, MSG_PSE_SETS_N); ++k) {
      const double f = find_time(st.set[static_cast<std::size_t>(k)], sig);
      const double at = Eng.pass_start + f;
      if (f < 0.0 || f > pass_len || at <= t0 || at > t1) continue;
      if (*n < SKY_LINK_NCH) svids[(*n)++] = sig.svid;
      ++Eng.counts.acquired;
      break;
    }
  }
}

void next_strategy() {
  const int n = Eng.has_list != 0 ? std::max<int>(1, Eng.nstates) : 1;
  Eng.strategy = (Eng.strategy + 1) % n;
}

// Predicted measurements close enough to the truth start at once (sky_predict.h).
void start_predicted(const SKY_EPOCH_T& ep, const int16_t* tracked, int16_t* svids, int* n) {
  Eng.counts.predicted_started += SKY_PREDICT_start(ep, tracked, svids, n);
}

// ---- commands ----

bool valid_set(const PSE_SEARCH_SET_T& s) {
  return s.mode <= MODE_VERY_WEAK && s.strength < SKY_SEARCH_LEVELS && s.bins >= 1 && s.npse_use >= 1;
}

int take_pse_set(const U08* f) {
  S08 mode = 0;
  S16 n = 0;
  std::array<PSE_STATE_T, MAX_STRATEGIES> st{};
  unpack_msg_pse_set_search_states_array(f, &mode, &n, st.data());
  if (n < 1 || n > MAX_STRATEGIES) return -1;
  for (int i = 0; i < n; ++i) {
    const PSE_STATE_T& s = st[static_cast<std::size_t>(i)];
    if (s.nsets < 1 || s.nsets > MSG_PSE_SETS_N || s.primary_set_ndx < 0 || s.primary_set_ndx >= s.nsets) return -1;
    for (int k = 0; k < s.nsets; ++k)
      if (!valid_set(s.set[static_cast<std::size_t>(k)])) return -1;
  }
  Eng.has_list = 1;
  Eng.mode_code = static_cast<U08>(mode);
  Eng.nstates = n;
  Eng.states = st;
  Eng.strategy = 0;
  Eng.pass_start = Eng.t;
  ++Eng.counts.pse_set;
  return 1;
}

int take_svdopp(const U08* f) {
  S16 n = 0;
  std::array<PSE_PRN_DOPP_T, MSG_PSE_SVDOPP_N> d{};
  unpack_msg_pse_set_sv_doppler(f, &n, d.data());
  if (n < 0 || n > MSG_PSE_SVDOPP_N) return -1;
  for (int i = 0; i < n; ++i)
    if (d[static_cast<std::size_t>(i)].prn < 1 || d[static_cast<std::size_t>(i)].prn > SKY_SEARCH_NPRN) return -1;
  Eng.n_dopp = n;
  Eng.dopp = d;
  ++Eng.counts.svdopp;
  return 1;
}

// Recorded with the truth of its second; the good entries start at the next epoch (sky_predict.h).
int take_predict_meas(const U08* f) {
  if (SKY_PREDICT_take(f) < 0) return -1;
  ++Eng.counts.predict_meas;
  return 1;
}

int take_channel_command(const U08* f) {
  S16 ch = 0, prn = 0, shift = 0;
  U08 issue = 0;
  if (f[2] == MSG_TYPE_ASIC_DROP_CHANNEL) {
    unpack_msg_drop_channel(f, &ch, &prn, &issue);
    const int ok = SKY_LINK_drop_channel(ch, prn, issue);
    ++(ok != 0 ? Eng.counts.drops : Eng.counts.drops_refused);
    return ok;
  }
  unpack_msg_ch_shift_msc(f, &ch, &prn, &issue, &shift);
  const int ok = SKY_LINK_shift_channel(ch, prn, issue, shift);
  ++(ok != 0 ? Eng.counts.shifts : Eng.counts.shifts_refused);
  return ok;
}

// A frame whose sync, type, length and checksum are right: its catalogue entry, else null.
const HOST_MSG_INFO_T* checked(const U08* frame, int len) {
  if (frame == nullptr || len < DP_MIN_MSG_SIZE + 1) return nullptr;
  if (frame[0] != DP_SYNC0 || frame[1] != DP_SYNC1) return nullptr;
  const HOST_MSG_INFO_T* m = HOST_MSG_find(frame[2]);
  if (m == nullptr || m->dir == MSG_DIR_T2H || len != m->len + 1) return nullptr;
  if (calc_checksum(frame, len - 1) != frame[len - 1]) return nullptr;
  return m;
}

// 1 taken, 0 not acted on (refused or another command), -1 a field out of range.
int dispatch(const U08* f) {
  switch (f[2]) {
    case MSG_TYPE_PSE_SET:
      return take_pse_set(f);
    case MSG_TYPE_PSE_SVDOPP:
      return take_svdopp(f);
    case MSG_TYPE_PSE_CLOCK: {
      S32 c = 0;
      unpack_msg_pse_set_clock_offset(f, &c);
      Eng.clock = c;
      ++Eng.counts.clock;
      return 1;
    }
    case MSG_TYPE_PSE_PAUSE: {
      S16 p = 0;
      unpack_msg_pse_pause(f, &p);
      Eng.paused = p != 0 ? 1 : 0;
      ++Eng.counts.pause;
      return 1;
    }
    case MSG_TYPE_PSE_RCV_IS_STATIC: {
      S16 s = 0;
      unpack_msg_pse_rcv_is_static(f, &s);
      Eng.is_static = s;
      ++Eng.counts.is_static;
      return 1;
    }
    case MSG_TYPE_ASIC_DROP_CHANNEL:
    case MSG_TYPE_ASIC_SHIFT_MSC:
      return take_channel_command(f);
    case MSG_TYPE_ASIC_SET_HOT_START_PREDICT_TIME:
      ++Eng.counts.predict_time;
      return SKY_HOT_take(f);  // the time count set from it, recorded with the truth (sky_hot.h)
    case MSG_TYPE_ASIC_PREDICT_MEAS:
      return take_predict_meas(f);
    case MSG_TYPE_ASIC_SET_1PPS:
      return SKY_PPS_take(f);  // recorded with the receiver clock's truth (sky_pps.h)
    default:
      ++Eng.counts.other;
      return 0;
  }
}

}  // namespace

int SKY_SEARCH_first_prn(unsigned seed) { return static_cast<int>(seed % SKY_SEARCH_NPRN) + 1; }

void SKY_SEARCH_reset(unsigned seed, const SKY_TCXO_T& t) {
  Eng = ENGINE_T{};
  SKY_PPS_reset();
  SKY_PREDICT_reset();
  SKY_HOT_reset();
  Eng.seed = seed;
  Eng.tcxo = t;
  const double f = t.freq_hz != 0 ? static_cast<double>(t.freq_hz) : 1.0;
  Eng.scale = static_cast<float>(67108864.0 / f);  // 2^26 / f
  const auto mode = static_cast<std::size_t>(std::clamp(t.mode, 0, 4));
  const double residual = t.ideal_bb_hz - PSE_NCO_TBL[mode].ideal_bb_hz;
  Eng.offset0 = PSE_NCO_TBL[mode].offset0 + static_cast<int32_t>(residual * 67108864.0 / f);
  Eng.clock = Eng.offset0;
}

int SKY_LINK_command(const U08* frame, int len) {
  ++Eng.counts.frames;
  if (checked(frame, len) == nullptr) {
    ++Eng.counts.bad;
    return 0;
  }
  const int taken = dispatch(frame);
  if (taken < 0) ++Eng.counts.bad;  // a field out of range
  return taken > 0 ? 1 : 0;
}

int SKY_SEARCH_epoch(const SKY_EPOCH_T& ep, double step_s, const int16_t* tracked, int16_t* svids) {
  int n = 0;
  start_predicted(ep, tracked, svids, &n);
  if (Eng.paused != 0 || step_s <= 0.0) return n;
  double t0 = Eng.t;
  const double t1 = Eng.t + step_s;
  for (int guard = 0; guard < 1000; ++guard) {
    const double len = std::max(pass_duration(current_state()), 1e-3);
    const double end = Eng.pass_start + len;
    sweep(ep, t0, std::min(t1, end), len, tracked, svids, &n);
    if (t1 < end) break;
    t0 = end;
    Eng.pass_start = end;
    next_strategy();
  }
  Eng.t = t1;
  return n;
}

int SKY_SEARCH_status_frame(U08* buf) {
  const PSE_STATE_T& st = current_state();
  std::array<S08, 3> lv{-1, -1, -1};
  for (int k = 0; k < std::clamp(static_cast<int>(st.nsets), 0, MSG_PSE_SETS_N); ++k)
    lv[static_cast<std::size_t>(k)] = static_cast<S08>(st.set[static_cast<std::size_t>(k)].strength);
  const int n = pack_msg_pse_status(buf, static_cast<S08>(Eng.mode_code), static_cast<S08>(Eng.strategy), lv[0], lv[1],
                                    lv[2], static_cast<S08>(Eng.paused), 0);
  return append_checksum(buf, n);
}

SKY_SEARCH_VIEW_T SKY_SEARCH_view() {
  SKY_SEARCH_VIEW_T v;
  v.has_list = Eng.has_list;
  v.mode_code = Eng.mode_code;
  v.strategy = Eng.strategy;
  v.paused = Eng.paused;
  v.is_static = Eng.is_static;
  v.n_dopp = Eng.n_dopp;
  v.clock_hz = clock_hz();
  v.engine_s = Eng.t;
  return v;
}

const SKY_SEARCH_COUNTS_T& SKY_SEARCH_counts() { return Eng.counts; }
