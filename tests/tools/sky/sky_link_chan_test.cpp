// Channel report fields of the simulated target, decoded with the host's
// conversions written here on their own: transmit time within 2 cm/c,
// Doppler within 0.05 Hz, C/N0 within 0.5 dB.
#include <gtest/gtest.h>

#include <cmath>

#include "tools/sky/sky_link.h"

namespace {

constexpr double C = 299792458.0;

struct ModeConst {
  int mode;
  double ideal_bb;  // Hz, table value plus the mixer residual
  float tm_scale;   // NCO units per Hz
};
// Residual of mode m: (1575.42 MHz − f × PLL) − word × f / 2^28 − ideal.
double residual(double f, int pll, double word, double ideal) {
  return (1575.42e6 - f * pll) - word * f / 268435456.0 - ideal;
}
const ModeConst MODE_CONST[] = {
    {0, 32051.25 + residual(16367667.0, 96, 67108864.0, 32051.25), 32.800697326660156f},
    {1, 0.0 + residual(16368000.0, 96, 67108864.0, 0.0), 32.80002975463867f},
    {2, -96250.0 + residual(16369000.0, 96, 67108864.0, -96250.0), 32.79802703857422f},
    {3, 0.0 + residual(19500000.0, 81, -56164957.0, 0.0), 27.531841278076172f},
    {4, 0.0 + residual(24552000.0, 64, 44739243.0, 0.0), 21.866687774658203f},
};

// Sub-bit time (s) from the code phase register, nsc and peak tap.
double decode_sub_bit(uint32_t reg, int nsc, int peak_tap) {
  const double ms = (reg >> 11) & 31;
  const double chip = reg & 0x3FF;
  int sc = static_cast<int>((reg >> 28) & 7);
  if (sc == 0) sc = nsc;
  sc -= 1;
  const double frac = (reg >> 16) & 0x3FF;
  return 0.001 * (ms + (chip - 1) / 1023.0 + sc / (nsc * 1023.0) + frac / (nsc * 1023.0 * 1024.0)) -
         peak_tap / (nsc * 1023.0 * 1000.0) + 4.887585532746823e-7;
}

double decode_doppler(int32_t word, const ModeConst& m) {
  const float inv = 1.0f / m.tm_scale;
  const float nco = static_cast<float>(word) * inv;
  return static_cast<double>(static_cast<float>(static_cast<float>(m.ideal_bb) - nco));
}

double decode_cn0(const ASIC_CHAN_MEAS_T& a, uint32_t noise) {
  if (a.cn_count == 0) return 0.0;
  const uint64_t x = a.acc_power / static_cast<uint32_t>(a.cn_count);
  const uint64_t y =
      (static_cast<uint64_t>(a.cn_integ) * (noise / static_cast<uint64_t>(a.cn_div * a.cn_div))) >> (2 * a.cn_shift);
  const int64_t z = static_cast<int64_t>(x / y) - 1;
  if (z <= 0) return 0.0;
  return 10.0 * std::log10(static_cast<double>(1000 / a.cn_integ) * static_cast<double>(z));
}

struct SignalCase {
  const char* name;
  double sub_bit_s;
  double doppler_hz;
  double cn0;
};
const SignalCase SIGNALS[] = {
    {"bit_start", 0.0, 0.0, 45.0},
    {"half_chip", 4.887585532746823e-7, -4999.9, 27.3},
    {"within_first_chip", 1.3e-7, 4321.123, 30.0},
    {"mid_bit", 0.0101234567891, 1234.567, 38.77},
    {"millisecond_edge", 0.007 - 1e-12, -0.049, 50.0},
    {"last_chip", 0.02 - 2e-7, 5500.5, 55.5},
    {"odd_value", 0.0133333333333, -2718.2818, 41.41},
};

TEST(SkyLinkChan, CodePhaseGivesBackTheSubBitWithin2cm) {
  for (const SignalCase& c : SIGNALS) {
    for (int peak : {0, 3, 7}) {
      SCOPED_TRACE(testing::Message() << c.name << " peak " << peak);
      const uint32_t reg = SKY_LINK_code_phase_reg(c.sub_bit_s, SKY_LINK_NSC, static_cast<uint8_t>(peak));
      const double back = decode_sub_bit(reg, SKY_LINK_NSC, peak);
      EXPECT_LE(std::fabs(back - c.sub_bit_s) * C, 0.02);
      EXPECT_EQ(reg & 0x8C000000U, 0U);  // bits 31, 27 and 26 unused
    }
  }
}

TEST(SkyLinkChan, CodePhaseWithFewerSubChips) {
  for (int nsc : {1, 2, 4, 7}) {
    const double s = 0.0123456;
    const uint32_t reg = SKY_LINK_code_phase_reg(s, static_cast<uint8_t>(nsc), 0);
    // the resolution is 1/(nsc × 1024) chip: 977.5 ns / (nsc × 1024), rounded
    EXPECT_LE(std::fabs(decode_sub_bit(reg, nsc, 0) - s), 0.5 / (1.023e6 * nsc * 1024.0) + 1e-15) << nsc;
  }
}

TEST(SkyLinkChan, NcoWordGivesBackTheDopplerWithin5cHz) {
  for (const ModeConst& m : MODE_CONST) {
    SKY_TCXO_T t;
    ASSERT_EQ(SKY_LINK_tcxo(m.mode, &t), 1);
    for (const SignalCase& c : SIGNALS) {
      SCOPED_TRACE(testing::Message() << "mode " << m.mode << " " << c.name);
      EXPECT_NEAR(decode_doppler(SKY_LINK_nco_word(t, c.doppler_hz), m), c.doppler_hz, 0.05);
    }
  }
}

TEST(SkyLinkChan, Cn0FieldsGiveBackTheCn0WithinHalfADb) {
  for (const ModeConst& m : MODE_CONST) {
    SKY_TCXO_T t;
    ASSERT_EQ(SKY_LINK_tcxo(m.mode, &t), 1);
    for (double cn0 = 27.0; cn0 <= 60.0; cn0 += 0.37) {
      SCOPED_TRACE(testing::Message() << "mode " << m.mode << " cn0 " << cn0);
      ASIC_CHAN_MEAS_T a{};
      SKY_LINK_cn0_fields(cn0, t.noise_power, &a);
      EXPECT_GE(a.cn_shift, 0);
      EXPECT_LE(a.cn_shift, 15);
      EXPECT_EQ(a.cn_integ, 20);
      EXPECT_NEAR(decode_cn0(a, t.noise_power), cn0, 0.5);
      // real division of x by y gives the same C/N0 (x is a whole multiple of y)
      const double y = static_cast<double>((20ULL * t.noise_power) >> (2 * a.cn_shift));
      const double xr = static_cast<double>(a.acc_power / 50U);
      EXPECT_DOUBLE_EQ(xr / y, std::floor(xr / y));
    }
  }
}

// The noise power the target reports lets the host's noise floor start where
// the host's default puts it: 2 500 000 × (f / 16 367 667)² + 5000.
TEST(SkyLinkChan, NoisePowerMatchesTheDefaultFloor) {
  const double f[] = {16367667.0, 16368000.0, 16369000.0, 19500000.0, 24552000.0};
  for (int mode = 0; mode < 5; ++mode) {
    SKY_TCXO_T t;
    ASSERT_EQ(SKY_LINK_tcxo(mode, &t), 1);
    const double r = f[mode] / 16367667.0;
    EXPECT_NEAR(static_cast<double>(t.noise_power), 2500000.0 * r * r + 5000.0, 2.0) << mode;
  }
}

}  // namespace
