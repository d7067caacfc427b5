// Test helper shared by the navigation tests and the navigation fuzz target:
// every value the fix record hands out (position, velocity, geodetic
// position, clock, time, speed, course, DOPs, altitude, EPE) is finite.
#pragma once

#include <array>
#include <cmath>

#include "kernel/src/navigate.h"

// true when every value of the fix record read through the NV_get_ readers is finite.
inline bool NVTEST_fix_record_is_finite() {
  POS_T p{};
  VEL_T v{};
  LLA_T l{};
  D64 cb = 0.0;
  F32 cd = 0.0F;
  D64 tow = 0.0;
  U16 wn = 0;
  NV_get_ecef_position(&p);
  NV_get_ecef_velocity(&v);
  NV_get_lla_position(&l);
  NV_get_clock_bias_drift(&cb, &cd);
  NV_get_time(&tow, &wn);
  const std::array<double, 21> vals = {p.px,
                                       p.py,
                                       p.pz,
                                       v.vx,
                                       v.vy,
                                       v.vz,
                                       l.lat,
                                       l.lon,
                                       l.alt,
                                       cb,
                                       cd,
                                       tow,
                                       NV_get_speed(),
                                       NV_get_course(),
                                       NV_get_gdop(),
                                       NV_get_pdop(),
                                       NV_get_hdop(),
                                       NV_get_vdop(),
                                       NV_get_tdop(),
                                       NV_get_altitude(),
                                       NV_get_EPE()};
  for (const double x : vals)
    if (!std::isfinite(x)) return false;
  return true;
}
