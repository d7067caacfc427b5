// The RTC module's hot-start clock-bias rule behind a kernel started on a
// simulated sky's warm-start set: the kernel start (callback wiring) installs
// the rule's hooks into the measurement predictor and the navigation clock.
// A stored fix less than 3600 s old arms the clock-bias prediction; a
// time-count sync error then gives the predicted bias
// -(error x c / f + 30 000 m) and, because the predictor can predict the bias
// after a hot start of under 7201 s, the prediction stays armed. Without the
// hooks the rule would find no predictor and disarm at the first error. An
// older stored fix, a cold set or a forced warm start arm nothing.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "host/host_start_record.h"
#include "host/wrap.h"
#include "kernel/src/kernel.h"
#include "kernel/src/kernel_modules.h"
#include "kernel/src/rtc.h"
#include "kernel/src/tcxo_freq.h"
#include "misc/start_files.h"
#include "test_util.h"
#include "tools/sky/sky.h"
#include "tools/sky/sky_link.h"

namespace {

using talon_test::TempDir;

constexpr double C_MPS = 299792458.0;

struct HooksCase {
  const char* name;
  const char* scenario;  // besides the common start and duration
  bool force_warm;       // the start record asks for a warm start (ignore the stored state)
  bool armed;            // the clock-bias prediction is armed at start
  S32 dt;                // s: the kernel's lapse since the stored fix (hot starts)
};

const std::vector<HooksCase> CASES = {
    {"stored fix at the start", "warm_start = 1\n", false, true, 0},
    {"a minute old, TCXO mode 0", "warm_start = 1\nwarm_start_age = 60\ntcxo_mode = 0\n", false, true, 60},
    {"179 s old", "warm_start = 1\nwarm_start_age = 179\n", false, true, 179},
    {"just under an hour old", "warm_start = 1\nwarm_start_age = 3599\n", false, true, 3599},
    {"an hour old", "warm_start = 1\nwarm_start_age = 3600\n", false, false, 3600},
    {"two hours old", "warm_start = 1\nwarm_start_age = 7300\n", false, false, 7300},
    {"cold set", "warm_start = 0\n", false, false, 0},
    {"warm set, warm start forced", "warm_start = 1\nwarm_start_age = 60\n", true, false, 0},
};

void PrintTo(const HooksCase& c, std::ostream* os) { *os << c.name; }

class RtcHotStartHooks : public testing::TestWithParam<HooksCase> {
 protected:
  void TearDown() override {
    KERNEL_close();
    KRTC_init();
  }
};

TEST_P(RtcHotStartHooks, WarmSetArmsTheClockBiasPrediction) {
  const HooksCase& c = GetParam();
  const std::string text =
      std::string(
          "start_week = 2400\nstart_tow = 345600\nlat = 35.5\nlon = 139.25\nheight = 55\nduration = 2\n"
          "nsat = 6\n") +
      c.scenario;
  static SKY_SCENARIO_T sc;
  sc = SKY_SCENARIO_T{};
  char err[200] = "";
  ASSERT_EQ(SKY_parse_scenario(text.c_str(), &sc, err, sizeof err), 1) << err;
  ASSERT_EQ(SKY_init(&sc), 1);
  TempDir dir;
  ASSERT_EQ(SKY_LINK_write_set(&sc, SKY_LINK_PARAM_T{}, SKY_LINK_core_source(), dir.path().c_str(), err, sizeof err), 2)
      << err;
  const std::vector<U08> rtc = talon_test::read_file(dir.file("rtc_data.dat"));
  ASSERT_EQ(rtc.size(), 12U);
  const std::vector<U08> image = talon_test::read_file(dir.file("log_init.dat"));
  ASSERT_EQ(image.size(), static_cast<std::size_t>(HOST_IMAGE_SIZE));

  static std::array<U08, HOST_IMAGE_SIZE> region, alm;
  std::memcpy(region.data(), image.data(), region.size());
  alm.fill(0);
  WRAP_init(0, nullptr);
  WRAP_set_asic_rtc(static_cast<S16>(rtc[8] | (rtc[9] << 8)),
                    static_cast<S32>(rtc[0] | (rtc[1] << 8) | (rtc[2] << 16) | (static_cast<U32>(rtc[3]) << 24)),
                    rtc[4] | (rtc[5] << 8) | (rtc[6] << 16) | (static_cast<U32>(rtc[7]) << 24));
  KERNEL_INIT_T k = HOST_builtin_kernel_init(static_cast<S16>(sc.tcxo_mode));
  k.backup_mem_p = region.data();
  k.nvram_alm_mem_p = alm.data();
  k.force_warm = c.force_warm ? 1 : 0;
  KERNEL_init(&k);
  KERNEL_START_STATE_T st{};
  KERNEL_get_start_state(&st);
  const bool hot = sc.warm_start != 0 && !c.force_warm;
  EXPECT_EQ(st.can_do_hot_start, hot ? 1 : 0);
  if (hot) {
    EXPECT_EQ(st.dt, c.dt);
  }
  EXPECT_EQ(KRTC_can_predict_clock_bias(), c.armed ? 1 : 0);
  // Predictor flag after a hot start of under 7201 s, as the hooks see it.
  EXPECT_EQ(KMPREDICT_is_can_predict_cb(), hot && c.dt < 7201 ? 1 : 0);

  // The target reports how far its time-count sync is from the predicted GPS time (TCXO clocks).
  constexpr S32 SYNC_ERROR = -12345;
  const U32 f = TCXO_get_tcxo_freq();
  const D64 expect_cb = -(static_cast<D64>(SYNC_ERROR) * C_MPS / f + 30000.0);
  KRTC_compensate_gtc_sync_to_gps_time_error(SYNC_ERROR, 1);
  S32 d_sec = 0;
  D64 predicted = 0.0;
  KRTC_get_debug_info(&d_sec, &predicted);
  if (c.armed) {
    EXPECT_EQ(KRTC_can_predict_clock_bias(), 1) << "the hooks answer: the predictor can predict the bias";
    EXPECT_NEAR(predicted, expect_cb, 1e-6);
    EXPECT_EQ(d_sec, c.dt);
  } else {
    EXPECT_EQ(KRTC_can_predict_clock_bias(), 0);
    EXPECT_EQ(predicted, 0.0);
  }
  // Uninstalled hooks: the same error finds no predictor and disarms the rule.
  if (c.armed) {
    KRTC_install_hot_start_hooks(nullptr);
    KRTC_update_rtc_lapsed_time(c.dt, 0);
    ASSERT_EQ(KRTC_can_predict_clock_bias(), 1);
    KRTC_compensate_gtc_sync_to_gps_time_error(SYNC_ERROR, 1);
    EXPECT_EQ(KRTC_can_predict_clock_bias(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Sets, RtcHotStartHooks, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<HooksCase>& i) {
                           return talon_test::case_name(i.param.name);
                         });

}  // namespace
