// Navigation driver: the epoch (clock, prediction, first fix or later fix),
// the fix states written into the record, counters, prediction epochs, the
// position-fix fault handler and the body-fixed-frame filter switch.
#include "kernel/src/navigate.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "kernel/src/channel.h"
#include "kernel/src/coordinate.h"
#include "kernel/src/ephemeris.h"
#include "kernel/src/kalman_filter.h"
#include "kernel/src/kernel_modules.h"
#include "kernel/src/least_square.h"
#include "kernel/src/least_square_raim.h"
#include "kernel/src/nav_estimation_inputs.h"
#include "kernel/src/nav_model.h"
#include "kernel/src/navigate_internal.h"
#include "kernel/src/navigate_record.h"
#include "kernel/src/range.h"
#include "kernel/src/satellite.h"
#include "kernel/src/settings.h"
#include "kernel/src/static_filter.h"

namespace {

NV_DATA_T Nv_data{};
NV_FLAGS_T Nv_flags{};
F32 Nv_meas_update_period = 1.0F;  // s
S16 Compensate_gtc_input_dt = 0;
S16 Nv_force_add_pseudo_sv_at_first_fix = 0;
S16 Nv_last_first_fix_fail_nmeas = 0;
S16 Nav_fix_least_square = 0;
POS_T INIT_POS{};
ELV_CNR_MASK_T Elv_cnr_mask{};
DOP_MASK_T Dop_mask{};
S16 NO_FIX_BY_DOP_MASK = 0;
S16 NV_is_SG_signal = 0;

struct NV_HOOKS_T {
  NV_DROP_CHANNEL_CALLBACK_T drop_channel;
  NV_POSITION_FIX_FAULT_CALLBACK_T position_fix_fault;
  NV_BAD_MEAS_CHECK_CALLBACK_T first_fix_bad_meas;
  NV_BAD_MEAS_CHECK_CALLBACK_T bad_meas;
  NV_MULTIPATH_CALLBACK_T multipath;
  NV_UPDATE_WN_CALLBACK_T update_wn;
};
NV_HOOKS_T Hooks{};

S16 Sbas_limitation = 0;
S16 Qzss_limitation = 0;

constexpr D64 C_LIGHT = SPEED_OF_LIGHT;
constexpr D64 WEEK_S = 604800.0;
constexpr F32 RAD_TO_DEG = 57.2957795131F;
constexpr D64 RAD_TO_DEG_D = 57.2957795131;
constexpr F32 DOP_UNKNOWN = 99.9F;
constexpr F32 ALT_FAULT_M = -3000.0F;  // m: a working position lower than this is a position-fix fault
constexpr F32 SPEED_2KMH = 0.5556F;    // m/s
constexpr F32 SPEED_5KMH = 1.3889F;    // m/s
constexpr F32 SPEED_10KMH = 2.7778F;   // m/s
constexpr F32 MAX_PREDICT_SPEED = 88.8896F;
constexpr F32 FAULT_SPEED = 514.44F;  // m/s
constexpr U16 COUNT_LIMIT = 10000;
constexpr D64 FIRST_FIX_CBIAS_OFFSET = 19486509.77;  // m, a typical pseudorange of the receiver-clock start
constexpr D64 DIVERGED_POS2 = 2.62144e15;            // m^2 (51 200 km)
constexpr S16 FIRST_FIX_ITERATIONS = 8;
constexpr D64 START_RADIUS = 2.0;  // m, start position of a first fix without a stored position
constexpr std::array<F32, 15> URA_TABLE = {2.4F,  3.4F,   4.85F,  6.85F,  9.65F,   13.65F,  24.0F,  48.0F,
                                           96.0F, 192.0F, 384.0F, 768.0F, 1536.0F, 3072.0F, 6144.0F};

template <typename T>
void count_up(T& c) {
  if (c < COUNT_LIMIT) ++c;
}

bool finite_pos(const POS_T& p) { return std::isfinite(p.px) && std::isfinite(p.py) && std::isfinite(p.pz); }
bool finite_vel(const VEL_T& v) { return std::isfinite(v.vx) && std::isfinite(v.vy) && std::isfinite(v.vz); }

bool working_state_finite() {
  const NV_DATA_T& d = Nv_data;
  return finite_pos(d.tmp_pos) && finite_vel(d.tmp_vel) && std::isfinite(d.tmp_cbias) && std::isfinite(d.tmp_cdrift);
}

// Time of week and week of t (s) counted from week wn, wrapped into the week.
void wrap_time(S16 wn, D64 t, S16* wn_p, D64* tow_p) {
  S32 w = wn;
  if (!std::isfinite(t)) t = 0.0;
  const D64 weeks = std::floor(t / WEEK_S);
  if (weeks != 0.0 && std::fabs(weeks) < 1e6) {
    w += static_cast<S32>(weeks);
    t -= weeks * WEEK_S;
  }
  if (t < 0.0 || t >= WEEK_S) t = 0.0;
  *wn_p = static_cast<S16>(w);
  *tow_p = t;
}

void enu_from_ecef(const F32 enu[3][3], const VEL_T& v, VEL_ENU_T* out) {
  const F32 in[3] = {v.vx, v.vy, v.vz};
  F32 o[3];
  COO_linear_transform(enu, in, o);
  *out = VEL_ENU_T{o[0], o[1], o[2]};
}

void ecef_from_enu(const F32 enu[3][3], const F32 in[3], F32 out[3]) { COO_inv_linear_transform(enu, in, out); }

// --- Clock and prediction -------------------------------------------------------------

D64 calibrate_clock(S16 gtc_wn, D64 gtc_sec, D64 gtc_meas_dt, D64 gtc_shift_dt) {
  NV_DATA_T& d = Nv_data;
  D64 dt = 1.0;
  if (d.has_fixed != 0) {
    const S32 dw =
        ((static_cast<S32>(gtc_wn) - d.last_gtc_wn) % GPS_WEEK_ROLLOVER + GPS_WEEK_ROLLOVER) % GPS_WEEK_ROLLOVER;
    dt = (gtc_sec - d.last_gtc_sec) + dw * WEEK_S;
    d.cbias += static_cast<D64>(d.cdrift) * gtc_meas_dt + gtc_shift_dt * C_LIGHT;
    if (Compensate_gtc_input_dt != 0) {
      d.cbias -= Compensate_gtc_input_dt * C_LIGHT;
      Compensate_gtc_input_dt = 0;
    }
    if (!std::isfinite(d.cbias)) d.cbias = 0.0;
  }
  if (!std::isfinite(dt)) dt = 1.0;
  wrap_time(gtc_wn, gtc_sec - d.cbias / C_LIGHT, &d.wn, &d.tow);
  Nv_flags.Has_updated_gtc = 1;
  return dt;
}

void predict_position(D64 dt) {
  NV_DATA_T& d = Nv_data;
  d.tmp_pos = d.pos;
  d.tmp_vel = d.vel;
  d.tmp_vel_enu = d.vel_enu;
  d.tmp_cbias = d.cbias;
  d.tmp_cdrift = d.cdrift;
  d.tmp_ctsys_glo = d.ctsys_glo;
  d.tmp_cdtsys_glo = d.cdtsys_glo;
  d.tmp_lla = d.lla;
  // A repeated or backward epoch (dt <= 0) is not dead-reckoned; the
  // covariance projection resets the filter for it as on a gap.
  if (d.has_fixed != 0 && KMF_is_P_mode() == 0 && dt > 0.0 && dt < 1000.0) {
    KMF_set_PV_process_noise_parameter(NVMODEL_get_kalman_filter_Sp_pv());
    const bool accel = NVMODEL_get_model() == AIRBORNE && d.cont_real_fix_count >= 4 && d.speed > SPEED_5KMH;
    const D64 h = accel ? 0.5 * dt * dt : 0.0;
    d.tmp_pos.px += d.vel.vx * dt + d.acc.ax * h;
    d.tmp_pos.py += d.vel.vy * dt + d.acc.ay * h;
    d.tmp_pos.pz += d.vel.vz * dt + d.acc.az * h;
  }
  KMF_project_covariance(static_cast<F32>(dt));
}

// At a whole second the satellites' rough states are refreshed and their
// elevations marked for recomputation from the receiver position.
void refresh_elevations(S16 wn, D64 sec, S16 n, RNG_T* rngs) {
  if (std::fabs(sec - std::round(sec)) >= 0.01) return;
  for (S16 i = 0; i < n; ++i) {
    const SV_T sv = RNG_get_sv(rngs[i]);
    if (sv != nullptr && SV_rough(sv, wn, static_cast<S32>(std::round(sec)), nullptr, nullptr))
      SV_invalidate_azm_elv(sv);
  }
}

// Elevations and atmospheric delays seen from pos (ECEF m) when it is a
// plausible receiver position: 6000 to 7000 km from the Earth's centre and no
// lower than the lowest height a fix may have (ALT_FAULT_M). Anywhere else
// every range's delays are cleared. The first fix starts 1 m from the centre
// and its first step may land a hundred kilometres below the surface, where
// the tropospheric model 2.47 e^(-0.000133 h) / (sin E + 0.0121) m reaches
// 10^8 m; a delay computed there, or kept from an earlier iterate or epoch,
// would bias every later attempt and no first fix would ever converge.
void update_elevation_and_atmosphere(const POS_T& pos, D64 tow) {
  const D64 r = std::sqrt(pos.px * pos.px + pos.py * pos.py + pos.pz * pos.pz);
  if (!(r > 6.0e6 && r < 7.0e6)) {
    RNG_clear_atmosphere_delay();
    return;
  }
  LLA_T lla{};
  COO_cartesian_to_geodetic(&pos, &lla);
  if (!(lla.alt >= ALT_FAULT_M)) {
    RNG_clear_atmosphere_delay();
    return;
  }
  F32 tm[3][3];
  COO_calculate_enu_tm(static_cast<F32>(lla.lat), static_cast<F32>(lla.lon), tm);
  RNG_update_receiver_states_for_elevation(&pos, tm);
  RNG_calculate_atmosphere_delay(static_cast<S32>(std::lround(tow)), &lla);
}

void invalidate_elevations(S16 n, RNG_T* rngs) {
  for (S16 i = 0; i < n; ++i) {
    const SV_T sv = RNG_get_sv(rngs[i]);
    if (sv != nullptr) SV_invalidate_azm_elv(sv);
  }
}

// --- DOPs -------------------------------------------------------------------------------

// DOPs from q (4 x 4, east, north, up, clock); null: unknown.
void update_DOPs(const F32 (*q)[4]) {
  NV_DATA_T& d = Nv_data;
  if (q == nullptr) {
    d.gdop = d.pdop = d.hdop = d.vdop = d.edop = d.ndop = d.tdop = DOP_UNKNOWN;
    return;
  }
  const auto root = [](F32 v) { return (v >= 0.0F && std::isfinite(v)) ? std::sqrt(v) : DOP_UNKNOWN; };
  d.edop = root(q[0][0]);
  d.ndop = root(q[1][1]);
  d.vdop = root(q[2][2]);
  d.tdop = root(q[3][3]);
  d.hdop = root(q[0][0] + q[1][1]);
  d.pdop = root(q[0][0] + q[1][1] + q[2][2]);
  d.gdop = root(q[0][0] + q[1][1] + q[2][2] + q[3][3]);
}

void update_show_DOPs() {
  NV_DATA_T& d = Nv_data;
  d.show_gdop = d.gdop;
  d.show_pdop = d.pdop;
  d.show_hdop = d.hdop;
  d.show_vdop = d.vdop;
  d.show_tdop = d.tdop;
}

// The ECEF inverse q_xyz (4 x 4) rotated into east, north, up.
void rotate_inverse_to_enu(const F32 q_xyz[4][4], const F32 enu[3][3], F32 q[4][4]) {
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      F32 s = 0.0F;
      for (int k = 0; k < 3; ++k)
        for (int l = 0; l < 3; ++l) s += enu[i][k] * q_xyz[k][l] * enu[j][l];
      q[i][j] = s;
    }
    F32 t = 0.0F;
    for (int k = 0; k < 3; ++k) t += enu[i][k] * q_xyz[k][3];
    q[i][3] = q[3][i] = t;
  }
  q[3][3] = q_xyz[3][3];
}

// Display DOP mask. 1 when passed.
bool check_show_DOP_mask(S16 show_sats) {
  const NV_DATA_T& d = Nv_data;
  switch (Dop_mask.dop_mask_mode) {
    case DOP_MASK_AUTO:
      if (show_sats == 3) return d.show_hdop <= Dop_mask.hdop_mask;
      if (show_sats >= 4) return d.show_pdop <= Dop_mask.pdop_mask;
      return true;
    case DOP_MASK_PDOP_ONLY:
      return d.show_pdop <= Dop_mask.pdop_mask;
    case DOP_MASK_HDOP_ONLY:
      return d.show_hdop <= Dop_mask.hdop_mask;
    case DOP_MASK_GDOP_ONLY:
      return d.show_gdop <= Dop_mask.gdop_mask;
    default:
      return true;
  }
}

void clear_channel_flags() { Nv_data.channel_meas_flags.fill(0); }

// --- Fault handling -------------------------------------------------------------------------

// 1 when the working position/velocity is a position-fix fault.
bool check_position_fix_fault(bool is_3D) {
  const NV_DATA_T& d = Nv_data;
  const F32 alt = d.tmp_lla.alt;
  const F32 v = std::sqrt(d.tmp_vel.vx * d.tmp_vel.vx + d.tmp_vel.vy * d.tmp_vel.vy + d.tmp_vel.vz * d.tmp_vel.vz);
  if (alt < ALT_FAULT_M) return true;
  if (v > FAULT_SPEED && alt > 18000.0F) return true;
  return d.has_fixed == 0 && is_3D && v > 60.0F;
}

void position_fix_fault_handler() {
  if (Hooks.drop_channel != nullptr) {
    for (S16 ch = 0; ch < NUM_HW_CHANNELS; ++ch) {
      const CHAN_T c = CH_find_reference(ch);
      if (CH_get_state(c) != CH_IDLE || RNG_get_sv(RNG_get_reference(ch)) != nullptr) Hooks.drop_channel(ch);
    }
  }
  EPH_clear_all();
  KWAAS_clear_all_geo_parameters();
  NV_DATA_T& d = Nv_data;
  d.has_fixed = 0;
  d.has_3D_fixed = 0;
  Nv_flags.Has_clock_bias = 0;
  KMF_reset();
  KMF_switch_dynamic_model(KMF_P_MODEL);
}

// A fault found on the working state: handled after a first fix or with a
// number of inputs other than 3. Returns true when there was a fault.
bool fault_check_and_handle(bool is_3D, S16 n_inputs) {
  if (!check_position_fix_fault(is_3D)) return false;
  if (Nv_data.has_fixed != 0 || n_inputs != 3) {
    position_fix_fault_handler();
    if (Hooks.position_fix_fault != nullptr) Hooks.position_fix_fault();
  }
  return true;
}

// --- Writing the fix ----------------------------------------------------------------------

void calc_heading_and_speed() {
  NV_DATA_T& d = Nv_data;
  enu_from_ecef(d.enu, d.vel, &d.vel_enu);
  const F32 h = std::sqrt(d.vel_enu.ve * d.vel_enu.ve + d.vel_enu.vn * d.vel_enu.vn);
  d.speed_vu = std::fabs(d.vel_enu.vu);
  if (h < NVMODEL_get_static_threshold()) {
    d.speed = 0.0F;
    return;
  }
  d.speed = h;
  d.course = std::fmod(std::atan2(d.vel_enu.ve, d.vel_enu.vn) * RAD_TO_DEG + 360.0F, 360.0F);
}

bool near_init_position(D64 limit_m) {
  if (Nv_flags.Has_stored_init_position == 0) return false;
  const POS_T& p = Nv_data.pos;
  const D64 dx = p.px - INIT_POS.px;
  const D64 dy = p.py - INIT_POS.py;
  const D64 dz = p.pz - INIT_POS.pz;
  return dx * dx + dy * dy + dz * dz < limit_m * limit_m;
}

void airborne_velocity_reversal(const VEL_T& old_v) {
  NV_DATA_T& d = Nv_data;
  const F32 dvx = d.vel.vx - old_v.vx;
  const F32 dvy = d.vel.vy - old_v.vy;
  const F32 dvz = d.vel.vz - old_v.vz;
  const F32 dv = std::sqrt(dvx * dvx + dvy * dvy + dvz * dvz);
  const F32 n_old = std::sqrt(old_v.vx * old_v.vx + old_v.vy * old_v.vy + old_v.vz * old_v.vz);
  const F32 n_new = std::sqrt(d.vel.vx * d.vel.vx + d.vel.vy * d.vel.vy + d.vel.vz * d.vel.vz);
  if (dv <= 4.9F || n_old <= 0.0F || n_new <= 0.0F) return;
  const F32 cosine = (old_v.vx * d.vel.vx + old_v.vy * d.vel.vy + old_v.vz * d.vel.vz) / (n_old * n_new);
  if (cosine < -0.95F && n_new < SPEED_2KMH) d.vel = VEL_T{0.0F, 0.0F, 0.0F};
}

// Clock, time, position and velocity of a 2-D or better fix from the working
// state (the shown speed is decided by the caller).
void apply_fix_states(S16 gtc_wn, D64 gtc_sec) {
  NV_DATA_T& d = Nv_data;
  d.cbias = d.tmp_cbias;
  d.cdrift = d.tmp_cdrift;
  d.ctsys_glo = d.tmp_ctsys_glo;
  d.cdtsys_glo = d.tmp_cdtsys_glo;
  wrap_time(gtc_wn, gtc_sec - d.cbias / C_LIGHT, &d.wn, &d.tow);
  d.last_fix_wn = d.wn;
  d.last_fix_tow = d.tow;
  Nv_flags.Has_clock_bias = 1;
  const VEL_T old_v = d.vel;
  d.pos = d.tmp_pos;
  d.vel = d.tmp_vel;
  if (NVMODEL_get_model() == AIRBORNE) airborne_velocity_reversal(old_v);
  d.acc = ACC_T{d.vel.vx - old_v.vx, d.vel.vy - old_v.vy, d.vel.vz - old_v.vz};
  COO_cartesian_to_geodetic(&d.pos, &d.lla);
  d.lat_deg = d.lla.lat * RAD_TO_DEG_D;
  d.lon_deg = d.lla.lon * RAD_TO_DEG_D;
  COO_calculate_enu_tm(static_cast<F32>(d.lla.lat), static_cast<F32>(d.lla.lon), d.enu);
  calc_heading_and_speed();
}

void navigation_platform_sanity_check() {
  NV_DATA_T& d = Nv_data;
  const F32 max_alt = NVMODEL_get_max_altitude();
  if (d.lla.alt > max_alt) {
    d.lla.alt = max_alt;
    COO_geodetic_to_cartesian(&d.lla, &d.pos);
  }
  bool changed = false;
  const F32 max_vu = NVMODEL_get_max_vertical_speed();
  if (std::fabs(d.vel_enu.vu) > max_vu) {
    d.vel_enu.vu = d.vel_enu.vu > 0.0F ? max_vu : -max_vu;
    changed = true;
  }
  const F32 max_s = NVMODEL_get_max_speed();
  if (d.speed > max_s) {
    const F32 k = max_s / d.speed;
    d.vel_enu.ve *= k;
    d.vel_enu.vn *= k;
    d.speed = max_s;
    changed = true;
  }
  if (changed) {
    const F32 in[3] = {d.vel_enu.ve, d.vel_enu.vn, d.vel_enu.vu};
    F32 out[3];
    ecef_from_enu(d.enu, in, out);
    d.vel = VEL_T{out[0], out[1], out[2]};
    d.speed_vu = std::fabs(d.vel_enu.vu);
  }
}

// EPE: HDOP x the range accuracy of the largest URA index among the used
// non-GLONASS inputs (0 without a valid index).
F32 cal_EPE(S16 n, const NV_ESTIN_T* list) {
  S16 worst = -1;
  for (S16 i = 0; i < n; ++i) {
    if (NVESTIN_get_gnss_type(list[i]) == GNSS_TYPE_GLONASS) continue;
    const S16 ch = NVESTIN_get_channel_id(list[i]);
    if (ch < 0 || ch >= NUM_HW_CHANNELS) continue;
    worst = std::max(worst, RNG_get_URA(RNG_get_reference(ch)));
  }
  if (worst < 0 || worst >= static_cast<S16>(URA_TABLE.size())) return 0.0F;
  return Nv_data.hdop * URA_TABLE[static_cast<std::size_t>(worst)];
}

// has_fixed, counters, EPE and the filter's PV switch of a 2-D or better fix.
void finish_fix(S16 n, const NV_ESTIN_T* list) {
  NV_DATA_T& d = Nv_data;
  navigation_platform_sanity_check();
  d.has_fixed = 1;
  if (d.fix_count < 0xFFFFFFFFU) ++d.fix_count;
  if (d.fix_mode == FIX_3D && d.fix_3D_count < 0xFFFFFFFFU) ++d.fix_3D_count;
  d.EPE = cal_EPE(n, list);
  const S16 model = NVMODEL_get_model();
  if (d.speed > SPEED_2KMH || ((model == AIRBORNE || model == BALLOON) && std::fabs(d.vel_enu.vu) > SPEED_2KMH))
    KMF_switch_dynamic_model(KMF_PV_MODEL);
}

void set_used_channels(S16 n, const NV_ESTIN_T* list, U08 bits) {
  for (S16 i = 0; i < n; ++i) {
    const S16 ch = NVESTIN_get_channel_id(list[i]);
    if (ch >= 0 && ch < NUM_HW_CHANNELS) Nv_data.channel_meas_flags[static_cast<std::size_t>(ch)] |= bits;
  }
}

S16 count_show_used(S16 n, const NV_ESTIN_T* list) {
  S16 k = 0;
  for (S16 i = 0; i < n; ++i) k += NVESTIN_has_large_error(list[i]) == 0 ? 1 : 0;
  return k;
}

void mark_sbas_channels() {
  if (Nv_flags.Sbas_status != 2) return;
  for (S16 ch = 0; ch < NUM_HW_CHANNELS; ++ch)
    if (RNG_get_gnss_type(RNG_get_reference(ch)) == GNSS_TYPE_SBAS)
      Nv_data.channel_meas_flags[static_cast<std::size_t>(ch)] |= NV_CH_SBAS_BROADCAST;
}

// --- First fix --------------------------------------------------------------------------------

struct FIRST_FIX_T {
  std::array<NV_ESTIN_T, NVESTIN_MAX> list;
  S16 n;
  S16 add_pseudo_sv;
  F32 inv[4][4];  // ECEF position/clock inverse of the last step
};

// Clock bias and start position of a first fix without them. 0 with fewer
// than 3 satellite positions.
bool first_fix_start_state(S16 n, RNG_T* rngs) {
  NV_DATA_T& d = Nv_data;
  D64 sum_pr = 0.0;
  S16 n_pr = 0;
  D64 sx = 0.0;
  D64 sy = 0.0;
  D64 sz = 0.0;
  S16 n_sv = 0;
  for (S16 i = 0; i < n; ++i) {
    D64 pr = 0.0;
    if (RNG_get_pseudo_range(rngs[i], &pr) && std::isfinite(pr)) {
      sum_pr += pr;
      ++n_pr;
    }
    POS_T sp{};
    if (RNG_get_sv_position_of_ttime(rngs[i], &sp, nullptr, nullptr) && finite_pos(sp)) {
      sx += sp.px;
      sy += sp.py;
      sz += sp.pz;
      ++n_sv;
    }
  }
  if (Nv_flags.Has_clock_bias == 0 && n_pr > 0) d.tmp_cbias = sum_pr / n_pr - FIRST_FIX_CBIAS_OFFSET;
  if (Nv_flags.Has_stored_init_position != 0) return true;
  if (n_sv < 3) return false;
  const D64 r = std::sqrt(sx * sx + sy * sy + sz * sz);
  if (!(r > 0.0) || !std::isfinite(r)) return false;
  // A point just off the Earth's centre toward the satellites: the altitude
  // row of a 2-D step needs a radius above 1 m to have a direction.
  d.tmp_pos = POS_T{START_RADIUS * sx / r, START_RADIUS * sy / r, START_RADIUS * sz / r};
  d.last_good_3D_alt = 0.0F;
  return true;
}

// One least-squares step of the first fix against the working state.
// Returns 1 with the state corrected, 0 on failure; *dpos2 the squared
// position correction (m^2).
S16 first_fix_least_square_process(FIRST_FIX_T* ff, D64* dpos2) {
  NV_DATA_T& d = Nv_data;
  // Two-system five-state solutions are not formed: only GPS-type inputs
  // exist in this kernel, so the four-state form always applies.
  std::array<F32[3], LSQ_MAX_ROWS> dc{};
  std::array<F32, LSQ_MAX_ROWS> w{};
  std::array<F32, LSQ_MAX_ROWS> d_pr{};
  std::array<F32, LSQ_MAX_ROWS> d_dr{};
  std::array<S08, LSQ_MAX_ROWS> second{};
  const S16 rows = NVESTIN_form_least_square_input_matrix(ff->n, ff->list.data(), ff->add_pseudo_sv, 0, &d.tmp_pos,
                                                          &d.tmp_vel, d.last_good_3D_alt, nullptr, dc.data(), w.data(),
                                                          d_pr.data(), d_dr.data(), second.data());
  if (rows < 4) return 0;
  const S16 mode = ff->add_pseudo_sv != 0 ? 0 : 1;
  F32 inv[4][4];
  if (!LSQ_form_invert(rows, dc.data(), mode, w.data(), inv)) return 0;
  std::array<F32[4], LSQ_MAX_ROWS> s{};
  LSQ_form_matrixes(rows, dc.data(), mode, w.data(), inv, s.data());
  F32 dx[4];
  F32 ddx[4];
  LSQ_process(rows, s.data(), d_pr.data(), dx);
  LSQ_process(rows, s.data(), d_dr.data(), ddx);
  for (F32 v : dx)
    if (!std::isfinite(v)) return 0;
  for (F32 v : ddx)
    if (!std::isfinite(v)) return 0;
  d.tmp_pos.px += dx[0];
  d.tmp_pos.py += dx[1];
  d.tmp_pos.pz += dx[2];
  d.tmp_cbias += dx[3];
  d.tmp_vel = VEL_T{ddx[0], ddx[1], ddx[2]};
  d.tmp_cdrift += ddx[3];
  std::copy(&inv[0][0], &inv[0][0] + 16, &ff->inv[0][0]);
  *dpos2 = static_cast<D64>(dx[0]) * dx[0] + static_cast<D64>(dx[1]) * dx[1] + static_cast<D64>(dx[2]) * dx[2];
  return 1;
}

// Iterates the first fix. 1 when converged.
S16 first_fix_iterations(S16 n, RNG_T* rngs, FIRST_FIX_T* ff) {
  NV_DATA_T& d = Nv_data;
  const bool need_3D =
      Nv_flags.Need_force_3D_first_fix_for_hot_start_application != 0 || Nv_flags.Enable_2D_first_fix == 0;
  for (S16 it = 0; it < FIRST_FIX_ITERATIONS; ++it) {
    d.tmp_vel = VEL_T{0.0F, 0.0F, 0.0F};
    invalidate_elevations(n, rngs);
    update_elevation_and_atmosphere(d.tmp_pos, d.tow);
    RNG_update_receiver_states(&d.tmp_pos, &d.tmp_vel, d.tmp_cbias, d.tmp_cdrift);
    (void)NVESTIN_update(n, rngs, d.tmp_cbias, d.tmp_cdrift, d.tmp_ctsys_glo, d.tmp_cdtsys_glo, &d.tmp_vel,
                         it == 0 ? 1 : 0, 0, &Elv_cnr_mask);
    ff->n = NVESTIN_get_no_error_inputs(ff->list.data());
    if (it == 0 && ff->n > 2 && Nv_flags.Has_stored_init_position != 0 && Hooks.first_fix_bad_meas != nullptr) {
      (void)Hooks.first_fix_bad_meas(ff->n, ff->list.data(), d.fix_3D_count);
      ff->n = NVESTIN_get_no_error_inputs(ff->list.data());
    }
    if (ff->n < 3 || (ff->n < 4 && need_3D)) return 0;
    ff->add_pseudo_sv =
        (NVMODEL_can_do_2D_fix() != 0 && (ff->n < 4 || Nv_force_add_pseudo_sv_at_first_fix != 0)) ? 1 : 0;
    D64 dpos2 = 0.0;
    if (!first_fix_least_square_process(ff, &dpos2)) return 0;
    const POS_T& p = d.tmp_pos;
    if (p.px * p.px + p.py * p.py + p.pz * p.pz > DIVERGED_POS2) return 0;
    if (dpos2 < 0.01) return 1;
  }
  return 0;
}

// First-fix DOP mask: before any fix HDOP <= 20 and TDOP <= 15, afterwards
// HDOP <= 30 and GDOP <= 50.
bool check_DOP_mask() {
  const NV_DATA_T& d = Nv_data;
  if (d.fix_count == 0) return d.hdop <= 20.0F && d.tdop <= 15.0F;
  return d.hdop <= 30.0F && d.gdop <= 50.0F;
}

void first_fix_show_speed(S16 nsat) {
  NV_DATA_T& d = Nv_data;
  if (d.speed < 3.0F) d.speed = 0.0F;
  d.show_speed = d.speed;
  if (d.speed == 0.0F || near_init_position(20.0) || nsat == 3 || (nsat == 4 && d.fix_count == 0)) d.show_speed = 0.0F;
}

void update_first_fix_navigate_states(S16 gtc_wn, D64 gtc_sec, FIRST_FIX_T* ff) {
  NV_DATA_T& d = Nv_data;
  COO_cartesian_to_geodetic(&d.tmp_pos, &d.tmp_lla);
  if (fault_check_and_handle(ff->add_pseudo_sv == 0, ff->n)) return;
  F32 enu[3][3];
  COO_calculate_enu_tm(static_cast<F32>(d.tmp_lla.lat), static_cast<F32>(d.tmp_lla.lon), enu);
  F32 q[4][4];
  rotate_inverse_to_enu(ff->inv, enu, q);
  update_DOPs(q);
  if (!check_DOP_mask()) {
    Nv_force_add_pseudo_sv_at_first_fix = 1;
    Nv_last_first_fix_fail_nmeas = ff->n;
    return;
  }
  d.fix_sats = ff->n;
  set_used_channels(ff->n, ff->list.data(), NV_CH_PR_USED | NV_CH_SHOW_USED);
  d.show_fix_sats = count_show_used(ff->n, ff->list.data());
  mark_sbas_channels();
  update_show_DOPs();
  if (!check_show_DOP_mask(d.show_fix_sats)) {
    NO_FIX_BY_DOP_MASK = 1;
    clear_channel_flags();
    return;
  }
  apply_fix_states(gtc_wn, gtc_sec);
  first_fix_show_speed(ff->n);
  d.lsq_add_pseudo_sv = static_cast<S08>(ff->add_pseudo_sv);
  d.fix_mode = ff->add_pseudo_sv != 0 ? FIX_2D : FIX_3D;
  if (d.fix_mode == FIX_3D) {
    d.has_3D_fixed = 1;
    if (d.vdop <= 10.0F) d.last_good_3D_alt = d.lla.alt;
  }
  d.navi_type = NAVI_LSQ;
  finish_fix(ff->n, ff->list.data());
  if (d.fix_count == 1U) SPMFILTER_log_reset_KMF_parameters(d.fix_mode == FIX_3D ? 3 : 2, d.pdop, 0, 0.0F);
}

void calculate_first_fix(S16 gtc_wn, D64 gtc_sec, S16 n, RNG_T* rngs) {
  NV_DATA_T& d = Nv_data;
  if (n > Nv_last_first_fix_fail_nmeas) Nv_force_add_pseudo_sv_at_first_fix = 0;
  NVESTIN_reset_all();
  NVESTIN_set_skip_first_updated_measurement(0);
  NVESTIN_set_CN0_threshold(0);
  if (Nv_flags.Has_stored_init_position != 0) {
    // A receiver at rest at the stored position: ranges, elevations and
    // atmosphere are known before the first fix.
    update_elevation_and_atmosphere(d.tmp_pos, d.tow);
    const VEL_T at_rest{0.0F, 0.0F, 0.0F};
    RNG_update_receiver_states(&d.tmp_pos, &at_rest, d.tmp_cbias, d.tmp_cdrift);
  }
  if (!first_fix_start_state(n, rngs)) return;
  static FIRST_FIX_T ff;
  ff = FIRST_FIX_T{};
  if (!first_fix_iterations(n, rngs, &ff) || !working_state_finite()) return;
  const VEL_T& v = d.tmp_vel;
  if (std::sqrt(v.vx * v.vx + v.vy * v.vy + v.vz * v.vz) >= FAULT_SPEED) return;
  d.use_PR_meas_fix = 1;
  update_first_fix_navigate_states(gtc_wn, gtc_sec, &ff);
}

// --- Counters, prediction epochs, body-fixed frame filter ----------------------------------

void update_nv_counters_and_flags() {
  NV_DATA_T& d = Nv_data;
  const bool real = d.fix_mode >= FIX_2D;
  if (d.speed >= 5.0F) count_up(d.total_move_count);
  if (KMF_is_P_mode() != 0)
    d.move_count = 0;
  else if (real && d.speed >= SPEED_2KMH)
    count_up(d.move_count);
  if (real)
    d.cont_no_fix_count = 0;
  else
    count_up(d.cont_no_fix_count);
  d.last_cont_real_fix_count = d.cont_real_fix_count;
  if (real)
    count_up(d.cont_real_fix_count);
  else
    d.cont_real_fix_count = 0;
}

void update_predict_navigate_states(D64 dt) {
  NV_DATA_T& d = Nv_data;
  if (d.has_fixed == 0 || d.last_fix_mode == FIX_NONE || !(d.last_fix_mode < FIX_2D || d.last_cont_real_fix_count > 4))
    return;
  if (KMF_is_P_mode() == 0 && d.speed > SPEED_10KMH && d.speed <= MAX_PREDICT_SPEED && dt > 0.0 && dt < 1000.0) {
    d.pos.px += d.vel.vx * dt;
    d.pos.py += d.vel.vy * dt;
    d.pos.pz += d.vel.vz * dt;
    COO_cartesian_to_geodetic(&d.pos, &d.lla);
    d.lat_deg = d.lla.lat * RAD_TO_DEG_D;
    d.lon_deg = d.lla.lon * RAD_TO_DEG_D;
  }
  d.fix_mode = FIX_PREDICTION;
}

void check_to_turn_on_off_body_fix_frame_filter() {
  const S16 model = NVMODEL_get_model();
  if (model != NMODEL_DEFAULT && model != CAR) return;
  NV_DATA_T& d = Nv_data;
  const S32 r = std::max<S32>(1, SETTINGS_get_n_hz_position_rate());
  if (d.body_fixed_frame_filter_enabled != 0) {
    d.cont_has_speed_count_for_bff_filter = 0;
    if (d.fix_mode > FIX_PREDICTION && d.speed < 1.0F) {
      if (d.cont_has_no_speed_count_for_bff_filter < static_cast<S16>(COUNT_LIMIT))
        ++d.cont_has_no_speed_count_for_bff_filter;
    } else {
      d.cont_has_no_speed_count_for_bff_filter = 0;
    }
    if (d.cont_has_no_speed_count_for_bff_filter >= 180 * r) d.body_fixed_frame_filter_enabled = 0;
    return;
  }
  d.cont_has_no_speed_count_for_bff_filter = 0;
  if (d.fix_sats > 4 && d.speed > 5.0F) {
    if (d.cont_has_speed_count_for_bff_filter < static_cast<S16>(COUNT_LIMIT)) ++d.cont_has_speed_count_for_bff_filter;
  } else {
    d.cont_has_speed_count_for_bff_filter = 0;
  }
  if (d.cont_has_speed_count_for_bff_filter >= 5 * r) d.body_fixed_frame_filter_enabled = 1;
}

void start_epoch() {
  NV_DATA_T& d = Nv_data;
  SETTINGS_get_elv_cnr_mask(&Elv_cnr_mask);
  SETTINGS_get_dop_mask(&Dop_mask);
  d.last_fix_mode = d.fix_mode;
  d.fix_mode = FIX_NONE;
  d.fix_sats = 0;
  d.show_fix_sats = 0;
  d.vel_use_good_carrier_meas = 0;
  d.pos_use_may_convergence_meas = 0;
  d.kmf_add_pseudo_sv = 0;
  d.lsq_add_pseudo_sv = 0;
  d.use_PR_meas_fix = 0;
  d.has_residual_sigma = 0;
  d.navi_type = NAVI_NONE;
  Nv_flags.Use_dgps_correction = 0;
  clear_channel_flags();
  d.has_error_statistics = 0;
}

}  // namespace

// --- Module-internal access (kernel/src/navigate_record.h, navigate_internal.h) -----------

NV_DATA_T& NV_record() { return Nv_data; }
NV_FLAGS_T& NV_flag_record() { return Nv_flags; }
S16 NV_no_fix_by_dop_mask_flag() { return NO_FIX_BY_DOP_MASK; }
S16 NV_sg_signal_flag() { return NV_is_SG_signal; }
const DOP_MASK_T& NVI_dop_mask() { return Dop_mask; }
const ELV_CNR_MASK_T& NVI_elv_cnr_mask() { return Elv_cnr_mask; }
S16 NVI_least_square_only() { return Nav_fix_least_square; }
NV_BAD_MEAS_CHECK_CALLBACK_T NVI_bad_meas_check() { return Hooks.bad_meas; }
NV_MULTIPATH_CALLBACK_T NVI_multipath() { return Hooks.multipath; }
bool NVI_fault_check_and_handle(bool is_3D, S16 n_inputs) { return fault_check_and_handle(is_3D, n_inputs); }
void NVI_update_DOPs(const F32 (*q)[4]) { update_DOPs(q); }
void NVI_update_show_DOPs() { update_show_DOPs(); }
bool NVI_check_show_DOP_mask(S16 show_sats) { return check_show_DOP_mask(show_sats); }
void NVI_set_no_fix_by_dop_mask() { NO_FIX_BY_DOP_MASK = 1; }
void NVI_clear_channel_flags() { clear_channel_flags(); }
void NVI_set_used_channels(S16 n, const NV_ESTIN_T* list, U08 bits) { set_used_channels(n, list, bits); }
S16 NVI_count_show_used(S16 n, const NV_ESTIN_T* list) { return count_show_used(n, list); }
void NVI_mark_sbas_channels() { mark_sbas_channels(); }
void NVI_apply_fix_states(S16 gtc_wn, D64 gtc_sec) { apply_fix_states(gtc_wn, gtc_sec); }
bool NVI_near_init_position(D64 limit_m) { return near_init_position(limit_m); }
void NVI_finish_fix(S16 n, const NV_ESTIN_T* list) { finish_fix(n, list); }
bool NVI_working_state_finite() { return working_state_finite(); }

// --- Life cycle and the epoch -------------------------------------------------------------

void NV_init() {
  Nv_data = NV_DATA_T{};
  NV_DATA_T& d = Nv_data;
  d.wn = 1381;
  d.tow = 302400.0;
  d.ctsys_glo = -76.6;
  d.use_PR_meas_fix = 1;
  d.last_gtc_wn = d.wn;
  Nv_flags = NV_FLAGS_T{};
  Nv_flags.Enable_2D_first_fix = 1;
  Nv_flags.Enable_2D_fix = 1;
  S16 at_first = 1;
  S16 after_first = 1;
  SETTINGS_get_2d_navigation_mask(&at_first, &after_first);
  Nv_flags.Enable_2D_first_fix = at_first != 0 ? 1 : 0;
  Nv_flags.Enable_2D_fix = after_first != 0 ? 1 : 0;
  Nv_meas_update_period = 1.0F;
  Compensate_gtc_input_dt = 0;
  Nv_force_add_pseudo_sv_at_first_fix = 0;
  Nv_last_first_fix_fail_nmeas = 0;
  INIT_POS = POS_T{};
  SETTINGS_get_elv_cnr_mask(&Elv_cnr_mask);
  SETTINGS_get_dop_mask(&Dop_mask);
  NO_FIX_BY_DOP_MASK = 0;
  KMF_reset();
  SPMFILTER_init();
}

S16 NV_process(S16 gtc_wn, D64 gtc_sec, S16 n, RNG_T* range_meas_in, D64 gtc_meas_dt, D64 gtc_shift_dt) {
  if (n < 0 || n > NUM_HW_CHANNELS || range_meas_in == nullptr) n = 0;
  for (S16 i = 0; i < n; ++i)
    if (range_meas_in[i] == nullptr) n = 0;
  if (!std::isfinite(gtc_sec) || gtc_sec < 0.0 || gtc_sec >= WEEK_S) return 1;
  if (!std::isfinite(gtc_meas_dt)) gtc_meas_dt = 0.0;
  if (!std::isfinite(gtc_shift_dt)) gtc_shift_dt = 0.0;
  NV_DATA_T& d = Nv_data;
  start_epoch();
  const D64 dt = calibrate_clock(gtc_wn, gtc_sec, gtc_meas_dt, gtc_shift_dt);
  if (d.last_fix_mode >= FIX_2D) d.has_force_drop_fix_once_by_acc_carrier_slots_check = 0;
  Nv_meas_update_period = static_cast<F32>(dt);
  predict_position(dt);
  GSV_set_all_sv_unmasked();
  NO_FIX_BY_DOP_MASK = 0;
  refresh_elevations(gtc_wn, gtc_sec, n, range_meas_in);
  if (d.has_fixed != 0 && Nav_fix_least_square == 0) {
    RNG_update_receiver_states_for_elevation(&d.pos, d.enu);
    RNG_calculate_atmosphere_delay(static_cast<S32>(std::lround(d.tow)), &d.lla);
    NVI_calculate_position_fix(n, range_meas_in, gtc_wn, gtc_sec);
  } else {
    calculate_first_fix(gtc_wn, gtc_sec, n, range_meas_in);
  }
  d.last_gtc_sec = gtc_sec;
  d.last_gtc_wn = gtc_wn;
  update_nv_counters_and_flags();
  if (d.cont_no_fix_count >= 1 && d.cont_no_fix_count <= 3) update_predict_navigate_states(dt);
  SPMFILTER_update_navigation_states(d.fix_count, d.fix_mode, d.speed);
  check_to_turn_on_off_body_fix_frame_filter();
  return 1;
}

void NV_set_least_square_only(S16 on) { Nav_fix_least_square = on != 0 ? 1 : 0; }

// --- Start-up input -----------------------------------------------------------------------

void NV_restore_data(S16 wn, S32 tow, const LLA_T* lla_p, F32 cdrift) {
  if (std::isfinite(cdrift)) {
    Nv_data.cdrift = cdrift;
    Nv_data.tmp_cdrift = cdrift;
  }
  NV_restore_time_pos_data_only(wn, tow, lla_p);
}

void NV_restore_time_pos_data_only(S16 wn, S32 tow, const LLA_T* lla_p) {
  NV_DATA_T& d = Nv_data;
  d.wn = wn;
  d.tow = (tow >= 0 && tow < SECONDS_PER_WEEK) ? static_cast<D64>(tow) : 0.0;
  Nv_flags.Has_stored_init_time = 1;
  if (lla_p == nullptr || (lla_p->lat == 0.0 && lla_p->lon == 0.0 && lla_p->alt == 0.0F) ||
      !std::isfinite(lla_p->lat) || !std::isfinite(lla_p->lon) || !std::isfinite(lla_p->alt) ||
      std::fabs(lla_p->lat) > 1.5707963267948966 || std::fabs(lla_p->lon) > 6.283185307179586 ||
      std::fabs(lla_p->alt) > 1.0e5F)
    return;
  d.lla = *lla_p;
  d.tmp_lla = *lla_p;
  COO_geodetic_to_cartesian(lla_p, &d.pos);
  d.tmp_pos = d.pos;
  INIT_POS = d.pos;
  d.lat_deg = d.lla.lat * RAD_TO_DEG_D;
  d.lon_deg = d.lla.lon * RAD_TO_DEG_D;
  COO_calculate_enu_tm(static_cast<F32>(d.lla.lat), static_cast<F32>(d.lla.lon), d.enu);
  d.last_good_3D_alt = d.lla.alt;
  Nv_flags.Has_stored_init_position = 1;
}

void NV_set_force_3D_first_fix_for_hot_start_application() {
  Nv_flags.Need_force_3D_first_fix_for_hot_start_application = 1;
}

void NV_set_clock_bias_drift(D64 cbias, F32 cdrift) {
  if (!std::isfinite(cbias) || !std::isfinite(cdrift)) return;
  NV_DATA_T& d = Nv_data;
  d.cbias = cbias;
  d.cdrift = cdrift;
  d.tmp_cbias = cbias;
  d.tmp_cdrift = cdrift;
  wrap_time(d.last_gtc_wn, d.last_gtc_sec - cbias / C_LIGHT, &d.wn, &d.tow);
  Nv_flags.Has_clock_bias = 1;
  if (d.has_fixed != 0 && d.fix_mode >= FIX_2D) KMF_reset();
}

void NV_set_2D_fix_enable(S16 at_first_fix, S16 after_first_fix) {
  Nv_flags.Enable_2D_first_fix = at_first_fix != 0 ? 1 : 0;
  Nv_flags.Enable_2D_fix = after_first_fix != 0 ? 1 : 0;
}

// --- Hooks --------------------------------------------------------------------------------

void NV_install_callback_drop_channel(NV_DROP_CHANNEL_CALLBACK_T func) { Hooks.drop_channel = func; }
void NV_install_callback_position_fix_fault(NV_POSITION_FIX_FAULT_CALLBACK_T func) { Hooks.position_fix_fault = func; }
void NV_install_first_fix_bad_meas_check_callback(NV_BAD_MEAS_CHECK_CALLBACK_T func) {
  Hooks.first_fix_bad_meas = func;
}
void NV_install_bad_meas_check_callback(NV_BAD_MEAS_CHECK_CALLBACK_T func) { Hooks.bad_meas = func; }
void NV_install_multipath_mitigation_callback(NV_MULTIPATH_CALLBACK_T func) { Hooks.multipath = func; }
void NV_install_callback_update_wn_for_rom_agps(NV_UPDATE_WN_CALLBACK_T func) { Hooks.update_wn = func; }
void NV_set_sbas_status_tick(S16 status) { Nv_flags.Sbas_status = status; }
void NV_set_sbas_limitation_tick(S16 on) { Sbas_limitation = on; }
void NV_set_qzss_limitation_tick(S16 on) { Qzss_limitation = on; }
void NV_set_rom_agps_command(U16 wn) {
  if (Hooks.update_wn != nullptr) Hooks.update_wn(wn);
}
S16 NV_if_SG_signal() { return NV_is_SG_signal; }
void NV_set_if_SG_signal(S16 on) { NV_is_SG_signal = on != 0 ? 1 : 0; }
