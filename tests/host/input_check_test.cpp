// Inputs the program refuses by name: a directory, FIFO or device given as a
// file RTK input (exit 1), and option values past a stated limit (exit 2).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "test_util.h"

namespace {

using namespace talon_test;

struct InputCase {
  std::string name;
  std::vector<std::string> dirs, fifos, files;  // made in the run directory (files: 10 zero bytes)
  std::vector<std::string> args;
  int exit_code;
  std::string err_has;  // a line of stderr
};
void PrintTo(const InputCase& c, std::ostream* os) { *os << c.name; }

class InputCheck : public ::testing::TestWithParam<InputCase> {};

TEST_P(InputCheck, RefusesNamingTheReason) {
  const InputCase& c = GetParam();
  TempDir d;
  for (const std::string& n : c.dirs) ASSERT_EQ(mkdir(d.file(n).c_str(), 0700), 0) << n;
  for (const std::string& n : c.fifos) ASSERT_EQ(mkfifo(d.file(n).c_str(), 0600), 0) << n;
  for (const std::string& n : c.files) write_file(d.file(n), std::vector<unsigned char>(10, 0));
  const RunResult r = run_talonhost(d.path(), c.args, 20);
  EXPECT_EQ(r.exit_code, c.exit_code) << r.out << r.err;
  EXPECT_NE(r.err.find(c.err_has + "\n"), std::string::npos) << r.err;
}

const std::string LONG_PATH(256, 'p');
const std::vector<std::string> NINE_NAVS = {"--nav", "1", "--nav", "2", "--nav", "3", "--nav", "4", "--nav", "5",
                                            "--nav", "6", "--nav", "7", "--nav", "8", "--nav", "9"};
const char* const BASE_POS_RULE =
    "talonhost: --base-pos: the base position must lie within 100 km of the Earth's "
    "surface (WGS-84 height -100000 to 100000 m)";

INSTANTIATE_TEST_SUITE_P(
    Program, InputCheck,
    ::testing::Values(
        InputCase{"directory_as_r_bin", {"r.bin"}, {}, {"b.bin"}, {}, 1, "talonhost: r.bin: is a directory"},
        InputCase{"fifo_as_rb_file",
                  {},
                  {"rb.fifo"},
                  {},
                  {"--rb-file", "rb.fifo"},
                  1,
                  "talonhost: rb.fifo: is not a regular file"},
        InputCase{"device_as_base_file",
                  {},
                  {},
                  {"r.bin"},
                  {"--base-file", "/dev/null"},
                  1,
                  "talonhost: /dev/null: is not a regular file"},
        InputCase{"directory_as_rinex_base",
                  {"b.obs"},
                  {},
                  {"r.bin"},
                  {"--base-rinex", "b.obs"},
                  1,
                  "talonhost: b.obs: is a directory"},
        InputCase{"directory_as_nav",
                  {"n.nav"},
                  {},
                  {"r.bin", "b.bin"},
                  {"--base-rinex", "b.obs", "--nav", "n.nav"},
                  1,
                  "talonhost: n.nav: is a directory"},
        InputCase{
            "missing_rover_names_the_reason", {}, {}, {"b.bin"}, {}, 1, "talonhost: r.bin: No such file or directory"},
        InputCase{"ninth_nav", {}, {}, {}, NINE_NAVS, 2, "talonhost: --nav: at most 8 navigation files"},
        InputCase{"path_of_256_characters",
                  {},
                  {},
                  {},
                  {"--rover-file", LONG_PATH},
                  2,
                  "talonhost: --rover-file: path longer than 255 characters"},
        InputCase{"base_pos_origin", {}, {}, {}, {"--base-pos", "0,0,0"}, 2, BASE_POS_RULE}),
    [](const ::testing::TestParamInfo<InputCase>& i) { return i.param.name; });

}  // namespace
