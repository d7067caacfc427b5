// Shared by the sky core's sources only (scenario, constellation,
// propagation, signals, navigation message); the link half uses sky.h.
#pragma once

#include <cstdint>

#include "tools/sky/sky.h"

inline constexpr double SKYC_C = 299792458.0;              // speed of light, m/s
inline constexpr double SKYC_MU = 3.986005e14;             // WGS-84 mu as IS-GPS-200 uses it, m^3/s^2
inline constexpr double SKYC_OMGE = 7.2921151467e-5;       // Earth rotation rate, rad/s
inline constexpr double SKYC_PI = 3.1415926535898;         // pi of IS-GPS-200 (semicircle scale)
inline constexpr double SKYC_F_L1 = 1575.42e6;             // L1 carrier, Hz
inline constexpr double SKYC_LAMBDA = SKYC_C / SKYC_F_L1;  // L1 wavelength, m
inline constexpr double SKYC_WEEK_S = 604800.0;            // seconds per week
inline constexpr double SKYC_SET_S = 7200.0;               // ephemeris data set length, s
inline constexpr double SKYC_D2R = 3.14159265358979323846 / 180.0;

// ---- time (sky_geo.cpp) ----
// a - b in seconds.
double SKYC_diff(SKY_GPST_T a, SKY_GPST_T b);
// t + s, tow brought into [0, 604800).
SKY_GPST_T SKYC_add(SKY_GPST_T t, double s);

// ---- geodesy (sky_geo.cpp) ----
// Geodetic latitude, longitude (rad), height (m) -> WGS-84 ECEF (m).
void SKYC_llh2ecef(const double* llh, double* r);
// ECEF (m) -> geodetic latitude, longitude (rad), height (m).
void SKYC_ecef2llh(const double* r, double* llh);
// East, north, up unit vectors (rows of e[3][3]) at latitude, longitude (rad).
void SKYC_enu_axes(double lat, double lon, double e[3][3]);

// ---- constellation (sky_orbit.cpp) ----
// Builds the constellation of scenario sc around its start. 1 on success.
int SKYC_orbit_init(const SKY_SCENARIO_T* sc);
// Satellites of the constellation (svid 1..n).
int SKYC_nsat();
// Index of the ephemeris data set in effect at t (2-hour sets counted from
// week 0).
int64_t SKYC_set_index(SKY_GPST_T t);
// Ephemeris data set k of satellite svid (1..SKYC_nsat()). 1 on success.
int SKYC_eph_of_set(int svid, int64_t k, SKY_EPH_T* out);
// Ionosphere and UTC parameters in force.
const SKY_IONO_UTC_T* SKYC_iono_utc();

// ---- navigation message (sky_nav.cpp) ----
// Forget the cached subframes (called when the sky starts).
void SKYC_nav_reset();
