// The command line, as a table of cases.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/pc_sio.h"

namespace {

// A command line that runs (get_main_param returns 1) and what it sets.
struct Case {
  std::string name;
  std::vector<std::string> args;
  std::function<void(const HOST_PARAM_T&)> check;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

HOST_PARAM_T parse(const std::vector<std::string>& args, int* ret) {
  std::vector<char*> argv;
  static char prog[] = "talonhost";
  argv.push_back(prog);
  std::vector<std::string> copy = args;
  for (std::string& a : copy) argv.push_back(a.data());
  HOST_PARAM_T p;
  p.mode = 77;  // must be overwritten by the defaults
  *ret = get_main_param(static_cast<int>(argv.size()), argv.data(), &p);
  return p;
}

class MainParamTable : public ::testing::TestWithParam<Case> {};

TEST_P(MainParamTable, Parses) {
  const Case& c = GetParam();
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  int ret = -1;
  const HOST_PARAM_T p = parse(c.args, &ret);
  const std::string out = ::testing::internal::GetCapturedStdout();
  const std::string err = ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(ret, 1) << out << err;
  c.check(p);
  sio_set_tty_type("S");  // "tty<type>" sets a process-wide device prefix
}

void defaults(const HOST_PARAM_T& p) {
  EXPECT_EQ(p.mode, HOST_REPLAY);
  EXPECT_EQ(p.count, 0);
  EXPECT_EQ(p.com_num, -1);
  EXPECT_EQ(p.com_num2, -1);
  EXPECT_EQ(p.com_num3, -1);
  EXPECT_EQ(p.output_nmea, 0);
  EXPECT_EQ(p.kml_color, KML_RED);
  EXPECT_EQ(p.kml_start_sec, 0);
  EXPECT_EQ(p.sd_replay, 0);
  EXPECT_EQ(p.sd_convert, 0);
  EXPECT_EQ(p.dr_out_gps_fixmode, 0);
  EXPECT_EQ(p.do_kml_output, 1);
  EXPECT_EQ(p.force_warm, 0);
  EXPECT_EQ(p.force_cold, 0);
  EXPECT_EQ(p.out_ansi_color, 0);
  EXPECT_EQ(p.gnss_sel_bits, 1u);
  EXPECT_EQ(p.nav_platform_model, 0);
  EXPECT_EQ(p.dazar_enabled, 0);
  EXPECT_EQ(p.rtk_mode, 2);
  EXPECT_EQ(p.navsys, 21);
  EXPECT_EQ(p.snr_mask, 35);
  EXPECT_EQ(p.geosnr_mask, 40);
  EXPECT_EQ(p.evl_mask, 15);
  EXPECT_EQ(p.is_rinex, 0);
  EXPECT_EQ(p.is_crvraw, 1);
  EXPECT_EQ(p.is_rtcm, 0);
  EXPECT_EQ(p.rtk_reset, 2);
  for (int s : p.exsats) EXPECT_EQ(s, 0);
  EXPECT_STREQ(p.rover_file, "r.bin");
  EXPECT_STREQ(p.base_file, "b.bin");
  EXPECT_STREQ(p.port_path, "");
  EXPECT_STREQ(p.kml_append, "");
  EXPECT_STREQ(p.rover_rinex, "");
  EXPECT_EQ(p.n_nav, 0);
  EXPECT_EQ(p.has_base_pos, 0);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, MainParamTable,
    ::testing::Values(
        Case{"no_arguments_gives_defaults", {}, defaults},
        Case{"replay",
             {"--rtk-mode", "0", "--mode", "1"},
             [](const HOST_PARAM_T& p) {
               EXPECT_EQ(p.rtk_mode, 0);
               EXPECT_EQ(p.mode, HOST_REPLAY);
             }},
        Case{"equals_form",
             {"--count=3", "--output-nmea=1"},
             [](const HOST_PARAM_T& p) {
               EXPECT_EQ(p.count, 3);
               EXPECT_EQ(p.output_nmea, 1);
             }},
        Case{"every_int_parameter",
             {"--count",          "3",   "--com-num",       "3",   "--com-num2",           "4",
              "--com-num3",       "5",   "--kml-color",     "4",   "--kml-start-sec",      "60",
              "--sd-replay",      "1",   "--sd-convert",    "1",   "--dr-out-gps-fixmode", "1",
              "--do-kml-output",  "0",   "--force-warm",    "1",   "--force-cold",         "1",
              "--out-ansi-color", "1",   "--gnss-sel-bits", "0x5", "--nav-platform-model", "2",
              "--dazar-enabled",  "1",   "--navsys",        "1",   "--snr-mask",           "30",
              "--geosnr-mask",    "33",  "--evl-mask",      "10",  "--is-rinex",           "1",
              "--is-crvraw",      "0",   "--is-rtcm",       "1",   "--rtk-reset",          "0",
              "--exsats",         "3,17"},
             [](const HOST_PARAM_T& p) {
               EXPECT_EQ(p.count, 3);
               EXPECT_EQ(p.com_num, 3);
               EXPECT_EQ(p.com_num2, 4);
               EXPECT_EQ(p.com_num3, 5);
               EXPECT_EQ(p.kml_color, KML_BLUE);
               EXPECT_EQ(p.kml_start_sec, 60);
               EXPECT_EQ(p.sd_replay, 1);
               EXPECT_EQ(p.sd_convert, 1);
               EXPECT_EQ(p.dr_out_gps_fixmode, 1);
               EXPECT_EQ(p.do_kml_output, 0);
               EXPECT_EQ(p.force_warm, 1);
               EXPECT_EQ(p.force_cold, 1);
               EXPECT_EQ(p.out_ansi_color, 1);
               EXPECT_EQ(p.gnss_sel_bits, 5u);
               EXPECT_EQ(p.nav_platform_model, CAR);
               EXPECT_EQ(p.dazar_enabled, 1);
               EXPECT_EQ(p.navsys, 1);
               EXPECT_EQ(p.snr_mask, 30);
               EXPECT_EQ(p.geosnr_mask, 33);
               EXPECT_EQ(p.evl_mask, 10);
               EXPECT_EQ(p.is_rinex, 1);
               EXPECT_EQ(p.is_crvraw, 0);
               EXPECT_EQ(p.is_rtcm, 1);
               EXPECT_EQ(p.rtk_reset, 0);
               EXPECT_EQ(p.exsats[0], 2);  // count, then the satellites
               EXPECT_EQ(p.exsats[1], 3);
               EXPECT_EQ(p.exsats[2], 17);
             }},
        Case{"device_paths",
             {"--port", "/dev/ttyUSB0", "--base-port", "/dev/pts/7", "--out-port", "/dev/ttyACM1", "--rover-file",
              "rover.bin", "--base-file", "base.bin"},
             [](const HOST_PARAM_T& p) {
               EXPECT_STREQ(p.port_path, "/dev/ttyUSB0");
               EXPECT_STREQ(p.base_port_path, "/dev/pts/7");
               EXPECT_STREQ(p.out_port_path, "/dev/ttyACM1");
               EXPECT_STREQ(p.rover_file, "rover.bin");
               EXPECT_STREQ(p.base_file, "base.bin");
             }},
        Case{"usage_words",
             {"log", "com3", "ttyUSB", "nokml", "-kmlstart", "120", "green", "-app", "_run1"},
             [](const HOST_PARAM_T& p) {
               EXPECT_EQ(p.mode, HOST_LOGGING);
               EXPECT_EQ(p.com_num, 3);
               EXPECT_EQ(p.do_kml_output, 0);
               EXPECT_EQ(p.kml_start_sec, 120);
               EXPECT_EQ(p.kml_color, KML_GREEN);
               EXPECT_STREQ(p.kml_append, "_run1");
             }},
        Case{"every_colour_word", {"black"}, [](const HOST_PARAM_T& p) { EXPECT_EQ(p.kml_color, KML_BLACK); }},
        Case{"white", {"yellow", "white"}, [](const HOST_PARAM_T& p) { EXPECT_EQ(p.kml_color, KML_WHITE); }},
        Case{"rinex_inputs",
             {"--rover-rinex", "r.obs", "--base-rinex=b.obs", "--nav", "a.nav", "--nav", "b.nav", "--base-pos",
              "-3749943.5172,3683398.2394,3600629.5295"},
             [](const HOST_PARAM_T& p) {
               EXPECT_STREQ(p.rover_rinex, "r.obs");
               EXPECT_STREQ(p.base_rinex, "b.obs");
               ASSERT_EQ(p.n_nav, 2);
               EXPECT_STREQ(p.nav_files[1], "b.nav");
               EXPECT_EQ(p.has_base_pos, 1);
               EXPECT_DOUBLE_EQ(p.base_pos[0], -3749943.5172);
               EXPECT_DOUBLE_EQ(p.base_pos[2], 3600629.5295);
             }}),
    [](const ::testing::TestParamInfo<Case>& i) { return i.param.name; });

// Command lines that end the program: help and version with 0, every refusal
// with 2 after printing the usage. Values that would index a table are refused
// here, before any table is touched.
struct Refused {
  std::string name;
  std::vector<std::string> args;
  int exit_code = 2;
};
void PrintTo(const Refused& c, std::ostream* os) { *os << c.name; }

class MainParamRefused : public ::testing::TestWithParam<Refused> {};

TEST_P(MainParamRefused, ExitsWithUsage) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  int ret = -1;
  const HOST_PARAM_T p = parse(GetParam().args, &ret);
  const std::string out = ::testing::internal::GetCapturedStdout();
  const std::string err = ::testing::internal::GetCapturedStderr();
  sio_set_tty_type("S");
  ASSERT_EQ(ret, 0) << out << err;
  EXPECT_EQ(p.exit_code, GetParam().exit_code);
  if (GetParam().exit_code == 2) {
    EXPECT_NE(err.find("Usage: talonhost"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, MainParamRefused,
    ::testing::Values(
        Refused{"help", {"help"}, 0}, Refused{"version", {"version"}, 0}, Refused{"unknown_option", {"--bogus", "1"}},
        Refused{"unknown_word", {"fly"}}, Refused{"missing_value", {"--count"}},
        Refused{"not_a_number", {"--count", "3x"}}, Refused{"negative_count", {"--count", "-1"}},
        Refused{"overflow", {"--count", "99999999999"}}, Refused{"kml_color_out_of_table", {"--kml-color", "6"}},
        Refused{"platform_model_out_of_table", {"--nav-platform-model", "6"}},
        Refused{"platform_model_negative", {"--nav-platform-model", "-1"}},
        Refused{"mode_out_of_range", {"--mode", "2"}}, Refused{"port_number_zero", {"com0"}},
        Refused{"port_number_too_big", {"com25"}}, Refused{"com_num_too_big", {"--com-num", "25"}},
        Refused{"kmlstart_without_value", {"-kmlstart"}},
        Refused{"appendix_too_long", {"-app", "0123456789012345678901234"}}, Refused{"empty_path", {"--port", ""}},
        Refused{"too_many_exsats", {"--exsats", "1,2,3,4,5,6,7,8,9,10"}}, Refused{"bad_exsats", {"--exsats", "1,,2"}},
        Refused{"base_pos_two_values", {"--base-pos", "1,2"}}, Refused{"base_pos_garbage", {"--base-pos", "1,2,3x"}},
        Refused{"base_pos_far_away", {"--base-pos", "1e8,0,0"}},
        Refused{"too_many_nav_files",
                {"--nav", "1", "--nav", "2", "--nav", "3", "--nav", "4", "--nav", "5", "--nav", "6", "--nav", "7",
                 "--nav", "8", "--nav", "9"}}),
    [](const ::testing::TestParamInfo<Refused>& i) { return i.param.name; });

TEST(MainParam, UsageListsEveryOptionWithItsDefault) {
  ::testing::internal::CaptureStdout();
  HOST_print_usage(stdout);
  const std::string u = ::testing::internal::GetCapturedStdout();
  std::istringstream options(
      "--mode --count --com-num --com-num2 --com-num3 --output-nmea --kml-color --kml-start-sec --sd-replay "
      "--sd-convert --dr-out-gps-fixmode --do-kml-output --force-warm --force-cold --out-ansi-color --gnss-sel-bits "
      "--nav-platform-model --dazar-enabled --rtk-mode --navsys --snr-mask --geosnr-mask --evl-mask --is-rinex "
      "--is-crvraw --is-rtcm --rtk-reset --exsats --port --base-port --out-port --rover-file --base-file --rover-rinex "
      "--base-rinex --nav --base-pos version help log com<number> tty<ttytype> nokml -kmlstart -app yellow");
  for (std::string opt; options >> opt;) {
    EXPECT_NE(u.find(opt), std::string::npos) << opt;
  }
  EXPECT_NE(u.find("(default 2)"), std::string::npos);  // rtk-mode
  EXPECT_NE(u.find("(default r.bin)"), std::string::npos);
}

}  // namespace
