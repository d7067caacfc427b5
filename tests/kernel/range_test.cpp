// Range records: pseudorange and satellite state at the transmit time of a
// sky ephemeris against the sky's own orbit and clock, the variance table
// with its delayed C/N0 rise, the week wrap, and the geometric range's
// Earth-rotation term against a rotated-frame light-time solution.
#include "kernel/src/range.h"

#include <gtest/gtest.h>

#include <cmath>

#include "kernel/src/range_lib.h"
#include "kernel/src/satellite.h"
#include "tests/kernel/sky_ephemeris.h"
#include "tools/sky/sky.h"

namespace {

constexpr int WEEK = 2400;
constexpr double T0 = 300000.0;
constexpr double C = 299792458.0;
constexpr double OMEGA_E = 7.2921151467e-5;  // rad/s

class Range : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(init_full_sky(WEEK, T0), 1);
    EPH_init_storage_address(nullptr, 0);
    EPH_init(nullptr);
    SV_init();
    RNG_init();
  }
};

// The kernel evaluates the orbit at the satellite's own time stamp (the
// transmit time the code carries); the sky's orbit at that time, its clock
// less T_GD, and (receive - transmit) x c as the pseudorange.
TEST_F(Range, PseudorangeAndSatelliteStateAtTransmitTime) {
  for (int svid : {3, 5, 17}) {
    SCOPED_TRACE(svid);
    load_sky_ephemeris(svid, sky_frame(svid, WEEK, T0));
    SKY_EPH_T eph{};
    ASSERT_EQ(SKY_get_ephemeris(svid, SKY_GPST_T{WEEK, T0}, &eph), 1);
    const RNG_T rng = RNG_get_reference(static_cast<S16>(svid % 20));
    RNG_set(rng, SV_get_reference(GNSS_TYPE_GPS, static_cast<S16>(svid)), static_cast<S16>(svid % 20));
    for (double dt : {0.0, 5.0, 11.0, 30.0}) {
      RNG_reset_calculation();
      const double ttime = T0 + 20.0 + dt + 0.0712345678;
      const double rx = T0 + 20.0 + dt + 0.0781;
      ASSERT_EQ(RNG_update_ttime(rng, ttime), 1);
      RNG_update_gtc_time(WEEK, rx, 1.0, 0.0);
      D64 pr = 0.0;
      ASSERT_EQ(RNG_get_pseudo_range(rng, &pr), 1);
      EXPECT_NEAR(pr, (rx - ttime) * C, 1e-6);
      POS_T p{};
      VEL_T v{};
      ASSERT_EQ(RNG_get_sv_position_of_ttime(rng, &p, &v, nullptr), 1);
      double truth[3], tv[3], clk = 0.0;
      ASSERT_EQ(SKY_eph_sat_state(&eph, SKY_GPST_T{WEEK, ttime}, truth, tv, &clk), 1);
      EXPECT_LT(std::hypot(p.px - truth[0], p.py - truth[1], p.pz - truth[2]), 0.03) << "dt " << dt;
      F32 dts = 0.0F, ddts = 0.0F;
      RNG_get_non_atmosphere_delay(rng, &dts, &ddts);
      const double tgd = std::ldexp(static_cast<double>(eph.tgd), -31);
      EXPECT_NEAR(dts, clk - tgd, 1e-10) << "dt " << dt;  // 3 cm of light
    }
  }
}

TEST_F(Range, NothingWithoutSatelliteOrTransmitTime) {
  const RNG_T rng = RNG_get_reference(4);
  EXPECT_EQ(RNG_update_ttime(rng, T0), 0);  // unbound: refused
  RNG_set(rng, SV_get_reference(GNSS_TYPE_GPS, 9), 4);
  RNG_update_gtc_time(WEEK, T0, 1.0, 0.0);
  D64 pr = 0.0;
  EXPECT_EQ(RNG_get_pseudo_range(rng, &pr), 0);
  ASSERT_EQ(RNG_update_ttime(rng, T0 - 0.07), 1);
  RNG_update_gtc_time(WEEK, T0, 1.0, 0.0);  // no ephemeris: a pseudorange, no position
  EXPECT_EQ(RNG_get_pseudo_range(rng, &pr), 1);
  EXPECT_EQ(RNG_get_sv_position_of_ttime(rng, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(RNG_get_true_range(rng, &pr), 0);
  EXPECT_EQ(RNG_update_ttime(rng, std::nan("")), 0);  // a transmit time that is no time
}

// A satellite receding at 500 m/s: the channel's Doppler (positive while
// approaching) is -500 / wavelength; the range rate the record keeps is +500
// m/s, and the carrier-smoothed pseudorange follows the growing range through
// 15 epochs without a reset.
TEST_F(Range, SmoothingFollowsARecedingSatellite) {
  const RNG_T rng = RNG_get_reference(2);
  RNG_set(rng, SV_get_reference(GNSS_TYPE_GPS, 11), 2);
  constexpr double RATE = 500.0;  // m/s
  for (int k = 0; k < 15; ++k) {
    RNG_reset_calculation();
    const double pr = 2.2e7 + RATE * k;
    const double rx = T0 + k;
    RNG_calculate_range_variance(rng, 45, 0);
    RNG_update_carrier_dopp_freq(rng, GNSS_TYPE_GPS, 0, -RATE / RNGL_L1_WAVELENGTH);
    ASSERT_EQ(RNG_update_ttime(rng, rx - pr / C), 1);
    RNG_update_gtc_time(WEEK, rx, 1.0, 0.0);
    F32 dr = 0.0F;
    ASSERT_EQ(RNG_get_delta_range(rng, &dr), 1);
    EXPECT_NEAR(dr, RATE, 1e-3);
    D64 spr = 0.0;
    F32 var = 0.0F;
    ASSERT_EQ(RNG_get_smoothed_pseudo_range(rng, &spr, &var), 1) << "epoch " << k;
    EXPECT_NEAR(spr, pr, 0.01) << "epoch " << k;
  }
  S32 count = 0;
  ASSERT_EQ(RNG_get_PR_smoothing_count(rng, &count), 1);
  EXPECT_GE(count, 14);  // never reset
}

// Variances from C/N0: a rise of 5 dB or more is believed one update later;
// the first tracking second has a range-rate variance of 9.
TEST_F(Range, VarianceFollowsCn0WithADelayedRise) {
  struct Step {
    S16 cn0, first_second;
    F32 var_pr, var_dr;
  };
  const Step steps[] = {
      {38, 1, 2500.0F, 9.0F},  // first update: a rise from 0, believed next time; range-rate variance 9
      {38, 0, 16.0F, 0.16F},   // row 6
      {44, 0, 16.0F, 0.16F},   // 6 dB above 38: row 6 still
      {44, 0, 6.0F, 0.04F},    // row 3
      {48, 0, 4.0F, 0.02F},    // +4 dB: taken at once (row 1)
      {60, 0, 4.0F, 0.02F},    // +12 dB: held one update at 48
      {60, 0, 4.0F, 0.01F},    // row 0
      {10, 0, 2500.0F, 8.0F},  // row 18 (clamped)
  };
  const RNG_T rng = RNG_get_reference(0);
  int k = 0;
  for (const Step& s : steps) {
    RNG_calculate_range_variance(rng, s.cn0, s.first_second);
    F32 vp = 0.0F, vd = 0.0F;
    RNG_get_variance(rng, &vp, &vd);
    EXPECT_EQ(vp, s.var_pr) << "step " << k;
    EXPECT_EQ(vd, s.var_dr) << "step " << k;
    ++k;
  }
}

TEST(RangeLib, PseudorangeWrapsAcrossTheWeek) {
  EXPECT_NEAR(RNGL_calculate_pseudo_range(5.0, 604790.0), 15.0 * C, 1e-6);
  EXPECT_NEAR(RNGL_calculate_pseudo_range(604795.0, 3.0), -8.0 * C, 1e-6);
  EXPECT_NEAR(RNGL_calculate_pseudo_range(100.075, 100.0), 0.075 * C, 1e-6);
}

// The geometric range with the first-order Earth-rotation term against the
// light-time range in the receiver's frame: the satellite's transmit-time
// position rotated by the Earth's turn during the flight, iterated.
TEST(RangeLib, EarthRotationTermAgainstTheRotatedFrame) {
  struct Case {
    const char* name;
    POS_T sat, rcv;
  };
  const Case cases[] = {
      {"east of the receiver", {15600e3, 21000e3, 4000e3}, {4100e3, 900e3, 4800e3}},
      {"west of the receiver", {-8000e3, 12000e3, 22000e3}, {4100e3, 900e3, 4800e3}},
      {"southern hemisphere", {2000e3, -14000e3, -22000e3}, {1000e3, -4500e3, -4400e3}},
      {"overhead on the equator", {26560e3, 0.0, 0.0}, {6378e3, 0.0, 0.0}},
  };
  for (const Case& c : cases) {
    double tau = 0.07, exact = 0.0;
    for (int it = 0; it < 5; ++it) {
      const double a = OMEGA_E * tau;
      const double xs = c.sat.px * std::cos(a) + c.sat.py * std::sin(a);
      const double ys = -c.sat.px * std::sin(a) + c.sat.py * std::cos(a);
      exact = std::hypot(xs - c.rcv.px, ys - c.rcv.py, c.sat.pz - c.rcv.pz);
      tau = exact / C;
    }
    const VEL_T zero{};
    D64 range = 0.0;
    F32 rvel = 0.0F, dc[3];
    RNGL_calculate_true_range(&c.rcv, &zero, &c.sat, &zero, &range, &rvel, dc);
    EXPECT_NEAR(range, exact, 2e-3) << c.name;
    EXPECT_NEAR(std::hypot(dc[0], dc[1], dc[2]), 1.0, 1e-6) << c.name;
  }
}

}  // namespace
