// Broadcast orbits and clocks of GPS/QZSS, GLONASS and SBAS satellites.
#pragma once

#include "rtk/rtk_cmn.h"

// Ephemeris options of satpos().
enum : int {
  EPHOPT_BRDC = 0,  // broadcast ephemeris
  EPHOPT_SBAS = 2,  // SBAS satellites: broadcast GEO navigation message
};

inline constexpr int KEPLER_MAX_ITER = 30;  // Newton steps on Kepler's equation
inline constexpr double MAXDTOE = 7201.0;   // GPS/QZSS ephemeris validity, s
inline constexpr double MAXDTOE_GLO = 1800.0;
inline constexpr double MAXDTOE_SBS = 517.0;
inline constexpr double VAR_GLO_EPH = 25.0;    // m^2
inline constexpr double VAR_NO_CLOCK = 900.0;  // m^2, satellite without clock from its ephemeris

double var_uraeph(int ura);                             // variance (m^2) of a URA index
double satwavelen(int sat, int frq, const nav_t* nav);  // m; 0 if unknown

const eph_t* seleph(gtime_t time, int sat, int iode, const nav_t* nav);
const geph_t* selgeph(gtime_t time, int sat, int iode, const nav_t* nav);
const seph_t* selseph(gtime_t time, int sat, const nav_t* nav);

double eph2clk(gtime_t time, const eph_t* eph);
double geph2clk(gtime_t time, const geph_t* geph);
double seph2clk(gtime_t time, const seph_t* seph);
void eph2pos(gtime_t time, const eph_t* eph, double* rs, double* dts, double* var);
void geph2pos(gtime_t time, const geph_t* geph, double* rs, double* dts, double* var);
void seph2pos(gtime_t time, const seph_t* seph, double* rs, double* dts, double* var);
// One Runge-Kutta step of length t (s) of the GLONASS state x (pos, vel).
void glorbit(double t, double* x, const double* acc);

int ephclk(gtime_t time, gtime_t teph, int sat, const nav_t* nav, double* dts);
int ephpos(gtime_t time, gtime_t teph, int sat, const nav_t* nav, int iode, double* rs, double* dts, double* var,
           int* svh);
int satpos(gtime_t time, gtime_t teph, int sat, int ephopt, const nav_t* nav, double* rs, double* dts, double* var,
           int* svh);
// Positions (rs: 6 per observation), clocks (dts: 2), variances and health of
// the satellites of n observations (at most MAXOBS_CYCLE).
void satposs(gtime_t teph, const obsd_t* obs, int n, const nav_t* nav, int ephopt, double* rs, double* dts, double* var,
             int* svh);
