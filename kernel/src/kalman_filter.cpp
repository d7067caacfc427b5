// Navigation Kalman filter (KMF_): covariance projection with the P or PV
// model and the clock noise, and sequential scalar measurement updates.
//
// State order: [e, ve, n, vn, u, vu, b, d] (m, m/s, clock bias m, drift m/s).
// Pairs (2i, 2i+1) are position and velocity of axis i; pair 3 is the clock.
#include "kernel/src/kalman_filter.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

using MAT8 = std::array<std::array<F32, KMF_NSTATE>, KMF_NSTATE>;
using MAT8D = std::array<std::array<D64, KMF_NSTATE>, KMF_NSTATE>;

constexpr MAT8 diagonal(F32 v) {
  MAT8 m{};
  for (int i = 0; i < KMF_NSTATE; ++i) m[i][i] = v;
  return m;
}

void copy_out(const MAT8& m, F32* out) {
  for (int i = 0; i < KMF_NSTATE; ++i)
    for (int j = 0; j < KMF_NSTATE; ++j) out[i * KMF_NSTATE + j] = m[i][j];
}

constexpr F32 SPP_NORMAL = 0.0001F;  // m^2/s
constexpr F32 SPP_LARGE = 0.03F;     // m^2/s
constexpr int CLK = 6;
// Floor of a measurement variance (m^2 or (m/s)^2, after jump scaling): a
// positive variance below it would collapse the covariance to a singular one.
constexpr F32 MIN_MEAS_VARIANCE = 1.0e-6F;
constexpr D64 MIN_STATE_VARIANCE = 1.0e-9;  // m^2, (m/s)^2
constexpr D64 MAX_CORRELATION = 0.999;      // clock-bias state, drift at 7

MAT8 Pk = diagonal(KMF_RESET_VARIANCE);
MAT8 Pk_ = diagonal(KMF_RESET_VARIANCE);
S16 Dynamic_model = KMF_P_MODEL;
F32 Sp_pv = 1.0F;
F32 Spp = SPP_NORMAL;
F32 Spv = 0.04F;
F32 Sf = 4.0F;
F32 Sg = 0.49F;
F32 Stsys = 0.0001F;
S16 Do_jump = 0;
S16 Jump_mode_count = 0;
S16 Jump_mode_max = 0;
F32 Jump_mode_r_scale = 0.01F;
S16 Static_large_Q_period = 0;
S16 Static_large_Q_count = 0;
// Pk_ as projected before the last update (the prior), kept for
// KMF_scale_last_correction; Has_prior 0 once anything else changed Pk_.
MAT8 Pk_prior = diagonal(KMF_RESET_VARIANCE);
S16 Has_prior = 0;

bool usable(F32 v) { return std::isfinite(v) && v >= 0.0F; }

void symmetrise(MAT8& m) {
  for (int i = 0; i < KMF_NSTATE; ++i)
    for (int j = i + 1; j < KMF_NSTATE; ++j) {
      const F32 a = 0.5F * (m[i][j] + m[j][i]);
      m[i][j] = a;
      m[j][i] = a;
    }
}

// Pk_ block (a, b) = F Pk(a, b) F^T for the pairs a and b, F = [[1, dt], [0, 1]].
void propagate_block(int a, int b, F32 dt) {
  const int i = 2 * a;
  const int j = 2 * b;
  const F32 p00 = Pk[i][j];
  const F32 p01 = Pk[i][j + 1];
  const F32 p10 = Pk[i + 1][j];
  const F32 p11 = Pk[i + 1][j + 1];
  Pk_[i][j] = p00 + dt * (p10 + p01) + dt * dt * p11;
  Pk_[i][j + 1] = p01 + dt * p11;
  Pk_[i + 1][j] = p10 + dt * p11;
  Pk_[i + 1][j + 1] = p11;
}

void update_clock_noise_cov(F32 dt) {
  Pk_[CLK + 1][CLK + 1] += Sg * dt;
  Pk_[CLK][CLK + 1] += Sg * dt * dt / 2.0F;
  Pk_[CLK + 1][CLK] += Sg * dt * dt / 2.0F;
  Pk_[CLK][CLK] += Sf * dt + Sg * dt * dt * dt / 3.0F;
}

void project_P_model(F32 dt) {
  for (int i = 0; i < KMF_NSTATE; ++i)
    for (int j = 0; j < KMF_NSTATE; ++j) Pk_[i][j] = (i < CLK && j < CLK) ? Pk[i][j] : 0.0F;
  propagate_block(3, 3, dt);
  for (int k = 0; k < 3; ++k) {
    Pk_[2 * k][2 * k] += Spp * dt;
    Pk_[2 * k + 1][2 * k + 1] += Spv * dt;
  }
}

void project_PV_model(F32 dt) {
  for (int a = 0; a < 4; ++a)
    for (int b = 0; b < 4; ++b) propagate_block(a, b, dt);
  symmetrise(Pk_);
  for (int k = 0; k < 3; ++k) {
    const int p = 2 * k;
    Pk_[p][p] += Sp_pv * dt * dt * dt / 3.0F;
    Pk_[p][p + 1] += Sp_pv * dt * dt / 2.0F;
    Pk_[p + 1][p] += Sp_pv * dt * dt / 2.0F;
    Pk_[p + 1][p + 1] += Sp_pv * dt;
  }
}

// Scale of the measurement variances of this update (jump mode; 1 outside).
F32 jump_scale() {
  if (Do_jump == 0) return 1.0F;
  ++Jump_mode_count;
  const F32 s = static_cast<F32>(Jump_mode_count) * Jump_mode_r_scale;
  if (Jump_mode_count >= Jump_mode_max) Do_jump = 0;
  return s;
}

// The observed state indices of a row and their coefficients; the count (3 or 4).
int row_states(const F32* h, S16 is_dr, int idx[4], F32 c[4]) {
  const int off = is_dr != 0 ? 1 : 0;
  for (int k = 0; k < 3; ++k) {
    idx[k] = 2 * k + off;
    c[k] = h[k];
  }
  if (h[0] == 0.0F && h[1] == 0.0F) return 3;  // altitude pseudo-measurement: no clock term
  idx[3] = CLK + off;
  c[3] = 1.0F;
  return 4;
}

// One scalar update on the working copy w (double: the first update after a
// reset takes variances from 1e6 down to 1e-2, which single precision cannot
// resolve without losing the covariance's positive definiteness).
bool apply_scalar(MAT8D& w, const F32* h, F32 r, F32 z, S16 is_dr, D64* x) {
  int idx[4];
  F32 c[4];
  const int n = row_states(h, is_dr, idx, c);
  D64 pht[KMF_NSTATE];
  for (int i = 0; i < KMF_NSTATE; ++i) {
    D64 s = 0.0;
    for (int k = 0; k < n; ++k) s += w[i][idx[k]] * c[k];
    pht[i] = s;
  }
  D64 s = r;
  D64 hx = 0.0;
  for (int k = 0; k < n; ++k) {
    s += c[k] * pht[idx[k]];
    hx += c[k] * x[idx[k]];
  }
  if (!(s > 0.0) || !std::isfinite(s)) return false;
  const D64 innov = z - hx;
  for (int i = 0; i < KMF_NSTATE; ++i) {
    const D64 gain = pht[i] / s;
    x[i] += gain * innov;
    for (int j = 0; j < KMF_NSTATE; ++j) w[i][j] -= gain * pht[j];
  }
  for (int i = 0; i < KMF_NSTATE; ++i)
    for (int j = i + 1; j < KMF_NSTATE; ++j) {
      const D64 a = 0.5 * (w[i][j] + w[j][i]);
      w[i][j] = a;
      w[j][i] = a;
    }
  return true;
}

// Keeps the updated covariance a covariance after hostile rows (variances
// near the floor against 1e6 priors): variances at least MIN_STATE_VARIANCE,
// every correlation within +-0.999.
void condition(MAT8D& w) {
  for (int i = 0; i < KMF_NSTATE; ++i) w[i][i] = std::max(w[i][i], MIN_STATE_VARIANCE);
  for (int i = 0; i < KMF_NSTATE; ++i)
    for (int j = i + 1; j < KMF_NSTATE; ++j) {
      const D64 lim = MAX_CORRELATION * std::sqrt(w[i][i] * w[j][j]);
      const D64 a = std::clamp(w[i][j], -lim, lim);
      w[i][j] = a;
      w[j][i] = a;
    }
}

}  // namespace

void KMF_reset() {
  Has_prior = 0;
  Dynamic_model = KMF_P_MODEL;
  Pk = diagonal(KMF_RESET_VARIANCE);
  Pk_ = Pk;
  Do_jump = 0;
}

void KMF_reset_pos_pk_only() {
  Has_prior = 0;
  constexpr int POS[4] = {0, 2, 4, CLK};
  for (const int p : POS)
    for (int j = 0; j < KMF_NSTATE; ++j) {
      Pk[p][j] = Pk_[p][j];
      Pk[j][p] = Pk_[j][p];
    }
  for (const int p : POS) {
    Pk[p][p] = KMF_RESET_VARIANCE;
    Pk_[p][p] = KMF_RESET_VARIANCE;
  }
}

void KMF_switch_dynamic_model(S16 model) {
  if (model == KMF_P_MODEL || model == KMF_PV_MODEL) Dynamic_model = model;
}

S16 KMF_is_P_mode() { return Dynamic_model == KMF_P_MODEL ? 1 : 0; }
S16 KMF_get_dynamic_model() { return Dynamic_model; }

void KMF_set_P_process_noise_parameter(F32 spp, F32 spv) {
  if (usable(spp)) Spp = spp;
  if (usable(spv)) Spv = spv;
}

void KMF_set_PV_process_noise_parameter(F32 sp) {
  if (usable(sp)) Sp_pv = sp;
}

F32 KMF_get_PV_process_noise_parameter() { return Sp_pv; }

void KMF_set_clock_process_noise_parameter(F32 sf, F32 sg) {
  if (usable(sf)) Sf = sf;
  if (usable(sg)) Sg = sg;
}

void KMF_set_gps_glonass_time_diff_noise_parameter(F32 stsys) {
  if (usable(stsys)) Stsys = stsys;
}

void KMF_switch_P_process_Q_larger(S16 period) {
  Spp = SPP_LARGE;
  Static_large_Q_period = period;
  Static_large_Q_count = 0;
}

void KMF_stop_P_process_large_Q_mode() { Spp = SPP_NORMAL; }
F32 KMF_get_P_position_noise() { return Spp; }

void KMF_set_jump(S16 jump_mode, S16 times) {
  Jump_mode_r_scale = jump_mode == KMF_SMALL_JUMP ? 0.05F : 0.01F;
  Jump_mode_count = 0;
  Jump_mode_max = times;
  Do_jump = times > 0 ? 1 : 0;
}

void KMF_project_covariance(F32 dt) {
  Has_prior = 0;
  if (!std::isfinite(dt) || dt <= 0.0F || dt > KMF_MAX_PROJECT_DT) {
    KMF_reset();
    return;
  }
  if (Dynamic_model == KMF_PV_MODEL)
    project_PV_model(dt);
  else
    project_P_model(dt);
  update_clock_noise_cov(dt);
}

S16 KMF_update(S16 nmeas, const F32* const* hk, const F32* rk_in, const F32* zk, const S16* is_dr,
               const S16* is_second_gnss_meas, F32* xk) {
  (void)is_second_gnss_meas;  // the second-system clock is not a state of this filter
  if (xk == nullptr) return 0;
  std::fill(xk, xk + KMF_NSTATE, 0.0F);
  if (hk == nullptr || rk_in == nullptr || zk == nullptr || is_dr == nullptr || nmeas <= 0) return 0;
  nmeas = std::min(nmeas, KMF_MAX_MEAS);
  const F32 scale = jump_scale();
  if (Spp == SPP_LARGE && ++Static_large_Q_count > Static_large_Q_period) Spp = SPP_NORMAL;
  Pk_prior = Pk_;
  Has_prior = 1;
  MAT8D w{};
  for (int i = 0; i < KMF_NSTATE; ++i)
    for (int j = 0; j < KMF_NSTATE; ++j) w[i][j] = Pk_[i][j];
  D64 x[KMF_NSTATE] = {};
  S16 applied = 0;
  for (S16 m = 0; m < nmeas; ++m) {
    const F32* h = hk[m];
    if (h == nullptr) continue;
    F32 r = rk_in[m] * scale;
    if (!std::isfinite(r) || !(r > 0.0F) || !std::isfinite(zk[m])) continue;
    r = std::max(r, MIN_MEAS_VARIANCE);
    if (!std::isfinite(h[0]) || !std::isfinite(h[1]) || !std::isfinite(h[2])) continue;
    if (apply_scalar(w, h, r, zk[m], is_dr[m], x)) ++applied;
  }
  condition(w);
  bool finite = true;
  for (int i = 0; i < KMF_NSTATE; ++i) {
    xk[i] = static_cast<F32>(x[i]);
    finite = finite && std::isfinite(xk[i]);
    for (int j = 0; j < KMF_NSTATE; ++j) {
      Pk_[i][j] = static_cast<F32>(w[i][j]);
      finite = finite && std::isfinite(Pk_[i][j]);
    }
  }
  if (!finite) {  // never keep a non-finite state
    KMF_reset();
    std::fill(xk, xk + KMF_NSTATE, 0.0F);
    return 0;
  }
  Pk = Pk_;
  return applied;
}

S16 KMF_scale_last_correction(const F32* scale) {
  if (scale == nullptr || Has_prior == 0) return 0;
  for (int i = 0; i < KMF_NSTATE; ++i)
    if (!std::isfinite(scale[i])) return 0;
  // The correction applied is G v with the gain G = F K (F = diag(scale)) in
  // place of K; with D = K S K^T = prior - updated, the error covariance of
  // that suboptimal gain (Joseph form) is prior - F D - D F + F D F.
  MAT8D w{};
  for (int i = 0; i < KMF_NSTATE; ++i)
    for (int j = 0; j < KMF_NSTATE; ++j) {
      const D64 d = static_cast<D64>(Pk_prior[i][j]) - static_cast<D64>(Pk_[i][j]);
      const D64 fi = scale[i];
      const D64 fj = scale[j];
      w[i][j] = static_cast<D64>(Pk_prior[i][j]) - (fi + fj - fi * fj) * d;
    }
  condition(w);
  for (int i = 0; i < KMF_NSTATE; ++i)
    for (int j = 0; j < KMF_NSTATE; ++j) Pk_[i][j] = static_cast<F32>(w[i][j]);
  symmetrise(Pk_);
  Pk = Pk_;
  Has_prior = 0;
  return 1;
}

S16 KMF_variance_mask_check(F32 threshold) {
  F32 sum = 0.0F;
  for (int i = 0; i < KMF_NSTATE; ++i) sum += Pk_[i][i];
  return sum <= threshold ? 1 : 0;
}

F32 KMF_get_position_variance() { return Pk_[0][0] + Pk_[2][2] + Pk_[4][4] + Pk_[CLK][CLK]; }

S16 KMF_get_covariance(F32* pk_out) {
  if (pk_out == nullptr) return 0;
  copy_out(Pk, pk_out);
  return 1;
}

S16 KMF_get_work_covariance(F32* pk_out) {
  if (pk_out == nullptr) return 0;
  copy_out(Pk_, pk_out);
  return 1;
}
