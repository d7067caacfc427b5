// Matrix helpers and the generic least-squares pieces: inverses against an
// independent inverse by cofactors (adjugate over determinant) in double
// precision, products against hand-worked values, the rank-one row removal
// against a fresh inverse without that row, and singular or non-finite
// matrices refused without touching the caller's array.
#include "kernel/src/matrix_vla.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "kernel/src/least_square.h"

namespace {

// Determinant by cofactor expansion along the first row.
double det(const std::vector<double>& a, int n) {
  if (n == 1) return a[0];
  double d = 0.0;
  for (int c = 0; c < n; ++c) {
    std::vector<double> m;
    for (int r = 1; r < n; ++r)
      for (int k = 0; k < n; ++k)
        if (k != c) m.push_back(a[static_cast<std::size_t>(r * n + k)]);
    d += ((c % 2) != 0 ? -1.0 : 1.0) * a[static_cast<std::size_t>(c)] * det(m, n - 1);
  }
  return d;
}

// Inverse by cofactors: inv[c][r] = (-1)^(r+c) minor(r, c) / det.
std::vector<double> cofactor_inverse(const std::vector<double>& a, int n) {
  const double d = det(a, n);
  std::vector<double> inv(static_cast<std::size_t>(n * n));
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) {
      std::vector<double> m;
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
          if (i != r && j != c) m.push_back(a[static_cast<std::size_t>(i * n + j)]);
      inv[static_cast<std::size_t>(c * n + r)] = (((r + c) % 2) != 0 ? -1.0 : 1.0) * (n > 1 ? det(m, n - 1) : 1.0) / d;
    }
  return inv;
}

struct InvCase {
  const char* name;
  int n;
  std::vector<double> a;
};

TEST(MatrixVla, InverseEqualsCofactorInverse) {
  const InvCase cases[] = {
      {"1x1", 1, {4.0}},
      {"2x2", 2, {4.0, 7.0, 2.0, 6.0}},
      {"3x3 needs pivoting", 3, {0.0, 2.0, 1.0, 1.0, 0.0, 3.0, 2.0, 1.0, 0.0}},
      {"4x4 normal matrix", 4, {5.2, 0.3, -0.8, 1.1, 0.3, 4.1, 0.2, -0.6, -0.8, 0.2, 3.3, 2.9, 1.1, -0.6, 2.9, 8.0}},
      {"5x5", 5, {6, 1, 0, 2, 1, 1, 5, 1, 0, 2, 0, 1, 4, 1, 0, 2, 0, 1, 7, 1, 1, 2, 0, 1, 3}},
  };
  for (const InvCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<float> f(c.a.begin(), c.a.end());
    ASSERT_EQ(MAT_inv(f.data(), static_cast<S16>(c.n)), 1);
    const std::vector<double> ref = cofactor_inverse(c.a, c.n);
    for (std::size_t i = 0; i < ref.size(); ++i) EXPECT_NEAR(f[i], ref[i], 1e-5 * (1.0 + std::fabs(ref[i]))) << i;
  }
}

TEST(MatrixVla, SingularOrNonFiniteRefusedAndLeftAlone) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    const char* name;
    std::array<float, 4> a;
    S16 n;
  } const cases[] = {{"singular", {1, 2, 2, 4}, 2},
                     {"zero", {0, 0, 0, 0}, 2},
                     {"nan", {1, nan, 0, 1}, 2},
                     {"inf", {inf, 0, 0, 1}, 2},
                     {"n 0", {1, 0, 0, 1}, 0},
                     {"n too large", {1, 0, 0, 1}, 9},
                     {"tiny pivot", {1, 1, 1, 1.0F + 1e-13F}, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::array<float, 4> a = c.a;
    EXPECT_EQ(MAT_inv(a.data(), c.n), 0);
    for (std::size_t i = 0; i < 4; ++i)
      if (std::isnan(c.a[i]))
        EXPECT_TRUE(std::isnan(a[i]));
      else
        EXPECT_EQ(a[i], c.a[i]);
  }
  EXPECT_EQ(MAT_inv(nullptr, 2), 0);
}

TEST(MatrixVla, ProductsOfHandWorkedMatrices) {
  const float a[6] = {1, 2, 3, 4, 5, 6};     // 2 x 3
  const float b[6] = {7, 8, 9, 10, 11, 12};  // 3 x 2
  float out[9] = {};
  MAT_dot(a, b, out, 2, 3, 2);
  EXPECT_EQ(std::vector<float>(out, out + 4), (std::vector<float>{58, 64, 139, 154}));
  const float bt[6] = {7, 9, 11, 8, 10, 12};  // b^T as 2 x 3
  MAT_dot_transpose(a, bt, out, 2, 3, 2);
  EXPECT_EQ(std::vector<float>(out, out + 4), (std::vector<float>{58, 64, 139, 154}));
  MAT_M_transpose_dot_M(a, out, 2, 3);  // a^T a
  EXPECT_EQ(std::vector<float>(out, out + 9), (std::vector<float>{17, 22, 27, 22, 29, 36, 27, 36, 45}));
  MAT_M_transpose_dot_N(a, a, out, 2, 3, 3);
  EXPECT_EQ(std::vector<float>(out, out + 9), (std::vector<float>{17, 22, 27, 22, 29, 36, 27, 36, 45}));
  const float w[2] = {2, 0.5F};
  MAT_M_transpose_dot_M_weighting(a, w, out, 2, 3);  // 2 r0 r0^T + 0.5 r1 r1^T
  EXPECT_EQ(std::vector<float>(out, out + 9), (std::vector<float>{10, 14, 18, 14, 20.5F, 27, 18, 27, 36}));
  const float m2[4] = {1, 2, 3, 4};  // 2 x 2, append ones: [[1,2,1],[3,4,1]]
  MAT_M_transpose_dot_M_append_one_vec(m2, out, 2, 2);
  EXPECT_EQ(std::vector<float>(out, out + 9), (std::vector<float>{10, 14, 4, 14, 20, 6, 4, 6, 2}));
  const float v[3] = {1, -1, 2};
  EXPECT_EQ(MAT_vec_dot(a, v, 3), 5.0F);
  MAT_M_dot_vec(a, v, out, 2, 3);
  EXPECT_EQ(out[0], 5.0F);
  EXPECT_EQ(out[1], 11.0F);
}

// Direction cosines of six rows in a fair spread.
constexpr float H6[6][3] = {{0.1F, 0.2F, -0.97F},   {0.8F, 0.1F, -0.59F},   {-0.7F, 0.4F, -0.59F},
                            {0.2F, -0.85F, -0.49F}, {-0.3F, -0.6F, -0.74F}, {0.5F, 0.7F, -0.5F}};

TEST(LeastSquare, RankOneRemovalEqualsInverseWithoutTheRow) {
  const float w[6] = {1, 2, 1, 0.5F, 1, 1};
  for (S16 drop = 0; drop < 6; ++drop) {
    SCOPED_TRACE(drop);
    F32 inv[4][4];
    ASSERT_EQ(LSQ_form_invert(6, H6, 1, w, inv), 1);
    const F32 h[4] = {H6[drop][0], H6[drop][1], H6[drop][2], 1.0F};
    ASSERT_EQ(LSQ_form_invert_recursive_remove(inv, h, w[drop]), 1);
    float h5[5][3];
    float w5[5];
    int k = 0;
    for (int i = 0; i < 6; ++i)
      if (i != drop) {
        for (int j = 0; j < 3; ++j) h5[k][j] = H6[i][j];
        w5[k++] = w[i];
      }
    F32 ref[4][4];
    ASSERT_EQ(LSQ_form_invert(5, h5, 1, w5, ref), 1);
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c) EXPECT_NEAR(inv[r][c], ref[r][c], 1e-3 * (1.0 + std::fabs(ref[r][c])));
  }
}

// The solution S^T d of exact data gives back the state, with and without the
// clock column of the last row (mode 0).
TEST(LeastSquare, ExactDataGivesTheStateBack) {
  const float x[4] = {3.5F, -12.25F, 7.0F, 101.5F};
  for (S16 mode : {1, 0}) {
    SCOPED_TRACE(mode);
    float d[6];
    const float w[6] = {1, 1, 1, 1, 1, 1};
    for (int i = 0; i < 6; ++i)
      d[i] = H6[i][0] * x[0] + H6[i][1] * x[1] + H6[i][2] * x[2] + ((mode == 0 && i == 5) ? 0.0F : x[3]);
    F32 inv[4][4];
    ASSERT_EQ(LSQ_form_invert(6, H6, mode, w, inv), 1);
    F32 s[6][4];
    LSQ_form_matrixes(6, H6, mode, w, inv, s);
    F32 out[4];
    LSQ_process(6, s, d, out);
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(out[k], x[k], 1e-3);
  }
  F32 hh[4][4];
  ASSERT_EQ(LSQ_fix_point_invert_hh(6, H6, hh), 1);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float wn[6] = {1, nan, 1, 1, 1, 1};
  F32 inv[4][4];
  EXPECT_EQ(LSQ_form_invert(6, H6, 1, wn, inv), 0);
  EXPECT_EQ(LSQ_form_invert(3, H6, 1, wn, inv), 0);  // nan row 1 is among them
}

}  // namespace
