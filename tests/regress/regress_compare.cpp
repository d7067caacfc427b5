#include "regress_compare.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string_view>
#include <vector>

namespace regress {

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) v.push_back(line);
  return v;
}

std::vector<std::string> tokens_of(const std::string& line) {
  std::vector<std::string> v;
  std::istringstream in(line);
  for (std::string t; in >> t;) v.push_back(t);
  return v;
}

// Columns compared within a tolerance, by their header name; every other column is exact.
struct COLUMN_TOL_T {
  std::string_view name;
  double tol;
};
constexpr std::array<COLUMN_TOL_T, 7> COLUMN_TOL = {{{"LAT", LAT_LON_TOL_DEG},
                                                     {"LON", LAT_LON_TOL_DEG},
                                                     {"ALT", METRIC_TOL_M},
                                                     {"X", METRIC_TOL_M},
                                                     {"Y", METRIC_TOL_M},
                                                     {"Z", METRIC_TOL_M},
                                                     {"BASELINE", METRIC_TOL_M}}};
constexpr int N_EPOCH_ID_COLUMNS = 3;  // EPOCH DATE UTC

double tolerance_of(const std::vector<std::string>& header, std::size_t col) {
  if (col >= header.size()) return -1.0;
  for (const COLUMN_TOL_T& c : COLUMN_TOL)
    if (header[col] == c.name) return c.tol;
  return -1.0;
}

bool to_double(const std::string& s, double* v) {
  char* end = nullptr;
  *v = std::strtod(s.c_str(), &end);
  return end != s.c_str() && *end == '\0';
}

bool is_epoch_line(const std::vector<std::string>& tok) { return !tok.empty() && tok[0][0] >= '0' && tok[0][0] <= '9'; }

std::string at(std::size_t i, const std::string& what, const std::string& e, const std::string& a) {
  return "line " + std::to_string(i + 1) + ": " + what + "\n  expected: " + e + "\n  actual:   " + a;
}

}  // namespace

std::string compare_solutions(const std::string& expected, const std::string& actual) {
  const std::vector<std::string> e = lines_of(expected), a = lines_of(actual);
  std::vector<std::string> header;
  for (std::size_t i = 0; i < e.size() || i < a.size(); ++i) {
    if (i >= a.size()) return at(i, "epoch missing in the output (output ends early)", e[i], "");
    if (i >= e.size()) return at(i, "extra epoch in the output", "", a[i]);
    const std::vector<std::string> te = tokens_of(e[i]), ta = tokens_of(a[i]);
    if (!is_epoch_line(te) || !is_epoch_line(ta)) {
      if (e[i] != a[i]) return at(i, "text line differs", e[i], a[i]);
      header = te;
      continue;
    }
    if (te.size() != ta.size()) return at(i, "number of columns differs", e[i], a[i]);
    for (std::size_t c = 0; c < te.size(); ++c) {
      const std::string name = c < header.size() ? header[c] : "column " + std::to_string(c + 1);
      const double tol = tolerance_of(header, c);
      double x = 0, y = 0;
      if (tol < 0 && te[c] != ta[c])
        return at(i, c < N_EPOCH_ID_COLUMNS ? "epoch differs (missing or extra epoch)" : name + " differs", e[i], a[i]);
      // A hair above the tolerance so that one unit of the last printed digit passes after decimal parsing.
      if (tol >= 0 && (!to_double(te[c], &x) || !to_double(ta[c], &y) || std::fabs(x - y) > tol * (1 + 1e-6)))
        return at(i, name + " beyond the tolerance of " + std::to_string(tol), e[i], a[i]);
    }
  }
  return "";
}

std::string compare_text(const std::string& expected, const std::string& actual) {
  const std::vector<std::string> e = lines_of(expected), a = lines_of(actual);
  for (std::size_t i = 0; i < e.size() || i < a.size(); ++i) {
    const std::string le = i < e.size() ? e[i] : "(no line)", la = i < a.size() ? a[i] : "(no line)";
    if (i >= e.size() || i >= a.size() || e[i] != a[i]) return at(i, "text differs", le, la);
  }
  return "";
}

std::string filter_stderr(const std::string& raw) {
  std::vector<std::string> kept;
  std::size_t progress = std::string::npos;  // index in kept of the last progress line
  std::string piece;
  std::istringstream in(raw);
  while (std::getline(in, piece)) {
    std::istringstream sub(piece);
    for (std::string line; std::getline(sub, line, '\r');) {
      if (line.empty() || line.starts_with("RTK wall time:")) continue;
      const bool is_progress = line.starts_with("RTK ") && line.find("% read, ") != std::string::npos;
      if (is_progress && progress != std::string::npos) {
        kept[progress] = line;
        continue;
      }
      if (is_progress) progress = kept.size();
      kept.push_back(line);
    }
  }
  std::string out;
  for (const std::string& l : kept) out += l + "\n";
  return out;
}

}  // namespace regress
