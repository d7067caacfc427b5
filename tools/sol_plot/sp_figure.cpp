// The picture of a solution file: legend, track at equal scale, east, north,
// up, ratio and age of differential against time, dots coloured by status.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "tools/sol_plot/sol_plot.h"

namespace {

constexpr SP_RGB_T WHITE{255, 255, 255};
constexpr SP_RGB_T BLACK{0, 0, 0};
constexpr SP_RGB_T GRID{225, 225, 225};
constexpr SP_RGB_T PATH{170, 170, 170};
constexpr SP_RGB_T STATUS_RGB[SP_NUM_STATUS] = {{0, 160, 0}, {255, 150, 0}, {220, 0, 0}, {128, 128, 128}};

constexpr int TEXT = 2;              // font scale of every text
constexpr int CHAR_W = 6 * TEXT;     // advance of a character, pixels
constexpr int CHAR_H = 7 * TEXT;     // height of a character, pixels
constexpr int DOT_R = 2;             // radius of a solution dot, pixels
constexpr double MIN_SPAN = 1e-3;    // smallest axis span (m, s or ratio)
constexpr double MAX_PIXEL = 1.0e6;  // mapped coordinates are clamped to this, pixels
constexpr int MAX_TICKS = 100;       // ticks per axis at most

// A plotting frame in pixels and the data range it shows.
struct PANEL_T {
  int x0, y0, x1, y1;  // frame [x0, x1) x [y0, y1)
  double xlo, xhi, ylo, yhi;
};

using GETTER = double (*)(const SP_ROW_T& r, double t0);
double get_t(const SP_ROW_T& r, double t0) { return r.t - t0; }
double get_e(const SP_ROW_T& r, double) { return r.e; }
double get_n(const SP_ROW_T& r, double) { return r.n; }
double get_u(const SP_ROW_T& r, double) { return r.u; }
double get_ratio(const SP_ROW_T& r, double) { return r.ratio; }
double get_age(const SP_ROW_T& r, double) { return r.age; }

int to_pixel(double v) {
  if (!(v > -MAX_PIXEL)) return static_cast<int>(-MAX_PIXEL);
  if (!(v < MAX_PIXEL)) return static_cast<int>(MAX_PIXEL);
  return static_cast<int>(std::lround(v));
}

int map_x(const PANEL_T& p, double v) { return to_pixel(p.x0 + (v - p.xlo) / (p.xhi - p.xlo) * (p.x1 - p.x0 - 1)); }
int map_y(const PANEL_T& p, double v) { return to_pixel(p.y1 - 1 - (v - p.ylo) / (p.yhi - p.ylo) * (p.y1 - p.y0 - 1)); }

// Range of get over the rows (with a position when need_pos), widened by 5 %
// each side; a span below MIN_SPAN becomes one unit (plus 1e-9 of the values,
// so that ticks advance); [-1, 1] when no row counts.
void data_range(const SP_SOL_T& sol, GETTER get, double t0, bool need_pos, double* lo, double* hi) {
  bool any = false;
  for (const SP_ROW_T& r : sol.rows) {
    if (need_pos && !r.has_pos) continue;
    const double v = get(r, t0);
    if (!any || v < *lo) *lo = v;
    if (!any || v > *hi) *hi = v;
    any = true;
  }
  if (!any) {
    *lo = -1.0;
    *hi = 1.0;
    return;
  }
  const double pad = (*hi - *lo) * 0.05;
  *lo -= pad;
  *hi += pad;
  // The span stays well above the resolution of the values, so ticks advance.
  // A constant (or nearly constant) series gets a span of one unit.
  const double min_span = 1.0 + 1e-9 * std::fmax(std::fabs(*lo), std::fabs(*hi));
  if (*hi - *lo < MIN_SPAN) {
    const double mid = 0.5 * (*hi + *lo);
    *lo = mid - 0.5 * min_span;
    *hi = mid + 0.5 * min_span;
  }
}

// A step of 1, 2 or 5 times a power of ten giving at most max_ticks ticks over span.
double tick_step(double span, int max_ticks) {
  const double raw = span / max_ticks;
  const double mag = std::pow(10.0, std::floor(std::log10(raw)));
  const double norm = raw / mag;
  if (norm <= 1.0) return mag;
  if (norm <= 2.0) return 2.0 * mag;
  if (norm <= 5.0) return 5.0 * mag;
  return 10.0 * mag;
}

void tick_label(double v, double step, char* buf, std::size_t size) {
  int decimals = static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
  decimals = decimals < 0 ? 0 : (decimals > 6 ? 6 : decimals);
  if (std::fabs(v) < step * 1e-6) v = 0.0;  // no "-0"
  std::snprintf(buf, size, "%.*f", decimals, v);
}

int text_width(const char* s) { return static_cast<int>(std::strlen(s)) * CHAR_W; }

void x_ticks(SP_CANVAS_T* c, const PANEL_T& p) {
  const double step = tick_step(p.xhi - p.xlo, (p.x1 - p.x0) / (8 * CHAR_W) + 1);
  char label[48];
  const double first = std::ceil(p.xlo / step) * step;
  for (int k = 0; k < MAX_TICKS; ++k) {
    const double v = first + k * step;
    if (v > p.xhi) break;
    const int x = map_x(p, v);
    SP_canvas_line(c, x, p.y0 + 1, x, p.y1 - 2, GRID);
    SP_canvas_line(c, x, p.y1, x, p.y1 + 4, BLACK);
    tick_label(v, step, label, sizeof label);
    SP_canvas_text(c, x - text_width(label) / 2, p.y1 + 7, label, TEXT, BLACK);
  }
}

void y_ticks(SP_CANVAS_T* c, const PANEL_T& p) {
  const double step = tick_step(p.yhi - p.ylo, (p.y1 - p.y0) / (3 * CHAR_H) + 1);
  char label[48];
  const double first = std::ceil(p.ylo / step) * step;
  for (int k = 0; k < MAX_TICKS; ++k) {
    const double v = first + k * step;
    if (v > p.yhi) break;
    const int y = map_y(p, v);
    SP_canvas_line(c, p.x0 + 1, y, p.x1 - 2, y, GRID);
    SP_canvas_line(c, p.x0 - 5, y, p.x0 - 1, y, BLACK);
    tick_label(v, step, label, sizeof label);
    SP_canvas_text(c, p.x0 - 8 - text_width(label), y - CHAR_H / 2, label, TEXT, BLACK);
  }
}

// Grid, frame, ticks with their numbers, the title above and the x label below.
void axes(SP_CANVAS_T* c, const PANEL_T& p, const char* title, const char* xlabel) {
  x_ticks(c, p);
  y_ticks(c, p);
  SP_canvas_frame(c, p.x0, p.y0, p.x1, p.y1, BLACK);
  SP_canvas_text(c, p.x0, p.y0 - CHAR_H - 6, title, TEXT, BLACK);
  if (xlabel != nullptr)
    SP_canvas_text(c, (p.x0 + p.x1 - text_width(xlabel)) / 2, p.y1 + 12 + CHAR_H, xlabel, TEXT, BLACK);
}

// Dots of (xget, yget) per row, one status class after the other (FIX first)
// so that the rarer, worse classes stay visible on top.
void dots(SP_CANVAS_T* c, const PANEL_T& p, const SP_SOL_T& sol, GETTER xget, GETTER yget, double t0, bool need_pos) {
  SP_canvas_clip(c, p.x0 + 1, p.y0 + 1, p.x1 - 1, p.y1 - 1);
  for (int s = 0; s < SP_NUM_STATUS; ++s) {
    for (const SP_ROW_T& r : sol.rows) {
      if (r.status != s || (need_pos && !r.has_pos)) continue;
      SP_canvas_dot(c, map_x(p, xget(r, t0)), map_y(p, yget(r, t0)), DOT_R, STATUS_RGB[s]);
    }
  }
  SP_canvas_unclip(c);
}

// East/north track at one scale on both axes, the path in grey under the dots.
void track_panel(SP_CANVAS_T* c, const SP_SOL_T& sol, PANEL_T p) {
  data_range(sol, get_e, 0.0, true, &p.xlo, &p.xhi);
  data_range(sol, get_n, 0.0, true, &p.ylo, &p.yhi);
  const double w = p.x1 - p.x0 - 1, h = p.y1 - p.y0 - 1;
  const double scale = std::fmax((p.xhi - p.xlo) / w, (p.yhi - p.ylo) / h);  // m per pixel
  const double xm = 0.5 * (p.xlo + p.xhi), ym = 0.5 * (p.ylo + p.yhi);
  p.xlo = xm - 0.5 * scale * w;
  p.xhi = xm + 0.5 * scale * w;
  p.ylo = ym - 0.5 * scale * h;
  p.yhi = ym + 0.5 * scale * h;
  axes(c, p, "track: north (m) against east (m)", "east (m)");
  SP_canvas_text(c, p.x0 - 8 * CHAR_W, (p.y0 + p.y1 + text_width("north (m)")) / 2, "north (m)", TEXT, BLACK, 1);
  SP_canvas_clip(c, p.x0 + 1, p.y0 + 1, p.x1 - 1, p.y1 - 1);
  bool have_prev = false;
  int px = 0, py = 0;
  for (const SP_ROW_T& r : sol.rows) {
    if (!r.has_pos) continue;
    const int x = map_x(p, r.e), y = map_y(p, r.n);
    if (have_prev) SP_canvas_line(c, px, py, x, y, PATH);
    px = x;
    py = y;
    have_prev = true;
  }
  SP_canvas_unclip(c);
  dots(c, p, sol, get_e, get_n, 0.0, true);
}

// Panel of get against time; from_zero extends the value axis to include 0.
void time_panel(SP_CANVAS_T* c, const SP_SOL_T& sol, PANEL_T p, double t0, GETTER get, bool need_pos, bool from_zero,
                const char* title, const char* xlabel) {
  data_range(sol, get_t, t0, false, &p.xlo, &p.xhi);
  data_range(sol, get, t0, need_pos, &p.ylo, &p.yhi);
  if (from_zero && p.ylo > 0.0) p.ylo = 0.0;
  if (from_zero && p.yhi < 0.0) p.yhi = 0.0;
  axes(c, p, title, xlabel);
  dots(c, p, sol, get_t, get, t0, need_pos);
}

double pct(long n, long d) { return d > 0 ? 100.0 * static_cast<double>(n) / static_cast<double>(d) : 0.0; }

// Status squares with counts and shares on one line from (x0, y); the
// skipped lines, if any, on the line below.
void legend(SP_CANVAS_T* c, const SP_SOL_T& sol, int x0, int y) {
  int x = x0;
  const long total = static_cast<long>(sol.rows.size());
  char buf[160];
  for (int s = 0; s < SP_NUM_STATUS; ++s) {
    SP_canvas_fill(c, x, y, x + CHAR_H, y + CHAR_H, STATUS_RGB[s]);
    std::snprintf(buf, sizeof buf, "%s %ld (%.1f%%)", SP_status_name(s), sol.count[s], pct(sol.count[s], total));
    x += CHAR_H + 6;
    x += SP_canvas_text(c, x, y, buf, TEXT, BLACK) + 2 * CHAR_W;
  }
  if (sol.malformed > 0 || sol.no_pos > 0) {
    std::snprintf(buf, sizeof buf, "malformed lines skipped %ld, rows without a position %ld", sol.malformed,
                  sol.no_pos);
    SP_canvas_text(c, x0, y + CHAR_H + 8, buf, TEXT, BLACK);
  }
}

}  // namespace

SP_RGB_T SP_status_colour(int status) { return STATUS_RGB[status >= 0 && status < SP_NUM_STATUS ? status : SP_OTHER]; }

void SP_figure_draw(const SP_SOL_T& sol, const char* title, double ref_lat_deg, double ref_lon_deg, double ref_h_m,
                    SP_CANVAS_T* c) {
  SP_canvas_init(c, SP_FIG_WIDTH, SP_FIG_HEIGHT, WHITE);
  double t0 = 0.0;
  for (std::size_t i = 0; i < sol.rows.size(); ++i)
    if (i == 0 || sol.rows[i].t < t0) t0 = sol.rows[i].t;
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.60s  epochs %ld  reference %.8f %.8f %.3f m", title,
                static_cast<long>(sol.rows.size()), ref_lat_deg, ref_lon_deg, ref_h_m);
  SP_canvas_text(c, 12, 8, buf, TEXT, BLACK);
  legend(c, sol, 12, 32);

  constexpr int LX0 = 120, LX1 = 590, RX0 = 720, RX1 = 1180;
  track_panel(c, sol, PANEL_T{LX0, 100, LX1, 570, 0, 0, 0, 0});
  time_panel(c, sol, PANEL_T{RX0, 100, RX1, 230, 0, 0, 0, 0}, t0, get_e, true, false, "east (m)", nullptr);
  time_panel(c, sol, PANEL_T{RX0, 290, RX1, 420, 0, 0, 0, 0}, t0, get_n, true, false, "north (m)", nullptr);
  time_panel(c, sol, PANEL_T{RX0, 480, RX1, 610, 0, 0, 0, 0}, t0, get_u, true, false, "up (m)", nullptr);
  time_panel(c, sol, PANEL_T{LX0, 700, LX1, 880, 0, 0, 0, 0}, t0, get_ratio, false, true, "ratio", "time (s)");
  time_panel(c, sol, PANEL_T{RX0, 700, RX1, 880, 0, 0, 0, 0}, t0, get_age, false, true, "age of differential (s)",
             "time (s)");
}
