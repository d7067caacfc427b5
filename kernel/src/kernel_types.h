// Records the host program hands to the kernel at start-up.
#pragma once

#include "misc/gnss_types.h"

enum : U08 {
  SBAS_RANGING_MODE_DISABLE = 0,
  SBAS_RANGING_MODE_ENABLE = 1,
  SBAS_RANGING_MODE_AUTO = 2,
};

enum : U08 {
  ELV_CNR_MASK_DISABLE = 0,
  ELV_CNR_MASK_AUTO = 1,
  ELV_CNR_MASK_ELV_ONLY = 2,
  ELV_CNR_MASK_CNR_ONLY = 3,
};

enum : S16 {
  DOP_MASK_DISABLE = 0,
  DOP_MASK_AUTO = 1,
  DOP_MASK_PDOP_ONLY = 2,
  DOP_MASK_HDOP_ONLY = 3,
  DOP_MASK_GDOP_ONLY = 4,
};

struct SBAS_PARAMETER_T {
  U08 sbas_enable_disable;
  U08 ranging_enable_disable;  // SBAS_RANGING_MODE_...
  U08 ranging_ura_mask;
  U08 correction_enable_disable;
  U08 num_of_tracking_channels;
  U08 subsystem_mask;
};

struct QZSS_PARAMETER_T {
  U08 qzss_enable_disable;
  U08 qzss_max_num;
};

// A user reference date that settles the GPS week.
struct USER_INPUT_TIME_SYNC_T {
  S16 enable_disable;
  S16 year;
  S16 month;
  S16 day;
};

struct KERNEL_INIT_DOP_MASK_T {
  S16 mask_mode_S16;  // DOP_MASK_...
  U16 pdop_mask_U16;  // 0.1
  U16 hdop_mask_U16;  // 0.1
  U16 gdop_mask_U16;  // 0.1
};

struct ELV_CNR_MASK_T {
  U08 elv_cnr_select_mode;  // ELV_CNR_MASK_...
  S16 elv_mask;             // degrees
  S16 cnr_mask;             // dB-Hz
};

// Optional user position and time (48 bytes where it is stored in a file).
struct KERNEL_INIT_POS_TIME_T {
  D64 lat_deg;             // degrees
  D64 lon_deg;             // degrees
  D64 alt;                 // metres
  S16 time_format_select;  // 0: calendar fields are UTC; else wn/tow as they stand
  S16 wn;
  S32 tow;  // s
  U16 year, month, day, hour, minute, sec;
  U32 rsvd;
};

// Kernel initialisation record (88 bytes where it is stored in a file, with
// 32-bit addresses; in memory the addresses are real pointers).
struct KERNEL_INIT_T {
  U08* backup_mem_p;     // backup memory region
  U08* nvram_alm_mem_p;  // almanac storage
  const U08* nvram_alm_const_mem_p;
  KERNEL_INIT_POS_TIME_T* init_pos_p;  // optional user position and time
  S16 force_warm;
  S16 force_cold;
  S16 power_saving_mode;
  S16 tcxo_freq_mode;
  S16 rf_bit_mode;
  S16 tcxo_ppm;
  S16 npse;
  S16 pse_duty_power_mode;
  S16 dazar_mode;
  SBAS_PARAMETER_T sbas_para;
  QZSS_PARAMETER_T qzss_para;
  USER_INPUT_TIME_SYNC_T usr_in_time_sync;
  S16 reset_kernel_settings;
  S16 tm_cal_np_enable;
  U16 gnss_select_bits;    // bit 0 = GPS
  U16 position_rate;       // fixes per second; 0 keeps the stored rate
  S16 nav_platform_model;  // NMODEL_...
  U16 rsvd;
  KERNEL_INIT_DOP_MASK_T dop_mask;
  S16 enable_2D_navigation_at_first_pos_fix;
  S16 enable_2D_navigation_after_first_pos_fix;
  S32 clock_offset_from_flash;  // Hz
  S16 leap_sec_from_flash;      // s
  ELV_CNR_MASK_T elv_cnr_mask;
};
