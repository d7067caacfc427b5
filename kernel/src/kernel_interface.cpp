// Kernel interface: versions, configuration, queries for output.
#include "kernel/src/kernel_interface.h"

#include <array>
#include <cmath>

#include "kernel/src/geoid.h"
#include "kernel/src/kernel.h"
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
constexpr D64 RAD_TO_DEG = 57.2957795131;
constexpr D64 RAD_TO_ARC_MIN = RAD_TO_DEG * 60.0;
// Knots per m/s. The exact factor is 3600 / 1852 = 1.9438445; this one is
// 19 ppm larger (0.0004 kn at 20 m/s) and is kept as the receiver has always
// printed it.
constexpr F32 MPS_TO_KNOTS = 1.9438814f;
constexpr F32 DOP_MAX = 99.9f;         // largest DOP the sentences print
constexpr S16 GEOID_PER_M = 10;        // NMEA_DATA_T::geoid units (0.1 m) per metre
constexpr S16 QZSS_NO_OUTPUT_ID = 37;  // the spare QZSS id: never listed in view

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

F32 cap_dop(F32 dop) { return dop > DOP_MAX ? DOP_MAX : dop; }

// Step 2: position, with the datum conversion (and the kept shift) when asked.
void nmea_position(NMEA_DATA_T* d, S16 is_wgs84, const DTM_T* datum_p) {
  LLA_T lla{};
  NV_get_lla_position(&lla);
  Datum_diff = LLA_T{0.0, 0.0, 0.0f};
  LLA_T out = lla;
  if (is_wgs84 == 0 && datum_p != nullptr) {
    DTM_convert_WGS84_to_another_datum(datum_p, &lla, &out);
    Datum_diff = LLA_T{(out.lat - lla.lat) * RAD_TO_ARC_MIN, (out.lon - lla.lon) * RAD_TO_ARC_MIN, out.alt - lla.alt};
  }
  NMEA_set_position(d, out.lat * RAD_TO_DEG, out.lon * RAD_TO_DEG);
  d->alt = out.alt;
  // Step 4: the geoid height at the WGS-84 position once the navigation has fixed.
  if (NV_has_fixed())
    d->geoid = static_cast<S16>(GEO_calc_geoid_height(static_cast<F32>(lla.lat), static_cast<F32>(lla.lon)) *
                                static_cast<F32>(GEOID_PER_M));
}

// Step 3: GPS time (counted on from the power-on epochs while not yet known)
// and UTC, seconds cut to whole milliseconds.
void nmea_time(NMEA_DATA_T* d) {
  D64 tow = 0.0;
  U16 wn = 0;
  d->time_valid = NV_get_time(&tow, &wn);
  if (!d->time_valid) {
    const U08 rate = SETTINGS_get_n_hz_position_rate();
    const D64 ms = static_cast<D64>(KERNEL_get_power_on_meas_count()) * 1000.0 / (rate != 0 ? rate : 1);
    tow += std::floor(ms) / 1000.0;
    while (tow >= SECONDS_PER_WEEK) {
      tow -= SECONDS_PER_WEEK;
      ++wn;
    }
  }
  UTC_TIME_T utc{};
  D64 modified_tow = tow;
  UTC_convert_gps_to_utc_time(static_cast<S16>(wn), tow, &utc, &modified_tow);
  d->wn = wn;
  d->tow = modified_tow;
  d->year = static_cast<U16>(utc.year);
  d->month = static_cast<U08>(utc.month);
  d->day = static_cast<U08>(utc.day);
  d->hour = static_cast<U08>(utc.hour);
  d->minute = static_cast<U08>(utc.minute);
  // Whole milliseconds, cut; 1e-6 ms absorbs the binary rounding of a time
  // that lies on a millisecond.
  d->sec = std::isfinite(utc.sec) ? static_cast<F32>(std::floor(utc.sec * 1000.0 + 1e-6) / 1000.0) : 0.0f;
}

// Step 7: SBAS corrections in use make a 3-D fix differential.
S16 nmea_fix_mode() {
  const S16 mode = NV_get_fixmode();
  if (mode < FIX_3D) return mode;
  SBAS_PARAMETER_T para{};
  KINTERFACE_get_sbas_para(&para);
  if (para.sbas_enable_disable == 0 || para.correction_enable_disable == 0) return mode;
  std::array<S16, NUM_HW_CHANNELS> ids{};
  return get_broadcast_differential_msg_svids(GNSS_TYPE_SBAS, ids.data()) > 0 ? static_cast<S16>(FIX_DIFF) : mode;
}

// Step 8 and 9: the GPS-type satellites in view (tracking channels, then the
// sky view's GPS satellites without a channel), NMEA ids. Returns the count.
S16 nmea_sv_in_view(NMEA_SV_T* sv) {
  SBAS_PARAMETER_T para{};
  KINTERFACE_get_sbas_para(&para);
  std::array<S16, NMEA_MAX_SV> kernel_ids{};  // kernel ids of the listed satellites
  S16 n = 0;
  for (S16 ch_id = 0; ch_id < NUM_HW_CHANNELS && n < NMEA_MAX_SV; ++ch_id) {
    const CHAN_T ch = CH_find_reference(ch_id);
    const U16 type = CH_get_gnss_type(ch);
    const S16 prn = CH_get_prn(ch);
    if (CH_get_state(ch) <= CH_BITSYNC || (type != GNSS_TYPE_GPS && type != GNSS_TYPE_SBAS)) continue;
    if (prn == QZSS_NO_OUTPUT_ID) continue;
    if (para.sbas_enable_disable == 0 && prn >= SBAS_PRN_MIN && prn <= SBAS_OUTPUT_ID_MAX) continue;
    const SV_T s = CH_get_sv(ch);
    const S16 elv = SV_get_elevation_in_deg(s);
    sv[n] = NMEA_SV_T{KINTERFACE_map_output_svid(type, prn), elv < 0 ? static_cast<S16>(0) : elv,
                      SV_get_azimuth_in_deg(s), use_filter == 1 ? CH_get_filter_cnr(ch) : CH_get_cnr(ch)};
    kernel_ids[static_cast<std::size_t>(n++)] = prn;
  }
  std::array<SV_T, SVSKY_LIST_CAPACITY> sky{};
  const S16 n_sky = SVSKY_get_sorted_SV_on_sky_one_gnss_type(GNSS_TYPE_GPS, sky.data());
  for (S16 i = 0; i < n_sky && i < SVSKY_LIST_CAPACITY && n < NMEA_MAX_SV; ++i) {
    const S16 prn = SV_get_prn(sky[static_cast<std::size_t>(i)]);
    bool listed = false;
    for (S16 k = 0; k < n; ++k) listed = listed || kernel_ids[static_cast<std::size_t>(k)] == prn;
    if (listed) continue;
    const S16 elv = SV_get_elevation_in_deg(sky[static_cast<std::size_t>(i)]);
    sv[n] = NMEA_SV_T{KINTERFACE_map_output_svid(GNSS_TYPE_GPS, prn), elv < 0 ? static_cast<S16>(0) : elv,
                      SV_get_azimuth_in_deg(sky[static_cast<std::size_t>(i)]), -1};
    kernel_ids[static_cast<std::size_t>(n++)] = prn;
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
void KINTERFACE_get_time_status(S16* fix_mode_p, S16* has_real_frame_sync_p, U32* fix_count_p) {
  if (fix_mode_p != nullptr) *fix_mode_p = NV_get_fixmode();
  if (has_real_frame_sync_p != nullptr) *has_real_frame_sync_p = CH_has_any_real_frame_sync();
  if (fix_count_p != nullptr) *fix_count_p = NV_get_fix_count();
}

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

S16 KINTERFACE_get_data_for_nmea(NMEA_DATA_T* data_p, S16* n_gps_sv_in_view_p, S16* n_glonass_sv_in_view_p,
                                 S16* n_beidou2_sv_in_view_p, NMEA_SV_T* nmea_sv_gps, NMEA_SV_GLONASS_T*, NMEA_SV_T*,
                                 S16 is_wgs84, const DTM_T* datum_p) {
  *data_p = NMEA_DATA_T{};
  NMEA_DATA_T* d = data_p;
  // 1: course, speed (knots); the fix mode below (7)
  d->course = NV_get_course();
  d->speed = NV_get_show_speed() * MPS_TO_KNOTS;
  d->is_INS = 0;
  nmea_position(d, is_wgs84, datum_p);  // 2 and 4
  nmea_time(d);                         // 3
  NV_get_ecef_position(&d->pos);
  NV_get_ecef_velocity(&d->vel);
  // 5: DOPs
  d->pdop = cap_dop(NV_get_show_pdop());
  d->hdop = cap_dop(NV_get_show_hdop());
  d->vdop = cap_dop(NV_get_show_vdop());
  d->gdop = cap_dop(NV_get_show_gdop());
  d->tdop = cap_dop(NV_get_show_tdop());
  // 6: satellites shown as used
  d->nsv_used_gps = get_show_fix_svids(GNSS_TYPE_GPS, d->id_nums_gps.data());
  d->fix_mode = nmea_fix_mode();                       // 7
  *n_gps_sv_in_view_p = nmea_sv_in_view(nmea_sv_gps);  // 8, 9
  *n_glonass_sv_in_view_p = 0;
  *n_beidou2_sv_in_view_p = 0;
  return 1;
}
