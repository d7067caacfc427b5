#include "rtk/lambda.h"

#include <array>
#include <cmath>

namespace {

constexpr int LOOPMAX = 10000;  // search iterations before giving up

// Working storage, fixed in size. Matrices are column-major: M[i + j * n].
std::array<double, LAMBDA_MAX_N * LAMBDA_MAX_N> L_mat{};   // unit lower-triangular factor
std::array<double, LAMBDA_MAX_N> D_vec{};                  // diagonal factor
std::array<double, LAMBDA_MAX_N * LAMBDA_MAX_N> Z_mat{};   // integer transformation
std::array<double, LAMBDA_MAX_N * LAMBDA_MAX_N> Zi_mat{};  // its inverse, kept alongside
std::array<double, LAMBDA_MAX_N * LAMBDA_MAX_N> Work{};    // factorisation scratch / search partial sums
std::array<double, LAMBDA_MAX_N> Z_float{};                // transformed float ambiguities
std::array<double, LAMBDA_MAX_N * LAMBDA_MAX_CAND> Z_cand{};

double& at(std::array<double, LAMBDA_MAX_N * LAMBDA_MAX_N>& m, int n, int i, int j) {
  return m[static_cast<std::size_t>(i + j * n)];
}

double round_half_up(double x) { return std::floor(x + 0.5); }
double sgn(double x) { return x <= 0.0 ? -1.0 : 1.0; }

// Q = L^T diag(D) L, worked from the last row upwards. -1 when a pivot is not positive.
int LD(int n, const double* Q) {
  auto& A = Work;
  for (int i = 0; i < n * n; ++i) {
    A[static_cast<std::size_t>(i)] = Q[i];
    L_mat[static_cast<std::size_t>(i)] = 0.0;
  }
  for (int i = n - 1; i >= 0; --i) {
    const double d = at(A, n, i, i);
    if (!(d > 0.0)) return -1;
    D_vec[static_cast<std::size_t>(i)] = d;
    const double r = std::sqrt(d);
    for (int j = 0; j <= i; ++j) at(L_mat, n, i, j) = at(A, n, i, j) / r;
    // Remove row i's contribution from the leading block.
    for (int j = 0; j < i; ++j)
      for (int k = 0; k <= j; ++k) at(A, n, j, k) -= at(L_mat, n, i, k) * at(L_mat, n, i, j);
    // Unit diagonal: divide the row by its pivot, which is r itself.
    for (int j = 0; j <= i; ++j) at(L_mat, n, i, j) /= r;
  }
  return 0;
}

// Integer Gauss transformation of column j by column i (i > j).
void gauss(int n, int i, int j) {
  const double mu = round_half_up(at(L_mat, n, i, j));
  if (mu == 0.0) return;
  for (int k = i; k < n; ++k) at(L_mat, n, k, j) -= mu * at(L_mat, n, k, i);
  for (int k = 0; k < n; ++k) at(Z_mat, n, k, j) -= mu * at(Z_mat, n, k, i);
  // Inverse: row i gains mu times row j.
  for (int k = 0; k < n; ++k) at(Zi_mat, n, i, k) += mu * at(Zi_mat, n, j, k);
}

// Exchange of neighbours j and j+1, with del = D(j) + L(j+1,j)^2 D(j+1).
void perm(int n, int j, double del) {
  const double l = at(L_mat, n, j + 1, j);
  const double eta = D_vec[static_cast<std::size_t>(j)] / del;
  const double lam = D_vec[static_cast<std::size_t>(j + 1)] * l / del;
  D_vec[static_cast<std::size_t>(j)] = eta * D_vec[static_cast<std::size_t>(j + 1)];
  D_vec[static_cast<std::size_t>(j + 1)] = del;
  for (int k = 0; k < j; ++k) {
    const double a0 = at(L_mat, n, j, k), a1 = at(L_mat, n, j + 1, k);
    at(L_mat, n, j, k) = -l * a0 + a1;
    at(L_mat, n, j + 1, k) = eta * a0 + lam * a1;
  }
  at(L_mat, n, j + 1, j) = lam;
  for (int k = j + 2; k < n; ++k) std::swap(at(L_mat, n, k, j), at(L_mat, n, k, j + 1));
  for (int k = 0; k < n; ++k) std::swap(at(Z_mat, n, k, j), at(Z_mat, n, k, j + 1));
  for (int k = 0; k < n; ++k) std::swap(at(Zi_mat, n, j, k), at(Zi_mat, n, j + 1, k));
}

// Decorrelation: reduce L and order D so that the search space is compact.
void reduction(int n) {
  int j = n - 2, k = n - 2;
  while (j >= 0) {
    if (j <= k)
      for (int i = j + 1; i < n; ++i) gauss(n, i, j);
    const double l = at(L_mat, n, j + 1, j);
    const double del = D_vec[static_cast<std::size_t>(j)] + l * l * D_vec[static_cast<std::size_t>(j + 1)];
    if (del + 1e-6 < D_vec[static_cast<std::size_t>(j + 1)]) {
      perm(n, j, del);
      k = j;
      j = n - 2;
    } else {
      --j;
    }
  }
}

// Depth-first search of the m integer vectors nearest to zs in the metric of
// L, D. Candidates go to Z_cand (n x m), their squared norms to s, ascending.
int search(int n, int m, double* s) {
  std::array<double, LAMBDA_MAX_N> dist{}, zb{}, z{}, step{};
  auto& S = Work;
  for (int i = 0; i < n * n; ++i) S[static_cast<std::size_t>(i)] = 0.0;
  int nn = 0, imax = 0;
  double maxdist = 1e99;
  int k = n - 1;
  const auto K = [](int i) { return static_cast<std::size_t>(i); };
  zb[K(k)] = Z_float[K(k)];
  z[K(k)] = round_half_up(zb[K(k)]);
  double y = zb[K(k)] - z[K(k)];
  step[K(k)] = sgn(y);
  int c = 0;
  for (; c < LOOPMAX; ++c) {
    const double newdist = dist[K(k)] + y * y / D_vec[K(k)];
    if (newdist < maxdist) {
      if (k != 0) {
        --k;
        dist[K(k)] = newdist;
        for (int i = 0; i <= k; ++i)
          at(S, n, k, i) = at(S, n, k + 1, i) + (z[K(k + 1)] - zb[K(k + 1)]) * at(L_mat, n, k + 1, i);
        zb[K(k)] = Z_float[K(k)] + at(S, n, k, k);
        z[K(k)] = round_half_up(zb[K(k)]);
        y = zb[K(k)] - z[K(k)];
        step[K(k)] = sgn(y);
      } else {
        if (nn < m) {
          if (nn == 0 || newdist > s[imax]) imax = nn;
          for (int i = 0; i < n; ++i) Z_cand[K(i + nn * n)] = z[K(i)];
          s[nn++] = newdist;
          if (nn == m) maxdist = s[imax];
        } else {
          if (newdist < s[imax]) {
            for (int i = 0; i < n; ++i) Z_cand[K(i + imax * n)] = z[K(i)];
            s[imax] = newdist;
            for (int i = imax = 0; i < m; ++i)
              if (s[imax] < s[i]) imax = i;
          }
          maxdist = s[imax];
        }
        z[0] += step[0];
        y = zb[0] - z[0];
        step[0] = -step[0] - sgn(step[0]);
      }
    } else {
      if (k == n - 1) break;
      ++k;
      z[K(k)] += step[K(k)];
      y = zb[K(k)] - z[K(k)];
      step[K(k)] = -step[K(k)] - sgn(step[K(k)]);
    }
  }
  if (c >= LOOPMAX || nn < m) return -1;
  // Sort the candidates by their norm (m is small).
  for (int i = 0; i < m - 1; ++i)
    for (int j = i + 1; j < m; ++j) {
      if (s[i] <= s[j]) continue;
      std::swap(s[i], s[j]);
      for (int r = 0; r < n; ++r) std::swap(Z_cand[K(r + i * n)], Z_cand[K(r + j * n)]);
    }
  return 0;
}

}  // namespace

int lambda(int n, int m, const double* a, const double* Q, double* F, double* s) {
  if (n <= 0 || n > LAMBDA_MAX_N || m <= 0 || m > LAMBDA_MAX_CAND) return -1;
  if (LD(n, Q) != 0) return -1;
  for (int i = 0; i < n * n; ++i) Z_mat[static_cast<std::size_t>(i)] = Zi_mat[static_cast<std::size_t>(i)] = 0.0;
  for (int i = 0; i < n; ++i) at(Z_mat, n, i, i) = at(Zi_mat, n, i, i) = 1.0;
  reduction(n);
  // z = Z^T a
  for (int i = 0; i < n; ++i) {
    double v = 0.0;
    for (int k = 0; k < n; ++k) v += at(Z_mat, n, k, i) * a[k];
    Z_float[static_cast<std::size_t>(i)] = v;
  }
  if (search(n, m, s) != 0) return -1;
  // Back to the original space: F = Z^-T E. Z is unimodular, so the result is integral.
  for (int c = 0; c < m; ++c)
    for (int i = 0; i < n; ++i) {
      double v = 0.0;
      for (int k = 0; k < n; ++k) v += at(Zi_mat, n, k, i) * Z_cand[static_cast<std::size_t>(k + c * n)];
      F[i + c * n] = round_half_up(v);
    }
  return 0;
}
