// File RTK from RINEX run as a program: the recorded static set through the
// solution files, a CRVRAW rover with a RINEX base, the base position option,
// and bad input (truncated file, bad header, missing navigation data).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "rtk/sim_scenario.h"
#include "test_util.h"

namespace {

using talon_test::read_text;
using talon_test::run_talonhost;
using talon_test::RunResult;
using talon_test::TempDir;

struct Counts {
  std::size_t lines = 0;
  int fix = 0;
  double max_err = 0.0;  // m, of the FIX epochs from the truth
};

// The epoch lines of a solution file (each line that does not parse a
// failure), its FIX epochs and their largest distance from a truth.
Counts count_solutions(const std::string& path, const double* truth) {
  const talon_test::SolFile f = talon_test::read_sol_file(path);
  for (const std::string& l : f.bad_lines) ADD_FAILURE() << "bad line: " << l;
  Counts c;
  c.lines = f.lines.size();
  for (const talon_test::SolLine& l : f.lines)
    if (l.status == "FIX") {
      ++c.fix;
      c.max_err = std::fmax(c.max_err, talon_test::sol_dist(l, truth));
    }
  return c;
}

void write_text(const std::string& path, const std::string& text) {
  talon_test::write_file(path, std::vector<unsigned char>(text.begin(), text.end()));
}

TEST(RinexRun, RecordedStaticSetThroughTheSolutionFiles) {
  TALON_SHARED_DATA_OR_SKIP(set, "rinex/spirent-2km-static");
  TempDir dir;
  const RunResult r = run_talonhost(
      dir.path(), {"--rover-rinex", set + "rover.obs", "--base-rinex", set + "base.obs", "--nav", set + "gps.nav"});
  EXPECT_EQ(r.exit_code, 0) << r.err;  // a completed file RTK run
  const double rover[3] = {4156857.1195929, 673209.028774142, 4774767.03105544};
  const Counts c = count_solutions(dir.file("Normal_sol.txt"), rover);
  EXPECT_EQ(c.lines, 601u);
  EXPECT_GT(c.fix, 540);
  EXPECT_LT(c.max_err, 0.02);
  EXPECT_NE(r.err.find("RTK summary: 601 epochs"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("skipped unpaired: 0 rover, 0 base"), std::string::npos) << r.err;
  EXPECT_EQ(read_text(dir.file("Geotagging_sol.txt")), std::string(talon_test::SOL_HEADER) + "\n");
}

struct BaseCase {
  const char* name;
  bool header_pos;      // the base header keeps its APPROX POSITION XYZ line
  bool option_pos;      // --base-pos gives the simulated base position
  int exit_code;        // expected exit code
  const char* err_has;  // stderr contains, or null: the run fixes on truth
};

void PrintTo(const BaseCase& c, std::ostream* os) { *os << c.name; }

// A simulated pair with a CRVRAW rover (r.bin) and a RINEX base, with and
// without the position in its header; simulated once for all cases.
class CrvrawRoverWithRinexBase : public ::testing::TestWithParam<BaseCase> {
 protected:
  static void SetUpTestSuite() {
    sim_test::Scenario sc(2300, 200000.0, 40.0);
    sc.base_48n().rover_at(500.0, 50.0, 2.0).noise(0.3, 0.003);
    sim_test::SimRinex r = sim_test::simulate_rinex(sc);
    Truth = std::move(r.truth);
    Rover = std::move(r.rover);
    Base_obs = std::move(r.rinex.base_obs);
    sim_base_ecef(&sc, Base_xyz);
  }
  static inline std::vector<SIM_TRUTH_T> Truth;
  static inline std::vector<U08> Rover;
  static inline std::string Base_obs;
  static inline double Base_xyz[3] = {0.0, 0.0, 0.0};
};

TEST_P(CrvrawRoverWithRinexBase, FixesOnTruthOrNamesTheMissingPosition) {
  const BaseCase& c = GetParam();
  TempDir dir;
  talon_test::write_file(dir.file("r.bin"), Rover);
  std::string obs = Base_obs;
  if (!c.header_pos) {
    const std::size_t at = obs.find("APPROX POSITION XYZ");
    ASSERT_NE(at, std::string::npos);
    obs.erase(at - 60, 80);
  }
  write_text(dir.file("b.obs"), obs);
  std::vector<std::string> args = {"--base-rinex", "b.obs"};
  if (c.option_pos) {
    char pos[128];
    std::snprintf(pos, sizeof pos, "%.4f,%.4f,%.4f", Base_xyz[0], Base_xyz[1], Base_xyz[2]);
    args.insert(args.end(), {"--base-pos", pos});
  }
  const RunResult r = run_talonhost(dir.path(), args);
  EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
  if (c.err_has != nullptr) {
    EXPECT_NE(r.err.find(c.err_has), std::string::npos) << r.err;
    return;
  }
  const Counts n = count_solutions(dir.file("Normal_sol.txt"), Truth.back().pos);
  if (c.header_pos) {
    EXPECT_EQ(n.lines, Truth.size());
  }
  EXPECT_GT(n.fix, 20);
  EXPECT_LT(n.max_err, 0.02);
}

INSTANTIATE_TEST_SUITE_P(RinexRun, CrvrawRoverWithRinexBase,
                         ::testing::Values(BaseCase{"header_position", true, false, 0, nullptr},
                                           BaseCase{"no_position", false, false, 3,
                                                    "b.obs: no base position in the header"},
                                           BaseCase{"position_option", false, true, 0, nullptr}),
                         talon_test::CaseName());

// Bad input: a message naming the file and exit code 3.
struct BadInputCase {
  const char* name;
  const char* rover;                 // rover observation file; "rover.obs" is the recorded one
  const char* nav;                   // --nav file, "gps.nav" the recorded one; null: none
  std::vector<const char*> err_has;  // stderr contains each
};

void PrintTo(const BadInputCase& c, std::ostream* os) { *os << c.name; }

class RinexBadInput : public ::testing::TestWithParam<BadInputCase> {};

TEST_P(RinexBadInput, MessageAndExitCodeThree) {
  TALON_SHARED_DATA_OR_SKIP(set, "rinex/spirent-2km-static");
  const BadInputCase& c = GetParam();
  TempDir dir;
  const std::string rover = read_text(set + "rover.obs");
  // cut inside the 11th epoch
  std::size_t at = 0;
  for (int k = 0; k < 11; ++k) at = rover.find("\n> ", at + 1);
  write_text(dir.file("cut.obs"), rover.substr(0, at + 200));
  write_text(dir.file("badhdr.obs"), "this is not RINEX\n" + rover.substr(rover.find('\n') + 1, 4000));
  auto recorded = [&](const std::string& name, const char* set_name) { return name == set_name ? set + name : name; };
  std::vector<std::string> args = {"--rover-rinex", recorded(c.rover, "rover.obs"), "--base-rinex", set + "base.obs"};
  if (c.nav != nullptr) args.insert(args.end(), {"--nav", recorded(c.nav, "gps.nav")});
  const RunResult r = run_talonhost(dir.path(), args);
  EXPECT_EQ(r.exit_code, 3);
  for (const char* e : c.err_has) EXPECT_NE(r.err.find(e), std::string::npos) << e << "\n" << r.err;
}

INSTANTIATE_TEST_SUITE_P(RinexRun, RinexBadInput,
                         ::testing::Values(
                             // the whole epochs before the cut are solved
                             BadInputCase{"cut_inside_an_epoch",
                                          "cut.obs",
                                          "gps.nav",
                                          {"cut.obs:", "file ends inside an epoch", "RTK summary: 10 epochs"}},
                             BadInputCase{"bad_header", "badhdr.obs", "gps.nav", {"badhdr.obs:1: not a RINEX file"}},
                             BadInputCase{"no_navigation_data", "rover.obs", nullptr, {"no navigation data"}},
                             BadInputCase{
                                 "navigation_file_missing", "rover.obs", "missing.nav", {"missing.nav: cannot open"}}),
                         talon_test::CaseName());

}  // namespace
