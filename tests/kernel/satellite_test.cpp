// Satellite table: precise states extrapolated from a whole-second reference
// against the ephemeris computation and the simulated sky's own orbit, the
// reuse and refresh windows, health and URA rules, elevation, azimuth and
// Doppler from geometry built in the test.
#include "kernel/src/satellite.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>

#include "kernel/src/almanac.h"
#include "tests/kernel/sky_ephemeris.h"
#include "tools/sky/sky.h"

namespace {

constexpr int WEEK = 2400;
constexpr double T0 = 300000.0;

class Satellite : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(init_full_sky(WEEK, T0, 48.1, 11.6), 1);
    EPH_init_storage_address(nullptr, 0);
    EPH_init(nullptr);
    ALM_init_storage_address(nullptr, 0);
    ALM_clear_all();  // rough positions only from the ephemeris unless a test says otherwise
    SV_init();
  }
  // The sky's ephemeris of svid decoded into the store; the satellite's record.
  SV_T with_ephemeris(int svid) {
    load_sky_ephemeris(svid, sky_frame(svid, WEEK, T0));
    return SV_get_reference(GNSS_TYPE_GPS, static_cast<S16>(svid));
  }
};

double dist(const POS_T& p, const double* q) { return std::hypot(p.px - q[0], p.py - q[1], p.pz - q[2]); }

// Within 12 s of the whole-second reference the state is extrapolated (jerk
// error below 3 cm at 12 s); a request 12.5 s away recomputes the reference
// at the next whole second (error below 0.1 mm). The truth is the sky's orbit.
TEST_F(Satellite, PreciseStateFromAWholeSecondReference) {
  const SV_T sv = with_ephemeris(5);
  SKY_EPH_T eph{};
  ASSERT_EQ(SKY_get_ephemeris(5, SKY_GPST_T{WEEK, T0}, &eph), 1);
  struct Case {
    const char* name;
    double t;         // request time, s of week
    double min_err;   // m
    double max_err;   // m
    double max_verr;  // m/s
  };
  const Case cases[] = {
      {"first request: reference at the next second", T0 + 0.3, 0.0, 1e-4, 1e-3},
      {"11.7 s from the reference: extrapolated", T0 + 12.7, 1e-4, 0.03, 1e-2},
      {"12.5 s from the reference: recomputed", T0 + 13.5, 0.0, 1e-4, 1e-3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    POS_T p{};
    VEL_T v{};
    ACC_T a{};
    ASSERT_EQ(SV_precise(sv, WEEK, c.t, &p, &v, &a), 1);
    double truth[3], tv[3], clk = 0.0;
    ASSERT_EQ(SKY_eph_sat_state(&eph, SKY_GPST_T{WEEK, c.t}, truth, tv, &clk), 1);
    EXPECT_GE(dist(p, truth), c.min_err);
    EXPECT_LE(dist(p, truth), c.max_err);
    EXPECT_NEAR(v.vx, tv[0], c.max_verr);
    EXPECT_NEAR(v.vy, tv[1], c.max_verr);
    EXPECT_NEAR(v.vz, tv[2], c.max_verr);
  }
}

// A reference state whose satellite is no longer asked for is refreshed six
// times, at 13 s of age each, then dropped: the rough position then fails
// without an almanac (the ephemeris seeds one; it is cleared here), and comes
// from the almanac when one is held.
TEST_F(Satellite, BackgroundRefreshThenDrop) {
  const SV_T sv = with_ephemeris(7);
  ASSERT_EQ(SV_has_almanac(sv), 1);
  ALM_clear_one(7);
  ASSERT_EQ(SV_has_almanac(sv), 0);
  ASSERT_EQ(SV_precise(sv, WEEK, T0 + 0.5, nullptr, nullptr, nullptr), 1);  // reference at T0 + 1
  const S32 t1 = static_cast<S32>(T0) + 1;
  S32 ref = t1;
  for (int k = 1; k <= SV_MAX_REFRESH; ++k) {
    ref += SV_REFRESH_AGE_S;
    SV_update_schedule_computing_time_event(WEEK, ref);
    POS_T p{};
    EXPECT_EQ(SV_rough(sv, WEEK, ref + SV_ROUGH_REUSE_S - 1, &p, nullptr), 1) << "refresh " << k;
  }
  SV_update_schedule_computing_time_event(WEEK, ref + SV_REFRESH_AGE_S);
  EXPECT_EQ(SV_rough(sv, WEEK, ref + SV_REFRESH_AGE_S, nullptr, nullptr), 0);
  // a precise request brings it back
  EXPECT_EQ(SV_precise(sv, WEEK, ref + 20.0, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(SV_rough(sv, WEEK, static_cast<S32>(ref) + 20, nullptr, nullptr), 1);
  EXPECT_EQ(SV_rough(sv, WEEK, static_cast<S32>(ref) + 21 + SV_ROUGH_REUSE_S, nullptr, nullptr), 0);
  with_ephemeris(7);  // seeds the almanac again
  POS_T p{};
  EXPECT_EQ(SV_rough(sv, WEEK, static_cast<S32>(ref) + 21 + SV_ROUGH_REUSE_S, &p, nullptr), 1);
  EXPECT_GT(std::sqrt(p.px * p.px + p.py * p.py + p.pz * p.pz), 2.0e7);
  ALM_clear_all();
}

// Health 0 and 1 are healthy, 2 is not; URA index 15 is never used for
// ranging; the availability state follows the fit interval.
TEST_F(Satellite, HealthUraAndAvailability) {
  const SV_T sv = with_ephemeris(9);
  const EPH_T e = SV_get_gps_ephemeris(sv);
  ASSERT_NE(e, nullptr);
  struct Case {
    const char* name;
    U08 health, ura;
    S16 healthy, usable, state;
  };
  const Case cases[] = {
      {"health 0", 0, 2, 1, 1, 6},
      {"health 1", 1, 2, 1, 1, 6},
      {"health 2", 2, 2, 0, 0, 2},
      {"URA index 15", 0, 15, 1, 0, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    e->health = c.health;
    e->URA = c.ura;
    EXPECT_EQ(SV_is_healthy(sv), c.healthy);
    EXPECT_EQ(SV_is_usable_for_ranging(sv), c.usable);
    EXPECT_EQ(SV_get_ephemeris_available_state(sv, e->WN, e->toe + 7200.0), c.state);
  }
  EXPECT_EQ(SV_get_ephemeris_available_state(sv, e->WN, e->toe + 7201.0), 0);  // overdue
  EXPECT_EQ(SV_is_healthy(SV_get_reference(GNSS_TYPE_GPS, 10)), 0);            // no ephemeris: health 63
  EXPECT_EQ(SV_get_URA(SV_get_reference(GNSS_TYPE_GPS, 10)), -1);
}

TEST_F(Satellite, RecordsExistForGpsTypeAndSbasIdsOnly) {
  struct Case {
    U16 type;
    S16 svid;
    bool exists;
  };
  const Case cases[] = {{GNSS_TYPE_GPS, 1, true},     {GNSS_TYPE_GPS, 38, true},   {GNSS_TYPE_GPS, 39, false},
                        {GNSS_TYPE_QZSS, 33, true},   {GNSS_TYPE_SBAS, 120, true}, {GNSS_TYPE_SBAS, 138, true},
                        {GNSS_TYPE_SBAS, 139, false}, {GNSS_TYPE_GPS, 0, false},   {GNSS_TYPE_GLONASS, 1, false},
                        {GNSS_TYPE_GPS, 130, true},   {GNSS_TYPE_SBAS, 5, false}};
  for (const Case& c : cases)
    EXPECT_EQ(SV_get_reference(c.type, c.svid) != nullptr, c.exists) << "type " << c.type << " id " << c.svid;
  EXPECT_EQ(SV_precise(SV_get_reference(GNSS_TYPE_SBAS, 120), WEEK, T0, nullptr, nullptr, nullptr), 0);
}

// Elevation, azimuth and Doppler of the rough state against the same
// geometry worked in double precision in the test: every satellite above
// the horizon of a receiver at 48.1 N 11.6 E.
TEST_F(Satellite, ElevationAzimuthAndDopplerFromTheRoughState) {
  const double lat = 48.1 * M_PI / 180.0, lon = 11.6 * M_PI / 180.0;
  const double a = 6378137.0, e2 = 0.00669437999014;
  const double n = a / std::sqrt(1.0 - e2 * std::sin(lat) * std::sin(lat));
  const POS_T rcv{n * std::cos(lat) * std::cos(lon), n * std::cos(lat) * std::sin(lon), n * (1.0 - e2) * std::sin(lat)};
  const double E[3][3] = {{-std::sin(lon), std::cos(lon), 0.0},
                          {-std::sin(lat) * std::cos(lon), -std::sin(lat) * std::sin(lon), std::cos(lat)},
                          {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)}};
  F32 enu[3][3];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) enu[r][c] = static_cast<F32>(E[r][c]);
  int above = 0;
  for (int svid = 1; svid <= 32; ++svid) {
    SKY_EPH_T eph{};
    if (!SKY_get_ephemeris(svid, SKY_GPST_T{WEEK, T0}, &eph)) continue;
    const SV_T sv = with_ephemeris(svid);
    POS_T p{};
    VEL_T v{};
    ASSERT_EQ(SV_precise(sv, WEEK, T0, nullptr, nullptr, nullptr), 1);
    ASSERT_EQ(SV_rough(sv, WEEK, static_cast<S32>(T0), &p, &v), 1);
    ASSERT_EQ(SV_calc_elevation_azimuth(sv, &rcv, enu), 1);
    S32 dop = 0;
    ASSERT_EQ(SV_calc_doppler(sv, &rcv, &dop), 1);
    const double d[3] = {p.px - rcv.px, p.py - rcv.py, p.pz - rcv.pz};
    double l[3];
    for (int r = 0; r < 3; ++r) l[r] = E[r][0] * d[0] + E[r][1] * d[1] + E[r][2] * d[2];
    const double el = std::atan2(l[2], std::hypot(l[0], l[1]));
    double az = std::atan2(l[0], l[1]);
    if (az < 0.0) az += 2.0 * M_PI;
    const double range = std::hypot(d[0], d[1], d[2]);
    const double approach = -(v.vx * d[0] + v.vy * d[1] + v.vz * d[2]) / range;  // m/s
    SCOPED_TRACE(svid);
    EXPECT_NEAR(SV_get_elevation(sv), el, 1e-5);
    EXPECT_NEAR(SV_get_azimuth(sv), az, 1e-5);
    EXPECT_EQ(SV_get_elevation_in_deg(sv), static_cast<S16>(el * 180.0 / M_PI + 0.5));
    EXPECT_NEAR(dop, approach * 1575.42e6 / 299792458.0, 1.0);
    above += el > 0.0 ? 1 : 0;
  }
  EXPECT_GE(above, 6);
}

// A receiver on the satellite has no direction to it, and a time that is no
// time of week gives no state: refused, nothing stored.
TEST_F(Satellite, NoDirectionNoStateRefused) {
  const SV_T sv = with_ephemeris(5);
  POS_T p{};
  ASSERT_EQ(SV_precise(sv, WEEK, T0, nullptr, nullptr, nullptr), 1);
  ASSERT_EQ(SV_rough(sv, WEEK, static_cast<S32>(T0), &p, nullptr), 1);
  const F32 enu[3][3] = {{1.0F, 0.0F, 0.0F}, {0.0F, 1.0F, 0.0F}, {0.0F, 0.0F, 1.0F}};
  EXPECT_EQ(SV_calc_elevation_azimuth(sv, &p, enu), 0);
  EXPECT_EQ(SV_has_valid_azm_elv(sv), 0);
  S32 dop = 7;
  EXPECT_EQ(SV_calc_doppler(sv, &p, &dop), 0);
  EXPECT_EQ(dop, 7);
  for (double t : {std::nan(""), std::numeric_limits<double>::infinity(), 1e12})
    EXPECT_EQ(SV_precise(sv, WEEK, t, &p, nullptr, nullptr), 0) << t;
}

}  // namespace
