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

// Variance (m^2) of a URA index: the square of its URA value (2.4 .. 6144 m);
// 6144^2 for an index outside 0..14.
double var_uraeph(int ura);
// Carrier wavelength (m) of satellite index sat on frequency slot frq (0 = L1/G1/B1).
// GLONASS uses the frequency number of the stored ephemeris in nav (may be null
// for the other systems). Returns 0 when unknown (no system, slot out of range,
// GLONASS frequency number not yet known).
double satwavelen(int sat, int frq, const nav_t* nav);

// Ephemeris of satellite index sat for time, from the store nav. With iode >= 0
// the first record of that IODE within the validity window; with iode < 0 the
// record nearest in time (the later stored one on a tie). Returns a pointer into nav (owned by the caller's
// store), or null when none is within MAXDTOE (GPS/QZSS), MAXDTOE_GLO
// (GLONASS) or MAXDTOE_SBS (SBAS, nearest t0; no IODE).
const eph_t* seleph(gtime_t time, int sat, int iode, const nav_t* nav);
const geph_t* selgeph(gtime_t time, int sat, int iode, const nav_t* nav);
const seph_t* selseph(gtime_t time, int sat, const nav_t* nav);

// Satellite clock bias (s) at time (satellite time of transmission) from one
// record: polynomial about toc (GPS/QZSS), -taun + gamn t (GLONASS), af0 + af1 t
// (SBAS), with the time argument corrected twice by the clock itself.
double eph2clk(gtime_t time, const eph_t* eph);
double geph2clk(gtime_t time, const geph_t* geph);
double seph2clk(gtime_t time, const seph_t* seph);
// Satellite position at time from one record. rs: 3 doubles, ECEF m (PZ-90 as
// WGS-84 for GLONASS); dts: 1 double, clock bias s (GPS/QZSS with the
// relativistic term); var: 1 double, m^2 (URA variance, VAR_GLO_EPH for
// GLONASS). A GPS/QZSS record with A <= 0 gives zeros. Buffers owned by the caller.
void eph2pos(gtime_t time, const eph_t* eph, double* rs, double* dts, double* var);
// As eph2pos with the velocity in rs[3..5] (ECEF m/s) and the clock drift in
// dts[1] (s/s), from the time derivatives of the orbit and clock terms; the
// position and clock are those of eph2pos to the bit. rs: 6 doubles, dts: 2.
void eph2posvel(gtime_t time, const eph_t* eph, double* rs, double* dts, double* var);
void geph2pos(gtime_t time, const geph_t* geph, double* rs, double* dts, double* var);
void seph2pos(gtime_t time, const seph_t* seph, double* rs, double* dts, double* var);
// One fourth-order Runge-Kutta step of length t (s) of the GLONASS state x
// (6 doubles: position m, velocity m/s, PZ-90 ECEF; updated in place) with the
// broadcast lunisolar acceleration acc (3 doubles, m/s^2).
void glorbit(double t, double* x, const double* acc);

// Clock bias *dts (s) of satellite index sat at time, with the record selected
// for teph (nearest record). Returns 1, or 0 (dts untouched) without a record
// or for a system without broadcast orbits.
int ephclk(gtime_t time, gtime_t teph, int sat, const nav_t* nav, double* dts);
// Position and velocity rs (6 doubles: m, m/s, ECEF), clock bias and drift dts
// (2 doubles: s, s/s), variance *var (m^2) and health *svh of satellite index
// sat at time, from the record selected for teph with IODE iode (-1: nearest).
// GPS/QZSS velocity and drift come from the orbit's time derivatives, the
// other systems' from differences over 1 ms. Returns 1, or 0 without a
// record (*svh = -1). Buffers owned by the caller.
int ephpos(gtime_t time, gtime_t teph, int sat, const nav_t* nav, int iode, double* rs, double* dts, double* var,
           int* svh);
// As ephpos with the ephemeris option ephopt (EPHOPT_BRDC, or EPHOPT_SBAS for
// SBAS satellites). Returns 1, or 0 on failure; any other option gives *svh = -1.
int satpos(gtime_t time, gtime_t teph, int sat, int ephopt, const nav_t* nav, double* rs, double* dts, double* var,
           int* svh);
// Positions and velocities (rs: 6 per observation, m and m/s), clocks and
// drifts (dts: 2 per observation, s and s/s), variances (var: m^2) and health
// (svh) of the satellites of n observations (at most MAXOBS_CYCLE), at their
// transmission times (receiver time - P / c - satellite clock); records
// selected for teph. An observation without pseudorange or record keeps zeros.
// A position without a clock takes the clock from ephclk with variance
// VAR_NO_CLOCK. Buffers owned by the caller, sized for n observations.
void satposs(gtime_t teph, const obsd_t* obs, int n, const nav_t* nav, int ephopt, double* rs, double* dts, double* var,
             int* svh);
