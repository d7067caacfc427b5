// Layout of the kernel's backup memory region.
//
// The region is one image (the host program keeps it as a 20 480-byte array
// and saves and loads it whole; the target keeps the same image in
// battery-backed RAM and dumps it to its SD card). Each module owns one piece,
// in this fixed order, every piece starting at an offset rounded up to a
// multiple of 8 from the start of the region:
//
//   module  offset  size  content
//   KBACKUP      0   128  two receiver-state sectors and the clock record
//   COR        128    34  broadcast ionospheric parameters
//   UTC        168    50  UTC parameters
//   ALM        224  1900  almanac store
//   EPH       2128  4940  ephemeris store
//   SVH       7072    44  satellite health
//   KWAAS     7120  1480  SBAS GEO records and SBAS correction records
//   end       8600
//
// These offsets are part of the image format: images written by the target
// and by earlier runs are read with them, so they never change. Offsets
// are counted from the start of the region, not from a memory address, so
// the layout does not depend on where the host's buffer lies.
#pragma once

#include <array>

#include "misc/gnss_types.h"

// Sizes of the record kinds kept in the region, and how each piece's size
// follows from them. Every backup record is followed by its CRC-16 word (U16).
inline constexpr U32 BACKUP_CRC_SIZE = 2;

// KBACKUP: two sectors of BACKUP_DATA_T (48 bytes) + CRC, each 50 bytes, at
// offsets 0 and 56; the clock record (8 bytes) at 112 and its CRC at 120;
// rounded up to 8: 128.
inline constexpr U32 KBACKUP_BACKUP_SIZE = 128;

// COR: COR_T = alpha0..3 (F32 x 4, 16 bytes) + beta0..3 (S32 x 4, 16 bytes) =
// 32 bytes, + CRC = 34.
inline constexpr U32 COR_RECORD_SIZE = 4 * 4 + 4 * 4;
inline constexpr U32 COR_BACKUP_SIZE = COR_RECORD_SIZE + BACKUP_CRC_SIZE;

// UTC: UTC_PARAMETER record of 48 bytes + CRC = 50.
inline constexpr U32 UTC_RECORD_SIZE = 48;
inline constexpr U32 UTC_BACKUP_SIZE = UTC_RECORD_SIZE + BACKUP_CRC_SIZE;

// ALM: 38 ALM_T records (svid 1..38, 48 bytes each) = 1824 bytes, then one
// CRC word per record (76 bytes, from offset 1824 of the piece) = 1900.
inline constexpr U32 ALM_N_RECORDS = 38;
inline constexpr U32 ALM_RECORD_SIZE = 48;
inline constexpr U32 ALM_BACKUP_SIZE = ALM_N_RECORDS * ALM_RECORD_SIZE + ALM_N_RECORDS * BACKUP_CRC_SIZE;

// EPH: 38 EPH_T records (svid 1..38, 128 bytes each) = 4864 bytes, then one
// CRC word per record (76 bytes, from offset 4864 of the piece) = 4940.
inline constexpr U32 EPH_N_RECORDS = 38;
inline constexpr U32 EPH_RECORD_SIZE = 128;
inline constexpr U32 EPH_BACKUP_SIZE = EPH_N_RECORDS * EPH_RECORD_SIZE + EPH_N_RECORDS * BACKUP_CRC_SIZE;

// SVH: health U08[38] (svid 1..38) + sf4_valid S16 + sf5_valid S16 = 42 bytes
// (the packed form), + CRC over those 42 = 44.
inline constexpr U32 SVH_PACKED_SIZE = 38 + 2 + 2;
inline constexpr U32 SVH_BACKUP_SIZE = SVH_PACKED_SIZE + BACKUP_CRC_SIZE;

// KWAAS: three SBAS_GEO_T slots (112 bytes each, 336) + three CRC words = 342;
// then, from the next 4-byte boundary, the correction region: 81
// BACKUP_IGP_GRID_T records (12 bytes each, 972) + 81 CRC words (162) = 1134;
// the total is measured to the 4-byte boundary after it. From an 8-aligned
// start: 342 -> 344, 344 + 1134 = 1478 -> 1480.
inline constexpr U32 KWAAS_GEO_SLOTS = 3;
inline constexpr U32 KWAAS_GEO_RECORD_SIZE = 112;
inline constexpr U32 KWAAS_GEO_SIZE = KWAAS_GEO_SLOTS * KWAAS_GEO_RECORD_SIZE + KWAAS_GEO_SLOTS * BACKUP_CRC_SIZE;
inline constexpr U32 KWAAS_IGP_RECORDS = 81;
inline constexpr U32 KWAAS_IGP_RECORD_SIZE = 12;
inline constexpr U32 KWAAS_CORR_SIZE = KWAAS_IGP_RECORDS * KWAAS_IGP_RECORD_SIZE + KWAAS_IGP_RECORDS * BACKUP_CRC_SIZE;
constexpr U32 BACKUP_align4(U32 offset) { return (offset + 3u) & ~3u; }
inline constexpr U32 KWAAS_BACKUP_SIZE = BACKUP_align4(BACKUP_align4(KWAAS_GEO_SIZE) + KWAAS_CORR_SIZE);

// The pieces in layout order.
enum : int {
  BACKUP_PIECE_KBACKUP = 0,
  BACKUP_PIECE_COR = 1,
  BACKUP_PIECE_UTC = 2,
  BACKUP_PIECE_ALM = 3,
  BACKUP_PIECE_EPH = 4,
  BACKUP_PIECE_SVH = 5,
  BACKUP_PIECE_KWAAS = 6,
  BACKUP_N_PIECES = 7,
};
inline constexpr std::array<U32, BACKUP_N_PIECES> BACKUP_PIECE_SIZES = {
    KBACKUP_BACKUP_SIZE, COR_BACKUP_SIZE, UTC_BACKUP_SIZE,  ALM_BACKUP_SIZE,
    EPH_BACKUP_SIZE,     SVH_BACKUP_SIZE, KWAAS_BACKUP_SIZE};

constexpr U32 BACKUP_align8(U32 offset) { return (offset + 7u) & ~7u; }

// Offset of each piece and the end of the last one.
struct BACKUP_LAYOUT_T {
  std::array<U32, BACKUP_N_PIECES> offset;
  U32 total;  // bytes from the region start to the end of the last piece
};
constexpr BACKUP_LAYOUT_T BACKUP_compute_layout() {
  BACKUP_LAYOUT_T l{};
  U32 at = 0;
  for (std::size_t i = 0; i < BACKUP_PIECE_SIZES.size(); ++i) {
    l.offset[i] = BACKUP_align8(at);
    at = l.offset[i] + BACKUP_PIECE_SIZES[i];
  }
  l.total = at;
  return l;
}
inline constexpr BACKUP_LAYOUT_T BACKUP_LAYOUT = BACKUP_compute_layout();

static_assert(COR_BACKUP_SIZE == 34 && UTC_BACKUP_SIZE == 50 && ALM_BACKUP_SIZE == 1900 && EPH_BACKUP_SIZE == 4940 &&
              SVH_BACKUP_SIZE == 44 && KWAAS_BACKUP_SIZE == 1480);
static_assert(BACKUP_LAYOUT.offset[BACKUP_PIECE_KWAAS] == 7120 && BACKUP_LAYOUT.total == 8600);
