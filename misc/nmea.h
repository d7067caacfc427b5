// NMEA 0183 sentence builders (NMEA_): one epoch's receiver state, collected
// by the kernel interface into an NMEA_DATA_T, formatted as GGA, GSA, GSV,
// RMC, VTG (the block the host prints) and GNS, GLL, ZDA and the GLONASS,
// combined-system and BeiDou GSA / GSV sentences.
//
// Every builder writes one complete sentence "$<body>*<XX>\r\n" (XX the
// XOR of every character between '$' and '*', two upper-case hex digits)
// into the caller's buffer of NMEA_BUF_SIZE (256) bytes, terminates it with a
// NUL and returns its length in characters (without the NUL). It never
// writes past the 256 bytes: a body that would not fit is cut (at 250
// characters) and still gets its checksum, CR LF and NUL. The record and the
// satellite lists are the caller's and only read during the call, except
// that NMEA_gsv / NMEA_gsv_glonass / NMEA_BD_gsv sort the caller's list on
// the first sentence of a block.
//
// Any record is safe: counts below 0 count as 0, above 20 as 20; a fix mode
// outside FIX_NONE .. FIX_DIFF counts as FIX_NONE; non-finite numbers print
// as printf prints them ("nan", "inf").
#pragma once

#include <array>

#include "misc/gnss_types.h"

inline constexpr int NMEA_BUF_SIZE = 256;   // bytes of every sentence buffer
inline constexpr int NMEA_MAX_SV = 20;      // satellites in view / used per system and epoch
inline constexpr int NMEA_GSA_FIELDS = 12;  // satellite fields of a GSA sentence
inline constexpr int NMEA_SV_PER_GSV = 4;   // satellites per GSV sentence

// One epoch of the receiver, as the sentences need it.
struct NMEA_DATA_T {
  S16 is_east, is_north;                     // 1 when longitude / latitude >= 0
  S16 lat_d, lon_d;                          // whole degrees of |latitude|, |longitude|
  F32 lat_m, lon_m;                          // minutes: the fractional part of those degrees x 60
  F32 alt;                                   // height above the WGS-84 ellipsoid (or the datum's), m
  F32 course;                                // course over ground, degrees from true north
  F32 speed;                                 // speed over ground, knots
  U08 day, month;                            // UTC date: 1..31, 1..12
  U16 year;                                  // UTC year, e.g. 2026
  U08 hour, minute;                          // UTC time of day
  F32 sec;                                   // UTC seconds of the minute, whole milliseconds (0 .. below 61)
  S16 fix_mode;                              // FIX_NONE .. FIX_DIFF
  S16 nsv_used_gps;                          // GPS-type (GPS, QZSS, SBAS) satellites used in the fix
  std::array<S16, NMEA_MAX_SV> id_nums_gps;  // their NMEA ids (first nsv_used_gps entries)
  S16 nsv_used_glonass;                      // GLONASS satellites used (0 in this receiver)
  std::array<S16, NMEA_MAX_SV> id_nums_glonass;
  S16 nsv_used_beidou2;  // BeiDou satellites used (0 in this receiver)
  std::array<S16, NMEA_MAX_SV> id_nums_beidou2;
  S16 geoid;                         // geoid height above the ellipsoid, 0.1 m
  F32 pdop, hdop, vdop, gdop, tdop;  // dilutions of precision, each at most 99.9
  S16 is_INS;                        // 1: position from inertial dead reckoning (never: 0)
  S16 dgps_stid;                     // differential reference station id (0)
  F32 dgps_age;                      // age of differential data, s (unused: the GGA field stays empty)
  D64 lat_deg, lon_deg;              // the position, degrees (north, east positive)
  U16 wn;                            // GPS week of the epoch (full week)
  D64 tow;                           // GPS time of week of the epoch after the UTC module's shift, s
  POS_T pos;                         // ECEF position, m
  VEL_T vel;                         // ECEF velocity, m/s
  S16 time_valid;                    // 1: GPS time known from the satellites; 0: counted on from start
};

// One satellite in view (GPS-type or BeiDou).
struct NMEA_SV_T {
  S16 prn;  // NMEA id: GPS 1..32, SBAS 33..52 (kernel id - 87), QZSS 193..197
  S16 elv;  // elevation, degrees (0..90; never below 0)
  S16 azm;  // azimuth, degrees from true north (0..359)
  S16 cn0;  // C/N0, dB-Hz; -1 when no channel tracks the satellite (empty field)
};

// One GLONASS satellite in view.
struct NMEA_SV_GLONASS_T {
  S16 prn;    // NMEA id 65..96 (slot number + 64)
  S16 k_num;  // frequency channel number -7..6
  S16 elv;    // degrees
  S16 azm;    // degrees
  S16 cn0;    // dB-Hz; -1 when not tracked
};

// GGA quality digit by fix mode (FIX_NONE .. FIX_DIFF); a prediction prints '6'.
inline constexpr std::array<U08, 5> Nmea_qi = {0, 1, 1, 1, 2};
// Mode indicator of RMC, VTG, GLL and GNS by fix mode: N no fix, E estimated
// (prediction), A autonomous, D differential.
inline constexpr std::array<S08, 5> Nmea_mi = {'N', 'E', 'A', 'A', 'D'};

// XOR of every character of the NUL-terminated string str (the sentence
// after its '$', up to but not including a '*' is what the builders pass).
U08 cal_checksum(const char* str);

// The position part of the record from latitude and longitude in degrees
// (north and east positive): hemisphere flags, whole degrees and minutes of
// the absolute values, and lat_deg / lon_deg. Non-finite degrees give 0.
void NMEA_set_position(NMEA_DATA_T* data_p, D64 lat_deg, D64 lon_deg);

// $GPGGA: UTC time, position, quality, satellites used (GPS + GLONASS), HDOP,
// height above mean sea level (alt - geoid, 0 when negative), geoid height,
// empty age of differential data, station id. Returns the length.
S16 NMEA_gga(U08* buf_p, const NMEA_DATA_T* data_p);
// $GPGSA: mode A, fix type 1/2/3, 12 satellite fields (the first
// nsv_used_gps ids, at most 12; the rest empty), PDOP, HDOP, VDOP.
S16 NMEA_gsa(U08* buf_p, const NMEA_DATA_T* data_p);
// $GPGSV sentence number `sentence` (1-based) of the block describing the
// nview satellites of sv (the caller's array of at least nview entries;
// nview is clamped to 0..20). Sentence 1 first sorts sv by elevation,
// highest first, keeping the order of equal elevations (stable). Returns 0
// with an empty string when nview is 0 or `sentence` is outside
// 1 .. (nview + 3) / 4.
S16 NMEA_gsv(U08* buf_p, S32 nview, S32 sentence, NMEA_SV_T* sv);
// $GPRMC: UTC time, status A/V, position, speed (knots), course (degrees),
// date, empty magnetic variation, mode indicator.
S16 NMEA_rmc(U08* buf_p, const NMEA_DATA_T* data_p);
// $GPVTG: course true, speed in knots and in km/h, mode indicator.
S16 NMEA_vtg(U08* buf_p, const NMEA_DATA_T* data_p);

// $GNGNS: UTC time, position, mode indicators of GPS and GLONASS, satellites
// used (both systems), HDOP, height above mean sea level, geoid height,
// empty age and station id.
S16 NMEA_gns(U08* buf_p, const NMEA_DATA_T* data_p);
// $GPGLL: position, UTC time, status A/V, mode indicator.
S16 NMEA_gll(U08* buf_p, const NMEA_DATA_T* data_p);
// $GPZDA: UTC time, day, month, four-digit year, local zone 00 00.
S16 NMEA_zda(U08* buf_p, const NMEA_DATA_T* data_p);
// $GLGSA: as GSA with the GLONASS satellites used.
S16 NMEA_gsa_glonass(U08* buf_p, const NMEA_DATA_T* data_p);
// $GNGSA of one system of a multi-system fix: gnss_type GNSS_TYPE_GPS lists
// the GPS-type satellites used, GNSS_TYPE_GLONASS the GLONASS ones (any
// other type lists none); the fix type counts the satellites of both.
S16 NMEA_gsa_combined_system(U08* buf_p, const NMEA_DATA_T* data_p, U16 gnss_type);
// $GLGSV: as GSV for GLONASS satellites in view.
S16 NMEA_gsv_glonass(U08* buf_p, S32 nview, S32 sentence, NMEA_SV_GLONASS_T* sv);
// $BDGSA: as GSA with the BeiDou satellites used.
S16 NMEA_BD_gsa(U08* buf_p, const NMEA_DATA_T* data_p);
// $BDGSV: as GSV for BeiDou satellites in view.
S16 NMEA_BD_gsv(U08* buf_p, S32 nview, S32 sentence, NMEA_SV_T* sv);
