// A hot start against the simulated sky that fixes before any satellite's
// own frame sync: two logging runs on a pty (as in hot_start_run_test), the
// second five minutes after the first in the same directory, so the kernel
// starts from the first run's backup with a stored time and position. The
// channels' bit counts are then predicted from the orbits and the clock bias
// instead of waiting for a subframe (a frame sync needs at least one whole
// 6-s subframe of data bits). The second run's first fix must come less
// than 6 s after its start, and every fix of its first 15 s must lie within
// 10 m of the sky's receiver position (the bound the hot-start test puts on
// the stored position). The first-fix time is printed and recorded.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "link_test_util.h"
#include "tools/sky/sky.h"

namespace {

using link_test::Bytes;
using talon_test::file_exists;

constexpr double WEEK_S = 604800.0;
constexpr int START_WEEK = 2400;
constexpr double START_TOW_1 = 345600.0;
constexpr double SECOND_RUN_LATER_S = 300.0;
constexpr double DURATION_1 = 60.0;
constexpr double DURATION_2 = 15.0;
constexpr double SUBFRAME_S = 6.0;  // no frame sync before one whole subframe is read
constexpr double POSITION_BOUND_M = 10.0;

std::string scenario_text(double start_tow, double duration) {
  char b[512];
  std::snprintf(b, sizeof b,
                "start_week = %d\nstart_tow = %.1f\nduration = %.1f\nsky_epoch = %d %.1f\nnsat = 9\nseed = 11\n"
                "lat = 35.68\nlon = 139.77\nheight = 40\nclk_bias = 0.0004\nclk_drift = 1.2e-7\n",
                START_WEEK, start_tow, duration, START_WEEK, START_TOW_1);
  return b;
}

long file_size(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

// One logging run of scenario (in dir) against the target playing it fast,
// with --fix-csv fix_csv; stopped once the program has logged all it was sent.
int logging_run(const std::string& dir, const std::string& scenario, const std::string& fix_csv) {
  for (const char* f : {"pty.txt", "sent.bin", "record.txt", "finish.txt"}) unlink((dir + "/" + f).c_str());
  const int tpid = link_test::spawn(dir, link_test::target_exe(),
                                    {"--scenario", scenario, "--pty-file", "pty.txt", "--record", "record.txt",
                                     "--sent", "sent.bin", "--period-ms", "15", "--timeout-s", "60"},
                                    "target.out");
  EXPECT_TRUE(link_test::wait_for([&] { return file_exists(dir + "/pty.txt"); }, 10000));
  const std::string port = talon_test::read_text(dir + "/pty.txt");
  const int hpid = link_test::spawn(
      dir, TALONHOST_EXE,
      {"--rtk-mode", "0", "--mode", "0", "--port", port, "--do-kml-output", "0", "--fix-csv", fix_csv}, "host.out");
  EXPECT_TRUE(link_test::wait_for([&] { return file_exists(dir + "/sent.bin"); }, 30000));
  EXPECT_TRUE(
      link_test::wait_for([&] { return file_size(dir + "/log_data.dat") == file_size(dir + "/sent.bin"); }, 10000));
  talon_test::write_file(dir + "/finish.txt", {});
  const int rc = talon_test::wait_talonhost(hpid, 60);
  EXPECT_EQ(talon_test::wait_talonhost(tpid, 30), 0);
  return rc;
}

struct Fix {
  double t = 0.0;  // s since the run's start (GPS time)
  double xyz[3] = {};
};

// Every row of a fix log with a 2-D or 3-D fix.
std::vector<Fix> fixes(const std::string& path, double start_tow) {
  std::vector<Fix> out;
  const std::string text = talon_test::read_text(path);
  std::size_t at = text.find('\n');
  while (at != std::string::npos && at + 1 < text.size()) {
    const std::size_t end = text.find('\n', at + 1);
    const std::vector<std::string> f = talon_test::split_csv(text.substr(at + 1, end - at - 1));
    at = end;
    if (f.size() < 9 || f[4].empty() || std::stoi(f[4]) < 2 || f[1].empty() || f[2].empty()) continue;
    Fix x;
    x.t = (std::stoi(f[1]) - START_WEEK) * WEEK_S + (std::stod(f[2]) - start_tow);
    for (int i = 0; i < 3; ++i) x.xyz[i] = std::stod(f[static_cast<std::size_t>(6 + i)]);
    out.push_back(x);
  }
  return out;
}

TEST(HotStartPredictionRun, FirstFixBeforeAnyFrameSyncWithinTenMetres) {
  talon_test::TempDir dir;
  const std::string d = dir.path();
  const double start_tow_2 = START_TOW_1 + SECOND_RUN_LATER_S;
  {
    const std::string s1 = scenario_text(START_TOW_1, DURATION_1);
    const std::string s2 = scenario_text(start_tow_2, DURATION_2);
    talon_test::write_file(d + "/sky1.txt", Bytes(s1.begin(), s1.end()));
    talon_test::write_file(d + "/sky2.txt", Bytes(s2.begin(), s2.end()));
  }
  static SKY_SCENARIO_T sc;
  char err[200] = "";
  ASSERT_EQ(SKY_parse_scenario(scenario_text(start_tow_2, DURATION_2).c_str(), &sc, err, sizeof err), 1) << err;
  ASSERT_EQ(SKY_init(&sc), 1);
  static SKY_EPOCH_T truth;
  ASSERT_EQ(SKY_epoch_at_clock(sc.start, &truth), 1);  // a receiver at rest: one position

  ASSERT_EQ(logging_run(d, "sky1.txt", "fix1.csv"), 0);
  ASSERT_FALSE(fixes(d + "/fix1.csv", START_TOW_1).empty()) << "run 1 has no fix: nothing to start hot from";
  ASSERT_EQ(logging_run(d, "sky2.txt", "fix2.csv"), 0);
  ASSERT_TRUE(file_exists(d + "/log_init.dat"));

  const std::vector<Fix> f2 = fixes(d + "/fix2.csv", start_tow_2);
  ASSERT_FALSE(f2.empty()) << "run 2 has no fix";
  std::printf("hot start with bit-count prediction: first fix %.3f s after the start, %zu fixes\n", f2[0].t, f2.size());
  RecordProperty("first_fix_hot_s", std::to_string(f2[0].t));
  EXPECT_GE(f2[0].t, 0.0);
  EXPECT_LT(f2[0].t, SUBFRAME_S);
  double worst = 0.0;
  for (const Fix& x : f2) {
    const double* t = truth.rx.pos_ecef;
    const double e = std::hypot(x.xyz[0] - t[0], x.xyz[1] - t[1], x.xyz[2] - t[2]);
    worst = std::max(worst, e);
    EXPECT_LT(e, POSITION_BOUND_M) << "fix " << x.t << " s after the start";
  }
  std::printf("hot start with bit-count prediction: largest position error %.2f m\n", worst);
}

}  // namespace
