// Estimation inputs of the fix: pre-fit residuals per channel.
#include "kernel/src/nav_estimation_inputs.h"

#include <array>
#include <cmath>
#include <cstddef>

#include "kernel/src/channel.h"
#include "kernel/src/coordinate.h"
#include "kernel/src/range.h"
#include "kernel/src/satellite.h"
#include "kernel/src/settings.h"

struct NV_ESTIN_S {
  D64 pr_diff;           // m
  D64 dr_diff;           // m/s
  D64 pr_diff_smoothed;  // m
  D64 dr_diff_static;    // m/s
  D64 dr_diff_good;      // m/s, from the common-slot range rate
  F32 w;
  F32 dc[3];
  F32 static_vrel;  // m/s
  F32 dr;           // m/s
  F32 dr_change_rate;
  S32 static_dopp_freq;  // Hz
  U16 flags;
  U16 gnss_type;
  S16 ch_id;
  S16 sv_id;
  S16 cn0;
  S16 has_data;
  S16 has_carrier_smoothed_pr;
  S16 has_good_carrier;
  S16 use_smoothed_pr;
  S16 has_dr_change_rate;
  std::array<F32, 4> pr_diff_buf;
  S16 buf_count;
  S16 buf_next;
  U08 bs_mode;
  S16 steady_cn0_count;  // epochs of steady C/N0 of the channel
  S16 dc_at_enu;         // 1: dc rotated into east, north, up
  F32 dr_nco;            // m/s, range rate from the NCO setting
  F32 dr_good;           // m/s, range rate over the common carrier slots
  D64 tr;                // m, geometric range
  RNG_T rng;             // range record of the epoch; null for inputs given directly
  // History of the channel's satellite across epochs (kept by NVESTIN_reset_all).
  S16 has_history;       // 1: hist_sv_id's last epoch is below
  S16 hist_sv_id;        // kernel id of the satellite the history belongs to
  F32 hist_dr;           // m/s, its last range rate
  D64 last_ttime;        // s of week, transmit time of its last range (with last_static_vrel)
  F32 last_static_vrel;  // m/s, its last line-of-sight rate for a receiver at rest
  S16 has_last_static_vrel;
};

namespace {
constexpr F32 C_LIGHT = 2.9979245e8F;  // m/s, single precision

std::array<NV_ESTIN_S, NVESTIN_MAX> Estin_data{};
std::array<NV_ESTIN_T, NVESTIN_MAX> Estin_inputs{};
S16 N_estin_inputs = 0;

S16 Est_is_at_ENU = 0;
S16 Est_enable_output_dgps_PR = 0;
S16 Est_use_compensated_dr = 0;
S16 Est_use_DR_by_nco_freq = 0;
S16 Est_skip_first_updated_measurement = 0;
U16 Est_CN0_threshold = 0;

bool ok(NV_ESTIN_T e) { return e != nullptr && e->has_data != 0; }

void clear_record(NV_ESTIN_S& e, S16 ch) {
  e = NV_ESTIN_S{};
  e.ch_id = ch;
  e.w = 1.0F;
}

void push_pr_history(NV_ESTIN_S& e) {
  e.pr_diff_buf[static_cast<std::size_t>(e.buf_next)] = static_cast<F32>(e.pr_diff);
  e.buf_next = static_cast<S16>((e.buf_next + 1) % 4);
  if (e.buf_count < 4) ++e.buf_count;
}

void append(NV_ESTIN_T e) {
  for (S16 i = 0; i < N_estin_inputs; ++i)
    if (Estin_inputs[static_cast<std::size_t>(i)] == e) return;
  if (N_estin_inputs < NVESTIN_MAX) Estin_inputs[static_cast<std::size_t>(N_estin_inputs++)] = e;
}

// Channel not usable after the first fix: unlocked, interference, weak SBAS,
// or below the elevation or C/N0 mask (then marked masked for the sky view).
bool masked(RNG_T rng, const ELV_CNR_MASK_T* m) {
  const S16 ch = RNG_get_channel_id(rng);
  if (ch < 0 || ch >= NVESTIN_MAX) return true;
  const CHAN_T chan = CH_find_reference(ch);
  if (CH_is_unlock(chan) != 0 || CH_get_interference_cnt(chan) != 0) return true;
  const S16 cn0 = RNG_get_cn0(rng);
  if (RNG_get_gnss_type(rng) == GNSS_TYPE_SBAS && cn0 < 30) return true;
  if (m == nullptr) return false;
  const U08 mode = m->elv_cnr_select_mode;
  bool out = false;
  if ((mode == ELV_CNR_MASK_AUTO || mode == ELV_CNR_MASK_ELV_ONLY) && RNG_get_elevation_in_degree(rng) < m->elv_mask)
    out = true;
  if ((mode == ELV_CNR_MASK_AUTO || mode == ELV_CNR_MASK_CNR_ONLY) && cn0 < m->cnr_mask) out = true;
  if (out) GSV_set_masked(RNG_get_sv(rng), 1);
  return out;
}

// Receiver velocity (ECEF m/s) along the range's direction cosines, m/s.
F32 vel_dot_dc(RNG_T rng, const VEL_T* vel) {
  F32 dc[3] = {0.0F, 0.0F, 0.0F};
  (void)RNG_get_direction_cosine(rng, dc);
  return dc[0] * vel->vx + dc[1] * vel->vy + dc[2] * vel->vz;
}

// A range rate from the accumulated carrier is a mean over the carrier
// interval (the channel's accumulation, or the common clean slots), so it
// belongs to the middle of that interval, not to the epoch: it lags the
// epoch's predicted line-of-sight rate by the lag times the satellite's
// line-of-sight acceleration (up to about 0.2 m/s^2 for a receiver on the
// ground: 0.1 m/s for half a second). Returns that acceleration (m/s^2): the
// change of the satellite's line-of-sight rate (static_vrel, m/s, receiver
// at rest) since the last epoch of the same satellite, per second of
// transmit time; 0 without a last epoch or for implausible spans.
F32 line_of_sight_acceleration(const NV_ESTIN_S& e, bool same_sv, D64 ttime, F32 static_vrel) {
  constexpr D64 MIN_SPAN_S = 0.1;
  constexpr D64 MAX_SPAN_S = 10.0;
  if (!same_sv || e.has_last_static_vrel == 0) return 0.0F;
  D64 span = ttime - e.last_ttime;
  if (span < -SECONDS_PER_WEEK / 2.0) span += SECONDS_PER_WEEK;
  if (!(span > MIN_SPAN_S && span < MAX_SPAN_S)) return 0.0F;
  const D64 acc = static_cast<D64>(static_vrel - e.last_static_vrel) / span;
  return std::isfinite(acc) ? static_cast<F32>(acc) : 0.0F;
}

// Forms the input of one range; false when it cannot be used.
bool form_one(RNG_T rng, D64 cbias, F32 cdrift, const VEL_T* vel, S16 reset_flags) {
  D64 pr = 0.0;
  D64 tr = 0.0;
  F32 dr = 0.0F;
  F32 rvel = 0.0F;
  F32 rvel_static = 0.0F;
  if (RNG_get_true_range(rng, &tr) == 0 || RNG_get_pseudo_range(rng, &pr) == 0) return false;
  if (RNG_get_L_frequency(rng) <= 0.0) return false;
  const S16 cn0 = RNG_get_cn0(rng);
  if (cn0 < static_cast<S32>(Est_CN0_threshold)) return false;
  const S16 ch = RNG_get_channel_id(rng);
  if (ch < 0 || ch >= NVESTIN_MAX) return false;
  const CHAN_T chan = CH_find_reference(ch);
  if (Est_skip_first_updated_measurement != 0 && CH_get_measurement_update_count(chan) <= 1) return false;
  const S16 has_dr =
      Est_use_DR_by_nco_freq != 0 ? RNG_get_delta_range_by_nco_freq(rng, &dr) : RNG_get_delta_range(rng, &dr);
  (void)RNG_get_rvel(rng, &rvel);
  (void)RNG_get_rvel_static(rng, &rvel_static);
  F32 dt = 0.0F;
  F32 ddt = 0.0F;
  F32 iono = 0.0F;
  F32 tropo = 0.0F;
  S16 iono_sbas = 0;
  const bool sbas = RNG_get_gnss_type(rng) == GNSS_TYPE_SBAS;
  if (!sbas) {
    (void)RNG_get_non_atmosphere_delay(rng, &dt, &ddt);
    (void)RNG_get_atmosphere_delay(rng, &iono, &tropo, &iono_sbas);
  }
  NV_ESTIN_S& e = Estin_data[static_cast<std::size_t>(ch)];
  const S16 svid = SV_get_svid(RNG_get_sv(rng));
  const bool same_sv = e.has_history != 0 && e.hist_sv_id == svid;
  const F32 vdot = vel != nullptr ? vel_dot_dc(rng, vel) : 0.0F;
  D64 ttime = 0.0;
  const bool has_ttime = RNG_get_ttime(rng, &ttime) != 0;
  // the predicted rate moved to the middle of the carrier interval (half
  // the channel's accumulation; the NCO rate of a first second is the
  // epoch's own)
  const F32 los_acc = has_ttime ? line_of_sight_acceleration(e, same_sv, ttime, rvel - vdot) : 0.0F;
  const bool carrier_mean = has_dr != 0 && Est_use_DR_by_nco_freq == 0 && CH_is_first_track_second(chan) == 0;
  const F32 shift = carrier_mean ? los_acc * 0.5F * static_cast<F32>(CH_get_acc_cycle_count(chan)) * 1e-3F : 0.0F;
  const D64 pr_diff = pr + static_cast<D64>(C_LIGHT * dt) - static_cast<D64>(iono + tropo) - cbias - tr;
  const D64 dr_diff = static_cast<D64>(C_LIGHT * ddt + (has_dr != 0 ? dr : 0.0F) - cdrift - (rvel - shift));
  if (!std::isfinite(pr_diff) || !std::isfinite(dr_diff)) return false;
  const U16 keep_flags = reset_flags != 0 ? 0 : e.flags;
  if (!same_sv) {
    const std::array<F32, 4> none{};
    e.pr_diff_buf = none;
    e.buf_count = 0;
    e.buf_next = 0;
  }
  const F32 last_dr = e.hist_dr;
  const bool had_dr = same_sv;
  e.has_data = 1;
  e.rng = rng;
  e.ch_id = ch;
  e.sv_id = SV_get_svid(RNG_get_sv(rng));
  e.gnss_type = RNG_get_gnss_type(rng);
  e.cn0 = cn0;
  e.pr_diff = pr_diff;
  e.dr_diff = dr_diff;
  e.dr = dr;
  e.has_dr_change_rate = had_dr ? 1 : 0;
  e.dr_change_rate = had_dr ? dr - last_dr : 0.0F;
  D64 spr = 0.0;
  F32 svar = 0.0F;
  e.has_carrier_smoothed_pr = RNG_get_smoothed_pseudo_range(rng, &spr, &svar) != 0 ? 1 : 0;
  e.pr_diff_smoothed = e.has_carrier_smoothed_pr != 0 ? spr - pr + pr_diff : pr_diff;
  F32 drg = 0.0F;
  e.has_good_carrier = RNG_get_delta_range_by_good_acc_carrier_slots(rng, &drg);
  e.dr_good = drg;
  e.dr_nco = 0.0F;
  (void)RNG_get_delta_range_by_nco_freq(rng, &e.dr_nco);
  e.tr = tr;
  F32 good_lag_s = 0.0F;
  (void)RNG_get_good_acc_carrier_slots_lag(rng, &good_lag_s);
  e.dr_diff_good = static_cast<D64>(C_LIGHT * ddt + drg - cdrift - (rvel - los_acc * good_lag_s));
  e.w = 1.0F;
  (void)RNG_get_direction_cosine(rng, e.dc);
  e.dc_at_enu = 0;
  e.static_vrel = rvel - vdot;
  e.dr_diff_static = static_cast<D64>(C_LIGHT * ddt + dr - cdrift - (e.static_vrel - shift));
  e.has_history = 1;
  e.hist_sv_id = svid;
  e.hist_dr = dr;
  e.has_last_static_vrel = has_ttime && std::isfinite(e.static_vrel) ? 1 : 0;
  e.last_static_vrel = e.static_vrel;
  e.last_ttime = ttime;
  const D64 dopp = (RNG_get_L_frequency(rng) / C_LIGHT) * -(C_LIGHT * ddt - e.static_vrel - cdrift);
  e.static_dopp_freq = std::fabs(dopp) < 1e9 ? static_cast<S32>(std::lround(dopp)) : 0;
  e.flags = keep_flags;
  e.bs_mode = CH_get_bit_sync_source(chan);
  e.steady_cn0_count = CH_get_steady_cnr_count(chan);
  push_pr_history(e);
  append(&e);
  return true;
}
}  // namespace

void NVESTIN_init() {
  for (S16 i = 0; i < NVESTIN_MAX; ++i) clear_record(Estin_data[static_cast<std::size_t>(i)], i);
  NVESTIN_reset_all();
  Est_is_at_ENU = 0;
  Est_enable_output_dgps_PR = 0;
  Est_use_compensated_dr = 0;
  Est_use_DR_by_nco_freq = 0;
  Est_skip_first_updated_measurement = 0;
  Est_CN0_threshold = 0;
}

void NVESTIN_reset_all() {
  for (S16 i = 0; i < NVESTIN_MAX; ++i) {
    NV_ESTIN_S& e = Estin_data[static_cast<std::size_t>(i)];
    const NV_ESTIN_S kept = e;
    clear_record(e, i);
    e.has_history = kept.has_history;
    e.hist_sv_id = kept.hist_sv_id;
    e.hist_dr = kept.hist_dr;
    e.last_ttime = kept.last_ttime;
    e.last_static_vrel = kept.last_static_vrel;
    e.has_last_static_vrel = kept.has_last_static_vrel;
    e.pr_diff_buf = kept.pr_diff_buf;
    e.buf_count = kept.buf_count;
    e.buf_next = kept.buf_next;
  }
  N_estin_inputs = 0;
  Est_is_at_ENU = 0;
}

NV_ESTIN_T NVESTIN_get_reference(S16 ch_id) {
  if (ch_id < 0 || ch_id >= NVESTIN_MAX) return nullptr;
  return &Estin_data[static_cast<std::size_t>(ch_id)];
}

S16 NVESTIN_update(S16 nrange, RNG_T* rng_ary, D64 cbias, F32 cdrift, D64, F32, const VEL_T* rcvvel_p, S16 reset_flags,
                   S16 nv_has_fixed, const ELV_CNR_MASK_T* elv_cnr_mask_p) {
  N_estin_inputs = 0;
  Est_is_at_ENU = 0;
  for (auto& e : Estin_data) e.has_data = 0;
  if (rng_ary == nullptr || nrange <= 0 || !std::isfinite(cbias) || !std::isfinite(cdrift)) return 0;
  if (nrange > NVESTIN_MAX) nrange = NVESTIN_MAX;
  for (S16 i = 0; i < nrange; ++i) {
    RNG_T rng = rng_ary[i];
    if (rng == nullptr || RNG_get_sv(rng) == nullptr) continue;
    if (nv_has_fixed != 0 && masked(rng, elv_cnr_mask_p)) continue;
    (void)form_one(rng, cbias, cdrift, rcvvel_p, reset_flags);
  }
  return N_estin_inputs;
}

NV_ESTIN_T NVESTIN_set_input(S16 ch_id, const NVESTIN_VALUES_T* v) {
  NV_ESTIN_T e = NVESTIN_get_reference(ch_id);
  if (e == nullptr || v == nullptr) return nullptr;
  if (!std::isfinite(v->pr_diff) || !std::isfinite(v->dr_diff) || !std::isfinite(v->dr_diff_static) ||
      !std::isfinite(v->dc[0]) || !std::isfinite(v->dc[1]) || !std::isfinite(v->dc[2]) || !std::isfinite(v->dr) ||
      !std::isfinite(v->dr_change_rate))
    return nullptr;
  const bool same = e->has_history != 0 && e->hist_sv_id == v->sv_id;
  e->has_history = 1;
  e->hist_sv_id = v->sv_id;
  e->has_last_static_vrel = 0;  // values given directly carry no line-of-sight history
  if (!same) {
    const std::array<F32, 4> none{};
    e->pr_diff_buf = none;
    e->buf_count = 0;
    e->buf_next = 0;
  }
  e->has_data = 1;
  e->rng = nullptr;
  e->pr_diff = v->pr_diff;
  e->pr_diff_smoothed = v->pr_diff;
  e->dr_diff = v->dr_diff;
  e->dr_diff_good = v->dr_diff;
  e->dr_diff_static = v->dr_diff_static;
  for (int k = 0; k < 3; ++k) e->dc[k] = v->dc[k];
  e->dc_at_enu = 0;
  Est_is_at_ENU = 0;
  e->w = 1.0F;
  e->dr = v->dr;
  e->dr_change_rate = v->dr_change_rate;
  e->has_dr_change_rate = 1;
  e->cn0 = v->cn0;
  e->sv_id = v->sv_id;
  e->gnss_type = v->gnss_type;
  e->bs_mode = v->bs_mode;
  e->has_good_carrier = v->has_good_carrier;
  e->flags = 0;
  push_pr_history(*e);
  append(e);
  return e;
}

S16 NVESTIN_get_inputs(NV_ESTIN_T* out_ary) {
  if (out_ary == nullptr) return 0;
  S16 n = 0;
  S16 n_other = 0;
  for (S16 i = 0; i < N_estin_inputs; ++i) {
    NV_ESTIN_T e = Estin_inputs[static_cast<std::size_t>(i)];
    if (e->gnss_type == GNSS_TYPE_SBAS) continue;
    if (e->gnss_type == GNSS_TYPE_BD2 && e->sv_id < 6 && e->cn0 < 29) continue;
    out_ary[n++] = e;
  }
  n_other = n;
  const U08 sbas_mode = SETTINGS_get_sbas_ranging_mode();
  if (sbas_mode == SBAS_RANGING_MODE_ENABLE || (sbas_mode == SBAS_RANGING_MODE_AUTO && n_other < 5)) {
    for (S16 i = 0; i < N_estin_inputs; ++i) {
      NV_ESTIN_T e = Estin_inputs[static_cast<std::size_t>(i)];
      if (e->gnss_type == GNSS_TYPE_SBAS) out_ary[n++] = e;
    }
  }
  return n;
}

S16 NVESTIN_get_no_large_error_inputs(NV_ESTIN_T* out_ary) {
  std::array<NV_ESTIN_T, NVESTIN_MAX> all{};
  const S16 n = NVESTIN_get_inputs(all.data());
  S16 k = 0;
  for (S16 i = 0; i < n; ++i)
    if (NVESTIN_has_large_error(all[static_cast<std::size_t>(i)]) == 0) out_ary[k++] = all[static_cast<std::size_t>(i)];
  return k;
}

S16 NVESTIN_get_no_error_inputs(NV_ESTIN_T* out_ary) {
  std::array<NV_ESTIN_T, NVESTIN_MAX> all{};
  const S16 n = NVESTIN_get_inputs(all.data());
  S16 k = 0;
  for (S16 i = 0; i < n; ++i)
    if (NVESTIN_has_no_error(all[static_cast<std::size_t>(i)]) != 0) out_ary[k++] = all[static_cast<std::size_t>(i)];
  return k;
}

S16 NVESTIN_get_smoothed_inputs(F32 var_thr, F32 dpr_thr, NV_ESTIN_T* out_ary) {
  std::array<NV_ESTIN_T, NVESTIN_MAX> all{};
  const S16 n = NVESTIN_get_inputs(all.data());
  S16 k = 0;
  for (S16 i = 0; i < n; ++i) {
    const NV_ESTIN_T e = all[static_cast<std::size_t>(i)];
    D64 spr = 0.0;
    F32 var = 0.0F;
    F32 diff = 0.0F;
    if (e->rng == nullptr || RNG_get_smoothed_pseudo_range(e->rng, &spr, &var) == 0 ||
        RNG_get_PR_smoothed_PR_abs_diff(e->rng, &diff) == 0)
      continue;
    if (var < var_thr && diff < dpr_thr) out_ary[k++] = e;
  }
  return k;
}

S16 NVESTIN_select_inputs_with_good_carrier_cycle_delta_range(S16 n, const NV_ESTIN_T* in, NV_ESTIN_T* out) {
  S16 k = 0;
  for (S16 i = 0; i < n && i < NVESTIN_MAX; ++i)
    if (ok(in[i]) && in[i]->has_good_carrier != 0) out[k++] = in[i];
  return k;
}

S16 NVESTIN_remove_large_error_estins(S16 n, NV_ESTIN_T* ary) {
  S16 k = 0;
  for (S16 i = 0; i < n && i < NVESTIN_MAX; ++i)
    if (NVESTIN_has_large_error(ary[i]) == 0) ary[k++] = ary[i];
  return k;
}

S16 NVESTIN_form_least_square_input_matrix(S16 n_estin, const NV_ESTIN_T* estin_ary, S16 add_pseudo_sv,
                                           S16 use_good_carrier_dr, const POS_T* rcv_pos_p, const VEL_T* rcv_vel_p,
                                           F32 alt, const F32 enu_mat[3][3], F32 dc[][3], F32* w, F32* d_pr, F32* d_dr,
                                           S08* is_second_gnss_type) {
  if (n_estin < 0 || n_estin > NVESTIN_MAX || estin_ary == nullptr) return 0;
  S16 n = 0;
  for (S16 i = 0; i < n_estin; ++i) {
    NV_ESTIN_T e = estin_ary[i];
    if (!ok(e)) continue;
    for (int k = 0; k < 3; ++k) dc[n][k] = e->dc[k];
    w[n] = e->w;
    d_pr[n] = static_cast<F32>(e->pr_diff);
    d_dr[n] = static_cast<F32>(use_good_carrier_dr != 0 && e->has_good_carrier != 0 ? e->dr_diff_good : e->dr_diff);
    is_second_gnss_type[n] = (e->gnss_type == GNSS_TYPE_GLONASS || e->gnss_type == GNSS_TYPE_BD2) ? 1 : 0;
    ++n;
  }
  if (add_pseudo_sv == 0) return n;
  if (Est_is_at_ENU != 0) {
    dc[n][0] = 0.0F;
    dc[n][1] = 0.0F;
    dc[n][2] = 1.0F;
    d_pr[n] = 0.0F;
    F32 vu = 0.0F;
    if (rcv_vel_p != nullptr && enu_mat != nullptr)
      vu = enu_mat[2][0] * rcv_vel_p->vx + enu_mat[2][1] * rcv_vel_p->vy + enu_mat[2][2] * rcv_vel_p->vz;
    d_dr[n] = -vu;
  } else {
    if (rcv_pos_p == nullptr) return 0;
    const D64 r =
        std::sqrt(rcv_pos_p->px * rcv_pos_p->px + rcv_pos_p->py * rcv_pos_p->py + rcv_pos_p->pz * rcv_pos_p->pz);
    if (!(r > 1.0) || !std::isfinite(r)) return 0;
    dc[n][0] = static_cast<F32>(rcv_pos_p->px / r);
    dc[n][1] = static_cast<F32>(rcv_pos_p->py / r);
    dc[n][2] = static_cast<F32>(rcv_pos_p->pz / r);
    // Radius change for the held altitude, along the local vertical.
    LLA_T lla{};
    COO_cartesian_to_geodetic(rcv_pos_p, &lla);
    lla.alt = alt;
    POS_T held{};
    COO_geodetic_to_cartesian(&lla, &held);
    const D64 rh = std::sqrt(held.px * held.px + held.py * held.py + held.pz * held.pz);
    d_pr[n] = static_cast<F32>(rh - r);
    d_dr[n] = 0.0F;
  }
  w[n] = 1.0F;
  is_second_gnss_type[n] = 0;
  return static_cast<S16>(n + 1);
}

S16 NVESTIN_form_least_square_combo_mode_input_matrix(S16 n_estin, const NV_ESTIN_T* estin_ary, F32 h[][5], F32* w,
                                                      F32* d_pr, F32* d_dr) {
  if (n_estin < 0 || n_estin > NVESTIN_MAX || estin_ary == nullptr) return 0;
  S16 n = 0;
  for (S16 i = 0; i < n_estin; ++i) {
    NV_ESTIN_T e = estin_ary[i];
    if (!ok(e)) continue;
    for (int k = 0; k < 3; ++k) h[n][k] = e->dc[k];
    h[n][3] = 1.0F;
    h[n][4] = (e->gnss_type == GNSS_TYPE_GLONASS || e->gnss_type == GNSS_TYPE_BD2) ? 1.0F : 0.0F;
    w[n] = e->w;
    d_pr[n] = static_cast<F32>(e->pr_diff);
    d_dr[n] = static_cast<F32>(e->dr_diff);
    ++n;
  }
  return n;
}

S16 NVESTIN_convert_direction_cosine_vectors_to_ENU(const F32 enu_mat[3][3]) {
  if (enu_mat == nullptr) return 0;
  for (auto& e : Estin_data) {
    if (e.has_data == 0 || e.dc_at_enu != 0) continue;
    std::array<F32, 3> v{};
    for (std::size_t r = 0; r < 3; ++r)
      v[r] = enu_mat[r][0] * e.dc[0] + enu_mat[r][1] * e.dc[1] + enu_mat[r][2] * e.dc[2];
    for (std::size_t r = 0; r < 3; ++r) e.dc[r] = v[r];
    e.dc_at_enu = 1;
  }
  Est_is_at_ENU = 1;
  return 1;
}
S16 NVESTIN_is_coordinate_at_ENU() { return Est_is_at_ENU; }

void NVESTIN_set_skip_first_updated_measurement(S16 on) { Est_skip_first_updated_measurement = on != 0 ? 1 : 0; }
void NVESTIN_set_CN0_threshold(U16 cn0) { Est_CN0_threshold = cn0; }
void NVESTIN_switch_to_output_normal_PR(S16 on) { Est_enable_output_dgps_PR = on != 0 ? 0 : 1; }
void NVESTIN_switch_to_output_compensated_DR(S16 on) { Est_use_compensated_dr = on != 0 ? 1 : 0; }
void NVESTIN_switch_to_output_DR_by_nco_freq(S16 on) { Est_use_DR_by_nco_freq = on != 0 ? 1 : 0; }
void NVESTIN_set_can_use_smoothed_PR_flag(NV_ESTIN_T estin, S16 on) {
  if (estin != nullptr) estin->use_smoothed_pr = on != 0 ? 1 : 0;
}

S16 NVESTIN_get_channel_id(NV_ESTIN_T estin) { return estin != nullptr ? estin->ch_id : static_cast<S16>(-1); }
U16 NVESTIN_get_gnss_type(NV_ESTIN_T estin) { return ok(estin) ? estin->gnss_type : static_cast<U16>(0); }
S16 NVESTIN_get_sv_id(NV_ESTIN_T estin) { return ok(estin) ? estin->sv_id : static_cast<S16>(0); }
S16 NVESTIN_get_cn0(NV_ESTIN_T estin) { return ok(estin) ? estin->cn0 : static_cast<S16>(0); }
D64 NVESTIN_get_pr_diff(NV_ESTIN_T estin) { return ok(estin) ? estin->pr_diff : 0.0; }
D64 NVESTIN_get_dr_diff(NV_ESTIN_T estin) { return ok(estin) ? estin->dr_diff : 0.0; }
D64 NVESTIN_get_dr_diff_static(NV_ESTIN_T estin) { return ok(estin) ? estin->dr_diff_static : 0.0; }
D64 NVESTIN_get_smoothed_pr_diff(NV_ESTIN_T estin) { return ok(estin) ? estin->pr_diff_smoothed : 0.0; }
D64 NVESTIN_get_dr_diff_by_good_acc_carrier_slots(NV_ESTIN_T estin) { return ok(estin) ? estin->dr_diff_good : 0.0; }
F32 NVESTIN_get_dr(NV_ESTIN_T estin) { return ok(estin) ? estin->dr : 0.0F; }
F32 NVESTIN_get_weighting(NV_ESTIN_T estin) { return ok(estin) ? estin->w : 0.0F; }
S16 NVESTIN_get_direction_cosine_vector(NV_ESTIN_T estin, F32* dc) {
  if (!ok(estin) || dc == nullptr) return 0;
  for (int k = 0; k < 3; ++k) dc[k] = estin->dc[k];
  return 1;
}
F32 NVESTIN_get_relative_velocity_by_static_assumption(NV_ESTIN_T estin) {
  return ok(estin) ? estin->static_vrel : 0.0F;
}
S32 NVESTIN_get_dopp_freq_by_static_assumption(NV_ESTIN_T estin) { return ok(estin) ? estin->static_dopp_freq : 0; }
F32 NVESTIN_get_dr_change_rate(NV_ESTIN_T estin) { return ok(estin) ? estin->dr_change_rate : 0.0F; }
S16 NVESTIN_has_dr_change_rate(NV_ESTIN_T estin) { return ok(estin) ? estin->has_dr_change_rate : static_cast<S16>(0); }
S16 NVESTIN_get_avg_pr_diff(NV_ESTIN_T estin, F32* avg_p, F32* sigma_p) {
  if (!ok(estin) || estin->buf_count < 2) return 0;
  F32 s = 0.0F;
  for (S16 i = 0; i < estin->buf_count; ++i) s += estin->pr_diff_buf[static_cast<std::size_t>(i)];
  const F32 avg = s / static_cast<F32>(estin->buf_count);
  F32 v = 0.0F;
  for (S16 i = 0; i < estin->buf_count; ++i) {
    const F32 d = estin->pr_diff_buf[static_cast<std::size_t>(i)] - avg;
    v += d * d;
  }
  if (avg_p != nullptr) *avg_p = avg;
  if (sigma_p != nullptr) *sigma_p = std::sqrt(v / static_cast<F32>(estin->buf_count));
  return 1;
}
S16 NVESTIN_compesate_residuals_to_pr_diff_buffer(S16 n, const F32* dx) {
  if (dx == nullptr || n < 1 || n > 4) return 0;
  for (S16 k = 0; k < n; ++k)
    if (!std::isfinite(dx[k])) return 0;
  S16 changed = 0;
  for (S16 i = 0; i < N_estin_inputs; ++i) {
    const NV_ESTIN_T e = Estin_inputs[static_cast<std::size_t>(i)];
    if (!ok(e) || e->buf_count == 0) continue;
    F32 shift = 0.0F;  // m, change of the residual by the correction
    for (S16 k = 0; k < n && k < 3; ++k) shift += e->dc[k] * dx[k];
    if (n == 4) shift += dx[3];
    for (S16 j = 0; j < e->buf_count; ++j) e->pr_diff_buf[static_cast<std::size_t>(j)] -= shift;
    ++changed;
  }
  return changed;
}
U08 NVESTIN_get_bs_source(NV_ESTIN_T estin) { return ok(estin) ? estin->bs_mode : static_cast<U08>(0); }

namespace {
S16 bit(NV_ESTIN_T e, U16 b) { return (ok(e) && (e->flags & b) != 0) ? 1 : 0; }
}  // namespace
S16 NVESTIN_has_data(NV_ESTIN_T estin) { return ok(estin) ? 1 : 0; }
S16 NVESTIN_has_no_error(NV_ESTIN_T estin) { return (ok(estin) && estin->flags == 0) ? 1 : 0; }
S16 NVESTIN_is_PR_excluded_by_RAIM(NV_ESTIN_T estin) { return bit(estin, NVESTIN_PR_EXCLUDED_BY_RAIM); }
S16 NVESTIN_is_DR_excluded_by_RAIM(NV_ESTIN_T estin) { return bit(estin, NVESTIN_DR_EXCLUDED_BY_RAIM); }
S16 NVESTIN_is_excluded_by_MP_check(NV_ESTIN_T estin) { return bit(estin, NVESTIN_EXCLUDED_BY_MP_CHECK); }
S16 NVESTIN_is_excluded_by_LTE_check(NV_ESTIN_T estin) { return bit(estin, NVESTIN_EXCLUDED_BY_LTE_CHECK); }
S16 NVESTIN_is_excluded_by_recalc_position_check(NV_ESTIN_T estin) {
  return bit(estin, NVESTIN_EXCLUDED_BY_RECALC_POS);
}
S16 NVESTIN_has_large_error(NV_ESTIN_T estin) { return bit(estin, NVESTIN_LARGE_ERROR); }
S16 NVESTIN_has_bad_measurement(NV_ESTIN_T estin) { return bit(estin, NVESTIN_BAD_MEASUREMENT); }
S16 NVESTIN_need_remove_LTE(NV_ESTIN_T estin) { return bit(estin, NVESTIN_NEED_REMOVE_LTE); }
S16 NVESTIN_need_drop_channel(NV_ESTIN_T estin) { return bit(estin, NVESTIN_NEED_DROP_CHANNEL); }
S16 NVESTIN_need_clear_ephemeris(NV_ESTIN_T estin) { return bit(estin, NVESTIN_NEED_CLEAR_EPHEMERIS); }
S16 NVESTIN_need_plus_one_msc(NV_ESTIN_T estin) { return bit(estin, NVESTIN_NEED_PLUS_ONE_MSC); }
S16 NVESTIN_need_minus_one_msc(NV_ESTIN_T estin) { return bit(estin, NVESTIN_NEED_MINUS_ONE_MSC); }
S16 NVESTIN_has_good_carrier_dr(NV_ESTIN_T estin) { return ok(estin) ? estin->has_good_carrier : static_cast<S16>(0); }
S16 NVESTIN_is_PR_may_convergeced(NV_ESTIN_T estin) {
  return (ok(estin) && estin->rng != nullptr && RNG_is_PR_may_convergence_by_carrier_check(estin->rng) != 0) ? 1 : 0;
}
S16 NVESTIN_can_use_smoothed_PR(NV_ESTIN_T estin) {
  return (ok(estin) && estin->use_smoothed_pr != 0 && estin->has_carrier_smoothed_pr != 0) ? 1 : 0;
}
S16 NVESTIN_is_stable_dr(NV_ESTIN_T estin) {
  return (ok(estin) && estin->has_dr_change_rate != 0 && std::fabs(estin->dr_change_rate) < 1.0F) ? 1 : 0;
}
U16 NVESTIN_get_flags(NV_ESTIN_T estin) { return ok(estin) ? estin->flags : static_cast<U16>(0); }
void NVESTIN_set_flags(NV_ESTIN_T estin, U16 bits) {
  if (estin != nullptr) estin->flags = static_cast<U16>(estin->flags | bits);
}
void NVESTIN_set_PR_excluded_by_RAIM(NV_ESTIN_T estin) { NVESTIN_set_flags(estin, NVESTIN_PR_EXCLUDED_BY_RAIM); }
void NVESTIN_set_DR_excluded_by_RAIM(NV_ESTIN_T estin) { NVESTIN_set_flags(estin, NVESTIN_DR_EXCLUDED_BY_RAIM); }
void NVESTIN_set_excluded_by_MP_check(NV_ESTIN_T estin) { NVESTIN_set_flags(estin, NVESTIN_EXCLUDED_BY_MP_CHECK); }
void NVESTIN_set_excluded_by_LTE_check(NV_ESTIN_T estin) { NVESTIN_set_flags(estin, NVESTIN_EXCLUDED_BY_LTE_CHECK); }
void NVESTIN_set_excluded_by_recalc_position_check(NV_ESTIN_T estin) {
  NVESTIN_set_flags(estin, NVESTIN_EXCLUDED_BY_RECALC_POS);
}
void NVESTIN_set_bad_measurement(NV_ESTIN_T estin) { NVESTIN_set_flags(estin, NVESTIN_BAD_MEASUREMENT); }
void NVESTIN_set_large_error(NV_ESTIN_T estin) { NVESTIN_set_flags(estin, NVESTIN_LARGE_ERROR); }
void NVESTIN_set_need_remove_LTE(NV_ESTIN_T estin) { NVESTIN_set_flags(estin, NVESTIN_NEED_REMOVE_LTE); }
void NVESTIN_set_need_drop_channel(NV_ESTIN_T estin) { NVESTIN_set_flags(estin, NVESTIN_NEED_DROP_CHANNEL); }
void NVESTIN_set_need_clear_ephemeris(NV_ESTIN_T estin) { NVESTIN_set_flags(estin, NVESTIN_NEED_CLEAR_EPHEMERIS); }
void NVESTIN_set_need_plus_one_msc(NV_ESTIN_T estin) { NVESTIN_set_flags(estin, NVESTIN_NEED_PLUS_ONE_MSC); }
void NVESTIN_set_need_minus_one_msc(NV_ESTIN_T estin) { NVESTIN_set_flags(estin, NVESTIN_NEED_MINUS_ONE_MSC); }

S16 NVESTIN_find_min_cn0(S16 n, const NV_ESTIN_T* ary) {
  if (ary == nullptr || n <= 0) return -1;
  S16 k = 0;
  for (S16 i = 1; i < n && i < NVESTIN_MAX; ++i)
    if (NVESTIN_get_cn0(ary[i]) < NVESTIN_get_cn0(ary[k])) k = i;
  return k;
}
F32 NVESTIN_get_dr_by_nco_freq(NV_ESTIN_T estin) { return ok(estin) ? estin->dr_nco : 0.0F; }
F32 NVESTIN_get_dr_by_good_acc_carrier_slots(NV_ESTIN_T estin) { return ok(estin) ? estin->dr_good : 0.0F; }
S16 NVESTIN_get_steady_cn0_count(NV_ESTIN_T estin) { return ok(estin) ? estin->steady_cn0_count : static_cast<S16>(0); }
D64 NVESTIN_get_range(NV_ESTIN_T estin) { return ok(estin) ? estin->tr : 0.0; }
