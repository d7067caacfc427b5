// Sky view tests on the simulated sky: a fresh almanac region without
// ephemerides, the sky's own broadcast almanacs decoded into it, and the
// sky's truth (every satellite's elevation, azimuth and range rate) at the
// receiver's place and time.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>

#include "kernel/src/almanac.h"
#include "kernel/src/backup_layout.h"
#include "kernel/src/ephemeris.h"
#include "kernel/src/satellite.h"
#include "kernel/src/sky_view.h"
#include "tests/kernel/sky_almanac.h"
#include "tests/kernel/sky_ephemeris.h"
#include "tools/sky/sky.h"

namespace skyview_test {

constexpr int WEEK = 2345;
constexpr double RAD2DEG = 57.29577951308232;

inline std::array<U08, ALM_BACKUP_SIZE> Region{};

// Each test starts without almanacs or ephemerides and leaves no almanac
// behind (later tests of the program expect none).
class AlmanacSky : public ::testing::Test {
 protected:
  void SetUp() override {
    Region.fill(0);
    ALM_init(Region.data(), nullptr, nullptr);
    EPH_clear_all();
    SV_init();
    SVSKY_init();
  }
  void TearDown() override {
    ALM_clear_all();
    SV_init();
    SVSKY_init();
  }
};

// Decode the sky's almanac of every satellite from the page cycle before tow (s).
inline void load_sky_almanacs(double tow) {
  const int cycle = static_cast<int>(std::floor(tow / 750.0)) - 1;
  for (int svid = 1; svid <= 32; ++svid) {
    int sf = 0;
    int page = 0;
    alm_test::almanac_page_of(svid, &sf, &page);
    const std::int32_t s = alm_test::subframe_index(cycle, page, sf);
    const alm_test::Page p = alm_test::sky_subframe(svid <= 24 ? 1 : 2, WEEK, s);
    ASSERT_EQ(ALM_update_datawords(WEEK, s * 6, p.data()), 1) << svid;
  }
}

// The sky at a place (degrees) and time of week (s): truth of every
// satellite, and the receiver position (ECEF, m).
struct Sky {
  SKY_EPOCH_T ep;
  POS_T rcv;
};
inline Sky sky_at(double lat, double lon, double tow) {
  Sky s{};
  EXPECT_EQ(init_full_sky(WEEK, tow, lat, lon), 1);
  EXPECT_EQ(SKY_epoch_at_clock(SKY_GPST_T{WEEK, tow}, &s.ep), 1);
  s.rcv = POS_T{s.ep.rx.pos_ecef[0], s.ep.rx.pos_ecef[1], s.ep.rx.pos_ecef[2]};
  return s;
}

}  // namespace skyview_test
