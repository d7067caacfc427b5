// Integer least squares by the LAMBDA method: decorrelation by integer Gauss
// transformations and permutations, then a depth-first search with a
// shrinking ellipsoid.
#pragma once

inline constexpr int LAMBDA_MAX_N = 76;    // float ambiguities at most (one per satellite index)
inline constexpr int LAMBDA_MAX_CAND = 8;  // integer candidates at most

// n float ambiguities a (n, cycles) with covariance Q (n x n, column-major,
// symmetric, cycles^2); both read only. F (n x m, caller's) receives the m
// best integer vectors column by column (cycles), s (m, caller's) their
// squared residual norms (a - F_c)^T Q^-1 (a - F_c) in ascending order.
// Works in the module's static storage: one call at a time.
// Returns 0, or -1 when n or m is out of range, Q is not positive definite,
// or the search does not end within its iteration bound.
int lambda(int n, int m, const double* a, const double* Q, double* F, double* s);
