#include "kernel/src/settings.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array<S16, 10> POSITION_RATES_HZ = {1, 2, 4, 5, 8, 10, 20, 25, 40, 50};
constexpr S16 MAX_GPS_PSE = 8;

constexpr SETTINGS_T DEFAULT_SETTINGS = {
    .position_update_rate = 1,
    .power_saving_enable = 1,
    .pse_duty_cycle_mode = 0,
    .raw_meas_output_rate = 1,
    .sbas_para = {1, SBAS_RANGING_MODE_AUTO, 8, 1, 2, 7},
    .qzss_para = {1, 1},
    .usr_in_time_sync = {0, 0, 0, 0},
    .user_navigation_model = NMODEL_DEFAULT,
    .gnss_solution_sel_bits = 1,
    .npse_gps = 8,
    .npse_glonass = 0,
    .dazar_enable = 0,
    .tm_cal_np_enable = 1,
    .tcxo_ppm_type = 0,
    .sorrel_pps_clock_source_mode = 3,
    .timing = {TIMING_SURVEY_MODE, 2000, 30, {0.0, 0.0, 0.0}, {0.0, 0.0, 0.0f}},
    .freq_out = {10000000},
    .timing_cable_delay = 0,
    .timing_pps_width = 800,
    .timing_pps_output_mode = TIMING_PULSE_OUTPUT_IF_GPS_UTC_TIME_IS_AVALIABLE,
    .timing_pps_align_mode = TIMING_PULSE_ALIGN_TO_GPS_TIME,
    .elv_cnr_mask = {ELV_CNR_MASK_AUTO, 5, 0},
    .dop_mask = {DOP_MASK_AUTO, 30.0f, 30.0f, 30.0f},
    .enable_2d_navigation_at_first_pos_fix = 1,
    .enable_2d_navigation_after_first_pos_fix = 1,
};

SETTINGS_T Settings = DEFAULT_SETTINGS;

}  // namespace

void SETTINGS_init() { Settings = DEFAULT_SETTINGS; }

S16 SETTINGS_set_power_saving_enable(U08 enable) {
  Settings.power_saving_enable = enable;
  return 1;
}
S16 SETTINGS_set_sbas_para(const SBAS_PARAMETER_T* para) {
  Settings.sbas_para = *para;
  return 1;
}
S16 SETTINGS_set_qzss_para(const QZSS_PARAMETER_T* para) {
  Settings.qzss_para = *para;
  return 1;
}
S16 SETTINGS_set_ref_time_to_sync_gps_time(const USER_INPUT_TIME_SYNC_T* t) {
  Settings.usr_in_time_sync = *t;
  return 1;
}
S16 SETTINGS_set_pse_duty_cycle_mode(U08 mode) {
  Settings.pse_duty_cycle_mode = mode;
  return 1;
}
S16 SETTINGS_set_rawmeas_output_rate(U08 rate) {
  Settings.raw_meas_output_rate = rate;
  return 1;
}
S16 SETTINGS_set_nav_gnss_type_bits(U08 bits) {
  Settings.gnss_solution_sel_bits = bits;
  return 1;
}
S16 SETTINGS_set_pps_cable_delay(S32 delay) {
  Settings.timing_cable_delay = delay;
  return 1;
}
S16 SETTINGS_set_pps_width(U32 width) {
  Settings.timing_pps_width = width;
  return 1;
}
S16 SETTINGS_set_elv_cnr_mask(const ELV_CNR_MASK_T* mask) {
  Settings.elv_cnr_mask = *mask;
  return 1;
}
S16 SETTINGS_set_dop_mask(const DOP_MASK_T* mask) {
  Settings.dop_mask = *mask;
  return 1;
}
S16 SETTINGS_set_tm_cal_noise_power_enable(U08 enable) {
  Settings.tm_cal_np_enable = enable;
  return 1;
}
S16 SETTINGS_set_2d_navigation_mask(U08 at_first_fix, U08 after_first_fix) {
  Settings.enable_2d_navigation_at_first_pos_fix = at_first_fix;
  Settings.enable_2d_navigation_after_first_pos_fix = after_first_fix;
  return 1;
}
S16 SETTINGS_set_tcxo_ppm_type(U08 type) {
  Settings.tcxo_ppm_type = type;
  return 1;
}

S16 SETTINGS_set_n_hz_position_rate(S16 rate) {
  if (std::find(POSITION_RATES_HZ.begin(), POSITION_RATES_HZ.end(), rate) == POSITION_RATES_HZ.end()) return 0;
  Settings.position_update_rate = static_cast<U08>(rate);
  return 1;
}
S16 SETTINGS_set_user_navigation_model(U08 model) {
  if (model >= N_NAV_MODELS) return 0;
  Settings.user_navigation_model = model;
  return 1;
}
S16 SETTINGS_set_number_of_gps_PSE(S16 n) {
  if (n < 0 || n > MAX_GPS_PSE) return 0;
  Settings.npse_gps = static_cast<U08>(n);
  return 1;
}

S16 SETTINGS_set_number_of_glonass_PSE(S16) { return 0; }
S16 SETTINGS_set_dazar_enable(U08) { return 0; }
S16 SETTINGS_set_sorrel_pps_clock_source_mode(U08) { return 0; }
S16 SETTINGS_set_timing_mode(const TIMING_T*) { return 0; }
S16 SETTINGS_set_pps_output_mode(U08) { return 0; }
S16 SETTINGS_set_pps_align_mode(U08) { return 0; }
S16 SETTINGS_set_freq_out_mode(const FREQ_OUT_T*) { return 0; }

U08 SETTINGS_is_power_saving_enabled() { return Settings.power_saving_enable; }
void SETTINGS_get_sbas_para(SBAS_PARAMETER_T* para) { *para = Settings.sbas_para; }
void SETTINGS_get_qzss_para(QZSS_PARAMETER_T* para) { *para = Settings.qzss_para; }
void SETTINGS_get_ref_time_to_sync_gps_time(USER_INPUT_TIME_SYNC_T* t) { *t = Settings.usr_in_time_sync; }
U08 SETTINGS_get_pse_duty_cycle_mode() { return Settings.pse_duty_cycle_mode; }
U08 SETTINGS_get_n_hz_position_rate() { return Settings.position_update_rate; }
U08 SETTINGS_get_rawmeas_output_rate() { return Settings.raw_meas_output_rate; }
U08 SETTINGS_get_user_navigation_model() { return Settings.user_navigation_model; }
U08 SETTINGS_get_nav_gnss_type_bits() { return Settings.gnss_solution_sel_bits; }
U08 SETTINGS_get_number_of_gps_PSE() { return Settings.npse_gps; }
U08 SETTINGS_get_number_of_glonass_PSE() { return Settings.npse_glonass; }
U08 SETTINGS_get_sorrel_pps_clock_source_mode() { return Settings.sorrel_pps_clock_source_mode; }
void SETTINGS_get_timing_mode(TIMING_T* t) { *t = Settings.timing; }
S32 SETTINGS_get_pps_cable_delay() { return Settings.timing_cable_delay; }
U32 SETTINGS_get_pps_width() { return Settings.timing_pps_width; }
U08 SETTINGS_get_pps_output_mode() { return Settings.timing_pps_output_mode; }
U08 SETTINGS_get_pps_align_mode() { return Settings.timing_pps_align_mode; }
void SETTINGS_get_freq_out_mode(FREQ_OUT_T* f) { *f = Settings.freq_out; }
void SETTINGS_get_elv_cnr_mask(ELV_CNR_MASK_T* mask) { *mask = Settings.elv_cnr_mask; }
void SETTINGS_get_dop_mask(DOP_MASK_T* mask) { *mask = Settings.dop_mask; }
U08 SETTINGS_get_tm_cal_noise_power_enable() { return Settings.tm_cal_np_enable; }
void SETTINGS_get_2d_navigation_mask(S16* at_first_fix, S16* after_first_fix) {
  *at_first_fix = Settings.enable_2d_navigation_at_first_pos_fix;
  *after_first_fix = Settings.enable_2d_navigation_after_first_pos_fix;
}
U08 SETTINGS_get_tcxo_ppm_type() { return Settings.tcxo_ppm_type; }
U08 SETTINGS_get_dazar_enable() { return 0; }
U08 SETTINGS_get_sbas_ranging_mode() {
  return Settings.sbas_para.sbas_enable_disable ? Settings.sbas_para.ranging_enable_disable : 0;
}
