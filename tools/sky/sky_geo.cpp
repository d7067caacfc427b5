// Time arithmetic, WGS-84 geodesy and the propagation models of the sky:
// the GPS broadcast (Klobuchar) ionosphere of IS-GPS-200 20.3.3.5.2.5 and the
// Saastamoinen troposphere in a standard atmosphere, and the simple
// exponential-height troposphere of the navigation kernel.
#include <algorithm>
#include <cmath>

#include "tools/sky/sky_core.h"

namespace {

constexpr double A_WGS84 = 6378137.0;                   // semi-major axis, m
constexpr double F_WGS84 = 1.0 / 298.257223563;         // flattening
constexpr double E2_WGS84 = F_WGS84 * (2.0 - F_WGS84);  // first eccentricity squared

// Klobuchar parameters as the receiver scales them.
struct KLOB_T {
  double alpha[4];
  double beta[4];
};

KLOB_T klob_values(const SKY_IONO_UTC_T* p) {
  static constexpr int ALPHA_EXP[4] = {-30, -27, -24, -24};
  static constexpr int BETA_EXP[4] = {11, 14, 16, 16};
  KLOB_T k{};
  for (int i = 0; i < 4; ++i) {
    k.alpha[i] = std::ldexp(static_cast<double>(p->alpha[i]), ALPHA_EXP[i]);
    k.beta[i] = std::ldexp(static_cast<double>(p->beta[i]), BETA_EXP[i]);
  }
  return k;
}

// Cubic polynomial in x with coefficients c[0..3].
double cubic(const double* c, double x) { return c[0] + x * (c[1] + x * (c[2] + x * c[3])); }

}  // namespace

double SKYC_diff(SKY_GPST_T a, SKY_GPST_T b) {
  return static_cast<double>(a.week - b.week) * SKYC_WEEK_S + (a.tow - b.tow);
}

SKY_GPST_T SKYC_add(SKY_GPST_T t, double s) {
  SKY_GPST_T r = t;
  r.tow += s;
  const double weeks = std::floor(r.tow / SKYC_WEEK_S);
  r.week += static_cast<int32_t>(weeks);
  r.tow -= weeks * SKYC_WEEK_S;
  if (r.tow >= SKYC_WEEK_S) {  // rounding of a value just below a week
    r.tow -= SKYC_WEEK_S;
    ++r.week;
  }
  return r;
}

void SKYC_llh2ecef(const double* llh, double* r) {
  const double s = std::sin(llh[0]), c = std::cos(llh[0]);
  const double n = A_WGS84 / std::sqrt(1.0 - E2_WGS84 * s * s);
  r[0] = (n + llh[2]) * c * std::cos(llh[1]);
  r[1] = (n + llh[2]) * c * std::sin(llh[1]);
  r[2] = (n * (1.0 - E2_WGS84) + llh[2]) * s;
}

void SKYC_ecef2llh(const double* r, double* llh) {
  const double p2 = r[0] * r[0] + r[1] * r[1];
  double z = r[2], zk = 0.0, n = A_WGS84;
  for (int k = 0; k < 20 && std::fabs(z - zk) >= 1e-6; ++k) {
    zk = z;
    const double s = z / std::sqrt(p2 + z * z);
    n = A_WGS84 / std::sqrt(1.0 - E2_WGS84 * s * s);
    z = r[2] + n * E2_WGS84 * s;
  }
  llh[0] = p2 > 1e-12 ? std::atan(z / std::sqrt(p2)) : (r[2] > 0.0 ? 1.5707963267948966 : -1.5707963267948966);
  llh[1] = p2 > 1e-12 ? std::atan2(r[1], r[0]) : 0.0;
  llh[2] = std::sqrt(p2 + z * z) - n;
}

void SKYC_enu_axes(double lat, double lon, double e[3][3]) {
  const double sp = std::sin(lat), cp = std::cos(lat), sl = std::sin(lon), cl = std::cos(lon);
  e[0][0] = -sl;
  e[0][1] = cl;
  e[0][2] = 0.0;
  e[1][0] = -sp * cl;
  e[1][1] = -sp * sl;
  e[1][2] = cp;
  e[2][0] = cp * cl;
  e[2][1] = cp * sl;
  e[2][2] = sp;
}

double SKY_klobuchar_m(const SKY_IONO_UTC_T* p, double lat, double lon, double az, double el, double tow) {
  const KLOB_T k = klob_values(p);
  const double e_sc = std::max(el, 0.0) / SKYC_PI;    // elevation, semicircles
  const double psi = 0.0137 / (e_sc + 0.11) - 0.022;  // Earth angle, semicircles
  const double phi_i = std::clamp(lat / SKYC_PI + psi * std::cos(az), -0.416, 0.416);
  const double lam_i = lon / SKYC_PI + psi * std::sin(az) / std::cos(phi_i * SKYC_PI);
  const double phi_m = phi_i + 0.064 * std::cos((lam_i - 1.617) * SKYC_PI);  // geomagnetic latitude
  double t = std::fmod(4.32e4 * lam_i + tow, 86400.0);                       // local time, s
  if (t < 0.0) t += 86400.0;
  const double amp = std::max(cubic(k.alpha, phi_m), 0.0);
  const double per = std::max(cubic(k.beta, phi_m), 72000.0);
  const double x = 2.0 * SKYC_PI * (t - 50400.0) / per;      // phase, rad
  const double f = 1.0 + 16.0 * std::pow(0.53 - e_sc, 3.0);  // obliquity factor
  const double x2 = x * x;
  const double delay = std::fabs(x) < 1.57 ? f * (5.0e-9 + amp * (1.0 - x2 / 2.0 + x2 * x2 / 24.0)) : f * 5.0e-9;
  return delay * SKYC_C;
}

double SKY_saastamoinen_m(double lat, double h, double el) {
  const double hc = std::clamp(h, 0.0, 10000.0);
  const double p = 1013.25 * std::pow(1.0 - 2.2557e-5 * hc, 5.2568);  // total pressure, hPa
  const double t = 288.15 - 6.5e-3 * hc;                              // temperature, K
  // water vapour pressure (hPa) at 50 % relative humidity
  const double e = 0.5 * 6.108 * std::exp((17.15 * t - 4684.0) / (t - 38.45));
  const double sec_z = 1.0 / std::sin(std::max(el, 2.0 * SKYC_D2R));  // 1 / cos(zenith angle)
  const double dry = 0.0022768 * p / (1.0 - 0.00266 * std::cos(2.0 * lat) - 0.00028 * hc / 1000.0);
  const double wet = 0.002277 * (1255.0 / t + 0.05) * e;
  return (dry + wet) * sec_z;
}

double SKY_simple_tropo_m(double h, double el) {
  if (!(el > 0.0)) return 0.0;  // below the horizon (or NaN): no delay, as the receiver's model
  return 2.47 * std::exp(-0.000133 * h) / (std::sin(el) + 0.0121);
}
