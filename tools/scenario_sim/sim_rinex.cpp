// RINEX 3.04 writer of the simulator: the same rover and base observables and
// GPS ephemerides as the CRVRAW streams, as observation and navigation text.
// Written from the RINEX 3.04 tables on its own, without the engine's reader.
#include <cmath>
#include <cstdio>
#include <string>

#include "tools/scenario_sim/sim.h"

namespace {

// Calendar date of GPS time (no leap seconds: RINEX time system GPS).
void gps_calendar(SIM_TIME_T t, int* y, int* mo, int* d, int* h, int* mi, double* s) {
  double tow = t.tow;
  int week = t.week;
  while (tow >= 604800.0) {
    tow -= 604800.0;
    ++week;
  }
  const double day_sec = std::floor(tow / 86400.0);
  long days = 3657L + 7L * week + static_cast<long>(day_sec);  // days from 1970-01-01 (GPS epoch is day 3657)
  double sod = tow - day_sec * 86400.0;
  // days to civil date (proleptic Gregorian)
  days += 719468;
  const long era = (days >= 0 ? days : days - 146096) / 146097;
  const long doe = days - era * 146097;
  const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *mo = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(yoe + era * 400 + (*mo <= 2 ? 1 : 0));
  *h = static_cast<int>(sod / 3600.0);
  sod -= *h * 3600.0;
  *mi = static_cast<int>(sod / 60.0);
  *s = sod - *mi * 60.0;
}

void line(std::string* out, const char* text, const char* label) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%-60.60s%-20s\n", text, label);
  *out += buf;
}

// "D" exponent as the navigation files write it: 19 columns.
void nav_value(std::string* out, double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%19.12E", v);
  for (char* p = buf; *p != '\0'; ++p)
    if (*p == 'E') *p = 'D';
  *out += buf;
}

constexpr double URA_M[16] = {2.4,  3.4,   4.85,  6.85,  9.65,   13.65,  24.0,   48.0,
                              96.0, 192.0, 384.0, 768.0, 1536.0, 3072.0, 6144.0, 6144.0};

}  // namespace

void sim_rinex_obs_header(std::string* out, const double* approx_pos, double interval, SIM_TIME_T first) {
  char b[96];
  line(out, "     3.04           OBSERVATION DATA    G: GPS", "RINEX VERSION / TYPE");
  line(out, "scenario_sim", "PGM / RUN BY / DATE");
  line(out, "SIM", "MARKER NAME");
  std::snprintf(b, sizeof b, "%14.4f%14.4f%14.4f", approx_pos[0], approx_pos[1], approx_pos[2]);
  line(out, b, "APPROX POSITION XYZ");
  line(out, "        0.0000        0.0000        0.0000", "ANTENNA: DELTA H/E/N");
  line(out, "G    4 C1C L1C D1C S1C", "SYS / # / OBS TYPES");
  std::snprintf(b, sizeof b, "%10.3f", interval);
  line(out, b, "INTERVAL");
  int y, mo, d, h, mi;
  double s;
  gps_calendar(first, &y, &mo, &d, &h, &mi, &s);
  std::snprintf(b, sizeof b, "  %4d    %2d    %2d    %2d    %2d   %10.7f     GPS", y, mo, d, h, mi, s);
  line(out, b, "TIME OF FIRST OBS");
  line(out, "", "END OF HEADER");
}

void sim_rinex_obs_epoch(std::string* out, SIM_TIME_T t, const SIM_OBS_T* obs, int n) {
  int nsat = 0;
  for (int i = 0; i < n; ++i)
    if (obs[i].gnss == 0 && !(obs[i].ind & 0x20u)) ++nsat;
  int y, mo, d, h, mi;
  double s;
  gps_calendar(t, &y, &mo, &d, &h, &mi, &s);
  char b[160];
  std::snprintf(b, sizeof b, "> %4d %02d %02d %02d %02d%11.7f  0%3d\n", y, mo, d, h, mi, s, nsat);
  *out += b;
  for (int i = 0; i < n; ++i) {
    const SIM_OBS_T& o = obs[i];
    if (o.gnss != 0 || (o.ind & 0x20u)) continue;
    const char lli = (o.ind & 8u) ? '1' : ' ';
    std::snprintf(b, sizeof b, "G%02d%14.3f  %14.3f%c %14.3f  %14.3f  \n", o.sv, o.pr, o.cp, lli,
                  static_cast<double>(o.dop), static_cast<double>(o.cn0));
    *out += b;
  }
}

void sim_rinex_nav_header(std::string* out) {
  line(out, "     3.04           N: GNSS NAV DATA    G: GPS", "RINEX VERSION / TYPE");
  line(out, "scenario_sim", "PGM / RUN BY / DATE");
  // the Klobuchar coefficients the simulator's ionosphere uses
  line(out, "GPSA   1.1180E-08 -7.4510E-09 -5.9610E-08  1.1920E-07", "IONOSPHERIC CORR");
  line(out, "GPSB   1.1670E+05 -2.2940E+05 -1.3110E+05  1.0490E+06", "IONOSPHERIC CORR");
  line(out, "", "END OF HEADER");
}

void sim_rinex_nav_gps(std::string* out, const SIM_GPS_EPH_T* eph) {
  SIM_GPS_EPH_VAL_T v;
  sim_gps_eph_values(eph, &v);
  // toc as a date: the week of toe, with the toc second of week
  int y, mo, d, h, mi;
  double s;
  double dtw = v.toc - v.toes;
  int week = eph->week;
  if (dtw > 302400.0)
    --week;
  else if (dtw < -302400.0)
    ++week;
  gps_calendar(SIM_TIME_T{week, v.toc}, &y, &mo, &d, &h, &mi, &s);
  char b[64];
  std::snprintf(b, sizeof b, "G%02d %4d %02d %02d %02d %02d %02d", eph->prn, y, mo, d, h, mi, static_cast<int>(s));
  *out += b;
  const double vals[] = {v.af0,
                         v.af1,
                         v.af2,
                         static_cast<double>(eph->iode),
                         v.crs,
                         v.deln,
                         v.M0,
                         v.cuc,
                         v.e,
                         v.cus,
                         v.sqrtA,
                         v.toes,
                         v.cic,
                         v.OMG0,
                         v.cis,
                         v.i0,
                         v.crc,
                         v.omg,
                         v.OMGd,
                         v.idot,
                         static_cast<double>(eph->l2code),
                         static_cast<double>(eph->week),
                         static_cast<double>(eph->l2p),
                         URA_M[eph->ura & 15],
                         static_cast<double>(eph->health),
                         v.tgd,
                         static_cast<double>(eph->iodc),
                         v.toes,
                         eph->fit_flag ? 6.0 : 4.0,
                         0.0,
                         0.0};
  for (int i = 0; i < 3; ++i) nav_value(out, vals[i]);
  *out += "\n";
  for (int l = 0; l < 7; ++l) {
    *out += "    ";
    const int nvals = l == 6 ? 2 : 4;
    for (int j = 0; j < nvals; ++j) nav_value(out, vals[3 + l * 4 + j]);
    *out += "\n";
  }
}
