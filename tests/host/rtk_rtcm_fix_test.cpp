// File RTK over a recording: a simulated pair whose base stream is RTCM 3 MSM4
// or MSM7 (or CRVRAW), re-run from its rb.bin recording, fixes within 2 cm of
// the simulator's truth and agrees within 1 cm with the same scenario run from
// r.bin and b.bin with a CRVRAW base.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"
#include "tools/scenario_sim/sim.h"

namespace {

using namespace talon_test;

struct Sol {
  std::string status;
  double xyz[3];
};

// Solution file lines by their date and time columns.
std::map<std::string, Sol> read_solutions(const std::string& path) {
  std::map<std::string, Sol> out;
  std::istringstream in(read_text(path));
  std::string l;
  std::getline(in, l);  // header
  while (std::getline(in, l)) {
    if (l.size() != 13u * 15u) {
      ADD_FAILURE() << "bad line: " << l;
      continue;
    }
    Sol s{};
    char stat[16];
    if (std::sscanf(l.c_str() + 45, "%15s", stat) != 1 ||
        std::sscanf(l.c_str() + 135, "%lf %lf %lf", &s.xyz[0], &s.xyz[1], &s.xyz[2]) != 3) {
      ADD_FAILURE() << "bad line: " << l;
      continue;
    }
    s.status = stat;
    out[l.substr(15, 30)] = s;
  }
  return out;
}

SIM_SCENARIO_T scenario(int base_rtcm) {
  SIM_SCENARIO_T sc;
  sc.duration = 90.0;
  sc.rover_enu[0] = 300.0;
  sc.rover_enu[1] = -150.0;
  sc.rover_enu[2] = 3.0;
  sc.code_noise = 0.3;
  sc.phase_noise = 0.003;
  sc.base_rtcm = base_rtcm;
  return sc;
}

double dist(const double* a, const double* b) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

TEST(RtkRtcmFix, RecordingWithMsmBaseFixesLikeCrvrawBase) {
  // The same pair with a CRVRAW base, as two files.
  TempDir dc;
  const SIM_SCENARIO_T sc0 = scenario(0);
  ASSERT_GT(sim_run(&sc0, dc.file("r.bin").c_str(), dc.file("b.bin").c_str(), nullptr), 0);
  ASSERT_EQ(run_talonhost(dc.path(), {}).exit_code, 0);
  const auto crv = read_solutions(dc.file("Normal_sol.txt"));

  for (const int msm : {4, 7, 0}) {
    const SIM_SCENARIO_T sc = scenario(msm);
    std::vector<U08> rover, base, rb;
    std::vector<SIM_TRUTH_T> truth;
    std::vector<SIM_MARK_T> marks;
    sim_run_to_memory(&sc, &rover, &base, &truth, &marks);
    sim_make_rb(rover, base, marks, &rb);
    TempDir d;
    write_file(d.file("rb.bin"), rb);
    ASSERT_EQ(run_talonhost(d.path(), {"--rb-file", "rb.bin", "--is-rtcm", msm != 0 ? "1" : "0"}).exit_code, 0);
    const auto rt = read_solutions(d.file("Normal_sol.txt"));
    ASSERT_GE(rt.size(), truth.size() - 6) << msm;
    int fixes = 0, both = 0;
    for (const auto& [time, s] : rt) {
      if (s.status != "FIX") continue;
      ++fixes;
      EXPECT_LT(dist(s.xyz, truth[0].pos), 0.02) << "MSM" << msm << " " << time;
      const auto c = crv.find(time);
      if (c == crv.end() || c->second.status != "FIX") continue;
      ++both;
      EXPECT_LT(dist(s.xyz, c->second.xyz), 0.01) << "MSM" << msm << " " << time;
    }
    EXPECT_GT(fixes, static_cast<int>(truth.size()) / 2) << msm;
    EXPECT_GT(both, static_cast<int>(truth.size()) / 2) << msm;
  }
}

}  // namespace
