// Almanac store (ALM_): the reduced orbit of every GPS-type satellite (GPS
// 1..32, QZSS 33..37, spare 38), decoded from the almanac pages of subframes
// 4 and 5 (IS-GPS-200 20.3.3.5.1.2, Table 20-VI), seeded from ephemerides,
// or taken at start-up from the stored almanac image (the host's flash.alm)
// and the constant almanac image; and the rough satellite position and
// velocity computed from it (IS-GPS-200 Table 20-IV without the harmonic
// terms), in single precision.
//
// The store lives in the backup region: 38 records of 48 bytes (ALM_S below,
// byte layout fixed), then 38 CRC-16/XMODEM words, one per record (1 900
// bytes). A CRC word of 0 marks a record invalid. The stored and constant
// images handed over at start-up have the same layout. The module keeps a
// working copy of every record and writes each change through to the region.
//
// Weeks: the record's wna is a 10-bit week (full week modulo 1024) except
// when it is at most 255, which is read as an 8-bit week (modulo 256), the
// form the page-25 week takes.
#pragma once

#include "misc/gnss_types.h"

// Validity levels of a record (ALM_S::valid), lowest to best source.
enum : S16 {
  ALM_INVALID = 0,
  ALM_VLAID_FROM_CONST = 1,  // constant almanac shipped with the receiver
  ALM_VLAID_FROM_INPUT = 2,  // loaded from the stored almanac
  ALM_VLAID_FROM_EPH = 3,    // derived from an ephemeris
  ALM_VLAID_FROM_DATA = 4,   // decoded from the broadcast
};

// One almanac record; 48 bytes, this layout.
struct ALM_S {
  F32 A;          // semi-major axis, m
  F32 Omega_0;    // longitude of ascending node at weekly epoch, rad
  F32 omega;      // argument of perigee, rad
  F32 M0;         // mean anomaly at toa, rad
  F32 e;          // eccentricity
  F32 i0;         // inclination, rad (0.3 semicircles included)
  F32 Omega_dot;  // rate of right ascension, rad/s
  F32 af0;        // s
  F32 af1;        // s/s
  S32 toa;        // reference time, s of week
  S16 prn;        // svid 1..38
  S16 wna;        // almanac week: 10 bits, or 8 bits when only the page-25 week is known
  S16 valid;      // validity level ALM_...
  U08 health;     // 8-bit almanac health
  U08 rsvd;
};
using ALM_T = ALM_S*;  // the record of one satellite (a fixed slot for the run)

// Input of ALM_set: an almanac derived from another source (an ephemeris).
struct ALM_IN_T {
  F32 A, Omega_0, omega, M0, e, i0, Omega_dot, af0, af1;  // as in ALM_S
  S32 toa;                                                // s of week
  S16 prn;                                                // svid 1..38
  S16 wna;                                                // week (any width; reduced to 10 bits)
  U08 health;                                             // 8-bit health
};

inline constexpr S16 ALM_MAX_PRN = 38;
inline constexpr S16 ALM_MAX_WEEK_AGE = 30;  // weeks: an older almanac gives no position
inline constexpr S16 ALM_NO_HEALTH = 255;    // ALM_get_health without a valid record

// Lay the store out in region_p (the backup region; the caller owns it for
// the whole run) from offset (bytes): records at offset, CRC words at offset
// + 1 824. Returns the piece's size, 1 900 bytes.
S16 ALM_init_storage_address(U08* region_p, U32 offset);
// Start-up merge. region_p non-null: lay the store out at offset 0 of it;
// null keeps the layout set before. When ENDIAN_need_swap() is set the
// backup records are first converted from the other byte order, and the
// image records are read as written in that order. Then:
// 1. every backup record gets its prn and stays valid only with a non-zero
//    level and a non-zero CRC matching its bytes;
// 2. stored_image (1 900 bytes in the store's layout, null: none): an invalid
//    backup record takes the image record when that is valid (level above 1,
//    CRC non-zero and matching, right prn) and, when any backup record was
//    valid, its week lies within 30 weeks of the latest backup week;
// 3. const_image (same layout, null: none): a record still invalid takes a
//    valid constant record (non-zero level, CRC, right prn) at level 1.
// Both images are read only; the host owns them. Returns 1 900.
S16 ALM_init(U08* region_p, U08* stored_image, const U08* const_image);
// Size of the store, bytes (1 900), its address (in the backup region; null
// and 0 before a layout) into *addr. The host saves the almanac from it.
S32 ALM_get_address(U08** addr);
// Stored records found identical to the stored image at the last ALM_init.
S16 ALM_get_num_same_as_stored_image();

ALM_T ALM_get_reference(S16 prn);   // prn 1..38: the record (a fixed slot); else null
S16 ALM_get_prn(ALM_T alm);         // svid; 0 for null
S16 ALM_get_health(ALM_T alm);      // 8-bit health; 255 for null or an invalid record
S16 ALM_has_valid_data(ALM_T alm);  // the validity level ALM_...; 0 for null
// The record's week (10 or 8 bits as stored) into *wna_p; 1, or 0 for null
// or an invalid record (nothing written).
S16 ALM_get_wna(ALM_T alm, S16* wna_p);
S16 ALM_get_valid_num();  // records with a non-zero level

// An almanac page of subframe 4 or 5 (10 polarity-corrected words, D1 at bit
// 29 .. D24 at bit 6, read during the call) received at full GPS week wn,
// time of week tow (s). The page's SV ID (D3-D8 of word 3) selects the
// record; ids outside 1..38 are refused. Returns 1 when the record was
// decoded (level 4), 0 when it already held this toa at level 4 or the page
// was refused.
S16 ALM_update_datawords(S16 wn, S32 tow, const U32* words);
// Subframe 5 page 25 (10 words as above): toa (D9-D16 of word 3, x 4 096 s)
// and 8-bit WNa (D17-D24). Returns 1 when the toa is new, 0 else (or for a
// page that is not page 25, SV ID 51).
S16 ALM_update_WNa_subframe(const U32* words);
// The page-25 toa (s; -1 before any page) and 8-bit WNa into the pointers
// (either may be null).
void ALM_get_page25(S32* toa_p, S16* wna_p);
// Store an almanac derived from an ephemeris for in->prn (1..38): level 3,
// week reduced to 10 bits, CRC rewritten. Other prns are ignored.
void ALM_set(S16 prn, const ALM_IN_T* in);

// Week difference (weeks) from the record's week to the full week wn: a
// 10-bit week (above 255) is compared modulo 1024 and brought into
// -512..512, an 8-bit week modulo 256 into -128..128. 0 for null.
S32 ALM_week_difference(ALM_T alm, S16 wn);
// Position (ECEF m) and velocity (ECEF m/s) at full GPS week wn, time of
// week tow (s), earth-fixed (mu 3.986005e14 m^3/s^2, earth rotation
// 7.292115e-5 rad/s), in the caller's records (vel may be null). Returns 1;
// 0 (outputs untouched) for a null or invalid record, a week difference of
// more than 30 weeks (a constant record is then cleared), an ephemeris-
// derived record of svid 33..35 more than 7 200 s from toa, or an orbit that
// gives no finite result.
S16 ALM_calc_SV_position(ALM_T alm, S16 wn, S32 tow, POS_T* pos, VEL_T* vel);
// Age check, once when GPS time is first known: every valid record more
// than 30 weeks from full week wn is cleared.
void ALM_check_validity_time(S16 wn);
// All almanacs received at full week wn: every id 1..38 has page-25 health
// 63 (not present) or a valid almanac whose week is within one week of wn
// (|week difference| < 2, folded as ALM_week_difference does). 1/0. The
// caller checks that the week is settled and the health pages are valid.
S16 ALM_check_received_all_almanacs(S16 wn);

// Called with the prn of every record cleared by ALM_clear_one (null: none).
using ALM_CLEAR_HOOK_T = void (*)(S16 prn);
void ALM_install_clear_hook(ALM_CLEAR_HOOK_T hook);
void ALM_clear_one(S16 prn);  // prn 1..38: level 0, CRC 0, then the hook; others ignored
void ALM_clear_all();         // every record as ALM_clear_one

// Shared record helpers (also used by the BeiDou almanac's store).
S16 ALM_get_almanac_structure_size();                // 48
void ALM_set_svid(ALM_T alm, S16 prn);               // prn field only; null ignored
void ALM_set_invalid(ALM_T alm);                     // level 0 (working copy only); null ignored
void ALM_set_contents(ALM_T alm, const ALM_S* src);  // fields of src except prn (working copy only)
// Convert the 48-byte record at rec_p (caller's memory) from the other byte
// order in place, field by field.
void ALM_data_endian_conversion_with_addr_input(U08* rec_p);
