// Time-count adjustment (GTCADJ_): the offset between the target's raw time
// count (week, time of week, kept by the target from its own clock) and GPS
// time, and how far it can be trusted.
//
// GPS week numbers here are full weeks (not modulo 1024); times of week are
// seconds. Adjust types say how a quantity is known: 0 unknown, 1 predicted
// from the RTC, 2 from the user's input time, 3 guessed, 5 confirmed from
// navigation data (GTCADJ_CONFIRMED).
#pragma once

#include "kernel/src/kernel_types.h"
#include "misc/gnss_types.h"

inline constexpr S16 GTCADJ_CONFIRMED = 5;  // adjust type: confirmed from navigation data

void GTCADJ_init();  // everything unknown; the week offset 1570 until a source is known
// Start time predicted from the RTC (full week, s); used at the first raw count.
void GTCADJ_set_init_predict_gps_time_by_rtc(S16 wn, S32 tow);
// Start time input by the user (full week, s); used at the first raw count
// when there is no RTC prediction.
void GTCADJ_set_init_input_time(S16 wn, S32 tow);
// The start time known before the first raw count: the RTC prediction, else
// the user's input time. 1 with *wn_p (full week) and *tow_p (s) filled, 0
// when neither is known (outputs untouched). Null outputs give 0.
S16 GTCADJ_get_init_time(S16* wn_p, S32* tow_p);
// The user's reference date (read at once): when enabled and a valid date,
// its week settles the 10-bit subframe-1 week when nothing better is known.
void GTCADJ_set_user_input_time_sync(const USER_INPUT_TIME_SYNC_T* sync_p);
// The full week of the last stored fix (backup memory), when there is one:
// settles the 10-bit subframe-1 week when no prediction or input is known.
void GTCADJ_set_stored_wn(S16 wn);
// Every measurement epoch: the raw time count, week and time of week (s).
void GTCADJ_update_raw_gtc(S16 raw_gtc_wn, D64 raw_gtc_tow);
// A frame sync: tow (s) is the GPS time of the bit dbitcnt bits after the bit
// at millisecond 0 of the latest epoch's second, at bps bits per second (50
// for GPS).
void GTCADJ_set_framesync_tow(S32 tow, S32 dbitcnt, S16 bps);
// The 10-bit week (0..1023) of subframe 1 (or of aiding data) and its GNSS
// type; only GPS is used.
void GTCADJ_set_subframe1_wn(S16 wn, S16 gnss_type);
// The latest raw time count adjusted to GPS time: full week and time of week
// (s, 0 <= tow < 604 800), always written; returns 1 when both the week and
// the time of week are known (adjust types non-zero), else 0.
S16 GTCADJ_get_adjusted_gtc(S16* wn_p, D64* tow_p);
S16 GTCADJ_get_gtc_wn_adjust_type();   // 0, 1, 2, 3 or GTCADJ_CONFIRMED
S16 GTCADJ_get_gtc_tow_adjust_type();  // 0, 1, 2, 3 or GTCADJ_CONFIRMED
S16 GTCADJ_get_raw_wn();               // raw week of the latest epoch
S32 GTCADJ_get_raw_gtc_tow();          // raw time of week of the latest epoch, s, truncated
U16 GTCADJ_get_subsec();               // ms of the latest epoch within its second, 0..1000 (rounded)
// The full week nearest (within 512 weeks either side) to the best week the
// receiver knows that has the given 10-bit week (0..1023).
S16 GTCADJ_resolve_wn(S16 wn10);
// The GPS week of the program's build date: the reference when nothing
// better is known.
S16 GTCADJ_get_build_wn();
