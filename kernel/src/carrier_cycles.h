// Carrier-slot selection (CCYCLE_). The target divides each measurement
// epoch into up to 10 slots and reports, per slot, the TCXO clocks and
// milliseconds it spans, and per channel the carrier cycles accumulated in
// each slot with the milliseconds covered and a count of bad carrier-phase
// readings. A channel's slots are aligned to the end of the epoch's slots
// (channel slot j is epoch slot shift + j, shift = epoch slots - channel
// slots). A slot is clean for a channel when it covered the whole slot and
// had few bad readings. This module finds a span of consecutive slots over
// which many channels (with a usable ephemeris) are all clean, so that their
// range rates can be measured over the same time.
//
// Records: one per channel (CCYCLE_T, kernel/src/kernel_handles.h), fixed for
// the run. Slot inputs: CCYCLE_IN_T (kernel/src/kernel_handles.h).
#pragma once

#include "kernel/src/kernel_handles.h"
#include "misc/gnss_types.h"

// Default thresholds, set by CCYCLE_init.
inline constexpr U16 CCYCLE_DEFAULT_SINGLE_SLOT_NO_GOOD_THR = 3;     // bad readings a clean slot may have
inline constexpr U16 CCYCLE_DEFAULT_TOTAL_NO_GOOD_THR = 10;          // bad readings of an epoch (kept, not used)
inline constexpr S16 CCYCLE_DEFAULT_CHAN_MUL_SLOTS_THR = 12;         // channels x slots must exceed this
inline constexpr U16 CCYCLE_DEFAULT_CONT_GOOD_SLOTS_FOR_PR_THR = 6;  // clean slots up to slot 9 for convergence
inline constexpr U16 CCYCLE_DEFAULT_GOOD_SLOTS_FOR_PR_THR = 10;      // weighted clean slots for convergence

// Records reset, thresholds at their defaults, no epoch slots, nothing selected.
void CCYCLE_init();
// The record of channel ch_id 0..19 (anything else is a fatal assertion); never null.
CCYCLE_T CCYCLE_find_reference(S16 ch_id);
// Forget the record's slots and flags (the channel number stays).
void CCYCLE_reset(CCYCLE_T ccycle);
// No epoch slots (until the next CCYCLE_set_gtc_clock_counts); nothing selected.
void CCYCLE_reset_gtc_clocks_count();

// Threshold setters (the defaults above until set).
void CCYCLE_set_threshold_single_slot_no_good_cycle_count(U16 thr);
void CCYCLE_set_threshold_total_no_good_cycle_count(U16 thr);
void CCYCLE_set_threshold_chan_mul_slots(S16 thr);
void CCYCLE_set_threshold_num_of_continuous_good_slots_for_PR_convergence_check(U16 thr);
void CCYCLE_set_threshold_num_of_good_slots_for_PR_convergence_check(U16 thr);

// Start of an epoch: its ary_count slots (0..10; more is a fatal assertion)
// with clock_counts_ary (TCXO clocks per slot) and subsecs_ary (ms per slot),
// caller's arrays read during the call (may be null when ary_count is 0).
// Empties the list of channels updated this epoch and the last selection.
void CCYCLE_set_gtc_clock_counts(S16 ary_count, const U32* clock_counts_ary, const U16* subsecs_ary);
// One channel's carrier slots of this epoch (in_p read during the call;
// array_count above 10 is a fatal assertion). Refused when 20 channels were
// already updated this epoch or in_p has no slots; a channel with more slots
// than the epoch is listed as updated but has no clean slot. A slot is clean
// when the channel covered exactly the slot's milliseconds with at most the
// single-slot threshold of bad readings.
void CCYCLE_set_one_channel_carrier_cycles(CCYCLE_T ccycle, const CCYCLE_IN_T* in_p);
// The channel's satellite has a usable ephemeris this epoch (cleared by the
// next CCYCLE_set_one_channel_carrier_cycles of the record).
void CCYCLE_set_ephemeris_status_valid(CCYCLE_T ccycle);

// Select the span of slots of this epoch. Writes the used channels' records
// to used_ary (caller's array of at least 20), the first slot of the span to
// *start_p, the number of slots to *n_slots_p and the TCXO clocks the span
// covers to *total_clocks_p. Returns the number of used channels; 0 (nothing
// written) when the epoch has no slots, no updated channel has a usable
// ephemeris, or no span reaches more than the channels x slots threshold.
S16 CCYCLE_process_carrier_cycles_selection(CCYCLE_T* used_ary, S16* start_p, S16* n_slots_p, U32* total_clocks_p);

// TCXO clocks of this epoch's slots after the n_slots slots from start (the
// time from the end of a selected span to the end of the epoch); 0 for a
// span outside the epoch's slots.
U32 CCYCLE_get_clocks_after_span(S16 start, S16 n_slots);

S16 CCYCLE_get_channel_id(CCYCLE_T ccycle);  // 0..19; -1 for null
// The records updated this epoch, in update order, copied to ccycle_ary
// (caller's array of at least 20). Returns their number.
S16 CCYCLE_get_updated_carrier_cycles(CCYCLE_T* ccycle_ary);
// Carrier cycles the channel accumulated over the span of the last selection
// (*cycles_p). 1 when the channel is one of that selection's used channels;
// 0 with nothing written otherwise.
S16 CCYCLE_get_selected_carrier_cycles(CCYCLE_T ccycle, D64* cycles_p);
// Consecutive clean slots counted back from epoch slot 9 (0 when the epoch
// has fewer than 10 slots); 0 for null.
U16 CCYCLE_get_continuous_good_carrier_count(CCYCLE_T ccycle);
// Bit i set: epoch slot i was clean for the channel; 0 for null.
U16 CCYCLE_get_good_cycles_bits(CCYCLE_T ccycle);
// 1 when the carrier looks clean enough for the pseudorange to converge: the
// continuous count reaches its threshold (6), or the clean slots, those of
// slots 7..9 counted twice, reach theirs (10). 0 otherwise or for null.
S16 CCYCLE_does_PR_might_converge(CCYCLE_T ccycle);
