// Coordinate conversions (COO_) on the WGS-84 ellipsoid: ECEF <-> geodetic
// and the local east-north-up rotation.
//
// Ellipsoid: a = 6 378 137 m and 1/f = 298.257223563 (the defining WGS-84
// values); b = a (1 - f), e^2 = f (2 - f) and e'^2 = e^2 / (1 - e^2) are
// derived from them.
//
// Geodetic from ECEF uses Bowring's method: one step from the reduced
// latitude, then one more step from the reduced latitude of that result.
// The single step alone moves a point by up to about 13 mm between -1 000 km
// and +1 000 km height and by about 0.21 m at GPS orbit height (20 200 km);
// with the second step the error stays below 1e-8 m over that whole range.
#pragma once

#include "misc/gnss_types.h"

inline constexpr D64 COO_WGS84_A = 6378137.0;          // semi-major axis, m
inline constexpr D64 COO_WGS84_INV_F = 298.257223563;  // inverse flattening

// Geodetic latitude, longitude (rad) and height above the ellipsoid (m), double precision.
struct COO_GEODETIC_T {
  D64 lat, lon, h;
};

// ECEF position (m) to geodetic position on an ellipsoid of semi-major axis a
// (m) and inverse flattening inv_f, with steps Bowring steps (1 or 2). On the
// polar axis (distance from it at most polar_limit m) the latitude is +-pi/2
// by the sign of z, the longitude 0 and the height |z| - b.
COO_GEODETIC_T COO_ellipsoid_cartesian_to_geodetic(D64 a, D64 inv_f, const POS_T* xyz_p, int steps, D64 polar_limit);
// Geodetic position on the ellipsoid (a m, inv_f) to ECEF, m.
POS_T COO_ellipsoid_geodetic_to_cartesian(D64 a, D64 inv_f, const COO_GEODETIC_T* g_p);

// WGS-84 ECEF position (m) to geodetic (rad, rad, m; the height in single
// precision). Both records are the caller's.
// Exactly on the polar axis: latitude +-pi/2 by the sign of z, longitude 0.
void COO_cartesian_to_geodetic(const POS_T* xyz_p, LLA_T* lla_p);
// WGS-84 geodetic (rad, rad, m) to ECEF, m.
void COO_geodetic_to_cartesian(const LLA_T* lla_p, POS_T* xyz_p);
// Rotation of an ECEF vector xyz_p (m) into east, north, up at the reference
// position ref_p (rad): no origin shift. Double precision.
void COO_cartesian_to_ENU(const POS_T* xyz_p, const LLA_T* ref_p, POS_ENU_T* enu_p);
// The ECEF -> ENU rotation at latitude lat, longitude lon (rad) in single
// precision: rows east, north, up. tm is the caller's.
void COO_calculate_enu_tm(F32 lat, F32 lon, F32 tm[3][3]);
void COO_linear_transform(const F32 tm[3][3], const F32 in[3], F32 out[3]);      // out = tm x in
void COO_inv_linear_transform(const F32 tm[3][3], const F32 in[3], F32 out[3]);  // out = tm^T x in
