// RINEX line reader: lines of a text file, fixed-column fields of a line and
// the complaints about them, shared by the observation and navigation readers.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "rtk/rinex_internal.h"

namespace rinex_internal {

namespace {
RINEX_STATS_T Stats{};
}  // namespace

RINEX_STATS_T* stats() { return &Stats; }

void complain(LINE_READER_T* in, const char* what) {
  ++Stats.errors;
  if (in->msgs++ < static_cast<unsigned>(RINEX_MAX_MSGS))
    std::fprintf(stderr, "talonhost: %s:%ld: %s\n", in->name, in->line_no, what);
  else if (in->msgs == RINEX_MAX_MSGS + 1)
    std::fprintf(stderr, "talonhost: %s: further complaints only counted\n", in->name);
}

void set_name(LINE_READER_T* in, const char* name) {
  std::snprintf(in->name, sizeof in->name, "%s", name != nullptr ? name : "?");
}

int next_line(LINE_READER_T* in) {
  if (in->fp == nullptr) return 0;
  if (std::fgets(in->buf, sizeof in->buf, in->fp) == nullptr) return 0;
  ++in->line_no;
  int len = static_cast<int>(std::strlen(in->buf));
  if (len > 0 && in->buf[len - 1] == '\n') {
    --len;
  } else if (!std::feof(in->fp)) {
    int c;
    while ((c = std::fgetc(in->fp)) != EOF && c != '\n') {
    }
    complain(in, "line too long, cut");
  }
  while (len > 0 && (in->buf[len - 1] == '\r' || in->buf[len - 1] == '\n')) --len;
  in->buf[len] = '\0';
  in->len = len;
  return 1;
}

bool field(const LINE_READER_T& in, int i, int n, char* out, int size) {
  int k = 0;
  for (int j = i; j < i + n && k < size - 1; ++j) out[k++] = j < in.len ? in.buf[j] : ' ';
  out[k] = '\0';
  for (int j = 0; j < k; ++j)
    if (out[j] != ' ') return true;
  return false;  // blank
}

int num(const LINE_READER_T& in, int i, int n, double* v) {
  char s[64];
  *v = 0.0;
  if (n >= static_cast<int>(sizeof s)) return -1;
  if (!field(in, i, n, s, sizeof s)) return 0;
  for (char* p = s; *p != '\0'; ++p)
    if (*p == 'D' || *p == 'd') *p = 'E';
  char* end = nullptr;
  const double x = std::strtod(s, &end);
  while (end != nullptr && *end == ' ') ++end;
  if (end == nullptr || *end != '\0' || !std::isfinite(x)) return -1;
  *v = x;
  return 1;
}

bool label_is(const LINE_READER_T& in, const char* label) {
  if (in.len <= 60) return false;
  return std::strncmp(in.buf + 60, label, std::strlen(label)) == 0;
}

bool version_line(LINE_READER_T* in, double* version) {
  if (!label_is(*in, "RINEX VERSION / TYPE")) {
    complain(in, "not a RINEX file: no RINEX VERSION / TYPE line");
    return false;
  }
  double v = 0.0;
  if (num(*in, 0, 9, &v) != 1 || v < 2.0 || v >= 4.0) {
    complain(in, "unsupported RINEX version");
    return false;
  }
  *version = v;
  return true;
}

int to_int(double v) {
  if (!(v > -1e9)) return -1000000000;
  if (!(v < 1e9)) return 1000000000;
  return static_cast<int>(v);
}

bool make_time(double y, double mo, double d, double h, double mi, double s, gtime_t* t) {
  if (y < 100.0) y += y < 80.0 ? 2000.0 : 1900.0;
  if (y < 1980.0 || y > 2100.0 || mo < 1.0 || mo > 12.0 || d < 1.0 || d > 31.0 || h < 0.0 || h > 24.0 || mi < 0.0 ||
      mi > 59.0 || s < 0.0 || s >= 61.0)
    return false;
  const double ep[6] = {std::floor(y), std::floor(mo), std::floor(d), std::floor(h), std::floor(mi), s};
  *t = epoch2time(ep);
  return true;
}

}  // namespace rinex_internal
