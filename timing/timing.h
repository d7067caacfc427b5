// 1PPS pulse settings.
#pragma once

#include "misc/gnss_types.h"

S16 TIMING_set_pps_cable_delay(S32 delay_0_01ns);  // cable delay, 0.01 ns
S16 TIMING_set_pps_width(U32 width_us);            // pulse width, us
S32 TIMING_get_pps_cable_delay();
U32 TIMING_get_pps_width();
