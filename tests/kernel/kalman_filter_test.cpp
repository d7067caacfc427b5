// Navigation Kalman filter (KMF_): projections and scalar updates checked
// against an independent double-precision computation of the textbook
// equations (P' = F P F^T + Q; K = P H^T / (H P H^T + r), x = K z,
// P = P - K H P), the mode rules (reset on a long or non-positive interval,
// jump-mode variance scaling, large-Q period, pseudo-measurement rows without
// clock), and the static position filter's speed rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "kernel/src/kalman_filter.h"
#include "kernel/src/nav_model.h"
#include "kernel/src/static_filter.h"

namespace {

using M8 = std::array<std::array<double, 8>, 8>;
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

M8 read_cov(S16 (*get)(F32*)) {
  std::array<F32, 64> a{};
  EXPECT_EQ(get(a.data()), 1);
  M8 m{};
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) m[i][j] = a[static_cast<std::size_t>(i * 8 + j)];
  return m;
}
M8 work_cov() { return read_cov(KMF_get_work_covariance); }  // Pk_
M8 base_cov() { return read_cov(KMF_get_covariance); }       // Pk

// Full 8-state design row of a measurement (clock column 1 unless the row is
// an altitude pseudo-measurement with zero east and north cosines).
std::array<double, 8> design_row(const F32* h, bool is_dr) {
  std::array<double, 8> H{};
  const int off = is_dr ? 1 : 0;
  H[static_cast<std::size_t>(0 + off)] = h[0];
  H[static_cast<std::size_t>(2 + off)] = h[1];
  H[static_cast<std::size_t>(4 + off)] = h[2];
  if (h[0] != 0.0F || h[1] != 0.0F) H[static_cast<std::size_t>(6 + off)] = 1.0;
  return H;
}

// Independent scalar update from x = 0: returns x, updates P.
std::array<double, 8> ref_update(M8& P, const std::array<double, 8>& H, double r, double z) {
  std::array<double, 8> ph{};
  for (int i = 0; i < 8; ++i)
    for (int k = 0; k < 8; ++k) ph[i] += P[i][k] * H[k];
  double s = r;
  for (int k = 0; k < 8; ++k) s += H[k] * ph[k];
  std::array<double, 8> x{};
  for (int i = 0; i < 8; ++i) x[i] = ph[i] / s * z;
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) P[i][j] -= ph[i] * ph[j] / s;
  return x;
}

void expect_near_rel(const M8& a, const M8& b, double rel, const std::string& what) {
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j)
      EXPECT_NEAR(a[i][j], b[i][j], rel * (1.0 + std::fabs(b[i][j]))) << what << " [" << i << "][" << j << "]";
}

// Symmetric, and positive definite up to rounding (a jitter of 1e-6 of the
// largest variance added to the diagonal: the covariance is stored in single
// precision, about 1e-7 relative).
bool symmetric_positive(const M8& P_in) {
  M8 P = P_in;
  double big = 0.0;
  for (int i = 0; i < 8; ++i) big = std::max(big, P[i][i]);
  for (int i = 0; i < 8; ++i) {
    if (!(P[i][i] > 0.0)) return false;
    P[i][i] += 1e-6 * big;
  }
  M8 L{};
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j)
      if (std::fabs(P[i][j] - P[j][i]) > 1e-6 * (1.0 + std::fabs(P[i][j]))) return false;
  for (int j = 0; j < 8; ++j) {  // Cholesky
    double d = P[j][j];
    for (int k = 0; k < j; ++k) d -= L[j][k] * L[j][k];
    if (!(d > 0.0)) return false;
    L[j][j] = std::sqrt(d);
    for (int i = j + 1; i < 8; ++i) {
      double s = P[i][j];
      for (int k = 0; k < j; ++k) s -= L[i][k] * L[j][k];
      L[i][j] = s / L[j][j];
    }
  }
  return true;
}

// Defaults of the filter's noise densities.
void reset_filter() {
  KMF_reset();
  KMF_stop_P_process_large_Q_mode();
  KMF_set_P_process_noise_parameter(0.0001F, 0.04F);
  KMF_set_PV_process_noise_parameter(1.0F);
  KMF_set_clock_process_noise_parameter(4.0F, 0.49F);
  KMF_set_jump(KMF_BIG_JUMP, 0);
}

// A few range-rate and pseudorange rows that give the covariance cross terms.
struct Rows {
  std::array<std::array<F32, 3>, 6> h{{{0.6F, 0.0F, 0.8F},
                                       {-0.5F, 0.5F, 0.7071F},
                                       {0.0F, -0.6F, 0.8F},
                                       {0.3F, 0.9F, 0.3162F},
                                       {-0.8F, -0.3F, 0.5196F},
                                       {0.1F, 0.2F, 0.9747F}}};
  std::array<const F32*, 12> hp{};
  std::array<F32, 12> r{}, z{};
  std::array<S16, 12> dr{};
  S16 n = 12;
  Rows() {
    for (std::size_t i = 0; i < 12; ++i) {
      hp[i] = h[i % 6].data();
      dr[i] = i < 6 ? 1 : 0;
      r[i] = i < 6 ? 0.04F : 9.0F;
      z[i] = static_cast<F32>(i < 6 ? 0.1 * static_cast<double>(i) - 0.2 : 3.0 - static_cast<double>(i));
    }
  }
  S16 apply(F32* xk) { return KMF_update(n, hp.data(), r.data(), z.data(), dr.data(), nullptr, xk); }
};

// The filter with the default noise, the PV model, one 1 s projection and the
// twelve rows of Rows taken (all twelve must be used); x gets the correction.
bool prime_pv(F32* x) {
  reset_filter();
  KMF_switch_dynamic_model(KMF_PV_MODEL);
  KMF_project_covariance(1.0F);
  Rows rows;
  return rows.apply(x) == 12;
}

// One row: cosines h (east, north, up), variance r, residual z.
S16 update_one(const F32* h, F32 r, F32 z, S16 is_dr, F32* x) { return KMF_update(1, &h, &r, &z, &is_dr, nullptr, x); }

// --- Projection ---------------------------------------------------------------------------

struct ResetCase {
  const char* name;
  F32 dt;
};

class KmfProjectReset : public testing::TestWithParam<ResetCase> {};

TEST_P(KmfProjectReset, CovarianceBackTo1e6) {
  std::array<F32, 8> x{};
  ASSERT_TRUE(prime_pv(x.data()));
  ASSERT_LT(work_cov()[0][0], 1000.0);
  KMF_project_covariance(GetParam().dt);
  const M8 P = work_cov();
  const M8 B = base_cov();
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) {
      EXPECT_EQ(P[i][j], i == j ? 1.0e6 : 0.0) << "[" << i << "][" << j << "]";
      EXPECT_EQ(B[i][j], i == j ? 1.0e6 : 0.0) << "[" << i << "][" << j << "]";
    }
  EXPECT_EQ(KMF_is_P_mode(), 1) << "a reset returns to the P model";
}

INSTANTIATE_TEST_SUITE_P(Cases, KmfProjectReset,
                         testing::Values(ResetCase{"gap_150_s", 150.0F}, ResetCase{"gap_100_5_s", 100.5F},
                                         ResetCase{"repeated_epoch_dt_0", 0.0F},
                                         ResetCase{"backward_epoch_dt_minus_1", -1.0F},
                                         ResetCase{"dt_nan", static_cast<F32>(NaN)},
                                         ResetCase{"dt_infinite", std::numeric_limits<F32>::infinity()}),
                         [](const testing::TestParamInfo<ResetCase>& i) { return std::string(i.param.name); });

struct ProjectCase {
  const char* name;
  S16 model;
  double dt;
};

class KmfProject : public testing::TestWithParam<ProjectCase> {};

TEST_P(KmfProject, MatchesIndependentProjection) {
  const ProjectCase& pc = GetParam();
  std::array<F32, 8> x{};
  ASSERT_TRUE(prime_pv(x.data()));
  const M8 P0 = base_cov();
  KMF_switch_dynamic_model(pc.model);
  KMF_project_covariance(static_cast<F32>(pc.dt));
  const double dt = pc.dt;
  // F: per axis and clock [[1, dt], [0, 1]]; the P model keeps the axes uncoupled
  // (F = identity there) and propagates only the clock.
  M8 F{};
  for (int i = 0; i < 8; ++i) F[i][i] = 1.0;
  for (int a = 0; a < 4; ++a)
    if (pc.model == KMF_PV_MODEL || a == 3) F[2 * a][2 * a + 1] = dt;
  M8 E{};
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) {
      double s = 0.0;
      for (int k = 0; k < 8; ++k)
        for (int l = 0; l < 8; ++l) s += F[i][k] * P0[k][l] * F[j][l];
      E[i][j] = s;
    }
  if (pc.model == KMF_P_MODEL) {  // no coupling between the axes and the clock
    for (int i = 0; i < 6; ++i)
      for (int j = 6; j < 8; ++j) E[i][j] = E[j][i] = 0.0;
    for (int a = 0; a < 3; ++a) {
      E[2 * a][2 * a] += 0.0001 * dt;
      E[2 * a + 1][2 * a + 1] += 0.04 * dt;
    }
  } else {
    for (int a = 0; a < 3; ++a) {
      E[2 * a][2 * a] += dt * dt * dt / 3.0;
      E[2 * a][2 * a + 1] += dt * dt / 2.0;
      E[2 * a + 1][2 * a] += dt * dt / 2.0;
      E[2 * a + 1][2 * a + 1] += dt;
    }
  }
  E[7][7] += 0.49 * dt;
  E[6][7] += 0.49 * dt * dt / 2.0;
  E[7][6] += 0.49 * dt * dt / 2.0;
  E[6][6] += 4.0 * dt + 0.49 * dt * dt * dt / 3.0;
  expect_near_rel(work_cov(), E, 2e-5, pc.name);
  EXPECT_TRUE(symmetric_positive(work_cov()));
}

INSTANTIATE_TEST_SUITE_P(Cases, KmfProject,
                         testing::Values(ProjectCase{"p_model_1_s", KMF_P_MODEL, 1.0},
                                         ProjectCase{"p_model_0_5_s", KMF_P_MODEL, 0.5},
                                         ProjectCase{"pv_model_1_s", KMF_PV_MODEL, 1.0},
                                         ProjectCase{"pv_model_2_5_s", KMF_PV_MODEL, 2.5},
                                         ProjectCase{"pv_model_100_s", KMF_PV_MODEL, 100.0}),
                         [](const testing::TestParamInfo<ProjectCase>& i) { return std::string(i.param.name); });

// --- Updates ------------------------------------------------------------------------------

struct UpdateCase {
  const char* name;
  std::array<F32, 3> h;
  bool is_dr;
  F32 r, z;
};

class KmfScalarUpdate : public testing::TestWithParam<UpdateCase> {};

TEST_P(KmfScalarUpdate, KnownAnswer) {
  const UpdateCase& uc = GetParam();
  std::array<F32, 8> x{};
  ASSERT_TRUE(prime_pv(x.data()));
  KMF_project_covariance(1.0F);
  M8 P = work_cov();
  const std::array<double, 8> xe = ref_update(P, design_row(uc.h.data(), uc.is_dr), uc.r, uc.z);
  ASSERT_EQ(update_one(uc.h.data(), uc.r, uc.z, uc.is_dr ? 1 : 0, x.data()), 1);
  for (int i = 0; i < 8; ++i)
    EXPECT_NEAR(x[static_cast<std::size_t>(i)], xe[static_cast<std::size_t>(i)], 1e-4 * (1.0 + std::fabs(xe[i])))
        << "state " << i;
  expect_near_rel(work_cov(), P, 1e-4, uc.name);
  expect_near_rel(base_cov(), P, 1e-4, "Pk = Pk_ after the update");
  EXPECT_TRUE(symmetric_positive(work_cov()));
}

INSTANTIATE_TEST_SUITE_P(Cases, KmfScalarUpdate,
                         testing::Values(UpdateCase{"pseudorange_row", {0.48F, -0.6F, 0.64F}, false, 4.0F, 7.5F},
                                         UpdateCase{"range_rate_row", {-0.36F, 0.48F, 0.8F}, true, 0.01F, -0.3F},
                                         UpdateCase{"altitude_pseudo_row", {0.0F, 0.0F, 1.0F}, false, 16.0F, 2.0F},
                                         UpdateCase{
                                             "vertical_speed_pseudo_row", {0.0F, 0.0F, 1.0F}, true, 0.25F, -0.5F}),
                         [](const testing::TestParamInfo<UpdateCase>& i) { return std::string(i.param.name); });

// A correction taken only in part (scale f per state): the covariance is that
// of the scaled gain G = diag(f) K, Joseph form P = (I - G H) P0 (I - G H)^T +
// G r G^T, computed here independently from the prior P0.
struct ScaleCase {
  const char* name;
  std::array<F32, 8> f;
};

class KmfScaledCorrection : public testing::TestWithParam<ScaleCase> {};

TEST_P(KmfScaledCorrection, JosephFormOfTheScaledGain) {
  const ScaleCase& sc = GetParam();
  std::array<F32, 8> x{};
  ASSERT_TRUE(prime_pv(x.data()));
  KMF_project_covariance(1.0F);
  const M8 P0 = work_cov();
  const F32 h[3] = {0.48F, -0.6F, 0.64F};
  const F32 r = 4.0F;
  ASSERT_EQ(update_one(h, r, 7.5F, 0, x.data()), 1);
  const std::array<double, 8> H = design_row(h, false);
  std::array<double, 8> g{};
  double s = r;
  for (int i = 0; i < 8; ++i)
    for (int k = 0; k < 8; ++k) g[i] += P0[i][k] * H[k];
  for (int i = 0; i < 8; ++i) s += H[i] * g[i];
  for (int i = 0; i < 8; ++i) g[i] = sc.f[static_cast<std::size_t>(i)] * g[i] / s;
  M8 A{};  // I - G H
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) A[i][j] = (i == j ? 1.0 : 0.0) - g[i] * H[j];
  M8 E{};
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) {
      double v = g[i] * r * g[j];
      for (int k = 0; k < 8; ++k)
        for (int l = 0; l < 8; ++l) v += A[i][k] * P0[k][l] * A[j][l];
      E[i][j] = v;
    }
  ASSERT_EQ(KMF_scale_last_correction(sc.f.data()), 1);
  expect_near_rel(work_cov(), E, 1e-4, sc.name);
  expect_near_rel(base_cov(), E, 1e-4, "Pk = Pk_ after the scaling");
  EXPECT_TRUE(symmetric_positive(work_cov()));
  EXPECT_EQ(KMF_scale_last_correction(sc.f.data()), 0) << "only once per update";
}

INSTANTIATE_TEST_SUITE_P(Cases, KmfScaledCorrection,
                         testing::Values(ScaleCase{"all_taken", {1, 1, 1, 1, 1, 1, 1, 1}},
                                         ScaleCase{"none_taken", {0, 0, 0, 0, 0, 0, 0, 0}},
                                         ScaleCase{"horizontal_tenth", {0.1F, 1, 0.1F, 1, 1, 1, 1, 1}},
                                         ScaleCase{"position_and_clock_0_3", {0.3F, 1, 0.3F, 1, 0.3F, 1, 0.3F, 1}},
                                         ScaleCase{"position_held", {0, 1, 0, 1, 0, 1, 1, 1}}),
                         [](const testing::TestParamInfo<ScaleCase>& i) { return std::string(i.param.name); });

struct ScaleRefusedCase {
  const char* name;
  bool update_first, project_after;
  F32 f0;
};

class KmfScaleRefused : public testing::TestWithParam<ScaleRefusedCase> {};

TEST_P(KmfScaleRefused, CovarianceUntouched) {
  const ScaleRefusedCase& c = GetParam();
  reset_filter();
  KMF_project_covariance(1.0F);
  std::array<F32, 8> x{};
  if (c.update_first) {
    Rows rows;
    ASSERT_EQ(rows.apply(x.data()), 12);
  }
  if (c.project_after) KMF_project_covariance(1.0F);
  const M8 before = work_cov();
  std::array<F32, 8> f{};
  f.fill(0.5F);
  f[0] = c.f0;
  EXPECT_EQ(KMF_scale_last_correction(f.data()), 0) << c.name;
  EXPECT_EQ(KMF_scale_last_correction(nullptr), 0) << c.name;
  expect_near_rel(work_cov(), before, 0.0, c.name);
}

INSTANTIATE_TEST_SUITE_P(Cases, KmfScaleRefused,
                         testing::Values(ScaleRefusedCase{"no_update_yet", false, false, 0.5F},
                                         ScaleRefusedCase{"projected_since_the_update", true, true, 0.5F},
                                         ScaleRefusedCase{"non_finite_scale", true, false, static_cast<F32>(NaN)}),
                         [](const testing::TestParamInfo<ScaleRefusedCase>& i) { return std::string(i.param.name); });

TEST(KmfUpdate, PseudoMeasurementRowLeavesTheClockAlone) {
  reset_filter();
  KMF_project_covariance(1.0F);
  const M8 before = work_cov();
  const F32 h[3] = {0.0F, 0.0F, 1.0F};
  std::array<F32, 8> x{};
  ASSERT_EQ(update_one(h, 16.0F, 10.0F, 0, x.data()), 1);
  const M8 after = work_cov();
  EXPECT_EQ(x[6], 0.0F);
  EXPECT_EQ(x[7], 0.0F);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(after[6][i], before[6][i]) << i;
    EXPECT_EQ(after[7][i], before[7][i]) << i;
  }
  // Only the up state moves: P_uu / (P_uu + r) x z, without clock variance in the innovation.
  const double puu = before[4][4];
  EXPECT_NEAR(x[4], puu / (puu + 16.0) * 10.0, 1e-4);
  EXPECT_EQ(x[0], 0.0F);
  EXPECT_EQ(x[2], 0.0F);
}

// Jump mode: three updates with variances scaled 0.01, 0.02, 0.03 (big) or
// 0.05, 0.10, 0.15 (small); the fourth is back to the plain variance.
struct JumpCase {
  const char* name;
  S16 mode;
  std::array<double, 4> scale;
};

class KmfJump : public testing::TestWithParam<JumpCase> {};

TEST_P(KmfJump, ScalesTheNextUpdates) {
  const JumpCase& jc = GetParam();
  reset_filter();
  KMF_switch_dynamic_model(KMF_PV_MODEL);
  KMF_project_covariance(1.0F);
  KMF_set_jump(jc.mode, 3);
  const F32 h[3] = {0.48F, -0.6F, 0.64F};
  const F32 r = 25.0F;
  const F32 z = 40.0F;
  for (int k = 0; k < 4; ++k) {
    KMF_project_covariance(1.0F);
    M8 P = work_cov();
    const std::array<double, 8> xe = ref_update(P, design_row(h, false), r * jc.scale[static_cast<std::size_t>(k)], z);
    std::array<F32, 8> x{};
    ASSERT_EQ(update_one(h, r, z, 0, x.data()), 1);
    EXPECT_NEAR(x[0], xe[0], 1e-4 * (1.0 + std::fabs(xe[0]))) << "update " << k + 1;
    expect_near_rel(work_cov(), P, 1e-4, std::string(jc.name) + " update " + std::to_string(k + 1));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, KmfJump,
                         testing::Values(JumpCase{"big_jump", KMF_BIG_JUMP, {0.01, 0.02, 0.03, 1.0}},
                                         JumpCase{"small_jump", KMF_SMALL_JUMP, {0.05, 0.10, 0.15, 1.0}}),
                         [](const testing::TestParamInfo<JumpCase>& i) { return std::string(i.param.name); });

// Rows that must be skipped: non-positive or non-finite variance, non-finite
// cosines or residual. The covariance and the state stay as they were.
struct SkipCase {
  const char* name;
  std::array<F32, 3> h;
  F32 r, z;
};

class KmfSkip : public testing::TestWithParam<SkipCase> {};

TEST_P(KmfSkip, RowIsSkipped) {
  const SkipCase& sc = GetParam();
  reset_filter();
  KMF_project_covariance(1.0F);
  const M8 before = work_cov();
  std::array<F32, 8> x{};
  x.fill(5.0F);
  EXPECT_EQ(update_one(sc.h.data(), sc.r, sc.z, 0, x.data()), 0);
  for (F32 v : x) EXPECT_EQ(v, 0.0F);
  expect_near_rel(work_cov(), before, 0.0, sc.name);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KmfSkip,
    testing::Values(SkipCase{"zero_variance", {0.6F, 0.0F, 0.8F}, 0.0F, 3.0F},
                    SkipCase{"negative_variance", {0.6F, 0.0F, 0.8F}, -4.0F, 3.0F},
                    SkipCase{"nan_variance", {0.6F, 0.0F, 0.8F}, static_cast<F32>(NaN), 3.0F},
                    SkipCase{"infinite_variance", {0.6F, 0.0F, 0.8F}, std::numeric_limits<F32>::infinity(), 3.0F},
                    SkipCase{"nan_residual", {0.6F, 0.0F, 0.8F}, 4.0F, static_cast<F32>(NaN)},
                    SkipCase{"nan_cosine", {static_cast<F32>(NaN), 0.0F, 0.8F}, 4.0F, 3.0F}),
    [](const testing::TestParamInfo<SkipCase>& i) { return std::string(i.param.name); });

TEST(KmfUpdate, NegativeVarianceRowAmongGoodRowsIsSkippedOnly) {
  reset_filter();
  KMF_project_covariance(1.0F);
  Rows rows;
  rows.r[3] = -1.0F;
  std::array<F32, 8> x{};
  EXPECT_EQ(rows.apply(x.data()), 11);
  for (F32 v : x) EXPECT_TRUE(std::isfinite(v));
  EXPECT_TRUE(symmetric_positive(work_cov()));
}

TEST(KmfUpdate, HostileSequenceKeepsAFiniteSymmetricCovariance) {
  reset_filter();
  std::mt19937 rng(17);
  std::uniform_real_distribution<float> u(-1.0F, 1.0F);
  const std::array<F32, 6> odd = {static_cast<F32>(NaN), -1.0F, 0.0F, 1e-30F, 1e30F, 1e-3F};
  for (int epoch = 0; epoch < 300; ++epoch) {
    KMF_switch_dynamic_model(epoch % 7 < 3 ? KMF_P_MODEL : KMF_PV_MODEL);
    KMF_project_covariance(epoch % 50 == 49 ? 0.0F : 0.5F + 0.5F * static_cast<F32>(epoch % 3));
    Rows rows;
    for (std::size_t i = 0; i < 12; ++i) {
      rows.z[i] = 100.0F * u(rng);
      if (epoch % 5 == 0) rows.r[i] = odd[(i + static_cast<std::size_t>(epoch)) % odd.size()];
      if (epoch % 11 == 0) rows.z[i] = i % 2 == 0 ? static_cast<F32>(NaN) : 1e30F;
    }
    std::array<F32, 8> x{};
    (void)rows.apply(x.data());
    for (F32 v : x) ASSERT_TRUE(std::isfinite(v)) << "epoch " << epoch;
    const M8 P = work_cov();
    for (const auto& row : P)
      for (double v : row) ASSERT_TRUE(std::isfinite(v)) << "epoch " << epoch;
    for (int i = 0; i < 8; ++i) {
      ASSERT_GT(P[i][i], 0.0) << "epoch " << epoch << " variance " << i;
      for (int j = 0; j < 8; ++j) {
        ASSERT_EQ(P[i][j], P[j][i]) << "epoch " << epoch;
        ASSERT_LE(P[i][j] * P[i][j], P[i][i] * P[j][j] * 1.000001) << "epoch " << epoch << " correlation " << i << j;
      }
    }
  }
}

// --- Modes and checks ---------------------------------------------------------------------

TEST(KmfModes, LargeQLastsItsPeriod) {
  reset_filter();
  KMF_switch_P_process_Q_larger(3);
  EXPECT_EQ(KMF_get_P_position_noise(), 0.03F);
  const F32 h[3] = {0.6F, 0.0F, 0.8F};
  std::array<F32, 8> x{};
  for (int k = 1; k <= 4; ++k) {
    KMF_project_covariance(1.0F);
    (void)update_one(h, 4.0F, 1.0F, 0, x.data());
    EXPECT_EQ(KMF_get_P_position_noise(), k <= 3 ? 0.03F : 0.0001F) << "after update " << k;
  }
  KMF_switch_P_process_Q_larger(100);
  KMF_stop_P_process_large_Q_mode();
  EXPECT_EQ(KMF_get_P_position_noise(), 0.0001F);
}

TEST(KmfModes, VarianceChecksAndPositionReset) {
  reset_filter();
  EXPECT_EQ(KMF_variance_mask_check(8.0e6F), 1);
  EXPECT_EQ(KMF_variance_mask_check(7.9e6F), 0);
  EXPECT_EQ(KMF_get_position_variance(), 4.0e6F);
  KMF_switch_dynamic_model(KMF_PV_MODEL);
  KMF_project_covariance(1.0F);
  Rows rows;
  std::array<F32, 8> x{};
  ASSERT_EQ(rows.apply(x.data()), 12);
  const M8 before = work_cov();
  KMF_reset_pos_pk_only();
  const M8 P = work_cov();
  const M8 B = base_cov();
  for (int i : {0, 2, 4, 6}) {
    EXPECT_EQ(P[i][i], 1.0e6);
    EXPECT_EQ(B[i][i], 1.0e6);
  }
  for (int i : {1, 3, 5, 7}) EXPECT_EQ(P[i][i], before[i][i]) << "velocity variance kept " << i;
  EXPECT_EQ(P[0][1], before[0][1]) << "cross terms kept";
  EXPECT_EQ(KMF_is_P_mode(), 0) << "the model is kept";
}

TEST(KmfModes, BadNoiseParametersAreIgnored) {
  reset_filter();
  KMF_set_PV_process_noise_parameter(static_cast<F32>(NaN));
  KMF_set_PV_process_noise_parameter(-1.0F);
  EXPECT_EQ(KMF_get_PV_process_noise_parameter(), 1.0F);
  KMF_switch_dynamic_model(7);
  EXPECT_EQ(KMF_get_dynamic_model(), KMF_P_MODEL);
}

// --- Static position filter: the speed rules ----------------------------------------------

// Fix count 20 on each call (past the early-enable window of the first 10 fixes).
int epochs_to_enable() {
  for (int k = 1; k <= 400; ++k) {
    SPMFILTER_update_navigation_states(20U, FIX_3D, 0.0F);
    if (SPMFILTER_is_enabled() != 0) return k;
  }
  return -1;
}

// Still epochs (speed 0, 3-D fixes) until the filter enables, after a history.
struct EnableCase {
  const char* name;
  int fast_epochs;  // epochs at 10 m/s first (fix count 20)
  bool early;       // the still epochs are fixes 1, 2, ... (else fix count 20)
  int expect;       // still epochs until enabled
};

class StaticFilterEnable : public testing::TestWithParam<EnableCase> {};

TEST_P(StaticFilterEnable, StillEpochs) {
  const EnableCase& c = GetParam();
  SPMFILTER_init();
  for (int k = 0; k < c.fast_epochs; ++k) SPMFILTER_update_navigation_states(20U, FIX_3D, 10.0F);
  int k = 0;
  if (c.early) {
    while (SPMFILTER_is_enabled() == 0 && k < 20)
      SPMFILTER_update_navigation_states(static_cast<U32>(++k), FIX_3D, 0.0F);
  } else {
    k = epochs_to_enable();
  }
  EXPECT_EQ(k, c.expect) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, StaticFilterEnable,
                         testing::Values(EnableCase{"never_fast_31", 0, false, 31},
                                         EnableCase{"after_driving_301", 12, false, 301},
                                         EnableCase{"early_fixes_5", 0, true, 5}),
                         [](const testing::TestParamInfo<EnableCase>& i) { return std::string(i.param.name); });

struct DisableCase {
  const char* name;
  F32 speed;
  int epochs;
  S16 expect_enabled;
};

class StaticFilterDisable : public testing::TestWithParam<DisableCase> {};

TEST_P(StaticFilterDisable, Motion) {
  const DisableCase& dc = GetParam();
  SPMFILTER_init();
  ASSERT_EQ(epochs_to_enable(), 31);
  for (int k = 0; k < dc.epochs; ++k) SPMFILTER_update_navigation_states(20U, FIX_3D, dc.speed);
  EXPECT_EQ(SPMFILTER_is_enabled(), dc.expect_enabled);
}

INSTANTIATE_TEST_SUITE_P(Cases, StaticFilterDisable,
                         testing::Values(DisableCase{"slow_15_epochs_kept", 0.5F, 15, 1},
                                         DisableCase{"slow_16_epochs_released", 0.5F, 16, 0},
                                         DisableCase{"fast_5_epochs_kept", 5.0F, 5, 1},
                                         DisableCase{"fast_6_epochs_released", 5.0F, 6, 0},
                                         DisableCase{"no_fix_epochs_ignored", 0.5F, 0, 1}),
                         [](const testing::TestParamInfo<DisableCase>& i) { return std::string(i.param.name); });

TEST(StaticFilter, AboveOneMetrePerSecondNothingEvenWhenEnabled) {
  SPMFILTER_init();
  ASSERT_EQ(epochs_to_enable(), 31);
  LSQRAIM_OUTPUT_T o{};
  SPMFILTER_SIMPLE_QUALITY_T q{};
  std::array<NV_ESTIN_T, 20> list{};
  S16 n = 9, stable = 9, hold = 9, reset = 9;
  EXPECT_EQ(SPMFILTER_process(&o, 50.0F, 1.5F, nullptr, &q, &n, list.data(), &stable, &hold, &reset), 0);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(hold, 0);
  EXPECT_EQ(reset, 0);
  EXPECT_EQ(SPMFILTER_process(&o, 50.0F, 0.5F, nullptr, &q, &n, list.data(), &stable, &hold, &reset), 1);
  SPMFILTER_init();
  EXPECT_EQ(SPMFILTER_process(&o, 50.0F, 0.5F, nullptr, &q, &n, list.data(), &stable, &hold, &reset), 0) << "disabled";
}

}  // namespace
