// Platform models (NVMODEL_): the user's choice of platform (NMODEL_DEFAULT,
// PEDESTRIAN, CAR, MARINE, BALLOON, AIRBORNE) sets the Kalman filter's
// acceleration noise and the limits and thresholds the navigation applies.
//
//   model       Sp_pv  static speed  max altitude  max speed  max v speed  CN0 thr  2-D fixes
//   DEFAULT     1.0    0.4167 m/s    19 000 m      500 m/s    50 m/s        0      yes
//   PEDESTRIAN  0.49   0.2778        9 000         27.7778    16.6667       0      yes
//   CAR         1.0    0.4167        6 000         83.3333    16.6667       0      yes
//   MARINE      0.25   0.1389        100           25         5            25      yes
//   BALLOON     4.0    0.06945       50 000        500        100          20      no
//   AIRBORNE    9.0    0.2778        50 000        1000       100          25      no
//
// Any unknown model value behaves as NMODEL_DEFAULT (and is kept as given).
#pragma once

#include "misc/gnss_types.h"

void NVMODEL_init();                 // model from the settings (user navigation model)
void NVMODEL_set_model(S16 model);   // when different: store, save to the settings (0..5), load the row
S16 NVMODEL_get_model();             // the model set last
F32 NVMODEL_get_kalman_filter_Sp_pv();  // acceleration noise density of the PV model, (m/s^2)^2/Hz
F32 NVMODEL_get_static_threshold();     // m/s, speeds below count as at rest
F32 NVMODEL_get_max_altitude();         // m
F32 NVMODEL_get_max_speed();            // m/s, horizontal
F32 NVMODEL_get_max_vertical_speed();   // m/s
U16 NVMODEL_get_CN0_threshold();        // dB-Hz (0: none)
S16 NVMODEL_can_do_2D_fix();            // 1/0 (0 for BALLOON and AIRBORNE)
