// Receiver state kept in backup memory for a fast restart: two redundant
// sectors holding the last position, clock drift and GPS time against the
// RTC, and a clock record with a reliable clock offset. Every record carries a
// CRC-16 (a stored CRC of 0 marks a record invalid).
//
// The piece is laid out by offset from the start of the backup region, so the
// layout does not depend on where the region sits in memory.
#pragma once

#include "misc/gnss_types.h"

inline constexpr U32 BACKUP_DATA_SIZE = 48;     // one BACKUP_DATA_T, bytes
inline constexpr U32 BACKUP_SECTOR_SIZE = 50;   // record and its CRC
inline constexpr U32 CLOCK_RECORD_SIZE = 8;     // CLOCK_RECORD_T, bytes
inline constexpr U32 KBACKUP_PIECE_SIZE = 128;  // from an 8-byte aligned start

// Receiver state as handed to the kernel start.
struct KBACKUP_T {
  LLA_T lla;                    // rad, rad, m
  F32 cdrift;                   // receiver clock drift, m/s
  D64 last_stored_D64_gps_tow;  // s
  S16 last_stored_gps_wn;
  S16 last_stored_rtc_wn;
  S32 last_stored_rtc_sec;
  S16 last_stored_rtc_subsec;
  S16 rtc_gps_ss_dif;
  D64 rtc_gps_ratio;
  U32 rtc_gps_ratio_quality;
};

// Round an offset up to a multiple of 8.
constexpr U32 KBACKUP_align8(U32 offset) { return (offset + 7u) & ~7u; }

// Lay the piece out in region_p from init_offset (rounded up to 8). Returns its size.
S16 KBACKUP_init_storage_address(U08* region_p, U32 init_offset);
// Lay out at offset 0 of region_p when it is non-null; then convert the byte
// order of both sectors and the clock record when the swap flag is set.
// Returns the offset just past the piece, rounded up to 8.
U32 KBACKUP_init(U08* region_p);
// Once a second: store the receiver state and the clock record when the fix
// allows. 1 when a time-and-position backup was due this second.
S16 KBACKUP_process(U16 subsec);
S16 KBACKUP_get_receiver_states(KBACKUP_T* data_p);
S16 KBACKUP_get_clock_offset(S32* clock_offset_p);  // Hz
S16 KBACKUP_set_clock_offset(S32 clock_offset);     // Hz, marks the record valid
void KBACKUP_clear_data();

// The stores of KBACKUP_process, with their inputs given directly.
struct KBACKUP_STATE_IN_T {
  LLA_T lla;    // rad, rad, m
  F32 cdrift;   // m/s
  D64 gps_tow;  // s
  S16 gps_wn;
  S16 rtc_wn;
  S32 rtc_sec;
  S16 rtc_subsec;
  S16 rtc_gps_ss_dif;
  D64 rtc_gps_ratio;
  U32 rtc_gps_ratio_quality;
};
void KBACKUP_store_time_and_position(const KBACKUP_STATE_IN_T* in);
void KBACKUP_store_position_only(const LLA_T* lla);
void KBACKUP_store_clock_drift(F32 cdrift);  // m/s -> reliable clock offset in Hz at L1
