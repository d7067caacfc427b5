// The GPS search tick and kernel search: start modes, strategy lists in the
// engine's units (bins from the TCXO scale), the byte-exact PSE_SET frame, the
// per-second command stream and the SBAS re-entry of normal search.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "host/wrap.h"
#include "kernel/src/kernel.h"
#include "kernel/src/kernel_search.h"
#include "kernel/src/search.h"
#include "kernel/src/search_strategy.h"
#include "kernel/src/tcxo_freq.h"
#include "misc/host_msg.h"

namespace {

using Frame = std::vector<U08>;
std::vector<Frame> Commands;
void capture(const U08* f, int len) { Commands.emplace_back(f, f + len); }

std::vector<Frame> frames_of(int type) {
  std::vector<Frame> out;
  for (const Frame& f : Commands)
    if (f.size() > 2 && f[2] == type) out.push_back(f);
  return out;
}

// TCXO mode 1 (16.368 MHz): the search scale is 2^26 / 16 368 000 =
// 4.1000037... units per Hz. Bin steps (truncated): 500 Hz -> 2050, 250 Hz ->
// 1025, 62.5 Hz -> 256, 25 Hz -> 102. Ranges: one bin 1, 125 Hz -> 512,
// 500 Hz -> 2050, 3 000 Hz -> 12300, 4 000 Hz -> 16400, 8 500 Hz -> 34850,
// 13 000 Hz -> 53300; tcxo_ppm 1 adds 6 000 Hz -> 24600 to the last two
// (59450, 77900). Bins = (range - 1) / step + 1, made odd, at most 255.
constexpr D64 SCALE_MODE1 = 67108864.0 / 16368000.0;
//                                  range 0  1   2    3    4    5    6
constexpr std::array<std::array<int, 7>, 11> BINS = {{
    {1, 1, 1, 7, 9, 17, 27},         // level 0, step 2050
    {1, 1, 1, 7, 9, 17, 27},         // level 1
    {1, 1, 1, 7, 9, 17, 27},         // level 2
    {1, 1, 3, 13, 17, 35, 53},       // level 3, step 1025
    {1, 1, 3, 13, 17, 35, 53},       // level 4
    {1, 1, 3, 13, 17, 35, 53},       // level 5
    {1, 1, 3, 13, 17, 35, 53},       // level 6
    {1, 1, 3, 13, 17, 35, 53},       // level 7
    {1, 3, 9, 49, 65, 137, 209},     // level 8, step 256
    {1, 7, 21, 121, 161, 255, 255},  // level 9, step 102 (343 and 523 capped)
    {1, 7, 21, 121, 161, 255, 255},  // level 10
}};

class Search : public ::testing::Test {
 protected:
  void SetUp() override {
    Region.fill(0);
    Alm.fill(0);
    Commands.clear();
    WRAP_init(0, nullptr);
    WRAP_install_command_sink(capture);
  }
  void TearDown() override {
    WRAP_install_command_sink(nullptr);
    KERNEL_close();
  }
  // A kernel start with an empty backup image (cold start), TCXO mode 1.
  void start_kernel(S16 npse, S16 tcxo_ppm = 0) {
    KERNEL_INIT_T k{};
    k.backup_mem_p = Region.data();
    k.nvram_alm_mem_p = Alm.data();
    k.tcxo_freq_mode = 1;
    k.npse = npse;
    k.tcxo_ppm = tcxo_ppm;
    k.gnss_select_bits = 1;
    k.clock_offset_from_flash = -42;
    KERNEL_init(&k);
  }
  static std::array<U08, 20480> Region, Alm;
};
std::array<U08, 20480> Search::Region, Search::Alm;

TEST_F(Search, TcxoScaleOfTheKnownAnswers) {
  start_kernel(4);
  EXPECT_FLOAT_EQ(TCXO_get_pse_nco_freq_scale(), static_cast<F32>(SCALE_MODE1));
  EXPECT_EQ(TCXO_get_pse_nco_offset0(), 0);
}

// Bins of a (level, range) pair.
struct BinsCase {
  const char* name;
  S16 level;
  S16 range;
  S32 expect;
};

TEST_F(Search, BinsByLevelAndRange) {
  start_kernel(4);
  for (S16 level = 0; level < 11; ++level)
    for (S16 range = 0; range < 7; ++range)
      EXPECT_EQ(SRCH_get_bins(level, range), BINS[static_cast<std::size_t>(level)][static_cast<std::size_t>(range)])
          << "level " << level << " range " << range;
  const BinsCase edge[] = {
      {"one bin is 1 whatever the step", 10, SRST_RANGE_ONE_BIN, 1},
      {"even 6 becomes 7", 0, SRST_RANGE_MEDIUM, 7},
      {"even 2 becomes 3", 3, SRST_RANGE_NARROW_TO_MEDIUM, 3},
      {"odd 17 stays", 0, SRST_RANGE_FULL, 17},
      {"343 capped at 255", 9, SRST_RANGE_FULL, 255},
      {"level outside the table", 11, SRST_RANGE_FULL, 1},
      {"range outside the table", 0, 7, 1},
      {"negative range", 0, -1, 1},
  };
  for (const BinsCase& c : edge) EXPECT_EQ(SRCH_get_bins(c.level, c.range), c.expect) << c.name;
}

TEST_F(Search, BinsWithTcxoPpm) {
  start_kernel(4, 1);
  const BinsCase cases[] = {
      {"cover all, level 0: 77899 / 2050 + 1 = 38 -> 39", 0, SRST_RANGE_COVER_ALL, 39},
      {"full, level 0: 59449 / 2050 + 1 = 29", 0, SRST_RANGE_FULL, 29},
      {"full, level 3: 59449 / 1025 + 1 = 58 -> 59", 3, SRST_RANGE_FULL, 59},
      {"wide is not widened", 0, SRST_RANGE_WIDE, 9},
      {"one bin is not widened", 0, SRST_RANGE_ONE_BIN, 1},
  };
  for (const BinsCase& c : cases) EXPECT_EQ(SRCH_get_bins(c.level, c.range), c.expect) << c.name;
}

// Expected strategy lists, written from the strategy tables. Units: a value
// >= 1 is that many units, 0 is N, -1 is N - 1, -2 is N - 2.
struct ESet {
  int mode, level, range, units;
};
struct EStrategy {
  std::vector<ESet> sets;
  int primary = 0;
};
constexpr int C = PSE_COLD_SEARCH, H = PSE_HOT_WARM_SEARCH, W = PSE_VERY_WEAK_SEARCH;

std::vector<EStrategy> expected_list(S16 state, int n, bool very_weak) {
  switch (state) {
    case SRST_NORMAL_COLD_SEARCH: {
      std::vector<EStrategy> l = {{{{C, 1, 6, -2}, {C, 0, 6, 2}}},
                                  {{{C, 2, 5, -1}, {C, 1, 6, 1}}},
                                  {{{C, 5, 5, -1}, {C, 1, 6, 1}}},
                                  {{{C, 6, 5, -1}, {C, 1, 6, 1}}}};
      if (n == 2) l[0] = {{{C, 1, 6, 1}, {C, 0, 6, 1}}};
      return l;
    }
    case SRST_COLD_AFTER_FIX_SEARCH:
      return {{{{C, 1, 6, -2}, {C, 0, 6, 2}}},
              {{{C, 2, 5, -1}, {C, 1, 6, 1}}},
              {{{C, 5, 5, -2}, {C, 1, 6, 1}, {W, 9, 0, 1}}},
              {{{C, 6, 5, -2}, {C, 1, 6, 1}, {W, 9, 0, 1}}}};
    case SRST_SHORT_HOT_WARM_SEARCH:
      return {{{{H, 0, 3, 0}}}, {{{H, 1, 3, 0}}}, {{{H, 2, 3, 0}}},
              {{{H, 3, 2, 0}}}, {{{H, 4, 2, 0}}}, {{{H, 7, 2, -1}, {H, 1, 5, 1}}}};
    case SRST_HOT_WARM_SEARCH:
      return {{{{H, 0, 3, 0}}}, {{{H, 1, 3, 0}}}, {{{H, 2, 3, 0}}}, {{{C, 1, 5, 0}}},
              {{{C, 2, 5, 0}}}, {{{H, 3, 3, 0}}}, {{{H, 4, 3, 0}}}, {{{H, 8, 1, -1}, {H, 1, 5, 1}}}};
    case SRST_FAST_HOT_SEARCH: {
      std::vector<EStrategy> l = {
          {{{H, 0, 3, 0}}}, {{{H, 1, 3, 0}}}, {{{H, 2, 3, 0}}}, {{{C, 1, 0, 0}}},
          {{{C, 2, 0, 0}}}, {{{H, 3, 0, 0}}}, {{{H, 4, 0, 0}}}, {{{H, 8, 1, -1}, {H, 1, 5, 1}}}};
      if (very_weak) l[7] = {{{W, 9, 0, -1}, {H, 1, 5, 1}}};
      return l;
    }
    case SRST_NORMAL_SEARCH:
      if (n <= 3)
        return {{{{H, 1, 1, 1}, {C, 1, 5, 1}}}, {{{H, 2, 1, 1}, {C, 1, 5, 1}}}, {{{C, 0, 6, 2}}},
                {{{H, 3, 1, 1}, {C, 1, 5, 1}}}, {{{H, 4, 1, 1}, {C, 1, 5, 1}}}, {{{C, 0, 6, 2}}},
                {{{W, 9, 0, -1}, {C, 1, 5, 1}}}};
      {
        std::vector<EStrategy> l = {{{{H, 2, 2, 0}}},
                                    {{{C, 1, 5, 0}}},
                                    {{{H, 3, 2, 0}}},
                                    {{{C, 1, 5, 0}}},
                                    {{{C, 0, 5, 1}, {H, 4, 2, -1}}, 1},
                                    {{{C, 1, 5, 0}}},
                                    {{{H, 3, 2, 1}, {C, 1, 3, 1}, {W, 9, 0, -2}}}};
        if (n % 2 != 0) l.pop_back();
        return l;
      }
    default:
      return {};
  }
}

// Put the machine in `state` with n units, through its own transitions.
void reach(S16 state, S16 n, bool very_weak) {
  auto step = [](S16 fix, F32 speed, S16 on_sky, S16 tracked, int times) {
    for (int i = 0; i < times; ++i) {
      SRST_set_fix_mode_and_speed(fix, speed);
      SRST_set_nsv_on_sky(on_sky);
      SRST_set_nsv_tracked(tracked, tracked);
      SRST_set_nalm_valid(0);
      SRST_step();
    }
  };
  switch (state) {
    case SRST_NORMAL_COLD_SEARCH:
      SRST_init(n, SRST_COLD_START);
      step(FIX_NONE, 0, 0, 0, 1);
      break;
    case SRST_COLD_AFTER_FIX_SEARCH:
      SRST_init(n, SRST_COLD_START);
      step(FIX_NONE, 0, 0, 0, 1);
      step(FIX_2D, 0, 8, 5, 6);
      break;
    case SRST_SHORT_HOT_WARM_SEARCH:
      SRST_init(n, SRST_HOT_WARM_START);
      break;
    case SRST_HOT_WARM_SEARCH:
      SRST_init(n, SRST_HOT_WARM_START);
      step(FIX_NONE, 0, 0, 0, 10);
      break;
    case SRST_FAST_HOT_SEARCH:
      SRST_init(n, SRST_FAST_HOT_START);
      if (very_weak) SRST_can_do_very_weak_search_in_hot_start();
      step(FIX_NONE, 0, 0, 0, 1);
      break;
    case SRST_NORMAL_SEARCH:
      SRST_init(n, SRST_COLD_START);
      step(FIX_NONE, 0, 0, 0, 1);
      step(FIX_3D, 0, 9, 8, 1);
      break;
    default:
      break;
  }
}

TEST_F(Search, StrategyListsInEngineStates) {
  start_kernel(4);
  struct Case {
    const char* name;
    S16 state;
    bool very_weak;
    int n_min;
  };
  const Case cases[] = {
      {"normal cold", SRST_NORMAL_COLD_SEARCH, false, 2},
      {"cold after fix", SRST_COLD_AFTER_FIX_SEARCH, false, 3},  // needs 3 units to be entered
      {"short hot-warm", SRST_SHORT_HOT_WARM_SEARCH, false, 2},
      {"hot-warm", SRST_HOT_WARM_SEARCH, false, 2},
      {"fast hot", SRST_FAST_HOT_SEARCH, false, 2},
      {"fast hot with the very-weak pass", SRST_FAST_HOT_SEARCH, true, 2},
      {"normal", SRST_NORMAL_SEARCH, false, 2},
  };
  for (const Case& c : cases) {
    for (S16 n = static_cast<S16>(c.n_min); n <= 8; ++n) {
      const std::string name = std::string(c.name) + ", " + std::to_string(n) + " units";
      reach(c.state, n, c.very_weak);
      ASSERT_EQ(SRST_get_state(), c.state) << name;
      std::array<SRST_STRATEGY_T, SRST_MAX_STRATEGIES> list{};
      S16 mode = -1;
      const S16 count = SRST_get_strategy_list(list.data(), &mode);
      EXPECT_EQ(mode, c.state) << name;
      const std::vector<EStrategy> want = expected_list(c.state, n, c.very_weak);
      ASSERT_EQ(count, static_cast<S16>(want.size())) << name;
      for (std::size_t i = 0; i < want.size(); ++i) {
        PSE_STATE_T st{};
        SRCH_convert_strategy(&list[i], &st);
        const std::string si = name + ", strategy " + std::to_string(i);
        EXPECT_EQ(st.nsets, static_cast<S16>(want[i].sets.size())) << si;
        EXPECT_EQ(st.primary_set_ndx, want[i].primary) << si;
        for (std::size_t k = 0; k < 3; ++k) {
          const PSE_SEARCH_SET_T& got = st.set[k];
          if (k >= want[i].sets.size()) {
            EXPECT_EQ(got.mode + got.strength + got.bins + got.npse_use, 0) << si << " set " << k << " unused";
            continue;
          }
          const ESet& e = want[i].sets[k];
          const int units = e.units >= 1 ? e.units : n + e.units;
          const int bins = BINS[static_cast<std::size_t>(e.level)][static_cast<std::size_t>(e.range)];
          EXPECT_EQ(got.mode, e.mode) << si << " set " << k;
          EXPECT_EQ(got.strength, e.level) << si << " set " << k;
          EXPECT_EQ(got.bins, bins) << si << " set " << k;
          EXPECT_EQ(got.npse_use, units) << si << " set " << k;
        }
      }
    }
  }
}

// The normal cold list of a cold start with 4 units, as the first PSE_SET
// frame: 'J' 'X', type 4, mode 1, 4 states, then 8 states of 14 bytes (three
// sets of mode, level, bins, units; nsets; primary), then the XOR checksum.
TEST_F(Search, PseSetFrameOfAColdStart) {
  start_kernel(4);
  const std::vector<Frame> sets = frames_of(MSG_TYPE_PSE_SET);
  ASSERT_EQ(sets.size(), 1U);
  Frame want = {0x4A, 0x58, 0x04, 0x01, 0x04,
                // cold/1/6/2, cold/0/6/2
                0, 1, 27, 2, 0, 0, 27, 2, 0, 0, 0, 0, 2, 0,
                // cold/2/5/3, cold/1/6/1
                0, 2, 17, 3, 0, 1, 27, 1, 0, 0, 0, 0, 2, 0,
                // cold/5/5/3, cold/1/6/1
                0, 5, 35, 3, 0, 1, 27, 1, 0, 0, 0, 0, 2, 0,
                // cold/6/5/3, cold/1/6/1
                0, 6, 35, 3, 0, 1, 27, 1, 0, 0, 0, 0, 2, 0};
  want.resize(MSG_LEN_PSE_SET, 0);  // four unused states, all zero
  U08 x = 0;
  for (U08 b : want) x ^= b;
  want.push_back(x);
  EXPECT_EQ(want.size(), static_cast<std::size_t>(MSG_LEN_PSE_SET + 1));
  EXPECT_EQ(sets[0], want);
}

TEST_F(Search, StartModes) {
  struct Case {
    const char* name;
    S16 can_hot;
    S32 dt;
    S16 expect;
  };
  const Case cases[] = {
      {"no hot start", 0, 10, SRST_COLD_START},
      {"0 s", 1, 0, SRST_FAST_HOT_START},
      {"899 s", 1, 899, SRST_FAST_HOT_START},
      {"900 s", 1, 900, SRST_HOT_WARM_START},
      {"unknown lapse", 1, std::numeric_limits<S32>::max(), SRST_HOT_WARM_START},
  };
  for (const Case& c : cases) EXPECT_EQ(KSEARCH_start_mode(c.can_hot, c.dt), c.expect) << c.name;

  struct SkyCase {
    const char* name;
    S16 start;
    S32 above;
    S16 expect;
  };
  const SkyCase sky[] = {
      {"fast hot, 7 above 2 deg", SRST_FAST_HOT_START, 7, SRST_FAST_HOT_START},
      {"fast hot, 6 above 2 deg", SRST_FAST_HOT_START, 6, SRST_COLD_START},
      {"hot-warm, 7 above 2 deg", SRST_HOT_WARM_START, 7, SRST_HOT_WARM_START},
      {"hot-warm, 6 above 2 deg", SRST_HOT_WARM_START, 6, SRST_COLD_START},
      {"short hot, 0 above 2 deg", SRST_SHORT_HOT_START, 0, SRST_COLD_START},
      {"cold, 12 above 2 deg", SRST_COLD_START, 12, SRST_COLD_START},
  };
  for (const SkyCase& c : sky) EXPECT_EQ(SRCH_start_mode_for_sky(c.start, c.above), c.expect) << c.name;

  // Through the kernel search: no satellite has an elevation yet, so a hot
  // start becomes a cold start (normal cold search after the first tick).
  start_kernel(4);
  ASSERT_EQ(SRCH_count_gps_above_2deg(), 0);
  KSEARCH_init(4, 1, 0, 0, 0, 1, 899);
  EXPECT_EQ(SRST_get_state(), SRST_NORMAL_COLD_SEARCH);
  EXPECT_EQ(SRST_get_power_off_mode(), 1);
  KSEARCH_init(4, 0, 0, 0, 0, 1, 900);
  EXPECT_EQ(SRST_get_state(), SRST_NORMAL_COLD_SEARCH);
  EXPECT_EQ(SRST_get_power_off_mode(), 0);
}

// After start: the clock offset every second, the Doppler list every 15 s,
// the engine running (no satellites tracked, cold search), the static hint 0
// without a fix, no strategy list after the first.
TEST_F(Search, SecondsAfterStart) {
  start_kernel(4);
  Commands.clear();
  for (int t = 0; t < 31; ++t) KSEARCH_process();
  const S32 clock = static_cast<S32>(-42 * SCALE_MODE1);
  struct Case {
    const char* name;
    int type;
    std::size_t count;
  };
  const Case cases[] = {
      {"clock offset every second", MSG_TYPE_PSE_CLOCK, 31},
      {"Doppler list at 0, 15, 30 s", MSG_TYPE_PSE_SVDOPP, 3},
      {"static hint every second", MSG_TYPE_PSE_RCV_IS_STATIC, 31},
      {"run/pause every second", MSG_TYPE_PSE_PAUSE, 31},
      {"correlation levels every second", MSG_TYPE_PSE_CNR_STATUS, 31},
      {"no new list", MSG_TYPE_PSE_SET, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(frames_of(c.type).size(), c.count) << c.name;
  for (const Frame& f : frames_of(MSG_TYPE_PSE_CLOCK)) {
    S32 v = 0;
    unpack_msg_pse_set_clock_offset(f.data(), &v);
    EXPECT_EQ(v, clock);
  }
  for (const Frame& f : frames_of(MSG_TYPE_PSE_PAUSE)) EXPECT_EQ(f[3], 0);          // runs
  for (const Frame& f : frames_of(MSG_TYPE_PSE_RCV_IS_STATIC)) EXPECT_EQ(f[3], 0);  // no fix
  for (const Frame& f : frames_of(MSG_TYPE_PSE_SVDOPP)) EXPECT_EQ(f[3], 0);         // nothing on the sky yet
}

// Normal search re-sends its list when the SBAS enable switches, once per change.
TEST_F(Search, SbasSwitchResendsTheNormalList) {
  start_kernel(6);
  reach(SRST_NORMAL_SEARCH, 6, false);
  SRST_clear_state_changed();
  struct Case {
    const char* name;
    S16 enable;
    std::size_t sets_sent;
  };
  const Case cases[] = {{"enable", 1, 1}, {"enable again", 1, 0}, {"disable", 0, 1}, {"no change", 0, 0}};
  for (const Case& c : cases) {
    Commands.clear();
    KSEARCH_set_enable_waas_search(c.enable);
    KSEARCH_process();
    ASSERT_EQ(SRST_get_state(), SRST_NORMAL_SEARCH) << c.name;
    const std::vector<Frame> sets = frames_of(MSG_TYPE_PSE_SET);
    ASSERT_EQ(sets.size(), c.sets_sent) << c.name;
    if (sets.empty()) continue;
    S08 mode = 0;
    S16 n = 0;
    std::array<PSE_STATE_T, MSG_PSE_STATES_N> st{};
    unpack_msg_pse_set_search_states_array(sets[0].data(), &mode, &n, st.data());
    EXPECT_EQ(mode, SRST_NORMAL_SEARCH) << c.name;
    EXPECT_EQ(n, 7) << c.name;
  }
}

}  // namespace
