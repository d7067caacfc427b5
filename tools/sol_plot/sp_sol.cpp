// Solution rows of a talonhost solution file, local east/north/up.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/stat.h>

#include "tools/sol_plot/sol_plot.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double D2R = PI / 180.0;
constexpr double WGS84_A = 6378137.0;                   // semi-major axis, m
constexpr double WGS84_F = 1.0 / 298.257223563;         // flattening
constexpr double WGS84_E2 = WGS84_F * (2.0 - WGS84_F);  // first eccentricity squared
constexpr double MAX_ABS = 1e9;                         // largest magnitude of a number column
constexpr int NUM_COLS = 13;
constexpr std::size_t MAX_LINE = 511;  // longest line that can be a row, bytes without the line end

bool is_space(char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '\v' || ch == '\f'; }

// Split line into at most max_cols tokens (pointers into copy, NUL-ended);
// returns the token count, or max_cols + 1 when there are more.
int split(char* copy, char** tok, int max_cols) {
  int n = 0;
  char* p = copy;
  while (*p != '\0') {
    while (is_space(*p)) ++p;
    if (*p == '\0') break;
    if (n == max_cols) return max_cols + 1;
    tok[n++] = p;
    while (*p != '\0' && !is_space(*p)) ++p;
    if (*p != '\0') *p++ = '\0';
  }
  return n;
}

// A whole token as a finite number of magnitude at most MAX_ABS.
bool to_double(const char* s, double* v) {
  char* end = nullptr;
  errno = 0;
  const double d = std::strtod(s, &end);
  if (end == s || *end != '\0' || errno == ERANGE || !std::isfinite(d) || std::fabs(d) > MAX_ABS) return false;
  *v = d;
  return true;
}

// Exactly `digits` decimal digits at s (no sign).
bool fixed_int(const char* s, int digits, int* v) {
  int x = 0;
  for (int i = 0; i < digits; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    x = x * 10 + (s[i] - '0');
  }
  *v = x;
  return true;
}

bool to_long(const char* s, long* v) {
  char* end = nullptr;
  errno = 0;
  const long x = std::strtol(s, &end, 10);
  if (end == s || *end != '\0' || errno == ERANGE) return false;
  *v = x;
  return true;
}

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(int y, int m) {
  constexpr int DAYS[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap(y) ? 29 : DAYS[m - 1];
}

// Days from 1970-01-01 to the civil date y-m-d (proleptic Gregorian).
long days_from_civil(int y, int m, int d) {
  const long yy = m <= 2 ? y - 1 : y;
  const long era = (yy >= 0 ? yy : yy - 399) / 400;
  const long yoe = yy - era * 400;
  const long mp = (m + 9) % 12;
  const long doy = (153 * mp + 2) / 5 + d - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// "yyyy/mm/dd" with a valid calendar date.
bool parse_date(const char* s, SP_ROW_T* row) {
  if (std::strlen(s) != 10 || s[4] != '/' || s[7] != '/') return false;
  if (!fixed_int(s, 4, &row->year) || !fixed_int(s + 5, 2, &row->month) || !fixed_int(s + 8, 2, &row->day))
    return false;
  if (row->year < 1980 || row->month < 1 || row->month > 12) return false;
  return row->day >= 1 && row->day <= days_in_month(row->year, row->month);
}

// "hh:mm:ss[.fff]" with hours 0..23, minutes 0..59, seconds 0 <= s < 60.
bool parse_time(const char* s, SP_ROW_T* row) {
  if (std::strlen(s) < 8 || s[2] != ':' || s[5] != ':') return false;
  if (!fixed_int(s, 2, &row->hour) || !fixed_int(s + 3, 2, &row->minute)) return false;
  if (s[6] < '0' || s[6] > '9' || !to_double(s + 6, &row->second)) return false;
  // The file prints milliseconds; a finer value is rounded to them so that
  // the time written back out never shows a second of 60.
  row->second = std::floor(row->second * 1000.0 + 0.5) / 1000.0;
  return row->hour <= 23 && row->minute <= 59 && row->second >= 0.0 && row->second < 60.0;
}

bool parse_status(const char* s, SP_ROW_T* row) {
  const std::size_t n = std::strlen(s);
  if (n == 0 || n >= sizeof row->status_word) return false;
  for (std::size_t i = 0; i < n; ++i) {
    const char ch = s[i];
    if (!((ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '_')) return false;
  }
  std::memcpy(row->status_word, s, n + 1);
  if (std::strcmp(s, "FIX") == 0)
    row->status = SP_FIX;
  else if (std::strcmp(s, "FLOAT") == 0)
    row->status = SP_FLOAT;
  else if (std::strcmp(s, "SINGLE") == 0)
    row->status = SP_SINGLE;
  else
    row->status = SP_OTHER;
  return true;
}

bool parse_numbers(char* const* tok, SP_ROW_T* row) {
  double* const dst[9] = {&row->age, &row->ratio, &row->lat, &row->lon,     &row->alt,
                          &row->x,   &row->y,     &row->z,   &row->baseline};
  for (int i = 0; i < 9; ++i)
    if (!to_double(tok[4 + i], dst[i])) return false;
  return std::fabs(row->lat) <= 90.0 && std::fabs(row->lon) <= 180.0;
}

void clear_counts(SP_SOL_T* sol) {
  sol->rows.clear();
  sol->malformed = 0;
  sol->first_bad_line = 0;
  for (long& c : sol->count) c = 0;
  sol->no_pos = 0;
}

bool blank(const char* s) {
  for (; *s != '\0'; ++s)
    if (!is_space(*s)) return false;
  return true;
}

bool header(const char* s) {
  while (is_space(*s)) ++s;
  return std::strncmp(s, "EPOCH", 5) == 0;
}

// Where a file's line cutting stands.
struct LINE_STATE_T {
  long line_no = 0;           // 1-based number of the last line taken
  bool seen_content = false;  // a non-blank line came before
};

// One line of len bytes (no line end) into sol: a first non-blank line
// starting with "EPOCH" is the header, blank lines are skipped, a line that is
// not a good row is counted as malformed (a NUL inside makes it malformed
// rather than cut short).
void take_line(const char* p, std::size_t len, LINE_STATE_T* st, SP_SOL_T* sol) {
  ++st->line_no;
  char line[MAX_LINE + 1];
  const bool too_long = len > MAX_LINE;
  const std::size_t n = too_long ? MAX_LINE : len;
  std::memcpy(line, p, n);
  line[n] = '\0';
  const bool has_nul = std::memchr(p, '\0', n) != nullptr;
  if (!has_nul && !too_long && blank(line)) return;
  const bool first = !st->seen_content;
  st->seen_content = true;
  if (!has_nul && first && header(line)) return;
  SP_ROW_T row;
  if (has_nul || too_long || SP_sol_parse_line(line, &row) == 0) {
    if (sol->malformed++ == 0) sol->first_bad_line = st->line_no;
    return;
  }
  ++sol->count[row.status];
  if (!row.has_pos) ++sol->no_pos;
  sol->rows.push_back(row);
}

}  // namespace

int SP_sol_parse_line(const char* line, SP_ROW_T* row) {
  char copy[MAX_LINE + 1];
  const std::size_t len = std::strlen(line);
  if (len > MAX_LINE) return 0;
  std::memcpy(copy, line, len + 1);
  char* tok[NUM_COLS] = {};
  if (split(copy, tok, NUM_COLS) != NUM_COLS) return 0;
  *row = SP_ROW_T{};
  if (!to_long(tok[0], &row->epoch) || !parse_date(tok[1], row) || !parse_time(tok[2], row)) return 0;
  if (!parse_status(tok[3], row) || !parse_numbers(tok, row)) return 0;
  row->t = static_cast<double>(days_from_civil(row->year, row->month, row->day)) * 86400.0 + row->hour * 3600.0 +
           row->minute * 60.0 + row->second;
  row->has_pos = row->alt >= -1.0e5 && row->alt <= 1.0e7;
  return 1;
}

long SP_sol_parse_text(const char* text, std::size_t n, SP_SOL_T* sol) {
  clear_counts(sol);
  LINE_STATE_T st;
  std::size_t pos = 0;
  while (pos < n) {
    std::size_t end = pos;
    while (end < n && text[end] != '\n') ++end;
    take_line(text + pos, end - pos, &st, sol);
    pos = end < n ? end + 1 : end;
  }
  return static_cast<long>(sol->rows.size());
}

// The file is read in blocks and cut into lines as it comes, so that its size
// does not matter; only the good rows are kept.
int SP_sol_read_file(const char* path, SP_SOL_T* sol) {
  clear_counts(sol);
  struct stat sb {};
  if (stat(path, &sb) != 0) return 0;
  if (!S_ISREG(sb.st_mode)) return -1;
  std::FILE* fp = std::fopen(path, "rb");
  if (fp == nullptr) return 0;
  LINE_STATE_T st;
  std::string line;
  char buf[65536];
  std::size_t got = 0;
  while ((got = std::fread(buf, 1, sizeof buf, fp)) > 0) {
    std::size_t pos = 0;
    while (pos < got) {
      const void* nl = std::memchr(buf + pos, '\n', got - pos);
      const std::size_t end = nl != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nl) - buf) : got;
      // A line longer than MAX_LINE is malformed whatever follows: keep only
      // its first MAX_LINE + 1 bytes (enough to tell), so that a file without
      // line ends cannot fill the memory.
      const std::size_t room = line.size() <= MAX_LINE ? MAX_LINE + 1 - line.size() : 0;
      line.append(buf + pos, end - pos < room ? end - pos : room);
      pos = end;
      if (nl == nullptr) break;
      take_line(line.data(), line.size(), &st, sol);
      line.clear();
      ++pos;
    }
  }
  const bool failed = std::ferror(fp) != 0;
  const int saved = errno;
  std::fclose(fp);
  if (failed) {
    errno = saved != 0 ? saved : EIO;
    return 0;
  }
  if (!line.empty()) take_line(line.data(), line.size(), &st, sol);
  return 1;
}

void SP_geo_to_ecef(double lat_deg, double lon_deg, double h_m, double xyz[3]) {
  const double sp = std::sin(lat_deg * D2R), cp = std::cos(lat_deg * D2R);
  const double sl = std::sin(lon_deg * D2R), cl = std::cos(lon_deg * D2R);
  const double nrad = WGS84_A / std::sqrt(1.0 - WGS84_E2 * sp * sp);  // prime vertical radius, m
  xyz[0] = (nrad + h_m) * cp * cl;
  xyz[1] = (nrad + h_m) * cp * sl;
  xyz[2] = (nrad * (1.0 - WGS84_E2) + h_m) * sp;
}

// Fixed-point iteration on the latitude; 10 rounds converge to well below a
// millimetre for any point above the Earth's centre region. The height form
// p cos(lat) + (z + e2 N sin(lat)) sin(lat) - N holds at the poles too.
void SP_ecef_to_geo(const double xyz[3], double* lat_deg, double* lon_deg, double* h_m) {
  const double p = std::sqrt(xyz[0] * xyz[0] + xyz[1] * xyz[1]);
  double lat = std::atan2(xyz[2], p * (1.0 - WGS84_E2));
  double h = 0.0;
  for (int i = 0; i < 10; ++i) {
    const double sp = std::sin(lat);
    const double nrad = WGS84_A / std::sqrt(1.0 - WGS84_E2 * sp * sp);
    h = p * std::cos(lat) + (xyz[2] + WGS84_E2 * nrad * sp) * sp - nrad;
    lat = std::atan2(xyz[2], p * (1.0 - WGS84_E2 * nrad / (nrad + h)));
  }
  *lat_deg = lat / D2R;
  *lon_deg = p > 1e-3 ? std::atan2(xyz[1], xyz[0]) / D2R : 0.0;
  *h_m = h;
}

void SP_ecef_to_enu(const double xyz[3], double ref_lat_deg, double ref_lon_deg, double ref_h_m, double enu[3]) {
  double r0[3];
  SP_geo_to_ecef(ref_lat_deg, ref_lon_deg, ref_h_m, r0);
  const double d[3] = {xyz[0] - r0[0], xyz[1] - r0[1], xyz[2] - r0[2]};
  const double sp = std::sin(ref_lat_deg * D2R), cp = std::cos(ref_lat_deg * D2R);
  const double sl = std::sin(ref_lon_deg * D2R), cl = std::cos(ref_lon_deg * D2R);
  enu[0] = -sl * d[0] + cl * d[1];
  enu[1] = -sp * cl * d[0] - sp * sl * d[1] + cp * d[2];
  enu[2] = cp * cl * d[0] + cp * sl * d[1] + sp * d[2];
}

long SP_sol_default_ref(const SP_SOL_T& sol, double* lat_deg, double* lon_deg, double* h_m) {
  *lat_deg = *lon_deg = *h_m = 0.0;
  for (int pass = 0; pass < 2; ++pass) {
    double sum[3] = {0.0, 0.0, 0.0};
    long n = 0;
    for (const SP_ROW_T& r : sol.rows) {
      if (!r.has_pos || (pass == 0 && r.status != SP_FIX)) continue;
      double xyz[3];
      SP_geo_to_ecef(r.lat, r.lon, r.alt, xyz);
      for (int k = 0; k < 3; ++k) sum[k] += xyz[k];
      ++n;
    }
    if (n == 0) continue;
    const double mean[3] = {sum[0] / static_cast<double>(n), sum[1] / static_cast<double>(n),
                            sum[2] / static_cast<double>(n)};
    SP_ecef_to_geo(mean, lat_deg, lon_deg, h_m);
    return n;
  }
  return 0;
}

void SP_sol_enu(SP_SOL_T* sol, double ref_lat_deg, double ref_lon_deg, double ref_h_m) {
  for (SP_ROW_T& r : sol->rows) {
    r.e = r.n = r.u = 0.0;
    if (!r.has_pos) continue;
    double xyz[3], enu[3];
    SP_geo_to_ecef(r.lat, r.lon, r.alt, xyz);
    SP_ecef_to_enu(xyz, ref_lat_deg, ref_lon_deg, ref_h_m, enu);
    r.e = enu[0];
    r.n = enu[1];
    r.u = enu[2];
  }
}

const char* SP_status_name(int status) {
  switch (status) {
    case SP_FIX:
      return "FIX";
    case SP_FLOAT:
      return "FLOAT";
    case SP_SINGLE:
      return "SINGLE";
    default:
      return "OTHER";
  }
}
