// Estimation inputs: the solver rows with the altitude pseudo-satellite (in
// ECEF its d_pr is the change of geocentric radius for the held altitude,
// checked against a geodetic-to-ECEF conversion written here; in ENU the
// vertical axis with the up velocity), the rotation of the direction cosines
// into ENU, the input lists (SBAS after the others and by ranging mode,
// weak low-numbered BeiDou left out, large errors compacted away), the flag
// bits and request setters, and null or bad handles answered with nothing.
#include "kernel/src/nav_estimation_inputs.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "kernel/src/settings.h"

namespace {

constexpr double D2R = 3.14159265358979323846 / 180.0;

POS_T ecef_of(double lat, double lon, double h) {
  const double a = 6378137.0;
  const double e2 = 6.69437999014e-3;
  const double n = a / std::sqrt(1.0 - e2 * std::sin(lat) * std::sin(lat));
  return POS_T{(n + h) * std::cos(lat) * std::cos(lon), (n + h) * std::cos(lat) * std::sin(lon),
               (n * (1.0 - e2) + h) * std::sin(lat)};
}

NV_ESTIN_T put(S16 ch, double pr, double dr, U16 type = GNSS_TYPE_GPS, S16 svid = 0, S16 cn0 = 40) {
  NVESTIN_VALUES_T v{};
  v.pr_diff = pr;
  v.dr_diff = dr;
  v.dc[0] = 0.6F;
  v.dc[1] = 0.0F;
  v.dc[2] = -0.8F;
  v.cn0 = cn0;
  v.sv_id = svid != 0 ? svid : static_cast<S16>(ch + 1);
  v.gnss_type = type;
  return NVESTIN_set_input(ch, &v);
}

class NavEstin : public ::testing::Test {
 protected:
  void SetUp() override {
    SETTINGS_init();
    NVESTIN_init();
  }
};

TEST_F(NavEstin, AltitudeRowInEcefHoldsTheGivenAltitude) {
  struct Case {
    const char* name;
    double lat_deg, lon_deg, h, hold;
  } const cases[] = {{"35 N 139 E, 50 m held at 150 m", 35, 139, 50, 150},
                     {"equator, 0 m held at -20 m", 0, 10, 0, -20},
                     {"60 S 70 W, 1200 m held at 1000 m", -60, -70, 1200, 1000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NVESTIN_reset_all();
    std::array<NV_ESTIN_T, 3> e{put(0, 5.0, 0.1), put(1, -3.0, 0.2), put(2, 7.0, -0.3)};
    const POS_T pos = ecef_of(c.lat_deg * D2R, c.lon_deg * D2R, c.h);
    const POS_T held = ecef_of(c.lat_deg * D2R, c.lon_deg * D2R, c.hold);
    F32 dc[21][3];
    F32 w[21];
    F32 d_pr[21];
    F32 d_dr[21];
    S08 second[21];
    ASSERT_EQ(NVESTIN_form_least_square_input_matrix(3, e.data(), 1, 0, &pos, nullptr, static_cast<F32>(c.hold),
                                                     nullptr, dc, w, d_pr, d_dr, second),
              4);
    const double r = std::sqrt(pos.px * pos.px + pos.py * pos.py + pos.pz * pos.pz);
    const double rh = std::sqrt(held.px * held.px + held.py * held.py + held.pz * held.pz);
    EXPECT_NEAR(d_pr[3], rh - r, 1e-3);
    EXPECT_NEAR(dc[3][0], pos.px / r, 1e-6);
    EXPECT_NEAR(dc[3][2], pos.pz / r, 1e-6);
    EXPECT_EQ(d_dr[3], 0.0F);
    EXPECT_EQ(w[3], 1.0F);
    EXPECT_EQ(d_pr[0], 5.0F);
    EXPECT_NEAR(d_dr[2], -0.3F, 1e-7);
    EXPECT_EQ(second[1], 0);
  }
}

TEST_F(NavEstin, EnuRowsAndRotation) {
  std::array<NV_ESTIN_T, 3> e{put(0, 1.0, 0.1), put(1, 2.0, 0.2), put(2, 3.0, 0.3)};
  // East = y, north = z, up = x (a receiver on the equator at 0 E).
  const F32 enu[3][3] = {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}};
  EXPECT_EQ(NVESTIN_is_coordinate_at_ENU(), 0);
  ASSERT_EQ(NVESTIN_convert_direction_cosine_vectors_to_ENU(enu), 1);
  ASSERT_EQ(NVESTIN_convert_direction_cosine_vectors_to_ENU(enu), 1);  // once per epoch
  EXPECT_EQ(NVESTIN_is_coordinate_at_ENU(), 1);
  F32 dc[3];
  ASSERT_EQ(NVESTIN_get_direction_cosine_vector(e[0], dc), 1);
  EXPECT_EQ(dc[0], 0.0F);
  EXPECT_EQ(dc[1], -0.8F);
  EXPECT_EQ(dc[2], 0.6F);
  const VEL_T vel{2.5F, -1.0F, 4.0F};  // up (x) 2.5 m/s
  F32 rows[21][3];
  F32 w[21];
  F32 d_pr[21];
  F32 d_dr[21];
  S08 second[21];
  ASSERT_EQ(
      NVESTIN_form_least_square_input_matrix(3, e.data(), 1, 0, nullptr, &vel, 0.0F, enu, rows, w, d_pr, d_dr, second),
      4);
  EXPECT_EQ(rows[3][2], 1.0F);
  EXPECT_EQ(d_pr[3], 0.0F);
  EXPECT_EQ(d_dr[3], -2.5F);
  EXPECT_EQ(NVESTIN_convert_direction_cosine_vectors_to_ENU(nullptr), 0);
}

TEST_F(NavEstin, InputListsBySystemAndFlags) {
  struct Case {
    const char* name;
    U08 ranging;  // SBAS ranging mode
    int n_gps;
    int expect_sbas;
  } const cases[] = {{"ranging disabled", SBAS_RANGING_MODE_DISABLE, 3, 0},
                     {"ranging enabled", SBAS_RANGING_MODE_ENABLE, 6, 1},
                     {"automatic, 4 others", SBAS_RANGING_MODE_AUTO, 4, 1},
                     {"automatic, 5 others", SBAS_RANGING_MODE_AUTO, 5, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SBAS_PARAMETER_T p{};
    SETTINGS_get_sbas_para(&p);
    p.sbas_enable_disable = 1;
    p.ranging_enable_disable = c.ranging;
    SETTINGS_set_sbas_para(&p);
    NVESTIN_reset_all();
    const NV_ESTIN_T sbas = put(0, 1.0, 0.0, GNSS_TYPE_SBAS, 129);
    for (int i = 0; i < c.n_gps; ++i) put(static_cast<S16>(i + 1), 1.0, 0.0);
    std::array<NV_ESTIN_T, NVESTIN_MAX> l{};
    const S16 n = NVESTIN_get_inputs(l.data());
    EXPECT_EQ(n, c.n_gps + c.expect_sbas);
    EXPECT_NE(l[0], sbas);  // the others first
    if (c.expect_sbas != 0) {
      EXPECT_EQ(l[static_cast<std::size_t>(n - 1)], sbas);
    }
  }
  NVESTIN_reset_all();
  put(0, 1.0, 0.0, GNSS_TYPE_BD2, 3, 28);  // low-numbered BeiDou, weak: left out
  put(1, 1.0, 0.0, GNSS_TYPE_BD2, 3, 29);
  put(2, 1.0, 0.0, GNSS_TYPE_BD2, 7, 20);
  const NV_ESTIN_T g = put(3, 1.0, 0.0);
  std::array<NV_ESTIN_T, NVESTIN_MAX> l{};
  EXPECT_EQ(NVESTIN_get_inputs(l.data()), 3);
  NVESTIN_set_large_error(NVESTIN_get_reference(1));
  EXPECT_EQ(NVESTIN_get_no_large_error_inputs(l.data()), 2);
  NVESTIN_set_PR_excluded_by_RAIM(g);
  EXPECT_EQ(NVESTIN_get_no_error_inputs(l.data()), 1);
  std::array<NV_ESTIN_T, 4> ary{NVESTIN_get_reference(1), NVESTIN_get_reference(2), NVESTIN_get_reference(1), g};
  EXPECT_EQ(NVESTIN_remove_large_error_estins(4, ary.data()), 2);
  EXPECT_EQ(ary[0], NVESTIN_get_reference(2));
  EXPECT_EQ(ary[1], g);
}

TEST_F(NavEstin, FlagBitsAndRequests) {
  struct Case {
    const char* name;
    void (*set)(NV_ESTIN_T);
    S16 (*test)(NV_ESTIN_T);
    U16 bit;
  } const cases[] = {
      {"PR RAIM", NVESTIN_set_PR_excluded_by_RAIM, NVESTIN_is_PR_excluded_by_RAIM, 1U << 0},
      {"DR RAIM", NVESTIN_set_DR_excluded_by_RAIM, NVESTIN_is_DR_excluded_by_RAIM, 1U << 1},
      {"multipath", NVESTIN_set_excluded_by_MP_check, NVESTIN_is_excluded_by_MP_check, 1U << 2},
      {"LTE", NVESTIN_set_excluded_by_LTE_check, NVESTIN_is_excluded_by_LTE_check, 1U << 3},
      {"bad", NVESTIN_set_bad_measurement, NVESTIN_has_bad_measurement, 1U << 4},
      {"large", NVESTIN_set_large_error, NVESTIN_has_large_error, 1U << 5},
      {"recalc", NVESTIN_set_excluded_by_recalc_position_check, NVESTIN_is_excluded_by_recalc_position_check, 1U << 6},
      {"remove LTE", NVESTIN_set_need_remove_LTE, NVESTIN_need_remove_LTE, 1U << 7},
      {"drop", NVESTIN_set_need_drop_channel, NVESTIN_need_drop_channel, 1U << 8},
      {"clear eph", NVESTIN_set_need_clear_ephemeris, NVESTIN_need_clear_ephemeris, 1U << 9},
      {"+1 ms", NVESTIN_set_need_plus_one_msc, NVESTIN_need_plus_one_msc, 1U << 10},
      {"-1 ms", NVESTIN_set_need_minus_one_msc, NVESTIN_need_minus_one_msc, 1U << 11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NVESTIN_reset_all();
    const NV_ESTIN_T e = put(5, 1.0, 0.0);
    EXPECT_EQ(NVESTIN_has_no_error(e), 1);
    EXPECT_EQ(c.test(e), 0);
    c.set(e);
    EXPECT_EQ(c.test(e), 1);
    EXPECT_EQ(NVESTIN_get_flags(e), c.bit);
    EXPECT_EQ(NVESTIN_has_no_error(e), 0);
    c.set(nullptr);
    EXPECT_EQ(c.test(nullptr), 0);
  }
}

TEST_F(NavEstin, NullAndBadHandlesAnswerNothing) {
  EXPECT_EQ(NVESTIN_get_reference(-1), nullptr);
  EXPECT_EQ(NVESTIN_get_reference(20), nullptr);
  const NV_ESTIN_T e = NVESTIN_get_reference(4);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(NVESTIN_has_data(e), 0);  // nothing formed yet
  EXPECT_EQ(NVESTIN_get_pr_diff(e), 0.0);
  EXPECT_EQ(NVESTIN_has_data(nullptr), 0);
  EXPECT_EQ(NVESTIN_get_channel_id(nullptr), -1);
  EXPECT_EQ(NVESTIN_get_avg_pr_diff(nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(NVESTIN_update(0, nullptr, 0.0, 0.0F, 0.0, 0.0F, nullptr, 1, 0, nullptr), 0);
  EXPECT_EQ(NVESTIN_find_min_cn0(0, nullptr), -1);
  // The recent residuals of one satellite give a mean and a spread.
  put(4, 10.0, 0.0);
  put(4, 14.0, 0.0);
  F32 avg = 0.0F;
  F32 sigma = 0.0F;
  ASSERT_EQ(NVESTIN_get_avg_pr_diff(e, &avg, &sigma), 1);
  EXPECT_FLOAT_EQ(avg, 12.0F);
  EXPECT_FLOAT_EQ(sigma, 2.0F);
  put(4, 14.0, 0.0, GNSS_TYPE_GPS, 30);  // another satellite on the channel: history restarts
  EXPECT_EQ(NVESTIN_get_avg_pr_diff(e, &avg, &sigma), 0);
}

TEST_F(NavEstin, TwoSystemRowsMarkTheSecondSystem) {
  std::array<NV_ESTIN_T, 4> e{put(0, 1.0, 0.5), put(1, 2.0, 0.25, GNSS_TYPE_GLONASS, 5), put(2, 3.0, 0.125),
                              put(3, 4.0, 0.0, GNSS_TYPE_BD2, 9)};
  F32 h[20][5];
  F32 w[20];
  F32 d_pr[20];
  F32 d_dr[20];
  ASSERT_EQ(NVESTIN_form_least_square_combo_mode_input_matrix(4, e.data(), h, w, d_pr, d_dr), 4);
  const float second[4] = {0, 1, 0, 1};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(h[i][0], 0.6F);
    EXPECT_EQ(h[i][2], -0.8F);
    EXPECT_EQ(h[i][3], 1.0F);
    EXPECT_EQ(h[i][4], second[i]);
    EXPECT_EQ(w[i], 1.0F);
    EXPECT_EQ(d_pr[i], static_cast<F32>(i + 1));
  }
  EXPECT_EQ(d_dr[1], 0.25F);
  EXPECT_EQ(NVESTIN_form_least_square_combo_mode_input_matrix(21, e.data(), h, w, d_pr, d_dr), 0);
}

}  // namespace

// Each epoch starts with NVESTIN_reset_all (the navigation driver's first
// step); a channel's history of its satellite must outlive it, or the
// screens that read the recent residuals never see more than one. A new
// satellite on the channel, or NVESTIN_init, starts a new history.
TEST_F(NavEstin, HistoryOfASatelliteOutlivesTheEpochReset) {
  struct Case {
    const char* name;
    S16 svid_second;  // satellite of the second epoch on channel 0
    bool init_between;
    bool expect_avg;
  };
  const std::array<Case, 3> cases = {{{"same satellite", 5, false, true},
                                      {"another satellite", 6, false, false},
                                      {"module restarted", 5, true, false}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NVESTIN_init();
    NVESTIN_reset_all();
    put(0, 3.0, 0.0, GNSS_TYPE_GPS, 5);
    if (c.init_between) NVESTIN_init();
    NVESTIN_reset_all();
    const NV_ESTIN_T e = put(0, 5.0, 0.0, GNSS_TYPE_GPS, c.svid_second);
    F32 avg = 0.0F, sigma = 0.0F;
    EXPECT_EQ(NVESTIN_get_avg_pr_diff(e, &avg, &sigma) == 1, c.expect_avg);
    if (c.expect_avg) {
      EXPECT_FLOAT_EQ(avg, 4.0F);
    }
  }
}

// A position correction taken without pseudoranges shifts every kept residual
// of the epoch's inputs by dc . dx (+ the clock correction): the mean moves by
// that much, the spread stays.
TEST_F(NavEstin, ResidualHistoryFollowsACorrectionWithoutPseudoranges) {
  struct Case {
    const char* name;
    S16 n;
    std::array<F32, 4> dx;  // east, north, up, clock (m); dc of put() is (0.6, 0, -0.8)
    S16 changed;            // inputs changed
    F32 avg;                // mean of the history 10, 14 afterwards (m)
  };
  const std::array<Case, 6> cases = {{{"position_only", 3, {1.0F, 5.0F, -2.0F, 7.0F}, 2, 12.0F - 2.2F},
                                      {"position_and_clock", 4, {1.0F, 5.0F, -2.0F, 7.0F}, 2, 12.0F - 9.2F},
                                      {"east_only", 1, {2.0F, 5.0F, 5.0F, 5.0F}, 2, 12.0F - 1.2F},
                                      {"no_elements", 0, {1.0F, 1.0F, 1.0F, 1.0F}, 0, 12.0F},
                                      {"five_elements", 5, {1.0F, 1.0F, 1.0F, 1.0F}, 0, 12.0F},
                                      {"non_finite", 4, {1.0F, NAN, 1.0F, 1.0F}, 0, 12.0F}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NVESTIN_init();
    NVESTIN_reset_all();
    put(4, 10.0, 0.0);
    put(7, 10.0, 0.0);
    NVESTIN_reset_all();
    const NV_ESTIN_T e = put(4, 14.0, 0.0);
    put(7, 14.0, 0.0);
    EXPECT_EQ(NVESTIN_compesate_residuals_to_pr_diff_buffer(c.n, c.dx.data()), c.changed);
    F32 avg = 0.0F, sigma = 0.0F;
    ASSERT_EQ(NVESTIN_get_avg_pr_diff(e, &avg, &sigma), 1);
    EXPECT_NEAR(avg, c.avg, 1e-5);
    EXPECT_NEAR(sigma, 2.0F, 1e-5);
    EXPECT_EQ(NVESTIN_get_pr_diff(e), 14.0) << "the epoch's residual itself is left as formed";
  }
  EXPECT_EQ(NVESTIN_compesate_residuals_to_pr_diff_buffer(4, nullptr), 0);
}
