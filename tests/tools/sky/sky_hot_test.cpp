// The target's answer to the hot-start time message (tools/sky/sky_hot.h):
// the prediction recorded against the truth of its RTC moment, and the time
// count (the receiver clock) set from it.
//
// Known answers: the sky's RTC runs 0.3125 s (10240 counts of 1/32768 s)
// ahead of GPS time, so the RTC reading at a start at GPS 349507.000 s is
// second 349507, count 10240, and its truth is 349507.000 s exactly. A
// prediction of 349507 s + e gives an error of e; the receiver clock (bias
// 0.4 ms before) then reads the prediction at that moment: bias e.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>

#include "misc/host_msg.h"
#include "tools/sky/sky.h"
#include "tools/sky/sky_hot.h"
#include "tools/sky/sky_link.h"

namespace {

constexpr double START_TOW = 349507.0;
constexpr double BIAS0 = 0.0004;
constexpr int32_t CPM = 24552;  // TCXO mode 4: clocks per ms

SKY_SCENARIO_T Sc;  // kept by the core for the run

void start_run() {
  char err[128] = "";
  Sc = SKY_SCENARIO_T{};
  ASSERT_EQ(SKY_parse_scenario("start_week = 2400\nstart_tow = 349507\nduration = 20\nnsat = 4\nseed = 3\n"
                               "lat = 35.68\nlon = 139.77\nclk_bias = 0.0004\n",
                               &Sc, err, sizeof err),
            1)
      << err;
  ASSERT_EQ(SKY_init(&Sc), 1);
  ASSERT_EQ(SKY_LINK_start(&Sc, SKY_LINK_PARAM_T{}, SKY_LINK_core_source()), 1);
  SKY_HOT_reset();
}

// The message predicting GPS time START_TOW + e for the start's RTC reading.
std::array<U08, 32> message(double e, S16 valid, S16 subsec_override = -1) {
  const double tow = START_TOW + e;
  const auto sec = static_cast<S32>(std::floor(tow));
  const double ms = (tow - sec) * 1000.0;
  const auto subsec = static_cast<S16>(ms);
  const auto ssubsec = static_cast<S16>((ms - subsec) * CPM);
  std::array<U08, 32> f{};
  pack_msg_set_hot_start_predict_time(f.data(), sec, subsec_override >= 0 ? subsec_override : subsec, ssubsec,
                                      static_cast<S32>(START_TOW), 10240, valid);
  return f;
}

struct HotCase {
  const char* name;
  double e;      // prediction - truth, s
  S16 valid;     // valid_flag
  S16 subsec;    // -1: as computed; else sent instead (out of range: 1000)
  int in_range;  // SKY_HOT_take's result
  int applied;
};

const std::array<HotCase, 5> CASES = {{
    {"exact", 0.0, 1, -1, 1, 1},
    {"2.5 ms late", 0.0025, 1, -1, 1, 1},
    {"the RTC's 0.3125 s lead taken as GPS time", 0.3125, 1, -1, 1, 1},
    {"no prediction", 0.0, 0, -1, 1, 0},
    {"millisecond out of range", 0.0, 1, 1000, 0, 0},
}};

TEST(SkyHot, PredictionAgainstTruthAndTheTimeCountSet) {
  for (const HotCase& c : CASES) {
    SCOPED_TRACE(c.name);
    start_run();
    const SKY_GPST_T truth{2400, START_TOW};
    EXPECT_NEAR(SKY_clock_bias_at(truth), BIAS0, 1e-12);
    const std::array<U08, 32> f = message(c.e, c.valid, c.subsec);
    EXPECT_EQ(SKY_HOT_take(f.data()), c.in_range);
    EXPECT_EQ(SKY_HOT_count(), 1);
    const SKY_HOT_RECORD_T* r = SKY_HOT_first();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->applied, c.applied);
    if (c.in_range == 0) {
      EXPECT_NEAR(SKY_clock_bias_at(truth), BIAS0, 1e-12);
      continue;
    }
    EXPECT_EQ(r->rtc_true.week, 2400);
    EXPECT_NEAR(r->rtc_true.tow, START_TOW, 1e-9);
    EXPECT_NEAR(r->error_s, c.e, 1.0 / (CPM * 1000.0));  // to a TCXO clock
    EXPECT_NEAR(r->bias_before_s, BIAS0, 1e-12);
    const double bias_after = c.applied != 0 ? r->error_s : BIAS0;
    EXPECT_NEAR(SKY_clock_bias_at(truth), bias_after, 1e-12);
    // The next epoch's truth carries the clock as set.
    U08 buf[4096];
    SKY_LINK_EPOCH_T ep;
    ASSERT_GT(SKY_LINK_next_epoch(buf, sizeof buf, &ep), 0);
    EXPECT_NEAR(ep.rx.clk_bias_s, bias_after, 1e-9);
    // A second message is counted, never applied.
    const std::array<U08, 32> g = message(0.1, 1);
    SKY_HOT_take(g.data());
    EXPECT_EQ(SKY_HOT_count(), 2);
    EXPECT_NEAR(SKY_clock_bias_at(truth), bias_after, 1e-12);
  }
}

}  // namespace
