// The command-line entries of the simulated sky's replay sets: scenario_sim
// --kernel-set and talon_target --scenario refuse what they cannot play.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_util.h"

namespace {

using namespace talon_test;

std::string tool_exe(const std::string& rel) {
  const std::string host = TALONHOST_EXE;
  return host.substr(0, host.rfind('/')) + rel;
}

struct ToolRun {
  int rc;
  std::string err;
};

ToolRun run_tool(const TempDir& dir, const std::string& exe, const std::vector<std::string>& args) {
  const int pid = spawn_program(dir.path(), exe, args, "out.txt", "err.txt");
  const int rc = wait_talonhost(pid, 30);
  return ToolRun{rc, read_text(dir.file("err.txt"))};
}

struct CliCase {
  const char* name;
  const char* exe;
  std::vector<std::string> args;
  int rc;
  const char* err_starts;
};

TEST(SkyLinkCli, RefusesWhatItCannotPlay) {
  const CliCase cases[] = {
      {"kernel_set_without_outdir",
       "/tools/scenario_sim/scenario_sim",
       {"--kernel-set", "sc.txt"},
       2,
       "usage: scenario_sim --kernel-set"},
      {"kernel_set_missing_scenario",
       "/tools/scenario_sim/scenario_sim",
       {"--kernel-set", "none.txt", "."},
       1,
       "scenario_sim: --kernel-set: "},
      {"target_missing_scenario",
       "/tools/talon_target/talon_target",
       {"--scenario", "none.txt"},
       1,
       "talon_target: --scenario: "},
  };
  for (const CliCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const ToolRun r = run_tool(dir, tool_exe(c.exe), c.args);
    EXPECT_EQ(r.rc, c.rc);
    EXPECT_EQ(r.err.rfind(c.err_starts, 0), 0U) << r.err;
    EXPECT_FALSE(file_exists(dir.file("log_data.dat")));
    EXPECT_FALSE(file_exists(dir.file("truth.csv")));
  }
}

}  // namespace
