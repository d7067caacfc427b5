// Signals of the simulated sky against independent computations: light time
// and Sagnac iterated here with the RTK engine's orbits, the pseudorange
// composition, Doppler and range rate against differences of that range,
// carrier phase against the Doppler, the receiver clock, motion, outages and
// slips, and the propagation models against known answers.
#include <gtest/gtest.h>

#include <cmath>

#include "sky_engine_eph.h"

namespace {

constexpr double C = 299792458.0;
constexpr double OMEGA_E = 7.2921151467e-5;
constexpr double LAMBDA = C / 1575.42e6;

using sky_test::dist;
using sky_test::gt;
using sky_test::SC;
using sky_test::to_engine;

SKY_GPST_T add(SKY_GPST_T t, double s) {
  t.tow += s;
  while (t.tow >= 604800.0) {
    t.tow -= 604800.0;
    ++t.week;
  }
  while (t.tow < 0.0) {
    t.tow += 604800.0;
    --t.week;
  }
  return t;
}

double diff(SKY_GPST_T a, SKY_GPST_T b) { return (a.week - b.week) * 604800.0 + (a.tow - b.tow); }

// Range by direct iteration: the engine's satellite at t - tau, turned by
// omega_e tau, tau = (range + delays) / c. Also the satellite clock (engine,
// relativity included) at transmission.
struct Direct {
  double range;
  double sat_clk;  // without T_GD
};
Direct direct_range(const eph_t& e, SKY_GPST_T t, const double* rx, double delays) {
  double tau = 0.07, range = 0.0, dts = 0.0;
  for (int k = 0; k < 20; ++k) {
    const SKY_GPST_T tx = add(t, -tau);
    double p[3], var = 0.0;
    eph2pos(gpst2time(tx.week, tx.tow), &e, p, &dts, &var);
    const double a = OMEGA_E * tau;
    const double q[3] = {std::cos(a) * p[0] + std::sin(a) * p[1], -std::sin(a) * p[0] + std::cos(a) * p[1], p[2]};
    range = dist(q, rx);
    tau = (range + delays) / C;
  }
  return {range, dts};
}

SKY_SCENARIO_T base_scenario() {
  SKY_SCENARIO_T sc;
  sc.start = gt(2400, 302400.0);
  sc.llh[0] = 35.68;
  sc.llh[1] = 139.77;
  sc.llh[2] = 40.0;
  sc.nsat = 12;
  sc.clk_bias0_s = 0.00123;
  sc.clk_drift = 1.5e-6;
  return sc;
}

// Ephemeris the sky uses for a reception at t (the set of the transmission time).
eph_t engine_eph(int svid, SKY_GPST_T t) {
  SKY_EPH_T se;
  EXPECT_EQ(SKY_get_ephemeris(svid, add(t, -0.075), &se), 1);
  return to_engine(se);
}

TEST(SkySignal, RangeLightTimeAndSagnacAgreeWithDirectIteration) {
  static SKY_SCENARIO_T sc = base_scenario();
  ASSERT_EQ(SKY_init(&sc), 1);
  static SKY_EPOCH_T ep;
  for (double t = 0.0; t < 100.0; t += 33.5) {
    ASSERT_EQ(SKY_epoch_at_clock(add(sc.start, t), &ep), 1);
    for (int i = 0; i < ep.n; ++i) {
      const SKY_SIGNAL_T& s = ep.sig[i];
      const eph_t e = engine_eph(s.svid, ep.rx.true_time);
      const Direct d = direct_range(e, ep.rx.true_time, ep.rx.pos_ecef, s.iono_m + s.tropo_m);
      EXPECT_NEAR(s.range_m, d.range, 1e-3) << "svid " << s.svid << " t " << t;
      EXPECT_NEAR(s.sat_clk_s, d.sat_clk - e.tgd[0], 1e-12) << "svid " << s.svid;
      // Earth rotation during the light time (IS-GPS-200 20.3.3.4.3.3.2): to
      // first order the range grows by omega_e (x_s y_r - y_s x_r) / c over
      // the distance to the unturned satellite position.
      const SKY_GPST_T tx = add(ep.rx.true_time, -(s.range_m + s.iono_m + s.tropo_m) / C);
      double p[3], dts = 0.0, var = 0.0;
      eph2pos(gpst2time(tx.week, tx.tow), &e, p, &dts, &var);
      const double* r = ep.rx.pos_ecef;
      const double plain = dist(p, r);
      EXPECT_NEAR(s.range_m - plain, OMEGA_E * (p[0] * r[1] - p[1] * r[0]) / C, 0.01) << "svid " << s.svid;
    }
  }
}

TEST(SkySignal, PseudorangeIsRangePlusClocksPlusDelays) {
  static SKY_SCENARIO_T sc = base_scenario();
  ASSERT_EQ(SKY_init(&sc), 1);
  static SKY_EPOCH_T ep;
  ASSERT_EQ(SKY_epoch_at_clock(add(sc.start, 17.5), &ep), 1);
  for (int i = 0; i < ep.n; ++i) {
    const SKY_SIGNAL_T& s = ep.sig[i];
    const double expect = s.range_m + C * (ep.rx.clk_bias_s - s.sat_clk_s) + s.iono_m + s.tropo_m;
    EXPECT_NEAR(s.pseudorange_m, expect, 1e-3) << "svid " << s.svid;
    // the transmit time stamp encodes the same pseudorange (tow resolution ~1e-10 s)
    EXPECT_NEAR(diff(ep.rx.clock_time, s.tx_time) * C, s.pseudorange_m, 0.05) << "svid " << s.svid;
    EXPECT_GT(s.iono_m, 0.5);
    EXPECT_GT(s.tropo_m, 2.0);
  }
}

// Doppler in receiver-clock time, positive while approaching:
//   D = -(range rate + c (drift - satellite clock rate) - iono rate + tropo rate) / (lambda (1 + drift))
// The range rate is the difference of the direct iteration over +-0.5 s, the
// satellite clock rate the engine's, the delay rates differences of the
// sky's delays one second apart.
TEST(SkySignal, StaticReceiverDopplerAndRangeRate) {
  static SKY_SCENARIO_T sc = base_scenario();
  ASSERT_EQ(SKY_init(&sc), 1);
  static SKY_EPOCH_T ep, e0, e1;
  const double t = 40.0, drift = sc.clk_drift;
  ASSERT_EQ(SKY_epoch_at_clock(add(sc.start, t), &ep), 1);
  ASSERT_EQ(SKY_epoch_at_clock(add(sc.start, t - 0.5 * (1.0 + drift)), &e0), 1);
  ASSERT_EQ(SKY_epoch_at_clock(add(sc.start, t + 0.5 * (1.0 + drift)), &e1), 1);
  int approaching = 0, receding = 0;
  for (int i = 0; i < ep.n; ++i) {
    const SKY_SIGNAL_T& s = ep.sig[i];
    const eph_t e = engine_eph(s.svid, ep.rx.true_time);
    const double delays = s.iono_m + s.tropo_m;
    const Direct r0 = direct_range(e, add(ep.rx.true_time, -0.5), ep.rx.pos_ecef, delays);
    const Direct r1 = direct_range(e, add(ep.rx.true_time, 0.5), ep.rx.pos_ecef, delays);
    const double range_rate = r1.range - r0.range;
    EXPECT_NEAR(s.range_rate_mps, range_rate, 1e-3) << "svid " << s.svid;
    const double clk_rate = r1.sat_clk - r0.sat_clk;
    const double iono_rate = e1.sig[i].iono_m - e0.sig[i].iono_m;
    const double tropo_rate = e1.sig[i].tropo_m - e0.sig[i].tropo_m;
    const double expect = -(range_rate + C * (drift - clk_rate) - iono_rate + tropo_rate) / (LAMBDA * (1.0 + drift));
    EXPECT_NEAR(s.doppler_hz * LAMBDA, expect * LAMBDA, 1e-3) << "svid " << s.svid;
    // the short form: -range rate / lambda - drift x f_L1, up to the satellite
    // clock and delay rates (a few mm/s)
    EXPECT_NEAR(s.doppler_hz, -range_rate / LAMBDA - drift * 1575.42e6, 0.3) << "svid " << s.svid;
    if (range_rate < -100.0) {
      ++approaching;
      EXPECT_GT(s.doppler_hz + drift * 1575.42e6, 0.0) << "svid " << s.svid;
    }
    if (range_rate > 100.0) {
      ++receding;
      EXPECT_LT(s.doppler_hz + drift * 1575.42e6, 0.0) << "svid " << s.svid;
    }
  }
  EXPECT_GT(approaching, 0);
  EXPECT_GT(receding, 0);
}

// Accumulated phase starts at 0, grows as the Doppler integrates, and jumps
// by the scripted slip.
TEST(SkySignal, CarrierPhaseFollowsDopplerAndSlips) {
  static SKY_SCENARIO_T sc = base_scenario();
  sc.n_slips = 1;
  sc.slips[0].svid = 3;
  sc.slips[0].t = 10.2;
  sc.slips[0].cycles = -7.0;
  ASSERT_EQ(SKY_init(&sc), 1);
  static SKY_EPOCH_T a, b;
  ASSERT_EQ(SKY_epoch_at_clock(add(sc.start, sc.clk_bias0_s), &a), 1);
  for (int i = 0; i < a.n; ++i) EXPECT_NEAR(a.sig[i].carrier_cycles, 0.0, 1e-6) << "svid " << a.sig[i].svid;
  for (double t = 9.0; t < 12.0; t += 1.0) {
    ASSERT_EQ(SKY_epoch_at_clock(add(sc.start, t), &a), 1);
    ASSERT_EQ(SKY_epoch_at_clock(add(sc.start, t + 1.0), &b), 1);
    for (int i = 0; i < a.n; ++i) {
      const double integral = 0.5 * (a.sig[i].doppler_hz + b.sig[i].doppler_hz) * 1.0;  // 1 s of receiver clock
      const double slip = (a.sig[i].svid == 3 && t < 10.2 && t + 1.0 >= 10.2) ? -7.0 : 0.0;
      EXPECT_NEAR(b.sig[i].carrier_cycles - a.sig[i].carrier_cycles, integral + slip, 0.01)
          << "svid " << a.sig[i].svid << " t " << t;
    }
  }
}

// The receiver clock reads true time + bias0 + drift (true - start).
TEST(SkySignal, TrueTimeSolvedFromTheClockReading) {
  static SKY_SCENARIO_T sc = base_scenario();
  sc.clk_bias0_s = -0.75;
  sc.clk_drift = 3e-6;
  sc.start = gt(2400, 604790.0);  // the clock reading crosses into the next week
  ASSERT_EQ(SKY_init(&sc), 1);
  static SKY_EPOCH_T ep;
  for (double t = 0.0; t < 30.0; t += 7.25) {
    const SKY_GPST_T clock = add(sc.start, t);
    ASSERT_EQ(SKY_epoch_at_clock(clock, &ep), 1);
    const double since_start = diff(ep.rx.true_time, sc.start);
    EXPECT_NEAR(ep.rx.clk_bias_s, -0.75 + 3e-6 * since_start, 1e-15);
    EXPECT_NEAR(diff(clock, ep.rx.true_time), ep.rx.clk_bias_s, 1e-9) << "t " << t;
    EXPECT_EQ(ep.rx.clock_time.week, clock.week);
    EXPECT_DOUBLE_EQ(ep.rx.clock_time.tow, clock.tow);
    EXPECT_GE(ep.rx.true_time.tow, 0.0);
    EXPECT_LT(ep.rx.true_time.tow, 604800.0);
  }
}

// Outages block one satellite or all; the mask hides low satellites.
TEST(SkySignal, OutagesAndMask) {
  static SKY_SCENARIO_T sc = base_scenario();
  sc.n_outages = 2;
  sc.outages[0] = {4, 10.0, 20.0};
  sc.outages[1] = {0, 50.0, 51.0};
  ASSERT_EQ(SKY_init(&sc), 1);
  static SKY_EPOCH_T ep;
  struct Case {
    double t;
    int sv4, sv5;
  };
  const Case cases[] = {{9.0, 1, 1}, {10.5, 0, 1}, {19.9, 0, 1}, {20.5, 1, 1}, {50.5, 0, 0}, {51.5, 1, 1}};
  for (const Case& c : cases) {
    ASSERT_EQ(SKY_epoch_at_clock(add(sc.start, c.t + sc.clk_bias0_s), &ep), 1);
    EXPECT_EQ(ep.sig[3].visible, c.sv4) << "t " << c.t;
    EXPECT_EQ(ep.sig[4].visible, c.sv5) << "t " << c.t;
  }
  static SKY_SCENARIO_T sc2 = base_scenario();
  sc2.nsat = 32;
  ASSERT_EQ(SKY_init(&sc2), 1);
  ASSERT_EQ(SKY_epoch_at_clock(sc2.start, &ep), 1);
  int hidden = 0;
  for (int i = 0; i < ep.n; ++i) {
    EXPECT_EQ(ep.sig[i].visible, ep.sig[i].el_deg >= sc2.mask_deg ? 1 : 0) << "svid " << i + 1;
    EXPECT_NEAR(ep.sig[i].cn0_dbhz, 35.0 + 15.0 * std::sin(ep.sig[i].el_deg * SC / 180.0), 1e-9);
    hidden += ep.sig[i].visible == 0 ? 1 : 0;
  }
  EXPECT_GT(hidden, 0);
}

// Constant velocity and a waypoint track.
TEST(SkySignal, ReceiverMotion) {
  static SKY_SCENARIO_T sc = base_scenario();
  sc.clk_bias0_s = 0.0;
  sc.clk_drift = 0.0;
  sc.vel_enu[0] = 10.0;
  sc.vel_enu[1] = -5.0;
  sc.vel_enu[2] = 1.0;
  ASSERT_EQ(SKY_init(&sc), 1);
  static SKY_EPOCH_T a, b;
  ASSERT_EQ(SKY_epoch_at_clock(sc.start, &a), 1);
  ASSERT_EQ(SKY_epoch_at_clock(add(sc.start, 20.0), &b), 1);
  const double lat = sc.llh[0] * SC / 180.0, lon = sc.llh[1] * SC / 180.0;
  const double east[3] = {-std::sin(lon), std::cos(lon), 0.0};
  const double north[3] = {-std::sin(lat) * std::cos(lon), -std::sin(lat) * std::sin(lon), std::cos(lat)};
  const double up[3] = {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)};
  double de = 0.0, dn = 0.0, du = 0.0, ve = 0.0;
  for (int j = 0; j < 3; ++j) {
    const double d = b.rx.pos_ecef[j] - a.rx.pos_ecef[j];
    de += east[j] * d;
    dn += north[j] * d;
    du += up[j] * d;
    ve += east[j] * b.rx.vel_ecef[j];
  }
  EXPECT_NEAR(de, 200.0, 1e-6);
  EXPECT_NEAR(dn, -100.0, 1e-6);
  EXPECT_NEAR(du, 20.0, 1e-6);
  EXPECT_NEAR(ve, 10.0, 1e-9);

  static SKY_SCENARIO_T tr = base_scenario();
  tr.clk_bias0_s = 0.0;
  tr.clk_drift = 0.0;
  tr.n_waypoints = 3;
  const double wp[3][4] = {{5.0, 35.0, 139.0, 10.0}, {15.0, 35.001, 139.0, 10.0}, {25.0, 35.001, 139.002, 30.0}};
  for (int i = 0; i < 3; ++i) {
    for (int k = 0; k < 4; ++k) tr.waypoints[i][k] = wp[i][k];
  }
  ASSERT_EQ(SKY_init(&tr), 1);
  static SKY_EPOCH_T p0, p1, p2, pm, pe;
  ASSERT_EQ(SKY_epoch_at_clock(add(tr.start, 0.0), &p0), 1);  // before the track: at the first point
  ASSERT_EQ(SKY_epoch_at_clock(add(tr.start, 5.0), &p1), 1);
  ASSERT_EQ(SKY_epoch_at_clock(add(tr.start, 15.0), &p2), 1);
  ASSERT_EQ(SKY_epoch_at_clock(add(tr.start, 10.0), &pm), 1);   // half way along the first leg
  ASSERT_EQ(SKY_epoch_at_clock(add(tr.start, 100.0), &pe), 1);  // after the track: at the last point
  for (int j = 0; j < 3; ++j) {
    EXPECT_NEAR(p0.rx.pos_ecef[j], p1.rx.pos_ecef[j], 1e-6);
    EXPECT_EQ(p0.rx.vel_ecef[j], 0.0);
    EXPECT_NEAR(pm.rx.pos_ecef[j], 0.5 * (p1.rx.pos_ecef[j] + p2.rx.pos_ecef[j]), 1e-6);
    EXPECT_NEAR(pm.rx.vel_ecef[j], (p2.rx.pos_ecef[j] - p1.rx.pos_ecef[j]) / 10.0, 1e-9);
    EXPECT_EQ(pe.rx.vel_ecef[j], 0.0);
  }
  // one leg of 0.001 degree of latitude is about 111 m
  const double leg = dist(p2.rx.pos_ecef, p1.rx.pos_ecef);
  EXPECT_NEAR(leg, 110.9, 0.2);
}

// Noise: deterministic per epoch, about the scripted sigma, and carried by
// the pseudorange and the transmit time alike.
TEST(SkySignal, CodeNoiseIsDeterministicAndScaled) {
  static SKY_SCENARIO_T sc = base_scenario();
  sc.code_noise_m = 2.0;
  sc.cn0_noise_db = 1.0;
  ASSERT_EQ(SKY_init(&sc), 1);
  static SKY_EPOCH_T a, b;
  double sum2 = 0.0;
  int n = 0;
  for (int k = 0; k < 40; ++k) {
    const SKY_GPST_T clock = add(sc.start, 1.0 + k);
    ASSERT_EQ(SKY_epoch_at_clock(clock, &a), 1);
    ASSERT_EQ(SKY_epoch_at_clock(clock, &b), 1);
    for (int i = 0; i < a.n; ++i) {
      EXPECT_EQ(a.sig[i].code_err_m, b.sig[i].code_err_m);
      EXPECT_EQ(a.sig[i].cn0_dbhz, b.sig[i].cn0_dbhz);
      const SKY_SIGNAL_T& s = a.sig[i];
      EXPECT_NEAR(s.pseudorange_m - s.code_err_m,
                  s.range_m + C * (a.rx.clk_bias_s - s.sat_clk_s) + s.iono_m + s.tropo_m, 1e-3);
      sum2 += s.code_err_m * s.code_err_m;
      ++n;
    }
  }
  EXPECT_NEAR(std::sqrt(sum2 / n), 2.0, 0.25);
}

// Klobuchar (IS-GPS-200 20.3.3.5.2.5): at night the delay is F x 5 ns; at
// 14:00 local time (x = 0) F x (5 ns + AMP). At the zenith F = 1 + 16 (0.03)^3.
TEST(SkyPropagation, KlobucharKnownAnswers) {
  SKY_IONO_UTC_T p{};
  p.alpha[0] = 12;  // 12 x 2^-30 s
  p.beta[0] = 57;   // 57 x 2^11 s = 116736 s
  const double f = 1.0 + 16.0 * 0.03 * 0.03 * 0.03;
  const double zenith = SC / 2.0;
  EXPECT_NEAR(SKY_klobuchar_m(&p, 0.0, 0.0, 0.0, zenith, 50400.0), f * (5e-9 + 12.0 * std::ldexp(1.0, -30)) * C, 1e-6);
  EXPECT_NEAR(SKY_klobuchar_m(&p, 0.0, 0.0, 0.0, zenith, 7200.0), f * 5e-9 * C, 1e-6);
  // local time follows the pierce point's longitude: 90 degrees east is 6 h later
  EXPECT_NEAR(SKY_klobuchar_m(&p, 0.0, SC / 2.0, 0.0, zenith, 50400.0 - 21600.0),
              SKY_klobuchar_m(&p, 0.0, 0.0, 0.0, zenith, 50400.0), 1e-6);
  // low elevation: obliquity F = 1 + 16 (0.53 - E)^3 with E in semicircles
  const double el = 10.0 * SC / 180.0, e_sc = el / SC;
  EXPECT_NEAR(SKY_klobuchar_m(&p, 0.0, 0.0, 0.0, el, 7200.0), (1.0 + 16.0 * std::pow(0.53 - e_sc, 3)) * 5e-9 * C, 1e-6);
}

// Saastamoinen in the standard atmosphere: at sea level and 45 degrees the
// hydrostatic zenith delay is 0.0022768 x 1013.25 = 2.3070 m; the wet part
// with 50 % humidity at 15 C is 0.0860 m; the delay grows as 1 / sin(el).
TEST(SkyPropagation, SaastamoinenKnownAnswers) {
  const double lat = SC / 4.0;
  EXPECT_NEAR(SKY_saastamoinen_m(lat, 0.0, SC / 2.0), 2.3070 + 0.0860, 1e-3);
  EXPECT_NEAR(SKY_saastamoinen_m(lat, 0.0, SC / 6.0), 2.0 * SKY_saastamoinen_m(lat, 0.0, SC / 2.0), 1e-9);
  EXPECT_LT(SKY_saastamoinen_m(lat, 2000.0, SC / 2.0), 0.8 * SKY_saastamoinen_m(lat, 0.0, SC / 2.0));
  // held below 2 degrees
  EXPECT_NEAR(SKY_saastamoinen_m(lat, 0.0, 0.01), SKY_saastamoinen_m(lat, 0.0, 2.0 * SC / 180.0), 1e-9);
}

TEST(SkySignal, RefusesWithoutAScenario) {
  static SKY_SCENARIO_T sc = base_scenario();
  sc.nsat = 0;
  EXPECT_EQ(SKY_init(&sc), 0);
  EXPECT_EQ(SKY_init(nullptr), 0);
}

// Position from the sky's pseudoranges the way a receiver computes it:
// transmission at clock - P/c - (dts - T_GD) with the engine's broadcast
// orbits and clocks, Earth rotation over the flight time, the sky's delays
// removed; least squares for position and clock bias. The truth comes back
// within 1 cm: the sky's time tags, clocks and geometry follow the standard
// conventions.
TEST(SkySignal, ReceiverPositionFromPseudorangesMatchesTruth) {
  static SKY_SCENARIO_T sc = base_scenario();
  sc.clk_bias0_s = 0.0123;
  ASSERT_EQ(SKY_init(&sc), 1);
  static SKY_EPOCH_T ep;
  ASSERT_EQ(SKY_epoch_at_clock(add(sc.start, 25.0), &ep), 1);
  double x[4] = {0.0, 0.0, 0.0, 0.0};  // ECEF m, c x bias m
  for (int iter = 0; iter < 10; ++iter) {
    double n[4][4] = {}, u[4] = {};
    for (int i = 0; i < ep.n; ++i) {
      const SKY_SIGNAL_T& s = ep.sig[i];
      if (s.visible == 0) continue;
      const eph_t e = engine_eph(s.svid, ep.rx.true_time);
      double dts = 0.0, p[3] = {}, var = 0.0;
      for (int k = 0; k < 3; ++k) {
        const SKY_GPST_T tx = add(ep.rx.clock_time, -s.pseudorange_m / C - (dts - e.tgd[0]));
        eph2pos(gpst2time(tx.week, tx.tow), &e, p, &dts, &var);
      }
      double r = dist(p, x);
      const double a = OMEGA_E * r / C;
      const double q[3] = {std::cos(a) * p[0] + std::sin(a) * p[1], -std::sin(a) * p[0] + std::cos(a) * p[1], p[2]};
      r = dist(q, x);
      const double h[4] = {(x[0] - q[0]) / r, (x[1] - q[1]) / r, (x[2] - q[2]) / r, 1.0};
      const double v = s.pseudorange_m - (r + x[3] - C * (dts - e.tgd[0]) + s.iono_m + s.tropo_m);
      for (int j = 0; j < 4; ++j) {
        u[j] += h[j] * v;
        for (int k = 0; k < 4; ++k) n[j][k] += h[j] * h[k];
      }
    }
    // Gauss-Jordan on the 4x4 normal equations
    for (int c = 0; c < 4; ++c) {
      for (int rr = 0; rr < 4; ++rr) {
        if (rr == c) continue;
        const double f = n[rr][c] / n[c][c];
        for (int k = 0; k < 4; ++k) n[rr][k] -= f * n[c][k];
        u[rr] -= f * u[c];
      }
    }
    for (int j = 0; j < 4; ++j) x[j] += u[j] / n[j][j];
  }
  for (int j = 0; j < 3; ++j) EXPECT_NEAR(x[j], ep.rx.pos_ecef[j], 0.01) << "axis " << j;
  EXPECT_NEAR(x[3], C * ep.rx.clk_bias_s, 0.01);
}

// Across a 2-hour data set change the signals continue: phase and
// pseudorange follow the Doppler within the quantisation of the new set's M0
// and Omega0 (a few centimetres).
TEST(SkySignal, ContinuousAcrossADataSetChange) {
  static SKY_SCENARIO_T sc = base_scenario();
  sc.start = gt(2400, 7190.0);
  sc.clk_bias0_s = 0.0;
  sc.clk_drift = 0.0;
  ASSERT_EQ(SKY_init(&sc), 1);
  static SKY_EPOCH_T a, b;
  for (double t = 8.0; t < 13.0; t += 1.0) {  // reception at 7198 .. 7203 s
    ASSERT_EQ(SKY_epoch_at_clock(add(sc.start, t), &a), 1);
    ASSERT_EQ(SKY_epoch_at_clock(add(sc.start, t + 1.0), &b), 1);
    for (int i = 0; i < a.n; ++i) {
      const double integral = 0.5 * (a.sig[i].doppler_hz + b.sig[i].doppler_hz);
      EXPECT_NEAR(b.sig[i].carrier_cycles - a.sig[i].carrier_cycles, integral, 0.3) << "svid " << i + 1 << " t " << t;
      EXPECT_NEAR(b.sig[i].pseudorange_m - a.sig[i].pseudorange_m, -integral * LAMBDA, 0.06)
          << "svid " << i + 1 << " t " << t;
    }
  }
}

// A moving receiver: the range rate is the difference of the direct
// iteration from the receiver's own positions half a second either side.
TEST(SkySignal, MovingReceiverRangeRate) {
  static SKY_SCENARIO_T sc = base_scenario();
  sc.vel_enu[0] = 25.0;
  sc.vel_enu[1] = -12.0;
  sc.vel_enu[2] = 3.0;
  ASSERT_EQ(SKY_init(&sc), 1);
  static SKY_EPOCH_T ep;
  ASSERT_EQ(SKY_epoch_at_clock(add(sc.start, 30.0), &ep), 1);
  for (int i = 0; i < ep.n; ++i) {
    const SKY_SIGNAL_T& s = ep.sig[i];
    const eph_t e = engine_eph(s.svid, ep.rx.true_time);
    double r0[3], r1[3];
    for (int j = 0; j < 3; ++j) {
      r0[j] = ep.rx.pos_ecef[j] - 0.5 * ep.rx.vel_ecef[j];
      r1[j] = ep.rx.pos_ecef[j] + 0.5 * ep.rx.vel_ecef[j];
    }
    const double delays = s.iono_m + s.tropo_m;
    const double rate = direct_range(e, add(ep.rx.true_time, 0.5), r1, delays).range -
                        direct_range(e, add(ep.rx.true_time, -0.5), r0, delays).range;
    EXPECT_NEAR(s.range_rate_mps, rate, 1e-3) << "svid " << s.svid;
  }
  const double speed = std::sqrt(ep.rx.vel_ecef[0] * ep.rx.vel_ecef[0] + ep.rx.vel_ecef[1] * ep.rx.vel_ecef[1] +
                                 ep.rx.vel_ecef[2] * ep.rx.vel_ecef[2]);
  EXPECT_NEAR(speed, std::sqrt(25.0 * 25.0 + 12.0 * 12.0 + 3.0 * 3.0), 1e-9);
}

}  // namespace
