// Single-point positioning of the rover from its pseudoranges, with the
// residual and geometry checks and receiver autonomous integrity monitoring.
#pragma once

#include "rtk/rtk.h"
#include "rtk/rtk_cmn.h"

inline constexpr int PNT_NX = 7;  // position, GPS clock, GLONASS, Galileo, BeiDou clock offsets
inline constexpr int PNT_MAXITR = 10;
inline constexpr double PNT_ERR_CBIAS = 0.3;  // code measurement error, m (variance 0.09 m^2)

// Solves the rover position from n observations (at most MAXOBS are used).
// sol.rr gives the start; azel (2 per observation) and ssat (MAXSAT) may be null.
// Returns 1 with sol.stat SOLQ_SINGLE (SOLQ_SBAS with the SBAS ephemeris option), else 0.
int pntpos(const obsd_t* obs, int n, const nav_t* nav, const prcopt_t* opt, sol_t* sol, double* azel, ssat_t* ssat,
           char* msg);

int satexclude(int sat, int svh, const prcopt_t* opt);
int testsnr(int base, int freq, double el, double snr, const snrmask_t* mask);
double gettgd(int sat, const nav_t* nav);  // T_GD x c, m

// Satellite positions, clocks, variances and health of the last pntpos call,
// when it was made on these n observations (same satellites, same epoch); else 0.
int PNTPOS_get_sat_states(const obsd_t* obs, int n, double* rs, double* dts, double* var, int* svh);

void PNTPOS_reset_chi_sqr_test_cnt();
void PNTPOS_get_chi_sqr_test_cnt(unsigned int* cnt);
