// Geoid heights (GEO_) from regional grids of whole-metre geoid heights.
//
// A grid covers a box in colatitude-like and shifted-longitude coordinates,
// degrees: colat = 90 - latitude (0 at the North Pole, 180 at the South
// Pole) and slon = longitude + 180 (0 .. 360). Its values are held row by
// row (rows by colatitude from colat0, columns by longitude from slon0), one
// value per node at a fixed step. The height at a point is the bilinear
// interpolation of the four nodes of its cell; on the last row or column of
// the box (the South Pole of a global grid, longitude 180 degrees) the last
// interior cell is used, so that no node outside the grid is read.
#pragma once

#include "misc/gnss_types.h"

struct GEO_GRID_T {
  D64 colat0, colat1;  // colatitude range, degrees (colat1 = colat0 + (rows - 1) step)
  D64 slon0, slon1;    // shifted longitude range, degrees
  D64 step;            // node spacing, degrees
  S16 rows, cols;      // nodes (each at least 2)
  S16 colat1_open;     // 1: the box ends just below colat1 (the next box takes that row)
  S16 slon1_open;      // 1: the box ends just below slon1
  const S08* heights;  // rows x cols values, m; the caller's table, kept for the run
};

// Height (m) of grid g_p at colat, slon (degrees) written to height_p: 1 when
// the point lies in the grid's box, 0 with nothing written.
S16 GEO_grid_height(const GEO_GRID_T* g_p, D64 colat, D64 slon, F32* height_p);
// Height (m) at latitude lat, longitude lon (radians) from the first of the n
// grids (the caller's array, in order of preference) whose box holds the
// point; 0 outside every box.
F32 GEO_height_from_grids(const GEO_GRID_T* grids, S16 n, F32 lat, F32 lon);

// Geoid height (m, whole-metre grid bilinearly interpolated) of the EGM96
// geoid above the WGS-84 ellipsoid at latitude lat, longitude lon (radians),
// from the world grid of 2.5 degrees (kernel/src/geoid_world.h). Longitudes
// beyond +-pi are taken modulo 2 pi; a non-finite input gives 0.
F32 GEO_calc_geoid_height(F32 lat, F32 lon);
