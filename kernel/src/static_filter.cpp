// Static position filter (SPMFILTER_): speed history, stable-pseudorange
// selection, a small least squares on the stable inputs, and the decisions to
// reset the navigation filter's position covariance or to hold the position.
// Units: metres, m/s; corrections east, north, up, clock.
#include "kernel/src/static_filter.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "kernel/src/least_square.h"
#include "kernel/src/range.h"

namespace {

constexpr F32 TINY_SPEED = 0.2778F;      // m/s (1 km/h)
constexpr F32 LARGE_SPEED = 3.0F;        // m/s
constexpr F32 MAX_PROCESS_SPEED = 1.0F;  // m/s
constexpr S16 COUNT_CAP = 10000;

struct STATIC_POS_RESET_LOG_T {
  S16 has_log;
  S16 has_reset_var_residual;
  S16 last_reset_mode;
  F32 last_reset_pdop;
  F32 last_reset_var_residual;
};

S16 Enable_static_position_filter = 0;
S16 Ever_has_large_speed_flag = 0;
S16 Large_speed_count = 0;
S16 Has_speed_count = 0;
S16 Tiny_or_zero_speed_count = 0;
S16 Switch_to_enable_flag = 0;
S16 Has_last_alt_by_stable_pr = 0;
F32 Last_alt_by_stable_pr = 0.0F;
S32 Stable_alt_count = 0;
S16 Has_jump_by_alt_stable_pr_check = 0;
F32 Min_sqrt_r_var = 100.0F;
D64 Sum_alt = 0.0;
S16 Sum_alt_count = 0;
POS_T Last_log_alt_pos{};
STATIC_POS_RESET_LOG_T Static_pos_reset_log{};

// Work lists of the epoch.
std::array<NV_ESTIN_T, SPMFILTER_MAX_INPUTS> Stable{};
F32 H[LSQ_MAX_ROWS][3] = {};
F32 W[LSQ_MAX_ROWS] = {};
F32 Z[LSQ_MAX_ROWS] = {};
F32 S[LSQ_MAX_ROWS][4] = {};

void reset_variables() {
  Has_last_alt_by_stable_pr = 0;
  Last_alt_by_stable_pr = 0.0F;
  Stable_alt_count = 0;
  Has_jump_by_alt_stable_pr_check = 0;
  Min_sqrt_r_var = 100.0F;
  Sum_alt = 0.0;
  Sum_alt_count = 0;
  Static_pos_reset_log = STATIC_POS_RESET_LOG_T{};
}

void enable_disable_check(U32 fix_count, F32 speed) {
  if (speed < TINY_SPEED) {
    if (Tiny_or_zero_speed_count < COUNT_CAP) ++Tiny_or_zero_speed_count;
    Has_speed_count = 0;
    Large_speed_count = 0;
  } else {
    Tiny_or_zero_speed_count = 0;
    if (Has_speed_count < COUNT_CAP) ++Has_speed_count;
    if (speed > LARGE_SPEED) {
      if (Large_speed_count < COUNT_CAP) ++Large_speed_count;
    } else {
      Large_speed_count = 0;
    }
    if (Large_speed_count > 10) Ever_has_large_speed_flag = 1;
  }
  if (Enable_static_position_filter != 0) {
    if (Has_speed_count >= 16 || Large_speed_count >= 6) Enable_static_position_filter = 0;
    return;
  }
  const S16 need = Ever_has_large_speed_flag != 0 ? 301 : 31;
  if ((fix_count < 11 && Tiny_or_zero_speed_count > 4) || Tiny_or_zero_speed_count >= need) {
    Enable_static_position_filter = 1;
    Ever_has_large_speed_flag = 0;
    Switch_to_enable_flag = 1;
  }
}

RNG_T range_of(NV_ESTIN_T e) {
  const S16 ch = NVESTIN_get_channel_id(e);
  return (ch >= 0 && ch < NUM_HW_CHANNELS) ? RNG_get_reference(ch) : nullptr;
}

bool smoothed_is_steady(RNG_T rng) {
  D64 pr = 0.0;
  F32 var = 0.0F;
  F32 diff = 0.0F;
  S32 count = 0;
  if (RNG_get_smoothed_pseudo_range(rng, &pr, &var) == 0 || RNG_get_PR_smoothing_count(rng, &count) == 0 ||
      RNG_get_PR_smoothed_PR_abs_diff(rng, &diff) == 0)
    return false;
  return count >= 8 && ((diff < 20.0F && var < 4.0F) || (diff < 15.0F && var < 9.0F));
}

// Stable inputs of type stable_type among the n inputs of list, into Stable.
S16 select_stable_pr(S16 stable_type, S16 n, const NV_ESTIN_T* list) {
  S16 k = 0;
  for (S16 i = 0; i < n && k < SPMFILTER_MAX_INPUTS; ++i) {
    const RNG_T rng = range_of(list[i]);
    // An input the solver's integrity check excluded never counts as stable.
    if (rng == nullptr || NVESTIN_is_PR_excluded_by_RAIM(list[i]) != 0 || NVESTIN_has_large_error(list[i]) != 0)
      continue;
    bool ok = RNG_is_PR_pass_stability_check(rng, stable_type) != 0;
    if (stable_type == 0 && (ok || smoothed_is_steady(rng))) {
      ok = true;
      NVESTIN_set_can_use_smoothed_PR_flag(list[i], 1);
    }
    if (ok) Stable[static_cast<std::size_t>(k++)] = list[i];
  }
  return k;
}

F32 residual_of(NV_ESTIN_T e) {
  const D64 v = NVESTIN_can_use_smoothed_PR(e) != 0 ? NVESTIN_get_smoothed_pr_diff(e) : NVESTIN_get_pr_diff(e);
  return static_cast<F32>(v);
}

// Small least squares on n inputs (rows [dc, 1]; with exactly 3 inputs one
// more altitude row (0, 0, 1) without clock). 1 with a solution.
S16 calc_quality(S16 n, const NV_ESTIN_T* in, SPMFILTER_SIMPLE_QUALITY_T* q) {
  *q = SPMFILTER_SIMPLE_QUALITY_T{};
  if (n < 3) return 0;
  S16 rows = 0;
  for (S16 i = 0; i < n && rows < LSQ_MAX_ROWS - 1; ++i) {
    const S16 k = rows;
    if (NVESTIN_get_direction_cosine_vector(in[i], H[k]) == 0) return 0;
    W[k] = 1.0F;
    Z[k] = residual_of(in[i]);
    ++rows;
  }
  const S16 mode = rows == 3 ? 0 : 1;
  if (rows == 3) {
    H[3][0] = 0.0F;
    H[3][1] = 0.0F;
    H[3][2] = 1.0F;
    W[3] = 1.0F;
    Z[3] = 0.0F;
    rows = 4;
  }
  if (LSQ_form_invert(rows, H, mode, W, q->inv_mat) == 0) return 0;
  LSQ_form_matrixes(rows, H, mode, W, q->inv_mat, S);
  LSQ_process(rows, S, Z, q->dx);
  const F32 p2 = q->inv_mat[0][0] + q->inv_mat[1][1] + q->inv_mat[2][2];
  if (!std::isfinite(p2) || p2 < 0.0F) return 0;
  q->pdop = std::sqrt(p2);
  q->n_in = n;
  q->has_lsq_result = 1;
  if (n < 5) return 1;
  F32 sum = 0.0F;
  for (S16 i = 0; i < n; ++i) {
    const S16 k = i;
    const F32 r = Z[k] - (H[k][0] * q->dx[0] + H[k][1] * q->dx[1] + H[k][2] * q->dx[2] + q->dx[3]);
    q->r[k] = r;
    sum += r * r;
    const F32 lev = H[k][0] * S[k][0] + H[k][1] * S[k][1] + H[k][2] * S[k][2] + S[k][3];
    const F32 denom = std::max(1.0F - lev, 0.005F);
    q->slope[k] = std::sqrt((S[k][0] * S[k][0] + S[k][1] * S[k][1]) / denom);
  }
  q->r_var = sum / static_cast<F32>(n - 4);
  q->has_raim_result = std::isfinite(q->r_var) ? 1 : 0;
  return 1;
}

bool can_reset_static_position(S16 mode, F32 alt, F32 pdop, S16 has_residual, F32 var_residual) {
  const STATIC_POS_RESET_LOG_T& l = Static_pos_reset_log;
  if (l.has_log == 0) return false;
  if (mode == 3) {
    if (alt < -10.0F) return false;
    if (l.last_reset_mode == 3) {
      if (!(pdop < 0.8F * l.last_reset_pdop && pdop < l.last_reset_pdop - 0.5F)) return false;
      if (l.has_reset_var_residual != 0)
        return has_residual != 0 && pdop * var_residual < 0.8F * l.last_reset_pdop * l.last_reset_var_residual;
      return has_residual != 0 && var_residual < 25.0F;
    }
    return pdop <= 20.0F && l.has_reset_var_residual != 0 && l.last_reset_var_residual <= 35.0F;
  }
  return mode == 2 && l.last_reset_mode == 2 && pdop < l.last_reset_pdop;
}

D64 distance(const POS_T& a, const POS_T& b) {
  const D64 dx = a.px - b.px;
  const D64 dy = a.py - b.py;
  const D64 dz = a.pz - b.pz;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

struct EPOCH_T {
  S16 n;            // inputs of the solution
  S16 n_large;      // residuals above 50 m
  F32 mean_square;  // m^2
  F32 alt_est;      // m
  bool reset;
};

// Type-1 stable inputs; a position-covariance reset when they pass type 2 with good geometry.
bool stable_type1_step(const LSQRAIM_OUTPUT_T& o, SPMFILTER_SIMPLE_QUALITY_T* q, S16* n_out, NV_ESTIN_T* out) {
  const S16 n = select_stable_pr(1, o.n_estin_dr_2D_used, o.estins_dr_2D_used);
  if (n <= 4 || calc_quality(n, Stable.data(), q) == 0) return false;
  *n_out = n;
  std::copy(Stable.begin(), Stable.begin() + n, out);
  bool large = false;
  for (S16 i = 0; i < n; ++i) large = large || std::fabs(residual_of(out[i])) > 30.0F;
  if (!large) return false;
  const S16 n2 = select_stable_pr(2, n, out);
  const F32 sr = std::sqrt(std::max(0.0F, q->r_var));
  bool ok = false;
  if (n2 == n && q->has_raim_result != 0)
    ok = (q->pdop < 4.0F && sr < 4.0F) || (q->pdop < 5.0F && sr < 2.0F);
  else
    ok = q->pdop < 2.0F && sr < 4.0F;
  if (!ok) return false;
  SPMFILTER_log_reset_KMF_parameters(3, q->pdop, q->has_raim_result, q->r_var);
  return true;
}

void altitude_jump_test(const SPMFILTER_SIMPLE_QUALITY_T& q, F32 last_alt, const POS_T* last_pos, EPOCH_T* e) {
  if (Has_last_alt_by_stable_pr != 0 && std::fabs(e->alt_est - Last_alt_by_stable_pr) < 5.0F)
    ++Stable_alt_count;
  else
    Stable_alt_count = 0;
  Has_last_alt_by_stable_pr = 1;
  Last_alt_by_stable_pr = e->alt_est;
  if (!(q.pdop < 4.0F)) return;
  const F32 sr = std::sqrt(std::max(0.0F, q.r_var));
  Min_sqrt_r_var = std::min(Min_sqrt_r_var, sr);
  const F32 up = q.dx[2];
  bool jump =
      Stable_alt_count >= 4 && sr < (Has_jump_by_alt_stable_pr_check != 0 ? 4.0F : 10.0F) && std::fabs(up) > 100.0F;
  if (!jump && Sum_alt_count > 9) {
    const auto mean = static_cast<F32>(Sum_alt / Sum_alt_count);
    const F32 sig_up = std::sqrt(std::max(q.inv_mat[2][2], 1e-6F));
    const F32 sig_h = std::sqrt(std::max(q.inv_mat[0][0] + q.inv_mat[1][1], 1e-6F));
    jump = std::fabs(last_alt - mean) > 35.0F && std::fabs(e->alt_est - mean) < 15.0F && q.r_var < 25.0F &&
           std::fabs(up) / sig_up > std::hypot(q.dx[0], q.dx[1]) / sig_h;
  }
  if (!jump) return;
  e->reset = true;
  Has_jump_by_alt_stable_pr_check = 1;
  Last_alt_by_stable_pr = e->alt_est;
  if (last_pos != nullptr) Last_log_alt_pos = *last_pos;
}

// Steps without a type-1 reset: type-0 inputs, the altitude record, the jump and reset tests.
void static_solution_step(const LSQRAIM_OUTPUT_T& o, F32 last_alt, const POS_T* last_pos, SPMFILTER_SIMPLE_QUALITY_T* q,
                          S16* n_pr, NV_ESTIN_T* list, S16* force_hold, EPOCH_T* e) {
  if (*n_pr < 5) {
    const S16 n0 = select_stable_pr(0, o.n_estin_pr_used, o.estins_pr_used);
    if (n0 > 2) {
      *n_pr = n0;
      std::copy(Stable.begin(), Stable.begin() + n0, list);
    }
  }
  if (*n_pr <= 2) return;
  D64 ms = 0.0;
  for (S16 i = 0; i < *n_pr; ++i) {
    const F32 r = residual_of(list[i]);
    ms += static_cast<D64>(r) * r;
    if (std::fabs(r) > 50.0F) ++e->n_large;
  }
  e->mean_square = static_cast<F32>(ms / *n_pr);
  e->n = *n_pr;
  if (calc_quality(*n_pr, list, q) == 0) return;
  if (*n_pr == 3 && q->pdop >= 4.0F) *force_hold = 1;
  e->alt_est = last_alt + q->dx[2];
  if (*n_pr > 3 && q->pdop < 4.0F && Sum_alt_count < COUNT_CAP) {
    Sum_alt += e->alt_est;
    ++Sum_alt_count;
  }
  if (e->n_large > 0 && *n_pr > 4) altitude_jump_test(*q, last_alt, last_pos, e);
  const F32 mean = Sum_alt_count > 0 ? static_cast<F32>(Sum_alt / Sum_alt_count) : e->alt_est;
  const STATIC_POS_RESET_LOG_T& l = Static_pos_reset_log;
  if (*n_pr > 4 && Sum_alt_count > 9 && q->pdop < 5.0F && l.has_log != 0 && l.last_reset_pdop > 1.25F * q->pdop &&
      std::fabs(e->alt_est - mean) < 30.0F && e->mean_square < 25.0F)
    SPMFILTER_log_reset_KMF_parameters(3, q->pdop, q->has_raim_result, q->r_var);
  if (!e->reset) {
    const S16 mode = *n_pr < 4 ? 2 : 3;
    e->reset = can_reset_static_position(mode, e->alt_est, q->pdop, q->has_raim_result, q->r_var) &&
               std::fabs(q->dx[2]) > 50.0F && (Sum_alt_count <= 9 || std::fabs(e->alt_est - mean) < 30.0F);
  }
}

}  // namespace

void SPMFILTER_init() {
  Enable_static_position_filter = 0;
  Ever_has_large_speed_flag = 0;
  Large_speed_count = 0;
  Has_speed_count = 0;
  Tiny_or_zero_speed_count = 0;
  Switch_to_enable_flag = 0;
  Last_log_alt_pos = POS_T{};
  reset_variables();
}

S16 SPMFILTER_is_enabled() { return Enable_static_position_filter; }

void SPMFILTER_update_navigation_states(U32 fix_count, S16 fix_mode, F32 speed) {
  Switch_to_enable_flag = 0;
  if (fix_mode < FIX_2D || fix_count == 0U || !std::isfinite(speed)) return;
  enable_disable_check(fix_count, speed);
}

void SPMFILTER_log_reset_KMF_parameters(S16 mode, F32 pdop, S16 has_residual, F32 var_residual) {
  STATIC_POS_RESET_LOG_T& l = Static_pos_reset_log;
  l.has_log = 1;
  l.last_reset_mode = mode;
  l.last_reset_pdop = pdop;
  l.has_reset_var_residual = has_residual != 0 ? 1 : 0;
  if (has_residual != 0) l.last_reset_var_residual = var_residual;
}

S16 SPMFILTER_process(const LSQRAIM_OUTPUT_T* lsq_est_result_p, F32 last_alt, F32 last_speed, const POS_T* last_pos_p,
                      SPMFILTER_SIMPLE_QUALITY_T* static_pos_quality_p, S16* pr_nest_in_p,
                      NV_ESTIN_T* pr_est_in_out_ary, S16* stable_nest_in_p, S16* force_not_update_pos_p,
                      S16* reset_kmf_pos_pk_p) {
  if (static_pos_quality_p == nullptr || pr_nest_in_p == nullptr || pr_est_in_out_ary == nullptr ||
      stable_nest_in_p == nullptr || force_not_update_pos_p == nullptr || reset_kmf_pos_pk_p == nullptr)
    return 0;
  *static_pos_quality_p = SPMFILTER_SIMPLE_QUALITY_T{};
  *pr_nest_in_p = 0;
  *stable_nest_in_p = 0;
  *force_not_update_pos_p = 0;
  *reset_kmf_pos_pk_p = 0;
  if (lsq_est_result_p == nullptr || !std::isfinite(last_speed) || !std::isfinite(last_alt)) return 0;
  if (last_speed > MAX_PROCESS_SPEED || Enable_static_position_filter == 0) return 0;
  const LSQRAIM_OUTPUT_T& o = *lsq_est_result_p;
  if (Switch_to_enable_flag != 0 && last_pos_p != nullptr && Has_last_alt_by_stable_pr != 0 &&
      distance(*last_pos_p, Last_log_alt_pos) > 100.0)
    reset_variables();
  S16 n_pr = std::min<S16>(o.n_estin_pr_used, SPMFILTER_MAX_INPUTS);
  std::copy(o.estins_pr_used, o.estins_pr_used + n_pr, pr_est_in_out_ary);
  SPMFILTER_SIMPLE_QUALITY_T& q = *static_pos_quality_p;
  EPOCH_T e{};
  S16 n1 = 0;
  e.reset = stable_type1_step(o, &q, &n1, pr_est_in_out_ary);
  if (n1 > 4) n_pr = n1;
  *stable_nest_in_p = n1;
  if (!e.reset) {
    static_solution_step(o, last_alt, last_pos_p, &q, &n_pr, pr_est_in_out_ary, force_not_update_pos_p, &e);
    *stable_nest_in_p = std::max(n1, e.n);
  }
  if (*stable_nest_in_p < 5) Stable_alt_count = 0;
  *pr_nest_in_p = n_pr;
  *reset_kmf_pos_pk_p = e.reset ? 1 : 0;
  return 1;
}
