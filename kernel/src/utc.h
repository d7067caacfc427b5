// GPS time and UTC (UTC_): the GPS-UTC parameters of subframe 4 page 18
// (IS-GPS-200 20.3.3.5.1.6), kept in the backup region with a CRC-16, the
// confirmation of the broadcast leap-second count, and the conversions
// between GPS time (full week, seconds of week) and the UTC calendar,
// including the leap second itself (second 60, IS-GPS-200 20.3.3.5.2.4).
//
// Weeks are full GPS weeks (S16, counted from 6 January 1980) unless said
// otherwise; the 8-bit weeks of the page (WNt, WN_LSF) are completed from
// the week handed in. Calendar years follow the every-fourth-year rule, which
// holds from 1980 to 2099.
#pragma once

#include "misc/gnss_types.h"

// UTC calendar date and time.
struct UTC_TIME_T {
  S16 year, month, day, day_of_year, hour, minute;  // month 1..12, day 1..31, day_of_year 1..366
  D64 sec;                                          // seconds of the minute, 0 .. below 61
};

// Lay the piece out in region_p (the host program's image, kept for the run)
// at offset (bytes). Returns the piece's size, bytes (50).
S16 UTC_init_storage_address(U08* region_p, U32 offset);
// Start of run. region_p null: the piece laid out before; non-null: lay out at
// offset 0 of region_p. Checks the stored record: a zero or mismatching CRC
// makes the parameters and the confirmed leap seconds absent. Takes the
// position output interval from the position rate setting. Returns the
// piece's size, bytes (50). When the image is in the other byte order
// (ENDIAN_need_swap) the record is converted first.
S16 UTC_init(U08* region_p);
// The leap seconds (s) used while no broadcast parameters are present.
void UTC_update_default_leap_second_from_flash(S16 leap_sec);
// Subframe 4 page 18 (10 polarity-corrected words, read during the call) at
// GPS week wn, time of week tow (s); gps_time_is_valid 1 when that time is
// confirmed (it is then stored as the receive time). Returns 1 when the
// parameters were stored, 0 when the page was refused (not page 18, or an
// implausible A0 or A1 seen for the first time in a row).
S16 UTC_update_utc_parameters(S16 wn, S32 tow, S16 gps_time_is_valid, const U32* words);

// GPS week wn and time of week tow (s) to UTC, written to utc_p. The time is
// first moved back by the shift mode of the epoch (UTC_time_shift) and
// snapped to the position output interval; the moved time of week (s) is
// written to modified_tow_p (may be null). With broadcast parameters the
// IS-GPS-200 conversion applies (A0, A1, the leap-second event); without
// them the default leap seconds (none for week 0).
void UTC_convert_gps_to_utc_time(S16 wn, D64 tow, UTC_TIME_T* utc_p, D64* modified_tow_p);
// As above with the default leap seconds, no shift and no snapping.
void UTC_convert_gps_to_utc_time_by_default_parameters(S16 wn, D64 tow, UTC_TIME_T* utc_p);
// GPS calendar time of week wn, tow (s): no leap seconds, no shift, no snapping.
void UTC_convert_gps_to_utc_time_without_leap_sec_adjustment(S16 wn, D64 tow, UTC_TIME_T* utc_p);
// UTC calendar time (year from 1980; month, day, hour, minute, sec used; the
// caller checks their ranges) to GPS week and time of week (s) with the
// default leap seconds.
void UTC_convert_utc_to_gps_time(const UTC_TIME_T* utc_p, S16* wn_p, D64* tow_p);

enum : S16 {
  UTC_NORMAL = 0,
  UTC_ADVANCE_HALF_SECOND = 1,
  UTC_ADVANCE_ONE_SECOND = 2,
};
void UTC_time_shift(S16 shift);  // UTC_...: how the UTC output advances at this epoch

S16 UTC_has_valid_utc_parameters();              // 1 when broadcast parameters are present
S16 UTC_get_reliable_leap_sec(S32* leap_sec_p);  // s; 1 only when confirmed from the broadcast
S16 UTC_get_default_used_leap_second();          // s
// Current and future leap seconds (s) of the broadcast; 1 when present, 0
// with nothing written.
S16 UTC_get_utc_t_LS_and_t_LSF(S16* t_ls_p, S16* t_lsf_p);
// UTC date and time of the leap-second event (the start of day DN + 1 of week
// WN_LSF, the upper week bits taken from gps_wn; whole seconds). 1 when
// parameters are present, 0 with nothing written.
S16 UTC_get_leap_second_adjustment_utc_time(S16 gps_wn, S32 gps_tow, U16* year_p, U08* month_p, U08* day_p, U08* hour_p,
                                            U08* minute_p, U08* second_p);
// Receive time of the parameters converted with the default leap seconds. 1
// when a receive time was stored, 0 with nothing written.
S16 UTC_get_time_stamp_of_utc_parameter(UTC_TIME_T* utc_p);
void UTC_clear_all();  // parameters and confirmed leap seconds invalid, CRC 0
