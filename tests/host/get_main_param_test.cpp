// The command line, as tables of cases. (The usage text, every option with its
// default, is pinned byte for byte by Regress.bad_unknown_option.)
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "host/host.h"
#include "host/pc_sio.h"

namespace {

using std::tuple;

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

// Every field of a command line with no argument (get_main_param overwrites the mode 77 of parse).
void defaults(const HOST_PARAM_T& p) {
  EXPECT_EQ(tuple(p.mode, p.count, p.com_num, p.com_num2, p.com_num3, p.output_nmea, p.kml_color, p.kml_start_sec),
            tuple(HOST_REPLAY, 0, -1, -1, -1, 0, KML_RED, 0));
  EXPECT_EQ(tuple(p.sd_replay, p.sd_convert, p.dr_out_gps_fixmode, p.do_kml_output, p.force_warm, p.force_cold,
                  p.out_ansi_color, p.gnss_sel_bits, p.nav_platform_model, p.dazar_enabled),
            tuple(0, 0, 0, 1, 0, 0, 0, 1u, 0, 0));
  EXPECT_EQ(tuple(p.rtk_mode, p.navsys, p.snr_mask, p.geosnr_mask, p.evl_mask, p.is_rinex, p.is_crvraw, p.is_rtcm,
                  p.rtk_reset, p.rtk_integrity, p.snr_reentry, p.n_nav, p.has_base_pos),
            tuple(2, 21, 35, 40, 15, 0, 1, 0, 2, 1, 20, 0, 0));
  EXPECT_EQ(p.exsats, decltype(p.exsats){});
  EXPECT_EQ(tuple(std::string(p.rover_file), std::string(p.base_file), std::string(p.port_path),
                  std::string(p.kml_append), std::string(p.rover_rinex)),
            tuple("r.bin", "b.bin", "", "", ""));
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
             {"--count",          "3",    "--com-num",       "3",  "--com-num2",           "4",
              "--com-num3",       "5",    "--kml-color",     "4",  "--kml-start-sec",      "60",
              "--sd-replay",      "1",    "--sd-convert",    "1",  "--dr-out-gps-fixmode", "1",
              "--do-kml-output",  "0",    "--force-warm",    "1",  "--force-cold",         "1",
              "--out-ansi-color", "1",    "--gnss-sel-bits", "5",  "--nav-platform-model", "2",
              "--dazar-enabled",  "1",    "--navsys",        "1",  "--snr-mask",           "30",
              "--geosnr-mask",    "33",   "--evl-mask",      "10", "--is-rinex",           "1",
              "--is-crvraw",      "0",    "--is-rtcm",       "1",  "--rtk-reset",          "0",
              "--exsats",         "3,17", "--rtk-integrity", "0"},
             [](const HOST_PARAM_T& p) {
               EXPECT_EQ(tuple(p.count, p.com_num, p.com_num2, p.com_num3, p.kml_color, p.kml_start_sec, p.sd_replay,
                               p.sd_convert, p.dr_out_gps_fixmode, p.do_kml_output, p.force_warm, p.force_cold),
                         tuple(3, 3, 4, 5, KML_BLUE, 60, 1, 1, 1, 0, 1, 1));
               EXPECT_EQ(tuple(p.out_ansi_color, p.gnss_sel_bits, p.nav_platform_model, p.dazar_enabled, p.navsys,
                               p.snr_mask, p.geosnr_mask, p.evl_mask),
                         tuple(1, 5u, CAR, 1, 1, 30, 33, 10));
               EXPECT_EQ(tuple(p.is_rinex, p.is_crvraw, p.is_rtcm, p.rtk_reset, p.rtk_integrity), tuple(1, 0, 1, 0, 0));
               EXPECT_EQ(tuple(p.exsats[0], p.exsats[1], p.exsats[2]), tuple(2, 3, 17));  // count, then the satellites
             }},
        Case{"snr_reentry", {"--snr-reentry", "5"}, [](const HOST_PARAM_T& p) { EXPECT_EQ(p.snr_reentry, 5); }},
        Case{"snr_reentry_longest",
             {"--snr-reentry", "600"},
             [](const HOST_PARAM_T& p) { EXPECT_EQ(p.snr_reentry, 600); }},
        Case{"snr_reentry_off", {"--snr-reentry=0"}, [](const HOST_PARAM_T& p) { EXPECT_EQ(p.snr_reentry, 0); }},
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
        Case{"decimal_with_leading_zeros",
             {"--evl-mask", "08", "--snr-mask", "010", "--count", "007"},
             [](const HOST_PARAM_T& p) { EXPECT_EQ(tuple(p.evl_mask, p.snr_mask, p.count), tuple(8, 10, 7)); }},
        Case{"path_of_255_characters",
             {"--rover-file", std::string(255, 'p')},
             [](const HOST_PARAM_T& p) { EXPECT_EQ(std::string(p.rover_file), std::string(255, 'p')); }},
        Case{"base_pos_99_km_up_and_down",
             {"--base-pos", "6477137,0,0", "--base-pos", "0,0,-6257752"},  // polar radius 6356752.3 m
             [](const HOST_PARAM_T& p) { EXPECT_EQ(tuple(p.has_base_pos, p.base_pos[2]), tuple(1, -6257752.0)); }},
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
  std::string err_has = "talonhost: ";  // stderr starts with this
};
void PrintTo(const Refused& c, std::ostream* os) { *os << c.name; }

const std::string BASE_POS_RULE =
    "talonhost: --base-pos: the base position must lie within 100 km of the Earth's surface (WGS-84 height -100000 "
    "to 100000 m)\n";

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
    EXPECT_EQ(err.substr(0, GetParam().err_has.size()), GetParam().err_has);
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
        Refused{"mode_out_of_range", {"--mode", "2"}}, Refused{"integrity_not_a_switch", {"--rtk-integrity", "2"}},
        Refused{"snr_reentry_too_long", {"--snr-reentry", "601"}},
        Refused{"snr_reentry_negative", {"--snr-reentry", "-1"}}, Refused{"port_number_zero", {"com0"}},
        Refused{"port_number_too_big", {"com25"}}, Refused{"com_num_too_big", {"--com-num", "25"}},
        Refused{"kmlstart_without_value", {"-kmlstart"}},
        Refused{"appendix_too_long", {"-app", "0123456789012345678901234"}}, Refused{"empty_path", {"--port", ""}},
        Refused{"too_many_exsats", {"--exsats", "1,2,3,4,5,6,7,8,9,10"}}, Refused{"bad_exsats", {"--exsats", "1,,2"}},
        Refused{"base_pos_two_values", {"--base-pos", "1,2"}}, Refused{"base_pos_garbage", {"--base-pos", "1,2,3x"}},
        Refused{"hex_integer", {"--evl-mask", "0x10"}, 2, "talonhost: unknown or malformed option: --evl-mask"},
        Refused{"hex_bits", {"--gnss-sel-bits=0x5"}, 2, "talonhost: unknown or malformed option: --gnss-sel-bits"},
        Refused{"base_pos_far_away", {"--base-pos", "1e8,0,0"}, 2, BASE_POS_RULE},
        Refused{"base_pos_origin", {"--base-pos=0,0,0"}, 2, BASE_POS_RULE},
        Refused{"base_pos_in_km", {"--base-pos", "-3749.9435172,3683.3982394,3600.6295295"}, 2, BASE_POS_RULE},
        Refused{"base_pos_101_km_up", {"--base-pos", "6479137,0,0"}, 2, BASE_POS_RULE},
        Refused{"base_pos_101_km_down", {"--base-pos", "0,0,6255752"}, 2, BASE_POS_RULE},
        Refused{"path_of_256_characters",
                {"--base-rinex", std::string(256, 'p')},
                2,
                "talonhost: --base-rinex: path longer than 255 characters"},
        Refused{"nav_path_of_256_characters",
                {"--nav", std::string(256, 'p')},
                2,
                "talonhost: --nav: path longer than 255 characters"},
        Refused{"too_many_nav_files",
                {"--nav", "1", "--nav", "2", "--nav", "3", "--nav", "4", "--nav", "5", "--nav", "6", "--nav", "7",
                 "--nav", "8", "--nav=9"},
                2,
                "talonhost: --nav: at most 8 navigation files\n"}),
    [](const ::testing::TestParamInfo<Refused>& i) { return i.param.name; });

}  // namespace
