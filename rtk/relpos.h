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

// One relative-positioning cycle on sorted observations: nu rover, then nr base.
// 1 when a status other than none was reached.
int relpos(rtk_t* rtk, const obsd_t* obs, int nu, int nr, const nav_t* nav);

// Kalman measurement update of the states x (n) and covariance P (n x n) with
// m rows: design H (row i at H[i * n]), innovations v, covariance R (m x m).
// Only states with x != 0 and P_ii > 0 take part. 0 (x, P unchanged) when the
// innovation covariance cannot be inverted; 1 after the update.
int filter(double* x, double* P, const double* H, const double* v, const double* R, int n, int m);

int test_sys(int sys, int m);  // 1 when system bit sys belongs to group m
void initx(rtk_t* rtk, double xi, double var, int i);

// Double-difference transformation of the ambiguity states; sets ssat.fix.
// D (nx x (na + nb), may be null) and the state indexes of each double
// difference. Returns nb.
int ddmat(rtk_t* rtk, double* D, S16* master_sat_ndx, S16* slave_sat_ndx);
void generate_Qb_Qab(int nx, int na, int nb, const double* D, const double* P, const S16* master_sat_ndx,
                     const S16* slave_sat_ndx, double* Qb, double* Qab);
// Resolves the ambiguities; returns nb fixed (0: nothing). bias: nb integers;
// xa: the full restored state vector (nx).
int resamb_LAMBDA(rtk_t* rtk, double* bias, double* xa);
void restamb(rtk_t* rtk, const double* bias, int nb, double* xa);
void holdamb(rtk_t* rtk, const double* xa);

// Module state shared with the driver.
void RELPOS_init(const prcopt_t* opt);  // clears the relative-positioning bookkeeping
int RELPOS_is_fix_and_hold();
void RELPOS_clear_last_float();  // last float satellite set and ratio
void RELPOS_reset_error_ellipsoid();
int RELPOS_get_error_ellipsoid(F32* edop_sqr, F32* ndop_sqr, F32* vdop_sqr, F32* en_cov, F32* var_res);
void RELPOS_set_first(int first);
// Counters: cycle slips seen, ambiguity resets by outage, fix-and-hold updates.
struct RELPOS_COUNTS_T {
  unsigned long cs_cnt, init_x_cnt, fix_and_hold_cnt;
};
void RELPOS_get_counts(RELPOS_COUNTS_T* c);
int RELPOS_get_last_float_sats(int* sats);  // count, at most RTK_MAX_USED_SV
