// Field helpers of the console table (host/host_output.cpp), public so that
// their rules can be tested on their own. Pure functions: no module state.
#pragma once

#include "kernel/src/utc.h"
#include "misc/gnss_types.h"

// The extra channel state of the table: a measured GPS channel whose
// ephemeris comes from the long-term aiding source (channel states of the
// kernel are 0..6).
inline constexpr U16 HOSTCON_STATE_LONG_TERM_EPH = 7;

// Two-letter label of channel state 0..7: "ID", "PU", "BS", "TR", "ST", "FS",
// "OK", "LT" (7: long-term aiding ephemeris). Any other value gives the
// neutral label "--". Returns a pointer to a static string, never null.
const char* HOSTCON_state_label(U16 state);

// The UTC time *utc_p (calendar fields, seconds of the minute) as the table
// prints it, seconds to 0.1 s: when the seconds round to 60.0 below a leap
// second (sec < 60 s), they become 0.0 and the minute is carried on through
// the hour, day, month and year (day of year too; Gregorian leap years).
// Writes the rounded seconds (s, a multiple of 0.1) in utc_p->sec. A null
// pointer is ignored.
void HOSTCON_round_utc_to_tenth(UTC_TIME_T* utc_p);
