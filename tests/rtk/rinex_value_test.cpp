// RINEX reader: observation values out of range are dropped one by one and
// counted per file (not as errors), and the GPS observation types of a header
// are told to the caller.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "rtk/rinex.h"
#include "rtk/rtk.h"
#include "rtk/rtk_test_util.h"
#include "test_util.h"

namespace {

using rtk_test::rinex_hdr;

std::string header(const std::string& gps_types) {
  return rinex_hdr("     3.04           OBSERVATION DATA    M: MIXED", "RINEX VERSION / TYPE") +
         rinex_hdr(gps_types, "SYS / # / OBS TYPES") + rinex_hdr("R    4 C1C L1C D1C S1C", "SYS / # / OBS TYPES") +
         rinex_hdr("", "END OF HEADER");
}

void init_engine() {
  int exsats[10] = {0};
  RTK_init(21, 35, 40, 15, 1, exsats);
}

struct ValueCase {
  const char* name;
  const char* line;                      // the one GPS satellite line of the epoch (C1C L1C D1C S1C)
  unsigned int pr, phase, doppler, snr;  // expected drops
  int kept;                              // the satellite stays in the epoch
  double P, L;                           // its pseudorange (m) and phase (cycles) then
};
void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.name; }

class RinexValue : public ::testing::TestWithParam<ValueCase> {};

TEST_P(RinexValue, DroppedAndCounted) {
  const ValueCase& c = GetParam();
  init_engine();
  const std::string text = header("G    4 C1C L1C D1C S1C") + "> 2023 01 08 10 00  0.0000000  0  1\n" + c.line + "\n";
  std::FILE* fp = rtk_test::mem_file(text);
  ASSERT_EQ(RINEX_attach_obs(RINEX_ROVER, fp, "v.obs"), 1);
  obsd_t obs[MAXOBS];
  int n = -1;
  gtime_t t{};
  ASSERT_EQ(RINEX_read_obs_epoch(RINEX_ROVER, obs, &n, &t), 1);
  ASSERT_EQ(n, c.kept);
  if (c.kept == 1) {
    EXPECT_DOUBLE_EQ(obs[0].P[0], c.P);
    EXPECT_DOUBLE_EQ(obs[0].L[0], c.L);
  }
  RINEX_VALUE_DROPS_T d{};
  RINEX_get_value_drops(RINEX_ROVER, &d);
  EXPECT_EQ(d.pseudorange, c.pr);
  EXPECT_EQ(d.phase, c.phase);
  EXPECT_EQ(d.doppler, c.doppler);
  EXPECT_EQ(d.snr, c.snr);
  const RINEX_STATS_T st = rtk_test::rinex_stats();
  EXPECT_EQ(st.errors, 0u);  // out of range is not malformed
  RINEX_close_obs(RINEX_ROVER);
  std::fclose(fp);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RinexValue,
    ::testing::Values(
        ValueCase{"all_in_range", "G08  25064360.368 9 131714052.132 9     -1477.809 9        54.233 9", 0, 0, 0, 0, 1,
                  25064360.368, 131714052.132},
        ValueCase{"pseudorange_minus_1e11", "G08      -1.0E+11 9 131714052.132 9     -1477.809 9        54.233 9", 1, 0,
                  0, 0, 1, 0.0, 131714052.132},
        ValueCase{"pseudorange_negative", "G08 -25064360.368 9 131714052.132 9     -1477.809 9        54.233 9", 1, 0,
                  0, 0, 1, 0.0, 131714052.132},
        ValueCase{"pseudorange_too_short", "G08      1000.000 9 131714052.132 9     -1477.809 9        54.233 9", 1, 0,
                  0, 0, 1, 0.0, 131714052.132},
        ValueCase{"pseudorange_too_long", "G08  90000000.000 9 131714052.132 9     -1477.809 9        54.233 9", 1, 0,
                  0, 0, 1, 0.0, 131714052.132},
        // A pseudorange and a phase both dropped leave nothing: the satellite goes.
        ValueCase{"pseudorange_and_phase", "G08      -1.0E+11 9       1.0E+12 9     -1477.809 9        54.233 9", 1, 1,
                  0, 0, 0, 0.0, 0.0},
        ValueCase{"doppler_1e7", "G08  25064360.368 9 131714052.132 9       1.0E+07 9        54.233 9", 0, 0, 1, 0, 1,
                  25064360.368, 131714052.132},
        ValueCase{"snr_negative", "G08  25064360.368 9 131714052.132 9     -1477.809 9       -54.233 9", 0, 0, 0, 1, 1,
                  25064360.368, 131714052.132},
        ValueCase{"snr_1000", "G08  25064360.368 9 131714052.132 9     -1477.809 9      1000.000 9", 0, 0, 0, 1, 1,
                  25064360.368, 131714052.132}),
    talon_test::CaseName());

struct TypesCase {
  const char* name;
  const char* gps_types;  // the GPS "SYS / # / OBS TYPES" text, "" for none
  int expected;
};
void PrintTo(const TypesCase& c, std::ostream* os) { *os << c.name; }

class RinexGpsTypes : public ::testing::TestWithParam<TypesCase> {};

TEST_P(RinexGpsTypes, Told) {
  const TypesCase& c = GetParam();
  init_engine();
  std::FILE* fp = rtk_test::mem_file(header(c.gps_types));
  ASSERT_EQ(RINEX_attach_obs(RINEX_BASE, fp, "t.obs"), 1);
  EXPECT_EQ(RINEX_get_gps_types(RINEX_BASE), c.expected);
  EXPECT_EQ(RINEX_get_gps_types(RINEX_ROVER), 0);  // not open
  RINEX_close_obs(RINEX_BASE);
  std::fclose(fp);
}

INSTANTIATE_TEST_SUITE_P(Cases, RinexGpsTypes,
                         ::testing::Values(TypesCase{"code_and_phase", "G    4 C1C L1C D1C S1C",
                                                     RINEX_GPS_CODE | RINEX_GPS_PHASE},
                                           TypesCase{"code_only", "G    2 C1C S1C", RINEX_GPS_CODE},
                                           TypesCase{"phase_only", "G    3 C5Q L1C S1C", RINEX_GPS_PHASE},
                                           TypesCase{"no_gps_list", "J    2 C1C L1C", 0}),
                         talon_test::CaseName());

}  // namespace
