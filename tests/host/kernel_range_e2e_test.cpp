// End to end: warm-start replay sets of the simulated sky (the start-up image
// holds the true position and the broadcast ionosphere; the sky's troposphere
// is the kernel's model; no code noise) replayed by the navigation run with
// --meas-csv. Every corrected pseudorange, range rate, elevation and azimuth
// is compared with the sky's truth:
//   corrected_pr_m - (range_m + c x receiver clock bias) = iono_m (1 - 1/k)
// where the sky's true ionosphere is k times the broadcast model the kernel
// removes (k = 1: zero within 0.3 m); the range rate equals the truth's mean
// Doppler over the interval (the accumulated-carrier Doppler the kernel
// measures) times -wavelength.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"
#include "tests/host/sky_set.h"
#include "tests/host/sky_truth.h"
#include "tools/sky/sky.h"
#include "tools/sky/sky_link.h"

namespace {

constexpr double C_MPS = 299792458.0;
constexpr double L1_WAVELENGTH = C_MPS / 1575.42e6;  // m
constexpr double PR_TOL_M = 0.3;
constexpr double RATE_TOL_MPS = 0.02;
constexpr double ANGLE_TOL_DEG = 0.05;

using Truth = talon_test::SkyTruth;

// The first and last truth epoch in which each satellite is on a channel.
std::map<int, std::pair<std::size_t, std::size_t>> tracked_spans(const Truth& truth) {
  std::map<int, std::pair<std::size_t, std::size_t>> span;
  for (const auto& [key, sat] : truth.sats) {
    auto [it, fresh] = span.try_emplace(key.second, key.first, key.first);
    if (!fresh) it->second.second = key.first;
  }
  return span;
}

struct RangeCase {
  const char* name;
  const char* scenario;
  double iono_scale;
  bool sd_replay = false;  // replay the SD-card log (its image in the target's byte order)
  bool rise_set = false;   // satellites rise and set, and the broadcast data sets change, during the run
};

// Satellites that rise get corrected ranges within a minute (their first
// subframes 1-3); satellites that set get none after; the broadcast data set
// (IODE) of some satellite changes during the run.
void check_rise_set(const Truth& truth, const std::map<int, std::pair<std::size_t, std::size_t>>& csv_span,
                    const std::string& scenario) {
  int rising = 0, setting = 0;
  const std::size_t last_epoch = truth.epochs.size() - 1;
  for (const auto& [svid, span] : tracked_spans(truth)) {
    SCOPED_TRACE(svid);
    const auto c = csv_span.find(svid);
    if (span.first > 0) {
      ++rising;
      ASSERT_NE(c, csv_span.end());
      EXPECT_LE(c->second.first, span.first + 60);
    }
    if (span.second < last_epoch) {
      ++setting;
      if (c != csv_span.end()) {
        EXPECT_LE(c->second.second, span.second);
      }
    }
  }
  EXPECT_GE(rising, 1);
  EXPECT_GE(setting, 1);
  SKY_SCENARIO_T sc;
  char err[128] = "";
  ASSERT_EQ(SKY_parse_scenario(scenario.c_str(), &sc, err, sizeof err), 1) << err;
  ASSERT_EQ(SKY_init(&sc), 1);
  const SKY_GPST_T end{sc.start.week, sc.start.tow + sc.duration_s};
  int changed = 0;
  for (int svid = 1; svid <= SKY_MAX_SV; ++svid) {
    SKY_EPH_T a{}, b{};
    if (SKY_get_ephemeris(svid, sc.start, &a) && SKY_get_ephemeris(svid, end, &b) && a.iode != b.iode) ++changed;
  }
  EXPECT_GE(changed, 1);
}
void PrintTo(const RangeCase& c, std::ostream* os) { *os << c.name; }

class KernelRangeE2e : public testing::TestWithParam<RangeCase> {};

TEST_P(KernelRangeE2e, CorrectedRangesAgainstTruth) {
  const RangeCase& c = GetParam();
  talon_test::TempDir dir;
  std::string err;
  ASSERT_GT(make_sky_set(dir, c.scenario, &err), 0) << err;
  std::vector<std::string> args = {"--rtk-mode", "0", "--mode", "1", "--meas-csv", "m.csv"};
  if (c.sd_replay) args.insert(args.end(), {"--sd-replay", "1"});
  ASSERT_EQ(talon_test::run_talonhost(dir.path(), args).exit_code, 0);
  const Truth truth = talon_test::read_sky_truth(dir.file("truth.csv"));

  std::istringstream csv(talon_test::read_text(dir.file("m.csv")));
  std::string l;
  std::getline(csv, l);  // header
  std::map<int, std::pair<std::size_t, std::size_t>>
      csv_span;  // svid -> first, last truth epoch with a corrected range
  int rows = 0, rate_rows = 0, worst_line = 0;
  double worst_pr = 0.0, worst_rate = 0.0, worst_angle = 0.0, mean_excess = 0.0;
  while (std::getline(csv, l)) {
    const std::vector<std::string> f = talon_test::split_csv(l);
    ASSERT_EQ(f.size(), 17u) << l;
    if (f[10].empty()) continue;  // no satellite position yet
    SCOPED_TRACE(l);
    ASSERT_FALSE(f[2].empty());
    const auto e = truth.by_clock_ms.find(std::llround(std::stod(f[2]) * 1000.0));
    ASSERT_NE(e, truth.by_clock_ms.end());
    const auto s = truth.sats.find({e->second, std::stoi(f[5])});
    ASSERT_NE(s, truth.sats.end());
    const talon_test::SkyTruthSat& t = s->second;
    auto [sp, fresh] = csv_span.try_emplace(s->first.second, e->second, e->second);
    if (!fresh) sp->second.second = e->second;
    ASSERT_FALSE(f[14].empty()) << "a warm start knows every elevation";
    // residual less the part of the true ionosphere the broadcast model does not hold
    const double excess = t.iono_m * (1.0 - 1.0 / c.iono_scale);
    const double res = std::stod(f[10]) - (t.range_m + C_MPS * truth.epochs[e->second].bias_s);
    mean_excess += res;
    if (std::fabs(res - excess) > std::fabs(worst_pr)) {
      worst_pr = res - excess;
      worst_line = rows;
    }
    EXPECT_NEAR(res, excess, PR_TOL_M);
    const double del = std::stod(f[14]) - t.el_deg;
    const double daz = std::remainder(std::stod(f[15]) - t.az_deg, 360.0);
    worst_angle = std::max({worst_angle, std::fabs(del), std::fabs(daz)});
    EXPECT_NEAR(del, 0.0, ANGLE_TOL_DEG);
    EXPECT_NEAR(daz, 0.0, ANGLE_TOL_DEG);
    if (!f[11].empty() && !std::isnan(t.mean_doppler)) {
      const double dr = std::stod(f[11]) + t.mean_doppler * L1_WAVELENGTH;
      worst_rate = std::max(worst_rate, std::fabs(dr));
      EXPECT_NEAR(dr, 0.0, RATE_TOL_MPS);
      ++rate_rows;
    }
    ++rows;
  }
  EXPECT_GE(rows, 300) << "corrected ranges of most epochs";
  if (c.rise_set) check_rise_set(truth, csv_span, c.scenario);
  EXPECT_GE(rate_rows, 300);
  std::printf(
      "%s: %d rows; worst corrected-range error %.3f m (row %d), range rate %.4f m/s, angle %.4f deg; "
      "mean residual %.3f m\n",
      c.name, rows, worst_pr, worst_line, worst_rate, worst_angle, rows > 0 ? mean_excess / rows : 0.0);
}

constexpr const char* WARM =
    "start_week = 2400\nstart_tow = 300000\nduration = 90\nnsat = 10\nlat = 48\nlon = 11\nheight = 500\n"
    "clk_bias = 0.0001\nclk_drift = 2e-8\nwarm_start = 1\nwarm_start_iono = 1\ntropo_model = simple\n";
constexpr const char* WARM_WEEK_END_2HZ =
    "start_week = 2400\nstart_tow = 604760\nduration = 90\nnsat = 10\nlat = -33\nlon = 151\nheight = 40\n"
    "clk_bias = -0.0002\nclk_drift = -4e-8\nmeas_rate = 2\ncarrier_slots = 1\nwarm_start = 1\nwarm_start_iono = 1\n"
    "tropo_model = simple\n";
constexpr const char* WARM_IONO_X2 =
    "start_week = 2400\nstart_tow = 50000\nduration = 90\nnsat = 10\nlat = 5\nlon = -75\nheight = 2600\n"
    "clk_bias = 0.0003\nclk_drift = 1e-8\nwarm_start = 1\nwarm_start_iono = 1\ntropo_model = simple\niono_scale = 2\n";
constexpr const char* WARM_IONO_X3_SD =
    "start_week = 2400\nstart_tow = 200000\nduration = 90\nnsat = 10\nlat = 60\nlon = 25\nheight = 10\n"
    "clk_bias = 0.0001\nclk_drift = 0\nwarm_start = 1\nwarm_start_iono = 1\ntropo_model = simple\niono_scale = 3\n";

// 40 minutes over the start of a day: satellites rise and set, and the
// broadcast data sets change (new IODE) mid-run.
constexpr const char* WARM_40MIN_RISE_SET =
    "start_week = 2400\nstart_tow = 86340\nduration = 2400\nnsat = 32\nlat = 48\nlon = 11\nheight = 500\n"
    "clk_bias = 0.0001\nclk_drift = 2e-8\nwarm_start = 1\nwarm_start_iono = 1\ntropo_model = simple\n";

INSTANTIATE_TEST_SUITE_P(
    Sky, KernelRangeE2e,
    testing::Values(RangeCase{"warm_1hz", WARM, 1.0}, RangeCase{"warm_2hz_week_end", WARM_WEEK_END_2HZ, 1.0},
                    RangeCase{"true_ionosphere_twice_the_model", WARM_IONO_X2, 2.0},
                    RangeCase{"true_ionosphere_three_times_the_model_sd_log", WARM_IONO_X3_SD, 3.0, true},
                    RangeCase{"rising_setting_new_data_sets_40min", WARM_40MIN_RISE_SET, 1.0, false, true}),
    [](const testing::TestParamInfo<RangeCase>& i) { return std::string(i.param.name); });

}  // namespace
