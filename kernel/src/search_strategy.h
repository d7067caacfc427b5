// Search strategy state machine (SRST_): which list of search strategies the
// target's GPS search engine runs, and whether it runs at all this second
// (duty-cycled power saving).
//
// Each strategy is one to three search passes (a set: engine search mode,
// signal level, Doppler range, engine units). The machine has one state per
// kind of search (cold, normal cold, cold after fix, short hot-warm, hot-warm,
// fast hot, normal); a state's strategy list is handed out once per entry
// into the state (SRST_has_state_changed). The machine steps only in seconds
// in which the engine runs. Its inputs (fix mode, speed, satellites on the
// sky and tracked, valid almanacs) are set by the search tick (search.h)
// before each second's decision.
//
// Single-threaded; all state is static storage of the module.
#pragma once

#include <array>

#include "misc/gnss_types.h"

// Start modes.
enum : S16 {
  SRST_COLD_START = 0,
  SRST_SHORT_HOT_START = 1,
  SRST_HOT_WARM_START = 2,
  SRST_FAST_HOT_START = 3,
};

// Search states; the value is also the mode code sent with the state's list.
enum : S16 {
  SRST_COLD_SEARCH = 0,
  SRST_NORMAL_COLD_SEARCH = 1,
  SRST_COLD_AFTER_FIX_SEARCH = 2,
  SRST_SHORT_HOT_WARM_SEARCH = 3,
  SRST_HOT_WARM_SEARCH = 4,
  SRST_FAST_HOT_SEARCH = 5,
  SRST_NORMAL_SEARCH = 6,
  SRST_NUM_STATES = 7,
};

// Engine search modes.
enum : S16 {
  PSE_COLD_SEARCH = 0,
  PSE_HOT_WARM_SEARCH = 1,
  PSE_VERY_WEAK_SEARCH = 2,
};

// Doppler ranges (index of the frequency range table, search.h).
enum : S16 {
  SRST_RANGE_ONE_BIN = 0,
  SRST_RANGE_NARROW = 1,
  SRST_RANGE_NARROW_TO_MEDIUM = 2,
  SRST_RANGE_MEDIUM = 3,
  SRST_RANGE_WIDE = 4,
  SRST_RANGE_FULL = 5,
  SRST_RANGE_COVER_ALL = 6,
  SRST_NUM_RANGES = 7,
};

inline constexpr int SRST_MAX_SETS = 3;              // search passes per strategy
inline constexpr int SRST_MAX_STRATEGIES = 8;        // strategies per list (the engine's state table)
inline constexpr S16 SRST_MIN_PSE = 2;               // engine units the machine works with, at least
inline constexpr S16 SRST_MAX_PSE = 8;               // and at most
inline constexpr S32 SRST_HOT_THR_N = 20;            // entries of the hot threshold table (0..19 satellites)
inline constexpr S16 SRST_FAST_HOT_MAX_S = 90;       // fast hot search seconds over the whole run
inline constexpr S16 SRST_HOT_WARM_GIVE_UP_S = 360;  // hot-warm seconds before the fall back to cold
inline constexpr S16 SRST_SHORT_HOT_WARM_S = 10;     // short hot-warm seconds
inline constexpr S16 SRST_VERY_WEAK_S = 61;          // seconds of the very-weak pass in fast hot search
inline constexpr S16 SRST_FULL_TIME_NO_DIFF_S = 20;  // full-time seconds after a change of tracking
inline constexpr S16 SRST_FIRST_FULL_TIME_S = 90;    // full-time seconds after the first acquisitions
inline constexpr S16 SRST_CONT_FIX_MAX = 1000;       // cap of the continuous-fix counter

// One search pass: search_mode PSE_..., signal_mode SIG_LEVEL_... (channel.h),
// frequency_range SRST_RANGE_..., n_pse engine units (1..8).
struct SRST_SET_T {
  S16 search_mode;
  S16 signal_mode;
  S16 frequency_range;
  S16 n_pse;
};

// One strategy: nsets (1..3) passes, primary_set_ndx the pass the engine
// treats as primary (0..nsets-1).
struct SRST_STRATEGY_T {
  std::array<SRST_SET_T, SRST_MAX_SETS> srst_set;
  S16 primary_set_ndx;
  S16 nsets;
};

// Start the machine: n_pse engine units (clamped to 2..8), start mode
// SRST_..._START (cold start -> cold search, hot-warm start -> short hot-warm
// search, fast hot or short hot start -> fast hot search; anything else ->
// cold search). Every counter and flag zero, power saving on.
void SRST_init(S16 n_pse, S16 start_mode);

// Inputs of the second, set by the search tick before SRST_process_state.
// fix_mode FIX_NONE..FIX_DIFF; speed m/s. Also counts the continuous-fix
// seconds (0 below a 2-D fix, else +1 up to 1 000).
void SRST_set_fix_mode_and_speed(S16 fix_mode, F32 speed_mps);
// Satellites on the sky above 2 degrees (0..20, as sent with the Doppler list).
void SRST_set_nsv_on_sky(S16 nsv_on_sky);
// GPS-type channels in track or beyond, and those of them not in weak track.
void SRST_set_nsv_tracked(S16 nsv_tracked, S16 nsv_strong_tracked);
// Valid almanacs (0..38).
void SRST_set_nalm_valid(S16 nalm_valid);
// 1: all almanacs have been received (normal search may pause the engine).
void SRST_set_all_almanacs_ready(S16 ready);
// SBAS search enable 1/0; a change re-enters normal search.
void SRST_set_waas_enable(S16 enable);

// Duty cycle of the second: 1 when the engine runs this second, 0 when it
// pauses. n_vis: strongly tracked satellites above 2 degrees.
S16 SRST_process_state(S16 n_vis);
// One state step (only in seconds the engine runs): the current state's
// transition, entering the next state (or re-entering this one) as needed.
void SRST_step();

// 1 when a state was entered since the last SRST_clear_state_changed.
S16 SRST_has_state_changed();
void SRST_clear_state_changed();
// The current state's strategy list into list (caller's array of
// SRST_MAX_STRATEGIES entries). Returns the count (1..8); *mode_code_p (may
// be null) = the state's value.
S16 SRST_get_strategy_list(SRST_STRATEGY_T* list, S16* mode_code_p);

S16 SRST_get_state();        // SRST_..._SEARCH of the current state
S16 SRST_get_state_count();  // engine-running seconds in the current state
S16 SRST_get_npse();         // engine units, 2..8
S16 SRST_get_nsv_on_sky();   // as set last
// Threshold of tracked satellites for the end of the first full-time window,
// for nsv_on_sky visible satellites; counts beyond the table (20 and more)
// use its last entry, negative counts the first.
S16 SRST_get_hot_thr(S32 nsv_on_sky);
// Off period in seconds for the current fix mode and units: 2 units: 2 before
// a 3-D fix, 9 with one; more units: 0 and 4.
S16 SRST_get_off_period();
// Count the second: ran 1 as engine-running, 0 as paused.
void SRST_count_second(S16 ran);
// Engine-running and paused seconds since start.
S32 SRST_get_pse_on_sec_count();
S32 SRST_get_pse_off_sec_count();

// Forced switches (aiding entry points): short hot-warm search; normal cold search.
void SRST_switch_to_short_hot_warm_search();
void SRST_switch_to_normal_cold_search();
// 1 in cold or normal cold search.
S16 SRST_is_blind_search();

void SRST_set_power_off_mode(S16 on);  // 1: duty-cycled power saving allowed
S16 SRST_get_power_off_mode();         // the mode set last, 1/0
// The engine runs full time while the machine is in cold or normal cold
// search; the request is dropped once it leaves them.
void SRST_set_force_no_power_saving_in_cold_search();
// Allow one very-weak pass in fast hot search (from the hot-start time
// compensation); it runs for 61 seconds, once per run.
void SRST_can_do_very_weak_search_in_hot_start();
