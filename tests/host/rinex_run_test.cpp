// File RTK from RINEX run as a program: the recorded static set through the
// solution files, a CRVRAW rover with a RINEX base, the base position option,
// and bad input (truncated file, bad header, missing navigation data).
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"
#include "tools/scenario_sim/sim.h"

namespace {

using talon_test::read_text;
using talon_test::run_talonhost;
using talon_test::RunResult;
using talon_test::TempDir;

const std::string SPIRENT = TALON_SHARED_DATA "/rinex/spirent-2km-static/";

struct Counts {
  int lines = 0, fix = 0;
  double max_err = 0.0;
};

// Solution lines of Normal_sol.txt: status and the ECEF columns against a truth.
Counts count_solutions(const std::string& path, const double* truth) {
  std::istringstream in(read_text(path));
  std::string l;
  Counts c;
  std::getline(in, l);  // header
  while (std::getline(in, l)) {
    if (l.size() != 13u * 15u) {
      ADD_FAILURE() << "bad line: " << l;
      continue;
    }
    ++c.lines;
    if (l.substr(45, 15).find("FIX") == std::string::npos) continue;
    ++c.fix;
    double d2 = 0.0;
    for (int i = 0; i < 3; ++i) {
      const double v = std::stod(l.substr(135 + 15 * static_cast<std::size_t>(i), 15));
      d2 += (v - truth[i]) * (v - truth[i]);
    }
    c.max_err = std::fmax(c.max_err, std::sqrt(d2));
  }
  return c;
}

void write_text(const std::string& path, const std::string& text) {
  talon_test::write_file(path, std::vector<unsigned char>(text.begin(), text.end()));
}

TEST(RinexRun, RecordedStaticSetThroughTheSolutionFiles) {
  TempDir dir;
  const RunResult r = run_talonhost(dir.path(), {"--rover-rinex", SPIRENT + "rover.obs", "--base-rinex",
                                                 SPIRENT + "base.obs", "--nav", SPIRENT + "gps.nav"});
  EXPECT_EQ(r.exit_code, 0) << r.err;  // a completed file RTK run
  const double rover[3] = {4156857.1195929, 673209.028774142, 4774767.03105544};
  const Counts c = count_solutions(dir.file("Normal_sol.txt"), rover);
  EXPECT_EQ(c.lines, 601);
  EXPECT_GT(c.fix, 540);
  EXPECT_LT(c.max_err, 0.02);
  EXPECT_NE(r.err.find("RTK summary: 601 epochs"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("skipped unpaired: 0 rover, 0 base"), std::string::npos) << r.err;
  EXPECT_EQ(read_text(dir.file("Geotagging_sol.txt")).find('\n') + 1, read_text(dir.file("Geotagging_sol.txt")).size());
}

TEST(RinexRun, CrvrawRoverWithRinexBaseAndBasePosition) {
  SIM_SCENARIO_T sc;
  sc.week = 2300;
  sc.tow0 = 200000.0;
  sc.duration = 40.0;
  sc.base_llh[0] = 48.78;
  sc.base_llh[1] = 9.18;
  sc.base_llh[2] = 320.0;
  sc.rover_enu[0] = 500.0;
  sc.code_noise = 0.3;
  sc.phase_noise = 0.003;
  sc.base_time_offset = 0.0;
  std::vector<U08> rover, base;
  std::vector<SIM_TRUTH_T> truth;
  SIM_RINEX_T rx;
  sim_run_rinex(&sc, &rover, &base, &truth, &rx);
  TempDir dir;
  talon_test::write_file(dir.file("r.bin"), rover);
  write_text(dir.file("b.obs"), rx.base_obs);
  // the base header without its position: the option must give it
  std::string no_pos = rx.base_obs;
  const std::size_t at = no_pos.find("APPROX POSITION XYZ");
  ASSERT_NE(at, std::string::npos);
  no_pos.erase(at - 60, 80);
  write_text(dir.file("b_nopos.obs"), no_pos);

  RunResult r = run_talonhost(dir.path(), {"--base-rinex", "b.obs"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  Counts c = count_solutions(dir.file("Normal_sol.txt"), truth.back().pos);
  EXPECT_EQ(c.lines, static_cast<int>(truth.size()));
  EXPECT_GT(c.fix, 20);
  EXPECT_LT(c.max_err, 0.02);

  r = run_talonhost(dir.path(), {"--base-rinex", "b_nopos.obs"});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.err.find("b_nopos.obs: no base position in the header"), std::string::npos) << r.err;

  double b[3];
  sim_base_ecef(&sc, b);
  char pos[128];
  std::snprintf(pos, sizeof pos, "%.4f,%.4f,%.4f", b[0], b[1], b[2]);
  r = run_talonhost(dir.path(), {"--base-rinex", "b_nopos.obs", "--base-pos", pos});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  c = count_solutions(dir.file("Normal_sol.txt"), truth.back().pos);
  EXPECT_GT(c.fix, 20);
  EXPECT_LT(c.max_err, 0.02);
}

TEST(RinexRun, BadInputGivesAMessageAndANonZeroExit) {
  TempDir dir;
  const std::string rover = read_text(SPIRENT + "rover.obs");
  // cut inside the 11th epoch
  std::size_t at = 0;
  for (int k = 0; k < 11; ++k) at = rover.find("\n> ", at + 1);
  write_text(dir.file("cut.obs"), rover.substr(0, at + 200));
  write_text(dir.file("badhdr.obs"), "this is not RINEX\n" + rover.substr(rover.find('\n') + 1, 4000));

  RunResult r = run_talonhost(
      dir.path(), {"--rover-rinex", "cut.obs", "--base-rinex", SPIRENT + "base.obs", "--nav", SPIRENT + "gps.nav"});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.err.find("cut.obs:"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("file ends inside an epoch"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("RTK summary: 10 epochs"), std::string::npos) << r.err;  // the whole epochs before the cut

  r = run_talonhost(
      dir.path(), {"--rover-rinex", "badhdr.obs", "--base-rinex", SPIRENT + "base.obs", "--nav", SPIRENT + "gps.nav"});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.err.find("badhdr.obs:1: not a RINEX file"), std::string::npos) << r.err;

  r = run_talonhost(dir.path(), {"--rover-rinex", SPIRENT + "rover.obs", "--base-rinex", SPIRENT + "base.obs"});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.err.find("no navigation data"), std::string::npos) << r.err;

  r = run_talonhost(dir.path(), {"--rover-rinex", SPIRENT + "rover.obs", "--base-rinex", SPIRENT + "base.obs", "--nav",
                                 "missing.nav"});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.err.find("missing.nav: cannot open"), std::string::npos) << r.err;
}

}  // namespace
