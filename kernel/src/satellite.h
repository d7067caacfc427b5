// Satellite table (SV_, SVGPS_): one record per GPS-type satellite (GPS
// 1..32, QZSS 33..37, spare 38) and per SBAS satellite (120..138), binding
// the satellite's ephemeris to the states the ranges and the sky view need:
//
// - the precise state (SV_precise): position, velocity and acceleration at a
//   transmit time, extrapolated from a reference state computed from the
//   ephemeris at a whole second (recomputed when the request lies more than
//   12 s from it, refreshed in the background once a second, SVGPS_update);
// - the rough state (SV_rough): position and velocity for the sky view and the
//   search, from the reference state within 351 s of it;
// - elevation, azimuth and Doppler seen from a receiver position, and the
//   per-satellite mask flag (GSV_).
//
// GLONASS and BeiDou satellites have no record. SBAS records lead to the SBAS
// satellite records of sv_sbas.h: their precise and rough positions come from
// the GEO navigation records (type 9 messages, sbas_geo.h); requests fail
// while a GEO has none.
#pragma once

#include "kernel/src/ephemeris.h"
#include "kernel/src/kernel_handles.h"
#include "misc/gnss_types.h"

inline constexpr D64 SV_L1_FREQUENCY = 1575.42e6;  // Hz, every satellite of the table
inline constexpr S32 SV_PRECISE_REUSE_S = 12;      // a precise request within 12 s reuses the reference state
inline constexpr S32 SV_ROUGH_REUSE_S = 351;       // a rough request within 351 s extrapolates the reference
inline constexpr S32 SV_REFRESH_AGE_S = 13;        // background refresh of a reference 13 s old
inline constexpr S16 SV_MAX_REFRESH = 6;           // refreshes without a precise request before the drop

void SV_init();  // every record bound to its type and id, all flags and states cleared

// The record of satellite svid of gnss_type (GNSS_TYPE_GPS or GNSS_TYPE_QZSS:
// 1..38; GNSS_TYPE_SBAS, or a GPS type with an SBAS id: 120..138); null for
// any other id or type. Lives for the whole run.
SV_T SV_get_reference(U16 gnss_type, S16 svid);
SV_T SV_get_glonass_reference_by_knum(S16 k_num);  // null: GLONASS satellites have no record
S16 SV_get_glonass_slot_n(SV_T sv);                // 0

U16 SV_get_type(SV_T sv);             // GNSS_TYPE_GPS or GNSS_TYPE_SBAS; GNSS_TYPE_NONE for null
S16 SV_get_svid(SV_T sv);             // kernel id; 0 for null
S16 SV_get_prn(SV_T sv);              // the same as SV_get_svid
S16 SV_get_URA(SV_T sv);              // URA index 0..15 of the ephemeris or GEO record; -1 without one or for null
S16 SV_get_iode(SV_T sv);             // IODE of a GPS-type ephemeris; -1 else
EPH_T SV_get_gps_ephemeris(SV_T sv);  // the GPS-type satellite's ephemeris record; null else
S16 SV_has_ephemeris(SV_T sv);        // 1 when a valid ephemeris (SBAS: GEO record) is held; 0 else (also for null)
S16 SV_has_almanac(SV_T sv);          // 1 when a valid almanac is held (GPS type); 0 else
D64 SV_get_L1_frequency(SV_T sv);     // Hz: SV_L1_FREQUENCY for every record

// Healthy: a GPS-type satellite whose ephemeris health is 0 or 1 (63 without
// ephemeris: unhealthy). 0 for SBAS and null.
S16 SV_is_healthy(SV_T sv);
// Usable for ranging: healthy and the ephemeris's URA index is not 15 ("no
// accuracy prediction"). 1/0; SBAS records: 1 (no SBAS ranging here).
S16 SV_is_usable_for_ranging(SV_T sv);
// Ephemeris state at GPS week wn, time tt (s): 0 without a usable ephemeris
// or when it is overdue (|tt - toe| > 7200 s); else 2, plus 4 when the
// satellite is also healthy.
S16 SV_get_ephemeris_available_state(SV_T sv, S16 wn, D64 tt);

// Precise state at GPS week wn, time of week t (s): position (ECEF m),
// velocity (m/s), acceleration (m/s^2) into the caller's records (any may be
// null). Returns 1, or 0 without a usable ephemeris or outside its validity
// window. SBAS records: SVSBAS_precise (t truncated to the whole second, the
// GEO record's limits), acceleration 0.
S16 SV_precise(SV_T sv, S16 wn, D64 t, POS_T* pos, VEL_T* vel, ACC_T* acc);
// Rough state at GPS week wn, whole second tow: position (ECEF m) and velocity
// (m/s) into the caller's records (either may be null); stored as the record's
// rough state. From the reference state within 351 s, else from the
// satellite's almanac (ALM_calc_SV_position). Returns 1, or 0 when neither
// gives a state. SBAS records: the GEO record's position (SVSBAS_rough),
// velocity 0.
S16 SV_rough(SV_T sv, S16 wn, S32 tow, POS_T* pos, VEL_T* vel);
// Background refresh, once a second at GPS week wn, time of week tow (s):
// every reference state exactly 13 s old is recomputed at the current second,
// at most 6 times without a precise request in between; then it is dropped.
void SV_update_schedule_computing_time_event(S16 wn, S32 tow);

// Elevation and azimuth of the satellite's rough position seen from rcv
// (ECEF m), enu the rows east, north, up of the receiver's local frame (unit
// vectors in ECEF). Returns 1 and stores them (both validity flags set), 0
// without a rough position.
S16 SV_calc_elevation_azimuth(SV_T sv, const POS_T* rcv, const F32 (*enu)[3]);
// Doppler (Hz, whole, truncated toward zero; positive while the satellite
// approaches) of the rough state seen from a receiver at rest at rcv (ECEF
// m). Returns 1 and stores it, 0 without a rough position.
S16 SV_calc_doppler(SV_T sv, const POS_T* rcv, S32* doppler);
F32 SV_get_elevation(SV_T sv);         // rad; 0 when not computed
F32 SV_get_azimuth(SV_T sv);           // rad, 0..2 pi; 0 when not computed
S16 SV_get_elevation_in_deg(SV_T sv);  // whole degrees (rounded); 0 when not computed
S16 SV_get_azimuth_in_deg(SV_T sv);    // whole degrees (rounded); 0 when not computed
S32 SV_get_doppler(SV_T sv);           // Hz; 0 when not computed
S16 SV_has_valid_azm_elv(SV_T sv);     // 1 when elevation and azimuth were computed
void SV_invalidate_azm_elv(SV_T sv);   // elevation and azimuth to be computed anew

S16 GSV_is_masked(SV_T sv);  // the per-satellite mask flag; 0 for null
void GSV_set_masked(SV_T sv, S16 masked);
void GSV_set_all_sv_unmasked();
