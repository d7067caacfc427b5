// The sky's orbits against the RTK engine's broadcast-orbit function (two
// independent implementations of the IS-GPS-200 user algorithm fed the same
// ephemeris), continuity of consecutive data sets, and the constellation
// placed in view of the receiver at the start.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "sky_engine_eph.h"

namespace {

using sky_test::dist;
using sky_test::gt;
using sky_test::SC;
using sky_test::to_engine;

SKY_SCENARIO_T scenario(double lat, double lon, int nsat, int week, double tow) {
  SKY_SCENARIO_T sc;
  sc.llh[0] = lat;
  sc.llh[1] = lon;
  sc.llh[2] = 50.0;
  sc.nsat = nsat;
  sc.start = gt(week, tow);
  return sc;
}

// Every satellite, every 10 minutes of a data set and at both of its ends:
// position within 1 mm, clock (with the relativistic term) within 1e-13 s.
TEST(SkyOrbit, PositionsAndClocksAgreeWithTheEngine) {
  static SKY_SCENARIO_T sc = scenario(35.0, 139.0, 32, 2400, 300000.0);
  ASSERT_EQ(SKY_init(&sc), 1);
  for (int svid = 1; svid <= 32; ++svid) {
    SKY_EPH_T se;
    ASSERT_EQ(SKY_get_ephemeris(svid, gt(2400, 302000.0), &se), 1);
    const eph_t ee = to_engine(se);
    for (double tk = -3600.0; tk <= 3600.0; tk += 600.0) {
      const SKY_GPST_T t = gt(se.week, se.toe * 16.0 + tk + 0.123);
      double ps[3], vs[3], clk = 0.0;
      ASSERT_EQ(SKY_eph_sat_state(&se, t, ps, vs, &clk), 1);
      double pe[3], dts = 0.0, var = 0.0;
      eph2pos(gpst2time(t.week, t.tow), &ee, pe, &dts, &var);
      EXPECT_LT(dist(ps, pe), 1e-3) << "svid " << svid << " tk " << tk;
      EXPECT_NEAR(clk, dts, 1e-13) << "svid " << svid << " tk " << tk;
      // velocity against the engine's positions 0.5 s either side
      double p1[3], p2[3];
      eph2pos(gpst2time(t.week, t.tow - 0.5), &ee, p1, &dts, &var);
      eph2pos(gpst2time(t.week, t.tow + 0.5), &ee, p2, &dts, &var);
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(vs[j], (p2[j] - p1[j]) / 1.0, 2e-4) << "svid " << svid << " axis " << j;
    }
  }
}

// A data set used across the end of the week (toe late on Saturday) agrees
// with the engine too.
TEST(SkyOrbit, AgreesAcrossTheWeekEnd) {
  static SKY_SCENARIO_T sc = scenario(-33.9, 18.4, 8, 2399, 604000.0);
  ASSERT_EQ(SKY_init(&sc), 1);
  for (int svid = 1; svid <= 8; ++svid) {
    SKY_EPH_T se;
    ASSERT_EQ(SKY_get_ephemeris(svid, gt(2399, 604700.0), &se), 1);
    EXPECT_EQ(se.week, 2399);
    EXPECT_EQ(se.toe * 16, 601200);
    const eph_t ee = to_engine(se);
    const SKY_GPST_T t = gt(2400, 30.5);  // next week, 4430.5 s after toe
    double ps[3], clk = 0.0, pe[3], dts = 0.0, var = 0.0;
    ASSERT_EQ(SKY_eph_sat_state(&se, t, ps, nullptr, &clk), 1);
    eph2pos(gpst2time(t.week, t.tow), &ee, pe, &dts, &var);
    EXPECT_LT(dist(ps, pe), 1e-3) << "svid " << svid;
    EXPECT_NEAR(clk, dts, 1e-13) << "svid " << svid;
  }
}

// Consecutive 2-hour data sets continue one orbit (quantisation apart) and
// one clock; each new set has a new IODE, and IODC's low byte follows it.
TEST(SkyOrbit, ConsecutiveDataSetsContinueTheOrbit) {
  static SKY_SCENARIO_T sc = scenario(52.0, 5.0, 12, 2400, 7000.0);
  ASSERT_EQ(SKY_init(&sc), 1);
  for (int svid = 1; svid <= 12; ++svid) {
    SKY_EPH_T a, b;
    ASSERT_EQ(SKY_get_ephemeris(svid, gt(2400, 7199.0), &a), 1);
    ASSERT_EQ(SKY_get_ephemeris(svid, gt(2400, 7200.0), &b), 1);
    EXPECT_EQ(a.toe * 16, 3600);
    EXPECT_EQ(b.toe * 16, 10800);
    EXPECT_NE(a.iode, b.iode);
    EXPECT_EQ(a.iodc & 0xFF, a.iode);
    EXPECT_EQ(b.iodc & 0xFF, b.iode);
    const SKY_GPST_T t = gt(2400, 7200.0);
    double pa[3], pb[3], ca = 0.0, cb = 0.0;
    SKY_eph_sat_state(&a, t, pa, nullptr, &ca);
    SKY_eph_sat_state(&b, t, pb, nullptr, &cb);
    EXPECT_LT(dist(pa, pb), 0.05) << "svid " << svid;
    EXPECT_NEAR(ca, cb, 1e-14) << "svid " << svid;
    // the orbit is a GPS orbit: radius 26 560 km within e A (e < 0.02)
    const double r = std::sqrt(pa[0] * pa[0] + pa[1] * pa[1] + pa[2] * pa[2]);
    EXPECT_NEAR(r, 26.56e6, 0.55e6) << "svid " << svid;
  }
  SKY_EPH_T none;
  EXPECT_EQ(SKY_get_ephemeris(13, gt(2400, 7200.0), &none), 0);
  EXPECT_EQ(SKY_get_ephemeris(0, gt(2400, 7200.0), &none), 0);
}

// The first twelve satellites are in view at the start wherever the
// receiver is, above the mask by at least 4 degrees.
TEST(SkyOrbit, FirstTwelveInViewAtTheStart) {
  struct Place {
    double lat, lon;
  };
  const Place places[] = {{0.0, 0.0}, {35.7, 139.7}, {-33.9, 18.4}, {64.1, -21.9}, {78.2, 15.6}, {-77.8, 166.7}};
  for (const Place& p : places) {
    static SKY_SCENARIO_T sc;
    sc = scenario(p.lat, p.lon, 16, 2400, 123456.0);
    sc.mask_deg = 10.0;
    ASSERT_EQ(SKY_init(&sc), 1);
    static SKY_EPOCH_T ep;
    ASSERT_EQ(SKY_epoch_at_clock(sc.start, &ep), 1);
    ASSERT_EQ(ep.n, 16);
    for (int i = 0; i < 12; ++i) {
      EXPECT_GE(ep.sig[i].el_deg, 14.0) << "lat " << p.lat << " svid " << i + 1;
      EXPECT_EQ(ep.sig[i].visible, 1) << "lat " << p.lat << " svid " << i + 1;
    }
  }
}

// Two's-complement range of a field of `bits` bits.
bool fits_signed(int64_t v, int bits) { return v >= -(int64_t{1} << (bits - 1)) && v < (int64_t{1} << (bits - 1)); }
bool fits_unsigned(int64_t v, int bits) { return v >= 0 && v < (int64_t{1} << bits); }

// Every ephemeris and almanac value fits its message field, for receivers
// anywhere (near the poles the satellites in view need steep orbits, and the
// almanac's delta i reaches only 0.30 +- 0.0625 semicircles).
TEST(SkyOrbit, EveryFieldFitsItsMessageBits) {
  const double lats[] = {0.0, 45.0, 78.2, -77.8, 89.9};
  for (const double lat : lats) {
    static SKY_SCENARIO_T sc;
    sc = scenario(lat, 15.0, 32, 2400, 86400.0 * 3.0);
    ASSERT_EQ(SKY_init(&sc), 1);
    for (int svid = 1; svid <= 32; ++svid) {
      for (double tow = sc.start.tow; tow < sc.start.tow + 86400.0; tow += 7200.0) {
        const std::string tag = "lat " + std::to_string(lat) + " svid " + std::to_string(svid);
        SKY_EPH_T e;
        ASSERT_EQ(SKY_get_ephemeris(svid, gt(2400, tow), &e), 1);
        EXPECT_TRUE(fits_signed(e.tgd, 8) && fits_signed(e.af2, 8) && fits_signed(e.af1, 16) && fits_signed(e.af0, 22))
            << tag;
        EXPECT_TRUE(fits_unsigned(e.toc, 16) && fits_unsigned(e.toe, 16) && fits_unsigned(e.iode, 8) &&
                    fits_unsigned(e.iodc, 10) && (e.iodc & 0xFF) == e.iode)
            << tag;
        EXPECT_TRUE(fits_signed(e.crs, 16) && fits_signed(e.crc, 16) && fits_signed(e.cuc, 16) &&
                    fits_signed(e.cus, 16) && fits_signed(e.cic, 16) && fits_signed(e.cis, 16))
            << tag;
        EXPECT_TRUE(fits_signed(e.deln, 16) && fits_signed(e.omgd, 24) && fits_signed(e.idot, 14)) << tag;
        EXPECT_LT(e.e * std::ldexp(1.0, -33), 0.03) << tag;
        SKY_ALM_T a;
        ASSERT_EQ(SKY_get_almanac(svid, gt(2400, tow), &a), 1);
        EXPECT_TRUE(fits_unsigned(a.e, 16) && fits_unsigned(a.toa, 8) && fits_signed(a.di, 16) &&
                    fits_signed(a.omgd, 16) && fits_unsigned(a.sqrta, 24))
            << tag << " di " << a.di;
        EXPECT_TRUE(fits_signed(a.omg0, 24) && fits_signed(a.omg, 24) && fits_signed(a.m0, 24) &&
                    fits_signed(a.af0, 11) && fits_signed(a.af1, 11))
            << tag;
      }
    }
  }
}

// The almanac as the engine's orbit function reads it (IS-GPS-200 20.3.3.5.2.1:
// no harmonic terms, no delta n, no IDOT, i = 0.30 sc + delta i, toa as the
// reference time) follows the ephemeris orbit within 3 km over the day the
// almanac stays in use (its toa +-43000 s).
TEST(SkyOrbit, AlmanacFollowsTheEphemerisOrbit) {
  static SKY_SCENARIO_T sc = scenario(35.0, 139.0, 32, 2400, 100000.0);
  ASSERT_EQ(SKY_init(&sc), 1);
  for (int svid = 1; svid <= 32; ++svid) {
    SKY_ALM_T a;
    ASSERT_EQ(SKY_get_almanac(svid, gt(2400, 100000.0), &a), 1);
    ASSERT_EQ(a.toa * 4096, 86016 + 40960);
    eph_t e{};
    const double sqrta = std::ldexp(static_cast<double>(a.sqrta), -11);
    e.A = sqrta * sqrta;
    e.e = std::ldexp(static_cast<double>(a.e), -21);
    e.i0 = (0.30 + std::ldexp(static_cast<double>(a.di), -19)) * SC;
    e.OMG0 = std::ldexp(static_cast<double>(a.omg0), -23) * SC;
    e.omg = std::ldexp(static_cast<double>(a.omg), -23) * SC;
    e.M0 = std::ldexp(static_cast<double>(a.m0), -23) * SC;
    e.OMGd = std::ldexp(static_cast<double>(a.omgd), -38) * SC;
    e.toes = a.toa * 4096.0;
    e.toe = gpst2time(2400, e.toes);
    e.toc = e.toe;
    e.f0 = std::ldexp(static_cast<double>(a.af0), -20);
    e.f1 = std::ldexp(static_cast<double>(a.af1), -38);
    for (double dt = -43000.0; dt <= 43000.0; dt += 3583.0) {
      const SKY_GPST_T t = gt(2400, e.toes + dt);
      SKY_EPH_T se;
      ASSERT_EQ(SKY_get_ephemeris(svid, t, &se), 1);
      double ps[3], clk = 0.0, pa[3], dts = 0.0, var = 0.0;
      ASSERT_EQ(SKY_eph_sat_state(&se, t, ps, nullptr, &clk), 1);
      eph2pos(gpst2time(t.week, t.tow), &e, pa, &dts, &var);
      EXPECT_LT(dist(ps, pa), 3000.0) << "svid " << svid << " dt " << dt;
      EXPECT_NEAR(dts, clk, 1e-6) << "svid " << svid << " dt " << dt;  // about 300 m
    }
  }
}

}  // namespace
