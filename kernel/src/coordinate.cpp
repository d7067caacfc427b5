// Coordinate conversions on the WGS-84 ellipsoid.
#include "kernel/src/coordinate.h"

#include <cmath>

namespace {
constexpr D64 HALF_PI = 1.5707963267948966;
// Only a point exactly on the polar axis takes the axis branch: the general
// formulas hold to within a hair of it, and a wider limit would move the point.
constexpr D64 POLAR_LIMIT = 0.0;  // m from the polar axis

struct Ellipsoid {
  D64 a, b, e2, ep2;
};
Ellipsoid ellipsoid_of(D64 a, D64 inv_f) {
  const D64 f = 1.0 / inv_f;
  const D64 e2 = f * (2.0 - f);
  return {a, a * (1.0 - f), e2, e2 / (1.0 - e2)};
}
}  // namespace

COO_GEODETIC_T COO_ellipsoid_cartesian_to_geodetic(D64 a, D64 inv_f, const POS_T* xyz_p, int steps, D64 polar_limit) {
  const Ellipsoid el = ellipsoid_of(a, inv_f);
  const D64 x = xyz_p->px;
  const D64 y = xyz_p->py;
  const D64 z = xyz_p->pz;
  const D64 p = std::sqrt(x * x + y * y);
  if (p <= polar_limit) return {z < 0.0 ? -HALF_PI : HALF_PI, 0.0, std::fabs(z) - el.b};
  // Reduced latitude of the point's ellipsoid, then geodetic latitude.
  D64 beta = std::atan2(z * el.a, p * el.b);
  D64 lat = 0.0;
  for (int i = 0; i < steps; ++i) {
    const D64 sb = std::sin(beta);
    const D64 cb = std::cos(beta);
    lat = std::atan2(z + el.ep2 * el.b * sb * sb * sb, p - el.e2 * el.a * cb * cb * cb);
    beta = std::atan2(el.b * std::sin(lat), el.a * std::cos(lat));
  }
  const D64 sl = std::sin(lat);
  const D64 cl = std::cos(lat);
  // Height along the normal; well conditioned at every latitude.
  const D64 h = p * cl + z * sl - el.a * std::sqrt(1.0 - el.e2 * sl * sl);
  return {lat, std::atan2(y, x), h};
}

POS_T COO_ellipsoid_geodetic_to_cartesian(D64 a, D64 inv_f, const COO_GEODETIC_T* g_p) {
  const Ellipsoid el = ellipsoid_of(a, inv_f);
  const D64 sl = std::sin(g_p->lat);
  const D64 cl = std::cos(g_p->lat);
  const D64 n = el.a / std::sqrt(1.0 - el.e2 * sl * sl);
  return {(n + g_p->h) * cl * std::cos(g_p->lon), (n + g_p->h) * cl * std::sin(g_p->lon),
          (n * (1.0 - el.e2) + g_p->h) * sl};
}

void COO_cartesian_to_geodetic(const POS_T* xyz_p, LLA_T* lla_p) {
  const COO_GEODETIC_T g = COO_ellipsoid_cartesian_to_geodetic(COO_WGS84_A, COO_WGS84_INV_F, xyz_p, 2, POLAR_LIMIT);
  lla_p->lat = g.lat;
  lla_p->lon = g.lon;
  lla_p->alt = static_cast<F32>(g.h);
}

void COO_geodetic_to_cartesian(const LLA_T* lla_p, POS_T* xyz_p) {
  const COO_GEODETIC_T g = {lla_p->lat, lla_p->lon, static_cast<D64>(lla_p->alt)};
  *xyz_p = COO_ellipsoid_geodetic_to_cartesian(COO_WGS84_A, COO_WGS84_INV_F, &g);
}

void COO_cartesian_to_ENU(const POS_T* xyz_p, const LLA_T* ref_p, POS_ENU_T* enu_p) {
  const D64 sl = std::sin(ref_p->lat);
  const D64 cl = std::cos(ref_p->lat);
  const D64 so = std::sin(ref_p->lon);
  const D64 co = std::cos(ref_p->lon);
  const D64 x = xyz_p->px;
  const D64 y = xyz_p->py;
  const D64 z = xyz_p->pz;
  enu_p->pe = -so * x + co * y;
  enu_p->pn = -sl * co * x - sl * so * y + cl * z;
  enu_p->pu = cl * co * x + cl * so * y + sl * z;
}

void COO_calculate_enu_tm(F32 lat, F32 lon, F32 tm[3][3]) {
  const F32 sl = std::sin(lat);
  const F32 cl = std::cos(lat);
  const F32 so = std::sin(lon);
  const F32 co = std::cos(lon);
  tm[0][0] = -so;
  tm[0][1] = co;
  tm[0][2] = 0.0F;
  tm[1][0] = -sl * co;
  tm[1][1] = -sl * so;
  tm[1][2] = cl;
  tm[2][0] = cl * co;
  tm[2][1] = cl * so;
  tm[2][2] = sl;
}

void COO_linear_transform(const F32 tm[3][3], const F32 in[3], F32 out[3]) {
  for (int r = 0; r < 3; ++r) out[r] = tm[r][0] * in[0] + tm[r][1] * in[1] + tm[r][2] * in[2];
}

void COO_inv_linear_transform(const F32 tm[3][3], const F32 in[3], F32 out[3]) {
  for (int c = 0; c < 3; ++c) out[c] = tm[0][c] * in[0] + tm[1][c] * in[1] + tm[2][c] * in[2];
}
