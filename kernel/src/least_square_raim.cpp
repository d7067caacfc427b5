// Least-squares fix with RAIM: velocity and position corrections from the
// epoch's estimation inputs, with fault detection and exclusion.
#include "kernel/src/least_square_raim.h"

#include <array>
#include <cmath>
#include <cstddef>

#include "kernel/src/kernel_modules.h"
#include "kernel/src/least_square.h"
#include "kernel/src/matrix_vla.h"

namespace {

constexpr F32 RAIM_VAR_THRESHOLD = 36.0F;             // m^2
constexpr F32 RAIM_VAR_THRESHOLD_AIRBORNE = 1000.0F;  // m^2
constexpr F32 PDOP_2D_THRESHOLD = 20.0F;
constexpr F32 MIN_ONE_MINUS_LEVERAGE = 0.005F;

// Working rows: geometry, weight, residual and the input of each row (null for
// the altitude pseudo-satellite and the clock constraint).
struct ROWS_T {
  std::array<std::array<F32, 3>, LSQRAIM_MAX_ROWS + 1> dc;
  std::array<F32, LSQRAIM_MAX_ROWS + 1> w;
  std::array<F32, LSQRAIM_MAX_ROWS + 1> d;
  std::array<F32, LSQRAIM_MAX_ROWS + 1> clk;  // clock column (0 for the altitude row)
  std::array<S08, LSQRAIM_MAX_ROWS + 1> second;
  std::array<NV_ESTIN_T, LSQRAIM_MAX_ROWS + 1> e;
  S16 n;
};

// Integrity of the last epoch.
struct RAIM_STATE_T {
  S16 valid;
  S16 excluded_sv;
  F32 excluded_residual;  // m
  F32 std_range;          // m
  F32 q_ee, q_nn, q_uu;
};
RAIM_STATE_T Raim_state{};

bool finite_rows(const ROWS_T& r) {
  for (S16 i = 0; i < r.n; ++i) {
    const auto k = static_cast<std::size_t>(i);
    if (!std::isfinite(r.d[k]) || !std::isfinite(r.w[k]) || !std::isfinite(r.dc[k][0]) || !std::isfinite(r.dc[k][1]) ||
        !std::isfinite(r.dc[k][2]))
      return false;
    if (std::fabs(r.d[k]) > 1.0e9F || std::fabs(r.dc[k][0]) > 2.0F || std::fabs(r.dc[k][1]) > 2.0F ||
        std::fabs(r.dc[k][2]) > 2.0F || r.w[k] < 0.0F || r.w[k] > 1.0e6F)
      return false;
  }
  return true;
}

void remove_row(ROWS_T& r, S16 k) {
  for (S16 i = k; i + 1 < r.n; ++i) {
    const auto a = static_cast<std::size_t>(i);
    r.dc[a] = r.dc[a + 1];
    r.w[a] = r.w[a + 1];
    r.d[a] = r.d[a + 1];
    r.clk[a] = r.clk[a + 1];
    r.second[a] = r.second[a + 1];
    r.e[a] = r.e[a + 1];
  }
  --r.n;
}

// Normal-matrix inverses are kept in double precision inside the solver (the
// outputs are single precision): with clock offsets of hundreds of kilometres
// in the residuals before the first fix, single-precision gains would move a
// held altitude by centimetres.
using INV4 = std::array<std::array<D64, 4>, 4>;

// Weighted normal-matrix inverse of the four-state rows [dc, clk].
bool invert4(const ROWS_T& r, INV4& inv) {
  if (r.n < 4 || r.n > LSQRAIM_MAX_ROWS + 1) return false;
  std::array<D64, 16> nm{};
  for (S16 i = 0; i < r.n; ++i) {
    const auto k = static_cast<std::size_t>(i);
    const std::array<D64, 4> h{r.dc[k][0], r.dc[k][1], r.dc[k][2], r.clk[k]};
    for (std::size_t a = 0; a < 4; ++a)
      for (std::size_t b = 0; b < 4; ++b) nm[a * 4 + b] += h[a] * static_cast<D64>(r.w[k]) * h[b];
  }
  if (MAT_inv_d(nm.data(), 4) == 0) return false;
  for (std::size_t a = 0; a < 4; ++a)
    for (std::size_t b = 0; b < 4; ++b) inv[a][b] = nm[a * 4 + b];
  return true;
}

// Gain row i of S = N^-1 [dc, clk] w (4 values).
std::array<D64, 4> gain(const ROWS_T& r, S16 i, const INV4& inv) {
  const auto k = static_cast<std::size_t>(i);
  const std::array<D64, 4> h{r.dc[k][0], r.dc[k][1], r.dc[k][2], r.clk[k]};
  std::array<D64, 4> s{};
  for (std::size_t a = 0; a < 4; ++a) {
    D64 v = 0.0;
    for (std::size_t b = 0; b < 4; ++b) v += inv[a][b] * h[b];
    s[a] = v * r.w[k];
  }
  return s;
}

// x = N^-1 H^T W d.
bool solve4(const ROWS_T& r, const INV4& inv, F32* x) {
  std::array<D64, 4> acc{};
  for (S16 i = 0; i < r.n; ++i) {
    const std::array<D64, 4> s = gain(r, i, inv);
    for (std::size_t a = 0; a < 4; ++a) acc[a] += s[a] * r.d[static_cast<std::size_t>(i)];
  }
  for (std::size_t a = 0; a < 4; ++a) {
    if (!std::isfinite(acc[a]) || std::fabs(acc[a]) > 1.0e30) return false;
    x[a] = static_cast<F32>(acc[a]);
  }
  return true;
}

// Rank-one removal of row k from inv (Sherman-Morrison); false when the
// result would be singular.
bool remove_from_inverse(const ROWS_T& r, S16 k, INV4& inv) {
  const std::array<D64, 4> s = gain(r, k, inv);  // N^-1 h w
  const auto kk = static_cast<std::size_t>(k);
  const std::array<D64, 4> h{r.dc[kk][0], r.dc[kk][1], r.dc[kk][2], r.clk[kk]};
  D64 lev = 0.0;
  for (std::size_t a = 0; a < 4; ++a) lev += s[a] * h[a];
  const D64 den = 1.0 - lev;
  if (!(den > 1e-6) || !(r.w[kk] > 0.0F)) return false;
  INV4 out{};
  for (std::size_t a = 0; a < 4; ++a)
    for (std::size_t b = 0; b < 4; ++b) {
      out[a][b] = inv[a][b] + s[a] * s[b] / (static_cast<D64>(r.w[kk]) * den);
      if (!std::isfinite(out[a][b])) return false;
    }
  inv = out;
  return true;
}

// Quality of a four-state solution: PDOP from N^-1 (at least 4 rows), and with
// more than 4 rows the residuals, slopes and residual variance.
void quality4(const ROWS_T& r, const INV4& inv, const F32* x, S16 is_2d, LSQRAIM_QUALITY_T* q) {
  *q = LSQRAIM_QUALITY_T{};
  q->is_2D_quality = is_2d;
  if (r.n < 4) return;
  const D64 p2 = inv[0][0] + inv[1][1] + inv[2][2];
  if (p2 >= 0.0 && std::isfinite(p2) && p2 < 1.0e30) {
    q->pdop = static_cast<F32>(std::sqrt(p2));
    q->has_pdop = 1;
  }
  if (r.n <= 4) return;
  D64 sum = 0.0;
  const S16 nq = r.n < LSQRAIM_MAX_INPUTS ? r.n : LSQRAIM_MAX_INPUTS;
  for (S16 i = 0; i < r.n; ++i) {
    const auto k = static_cast<std::size_t>(i);
    const D64 res = static_cast<D64>(r.dc[k][0]) * x[0] + static_cast<D64>(r.dc[k][1]) * x[1] +
                    static_cast<D64>(r.dc[k][2]) * x[2] + static_cast<D64>(r.clk[k]) * x[3] - r.d[k];
    const std::array<D64, 4> s = gain(r, i, inv);
    const D64 lev = s[0] * r.dc[k][0] + s[1] * r.dc[k][1] + s[2] * r.dc[k][2] + s[3] * r.clk[k];
    D64 om = 1.0 - lev;
    if (!(om >= MIN_ONE_MINUS_LEVERAGE)) om = MIN_ONE_MINUS_LEVERAGE;
    const D64 slope = std::sqrt((s[0] * s[0] + s[1] * s[1]) / om);
    if (i < nq) {
      q->r[k] = static_cast<F32>(res);
      q->slope[k] = static_cast<F32>(slope);
    }
    sum += res * res;
  }
  q->n_residuals = nq;
  const D64 var = sum / static_cast<D64>(r.n - 4);
  q->var_residual = var < 1.0e30 ? static_cast<F32>(var) : INFINITY;
  if (!std::isfinite(q->var_residual) || !std::isfinite(q->pdop)) {
    *q = LSQRAIM_QUALITY_T{};
    return;
  }
  q->has_quality = 1;
}

void store_inv(const INV4& inv, F32* out) {
  for (std::size_t a = 0; a < 4; ++a)
    for (std::size_t b = 0; b < 4; ++b) out[a * 4 + b] = static_cast<F32>(inv[a][b]);
}

// Row to exclude: the largest residual against the largest residual x slope.
S16 select_exclude_pr(const ROWS_T& r, const LSQRAIM_QUALITY_T& q) {
  S16 i1 = -1;
  S16 i2 = -1;
  S16 j1 = -1;
  S16 j2 = -1;
  for (S16 i = 0; i < q.n_residuals && i < r.n; ++i) {
    const auto k = static_cast<std::size_t>(i);
    const F32 a = std::fabs(q.r[k]);
    if (i1 < 0 || a > std::fabs(q.r[static_cast<std::size_t>(i1)])) {
      i2 = i1;
      i1 = i;
    } else if (i2 < 0 || a > std::fabs(q.r[static_cast<std::size_t>(i2)])) {
      i2 = i;
    }
    const F32 b = a * q.slope[k];
    auto js = [&](S16 j) { return std::fabs(q.r[static_cast<std::size_t>(j)]) * q.slope[static_cast<std::size_t>(j)]; };
    if (j1 < 0 || b > js(j1)) {
      j2 = j1;
      j1 = i;
    } else if (j2 < 0 || b > js(j2)) {
      j2 = i;
    }
  }
  if (i1 < 0) return -1;
  auto dpr = [&](S16 i) { return std::fabs(r.d[static_cast<std::size_t>(i)]); };
  if (i1 != j1) return dpr(i1) >= dpr(j1) ? i1 : j1;
  if (i2 >= 0 && i2 == j2 && dpr(i2) > 2.0F * dpr(i1)) return i2;
  return i1;
}

void record_used(const ROWS_T& r, NV_ESTIN_T* list, S16* n) {
  *n = 0;
  for (S16 i = 0; i < r.n; ++i)
    if (r.e[static_cast<std::size_t>(i)] != nullptr && *n < LSQRAIM_MAX_INPUTS)
      list[(*n)++] = r.e[static_cast<std::size_t>(i)];
}

// 3-D four-state position solution with fault detection and exclusion.
void position_3d(ROWS_T r, LSQRAIM_OUTPUT_T* out) {
  INV4 inv{};
  if (!invert4(r, inv)) return;
  LSQRAIM_LSQ_PR_T& s = out->lsq_pr_4s3D;
  if (!solve4(r, inv, s.dx)) return;
  quality4(r, inv, s.dx, 0, &out->quality_pr_4s3D);
  const S16 n0 = r.n;
  const S16 limit = n0 > 5 ? static_cast<S16>((n0 - 6) / 2 + 1) : static_cast<S16>(1);
  const F32 thr = NVMODEL_get_model() == AIRBORNE ? RAIM_VAR_THRESHOLD_AIRBORNE : RAIM_VAR_THRESHOLD;
  S16 excluded = 0;
  while (r.n >= 7 && excluded < limit && out->quality_pr_4s3D.has_quality != 0 &&
         out->quality_pr_4s3D.var_residual >= thr) {
    const S16 k = select_exclude_pr(r, out->quality_pr_4s3D);
    if (k < 0) break;
    const auto kk = static_cast<std::size_t>(k);
    INV4 inv2 = inv;
    if (!remove_from_inverse(r, k, inv2)) break;
    if (Raim_state.excluded_sv == 0 && r.e[kk] != nullptr) {
      Raim_state.excluded_sv = NVESTIN_get_sv_id(r.e[kk]);
      Raim_state.excluded_residual = out->quality_pr_4s3D.r[kk];
    }
    NVESTIN_set_flags(r.e[kk], NVESTIN_PR_EXCLUDED_BY_RAIM);
    remove_row(r, k);
    inv = inv2;
    if (!solve4(r, inv, s.dx)) return;
    quality4(r, inv, s.dx, 0, &out->quality_pr_4s3D);
    ++excluded;
  }
  store_inv(inv, s.inv_mat);
  s.has_result = 1;
  record_used(r, out->estins_pr_used, &out->n_estin_pr_used);
}

// Re-check of a five-input solution: a single input with a dominating slope
// and a doubtful pseudorange history is left out.
void double_check_5_pr(const ROWS_T& rows_used, LSQRAIM_OUTPUT_T* out) {
  const LSQRAIM_QUALITY_T& q = out->quality_pr_4s3D;
  if (out->n_estin_pr_used != 5 || q.has_quality == 0 || rows_used.n != 5) return;
  S16 max_ndx = 0;
  F32 max_slope = -1.0F;
  F32 second = -1.0F;
  for (S16 i = 0; i < 5; ++i) {
    const F32 sl = q.slope[static_cast<std::size_t>(i)];
    if (sl > max_slope) {
      second = max_slope;
      max_slope = sl;
      max_ndx = i;
    } else if (sl > second) {
      second = sl;
    }
  }
  if (!(max_slope >= 10.0F && max_slope >= 4.0F * second)) return;
  const NV_ESTIN_T e = rows_used.e[static_cast<std::size_t>(max_ndx)];
  F32 avg = 0.0F;
  F32 sigma = 0.0F;
  const bool has_avg = NVESTIN_get_avg_pr_diff(e, &avg, &sigma) != 0;
  const bool need = !has_avg || std::fabs(rows_used.d[static_cast<std::size_t>(max_ndx)]) > 20.0F || sigma > 15.0F;
  if (!need) return;
  ROWS_T r = rows_used;
  remove_row(r, max_ndx);
  record_used(r, out->estins_pr_used, &out->n_estin_pr_used);
  LSQRAIM_LSQ_PR_T& s = out->lsq_pr_4s3D;
  s.has_result = 0;
  out->quality_pr_4s3D = LSQRAIM_QUALITY_T{};
  INV4 inv{};
  if (!invert4(r, inv) || !solve4(r, inv, s.dx)) return;
  store_inv(inv, s.inv_mat);
  s.has_result = 1;
  const D64 p2 = inv[0][0] + inv[1][1] + inv[2][2];
  if (p2 >= 0.0 && p2 < 1.0e30) {
    out->quality_pr_4s3D.pdop = static_cast<F32>(std::sqrt(p2));
    out->quality_pr_4s3D.has_pdop = 1;
  }
}

// Rows of the inputs in list (in the order of all_rows), without the altitude row.
ROWS_T rows_of(const ROWS_T& all_rows, const NV_ESTIN_T* list, S16 n_list) {
  ROWS_T r{};
  for (S16 i = 0; i < all_rows.n; ++i) {
    const auto k = static_cast<std::size_t>(i);
    if (all_rows.e[k] == nullptr) continue;
    bool in = false;
    for (S16 j = 0; j < n_list; ++j) in = in || list[j] == all_rows.e[k];
    if (!in) continue;
    const auto m = static_cast<std::size_t>(r.n++);
    r.dc[m] = all_rows.dc[k];
    r.w[m] = all_rows.w[k];
    r.d[m] = all_rows.d[k];
    r.clk[m] = all_rows.clk[k];
    r.second[m] = all_rows.second[k];
    r.e[m] = all_rows.e[k];
  }
  return r;
}

void append_row(ROWS_T& r, const ROWS_T& from, S16 i) {
  const auto m = static_cast<std::size_t>(r.n++);
  const auto k = static_cast<std::size_t>(i);
  r.dc[m] = from.dc[k];
  r.w[m] = from.w[k];
  r.d[m] = from.d[k];
  r.clk[m] = from.clk[k];
  r.second[m] = from.second[k];
  r.e[m] = from.e[k];
}

// 2-D position: the rows used in 3-D (or all) and the altitude row.
void position_2d(const ROWS_T& sat_rows, const ROWS_T& alt_row, LSQRAIM_OUTPUT_T* out) {
  ROWS_T r = out->n_estin_pr_used > 0 ? rows_of(sat_rows, out->estins_pr_used, out->n_estin_pr_used) : sat_rows;
  if (out->n_estin_pr_used == 0) record_used(sat_rows, out->estins_pr_used, &out->n_estin_pr_used);
  if (r.n < 3 || alt_row.n < 1) return;
  append_row(r, alt_row, 0);
  INV4 inv{};
  LSQRAIM_LSQ_PR_T& s = out->lsq_pr_4s2D;
  if (!invert4(r, inv) || !solve4(r, inv, s.dx)) return;
  quality4(r, inv, s.dx, 1, &out->quality_pr_4s2D);
  store_inv(inv, s.inv_mat);
  s.has_result = 1;
}

// Five states: position, clock bias and the second system's clock offset.
void position_5s(const ROWS_T& sat_rows, LSQRAIM_OUTPUT_T* out) {
  const ROWS_T r = rows_of(sat_rows, out->estins_pr_used, out->n_estin_pr_used);
  if (r.n < 5) return;
  bool first = false;
  bool second = false;
  std::array<F32, static_cast<std::size_t>(LSQRAIM_MAX_ROWS + 1) * 5> h{};
  for (S16 i = 0; i < r.n; ++i) {
    const auto k = static_cast<std::size_t>(i);
    first = first || r.second[k] == 0;
    second = second || r.second[k] != 0;
    for (std::size_t j = 0; j < 3; ++j) h[k * 5 + j] = r.dc[k][j];
    h[k * 5 + 3] = 1.0F;
    h[k * 5 + 4] = r.second[k] != 0 ? 1.0F : 0.0F;
  }
  if (!first || !second) return;
  LSQRAIM_LSQ_PR_T& s = out->lsq_pr_5s;
  if (LSQ_calc_inv_hwh(r.n, 5, h.data(), nullptr, s.inv_mat) == 0) return;
  std::array<std::array<F32, 5>, LSQRAIM_MAX_ROWS + 1> g{};  // gain rows N^-1 h_i
  for (S16 i = 0; i < r.n; ++i)
    for (std::size_t a = 0; a < 5; ++a) {
      F32 v = 0.0F;
      for (std::size_t b = 0; b < 5; ++b) v += s.inv_mat[a * 5 + b] * h[static_cast<std::size_t>(i) * 5 + b];
      g[static_cast<std::size_t>(i)][a] = v;
    }
  for (std::size_t a = 0; a < 5; ++a) {
    F32 v = 0.0F;
    for (S16 i = 0; i < r.n; ++i) v += g[static_cast<std::size_t>(i)][a] * r.d[static_cast<std::size_t>(i)];
    if (!std::isfinite(v)) return;
    s.dx[a] = v;
  }
  s.has_result = 1;
  LSQRAIM_QUALITY_T& q = out->quality_pr_5s;
  q = LSQRAIM_QUALITY_T{};
  q.pdop = std::sqrt(std::fmax(0.0F, s.inv_mat[0] + s.inv_mat[6] + s.inv_mat[12]));
  q.has_pdop = 1;
  if (r.n <= 5) return;
  F32 sum = 0.0F;
  for (S16 i = 0; i < r.n; ++i) {
    const auto k = static_cast<std::size_t>(i);
    F32 res = -r.d[k];
    F32 lev = 0.0F;
    for (std::size_t a = 0; a < 5; ++a) {
      res += h[k * 5 + a] * s.dx[a];
      lev += g[k][a] * h[k * 5 + a];
    }
    const F32 om = std::fmax(1.0F - lev, MIN_ONE_MINUS_LEVERAGE);
    q.r[k] = res;
    q.slope[k] = std::sqrt((g[k][0] * g[k][0] + g[k][1] * g[k][1]) / om);
    sum += res * res;
  }
  q.n_residuals = r.n;
  q.var_residual = sum / static_cast<F32>(r.n - 5);
  q.has_quality = std::isfinite(q.var_residual) ? 1 : 0;
}

void position_proc(const ROWS_T& all_rows, LSQRAIM_OUTPUT_T* out) {
  ROWS_T sat_rows{};
  ROWS_T alt_row{};
  for (S16 i = 0; i < all_rows.n; ++i)
    append_row(all_rows.e[static_cast<std::size_t>(i)] != nullptr ? sat_rows : alt_row, all_rows, i);
  position_3d(sat_rows, out);
  if (out->lsq_pr_4s3D.has_result != 0)
    double_check_5_pr(rows_of(sat_rows, out->estins_pr_used, out->n_estin_pr_used), out);
  const LSQRAIM_QUALITY_T& q = out->quality_pr_4s3D;
  if (LSQRAIM_can_do_2D_fix() != 0 &&
      (out->lsq_pr_4s3D.has_result == 0 || q.has_quality == 0 || q.pdop >= PDOP_2D_THRESHOLD))
    position_2d(sat_rows, alt_row, out);
  if (out->n_estin_pr_used > 4) position_5s(sat_rows, out);
  if (out->lsq_pr_4s3D.has_result != 0 && q.has_quality != 0 && q.has_pdop != 0) {
    const F32* inv = out->lsq_pr_4s3D.inv_mat;
    Raim_state.valid = 1;
    Raim_state.std_range = std::sqrt(std::fmax(0.0F, q.var_residual));
    Raim_state.q_ee = inv[0];
    Raim_state.q_nn = inv[5];
    Raim_state.q_uu = inv[10];
  }
}

// --- Velocity -------------------------------------------------------------------

struct DR_TRIAL_T {
  LSQRAIM_LSQ_DR_T sol;
  LSQRAIM_QUALITY_T q;
};

// Solves the velocity rows r (mode from their clock columns); false without result.
bool velocity_solve(const ROWS_T& r, const VEL_ENU_T& v0, S16 is_2d, DR_TRIAL_T* t) {
  *t = DR_TRIAL_T{};
  INV4 inv{};
  if (r.n < 4 || !invert4(r, inv) || !solve4(r, inv, t->sol.ddx)) return false;
  store_inv(inv, t->sol.inv_mat);
  const F32 ve = v0.ve + t->sol.ddx[0];
  const F32 vn = v0.vn + t->sol.ddx[1];
  const F32 vu = v0.vu + t->sol.ddx[2];
  t->sol.h_speed = std::sqrt(ve * ve + vn * vn);
  t->sol.v_speed = std::fabs(vu);
  t->sol.heading = 0.0F;
  if (!std::isfinite(t->sol.h_speed) || !std::isfinite(t->sol.v_speed)) {
    *t = DR_TRIAL_T{};
    return false;
  }
  t->sol.has_result = 1;
  quality4(r, inv, t->sol.ddx, is_2d, &t->q);
  return true;
}

// 2-D rows: the satellite rows and the altitude row (its clock column 0);
// with fewer than 6 rows a clock-drift constraint row goes before the
// altitude row.
ROWS_T rows_2d(const ROWS_T& sat, const ROWS_T& alt_row) {
  ROWS_T r = sat;
  if (alt_row.n < 1) return r;
  if (r.n + 1 < 6) {
    const auto m = static_cast<std::size_t>(r.n++);
    r.dc[m] = {0.0F, 0.0F, 0.0F};
    r.w[m] = 1.0F;
    r.d[m] = 0.0F;
    r.clk[m] = 1.0F;
    r.second[m] = 0;
    r.e[m] = nullptr;
  }
  append_row(r, alt_row, 0);
  return r;
}

// Inputs whose carrier frequency looks stable (a trial velocity from the
// inputs with an ordinary range-rate change rate predicts them within 1 m/s).
struct STABLE_LIST_T {
  std::array<NV_ESTIN_T, LSQRAIM_MAX_INPUTS> e;
  S16 n;
  bool has(NV_ESTIN_T x) const {
    for (S16 i = 0; i < n; ++i)
      if (e[static_cast<std::size_t>(i)] == x) return true;
    return false;
  }
};

S16 Fail_exclude_count = 0;

// Mean and population variance of the inputs' range-rate change rates
// (C/N0 above 22 dB-Hz) after trimming a separated run at either end of the
// sorted rates; 0 and 0 without rates.
D64 average_dr_rate(const ROWS_T& sat, D64* var) {
  std::array<D64, LSQRAIM_MAX_ROWS + 1> rate{};
  S16 n = 0;
  for (S16 i = 0; i < sat.n; ++i) {
    const NV_ESTIN_T e = sat.e[static_cast<std::size_t>(i)];
    if (NVESTIN_get_cn0(e) > 22 && NVESTIN_has_dr_change_rate(e) != 0)
      rate[static_cast<std::size_t>(n++)] = NVESTIN_get_dr_change_rate(e);
  }
  *var = 0.0;
  if (n == 0) return 0.0;
  for (S16 i = 1; i < n; ++i) {  // ascending
    const D64 v = rate[static_cast<std::size_t>(i)];
    S16 j = i;
    for (; j > 0 && rate[static_cast<std::size_t>(j - 1)] > v; --j)
      rate[static_cast<std::size_t>(j)] = rate[static_cast<std::size_t>(j - 1)];
    rate[static_cast<std::size_t>(j)] = v;
  }
  D64 mean = 0.0;
  for (S16 i = 0; i < n; ++i) mean += rate[static_cast<std::size_t>(i)];
  mean /= n;
  S16 k = n;
  for (S16 i = 1; i < n; ++i)
    if (rate[static_cast<std::size_t>(i)] > mean) {
      k = i;
      break;
    }
  S16 start = 0;
  for (S16 i = static_cast<S16>(k - 2); i >= 0; --i)
    if (rate[static_cast<std::size_t>(i + 1)] - rate[static_cast<std::size_t>(i)] > 1.0 && i <= n / 4) {
      start = static_cast<S16>(i + 1);
      break;
    }
  S16 end = n;
  for (S16 i = k; i < n; ++i)
    if (i >= 1 && rate[static_cast<std::size_t>(i)] - rate[static_cast<std::size_t>(i - 1)] > 1.0 && i >= (3 * n) / 4) {
      end = i;
      break;
    }
  if (end <= start) return 0.0;
  D64 m = 0.0;
  for (S16 i = start; i < end; ++i) m += rate[static_cast<std::size_t>(i)];
  m /= (end - start);
  D64 v = 0.0;
  for (S16 i = start; i < end; ++i)
    v += (rate[static_cast<std::size_t>(i)] - m) * (rate[static_cast<std::size_t>(i)] - m);
  *var = v / (end - start);
  return m;
}

STABLE_LIST_T stable_carrier_frequency_list(const ROWS_T& sat, const ROWS_T& alt_row, const VEL_ENU_T& v0) {
  STABLE_LIST_T list{};
  D64 var = 0.0;
  const D64 avg = average_dr_rate(sat, &var);
  ROWS_T trial{};
  for (S16 i = 0; i < sat.n; ++i) {
    const NV_ESTIN_T e = sat.e[static_cast<std::size_t>(i)];
    F32 apr = 0.0F;
    F32 sigma = 0.0F;
    if (NVESTIN_get_avg_pr_diff(e, &apr, &sigma) == 0 || NVESTIN_has_dr_change_rate(e) == 0) continue;
    if (std::fabs(NVESTIN_get_dr_change_rate(e) - avg) > std::sqrt(var) + 0.38) continue;
    if (sigma > 20.0F || std::fabs(NVESTIN_get_pr_diff(e)) > 20.0) continue;
    append_row(trial, sat, i);
  }
  const S16 real = trial.n;
  if (real == 3 && alt_row.n > 0) append_row(trial, alt_row, 0);
  if (trial.n < 4) return list;
  DR_TRIAL_T t{};
  if (!velocity_solve(trial, v0, 0, &t)) return list;
  const F32* q = t.sol.inv_mat;
  const F32 hdop = std::sqrt(std::fmax(0.0F, q[0] + q[5]));
  const F32 ve = v0.ve + t.sol.ddx[0];
  const F32 vn = v0.vn + t.sol.ddx[1];
  const F32 h_old = std::sqrt(v0.ve * v0.ve + v0.vn * v0.vn);
  const F32 h_new = std::sqrt(ve * ve + vn * vn);
  const F32 sine = (h_old > 0.0F && h_new > 0.0F) ? (v0.ve * vn - v0.vn * ve) / (h_old * h_new) : 0.0F;
  constexpr F32 SIN_3_DEG = 0.05233596F;
  const bool good = real > 3 ? (t.sol.v_speed < 2.5F && (hdop < 10.0F || std::fabs(sine) <= SIN_3_DEG))
                             : (hdop < 10.0F && std::fabs(sine) <= SIN_3_DEG);
  if (!good) return list;
  for (S16 i = 0; i < sat.n; ++i) {
    const auto k = static_cast<std::size_t>(i);
    const D64 pred = static_cast<D64>(t.sol.ddx[0]) * sat.dc[k][0] + static_cast<D64>(t.sol.ddx[1]) * sat.dc[k][1] +
                     static_cast<D64>(t.sol.ddx[2]) * sat.dc[k][2] + t.sol.ddx[3] - sat.d[k];
    if (std::fabs(pred) < 1.0) list.e[static_cast<std::size_t>(list.n++)] = sat.e[k];
  }
  return list;
}

// Static test with three inputs: two agree within 0.03 m/s and the third
// agrees as far as its C/N0 lets one expect.
bool static_3sv(const std::array<D64, LSQRAIM_MAX_ROWS + 1>& d, const ROWS_T& r) {
  for (S16 i = 0; i < 3; ++i)
    for (S16 j = static_cast<S16>(i + 1); j < 3; ++j) {
      const auto ki = static_cast<std::size_t>(i);
      const auto kj = static_cast<std::size_t>(j);
      if (!(std::fabs(d[ki] - d[kj]) < 0.03)) continue;
      const auto kk = static_cast<std::size_t>(3 - i - j);
      const S16 cn0 = NVESTIN_get_cn0(r.e[kk]);
      const D64 dev = std::fabs(d[kk] - 0.5 * (d[ki] + d[kj]));
      if (cn0 < 23) return true;
      if (cn0 < 30) return dev < 1.0;
      return dev < 0.2;
    }
  return false;
}

// May the receiver be at rest? Inputs whose range-rate residual for a receiver
// at rest stands out are removed from both row sets (1); 0: moving.
S16 dr_in_static_check(const LSQRAIM_INPUT_T* in, ROWS_T& dr_rows, ROWS_T& pr_rows) {
  constexpr S16 CN0_THR = 25;
  std::array<D64, LSQRAIM_MAX_ROWS + 1> d{};
  std::array<bool, LSQRAIM_MAX_ROWS + 1> excl{};
  S16 n = 0;
  for (S16 i = 0; i < dr_rows.n; ++i)
    if (dr_rows.e[static_cast<std::size_t>(i)] != nullptr) {
      d[static_cast<std::size_t>(i)] = NVESTIN_get_dr_diff_static(dr_rows.e[static_cast<std::size_t>(i)]);
      ++n;
    }
  if (n < 3) return 0;
  if (n == 3) return static_3sv(d, dr_rows) ? 1 : 0;
  S16 count = 0;
  for (;;) {
    D64 sw = 0.0;
    D64 sd = 0.0;
    for (S16 i = 0; i < n; ++i) {
      const auto k = static_cast<std::size_t>(i);
      if (excl[k]) continue;
      const D64 w = NVESTIN_get_cn0(dr_rows.e[k]) < CN0_THR ? 0.5 : 1.0;
      sw += w;
      sd += w * d[k];
    }
    const D64 mean = sd / sw;
    S16 worst = -1;
    for (S16 i = 0; i < n; ++i) {
      const auto k = static_cast<std::size_t>(i);
      if (!excl[k] && (worst < 0 || std::fabs(d[k] - mean) > std::fabs(d[static_cast<std::size_t>(worst)] - mean)))
        worst = i;
    }
    const auto kw = static_cast<std::size_t>(worst);
    D64 thr = NVESTIN_get_cn0(dr_rows.e[kw]) < CN0_THR ? 0.2 : 0.5;
    if (in->last_speed > 5.0F)
      thr = 0.05;
    else if (in->last_speed > 1.0F)
      thr = 0.1;
    if (!(std::fabs(d[kw] - mean) > thr)) break;
    excl[kw] = true;
    ++count;
    const S16 left = static_cast<S16>(n - count);
    if (in->last_speed > 5.0F && left < 4) return 0;
    if (left < 3) return 0;  // only reachable with more than 3 inputs at the start
  }
  if (count > 1) {
    S16 strong = 0;
    for (S16 i = 0; i < n; ++i)
      if (excl[static_cast<std::size_t>(i)] && NVESTIN_get_cn0(dr_rows.e[static_cast<std::size_t>(i)]) > 24) ++strong;
    if (strong >= count / 2) return 0;
  }
  for (S16 i = static_cast<S16>(n - 1); i >= 0; --i)
    if (excl[static_cast<std::size_t>(i)]) {
      remove_row(dr_rows, i);
      remove_row(pr_rows, i);
    }
  return 1;
}

// The input to leave out of the 2-D velocity rows: the largest residual or the
// largest pre-fit residual, whichever the trials and C/N0 favour; -1: none.
S16 select_exclude_dr(const ROWS_T& sat, const ROWS_T& alt_row, const LSQRAIM_QUALITY_T& q, const VEL_ENU_T& v0,
                      const STABLE_LIST_T& stable) {
  S16 a = -1;
  S16 b = -1;
  for (S16 i = 0; i < sat.n && i < q.n_residuals; ++i) {
    const auto k = static_cast<std::size_t>(i);
    if (a < 0 || std::fabs(q.r[k]) > std::fabs(q.r[static_cast<std::size_t>(a)])) a = i;
    if (b < 0 || std::fabs(sat.d[k]) > std::fabs(sat.d[static_cast<std::size_t>(b)])) b = i;
  }
  if (a < 0 || b < 0) return -1;
  // Inputs off the stable-carrier-frequency list are the first suspects.
  S16 first_unstable = -1;
  for (S16 i = 0; i < sat.n && first_unstable < 0; ++i)
    if (!stable.has(sat.e[static_cast<std::size_t>(i)])) first_unstable = i;
  if (first_unstable >= 0) {
    const bool sa = stable.has(sat.e[static_cast<std::size_t>(a)]);
    const bool sb = stable.has(sat.e[static_cast<std::size_t>(b)]);
    if (sa && !sb) return b;
    if (sb && !sa) return a;
    if (sa && sb) {
      ++Fail_exclude_count;
      return first_unstable;
    }
  }
  auto trial = [&](S16 k, DR_TRIAL_T* t) {
    ROWS_T r = sat;
    remove_row(r, k);
    return velocity_solve(rows_2d(r, alt_row), v0, 1, t);
  };
  DR_TRIAL_T ta{};
  const bool ha = trial(a, &ta);
  S16 chosen = a;
  DR_TRIAL_T tc = ta;
  if (b != a) {
    DR_TRIAL_T tb{};
    const bool hb = trial(b, &tb);
    const S16 ca = NVESTIN_get_cn0(sat.e[static_cast<std::size_t>(a)]);
    const S16 cb = NVESTIN_get_cn0(sat.e[static_cast<std::size_t>(b)]);
    const bool b_worse = hb && ha && tb.q.var_residual > ta.q.var_residual;
    const bool a_doubtful = ca <= 34 || NVESTIN_is_stable_dr(sat.e[static_cast<std::size_t>(a)]) == 0;
    const bool pick_a = ca < cb + 10 && (cb >= ca + 10 || (a_doubtful && b_worse));
    if (!pick_a) {
      chosen = b;
      tc = tb;
    }
  }
  if (sat.n == 4 && chosen < 4 && NVESTIN_get_cn0(sat.e[static_cast<std::size_t>(chosen)]) > 34) {
    if (q.var_residual <= 0.5F) return -1;
    if (q.var_residual <= 1.0F && 4.0F * tc.q.var_residual > q.var_residual) return -1;
  }
  return chosen;
}

bool dr3d_good(const LSQRAIM_QUALITY_T& q) { return q.has_quality != 0 && q.n_residuals >= 6 && q.var_residual < 0.1F; }

bool dr2d_allowed(const LSQRAIM_INPUT_T* in) {
  if (LSQRAIM_can_do_2D_fix() == 0) return false;
  if (in->fix_3D_count < 10 && in->last_speed > 0.0F) return false;
  return in->cont_no_fix_count <= 9;
}

// A single weak input with a dominating slope among 4 or fewer satellite
// rows; -1: none.
S16 select_exclude_by_slope(const ROWS_T& sat, const LSQRAIM_QUALITY_T& q) {
  if (q.has_quality == 0 || sat.n > 4 || sat.n < 3) return -1;
  S16 i1 = -1;
  S16 i2 = -1;
  for (S16 i = 0; i < sat.n && i < q.n_residuals; ++i) {
    const F32 sl = q.slope[static_cast<std::size_t>(i)];
    if (i1 < 0 || sl > q.slope[static_cast<std::size_t>(i1)]) {
      i2 = i1;
      i1 = i;
    } else if (i2 < 0 || sl > q.slope[static_cast<std::size_t>(i2)]) {
      i2 = i;
    }
  }
  if (i1 < 0 || i2 < 0) return -1;
  const auto k1 = static_cast<std::size_t>(i1);
  const auto k2 = static_cast<std::size_t>(i2);
  if (!(q.slope[k1] >= 10.0F && q.slope[k1] > 4.0F * q.slope[k2])) return -1;
  if (sat.n == 3) {
    S16 weakest = 0;
    for (S16 i = 1; i < sat.n; ++i)
      if (NVESTIN_get_cn0(sat.e[static_cast<std::size_t>(i)]) <
          NVESTIN_get_cn0(sat.e[static_cast<std::size_t>(weakest)]))
        weakest = i;
    if (weakest != i1) return -1;
  }
  const F32 r1 = std::fabs(q.r[k1]);
  if (!(r1 >= 1.0F && r1 > 2.0F * std::fabs(q.r[k2]))) return -1;
  return i1;
}

// Takes left-out inputs back into the used lists when the solution predicts
// their range-rate residual within 0.1 m/s.
void re_collect_excluded_dr(const LSQRAIM_INPUT_T* in, LSQRAIM_OUTPUT_T* out) {
  const LSQRAIM_LSQ_DR_T& sol = out->lsq_dr_2D.has_result != 0 ? out->lsq_dr_2D : out->lsq_dr_3D;
  if (sol.has_result == 0) return;
  for (S16 i = 0; i < in->n_estin_all; ++i) {
    const NV_ESTIN_T e = in->estin_all_ary[i];
    bool used = false;
    for (S16 j = 0; j < out->n_estin_dr_2D_used; ++j) used = used || out->estins_dr_2D_used[j] == e;
    F32 dc[3];
    if (used || NVESTIN_has_large_error(e) != 0 || NVESTIN_get_direction_cosine_vector(e, dc) == 0) continue;
    const D64 pred = static_cast<D64>(sol.ddx[0]) * dc[0] + static_cast<D64>(sol.ddx[1]) * dc[1] +
                     static_cast<D64>(sol.ddx[2]) * dc[2] + sol.ddx[3] - NVESTIN_get_dr_diff(e);
    if (!(std::fabs(pred) < 0.1)) continue;
    if (out->n_estin_dr_2D_used < LSQRAIM_MAX_INPUTS) out->estins_dr_2D_used[out->n_estin_dr_2D_used++] = e;
    if (out->n_estin_dr_3D_used > 0 && out->n_estin_dr_3D_used < LSQRAIM_MAX_INPUTS)
      out->estins_dr_3D_used[out->n_estin_dr_3D_used++] = e;
  }
}

// One pass of the velocity search; false when the search ends.
bool velocity_pass(S16 pass, bool allow_2d, const VEL_ENU_T& v0, const ROWS_T& alt_row, const STABLE_LIST_T& stable,
                   ROWS_T& sat, LSQRAIM_OUTPUT_T* out) {
  DR_TRIAL_T t3{};
  const bool has3 = velocity_solve(sat, v0, 0, &t3);
  if (has3) {
    out->lsq_dr_3D = t3.sol;
    out->quality_dr_3D = t3.q;
    record_used(sat, out->estins_dr_3D_used, &out->n_estin_dr_3D_used);
  }
  DR_TRIAL_T t2{};
  const bool has2 = allow_2d && sat.n + 1 >= 4 && velocity_solve(rows_2d(sat, alt_row), v0, 1, &t2);
  if (has2) {
    out->lsq_dr_2D = t2.sol;
    out->quality_dr_2D = t2.q;
    record_used(sat, out->estins_dr_2D_used, &out->n_estin_dr_2D_used);
  }
  if (has3 && dr3d_good(t3.q) && (pass == 0 || !has2 || t3.q.var_residual < t2.q.var_residual)) return false;
  if (!has2 || t2.q.has_quality == 0) return false;
  const S16 rows2 = static_cast<S16>(sat.n + 1);
  if ((rows2 == 5 && t2.q.var_residual < 0.04F) || (rows2 > 5 && t2.q.var_residual < 0.1F)) return false;
  if (has3 && t3.q.has_quality != 0 && t3.q.var_residual < 0.16F && t3.q.var_residual < t2.q.var_residual &&
      t2.q.var_residual < 1.0F)
    return false;
  S16 k = -1;
  if (rows2 > 5 && (t2.q.var_residual >= 0.25F || t2.sol.v_speed >= 2.0F))
    k = select_exclude_dr(sat, alt_row, t2.q, v0, stable);
  else if (sat.n <= 4 && pass < 3)
    k = select_exclude_by_slope(sat, t2.q);
  if (k < 0) return false;
  NVESTIN_set_flags(sat.e[static_cast<std::size_t>(k)], NVESTIN_DR_EXCLUDED_BY_RAIM);
  remove_row(sat, k);
  out->lsq_dr_3D = LSQRAIM_LSQ_DR_T{};
  out->quality_dr_3D = LSQRAIM_QUALITY_T{};
  out->n_estin_dr_3D_used = 0;
  return true;
}

void velocity_proc(const LSQRAIM_INPUT_T* in, const ROWS_T& all_rows, LSQRAIM_OUTPUT_T* out) {
  ROWS_T sat{};
  ROWS_T alt_row{};
  for (S16 i = 0; i < all_rows.n; ++i) {
    ROWS_T& dst = all_rows.e[static_cast<std::size_t>(i)] != nullptr ? sat : alt_row;
    append_row(dst, all_rows, i);
  }
  const VEL_ENU_T v0 = in->vel_enu_p != nullptr ? *in->vel_enu_p : VEL_ENU_T{0.0F, 0.0F, 0.0F};
  const STABLE_LIST_T stable = stable_carrier_frequency_list(sat, alt_row, v0);
  const bool allow_2d = dr2d_allowed(in);
  for (S16 pass = 0; pass < LSQRAIM_MAX_INPUTS; ++pass)
    if (!velocity_pass(pass, allow_2d, v0, alt_row, stable, sat, out)) break;
}

// Rows of the input list with the altitude row; the range-rate residuals in d.
bool form_rows(const LSQRAIM_INPUT_T* in, const NV_ESTIN_T* list, S16 n, S16 use_good, ROWS_T* dr_rows,
               ROWS_T* pr_rows) {
  LSQRAIM_LSQ_IN_T li{};
  li.nmeas = NVESTIN_form_least_square_input_matrix(n, list, 1, use_good, in->rcv_pos_p, in->rcv_vel_p, in->alt,
                                                    in->enu_mat, li.dc, li.w, li.d_pr, li.d_dr, li.is_second_gnss_type);
  if (li.nmeas < 2 || li.nmeas > LSQRAIM_MAX_ROWS) return false;
  *dr_rows = ROWS_T{};
  S16 k = 0;
  for (S16 i = 0; i < n; ++i)
    if (NVESTIN_has_data(list[i]) != 0) dr_rows->e[static_cast<std::size_t>(k++)] = list[i];
  if (k + 1 != li.nmeas) return false;
  dr_rows->n = li.nmeas;
  for (S16 i = 0; i < li.nmeas; ++i) {
    const auto m = static_cast<std::size_t>(i);
    dr_rows->dc[m] = {li.dc[m][0], li.dc[m][1], li.dc[m][2]};
    dr_rows->w[m] = li.w[m];
    dr_rows->d[m] = li.d_dr[m];
    dr_rows->clk[m] = i + 1 < li.nmeas ? 1.0F : 0.0F;
    dr_rows->second[m] = li.is_second_gnss_type[m];
  }
  *pr_rows = *dr_rows;
  for (S16 i = 0; i < li.nmeas; ++i) pr_rows->d[static_cast<std::size_t>(i)] = li.d_pr[static_cast<std::size_t>(i)];
  return finite_rows(*dr_rows) && finite_rows(*pr_rows);
}

// With exactly 3 good-carrier inputs: keep them only when their geometry is
// good enough (weighted 3-D PDOP at most 20).
bool good_carrier_3_inputs_ok(const ROWS_T& dr_rows) {
  ROWS_T r{};
  for (S16 i = 0; i < dr_rows.n; ++i)
    if (dr_rows.e[static_cast<std::size_t>(i)] != nullptr) append_row(r, dr_rows, i);
  if (r.n != 3) return true;
  // Three rows cannot carry four states: the 3-D normal matrix of the
  // geometry columns alone decides.
  std::array<F32, 9> h{};
  for (S16 i = 0; i < 3; ++i)
    for (std::size_t j = 0; j < 3; ++j) h[static_cast<std::size_t>(i) * 3 + j] = r.dc[static_cast<std::size_t>(i)][j];
  std::array<F32, 9> q{};
  if (LSQ_calc_inv_hwh(3, 3, h.data(), r.w.data(), q.data()) == 0) return false;
  const F32 p2 = q[0] + q[4] + q[8];
  return p2 >= 0.0F && std::sqrt(p2) <= PDOP_2D_THRESHOLD;
}

}  // namespace

S16 LSQRAIM_can_do_2D_fix() {
  const S16 m = NVMODEL_get_model();
  return (m == BALLOON || m == AIRBORNE) ? 0 : 1;
}

void LSQRAIM_reset_output_data(LSQRAIM_OUTPUT_T* out_p) {
  if (out_p != nullptr) *out_p = LSQRAIM_OUTPUT_T{};
}

S16 LSQRAIM_proc(LSQRAIM_INPUT_T* in_p, LSQRAIM_OUTPUT_T* out_p) {
  Raim_state = RAIM_STATE_T{};
  if (out_p == nullptr) return 0;
  LSQRAIM_reset_output_data(out_p);
  if (in_p == nullptr || in_p->n_estin_all < 3 || in_p->n_estin_all > LSQRAIM_MAX_INPUTS || in_p->n_estin < 0 ||
      in_p->n_estin > LSQRAIM_MAX_INPUTS || !std::isfinite(in_p->alt) || !std::isfinite(in_p->last_speed))
    return 0;
  if (in_p->enu_mat != nullptr) (void)NVESTIN_convert_direction_cosine_vectors_to_ENU(in_p->enu_mat);
  std::array<NV_ESTIN_T, LSQRAIM_MAX_INPUTS> list{};
  S16 n = in_p->n_estin;
  S16 use_good = 1;
  for (S16 i = 0; i < n; ++i) list[static_cast<std::size_t>(i)] = in_p->estin_ary[i];
  if (n < 3) {
    n = in_p->n_estin_all;
    for (S16 i = 0; i < n; ++i) list[static_cast<std::size_t>(i)] = in_p->estin_all_ary[i];
    n = NVESTIN_remove_large_error_estins(n, list.data());
    use_good = 0;
    if (n < 3) return 0;
  }
  ROWS_T dr_rows{};
  ROWS_T pr_rows{};
  if (!form_rows(in_p, list.data(), n, use_good, &dr_rows, &pr_rows)) return 0;
  if (use_good != 0 && n == 3 && !good_carrier_3_inputs_ok(dr_rows)) {
    n = in_p->n_estin_all;
    for (S16 i = 0; i < n; ++i) list[static_cast<std::size_t>(i)] = in_p->estin_all_ary[i];
    use_good = 0;
    if (!form_rows(in_p, list.data(), n, use_good, &dr_rows, &pr_rows)) return 0;
  }
  out_p->use_good_carrier_dr = use_good;
  const S16 model = NVMODEL_get_model();
  if (in_p->fix_3D_count > 9 && in_p->cont_no_fix_count == 0 && in_p->cont_real_fix_count > 3 && model != MARINE &&
      model != BALLOON && model != AIRBORNE)
    out_p->may_in_static = dr_in_static_check(in_p, dr_rows, pr_rows);
  velocity_proc(in_p, dr_rows, out_p);
  if (use_good != 0 && out_p->n_estin_dr_2D_used < in_p->n_estin_all) re_collect_excluded_dr(in_p, out_p);
  position_proc(pr_rows, out_p);
  if (out_p->n_estin_pr_used > 2) {
    bool all = true;
    for (S16 i = 0; i < out_p->n_estin_pr_used; ++i)
      all = all && NVESTIN_is_PR_may_convergeced(out_p->estins_pr_used[i]) != 0;
    out_p->use_may_convergence_pr = all ? 1 : 0;
  }
  const bool any = out_p->lsq_dr_3D.has_result != 0 || out_p->lsq_dr_2D.has_result != 0 ||
                   out_p->lsq_pr_4s3D.has_result != 0 || out_p->lsq_pr_4s2D.has_result != 0 ||
                   out_p->lsq_pr_5s.has_result != 0;
  if (!any) {
    LSQRAIM_reset_output_data(out_p);
    Raim_state = RAIM_STATE_T{};
  }
  return any ? 1 : 0;
}

S16 LSQRAIM_get_RAIM_enu_error(F32* err_lat_p, F32* err_lon_p, F32* err_alt_p, S16* sat_id_p, F32* prob_p,
                               F32* est_bias_p, F32* std_bias_p) {
  if (Raim_state.valid == 0 || err_lat_p == nullptr || err_lon_p == nullptr || err_alt_p == nullptr ||
      sat_id_p == nullptr || prob_p == nullptr || est_bias_p == nullptr || std_bias_p == nullptr)
    return 0;
  const F32 s = Raim_state.std_range;
  *err_lat_p = s * std::sqrt(std::fmax(0.0F, Raim_state.q_nn));
  *err_lon_p = s * std::sqrt(std::fmax(0.0F, Raim_state.q_ee));
  *err_alt_p = s * std::sqrt(std::fmax(0.0F, Raim_state.q_uu));
  *sat_id_p = Raim_state.excluded_sv;
  *prob_p = 0.0F;
  *est_bias_p = Raim_state.excluded_residual;
  *std_bias_p = s;
  return 1;
}
