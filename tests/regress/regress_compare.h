// Comparison of one run's outputs with the expected files of a regression case.
// Every function returns an empty string when the two agree, otherwise a
// one-line description of the first difference (line number, both lines).
#pragma once

#include <string>

namespace regress {

// Coordinate tolerances of the solution-file comparison: one unit of the last
// printed digit (LAT/LON are printed with 8 decimals of a degree, ALT X Y Z
// and BASELINE with 3 decimals of a metre).
constexpr double LAT_LON_TOL_DEG = 1e-8;  // about 1.1 mm on the ground
constexpr double METRIC_TOL_M = 1e-3;

// Normal_sol.txt / Geotagging_sol.txt text. Header lines exact; on epoch
// lines the number of columns, EPOCH, DATE, UTC, STATUS, AGE_OF_DIFF and
// RATIO exact, LAT LON within LAT_LON_TOL_DEG, ALT X Y Z BASELINE within
// METRIC_TOL_M. A missing or extra epoch is reported as such.
std::string compare_solutions(const std::string& expected, const std::string& actual);

// Any other text: every line exact.
std::string compare_text(const std::string& expected, const std::string& actual);

// The stderr of a run without its nondeterministic parts: split at '\r' and
// '\n', empty pieces and the "RTK wall time" line dropped, and of the progress
// lines ("RTK ...% read, ...", printed at most four times a second of wall
// time) only the last one kept. Every kept line ends with '\n'.
std::string filter_stderr(const std::string& raw);

}  // namespace regress
