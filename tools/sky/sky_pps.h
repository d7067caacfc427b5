// The target's 1PPS output in a closed-loop run of the simulated sky: every
// ASIC_SET_1PPS command the host sends is recorded with the receiver clock's
// truth of that moment and the place the pulse must take.
//
// The relation. A command arrives while the target's time count runs the
// second after the epoch last sent; the pulse it commands sits in the next
// time-count second, which starts at the mark M (the next whole second of
// the time count, receiver clock reading R_M). The receiver clock reads
// R = T + clk_bias(T) with clk_bias(T) = b + d (T - T_last) (b, d the bias
// and drift at the last epoch's true time T_last), so true time at M is
// T_M = T_last + (R_M - R_last) / (1 + d). The GPS whole second G in that
// second is the first whole second at or after T_M, and the receiver clock
// shows it (R_M + (G - T_M)(1 + d)): the pulse must sit
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
  int64_t last_epoch = -1;     // index of the last epoch sent before the command
  SKY_GTC_T mark;              // the time-count second the pulse is for starts here
  SKY_GPST_T last_true_time;   // true GPS time of the last epoch
  double clk_bias_s = 0.0;     // receiver clock - GPS time at the last epoch, s
  double clk_drift = 0.0;      // s/s
  uint32_t freq_hz = 0;        // nominal TCXO frequency, Hz
  double true_offset_s = 0.0;  // where the pulse must sit after the mark, receiver s (relation above)
  double cmd_offset_s = 0.0;   // offset / freq_hz, s
};

// Forget every record (a new closed-loop run).
void SKY_PPS_reset();
// Take one ASIC_SET_1PPS frame (checked by the caller: sync, type, length,
// checksum). 1 recorded (or counted beyond SKY_PPS_MAX), 0 before the first
// epoch (nothing to relate it to: counted only).
int SKY_PPS_take(const U08* frame);
// Commands taken (all of them, kept or not).
int SKY_PPS_count();
// Record i (0 .. min(count, SKY_PPS_MAX) - 1), null outside.
const SKY_PPS_RECORD_T* SKY_PPS_record(int i);
// Where the pulse must sit (true_offset_s above) for the second starting at
// receiver clock reading mark_clock, from the truth rx of an earlier epoch.
double SKY_PPS_true_offset_s(const SKY_RX_T& rx, SKY_GPST_T mark_clock);

// ---- the run's side (tools/sky/sky_link_run.cpp) ----

// The moment of a command: the truth of the last epoch sent and its index,
// and the mark where the next time-count second starts with its receiver
// clock reading. 0 before the first epoch (outputs untouched).
int SKY_LINK_pps_moment(SKY_RX_T* last_rx, int64_t* last_index, SKY_GTC_T* mark, SKY_GPST_T* mark_clock);
