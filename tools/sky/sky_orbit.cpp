// The sky's constellation: one Keplerian orbit with harmonic perturbations and
// one clock per satellite, sampled into 2-hour broadcast ephemeris data sets
// and into almanacs, and the IS-GPS-200 (20.3.3.4.3) user algorithm that turns
// an ephemeris into position, velocity and clock.
//
// The orbit of a satellite is continuous in time: mean anomaly, ECEF node
// longitude and inclination grow linearly from their values at the scenario
// start, and every data set quantises them at its own toe. Consecutive sets
// therefore differ only by the quantisation of M0 and Omega0 (about 2 cm);
// the clock is continuous exactly (af1 is a multiple of 128 LSB, so af1 x
// 7200 s is a whole number of af0 LSB).
//
// The first twelve satellites are placed above the receiver at the start
// (or at the scenario's sky epoch, so that a later run sees the same sky)
// (elevation between the mask + 5 degrees and 85 degrees, azimuths spread
// round the sky; near the poles lower, as the inclination allows); the others
// are spread over six planes and may be anywhere.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <initializer_list>

#include "tools/sky/sky_core.h"

namespace {

constexpr double TWO_PI = 2.0 * SKYC_PI;
constexpr int VISIBLE_AT_START = 12;            // satellites placed in view at the start
constexpr double REL_F = -4.442807633e-10;      // relativistic clock constant F, s/m^1/2
constexpr int AF1_STEP = 128;                   // af1 LSB multiple: continuous af0 across sets
constexpr int64_t SETS_PER_WEEK = 84;           // 604800 / 7200
constexpr double TOE_IN_SET = 3600.0;           // toe and toc: middle of the 2-hour set, s
constexpr double ALM_PERIOD = 86016.0;          // almanac data set length (21 x 4096 s)
constexpr double PAGE_CYCLE = 750.0;            // subframe 4/5 page cycle, s
constexpr double ALM_TOA_IN = 40960.0;          // toa within its data set (10 x 4096 s)
constexpr double ALM_TOA_MAX = 602112.0;        // largest toa of a week (147 x 4096 s)
constexpr double SEMI_PER_RAD = 1.0 / SKYC_PI;  // semicircles per radian
// Largest inclination: the almanac's delta i field (16 bits of 2^-19 sc
// about 0.30 sc) reaches 65.25 degrees.
constexpr double INC_MAX = 64.0 * SKYC_D2R;

// One satellite's orbit and clock.
struct ORB_T {
  // message integers that stay the same in every data set (SKY_EPH_T scales)
  uint32_t sqrta, e;
  int32_t omg, deln, omgd, idot, crs, crc, cus, cuc, cis, cic, tgd, af1;
  // state at the sky's reference time (Orbit_ref)
  double m_ref;     // mean anomaly, rad
  double node_ref;  // ECEF longitude of the ascending node, rad
  double inc_ref;   // inclination, rad
  int32_t af0_ref;  // af0 of data set Set_ref, 2^-31 s
  // rates
  double n;         // mean motion incl. delta n, rad/s
  double omgd_rad;  // node rate, rad/s
  double idot_rad;  // inclination rate, rad/s
};

std::array<ORB_T, SKY_MAX_SV> Orbits{};
int Nsat = 0;
SKY_GPST_T Orbit_ref{};  // the sky's reference time: the scenario's sky_epoch, else its start
int64_t Set_ref = 0;     // data set of that time
SKY_IONO_UTC_T Iono_utc{};

// Deterministic pseudo-random value in [-1, 1) from a key.
double prand(unsigned seed, int i, int k) {
  uint64_t x = 0x9E3779B97F4A7C15ULL ^ (static_cast<uint64_t>(seed) << 32) ^ (static_cast<uint64_t>(i) << 12) ^
               static_cast<uint64_t>(k);
  for (int r = 0; r < 3; ++r) {
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBULL;
    x ^= x >> 31;
  }
  return static_cast<double>(x >> 11) / 4503599627370496.0 - 1.0;
}

// value / 2^lsb_exp rounded to the nearest integer.
int64_t quant(double value, int lsb_exp) { return std::llround(std::ldexp(value, -lsb_exp)); }

// An angle (rad) as a signed two's-complement field of `bits` bits with LSB
// 2^lsb_exp semicircles (the angle is taken modulo one turn).
int32_t angle_field(double rad, int lsb_exp, int bits) {
  const int64_t turn = int64_t{1} << bits;  // 2 semicircles
  int64_t q = quant(std::remainder(rad, TWO_PI) * SEMI_PER_RAD, lsb_exp) % turn;
  if (q >= turn / 2) q -= turn;
  if (q < -turn / 2) q += turn;
  return static_cast<int32_t>(q);
}

double rad_of(int64_t raw, int lsb_exp) { return std::ldexp(static_cast<double>(raw), lsb_exp) * SKYC_PI; }

// Message fields that stay fixed for the satellite.
void make_fixed_fields(unsigned seed, int i, ORB_T* o) {
  o->sqrta = static_cast<uint32_t>(quant(5153.7 + 0.05 * prand(seed, i, 1), -19));
  o->e = static_cast<uint32_t>(quant(0.002 + 0.008 * (prand(seed, i, 2) + 1.0), -33));
  o->omg = angle_field(SKYC_PI * prand(seed, i, 4), -31, 32);
  o->omgd = static_cast<int32_t>(quant((-8.0e-9 + 5.0e-10 * prand(seed, i, 5)) * SEMI_PER_RAD, -43));
  o->deln = static_cast<int32_t>(quant((4.5e-9 + 5.0e-10 * prand(seed, i, 6)) * SEMI_PER_RAD, -43));
  o->idot = static_cast<int32_t>(quant(2.0e-10 * prand(seed, i, 7) * SEMI_PER_RAD, -43));
  o->crs = static_cast<int32_t>(quant(80.0 * prand(seed, i, 8), -5));
  o->crc = static_cast<int32_t>(quant(200.0 + 80.0 * prand(seed, i, 9), -5));
  o->cuc = static_cast<int32_t>(quant(5.0e-6 * prand(seed, i, 10), -29));
  o->cus = static_cast<int32_t>(quant(8.0e-6 * prand(seed, i, 11), -29));
  o->cic = static_cast<int32_t>(quant(1.5e-7 * prand(seed, i, 12), -29));
  o->cis = static_cast<int32_t>(quant(1.5e-7 * prand(seed, i, 13), -29));
  o->tgd = static_cast<int32_t>(quant(1.0e-8 * prand(seed, i, 16), -31));
  o->af1 = AF1_STEP * static_cast<int32_t>(std::lround(2.0 * prand(seed, i, 15)));
  o->af0_ref = static_cast<int32_t>(quant(3.0e-4 * prand(seed, i, 14), -31));
  const double a = std::ldexp(static_cast<double>(o->sqrta), -19);
  o->n = std::sqrt(SKYC_MU / (a * a * a * a * a * a)) + rad_of(o->deln, -43);
  o->omgd_rad = rad_of(o->omgd, -43);
  o->idot_rad = rad_of(o->idot, -43);
}

// Where a satellite in direction (az, el) from the receiver at rx meets the
// sphere of radius r: geocentric latitude and longitude (rad).
void point_in_view(const double* rx, double az, double el, double r, double* lat, double* lon) {
  double llh[3];
  double ax[3][3];
  SKYC_ecef2llh(rx, llh);
  SKYC_enu_axes(llh[0], llh[1], ax);
  const double enu[3] = {std::cos(el) * std::sin(az), std::cos(el) * std::cos(az), std::sin(el)};
  double u[3] = {};
  for (int j = 0; j < 3; ++j) {
    for (int k = 0; k < 3; ++k) u[j] += ax[k][j] * enu[k];
  }
  const double b = rx[0] * u[0] + rx[1] * u[1] + rx[2] * u[2];
  const double c = rx[0] * rx[0] + rx[1] * rx[1] + rx[2] * rx[2] - r * r;
  const double s = -b + std::sqrt(b * b - c);
  const double p[3] = {rx[0] + s * u[0], rx[1] + s * u[1], rx[2] + s * u[2]};
  *lat = std::asin(p[2] / r);
  *lon = std::atan2(p[1], p[0]);
}

// Orbit state at the start that puts the satellite at geocentric (lat, lon),
// on an ascending or descending pass, with inclination at least inc_min.
void set_start_state(double lat, double lon, double inc_min, bool descending, ORB_T* o) {
  const double inc = std::max(inc_min, std::min(std::fabs(lat) + 1.0 * SKYC_D2R, INC_MAX));
  double u = std::asin(std::clamp(std::sin(lat) / std::sin(inc), -1.0, 1.0));  // argument of latitude
  if (descending) u = SKYC_PI - u;
  o->inc_ref = inc;
  o->node_ref = lon - std::atan2(std::cos(inc) * std::sin(u), std::cos(u));
  const double e = std::ldexp(static_cast<double>(o->e), -33);
  const double nu = u - rad_of(o->omg, -31);  // true anomaly
  const double ea = 2.0 * std::atan2(std::sqrt(1.0 - e) * std::sin(nu / 2.0), std::sqrt(1.0 + e) * std::cos(nu / 2.0));
  o->m_ref = ea - e * std::sin(ea);
}

// Tries direction (az, el) and its north-south mirror: true and the point
// when one of them lies within reach of an inclination of INC_MAX.
bool reachable_point(const double* rx, double az, double el, double r, double* lat, double* lon) {
  for (const double a : {az, SKYC_PI - az}) {
    point_in_view(rx, a, el, r, lat, lon);
    if (std::fabs(*lat) <= INC_MAX - 1.0 * SKYC_D2R) return true;
  }
  return false;
}

// A satellite in view: at the scripted direction, or, near a pole, at the
// mirrored azimuth or lower elevations (in 5-degree steps down to the mask +
// 5 degrees); inclinations stay within the almanac's reach.
void place_in_view(const SKY_SCENARIO_T* sc, const double* rx, int i, ORB_T* o) {
  const double inc = (55.0 + 1.0 * prand(sc->seed, i, 3)) * SKYC_D2R;
  const double frac_el = 0.5 * (1.0 + std::remainder(0.618034 * i + 0.1 * prand(sc->seed, i, 17), 1.0) * 2.0);
  const double lo = sc->mask_deg + 5.0;
  const double el0 = lo + (85.0 - lo) * std::clamp(frac_el, 0.0, 1.0);
  const double az = (std::fmod(137.508 * i + 20.0 * prand(sc->seed, i, 18) + 360.0, 360.0)) * SKYC_D2R;
  const double a = std::ldexp(static_cast<double>(o->sqrta), -19);
  double lat = 0.0, lon = 0.0;
  for (double el = el0; el >= lo - 1e-9; el -= 5.0) {
    if (reachable_point(rx, az, el * SKYC_D2R, a * a, &lat, &lon)) break;
  }
  set_start_state(lat, lon, inc, (i % 2) == 1, o);
}

void place_anywhere(const SKY_SCENARIO_T* sc, int i, ORB_T* o) {
  const int plane = i % 6;
  const double inc = (55.0 + 1.0 * prand(sc->seed, i, 3)) * SKYC_D2R;
  o->inc_ref = inc;
  o->node_ref = plane * SKYC_PI / 3.0 + 0.2 + 0.05 * prand(sc->seed, i, 19);
  o->m_ref = std::remainder(TWO_PI * (0.37 * i + 0.11 * plane) - rad_of(o->omg, -31), TWO_PI);
}

// Receiver position at the start (first waypoint when a track is given).
void start_position(const SKY_SCENARIO_T* sc, double* rx) {
  const double* p = sc->n_waypoints > 0 ? &sc->waypoints[0][1] : sc->llh;
  const double llh[3] = {p[0] * SKYC_D2R, p[1] * SKYC_D2R, p[2]};
  SKYC_llh2ecef(llh, rx);
}

// Ionosphere and UTC parameters, the UTC reference time at the sky's reference ref.
void make_iono_utc(const SKY_SCENARIO_T* sc, SKY_GPST_T ref) {
  static constexpr int ALPHA_EXP[4] = {-30, -27, -24, -24};
  static constexpr int BETA_EXP[4] = {11, 14, 16, 16};
  Iono_utc = SKY_IONO_UTC_T{};
  for (int i = 0; i < 4; ++i) {
    Iono_utc.alpha[i] = static_cast<int32_t>(std::clamp<int64_t>(quant(sc->iono_alpha[i], ALPHA_EXP[i]), -128, 127));
    Iono_utc.beta[i] = static_cast<int32_t>(std::clamp<int64_t>(quant(sc->iono_beta[i], BETA_EXP[i]), -128, 127));
  }
  Iono_utc.a0 = -3;  // -2.8 ns
  Iono_utc.a1 = -8;  // -7.1e-15 s/s
  Iono_utc.tot = static_cast<int32_t>(std::floor(ref.tow / 4096.0));
  Iono_utc.wnt = ref.week & 0xFF;
  Iono_utc.dt_ls = sc->leap_s;
  Iono_utc.wn_lsf = sc->leap_wn & 0xFF;
  Iono_utc.dn = sc->leap_dn;
  Iono_utc.dt_lsf = sc->leap_s_after;
}

// Time of set k's toe and toc.
SKY_GPST_T set_toe(int64_t k) {
  SKY_GPST_T t;
  t.week = static_cast<int32_t>(k / SETS_PER_WEEK);
  t.tow = static_cast<double>(k % SETS_PER_WEEK) * SKYC_SET_S + TOE_IN_SET;
  return t;
}

// Orbit state at time t: mean anomaly, ECEF node longitude, inclination (rad).
void state_at(const ORB_T& o, SKY_GPST_T t, double* m, double* node, double* inc) {
  const double dt = SKYC_diff(t, Orbit_ref);
  *m = o.m_ref + o.n * dt;
  *node = o.node_ref + (o.omgd_rad - SKYC_OMGE) * dt;
  *inc = o.inc_ref + o.idot_rad * dt;
}

// Kepler's equation M = E - e sin E by Newton steps.
double eccentric_anomaly(double m, double e) {
  double ea = m;
  for (int k = 0; k < 30; ++k) {
    const double step = (ea - e * std::sin(ea) - m) / (1.0 - e * std::cos(ea));
    ea -= step;
    if (std::fabs(step) < 1e-15) break;
  }
  return ea;
}

// Ephemeris as the receiver scales it.
struct EPHV_T {
  double a, e, m0, deln, omg0, omgd, i0, idot, omg, crs, crc, cus, cuc, cis, cic;
  double af0, af1, af2;
  double toe, toc;  // s of week
  int32_t week;
};

EPHV_T eph_values(const SKY_EPH_T* p) {
  EPHV_T v{};
  const double sqrta = std::ldexp(static_cast<double>(p->sqrta), -19);
  v.a = sqrta * sqrta;
  v.e = std::ldexp(static_cast<double>(p->e), -33);
  v.m0 = rad_of(p->m0, -31);
  v.deln = rad_of(p->deln, -43);
  v.omg0 = rad_of(p->omg0, -31);
  v.omgd = rad_of(p->omgd, -43);
  v.i0 = rad_of(p->i0, -31);
  v.idot = rad_of(p->idot, -43);
  v.omg = rad_of(p->omg, -31);
  v.crs = std::ldexp(static_cast<double>(p->crs), -5);
  v.crc = std::ldexp(static_cast<double>(p->crc), -5);
  v.cus = std::ldexp(static_cast<double>(p->cus), -29);
  v.cuc = std::ldexp(static_cast<double>(p->cuc), -29);
  v.cis = std::ldexp(static_cast<double>(p->cis), -29);
  v.cic = std::ldexp(static_cast<double>(p->cic), -29);
  v.af0 = std::ldexp(static_cast<double>(p->af0), -31);
  v.af1 = std::ldexp(static_cast<double>(p->af1), -43);
  v.af2 = std::ldexp(static_cast<double>(p->af2), -55);
  v.toe = p->toe * 16.0;
  v.toc = p->toc * 16.0;
  v.week = p->week;
  return v;
}

// Position (ECEF m) at tk seconds from toe; *ea receives the eccentric anomaly.
void kepler_position(const EPHV_T& v, double tk, double* pos, double* ea) {
  const double n = std::sqrt(SKYC_MU / (v.a * v.a * v.a)) + v.deln;
  const double e_k = eccentric_anomaly(v.m0 + n * tk, v.e);
  const double nu = std::atan2(std::sqrt(1.0 - v.e * v.e) * std::sin(e_k), std::cos(e_k) - v.e);
  const double phi = nu + v.omg;  // argument of latitude
  const double s2 = std::sin(2.0 * phi), c2 = std::cos(2.0 * phi);
  const double u = phi + v.cus * s2 + v.cuc * c2;
  const double r = v.a * (1.0 - v.e * std::cos(e_k)) + v.crs * s2 + v.crc * c2;
  const double inc = v.i0 + v.cis * s2 + v.cic * c2 + v.idot * tk;
  const double node = v.omg0 + (v.omgd - SKYC_OMGE) * tk - SKYC_OMGE * v.toe;
  const double xp = r * std::cos(u), yp = r * std::sin(u);
  pos[0] = xp * std::cos(node) - yp * std::cos(inc) * std::sin(node);
  pos[1] = xp * std::sin(node) + yp * std::cos(inc) * std::cos(node);
  pos[2] = yp * std::sin(inc);
  *ea = e_k;
}

}  // namespace

int SKYC_orbit_init(const SKY_SCENARIO_T* sc) {
  if (sc->nsat < 1 || sc->nsat > SKY_MAX_SV) return 0;
  Nsat = sc->nsat;
  // The constellation's reference: the scenario's sky epoch, else its start.
  const SKY_GPST_T ref = sc->has_sky_epoch != 0 ? sc->sky_epoch : sc->start;
  Orbit_ref = ref;
  Set_ref = SKYC_set_index(ref);
  double rx[3];
  start_position(sc, rx);
  for (int i = 0; i < Nsat; ++i) {
    ORB_T& o = Orbits[static_cast<size_t>(i)];
    o = ORB_T{};
    make_fixed_fields(sc->seed, i, &o);
    if (i < VISIBLE_AT_START) {
      place_in_view(sc, rx, i, &o);
    } else {
      place_anywhere(sc, i, &o);
    }
  }
  make_iono_utc(sc, ref);
  return 1;
}

int SKYC_nsat() { return Nsat; }

int64_t SKYC_set_index(SKY_GPST_T t) {
  return static_cast<int64_t>(t.week) * SETS_PER_WEEK + static_cast<int64_t>(std::floor(t.tow / SKYC_SET_S));
}

int SKYC_eph_of_set(int svid, int64_t k, SKY_EPH_T* out) {
  if (svid < 1 || svid > Nsat || k < 0) return 0;
  const int i = svid - 1;
  const ORB_T& o = Orbits[static_cast<size_t>(i)];
  const SKY_GPST_T toe = set_toe(k);
  double m = 0.0, node = 0.0, inc = 0.0;
  state_at(o, toe, &m, &node, &inc);
  SKY_EPH_T& e = *out;
  e = SKY_EPH_T{};
  e.svid = svid;
  e.week = toe.week;
  e.l2_code = 1;
  e.iode = static_cast<int32_t>((k * 7 + i * 13) & 0xFF);
  e.iodc = ((i % 4) << 8) | e.iode;
  e.tgd = o.tgd;
  e.toc = static_cast<int32_t>(toe.tow / 16.0);
  e.toe = e.toc;
  e.af2 = 0;
  e.af1 = o.af1;
  e.af0 = static_cast<int32_t>(o.af0_ref + static_cast<int64_t>(o.af1 / AF1_STEP) * 225 * (k - Set_ref));
  e.crs = o.crs;
  e.deln = o.deln;
  e.m0 = angle_field(m, -31, 32);
  e.cuc = o.cuc;
  e.e = o.e;
  e.cus = o.cus;
  e.sqrta = o.sqrta;
  e.cic = o.cic;
  e.omg0 = angle_field(node + SKYC_OMGE * toe.tow, -31, 32);
  e.cis = o.cis;
  e.i0 = angle_field(inc, -31, 32);
  e.crc = o.crc;
  e.omg = o.omg;
  e.omgd = o.omgd;
  e.idot = o.idot;
  return 1;
}

const SKY_IONO_UTC_T* SKYC_iono_utc() { return &Iono_utc; }

int SKY_get_ephemeris(int svid, SKY_GPST_T t, SKY_EPH_T* out) {
  return out != nullptr ? SKYC_eph_of_set(svid, SKYC_set_index(t), out) : 0;
}

int SKY_get_almanac(int svid, SKY_GPST_T t, SKY_ALM_T* out) {
  if (out == nullptr || svid < 1 || svid > Nsat) return 0;
  const ORB_T& o = Orbits[static_cast<size_t>(svid - 1)];
  SKY_GPST_T ta;
  ta.week = t.week;
  // a data set changes only between two 12.5-minute page cycles (counted from the week's start)
  const double cycle = std::floor(t.tow / PAGE_CYCLE) * PAGE_CYCLE;
  ta.tow = std::min(std::floor(cycle / ALM_PERIOD) * ALM_PERIOD + ALM_TOA_IN, ALM_TOA_MAX);
  double m = 0.0, node = 0.0, inc = 0.0;
  state_at(o, ta, &m, &node, &inc);
  const SKY_GPST_T ref = set_toe(Set_ref);
  const double clk = std::ldexp(static_cast<double>(o.af0_ref), -31) +
                     std::ldexp(static_cast<double>(o.af1), -43) * SKYC_diff(ta, ref);
  SKY_ALM_T& a = *out;
  a = SKY_ALM_T{};
  a.svid = svid;
  a.e = static_cast<int32_t>(quant(std::ldexp(static_cast<double>(o.e), -33), -21));
  a.toa = static_cast<int32_t>(ta.tow / 4096.0);
  a.wna = ta.week & 0xFF;
  a.di = static_cast<int32_t>(quant(inc * SEMI_PER_RAD - 0.30, -19));
  a.omgd = static_cast<int32_t>(quant(o.omgd_rad * SEMI_PER_RAD, -38));
  a.health = 0;
  // The almanac has no delta n: its semi-major axis carries the whole mean
  // motion (about 550 m lower), so that the along-track position holds.
  a.sqrta = static_cast<int32_t>(quant(std::pow(SKYC_MU / (o.n * o.n), 1.0 / 6.0), -11));
  a.omg0 = angle_field(node + SKYC_OMGE * ta.tow, -23, 24);
  a.omg = angle_field(rad_of(o.omg, -31), -23, 24);
  a.m0 = angle_field(m, -23, 24);
  a.af0 = static_cast<int32_t>(quant(clk, -20));
  a.af1 = o.af1 / 32;  // 2^-43 -> 2^-38 s/s (af1 is a multiple of 128 LSB)
  return 1;
}

void SKY_get_iono_utc(SKY_IONO_UTC_T* out) {
  if (out != nullptr) *out = Iono_utc;
}

int SKY_eph_sat_state(const SKY_EPH_T* eph, SKY_GPST_T t, double* pos, double* vel, double* clk_s) {
  if (eph == nullptr || pos == nullptr || eph->sqrta == 0) return 0;
  const EPHV_T v = eph_values(eph);
  const double tk = static_cast<double>(t.week - v.week) * SKYC_WEEK_S + (t.tow - v.toe);
  double ea = 0.0;
  kepler_position(v, tk, pos, &ea);
  if (vel != nullptr) {  // central difference over +-10 ms: truncation below 1e-8 m/s
    constexpr double H = 0.01;
    double p1[3], p2[3], unused = 0.0;
    kepler_position(v, tk - H, p1, &unused);
    kepler_position(v, tk + H, p2, &unused);
    for (int j = 0; j < 3; ++j) vel[j] = (p2[j] - p1[j]) / (2.0 * H);
  }
  if (clk_s != nullptr) {
    const double dt = static_cast<double>(t.week - v.week) * SKYC_WEEK_S + (t.tow - v.toc);
    *clk_s = v.af0 + v.af1 * dt + v.af2 * dt * dt + REL_F * v.e * std::sqrt(v.a) * std::sin(ea);
  }
  return 1;
}
