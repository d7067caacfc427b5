// Sky view: elevations and azimuths of the almanac orbits against the
// simulated sky's truth for receivers at several places, the sorted list,
// and the full / round-robin update rule.
#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "kernel/src/coordinate.h"
#include "tests/kernel/sky_view_fixture.h"

namespace {

using skyview_test::load_sky_almanacs;
using skyview_test::RAD2DEG;
using skyview_test::sky_at;
using skyview_test::WEEK;
using SkyView = skyview_test::AlmanacSky;

double az_diff_deg(double a, double b) {
  double d = std::fmod(std::fabs(a - b), 360.0);
  return d > 180.0 ? 360.0 - d : d;
}

// Elevation and azimuth within 1 degree of the sky's truth; the sorted list
// holds the satellites above the horizon, highest first.
TEST_F(SkyView, AnglesAndSortedListAgainstTheSkyTruth) {
  struct Case {
    const char* name;
    double lat, lon;  // degrees
    double tow;       // s
  };
  const std::array<Case, 5> cases = {{{"Tokyo", 35.7, 139.7, 200000.0},
                                      {"Sydney", -33.9, 151.2, 300123.0},
                                      {"Reykjavik", 64.1, -21.9, 420000.0},
                                      {"Gulf of Guinea", 0.0, 0.0, 86400.0},
                                      {"near the south pole", -89.0, 45.0, 555555.0}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto [ep, rcv] = sky_at(c.lat, c.lon, c.tow);
    ALM_clear_all();
    load_sky_almanacs(c.tow);
    SV_init();
    SVSKY_init();
    SVSKY_update_receiver_position(WEEK, static_cast<S32>(c.tow), &rcv);
    int above = 0;
    for (int k = 0; k < ep.n; ++k) {
      const SKY_SIGNAL_T& sg = ep.sig[k];
      const SV_T sv = SV_get_reference(GNSS_TYPE_GPS, sg.svid);
      SCOPED_TRACE("svid " + std::to_string(sg.svid));
      ASSERT_EQ(SVSKY_has_valid_data(sv), 1);
      const double el = SV_get_elevation(sv) * RAD2DEG;
      const double az = SV_get_azimuth(sv) * RAD2DEG;
      EXPECT_NEAR(el, sg.el_deg, 1.0);
      if (sg.el_deg < 85.0) {  // the azimuth of a satellite near the zenith is ill-defined
        EXPECT_LT(az_diff_deg(az, sg.az_deg), 1.0) << az << " " << sg.az_deg;
      }
      EXPECT_NE(SV_get_doppler(sv), 0);
      if (sg.el_deg >= 0.0) ++above;
    }
    std::array<SV_T, SVSKY_LIST_CAPACITY> list{};
    const S16 n = SVSKY_get_sorted_SV_on_sky(list.data());
    EXPECT_EQ(n, std::min(above, SVSKY_MAX_SORTED));
    for (int i = 0; i < n; ++i) {
      EXPECT_GE(SV_get_elevation(list[static_cast<std::size_t>(i)]), 0.0F);
      if (i > 0) {
        EXPECT_GE(SV_get_elevation(list[static_cast<std::size_t>(i - 1)]),
                  SV_get_elevation(list[static_cast<std::size_t>(i)]));
      }
    }
    std::array<SV_T, SVSKY_LIST_CAPACITY> gps{};
    EXPECT_EQ(SVSKY_get_sorted_SV_on_sky_one_gnss_type(GNSS_TYPE_GPS, gps.data()), n);
    EXPECT_EQ(SVSKY_get_sorted_SV_on_sky_one_gnss_type(GNSS_TYPE_SBAS, gps.data()), 0);
  }
}

// Without almanacs the sky view takes the ephemeris: the precise state sets
// a reference, the rough state follows from it, also when the last rough
// state is long past (1 000 s later).
TEST_F(SkyView, FromEphemeridesWithoutAlmanacs) {
  const double tow = 330000.0;
  auto [ep, rcv] = sky_at(-12.0, -77.0, tow);
  for (int k = 0; k < ep.n; ++k) load_sky_ephemeris(ep.sig[k].svid, sky_frame(ep.sig[k].svid, WEEK, tow));
  ALM_clear_all();  // the ephemerides seeded them
  SV_init();
  for (double t : {tow, tow + 1000.0}) {
    SCOPED_TRACE("tow " + std::to_string(t));
    ASSERT_EQ(SKY_epoch_at_clock(SKY_GPST_T{WEEK, t}, &ep), 1);
    SVSKY_update_receiver_position(WEEK, static_cast<S32>(t), &rcv);
    for (int k = 0; k < ep.n; ++k) {
      const SKY_SIGNAL_T& sg = ep.sig[k];
      const SV_T sv = SV_get_reference(GNSS_TYPE_GPS, sg.svid);
      ASSERT_EQ(SVSKY_has_valid_data(sv), 1) << sg.svid;
      EXPECT_NEAR(SV_get_elevation(sv) * RAD2DEG, sg.el_deg, 0.2) << sg.svid;
    }
  }
  EPH_clear_all();
}

// Satellites whose elevation changed between two snapshots.
int changed(const std::array<F32, 39>& before) {
  int k = 0;
  for (int prn = 1; prn <= 38; ++prn)
    if (SV_get_elevation(SV_get_reference(GNSS_TYPE_GPS, static_cast<S16>(prn))) !=
        before[static_cast<std::size_t>(prn)])
      ++k;
  return k;
}
std::array<F32, 39> snapshot() {
  std::array<F32, 39> e{};
  for (int prn = 1; prn <= 38; ++prn)
    e[static_cast<std::size_t>(prn)] = SV_get_elevation(SV_get_reference(GNSS_TYPE_GPS, static_cast<S16>(prn)));
  return e;
}

// A receiver moving 2 999 m (and 1 s) between updates gets one satellite
// recomputed; 3 000 m, or more than 30 s, recomputes all.
TEST_F(SkyView, FullOrRoundRobinUpdate) {
  const double tow = 250000.0;
  POS_T rcv = sky_at(45.0, 7.0, tow).rcv;
  load_sky_almanacs(tow);
  auto t = static_cast<S32>(tow);
  SVSKY_update_receiver_position(WEEK, t, &rcv);
  struct Case {
    const char* name;
    double move_m;  // along z
    S32 dt;         // s
    int expect_changed;
  };
  const std::array<Case, 5> cases = {{{"2 999 m in 1 s", 2999.0, 1, 1},
                                      {"3 000 m in 1 s", 3000.0, 1, 32},
                                      {"at rest 30 s", 0.0, 30, 1},
                                      {"at rest 31 s", 0.0, 31, 32},
                                      {"at rest 1 s", 0.0, 1, 1}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::array<F32, 39> before = snapshot();
    rcv.pz += c.move_m;
    t += c.dt;
    SVSKY_update_receiver_position(WEEK, t, &rcv);
    EXPECT_EQ(changed(before), c.expect_changed);
  }
}

// 38 almanacs all above one receiver: the list keeps the 19 highest, in order.
TEST_F(SkyView, SortedListKeepsNineteen) {
  for (int prn = 1; prn <= 38; ++prn) {
    ALM_IN_T in{};
    in.A = 2.656e7F;
    in.M0 = static_cast<F32>(prn - 20) * 0.035F;  // longitude of the satellite, rad
    in.prn = static_cast<S16>(prn);
    in.wna = WEEK % 1024;
    ALM_set(static_cast<S16>(prn), &in);
  }
  const POS_T rcv{6378137.0, 0.0, 0.0};
  SVSKY_force_update_all(WEEK, 0, &rcv);
  std::array<SV_T, SVSKY_LIST_CAPACITY> list{};
  const S16 n = SVSKY_get_sorted_SV_on_sky(list.data());
  ASSERT_EQ(n, 19);
  EXPECT_EQ(SV_get_svid(list[0]), 20);
  for (int i = 1; i < n; ++i) {
    EXPECT_GE(SV_get_elevation(list[static_cast<std::size_t>(i - 1)]),
              SV_get_elevation(list[static_cast<std::size_t>(i)]));
    EXPECT_LE(std::abs(SV_get_svid(list[static_cast<std::size_t>(i)]) - 20), 10);
  }
  for (int prn = 1; prn <= 38; ++prn)
    EXPECT_EQ(SVSKY_has_valid_data(SV_get_reference(GNSS_TYPE_GPS, static_cast<S16>(prn))), 1);
  // one satellite forced: only it changes
  const std::array<F32, 39> before = snapshot();
  SVSKY_force_update_one(WEEK, 60, &rcv, SV_get_reference(GNSS_TYPE_GPS, 7));
  EXPECT_EQ(changed(before), 1);
  // hostile inputs
  SVSKY_force_update_one(WEEK, 60, &rcv, nullptr);
  SVSKY_force_update_all(WEEK, 0, nullptr);
  const POS_T nan{std::nan(""), 0.0, 0.0};
  SVSKY_update_receiver_position(WEEK, 0, &nan);
  EXPECT_EQ(SVSKY_get_sorted_SV_on_sky(nullptr), 0);
  EXPECT_EQ(SVSKY_has_valid_data(nullptr), 0);
}

}  // namespace
