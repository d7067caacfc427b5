// RTK engine common library: time, satellite numbers, coordinates, records
// shared by the engine modules, atmospheric models, small matrices and bit fields.
#pragma once

#include "misc/gnss_types.h"

// ---------------------------------------------------------------------------
// Constants of the engine.
inline constexpr double CLIGHT = 299792458.0;      // speed of light, m/s
inline constexpr double PI = 3.1415926535897932;   // pi for geometry
inline constexpr double SC2RAD = 3.1415926535898;  // semicircle to radian (navigation message scale)
inline constexpr double D2R = PI / 180.0;
inline constexpr double R2D = 180.0 / PI;
inline constexpr double RE_WGS84 = 6378137.0;              // WGS-84 semi-major axis, m
inline constexpr double FE_WGS84 = 1.0 / 298.257223563;    // WGS-84 flattening
inline constexpr double E2_WGS84 = 0.0066943799901413165;  // WGS-84 first eccentricity squared
inline constexpr double OMGE = 7.2921151467e-5;            // Earth rotation rate, rad/s
inline constexpr double MU_GPS = 3.986005e14;              // gravitational constant as broadcast, m^3/s^2
inline constexpr double FREQ1 = 1.57542e9;                 // L1 / E1 / G1-centre-of-GPS, Hz
inline constexpr double FREQ2 = 1.22760e9;
inline constexpr double FREQ5 = 1.17645e9;
inline constexpr double FREQ6 = 1.27875e9;
inline constexpr double FREQ7 = 1.20714e9;
inline constexpr double FREQ8 = 1.191795e9;
inline constexpr double FREQ1_GLO = 1.60200e9;  // GLONASS G1 base, Hz
inline constexpr double DFRQ1_GLO = 0.56250e6;  // G1 channel spacing, Hz
inline constexpr double FREQ2_GLO = 1.24600e9;
inline constexpr double DFRQ2_GLO = 0.43750e6;
inline constexpr double FREQ3_GLO = 1.202025e9;
inline constexpr double FREQ1_CMP = 1.561098e9;
inline constexpr double FREQ2_CMP = 1.20714e9;
inline constexpr double FREQ3_CMP = 1.26852e9;

// Navigation systems as bit values.
enum : int {
  SYS_NONE = 0x00,
  SYS_GPS = 0x01,
  SYS_SBS = 0x02,
  SYS_GLO = 0x04,
  SYS_GAL = 0x08,
  SYS_QZS = 0x10,
  SYS_CMP = 0x20,
  SYS_ALL = 0x3F,
};

// Satellite index table: GPS 1..32, QZSS PRN 193, GLONASS slots 1..24,
// SBAS numbers 33..51 (PRN 120..138).
enum : int {
  MINPRNGPS = 1,
  MAXPRNGPS = 32,
  NSATGPS = 32,
  MINPRNQZS = 193,
  MAXPRNQZS = 193,
  NSATQZS = 1,
  MINPRNGLO = 1,
  MAXPRNGLO = 24,
  NSATGLO = 24,
  MINPRNSBS = 33,
  MAXPRNSBS = 51,
  NSATSBS = 19,
  MAXSAT = NSATGPS + NSATQZS + NSATGLO + NSATSBS,  // 76
  MAXOBS = 64,                                     // observations of one receiver epoch
  MAXOBS_CYCLE = 128,                              // rover and base together
  NFREQ = 1,
  NEXOBS = 0,
  MAXEPH = NSATGPS + NSATQZS,  // 33 GPS/QZSS records
  MAXGEPH = NSATGLO,
  MAXSEPH = NSATSBS,
};

// Observation codes used by the stream readers.
enum : unsigned char {
  CODE_NONE = 0,
  CODE_L1C = 1,   // L1 C/A
  CODE_L1I = 47,  // BeiDou B1I
};

// Epoch types of extended raw epochs (kept in meas_period_in_ms).
enum : int {
  RTK_INTEGER_MEAS_EPOCH = 0,
  RTK_GEOTAGGING = 1,
  RTK_GEOTAGGING_AND_INTEGER_MEAS_EPOCH = 2,
};

// ---------------------------------------------------------------------------
// Records.

// Time: whole seconds since 1970-01-01 00:00:00 of the time scale in use
// (integral, kept in a double) plus the fraction of a second in [0, 1).
struct gtime_t {
  double time;
  double sec;
};

// One observation of one satellite at one receiver epoch.
struct obsd_t {
  gtime_t time;               // receiver time of the epoch (GPS time scale)
  U16 meas_period_in_ms;      // measurement period, or the extended raw epoch type
  unsigned char sat;          // satellite index 1..MAXSAT
  unsigned char rcv;          // 1 rover, 2 base
  unsigned char SNR[NFREQ];   // C/N0 in 0.25 dB-Hz
  unsigned char LLI[NFREQ];   // loss of lock: bit 0 slip, bit 6 copied from the stream
  unsigned char code[NFREQ];  // CODE_...
  double L[NFREQ];            // carrier phase, cycles
  double P[NFREQ];            // pseudorange, m
  float D[NFREQ];             // Doppler, Hz
};

// GPS / QZSS broadcast ephemeris.
struct eph_t {
  int sat, iode, iodc;
  int sva;   // URA index
  int svh;   // 6-bit health
  int week;  // full GPS week of toe
  int code;  // codes on L2
  int flag;  // L2 P data flag
  gtime_t toe, toc, ttr;
  double A, e, i0, OMG0, omg, M0, deln, OMGd, idot;  // m, -, rad, rad/s
  double crc, crs, cuc, cus, cic, cis;               // m, rad
  double toes;                                       // toe, s of week
  double fit;                                        // fit interval, h
  double f0, f1, f2;                                 // s, s/s, s/s^2
  double tgd[4];                                     // group delay T_GD, s
};

// GLONASS broadcast ephemeris.
struct geph_t {
  int sat, iode;
  int frq;  // frequency number -7..6, -9 unknown
  int svh, sva, age;
  gtime_t toe, tof;
  double pos[3], vel[3], acc[3];  // PZ-90 ECEF, m, m/s, m/s^2
  double taun, gamn, dtaun;       // s, -, s
};

// SBAS GEO navigation message (type 9).
struct seph_t {
  int sat;
  gtime_t t0, tof;
  int sva, svh;
  double pos[3], vel[3], acc[3];
  double af0, af1;
};

// Navigation data store.
struct nav_t {
  int n, ns, ng;
  eph_t eph[MAXEPH];
  geph_t geph[MAXGEPH];
  seph_t seph[MAXSEPH];
  double ion_gps[8], ion_qzs[8], ion_cmp[8];
  int leaps;
  double lam[MAXSAT][NFREQ];  // carrier wavelength per satellite index, m
  double cbias[MAXSAT][3];
};

// C/N0 masks, dB-Hz.
struct snrmask_t {
  int ena[2];               // rover, base
  double mask[NFREQ][9];    // at elevations 5, 15, ..., 85 degrees
  double bd2_geo_snr_mask;  // SBAS and BeiDou GEO satellites
};

// Processing options.
struct prcopt_t {
  int mode, nf, navsys;
  double elmin;
  snrmask_t snrmask;
  int sateph, modear, glomodear, maxout, minlock, minlock_low_elv, minfix;
  int ionoopt, tropopt, dynamics, niter;
  double eratio[NFREQ];
  double err[5];
  double std[3];
  double prn[5];
  double sclkstab;
  double thresar[4];
  double elmaskar, elmaskhold, maxtdiff, maxinno, maxgdop;
  double baseline[2];
  unsigned char exsats[MAXSAT];
  int cs, detslp_mode;
  int tarn_test_dont_care_slip_if_snr_larger_than_40;
  int tarn_con_pnt_pos_fix_thr;
  int tarn_check_float_with_pnt_pos;
  int tarn_delay_fix_sol;
  int tarn_ratio_mask_for_small_ns;
  int tarn_set_max_rtk_sv_numbers;
  double tanr_elv_mask_for_baseline_larger_than_2km;
  int olvo_apply_rtk_reset_engine;
  int olvo_apply_rtkinit_medium_in_rtk_reset_engine;
  int olvo_remain_cont_pntpos_cnt_after_raim;
  int olvo_alternative_raim_fde;
  int olvo_cycle_slip_detect;
  int olvo_delay_to_enter_new_sat;
  int olvo_calc_prc_for_master;
  int olvo_reset_by_master_sol;
  int olvo_use_sv_in_master_fix;
  int olvo_support_sbas;
  int olvo_support_error_ellipsoid;
  int olvo_calibrate_GLO_SD_IFB;
  int olvo_only_use_GLO_PR_with_stable_SD_IFB;
  int olvo_reference_static_started_position;
  int olvo_mask_invalid_meas;
  int olvo_tune_kalman_filter_Phi_Q;
  int olvo_init_state_and_its_cov_by_wls;
  int olvo_remove_sbas_after_entering_fix_and_hold;
  int olvo_do_not_use_sbas_when_sv_are_sufficient;
  int olvo_float_rtk_mode;
  int olvo_print_meas, olvo_print_chisqr_and_pr_residual, olvo_print_kf_and_lambda_matrix;
  // 1: the filter's integrity checks (validated fixes, chi-square restarts,
  // outlier rows, slip and outage bookkeeping across epochs without a relative
  // update, relative update from the predicted position); 0: the plain filter.
  int integrity;
  // Re-entry lock-out after a rover satellite's C/N0 fell below its mask, in
  // rover epochs in which the satellite is observed (the epoch below the mask
  // counts as the first); 0: no lock-out.
  double snr_reentry;
};

// Per-satellite status of the engine.
struct ssat_t {
  unsigned char sys;
  unsigned char vs;    // used by the single-point solution
  double azel[2];      // rover azimuth and elevation, rad
  double resp[NFREQ];  // phase residual, m
  double resc[NFREQ];  // code residual, m
  unsigned char vsat[NFREQ];
  unsigned char snr[NFREQ];
  unsigned char fix[NFREQ];
  unsigned char slip[NFREQ];
  int lock[NFREQ];
  unsigned int outc[NFREQ];
  double gf, gf2, phw;
  gtime_t pt[2][NFREQ];
  double ph[2][NFREQ];
};

// ---------------------------------------------------------------------------
// Time.
// Calendar epochs ep are 6 doubles {year, month, day, hour, minute, second},
// caller's. Times of week are s; weeks are full (not modulo 1024) weeks.

// Time of the epoch ep (years 1970..2099, months 1..12; the zero time otherwise).
gtime_t epoch2time(const double* ep);
void time2epoch(gtime_t t, double* ep);  // epoch ep of time t (proleptic Gregorian)
// Time of GPS week and time of week sec (s; outside +-1e9 taken as 0).
gtime_t gpst2time(int week, double sec);
// Time of week (s) of t; *week (may be null) receives the GPS week.
double time2gpst(gtime_t t, int* week);
gtime_t bdt2time(int week, double sec);     // as gpst2time, BeiDou weeks from 2006-01-01 (BDT)
double time2bdt(gtime_t t, int* week);      // as time2gpst, BeiDou weeks
gtime_t bdt2gpst(gtime_t t);                // BDT + 14 s
gtime_t gpst2bdt(gtime_t t);                // GPS time - 14 s
gtime_t timeadd(gtime_t t, double sec);     // t + sec (s), fraction kept in [0, 1)
double timediff(gtime_t t1, gtime_t t2);    // t1 - t2, s
gtime_t gpst2utc(gtime_t t);                // GPS time -> UTC: minus the leap seconds in use
gtime_t utc2gpst(gtime_t t);                // UTC -> GPS time: plus the leap seconds in use
void RTKCMN_set_leap_second(S16 leap_sec);  // leap seconds (GPS - UTC, s) used from now on
S16 RTKCMN_get_leap_second();               // leap seconds in use, s
double time2doy(gtime_t t);                 // day of year, 1.0 at 1 January 00:00
// Time from the six numbers "y m d h m s" in characters i .. i+n-1 of s (two-
// digit years: below 80 -> 20xx, else 19xx) into *t. Returns 0, or -1 (t
// untouched) when out of range or fewer than six numbers.
int str2time(const char* s, int i, int n, gtime_t* t);
// Number in characters i .. i+n-1 of s ('d'/'D' exponents read as 'E'); 0 when none.
double str2num(const char* s, int i, int n);
// The full GPS week of a broadcast 10-bit week: the one nearest ref_week.
int gps_week_from_10bit(int week10, int ref_week);

// Satellite numbers.
// Satellite index 1..MAXSAT of system bit sys and PRN/slot prn; 0 for a
// satellite outside the table (Galileo, BeiDou, other QZSS PRNs).
int satno(int sys, int prn);
// System bit of satellite index sat (SYS_NONE if invalid); *prn (may be null)
// receives its PRN/slot (0 if invalid).
int satsys(int sat, int* prn);
int satid2no(const char* id);  // "G05", "R12", "J01", "S20", "5"... -> index (0 if none)

// Coordinates and geometry. Vectors are 3 doubles owned by the caller:
// ECEF in m, geodetic pos = latitude, longitude (rad), height (m) on WGS-84.
void ecef2pos(const double* r, double* pos);  // ECEF r -> geodetic pos
void pos2ecef(const double* pos, double* r);  // geodetic pos -> ECEF r
// E (3 x 3, column-major): rotation from ECEF to east-north-up at pos, e = E r.
void xyz2enu(const double* pos, double* E);
void ecef2enu(const double* pos, const double* r, double* e);  // ECEF vector r -> local e (ENU) at pos
void enu2ecef(const double* pos, const double* e, double* r);  // local e (ENU) at pos -> ECEF vector r
// ENU covariance Q (3 x 3) at pos -> ECEF covariance P (3 x 3), m^2.
void covecef(const double* pos, const double* Q, double* P);
// Geometric range (m) from receiver rr to satellite rs (ECEF) with the Sagnac
// term; e receives the line-of-sight unit vector. -1 when the satellite lies
// inside the Earth radius or on the receiver.
double geodist(const double* rs, const double* rr, double* e);
// Azimuth [0, 2 pi) and elevation (rad) of line of sight e at pos into azel
// (2 doubles, may be null). Returns the elevation (pi/2 far below the surface).
double satazel(const double* pos, const double* e, double* azel);
// GDOP, PDOP, HDOP, VDOP into dop (4 doubles) over the ns azimuth/elevation
// pairs azel (rad) at or above elmin (rad); zeros with fewer than 4 satellites.
void dops(int ns, const double* azel, double elmin, double* dop);

// Atmospheric models. pos: geodetic receiver position; azel: azimuth,
// elevation (rad); delays in m.
// Broadcast (IS-GPS-200) ionospheric delay on L1 with the 8 parameters ion
// (alpha s, s/sc, s/sc^2, s/sc^3; beta s, ...; all 0: defaults). 0 below
// -1000 m height or at elevation <= 0.
double ionmodel(gtime_t t, const double* ion, const double* pos, const double* azel);
// Saastamoinen tropospheric delay with a standard atmosphere and relative
// humidity humi (0..1). 0 outside heights -100..10000 m or at elevation <= 0.
double tropmodel(gtime_t t, const double* pos, const double* azel, double humi);
// Niell mapping functions: hydrostatic (returned) and wet (*mapfw, may be
// null); 0 below the horizon or outside heights -1000..20000 m.
double tropmapf(gtime_t t, const double* pos, const double* azel, double* mapfw);

// Matrices, column-major (A[i + j * n] for n rows); buffers owned by the caller.
double dot(const double* a, const double* b, int n);    // sum a_i b_i
double norm(const double* a, int n);                    // Euclidean norm of a (n)
void matcpy(double* A, const double* B, int n, int m);  // A = B, both n x m
// C (n x k) = alpha op(A) op(B) + beta C with op(A) n x m, op(B) m x k; tr is
// "NN", "NT", "TN" or "TT" (T: transposed). C must not alias A or B.
void matmul(const char* tr, int n, int k, int m, double alpha, const double* A, const double* B, double beta,
            double* C);
// A (n x n) inverted in place. Returns 0, or -1 (A unchanged) when singular or n outside 1..MAXMAT.
int matinv(double* A, int n);
// X (n x m) = op(A)^-1 op(Y) with A n x n (tr[0]) and Y n x m (tr[1] 'T': Y^T).
// Returns 0, or -1 when A is singular or n is outside 1..MAXMAT.
int solve(const char* tr, const double* A, const double* Y, int n, int m, double* X);
// Least squares: A (n x m; column i holds the partial derivatives of
// measurement i), y (m). x (n) = (A A^T)^-1 A y, Q (n x n) = (A A^T)^-1.
// Returns 0, or -1 when m < n, n > MAXMAT or A A^T is singular.
int lsq(const double* A, const double* y, int n, int m, double* x, double* Q);
inline constexpr int MAXMAT = 96;  // largest square matrix the inverse handles

// Bit fields, most significant bit first; pos and len in bits (len 1..32).
unsigned int getbitu(const unsigned char* buff, int pos, int len);       // unsigned
int getbits(const unsigned char* buff, int pos, int len);                // two's complement
int getbitg(const unsigned char* buff, int pos, int len);                // sign and magnitude
void setbitu(unsigned char* buff, int pos, int len, unsigned int data);  // low len bits of data
void setbits(unsigned char* buff, int pos, int len, int data);           // two's complement
// CRC-24Q (RTCM 3 frames) of len bytes of buff, initial value 0; 24-bit result.
unsigned int crc24q(const unsigned char* buff, int len);
