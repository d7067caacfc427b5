// Operations of the kernel's modules that the kernel frame (start-up, ticks,
// callback wiring, kernel interface) calls, grouped by subsystem.
//
// Every module is real: most operations are declared in the module's own
// header (included below); this file keeps the few the frame calls that
// have no header of their own, with their contracts.
//
// Conventions: GPS week numbers are full weeks (S16) unless said otherwise,
// times of week are seconds (S32 or D64), "time count" is the target's
// measurement clock (week, second, millisecond registers). Satellite ids are
// the kernel's (GPS 1..32, QZSS 33..37, SBAS 120..138). Every record is static
// storage of its module; handles (CHAN_T ...) point to fixed per-channel or
// per-satellite slots that live for the whole run. Word arrays handed in
// (const U32* ...) are read during the call only.
//
// Backup-memory pieces are laid out by offset from the start of the backup
// region (U08* region_p, U32 offset), never by absolute address. The region is
// the host program's image (HOST_IMAGE_SIZE bytes); the modules keep the
// pointer and work in it for the rest of the run.
#pragma once

#include "kernel/src/almanac.h"
#include "kernel/src/bitcount_handler.h"
#include "kernel/src/carrier_cycles.h"
#include "kernel/src/carrier_smoothing.h"
#include "kernel/src/channel.h"
#include "kernel/src/correction.h"
#include "kernel/src/dbits_collect.h"
#include "kernel/src/ephemeris.h"
#include "kernel/src/gtc_adjust.h"
#include "kernel/src/kalman_filter.h"
#include "kernel/src/kernel_1pps.h"
#include "kernel/src/kernel_fast_fs.h"
#include "kernel/src/kernel_handles.h"
#include "kernel/src/kernel_meas_check.h"
#include "kernel/src/kernel_meas_predict.h"
#include "kernel/src/kernel_search.h"
#include "kernel/src/kernel_types.h"
#include "kernel/src/least_square_raim.h"
#include "kernel/src/meas_predictor.h"
#include "kernel/src/nav_bad_meas.h"
#include "kernel/src/nav_estimation_inputs.h"
#include "kernel/src/nav_model.h"
#include "kernel/src/navigate.h"
#include "kernel/src/range.h"
#include "kernel/src/raw_meas.h"
#include "kernel/src/rtc.h"
#include "kernel/src/satellite.h"
#include "kernel/src/sbas_decode.h"
#include "kernel/src/sbas_geo.h"
#include "kernel/src/sf_collect.h"
#include "kernel/src/sky_view.h"
#include "kernel/src/sv_health.h"
#include "kernel/src/utc.h"
#include "misc/gnss_types.h"

// ---------------------------------------------------------------------------
// Handles: pointers to fixed per-channel or per-satellite records.
// ---------------------------------------------------------------------------
// (CHAN_T, RNG_T, CCYCLE_T, SV_T, BC_T, DBCollect_T, EPH_T: kernel/src/kernel_handles.h)
// (NV_ESTIN_T: kernel/src/nav_estimation_inputs.h)

// ---------------------------------------------------------------------------
// Callback types (installed by the kernel frame at start; an uninstalled
// callback is skipped)
// ---------------------------------------------------------------------------
// One SBAS message block of GEO prn (120..138): the words and the message type.
using SBAS_GEO_BLOCK_CALLBACK_T = void (*)(S16 prn, const U32* dws_p, S16 msg_type);

// ---------------------------------------------------------------------------
// Measurements and navigation
// ---------------------------------------------------------------------------
// Raw measurements (RAW_) and channels (CH_): kernel/src/raw_meas.h and
// kernel/src/channel.h (included above).

// Ranges (RNG_): kernel/src/range.h; carrier cycles (CCYCLE_), carrier
// smoothing (CS_) and propagation corrections (COR_):
// kernel/src/carrier_cycles.h, carrier_smoothing.h and correction.h (included
// above).

// Navigation (NV_) and its fix record: kernel/src/navigate.h; platform models
// (NVMODEL_): kernel/src/nav_model.h; Kalman filter (KMF_) and static
// position filter (SPMFILTER_): kernel/src/kalman_filter.h and static_filter.h
// (the first included above).
// Estimation inputs of the fix (NVESTIN_), the least-squares fix with RAIM
// (LSQRAIM_) and the bad-measurement screens (NVBADMEAS_):
// kernel/src/nav_estimation_inputs.h, least_square_raim.h and nav_bad_meas.h
// (included above).

// Measurement checks (KMCHECK_): after each epoch, act on the navigation's
// verdicts (clear an ephemeris, shift a code by 1 ms, drop a channel) and
// drop interference and cross-correlation tracks: kernel/src/kernel_meas_check.h
// (included above).

// Measurement prediction for the target (KMPREDICT_, MP_), once a second:
// kernel/src/kernel_meas_predict.h and meas_predictor.h (included above).

// ---------------------------------------------------------------------------
// Satellite data
// ---------------------------------------------------------------------------
// GPS data-bit collectors (DBC_), bit-count handlers (BC_) and subframe
// collectors (SFC_): kernel/src/dbits_collect.h, bitcount_handler.h,
// sf_collect.h.

// Ephemerides (EPH_), in the backup region: kernel/src/ephemeris.h.

// Almanac (ALM_), satellite health (SVH_) and sky view (SVSKY_), in the
// backup region where they keep data: kernel/src/almanac.h, sv_health.h and
// sky_view.h (included above).

// GPS time and UTC (UTC_): kernel/src/utc.h (included above).

// Satellite table (SV_, GSV_): kernel/src/satellite.h (included above).
// The sky view's computation schedule (KSVCALC_, in kernel/src/sky_view.cpp).
void KSVCALC_init(S16 can_do_hot_start);  // 1: hot start, positions from the restored state
void KSVCALC_process();                   // once a second: satellite positions and sky view
// Fast frame sync (KFASTFS_) and the bit-count prediction before frame sync
// it runs (BCP_): kernel/src/kernel_fast_fs.h and bitcount_predictor.h (the
// first included above).

// ---------------------------------------------------------------------------
// Search and clock
// ---------------------------------------------------------------------------
// Time count to GPS time (GTCADJ_): kernel/src/gtc_adjust.h.

// RTC (KRTC_): kernel/src/rtc.h (included above).

// Search strategy (KSEARCH_, SRCH_, SRST_): kernel/src/kernel_search.h (included above).

// 1PPS (K1PPS_): kernel/src/kernel_1pps.h (included above).

// ---------------------------------------------------------------------------
// SBAS and QZSS
// ---------------------------------------------------------------------------
// SBAS settings and GEO records (KWAAS_, SBAS_GEO_) and QZSS settings (KQZSS_):
// kernel/src/sbas_geo.h (included above).
// SBAS message decoding (SBAS_DBC_, SBAS_BKC_, VTB_): kernel/src/sbas_decode.h (included above).
