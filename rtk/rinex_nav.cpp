// RINEX navigation reader: the header (version and type, Klobuchar
// parameters, leap seconds) and the GPS, QZSS and GLONASS records of 2.x and
// 3.0x files, kept in tables and handed to the navigation store epoch by epoch.
#include <cmath>
#include <cstring>

#include "rtk/rinex.h"
#include "rtk/rinex_internal.h"
#include "rtk/rtk.h"

namespace rinex_internal {

namespace {

// ---------------------------------------------------------------------------
// Kept records.

// Every ephemeris of the navigation files, kept until the epochs reach its
// time: the store holds one record per satellite, so the reader hands over,
// epoch by epoch, the record whose reference time lies nearest.
inline constexpr int MAX_EPH_TAB = 4096;
inline constexpr int MAX_GEPH_TAB = 4096;
eph_t Eph_tab[MAX_EPH_TAB];
geph_t Geph_tab[MAX_GEPH_TAB];
int N_eph = 0, N_geph = 0;
int Given[MAXSAT];  // table index + 1 of the record in the store, per satellite (negative: GLONASS table)
unsigned int Nav_full_drops = 0;
int Nav_count = 0;  // GPS/QZSS and GLONASS records kept

void add_eph(const eph_t& e) {
  for (int i = 0; i < N_eph; ++i) {
    const eph_t& o = Eph_tab[i];
    if (o.sat == e.sat && o.iode == e.iode && o.iodc == e.iodc && timediff(o.toe, e.toe) == 0.0) return;
  }
  if (N_eph >= MAX_EPH_TAB) {
    ++Nav_full_drops;
    return;
  }
  Eph_tab[N_eph++] = e;
  ++Nav_count;
}

void add_geph(const geph_t& g) {
  for (int i = 0; i < N_geph; ++i) {
    const geph_t& o = Geph_tab[i];
    if (o.sat == g.sat && timediff(o.toe, g.toe) == 0.0) return;
  }
  if (N_geph >= MAX_GEPH_TAB) {
    ++Nav_full_drops;
    return;
  }
  Geph_tab[N_geph++] = g;
  ++Nav_count;
}

// ---------------------------------------------------------------------------
// Header.

struct NAV_HDR_T {
  double version;
  char sys;  // 'G' GPS, 'R' GLONASS, 'J', 'M' mixed...
};

// Klobuchar parameters of the header: alpha0..3 (s, s/semicircle,
// s/semicircle^2, s/semicircle^3) and beta0..3 (s ...).
struct NAV_ION_T {
  double a[4], b[4];
  int have;  // bit 0 alpha, bit 1 beta
};

void nav_header_ion(const LINE_READER_T& in, int first_col, int width, double* dst) {
  for (int k = 0; k < 4; ++k) {
    double v;
    if (num(in, first_col + width * k, width, &v) == 1) dst[k] = v;
  }
}

// System of a RINEX 2 navigation file from its type letter: N GPS, G GLONASS,
// H SBAS; 0 for another type.
char nav_sys_v2(char kind) {
  switch (kind) {
    case 'N':
      return 'G';
    case 'G':
      return 'R';
    case 'H':
      return 'S';
    default:
      return 0;
  }
}

// "RINEX VERSION / TYPE": version, navigation file, system of the records.
bool nav_version_type(LINE_READER_T* in, NAV_HDR_T* h) {
  double v;
  if (!version_line(in, &v)) return false;
  h->version = v;
  char kind[2], sys[2];
  field(*in, 20, 1, kind, sizeof kind);
  field(*in, 40, 1, sys, sizeof sys);
  if (v < 3.0) {
    h->sys = nav_sys_v2(kind[0]);
    if (h->sys == 0) {
      complain(in, "not a navigation file");
      return false;
    }
  } else {
    if (kind[0] != 'N') {
      complain(in, "not a navigation file");
      return false;
    }
    h->sys = sys[0] == ' ' ? 'G' : sys[0];
  }
  return true;
}

// A header line after the version line: ionosphere parameters (RINEX 2
// "ION ALPHA" / "ION BETA", RINEX 3 "IONOSPHERIC CORR" GPSA / GPSB) and leap
// seconds; other records are passed over.
void nav_header_record(const LINE_READER_T& in, NAV_ION_T* ion) {
  if (label_is(in, "ION ALPHA")) {
    nav_header_ion(in, 2, 12, ion->a);
    ion->have |= 1;
  } else if (label_is(in, "ION BETA")) {
    nav_header_ion(in, 2, 12, ion->b);
    ion->have |= 2;
  } else if (label_is(in, "IONOSPHERIC CORR")) {
    if (std::strncmp(in.buf, "GPSA", 4) == 0) {
      nav_header_ion(in, 5, 12, ion->a);
      ion->have |= 1;
    } else if (std::strncmp(in.buf, "GPSB", 4) == 0) {
      nav_header_ion(in, 5, 12, ion->b);
      ion->have |= 2;
    }
  } else if (label_is(in, "LEAP SECONDS")) {
    double ls;
    if (num(in, 0, 6, &ls) == 1 && ls >= 0.0 && ls < 100.0) RTKCMN_set_leap_second(static_cast<S16>(ls));
  }
}

bool read_nav_header(LINE_READER_T* in, NAV_HDR_T* h, NAV_ION_T* ion) {
  bool have_version = false;
  while (next_line(in)) {
    if (!have_version) {
      if (!nav_version_type(in, h)) return false;
      have_version = true;
      continue;
    }
    if (label_is(*in, "END OF HEADER")) return true;
    nav_header_record(*in, ion);
  }
  complain(in, have_version ? "file ends inside the header" : "empty file");
  return false;
}

// Both halves of the header's Klobuchar parameters go to the engine.
void deliver_ion(const NAV_ION_T& ion) {
  if (ion.have != 3) return;
  double v[8];
  for (int i = 0; i < 4; ++i) {
    v[i] = ion.a[i];
    v[4 + i] = ion.b[i];
  }
  RTK_input_ion(v);
}

// ---------------------------------------------------------------------------
// Records.

// A record of `lines` orbit lines after its first line: the values in v[0..].
// Returns false (record dropped) when a line is missing or a field is garbage.
bool read_nav_values(LINE_READER_T* in, bool v3, int lines, double* v, int* nv) {
  const int off = v3 ? 4 : 3;
  // first line: three values after the epoch
  int k = 0;
  const int c0 = v3 ? 23 : 22;
  bool ok = true;
  for (int j = 0; j < 3; ++j)
    if (num(*in, c0 + 19 * j, 19, &v[k++]) < 0) ok = false;
  for (int l = 0; l < lines; ++l) {
    if (!next_line(in)) {
      complain(in, "file ends inside a navigation record");
      *nv = k;
      return false;
    }
    for (int j = 0; j < 4; ++j)
      if (num(*in, off + 19 * j, 19, &v[k++]) < 0) ok = false;
  }
  *nv = k;
  if (!ok) complain(in, "malformed navigation record, skipped");
  return ok;
}

// Epoch of the first line of a record (GPS time for GPS and QZSS, UTC for GLONASS).
bool nav_epoch(const LINE_READER_T& in, bool v3, gtime_t* t) {
  double y, mo, d, h, mi, s;
  bool ok;
  if (v3)
    ok = num(in, 3, 5, &y) == 1 && num(in, 8, 3, &mo) == 1 && num(in, 11, 3, &d) == 1 && num(in, 14, 3, &h) == 1 &&
         num(in, 17, 3, &mi) == 1 && num(in, 20, 3, &s) == 1;
  else
    ok = num(in, 2, 3, &y) == 1 && num(in, 5, 3, &mo) == 1 && num(in, 8, 3, &d) == 1 && num(in, 11, 3, &h) == 1 &&
         num(in, 14, 3, &mi) == 1 && num(in, 17, 5, &s) == 1;
  return ok && make_time(y, mo, d, h, mi, s, t);
}

// A GPS or QZSS record (29 values in file order, IS-GPS-200 units: s, s/s,
// s/s^2, m, rad, rad/s, sqrt(m) ...) to the table.
void store_gps(int sat, gtime_t toc, const double* v) {
  eph_t eph{};
  eph.sat = sat;
  eph.f0 = v[0];
  eph.f1 = v[1];
  eph.f2 = v[2];
  eph.iode = to_int(v[3]);
  eph.crs = v[4];
  eph.deln = v[5];
  eph.M0 = v[6];
  eph.cuc = v[7];
  eph.e = v[8];
  eph.cus = v[9];
  eph.A = v[10] * v[10];
  eph.toes = v[11];
  eph.cic = v[12];
  eph.OMG0 = v[13];
  eph.cis = v[14];
  eph.i0 = v[15];
  eph.crc = v[16];
  eph.omg = v[17];
  eph.OMGd = v[18];
  eph.idot = v[19];
  eph.code = to_int(v[20]);
  eph.week = to_int(v[21]);
  eph.flag = to_int(v[22]);
  // URA in metres to its index
  static constexpr double URA[] = {2.4,  3.4,   4.85,  6.85,  9.65,   13.65,  24.0,  48.0,
                                   96.0, 192.0, 384.0, 768.0, 1536.0, 3072.0, 6144.0};
  int sva = 15;
  for (int i = 0; i < 15; ++i)
    if (v[23] <= URA[i]) {
      sva = i;
      break;
    }
  eph.sva = sva;
  eph.svh = to_int(v[24]);
  eph.tgd[0] = v[25];
  eph.iodc = to_int(v[26]);
  const double ttr = v[27];
  eph.fit = v[28] == 0.0 ? 4.0 : v[28];
  eph.toc = toc;
  eph.toe = gpst2time(eph.week, eph.toes);
  eph.ttr = gpst2time(eph.week, ttr >= 0.0 && ttr < 604800.0 * 2 ? ttr : eph.toes);
  add_eph(eph);
}

// A GLONASS record (15 values in file order: clock s, s/s, frame time s,
// then per axis position km, velocity km/s, acceleration km/s^2, and health,
// frequency number, age) to the table, toc_utc its reference time in UTC.
void store_glo(int sat, gtime_t toc_utc, const double* v) {
  geph_t g{};
  g.sat = sat;
  g.taun = -v[0];
  g.gamn = v[1];
  const double tof_sod = v[2];
  g.pos[0] = v[3] * 1e3;
  g.vel[0] = v[4] * 1e3;
  g.acc[0] = v[5] * 1e3;
  g.svh = to_int(v[6]);
  g.pos[1] = v[7] * 1e3;
  g.vel[1] = v[8] * 1e3;
  g.acc[1] = v[9] * 1e3;
  const double frq = v[10];
  g.pos[2] = v[11] * 1e3;
  g.vel[2] = v[12] * 1e3;
  g.acc[2] = v[13] * 1e3;
  g.age = to_int(v[14]);
  g.toe = utc2gpst(toc_utc);
  // frame time: seconds of the UTC day of toc (or of the week in RINEX 3.0x); kept near toe
  int week = 0;
  double tow = time2gpst(g.toe, &week);
  const double sod = tow - std::floor(tow / 86400.0) * 86400.0;
  double tof = tow - sod + std::fmod(std::fabs(tof_sod), 86400.0);
  if (tof < tow - 43200.0)
    tof += 86400.0;
  else if (tof > tow + 43200.0)
    tof -= 86400.0;
  g.tof = gpst2time(week, tof);
  // toe in 15-minute steps of the day (Moscow time, UTC + 3 h): its index as
  // the issue of data, rounded half up (tow_utc >= 0, so the count is never negative)
  int w2 = 0;
  const double tow_utc = time2gpst(toc_utc, &w2);
  g.iode = static_cast<int>(std::floor(std::fmod(tow_utc + 10800.0, 86400.0) / 900.0 + 0.5)) & 0x7F;
  g.frq = frq >= -7.0 && frq <= 6.0 ? static_cast<int>(frq) : -9;
  add_geph(g);
}

bool finite_all(const double* v, int n) {
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(v[i]) || std::fabs(v[i]) > 1e12) return false;
  return true;
}

// System and PRN of a record's first line (RINEX 3 "Gnn", RINEX 2 the PRN
// in a file of one system); false with a complaint for a malformed line.
bool nav_record_id(LINE_READER_T* in, const NAV_HDR_T& h, char* sysc, int* prn) {
  if (h.version >= 3.0) {
    char id[4];
    field(*in, 0, 3, id, sizeof id);
    *sysc = id[0];
    if (!(id[1] >= '0' && id[1] <= '9') || !(id[2] >= '0' && id[2] <= '9')) {
      complain(in, "malformed satellite identifier in a navigation record, line skipped");
      return false;
    }
    *prn = (id[1] - '0') * 10 + (id[2] - '0');
    return true;
  }
  double p;
  if (num(*in, 0, 2, &p) != 1 || p < 1.0 || p > 99.0) {
    complain(in, "malformed navigation record line, skipped");
    return false;
  }
  *sysc = h.sys;
  *prn = static_cast<int>(p);
  return true;
}

// Orbit lines after the first line of a record of system sysc; 0 for an unknown system.
int nav_record_lines(char sysc) {
  switch (sysc) {
    case 'G':
    case 'J':
    case 'E':
    case 'C':
    case 'I':
      return 7;
    case 'R':
    case 'S':
      return 3;
    default:
      return 0;
  }
}

// The values of a record to the table of its system: GPS and QZSS with a
// plausible sqrt(A) (> 1000 sqrt(m)), week (0..9999) and toe (s of the week),
// GLONASS always; other systems are read over.
void store_record(char sysc, int prn, gtime_t toc, const double* v) {
  if (sysc == 'G' || sysc == 'J') {
    const int sat = sysc == 'G' ? satno(SYS_GPS, prn) : satno(SYS_QZS, prn + 192);
    if (sat > 0 && v[10] > 1000.0 && v[21] >= 0.0 && v[21] < 10000.0 && v[11] >= 0.0 && v[11] < 604800.0)
      store_gps(sat, toc, v);
  } else if (sysc == 'R') {
    const int sat = satno(SYS_GLO, prn);
    if (sat > 0) store_glo(sat, toc, v);
  }
}

// One record from its first line (in the reader's buffer) on.
void read_nav_record(LINE_READER_T* in, const NAV_HDR_T& h) {
  char sysc = 0;
  int prn = 0;
  if (!nav_record_id(in, h, &sysc, &prn)) return;
  const int lines = nav_record_lines(sysc);
  if (lines == 0) {
    complain(in, "unknown satellite system in a navigation record, line skipped");
    return;
  }
  const bool v3 = h.version >= 3.0;
  const long rec_line = in->line_no;
  gtime_t toc{};
  const bool time_ok = nav_epoch(*in, v3, &toc);
  double v[32];
  int nv = 0;
  if (!read_nav_values(in, v3, lines, v, &nv)) return;
  if (!time_ok) {
    // the complaint names the record's first line
    const long l = in->line_no;
    in->line_no = rec_line;
    complain(in, "malformed navigation record time, record skipped");
    in->line_no = l;
    return;
  }
  if (!finite_all(v, nv)) return;
  store_record(sysc, prn, toc, v);
}

int read_nav(LINE_READER_T* in) {
  NAV_HDR_T h{};
  NAV_ION_T ion{{0, 0, 0, 0}, {0, 0, 0, 0}, 0};
  if (!read_nav_header(in, &h, &ion)) return 0;
  deliver_ion(ion);
  while (next_line(in)) {
    if (in->len == 0) continue;
    read_nav_record(in, h);
  }
  return 1;
}

}  // namespace

void nav_reset() {
  Nav_count = 0;
  N_eph = N_geph = 0;
  Nav_full_drops = 0;
  for (int& g : Given) g = 0;
}

void deliver_nav(gtime_t t) {
  int best[MAXSAT];
  double best_dt[MAXSAT];
  for (int i = 0; i < MAXSAT; ++i) {
    best[i] = 0;
    best_dt[i] = 1e30;
  }
  for (int i = 0; i < N_eph; ++i) {
    const int s = Eph_tab[i].sat - 1;
    const double dt = std::fabs(timediff(Eph_tab[i].toe, t));
    if (s >= 0 && s < MAXSAT && dt < best_dt[s]) {
      best_dt[s] = dt;
      best[s] = i + 1;
    }
  }
  for (int i = 0; i < N_geph; ++i) {
    const int s = Geph_tab[i].sat - 1;
    const double dt = std::fabs(timediff(Geph_tab[i].toe, t));
    if (s >= 0 && s < MAXSAT && dt < best_dt[s]) {
      best_dt[s] = dt;
      best[s] = -(i + 1);
    }
  }
  for (int s = 0; s < MAXSAT; ++s) {
    if (best[s] == 0 || best[s] == Given[s]) continue;
    Given[s] = best[s];
    if (best[s] > 0) {
      RTK_input_eph(&Eph_tab[best[s] - 1]);
    } else {
      const geph_t& g = Geph_tab[-best[s] - 1];
      int prn = 0;
      satsys(g.sat, &prn);
      if (g.frq != -9) RTK_set_glonass_freq_num(static_cast<U08>(prn), static_cast<S08>(g.frq));
      RTK_input_geph(&g);
    }
  }
}

}  // namespace rinex_internal

using namespace rinex_internal;

int RINEX_read_nav_stream(std::FILE* fp, const char* name) {
  if (fp == nullptr) return 0;
  static LINE_READER_T in;
  in = LINE_READER_T{};
  in.fp = fp;
  set_name(&in, name);
  return read_nav(&in);
}

int RINEX_read_nav(const char* path) {
  std::FILE* fp = path != nullptr ? std::fopen(path, "r") : nullptr;
  if (fp == nullptr) {
    std::fprintf(stderr, "talonhost: %s: cannot open the RINEX navigation file\n", path != nullptr ? path : "?");
    ++stats()->errors;
    return 0;
  }
  const int r = RINEX_read_nav_stream(fp, path);
  std::fclose(fp);
  if (Nav_full_drops > 0) {
    std::fprintf(stderr, "talonhost: %s: navigation table full, %u records dropped\n", path, Nav_full_drops);
    Nav_full_drops = 0;
  }
  return r;
}

int RINEX_get_nav_count() { return Nav_count; }

void RINEX_deliver_nav(gtime_t time) { deliver_nav(time); }
