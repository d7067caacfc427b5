// LAMBDA integer least squares: a published example and brute force.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "rtk/lambda.h"
#include "rtk/rtk_cmn.h"

namespace {

// Inverse of a symmetric positive-definite matrix by the navigation library's
// matinv (known answers in rtk_cmn_test).
std::vector<double> inverse(int n, std::vector<double> a) {
  EXPECT_EQ(matinv(a.data(), n), 0);
  return a;
}

// Squared norm (a - z)^T Q^-1 (a - z).
double norm2(int n, const std::vector<double>& qinv, const double* a, const std::vector<double>& z) {
  double s = 0.0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) s += (a[i] - z[i]) * qinv[i * n + j] * (a[j] - z[j]);
  return s;
}

// The two best integer vectors in a box of +-r around the rounded float vector.
void brute_force(int n, const std::vector<double>& qinv, const double* a, int r, std::vector<double>* best, double* s) {
  std::vector<int> off(n, -r);
  s[0] = s[1] = 1e300;
  for (int i = 0; i < n;) {
    std::vector<double> z(n);
    for (int k = 0; k < n; ++k) z[k] = std::floor(a[k] + 0.5) + off[k];
    const double d = norm2(n, qinv, a, z);
    if (d < s[0]) {
      s[1] = s[0], best[1] = best[0];
      s[0] = d, best[0] = z;
    } else if (d < s[1]) {
      s[1] = d, best[1] = z;
    }
    for (i = 0; i < n && ++off[i] > r;) off[i++] = -r;
  }
}

TEST(Lambda, PublishedThreeDimensionalExample) {
  // A classic example of the LAMBDA literature (Teunissen): strongly correlated ambiguities.
  const double Q[9] = {6.290, 5.978, 0.544, 5.978, 6.292, 2.340, 0.544, 2.340, 6.288};
  const double a[3] = {5.45, 3.10, 2.97};
  double F[6], s[2];
  ASSERT_EQ(lambda(3, 2, a, Q, F, s), 0);
  EXPECT_EQ(F[0], 5);
  EXPECT_EQ(F[1], 3);
  EXPECT_EQ(F[2], 4);
  EXPECT_EQ(F[3], 6);
  EXPECT_EQ(F[4], 4);
  EXPECT_EQ(F[5], 4);
  // Squared norms agree with a direct evaluation.
  const std::vector<double> qinv = inverse(3, std::vector<double>(Q, Q + 9));
  EXPECT_NEAR(s[0], norm2(3, qinv, a, {5, 3, 4}), 1e-9);
  EXPECT_NEAR(s[1], norm2(3, qinv, a, {6, 4, 4}), 1e-9);
  EXPECT_LT(s[0], s[1]);
  // Simple rounding would have given (5, 3, 3): the decorrelated search matters.
  EXPECT_LT(s[0], norm2(3, qinv, a, {5, 3, 3}));
}

TEST(Lambda, AgreesWithBruteForceOnRandomProblems) {
  std::mt19937 rng(20261206);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int trial = 0; trial < 300; ++trial) {
    const int n = 2 + trial % 4;  // 2..5 ambiguities
    SCOPED_TRACE("trial " + std::to_string(trial) + ", n " + std::to_string(n));
    // Q = A A^T + 0.05 I: positive definite, often strongly correlated.
    std::vector<double> A(n * n), Q(n * n);
    for (double& v : A) v = u(rng);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        Q[i * n + j] = i == j ? 0.05 : 0.0;
        for (int k = 0; k < n; ++k) Q[i * n + j] += A[i * n + k] * A[j * n + k];
      }
    double a[5];
    for (int i = 0; i < n; ++i) a[i] = 10.0 * u(rng);
    double F[10], s[2];
    ASSERT_EQ(lambda(n, 2, a, Q.data(), F, s), 0);
    const std::vector<double> qinv = inverse(n, Q);
    std::vector<double> best[2];
    double sb[2];
    brute_force(n, qinv, a, n <= 3 ? 6 : 4, best, sb);
    EXPECT_NEAR(s[0], sb[0], 1e-6 * (1.0 + sb[0]));
    EXPECT_NEAR(s[1], sb[1], 1e-6 * (1.0 + sb[1]));
    for (int i = 0; i < n; ++i) EXPECT_EQ(F[i], best[0][i]);
    // The candidates are integers and their norms are what lambda reports.
    for (int c = 0; c < 2; ++c) {
      std::vector<double> z(F + c * n, F + c * n + n);
      for (double v : z) EXPECT_EQ(v, std::floor(v));
      EXPECT_NEAR(norm2(n, qinv, a, z), s[c], 1e-6 * (1.0 + s[c]));
    }
  }
}

TEST(Lambda, ExactIntegersHaveZeroNorm) {
  const double Q[4] = {0.02, 0.01, 0.01, 0.03};
  const double a[2] = {-7.0, 12.0};
  double F[4], s[2];
  ASSERT_EQ(lambda(2, 2, a, Q, F, s), 0);
  EXPECT_EQ(F[0], -7);
  EXPECT_EQ(F[1], 12);
  EXPECT_NEAR(s[0], 0.0, 1e-12);
  EXPECT_GT(s[1], 0.0);
}

TEST(Lambda, RefusesBadInput) {
  const double a[2] = {0.2, 0.3};
  double F[4], s[2];
  const double not_pd[4] = {1.0, 2.0, 2.0, 1.0};  // eigenvalues 3 and -1
  EXPECT_EQ(lambda(2, 2, a, not_pd, F, s), -1);
  const double zero[4] = {0.0, 0.0, 0.0, 0.0};
  EXPECT_EQ(lambda(2, 2, a, zero, F, s), -1);
  const double nan_q[4] = {NAN, 0.0, 0.0, 1.0};
  EXPECT_EQ(lambda(2, 2, a, nan_q, F, s), -1);
  const double ok[4] = {1.0, 0.0, 0.0, 1.0};
  EXPECT_EQ(lambda(0, 2, a, ok, F, s), -1);
  EXPECT_EQ(lambda(LAMBDA_MAX_N + 1, 2, a, ok, F, s), -1);
  EXPECT_EQ(lambda(2, 0, a, ok, F, s), -1);
  EXPECT_EQ(lambda(2, LAMBDA_MAX_CAND + 1, a, ok, F, s), -1);
}

TEST(Lambda, LargestProblemRuns) {
  // A diagonal problem of the largest size: each ambiguity rounds on its own.
  static double Q[LAMBDA_MAX_N * LAMBDA_MAX_N];
  double a[LAMBDA_MAX_N], F[LAMBDA_MAX_N * 2], s[2];
  for (int i = 0; i < LAMBDA_MAX_N; ++i) {
    Q[i * LAMBDA_MAX_N + i] = 0.01;
    a[i] = i + 0.1;
  }
  ASSERT_EQ(lambda(LAMBDA_MAX_N, 2, a, Q, F, s), 0);
  for (int i = 0; i < LAMBDA_MAX_N; ++i) EXPECT_EQ(F[i], i);
  EXPECT_NEAR(s[0], LAMBDA_MAX_N * (0.1 * 0.1 / 0.01), 1e-6);  // each residual 0.1, variance 0.01
}

}  // namespace
