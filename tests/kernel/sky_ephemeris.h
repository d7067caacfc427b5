// Test helpers: subframes 1..3 of the simulated sky's navigation message as
// the kernel's subframe collector hands them on, and their decode into the
// kernel's ephemeris store.
#pragma once

#include <gtest/gtest.h>

#include <cmath>

#include "kernel/src/dbits_parity.h"
#include "kernel/src/ephemeris.h"
#include "tools/sky/sky.h"

// Start the sky (every satellite) at GPS week, tow (s) with the receiver at
// latitude lat, longitude lon (degrees). Returns SKY_init's result (1).
inline int init_full_sky(int week, double tow, double lat = 0.0, double lon = 0.0) {
  static SKY_SCENARIO_T sc;  // kept by the sky for the run
  sc = SKY_SCENARIO_T{};
  sc.start = SKY_GPST_T{week, tow};
  sc.nsat = SKY_MAX_SV;
  sc.llh[0] = lat;
  sc.llh[1] = lon;
  return SKY_init(&sc);
}

struct SkyFrame {
  U32 w[3][10];  // subframes 1..3, ten polarity-corrected words each (D1 at bit 29)
};

// Subframes 1..3 of the frame of satellite svid that starts at or before
// (week, tow s) in the sky initialised by the caller.
inline SkyFrame sky_frame(int svid, int week, double tow) {
  const int first = static_cast<int>(std::floor(tow / 30.0)) * 50;  // 50 words a frame
  SkyFrame f{};
  U32 prev = first > 0 ? SKY_nav_word(svid, week, first - 1) : SKY_nav_word(svid, week - 1, 1007999);
  for (int s = 0; s < 3; ++s)
    for (int i = 0; i < 10; ++i) {
      const U32 w = SKY_nav_word(svid, week, first + s * 10 + i);
      f.w[s][i] = DBP_polarity_corrected(w | ((prev & 3U) << 30));
      prev = w;
    }
  return f;
}

// Decode a frame into the (cleared) broadcast record of svid.
inline EPH_T load_sky_ephemeris(int svid, const SkyFrame& f) {
  EPH_T e = EPH_get_reference(static_cast<S16>(svid));
  EPH_clear_one(static_cast<S16>(svid));
  EPH_set_data_source(static_cast<S16>(svid), 0);
  EXPECT_EQ(EPH_update_datawords(e, f.w), 1);
  return e;
}
