// Operations of the kernel's modules that the kernel frame (start-up, ticks,
// callback wiring, kernel interface) calls, grouped by subsystem.
//
// Until a module exists, its operations come from the stand-in file of its
// subsystem with neutral results:
//   kernel/src/standin_measurement.cpp  channels, raw measurements, ranges,
//                                       corrections, navigation (RAW_ CH_ RNG_
//                                       CCYCLE_ COR_ NV_ NVMODEL_ KMCHECK_
//                                       KMPREDICT_ LSQRAIM_ NVESTIN_)
//   kernel/src/standin_satellite.cpp    data bits, subframes, ephemerides,
//                                       almanac, health, UTC, satellite states,
//                                       bit-count prediction (DBC_ BC_ SFC_ EPH_
//                                       ALM_ SVH_ UTC_ SV_ KSVCALC_ KFASTFS_)
//   kernel/src/standin_search_clock.cpp time count, RTC, search, 1PPS
//                                       (GTCADJ_ KRTC_ KSEARCH_ SRST_ K1PPS_)
//   kernel/src/standin_sbas.cpp         SBAS and QZSS (KWAAS_ KQZSS_ SBAS_)
// When a module arrives, its declarations move to its own header and its
// stand-ins are deleted.
//
// Backup-memory pieces are laid out by offset from the start of the backup
// region (U08* region_p, U32 offset), never by absolute address.
#pragma once

#include "kernel/src/kernel_types.h"
#include "misc/gnss_types.h"

// ---------------------------------------------------------------------------
// Handles: pointers to fixed per-channel or per-satellite records.
// ---------------------------------------------------------------------------
struct CHAN_S;
using CHAN_T = CHAN_S*;
struct RNG_S;
using RNG_T = RNG_S*;
struct DBCOLLECT_S;
using DBCollect_T = DBCOLLECT_S*;
struct EPH_S;
using EPH_T = EPH_S*;

// ---------------------------------------------------------------------------
// Callback types
// ---------------------------------------------------------------------------
// Time count of a measurement epoch: raw week, raw time of week (s), length of
// the measurement interval (s) and the time-count shift inside it (s).
using RAW_GTC_OUT_CALLBACK_T = void (*)(S16 raw_gtc_wn, D64 raw_gtc_tow, D64 gtc_meas_dt, D64 gtc_shift_dt);
// Time-count sync error against GPS time (TCXO clocks) and whether the epoch is a whole second.
using RAW_COMPENSATE_GTC_CALLBACK_T = void (*)(S32 gtc_sync_to_rtc_error, S16 is_integer_second);
// The three RTC record words of an epoch.
using RAW_CAL_RTC_RATIO_CALLBACK_T = void (*)(U32 record_rtc_sec, U32 record_rtc_wn_subsec,
                                              U32 record_gtc_ssubsec_div_subsec);
using DBC_callback_T = void (*)(DBCollect_T dbc, S32 tow, S32 bitcnt);    // frame sync: tow s, track bit count
using DBC_WN_CALLBACK_T = void (*)(U16 wn);                               // 10-bit week of subframe 1
using SFC_S123_CALLBACK_T = void (*)(S16 ch_id, const U32 (*dws_p)[10]);  // subframes 1..3, 10 words each
using SFC_PAGE_CALLBACK_T = void (*)(const U32* dws_p);                   // one subframe, 10 words
using NV_DROP_CHANNEL_CALLBACK_T = void (*)(S16 ch_id);
using NV_POSITION_FIX_FAULT_CALLBACK_T = void (*)();
using NV_UPDATE_WN_CALLBACK_T = void (*)(U16 wn);
using SBAS_GEO_BLOCK_CALLBACK_T = void (*)(S16 prn, const U32* dws_p, S16 msg_type);

// ---------------------------------------------------------------------------
// Measurements and navigation
// ---------------------------------------------------------------------------
void RAW_init();
S16 RAW_process_measurement();  // 1 when a measurement epoch was taken in and processed
void RAW_install_gtc_out_callback(RAW_GTC_OUT_CALLBACK_T func);
void RAW_install_compensate_gtc_sync_to_gps_time_error_callback(RAW_COMPENSATE_GTC_CALLBACK_T func);
void RAW_install_cal_rtc_ratio_callback(RAW_CAL_RTC_RATIO_CALLBACK_T func);
void RAW_try_to_use_early_meas_in_hot_start();
void RAW_stop_use_early_meas_in_hot_start();

void CH_init();
CHAN_T CH_find_reference(S16 ch_id);  // ch_id 0..19
S16 CH_process_databits(CHAN_T ch, U16 gnss_type, S16 signal_id, U32 databits, U32 databits_info, S32 bitcnt,
                        U08 issue_id);
void CH_select_delta_range_process(S16 gtc_wn, S32 gtc_tow);
S16 CH_get_all_useful_ranges(RNG_T* rng_ary);  // at most 20
S32 CH_get_isr_bitcnt(CHAN_T ch);
U16 CH_get_state(CHAN_T ch);
U16 CH_get_gnss_type(CHAN_T ch);
S16 CH_get_prn(CHAN_T ch);  // kernel numbering (SBAS 120..138)
S16 CH_get_svid(CHAN_T ch);
U08 CH_get_issue_id(CHAN_T ch);

void RNG_init();
void RNG_update_gtc_time(S16 gtc_wn, D64 gtc_sec, D64 gtc_meas_dt, D64 gtc_shift_dt);
void CCYCLE_init();

S16 COR_init_storage_address(U08* region_p, U32 offset);  // bytes
S16 COR_init(U08* region_p);                              // null: the piece laid out before
void COR_update_ionospheric_parameter(const U32* dws_p);
void COR_clear_all();

void NV_init();
S16 NV_process(S16 gtc_wn, D64 gtc_sec, S16 n, RNG_T* range_meas_in, D64 gtc_meas_dt, D64 gtc_shift_dt);
S16 NV_has_fixed();
S16 NV_has_stored_init_time();
S16 NV_has_stored_init_position();
void NV_restore_data(S16 wn, S32 tow, const LLA_T* lla_p, F32 cdrift);    // rad, rad, m; m/s
void NV_restore_time_pos_data_only(S16 wn, S32 tow, const LLA_T* lla_p);  // null: time only
void NV_set_force_3D_first_fix_for_hot_start_application();
void NV_install_callback_drop_channel(NV_DROP_CHANNEL_CALLBACK_T func);
void NV_install_callback_position_fix_fault(NV_POSITION_FIX_FAULT_CALLBACK_T func);
void NV_install_callback_update_wn_for_rom_agps(NV_UPDATE_WN_CALLBACK_T func);
S16 NV_is_channel_meas_use_in_fix(S16 ch_id);
S16 NV_is_channel_meas_show_use_in_fix(S16 ch_id);
S16 NV_is_channel_meas_broadcast_differential_message(S16 ch_id);
// Position-domain error statistics: four F32 and three ENU standard deviations; 1 when valid.
S16 NV_get_position_error_statistics(F32* rms_range_inputs_std_p, F32* std_semi_major_axis_p,
                                     F32* std_semi_minor_axis_p, F32* orientation_semi_major_axis_p,
                                     F32* std_enu_error_p);
S16 NVESTIN_get_pr_diff(S16 ch_id, F32* d_pr_p);  // pseudorange difference of the last fix, m; 0 when none
S16 LSQRAIM_get_RAIM_enu_error(F32* err_lat_p, F32* err_lon_p, F32* err_alt_p, S16* sat_id_p, F32* prob_p,
                               F32* est_bias_p, F32* std_bias_p);

void NVMODEL_set_model(S16 model);  // NMODEL_DEFAULT .. AIRBORNE
S16 NVMODEL_get_model();

void KMCHECK_init();
void KMCHECK_check_result_process();

void KMPREDICT_init(S16 can_do_hot_start, S32 rtc_lapsed_time);  // s
void KMPREDICT_process();
void KMPREDICT_reset_prediction_flag();

// ---------------------------------------------------------------------------
// Satellite data
// ---------------------------------------------------------------------------
void DBC_init();
void DBC_install_framesync_callback(DBC_callback_T func);
void DBC_install_wn_callback(DBC_WN_CALLBACK_T func);
S16 DBC_get_owner_channel_id(DBCollect_T dbc);  // -1 for null

void BC_init();

void SFC_install_callback_s1s2s3(SFC_S123_CALLBACK_T func);
void SFC_install_callback_s5_p1_24(SFC_PAGE_CALLBACK_T func);
void SFC_install_callback_s4_p18(SFC_PAGE_CALLBACK_T func);
void SFC_install_callback_s4_p25(SFC_PAGE_CALLBACK_T func);
void SFC_install_callback_s5_p25(SFC_PAGE_CALLBACK_T func);

S16 EPH_init_storage_address(U08* region_p, U32 offset);
S16 EPH_init(U08* region_p);
void EPH_clear_all();
EPH_T EPH_get_reference(S16 prn);  // 1..38, else null
S16 EPH_get_data_source(S16 prn);
void EPH_set_data_source(S16 prn, S16 source);
S16 EPH_has_valid_data(EPH_T eph);
S16 EPH_update_datawords(EPH_T eph, const U32 (*words)[10]);

S16 ALM_init_storage_address(U08* region_p, U32 offset);
// stored_image / const_image: almanac images handed over at start (null: none).
S16 ALM_init(U08* region_p, U08* stored_image, const U08* const_image);
S16 ALM_update_datawords(S16 wn, S32 tow, const U32* words);
S16 ALM_update_WNa_subframe(const U32* words);
void ALM_check_validity_time(S16 wn);
void ALM_clear_all();

S16 SVH_init_storage_address(U08* region_p, U32 offset);
void SVH_init(U08* region_p);
void SVH_update_datawords(S16 sfid, const U32* words);

struct UTC_TIME_T {
  S16 year, month, day, day_of_year, hour, minute;
  D64 sec;
};
S16 UTC_init_storage_address(U08* region_p, U32 offset);
S16 UTC_init(U08* region_p);
void UTC_update_default_leap_second_from_flash(S16 leap_sec);  // s
S16 UTC_update_utc_parameters(S16 wn, S32 tow, S16 gps_time_is_valid, const U32* words);
void UTC_convert_utc_to_gps_time(const UTC_TIME_T* utc_p, S16* wn_p, D64* tow_p);
S16 UTC_get_reliable_leap_sec(S32* leap_sec_p);
void UTC_clear_all();

void SV_init();
void KSVCALC_init(S16 can_do_hot_start);
void KSVCALC_process();
void KFASTFS_init(S16 has_stored_time_pos, S16 stored_wn, S32 stored_sec);
void KFASTFS_process(S16 gtc_wn, D64 gtc_sec, S16 gtc_is_integer);

// ---------------------------------------------------------------------------
// Search and clock
// ---------------------------------------------------------------------------
void GTCADJ_init();
void GTCADJ_set_user_input_time_sync(const USER_INPUT_TIME_SYNC_T* sync_p);
void GTCADJ_set_init_predict_gps_time_by_rtc(S16 wn, S32 tow);
void GTCADJ_set_init_input_time(S16 wn, S32 tow);
void GTCADJ_update_raw_gtc(S16 raw_gtc_wn, D64 raw_gtc_tow);
S16 GTCADJ_get_adjusted_gtc(S16* wn_p, D64* tow_p);  // 1 when GPS time is known
S16 GTCADJ_get_gtc_wn_adjust_type();
S16 GTCADJ_get_gtc_tow_adjust_type();
U16 GTCADJ_get_subsec();  // ms of the latest epoch within its second
void GTCADJ_set_framesync_tow(S32 tow, S32 dbitcnt, S16 bps);
void GTCADJ_set_subframe1_wn(S16 wn, S16 gnss_type);
inline constexpr S16 GTCADJ_CONFIRMED = 5;  // adjust type: confirmed from navigation data

void KRTC_init();
void KRTC_update_rtc_lapsed_time(S32 d_rtc_sec, S32 d_rtc_subsec);  // s, 1/32768 s
void KRTC_compensate_gtc_sync_to_gps_time_error(S32 error_in_tcxo_clocks, S16 is_integer_second);
void KRTC_cal_rtc_ratio_proc(U32 record_rtc_sec, U32 record_rtc_wn_subsec, U32 record_gtc_ssubsec_div_subsec);

void KSEARCH_init(S16 npse_used, S16 do_power_save, S16 search_duty_mode, S16 tcxo_ppm, S32 init_clock_offset_hz,
                  S16 can_do_hot_start, S32 elapse_dt);
void KSEARCH_process();
void KSEARCH_recompute_all_sv_states_for_agps();  // initial time and position stored: hot search if blind
void KSEARCH_set_cold_search();
void KSEARCH_almanac_cleared_event();
void SRST_set_power_off_mode(S16 on);
S16 SRST_get_power_off_mode();
void SRST_set_force_no_power_saving_in_cold_search();

void K1PPS_init();
void K1PPS_process();

// ---------------------------------------------------------------------------
// SBAS and QZSS
// ---------------------------------------------------------------------------
S16 KWAAS_init_storage_address(U08* region_p, U32 offset);
void KWAAS_init(const SBAS_PARAMETER_T* para, S32 hot_start_dt);  // s; -1 unknown
void KWAAS_clear_all_geo_parameters();
void KWAAS_second_tick_process();
void KWAAS_set_sbas_para(const SBAS_PARAMETER_T* para);
void KQZSS_init(const QZSS_PARAMETER_T* para);
void KQZSS_second_tick_process();
void KQZSS_set_qzss_para(const QZSS_PARAMETER_T* para);
void SBAS_BKC_install_callback_geos(SBAS_GEO_BLOCK_CALLBACK_T func);
void SBAS_GEO_update_messages(S16 wn, S32 tow, S16 prn, const U32* dws_p, S16 msg_type);
