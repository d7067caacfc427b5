// End to end: the hot-start time chain against the simulated sky played as a
// closed loop on a pty.
//
// Run 1 starts cold in an empty directory and fixes; at its end log_save.dat
// holds the stored fix with its RTC stamp. The same sky is then played 300 s
// and 3000 s later, each in a copy of that directory, so the program starts
// hot from run 1's backup: the kernel predicts the GPS time of the RTC
// reading the target reported at start from the stored fix and the RTC lapse,
// and tells the target that time count (ASIC_SET_HOT_START_PREDICT_TIME).
// The target sets its time count from it (tools/sky/sky_hot.h) and reports
// the prediction against the truth of that RTC moment; the kernel's GPS time
// at its first epoch (before any frame sync: the time count's time of week,
// the week from the prediction, console line "ADJ GTC") is read against the
// sky's truth of that epoch (the 1PPS record of the same whole-second epoch).
//
// The bound: what the sky's RTC (32 768 Hz, at GPS rate, 0.3125 s ahead)
// allows through the kernel's prediction. Each RTC stamp is the count the
// target latched after its time-count second, good to one count (1/32768 s,
// 30.5 us); the latch delay it carries is subtracted, as the kernel's
// prediction takes it, where the delay follows the mark: the stored stamp and
// the start reading add at most two counts. The stored RTC/GPS rate is the
// RTC interval between two stamps over the GPS time between their fixes
// (stamps good to a count, no sub-count correction) over a baseline of at
// least 30 s, so it may be off by one count over 30 s, which the lapse
// multiplies: bound = (2 + lapse / 30 s) counts = 0.37 ms after 300 s and
// 3.1 ms after 3000 s. A chain ignoring the RTC's sub-second is 312 ms off.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "link_test_util.h"

namespace {

using link_test::Bytes;
using talon_test::file_exists;

constexpr int START_WEEK = 2400;
constexpr double START_TOW = 349507.0;
constexpr double WEEK_S = 604800.0;
constexpr double RTC_COUNT_S = 1.0 / 32768.0;
constexpr double MIN_RATE_BASELINE_S = 30.0;

// The bound above for a hot start lapse_s after the stored fix, s.
double max_time_error_s(double lapse_s) { return (2.0 + lapse_s / MIN_RATE_BASELINE_S) * RTC_COUNT_S; }

std::string scenario_text(double start_tow, double duration) {
  char b[512];
  std::snprintf(b, sizeof b,
                "start_week = %d\nstart_tow = %.1f\nduration = %.1f\nsky_epoch = %d %.1f\nnsat = 12\nseed = 1\n"
                "lat = 35.68\nlon = 139.77\nheight = 40\nclk_bias = 0.0004\nclk_drift = 1.2e-7\n",
                START_WEEK, start_tow, duration, START_WEEK, START_TOW);
  return b;
}

// One closed-loop logging run of scenario sky.txt in directory d, with the
// target's 1PPS records in pps.csv. Returns the program's exit code.
int closed_loop_run(const std::string& d, const std::string& scenario) {
  talon_test::write_file(d + "/sky.txt", Bytes(scenario.begin(), scenario.end()));
  std::remove((d + "/pty.txt").c_str());
  std::remove((d + "/sent.bin").c_str());
  std::remove((d + "/finish.txt").c_str());
  const int tpid = link_test::spawn(d, link_test::target_exe(),
                                    {"--scenario", "sky.txt", "--closed-loop", "--pty-file", "pty.txt", "--sent",
                                     "sent.bin", "--pps-file", "pps.csv", "--period-ms", "10", "--timeout-s", "60"},
                                    "target.out");
  if (!link_test::wait_for([&] { return file_exists(d + "/pty.txt"); }, 10000)) return -1;
  const std::string port = talon_test::read_text(d + "/pty.txt");
  const int hpid = link_test::spawn(
      d, TALONHOST_EXE,
      {"--rtk-mode", "0", "--mode", "0", "--port", port, "--do-kml-output", "0", "--fix-csv", "fix.csv"}, "host.out");
  link_test::wait_for([&] { return file_exists(d + "/sent.bin"); }, 30000);
  talon_test::write_file(d + "/finish.txt", {});
  const int rc = talon_test::wait_talonhost(hpid, 60);
  talon_test::wait_talonhost(tpid, 30);
  return rc;
}

// The first "RAW GTC" / "ADJ GTC" pair of the console output: the time
// count's week and seconds and the kernel's GPS time of that epoch.
bool first_epoch_time(const std::string& out, int* raw_wn, double* raw_tow, int* adj_wn, double* adj_tow) {
  const std::size_t r = out.find("RAW GTC: ");
  const std::size_t a = out.find("ADJ GTC: ");
  if (r == std::string::npos || a == std::string::npos || a < r) return false;
  return std::sscanf(out.c_str() + r, "RAW GTC: %d, %lf", raw_wn, raw_tow) == 2 &&
         std::sscanf(out.c_str() + a, "ADJ GTC: %d, %lf", adj_wn, adj_tow) == 2;
}

// The true GPS time of the whole-second epoch whose time count is raw_wn,
// raw_sec (the 1PPS record of that epoch: its mark is one second later).
bool epoch_truth(const std::string& pps_csv, int raw_wn, int raw_sec, int* week, double* tow) {
  for (const std::vector<std::string>& f : talon_test::csv_rows(pps_csv, 15)) {
    const long long mark = std::stoll(f[6]) * 604800LL + std::stoll(f[7]);
    if (mark != static_cast<long long>(raw_wn) * 604800LL + raw_sec + 1) continue;
    *week = std::stoi(f[8]);
    *tow = std::stod(f[9]);
    return true;
  }
  return false;
}

// The target's summary line of the hot-start message: the prediction's error
// against the truth of its RTC moment, ms, and whether the count was set.
bool target_prediction_error(const std::string& out, double* error_ms, bool* set) {
  const std::size_t h = out.find("talon_target: hot start: ");
  if (h == std::string::npos) return false;
  const std::size_t e = out.find("error ", h);
  if (e == std::string::npos) return false;
  *set = out.find("time count set", h) != std::string::npos;
  return std::sscanf(out.c_str() + e, "error %lf ms", error_ms) == 1;
}

void copy_file(const std::string& from, const std::string& to) {
  talon_test::write_file(to, talon_test::read_file(from));
}

struct HotCase {
  const char* name;
  double later_s;  // start of the hot run after run 1's start
};

const std::array<HotCase, 2> HOT = {{
    {"hot start 300 s later", 300.0},
    {"hot start 3000 s later", 3000.0},
}};

TEST(HotTimeClosedLoop, FirstEpochTimeFollowsTheRtcPrediction) {
  talon_test::TempDir dir1;
  const std::string d1 = dir1.path();
  ASSERT_EQ(closed_loop_run(d1, scenario_text(START_TOW, 80.0)), 0) << talon_test::read_text(d1 + "/host.out");
  ASSERT_TRUE(file_exists(d1 + "/log_save.dat")) << "run 1 saved no backup";
  ASSERT_NE(talon_test::read_text(d1 + "/fix.csv").find(",3,"), std::string::npos) << "run 1 has no 3-D fix";

  for (const HotCase& c : HOT) {
    SCOPED_TRACE(c.name);
    talon_test::TempDir dir;
    const std::string d = dir.path();
    for (const char* f : {"log_save.dat", "flash_save.alm", "log_init.dat", "flash.alm"})
      if (file_exists(d1 + "/" + f)) copy_file(d1 + "/" + f, d + "/" + f);
    const double start_tow = START_TOW + c.later_s;
    ASSERT_EQ(closed_loop_run(d, scenario_text(start_tow, 10.0)), 0) << talon_test::read_text(d + "/host.out");

    // The prediction the target was sent, against the truth of its RTC moment.
    double pred_error_ms = 0.0;
    bool set = false;
    const std::string tout = talon_test::read_text(d + "/target.out");
    ASSERT_TRUE(target_prediction_error(tout, &pred_error_ms, &set)) << tout;
    EXPECT_TRUE(set) << tout;
    const double bound_s = max_time_error_s(c.later_s);
    EXPECT_LT(std::fabs(pred_error_ms), bound_s * 1e3) << tout;

    // The kernel's GPS time at its first epoch, against the truth of that epoch.
    const std::string hout = talon_test::read_text(d + "/host.out");
    int raw_wn = 0, adj_wn = 0, true_wn = 0;
    double raw_tow = 0.0, adj_tow = 0.0, true_tow = 0.0;
    ASSERT_TRUE(first_epoch_time(hout, &raw_wn, &raw_tow, &adj_wn, &adj_tow)) << hout.substr(0, 2000);
    ASSERT_TRUE(epoch_truth(d + "/pps.csv", raw_wn, static_cast<int>(std::lround(raw_tow)), &true_wn, &true_tow))
        << "no truth for the first epoch " << raw_wn << " " << raw_tow;
    const double kernel_error_s = (adj_wn - true_wn) * WEEK_S + (adj_tow - true_tow);
    EXPECT_LT(std::fabs(kernel_error_s), bound_s)
        << "kernel " << adj_wn << " " << adj_tow << ", truth " << true_wn << " " << true_tow;
    std::printf("%s: prediction error %+.3f ms, kernel time at its first epoch %+.3f ms from truth (bound %.3f ms)\n",
                c.name, pred_error_ms, kernel_error_s * 1e3, bound_s * 1e3);
    RecordProperty(std::string("kernel_time_error_ms_") + std::to_string(static_cast<int>(c.later_s)),
                   std::to_string(kernel_error_s * 1e3));
  }
}

}  // namespace
