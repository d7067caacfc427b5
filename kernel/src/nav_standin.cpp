// Stand-ins for the navigation fix record (NV_), the channels (CH_) and the
// RTC module (KRTC_) until the measurement, navigation and clock issues
// replace them: no fix, no frame sync, no valid RTC relation.
#include "kernel/src/nav_inputs.h"

S16 NV_get_fixmode() { return FIX_NONE; }
U32 NV_get_fix_count() { return 0; }
S16 NV_get_fix_svs() { return 0; }
F32 NV_get_tdop() { return 99.9f; }
void NV_get_ecef_velocity(VEL_T* vel_p) { *vel_p = VEL_T{0.0f, 0.0f, 0.0f}; }
S16 NV_get_time(D64* tow, U16* wn) {
  *tow = 0.0;
  *wn = 0;
  return 0;
}
void NV_get_lla_position(LLA_T* lla_p) { *lla_p = LLA_T{0.0, 0.0, 0.0f}; }
void NV_get_clock_bias_drift(D64* cbias, F32* cdrift) {
  *cbias = 0.0;
  *cdrift = 0.0f;
}
S16 CH_has_any_real_frame_sync() { return 0; }

S16 KRTC_is_valid() { return 0; }
void KRTC_get_rtc_time(S16* wn, S32* sec, S16* subsec, S16* gps_ss_dif) {
  *wn = 0;
  *sec = 0;
  *subsec = 0;
  *gps_ss_dif = 0;
}
void KRTC_get_rtc_ratio(D64* ratio, U32* quality) {
  *ratio = -1.0;
  *quality = 0;
}
void KRTC_set_rtc_ratio(D64, U32, D64, S16, S16, S32, S16) {}
