// The search against the simulated sky's truth: the Doppler list sent with
// the first tick of a hot start (satellites above 2 degrees, highest first,
// geometric Doppler in engine units) and the hot start's fall back to a cold
// start when no more than 6 satellites are above 2 degrees, from almanac
// elevations of the sky's own broadcast almanacs.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "host/wrap.h"
#include "kernel/src/kernel_search.h"
#include "kernel/src/search.h"
#include "kernel/src/search_strategy.h"
#include "kernel/src/tcxo_freq.h"
#include "misc/host_msg.h"
#include "tests/kernel/sky_view_fixture.h"

namespace {

using skyview_test::load_sky_almanacs;
using skyview_test::RAD2DEG;
using skyview_test::Sky;
using skyview_test::WEEK;

constexpr double MPS_TO_HZ_L1 = 1575.42e6 / 299792458.0;
constexpr double SCALE_MODE1 = 67108864.0 / 16368000.0;  // search units per Hz, TCXO mode 1

std::vector<std::vector<U08>> Commands;
void capture(const U08* f, int len) { Commands.emplace_back(f, f + len); }

// The almanac sky with TCXO mode 1 and the commands to the target captured.
class SearchSky : public skyview_test::AlmanacSky {
 protected:
  void SetUp() override {
    AlmanacSky::SetUp();
    TCXO_init(1);
    Commands.clear();
    WRAP_init(0, nullptr);
    WRAP_install_command_sink(capture);
  }
  void TearDown() override {
    WRAP_install_command_sink(nullptr);
    AlmanacSky::TearDown();
  }
};

struct Place {
  const char* name;
  double lat, lon;  // degrees
  double tow;       // s
};
constexpr std::array<Place, 3> PLACES = {
    {{"Tokyo", 35.7, 139.7, 200000.0}, {"Sydney", -33.9, 151.2, 300123.0}, {"Reykjavik", 64.1, -21.9, 420000.0}}};

Sky sky_at(const Place& p) { return skyview_test::sky_at(p.lat, p.lon, p.tow); }
const SKY_SIGNAL_T* truth_of(const Sky& s, int svid) {
  for (int k = 0; k < s.ep.n; ++k)
    if (s.ep.sig[k].svid == svid) return &s.ep.sig[k];
  return nullptr;
}

// The truth's satellites as (elevation, svid), highest first.
std::vector<std::pair<double, int>> highest_first(const Sky& s) {
  std::vector<std::pair<double, int>> by_el;
  for (int k = 0; k < s.ep.n; ++k) by_el.emplace_back(s.ep.sig[k].el_deg, s.ep.sig[k].svid);
  std::sort(by_el.rbegin(), by_el.rend());
  return by_el;
}

// The sky's almanacs of the `keep` highest satellites only (all if keep < 0),
// and the sky view of the receiver at time of week tow.
void sky_view_with_highest(const Sky& s, const std::vector<std::pair<double, int>>& by_el, int keep, double tow) {
  ALM_clear_all();
  load_sky_almanacs(tow);
  for (std::size_t i = static_cast<std::size_t>(std::max(keep, 0)); keep >= 0 && i < by_el.size(); ++i)
    ALM_clear_one(static_cast<S16>(by_el[i].second));
  SV_init();
  SVSKY_init();
  SVSKY_update_receiver_position(WEEK, static_cast<S32>(tow), &s.rcv);
}

TEST_F(SearchSky, DopplerListOfAHotStartAgainstTheTruth) {
  for (const Place& p : PLACES) {
    SCOPED_TRACE(p.name);
    const Sky s = sky_at(p);
    sky_view_with_highest(s, {}, -1, p.tow);
    Commands.clear();
    SRCH_init(4, SRST_FAST_HOT_START, 0, 0, 0);
    EXPECT_EQ(SRST_get_state(), SRST_FAST_HOT_SEARCH);
    std::vector<U08> frame;
    for (const auto& f : Commands)
      if (f[2] == MSG_TYPE_PSE_SVDOPP) frame = f;
    ASSERT_FALSE(frame.empty());
    S16 num = 0;
    std::array<PSE_PRN_DOPP_T, MSG_PSE_SVDOPP_N> list{};
    unpack_msg_pse_set_sv_doppler(frame.data(), &num, list.data());
    EXPECT_GE(num, 7);  // the hot start stood: more than 6 above 2 degrees
    // Every satellite the truth puts above 3 degrees is in the list; every
    // listed one is above 1 degree (almanac elevations are good to a degree).
    for (int k = 0; k < s.ep.n; ++k) {
      const SKY_SIGNAL_T& sg = s.ep.sig[k];
      if (sg.el_deg <= 3.0) continue;
      const bool listed =
          std::any_of(list.begin(), list.begin() + num, [&](const PSE_PRN_DOPP_T& e) { return e.prn == sg.svid; });
      EXPECT_TRUE(listed) << "svid " << sg.svid << " at " << sg.el_deg << " deg";
    }
    double prev_el = 91.0;
    for (S16 i = 0; i < num; ++i) {
      const PSE_PRN_DOPP_T& e = list[static_cast<std::size_t>(i)];
      const SKY_SIGNAL_T* sg = truth_of(s, e.prn);
      ASSERT_NE(sg, nullptr) << "prn " << e.prn;
      SCOPED_TRACE("prn " + std::to_string(e.prn));
      EXPECT_GT(sg->el_deg, 1.0);
      EXPECT_LE(sg->el_deg, prev_el + 1.0);  // highest first
      prev_el = sg->el_deg;
      // Geometric Doppler of a receiver at rest, Hz, into engine units: within
      // 50 Hz (a tenth of the narrowest bin step but one) of the truth.
      const double truth_hz = -sg->range_rate_mps * MPS_TO_HZ_L1;
      EXPECT_NEAR(e.dopp / SCALE_MODE1, truth_hz, 50.0);
    }
    EXPECT_EQ(SRST_get_nsv_on_sky(), num);
  }
}

// Keep the almanacs of the n highest satellites only: exactly n satellites
// have an elevation, all well above 2 degrees.
TEST_F(SearchSky, HotStartNeedsSevenSatellitesAbove2Degrees) {
  struct Case {
    const char* name;
    int keep;
    S16 start;
    S16 expect_state;  // after the first tick
  };
  const Case cases[] = {
      {"fast hot, 7 above 2 deg", 7, SRST_FAST_HOT_START, SRST_FAST_HOT_SEARCH},
      {"fast hot, 6 above 2 deg", 6, SRST_FAST_HOT_START, SRST_NORMAL_COLD_SEARCH},
      {"hot-warm, 7 above 2 deg", 7, SRST_HOT_WARM_START, SRST_SHORT_HOT_WARM_SEARCH},
      {"hot-warm, 6 above 2 deg", 6, SRST_HOT_WARM_START, SRST_NORMAL_COLD_SEARCH},
  };
  const Place& p = PLACES[0];
  const Sky s = sky_at(p);
  const std::vector<std::pair<double, int>> by_el = highest_first(s);
  for (const Case& c : cases) {
    ASSERT_GT(by_el[static_cast<std::size_t>(c.keep - 1)].first, 5.0) << c.name;
    sky_view_with_highest(s, by_el, c.keep, p.tow);
    EXPECT_EQ(SRCH_count_gps_above_2deg(), c.keep) << c.name;
    SRCH_init(4, c.start, 0, 0, 0);
    EXPECT_EQ(SRST_get_state(), c.expect_state) << c.name;
    EXPECT_NEAR(by_el[0].first,
                SV_get_elevation(SV_get_reference(GNSS_TYPE_GPS, static_cast<S16>(by_el[0].second))) * RAD2DEG, 1.0)
        << c.name;
  }
}

}  // namespace

// The aiding switches: hot search only with at least 6 GPS satellites on the
// sky (sky view); cold search always.
TEST_F(SearchSky, ForcedSwitches) {
  struct Case {
    const char* name;
    int keep;  // almanacs kept, highest satellites first (-1: all)
    S16 expect_hot;
    S16 expect_state;
  };
  const Case cases[] = {
      {"all almanacs", -1, 1, SRST_SHORT_HOT_WARM_SEARCH},
      {"6 on the sky", 6, 1, SRST_SHORT_HOT_WARM_SEARCH},
      {"5 on the sky", 5, 0, SRST_NORMAL_COLD_SEARCH},
      {"no almanac", 0, 0, SRST_NORMAL_COLD_SEARCH},
  };
  const Place& p = PLACES[1];
  const Sky s = sky_at(p);
  const std::vector<std::pair<double, int>> by_el = highest_first(s);
  for (const Case& c : cases) {
    if (c.keep >= 0) {
      ASSERT_GT(by_el[static_cast<std::size_t>(std::max(c.keep, 1) - 1)].first, 5.0) << c.name;
    }
    sky_view_with_highest(s, by_el, c.keep, p.tow);
    SRCH_init(4, SRST_COLD_START, 0, 0, 0);  // normal cold search after the first tick
    EXPECT_EQ(KSEARCH_is_GPS_in_blind_search_mode(), 1) << c.name;
    EXPECT_EQ(KSEARCH_force_GPS_switch_to_hot_search(), c.expect_hot) << c.name;
    EXPECT_EQ(SRST_get_state(), c.expect_state) << c.name;
    EXPECT_EQ(KSEARCH_is_GPS_in_blind_search_mode(), c.expect_hot != 0 ? 0 : 1) << c.name;
    EXPECT_EQ(KSEARCH_force_GPS_switch_to_cold_search(), 1) << c.name;
    EXPECT_EQ(SRST_get_state(), SRST_NORMAL_COLD_SEARCH) << c.name;
  }
}
