// Measurement check (KMCHECK_): once per measurement epoch, acts on what the
// navigation's bad-measurement screens asked for in the estimation inputs of
// the last fix (clear a satellite's ephemeris, shift a channel's code by
// +-1 ms, drop a channel), drops channels with a high interference score and
// removes cross-correlation tracks (a weak channel whose Doppler lies a whole
// number of kHz, within 3 Hz, from a channel at least 21 dB stronger: the C/A
// codes' cross-correlation sidelobes repeat every 1 kHz).
//
// Commands go to the target through the proxy (host/wrap.h):
// ASIC_SHIFT_MSC with the kernel's satellite id, ASIC_DROP_CHANNEL with the
// target's numbering (SBAS 120..138 sent as 38..56). Single-threaded, inside
// KERNEL_loop.
#pragma once

#include "misc/gnss_types.h"

inline constexpr S16 KMCHECK_INTERFERENCE_DROP_SCORE = 10;  // a score above this drops the channel

// Installs the two bad-measurement screens into navigation (first fix and
// later fixes) and zeroes the cross-correlation counter.
void KMCHECK_init();
// The epoch's checks; see the file comment. Estimation inputs naming a
// channel outside 0..19, or a channel no longer tracking their satellite,
// send nothing. A drop is sent once per channel assignment (satellite and
// tracking issue): the target releases the channel on the first command, and
// the reports of the assignment that still arrive meanwhile ask nothing more.
void KMCHECK_check_result_process();
// Cross-correlation drops sent since KMCHECK_init (CROSS_CORRELATION_KICK).
S32 KMCHECK_get_cross_correlation_kick_count();
