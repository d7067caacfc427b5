// Least-squares fix with receiver autonomous integrity monitoring (LSQRAIM_):
// from the epoch's estimation inputs, a velocity/clock-drift correction from
// the range-rate residuals and a position/clock-bias correction from the
// pseudorange residuals, each in a 3-D form and a 2-D form that holds the
// altitude with a pseudo-satellite row; residual statistics, PDOP, per-input
// slopes, and detection and exclusion of a faulty input.
//
// Corrections are in the frame of the inputs' direction cosines: east, north,
// up (m, m/s) after NVESTIN_convert_direction_cosine_vectors_to_ENU, which
// LSQRAIM_proc applies itself when the input carries the rotation. Clock
// states are metres (bias) and m/s (drift). Every record is the caller's;
// the module keeps only the integrity result of the last epoch.
#pragma once

#include "kernel/src/nav_estimation_inputs.h"
#include "misc/gnss_types.h"

constexpr S16 LSQRAIM_MAX_INPUTS = 20;
constexpr S16 LSQRAIM_MAX_ROWS = 21;  // inputs and one altitude pseudo-satellite

struct LSQRAIM_INPUT_T {
  S16 n_estin;              // inputs with a good-carrier range rate (estin_ary)
  S16 n_estin_all;          // all inputs (estin_all_ary)
  U32 fix_3D_count;         // 3-D fixes so far
  F32 last_speed;           // m/s, speed of the last fix
  S16 cont_no_fix_count;    // consecutive epochs without fix
  S16 cont_real_fix_count;  // consecutive real fixes
  NV_ESTIN_T estin_ary[LSQRAIM_MAX_INPUTS];
  NV_ESTIN_T estin_all_ary[LSQRAIM_MAX_INPUTS];
  const POS_T* rcv_pos_p;      // receiver position, ECEF m
  const VEL_T* rcv_vel_p;      // receiver velocity, ECEF m/s
  const VEL_ENU_T* vel_enu_p;  // receiver velocity, east/north/up m/s (null: at rest)
  const F32 (*enu_mat)[3];     // ECEF-to-ENU rotation, rows east, north, up (null: inputs stay as they are)
  F32 alt;                     // m, altitude held by the 2-D solutions
};

// Solver rows: up to 20 inputs and one altitude pseudo-satellite.
struct LSQRAIM_LSQ_IN_T {
  F32 dc[LSQRAIM_MAX_ROWS][3];
  F32 w[LSQRAIM_MAX_ROWS];
  F32 d_pr[LSQRAIM_MAX_ROWS];  // m
  F32 d_dr[LSQRAIM_MAX_ROWS];  // m/s
  S08 is_second_gnss_type[LSQRAIM_MAX_ROWS];
  S16 nmeas;
};

struct LSQRAIM_LSQ_DR_T {
  F32 inv_mat[16];  // (H^T W H)^-1, 4 x 4 row-major
  F32 ddx[4];       // east, north, up velocity correction (m/s), clock-drift correction (m/s)
  F32 h_speed;      // m/s, horizontal speed of the corrected velocity
  F32 v_speed;      // m/s, |vertical speed|
  F32 heading;      // 0
  S16 has_result;
};

struct LSQRAIM_LSQ_PR_T {
  F32 inv_mat[25];  // (H^T H)^-1, 4 x 4 (or 5 x 5 for the two-system form), row-major
  F32 dx[5];        // east, north, up (m), clock bias (m), second-system clock offset (m)
  S16 has_result;
};

struct LSQRAIM_QUALITY_T {
  F32 r[LSQRAIM_MAX_INPUTS];      // post-fit residuals (solution minus measurement), m or m/s
  F32 slope[LSQRAIM_MAX_INPUTS];  // horizontal slope of each row
  F32 var_residual;               // sum r^2 / (n - 4); n - 5 for the two-system solution
  F32 pdop;
  S16 n_residuals;
  S16 is_2D_quality;
  S16 has_quality;
  S16 has_pdop;
};

struct LSQRAIM_OUTPUT_T {
  LSQRAIM_LSQ_DR_T lsq_dr_3D, lsq_dr_2D;
  LSQRAIM_LSQ_PR_T lsq_pr_4s3D, lsq_pr_4s2D, lsq_pr_5s;
  LSQRAIM_QUALITY_T quality_dr_3D, quality_dr_2D, quality_pr_4s3D, quality_pr_4s2D, quality_pr_5s;
  NV_ESTIN_T estins_dr_3D_used[LSQRAIM_MAX_INPUTS];
  NV_ESTIN_T estins_dr_2D_used[LSQRAIM_MAX_INPUTS];
  NV_ESTIN_T estins_pr_used[LSQRAIM_MAX_INPUTS];
  S16 n_estin_dr_3D_used, n_estin_dr_2D_used, n_estin_pr_used;
  S16 may_in_static;
  S16 use_good_carrier_dr;
  S16 use_may_convergence_pr;
};

// Solves the epoch. The handles in in_p must come from the estimation inputs
// of this epoch; inputs excluded by RAIM get their flag set
// (NVESTIN_PR_EXCLUDED_BY_RAIM / NVESTIN_DR_EXCLUDED_BY_RAIM). The platform
// model (NVMODEL_get_model) decides whether 2-D solutions are allowed (not for
// BALLOON and AIRBORNE) and the RAIM threshold (1000 m^2 AIRBORNE, else
// 36 m^2). Returns 1 when any of the five solutions has a result; 0 with
// out_p reset (also for null pointers, too few inputs or non-finite values:
// no result is ever non-finite).
S16 LSQRAIM_proc(LSQRAIM_INPUT_T* in_p, LSQRAIM_OUTPUT_T* out_p);
void LSQRAIM_reset_output_data(LSQRAIM_OUTPUT_T* out_p);  // every result and quality absent, lists empty
// Integrity of the last 3-D position solution: one-sigma errors in latitude,
// longitude and altitude (m, from the residual variance and the covariance),
// the id of the satellite excluded first (0: none), the probability of a
// missed detection (0: not estimated), the excluded satellite's residual
// before exclusion (m) and the standard deviation of the range residuals (m).
// 1 when valid; 0 with nothing written.
S16 LSQRAIM_get_RAIM_enu_error(F32* err_lat_p, F32* err_lon_p, F32* err_alt_p, S16* sat_id_p, F32* prob_p,
                               F32* est_bias_p, F32* std_bias_p);
// The platform allows 2-D fixes (not BALLOON or AIRBORNE). 1/0.
S16 LSQRAIM_can_do_2D_fix();
