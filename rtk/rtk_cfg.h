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

// Fills *opt_p (the caller's, overwritten entirely) with the engine's
// defaults for the given systems (SYS_ bits; SBAS is added), C/N0 masks
// (dB-Hz; geo_snr_mask for SBAS and BeiDou GEO satellites) and elevation
// mask (deg, stored in rad). exsats_p: count, then that many satellite
// indexes (1..MAXSAT) to exclude; may be null; read during the call only.
// With a valid master configuration, its ratio threshold and the rover
// function (float-only or moving base with its baseline) apply.
void RTK_CFG_get(prcopt_t* opt_p, int navsys, int snr_mask, int geo_snr_mask, int elv_mask, int* exsats_p);
// Clears the master configuration and its validity; rover function normal,
// moving-base baseline 0.
void RTK_CFG_init();
// Non-zero: RTK_CFG_get applies the master configuration and the rover function.
void RTK_CFG_set_rtk_cfg_is_valid(int valid);
// Copies the master configuration block (the caller keeps its own); null is ignored.
void RTK_CFG_set_by_master(const RTK_CFG_T* cfg);
// Rover function (RTK_ROVER_FUNC_...) and, for a moving base, the known
// baseline length, m. Returns 1, or 0 without a change for a function outside 0..2.
int RTK_CFG_set_rtk_rover_func(int func, F32 moving_base_baseline_m);
// No effect; returns 1.
int RTK_CFG_set();
// on != 0 (the start value): RTK_CFG_get switches on the filter's integrity
// checks and fix validation (prcopt_t.integrity); 0: the plain filter.
void RTK_CFG_set_integrity(int on);
// Re-entry lock-out of RTK_CFG_get (prcopt_t.snr_reentry): a rover satellite
// whose C/N0 fell below its mask stays out of the engine for this many rover
// epochs in which it is observed, the epoch below the mask counting as the
// first (20, the start value: the satellite is used again 19 epochs after the
// dip, 19 s at 1 Hz, 3.8 s at 5 Hz); 0: no lock-out. Not given while the
// satellite's last known elevation is below the elevation mask. Returns 1, or 0
// without a change for a value outside 0..600 epochs.
int RTK_CFG_set_snr_reentry(double epochs);
