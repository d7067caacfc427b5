// Sky view (SVSKY_): elevation, azimuth and Doppler of every satellite of
// the satellite table seen from the receiver position, and the GPS-type
// satellites above the horizon sorted by elevation (highest first). The
// search takes its Doppler list and hot-start decisions from it, the NMEA
// GSV sentence its satellites in view.
//
// Updated once a second by KSVCALC_process when a fix or a stored receiver
// position exists: all satellites at the first update, when the time moved
// by more than 30 s or the receiver by 3 000 m or more; otherwise one
// satellite a second, round robin.
#pragma once

#include "kernel/src/kernel_handles.h"
#include "misc/gnss_types.h"

inline constexpr int SVSKY_MAX_SORTED = 19;     // satellites kept in the sorted list
inline constexpr int SVSKY_LIST_CAPACITY = 20;  // entries a caller's list must hold
inline constexpr S32 SVSKY_FULL_UPDATE_DT_S = 30;
inline constexpr D64 SVSKY_FULL_UPDATE_MOVE_M = 3000.0;

void SVSKY_init();  // nothing computed, no last update, empty list
// Update at full GPS week wn, time of week tow (s) for the receiver at rcv_p
// (ECEF m, read during the call; null ignored): a full or a partial update
// as above, every SBAS satellite with a rough position, then the sorted list.
void SVSKY_update_receiver_position(S16 wn, S32 tow, const POS_T* rcv_p);
// Full update for the given time and position (as a first update).
void SVSKY_force_update_all(S16 wn, S32 tow, const POS_T* rcv_p);
// One satellite's rough position, elevation, azimuth and Doppler (sv of the
// satellite table; null ignored).
void SVSKY_force_update_one(S16 wn, S32 tow, const POS_T* rcv_p, SV_T sv);
// 1 when the GPS-type satellite's last computation gave a position,
// elevation and azimuth; 0 else (also for SBAS and null).
S16 SVSKY_has_valid_data(SV_T sv);
// The sorted list (highest elevation first, none below 0 degrees, at most
// 19) into list (caller's array of at least 20 entries). Returns the count.
S16 SVSKY_get_sorted_SV_on_sky(SV_T* list);
// The same restricted to satellites of gnss_type (GNSS_TYPE_GPS ...).
S16 SVSKY_get_sorted_SV_on_sky_one_gnss_type(U16 gnss_type, SV_T* list);
