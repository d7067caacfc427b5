// Generic weighted least-squares pieces (LSQ_) for four-state problems: three
// geometry states (position or velocity corrections, m or m/s) and a clock
// state (bias m or drift m/s).
//
// Rows: h[i] holds the direction cosines of row i (unitless; ECEF or ENU as
// the caller forms them), w[i] its weight; the design row is [h, 1], except
// that with mode 0 the last row's clock column is 0 (the altitude
// pseudo-measurement of a 2-D solution). Arrays are owned by the caller and
// read/written during the call only. At most LSQ_MAX_ROWS rows.
#pragma once

#include "misc/gnss_types.h"

constexpr S16 LSQ_MAX_ROWS = 21;  // 20 satellites and one altitude pseudo-satellite

// inv_hwh = (H^T W H)^-1 of the n rows. mode 1: every row [h, 1]; mode 0:
// the last row [h, 0]. Returns 1; 0 when n < 1, n > LSQ_MAX_ROWS, an input is
// not finite or the normal matrix is singular (inv_hwh untouched).
S16 LSQ_form_invert(S16 n, const F32 h[][3], S16 mode, const F32* w, F32 inv_hwh[4][4]);
// s (n x 4, row-major) = ((H^T W H)^-1 H^T W)^T: row i is the gain of
// measurement i on the four states, from inv_hwh of LSQ_form_invert.
void LSQ_form_matrixes(S16 n, const F32 h[][3], S16 mode, const F32* w, const F32 inv_hwh[4][4], F32 s[][4]);
// out (4) = S^T in: the state correction from the n residuals in (m or m/s).
void LSQ_process(S16 n, const F32 s[][4], const F32* in, F32* out);
// Rank-one removal of design row h (4 values, clock column included) of
// weight w from an existing inverse: (N - w h h^T)^-1 by the Sherman-Morrison
// formula. Returns 1; 0 (inv_hwh untouched) when the result would be singular
// (1 - w h^T N^-1 h <= 1e-6) or not finite.
S16 LSQ_form_invert_recursive_remove(F32 inv_hwh[4][4], const F32* h, F32 w);
// (H^T H)^-1 of n unweighted rows [h, 1] (all with clock column). 1/0 as
// LSQ_form_invert.
S16 LSQ_fix_point_invert_hh(S16 n, const F32 h[][3], F32 inv_hh[4][4]);
// General form: inv (m x m, row-major) = (H^T W H)^-1 of an n x m design
// matrix (row-major, m <= 5, n <= LSQ_MAX_ROWS); w null means unit weights.
// Returns 1; 0 when singular, not finite or out of range.
S16 LSQ_calc_inv_hwh(S16 n, S16 m, const F32* hmat, const F32* w, F32* inv);
