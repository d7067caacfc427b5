// The scenario key sky_epoch keeps the constellation of an earlier start: a
// sky started 300 s later with sky_epoch = the first start broadcasts the
// same ephemerides, almanacs and ionosphere/UTC parameters and has its
// satellites at the same places at the same GPS time; without the key the
// later start places a different constellation in view.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "tools/sky/sky.h"

namespace {

struct SkyView {
  std::vector<SKY_EPH_T> eph;
  std::vector<SKY_ALM_T> alm;
  SKY_IONO_UTC_T iono{};
  std::vector<std::array<double, 3>> sat_pos;  // at the compared clock time
};

// The sky of scenario text at GPS time t (receiver clock without bias: clock = GPS time).
SkyView view_of(const std::string& text, SKY_GPST_T t) {
  static SKY_SCENARIO_T sc;
  sc = SKY_SCENARIO_T{};
  char err[200] = "";
  SkyView v;
  EXPECT_EQ(SKY_parse_scenario(text.c_str(), &sc, err, sizeof err), 1) << err;
  EXPECT_EQ(SKY_init(&sc), 1);
  static SKY_EPOCH_T ep;
  EXPECT_EQ(SKY_epoch_at_clock(t, &ep), 1);
  for (int svid = 1; svid <= sc.nsat; ++svid) {
    SKY_EPH_T e{};
    SKY_ALM_T a{};
    EXPECT_EQ(SKY_get_ephemeris(svid, t, &e), 1);
    EXPECT_EQ(SKY_get_almanac(svid, t, &a), 1);
    v.eph.push_back(e);
    v.alm.push_back(a);
    const double* p = ep.sig[svid - 1].sat_pos_ecef;
    v.sat_pos.push_back({p[0], p[1], p[2]});
  }
  SKY_get_iono_utc(&v.iono);
  return v;
}

bool same_bytes(const void* a, const void* b, std::size_t n) { return std::memcmp(a, b, n) == 0; }

const std::string COMMON = "start_week = 2400\nnsat = 9\nseed = 11\nlat = 35.68\nlon = 139.77\nheight = 40\n";

TEST(SkyEpochKey, LaterStartWithTheFirstStartAsSkyEpochIsTheSameSky) {
  const SKY_GPST_T t{2400, 345950.0};  // inside both runs
  const SkyView first = view_of(COMMON + "start_tow = 345600\n", t);
  const SkyView later = view_of(COMMON + "start_tow = 345900\nsky_epoch = 2400 345600\n", t);
  const SkyView other = view_of(COMMON + "start_tow = 345900\n", t);
  ASSERT_EQ(first.eph.size(), 9U);
  int differ_without_key = 0;
  for (std::size_t i = 0; i < first.eph.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "svid " << i + 1);
    EXPECT_TRUE(same_bytes(&first.eph[i], &later.eph[i], sizeof(SKY_EPH_T)));
    EXPECT_TRUE(same_bytes(&first.alm[i], &later.alm[i], sizeof(SKY_ALM_T)));
    for (int j = 0; j < 3; ++j) EXPECT_EQ(first.sat_pos[i][j], later.sat_pos[i][j]);
    if (!same_bytes(&first.eph[i], &other.eph[i], sizeof(SKY_EPH_T))) ++differ_without_key;
  }
  EXPECT_TRUE(same_bytes(&first.iono, &later.iono, sizeof(SKY_IONO_UTC_T)));
  EXPECT_GT(differ_without_key, 0);  // the key matters: a plain later start is another constellation
}

TEST(SkyEpochKey, BadValuesAreRefused) {
  const char* bad[] = {"sky_epoch = 2400.5 100\n", "sky_epoch = 2400 604800\n", "sky_epoch = -1 0\n",
                       "sky_epoch = 2400\n"};
  for (const char* line : bad) {
    SKY_SCENARIO_T sc{};
    char err[200] = "";
    EXPECT_EQ(SKY_parse_scenario(line, &sc, err, sizeof err), 0) << line;
  }
  SKY_SCENARIO_T sc{};
  char err[200] = "";
  ASSERT_EQ(SKY_parse_scenario("sky_epoch = 2300 12.5\n", &sc, err, sizeof err), 1) << err;
  EXPECT_EQ(sc.has_sky_epoch, 1);
  EXPECT_EQ(sc.sky_epoch.week, 2300);
  EXPECT_EQ(sc.sky_epoch.tow, 12.5);
}

}  // namespace
