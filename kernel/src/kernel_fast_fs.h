// Fast frame sync (KFASTFS_): the kernel's once-per-epoch step of the
// bit-count prediction (kernel/src/bitcount_predictor.h). It feeds the
// predictor with the navigation's position and clock bias and hands the
// predicted bit-count offsets to the channels that have no frame sync yet, so
// that a hot start can fix before any subframe is read. Single-threaded,
// inside KERNEL_loop.
#pragma once

#include "misc/gnss_types.h"

// Start: has_stored_time_pos 1 with the stored GPS week stored_wn (full week)
// and time of week stored_sec (s) of a hot start; 0 (and 0s) otherwise, which
// leaves prediction off until the first fix.
void KFASTFS_init(S16 has_stored_time_pos, S16 stored_wn, S32 stored_sec);
// Once per whole measurement epoch (no time-count shift) once GPS time is
// known: adjusted GPS week gtc_wn (full week), receiver time of week gtc_sec
// (s), gtc_is_integer 1 on a whole-second epoch. With a 2-D fix or better the
// prediction is switched on and checked against the navigation's clock bias;
// without a fix it is computed from the stored time (at 1 Hz every epoch,
// faster rates on whole seconds only). Then every channel's prediction is
// replaced by the predictor's.
void KFASTFS_process(S16 gtc_wn, D64 gtc_sec, S16 gtc_is_integer);
