// Geoid heights: box selection and bilinear interpolation in regional grids.
#include "kernel/src/geoid.h"

#include "kernel/src/geoid_world.h"

#include <cmath>

namespace {
constexpr D64 DEG_PER_RAD = 57.2957795131;

// Cell index of offset v (degrees from the box start) clamped to the last
// interior cell, and the remainder inside it (0 .. step).
S16 cell_of(D64 v, D64 step, S16 nodes, D64* rem_p) {
  auto i = static_cast<S16>(std::floor(v / step));
  if (i > nodes - 2) i = static_cast<S16>(nodes - 2);
  if (i < 0) i = 0;
  *rem_p = v - i * step;
  return i;
}

bool inside(D64 v, D64 lo, D64 hi, S16 open_end) { return v >= lo && (open_end != 0 ? v < hi : v <= hi); }
}  // namespace

S16 GEO_grid_height(const GEO_GRID_T* g_p, D64 colat, D64 slon, F32* height_p) {
  if (g_p->rows < 2 || g_p->cols < 2 || g_p->heights == nullptr) return 0;
  if (!inside(colat, g_p->colat0, g_p->colat1, g_p->colat1_open) ||
      !inside(slon, g_p->slon0, g_p->slon1, g_p->slon1_open))
    return 0;
  const D64 s = g_p->step;
  D64 dp = 0.0;
  D64 dl = 0.0;
  const S16 r = cell_of(colat - g_p->colat0, s, g_p->rows, &dp);
  const S16 c = cell_of(slon - g_p->slon0, s, g_p->cols, &dl);
  const auto at = [g_p](int row, int col) { return static_cast<D64>(g_p->heights[row * g_p->cols + col]); };
  const D64 h = (at(r, c) * (s - dp) * (s - dl) + at(r + 1, c) * dp * (s - dl) + at(r, c + 1) * (s - dp) * dl +
                 at(r + 1, c + 1) * dp * dl) /
                (s * s);
  *height_p = static_cast<F32>(h);
  return 1;
}

F32 GEO_height_from_grids(const GEO_GRID_T* grids, S16 n, F32 lat, F32 lon) {
  // Single-precision +-pi/2 and +-pi lie a hair beyond the poles and 180
  // degrees: bring them back onto the grid's edges.
  const D64 colat = std::fmin(std::fmax(90.0 - static_cast<D64>(lat) * DEG_PER_RAD, 0.0), 180.0);
  const D64 slon = std::fmin(std::fmax(static_cast<D64>(lon) * DEG_PER_RAD + 180.0, 0.0), 360.0);
  for (S16 i = 0; i < n; ++i) {
    F32 h = 0.0F;
    if (GEO_grid_height(&grids[i], colat, slon, &h) != 0) return h;
  }
  return 0.0F;
}

namespace {
constexpr GEO_GRID_T World_grid = {
    0.0, 180.0, 0.0, 360.0, GEO_WORLD_STEP, GEO_WORLD_ROWS, GEO_WORLD_COLS, 0, 0, GEO_WORLD_HEIGHTS.data()};
}  // namespace

F32 GEO_calc_geoid_height(F32 lat, F32 lon) {
  if (!std::isfinite(lat) || !std::isfinite(lon)) return 0.0F;
  constexpr D64 TWO_PI = 6.283185307179586;
  D64 l = std::fmod(static_cast<D64>(lon), TWO_PI);  // -2 pi .. 2 pi
  if (l > TWO_PI / 2.0) l -= TWO_PI;
  if (l < -TWO_PI / 2.0) l += TWO_PI;
  return GEO_height_from_grids(&World_grid, 1, lat, static_cast<F32>(l));
}
