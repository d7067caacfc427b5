// Conversion of a WGS-84 position to another geodetic datum (DTM_) for the
// NMEA output: a shift of the ellipsoid's centre and a different ellipsoid.
#pragma once

#include "misc/gnss_types.h"

// A target datum.
struct DTM_T {
  D64 a;           // semi-major axis, m
  D64 inv_f;       // inverse flattening
  S16 dx, dy, dz;  // shift of the target datum's centre from the WGS-84 centre, m (ECEF axes)
};

// WGS-84 geodetic position wgs84_lla_p (rad, rad, m) to the datum dtm_p:
// through ECEF, minus the centre shift, then geodetic on the target ellipsoid
// (one Bowring step; within 1 m of the polar axis the latitude is +-pi/2).
// All records are the caller's; out_p may not alias wgs84_lla_p.
void DTM_convert_WGS84_to_another_datum(const DTM_T* dtm_p, const LLA_T* wgs84_lla_p, LLA_T* out_p);
