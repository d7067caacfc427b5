// Bad-measurement screens on sets of estimation inputs: whole-millisecond
// code errors (one millisecond of light travel is 299 792.458 m; the regular
// screen counts whole milliseconds from 299 816 m and accepts a remainder
// below 0.1 ms), a dominating residual after more than 10 3-D fixes, the
// gaps between sorted residuals, and the first-fix screen's millisecond rule
// for predicted bit syncs and its outliers at either end of the sorted lists.
#include "kernel/src/nav_bad_meas.h"

#include <gtest/gtest.h>

#include <vector>

#include "kernel/src/channel.h"
#include "kernel/src/nav_estimation_inputs.h"

namespace {

struct In {
  double pr, dr;
  S16 cn0;
  U08 bs;
};

std::vector<NV_ESTIN_T> load(const std::vector<In>& ins) {
  NVESTIN_init();
  std::vector<NV_ESTIN_T> v;
  for (std::size_t i = 0; i < ins.size(); ++i) {
    NVESTIN_VALUES_T x{};
    x.pr_diff = ins[i].pr;
    x.dr_diff = ins[i].dr;
    x.dc[2] = -1.0F;
    x.cn0 = ins[i].cn0;
    x.bs_mode = ins[i].bs;
    x.sv_id = static_cast<S16>(i + 1);
    x.gnss_type = GNSS_TYPE_GPS;
    v.push_back(NVESTIN_set_input(static_cast<S16>(i), &x));
  }
  return v;
}

struct Case {
  const char* name;
  std::vector<In> ins;
  U32 fix_3d;
  int flagged;  // index of the input flagged, -1 none
  U16 flags;    // its flags
  S16 left;     // inputs left without error
};

void run(const Case& c, bool first_fix) {
  SCOPED_TRACE(c.name);
  const std::vector<NV_ESTIN_T> v = load(c.ins);
  const S16 n = static_cast<S16>(v.size());
  const S16 left = first_fix ? NVBADMEAS_bad_measurement_check_first_fix(n, v.data(), c.fix_3d)
                             : NVBADMEAS_bad_measurement_check(n, v.data(), c.fix_3d);
  EXPECT_EQ(left, c.left);
  for (std::size_t i = 0; i < v.size(); ++i)
    EXPECT_EQ(NVESTIN_get_flags(v[i]), static_cast<int>(i) == c.flagged ? c.flags : 0) << "input " << i;
}

constexpr U16 BAD = NVESTIN_BAD_MEASUREMENT;
constexpr U16 BAD_DROP = NVESTIN_BAD_MEASUREMENT | NVESTIN_LARGE_ERROR | NVESTIN_NEED_DROP_CHANNEL;

TEST(NavBadMeas, RegularScreen) {
  const std::vector<Case> cases = {
      {"299 816 m is one whole millisecond",
       {{200000, 0.1, 40, 1}, {200050, 0.2, 40, 1}, {200100, 0.3, 40, 1}, {299816, 0.4, 40, 1}},
       0,
       3,
       BAD_DROP,
       3},
      {"299 815 m is not",
       {{200000, 0.1, 40, 1}, {200050, 0.2, 40, 1}, {200100, 0.3, 40, 1}, {299815, 0.4, 40, 1}},
       0,
       -1,
       0,
       4},
      {"negative residual of one millisecond",
       {{200000, 0.1, 40, 1}, {200050, 0.2, 40, 1}, {200100, 0.3, 40, 1}, {-299900, 0.4, 40, 1}},
       0,
       3,
       BAD_DROP,
       3},
      {"remainder beyond 0.1 ms",
       {{240000, 0.1, 40, 1}, {240050, 0.2, 40, 1}, {240100, 0.3, 40, 1}, {329773, 0.4, 40, 1}},
       0,
       -1,
       0,
       4},
      {"600 000 m among residuals below 100 m",
       {{12, 0.1, 40, 1}, {-35, 0.2, 40, 1}, {600000, 0.3, 40, 1}, {80, 0.4, 40, 1}, {-60, 0.5, 40, 1}},
       0,
       2,
       BAD_DROP,
       4},
      {"dominating residual after 10 fixes",
       {{5, 0.1, 40, 1}, {-8, 0.2, 40, 1}, {12, 0.3, 40, 1}, {20, 0.4, 40, 1}, {1500, 0.5, 40, 1}},
       11,
       4,
       BAD_DROP | NVESTIN_NEED_CLEAR_EPHEMERIS,
       4},
      {"the same before 11 fixes",
       {{5, 0.1, 40, 1}, {-8, 0.2, 40, 1}, {12, 0.3, 40, 1}, {20, 0.4, 40, 1}, {1500, 0.5, 40, 1}},
       10,
       -1,
       0,
       5},
      {"not 30 times the second",
       {{5, 0.1, 40, 1}, {-8, 0.2, 40, 1}, {12, 0.3, 40, 1}, {60, 0.4, 40, 1}, {1500, 0.5, 40, 1}},
       11,
       -1,
       0,
       5},
      {"dominating range rate",
       {{5, 0.5, 40, 1}, {-8, -1.0, 40, 1}, {12, 2.0, 40, 1}, {20, 80.0, 40, 1}},
       11,
       3,
       BAD_DROP,
       3},
      {"gap above 100 km",
       {{5, 0.1, 40, 1}, {-8, 0.2, 40, 1}, {150000, 0.3, 40, 1}, {20, 0.4, 40, 1}},
       0,
       2,
       BAD_DROP,
       3},
      {"pseudorange gap above 400 m, weak",
       {{3, 0.1, 40, 1}, {-5, 0.2, 40, 1}, {8, 0.3, 40, 1}, {450, 0.4, 30, 1}},
       11,
       3,
       BAD_DROP,
       3},
      {"pseudorange gap above 400 m, strong",
       {{3, 0.1, 40, 1}, {-5, 0.2, 40, 1}, {8, 0.3, 40, 1}, {450, 0.4, 40, 1}},
       11,
       -1,
       0,
       4},
      {"range-rate gap above 12 m/s",
       {{3, 0.1, 40, 1}, {5, 0.2, 40, 1}, {8, 0.3, 40, 1}, {9, 15.0, 35, 1}},
       11,
       3,
       BAD_DROP,
       3},
      {"same input upper in both, weak",
       {{3, 0.1, 40, 1}, {5, 0.2, 40, 1}, {8, 0.3, 40, 1}, {200, 7.0, 28, 1}},
       11,
       3,
       BAD,
       3},
      {"biased set skips the gap rules",
       {{150, 0.1, 30, 1}, {155, 0.2, 30, 1}, {160, 0.3, 30, 1}, {900, 0.4, 30, 1}},
       11,
       -1,
       0,
       4},
      {"fewer than 3 inputs", {{5, 0.1, 40, 1}, {299816, 0.2, 40, 1}}, 11, -1, 0, 2},
  };
  for (const Case& c : cases) run(c, false);
}

TEST(NavBadMeas, FirstFixScreen) {
  const std::vector<Case> cases = {
      {"millisecond error of a predicted bit sync",
       {{10, 0.1, 40, 1}, {50, 0.2, 40, 1}, {300040, 0.3, 40, BS_PREDICT_MEAS}, {120, 0.4, 40, 1}},
       0,
       2,
       BAD | NVESTIN_NEED_DROP_CHANNEL,
       3},
      {"the same with a normal bit sync is an outlier",
       {{10, 0.1, 40, 1}, {50, 0.2, 40, 1}, {300040, 0.3, 40, BS_WEAK}, {120, 0.4, 40, 1}},
       0,
       2,
       BAD,
       3},
      {"pseudorange outlier at the low end",
       {{-10, 0.1, 40, 1}, {52000, 0.2, 40, 1}, {52100, 0.3, 40, 1}, {52150, 0.4, 40, 1}},
       0,
       0,
       BAD,
       3},
      {"gap not twice the second",
       {{10, 0.1, 40, 1}, {1000, 0.2, 40, 1}, {2000, 0.3, 40, 1}, {3500, 0.4, 40, 1}},
       0,
       -1,
       0,
       4},
      {"range-rate outlier", {{10, 1.0, 40, 1}, {20, 2.0, 40, 1}, {30, 3.0, 40, 1}, {40, 200.0, 40, 1}}, 0, 3, BAD, 3},
      {"range-rate gap not 3 times the second",
       {{10, 1.0, 40, 1}, {20, 2.0, 40, 1}, {30, 40.0, 40, 1}, {40, 100.0, 40, 1}},
       0,
       -1,
       0,
       4},
      {"fewer than 3 inputs", {{10, 1.0, 40, 1}, {300010, 2.0, 40, BS_PREDICT_MEAS}}, 0, -1, 0, 2},
  };
  for (const Case& c : cases) run(c, true);
}

TEST(NavBadMeas, FlaggedInputsDoNotTakePart) {
  const std::vector<NV_ESTIN_T> v = load({{5, 0.1, 40, 1}, {8, 0.2, 40, 1}, {12, 0.3, 40, 1}, {299816, 0.4, 40, 1}});
  NVESTIN_set_flags(v[3], NVESTIN_PR_EXCLUDED_BY_RAIM);
  EXPECT_EQ(NVBADMEAS_bad_measurement_check(4, v.data(), 20), 3);
  EXPECT_EQ(NVESTIN_get_flags(v[3]), NVESTIN_PR_EXCLUDED_BY_RAIM);
  EXPECT_EQ(NVBADMEAS_bad_measurement_check(4, nullptr, 20), 0);
  EXPECT_EQ(NVBADMEAS_bad_measurement_check_first_fix(-1, v.data(), 0), 0);
}

}  // namespace
