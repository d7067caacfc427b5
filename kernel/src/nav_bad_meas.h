// Bad-measurement screens of the estimation inputs (NVBADMEAS_): before the
// first fix and on every later epoch, inputs whose pre-fit residuals stand
// out from the rest (a code off by whole milliseconds, a single outlying
// pseudorange or range rate) are flagged (NVESTIN_BAD_MEASUREMENT, and where
// the screen says so NVESTIN_LARGE_ERROR with requests to drop the channel or
// clear the ephemeris) so that the solver leaves them out and the measurement
// check acts on them.
//
// estins_ary: the caller's list of n_estin handles (0..20), read during the
// call; only inputs without a flag take part. Each screen returns the number
// of those inputs left without error (0 for a null list).
#pragma once

#include "kernel/src/nav_estimation_inputs.h"
#include "misc/gnss_types.h"

// Screen before the first fix (millisecond errors of predicted bit syncs,
// one outlying pseudorange, one outlying range rate). fix_3D_count: 3-D fixes
// so far (unused before the first fix, kept for the common signature).
S16 NVBADMEAS_bad_measurement_check_first_fix(S16 n_estin, const NV_ESTIN_T* estins_ary, U32 fix_3D_count);
// Screen of every later epoch (integer-millisecond residual, a dominating
// residual after more than 10 3-D fixes, gaps between sorted residuals).
S16 NVBADMEAS_bad_measurement_check(S16 n_estin, const NV_ESTIN_T* estins_ary, U32 fix_3D_count);
