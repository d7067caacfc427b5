// Carrier smoothing of pseudoranges (CS_): one scalar filter per channel that
// predicts the pseudorange with the carrier range rate and weighs each new
// pseudorange against the prediction by their variances. A filter that has
// run for more than 10 updates and then sees an innovation above 30 m is
// reset (cycle slip, code jump or a changed satellite).
#pragma once

#include "misc/gnss_types.h"

struct CS_S;
using CS_T = CS_S*;  // the carrier-smoothing record of a channel (fixed slot for the run)

inline constexpr F32 CS_RESET_INNOVATION = 30.0F;  // m: innovation that resets a running filter
inline constexpr S32 CS_RESET_MIN_COUNT = 10;      // updates a filter must exceed before it may be reset
inline constexpr F32 CS_SMALL_INNOVATION = 10.0F;  // m: innovations below this are counted as small
inline constexpr S16 CS_SMALL_COUNT_MAX = 1000;    // the small-innovation count saturates here
inline constexpr F32 CS_RESET_ABS_DIFF = 100.0F;   // m: innovation magnitude reported after a reset

// Every record reset (no smoothed value), channel numbers 0..19 assigned.
void CS_init();
// The record of channel ch_id 0..19 (anything else is a fatal assertion); never null.
CS_T CS_find_reference(S16 ch_id);
// Forget the smoothed value: the next update starts the filter again.
void CS_reset(CS_T cs);
// One epoch's measurements: pseudorange pr (m) with variance pr_var (m^2),
// range rate dr (m/s, positive when the range grows) with variance dr_var
// ((m/s)^2), the measurement interval gtc_meas_dt (s) over which dr
// integrates and the time-count shift gtc_shift_dt (s) applied inside it
// (moves every pseudorange by gtc_shift_dt x c). dt is not used.
void CS_update_measurements(CS_T cs, D64 pr, D64 dr, F32 pr_var, F32 dr_var, F32 dt, D64 gtc_meas_dt, D64 gtc_shift_dt);
// Smoothed pseudorange (m) and its variance (m^2). 1 when the filter runs; 0
// with nothing written (reset or never updated).
S16 CS_get_smoothed_PR(CS_T cs, D64* pr_p, F32* var_p);
// |innovation| of the last update, m (100 after a reset). Returns 1 when the
// filter runs, 0 otherwise; the value is written either way.
S16 CS_get_abs_PR_diff(CS_T cs, F32* abs_diff_p);
// Updates since the filter started (the starting one not counted). Returns 1
// when the filter runs, 0 otherwise; the value is written either way.
S16 CS_get_smoothing_count(CS_T cs, S32* count_p);
// Consecutive updates with an innovation below 10 m (saturating at 1000).
// Returns 1 when the filter runs, 0 otherwise; the value is written either way.
S16 CS_get_small_PR_diff_count(CS_T cs, S16* count_p);
