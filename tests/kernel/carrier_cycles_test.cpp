// Carrier-slot selection: clean slots per channel (coverage, bad readings,
// alignment to the end of the epoch), the continuous count and the
// convergence test, and the choice of the common span (whole-epoch spans,
// the channels x slots product, the two-thirds preference for four or more
// channels).
#include "kernel/src/carrier_cycles.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

constexpr U32 CLOCKS_PER_MS = 16368;  // TCXO clocks per millisecond in these epochs

// An epoch of n slots; slot i lasts ms_of(i) milliseconds (distinct values so
// that a misaligned channel cannot match by chance).
U16 ms_of(int i) { return static_cast<U16>(95 + i); }

void set_epoch(int n) {
  std::array<U32, 10> clocks{};
  std::array<U16, 10> ms{};
  for (int i = 0; i < n; ++i) {
    ms[static_cast<std::size_t>(i)] = ms_of(i);
    clocks[static_cast<std::size_t>(i)] = ms_of(i) * CLOCKS_PER_MS;
  }
  CCYCLE_set_gtc_clock_counts(static_cast<S16>(n), clocks.data(), ms.data());
}

// Channel slots for an epoch of epoch_n slots: channel slot j is epoch slot
// epoch_n - n + j; clean(e) tells whether epoch slot e is clean (full
// coverage, no bad reading) or dirty (one millisecond short). Carrier: 1000
// cycles + epoch slot index.
template <typename Clean>
CCYCLE_IN_T channel_in(int epoch_n, int n, Clean clean) {
  CCYCLE_IN_T in{};
  in.array_count = static_cast<U16>(n);
  for (int j = 0; j < n; ++j) {
    const int e = epoch_n - n + j;
    CCYCLE_BUF_T& s = in.array[static_cast<std::size_t>(j)];
    s.acc_carrier_cycle = 1000.0F + static_cast<F32>(e);
    s.carrier_phase_no_good_count = 0;
    s.acc_carrier_cycle_count = clean(e) ? ms_of(e) : static_cast<U16>(ms_of(e) - 1);
  }
  return in;
}

// Feed channel ch with a clean-slot range [first, last] of a 10-slot (or n-slot) epoch.
void feed(int ch, int epoch_n, int first, int last, bool ephs = true) {
  const CCYCLE_IN_T in = channel_in(epoch_n, epoch_n, [&](int e) { return e >= first && e <= last; });
  CCYCLE_T c = CCYCLE_find_reference(static_cast<S16>(ch));
  CCYCLE_set_one_channel_carrier_cycles(c, &in);
  if (ephs) CCYCLE_set_ephemeris_status_valid(c);
}

U32 clocks_of(int first, int last) {
  U32 s = 0;
  for (int i = first; i <= last; ++i) s += ms_of(i) * CLOCKS_PER_MS;
  return s;
}

class CarrierCycles : public ::testing::Test {
 protected:
  void SetUp() override { CCYCLE_init(); }
  void TearDown() override { CCYCLE_init(); }
};

TEST_F(CarrierCycles, SelectionTable) {
  struct Group {
    int channels;     // this many channels (numbered on from the previous group)
    int first, last;  // clean in epoch slots first..last
  };
  struct Case {
    const char* name;
    std::vector<Group> groups;
    S16 n_channels;  // expected (0: nothing selected)
    S16 start, n_slots;
  };
  const std::vector<Case> cases = {
      {"8 channels clean in 2-9 and 4 of them also in 0-1: slots 2-9 for 8 (64 over 40)",
       {{4, 0, 9}, {4, 2, 9}},
       8,
       2,
       8},
      {"7 channels over the whole epoch beat 9 over half of it", {{7, 0, 9}, {2, 0, 4}}, 7, 0, 10},
      {"5 channels over the whole epoch", {{5, 0, 9}, {3, 3, 6}}, 5, 0, 10},
      {"4 channels x 5 slots (20) preferred over 3 x 10 (30): two thirds reached", {{3, 0, 9}, {1, 5, 9}}, 4, 5, 5},
      {"4 channels x 4 slots (16) lose to 3 x 10 (30): below two thirds", {{3, 0, 9}, {1, 6, 9}}, 3, 0, 10},
      {"3 channels x 4 slots = 12: nothing", {{3, 6, 9}}, 0, 0, 0},
      {"13 channels x 1 slot = 13: taken", {{13, 9, 9}}, 13, 9, 1},
      {"12 channels x 1 slot = 12: nothing", {{12, 9, 9}}, 0, 0, 0},
      {"2 channels x 10 slots = 20 but fewer than 3 channels: nothing", {{2, 0, 9}}, 0, 0, 0},
      {"no clean slot at all", {{6, 10, 10}}, 0, 0, 0},
  };
  for (const Case& c : cases) {
    CCYCLE_init();
    set_epoch(10);
    int ch = 0;
    for (const Group& g : c.groups)
      for (int k = 0; k < g.channels; ++k) feed(ch++, 10, g.first, g.last);
    std::array<CCYCLE_T, 20> used{};
    S16 start = -1, n_slots = -1;
    U32 clocks = 0;
    const S16 n = CCYCLE_process_carrier_cycles_selection(used.data(), &start, &n_slots, &clocks);
    ASSERT_EQ(n, c.n_channels) << c.name;
    if (n == 0) continue;
    EXPECT_EQ(start, c.start) << c.name;
    EXPECT_EQ(n_slots, c.n_slots) << c.name;
    EXPECT_EQ(clocks, clocks_of(c.start, c.start + c.n_slots - 1)) << c.name;
    for (int i = 0; i < n; ++i) {
      const U16 bits = CCYCLE_get_good_cycles_bits(used[static_cast<std::size_t>(i)]);
      for (int s = c.start; s < c.start + c.n_slots; ++s) EXPECT_NE(bits & (1U << s), 0U) << c.name << " slot " << s;
      D64 cycles = 0.0;
      ASSERT_EQ(CCYCLE_get_selected_carrier_cycles(used[static_cast<std::size_t>(i)], &cycles), 1) << c.name;
      D64 expect = 0.0;
      for (int s = c.start; s < c.start + c.n_slots; ++s) expect += 1000.0 + s;
      EXPECT_EQ(cycles, expect) << c.name;
    }
  }
}

TEST_F(CarrierCycles, NothingWithoutSlotsChannelsOrEphemerides) {
  struct Case {
    const char* name;
    int epoch_slots;
    int channels;
    bool ephs;
  };
  const std::vector<Case> cases = {
      {"no epoch slots", 0, 8, true}, {"no channel updated", 10, 0, true}, {"no usable ephemeris", 10, 8, false}};
  for (const Case& c : cases) {
    CCYCLE_init();
    set_epoch(10);
    for (int ch = 0; ch < c.channels; ++ch) feed(ch, 10, 0, 9, c.ephs);
    if (c.epoch_slots == 0) CCYCLE_reset_gtc_clocks_count();
    std::array<CCYCLE_T, 20> used{};
    S16 start = -1, n_slots = -1;
    U32 clocks = 7;
    EXPECT_EQ(CCYCLE_process_carrier_cycles_selection(used.data(), &start, &n_slots, &clocks), 0) << c.name;
    EXPECT_EQ(start, -1) << c.name;
    EXPECT_EQ(clocks, 7U) << c.name;
    D64 cycles = 0.0;
    EXPECT_EQ(CCYCLE_get_selected_carrier_cycles(CCYCLE_find_reference(0), &cycles), 0) << c.name;
  }
}

TEST_F(CarrierCycles, ChannelsWithoutEphemerisAreLeftOut) {
  set_epoch(10);
  for (int ch = 0; ch < 8; ++ch) feed(ch, 10, 0, 9, ch != 2);
  std::array<CCYCLE_T, 20> used{};
  S16 start = 0, n_slots = 0;
  U32 clocks = 0;
  ASSERT_EQ(CCYCLE_process_carrier_cycles_selection(used.data(), &start, &n_slots, &clocks), 7);
  for (int i = 0; i < 7; ++i) EXPECT_NE(CCYCLE_get_channel_id(used[static_cast<std::size_t>(i)]), 2);
  D64 cycles = 0.0;
  EXPECT_EQ(CCYCLE_get_selected_carrier_cycles(CCYCLE_find_reference(2), &cycles), 0);
  std::array<CCYCLE_T, 20> updated{};
  EXPECT_EQ(CCYCLE_get_updated_carrier_cycles(updated.data()), 8);
  // A new epoch empties the list and the selection.
  set_epoch(10);
  EXPECT_EQ(CCYCLE_get_updated_carrier_cycles(updated.data()), 0);
  EXPECT_EQ(CCYCLE_get_selected_carrier_cycles(CCYCLE_find_reference(0), &cycles), 0);
}

TEST_F(CarrierCycles, CleanSlotsContinuousCountAndConvergence) {
  struct Case {
    const char* name;
    int epoch_n, channel_n;
    U16 no_good;             // bad readings in every slot
    std::vector<int> dirty;  // epoch slots one millisecond short
    U16 expected_bits;
    U16 expected_cont;
    S16 converges;
  };
  const std::vector<Case> cases = {
      {"10 clean slots", 10, 10, 0, {}, 0x3FF, 10, 1},
      {"5-slot epoch, all clean: never a continuous count", 5, 5, 0, {}, 0x1F, 0, 0},
      {"3 bad readings per slot still clean", 10, 10, 3, {}, 0x3FF, 10, 1},
      {"4 bad readings per slot: nothing clean", 10, 10, 4, {}, 0, 0, 0},
      {"shorter channel aligned to the end (slots 4-9)", 10, 6, 0, {}, 0x3F0, 6, 1},
      {"shorter channel, 5 slots (5-9): continuous 5, weighted 8", 10, 5, 0, {}, 0x3E0, 5, 0},
      {"slot 8 dirty: continuous 1, weighted 7 + 2 + 2 = 11", 10, 10, 0, {8}, 0x2FF, 1, 1},
      {"slots 6-8 dirty: continuous 1, weighted 6 + 2 = 8", 10, 10, 0, {6, 7, 8}, 0x23F, 1, 0},
      {"channel with more slots than the epoch: no clean slot", 6, 8, 0, {}, 0, 0, 0},
  };
  for (const Case& c : cases) {
    CCYCLE_init();
    set_epoch(c.epoch_n);
    const int n_ch = c.channel_n;
    // A channel with more slots than the epoch is laid out as if the epoch had them.
    const int layout_n = n_ch > c.epoch_n ? n_ch : c.epoch_n;
    CCYCLE_IN_T in = channel_in(layout_n, n_ch, [&](int e) {
      for (const int d : c.dirty)
        if (d == e) return false;
      return true;
    });
    for (int j = 0; j < n_ch; ++j) in.array[static_cast<std::size_t>(j)].carrier_phase_no_good_count = c.no_good;
    CCYCLE_T cc = CCYCLE_find_reference(5);
    CCYCLE_set_one_channel_carrier_cycles(cc, &in);
    EXPECT_EQ(CCYCLE_get_good_cycles_bits(cc), c.expected_bits) << c.name;
    EXPECT_EQ(CCYCLE_get_continuous_good_carrier_count(cc), c.expected_cont) << c.name;
    EXPECT_EQ(CCYCLE_does_PR_might_converge(cc), c.converges) << c.name;
    std::array<CCYCLE_T, 20> updated{};
    EXPECT_EQ(CCYCLE_get_updated_carrier_cycles(updated.data()), 1) << c.name;
  }
}

TEST_F(CarrierCycles, ThresholdSetters) {
  set_epoch(10);
  CCYCLE_IN_T in = channel_in(10, 10, [](int) { return true; });
  for (auto& s : in.array) s.carrier_phase_no_good_count = 5;
  CCYCLE_T cc = CCYCLE_find_reference(0);
  CCYCLE_set_one_channel_carrier_cycles(cc, &in);
  EXPECT_EQ(CCYCLE_get_good_cycles_bits(cc), 0);
  CCYCLE_set_threshold_single_slot_no_good_cycle_count(5);
  set_epoch(10);
  CCYCLE_set_one_channel_carrier_cycles(cc, &in);
  EXPECT_EQ(CCYCLE_get_good_cycles_bits(cc), 0x3FF);
  // Convergence thresholds: continuous 10 needed, weighted 14 needed.
  CCYCLE_set_threshold_num_of_continuous_good_slots_for_PR_convergence_check(11);
  CCYCLE_set_threshold_num_of_good_slots_for_PR_convergence_check(14);
  EXPECT_EQ(CCYCLE_does_PR_might_converge(cc), 0);  // continuous 10, weighted 13
  CCYCLE_set_threshold_num_of_good_slots_for_PR_convergence_check(13);
  EXPECT_EQ(CCYCLE_does_PR_might_converge(cc), 1);
  // Product threshold: 3 channels x 4 slots = 12 is taken once the threshold is 11.
  CCYCLE_init();
  CCYCLE_set_threshold_chan_mul_slots(11);
  set_epoch(10);
  for (int ch = 0; ch < 3; ++ch) feed(ch, 10, 6, 9);
  S16 start = 0, n_slots = 0;
  U32 clocks = 0;
  EXPECT_EQ(CCYCLE_process_carrier_cycles_selection(nullptr, &start, &n_slots, &clocks), 3);
  EXPECT_EQ(start, 6);
  EXPECT_EQ(n_slots, 4);
  // The defaults come back with CCYCLE_init.
  CCYCLE_init();
  set_epoch(10);
  for (int ch = 0; ch < 3; ++ch) feed(ch, 10, 6, 9);
  EXPECT_EQ(CCYCLE_process_carrier_cycles_selection(nullptr, &start, &n_slots, &clocks), 0);
}

TEST_F(CarrierCycles, ShorterChannelSumsItsOwnSlots) {
  set_epoch(10);
  for (int ch = 0; ch < 7; ++ch) feed(ch, 10, 4, 9);
  // Channel 7 reports only the last 6 slots (epoch slots 4-9).
  const CCYCLE_IN_T in = channel_in(10, 6, [](int) { return true; });
  CCYCLE_T c7 = CCYCLE_find_reference(7);
  CCYCLE_set_one_channel_carrier_cycles(c7, &in);
  CCYCLE_set_ephemeris_status_valid(c7);
  std::array<CCYCLE_T, 20> used{};
  S16 start = 0, n_slots = 0;
  U32 clocks = 0;
  ASSERT_EQ(CCYCLE_process_carrier_cycles_selection(used.data(), &start, &n_slots, &clocks), 8);
  EXPECT_EQ(start, 4);
  EXPECT_EQ(n_slots, 6);
  D64 cycles = 0.0;
  ASSERT_EQ(CCYCLE_get_selected_carrier_cycles(c7, &cycles), 1);
  EXPECT_EQ(cycles, 1004.0 + 1005 + 1006 + 1007 + 1008 + 1009);
}

TEST_F(CarrierCycles, RefusedInputs) {
  set_epoch(10);
  CCYCLE_IN_T empty{};
  CCYCLE_set_one_channel_carrier_cycles(CCYCLE_find_reference(1), &empty);  // no slots: refused
  std::array<CCYCLE_T, 20> updated{};
  EXPECT_EQ(CCYCLE_get_updated_carrier_cycles(updated.data()), 0);
  CCYCLE_set_one_channel_carrier_cycles(nullptr, &empty);
  CCYCLE_set_one_channel_carrier_cycles(CCYCLE_find_reference(1), nullptr);
  // Every channel once, one twice: listed once each.
  for (int ch = 0; ch < 20; ++ch) feed(ch, 10, 0, 9);
  feed(3, 10, 0, 9);
  EXPECT_EQ(CCYCLE_get_updated_carrier_cycles(updated.data()), 20);
  EXPECT_EQ(CCYCLE_get_channel_id(CCYCLE_find_reference(19)), 19);
  EXPECT_EQ(CCYCLE_get_channel_id(nullptr), -1);
  EXPECT_EQ(CCYCLE_does_PR_might_converge(nullptr), 0);
}

}  // namespace
