// RTC module (KRTC_): calibrates the target's low-power real-time clock
// (32 768 Hz, survives power-off) against GPS time, so that the next start can
// predict GPS time and the receiver clock bias from the RTC alone.
//
// RTC time is a 12-bit week (0..4095, wraps modulo 4096), a second count and a
// sub-second count in 1/32768 s. The RTC/GPS ratio is RTC seconds per GPS
// second (-1 when unknown); only a ratio with |ratio - 1| < 1e-3 is ever kept.
// Its quality word holds, in the low 16 bits, the length in whole seconds of
// the baseline the ratio was measured over (saturating at 65 535) and, in the
// high 16 bits, the RTC second / 16 at which it was measured.
//
// Lapses between RTC stamps are counted in 64 bits, so stamps of any value
// (garbage from a link or a backup image, decades apart) give a finite result.
#pragma once

#include "misc/gnss_types.h"

inline constexpr D64 KRTC_RATIO_UNKNOWN = -1.0;
inline constexpr D64 KRTC_RATIO_TOLERANCE = 1e-3;        // |ratio - 1| must stay below this
inline constexpr D64 KRTC_MIN_GPS_BASELINE = 1.0;        // s: a ratio is measured over at least this much GPS time
inline constexpr S32 KRTC_CB_PREDICT_LAPSE = 3600;       // s: a shorter start-up lapse arms the clock-bias prediction
inline constexpr S32 KRTC_CB_WEAK_PASS_LAPSE = 180;      // s: a shorter one also allows the very-weak search pass
inline constexpr U32 KRTC_QUALITY_MAX_BASELINE = 65535;  // s: the quality's baseline field saturates here

// One RTC stamp: week (12-bit), second, sub-second (1/32768 s).
struct KRTC_STAMP_T {
  S64 wn;
  S64 sec;
  S64 subsec;
};

// Start of the run: everything unknown, RTC not valid, no ratio, no backup
// relation, clock-bias prediction disarmed; installed hooks are kept.
void KRTC_init();

// One RTC record sampled at a whole-second measurement epoch (from the raw
// measurement code): record_rtc_sec bits 0..19 = RTC second; record_rtc_wn_subsec
// bits 16..27 = RTC week, bits 0..14 = sub-second (1/32768 s);
// record_gtc_ssubsec_div_subsec low 16 bits = the target's sub-second offset
// between its time count and the RTC (TCXO clocks). Validates the RTC (two
// records one second apart), and measures the RTC/GPS ratio once the
// navigation fix is good (reads NV_get_fixmode, NV_get_fix_count,
// NV_get_fix_svs, NV_get_tdop, NV_get_pdop, NV_get_time,
// NV_get_clock_bias_drift).
void KRTC_cal_rtc_ratio_proc(U32 record_rtc_sec, U32 record_rtc_wn_subsec, U32 record_gtc_ssubsec_div_subsec);

// The RTC relation read from the backup memory at start: rtc_ratio (RTC s per
// GPS s; invalid values, e.g. -1, 0, NaN, or further than 1e-3 from 1, count
// as none), its quality word, the GPS time (tow s, full week) and the RTC stamp
// (12-bit week, s, 1/32768 s) of the stored fix.
void KRTC_set_rtc_ratio(D64 rtc_ratio, U32 rtc_ratio_quality, D64 backup_gps_tow, S16 backup_gps_wn, S16 backup_rtc_wn,
                        S32 backup_rtc_sec, S16 backup_rtc_subsec);

// Latest RTC record: 12-bit week, second, sub-second (1/32768 s) and the
// time-count/RTC sub-second offset (TCXO clocks). All zero before a record.
void KRTC_get_rtc_time(S16* wn, S32* sec, S16* subsec, S16* gps_ss_dif);
// Current ratio (RTC s per GPS s, -1 unknown) and its quality word.
void KRTC_get_rtc_ratio(D64* ratio, U32* quality);
S16 KRTC_is_valid();  // 1 once two consecutive RTC records were one second apart

// Start-up: the RTC lapse since the stored fix, d_rtc_sec s + d_rtc_subsec /
// 32768 s. Only 0 <= d_rtc_sec < 3600 arms the clock-bias prediction.
void KRTC_update_rtc_lapsed_time(S32 d_rtc_sec, S32 d_rtc_subsec);
// Every measurement epoch: the target's error between its time-count sync and
// the RTC-predicted GPS time (TCXO clocks) and 1 on whole seconds, else 0.
// Runs the hot-start clock-bias rule when the error is non-zero and armed.
void KRTC_compensate_gtc_sync_to_gps_time_error(S32 error_in_tcxo_clocks, S16 is_integer_second);
// Console detail: the start-up lapse (s) and the clock bias predicted from the RTC (m).
void KRTC_get_debug_info(S32* d_sec_p, D64* predict_cb_p);
// 1 while the clock-bias prediction from the RTC is armed, else 0.
S16 KRTC_can_predict_clock_bias();

// Hooks of the hot-start clock-bias rule into the navigation and measurement
// prediction modules; a null hook counts as "cannot" / does nothing.
struct KRTC_HOT_START_HOOKS_T {
  S16 (*can_predict_cb)();              // 1 when the predictor can predict the bias from more than one channel
  void (*set_clock_bias)(D64 cbias_m);  // set the navigation clock bias, m (drift kept)
  void (*set_predicted_bias_ready)();   // tell the predictor (and search) a predicted bias exists
};
void KRTC_install_hot_start_hooks(const KRTC_HOT_START_HOOKS_T* hooks_p);  // copied; null uninstalls

// Helpers (pure, exposed for the tests).
// Week, second and sub-second of one RTC record's words.
void KRTC_decode_record(U32 record_rtc_sec, U32 record_rtc_wn_subsec, U32 record_gtc_ssubsec_div_subsec, S16* wn_p,
                        S32* sec_p, S16* subsec_p, S16* ss_dif_p);
// RTC time from a to b, s: week difference (+4096 when negative) x 604 800 +
// second difference + sub-second difference / 32768, in 64 bits.
D64 KRTC_interval(const KRTC_STAMP_T* a_p, const KRTC_STAMP_T* b_p);
// GPS time from (then_wn, then_tow) to (now_wn, now_tow), s: full weeks, s of week.
D64 KRTC_gps_baseline(S16 then_wn, D64 then_tow, S16 now_wn, D64 now_tow);
// 1 and *ratio_p = rtc_interval_s / gps_baseline_s when the GPS baseline is at
// least 1 s, the RTC interval positive, both finite and the ratio within 1e-3
// of 1; else 0 and *ratio_p untouched.
S16 KRTC_calc_ratio(D64 rtc_interval_s, D64 gps_baseline_s, D64* ratio_p);
// 1 when ratio is a usable RTC/GPS ratio (finite, |ratio - 1| < 1e-3).
S16 KRTC_ratio_is_valid(D64 ratio);
// Quality word: baseline (s, rounded, saturating to 0..65 535) low, RTC second / 16 (0..65 535) high.
U32 KRTC_make_quality(D64 baseline_s, S64 rtc_sec);
// Clock bias predicted at a hot start from the sync error (TCXO clocks) at
// tcxo_hz: -(err x c / f + 30 000) m. 1 when |bias| / c <= 1 s, else 0.
S16 KRTC_calc_hot_start_clock_bias(S32 error_in_tcxo_clocks, U32 tcxo_hz, D64* cbias_m_p);
