#include "rtk/glo_sd_ifb.h"

#include <cmath>

namespace {

struct GLO_SD_IFB_T {
  U08 cnt;  // calibration count, 0..250
  F32 ifb;  // single-difference code bias, m
};

GLO_SD_IFB_T Glo_sd_ifb[GLOSDIFB_N];

// Chi-square values at 99.9 % for 1..30 degrees of freedom.
constexpr double CHISQR[30] = {10.8, 13.8, 16.3, 18.5, 20.5, 22.5, 24.3, 26.1, 27.9, 29.6,
                               31.3, 32.9, 34.5, 36.1, 37.7, 39.3, 40.8, 42.3, 43.8, 45.3,
                               46.8, 48.3, 49.7, 51.2, 52.6, 54.1, 55.5, 56.9, 58.3, 59.7};
constexpr double OUTLIER_FACTOR = 9.0;  // squared deviation / sample variance
constexpr double MAX_JUMP = 2.0;        // m, once fully calibrated
constexpr int SLOW_AVERAGE_FROM = 100;  // running mean up to here, then 1/100 steps

bool valid_k(int k) { return k >= -7 && k <= 6; }

void mean_var(const double* v, int n, int skip, double* mean, double* var) {
  double s = 0.0;
  int m = 0;
  for (int i = 0; i < n; ++i) {
    if (i == skip) continue;
    s += v[i];
    ++m;
  }
  *mean = s / m;
  double q = 0.0;
  for (int i = 0; i < n; ++i) {
    if (i == skip) continue;
    q += (v[i] - *mean) * (v[i] - *mean);
  }
  *var = m > 1 ? q / (m - 1) : 0.0;
}

}  // namespace

void GLOSDIFB_reset_glo_sd_ifb() {
  for (auto& e : Glo_sd_ifb) e = GLO_SD_IFB_T{};
}

int GLOSDIFB_get_calibrate_cnt(int k) { return valid_k(k) ? Glo_sd_ifb[k + 7].cnt : 0; }

F32 GLOSDIFB_get_sd_ifb(int k) {
  if (!valid_k(k) || Glo_sd_ifb[k + 7].cnt == 0) return 0.0f;
  return Glo_sd_ifb[k + 7].ifb;
}

void GLOSDIFB_update_calibrate_cnt_and_sd_ifb(int k, int cnt, F32 ifb) {
  if (!valid_k(k)) return;
  if (cnt < 0) cnt = 0;
  if (cnt > GLOSDIFB_MAX_CNT) cnt = GLOSDIFB_MAX_CNT;
  Glo_sd_ifb[k + 7].cnt = static_cast<U08>(cnt);
  Glo_sd_ifb[k + 7].ifb = ifb;
}

double GLOSDIFB_cal_mean_sd_gps(const double* values, int n) {
  if (n < 4) return 0.0;
  if (n > GLOSDIFB_MAX_SAMPLES) n = GLOSDIFB_MAX_SAMPLES;
  double mean = 0.0, var = 0.0;
  mean_var(values, n, -1, &mean, &var);
  int far = 0;
  for (int i = 1; i < n; ++i) {
    if (std::fabs(values[i] - mean) > std::fabs(values[far] - mean)) far = i;
  }
  // The farthest value is judged against the spread of the others: a variance
  // that includes it could never be exceeded ninefold by a few samples.
  int m = n;
  double mean_rest = 0.0, var_rest = 0.0;
  mean_var(values, n, far, &mean_rest, &var_rest);
  if ((values[far] - mean_rest) * (values[far] - mean_rest) > OUTLIER_FACTOR * var_rest) {
    mean = mean_rest;
    var = var_rest;
    --m;
  }
  const int dof = m - 1;
  if (dof >= 1 && var > CHISQR[dof <= 30 ? dof - 1 : 29]) return 0.0;
  return mean;
}

void GLOSDIFB_add_sample(int k, double s) {
  if (!valid_k(k)) return;
  GLO_SD_IFB_T& e = Glo_sd_ifb[k + 7];
  const int c = e.cnt;
  if (c >= GLOSDIFB_MAX_CNT && std::fabs(s - e.ifb) > MAX_JUMP) return;
  if (c == 0) {
    e.ifb = static_cast<F32>(s);
    e.cnt = 1;
  } else if (c < SLOW_AVERAGE_FROM) {
    e.ifb = static_cast<F32>((static_cast<F32>(c) * e.ifb + s) / (c + 1));  // c < 100: exact in F32
    e.cnt = static_cast<U08>(c + 1);
  } else {
    e.ifb = static_cast<F32>((99.0 * e.ifb + s) / 100.0);
    if (c < GLOSDIFB_MAX_CNT) e.cnt = static_cast<U08>(c + 1);
  }
}
