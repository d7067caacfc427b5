// Data-bit batches of the simulated target: the transmitted bits in order,
// either polarity, and seeded flips and losses.
#include <gtest/gtest.h>

#include "tests/tools/sky/sky_link_fake.h"
#include "tools/sky/sky_link.h"

namespace {

using sky_fake::fake_nav_word;

TEST(SkyLinkBits, BatchesCarryTheWordsBitsEarliestHighest) {
  const SKY_BIT_FAULTS_T none;
  struct Case {
    const char* name;
    int64_t first;
  };
  const Case cases[] = {{"word_aligned", 2400LL * SKY_LINK_BITS_PER_WEEK + 30 * 1234},
                        {"straddling_two_words", 2400LL * SKY_LINK_BITS_PER_WEEK + 30 * 1234 + 17},
                        {"across_the_week_end", 2401LL * SKY_LINK_BITS_PER_WEEK - 11}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int lost = 1;
    const uint32_t bits = SKY_LINK_batch_bits(fake_nav_word, 7, c.first, 0, none, &lost);
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(bits >> 30, 0U);
    for (int i = 0; i < 30; ++i) {
      const int64_t b = c.first + i;
      const int64_t w = b / 30;
      const auto week = static_cast<int32_t>(w / 1008000);
      const auto idx = static_cast<int32_t>(w % 1008000);
      const uint32_t expect = (fake_nav_word(7, week, idx) >> (29 - b % 30)) & 1U;
      ASSERT_EQ((bits >> (29 - i)) & 1U, expect) << "bit " << i;
    }
    EXPECT_EQ(SKY_LINK_batch_bits(fake_nav_word, 7, c.first, 1, none, nullptr), bits ^ 0x3FFFFFFFU);
  }
}

TEST(SkyLinkBits, WordAlignedBatchIsTheWord) {
  const SKY_BIT_FAULTS_T none;
  EXPECT_EQ(SKY_LINK_batch_bits(fake_nav_word, 3, 2400LL * SKY_LINK_BITS_PER_WEEK + 30 * 99, 0, none, nullptr),
            fake_nav_word(3, 2400, 99));
}

double flip_fraction(const SKY_BIT_FAULTS_T& f, int n_batches) {
  const SKY_BIT_FAULTS_T none;
  int flipped = 0;
  for (int k = 0; k < n_batches; ++k) {
    const int64_t first = 2400LL * SKY_LINK_BITS_PER_WEEK + 30 * k;
    const uint32_t d = SKY_LINK_batch_bits(fake_nav_word, 5, first, 0, f, nullptr) ^
                       SKY_LINK_batch_bits(fake_nav_word, 5, first, 0, none, nullptr);
    flipped += __builtin_popcount(d);
  }
  return flipped / (30.0 * n_batches);
}

TEST(SkyLinkBits, FlipsAndLossesFollowTheirRatesAndTheSeed) {
  SKY_BIT_FAULTS_T f;
  f.seed = 11;
  f.bit_flip_rate = 0.02;
  const double fr = flip_fraction(f, 2000);
  EXPECT_NEAR(fr, 0.02, 0.005);
  EXPECT_EQ(flip_fraction(f, 200), flip_fraction(f, 200));  // same seed, same flips
  SKY_BIT_FAULTS_T g = f;
  g.seed = 12;
  int differ = 0;
  for (int k = 0; k < 200; ++k) {
    const int64_t first = 30LL * k;
    differ += SKY_LINK_batch_bits(fake_nav_word, 5, first, 0, f, nullptr) !=
              SKY_LINK_batch_bits(fake_nav_word, 5, first, 0, g, nullptr);
  }
  EXPECT_GT(differ, 50);
  SKY_BIT_FAULTS_T l;
  l.seed = 3;
  l.batch_loss_rate = 0.25;
  int lost_n = 0;
  for (int k = 0; k < 4000; ++k) {
    int lost = 0;
    SKY_LINK_batch_bits(fake_nav_word, 9, 30LL * k, 0, l, &lost);
    lost_n += lost;
  }
  EXPECT_NEAR(lost_n / 4000.0, 0.25, 0.03);
}

}  // namespace
