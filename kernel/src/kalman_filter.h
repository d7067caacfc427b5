// Navigation Kalman filter (KMF_), its navigation-side driver and the static
// position filter hook the navigation driver calls.
//
// The filter estimates, each epoch, the correction to the predicted receiver
// state: eight states in the local east/north/up frame, interleaved as
// [east, east velocity, north, north velocity, up, up velocity, clock bias,
// clock drift] (m, m/s). Two 8 x 8 single-precision covariances are kept:
// Pk (after the last update, the base of each projection) and Pk_ (the
// working covariance: projected, then updated). Measurements are applied one
// scalar at a time, so no matrix is ever inverted. Everything lives in the
// module's static storage (kernel/src/kalman_filter.cpp); the navigation side
// is kernel/src/navigate_kalman.cpp.
#pragma once

#include "kernel/src/least_square_raim.h"
#include "misc/gnss_types.h"

enum : S16 {
  KMF_P_MODEL = 0,   // position and velocity as independent random walks
  KMF_PV_MODEL = 1,  // constant velocity
};

enum : S16 {
  KMF_BIG_JUMP = 0,    // measurement variances scaled by count x 0.01
  KMF_SMALL_JUMP = 1,  // measurement variances scaled by count x 0.05
};

constexpr int KMF_NSTATE = 8;
constexpr S16 KMF_MAX_MEAS = 44;            // 20 range rates, 20 pseudoranges, pseudo-measurements
constexpr F32 KMF_RESET_VARIANCE = 1.0e6F;  // m^2, (m/s)^2
constexpr F32 KMF_MAX_PROJECT_DT = 100.0F;  // s; a longer gap resets the filter

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

// --- Filter -------------------------------------------------------------------------------

// P model, both covariances 1e6 x identity, jump mode off. Noise densities,
// large-Q mode and the PV acceleration noise are kept.
void KMF_reset();
// The east, north, up and clock-bias rows and columns of Pk are taken from
// Pk_, then their four variances are set to 1e6 in both (a position jump is
// accepted without losing the velocity knowledge).
void KMF_reset_pos_pk_only();
void KMF_switch_dynamic_model(S16 model);  // KMF_P_MODEL or KMF_PV_MODEL (others ignored)
S16 KMF_is_P_mode();                       // 1 in the P model
S16 KMF_get_dynamic_model();               // KMF_P_MODEL / KMF_PV_MODEL
// Noise densities: P model position spp (m^2/s) and velocity spv ((m/s)^2/s);
// PV model acceleration sp ((m/s^2)^2 s); clock bias sf (m^2/s) and drift sg
// ((m/s)^2/s); GPS-GLONASS time difference stsys (m^2/s, kept for the
// two-system clock). Non-finite or negative values are ignored.
void KMF_set_P_process_noise_parameter(F32 spp, F32 spv);
void KMF_set_PV_process_noise_parameter(F32 sp);
F32 KMF_get_PV_process_noise_parameter();
void KMF_set_clock_process_noise_parameter(F32 sf, F32 sg);
void KMF_set_gps_glonass_time_diff_noise_parameter(F32 stsys);
// Large-Q mode: the P-model position noise becomes 0.03 m^2/s for the next
// `period` updates, then returns to 0.0001 (or at once with the stop call).
void KMF_switch_P_process_Q_larger(S16 period);
void KMF_stop_P_process_large_Q_mode();
F32 KMF_get_P_position_noise();  // m^2/s, the present P-model position density
// Jump mode: the next `times` updates scale every measurement variance by
// k x 0.01 (KMF_BIG_JUMP) or k x 0.05 (KMF_SMALL_JUMP), k = 1 .. times.
void KMF_set_jump(S16 jump_mode, S16 times);
// Pk_ = projection of Pk over dt seconds (the measurement interval) with the
// active model and the process noise. dt > 100 s resets the filter; dt <= 0
// or non-finite (a repeated or backward epoch) resets it as well, since no
// projection backwards in time exists.
void KMF_project_covariance(F32 dt);
// Sequential scalar updates of Pk_ starting from xk = 0 (8 values, caller's):
// row m has the direction cosines hk[m] (3 values: east, north, up), the
// variance rk_in[m] (m^2 or (m/s)^2) and the residual zk[m] (m or m/s); it
// observes the velocity states and the clock drift when is_dr[m] is 1, else
// the position states and the clock bias; a row whose first two cosines are
// both 0 is an altitude pseudo-measurement without clock term.
// is_second_gnss_meas (may be null) marks GLONASS/BeiDou rows (the second
// clock is not a state here). Rows with a non-positive or non-finite variance
// or non-finite values are skipped; positive variances below 1e-6 count as
// 1e-6. Pk = Pk_ afterwards. Returns the number
// of rows applied. Arrays are the caller's, read during the call.
S16 KMF_update(S16 nmeas, const F32* const* hk, const F32* rk_in, const F32* zk, const S16* is_dr,
               const S16* is_second_gnss_meas, F32* xk);
// After KMF_update, when the caller applies only scale[i] x xk[i] of the
// update's correction (scale: 8 factors in state order, caller's; 1 = all,
// 0 = none): the covariance becomes that of the scaled gain, so the part
// left unapplied stays in the position uncertainty and the following updates
// keep correcting it. Returns 1 when applied, 0 without a preceding update
// (a projection or reset since) or with a null or non-finite scale.
S16 KMF_scale_last_correction(const F32* scale);
// 1 when the trace of Pk_ is at most threshold.
S16 KMF_variance_mask_check(F32 threshold);
F32 KMF_get_position_variance();  // m^2: east + north + up + clock-bias variances of Pk_
// Copies of the covariances (64 values row-major, caller's): 1 / 0 for null.
S16 KMF_get_covariance(F32* pk_out);       // Pk
S16 KMF_get_work_covariance(F32* pk_out);  // Pk_

// --- Navigation side (kernel/src/navigate_kalman.cpp) -------------------------------------

// A filter solution from the solver output of the epoch: dx (5: east, north,
// up, clock bias, second clock; m), ddx (5: east, north, up velocity, drift,
// second drift; m/s), the quality and the used channels (all caller's; the
// fifth elements are 0). Returns 1 with a solution, 0 none (outputs cleared).
S16 kalman_filter(const LSQRAIM_OUTPUT_T* lsq_p, F32* dx, F32* ddx, NV_KMF_QUALITY_T* quality_p,
                  NV_KMF_OUTPUT_T* out_p);
// After a least-squares velocity solution: back to the P model when the 2-D
// velocity solution has a quality with residual variance below 1.0 and a
// horizontal speed below 0.5556 m/s.
void check_LSQ_result_to_switch_KMF_model(const LSQRAIM_OUTPUT_T* lsq_p);
// 1 when all pseudorange rows are to be left out of this update, 0 when they
// stay: has_pseudo_sv 1 when an altitude pseudo-measurement was added,
// meas_count the rows formed.
S16 need_remove_all_KMF_pr_meas(S16 has_pseudo_sv, const LSQRAIM_OUTPUT_T* lsq_p, S16 meas_count);

// Static position filter: told the epoch's fix count, fix mode and speed (m/s).
void SPMFILTER_update_navigation_states(U32 fix_count, S16 fix_mode, F32 speed);
