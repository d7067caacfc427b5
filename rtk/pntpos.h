// Single-point positioning of the rover from its pseudoranges, with the
// residual and geometry checks and receiver autonomous integrity monitoring.
#pragma once

#include "rtk/rtk.h"
#include "rtk/rtk_cmn.h"

inline constexpr int PNT_NX = 7;  // position, GPS clock, GLONASS, Galileo, BeiDou clock offsets
inline constexpr int PNT_MAXITR = 10;
inline constexpr double PNT_ERR_CBIAS = 0.3;  // code measurement error, m (variance 0.09 m^2)

// Solves the rover position from n observations (at most MAXOBS are used;
// read only) by iterated weighted least squares, with RAIM (leaving out one
// satellite) when that fails and n >= 8. sol.rr (m, ECEF) gives the start and
// receives the position; sol also gets time, receiver clock biases dtr (s),
// covariance qr (m^2) and ns. azel (2 per observation: azimuth, elevation,
// rad) and ssat (MAXSAT entries: valid flag, azimuth/elevation, SNR, code
// residual m) may be null; msg (128 chars) may be null and receives the
// reason of a failure. Buffers owned by the caller.
// Returns 1 with sol.stat SOLQ_SINGLE (SOLQ_SBAS with the SBAS ephemeris option), else 0.
int pntpos(const obsd_t* obs, int n, const nav_t* nav, const prcopt_t* opt, sol_t* sol, double* azel, ssat_t* ssat,
           char* msg);

// 1 when satellite index sat with health svh (-1: no ephemeris) is excluded:
// no ephemeris, excluded by opt.exsats (1; 2 forces inclusion), system outside
// opt.navsys, or unhealthy (QZSS health bit 0 ignored). opt may be null.
int satexclude(int sat, int svh, const prcopt_t* opt);
// 1 when snr (dB-Hz) is below the mask of receiver base (0 rover, 1 base) at
// elevation el (rad), interpolated between the mask values at 5, 15, ..., 85
// degrees; 0 when the mask is disabled or freq is not 0.
int testsnr(int base, int freq, double el, double snr, const snrmask_t* mask);
double gettgd(int sat, const nav_t* nav);  // T_GD x c (m) of the first stored record of sat, else 0

// Copies the satellite positions/velocities rs (6 per observation, m, m/s),
// clocks dts (2: s, s/s), variances var (m^2) and health svh that the last
// pntpos call computed, when it was made on these n observations (same
// satellites, same epoch). Returns 1, or 0 (outputs untouched) otherwise.
// Buffers owned by the caller, sized for n observations.
int PNTPOS_get_sat_states(const obsd_t* obs, int n, double* rs, double* dts, double* var, int* svh);

// Count of RAIM failures (counted with olvo_apply_rtkinit_medium_in_rtk_reset_engine):
// cleared, and read into *cnt.
void PNTPOS_reset_chi_sqr_test_cnt();
void PNTPOS_get_chi_sqr_test_cnt(unsigned int* cnt);
