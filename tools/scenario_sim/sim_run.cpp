// Scenario run: rover and base observables from the broadcast constellation.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "tools/scenario_sim/sim.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double LAMBDA = SIM_C / SIM_L1;
constexpr double EPH_SPAN = 7200.0;  // s covered by one ephemeris set, toe in its middle
constexpr double NAV_REPEAT = 30.0;  // s between subframe repetitions
constexpr int SIM_NSAT_GLO = 24;

struct Rng {
  unsigned long long s;
  double uniform() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return (static_cast<double>(s >> 11) + 0.5) / 9007199254740992.0;
  }
  double gauss() {  // Box-Muller
    const double u1 = uniform(), u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * PI * u2);
  }
};

SIM_RINEX_T* Rinex_sink = nullptr;  // also RINEX text, during sim_run_rinex

struct Stream {
  std::vector<U08>* out;
  int iod;
};

void append(Stream* s, const U08* frame, int n) { s->out->insert(s->out->end(), frame, frame + n); }

void enu_axes(const double* llh, double E[3][3]) {
  const double sp = std::sin(llh[0]), cp = std::cos(llh[0]), sl = std::sin(llh[1]), cl = std::cos(llh[1]);
  const double e[3] = {-sl, cl, 0.0}, n[3] = {-sp * cl, -sp * sl, cp}, u[3] = {cp * cl, cp * sl, sp};
  for (int i = 0; i < 3; ++i) {
    E[0][i] = e[i];
    E[1][i] = n[i];
    E[2][i] = u[i];
  }
}

void ecef2llh(const double* r, double* llh) {
  const double a = 6378137.0, f = 1.0 / 298.257223563, e2 = f * (2.0 - f);
  const double p = std::sqrt(r[0] * r[0] + r[1] * r[1]);
  double lat = std::atan2(r[2], p * (1.0 - e2)), h = 0.0;
  for (int i = 0; i < 10; ++i) {
    const double N = a / std::sqrt(1.0 - e2 * std::sin(lat) * std::sin(lat));
    h = p / std::cos(lat) - N;
    lat = std::atan2(r[2], p * (1.0 - e2 * N / (N + h)));
  }
  llh[0] = lat;
  llh[1] = std::atan2(r[1], r[0]);
  llh[2] = h;
}

struct Scene {
  const SIM_SCENARIO_T* sc;
  double base[3], base_llh[3], E[3][3];
  SIM_GPS_EPH_T eph[SIM_MAX_SAT];
  int eph_week;
  double eph_toe;  // tow of toe
  int eph_set;
  double amb[2][SIM_MAX_SAT + SIM_NSAT_GLO];  // integer ambiguities, cycles
  SIM_RTCM_STATE_T rtcm;
  SIM_GLO_EPH_T glo[SIM_NSAT_GLO];
  SIM_TIME_T glo_toe[SIM_NSAT_GLO];
  int glo_set;
  Rng rng;
  unsigned int canopy_sats[SIM_MAX_CANOPY];  // bit prn - 1: shaded by window j (chosen at its first epoch)
  int canopy_started[SIM_MAX_CANOPY];
};

// Offset (m, east and north added to enu) of the walking rover dt seconds after
// the start: along a circle of walk_radius at walk_speed, starting eastwards.
void walk_offset(const SIM_SCENARIO_T* sc, double dt, double* enu) {
  if (sc->walk_speed <= 0.0 || sc->walk_radius <= 0.0) return;
  const double th = sc->walk_speed * dt / sc->walk_radius;
  enu[0] += sc->walk_radius * std::sin(th);
  enu[1] += sc->walk_radius * (1.0 - std::cos(th));
}

void rover_pos(const Scene& s, double dt, double* r) {
  const SIM_SCENARIO_T* sc = s.sc;
  double enu[3];
  for (int i = 0; i < 3; ++i) enu[i] = sc->rover_enu[i] + sc->rover_vel_enu[i] * dt;
  walk_offset(sc, dt, enu);
  for (int i = 0; i < 3; ++i) r[i] = s.base[i] + s.E[0][i] * enu[0] + s.E[1][i] * enu[1] + s.E[2][i] * enu[2];
}

void make_eph_set(Scene* s, int set) {
  const SIM_SCENARIO_T* sc = s->sc;
  double toe = sc->tow0 + set * EPH_SPAN + EPH_SPAN / 2.0;
  toe = std::floor(toe / 16.0) * 16.0;
  int week = sc->week;
  while (toe >= 604800.0) {
    toe -= 604800.0;
    ++week;
  }
  for (int i = 0; i < sc->nsat && i < SIM_MAX_SAT; ++i) sim_make_gps_eph(i, sc->nsat, week, toe, sc->seed, &s->eph[i]);
  s->eph_week = week;
  s->eph_toe = toe;
  s->eph_set = set;
  if (Rinex_sink != nullptr)
    for (int i = 0; i < sc->nsat && i < SIM_MAX_SAT; ++i) sim_rinex_nav_gps(&Rinex_sink->nav, &s->eph[i]);
}

void write_nav(Scene* s, Stream* st, double tow) {
  const double sf_start = std::floor(tow / 6.0) * 6.0;
  for (int i = 0; i < s->sc->nsat && i < SIM_MAX_SAT; ++i) {
    U08 sf[3][30], frame[64];
    sim_encode_gps_subframes(&s->eph[i], sf_start, sf);
    for (int k = 0; k < 3; ++k) append(st, frame, sim_msg_gps_sf(s->eph[i].prn, sf[k], frame));
  }
}

// Half-hour GLONASS ephemeris set of GPS time of week T.
int glo_set_of(double T) { return static_cast<int>(std::floor((T - 18.0 + 10800.0) / 1800.0)); }

void make_glo_set(Scene* s, double T) {
  for (int slot = 1; slot <= SIM_NSAT_GLO; ++slot)
    sim_make_glo_eph(slot, SIM_TIME_T{s->sc->week, T}, &s->glo[slot - 1], &s->glo_toe[slot - 1]);
  s->glo_set = glo_set_of(T);
}

void write_glo(Scene* s, Stream* st) {
  U08 frame[SIM_MAX_FRAME];
  for (int slot = 1; slot <= SIM_NSAT_GLO; ++slot) {
    for (int m = 1; m <= 4; ++m) {
      U08 data[9];
      sim_encode_glo_string(&s->glo[slot - 1], m, data);
      append(st, frame, sim_msg_glo_string(slot, m, data, frame));
    }
  }
}

void write_sbas(Stream* st, SIM_TIME_T t) {
  U08 frame[SIM_MAX_FRAME];
  SIM_SBAS9_T m;
  sim_make_sbas9(50, t, &m);
  append(st, frame, sim_msg_sbas9(&m, frame));
}

// Receiver side of one epoch. r: 0 rover, 1 base.
struct Rcv {
  int r;
  double T;        // receiver time tag, tow
  double t;        // true reception time, tow
  double dtr;      // receiver clock offset, s
  double rr[3];    // ECEF position at reception, m
  double llh[3];   // rad, rad, m
  double E[3][3];  // local east, north, up axes
};

// Receiver position (ECEF, m) at true time t (tow): the moving rover or the fixed base.
void rcv_pos(const Scene& s, int r, double t, double* rr) {
  if (r == 0)
    rover_pos(s, t - s.sc->tow0, rr);
  else
    for (int i = 0; i < 3; ++i) rr[i] = s.base[i];
}

// Satellite of either system: its broadcast ephemeris (one of gps, glo) and carrier.
struct Sat {
  const SIM_GPS_EPH_T* gps;
  const SIM_GLO_EPH_T* glo;
  double dt_rx;    // true reception time from the ephemeris reference time, s
  double tgd;      // s, subtracted from the satellite clock (GPS L1 C/A; 0 for GLONASS)
  double lam;      // carrier wavelength, m
  double f_ratio;  // L1 over the carrier frequency; the ionosphere delay scales with its square
  double cn0_0;    // C/N0 at the horizon, dB-Hz (18 dB-Hz more at the zenith)
};

// Satellite ECEF position (m) and clock offset (s) dt seconds from the ephemeris reference time.
void sat_state(const Sat& sat, double dt, double* rs, double* clk) {
  if (sat.gps != nullptr)
    sim_gps_sat_state(sat.gps, dt, rs, clk);
  else
    sim_glo_sat_state(sat.glo, dt, rs, clk);
}

// Geometric light time (s) from the satellite to the receiver at rr (ECEF at reception),
// with the Earth's rotation during the signal's flight. dt_rx: reception time from the
// ephemeris reference time, s. rs_rot: satellite position at transmission in the ECEF
// frame of reception, m; clk: satellite clock offset at transmission, s.
double light_time(const Sat& sat, double dt_rx, const double* rr, double* rs_rot, double* clk) {
  double tau = 0.075;
  for (int it = 0; it < 6; ++it) {
    double rs[3];
    sat_state(sat, dt_rx - tau, rs, clk);
    const double th = SIM_OMGE * tau;
    rs_rot[0] = rs[0] * std::cos(th) + rs[1] * std::sin(th);
    rs_rot[1] = -rs[0] * std::sin(th) + rs[1] * std::cos(th);
    rs_rot[2] = rs[2];
    const double d[3] = {rs_rot[0] - rr[0], rs_rot[1] - rr[1], rs_rot[2] - rr[2]};
    tau = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]) / SIM_C;
  }
  return tau;
}

// Elevation and azimuth (rad, azimuth 0..2 pi from north) of the satellite at rs seen from the receiver.
void el_az(const Rcv& rc, const double* rs, double* el, double* az) {
  const double d[3] = {rs[0] - rc.rr[0], rs[1] - rc.rr[1], rs[2] - rc.rr[2]};
  const double(&E)[3][3] = rc.E;
  const double enu[3] = {E[0][0] * d[0] + E[0][1] * d[1] + E[0][2] * d[2],
                         E[1][0] * d[0] + E[1][1] * d[1] + E[1][2] * d[2],
                         E[2][0] * d[0] + E[2][1] * d[1] + E[2][2] * d[2]};
  *el = std::asin(enu[2] / std::sqrt(enu[0] * enu[0] + enu[1] * enu[1] + enu[2] * enu[2]));
  *az = std::atan2(enu[0], enu[1]);
  if (*az < 0.0) *az += 2.0 * PI;
}

// Range rate (m/s) with the clock drifts, by a central difference over 0.1 s of reception time.
double range_rate(const Scene& s, const Rcv& rc, const Sat& sat) {
  double g[2];
  for (int k = 0; k < 2; ++k) {
    const double h = k == 0 ? -0.05 : 0.05;
    double rr2[3], rs2[3], clk2 = 0.0;
    rcv_pos(s, rc.r, rc.t + h, rr2);
    const double tau2 = light_time(sat, sat.dt_rx + h, rr2, rs2, &clk2);
    g[k] = SIM_C * tau2 - SIM_C * clk2 + SIM_C * s.sc->clk_drift[rc.r] * h;
  }
  return (g[1] - g[0]) / 0.1;
}

// Pseudorange, carrier phase, Doppler and C/N0 of one satellite into o (other fields
// untouched). amb: integer ambiguity, cycles. Returns 0 below the elevation mask.
int observe(Scene* s, const Rcv& rc, const Sat& sat, double amb, SIM_OBS_T* o) {
  const SIM_SCENARIO_T* sc = s->sc;
  double rs[3], clk = 0.0, el = 0.0, az = 0.0;
  const double tau = light_time(sat, sat.dt_rx, rc.rr, rs, &clk);
  el_az(rc, rs, &el, &az);
  if (el < sc->elmask * PI / 180.0) return 0;
  const double clk_sig = clk - sat.tgd;  // L1 C/A users: T_GD subtracted from the satellite clock
  const double iono =
      sim_klobuchar(rc.llh[0], rc.llh[1], az, el, rc.t) * sat.f_ratio * sat.f_ratio * (1.0 + sc->iono_error);
  const double trop = sim_saastamoinen(rc.llh[0], rc.llh[2], el);
  const double range = SIM_C * tau + SIM_C * rc.dtr - SIM_C * clk_sig;
  const double rate = range_rate(*s, rc, sat);
  o->cn0 = static_cast<int>(sat.cn0_0 + 18.0 * std::sin(el));
  o->pr = range + iono + trop + sc->code_noise * s->rng.gauss();
  o->cp = (range - iono + trop) / sat.lam + amb + sc->phase_noise * s->rng.gauss();
  o->dop = static_cast<float>(-rate / sat.lam + sc->doppler_noise * s->rng.gauss());
  return 1;
}

// GPS observations of the epoch into obs from index n; returns the new count.
int gps_obs(Scene* s, const Rcv& rc, const bool slip_epoch_mask[2][SIM_MAX_SAT], SIM_OBS_T* obs, int n) {
  const SIM_SCENARIO_T* sc = s->sc;
  for (int i = 0; i < sc->nsat && i < SIM_MAX_SAT && n < SIM_MAX_OBS; ++i) {
    const SIM_GPS_EPH_T* eph = &s->eph[i];
    SIM_GPS_EPH_VAL_T v;
    sim_gps_eph_values(eph, &v);
    const double tk_rx = (rc.t - s->eph_toe) + (sc->week - s->eph_week) * 604800.0;
    const Sat sat{eph, nullptr, tk_rx, v.tgd, LAMBDA, 1.0, 32.0};  // on L1 itself: f_ratio 1
    SIM_OBS_T o{};
    if (!observe(s, rc, sat, s->amb[rc.r][i], &o)) continue;
    o.gnss = 0;
    o.sv = eph->prn;
    o.ind = 1u | 2u | 4u | (slip_epoch_mask[rc.r][i] ? 8u : 0u);
    if (rc.r == 0 && eph->prn == sc->code_bias_prn) o.pr += sc->code_bias;
    o.cn0 = static_cast<int>(std::lround(o.cn0 + sc->cn0_offset));
    obs[n++] = o;
  }
  return n;
}

// Slip of a shaded satellite: 5..50 cycles, either sign, from the scenario seed,
// the window and the PRN (the noise sequence is left alone).
int canopy_slip(const SIM_SCENARIO_T* sc, int j, int prn) {
  unsigned long long h = (static_cast<unsigned long long>(sc->seed) + 1ULL) * 0x9E3779B97F4A7C15ULL;
  h ^= static_cast<unsigned long long>(j * 64 + prn) * 0xBF58476D1CE4E5B9ULL;
  h ^= h >> 31;
  h *= 0x94D049BB133111EBULL;
  h ^= h >> 29;
  const int mag = 5 + static_cast<int>(h % 46ULL);
  return (h >> 40) & 1ULL ? mag : -mag;
}

// Canopy windows over the rover's n observations of the epoch dT s after the
// start: the shaded satellites (the nsat of lowest C/N0 at the window's first
// epoch) lose C/N0 or drop out, and slip once at the window's start (the slip
// also enters the ambiguity, so later epochs keep it). Returns the new count.
int apply_canopy(Scene* s, const Rcv& rc, double dT, SIM_OBS_T* obs, int n) {
  const SIM_SCENARIO_T* sc = s->sc;
  if (rc.r != 0) return n;
  for (int j = 0; j < sc->ncanopy && j < SIM_MAX_CANOPY; ++j) {
    const SIM_CANOPY_T& w = sc->canopy[j];
    if (dT < w.t0 - 1e-9 || dT > w.t0 + w.dur + 1e-9 - sc->interval) continue;
    if (!s->canopy_started[j]) {
      s->canopy_started[j] = 1;
      bool taken[SIM_MAX_OBS] = {};
      for (int c = 0; c < w.nsat; ++c) {
        int low = -1;
        for (int i = 0; i < n; ++i)
          if (obs[i].gnss == 0 && !taken[i] && (low < 0 || obs[i].cn0 < obs[low].cn0)) low = i;
        if (low < 0) break;
        taken[low] = true;
        const int prn = obs[low].sv;
        s->canopy_sats[j] |= 1u << (prn - 1);
        const int cyc = canopy_slip(sc, j, prn);
        s->amb[0][prn - 1] += cyc;
        obs[low].cp += cyc;
        if (w.kind == 0) obs[low].ind |= 8u;
      }
    }
    int m = 0;
    for (int i = 0; i < n; ++i) {
      SIM_OBS_T& o = obs[i];
      const bool shaded = o.gnss == 0 && o.sv >= 1 && o.sv <= SIM_MAX_SAT && ((s->canopy_sats[j] >> (o.sv - 1)) & 1u);
      if (shaded && w.kind == 2) continue;
      if (shaded) o.cn0 = static_cast<int>(o.cn0 - SIM_CANOPY_CN0_DROP);
      obs[m++] = o;
    }
    n = m;
  }
  return n;
}

// GLONASS observations (FDMA L1, 24 slots) into obs from index n; returns the new count.
int glo_obs(Scene* s, const Rcv& rc, SIM_OBS_T* obs, int n) {
  const SIM_SCENARIO_T* sc = s->sc;
  for (int slot = 1; sc->glonass && slot <= SIM_NSAT_GLO && n < SIM_MAX_OBS; ++slot) {
    const SIM_TIME_T& toe = s->glo_toe[slot - 1];
    const double dt_rx = (rc.t - toe.tow) + (sc->week - toe.week) * 604800.0;
    const int k = sim_glo_frq(slot);
    const double f = 1602.0E6 + k * 0.5625E6;  // carrier, Hz
    const Sat sat{nullptr, &s->glo[slot - 1], dt_rx, 0.0, SIM_C / f, SIM_L1 / f, 30.0};
    SIM_OBS_T o{};
    if (!observe(s, rc, sat, s->amb[rc.r][SIM_MAX_SAT + slot - 1], &o)) continue;
    o.gnss = 2;
    o.sv = sc->ext_raw ? slot : 64 + slot;
    o.frq = k;
    o.ind = 1u | 2u | 4u;
    obs[n++] = o;
  }
  return n;
}

// Receiver state of an epoch with receiver time tag T (tow).
Rcv make_rcv(const Scene& s, int r, double T) {
  const SIM_SCENARIO_T* sc = s.sc;
  Rcv rc{};
  rc.r = r;
  rc.T = T;
  rc.dtr = sc->clk_bias[r] + sc->clk_drift[r] * (T - sc->tow0);
  rc.t = T - rc.dtr;
  rcv_pos(s, r, rc.t, rc.rr);
  ecef2llh(rc.rr, rc.llh);
  enu_axes(rc.llh, rc.E);
  return rc;
}

// The epoch's observations as CRVRAW frames (time and raw, or extended raw, then
// the receiver state when the scenario asks for it), or as RTCM 3 for an RTCM base.
void write_obs(Scene* s, Stream* st, const Rcv& rc, const SIM_OBS_T* obs, int n, int geotag) {
  const SIM_SCENARIO_T* sc = s->sc;
  U08 frame[SIM_MAX_FRAME];
  if (rc.r == 1 && sc->base_rtcm != 0) {
    SIM_RTCM_OPT_T opt;
    opt.msm = sc->base_rtcm >= 4 && sc->base_rtcm <= 7 ? sc->base_rtcm : 0;
    if (opt.msm == 0) opt.legacy_type = sc->base_rtcm == 1002 ? 1002 : 1004;
    opt.pos_type = sc->base_pos ? sc->base_rtcm_pos : 0;
    opt.gps_lost = sim_base_gps_lost(sc, rc.T - sc->tow0 - sc->base_time_offset);
    append(st, frame, sim_rtcm_base_epoch(&s->rtcm, &opt, sc->week, rc.T, obs, n, rc.rr, frame));
    return;
  }
  const U32 tow_ms = static_cast<U32>(std::llround(rc.T * 1000.0));
  const int period_ms = static_cast<int>(std::llround(sc->interval * 1000.0));
  st->iod = (st->iod + 1) & 0xFF;
  if (sc->ext_raw) {
    append(st, frame, sim_msg_extraw(st->iod, sc->week, tow_ms, period_ms, geotag ? 1 : 0, obs, n, frame));
  } else {
    append(st, frame, sim_msg_time(st->iod, sc->week, tow_ms, period_ms, frame));
    append(st, frame, sim_msg_raw(st->iod, obs, n, frame));
  }
  if ((rc.r == 1 && sc->base_pos) || (rc.r == 0 && sc->rover_rcv)) {
    const float vel[3] = {0.0f, 0.0f, 0.0f};
    append(st, frame, sim_msg_rcv(st->iod, rc.rr, vel, SIM_C * rc.dtr, frame));
  }
}

// One receiver epoch; r 0 rover, 1 base. T: receiver time tag (tow) of the epoch.
// Returns the number of observations written.
int write_epoch(Scene* s, Stream* st, int r, double T, const bool slip_epoch_mask[2][SIM_MAX_SAT], int geotag,
                SIM_TRUTH_T* truth) {
  const SIM_SCENARIO_T* sc = s->sc;
  const Rcv rc = make_rcv(*s, r, T);
  SIM_OBS_T obs[SIM_MAX_OBS];
  int n = gps_obs(s, rc, slip_epoch_mask, obs, 0);
  n = apply_canopy(s, rc, T - sc->tow0, obs, n);
  n = glo_obs(s, rc, obs, n);
  // A base epoch that does not arrive: observables drawn (the noise of the
  // epochs after it stays), nothing written.
  if (r == 1 && !sim_base_delivered(sc, T - sc->tow0 - sc->base_time_offset)) return n;
  if (Rinex_sink != nullptr) {
    std::string* text = r == 0 ? &Rinex_sink->rover_obs : &Rinex_sink->base_obs;
    if (text->empty()) sim_rinex_obs_header(text, rc.rr, sc->interval, SIM_TIME_T{sc->week, T});
    sim_rinex_obs_epoch(text, SIM_TIME_T{sc->week, T}, obs, n);
  }
  write_obs(s, st, rc, obs, n, geotag);
  if (truth != nullptr) {
    truth->t.week = sc->week;
    truth->t.tow = rc.t;
    for (int i = 0; i < 3; ++i) truth->pos[i] = rc.rr[i];
    truth->clk = rc.dtr;
    truth->nsat = n;
    truth->geotag = geotag;
  }
  return n;
}

// A fresh scene for a run: base position and axes, the random generator seeded from
// the scenario, random integer ambiguities of every satellite at both receivers.
void init_scene(Scene* s, const SIM_SCENARIO_T* sc) {
  *s = Scene{};
  s->sc = sc;
  sim_base_ecef(sc, s->base);
  s->base_llh[0] = sc->base_llh[0] * PI / 180.0;
  s->base_llh[1] = sc->base_llh[1] * PI / 180.0;
  s->base_llh[2] = sc->base_llh[2];
  enu_axes(s->base_llh, s->E);
  s->rng.s = 0x2545F4914F6CDD1DULL ^ (static_cast<unsigned long long>(sc->seed) * 0x9E3779B97F4A7C15ULL);
  if (s->rng.s == 0) s->rng.s = 1;
  for (auto& amb : s->amb)
    for (double& a : amb) a = std::floor(2.0E6 * (s->rng.uniform() - 0.5));
  s->eph_set = -1;
  sim_rtcm_init(&s->rtcm);
}

// Cycle slips of the epoch dT s after the start (those in (dT - interval, dT]): the
// ambiguity jumps, and slip_mask marks the satellite unless the slip is unmarked.
void apply_slips(Scene* s, double dT, bool slip_mask[2][SIM_MAX_SAT]) {
  const SIM_SCENARIO_T* sc = s->sc;
  for (int j = 0; j < sc->nslip && j < 16; ++j) {
    const SIM_SLIP_T& sl = sc->slips[j];
    if (sl.prn < 1 || sl.prn > SIM_MAX_SAT || sl.rcv < 0 || sl.rcv > 1) continue;
    if (sl.t > dT - sc->interval + 1e-9 && sl.t <= dT + 1e-9) {
      s->amb[sl.rcv][sl.prn - 1] += sl.cycles;
      if (!sl.unmarked) slip_mask[sl.rcv][sl.prn - 1] = true;
    }
  }
}

// Epoch k (dT s after the start) of receiver r: navigation data around it as the
// scenario orders it, the observations, and the rover truth appended to truth.
void write_receiver_epoch(Scene* s, Stream* st, int r, int k, double dT, bool nav_epoch,
                          const bool slip_mask[2][SIM_MAX_SAT], std::vector<SIM_TRUTH_T>* truth) {
  const SIM_SCENARIO_T* sc = s->sc;
  const double T = sc->tow0 + dT + (r == 1 ? sc->base_time_offset : 0.0);
  // An RTCM 3 base carries observations and its position only.
  const bool nav_stream = !(r == 1 && sc->base_rtcm != 0);
  if (nav_epoch && sc->nav_first && nav_stream) write_nav(s, st, T);
  if (k == 0 && sc->glonass && nav_stream) {
    // GLONASS strings need the stream's epoch time: a time message, then the strings
    U08 frame[64];
    append(st, frame,
           sim_msg_time((st->iod + 128) & 0xFF, sc->week, static_cast<U32>(std::llround(T * 1000.0)), 0, frame));
    write_glo(s, st);
  }
  SIM_TRUTH_T tr{};
  const int geotag = r == 0 && sc->ext_raw && sc->geotag_every > 0 && k % sc->geotag_every == 0;
  write_epoch(s, st, r, T, slip_mask, geotag, &tr);
  if (nav_epoch && !sc->nav_first && nav_stream) write_nav(s, st, T);
  if (nav_epoch && sc->sbas && r == 0) write_sbas(st, SIM_TIME_T{sc->week, T});
  if (r == 0 && truth != nullptr) truth->push_back(tr);
}

// A new GLONASS set goes out after the last epoch it does not serve (T_next: receiver
// time of the next epoch); an RTCM 3 base stream carries no strings.
void next_glo_set(Scene* s, Stream st[2], double T_next) {
  const SIM_SCENARIO_T* sc = s->sc;
  if (!sc->glonass || glo_set_of(T_next) == s->glo_set) return;
  make_glo_set(s, T_next);
  for (int r = 0; r < 2; ++r) {
    if (st[r].out == nullptr || (r == 1 && sc->base_rtcm != 0)) continue;
    write_glo(s, &st[r]);
  }
}

}  // namespace

void sim_base_ecef(const SIM_SCENARIO_T* sc, double* r) {
  const double llh[3] = {sc->base_llh[0] * PI / 180.0, sc->base_llh[1] * PI / 180.0, sc->base_llh[2]};
  sim_llh2ecef(llh, r);
}

int sim_run_to_memory(const SIM_SCENARIO_T* sc, std::vector<U08>* rover, std::vector<U08>* base,
                      std::vector<SIM_TRUTH_T>* truth, std::vector<SIM_MARK_T>* marks) {
  static Scene s;  // large; one run at a time
  init_scene(&s, sc);
  if (marks != nullptr) marks->clear();

  Stream st[2] = {{rover, 0}, {base, 100}};
  const int nep = static_cast<int>(std::floor(sc->duration / sc->interval + 1e-9)) + 1;
  int count = 0;
  for (int k = 0; k < nep; ++k) {
    const double dT = k * sc->interval;
    const int set = static_cast<int>(std::floor(dT / EPH_SPAN));
    bool new_set = false;
    if (set != s.eph_set) {
      make_eph_set(&s, set);
      new_set = true;
    }
    bool slip_mask[2][SIM_MAX_SAT] = {};
    apply_slips(&s, dT, slip_mask);
    if (k == 0 && sc->glonass) make_glo_set(&s, sc->tow0);
    const bool nav_epoch = new_set || std::fmod(dT, NAV_REPEAT) < 1e-9 || NAV_REPEAT - std::fmod(dT, NAV_REPEAT) < 1e-9;
    for (int r = 0; r < 2; ++r)
      if (st[r].out != nullptr) write_receiver_epoch(&s, &st[r], r, k, dT, nav_epoch, slip_mask, truth);
    if (k + 1 < nep) next_glo_set(&s, st, sc->tow0 + (k + 1) * sc->interval);
    if (marks != nullptr)
      marks->push_back(SIM_MARK_T{rover != nullptr ? rover->size() : 0, base != nullptr ? base->size() : 0});
    ++count;
  }
  return count;
}

int sim_run_rinex(const SIM_SCENARIO_T* sc, std::vector<U08>* rover, std::vector<U08>* base,
                  std::vector<SIM_TRUTH_T>* truth, SIM_RINEX_T* rinex) {
  *rinex = SIM_RINEX_T{};
  sim_rinex_nav_header(&rinex->nav);
  Rinex_sink = rinex;
  const int n = sim_run_to_memory(sc, rover, base, truth);
  Rinex_sink = nullptr;
  return n;
}

void sim_make_rb(const std::vector<U08>& rover, const std::vector<U08>& base, const std::vector<SIM_MARK_T>& marks,
                 std::vector<U08>* rb) {
  static constexpr U08 BASE_MARK[4] = {0x12, 0x34, 0x56, 0x78};
  static constexpr U08 ROVER_MARK[4] = {0x78, 0x56, 0x34, 0x12};
  auto put = [rb](const U08* mark, const std::vector<U08>& src, std::size_t from, std::size_t to) {
    while (from < to) {
      const std::size_t n = to - from < 128 ? to - from : 128;
      rb->insert(rb->end(), mark, mark + 4);
      rb->push_back(static_cast<U08>(n >> 8));
      rb->push_back(static_cast<U08>(n & 0xFF));
      rb->insert(rb->end(), src.begin() + static_cast<long>(from), src.begin() + static_cast<long>(from + n));
      from += n;
    }
  };
  std::size_t r0 = 0, b0 = 0;
  for (const SIM_MARK_T& m : marks) {
    put(BASE_MARK, base, b0, m.base);
    put(ROVER_MARK, rover, r0, m.rover);
    r0 = m.rover;
    b0 = m.base;
  }
}

int sim_run(const SIM_SCENARIO_T* sc, const char* rover_path, const char* base_path, const char* truth_path) {
  std::vector<U08> rover, base;
  std::vector<SIM_TRUTH_T> truth;
  const int n = sim_run_to_memory(sc, &rover, &base, &truth);
  auto put = [](const char* path, const std::vector<U08>& bytes) {
    if (path == nullptr) return true;
    std::FILE* fp = std::fopen(path, "wb");
    if (fp == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), fp) == bytes.size();
    return std::fclose(fp) == 0 && ok;
  };
  if (!put(rover_path, rover) || !put(base_path, base)) return -1;
  if (truth_path != nullptr) {
    std::FILE* fp = std::fopen(truth_path, "w");
    if (fp == nullptr) return -1;
    std::fprintf(fp, "# week tow(s) x(m) y(m) z(m) rover_clock(s) nsat\n");
    for (const auto& t : truth)
      std::fprintf(fp, "%d %.9f %.4f %.4f %.4f %.12e %d\n", t.t.week, t.t.tow, t.pos[0], t.pos[1], t.pos[2], t.clk,
                   t.nsat);
    if (std::fclose(fp) != 0) return -1;
  }
  return n;
}

namespace {

// Scenario keys by kind of value: plain numbers, 0/1 switches, whole numbers, 3-vectors.
struct DoubleKey {
  std::string_view name;
  double SIM_SCENARIO_T::*field;
};
struct FlagKey {
  std::string_view name;
  int SIM_SCENARIO_T::*field;  // set to 1 for any non-zero value
};
struct IntKey {
  std::string_view name;
  int SIM_SCENARIO_T::*field;  // the value truncated to an integer
};
struct VecKey {
  std::string_view name;
  double (SIM_SCENARIO_T::*field)[3];
};
constexpr DoubleKey DOUBLE_KEYS[] = {
    {"tow0", &SIM_SCENARIO_T::tow0},
    {"duration", &SIM_SCENARIO_T::duration},
    {"interval", &SIM_SCENARIO_T::interval},
    {"code_noise", &SIM_SCENARIO_T::code_noise},
    {"phase_noise", &SIM_SCENARIO_T::phase_noise},
    {"doppler_noise", &SIM_SCENARIO_T::doppler_noise},
    {"iono_error", &SIM_SCENARIO_T::iono_error},
    {"elmask", &SIM_SCENARIO_T::elmask},
    {"base_time_offset", &SIM_SCENARIO_T::base_time_offset},
    {"base_glo_alone_rate", &SIM_SCENARIO_T::base_glo_alone_rate},
    {"base_rate", &SIM_SCENARIO_T::base_rate},
    {"base_max_gap", &SIM_SCENARIO_T::base_max_gap},
};
constexpr FlagKey FLAG_KEYS[] = {
    {"ext_raw", &SIM_SCENARIO_T::ext_raw},     {"base_pos", &SIM_SCENARIO_T::base_pos},
    {"rover_rcv", &SIM_SCENARIO_T::rover_rcv}, {"nav_first", &SIM_SCENARIO_T::nav_first},
    {"glonass", &SIM_SCENARIO_T::glonass},     {"sbas", &SIM_SCENARIO_T::sbas},
};
constexpr IntKey INT_KEYS[] = {
    {"week", &SIM_SCENARIO_T::week},
    {"base_rtcm", &SIM_SCENARIO_T::base_rtcm},
    {"base_rtcm_pos", &SIM_SCENARIO_T::base_rtcm_pos},
};
constexpr VecKey VEC_KEYS[] = {
    {"base_llh", &SIM_SCENARIO_T::base_llh},
    {"rover_enu", &SIM_SCENARIO_T::rover_enu},
    {"rover_vel_enu", &SIM_SCENARIO_T::rover_vel_enu},
};

// Key and up to four numbers of one "key = values" line.
struct KeyLine {
  std::string_view key;
  int nv;  // fields read: the key and the numbers
  double a, b, c, d;
};

// Sets the table-driven key of the line; returns 1 if it is one of them (with enough
// values), 0 if the key is not in the tables, -1 if it lacks values.
int apply_table_key(const KeyLine& kl, SIM_SCENARIO_T* sc) {
  for (const DoubleKey& k : DOUBLE_KEYS)
    if (kl.key == k.name) {
      sc->*k.field = kl.a;
      return 1;
    }
  for (const FlagKey& k : FLAG_KEYS)
    if (kl.key == k.name) {
      sc->*k.field = kl.a != 0.0;
      return 1;
    }
  for (const IntKey& k : INT_KEYS)
    if (kl.key == k.name) {
      sc->*k.field = static_cast<int>(kl.a);
      return 1;
    }
  for (const VecKey& k : VEC_KEYS)
    if (kl.key == k.name) {
      if (kl.nv < 4) return -1;
      const double v[3] = {kl.a, kl.b, kl.c};
      for (int i = 0; i < 3; ++i) (sc->*k.field)[i] = v[i];
      return 1;
    }
  return 0;
}

// Sets the key of the line; returns 1, or 0 for an unknown key or missing values.
int apply_key(const KeyLine& kl, SIM_SCENARIO_T* sc) {
  const int table = apply_table_key(kl, sc);
  if (table != 0) return table > 0 ? 1 : 0;
  const std::string_view k = kl.key;
  if (k == "nsat") {
    const int n = static_cast<int>(kl.a);
    sc->nsat = n < 1 ? 1 : (n > SIM_MAX_SAT ? SIM_MAX_SAT : n);
  } else if (k == "seed") {
    sc->seed = static_cast<unsigned int>(kl.a);
  } else if (k == "geotag_every") {
    const int every = static_cast<int>(kl.a);
    sc->geotag_every = every < 0 ? 0 : every;
  } else if ((k == "rover_clock" || k == "base_clock") && kl.nv >= 3) {
    const int r = k == "rover_clock" ? 0 : 1;
    sc->clk_bias[r] = kl.a;
    sc->clk_drift[r] = kl.b;
  } else if (k == "base_gap" && kl.nv >= 3 && sc->nbase_gap < 8) {
    sc->base_gaps[sc->nbase_gap][0] = kl.a;
    sc->base_gaps[sc->nbase_gap][1] = kl.b;
    ++sc->nbase_gap;
  } else if (k == "walk" && kl.nv >= 3) {
    sc->walk_speed = kl.a;
    sc->walk_radius = kl.b;
  } else if (k == "canopy" && kl.nv >= 5 && sc->ncanopy < SIM_MAX_CANOPY) {
    sc->canopy[sc->ncanopy++] = SIM_CANOPY_T{kl.a, kl.b, static_cast<int>(kl.c), static_cast<int>(kl.d)};
  } else if (k == "code_bias" && kl.nv >= 3) {
    sc->code_bias_prn = static_cast<int>(kl.a);
    sc->code_bias = kl.b;
  } else if (k == "cn0_offset") {
    sc->cn0_offset = kl.a;
  } else if (k == "slip" && kl.nv >= 5 && sc->nslip < 16) {
    sc->slips[sc->nslip++] = SIM_SLIP_T{static_cast<int>(kl.a), static_cast<int>(kl.b), kl.c, static_cast<int>(kl.d)};
  } else {
    return 0;
  }
  return 1;
}

// Copies the line that starts at *p into buf (at most size - 1 characters, comment cut
// off) and moves *p past it and its newline.
void next_line(const char** p, char* buf, std::size_t size) {
  const char* e = std::strchr(*p, '\n');
  const std::size_t len = e != nullptr ? static_cast<std::size_t>(e - *p) : std::strlen(*p);
  const std::size_t m = len < size - 1 ? len : size - 1;
  std::memcpy(buf, *p, m);
  buf[m] = '\0';
  *p += len + (e != nullptr ? 1 : 0);
  char* hash = std::strchr(buf, '#');
  if (hash != nullptr) *hash = '\0';
}

}  // namespace

int sim_parse_scenario(const char* text, SIM_SCENARIO_T* sc, int* line) {
  int ln = 0;
  const char* p = text;
  while (*p != '\0') {
    ++ln;
    char buf[256];
    next_line(&p, buf, sizeof buf);
    char key[64];
    char* eq = std::strchr(buf, '=');
    if (eq == nullptr) {
      if (std::sscanf(buf, "%63s", key) != 1) continue;  // blank line
      *line = ln;
      return 0;
    }
    *eq = ' ';
    KeyLine kl{};
    kl.nv = std::sscanf(buf, "%63s %lf %lf %lf %lf", key, &kl.a, &kl.b, &kl.c, &kl.d);
    kl.key = key;
    if (kl.nv < 2 || !apply_key(kl, sc)) {
      *line = ln;
      return 0;
    }
  }
  return 1;
}
