// Readers of the navigation fix, the channels and the RTC module that the
// kernel frame modules use (backup memory, timing). Implemented by the
// navigation modules; until those exist the stand-ins give neutral answers
// (NV_ and CH_ in kernel/src/standin_measurement.cpp, KRTC_ in
// kernel/src/standin_search_clock.cpp).
#pragma once

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

S16 KRTC_is_valid();
void KRTC_get_rtc_time(S16* wn, S32* sec, S16* subsec, S16* gps_ss_dif);
void KRTC_get_rtc_ratio(D64* ratio, U32* quality);
void KRTC_set_rtc_ratio(D64 rtc_ratio, U32 rtc_ratio_quality, D64 backup_gps_tow, S16 backup_gps_wn, S16 backup_rtc_wn,
                        S32 backup_rtc_sec, S16 backup_rtc_subsec);
