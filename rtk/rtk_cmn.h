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
gtime_t epoch2time(const double* ep);     // {year, month, day, hour, min, sec} -> time
void time2epoch(gtime_t t, double* ep);   // time -> {year, month, day, hour, min, sec}
gtime_t gpst2time(int week, double sec);  // GPS week and time of week -> time
double time2gpst(gtime_t t, int* week);   // time -> time of week (and week)
gtime_t bdt2time(int week, double sec);   // BeiDou week and time of week -> time (BDT)
double time2bdt(gtime_t t, int* week);
gtime_t bdt2gpst(gtime_t t);  // BDT + 14 s
gtime_t gpst2bdt(gtime_t t);
gtime_t timeadd(gtime_t t, double sec);
double timediff(gtime_t t1, gtime_t t2);  // t1 - t2, s
gtime_t gpst2utc(gtime_t t);              // GPS time -> UTC (leap seconds)
gtime_t utc2gpst(gtime_t t);
void RTKCMN_set_leap_second(S16 leap_sec);
S16 RTKCMN_get_leap_second();
double time2doy(gtime_t t);                             // day of year, 1.0 at 1 January 00:00
int str2time(const char* s, int i, int n, gtime_t* t);  // 0 on success, -1 on error
double str2num(const char* s, int i, int n);
// The full GPS week of a broadcast 10-bit week: the one nearest ref_week.
int gps_week_from_10bit(int week10, int ref_week);

// Satellite numbers.
int satno(int sys, int prn);    // 1..MAXSAT, 0 for a satellite outside the table
int satsys(int sat, int* prn);  // system bit of an index, 0 if invalid
int satid2no(const char* id);   // "G05", "R12", "J01", "S20", "5"... -> index (0 if none)

// Coordinates and geometry.
void ecef2pos(const double* r, double* pos);  // WGS-84 ECEF (m) -> lat, lon (rad), height (m)
void pos2ecef(const double* pos, double* r);
void xyz2enu(const double* pos, double* E);  // 3x3 rotation with e = E r (column-major)
void ecef2enu(const double* pos, const double* r, double* e);
void enu2ecef(const double* pos, const double* e, double* r);
void covecef(const double* pos, const double* Q, double* P);
double geodist(const double* rs, const double* rr, double* e);     // range with Sagnac term, -1 inside Earth
double satazel(const double* pos, const double* e, double* azel);  // returns elevation
void dops(int ns, const double* azel, double elmin, double* dop);  // GDOP, PDOP, HDOP, VDOP

// Atmospheric models.
double ionmodel(gtime_t t, const double* ion, const double* pos, const double* azel);
double tropmodel(gtime_t t, const double* pos, const double* azel, double humi);
// Niell mapping functions: hydrostatic (returned) and wet (*mapfw); 0 below the horizon.
double tropmapf(gtime_t t, const double* pos, const double* azel, double* mapfw);

// Matrices, column-major.
double dot(const double* a, const double* b, int n);
double norm(const double* a, int n);
void matcpy(double* A, const double* B, int n, int m);
void matmul(const char* tr, int n, int k, int m, double alpha, const double* A, const double* B, double beta,
            double* C);
int matinv(double* A, int n);  // 0 ok, -1 singular or larger than MAXMAT
int solve(const char* tr, const double* A, const double* Y, int n, int m, double* X);
int lsq(const double* A, const double* y, int n, int m, double* x, double* Q);
inline constexpr int MAXMAT = 96;  // largest square matrix the inverse handles

// Bit fields, most significant bit first.
unsigned int getbitu(const unsigned char* buff, int pos, int len);
int getbits(const unsigned char* buff, int pos, int len);  // two's complement
int getbitg(const unsigned char* buff, int pos, int len);  // sign and magnitude
void setbitu(unsigned char* buff, int pos, int len, unsigned int data);
void setbits(unsigned char* buff, int pos, int len, int data);
unsigned int crc24q(const unsigned char* buff, int len);
