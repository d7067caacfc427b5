// cn0_stats: C/N0 statistics of a RINEX observation file against candidate
// C/N0 masks of the RTK engine.
//
//   cn0_stats [--masks M1,M2,...] [--lockout N] [--el-mask DEG] [--nav FILE]...
//             [--pos X,Y,Z] OBSFILE
//
// --masks    candidate masks, dB-Hz (default 30,33,35,38; at most 8)
// --lockout  re-entry count after a satellite was below the mask, epochs
//            (default 20, as in the engine; 0: none)
// --el-mask  elevation mask, degrees (default 15); applied only with --nav
// --nav      RINEX navigation file (repeatable, at most 8): with it the
//            satellites' elevations are computed from the broadcast orbits at
//            the position --pos (ECEF m) or the file's header position
// The file is read with the engine's own RINEX reader (L1 C/A observables).
// Tables go to stdout, messages to stderr. Exit codes: 0 done; 1 a file
// cannot be read or has no epoch; 2 bad command line.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "rtk/eph.h"
#include "rtk/rinex.h"
#include "rtk/rtk.h"
#include "rtk/rtk_cmn.h"
#include "tools/cn0_stats/cn0_stats.h"

namespace {

constexpr int MAX_NAV = 8;

struct ARGS_T {
  double masks[CN0S_MAX_MASKS] = {30.0, 33.0, 35.0, 38.0};
  int n_masks = 4;
  int lockout = 20;
  double el_mask = 15.0;
  const char* nav[MAX_NAV] = {};
  int n_nav = 0;
  bool has_pos = false;
  double pos[3] = {0.0, 0.0, 0.0};
  const char* obs = nullptr;
};

CN0S_T Stats;
obsd_t Obs[MAXOBS];
CN0S_OBS_T Cobs[MAXOBS];

void usage() {
  std::fprintf(stderr,
               "usage: cn0_stats [--masks M1,M2,...] [--lockout N] [--el-mask DEG] [--nav FILE]... [--pos X,Y,Z] "
               "OBSFILE\n");
}

// Up to max comma-separated numbers of s into v; returns the count, or -1
// when a field is not a finite number or there are too many.
int parse_list(const char* s, double* v, int max) {
  int n = 0;
  const char* p = s;
  while (true) {
    if (n >= max) return -1;
    char* end = nullptr;
    errno = 0;
    const double x = std::strtod(p, &end);
    if (end == p || errno != 0 || !std::isfinite(x)) return -1;
    v[n++] = x;
    if (*end == '\0') return n;
    if (*end != ',') return -1;
    p = end + 1;
  }
}

bool parse_int(const char* s, int lo, int hi, int* v) {
  char* end = nullptr;
  errno = 0;
  const long x = std::strtol(s, &end, 10);
  if (end == s || *end != '\0' || errno != 0 || x < lo || x > hi) return false;
  *v = static_cast<int>(x);
  return true;
}

// One option with its value at argv[i + 1]; false on a bad option or value.
bool parse_option(const char* opt, const char* val, ARGS_T* a) {
  if (std::strcmp(opt, "--masks") == 0) {
    a->n_masks = parse_list(val, a->masks, CN0S_MAX_MASKS);
    return a->n_masks > 0;
  }
  if (std::strcmp(opt, "--lockout") == 0) return parse_int(val, 0, CN0S_MAX_LOCKOUT, &a->lockout);
  if (std::strcmp(opt, "--el-mask") == 0) return parse_list(val, &a->el_mask, 1) == 1;
  if (std::strcmp(opt, "--nav") == 0) {
    if (a->n_nav >= MAX_NAV) return false;
    a->nav[a->n_nav++] = val;
    return true;
  }
  if (std::strcmp(opt, "--pos") == 0) {
    a->has_pos = parse_list(val, a->pos, 3) == 3;
    return a->has_pos;
  }
  return false;
}

bool parse_args(int argc, char** argv, ARGS_T* a) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--", 2) == 0) {
      if (i + 1 >= argc || !parse_option(argv[i], argv[i + 1], a)) return false;
      ++i;
    } else {
      if (a->obs != nullptr) return false;
      a->obs = argv[i];
    }
  }
  return a->obs != nullptr;
}

void sat_name(int sat, char* buf) {
  int prn = 0;
  const int sys = satsys(sat, &prn);
  const char c = sys == SYS_GPS ? 'G' : sys == SYS_GLO ? 'R' : sys == SYS_QZS ? 'J' : sys == SYS_SBS ? 'S' : '?';
  const int num = sys == SYS_QZS ? prn - 192 : sys == SYS_SBS ? prn - 100 : prn;
  std::snprintf(buf, 8, "%c%02d", c, num % 100);
}

// Elevation (degrees) of obs at the receiver position rr (ECEF m, geodetic
// pos), CN0S_EL_UNKNOWN without an orbit.
double elevation(const obsd_t& o, const double* rr, const double* pos, const nav_t* nav) {
  if (o.P[0] == 0.0) return CN0S_EL_UNKNOWN;
  const gtime_t tx = timeadd(o.time, -o.P[0] / CLIGHT);
  double rs[6] = {}, dts[2] = {}, var = 0.0, e[3] = {}, azel[2] = {};
  int svh = 0;
  const int opt = satsys(o.sat, nullptr) == SYS_SBS ? EPHOPT_SBAS : EPHOPT_BRDC;
  if (!satpos(tx, o.time, o.sat, opt, nav, rs, dts, &var, &svh)) return CN0S_EL_UNKNOWN;
  if (geodist(rs, rr, e) <= 0.0) return CN0S_EL_UNKNOWN;
  return satazel(pos, e, azel) * R2D;
}

}  // namespace

int main(int argc, char** argv) {
  ARGS_T a;
  if (!parse_args(argc, argv, &a)) {
    usage();
    return 2;
  }
  RINEX_init();
  RTK_NAV_init(SYS_GPS | SYS_GLO | SYS_QZS | SYS_SBS);
  for (int i = 0; i < a.n_nav; ++i)
    if (!RINEX_read_nav(a.nav[i])) return 1;
  if (!RINEX_open_obs(RINEX_ROVER, a.obs)) return 1;
  const double el_mask = a.n_nav > 0 ? a.el_mask : -90.0;
  if (!CN0S_init(&Stats, a.masks, a.n_masks, a.lockout, el_mask)) {
    std::fprintf(stderr, "cn0_stats: bad masks, lockout or elevation mask\n");
    return 2;
  }
  double rr[3] = {0.0, 0.0, 0.0}, pos[3] = {0.0, 0.0, 0.0};
  bool have_pos = a.has_pos;
  if (have_pos)
    for (int i = 0; i < 3; ++i) rr[i] = a.pos[i];
  else
    have_pos = RINEX_get_header_pos(RINEX_ROVER, rr) != 0;
  if (a.n_nav > 0 && !have_pos) std::fprintf(stderr, "cn0_stats: no position: elevations unknown\n");
  ecef2pos(rr, pos);
  int n = 0;
  gtime_t t{};
  while (RINEX_read_obs_epoch(RINEX_ROVER, Obs, &n, &t)) {
    if (a.n_nav > 0) RINEX_deliver_nav(t);
    for (int i = 0; i < n; ++i) {
      Cobs[i].sat = Obs[i].sat;
      Cobs[i].cn0 = Obs[i].SNR[0] > 0 ? Obs[i].SNR[0] * 0.25 : -1.0;  // 0: no C/N0 in the file
      Cobs[i].el = (a.n_nav > 0 && have_pos) ? elevation(Obs[i], rr, pos, RTK_get_nav()) : CN0S_EL_UNKNOWN;
    }
    CN0S_add_epoch(&Stats, Cobs, n);
  }
  RINEX_close_obs(RINEX_ROVER);
  if (Stats.epochs == 0) {
    std::fprintf(stderr, "cn0_stats: %s: no epoch\n", a.obs);
    return 1;
  }
  std::printf("%s: %lu epochs\n", a.obs, Stats.epochs);
  CN0S_print(&Stats, stdout, sat_name);
  return 0;
}
