// The sky at one receiver epoch: receiver motion and clock, and for every
// satellite the L1 C/A signal at the antenna.
//
// Signal model. At true reception time t the code left the satellite at
// t - tau, with tau = (rho + I + T) / c: rho is the distance from the
// receiver at t to the satellite at t - tau, the satellite turned with the
// Earth by omega_e tau (Sagnac), I the Klobuchar group delay times the
// scenario's iono_scale and T the Saastamoinen delay (or, with tropo_model =
// simple, the simple model of SKY_simple_tropo_m). The satellite stamps the code with its own time,
// t - tau + dt_sv, where dt_sv = af0 + af1 dt + af2 dt^2 + relativistic term
// - T_GD (the L1 single-frequency clock of IS-GPS-200 20.3.3.3.3). So
//   pseudorange = c (clock - stamp) = rho + I + T + c (bias - dt_sv) + noise.
// The carrier sees the ionosphere as an advance: the carrier range is
//   L = rho - I + T + c (bias - dt_sv),
// the accumulated phase is -(L - L_start) / lambda plus the scripted slips,
// and the Doppler is the phase rate in receiver-clock time,
//   D = -(dL/dt) / (lambda (1 + drift)), positive while approaching.
// Range rate and Doppler are central differences over +-50 ms of the same
// model with the ephemeris data set held fixed.
#include <array>
#include <cmath>
#include <cstdint>

#include "tools/sky/sky_core.h"

namespace {

constexpr double H_RATE = 0.05;  // half step of the rate differences, s
constexpr double TAU0 = 0.075;   // first guess of the light time, s

// Receiver at one true time.
struct RX_T {
  SKY_GPST_T t;
  double pos[3];
  double vel[3];
  double llh[3];
  double enu[3][3];
  double bias;  // receiver clock - GPS time, s
};

// Geometry and delays of one satellite at one reception.
struct GEOM_T {
  double rho;      // m
  double iono;     // m
  double tropo;    // m
  double sat_clk;  // dt_sv incl. relativity, minus T_GD, s
  double az, el;   // rad
  double sat[3];   // ECEF at transmission, rotated into the frame of reception, m
};

const SKY_SCENARIO_T* Sc = nullptr;
double Start_pos[3] = {};
double Start_vel[3] = {};
double Waypoint_pos[SKY_MAX_WAYPOINTS][3] = {};
std::array<double, SKY_MAX_SV> Carrier_start{};      // carrier range L at the start, m
std::array<SKY_SBAS_GEO_T, SKY_SBAS_MAX_GEO> Geo{};  // the scenario's SBAS GEOs
std::array<double, SKY_SBAS_MAX_GEO> Geo_carrier_start{};
double Clock_step_s = 0.0;  // the target set its time count: receiver clock step, s (SKY_clock_step)

// Deterministic standard normal value for (seed, svid, stream, key).
double gauss(unsigned seed, int svid, int stream, int64_t key) {
  auto mix = [](uint64_t x) {
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBULL;
    x ^= x >> 31;
    return x;
  };
  const uint64_t base = mix(static_cast<uint64_t>(seed) * 0x9E3779B97F4A7C15ULL ^ static_cast<uint64_t>(key)) ^
                        (static_cast<uint64_t>(svid) << 40) ^ (static_cast<uint64_t>(stream) << 56);
  const double u1 = (static_cast<double>(mix(base) >> 11) + 0.5) / 9007199254740992.0;
  const double u2 = static_cast<double>(mix(base ^ 0xD1B54A32D192ED03ULL) >> 11) / 9007199254740992.0;
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * 3.14159265358979323846 * u2);
}

void enu_to_ecef(const double* llh_deg, const double* enu, double* out) {
  double ax[3][3];
  SKYC_enu_axes(llh_deg[0] * SKYC_D2R, llh_deg[1] * SKYC_D2R, ax);
  for (int j = 0; j < 3; ++j) out[j] = ax[0][j] * enu[0] + ax[1][j] * enu[1] + ax[2][j] * enu[2];
}

void deg_llh_to_ecef(const double* llh_deg, double* r) {
  const double llh[3] = {llh_deg[0] * SKYC_D2R, llh_deg[1] * SKYC_D2R, llh_deg[2]};
  SKYC_llh2ecef(llh, r);
}

// Receiver position and velocity dt seconds after the start.
void motion(double dt, double* pos, double* vel) {
  const int n = Sc->n_waypoints;
  if (n == 0) {
    for (int j = 0; j < 3; ++j) {
      pos[j] = Start_pos[j] + Start_vel[j] * dt;
      vel[j] = Start_vel[j];
    }
    return;
  }
  int seg = 0;
  while (seg < n - 1 && dt >= Sc->waypoints[seg + 1][0]) ++seg;
  if (dt <= Sc->waypoints[0][0] || seg == n - 1) {  // before the track or at its end: at rest
    for (int j = 0; j < 3; ++j) {
      pos[j] = Waypoint_pos[seg][j];
      vel[j] = 0.0;
    }
    return;
  }
  const double t0 = Sc->waypoints[seg][0], t1 = Sc->waypoints[seg + 1][0];
  for (int j = 0; j < 3; ++j) {
    vel[j] = (Waypoint_pos[seg + 1][j] - Waypoint_pos[seg][j]) / (t1 - t0);
    pos[j] = Waypoint_pos[seg][j] + vel[j] * (dt - t0);
  }
}

RX_T receiver_at(double dt) {
  RX_T r{};
  r.t = SKYC_add(Sc->start, dt);
  motion(dt, r.pos, r.vel);
  SKYC_ecef2llh(r.pos, r.llh);
  SKYC_enu_axes(r.llh[0], r.llh[1], r.enu);
  r.bias = Sc->clk_bias0_s + Clock_step_s + Sc->clk_drift * dt;
  return r;
}

void look_angles(const RX_T& rx, const double* sat, double* az, double* el) {
  double enu[3] = {};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) enu[i] += rx.enu[i][j] * (sat[j] - rx.pos[j]);
  }
  double a = std::atan2(enu[0], enu[1]);
  if (a < 0.0) a += 2.0 * 3.14159265358979323846;
  *az = a;
  *el = std::atan2(enu[2], std::sqrt(enu[0] * enu[0] + enu[1] * enu[1]));
}

// Light time iteration (delays included) for one satellite and ephemeris.
GEOM_T geometry(const SKY_EPH_T& eph, const RX_T& rx) {
  GEOM_T g{};
  double tau = TAU0;
  for (int iter = 0; iter < 10; ++iter) {
    double p[3], clk = 0.0;
    SKY_eph_sat_state(&eph, SKYC_add(rx.t, -tau), p, nullptr, &clk);
    const double th = SKYC_OMGE * tau, c = std::cos(th), s = std::sin(th);
    g.sat[0] = c * p[0] + s * p[1];
    g.sat[1] = -s * p[0] + c * p[1];
    g.sat[2] = p[2];
    const double d[3] = {g.sat[0] - rx.pos[0], g.sat[1] - rx.pos[1], g.sat[2] - rx.pos[2]};
    g.rho = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    look_angles(rx, g.sat, &g.az, &g.el);
    g.iono = Sc->iono_scale * SKY_klobuchar_m(SKYC_iono_utc(), rx.llh[0], rx.llh[1], g.az, g.el, rx.t.tow);
    g.tropo = Sc->tropo_model == SKY_TROPO_SIMPLE ? SKY_simple_tropo_m(rx.llh[2], g.el)
                                                  : SKY_saastamoinen_m(rx.llh[0], rx.llh[2], g.el);
    g.sat_clk = clk - std::ldexp(static_cast<double>(eph.tgd), -31);
    const double next = (g.rho + g.iono + g.tropo) / SKYC_C;
    const bool done = std::fabs(next - tau) < 1e-15;
    tau = next;
    if (done) break;
  }
  return g;
}

// Light time iteration for an SBAS GEO: its orbit is given in the Earth
// frame at the time of transmission; its clock keeps GPS time.
GEOM_T geo_geometry(const SKY_SBAS_GEO_T& geo, const RX_T& rx) {
  GEOM_T g{};
  double tau = 0.12;
  const double t_rx = static_cast<double>(rx.t.week) * SKYC_WEEK_S + rx.t.tow;
  for (int iter = 0; iter < 10; ++iter) {
    double p[3];
    SKY_SBAS_geo_state(geo, t_rx - tau, p, nullptr, nullptr);
    const double th = SKYC_OMGE * tau, c = std::cos(th), s = std::sin(th);
    g.sat[0] = c * p[0] + s * p[1];
    g.sat[1] = -s * p[0] + c * p[1];
    g.sat[2] = p[2];
    const double d[3] = {g.sat[0] - rx.pos[0], g.sat[1] - rx.pos[1], g.sat[2] - rx.pos[2]};
    g.rho = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    look_angles(rx, g.sat, &g.az, &g.el);
    g.iono = Sc->iono_scale * SKY_klobuchar_m(SKYC_iono_utc(), rx.llh[0], rx.llh[1], g.az, g.el, rx.t.tow);
    g.tropo = Sc->tropo_model == SKY_TROPO_SIMPLE ? SKY_simple_tropo_m(rx.llh[2], g.el)
                                                  : SKY_saastamoinen_m(rx.llh[0], rx.llh[2], g.el);
    g.sat_clk = 0.0;
    const double next = (g.rho + g.iono + g.tropo) / SKYC_C;
    const bool done = std::fabs(next - tau) < 1e-15;
    tau = next;
    if (done) break;
  }
  return g;
}

double carrier_range(const GEOM_T& g, const RX_T& rx) {
  return g.rho - g.iono + g.tropo + SKYC_C * (rx.bias - g.sat_clk);
}

bool blocked(int svid, double dt) {
  for (int i = 0; i < Sc->n_outages; ++i) {
    const auto& o = Sc->outages[i];
    if ((o.svid == 0 || o.svid == svid) && dt >= o.t0 && dt < o.t1) return true;
  }
  return false;
}

double slipped_cycles(int svid, double dt) {
  double cycles = 0.0;
  for (int i = 0; i < Sc->n_slips; ++i) {
    if (Sc->slips[i].svid == svid && dt >= Sc->slips[i].t) cycles += Sc->slips[i].cycles;
  }
  return cycles;
}

// The scripted pseudorange step of svid at dt s after the start (steps of
// overlapping windows add), m.
double pr_step_m(int svid, double dt) {
  double m = 0.0;
  for (int i = 0; i < Sc->n_pr_steps; ++i) {
    const auto& p = Sc->pr_steps[i];
    if (p.svid == svid && dt >= p.t0 && dt < p.t1) m += p.metres;
  }
  return m;
}

// Ephemeris data set in use for a reception at rx (the set of the
// transmission time, held for the rate differences).
int epoch_eph(int svid, const RX_T& rx, SKY_EPH_T* eph) {
  return SKYC_eph_of_set(svid, SKYC_set_index(SKYC_add(rx.t, -TAU0)), eph);
}

void fill_signal(int svid, double dt, const RX_T& rx, const SKY_GPST_T& clock, SKY_SIGNAL_T* s) {
  *s = SKY_SIGNAL_T{};
  s->svid = static_cast<int16_t>(svid);
  SKY_EPH_T eph;
  if (epoch_eph(svid, rx, &eph) == 0) return;
  const GEOM_T g = geometry(eph, rx);
  const RX_T before = receiver_at(dt - H_RATE), after = receiver_at(dt + H_RATE);
  const GEOM_T g0 = geometry(eph, before), g1 = geometry(eph, after);
  const int64_t key = std::llround(dt * 1e6);  // noise key: the epoch, microseconds after the start
  s->range_m = g.rho;
  s->iono_m = g.iono;
  s->tropo_m = g.tropo;
  s->sat_clk_s = g.sat_clk;
  s->code_err_m = Sc->code_noise_m * gauss(Sc->seed, svid, 1, key);
  s->pr_fault_m = pr_step_m(svid, dt);
  // The code alone carries noise and the scripted step: tx_time (code phase,
  // bit count) follows the pseudorange, the carrier and Doppler do not.
  s->pseudorange_m = g.rho + g.iono + g.tropo + SKYC_C * (rx.bias - g.sat_clk) + s->code_err_m + s->pr_fault_m;
  s->tx_time = SKYC_add(clock, -s->pseudorange_m / SKYC_C);
  s->range_rate_mps = (g1.rho - g0.rho) / (2.0 * H_RATE);
  const double l_rate = (carrier_range(g1, after) - carrier_range(g0, before)) / (2.0 * H_RATE);
  s->doppler_hz = -l_rate / (SKYC_LAMBDA * (1.0 + Sc->clk_drift));
  s->carrier_cycles =
      -(carrier_range(g, rx) - Carrier_start[static_cast<size_t>(svid - 1)]) / SKYC_LAMBDA + slipped_cycles(svid, dt);
  s->el_deg = g.el / SKYC_D2R;
  s->az_deg = g.az / SKYC_D2R;
  s->cn0_dbhz = 35.0 + 15.0 * std::sin(g.el) + Sc->cn0_noise_db * gauss(Sc->seed, svid, 2, key);
  s->visible = (s->el_deg >= Sc->mask_deg && !blocked(svid, dt)) ? 1 : 0;
  for (int j = 0; j < 3; ++j) s->sat_pos_ecef[j] = g.sat[j];
}

// The signal of GEO i: as fill_signal, without code noise, steps or slips.
void fill_geo_signal(int i, double dt, const RX_T& rx, const SKY_GPST_T& clock, SKY_SIGNAL_T* s) {
  const SKY_SBAS_GEO_T& geo = Geo[static_cast<std::size_t>(i)];
  *s = SKY_SIGNAL_T{};
  s->svid = static_cast<int16_t>(geo.prn);
  const GEOM_T g = geo_geometry(geo, rx);
  const RX_T before = receiver_at(dt - H_RATE), after = receiver_at(dt + H_RATE);
  const GEOM_T g0 = geo_geometry(geo, before), g1 = geo_geometry(geo, after);
  s->range_m = g.rho;
  s->iono_m = g.iono;
  s->tropo_m = g.tropo;
  s->pseudorange_m = g.rho + g.iono + g.tropo + SKYC_C * rx.bias;
  s->tx_time = SKYC_add(clock, -s->pseudorange_m / SKYC_C);
  s->range_rate_mps = (g1.rho - g0.rho) / (2.0 * H_RATE);
  const double l_rate = (carrier_range(g1, after) - carrier_range(g0, before)) / (2.0 * H_RATE);
  s->doppler_hz = -l_rate / (SKYC_LAMBDA * (1.0 + Sc->clk_drift));
  s->carrier_cycles = -(carrier_range(g, rx) - Geo_carrier_start[static_cast<std::size_t>(i)]) / SKYC_LAMBDA;
  s->el_deg = g.el / SKYC_D2R;
  s->az_deg = g.az / SKYC_D2R;
  s->cn0_dbhz = 35.0 + 15.0 * std::sin(g.el) + Sc->cn0_noise_db * gauss(Sc->seed, geo.prn, 2, std::llround(dt * 1e6));
  s->visible = s->el_deg >= Sc->mask_deg ? 1 : 0;
  for (int j = 0; j < 3; ++j) s->sat_pos_ecef[j] = g.sat[j];
}

bool scenario_usable(const SKY_SCENARIO_T* sc) {
  if (sc->nsat < 1 || sc->nsat > SKY_MAX_SV) return false;
  if (sc->n_waypoints < 0 || sc->n_waypoints > SKY_MAX_WAYPOINTS) return false;
  if (sc->n_outages < 0 || sc->n_outages > SKY_MAX_OUTAGES) return false;
  if (sc->n_slips < 0 || sc->n_slips > SKY_MAX_SLIPS) return false;
  if (sc->n_pr_steps < 0 || sc->n_pr_steps > SKY_MAX_PR_STEPS) return false;
  if (sc->n_sbas < 0 || sc->n_sbas > SKY_SBAS_MAX_GEO) return false;
  return sc->start.tow >= 0.0 && sc->start.tow < SKYC_WEEK_S && sc->start.week >= 0 && sc->clk_drift > -0.5;
}

}  // namespace

int SKY_init(const SKY_SCENARIO_T* sc) {
  if (sc == nullptr || !scenario_usable(sc)) return 0;
  Sc = sc;
  Clock_step_s = 0.0;
  deg_llh_to_ecef(sc->llh, Start_pos);
  enu_to_ecef(sc->llh, sc->vel_enu, Start_vel);
  for (int i = 0; i < sc->n_waypoints; ++i) deg_llh_to_ecef(&sc->waypoints[i][1], Waypoint_pos[i]);
  if (SKYC_orbit_init(sc) == 0) {
    Sc = nullptr;
    return 0;
  }
  SKYC_nav_reset();
  const RX_T rx = receiver_at(0.0);
  Carrier_start.fill(0.0);
  for (int svid = 1; svid <= sc->nsat; ++svid) {
    SKY_EPH_T eph;
    if (epoch_eph(svid, rx, &eph) == 1)
      Carrier_start[static_cast<size_t>(svid - 1)] = carrier_range(geometry(eph, rx), rx);
  }
  for (int i = 0; i < sc->n_sbas; ++i) {
    SKY_sbas_geo(sc, i, &Geo[static_cast<std::size_t>(i)]);
    Geo_carrier_start[static_cast<std::size_t>(i)] =
        carrier_range(geo_geometry(Geo[static_cast<std::size_t>(i)], rx), rx);
  }
  return 1;
}

int SKY_sbas_geo(const SKY_SCENARIO_T* sc, int i, SKY_SBAS_GEO_T* out) {
  if (sc == nullptr || out == nullptr || i < 0 || i >= sc->n_sbas || i >= SKY_SBAS_MAX_GEO) return 0;
  SKY_SBAS_GEO_T g;
  g.prn = sc->sbas_prn[i];
  g.lon_deg = sc->sbas_lon_deg[i];
  g.phase_rad = 0.37 * (g.prn - SKY_SBAS_PRN_MIN);
  g.send_type0 = sc->sbas_type0;
  g.symbol_error_rate = sc->sbas_symbol_error_rate;
  g.seed = sc->seed;
  g.gps_prn_mask = sc->nsat >= 32 ? 0xFFFFFFFFU : ((1U << sc->nsat) - 1U);
  *out = g;
  return 1;
}

int SKY_epoch_at_clock(SKY_GPST_T clock_time, SKY_EPOCH_T* out) {
  if (Sc == nullptr || out == nullptr || !std::isfinite(clock_time.tow)) return 0;
  const SKY_GPST_T clock = SKYC_add(clock_time, 0.0);
  // clock = true + bias0 + drift (true - start)  =>  true - start = (clock - start - bias0) / (1 + drift)
  const double dt = (SKYC_diff(clock, Sc->start) - Sc->clk_bias0_s - Clock_step_s) / (1.0 + Sc->clk_drift);
  const RX_T rx = receiver_at(dt);
  out->rx = SKY_RX_T{};
  out->rx.true_time = rx.t;
  out->rx.clock_time = clock;
  for (int j = 0; j < 3; ++j) {
    out->rx.pos_ecef[j] = rx.pos[j];
    out->rx.vel_ecef[j] = rx.vel[j];
  }
  out->rx.clk_bias_s = rx.bias;
  out->rx.clk_drift = Sc->clk_drift;
  out->n = SKYC_nsat();
  for (int i = 0; i < out->n; ++i) fill_signal(i + 1, dt, rx, clock, &out->sig[i]);
  out->n_geo = Sc->n_sbas;
  for (int i = 0; i < out->n_geo; ++i) fill_geo_signal(i, dt, rx, clock, &out->geo[i]);
  return 1;
}

void SKY_clock_step(double s) {
  if (std::isfinite(s)) Clock_step_s += s;
}

double SKY_clock_bias_at(SKY_GPST_T true_time) {
  if (Sc == nullptr) return 0.0;
  return Sc->clk_bias0_s + Clock_step_s + Sc->clk_drift * SKYC_diff(true_time, Sc->start);
}
