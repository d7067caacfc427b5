// Coordinates and datum: WGS-84 known answers (NIMA TR8350.2 values
// b = 6 356 752.314245 m, e^2 = 0.00669437999014), ECEF <-> geodetic round
// trips from -1 000 km to +1 000 km height, the ENU rotation and datum shifts.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "kernel/src/coordinate.h"
#include "kernel/src/datum.h"
#include "kernel/src/geoid.h"

namespace {
constexpr D64 PI = 3.14159265358979323846;
constexpr D64 DEG = PI / 180.0;
constexpr D64 B_PUBLISHED = 6356752.314245;  // m
constexpr D64 E2_PUBLISHED = 0.00669437999014;

POS_T ecef_published(D64 lat, D64 lon, D64 h) {
  const D64 n = 6378137.0 / std::sqrt(1.0 - E2_PUBLISHED * std::sin(lat) * std::sin(lat));
  return {(n + h) * std::cos(lat) * std::cos(lon), (n + h) * std::cos(lat) * std::sin(lon),
          (n * (1.0 - E2_PUBLISHED) + h) * std::sin(lat)};
}
D64 dist(const POS_T& a, const POS_T& b) {
  return std::sqrt((a.px - b.px) * (a.px - b.px) + (a.py - b.py) * (a.py - b.py) + (a.pz - b.pz) * (a.pz - b.pz));
}
}  // namespace

// Fails with b = 6 356 752.0 m or e^2 = 0.006694478 (0.31 m and 0.16 m off).
TEST(Coord, Wgs84KnownAnswers) {
  struct Case {
    const char* name;
    POS_T xyz;
    D64 lat, h;
  };
  const std::array<Case, 4> cases = {{
      {"north pole on the axis", {0.0, 0.0, B_PUBLISHED}, 90.0 * DEG, 0.0},
      {"south pole 2 cm off the axis", {0.02, 0.0, -B_PUBLISHED}, -90.0 * DEG, 0.0},
      {"equator", {6378137.0, 0.0, 0.0}, 0.0, 0.0},
      {"45 degrees, 100 m", ecef_published(45.0 * DEG, 10.0 * DEG, 100.0), 45.0 * DEG, 100.0},
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LLA_T lla{};
    COO_cartesian_to_geodetic(&c.xyz, &lla);
    EXPECT_NEAR(lla.lat, c.lat, 4e-9);  // 2 cm off the axis is 3.1e-9 rad
    EXPECT_NEAR(lla.alt, c.h, 1e-4);
  }
  const LLA_T in = {45.0 * DEG, 10.0 * DEG, 100.0F};
  POS_T out{};
  COO_geodetic_to_cartesian(&in, &out);
  EXPECT_LT(dist(out, ecef_published(in.lat, in.lon, 100.0)), 1e-4);
}

// Round trips at the poles, the equator and +-180 degrees longitude.
TEST(Coord, RoundTripsWithinATenthOfAMillimetre) {
  const std::array<D64, 9> lats = {90.0, 89.9999999, 60.0, 45.0, 1e-9, 0.0, -30.0, -89.99999, -90.0};
  const std::array<D64, 6> lons = {0.0, 90.0, 179.9999999, 180.0, -180.0, -45.0};
  const std::array<D64, 7> heights = {-1000e3, -10e3, -0.5, 0.0, 100.0, 400e3, 1000e3};
  D64 worst_xyz = 0.0;
  D64 worst_single = 0.0;
  for (const D64 lat : lats)
    for (const D64 lon : lons)
      for (const D64 h : heights) {
        SCOPED_TRACE(std::to_string(lat) + " " + std::to_string(lon) + " " + std::to_string(h));
        const COO_GEODETIC_T g = {lat * DEG, lon * DEG, h};
        const POS_T xyz = COO_ellipsoid_geodetic_to_cartesian(COO_WGS84_A, COO_WGS84_INV_F, &g);
        EXPECT_LT(dist(xyz, ecef_published(g.lat, g.lon, h)), 1e-4);
        const COO_GEODETIC_T back = COO_ellipsoid_cartesian_to_geodetic(COO_WGS84_A, COO_WGS84_INV_F, &xyz, 2, 0.0);
        const POS_T again = COO_ellipsoid_geodetic_to_cartesian(COO_WGS84_A, COO_WGS84_INV_F, &back);
        worst_xyz = std::max(worst_xyz, dist(xyz, again));
        EXPECT_NEAR(back.h, h, 1e-4);
        if (std::fabs(lat) < 89.9) {
          EXPECT_NEAR(back.lat, g.lat, 1e-4 / 6.4e6);
          // +-180 degrees is one meridian: compare through the ECEF position.
        }
        const COO_GEODETIC_T one = COO_ellipsoid_cartesian_to_geodetic(COO_WGS84_A, COO_WGS84_INV_F, &xyz, 1, 0.0);
        const POS_T one_xyz = COO_ellipsoid_geodetic_to_cartesian(COO_WGS84_A, COO_WGS84_INV_F, &one);
        worst_single = std::max(worst_single, dist(xyz, one_xyz));
        // The single-precision height of LLA_T holds the height to half a unit in the last place.
        LLA_T lla{};
        COO_cartesian_to_geodetic(&xyz, &lla);
        EXPECT_NEAR(lla.alt, h, std::max(1e-4, std::fabs(h) * 6e-8));
      }
  EXPECT_LT(worst_xyz, 1e-4);
  // One Bowring step alone is not enough here: about 13 mm at -1 000 km.
  EXPECT_LT(worst_single, 0.02);
  RecordProperty("worst_single_step_m", std::to_string(worst_single));
}

// The error of the single step grows with height: measured at GPS orbit height.
TEST(Coord, SingleStepErrorAtOrbitHeight) {
  D64 worst_single = 0.0;
  D64 worst_two = 0.0;
  for (D64 lat = -89.0; lat <= 89.0; lat += 1.0) {
    const COO_GEODETIC_T g = {lat * DEG, 0.3, 20200e3};
    const POS_T xyz = COO_ellipsoid_geodetic_to_cartesian(COO_WGS84_A, COO_WGS84_INV_F, &g);
    const COO_GEODETIC_T one = COO_ellipsoid_cartesian_to_geodetic(COO_WGS84_A, COO_WGS84_INV_F, &xyz, 1, 0.0);
    const COO_GEODETIC_T two = COO_ellipsoid_cartesian_to_geodetic(COO_WGS84_A, COO_WGS84_INV_F, &xyz, 2, 0.0);
    const POS_T one_xyz = COO_ellipsoid_geodetic_to_cartesian(COO_WGS84_A, COO_WGS84_INV_F, &one);
    const POS_T two_xyz = COO_ellipsoid_geodetic_to_cartesian(COO_WGS84_A, COO_WGS84_INV_F, &two);
    worst_single = std::max(worst_single, dist(xyz, one_xyz));
    worst_two = std::max(worst_two, dist(xyz, two_xyz));
  }
  EXPECT_LT(worst_two, 1e-4);
  // One step alone: about 0.21 m at 20 200 km; the second step removes it.
  EXPECT_GT(worst_single, 0.1);
  EXPECT_LT(worst_single, 0.3);
  RecordProperty("single_step_error_at_20200km_m", std::to_string(worst_single));
  std::printf("single Bowring step at 20 200 km: %.6f m, two steps: %.9f m\n", worst_single, worst_two);
}

TEST(Coord, EnuRotation) {
  const LLA_T ref = {30.0 * DEG, 120.0 * DEG, 0.0F};
  // The up vector of the reference position and its east and north directions.
  const D64 sl = std::sin(ref.lat);
  const D64 cl = std::cos(ref.lat);
  const D64 so = std::sin(ref.lon);
  const D64 co = std::cos(ref.lon);
  const std::array<POS_T, 3> dirs = {{{-so, co, 0.0}, {-sl * co, -sl * so, cl}, {cl * co, cl * so, sl}}};
  const std::array<std::array<D64, 3>, 3> expect = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
  F32 tm[3][3];
  COO_calculate_enu_tm(static_cast<F32>(ref.lat), static_cast<F32>(ref.lon), tm);
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    POS_ENU_T enu{};
    COO_cartesian_to_ENU(&dirs[i], &ref, &enu);
    EXPECT_NEAR(enu.pe, expect[i][0], 1e-12);
    EXPECT_NEAR(enu.pn, expect[i][1], 1e-12);
    EXPECT_NEAR(enu.pu, expect[i][2], 1e-12);
    const F32 in[3] = {static_cast<F32>(dirs[i].px), static_cast<F32>(dirs[i].py), static_cast<F32>(dirs[i].pz)};
    F32 out[3];
    COO_linear_transform(tm, in, out);
    F32 back[3];
    COO_inv_linear_transform(tm, out, back);
    for (std::size_t k = 0; k < 3; ++k) {
      EXPECT_NEAR(out[k], expect[i][k], 1e-6);
      EXPECT_NEAR(back[k], in[k], 1e-6);
    }
  }
}

TEST(Coord, DatumConversion) {
  struct Case {
    const char* name;
    DTM_T dtm;
    LLA_T in;
  };
  const std::array<Case, 5> cases = {{
      {"WGS-84, no shift", {6378137.0, 298.257223563, 0, 0, 0}, {35.0 * DEG, 139.0 * DEG, 50.0F}},
      {"x shift at lat 0 lon 0", {6378137.0, 298.257223563, 100, 0, 0}, {0.0, 0.0, 0.0F}},
      {"z shift at the pole", {6378137.0, 298.257223563, 0, 0, 50}, {PI / 2, 0.0, 0.0F}},
      {"Bessel 1841 with a shift", {6377397.155, 299.1528128, -146, 507, 687}, {35.0 * DEG, 139.0 * DEG, 50.0F}},
      {"International 1924 with a shift", {6378388.0, 297.0, -87, -98, -121}, {-33.0 * DEG, -70.0 * DEG, 500.0F}},
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LLA_T out{};
    DTM_convert_WGS84_to_another_datum(&c.dtm, &c.in, &out);
    // Back through the target ellipsoid and the shift: the WGS-84 ECEF position.
    const COO_GEODETIC_T g = {out.lat, out.lon, static_cast<D64>(out.alt)};
    POS_T xyz = COO_ellipsoid_geodetic_to_cartesian(c.dtm.a, c.dtm.inv_f, &g);
    xyz.px += c.dtm.dx;
    xyz.py += c.dtm.dy;
    xyz.pz += c.dtm.dz;
    EXPECT_LT(dist(xyz, ecef_published(c.in.lat, c.in.lon, c.in.alt)), 1e-3);
  }
  LLA_T out{};
  DTM_convert_WGS84_to_another_datum(&cases[0].dtm, &cases[0].in, &out);
  EXPECT_NEAR(out.lat, cases[0].in.lat, 1e-12);
  EXPECT_NEAR(out.lon, cases[0].in.lon, 1e-12);
  EXPECT_NEAR(out.alt, cases[0].in.alt, 1e-4);
  DTM_convert_WGS84_to_another_datum(&cases[1].dtm, &cases[1].in, &out);
  EXPECT_NEAR(out.alt, -100.0, 1e-4);
  DTM_convert_WGS84_to_another_datum(&cases[2].dtm, &cases[2].in, &out);
  EXPECT_NEAR(out.lat, PI / 2, 1e-9);
  EXPECT_NEAR(out.alt, -50.0, 1e-4);
}

// Geoid grids: two global grids shaped like the coarse world model (10 degree
// steps to colatitude 80, 20 degree steps beyond) and one regional box, each
// followed in memory by guard values that a read past the grid would mix in.
namespace {
constexpr S08 GUARD = 100;
template <std::size_t N>
struct GuardedGrid {
  std::array<S08, N + 64> v{};
};
D64 node_value(int r, int c) { return static_cast<D64>((r * 7 + c * 3) % 41 - 20); }
template <std::size_t N>
GuardedGrid<N> make_grid(int rows, int cols) {
  GuardedGrid<N> g;
  g.v.fill(GUARD);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) g.v[static_cast<std::size_t>(r * cols + c)] = static_cast<S08>(node_value(r, c));
  return g;
}
const auto UPPER = make_grid<9 * 37>(9, 37);
const auto LOWER = make_grid<6 * 19>(6, 19);
const auto REGION = make_grid<9 * 21>(9, 21);
const std::array<GEO_GRID_T, 3> GRIDS = {{
    {40.0, 60.0, 170.0, 220.0, 2.5, 9, 21, 0, 0, REGION.v.data()},
    {0.0, 80.0, 0.0, 360.0, 10.0, 9, 37, 0, 0, UPPER.v.data()},
    {80.0, 180.0, 0.0, 360.0, 20.0, 6, 19, 0, 0, LOWER.v.data()},
}};
F32 at_deg(D64 colat, D64 slon) {
  return GEO_height_from_grids(GRIDS.data(), static_cast<S16>(GRIDS.size()), static_cast<F32>((90.0 - colat) * DEG),
                               static_cast<F32>((slon - 180.0) * DEG));
}
}  // namespace

// Every node of every grid, the corners and edges included (South Pole,
// longitude +-180 degrees), returns its own value; a read past the grid would
// bring in the guard value 100.
TEST(Geoid, NodesCornersAndEdges) {
  for (const GEO_GRID_T& g : GRIDS) {
    for (int r = 0; r < g.rows; ++r)
      for (int c = 0; c < g.cols; ++c) {
        SCOPED_TRACE(std::to_string(g.colat0) + " r" + std::to_string(r) + " c" + std::to_string(c));
        F32 h = 0.0F;
        ASSERT_EQ(GEO_grid_height(&g, g.colat0 + r * g.step, g.slon0 + c * g.step, &h), 1);
        EXPECT_NEAR(h, node_value(r, c), 1e-9);
      }
  }
  struct Case {
    const char* name;
    D64 colat, slon, expect;
  };
  const std::array<Case, 6> cases = {{
      {"North Pole", 0.0, 0.0, node_value(0, 0)},
      {"South Pole, longitude -180", 180.0, 0.0, node_value(5, 0)},
      {"South Pole, longitude 180", 180.0, 360.0, node_value(5, 18)},
      {"colatitude 10, longitude 180", 10.0, 360.0, node_value(1, 36)},
      {"midway on the last row of the lower grid", 180.0, 350.0, 0.5 * (node_value(5, 17) + node_value(5, 18))},
      {"regional corner", 60.0, 220.0, node_value(8, 20)},
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_NEAR(at_deg(c.colat, c.slon), c.expect, 1e-3);
  }
}

TEST(Geoid, BilinearInsideACellAndZeroOutsideEveryBox) {
  // A quarter of the way down and halfway across cell (2, 5) of the upper grid.
  const D64 expect = 0.75 * 0.5 * node_value(2, 5) + 0.25 * 0.5 * node_value(3, 5) + 0.75 * 0.5 * node_value(2, 6) +
                     0.25 * 0.5 * node_value(3, 6);
  EXPECT_NEAR(at_deg(22.5, 55.0), expect, 1e-3);
  // Only the regional box: a point outside it gives 0.
  const std::array<std::pair<D64, D64>, 4> outside = {{{39.9, 200.0}, {60.1, 200.0}, {50.0, 169.9}, {50.0, 220.1}}};
  for (const auto& [colat, slon] : outside) {
    SCOPED_TRACE(std::to_string(colat) + " " + std::to_string(slon));
    EXPECT_EQ(GEO_height_from_grids(GRIDS.data(), 1, static_cast<F32>((90.0 - colat) * DEG),
                                    static_cast<F32>((slon - 180.0) * DEG)),
              0.0F);
  }
  // An open end leaves its last row to the next box.
  GEO_GRID_T open = GRIDS[1];
  open.colat1_open = 1;
  F32 h = 0.0F;
  EXPECT_EQ(GEO_grid_height(&open, 80.0, 10.0, &h), 0);
}

// The world geoid (EGM96 in whole metres every 2.5 degrees) against
// published EGM96 figures: the poles, the node 50 N 0 E (45.04 m), the Indian
// Ocean low (about -106 m near 4.7 N 78.8 E) and the New Guinea high (about
// +85 m near 8.4 S 147.4 E), smoothed by the 2.5-degree grid; and the row
// at 50 N from 10 W to 40 E of the receiver's original regional table
// (59 57 55 51 47 46 47 48 48 47 46 45 42 36 32 32 28 23 18 13 12 m).
TEST(Geoid, WorldGridAgainstPublishedHeights) {
  constexpr float D = static_cast<float>(M_PI / 180.0);
  struct Case {
    const char* name;
    float lat_deg, lon_deg, lo, hi;  // m
  };
  const Case cases[] = {
      {"North Pole", 90.0F, 0.0F, 13.0F, 14.0F},        {"South Pole", -90.0F, 123.0F, -30.0F, -29.0F},
      {"node 50 N 0 E", 50.0F, 0.0F, 45.0F, 45.0F},     {"Indian Ocean low", 4.7F, 78.8F, -108.0F, -95.0F},
      {"New Guinea high", -8.4F, 147.4F, 70.0F, 87.0F}, {"longitude 180", -17.0F, 180.0F, 40.0F, 75.0F},
  };
  for (const Case& c : cases) {
    const float h = GEO_calc_geoid_height(c.lat_deg * D, c.lon_deg * D);
    EXPECT_GE(h, c.lo) << c.name;
    EXPECT_LE(h, c.hi) << c.name;
  }
  const int row[21] = {59, 57, 55, 51, 47, 46, 47, 48, 48, 47, 46, 45, 42, 36, 32, 32, 28, 23, 18, 13, 12};
  for (int i = 0; i < 21; ++i)
    EXPECT_NEAR(GEO_calc_geoid_height(50.0F * D, (-10.0F + 2.5F * static_cast<float>(i)) * D), row[i], 2.5)
        << "lon " << -10.0 + 2.5 * i;
  // the same place on either side of the date line and a turn further on
  EXPECT_FLOAT_EQ(GEO_calc_geoid_height(-17.0F * D, 179.999F * D), GEO_calc_geoid_height(-17.0F * D, -180.001F * D));
  EXPECT_NEAR(GEO_calc_geoid_height(10.0F * D, 20.0F * D), GEO_calc_geoid_height(10.0F * D, 380.0F * D), 1e-3);
  EXPECT_EQ(GEO_calc_geoid_height(NAN, 0.0F), 0.0F);
  EXPECT_EQ(GEO_calc_geoid_height(0.0F, INFINITY), 0.0F);
}
