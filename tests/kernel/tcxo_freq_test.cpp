// TCXO constants: the tables agree with their definitions, and the mixer
// residual lands where the frequency plan says.
#include <gtest/gtest.h>

#include <cmath>

#include "kernel/src/tcxo_freq.h"

namespace {

TEST(TcxoFreq, ScalesAreTwoPowerOverFrequency) {
  for (int mode = 0; mode < TCXO_NUM_MODES; ++mode) {
    ASSERT_EQ(TCXO_init(mode), 1);
    const double f = TCXO_get_tcxo_freq();
    EXPECT_EQ(TCXO_get_pse_nco_freq_scale(), static_cast<float>(67108864.0 / f)) << mode;
    EXPECT_EQ(TCXO_get_tm_nco_freq_scale(), static_cast<float>(536870912.0 / f)) << mode;
    EXPECT_EQ(TCXO_get_asic_clock_per_ms0() * 1000 + TCXO_get_asic_clock_fraction(), TCXO_get_tcxo_freq());
    EXPECT_EQ(TCXO_get_sampling_freq(1), TCXO_get_tcxo_freq());
  }
}

TEST(TcxoFreq, NominalFrequencies) {
  EXPECT_EQ(TCXO_convert_mode_to_freq(0), 16367667u);
  EXPECT_EQ(TCXO_convert_mode_to_freq(1), 16368000u);
  EXPECT_EQ(TCXO_convert_mode_to_freq(2), 16369000u);
  EXPECT_EQ(TCXO_convert_mode_to_freq(3), 19500000u);
  EXPECT_EQ(TCXO_convert_mode_to_freq(4), 24552000u);
  EXPECT_EQ(TCXO_convert_mode_to_freq(5), 0u);
  EXPECT_EQ(TCXO_convert_mode_to_freq(-1), 0u);
  ASSERT_EQ(TCXO_init(4), 1);
  EXPECT_EQ(TCXO_get_asic_clock_per_ms0(), 24552u);
  EXPECT_EQ(TCXO_get_asic_clock_fraction(), 0u);
  ASSERT_EQ(TCXO_init(0), 1);
  EXPECT_EQ(TCXO_get_asic_clock_per_ms0(), 16367u);
  EXPECT_EQ(TCXO_get_asic_clock_fraction(), 667u);
}

TEST(TcxoFreq, OutOfTableModeIsRefused) {
  ASSERT_EQ(TCXO_init(3), 1);
  EXPECT_EQ(TCXO_init(5), 0);
  EXPECT_EQ(TCXO_init(-1), 0);
  EXPECT_EQ(TCXO_get_tcxo_freq(), 19500000u);  // unchanged
}

TEST(TcxoFreq, BasebandFrequencyFollowsTheFrequencyPlan) {
  // The ideal baseband frequency after initialisation is what the carrier
  // actually lands on: L1 - f x PLL - NCO word x f / 2^28.
  struct Plan {
    int mode;
    double pll;
    double word;
  };
  for (const Plan p : {Plan{0, 96, 67108864}, Plan{1, 96, 67108864}, Plan{2, 96, 67108864}, Plan{3, 81, -56164957},
                       Plan{4, 64, 44739243}}) {
    ASSERT_EQ(TCXO_init(p.mode), 1);
    const double f = TCXO_get_tcxo_freq();
    const double bb = 1575.42e6 - f * p.pll - p.word * f / 268435456.0;
    EXPECT_NEAR(TCXO_get_ideal_baseband_carrier_freq(), bb, 0.05) << p.mode;
    // The offsets move with the residual in NCO units (within truncation).
    EXPECT_NEAR(TCXO_get_pse_nco_offset0(), bb * 67108864.0 / f, 2.0) << p.mode;
    EXPECT_NEAR(TCXO_get_tm_nco_offset0(), bb * 536870912.0 / f, 16.0) << p.mode;
  }
}

}  // namespace
