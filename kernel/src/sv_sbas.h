// SBAS satellite records (SVSBAS_): the position of each SBAS GEO (prn
// 120..138) for ranging and the sky view, reached through the generic
// satellite record (SV_T, GNSS_TYPE_SBAS) of satellite.h. Positions come from
// the GEO navigation records of sbas_geo.h (type 9 messages); the last
// precise and rough results are kept with their validity.
#pragma once

#include "misc/gnss_types.h"

struct SVSBAS_S;
using SVSBAS_T = SVSBAS_S*;

void SVSBAS_init();  // every record bound to its prn, no position held

// The record of prn 120..138; null for any other id. Lives for the whole run.
SVSBAS_T SVSBAS_get_reference(S16 prn);
S16 SVSBAS_get_prn(SVSBAS_T sv);  // 120..138; 0 for null

// Precise position (ECEF m) and velocity (m/s) at GPS week wn, time of week
// t (s, truncated to the whole second) from the GEO record
// (SBAS_GEO_cal_sv_position), stored with its validity. pos and vel are the
// caller's (either may be null). Returns 1, or 0 when the record refuses
// (none, stale, ranging off, URA at the mask) or t is not a time of week.
S16 SVSBAS_precise(SVSBAS_T sv, S16 wn, D64 t, POS_T* pos, VEL_T* vel);
// Rough position (ECEF m): (XG, YG, ZG) of the satellite's record, stored
// likewise; pos is the caller's (may be null). Returns 1/0.
S16 SVSBAS_rough(SVSBAS_T sv, S16 wn, D64 t, POS_T* pos);
// The rough position last stored into *pos (caller's). Returns 1 when one is
// held, 0 otherwise (pos untouched).
S16 SVSBAS_get_stored_rough_position(SVSBAS_T sv, POS_T* pos);
S16 SVSBAS_get_URA(SVSBAS_T sv);  // URA index of the GEO record, -1 without one or for null
