// Readers of the navigation fix, the channels and the RTC module that the
// kernel frame modules use (backup memory, timing). Implemented by the
// navigation modules; until those exist the stand-ins give neutral answers
// (NV_ and CH_ in kernel/src/standin_measurement.cpp). The RTC readers
// (KRTC_) are declared in kernel/src/rtc.h.
#pragma once

#include "kernel/src/rtc.h"
#include "misc/gnss_types.h"

S16 NV_get_fixmode();    // FIX_NONE .. FIX_DIFF
U32 NV_get_fix_count();  // consecutive fixes
S16 NV_get_fix_svs();    // satellites used in the fix
F32 NV_get_tdop();
void NV_get_ecef_velocity(VEL_T* vel_p);                // m/s
S16 NV_get_time(D64* tow, U16* wn);                     // GPS time of the fix; 1 when updated
void NV_get_lla_position(LLA_T* lla_p);                 // rad, rad, m
void NV_get_clock_bias_drift(D64* cbias, F32* cdrift);  // m, m/s
S16 CH_has_any_real_frame_sync();
