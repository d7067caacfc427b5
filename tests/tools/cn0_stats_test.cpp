// C/N0 statistics: the engine's re-entry count after a satellite was below
// the C/N0 mask (set to the count in the dip epoch, one off in every epoch
// the satellite is observed, the dip epoch included, used again at 0), dip
// lengths, the elevation mask, percentiles and bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "tools/cn0_stats/cn0_stats.h"

namespace {

CN0S_T Stats;  // large: static, as in the tool

// One satellite (index 5) through a C/N0 sequence, with a second one
// (index 9) steady at 45 dB-Hz and high in every epoch.
struct SeqCase {
  const char* name;
  double mask;  // dB-Hz
  int lockout;  // epochs
  double el_mask;
  std::vector<double> cn0;  // dB-Hz per epoch of satellite 5
  std::vector<double> el;   // degrees per epoch (empty: unknown)
  unsigned long used;       // epochs satellite 5 is used (with the re-entry count)
  unsigned long held;       // epochs above both masks but held out by the count
  unsigned long below;      // epochs above the elevation mask and below the C/N0 mask
  unsigned long dips[CN0S_MAX_DIP + 1];
};

std::vector<double> seq(std::initializer_list<std::pair<double, int>> parts) {
  std::vector<double> v;
  for (const auto& [value, count] : parts) v.insert(v.end(), static_cast<std::size_t>(count), value);
  return v;
}

const std::vector<SeqCase>& seq_cases() {
  static const std::vector<SeqCase> cases = {
      // A one-epoch dip with the count 20: the count is 19 after the dip
      // epoch, 19 - k k epochs later; held for k = 1..18, used again at k = 19.
      {"one-epoch dip, count 20", 35, 20, 15, seq({{40, 5}, {30, 1}, {40, 30}}), {}, 5 + 12, 18, 1, {1, 0, 0, 0}},
      // The same dip without a count: only the dip epoch is lost.
      {"one-epoch dip, no count", 35, 0, 15, seq({{40, 5}, {30, 1}, {40, 30}}), {}, 35, 0, 1, {1, 0, 0, 0}},
      // A count of 1 ends in the dip epoch itself.
      {"one-epoch dip, count 1", 35, 1, 15, seq({{40, 5}, {30, 1}, {40, 30}}), {}, 35, 0, 1, {1, 0, 0, 0}},
      // The count restarts at the last epoch below the mask: 3 below, then 18 held.
      {"three-epoch dip, count 20", 35, 20, 15, seq({{40, 2}, {34.9, 3}, {40, 20}}), {}, 2 + 2, 18, 3, {0, 0, 1, 0}},
      // Exactly at the mask counts as above it.
      {"at the mask", 35, 20, 15, seq({{35, 10}}), {}, 10, 0, 0, {0, 0, 0, 0}},
      // Dips of 1, 2, 3 and 5 epochs, each after epochs above the mask.
      {"dip lengths",
       35,
       0,
       15,
       seq({{40, 1}, {30, 1}, {40, 1}, {30, 2}, {40, 1}, {30, 3}, {40, 1}, {30, 5}, {40, 1}}),
       {},
       5,
       0,
       11,
       {1, 1, 1, 1}},
      // Below the mask from the start, then above: no dip (nothing came back),
      // but the count holds the satellite all the same.
      {"rises above the mask", 35, 20, 15, seq({{30, 4}, {40, 25}}), {}, 25 - 18, 18, 4, {0, 0, 0, 0}},
      // A dip at the end of the file: no return, no dip.
      {"dip at the end", 35, 20, 15, seq({{40, 3}, {30, 2}}), {}, 3, 0, 2, {0, 0, 0, 0}},
      // Below the elevation mask the satellite is neither used nor counted
      // below; its count still runs, so it is held once it has risen.
      {"count runs below the elevation mask",
       35,
       20,
       15,
       seq({{30, 1}, {40, 25}}),
       seq({{10, 1}, {20, 25}}),
       25 - 18,
       18,
       0,
       {0, 0, 0, 0}},
      // A dip while low and a return while high: a dip (the count would hold
      // the satellite), but no observation below the mask above 15 degrees.
      {"dip while low, return while high",
       35,
       0,
       15,
       seq({{40, 1}, {30, 1}, {40, 3}}),
       seq({{10, 2}, {20, 3}}),
       3,
       0,
       0,
       {1, 0, 0, 0}},
      // Dip and return both below the elevation mask: nothing counted.
      {"dip and return while low", 35, 0, 15, seq({{40, 1}, {30, 1}, {40, 1}}), seq({{10, 3}}), 0, 0, 0, {0, 0, 0, 0}},
  };
  return cases;
}

TEST(Cn0Stats, ReentryCountAndDipsFollowTheEngine) {
  for (const SeqCase& c : seq_cases()) {
    SCOPED_TRACE(c.name);
    const double masks[1] = {c.mask};
    ASSERT_EQ(CN0S_init(&Stats, masks, 1, c.lockout, c.el_mask), 1);
    for (std::size_t i = 0; i < c.cn0.size(); ++i) {
      const double el = c.el.empty() ? CN0S_EL_UNKNOWN : c.el[i];
      const CN0S_OBS_T obs[2] = {{5, c.cn0[i], el}, {9, 45.0, 60.0}};
      ASSERT_EQ(CN0S_add_epoch(&Stats, obs, 2), 2);
    }
    const CN0S_MASK_T& m = Stats.m[0];
    const auto n = static_cast<unsigned long>(c.cn0.size());
    // satellite 9 is used in every epoch
    EXPECT_EQ(m.used_sum, c.used + n);
    EXPECT_EQ(m.obs_locked, c.held);
    EXPECT_EQ(m.obs_below, c.below);
    for (int k = 0; k <= CN0S_MAX_DIP; ++k) EXPECT_EQ(m.dips[k], c.dips[k]) << "dips of length index " << k;
    // without the count: every epoch above both masks
    EXPECT_EQ(m.used_nopen_sum, c.used + c.held + n);
    EXPECT_EQ(Stats.epochs, n);
  }
}

TEST(Cn0Stats, UsedPerEpochAndSatelliteShares) {
  const double masks[3] = {30.0, 35.0, 38.0};
  ASSERT_EQ(CN0S_init(&Stats, masks, 3, 20, 15.0), 1);
  // 10 epochs of three satellites at 32, 36 and 45 dB-Hz
  for (int i = 0; i < 10; ++i) {
    const CN0S_OBS_T obs[3] = {{1, 32.0, 40.0}, {2, 36.0, 40.0}, {3, 45.0, 40.0}};
    ASSERT_EQ(CN0S_add_epoch(&Stats, obs, 3), 3);
  }
  const struct {
    const char* name;
    int k;
    double mean_used;
    unsigned long fewer3, fewer2;
  } rows[] = {{"mask 30", 0, 3.0, 0, 0}, {"mask 35", 1, 2.0, 10, 0}, {"mask 38", 2, 1.0, 10, 10}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_DOUBLE_EQ(CN0S_mean_used(&Stats, r.k, 1), r.mean_used);
    EXPECT_DOUBLE_EQ(CN0S_mean_used(&Stats, r.k, 0), r.mean_used);
    EXPECT_EQ(CN0S_epochs_fewer(&Stats, r.k, 1, 3), r.fewer3);
    EXPECT_EQ(CN0S_epochs_fewer(&Stats, r.k, 1, 2), r.fewer2);
  }
  EXPECT_EQ(Stats.sat[1].below[0], 0UL);
  EXPECT_EQ(Stats.sat[1].below[1], 10UL);
  EXPECT_EQ(Stats.sat[2].below[2], 10UL);
  EXPECT_EQ(Stats.sat[3].below[2], 0UL);
  EXPECT_DOUBLE_EQ(Stats.sat[2].sum / static_cast<double>(Stats.sat[2].n), 36.0);
  EXPECT_DOUBLE_EQ(CN0S_mean_used(&Stats, 3, 1), 0.0);  // no such mask
}

TEST(Cn0Stats, Percentiles) {
  unsigned long hist[CN0S_NBIN] = {};
  EXPECT_EQ(CN0S_percentile(hist, 0.5), -1);
  EXPECT_EQ(CN0S_percentile(nullptr, 0.5), -1);
  hist[30] = 1;  // 10 % at 30
  hist[35] = 4;  // 40 % at 35
  hist[45] = 5;  // 50 % at 45
  const struct {
    double p;
    int bin;
  } rows[] = {{0.0, 30}, {0.1, 30}, {0.11, 35}, {0.5, 35}, {0.51, 45}, {1.0, 45}, {2.0, 45}, {-1.0, 30}};
  for (const auto& r : rows) EXPECT_EQ(CN0S_percentile(hist, r.p), r.bin) << "p " << r.p;
}

TEST(Cn0Stats, BadInputIsRefusedOrSkipped) {
  const double good[1] = {35.0};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double bad_mask[1] = {nan};
  const double masks9[9] = {};
  const struct {
    const char* name;
    const double* masks;
    int n, lockout;
    double el_mask;
  } inits[] = {
      {"null masks", nullptr, 1, 20, 15.0},     {"no mask", good, 0, 20, 15.0},
      {"too many masks", masks9, 9, 20, 15.0},  {"NaN mask", bad_mask, 1, 20, 15.0},
      {"negative lockout", good, 1, -1, 15.0},  {"huge lockout", good, 1, CN0S_MAX_LOCKOUT + 1, 15.0},
      {"NaN elevation mask", good, 1, 20, nan}, {"elevation mask 91", good, 1, 20, 91.0},
  };
  for (const auto& c : inits) EXPECT_EQ(CN0S_init(&Stats, c.masks, c.n, c.lockout, c.el_mask), 0) << c.name;
  EXPECT_EQ(CN0S_init(nullptr, good, 1, 20, 15.0), 0);

  ASSERT_EQ(CN0S_init(&Stats, good, 1, 20, 15.0), 1);
  const CN0S_OBS_T obs[] = {
      {0, 40.0, 30.0},   // satellite 0
      {-3, 40.0, 30.0},  // negative
      {CN0S_MAX_SAT, 40.0, 30.0},
      {4, nan, 30.0},    // C/N0 not a number
      {4, -1.0, 30.0},   // negative C/N0
      {4, 1e9, 30.0},    // far too large
      {7, 40.0, 30.0},   // taken
      {7, 20.0, 30.0},   // the same satellite again: left out
      {8, 250.0, 30.0},  // above 200 dB-Hz
      {9, 70.0, 30.0},   // taken, into the last histogram bin
  };
  EXPECT_EQ(CN0S_add_epoch(&Stats, obs, static_cast<int>(std::size(obs))), 2);
  EXPECT_EQ(Stats.obs, 2UL);
  EXPECT_EQ(Stats.m[0].obs_below, 0UL);
  EXPECT_EQ(Stats.sat[9].hist[CN0S_NBIN - 1], 1UL);
  EXPECT_EQ(CN0S_add_epoch(&Stats, nullptr, 1), -1);
  EXPECT_EQ(CN0S_add_epoch(&Stats, obs, -1), -1);
  EXPECT_EQ(CN0S_add_epoch(nullptr, obs, 1), -1);
  EXPECT_EQ(CN0S_add_epoch(&Stats, nullptr, 0), 0);  // an empty epoch counts
  EXPECT_EQ(Stats.epochs, 2UL);
}

TEST(Cn0Stats, PrintNamesEverySatelliteAndMask) {
  const double masks[2] = {33.0, 35.0};
  ASSERT_EQ(CN0S_init(&Stats, masks, 2, 20, 15.0), 1);
  const CN0S_OBS_T obs[2] = {{3, 34.0, 20.0}, {12, 44.0, CN0S_EL_UNKNOWN}};
  ASSERT_EQ(CN0S_add_epoch(&Stats, obs, 2), 2);
  std::FILE* fp = std::tmpfile();
  ASSERT_NE(fp, nullptr);
  CN0S_print(&Stats, fp, nullptr);
  CN0S_print(nullptr, fp, nullptr);
  std::rewind(fp);
  std::string text;
  char buf[512];
  while (std::fgets(buf, sizeof(buf), fp) != nullptr) text += buf;
  std::fclose(fp);
  EXPECT_NE(text.find("\n3 "), std::string::npos) << text;
  EXPECT_NE(text.find("\n12 "), std::string::npos) << text;
  EXPECT_NE(text.find("\n33.0 "), std::string::npos) << text;
  EXPECT_NE(text.find("\n35.0 "), std::string::npos) << text;
}

}  // namespace
