// The default job, file RTK, run as a program on simulated pairs: solution
// files with the exact line format, routing by the rover's epoch type, fixed
// positions against the simulator's truth.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "rtk/rtk_cmn.h"
#include "test_util.h"
#include "tools/scenario_sim/sim.h"

namespace {

using talon_test::read_text;
using talon_test::run_talonhost;
using talon_test::RunResult;
using talon_test::TempDir;

struct Line {
  long epoch = 0;
  std::string status;
  double age = 0, ratio = 0, lat = 0, lon = 0, alt = 0, x = 0, y = 0, z = 0, baseline = 0;
  std::string time;  // date and UTC columns as printed
};

// A right-aligned number of a fixed-width column: blanks, then the whole rest is the number.
bool number_field(const std::string& f, double* v) {
  std::size_t i = 0;
  while (i < f.size() && f[i] == ' ') ++i;
  if (i == f.size()) return false;
  char* end = nullptr;
  const std::string t = f.substr(i);
  *v = std::strtod(t.c_str(), &end);
  return end == t.c_str() + t.size();
}

// Parses one solution line with its exact columns; false on any deviation.
bool parse_line(const std::string& l, Line* out) {
  if (l.size() != 13u * 15u) return false;
  double v = 0;
  if (!number_field(l.substr(0, 15), &v)) return false;
  out->epoch = static_cast<long>(v);
  // date: 9-wide year, '/', 2-digit month, '/', 2-digit day; UTC: 3 blanks, hh:mm:ss.sss
  const std::string d = l.substr(15, 15), u = l.substr(30, 15);
  if (d[9] != '/' || d[12] != '/' || u.substr(0, 3) != "   " || u[5] != ':' || u[8] != ':' || u[11] != '.')
    return false;
  for (int i : {10, 11, 13, 14})
    if (!std::isdigit(static_cast<unsigned char>(d[static_cast<std::size_t>(i)]))) return false;
  for (int i : {3, 4, 6, 7, 9, 10, 12, 13, 14})
    if (!std::isdigit(static_cast<unsigned char>(u[static_cast<std::size_t>(i)]))) return false;
  out->time = d + u;
  std::size_t i = 0;
  const std::string s = l.substr(45, 15);
  while (s[i] == ' ') ++i;
  out->status = s.substr(i);
  double* f[] = {&out->age, &out->ratio, &out->lat, &out->lon, &out->alt, &out->x, &out->y, &out->z, &out->baseline};
  for (int k = 0; k < 9; ++k)
    if (!number_field(l.substr(60 + 15 * static_cast<std::size_t>(k), 15), f[k])) return false;
  // decimals as printed: 2, 2, 8, 8, then 3
  static const int decimals[9] = {2, 2, 8, 8, 3, 3, 3, 3, 3};
  for (int k = 0; k < 9; ++k) {
    const std::string fld = l.substr(60 + 15 * static_cast<std::size_t>(k), 15);
    const std::size_t dot = fld.find('.');
    if (dot == std::string::npos || fld.size() - dot - 1 != static_cast<std::size_t>(decimals[k])) return false;
  }
  return true;
}

struct SolFile {
  bool header_ok = false;
  std::vector<Line> lines;
  int bad = 0;
};

SolFile read_solutions(const std::string& path) {
  SolFile f;
  std::istringstream in(read_text(path));
  std::string l;
  if (!std::getline(in, l)) return f;
  f.header_ok =
      l ==
      "          EPOCH           DATE            UTC         STATUS    AGE_OF_DIFF          RATIO            LAT"
      "            LON            ALT              X              Y              Z       BASELINE";
  while (std::getline(in, l)) {
    Line p;
    if (parse_line(l, &p))
      f.lines.push_back(p);
    else
      ++f.bad;
  }
  return f;
}

void check_line_consistency(const Line& l, const double* base) {
  EXPECT_LE(l.ratio, 10.0);
  const double pos[3] = {l.lat * D2R, l.lon * D2R, l.alt};
  double xyz[3];
  pos2ecef(pos, xyz);
  EXPECT_NEAR(xyz[0], l.x, 0.005);
  EXPECT_NEAR(xyz[1], l.y, 0.005);
  EXPECT_NEAR(xyz[2], l.z, 0.005);
  const double d[3] = {l.x - base[0], l.y - base[1], l.z - base[2]};
  EXPECT_NEAR(std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]), l.baseline, 0.002);
}

// Moving rover at 5 Hz with extended raw epochs; every third epoch from the
// first is a geotagging epoch: on whole seconds type 2, otherwise type 1.
TEST(RtkFileRun, Moving5HzFixesAndRoutesEpochTypes) {
  TempDir d;
  SIM_SCENARIO_T sc;
  sc.week = 2300;
  sc.tow0 = 300000.0;
  sc.duration = 40.0;
  sc.interval = 0.2;
  sc.base_llh[0] = 35.0;
  sc.base_llh[1] = 139.0;
  sc.base_llh[2] = 50.0;
  sc.rover_enu[0] = 300.0;
  sc.rover_enu[1] = 200.0;
  sc.rover_enu[2] = 1.0;
  sc.rover_vel_enu[0] = 6.0;
  sc.rover_vel_enu[1] = -2.0;
  sc.code_noise = 0.3;
  sc.phase_noise = 0.01;
  sc.doppler_noise = 0.05;
  sc.ext_raw = 1;
  sc.geotag_every = 3;
  sc.seed = 3;
  std::vector<U08> rover, base;
  std::vector<SIM_TRUTH_T> truth;
  ASSERT_GT(sim_run_to_memory(&sc, &rover, &base, &truth), 0);
  talon_test::write_file(d.file("rover.bin"), rover);
  talon_test::write_file(d.file("base.bin"), base);

  const RunResult r = run_talonhost(d.path(), {"--rover-file", "rover.bin", "--base-file", "base.bin"});
  EXPECT_EQ(r.exit_code, 0);  // a completed file RTK run
  EXPECT_NE(r.err.find("RTK summary: 201 epochs"), std::string::npos) << r.err;

  const SolFile normal = read_solutions(d.file("Normal_sol.txt"));
  const SolFile geo = read_solutions(d.file("Geotagging_sol.txt"));
  EXPECT_TRUE(normal.header_ok);
  EXPECT_TRUE(geo.header_ok);
  EXPECT_EQ(normal.bad, 0);
  EXPECT_EQ(geo.bad, 0);

  // expected routing from the simulated epochs: EPOCH n is rover epoch n - 1
  std::map<long, int> type_of;
  for (std::size_t k = 0; k < truth.size(); ++k) {
    const long ms = std::lround(truth[k].t.tow * 1000.0 + truth[k].clk * 1000.0);  // receiver time tag
    const int type = !truth[k].geotag ? 0 : (ms % 1000 == 0 ? 2 : 1);
    type_of[static_cast<long>(k) + 1] = type;
  }
  int n_type[3] = {0, 0, 0};
  for (const auto& [e, t] : type_of) ++n_type[t];
  ASSERT_GT(n_type[0], 0);
  ASSERT_GT(n_type[1], 0);
  ASSERT_GT(n_type[2], 0);

  std::map<long, const Line*> in_normal, in_geo;
  for (const Line& l : normal.lines) in_normal[l.epoch] = &l;
  for (const Line& l : geo.lines) in_geo[l.epoch] = &l;
  EXPECT_EQ(in_normal.size(), static_cast<std::size_t>(n_type[0] + n_type[2]));
  EXPECT_EQ(in_geo.size(), static_cast<std::size_t>(n_type[1] + n_type[2]));
  for (const auto& [e, t] : type_of) {
    SCOPED_TRACE(e);
    EXPECT_EQ(in_normal.count(e), t != 1 ? 1u : 0u);
    EXPECT_EQ(in_geo.count(e), t != 0 ? 1u : 0u);
    if (t == 2 && in_normal.count(e) && in_geo.count(e)) {
      EXPECT_EQ(in_normal[e]->time, in_geo[e]->time);
    }
  }

  double base_xyz[3];
  sim_base_ecef(&sc, base_xyz);
  int nfix = 0;
  double max_err = 0.0;
  for (const SolFile* f : {&normal, &geo})
    for (const Line& l : f->lines) {
      check_line_consistency(l, base_xyz);
      if (l.status != "FIX") continue;
      ++nfix;
      const SIM_TRUTH_T& t = truth[static_cast<std::size_t>(l.epoch - 1)];
      const double e[3] = {l.x - t.pos[0], l.y - t.pos[1], l.z - t.pos[2]};
      max_err = std::fmax(max_err, std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]));
    }
  EXPECT_GT(nfix, 100);
  EXPECT_LT(max_err, 0.05);
}

// The run command of the README on a fresh copy of the sample pair.
TEST(RtkFileRun, SampleStaticPairGivesFixedSolutions) {
  TempDir d;
  const std::string sample = std::string(TALON_SOURCE_DIR) + "/data/sample-static/";
  talon_test::write_file(d.file("r.bin"), talon_test::read_file(sample + "r.bin"));
  talon_test::write_file(d.file("b.bin"), talon_test::read_file(sample + "b.bin"));
  const RunResult r = run_talonhost(d.path(), {});
  EXPECT_EQ(r.exit_code, 0);
  const SolFile normal = read_solutions(d.file("Normal_sol.txt"));
  EXPECT_TRUE(normal.header_ok);
  EXPECT_EQ(normal.bad, 0);
  ASSERT_EQ(normal.lines.size(), 300u);
  // truth of the sample: static rover, base 2000 m west
  const double rover[3] = {4156824.9010, 673795.6872, 4774713.1112};
  const double base[3] = {4157143.9742, 671821.3032, 4774713.1112};
  int nfix = 0;
  for (const Line& l : normal.lines) {
    check_line_consistency(l, base);
    if (l.status != "FIX") continue;
    ++nfix;
    const double e[3] = {l.x - rover[0], l.y - rover[1], l.z - rover[2]};
    EXPECT_LT(std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]), 0.05);
  }
  EXPECT_GT(nfix, 250);
  EXPECT_EQ(talon_test::read_text(d.file("Geotagging_sol.txt")).find('\n') + 1,
            talon_test::read_text(d.file("Geotagging_sol.txt")).size());  // header only
}

}  // namespace
