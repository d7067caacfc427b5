// Navigation Kalman filter (KMF_), its navigation-side driver and the static
// position filter (SPMFILTER_): the operations the navigation driver calls.
//
// Until the filter exists they come from kernel/src/standin_kalman.cpp:
// the dynamic-model state (P or PV model) and the PV acceleration noise are
// kept for real, because the driver's prediction depends on them; the filter
// itself produces no solution (kalman_filter returns 0), so the driver takes
// the least-squares fix.
#pragma once

#include "kernel/src/least_square_raim.h"
#include "misc/gnss_types.h"

enum : S16 {
  KMF_P_MODEL = 0,   // position and velocity as independent random walks
  KMF_PV_MODEL = 1,  // constant velocity
};

// Filter quality (residual counts and variances, m^2 and (m/s)^2).
struct NV_KMF_QUALITY_T {
  S16 n_pr_residuals, n_dr_residuals;
  F32 var_pr_residual, var_dr_residual;
  S16 has_quality;
};

// Channels (0..19) whose range rates / pseudoranges the filter used.
struct NV_KMF_OUTPUT_T {
  S16 n_used_dr, n_used_pr;
  U08 used_dr_chid_ary[20];
  U08 used_pr_chid_ary[20];
};

void KMF_reset();                        // P model, covariances to 1e6 x identity, jump mode off
void KMF_switch_dynamic_model(S16 model);  // KMF_P_MODEL or KMF_PV_MODEL (others ignored)
S16 KMF_is_P_mode();                     // 1 in the P model
S16 KMF_get_dynamic_model();             // KMF_P_MODEL / KMF_PV_MODEL
void KMF_set_PV_process_noise_parameter(F32 sp);  // PV acceleration noise density
F32 KMF_get_PV_process_noise_parameter();
// Projects the covariance over dt (s); dt > 100 s resets the filter.
void KMF_project_covariance(F32 dt);

// Navigation side: a filter solution from the solver output: dx (5: east,
// north, up, clock bias, second clock; m), ddx (5: velocities m/s, drift m/s),
// the quality and the used channels (all caller's). 1 with a solution, 0 none.
// speed_mps: the last fix's speed.
S16 kalman_filter(const LSQRAIM_OUTPUT_T* lsq_p, F32* dx, F32* ddx, NV_KMF_QUALITY_T* quality_p,
                  NV_KMF_OUTPUT_T* out_p);
// After a least-squares velocity solution: back to the P model when the 2-D
// velocity solution has a quality with residual variance below 1.0 and a
// horizontal speed below 0.5556 m/s.
void check_LSQ_result_to_switch_KMF_model(const LSQRAIM_OUTPUT_T* lsq_p);

// Static position filter: told the epoch's fix count, fix mode and speed (m/s).
void SPMFILTER_update_navigation_states(U32 fix_count, S16 fix_mode, F32 speed);
