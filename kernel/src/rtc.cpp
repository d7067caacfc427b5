// RTC module: RTC validity, the RTC/GPS ratio and the hot-start clock bias.
#include "kernel/src/rtc.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "kernel/src/kernel_modules.h"
#include "kernel/src/nav_inputs.h"
#include "kernel/src/tcxo_freq.h"

namespace {

constexpr S64 WEEK_S = SECONDS_PER_WEEK;
constexpr S64 HALF_WEEK = WEEK_S / 2;
constexpr S64 RTC_WEEKS = RTC_WEEK_ROLLOVER;  // the RTC week is 12 bits
constexpr D64 RTC_SUBSEC_PER_SEC = 32768.0;
constexpr S64 FIELD_LIMIT = S64{1} << 40;     // clamp of a stamp field: sums and products stay inside 64 bits
constexpr D64 HOT_START_CB_OFFSET = 30000.0;  // m, the target's sync lead
constexpr D64 MAX_PREDICTED_CB = 1.0;         // s
constexpr U32 RTC_SEC_MASK = 0xFFFFFU;        // bits 0..19
constexpr U32 RTC_SUBSEC_MASK = 0x7FFFU;      // bits 0..14
constexpr U32 RTC_WN_MASK = 0xFFFU;           // bits 16..27 after the shift
constexpr int RTC_WN_SHIFT = 16;
constexpr U32 SS_DIF_MASK = 0xFFFFU;
constexpr U32 QUALITY_FIELD_MAX = 0xFFFFU;
constexpr int QUALITY_HIGH_SHIFT = 16;
constexpr S64 QUALITY_SEC_SCALE = 16;    // the quality's high half is the RTC second / 16
constexpr S64 QUALITY_AGE_LIMIT = 1201;  // s: an older ratio is replaced even by a shorter baseline
constexpr S16 GOOD_FIX_MIN_COUNT = 3;    // fixes
constexpr S16 GOOD_FIX_MIN_SVS = 5;
constexpr F32 GOOD_FIX_MAX_PDOP = 3.5F;
constexpr F32 GOOD_FIX_MAX_TDOP = 2.0F;
constexpr int HISTORY_LEN = 41;
constexpr S16 HISTORY_PERIOD = 30;  // s between history entries

struct GTC_BUF_T {
  S16 begin_gtc_ssubsec;
  KRTC_STAMP_T begin;
  S16 end_gtc_ssubsec;
  KRTC_STAMP_T end;
  S32 sec_cnt;  // records stored
};

// GPS/RTC pairs, newest first.
struct GPS_BUF_T {
  std::array<D64, HISTORY_LEN> gps_tow;
  std::array<S16, HISTORY_LEN> gps_wn;
  std::array<KRTC_STAMP_T, HISTORY_LEN> rtc;
  int buf_cnt;
  S16 record_time_down_cnt;
};

struct BACKUP_RELATION_T {
  D64 ratio;  // KRTC_RATIO_UNKNOWN: none
  U32 quality;
  D64 gps_tow;  // s
  S16 gps_wn;
  KRTC_STAMP_T rtc;
};

struct RTC_STATE_T {
  S16 wn;
  S32 sec;
  S16 subsec;
  S16 gps_ss_dif;
  S64 last_sec;  // -1: no record yet
  S16 is_valid;
  D64 ratio;
  U32 quality;
  BACKUP_RELATION_T backup;
  S16 calc_lapse_ratio_flag;  // the once-per-run update against the backup stamp is due
  S16 gtc_buf_done;           // the ratio from the first-fix buffer was computed
  S16 can_avoid_framesync;    // the clock-bias prediction is armed
  S32 debug_sec_dif;          // s
  D64 debug_predict_cb;       // m
  GTC_BUF_T gtc_buf;
  GPS_BUF_T history;
};

RTC_STATE_T initial_state() {
  RTC_STATE_T s{};
  s.last_sec = -1;
  s.ratio = KRTC_RATIO_UNKNOWN;
  s.backup.ratio = KRTC_RATIO_UNKNOWN;
  s.calc_lapse_ratio_flag = 1;
  return s;
}

RTC_STATE_T Rtc = initial_state();
KRTC_HOT_START_HOOKS_T Hooks{};

KRTC_STAMP_T current_stamp() { return KRTC_STAMP_T{Rtc.wn, Rtc.sec, Rtc.subsec}; }

// A fix good enough to calibrate against: 3-D or better, at least 3 fixes, at
// least 5 satellites, TDOP <= 2 and PDOP <= 3.5.
bool good_fix() {
  return NV_get_fixmode() >= FIX_3D && NV_get_fix_count() >= static_cast<U32>(GOOD_FIX_MIN_COUNT) &&
         NV_get_fix_svs() >= GOOD_FIX_MIN_SVS && NV_get_tdop() <= GOOD_FIX_MAX_TDOP &&
         NV_get_pdop() <= GOOD_FIX_MAX_PDOP;
}

// Replace ratio and quality from an RTC interval against a GPS baseline when
// the baseline is longer than the current one or the current one is old.
void update_ratio_against(const KRTC_STAMP_T& then_rtc, D64 then_tow, S16 then_wn, D64 now_tow, S16 now_wn) {
  const KRTC_STAMP_T now_rtc = current_stamp();
  const D64 interval = KRTC_interval(&then_rtc, &now_rtc);
  const D64 q = std::floor(interval + 0.5);
  S64 age = Rtc.sec - QUALITY_SEC_SCALE * static_cast<S64>(Rtc.quality >> QUALITY_HIGH_SHIFT);
  if (age < 0) age += WEEK_S;
  if (!(q >= static_cast<D64>(Rtc.quality & QUALITY_FIELD_MAX) || age >= QUALITY_AGE_LIMIT)) return;
  const D64 gps_baseline = KRTC_gps_baseline(then_wn, then_tow, now_wn, now_tow);
  D64 ratio = 0.0;
  if (!KRTC_calc_ratio(interval, gps_baseline, &ratio)) return;
  Rtc.ratio = ratio;
  Rtc.quality = KRTC_make_quality(q, Rtc.sec);
}

// Before the first fix keep the first and latest stamps; at the third fix turn
// them into a ratio over the GPS baseline (whole RTC seconds corrected by the
// sub-second offsets, scaled by the clock drift).
void first_fix_buffer(S16 ss_dif) {
  GTC_BUF_T& b = Rtc.gtc_buf;
  if (!NV_has_fixed()) {
    if (b.sec_cnt == 0) {
      b.begin = current_stamp();
      b.begin_gtc_ssubsec = ss_dif;
    } else {
      b.end = current_stamp();
      b.end_gtc_ssubsec = ss_dif;
    }
    if (b.sec_cnt < std::numeric_limits<S32>::max()) ++b.sec_cnt;
    return;
  }
  if (Rtc.gtc_buf_done || NV_get_fix_count() < static_cast<U32>(GOOD_FIX_MIN_COUNT) || b.sec_cnt < 2) return;
  Rtc.gtc_buf_done = 1;
  const D64 interval = KRTC_interval(&b.begin, &b.end);
  const D64 n = std::floor(interval + 0.5);
  const U32 f = TCXO_get_tcxo_freq();
  if (f == 0) return;
  const D64 gps_baseline = (static_cast<D64>(b.end_gtc_ssubsec) - b.begin_gtc_ssubsec) / static_cast<D64>(f) + n;
  D64 cbias = 0.0;
  F32 cdrift = 0.0F;
  NV_get_clock_bias_drift(&cbias, &cdrift);
  D64 ratio = 0.0;
  if (!KRTC_calc_ratio(interval, gps_baseline, &ratio)) return;
  ratio *= 1.0 + static_cast<D64>(cdrift) / SPEED_OF_LIGHT;
  if (!KRTC_ratio_is_valid(ratio)) return;
  Rtc.ratio = ratio;
  Rtc.quality = KRTC_make_quality(n, Rtc.sec);
}

void push_history(D64 tow, S16 wn) {
  GPS_BUF_T& h = Rtc.history;
  const int n = std::min(h.buf_cnt, HISTORY_LEN - 1);
  for (int i = n; i > 0; --i) {
    h.gps_tow[i] = h.gps_tow[i - 1];
    h.gps_wn[i] = h.gps_wn[i - 1];
    h.rtc[i] = h.rtc[i - 1];
  }
  h.gps_tow[0] = tow;
  h.gps_wn[0] = wn;
  h.rtc[0] = current_stamp();
  h.buf_cnt = n + 1;
}

void good_fix_update() {
  D64 tow = 0.0;
  U16 wn = 0;
  NV_get_time(&tow, &wn);
  if (!std::isfinite(tow)) return;
  const auto now_wn = static_cast<S16>(wn);
  if (Rtc.calc_lapse_ratio_flag) {
    Rtc.calc_lapse_ratio_flag = 0;
    if (KRTC_ratio_is_valid(Rtc.backup.ratio) && std::isfinite(Rtc.backup.gps_tow))
      update_ratio_against(Rtc.backup.rtc, Rtc.backup.gps_tow, Rtc.backup.gps_wn, tow, now_wn);
  }
  GPS_BUF_T& h = Rtc.history;
  if (h.record_time_down_cnt == 0) {
    push_history(tow, now_wn);
    h.record_time_down_cnt = HISTORY_PERIOD;
    return;
  }
  if (h.buf_cnt > 0) {
    const int oldest = h.buf_cnt - 1;
    update_ratio_against(h.rtc[oldest], h.gps_tow[oldest], h.gps_wn[oldest], tow, now_wn);
  }
}

}  // namespace

void KRTC_init() { Rtc = initial_state(); }

void KRTC_install_hot_start_hooks(const KRTC_HOT_START_HOOKS_T* hooks_p) {
  Hooks = hooks_p != nullptr ? *hooks_p : KRTC_HOT_START_HOOKS_T{};
}

void KRTC_decode_record(U32 record_rtc_sec, U32 record_rtc_wn_subsec, U32 record_gtc_ssubsec_div_subsec, S16* wn_p,
                        S32* sec_p, S16* subsec_p, S16* ss_dif_p) {
  *sec_p = static_cast<S32>(record_rtc_sec & RTC_SEC_MASK);
  *wn_p = static_cast<S16>((record_rtc_wn_subsec >> RTC_WN_SHIFT) & RTC_WN_MASK);
  *subsec_p = static_cast<S16>(record_rtc_wn_subsec & RTC_SUBSEC_MASK);
  *ss_dif_p = static_cast<S16>(static_cast<U16>(record_gtc_ssubsec_div_subsec & SS_DIF_MASK));
}

D64 KRTC_interval(const KRTC_STAMP_T* a_p, const KRTC_STAMP_T* b_p) {
  const KRTC_STAMP_T& b = *b_p;
  // Stamps from a backup image may hold any value: clamp each field to a range
  // whose products and sums stay far inside 64 bits.
  auto clamp = [](S64 v) { return std::clamp(v, -FIELD_LIMIT, FIELD_LIMIT); };
  S64 dwn = clamp(b.wn) - clamp(a_p->wn);
  if (dwn < 0) dwn += RTC_WEEKS;  // the RTC week counter wrapped
  const S64 dsec = dwn * WEEK_S + (clamp(b.sec) - clamp(a_p->sec));
  const S64 dsubsec = clamp(b.subsec) - clamp(a_p->subsec);
  return static_cast<D64>(dsec) + static_cast<D64>(dsubsec) / RTC_SUBSEC_PER_SEC;
}

D64 KRTC_gps_baseline(S16 then_wn, D64 then_tow, S16 now_wn, D64 now_tow) {
  return static_cast<D64>(static_cast<S64>(now_wn) - then_wn) * static_cast<D64>(WEEK_S) + (now_tow - then_tow);
}

S16 KRTC_ratio_is_valid(D64 ratio) { return std::isfinite(ratio) && std::fabs(ratio - 1.0) < KRTC_RATIO_TOLERANCE; }

S16 KRTC_calc_ratio(D64 rtc_interval_s, D64 gps_baseline_s, D64* ratio_p) {
  if (!std::isfinite(rtc_interval_s) || !std::isfinite(gps_baseline_s)) return 0;
  if (gps_baseline_s < KRTC_MIN_GPS_BASELINE || rtc_interval_s <= 0.0) return 0;
  const D64 ratio = rtc_interval_s / gps_baseline_s;
  if (!KRTC_ratio_is_valid(ratio)) return 0;
  *ratio_p = ratio;
  return 1;
}

U32 KRTC_make_quality(D64 baseline_s, S64 rtc_sec) {
  U32 low = 0;
  if (!std::isnan(baseline_s) && baseline_s > 0.0)
    low = baseline_s >= static_cast<D64>(KRTC_QUALITY_MAX_BASELINE) ? KRTC_QUALITY_MAX_BASELINE
                                                                    : static_cast<U32>(baseline_s);
  const S64 high = std::clamp<S64>(rtc_sec / QUALITY_SEC_SCALE, 0, QUALITY_FIELD_MAX);
  return (static_cast<U32>(high) << QUALITY_HIGH_SHIFT) | low;
}

void KRTC_cal_rtc_ratio_proc(U32 record_rtc_sec, U32 record_rtc_wn_subsec, U32 record_gtc_ssubsec_div_subsec) {
  S16 wn = 0;
  S32 sec = 0;
  S16 subsec = 0;
  S16 ss_dif = 0;
  KRTC_decode_record(record_rtc_sec, record_rtc_wn_subsec, record_gtc_ssubsec_div_subsec, &wn, &sec, &subsec, &ss_dif);
  if (!Rtc.is_valid && Rtc.last_sec >= 0) {
    S64 d = sec - Rtc.last_sec;
    if (d < -HALF_WEEK) d += WEEK_S;
    if (d == 1) Rtc.is_valid = 1;
  }
  Rtc.wn = wn;
  Rtc.sec = sec;
  Rtc.subsec = subsec;
  Rtc.gps_ss_dif = ss_dif;
  Rtc.last_sec = sec;

  const bool has_backup_ratio = KRTC_ratio_is_valid(Rtc.backup.ratio);
  if (!has_backup_ratio) {
    first_fix_buffer(ss_dif);
  } else if (NV_get_fix_count() < static_cast<U32>(GOOD_FIX_MIN_COUNT)) {
    Rtc.ratio = Rtc.backup.ratio;
    Rtc.quality = Rtc.backup.quality;
    return;
  }
  if (Rtc.history.record_time_down_cnt > 0) --Rtc.history.record_time_down_cnt;
  if (good_fix()) good_fix_update();
}

void KRTC_set_rtc_ratio(D64 rtc_ratio, U32 rtc_ratio_quality, D64 backup_gps_tow, S16 backup_gps_wn, S16 backup_rtc_wn,
                        S32 backup_rtc_sec, S16 backup_rtc_subsec) {
  BACKUP_RELATION_T& b = Rtc.backup;
  if (!KRTC_ratio_is_valid(rtc_ratio)) {  // an unusable stored ratio counts as none
    b = BACKUP_RELATION_T{};
    b.ratio = KRTC_RATIO_UNKNOWN;
    return;
  }
  b.ratio = rtc_ratio;
  b.quality = rtc_ratio_quality;
  b.gps_tow = backup_gps_tow;
  b.gps_wn = backup_gps_wn;
  b.rtc = KRTC_STAMP_T{backup_rtc_wn, backup_rtc_sec, backup_rtc_subsec};
}

void KRTC_get_rtc_time(S16* wn, S32* sec, S16* subsec, S16* gps_ss_dif) {
  *wn = Rtc.wn;
  *sec = Rtc.sec;
  *subsec = Rtc.subsec;
  *gps_ss_dif = Rtc.gps_ss_dif;
}

void KRTC_get_rtc_ratio(D64* ratio, U32* quality) {
  *ratio = Rtc.ratio;
  *quality = Rtc.quality;
}

S16 KRTC_is_valid() { return Rtc.is_valid; }

void KRTC_update_rtc_lapsed_time(S32 d_rtc_sec, S32) {
  Rtc.debug_sec_dif = d_rtc_sec;
  Rtc.can_avoid_framesync = (d_rtc_sec >= 0 && d_rtc_sec < KRTC_CB_PREDICT_LAPSE) ? 1 : 0;
}

S16 KRTC_calc_hot_start_clock_bias(S32 error_in_tcxo_clocks, U32 tcxo_hz, D64* cbias_m_p) {
  if (tcxo_hz == 0) return 0;
  const D64 cb =
      -(static_cast<D64>(error_in_tcxo_clocks) * SPEED_OF_LIGHT / static_cast<D64>(tcxo_hz) + HOT_START_CB_OFFSET);
  if (std::fabs(cb) / SPEED_OF_LIGHT > MAX_PREDICTED_CB) return 0;
  *cbias_m_p = cb;
  return 1;
}

void KRTC_compensate_gtc_sync_to_gps_time_error(S32 error_in_tcxo_clocks, S16 is_integer_second) {
  if (error_in_tcxo_clocks == 0 || !Rtc.can_avoid_framesync) return;
  // Only before any fix, and only while the predictor can predict the bias from more than one channel.
  if (NV_has_fixed() || Hooks.can_predict_cb == nullptr || !Hooks.can_predict_cb()) {
    Rtc.can_avoid_framesync = 0;
    return;
  }
  D64 cbias = 0.0;
  F32 cdrift = 0.0F;
  NV_get_clock_bias_drift(&cbias, &cdrift);
  if (cbias == 0.0) {
    D64 predicted = 0.0;
    if (!KRTC_calc_hot_start_clock_bias(error_in_tcxo_clocks, TCXO_get_tcxo_freq(), &predicted)) {
      Rtc.can_avoid_framesync = 0;  // implausible: no prediction for this run
      return;
    }
    Rtc.debug_predict_cb = predicted;
    if (Hooks.set_clock_bias != nullptr) Hooks.set_clock_bias(predicted);
    if (Rtc.debug_sec_dif < KRTC_CB_WEAK_PASS_LAPSE && Hooks.set_predicted_bias_ready != nullptr)
      Hooks.set_predicted_bias_ready();
  } else if (is_integer_second && Hooks.set_clock_bias != nullptr) {
    Hooks.set_clock_bias(cbias + static_cast<D64>(cdrift));  // advanced by one second of drift, m
  }
}

void KRTC_get_debug_info(S32* d_sec_p, D64* predict_cb_p) {
  *d_sec_p = Rtc.debug_sec_dif;
  *predict_cb_p = Rtc.debug_predict_cb;
}

S16 KRTC_can_predict_clock_bias() { return Rtc.can_avoid_framesync; }
