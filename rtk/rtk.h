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
  gtime_t time;                   // solution time (GPS time)
  double rr[6];                   // rover position (m) and velocity (m/s), ECEF
  double pnt_rr_dif[6];           // new single-point position minus the previous solution, ECEF m (0..2; 3..5 are 0)
  float qr[6];                    // position variances and covariances, m^2
  double dtr[6];                  // receiver clock offsets of the single-point solution, s
  unsigned char type;             // 0: position solution
  unsigned char stat;             // SOLQ_...
  unsigned char ns;               // satellites used
  float age;                      // age of the base data, s
  float ratio;                    // ambiguity validation ratio
  int ref_sat_number[4];          // reference satellite of each double-difference group
  gtime_t r_time, b_time;         // rover and base epoch times of the cycle
  unsigned char cont_pntpos_cnt;  // consecutive successful single-point solutions, at most 100
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
  double rb[6];  // base position (m) and velocity (m/s), ECEF
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

// ---------------------------------------------------------------------------
// Engine.

// Full initialisation: the stream readers (CRVRAW, RTCM 3, RINEX), the raw
// buffers, the processing options (RTK_CFG_get with these arguments), the
// filter, the navigation data store and the engine's bookkeeping.
//   navsys       systems to use, SYS_ bits (SBAS is added by the defaults)
//   snr_mask     C/N0 mask, dB-Hz
//   geosnr_mask  C/N0 mask of SBAS and BeiDou GEO satellites, dB-Hz
//   elv_mask     elevation mask, deg
//   is_rinex     non-zero: the navigation store starts empty and grows with the
//                RINEX records; 0: it holds every GPS/QZSS, GLONASS and SBAS entry
//   exsats_p     count, then that many satellite indexes (1..MAXSAT) to exclude;
//                may be null. Read during the call only; the caller keeps it.
void RTK_init(int navsys, int snr_mask, int geosnr_mask, int elv_mask, int is_rinex, int* exsats_p);
// The two reset levels of the filter. Small: states, covariances, ambiguity
// control and satellite status cleared, the solution record kept. Medium: the
// same and the solution record cleared. Options and base position stay.
void RTK_init_medium();
void RTK_init_small();
// One engine cycle: first, when a stream's time went back since the last cycle
// (RTK_RAW_take_time_back), the filter and the solution record start again
// (as RTK_init_medium, plus the jump-test history, the last float set and the
// GLONASS inter-frequency biases). Then it takes the rover epoch (and the
// latest base epoch) from the raw buffers, screens the satellites (C/N0 and elevation masks, code-minus-
// carrier jumps, SBAS rules), then single-point and relative positioning.
// Returns 1 when a rover epoch was processed; the solution record is then
// current, whatever its status (a failed single-point solution, no base
// position or base data older than maxtdiff leave it without a new relative
// solution). Returns 0 without a rover epoch, when moving-base epochs do not
// match, with an RTCM 3 base in moving-base mode, or when no satellite passes
// the screening.
int RTK_loop();
// Copies the solution record into *sol_p (the caller's). Returns 1.
int RTK_get_solution(sol_t* sol_p);
// Distance from the base to the rover position, m; 0 unless the solution is
// fixed, float or single point.
double RTK_get_baseline();
// Time of the oldest unread solved rover epoch: GPS week, time of week in ms
// (truncated), and the epoch's meas_period_in_ms (the measurement period in
// ms, or for extended raw epochs the RTK_GEOTAGGING... epoch type). Each call
// reads the next of four entries; RTK_loop writes one per call that returns 1.
// An entry never written gives week 3000.
void RTK_get_rover_meas_time_info(U16* wn, U32* tow_in_ms, U16* meas_period_in_ms);
// Does nothing (kept for the host's status output).
void RTK_print_solution();
// Automatic reset of a filter that does not fix; call once after every cycle
// that returned 1. Nothing in float-only mode. A fix clears the no-fix count,
// any other status adds one. method_flag selects the rule (other values: only
// the chi-square and long-float rules of the medium option apply):
//   1  reset (small) after 120 cycles without a fix with 8 or more satellites, else 180
//   2  as 1, but a float solution with a ratio above 2.5 / 2.0 / 1.5 (the last
//      with fewer than 8 satellites) wins 30 / 15 / 5 cycles back; a reset is
//      medium when the single-point solution failed its chi-square test since
//      the last one (medium option)
//   3  reset (small) after 120 cycles plus 10 per whole km of baseline
// With olvo_apply_rtkinit_medium_in_rtk_reset_engine, a float solution with a
// ratio below 2 is also reset (medium) after more than 3 chi-square failures,
// or after 360 cycles without a fix (900 with 7 or fewer satellites) on a
// baseline under 10 km (there a ratio above 1.5 with fewer than 8 satellites
// wins 5 cycles back instead).
void RTK_reset_engine_tick(int method_flag);
// Counters of RTK_reset_engine_tick: consecutive cycles without a fix, resets
// of any level, medium (full) resets. Each pointer receives one value.
void RTK_get_reset_count_for_debug(long unsigned int* cont_no_fix_count_p, long unsigned int* total_reset_count_p,
                                   long unsigned int* total_full_reset_count_p);
// Clears the GLONASS single-difference inter-frequency bias calibration
// (declared in rtk/glo_sd_ifb.h; also here for the callers of the engine).
void GLOSDIFB_reset_glo_sd_ifb();

// ---------------------------------------------------------------------------
// Navigation data store: broadcast ephemerides delivered by the stream readers.
// The records are copied; the caller keeps its own.

// GPS or QZSS ephemeris, stored at its satellite index. Returns 1 when stored,
// 0 for another system or a duplicate (same IODE, IODC, toe and toc as the
// stored record).
int RTK_input_eph(const eph_t* eph);
// GLONASS ephemeris, stored at its slot. Returns 1 when stored, 0 for another
// system or the IODE (tb) of the stored record. A frequency number already
// known (-7..6) is kept; the record's own is used only when valid.
int RTK_input_geph(const geph_t* geph);
// SBAS ephemeris, stored at its number 33..51. Returns 1 when stored, 0 for
// another system or a t0 within 1 ms of the stored record's.
int RTK_input_seph(const seph_t* seph);
// GLONASS frequency number k_num (-7..6) of slot slot_num (1..24); the slot's
// L1 wavelength follows. Returns 1 when set, 0 for a slot or number out of
// range or a slot whose frequency number is already known (never replaced).
int RTK_set_glonass_freq_num(U08 slot_num, S08 k_num);
// Broadcast Klobuchar parameters, 8 values: alpha0..3 (s, s/semicircle,
// s/semicircle^2, s/semicircle^3) and beta0..3 (s, s/semicircle, ...), used in
// place of the built-in ones. Returns 1 when stored; 0, nothing stored, when a
// value is not finite or larger than 1e8 in magnitude.
int RTK_input_ion(const double* ion);
// Clears the store and sets the configured navigation systems (SYS_ bits):
// every record unset (IODE -1, GLONASS frequency number unknown), table sizes
// 33 GPS/QZSS, 19 SBAS, 24 GLONASS.
void RTK_NAV_init(int navsys);
// The engine's store, read-only; the pointer stays valid for the program's life.
const nav_t* RTK_get_nav();
// Systems configured by the last RTK_NAV_init (SYS_ bits).
int RTK_get_navsys();

// ---------------------------------------------------------------------------
// Getters for the host program.

// Positioning mode of the options: 2 kinematic, 4 moving base.
int RTK_get_positioning_mode();
// The GLONASS inter-frequency bias calibration option (non-zero: on).
int RTK_get_olvo_calibrate_GLO_SD_IFB_flag();
// Baseline constraint of moving-base mode into baseline_info[0..1] (the
// caller's): length and its sigma, m; 0, 0 without a constraint.
void RTK_get_constraint_baseline_info(D64* baseline_info);
// Into used_sbas_info (the caller's, 6 bytes): the count, then the numbers
// 33..51 of at most 5 SBAS satellites marked valid by the last solution.
void RTK_get_used_sbas_svid(U08* used_sbas_info);
// Speed of the solution, km/h (norm of the ECEF velocity x 3.6).
double RTK_get_solution_speed_km_per_hour();
// Error-ellipsoid inputs of the last relative solution: squared east, north
// and vertical DOPs, the east-north cofactor (all dimensionless) and the mean
// normalised squared residual. Returns 1, or 0 while no residual variance is
// available (fewer than 4 double differences, or a reset); the values are
// copied either way.
int RTK_get_error_ellipsoid_needed_info(F32* edop_sqr, F32* ndop_sqr, F32* vdop_sqr, F32* en_cov, F32* var_residual);
// Format of the base stream: 0 not known yet, 1 RTCM 3 (more than 5 frames
// with a good CRC), 2 CRVRAW raw (at least 6 raw observations), 3 CRVRAW
// extended raw (at least 6). Decided once, then passed to the raw buffers.
int RTK_get_base_stream_type();
// Read-only view of the filter (tests and diagnostics); valid for the program's life.
const rtk_t* RTK_get_rtk();
