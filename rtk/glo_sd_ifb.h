// GLONASS inter-frequency code bias between rover and base receivers: one
// single-difference bias per frequency number k = -7..6, calibrated against
// the mean GPS single difference of the same epoch.
#pragma once

#include "misc/gnss_types.h"

inline constexpr int GLOSDIFB_N = 14;         // frequency numbers -7..6
inline constexpr int GLOSDIFB_MAX_CNT = 250;  // calibration count limit
inline constexpr int GLOSDIFB_MAX_SAMPLES = 64;

// Frequency numbers k outside -7..6 are ignored by the setters and read as
// uncalibrated. Biases are rover minus base code single differences, m.

// Clears every calibration count and bias.
void GLOSDIFB_reset_glo_sd_ifb();
// Calibration count (0..GLOSDIFB_MAX_CNT) of frequency number k; 0 for a k outside -7..6.
int GLOSDIFB_get_calibrate_cnt(int k);
// Calibrated single-difference bias of frequency number k, m; 0 while its count is 0.
F32 GLOSDIFB_get_sd_ifb(int k);
// Sets count cnt (clamped to 0..GLOSDIFB_MAX_CNT) and bias ifb (m) of frequency number k.
void GLOSDIFB_update_calibrate_cnt_and_sd_ifb(int k, int cnt, F32 ifb);
// Mean (m) of n GPS code single differences values (m, at most
// GLOSDIFB_MAX_SAMPLES used; read only), with the farthest value left out when
// its squared deviation exceeds nine times the variance of the others. Returns
// 0 when fewer than 4 values, or when their sample variance (m^2) exceeds the
// 99.9 % chi-square value of its degrees of freedom.
double GLOSDIFB_cal_mean_sd_gps(const double* values, int n);
// One calibration sample s (m: GLONASS code single difference minus the GPS
// mean) for frequency number k with the masks already met. A running mean up
// to 100 samples, then steps of 1/100; once the count reaches
// GLOSDIFB_MAX_CNT a sample more than 2 m from the bias is refused.
void GLOSDIFB_add_sample(int k, double s);
