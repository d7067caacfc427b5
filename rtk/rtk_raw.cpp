// Raw buffers of the RTK engine: the latest rover and base epochs, base
// position, velocity and clock biases, and the CRVRAW IODs of each stream.
#include "rtk/rtk_raw.h"

#include <cmath>
#include <cstdio>

#include "rtk/rtk.h"

namespace {

constexpr int MODE_MOVEB = 4;
constexpr int STREAM_RTCM3 = 1;
constexpr int STREAM_CRV_RAW = 2;
constexpr int STREAM_CRV_EXTRAW = 3;
constexpr double MAX_MOVEB_TDIFF = 0.01;  // s

enum : int { IOD_R_TIME = 0, IOD_R_RAW, IOD_R_RCV, IOD_B_TIME, IOD_B_RAW, IOD_B_RCV };

obsd_t Rover_obs[MAXOBS];
int Rover_obs_valid_number = 0;
obsd_t Base_obs[MAXOBS];
int Base_obs_valid_number = 0;
double RAW_base_ecef_pos_x = 0.0, RAW_base_ecef_pos_y = 0.0, RAW_base_ecef_pos_z = 0.0;
float RAW_base_ecef_vel[3] = {0.0f, 0.0f, 0.0f};
int RAW_base_valid = 0;
double RAW_rover_cbias = 0.0, RAW_base_cbias = 0.0;
int RAW_rover_cbias_valid = 0, RAW_base_cbias_valid = 0;
int Rtk_mode = 2;
int Rtk_base_stream_type = 0;
int Crv_iod[6] = {0, 1, 2, 3, 4, 0};
U08 Has_used_base_obs = 0;
U08 Last_base_LLI[MAXSAT];
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
  Rover_obs_valid_number = Base_obs_valid_number = 0;
  RAW_base_ecef_pos_x = RAW_base_ecef_pos_y = RAW_base_ecef_pos_z = 0.0;
  RAW_base_ecef_vel[0] = RAW_base_ecef_vel[1] = RAW_base_ecef_vel[2] = 0.0f;
  RAW_base_valid = 0;
  RAW_rover_cbias = RAW_base_cbias = 0.0;
  RAW_rover_cbias_valid = RAW_base_cbias_valid = 0;
  Rtk_mode = 2;
  Rtk_base_stream_type = 0;
  static constexpr int iod0[6] = {0, 1, 2, 3, 4, 0};
  for (int i = 0; i < 6; ++i) Crv_iod[i] = iod0[i];
  Has_used_base_obs = 0;
  for (auto& l : Last_base_LLI) l = 0;
  Dbg_raw_rover_buffer_is_not_enough_cnt = 0;
  Dbg_raw_rover_be_gotton_n_obs = Dbg_raw_base_be_gotton_n_obs = 0;
  Dbg_raw_rover_be_gotton_time = Dbg_raw_base_be_gotton_time = gtime_t{};
  Rover_clock = Base_clock = STREAM_CLOCK_T{};
  Time_back_pending = Base_dropped = 0;
}

void RTK_RAW_update_rover_meas(const obsd_t* obs_array, int n) {
  n = clamp_count(n);
  if (n > 0 && note_epoch_time(&Rover_clock, obs_array[0].time, "rover") > 0.0 && Base_obs_valid_number > 0 &&
      timediff(Base_obs[0].time, obs_array[0].time) > RTK_RAW_TIME_BACK_LIMIT) {
    // The base epoch held belongs to the time before the step: it would stay
    // ahead of every rover epoch until the rover caught up with it again.
    Base_obs_valid_number = 0;
    for (auto& l : Last_base_LLI) l = 0;
    Base_dropped = 1;
  }
  if (Rover_obs_valid_number > 0) ++Dbg_raw_rover_buffer_is_not_enough_cnt;
  for (int i = 0; i < n; ++i) Rover_obs[i] = obs_array[i];
  Rover_obs_valid_number = n;
}

void RTK_RAW_update_base_meas(const obsd_t* obs_array, int n) {
  n = clamp_count(n);
  // After a step back the loss-of-lock flags of the epochs before it do not
  // belong to this one.
  if (n > 0 && note_epoch_time(&Base_clock, obs_array[0].time, "base") > 0.0)
    for (auto& l : Last_base_LLI) l = 0;
  Base_dropped = 0;
  for (int i = 0; i < n; ++i) {
    Base_obs[i] = obs_array[i];
    const int s = obs_array[i].sat - 1;
    if (!Has_used_base_obs && s >= 0 && s < MAXSAT) Base_obs[i].LLI[0] |= Last_base_LLI[s];
  }
  for (auto& l : Last_base_LLI) l = 0;
  for (int i = 0; i < n; ++i) {
    const int s = obs_array[i].sat - 1;
    if (s >= 0 && s < MAXSAT) Last_base_LLI[s] = obs_array[i].LLI[0];
  }
  Has_used_base_obs = 0;
  Base_obs_valid_number = n;
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

int RTK_RAW_get_meas(obsd_t* obs_array, int* n_rover_p, int* n_base_p) {
  if (Rtk_mode == MODE_MOVEB) {
    if (Rtk_base_stream_type == STREAM_RTCM3) return 0;
    if (Rtk_base_stream_type == STREAM_CRV_RAW || Rtk_base_stream_type == STREAM_CRV_EXTRAW) {
      if (Crv_iod[IOD_R_TIME] != Crv_iod[IOD_R_RAW] || Crv_iod[IOD_R_TIME] != Crv_iod[IOD_R_RCV]) return 0;
      if (Crv_iod[IOD_B_TIME] != Crv_iod[IOD_B_RAW] || Crv_iod[IOD_B_TIME] != Crv_iod[IOD_B_RCV]) return 0;
    }
    if (!RAW_rover_cbias_valid || !RAW_base_cbias_valid) return 0;
    if (Rover_obs_valid_number <= 0 || Base_obs_valid_number <= 0) return 0;
    const double dt = timediff(Rover_obs[0].time, Base_obs[0].time) - (RAW_rover_cbias - RAW_base_cbias) / CLIGHT;
    if (std::fabs(dt) > MAX_MOVEB_TDIFF) return 0;
  }
  *n_rover_p = Rover_obs_valid_number;
  *n_base_p = Base_obs_valid_number;
  if (Rover_obs_valid_number <= 0) return 0;
  int n = 0;
  for (int i = 0; i < Rover_obs_valid_number; ++i) obs_array[n++] = Rover_obs[i];
  for (int i = 0; i < Base_obs_valid_number; ++i) obs_array[n++] = Base_obs[i];
  Dbg_raw_rover_be_gotton_n_obs = Rover_obs_valid_number;
  Dbg_raw_rover_be_gotton_time = Rover_obs[0].time;
  if (Base_obs_valid_number > 0) {
    Dbg_raw_base_be_gotton_n_obs = Base_obs_valid_number;
    Dbg_raw_base_be_gotton_time = Base_obs[0].time;
  }
  Rover_obs_valid_number = 0;
  return n;
}

int RTK_RAW_get_base_meas(obsd_t* obs_array) {
  for (int i = 0; i < Base_obs_valid_number; ++i) obs_array[i] = Base_obs[i];
  return Base_obs_valid_number;
}

int RTK_RAW_get_base_time(gtime_t* time_p) {
  if (Base_obs_valid_number <= 0) return 0;
  *time_p = Base_obs[0].time;
  return 1;
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
void RTK_RAW_set_has_used_base_obs_flag(U08 flag) { Has_used_base_obs = flag; }
unsigned int RTK_RAW_get_rover_overrun_count() { return Dbg_raw_rover_buffer_is_not_enough_cnt; }
unsigned int RTK_RAW_get_time_back_count(int is_rover) { return is_rover ? Rover_clock.n_back : Base_clock.n_back; }
int RTK_RAW_take_time_back() {
  const int r = Time_back_pending;
  Time_back_pending = 0;
  return r;
}
int RTK_RAW_get_base_dropped() { return Base_dropped; }
void RTK_RAW_print_status() {}
