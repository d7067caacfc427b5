// Warm-start replay sets: the backup image of log_init.dat (this machine's byte
// order) and of the SD-card log (the target's order), read back with the
// kernel's own backup reader, give the scenario's start position, clock drift,
// GPS week and time of the stored fix and an RTC stamp consistent with
// rtc_data.dat; the kernel started on the set takes the stored state and
// predicts the GPS time of the set's start from the RTC.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/host_start_record.h"
#include "host/wrap.h"
#include "kernel/src/kernel.h"
#include "kernel/src/kernel_backup.h"
#include "misc/crc16.h"
#include "misc/endian_swap.h"
#include "misc/host_msg.h"
#include "misc/start_files.h"
#include "test_util.h"
#include "tools/sky/sky.h"
#include "tools/sky/sky_link.h"

namespace {

using talon_test::TempDir;

constexpr double PI = 3.14159265358979323846;
constexpr double C_MPS = 299792458.0;
constexpr double WEEK_S = 604800.0;
constexpr double RTC_TICK_S = 1.0 / 32768.0;
// The record keeps latitude and longitude in whole 1e-8 rad (6.4 cm on the
// equator): the nearest step is half a step away at most.
constexpr double HALF_STEP_RAD = 0.5e-8 + 1e-15;

struct WarmCase {
  const char* name;
  const char* scenario;  // besides "warm_start = 1" and a 2 s duration
  double lat_deg, lon_deg, h_m;
  int32_t week;  // true GPS time of the start
  double tow;
  double age_s;  // the stored fix this long before the start
  double drift;  // receiver clock drift, s/s
};

const std::vector<WarmCase> CASES = {
    {"fix at the start", "start_week = 2400\nstart_tow = 345600\nlat = 35.5\nlon = 139.25\nheight = 55\n", 35.5, 139.25,
     55.0, 2400, 345600.0, 0.0, 0.0},
    {"a minute old, clock drifting",
     "start_week = 2400\nstart_tow = 345600\nlat = 35.5\nlon = 139.25\nheight = 55\nclk_bias = 0.00123\n"
     "clk_drift = 2e-7\ntcxo_mode = 0\nwarm_start_age = 60\n",
     35.5, 139.25, 55.0, 2400, 345600.0, 60.0, 2e-7},
    {"track start south east, an hour old",
     "start_week = 2303\nstart_tow = 200000.5\nwaypoint = 0 -33.9 151.2 20\nwaypoint = 100 -33.89 151.21 40\n"
     "clk_drift = -3e-8\nwarm_start_age = 3600\n",
     -33.9, 151.2, 20.0, 2303, 200000.5, 3600.0, -3e-8},
    {"west below the ellipsoid, fix in the previous week",
     "start_week = 2303\nstart_tow = 30\nlat = -12.3\nlon = -77.05\nheight = -20.25\nwarm_start_age = 120\n", -12.3,
     -77.05, -20.25, 2303, 30.0, 120.0, 0.0},
    {"RTC week counter wraps",
     "start_week = 4096\nstart_tow = 10\nlat = 60.1\nlon = -150.7\nheight = 300\nwarm_start_age = 100\n", 60.1, -150.7,
     300.0, 4096, 10.0, 100.0, 0.0},
    {"four weeks old", "start_week = 2100\nstart_tow = 500000\nlat = 0.01\nlon = 179.99\nwarm_start_age = 2419200\n",
     0.01, 179.99, 0.0, 2100, 500000.0, 2419200.0, 0.0},
};

void PrintTo(const WarmCase& c, std::ostream* os) { *os << c.name; }

std::vector<U08> file_bytes(const std::string& path) { return talon_test::read_file(path); }

// The RTC reading of rtc_data.dat (little-endian, CRC checked by the host).
struct RtcReading {
  S16 wn;
  S32 sec;
  U32 subsec;
};
RtcReading rtc_of(const std::vector<U08>& b) {
  RtcReading r{};
  r.sec = static_cast<S32>(b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<U32>(b[3]) << 24));
  r.subsec = b[4] | (b[5] << 8) | (b[6] << 16) | (static_cast<U32>(b[7]) << 24);
  r.wn = static_cast<S16>(b[8] | (b[9] << 8));
  return r;
}

// GPS seconds from week 0.
double total_s(double week, double tow) { return week * WEEK_S + tow; }

class SkyWarmStart : public testing::TestWithParam<WarmCase> {
 protected:
  void SetUp() override {
    const WarmCase& c = GetParam();
    const std::string text = std::string(c.scenario) + "warm_start = 1\nduration = 2\nnsat = 6\n";
    char err[200] = "";
    ASSERT_EQ(SKY_parse_scenario(text.c_str(), &sc_, err, sizeof err), 1) << err;
    ASSERT_EQ(SKY_init(&sc_), 1);
    ASSERT_EQ(
        SKY_LINK_write_set(&sc_, SKY_LINK_PARAM_T{}, SKY_LINK_core_source(), dir_.path().c_str(), err, sizeof err), 2)
        << err;
    const std::vector<U08> rtc = file_bytes(dir_.file("rtc_data.dat"));
    ASSERT_EQ(rtc.size(), 12U);
    rtc_ = rtc_of(rtc);
  }
  void TearDown() override {
    ENDIAN_set_swap_flag(0);
    WRAP_install_command_sink(nullptr);
    KERNEL_close();
  }

  // The backup image of the plain set (host order) or of the SD-card log (target order).
  std::array<U08, HOST_IMAGE_SIZE> image(bool target_order) const {
    std::array<U08, HOST_IMAGE_SIZE> region{};
    const std::vector<U08> b = file_bytes(dir_.file(target_order ? "sd_log.dat" : "log_init.dat"));
    EXPECT_GE(b.size(), region.size());
    if (b.size() >= region.size()) std::memcpy(region.data(), b.data(), region.size());
    return region;
  }

  SKY_SCENARIO_T sc_{};
  TempDir dir_;
  RtcReading rtc_{};
};

TEST_P(SkyWarmStart, KernelBackupReaderGivesTheTruthState) {
  const WarmCase& c = GetParam();
  for (bool target_order : {false, true}) {
    SCOPED_TRACE(target_order ? "sd_log.dat, target order" : "log_init.dat, host order");
    std::array<U08, HOST_IMAGE_SIZE> region = image(target_order);
    ENDIAN_set_swap_flag(target_order ? 1 : 0);
    ASSERT_EQ(KBACKUP_init(region.data()), KBACKUP_PIECE_SIZE);
    KBACKUP_T b{};
    ASSERT_EQ(KBACKUP_get_receiver_states(&b), 1);
    // Position: the start of the scenario.
    EXPECT_NEAR(b.lla.lat, c.lat_deg * PI / 180.0, HALF_STEP_RAD);
    EXPECT_NEAR(b.lla.lon, c.lon_deg * PI / 180.0, HALF_STEP_RAD);
    EXPECT_NEAR(b.lla.alt, c.h_m, 0.005 + 1e-4);
    // Drift in m/s, kept in whole mm/s.
    EXPECT_NEAR(b.cdrift, c.drift * C_MPS, 0.0005 + 1e-6);
    // The stored fix: age seconds before the GPS time of the RTC reading, which
    // the RTC (0.3125 s ahead of GPS time) shows truncated to 1/32768 s.
    const double fix = total_s(b.last_stored_gps_wn, b.last_stored_D64_gps_tow);
    const double want = total_s(c.week, c.tow) - c.age_s;
    EXPECT_LE(fix, want + 1e-9);
    EXPECT_GE(fix, want - RTC_TICK_S - 1e-9);
    EXPECT_GE(b.last_stored_D64_gps_tow, 0.0);
    EXPECT_LT(b.last_stored_D64_gps_tow, WEEK_S);
    // The RTC stamp: the reading of rtc_data.dat less the age, same sub-second count.
    int64_t dwn = rtc_.wn - b.last_stored_rtc_wn;
    if (dwn < 0) dwn += 4096;
    EXPECT_EQ(dwn * 604800 + rtc_.sec - b.last_stored_rtc_sec, static_cast<int64_t>(c.age_s));
    EXPECT_EQ(static_cast<U32>(b.last_stored_rtc_subsec), rtc_.subsec);
    EXPECT_EQ(b.rtc_gps_ss_dif, 0);
    EXPECT_DOUBLE_EQ(b.rtc_gps_ratio, 1.0);
    EXPECT_EQ(b.rtc_gps_ratio_quality & 0xFFFFu, 3600u);  // an hour's baseline
  }
}

std::vector<std::vector<U08>> Commands;
void capture(const U08* f, int len) { Commands.emplace_back(f, f + len); }

KERNEL_INIT_T start_record(U08* region, U08* alm, int tcxo_mode) {
  KERNEL_INIT_T k = HOST_builtin_kernel_init(static_cast<S16>(tcxo_mode));
  k.backup_mem_p = region;
  k.nvram_alm_mem_p = alm;
  return k;
}

TEST_P(SkyWarmStart, KernelStartsWarmWithTheGpsTimeOfTheSet) {
  const WarmCase& c = GetParam();
  for (bool target_order : {false, true}) {
    SCOPED_TRACE(target_order ? "sd_log.dat, target order" : "log_init.dat, host order");
    std::array<U08, HOST_IMAGE_SIZE> region = image(target_order);
    std::array<U08, HOST_IMAGE_SIZE> alm{};
    ENDIAN_set_swap_flag(target_order ? 1 : 0);
    Commands.clear();
    WRAP_init(0, nullptr);
    WRAP_install_command_sink(capture);
    WRAP_set_asic_rtc(rtc_.wn, rtc_.sec, rtc_.subsec);
    const KERNEL_INIT_T k = start_record(region.data(), alm.data(), sc_.tcxo_mode);
    EXPECT_EQ(KERNEL_init(&k), 1);  // a valid stored state
    KERNEL_START_STATE_T st{};
    KERNEL_get_start_state(&st);
    EXPECT_EQ(st.lapse_valid, 1);
    EXPECT_EQ(st.dt, static_cast<S32>(c.age_s));
    EXPECT_EQ(st.can_do_hot_start, 1);  // the stored position went to the navigation
    EXPECT_EQ(st.has_rtc_time, 1);
    EXPECT_EQ(st.force_clear_ephemeris, 0);
    // Predicted GPS time: that of the RTC reading, the start of the set (whole seconds).
    EXPECT_EQ(st.predict_gps_wn, c.week);
    EXPECT_GE(st.predict_gps_tow, static_cast<S32>(std::floor(c.tow - RTC_TICK_S - 1e-6)));
    EXPECT_LE(st.predict_gps_tow, static_cast<S32>(std::floor(c.tow)));
    // ... and to the millisecond as the target is told it.
    bool sent = false;
    for (const std::vector<U08>& f : Commands) {
      if (f.size() <= 2 || f[2] != MSG_TYPE_ASIC_SET_HOT_START_PREDICT_TIME) continue;
      S32 gtc_sec = 0, rtc_sec = 0;
      S16 gtc_ms = 0, gtc_clocks = 0, rtc_subsec = 0, valid = 0;
      unpack_msg_set_hot_start_predict_time(f.data(), &gtc_sec, &gtc_ms, &gtc_clocks, &rtc_sec, &rtc_subsec, &valid);
      sent = true;
      EXPECT_EQ(valid, 1);
      EXPECT_NEAR(gtc_sec + gtc_ms * 1e-3, c.tow, 1e-3 + RTC_TICK_S);
      EXPECT_EQ(rtc_sec, rtc_.sec);
    }
    EXPECT_TRUE(sent);
    KERNEL_close();
  }
}

INSTANTIATE_TEST_SUITE_P(Sets, SkyWarmStart, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<WarmCase>& i) { return talon_test::case_name(i.param.name); });

// With warm_start_iono the image also holds the broadcast ionospheric
// parameters after the receiver-state piece (offset 128): alpha0..3 F32,
// beta0..3 S32, CRC-16 of the 32 bytes, in the file's byte order; without it
// those bytes stay zero.
template <typename T>
T get(const U08* p, bool big_endian) {
  U08 b[sizeof(T)];
  std::memcpy(b, p, sizeof b);
  if (big_endian != (std::endian::native == std::endian::big)) std::reverse(b, b + sizeof b);
  T v;
  std::memcpy(&v, b, sizeof v);
  return v;
}

struct IonoCase {
  const char* name;
  const char* scenario;
  bool stored;
};

TEST(SkyWarmStartIono, IonosphericRecordInBothByteOrders) {
  const std::vector<IonoCase> cases = {
      {"default parameters", "warm_start_iono = 1\n", true},
      {"own parameters",
       "warm_start_iono = 1\niono_alpha = 2.0e-8 -1.49e-8 -1.19e-7 2.38e-7\niono_beta = 1.2e5 -2.0e5 -2.6e5 1.9e6\n",
       true},
      {"not asked for", "", false},
  };
  for (const IonoCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = std::string("start_week = 2400\nstart_tow = 1000\nlat = 10\nduration = 1\nnsat = 4\n") +
                             "warm_start = 1\n" + c.scenario;
    SKY_SCENARIO_T sc{};
    char err[200] = "";
    ASSERT_EQ(SKY_parse_scenario(text.c_str(), &sc, err, sizeof err), 1) << err;
    ASSERT_EQ(SKY_init(&sc), 1);
    SKY_IONO_UTC_T sky{};
    SKY_get_iono_utc(&sky);  // what the sky broadcasts on page 18
    TempDir dir;
    ASSERT_EQ(SKY_LINK_write_set(&sc, SKY_LINK_PARAM_T{}, SKY_LINK_core_source(), dir.path().c_str(), err, sizeof err),
              1)
        << err;
    for (bool be : {false, true}) {
      const std::vector<U08> b = file_bytes(dir.file(be ? "sd_log.dat" : "log_init.dat"));
      ASSERT_GE(b.size(), 162U);
      const U08* r = b.data() + 128;
      if (!c.stored) {
        EXPECT_EQ(std::vector<U08>(r, r + 34), std::vector<U08>(34, 0));
        continue;
      }
      constexpr int A_EXP[4] = {-30, -27, -24, -24}, B_EXP[4] = {11, 14, 16, 16};
      for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(get<float>(r + 4 * i, be), static_cast<float>(std::ldexp(sky.alpha[i], A_EXP[i]))) << i;
        EXPECT_EQ(get<S32>(r + 16 + 4 * i, be), static_cast<S32>(std::ldexp(sky.beta[i], B_EXP[i]))) << i;
      }
      EXPECT_EQ(get<U16>(r + 32, be), crc16(r, 32));
      EXPECT_NE(crc16(r, 32), 0);
    }
  }
}

// Without warm_start the image stays all zero: a cold start.
TEST(SkyWarmStartOff, ColdSetKeepsAZeroImage) {
  SKY_SCENARIO_T sc{};
  char err[200] = "";
  ASSERT_EQ(SKY_parse_scenario("start_week = 2400\nstart_tow = 1000\nlat = 10\nduration = 1\nnsat = 4\n", &sc, err,
                               sizeof err),
            1)
      << err;
  ASSERT_EQ(SKY_init(&sc), 1);
  TempDir dir;
  ASSERT_EQ(SKY_LINK_write_set(&sc, SKY_LINK_PARAM_T{}, SKY_LINK_core_source(), dir.path().c_str(), err, sizeof err), 1)
      << err;
  EXPECT_EQ(file_bytes(dir.file("log_init.dat")), std::vector<U08>(HOST_IMAGE_SIZE, 0));
  const std::vector<U08> sd = file_bytes(dir.file("sd_log.dat"));
  ASSERT_GE(sd.size(), static_cast<std::size_t>(HOST_IMAGE_SIZE));
  EXPECT_EQ(std::vector<U08>(sd.begin(), sd.begin() + HOST_IMAGE_SIZE), std::vector<U08>(HOST_IMAGE_SIZE, 0));
}

}  // namespace
