// Search strategy state machine: states, transitions, strategy tables and the
// engine's duty cycle.
#include "kernel/src/search_strategy.h"

#include <algorithm>
#include <span>

#include "kernel/src/channel.h"
#include "kernel/src/navigate.h"

namespace {

// --- Strategy tables --------------------------------------------------------------------
// Units of a set: values >= 1 are a number of units, values <= 0 are relative
// to the machine's units N (0: N, -1: N - 1, -2: N - 2).
constexpr S16 U_N = 0;
constexpr S16 U_N1 = -1;
constexpr S16 U_N2 = -2;

constexpr S16 COLD = PSE_COLD_SEARCH;
constexpr S16 HOT = PSE_HOT_WARM_SEARCH;
constexpr S16 WEAK = PSE_VERY_WEAK_SEARCH;

constexpr SRST_SET_T NO_SET{0, 0, 0, 0};

constexpr SRST_STRATEGY_T one(SRST_SET_T a) { return {{a, NO_SET, NO_SET}, 0, 1}; }
constexpr SRST_STRATEGY_T two(SRST_SET_T a, SRST_SET_T b, S16 primary = 0) { return {{a, b, NO_SET}, primary, 2}; }
constexpr SRST_STRATEGY_T three(SRST_SET_T a, SRST_SET_T b, SRST_SET_T c) { return {{a, b, c}, 0, 3}; }

constexpr std::array<SRST_STRATEGY_T, 4> NORMAL_COLD_TBL = {
    two({COLD, 1, 6, U_N2}, {COLD, 0, 6, 2}),
    two({COLD, 2, 5, U_N1}, {COLD, 1, 6, 1}),
    two({COLD, 5, 5, U_N1}, {COLD, 1, 6, 1}),
    two({COLD, 6, 5, U_N1}, {COLD, 1, 6, 1}),
};
// First normal cold strategy with only 2 units.
constexpr SRST_STRATEGY_T NORMAL_COLD_2PSE_FIRST = two({COLD, 1, 6, 1}, {COLD, 0, 6, 1});

constexpr std::array<SRST_STRATEGY_T, 4> COLD_AFTER_FIX_TBL = {
    two({COLD, 1, 6, U_N2}, {COLD, 0, 6, 2}),
    two({COLD, 2, 5, U_N1}, {COLD, 1, 6, 1}),
    three({COLD, 5, 5, U_N2}, {COLD, 1, 6, 1}, {WEAK, 9, 0, 1}),
    three({COLD, 6, 5, U_N2}, {COLD, 1, 6, 1}, {WEAK, 9, 0, 1}),
};

constexpr std::array<SRST_STRATEGY_T, 6> SHORT_HOT_WARM_TBL = {
    one({HOT, 0, 3, U_N}), one({HOT, 1, 3, U_N}), one({HOT, 2, 3, U_N}),
    one({HOT, 3, 2, U_N}), one({HOT, 4, 2, U_N}), two({HOT, 7, 2, U_N1}, {HOT, 1, 5, 1}),
};

constexpr std::array<SRST_STRATEGY_T, 8> HOT_WARM_TBL = {
    one({HOT, 0, 3, U_N}),  one({HOT, 1, 3, U_N}), one({HOT, 2, 3, U_N}), one({COLD, 1, 5, U_N}),
    one({COLD, 2, 5, U_N}), one({HOT, 3, 3, U_N}), one({HOT, 4, 3, U_N}), two({HOT, 8, 1, U_N1}, {HOT, 1, 5, 1}),
};

// The last fast hot strategy depends on the very-weak permission.
constexpr std::array<SRST_STRATEGY_T, 8> FAST_HOT_TBL = {
    one({HOT, 0, 3, U_N}),  one({HOT, 1, 3, U_N}), one({HOT, 2, 3, U_N}), one({COLD, 1, 0, U_N}),
    one({COLD, 2, 0, U_N}), one({HOT, 3, 0, U_N}), one({HOT, 4, 0, U_N}), two({HOT, 8, 1, U_N1}, {HOT, 1, 5, 1}),
};
constexpr SRST_STRATEGY_T FAST_HOT_VERY_WEAK_LAST = two({WEAK, 9, 0, U_N1}, {HOT, 1, 5, 1});

constexpr std::array<SRST_STRATEGY_T, 7> NORMAL_FEW_PSE_TBL = {
    two({HOT, 1, 1, 1}, {COLD, 1, 5, 1}),     two({HOT, 2, 1, 1}, {COLD, 1, 5, 1}), one({COLD, 0, 6, 2}),
    two({HOT, 3, 1, 1}, {COLD, 1, 5, 1}),     two({HOT, 4, 1, 1}, {COLD, 1, 5, 1}), one({COLD, 0, 6, 2}),
    two({WEAK, 9, 0, U_N1}, {COLD, 1, 5, 1}),
};

constexpr std::array<SRST_STRATEGY_T, 7> NORMAL_MANY_PSE_TBL = {
    one({HOT, 2, 2, U_N}),
    one({COLD, 1, 5, U_N}),
    one({HOT, 3, 2, U_N}),
    one({COLD, 1, 5, U_N}),
    two({COLD, 0, 5, 1}, {HOT, 4, 2, U_N1}, 1),
    one({COLD, 1, 5, U_N}),
    three({HOT, 3, 2, 1}, {COLD, 1, 3, 1}, {WEAK, 9, 0, U_N2}),
};

// Tracked satellites needed, by satellites on the sky (0..19), to end the
// first full-time window with a 3-D fix.
constexpr std::array<S16, SRST_HOT_THR_N> HOT_THR = {4, 4, 4, 4, 4, 5, 6, 6, 6, 6, 7, 8, 8, 8, 8, 8, 8, 8, 8, 8};

// --- Module state -----------------------------------------------------------------------
using INIT_FUNC_T = void (*)();
using STATE_FUNC_T = S16 (*)();
using STRATEGY_FUNC_T = S16 (*)(SRST_STRATEGY_T* list);

struct SRST_STATE_T {
  INIT_FUNC_T init_func;
  STATE_FUNC_T state_func;  // returns the next state
  STRATEGY_FUNC_T get_strategy_func;
};

S16 N_Pse = SRST_MIN_PSE;
S16 Current_state = SRST_COLD_SEARCH;
S16 Has_state_changed = 0;
S16 State_count = 0;
S16 Current_fix_mode = FIX_NONE;
F32 Current_speed = 0.0F;
S16 Cont_fix_count = 0;
S16 Nsv_on_sky = 0;
S16 Nsv_tracked = 0;
S16 Nsv_strong_tracked = 0;
S16 Nalm_valid = 0;
S16 Is_all_almanacs_ready = 0;
S16 Fast_hot_search_count = 0;
S16 Hot_start_can_search_very_weak_signal = 0;
S16 Hot_start_had_execute_very_weak_search = 0;
S16 Hot_start_very_weak_search_cnt = 0;
S16 Waas_enable = 0;
S16 Last_waas_enable = 0;
S16 Do_power_saving = 1;
S16 Force_no_power_saving_in_cold_search = 0;
S32 Pse_on_sec_count = 0;
S32 Pse_off_sec_count = 0;

// Duty cycle.
struct DUTY_T {
  S16 tracked_num;   // tracked satellites of the previous second
  S16 sign;          // accumulated change of the tracked count (drops positive)
  S16 tracked_diff;  // seconds since the last large change, up to 90
  S16 first_start;   // 1: full time after the first acquisitions
  S16 elapsed_time;  // seconds without anything tracked in the first window
  S16 duty_time;     // position in the duty period
};
DUTY_T Duty{};

bool fix_3d() { return Current_fix_mode > FIX_2D; }
bool enough_tracked() { return Nsv_tracked >= (Nalm_valid < 24 ? 7 : 4); }

S16 units(S16 code) { return code >= 1 ? code : static_cast<S16>(N_Pse + code); }

// Copy a table into the caller's list with the units resolved.
S16 copy_strategies(std::span<const SRST_STRATEGY_T> tbl, SRST_STRATEGY_T* list) {
  S16 n = 0;
  for (const SRST_STRATEGY_T& s : tbl) {
    SRST_STRATEGY_T& out = list[n++];
    out = s;
    for (S16 k = 0; k < s.nsets; ++k)
      out.srst_set[static_cast<std::size_t>(k)].n_pse = units(s.srst_set[static_cast<std::size_t>(k)].n_pse);
  }
  return n;
}

// --- States -----------------------------------------------------------------------------
void enter_common() {
  Has_state_changed = 1;
  State_count = 0;
}

S16 cold_next() { return SRST_NORMAL_COLD_SEARCH; }

S16 normal_cold_next() {
  if (fix_3d() && enough_tracked()) return SRST_NORMAL_SEARCH;
  if (Current_fix_mode < FIX_2D) return SRST_NORMAL_COLD_SEARCH;
  if (Current_speed * 3.6F < 100.0F && Nsv_on_sky - Nsv_tracked >= 1 && Cont_fix_count >= 6 && N_Pse >= 3)
    return SRST_COLD_AFTER_FIX_SEARCH;
  return SRST_NORMAL_COLD_SEARCH;
}
S16 normal_cold_list(SRST_STRATEGY_T* list) {
  const S16 n = copy_strategies(NORMAL_COLD_TBL, list);
  if (N_Pse == 2) copy_strategies(std::span(&NORMAL_COLD_2PSE_FIRST, 1), list);
  return n;
}

S16 cold_after_fix_next() {
  if (fix_3d() && enough_tracked()) return SRST_NORMAL_SEARCH;
  if (Cont_fix_count > 4) return SRST_COLD_AFTER_FIX_SEARCH;
  return SRST_NORMAL_COLD_SEARCH;
}
S16 cold_after_fix_list(SRST_STRATEGY_T* list) { return copy_strategies(COLD_AFTER_FIX_TBL, list); }

S16 short_hot_warm_next() {
  return State_count >= SRST_SHORT_HOT_WARM_S ? SRST_HOT_WARM_SEARCH : SRST_SHORT_HOT_WARM_SEARCH;
}
S16 short_hot_warm_list(SRST_STRATEGY_T* list) { return copy_strategies(SHORT_HOT_WARM_TBL, list); }

S16 hot_warm_next() {
  if (fix_3d() && Nsv_tracked > 3) return SRST_NORMAL_SEARCH;
  if (State_count >= SRST_HOT_WARM_GIVE_UP_S && Nsv_tracked <= 2) return SRST_COLD_SEARCH;
  return SRST_HOT_WARM_SEARCH;
}
S16 hot_warm_list(SRST_STRATEGY_T* list) { return copy_strategies(HOT_WARM_TBL, list); }

S16 fast_hot_next() {
  if (Fast_hot_search_count >= SRST_FAST_HOT_MAX_S) return SRST_HOT_WARM_SEARCH;
  if (fix_3d() && Nsv_tracked > 3) return SRST_NORMAL_SEARCH;
  ++Fast_hot_search_count;
  if (Hot_start_can_search_very_weak_signal != 0) {
    if (Hot_start_had_execute_very_weak_search == 0) {
      Hot_start_had_execute_very_weak_search = 1;
      Hot_start_very_weak_search_cnt = 0;
      enter_common();  // re-entered: the list with the very-weak pass goes out
    } else if (++Hot_start_very_weak_search_cnt > SRST_VERY_WEAK_S) {
      Hot_start_can_search_very_weak_signal = 0;
      enter_common();  // re-entered: the list without it
    }
  }
  return SRST_FAST_HOT_SEARCH;
}
S16 fast_hot_list(SRST_STRATEGY_T* list) {
  const S16 n = copy_strategies(FAST_HOT_TBL, list);
  if (Hot_start_can_search_very_weak_signal != 0) copy_strategies(std::span(&FAST_HOT_VERY_WEAK_LAST, 1), list + n - 1);
  return n;
}

S16 normal_next() {
  if (Waas_enable != Last_waas_enable) {
    Last_waas_enable = Waas_enable;
    enter_common();  // re-entered: the list goes out again
  }
  return SRST_NORMAL_SEARCH;
}
S16 normal_list(SRST_STRATEGY_T* list) {
  if (N_Pse <= 3) return copy_strategies(NORMAL_FEW_PSE_TBL, list);
  const S16 n = copy_strategies(NORMAL_MANY_PSE_TBL, list);
  return (N_Pse % 2) != 0 ? static_cast<S16>(n - 1) : n;
}

// Cold search is only an entry state: it steps into normal cold search at
// once, and hands out that state's list should it be asked.
constexpr std::array<SRST_STATE_T, SRST_NUM_STATES> STATES = {{
    {enter_common, cold_next, normal_cold_list},
    {enter_common, normal_cold_next, normal_cold_list},
    {enter_common, cold_after_fix_next, cold_after_fix_list},
    {enter_common, short_hot_warm_next, short_hot_warm_list},
    {enter_common, hot_warm_next, hot_warm_list},
    {enter_common, fast_hot_next, fast_hot_list},
    {enter_common, normal_next, normal_list},
}};

void enter(S16 state) {
  Current_state = state;
  STATES[static_cast<std::size_t>(state)].init_func();
}

}  // namespace

void SRST_init(S16 n_pse, S16 start_mode) {
  N_Pse = std::clamp(n_pse, SRST_MIN_PSE, SRST_MAX_PSE);
  Current_fix_mode = FIX_NONE;
  Current_speed = 0.0F;
  Cont_fix_count = 0;
  Nsv_on_sky = 0;
  Nsv_tracked = 0;
  Nsv_strong_tracked = 0;
  Nalm_valid = 0;
  Is_all_almanacs_ready = 0;
  Fast_hot_search_count = 0;
  Hot_start_can_search_very_weak_signal = 0;
  Hot_start_had_execute_very_weak_search = 0;
  Hot_start_very_weak_search_cnt = 0;
  Waas_enable = 0;
  Last_waas_enable = 0;
  Do_power_saving = 1;
  Force_no_power_saving_in_cold_search = 0;
  Pse_on_sec_count = 0;
  Pse_off_sec_count = 0;
  Duty = DUTY_T{};
  switch (start_mode) {
    case SRST_HOT_WARM_START:
      enter(SRST_SHORT_HOT_WARM_SEARCH);
      break;
    case SRST_FAST_HOT_START:
    case SRST_SHORT_HOT_START:
      enter(SRST_FAST_HOT_SEARCH);
      break;
    default:
      enter(SRST_COLD_SEARCH);
      break;
  }
}

void SRST_set_fix_mode_and_speed(S16 fix_mode, F32 speed_mps) {
  Current_fix_mode = fix_mode;
  Current_speed = speed_mps;
  if (fix_mode < FIX_2D)
    Cont_fix_count = 0;
  else if (Cont_fix_count < SRST_CONT_FIX_MAX)
    ++Cont_fix_count;
}
void SRST_set_nsv_on_sky(S16 nsv_on_sky) { Nsv_on_sky = nsv_on_sky; }
void SRST_set_nsv_tracked(S16 nsv_tracked, S16 nsv_strong_tracked) {
  Nsv_tracked = nsv_tracked;
  Nsv_strong_tracked = nsv_strong_tracked;
}
void SRST_set_nalm_valid(S16 nalm_valid) { Nalm_valid = nalm_valid; }
void SRST_set_all_almanacs_ready(S16 ready) { Is_all_almanacs_ready = ready != 0 ? 1 : 0; }
void SRST_set_waas_enable(S16 enable) { Waas_enable = enable != 0 ? 1 : 0; }

S16 SRST_get_hot_thr(S32 nsv_on_sky) {
  return HOT_THR[static_cast<std::size_t>(std::clamp<S32>(nsv_on_sky, 0, SRST_HOT_THR_N - 1))];
}

S16 SRST_get_off_period() {
  if (N_Pse == 2) return fix_3d() ? 9 : 2;
  return fix_3d() ? 4 : 0;
}

S16 SRST_process_state(S16 n_vis) {
  if (Do_power_saving == 0) return 1;
  if (Current_state == SRST_COLD_SEARCH || Current_state == SRST_NORMAL_COLD_SEARCH) return 1;

  const S16 d = static_cast<S16>(Duty.tracked_num - Nsv_tracked);
  if (d != 0) {
    Duty.sign = static_cast<S16>(Duty.sign + d);
    if (Duty.tracked_num == 0) {
      Duty.first_start = 1;
      Duty.sign = 2;
    }
  } else {
    Duty.sign = 0;
  }
  if (Duty.sign >= 2 || Duty.sign <= -2)
    Duty.tracked_diff = 0;
  else if (Duty.tracked_diff < SRST_FIRST_FULL_TIME_S)
    ++Duty.tracked_diff;
  Duty.tracked_num = Nsv_tracked;

  const bool active = Nsv_tracked > 0 && Duty.tracked_diff < SRST_FULL_TIME_NO_DIFF_S;
  if (!active && Duty.first_start != 1) {
    Duty.duty_time = static_cast<S16>((Duty.duty_time + 1) % (SRST_get_off_period() + 1));
    if (Duty.duty_time != 0) return 0;
  }
  if (active || Duty.first_start == 1) {
    Duty.elapsed_time = Nsv_tracked > 0 ? S16{0} : static_cast<S16>(Duty.elapsed_time + 1);
    if (Duty.elapsed_time >= SRST_FIRST_FULL_TIME_S || Duty.tracked_diff >= SRST_FIRST_FULL_TIME_S ||
        (fix_3d() && Nsv_tracked >= SRST_get_hot_thr(Nsv_on_sky))) {
      Duty.elapsed_time = 0;
      Duty.first_start = 0;
    }
  }
  if (Is_all_almanacs_ready == 0 || Current_state != SRST_NORMAL_SEARCH) return 1;
  return n_vis < Nsv_on_sky ? S16{1} : S16{0};
}

void SRST_step() {
  ++State_count;
  const S16 next = STATES[static_cast<std::size_t>(Current_state)].state_func();
  if (next != Current_state) enter(next);
  if (Current_state != SRST_COLD_SEARCH && Current_state != SRST_NORMAL_COLD_SEARCH)
    Force_no_power_saving_in_cold_search = 0;
}

S16 SRST_has_state_changed() { return Has_state_changed; }
void SRST_clear_state_changed() { Has_state_changed = 0; }

S16 SRST_get_strategy_list(SRST_STRATEGY_T* list, S16* mode_code_p) {
  if (mode_code_p != nullptr) *mode_code_p = Current_state;
  return STATES[static_cast<std::size_t>(Current_state)].get_strategy_func(list);
}

S16 SRST_get_state() { return Current_state; }
S16 SRST_get_state_count() { return State_count; }
S16 SRST_get_npse() { return N_Pse; }
S16 SRST_get_nsv_on_sky() { return Nsv_on_sky; }
S32 SRST_get_pse_on_sec_count() { return Pse_on_sec_count; }
S32 SRST_get_pse_off_sec_count() { return Pse_off_sec_count; }
void SRST_count_second(S16 ran) {
  if (ran != 0)
    ++Pse_on_sec_count;
  else
    ++Pse_off_sec_count;
}

void SRST_switch_to_short_hot_warm_search() { enter(SRST_SHORT_HOT_WARM_SEARCH); }
void SRST_switch_to_normal_cold_search() { enter(SRST_NORMAL_COLD_SEARCH); }
S16 SRST_is_blind_search() {
  return Current_state == SRST_COLD_SEARCH || Current_state == SRST_NORMAL_COLD_SEARCH ? S16{1} : S16{0};
}

void SRST_set_power_off_mode(S16 on) { Do_power_saving = on; }
S16 SRST_get_power_off_mode() { return Do_power_saving; }
void SRST_set_force_no_power_saving_in_cold_search() { Force_no_power_saving_in_cold_search = 1; }
void SRST_can_do_very_weak_search_in_hot_start() { Hot_start_can_search_very_weak_signal = 1; }
