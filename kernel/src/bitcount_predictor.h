// Bit-count prediction before frame sync (BCP_): with a stored time and
// position (a hot start), the tie between a channel's bit counter and GPS
// time is predicted from the receiver position, the satellite's broadcast
// orbit and a receiver clock bias, instead of waiting six seconds or more for
// the channel's own frame sync. The prediction is the offset predict_bitcnt0
// (20-ms bits) from the channel's track bit count to the absolute bit count of
// the GPS week; the channel code uses it in place of a frame-sync origin.
//
// Predictions are checked against the channels that do have a frame sync and
// against the navigation's clock bias; the first inconsistency switches the
// prediction off (all predictions dropped, the reason counted) until it is
// switched on again (BCP_enable_prediction, at every epoch with a fix).
//
// One record per hardware channel (20), static storage of this module.
// Channel ids outside 0..19 are ignored (queries answer 0). Single-threaded,
// inside KERNEL_loop.
#pragma once

#include "misc/gnss_types.h"

// Reasons prediction was switched off (index of BCP_get_disable_prediction_event_flag).
enum : S16 {
  BCP_DISABLE_BY_INIT = 0,
  BCP_DISABLE_BY_BEFORE_1ST_FIX_TIME_OUT = 1,                      // stored time missing, > 3600 s old or > 100 s ahead
  BCP_DISABLE_BY_BEFORE_1ST_FIX_REAL_FS_CHECK = 2,                 // frame-synced channels disagree by 1 ms or more
  BCP_DISABLE_BY_BEFORE_1ST_FIX_REAL_FS_AND_PREDICT_FS_CHECK = 3,  // predicted and real disagree by 1 ms or more
  BCP_DISABLE_BY_AFTER_1ST_FIX_REAL_FS_UPDATE_CHECK = 4,  // a later real frame sync differs from the prediction
  BCP_DISABLE_BY_AFTER_1ST_FIX_PREDICT_CB_CHECK = 5,      // predicted clock bias > 1.2 ms from the navigation's
};
inline constexpr S16 BCP_N_DISABLE_REASONS = 6;
inline constexpr S32 BCP_GPS_BITS_PER_WEEK = 30240000;  // 50 bits/s x 604800 s

// Start: reason counters 0, prediction off (counted as BCP_DISABLE_BY_INIT),
// every prediction cleared. With has_stored_time 1 the stored GPS week wn
// (full week) and time of week sec (s) are remembered and prediction is
// switched on.
void BCP_init(S16 has_stored_time, S16 wn, S32 sec);
void BCP_enable_prediction();
// Off: every prediction cleared and reason (BCP_DISABLE_BY_...) counted; a
// reason outside 0..5 is counted nowhere.
void BCP_disable_prediction(S16 reason);
S16 BCP_is_prediction_enabled();  // 1/0
// A new stored time: GPS week wn (full week), time of week sec (s); marks the stored time present.
void BCP_update_stored_time(S16 wn, S32 sec);

// Queries of channel ch_id (0..19). 1 when prediction is on and the channel
// has a prediction, else 0 (outputs untouched).
S16 BCP_has_predict_bitcnt0(S16 ch_id);
S16 BCP_get_predict_bitcnt0(S16 ch_id, S32* predict_bitcnt0_p);  // bits, 0..30239999
U08 BCP_get_predict_issue_id(S16 ch_id);  // the channel's tracking issue id when predicted; 0 without prediction
// Absolute bit count of the week for track bit count track (bits): track +
// prediction wrapped into 0..30239999. 1/0 as BCP_has_predict_bitcnt0.
S16 BCP_convert_track_bitcnt_to_abs_bitcnt(S16 ch_id, S32 track, S32* abs_p);

// One epoch before the first fix, at adjusted GPS week gtc_wn (full week)
// and receiver time of week gtc_sec (s), receiver at rcv (ECEF m, read during
// the call) with clock bias predict_cb_m (m; receiver clock minus GPS time,
// times c). Checks the stored time's age and the frame-synced channels, then
// predicts every tracking, locked GPS-type channel without frame sync. Does
// nothing while prediction is off or rcv is null.
void BCP_process_before_first_fix(S16 gtc_wn, D64 gtc_sec, const POS_T* rcv, D64 predict_cb_m);
// One epoch with a fix: predictions that a real frame sync of the same
// tracking issue now confirms are dropped (one that differs switches
// prediction off), then every tracking, locked GPS-type channel without frame
// sync is predicted with the navigation's clock bias cbias_m (m) and each
// predicted clock bias must lie within 1.2 ms of it. *cbias_diff_p (s; may be
// null) is always set to 0.
void BCP_process_normal(S16 gtc_wn, D64 gtc_sec, const POS_T* rcv, D64 cbias_m, D64* cbias_diff_p);

// The reason counters: how often prediction was switched off by each reason
// 0..5 into the caller's array of BCP_N_DISABLE_REASONS (null: nothing).
void BCP_get_disable_prediction_event_flag(S32* counts);
