// Search tick (SRCH_): once a second it tells the target's GPS search engine
// the receiver-static hint, the satellites on the sky with their predicted
// Dopplers (every 15 s), the clock offset to search around (every second),
// the correlation-level counts of the tracked channels, whether the engine
// runs or pauses this second, and, when the search state machine
// (search_strategy.h) enters a state, its strategy list converted into the
// engine's search states.
//
// Engine frequency units (search NCO units): offset0 + s x Hz, s the search
// NCO scale (units per Hz, TCXO_get_pse_nco_freq_scale), truncated.
//
// Single-threaded; all state is static storage of the module.
#pragma once

#include "kernel/src/search_strategy.h"
#include "misc/gnss_types.h"
#include "misc/host_msg.h"

inline constexpr int SRCH_NUM_SIG_LEVELS = 11;  // SIG_LEVEL_120DBM .. SIG_LEVEL_VERY_WEAK
inline constexpr int SRCH_NUM_GPS_IDS = 38;     // GPS-type satellites: GPS 1..32, QZSS 33..37, spare 38
inline constexpr int SRCH_DOPP_LIST_N = 20;     // satellites sent with the Doppler list
inline constexpr S16 SRCH_SORT_SV_PERIOD_S = 15;
inline constexpr S32 SRCH_MAX_BINS = 255;
inline constexpr D64 SRCH_VISIBLE_ELEVATION_DEG = 2.0;  // "on the sky": above 2 degrees
inline constexpr S16 SRCH_HOT_START_MIN_SV = 7;         // satellites above 2 degrees a hot start needs

// Start: n_pse engine units (2..8), start mode SRST_..._START, clock_offset
// in engine units, search_duty_mode (kept), tcxo_ppm (1: the wider Doppler
// ranges get 6 000 Hz more). A hot-warm, fast hot or short hot start becomes
// a cold start unless more than 6 GPS-type satellites are above 2 degrees
// (SV_ elevations). Builds the bin-step and frequency-range tables from the
// current TCXO scale, starts the state machine, runs one search tick and
// sends the clock offset.
void SRCH_init(S16 n_pse, S16 start_mode, S32 clock_offset, S16 search_duty_mode, S16 tcxo_ppm);
// The start mode actually used for start_mode with n_above GPS-type
// satellites above 2 degrees: start_mode for a cold start or n_above > 6,
// else SRST_COLD_START.
S16 SRCH_start_mode_for_sky(S16 start_mode, S32 n_above);
// GPS-type satellites (ids 1..38) with a computed elevation above 2 degrees.
S16 SRCH_count_gps_above_2deg();

// The per-second tick, clock_offset in engine units.
void SRCH_tick(S32 clock_offset);

// Bins of one search pass: the range of frequency_range (SRST_RANGE_...,
// engine units; with tcxo_ppm 1 the full and cover-all ranges get 6 000 s
// more) over the bin step of signal_mode (SIG_LEVEL_...): (range - 1) / step
// + 1, made odd, at most 255. Out-of-table indices give 1 bin.
S32 SRCH_get_bins(S16 signal_mode, S16 frequency_range);
// One strategy as an engine search state (unused sets zero).
void SRCH_convert_strategy(const SRST_STRATEGY_T* strategy, PSE_STATE_T* state);
// The state machine's current list converted and sent (PSE_SET) with the
// state's mode code. Returns the number of states sent.
S16 SRCH_send_strategy_list();

// Tables built at start (engine units): bin step per signal level 0..10 and
// Doppler range per SRST_RANGE_... 0..6; 0 outside the tables.
S32 SRCH_get_bin_step(S16 signal_mode);
S32 SRCH_get_frequency_range(S16 frequency_range);
