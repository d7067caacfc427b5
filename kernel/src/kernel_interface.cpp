// Kernel interface: versions, configuration, queries for output.
#include "kernel/src/kernel_interface.h"

#include <cmath>

#include "kernel/src/kernel_backup.h"
#include "kernel/src/kernel_modules.h"
#include "kernel/src/nav_inputs.h"
#include "misc/saturate.h"
#include "timing/timing.h"

namespace {

constexpr U32 KERNEL_MAJOR_VERSION = 2;
constexpr U32 KERNEL_MINOR_VERSION = 0;
constexpr U32 KERNEL_REVISION = 55;
constexpr D64 MPS_TO_HZ_L1 = 5.2550354685707275;  // 1575.42e6 Hz / c
constexpr S16 SBAS_OUTPUT_ID_MAX = 139;           // SBAS ids mapped for output: 120..139

LLA_T Datum_diff = {0.0, 0.0, 0.0f};  // arc minutes, arc minutes, metres
S16 MAG_var_count = 0;
F32 MAG_var_tmp = 0.0f;
U08 use_filter = 1;  // NMEA C/N0 of a channel: its filtered value

// The satellites of channels selected by `pick`, of one GNSS type (GPS also takes SBAS).
template <typename Pick>
S16 list_channel_svids(U16 gnss_type, S16* out, Pick pick) {
  S16 n = 0;
  for (S16 ch_id = 0; ch_id < NUM_HW_CHANNELS; ++ch_id) {
    const CHAN_T ch = CH_find_reference(ch_id);
    const U16 type = CH_get_gnss_type(ch);
    const bool type_ok = type == gnss_type || (gnss_type == GNSS_TYPE_GPS && type == GNSS_TYPE_SBAS);
    if (!type_ok || !pick(ch_id, ch)) continue;
    const S16 id = KINTERFACE_map_output_svid(type, CH_get_prn(ch));
    if (id != 0) out[n++] = id;
  }
  return n;
}

}  // namespace

void KINTERFACE_init() {
  Datum_diff = LLA_T{0.0, 0.0, 0.0f};
  MAG_var_count = 0;
  MAG_var_tmp = 0.0f;
  use_filter = 1;
}

U32 KINTERFACE_get_major_version() { return KERNEL_MAJOR_VERSION; }
U32 KINTERFACE_get_minor_version() { return KERNEL_MINOR_VERSION; }
U32 KINTERFACE_get_revision() { return KERNEL_REVISION; }

void KINTERFACE_set_sbas_para(const SBAS_PARAMETER_T* para) {
  SETTINGS_set_sbas_para(para);
  KWAAS_set_sbas_para(para);
}
S16 KINTERFACE_get_sbas_para(SBAS_PARAMETER_T* para) {
  SETTINGS_get_sbas_para(para);
  return 1;
}
void KINTERFACE_set_qzss_para(const QZSS_PARAMETER_T* para) {
  SETTINGS_set_qzss_para(para);
  KQZSS_set_qzss_para(para);
}
S16 KINTERFACE_get_qzss_para(QZSS_PARAMETER_T* para) {
  SETTINGS_get_qzss_para(para);
  return 1;
}
S16 KINTERFACE_set_ref_time_to_sync_gps_time(const USER_INPUT_TIME_SYNC_T* t) {
  return SETTINGS_set_ref_time_to_sync_gps_time(t);
}
S16 KINTERFACE_get_ref_time_to_sync_gps_time(USER_INPUT_TIME_SYNC_T* t) {
  SETTINGS_get_ref_time_to_sync_gps_time(t);
  return 1;
}
void KINTERFACE_set_tm_cal_noise_power_enable(S16 enable) {
  SETTINGS_set_tm_cal_noise_power_enable(static_cast<U08>(enable));
}
S16 KINTERFACE_is_enable_tm_cal_noise_power() { return SETTINGS_get_tm_cal_noise_power_enable(); }
void KINTERFACE_enable_power_saving(S16 enable) {
  SETTINGS_set_power_saving_enable(static_cast<U08>(enable));
  SRST_set_power_off_mode(enable);
}
S16 KINTERFACE_is_enable_power_saving() { return SRST_get_power_off_mode(); }
void KINTERFACE_force_no_power_saving_in_cold_search() { SRST_set_force_no_power_saving_in_cold_search(); }
void KINTERFACE_set_navigation_platform_model(S16 model) {
  if (model >= 0 && model < N_NAV_MODELS) NVMODEL_set_model(model);
}
S16 KINTERFACE_get_navigation_platform_model() { return NVMODEL_get_model(); }
void KINTERFACE_set_pps_cable_delay(S32 delay) {
  SETTINGS_set_pps_cable_delay(delay);
  TIMING_set_pps_cable_delay(delay);
}
void KINTERFACE_set_pps_width(U32 width) {
  SETTINGS_set_pps_width(width);
  TIMING_set_pps_width(width);
}
S32 KINTERFACE_get_pps_cable_delay() { return TIMING_get_pps_cable_delay(); }
U32 KINTERFACE_get_pps_pps_width() { return TIMING_get_pps_width(); }

void KINTERFACE_clear_stored_data(S32 also_clean_almanac) {
  KBACKUP_clear_data();
  UTC_clear_all();
  COR_clear_all();
  if (also_clean_almanac) {
    ALM_clear_all();
    KSEARCH_set_event_clear_all_almanacs();
  }
}

// With a stored initial time and position: every satellite's state from
// them, and a blind GPS search switched to hot search.
void KINTERFACE_agps_re_init_SV_search_functions() {
  if (!NV_has_stored_init_time() || !NV_has_stored_init_position()) return;
  D64 tow = 0.0;
  U16 wn = 0;
  NV_get_time(&tow, &wn);
  POS_T pos{};
  NV_get_ecef_position(&pos);
  const S32 tow_s = std::isfinite(tow) && tow >= 0.0 && tow < SECONDS_PER_WEEK ? static_cast<S32>(tow) : 0;
  SVSKY_force_update_all(static_cast<S16>(wn), tow_s, &pos);
  if (KSEARCH_is_GPS_in_blind_search_mode()) KSEARCH_force_GPS_switch_to_hot_search();
}
void KINTERFACE_rom_agps_re_init_SV_search_functions() { KSEARCH_force_GPS_switch_to_cold_search(); }

S32 KINTERFACE_drift_to_clock_offset(F32 drift_mps) {
  return SAT_trunc_s32(-static_cast<D64>(drift_mps) * MPS_TO_HZ_L1);
}

S16 KINTERFACE_get_run_time_clock_offset(S32* clock_offset_p) {
  if (!NV_has_fixed()) return 0;
  D64 cbias = 0.0;
  F32 cdrift = 0.0f;
  NV_get_clock_bias_drift(&cbias, &cdrift);
  *clock_offset_p = KINTERFACE_drift_to_clock_offset(cdrift);
  return 1;
}

S16 KINTERFACE_get_reliable_clock_offset_from_backup_sram(S32* clock_offset_p) {
  return KBACKUP_get_clock_offset(clock_offset_p);
}
S16 KINTERFACE_set_reliable_clock_offset_in_backup_sram(S32 clock_offset) {
  return KBACKUP_set_clock_offset(clock_offset);
}
S16 KINTERFACE_get_reliable_leap_second(S32* leap_sec_p) { return UTC_get_reliable_leap_sec(leap_sec_p); }

S16 KINTERFACE_get_datum_offset_from_wgs84(D64* diff_lat, D64* diff_lon, F32* diff_alt) {
  *diff_lat = Datum_diff.lat;
  *diff_lon = Datum_diff.lon;
  *diff_alt = Datum_diff.alt;
  return 1;
}

S16 KINTERFACE_get_satellite_fault_detection(F32* err_lat_p, F32* err_lon_p, F32* err_alt_p, S16* sat_id_p, F32* prob_p,
                                             F32* est_bias_p, F32* std_bias_p) {
  if (!NV_has_fixed()) return 0;
  return LSQRAIM_get_RAIM_enu_error(err_lat_p, err_lon_p, err_alt_p, sat_id_p, prob_p, est_bias_p, std_bias_p);
}

S16 KINTERFACE_get_range_residuals(S16* mode_p, S16* nmeas_gps_p, F32* residual_gps_p, S16* nmeas_glo_p,
                                   F32* residual_glo_p) {
  *mode_p = 0;
  *nmeas_gps_p = 0;
  *nmeas_glo_p = 0;
  for (S16 ch_id = 0; ch_id < NUM_HW_CHANNELS; ++ch_id) {
    if (!NV_is_channel_meas_show_use_in_fix(ch_id)) continue;
    const NV_ESTIN_T estin = NVESTIN_get_reference(ch_id);
    const F32 d_pr = NVESTIN_has_data(estin) ? static_cast<F32>(NVESTIN_get_pr_diff(estin)) : 0.0f;
    const U16 type = CH_get_gnss_type(CH_find_reference(ch_id));
    if (type == GNSS_TYPE_GPS)
      residual_gps_p[(*nmeas_gps_p)++] = d_pr;
    else if (type == GNSS_TYPE_GLONASS)
      residual_glo_p[(*nmeas_glo_p)++] = d_pr;
  }
  return 1;
}

S16 KINTERFACE_get_data_for_nmea_gst(F32* rms_range_inputs_std_p, F32* std_semi_major_axis_p,
                                     F32* std_semi_minor_axis_p, F32* orientation_semi_major_axis_p,
                                     F32* std_enu_error_p) {
  return NV_get_error_statistics(rms_range_inputs_std_p, std_semi_major_axis_p, std_semi_minor_axis_p,
                                 orientation_semi_major_axis_p, std_enu_error_p);
}

void KINTERFACE_enable_multipath_mitigation(S16) {}
void KINTERFACE_enable_dazar(S16) {}
void KINTERFACE_set_timing_mode(const TIMING_T*) {}
void KINTERFACE_set_freq_out_mode(const FREQ_OUT_T*) {}
void KINTERFACE_set_pps_align_mode(S16) {}
void KINTERFACE_set_pps_output_mode(S16) {}
void KINTERFACE_set_sorrel_pps_clock_cource_mode(S16) {}
S16 KINTERFACE_is_enable_multipath_mitigation() { return 0; }
S16 KINTERFACE_is_enable_dazar() { return 0; }
S16 KINTERFACE_get_timing_mode(TIMING_T*) { return 0; }
S16 KINTERFACE_get_rinning_timing_mode(TIMING_T*) { return 0; }
S16 KINTERFACE_get_freq_out_mode(FREQ_OUT_T*) { return 0; }
S16 KINTERFACE_get_pps_align_mode() { return 0; }
S16 KINTERFACE_get_pps_output_mode() { return 0; }
S16 KINTERFACE_get_sorrel_pps_clock_cource_mode() { return 0; }

S16 KINTERFACE_map_output_svid(U16 gnss_type, S16 id) {
  if (gnss_type == GNSS_TYPE_GPS && id >= QZSS_ID_MIN && id <= QZSS_ID_MAX)
    return static_cast<S16>(id + QZSS_EXTERNAL_OFFSET);
  if (gnss_type == GNSS_TYPE_SBAS && id >= SBAS_PRN_MIN && id <= SBAS_OUTPUT_ID_MAX)
    return static_cast<S16>(id - SBAS_NMEA_OFFSET);
  return id;
}

S16 get_fix_svids(U16 gnss_type, S16* fix_svids) {
  return list_channel_svids(gnss_type, fix_svids,
                            [](S16 ch_id, CHAN_T) { return NV_is_channel_meas_use_in_fix(ch_id) != 0; });
}
S16 get_show_fix_svids(U16 gnss_type, S16* fix_svids) {
  return list_channel_svids(gnss_type, fix_svids,
                            [](S16 ch_id, CHAN_T) { return NV_is_channel_meas_show_use_in_fix(ch_id) != 0; });
}
S16 get_broadcast_differential_msg_svids(U16 gnss_type, S16* svids) {
  S16 n = 0;
  for (S16 ch_id = 0; ch_id < NUM_HW_CHANNELS; ++ch_id) {
    const CHAN_T ch = CH_find_reference(ch_id);
    const U16 type = CH_get_gnss_type(ch);
    if (type != gnss_type || CH_get_state(ch) <= CH_BITSYNC) continue;
    if (!NV_is_channel_meas_broadcast_differential_message(ch_id)) continue;
    const S16 id = KINTERFACE_map_output_svid(type, CH_get_prn(ch));
    if (id != 0) svids[n++] = id;
  }
  return n;
}
