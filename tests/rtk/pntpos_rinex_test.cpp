// Single-point positioning on a hardware simulator's recording (RINEX 3, GPS
// L1 C/A) against the receivers' known positions.
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>

#include "rtk/rinex.h"
#include "rtk/rtk_test_util.h"
#include "test_util.h"

namespace {

constexpr double ROVER[3] = {4156857.1195929, 673209.028774142, 4774767.03105544};
constexpr double BASE[3] = {4157177.06580187, 671230.476590636, 4774767.03105544};

// Single-point solutions of every epoch of one receiver's observation file,
// read with the engine's RINEX reader, against its known position (ECEF, m).
void run(const std::string& dir, const char* file, const double* truth, int* epochs, double* max_err, double* rms) {
  const S16 leap = RTKCMN_get_leap_second();  // the navigation header sets the leap seconds
  int exsats[10] = {0};
  RTK_init(21, 35, 40, 15, 1, exsats);
  ASSERT_EQ(RINEX_read_nav((dir + "gps.nav").c_str()), 1);
  ASSERT_GT(RTK_get_nav()->ion_gps[4], 0.0);
  ASSERT_EQ(RINEX_open_obs(RINEX_ROVER, (dir + file).c_str()), 1);
  const prcopt_t opt = rtk_test::default_opt();
  obsd_t obs[MAXOBS];
  sol_t sol{};
  int n = 0;
  gtime_t t{};
  double sum2 = 0.0;
  *epochs = 0;
  *max_err = 0.0;
  while (RINEX_read_obs_epoch(RINEX_ROVER, obs, &n, &t) == 1) {
    RINEX_deliver_nav(t);
    char msg[128];
    ASSERT_EQ(pntpos(obs, n, RTK_get_nav(), &opt, &sol, nullptr, nullptr, msg), 1) << msg;
    ASSERT_EQ(sol.stat, SOLQ_SINGLE);
    const double d = rtk_test::dist(sol.rr, truth);
    *max_err = std::fmax(*max_err, d);
    sum2 += d * d;
    ++*epochs;
  }
  RINEX_close_obs(RINEX_ROVER);
  RTKCMN_set_leap_second(leap);
  *rms = std::sqrt(sum2 / std::max(*epochs, 1));
}

// The recording models Klobuchar and Saastamoinen like the engine; every epoch
// solves within a metre (without T_GD the same run is up to 9 m off).
struct ReceiverCase {
  const char* file;
  const double* truth;  // ECEF, m
};
void PrintTo(const ReceiverCase& c, std::ostream* os) { *os << c.file; }

class PntposRinex : public ::testing::TestWithParam<ReceiverCase> {};

TEST_P(PntposRinex, HardwareSimulatorWithinOneMetre) {
  TALON_SHARED_DATA_OR_SKIP(dir, "rinex/spirent-2km-static");
  int epochs = 0;
  double max_err = 0.0, rms = 0.0;
  run(dir, GetParam().file, GetParam().truth, &epochs, &max_err, &rms);
  EXPECT_EQ(epochs, 601);
  EXPECT_LT(max_err, 1.0);
  EXPECT_LT(rms, 0.5);
}

INSTANTIATE_TEST_SUITE_P(Spirent2kmStatic, PntposRinex,
                         ::testing::Values(ReceiverCase{"rover.obs", ROVER}, ReceiverCase{"base.obs", BASE}),
                         [](const auto& i) {
                           return talon_test::case_name(
                               std::string(i.param.file).substr(0, std::string(i.param.file).find('.')));
                         });

}  // namespace
