// Datum conversion from WGS-84 through ECEF.
#include "kernel/src/datum.h"

#include "kernel/src/coordinate.h"

void DTM_convert_WGS84_to_another_datum(const DTM_T* dtm_p, const LLA_T* wgs84_lla_p, LLA_T* out_p) {
  POS_T xyz{};
  COO_geodetic_to_cartesian(wgs84_lla_p, &xyz);
  xyz.px -= dtm_p->dx;
  xyz.py -= dtm_p->dy;
  xyz.pz -= dtm_p->dz;
  constexpr D64 POLAR_LIMIT = 1.0;  // m from the polar axis
  const COO_GEODETIC_T g = COO_ellipsoid_cartesian_to_geodetic(dtm_p->a, dtm_p->inv_f, &xyz, 1, POLAR_LIMIT);
  out_p->lat = g.lat;
  out_p->lon = g.lon;
  out_p->alt = static_cast<F32>(g.h);
}
