// The target's handling of predicted measurements in a closed-loop run of the
// simulated sky: every ASIC_PREDICT_MEAS list the host sends is recorded,
// entry by entry, with the truth of the moment it is for, and an entry good
// enough starts its satellite on a channel at once, without a search.
//
// Which moment a list is for. The host predicts at the latest whole-second
// epoch it has processed and names that epoch's raw time-count second
// (ref_gtc_sec). The sky takes the most recent whole-second epoch sent whose
// mark has that second (millisecond 0) and the sky at that mark: for each
// predicted PRN the satellite time stamp of the code then received (tx_time),
// hence the true code phase within the 20 ms data bit, and the Doppler the
// receiver clock sees, hence the tracking-NCO word the target would need
// (SKY_LINK_nco_word).
//
// The units of an entry (misc/host_msg.h ASIC_PREDICTED_MEAS_T):
//   code0     code phase from the start of the data bit, 1/8192 chip
//             (0 .. 20 x 1023 x 8192 - 1);
//   code_rate 1/8192 chip/s, the receiver's view: -(Doppler / L1) x 1.023 MHz x 8192;
//   dop_freq  tracking-NCO word: (ideal baseband - Doppler) x TM scale.
// Errors are predicted minus true: the code error is taken modulo the 20 ms
// bit into -10 230 .. +10 230 chips; the Doppler error in Hz.
//
// An entry starts its satellite at once when the list says
// can_predict_to_chip = 1, its PRN is visible and untracked, the code error
// is within 1/8 chip and the Doppler error within half a hot-search bin
// (SKY_PREDICT_BIN_HZ, the truth inside the bin centred on the prediction).
// Anything else is left to the search.
#pragma once

#include <cstdint>

#include "misc/host_msg.h"
#include "tools/sky/sky.h"
#include "tools/sky/sky_link.h"

inline constexpr int SKY_PREDICT_MAX = 8192;                 // entries kept; later ones are counted only
inline constexpr double SKY_PREDICT_CODE_TOL_CHIPS = 0.125;  // 1/8 chip
inline constexpr double SKY_PREDICT_BIN_HZ = 62.5;           // the hot search's Doppler bin (search level 8), Hz

// One predicted entry and its truth.
struct SKY_PREDICT_RECORD_T {
  int64_t list = -1;             // the ASIC_PREDICT_MEAS frame it came in (0 = the first taken)
  int32_t ref_sec = 0;           // the list's raw time-count second
  int can_chip = 0;              // the list's can_predict_to_chip
  ASIC_PREDICTED_MEAS_T meas;    // the entry as sent
  int has_truth = 0;             // 1 when ref_sec is a whole-second epoch sent (and kept) and the PRN is in the sky
  int64_t epoch = -1;            // that epoch's index among all epochs sent
  SKY_GPST_T true_time;          // true GPS time of that epoch
  int visible = 0;               // the satellite above the mask and not blocked then
  double el_deg = 0.0;           // its elevation, degrees
  double cn0_dbhz = 0.0;         // its C/N0, dB-Hz
  double true_code = 0.0;        // true code phase within the data bit, 1/8192 chip
  double true_doppler_hz = 0.0;  // Doppler seen by the receiver clock, Hz
  int32_t true_nco = 0;          // tracking-NCO word of that Doppler (SKY_LINK_nco_word)
  double true_code_rate = 0.0;   // 1/8192 chip/s, in code_rate's convention
  double pred_doppler_hz = 0.0;  // the Doppler dop_freq stands for, Hz
  double code_err_chips = 0.0;   // predicted - true code phase, chips, within +-10 230
  double doppler_err_hz = 0.0;   // predicted - true Doppler, Hz
  int started = 0;               // 1: the satellite was started on a channel from this entry
};

// Counters of the lists taken.
struct SKY_PREDICT_COUNTS_T {
  int lists = 0;       // ASIC_PREDICT_MEAS frames taken
  int bad_lists = 0;   // lists with a count outside 0..20: ignored whole
  int entries = 0;     // entries taken (kept or not)
  int bad_prn = 0;     // entries with a PRN outside 1..32: ignored
  int no_truth = 0;    // entries whose second is no epoch kept (too late or never sent)
  int within_tol = 0;  // entries with can_chip 1 and both errors within tolerance
  int started = 0;     // satellites started from predictions
};

// Forget every list (a new closed-loop run).
void SKY_PREDICT_reset();
// Take one ASIC_PREDICT_MEAS frame (checked by the caller: sync, type,
// length, checksum). 1 taken, -1 a count outside 0..20 (nothing taken).
int SKY_PREDICT_take(const U08* frame);
// The satellites to start at once at this epoch of the sky (the entries of
// the lists taken since the last call that pass the test above): appended to
// svids (caller's array of SKY_LINK_NCH, *n in use) when visible in ep, not
// in tracked (per hardware channel, 0 free) and not listed yet. Each start
// is marked in its record. Returns the number appended.
int SKY_PREDICT_start(const SKY_EPOCH_T& ep, const int16_t* tracked, int16_t* svids, int* n);
// Entries taken (kept or not) and record i (0 .. min(count, MAX) - 1; null outside).
int SKY_PREDICT_count();
const SKY_PREDICT_RECORD_T* SKY_PREDICT_record(int i);
const SKY_PREDICT_COUNTS_T& SKY_PREDICT_counts();

// ---- the run's side (tools/sky/sky_link_run.cpp) ----

// The sky at raw time-count mark g of the running scenario (receiver clock
// reading of g, SKY_LINK_gtc_to_clock). 1 and *out on success, else 0.
int SKY_LINK_sky_at_mark(const SKY_GTC_T& g, SKY_EPOCH_T* out);
