// Navigation driver and fix record (NV_): once per measurement epoch, from the
// usable range records, the receiver clock is carried forward, the receiver
// state predicted, and a fix computed: the first fix by iterated least
// squares, later fixes from the least-squares solver with integrity checks
// (LSQRAIM_) or the navigation Kalman filter (KMF_), whichever the selection
// rules accept. The module owns the fix record (one static instance, private)
// that the output, the kernel interface, the RTC and the backup read through
// the NV_get_... readers below.
//
// Units: positions ECEF metres, velocities m/s, latitude/longitude radians
// (NV_get_lat_lon_degree: degrees), altitude metres above the ellipsoid, clock
// bias metres (c x seconds), clock drift m/s, GPS time as full week number and
// seconds of week. Every pointer handed in is the caller's record, read or
// written during the call only; null pointers are ignored (nothing written).
// Channel ids are hardware channels 0..19; any other id gives 0.
#pragma once

#include "kernel/src/kernel_handles.h"
#include "kernel/src/kernel_types.h"
#include "kernel/src/nav_estimation_inputs.h"
#include "misc/gnss_types.h"

// Solution types of the epoch (NV_get_navi_type).
enum : S16 {
  NAVI_NONE = 0,
  NAVI_LSQ = 1,  // least squares
  NAVI_KF = 2,   // Kalman filter
};

// Channel fix states (NV_get_channel_fix_state).
enum : S16 {
  CH_NOFIX = 0,
  CH_SHOW_FIX = 1,      // shown as used only
  CH_FIX_PR_ONLY = 2,   // pseudorange used
  CH_FIX_DR_ONLY = 3,   // range rate used
  CH_FIX_PR_DR = 4,     // pseudorange and range rate used
  CH_DIFFERENTIAL = 5,  // differential correction used
};

// Callbacks (installed by the kernel frame at start; null = none, skipped).
using NV_DROP_CHANNEL_CALLBACK_T = void (*)(S16 ch_id);  // channel 0..19 to release
using NV_POSITION_FIX_FAULT_CALLBACK_T = void (*)();     // the fix was found faulty
using NV_UPDATE_WN_CALLBACK_T = void (*)(U16 wn);        // 10-bit week from aiding data
// A bad-measurement screen over the n_estin inputs of estins_ary (read during
// the call) with the count of 3-D fixes so far; returns the inputs left
// without error (NVBADMEAS_... have this form).
using NV_BAD_MEAS_CHECK_CALLBACK_T = S16 (*)(S16 n_estin, const NV_ESTIN_T* estins_ary, U32 fix_3D_count);
// Multipath screen of the n_estin inputs; returns the inputs left.
using NV_MULTIPATH_CALLBACK_T = S16 (*)(S16 n_estin, const NV_ESTIN_T* estins_ary);

// ---------------------------------------------------------------------------
// Life cycle and the epoch
// ---------------------------------------------------------------------------
// Fix record to its start values: week 1381, time of week 302 400 s, position,
// velocity, clock 0, DOPs 0, no fix; flags to their defaults (2-D first fixes
// and 2-D fixes allowed); masks from the settings; the Kalman filter reset.
// Installed callbacks are kept.
void NV_init();
// One navigation epoch at adjusted time count gtc_wn (full week), gtc_sec
// (s of week) with the n range records of range_meas_in (caller's array of n
// handles, read during the call; n outside 0..20 counts as 0), the
// measurement interval gtc_meas_dt (s) and the time-count shift inside it
// gtc_shift_dt (s). Returns 1.
S16 NV_process(S16 gtc_wn, D64 gtc_sec, S16 n, RNG_T* range_meas_in, D64 gtc_meas_dt, D64 gtc_shift_dt);

// Host option: 1 = compute every fix as a first fix (least squares only).
void NV_set_least_square_only(S16 on);

// ---------------------------------------------------------------------------
// Start-up input
// ---------------------------------------------------------------------------
// Backed-up state: GPS week, time of week (s), geodetic position (rad, rad, m;
// null: time only) and clock drift (m/s); the drift is kept, then as
// NV_restore_time_pos_data_only.
void NV_restore_data(S16 wn, S32 tow, const LLA_T* lla_p, F32 cdrift);
// Start time (week, s of week) and, with lla_p (rad, rad, m), the start
// position (geodetic and ECEF, the ENU rotation, the held altitude). Sets
// "stored init time" and, with a usable position, "stored init position".
// Non-finite or out-of-range positions are ignored.
void NV_restore_time_pos_data_only(S16 wn, S32 tow, const LLA_T* lla_p);
void NV_set_force_3D_first_fix_for_hot_start_application();  // the first fix must be 3-D
// Receiver clock bias (m) and drift (m/s); the fix time is recomputed from the
// last time count; the Kalman filter is reset when a real fix exists.
void NV_set_clock_bias_drift(D64 cbias, F32 cdrift);
// 2-D fixes allowed at the first fix / after it (1/0).
void NV_set_2D_fix_enable(S16 at_first_fix, S16 after_first_fix);

// ---------------------------------------------------------------------------
// Hooks
// ---------------------------------------------------------------------------
void NV_install_callback_drop_channel(NV_DROP_CHANNEL_CALLBACK_T func);
void NV_install_callback_position_fix_fault(NV_POSITION_FIX_FAULT_CALLBACK_T func);
void NV_install_first_fix_bad_meas_check_callback(NV_BAD_MEAS_CHECK_CALLBACK_T func);
void NV_install_bad_meas_check_callback(NV_BAD_MEAS_CHECK_CALLBACK_T func);
void NV_install_multipath_mitigation_callback(NV_MULTIPATH_CALLBACK_T func);
void NV_install_callback_update_wn_for_rom_agps(NV_UPDATE_WN_CALLBACK_T func);
void NV_set_sbas_status_tick(S16 status);  // SBAS status 0..2 (2: corrections broadcast)
void NV_set_sbas_limitation_tick(S16 on);  // 1/0, kept
void NV_set_qzss_limitation_tick(S16 on);  // 1/0, kept
void NV_set_rom_agps_command(U16 wn);      // hands the week (10 bits) to the week callback
S16 NV_if_SG_signal();                     // the SG-signal flag set last (1/0)
void NV_set_if_SG_signal(S16 on);

// ---------------------------------------------------------------------------
// Fix record readers
// ---------------------------------------------------------------------------
// GPS time of the fix (receiver time corrected by the clock bias): *tow s of
// week, *wn full week. Before any epoch: week 1381, 302 400 s. Returns 1 once
// a time count has updated it, else 0.
S16 NV_get_time(D64* tow, U16* wn);
void NV_get_ecef_position(POS_T* pos_p);      // m
void NV_get_ecef_velocity(VEL_T* vel_p);      // m/s
void NV_get_enu_velocity(VEL_ENU_T* vel_p);   // east, north, up, m/s
void NV_get_lla_position(LLA_T* lla_p);       // rad, rad, m
void NV_get_lla_e8_position(LLA_e8_T* lla_p);  // degrees x 1e8, degrees x 1e8, metres x 1e8 (truncated, 64-bit)
void NV_get_lat_lon_degree(D64* lat_deg, D64* lon_deg);  // degrees
F32 NV_get_altitude();                                   // m above the ellipsoid
F32 NV_get_course();                                     // degrees from north, 0..360
F32 NV_get_speed();                                      // horizontal speed, m/s
F32 NV_get_show_speed();                                 // speed offered for display (0 while unsure), m/s
F32 NV_get_speed_vu();                                   // |up velocity|, m/s
void NV_get_enu(F32 enu[3][3]);                          // ECEF-to-ENU rotation, rows east, north, up
void NV_get_clock_bias_drift(D64* cbias_m, F32* cdrift_mps);  // m, m/s
D64 NV_get_gps_glonass_time_diff();                           // m
F32 NV_get_gps_glonass_time_drift();                          // m/s
S16 NV_get_fixmode();                                         // FIX_NONE .. FIX_DIFF of the last epoch
U32 NV_get_fix_count();                                       // fixes since start
S16 NV_get_fix_svs();                                         // satellites used in the last fix
S16 NV_get_show_fix_svs();                                    // satellites shown as used
U16 NV_get_total_move_count();                                // epochs at 5 m/s or more
U16 NV_get_continuous_no_fix_count();                         // epochs without fix in a row
U16 NV_get_continuous_real_fix_count();                       // 2-D or better fixes in a row
// DOPs of the last solution (99.9 when unknown, 0 before any solution).
F32 NV_get_gdop();
F32 NV_get_pdop();
F32 NV_get_hdop();
F32 NV_get_edop();
F32 NV_get_ndop();
F32 NV_get_vdop();
F32 NV_get_tdop();
// DOPs offered for display and checked by the DOP mask.
F32 NV_get_show_gdop();
F32 NV_get_show_pdop();
F32 NV_get_show_hdop();
F32 NV_get_show_vdop();
F32 NV_get_show_tdop();
F32 NV_get_EPE();  // estimated position error, m (0 unknown)
// Residual sigmas of the accepted solution: pseudorange (m), range rate (m/s).
// 1 when known, else 0 and nothing written.
S16 NV_get_position_quality_result(F32* pr_sigma, F32* dr_sigma);
S16 NV_get_navi_type();                      // NAVI_NONE / NAVI_LSQ / NAVI_KF of the last epoch
S32 NV_get_any_sbas_reliable_freq_in_hz();  // 0: no SBAS range rate is used
S16 NV_has_fixed();                          // 1 once a fix was made (0 again after a fault)
S16 NV_has_stored_init_time();               // 1 when a start time was restored or input
S16 NV_has_stored_init_position();           // 1 when a start position was restored or input
S16 NV_does_fix_use_PR_measurements();       // 1: a fix exists and its position used pseudoranges
S16 NV_does_vel_use_good_carrier_DR_measurements();    // 1/0, last epoch
S16 NV_does_pos_use_may_convergence_PR_measurements();  // 1/0, last epoch
S16 NV_is_no_fix_by_dop_mask();                         // 1: the last epoch failed the DOP mask
void NV_get_dx(F32 dx[5]);  // last applied correction: east, north, up (m), clock (m), second clock (m)
// Position-domain error statistics of the last fix, written through the
// pointers: rms of the range inputs (m), standard deviations of the error
// ellipse's semi-major and semi-minor axes (m), orientation of the semi-major
// axis (degrees from true north), and std_enu_error_p[3] east, north, up
// standard deviations (m, caller's array of 3). 1 when valid; 0 with zeros.
S16 NV_get_error_statistics(F32* rms_range_inputs_std_p, F32* std_semi_major_axis_p, F32* std_semi_minor_axis_p,
                            F32* orientation_semi_major_axis_p, F32* std_enu_error_p);

// ---------------------------------------------------------------------------
// Channel use in the last fix (ch 0..19; 1/0)
// ---------------------------------------------------------------------------
S16 NV_is_channel_meas_use_in_fix(S16 ch);      // pseudorange or range rate used
S16 NV_is_channel_meas_use_PR_in_fix(S16 ch);   // pseudorange used
S16 NV_is_channel_meas_use_DR_in_fix(S16 ch);   // range rate used
S16 NV_is_channel_meas_show_use_in_fix(S16 ch);  // shown as used
S16 NV_is_channel_meas_use_differential_in_fix(S16 ch);
S16 NV_is_channel_meas_broadcast_differential_message(S16 ch);
S16 NV_get_channel_fix_state(S16 ch);  // CH_NOFIX .. CH_DIFFERENTIAL
