// Ambiguity resolution around LAMBDA (double-difference transformation, ratio
// test, restoring, fix-and-hold), the Kalman measurement update against a
// dense textbook computation, the GLONASS inter-frequency bias table, the
// processing options and the driver's screening and bookkeeping.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "rtk/glo_sd_ifb.h"
#include "rtk/relpos.h"
#include "rtk/rtk_cfg.h"
#include "rtk/rtk_test_util.h"

namespace {

constexpr int NX = RTK_NX;

// A filter holding the given GPS ambiguity states (cycles): the plain
// formation, ratio test and hold on a few hand-made states; the integrity
// gates (satellites used in the cycle, 4 or more double differences, the
// ratio by their number) are tested in rtk_integrity_test.
rtk_t* make_rtk(const std::vector<int>& sats, const std::vector<double>& amb, const std::vector<double>& P_amb) {
  return rtk_test::hand_rtk(sats, amb, P_amb, 0);
}

// ---------------------------------------------------------------------------

TEST(Ddmat, LockAndHalfCycleDecideWhoTakesPart) {
  // lock 5 and -3: the first is the reference, the second does not qualify
  rtk_t* rtk = make_rtk({3, 7}, {10.0, 20.0}, {1, 0, 0, 1});
  rtk->ssat[6].lock[0] = -3;
  S16 m[MAXSAT], s[MAXSAT];
  EXPECT_EQ(ddmat(rtk, nullptr, m, s), 0);
  EXPECT_EQ(rtk->ssat[2].fix[0], 2);
  EXPECT_EQ(rtk->ssat[6].fix[0], 1);

  // a half-cycle flag or a low elevation removes a satellite as well
  rtk = make_rtk({3, 7, 9, 12}, {10.0, 20.0, 30.0, 40.0}, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
  rtk->ssat[2].slip[0] = 2;            // passed over before the reference
  rtk->ssat[11].azel[1] = 10.0 * D2R;  // below elmaskar (15 deg)
  static double D[NX * NX];
  ASSERT_EQ(ddmat(rtk, D, m, s), 1);
  EXPECT_EQ(m[0], RTK_NP + 7 - 1);
  EXPECT_EQ(s[0], RTK_NP + 9 - 1);
  EXPECT_EQ(rtk->ssat[2].fix[0], 1);
  EXPECT_EQ(rtk->ssat[11].fix[0], 1);
  EXPECT_EQ(D[m[0] + RTK_NP * NX], 1.0);
  EXPECT_EQ(D[s[0] + RTK_NP * NX], -1.0);
  EXPECT_EQ(D[4 + 4 * NX], 1.0);
}

TEST(Ddmat, GlonassLeftOutWithoutGlonassResolution) {
  const int g1 = satno(SYS_GLO, 1), g2 = satno(SYS_GLO, 2);
  rtk_t* rtk = make_rtk({1, 2, g1, g2}, {10.0, 20.0, 30.0, 40.0}, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
  S16 m[MAXSAT], s[MAXSAT];
  EXPECT_EQ(ddmat(rtk, nullptr, m, s), 2);
  rtk->opt.glomodear = 0;
  EXPECT_EQ(ddmat(rtk, nullptr, m, s), 1);
  EXPECT_EQ(rtk->ssat[g1 - 1].fix[0], 0);
  EXPECT_EQ(rtk->ssat[g2 - 1].fix[0], 0);
}

TEST(GenerateQbQab, MatchesTheDoubleDifferenceTransformation) {
  // Qb = D^T P D over random symmetric P, brute force
  std::mt19937 gen(4);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  rtk_t* rtk = make_rtk({2, 5, 8}, {1.0, 2.0, 3.0}, {1, 0, 0, 0, 1, 0, 0, 0, 1});
  for (int i = 0; i < NX; ++i)
    for (int j = 0; j <= i; ++j) rtk->P[i + j * NX] = rtk->P[j + i * NX] = u(gen);
  S16 m[MAXSAT], s[MAXSAT];
  static double D[NX * NX];
  const int nb = ddmat(rtk, D, m, s);
  ASSERT_EQ(nb, 2);
  double Qb[4], Qab[RTK_NP * 2];
  generate_Qb_Qab(NX, RTK_NP, nb, D, rtk->P, m, s, Qb, Qab);
  const int ny = RTK_NP + nb;
  for (int a = 0; a < ny; ++a)
    for (int b = RTK_NP; b < ny; ++b) {
      double v = 0.0;
      for (int i = 0; i < NX; ++i)
        for (int j = 0; j < NX; ++j) v += D[i + a * NX] * rtk->P[i + j * NX] * D[j + b * NX];
      if (a < RTK_NP)
        EXPECT_NEAR(Qab[a + (b - RTK_NP) * RTK_NP], v, 1e-12);
      else
        EXPECT_NEAR(Qb[(a - RTK_NP) + (b - RTK_NP) * nb], v, 1e-12);
    }
}

// One double difference with unit variance: the float value a - round(a) = d
// gives s = (d^2, (1 - d)^2) exactly for binary fractions.
rtk_t* one_dd(double dd) {
  // P of the two states: 0.5 each, uncorrelated -> variance of the difference 1
  return make_rtk({4, 6}, {10.0, 10.0 - dd}, {0.5, 0, 0, 0.5});
}

TEST(ResambLambda, RatioTestAtItsThreshold) {
  static double bias[MAXSAT], xa[NX];
  // d = 0.25: s = (0.0625, 0.5625), ratio 9 exactly
  rtk_t* rtk = one_dd(0.25);
  rtk->opt.thresar[0] = 9.0;
  EXPECT_EQ(resamb_LAMBDA(rtk, bias, xa), 1);  // ratio equal to the threshold fixes
  EXPECT_FLOAT_EQ(rtk->sol.ratio, 9.0f);
  EXPECT_EQ(bias[0], 0.0);
  rtk = one_dd(0.25);
  rtk->opt.thresar[0] = 9.0001;
  EXPECT_EQ(resamb_LAMBDA(rtk, bias, xa), 0);
  EXPECT_FLOAT_EQ(rtk->sol.ratio, 9.0f);  // reported also when not fixed

  // d = 0.375 with the default 3.0: ratio (0.625/0.375)^2 = 2.78 is not fixed
  rtk = one_dd(0.375);
  EXPECT_EQ(resamb_LAMBDA(rtk, bias, xa), 0);
  EXPECT_NEAR(rtk->sol.ratio, 2.7778, 1e-4);

  // an exact integer: s[0] = 0 with s[1] > 0 fixes, and the ratio reads its
  // cap (an exact fit is the clearest case, not a ratio of 0)
  rtk = one_dd(3.0);
  EXPECT_EQ(resamb_LAMBDA(rtk, bias, xa), 1);
  EXPECT_FLOAT_EQ(rtk->sol.ratio, 999.9f);
  EXPECT_EQ(bias[0], 3.0);

  // float-only rover: never fixed
  rtk = one_dd(0.25);
  rtk->opt.olvo_float_rtk_mode = 1;
  EXPECT_EQ(resamb_LAMBDA(rtk, bias, xa), 0);
}

TEST(ResambLambda, RestoresAmbiguitiesAndCorrectsPosition) {
  static double bias[MAXSAT], xa[NX];
  // three satellites, the position correlated with the second double difference
  rtk_t* rtk = make_rtk({1, 2, 3}, {5.0, 5.0 - 1.9, 5.0 - 3.1}, {0.5, 0, 0, 0, 0.5, 0, 0, 0, 0.5});
  rtk->P[0 + (RTK_NP + 2) * NX] = rtk->P[(RTK_NP + 2) + 0 * NX] = -0.2;  // x with state of sat 3
  ASSERT_EQ(resamb_LAMBDA(rtk, bias, xa), 2);
  EXPECT_EQ(bias[0], 2.0);
  EXPECT_EQ(bias[1], 3.0);
  // restored: reference keeps its float value, the others reference - bias
  EXPECT_EQ(xa[RTK_NP + 0], 5.0);
  EXPECT_EQ(xa[RTK_NP + 1], 3.0);
  EXPECT_EQ(xa[RTK_NP + 2], 2.0);
  // position: xa = x - Qab Qb^-1 (y - b). Qb = [[1, .5], [.5, 1]], Qab row 0 = (0, 0.2)
  const double yb0 = 1.9 - 2.0, yb1 = 3.1 - 3.0;
  const double det = 0.75;
  const double q0 = (1.0 * yb0 - 0.5 * yb1) / det, q1 = (-0.5 * yb0 + 1.0 * yb1) / det;
  EXPECT_NEAR(rtk->xa[0], 1000.0 - (0.0 * q0 + 0.2 * q1), 1e-9);
  EXPECT_NEAR(rtk->xa[1], 2000.0, 1e-9);
  EXPECT_LT(rtk->Pa[0], 1.0);
}

TEST(Holdamb, PullsTheFloatDoubleDifferencesOntoTheFixedOnes) {
  static double bias[MAXSAT], xa[NX];
  rtk_t* rtk = make_rtk({1, 2, 3}, {5.0, 5.0 - 1.9, 5.0 - 3.1}, {0.5, 0, 0, 0, 0.5, 0, 0, 0, 0.5});
  ASSERT_EQ(resamb_LAMBDA(rtk, bias, xa), 2);
  holdamb(rtk, xa);
  for (int s : {1, 2, 3}) EXPECT_EQ(rtk->ssat[s - 1].fix[0], 3);
  const double* x = rtk->x;
  EXPECT_NEAR(x[RTK_NP] - x[RTK_NP + 1], 2.0, 0.01);
  EXPECT_NEAR(x[RTK_NP] - x[RTK_NP + 2], 3.0, 0.01);
}

// ---------------------------------------------------------------------------

TEST(Filter, MatchesDenseKalmanUpdateAndSkipsUnsetStates) {
  std::mt19937 gen(9);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  constexpr int n = 10, m = 4;
  for (int trial = 0; trial < 20; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    double A[n * n], P[n * n], x[n], H[m * n], v[m], R[m * m];
    for (double& a : A) a = u(gen);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        double s = i == j ? 1.0 : 0.0;
        for (int k = 0; k < n; ++k) s += A[i + k * n] * A[j + k * n];
        P[i + j * n] = s;
      }
    for (int i = 0; i < n; ++i) x[i] = 1.0 + i;
    x[3] = 0.0;  // not initialised: takes no part
    for (double& h : H) h = u(gen);
    for (int r = 0; r < m; ++r) {
      v[r] = u(gen);
      for (int c = 0; c < m; ++c) R[r + c * m] = r == c ? 0.1 + 0.1 * r : 0.0;
    }
    // reference: dense update over the states other than 3
    std::vector<int> ix;
    for (int i = 0; i < n; ++i)
      if (i != 3) ix.push_back(i);
    const int k = static_cast<int>(ix.size());
    std::vector<double> F(static_cast<std::size_t>(k * m)), Q(static_cast<std::size_t>(m * m)),
        K(static_cast<std::size_t>(k * m));
    for (int a = 0; a < k; ++a)
      for (int r = 0; r < m; ++r) {
        double s = 0.0;
        for (int b = 0; b < k; ++b) s += P[ix[a] + ix[b] * n] * H[r * n + ix[b]];
        F[a + r * k] = s;
      }
    for (int r = 0; r < m; ++r)
      for (int c = 0; c < m; ++c) {
        double s = R[r + c * m];
        for (int a = 0; a < k; ++a) s += H[r * n + ix[a]] * F[a + c * k];
        Q[r + c * m] = s;
      }
    ASSERT_EQ(matinv(Q.data(), m), 0);
    for (int a = 0; a < k; ++a)
      for (int c = 0; c < m; ++c) {
        double s = 0.0;
        for (int r = 0; r < m; ++r) s += F[a + r * k] * Q[r + c * m];
        K[a + c * k] = s;
      }
    double xr[n], Pr[n * n];
    for (int i = 0; i < n; ++i) xr[i] = x[i];
    for (int i = 0; i < n * n; ++i) Pr[i] = P[i];
    for (int a = 0; a < k; ++a)
      for (int r = 0; r < m; ++r) xr[ix[a]] += K[a + r * k] * v[r];
    for (int a = 0; a < k; ++a)
      for (int b = 0; b < k; ++b) {
        double s = 0.0;
        for (int r = 0; r < m; ++r) s += K[a + r * k] * F[b + r * k];
        Pr[ix[a] + ix[b] * n] -= s;
      }
    ASSERT_EQ(filter(x, P, H, v, R, n, m), 1);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(x[i], xr[i], 1e-9);
    for (int i = 0; i < n * n; ++i) EXPECT_NEAR(P[i], Pr[i], 1e-9);
  }
}

TEST(Filter, SingularInnovationLeavesStatesUnchanged) {
  double x[2] = {1.0, 2.0}, P[4] = {0, 0, 0, 0};  // P_ii = 0: no state takes part
  const double H[2] = {1.0, 0.0}, v[1] = {1.0}, R[1] = {0.0};
  EXPECT_EQ(filter(x, P, H, v, R, 2, 1), 0);
  EXPECT_EQ(x[0], 1.0);
}

// ---------------------------------------------------------------------------

TEST(GloSdIfb, CalibrationAveragesThenFollowsSlowlyAndIgnoresJumps) {
  GLOSDIFB_reset_glo_sd_ifb();
  EXPECT_EQ(GLOSDIFB_get_sd_ifb(3), 0.0f);
  GLOSDIFB_add_sample(3, 1.0);
  GLOSDIFB_add_sample(3, 2.0);
  EXPECT_EQ(GLOSDIFB_get_calibrate_cnt(3), 2);
  EXPECT_FLOAT_EQ(GLOSDIFB_get_sd_ifb(3), 1.5f);
  GLOSDIFB_update_calibrate_cnt_and_sd_ifb(-2, 250, 1.0f);
  GLOSDIFB_add_sample(-2, 3.5);  // 2.5 m away: ignored
  EXPECT_FLOAT_EQ(GLOSDIFB_get_sd_ifb(-2), 1.0f);
  GLOSDIFB_add_sample(-2, 2.5);  // 1.5 m away: 1/100 of the difference
  EXPECT_FLOAT_EQ(GLOSDIFB_get_sd_ifb(-2), 1.015f);
  EXPECT_EQ(GLOSDIFB_get_calibrate_cnt(-2), 250);
  EXPECT_EQ(GLOSDIFB_get_calibrate_cnt(7), 0);  // outside -7..6
  GLOSDIFB_add_sample(-8, 1.0);                 // ignored, no table access
}

TEST(GloSdIfb, MeanOfGpsDifferencesDropsOneOutlier) {
  const double three[3] = {1, 2, 3};
  EXPECT_EQ(GLOSDIFB_cal_mean_sd_gps(three, 3), 0.0);
  const double v[6] = {1.0, 1.1, 0.9, 1.0, 1.05, 9.0};
  EXPECT_NEAR(GLOSDIFB_cal_mean_sd_gps(v, 6), 1.01, 1e-9);
  const double spread[4] = {-10.0, 10.0, -10.0, 10.0};  // variance far above the chi-square bound
  EXPECT_EQ(GLOSDIFB_cal_mean_sd_gps(spread, 4), 0.0);
}

// ---------------------------------------------------------------------------

TEST(RtkCfg, DefaultsAndMasterConfiguration) {
  prcopt_t o{};
  int ex[3] = {2, 5, 80};  // two entries; 80 lies outside the table and is ignored
  RTK_CFG_init();
  RTK_CFG_get(&o, 21, 35, 40, 15, ex);
  EXPECT_EQ(o.mode, 2);
  EXPECT_EQ(o.navsys, 21 | SYS_SBS);
  EXPECT_DOUBLE_EQ(o.elmin, 15 * D2R);
  EXPECT_DOUBLE_EQ(o.elmaskar, o.elmin);
  EXPECT_EQ(o.snrmask.mask[0][8], 35.0);
  EXPECT_EQ(o.snrmask.bd2_geo_snr_mask, 40.0);
  EXPECT_EQ(o.exsats[4], 1);
  EXPECT_EQ(o.minlock, 10);
  EXPECT_EQ(o.tarn_set_max_rtk_sv_numbers, 14);
  EXPECT_EQ(o.thresar[0], 3.0);
  RTK_CFG_T cfg{};
  cfg.ar_fix_ratio_scale_100 = 250;
  RTK_CFG_set_by_master(&cfg);
  EXPECT_EQ(RTK_CFG_set_rtk_rover_func(3, 0.0f), 0);
  ASSERT_EQ(RTK_CFG_set_rtk_rover_func(RTK_ROVER_FUNC_MOVING_BASE, 1.5f), 1);
  RTK_CFG_get(&o, 21, 35, 40, 15, ex);
  EXPECT_EQ(o.mode, 2);  // not valid yet
  RTK_CFG_set_rtk_cfg_is_valid(1);
  RTK_CFG_get(&o, 21, 35, 40, 15, ex);
  EXPECT_DOUBLE_EQ(o.thresar[0], 2.5);
  EXPECT_EQ(o.mode, 4);
  EXPECT_DOUBLE_EQ(o.baseline[0], 1.5);
  RTK_CFG_init();
}

// ---------------------------------------------------------------------------
// Driver: epochs built by hand through the raw buffers.

obsd_t obs_of(int sat, int rcv, double tow, int snr_dbhz, U16 type) {
  obsd_t o{};
  o.time = gpst2time(2300, tow);
  o.meas_period_in_ms = type;
  o.sat = static_cast<unsigned char>(sat);
  o.rcv = static_cast<unsigned char>(rcv);
  o.SNR[0] = static_cast<unsigned char>(snr_dbhz * 4);
  o.P[0] = 2.1e7 + sat;
  o.L[0] = 1.1e8 + sat;
  return o;
}

TEST(RtkLoop, EpochTypeFollowsOnlyReportedCycles) {
  int ex[1] = {0};
  RTK_init(21, 35, 40, 15, 0, ex);
  RTK_init_medium();
  // epoch A, geotagging: every satellite below the C/N0 mask -> nothing selected, not reported
  obsd_t a[2] = {obs_of(3, 1, 100.0, 30, 1), obs_of(5, 1, 100.0, 30, 1)};
  RTK_RAW_update_rover_meas(a, 2);
  EXPECT_EQ(RTK_loop(), 0);
  // epoch B, normal, strong: reported (no ephemeris, so no position, but a current record)
  obsd_t b[2] = {obs_of(7, 1, 100.2, 45, 0), obs_of(9, 1, 100.2, 45, 0)};
  RTK_RAW_update_rover_meas(b, 2);
  EXPECT_EQ(RTK_loop(), 1);
  U16 wn = 0, type = 9;
  U32 tow = 0;
  RTK_get_rover_meas_time_info(&wn, &tow, &type);
  EXPECT_EQ(type, 0);  // B's type, not A's
  EXPECT_EQ(tow, 100200u);
  EXPECT_EQ(wn, 2300);
}

TEST(RtkLoop, SatelliteBelowCn0MaskWaitsUntilItsCounterRunsOut) {
  int ex[1] = {0};
  RTK_init(21, 35, 40, 15, 0, ex);
  RTK_init_medium();
  // Satellite 3 at 34 dB-Hz in cycle 0, then 45 dB-Hz. Its counter starts at 20
  // and drops by one each cycle; the rover observation is used again once it is
  // down to 0. The first selected observation gives sol.r_time: the rover's
  // (tow) when it is used, else the base's (tow + 1 ms).
  for (int cycle = 0; cycle < 22; ++cycle) {
    const double tow = 200.0 + cycle;
    obsd_t r = obs_of(3, 1, tow, cycle == 0 ? 34 : 45, 0);
    obsd_t b = obs_of(3, 2, tow + 0.001, 45, 0);
    RTK_RAW_update_base_meas(&b, 1);
    RTK_RAW_update_rover_meas(&r, 1);
    ASSERT_EQ(RTK_loop(), 1);
    sol_t sol{};
    RTK_get_solution(&sol);
    const bool rover_used = std::fabs(timediff(sol.r_time, r.time)) < 1e-9;
    EXPECT_EQ(rover_used, cycle >= 19) << "cycle " << cycle;
  }
}

}  // namespace

// An old base epoch weighs a double difference down: its own variance grows
// by (0.005 m/s x age)^2 once the age exceeds 0.1 s, for phase and code alike.
TEST(RelposVariance, BaseAgeAddsToTheDoubleDifferenceVariance) {
  prcopt_t o{};
  int exsats[10] = {0};
  RTK_CFG_get(&o, 21, 35, 40, 15, exsats);
  const prcopt_t with_clock = o;
  o.sclkstab = 0.0;  // the receiver clock term of the age aside: only the base age's own share
  struct Case {
    const char* name;
    double age;    // s
    double added;  // m^2 over age 0
  };
  const Case cases[] = {
      {"age 0.05 s", 0.05, 0.0},
      {"age 10 s", 10.0, 0.0025},
      {"age -10 s", -10.0, 0.0025},
      {"age 24 s", 24.0, 0.0144},
  };
  for (int f = 0; f < 2; ++f) {
    const double v0 = RELPOS_dd_sat_variance(SYS_GPS, 40.0 * D2R, 2000.0, 0.0, f, &o);
    ASSERT_GT(v0, 0.0);
    for (const Case& c : cases) {
      const double v = RELPOS_dd_sat_variance(SYS_GPS, 40.0 * D2R, 2000.0, c.age, f, &o);
      EXPECT_NEAR(v - v0, c.added, 1e-9 + 1e-6 * v0) << c.name << (f == 0 ? " phase" : " code");
      if (c.added > 0.0) {
        EXPECT_GT(RELPOS_dd_sat_variance(SYS_GPS, 40.0 * D2R, 2000.0, c.age, f, &with_clock) -
                      RELPOS_dd_sat_variance(SYS_GPS, 40.0 * D2R, 2000.0, 0.0, f, &with_clock),
                  c.added - 1e-9)
            << c.name << " with the clock term";
      }
    }
  }
}
