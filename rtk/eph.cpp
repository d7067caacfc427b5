#include "rtk/eph.h"

#include <cmath>

namespace {

constexpr double RTOL_KEPLER = 1E-14;
constexpr double MU_GLO = 3.9860044E14;               // PZ-90 gravitational constant, m^3/s^2
constexpr double J2_MU_A2_15 = 2.633267117769225e25;  // 1.5 J2 mu a^2 of PZ-90
constexpr double OMGE_GLO_SQ = 5.3174941173225e-9;    // Earth rotation squared, rad^2/s^2
constexpr double OMGE_GLO_2 = 0.0001458423;           // twice the Earth rotation, rad/s
constexpr double GLO_STEP = 60.0;                     // integration step, s

// Derivative of the GLONASS state x = (pos, vel) in the rotating frame.
void deq(const double* x, double* xdot, const double* acc) {
  const double r2 = dot(x, x, 3);
  if (r2 <= 0.0) {
    for (int i = 0; i < 6; ++i) xdot[i] = 0.0;
    return;
  }
  const double r3 = r2 * std::sqrt(r2);
  const double a = J2_MU_A2_15 / r2 / r3;  // 1.5 J2 mu a^2 / r^5
  const double b = 5.0 * x[2] * x[2] / r2;
  const double c = -MU_GLO / r3 - a * (1.0 - b);
  xdot[0] = x[3];
  xdot[1] = x[4];
  xdot[2] = x[5];
  xdot[3] = (c + OMGE_GLO_SQ) * x[0] + OMGE_GLO_2 * x[4] + acc[0];
  xdot[4] = (c + OMGE_GLO_SQ) * x[1] - OMGE_GLO_2 * x[3] + acc[1];
  xdot[5] = (c - 2.0 * a) * x[2] + acc[2];
}

// Broadcast position of an SBAS satellite (corrections are not applied).
int satpos_sbas(gtime_t time, gtime_t teph, int sat, const nav_t* nav, double* rs, double* dts, double* var, int* svh) {
  return ephpos(time, teph, sat, nav, -1, rs, dts, var, svh);
}

}  // namespace

double var_uraeph(int ura) {
  static constexpr double ura_value[] = {2.4,  3.4,   4.85,  6.85,  9.65,   13.65,  24.0,  48.0,
                                         96.0, 192.0, 384.0, 768.0, 1536.0, 3072.0, 6144.0};
  const double v = (ura < 0 || ura > 14) ? 6144.0 : ura_value[ura];
  return v * v;
}

double satwavelen(int sat, int frq, const nav_t* nav) {
  int prn = 0;
  const int sys = satsys(sat, &prn);
  if (frq < 0) return 0.0;
  if (sys == SYS_GLO) {
    if (nav == nullptr || prn < 1 || prn > nav->ng || prn > MAXGEPH) return 0.0;
    const int k = nav->geph[prn - 1].frq;
    if (k < -7 || k > 6) return 0.0;  // frequency number not yet known: no carrier wavelength
    if (frq == 0) return CLIGHT / (FREQ1_GLO + DFRQ1_GLO * k);
    if (frq == 1) return CLIGHT / (FREQ2_GLO + DFRQ2_GLO * k);
    if (frq == 2) return CLIGHT / FREQ3_GLO;
    return 0.0;
  }
  if (sys == SYS_CMP) {
    if (frq == 0) return CLIGHT / FREQ1_CMP;
    if (frq == 1) return CLIGHT / FREQ2_CMP;
    if (frq == 2) return CLIGHT / FREQ3_CMP;
    return 0.0;
  }
  if (sys == SYS_NONE) return 0.0;
  static constexpr double freq[] = {FREQ1, FREQ2, FREQ5, FREQ6, FREQ7, FREQ8};
  return frq < 6 ? CLIGHT / freq[frq] : 0.0;
}

const eph_t* seleph(gtime_t time, int sat, int iode, const nav_t* nav) {
  const eph_t* best = nullptr;
  double tmin = MAXDTOE + 1.0;
  for (int i = 0; i < nav->n && i < MAXEPH; ++i) {
    const eph_t* e = &nav->eph[i];
    if (e->sat != sat) continue;
    const double t = std::fabs(timediff(e->toe, time));
    if (t > MAXDTOE) continue;
    if (iode >= 0 && e->iode == iode) return e;
    if (t <= tmin) {
      best = e;
      tmin = t;
    }
  }
  return iode >= 0 ? nullptr : best;
}

const geph_t* selgeph(gtime_t time, int sat, int iode, const nav_t* nav) {
  const geph_t* best = nullptr;
  double tmin = MAXDTOE_GLO + 1.0;
  for (int i = 0; i < nav->ng && i < MAXGEPH; ++i) {
    const geph_t* g = &nav->geph[i];
    if (g->sat != sat) continue;
    const double t = std::fabs(timediff(g->toe, time));
    if (t > MAXDTOE_GLO) continue;
    if (iode >= 0 && g->iode == iode) return g;
    if (t <= tmin) {
      best = g;
      tmin = t;
    }
  }
  return iode >= 0 ? nullptr : best;
}

const seph_t* selseph(gtime_t time, int sat, const nav_t* nav) {
  const seph_t* best = nullptr;
  double tmin = MAXDTOE_SBS + 1.0;
  for (int i = 0; i < nav->ns && i < MAXSEPH; ++i) {
    const seph_t* s = &nav->seph[i];
    if (s->sat != sat) continue;
    const double t = std::fabs(timediff(s->t0, time));
    if (t > MAXDTOE_SBS) continue;
    if (t <= tmin) {
      best = s;
      tmin = t;
    }
  }
  return best;
}

double eph2clk(gtime_t time, const eph_t* eph) {
  double t = timediff(time, eph->toc);
  for (int i = 0; i < 2; ++i) t -= eph->f0 + eph->f1 * t + eph->f2 * t * t;
  return eph->f0 + eph->f1 * t + eph->f2 * t * t;
}

double geph2clk(gtime_t time, const geph_t* geph) {
  double t = timediff(time, geph->toe);
  for (int i = 0; i < 2; ++i) t -= -geph->taun + geph->gamn * t;
  return -geph->taun + geph->gamn * t;
}

double seph2clk(gtime_t time, const seph_t* seph) {
  double t = timediff(time, seph->t0);
  for (int i = 0; i < 2; ++i) t -= seph->af0 + seph->af1 * t;
  return seph->af0 + seph->af1 * t;
}

namespace {

// Broadcast orbit of one GPS/QZSS record at time: position rs (ECEF m), clock
// bias *dts (s, relativistic term included) and URA variance *var (m^2); with
// vel non-null also the velocity vel (3 doubles, ECEF m/s) and clock drift
// *drift (s/s) from the time derivatives of the same terms.
void kepler_orbit(gtime_t time, const eph_t* eph, double* rs, double* dts, double* var, double* vel, double* drift) {
  if (eph->A <= 0.0) {
    rs[0] = rs[1] = rs[2] = *dts = *var = 0.0;
    if (vel != nullptr) vel[0] = vel[1] = vel[2] = *drift = 0.0;
    return;
  }
  const double tk = timediff(time, eph->toe);
  const double mu = MU_GPS, omge = OMGE;
  const double n0 = std::sqrt(mu / (eph->A * eph->A * eph->A)) + eph->deln;  // corrected mean motion, rad/s
  const double M = eph->M0 + n0 * tk;
  double E = M, Ek = 0.0;
  for (int n = 0; n < KEPLER_MAX_ITER; ++n) {
    Ek = E;
    E -= (E - eph->e * std::sin(E) - M) / (1.0 - eph->e * std::cos(E));
    if (std::fabs(E - Ek) <= RTOL_KEPLER) break;
  }
  const double sinE = std::sin(E), cosE = std::cos(E);
  const double phi = std::atan2(std::sqrt(1.0 - eph->e * eph->e) * sinE, cosE - eph->e) + eph->omg;
  double u = phi;
  double r = eph->A * (1.0 - eph->e * cosE);
  double i = eph->i0 + eph->idot * tk;
  const double sin2u = std::sin(2.0 * u), cos2u = std::cos(2.0 * u);
  u += eph->cus * sin2u + eph->cuc * cos2u;
  r += eph->crs * sin2u + eph->crc * cos2u;
  i += eph->cis * sin2u + eph->cic * cos2u;
  const double x = r * std::cos(u), y = r * std::sin(u), cosi = std::cos(i);
  const double O = eph->OMG0 + (eph->OMGd - omge) * tk - omge * eph->toes;
  const double sinO = std::sin(O), cosO = std::cos(O);
  rs[0] = x * cosO - y * cosi * sinO;
  rs[1] = x * sinO + y * cosi * cosO;
  rs[2] = y * std::sin(i);
  // clock with the relativistic correction
  const double tc = timediff(time, eph->toc);
  *dts = eph->f0 + eph->f1 * tc + eph->f2 * tc * tc;
  *dts -= 2.0 * std::sqrt(mu * eph->A) * eph->e * sinE / (CLIGHT * CLIGHT);
  *var = var_uraeph(eph->sva);
  if (vel == nullptr) return;
  // time derivatives (IS-GPS-200 orbit terms differentiated in tk)
  const double Edot = n0 / (1.0 - eph->e * cosE);                                         // rad/s
  const double phidot = std::sqrt(1.0 - eph->e * eph->e) * Edot / (1.0 - eph->e * cosE);  // rad/s
  const double udot = phidot * (1.0 + 2.0 * (eph->cus * cos2u - eph->cuc * sin2u));
  const double rdot = eph->A * eph->e * sinE * Edot + 2.0 * phidot * (eph->crs * cos2u - eph->crc * sin2u);
  const double idot = eph->idot + 2.0 * phidot * (eph->cis * cos2u - eph->cic * sin2u);
  const double Odot = eph->OMGd - omge;
  const double xdot = rdot * std::cos(u) - y * udot, ydot = rdot * std::sin(u) + x * udot;
  const double sini = std::sin(i);
  vel[0] = xdot * cosO - ydot * cosi * sinO + y * sini * idot * sinO - Odot * rs[1];
  vel[1] = xdot * sinO + ydot * cosi * cosO - y * sini * idot * cosO + Odot * rs[0];
  vel[2] = ydot * sini + y * cosi * idot;
  const double rel = 2.0 * std::sqrt(mu * eph->A) * eph->e / (CLIGHT * CLIGHT);  // s per unit sin E
  *drift = eph->f1 + 2.0 * eph->f2 * tc - rel * cosE * Edot;
}

}  // namespace

void eph2pos(gtime_t time, const eph_t* eph, double* rs, double* dts, double* var) {
  kepler_orbit(time, eph, rs, dts, var, nullptr, nullptr);
}

void eph2posvel(gtime_t time, const eph_t* eph, double* rs, double* dts, double* var) {
  kepler_orbit(time, eph, rs, dts, var, rs + 3, dts + 1);
}

void glorbit(double t, double* x, const double* acc) {
  double k1[6], k2[6], k3[6], k4[6], w[6];
  deq(x, k1, acc);
  for (int i = 0; i < 6; ++i) w[i] = x[i] + k1[i] * t / 2.0;
  deq(w, k2, acc);
  for (int i = 0; i < 6; ++i) w[i] = x[i] + k2[i] * t / 2.0;
  deq(w, k3, acc);
  for (int i = 0; i < 6; ++i) w[i] = x[i] + k3[i] * t;
  deq(w, k4, acc);
  for (int i = 0; i < 6; ++i) x[i] += (k1[i] + 2.0 * k2[i] + 2.0 * k3[i] + k4[i]) * t / 6.0;
}

void geph2pos(gtime_t time, const geph_t* geph, double* rs, double* dts, double* var) {
  double t = timediff(time, geph->toe);
  *dts = -geph->taun + geph->gamn * t;
  double x[6];
  for (int i = 0; i < 3; ++i) {
    x[i] = geph->pos[i];
    x[i + 3] = geph->vel[i];
  }
  double tt = t < 0.0 ? -GLO_STEP : GLO_STEP;
  int guard = 0;
  while (std::fabs(t) > 1E-9 && guard++ < 1000) {
    if (std::fabs(t) < GLO_STEP) tt = t;
    glorbit(tt, x, geph->acc);
    t -= tt;
  }
  for (int i = 0; i < 3; ++i) rs[i] = x[i];
  *var = VAR_GLO_EPH;
}

void seph2pos(gtime_t time, const seph_t* seph, double* rs, double* dts, double* var) {
  const double t = timediff(time, seph->t0);
  for (int i = 0; i < 3; ++i) rs[i] = seph->pos[i] + seph->vel[i] * t + seph->acc[i] * t * t / 2.0;
  *dts = seph->af0 + seph->af1 * t;
  *var = var_uraeph(seph->sva);
}

int ephclk(gtime_t time, gtime_t teph, int sat, const nav_t* nav, double* dts) {
  const int sys = satsys(sat, nullptr);
  if (sys == SYS_GPS || sys == SYS_QZS) {
    const eph_t* eph = seleph(teph, sat, -1, nav);
    if (eph == nullptr) return 0;
    *dts = eph2clk(time, eph);
  } else if (sys == SYS_GLO) {
    const geph_t* geph = selgeph(teph, sat, -1, nav);
    if (geph == nullptr) return 0;
    *dts = geph2clk(time, geph);
  } else if (sys == SYS_SBS) {
    const seph_t* seph = selseph(teph, sat, nav);
    if (seph == nullptr) return 0;
    *dts = seph2clk(time, seph);
  } else {
    return 0;
  }
  return 1;
}

int ephpos(gtime_t time, gtime_t teph, int sat, const nav_t* nav, int iode, double* rs, double* dts, double* var,
           int* svh) {
  constexpr double tt = 1E-3;
  const int sys = satsys(sat, nullptr);
  double rst[3], dtst[1];
  *svh = -1;
  if (sys == SYS_GPS || sys == SYS_QZS) {
    const eph_t* eph = seleph(teph, sat, iode, nav);
    if (eph == nullptr) return 0;
    eph2posvel(time, eph, rs, dts, var);
    *svh = eph->svh;
    return 1;
  } else if (sys == SYS_GLO) {
    const geph_t* geph = selgeph(teph, sat, iode, nav);
    if (geph == nullptr) return 0;
    geph2pos(time, geph, rs, dts, var);
    geph2pos(timeadd(time, tt), geph, rst, dtst, var);
    *svh = geph->svh;
  } else if (sys == SYS_SBS) {
    const seph_t* seph = selseph(teph, sat, nav);
    if (seph == nullptr) return 0;
    seph2pos(time, seph, rs, dts, var);
    seph2pos(timeadd(time, tt), seph, rst, dtst, var);
    *svh = seph->svh;
  } else {
    return 0;
  }
  for (int i = 0; i < 3; ++i) rs[i + 3] = (rst[i] - rs[i]) / tt;
  dts[1] = (dtst[0] - dts[0]) / tt;
  return 1;
}

int satpos(gtime_t time, gtime_t teph, int sat, int ephopt, const nav_t* nav, double* rs, double* dts, double* var,
           int* svh) {
  *svh = 0;
  switch (ephopt) {
    case EPHOPT_BRDC:
      return ephpos(time, teph, sat, nav, -1, rs, dts, var, svh);
    case EPHOPT_SBAS:
      return satpos_sbas(time, teph, sat, nav, rs, dts, var, svh);
    default:
      *svh = -1;
      return 0;
  }
}

void satposs(gtime_t teph, const obsd_t* obs, int n, const nav_t* nav, int ephopt, double* rs, double* dts, double* var,
             int* svh) {
  if (n > MAXOBS_CYCLE) n = MAXOBS_CYCLE;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < 6; ++j) rs[j + i * 6] = 0.0;
    dts[i * 2] = dts[1 + i * 2] = 0.0;
    var[i] = 0.0;
    svh[i] = 0;
    const double pr = obs[i].P[0];
    if (pr == 0.0) continue;
    gtime_t time = timeadd(obs[i].time, -pr / CLIGHT);  // signal transmission time by the satellite clock
    double dt = 0.0;
    if (!ephclk(time, teph, obs[i].sat, nav, &dt)) continue;
    time = timeadd(time, -dt);
    const int opt = satsys(obs[i].sat, nullptr) == SYS_SBS ? EPHOPT_SBAS : ephopt;
    if (!satpos(time, teph, obs[i].sat, opt, nav, rs + i * 6, dts + i * 2, var + i, svh + i)) continue;
    if (dts[i * 2] == 0.0) {
      if (!ephclk(time, teph, obs[i].sat, nav, dts + i * 2)) continue;
      dts[1 + i * 2] = 0.0;
      var[i] = VAR_NO_CLOCK;
    }
  }
}
