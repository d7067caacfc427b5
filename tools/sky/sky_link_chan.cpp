// Channel report fields in the target's units: code phase register, Doppler
// NCO word and the C/N0 estimator fields.
#include <cmath>
#include <cstdint>

#include "tools/sky/sky_link.h"

namespace {

constexpr double CHIP_RATE_HZ = 1.023e6;
constexpr int64_t FRAC_STEPS = 1024;  // 1/1024 sub-chip steps of the fraction field
constexpr uint64_t CN_Y_MAX = 4000;   // largest y = (integ × noise) >> (2 shift) used
constexpr int64_t CN_Z_MAX = 21000;   // keeps acc_power = 50 × y × (z + 1) within 32 bits

}  // namespace

uint32_t SKY_LINK_code_phase_reg(double sub_bit_s, uint8_t nsc, uint8_t peak_tap) {
  if (nsc == 0 || nsc > 8) nsc = SKY_LINK_NSC;
  const double n = nsc;
  // Time the fields carry: the sub-bit less the half chip the host adds, plus
  // the peak tap (sub-chips) the host subtracts; in chips, plus the one chip
  // the host's (chip − 1) takes away.
  const double t = sub_bit_s - SKY_LINK_HALF_CHIP_S + static_cast<double>(peak_tap) / (n * 1023.0 * 1000.0);
  const double v = t * CHIP_RATE_HZ + 1.0;
  const int64_t steps_per_chip = static_cast<int64_t>(nsc) * FRAC_STEPS;
  const int64_t q = std::llround(v * static_cast<double>(steps_per_chip));
  const int64_t chips = q / steps_per_chip;
  const int64_t rem = q - chips * steps_per_chip;
  const auto ms = static_cast<uint32_t>(chips / 1023);
  const auto chip = static_cast<uint32_t>(chips % 1023);
  const auto sc = static_cast<uint32_t>(rem / FRAC_STEPS);
  const auto frac = static_cast<uint32_t>(rem % FRAC_STEPS);
  const uint32_t sc_field = (sc + 1U) % nsc;  // nsc itself is written as 0
  return ((sc_field & 7U) << 28) | ((frac & 0x3FFU) << 16) | ((ms & 31U) << 11) | (chip & 0x3FFU);
}

int32_t SKY_LINK_nco_word(const SKY_TCXO_T& t, double doppler_hz) {
  return static_cast<int32_t>(std::lround((t.ideal_bb_hz - doppler_hz) * static_cast<double>(t.tm_scale)));
}

void SKY_LINK_cn0_fields(double cn0_dbhz, uint32_t noise_power, ASIC_CHAN_MEAS_T* m) {
  const uint64_t y0 = static_cast<uint64_t>(SKY_LINK_CN_INTEG_MS) * noise_power;
  int shift = 0;
  while (shift < 15 && (y0 >> (2 * shift)) > CN_Y_MAX) ++shift;
  uint64_t y = y0 >> (2 * shift);
  if (y == 0) y = 1;
  const double per_ms = 1000.0 / SKY_LINK_CN_INTEG_MS;  // the host's (1000 / cn_integ), 50
  int64_t z = std::llround(std::pow(10.0, cn0_dbhz / 10.0) / per_ms);
  if (z < 1) z = 1;
  if (z > CN_Z_MAX) z = CN_Z_MAX;
  const uint64_t x = y * static_cast<uint64_t>(z + 1);
  m->cn_integ = SKY_LINK_CN_INTEG_MS;
  m->cn_div = 1;
  m->cn_shift = static_cast<S08>(shift);
  m->cn_count = SKY_LINK_CN_COUNT;
  m->acc_power = static_cast<U32>(x * static_cast<uint64_t>(SKY_LINK_CN_COUNT));
}
