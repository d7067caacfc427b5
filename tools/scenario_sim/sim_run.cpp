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

// Geometric light time from the satellite to the receiver at rr (ECEF at reception),
// with the Earth's rotation during the signal's flight. tk_rx: reception time from toe.
double light_time(const SIM_GPS_EPH_T* eph, double tk_rx, const double* rr, double* rs_rot, double* clk) {
  double tau = 0.075;
  for (int it = 0; it < 6; ++it) {
    double rs[3];
    sim_gps_sat_state(eph, tk_rx - tau, rs, clk);
    const double th = SIM_OMGE * tau;
    rs_rot[0] = rs[0] * std::cos(th) + rs[1] * std::sin(th);
    rs_rot[1] = -rs[0] * std::sin(th) + rs[1] * std::cos(th);
    rs_rot[2] = rs[2];
    const double d[3] = {rs_rot[0] - rr[0], rs_rot[1] - rr[1], rs_rot[2] - rr[2]};
    tau = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]) / SIM_C;
  }
  return tau;
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
};

void rover_pos(const Scene& s, double dt, double* r) {
  const SIM_SCENARIO_T* sc = s.sc;
  double enu[3];
  for (int i = 0; i < 3; ++i) enu[i] = sc->rover_enu[i] + sc->rover_vel_enu[i] * dt;
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

// One receiver epoch; r 0 rover, 1 base. T: receiver time tag (tow) of the epoch.
int write_epoch(Scene* s, Stream* st, int r, double T, bool slip_epoch_mask[2][SIM_MAX_SAT], int geotag,
                SIM_TRUTH_T* truth) {
  const SIM_SCENARIO_T* sc = s->sc;
  const double dT = T - sc->tow0;
  const double dtr = sc->clk_bias[r] + sc->clk_drift[r] * dT;
  const double t = T - dtr;  // true reception time, tow
  double rr[3], llh[3], E[3][3];
  if (r == 0)
    rover_pos(*s, t - sc->tow0, rr);
  else
    for (int i = 0; i < 3; ++i) rr[i] = s->base[i];
  ecef2llh(rr, llh);
  enu_axes(llh, E);

  SIM_OBS_T obs[SIM_MAX_OBS];
  int n = 0;
  for (int i = 0; i < sc->nsat && i < SIM_MAX_SAT && n < SIM_MAX_OBS; ++i) {
    const SIM_GPS_EPH_T* eph = &s->eph[i];
    SIM_GPS_EPH_VAL_T v;
    sim_gps_eph_values(eph, &v);
    const double tk_rx = (t - s->eph_toe) + (sc->week - s->eph_week) * 604800.0;
    double rs[3], clk = 0.0;
    const double tau = light_time(eph, tk_rx, rr, rs, &clk);
    const double d[3] = {rs[0] - rr[0], rs[1] - rr[1], rs[2] - rr[2]};
    const double enu[3] = {E[0][0] * d[0] + E[0][1] * d[1] + E[0][2] * d[2],
                           E[1][0] * d[0] + E[1][1] * d[1] + E[1][2] * d[2],
                           E[2][0] * d[0] + E[2][1] * d[1] + E[2][2] * d[2]};
    const double el = std::asin(enu[2] / std::sqrt(enu[0] * enu[0] + enu[1] * enu[1] + enu[2] * enu[2]));
    double az = std::atan2(enu[0], enu[1]);
    if (az < 0.0) az += 2.0 * PI;
    if (el < sc->elmask * PI / 180.0) continue;

    const double clk_l1 = clk - v.tgd;  // L1 C/A users: T_GD subtracted from the satellite clock
    const double iono = sim_klobuchar(llh[0], llh[1], az, el, t) * (1.0 + sc->iono_error);
    const double trop = sim_saastamoinen(llh[0], llh[2], el);
    const double range = SIM_C * tau + SIM_C * dtr - SIM_C * clk_l1;
    // range rate by a central difference over 0.1 s
    double rr2[3], rs2[3], clk2[2];
    double g[2];
    for (int k = 0; k < 2; ++k) {
      const double h = k == 0 ? -0.05 : 0.05;
      if (r == 0)
        rover_pos(*s, t + h - sc->tow0, rr2);
      else
        for (int j = 0; j < 3; ++j) rr2[j] = s->base[j];
      const double tau2 = light_time(eph, tk_rx + h, rr2, rs2, &clk2[k]);
      g[k] = SIM_C * tau2 - SIM_C * clk2[k] + SIM_C * sc->clk_drift[r] * h;
    }
    const double rate = (g[1] - g[0]) / 0.1;

    SIM_OBS_T* o = &obs[n++];
    *o = SIM_OBS_T{};
    o->gnss = 0;
    o->sv = eph->prn;
    o->cn0 = static_cast<int>(32.0 + 18.0 * std::sin(el));
    o->pr = range + iono + trop + sc->code_noise * s->rng.gauss();
    o->cp = (range - iono + trop) / LAMBDA + s->amb[r][i] + sc->phase_noise * s->rng.gauss();
    o->dop = static_cast<float>(-rate / LAMBDA + sc->doppler_noise * s->rng.gauss());
    o->ind = 1u | 2u | 4u | (slip_epoch_mask[r][i] ? 8u : 0u);
  }

  for (int slot = 1; sc->glonass && slot <= SIM_NSAT_GLO && n < SIM_MAX_OBS; ++slot) {
    const SIM_GLO_EPH_T* g = &s->glo[slot - 1];
    const double dt_rx = (t - s->glo_toe[slot - 1].tow) + (sc->week - s->glo_toe[slot - 1].week) * 604800.0;
    const int k = sim_glo_frq(slot);
    const double lam = SIM_C / (1602.0E6 + k * 0.5625E6);
    double g2[2];
    double rs[3], clk = 0.0, el = 0.0, az = 0.0, range = 0.0;
    for (int h = -1; h <= 1; ++h) {  // reception time - 0.05 s, + 0.05 s, then the epoch itself
      const double dh = h == 1 ? 0.0 : (h == -1 ? -0.05 : 0.05);
      double rr2[3];
      if (r == 0)
        rover_pos(*s, t + dh - sc->tow0, rr2);
      else
        for (int j = 0; j < 3; ++j) rr2[j] = s->base[j];
      double tau = 0.075, rs0[3];
      for (int it = 0; it < 6; ++it) {
        sim_glo_sat_state(g, dt_rx + dh - tau, rs0, &clk);
        const double th = SIM_OMGE * tau;
        rs[0] = rs0[0] * std::cos(th) + rs0[1] * std::sin(th);
        rs[1] = -rs0[0] * std::sin(th) + rs0[1] * std::cos(th);
        rs[2] = rs0[2];
        const double d[3] = {rs[0] - rr2[0], rs[1] - rr2[1], rs[2] - rr2[2]};
        tau = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]) / SIM_C;
      }
      if (h < 1) {
        g2[h + 1] = SIM_C * tau - SIM_C * clk + SIM_C * sc->clk_drift[r] * dh;
        continue;
      }
      const double d[3] = {rs[0] - rr[0], rs[1] - rr[1], rs[2] - rr[2]};
      const double enu[3] = {E[0][0] * d[0] + E[0][1] * d[1] + E[0][2] * d[2],
                             E[1][0] * d[0] + E[1][1] * d[1] + E[1][2] * d[2],
                             E[2][0] * d[0] + E[2][1] * d[1] + E[2][2] * d[2]};
      el = std::asin(enu[2] / std::sqrt(enu[0] * enu[0] + enu[1] * enu[1] + enu[2] * enu[2]));
      az = std::atan2(enu[0], enu[1]);
      if (az < 0.0) az += 2.0 * PI;
      range = SIM_C * tau + SIM_C * dtr - SIM_C * clk;
    }
    if (el < sc->elmask * PI / 180.0) continue;
    const double f_ratio = SIM_L1 / (1602.0E6 + k * 0.5625E6);
    const double iono = sim_klobuchar(llh[0], llh[1], az, el, t) * f_ratio * f_ratio * (1.0 + sc->iono_error);
    const double trop = sim_saastamoinen(llh[0], llh[2], el);
    SIM_OBS_T* o = &obs[n++];
    *o = SIM_OBS_T{};
    o->gnss = 2;
    o->sv = sc->ext_raw ? slot : 64 + slot;
    o->frq = k;
    o->cn0 = static_cast<int>(30.0 + 18.0 * std::sin(el));
    o->pr = range + iono + trop + sc->code_noise * s->rng.gauss();
    o->cp = (range - iono + trop) / lam + s->amb[r][SIM_MAX_SAT + slot - 1] + sc->phase_noise * s->rng.gauss();
    o->dop = static_cast<float>(-(g2[1] - g2[0]) / 0.1 / lam + sc->doppler_noise * s->rng.gauss());
    o->ind = 1u | 2u | 4u;
  }

  if (Rinex_sink != nullptr) {
    std::string* text = r == 0 ? &Rinex_sink->rover_obs : &Rinex_sink->base_obs;
    if (text->empty()) sim_rinex_obs_header(text, rr, sc->interval, SIM_TIME_T{sc->week, T});
    sim_rinex_obs_epoch(text, SIM_TIME_T{sc->week, T}, obs, n);
  }
  const U32 tow_ms = static_cast<U32>(std::llround(T * 1000.0));
  const int period_ms = static_cast<int>(std::llround(sc->interval * 1000.0));
  U08 frame[SIM_MAX_FRAME];
  if (r == 1 && sc->base_rtcm != 0) {
    SIM_RTCM_OPT_T opt;
    opt.msm = sc->base_rtcm >= 4 && sc->base_rtcm <= 7 ? sc->base_rtcm : 0;
    if (opt.msm == 0) opt.legacy_type = sc->base_rtcm == 1002 ? 1002 : 1004;
    opt.pos_type = sc->base_pos ? sc->base_rtcm_pos : 0;
    const double t_rx_gps = T;  // receiver time tag, GPS time of week
    append(st, frame, sim_rtcm_base_epoch(&s->rtcm, &opt, sc->week, t_rx_gps, obs, n, rr, frame));
    if (truth != nullptr) {
      truth->t.week = sc->week;
      truth->t.tow = t;
      for (int i = 0; i < 3; ++i) truth->pos[i] = rr[i];
      truth->clk = dtr;
      truth->nsat = n;
    }
    return n;
  }
  st->iod = (st->iod + 1) & 0xFF;
  if (sc->ext_raw) {
    append(st, frame, sim_msg_extraw(st->iod, sc->week, tow_ms, period_ms, geotag ? 1 : 0, obs, n, frame));
  } else {
    append(st, frame, sim_msg_time(st->iod, sc->week, tow_ms, period_ms, frame));
    append(st, frame, sim_msg_raw(st->iod, obs, n, frame));
  }
  if ((r == 1 && sc->base_pos) || (r == 0 && sc->rover_rcv)) {
    const float vel[3] = {0.0f, 0.0f, 0.0f};
    append(st, frame, sim_msg_rcv(st->iod, rr, vel, SIM_C * dtr, frame));
  }
  if (truth != nullptr) {
    truth->t.week = sc->week;
    truth->t.tow = t;
    for (int i = 0; i < 3; ++i) truth->pos[i] = rr[i];
    truth->clk = dtr;
    truth->nsat = n;
    truth->geotag = geotag;
  }
  return n;
}

}  // namespace

void sim_base_ecef(const SIM_SCENARIO_T* sc, double* r) {
  const double llh[3] = {sc->base_llh[0] * PI / 180.0, sc->base_llh[1] * PI / 180.0, sc->base_llh[2]};
  sim_llh2ecef(llh, r);
}

int sim_run_to_memory(const SIM_SCENARIO_T* sc, std::vector<U08>* rover, std::vector<U08>* base,
                      std::vector<SIM_TRUTH_T>* truth, std::vector<SIM_MARK_T>* marks) {
  static Scene s;  // large; one run at a time
  s = Scene{};
  s.sc = sc;
  sim_base_ecef(sc, s.base);
  s.base_llh[0] = sc->base_llh[0] * PI / 180.0;
  s.base_llh[1] = sc->base_llh[1] * PI / 180.0;
  s.base_llh[2] = sc->base_llh[2];
  enu_axes(s.base_llh, s.E);
  s.rng.s = 0x2545F4914F6CDD1DULL ^ (static_cast<unsigned long long>(sc->seed) * 0x9E3779B97F4A7C15ULL);
  if (s.rng.s == 0) s.rng.s = 1;
  for (int r = 0; r < 2; ++r)
    for (int i = 0; i < SIM_MAX_SAT + SIM_NSAT_GLO; ++i) s.amb[r][i] = std::floor(2.0E6 * (s.rng.uniform() - 0.5));
  s.eph_set = -1;
  sim_rtcm_init(&s.rtcm);
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
    for (int j = 0; j < sc->nslip && j < 16; ++j) {
      const SIM_SLIP_T& sl = sc->slips[j];
      if (sl.prn < 1 || sl.prn > SIM_MAX_SAT || sl.rcv < 0 || sl.rcv > 1) continue;
      if (sl.t > dT - sc->interval + 1e-9 && sl.t <= dT + 1e-9) {
        s.amb[sl.rcv][sl.prn - 1] += sl.cycles;
        if (!sl.unmarked) slip_mask[sl.rcv][sl.prn - 1] = true;
      }
    }
    if (k == 0 && sc->glonass) make_glo_set(&s, sc->tow0);
    const bool nav_epoch = new_set || std::fmod(dT, NAV_REPEAT) < 1e-9 || NAV_REPEAT - std::fmod(dT, NAV_REPEAT) < 1e-9;
    for (int r = 0; r < 2; ++r) {
      if (r == 0 && rover == nullptr) continue;
      if (r == 1 && base == nullptr) continue;
      const double T = sc->tow0 + dT + (r == 1 ? sc->base_time_offset : 0.0);
      // An RTCM 3 base carries observations and its position only.
      const bool nav_stream = !(r == 1 && sc->base_rtcm != 0);
      if (nav_epoch && sc->nav_first && nav_stream) write_nav(&s, &st[r], T);
      if (k == 0 && sc->glonass && nav_stream) {
        // GLONASS strings need the stream's epoch time: a time message, then the strings
        U08 frame[64];
        append(&st[r], frame,
               sim_msg_time((st[r].iod + 128) & 0xFF, sc->week, static_cast<U32>(std::llround(T * 1000.0)), 0, frame));
        write_glo(&s, &st[r]);
      }
      SIM_TRUTH_T tr{};
      const int geotag = r == 0 && sc->ext_raw && sc->geotag_every > 0 && k % sc->geotag_every == 0;
      write_epoch(&s, &st[r], r, T, slip_mask, geotag, &tr);
      if (nav_epoch && !sc->nav_first && nav_stream) write_nav(&s, &st[r], T);
      if (nav_epoch && sc->sbas && r == 0) write_sbas(&st[r], SIM_TIME_T{sc->week, T});
      if (r == 0 && truth != nullptr) truth->push_back(tr);
    }
    // A new GLONASS set goes out after the last epoch it does not serve.
    const double T_next = sc->tow0 + (k + 1) * sc->interval;
    if (sc->glonass && k + 1 < nep && glo_set_of(T_next) != s.glo_set) {
      make_glo_set(&s, T_next);
      for (int r = 0; r < 2; ++r) {
        if ((r == 0 && rover == nullptr) || (r == 1 && base == nullptr)) continue;
        if (r == 1 && sc->base_rtcm != 0) continue;
        write_glo(&s, &st[r]);
      }
    }
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

int sim_parse_scenario(const char* text, SIM_SCENARIO_T* sc, int* line) {
  int ln = 0;
  const char* p = text;
  while (*p != '\0') {
    ++ln;
    const char* e = std::strchr(p, '\n');
    const std::size_t len = e != nullptr ? static_cast<std::size_t>(e - p) : std::strlen(p);
    char buf[256];
    const std::size_t m = len < sizeof buf - 1 ? len : sizeof buf - 1;
    std::memcpy(buf, p, m);
    buf[m] = '\0';
    p += len + (e != nullptr ? 1 : 0);
    char* hash = std::strchr(buf, '#');
    if (hash != nullptr) *hash = '\0';
    char key[64];
    double a = 0, b = 0, c = 0, d = 0;
    char* eq = std::strchr(buf, '=');
    if (eq == nullptr) {
      if (std::sscanf(buf, "%63s", key) != 1) continue;  // blank line
      *line = ln;
      return 0;
    }
    *eq = ' ';
    const int nv = std::sscanf(buf, "%63s %lf %lf %lf %lf", key, &a, &b, &c, &d);
    if (nv < 2) {
      *line = ln;
      return 0;
    }
    const std::string_view k = key;
    if (k == "week")
      sc->week = static_cast<int>(a);
    else if (k == "tow0")
      sc->tow0 = a;
    else if (k == "duration")
      sc->duration = a;
    else if (k == "interval")
      sc->interval = a;
    else if (k == "base_llh" && nv >= 4) {
      sc->base_llh[0] = a;
      sc->base_llh[1] = b;
      sc->base_llh[2] = c;
    } else if (k == "rover_enu" && nv >= 4) {
      sc->rover_enu[0] = a;
      sc->rover_enu[1] = b;
      sc->rover_enu[2] = c;
    } else if (k == "rover_vel_enu" && nv >= 4) {
      sc->rover_vel_enu[0] = a;
      sc->rover_vel_enu[1] = b;
      sc->rover_vel_enu[2] = c;
    } else if (k == "code_noise")
      sc->code_noise = a;
    else if (k == "phase_noise")
      sc->phase_noise = a;
    else if (k == "doppler_noise")
      sc->doppler_noise = a;
    else if (k == "iono_error")
      sc->iono_error = a;
    else if (k == "rover_clock" && nv >= 3) {
      sc->clk_bias[0] = a;
      sc->clk_drift[0] = b;
    } else if (k == "base_clock" && nv >= 3) {
      sc->clk_bias[1] = a;
      sc->clk_drift[1] = b;
    } else if (k == "nsat")
      sc->nsat = static_cast<int>(a) < 1 ? 1 : (static_cast<int>(a) > SIM_MAX_SAT ? SIM_MAX_SAT : static_cast<int>(a));
    else if (k == "elmask")
      sc->elmask = a;
    else if (k == "seed")
      sc->seed = static_cast<unsigned int>(a);
    else if (k == "ext_raw")
      sc->ext_raw = a != 0.0;
    else if (k == "base_pos")
      sc->base_pos = a != 0.0;
    else if (k == "rover_rcv")
      sc->rover_rcv = a != 0.0;
    else if (k == "nav_first")
      sc->nav_first = a != 0.0;
    else if (k == "glonass")
      sc->glonass = a != 0.0;
    else if (k == "sbas")
      sc->sbas = a != 0.0;
    else if (k == "base_time_offset")
      sc->base_time_offset = a;
    else if (k == "geotag_every")
      sc->geotag_every = static_cast<int>(a) < 0 ? 0 : static_cast<int>(a);
    else if (k == "base_rtcm")
      sc->base_rtcm = static_cast<int>(a);
    else if (k == "base_rtcm_pos")
      sc->base_rtcm_pos = static_cast<int>(a);
    else if (k == "slip" && nv >= 5 && sc->nslip < 16) {
      sc->slips[sc->nslip++] = SIM_SLIP_T{static_cast<int>(a), static_cast<int>(b), c, static_cast<int>(d)};
    } else {
      *line = ln;
      return 0;
    }
  }
  return 1;
}
