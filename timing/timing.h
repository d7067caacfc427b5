// 1PPS pulse settings: the antenna cable delay, the pulse width and the
// auxiliary frequency output, and the test whether GPS time is known well
// enough to align the pulse to it.
//
// The timing library sits below the navigation kernel: it reads the
// navigation state only through the reader the kernel installs at start
// (TIMING_install_time_status_reader), never through the kernel's headers.
#pragma once

#include "misc/gnss_types.h"

// The navigation state the pulse needs, filled by the kernel's reader: the
// fix mode of the last epoch (FIX_NONE .. FIX_DIFF), 1 when any GPS channel
// has a real frame sync (else 0), and the count of fixes since start.
using TIMING_TIME_STATUS_READER_T = void (*)(S16* fix_mode_p, S16* has_real_frame_sync_p, U32* fix_count_p);

// Install the reader of the navigation state; null removes it (then GPS time
// is never available).
void TIMING_install_time_status_reader(TIMING_TIME_STATUS_READER_T reader);

S16 TIMING_set_pps_cable_delay(S32 delay_0_01ns);  // antenna cable delay, 0.01 ns; returns 1
S16 TIMING_set_pps_width(U32 width_us);            // pulse width, us; returns 1
S32 TIMING_get_pps_cable_delay();                  // 0.01 ns
U32 TIMING_get_pps_width();                        // us
U32 TIMING_get_freq_out_hz();                      // auxiliary frequency output, Hz; 0 = off (nothing sets it)

// 1 when GPS time is available for the pulse: fix mode 3-D or better, a real
// frame sync on some channel and at least 4 fixes since start; else 0 (and 0
// without a reader).
S16 TIMING_is_time_avalialbe();
