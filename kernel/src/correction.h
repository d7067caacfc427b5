// Propagation and satellite clock corrections (COR_): the broadcast
// ionospheric parameters of subframe 4 page 18 (IS-GPS-200 20.3.3.5.1.7) kept
// in the backup region with a CRC-16, the broadcast (Klobuchar) ionospheric
// model (IS-GPS-200 20.3.3.5.2.5), the tropospheric model, and the satellite
// clock terms of a range: clock polynomial, group delay T_GD and the
// relativistic term.
//
// Backup piece (34 bytes): the 32-byte COR_T record (alpha0..3 F32, then
// beta0..3 S32, in the byte order of the machine that wrote it) followed by
// its CRC-16/XMODEM (U16). A stored CRC of 0 marks the record invalid.
#pragma once

#include <array>

#include "kernel/src/kernel_handles.h"
#include "misc/gnss_types.h"

// Broadcast ionospheric parameters, scaled to SI units.
struct COR_T {
  std::array<F32, 4> a;  // alpha0 s, alpha1 s/semicircle, alpha2 s/semicircle^2, alpha3 s/semicircle^3
  std::array<S32, 4> b;  // beta0 s, beta1 s/semicircle, beta2 s/semicircle^2, beta3 s/semicircle^3
};
static_assert(sizeof(COR_T) == 32, "COR_T is the 32-byte backup record");

// Called with the 32-byte record (read during the call) whenever new
// parameters were stored; size is 32.
using COR_BACKUP_IONO_CALLBACK_T = void (*)(const void* data_p, S16 size);
// Called when the parameters were cleared (COR_clear_all).
using COR_CLEAR_IONO_CALLBACK_T = void (*)();

// Lay the piece out in region_p (the backup region; the caller owns it for the
// whole run) at offset (bytes). Returns the piece's size, 34 bytes.
S16 COR_init_storage_address(U08* region_p, U32 offset);
// Start-up. region_p null: the piece laid out before; non-null: lay it out at
// offset 0 of region_p. When ENDIAN_need_swap() is set the stored record is
// first converted from the other byte order (COR_data_endian_conversion).
// The stored parameters are then valid only when the stored CRC is non-zero
// and equals the CRC of the record. Returns the piece's size, 34 bytes.
S16 COR_init(U08* region_p);
// Subframe 4 page 18: dws_p holds ten polarity-corrected words (D1 at bit
// 29 .. D24 at bit 6; bits 31..30 ignored), read during the call. Any other
// page (the SV ID field D3..D8 of word 3 is not 56) or null is ignored. The
// eight parameters are scaled (alpha0 2^-30, alpha1 2^-27, alpha2 2^-24,
// alpha3 2^-24, beta0 2^11, beta1 2^14, beta2 2^16, beta3 2^16), stored with
// a new CRC and become valid; the backup observer is then called.
void COR_update_ionospheric_parameter(const U32* dws_p);
// Invalidate the parameters, write CRC 0 and call the clear observer.
void COR_clear_all();
// 1 with the held parameters copied to *cor_p when they are valid; 0 with
// nothing written.
S16 COR_get_ionospheric_parameters(COR_T* cor_p);
void COR_install_backup_iono_parameters_callback(COR_BACKUP_IONO_CALLBACK_T func);  // null: none
void COR_install_clear_iono_parameters_callback(COR_CLEAR_IONO_CALLBACK_T func);    // null: none
// Size of the record a backup copy holds: 32 bytes.
S16 COR_get_backup_iono_parameters_size();
// Take the parameters from a 32-byte record in this machine's byte order
// (data_p, read during the call; a copy saved through the backup observer):
// stored with a new CRC and valid. Returns 1; 0 for null.
S16 COR_update_iono_parameters_from_backup_region(const void* data_p);
// Byte-order conversion of a stored record (32 bytes at data_p) and its CRC
// (*crc_p), both in place: the CRC word and the eight values are reversed.
// When the reversed CRC equals the CRC of the data before the conversion (the
// record was valid in the other order) it becomes the CRC of the converted
// data; when it equals the CRC of the converted data (the record was already
// in this order and is now garbled) it becomes 0 (invalid); else it is kept.
void COR_data_endian_conversion(void* data_p, U16* crc_p);

// Broadcast ionospheric delay on L1, metres (single precision; 299 792 448
// m/s as light speed), at time of day tod (s, 0..86 399 expected), elevation
// and azimuth (rad) of the satellite seen from lla_p (latitude and longitude
// rad; read during the call). 0 without valid parameters, when
// |elevation| > pi/2 or |azimuth| > 2 pi, or for a non-finite input.
F32 COR_ionospheric_model(S32 tod, F32 elevation, F32 azimuth, const LLA_T* lla_p);
// Tropospheric delay, metres: 2.47 exp(-0.000133 altitude) / (sin(elevation)
// + 0.0121); elevation rad, altitude m above the ellipsoid. 0 when the
// result is not finite.
F32 COR_tropospheric_model(F32 elevation, F32 altitude);
// Group delay T_GD (s) of a GPS-type satellite from its ephemeris; 0 for other
// types, a satellite without ephemeris or null.
F32 COR_group_delay(SV_T sv);
// Relativistic clock term, s: -2 (r . v) / c^2 = -2.2253001e-17 (r . v) with the
// satellite's ECEF position (m, rounded to single precision) and velocity
// (m/s). Both read during the call.
F32 COR_relativistic_effect(const POS_T* sv_pos_p, const VEL_T* sv_vel_p);
// Satellite clock polynomial at GPS week wn, time of week t (s): offset
// *dt_poly_p (s) and drift *ddt_poly_p (s/s). 1 on success; 0 with both zero
// for a satellite that is not GPS-type, has no ephemeris, or whose ephemeris
// does not cover t.
S16 COR_clock_correction_polynomials(SV_T sv, S16 wn, D64 t, F32* dt_poly_p, F32* ddt_poly_p);
// Estimated range error of a satellite, m: always 0 (no differential
// corrections are applied).
F32 COR_erd(SV_T sv);
