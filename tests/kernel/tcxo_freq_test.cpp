// TCXO modes: nominal frequencies, the clock counts and NCO scales derived from
// them, the mixer residual where the frequency plan puts it, and modes outside
// the table refused.
#include <gtest/gtest.h>

#include <cmath>

#include "kernel/src/tcxo_freq.h"

namespace {

// A mode's nominal frequency (Hz) and its frequency plan: PLL factor and NCO word.
struct Plan {
  int mode;
  U32 freq;
  double pll, word;
};
constexpr Plan PLANS[] = {{0, 16367667u, 96, 67108864},
                          {1, 16368000u, 96, 67108864},
                          {2, 16369000u, 96, 67108864},
                          {3, 19500000u, 81, -56164957},
                          {4, 24552000u, 64, 44739243}};

TEST(TcxoFreq, EveryModeFollowsItsFrequencyAndFrequencyPlan) {
  for (const Plan& p : PLANS) {
    SCOPED_TRACE(p.mode);
    EXPECT_EQ(TCXO_convert_mode_to_freq(p.mode), p.freq);
    ASSERT_EQ(TCXO_init(p.mode), 1);
    EXPECT_EQ(TCXO_get_tcxo_freq(), p.freq);
    EXPECT_EQ(TCXO_get_sampling_freq(1), p.freq);
    EXPECT_EQ(TCXO_get_asic_clock_per_ms0(), p.freq / 1000);  // whole clocks a ms, then the remainder
    EXPECT_EQ(TCXO_get_asic_clock_fraction(), p.freq % 1000);
    const double f = p.freq;
    EXPECT_EQ(TCXO_get_pse_nco_freq_scale(), static_cast<float>(67108864.0 / f));  // 2^26 / f
    EXPECT_EQ(TCXO_get_tm_nco_freq_scale(), static_cast<float>(536870912.0 / f));  // 2^29 / f
    // The ideal baseband frequency is what the carrier actually lands on:
    // L1 - f x PLL - NCO word x f / 2^28; the offsets are that residual in NCO
    // units (within truncation).
    const double bb = 1575.42e6 - f * p.pll - p.word * f / 268435456.0;
    EXPECT_NEAR(TCXO_get_ideal_baseband_carrier_freq(), bb, 0.05);
    EXPECT_NEAR(TCXO_get_pse_nco_offset0(), bb * 67108864.0 / f, 2.0);
    EXPECT_NEAR(TCXO_get_tm_nco_offset0(), bb * 536870912.0 / f, 16.0);
  }
  for (const int bad : {5, -1}) {
    EXPECT_EQ(TCXO_convert_mode_to_freq(bad), 0u);
    EXPECT_EQ(TCXO_init(bad), 0);
  }
  EXPECT_EQ(TCXO_get_tcxo_freq(), 24552000u);  // unchanged since mode 4
}

}  // namespace
