// SBAS GEO navigation (type 9 messages into GEO orbit records, kept in three
// backup slots) and the SBAS/QZSS settings with their once-a-second reports.
//
// GEO records are kept per SBAS prn 120..138 (19 records). A type 9 message
// (RTCA DO-229) received once GPS time is confirmed updates the record of its
// prn and one of the three backup slots of the KWAAS piece of the backup
// region. Records give the GEO position and velocity (ECEF, quadratic
// propagation from the reference time t0) while the message is fresh.
#pragma once

#include "kernel/src/kernel_types.h"
#include "misc/gnss_types.h"

inline constexpr S16 SBAS_GEO_FIRST_PRN = 120;
inline constexpr S16 SBAS_GEO_LAST_PRN = 138;
inline constexpr S16 SBAS_GEO_N_PRN = SBAS_GEO_LAST_PRN - SBAS_GEO_FIRST_PRN + 1;  // 19

// The GEO orbit record, 112 bytes; its byte image is the backup slot format.
struct SBAS_GEO_T {
  D64 XG;        // m, ECEF
  D64 YG;        // m
  D64 ZG;        // m
  D64 VXG;       // m/s
  D64 VYG;       // m/s
  D64 VZG;       // m/s
  D64 AXG;       // m/s^2
  D64 AYG;       // m/s^2
  D64 AZG;       // m/s^2
  D64 aGf0;      // s
  D64 aGf1;      // s/s
  S16 URA;       // accuracy index (4 bits)
  S16 prn;       // 120..138
  S16 is_valid;  // 1: the record holds a message
  S16 IOD;       // issue of data (8 bits)
  S32 t0;        // reference time of day, s (0..86 384)
  S32 TOW_SBAS;  // GPS time of week when the message was received, s
  S16 WN_SBAS;   // GPS week when received
};

// ---------------------------------------------------------------------------
// SBAS settings and reports (KWAAS_)
// ---------------------------------------------------------------------------
// Lays out the SBAS piece at byte offset `offset` of the backup region
// region_p (owned by the caller, kept by this module): the three GEO slots
// with their CRC words (342 bytes), then the correction records from the next
// 4-byte boundary. Returns the piece's size in bytes (KWAAS_BACKUP_SIZE).
S16 KWAAS_init_storage_address(U08* region_p, U32 offset);
// Stores the settings (read at once), starts the SBAS symbol collectors,
// restores the GEO records from the backup slots and the correction records
// (kept only when hot_start_dt, the lapse since the last run in s, is -1 =
// unknown or below 301 s), then applies the settings to the search.
void KWAAS_init(const SBAS_PARAMETER_T* para, S32 hot_start_dt);
void KWAAS_clear_all_geo_parameters();  // SBAS_GEO_clear_all
// Once a second: SBAS status to the navigation (2 when SBAS is enabled and a
// fast, long-term, ionospheric or integrity message has been seen, 0 when
// enabled without them; nothing when disabled) and the SBAS limit.
void KWAAS_second_tick_process();
void KWAAS_set_sbas_para(const SBAS_PARAMETER_T* para);  // new settings, read at once and applied
S16 KWAAS_is_enabled();                                  // sbas_enable_disable of the settings in force
void KWAAS_get_sbas_para(SBAS_PARAMETER_T* para);        // copies the settings in force into *para (caller's)
// The SBAS status last sent by KWAAS_second_tick_process: 0 or 2; -1 before
// any report (or while SBAS is disabled).
S16 KWAAS_get_last_status();

// ---------------------------------------------------------------------------
// QZSS settings (KQZSS_)
// ---------------------------------------------------------------------------
void KQZSS_init(const QZSS_PARAMETER_T* para);           // stores both values, enables the QZSS search
void KQZSS_set_qzss_para(const QZSS_PARAMETER_T* para);  // likewise, at any time
void KQZSS_second_tick_process();                        // once a second: the QZSS limit to the navigation
S16 KQZSS_is_enabled();                                  // qzss_enable_disable in force
void KQZSS_get_qzss_para(QZSS_PARAMETER_T* para);        // copies the settings in force into *para (caller's)

// ---------------------------------------------------------------------------
// GEO records (SBAS_GEO_)
// ---------------------------------------------------------------------------
// One SBAS message of prn (words at block: 250 bits, bit 0 = preamble MSB in
// the most significant bit of block[0]; 8 words read) received at GPS week wn
// and time of week tow (s, whole). Type 9 messages of prn 120..138 whose t0
// lies within 512 s of the time of day are stored. Returns 1 for a type 9
// message that was decoded and stored, 0 otherwise. A prn outside 120..138 is
// dropped and counted (SBAS_GEO_get_bad_prn_count).
S16 SBAS_GEO_update_messages(S16 wn, S32 tow, S16 prn, const U32* block, S16 msg_type);
// Ranging settings: flag 0 disables SBAS ranging; records with URA >= ura_mask are refused.
void SBAS_GEO_set_ranging_flag(S16 flag, S16 ura_mask);
// Position (m, ECEF) and velocity (m/s) of prn at GPS week wn, time of week
// tow (s). Returns 1 when computed; 0 (outputs untouched) without a valid
// record, with ranging disabled, URA at or above the mask, a record more than
// 1 024 s old or a time more than 512 s from t0. vel_p may be null.
S16 SBAS_GEO_cal_sv_position(S16 prn, S16 wn, S32 tow, POS_T* pos_p, VEL_T* vel_p);
// (XG, YG, ZG) of any valid record of prn (m), no time checks. Returns 1/0.
S16 SBAS_GEO_cal_sv_rough_position(S16 prn, S16 wn, S32 tow, POS_T* pos_p);
S16 SBAS_GEO_get_URA(S16 prn);  // URA index, -1 without a valid record
// A copy of the record of prn into *out (caller's). Returns 1 for prn
// 120..138 (valid or not, see is_valid), 0 otherwise.
S16 SBAS_GEO_get_record(S16 prn, SBAS_GEO_T* out);
void SBAS_GEO_clear_one(S16 prn);  // record and backup slot of prn invalidated
void SBAS_GEO_clear_all();         // all records and the three slots invalidated
// Messages or requests with a prn outside 120..138, dropped since KWAAS_init.
U32 SBAS_GEO_get_bad_prn_count();
// The prn held by backup slot 0..2, -1 when free or slot out of range.
S16 SBAS_GEO_get_slot_prn(S16 slot);
