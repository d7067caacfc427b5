// Kernel settings: one configuration record with defaults, a few range
// checks, and plain getters for the kernel modules.
#pragma once

#include "kernel/src/kernel_types.h"
#include "misc/gnss_types.h"

enum : S16 {
  TIMING_PVT_MODE = 0,
  TIMING_SURVEY_MODE = 1,
  TIMING_STATIC_MODE = 2,
};

enum : U08 {
  TIMING_PULSE_OUTPUT_NONE = 0,
  TIMING_PULSE_OUTPUT_IF_GPS_UTC_TIME_IS_AVALIABLE = 1,
  TIMING_PULSE_OUTPUT_ALWAYS_AND_ALIGN_TO_GPS_UTC_TIME_AUTOMATICALLY = 2,
};

enum : U08 {
  TIMING_PULSE_ALIGN_TO_GPS_TIME = 0,
  TIMING_PULSE_ALIGN_TO_UTC_TIME = 1,
};

struct TIMING_T {
  S16 mode;                // TIMING_..._MODE
  U32 survey_length;       // epochs
  U32 survey_std_div_thr;  // survey standard-deviation threshold
  POS_T accurate_ref_pos;  // ECEF, m
  LLA_T accurate_ref_lla;
};

struct FREQ_OUT_T {
  U32 hz;  // frequency output, Hz
};

struct DOP_MASK_T {
  U08 dop_mask_mode;  // DOP_MASK_...
  F32 pdop_mask;
  F32 hdop_mask;
  F32 gdop_mask;
};

struct SETTINGS_T {
  U08 position_update_rate;  // Hz
  U08 power_saving_enable;
  U08 pse_duty_cycle_mode;
  U08 raw_meas_output_rate;
  SBAS_PARAMETER_T sbas_para;
  QZSS_PARAMETER_T qzss_para;
  USER_INPUT_TIME_SYNC_T usr_in_time_sync;
  U08 user_navigation_model;   // NMODEL_DEFAULT .. AIRBORNE
  U08 gnss_solution_sel_bits;  // bit 0 = GPS
  U08 npse_gps;                // 0..8
  U08 npse_glonass;
  U08 dazar_enable;
  U08 tm_cal_np_enable;
  U08 tcxo_ppm_type;
  U08 sorrel_pps_clock_source_mode;
  TIMING_T timing;
  FREQ_OUT_T freq_out;
  S32 timing_cable_delay;  // 1PPS cable delay, 0.01 ns
  U32 timing_pps_width;    // 1PPS pulse width, us
  U08 timing_pps_output_mode;
  U08 timing_pps_align_mode;
  ELV_CNR_MASK_T elv_cnr_mask;
  DOP_MASK_T dop_mask;
  U08 enable_2d_navigation_at_first_pos_fix;
  U08 enable_2d_navigation_after_first_pos_fix;
};

void SETTINGS_init();

// Plain stores (return 1).
S16 SETTINGS_set_power_saving_enable(U08 enable);
S16 SETTINGS_set_sbas_para(const SBAS_PARAMETER_T* para);
S16 SETTINGS_set_qzss_para(const QZSS_PARAMETER_T* para);
S16 SETTINGS_set_ref_time_to_sync_gps_time(const USER_INPUT_TIME_SYNC_T* t);
S16 SETTINGS_set_pse_duty_cycle_mode(U08 mode);
S16 SETTINGS_set_rawmeas_output_rate(U08 rate);
S16 SETTINGS_set_nav_gnss_type_bits(U08 bits);
S16 SETTINGS_set_pps_cable_delay(S32 delay);
S16 SETTINGS_set_pps_width(U32 width);
S16 SETTINGS_set_elv_cnr_mask(const ELV_CNR_MASK_T* mask);
S16 SETTINGS_set_dop_mask(const DOP_MASK_T* mask);
S16 SETTINGS_set_tm_cal_noise_power_enable(U08 enable);
S16 SETTINGS_set_2d_navigation_mask(U08 at_first_fix, U08 after_first_fix);
S16 SETTINGS_set_tcxo_ppm_type(U08 type);

// Checked stores: 0 and no change for a value out of range.
S16 SETTINGS_set_n_hz_position_rate(S16 rate);      // 1, 2, 4, 5, 8, 10, 20, 25, 40, 50
S16 SETTINGS_set_user_navigation_model(U08 model);  // 0..5
S16 SETTINGS_set_number_of_gps_PSE(S16 n);          // 0..8

// Not supported by this kernel: store nothing, return 0.
S16 SETTINGS_set_number_of_glonass_PSE(S16 n);
S16 SETTINGS_set_dazar_enable(U08 enable);
S16 SETTINGS_set_sorrel_pps_clock_source_mode(U08 mode);
S16 SETTINGS_set_timing_mode(const TIMING_T* t);
S16 SETTINGS_set_pps_output_mode(U08 mode);
S16 SETTINGS_set_pps_align_mode(U08 mode);
S16 SETTINGS_set_freq_out_mode(const FREQ_OUT_T* f);

// Getters.
U08 SETTINGS_is_power_saving_enabled();
void SETTINGS_get_sbas_para(SBAS_PARAMETER_T* para);
void SETTINGS_get_qzss_para(QZSS_PARAMETER_T* para);
void SETTINGS_get_ref_time_to_sync_gps_time(USER_INPUT_TIME_SYNC_T* t);
U08 SETTINGS_get_pse_duty_cycle_mode();
U08 SETTINGS_get_n_hz_position_rate();
U08 SETTINGS_get_rawmeas_output_rate();
U08 SETTINGS_get_user_navigation_model();
U08 SETTINGS_get_nav_gnss_type_bits();
U08 SETTINGS_get_number_of_gps_PSE();
U08 SETTINGS_get_number_of_glonass_PSE();
U08 SETTINGS_get_sorrel_pps_clock_source_mode();
void SETTINGS_get_timing_mode(TIMING_T* t);
S32 SETTINGS_get_pps_cable_delay();
U32 SETTINGS_get_pps_width();
U08 SETTINGS_get_pps_output_mode();
U08 SETTINGS_get_pps_align_mode();
void SETTINGS_get_freq_out_mode(FREQ_OUT_T* f);
void SETTINGS_get_elv_cnr_mask(ELV_CNR_MASK_T* mask);
void SETTINGS_get_dop_mask(DOP_MASK_T* mask);
U08 SETTINGS_get_tm_cal_noise_power_enable();
void SETTINGS_get_2d_navigation_mask(S16* at_first_fix, S16* after_first_fix);
U08 SETTINGS_get_tcxo_ppm_type();
U08 SETTINGS_get_dazar_enable();  // always 0
// 0 while SBAS is disabled, else the ranging mode (SBAS_RANGING_MODE_...).
U08 SETTINGS_get_sbas_ranging_mode();
