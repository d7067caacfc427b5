// Range records (RNG_): one per hardware channel (20), turning the channel's
// transmit time and carrier Doppler into what navigation uses each epoch:
// pseudorange and its smoothed forms, range rates (from the carrier Doppler,
// the NCO setting and the common clean carrier slots), measurement variances
// from C/N0, the satellite state and clock correction at transmit time, the
// geometric range with its direction cosines, and the ionospheric and
// tropospheric delays.
//
// Units: metres, m/s, seconds; times of week are GPS seconds. Queries return
// 1 with the value through the pointer, or 0 (pointer untouched) while the
// value is not available this epoch. Records are static and live for the run.
#pragma once

#include "kernel/src/kernel_handles.h"
#include "misc/gnss_types.h"

// Life cycle.
void RNG_init();  // every record reset: variances 9 m^2 and 0.09 (m/s)^2; also the carrier-smoothing records
RNG_T RNG_get_reference(S16 ch_id);           // ch_id 0..19 (anything else is a fatal assertion); never null
void RNG_reset(RNG_T rng);                    // unbound, nothing measured, smoothing restarted
void RNG_set(RNG_T rng, SV_T sv, S16 ch_id);  // bind the channel's range record to satellite sv (null: none)
void RNG_reset_calculation();                 // start of each epoch: every per-epoch flag cleared

// Updates from the channel.
S16 RNG_update_ttime(RNG_T rng, D64 ttime);  // transmit time, GPS s of week; 0 (refused) without satellite
// Carrier Doppler of the epoch (Hz; positive when the satellite approaches)
// from the accumulated carrier / from the NCO setting, kept as the range rate
// dr = -Doppler x L1 wavelength (m/s, positive while the range grows: the rate
// of the pseudorange, as the smoothing and the navigation use it).
void RNG_update_carrier_dopp_freq(RNG_T rng, S16 gnss_type, S16 glo_k_num, D64 carrier_dopp_freq);
void RNG_update_carrier_dopp_freq_by_nco_freq(RNG_T rng, S16 gnss_type, S16 glo_k_num, D64 carrier_dopp_freq);
// Measurement variances from C/N0 (dB-Hz): a rise of 5 dB or more is believed
// one update later; in the first tracking second the range-rate variance is 9.
void RNG_calculate_range_variance(RNG_T rng, S16 cn0, S16 is_first_tracking_sec);

// Epoch processing. Time of the epoch: adjusted week, time of week (s),
// measurement interval (s) and time-count shift inside it (s). Forms the
// pseudoranges of the records with a transmit time, smooths them, and gets
// each satellite's state and clock correction at transmit time.
void RNG_update_gtc_time(S16 gtc_wn, D64 gtc_sec, D64 gtc_meas_dt, D64 gtc_shift_dt);
void RNG_calculate_carrier_cycles_by_good_acc_carrier_slots();  // range rates over the selected common slots
// Receiver state (ECEF m, m/s; clock bias m, drift m/s) for the geometric
// ranges, direction cosines and line-of-sight velocities.
void RNG_update_receiver_states(const POS_T* pos, const VEL_T* vel, D64 cbias, F32 cdrift);
// Elevation and azimuth of every satellite with a position at transmit time
// and no valid elevation yet, from receiver position pos (ECEF m) and tm the
// rows east, north, up of its local frame.
void RNG_update_receiver_states_for_elevation(const POS_T* pos, const F32 (*tm)[3]);
// Ionospheric and tropospheric delays (m) of every record with a satellite
// position, at time of week tow (s) and receiver position lla; zero below
// the horizon.
void RNG_calculate_atmosphere_delay(S32 tow, const LLA_T* lla);
// Set the ionospheric and tropospheric delays of every record to 0 m (no
// receiver position to model them from).
void RNG_clear_atmosphere_delay();

// Queries.
S16 RNG_get_ttime(RNG_T rng, D64* ttime);
S16 RNG_get_pseudo_range(RNG_T rng, D64* pr);  // m, uncorrected
S16 RNG_get_true_range(RNG_T rng, D64* tr);    // m, geometric with the Earth-rotation term
S16 RNG_get_delta_range(RNG_T rng, F32* dr);   // m/s, positive while the range grows
S16 RNG_get_delta_range_by_nco_freq(RNG_T rng, F32* dr);
S16 RNG_get_delta_range_by_good_acc_carrier_slots(RNG_T rng, F32* dr);
// Time (s) from the middle of the slots that range rate covers to the epoch;
// 1/0 as the range rate.
S16 RNG_get_good_acc_carrier_slots_lag(RNG_T rng, F32* lag_s);
// Satellite position (ECEF m) and velocity (m/s) at transmit time and the
// direction cosines (3 floats, satellite to receiver); any may be null.
S16 RNG_get_sv_position_of_ttime(RNG_T rng, POS_T* pos, VEL_T* vel, F32* dc);
S16 RNG_get_direction_cosine(RNG_T rng, F32* dc);
S16 RNG_get_rvel(RNG_T rng, F32* rvel);                           // m/s, (receiver - satellite velocity) . dc
S16 RNG_get_rvel_static(RNG_T rng, F32* rvel);                    // m/s, -sv_vel . dc: a receiver at rest
S16 RNG_get_smoothed_pseudo_range(RNG_T rng, D64* pr, F32* var);  // m, m^2
S16 RNG_get_PR_smoothed_PR_abs_diff(RNG_T rng, F32* diff);        // m, last smoothing innovation
S16 RNG_get_PR_smoothing_count(RNG_T rng, S32* count);
S16 RNG_get_PR_smoothed_PR_small_diff_count(RNG_T rng, S16* count);
// Satellite clock correction (s; clock polynomial - group delay + relativistic
// term) and drift (s/s) at transmit time; both 0 without a position. Returns 0.
S16 RNG_get_non_atmosphere_delay(RNG_T rng, F32* dt, F32* ddt);
S16 RNG_get_atmosphere_delay(RNG_T rng, F32* iono, F32* tropo, S16* is_iono_from_sbas);  // m; returns 1
S16 RNG_get_variance(RNG_T rng, F32* var_pr, F32* var_dr);                               // m^2, (m/s)^2; returns 1
SV_T RNG_get_sv(RNG_T rng);
U16 RNG_get_gnss_type(RNG_T rng);    // GNSS_TYPE_NONE without satellite
D64 RNG_get_L_frequency(RNG_T rng);  // Hz, the satellite's L1
S16 RNG_get_channel_id(RNG_T rng);
S16 RNG_get_URA(RNG_T rng);                               // -1 without satellite
S16 RNG_get_cn0(RNG_T rng);                               // the smaller of this and the previous C/N0, dB-Hz; 0 unbound
S16 RNG_get_elevation_in_degree(RNG_T rng);               // 0 without satellite position
F32 RNG_get_dr_change_rate(RNG_T rng);                    // dr - previous dr, m/s; 0 without dr
S16 RNG_is_sv_use_ionosphere_model_from_sbas(RNG_T rng);  // always 0: no SBAS corrections applied

// Selections into the caller's array (room for 20); return their count.
// Records with a smoothed pseudorange of variance < var_thr (m^2) and last
// innovation < diff_thr (m):
S16 RNG_get_smoothed_range_array(F32 var_thr, F32 diff_thr, RNG_T* rng_ary);
S16 RNG_get_good_acc_carrier_range_array(RNG_T* rng_ary);  // records with a common-slot range rate

// Quality tests of the smoothed pseudorange: stable_type 0 (loose), 1
// (variance < 4 m^2 and more than 9 small innovations), other (as 1 and the
// last innovation < 2 m). 1/0.
S16 RNG_is_PR_pass_stability_check(RNG_T rng, S16 stable_type);
S16 RNG_is_PR_may_convergence_by_carrier_check(RNG_T rng);

// Differential corrections: none are applied (both always 0).
S16 RNG_get_dgps_prc(RNG_T rng, F32* prc);
S16 RNG_has_valid_dgps_inputs();
