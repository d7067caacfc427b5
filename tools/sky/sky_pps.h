// The target's 1PPS output in a closed-loop run of the simulated sky: every
// ASIC_SET_1PPS command the host sends is recorded with the receiver clock's
// truth of that moment and the place the pulse must take.
//
// Which second a command answers. The host sends exactly one ASIC_SET_1PPS in
// the second tick of every whole-second epoch it processes (the pulse off or
// its position), in order, so the k-th command (from 0) answers the k-th
// whole-second epoch sent, whenever it arrives; the pulse it commands sits in
// the time-count second after that epoch. (A command that reaches the target
// late, while later epochs are already out, still belongs to that second;
// lag_epochs shows how late it was.)
//
// The relation. Let b, d be the receiver clock bias and drift at the true
// time T_e of that epoch (clock reading R_e), and M the mark one second later
// where the pulse's time-count second starts (clock reading R_M). The
// receiver clock reads R = T + b + d (T - T_e), so true time at M is
// T_M = T_e + (R_M - R_e) / (1 + d). The GPS whole second G in that second is
// the first at or after T_M, and the receiver clock shows it (G - T_M)(1 + d)
// after the mark: the pulse must sit
//   true_offset_s = (G - T_M)(1 + d)   receiver seconds after the mark,
// i.e. true_offset_s x TCXO frequency counts (a time-count second is exactly
// the nominal TCXO frequency in counts). The command says
//   cmd_offset_s = pps_offset / TCXO frequency.
// Up to rounding to a count this is frac(b + d)(1 + d): the bias one second of
// drift later, in receiver seconds.
#pragma once

#include <cstdint>

#include "misc/host_msg.h"
#include "tools/sky/sky.h"
#include "tools/sky/sky_link.h"

inline constexpr int SKY_PPS_MAX = 4096;  // commands kept; later ones are counted only

// One 1PPS command and its truth.
struct SKY_PPS_RECORD_T {
  int enable = 0;              // 0 off, 1 valid, 2 valid and the time count may follow it
  uint32_t offset = 0;         // commanded pulse position, TCXO counts after the mark
  uint32_t period = 0;         // commanded second length, TCXO counts
  int64_t second = -1;         // k: the whole-second epoch the command answers (0 = the first sent)
  int64_t epoch = -1;          // that epoch's index among all epochs sent
  int64_t lag_epochs = 0;      // whole-second epochs sent after it before the command arrived
  SKY_GTC_T mark;              // the time-count second the pulse is for starts here
  SKY_GPST_T epoch_true_time;  // true GPS time of the answered epoch
  double clk_bias_s = 0.0;     // receiver clock - GPS time at that epoch, s
  double clk_drift = 0.0;      // s/s
  uint32_t freq_hz = 0;        // nominal TCXO frequency, Hz
  double true_offset_s = 0.0;  // where the pulse must sit after the mark, receiver s (relation above)
  double cmd_offset_s = 0.0;   // offset / freq_hz, s
};

// Forget every record (a new closed-loop run).
void SKY_PPS_reset();
// Take one ASIC_SET_1PPS frame (checked by the caller: sync, type, length,
// checksum). 1 recorded (or counted beyond SKY_PPS_MAX), 0 when it answers
// no whole-second epoch sent (more commands than seconds, or older than the
// run keeps: counted only).
int SKY_PPS_take(const U08* frame);
// Commands taken (all of them, kept or not).
int SKY_PPS_count();
// Record i (0 .. min(count, SKY_PPS_MAX) - 1), null outside.
const SKY_PPS_RECORD_T* SKY_PPS_record(int i);
// Where the pulse must sit (true_offset_s above) for the second starting at
// receiver clock reading mark_clock, from the truth rx of an earlier epoch.
double SKY_PPS_true_offset_s(const SKY_RX_T& rx, SKY_GPST_T mark_clock);

// ---- the run's side (tools/sky/sky_link_run.cpp) ----

// Whole-second epoch k (0 = the first sent in this run; the latest 256 are
// kept): its truth rx and index among all epochs, the mark one second later
// where the next time-count second starts, with its receiver clock reading.
// *seconds_sent (when non-null) gets the whole-second epochs sent so far.
// 1 when k is kept, else 0 (the other outputs untouched).
int SKY_LINK_pps_second(int64_t k, SKY_RX_T* rx, int64_t* index, SKY_GTC_T* mark, SKY_GPST_T* mark_clock,
                        int64_t* seconds_sent);
