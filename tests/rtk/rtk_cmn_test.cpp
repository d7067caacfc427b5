// Known-answer tests of the engine's navigation library: time, satellite
// numbers, geometry, atmospheric models, matrices, bit fields and CRC-24Q.
#include <gtest/gtest.h>

#include <cmath>

#include "rtk/eph.h"
#include "rtk/rtk_cmn.h"

namespace {

void expect_epoch(gtime_t t, int y, int mo, int d, int h, int mi, double s) {
  double ep[6];
  time2epoch(t, ep);
  EXPECT_EQ(ep[0], y);
  EXPECT_EQ(ep[1], mo);
  EXPECT_EQ(ep[2], d);
  EXPECT_EQ(ep[3], h);
  EXPECT_EQ(ep[4], mi);
  EXPECT_NEAR(ep[5], s, 1e-9);
}

TEST(RtkTime, WeekRolloversAndCalendar) {
  // 1024-week rollover: 1999-08-22 00:00:00 GPST; 2048: 2019-04-07.
  expect_epoch(gpst2time(1024, 0.0), 1999, 8, 22, 0, 0, 0.0);
  expect_epoch(gpst2time(2048, 0.0), 2019, 4, 7, 0, 0, 0.0);
  EXPECT_DOUBLE_EQ(timediff(gpst2time(1024, 0.0), gpst2time(1023, 604799.0)), 1.0);
  EXPECT_DOUBLE_EQ(timediff(gpst2time(2048, 0.0), gpst2time(2047, 604799.5)), 0.5);
  int week = 0;
  EXPECT_DOUBLE_EQ(time2gpst(timeadd(gpst2time(2047, 604799.75), 0.5), &week), 0.25);
  EXPECT_EQ(week, 2048);
  expect_epoch(gpst2time(0, 0.0), 1980, 1, 6, 0, 0, 0.0);

  const gtime_t t = gpst2time(2000, 345600.5);  // week 2000 began 2018-05-06
  expect_epoch(t, 2018, 5, 10, 0, 0, 0.5);
  EXPECT_EQ(t.sec, 0.5);
  EXPECT_DOUBLE_EQ(timediff(t, timeadd(t, -0.25)), 0.25);
  EXPECT_EQ(gpst2time(100, 2e9).time, gpst2time(100, 0.0).time);  // out of range: 0 s

  // day of year and text times
  const double ep[6] = {2023, 3, 1, 12, 0, 0};
  EXPECT_DOUBLE_EQ(time2doy(epoch2time(ep)), 60.5);
  gtime_t ts{};
  ASSERT_EQ(str2time("  23 01 08 10 00 30.5", 0, 21, &ts), 0);
  expect_epoch(ts, 2023, 1, 8, 10, 0, 30.5);
  EXPECT_DOUBLE_EQ(str2num("x1.5D+02", 1, 7), 150.0);
  const double bad[6] = {1969, 12, 31, 0, 0, 0};
  EXPECT_EQ(epoch2time(bad).time, 0.0);
}

TEST(RtkTime, LeapSecondsAndBeiDouTime) {
  const double ep[6] = {2017, 1, 1, 0, 0, 0};
  expect_epoch(utc2gpst(epoch2time(ep)), 2017, 1, 1, 0, 0, 18.0);
  expect_epoch(gpst2utc(utc2gpst(epoch2time(ep))), 2017, 1, 1, 0, 0, 0.0);
  RTKCMN_set_leap_second(17);
  expect_epoch(utc2gpst(epoch2time(ep)), 2017, 1, 1, 0, 0, 17.0);
  RTKCMN_set_leap_second(18);
  EXPECT_EQ(RTKCMN_get_leap_second(), 18);

  // BeiDou time began 2006-01-01 00:00:00, GPS week 1356, 14 s behind GPS time
  int week = 0;
  EXPECT_DOUBLE_EQ(time2gpst(bdt2gpst(bdt2time(0, 0.0)), &week), 14.0);
  EXPECT_EQ(week, 1356);
  EXPECT_DOUBLE_EQ(time2bdt(gpst2bdt(gpst2time(2100, 100.0)), &week), 86.0);
  EXPECT_EQ(week, 2100 - 1356);
}

TEST(RtkTime, TenBitWeekResolvesToTheNearestFullWeek) {
  EXPECT_EQ(gps_week_from_10bit(2400 & 1023, 2400), 2400);
  EXPECT_EQ(gps_week_from_10bit(900, 900), 900);
  EXPECT_EQ(gps_week_from_10bit(1023, 1024), 1023);  // broadcast just before the rollover
  EXPECT_EQ(gps_week_from_10bit(0, 1023), 1024);
  EXPECT_EQ(gps_week_from_10bit(1023, 2048), 2047);
  EXPECT_EQ(gps_week_from_10bit(5, 2047), 2053);
  EXPECT_EQ(gps_week_from_10bit(100, 0), 100);
}

TEST(RtkSatNumbers, TableAndInverse) {
  EXPECT_EQ(satno(SYS_GPS, 1), 1);
  EXPECT_EQ(satno(SYS_GPS, 32), 32);
  EXPECT_EQ(satno(SYS_QZS, 193), 33);
  EXPECT_EQ(satno(SYS_GLO, 1), 34);
  EXPECT_EQ(satno(SYS_GLO, 24), 57);
  EXPECT_EQ(satno(SYS_SBS, 33), 58);
  EXPECT_EQ(satno(SYS_SBS, 51), 76);
  for (int bad : {0, 33, -1, 255}) EXPECT_EQ(satno(SYS_GPS, bad), 0);
  EXPECT_EQ(satno(SYS_GLO, 25), 0);
  EXPECT_EQ(satno(SYS_SBS, 52), 0);
  EXPECT_EQ(satno(SYS_QZS, 194), 0);
  EXPECT_EQ(satno(SYS_GAL, 1), 0);
  EXPECT_EQ(satno(SYS_CMP, 1), 0);
  for (int sat = 1; sat <= MAXSAT; ++sat) {
    int prn = 0;
    const int sys = satsys(sat, &prn);
    EXPECT_EQ(satno(sys, prn), sat);
  }
  int prn = 7;
  EXPECT_EQ(satsys(0, &prn), SYS_NONE);
  EXPECT_EQ(satsys(77, &prn), SYS_NONE);
  EXPECT_EQ(satid2no("G05"), 5);
  EXPECT_EQ(satid2no("R24"), 57);
  EXPECT_EQ(satid2no("J01"), 33);
  EXPECT_EQ(satid2no("S20"), 58);  // PRN 120 = number 33
  EXPECT_EQ(satid2no("S37"), 75);  // PRN 137 = number 50
  EXPECT_EQ(satid2no("S39"), 0);
  EXPECT_EQ(satid2no("40"), satno(SYS_SBS, 40));
  EXPECT_EQ(satid2no("E11"), 0);
}

TEST(RtkGeometry, ElevationFromTheEarthCentreAndGeodesy) {
  double pos[3];
  const double origin[3] = {0.0, 0.0, 0.0};
  ecef2pos(origin, pos);
  EXPECT_LE(pos[2], -RE_WGS84);
  const double e[3] = {0.6, 0.0, 0.8};
  double azel[2];
  EXPECT_DOUBLE_EQ(satazel(pos, e, azel), PI / 2.0);

  // geodetic round trip and a zenith direction
  const double llh[3] = {35.0 * D2R, 139.0 * D2R, 50.0};
  double r[3], back[3];
  pos2ecef(llh, r);
  ecef2pos(r, back);
  EXPECT_NEAR(back[0], llh[0], 1e-11);
  EXPECT_NEAR(back[1], llh[1], 1e-11);
  EXPECT_NEAR(back[2], llh[2], 1e-4);
  const double up[3] = {std::cos(llh[0]) * std::cos(llh[1]), std::cos(llh[0]) * std::sin(llh[1]), std::sin(llh[0])};
  EXPECT_NEAR(satazel(llh, up, azel), PI / 2.0, 1e-9);
  // pole: latitude +-pi/2
  const double pole[3] = {0.0, 0.0, 6356752.3142};
  ecef2pos(pole, back);
  EXPECT_DOUBLE_EQ(back[0], PI / 2.0);
  EXPECT_NEAR(back[2], 0.0, 1e-3);
  // Sagnac term of a satellite due east of a receiver on the equator's meridian 0
  const double rr[3] = {RE_WGS84, 0.0, 0.0}, rs[3] = {RE_WGS84, 2.0E7, 0.0};
  double u[3];
  // the receiver moves toward the satellite during the flight: shorter range
  EXPECT_NEAR(geodist(rs, rr, u), 2.0E7 - OMGE * RE_WGS84 * 2.0E7 / CLIGHT, 1e-6);
  const double inside[3] = {1000.0, 0.0, 0.0};
  EXPECT_EQ(geodist(inside, rr, u), -1.0);
}

TEST(RtkModels, SaastamoinenZenithDelayAndBroadcastIonosphere) {
  // Dry zenith delay at sea level, 45 deg: 0.0022768 * 1013.25 hPa = 2.3070 m
  const double pos45[3] = {45.0 * D2R, 0.0, 0.0}, zen[2] = {0.0, PI / 2.0};
  EXPECT_NEAR(tropmodel(gtime_t{}, pos45, zen, 0.0), 2.3070, 5e-4);
  // 1000 m: pressure 898.76 hPa
  const double pos1k[3] = {45.0 * D2R, 0.0, 1000.0};
  EXPECT_NEAR(tropmodel(gtime_t{}, pos1k, zen, 0.0), 0.0022768 * 898.76 / (1.0 - 0.00028), 5e-4);
  // wet part at 15 C and 70 % humidity adds about 0.11 m; slant delay grows ~1/sin(el)
  const double wet = tropmodel(gtime_t{}, pos45, zen, 0.7) - 2.3070;
  EXPECT_GT(wet, 0.08);
  EXPECT_LT(wet, 0.16);
  const double el30[2] = {0.0, 30.0 * D2R};
  EXPECT_NEAR(tropmodel(gtime_t{}, pos45, el30, 0.0), 2.0 * 2.3070, 2e-3);
  const double high[3] = {0.0, 0.0, 10001.0}, low[3] = {0.0, 0.0, -101.0};
  EXPECT_EQ(tropmodel(gtime_t{}, high, zen, 0.7), 0.0);
  EXPECT_EQ(tropmodel(gtime_t{}, low, zen, 0.7), 0.0);

  // Broadcast ionosphere at night is the constant 5 ns times the obliquity factor.
  const double ion0[8] = {0};
  const double pos[3] = {0.0, 0.0, 0.0};
  const gtime_t night = gpst2time(2000, 2.0 * 3600.0);  // 02:00 local time at longitude 0
  EXPECT_NEAR(ionmodel(night, ion0, pos, zen), CLIGHT * 5e-9 * (1.0 + 16.0 * std::pow(0.03, 3.0)), 1e-9);
  const gtime_t noon = gpst2time(2000, 14.0 * 3600.0);
  EXPECT_GT(ionmodel(noon, ion0, pos, zen), 3.0);
  const double below[2] = {0.0, -0.1};
  EXPECT_EQ(ionmodel(noon, ion0, pos, below), 0.0);
}

TEST(RtkModels, NiellMappingFunctions) {
  const double ep[6] = {2023, 7, 1, 0, 0, 0};
  const gtime_t t = epoch2time(ep);
  const double pos[3] = {45.0 * D2R, 10.0 * D2R, 0.0}, zen[2] = {0.0, PI / 2.0};
  double mw = 0.0;
  EXPECT_NEAR(tropmapf(t, pos, zen, &mw), 1.0, 1e-12);  // normalised at the zenith
  EXPECT_NEAR(mw, 1.0, 1e-12);
  const double el30[2] = {0.0, 30.0 * D2R}, el5[2] = {0.0, 5.0 * D2R};
  const double m30 = tropmapf(t, pos, el30, &mw);
  EXPECT_NEAR(m30, 1.0 / std::sin(30.0 * D2R), 0.01);  // nearly 1/sin(el) at high elevation
  const double m5 = tropmapf(t, pos, el5, &mw);
  EXPECT_GT(m5, 10.0);  // about 10.1 at 5 degrees, below 1/sin(el) = 11.47
  EXPECT_LT(m5, 10.4);
  EXPECT_GT(mw, m5);  // the wet mapping is steeper at low elevation
  EXPECT_LT(mw, 11.0);
  const double below[2] = {0.0, -0.01};
  EXPECT_EQ(tropmapf(t, pos, below, &mw), 0.0);
  // the hydrostatic mapping grows with the station height
  const double high[3] = {45.0 * D2R, 10.0 * D2R, 3000.0};
  EXPECT_GT(tropmapf(t, high, el5, &mw), m5);
}

TEST(RtkMatrix, ProductsInverseAndLeastSquares) {
  // column-major 2x3 times 3x2
  const double A[6] = {1, 4, 2, 5, 3, 6};     // [[1 2 3], [4 5 6]]
  const double B[6] = {7, 9, 11, 8, 10, 12};  // [[7 8], [9 10], [11 12]]
  double C[4];
  matmul("NN", 2, 2, 3, 1.0, A, B, 0.0, C);
  EXPECT_DOUBLE_EQ(C[0], 58);
  EXPECT_DOUBLE_EQ(C[1], 139);
  EXPECT_DOUBLE_EQ(C[2], 64);
  EXPECT_DOUBLE_EQ(C[3], 154);
  double M[9] = {4, 2, 0, 7, 6, 1, 2, 0, 3}, Mi[9], I[9];
  matcpy(Mi, M, 3, 3);
  ASSERT_EQ(matinv(Mi, 3), 0);
  matmul("NN", 3, 3, 3, 1.0, M, Mi, 0.0, I);
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(I[i], (i % 4 == 0) ? 1.0 : 0.0, 1e-12);
  double S[4] = {1, 2, 2, 4};
  EXPECT_EQ(matinv(S, 2), -1);
  // y = 2 + 3 x fitted exactly; A holds one column per measurement
  const double H[8] = {1, 0, 1, 1, 1, 2, 1, 3}, y[4] = {2, 5, 8, 11};
  double x[2], Q[4];
  ASSERT_EQ(lsq(H, y, 2, 4, x, Q), 0);
  EXPECT_NEAR(x[0], 2.0, 1e-12);
  EXPECT_NEAR(x[1], 3.0, 1e-12);
  EXPECT_EQ(lsq(H, y, 2, 1, x, Q), -1);
}

TEST(RtkBits, FieldReadersWritersAndCrc24q) {
  const unsigned char b[4] = {0xA5, 0x3C, 0xFF, 0x00};
  EXPECT_EQ(getbitu(b, 0, 8), 0xA5u);
  EXPECT_EQ(getbitu(b, 4, 8), 0x53u);
  EXPECT_EQ(getbitu(b, 0, 32), 0xA53CFF00u);
  EXPECT_EQ(getbits(b, 0, 4), -6);
  EXPECT_EQ(getbits(b, 4, 4), 5);
  EXPECT_EQ(getbitg(b, 0, 4), -2);  // sign 1, magnitude 010
  EXPECT_EQ(getbitg(b, 16, 8), -127);
  EXPECT_EQ(getbits(b, 0, 32), static_cast<int>(0xA53CFF00u));
  unsigned char w[8] = {0};
  setbitu(w, 3, 13, 0x1ABCu);
  EXPECT_EQ(getbitu(w, 3, 13), 0x1ABCu);
  EXPECT_EQ(w[0], 0x1A);
  setbits(w, 17, 22, -12345);
  EXPECT_EQ(getbits(w, 17, 22), -12345);
  EXPECT_EQ(getbitu(w, 3, 13), 0x1ABCu);

  // CRC-24Q check value of "123456789"
  const unsigned char check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(crc24q(check, 9), 0xCDE703u);
}

TEST(RtkOrbit, GlonassIcdExample) {
  // GLONASS ICD (edition 5.1), appendix A.3.1.2: state at 11700 s integrated to 12300 s.
  geph_t g{};
  g.sat = satno(SYS_GLO, 1);
  g.toe = gpst2time(2000, 11700.0);
  const double p[3] = {7003.008789, -12206.626953, 21280.765625};  // km
  const double v[3] = {0.7835417, 2.8042530, 1.3525150};           // km/s
  const double a[3] = {0.0, 1.7e-9, -5.41e-9};                     // km/s^2
  for (int i = 0; i < 3; ++i) {
    g.pos[i] = p[i] * 1e3;
    g.vel[i] = v[i] * 1e3;
    g.acc[i] = a[i] * 1e3;
  }
  double rs[3], rs2[3], dts, var;
  geph2pos(gpst2time(2000, 12300.0), &g, rs, &dts, &var);
  geph2pos(gpst2time(2000, 12300.001), &g, rs2, &dts, &var);
  const double want_p[3] = {7523.174819, -10506.961965, 21999.239413};
  const double want_v[3] = {0.950126007, 2.855687825, 1.040679862};
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(rs[i], want_p[i] * 1e3, 1.0);  // J2 alone moves the satellite ~10 m over 600 s
    EXPECT_NEAR((rs2[i] - rs[i]) / 0.001, want_v[i] * 1e3, 5e-3);
  }
  EXPECT_EQ(var, 25.0);
  // validity: 1799 s from toe is computed, 1801 s is not
  nav_t* nav = new nav_t{};
  nav->ng = MAXGEPH;
  nav->geph[0] = g;
  double rsv[6], dtsv[2];
  int svh = 0;
  EXPECT_EQ(ephpos(timeadd(g.toe, 1799.0), timeadd(g.toe, 1799.0), g.sat, nav, -1, rsv, dtsv, &var, &svh), 1);
  EXPECT_EQ(ephpos(timeadd(g.toe, 1801.0), timeadd(g.toe, 1801.0), g.sat, nav, -1, rsv, dtsv, &var, &svh), 0);
  delete nav;
}

// The analytic velocity and clock drift of eph2posvel against central
// differences of eph2pos positions and clocks over +-0.5 s (their error there
// is below 0.1 mm/s for a 4 m/s^2 acceleration).
TEST(RtkOrbit, AnalyticVelocityAgreesWithPositionDifferences) {
  struct Case {
    const char* name;
    double e, M0, omg, cus, crs, cis, idot, OMGd, f1, f2, tk;
  };
  const Case cases[] = {
      {"circular, no harmonics", 0.0, 0.3, 0.0, 0.0, 0.0, 0.0, 0.0, -8e-9, 0.0, 0.0, 0.0},
      {"eccentric, 2 h after toe", 0.02, 2.0, 1.1, 1e-5, 200.0, 1e-6, 4e-10, -8.2e-9, 3e-12, 0.0, 7200.0},
      {"harmonics, 1 h before toe", 0.01, -1.2, -2.5, -8e-6, -150.0, 2e-7, -3e-10, -7.9e-9, -1e-11, 1e-18, -3600.0},
      {"eccentric, near perigee", 0.05, 0.01, 0.4, 5e-6, 80.0, -1e-7, 1e-10, -8e-9, 0.0, -2e-18, 1800.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    eph_t e{};
    e.A = 26560e3;
    e.e = c.e;
    e.M0 = c.M0;
    e.omg = c.omg;
    e.i0 = 0.96;
    e.OMG0 = 1.3;
    e.cus = c.cus;
    e.cuc = 0.5 * c.cus;
    e.crs = c.crs;
    e.crc = -0.5 * c.crs;
    e.cis = c.cis;
    e.cic = -c.cis;
    e.idot = c.idot;
    e.OMGd = c.OMGd;
    e.deln = 4e-9;
    e.f0 = 1e-4;
    e.f1 = c.f1;
    e.f2 = c.f2;
    e.toe = e.toc = gpst2time(2300, 302400.0);
    e.toes = 302400.0;
    const gtime_t t = timeadd(e.toe, c.tk);
    double rs[6], dts[2], var = 0.0, p0[3], p1[3], d0 = 0.0, d1 = 0.0, rs_plain[3], dts_plain = 0.0;
    eph2posvel(t, &e, rs, dts, &var);
    eph2pos(t, &e, rs_plain, &dts_plain, &var);
    eph2pos(timeadd(t, -0.5), &e, p0, &d0, &var);
    eph2pos(timeadd(t, 0.5), &e, p1, &d1, &var);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(rs[i], rs_plain[i]) << "axis " << i;  // the position is eph2pos's, to the bit
      EXPECT_NEAR(rs[3 + i], p1[i] - p0[i], 1e-4) << "axis " << i;
    }
    EXPECT_EQ(dts[0], dts_plain);
    EXPECT_NEAR(dts[1], d1 - d0, 1e-17);
  }
}

TEST(RtkOrbit, UraVarianceKeplerLimitAndSbasValidity) {
  EXPECT_DOUBLE_EQ(var_uraeph(0), 2.4 * 2.4);
  EXPECT_DOUBLE_EQ(var_uraeph(14), 6144.0 * 6144.0);
  EXPECT_DOUBLE_EQ(var_uraeph(15), 6144.0 * 6144.0);
  EXPECT_DOUBLE_EQ(var_uraeph(-1), 6144.0 * 6144.0);

  // An eccentricity of 1 never converges: the iteration stops and gives finite numbers.
  eph_t e{};
  e.A = 26560e3 * 26560e3 / 26560e3;
  e.e = 0.999999;
  e.M0 = 1e-3;
  e.sva = 0;
  double rs[3], dts, var;
  eph2pos(gpst2time(2000, 100.0), &e, rs, &dts, &var);
  for (double x : rs) EXPECT_TRUE(std::isfinite(x));

  nav_t* nav = new nav_t{};
  nav->ns = MAXSEPH;
  seph_t& s = nav->seph[0];
  s.sat = satno(SYS_SBS, 33);
  s.t0 = gpst2time(2000, 1000.0);
  s.pos[0] = 42164e3;
  double rsv[6], dtsv[2];
  int svh = 0;
  EXPECT_EQ(ephpos(timeadd(s.t0, 517.0), timeadd(s.t0, 517.0), s.sat, nav, -1, rsv, dtsv, &var, &svh), 1);
  EXPECT_EQ(ephpos(timeadd(s.t0, 518.0), timeadd(s.t0, 518.0), s.sat, nav, -1, rsv, dtsv, &var, &svh), 0);
  delete nav;
}

}  // namespace
