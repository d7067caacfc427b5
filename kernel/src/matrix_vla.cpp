// Small dense matrix operations (row-major F32, run-time sizes).
#include "kernel/src/matrix_vla.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <utility>

namespace {
std::size_t at(S16 r, S16 c, S16 cols) {
  return static_cast<std::size_t>(r) * static_cast<std::size_t>(cols) + static_cast<std::size_t>(c);
}
}  // namespace

S16 MAT_inv_d(D64* a, S16 n) {
  if (a == nullptr || n < 1 || n > MAT_MAX_DIM) return 0;
  constexpr std::size_t D = MAT_MAX_DIM;
  const auto nn = static_cast<std::size_t>(n);
  std::array<std::array<D64, 2 * D>, D> g{};
  D64 scale = 0.0;
  for (std::size_t r = 0; r < nn; ++r) {
    for (std::size_t c = 0; c < nn; ++c) {
      const D64 v = a[r * nn + c];
      if (!std::isfinite(v)) return 0;
      g[r][c] = v;
      scale = std::fmax(scale, std::fabs(v));
    }
    g[r][nn + r] = 1.0;
  }
  if (scale <= 0.0) return 0;
  for (std::size_t col = 0; col < nn; ++col) {
    std::size_t piv = col;
    for (std::size_t r = col + 1; r < nn; ++r)
      if (std::fabs(g[r][col]) > std::fabs(g[piv][col])) piv = r;
    if (std::fabs(g[piv][col]) < 1e-12 * scale) return 0;
    std::swap(g[piv], g[col]);
    const D64 p = g[col][col];
    for (std::size_t c = 0; c < 2 * nn; ++c) g[col][c] /= p;
    for (std::size_t r = 0; r < nn; ++r) {
      if (r == col) continue;
      const D64 f = g[r][col];
      if (f == 0.0) continue;
      for (std::size_t c = 0; c < 2 * nn; ++c) g[r][c] -= f * g[col][c];
    }
  }
  for (std::size_t r = 0; r < nn; ++r)
    for (std::size_t c = 0; c < nn; ++c) {
      const D64 v = g[r][nn + c];
      if (!std::isfinite(v) || std::fabs(v) > 3.0e38) return 0;
    }
  for (std::size_t r = 0; r < nn; ++r)
    for (std::size_t c = 0; c < nn; ++c) a[r * nn + c] = g[r][nn + c];
  return 1;
}

S16 MAT_inv(F32* a, S16 n) {
  if (a == nullptr || n < 1 || n > MAT_MAX_DIM) return 0;
  const auto nn = static_cast<std::size_t>(n);
  std::array<D64, static_cast<std::size_t>(MAT_MAX_DIM) * MAT_MAX_DIM> d{};
  for (std::size_t i = 0; i < nn * nn; ++i) d[i] = a[i];
  if (MAT_inv_d(d.data(), n) == 0) return 0;
  for (std::size_t i = 0; i < nn * nn; ++i) a[i] = static_cast<F32>(d[i]);
  return 1;
}

void MAT_dot(const F32* a, const F32* b, F32* out, S16 n, S16 m, S16 p) {
  for (S16 i = 0; i < n; ++i)
    for (S16 j = 0; j < p; ++j) {
      F32 s = 0.0F;
      for (S16 k = 0; k < m; ++k) s += a[at(i, k, m)] * b[at(k, j, p)];
      out[at(i, j, p)] = s;
    }
}

void MAT_dot_transpose(const F32* a, const F32* b, F32* out, S16 n, S16 m, S16 p) {
  for (S16 i = 0; i < n; ++i)
    for (S16 j = 0; j < p; ++j) {
      F32 s = 0.0F;
      for (S16 k = 0; k < m; ++k) s += a[at(i, k, m)] * b[at(j, k, m)];
      out[at(i, j, p)] = s;
    }
}

void MAT_M_transpose_dot_M(const F32* mat, F32* out, S16 n, S16 m) { MAT_M_transpose_dot_N(mat, mat, out, n, m, m); }

void MAT_M_transpose_dot_M_append_one_vec(const F32* mat, F32* out, S16 n, S16 m) {
  const S16 m1 = static_cast<S16>(m + 1);
  for (S16 i = 0; i < m1; ++i)
    for (S16 j = 0; j < m1; ++j) {
      F32 s = 0.0F;
      for (S16 k = 0; k < n; ++k) {
        const F32 hi = i < m ? mat[at(k, i, m)] : 1.0F;
        const F32 hj = j < m ? mat[at(k, j, m)] : 1.0F;
        s += hi * hj;
      }
      out[at(i, j, m1)] = s;
    }
}

F32 MAT_vec_dot(const F32* a, const F32* b, S16 n) {
  F32 s = 0.0F;
  for (S16 i = 0; i < n; ++i) s += a[i] * b[i];
  return s;
}

void MAT_M_transpose_dot_N(const F32* mat, const F32* nmat, F32* out, S16 n, S16 m, S16 p) {
  for (S16 i = 0; i < m; ++i)
    for (S16 j = 0; j < p; ++j) {
      F32 s = 0.0F;
      for (S16 k = 0; k < n; ++k) s += mat[at(k, i, m)] * nmat[at(k, j, p)];
      out[at(i, j, p)] = s;
    }
}

void MAT_M_dot_vec(const F32* mat, const F32* v, F32* out, S16 n, S16 m) {
  for (S16 i = 0; i < n; ++i) out[i] = MAT_vec_dot(mat + at(i, 0, m), v, m);
}

void MAT_M_transpose_dot_M_weighting(const F32* mat, const F32* w, F32* out, S16 n, S16 m) {
  for (S16 i = 0; i < m; ++i)
    for (S16 j = 0; j < m; ++j) {
      F32 s = 0.0F;
      for (S16 k = 0; k < n; ++k) s += mat[at(k, i, m)] * w[k] * mat[at(k, j, m)];
      out[at(i, j, m)] = s;
    }
}
