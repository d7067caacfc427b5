// Time-count adjustment: raw time count to GPS time.
#include "kernel/src/gtc_adjust.h"

#include <cmath>

namespace {

constexpr S32 WEEKS_PER_WN_ROLLOVER = 1024;
constexpr S32 HALF_ROLLOVER = 512;
constexpr S32 HALF_WEEK = 302400;  // s
constexpr S32 GTC_WN_DIFF_INIT = 1570;
constexpr S16 ADJUST_UNKNOWN = 0;
constexpr S16 ADJUST_RTC = 1;
constexpr S16 ADJUST_INPUT = 2;
constexpr S32 TOW_DOUBLE_CHECK_LIMIT = 6;     // s
constexpr S32 WN_CHECK_EDGE = 30;             // s from either end of the week
constexpr S16 MIN_FULL_WN = 1024;             // a full week below this is not a usable reference
constexpr S32 DAYS_1970_TO_GPS_EPOCH = 3657;  // 6 January 1980 in days since 1 January 1970

// Days since 1 January 1970 of a proleptic Gregorian date.
constexpr S32 days_from_civil(S32 y, S32 m, S32 d) {
  y -= m <= 2 ? 1 : 0;
  const S32 era = (y >= 0 ? y : y - 399) / 400;
  const S32 yoe = y - era * 400;
  const S32 doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const S32 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

constexpr S32 gps_week_of_date(S32 y, S32 m, S32 d) { return (days_from_civil(y, m, d) - DAYS_1970_TO_GPS_EPOCH) / 7; }

// The build date from __DATE__ ("Mmm dd yyyy").
constexpr S32 build_month(const char* s) {
  constexpr const char* NAMES = "JanFebMarAprMayJunJulAugSepOctNovDec";
  for (S32 m = 0; m < 12; ++m)
    if (NAMES[m * 3] == s[0] && NAMES[m * 3 + 1] == s[1] && NAMES[m * 3 + 2] == s[2]) return m + 1;
  return 1;
}
constexpr S32 digit(char c) { return c >= '0' && c <= '9' ? c - '0' : 0; }
constexpr S32 build_week() {
  constexpr const char* D = __DATE__;
  const S32 day = digit(D[4]) * 10 + digit(D[5]);
  const S32 year = digit(D[7]) * 1000 + digit(D[8]) * 100 + digit(D[9]) * 10 + digit(D[10]);
  return gps_week_of_date(year, build_month(D), day);
}
constexpr S16 BUILD_WN = static_cast<S16>(build_week());
static_assert(gps_week_of_date(1980, 1, 6) == 0 && gps_week_of_date(1999, 8, 22) == 1024 &&
              gps_week_of_date(2019, 4, 7) == 2048);

struct GTCADJ_STATE_T {
  S16 has_raw_gtc;
  S16 raw_gtc_wn;
  D64 raw_gtc_tow;     // s
  U16 raw_gtc_subsec;  // ms
  S32 gtc_wn_diff;     // weeks to add to the raw week
  S32 gtc_tow_diff;    // s to add to the raw time of week
  S16 gtc_wn_adjust_type;
  S16 gtc_tow_adjust_type;
  S16 wn_update_record;             // full week from subframe 1
  S16 wn_update_raw_gtc_wn_stamp;   // raw count when it was taken
  S32 wn_update_raw_gtc_tow_stamp;  // s
  S16 has_init_predict_gps_time_by_rtc;
  S16 init_predict_gps_wn_by_rtc;
  S32 init_predict_gps_tow_by_rtc;  // s
  S16 has_init_input_time;
  S16 init_input_wn;
  S32 init_input_tow;  // s
  S16 has_pass_gtc_wn_double_check;
  S16 has_pass_gtc_tow_double_check;
  S16 has_stored_wn;
  S16 stored_wn;
  S16 has_sync_date_wn;
  S16 sync_date_wn;
};

GTCADJ_STATE_T Gtc{};

// Truncation toward zero, saturated to the S32 range (0 for NaN).
S32 trunc_s32(D64 v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return 2147483647;
  if (v <= -2147483648.0) return -2147483647 - 1;
  return static_cast<S32>(v);
}

S16 to_s16(S64 v) {
  if (v > 32767) return 32767;
  if (v < -32768) return -32768;
  return static_cast<S16>(v);
}

S32 raw_tow_s() { return trunc_s32(Gtc.raw_gtc_tow); }

S32 wrap_week_seconds(S64 s) {
  S64 r = s % SECONDS_PER_WEEK;
  if (r < 0) r += SECONDS_PER_WEEK;
  return static_cast<S32>(r);
}

void double_check_failed() {
  Gtc.gtc_wn_adjust_type = ADJUST_UNKNOWN;
  Gtc.gtc_tow_adjust_type = ADJUST_UNKNOWN;
  Gtc.has_pass_gtc_wn_double_check = 0;
  Gtc.has_pass_gtc_tow_double_check = 0;
  Gtc.has_init_predict_gps_time_by_rtc = 0;
}

void adjusted(S64* wn_p, S64* tow_p) {
  S64 wn = static_cast<S64>(Gtc.raw_gtc_wn) + Gtc.gtc_wn_diff;
  S64 tow = static_cast<S64>(raw_tow_s()) + Gtc.gtc_tow_diff;
  if (tow >= SECONDS_PER_WEEK) {
    tow -= SECONDS_PER_WEEK;
    ++wn;
  }
  *wn_p = wn;
  *tow_p = tow;
}

// Time-of-week double check against a frame sync's tow (s).
bool tow_double_check(S32 tow) {
  S64 a = static_cast<S64>(Gtc.gtc_tow_diff) + raw_tow_s();
  if (a >= SECONDS_PER_WEEK) a -= SECONDS_PER_WEEK;
  S64 x = tow - a;
  if (x > HALF_WEEK) x -= SECONDS_PER_WEEK;
  if (x < -HALF_WEEK) x += SECONDS_PER_WEEK;
  return x > -TOW_DOUBLE_CHECK_LIMIT && x < TOW_DOUBLE_CHECK_LIMIT;
}

// The best full week the receiver knows, for resolving a 10-bit week.
S32 reference_wn() {
  if (Gtc.gtc_wn_adjust_type != ADJUST_UNKNOWN && Gtc.has_raw_gtc) {
    S64 wn = 0;
    S64 tow = 0;
    adjusted(&wn, &tow);
    if (wn >= MIN_FULL_WN) return static_cast<S32>(wn);
  }
  if (Gtc.has_init_predict_gps_time_by_rtc && Gtc.init_predict_gps_wn_by_rtc >= MIN_FULL_WN)
    return Gtc.init_predict_gps_wn_by_rtc;
  if (Gtc.has_init_input_time && Gtc.init_input_wn >= MIN_FULL_WN) return Gtc.init_input_wn;
  if (Gtc.has_stored_wn) return Gtc.stored_wn;
  if (Gtc.has_sync_date_wn) return Gtc.sync_date_wn;
  return BUILD_WN;
}

}  // namespace

void GTCADJ_init() {
  Gtc = GTCADJ_STATE_T{};
  Gtc.gtc_wn_diff = GTC_WN_DIFF_INIT;
}

void GTCADJ_set_init_predict_gps_time_by_rtc(S16 wn, S32 tow) {
  Gtc.has_init_predict_gps_time_by_rtc = 1;
  Gtc.init_predict_gps_wn_by_rtc = wn;
  Gtc.init_predict_gps_tow_by_rtc = tow;
}

void GTCADJ_set_init_input_time(S16 wn, S32 tow) {
  Gtc.has_init_input_time = 1;
  Gtc.init_input_wn = wn;
  Gtc.init_input_tow = tow;
}

S16 GTCADJ_get_init_time(S16* wn_p, S32* tow_p) {
  if (wn_p == nullptr || tow_p == nullptr) return 0;
  if (Gtc.has_init_predict_gps_time_by_rtc) {
    *wn_p = Gtc.init_predict_gps_wn_by_rtc;
    *tow_p = Gtc.init_predict_gps_tow_by_rtc;
    return 1;
  }
  if (Gtc.has_init_input_time) {
    *wn_p = Gtc.init_input_wn;
    *tow_p = Gtc.init_input_tow;
    return 1;
  }
  return 0;
}

void GTCADJ_set_user_input_time_sync(const USER_INPUT_TIME_SYNC_T* sync_p) {
  Gtc.has_sync_date_wn = 0;
  if (sync_p == nullptr || !sync_p->enable_disable) return;
  const S32 y = sync_p->year;
  const S32 m = sync_p->month;
  const S32 d = sync_p->day;
  if (y < 1980 || y > 2200 || m < 1 || m > 12 || d < 1 || d > 31) return;
  const S32 wn = gps_week_of_date(y, m, d);
  if (wn < MIN_FULL_WN) return;
  Gtc.has_sync_date_wn = 1;
  Gtc.sync_date_wn = static_cast<S16>(wn);
}

void GTCADJ_set_stored_wn(S16 wn) {
  Gtc.has_stored_wn = wn >= MIN_FULL_WN ? 1 : 0;
  Gtc.stored_wn = wn;
}

void GTCADJ_update_raw_gtc(S16 raw_gtc_wn, D64 raw_gtc_tow) {
  if (!std::isfinite(raw_gtc_tow)) return;  // nothing usable from this epoch
  if (!Gtc.has_raw_gtc) {
    if (Gtc.has_init_predict_gps_time_by_rtc) {
      S32 wn = Gtc.init_predict_gps_wn_by_rtc;
      if (static_cast<S64>(trunc_s32(raw_gtc_tow)) - Gtc.init_predict_gps_tow_by_rtc < -HALF_WEEK) ++wn;
      Gtc.gtc_wn_diff = wn - raw_gtc_wn;
      Gtc.gtc_tow_diff = 0;
      Gtc.gtc_wn_adjust_type = ADJUST_RTC;
      Gtc.gtc_tow_adjust_type = ADJUST_RTC;
    } else if (Gtc.has_init_input_time) {
      Gtc.gtc_wn_diff = Gtc.init_input_wn - raw_gtc_wn;
      Gtc.gtc_tow_diff = trunc_s32(static_cast<D64>(Gtc.init_input_tow) - raw_gtc_tow);
      if (Gtc.gtc_tow_diff < 0) {
        Gtc.gtc_tow_diff += SECONDS_PER_WEEK;
        Gtc.gtc_wn_diff -= 1;
      }
      Gtc.gtc_wn_adjust_type = ADJUST_INPUT;
      Gtc.gtc_tow_adjust_type = ADJUST_INPUT;
    }
  }
  Gtc.raw_gtc_wn = raw_gtc_wn;
  Gtc.raw_gtc_tow = raw_gtc_tow;
  // Millisecond of the epoch, rounded half up: fraction of the second x 1000 + 0.5, truncated.
  const D64 frac = raw_gtc_tow - std::floor(raw_gtc_tow);
  Gtc.raw_gtc_subsec = static_cast<U16>(std::floor(frac * 1000.0 + 0.5));
  Gtc.has_raw_gtc = 1;
}

void GTCADJ_set_framesync_tow(S32 tow, S32 dbitcnt, S16 bps) {
  if (!Gtc.has_raw_gtc || bps <= 0) return;
  if (Gtc.gtc_tow_adjust_type == GTCADJ_CONFIRMED) {
    if (Gtc.has_pass_gtc_tow_double_check) return;
    if (tow_double_check(tow)) {
      Gtc.has_pass_gtc_tow_double_check = 1;
      return;
    }
    double_check_failed();
  }
  // GPS second at the raw second of the latest epoch.
  const S64 bits = dbitcnt;
  const S64 secs = bits >= 0 ? (bits + bps / 2) / bps : -((-bits + bps / 2) / bps);  // half away from zero
  const S32 t = wrap_week_seconds(static_cast<S64>(tow) - secs);
  // Seconds from the raw second to it, 0..604 799 (64-bit: the raw count is the target's).
  const S32 d = wrap_week_seconds(static_cast<S64>(t) - raw_tow_s());
  S64 week = 0;
  if (Gtc.gtc_wn_adjust_type == ADJUST_UNKNOWN) {
    Gtc.gtc_tow_diff = d;
    Gtc.gtc_tow_adjust_type = GTCADJ_CONFIRMED;
    return;
  }
  if (Gtc.gtc_wn_adjust_type == GTCADJ_CONFIRMED) {
    const S64 elapsed = (static_cast<S64>(Gtc.raw_gtc_wn) - Gtc.wn_update_raw_gtc_wn_stamp) * SECONDS_PER_WEEK +
                        (raw_tow_s() - static_cast<S64>(Gtc.wn_update_raw_gtc_tow_stamp));
    week = Gtc.wn_update_record + (t < elapsed ? 1 : 0);
  } else {
    S64 wn_a = 0;
    S64 tow_a = 0;
    adjusted(&wn_a, &tow_a);
    const S64 e = t - tow_a;
    week = wn_a;
    if (e > HALF_WEEK - 1) --week;     // t lies in the week before
    if (e < -(HALF_WEEK - 1)) ++week;  // t lies in the week after
  }
  Gtc.gtc_tow_diff = d;
  Gtc.gtc_wn_diff = static_cast<S32>(week - Gtc.raw_gtc_wn);
  if (static_cast<S64>(d) + raw_tow_s() > SECONDS_PER_WEEK - 1) Gtc.gtc_wn_diff -= 1;
  Gtc.gtc_tow_adjust_type = GTCADJ_CONFIRMED;
}

S16 GTCADJ_resolve_wn(S16 wn10) {
  const S32 ref = reference_wn();
  S32 delta = (static_cast<S32>(wn10) - ref) % WEEKS_PER_WN_ROLLOVER;
  if (delta < 0) delta += WEEKS_PER_WN_ROLLOVER;
  if (delta >= HALF_ROLLOVER) delta -= WEEKS_PER_WN_ROLLOVER;
  return to_s16(static_cast<S64>(ref) + delta);
}

S16 GTCADJ_get_build_wn() { return BUILD_WN; }

void GTCADJ_set_subframe1_wn(S16 wn, S16 gnss_type) {
  if (!Gtc.has_raw_gtc || gnss_type != GNSS_TYPE_GPS || wn < 0 || wn >= WEEKS_PER_WN_ROLLOVER) return;
  const S16 full_wn = GTCADJ_resolve_wn(wn);
  if (Gtc.gtc_wn_adjust_type != GTCADJ_CONFIRMED) {
    Gtc.gtc_wn_diff = full_wn - Gtc.raw_gtc_wn;
    Gtc.wn_update_record = full_wn;
    Gtc.wn_update_raw_gtc_wn_stamp = Gtc.raw_gtc_wn;
    Gtc.wn_update_raw_gtc_tow_stamp = raw_tow_s();
    if (Gtc.gtc_tow_adjust_type != ADJUST_UNKNOWN &&
        static_cast<S64>(Gtc.gtc_tow_diff) + raw_tow_s() >= SECONDS_PER_WEEK)
      Gtc.gtc_wn_diff -= 1;
    Gtc.gtc_wn_adjust_type = GTCADJ_CONFIRMED;
    return;
  }
  if (Gtc.has_pass_gtc_wn_double_check || Gtc.gtc_tow_adjust_type != GTCADJ_CONFIRMED) return;
  S64 wn_a = 0;
  S64 tow_a = 0;
  adjusted(&wn_a, &tow_a);
  if (tow_a <= WN_CHECK_EDGE || tow_a >= SECONDS_PER_WEEK - WN_CHECK_EDGE) return;
  if (full_wn == wn_a)
    Gtc.has_pass_gtc_wn_double_check = 1;
  else
    double_check_failed();
}

S16 GTCADJ_get_adjusted_gtc(S16* wn_p, D64* tow_p) {
  S16 wn = to_s16(static_cast<S64>(Gtc.raw_gtc_wn) + Gtc.gtc_wn_diff);
  D64 tow = Gtc.raw_gtc_tow + Gtc.gtc_tow_diff;
  if (tow >= SECONDS_PER_WEEK) {
    tow -= SECONDS_PER_WEEK;
    wn = to_s16(static_cast<S64>(wn) + 1);
  }
  *wn_p = wn;
  *tow_p = tow;
  return Gtc.gtc_wn_adjust_type != ADJUST_UNKNOWN && Gtc.gtc_tow_adjust_type != ADJUST_UNKNOWN ? 1 : 0;
}

S16 GTCADJ_get_gtc_wn_adjust_type() { return Gtc.gtc_wn_adjust_type; }
S16 GTCADJ_get_gtc_tow_adjust_type() { return Gtc.gtc_tow_adjust_type; }
S16 GTCADJ_get_raw_wn() { return Gtc.raw_gtc_wn; }
S32 GTCADJ_get_raw_gtc_tow() { return raw_tow_s(); }
U16 GTCADJ_get_subsec() { return Gtc.raw_gtc_subsec; }
