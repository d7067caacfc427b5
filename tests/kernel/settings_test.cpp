// Kernel settings: the checked setters.
#include <gtest/gtest.h>

#include "kernel/src/settings.h"

namespace {

TEST(Settings, PositionRateAcceptsOnlyTheListedRates) {
  SETTINGS_init();
  EXPECT_EQ(SETTINGS_set_n_hz_position_rate(3), 0);
  EXPECT_EQ(SETTINGS_get_n_hz_position_rate(), 1);
  EXPECT_EQ(SETTINGS_set_n_hz_position_rate(20), 1);
  EXPECT_EQ(SETTINGS_get_n_hz_position_rate(), 20);
  for (S16 r : {0, -1, 3, 6, 30, 51, 100, 256}) EXPECT_EQ(SETTINGS_set_n_hz_position_rate(r), 0) << r;
  EXPECT_EQ(SETTINGS_get_n_hz_position_rate(), 20);
  for (S16 r : {1, 2, 4, 5, 8, 10, 20, 25, 40, 50}) EXPECT_EQ(SETTINGS_set_n_hz_position_rate(r), 1) << r;
}

TEST(Settings, CheckedStores) {
  SETTINGS_init();
  EXPECT_EQ(SETTINGS_set_user_navigation_model(6), 0);
  EXPECT_EQ(SETTINGS_get_user_navigation_model(), NMODEL_DEFAULT);
  EXPECT_EQ(SETTINGS_set_user_navigation_model(AIRBORNE), 1);
  EXPECT_EQ(SETTINGS_get_user_navigation_model(), AIRBORNE);
  EXPECT_EQ(SETTINGS_set_number_of_gps_PSE(9), 0);
  EXPECT_EQ(SETTINGS_set_number_of_gps_PSE(-1), 0);
  EXPECT_EQ(SETTINGS_get_number_of_gps_PSE(), 8);
  EXPECT_EQ(SETTINGS_set_number_of_gps_PSE(0), 1);
  EXPECT_EQ(SETTINGS_get_number_of_gps_PSE(), 0);
}

TEST(Settings, UnsupportedSettersStoreNothing) {
  SETTINGS_init();
  EXPECT_EQ(SETTINGS_set_number_of_glonass_PSE(4), 0);
  EXPECT_EQ(SETTINGS_get_number_of_glonass_PSE(), 0);
  EXPECT_EQ(SETTINGS_set_dazar_enable(1), 0);
  EXPECT_EQ(SETTINGS_get_dazar_enable(), 0);
  EXPECT_EQ(SETTINGS_set_sorrel_pps_clock_source_mode(1), 0);
  EXPECT_EQ(SETTINGS_get_sorrel_pps_clock_source_mode(), 3);
  const TIMING_T t{TIMING_PVT_MODE, 1, 1, {1, 2, 3}, {0, 0, 0}};
  EXPECT_EQ(SETTINGS_set_timing_mode(&t), 0);
  TIMING_T got{};
  SETTINGS_get_timing_mode(&got);
  EXPECT_EQ(got.mode, TIMING_SURVEY_MODE);
  EXPECT_EQ(SETTINGS_set_pps_output_mode(2), 0);
  EXPECT_EQ(SETTINGS_get_pps_output_mode(), 1);
  EXPECT_EQ(SETTINGS_set_pps_align_mode(1), 0);
  EXPECT_EQ(SETTINGS_get_pps_align_mode(), 0);
  const FREQ_OUT_T f{1};
  EXPECT_EQ(SETTINGS_set_freq_out_mode(&f), 0);
}

TEST(Settings, SbasRangingModeFollowsTheEnable) {
  SETTINGS_init();
  EXPECT_EQ(SETTINGS_get_sbas_ranging_mode(), SBAS_RANGING_MODE_AUTO);
  SBAS_PARAMETER_T p{};
  SETTINGS_get_sbas_para(&p);
  p.sbas_enable_disable = 0;
  SETTINGS_set_sbas_para(&p);
  EXPECT_EQ(SETTINGS_get_sbas_ranging_mode(), 0);
  p.sbas_enable_disable = 1;
  p.ranging_enable_disable = SBAS_RANGING_MODE_ENABLE;
  SETTINGS_set_sbas_para(&p);
  EXPECT_EQ(SETTINGS_get_sbas_ranging_mode(), SBAS_RANGING_MODE_ENABLE);
}

}  // namespace
