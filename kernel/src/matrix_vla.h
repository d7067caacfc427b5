// Small dense matrix operations for the least-squares solver (MAT_).
//
// Every matrix is a row-major F32 array owned by the caller; sizes are given
// at run time (rows x columns) and must not exceed MAT_MAX_DIM columns for
// the operations that need scratch space (MAT_inv). Outputs must not alias
// inputs unless an operation says so. No allocation; single precision.
#pragma once

#include "misc/gnss_types.h"

constexpr S16 MAT_MAX_DIM = 8;  // largest square matrix MAT_inv accepts

// In-place inverse of the n x n matrix a (n*n floats, 1 <= n <= MAT_MAX_DIM),
// by Gauss-Jordan elimination with partial pivoting in double precision.
// Returns 1; 0 when the matrix is singular (a pivot below 1e-12 of the
// largest element), has a non-finite element or n is out of range: a is then
// left unchanged.
S16 MAT_inv(F32* a, S16 n);
// The same for a double-precision matrix (D64, n*n); 1/0 as MAT_inv.
S16 MAT_inv_d(D64* a, S16 n);
// out (n x p) = a (n x m) . b (m x p).
void MAT_dot(const F32* a, const F32* b, F32* out, S16 n, S16 m, S16 p);
// out (n x p) = a (n x m) . b^T, b given as p x m.
void MAT_dot_transpose(const F32* a, const F32* b, F32* out, S16 n, S16 m, S16 p);
// out (m x m) = M^T M, M given as n x m.
void MAT_M_transpose_dot_M(const F32* mat, F32* out, S16 n, S16 m);
// out ((m+1) x (m+1)) = H^T H with H = [M | 1] (M n x m and a column of ones
// appended): the normal matrix of a position/clock problem.
void MAT_M_transpose_dot_M_append_one_vec(const F32* mat, F32* out, S16 n, S16 m);
// Dot product of two vectors of n floats.
F32 MAT_vec_dot(const F32* a, const F32* b, S16 n);
// out (m x p) = M^T N, M given as n x m and N as n x p.
void MAT_M_transpose_dot_N(const F32* mat, const F32* nmat, F32* out, S16 n, S16 m, S16 p);
// out (n) = M (n x m) . v (m).
void MAT_M_dot_vec(const F32* mat, const F32* v, F32* out, S16 n, S16 m);
// out (m x m) = M^T W M with W = diag(w), M n x m, w n weights.
void MAT_M_transpose_dot_M_weighting(const F32* mat, const F32* w, F32* out, S16 n, S16 m);
