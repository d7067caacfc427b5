// Generic weighted least squares for four-state position/velocity problems.
#include "kernel/src/least_square.h"

#include <array>
#include <cmath>
#include <cstddef>

#include "kernel/src/matrix_vla.h"

namespace {
// Clock column of row i of n in mode (0: the last row has none).
F32 clock_col(S16 i, S16 n, S16 mode) { return (mode == 0 && i == n - 1) ? 0.0F : 1.0F; }
}  // namespace

S16 LSQ_calc_inv_hwh(S16 n, S16 m, const F32* hmat, const F32* w, F32* inv) {
  if (n < 1 || n > LSQ_MAX_ROWS || m < 1 || m > 5 || hmat == nullptr || inv == nullptr) return 0;
  std::array<F32, LSQ_MAX_ROWS> ones{};
  ones.fill(1.0F);
  const F32* wp = w != nullptr ? w : ones.data();
  for (S16 i = 0; i < n; ++i) {
    if (!std::isfinite(wp[i])) return 0;
    for (S16 j = 0; j < m; ++j)
      if (!std::isfinite(hmat[i * m + j])) return 0;
  }
  std::array<F32, 25> nm{};
  MAT_M_transpose_dot_M_weighting(hmat, wp, nm.data(), n, m);
  if (MAT_inv(nm.data(), m) == 0) return 0;
  for (S16 i = 0; i < m * m; ++i) inv[i] = nm[static_cast<std::size_t>(i)];
  return 1;
}

S16 LSQ_form_invert(S16 n, const F32 h[][3], S16 mode, const F32* w, F32 inv_hwh[4][4]) {
  if (n < 1 || n > LSQ_MAX_ROWS || h == nullptr || w == nullptr) return 0;
  std::array<F32, static_cast<std::size_t>(LSQ_MAX_ROWS) * 4> hm{};
  for (S16 i = 0; i < n; ++i) {
    for (S16 j = 0; j < 3; ++j) hm[static_cast<std::size_t>(i * 4 + j)] = h[i][j];
    hm[static_cast<std::size_t>(i * 4 + 3)] = clock_col(i, n, mode);
  }
  std::array<F32, 16> inv{};
  if (LSQ_calc_inv_hwh(n, 4, hm.data(), w, inv.data()) == 0) return 0;
  for (std::size_t r = 0; r < 4; ++r)
    for (std::size_t c = 0; c < 4; ++c) inv_hwh[r][c] = inv[r * 4 + c];
  return 1;
}

void LSQ_form_matrixes(S16 n, const F32 h[][3], S16 mode, const F32* w, const F32 inv_hwh[4][4], F32 s[][4]) {
  for (S16 i = 0; i < n; ++i) {
    const std::array<F32, 4> row{h[i][0], h[i][1], h[i][2], clock_col(i, n, mode)};
    for (int k = 0; k < 4; ++k) {
      F32 v = 0.0F;
      for (int j = 0; j < 4; ++j) v += inv_hwh[k][j] * row[static_cast<std::size_t>(j)];
      s[i][k] = v * w[i];
    }
  }
}

void LSQ_process(S16 n, const F32 s[][4], const F32* in, F32* out) {
  for (int k = 0; k < 4; ++k) {
    F32 v = 0.0F;
    for (S16 i = 0; i < n; ++i) v += s[i][k] * in[i];
    out[k] = v;
  }
}

S16 LSQ_form_invert_recursive_remove(F32 inv_hwh[4][4], const F32* h, F32 w) {
  std::array<F32, 4> nh{};
  for (int r = 0; r < 4; ++r) {
    F32 v = 0.0F;
    for (int c = 0; c < 4; ++c) v += inv_hwh[r][c] * h[c];
    nh[static_cast<std::size_t>(r)] = v;
  }
  const F32 q = MAT_vec_dot(h, nh.data(), 4);
  const F32 den = 1.0F - w * q;
  if (!(den > 1e-6F) || !std::isfinite(q)) return 0;
  std::array<std::array<F32, 4>, 4> out{};
  for (std::size_t r = 0; r < 4; ++r)
    for (std::size_t c = 0; c < 4; ++c) {
      out[r][c] = inv_hwh[r][c] + w * nh[r] * nh[c] / den;
      if (!std::isfinite(out[r][c])) return 0;
    }
  for (std::size_t r = 0; r < 4; ++r)
    for (std::size_t c = 0; c < 4; ++c) inv_hwh[r][c] = out[r][c];
  return 1;
}

S16 LSQ_fix_point_invert_hh(S16 n, const F32 h[][3], F32 inv_hh[4][4]) {
  std::array<F32, LSQ_MAX_ROWS> ones{};
  ones.fill(1.0F);
  return LSQ_form_invert(n, h, 1, ones.data(), inv_hh);
}
