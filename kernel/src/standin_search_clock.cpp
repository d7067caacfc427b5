// Stand-ins for the search and clock modules (time-count adjustment, RTC,
// search strategy) and for the 1PPS scheduling, until the search and clock
// issues (and the 1PPS timing issue) replace them.
//
// Neutral results: GPS time is never known (both adjust types stay 0), the RTC
// relation is never valid. The search stand-in sends the search engine one
// command only: the start clock offset, once at start, so that the clock
// offset chosen at start (backup clock record, or the start record's) reaches
// the target as the search will send it. The time-count
// stand-in keeps the millisecond of the latest epoch, as the real module does,
// so that the kernel's second tick falls on whole-second epochs.
#include <cmath>

#include "host/wrap.h"
#include "kernel/src/kernel_modules.h"
#include "kernel/src/nav_inputs.h"

namespace {
S16 Raw_gtc_wn = 0;
D64 Raw_gtc_tow = 0.0;   // s
U16 Raw_gtc_subsec = 0;  // ms
S16 Do_power_saving = 0;
constexpr S32 GTC_WN_DIFF_INIT = 1570;  // weeks added to the raw count until a source is known
}  // namespace

// --- Time count -------------------------------------------------------------------------
void GTCADJ_init() {
  Raw_gtc_wn = 0;
  Raw_gtc_tow = 0.0;
  Raw_gtc_subsec = 0;
}
void GTCADJ_set_user_input_time_sync(const USER_INPUT_TIME_SYNC_T*) {}
void GTCADJ_set_init_predict_gps_time_by_rtc(S16, S32) {}
void GTCADJ_set_init_input_time(S16, S32) {}
void GTCADJ_update_raw_gtc(S16 raw_gtc_wn, D64 raw_gtc_tow) {
  Raw_gtc_wn = raw_gtc_wn;
  Raw_gtc_tow = raw_gtc_tow;
  // Millisecond of the epoch, rounded half up: fraction of the second x 1000 + 0.5,
  // floored (the sum is positive, so this is the truncation of the sum).
  const D64 frac = raw_gtc_tow - std::floor(raw_gtc_tow);
  Raw_gtc_subsec = static_cast<U16>(std::floor(frac * 1000.0 + 0.5));
}
S16 GTCADJ_get_adjusted_gtc(S16* wn_p, D64* tow_p) {
  *wn_p = static_cast<S16>(Raw_gtc_wn + GTC_WN_DIFF_INIT);
  *tow_p = Raw_gtc_tow;
  return 0;
}
S16 GTCADJ_get_gtc_wn_adjust_type() { return 0; }
S16 GTCADJ_get_gtc_tow_adjust_type() { return 0; }
U16 GTCADJ_get_subsec() { return Raw_gtc_subsec; }
void GTCADJ_set_framesync_tow(S32, S32, S16) {}
void GTCADJ_set_subframe1_wn(S16, S16) {}

// --- RTC ----------------------------------------------------------------------------------
void KRTC_init() {}
void KRTC_update_rtc_lapsed_time(S32, S32) {}
void KRTC_compensate_gtc_sync_to_gps_time_error(S32, S16) {}
void KRTC_cal_rtc_ratio_proc(U32, U32, U32) {}
S16 KRTC_is_valid() { return 0; }
void KRTC_get_rtc_time(S16* wn, S32* sec, S16* subsec, S16* gps_ss_dif) {
  *wn = 0;
  *sec = 0;
  *subsec = 0;
  *gps_ss_dif = 0;
}
void KRTC_get_rtc_ratio(D64* ratio, U32* quality) {
  *ratio = -1.0;  // unknown
  *quality = 0;
}
void KRTC_set_rtc_ratio(D64, U32, D64, S16, S16, S32, S16) {}

// --- Search ---------------------------------------------------------------------------------
void KSEARCH_init(S16, S16 do_power_save, S16, S16, S32 init_clock_offset_hz, S16, S32) {
  Do_power_saving = do_power_save;
  PSE_set_clock_offset(init_clock_offset_hz);
}
void KSEARCH_process() {}
void KSEARCH_recompute_all_sv_states_for_agps() {}
void KSEARCH_set_cold_search() {}
void KSEARCH_almanac_cleared_event() {}
void SRST_set_power_off_mode(S16 on) { Do_power_saving = on; }
S16 SRST_get_power_off_mode() { return Do_power_saving; }
void SRST_set_force_no_power_saving_in_cold_search() {}

// --- 1PPS -------------------------------------------------------------------------------------
void K1PPS_init() {}
void K1PPS_process() {}
