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

// Array index of a non-negative int, and of element (i, j) of a column-major
// matrix with n rows; formed in std::size_t.
std::size_t ux(int i) { return static_cast<std::size_t>(i); }
std::size_t ix(int i, int j, int n) { return ux(i) + ux(j) * ux(n); }

double& at(std::array<double, LAMBDA_MAX_N * LAMBDA_MAX_N>& m, int n, int i, int j) { return m[ix(i, j, n)]; }

double round_half_up(double x) { return std::floor(x + 0.5); }
double sgn(double x) { return x <= 0.0 ? -1.0 : 1.0; }

// Q = L^T diag(D) L, worked from the last row upwards. -1 when a pivot is not positive.
int LD(int n, const double* Q) {
  auto& A = Work;
  for (int i = 0; i < n * n; ++i) {
    A[ux(i)] = Q[i];
    L_mat[ux(i)] = 0.0;
  }
  for (int i = n - 1; i >= 0; --i) {
    const double d = at(A, n, i, i);
    if (!(d > 0.0)) return -1;
    D_vec[ux(i)] = d;
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
  const double eta = D_vec[ux(j)] / del;
  const double lam = D_vec[ux(j + 1)] * l / del;
  D_vec[ux(j)] = eta * D_vec[ux(j + 1)];
  D_vec[ux(j + 1)] = del;
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
    const double del = D_vec[ux(j)] + l * l * D_vec[ux(j + 1)];
    if (del + 1e-6 < D_vec[ux(j + 1)]) {
      perm(n, j, del);
      k = j;
      j = n - 2;
    } else {
      --j;
    }
  }
}

// State of the depth-first search: level k, the conditional float values zb,
// the integers z under trial and the zig-zag steps to the next ones, the
// partial squared distances dist of the levels above, and the candidates kept
// so far (nn of them, imax the worst, maxdist the current search bound).
struct SearchState {
  int n = 0, m = 0;
  double* s = nullptr;
  std::array<double, LAMBDA_MAX_N> dist{}, zb{}, z{}, step{};
  int k = 0, nn = 0, imax = 0;
  double maxdist = 1e99, y = 0.0;
};

// Level q.k starts at the integer nearest its conditional float value zbk.
void start_level(SearchState& q, double zbk) {
  const std::size_t k = ux(q.k);
  q.zb[k] = zbk;
  q.z[k] = round_half_up(q.zb[k]);
  q.y = q.zb[k] - q.z[k];
  q.step[k] = sgn(q.y);
}

// Level q.k moves to its next integer, alternating around its float value.
void next_integer(SearchState& q) {
  const std::size_t k = ux(q.k);
  q.z[k] += q.step[k];
  q.y = q.zb[k] - q.z[k];
  q.step[k] = -q.step[k] - sgn(q.step[k]);
}

// One level down: the partial sums of row k take the new integer of level k+1.
void descend(SearchState& q, double newdist) {
  auto& S = Work;
  const int n = q.n;
  const int k = --q.k;
  q.dist[ux(k)] = newdist;
  for (int i = 0; i <= k; ++i)
    at(S, n, k, i) = at(S, n, k + 1, i) + (q.z[ux(k + 1)] - q.zb[ux(k + 1)]) * at(L_mat, n, k + 1, i);
  start_level(q, Z_float[ux(k)] + at(S, n, k, k));
}

// A complete integer vector of squared distance newdist inside the bound:
// kept while fewer than m are held, otherwise it replaces the worst one.
void keep_candidate(SearchState& q, double newdist) {
  const int n = q.n, m = q.m;
  double* s = q.s;
  if (q.nn < m) {
    if (q.nn == 0 || newdist > s[q.imax]) q.imax = q.nn;
    for (int i = 0; i < n; ++i) Z_cand[ix(i, q.nn, n)] = q.z[ux(i)];
    s[q.nn++] = newdist;
    if (q.nn == m) q.maxdist = s[q.imax];
    return;
  }
  if (newdist < s[q.imax]) {
    for (int i = 0; i < n; ++i) Z_cand[ix(i, q.imax, n)] = q.z[ux(i)];
    s[q.imax] = newdist;
    for (int i = q.imax = 0; i < m; ++i)
      if (s[q.imax] < s[i]) q.imax = i;
  }
  q.maxdist = s[q.imax];
}

// Sorts the m candidates (columns of Z_cand, n long) by their norms s (m is small).
void sort_candidates(int n, int m, double* s) {
  for (int i = 0; i < m - 1; ++i)
    for (int j = i + 1; j < m; ++j) {
      if (s[i] <= s[j]) continue;
      std::swap(s[i], s[j]);
      for (int r = 0; r < n; ++r) std::swap(Z_cand[ix(r, i, n)], Z_cand[ix(r, j, n)]);
    }
}

// Depth-first search of the m integer vectors nearest to zs in the metric of
// L, D. Candidates go to Z_cand (n x m), their squared norms to s, ascending.
int search(int n, int m, double* s) {
  for (int i = 0; i < n * n; ++i) Work[ux(i)] = 0.0;
  SearchState q;
  q.n = n;
  q.m = m;
  q.s = s;
  q.k = n - 1;
  start_level(q, Z_float[ux(q.k)]);
  int c = 0;
  for (; c < LOOPMAX; ++c) {
    const double newdist = q.dist[ux(q.k)] + q.y * q.y / D_vec[ux(q.k)];
    if (newdist < q.maxdist) {
      if (q.k != 0) {
        descend(q, newdist);
      } else {
        keep_candidate(q, newdist);
        next_integer(q);
      }
    } else {
      if (q.k == n - 1) break;
      ++q.k;
      next_integer(q);
    }
  }
  if (c >= LOOPMAX || q.nn < m) return -1;
  sort_candidates(n, m, s);
  return 0;
}

}  // namespace

int lambda(int n, int m, const double* a, const double* Q, double* F, double* s) {
  if (n <= 0 || n > LAMBDA_MAX_N || m <= 0 || m > LAMBDA_MAX_CAND) return -1;
  if (LD(n, Q) != 0) return -1;
  for (int i = 0; i < n * n; ++i) Z_mat[ux(i)] = Zi_mat[ux(i)] = 0.0;
  for (int i = 0; i < n; ++i) at(Z_mat, n, i, i) = at(Zi_mat, n, i, i) = 1.0;
  reduction(n);
  // z = Z^T a
  for (int i = 0; i < n; ++i) {
    double v = 0.0;
    for (int k = 0; k < n; ++k) v += at(Z_mat, n, k, i) * a[k];
    Z_float[ux(i)] = v;
  }
  if (search(n, m, s) != 0) return -1;
  // Back to the original space: F = Z^-T E. Z is unimodular, so the result is integral.
  for (int c = 0; c < m; ++c)
    for (int i = 0; i < n; ++i) {
      double v = 0.0;
      for (int k = 0; k < n; ++k) v += at(Zi_mat, n, k, i) * Z_cand[ix(k, c, n)];
      F[i + c * n] = round_half_up(v);
    }
  return 0;
}
