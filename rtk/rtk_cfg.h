// Processing options of the RTK engine and the optional master configuration.
#pragma once

#include "rtk/rtk_cmn.h"

enum : int {
  RTK_ROVER_FUNC_NORMAL = 0,
  RTK_ROVER_FUNC_FLOAT = 1,        // float-only rover
  RTK_ROVER_FUNC_MOVING_BASE = 2,  // moving base with a known baseline length
};

// Master configuration block (64 bytes).
struct RTK_CFG_T {
  U16 ar_fix_ratio_scale_100;  // ratio threshold x 100
  S16 mask_elv;                // deg
  S16 mask_cn0;                // dB-Hz
  S16 mask_cn0_for_geo;        // dB-Hz
  U32 mask_gps_prn, mask_gal_prn, mask_glo_slt, mask_bd2_prn_01_32;
  U08 mask_bd2_prn_33_40, mask_qzs_prn;
  U08 rsvd0[6];
  U08 rsvd1[32];
};
static_assert(sizeof(RTK_CFG_T) == 64, "master configuration block is 64 bytes");

// Fills *opt_p with the engine's defaults for the given systems (SYS_ bits),
// C/N0 masks (dB-Hz) and elevation mask (deg). exsats_p: count, then that
// many satellite indexes to exclude (may be null).
void RTK_CFG_get(prcopt_t* opt_p, int navsys, int snr_mask, int geo_snr_mask, int elv_mask, int* exsats_p);
void RTK_CFG_init();
void RTK_CFG_set_rtk_cfg_is_valid(int valid);
void RTK_CFG_set_by_master(const RTK_CFG_T* cfg);
int RTK_CFG_set_rtk_rover_func(int func, F32 moving_base_baseline_m);  // 0 for a function above 2
int RTK_CFG_set();
