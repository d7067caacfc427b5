// The GPS search state machine: transitions, the duty cycle of the engine and
// the hot threshold table, driven through its inputs second by second.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/src/search_strategy.h"

namespace {

// One second of inputs.
struct Second {
  S16 fix_mode;
  F32 speed_mps;
  S16 on_sky;
  S16 tracked;
  S16 nalm;
};

void set_inputs(const Second& s) {
  SRST_set_fix_mode_and_speed(s.fix_mode, s.speed_mps);
  SRST_set_nsv_on_sky(s.on_sky);
  SRST_set_nsv_tracked(s.tracked, s.tracked);
  SRST_set_nalm_valid(s.nalm);
}

// Step the machine `n` seconds with the same inputs; the states visited after
// each step.
std::vector<S16> run_steps(const Second& s, int n) {
  std::vector<S16> states;
  for (int i = 0; i < n; ++i) {
    set_inputs(s);
    SRST_step();
    states.push_back(SRST_get_state());
  }
  return states;
}

constexpr Second NO_FIX{FIX_NONE, 0.0F, 0, 0, 0};

TEST(SearchStrategy, Transitions) {
  struct Case {
    const char* name;
    S16 npse;
    S16 start;
    int warmup_steps;  // steps with NO_FIX first
    Second input;
    int steps;
    S16 expect;
  };
  constexpr S16 COLD = SRST_COLD_START, HOT_WARM = SRST_HOT_WARM_START, FAST_HOT = SRST_FAST_HOT_START;
  constexpr S16 NORMAL_COLD = SRST_NORMAL_COLD_SEARCH;
  const Case cases[] = {
      {"cold is an entry state", 4, COLD, 0, NO_FIX, 1, NORMAL_COLD},
      {"normal cold without fix stays", 4, COLD, 1, NO_FIX, 30, NORMAL_COLD},
      {"normal cold, 3D fix, 7 tracked, few almanacs", 4, COLD, 1, {FIX_3D, 0.0F, 9, 7, 10}, 1, SRST_NORMAL_SEARCH},
      {"normal cold, 3D fix, 6 tracked, few almanacs", 4, COLD, 1, {FIX_3D, 0.0F, 6, 6, 23}, 1, NORMAL_COLD},
      {"normal cold, 3D fix, 4 tracked, 24 almanacs", 4, COLD, 1, {FIX_3D, 0.0F, 9, 4, 24}, 1, SRST_NORMAL_SEARCH},
      {"normal cold, 2D fix 5 s", 3, COLD, 1, {FIX_2D, 10.0F, 8, 5, 0}, 5, NORMAL_COLD},
      {"normal cold, 2D fix 6 s, 3 units", 3, COLD, 1, {FIX_2D, 10.0F, 8, 5, 0}, 6, SRST_COLD_AFTER_FIX_SEARCH},
      {"normal cold, 2D fix 6 s, 2 units", 2, COLD, 1, {FIX_2D, 10.0F, 8, 5, 0}, 6, NORMAL_COLD},
      {"normal cold, 2D fix 6 s, all on the sky tracked", 3, COLD, 1, {FIX_2D, 10.0F, 5, 5, 0}, 6, NORMAL_COLD},
      {"normal cold, 2D fix 6 s at 108 km/h", 3, COLD, 1, {FIX_2D, 30.0F, 8, 5, 0}, 6, NORMAL_COLD},
      {"short hot-warm, 9 s", 4, HOT_WARM, 0, NO_FIX, 9, SRST_SHORT_HOT_WARM_SEARCH},
      {"short hot-warm, 10 s", 4, HOT_WARM, 0, NO_FIX, 10, SRST_HOT_WARM_SEARCH},
      {"hot-warm, 3D fix, 4 tracked", 4, HOT_WARM, 10, {FIX_3D, 0.0F, 9, 4, 0}, 1, SRST_NORMAL_SEARCH},
      {"hot-warm, 2D fix, 4 tracked", 4, HOT_WARM, 10, {FIX_2D, 0.0F, 9, 4, 0}, 400, SRST_HOT_WARM_SEARCH},
      {"hot-warm, 359 s with 2 tracked", 4, HOT_WARM, 10, {FIX_NONE, 0.0F, 9, 2, 0}, 359, SRST_HOT_WARM_SEARCH},
      {"hot-warm, 360 s with 2 tracked", 4, HOT_WARM, 10, {FIX_NONE, 0.0F, 9, 2, 0}, 360, SRST_COLD_SEARCH},
      {"hot-warm, 360 s with 3 tracked", 4, HOT_WARM, 10, {FIX_NONE, 0.0F, 9, 3, 0}, 360, SRST_HOT_WARM_SEARCH},
      {"hot-warm gives up, then normal cold", 4, HOT_WARM, 10, {FIX_NONE, 0.0F, 9, 2, 0}, 361, NORMAL_COLD},
      {"fast hot, 3D fix, 4 tracked", 4, FAST_HOT, 0, {FIX_3D, 0.0F, 9, 4, 0}, 1, SRST_NORMAL_SEARCH},
      {"short hot start is fast hot", 4, SRST_SHORT_HOT_START, 0, NO_FIX, 1, SRST_FAST_HOT_SEARCH},
      {"fast hot, 90 s", 4, FAST_HOT, 0, NO_FIX, 90, SRST_FAST_HOT_SEARCH},
      {"fast hot, 91 s", 4, FAST_HOT, 0, NO_FIX, 91, SRST_HOT_WARM_SEARCH},
      {"normal cold, 3D fix, 8 tracked", 4, COLD, 1, {FIX_3D, 0.0F, 9, 8, 0}, 1, SRST_NORMAL_SEARCH},
  };
  for (const Case& c : cases) {
    SRST_init(c.npse, c.start);
    run_steps(NO_FIX, c.warmup_steps);
    const std::vector<S16> states = run_steps(c.input, c.steps);
    EXPECT_EQ(states.back(), c.expect) << c.name;
  }
  // Normal search keeps its state once reached, whatever follows.
  SRST_init(4, SRST_COLD_START);
  run_steps(NO_FIX, 1);
  run_steps({FIX_3D, 0.0F, 9, 8, 0}, 1);
  EXPECT_EQ(run_steps(NO_FIX, 100).back(), SRST_NORMAL_SEARCH);
}

TEST(SearchStrategy, ColdAfterFixFallsBackWhenTheFixIsLost) {
  SRST_init(3, SRST_COLD_START);
  run_steps(NO_FIX, 1);
  ASSERT_EQ(run_steps({FIX_2D, 0.0F, 8, 5, 0}, 6).back(), SRST_COLD_AFTER_FIX_SEARCH);
  // Continuous fix seconds drop to 0 with the fix: back to normal cold.
  EXPECT_EQ(run_steps(NO_FIX, 1).back(), SRST_NORMAL_COLD_SEARCH);
  // From cold after fix a 3D fix with enough tracked goes to normal.
  run_steps({FIX_2D, 0.0F, 8, 5, 0}, 6);
  ASSERT_EQ(SRST_get_state(), SRST_COLD_AFTER_FIX_SEARCH);
  EXPECT_EQ(run_steps({FIX_3D, 0.0F, 9, 7, 0}, 1).back(), SRST_NORMAL_SEARCH);
}

// The fast hot count runs over the whole run: a re-entry of fast hot search
// (for the very-weak pass) does not restart it, and the very-weak pass runs
// 61 s, with its list sent on entry and again when it ends.
TEST(SearchStrategy, FastHotCountAndVeryWeakPass) {
  SRST_init(4, SRST_FAST_HOT_START);
  SRST_clear_state_changed();
  std::vector<int> entries;  // step numbers at which the state was (re-)entered
  for (int t = 1; t <= 100; ++t) {
    if (t == 30) SRST_can_do_very_weak_search_in_hot_start();
    set_inputs(NO_FIX);
    SRST_step();
    if (SRST_has_state_changed() != 0) {
      entries.push_back(t);
      SRST_clear_state_changed();
    }
    if (t <= 90) {
      ASSERT_EQ(SRST_get_state(), SRST_FAST_HOT_SEARCH) << "second " << t;
    }
    if (t == 30 || t == 91) {
      std::vector<SRST_STRATEGY_T> list(SRST_MAX_STRATEGIES);
      ASSERT_EQ(SRST_get_strategy_list(list.data(), nullptr), 8);
      const S16 last_mode = list[7].srst_set[0].search_mode;
      EXPECT_EQ(last_mode, t == 30 ? PSE_VERY_WEAK_SEARCH : PSE_HOT_WARM_SEARCH) << "second " << t;
    }
  }
  EXPECT_EQ(SRST_get_state(), SRST_HOT_WARM_SEARCH);
  // Re-entered at 30 with the pass; hot-warm at 91, before the pass would end.
  EXPECT_EQ(entries, (std::vector<int>{30, 91}));
}

TEST(SearchStrategy, VeryWeakPassEndsAfter61Seconds) {
  SRST_init(4, SRST_FAST_HOT_START);
  SRST_clear_state_changed();
  SRST_can_do_very_weak_search_in_hot_start();
  std::vector<int> entries;
  for (int t = 1; t <= 80; ++t) {
    set_inputs(NO_FIX);
    SRST_step();
    if (SRST_has_state_changed() != 0) {
      entries.push_back(t);
      SRST_clear_state_changed();
    }
  }
  EXPECT_EQ(entries, (std::vector<int>{1, 63}));
  std::vector<SRST_STRATEGY_T> list(SRST_MAX_STRATEGIES);
  SRST_get_strategy_list(list.data(), nullptr);
  EXPECT_EQ(list[7].srst_set[0].search_mode, PSE_HOT_WARM_SEARCH);
}

// Mend: the table has 20 entries (0..19 satellites on the sky); more
// satellites use the last entry.
TEST(SearchStrategy, HotThresholdClampedToItsTable) {
  struct Case {
    const char* name;
    S32 on_sky;
    S16 expect;
  };
  const Case cases[] = {
      {"0", 0, 4},   {"4", 4, 4},         {"5", 5, 5},   {"6", 6, 6},
      {"10", 10, 7}, {"11", 11, 8},       {"19", 19, 8}, {"20 (beyond)", 20, 8},
      {"38", 38, 8}, {"negative", -1, 4},
  };
  for (const Case& c : cases) EXPECT_EQ(SRST_get_hot_thr(c.on_sky), c.expect) << c.name;

  // Through the duty cycle: 20 on the sky with a 3D fix and 8 tracked ends
  // the first full-time window at once (then the 20 s window after the
  // acquisitions, then one second in five with 4 units and a fix).
  SRST_init(4, SRST_HOT_WARM_START);
  std::string pattern;
  for (int t = 1; t <= 30; ++t) {
    set_inputs({FIX_3D, 0.0F, 20, 8, 0});
    pattern += SRST_process_state(8) != 0 ? 'R' : '.';
  }
  EXPECT_EQ(pattern, std::string(20, 'R') + "....R....R");
}

// Run pattern of the engine ('R' runs, '.' pauses) over seconds with the
// given tracked counts, fix mode and satellites on the sky.
std::string duty_pattern(const std::vector<S16>& tracked, S16 fix_mode, S16 on_sky) {
  std::string p;
  for (S16 n : tracked) {
    set_inputs({fix_mode, 0.0F, on_sky, n, 0});
    p += SRST_process_state(n) != 0 ? 'R' : '.';
  }
  return p;
}
std::vector<S16> repeat(S16 n, int times) { return std::vector<S16>(static_cast<std::size_t>(times), n); }
std::vector<S16> operator+(std::vector<S16> a, const std::vector<S16>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(SearchStrategy, DutyCycle) {
  struct Case {
    const char* name;
    S16 npse;
    S16 start;
    S16 power_saving;
    S16 fix_mode;
    S16 on_sky;
    std::vector<S16> tracked;
    std::string expect;
  };
  const std::string r90(90, 'R');
  const std::string r20(20, 'R');
  const Case cases[] = {
      // First acquisitions: 90 s full time (steady count), then one in three.
      {"2 units, no fix, first window then 1 in 3", 2, SRST_HOT_WARM_START, 1, FIX_NONE, 9, repeat(5, 97),
       "R" + r90 + "..R..R"},
      // A drop of two restarts the 20 s full-time window.
      {"2 units, no fix, drop of two", 2, SRST_HOT_WARM_START, 1, FIX_NONE, 9, repeat(5, 97) + repeat(3, 26),
       "R" + r90 + "..R..R" + r20 + "..R..R"},
      // A gain of one does not.
      {"2 units, no fix, gain of one", 2, SRST_HOT_WARM_START, 1, FIX_NONE, 9, repeat(5, 97) + repeat(6, 6),
       "R" + r90 + "..R..R" + "..R..R"},
      // A gain of two does.
      {"2 units, no fix, gain of two", 2, SRST_HOT_WARM_START, 1, FIX_NONE, 9, repeat(5, 97) + repeat(7, 23),
       "R" + r90 + "..R..R" + r20 + "..R"},
      // A 3D fix with enough tracked ends the first window at once; after the
      // 20 s window one second in ten.
      {"2 units, 3D fix", 2, SRST_HOT_WARM_START, 1, FIX_3D, 10, repeat(7, 40), r20 + ".........R.........R"},
      {"4 units, no fix: no pause", 4, SRST_HOT_WARM_START, 1, FIX_NONE, 9, repeat(5, 100), std::string(100, 'R')},
      {"power saving off", 2, SRST_HOT_WARM_START, 0, FIX_3D, 10, repeat(7, 40), std::string(40, 'R')},
      {"cold search runs full time", 2, SRST_COLD_START, 1, FIX_3D, 10, repeat(7, 40), std::string(40, 'R')},
      // Nothing tracked yet: no acquisition window, duty cycle from the start.
      {"nothing tracked", 2, SRST_HOT_WARM_START, 1, FIX_NONE, 9, repeat(0, 6), "..R..R"},
  };
  for (const Case& c : cases) {
    SRST_init(c.npse, c.start);
    SRST_set_power_off_mode(c.power_saving);
    EXPECT_EQ(duty_pattern(c.tracked, c.fix_mode, c.on_sky), c.expect) << c.name;
  }
}

// Normal search with all almanacs received pauses the engine once every
// visible satellite is strongly tracked.
TEST(SearchStrategy, NormalSearchPausesWhenAllVisibleAreTracked) {
  struct Case {
    const char* name;
    S16 almanacs_ready;
    S16 n_vis;
    S16 expect_run;
  };
  const Case cases[] = {
      {"all almanacs, all 8 visible strongly tracked", 1, 8, 0},
      {"all almanacs, 7 of 8 visible strongly tracked", 1, 7, 1},
      {"almanacs missing, all visible tracked", 0, 8, 1},
  };
  for (const Case& c : cases) {
    SRST_init(4, SRST_COLD_START);
    run_steps(NO_FIX, 1);
    run_steps({FIX_3D, 0.0F, 8, 8, 30}, 1);
    ASSERT_EQ(SRST_get_state(), SRST_NORMAL_SEARCH) << c.name;
    SRST_set_all_almanacs_ready(c.almanacs_ready);
    set_inputs({FIX_3D, 0.0F, 8, 8, 30});
    EXPECT_EQ(SRST_process_state(c.n_vis), c.expect_run) << c.name;
  }
}

TEST(SearchStrategy, SbasEnableReentersNormalSearch) {
  SRST_init(4, SRST_COLD_START);
  run_steps(NO_FIX, 1);
  run_steps({FIX_3D, 0.0F, 8, 8, 30}, 1);
  ASSERT_EQ(SRST_get_state(), SRST_NORMAL_SEARCH);
  SRST_clear_state_changed();
  struct Case {
    const char* name;
    S16 enable;
    S16 expect_changed;
  };
  const Case cases[] = {{"enabled", 1, 1}, {"enabled again", 1, 0}, {"disabled", 0, 1}, {"disabled again", 0, 0}};
  for (const Case& c : cases) {
    SRST_set_waas_enable(c.enable);
    SRST_step();
    EXPECT_EQ(SRST_get_state(), SRST_NORMAL_SEARCH) << c.name;
    EXPECT_EQ(SRST_has_state_changed(), c.expect_changed) << c.name;
    SRST_clear_state_changed();
  }
}

TEST(SearchStrategy, ForcedSwitchesAndPowerMode) {
  SRST_init(4, SRST_FAST_HOT_START);
  EXPECT_EQ(SRST_is_blind_search(), 0);
  SRST_switch_to_normal_cold_search();
  EXPECT_EQ(SRST_get_state(), SRST_NORMAL_COLD_SEARCH);
  EXPECT_EQ(SRST_is_blind_search(), 1);
  EXPECT_EQ(SRST_has_state_changed(), 1);
  SRST_switch_to_short_hot_warm_search();
  EXPECT_EQ(SRST_get_state(), SRST_SHORT_HOT_WARM_SEARCH);
  EXPECT_EQ(SRST_get_state_count(), 0);
  EXPECT_EQ(SRST_get_power_off_mode(), 1);  // on after start
  SRST_set_power_off_mode(0);
  EXPECT_EQ(SRST_get_power_off_mode(), 0);
  struct Case {
    const char* name;
    S16 npse_in;
    S16 expect;
  };
  const Case cases[] = {{"1 unit", 1, 2}, {"2 units", 2, 2}, {"8 units", 8, 8}, {"9 units", 9, 8}, {"-3", -3, 2}};
  for (const Case& c : cases) {
    SRST_init(c.npse_in, SRST_COLD_START);
    EXPECT_EQ(SRST_get_npse(), c.expect) << c.name;
  }
}

}  // namespace
