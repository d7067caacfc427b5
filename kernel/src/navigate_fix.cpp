// Navigation driver: the position fix of every epoch after the first fix.
// Estimation inputs against the predicted state, bad-measurement screens,
// the least-squares solver with RAIM and the Kalman filter, the choice
// between them, the quality check, and the fix states written into the
// record (channel use, DOPs, weak-geometry and DOP-mask rejections, fix
// mode, speed and course, platform limits).
#include <algorithm>
#include <array>
#include <cmath>

#include "kernel/src/coordinate.h"
#include "kernel/src/kalman_filter.h"
#include "kernel/src/least_square.h"
#include "kernel/src/least_square_raim.h"
#include "kernel/src/nav_estimation_inputs.h"
#include "kernel/src/nav_model.h"
#include "kernel/src/navigate.h"
#include "kernel/src/navigate_internal.h"
#include "kernel/src/navigate_record.h"
#include "kernel/src/range.h"

namespace {

struct FIX_WORK_T {
  LSQRAIM_INPUT_T in;
  LSQRAIM_OUTPUT_T out;
  NV_KMF_QUALITY_T kmf_quality;
  NV_KMF_OUTPUT_T kmf_out;
  std::array<NV_ESTIN_T, NVESTIN_MAX> list;
  S16 n;
  S16 vel_lsq_type;  // 1: 3-D velocity solution, 0: 2-D
  F32 dx[5];         // east, north, up (m), clock (m), second clock (m)
  F32 ddx[5];        // east, north, up velocity (m/s), drift (m/s), second drift
};
FIX_WORK_T Work{};

F32 horizontal(const F32* v) { return std::sqrt(v[0] * v[0] + v[1] * v[1]); }

// Right after an epoch without fix, with few good-carrier range rates, the
// epoch is skipped once.
bool force_drop_fix_once(S16 n) {
  NV_DATA_T& d = NV_record();
  if (d.last_fix_mode >= FIX_2D || d.has_force_drop_fix_once_by_acc_carrier_slots_check != 0) return false;
  std::array<RNG_T, NUM_HW_CHANNELS> good{};
  const S16 n_good = RNG_get_good_acc_carrier_range_array(good.data());
  if ((n_good == 3 || n_good == 4) || (n_good < 3 && n > 2)) {
    d.has_force_drop_fix_once_by_acc_carrier_slots_check = 1;
    return true;
  }
  return false;
}

void run_bad_meas_checks() {
  const NV_BAD_MEAS_CHECK_CALLBACK_T cb = NVI_bad_meas_check();
  if (cb == nullptr) return;
  for (int pass = 0; pass < 2; ++pass) {
    const S16 before = Work.n;
    (void)cb(Work.n, Work.list.data(), NV_record().fix_3D_count);
    Work.n = NVESTIN_get_no_large_error_inputs(Work.list.data());
    if (Work.n == before) break;
  }
}

void prepare_least_square_raim_input() {
  NV_DATA_T& d = NV_record();
  LSQRAIM_INPUT_T& in = Work.in;
  in = LSQRAIM_INPUT_T{};
  in.n_estin_all = Work.n;
  std::copy(Work.list.begin(), Work.list.begin() + Work.n, in.estin_all_ary);
  in.n_estin = NVESTIN_select_inputs_with_good_carrier_cycle_delta_range(Work.n, Work.list.data(), in.estin_ary);
  in.fix_3D_count = d.fix_3D_count;
  in.last_speed = d.speed;
  in.cont_no_fix_count = static_cast<S16>(d.cont_no_fix_count);
  in.cont_real_fix_count = static_cast<S16>(d.cont_real_fix_count);
  in.rcv_pos_p = &d.tmp_pos;
  in.rcv_vel_p = &d.tmp_vel;
  in.vel_enu_p = &d.tmp_vel_enu;
  in.enu_mat = d.enu;
  in.alt = d.last_good_3D_alt;
}

// 1: the 3-D velocity solution, 0: the 2-D one.
S16 select_velocity_least_square_result(const LSQRAIM_OUTPUT_T& o) {
  if (o.lsq_dr_3D.has_result == 0) return 0;
  if (o.lsq_dr_2D.has_result == 0) return 1;
  const LSQRAIM_QUALITY_T& q3 = o.quality_dr_3D;
  const LSQRAIM_QUALITY_T& q2 = o.quality_dr_2D;
  if (q3.has_quality == 0 || q2.has_quality == 0) return 0;
  const bool pdop_ok = q3.has_pdop != 0 && q3.pdop < 10.0F;
  if (q2.var_residual > q3.var_residual && o.lsq_dr_3D.v_speed < 1.0F && pdop_ok) return 1;
  if (q2.var_residual <= q3.var_residual && pdop_ok && o.lsq_dr_2D.v_speed >= 5.0F) return 1;
  return 0;
}

void accumulate_static_ddr_sigma(const LSQRAIM_OUTPUT_T& o) {
  NV_DATA_T& d = NV_record();
  if (d.cont_no_fix_count != 0 && d.fix_count > 10 && d.not_enough_meas_in_count < 5) {
    if (d.turn_off_acc_sddr_sigma_flag != 0) return;
    d.has_acc_sddr_sigma = 1;
    D64 sum = 0.0;
    D64 sum2 = 0.0;
    S16 k = 0;
    for (S16 i = 0; i < o.n_estin_dr_2D_used; ++i) {
      const D64 v = NVESTIN_get_dr_diff_static(o.estins_dr_2D_used[i]);
      if (!std::isfinite(v)) continue;
      sum += v;
      sum2 += v * v;
      ++k;
    }
    if (k == 0) return;
    const D64 mean = sum / k;
    const D64 var = sum2 / k - mean * mean;
    const F32 sigma = var > 0.0 ? static_cast<F32>(std::sqrt(var)) : 0.0F;
    if (sigma >= 0.05F) d.acc_sddr_sigma += sigma;
    return;
  }
  d.has_acc_sddr_sigma = 0;
  d.acc_sddr_sigma = 0.0F;
  d.turn_off_acc_sddr_sigma_flag = d.cont_no_fix_count == 0 ? 0 : 1;
}

// --- Choice between least squares and the filter ----------------------------------------

struct SELECT_T {
  S16 vel_lsq_type;
  S16 has_ls;
  const LSQRAIM_OUTPUT_T* ls;
  S16 has_kf;
  const NV_KMF_QUALITY_T* kq;
  S16 n_gps;
};

const LSQRAIM_LSQ_DR_T& velocity_solution(const SELECT_T& s, const LSQRAIM_QUALITY_T** q) {
  const LSQRAIM_OUTPUT_T& o = *s.ls;
  if (o.lsq_dr_2D.has_result == 0 || s.vel_lsq_type == 1) {
    *q = &o.quality_dr_3D;
    return o.lsq_dr_3D;
  }
  *q = &o.quality_dr_2D;
  return o.lsq_dr_2D;
}

// Steps 3.1 .. 3.4 of the choice (filter kept or dropped; false: no fix).
bool filter_plausibility(const SELECT_T& s, const LSQRAIM_QUALITY_T& vq, S16* use_kf) {
  const NV_DATA_T& d = NV_record();
  const LSQRAIM_OUTPUT_T& o = *s.ls;
  const LSQRAIM_QUALITY_T& q3 = o.quality_pr_4s3D;
  bool large_slope = false;
  bool low_cn0 = false;
  F32 slope_sum = 0.0F;
  S16 min_cn0 = 99;
  for (S16 i = 0; i < o.n_estin_pr_used; ++i) {
    if (i < LSQRAIM_MAX_INPUTS && q3.slope[i] > 10.0F) large_slope = true;
    if (i < LSQRAIM_MAX_INPUTS) slope_sum += q3.slope[i];
    const S16 cn0 = NVESTIN_get_cn0(o.estins_pr_used[i]);
    low_cn0 = low_cn0 || cn0 < 21;
    min_cn0 = std::min(min_cn0, cn0);
  }
  if (q3.var_residual > 900.0F && s.kq->var_pr_residual > 1600.0F && vq.var_residual > 0.25F) return false;
  if (q3.var_residual < 100.0F && s.kq->var_pr_residual >= 900.0F && s.kq->var_pr_residual > 100.0F * q3.var_residual &&
      vq.var_residual < 1.0F && s.n_gps > 0) {
    const F32* dx = o.lsq_pr_4s3D.dx;
    const F32 h = o.lsq_pr_4s3D.has_result != 0 ? horizontal(dx) : 0.0F;
    const F32 v = o.lsq_pr_4s3D.has_result != 0 ? std::fabs(dx[2]) : 0.0F;
    const bool strict_ok = !low_cn0 && q3.has_pdop != 0 && q3.pdop < 7.0F && !large_slope && q3.var_residual < 1.0F &&
                           vq.var_residual < 0.01F;
    if ((h > 100.0F || v > 200.0F) && (o.n_estin_pr_used >= 7 || strict_ok)) *use_kf = 0;
  }
  if (d.cont_no_fix_count > 9) {
    if (o.n_estin_pr_used == 4 && min_cn0 > 37 && q3.pdop < 20.0F) *use_kf = 0;
    if (!(d.has_acc_sddr_sigma != 0 && d.acc_sddr_sigma < 30.0F)) {
      if (vq.var_residual < (slope_sum >= 30.0F ? 0.04F : 0.25F)) *use_kf = 0;
      if (*use_kf != 0) return false;
    }
  }
  return true;
}

// 0 no fix, 1 least squares, 2 filter; dx, ddx (5 each) written for 1.
S16 position_fix_result_select(const SELECT_T& s, const F32* kf_dx, const F32* kf_ddx, F32* dx, F32* ddx) {
  NV_DATA_T& d = NV_record();
  S16 use_kf = s.has_kf;
  const LSQRAIM_OUTPUT_T& o = *s.ls;
  const LSQRAIM_QUALITY_T& q3 = o.quality_pr_4s3D;
  const bool both_q = q3.has_quality != 0 && s.kq->has_quality != 0;
  if (s.has_ls != 0 && s.has_kf != 0 && both_q && o.use_good_carrier_dr != 0 && o.use_may_convergence_pr != 0 &&
      d.cont_no_good_carrier_postion_count > 30 && s.kq->var_pr_residual > 100.0F && q3.pdop < 5.0F &&
      q3.var_residual < 4.0F && o.lsq_dr_2D.h_speed > 3.0F) {
    d.cont_no_good_carrier_postion_count = 0;
    use_kf = 0;
  }
  const LSQRAIM_QUALITY_T* vq = nullptr;
  const LSQRAIM_LSQ_DR_T& vel = velocity_solution(s, &vq);
  if (s.has_ls != 0 && use_kf != 0 && both_q && vq->has_quality != 0 && o.n_estin_pr_used >= 3) {
    if (!filter_plausibility(s, *vq, &use_kf)) return 0;
  } else if (s.has_ls != 0 && use_kf != 0 && o.n_estin_pr_used >= 3) {
    const bool keep = (d.cont_no_fix_count < 10 && d.fix_3D_count > 9) ||
                      (s.kq->has_quality != 0 && s.kq->var_pr_residual <= 90000.0F && s.kq->var_dr_residual <= 100.0F);
    if (!keep && q3.has_pdop != 0 && q3.pdop < 20.0F) use_kf = 0;
  }
  if (d.cont_no_fix_count > 9) use_kf = 0;
  if (use_kf != 0) {
    std::copy(kf_dx, kf_dx + 5, dx);
    std::copy(kf_ddx, kf_ddx + 5, ddx);
    return 2;
  }
  if (s.has_ls == 0) return 0;
  const LSQRAIM_LSQ_PR_T* pos = &o.lsq_pr_4s3D;
  if (pos->has_result == 0) {
    pos = &o.lsq_pr_4s2D;
    if (pos->has_result == 0) return 0;
    const LSQRAIM_QUALITY_T& q2 = o.quality_pr_4s2D;
    if (d.cont_no_fix_count > 9 && q2.has_pdop != 0 && q2.pdop > 8.0F) return 0;
    d.lsq_add_pseudo_sv = 1;
  }
  if (vel.has_result == 0) return 0;
  std::copy(pos->dx, pos->dx + 4, dx);
  std::copy(vel.ddx, vel.ddx + 4, ddx);
  dx[4] = ddx[4] = 0.0F;
  return 1;
}

// --- Quality and state update -----------------------------------------------------------

const LSQRAIM_QUALITY_T* chosen_position_quality(const LSQRAIM_OUTPUT_T& o) {
  return NV_record().lsq_add_pseudo_sv != 0 ? &o.quality_pr_4s2D : &o.quality_pr_4s3D;
}

bool position_fix_quality_check(S16 type) {
  NV_DATA_T& d = NV_record();
  F32 var_pr = 0.0F;
  F32 var_dr = 0.0F;
  bool has = false;
  if (type == NAVI_KF) {
    has = Work.kmf_quality.has_quality != 0;
    var_pr = Work.kmf_quality.var_pr_residual;
    var_dr = Work.kmf_quality.var_dr_residual;
  } else {
    const LSQRAIM_QUALITY_T* qp = chosen_position_quality(Work.out);
    const LSQRAIM_QUALITY_T& qv =
        Work.vel_lsq_type == 1 || Work.out.lsq_dr_2D.has_result == 0 ? Work.out.quality_dr_3D : Work.out.quality_dr_2D;
    has = qp->has_quality != 0 && qv.has_quality != 0;
    var_pr = qp->var_residual;
    var_dr = qv.var_residual;
  }
  if (!has) return true;
  if (!(var_pr < 36000.0F && var_dr < 900.0F)) return false;
  d.pr_residual_sigma = std::sqrt(std::max(0.0F, var_pr));
  d.dr_residual_sigma = std::sqrt(std::max(0.0F, var_dr));
  d.has_residual_sigma = 1;
  return true;
}

void record_last_estimated_EN_states() {
  NV_DATA_T& d = NV_record();
  const LSQRAIM_LSQ_PR_T& p = Work.out.lsq_pr_4s3D;
  d.has_last_lsq_dx_en = p.has_result;
  if (p.has_result != 0) std::copy(p.dx, p.dx + 3, d.last_lsq_dx_enu);
  d.has_last_use_dx_en = 1;
  d.last_use_dx_en[0] = Work.dx[0];
  d.last_use_dx_en[1] = Work.dx[1];
}

// Applies the ENU corrections to the working state.
void update_least_square_output_to_position() {
  NV_DATA_T& d = NV_record();
  F32 p[3];
  COO_inv_linear_transform(d.enu, Work.dx, p);
  d.tmp_pos.px += p[0];
  d.tmp_pos.py += p[1];
  d.tmp_pos.pz += p[2];
  d.tmp_cbias += Work.dx[3];
  d.tmp_ctsys_glo += Work.dx[4];
  F32 v[3];
  COO_inv_linear_transform(d.enu, Work.ddx, v);
  d.tmp_vel.vx += v[0];
  d.tmp_vel.vy += v[1];
  d.tmp_vel.vz += v[2];
  d.tmp_cdrift += Work.ddx[3];
  d.tmp_cdtsys_glo += Work.ddx[4];
}

// 4 x 4 inverse of the used inputs with the altitude pseudo-satellite (ENU). false when singular.
bool form_2D_dop_matrix(S16 n, const NV_ESTIN_T* list, F32 q[4][4]) {
  std::array<F32[3], LSQ_MAX_ROWS> h{};
  std::array<F32, LSQ_MAX_ROWS> w{};
  S16 rows = 0;
  for (S16 i = 0; i < n && rows < LSQ_MAX_ROWS - 1; ++i) {
    if (!NVESTIN_get_direction_cosine_vector(list[i], h[static_cast<std::size_t>(rows)])) continue;
    w[static_cast<std::size_t>(rows)] = 1.0F;
    ++rows;
  }
  h[static_cast<std::size_t>(rows)][0] = 0.0F;
  h[static_cast<std::size_t>(rows)][1] = 0.0F;
  h[static_cast<std::size_t>(rows)][2] = 1.0F;
  w[static_cast<std::size_t>(rows)] = 1.0F;
  ++rows;
  if (rows < 4) return false;
  return LSQ_form_invert(rows, h.data(), 0, w.data(), q) != 0;
}

// The DOP matrix of the epoch's solution (false: none).
bool dop_matrix(S16 lsq_kf_type, S16 n_used, const NV_ESTIN_T* used, F32 q[4][4]) {
  const NV_DATA_T& d = NV_record();
  const LSQRAIM_OUTPUT_T& o = Work.out;
  // A 3-D fix (least squares without the altitude pseudo-satellite, or the
  // filter without an altitude pseudo-measurement) reports the DOPs of the 3-D
  // position geometry.
  const bool three_d =
      lsq_kf_type == NAVI_LSQ ? d.lsq_add_pseudo_sv == 0 : (lsq_kf_type == NAVI_KF && d.kmf_add_pseudo_sv == 0);
  if (three_d && o.lsq_pr_4s3D.has_result != 0) {
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) q[i][j] = o.lsq_pr_4s3D.inv_mat[i * 4 + j];
    return true;
  }
  if (o.lsq_dr_2D.has_result == 0 || n_used < 4) return form_2D_dop_matrix(n_used, used, q);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) q[i][j] = o.lsq_dr_2D.inv_mat[i * 4 + j];
  return true;
}

// Weak geometry after too few inputs or a long gap. true: rejected.
bool weak_solution(S16 lsq_kf_type) {
  const NV_DATA_T& d = NV_record();
  const LSQRAIM_OUTPUT_T& o = Work.out;
  const S16 n_pr = lsq_kf_type == NAVI_KF ? Work.kmf_out.n_used_pr : o.n_estin_pr_used;
  const S16 n_dr = lsq_kf_type == NAVI_KF ? Work.kmf_out.n_used_dr : o.n_estin_dr_2D_used;
  if (!((n_pr < 4 && n_dr < 4) || d.cont_no_fix_count > 9)) return false;
  const F32 lim = (o.use_good_carrier_dr != 0 && d.last_fix_mode >= FIX_2D) ? 20.0F : 10.0F;
  if (!(d.pdop >= lim || d.hdop >= lim || d.tdop >= lim)) return false;
  const F32 dpos = std::sqrt(Work.dx[0] * Work.dx[0] + Work.dx[1] * Work.dx[1] + Work.dx[2] * Work.dx[2]);
  const F32 dvel = std::sqrt(Work.ddx[0] * Work.ddx[0] + Work.ddx[1] * Work.ddx[1] + Work.ddx[2] * Work.ddx[2]);
  const F32 hs = std::sqrt(d.tmp_vel_enu.ve * d.tmp_vel_enu.ve + d.tmp_vel_enu.vn * d.tmp_vel_enu.vn);
  return dpos > 5.0F || (dvel > 0.5F && hs > 0.5F);
}

void show_speed_rules() {
  NV_DATA_T& d = NV_record();
  d.show_speed = d.speed;
  const bool three = d.fix_sats == 3;
  if ((NVI_near_init_position(20.0) && d.fix_count < 4) || (three && d.fix_count < 3) ||
      (d.cont_no_fix_count > 2 && three) || d.fix_count < 2 || (d.fix_count < 5 && d.speed < 1.5F))
    d.show_speed = 0.0F;
}

// Error statistics of a least-squares fix: residual rms and the ENU error
// ellipse from the residual variance and the DOP matrix.
void update_error_statistics(const F32 q[4][4]) {
  NV_DATA_T& d = NV_record();
  if (d.has_residual_sigma == 0) return;
  const F32 var = d.pr_residual_sigma * d.pr_residual_sigma;
  const F32 ee = var * q[0][0];
  const F32 nn = var * q[1][1];
  const F32 en = var * q[0][1];
  const F32 uu = var * q[2][2];
  if (!(ee >= 0.0F && nn >= 0.0F && uu >= 0.0F)) return;
  const F32 mid = 0.5F * (ee + nn);
  const F32 rad = std::sqrt(0.25F * (ee - nn) * (ee - nn) + en * en);
  d.err_rms = d.pr_residual_sigma;
  d.err_semi_major = std::sqrt(mid + rad);
  d.err_semi_minor = std::sqrt(std::max(0.0F, mid - rad));
  F32 orient = 0.5F * std::atan2(2.0F * en, nn - ee) * 57.2957795131F;  // from north toward east
  if (orient < 0.0F) orient += 180.0F;
  d.err_orientation = orient;
  d.err_enu[0] = std::sqrt(ee);
  d.err_enu[1] = std::sqrt(nn);
  d.err_enu[2] = std::sqrt(uu);
  d.has_error_statistics = 1;
}

void update_navigate_states(S16 gtc_wn, D64 gtc_sec, S16 lsq_kf_type) {
  NV_DATA_T& d = NV_record();
  const LSQRAIM_OUTPUT_T& o = Work.out;
  // The filter's range-rate rows come from the 2-D velocity solution's list,
  // or from the 3-D one's when the 2-D list is empty.
  const bool kf_3d_list = lsq_kf_type == NAVI_KF && o.n_estin_dr_2D_used == 0;
  const NV_ESTIN_T* dr_used = kf_3d_list ? o.estins_dr_3D_used : o.estins_dr_2D_used;
  const S16 n_dr_used = kf_3d_list ? o.n_estin_dr_3D_used : o.n_estin_dr_2D_used;
  const NV_ESTIN_T* used = lsq_kf_type == NAVI_LSQ ? o.estins_pr_used : dr_used;
  const S16 n_used = lsq_kf_type == NAVI_LSQ ? o.n_estin_pr_used : n_dr_used;
  F32 q[4][4];
  const bool has_q = dop_matrix(lsq_kf_type, n_used, used, q);
  COO_cartesian_to_geodetic(&d.tmp_pos, &d.tmp_lla);
  const bool pseudo = (lsq_kf_type == NAVI_LSQ ? d.lsq_add_pseudo_sv : d.kmf_add_pseudo_sv) != 0;
  if (NVI_fault_check_and_handle(!pseudo, n_used)) return;
  d.fix_sats = n_used;
  NVI_set_used_channels(n_dr_used, dr_used, NV_CH_SHOW_USED | NV_CH_DR_USED);
  if (d.use_PR_meas_fix != 0 && lsq_kf_type == NAVI_KF) {
    // The filter's pseudorange rows: its used channels (RAIM exclusions and
    // the static filter's choice left out).
    std::array<NV_ESTIN_T, NVESTIN_MAX> pr{};
    const S16 n_pr = std::min<S16>(Work.kmf_out.n_used_pr, NVESTIN_MAX);
    for (S16 i = 0; i < n_pr; ++i)
      pr[static_cast<std::size_t>(i)] = NVESTIN_get_reference(Work.kmf_out.used_pr_chid_ary[i]);
    NVI_set_used_channels(n_pr, pr.data(), NV_CH_SHOW_USED | NV_CH_PR_USED);
  } else if (d.use_PR_meas_fix != 0) {
    NVI_set_used_channels(n_used, used, NV_CH_SHOW_USED | NV_CH_PR_USED);
  }
  d.show_fix_sats = NVI_count_show_used(n_used, used);
  NVI_mark_sbas_channels();
  NVI_update_DOPs(has_q ? q : nullptr);
  NVI_update_show_DOPs();
  if (weak_solution(lsq_kf_type)) {
    NVI_clear_channel_flags();
    return;
  }
  if (!NVI_check_show_DOP_mask(d.show_fix_sats)) {
    NVI_set_no_fix_by_dop_mask();
    NVI_clear_channel_flags();
    return;
  }
  if (d.fix_sats < 3) {
    d.fix_mode = FIX_PREDICTION;
    return;
  }
  d.fix_mode = pseudo ? FIX_2D : FIX_3D;
  NVI_apply_fix_states(gtc_wn, gtc_sec);
  if (d.fix_mode == FIX_3D) {
    d.has_3D_fixed = 1;
    if (d.vdop <= 10.0F) d.last_good_3D_alt = d.lla.alt;
  }
  show_speed_rules();
  d.vel_use_good_carrier_meas = static_cast<S08>(o.use_good_carrier_dr);
  d.pos_use_may_convergence_meas = static_cast<S08>(o.use_may_convergence_pr);
  NVI_finish_fix(n_used, used);
  if (o.use_good_carrier_dr != 0 && o.use_may_convergence_pr != 0 && d.has_residual_sigma != 0 &&
      d.pr_residual_sigma < 4.0F) {
    d.good_carrier_position_flag = 1;
    d.cont_no_good_carrier_postion_count = 0;
  }
  if (lsq_kf_type == NAVI_LSQ && has_q) update_error_statistics(q);
}

// Inputs of the epoch; false when there are too few for a fix.
bool collect_inputs(S16 n, RNG_T* rngs) {
  NV_DATA_T& d = NV_record();
  const S16 model = NVMODEL_get_model();
  const bool special = model == AIRBORNE || model == BALLOON || model == MARINE;
  NVESTIN_set_skip_first_updated_measurement(special ? 1 : 0);
  NVESTIN_set_CN0_threshold(special ? NVMODEL_get_CN0_threshold() : 0);
  const ELV_CNR_MASK_T& mask = NVI_elv_cnr_mask();
  (void)NVESTIN_update(n, rngs, d.tmp_cbias, d.tmp_cdrift, d.tmp_ctsys_glo, d.tmp_cdtsys_glo, &d.tmp_vel, 1, 1, &mask);
  (void)NVESTIN_convert_direction_cosine_vectors_to_ENU(d.enu);
  Work.n = NVESTIN_get_inputs(Work.list.data());
  // Compensated range rates (AIRBORNE) need the range records' compensated
  // rates, which the ranges do not yet provide: the plain rates are used.
  run_bad_meas_checks();
  if (Work.n < 3 || (Work.n < 4 && NV_flag_record().Enable_2D_fix == 0)) {
    if (d.not_enough_meas_in_count < 10000) ++d.not_enough_meas_in_count;
    return false;
  }
  d.not_enough_meas_in_count = 0;
  return true;
}

}  // namespace

void NVI_calculate_position_fix(S16 n, RNG_T* rngs, S16 gtc_wn, D64 gtc_sec) {
  NV_DATA_T& d = NV_record();
  if (d.cont_no_good_carrier_postion_count < 1000) ++d.cont_no_good_carrier_postion_count;
  NVESTIN_reset_all();
  Work.out = LSQRAIM_OUTPUT_T{};
  Work.kmf_quality = NV_KMF_QUALITY_T{};
  Work.kmf_out = NV_KMF_OUTPUT_T{};
  std::fill(std::begin(Work.dx), std::end(Work.dx), 0.0F);
  std::fill(std::begin(Work.ddx), std::end(Work.ddx), 0.0F);
  RNG_update_receiver_states(&d.tmp_pos, &d.tmp_vel, d.tmp_cbias, d.tmp_cdrift);
  RNG_update_receiver_states_for_elevation(&d.pos, d.enu);
  if (force_drop_fix_once(n)) return;
  if (!collect_inputs(n, rngs)) return;
  S16 n_gps = 0;
  for (S16 i = 0; i < Work.n; ++i)
    n_gps += NVESTIN_get_gnss_type(Work.list[static_cast<std::size_t>(i)]) == GNSS_TYPE_GPS ? 1 : 0;
  prepare_least_square_raim_input();
  const S16 has_ls = LSQRAIM_proc(&Work.in, &Work.out);
  S16 has_kf = 0;
  F32 kf_dx[5] = {};
  F32 kf_ddx[5] = {};
  Work.vel_lsq_type = 0;
  if (has_ls != 0) {
    Work.vel_lsq_type = select_velocity_least_square_result(Work.out);
    accumulate_static_ddr_sigma(Work.out);
    check_LSQ_result_to_switch_KMF_model(&Work.out);
    if (NVESTIN_is_coordinate_at_ENU() != 0)
      has_kf = kalman_filter(&Work.out, kf_dx, kf_ddx, &Work.kmf_quality, &Work.kmf_out);
  }
  const SELECT_T sel{Work.vel_lsq_type, has_ls, &Work.out, has_kf, &Work.kmf_quality, n_gps};
  d.navi_type = position_fix_result_select(sel, kf_dx, kf_ddx, Work.dx, Work.ddx);
  if (d.navi_type == NAVI_LSQ) {
    if (horizontal(Work.dx) > 1000.0F || std::fabs(Work.dx[3]) > 1000.0F) KMF_reset();
    d.use_PR_meas_fix = 1;
  }
  if (d.navi_type == NAVI_NONE) return;
  // A filter correction from range rates alone moves the working state that
  // the kept pseudorange residuals were formed against: shift them with it.
  if (d.navi_type == NAVI_KF && d.use_PR_meas_fix == 0) (void)NVESTIN_compesate_residuals_to_pr_diff_buffer(4, Work.dx);
  record_last_estimated_EN_states();
  if (!position_fix_quality_check(d.navi_type)) return;
  update_least_square_output_to_position();
  if (!NVI_working_state_finite()) return;
  update_navigate_states(gtc_wn, gtc_sec, d.navi_type);
  std::copy(std::begin(Work.dx), std::end(Work.dx), d.dx);
}
