// Bit-count prediction before frame sync. See bitcount_predictor.h.
//
// Model. A channel's code received at receiver time gtc_sec (receiver clock,
// s of week) left the satellite at GPS time gtc_sec - cb - tr / c, where cb is
// the receiver clock bias (s) and tr the range (m) from the satellite at
// transmission to the receiver. The satellite stamps it with its own time
// t_sv = t_gps + dt_sv (clock polynomial - T_GD + relativistic term), and
// t_sv = n x 20 ms + sub_bit, with n the absolute bit count of the week and
// sub_bit the code's position within its data bit (from tracking). So
//   n = round((gtc_sec - cb + dt_sv - tr / c - sub_bit) / 0.02)
// and, turned round, a channel with a known bit count gives its clock-bias
// time cb = gtc_sec - (t_sv - dt_sv) - tr / c. Rounding to whole bits needs cb
// and the position good to a few ms (1 ms of clock = 300 km); the checks
// below keep the prediction only while every channel agrees within 1 ms.
#include "kernel/src/bitcount_predictor.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "kernel/src/channel.h"
#include "kernel/src/correction.h"
#include "kernel/src/range_lib.h"
#include "kernel/src/satellite.h"

namespace {

constexpr D64 C_MPS = RNGL_LIGHT_SPEED;
constexpr D64 BIT_S = 0.02;  // GPS L1 C/A data bit, s
constexpr D64 WEEK_S = 604800.0;
constexpr D64 HALF_WEEK_S = 302400.0;
constexpr D64 MAX_STORED_AGE_S = 3600.0;   // a stored time older than this predicts nothing
constexpr D64 MAX_STORED_AHEAD_S = 100.0;  // ... nor one this far in the future
constexpr D64 MAX_SPREAD_S = 1.0e-3;       // clock-bias times of one epoch agree within this
constexpr D64 MAX_CB_OFFSET_S = 1.2e-3;    // after a fix: predicted clock-bias time to the navigation's
constexpr U16 GPS_BPS = 50;

// Rough signal travel time by satellite kind, s.
constexpr F32 TRAVEL_GPS_S = 0.075F;
constexpr F32 TRAVEL_QZSS_S = 0.116F;
constexpr F32 TRAVEL_GLONASS_S = 0.072F;
constexpr F32 TRAVEL_BD_MEO_S = 0.081F;       // BeiDou svid above 10
constexpr F32 TRAVEL_BD_GEO_IGSO_S = 0.129F;  // BeiDou svid 1..10
constexpr S16 BD_GEO_IGSO_MAX_SVID = 10;

struct BCPREDICTOR_T {
  S32 predict_bitcnt0;      // absolute bit count of the week minus the track bit count
  U08 track_issue;          // the channel's tracking issue id when predicted
  S08 has_predict_bitcnt0;  // 1: predict_bitcnt0 holds
  U16 bps;                  // bits per second (50)
};

// Working record of one channel in one epoch.
struct PREDICT_OBS_DATA_T {
  S16 ch_id;
  D64 tr;              // range corrected to the transmit time, m
  D64 predict_cb;      // clock-bias time, s
  F32 dc[3];           // direction cosines, receiver - satellite
  F32 vrel;            // range rate, m/s
  F32 dt_sv;           // satellite clock correction incl. group delay and relativistic term, s
  S32 predict_bitcnt;  // predicted absolute bit count of the week
};

struct ObsSet {
  std::array<PREDICT_OBS_DATA_T, NUM_HW_CHANNELS> d;
  S16 n;
};

struct Spread {
  D64 max, min, avg, diff;  // s
};

std::array<BCPREDICTOR_T, NUM_HW_CHANNELS> Predictor{};
std::array<S32, BCP_N_DISABLE_REASONS> BCP_disable_event{};
S16 Can_do_bc_predict = 0;
S16 VBAT_has_stored_time = 0;
S16 VBAT_stored_wn = 0;
S32 VBAT_stored_sec = 0;
ObsSet Real_set{};     // frame-synced channels of the epoch
ObsSet Predict_set{};  // channels predicted in the epoch

bool ch_ok(S16 ch_id) { return ch_id >= 0 && ch_id < NUM_HW_CHANNELS; }

void clear_predictions() {
  for (BCPREDICTOR_T& p : Predictor) p = BCPREDICTOR_T{0, 0, 0, GPS_BPS};
}

F32 rough_travel_time(U16 gnss_type, S16 svid) {
  if (gnss_type == GNSS_TYPE_GLONASS) return TRAVEL_GLONASS_S;
  if (gnss_type == GNSS_TYPE_BD2) return svid > BD_GEO_IGSO_MAX_SVID ? TRAVEL_BD_MEO_S : TRAVEL_BD_GEO_IGSO_S;
  if (gnss_type == GNSS_TYPE_QZSS || (svid >= QZSS_ID_MIN && svid <= QZSS_ID_MAX)) return TRAVEL_QZSS_S;
  return TRAVEL_GPS_S;
}

S32 wrap_bits(S64 bits) {
  bits %= BCP_GPS_BITS_PER_WEEK;
  if (bits < 0) bits += BCP_GPS_BITS_PER_WEEK;
  return static_cast<S32>(bits);
}

// Seconds from the stored time to (wn, sec).
D64 stored_time_age(S16 wn, D64 sec) {
  return static_cast<D64>(wn - VBAT_stored_wn) * WEEK_S + sec - static_cast<D64>(VBAT_stored_sec);
}

bool stored_time_fresh(S16 wn, D64 sec) {
  return VBAT_has_stored_time != 0 && std::fabs(stored_time_age(wn, sec)) <= MAX_STORED_AGE_S;
}

// A channel that may take part: tracking, locked, bound to a satellite, not Galileo.
bool candidate(CHAN_T ch) {
  return CH_is_tracking(ch) && CH_get_gnss_type(ch) != GNSS_TYPE_GALILEO && !CH_is_unlock(ch) &&
         CH_get_sv(ch) != nullptr;
}

// Observation data of channel ch's satellite at its transmit time t (s of
// week wn). With travel_s > 0 the time t is a rough transmit time (receive
// time - travel_s): the range is carried along the range rate to the time the
// signal really left, t + (travel_s - rho / c). false without a healthy
// satellite, a precise orbit there, or a finite result.
bool observation_data(CHAN_T ch, S16 wn, D64 t, D64 travel_s, const POS_T* rcv, PREDICT_OBS_DATA_T* o) {
  const SV_T sv = CH_get_sv(ch);
  if (!SV_is_healthy(sv)) return false;
  POS_T p{};
  VEL_T v{};
  if (!SV_precise(sv, wn, t, &p, &v, nullptr)) return false;
  const D64 dx = rcv->px - p.px;
  const D64 dy = rcv->py - p.py;
  const D64 dz = rcv->pz - p.pz;
  const D64 rho = std::sqrt(dx * dx + dy * dy + dz * dz) + (p.px * rcv->py - p.py * rcv->px) * RNGL_EARTH_ROTATION_BY_C;
  if (!(rho > 0.0)) return false;
  o->dc[0] = static_cast<F32>(dx / rho);
  o->dc[1] = static_cast<F32>(dy / rho);
  o->dc[2] = static_cast<F32>(dz / rho);
  o->vrel = -(v.vx * o->dc[0] + v.vy * o->dc[1] + v.vz * o->dc[2]);
  o->dt_sv = 0.0F;
  const U16 type = SV_get_type(sv);
  if (type == GNSS_TYPE_GPS || type == GNSS_TYPE_BD2) {
    F32 dt = 0.0F;
    F32 ddt = 0.0F;
    COR_clock_correction_polynomials(sv, wn, t, &dt, &ddt);
    o->dt_sv = dt - COR_group_delay(sv) + COR_relativistic_effect(&p, &v);
  }
  o->tr = travel_s > 0.0 ? rho + (travel_s - rho / C_MPS) * static_cast<D64>(o->vrel) : rho;
  o->ch_id = CH_get_id(ch);
  return std::isfinite(o->tr) && std::isfinite(o->dt_sv) && std::isfinite(o->vrel);
}

// Clock-bias times of the frame-synced channels into Real_set.
void calculate_real_bitcount_observation_data(S16 wn, D64 gtc_sec, const POS_T* rcv) {
  Real_set.n = 0;
  for (S16 i = 0; i < NUM_HW_CHANNELS; ++i) {
    const CHAN_T ch = CH_find_reference(i);
    D64 tt = 0.0;
    if (!candidate(ch) || !CH_has_real_frame_sync(ch) || !CH_get_transmit_time(ch, &tt)) continue;
    S16 sv_wn = wn;
    D64 t_rcv_week = tt;  // the transmit time counted in the receiver's week
    if (tt - gtc_sec > HALF_WEEK_S) {
      sv_wn = static_cast<S16>(wn - 1);
      t_rcv_week -= WEEK_S;
    } else if (tt - gtc_sec < -HALF_WEEK_S) {
      sv_wn = static_cast<S16>(wn + 1);
      t_rcv_week += WEEK_S;
    }
    PREDICT_OBS_DATA_T& o = Real_set.d[static_cast<std::size_t>(Real_set.n)];
    if (!observation_data(ch, sv_wn, tt, 0.0, rcv, &o)) continue;
    o.predict_cb = gtc_sec - (t_rcv_week - o.dt_sv) - o.tr / C_MPS;
    o.predict_bitcnt = 0;
    ++Real_set.n;
  }
}

// Predicted bit counts of the channels without frame sync into Predict_set,
// with clock-bias time cb_t (s).
void calculate_predict_bitcount_observation_data(bool before_first_fix, S16 wn, D64 gtc_sec, const POS_T* rcv,
                                                 D64 cb_t) {
  Predict_set.n = 0;
  if (before_first_fix && !stored_time_fresh(wn, gtc_sec)) return;
  for (S16 i = 0; i < NUM_HW_CHANNELS; ++i) {
    const CHAN_T ch = CH_find_reference(i);
    D64 sub_bit = 0.0;
    if (!candidate(ch) || CH_has_real_frame_sync(ch) || !CH_get_sub_bit(ch, &sub_bit)) continue;
    const D64 travel = rough_travel_time(CH_get_gnss_type(ch), CH_get_svid(ch));
    S16 t_wn = wn;
    D64 t = gtc_sec - travel - cb_t;
    if (t < 0.0) {
      t += WEEK_S;
      t_wn = static_cast<S16>(wn - 1);
    } else if (t >= WEEK_S) {
      t -= WEEK_S;
      t_wn = static_cast<S16>(wn + 1);
    }
    PREDICT_OBS_DATA_T& o = Predict_set.d[static_cast<std::size_t>(Predict_set.n)];
    if (!observation_data(ch, t_wn, t, travel, rcv, &o)) continue;
    const D64 sv_time = gtc_sec - cb_t + o.dt_sv - o.tr / C_MPS;  // the satellite's time stamp, receiver's week
    const D64 bits = (sv_time - sub_bit) / BIT_S;
    if (!std::isfinite(bits) || std::fabs(bits) > 2.0 * BCP_GPS_BITS_PER_WEEK) continue;
    const S64 n = std::llround(bits);  // halves away from zero
    o.predict_cb = gtc_sec - (static_cast<D64>(n) * BIT_S + sub_bit) + o.dt_sv - o.tr / C_MPS;
    o.predict_bitcnt = wrap_bits(n);
    ++Predict_set.n;
  }
}

Spread find_cb_max_min_avg_diff(const ObsSet& s) {
  Spread r{-1.0e30, 1.0e30, 0.0, 0.0};
  if (s.n <= 0) return Spread{0.0, 0.0, 0.0, 0.0};
  for (S16 k = 0; k < s.n; ++k) {
    const D64 cb = s.d[static_cast<std::size_t>(k)].predict_cb;
    r.max = std::max(r.max, cb);
    r.min = std::min(r.min, cb);
    r.avg += cb;
  }
  r.avg /= static_cast<D64>(s.n);
  r.diff = r.max - r.min;
  return r;
}

// The epoch's predictions replace the stored ones.
void store_predictions() {
  clear_predictions();
  for (S16 k = 0; k < Predict_set.n; ++k) {
    const PREDICT_OBS_DATA_T& o = Predict_set.d[static_cast<std::size_t>(k)];
    if (!ch_ok(o.ch_id)) continue;
    const CHAN_T ch = CH_find_reference(o.ch_id);
    BCPREDICTOR_T& p = Predictor[static_cast<std::size_t>(o.ch_id)];
    p.predict_bitcnt0 = wrap_bits(static_cast<S64>(o.predict_bitcnt) - CH_get_isr_bitcnt(ch));
    p.track_issue = CH_get_issue_id(ch);
    p.has_predict_bitcnt0 = 1;
  }
}

}  // namespace

void BCP_init(S16 has_stored_time, S16 wn, S32 sec) {
  BCP_disable_event.fill(0);
  VBAT_has_stored_time = 0;
  VBAT_stored_wn = 0;
  VBAT_stored_sec = 0;
  Real_set.n = 0;
  Predict_set.n = 0;
  BCP_disable_prediction(BCP_DISABLE_BY_INIT);
  if (has_stored_time) {
    BCP_update_stored_time(wn, sec);
    BCP_enable_prediction();
  }
}

void BCP_enable_prediction() { Can_do_bc_predict = 1; }

void BCP_disable_prediction(S16 reason) {
  Can_do_bc_predict = 0;
  clear_predictions();
  if (reason >= 0 && reason < BCP_N_DISABLE_REASONS) ++BCP_disable_event[static_cast<std::size_t>(reason)];
}

S16 BCP_is_prediction_enabled() { return Can_do_bc_predict; }

void BCP_update_stored_time(S16 wn, S32 sec) {
  VBAT_has_stored_time = 1;
  VBAT_stored_wn = wn;
  VBAT_stored_sec = sec;
}

S16 BCP_has_predict_bitcnt0(S16 ch_id) {
  if (!ch_ok(ch_id) || !Can_do_bc_predict) return 0;
  return Predictor[static_cast<std::size_t>(ch_id)].has_predict_bitcnt0 != 0 ? 1 : 0;
}

S16 BCP_get_predict_bitcnt0(S16 ch_id, S32* predict_bitcnt0_p) {
  if (!BCP_has_predict_bitcnt0(ch_id) || predict_bitcnt0_p == nullptr) return 0;
  *predict_bitcnt0_p = Predictor[static_cast<std::size_t>(ch_id)].predict_bitcnt0;
  return 1;
}

U08 BCP_get_predict_issue_id(S16 ch_id) {
  if (!BCP_has_predict_bitcnt0(ch_id)) return 0;
  return Predictor[static_cast<std::size_t>(ch_id)].track_issue;
}

S16 BCP_convert_track_bitcnt_to_abs_bitcnt(S16 ch_id, S32 track, S32* abs_p) {
  if (!BCP_has_predict_bitcnt0(ch_id) || abs_p == nullptr) return 0;
  *abs_p = wrap_bits(static_cast<S64>(track) + Predictor[static_cast<std::size_t>(ch_id)].predict_bitcnt0);
  return 1;
}

void BCP_process_before_first_fix(S16 gtc_wn, D64 gtc_sec, const POS_T* rcv, D64 predict_cb_m) {
  if (!Can_do_bc_predict || rcv == nullptr || !std::isfinite(gtc_sec) || !std::isfinite(predict_cb_m)) return;
  const D64 age = stored_time_age(gtc_wn, gtc_sec);
  if (!VBAT_has_stored_time || age > MAX_STORED_AGE_S || age < -MAX_STORED_AHEAD_S) {
    BCP_disable_prediction(BCP_DISABLE_BY_BEFORE_1ST_FIX_TIME_OUT);
    return;
  }
  D64 cb_t = predict_cb_m / C_MPS;
  calculate_real_bitcount_observation_data(gtc_wn, gtc_sec, rcv);
  const Spread real = find_cb_max_min_avg_diff(Real_set);
  if (Real_set.n > 0) {
    if (real.diff >= MAX_SPREAD_S) {
      BCP_disable_prediction(BCP_DISABLE_BY_BEFORE_1ST_FIX_REAL_FS_CHECK);
      return;
    }
    cb_t = real.avg;
  }
  calculate_predict_bitcount_observation_data(true, gtc_wn, gtc_sec, rcv, cb_t);
  if (Real_set.n > 0 && Predict_set.n > 0) {
    const Spread pred = find_cb_max_min_avg_diff(Predict_set);
    if (pred.diff >= MAX_SPREAD_S || pred.max - real.min >= MAX_SPREAD_S || real.max - pred.min >= MAX_SPREAD_S) {
      BCP_disable_prediction(BCP_DISABLE_BY_BEFORE_1ST_FIX_REAL_FS_AND_PREDICT_FS_CHECK);
      return;
    }
  }
  store_predictions();
}

void BCP_process_normal(S16 gtc_wn, D64 gtc_sec, const POS_T* rcv, D64 cbias_m, D64* cbias_diff_p) {
  if (cbias_diff_p != nullptr) *cbias_diff_p = 0.0;
  if (!Can_do_bc_predict || rcv == nullptr || !std::isfinite(gtc_sec) || !std::isfinite(cbias_m)) return;
  // A real frame sync of the predicted tracking issue confirms or refutes the prediction.
  for (S16 i = 0; i < NUM_HW_CHANNELS; ++i) {
    BCPREDICTOR_T& p = Predictor[static_cast<std::size_t>(i)];
    const CHAN_T ch = CH_find_reference(i);
    S32 bitcnt0 = 0;
    if (!p.has_predict_bitcnt0 || CH_get_issue_id(ch) != p.track_issue || !CH_get_bitcnt0(ch, &bitcnt0)) continue;
    if (wrap_bits(bitcnt0) != p.predict_bitcnt0) {
      BCP_disable_prediction(BCP_DISABLE_BY_AFTER_1ST_FIX_REAL_FS_UPDATE_CHECK);
      return;
    }
    p.has_predict_bitcnt0 = 0;
  }
  const D64 cb_t = cbias_m / C_MPS;
  calculate_predict_bitcount_observation_data(false, gtc_wn, gtc_sec, rcv, cb_t);
  if (Predict_set.n > 0) {
    const Spread pred = find_cb_max_min_avg_diff(Predict_set);
    if (std::fabs(pred.max - cb_t) > MAX_CB_OFFSET_S || std::fabs(pred.min - cb_t) > MAX_CB_OFFSET_S) {
      BCP_disable_prediction(BCP_DISABLE_BY_AFTER_1ST_FIX_PREDICT_CB_CHECK);
      return;
    }
  }
  store_predictions();
}

void BCP_get_disable_prediction_event_flag(S32* counts) {
  if (counts == nullptr) return;
  std::copy(BCP_disable_event.begin(), BCP_disable_event.end(), counts);
}
