// The navigation driver end to end on the simulated sky: broadcast
// ephemerides decoded from the sky's navigation message, range records fed
// with each satellite's transmit time and carrier Doppler at every
// receiver-clock epoch, and NV_process run epoch by epoch. Fixes are
// compared with the sky's truth (position, velocity, clock bias and drift);
// DOPs with an independent inverse of the truth geometry. The sky carries no
// ionosphere and its troposphere is the kernel's model, so the fix is exact
// up to rounding.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "kernel/src/channel.h"
#include "kernel/src/coordinate.h"
#include "kernel/src/ephemeris.h"
#include "kernel/src/kalman_filter.h"
#include "kernel/src/kernel_modules.h"
#include "kernel/src/nav_estimation_inputs.h"
#include "kernel/src/nav_model.h"
#include "kernel/src/navigate.h"
#include "kernel/src/range.h"
#include "kernel/src/satellite.h"
#include "kernel/src/settings.h"
#include "tests/kernel/fix_record_finite.h"
#include "tests/kernel/sky_ephemeris.h"
#include "tools/sky/sky.h"

namespace {

constexpr double C = 299792458.0;
constexpr int WEEK = 2400;
constexpr double T0 = 345600.0;

struct SkyCase {
  double lat = 35.0, lon = 139.0, h = 50.0;  // degrees, m
  double ve = 0.0, vn = 0.0, vu = 0.0;       // m/s
  int nsat = 8;                              // satellites fed (the highest first)
  int week = WEEK;
  double t0 = T0;
  S16 model = NMODEL_DEFAULT;
  double code_noise_m = 0.0;  // 1-sigma
};

int Drops = 0;
int Faults = 0;
void count_drop(S16) { ++Drops; }
void count_fault() { ++Faults; }

// The sky, the kernel's records and the driver for one case.
class NavSky {
 public:
  explicit NavSky(const SkyCase& c) : c_(c) {
    static SKY_SCENARIO_T sc;  // kept by the sky for the run
    sc = SKY_SCENARIO_T{};
    sc.start = SKY_GPST_T{c.week, c.t0};
    sc.duration_s = 3600.0;
    sc.nsat = SKY_MAX_SV;
    sc.llh[0] = c.lat;
    sc.llh[1] = c.lon;
    sc.llh[2] = c.h;
    sc.vel_enu[0] = c.ve;
    sc.vel_enu[1] = c.vn;
    sc.vel_enu[2] = c.vu;
    sc.clk_bias0_s = 1.0e-4;  // 30 km
    sc.clk_drift = 1.0e-7;    // 30 m/s
    sc.iono_scale = 0.0;
    sc.tropo_model = SKY_TROPO_SIMPLE;
    sc.code_noise_m = c.code_noise_m;
    EXPECT_EQ(SKY_init(&sc), 1);
    SETTINGS_init();
    EPH_init_storage_address(nullptr, 0);
    EPH_init(nullptr);
    SV_init();
    CH_init();
    RNG_init();
    NVESTIN_init();
    NVMODEL_set_model(c.model);
    KMF_reset();
    NV_init();
    Drops = Faults = 0;
    NV_install_callback_drop_channel(count_drop);
    NV_install_callback_position_fix_fault(count_fault);
    NV_install_first_fix_bad_meas_check_callback(nullptr);
    NV_install_bad_meas_check_callback(nullptr);
    // Satellites above 15 degrees, spread over the sky (the highest first,
    // then each time the one farthest from those chosen), bound to channels
    // 0..nsat-1.
    SKY_EPOCH_T ep{};
    EXPECT_EQ(SKY_epoch_at_clock(SKY_GPST_T{c.week, c.t0}, &ep), 1);
    std::vector<std::array<double, 4>> cand;  // svid, unit line of sight (east, north, up)
    for (int i = 0; i < ep.n; ++i) {
      const SKY_SIGNAL_T& s = ep.sig[i];
      if (s.visible == 0 || s.el_deg < 15.0) continue;
      const double el = s.el_deg * 0.017453292519943295, az = s.az_deg * 0.017453292519943295;
      cand.push_back(
          {static_cast<double>(s.svid), std::cos(el) * std::sin(az), std::cos(el) * std::cos(az), std::sin(el)});
    }
    std::sort(cand.begin(), cand.end(), [](const auto& a, const auto& b) { return a[3] > b[3]; });
    std::vector<std::array<double, 4>> chosen;
    while (static_cast<int>(chosen.size()) < c.nsat && !cand.empty()) {
      std::size_t best = 0;
      double best_d = -1.0;
      for (std::size_t k = 0; k < cand.size() && !chosen.empty(); ++k) {
        double dmin = 1e9;
        for (const auto& h : chosen)
          dmin = std::min(dmin, 1.0 - (h[1] * cand[k][1] + h[2] * cand[k][2] + h[3] * cand[k][3]));
        if (dmin > best_d) {
          best_d = dmin;
          best = k;
        }
      }
      chosen.push_back(cand[best]);
      cand.erase(cand.begin() + static_cast<std::ptrdiff_t>(best));
    }
    for (std::size_t i = 0; i < chosen.size(); ++i) {
      const int svid = static_cast<int>(chosen[i][0]);
      load_sky_ephemeris(svid, sky_frame(svid, c.week, c.t0));
      CH_set_tracking_sv(CH_find_reference(static_cast<S16>(i)), SV_get_reference(GNSS_TYPE_GPS, svid));
      svids_.push_back(svid);
    }
    EXPECT_EQ(static_cast<int>(svids_.size()), c.nsat);
  }

  // Epoch at receiver-clock time t0 + dt: ranges of the fed satellites
  // (none when with_ranges is false), then NV_process. The time count's
  // week is passed modulo 1024 when wn10 is set.
  void epoch(double dt, bool with_ranges = true, bool wn10 = false) {
    SKY_GPST_T clk{c_.week, c_.t0 + dt};
    while (clk.tow >= 604800.0) {
      clk.tow -= 604800.0;
      ++clk.week;
    }
    ASSERT_EQ(SKY_epoch_at_clock(clk, &ep_), 1);
    RNG_reset_calculation();
    std::array<RNG_T, 20> rngs{};
    S16 n = 0;
    for (std::size_t k = 0; k < svids_.size() && static_cast<int>(k) < fed_ && with_ranges; ++k) {
      const SKY_SIGNAL_T* s = sig(svids_[k]);
      ASSERT_NE(s, nullptr);
      const RNG_T rng = RNG_get_reference(static_cast<S16>(k));
      const double step = static_cast<int>(k) == step_k_ ? step_m_ : 0.0;
      D64 tt = ep_.rx.clock_time.tow - (s->pseudorange_m + step) / C;
      if (tt < 0.0) tt += 604800.0;
      ASSERT_EQ(RNG_update_ttime(rng, tt), 1);
      RNG_update_carrier_dopp_freq(rng, GNSS_TYPE_GPS, 0, s->doppler_hz);
      RNG_calculate_range_variance(rng, 45, 0);
      RNG_calculate_range_variance(rng, 45, 0);
      rngs[static_cast<std::size_t>(n++)] = rng;
    }
    const S16 wn = static_cast<S16>(wn10 ? ep_.rx.clock_time.week % 1024 : ep_.rx.clock_time.week);
    RNG_update_gtc_time(wn, ep_.rx.clock_time.tow, 1.0, 0.0);
    NV_process(wn, ep_.rx.clock_time.tow, n, rngs.data(), 1.0, 0.0);
  }

  const SKY_SIGNAL_T* sig(int svid) const {
    for (int i = 0; i < ep_.n; ++i)
      if (ep_.sig[i].svid == svid) return &ep_.sig[i];
    return nullptr;
  }

  double pos_error() const {
    POS_T p{};
    NV_get_ecef_position(&p);
    return std::hypot(p.px - ep_.rx.pos_ecef[0], p.py - ep_.rx.pos_ecef[1], p.pz - ep_.rx.pos_ecef[2]);
  }
  double vel_error() const {
    VEL_T v{};
    NV_get_ecef_velocity(&v);
    return std::hypot(v.vx - ep_.rx.vel_ecef[0], v.vy - ep_.rx.vel_ecef[1], v.vz - ep_.rx.vel_ecef[2]);
  }
  const SKY_EPOCH_T& truth() const { return ep_; }
  void set_fed(int n) { fed_ = n; }
  void set_pr_step(int k, double m) {  // pseudorange step (m) on the k-th fed satellite
    step_k_ = k;
    step_m_ = m;
  }
  const std::vector<int>& svids() const { return svids_; }

 private:
  SkyCase c_;
  SKY_EPOCH_T ep_{};
  std::vector<int> svids_;
  int fed_ = 99;  // ranges fed: the first fed_ satellites
  int step_k_ = -1;
  double step_m_ = 0.0;
};

// The fix's clock bias (m) within 1 m and drift (m/s) within 0.1 m/s of the truth.
void expect_clock_on_truth(const NavSky& sky) {
  D64 cb = 0.0;
  F32 cd = 0.0F;
  NV_get_clock_bias_drift(&cb, &cd);
  EXPECT_NEAR(cb, C * sky.truth().rx.clk_bias_s, 1.0);
  EXPECT_NEAR(cd, C * sky.truth().rx.clk_drift, 0.1);
}

// The fix's position, ECEF m.
POS_T fix_position() {
  POS_T p{};
  NV_get_ecef_position(&p);
  return p;
}

// --- First fix ------------------------------------------------------------------------------

struct FirstFixCase {
  const char* name;
  int nsat;
  S16 model;
  S16 enable_2D_first;
  bool force_3D;
  double h;  // m
  S16 expect_mode;
};

class NavFirstFix : public testing::TestWithParam<FirstFixCase> {};

TEST_P(NavFirstFix, ModeAndTruth) {
  const FirstFixCase& fc = GetParam();
  NavSky sky(SkyCase{.h = fc.h, .nsat = fc.nsat, .model = fc.model});
  NV_set_2D_fix_enable(fc.enable_2D_first, 1);
  if (fc.force_3D) NV_set_force_3D_first_fix_for_hot_start_application();
  sky.epoch(0.0);
  EXPECT_EQ(NV_get_fixmode(), fc.expect_mode);
  EXPECT_EQ(NV_has_fixed(), fc.expect_mode >= FIX_2D ? 1 : 0);
  EXPECT_TRUE(NVTEST_fix_record_is_finite());
  if (fc.expect_mode == FIX_3D) {
    EXPECT_LT(sky.pos_error(), 1.0);
    EXPECT_LT(sky.vel_error(), 0.1);
    expect_clock_on_truth(sky);
    EXPECT_EQ(NV_get_fix_svs(), fc.nsat);
    EXPECT_EQ(NV_get_navi_type(), NAVI_LSQ);
    for (S16 ch = 0; ch < fc.nsat; ++ch) EXPECT_EQ(NV_is_channel_meas_use_in_fix(ch), 1) << "channel " << ch;
    EXPECT_EQ(NV_is_channel_meas_use_in_fix(static_cast<S16>(fc.nsat)), 0);
    // Fix time: receiver time less the clock bias, the sky's true time.
    D64 tow = 0.0;
    U16 wn = 0;
    EXPECT_EQ(NV_get_time(&tow, &wn), 1);
    EXPECT_EQ(wn, WEEK);
    EXPECT_NEAR(tow, sky.truth().rx.true_time.tow, 1e-8);
  }
  if (fc.expect_mode == FIX_2D) {
    EXPECT_NEAR(NV_get_altitude(), 0.0, 1.0) << "altitude held";
    EXPECT_LT(sky.pos_error(), 5.0);
    EXPECT_EQ(NV_get_fix_svs(), 3);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NavFirstFix,
    testing::Values(FirstFixCase{"three_d_8_sats", 8, NMODEL_DEFAULT, 1, false, 50.0, FIX_3D},
                    FirstFixCase{"three_d_4_sats", 4, NMODEL_DEFAULT, 1, false, 50.0, FIX_3D},
                    FirstFixCase{"two_d_3_sats", 3, NMODEL_DEFAULT, 1, false, 0.0, FIX_2D},
                    FirstFixCase{"two_d_first_fix_disabled", 3, NMODEL_DEFAULT, 0, false, 0.0, FIX_NONE},
                    FirstFixCase{"forced_3d_first_fix", 3, NMODEL_DEFAULT, 1, true, 0.0, FIX_NONE},
                    FirstFixCase{"forced_3d_with_5_sats", 5, NMODEL_DEFAULT, 1, true, 50.0, FIX_3D},
                    FirstFixCase{"airborne_no_2d", 3, AIRBORNE, 1, false, 0.0, FIX_NONE},
                    FirstFixCase{"two_sats", 2, NMODEL_DEFAULT, 1, false, 0.0, FIX_NONE}),
    [](const testing::TestParamInfo<FirstFixCase>& i) { return std::string(i.param.name); });

// --- DOP masks ------------------------------------------------------------------------------

struct DopMaskCase {
  const char* name;
  int nsat;
  DOP_MASK_T mask;
  S16 expect_mode;
  S16 expect_flag;
};

class NavDopMask : public testing::TestWithParam<DopMaskCase> {};

TEST_P(NavDopMask, FirstFix) {
  const DopMaskCase& dc = GetParam();
  NavSky sky(SkyCase{.h = dc.nsat == 3 ? 0.0 : 50.0, .nsat = dc.nsat});
  SETTINGS_set_dop_mask(&dc.mask);
  sky.epoch(0.0);
  EXPECT_EQ(NV_get_fixmode(), dc.expect_mode);
  EXPECT_EQ(NV_is_no_fix_by_dop_mask(), dc.expect_flag);
  if (dc.expect_flag != 0) {
    for (S16 ch = 0; ch < 20; ++ch) EXPECT_EQ(NV_get_channel_fix_state(ch), CH_NOFIX);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NavDopMask,
    testing::Values(DopMaskCase{"auto_3_sats_hdop_over_mask", 3, {DOP_MASK_AUTO, 30.0F, 0.5F, 30.0F}, FIX_NONE, 1},
                    DopMaskCase{"auto_3_sats_hdop_within", 3, {DOP_MASK_AUTO, 0.5F, 30.0F, 30.0F}, FIX_2D, 0},
                    DopMaskCase{"auto_8_sats_pdop_over_mask", 8, {DOP_MASK_AUTO, 0.5F, 30.0F, 30.0F}, FIX_NONE, 1},
                    DopMaskCase{"pdop_only_over", 8, {DOP_MASK_PDOP_ONLY, 0.5F, 30.0F, 30.0F}, FIX_NONE, 1},
                    DopMaskCase{"gdop_only_over", 8, {DOP_MASK_GDOP_ONLY, 30.0F, 30.0F, 0.5F}, FIX_NONE, 1},
                    DopMaskCase{"disabled", 8, {DOP_MASK_DISABLE, 0.1F, 0.1F, 0.1F}, FIX_3D, 0}),
    [](const testing::TestParamInfo<DopMaskCase>& i) { return std::string(i.param.name); });

// --- Moving receiver, prediction -----------------------------------------------------------

TEST(NavDriver, FollowsAMovingReceiverThenPredictsThenStops) {
  NavSky sky(SkyCase{.ve = 12.0, .vn = -16.0});  // 20 m/s
  for (int t = 0; t < 8; ++t) {
    sky.epoch(t);
    SCOPED_TRACE("epoch " + std::to_string(t));
    ASSERT_EQ(NV_get_fixmode(), FIX_3D);
    EXPECT_LT(sky.pos_error(), 1.0);
    EXPECT_LT(sky.vel_error(), 0.1);
    EXPECT_NEAR(NV_get_speed(), 20.0, 0.1);
    EXPECT_NEAR(NV_get_course(), std::fmod(std::atan2(12.0, -16.0) * 57.29577951308232 + 360.0, 360.0), 0.5);
    expect_clock_on_truth(sky);
  }
  EXPECT_EQ(KMF_is_P_mode(), 0) << "moving: the PV model";
  for (int t = 8; t < 11; ++t) {
    const POS_T before = fix_position();
    VEL_T v{};
    NV_get_ecef_velocity(&v);
    sky.epoch(t, false);
    SCOPED_TRACE("gap epoch " + std::to_string(t));
    EXPECT_EQ(NV_get_fixmode(), FIX_PREDICTION);
    const POS_T after = fix_position();
    EXPECT_NEAR(after.px, before.px + v.vx, 1e-3);
    EXPECT_NEAR(after.py, before.py + v.vy, 1e-3);
    EXPECT_NEAR(after.pz, before.pz + v.vz, 1e-3);
    EXPECT_LT(sky.pos_error(), 1.0) << "dead reckoning follows the truth";
  }
  sky.epoch(11, false);
  EXPECT_EQ(NV_get_fixmode(), FIX_NONE);
  EXPECT_EQ(NV_has_fixed(), 1);
}

// A repeated or a backward epoch (interval 0 or negative) after fixes of a
// moving receiver, without ranges: the position is not dead-reckoned
// (backwards) and the filter is reset to the P model as on a gap.
struct BadIntervalCase {
  const char* name;
  double t;  // s, receiver clock of the bad epoch (the last good one is 7)
};

class NavBadInterval : public testing::TestWithParam<BadIntervalCase> {};

TEST_P(NavBadInterval, NoDeadReckoningAndFilterReset) {
  NavSky sky(SkyCase{.ve = 12.0, .vn = -16.0});  // 20 m/s
  for (int t = 0; t < 8; ++t) sky.epoch(t);
  ASSERT_EQ(NV_get_fixmode(), FIX_3D);
  ASSERT_EQ(KMF_is_P_mode(), 0);
  const POS_T before = fix_position();
  sky.epoch(GetParam().t, false);
  const POS_T after = fix_position();
  EXPECT_NEAR(after.px, before.px, 1e-6);
  EXPECT_NEAR(after.py, before.py, 1e-6);
  EXPECT_NEAR(after.pz, before.pz, 1e-6);
  EXPECT_EQ(KMF_is_P_mode(), 1) << "filter reset";
  std::array<F32, 64> p{};
  ASSERT_EQ(KMF_get_work_covariance(p.data()), 1);
  EXPECT_EQ(p[0], 1.0e6F);
}

INSTANTIATE_TEST_SUITE_P(Cases, NavBadInterval,
                         testing::Values(BadIntervalCase{"repeated_epoch", 7.0},
                                         BadIntervalCase{"backward_epoch_1_s", 6.0},
                                         BadIntervalCase{"backward_epoch_3_s", 4.0}),
                         [](const testing::TestParamInfo<BadIntervalCase>& i) { return std::string(i.param.name); });

TEST(NavDriver, WeekStepFrom1023To0GivesAPositiveInterval) {
  NavSky sky(SkyCase{.ve = 20.0, .week = 1023, .t0 = 604790.0});
  for (int t = 0; t < 8; ++t) {
    sky.epoch(t, true, true);
    ASSERT_EQ(NV_get_fixmode(), FIX_3D) << "epoch " << t;
  }
  const POS_T before = fix_position();
  sky.epoch(10.5, false, true);  // the clock's week counter reads 0 now
  EXPECT_EQ(NV_get_fixmode(), FIX_PREDICTION);
  const POS_T after = fix_position();
  const double moved = std::hypot(after.px - before.px, after.py - before.py, after.pz - before.pz);
  EXPECT_NEAR(moved, 20.0 * 3.5, 0.5) << "advanced by v x dt with dt = +3.5 s";
  D64 tow = 0.0;
  U16 wn = 1;
  NV_get_time(&tow, &wn);
  EXPECT_EQ(wn, 0);
  EXPECT_NEAR(tow, sky.truth().rx.true_time.tow, 1e-3);
}

TEST(NavDriver, TimeBeforeAnyEpoch) {
  NV_init();
  D64 tow = 0.0;
  U16 wn = 0;
  EXPECT_EQ(NV_get_time(&tow, &wn), 0);
  EXPECT_EQ(wn, 1381);
  EXPECT_EQ(tow, 302400.0);
  EXPECT_EQ(NV_get_fixmode(), FIX_NONE);
  EXPECT_EQ(NV_has_fixed(), 0);
}

TEST(NavDriver, AtRestTheFirstFourFixesShowSpeedZero) {
  NavSky sky(SkyCase{});
  for (int t = 0; t < 4; ++t) {
    sky.epoch(t);
    ASSERT_EQ(NV_get_fixmode(), FIX_3D);
    EXPECT_EQ(NV_get_show_speed(), 0.0F) << "fix " << t;
    EXPECT_LT(sky.vel_error(), 0.1);
  }
  EXPECT_EQ(KMF_is_P_mode(), 1) << "at rest: the P model";
}

// After a 3-D fix the satellites drop to 3: a 2-D fix holding the altitude
// when 2-D fixes are allowed after the first fix, none when they are not
// (fewer than 5 real fixes before: no prediction either).
struct LaterTwoDCase {
  const char* name;
  S16 enable_2D_after;
  S16 expect_mode;
};

class NavLaterFix : public testing::TestWithParam<LaterTwoDCase> {};

TEST_P(NavLaterFix, ThreeSatellitesAfterA3DFix) {
  const LaterTwoDCase& lc = GetParam();
  NavSky sky(SkyCase{.nsat = 8});
  NV_set_2D_fix_enable(1, lc.enable_2D_after);
  for (int t = 0; t < 3; ++t) sky.epoch(t);
  ASSERT_EQ(NV_get_fixmode(), FIX_3D);
  const F32 alt = NV_get_altitude();
  sky.set_fed(3);
  sky.epoch(3.0);
  EXPECT_EQ(NV_get_fixmode(), lc.expect_mode);
  if (lc.expect_mode == FIX_2D) {
    EXPECT_NEAR(NV_get_altitude(), alt, 0.5) << "altitude held";
    EXPECT_LT(sky.pos_error(), 5.0);
    EXPECT_EQ(NV_get_fix_svs(), 3);
  }
  EXPECT_TRUE(NVTEST_fix_record_is_finite());
}

INSTANTIATE_TEST_SUITE_P(Cases, NavLaterFix,
                         testing::Values(LaterTwoDCase{"two_d_allowed", 1, FIX_2D},
                                         LaterTwoDCase{"two_d_disabled", 0, FIX_NONE}),
                         [](const testing::TestParamInfo<LaterTwoDCase>& i) { return std::string(i.param.name); });

// A start position restored (warm start): the first fix is made from it and,
// within 20 m of it, shows no speed.
TEST(NavDriver, FirstFixFromAStoredPosition) {
  NavSky sky(SkyCase{.ve = 10.0});
  sky.epoch(0.0, false);  // the truth of the first epoch
  const POS_T truth{sky.truth().rx.pos_ecef[0] + 3.0, sky.truth().rx.pos_ecef[1], sky.truth().rx.pos_ecef[2]};
  LLA_T lla{};
  COO_cartesian_to_geodetic(&truth, &lla);
  NV_init();
  NV_restore_data(WEEK, static_cast<S32>(T0), &lla, static_cast<F32>(C * 1.0e-7));
  EXPECT_EQ(NV_has_stored_init_position(), 1);
  EXPECT_EQ(NV_has_stored_init_time(), 1);
  sky.epoch(0.0);
  ASSERT_EQ(NV_get_fixmode(), FIX_3D);
  EXPECT_LT(sky.pos_error(), 1.0);
  EXPECT_NEAR(NV_get_speed(), 10.0, 0.1);
  EXPECT_EQ(NV_get_show_speed(), 0.0F) << "within 20 m of the stored position";
}

// RAIM through the driver: a 100 m pseudorange step on one of 8 satellites
// is excluded and the fix stays on the truth. The Kalman filter's fix counts
// the satellites of its range-rate rows (all 8); the stepped pseudorange is
// left out of its pseudorange rows.
TEST(NavDriver, RaimExcludesAPseudorangeStep) {
  NavSky sky(SkyCase{});
  for (int t = 0; t < 3; ++t) sky.epoch(t);
  ASSERT_EQ(NV_get_fixmode(), FIX_3D);
  sky.set_pr_step(2, 100.0);
  for (int t = 3; t < 6; ++t) {
    sky.epoch(t);
    SCOPED_TRACE("epoch " + std::to_string(t));
    ASSERT_EQ(NV_get_fixmode(), FIX_3D);
    EXPECT_LT(sky.pos_error(), 10.0);
    EXPECT_EQ(NV_is_channel_meas_use_PR_in_fix(2), 0) << "the stepped range is left out";
    EXPECT_EQ(NV_is_channel_meas_use_PR_in_fix(1), 1);
    EXPECT_EQ(NV_get_fix_svs(), 8);
  }
}

// With 1 m code noise the fixes stay within 5 m RMS of the truth.
TEST(NavDriver, CodeNoiseOneMetre) {
  NavSky sky(SkyCase{.ve = 5.0, .code_noise_m = 1.0});
  double sum2 = 0.0;
  int n = 0;
  for (int t = 0; t < 20; ++t) {
    sky.epoch(t);
    if (NV_get_fixmode() < FIX_2D) continue;
    sum2 += sky.pos_error() * sky.pos_error();
    ++n;
  }
  ASSERT_GE(n, 18);
  EXPECT_LT(std::sqrt(sum2 / n), 5.0);
}

// --- Speed limits and faults ------------------------------------------------------------------

struct FaultCase {
  const char* name;
  double h, ve;  // m, m/s
  bool fault;    // the fault handler runs
};

class NavFirstFixFault : public testing::TestWithParam<FaultCase> {};

TEST_P(NavFirstFixFault, NoFix) {
  const FaultCase& fc = GetParam();
  NavSky sky(SkyCase{.h = fc.h, .ve = fc.ve});
  sky.epoch(0.0);
  EXPECT_EQ(NV_get_fixmode(), FIX_NONE);
  EXPECT_EQ(NV_has_fixed(), 0);
  EXPECT_EQ(Faults, fc.fault ? 1 : 0);
  EXPECT_EQ(Drops, fc.fault ? 8 : 0) << "one drop per tracking channel";
  for (int svid : sky.svids())
    EXPECT_EQ(EPH_has_valid_data(EPH_get_reference(static_cast<S16>(svid))), fc.fault ? 0 : 1) << "svid " << svid;
}

INSTANTIATE_TEST_SUITE_P(Cases, NavFirstFixFault,
                         testing::Values(FaultCase{"converging_at_600_mps", 50.0, 600.0, false},
                                         FaultCase{"altitude_below_minus_3000_m", -5000.0, 0.0, true},
                                         FaultCase{"first_3d_fix_at_100_mps", 50.0, 100.0, true}),
                         [](const testing::TestParamInfo<FaultCase>& i) { return std::string(i.param.name); });

// --- DOPs against an independent inverse ------------------------------------------------------

// Inverse of a symmetric positive 4 x 4 matrix by Cholesky decomposition.
bool cholesky_inverse(const double a[4][4], double inv[4][4]) {
  double l[4][4] = {};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j <= i; ++j) {
      double s = a[i][j];
      for (int k = 0; k < j; ++k) s -= l[i][k] * l[j][k];
      if (i == j) {
        if (s <= 0.0) return false;
        l[i][i] = std::sqrt(s);
      } else {
        l[i][j] = s / l[j][j];
      }
    }
  double li[4][4] = {};  // inverse of the lower triangle
  for (int i = 0; i < 4; ++i) {
    li[i][i] = 1.0 / l[i][i];
    for (int j = 0; j < i; ++j) {
      double s = 0.0;
      for (int k = j; k < i; ++k) s -= l[i][k] * li[k][j];
      li[i][j] = s / l[i][i];
    }
  }
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      double s = 0.0;
      for (int k = 0; k < 4; ++k) s += li[k][i] * li[k][j];
      inv[i][j] = s;
    }
  return true;
}

void expect_dops_match_truth(const NavSky& sky) {
  const SKY_EPOCH_T& ep = sky.truth();
  const POS_T rx{ep.rx.pos_ecef[0], ep.rx.pos_ecef[1], ep.rx.pos_ecef[2]};
  LLA_T lla{};
  COO_cartesian_to_geodetic(&rx, &lla);
  const double sl = std::sin(lla.lat), cl = std::cos(lla.lat), so = std::sin(lla.lon), co = std::cos(lla.lon);
  double n[4][4] = {};
  for (int svid : sky.svids()) {
    const SKY_SIGNAL_T* s = sky.sig(svid);
    const double d[3] = {s->sat_pos_ecef[0] - rx.px, s->sat_pos_ecef[1] - rx.py, s->sat_pos_ecef[2] - rx.pz};
    const double r = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    const double e = (-so * d[0] + co * d[1]) / r;
    const double no = (-sl * co * d[0] - sl * so * d[1] + cl * d[2]) / r;
    const double u = (cl * co * d[0] + cl * so * d[1] + sl * d[2]) / r;
    const double g[4] = {-e, -no, -u, 1.0};
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) n[i][j] += g[i] * g[j];
  }
  double q[4][4];
  ASSERT_TRUE(cholesky_inverse(n, q));
  const double tol = 2e-3;
  EXPECT_NEAR(NV_get_edop(), std::sqrt(q[0][0]), tol);
  EXPECT_NEAR(NV_get_ndop(), std::sqrt(q[1][1]), tol);
  EXPECT_NEAR(NV_get_vdop(), std::sqrt(q[2][2]), tol);
  EXPECT_NEAR(NV_get_tdop(), std::sqrt(q[3][3]), tol);
  EXPECT_NEAR(NV_get_hdop(), std::sqrt(q[0][0] + q[1][1]), tol);
  EXPECT_NEAR(NV_get_pdop(), std::sqrt(q[0][0] + q[1][1] + q[2][2]), tol);
  EXPECT_NEAR(NV_get_gdop(), std::sqrt(q[0][0] + q[1][1] + q[2][2] + q[3][3]), tol);
  EXPECT_EQ(NV_get_show_pdop(), NV_get_pdop());
}

TEST(NavDriver, DopsEqualAnIndependentInverseOfTheTruthGeometry) {
  NavSky sky(SkyCase{.nsat = 7});
  sky.epoch(0.0);
  ASSERT_EQ(NV_get_fixmode(), FIX_3D);
  {
    SCOPED_TRACE("first fix");
    expect_dops_match_truth(sky);
  }
  sky.epoch(1.0);
  ASSERT_EQ(NV_get_fixmode(), FIX_3D);
  SCOPED_TRACE("later fix");
  expect_dops_match_truth(sky);
}

// --- Mend 1: the e8 reader ---------------------------------------------------------------------

struct E8Case {
  const char* name;
  double lat_deg, lon_deg;
  float alt_m;
  S64 lat_e8, lon_e8, alt_e8;
};

class NavLlaE8 : public testing::TestWithParam<E8Case> {};

TEST_P(NavLlaE8, NoOverflow) {
  const E8Case& ec = GetParam();
  NV_init();
  const LLA_T lla{ec.lat_deg * 0.017453292519943295, ec.lon_deg * 0.017453292519943295, ec.alt_m};
  NV_restore_time_pos_data_only(WEEK, 0, &lla);
  LLA_e8_T e8{};
  NV_get_lla_e8_position(&e8);
  // Truncated: the radian round trip may leave the last unit short.
  EXPECT_LE(std::llabs(e8.lat_e8 - ec.lat_e8), 1);
  EXPECT_LE(std::llabs(e8.lon_e8 - ec.lon_e8), 1);
  EXPECT_EQ(e8.alt_e8, ec.alt_e8);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NavLlaE8,
    testing::Values(E8Case{"north_pole_east", 90.0, 180.0, 9000.0F, 9000000000LL, 18000000000LL, 900000000000LL},
                    E8Case{"south_pole_west", -90.0, -180.0, 9000.0F, -9000000000LL, -18000000000LL, 900000000000LL},
                    E8Case{"mid", 35.5, 139.25, -100.5F, 3550000000LL, 13925000000LL, -10050000000LL}),
    [](const testing::TestParamInfo<E8Case>& i) { return std::string(i.param.name); });

// --- Hostile input ------------------------------------------------------------------------------

TEST(NavDriver, HostileInputNeverLeavesANonFiniteRecord) {
  NavSky sky(SkyCase{});
  sky.epoch(0.0);
  ASSERT_EQ(NV_has_fixed(), 1);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::array<RNG_T, 20> rngs{};
  for (S16 i = 0; i < 20; ++i) rngs[static_cast<std::size_t>(i)] = RNG_get_reference(i);
  struct Hostile {
    const char* name;
    S16 n;
    double sec, meas_dt, shift_dt, ttime, dopp;
  };
  const std::array<Hostile, 9> cases = {{
      {"negative_count", -5, T0 + 1, 1.0, 0.0, T0, 100.0},
      {"count_over_20", 25, T0 + 2, 1.0, 0.0, T0, 100.0},
      {"nan_time", 8, nan, 1.0, 0.0, T0, 100.0},
      {"inf_interval", 8, T0 + 3, inf, 0.0, T0, 100.0},
      {"nan_shift", 8, T0 + 4, 1.0, nan, T0, 100.0},
      {"nan_transmit_time", 8, T0 + 5, 1.0, 0.0, nan, 100.0},
      {"huge_transmit_time", 8, T0 + 6, 1.0, 0.0, 1e12, 1e30},
      {"nan_doppler", 8, T0 + 7, 1.0, 0.0, T0 + 6.9, nan},
      {"time_beyond_week", 8, 1e9, 1e6, 1e6, T0, inf},
  }};
  for (const Hostile& h : cases) {
    SCOPED_TRACE(h.name);
    RNG_reset_calculation();
    for (S16 i = 0; i < 8; ++i) {
      (void)RNG_update_ttime(rngs[static_cast<std::size_t>(i)], h.ttime);
      RNG_update_carrier_dopp_freq(rngs[static_cast<std::size_t>(i)], GNSS_TYPE_GPS, 0, h.dopp);
    }
    RNG_update_gtc_time(WEEK, std::isfinite(h.sec) ? h.sec : T0, 1.0, 0.0);
    NV_process(WEEK, h.sec, h.n, rngs.data(), h.meas_dt, h.shift_dt);
    EXPECT_TRUE(NVTEST_fix_record_is_finite());
  }
  NV_process(WEEK, T0 + 8, 8, nullptr, 1.0, 0.0);
  EXPECT_TRUE(NVTEST_fix_record_is_finite());
  // Garbage in the restore operations.
  const LLA_T bad{nan, 1.0, 1.0F};
  NV_restore_data(WEEK, -7, &bad, std::numeric_limits<F32>::infinity());
  NV_set_clock_bias_drift(inf, 1.0F);
  EXPECT_TRUE(NVTEST_fix_record_is_finite());
  // A good epoch afterwards still fixes.
  sky.epoch(9.0);
  EXPECT_TRUE(NVTEST_fix_record_is_finite());
}

// Arbitrary measurement sets (a fixed pseudo-random sequence of good, shifted,
// non-finite and huge transmit times and Doppler values, and garbage counts)
// after a fix: the record never holds a non-finite value.
TEST(NavDriver, ArbitraryMeasurementSetsKeepTheRecordFinite) {
  NavSky sky(SkyCase{});
  sky.epoch(0.0);
  ASSERT_EQ(NV_has_fixed(), 1);
  std::mt19937 gen(12345);
  std::uniform_int_distribution<int> pick(0, 5);
  std::uniform_real_distribution<double> any(-1e7, 1e7);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::array<RNG_T, 20> rngs{};
  for (S16 i = 0; i < 20; ++i) rngs[static_cast<std::size_t>(i)] = RNG_get_reference(i);
  for (int e = 1; e < 200; ++e) {
    const double sec = T0 + e;
    RNG_reset_calculation();
    for (S16 i = 0; i < 8; ++i) {
      const double good = sec - 0.07;
      const std::array<double, 6> tt = {good, good + any(gen) / C, nan, inf, 1e15, any(gen)};
      const std::array<double, 6> dp = {100.0, any(gen), nan, -inf, 1e30, 0.0};
      (void)RNG_update_ttime(rngs[static_cast<std::size_t>(i)], tt[static_cast<std::size_t>(pick(gen))]);
      RNG_update_carrier_dopp_freq(rngs[static_cast<std::size_t>(i)], GNSS_TYPE_GPS, 0,
                                   dp[static_cast<std::size_t>(pick(gen))]);
      RNG_calculate_range_variance(rngs[static_cast<std::size_t>(i)], static_cast<S16>(pick(gen) * 10), 0);
    }
    RNG_update_gtc_time(WEEK, sec, 1.0, 0.0);
    const std::array<S16, 6> counts = {8, 8, 3, 0, -1, 21};
    NV_process(WEEK, sec, counts[static_cast<std::size_t>(pick(gen))], rngs.data(), pick(gen) == 0 ? nan : 1.0, 0.0);
    ASSERT_TRUE(NVTEST_fix_record_is_finite()) << "epoch " << e;
  }
}

// --- Platform models --------------------------------------------------------------------------

struct ModelCase {
  S16 model;
  F32 sp_pv, static_thr, max_alt, max_speed, max_vs;
  U16 cn0;
  S16 can_2D;
};

TEST(NavModel, TableRows) {
  const std::array<ModelCase, 7> rows = {{
      {NMODEL_DEFAULT, 1.0F, 0.4167F, 19000.0F, 500.0F, 50.0F, 0, 1},
      {PEDESTRIAN, 0.49F, 0.2778F, 9000.0F, 27.7778F, 16.6667F, 0, 1},
      {CAR, 1.0F, 0.4167F, 6000.0F, 83.3333F, 16.6667F, 0, 1},
      {MARINE, 0.25F, 0.1389F, 100.0F, 25.0F, 5.0F, 25, 1},
      {BALLOON, 4.0F, 0.06945F, 50000.0F, 500.0F, 100.0F, 20, 0},
      {AIRBORNE, 9.0F, 0.2778F, 50000.0F, 1000.0F, 100.0F, 25, 0},
      {17, 1.0F, 0.4167F, 19000.0F, 500.0F, 50.0F, 0, 1},  // unknown: as the default
  }};
  SETTINGS_init();
  for (const ModelCase& m : rows) {
    SCOPED_TRACE("model " + std::to_string(m.model));
    NVMODEL_set_model(m.model);
    EXPECT_EQ(NVMODEL_get_model(), m.model);
    EXPECT_EQ(NVMODEL_get_kalman_filter_Sp_pv(), m.sp_pv);
    EXPECT_EQ(NVMODEL_get_static_threshold(), m.static_thr);
    EXPECT_EQ(NVMODEL_get_max_altitude(), m.max_alt);
    EXPECT_EQ(NVMODEL_get_max_speed(), m.max_speed);
    EXPECT_EQ(NVMODEL_get_max_vertical_speed(), m.max_vs);
    EXPECT_EQ(NVMODEL_get_CN0_threshold(), m.cn0);
    EXPECT_EQ(NVMODEL_can_do_2D_fix(), m.can_2D);
    if (m.model >= 0 && m.model <= AIRBORNE) {
      EXPECT_EQ(SETTINGS_get_user_navigation_model(), m.model);
    }
  }
  SETTINGS_set_user_navigation_model(MARINE);
  NVMODEL_init();
  EXPECT_EQ(NVMODEL_get_model(), MARINE);
  EXPECT_EQ(NVMODEL_get_max_altitude(), 100.0F);
  NVMODEL_set_model(NMODEL_DEFAULT);
}

}  // namespace
