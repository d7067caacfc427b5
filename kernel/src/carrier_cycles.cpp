// Carrier-slot selection: which channels accumulated clean carrier over a
// common span of the epoch's slots.
#include "kernel/src/carrier_cycles.h"

#include <array>
#include <bit>
#include <cstddef>

#include "misc/talon_assert.h"

struct CCYCLE_S {
  CCYCLE_IN_T ccycle_in;          // the channel's slots of this epoch
  S08 ch_id;                      // 0..19
  S08 valid_ephs;                 // 1: usable ephemeris this epoch
  U16 total_no_good_cycle_count;  // bad carrier-phase readings of the epoch
  U16 cont_good_cycle_count;      // clean slots counted back from slot 9
  U16 good_cycles_bits;           // bit i: epoch slot i clean
};

namespace {

constexpr std::size_t MAX_SLOTS = CCYCLE_MAX_SLOTS;
constexpr int LAST_SLOT = CCYCLE_MAX_SLOTS - 1;
constexpr int FIRST_DOUBLE_WEIGHT_SLOT = 7;  // slots 7..9 weigh twice in the convergence check
constexpr S16 PREFERRED_MIN_CHANNELS = 4;    // a candidate with this many channels is preferred
constexpr std::array<S16, 4> CANDIDATE_MIN_CHANNELS = {7, 5, 4, 3};

std::array<CCYCLE_S, NUM_HW_CHANNELS> numbered_records() {
  std::array<CCYCLE_S, NUM_HW_CHANNELS> a{};
  for (std::size_t i = 0; i < a.size(); ++i) a[i].ch_id = static_cast<S08>(i);
  return a;
}
std::array<CCYCLE_S, NUM_HW_CHANNELS> Ccycle_data_array = numbered_records();

std::array<U32, MAX_SLOTS> Ccycle_gtc_clocks_ary{};   // TCXO clocks of each slot
std::array<U16, MAX_SLOTS> Ccycle_gtc_subsecs_ary{};  // ms of each slot
S16 Ccycle_gtc_clocks_ary_count = 0;                  // slots this epoch
S16 Ccycle_gtc_start_selected_slots_ndx = 0;
S16 Ccycle_gtc_selected_slots_count = 0;  // 0: nothing selected
U32 Ccycle_total_used_gtc_clocks = 0;
U32 Ccycle_selected_channel_mask = 0;  // bit ch_id: used in the selection
std::array<CCYCLE_T, NUM_HW_CHANNELS> Ccycle_updated_array{};
S16 Ccycle_data_count = 0;

U16 Can_use_no_good_cycle_count_thr = CCYCLE_DEFAULT_SINGLE_SLOT_NO_GOOD_THR;
U16 Can_use_total_no_good_cycle_count_thr = CCYCLE_DEFAULT_TOTAL_NO_GOOD_THR;
S16 Chan_mul_slots_thr = CCYCLE_DEFAULT_CHAN_MUL_SLOTS_THR;
U16 Num_of_cont_good_slots_for_PR_thr = CCYCLE_DEFAULT_CONT_GOOD_SLOTS_FOR_PR_THR;
U16 Num_of_good_slots_for_PR_thr = CCYCLE_DEFAULT_GOOD_SLOTS_FOR_PR_THR;

// A span of consecutive epoch slots and the channels clean in all of them.
struct NUM_OF_GOOD_CARRIER_CHANNEL_SLOTS_T {
  S16 num_of_channel;
  S16 start_slot_ndx;
  S16 num_of_slots;
};

// Per epoch slot: the clean channels with a usable ephemeris.
struct SlotChannels {
  std::array<S16, MAX_SLOTS> count;
  std::array<U32, MAX_SLOTS> mask;  // bit ch_id
};

void reset_record(CCYCLE_S* c) {
  c->ccycle_in = CCYCLE_IN_T{};
  c->valid_ephs = 0;
  c->total_no_good_cycle_count = 0;
  c->cont_good_cycle_count = 0;
  c->good_cycles_bits = 0;
}

void clear_selection() {
  Ccycle_gtc_start_selected_slots_ndx = 0;
  Ccycle_gtc_selected_slots_count = 0;
  Ccycle_total_used_gtc_clocks = 0;
  Ccycle_selected_channel_mask = 0;
}

S16 popcount(U32 mask) { return static_cast<S16>(std::popcount(mask)); }
U32 channel_bit(const CCYCLE_S* c) { return 1U << static_cast<U32>(c->ch_id); }
bool clean_in(const CCYCLE_S* c, int slot) { return ((c->good_cycles_bits >> slot) & 1U) != 0; }
bool listed(const CCYCLE_S* c) {
  for (S16 i = 0; i < Ccycle_data_count; ++i)
    if (Ccycle_updated_array[static_cast<std::size_t>(i)] == c) return true;
  return false;
}

// Grow a span from the seed slot, one slot at a time, forward when the next
// slot has at least as many clean channels as the previous one, keeping at
// least min_num_chan channels clean in every slot of the span.
NUM_OF_GOOD_CARRIER_CHANNEL_SLOTS_T find_use_carrier_cycle_slots(S16 count, const SlotChannels& sc, int seed,
                                                                 S16 min_num_chan) {
  NUM_OF_GOOD_CARRIER_CHANNEL_SLOTS_T r{0, 0, 0};
  const auto s = static_cast<std::size_t>(seed);
  if (sc.count[s] < min_num_chan) return r;
  U32 mask = sc.mask[s];
  int first = seed;
  int last = seed;
  bool forward_open = true;
  bool backward_open = true;
  const int last_slot = count - 1 < LAST_SLOT ? count - 1 : LAST_SLOT;
  for (;;) {
    const int fwd = last + 1;
    const int bwd = first - 1;
    if (fwd > last_slot) forward_open = false;
    if (bwd < 0) backward_open = false;
    if (!forward_open && !backward_open) break;
    const bool go_forward = forward_open && (!backward_open || sc.count[static_cast<std::size_t>(fwd)] >=
                                                                   sc.count[static_cast<std::size_t>(bwd)]);
    const int next = go_forward ? fwd : bwd;
    const U32 joined = mask & sc.mask[static_cast<std::size_t>(next)];
    if (popcount(joined) >= min_num_chan) {
      mask = joined;
      if (go_forward)
        last = next;
      else
        first = next;
    } else if (go_forward) {
      forward_open = false;
    } else {
      backward_open = false;
    }
  }
  r.num_of_channel = popcount(mask);
  r.start_slot_ndx = static_cast<S16>(first);
  r.num_of_slots = static_cast<S16>(last - first + 1);
  return r;
}

S32 product(const NUM_OF_GOOD_CARRIER_CHANNEL_SLOTS_T& c) {
  return static_cast<S32>(c.num_of_channel) * static_cast<S32>(c.num_of_slots);
}

// Of the candidates, the one with the largest channels x slots product, unless
// the best one with at least 4 channels reaches the threshold and two thirds
// of that product. The choice must exceed the threshold (else none: 0 slots).
NUM_OF_GOOD_CARRIER_CHANNEL_SLOTS_T num_of_channels_and_num_of_slots_desicion(
    const std::array<NUM_OF_GOOD_CARRIER_CHANNEL_SLOTS_T, CANDIDATE_MIN_CHANNELS.size()>& cand) {
  std::size_t best = 0;
  for (std::size_t i = 1; i < cand.size(); ++i)
    if (product(cand[i]) > product(cand[best])) best = i;
  std::size_t best4 = cand.size();
  for (std::size_t i = 0; i < cand.size(); ++i) {
    if (cand[i].num_of_channel < PREFERRED_MIN_CHANNELS) continue;
    if (best4 == cand.size() || product(cand[i]) > product(cand[best4])) best4 = i;
  }
  std::size_t choice = best;
  if (best4 != cand.size() && product(cand[best4]) > Chan_mul_slots_thr &&
      product(cand[best4]) >= product(cand[best]) * 2 / 3)
    choice = best4;
  if (product(cand[choice]) > Chan_mul_slots_thr) return cand[choice];
  return NUM_OF_GOOD_CARRIER_CHANNEL_SLOTS_T{0, 0, 0};
}

// The span of the epoch to use: a span over every slot with at least 7 (or 5)
// channels when there is one, else the decision among the spans for 7, 5, 4
// and 3 channels. num_of_slots 0: none.
NUM_OF_GOOD_CARRIER_CHANNEL_SLOTS_T select_carrier_cycle_slots(S16 count, const SlotChannels& sc) {
  int seed = 0;
  for (int i = 1; i < count; ++i)
    if (sc.count[static_cast<std::size_t>(i)] > sc.count[static_cast<std::size_t>(seed)]) seed = i;
  if (sc.count[static_cast<std::size_t>(seed)] == 0) return NUM_OF_GOOD_CARRIER_CHANNEL_SLOTS_T{0, 0, 0};
  for (const S16 min_chan : {S16{7}, S16{5}}) {
    const NUM_OF_GOOD_CARRIER_CHANNEL_SLOTS_T whole = find_use_carrier_cycle_slots(count, sc, seed, min_chan);
    if (whole.num_of_channel > 0 && whole.num_of_slots == count) return whole;
  }
  std::array<NUM_OF_GOOD_CARRIER_CHANNEL_SLOTS_T, CANDIDATE_MIN_CHANNELS.size()> cand{};
  for (std::size_t i = 0; i < cand.size(); ++i)
    cand[i] = find_use_carrier_cycle_slots(count, sc, seed, CANDIDATE_MIN_CHANNELS[i]);
  return num_of_channels_and_num_of_slots_desicion(cand);
}

}  // namespace

void CCYCLE_init() {
  Ccycle_data_array = numbered_records();
  Can_use_no_good_cycle_count_thr = CCYCLE_DEFAULT_SINGLE_SLOT_NO_GOOD_THR;
  Can_use_total_no_good_cycle_count_thr = CCYCLE_DEFAULT_TOTAL_NO_GOOD_THR;
  Chan_mul_slots_thr = CCYCLE_DEFAULT_CHAN_MUL_SLOTS_THR;
  Num_of_cont_good_slots_for_PR_thr = CCYCLE_DEFAULT_CONT_GOOD_SLOTS_FOR_PR_THR;
  Num_of_good_slots_for_PR_thr = CCYCLE_DEFAULT_GOOD_SLOTS_FOR_PR_THR;
  CCYCLE_reset_gtc_clocks_count();
}

CCYCLE_T CCYCLE_find_reference(S16 ch_id) {
  talon_assert(ch_id >= 0 && ch_id < NUM_HW_CHANNELS, "carrier-cycle record id");
  return &Ccycle_data_array[static_cast<std::size_t>(ch_id)];
}

void CCYCLE_reset(CCYCLE_T ccycle) {
  if (ccycle != nullptr) reset_record(ccycle);
}

void CCYCLE_reset_gtc_clocks_count() {
  Ccycle_gtc_clocks_ary_count = 0;
  Ccycle_data_count = 0;
  clear_selection();
}

void CCYCLE_set_threshold_single_slot_no_good_cycle_count(U16 thr) { Can_use_no_good_cycle_count_thr = thr; }
void CCYCLE_set_threshold_total_no_good_cycle_count(U16 thr) { Can_use_total_no_good_cycle_count_thr = thr; }
void CCYCLE_set_threshold_chan_mul_slots(S16 thr) { Chan_mul_slots_thr = thr; }
void CCYCLE_set_threshold_num_of_continuous_good_slots_for_PR_convergence_check(U16 thr) {
  Num_of_cont_good_slots_for_PR_thr = thr;
}
void CCYCLE_set_threshold_num_of_good_slots_for_PR_convergence_check(U16 thr) { Num_of_good_slots_for_PR_thr = thr; }

void CCYCLE_set_gtc_clock_counts(S16 ary_count, const U32* clock_counts_ary, const U16* subsecs_ary) {
  talon_assert(ary_count >= 0 && ary_count <= CCYCLE_MAX_SLOTS, "time-count slot count");
  Ccycle_gtc_clocks_ary = {};
  Ccycle_gtc_subsecs_ary = {};
  if (clock_counts_ary == nullptr || subsecs_ary == nullptr) ary_count = 0;
  for (S16 i = 0; i < ary_count; ++i) {
    Ccycle_gtc_clocks_ary[static_cast<std::size_t>(i)] = clock_counts_ary[i];
    Ccycle_gtc_subsecs_ary[static_cast<std::size_t>(i)] = subsecs_ary[i];
  }
  Ccycle_gtc_clocks_ary_count = ary_count;
  Ccycle_data_count = 0;
  clear_selection();
}

U32 CCYCLE_get_clocks_after_span(S16 start, S16 n_slots) {
  if (start < 0 || n_slots < 0 || start + n_slots > Ccycle_gtc_clocks_ary_count) return 0;
  U32 clocks = 0;
  for (S16 i = static_cast<S16>(start + n_slots); i < Ccycle_gtc_clocks_ary_count; ++i)
    clocks += Ccycle_gtc_clocks_ary[static_cast<std::size_t>(i)];
  return clocks;
}

void CCYCLE_set_one_channel_carrier_cycles(CCYCLE_T ccycle, const CCYCLE_IN_T* in_p) {
  if (ccycle == nullptr || in_p == nullptr) return;
  talon_assert(in_p->array_count <= CCYCLE_MAX_SLOTS, "carrier slot count");
  if (Ccycle_data_count >= NUM_HW_CHANNELS || in_p->array_count == 0) return;
  ccycle->ccycle_in = *in_p;
  ccycle->valid_ephs = 0;
  ccycle->good_cycles_bits = 0;
  ccycle->total_no_good_cycle_count = 0;
  ccycle->cont_good_cycle_count = 0;
  // A record handed in twice in one epoch is listed once.
  if (!listed(ccycle)) Ccycle_updated_array[static_cast<std::size_t>(Ccycle_data_count++)] = ccycle;
  const int n = in_p->array_count;
  if (n > Ccycle_gtc_clocks_ary_count) return;
  const int shift = Ccycle_gtc_clocks_ary_count - n;
  for (int j = 0; j < n; ++j) {
    const CCYCLE_BUF_T& slot = in_p->array[static_cast<std::size_t>(j)];
    ccycle->total_no_good_cycle_count =
        static_cast<U16>(ccycle->total_no_good_cycle_count + slot.carrier_phase_no_good_count);
    const int e = shift + j;
    if (slot.acc_carrier_cycle_count == Ccycle_gtc_subsecs_ary[static_cast<std::size_t>(e)] &&
        slot.carrier_phase_no_good_count <= Can_use_no_good_cycle_count_thr)
      ccycle->good_cycles_bits = static_cast<U16>(ccycle->good_cycles_bits | (1U << e));
  }
  U16 cont = 0;
  for (int e = LAST_SLOT; e >= 0 && clean_in(ccycle, e); --e) ++cont;
  ccycle->cont_good_cycle_count = cont;
}

void CCYCLE_set_ephemeris_status_valid(CCYCLE_T ccycle) {
  if (ccycle != nullptr) ccycle->valid_ephs = 1;
}

S16 CCYCLE_process_carrier_cycles_selection(CCYCLE_T* used_ary, S16* start_p, S16* n_slots_p, U32* total_clocks_p) {
  clear_selection();
  const S16 count = Ccycle_gtc_clocks_ary_count;
  if (count <= 0 || Ccycle_data_count <= 0) return 0;
  SlotChannels sc{};
  bool any_ephs = false;
  for (S16 i = 0; i < Ccycle_data_count; ++i) {
    const CCYCLE_S* c = Ccycle_updated_array[static_cast<std::size_t>(i)];
    if (c->valid_ephs == 0) continue;
    any_ephs = true;
    for (int s = 0; s < count; ++s) {
      if (!clean_in(c, s)) continue;
      ++sc.count[static_cast<std::size_t>(s)];
      sc.mask[static_cast<std::size_t>(s)] |= channel_bit(c);
    }
  }
  if (!any_ephs) return 0;
  const NUM_OF_GOOD_CARRIER_CHANNEL_SLOTS_T span = select_carrier_cycle_slots(count, sc);
  if (span.num_of_slots <= 0 || span.num_of_channel <= 0) return 0;
  U32 span_bits = 0;
  U32 clocks = 0;
  for (S16 s = span.start_slot_ndx; s < span.start_slot_ndx + span.num_of_slots; ++s) {
    span_bits |= 1U << static_cast<U32>(s);
    clocks += Ccycle_gtc_clocks_ary[static_cast<std::size_t>(s)];
  }
  S16 n_used = 0;
  U32 used_mask = 0;
  for (S16 i = 0; i < Ccycle_data_count; ++i) {
    CCYCLE_T c = Ccycle_updated_array[static_cast<std::size_t>(i)];
    if (c->valid_ephs == 0 || (c->good_cycles_bits & span_bits) != span_bits) continue;
    used_mask |= channel_bit(c);
    if (used_ary != nullptr) used_ary[n_used] = c;
    ++n_used;
  }
  Ccycle_gtc_start_selected_slots_ndx = span.start_slot_ndx;
  Ccycle_gtc_selected_slots_count = span.num_of_slots;
  Ccycle_total_used_gtc_clocks = clocks;
  Ccycle_selected_channel_mask = used_mask;
  if (start_p != nullptr) *start_p = span.start_slot_ndx;
  if (n_slots_p != nullptr) *n_slots_p = span.num_of_slots;
  if (total_clocks_p != nullptr) *total_clocks_p = clocks;
  return n_used;
}

S16 CCYCLE_get_channel_id(CCYCLE_T ccycle) { return ccycle != nullptr ? static_cast<S16>(ccycle->ch_id) : S16{-1}; }

S16 CCYCLE_get_updated_carrier_cycles(CCYCLE_T* ccycle_ary) {
  if (ccycle_ary != nullptr)
    for (S16 i = 0; i < Ccycle_data_count; ++i) ccycle_ary[i] = Ccycle_updated_array[static_cast<std::size_t>(i)];
  return Ccycle_data_count;
}

S16 CCYCLE_get_selected_carrier_cycles(CCYCLE_T ccycle, D64* cycles_p) {
  if (ccycle == nullptr || Ccycle_gtc_selected_slots_count <= 0) return 0;
  if ((Ccycle_selected_channel_mask & channel_bit(ccycle)) == 0) return 0;
  const int shift = Ccycle_gtc_clocks_ary_count - ccycle->ccycle_in.array_count;
  const int first = Ccycle_gtc_start_selected_slots_ndx;
  const int end = first + Ccycle_gtc_selected_slots_count;
  // The record may have been handed in again after the selection.
  if (first < shift || end - shift > ccycle->ccycle_in.array_count) return 0;
  D64 sum = 0.0;
  for (int s = first; s < end; ++s)
    sum += ccycle->ccycle_in.array[static_cast<std::size_t>(s - shift)].acc_carrier_cycle;
  if (cycles_p != nullptr) *cycles_p = sum;
  return 1;
}

U16 CCYCLE_get_continuous_good_carrier_count(CCYCLE_T ccycle) {
  return ccycle != nullptr ? ccycle->cont_good_cycle_count : U16{0};
}

U16 CCYCLE_get_good_cycles_bits(CCYCLE_T ccycle) { return ccycle != nullptr ? ccycle->good_cycles_bits : U16{0}; }

S16 CCYCLE_does_PR_might_converge(CCYCLE_T ccycle) {
  if (ccycle == nullptr) return 0;
  if (ccycle->cont_good_cycle_count >= Num_of_cont_good_slots_for_PR_thr) return 1;
  U16 weighted = 0;
  for (int s = 0; s <= LAST_SLOT; ++s) {
    if (!clean_in(ccycle, s)) continue;
    weighted = static_cast<U16>(weighted + (s >= FIRST_DOUBLE_WEIGHT_SLOT ? 2 : 1));
  }
  return weighted >= Num_of_good_slots_for_PR_thr ? 1 : 0;
}
