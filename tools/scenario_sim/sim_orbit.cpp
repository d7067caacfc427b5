// Broadcast orbits, propagation models and ephemeris generation of the simulator.
#include <cmath>

#include "tools/scenario_sim/sim.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double A_WGS84 = 6378137.0;
constexpr double F_WGS84 = 1.0 / 298.257223563;

// Deterministic pseudo-random value in [-1, 1) from a key.
double prand(unsigned int seed, int i, int k) {
  unsigned long long x = 0x9E3779B97F4A7C15ULL ^ (static_cast<unsigned long long>(seed) << 32) ^
                         (static_cast<unsigned long long>(i) << 12) ^ static_cast<unsigned long long>(k);
  for (int r = 0; r < 3; ++r) {
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBULL;
    x ^= x >> 31;
  }
  return static_cast<double>(x >> 11) / 4503599627370496.0 - 1.0;
}

long long q(double value, double scale) { return std::llround(value / scale); }

// Keplerian state of a broadcast ephemeris at tk seconds from toe.
void kepler(const SIM_GPS_EPH_VAL_T& v, double tk, double* pos) {
  const double A = v.sqrtA * v.sqrtA;
  const double n = std::sqrt(SIM_MU / (A * A * A)) + v.deln;
  const double M = v.M0 + n * tk;
  double E = M + v.e * std::sin(M);
  for (int k = 0; k < 20; ++k) E = E - (E - v.e * std::sin(E) - M) / (1.0 - v.e * std::cos(E));
  const double nu =
      2.0 * std::atan2(std::sqrt(1.0 + v.e) * std::sin(E / 2.0), std::sqrt(1.0 - v.e) * std::cos(E / 2.0));
  const double phi = nu + v.omg;
  const double s2 = std::sin(2.0 * phi), c2 = std::cos(2.0 * phi);
  const double u = phi + v.cus * s2 + v.cuc * c2;
  const double r = A * (1.0 - v.e * std::cos(E)) + v.crs * s2 + v.crc * c2;
  const double inc = v.i0 + v.idot * tk + v.cis * s2 + v.cic * c2;
  const double node = v.OMG0 + (v.OMGd - SIM_OMGE) * tk - SIM_OMGE * v.toes;
  const double xp = r * std::cos(u), yp = r * std::sin(u);
  pos[0] = xp * std::cos(node) - yp * std::cos(inc) * std::sin(node);
  pos[1] = xp * std::sin(node) + yp * std::cos(inc) * std::cos(node);
  pos[2] = yp * std::sin(inc);
}

}  // namespace

void sim_gps_eph_values(const SIM_GPS_EPH_T* e, SIM_GPS_EPH_VAL_T* v) {
  v->toes = e->toe * 16.0;
  v->toc = e->toc * 16.0;
  v->af0 = std::ldexp(e->af0, -31);
  v->af1 = std::ldexp(e->af1, -43);
  v->af2 = std::ldexp(e->af2, -55);
  v->tgd = e->tgd == -128 ? 0.0 : std::ldexp(e->tgd, -31);
  v->sqrtA = std::ldexp(static_cast<double>(e->sqrta), -19);
  v->e = std::ldexp(static_cast<double>(e->e), -33);
  v->i0 = std::ldexp(e->i0, -31) * SIM_PI_SC;
  v->OMG0 = std::ldexp(e->omg0, -31) * SIM_PI_SC;
  v->omg = std::ldexp(e->omg, -31) * SIM_PI_SC;
  v->M0 = std::ldexp(e->m0, -31) * SIM_PI_SC;
  v->deln = std::ldexp(e->deln, -43) * SIM_PI_SC;
  v->OMGd = std::ldexp(e->omgd, -43) * SIM_PI_SC;
  v->idot = std::ldexp(e->idot, -43) * SIM_PI_SC;
  v->crc = std::ldexp(e->crc, -5);
  v->crs = std::ldexp(e->crs, -5);
  v->cuc = std::ldexp(e->cuc, -29);
  v->cus = std::ldexp(e->cus, -29);
  v->cic = std::ldexp(e->cic, -29);
  v->cis = std::ldexp(e->cis, -29);
}

void sim_gps_sat_state(const SIM_GPS_EPH_T* eph, double tk, double* pos, double* clk) {
  SIM_GPS_EPH_VAL_T v;
  sim_gps_eph_values(eph, &v);
  kepler(v, tk, pos);
  // relativistic clock term -2 r.v / c^2 (ECEF velocity: the Earth rotation term is normal to r)
  constexpr double h = 0.01;
  double p1[3], p2[3];
  kepler(v, tk - h, p1);
  kepler(v, tk + h, p2);
  double rv = 0.0;
  for (int i = 0; i < 3; ++i) rv += pos[i] * (p2[i] - p1[i]) / (2.0 * h);
  const double dt = tk + v.toes - v.toc;
  *clk = v.af0 + v.af1 * dt + v.af2 * dt * dt - 2.0 * rv / (SIM_C * SIM_C);
}

void sim_make_gps_eph(int i, int nsat, int week, double toe_tow, unsigned int seed, SIM_GPS_EPH_T* e) {
  *e = SIM_GPS_EPH_T{};
  const int planes = 6;
  const int per_plane = (nsat + planes - 1) / planes;
  const int plane = i % planes, slot = i / planes;
  e->prn = i + 1;
  e->week = week;
  e->l2code = 1;
  e->ura = 0;
  e->health = 0;
  e->fit_flag = 0;
  e->l2p = 0;
  const int set = static_cast<int>(std::floor((week * 604800.0 + toe_tow) / 7200.0));
  e->iode = (set * 7 + i * 13) & 0xFF;
  e->iodc = ((i % 4) << 8) | e->iode;
  e->toe = static_cast<int>(q(toe_tow, 16.0));
  e->toc = e->toe;

  const double sqrtA = 5153.7 + 0.05 * prand(seed, i, 1);
  const double ecc = 0.002 + 0.008 * (prand(seed, i, 2) + 1.0);
  const double inc = (55.0 + 1.0 * prand(seed, i, 3)) * PI / 180.0;
  const double omg = PI * prand(seed, i, 4);
  const double omgd = -8.0E-9 + 5.0E-10 * prand(seed, i, 5);
  const double deln = 4.5E-9 + 5.0E-10 * prand(seed, i, 6);
  // Elements referred to the start of toe's week and carried to toe: the orbit is
  // continuous from one ephemeris set to the next within a week, and every
  // satellite keeps its slot in the constellation's phasing.
  const double A = sqrtA * sqrtA;
  const double n = std::sqrt(SIM_MU / (A * A * A)) + deln;
  // phasing on the argument of latitude (perigee + anomaly)
  const double M0 = std::remainder(2.0 * PI * (slot + 0.25 * plane) / per_plane - omg + n * toe_tow, 2.0 * PI);
  const double node = std::remainder(plane * PI / 3.0 + 0.2 + omgd * toe_tow, 2.0 * PI);
  const double idot = 2.0E-10 * prand(seed, i, 7);
  const double inc_toe = inc + idot * toe_tow;

  e->sqrta = static_cast<unsigned int>(q(sqrtA, std::ldexp(1.0, -19)));
  e->e = static_cast<unsigned int>(q(ecc, std::ldexp(1.0, -33)));
  e->i0 = static_cast<int>(q(inc_toe / SIM_PI_SC, std::ldexp(1.0, -31)));
  e->omg = static_cast<int>(q(omg / SIM_PI_SC, std::ldexp(1.0, -31)));
  e->m0 = static_cast<int>(q(M0 / SIM_PI_SC, std::ldexp(1.0, -31)));
  e->omg0 = static_cast<int>(q(node / SIM_PI_SC, std::ldexp(1.0, -31)));
  e->omgd = static_cast<int>(q(omgd / SIM_PI_SC, std::ldexp(1.0, -43)));
  e->deln = static_cast<int>(q(deln / SIM_PI_SC, std::ldexp(1.0, -43)));
  e->idot = static_cast<int>(q(idot / SIM_PI_SC, std::ldexp(1.0, -43)));
  e->crs = static_cast<int>(q(80.0 * prand(seed, i, 8), std::ldexp(1.0, -5)));
  e->crc = static_cast<int>(q(200.0 + 80.0 * prand(seed, i, 9), std::ldexp(1.0, -5)));
  e->cuc = static_cast<int>(q(5.0E-6 * prand(seed, i, 10), std::ldexp(1.0, -29)));
  e->cus = static_cast<int>(q(8.0E-6 * prand(seed, i, 11), std::ldexp(1.0, -29)));
  e->cic = static_cast<int>(q(1.5E-7 * prand(seed, i, 12), std::ldexp(1.0, -29)));
  e->cis = static_cast<int>(q(1.5E-7 * prand(seed, i, 13), std::ldexp(1.0, -29)));
  e->af0 = static_cast<int>(q(3.0E-4 * prand(seed, i, 14), std::ldexp(1.0, -31)));
  e->af1 = static_cast<int>(q(5.0E-12 * prand(seed, i, 15), std::ldexp(1.0, -43)));
  e->af2 = 0;
  e->tgd = static_cast<int>(q(1.0E-8 * prand(seed, i, 16), std::ldexp(1.0, -31)));
  if (e->tgd == -128) e->tgd = -127;
}

int sim_glo_frq(int slot) {
  static constexpr int k[24] = {1, -4, 5, 6, 1, -4, 5, 6, -2, -7, 0, -1, -2, -7, 0, -1, 4, -3, 3, 2, 4, -3, 3, 2};
  return slot >= 1 && slot <= 24 ? k[slot - 1] : 0;
}

void sim_make_glo_eph(int slot, SIM_TIME_T t, SIM_GLO_EPH_T* g, SIM_TIME_T* toe) {
  *g = SIM_GLO_EPH_T{};
  g->slot = slot;
  // Moscow time of day = UTC + 3 h; UTC = GPS - 18 s
  double tod = std::fmod(t.tow - 18.0 + 10800.0, 86400.0);
  if (tod < 0.0) tod += 86400.0;
  const double tb_tod = std::floor(tod / 1800.0) * 1800.0 + 900.0;  // middle of the half hour
  g->tb = static_cast<int>(tb_tod / 900.0);
  toe->week = t.week;
  toe->tow = t.tow + (tb_tod - tod);
  if (toe->tow >= 604800.0) {
    toe->tow -= 604800.0;
    ++toe->week;
  }
  const double tk = std::floor(tod / 30.0) * 30.0;
  g->tk_h = static_cast<int>(tk / 3600.0);
  g->tk_m = static_cast<int>(std::fmod(tk, 3600.0) / 60.0);
  g->tk_30 = std::fmod(tk, 60.0) >= 30.0 ? 1 : 0;

  // circular orbit in an inertial frame that coincides with ECEF at the start of the week
  const double a = 25508.2E3, inc = 64.8 * PI / 180.0, n = std::sqrt(3.9860044E14 / (a * a * a));
  const int plane = (slot - 1) / 8, j = (slot - 1) % 8;
  const double node = plane * 2.0 * PI / 3.0 + 0.17;
  const double u = j * PI / 4.0 + plane * PI / 12.0 + n * toe->tow;
  const double cO = std::cos(node), sO = std::sin(node), cu = std::cos(u), su = std::sin(u), ci = std::cos(inc),
               si = std::sin(inc);
  const double ri[3] = {a * (cO * cu - sO * su * ci), a * (sO * cu + cO * su * ci), a * su * si};
  const double vi[3] = {a * n * (-cO * su - sO * cu * ci), a * n * (-sO * su + cO * cu * ci), a * n * cu * si};
  const double th = SIM_OMGE * toe->tow, ct = std::cos(th), st = std::sin(th);
  const double w[3] = {vi[0] + SIM_OMGE * ri[1], vi[1] - SIM_OMGE * ri[0], vi[2]};  // v - omega x r
  const double re[3] = {ri[0] * ct + ri[1] * st, -ri[0] * st + ri[1] * ct, ri[2]};
  const double ve[3] = {w[0] * ct + w[1] * st, -w[0] * st + w[1] * ct, w[2]};
  for (int i = 0; i < 3; ++i) {
    g->x[i] = static_cast<int>(q(re[i] / 1E3, std::ldexp(1.0, -11)));
    g->v[i] = static_cast<int>(q(ve[i] / 1E3, std::ldexp(1.0, -20)));
    g->a[i] = 0;
  }
  g->gamn = 2 - slot % 5;
  g->taun = static_cast<int>(q(5.0E-5 * std::sin(slot * 0.7), std::ldexp(1.0, -30)));
  g->dtaun = slot % 7 - 3;
  g->en = 1;
  g->ft = 2;
  g->nt = 300;
  g->m = 1;
  g->p1 = 0;
  g->p2 = g->tb & 1;
  g->p3 = 1;
  g->p4 = 0;
  g->ln = 0;
  g->bn = 0;
}

void sim_glo_sat_state(const SIM_GLO_EPH_T* g, double dt, double* pos, double* clk) {
  constexpr double mu = 3.9860044E14, ae = 6378136.0, j2 = 1082625.75E-9;
  double y[6];
  for (int i = 0; i < 3; ++i) {
    y[i] = std::ldexp(g->x[i], -11) * 1E3;
    y[i + 3] = std::ldexp(g->v[i], -20) * 1E3;
  }
  // inertial frame = ECEF at the reference time
  y[3] -= SIM_OMGE * y[1];
  y[4] += SIM_OMGE * y[0];
  auto f = [&](const double* s, double* d) {
    const double r2 = s[0] * s[0] + s[1] * s[1] + s[2] * s[2], r = std::sqrt(r2);
    const double k = 1.5 * j2 * mu * ae * ae / (r2 * r2 * r), z2 = 5.0 * s[2] * s[2] / r2;
    for (int i = 0; i < 3; ++i) d[i] = s[i + 3];
    d[3] = -mu * s[0] / (r2 * r) - k * s[0] * (1.0 - z2);
    d[4] = -mu * s[1] / (r2 * r) - k * s[1] * (1.0 - z2);
    d[5] = -mu * s[2] / (r2 * r) - k * s[2] * (3.0 - z2);
  };
  const int steps = static_cast<int>(std::ceil(std::fabs(dt) / 15.0));
  const double h = steps > 0 ? dt / steps : 0.0;
  for (int k = 0; k < steps; ++k) {
    double k1[6], k2[6], k3[6], k4[6], w[6];
    f(y, k1);
    for (int i = 0; i < 6; ++i) w[i] = y[i] + 0.5 * h * k1[i];
    f(w, k2);
    for (int i = 0; i < 6; ++i) w[i] = y[i] + 0.5 * h * k2[i];
    f(w, k3);
    for (int i = 0; i < 6; ++i) w[i] = y[i] + h * k3[i];
    f(w, k4);
    for (int i = 0; i < 6; ++i) y[i] += h * (k1[i] + 2.0 * k2[i] + 2.0 * k3[i] + k4[i]) / 6.0;
  }
  const double th = SIM_OMGE * dt, ct = std::cos(th), st = std::sin(th);
  pos[0] = y[0] * ct + y[1] * st;
  pos[1] = -y[0] * st + y[1] * ct;
  pos[2] = y[2];
  *clk = -std::ldexp(g->taun, -30) + std::ldexp(g->gamn, -40) * dt;
}

void sim_make_sbas9(int number, SIM_TIME_T t, SIM_SBAS9_T* m) {
  *m = SIM_SBAS9_T{};
  m->number = number;
  m->week = t.week;
  m->tow = static_cast<int>(t.tow);
  m->t0 = (static_cast<int>(t.tow) / 16 * 16) % 86400;
  m->ura = 3;
  const double lon = (100.0 + 2.0 * (number - 33)) * PI / 180.0, r = 42164000.0;
  m->pos[0] = r * std::cos(lon);
  m->pos[1] = r * std::sin(lon);
  m->pos[2] = 1000.0 * (number - 40);
  m->vel[0] = 0.5;
  m->vel[1] = -0.25;
  m->vel[2] = 1.5;
  m->acc[0] = 1.0E-4;
  m->acc[1] = -2.0E-4;
  m->acc[2] = 0.0;
  m->af0 = 1.0E-7 * (number - 40);
  m->af1 = 1.0E-12;
}

void sim_llh2ecef(const double* llh, double* r) {
  const double e2 = F_WGS84 * (2.0 - F_WGS84);
  const double s = std::sin(llh[0]), c = std::cos(llh[0]);
  const double N = A_WGS84 / std::sqrt(1.0 - e2 * s * s);
  r[0] = (N + llh[2]) * c * std::cos(llh[1]);
  r[1] = (N + llh[2]) * c * std::sin(llh[1]);
  r[2] = (N * (1.0 - e2) + llh[2]) * s;
}

double sim_klobuchar(double lat, double lon, double az, double el, double tow) {
  static constexpr double alpha[4] = {1.118E-8, -7.451E-9, -5.961E-8, 1.192E-7};
  static constexpr double beta[4] = {116700.0, -229400.0, -131100.0, 1.049E6};
  if (el <= 0.0) return 0.0;
  const double E = el / PI;  // semicircles
  const double psi = 0.0137 / (E + 0.11) - 0.022;
  double phi_i = lat / PI + psi * std::cos(az);
  phi_i = phi_i > 0.416 ? 0.416 : (phi_i < -0.416 ? -0.416 : phi_i);
  const double lam_i = lon / PI + psi * std::sin(az) / std::cos(phi_i * PI);
  const double phi_m = phi_i + 0.064 * std::cos((lam_i - 1.617) * PI);
  double t = std::fmod(4.32E4 * lam_i + tow, 86400.0);
  if (t < 0.0) t += 86400.0;
  const double F = 1.0 + 16.0 * (0.53 - E) * (0.53 - E) * (0.53 - E);
  double amp = 0.0, per = 0.0, pm = 1.0;
  for (int n = 0; n < 4; ++n) {
    amp += alpha[n] * pm;
    per += beta[n] * pm;
    pm *= phi_m;
  }
  if (amp < 0.0) amp = 0.0;
  if (per < 72000.0) per = 72000.0;
  const double x = 2.0 * PI * (t - 50400.0) / per;
  const double T = std::fabs(x) < 1.57 ? F * (5.0E-9 + amp * (1.0 - x * x / 2.0 + x * x * x * x / 24.0)) : F * 5.0E-9;
  return SIM_C * T;
}

double sim_saastamoinen(double lat, double hgt, double el) {
  if (el <= 0.0 || hgt < -100.0 || hgt > 10000.0) return 0.0;
  const double h = hgt < 0.0 ? 0.0 : hgt;
  const double P = 1013.25 * std::pow(1.0 - 2.2557E-5 * h, 5.2568);
  const double T = 288.15 - 6.5E-3 * h + 0.01;  // 15 C at sea level, in K with the 273.16 offset
  const double e = 0.7 * 6.108 * std::exp((17.15 * T - 4684.0) / (T - 38.45));
  const double secz = 1.0 / std::cos(PI / 2.0 - el);
  return 0.0022768 * P / (1.0 - 0.00266 * std::cos(2.0 * lat) - 0.00028 * h / 1000.0) * secz +
         0.002277 * (1255.0 / T + 0.05) * e * secz;
}
