// The navigation driver's fix record and flags, shared by the driver's source
// files only (kernel/src/navigate*.cpp). Nothing outside the module includes
// this header: the rest of the kernel reads the record through the NV_get_...
// readers of kernel/src/navigate.h.
#pragma once

#include <array>

#include "kernel/src/kernel_types.h"
#include "kernel/src/settings.h"
#include "misc/gnss_types.h"

// Per-channel flag bits of channel_meas_flags.
enum : U08 {
  NV_CH_SHOW_USED = 1U << 0,
  NV_CH_PR_USED = 1U << 2,
  NV_CH_DIFFERENTIAL = 1U << 3,
  NV_CH_SBAS_BROADCAST = 1U << 4,
  NV_CH_DR_USED = 1U << 5,
};

struct NV_DATA_T {
  S16 wn;   // full GPS week of the fix
  D64 tow;  // s of week of the fix (receiver time corrected by the clock bias)
  POS_T pos;
  VEL_T vel;
  ACC_T acc;  // velocity change since the last fix, m/s
  LLA_T lla;
  VEL_ENU_T vel_enu;
  D64 lat_deg, lon_deg;
  D64 cbias;      // m
  D64 ctsys_glo;  // m
  F32 cdrift;     // m/s
  F32 cdtsys_glo;
  F32 speed, show_speed, speed_vu;  // m/s
  F32 course;                       // degrees
  F32 enu[3][3];                    // ECEF-to-ENU rotation, rows east, north, up
  std::array<U08, 20> channel_meas_flags;
  F32 gdop, pdop, tdop, hdop, ndop, edop, vdop;
  F32 show_gdop, show_pdop, show_tdop, show_hdop, show_vdop;
  F32 EPE;  // m
  // Working state of the epoch (predicted, then corrected).
  POS_T tmp_pos;
  D64 tmp_cbias, tmp_ctsys_glo;
  LLA_T tmp_lla;
  VEL_T tmp_vel;
  VEL_ENU_T tmp_vel_enu;
  F32 tmp_cdrift, tmp_cdtsys_glo;
  S16 last_gtc_wn, last_fix_wn;
  D64 last_gtc_sec, last_fix_tow;
  F32 last_good_3D_alt;  // m
  U32 fix_count, fix_3D_count;
  U16 total_move_count, move_count;
  U16 cont_no_fix_count, cont_real_fix_count, last_cont_real_fix_count;
  S16 fix_sats, show_fix_sats;
  S16 has_fixed, has_3D_fixed;
  S16 fix_mode, last_fix_mode;
  S16 good_carrier_position_flag, cont_no_good_carrier_postion_count;
  S08 vel_use_good_carrier_meas, pos_use_may_convergence_meas, kmf_add_pseudo_sv, lsq_add_pseudo_sv;
  S16 method;
  S16 use_PR_meas_fix;
  S16 navi_type;
  F32 last_lsq_dx_enu[3], last_use_dx_en[2];
  S16 has_last_lsq_dx_en, has_last_use_dx_en;
  F32 pr_residual_sigma, dr_residual_sigma;  // m, m/s
  S16 has_residual_sigma;
  S16 not_enough_meas_in_count;
  S16 has_acc_sddr_sigma, turn_off_acc_sddr_sigma_flag;
  F32 acc_sddr_sigma;
  S16 has_force_drop_fix_once_by_acc_carrier_slots_check;
  S16 body_fixed_frame_filter_enabled, cont_has_speed_count_for_bff_filter, cont_has_no_speed_count_for_bff_filter;
  F32 dx[5];
  // Error statistics of the last least-squares fix.
  S16 has_error_statistics;
  F32 err_rms, err_semi_major, err_semi_minor, err_orientation;
  F32 err_enu[3];
};

struct NV_FLAGS_T {
  S16 Need_force_3D_first_fix_for_hot_start_application;
  S16 Enable_2D_first_fix;
  S16 Enable_2D_fix;
  S16 Has_updated_gtc;
  S16 Has_stored_init_time;
  S16 Has_stored_init_position;
  S16 Has_clock_bias;
  S16 Sbas_status;
  S16 Use_dgps_correction;
};

// The module's single instances (defined in kernel/src/navigate.cpp).
NV_DATA_T& NV_record();
NV_FLAGS_T& NV_flag_record();
S16 NV_no_fix_by_dop_mask_flag();
S16 NV_sg_signal_flag();
