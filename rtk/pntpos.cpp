#include "rtk/pntpos.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "rtk/eph.h"

namespace {

constexpr int NX = PNT_NX;
constexpr int MAXROWS = MAXOBS + 4;
constexpr double ERR_ION = 5.0;    // ionosphere error without a model, m
constexpr double ERR_TROP = 3.0;   // troposphere error without a model, m
constexpr double ERR_SAAS = 0.3;   // Saastamoinen model error at zenith, m
constexpr double ERR_BRDCI = 0.5;  // broadcast ionosphere model error factor
constexpr double EFACT_GPS = 1.0;
constexpr double EFACT_GLO = 1.5;
constexpr double EFACT_SBS = 3.0;
constexpr double REL_HUMI = 0.7;
constexpr double CLOCK_CONSTRAINT_VAR = 0.01;
constexpr int IONOOPT_OFF = 0, IONOOPT_BRDC = 1, IONOOPT_IFLC = 3;
constexpr int TROPOPT_OFF = 0, TROPOPT_SAAS = 1, TROPOPT_EST = 3, TROPOPT_ESTG = 4;

// Chi-square values at 99.9 % for 1..100 degrees of freedom.
constexpr double CHISQR[100] = {
    10.8, 13.8, 16.3, 18.5, 20.5, 22.5, 24.3, 26.1, 27.9, 29.6, 31.3, 32.9, 34.5, 36.1, 37.7, 39.3, 40.8,
    42.3, 43.8, 45.3, 46.8, 48.3, 49.7, 51.2, 52.6, 54.1, 55.5, 56.9, 58.3, 59.7, 61.1, 62.5, 63.9, 65.2,
    66.6, 68.0, 69.3, 70.7, 72.1, 73.4, 74.7, 76.1, 77.4, 78.7, 80.1, 81.4, 82.7, 84.0, 85.4, 86.7, 88.0,
    89.3, 90.6, 91.9, 93.2, 94.5, 95.8, 97.0, 98.3, 99.6, 101,  102,  103,  105,  106,  107,  109,  110,
    111,  112,  114,  115,  116,  117,  119,  120,  121,  122,  124,  125,  126,  127,  129,  130,  131,
    132,  134,  135,  136,  137,  138,  140,  141,  142,  143,  145,  146,  147,  148,  149};

// Satellite states of one pntpos call.
double Rs[6 * MAXOBS], Dts[2 * MAXOBS], Var[MAXOBS], Azel[2 * MAXOBS], Resp[MAXOBS];
int Svh[MAXOBS];
int Vsat[MAXOBS];
// Observations of the last satposs call: count, satellites and epoch.
int Last_n = 0;
unsigned char Last_sat[MAXOBS];
gtime_t Last_time{};
// Work space of estpos.
double V[MAXROWS], H[NX * MAXROWS], Var_rows[MAXROWS];
// Trial copies of raim_fde.
obsd_t Obs_e[MAXOBS];
double Rs_e[6 * MAXOBS], Dts_e[2 * MAXOBS], Var_e[MAXOBS], Azel_e[2 * MAXOBS], Resp_e[MAXOBS];
int Svh_e[MAXOBS], Vsat_e[MAXOBS];

int Excluded_sat = 0;   // satellite with the largest residual of the last residual computation
double Abs_resp = 0.0;  // its absolute residual, m
unsigned int Chi_sqr_fail_cnt = 0;

double varerr(const prcopt_t* opt, double el, int sys) {
  const double fact = sys == SYS_GLO ? EFACT_GLO : (sys == SYS_SBS ? EFACT_SBS : EFACT_GPS);
  double varr = opt->err[1] * opt->err[1] + opt->err[2] * opt->err[2] / std::sin(el);
  varr *= opt->eratio[0] * opt->eratio[0];
  if (opt->ionoopt == IONOOPT_IFLC) varr *= 9.0;
  return fact * fact * varr;
}

// Pseudorange of the first frequency corrected for the group delay (GPS/QZSS L1 users).
double prange(const obsd_t* obs, const nav_t* nav, double* var) {
  *var = 0.0;
  double p1 = obs->P[0];
  if (p1 == 0.0) return 0.0;
  *var = PNT_ERR_CBIAS * PNT_ERR_CBIAS;
  const int sys = satsys(obs->sat, nullptr);
  if (sys == SYS_GPS || sys == SYS_QZS) p1 -= gettgd(obs->sat, nav);
  return p1;
}

int ionocorr(gtime_t time, const nav_t* nav, const double* pos, const double* azel, int ionoopt, double* ion,
             double* var) {
  if (ionoopt == IONOOPT_BRDC) {
    *ion = ionmodel(time, nav->ion_gps, pos, azel);
    *var = (*ion * ERR_BRDCI) * (*ion * ERR_BRDCI);
    return 1;
  }
  *ion = 0.0;
  *var = ionoopt == IONOOPT_OFF ? ERR_ION * ERR_ION : 0.0;
  return 1;
}

int tropcorr(gtime_t time, const double* pos, const double* azel, int tropopt, double* trp, double* var) {
  if (tropopt == TROPOPT_SAAS || tropopt == TROPOPT_EST || tropopt == TROPOPT_ESTG) {
    *trp = tropmodel(time, pos, azel, REL_HUMI);
    *var = (ERR_SAAS / (std::sin(azel[1]) + 0.1)) * (ERR_SAAS / (std::sin(azel[1]) + 0.1));
    return 1;
  }
  *trp = 0.0;
  *var = tropopt == TROPOPT_OFF ? ERR_TROP * ERR_TROP : 0.0;
  return 1;
}

// Clock column of a row of system sys: a GLONASS, Galileo or BeiDou row takes
// its clock offset state (x[4], x[5], x[6], m) off the residual *v and has 1 in
// that column of h; mask (4 clock groups) marks the group used.
void clock_column(int sys, const double* x, double* v, double* h, int* mask) {
  if (sys == SYS_GLO) {
    *v -= x[4];
    h[4] = 1.0;
    mask[1] = 1;
  } else if (sys == SYS_GAL) {
    *v -= x[5];
    h[5] = 1.0;
    mask[2] = 1;
  } else if (sys == SYS_CMP) {
    *v -= x[6];
    h[6] = 1.0;
    mask[3] = 1;
  } else {
    mask[0] = 1;
  }
}

// Rows after the nv measurement rows that hold the clock states of the
// unused groups (mask 0) at zero. Returns the new row count.
int clock_constraints(const int* mask, int nv, double* v, double* Hm, double* var) {
  for (int i = 0; i < 4; ++i) {
    if (mask[i]) continue;
    v[nv] = 0.0;
    for (int j = 0; j < NX; ++j) Hm[j + nv * NX] = j == i + 3 ? 1.0 : 0.0;
    var[nv++] = CLOCK_CONSTRAINT_VAR;
  }
  return nv;
}

// Pseudorange residuals and design matrix of one iteration; returns the row count.
int rescode(int iter, const obsd_t* obs, int n, const double* rs, const double* dts, const double* vare, const int* svh,
            const nav_t* nav, const double* x, const prcopt_t* opt, double* v, double* Hm, double* var, double* azel,
            int* vsat, double* resp, int* ns) {
  double pos[3], e[3];
  int nv = 0, mask[4] = {0, 0, 0, 0};
  const double dtr = x[3];
  ecef2pos(x, pos);
  *ns = 0;
  Abs_resp = 0.0;
  Excluded_sat = 0;
  if (n > MAXOBS) n = MAXOBS;

  for (int i = 0; i < n; ++i) {
    vsat[i] = 0;
    azel[i * 2] = azel[1 + i * 2] = resp[i] = 0.0;
  }
  for (int i = 0; i < n; ++i) {
    const int sys = satsys(obs[i].sat, nullptr);
    if (sys == SYS_NONE) continue;
    // two observations of one satellite in a row: use neither
    if (i < n - 1 && obs[i].sat == obs[i + 1].sat) {
      ++i;
      continue;
    }
    const double r = geodist(rs + i * 6, x, e);
    if (r <= 0.0) continue;
    if (satazel(pos, e, azel + i * 2) < opt->elmin) continue;
    double vmeas = 0.0;
    const double P = prange(obs + i, nav, &vmeas);
    if (P == 0.0) continue;
    if (satexclude(obs[i].sat, svh[i], opt)) continue;
    double dion = 0.0, vion = 0.0, dtrp = 0.0, vtrp = 0.0;
    ionocorr(obs[i].time, nav, pos, azel + i * 2, iter > 0 ? opt->ionoopt : IONOOPT_BRDC, &dion, &vion);
    tropcorr(obs[i].time, pos, azel + i * 2, iter > 0 ? opt->tropopt : TROPOPT_SAAS, &dtrp, &vtrp);

    v[nv] = P - (r + dtr - CLIGHT * dts[i * 2] + dion + dtrp);
    double* h = Hm + nv * NX;
    for (int j = 0; j < NX; ++j) h[j] = j < 3 ? -e[j] : (j == 3 ? 1.0 : 0.0);
    clock_column(sys, x, v + nv, h, mask);
    vsat[i] = 1;
    resp[i] = v[nv];
    ++*ns;
    if (opt->olvo_alternative_raim_fde && std::fabs(v[nv]) > Abs_resp) {
      Abs_resp = std::fabs(v[nv]);
      Excluded_sat = obs[i].sat;
    }
    var[nv++] = varerr(opt, azel[1 + i * 2], sys) + vare[i] + vmeas + vion + vtrp;
  }
  return clock_constraints(mask, nv, v, Hm, var);
}

int valsol(const double* azel, const int* vsat, int n, const prcopt_t* opt, const double* v, int nv, char* msg) {
  double azels[2 * MAXOBS], dop[4];
  if (nv > NX) {
    const double vv = dot(v, v, nv);
    const int dof = nv - NX;
    if (vv > CHISQR[dof <= 100 ? dof - 1 : 99]) {
      if (msg != nullptr) std::snprintf(msg, 128, "chi-square error nv=%d vv=%.1f", nv, vv);
      return 0;
    }
  }
  int ns = 0;
  for (int i = 0; i < n && i < MAXOBS; ++i) {
    if (!vsat[i]) continue;
    azels[ns * 2] = azel[i * 2];
    azels[1 + ns * 2] = azel[1 + i * 2];
    ++ns;
  }
  dops(ns, azels, 0.0, dop);
  if (dop[0] <= 0.0 || dop[0] > opt->maxgdop) {
    if (msg != nullptr) std::snprintf(msg, 128, "gdop error nv=%d gdop=%.1f", nv, dop[0]);
    return 0;
  }
  return 1;
}

// Rows V, H of the iteration divided by their standard deviations.
void weight_rows(int nv) {
  for (int j = 0; j < nv; ++j) {
    const double sig = std::sqrt(Var_rows[j]);
    V[j] /= sig;
    for (int k = 0; k < NX; ++k) H[k + j * NX] /= sig;
  }
}

// Converged estimate x (position m, clock biases m) with covariance Q (NX x NX)
// from ns satellites into sol; time: the receiver epoch.
void store_estimate(gtime_t time, const double* x, const double* Q, int ns, sol_t* sol) {
  sol->type = 0;
  sol->time = timeadd(time, -x[3] / CLIGHT);
  sol->dtr[0] = x[3] / CLIGHT;
  sol->dtr[1] = x[4] / CLIGHT;
  sol->dtr[2] = x[5] / CLIGHT;
  sol->dtr[3] = x[6] / CLIGHT;
  for (int j = 0; j < 6; ++j) {
    sol->pnt_rr_dif[j] = j < 3 ? x[j] - sol->rr[j] : 0.0;
    sol->rr[j] = j < 3 ? x[j] : 0.0;
  }
  sol->qr[0] = static_cast<float>(Q[0]);
  sol->qr[1] = static_cast<float>(Q[1 + NX]);
  sol->qr[2] = static_cast<float>(Q[2 + 2 * NX]);
  sol->qr[3] = static_cast<float>(Q[1]);       // xy
  sol->qr[4] = static_cast<float>(Q[2 + NX]);  // yz
  sol->qr[5] = static_cast<float>(Q[2]);       // zx
  sol->ns = static_cast<unsigned char>(ns);
  sol->age = sol->ratio = 0.0f;
}

int estpos(const obsd_t* obs, int n, const double* rs, const double* dts, const double* vare, const int* svh,
           const nav_t* nav, const prcopt_t* opt, sol_t* sol, double* azel, int* vsat, double* resp, char* msg) {
  double x[NX] = {0}, dx[NX], Q[NX * NX];
  for (int i = 0; i < 3; ++i) x[i] = sol->rr[i];

  for (int it = 0; it < PNT_MAXITR; ++it) {
    int ns = 0;
    const int nv = rescode(it, obs, n, rs, dts, vare, svh, nav, x, opt, V, H, Var_rows, azel, vsat, resp, &ns);
    if (nv < NX + 2) {
      if (msg != nullptr) std::snprintf(msg, 128, "lack of valid sats ns=%d", nv);
      return 0;
    }
    weight_rows(nv);
    if (lsq(H, V, NX, nv, dx, Q) != 0) {
      if (msg != nullptr) std::snprintf(msg, 128, "lsq error");
      return 0;
    }
    for (int j = 0; j < NX; ++j) x[j] += dx[j];
    if (norm(dx, NX) < 1E-4) {
      store_estimate(obs[0].time, x, Q, ns, sol);
      const int stat = valsol(azel, vsat, n, opt, V, nv, msg);
      if (stat) sol->stat = opt->sateph == EPHOPT_SBAS ? SOLQ_SBAS : SOLQ_SINGLE;
      return stat;
    }
  }
  if (msg != nullptr) std::snprintf(msg, 128, "iteration divergent");
  return 0;
}

// Copies observation i of the full set into trial slot k.
void copy_trial(int i, int k, const obsd_t* obs, const double* rs, const double* dts, const double* vare,
                const int* svh) {
  Obs_e[k] = obs[i];
  for (int j = 0; j < 6; ++j) Rs_e[j + k * 6] = rs[j + i * 6];
  for (int j = 0; j < 2; ++j) Dts_e[j + k * 2] = dts[j + i * 2];
  Var_e[k] = vare[i];
  Svh_e[k] = svh[i];
}

// Takes a successful trial that left out observation `skip` as the solution.
void take_trial(int skip, int n, double* azel, int* vsat, double* resp) {
  for (int i = 0, k = 0; i < n; ++i) {
    if (i == skip) {
      vsat[i] = 0;
      continue;
    }
    azel[i * 2] = Azel_e[k * 2];
    azel[1 + i * 2] = Azel_e[1 + k * 2];
    vsat[i] = Vsat_e[k];
    resp[i] = Resp_e[k++];
  }
}

// Solution of one trial set (Obs_e .. Svh_e, k observations) into sol_e.
// Returns the number of satellites the trial used, 0 when it failed.
int solve_trial(int k, const nav_t* nav, const prcopt_t* opt, sol_t* sol_e, char* msg) {
  if (!estpos(Obs_e, k, Rs_e, Dts_e, Var_e, Svh_e, nav, opt, sol_e, Azel_e, Vsat_e, Resp_e, msg)) return 0;
  int nvsat = 0;
  for (int j = 0; j < k; ++j) nvsat += Vsat_e[j] ? 1 : 0;
  return nvsat;
}

// Leaves out the satellite of the largest residual in the last residual
// computation (Excluded_sat); each failed trial names a new one, three trials
// at most. Returns 1 with sol, azel, vsat, resp taken from the trial.
int raim_drop_excluded(const obsd_t* obs, int n, const double* rs, const double* dts, const double* vare,
                       const int* svh, const nav_t* nav, const prcopt_t* opt, sol_t* sol, double* azel, int* vsat,
                       double* resp, char* msg) {
  int stat = 0;
  for (int tries = 0; tries < 3 && !stat; ++tries) {
    const int exsat = Excluded_sat;
    if (exsat == 0) break;
    int skip = -1, k = 0;
    for (int i = 0; i < n; ++i) {
      if (obs[i].sat == exsat && skip < 0) {
        skip = i;
        continue;
      }
      copy_trial(i, k++, obs, rs, dts, vare, svh);
    }
    if (skip < 0) break;
    sol_t sol_e = *sol;
    if (solve_trial(k, nav, opt, &sol_e, msg) <= 4) continue;
    take_trial(skip, n, azel, vsat, resp);
    *sol = sol_e;
    stat = 1;
  }
  return stat;
}

// Root mean square of the code residuals (m) of the satellites trial k used;
// nvsat receives their count.
double trial_rms(int k, int* nvsat) {
  double rms = 0.0;
  *nvsat = 0;
  for (int j = 0; j < k; ++j) {
    if (!Vsat_e[j]) continue;
    rms += Resp_e[j] * Resp_e[j];
    ++*nvsat;
  }
  return rms;
}

// Leaves out each observation in turn and keeps the trial of the smallest
// residual RMS (at most 100 m). Returns 1 when a trial was taken.
int raim_drop_each(const obsd_t* obs, int n, const double* rs, const double* dts, const double* vare, const int* svh,
                   const nav_t* nav, const prcopt_t* opt, sol_t* sol, double* azel, int* vsat, double* resp,
                   char* msg) {
  int stat = 0;
  double rms_best = 100.0;
  sol_t best{};
  for (int skip = 0; skip < n; ++skip) {
    int k = 0;
    for (int i = 0; i < n; ++i) {
      if (i != skip) copy_trial(i, k++, obs, rs, dts, vare, svh);
    }
    sol_t sol_e = *sol;
    if (!estpos(Obs_e, k, Rs_e, Dts_e, Var_e, Svh_e, nav, opt, &sol_e, Azel_e, Vsat_e, Resp_e, msg)) continue;
    int nvsat = 0;
    double rms = trial_rms(k, &nvsat);
    if (nvsat <= 4) continue;
    rms = std::sqrt(rms / nvsat);
    if (rms > rms_best) continue;
    take_trial(skip, n, azel, vsat, resp);
    best = sol_e;
    rms_best = rms;
    stat = 1;
  }
  if (stat) *sol = best;
  return stat;
}

int raim_fde(const obsd_t* obs, int n, const double* rs, const double* dts, const double* vare, const int* svh,
             const nav_t* nav, const prcopt_t* opt, sol_t* sol, double* azel, int* vsat, double* resp, char* msg) {
  const unsigned char kept_cnt = sol->cont_pntpos_cnt;
  if (n > MAXOBS) n = MAXOBS;
  const int stat = opt->olvo_alternative_raim_fde
                       ? raim_drop_excluded(obs, n, rs, dts, vare, svh, nav, opt, sol, azel, vsat, resp, msg)
                       : raim_drop_each(obs, n, rs, dts, vare, svh, nav, opt, sol, azel, vsat, resp, msg);
  if (opt->olvo_remain_cont_pntpos_cnt_after_raim) sol->cont_pntpos_cnt = kept_cnt;
  if (!stat && opt->olvo_apply_rtkinit_medium_in_rtk_reset_engine) ++Chi_sqr_fail_cnt;
  return stat;
}

}  // namespace

int satexclude(int sat, int svh, const prcopt_t* opt) {
  const int sys = satsys(sat, nullptr);
  if (svh < 0) return 1;
  if (opt != nullptr && sat >= 1 && sat <= MAXSAT) {
    if (opt->exsats[sat - 1] == 1) return 1;
    if (opt->exsats[sat - 1] == 2) return 0;
    if (!(sys & opt->navsys)) return 1;
  }
  if (sys == SYS_QZS) svh &= 0xFE;
  return svh != 0 ? 1 : 0;
}

int testsnr(int base, int freq, double el, double snr, const snrmask_t* mask) {
  if (base < 0 || base > 1 || !mask->ena[base] || freq != 0) return 0;
  double a = (el * R2D + 5.0) / 10.0;
  const int i = static_cast<int>(std::floor(a));
  a -= i;
  double minsnr = 0.0;
  if (i < 1)
    minsnr = mask->mask[freq][0];
  else if (i > 8)
    minsnr = mask->mask[freq][8];
  else
    minsnr = (1.0 - a) * mask->mask[freq][i - 1] + a * mask->mask[freq][i];
  return snr < minsnr ? 1 : 0;
}

double gettgd(int sat, const nav_t* nav) {
  for (int i = 0; i < nav->n && i < MAXEPH; ++i) {
    if (nav->eph[i].sat == sat) return CLIGHT * nav->eph[i].tgd[0];
  }
  return 0.0;
}

int PNTPOS_get_sat_states(const obsd_t* obs, int n, double* rs, double* dts, double* var, int* svh) {
  if (n <= 0 || n != Last_n || timediff(obs[0].time, Last_time) != 0.0) return 0;
  for (int i = 0; i < n; ++i)
    if (obs[i].sat != Last_sat[i] || timediff(obs[i].time, Last_time) != 0.0) return 0;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < 6; ++j) rs[j + i * 6] = Rs[j + i * 6];
    dts[i * 2] = Dts[i * 2];
    dts[1 + i * 2] = Dts[1 + i * 2];
    var[i] = Var[i];
    svh[i] = Svh[i];
  }
  return 1;
}

void PNTPOS_reset_chi_sqr_test_cnt() { Chi_sqr_fail_cnt = 0; }
void PNTPOS_get_chi_sqr_test_cnt(unsigned int* cnt) { *cnt = Chi_sqr_fail_cnt; }

int pntpos(const obsd_t* obs, int n, const nav_t* nav, const prcopt_t* opt, sol_t* sol, double* azel, ssat_t* ssat,
           char* msg) {
  sol->stat = SOLQ_NONE;
  if (n <= 0) {
    if (msg != nullptr) std::snprintf(msg, 128, "no observation data");
    return 0;
  }
  if (n > MAXOBS) n = MAXOBS;
  sol->time = obs[0].time;
  if (msg != nullptr) msg[0] = '\0';

  satposs(sol->time, obs, n, nav, opt->sateph, Rs, Dts, Var, Svh);
  Last_n = n;
  Last_time = obs[0].time;
  for (int i = 0; i < n; ++i) Last_sat[i] = obs[i].sat;

  int stat = estpos(obs, n, Rs, Dts, Var, Svh, nav, opt, sol, Azel, Vsat, Resp, msg);
  // exclusion from 8 observations on; with the integrity checks from 7 (6
  // remain, one degree of freedom for GPS alone), so that one satellite with a
  // grossly biased code among 7 does not leave every epoch without a solution
  if (!stat && n >= (opt->integrity ? 7 : 8))
    stat = raim_fde(obs, n, Rs, Dts, Var, Svh, nav, opt, sol, Azel, Vsat, Resp, msg);

  if (azel != nullptr) {
    for (int i = 0; i < n * 2; ++i) azel[i] = Azel[i];
  }
  if (ssat != nullptr) {
    for (int i = 0; i < MAXSAT; ++i) {
      ssat[i].vs = 0;
      ssat[i].azel[0] = ssat[i].azel[1] = 0.0;
      ssat[i].resp[0] = ssat[i].resc[0] = 0.0;
      ssat[i].snr[0] = 0;
    }
    for (int i = 0; i < n; ++i) {
      const int s = obs[i].sat - 1;
      if (s < 0 || s >= MAXSAT) continue;
      ssat[s].azel[0] = Azel[i * 2];
      ssat[s].azel[1] = Azel[1 + i * 2];
      ssat[s].snr[0] = obs[i].SNR[0];
      if (!Vsat[i]) continue;
      ssat[s].vs = 1;
      ssat[s].resc[0] = Resp[i];
    }
  }
  return stat;
}
