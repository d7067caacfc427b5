// End to end: the navigation Kalman filter and the static position filter on
// replay sets of the simulated sky, every fix compared with the sky's truth.
// A moving receiver with 1 m code noise is run twice, with the filter and
// with least squares alone (--lsq-only 1): the filter's position error RMS
// must be the smaller, its velocity within 0.1 m/s RMS. A 10 s outage of all
// satellites on a straight 10 m/s leg: three prediction epochs dead-reckoned
// with the last velocity, then no fix, and the fix is back within 2 s of the
// measurements' return. A receiver at rest with 1 m code noise is held within
// 1 m of the truth for 10 minutes, and when it drives off the fixes follow it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"
#include "tests/host/sky_set.h"
#include "tests/host/sky_truth.h"

namespace {

constexpr double START_TOW = 300000.0;  // s, start_tow of every scenario below

struct FixEpoch {
  double since = 0.0;  // s after the scenario start (true time)
  int mode = 0;
  std::array<double, 3> pos{}, vel{};  // the fix (ECEF m, m/s)
  std::array<double, 3> tvel{};        // true velocity (ECEF m/s)
  double err = 0.0;                    // 3-D position error, m
  std::array<double, 3> evec{};        // position error vector (ECEF), m
  int n_pr = 0;                        // channels with a measured transmit time in the epoch
  double herr = 0.0;                   // horizontal part, m
  double verr = 0.0;                   // velocity error (3-D), m/s
  bool steady = false;                 // true velocity unchanged within a second either side
};

// Local east/north/up unit vectors of the truth position, for the horizontal error.
void up_vector(const std::array<double, 3>& p, std::array<double, 3>* u) {
  const double r = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
  for (int k = 0; k < 3; ++k) (*u)[k] = p[k] / r;  // geocentric up, enough for a horizontal split
}

// The fixes of a run of the set in dir (made already) with extra options, every output
// epoch against truth. An output epoch is matched to the truth epoch by its fix time
// (receiver time corrected by the clock bias: GPS time within microseconds once a
// fix exists), so epochs without channel reports (an outage) are matched as well.
std::vector<FixEpoch> run_set_against_truth(const talon_test::TempDir& dir, const std::vector<std::string>& extra) {
  std::vector<FixEpoch> out;
  std::vector<std::string> args = {"--rtk-mode", "0", "--mode", "1", "--meas-csv", "m.csv", "--fix-csv", "f.csv"};
  args.insert(args.end(), extra.begin(), extra.end());
  const talon_test::RunResult run = talon_test::run_talonhost(dir.path(), args);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  const talon_test::SkyTruth sky = talon_test::read_sky_truth(dir.file("truth.csv"));
  const std::vector<talon_test::SkyTruthEpoch>& truth = sky.epochs;
  const std::map<long long, std::size_t>& by_ms = sky.by_gps_ms;  // true time of week, ms -> truth epoch
  if (truth.empty()) return out;
  std::map<long long, int> n_pr;  // output epoch -> channels with a transmit time
  {
    std::istringstream in(talon_test::read_text(dir.file("m.csv")));
    std::string l;
    std::getline(in, l);
    while (std::getline(in, l)) {
      const std::vector<std::string> f = talon_test::split_csv(l);
      if (f.size() == 17 && !f[8].empty()) ++n_pr[std::stoll(f[0])];
    }
  }
  std::istringstream csv(talon_test::read_text(dir.file("f.csv")));
  std::string l;
  std::getline(csv, l);
  while (std::getline(csv, l)) {
    const std::vector<std::string> f = talon_test::split_csv(l);
    if (f.size() != 22 || f[2].empty()) continue;
    const auto te = by_ms.find(std::llround(std::stod(f[2]) * 1000.0));
    if (te == by_ms.end()) continue;  // before the first fix the time is not GPS time yet
    const talon_test::SkyTruthEpoch& t = truth[te->second];
    FixEpoch e;
    e.since = t.tow - START_TOW;
    e.mode = std::stoi(f[4]);
    e.n_pr = n_pr[std::stoll(f[0])];
    e.tvel = t.vel;
    if (e.mode >= 1) {
      std::array<double, 3> d{}, dv{}, u{};
      for (int k = 0; k < 3; ++k) {
        e.pos[k] = std::stod(f[static_cast<std::size_t>(6 + k)]);
        e.vel[k] = std::stod(f[static_cast<std::size_t>(12 + k)]);
        d[k] = e.pos[k] - t.pos[k];
        dv[k] = e.vel[k] - t.vel[k];
      }
      up_vector(t.pos, &u);
      const double dup = d[0] * u[0] + d[1] * u[1] + d[2] * u[2];
      e.err = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
      e.evec = d;
      e.herr = std::sqrt(std::max(0.0, e.err * e.err - dup * dup));
      e.verr = std::sqrt(dv[0] * dv[0] + dv[1] * dv[1] + dv[2] * dv[2]);
    }
    e.steady = te->second >= 2 && te->second + 2 < truth.size();
    for (std::size_t i = te->second - 2; e.steady && i <= te->second + 2; ++i)
      for (int k = 0; k < 3; ++k)
        if (std::fabs(truth[i].vel[k] - t.vel[k]) > 1e-3) e.steady = false;
    if (std::getenv("KMF_E2E_TRACE") != nullptr)
      std::printf("T %.1f mode %d err %.3f herr %.3f verr %.4f\n", e.since, e.mode, e.err, e.herr, e.verr);
    out.push_back(e);
  }
  return out;
}

// Makes the set of scenario in a fresh directory and runs it (above).
std::vector<FixEpoch> run_against_truth(const std::string& scenario, const std::vector<std::string>& extra) {
  talon_test::TempDir dir;
  std::string err;
  EXPECT_GT(make_sky_set(dir, scenario, &err), 0) << err;
  return run_set_against_truth(dir, extra);
}

double norm3(const std::array<double, 3>& v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

struct Rms {
  double pos = 0.0, vel = 0.0;
  int n = 0, nv = 0;
};

// RMS over the 3-D/2-D fixes from `from` s to `to` s after the start.
Rms rms_of(const std::vector<FixEpoch>& v, double from, double to) {
  Rms r;
  double sp = 0.0, sv = 0.0;
  for (const FixEpoch& e : v) {
    if (e.mode < 2 || e.since < from || e.since > to) continue;
    sp += e.err * e.err;
    ++r.n;
    if (e.steady) {
      sv += e.verr * e.verr;
      ++r.nv;
    }
  }
  r.pos = r.n > 0 ? std::sqrt(sp / r.n) : 1e9;
  r.vel = r.nv > 0 ? std::sqrt(sv / r.nv) : 1e9;
  return r;
}

// A 10 m/s track with four right-angle turns (300 m legs), 2 Hz, 1 m code noise.
std::string moving_track(const std::string& more) {
  return "start_week = 2400\nstart_tow = 300000\nduration = 170\nnsat = 10\nlat = 48\nlon = 11\nheight = 500\n"
         "waypoint = 20 48 11 500\nwaypoint = 50 48.0026979 11 500\nwaypoint = 80 48.0026979 11.0040314 500\n"
         "waypoint = 110 48 11.0040314 500\nwaypoint = 140 48 11 500\n"
         "clk_bias = 0.0001\nclk_drift = 2e-8\ncode_noise = 1\nseed = 11\niono_scale = 0\ntropo_model = simple\n"
         "meas_rate = 2\n" +
         more;
}

TEST(KernelKalmanE2e, MovingReceiverFilterBeatsLeastSquares) {
  const std::string sc = moving_track("");
  const std::vector<FixEpoch> kf = run_against_truth(sc, {});
  const std::vector<FixEpoch> ls = run_against_truth(sc, {"--lsq-only", "1"});
  const Rms rk = rms_of(kf, 20.0, 140.0);
  const Rms rl = rms_of(ls, 20.0, 140.0);
  std::printf(
      "moving 10 m/s, 1 m code noise, 2 Hz: filter position RMS %.3f m (%d fixes), velocity RMS %.4f m/s "
      "(%d); least squares position RMS %.3f m (%d fixes), velocity RMS %.4f m/s\n",
      rk.pos, rk.n, rk.vel, rk.nv, rl.pos, rl.n, rl.vel);
  EXPECT_GE(rk.n, 100);  // one output epoch a second
  EXPECT_GE(rl.n, 100);
  EXPECT_LT(rk.pos, rl.pos) << "the filter's position RMS below least squares";
  EXPECT_LT(rk.vel, 0.1) << "velocity RMS";
}

// All satellites blocked from 60 s to 70 s on the straight east leg (50 s to
// 80 s, 10 m/s): the target keeps sending its time-count epochs, now without
// channel reports. The first three epochs without fix are prediction epochs
// (fix mode 1): the position is dead-reckoned with the last fix's velocity,
// p_k = p_0 + v_0 (t_k - t_0). On a straight leg at constant speed the truth
// moves by v (t_k - t_0), so the error is e_k = e_0 + (v_0 - v)(t_k - t_0),
// bounded by |e_0| + |v_0 - v| (t_k - t_0). From the fourth epoch without fix
// the mode is none (0) until the channels are back; the fix must be back
// within 2 s of the first epoch with four pseudoranges again.
TEST(KernelKalmanE2e, OutageOfAllSatellitesPredictsThenRecovers) {
  const std::vector<FixEpoch> v = run_against_truth(moving_track("outage = 0 60 70\n"), {});
  std::size_t last_fix = v.size();
  for (std::size_t i = 0; i < v.size() && v[i].since <= 60.0; ++i)
    if (v[i].mode >= 2) last_fix = i;
  ASSERT_LT(last_fix, v.size());
  const FixEpoch& f0 = v[last_fix];
  ASSERT_GE(f0.since, 59.0) << "fixes up to the outage";
  std::array<double, 3> dv0{};
  for (int k = 0; k < 3; ++k) dv0[static_cast<std::size_t>(k)] = f0.vel[k] - f0.tvel[k];
  double measured_again = 1e9, back = 1e9;
  for (const FixEpoch& e : v) {
    if (e.since >= 70.0 && e.n_pr >= 4 && measured_again > 1e8) measured_again = e.since;
    if (e.since >= 70.0 && e.mode >= 2 && back > 1e8) back = e.since;
  }
  ASSERT_LT(measured_again, 80.0);
  std::string modes;
  int n_predicted = 0;
  for (std::size_t i = last_fix + 1; i < v.size() && v[i].since < measured_again; ++i) {
    const FixEpoch& e = v[i];
    const int k = static_cast<int>(i - last_fix);  // epochs since the last fix
    modes += std::to_string(e.mode);
    const std::string what = "epoch " + std::to_string(k) + " after the last fix (" + std::to_string(e.since) + " s)";
    EXPECT_EQ(e.mode, k <= 3 ? 1 : 0) << what << ": prediction for the first three epochs, then none";
    if (e.mode != 1) continue;
    ++n_predicted;
    const double dt = e.since - f0.since;
    double moved_off = 0.0;  // |p_k - (p_0 + v_0 dt)|
    for (int c = 0; c < 3; ++c) moved_off += std::pow(e.pos[c] - (f0.pos[c] + f0.vel[c] * dt), 2);
    EXPECT_LT(std::sqrt(moved_off), 0.01) << what << ": dead reckoning with the last velocity";
    const double bound = f0.err + norm3(dv0) * dt + 0.01;
    EXPECT_LE(e.err, bound) << what;
    std::printf("outage: %s error %.3f m, bound %.3f m (last fix error %.3f m, velocity error %.4f m/s, %.1f s)\n",
                what.c_str(), e.err, bound, f0.err, norm3(dv0), dt);
  }
  const Rms after = rms_of(v, back, 140.0);
  std::printf(
      "outage 60..70 s: last fix at %.1f s, modes per second then %s; pseudoranges again at %.1f s, fix back at "
      "%.1f s; RMS from then %.3f m over %d fixes\n",
      f0.since, modes.c_str(), measured_again, back, after.pos, after.n);
  EXPECT_EQ(n_predicted, 3);
  EXPECT_LE(back - measured_again, 2.0) << "fix back within 2 s of the measurements";
  EXPECT_LT(after.pos, 5.0);
  EXPECT_GE(after.n, 50);
}

// At rest for 660 s, then 10 m/s east for 40 s, then at rest; 1 Hz, 1 m code
// noise. The sky's ionosphere is the broadcast model the receiver applies
// (known from the warm-start image, so from the first fix on), the
// troposphere the receiver's own model: what is left is the code noise. The
// set is made and replayed once for the tests below.
class KernelKalmanStatic : public testing::Test {
 protected:
  static constexpr double MOVE_AT = 660.0;  // s after the start
  static void SetUpTestSuite() {
    const std::string sc =
        "start_week = 2400\nstart_tow = 300000\nduration = 710\nnsat = 10\nlat = 48\nlon = 11\nheight = 500\n"
        "waypoint = 660 48 11 500\nwaypoint = 700 48 11.0053725 500\n"
        "clk_bias = 0.0001\nclk_drift = 2e-8\ncode_noise = 1\nseed = 5\niono_scale = 1\ntropo_model = simple\n"
        "warm_start = 1\nwarm_start_iono = 1\n";
    talon_test::TempDir dir;
    std::string err;
    EXPECT_GT(make_sky_set(dir, sc, &err), 0) << err;
    Fixes = new std::vector<FixEpoch>(run_set_against_truth(dir, {}));
  }
  static void TearDownTestSuite() {
    delete Fixes;
    Fixes = nullptr;
  }
  static std::vector<FixEpoch>* Fixes;
};
std::vector<FixEpoch>* KernelKalmanStatic::Fixes = nullptr;

// Every fix from 60 s (the first fix comes about 30 s after the start) to the
// start of the motion, ten minutes, within 1 m of the truth.
TEST_F(KernelKalmanStatic, HeldWithinOneMetreForTenMinutes) {
  ASSERT_NE(Fixes, nullptr);
  double worst = 0.0, sum = 0.0, worst_at = 0.0;
  int n = 0;
  for (const FixEpoch& e : *Fixes) {
    if (e.since < MOVE_AT - 600.0 || e.since >= MOVE_AT) continue;
    EXPECT_GE(e.mode, 2) << "a fix every second at rest, " << e.since << " s";
    if (e.mode < 2) continue;
    EXPECT_LT(e.err, 1.0) << "held fix at " << e.since << " s";
    if (e.err > worst) {
      worst = e.err;
      worst_at = e.since;
    }
    sum += e.err;
    ++n;
  }
  std::printf("static 1 m code noise, 10 minutes: %d fixes, distance from truth mean %.3f m, max %.3f m (at %.0f s)\n",
              n, n > 0 ? sum / n : 0.0, worst, worst_at);
  EXPECT_GE(n, 595);
}

// The motion (10 m/s from 660 s) releases the hold: 6 epochs above 3 m/s
// disable the static position filter, and the fixes follow the receiver from
// then on (first fix at 3 m/s or more within 2 s of the start of the motion).
TEST_F(KernelKalmanStatic, MotionReleasesTheHold) {
  ASSERT_NE(Fixes, nullptr);
  double seen_moving = 1e9, worst = 0.0, worst_v = 0.0;
  int n = 0;
  for (const FixEpoch& e : *Fixes) {
    if (e.mode < 2 || e.since < MOVE_AT) continue;
    const double speed = std::hypot(e.vel[0], e.vel[1], e.vel[2]);
    if (speed >= 3.0 && seen_moving > 1e8) seen_moving = e.since;
    if (seen_moving < 1e8 && e.since >= seen_moving + 6.0 && e.since < MOVE_AT + 40.0) {
      EXPECT_LT(e.err, 5.0) << "moving fix at " << e.since << " s";
      worst = std::max(worst, e.err);
      if (e.steady) worst_v = std::max(worst_v, e.verr);
      ++n;
    }
  }
  std::printf(
      "motion from %.0f s: speed above 3 m/s at %.0f s; from 6 s later worst %.3f m, velocity %.3f m/s over %d fixes\n",
      MOVE_AT, seen_moving, worst, worst_v, n);
  EXPECT_LE(seen_moving - MOVE_AT, 2.0);
  EXPECT_GE(n, 25);
  EXPECT_LT(worst_v, 0.5);
}

}  // namespace
