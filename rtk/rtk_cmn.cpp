#include "rtk/rtk_cmn.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr double GPST0[6] = {1980, 1, 6, 0, 0, 0};  // GPS time origin
constexpr double BDT0[6] = {2006, 1, 1, 0, 0, 0};   // BeiDou time origin
constexpr double SECONDS_OF_WEEK = 604800.0;

S16 Leap_sec = 18;  // GPS - UTC, s

// Work space of matinv: LU factors, permutation and one column.
double Lu_work[MAXMAT * MAXMAT];
int Lu_index[MAXMAT];
double Inv_col[MAXMAT * MAXMAT];

// CRC-24Q table for the polynomial 0x1864CFB.
constexpr std::array<unsigned int, 256> make_crc24q_table() {
  std::array<unsigned int, 256> t{};
  for (unsigned int i = 0; i < 256; ++i) {
    unsigned int c = i << 16;
    for (int b = 0; b < 8; ++b) c = (c & 0x800000u) ? ((c << 1) ^ 0x1864CFBu) : (c << 1);
    t[i] = c & 0xFFFFFFu;
  }
  return t;
}
constexpr std::array<unsigned int, 256> CRC24Q_TABLE = make_crc24q_table();

// LU decomposition with partial pivoting of the n x n matrix A (column-major, in place).
int ludcmp(double* A, int n, int* indx) {
  for (int j = 0; j < n; ++j) {
    int imax = j;
    double big = std::fabs(A[j + j * n]);
    for (int i = j + 1; i < n; ++i) {
      if (std::fabs(A[i + j * n]) > big) {
        big = std::fabs(A[i + j * n]);
        imax = i;
      }
    }
    if (big <= 0.0 || !std::isfinite(big)) return -1;
    indx[j] = imax;
    if (imax != j) {
      for (int k = 0; k < n; ++k) {
        const double tmp = A[j + k * n];
        A[j + k * n] = A[imax + k * n];
        A[imax + k * n] = tmp;
      }
    }
    const double piv = A[j + j * n];
    for (int i = j + 1; i < n; ++i) {
      A[i + j * n] /= piv;
      const double f = A[i + j * n];
      if (f == 0.0) continue;
      for (int k = j + 1; k < n; ++k) A[i + k * n] -= f * A[j + k * n];
    }
  }
  return 0;
}

// Solves LU x = b in place for one right-hand side.
void lubksb(const double* A, int n, const int* indx, double* b) {
  for (int j = 0; j < n; ++j) {
    if (indx[j] != j) {
      const double tmp = b[j];
      b[j] = b[indx[j]];
      b[indx[j]] = tmp;
    }
  }
  for (int i = 0; i < n; ++i) {
    double s = b[i];
    for (int k = 0; k < i; ++k) s -= A[i + k * n] * b[k];
    b[i] = s;
  }
  for (int i = n - 1; i >= 0; --i) {
    double s = b[i];
    for (int k = i + 1; k < n; ++k) s -= A[i + k * n] * b[k];
    b[i] = s / A[i + i * n];
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Time.

gtime_t epoch2time(const double* ep) {
  static constexpr int doy[] = {1, 32, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335};
  gtime_t t{0.0, 0.0};
  const int year = static_cast<int>(ep[0]), mon = static_cast<int>(ep[1]), day = static_cast<int>(ep[2]);
  if (year < 1970 || year > 2099 || mon < 1 || mon > 12) return t;
  // leap year if year % 4 == 0 in 1901-2099
  const int days =
      (year - 1970) * 365 + (year - 1969) / 4 + doy[mon - 1] + day - 2 + (year % 4 == 0 && mon >= 3 ? 1 : 0);
  const double sec = std::floor(ep[5]);
  t.time =
      static_cast<double>(days) * 86400.0 + static_cast<int>(ep[3]) * 3600.0 + static_cast<int>(ep[4]) * 60.0 + sec;
  t.sec = ep[5] - sec;
  return t;
}

void time2epoch(gtime_t t, double* ep) {
  // Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
  const long long whole = static_cast<long long>(std::floor(t.time));
  long long days = whole / 86400;
  long long sec = whole % 86400;
  if (sec < 0) {
    sec += 86400;
    --days;
  }
  const long long z = days + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;                                       // [0, 146096]
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);                // [0, 365]
  const long long mp = (5 * doy + 2) / 153;                                     // [0, 11], March first
  const long long d = doy - (153 * mp + 2) / 5 + 1;
  const long long m = mp < 10 ? mp + 3 : mp - 9;
  ep[0] = static_cast<double>(yoe + era * 400 + (m <= 2 ? 1 : 0));
  ep[1] = static_cast<double>(m);
  ep[2] = static_cast<double>(d);
  const long long hour = sec / 3600;         // whole hours
  const long long minute = sec % 3600 / 60;  // whole minutes
  ep[3] = static_cast<double>(hour);
  ep[4] = static_cast<double>(minute);
  ep[5] = static_cast<double>(sec % 60) + t.sec;
}

gtime_t gpst2time(int week, double sec) {
  gtime_t t = epoch2time(GPST0);
  if (!(sec >= -1e9 && sec <= 1e9)) sec = 0.0;  // also catches NaN
  t.time += SECONDS_OF_WEEK * week + std::floor(sec);
  t.sec = sec - std::floor(sec);
  return t;
}

double time2gpst(gtime_t t, int* week) {
  const gtime_t t0 = epoch2time(GPST0);
  const double sec = t.time - t0.time;
  const int w = static_cast<int>(std::floor(sec / SECONDS_OF_WEEK));
  if (week != nullptr) *week = w;
  return sec - static_cast<double>(w) * SECONDS_OF_WEEK + t.sec;
}

gtime_t bdt2time(int week, double sec) {
  gtime_t t = epoch2time(BDT0);
  if (!(sec >= -1e9 && sec <= 1e9)) sec = 0.0;
  t.time += SECONDS_OF_WEEK * week + std::floor(sec);
  t.sec = sec - std::floor(sec);
  return t;
}

double time2bdt(gtime_t t, int* week) {
  const gtime_t t0 = epoch2time(BDT0);
  const double sec = t.time - t0.time;
  const int w = static_cast<int>(std::floor(sec / SECONDS_OF_WEEK));
  if (week != nullptr) *week = w;
  return sec - static_cast<double>(w) * SECONDS_OF_WEEK + t.sec;
}

gtime_t bdt2gpst(gtime_t t) { return timeadd(t, 14.0); }
gtime_t gpst2bdt(gtime_t t) { return timeadd(t, -14.0); }

gtime_t timeadd(gtime_t t, double sec) {
  t.sec += sec;
  const double tt = std::floor(t.sec);
  t.time += tt;
  t.sec -= tt;
  return t;
}

double timediff(gtime_t t1, gtime_t t2) { return (t1.time - t2.time) + (t1.sec - t2.sec); }

gtime_t gpst2utc(gtime_t t) { return timeadd(t, -static_cast<double>(Leap_sec)); }
gtime_t utc2gpst(gtime_t t) { return timeadd(t, static_cast<double>(Leap_sec)); }
void RTKCMN_set_leap_second(S16 leap_sec) { Leap_sec = leap_sec; }
S16 RTKCMN_get_leap_second() { return Leap_sec; }

double time2doy(gtime_t t) {
  double ep[6];
  time2epoch(t, ep);
  ep[1] = ep[2] = 1.0;
  ep[3] = ep[4] = ep[5] = 0.0;
  return timediff(t, epoch2time(ep)) / 86400.0 + 1.0;
}

int str2time(const char* s, int i, int n, gtime_t* t) {
  char str[256];
  if (i < 0 || n <= 0 || n >= static_cast<int>(sizeof str) || static_cast<int>(std::strlen(s)) < i) return -1;
  std::strncpy(str, s + i, static_cast<std::size_t>(n));
  str[n] = '\0';
  double ep[6];
  if (std::sscanf(str, "%lf %lf %lf %lf %lf %lf", ep, ep + 1, ep + 2, ep + 3, ep + 4, ep + 5) < 6) return -1;
  if (ep[0] < 100.0) ep[0] += ep[0] < 80.0 ? 2000.0 : 1900.0;
  *t = epoch2time(ep);
  return 0;
}

double str2num(const char* s, int i, int n) {
  char str[256];
  if (i < 0 || n <= 0 || static_cast<int>(std::strlen(s)) < i) return 0.0;
  int k = 0;
  for (const char* p = s + i; *p != '\0' && k < n && k < static_cast<int>(sizeof str) - 1; ++p, ++k) {
    str[k] = (*p == 'd' || *p == 'D') ? 'E' : *p;
  }
  str[k] = '\0';
  double value = 0.0;
  return std::sscanf(str, "%lf", &value) == 1 ? value : 0.0;
}

int gps_week_from_10bit(int week10, int ref_week) {
  const int w = week10 & 1023;
  const int d = ref_week - w + 512;
  const int k = d >= 0 ? d / 1024 : -((-d + 1023) / 1024);
  return w + 1024 * k;
}

// ---------------------------------------------------------------------------
// Satellite numbers.

int satno(int sys, int prn) {
  switch (sys) {
    case SYS_GPS:
      if (prn < MINPRNGPS || prn > MAXPRNGPS) return 0;
      return prn - MINPRNGPS + 1;
    case SYS_QZS:
      if (prn < MINPRNQZS || prn > MAXPRNQZS) return 0;
      return NSATGPS + prn - MINPRNQZS + 1;
    case SYS_GLO:
      if (prn < MINPRNGLO || prn > MAXPRNGLO) return 0;
      return NSATGPS + NSATQZS + prn - MINPRNGLO + 1;
    case SYS_SBS:
      if (prn < MINPRNSBS || prn > MAXPRNSBS) return 0;
      return NSATGPS + NSATQZS + NSATGLO + prn - MINPRNSBS + 1;
    default:
      return 0;  // Galileo, BeiDou and unknown systems have no index
  }
}

int satsys(int sat, int* prn) {
  int sys = SYS_NONE;
  int p = 0;
  if (sat <= 0 || sat > MAXSAT) {
    sat = 0;
  } else if (sat <= NSATGPS) {
    sys = SYS_GPS;
    p = sat + MINPRNGPS - 1;
  } else if ((sat -= NSATGPS) <= NSATQZS) {
    sys = SYS_QZS;
    p = sat + MINPRNQZS - 1;
  } else if ((sat -= NSATQZS) <= NSATGLO) {
    sys = SYS_GLO;
    p = sat + MINPRNGLO - 1;
  } else if ((sat -= NSATGLO) <= NSATSBS) {
    sys = SYS_SBS;
    p = sat + MINPRNSBS - 1;
  }
  if (prn != nullptr) *prn = p;
  return sys;
}

int satid2no(const char* id) {
  int prn = 0;
  if (std::sscanf(id, "%d", &prn) == 1) {
    if (MINPRNGPS <= prn && prn <= MAXPRNGPS) return satno(SYS_GPS, prn);
    if (MINPRNSBS <= prn && prn <= MAXPRNSBS) return satno(SYS_SBS, prn);
    if (MINPRNQZS <= prn && prn <= MAXPRNQZS) return satno(SYS_QZS, prn);
    return 0;
  }
  char code = 0;
  if (std::sscanf(id, "%c%d", &code, &prn) < 2) return 0;
  switch (code) {
    case 'G':
      return satno(SYS_GPS, prn);
    case 'R':
      return satno(SYS_GLO, prn);
    case 'E':
      return satno(SYS_GAL, prn - 1);
    case 'J':
      return satno(SYS_QZS, prn + 192);
    case 'C':
      return satno(SYS_CMP, prn - 1);
    case 'L':
      return 0;
    case 'S':
      return satno(SYS_SBS, prn + 100 - 87);  // S20 is PRN 120, engine number 33
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------
// Coordinates and geometry.

void ecef2pos(const double* r, double* pos) {
  const double r2 = r[0] * r[0] + r[1] * r[1];
  double z = r[2], zk = 0.0, v = RE_WGS84, sinp = 0.0;
  for (int i = 0; i < 100 && std::fabs(z - zk) >= 1e-4; ++i) {
    zk = z;
    sinp = z / std::sqrt(r2 + z * z);
    v = RE_WGS84 / std::sqrt(1.0 - E2_WGS84 * sinp * sinp);
    z = r[2] + v * E2_WGS84 * sinp;
  }
  pos[0] = r2 > 1e-12 ? std::atan(z / std::sqrt(r2)) : (r[2] > 0.0 ? PI / 2.0 : -PI / 2.0);
  pos[1] = r2 > 1e-12 ? std::atan2(r[1], r[0]) : 0.0;
  pos[2] = std::sqrt(r2 + z * z) - v;
}

void pos2ecef(const double* pos, double* r) {
  const double sinp = std::sin(pos[0]), cosp = std::cos(pos[0]), sinl = std::sin(pos[1]), cosl = std::cos(pos[1]);
  const double v = RE_WGS84 / std::sqrt(1.0 - E2_WGS84 * sinp * sinp);
  r[0] = (v + pos[2]) * cosp * cosl;
  r[1] = (v + pos[2]) * cosp * sinl;
  r[2] = (v * (1.0 - E2_WGS84) + pos[2]) * sinp;
}

void xyz2enu(const double* pos, double* E) {
  const double sinp = std::sin(pos[0]), cosp = std::cos(pos[0]), sinl = std::sin(pos[1]), cosl = std::cos(pos[1]);
  // rows east, north, up; stored column-major
  E[0] = -sinl;
  E[3] = cosl;
  E[6] = 0.0;
  E[1] = -sinp * cosl;
  E[4] = -sinp * sinl;
  E[7] = cosp;
  E[2] = cosp * cosl;
  E[5] = cosp * sinl;
  E[8] = sinp;
}

void ecef2enu(const double* pos, const double* r, double* e) {
  double E[9];
  xyz2enu(pos, E);
  matmul("NN", 3, 1, 3, 1.0, E, r, 0.0, e);
}

void enu2ecef(const double* pos, const double* e, double* r) {
  double E[9];
  xyz2enu(pos, E);
  matmul("TN", 3, 1, 3, 1.0, E, e, 0.0, r);
}

void covecef(const double* pos, const double* Q, double* P) {
  double E[9], EQ[9];
  xyz2enu(pos, E);
  matmul("TN", 3, 3, 3, 1.0, E, Q, 0.0, EQ);
  matmul("NN", 3, 3, 3, 1.0, EQ, E, 0.0, P);
}

double geodist(const double* rs, const double* rr, double* e) {
  if (norm(rs, 3) < RE_WGS84) return -1.0;
  for (int i = 0; i < 3; ++i) e[i] = rs[i] - rr[i];
  const double r = norm(e, 3);
  if (r <= 0.0) return -1.0;
  for (int i = 0; i < 3; ++i) e[i] /= r;
  return r + OMGE * (rs[0] * rr[1] - rs[1] * rr[0]) / CLIGHT;
}

double satazel(const double* pos, const double* e, double* azel) {
  double az = 0.0, el = PI / 2.0;
  if (pos[2] > -RE_WGS84) {
    double enu[3];
    ecef2enu(pos, e, enu);
    az = dot(enu, enu, 2) < 1e-12 ? 0.0 : std::atan2(enu[0], enu[1]);
    if (az < 0.0) az += 2.0 * PI;
    el = std::asin(enu[2] < -1.0 ? -1.0 : (enu[2] > 1.0 ? 1.0 : enu[2]));
  }
  if (azel != nullptr) {
    azel[0] = az;
    azel[1] = el;
  }
  return el;
}

void dops(int ns, const double* azel, double elmin, double* dop) {
  double H[4 * MAXSAT], Q[16];
  for (int i = 0; i < 4; ++i) dop[i] = 0.0;
  int n = 0;
  for (int i = 0; i < ns && i < MAXSAT; ++i) {
    if (azel[1 + i * 2] < elmin || azel[1 + i * 2] <= 0.0) continue;
    const double cosel = std::cos(azel[1 + i * 2]), sinel = std::sin(azel[1 + i * 2]);
    H[4 * n] = cosel * std::sin(azel[i * 2]);
    H[1 + 4 * n] = cosel * std::cos(azel[i * 2]);
    H[2 + 4 * n] = sinel;
    H[3 + 4 * n++] = 1.0;
  }
  if (n < 4) return;
  matmul("NT", 4, 4, n, 1.0, H, H, 0.0, Q);
  if (matinv(Q, 4) == 0) {
    dop[0] = std::sqrt(Q[0] + Q[5] + Q[10] + Q[15]);
    dop[1] = std::sqrt(Q[0] + Q[5] + Q[10]);
    dop[2] = std::sqrt(Q[0] + Q[5]);
    dop[3] = std::sqrt(Q[10]);
  }
}

// ---------------------------------------------------------------------------
// Atmospheric models.

double ionmodel(gtime_t t, const double* ion, const double* pos, const double* azel) {
  static constexpr double ion_default[8] = {0.1118E-07, -0.7451E-08, -0.5961E-07, 0.1192E-06,
                                            0.1167E+06, -0.2294E+06, -0.1311E+06, 0.1049E+07};
  if (pos[2] < -1e3 || azel[1] <= 0.0) return 0.0;
  if (norm(ion, 8) <= 0.0) ion = ion_default;

  // IS-GPS-200 single-frequency model; angles in semicircles.
  const double E = azel[1] / PI;
  const double psi = 0.0137 / (E + 0.11) - 0.022;
  double phi = pos[0] / PI + psi * std::cos(azel[0]);
  if (phi > 0.416)
    phi = 0.416;
  else if (phi < -0.416)
    phi = -0.416;
  const double lam = pos[1] / PI + psi * std::sin(azel[0]) / std::cos(phi * PI);
  const double phim = phi + 0.064 * std::cos((lam - 1.617) * PI);
  int week = 0;
  double tt = 43200.0 * lam + time2gpst(t, &week);
  tt -= std::floor(tt / 86400.0) * 86400.0;
  const double f = 1.0 + 16.0 * std::pow(0.53 - E, 3.0);
  double amp = ion[0] + phim * (ion[1] + phim * (ion[2] + phim * ion[3]));
  double per = ion[4] + phim * (ion[5] + phim * (ion[6] + phim * ion[7]));
  if (amp < 0.0) amp = 0.0;
  if (per < 72000.0) per = 72000.0;
  const double x = 2.0 * PI * (tt - 50400.0) / per;
  const double delay = std::fabs(x) < 1.57 ? f * (5E-9 + amp * (1.0 + x * x * (-0.5 + x * x / 24.0))) : f * 5E-9;
  return CLIGHT * delay;
}

double tropmodel(gtime_t, const double* pos, const double* azel, double humi) {
  if (pos[2] < -100.0 || pos[2] > 1E4 || azel[1] <= 0.0) return 0.0;
  // standard atmosphere
  const double hgt = pos[2] < 0.0 ? 0.0 : pos[2];
  const double pres = 1013.25 * std::pow(1.0 - 2.2557E-5 * hgt, 5.2568);               // hPa
  const double temp = 15.0 - 6.5E-3 * hgt + 273.16;                                    // K
  const double e = 6.108 * humi * std::exp((17.15 * temp - 4684.0) / (temp - 38.45));  // hPa
  // Saastamoinen
  const double z = PI / 2.0 - azel[1];
  const double trph = 0.0022768 * pres / (1.0 - 0.00266 * std::cos(2.0 * pos[0]) - 0.00028 * hgt / 1E3) / std::cos(z);
  const double trpw = 0.002277 * (1255.0 / temp + 0.05) * e / std::cos(z);
  return trph + trpw;
}

namespace {

// Linear interpolation of a 5-entry table at latitudes 15, 30, 45, 60, 75 deg.
double interpc(const double* coef, double lat_deg) {
  const int i = static_cast<int>(lat_deg / 15.0);
  if (i < 1) return coef[0];
  if (i > 4) return coef[4];
  return coef[i - 1] * (1.0 - lat_deg / 15.0 + i) + coef[i] * (lat_deg / 15.0 - i);
}

// Continued fraction of the mapping functions (normalised to 1 at the zenith).
double mapf(double el, double a, double b, double c) {
  const double sinel = std::sin(el);
  return (1.0 + a / (1.0 + b / (1.0 + c))) / (sinel + (a / (sinel + b / (sinel + c))));
}

// Niell (1996) mapping functions: hydrostatic with its seasonal term and height
// correction, wet by latitude alone.
double nmf(gtime_t time, const double* pos, const double* azel, double* nmfw) {
  static constexpr double coef[9][5] = {
      {1.2769934E-3, 1.2683230E-3, 1.2465397E-3, 1.2196049E-3, 1.2045996E-3},  // hydrostatic a, b, c
      {2.9153695E-3, 2.9152299E-3, 2.9288445E-3, 2.9022565E-3, 2.9024912E-3},
      {62.610505E-3, 62.837393E-3, 63.721774E-3, 63.824265E-3, 64.258455E-3},
      {0.0, 1.2709626E-5, 2.6523662E-5, 3.4000452E-5, 4.1202191E-5},  // seasonal amplitudes
      {0.0, 2.1414979E-5, 3.0160779E-5, 7.2562722E-5, 11.723375E-5},
      {0.0, 9.0128400E-5, 4.3497037E-5, 84.795348E-5, 170.37206E-5},
      {5.8021897E-4, 5.6794847E-4, 5.8118019E-4, 5.9727542E-4, 6.1641693E-4},  // wet a, b, c
      {1.4275268E-3, 1.5138625E-3, 1.4572752E-3, 1.5007428E-3, 1.7599082E-3},
      {4.3472961E-2, 4.6729510E-2, 4.3908931E-2, 4.4626982E-2, 5.4736038E-2}};
  constexpr double aht[3] = {2.53E-5, 5.49E-3, 1.14E-3};  // height correction
  const double el = azel[1], lat = pos[0] * R2D, hgt = pos[2];
  if (el <= 0.0) {
    if (nmfw != nullptr) *nmfw = 0.0;
    return 0.0;
  }
  // day of year from 28 January, half a year later in the southern hemisphere
  const double y = (time2doy(time) - 28.0) / 365.25 + (lat < 0.0 ? 0.5 : 0.0);
  const double cosy = std::cos(2.0 * PI * y);
  const double alat = std::fabs(lat);
  double ah[3], aw[3];
  for (int i = 0; i < 3; ++i) {
    ah[i] = interpc(coef[i], alat) - interpc(coef[i + 3], alat) * cosy;
    aw[i] = interpc(coef[i + 6], alat);
  }
  const double dm = (1.0 / std::sin(el) - mapf(el, aht[0], aht[1], aht[2])) * hgt / 1E3;
  if (nmfw != nullptr) *nmfw = mapf(el, aw[0], aw[1], aw[2]);
  return mapf(el, ah[0], ah[1], ah[2]) + dm;
}

}  // namespace

double tropmapf(gtime_t time, const double* pos, const double* azel, double* mapfw) {
  if (pos[2] < -1000.0 || pos[2] > 20000.0) {
    if (mapfw != nullptr) *mapfw = 0.0;
    return 0.0;
  }
  return nmf(time, pos, azel, mapfw);
}

// ---------------------------------------------------------------------------
// Matrices.

double dot(const double* a, const double* b, int n) {
  double c = 0.0;
  for (int i = 0; i < n; ++i) c += a[i] * b[i];
  return c;
}

double norm(const double* a, int n) { return std::sqrt(dot(a, a, n)); }

void matcpy(double* A, const double* B, int n, int m) {
  std::memmove(A, B, sizeof(double) * static_cast<std::size_t>(n) * static_cast<std::size_t>(m));
}

void matmul(const char* tr, int n, int k, int m, double alpha, const double* A, const double* B, double beta,
            double* C) {
  // C (n x k) = alpha op(A) op(B) + beta C; op(A) is n x m, op(B) is m x k.
  // One loop nest per transposition so that the inner loop is a plain dot product.
  const bool ta = tr[0] == 'T', tb = tr[1] == 'T';
  for (int j = 0; j < k; ++j) {
    for (int i = 0; i < n; ++i) {
      double d = 0.0;
      if (!ta && !tb) {
        for (int x = 0; x < m; ++x) d += A[i + x * n] * B[x + j * m];
      } else if (!ta) {
        for (int x = 0; x < m; ++x) d += A[i + x * n] * B[j + x * k];
      } else if (!tb) {
        const double* a = A + i * m;
        const double* b = B + j * m;
        for (int x = 0; x < m; ++x) d += a[x] * b[x];
      } else {
        for (int x = 0; x < m; ++x) d += A[x + i * m] * B[j + x * k];
      }
      C[i + j * n] = beta == 0.0 ? alpha * d : alpha * d + beta * C[i + j * n];
    }
  }
}

int matinv(double* A, int n) {
  if (n <= 0 || n > MAXMAT) return -1;
  matcpy(Lu_work, A, n, n);
  if (ludcmp(Lu_work, n, Lu_index) != 0) return -1;
  for (int j = 0; j < n; ++j) {
    double* col = Inv_col + j * n;
    for (int i = 0; i < n; ++i) col[i] = i == j ? 1.0 : 0.0;
    lubksb(Lu_work, n, Lu_index, col);
  }
  matcpy(A, Inv_col, n, n);
  return 0;
}

int solve(const char* tr, const double* A, const double* Y, int n, int m, double* X) {
  static double B[MAXMAT * MAXMAT];
  if (n <= 0 || n > MAXMAT) return -1;
  matcpy(B, A, n, n);
  if (tr[0] == 'T') {
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) B[i + j * n] = A[j + i * n];
  }
  const int info = matinv(B, n);
  if (info == 0) matmul(tr[1] == 'T' ? "NT" : "NN", n, m, n, 1.0, B, Y, 0.0, X);
  return info;
}

int lsq(const double* A, const double* y, int n, int m, double* x, double* Q) {
  // A is n x m: column i holds the partial derivatives of measurement i.
  double Ay[MAXMAT];
  if (m < n || n > MAXMAT) return -1;
  matmul("NN", n, 1, m, 1.0, A, y, 0.0, Ay);
  matmul("NT", n, n, m, 1.0, A, A, 0.0, Q);
  const int info = matinv(Q, n);
  if (info == 0) matmul("NN", n, 1, n, 1.0, Q, Ay, 0.0, x);
  return info;
}

// ---------------------------------------------------------------------------
// Bit fields.

unsigned int getbitu(const unsigned char* buff, int pos, int len) {
  unsigned int bits = 0;
  for (int i = pos; i < pos + len; ++i) bits = (bits << 1) + ((buff[i / 8] >> (7 - i % 8)) & 1u);
  return bits;
}

int getbits(const unsigned char* buff, int pos, int len) {
  const unsigned int bits = getbitu(buff, pos, len);
  if (len <= 0 || 32 <= len || !(bits & (1u << (len - 1)))) return static_cast<int>(bits);
  return static_cast<int>(bits | (~0u << len));  // extend the sign
}

int getbitg(const unsigned char* buff, int pos, int len) {
  const int value = static_cast<int>(getbitu(buff, pos + 1, len - 1));
  return getbitu(buff, pos, 1) ? -value : value;
}

void setbitu(unsigned char* buff, int pos, int len, unsigned int data) {
  if (len <= 0 || 32 < len) return;
  unsigned int mask = 1u << (len - 1);
  for (int i = pos; i < pos + len; ++i, mask >>= 1) {
    if (data & mask)
      buff[i / 8] |= static_cast<unsigned char>(1u << (7 - i % 8));
    else
      buff[i / 8] &= static_cast<unsigned char>(~(1u << (7 - i % 8)));
  }
}

void setbits(unsigned char* buff, int pos, int len, int data) {
  setbitu(buff, pos, len, static_cast<unsigned int>(data));
}

unsigned int crc24q(const unsigned char* buff, int len) {
  unsigned int crc = 0;
  for (int i = 0; i < len; ++i) crc = ((crc << 8) & 0xFFFFFFu) ^ CRC24Q_TABLE[(crc >> 16) ^ buff[i]];
  return crc;
}
