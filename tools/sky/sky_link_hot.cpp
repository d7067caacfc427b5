// The target's answer to the host's hot-start time prediction (sky_hot.h):
// the time count set from it, and the prediction recorded against the truth.
#include <cmath>

#include "misc/pack.h"
#include "tools/sky/sky_hot.h"

namespace {

constexpr double WEEK_S = 604800.0;
constexpr double MAX_STEP_S = 10.0;  // largest time-count step taken (the scenario's clock-bias range), s

struct HOT_LOG_T {
  int count = 0;
  int has_first = 0;
  SKY_HOT_RECORD_T first;
};

HOT_LOG_T Log;

double diff_s(SKY_GPST_T a, SKY_GPST_T b) { return static_cast<double>(a.week - b.week) * WEEK_S + (a.tow - b.tow); }

bool fields_in_range(const SKY_HOT_RECORD_T& r, int32_t clock_per_ms0) {
  return r.gtc_sec >= 0 && r.gtc_sec < 604800 && r.gtc_subsec >= 0 && r.gtc_subsec < 1000 && r.gtc_ssubsec >= 0 &&
         r.gtc_ssubsec < clock_per_ms0 && r.rtc_sec >= 0 && r.rtc_sec < 604800 && r.rtc_subsec >= 0;
}

// The truth of the RTC moment and the predicted time as GPS time: the RTC
// second of week is taken in the week (unwrapped) nearest the RTC reading of
// the run's start, the predicted second of week in the week nearest the truth.
void add_truth(const SKY_RTC_MODEL_T& m, SKY_GPST_T start, int32_t clock_per_ms0, SKY_HOT_RECORD_T* r) {
  const SKY_RTC_T s = SKY_LINK_rtc_at(m, start);
  int64_t wn = s.wn;  // modulo 4096: unwrap next to the start's week
  while (wn + 2048 < start.week) wn += 4096;
  int64_t total = wn * 604800 + r->rtc_sec;
  const int64_t start_total = wn * 604800 + s.sec;
  if (total - start_total > 302400) total -= 604800;
  if (start_total - total > 302400) total += 604800;
  r->rtc_true = SKY_LINK_rtc_tick_time(m, total, static_cast<uint32_t>(r->rtc_subsec));
  const double tow = r->gtc_sec + r->gtc_subsec / 1000.0 +
                     static_cast<double>(r->gtc_ssubsec) / (static_cast<double>(clock_per_ms0) * 1000.0);
  SKY_GPST_T p{r->rtc_true.week, tow};
  if (diff_s(p, r->rtc_true) > 302400.0) --p.week;
  if (diff_s(p, r->rtc_true) < -302400.0) ++p.week;
  r->predicted = p;
  r->error_s = diff_s(p, r->rtc_true);
}

}  // namespace

void SKY_HOT_reset() { Log = HOT_LOG_T{}; }

int SKY_HOT_take(const U08* frame) {
  ++Log.count;
  SKY_HOT_RECORD_T r;
  S32 gs = 0, rs = 0;
  S16 gss = 0, gsss = 0, rss = 0, v = 0;
  unpack_msg_set_hot_start_predict_time(frame, &gs, &gss, &gsss, &rs, &rss, &v);
  r.valid_flag = v;
  r.gtc_sec = gs;
  r.gtc_subsec = gss;
  r.gtc_ssubsec = gsss;
  r.rtc_sec = rs;
  r.rtc_subsec = rss;
  SKY_RTC_MODEL_T m;
  SKY_GPST_T start;
  int32_t cpm = 0;
  if (SKY_LINK_hot_context(&m, &start, &cpm) != 0 && cpm > 0 && fields_in_range(r, cpm)) {
    r.in_range = 1;
    add_truth(m, start, cpm, &r);
    r.bias_before_s = SKY_clock_bias_at(r.rtc_true);
    // Set the time count (the receiver clock) to read the prediction at the
    // RTC moment: its bias there becomes the prediction's error.
    const double step = r.error_s - r.bias_before_s;
    if (r.valid_flag == 1 && Log.has_first == 0 && std::fabs(step) <= MAX_STEP_S) {
      SKY_clock_step(step);
      r.step_s = step;
      r.applied = 1;
    }
  }
  if (Log.has_first == 0) {
    Log.first = r;
    Log.has_first = 1;
  }
  return r.in_range;
}

int SKY_HOT_count() { return Log.count; }

const SKY_HOT_RECORD_T* SKY_HOT_first() { return Log.has_first != 0 ? &Log.first : nullptr; }
