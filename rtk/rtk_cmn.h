// RTK engine common library: time, coordinates and other shared routines.
#pragma once

#include "misc/gnss_types.h"

// Time: whole seconds since 1970-01-01 00:00:00 (integral, kept in a double)
// plus the fraction of a second.
struct gtime_t {
  double time;
  double sec;
};

gtime_t epoch2time(const double* ep);          // {year, month, day, hour, min, sec} -> time
void time2epoch(gtime_t t, double* ep);        // time -> {year, month, day, hour, min, sec}
gtime_t gpst2time(int week, double sec);       // GPS week and time of week -> time
double time2gpst(gtime_t t, int* week);        // time -> time of week (and week)
gtime_t timeadd(gtime_t t, double sec);
double timediff(gtime_t t1, gtime_t t2);       // t1 - t2, s
gtime_t gpst2utc(gtime_t t);                   // GPS time -> UTC (leap seconds)
gtime_t utc2gpst(gtime_t t);
void RTKCMN_set_leap_second(S16 leap_sec);
S16 RTKCMN_get_leap_second();

// WGS-84 ECEF (m) -> latitude, longitude (rad) and ellipsoidal height (m).
void ecef2pos(const double* r, double* pos);
void pos2ecef(const double* pos, double* r);
