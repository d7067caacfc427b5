// Kernel search (KSEARCH_): the kernel's entry to the GPS search strategy.
// Chooses the start mode, keeps the clock (frequency) offset the search
// engine searches around, and watches for the moment all almanacs have been
// received. The per-second work is the search tick (search.h) and the state
// machine (search_strategy.h).
//
// Engine frequency units (search NCO units): offset0 + s x Hz, s the search
// NCO scale in units per Hz (TCXO_get_pse_nco_offset0 / _freq_scale),
// truncated and saturated to S32.
//
// Single-threaded; all state is static storage of the module.
#pragma once

#include "kernel/src/search_strategy.h"
#include "misc/gnss_types.h"

inline constexpr S32 KSEARCH_FAST_HOT_MAX_DT_S = 900;  // time since the last fix below which a hot start is fast
inline constexpr S32 KSEARCH_SBAS_CLOCK_MAX_DIFF_HZ = 500;
// Hz per m/s at L1: 1575.42 MHz / speed of light.
inline constexpr D64 KSEARCH_MPS_TO_HZ_L1 = 5.2550354685707275;

// Start, once per kernel start. npse_used: engine units (at most 8 count);
// do_power_save 1/0; search_duty_mode and tcxo_ppm as in KERNEL_INIT_T;
// init_clock_offset_hz: start clock offset, Hz; can_do_hot_start 1/0;
// elapse_dt: time since the last fix, s. Sends the first search commands
// (one search tick and the clock offset).
void KSEARCH_init(S16 npse_used, S16 do_power_save, S16 search_duty_mode, S16 tcxo_ppm, S32 init_clock_offset_hz,
                  S16 can_do_hot_start, S32 elapse_dt);
// Start mode SRST_..._START before the sky check: a fast hot start when a hot
// start is possible and elapse_dt < 900 s, a hot-warm start when possible at
// 900 s or more, else a cold start.
S16 KSEARCH_start_mode(S16 can_do_hot_start, S32 elapse_dt);
// Once a second: clock offset from the fix's drift (or an SBAS channel's
// frequency), the search tick, and the all-almanacs check until it succeeds.
void KSEARCH_process();
// 1 and short hot-warm search when at least 6 GPS satellites are on the sky
// (sky view), else 0.
S16 KSEARCH_force_GPS_switch_to_hot_search();
S16 KSEARCH_force_GPS_switch_to_cold_search();  // 1: normal cold search
S16 KSEARCH_is_GPS_in_blind_search_mode();      // 1 in cold or normal cold search
void KSEARCH_set_event_clear_all_almanacs();    // all almanacs were deleted: almanac readiness cleared
// SBAS search enable 1/0: recorded for the state machine (normal search
// re-sends its list on a change) and passed to the target proxy.
void KSEARCH_set_enable_waas_search(S16 enable);
// Pass straight to PSE_update_sbas_limitation / PSE_update_qzss_limitation.
void KSEARCH_update_sbas_limitation(U08 sbas_subsystem_mask, U08 sbas_max_n_tm);
void KSEARCH_set_enable_qzss_search(S16 enable, S16 max_num);
// Current clock offset in engine units; the clock offset last taken from an
// SBAS channel (engine units, 0 when none); the start offset in Hz (replaced
// by -f when an SBAS frequency f disagreed with it by more than 500 Hz).
S32 KSEARCH_get_clock_offset();
S32 KSEARCH_get_clock_offset_via_sbas();
S32 KSEARCH_get_init_clock_offset_hz();
// 1 once all almanacs have been received (cleared by
// KSEARCH_set_event_clear_all_almanacs).
S16 KSEARCH_has_received_all_almanacs();
// All almanacs received now: the GPS week settled (time-count week confirmed),
// both health pages valid and ALM_check_received_all_almanacs at that week. 1/0.
S16 KSEARCH_check_received_all_almanacs();
