// RTK engine driver: initialisation, engine cycle and solution record.
#pragma once

#include "rtk/rtk_cmn.h"

// Solution status values of sol_t::stat.
enum : unsigned char {
  SOLQ_NONE = 0,
  SOLQ_FIX = 1,
  SOLQ_FLOAT = 2,
  SOLQ_SBAS = 3,
  SOLQ_DGPS = 4,
  SOLQ_SINGLE = 5,
};

struct sol_t {
  gtime_t time;          // solution time (GPS time)
  double rr[6];          // rover position (m) and velocity (m/s), ECEF
  double pnt_rr_dif[6];  // change from the previous solution to the new single-point position
  float qr[6];           // position variances and covariances, m^2
  double dtr[6];         // receiver clock offsets of the single-point solution, s
  unsigned char type;
  unsigned char stat;      // SOLQ_...
  unsigned char ns;        // satellites used
  float age;               // age of the base data, s
  float ratio;             // ambiguity validation ratio
  int ref_sat_number[4];   // reference satellite of each double-difference group
  gtime_t r_time, b_time;  // rover and base epoch times of the cycle
  unsigned char cont_pntpos_cnt;
};

// Filter dimensions: 9 kinematic states (position, velocity, acceleration)
// and one single-differenced L1 ambiguity per satellite index.
inline constexpr int RTK_NP = 9;
inline constexpr int RTK_NX = RTK_NP + MAXSAT;  // 85
inline constexpr int RTK_MAX_USED_SV = 20;      // remembered satellites of the last float solution

// Ambiguity control of one satellite.
struct ambc_t {
  gtime_t epoch[4];
  int fixcnt;
  double n[4], LC[4], LCv[4];
};

// Relative positioning filter. Matrices are column-major: P[i + j * RTK_NX].
struct rtk_t {
  sol_t sol;
  double rb[6];  // base position and velocity, ECEF
  int nx, na;
  double tt;  // time since the previous solution, s
  double x[RTK_NX], P[RTK_NX * RTK_NX];
  double xa[RTK_NP], Pa[RTK_NP * RTK_NP];
  int nfix;  // consecutive fixed cycles
  ambc_t ambc[MAXSAT];
  ssat_t ssat[MAXSAT];
  int neb;
  prcopt_t opt;
};

void RTK_init(int navsys, int snr_mask, int geosnr_mask, int elv_mask, int is_rinex, int* exsats_p);
void RTK_init_medium();
void RTK_init_small();
int RTK_loop();
int RTK_get_solution(sol_t* sol_p);
double RTK_get_baseline();
void RTK_get_rover_meas_time_info(U16* wn, U32* tow_in_ms, U16* meas_period_in_ms);
void RTK_RAW_print_status();
void RTK_print_solution();
void RTK_reset_engine_tick(int method_flag);
void RTK_get_reset_count_for_debug(long unsigned int* cont_no_fix_count_p, long unsigned int* total_reset_count_p,
                                   long unsigned int* total_full_reset_count_p);
void GLOSDIFB_reset_glo_sd_ifb();

// Navigation data store: broadcast ephemerides delivered by the stream readers.
// Each returns 1 when the record was stored, 0 for a duplicate or an invalid record.
int RTK_input_eph(const eph_t* eph);
int RTK_input_geph(const geph_t* geph);
int RTK_input_seph(const seph_t* seph);
int RTK_set_glonass_freq_num(U08 slot_num, S08 k_num);
// Broadcast Klobuchar parameters (alpha0..3, beta0..3), used in place of the
// built-in ones; 0 for values that cannot be parameters.
int RTK_input_ion(const double* ion);
// Clears the store and sets the configured navigation systems (SYS_ bits).
void RTK_NAV_init(int navsys);
const nav_t* RTK_get_nav();
int RTK_get_navsys();

int RTK_get_positioning_mode();
int RTK_get_olvo_calibrate_GLO_SD_IFB_flag();
void RTK_get_constraint_baseline_info(D64* baseline_info);
// Count, then the numbers 33..51 of at most 5 SBAS satellites in use.
void RTK_get_used_sbas_svid(U08* used_sbas_info);
double RTK_get_solution_speed_km_per_hour();
int RTK_get_error_ellipsoid_needed_info(F32* edop_sqr, F32* ndop_sqr, F32* vdop_sqr, F32* en_cov, F32* var_residual);
int RTK_get_base_stream_type();
// Read-only view of the filter (tests and diagnostics).
const rtk_t* RTK_get_rtk();
