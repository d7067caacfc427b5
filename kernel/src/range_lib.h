// Range arithmetic shared by the range records (RNGL_): pseudorange from the
// receive and transmit times, geometric range with the Earth-rotation term.
#pragma once

#include "misc/gnss_types.h"

inline constexpr D64 RNGL_LIGHT_SPEED = 299792458.0;                     // m/s
inline constexpr D64 RNGL_L1_WAVELENGTH = 0.19029367279836487;           // m, used for every signal
inline constexpr D64 RNGL_EARTH_ROTATION_BY_C = 2.4323877909897254e-13;  // 7.2921151467e-5 rad/s / c, 1/m
inline constexpr D64 RNGL_HALF_WEEK = 302400.0;                          // s

// Pseudorange (m) from the receive time gtc_sec and the transmit time ttime
// (both GPS s of week): their difference wrapped into +-302400 s, times c.
D64 RNGL_calculate_pseudo_range(D64 gtc_sec, D64 ttime);

// Geometric range (m, with the Earth-rotation term (x_sat y_rcv - y_sat
// x_rcv) omega_e / c) from a receiver at rcv_pos (ECEF m) moving at rcv_vel
// (m/s) to a satellite at sv_pos moving at sv_vel; dc (3 floats) the unit
// vector from the satellite to the receiver, *rvel (m/s) the relative
// velocity along it ((rcv_vel - sv_vel) . dc: positive while the range
// grows). Outputs are the caller's.
void RNGL_calculate_true_range(const POS_T* rcv_pos, const VEL_T* rcv_vel, const POS_T* sv_pos, const VEL_T* sv_vel,
                               D64* range, F32* rvel, F32* dc);
