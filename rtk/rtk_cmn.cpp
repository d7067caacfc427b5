#include "rtk/rtk_cmn.h"

#include <cmath>

namespace {

constexpr double RE_WGS84 = 6378137.0;                 // semi-major axis, m
constexpr double FE_WGS84 = 1.0 / 298.257223563;       // flattening
constexpr double E2_WGS84 = FE_WGS84 * (2.0 - FE_WGS84);  // first eccentricity squared
constexpr double GPST0[6] = {1980, 1, 6, 0, 0, 0};     // GPS time origin

S16 Leap_seconds = 18;  // GPS - UTC, s

}  // namespace

gtime_t epoch2time(const double* ep) {
  static constexpr int doy[] = {1, 32, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335};
  gtime_t t{0.0, 0.0};
  const int year = static_cast<int>(ep[0]), mon = static_cast<int>(ep[1]), day = static_cast<int>(ep[2]);
  if (year < 1970 || year > 2099 || mon < 1 || mon > 12) return t;
  // leap year if year % 4 == 0 in 1901-2099
  const int days = (year - 1970) * 365 + (year - 1969) / 4 + doy[mon - 1] + day - 2 + (year % 4 == 0 && mon >= 3 ? 1 : 0);
  const double sec = std::floor(ep[5]);
  t.time = static_cast<double>(days) * 86400.0 + static_cast<int>(ep[3]) * 3600.0 + static_cast<int>(ep[4]) * 60.0 + sec;
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
  const long long doe = z - era * 146097;                                // [0, 146096]
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);          // [0, 365]
  const long long mp = (5 * doy + 2) / 153;                              // [0, 11], March first
  const long long d = doy - (153 * mp + 2) / 5 + 1;
  const long long m = mp < 10 ? mp + 3 : mp - 9;
  ep[0] = static_cast<double>(yoe + era * 400 + (m <= 2 ? 1 : 0));
  ep[1] = static_cast<double>(m);
  ep[2] = static_cast<double>(d);
  ep[3] = static_cast<double>(sec / 3600);
  ep[4] = static_cast<double>(sec % 3600 / 60);
  ep[5] = static_cast<double>(sec % 60) + t.sec;
}

gtime_t gpst2time(int week, double sec) {
  gtime_t t = epoch2time(GPST0);
  if (sec < -1e9 || 1e9 < sec) sec = 0.0;
  t.time += 86400.0 * 7.0 * week + std::floor(sec);
  t.sec = sec - std::floor(sec);
  return t;
}

double time2gpst(gtime_t t, int* week) {
  const gtime_t t0 = epoch2time(GPST0);
  const double sec = t.time - t0.time;
  const int w = static_cast<int>(std::floor(sec / (86400.0 * 7.0)));
  if (week != nullptr) *week = w;
  return sec - static_cast<double>(w) * 86400.0 * 7.0 + t.sec;
}

gtime_t timeadd(gtime_t t, double sec) {
  t.sec += sec;
  const double tt = std::floor(t.sec);
  t.time += tt;
  t.sec -= tt;
  return t;
}

double timediff(gtime_t t1, gtime_t t2) { return (t1.time - t2.time) + (t1.sec - t2.sec); }

gtime_t gpst2utc(gtime_t t) { return timeadd(t, -static_cast<double>(Leap_seconds)); }
gtime_t utc2gpst(gtime_t t) { return timeadd(t, static_cast<double>(Leap_seconds)); }
void RTKCMN_set_leap_second(S16 leap_sec) { Leap_seconds = leap_sec; }
S16 RTKCMN_get_leap_second() { return Leap_seconds; }

void ecef2pos(const double* r, double* pos) {
  const double r2 = r[0] * r[0] + r[1] * r[1];
  double z = r[2], zk = 0.0, v = RE_WGS84, sinp = 0.0;
  for (int i = 0; i < 100 && std::fabs(z - zk) >= 1e-4; ++i) {
    zk = z;
    sinp = z / std::sqrt(r2 + z * z);
    v = RE_WGS84 / std::sqrt(1.0 - E2_WGS84 * sinp * sinp);
    z = r[2] + v * E2_WGS84 * sinp;
  }
  pos[0] = r2 > 1e-12 ? std::atan(z / std::sqrt(r2)) : (r[2] > 0.0 ? M_PI / 2.0 : -M_PI / 2.0);
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
