#include "rtk/relpos.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "misc/talon_assert.h"
#include "rtk/eph.h"
#include "rtk/glo_sd_ifb.h"
#include "rtk/lambda.h"
#include "rtk/pntpos.h"
#include "rtk/rtk_raw.h"

namespace {

constexpr int NX = RTK_NX;
constexpr int NP = RTK_NP;
constexpr int MAXROWS = RTK_MAX_ROWS;
constexpr int NOBS = MAXOBS_CYCLE;

constexpr int MODE_DGPS = 1;
constexpr int MODE_STATIC = 3;
constexpr int MODE_MOVEB = 4;
constexpr int MODEAR_INST = 2;
constexpr int MODEAR_FIXHOLD = 3;
constexpr int IONOOPT_IFLC = 3;
constexpr double VAR_POS = 900.0;  // m^2, position from the single-point solution
constexpr double VAR_VEL = 100.0;  // (m/s)^2
constexpr double VAR_ACC = 100.0;  // (m/s^2)^2
constexpr double INIT_ACC = 1e-6;  // m/s^2, non-zero so that the states take part in updates
constexpr double MAX_RATIO = 999.9;
// Squared residual norm (dimensionless, (a - F)^T Q^-1 (a - F)) at or below
// which an integer candidate counts as an exact fit of the float ambiguities.
constexpr double ZERO_SQ_NORM = 1e-12;
// Single-differenced ambiguity (cycles) that stands in for a phase-minus-code
// estimate of exactly 0 (rover and base observations identical, a zero
// baseline fed from one receiver): a state of 0 means "not initialised". It is
// the same for every such satellite, so it cancels in the double differences.
constexpr double AMB_ZERO_STANDIN = 1e-6;
constexpr double LOW_ELV_LOCK = 20.0 * D2R;  // below this elevation an ambiguity waits minlock_low_elv
constexpr int HOLD_EXTRA_FEW = 30;           // extra fixes before holding with fewer than 8 satellites
constexpr int HOLD_EXTRA_MID = 15;           // with 8 or 9
constexpr int MIN_CODE_ROWS = 3;
constexpr double SD_IFB_MAX_BASELINE = 1500.0;  // m
constexpr double SD_IFB_MAX_AGE = 5.0;          // s
constexpr double SD_IFB_GPS_ELV = 30.0 * D2R;
constexpr int SD_IFB_GPS_SNR = 160;  // 0.25 dB-Hz (40 dB-Hz)
constexpr double DELAY_RATIO_LO = 2.5, DELAY_RATIO_HI = 10.0;
// Integrity checks (opt.integrity).
constexpr int FIX_MIN_DD = 4;                 // double differences: 3 position unknowns + 1 redundant
constexpr double FIX_MAX_SPP_DIST = 10.0;     // m, fixed position from the single-point one
constexpr double STALE_PREDICTION_GAP = 2.0;  // s without a usable update after which the prediction may be stale
constexpr double FIX_MAX_SIGMA = 0.05;        // m, fixed position sigma (mean variance of the three axes)
constexpr double ROW_OUTLIER_CHI2 = 10.83;    // normalised squared innovation of one row (99.9 %, 1 dof)
constexpr double POSTFIT_CODE_SIGMA = 3.0;    // post-fit code residual (in its own sigma) that leaves the code out
constexpr U08 POSTFIT_CODE_HOLD = 10;         // epochs a code outlier stays left out
constexpr double BASE_AGE_MIN = 0.1;          // s, base age from which its variance is added
constexpr int POSTFIT_DOF_LOSS = 3;           // degrees of freedom the position takes from the post-fit residuals
// Chi-square at 99.9 % for 1..30 degrees of freedom (larger: the last entry
// grown by 1.7 per degree).
constexpr double CHISQR[30] = {10.8, 13.8, 16.3, 18.5, 20.5, 22.5, 24.3, 26.1, 27.9, 29.6,
                               31.3, 32.9, 34.5, 36.1, 37.7, 39.3, 40.8, 42.3, 43.8, 45.3,
                               46.8, 48.3, 49.7, 51.2, 52.6, 54.1, 55.5, 56.9, 58.3, 59.7};
double chisqr(int dof) {
  if (dof < 1) return 0.0;
  if (dof <= 30) return CHISQR[dof - 1];
  return CHISQR[29] + 1.7 * (dof - 30);
}
// Ratio threshold of a fix of nb double differences: fewer ambiguities need
// a larger ratio; 8 or more take the configured thresar[0] (3 by default).
double ratio_threshold(double thres, int nb) {
  if (nb <= 4) return thres * 5.0 / 3.0;
  if (nb == 5) return thres * 4.5 / 3.0;
  if (nb == 6) return thres * 4.0 / 3.0;
  if (nb == 7) return thres * 3.5 / 3.0;
  return thres;
}

// Factor on the ratio threshold from the float position's precision: 1 while
// the float position sigma (from the mean variance of the three axes) is at
// most thresar[1] (m), (sigma / thresar[1])^2 above it. A float known only to
// metres lies among many integer candidates that fit the phase nearly as well,
// and a biased float (one satellite's code off by metres) picks a wrong one
// with an ordinary ratio; a right fix from such a float stands out by far more
// (ratios 15-140 at sigma 1-2.5 m on the simulated walks and the moving sample,
// 4-5.6 for the wrong fix of a 12 m code bias at sigma 1.1-1.4 m).
double float_sigma_factor(const rtk_t* rtk) {
  const double lim = rtk->opt.thresar[1];
  if (!(lim > 0.0)) return 1.0;
  const double var = (rtk->P[0] + rtk->P[1 + NX] + rtk->P[2 + 2 * NX]) / 3.0;
  return std::max(1.0, var / (lim * lim));
}

// Per-cycle storage of the filter, fixed in size.
double Rs[6 * NOBS], Dts[2 * NOBS], Var[NOBS];
int Svh[NOBS];
double Y[2 * NOBS], E[3 * NOBS], Azel[2 * NOBS];
double Xp[NX], Pp[NX * NX], Xa[NX];
double H[MAXROWS * NX], V[MAXROWS], R[MAXROWS * MAXROWS], Ri[MAXROWS], Rj[MAXROWS];
double Bias[NX];
int Sat[MAXSAT], Iu[MAXSAT], Ir[MAXSAT];
// Work space of filter().
int Ix[NX], Hidx[NX * MAXROWS], Nnz[MAXROWS];
double Fx[NX], Fp[NX * NX], Hval[NX * MAXROWS], Ff[NX * MAXROWS], Fq[MAXROWS * MAXROWS], Fk[NX * MAXROWS];
// Work space of the ambiguity resolution.
S16 Master[MAXSAT], Slave[MAXSAT];
double Qb[MAXSAT * MAXSAT], Qab[NP * MAXSAT], Yb[MAXSAT], Bcand[MAXSAT * 2], Db[MAXSAT], QQ[NP * MAXSAT];

// Bookkeeping of the relative positioning.
U08 Is_first_relpos = 0;
U08 Is_fix_and_hold = 0;
unsigned long Rtk_sol_fix_and_hold_cnt = 0;
U08 Last_stat = 0;
float Last_ratio = 0.0f;
int Last_ns_of_float_solution = 0;
int Last_used_sv_of_float_solution[RTK_MAX_USED_SV];
unsigned long CS_CNT = 0;
unsigned long INIT_X_CNT = 0;
// Integrity bookkeeping.
gtime_t Filter_time{};         // time of the last time update of the filter (0: none)
U08 Time_updated = 0;          // the current cycle ran the time update
U08 Slip_tested[MAXSAT];       // satellites whose slip flags the current cycle consumed
U08 Spp_failed = 0;            // the current cycle runs from the predicted position
gtime_t Last_good_update;      // time of the last float update with 4 or more satellites
U08 Holding = 0;               // ambiguities held since the last reset
U08 Code_out[MAXSAT];          // epochs for which the code of each satellite stays left out
double Xb[NX];                 // states before the measurement update of the cycle
int Rows_nv = 0;               // rows (V, H, R) of the last measurement update
int Row_sat[MAXROWS];          // satellite index of each double-difference row
U08 Row_code[MAXROWS];         // 1: code row, 0: phase row
double Spp_pos[3];             // single-point position of the current cycle, m
double Last_innov_chi2 = 0.0;  // innovation chi-square of the last filter() call
// Held fixes: the second-best LAMBDA candidate of the cycle as a full state
// vector (Xa2), valid when Have_second; the LAMBDA ratio of the cycle (capped).
double Xa2[NX], Lead2[NP], Yb2[MAXSAT], Db2[MAXSAT];
U08 Have_second = 0;
float Lambda_ratio = 0.0f;
unsigned long Chi2_restart_cnt = 0, Outlier_cnt = 0, Fix_refused_cnt = 0, Fix_released_cnt = 0;
unsigned long Spp_restart_cnt = 0;
unsigned long Postfit_restart_cnt = 0;  // restarts after a failed post-fit chi-square test
double Xpre[NX];                        // states before the last filter() call of the float update

struct RTK_ERROR_ELLIPSOID_NEEDED_INFO_T {
  U08 calculate_var_res_enable_flag;
  F32 edop_sqr, ndop_sqr, vdop_sqr, en_cov, var_res;
};
RTK_ERROR_ELLIPSOID_NEEDED_INFO_T Rtk_error_ellip_info_fix{};

double sqr(double x) { return x * x; }

// System bit (SYS_*) and ambiguity group (RTK_GRP_*, -1 for none) of each
// satellite index (sat - 1), looked up in the per-cycle loops over all indices.
struct SAT_SYS_T {
  std::array<unsigned char, MAXSAT> sys;
  std::array<signed char, MAXSAT> grp;
};
SAT_SYS_T make_sat_sys() {
  SAT_SYS_T t{};
  for (int i = 0; i < MAXSAT; ++i) {
    const int sys = satsys(i + 1, nullptr);
    t.sys[static_cast<std::size_t>(i)] = static_cast<unsigned char>(sys);
    t.grp[static_cast<std::size_t>(i)] = -1;
    for (int m = 0; m < RTK_NGRP; ++m)
      if (test_sys(sys, m)) t.grp[static_cast<std::size_t>(i)] = static_cast<signed char>(m);
  }
  return t;
}
const SAT_SYS_T Sat_sys = make_sat_sys();

int sys_of(int sat) {
  return sat >= 1 && sat <= MAXSAT ? static_cast<int>(Sat_sys.sys[static_cast<std::size_t>(sat - 1)])
                                   : static_cast<int>(SYS_NONE);
}
// Whether satellite index i (0 .. MAXSAT - 1) belongs to ambiguity group m.
bool in_group(int i, int m) { return Sat_sys.grp[static_cast<std::size_t>(i)] == m; }

// Frequency number of a GLONASS satellite index; -9 (unknown) for other systems.
int glo_frq(const nav_t* nav, int sat) {
  int prn = 0;
  if (satsys(sat, &prn) != SYS_GLO || prn < 1 || prn > MAXGEPH) return -9;
  return nav->geph[prn - 1].frq;
}

void restart_lock(rtk_t* rtk, int sat) {
  ssat_t& s = rtk->ssat[sat - 1];
  s.lock[0] = s.azel[1] < LOW_ELV_LOCK ? -rtk->opt.minlock_low_elv : -rtk->opt.minlock;
}

// ---------------------------------------------------------------------------
// Time update.

// Every ambiguity state cleared (re-initialised from phase minus code when
// its satellite is next used) and its lock count restarted.
void reset_all_ambiguities(rtk_t* rtk) {
  for (int i = 1; i <= MAXSAT; ++i) {
    if (rtk->x[NP + i - 1] == 0.0) continue;
    initx(rtk, 0.0, 0.0, NP + i - 1);
    restart_lock(rtk, i);
  }
  rtk->nfix = 0;
  Holding = 0;
}

// Distance between two ECEF positions, m.
double baseline_len(const double* ru, const double* rb) {
  double d[3];
  for (int i = 0; i < 3; ++i) d[i] = ru[i] - rb[i];
  return norm(d, 3);
}

// Position (variance VAR_POS) from the single-point solution; with dyn also
// velocity (VAR_VEL) from it and acceleration INIT_ACC (VAR_ACC).
void init_kinematic_states(rtk_t* rtk, bool dyn) {
  for (int i = 0; i < 3; ++i) initx(rtk, rtk->sol.rr[i], VAR_POS, i);
  if (!dyn) return;
  for (int i = 3; i < 6; ++i) initx(rtk, rtk->sol.rr[i], VAR_VEL, i);
  for (int i = 6; i < 9; ++i) initx(rtk, INIT_ACC, VAR_ACC, i);
}

// x(i) += x(i+3) * tt for i = 0..5, on the state and on both sides of P;
// ascending order uses the old value of x(i+3) as the transition requires.
void propagate_kinematic_states(double* x, double* P, double tt) {
  for (int i = 0; i < 6; ++i) x[i] += x[i + 3] * tt;
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < NX; ++j) P[i + j * NX] += tt * P[(i + 3) + j * NX];
  for (int j = 0; j < 6; ++j)
    for (int i = 0; i < NX; ++i) P[i + j * NX] += tt * P[i + (j + 3) * NX];
}

// Acceleration noise (prn[3] east/north, prn[4] up, m/s^2) turned to ECEF
// at the position x and added to the acceleration block of P.
void add_acceleration_noise(const prcopt_t& o, const double* x, double* P) {
  double pos[3], Qv[9] = {0}, Qe[9];
  Qv[0] = Qv[4] = sqr(o.prn[3]);
  Qv[8] = sqr(o.prn[4]);
  ecef2pos(x, pos);
  covecef(pos, Qv, Qe);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) P[(i + 6) + (j + 6) * NX] += Qe[i + j * 3];
}

// Time update of position, velocity and acceleration over tt (s).
void udpos(rtk_t* rtk, double tt) {
  const prcopt_t& o = rtk->opt;
  double* x = rtk->x;
  double* P = rtk->P;
  if (norm(x, 3) <= 0.0) init_kinematic_states(rtk, o.dynamics && o.mode != MODE_STATIC);
  if (o.mode == MODE_STATIC) return;
  if (!o.dynamics) {
    init_kinematic_states(rtk, false);
    return;
  }
  const double var = (P[0] + P[1 + NX] + P[2 + 2 * NX]) / 3.0;
  if (var > VAR_POS) {
    // the ambiguities were estimated with the old position: keeping them would
    // drag the fresh position back
    if (o.integrity) reset_all_ambiguities(rtk);
    init_kinematic_states(rtk, true);
    return;
  }
  propagate_kinematic_states(x, P, tt);
  add_acceleration_noise(o, x, P);
  // a prediction carried through epochs without a usable update can drift
  // tens of metres: when the single-point solution after such a gap lies
  // further off than a fix may, the filter restarts from it, ambiguities with
  // it (an update from the stale prior left the float 5 m off after a 20 s
  // canopy)
  if (o.integrity && !Spp_failed && Last_good_update.time != 0.0 &&
      timediff(Filter_time, Last_good_update) > STALE_PREDICTION_GAP && baseline_len(x, Spp_pos) > FIX_MAX_SPP_DIST) {
    ++Spp_restart_cnt;
    reset_all_ambiguities(rtk);
    init_kinematic_states(rtk, true);
  }
}

void detslp_ll(rtk_t* rtk, const obsd_t* obs, int rcv) {
  if (obs->L[0] == 0.0) return;
  ssat_t& s = rtk->ssat[obs->sat - 1];
  const unsigned char lli = obs->LLI[0];
  unsigned char slip = static_cast<unsigned char>((lli | s.slip[0]) & 3);
  if (lli & 1) ++CS_CNT;
  const int shift = rcv == 1 ? 6 : 4;
  const unsigned char prev_half = static_cast<unsigned char>((s.slip[0] >> (shift + 1)) & 1);
  if (((lli >> 1) & 1) != prev_half) slip |= 1;
  unsigned char keep = static_cast<unsigned char>(s.slip[0] & ~(3u << shift) & ~3u);
  s.slip[0] = static_cast<unsigned char>(keep | slip | ((lli & 3) << shift));
}

void detslp_dop(rtk_t* rtk, const obsd_t* obs, int rcv, const nav_t* nav) {
  const int sat = obs->sat;
  ssat_t& s = rtk->ssat[sat - 1];
  const int r = rcv - 1;
  const double lam = nav->lam[sat - 1][0];
  if (obs->L[0] == 0.0 || obs->D[0] == 0.0f || s.ph[r][0] == 0.0 || lam <= 0.0) return;
  const double tt = timediff(obs->time, s.pt[r][0]);
  if (std::fabs(tt) < 0.005) return;
  if (std::fabs(obs->time.sec - s.pt[r][0].sec) > 0.001) return;
  const double thr = 30.0 * tt * tt / 2.0 / lam + rtk->opt.err[4] * std::fabs(tt) * 4.0;
  if (std::fabs((obs->L[0] - s.ph[r][0]) + obs->D[0] * tt) > thr) {
    s.slip[0] |= 1;
    ++CS_CNT;
  }
}

// Single differences (rover i minus base j) of the L1 phase (cycles) and code
// (m); a difference without both observations is 0. True when both phases and
// both codes are present, so that a difference of exactly 0 (one receiver
// feeding rover and base) still counts.
bool sdobs(const obsd_t* obs, int i, int j, double* dL, double* dP) {
  const double Lr = obs[i].L[0], Lb = obs[j].L[0], Pr = obs[i].P[0], Pb = obs[j].P[0];
  const bool phase = Lr != 0.0 && Lb != 0.0, code = Pr != 0.0 && Pb != 0.0;
  *dL = phase ? Lr - Lb : 0.0;
  *dP = code ? Pr - Pb : 0.0;
  return phase && code;
}

// Slip flags of the ns selected satellites by the LLI (detslp_mode 0) or
// Doppler (1) test of rover and base.
void detect_slips(rtk_t* rtk, const obsd_t* obs, int ns, const nav_t* nav) {
  const prcopt_t& o = rtk->opt;
  for (int i = 0; i < ns; ++i) {
    ssat_t& s = rtk->ssat[Sat[i] - 1];
    s.slip[0] &= 0xFC;
    Slip_tested[Sat[i] - 1] = 1;
    if (o.detslp_mode == 0) {
      detslp_ll(rtk, obs + Iu[i], 1);
      detslp_ll(rtk, obs + Ir[i], 2);
    } else if (o.detslp_mode == 1) {
      detslp_dop(rtk, obs + Iu[i], 1, nav);
      detslp_dop(rtk, obs + Ir[i], 2, nav);
    }
  }
}

// Outage count of every satellite advanced; ambiguities reset every cycle in
// instantaneous mode, else after more than maxout cycles without phase.
void reset_outaged_ambiguities(rtk_t* rtk) {
  const prcopt_t& o = rtk->opt;
  for (int i = 1; i <= MAXSAT; ++i) {
    const int j = NP + i - 1;
    ssat_t& s = rtk->ssat[i - 1];
    // with integrity, outc counts the epochs missed since the phase was last
    // used (a satellite back after maxout missed epochs keeps its ambiguity)
    if (!o.integrity) s.outc[0]++;
    const unsigned int missed = s.outc[0];
    if (o.integrity) s.outc[0]++;
    if (o.modear == MODEAR_INST) {
      if (rtk->x[j] != 0.0) initx(rtk, 0.0, 0.0, j);
    } else if (missed > static_cast<unsigned int>(o.maxout) && rtk->x[j] != 0.0) {
      initx(rtk, 0.0, 0.0, j);
      ++INIT_X_CNT;
      restart_lock(rtk, i);
    }
  }
}

// Phase-minus-code estimates Bias (cycles; 0: none) of the ns selected satellites;
// their mean offset from the initialised ambiguities is added to all of them,
// which keeps the states coherent with the code across receiver clock jumps.
void shift_ambiguities_to_code(rtk_t* rtk, const obsd_t* obs, int ns, const nav_t* nav) {
  double offset = 0.0;
  int noff = 0;
  for (int i = 0; i < ns; ++i) {
    Bias[i] = 0.0;
    double dL = 0.0, dP = 0.0;
    const double lam = nav->lam[Sat[i] - 1][0];
    if (!sdobs(obs, Iu[i], Ir[i], &dL, &dP) || lam <= 0.0) continue;
    Bias[i] = dL - dP / lam;
    // Identical rover and base observations give exactly 0, which would read as
    // "no estimate" here and as "no state" in x: the stand-in keeps it.
    if (Bias[i] == 0.0) Bias[i] = AMB_ZERO_STANDIN;
    const double xs = rtk->x[NP + Sat[i] - 1];
    if (xs != 0.0) {
      offset += Bias[i] - xs;
      ++noff;
    }
  }
  if (noff > 0) {
    const double d = offset / noff;
    for (int i = 1; i <= MAXSAT; ++i) {
      if (rtk->x[NP + i - 1] != 0.0) rtk->x[NP + i - 1] += d;
    }
  }
}

// Ambiguities of the ns selected satellites that have none start at their
// phase-minus-code estimate Bias (cycles) with variance std[0]^2.
void init_new_ambiguities(rtk_t* rtk, int ns) {
  for (int i = 0; i < ns; ++i) {
    const int j = NP + Sat[i] - 1;
    if (Bias[i] == 0.0 || rtk->x[j] != 0.0) continue;
    initx(rtk, Bias[i], sqr(rtk->opt.std[0]), j);
    restart_lock(rtk, Sat[i]);
  }
}

// Time update of the ambiguities over tt (s).
void udbias(rtk_t* rtk, double tt, const obsd_t* obs, int ns, const nav_t* nav) {
  const prcopt_t& o = rtk->opt;
  detect_slips(rtk, obs, ns, nav);
  reset_outaged_ambiguities(rtk);
  for (int i = 0; i < ns; ++i) {
    const int j = NP + Sat[i] - 1;
    rtk->P[j + j * NX] += sqr(o.prn[0]) * std::fabs(tt);
    if ((rtk->ssat[Sat[i] - 1].slip[0] & 1) && o.modear != MODEAR_INST) {
      initx(rtk, 0.0, 0.0, j);
      restart_lock(rtk, Sat[i]);
    }
  }
  shift_ambiguities_to_code(rtk, obs, ns, nav);
  init_new_ambiguities(rtk, ns);
}

// ---------------------------------------------------------------------------
// Residuals.

// Azimuth and elevation of the line of sight e at the receiver of geodetic
// position pos, with E its east-north-up rotation (as satazel).
double azel_of(const double* E, const double* pos, const double* e, double* azel) {
  double az = 0.0, el = PI / 2.0;
  if (pos[2] > -RE_WGS84) {
    double enu[3];
    for (int i = 0; i < 3; ++i) enu[i] = E[i] * e[0] + E[i + 3] * e[1] + E[i + 6] * e[2];
    az = enu[0] * enu[0] + enu[1] * enu[1] < 1e-12 ? 0.0 : std::atan2(enu[0], enu[1]);
    if (az < 0.0) az += 2.0 * PI;
    el = std::asin(enu[2] < -1.0 ? -1.0 : (enu[2] > 1.0 ? 1.0 : enu[2]));
  }
  azel[0] = az;
  azel[1] = el;
  return el;
}

// Undifferenced phase (y[2i]) and code (y[2i+1]) residuals, m; e: line-of-sight
// unit vectors; azel: azimuth and elevation. base: 1 for the base receiver.
int zdres(int base, const obsd_t* obs, int n, const double* rs, const double* dts, const int* svh, const nav_t* nav,
          const double* rr, const prcopt_t* opt, double* y, double* e, double* azel) {
  for (int i = 0; i < n * 2; ++i) y[i] = azel[i] = 0.0;
  if (norm(rr, 3) <= 0.0) return 0;
  double pos[3], Ev[9];
  ecef2pos(rr, pos);
  xyz2enu(pos, Ev);  // once per receiver: the rotation needs four trigonometric calls
  const double zazel[2] = {0.0, PI / 2.0};
  const double zhd = tropmodel(obs[0].time, pos, zazel, 0.0);
  for (int i = 0; i < n; ++i) {
    const int sat = obs[i].sat;
    double r = geodist(rs + i * 6, rr, e + i * 3);
    if (r <= 0.0) continue;
    if (azel_of(Ev, pos, e + i * 3, azel + i * 2) < opt->elmin) continue;
    if (satexclude(sat, svh[i], opt)) continue;
    r += -CLIGHT * dts[i * 2];
    double mapfw = 0.0;
    r += zhd * tropmapf(obs[i].time, pos, azel + i * 2, &mapfw);
    // zdres_sat, one frequency
    const double lam = nav->lam[sat - 1][0];
    if (lam == 0.0) continue;
    const double snr = obs[i].SNR[0] * 0.25;
    if (testsnr(base, 0, azel[1 + i * 2], snr, &opt->snrmask)) continue;
    int prn = 0;
    const int sys = satsys(sat, &prn);
    if ((sys == SYS_SBS || (sys == SYS_CMP && prn <= 5)) && snr < opt->snrmask.bd2_geo_snr_mask) continue;
    if (obs[i].L[0] != 0.0) y[i * 2] = obs[i].L[0] * lam - r;
    if (obs[i].P[0] != 0.0) y[1 + i * 2] = obs[i].P[0] - r;
  }
  return 1;
}

int validobs(int i, int j, int f, const double* y) {
  return y[f + i * 2] != 0.0 && y[f + j * 2] != 0.0 && (f == 0 || (y[i * 2] != 0.0 && y[j * 2] != 0.0));
}

double varerr(int sys, double el, double bl, double dt, int f, const prcopt_t* opt) {
  const double fact = sys == SYS_GLO ? 1.5 : (sys == SYS_SBS ? 3.0 : 1.0);
  const double s = fact * (f == 1 ? opt->eratio[0] : 1.0);
  const double a = s * opt->err[1], b = s * opt->err[2];
  const double c = opt->err[3] * bl / 1E4;
  const double d = CLIGHT * opt->sclkstab * dt;
  const double sinel = std::sin(el);
  const double k = opt->ionoopt == IONOOPT_IFLC ? 6.0 : 2.0;
  return k * (a * a + b * b / (sinel * sinel) + c * c) + d * d;
}

// Variance (m^2) of satellite sys's own part of a double difference (Rj): the
// measurement error of varerr and, with a base epoch older than BASE_AGE_MIN
// (dt: rover minus base time, s), the growth of the base data error with its age.
double dd_sat_variance(int sys, double el, double bl, double dt, int f, const prcopt_t* opt) {
  const double v = varerr(sys, el, bl, dt, f, opt);
  return std::fabs(dt) > BASE_AGE_MIN ? v + RTK_RAW_base_age_variance(dt) : v;
}

// ---------------------------------------------------------------------------
// Double differences, built group by group (system m, phase f = 0 or code
// f = 1) against one reference satellite per group.

// Inputs of the double differences of one cycle and the rows formed so far.
struct DdInput {
  rtk_t* rtk;
  const nav_t* nav;
  const prcopt_t* opt;
  const double* x;     // states (the ambiguities in cycles, or m for IFLC)
  const double* y;     // undifferenced residuals, m: phase y[2i], code y[2i+1]
  const double* e;     // line-of-sight unit vectors (3 per observation)
  const double* azel;  // azimuth, elevation (rad) per observation
  double bl;           // baseline length, m
  double dt;           // rover minus base observation time, s
  double* v;           // residual rows, m
  double* Hm;          // design rows, NX long each
  int nv;              // rows formed so far
  int counted_code;    // code rows that count towards MIN_CODE_ROWS
};

// Reference satellite of group m, phase/code f: the highest valid one (the
// later index on equal elevation). Index into Sat, or -1 when none.
int dd_reference(const rtk_t* rtk, int m, int f, const double* y, const double* azel, int ns) {
  const prcopt_t* opt = &rtk->opt;
  const bool sbas_no_ref =
      opt->olvo_remove_sbas_after_entering_fix_and_hold || opt->olvo_do_not_use_sbas_when_sv_are_sufficient;
  int ref = -1;
  for (int j = 0; j < ns; ++j) {
    const int sys = rtk->ssat[Sat[j] - 1].sys;
    if (!test_sys(sys, m) || !rtk->ssat[Sat[j] - 1].vs) continue;
    if (sbas_no_ref && sys == SYS_SBS) continue;
    if (!validobs(Iu[j], Ir[j], f, y)) continue;
    if (ref < 0 || azel[1 + Iu[j] * 2] >= azel[1 + Iu[ref] * 2]) ref = j;
  }
  return ref;
}

// Phase row: ambiguity terms of reference sref and satellite sat (wavelengths
// lami, lamj in m) taken off the residual vv and entered in the design row h.
void dd_phase_ambiguity(const DdInput& d, int sref, int sat, double lami, double lamj, double* vv, double* h) {
  const int ii = NP + sref - 1, jj = NP + sat - 1;
  if (d.opt->ionoopt == IONOOPT_IFLC) {
    *vv -= d.x[ii] - d.x[jj];
    h[ii] = 1.0;
    h[jj] = -1.0;
  } else {
    *vv -= lami * d.x[ii] - lamj * d.x[jj];
    h[ii] = lami;
    h[jj] = -lamj;
  }
}

// GLONASS code row: the calibrated single-difference inter-frequency biases
// (m) of the reference and of the satellite taken off the residual vv (m).
double dd_glo_ifb(const nav_t* nav, int sref, int sat, double vv) {
  const int ki = glo_frq(nav, sref), kj = glo_frq(nav, sat);
  if (GLOSDIFB_get_calibrate_cnt(ki) > 0) vv -= GLOSDIFB_get_sd_ifb(ki);
  if (GLOSDIFB_get_calibrate_cnt(kj) > 0) vv += GLOSDIFB_get_sd_ifb(kj);
  return vv;
}

// Code row of group m for satellite sat: counted towards MIN_CODE_ROWS, or,
// for a GLONASS satellite whose bias is not yet stable enough, kept as a zero
// row (residual and design cleared).
void dd_code_row_use(DdInput& d, int m, int sat, double* h) {
  const prcopt_t* opt = d.opt;
  if (m == RTK_GRP_GLO && opt->olvo_only_use_GLO_PR_with_stable_SD_IFB) {
    const int kj = glo_frq(d.nav, sat);
    if (GLOSDIFB_get_calibrate_cnt(kj) < opt->olvo_only_use_GLO_PR_with_stable_SD_IFB) {
      d.v[d.nv] = 0.0;
      for (int k = 0; k < NX; ++k) h[k] = 0.0;
    } else {
      ++d.counted_code;
    }
  } else if (m == RTK_GRP_GPS) {
    ++d.counted_code;
  }
}

constexpr int DD_ROWS_FULL = -1;

// One double-difference row of satellite index j against reference ref in
// group m, phase/code f. Returns 1 when a row was appended, 0 when the
// satellite gives none, DD_ROWS_FULL when no row is left.
int dd_row(DdInput& d, int m, int f, int ref, int j) {
  rtk_t* rtk = d.rtk;
  const prcopt_t* opt = d.opt;
  const double* y = d.y;
  const int sref = Sat[ref];
  const double lami = d.nav->lam[sref - 1][0];
  const int sat = Sat[j];
  const int sys = rtk->ssat[sat - 1].sys;
  if (!test_sys(sys, m) || !rtk->ssat[sat - 1].vs) return 0;
  if (!validobs(Iu[j], Ir[j], f, y)) return 0;
  if (f == 1 && Code_out[sat - 1] > 0) return 0;
  const double lamj = d.nav->lam[sat - 1][0];
  if (lami <= 0.0 || lamj <= 0.0) return 0;
  if (d.nv >= MAXROWS) return DD_ROWS_FULL;
  const int nv = d.nv;
  double* h = d.Hm + nv * NX;
  for (int k = 0; k < NX; ++k) h[k] = 0.0;
  double vv = (y[f + Iu[ref] * 2] - y[f + Ir[ref] * 2]) - (y[f + Iu[j] * 2] - y[f + Ir[j] * 2]);
  for (int k = 0; k < 3; ++k) h[k] = -d.e[k + Iu[ref] * 3] + d.e[k + Iu[j] * 3];
  if (f == 0) dd_phase_ambiguity(d, sref, sat, lami, lamj, &vv, h);
  if (f == 1 && m == RTK_GRP_GLO && opt->olvo_calibrate_GLO_SD_IFB) vv = dd_glo_ifb(d.nav, sref, sat, vv);
  if (f == 0)
    rtk->ssat[sat - 1].resp[0] = vv;
  else
    rtk->ssat[sat - 1].resc[0] = vv;
  if (std::fabs(vv) > opt->maxinno) return 0;
  d.v[nv] = vv;
  Row_sat[nv] = sat;
  Row_code[nv] = static_cast<U08>(f == 1);
  Ri[nv] = varerr(rtk->ssat[sref - 1].sys, d.azel[1 + Iu[ref] * 2], d.bl, d.dt, f, opt);
  Rj[nv] = dd_sat_variance(sys, d.azel[1 + Iu[j] * 2], d.bl, d.dt, f, opt);
  if (opt->olvo_init_state_and_its_cov_by_wls && Is_first_relpos) Ri[nv] = 1e-8;
  if (f == 0) rtk->ssat[sref - 1].vsat[0] = rtk->ssat[sat - 1].vsat[0] = 1;
  if (f == 1) dd_code_row_use(d, m, sat, h);
  ++d.nv;
  return 1;
}

// The stored residuals of group m, phase/code f, made zero-mean for display
// over the rows + 1 satellites of the group (the reference holds 0).
void dd_center_residuals(rtk_t* rtk, int m, int f, int ns, int rows) {
  double sum = 0.0;
  for (int j = 0; j < ns; ++j) {
    const ssat_t& s = rtk->ssat[Sat[j] - 1];
    if (test_sys(s.sys, m)) sum += f == 0 ? s.resp[0] : s.resc[0];
  }
  const double mean = sum / (rows + 1);
  for (int j = 0; j < ns; ++j) {
    ssat_t& s = rtk->ssat[Sat[j] - 1];
    if (!test_sys(s.sys, m)) continue;
    if (f == 0 && s.resp[0] != 0.0) s.resp[0] -= mean;
    if (f == 1 && s.resc[0] != 0.0) s.resc[0] -= mean;
  }
}

// Rows of group m, phase/code f. Returns -1 when the group has no reference
// satellite, else the number of rows appended.
int dd_group(DdInput& d, int m, int f, int ns) {
  const int ref = dd_reference(d.rtk, m, f, d.y, d.azel, ns);
  if (ref < 0) return -1;
  d.rtk->sol.ref_sat_number[m] = Sat[ref];
  int rows = 0;
  for (int j = 0; j < ns; ++j) {
    if (j == ref) continue;
    const int r = dd_row(d, m, f, ref, j);
    if (r == DD_ROWS_FULL) break;
    rows += r;
  }
  if (rows > 0) dd_center_residuals(d.rtk, m, f, ns, rows);
  return rows;
}

// Covariance of the double differences (nv x nv): the reference variance Ri
// throughout a block of nb[k] rows, plus each satellite's own Rj on the diagonal.
void dd_covariance(double* Rm, int nv, const int* nb, int b) {
  for (int i = 0; i < nv * nv; ++i) Rm[i] = 0.0;
  for (int k = 0, i0 = 0; k < b; i0 += nb[k++]) {
    for (int i = 0; i < nb[k]; ++i)
      for (int j = 0; j < nb[k]; ++j) Rm[(i0 + i) + (i0 + j) * nv] = Ri[i0 + i] + (i == j ? Rj[i0 + i] : 0.0);
  }
}

// Normalised residual variance of the error ellipsoid, -1 below four rows.
void dd_residual_variance(const double* v, const double* Rm, int nv) {
  if (nv < 4) {
    Rtk_error_ellip_info_fix.var_res = -1.0f;
    return;
  }
  double q = 0.0;
  for (int i = 0; i < nv; ++i) q += v[i] * v[i] / Rm[i + i * nv];
  Rtk_error_ellip_info_fix.var_res = static_cast<F32>(q / nv);
}

// Double-differenced residuals v, design rows H and covariance R (nv x nv)
// at the states x. Returns the row count (0: no update in this cycle).
int ddres(rtk_t* rtk, const nav_t* nav, double dt, const double* x, const double* y, const double* e,
          const double* azel, int ns, double* v, double* Hm, double* Rm) {
  prcopt_t* opt = &rtk->opt;
  DdInput d{rtk, nav, opt, x, y, e, azel, baseline_len(x, rtk->rb), dt, v, Hm, 0, 0};
  int nb[2 * RTK_NGRP] = {0}, b = 0;
  for (int i = 0; i < MAXSAT; ++i) rtk->ssat[i].resp[0] = rtk->ssat[i].resc[0] = 0.0;
  for (int m = 0; m < RTK_NGRP; ++m) {
    // phase rows (f = 0) in the carrier modes, code rows (f = 1) always
    for (int f = opt->mode > MODE_DGPS ? 0 : 1; f < 2; ++f) {
      const int rows = dd_group(d, m, f, ns);
      if (rows < 0) continue;
      nb[b++] = rows;
    }
  }
  const int nv = d.nv;
  dd_covariance(Rm, nv, nb, b);
  if (opt->olvo_support_error_ellipsoid) dd_residual_variance(v, Rm, nv);
  if (opt->olvo_only_use_GLO_PR_with_stable_SD_IFB && d.counted_code < MIN_CODE_ROWS) return 0;
  return nv;
}

void calculate_error_ellipsoid_needed_info(const double* Hm, int nv, const double* rr) {
  double N[9] = {0};
  for (int r = 0; r < nv; ++r) {
    const double* h = Hm + r * NX;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) N[i + j * 3] += h[i] * h[j];
  }
  if (matinv(N, 3) != 0) return;
  double pos[3], Ex[9], EN[9], Q[9];
  ecef2pos(rr, pos);
  xyz2enu(pos, Ex);
  matmul("NN", 3, 3, 3, 1.0, Ex, N, 0.0, EN);
  matmul("NT", 3, 3, 3, 1.0, EN, Ex, 0.0, Q);
  Rtk_error_ellip_info_fix.edop_sqr = static_cast<F32>(Q[0]);
  Rtk_error_ellip_info_fix.ndop_sqr = static_cast<F32>(Q[4]);
  Rtk_error_ellip_info_fix.vdop_sqr = static_cast<F32>(Q[8]);
  Rtk_error_ellip_info_fix.en_cov = static_cast<F32>(Q[1]);
  Rtk_error_ellip_info_fix.calculate_var_res_enable_flag = 1;
}

// ---------------------------------------------------------------------------
// Satellite selection.

bool in_last_float_set(int sat) {
  for (int k = 0; k < Last_ns_of_float_solution; ++k)
    if (Last_used_sv_of_float_solution[k] == sat) return true;
  return false;
}

int select_common(const obsd_t* obs, int nu, int nr, const double* azel, double mask, bool delay) {
  int ns = 0;
  for (int i = 0, j = nu; i < nu && j < nu + nr; ++i, ++j) {
    if (obs[i].sat < obs[j].sat)
      --j;
    else if (obs[i].sat > obs[j].sat)
      --i;
    else if (azel[1 + j * 2] >= mask) {
      if (delay && !in_last_float_set(obs[i].sat)) continue;
      Sat[ns] = obs[i].sat;
      Iu[ns] = i;
      Ir[ns++] = j;
      if (ns >= MAXSAT) break;
    }
  }
  return ns;
}

int selsat(rtk_t* rtk, const obsd_t* obs, int nu, int nr, const double* azel) {
  const prcopt_t& o = rtk->opt;
  const double mask = RTK_get_baseline() > 2000.0 ? o.tanr_elv_mask_for_baseline_larger_than_2km : o.elmin;
  const bool delay = o.olvo_delay_to_enter_new_sat && !o.olvo_reference_static_started_position &&
                     Last_ratio > DELAY_RATIO_LO && Last_ratio < DELAY_RATIO_HI && Last_ns_of_float_solution > 0;
  int ns = select_common(obs, nu, nr, azel, mask, delay);
  const int maxsv = o.tarn_set_max_rtk_sv_numbers;
  if (maxsv > 0 && ns > maxsv) {
    double el[MAXSAT];
    for (int i = 0; i < ns; ++i) el[i] = azel[1 + Ir[i] * 2];
    std::sort(el, el + ns, [](double a, double b) { return a > b; });
    ns = select_common(obs, nu, nr, azel, std::max(mask, el[maxsv - 1]), delay);
  }
  return ns;
}

// ---------------------------------------------------------------------------
// GLONASS single-difference code bias calibration.

// Samples of the GLONASS bias calibration of one cycle: the GPS code single
// differences (m) met so far, all of them and those with the loss-of-lock bit 6
// set on both receivers, and their mean once the first GLONASS satellite came.
struct IfbCalibration {
  double all[GLOSDIFB_MAX_SAMPLES], lli[GLOSDIFB_MAX_SAMPLES];
  int nall = 0, nlli = 0;
  double mean = 0.0;
  bool mean_done = false;
  bool rtcm_base = false;  // base observations from RTCM 3: their bit 6 is not required
};

// A GPS/QZSS/SBAS code single difference sd (m) at elevation el (rad) and
// C/N0 snr (0.25 dB-Hz) taken as a sample of the mean when above the masks.
void ifb_gps_sample(IfbCalibration& c, double el, int snr, bool lli_both, double sd) {
  if (el < SD_IFB_GPS_ELV || snr < SD_IFB_GPS_SNR) return;
  if (c.nall < GLOSDIFB_MAX_SAMPLES) c.all[c.nall++] = sd;
  if (lli_both && c.nlli < GLOSDIFB_MAX_SAMPLES) c.lli[c.nlli++] = sd;
}

// A GLONASS code single difference sd (m) of satellite sat: the GPS mean is
// formed at the first one (from the flagged samples when there are 4, else
// from all when more than 3); sd minus that mean is a calibration sample of
// the satellite's frequency number when the flags and the masks (tighter
// once 200 samples were taken) are met.
void ifb_glo_sample(IfbCalibration& c, const nav_t* nav, int sat, double el, int snr, bool lli_r, bool lli_b,
                    double sd) {
  if (!c.mean_done) {
    c.mean = c.nlli >= 4 ? GLOSDIFB_cal_mean_sd_gps(c.lli, c.nlli)
                         : (c.nall > 3 ? GLOSDIFB_cal_mean_sd_gps(c.all, c.nall) : 0.0);
    c.mean_done = true;
  }
  const int k = glo_frq(nav, sat);
  if (c.mean == 0.0 || k < -7 || k > 6 || !lli_r || !(lli_b || c.rtcm_base)) return;
  const int cnt = GLOSDIFB_get_calibrate_cnt(k);
  const double elm = (cnt < 200 ? 40.0 : 45.0) * D2R;
  const int snrm = cnt < 200 ? 160 : 180;
  if (el < elm || snr < snrm) return;
  GLOSDIFB_add_sample(k, sd - c.mean);
}

// Calibration samples of this cycle from the code residuals Y of the ns
// selected satellites, on short baselines (< 1500 m) with a fresh base (age < 5 s).
void calibrate_glo_sd_ifb(rtk_t* rtk, const obsd_t* obs, int ns, const nav_t* nav, double age) {
  if (!rtk->opt.olvo_calibrate_GLO_SD_IFB) return;
  if (baseline_len(rtk->sol.rr, rtk->rb) >= SD_IFB_MAX_BASELINE || std::fabs(age) >= SD_IFB_MAX_AGE) return;
  IfbCalibration c;
  c.rtcm_base = RTK_get_base_stream_type() == 1;
  for (int i = 0; i < ns; ++i) {
    const int sat = Sat[i];
    const ssat_t& s = rtk->ssat[sat - 1];
    if (!s.vs) continue;
    const double yr = Y[1 + Iu[i] * 2], yb = Y[1 + Ir[i] * 2];
    if (yr == 0.0 || yb == 0.0) continue;
    const double el = std::max(Azel[1 + Iu[i] * 2], Azel[1 + Ir[i] * 2]);
    const int snr = std::min(obs[Iu[i]].SNR[0], obs[Ir[i]].SNR[0]);
    const bool lli_r = (obs[Iu[i]].LLI[0] & 0x40) != 0, lli_b = (obs[Ir[i]].LLI[0] & 0x40) != 0;
    if (s.sys == SYS_GPS || s.sys == SYS_QZS || s.sys == SYS_SBS)
      ifb_gps_sample(c, el, snr, lli_r && lli_b, yr - yb);
    else if (s.sys == SYS_GLO)
      ifb_glo_sample(c, nav, sat, el, snr, lli_r, lli_b, yr - yb);
  }
}

}  // namespace

// ---------------------------------------------------------------------------

int test_sys(int sys, int m) {
  switch (sys) {
    case SYS_GPS:
    case SYS_SBS:
    case SYS_QZS:
      return m == RTK_GRP_GPS;
    case SYS_GLO:
      return m == RTK_GRP_GLO;
    case SYS_GAL:
      return m == RTK_GRP_GAL;
    case SYS_CMP:
      return m == RTK_GRP_CMP;
    default:
      return 0;
  }
}

void initx(rtk_t* rtk, double xi, double var, int i) {
  rtk->x[i] = xi;
  for (int j = 0; j < rtk->nx; ++j) rtk->P[i + j * rtk->nx] = rtk->P[j + i * rtk->nx] = i == j ? var : 0.0;
}

namespace {

// ---------------------------------------------------------------------------
// Steps of filter(). The k states taking part (Ix) are gathered into Fx, Fp
// (k x k); rows are m long in the work arrays.

// Gathers the states that take part: non-zero value and positive variance.
// Returns their count k.
int gather_states(const double* x, const double* P, int n) {
  int k = 0;
  for (int i = 0; i < n; ++i)
    if (x[i] != 0.0 && P[i + i * n] > 0.0) Ix[k++] = i;
  for (int i = 0; i < k; ++i) {
    Fx[i] = x[Ix[i]];
    for (int j = 0; j < k; ++j) Fp[i + j * k] = P[Ix[i] + Ix[j] * n];
  }
  return k;
}

// Non-zero design entries of each row over the taking-part states.
void sparse_rows(const double* Hm, int n, int m, int k) {
  for (int r = 0; r < m; ++r) {
    int nz = 0;
    for (int i = 0; i < k; ++i) {
      const double h = Hm[r * n + Ix[i]];
      if (h == 0.0) continue;
      Hidx[r * NX + nz] = i;
      Hval[r * NX + nz++] = h;
    }
    Nnz[r] = nz;
  }
}

// F = P H^T (k x m) into Ff.
void form_pht(int m, int k) {
  for (int r = 0; r < m; ++r) {
    double* f = Ff + r * k;
    for (int i = 0; i < k; ++i) f[i] = 0.0;
    for (int t = 0; t < Nnz[r]; ++t) {
      const double h = Hval[r * NX + t];
      const double* pc = Fp + Hidx[r * NX + t] * k;
      for (int i = 0; i < k; ++i) f[i] += pc[i] * h;
    }
  }
}

// Q = H P H^T + R (symmetric, lower triangle) into Fq, then its Cholesky
// factor Q = L L^T in place. Returns 0 when Q is not positive definite.
int innovation_cholesky(const double* Rm, int m, int k) {
  for (int c = 0; c < m; ++c)
    for (int r = c; r < m; ++r) {
      double q = Rm[r + c * m];
      const double* f = Ff + c * k;
      for (int t = 0; t < Nnz[r]; ++t) q += Hval[r * NX + t] * f[Hidx[r * NX + t]];
      Fq[r + c * m] = q;
    }
  for (int j = 0; j < m; ++j) {
    double d = Fq[j + j * m];
    for (int t = 0; t < j; ++t) d -= Fq[j + t * m] * Fq[j + t * m];
    if (!(d > 0.0) || !std::isfinite(d)) return 0;  // not positive definite
    d = std::sqrt(d);
    Fq[j + j * m] = d;
    for (int r = j + 1; r < m; ++r) {
      double q = Fq[r + j * m];
      for (int t = 0; t < j; ++t) q -= Fq[r + t * m] * Fq[j + t * m];
      Fq[r + j * m] = q / d;
    }
  }
  return 1;
}

// With G = L^-1 F^T (m x k, into Fk) and z = L^-1 v: x += G^T z.
void update_states(const double* v, int m, int k) {
  for (int i = 0; i < k; ++i) {
    double* g = Fk + i * m;
    for (int r = 0; r < m; ++r) {
      double q = Ff[i + r * k];
      for (int t = 0; t < r; ++t) q -= Fq[r + t * m] * g[t];
      g[r] = q / Fq[r + r * m];
    }
  }
  double z[MAXROWS];
  Last_innov_chi2 = 0.0;
  for (int r = 0; r < m; ++r) {
    double q = v[r];
    for (int t = 0; t < r; ++t) q -= Fq[r + t * m] * z[t];
    z[r] = q / Fq[r + r * m];
    Last_innov_chi2 += z[r] * z[r];
  }
  for (int i = 0; i < k; ++i) {
    const double* g = Fk + i * m;
    double dx = 0.0;
    for (int r = 0; r < m; ++r) dx += g[r] * z[r];
    Fx[i] += dx;
  }
}

// P -= G^T G (= F Q^-1 F^T = K H P), formed on one triangle and mirrored.
void update_covariance(int m, int k) {
  for (int j = 0; j < k; ++j) {
    const double* gj = Fk + j * m;
    for (int i = j; i < k; ++i) {
      const double* gi = Fk + i * m;
      double d = 0.0;
      for (int r = 0; r < m; ++r) d += gi[r] * gj[r];
      const double p = 0.5 * (Fp[i + j * k] + Fp[j + i * k]) - d;
      Fp[i + j * k] = Fp[j + i * k] = p;
    }
  }
}

// Scatters the updated Fx, Fp back to the full states x and P (n x n).
void scatter_states(double* x, double* P, int n, int k) {
  for (int i = 0; i < k; ++i) {
    x[Ix[i]] = Fx[i];
    for (int j = 0; j < k; ++j) P[Ix[i] + Ix[j] * n] = Fp[i + j * k];
  }
}

}  // namespace

int filter(double* x, double* P, const double* Hm, const double* v, const double* Rm, int n, int m) {
  if (m <= 0 || m > MAXROWS || n > NX) return 0;
  const int k = gather_states(x, P, n);
  if (k == 0) return 0;
  sparse_rows(Hm, n, m, k);
  form_pht(m, k);
  if (!innovation_cholesky(Rm, m, k)) return 0;
  update_states(v, m, k);
  update_covariance(m, k);
  scatter_states(x, P, n, k);
  return 1;
}

int ddmat(rtk_t* rtk, double* D, S16* master_sat_ndx, S16* slave_sat_ndx) {
  const int na = rtk->na, nx = rtk->nx;
  for (int i = 0; i < MAXSAT; ++i) rtk->ssat[i].fix[0] = 0;
  int nb = 0;
  for (int m = 0; m < RTK_NGRP; ++m) {
    if (m == RTK_GRP_GLO && rtk->opt.glomodear == 0) continue;
    int ref = -1;
    for (int i = 0; i < MAXSAT; ++i) {
      const int j = na + i;
      const ssat_t& s = rtk->ssat[i];
      if (!in_group(i, m) || rtk->x[j] == 0.0) continue;
      // with integrity only satellites observed and used in this cycle count
      const bool ok =
          s.lock[0] > 0 && !(s.slip[0] & 2) && s.azel[1] >= rtk->opt.elmaskar && (!rtk->opt.integrity || s.vsat[0]);
      if (!ok) {
        rtk->ssat[i].fix[0] = 1;
        continue;
      }
      rtk->ssat[i].fix[0] = 2;
      if (ref < 0) {
        ref = j;
        continue;
      }
      master_sat_ndx[nb] = static_cast<S16>(ref);
      slave_sat_ndx[nb] = static_cast<S16>(j);
      ++nb;
    }
  }
  if (D != nullptr) {
    const int ny = na + nb;
    for (int i = 0; i < nx * ny; ++i) D[i] = 0.0;
    for (int i = 0; i < na; ++i) D[i + i * nx] = 1.0;
    for (int k = 0; k < nb; ++k) {
      D[master_sat_ndx[k] + (na + k) * nx] = 1.0;
      D[slave_sat_ndx[k] + (na + k) * nx] = -1.0;
    }
  }
  return nb;
}

void generate_Qb_Qab(int nx, int na, int nb, const double*, const double* P, const S16* ms, const S16* ss, double* Qbm,
                     double* Qabm) {
  for (int i = 0; i < nb; ++i)
    for (int j = 0; j < nb; ++j)
      Qbm[i + j * nb] = P[ms[i] + ms[j] * nx] - P[ms[i] + ss[j] * nx] - P[ss[i] + ms[j] * nx] + P[ss[i] + ss[j] * nx];
  for (int i = 0; i < na; ++i)
    for (int j = 0; j < nb; ++j) Qabm[i + j * na] = P[i + ms[j] * nx] - P[i + ss[j] * nx];
}

void restamb(rtk_t* rtk, const double* bias, int nb, double* xa) {
  const int na = rtk->na;
  for (int i = 0; i < rtk->nx; ++i) xa[i] = rtk->x[i];
  for (int i = 0; i < na; ++i) xa[i] = rtk->xa[i];
  int used = 0;
  for (int m = 0; m < RTK_NGRP; ++m) {
    int first = -1;
    for (int i = 0; i < MAXSAT; ++i) {
      if (!in_group(i, m) || rtk->ssat[i].fix[0] != 2) continue;
      if (first < 0) {
        first = na + i;
        continue;
      }
      if (used >= nb) return;
      xa[na + i] = xa[first] - bias[used++];
    }
  }
}

namespace {

// Ratio of the second-best to the best squared residual norm (s0 <= s1), not
// capped. A best candidate that fits exactly (s0 = 0: float ambiguities on
// integers, as on a zero baseline) with a worse second one passes any
// threshold (the largest double); two exact fits give 0, nothing tells them apart.
double ambiguity_ratio(double s0, double s1) {
  if (s1 <= ZERO_SQ_NORM) return 0.0;
  if (s0 <= 0.0) return std::numeric_limits<double>::max();
  return s1 / s0;
}

}  // namespace

int resamb_LAMBDA(rtk_t* rtk, double* bias, double* xa) {
  const prcopt_t& o = rtk->opt;
  const int nx = rtk->nx, na = rtk->na;
  rtk->sol.ratio = 0.0f;
  Lambda_ratio = 0.0f;
  Have_second = 0;
  if (o.mode <= MODE_DGPS || o.modear == 0 || o.thresar[0] < 1.0) return 0;
  const int nb = ddmat(rtk, nullptr, Master, Slave);
  if (nb < 1 || (o.integrity && nb < FIX_MIN_DD)) return 0;
  generate_Qb_Qab(nx, na, nb, nullptr, rtk->P, Master, Slave, Qb, Qab);
  for (int k = 0; k < nb; ++k) Yb[k] = rtk->x[Master[k]] - rtk->x[Slave[k]];
  double s[2] = {0.0, 0.0};
  if (nb > LAMBDA_MAX_N || lambda(nb, 2, Yb, Qb, Bcand, s) != 0) return 0;
  const double ratio = ambiguity_ratio(s[0], s[1]);
  rtk->sol.ratio = static_cast<float>(std::min(ratio, MAX_RATIO));
  Lambda_ratio = rtk->sol.ratio;
  if (o.olvo_float_rtk_mode) return 0;
  if (!(ratio >= (o.integrity ? ratio_threshold(o.thresar[0], nb) * float_sigma_factor(rtk) : o.thresar[0]))) return 0;

  for (int i = 0; i < na; ++i) {
    rtk->xa[i] = rtk->x[i];
    for (int j = 0; j < na; ++j) rtk->Pa[i + j * na] = rtk->P[i + j * nx];
  }
  for (int k = 0; k < nb; ++k) {
    bias[k] = Bcand[k];
    Yb[k] -= Bcand[k];
  }
  if (matinv(Qb, nb) != 0) return 0;
  matmul("NN", nb, 1, nb, 1.0, Qb, Yb, 0.0, Db);
  matmul("NN", na, 1, nb, -1.0, Qab, Db, 1.0, rtk->xa);
  matmul("NN", na, nb, nb, 1.0, Qab, Qb, 0.0, QQ);
  matmul("NT", na, na, nb, -1.0, QQ, Qab, 1.0, rtk->Pa);
  // the second-best candidate as a full state vector, for the residual ratio
  // of held fixes (Qb holds its inverse here)
  if (o.integrity && Holding) {
    for (int k = 0; k < nb; ++k) Yb2[k] = Yb[k] + Bcand[k] - Bcand[nb + k];
    matmul("NN", nb, 1, nb, 1.0, Qb, Yb2, 0.0, Db2);
    for (int i = 0; i < na; ++i) Lead2[i] = rtk->x[i];
    matmul("NN", na, 1, nb, -1.0, Qab, Db2, 1.0, Lead2);
    restamb(rtk, Bcand + nb, nb, Xa2);
    for (int i = 0; i < na; ++i) Xa2[i] = Lead2[i];
    Have_second = 1;
  }
  restamb(rtk, bias, nb, xa);
  return nb;
}

void holdamb(rtk_t* rtk, const double* xa) {
  const int nx = rtk->nx, na = rtk->na;
  int nv = 0;
  for (int m = 0; m < RTK_NGRP; ++m) {
    int ref = -1;
    for (int i = 0; i < MAXSAT; ++i) {
      ssat_t& s = rtk->ssat[i];
      if (!in_group(i, m) || s.fix[0] != 2 || s.azel[1] < rtk->opt.elmaskhold) continue;
      s.fix[0] = 3;
      const int j = na + i;
      if (ref < 0) {
        ref = j;
        continue;
      }
      if (nv >= MAXROWS) continue;
      double* h = H + nv * nx;
      for (int k = 0; k < nx; ++k) h[k] = 0.0;
      V[nv] = (xa[ref] - xa[j]) - (rtk->x[ref] - rtk->x[j]);
      h[ref] = 1.0;
      h[j] = -1.0;
      ++nv;
    }
  }
  if (nv <= 0) return;
  for (int i = 0; i < nv * nv; ++i) R[i] = 0.0;
  for (int i = 0; i < nv; ++i) R[i + i * nv] = RTK_VAR_HOLDAMB;
  filter(rtk->x, rtk->P, H, V, R, nx, nv);
}

namespace {

// ---------------------------------------------------------------------------
// Steps of relpos().

// Per-cycle satellite fields cleared; the system of each index set.
void reset_cycle_sats(rtk_t* rtk) {
  for (int i = 0; i < MAXSAT; ++i) {
    rtk->ssat[i].sys = static_cast<unsigned char>(sys_of(i + 1));
    rtk->ssat[i].vsat[0] = 0;
    rtk->ssat[i].snr[0] = 0;
  }
}

// The ns selected satellites kept as the set of this float solution.
void remember_float_set(int ns) {
  Last_ns_of_float_solution = std::min(ns, static_cast<int>(RTK_MAX_USED_SV));
  for (int i = 0; i < Last_ns_of_float_solution; ++i) Last_used_sv_of_float_solution[i] = Sat[i];
}

constexpr int FLOAT_CHI2_FAIL = -1;     // innovations' chi-square test failed
constexpr int FLOAT_POSTFIT_FAIL = -2;  // post-fit residuals' chi-square test failed

double quad_form(const double* Rm, const double* v, int nv);

// Chi-square v^T R^-1 v of the nv post-fit residuals of the last update: the
// pre-fit rows V (at the states xp) moved by each row's design to the updated
// states x. Negative when R is not positive definite.
double postfit_chi2(const double* xp, const double* x, int nv) {
  double w[MAXROWS];
  for (int r = 0; r < nv; ++r) {
    const double* h = H + r * NX;
    w[r] = V[r];
    for (int k = 0; k < NX; ++k)
      if (h[k] != 0.0) w[r] -= h[k] * (x[k] - xp[k]);
  }
  return quad_form(R, w, nv);
}

// Row k of the nv double differences (V, H, R) removed. Returns nv - 1.
int remove_row(int k, int nv) {
  for (int r = k; r + 1 < nv; ++r) {
    V[r] = V[r + 1];
    Row_sat[r] = Row_sat[r + 1];
    Row_code[r] = Row_code[r + 1];
    std::memcpy(H + r * NX, H + (r + 1) * NX, sizeof(double) * NX);
  }
  const int m = nv - 1;
  for (int c = 0, cc = 0; c < nv; ++c) {
    if (c == k) continue;
    for (int r = 0, rr = 0; r < nv; ++r) {
      if (r == k) continue;
      R[rr + cc * m] = R[r + c * nv];  // in place: target index never ahead of the source
      ++rr;
    }
    ++cc;
  }
  return m;
}

// Innovation test per row at the states x, P: the satellite of the row with
// the largest normalised squared innovation v^2 / (h P h^T + R) loses its rows
// while that exceeds ROW_OUTLIER_CHI2 (counted per satellite). Returns the
// rows left.
int reject_outlier_rows(const double* x, const double* P, int nv) {
  int idx[8];
  while (nv > 0) {
    int worst = -1;
    double wq = ROW_OUTLIER_CHI2;
    for (int r = 0; r < nv; ++r) {
      const double* h = H + r * NX;
      int nz = 0;
      for (int i = 0; i < NX && nz < 8; ++i)
        if (h[i] != 0.0 && x[i] != 0.0) idx[nz++] = i;
      double q = R[r + r * nv];
      for (int a = 0; a < nz; ++a)
        for (int b = 0; b < nz; ++b) q += h[idx[a]] * P[idx[a] + idx[b] * NX] * h[idx[b]];
      const double t = q > 0.0 ? V[r] * V[r] / q : 0.0;
      if (t > wq) {
        wq = t;
        worst = r;
      }
    }
    if (worst < 0) break;
    // the satellite is left out of this cycle: its phase and its code row
    const int sat = Row_sat[worst];
    for (int r = nv - 1; r >= 0; --r)
      if (Row_sat[r] == sat) nv = remove_row(r, nv);
    ++Outlier_cnt;
  }
  return nv;
}

// Measurement update of the float states by the double differences of the ns
// selected satellites; dt: rover minus base observation time, s. Returns 0
// when a residual set or an update fails or the float check against the
// single-point solution refuses it (the states then stay as they were).
int float_update_once(rtk_t* rtk, const obsd_t* obs, int nu, int ns, const nav_t* nav, double dt) {
  const prcopt_t* opt = &rtk->opt;
  const int niter = opt->niter + (opt->mode == MODE_MOVEB && opt->baseline[0] > 0.0 ? 2 : 0);
  // A single update that nothing can refuse afterwards works on the states in
  // place (a failed update leaves them unchanged); otherwise on a copy.
  const bool copy = niter > 1 || opt->tarn_check_float_with_pnt_pos;
  if (opt->integrity) std::memcpy(Xb, rtk->x, sizeof Xb);
  double* xs = rtk->x;
  double* Ps = rtk->P;
  if (copy) {
    std::memcpy(Xp, rtk->x, sizeof Xp);
    std::memcpy(Pp, rtk->P, sizeof Pp);
    xs = Xp;
    Ps = Pp;
  }
  int nv = 0;
  for (int it = 0; it < niter; ++it) {
    if (!zdres(0, obs, nu, Rs, Dts, Svh, nav, xs, opt, Y, E, Azel)) return 0;
    if (it == 0) calibrate_glo_sd_ifb(rtk, obs, ns, nav, rtk->sol.age);
    nv = ddres(rtk, nav, dt, xs, Y, E, Azel, ns, V, H, R);
    if (opt->integrity) nv = reject_outlier_rows(xs, Ps, nv);
    if (nv < 1) return 0;
    if (opt->integrity) std::memcpy(Xpre, xs, sizeof Xpre);
    if (!filter(xs, Ps, H, V, R, NX, nv)) return 0;
    Rows_nv = nv;
    // joint test of the innovations: a set that contradicts the predicted
    // states (stale ambiguities after an outage, an undetected slip) is refused
    if (opt->integrity && Last_innov_chi2 > chisqr(nv)) return FLOAT_CHI2_FAIL;
    // and of the post-fit residuals: an update whose states still leave the
    // rows unexplained is refused. For one linear update the post-fit
    // chi-square never exceeds the innovations' one, so it is tested on its
    // own degrees of freedom: the rows less the 3 position unknowns they fix
    if (opt->integrity && nv > POSTFIT_DOF_LOSS && postfit_chi2(Xpre, xs, nv) > chisqr(nv - POSTFIT_DOF_LOSS))
      return FLOAT_POSTFIT_FAIL;
  }
  // The post-fit residual check accepts every set, so the residuals are not
  // formed again at the updated states: the stored residuals are the pre-fit
  // ones and the error ellipsoid uses the design of the update.
  if (opt->olvo_support_error_ellipsoid) calculate_error_ellipsoid_needed_info(H, nv, xs);
  if (opt->tarn_check_float_with_pnt_pos && baseline_len(xs, rtk->sol.rr) >= 30.0) return 0;
  if (copy) {
    std::memcpy(rtk->x, Xp, sizeof Xp);
    std::memcpy(rtk->P, Pp, sizeof Pp);
  }
  return 1;
}

// Residual of row r of the last update at the states x, from its pre-fit
// residual at Xb by the row's design (linear in the state change; the
// geometry's change over metres is negligible at satellite ranges).
double row_residual_at(int r, const double* x) {
  const double* h = H + r * NX;
  double v = V[r];
  for (int k = 0; k < NX; ++k)
    if (h[k] != 0.0) v -= h[k] * (x[k] - Xb[k]);
  return v;
}

// Post-fit code residuals of the last update at the updated states x: the
// satellite whose code row lies furthest out, beyond POSTFIT_CODE_SIGMA of
// its own sigma, or 0.
int postfit_code_outlier(const double* x) {
  const int nv = Rows_nv;
  int worst = 0;
  double wr = POSTFIT_CODE_SIGMA;
  for (int r = 0; r < nv; ++r) {
    if (!Row_code[r] || !(R[r + r * nv] > 0.0)) continue;
    const double t = std::fabs(row_residual_at(r, x)) / std::sqrt(R[r + r * nv]);
    if (t > wr) {
      wr = t;
      worst = Row_sat[r];
    }
  }
  return worst;
}

// Measurement update (float_update_once); with integrity, a code row whose
// post-fit residual stands out leaves its satellite's code out of the next
// POSTFIT_CODE_HOLD epochs (counted as an outlier). Returns as float_update_once.
int float_update(rtk_t* rtk, const obsd_t* obs, int nu, int ns, const nav_t* nav, double dt) {
  const int r = float_update_once(rtk, obs, nu, ns, nav, dt);
  if (r != 1 || !rtk->opt.integrity) return r;
  const int sat = postfit_code_outlier(rtk->x);
  if (sat > 0) {
    Code_out[sat - 1] = POSTFIT_CODE_HOLD;
    ++Outlier_cnt;
  }
  return 1;
}

// Lock counts of the satellites that gave phase rows advanced. Returns their count.
int count_used_sats(rtk_t* rtk, int ns) {
  int nsu = 0;
  for (int i = 0; i < ns; ++i) {
    ssat_t& s = rtk->ssat[Sat[i] - 1];
    if (!s.vsat[0]) continue;
    s.lock[0]++;
    s.outc[0] = 0;
    ++nsu;
  }
  return nsu;
}

// v^T Rm^-1 v of nv rows by the Cholesky factor of Rm (nv x nv) in Fq;
// a negative value when Rm is not positive definite.
// Cholesky factor Rm = L L^T (nv x nv, lower triangle read) into Fq. Returns
// false when Rm is not positive definite.
bool factor_into_fq(const double* Rm, int nv) {
  for (int c = 0; c < nv; ++c)
    for (int r = c; r < nv; ++r) Fq[r + c * nv] = Rm[r + c * nv];
  for (int j = 0; j < nv; ++j) {
    double d = Fq[j + j * nv];
    for (int t = 0; t < j; ++t) d -= Fq[j + t * nv] * Fq[j + t * nv];
    if (!(d > 0.0)) return false;
    d = std::sqrt(d);
    Fq[j + j * nv] = d;
    for (int r = j + 1; r < nv; ++r) {
      double e = Fq[r + j * nv];
      for (int t = 0; t < j; ++t) e -= Fq[r + t * nv] * Fq[j + t * nv];
      Fq[r + j * nv] = e / d;
    }
  }
  return true;
}

// v^T Rm^-1 v = |L^-1 v|^2 with the factor L in Fq.
double quad_with_fq(const double* v, int nv) {
  double q = 0.0, z[MAXROWS];
  for (int j = 0; j < nv; ++j) {
    double w = v[j];
    for (int t = 0; t < j; ++t) w -= Fq[j + t * nv] * z[t];
    z[j] = w / Fq[j + j * nv];
    q += z[j] * z[j];
  }
  return q;
}

double quad_form(const double* Rm, const double* v, int nv) {
  return factor_into_fq(Rm, nv) ? quad_with_fq(v, nv) : -1.0;
}

// A fix (rtk->xa and the restored ambiguities Xa) is taken only when it lies
// within FIX_MAX_SPP_DIST of this cycle's single-point position (when there is
// one) and its double-difference residuals pass the chi-square test.
bool fixed_solution_consistent(rtk_t* rtk) {
  if (!Spp_failed && baseline_len(rtk->xa, Spp_pos) > FIX_MAX_SPP_DIST) return false;
  // a fixed position the filter itself knows only to decimetres is no fix
  if ((rtk->Pa[0] + rtk->Pa[1 + NP] + rtk->Pa[2 + 2 * NP]) / 3.0 > sqr(FIX_MAX_SIGMA)) return false;
  int nv = Rows_nv;
  // phase rows of satellites left float carry their float ambiguity: only the
  // fixed ones (and the code rows) are tested
  for (int r = nv - 1; r >= 0; --r) {
    const double* h = H + r * NX;
    for (int j = NP; j < NX; ++j) {
      if (h[j] == 0.0 || rtk->ssat[j - NP].fix[0] == 2) continue;
      nv = remove_row(r, nv);
      break;
    }
  }
  if (nv < 1) return false;
  double w[MAXROWS];
  for (int r = 0; r < nv; ++r) w[r] = row_residual_at(r, Xa);
  const double q = quad_form(R, w, nv);  // leaves the factor of R in Fq
  if (Have_second && q >= 0.0) {
    // held ambiguities: the LAMBDA ratio on the held states only grows with
    // the hold time, so the ratio reported is the one of this cycle's
    // residuals, second-best candidate against the best
    for (int r = 0; r < nv; ++r) w[r] = row_residual_at(r, Xa2);
    const double q2 = quad_with_fq(w, nv);
    rtk->sol.ratio = static_cast<float>(std::min(q2 >= 0.0 ? ambiguity_ratio(q, q2) : 0.0, MAX_RATIO));
  }
  return q >= 0.0 && q <= chisqr(nv);
}

// Integer ambiguity resolution, then fix-and-hold once enough fixes followed
// each other (more with fewer than nsu = 10 satellites). Returns SOLQ_FIX on
// a fix, else stat unchanged.
int resolve_ambiguities(rtk_t* rtk, int stat, int nsu) {
  const prcopt_t* opt = &rtk->opt;
  if (stat == SOLQ_NONE) return stat;
  if (resamb_LAMBDA(rtk, Bias, Xa) <= 1) return stat;
  if (opt->integrity && !fixed_solution_consistent(rtk)) {
    ++Fix_refused_cnt;
    // held ambiguities that give an inconsistent fix are released
    if (Holding) {
      ++Fix_released_cnt;
      reset_all_ambiguities(rtk);
    }
    return stat;
  }
  ++rtk->nfix;
  int limit = opt->minfix;
  if (nsu < 8)
    limit += HOLD_EXTRA_FEW;
  else if (nsu <= 9)
    limit += HOLD_EXTRA_MID;
  if ((rtk->nfix >= limit || opt->olvo_reference_static_started_position) && opt->modear == MODEAR_FIXHOLD) {
    holdamb(rtk, Xa);
    Holding = 1;
    ++Rtk_sol_fix_and_hold_cnt;
    if (opt->olvo_remove_sbas_after_entering_fix_and_hold) Is_fix_and_hold = 1;
  }
  return SOLQ_FIX;
}

// Position covariance of the solution (m^2: xx, yy, zz, xy, yz, zx) from the
// leading 3 x 3 block of P, n the leading dimension of P.
void set_position_cov(sol_t* sol, const double* P, int n) {
  sol->qr[0] = static_cast<float>(P[0]);
  sol->qr[1] = static_cast<float>(P[1 + 1 * n]);
  sol->qr[2] = static_cast<float>(P[2 + 2 * n]);
  sol->qr[3] = static_cast<float>(P[1]);
  sol->qr[4] = static_cast<float>(P[2 + 1 * n]);
  sol->qr[5] = static_cast<float>(P[2]);
}

// Position, velocity and covariance of the solution: the fixed states on a
// fix, the float states otherwise (none when stat is SOLQ_NONE).
void store_solution(rtk_t* rtk, int stat) {
  if (stat == SOLQ_FIX) {
    for (int i = 0; i < 3; ++i) rtk->sol.rr[i] = rtk->xa[i];
    for (int i = 3; i < 6; ++i) rtk->sol.rr[i] = rtk->xa[i];
    set_position_cov(&rtk->sol, rtk->Pa, NP);
    return;
  }
  if (stat != SOLQ_NONE) {
    for (int i = 0; i < 6; ++i) rtk->sol.rr[i] = rtk->x[i];
    set_position_cov(&rtk->sol, rtk->P, NX);
  }
  rtk->nfix = 0;
  if (rtk->opt.olvo_remove_sbas_after_entering_fix_and_hold) Is_fix_and_hold = 0;
}

// Carrier phase and time of each of the n observations kept for the Doppler
// slip test of the next cycle.
void remember_phase(rtk_t* rtk, const obsd_t* obs, int n) {
  for (int i = 0; i < n; ++i) {
    if (obs[i].L[0] == 0.0) continue;
    ssat_t& s = rtk->ssat[obs[i].sat - 1];
    const int r = obs[i].rcv == 1 ? 0 : 1;
    s.pt[r][0] = obs[i].time;
    s.ph[r][0] = obs[i].L[0];
  }
}

// A fix with fewer than 11 satellites is reported as float (ratio 2.99) until
// enough fixes followed each other. Returns the status to report.
int delay_fix(rtk_t* rtk, int stat, int nsu) {
  const prcopt_t* opt = &rtk->opt;
  if (opt->tarn_delay_fix_sol && !opt->olvo_reference_static_started_position && stat == SOLQ_FIX && nsu < 11) {
    const int need = nsu < 9 ? 20 : (nsu == 9 ? 15 : 5);
    if (rtk->nfix < need) {
      stat = SOLQ_FLOAT;
      rtk->sol.ratio = 2.99f;
    }
  }
  return stat;
}

// The update contradicts the states (fail: FLOAT_CHI2_FAIL or
// FLOAT_POSTFIT_FAIL, counted): ambiguities and position restart (from the
// single-point solution when there is one) for the ns selected satellites;
// the caller redoes the update.
void restart_after_chi2(rtk_t* rtk, int fail, int ns) {
  const prcopt_t* opt = &rtk->opt;
  ++(fail == FLOAT_CHI2_FAIL ? Chi2_restart_cnt : Postfit_restart_cnt);
  reset_all_ambiguities(rtk);
  // the prediction serves as the new start unless the single-point
  // solution contradicts it
  if (!Spp_failed && baseline_len(Xb, Spp_pos) > FIX_MAX_SPP_DIST) {
    init_kinematic_states(rtk, opt->dynamics && opt->mode != MODE_STATIC);
  } else {
    for (int i = 0; i < 3; ++i) initx(rtk, Xb[i], VAR_POS, i);
    for (int i = 3; i < 9 && opt->dynamics; ++i)
      initx(rtk, Xb[i] != 0.0 ? Xb[i] : INIT_ACC, i < 6 ? VAR_VEL : VAR_ACC, i);
  }
  if (opt->mode > MODE_DGPS) init_new_ambiguities(rtk, ns);
}

}  // namespace

int relpos(rtk_t* rtk, const obsd_t* obs, int nu, int nr, const nav_t* nav) {
  prcopt_t* opt = &rtk->opt;
  for (int i = 0; i < 3; ++i) Spp_pos[i] = rtk->sol.rr[i];
  for (U08& c : Code_out)
    if (c > 0) --c;
  talon_assert(nu + nr <= NOBS && nu >= 0 && nr >= 0, "relpos observation count");
  const gtime_t time = obs[0].time;
  const double dt = timediff(time, obs[nu].time);
  int stat = opt->mode <= MODE_DGPS ? SOLQ_DGPS : SOLQ_FLOAT;
  reset_cycle_sats(rtk);
  // rover satellites as the single-point solution of this cycle computed them
  // (same epoch, same observations); the base satellites here
  if (!PNTPOS_get_sat_states(obs, nu, Rs, Dts, Var, Svh)) satposs(time, obs, nu, nav, opt->sateph, Rs, Dts, Var, Svh);
  satposs(time, obs + nu, nr, nav, opt->sateph, Rs + nu * 6, Dts + nu * 2, Var + nu, Svh + nu);

  if (!zdres(1, obs + nu, nr, Rs + nu * 6, Dts + nu * 2, Svh + nu, nav, rtk->rb, opt, Y + nu * 2, E + nu * 3,
             Azel + nu * 2))
    return 0;
  const int ns = selsat(rtk, obs, nu, nr, Azel);
  if (ns <= 0) return 0;
  if (opt->olvo_delay_to_enter_new_sat) remember_float_set(ns);

  // time update over the real time since the last one
  double tt = rtk->tt;
  if (opt->integrity && Filter_time.time != 0.0) tt = timediff(time, Filter_time);
  Filter_time = time;
  Time_updated = 1;
  udpos(rtk, std::fabs(tt));
  if (opt->mode > MODE_DGPS) udbias(rtk, tt, obs, ns, nav);
  // measurement update
  int fu = float_update(rtk, obs, nu, ns, nav, dt);
  if (fu == FLOAT_CHI2_FAIL || fu == FLOAT_POSTFIT_FAIL) {
    restart_after_chi2(rtk, fu, ns);
    fu = float_update(rtk, obs, nu, ns, nav, dt);
  }
  if (fu != 1) return 0;
  const int nsu = count_used_sats(rtk, ns);
  rtk->sol.ns = static_cast<unsigned char>(nsu);
  if (nsu < 4)
    stat = SOLQ_NONE;
  else
    Last_good_update = time;
  Is_first_relpos = 0;

  stat = resolve_ambiguities(rtk, stat, nsu);
  store_solution(rtk, stat);
  remember_phase(rtk, obs, nu + nr);
  for (int i = 0; i < ns; ++i) rtk->ssat[Sat[i] - 1].snr[0] = obs[Iu[i]].SNR[0];
  if (stat != SOLQ_FIX) {
    for (auto& s : rtk->ssat)
      if (s.fix[0] == 2) s.fix[0] = 1;
  }
  stat = delay_fix(rtk, stat, nsu);
  if (stat == SOLQ_FLOAT && rtk->sol.ratio < 1.0f) rtk->sol.ratio = 1.0f;
  if (stat != SOLQ_NONE) rtk->sol.stat = static_cast<unsigned char>(stat);
  // the delay of new satellites keys on the LAMBDA ratio (held fixes included)
  if (opt->olvo_delay_to_enter_new_sat) Last_ratio = Have_second && stat == SOLQ_FIX ? Lambda_ratio : rtk->sol.ratio;
  if (opt->olvo_reference_static_started_position) Last_stat = static_cast<U08>(stat);
  return stat != SOLQ_NONE;
}

void RELPOS_begin_cycle(int spp_failed) {
  Spp_failed = static_cast<U08>(spp_failed != 0);
  Time_updated = 0;
  for (U08& t : Slip_tested) t = 0;
}

int RELPOS_time_updated() { return Time_updated; }

int RELPOS_slip_tested(int sat) { return sat >= 1 && sat <= MAXSAT ? Slip_tested[sat - 1] : 0; }

void RELPOS_count_outage(rtk_t* rtk) {
  for (auto& s : rtk->ssat) s.outc[0]++;
}

void RELPOS_init(const prcopt_t* opt) {
  Filter_time = gtime_t{};
  Time_updated = Spp_failed = Holding = 0;
  Last_good_update = gtime_t{};
  for (U08& t : Slip_tested) t = 0;
  for (U08& c : Code_out) c = 0;
  Chi2_restart_cnt = Outlier_cnt = Fix_refused_cnt = Fix_released_cnt = Spp_restart_cnt = 0;
  Postfit_restart_cnt = 0;
  Is_first_relpos = opt->olvo_init_state_and_its_cov_by_wls != 0;
  Is_fix_and_hold = 0;
  Rtk_sol_fix_and_hold_cnt = 0;
  Last_stat = 0;
  RELPOS_clear_last_float();
  CS_CNT = INIT_X_CNT = 0;
  RELPOS_reset_error_ellipsoid();
}

int RELPOS_is_fix_and_hold() { return Is_fix_and_hold; }

void RELPOS_clear_last_float() {
  Last_ratio = 0.0f;
  Last_ns_of_float_solution = 0;
  for (int& s : Last_used_sv_of_float_solution) s = 0;
}

void RELPOS_reset_error_ellipsoid() {
  Rtk_error_ellip_info_fix = RTK_ERROR_ELLIPSOID_NEEDED_INFO_T{};
  Rtk_error_ellip_info_fix.var_res = -1.0f;
}

int RELPOS_get_error_ellipsoid(F32* edop_sqr, F32* ndop_sqr, F32* vdop_sqr, F32* en_cov, F32* var_res) {
  const auto& e = Rtk_error_ellip_info_fix;
  *edop_sqr = e.edop_sqr;
  *ndop_sqr = e.ndop_sqr;
  *vdop_sqr = e.vdop_sqr;
  *en_cov = e.en_cov;
  *var_res = e.var_res;
  return e.var_res == -1.0f ? 0 : 1;
}

void RELPOS_set_first(int first) { Is_first_relpos = static_cast<U08>(first != 0); }

void RELPOS_get_counts(RELPOS_COUNTS_T* c) {
  c->cs_cnt = CS_CNT;
  c->init_x_cnt = INIT_X_CNT;
  c->fix_and_hold_cnt = Rtk_sol_fix_and_hold_cnt;
  c->chi2_restart_cnt = Chi2_restart_cnt;
  c->postfit_restart_cnt = Postfit_restart_cnt;
  c->outlier_cnt = Outlier_cnt;
  c->fix_refused_cnt = Fix_refused_cnt;
  c->fix_released_cnt = Fix_released_cnt;
  c->spp_restart_cnt = Spp_restart_cnt;
}

double RELPOS_dd_sat_variance(int sys, double el, double bl, double age, int f, const prcopt_t* opt) {
  return dd_sat_variance(sys, el, bl, age, f, opt);
}

int RELPOS_get_last_float_sats(int* sats) {
  for (int i = 0; i < Last_ns_of_float_solution; ++i) sats[i] = Last_used_sv_of_float_solution[i];
  return Last_ns_of_float_solution;
}
