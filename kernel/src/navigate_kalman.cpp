// Navigation side of the Kalman filter: filter rows from the estimation
// inputs (range rates, pseudoranges, altitude pseudo-measurements), the
// choice to leave the pseudoranges out, the update, the damping of the
// corrections and the filter quality. All corrections are in east, north,
// up (m, m/s) and clock (m, m/s); the inputs' direction cosines must already
// be in ENU (the driver checks NVESTIN_is_coordinate_at_ENU).
#include <algorithm>
#include <array>
#include <cmath>

#include "kernel/src/kalman_filter.h"
#include "kernel/src/nav_estimation_inputs.h"
#include "kernel/src/nav_model.h"
#include "kernel/src/navigate.h"
#include "kernel/src/navigate_record.h"
#include "kernel/src/range.h"
#include "kernel/src/static_filter.h"

namespace {

enum : S16 {
  ADD_KMF_PSEUDO_SV_NONE = -1,
  ADD_KMF_PSEUDO_SV_DR_ONLY = 0,
  ADD_KMF_PSEUDO_SV_PR_ONLY = 1,
  ADD_KMF_PSEUDO_SV_PR_DR = 2,
};

constexpr F32 STATIC_SPEED = 0.5556F;        // m/s (2 km/h)
constexpr F32 PSEUDO_PR_VARIANCE = 16.0F;    // m^2, altitude pseudo-measurement
constexpr F32 PSEUDO_DR_VARIANCE = 0.25F;    // (m/s)^2, vertical-speed pseudo-measurement
constexpr F32 SETTLED_EN_VARIANCE = 100.0F;  // m^2, see kalman_filter()
constexpr F32 CONSISTENT_PR_NIS = 9.0F;      // mean squared normalised pseudorange innovation, see kalman_filter()

// The epoch's filter rows (static: no allocation per epoch).
struct KMF_ROWS_T {
  std::array<std::array<F32, 3>, KMF_MAX_MEAS> h;
  std::array<const F32*, KMF_MAX_MEAS> hp;
  std::array<F32, KMF_MAX_MEAS> r, z;
  std::array<S16, KMF_MAX_MEAS> is_dr, is_second;
  std::array<S16, KMF_MAX_MEAS> ch;  // channel, -1 for a pseudo-measurement
  S16 n;
  S16 n_dr, n_pr;
};
KMF_ROWS_T Rows{};
std::array<NV_ESTIN_T, NVESTIN_MAX> Pr_list{};
SPMFILTER_SIMPLE_QUALITY_T Static_quality{};

bool is_second_system(NV_ESTIN_T e) {
  const U16 t = NVESTIN_get_gnss_type(e);
  return t == GNSS_TYPE_GLONASS || t == GNSS_TYPE_BD2;
}

void range_variances(NV_ESTIN_T e, F32* var_pr, F32* var_dr) {
  *var_pr = 0.0F;
  *var_dr = 0.0F;
  const S16 ch = NVESTIN_get_channel_id(e);
  if (ch < 0 || ch >= NUM_HW_CHANNELS) return;
  (void)RNG_get_variance(RNG_get_reference(ch), var_pr, var_dr);
}

bool add_row(const F32* dc, F32 r, F32 z, S16 is_dr, S16 second, S16 ch) {
  if (Rows.n >= KMF_MAX_MEAS) return false;
  const auto k = static_cast<std::size_t>(Rows.n);
  Rows.h[k] = {dc[0], dc[1], dc[2]};
  Rows.hp[k] = Rows.h[k].data();
  Rows.r[k] = r;
  Rows.z[k] = z;
  Rows.is_dr[k] = is_dr;
  Rows.is_second[k] = second;
  Rows.ch[k] = ch;
  ++Rows.n;
  return true;
}

void convert_estimation_input_to_KMF_DR_input(const LSQRAIM_OUTPUT_T& o) {
  const bool use_2d = o.n_estin_dr_2D_used > 0;
  const S16 n = use_2d ? o.n_estin_dr_2D_used : o.n_estin_dr_3D_used;
  const NV_ESTIN_T* list = use_2d ? o.estins_dr_2D_used : o.estins_dr_3D_used;
  for (S16 i = 0; i < n && i < LSQRAIM_MAX_INPUTS; ++i) {
    F32 dc[3];
    if (NVESTIN_get_direction_cosine_vector(list[i], dc) == 0) continue;
    F32 var_pr = 0.0F;
    F32 var_dr = 0.0F;
    range_variances(list[i], &var_pr, &var_dr);
    if (add_row(dc, var_dr, static_cast<F32>(NVESTIN_get_dr_diff(list[i])), 1, is_second_system(list[i]) ? 1 : 0,
                NVESTIN_get_channel_id(list[i])))
      ++Rows.n_dr;
  }
}

void convert_estimation_input_to_KMF_PR_input(S16 n, const NV_ESTIN_T* list) {
  bool has_first_system = false;
  for (S16 i = 0; i < n; ++i) has_first_system = has_first_system || !is_second_system(list[i]);
  for (S16 i = 0; i < n; ++i) {
    F32 dc[3];
    if (NVESTIN_get_direction_cosine_vector(list[i], dc) == 0) continue;
    F32 var_pr = 0.0F;
    F32 var_dr = 0.0F;
    range_variances(list[i], &var_pr, &var_dr);
    if (NVESTIN_get_gnss_type(list[i]) == GNSS_TYPE_GLONASS && has_first_system) var_pr *= 4.0F;
    const D64 z = NVESTIN_can_use_smoothed_PR(list[i]) != 0 ? NVESTIN_get_smoothed_pr_diff(list[i])
                                                            : NVESTIN_get_pr_diff(list[i]);
    if (add_row(dc, var_pr, static_cast<F32>(z), 0, is_second_system(list[i]) ? 1 : 0, NVESTIN_get_channel_id(list[i])))
      ++Rows.n_pr;
  }
}

S16 need_add_pseudo_sv_for_KMF2(const LSQRAIM_OUTPUT_T& o) {
  if (NVMODEL_can_do_2D_fix() == 0) return ADD_KMF_PSEUDO_SV_NONE;
  const LSQRAIM_QUALITY_T& q3 = o.quality_pr_4s3D;
  const S16 n_dr = o.n_estin_dr_2D_used > 0 ? o.n_estin_dr_2D_used : o.n_estin_dr_3D_used;
  if (n_dr < 4 || (q3.has_pdop != 0 && q3.pdop > 30.0F)) return ADD_KMF_PSEUDO_SV_PR_DR;
  const NV_DATA_T& d = NV_record();
  if (o.quality_dr_3D.has_quality == 0 && std::fabs(d.tmp_vel_enu.vu) >= 1.2F && o.quality_dr_2D.has_quality != 0 &&
      o.quality_dr_2D.var_residual < 1.0F)
    return ADD_KMF_PSEUDO_SV_DR_ONLY;
  return ADD_KMF_PSEUDO_SV_NONE;
}

// Altitude pseudo-satellite rows in ENU: cosines (0, 0, 1); the pseudorange
// kind holds the predicted altitude (residual 0 m), the range-rate kind
// holds a zero vertical speed (residual -(up velocity) m/s).
void add_pseudo_sv_to_KMF_input(S16 kind, S16 n_pr_inputs) {
  constexpr F32 UP[3] = {0.0F, 0.0F, 1.0F};
  NV_DATA_T& d = NV_record();
  bool pr_kind = kind == ADD_KMF_PSEUDO_SV_PR_DR || kind == ADD_KMF_PSEUDO_SV_PR_ONLY;
  const bool dr_kind = kind == ADD_KMF_PSEUDO_SV_PR_DR || kind == ADD_KMF_PSEUDO_SV_DR_ONLY;
  if ((kind == ADD_KMF_PSEUDO_SV_NONE && n_pr_inputs == 3) || kind == ADD_KMF_PSEUDO_SV_DR_ONLY) pr_kind = true;
  if (NVMODEL_can_do_2D_fix() == 0) return;
  if (dr_kind && add_row(UP, PSEUDO_DR_VARIANCE, -d.tmp_vel_enu.vu, 1, 0, -1)) d.kmf_add_pseudo_sv = 1;
  if (pr_kind && add_row(UP, PSEUDO_PR_VARIANCE, 0.0F, 0, 0, -1)) d.kmf_add_pseudo_sv = 1;
}

// Mean of pr_diff^2 over the used pseudorange inputs (m^2).
F32 mean_square_pr_diff(const LSQRAIM_OUTPUT_T& o) {
  if (o.n_estin_pr_used <= 0) return 0.0F;
  D64 s = 0.0;
  for (S16 i = 0; i < o.n_estin_pr_used; ++i) {
    const D64 v = NVESTIN_get_pr_diff(o.estins_pr_used[i]);
    s += v * v;
  }
  return static_cast<F32>(s / o.n_estin_pr_used);
}

// Every used pseudorange input is weak (below 30 dB-Hz) but its C/N0 has
// been steady for at least 10 epochs.
bool all_PR_meas_are_weak_but_have_steady_CN0(const LSQRAIM_OUTPUT_T& o) {
  if (o.n_estin_pr_used <= 0) return false;
  for (S16 i = 0; i < o.n_estin_pr_used; ++i) {
    const NV_ESTIN_T e = o.estins_pr_used[i];
    if (NVESTIN_get_cn0(e) >= 30 || NVESTIN_get_steady_cn0_count(e) < 10) return false;
  }
  return true;
}

S16 slow_receiver_rule(const LSQRAIM_OUTPUT_T& o, F32 var_dpr) {
  const LSQRAIM_QUALITY_T& q3 = o.quality_pr_4s3D;
  if (q3.has_quality == 0) {
    if (q3.has_pdop != 0) return var_dpr < 10.0F && q3.pdop < 10.0F ? 0 : 1;
    if (o.quality_pr_4s2D.has_pdop != 0) return var_dpr < 10.0F && o.quality_pr_4s2D.pdop < 5.0F ? 0 : 1;
    return 1;
  }
  const F32 ratio = q3.var_residual > 0.0F ? var_dpr / q3.var_residual : 1.0e9F;
  if ((q3.pdop < 5.0F && q3.var_residual < 16.0F) || (q3.pdop < 10.0F && q3.var_residual < 25.0F && ratio > 16.0F))
    return 0;
  if (q3.pdop >= 20.0F) return 1;
  return ratio > 100.0F ? 1 : 0;
}

bool all_avg_pr_sigma_below(const LSQRAIM_OUTPUT_T& o, F32 limit) {
  for (S16 i = 0; i < o.n_estin_pr_used; ++i) {
    F32 avg = 0.0F;
    F32 sigma = 0.0F;
    if (NVESTIN_get_avg_pr_diff(o.estins_pr_used[i], &avg, &sigma) == 0 || !(sigma < limit)) return false;
  }
  return true;
}

F32 max_abs_pr_diff(const LSQRAIM_OUTPUT_T& o) {
  F32 m = 0.0F;
  for (S16 i = 0; i < o.n_estin_pr_used; ++i)
    m = std::max(m, static_cast<F32>(std::fabs(NVESTIN_get_pr_diff(o.estins_pr_used[i]))));
  return m;
}

S16 with_3D_quality_rule(S16 has_pseudo_sv, const LSQRAIM_OUTPUT_T& o, S16 meas_count) {
  const NV_DATA_T& d = NV_record();
  const LSQRAIM_QUALITY_T& q3 = o.quality_pr_4s3D;
  const LSQRAIM_LSQ_PR_T& p3 = o.lsq_pr_4s3D;
  if (p3.has_result != 0 && d.has_last_lsq_dx_en != 0 && d.has_last_use_dx_en != 0) {
    const F32 de = p3.dx[0] - d.last_lsq_dx_enu[0];
    const F32 dn = p3.dx[1] - d.last_lsq_dx_enu[1];
    const F32 du = p3.dx[2] - d.last_lsq_dx_enu[2];
    if (std::hypot(de, dn) <= 3.0F && std::fabs(du) <= 3.0F && std::hypot(p3.dx[0], p3.dx[1]) >= 20.0F &&
        q3.var_residual < 400.0F)
      return 0;
  }
  const S16 n = o.n_estin_pr_used;
  if (n >= 6 && all_avg_pr_sigma_below(o, 10.0F) && q3.pdop < 30.0F && d.move_count > 4 && d.speed >= 10.0F) return 0;
  if (n < 6 && q3.var_residual >= 30.0F) return 1;
  if (n >= 6 && q3.var_residual >= 25.0F && max_abs_pr_diff(o) > 18.75F) return 1;
  return has_pseudo_sv != 0 && meas_count < 7 ? 1 : 0;
}

S16 without_3D_quality_rule(const LSQRAIM_OUTPUT_T& o) {
  const NV_DATA_T& d = NV_record();
  const LSQRAIM_QUALITY_T& q2 = o.quality_pr_4s2D;
  if (q2.has_quality != 0 && q2.var_residual < 36.0F) return 0;
  if (o.n_estin_pr_used < 4) return 1;
  if (!all_avg_pr_sigma_below(o, 10.0F)) return 1;
  if (o.quality_pr_4s3D.has_pdop == 0 || o.quality_pr_4s3D.pdop >= 30.0F) return 1;
  return d.move_count < 5 ? 1 : 0;
}

// Damping of the velocity correction (step 1 of the damping).
void damp_velocity(const LSQRAIM_OUTPUT_T& o, F32* ddx) {
  const LSQRAIM_QUALITY_T& v3 = o.quality_dr_3D;
  const LSQRAIM_QUALITY_T& v2 = o.quality_dr_2D;
  S16 max_cn0 = 0;
  for (S16 i = 0; i < o.n_estin_dr_2D_used; ++i) max_cn0 = std::max(max_cn0, NVESTIN_get_cn0(o.estins_dr_2D_used[i]));
  const bool keep = (v3.has_quality != 0 && v3.var_residual < 1.0F) ||
                    (v2.has_quality != 0 && v2.var_residual <= 1.0F && max_cn0 >= 20) ||
                    (o.use_good_carrier_dr != 0 && o.use_may_convergence_pr != 0 && v2.has_pdop != 0 && v2.pdop < 8.0F);
  if (keep) return;
  const F32 f = (v2.has_quality != 0 && v2.var_residual > 1.0F) ? 1.0F / (2.0F * v2.var_residual) : 0.1F;
  for (int i = 0; i < 4; ++i) ddx[i] *= f;
}

// Along-track part kept (never backwards), cross-track part quartered.
void body_fix_frame_filter(F32 h_speed, F32 ve, F32 vn, F32* dx) {
  if (!(h_speed > 0.0F)) return;
  const F32 e = ve / h_speed;
  const F32 n = vn / h_speed;
  const F32 a = std::max(0.0F, e * dx[0] + n * dx[1]);
  const F32 c = 0.25F * (n * dx[0] - e * dx[1]);
  dx[0] = e * a + n * c;
  dx[1] = n * a - e * c;
}

// Scales the first n position corrections by f and records f as their part applied.
void scale_position(F32* dx, F32* applied, F32 f, int n) {
  for (int i = 0; i < n; ++i) {
    dx[i] *= f;
    applied[i] = f;
  }
}

// Damping of the position correction (step 3 of the damping); applied[0..3]
// receives the part of each correction kept (1 where it is not scaled).
void damp_position(const LSQRAIM_OUTPUT_T& o, F32 s, F32 ve, F32 vn, F32* dx, F32* applied) {
  const S16 model = NVMODEL_get_model();
  if (model == MARINE || model == BALLOON || model == AIRBORNE) return;
  const NV_DATA_T& d = NV_record();
  const LSQRAIM_QUALITY_T& q3 = o.quality_pr_4s3D;
  if (s < 1.0F && dx[0] * dx[0] + dx[1] * dx[1] < 25.0F) {
    scale_position(dx, applied, 0.1F, 2);
    return;
  }
  const bool good = o.use_good_carrier_dr != 0 && o.use_may_convergence_pr != 0;
  if (good && ((q3.has_quality != 0 && q3.var_residual < 10.0F) ||
               (q3.has_quality == 0 && o.quality_pr_4s2D.has_pdop != 0 && o.quality_pr_4s2D.pdop < 10.0F)))
    return;
  if (o.quality_dr_2D.has_quality != 0 && o.quality_dr_2D.var_residual < 0.5F && s > 10.0F &&
      d.body_fixed_frame_filter_enabled != 0 && d.use_PR_meas_fix != 0 && dx[0] != 0.0F && dx[1] != 0.0F) {
    body_fix_frame_filter(s, ve, vn, dx);
    return;
  }
  if (q3.has_quality != 0 && q3.var_residual <= 4.0F) return;
  F32 f = 0.1F;
  if (q3.has_quality != 0 && q3.var_residual > 0.0F && o.n_estin_pr_used > 5) {
    f = 1.0F / std::sqrt(q3.var_residual);
    if (f < 0.5F) f *= 2.0F;
  }
  scale_position(dx, applied, f, 4);
}

// Post-fit residual statistics of the applied rows, and the used channels.
void calculate_KMF_quality_output(const F32* xk, NV_KMF_QUALITY_T* q, NV_KMF_OUTPUT_T* out) {
  D64 s_pr = 0.0;
  D64 s_dr = 0.0;
  for (S16 m = 0; m < Rows.n; ++m) {
    const auto k = static_cast<std::size_t>(m);
    if (!(Rows.r[k] > 0.0F)) continue;
    const int off = Rows.is_dr[k] != 0 ? 1 : 0;
    F32 hx = Rows.h[k][0] * xk[off] + Rows.h[k][1] * xk[2 + off] + Rows.h[k][2] * xk[4 + off];
    if (Rows.h[k][0] != 0.0F || Rows.h[k][1] != 0.0F) hx += xk[6 + off];
    const D64 res = Rows.z[k] - hx;
    const S16 ch = Rows.ch[k];
    if (Rows.is_dr[k] != 0) {
      s_dr += res * res;
      ++q->n_dr_residuals;
      if (ch >= 0 && out->n_used_dr < 20) out->used_dr_chid_ary[out->n_used_dr++] = static_cast<U08>(ch);
    } else {
      s_pr += res * res;
      ++q->n_pr_residuals;
      if (ch >= 0 && out->n_used_pr < 20) out->used_pr_chid_ary[out->n_used_pr++] = static_cast<U08>(ch);
    }
  }
  q->var_pr_residual = q->n_pr_residuals > 0 ? static_cast<F32>(s_pr / q->n_pr_residuals) : 0.0F;
  q->var_dr_residual = q->n_dr_residuals > 0 ? static_cast<F32>(s_dr / q->n_dr_residuals) : 0.0F;
  q->has_quality = (q->n_pr_residuals > 0 || q->n_dr_residuals > 0) ? 1 : 0;
}

// Mean over the pseudorange rows of innovation^2 / (h P h^T + r) against the
// prior covariance p (64 values, row-major): about 1 when the rows agree with
// the filter's uncertainty; -1 without pseudorange rows.
F32 pr_normalised_innovation(const std::array<F32, KMF_NSTATE * KMF_NSTATE>& p) {
  D64 sum = 0.0;
  int n = 0;
  for (S16 m = 0; m < Rows.n; ++m) {
    const auto k = static_cast<std::size_t>(m);
    if (Rows.is_dr[k] != 0 || !(Rows.r[k] > 0.0F)) continue;
    std::array<F32, KMF_NSTATE> hrow{};
    hrow[0] = Rows.h[k][0];
    hrow[2] = Rows.h[k][1];
    hrow[4] = Rows.h[k][2];
    if (Rows.h[k][0] != 0.0F || Rows.h[k][1] != 0.0F) hrow[6] = 1.0F;
    D64 s = Rows.r[k];
    for (std::size_t i = 0; i < KMF_NSTATE; ++i)
      for (std::size_t j = 0; j < KMF_NSTATE; ++j) s += static_cast<D64>(hrow[i]) * p[i * KMF_NSTATE + j] * hrow[j];
    if (!(s > 0.0)) continue;
    sum += static_cast<D64>(Rows.z[k]) * Rows.z[k] / s;
    ++n;
  }
  return n > 0 ? static_cast<F32>(sum / n) : -1.0F;
}

bool finite_all(const F32* v, int n) {
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

}  // namespace

void check_LSQ_result_to_switch_KMF_model(const LSQRAIM_OUTPUT_T* lsq_p) {
  if (lsq_p == nullptr) return;
  const LSQRAIM_LSQ_DR_T& d = lsq_p->lsq_dr_2D;
  const LSQRAIM_QUALITY_T& q = lsq_p->quality_dr_2D;
  if (d.has_result != 0 && q.has_quality != 0 && q.var_residual < 1.0F && d.h_speed < STATIC_SPEED)
    KMF_switch_dynamic_model(KMF_P_MODEL);
}

S16 need_remove_all_KMF_pr_meas(S16 has_pseudo_sv, const LSQRAIM_OUTPUT_T* lsq_p, S16 meas_count) {
  if (lsq_p == nullptr) return 1;
  const LSQRAIM_OUTPUT_T& o = *lsq_p;
  const NV_DATA_T& d = NV_record();
  const F32 var_dpr = mean_square_pr_diff(o);
  if (d.speed > 10.0F && all_PR_meas_are_weak_but_have_steady_CN0(o)) return 0;
  if (d.fix_count % 32U == 0U) return 0;
  if ((o.lsq_dr_2D.has_result != 0 && o.lsq_dr_2D.h_speed < 0.2F) ||
      (o.lsq_dr_3D.has_result != 0 && o.lsq_dr_3D.h_speed < 0.3F))
    return slow_receiver_rule(o, var_dpr);
  if (d.cont_no_fix_count > 9) {
    if (o.n_estin_pr_used == 3) return 1;
    if (o.n_estin_pr_used >= 4 && o.lsq_dr_2D.has_result != 0 && o.lsq_dr_3D.has_result != 0 &&
        std::fabs(o.lsq_dr_2D.h_speed - o.lsq_dr_3D.h_speed) < 0.5F && KMF_get_position_variance() > 100.0F &&
        var_dpr > 1600.0F)
      return 0;
  }
  if (o.quality_pr_4s3D.has_quality != 0) return with_3D_quality_rule(has_pseudo_sv, o, meas_count);
  return without_3D_quality_rule(o);
}

S16 kalman_filter(const LSQRAIM_OUTPUT_T* lsq_p, F32* dx, F32* ddx, NV_KMF_QUALITY_T* quality_p,
                  NV_KMF_OUTPUT_T* out_p) {
  if (lsq_p == nullptr || dx == nullptr || ddx == nullptr || quality_p == nullptr || out_p == nullptr) return 0;
  *quality_p = NV_KMF_QUALITY_T{};
  *out_p = NV_KMF_OUTPUT_T{};
  std::fill(dx, dx + 5, 0.0F);
  std::fill(ddx, ddx + 5, 0.0F);
  NV_DATA_T& d = NV_record();
  const LSQRAIM_OUTPUT_T& o = *lsq_p;
  d.kmf_add_pseudo_sv = 0;
  Rows.n = Rows.n_dr = Rows.n_pr = 0;

  // Static position filter: its pseudorange list, a position hold, a covariance reset.
  S16 n_pr = 0;
  S16 n_stable = 0;
  S16 force_not_update_pos = 0;
  S16 reset_pos_pk = 0;
  const S16 has_static = SPMFILTER_process(&o, d.lla.alt, d.speed, &d.pos, &Static_quality, &n_pr, Pr_list.data(),
                                           &n_stable, &force_not_update_pos, &reset_pos_pk);
  if (has_static == 0) {
    n_pr = std::min<S16>(o.n_estin_pr_used, NVESTIN_MAX);
    std::copy(o.estins_pr_used, o.estins_pr_used + n_pr, Pr_list.begin());
  }
  if (reset_pos_pk != 0) KMF_reset_pos_pk_only();

  const S16 n_dr_in = o.n_estin_dr_2D_used > 0 ? o.n_estin_dr_2D_used : o.n_estin_dr_3D_used;
  if (n_dr_in < 2) return 0;

  convert_estimation_input_to_KMF_DR_input(o);
  const S16 first_pr_row = Rows.n;
  convert_estimation_input_to_KMF_PR_input(n_pr, Pr_list.data());
  add_pseudo_sv_to_KMF_input(need_add_pseudo_sv_for_KMF2(o), n_pr);
  if (Rows.n_pr > 0 && need_remove_all_KMF_pr_meas(d.kmf_add_pseudo_sv, &o, Rows.n) != 0) {
    // Leave the satellites' pseudorange rows out (variance 0 skips a row).
    for (S16 m = first_pr_row; m < first_pr_row + Rows.n_pr && m < Rows.n; ++m)
      Rows.r[static_cast<std::size_t>(m)] = 0.0F;
    Rows.n_pr = 0;
  }
  F32 xk[KMF_NSTATE] = {};
  std::array<F32, KMF_NSTATE * KMF_NSTATE> prior{};
  (void)KMF_get_work_covariance(prior.data());
  const F32 nis = pr_normalised_innovation(prior);
  if (n_dr_in >= 3 && (d.cont_no_fix_count < 10 || Rows.n_pr > 0)) {
    (void)KMF_update(Rows.n, Rows.hp.data(), Rows.r.data(), Rows.z.data(), Rows.is_dr.data(), Rows.is_second.data(),
                     xk);
  } else if (d.last_fix_mode < FIX_2D) {
    return 0;
  }
  for (int i = 0; i < 4; ++i) {
    dx[i] = xk[2 * i];
    ddx[i] = xk[2 * i + 1];
  }
  if (!finite_all(dx, 5) || !finite_all(ddx, 5)) {
    KMF_reset();
    std::fill(dx, dx + 5, 0.0F);
    std::fill(ddx, ddx + 5, 0.0F);
    return 0;
  }
  damp_velocity(o, ddx);
  const F32 ve = d.tmp_vel_enu.ve + ddx[0];
  const F32 vn = d.tmp_vel_enu.vn + ddx[1];
  const F32 s = std::hypot(ve, vn);
  F32 applied[4] = {1.0F, 1.0F, 1.0F, 1.0F};  // east, north, up, clock bias
  damp_position(o, s, ve, vn, dx, applied);
  if (Rows.n_dr == 3 && o.may_in_static != 0 && s > d.speed) std::fill(ddx, ddx + 5, 0.0F);
  if (force_not_update_pos != 0) {
    std::fill(dx, dx + 3, 0.0F);
    std::fill(applied, applied + 3, 0.0F);
  }
  calculate_KMF_quality_output(xk, quality_p, out_p);
  // A position correction scaled down leaves the rest of the error in the
  // working position. Once the filter has settled after a reset (prior east +
  // north variance within SETTLED_EN_VARIANCE: the 1e6 m^2 of a reset says
  // nothing of a position taken from a least-squares fix) and while the
  // pseudoranges agree with its state and uncertainty (mean squared
  // normalised innovation up to CONSISTENT_PR_NIS), the covariance must say so, or it shrinks as if the
  // whole correction had been taken and the following updates hardly move the
  // held position: a first fix's error would stay for many minutes. Rows that
  // disagree (a pseudorange fault the solver cannot exclude, or a position
  // pulled off by one) leave the covariance shrinking as before, so the
  // damping keeps resisting them.
  const F32 prior_en_variance = prior[0] + prior[2 * KMF_NSTATE + 2];  // m^2, east + north
  if (prior_en_variance <= SETTLED_EN_VARIANCE && nis >= 0.0F && nis <= CONSISTENT_PR_NIS) {
    const F32 state_scale[KMF_NSTATE] = {applied[0], 1.0F, applied[1], 1.0F, applied[2], 1.0F, applied[3], 1.0F};
    (void)KMF_scale_last_correction(state_scale);
  }
  d.use_PR_meas_fix = Rows.n_pr > 0 ? 1 : 0;
  return 1;
}
