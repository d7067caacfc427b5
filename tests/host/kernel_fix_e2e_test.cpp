// End to end: replay sets of the simulated sky (cold starts, static and
// moving receivers, with and without code noise) through the navigation run
// with --fix-csv and --meas-csv; every fix is compared with the sky's truth
// (antenna position and velocity, receiver clock bias and drift at the true
// time of the epoch), the first fix with the epoch the first-fix rules give,
// and the DOPs with an independent computation from the truth geometry of
// the satellites the fix used.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"
#include "tests/host/sky_set.h"
#include "tests/host/sky_truth.h"

namespace {

constexpr double C_MPS = 299792458.0;
constexpr double DEG = 3.14159265358979323846 / 180.0;

// Fix log columns.
enum FixCol {
  F_EPOCH,
  F_WEEK,
  F_TOW,
  F_UTC,
  F_MODE,
  F_NSV,
  F_X,
  F_Y,
  F_Z,
  F_LAT,
  F_LON,
  F_ALT,
  F_VX,
  F_VY,
  F_VZ,
  F_CBIAS,
  F_CDRIFT,
  F_GDOP,
  F_PDOP,
  F_HDOP,
  F_VDOP,
  F_TDOP,
  F_NCOL
};

using Truth = talon_test::SkyTruth;
using TruthEpoch = talon_test::SkyTruthEpoch;
using TruthSat = talon_test::SkyTruthSat;

Truth read_truth(const std::string& path) { return talon_test::read_sky_truth(path); }

struct FixRow {
  std::vector<std::string> f;
  long long clock_ms = 0;  // the receiver clock of its epoch (from --meas-csv), ms of week
};

double num(const std::vector<std::string>& f, int c) { return std::stod(f[static_cast<std::size_t>(c)]); }

// The satellites used per output epoch, and each epoch's receiver clock, from --meas-csv.
struct MeasLog {
  std::map<long long, long long> clock_ms;  // meas epoch -> receiver clock ms of week
  std::map<long long, std::set<int>> used;  // meas epoch -> svids used
};
MeasLog read_meas(const std::string& path) {
  MeasLog m;
  std::istringstream in(talon_test::read_text(path));
  std::string l;
  std::getline(in, l);
  while (std::getline(in, l)) {
    const std::vector<std::string> f = talon_test::split_csv(l);
    if (f.size() != 17 || f[2].empty()) continue;
    const long long e = std::stoll(f[0]);
    m.clock_ms[e] = std::llround(std::stod(f[2]) * 1000.0);
    if (f[16] == "1") m.used[e].insert(std::stoi(f[5]));
  }
  return m;
}

// Gauss-Jordan inverse of a 4 x 4 matrix with partial pivoting; false when singular.
bool invert4(std::array<std::array<double, 4>, 4> a, std::array<std::array<double, 4>, 4>* inv) {
  std::array<std::array<double, 8>, 4> m{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      m[i][j] = a[i][j];
      m[i][4 + j] = i == j ? 1.0 : 0.0;
    }
  for (int c = 0; c < 4; ++c) {
    int p = c;
    for (int r = c + 1; r < 4; ++r)
      if (std::fabs(m[r][c]) > std::fabs(m[p][c])) p = r;
    if (std::fabs(m[p][c]) < 1e-12) return false;
    std::swap(m[p], m[c]);
    const double d = m[c][c];
    for (double& v : m[c]) v /= d;
    for (int r = 0; r < 4; ++r) {
      if (r == c) continue;
      const double k = m[r][c];
      for (int j = 0; j < 8; ++j) m[r][j] -= k * m[c][j];
    }
  }
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) (*inv)[i][j] = m[i][4 + j];
  return true;
}

// GDOP, PDOP, HDOP, VDOP, TDOP of unit line-of-sight rows from elevation and azimuth (degrees), in ENU.
bool dops_from_geometry(const std::vector<TruthSat>& sats, std::array<double, 5>* dops) {
  std::array<std::array<double, 4>, 4> n{};
  for (const TruthSat& s : sats) {
    const double el = s.el_deg * DEG, az = s.az_deg * DEG;
    const std::array<double, 4> g = {std::cos(el) * std::sin(az), std::cos(el) * std::cos(az), std::sin(el), 1.0};
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) n[i][j] += g[i] * g[j];
  }
  std::array<std::array<double, 4>, 4> q{};
  if (!invert4(n, &q)) return false;
  *dops = {std::sqrt(q[0][0] + q[1][1] + q[2][2] + q[3][3]), std::sqrt(q[0][0] + q[1][1] + q[2][2]),
           std::sqrt(q[0][0] + q[1][1]), std::sqrt(q[2][2]), std::sqrt(q[3][3])};
  return true;
}

// Leap seconds the receiver uses until the broadcast gives them: the host's
// built-in start record holds 16.
constexpr double LEAP_S = 16.0;

// ISO 8601 text of GPS week wn, whole second tow, without the fraction.
std::string utc_text(int wn, double tow) {
  long long sec = std::llround(tow) + (3657LL + wn * 7LL) * 86400;  // 1980-01-06 is day 3657 after 1970-01-01
  long long days = sec / 86400;
  sec %= 86400;
  // civil date from days since 1970-01-01 (proleptic Gregorian)
  const long long z = days + 719468;
  const long long era = z / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const long long d = doy - (153 * mp + 2) / 5 + 1;
  const long long m = mp < 10 ? mp + 3 : mp - 9;
  const long long y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  char buf[160];
  std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld", y, m, d, sec / 3600, sec / 60 % 60,
                sec % 60);
  return buf;
}

// The fix's UTC label (YYYY-MM-DDTHH:MM:SS.mmmZ) names the true time tow (s
// of week wn) less the leap seconds, within 2 ms (the receiver labels the
// epoch of its time count, snapped to the output interval).
void check_utc_label(const std::string& label, int wn, double tow) {
  ASSERT_EQ(label.size(), 24u) << label;
  EXPECT_EQ(label[19], '.');
  EXPECT_EQ(label[23], 'Z');
  const int ms = std::stoi(label.substr(20, 3));
  const double whole = std::round(tow) - (ms >= 500 ? 1.0 : 0.0);
  EXPECT_EQ(label.substr(0, 19), utc_text(wn, whole - LEAP_S)) << label;
  EXPECT_LE(std::min(ms, 1000 - ms), 2) << label;
}

struct FixCase {
  const char* name;
  const char* scenario;
  double first_fix_tol_m;  // first fix from truth
  double rms_tol_m;        // 3-D error RMS over the later fixes
  double max_tol_m;        // any later fix
  double vel_tol_mps;      // any velocity component after the first ten fixes
  double clock_tol_m;      // clock bias against truth, beyond the position error
  int min_mode;            // the fixes' mode (3 = 3-D, 2 = 2-D)
  bool first_fix_epoch;    // the first fix comes at the truth's expected epoch
};
void PrintTo(const FixCase& c, std::ostream* os) { *os << c.name; }

struct Stats {
  int fixes = 0;
  double first_err = 0.0, sum_sq = 0.0, worst = 0.0, worst_vel = 0.0, worst_clock = 0.0, worst_drift = 0.0;
  double worst_dop = 0.0;
  int dop_checked = 0;
};

class KernelFixE2e : public testing::TestWithParam<FixCase> {};

TEST_P(KernelFixE2e, FixesAgainstTruth) {
  const FixCase& c = GetParam();
  talon_test::TempDir dir;
  std::string err;
  ASSERT_GT(make_sky_set(dir, c.scenario, &err), 0) << err;
  const talon_test::RunResult run = talon_test::run_talonhost(
      dir.path(), {"--rtk-mode", "0", "--mode", "1", "--meas-csv", "m.csv", "--fix-csv", "f.csv"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const Truth truth = read_truth(dir.file("truth.csv"));
  const MeasLog meas = read_meas(dir.file("m.csv"));

  std::istringstream csv(talon_test::read_text(dir.file("f.csv")));
  std::string l;
  std::getline(csv, l);
  ASSERT_EQ(l,
            "epoch,gps_week,gps_tow_s,utc,fix_mode,nsv_used,x_m,y_m,z_m,lat_deg,lon_deg,alt_m,vx_mps,vy_mps,vz_mps,"
            "clock_bias_m,clock_drift_mps,gdop,pdop,hdop,vdop,tdop");
  Stats s;
  int rows = 0;
  double first_fix_delay = 0.0;  // s from the first epoch
  while (std::getline(csv, l)) {
    const std::vector<std::string> f = talon_test::split_csv(l);
    ASSERT_EQ(f.size(), static_cast<std::size_t>(F_NCOL)) << l;
    ++rows;
    const int mode = std::stoi(f[F_MODE]);
    if (mode < 2) {
      EXPECT_EQ(s.fixes, 0) << "no fix after the first one in a clear sky: " << l;
      EXPECT_EQ(mode, 0) << l;
      for (const int col : {F_WEEK, F_TOW, F_UTC, F_X, F_LAT, F_VX, F_CBIAS, F_GDOP, F_TDOP})
        EXPECT_TRUE(f[static_cast<std::size_t>(col)].empty()) << "column " << col << " before the first fix: " << l;
      continue;
    }
    SCOPED_TRACE(l);
    EXPECT_GE(mode, c.min_mode);
    // the epoch of the row: the output epoch counts processed epochs like --meas-csv
    const auto ck = meas.clock_ms.find(std::stoll(f[F_EPOCH]));
    ASSERT_NE(ck, meas.clock_ms.end());
    const auto te = truth.by_clock_ms.find(ck->second);
    ASSERT_NE(te, truth.by_clock_ms.end());
    const TruthEpoch& t = truth.epochs[te->second];
    // the fix's GPS time is the true time of the epoch (clock bias removed),
    // its UTC label that second less the leap seconds in use
    EXPECT_NEAR(num(f, F_TOW), t.tow, 5e-8);
    check_utc_label(f[F_UTC], std::stoi(f[F_WEEK]), t.tow);
    double e2 = 0.0;
    for (int k = 0; k < 3; ++k) e2 += std::pow(num(f, F_X + k) - t.pos[k], 2);
    const double err3 = std::sqrt(e2);
    const double clock_err = num(f, F_CBIAS) - t.bias_s * C_MPS;
    if (s.fixes == 0) {
      s.first_err = err3;
      EXPECT_LT(err3, c.first_fix_tol_m) << "first fix";
      if (c.first_fix_epoch) {
        // the first epoch with four ephemerides (the truth's F row) at which
        // the receiver knows GPS time (its first time-tagged measurement epoch)
        ASSERT_TRUE(truth.has_first_fix);
        ASSERT_FALSE(meas.clock_ms.empty());
        const TruthEpoch& timed = truth.epochs[truth.by_clock_ms.at(meas.clock_ms.begin()->second)];
        EXPECT_NEAR(t.tow, std::max(truth.first_fix_tow, timed.tow), 1e-6) << "first fix at the expected epoch";
      }
      first_fix_delay = t.tow - truth.epochs.front().tow;
    } else {
      s.sum_sq += e2;
      s.worst = std::max(s.worst, err3);
      EXPECT_LT(err3, c.max_tol_m);
    }
    s.worst_clock = std::max(s.worst_clock, std::fabs(clock_err));
    EXPECT_LT(std::fabs(clock_err), err3 * 3.0 + c.clock_tol_m);
    // velocity after the first ten fixes, away from a change of the true
    // velocity within a second either side (a track's corner: the measured
    // range rates are means over the interval, and the truth at the corner
    // itself may name either leg)
    bool steady = te->second >= 2 && te->second + 2 < truth.epochs.size();
    for (std::size_t i = te->second - 2; steady && i <= te->second + 2; ++i)
      for (int k = 0; k < 3; ++k)
        if (std::fabs(truth.epochs[i].vel[k] - t.vel[k]) > 1e-3) steady = false;
    if (s.fixes >= 10 && steady) {
      for (int k = 0; k < 3; ++k) {
        const double dv = num(f, F_VX + k) - t.vel[k];
        s.worst_vel = std::max(s.worst_vel, std::fabs(dv));
        EXPECT_LT(std::fabs(dv), c.vel_tol_mps) << "velocity " << k;
      }
      const double dd = num(f, F_CDRIFT) - t.drift * C_MPS;
      s.worst_drift = std::max(s.worst_drift, std::fabs(dd));
      EXPECT_LT(std::fabs(dd), c.vel_tol_mps) << "clock drift";
    }
    // DOPs against the truth geometry of the satellites used (3-D fixes)
    const auto used = meas.used.find(std::stoll(f[F_EPOCH]));
    if (mode == 3 && used != meas.used.end() && static_cast<int>(used->second.size()) == std::stoi(f[F_NSV])) {
      std::vector<TruthSat> geo;
      for (const int sv : used->second) geo.push_back(truth.sats.at({te->second, sv}));
      std::array<double, 5> d{};
      ASSERT_TRUE(dops_from_geometry(geo, &d));
      for (int k = 0; k < 5; ++k) {
        const double dd = num(f, F_GDOP + k) - d[k];
        s.worst_dop = std::max(s.worst_dop, std::fabs(dd));
        EXPECT_NEAR(dd, 0.0, 0.005 + 0.002 * d[k]) << "DOP " << k;
      }
      ++s.dop_checked;
    }
    ++s.fixes;
  }
  EXPECT_GE(s.fixes, 30);
  if (c.min_mode == 3) {
    EXPECT_GE(s.dop_checked, 20);
  }
  const double rms = s.fixes > 1 ? std::sqrt(s.sum_sq / (s.fixes - 1)) : 0.0;
  EXPECT_LT(rms, c.rms_tol_m);
  std::printf(
      "%s: %d rows, %d fixes; first fix %.3f m from truth; later RMS %.3f m, worst %.3f m; velocity worst %.4f m/s; "
      "clock bias worst %.3f m, drift worst %.4f m/s; DOPs worst %.4f over %d fixes; first fix %.0f s after the "
      "start\n",
      c.name, rows, s.fixes, s.first_err, rms, s.worst, s.worst_vel, s.worst_clock, s.worst_drift, s.worst_dop,
      s.dop_checked, first_fix_delay);
}

// Noise-free, the sky's atmosphere equal to the models: no ionosphere (a cold
// start has no broadcast parameters within the first 12.5 minutes and applies
// none), the kernel's troposphere.
constexpr const char* COLD_STATIC =
    "start_week = 2400\nstart_tow = 300000\nduration = 120\nnsat = 10\nlat = 48\nlon = 11\nheight = 500\n"
    "clk_bias = 0.0001\nclk_drift = 2e-8\niono_scale = 0\ntropo_model = simple\n";
constexpr const char* COLD_MOVING =
    "start_week = 2400\nstart_tow = 300000\nduration = 120\nnsat = 10\nlat = -33\nlon = 151\nheight = 40\n"
    "vel_enu = 16 -12 0\nclk_bias = -0.0002\nclk_drift = -4e-8\niono_scale = 0\ntropo_model = simple\n";
// 1 m code noise, the atmosphere as the models; the carrier slots reported.
constexpr const char* COLD_NOISE =
    "start_week = 2400\nstart_tow = 300000\nduration = 120\nnsat = 10\nlat = 5\nlon = -75\nheight = 2600\n"
    "clk_bias = 0.0003\nclk_drift = 1e-8\ncode_noise = 1\nseed = 7\niono_scale = 0\ntropo_model = simple\n"
    "carrier_slots = 1\n";
// Noise-free, the ordinary atmosphere: the true ionosphere unmodelled (no
// broadcast parameters yet), Saastamoinen troposphere against the kernel's
// model; a track over the start of a week at 2 measurements a second.
constexpr const char* COLD_ATMOSPHERE_WEEK_END =
    "start_week = 2400\nstart_tow = 604740\nduration = 120\nnsat = 10\nlat = 60\nlon = 25\nheight = 10\n"
    "waypoint = 0 60 25 10\nwaypoint = 60 60.005 25.01 10\nwaypoint = 120 60.005 25.02 30\n"
    "clk_bias = 0.0001\nclk_drift = 0\nmeas_rate = 2\n";

// Three satellites on a sea-level receiver: 2-D fixes (the default platform
// allows them) holding the altitude at 0 m, the cold start's assumption.
constexpr const char* COLD_THREE_SATELLITES =
    "start_week = 2400\nstart_tow = 300000\nduration = 120\nnsat = 3\nlat = 30\nlon = -40\nheight = 0\n"
    "clk_bias = 0.0001\nclk_drift = 2e-8\niono_scale = 0\ntropo_model = simple\n";

// A cold start whose first least-squares step from the Earth's centre lands
// about 140 km below the surface (this sky, start and clock put it there):
// the tropospheric model evaluated at that height gives delays of 10^8 m.
// Noise-free, the atmosphere as the models. Four satellites only, and twelve
// of which eight are blocked for the first 60 s, so that the four satellites
// whose ephemerides come first make every first-fix attempt until the others
// return.
constexpr const char* COLD_FIRST_STEP_BELOW_SURFACE_4 =
    "start_week = 2400\nstart_tow = 392492\nduration = 120\nsky_epoch = 2400 392491\nseed = 13\nnsat = 4\n"
    "lat = 35.68\nlon = 139.77\nheight = 40\nclk_bias = 0.0004\nclk_drift = 1.2e-7\niono_scale = 0\n"
    "tropo_model = simple\n";
constexpr const char* COLD_FIRST_STEP_BELOW_SURFACE_12 =
    "start_week = 2400\nstart_tow = 392492\nduration = 120\nsky_epoch = 2400 392491\nseed = 13\nnsat = 12\n"
    "lat = 35.68\nlon = 139.77\nheight = 40\nclk_bias = 0.0004\nclk_drift = 1.2e-7\niono_scale = 0\n"
    "tropo_model = simple\noutage = 5 0 60\noutage = 6 0 60\noutage = 7 0 60\noutage = 8 0 60\n"
    "outage = 9 0 60\noutage = 10 0 60\noutage = 11 0 60\noutage = 12 0 60\n";

INSTANTIATE_TEST_SUITE_P(
    Sky, KernelFixE2e,
    testing::Values(FixCase{"cold_static_noise_free", COLD_STATIC, 1.0, 0.5, 1.0, 0.05, 1.0, 3, true},
                    FixCase{"cold_moving_20mps_noise_free", COLD_MOVING, 1.0, 0.5, 1.0, 0.05, 1.0, 3, true},
                    FixCase{"cold_static_1m_code_noise", COLD_NOISE, 10.0, 5.0, 15.0, 0.05, 10.0, 3, true},
                    FixCase{"cold_track_ordinary_atmosphere_week_end_2hz", COLD_ATMOSPHERE_WEEK_END, 10.0, 5.0, 10.0,
                            0.1, 10.0, 3, true},
                    FixCase{"cold_three_satellites_2d_hdop_11", COLD_THREE_SATELLITES, 3.0, 2.0, 3.0, 0.15, 3.0, 2,
                            false},
                    FixCase{"cold_first_step_below_surface_4_satellites", COLD_FIRST_STEP_BELOW_SURFACE_4, 1.0, 0.5,
                            1.0, 0.05, 1.0, 3, true},
                    FixCase{"cold_first_step_below_surface_12_satellites_8_blocked", COLD_FIRST_STEP_BELOW_SURFACE_12,
                            1.0, 0.5, 1.0, 0.05, 1.0, 3, true}),
    [](const testing::TestParamInfo<FixCase>& i) { return std::string(i.param.name); });

}  // namespace

namespace {

// A 100 m pseudorange step on one satellite from 50 s to 100 s after the
// start (the sky's pr_step), noise-free, the atmosphere as the models.
struct RaimCase {
  const char* name;
  int nsat;
  double max_err_m;         // any fix inside the window
  double min_flag_sigma_m;  // the residual sigma of the console table inside the window at least this (0: none)
};
void PrintTo(const RaimCase& c, std::ostream* os) { *os << c.name; }
class KernelRaimE2e : public testing::TestWithParam<RaimCase> {};

TEST_P(KernelRaimE2e, PseudorangeStepOnOneSatellite) {
  const RaimCase& c = GetParam();
  const std::string scenario =
      "start_week = 2400\nstart_tow = 300000\nduration = 110\nnsat = " + std::to_string(c.nsat) +
      "\nlat = 48\nlon = 11\nheight = 500\nclk_bias = 0.0001\nclk_drift = 2e-8\n"
      "iono_scale = 0\ntropo_model = simple\npr_step = 3 50 100 100\n";
  talon_test::TempDir dir;
  std::string err;
  ASSERT_GT(make_sky_set(dir, scenario, &err), 0) << err;
  const talon_test::RunResult run = talon_test::run_talonhost(
      dir.path(), {"--rtk-mode", "0", "--mode", "1", "--meas-csv", "m.csv", "--fix-csv", "f.csv"});
  ASSERT_EQ(run.exit_code, 0);
  // console tables: output epoch (the n-th table, as the n-th row of the fix log) -> residual sigma (m)
  std::map<long long, double> sigma;
  {
    std::istringstream out(run.out);
    std::string line;
    long long ep = 0;
    while (std::getline(out, line)) {
      if (line.rfind("Power on count: ", 0) == 0) ++ep;
      const std::size_t k = line.find("SVs, pr_residual_sigma = ");
      if (ep > 0 && k != std::string::npos) sigma[ep] = std::stod(line.substr(k + 25));
    }
  }
  const Truth truth = read_truth(dir.file("truth.csv"));
  const MeasLog meas = read_meas(dir.file("m.csv"));
  std::istringstream csv(talon_test::read_text(dir.file("f.csv")));
  std::string l;
  std::getline(csv, l);
  int in_window = 0, flagged = 0;
  double worst = 0.0, worst_sigma_outside = 0.0, worst_sigma_after = 0.0;
  while (std::getline(csv, l)) {
    const std::vector<std::string> f = talon_test::split_csv(l);
    ASSERT_EQ(f.size(), static_cast<std::size_t>(F_NCOL)) << l;
    if (std::stoi(f[F_MODE]) < 2) continue;
    const long long ep = std::stoll(f[F_EPOCH]);
    const TruthEpoch& t = truth.epochs[truth.by_clock_ms.at(meas.clock_ms.at(ep))];
    const double since = t.tow - truth.epochs.front().tow;
    const auto sg = sigma.find(ep);
    if (since < 49.0) {  // before the window: a clean sky
      if (sg != sigma.end()) worst_sigma_outside = std::max(worst_sigma_outside, sg->second);
      continue;
    }
    if (since > 101.0) {  // after it: the Kalman filter walks back from the fault at its damped rate
      if (sg != sigma.end()) worst_sigma_after = std::max(worst_sigma_after, sg->second);
      continue;
    }
    if (since < 52.0 || since > 99.0) continue;  // inside the window, a second from its edges
    ++in_window;
    if (c.min_flag_sigma_m > 0.0 && sg != sigma.end() && sg->second >= c.min_flag_sigma_m) ++flagged;
    double e2 = 0.0;
    for (int k = 0; k < 3; ++k) e2 += std::pow(num(f, F_X + k) - t.pos[k], 2);
    worst = std::max(worst, std::sqrt(e2));
    EXPECT_LT(std::sqrt(e2), c.max_err_m) << l;
  }
  EXPECT_GE(in_window, 40);
  EXPECT_LT(worst_sigma_outside, 1.0) << "a clean sky's residuals";
  EXPECT_LT(worst_sigma_after, 10.0) << "after the fault, well below the fault's residuals";
  if (c.min_flag_sigma_m > 0.0) {
    EXPECT_EQ(flagged, in_window) << "every fix with the fault in it flagged by its residual sigma";
  }
  std::printf(
      "%s: %d fixes in the step's window, worst %.3f m from truth, %d flagged; residual sigma before %.3f m, "
      "after %.3f m\n",
      c.name, in_window, worst, flagged, worst_sigma_outside, worst_sigma_after);
}

INSTANTIATE_TEST_SUITE_P(Sky, KernelRaimE2e,
                         testing::Values(RaimCase{"eight_satellites_fault_excluded", 8, 10.0, 0.0},
                                         RaimCase{"five_satellites_fault_detected", 5, 1000.0, 20.0}),
                         [](const testing::TestParamInfo<RaimCase>& i) { return std::string(i.param.name); });

}  // namespace
