// Relative positioning: double-differenced L1 phase and code against a
// reference satellite per constellation group, an extended Kalman filter of
// rover position, velocity, acceleration and single-differenced ambiguities,
// and integer ambiguity resolution with fix-and-hold.
#pragma once

#include "rtk/rtk.h"

// Constellation groups of the double differences.
enum : int { RTK_GRP_GPS = 0, RTK_GRP_GLO = 1, RTK_GRP_GAL = 2, RTK_GRP_CMP = 3, RTK_NGRP = 4 };

inline constexpr int RTK_MAX_ROWS = MAXMAT;       // double-difference rows of one update at most
inline constexpr double RTK_VAR_HOLDAMB = 0.001;  // cycles^2, fix-and-hold pseudo-observations

// States of rtk->x (RTK_NX, column-major covariance rtk->P): position (m),
// velocity (m/s), acceleration (m/s^2) of the rover, ECEF, then one
// single-differenced (rover - base) L1 ambiguity per satellite index, cycles
// (RTK_NP + sat - 1); a state of exactly 0 is not initialised.

// One relative-positioning cycle: time update, double-difference measurement
// update, integer ambiguity resolution (with fix-and-hold) and the solution in
// rtk->sol. obs: nu rover then nr base observations (nu + nr <= MAXOBS_CYCLE),
// each part sorted by satellite index; read only. Returns 1 when a status other
// than none was reached (sol.stat SOLQ_FIX, SOLQ_FLOAT or SOLQ_DGPS), else 0.
// sol.ratio: the LAMBDA ratio of this cycle's validation (0 when none ran: too
// few double differences); with opt.integrity and held ambiguities, the ratio
// of the fixed residuals' chi-square, second-best candidate against the best
// (at most 999.9); 1 on a float below 1; 2.99 while a fix is delayed.
int relpos(rtk_t* rtk, const obsd_t* obs, int nu, int nr, const nav_t* nav);

// Kalman measurement update of the states x (n) and covariance P (n x n,
// column-major) with m rows (at most RTK_MAX_ROWS; n at most RTK_NX): design H
// (row i at H[i * n]), innovations v, covariance R (m x m). Only states with
// x != 0 and P_ii > 0 take part. Returns 0 (x, P unchanged) when m or n is out
// of range, no state takes part or the innovation covariance is not positive
// definite; 1 after the update. x and P updated in place; the rest read only.
int filter(double* x, double* P, const double* H, const double* v, const double* R, int n, int m);

// 1 when system bit sys belongs to double-difference group m (RTK_GRP_...;
// SBAS and QZSS go with GPS), else 0.
int test_sys(int sys, int m);
// State i of rtk set to xi with variance var; its other covariances cleared.
void initx(rtk_t* rtk, double xi, double var, int i);

// Double differences of the initialised ambiguity states, per group against
// the first eligible satellite (lock > 0, no half-cycle flag, elevation at
// least elmaskar; GLONASS only with glomodear). Sets ssat.fix (1 not eligible,
// 2 eligible, 0 without a state). master_sat_ndx, slave_sat_ndx (MAXSAT entries, caller's)
// receive the state indexes of each double difference. D (nx x (na + nb),
// caller's) may be null; else it receives the transformation from the states
// to (position block, double differences). Returns nb.
int ddmat(rtk_t* rtk, double* D, S16* master_sat_ndx, S16* slave_sat_ndx);
// Covariances of the nb double-differenced ambiguities: Qb (nb x nb, cycles^2)
// and with the na leading states Qab (na x nb), from P (nx x nx) and the state
// indexes of ddmat. D is not used (may be null). Outputs owned by the caller.
void generate_Qb_Qab(int nx, int na, int nb, const double* D, const double* P, const S16* master_sat_ndx,
                     const S16* slave_sat_ndx, double* Qb, double* Qab);
// Integer ambiguity resolution by LAMBDA with the ratio test (thresar[0]).
// Sets sol.ratio (second best / best squared norm, at most 999.9): a best
// candidate that fits exactly (squared norm 0, as on a zero baseline) with a
// worse second one reads 999.9 and passes; when the second one also fits
// (squared norm at most 1e-12) the ratio reads 0 and nothing is fixed. On a fix
// rtk->xa, rtk->Pa receive the fixed leading states, bias (MAXSAT entries,
// caller's) the nb integer double differences (cycles) and xa (RTK_NX,
// caller's) the full state vector with the fixed ambiguities restored.
// Returns nb, or 0 when nothing was fixed. With opt.integrity and held
// ambiguities, the second-best candidate is kept for the fixed-residual check,
// which then reports its own ratio in sol.ratio (see relpos).
int resamb_LAMBDA(rtk_t* rtk, double* bias, double* xa);
// xa (RTK_NX, caller's): the float states with the fixed leading states of
// rtk->xa, and the ambiguity of each eligible satellite (ssat.fix 2) set to
// its group reference minus the next of the nb integers bias (cycles).
void restamb(rtk_t* rtk, const double* bias, int nb, double* xa);
// Fix-and-hold: the fixed double differences of xa (RTK_NX, read only) of the
// satellites above elmaskhold become pseudo-observations of variance
// RTK_VAR_HOLDAMB for a measurement update of rtk->x, rtk->P; ssat.fix = 3.
void holdamb(rtk_t* rtk, const double* xa);

// Module state shared with the driver.
// Start of an engine cycle: spp_failed != 0 when the single-point solution
// failed and relpos runs from the filter's predicted position (the fix is then
// not compared with a single-point position).
void RELPOS_begin_cycle(int spp_failed);
// 1 when relpos ran its time update in this cycle (since RELPOS_begin_cycle).
int RELPOS_time_updated();
// 1 when the slip flags of satellite index sat (1..MAXSAT) were consumed by
// the time update of this cycle, else 0.
int RELPOS_slip_tested(int sat);
// One epoch without a relative update: the outage count (epochs) of every
// satellite of rtk advances.
void RELPOS_count_outage(rtk_t* rtk);
void RELPOS_init(const prcopt_t* opt);  // clears the relative-positioning bookkeeping and counters
int RELPOS_is_fix_and_hold();           // 1 after fix-and-hold with olvo_remove_sbas_after_entering_fix_and_hold
void RELPOS_clear_last_float();         // forgets the last float satellite set and ratio
void RELPOS_reset_error_ellipsoid();    // no error ellipsoid until the next update
// Error ellipsoid of the last update: east, north and vertical DOP squared and
// the east-north term of the geometry (H^T H)^-1 in east-north-up (unitless),
// and the normalised residual variance var_res (sum v^2 / R_ii over the rows,
// divided by their count). Outputs owned by the caller. Returns 1, or 0 when
// no residual variance is available (fewer than 4 rows or none computed yet).
int RELPOS_get_error_ellipsoid(F32* edop_sqr, F32* ndop_sqr, F32* vdop_sqr, F32* en_cov, F32* var_res);
// first != 0: the next cycle is the first (with olvo_init_state_and_its_cov_by_wls
// the reference rows then get variance 1e-8).
void RELPOS_set_first(int first);
// Counters: cycle slips seen, ambiguity resets by outage, fix-and-hold
// updates; with opt.integrity also: restarts after a failed chi-square test of
// the innovations, double-difference rows dropped by the per-row innovation
// test, fixes refused by the fixed-solution check, and held ambiguities
// released because of such a refusal, and restarts after a failed chi-square
// test of the post-fit residuals of the float update, and restarts from the
// single-point solution when the filter's prediction lay more than 10 m from it.
struct RELPOS_COUNTS_T {
  unsigned long cs_cnt, init_x_cnt, fix_and_hold_cnt;
  unsigned long chi2_restart_cnt, outlier_cnt, fix_refused_cnt, fix_released_cnt;
  unsigned long postfit_restart_cnt, spp_restart_cnt;
};
void RELPOS_get_counts(RELPOS_COUNTS_T* c);  // c owned by the caller
// Variance (m^2) that satellite system sys (SYS_ bit) at elevation el (rad)
// contributes on its own to the diagonal of a double difference: phase f = 0
// or code f = 1, baseline bl (m), base age age (rover minus base time, s);
// the age adds RTK_RAW_base_age_variance(age) once |age| exceeds 0.1 s. opt read only.
double RELPOS_dd_sat_variance(int sys, double el, double bl, double age, int f, const prcopt_t* opt);
// Satellite indexes of the last float solution into sats (RTK_MAX_USED_SV
// entries, caller's). Returns their count, at most RTK_MAX_USED_SV.
int RELPOS_get_last_float_sats(int* sats);
