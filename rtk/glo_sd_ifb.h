// GLONASS inter-frequency code bias between rover and base receivers: one
// single-difference bias per frequency number k = -7..6, calibrated against
// the mean GPS single difference of the same epoch.
#pragma once

#include "misc/gnss_types.h"

inline constexpr int GLOSDIFB_N = 14;         // frequency numbers -7..6
inline constexpr int GLOSDIFB_MAX_CNT = 250;  // calibration count limit
inline constexpr int GLOSDIFB_MAX_SAMPLES = 64;

void GLOSDIFB_reset_glo_sd_ifb();
int GLOSDIFB_get_calibrate_cnt(int k);  // 0 for a k outside -7..6
F32 GLOSDIFB_get_sd_ifb(int k);         // m; 0 while uncalibrated
void GLOSDIFB_update_calibrate_cnt_and_sd_ifb(int k, int cnt, F32 ifb);
// Mean of n single differences (m) with one outlier removed; 0 when fewer
// than 4 values or when the spread fails the chi-square test.
double GLOSDIFB_cal_mean_sd_gps(const double* values, int n);
// One calibration sample s (m) for frequency number k with the masks already met.
void GLOSDIFB_add_sample(int k, double s);
