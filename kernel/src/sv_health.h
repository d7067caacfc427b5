// Satellite health (SVH_): the 6-bit health of every GPS-type satellite from
// the two page-25 pages (IS-GPS-200 20.3.3.5.1.3): subframe 5 page 25 carries
// svid 1..24, subframe 4 page 25 svid 25..32; svid 33..38 are carried by
// neither and keep their stored value. Kept in the backup region: health
// U08[38], sf4_valid S16, sf5_valid S16 (the 42-byte packed form), then a
// CRC-16/XMODEM word over those 42 bytes.
#pragma once

#include "misc/gnss_types.h"

// The packed backup form, 42 bytes, this layout.
struct SVH_PACKED_DATA_T {
  U08 health[38];  // 6-bit health of svid 1..38 (63: not present)
  S16 sf4_valid;   // 1: subframe 4 page 25 received
  S16 sf5_valid;   // 1: subframe 5 page 25 received
};

inline constexpr S16 SVH_NOT_PRESENT = 63;  // health of a satellite that is not in the constellation

// Lay the piece out in region_p (the backup region; the caller owns it for
// the run) at offset (bytes). Returns the piece's size, 44 bytes.
S16 SVH_init_storage_address(U08* region_p, U32 offset);
// Start of run. region_p non-null: lay out at offset 0 of it; null keeps the
// layout set before. When ENDIAN_need_swap() is set the piece is first
// converted from the other byte order. A zero or mismatching CRC clears both
// valid flags and sets every health to 63 (nothing known).
void SVH_init(U08* region_p);
// Page 25 of subframe sfid (4: SV ID 63, or 5: SV ID 51), 10 polarity-
// corrected words (D1 at bit 29 .. D24 at bit 6) read during the call; other
// subframes or SV IDs are ignored. Stores the health and the page's valid
// flag and rewrites the CRC.
void SVH_update_datawords(S16 sfid, const U32* words);
S16 SVH_get_health(S16 prn);  // 6-bit health of prn 1..38; 63 for any other id
S16 SVH_has_valid_data();     // 1 when both pages were received
S16 SVH_get_backup_size();    // 42: the packed form
// Take the 42-byte packed form at packed_p (caller's, read during the call)
// and rewrite the CRC. Null ignored.
void SVH_update_from_packed_backup_region(const void* packed_p);
