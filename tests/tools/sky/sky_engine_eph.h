// Helpers of the sky tests that hold the sky against the RTK engine: GPS time
// values, the engine's record of a sky ephemeris, distances.
#pragma once

#include <cmath>

#include "rtk/eph.h"
#include "rtk/rtk_cmn.h"
#include "tools/sky/sky.h"

namespace sky_test {

constexpr double SC = 3.1415926535898;  // semicircle scale of IS-GPS-200

// GPS week and time of week (s).
inline SKY_GPST_T gt(int week, double tow) {
  SKY_GPST_T t;
  t.week = week;
  t.tow = tow;
  return t;
}

// The engine's record of a broadcast ephemeris, scaled from the message
// integers as IS-GPS-200 Table 20-III says (sqrt(A) 2^-19 m^0.5, e 2^-33,
// angles 2^-31 semicircles, rates 2^-43 semicircles/s, harmonic terms 2^-5 m
// and 2^-29 rad, clock 2^-31 s, 2^-43 s/s, 2^-55 s/s^2, toe and toc 16 s).
inline eph_t to_engine(const SKY_EPH_T& s) {
  eph_t e{};
  e.sat = s.svid;
  e.iode = s.iode;
  e.iodc = s.iodc;
  e.sva = s.ura;
  e.svh = s.health;
  e.week = s.week;
  e.toes = s.toe * 16.0;
  e.toe = gpst2time(s.week, e.toes);
  e.toc = gpst2time(s.week, s.toc * 16.0);
  const double sqrta = std::ldexp(static_cast<double>(s.sqrta), -19);
  e.A = sqrta * sqrta;
  e.e = std::ldexp(static_cast<double>(s.e), -33);
  e.i0 = std::ldexp(static_cast<double>(s.i0), -31) * SC;
  e.OMG0 = std::ldexp(static_cast<double>(s.omg0), -31) * SC;
  e.omg = std::ldexp(static_cast<double>(s.omg), -31) * SC;
  e.M0 = std::ldexp(static_cast<double>(s.m0), -31) * SC;
  e.deln = std::ldexp(static_cast<double>(s.deln), -43) * SC;
  e.OMGd = std::ldexp(static_cast<double>(s.omgd), -43) * SC;
  e.idot = std::ldexp(static_cast<double>(s.idot), -43) * SC;
  e.crc = std::ldexp(static_cast<double>(s.crc), -5);
  e.crs = std::ldexp(static_cast<double>(s.crs), -5);
  e.cuc = std::ldexp(static_cast<double>(s.cuc), -29);
  e.cus = std::ldexp(static_cast<double>(s.cus), -29);
  e.cic = std::ldexp(static_cast<double>(s.cic), -29);
  e.cis = std::ldexp(static_cast<double>(s.cis), -29);
  e.f0 = std::ldexp(static_cast<double>(s.af0), -31);
  e.f1 = std::ldexp(static_cast<double>(s.af1), -43);
  e.f2 = std::ldexp(static_cast<double>(s.af2), -55);
  e.tgd[0] = std::ldexp(static_cast<double>(s.tgd), -31);
  return e;
}

// Distance between two ECEF points, m.
inline double dist(const double* a, const double* b) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

}  // namespace sky_test
