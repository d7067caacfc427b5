// Raw buffers of the RTK engine: the waiting rover epochs, the last base epochs, base
// position, velocity and clock biases, and the CRVRAW IODs of each stream.
#include "rtk/rtk_raw.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "rtk/rtk.h"

namespace {

constexpr int MODE_MOVEB = 4;
constexpr int STREAM_RTCM3 = 1;
constexpr int STREAM_CRV_RAW = 2;
constexpr int STREAM_CRV_EXTRAW = 3;
constexpr double MAX_MOVEB_TDIFF = 0.01;  // s

enum : int { IOD_R_TIME = 0, IOD_R_RAW, IOD_R_RCV, IOD_B_TIME, IOD_B_RAW, IOD_B_RCV };

// Rover epochs waiting for the engine: slot 0 the oldest. In file pairing
// only slot 0 is used (a new epoch replaces it); in real-time pairing a
// second epoch may wait behind the first, which then waits no longer.
constexpr int NROVER_Q = 2;
obsd_t Rover_q[NROVER_Q][MAXOBS];
int Rover_q_n[NROVER_Q] = {0, 0};
int Rover_q_len = 0;

// The last base epochs, oldest first (time order).
struct BASE_EPOCH_T {
  gtime_t time;      // GPS time of the epoch (its first observation)
  unsigned int sys;  // SYS_ bits of its satellites
  int used;          // a cycle has used this epoch or a later one: its slip flags are passed on
  int n;
  obsd_t obs[MAXOBS];
};
// The epochs stay where they were stored; order[] holds the storage slot of
// each position (a permutation of the slots: the first Base_hist_n in time
// order, the free ones after them), so that keeping time order moves indices only.
struct BASE_HISTORY_T {
  BASE_EPOCH_T store[RTK_RAW_BASE_HISTORY];
  int order[RTK_RAW_BASE_HISTORY];
  BASE_EPOCH_T& operator[](int i) { return store[order[i]]; }
};
BASE_HISTORY_T Base_hist;
int Base_hist_n = 0;
U08 Evicted_LLI[MAXSAT];  // slip flags of base epochs that left the history unused
int Pairing_realtime = 0;
int Taken_base = -1;  // history index of the base epoch of the last RTK_RAW_get_meas, -1 none
double RAW_base_ecef_pos_x = 0.0, RAW_base_ecef_pos_y = 0.0, RAW_base_ecef_pos_z = 0.0;
float RAW_base_ecef_vel[3] = {0.0f, 0.0f, 0.0f};
int RAW_base_valid = 0;
double RAW_rover_cbias = 0.0, RAW_base_cbias = 0.0;
int RAW_rover_cbias_valid = 0, RAW_base_cbias_valid = 0;
int Rtk_mode = 2;
int Rtk_base_stream_type = 0;
int Crv_iod[6] = {0, 1, 2, 3, 4, 0};
unsigned int Dbg_raw_rover_buffer_is_not_enough_cnt = 0;
int Dbg_raw_rover_be_gotton_n_obs = 0, Dbg_raw_base_be_gotton_n_obs = 0;
gtime_t Dbg_raw_rover_be_gotton_time{}, Dbg_raw_base_be_gotton_time{};

// Time of each stream's last epoch, to notice a stream whose time goes back
// (two recordings one after the other, a receiver restarted with an old time).
struct STREAM_CLOCK_T {
  gtime_t last;         // time of the stream's last epoch (GPS time)
  int has_last;         // 1 once the stream delivered an epoch
  unsigned int n_back;  // epochs whose time went back more than RTK_RAW_TIME_BACK_LIMIT
};
STREAM_CLOCK_T Rover_clock{}, Base_clock{};
int Time_back_pending = 0;  // a stream went back since the engine last asked
int Base_dropped = 0;       // the base epoch was dropped as stale; no base epoch since

int clamp_count(int n) { return n < 0 ? 0 : (n > MAXOBS ? MAXOBS : n); }

// Notes the time t of a new epoch of the stream. Returns the step back in s
// when t lies more than RTK_RAW_TIME_BACK_LIMIT before the stream's last
// epoch, else 0; the first such step of the stream is reported on stderr.
double note_epoch_time(STREAM_CLOCK_T* c, gtime_t t, const char* stream) {
  double back = 0.0;
  if (c->has_last) {
    const double dt = timediff(t, c->last);
    if (dt < -RTK_RAW_TIME_BACK_LIMIT) {
      back = -dt;
      if (c->n_back++ == 0)
        std::fprintf(stderr, "talonhost: %s stream: time went back %.1f s; resynchronised\n", stream, back);
      Time_back_pending = 1;
    }
  }
  c->last = t;
  c->has_last = 1;
  return back;
}

}  // namespace

void RTK_RAW_init() {
  Rover_q_len = 0;
  Rover_q_n[0] = Rover_q_n[1] = 0;
  Base_hist_n = 0;
  for (int i = 0; i < RTK_RAW_BASE_HISTORY; ++i) Base_hist.order[i] = i;
  for (auto& l : Evicted_LLI) l = 0;
  Pairing_realtime = 0;
  Taken_base = -1;
  RAW_base_ecef_pos_x = RAW_base_ecef_pos_y = RAW_base_ecef_pos_z = 0.0;
  RAW_base_ecef_vel[0] = RAW_base_ecef_vel[1] = RAW_base_ecef_vel[2] = 0.0f;
  RAW_base_valid = 0;
  RAW_rover_cbias = RAW_base_cbias = 0.0;
  RAW_rover_cbias_valid = RAW_base_cbias_valid = 0;
  Rtk_mode = 2;
  Rtk_base_stream_type = 0;
  static constexpr int iod0[6] = {0, 1, 2, 3, 4, 0};
  for (int i = 0; i < 6; ++i) Crv_iod[i] = iod0[i];
  Dbg_raw_rover_buffer_is_not_enough_cnt = 0;
  Dbg_raw_rover_be_gotton_n_obs = Dbg_raw_base_be_gotton_n_obs = 0;
  Dbg_raw_rover_be_gotton_time = Dbg_raw_base_be_gotton_time = gtime_t{};
  Rover_clock = Base_clock = STREAM_CLOCK_T{};
  Time_back_pending = Base_dropped = 0;
}

void RTK_RAW_update_rover_meas(const obsd_t* obs_array, int n) {
  n = clamp_count(n);
  if (n > 0 && note_epoch_time(&Rover_clock, obs_array[0].time, "rover") > 0.0 && Base_hist_n > 0) {
    // Base epochs of the time before the step would stay ahead of every rover
    // epoch until the rover caught up with them again.
    int k = 0;
    for (int i = 0; i < Base_hist_n; ++i)
      if (timediff(Base_hist[i].time, obs_array[0].time) <= RTK_RAW_TIME_BACK_LIMIT)
        std::swap(Base_hist.order[k++], Base_hist.order[i]);
    if (k < Base_hist_n) {
      Base_hist_n = k;
      for (auto& l : Evicted_LLI) l = 0;
      Taken_base = -1;
      if (k == 0) Base_dropped = 1;
    }
  }
  int slot = 0;
  if (Rover_q_len > 0) {
    if (Pairing_realtime && Rover_q_len < NROVER_Q) {
      slot = Rover_q_len;
    } else {
      ++Dbg_raw_rover_buffer_is_not_enough_cnt;  // the newest waiting epoch is replaced
      slot = Rover_q_len - 1;
    }
  }
  for (int i = 0; i < n; ++i) Rover_q[slot][i] = obs_array[i];
  Rover_q_n[slot] = n;
  Rover_q_len = n > 0 ? slot + 1 : slot;
}

namespace {

unsigned int epoch_systems(const obsd_t* obs, int n) {
  unsigned int m = 0;
  for (int i = 0; i < n; ++i) m |= static_cast<unsigned int>(satsys(obs[i].sat, nullptr));
  return m;
}

// The oldest history entry leaves; its slip flags stay for the next epoch taken
// unless a cycle has used it.
void evict_oldest_base() {
  const BASE_EPOCH_T& e = Base_hist[0];
  if (!e.used)
    for (int i = 0; i < e.n; ++i) {
      const int s = e.obs[i].sat - 1;
      if (s >= 0 && s < MAXSAT) Evicted_LLI[s] |= e.obs[i].LLI[0];
    }
  const int slot = Base_hist.order[0];
  for (int i = 1; i < Base_hist_n; ++i) Base_hist.order[i - 1] = Base_hist.order[i];
  Base_hist.order[Base_hist_n - 1] = slot;
  --Base_hist_n;
  if (Taken_base >= 0) --Taken_base;
}

}  // namespace

void RTK_RAW_update_base_meas(const obsd_t* obs_array, int n) {
  n = clamp_count(n);
  if (n == 0) return;  // an empty epoch serves nothing
  const gtime_t t = obs_array[0].time;
  // After a step back the epochs before it belong to another recording.
  if (note_epoch_time(&Base_clock, t, "base") > 0.0) {
    Base_hist_n = 0;
    for (auto& l : Evicted_LLI) l = 0;
    Taken_base = -1;
  }
  Base_dropped = 0;
  // Its place in time order; an epoch of the same time (within 1 ms) is replaced.
  int at = Base_hist_n;
  while (at > 0 && timediff(Base_hist[at - 1].time, t) > RTK_RAW_SAME_EPOCH) --at;
  const bool same = at > 0 && std::fabs(timediff(Base_hist[at - 1].time, t)) <= RTK_RAW_SAME_EPOCH;
  if (same) {
    --at;
  } else {
    if (Base_hist_n == RTK_RAW_BASE_HISTORY) {
      if (at == 0) return;  // older than every epoch held: of no more use
      evict_oldest_base();
      --at;
    }
    const int slot = Base_hist.order[Base_hist_n];  // a free slot
    for (int i = Base_hist_n; i > at; --i) Base_hist.order[i] = Base_hist.order[i - 1];
    Base_hist.order[at] = slot;
    ++Base_hist_n;
    if (Taken_base >= at) ++Taken_base;
  }
  BASE_EPOCH_T& e = Base_hist[at];
  e.time = t;
  e.n = n;
  e.used = 0;
  for (int i = 0; i < n; ++i) e.obs[i] = obs_array[i];
  e.sys = epoch_systems(obs_array, n);
}

void RTK_RAW_update_base_pos_xyz(double x, double y, double z) {
  RAW_base_ecef_pos_x = x;
  RAW_base_ecef_pos_y = y;
  RAW_base_ecef_pos_z = z;
  RAW_base_valid = 1;
}

void RTK_RAW_update_base_vel_xyz(float vx, float vy, float vz) {
  RAW_base_ecef_vel[0] = vx;
  RAW_base_ecef_vel[1] = vy;
  RAW_base_ecef_vel[2] = vz;
}

void RTK_RAW_update_rover_cbias(double cbias) {
  RAW_rover_cbias = cbias;
  RAW_rover_cbias_valid = 1;
}

void RTK_RAW_update_base_cbias(double cbias) {
  RAW_base_cbias = cbias;
  RAW_base_cbias_valid = 1;
}

namespace {

// Systems of the rover epoch that the base epoch e serves, counted.
int served_systems(const BASE_EPOCH_T& e, unsigned int rover_sys) {
  unsigned int m = e.sys & rover_sys;
  int k = 0;
  for (; m != 0; m &= m - 1) ++k;
  return k;
}

// History index of the base epoch for a rover epoch at time tr with systems
// rover_sys, -1 for none. Candidates: every epoch (file pairing) or those at
// or before tr + RTK_RAW_PAIR_TOL (real-time pairing). Of them the epochs that
// serve the most of the rover's systems (a partial epoch, e.g. GLONASS
// without its GPS partner, does not displace a whole one), and of those the
// nearest in time; on a tie the earlier.
int pick_base(gtime_t tr, unsigned int rover_sys, int realtime) {
  int best = -1, best_served = -1;
  double best_dt = 0.0;
  for (int i = 0; i < Base_hist_n; ++i) {
    const double dt = timediff(tr, Base_hist[i].time);  // the age: rover - base, s
    if (realtime && dt < -RTK_RAW_PAIR_TOL) continue;
    const int served = served_systems(Base_hist[i], rover_sys);
    if (best < 0 || served > best_served || (served == best_served && std::fabs(dt) < std::fabs(best_dt))) {
      best = i;
      best_served = served;
      best_dt = dt;
    }
  }
  return best;
}

// Real-time pairing: 1 while the rover epoch at tr should wait for its base
// epoch. It waits when no base epoch lies within RTK_RAW_PAIR_TOL of it, the
// newest base epoch is older and the next one is due by the base's own
// interval (the shortest spacing in the history), and no later rover epoch
// is waiting behind it; the wait therefore ends at the latest with the next
// rover epoch, and a run re-read from its recording waits the same way.
int base_still_due(gtime_t tr) {
  if (Rover_q_len >= NROVER_Q || Base_hist_n == 0) return 0;
  const BASE_EPOCH_T& newest = Base_hist[Base_hist_n - 1];
  const double lag = timediff(tr, newest.time);
  if (lag <= RTK_RAW_PAIR_TOL) return 0;
  double step = 0.0;
  for (int i = 1; i < Base_hist_n; ++i) {
    const double d = timediff(Base_hist[i].time, Base_hist[i - 1].time);
    if (d > RTK_RAW_SAME_EPOCH && (step == 0.0 || d < step)) step = d;
  }
  if (step == 0.0) return lag <= RTK_RAW_MAX_WAIT_LAG ? 1 : 0;  // one epoch only: its interval is not known
  // Due, and not overdue by more than one interval (then the base has a gap).
  return lag + RTK_RAW_PAIR_TOL >= step && lag <= 2.0 * step + RTK_RAW_PAIR_TOL ? 1 : 0;
}

// Copies base epoch k into out with the slip flags of the epochs before it that
// no cycle has used (and of those that left the history unused) OR-ed in.
int copy_base(int k, obsd_t* out) {
  const BASE_EPOCH_T& e = Base_hist[k];
  for (int i = 0; i < e.n; ++i) {
    out[i] = e.obs[i];
    const int s = e.obs[i].sat - 1;
    if (s < 0 || s >= MAXSAT) continue;
    out[i].LLI[0] |= Evicted_LLI[s];
    for (int j = 0; j < k; ++j) {
      if (Base_hist[j].used) continue;
      for (int m = 0; m < Base_hist[j].n; ++m)
        if (Base_hist[j].obs[m].sat == e.obs[i].sat) out[i].LLI[0] |= Base_hist[j].obs[m].LLI[0];
    }
  }
  return e.n;
}

bool moving_base_refused(int k) {
  if (Rtk_base_stream_type == STREAM_RTCM3) return true;
  if (Rtk_base_stream_type == STREAM_CRV_RAW || Rtk_base_stream_type == STREAM_CRV_EXTRAW) {
    if (Crv_iod[IOD_R_TIME] != Crv_iod[IOD_R_RAW] || Crv_iod[IOD_R_TIME] != Crv_iod[IOD_R_RCV]) return true;
    if (Crv_iod[IOD_B_TIME] != Crv_iod[IOD_B_RAW] || Crv_iod[IOD_B_TIME] != Crv_iod[IOD_B_RCV]) return true;
  }
  if (!RAW_rover_cbias_valid || !RAW_base_cbias_valid) return true;
  if (Rover_q_len <= 0 || k < 0) return true;
  const double dt = timediff(Rover_q[0][0].time, Base_hist[k].time) - (RAW_rover_cbias - RAW_base_cbias) / CLIGHT;
  return std::fabs(dt) > MAX_MOVEB_TDIFF;
}

}  // namespace

int RTK_RAW_get_meas(obsd_t* obs_array, int* n_rover_p, int* n_base_p) {
  const int nr = Rover_q_len > 0 ? Rover_q_n[0] : 0;
  const gtime_t tr = nr > 0 ? Rover_q[0][0].time : gtime_t{};
  const int k = nr > 0 ? pick_base(tr, epoch_systems(Rover_q[0], nr), Pairing_realtime || Rtk_mode == MODE_MOVEB)
                       : (Base_hist_n > 0 ? Base_hist_n - 1 : -1);
  if (Rtk_mode == MODE_MOVEB && moving_base_refused(k)) return 0;
  *n_rover_p = nr;
  *n_base_p = k >= 0 ? Base_hist[k].n : 0;
  if (nr <= 0) return 0;
  if (Pairing_realtime && Rtk_mode != MODE_MOVEB && base_still_due(tr) &&
      (k < 0 || std::fabs(timediff(tr, Base_hist[k].time)) > RTK_RAW_PAIR_TOL))
    return 0;
  int n = 0;
  for (int i = 0; i < nr; ++i) obs_array[n++] = Rover_q[0][i];
  const int nb = k >= 0 ? copy_base(k, obs_array + n) : 0;
  n += nb;
  Dbg_raw_rover_be_gotton_n_obs = nr;
  Dbg_raw_rover_be_gotton_time = tr;
  Taken_base = k;
  if (k >= 0) {
    Dbg_raw_base_be_gotton_n_obs = nb;
    Dbg_raw_base_be_gotton_time = Base_hist[k].time;
  } else {
    // No base epoch for this rover epoch: the time difference says so.
    Dbg_raw_base_be_gotton_n_obs = 0;
  }
  *n_base_p = nb;
  // The waiting rover epochs move up.
  for (int q = 1; q < Rover_q_len; ++q) {
    for (int i = 0; i < Rover_q_n[q]; ++i) Rover_q[q - 1][i] = Rover_q[q][i];
    Rover_q_n[q - 1] = Rover_q_n[q];
  }
  --Rover_q_len;
  return n;
}

int RTK_RAW_get_base_meas(obsd_t* obs_array) {
  if (Base_hist_n <= 0) return 0;
  const BASE_EPOCH_T& e = Base_hist[Base_hist_n - 1];
  for (int i = 0; i < e.n; ++i) obs_array[i] = e.obs[i];
  return e.n;
}

int RTK_RAW_get_base_time(gtime_t* time_p) {
  if (Base_hist_n <= 0) return 0;
  *time_p = Base_hist[Base_hist_n - 1].time;
  return 1;
}

int RTK_RAW_nearest_base_time(gtime_t t, gtime_t* time_p) {
  int best = -1;
  for (int i = 0; i < Base_hist_n; ++i)
    if (best < 0 || std::fabs(timediff(t, Base_hist[i].time)) < std::fabs(timediff(t, Base_hist[best].time))) best = i;
  if (best < 0) return 0;
  *time_p = Base_hist[best].time;
  return 1;
}

int RTK_RAW_get_base_history(gtime_t* times, int max_n) {
  const int n = Base_hist_n < max_n ? Base_hist_n : max_n;
  for (int i = 0; i < n; ++i) times[i] = Base_hist[i].time;
  return n;
}

void RTK_RAW_set_realtime_pairing(int realtime) { Pairing_realtime = realtime != 0 ? 1 : 0; }
int RTK_RAW_get_rover_queue() { return Rover_q_len; }

double RTK_RAW_base_age_variance(double age) {
  const double d = RTK_RAW_AGE_SIGMA_RATE * std::fabs(age);
  return d * d;
}

int RTK_RAW_get_base_pos_xyz(double* xyz) {
  xyz[0] = RAW_base_ecef_pos_x;
  xyz[1] = RAW_base_ecef_pos_y;
  xyz[2] = RAW_base_ecef_pos_z;
  return RAW_base_valid;
}

int RTK_RAW_get_base_vel_xyz(float* vel) {
  for (int i = 0; i < 3; ++i) vel[i] = RAW_base_ecef_vel[i];
  return RAW_base_valid;
}

int RTK_RAW_get_rover_cbias(double* cbias) {
  *cbias = RAW_rover_cbias;
  return RAW_rover_cbias_valid;
}

int RTK_RAW_get_base_cbias(double* cbias) {
  *cbias = RAW_base_cbias;
  return RAW_base_cbias_valid;
}

void RTK_RAW_get_base_crv_iod(int* iod) {
  iod[0] = Crv_iod[IOD_B_TIME];
  iod[1] = Crv_iod[IOD_B_RAW];
  iod[2] = Crv_iod[IOD_B_RCV];
}

int RTK_RAW_get_raw_base_valid() { return RAW_base_valid; }

int RTK_RAW_get_time_dif(double* dt) {
  *dt = 0.0;
  if (Dbg_raw_rover_be_gotton_n_obs <= 0 || Dbg_raw_base_be_gotton_n_obs <= 0) return 0;
  *dt = timediff(Dbg_raw_rover_be_gotton_time, Dbg_raw_base_be_gotton_time);
  return 1;
}

void RTK_RAW_set_rtk_mode(int mode) { Rtk_mode = mode; }
void RTK_RAW_set_base_stream_type(int type) { Rtk_base_stream_type = type; }
void RTK_RAW_set_rover_crvtime_iod(int iod) { Crv_iod[IOD_R_TIME] = iod; }
void RTK_RAW_set_rover_crvraw_iod(int iod) { Crv_iod[IOD_R_RAW] = iod; }
void RTK_RAW_set_rover_crvrcv_iod(int iod) { Crv_iod[IOD_R_RCV] = iod; }
void RTK_RAW_set_base_crvtime_iod(int iod) { Crv_iod[IOD_B_TIME] = iod; }
void RTK_RAW_set_base_crvraw_iod(int iod) { Crv_iod[IOD_B_RAW] = iod; }
void RTK_RAW_set_base_crvrcv_iod(int iod) { Crv_iod[IOD_B_RCV] = iod; }
void RTK_RAW_set_has_used_base_obs_flag(U08 flag) {
  if (!flag || Taken_base < 0 || Taken_base >= Base_hist_n) return;
  // The epoch taken and those before it have passed their slip flags on.
  for (int i = 0; i <= Taken_base; ++i) Base_hist[i].used = 1;
  for (auto& l : Evicted_LLI) l = 0;
}
unsigned int RTK_RAW_get_rover_overrun_count() { return Dbg_raw_rover_buffer_is_not_enough_cnt; }
unsigned int RTK_RAW_get_time_back_count(int is_rover) { return is_rover ? Rover_clock.n_back : Base_clock.n_back; }
int RTK_RAW_take_time_back() {
  const int r = Time_back_pending;
  Time_back_pending = 0;
  return r;
}
int RTK_RAW_get_base_dropped() { return Base_dropped; }
void RTK_RAW_print_status() {}
