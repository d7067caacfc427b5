// Carrier smoothing: the reset rule after more than ten updates, tracking of
// a pseudorange that moves with the range rate and the clock shift, the
// variance's convergence to the fixed point of its recursion, and the
// small-innovation count.
#include "kernel/src/carrier_smoothing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr D64 C = 299792458.0;

class CarrierSmoothing : public ::testing::Test {
 protected:
  void SetUp() override {
    CS_init();
    cs_ = CS_find_reference(3);
  }
  // n updates of a noise-free range 2e7 m + 500 m/s x k, the first starts the filter.
  void run(int n) {
    for (int k = 0; k < n; ++k) CS_update_measurements(cs_, range(k), 500.0, 4.0F, 0.01F, 1.0F, 1.0, 0.0);
    next_ = n;
  }
  static D64 range(int k) { return 2.0e7 + 500.0 * k; }
  CS_T cs_ = nullptr;
  int next_ = 0;
};

TEST_F(CarrierSmoothing, LargeInnovationResetsOnlyAfterMoreThanTenUpdates) {
  struct Case {
    const char* name;
    int calls;         // including the starting one
    D64 innovation_m;  // of the next pseudorange
    bool reset;
  };
  const std::vector<Case> cases = {
      {"11 updates, 31 m: reset", 12, 31.0, true},     {"10 updates, 31 m: accepted", 11, 31.0, false},
      {"11 updates, 29 m: accepted", 12, 29.0, false}, {"40 updates, -31 m: reset", 41, -31.0, true},
      {"2 updates, 500 m: accepted", 3, 500.0, false},
  };
  for (const Case& c : cases) {
    CS_reset(cs_);
    run(c.calls);
    S32 count = -1;
    ASSERT_EQ(CS_get_smoothing_count(cs_, &count), 1) << c.name;
    ASSERT_EQ(count, c.calls - 1) << c.name;
    CS_update_measurements(cs_, range(next_) + c.innovation_m, 500.0, 4.0F, 0.01F, 1.0F, 1.0, 0.0);
    D64 pr = 0.0;
    F32 var = 0.0F;
    F32 diff = 0.0F;
    EXPECT_EQ(CS_get_smoothed_PR(cs_, &pr, &var), c.reset ? 0 : 1) << c.name;
    CS_get_abs_PR_diff(cs_, &diff);
    CS_get_smoothing_count(cs_, &count);
    if (c.reset) {
      EXPECT_EQ(diff, 100.0F) << c.name;
      EXPECT_EQ(count, 0) << c.name;
      // The next pseudorange starts the filter again at that value.
      CS_update_measurements(cs_, 1.234e7, 500.0, 9.0F, 0.01F, 1.0F, 1.0, 0.0);
      ASSERT_EQ(CS_get_smoothed_PR(cs_, &pr, &var), 1) << c.name;
      EXPECT_EQ(pr, 1.234e7) << c.name;
      EXPECT_EQ(var, 9.0F) << c.name;
    } else {
      EXPECT_NEAR(diff, std::fabs(c.innovation_m), 1e-6) << c.name;
      EXPECT_EQ(count, c.calls) << c.name;
    }
  }
}

TEST_F(CarrierSmoothing, FollowsTheRangeRateAndTheClockShift) {
  struct Case {
    const char* name;
    D64 meas_dt_s, shift_s;
  };
  const std::vector<Case> cases = {
      {"1 s epochs", 1.0, 0.0},
      {"0.2 s epochs", 0.2, 0.0},
      {"1 s epochs with a 1 ms clock shift each", 1.0, 1e-3},
      {"1 s epochs with a -0.5 us shift each", 1.0, -0.5e-6},
  };
  for (const Case& c : cases) {
    CS_reset(cs_);
    D64 r = 2.1e7;
    const D64 rate = -700.0;
    for (int k = 0; k < 30; ++k) {
      CS_update_measurements(cs_, r, rate, 25.0F, 0.04F, 1.0F, c.meas_dt_s, c.shift_s);
      r += rate * c.meas_dt_s + c.shift_s * C;
    }
    D64 pr = 0.0;
    F32 var = 0.0F;
    ASSERT_EQ(CS_get_smoothed_PR(cs_, &pr, &var), 1) << c.name;
    EXPECT_NEAR(pr, r - rate * c.meas_dt_s - c.shift_s * C, 1e-6) << c.name;
    F32 diff = 1.0F;
    CS_get_abs_PR_diff(cs_, &diff);
    EXPECT_LT(diff, 1e-6) << c.name;
    S16 small = 0;
    CS_get_small_PR_diff_count(cs_, &small);
    EXPECT_EQ(small, 29) << c.name;
  }
}

// The variance recursion var' = k^2 R + (1-k)^2 (var + Q), k = var / (var + R),
// has its fixed point where var^2 (var + R) = R^2 Q; found here by bisection.
TEST_F(CarrierSmoothing, VarianceConvergesToItsFixedPoint) {
  struct Case {
    const char* name;
    F32 r, q;
  };
  const std::vector<Case> cases = {
      {"R 4, Q 0.01", 4.0F, 0.01F}, {"R 25, Q 0.16", 25.0F, 0.16F}, {"R 2500, Q 8", 2500.0F, 8.0F}};
  for (const Case& c : cases) {
    D64 lo = 0.0, hi = c.r;
    for (int i = 0; i < 100; ++i) {
      const D64 mid = 0.5 * (lo + hi);
      (mid * mid * (mid + c.r) > static_cast<D64>(c.r) * c.r * c.q ? hi : lo) = mid;
    }
    CS_reset(cs_);
    F32 last = 1e9F;
    for (int k = 0; k < 400; ++k) {
      CS_update_measurements(cs_, 2e7, 0.0, c.r, c.q, 1.0F, 1.0, 0.0);
      D64 pr = 0.0;
      F32 var = 0.0F;
      CS_get_smoothed_PR(cs_, &pr, &var);
      if (k < 5) {
        EXPECT_LT(var, last) << c.name << " step " << k;  // falls from the start
      }
      last = var;
    }
    EXPECT_NEAR(last, lo, 0.01 * lo) << c.name;
  }
}

TEST_F(CarrierSmoothing, SmallInnovationCountSaturatesAndRestarts) {
  run(1100);
  S16 small = 0;
  CS_get_small_PR_diff_count(cs_, &small);
  EXPECT_EQ(small, 1000);
  // An innovation of 10 m or more (and at most 30 m) clears it without a reset.
  CS_update_measurements(cs_, range(next_) + 10.0, 500.0, 4.0F, 0.01F, 1.0F, 1.0, 0.0);
  EXPECT_EQ(CS_get_small_PR_diff_count(cs_, &small), 1);
  EXPECT_EQ(small, 0);
}

TEST_F(CarrierSmoothing, RecordsAndFreshState) {
  D64 pr = 0.0;
  F32 var = 0.0F;
  EXPECT_EQ(CS_get_smoothed_PR(cs_, &pr, &var), 0);
  F32 diff = 0.0F;
  EXPECT_EQ(CS_get_abs_PR_diff(cs_, &diff), 0);
  EXPECT_EQ(diff, 100.0F);
  EXPECT_NE(CS_find_reference(0), CS_find_reference(19));
  EXPECT_EQ(CS_get_smoothed_PR(nullptr, &pr, &var), 0);
  CS_update_measurements(nullptr, 1.0, 0.0, 1.0F, 1.0F, 1.0F, 1.0, 0.0);  // ignored
}

}  // namespace
