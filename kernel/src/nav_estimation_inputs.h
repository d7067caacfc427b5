// Estimation inputs of the fix (NVESTIN_): one record per channel (20) with
// the pre-fit residuals of its range against the current receiver state,
// the direction cosines and weight the solver uses, status flags set by the
// screens and by RAIM, and short histories of residuals and range rates.
//
// Handles (NV_ESTIN_T) point to the module's static records and live for the
// run; null handles are accepted everywhere (queries give 0, setters do
// nothing). Lists of handles are arrays owned by the caller with room for
// NVESTIN_MAX (20). Units: metres, m/s, dB-Hz, Hz.
#pragma once

#include "kernel/src/kernel_handles.h"
#include "kernel/src/kernel_types.h"
#include "misc/gnss_types.h"

struct NV_ESTIN_S;
using NV_ESTIN_T = NV_ESTIN_S*;  // the estimation input of a channel

constexpr S16 NVESTIN_MAX = 20;

// Status bits of an input (0 = no error).
enum : U16 {
  NVESTIN_PR_EXCLUDED_BY_RAIM = 1U << 0,
  NVESTIN_DR_EXCLUDED_BY_RAIM = 1U << 1,
  NVESTIN_EXCLUDED_BY_MP_CHECK = 1U << 2,
  NVESTIN_EXCLUDED_BY_LTE_CHECK = 1U << 3,
  NVESTIN_BAD_MEASUREMENT = 1U << 4,
  NVESTIN_LARGE_ERROR = 1U << 5,
  NVESTIN_EXCLUDED_BY_RECALC_POS = 1U << 6,
  NVESTIN_NEED_REMOVE_LTE = 1U << 7,
  // Requests to the measurement check.
  NVESTIN_NEED_DROP_CHANNEL = 1U << 8,
  NVESTIN_NEED_CLEAR_EPHEMERIS = 1U << 9,
  NVESTIN_NEED_PLUS_ONE_MSC = 1U << 10,
  NVESTIN_NEED_MINUS_ONE_MSC = 1U << 11,
};

// The values of an input given directly (a driver or replay that forms its
// residuals itself instead of from the range records).
struct NVESTIN_VALUES_T {
  D64 pr_diff;           // m
  D64 dr_diff;           // m/s
  D64 dr_diff_static;    // m/s, residual of a receiver at rest
  F32 dc[3];             // direction cosines, satellite to receiver
  F32 dr;                // range rate, m/s
  F32 dr_change_rate;    // m/s per epoch
  S16 cn0;               // dB-Hz
  S16 sv_id;             // kernel id
  U16 gnss_type;         // GNSS_TYPE_...
  U08 bs_mode;           // bit-sync source BS_...
  S16 has_good_carrier;  // 1: dr_diff also counts as the good-carrier-slot residual
};

// Life cycle.
void NVESTIN_init();  // every record and history empty, settings to defaults (CN0 threshold 0, ECEF)
// Start of an epoch: every input empty (values, flags) and the epoch list
// cleared; each channel's history of its satellite (recent pseudorange
// residuals, last range rate, last line-of-sight rate) is kept for the next
// input of the same satellite.
void NVESTIN_reset_all();
NV_ESTIN_T NVESTIN_get_reference(S16 ch_id);  // the record of channel 0..19; null outside

// Forms the epoch's inputs from nrange range records (caller's array). A
// range takes part with a geometric range, a pseudorange and a C/N0 at the
// threshold; with the skip setting not in its channel's first tracked epoch;
// after the first fix (nv_has_fixed 1) only from a locked channel without
// interference, SBAS at 30 dB-Hz or more, and above the elevation/C/N0 mask
// elv_cnr_mask_p (null = none; a satellite below is marked masked for the sky
// view). cbias (m) and cdrift (m/s): receiver clock bias and drift;
// ctsys_gps_glo, cdtsys_gps_glo: GPS-GLONASS offset and rate (m, m/s; unused
// while only GPS-type ranges exist); rcvvel_p: receiver velocity (ECEF m/s;
// null = at rest); reset_flags 1 clears every flag. Returns the number of
// inputs.
S16 NVESTIN_update(S16 nrange, RNG_T* rng_ary, D64 cbias, F32 cdrift, D64 ctsys_gps_glo, F32 cdtsys_gps_glo,
                   const VEL_T* rcvvel_p, S16 reset_flags, S16 nv_has_fixed, const ELV_CNR_MASK_T* elv_cnr_mask_p);
// Sets the input of channel ch_id (0..19) from values v (read during the call)
// and appends it to the epoch's list; flags cleared. Returns its handle, null
// for a bad channel, null v or non-finite values.
NV_ESTIN_T NVESTIN_set_input(S16 ch_id, const NVESTIN_VALUES_T* v);

// Input lists: fill out_ary (room for 20) and return the count.
S16 NVESTIN_get_inputs(NV_ESTIN_T* out_ary);                 // the epoch's inputs, non-SBAS first
S16 NVESTIN_get_no_large_error_inputs(NV_ESTIN_T* out_ary);  // without the large-error flag
S16 NVESTIN_get_no_error_inputs(NV_ESTIN_T* out_ary);        // flags 0
// The epoch's inputs whose range has a carrier-smoothed pseudorange of
// variance below var_thr (m^2) and last smoothing innovation below dpr_thr (m).
S16 NVESTIN_get_smoothed_inputs(F32 var_thr, F32 dpr_thr, NV_ESTIN_T* out_ary);
S16 NVESTIN_select_inputs_with_good_carrier_cycle_delta_range(S16 n, const NV_ESTIN_T* in, NV_ESTIN_T* out);
S16 NVESTIN_remove_large_error_estins(S16 n, NV_ESTIN_T* ary);  // compacts ary in place; the count left

// Solver rows (caller's arrays with room for 21 rows): per input {dc, w,
// d_pr = pr_diff (m), d_dr = dr_diff or the good-carrier residual (m/s),
// is_second_gnss_type}; with add_pseudo_sv one more altitude row: in ENU
// dc (0,0,1), d_pr 0, d_dr -(up velocity of rcv_vel_p); in ECEF the unit
// vector of rcv_pos_p, d_dr 0, d_pr = |rcv_pos_p with altitude alt (m)| -
// |rcv_pos_p|. enu_mat: ECEF-to-ENU rotation (rows east, north, up); may be
// null in ECEF mode. Returns the row count (0 on bad or non-finite input).
S16 NVESTIN_form_least_square_input_matrix(S16 n_estin, const NV_ESTIN_T* estin_ary, S16 add_pseudo_sv,
                                           S16 use_good_carrier_dr, const POS_T* rcv_pos_p, const VEL_T* rcv_vel_p,
                                           F32 alt, const F32 enu_mat[3][3], F32 dc[][3], F32* w, F32* d_pr, F32* d_dr,
                                           S08* is_second_gnss_type);
// Two-system rows (caller's arrays with room for 20 rows): per input with data
// h = {dc, 1, s} with s = 1 for GLONASS and BeiDou inputs, w, d_pr (m) and
// d_dr (m/s). Returns the row count (0 for a bad count or null list).
S16 NVESTIN_form_least_square_combo_mode_input_matrix(S16 n_estin, const NV_ESTIN_T* estin_ary, F32 h[][5], F32* w,
                                                      F32* d_pr, F32* d_dr);
// Rotates the direction cosines of every input with data into ENU with
// enu_mat (rows east, north, up); an input already rotated is left as it is
// (inputs formed or set later are rotated by the next call). 1/0 (0: null
// matrix).
S16 NVESTIN_convert_direction_cosine_vectors_to_ENU(const F32 enu_mat[3][3]);
S16 NVESTIN_is_coordinate_at_ENU();  // 1 after the conversion, until an input is formed or set

// Settings.
void NVESTIN_set_skip_first_updated_measurement(S16 on);  // 1: a channel's first epoch is not used
void NVESTIN_set_CN0_threshold(U16 cn0);                  // dB-Hz below which no input is formed
void NVESTIN_switch_to_output_normal_PR(S16 on);          // 1: report unsmoothed residuals
void NVESTIN_switch_to_output_compensated_DR(S16 on);
void NVESTIN_switch_to_output_DR_by_nco_freq(S16 on);
void NVESTIN_set_can_use_smoothed_PR_flag(NV_ESTIN_T estin, S16 on);

// Accessors (0 for null or an input without data).
S16 NVESTIN_get_channel_id(NV_ESTIN_T estin);  // -1 for null
U16 NVESTIN_get_gnss_type(NV_ESTIN_T estin);
S16 NVESTIN_get_sv_id(NV_ESTIN_T estin);
S16 NVESTIN_get_cn0(NV_ESTIN_T estin);                                // dB-Hz
D64 NVESTIN_get_pr_diff(NV_ESTIN_T estin);                            // m
D64 NVESTIN_get_dr_diff(NV_ESTIN_T estin);                            // m/s
D64 NVESTIN_get_dr_diff_static(NV_ESTIN_T estin);                     // m/s, for a receiver at rest
D64 NVESTIN_get_smoothed_pr_diff(NV_ESTIN_T estin);                   // m; the plain residual without smoothing
D64 NVESTIN_get_dr_diff_by_good_acc_carrier_slots(NV_ESTIN_T estin);  // m/s
F32 NVESTIN_get_dr(NV_ESTIN_T estin);                                 // m/s
F32 NVESTIN_get_weighting(NV_ESTIN_T estin);                          // 1.0
// Direction cosines into dc (3 floats); 1/0.
S16 NVESTIN_get_direction_cosine_vector(NV_ESTIN_T estin, F32* dc);
F32 NVESTIN_get_relative_velocity_by_static_assumption(NV_ESTIN_T estin);  // m/s
S32 NVESTIN_get_dopp_freq_by_static_assumption(NV_ESTIN_T estin);          // Hz
F32 NVESTIN_get_dr_change_rate(NV_ESTIN_T estin);                          // m/s per epoch
// Mean (m) and standard deviation (m) of the recent pseudorange residuals
// (at least 2 kept); 1/0 with nothing written.
S16 NVESTIN_get_avg_pr_diff(NV_ESTIN_T estin, F32* avg_p, F32* sigma_p);
U08 NVESTIN_get_bs_source(NV_ESTIN_T estin);
// Feedback of a position correction taken without pseudoranges (a filter
// update from range rates only): the recent pseudorange residuals of each
// input of the epoch were formed against the state before the correction, so
// each kept value becomes value - (dc . dx[0..2] + dx[3]) for the first n
// elements of dx (n 3: east, north, up in m; 4: also the clock bias in m;
// dx in the frame of the inputs' direction cosines, ENU after
// NVESTIN_convert_direction_cosine_vectors_to_ENU; caller's, read during the
// call). Their mean and spread (NVESTIN_get_avg_pr_diff) then describe the
// measurements against the corrected state. Returns the number of inputs
// whose history was changed; 0 for n outside 1..4, a null or non-finite dx.
S16 NVESTIN_compesate_residuals_to_pr_diff_buffer(S16 n, const F32* dx);
S16 NVESTIN_has_dr_change_rate(NV_ESTIN_T estin);

// Flag tests (1/0).
S16 NVESTIN_has_data(NV_ESTIN_T estin);
S16 NVESTIN_has_no_error(NV_ESTIN_T estin);
S16 NVESTIN_is_PR_excluded_by_RAIM(NV_ESTIN_T estin);
S16 NVESTIN_is_DR_excluded_by_RAIM(NV_ESTIN_T estin);
S16 NVESTIN_is_excluded_by_MP_check(NV_ESTIN_T estin);
S16 NVESTIN_is_excluded_by_LTE_check(NV_ESTIN_T estin);
S16 NVESTIN_is_excluded_by_recalc_position_check(NV_ESTIN_T estin);
S16 NVESTIN_has_large_error(NV_ESTIN_T estin);
S16 NVESTIN_has_bad_measurement(NV_ESTIN_T estin);
S16 NVESTIN_need_remove_LTE(NV_ESTIN_T estin);
S16 NVESTIN_need_drop_channel(NV_ESTIN_T estin);
S16 NVESTIN_need_clear_ephemeris(NV_ESTIN_T estin);
S16 NVESTIN_need_plus_one_msc(NV_ESTIN_T estin);
S16 NVESTIN_need_minus_one_msc(NV_ESTIN_T estin);
S16 NVESTIN_has_good_carrier_dr(NV_ESTIN_T estin);
// The range's smoothed pseudorange may have converged (carrier check of the
// range record); 0 for inputs given directly.
S16 NVESTIN_is_PR_may_convergeced(NV_ESTIN_T estin);
S16 NVESTIN_can_use_smoothed_PR(NV_ESTIN_T estin);
// The range rate is steady: the input has a change rate below 1 m/s per epoch.
S16 NVESTIN_is_stable_dr(NV_ESTIN_T estin);
U16 NVESTIN_get_flags(NV_ESTIN_T estin);
// Sets the given NVESTIN_* bits (the requests only set their bit).
void NVESTIN_set_flags(NV_ESTIN_T estin, U16 bits);
// One flag each (null: nothing).
void NVESTIN_set_PR_excluded_by_RAIM(NV_ESTIN_T estin);
void NVESTIN_set_DR_excluded_by_RAIM(NV_ESTIN_T estin);
void NVESTIN_set_excluded_by_MP_check(NV_ESTIN_T estin);
void NVESTIN_set_excluded_by_LTE_check(NV_ESTIN_T estin);
void NVESTIN_set_excluded_by_recalc_position_check(NV_ESTIN_T estin);
void NVESTIN_set_bad_measurement(NV_ESTIN_T estin);
void NVESTIN_set_large_error(NV_ESTIN_T estin);
void NVESTIN_set_need_remove_LTE(NV_ESTIN_T estin);
void NVESTIN_set_need_drop_channel(NV_ESTIN_T estin);
void NVESTIN_set_need_clear_ephemeris(NV_ESTIN_T estin);
void NVESTIN_set_need_plus_one_msc(NV_ESTIN_T estin);
void NVESTIN_set_need_minus_one_msc(NV_ESTIN_T estin);
// Index (0..n-1) of the input of lowest C/N0 in the n handles of ary; -1 for
// an empty list.
S16 NVESTIN_find_min_cn0(S16 n, const NV_ESTIN_T* ary);
F32 NVESTIN_get_dr_by_nco_freq(NV_ESTIN_T estin);                // m/s, 0 without
F32 NVESTIN_get_dr_by_good_acc_carrier_slots(NV_ESTIN_T estin);  // m/s, 0 without
D64 NVESTIN_get_range(NV_ESTIN_T estin);
S16 NVESTIN_get_steady_cn0_count(NV_ESTIN_T estin);  // epochs of steady C/N0 of the channel                         //
                                                     // m, geometric range of the epoch; 0 without
