// The shared solution-file reader on the program's own solution file: a short
// simulated pair through file RTK, every line read with its exact columns and
// the fixed positions on the simulator's truth.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "test_util.h"
#include "tools/scenario_sim/sim.h"

namespace {

using namespace talon_test;

TEST(TestUtil, SolutionFileReaderTakesEveryLineOfAFileRtkRun) {
  TempDir d;
  SIM_SCENARIO_T sc;
  sc.duration = 30.0;
  sc.rover_enu[0] = 200.0;
  std::vector<U08> rover, base;
  std::vector<SIM_TRUTH_T> truth;
  ASSERT_GT(sim_run_to_memory(&sc, &rover, &base, &truth), 0);
  write_file(d.file("r.bin"), rover);
  write_file(d.file("b.bin"), base);
  EXPECT_EQ(run_talonhost(d.path(), {}).exit_code, 0);  // a completed file RTK run
  const SolFile f = read_sol_file(d.file("Normal_sol.txt"));
  EXPECT_TRUE(f.header_ok);
  EXPECT_TRUE(f.bad_lines.empty()) << f.bad_lines.front();
  ASSERT_EQ(f.lines.size(), truth.size());
  int fixed = 0;
  for (std::size_t k = 0; k < f.lines.size(); ++k) {
    const SolLine& l = f.lines[k];
    EXPECT_EQ(l.epoch, static_cast<long>(k) + 1);
    if (l.status != "FIX") continue;
    ++fixed;
    const double e[3] = {l.x - truth[k].pos[0], l.y - truth[k].pos[1], l.z - truth[k].pos[2]};
    EXPECT_LT(std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]), 0.02) << "epoch " << l.epoch;
  }
  EXPECT_GT(fixed, 10);
  // a line one column short, or with the baseline printed with 2 decimals, is refused
  const std::string good = read_text(d.file("Normal_sol.txt")).substr(std::string(SOL_HEADER).size() + 1, 13 * 15);
  SolLine l;
  EXPECT_TRUE(parse_sol_line(good, &l));
  EXPECT_FALSE(parse_sol_line(good.substr(15), &l));
  const std::string two_decimals = good.substr(0, 12 * 15) + " " + good.substr(12 * 15, 14);
  ASSERT_EQ(two_decimals.size(), good.size());
  EXPECT_FALSE(parse_sol_line(two_decimals, &l));
}

}  // namespace
