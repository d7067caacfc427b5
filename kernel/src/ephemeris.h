// Ephemeris store (EPH_): the broadcast ephemeris of every GPS-type satellite
// (GPS 1..32, QZSS 33..37, spare record 38), decoded from subframes 1..3
// (IS-GPS-200 layout and scale factors), confirmed by a second identical
// decode, and the satellite position, velocity, acceleration and clock
// correction computed from it by the IS-GPS-200 user algorithm.
//
// The store lives in the backup region: 38 records of 128 bytes (EPH_S below,
// byte layout fixed) followed by 38 CRC-16/XMODEM words, one per record, each
// rewritten whenever its record changes (a stored CRC of 0 marks a record
// invalid). The module keeps a working copy of every record in its static
// storage and writes each change through to the region.
#pragma once

#include "kernel/src/kernel_handles.h"
#include "misc/gnss_types.h"

// One ephemeris record; angles in rad, times in s. 128 bytes, this layout.
struct EPH_S {
  D64 M0;                 // mean anomaly at toe, rad
  D64 e;                  // eccentricity
  D64 A;                  // semi-major axis, m (the square of the broadcast sqrt(A))
  D64 Omega_0;            // longitude of ascending node at weekly epoch, rad
  D64 i0;                 // inclination at toe, rad
  D64 omega;              // argument of perigee, rad
  D64 Omega_dot;          // rate of right ascension, rad/s
  S16 prn;                // svid 1..38
  S16 IODC;               // 10 bits
  S16 IODE;               // 8 bits
  S16 WN;                 // week of toe, modulo 1024
  S08 valid;              // 1: the record holds an ephemeris
  S08 data_source;        // 0 broadcast, 1 aiding source, 2 broadcast received while an aiding record was valid
  U16 AODO;               // age of data offset, s
  F32 Crs;                // m
  F32 Cuc;                // rad
  F32 Cus;                // rad
  F32 Cic;                // rad
  F32 Cis;                // rad
  F32 Crc;                // m
  F32 delta_n;            // mean motion difference, rad/s
  F32 IDOT;               // inclination rate, rad/s
  F32 TGD;                // group delay, s
  F32 af0;                // s
  F32 af1;                // s/s
  F32 af2;                // s/s^2
  S32 toc;                // clock reference time, s of week
  S32 toe;                // ephemeris reference time, s of week
  U08 URA;                // URA index, 4 bits
  U08 health;             // 6-bit SV health
  S08 valid_check;        // 1: confirmed by an identical second decode
  S08 valid_check_count;  // same-IODE decodes that differed from the record
};

// Earth-fixed ECEF state of a satellite.
struct EPH_POS_T {
  D64 px, py, pz;  // m
};
struct EPH_VEL_T {
  F32 vx, vy, vz;  // m/s
};
struct EPH_ACC_T {
  F32 ax, ay, az;  // m/s^2
};

inline constexpr S16 EPH_MAX_PRN = 38;                   // records for svid 1..38
inline constexpr D64 EPH_GPS_MU = 3.986005e14;           // WGS-84 gravitational constant, m^3/s^2
inline constexpr D64 EPH_GPS_OMEGA_E = 7.2921151467e-5;  // WGS-84 earth rotation rate, rad/s
inline constexpr S16 EPH_URA_NO_PREDICTION = 15;         // URA index: no accuracy prediction

// Lay the store out in region_p (the backup region; the caller owns it for
// the whole run) from offset (bytes). Records start at offset, CRC words at
// offset + 4864. Returns the piece's size, 4940 bytes.
S16 EPH_init_storage_address(U08* region_p, U32 offset);
// Start-up: with region_p non-null, lay the store out at offset 0 of it;
// null keeps the layout set before. When ENDIAN_need_swap() is set, every
// record is first converted from the other byte order. Then every record gets
// its prn, and a record stays valid only when valid is 1, its CRC word is
// non-zero and matches its bytes, and data_source is not 1. Returns 4940.
S16 EPH_init(U08* region_p);
// Invalidate every record (valid 0, CRC 0).
void EPH_clear_all();
// Invalidate the record of prn 1..38 (others ignored).
void EPH_clear_one(S16 prn);
// The record of prn 1..38 (a fixed slot for the run), else null.
EPH_T EPH_get_reference(S16 prn);
S16 EPH_get_prn(EPH_T eph);  // svid, 0 for null
S16 EPH_get_wn(EPH_T eph);   // week of toe modulo 1024, 0 for null
S32 EPH_get_toe(EPH_T eph);  // s of week, 0 for null
// Where a satellite's ephemeris came from: 0 broadcast, 1 aiding, 2 broadcast
// received while an aiding record was valid. prn 1..38 (0 for others).
S16 EPH_get_data_source(S16 prn);
void EPH_set_data_source(S16 prn, S16 source);
S16 EPH_has_valid_data(EPH_T eph);    // 1 when the record holds an ephemeris; 0 for null
S16 EPH_pass_valid_check(EPH_T eph);  // 1 when a valid record is confirmed by a second decode; 0 else
S16 EPH_get_health(EPH_T eph);        // 6-bit health; 63 without a valid record
S16 EPH_get_iode(EPH_T eph);          // IODE; -1 without a valid record
S16 EPH_get_URA(S16 prn);             // URA index 0..15; -1 without a valid record
F32 EPH_get_TGD(EPH_T eph);           // T_GD, s; 0 without a valid record
// 1 when the satellite may be used for ranging as far as its ephemeris goes:
// a valid record whose URA index is not 15 ("no accuracy prediction"); 0 else.
S16 EPH_is_usable_for_ranging(EPH_T eph);
// 1 when the record is invalid or |t - toe| > 7200 s at week wn, tow (s).
S16 EPH_is_overdue(EPH_T eph, S16 wn, S32 tow);
// 1 when the record is valid and all six harmonic terms are exactly zero.
S16 EPH_if_SG_signal(S16 prn);

// Subframes 1..3 of the record's satellite: words[k] holds subframe k+1, ten
// polarity-corrected words (D1 at bit 29 .. D24 at bit 6), read during the
// call. Decodes at once when the record is invalid or the IODE is new; with
// the same IODE an identical decode confirms the record and a differing one
// replaces it only at the second such mismatch. Returns 1 when the record
// was (re)decoded, 0 when it was kept. Null eph or words: 0.
S16 EPH_update_datawords(EPH_T eph, const U32 (*words)[10]);

// Time (s) from (ref_wn, ref_tow) to (wn, tow); weeks compared modulo 1024
// and the difference brought into -512..512 weeks.
S32 EPH_calculate_tk_integer(S16 ref_wn, S32 ref_tow, S16 wn, S32 tow);
D64 EPH_calculate_tk_double(S16 ref_wn, D64 ref_tow, S16 wn, D64 tow);

// Satellite position (ECEF m), velocity (m/s) and acceleration (m/s^2) at
// GPS week wn, time of week t (s), earth-fixed, with mu = 3.986005e14 m^3/s^2
// and earth rotation 7.2921151467e-5 rad/s. Any of pos, vel, acc may be null
// (caller's records). Returns 1 on success; 0 (outputs untouched) for a null
// or invalid record, a time outside the validity window (broadcast: 10800 s
// before to 7200 s after toe; aiding: 7380 s either side), A <= 0, e outside
// [0, 1), or any non-finite field or result.
S16 EPH_calc_SV_position(EPH_T eph, S16 wn, D64 t, EPH_POS_T* pos, EPH_VEL_T* vel, EPH_ACC_T* acc);
// The same with caller-given constants: refsys_type 0 earth-fixed, other
// values inertial node rate (Omega_dot alone); mu m^3/s^2, omega_e_dot rad/s.
S16 EPH_calc_SV_position_with_parameters(EPH_T eph, S16 wn, D64 t, U16 refsys_type, D64 mu, D64 omega_e_dot,
                                         EPH_POS_T* pos, EPH_VEL_T* vel, EPH_ACC_T* acc);
// Satellite clock polynomial at week wn, time t (s): *dtsv = af0 + af1 tk +
// af2 tk^2 (s), *ddtsv = af1 + 2 af2 tk (s/s), tk from (WN, toc). Returns 1;
// 0 (outputs untouched) for a null or invalid record, a time outside the
// window (broadcast: 10800 s before to 7380 s after toc; aiding: 7380 s either
// side) or a non-finite result. dtsv and ddtsv may be null.
S16 EPH_get_delta_tsv(EPH_T eph, S16 wn, D64 t, F32* dtsv, F32* ddtsv);
// Full clock correction of the satellite at week wn, time t (s): the clock
// polynomial plus the relativistic term F e sqrt(A) sin E (F = -4.442807633e-10
// s/m^1/2), without T_GD (*dt_s, s) and with the L1 group delay subtracted
// (*dt_l1_s = *dt_s - T_GD, s). Either output may be null. 1 on success; 0
// under the same rules as EPH_get_delta_tsv and EPH_calc_SV_position.
S16 EPH_get_clock_correction(EPH_T eph, S16 wn, D64 t, D64* dt_s, D64* dt_l1_s);
