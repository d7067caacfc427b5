// Navigation data bits as the target sends them: 30-bit batches of the
// transmitted bit stream, either polarity, with seeded bit flips and losses.
#include <cstdint>

#include "tools/sky/sky_link.h"

namespace {

constexpr uint64_t LOSS_SALT = 0x9E3779B97F4A7C15ULL;

uint64_t splitmix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

// Uniform number in [0, 1) from (seed, svid, index): the same triple, the same number.
double unit_hash(uint64_t seed, int svid, int64_t index) {
  const uint64_t h = splitmix64(splitmix64(seed ^ (static_cast<uint64_t>(svid) << 48)) ^ static_cast<uint64_t>(index));
  return static_cast<double>(h >> 11) * (1.0 / 9007199254740992.0);
}

}  // namespace

int SKY_LINK_nav_bit(SKY_NAV_WORD_FN nav, int svid, int64_t abs_bit) {
  if (nav == nullptr || abs_bit < 0) return 0;
  const int64_t word_total = abs_bit / 30;
  const auto week = static_cast<int32_t>(word_total / SKY_LINK_WORDS_PER_WEEK);
  const auto index = static_cast<int32_t>(word_total % SKY_LINK_WORDS_PER_WEEK);
  const auto pos = static_cast<int>(abs_bit % 30);  // 0 = D1
  return static_cast<int>((nav(svid, week, index) >> (29 - pos)) & 1U);
}

uint32_t SKY_LINK_batch_bits(SKY_NAV_WORD_FN nav, int svid, int64_t first_abs_bit, int inverted,
                             const SKY_BIT_FAULTS_T& faults, int* lost) {
  uint32_t bits = 0;
  for (int i = 0; i < 30; ++i) {
    const int64_t b = first_abs_bit + i;
    int v = SKY_LINK_nav_bit(nav, svid, b) ^ (inverted != 0 ? 1 : 0);
    if (faults.bit_flip_rate > 0.0 && unit_hash(faults.seed, svid, b) < faults.bit_flip_rate) v ^= 1;
    bits = (bits << 1) | static_cast<uint32_t>(v);
  }
  if (lost != nullptr)
    *lost = (faults.batch_loss_rate > 0.0 &&
             unit_hash(faults.seed ^ LOSS_SALT, svid, first_abs_bit) < faults.batch_loss_rate)
                ? 1
                : 0;
  return bits;
}
