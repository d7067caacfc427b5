// Measurement predictor (MP_): where a GPS satellite's signal should appear in
// the target's correlators at a given receive time, from the satellite's
// position and clock and the receiver's state: its transmit time, its
// line-of-sight rate, the millisecond of the code within the 20 ms data bit,
// and from those the target's code phase, code rate and carrier NCO word.
//
// Units: times GPS seconds of week, positions ECEF metres, velocities m/s,
// line-of-sight rate m/s (positive while the satellite approaches the
// receiver: (satellite velocity - receiver velocity) . (receiver - satellite)
// / range), code phase 1/8192 chip from the start of the data bit, code rate
// 1/8192 chip/s, NCO word in tracking-NCO units (TCXO_get_tm_nco_freq_scale
// per Hz, plus TCXO_get_tm_nco_offset0). Every pointer handed in is the
// caller's record, read or written during the call only.
#pragma once

#include "kernel/src/kernel_handles.h"
#include "misc/gnss_types.h"

inline constexpr D64 MP_SPEED_OF_LIGHT = 299792458.0;                    // m/s
inline constexpr D64 MP_EARTH_ROTATION_OVER_C = 2.4323877909897254e-13;  // Earth rotation rate / c, rad/m
inline constexpr D64 MP_SUB_CHIPS_PER_CHIP = 8192.0;                     // code phase units per chip
inline constexpr D64 MP_CHIP_RATE = 1023000.0;                           // C/A chips per second
inline constexpr D64 MP_BIT_S = 0.020;                                   // one GPS data bit, s

// What MP_estimate_signal_ttime finds for one satellite.
struct MP_SIGNAL_T {
  D64 ttime = 0.0;  // transmit time of the signal received at the receive time, s of week (0 .. 604800)
  D64 rate = 0.0;   // line-of-sight rate, m/s, positive while the satellite approaches
  S16 msc = 0;      // millisecond of the code within the data bit, 0..19
  S16 precise = 0;  // 1: from the ephemeris (SV_precise), 0: rough (almanac)
  POS_T sv_pos{};   // satellite position at the guessed transmit time, ECEF m
  VEL_T sv_vel{};   // satellite velocity, m/s
  D64 range = 0.0;  // geometric range with the Earth-rotation term, m
  D64 dtsv = 0.0;   // satellite clock polynomial used, s (0 without ephemeris)
};

// The target's view of one predicted signal (MP_predict_sub_bit_equation).
struct MP_SUB_BIT_T {
  S32 code_phase = 0;  // 1/8192 chip from the start of the data bit, 0 .. 20 x 1023 x 8192 - 1
  S32 code_rate = 0;   // 1/8192 chip/s: truncate(-rate x 1 023 000 x 8192 / c)
  S32 nco_word = 0;    // truncate(-rate x L1 / c x TM scale) + TM offset0
};

// The signal of satellite sv received at GPS week wn, time of week tow (s) by
// a receiver at rcv_pos (ECEF m) moving at rcv_vel (m/s). The satellite is
// taken at tow - guess_s (the travel-time guess, s; the week before when that
// is negative): precisely from its ephemeris, or, only when has_fixed is 1,
// roughly from its almanac. GPS-type satellites add their clock polynomial.
// Transmit time = tow - (range / c - dtsv) (plus a week when negative);
// millisecond = round(transmit time x 1000) mod 20. Returns 1 and fills *out,
// 0 (nothing written) for a null sv or argument, a tow that is no time of week
// (non-finite, negative or 604800 and above), or without a position.
S16 MP_estimate_signal_ttime(D64 guess_s, S16 has_fixed, S16 wn, D64 tow, const POS_T* rcv_pos, const VEL_T* rcv_vel,
                             SV_T sv, MP_SIGNAL_T* out);

// Bits (or any count at bps per second) between times t0 and t1 (s):
// round((t1 - t0) x bps), halves away from zero. A non-finite result gives 0,
// one beyond the S32 range that range's end.
S32 MP_predict_bitcnt(D64 t1, D64 t0, S16 bps);

// Code phase, code rate and NCO word of a signal with transmit time ttime (s
// of week) and line-of-sight rate rate (m/s, positive approaching; already
// corrected for the receiver clock drift), with the TCXO module's tracking
// NCO scale and offset0 (kernel/src/tcxo_freq.h); the offset is added modulo
// 2^32 (the register's width). Non-finite inputs give 0 before the offset.
// Fills *out (null: nothing).
void MP_predict_sub_bit_equation(D64 ttime, D64 rate, MP_SUB_BIT_T* out);
