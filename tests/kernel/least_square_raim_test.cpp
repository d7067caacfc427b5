// Least-squares fix with RAIM on geometries built here: satellites placed at
// chosen azimuths and elevations 20 200 km from a known receiver, pre-fit
// residuals formed from the exact ranges and range rates against a guessed
// receiver state, and the solver iterated from the guess. Position and clock
// come back within 1 mm (3-D and altitude-held 2-D), velocity and drift
// within 1 mm/s; DOPs equal a cofactor inverse of G^T G computed here; a
// 100 m step on one satellite is excluded (8 satellites) or detected and
// left in (5 satellites); exclusion limits by row count; 1 m code noise over
// many seeded trials excludes nothing; hostile inputs are refused.
#include "kernel/src/least_square_raim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "kernel/src/kernel_modules.h"
#include "kernel/src/nav_estimation_inputs.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double D2R = PI / 180.0;
constexpr double A_WGS84 = 6378137.0;
constexpr double E2_WGS84 = 6.69437999014e-3;
constexpr double SV_RANGE = 20200e3;

using V3 = std::array<double, 3>;

V3 add(const V3& a, const V3& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
V3 sub(const V3& a, const V3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
V3 mul(const V3& a, double k) { return {a[0] * k, a[1] * k, a[2] * k}; }
double dot(const V3& a, const V3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double norm(const V3& a) { return std::sqrt(dot(a, a)); }

struct Frame {
  V3 e, n, u;  // local axes in ECEF
  V3 to_ecef(const V3& enu) const { return add(add(mul(e, enu[0]), mul(n, enu[1])), mul(u, enu[2])); }
  V3 to_enu(const V3& x) const { return {dot(e, x), dot(n, x), dot(u, x)}; }
};

Frame frame_at(double lat, double lon) {
  return Frame{{-std::sin(lon), std::cos(lon), 0.0},
               {-std::sin(lat) * std::cos(lon), -std::sin(lat) * std::sin(lon), std::cos(lat)},
               {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)}};
}

V3 ecef_of(double lat, double lon, double h) {
  const double nrad = A_WGS84 / std::sqrt(1.0 - E2_WGS84 * std::sin(lat) * std::sin(lat));
  return {(nrad + h) * std::cos(lat) * std::cos(lon), (nrad + h) * std::cos(lat) * std::sin(lon),
          (nrad * (1.0 - E2_WGS84) + h) * std::sin(lat)};
}

struct Sat {
  double az_deg, el_deg;
};

struct Truth {
  V3 pos;        // ECEF m
  V3 vel;        // ECEF m/s
  double bias;   // m
  double drift;  // m/s
};

struct Scene {
  Frame f;
  Truth t;
  std::vector<V3> sv_pos, sv_vel;
  std::vector<double> pr_error;  // m, added to each pseudorange
  std::vector<double> dr_error;  // m/s, added to each range rate
  std::vector<int> cn0;          // dB-Hz
  std::vector<int> good;         // 1: a good-carrier range rate (in the first list)
  std::vector<U16> type;         // GNSS_TYPE_...
  F32 last_speed = 0.0F;
  S16 cont_real_fix_count = 10;
  F32 enu[3][3];
  LSQRAIM_OUTPUT_T out{};
};

Scene make_scene(const std::vector<Sat>& sats, double lat_deg = 35.0, double lon_deg = 139.0) {
  Scene s;
  const double lat = lat_deg * D2R;
  const double lon = lon_deg * D2R;
  s.f = frame_at(lat, lon);
  s.t.pos = ecef_of(lat, lon, 50.0);
  s.t.vel = s.f.to_ecef({12.0, -7.5, 0.0});
  s.t.bias = 12345.678;
  s.t.drift = 3.25;
  for (std::size_t i = 0; i < sats.size(); ++i) {
    const double az = sats[i].az_deg * D2R;
    const double el = sats[i].el_deg * D2R;
    const V3 los = s.f.to_ecef({std::cos(el) * std::sin(az), std::cos(el) * std::cos(az), std::sin(el)});
    const V3 p = add(s.t.pos, mul(los, SV_RANGE));
    s.sv_pos.push_back(p);
    // A satellite speed of ~3.9 km/s in an arbitrary direction per satellite.
    const double k = static_cast<double>(i);
    s.sv_vel.push_back({3000.0 * std::cos(k), 2500.0 * std::sin(1.7 * k), 1200.0 - 300.0 * k});
  }
  s.pr_error.assign(sats.size(), 0.0);
  s.dr_error.assign(sats.size(), 0.0);
  s.cn0.assign(sats.size(), 42);
  s.good.assign(sats.size(), 1);
  s.type.assign(sats.size(), GNSS_TYPE_GPS);
  const V3 axes[3] = {s.f.e, s.f.n, s.f.u};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) s.enu[r][c] = static_cast<F32>(axes[r][static_cast<std::size_t>(c)]);
  return s;
}

// State of the receiver the residuals are formed against.
struct Guess {
  V3 pos, vel;
  double bias, drift;
};

// One solver call: inputs from the exact ranges and range rates against g.
S16 solve_once(Scene& s, const Guess& g, U32 fix_3d = 20, bool keep_history = false) {
  if (!keep_history) NVESTIN_init();  // no history either
  LSQRAIM_INPUT_T in{};
  for (std::size_t i = 0; i < s.sv_pos.size(); ++i) {
    const V3 d_true = sub(s.t.pos, s.sv_pos[i]);
    const V3 d_guess = sub(g.pos, s.sv_pos[i]);
    const V3 dc = mul(d_guess, 1.0 / norm(d_guess));  // satellite to receiver
    const double pr = norm(d_true) + s.t.bias + s.pr_error[i];
    const double rr = dot(mul(d_true, 1.0 / norm(d_true)), sub(s.t.vel, s.sv_vel[i])) + s.t.drift + s.dr_error[i];
    const double rr_guess = dot(dc, sub(g.vel, s.sv_vel[i])) + g.drift;
    const double rr_at_rest = dot(dc, mul(s.sv_vel[i], -1.0)) + g.drift;
    NVESTIN_VALUES_T v{};
    v.pr_diff = pr - norm(d_guess) - g.bias;
    v.dr_diff = rr - rr_guess;
    v.dr_diff_static = rr - rr_at_rest;
    for (int k = 0; k < 3; ++k) v.dc[k] = static_cast<F32>(dc[static_cast<std::size_t>(k)]);
    v.cn0 = static_cast<S16>(s.cn0[i]);
    v.sv_id = static_cast<S16>(i + 1);
    v.gnss_type = s.type[i];
    v.has_good_carrier = static_cast<S16>(s.good[i]);
    NV_ESTIN_T e = NVESTIN_set_input(static_cast<S16>(i), &v);
    EXPECT_NE(e, nullptr);
    if (s.good[i] != 0) in.estin_ary[in.n_estin++] = e;
    in.estin_all_ary[in.n_estin_all++] = e;
  }
  in.fix_3D_count = fix_3d;
  in.cont_real_fix_count = s.cont_real_fix_count;
  in.last_speed = s.last_speed;
  static POS_T pos;
  static VEL_T vel;
  static VEL_ENU_T venu;
  pos = POS_T{g.pos[0], g.pos[1], g.pos[2]};
  vel = VEL_T{static_cast<F32>(g.vel[0]), static_cast<F32>(g.vel[1]), static_cast<F32>(g.vel[2])};
  const V3 ve = s.f.to_enu(g.vel);
  venu = VEL_ENU_T{static_cast<F32>(ve[0]), static_cast<F32>(ve[1]), static_cast<F32>(ve[2])};
  in.rcv_pos_p = &pos;
  in.rcv_vel_p = &vel;
  in.vel_enu_p = &venu;
  in.enu_mat = s.enu;
  return LSQRAIM_proc(&in, &s.out);
}

// Applies a position solution (ENU correction, clock) to the guess.
void apply_pr(const Scene& s, const LSQRAIM_LSQ_PR_T& sol, Guess* g) {
  g->pos = add(g->pos, s.f.to_ecef({sol.dx[0], sol.dx[1], sol.dx[2]}));
  g->bias += sol.dx[3];
}

const std::vector<Sat> EIGHT = {{0, 80}, {45, 30}, {100, 55}, {150, 15}, {200, 40}, {250, 25}, {300, 60}, {340, 12}};

class LsqRaim : public ::testing::Test {
 protected:
  void SetUp() override {
    NVESTIN_init();
    NVMODEL_set_model(NMODEL_DEFAULT);
  }
};

// Iterates the 3-D (or, with two_d, the altitude-held) position solution.
Guess iterate_position(Scene& s, Guess g, bool two_d, int iterations = 4) {
  for (int it = 0; it < iterations; ++it) {
    EXPECT_EQ(solve_once(s, g), 1);
    const LSQRAIM_LSQ_PR_T& sol = two_d ? s.out.lsq_pr_4s2D : s.out.lsq_pr_4s3D;
    EXPECT_EQ(sol.has_result, 1);
    if (sol.has_result == 0) break;
    apply_pr(s, sol, &g);
  }
  return g;
}

TEST_F(LsqRaim, PositionAndClockRecoveredWithinOneMillimetre) {
  struct Case {
    const char* name;
    std::vector<Sat> sats;
    bool two_d;
    V3 offset_enu;  // m, guess minus truth
  } const cases[] = {
      {"8 satellites 3-D", EIGHT, false, {80.0, -45.0, 30.0}},
      {"5 satellites 3-D", {{10, 70}, {90, 35}, {170, 20}, {250, 45}, {320, 25}}, false, {-30.0, 20.0, -60.0}},
      {"4 satellites 2-D", {{20, 60}, {120, 30}, {220, 25}, {300, 40}}, true, {60.0, -70.0, 0.0}},
      {"3 satellites 2-D", {{20, 40}, {140, 30}, {260, 35}}, true, {-40.0, 25.0, 0.0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scene s = make_scene(c.sats);
    Guess g{add(s.t.pos, s.f.to_ecef(c.offset_enu)), s.t.vel, 0.0, s.t.drift};
    g = iterate_position(s, g, c.two_d);
    EXPECT_LT(norm(sub(g.pos, s.t.pos)), 1e-3);
    EXPECT_NEAR(g.bias, s.t.bias, 1e-3);
    if (c.two_d) {
      EXPECT_EQ(s.out.quality_pr_4s2D.is_2D_quality, 1);
    }
  }
}

TEST_F(LsqRaim, VelocityAndDriftRecoveredWithinOneMillimetrePerSecond) {
  for (bool two_d : {false, true}) {
    SCOPED_TRACE(two_d ? "2-D (vertical speed held at 0)" : "3-D");
    Scene s = make_scene(EIGHT);
    const Guess g{s.t.pos, s.f.to_ecef({2.0, 3.0, 0.0}), s.t.bias, 0.0};
    ASSERT_EQ(solve_once(s, g), 1);
    const LSQRAIM_LSQ_DR_T& sol = two_d ? s.out.lsq_dr_2D : s.out.lsq_dr_3D;
    ASSERT_EQ(sol.has_result, 1);
    const V3 v = add(g.vel, s.f.to_ecef({sol.ddx[0], sol.ddx[1], sol.ddx[2]}));
    EXPECT_LT(norm(sub(v, s.t.vel)), 1e-3);
    EXPECT_NEAR(g.drift + sol.ddx[3], s.t.drift, 1e-3);
    EXPECT_NEAR(sol.h_speed, std::hypot(12.0, 7.5), 1e-3);
    EXPECT_LT(sol.v_speed, 1e-3);
  }
}

// Determinant and cofactor inverse of a 4 x 4 matrix in double precision.
double det3(const double m[3][3]) {
  return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
         m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}
void cofactor_inverse4(const double a[4][4], double inv[4][4]) {
  double cof[4][4];
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      double m[3][3];
      for (int i = 0, mi = 0; i < 4; ++i) {
        if (i == r) continue;
        for (int j = 0, mj = 0; j < 4; ++j) {
          if (j == c) continue;
          m[mi][mj++] = a[i][j];
        }
        ++mi;
      }
      cof[r][c] = (((r + c) % 2) != 0 ? -1.0 : 1.0) * det3(m);
    }
  double d = 0.0;
  for (int c = 0; c < 4; ++c) d += a[0][c] * cof[0][c];
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) inv[c][r] = cof[r][c] / d;
}

TEST_F(LsqRaim, DopsEqualCofactorInverseOfTheGeometry) {
  const std::vector<std::vector<Sat>> skies = {
      EIGHT,
      {{10, 70}, {90, 35}, {170, 20}, {250, 45}, {320, 25}},
      {{0, 20}, {60, 25}, {120, 30}, {180, 35}, {240, 40}, {300, 45}, {30, 85}}};
  for (std::size_t k = 0; k < skies.size(); ++k) {
    SCOPED_TRACE(k);
    Scene s = make_scene(skies[k]);
    ASSERT_EQ(solve_once(s, Guess{s.t.pos, s.t.vel, s.t.bias, s.t.drift}), 1);
    double g[4][4] = {};
    for (const V3& p : s.sv_pos) {
      const V3 los = s.f.to_enu(mul(sub(s.t.pos, p), 1.0 / norm(sub(s.t.pos, p))));
      const double row[4] = {los[0], los[1], los[2], 1.0};
      for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) g[r][c] += row[r] * row[c];
    }
    double q[4][4];
    cofactor_inverse4(g, q);
    const auto& m = s.out.lsq_pr_4s3D.inv_mat;
    ASSERT_EQ(s.out.quality_pr_4s3D.has_pdop, 1);
    EXPECT_NEAR(s.out.quality_pr_4s3D.pdop, std::sqrt(q[0][0] + q[1][1] + q[2][2]), 1e-4);
    EXPECT_NEAR(std::sqrt(m[0] + m[5]), std::sqrt(q[0][0] + q[1][1]), 1e-4);  // HDOP
    EXPECT_NEAR(std::sqrt(m[10]), std::sqrt(q[2][2]), 1e-4);                  // VDOP
    EXPECT_NEAR(std::sqrt(m[15]), std::sqrt(q[3][3]), 1e-4);                  // TDOP
    EXPECT_NEAR(std::sqrt(m[0] + m[5] + m[10] + m[15]), std::sqrt(q[0][0] + q[1][1] + q[2][2] + q[3][3]),
                1e-4);  // GDOP
  }
}

int count_pr_excluded() {
  int n = 0;
  for (S16 ch = 0; ch < NVESTIN_MAX; ++ch) n += NVESTIN_is_PR_excluded_by_RAIM(NVESTIN_get_reference(ch));
  return n;
}

TEST_F(LsqRaim, StepOnOneOfEightSatellitesExcludedAndFixWithinTenMetres) {
  for (std::size_t bad = 0; bad < EIGHT.size(); ++bad) {
    SCOPED_TRACE(bad);
    Scene s = make_scene(EIGHT);
    s.pr_error[bad] = 100.0;
    Guess g{add(s.t.pos, s.f.to_ecef({20.0, -10.0, 15.0})), s.t.vel, 0.0, s.t.drift};
    g = iterate_position(s, g, false);
    EXPECT_EQ(count_pr_excluded(), 1);
    EXPECT_EQ(NVESTIN_is_PR_excluded_by_RAIM(NVESTIN_get_reference(static_cast<S16>(bad))), 1);
    EXPECT_EQ(s.out.n_estin_pr_used, 7);
    EXPECT_LT(norm(sub(g.pos, s.t.pos)), 10.0);
    F32 el = 0, eo = 0, ea = 0, prob = 0, bias = 0, sd = 0;
    S16 id = 0;
    ASSERT_EQ(LSQRAIM_get_RAIM_enu_error(&el, &eo, &ea, &id, &prob, &bias, &sd), 1);
    EXPECT_EQ(id, static_cast<S16>(bad + 1));
  }
}

TEST_F(LsqRaim, StepOnOneOfFiveSatellitesDetectedNotExcluded) {
  const std::vector<Sat> five = {{10, 70}, {90, 35}, {170, 20}, {250, 45}, {320, 25}};
  for (std::size_t bad = 0; bad < five.size(); ++bad) {
    SCOPED_TRACE(bad);
    Scene s = make_scene(five);
    s.pr_error[bad] = 100.0;
    Guess g{s.t.pos, s.t.vel, s.t.bias, s.t.drift};
    g = iterate_position(s, g, false, 3);
    // Too few rows to exclude: the fault shows in the residual variance,
    // above the RAIM threshold, and the navigation withholds such a fix.
    EXPECT_EQ(count_pr_excluded(), 0);
    ASSERT_EQ(s.out.quality_pr_4s3D.has_quality, 1);
    EXPECT_GE(s.out.quality_pr_4s3D.var_residual, 36.0F);
  }
}

// Exclusions allowed by the row count: none below 7 rows, one at 7, up to
// (n - 6) / 2 + 1 and only while 7 rows remain.
TEST_F(LsqRaim, ExclusionLimitsByRowCount) {
  const std::vector<Sat> twelve = {{0, 80},   {30, 20},  {60, 45},  {90, 30},  {120, 60}, {150, 15},
                                   {180, 40}, {210, 25}, {240, 50}, {270, 35}, {300, 20}, {330, 55}};
  struct Case {
    const char* name;
    std::size_t nsat;
    std::vector<std::pair<std::size_t, double>> faults;
    int excluded;
  } const cases[] = {
      {"6 rows: none", 6, {{2, 150.0}}, 0},
      {"7 rows: one", 7, {{2, 150.0}}, 1},
      {"8 rows, two faults: two", 8, {{2, 150.0}, {5, -260.0}}, 2},
      {"12 rows, five faults: four", 12, {{1, 150.0}, {3, -260.0}, {6, 400.0}, {8, -550.0}, {10, 700.0}}, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Sat> sats(twelve.begin(), twelve.begin() + static_cast<std::ptrdiff_t>(c.nsat));
    Scene s = make_scene(sats);
    for (const auto& f : c.faults) s.pr_error[f.first] = f.second;
    ASSERT_EQ(solve_once(s, Guess{s.t.pos, s.t.vel, s.t.bias, s.t.drift}), 1);
    EXPECT_EQ(count_pr_excluded(), c.excluded);
    EXPECT_EQ(s.out.n_estin_pr_used, static_cast<S16>(c.nsat) - c.excluded);
  }
}

TEST_F(LsqRaim, AirborneThresholdKeepsAFaultBelowThousandSquareMetres) {
  NVMODEL_set_model(AIRBORNE);
  Scene s = make_scene(EIGHT);
  s.pr_error[3] = 40.0;  // var_residual about 40^2 (1 - h) / 4: above 36, below 1000
  ASSERT_EQ(solve_once(s, Guess{s.t.pos, s.t.vel, s.t.bias, s.t.drift}), 1);
  EXPECT_GT(s.out.quality_pr_4s3D.var_residual, 36.0F);
  EXPECT_EQ(count_pr_excluded(), 0);
  EXPECT_EQ(s.out.lsq_pr_4s2D.has_result, 0);  // no 2-D on this platform
  NVMODEL_set_model(NMODEL_DEFAULT);
  ASSERT_EQ(solve_once(s, Guess{s.t.pos, s.t.vel, s.t.bias, s.t.drift}), 1);
  EXPECT_EQ(count_pr_excluded(), 1);
}

TEST_F(LsqRaim, PoorThreeDGeometryAddsTheTwoDSolution) {
  // Satellites bunched in one part of the sky: 3-D PDOP far above 20.
  Scene s = make_scene({{0, 60}, {8, 62}, {16, 58}, {4, 66}, {12, 55}});
  ASSERT_EQ(solve_once(s, Guess{s.t.pos, s.t.vel, s.t.bias, s.t.drift}), 1);
  ASSERT_EQ(s.out.quality_pr_4s3D.has_pdop, 1);
  EXPECT_GE(s.out.quality_pr_4s3D.pdop, 20.0F);
  EXPECT_EQ(s.out.lsq_pr_4s2D.has_result, 1);
  Scene good = make_scene(EIGHT);
  ASSERT_EQ(solve_once(good, Guess{good.t.pos, good.t.vel, good.t.bias, good.t.drift}), 1);
  EXPECT_EQ(good.out.lsq_pr_4s2D.has_result, 0);
}

TEST_F(LsqRaim, NoFalseExclusionAtOneMetreNoise) {
  std::mt19937 rng(20261206U);
  std::normal_distribution<double> noise(0.0, 1.0);
  std::uniform_real_distribution<double> az(0.0, 360.0);
  std::uniform_real_distribution<double> el(10.0, 85.0);
  constexpr int TRIALS = 2000;
  int excluded = 0;
  int solved = 0;
  for (int t = 0; t < TRIALS; ++t) {
    std::vector<Sat> sats;
    const int n = 7 + t % 6;  // 7..12 satellites
    for (int i = 0; i < n; ++i) sats.push_back({az(rng), el(rng)});
    Scene s = make_scene(sats);
    for (double& e : s.pr_error) e = noise(rng);
    if (solve_once(s, Guess{s.t.pos, s.t.vel, s.t.bias, s.t.drift}) == 1 && s.out.lsq_pr_4s3D.has_result == 1) ++solved;
    excluded += count_pr_excluded();
  }
  EXPECT_EQ(solved, TRIALS);
  EXPECT_EQ(excluded, 0) << "false exclusions in " << TRIALS << " trials";
}

TEST_F(LsqRaim, HostileInputsRefusedNeverNonFinite) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  // Non-finite values are refused at the input.
  NVESTIN_VALUES_T v{};
  v.dc[2] = -1.0F;
  v.pr_diff = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(NVESTIN_set_input(0, &v), nullptr);
  v.pr_diff = 0.0;
  v.dc[0] = inf;
  EXPECT_EQ(NVESTIN_set_input(0, &v), nullptr);
  v.dc[0] = nan;
  EXPECT_EQ(NVESTIN_set_input(0, &v), nullptr);
  EXPECT_EQ(NVESTIN_set_input(20, nullptr), nullptr);

  struct Case {
    const char* name;
    double pr_diff;
    float dc_scale;
    bool same_direction;
    S16 n_override;
  } const cases[] = {
      {"huge residual", 1e300, 1.0F, false, 0},         {"residual beyond float", 1e39, 1.0F, false, 0},
      {"huge direction cosines", 0.0, 1e30F, false, 0}, {"all rows alike", 5.0, 1.0F, true, 0},
      {"zero direction cosines", 5.0, 0.0F, false, 0},  {"count beyond the table", 5.0, 1.0F, false, 25},
      {"negative count", 5.0, 1.0F, false, -3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NVESTIN_reset_all();
    LSQRAIM_INPUT_T in{};
    for (S16 i = 0; i < 8; ++i) {
      NVESTIN_VALUES_T x{};
      const double az = (c.same_direction ? 0.0 : 45.0 * i) * D2R;
      x.dc[0] = static_cast<F32>(std::sin(az) * 0.7) * c.dc_scale;
      x.dc[1] = static_cast<F32>(std::cos(az) * 0.7) * c.dc_scale;
      x.dc[2] = -0.714F * c.dc_scale;
      x.pr_diff = i == 3 ? c.pr_diff : 1.0;
      x.sv_id = static_cast<S16>(i + 1);
      x.gnss_type = GNSS_TYPE_GPS;
      x.has_good_carrier = 1;
      in.estin_ary[i] = in.estin_all_ary[i] = NVESTIN_set_input(i, &x);
    }
    in.n_estin = in.n_estin_all = c.n_override != 0 ? c.n_override : 8;
    static const F32 ident[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    static const POS_T pos{6378137.0, 0.0, 0.0};
    in.enu_mat = ident;
    in.rcv_pos_p = &pos;
    LSQRAIM_OUTPUT_T out{};
    const S16 r = LSQRAIM_proc(&in, &out);
    for (const LSQRAIM_LSQ_PR_T* p : {&out.lsq_pr_4s3D, &out.lsq_pr_4s2D, &out.lsq_pr_5s})
      for (float x : p->dx) EXPECT_TRUE(std::isfinite(x));
    for (const LSQRAIM_LSQ_DR_T* p : {&out.lsq_dr_3D, &out.lsq_dr_2D}) {
      for (float x : p->ddx) EXPECT_TRUE(std::isfinite(x));
      EXPECT_TRUE(std::isfinite(p->h_speed));
    }
    EXPECT_TRUE(std::isfinite(out.quality_pr_4s3D.var_residual));
    if (c.same_direction || c.dc_scale == 0.0F || c.dc_scale > 2.0F || c.n_override != 0 || c.pr_diff > 1e30) {
      EXPECT_EQ(r, 0);
    }
  }
  LSQRAIM_OUTPUT_T out{};
  EXPECT_EQ(LSQRAIM_proc(nullptr, &out), 0);
  EXPECT_EQ(LSQRAIM_proc(nullptr, nullptr), 0);
}

int count_dr_excluded() {
  int n = 0;
  for (S16 ch = 0; ch < NVESTIN_MAX; ++ch) n += NVESTIN_is_DR_excluded_by_RAIM(NVESTIN_get_reference(ch));
  return n;
}

TEST_F(LsqRaim, RangeRateFaultExcludedByTwoDRaimAndVelocityRecovered) {
  for (std::size_t bad : {0U, 2U, 5U, 7U}) {
    SCOPED_TRACE(bad);
    Scene s = make_scene(EIGHT);
    s.dr_error[bad] = 3.0;
    s.cn0[bad] = 30;
    const Guess g{s.t.pos, s.f.to_ecef({10.0, -5.0, 0.0}), s.t.bias, 3.0};
    ASSERT_EQ(solve_once(s, g), 1);
    EXPECT_EQ(count_dr_excluded(), 1);
    EXPECT_EQ(NVESTIN_is_DR_excluded_by_RAIM(NVESTIN_get_reference(static_cast<S16>(bad))), 1);
    ASSERT_EQ(s.out.lsq_dr_3D.has_result, 1);
    const LSQRAIM_LSQ_DR_T& sol = s.out.lsq_dr_3D;
    const V3 v = add(g.vel, s.f.to_ecef({sol.ddx[0], sol.ddx[1], sol.ddx[2]}));
    EXPECT_LT(norm(sub(v, s.t.vel)), 1e-3);
    EXPECT_EQ(s.out.n_estin_dr_3D_used, 7);
    EXPECT_EQ(count_pr_excluded(), 0);  // the pseudoranges are clean
  }
}

// The static test: a receiver at rest after enough fixes, range-rate
// residuals for a receiver at rest compared with their weighted mean.
TEST_F(LsqRaim, StaticTestFindsAReceiverAtRest) {
  struct Case {
    const char* name;
    V3 vel_enu;     // m/s, true receiver velocity
    double fault;   // m/s on input 4
    int fault_cn0;  // dB-Hz of input 4
    S16 model;
    F32 last_speed;
    S16 may_in_static;
    S16 rows_left;  // inputs left in the position solution
  } const cases[] = {
      {"at rest", {0, 0, 0}, 0.0, 42, NMODEL_DEFAULT, 0.0F, 1, 8},
      {"at rest, one input off by 2 m/s", {0, 0, 0}, 2.0, 42, NMODEL_DEFAULT, 0.0F, 1, 7},
      {"at rest, 0.3 m/s off at 42 dB-Hz kept", {0, 0, 0}, 0.3, 42, NMODEL_DEFAULT, 0.0F, 1, 8},
      {"at rest, 0.3 m/s off at 20 dB-Hz removed", {0, 0, 0}, 0.3, 20, NMODEL_DEFAULT, 0.0F, 1, 7},
      {"at rest, 0.3 m/s off after 3 m/s", {0, 0, 0}, 0.3, 42, NMODEL_DEFAULT, 3.0F, 1, 7},
      {"moving at 12 m/s", {12, -7.5, 0}, 0.0, 42, NMODEL_DEFAULT, 0.0F, 0, 8},
      {"at rest on a ship: no test", {0, 0, 0}, 2.0, 42, MARINE, 0.0F, 0, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NVMODEL_set_model(c.model);
    Scene s = make_scene(EIGHT);
    s.t.vel = s.f.to_ecef(c.vel_enu);
    s.dr_error[4] = c.fault;
    s.cn0[4] = c.fault_cn0;
    s.last_speed = c.last_speed;
    ASSERT_EQ(solve_once(s, Guess{s.t.pos, s.t.vel, s.t.bias, s.t.drift}), 1);
    EXPECT_EQ(s.out.may_in_static, c.may_in_static);
    EXPECT_EQ(s.out.n_estin_pr_used, c.rows_left);
  }
  NVMODEL_set_model(NMODEL_DEFAULT);
}

TEST_F(LsqRaim, StaticTestWithThreeInputs) {
  struct Case {
    const char* name;
    double third_off;  // m/s, the third input against the agreeing pair
    int third_cn0;
    S16 may_in_static;
  } const cases[] = {
      {"strong third within 0.2", 0.15, 40, 1},   {"strong third beyond 0.2", 0.5, 40, 0},
      {"medium third within 1.0", 0.8, 25, 1},    {"medium third beyond 1.0", 1.5, 25, 0},
      {"weak third decides nothing", 5.0, 20, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scene s = make_scene({{20, 40}, {140, 30}, {260, 35}});
    s.t.vel = {0, 0, 0};
    s.dr_error[2] = c.third_off;
    s.cn0[2] = c.third_cn0;
    (void)solve_once(s, Guess{s.t.pos, s.t.vel, s.t.bias, s.t.drift});
    EXPECT_EQ(s.out.may_in_static, c.may_in_static);
  }
}

// Inputs without a good-carrier range rate are taken back into the used
// velocity lists when the solution predicts them within 0.1 m/s.
TEST_F(LsqRaim, LeftOutRangeRatesTakenBackWhenTheSolutionPredictsThem) {
  Scene s = make_scene(EIGHT);
  s.good[1] = 0;
  s.good[6] = 0;
  s.dr_error[6] = 0.5;  // predicted 0.5 m/s off: stays out
  s.cont_real_fix_count = 0;
  ASSERT_EQ(solve_once(s, Guess{s.t.pos, s.f.to_ecef({10.0, -5.0, 0.0}), s.t.bias, 3.0}), 1);
  EXPECT_EQ(s.out.use_good_carrier_dr, 1);
  auto in_list = [](const NV_ESTIN_T* l, S16 n, S16 ch) {
    for (S16 i = 0; i < n; ++i)
      if (l[i] == NVESTIN_get_reference(ch)) return true;
    return false;
  };
  EXPECT_EQ(s.out.n_estin_dr_2D_used, 7);
  EXPECT_TRUE(in_list(s.out.estins_dr_2D_used, s.out.n_estin_dr_2D_used, 1));
  EXPECT_FALSE(in_list(s.out.estins_dr_2D_used, s.out.n_estin_dr_2D_used, 6));
  EXPECT_EQ(s.out.n_estin_dr_3D_used, 7);
  EXPECT_TRUE(in_list(s.out.estins_dr_3D_used, s.out.n_estin_dr_3D_used, 1));
  EXPECT_EQ(s.out.n_estin_pr_used, 6);  // the position uses the good-carrier list
}

TEST_F(LsqRaim, FewerThanThreeGoodCarrierInputsFallBackToAll) {
  Scene s = make_scene(EIGHT);
  for (std::size_t i = 2; i < s.good.size(); ++i) s.good[i] = 0;
  ASSERT_EQ(solve_once(s, Guess{s.t.pos, s.t.vel, s.t.bias, s.t.drift}), 1);
  EXPECT_EQ(s.out.use_good_carrier_dr, 0);
  EXPECT_EQ(s.out.n_estin_pr_used, 8);
}

// Five inputs, one of them alone low in the sky: its slope dominates, and
// with no pseudorange history it is left out; four inputs solve without a
// quality.
TEST_F(LsqRaim, FiveInputsWithOneDominatingSlope) {
  Scene s = make_scene({{5, 30}, {175, 30}, {355, 70}, {185, 60}, {90, 20}});
  s.pr_error[4] = 25.0;
  ASSERT_EQ(solve_once(s, Guess{s.t.pos, s.t.vel, s.t.bias, s.t.drift}), 1);
  EXPECT_EQ(s.out.n_estin_pr_used, 4);
  EXPECT_EQ(s.out.lsq_pr_4s3D.has_result, 1);
  EXPECT_EQ(s.out.quality_pr_4s3D.has_quality, 0);
  EXPECT_EQ(s.out.quality_pr_4s3D.has_pdop, 1);
  for (S16 i = 0; i < 4; ++i) EXPECT_NE(s.out.estins_pr_used[i], NVESTIN_get_reference(4));
  // The same sky with a clean fifth input keeps all five.
  Scene clean = make_scene({{5, 30}, {175, 30}, {355, 70}, {185, 60}, {90, 20}});
  ASSERT_EQ(solve_once(clean, Guess{clean.t.pos, clean.t.vel, clean.t.bias, clean.t.drift}), 1);
  EXPECT_EQ(clean.out.n_estin_pr_used, 4);  // |d_pr| 0 but no history: still left out
}

// Two systems: the second system's clock offset is a fifth state.
TEST_F(LsqRaim, TwoSystemSolutionRecoversTheSystemOffset) {
  for (U16 second : {GNSS_TYPE_GLONASS, GNSS_TYPE_BD2}) {
    SCOPED_TRACE(second);
    Scene s = make_scene(EIGHT);
    for (std::size_t i : {1U, 4U, 6U}) {
      s.type[i] = second;
      s.pr_error[i] = 3.75;  // m, the system offset
      s.cn0[i] = 40;
    }
    const Guess g{add(s.t.pos, s.f.to_ecef({3.0, -2.0, 4.0})), s.t.vel, s.t.bias - 5.0, s.t.drift};
    ASSERT_EQ(solve_once(s, g), 1);
    ASSERT_EQ(s.out.lsq_pr_5s.has_result, 1);
    const LSQRAIM_LSQ_PR_T& sol = s.out.lsq_pr_5s;
    const V3 p = add(g.pos, s.f.to_ecef({sol.dx[0], sol.dx[1], sol.dx[2]}));
    EXPECT_LT(norm(sub(p, s.t.pos)), 1e-3);
    EXPECT_NEAR(g.bias + sol.dx[3], s.t.bias, 1e-3);
    EXPECT_NEAR(sol.dx[4], 3.75, 1e-3);
    ASSERT_EQ(s.out.quality_pr_5s.has_quality, 1);
    EXPECT_LT(s.out.quality_pr_5s.var_residual, 1e-4F);
  }
  Scene gps = make_scene(EIGHT);  // one system: no five-state solution
  ASSERT_EQ(solve_once(gps, Guess{gps.t.pos, gps.t.vel, gps.t.bias, gps.t.drift}), 1);
  EXPECT_EQ(gps.out.lsq_pr_5s.has_result, 0);
}

// Slopes and the integrity output against an independent computation: S =
// H (H^T H)^-1 by cofactors, leverage h_i = S_i . H_i, slope_i =
// sqrt((S_i0^2 + S_i1^2) / max(1 - h_i, 0.005)). Four satellites in the
// north-south plane leave the fifth alone in east: its leverage is 1 and its
// slope uses 0.005. With a pseudorange history the dominating slope is kept.
TEST_F(LsqRaim, SlopesAndIntegrityAgainstAnIndependentComputation) {
  const std::vector<std::vector<Sat>> skies = {{{0, 30}, {180, 35}, {0, 70}, {180, 60}, {90, 20}}, EIGHT};
  for (std::size_t k = 0; k < skies.size(); ++k) {
    SCOPED_TRACE(k);
    Scene s = make_scene(skies[k]);
    const double errs[8] = {1.5, -2.0, 0.5, 3.0, -1.0, 2.5, -0.5, 1.0};
    for (std::size_t i = 0; i < s.pr_error.size(); ++i) s.pr_error[i] = errs[i];
    const Guess g{s.t.pos, s.t.vel, s.t.bias, s.t.drift};
    NVESTIN_reset_all();
    ASSERT_EQ(solve_once(s, g, 20, true), 1);
    ASSERT_EQ(solve_once(s, g, 20, true), 1);  // second epoch: a pseudorange history
    const LSQRAIM_QUALITY_T& q = s.out.quality_pr_4s3D;
    ASSERT_EQ(q.has_quality, 1);
    ASSERT_EQ(q.n_residuals, static_cast<S16>(s.sv_pos.size()));
    std::vector<std::array<double, 4>> h;
    double n[4][4] = {};
    for (const V3& p : s.sv_pos) {
      const V3 los = s.f.to_enu(mul(sub(s.t.pos, p), 1.0 / norm(sub(s.t.pos, p))));
      h.push_back({los[0], los[1], los[2], 1.0});
      for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
          n[r][c] += h.back()[static_cast<std::size_t>(r)] * h.back()[static_cast<std::size_t>(c)];
    }
    double q4[4][4];
    cofactor_inverse4(n, q4);
    double sum_r2 = 0.0;
    for (std::size_t i = 0; i < h.size(); ++i) {
      double srow[4] = {};
      for (int a = 0; a < 4; ++a)
        for (int b = 0; b < 4; ++b) srow[a] += q4[a][b] * h[i][static_cast<std::size_t>(b)];
      double lev = 0.0;
      for (int a = 0; a < 4; ++a) lev += srow[a] * h[i][static_cast<std::size_t>(a)];
      const double slope = std::sqrt((srow[0] * srow[0] + srow[1] * srow[1]) / std::max(1.0 - lev, 0.005));
      EXPECT_NEAR(q.slope[i], slope, 1e-3 * slope) << "row " << i;
      sum_r2 += static_cast<double>(q.r[i]) * q.r[i];
    }
    EXPECT_NEAR(q.var_residual, sum_r2 / (static_cast<double>(h.size()) - 4.0), 1e-4);
    F32 el = 0, eo = 0, ea = 0, prob = 0, bias = 0, sd = 0;
    S16 id = -1;
    ASSERT_EQ(LSQRAIM_get_RAIM_enu_error(&el, &eo, &ea, &id, &prob, &bias, &sd), 1);
    const double sigma = std::sqrt(q.var_residual);
    EXPECT_NEAR(sd, sigma, 1e-4);
    EXPECT_NEAR(eo, sigma * std::sqrt(q4[0][0]), 1e-3);
    EXPECT_NEAR(el, sigma * std::sqrt(q4[1][1]), 1e-3);
    EXPECT_NEAR(ea, sigma * std::sqrt(q4[2][2]), 1e-3);
    EXPECT_EQ(id, 0);  // nothing excluded
  }
}

}  // namespace
