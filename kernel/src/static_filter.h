// Static position filter (SPMFILTER_): while the receiver has been still for
// long enough, selects the pseudoranges that are stable under carrier
// smoothing, solves a small least squares on them, and decides whether the
// navigation Kalman filter must accept a position jump (its position
// covariance reset) or hold the position. The filter driver
// (kernel/src/navigate_kalman.cpp) calls SPMFILTER_process every epoch; the
// navigation driver calls SPMFILTER_update_navigation_states once per epoch
// and SPMFILTER_log_reset_KMF_parameters at the first fix. State is static
// in kernel/src/static_filter.cpp.
#pragma once

#include "kernel/src/least_square_raim.h"
#include "kernel/src/nav_estimation_inputs.h"
#include "misc/gnss_types.h"

constexpr S16 SPMFILTER_MAX_INPUTS = 20;

// A small solution: corrections in east, north, up (m) and clock (m).
struct SPMFILTER_SIMPLE_QUALITY_T {
  S16 n_in;                             // inputs used
  S08 has_lsq_result, has_raim_result;  // 1/0
  F32 inv_mat[4][4];                    // (H^T W H)^-1
  F32 dx[4];                            // m
  F32 pdop;                             // position DOP of the rows
  F32 r[SPMFILTER_MAX_INPUTS];          // post-fit residuals, m (5 or more inputs)
  F32 slope[SPMFILTER_MAX_INPUTS];      // horizontal slope of each input
  F32 r_var;                            // residual variance, m^2
};

void SPMFILTER_init();  // every flag, counter and altitude record cleared
// One epoch: lsq_est_result_p the solver output (read); last_alt (m) and
// last_speed (m/s) of the last fix; last_pos_p its ECEF position (m).
// Outputs (caller's, always written): the small solution, the pseudorange
// list (count and up to 20 handles), the count of stable inputs, a request to
// hold the position (1/0) and a request to reset the filter's position
// covariance (1/0). Returns 1 when the filter is enabled and produced its
// outputs; 0 (outputs cleared) when disabled, above 1 m/s or with bad input.
S16 SPMFILTER_process(const LSQRAIM_OUTPUT_T* lsq_est_result_p, F32 last_alt, F32 last_speed, const POS_T* last_pos_p,
                      SPMFILTER_SIMPLE_QUALITY_T* static_pos_quality_p, S16* pr_nest_in_p,
                      NV_ESTIN_T* pr_est_in_out_ary, S16* stable_nest_in_p, S16* force_not_update_pos_p,
                      S16* reset_kmf_pos_pk_p);
// Once per epoch after the fix: fix count, fix mode (FIX_...) and speed (m/s).
void SPMFILTER_update_navigation_states(U32 fix_count, S16 fix_mode, F32 speed);
// Logs a covariance reset: mode 2 or 3, its PDOP, and the residual variance
// (m^2) when has_residual is 1.
void SPMFILTER_log_reset_KMF_parameters(S16 mode, F32 pdop, S16 has_residual, F32 var_residual);
S16 SPMFILTER_is_enabled();  // 1 while enabled
