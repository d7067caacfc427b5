// RINEX reader: observation and navigation files to the engine's raw buffers
// and navigation store.
#include "rtk/rinex.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "rtk/crv.h"
#include "rtk/rtk.h"
#include "rtk/rtk_raw.h"

namespace {

// Observation types of one system that the engine uses (column of each, -1 absent).
struct TYPES_T {
  int ntype;
  int c1, l1, d1, s1;
};

enum : int { SYSI_GPS = 0, SYSI_GLO, SYSI_QZS, SYSI_SBS, SYSI_OTHER, N_SYSI };

struct LINE_READER_T {
  std::FILE* fp;
  char name[128];
  long line_no;
  unsigned int msgs;
  char buf[RINEX_MAX_LINE + 2];
  int len;
};

struct OBS_FILE_T {
  LINE_READER_T in;
  int owns_fp;
  int open;
  double version;
  char file_sys;  // 'G', 'R', 'S', 'J', 'M', ...
  TYPES_T types[N_SYSI];
  int has_pos;
  double pos[3];
  // one epoch read ahead (base pairing)
  int has_pending;
  obsd_t pending[MAXOBS];
  int n_pending;
  gtime_t pending_time;
  int eof;
};

OBS_FILE_T Obs_file[2]{};
RINEX_STATS_T Stats{};
int Nav_count = 0;
int Base_pos_sent = 0;
int Base_fed = 0;  // a base epoch has gone to the raw buffer
gtime_t Base_fed_time{};

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

// One line without its end; 0 at the end of the file. A line longer than the
// buffer is cut (and reported); NUL bytes end the line's text.
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

// Column text [i, i+n) as a bounded copy (blanks beyond the end of the line).
bool field(const LINE_READER_T& in, int i, int n, char* out, int size) {
  int k = 0;
  for (int j = i; j < i + n && k < size - 1; ++j) out[k++] = j < in.len ? in.buf[j] : ' ';
  out[k] = '\0';
  for (int j = 0; j < k; ++j)
    if (out[j] != ' ') return true;
  return false;  // blank
}

// A number in columns [i, i+n): 1 and *v when it parses completely, 0 for a
// blank field (*v = 0), -1 for garbage.
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

int sys_index(char c) {
  switch (c) {
    case 'G':
    case ' ':
      return SYSI_GPS;
    case 'R':
      return SYSI_GLO;
    case 'J':
      return SYSI_QZS;
    case 'S':
      return SYSI_SBS;
    default:
      return SYSI_OTHER;
  }
}

// Satellite index of a "Gnn" / " nn" identifier; 0 for a system the engine
// has no index for, -1 for a malformed identifier.
int sat_of(const char* id, char default_sys) {
  char c = id[0] == ' ' ? default_sys : id[0];
  if (c == 'M' || c == ' ') c = 'G';
  if (!(id[1] == ' ' || (id[1] >= '0' && id[1] <= '9')) || !(id[2] >= '0' && id[2] <= '9')) return -1;
  const int prn = (id[1] == ' ' ? 0 : (id[1] - '0') * 10) + (id[2] - '0');
  switch (c) {
    case 'G':
      return satno(SYS_GPS, prn);
    case 'R':
      return satno(SYS_GLO, prn);
    case 'J':
      return satno(SYS_QZS, prn + 192);
    case 'S':
      return satno(SYS_SBS, prn + 100 - 87);
    case 'E':
    case 'C':
    case 'I':
      return 0;
    default:
      return -1;
  }
}

// An integer field of a record; values beyond the range of int become its limits.
int to_int(double v) {
  if (!(v > -1e9)) return -1000000000;
  if (!(v < 1e9)) return 1000000000;
  return static_cast<int>(v);
}

// Calendar epoch from fields, checked before it is converted.
bool make_time(double y, double mo, double d, double h, double mi, double s, gtime_t* t) {
  if (y < 100.0) y += y < 80.0 ? 2000.0 : 1900.0;
  if (y < 1980.0 || y > 2100.0 || mo < 1.0 || mo > 12.0 || d < 1.0 || d > 31.0 || h < 0.0 || h > 24.0 || mi < 0.0 ||
      mi > 59.0 || s < 0.0 || s >= 61.0)
    return false;
  const double ep[6] = {std::floor(y), std::floor(mo), std::floor(d), std::floor(h), std::floor(mi), s};
  *t = epoch2time(ep);
  return true;
}

// ---------------------------------------------------------------------------
// Observation header.

bool type_is_valid(const char* t, bool v3) {
  static constexpr char KINDS[] = "CLDSPI";
  if (std::strchr(KINDS, t[0]) == nullptr || t[0] == '\0') return false;
  if (t[1] < '1' || t[1] > '9') return false;
  if (v3) return (t[2] >= 'A' && t[2] <= 'Z');
  return true;
}

// Records which column carries each L1 observable. RINEX 3: C1C, L1C, D1C,
// S1C (SBAS and QZSS the same); RINEX 2: C1, L1, D1, S1 (P1 when C1 is absent).
void note_type(TYPES_T* ty, int col, const char* t, bool v3, int p1_col_for_2) {
  (void)p1_col_for_2;
  if (v3) {
    if (t[1] != '1' || t[2] != 'C') return;
  } else if (t[1] != '1') {
    return;
  }
  switch (t[0]) {
    case 'C':
      ty->c1 = col;
      break;
    case 'L':
      ty->l1 = col;
      break;
    case 'D':
      ty->d1 = col;
      break;
    case 'S':
      ty->s1 = col;
      break;
    default:
      break;
  }
}

bool read_obs_header(OBS_FILE_T* f) {
  LINE_READER_T* in = &f->in;
  for (auto& t : f->types) t = TYPES_T{0, -1, -1, -1, -1};
  bool have_version = false, have_types = false;
  int p1_col = -1;
  // continuation of a type list
  int cont_sys = -1, cont_left = 0, cont_col = 0;
  while (next_line(in)) {
    if (!have_version) {
      if (!label_is(*in, "RINEX VERSION / TYPE")) {
        complain(in, "not a RINEX file: no RINEX VERSION / TYPE line");
        return false;
      }
      double v = 0.0;
      if (num(*in, 0, 9, &v) != 1 || v < 2.0 || v >= 4.0) {
        complain(in, "unsupported RINEX version");
        return false;
      }
      char kind[2];
      field(*in, 20, 1, kind, sizeof kind);
      if (kind[0] != 'O') {
        complain(in, "not an observation file");
        return false;
      }
      f->version = v;
      char sys[2];
      field(*in, 40, 1, sys, sizeof sys);
      f->file_sys = sys[0] == ' ' ? 'G' : sys[0];
      have_version = true;
      continue;
    }
    const bool v3 = f->version >= 3.0;
    if (label_is(*in, "END OF HEADER")) {
      if (!have_types) {
        complain(in, "header without observation types");
        return false;
      }
      if (!v3 && f->types[SYSI_GPS].c1 < 0 && p1_col >= 0) {
        for (auto& t : f->types) t.c1 = p1_col;
      }
      return true;
    }
    if (label_is(*in, "APPROX POSITION XYZ")) {
      double x, y, z;
      if (num(*in, 0, 14, &x) == 1 && num(*in, 14, 14, &y) == 1 && num(*in, 28, 14, &z) == 1 &&
          x * x + y * y + z * z > 1e10 && x * x + y * y + z * z < 1e15) {
        f->pos[0] = x;
        f->pos[1] = y;
        f->pos[2] = z;
        f->has_pos = 1;
      } else if (!(x == 0.0 && y == 0.0 && z == 0.0)) {
        complain(in, "bad APPROX POSITION XYZ");
      }
      continue;
    }
    if (!v3 && label_is(*in, "# / TYPES OF OBSERV")) {
      double nt = 0.0;
      int first = cont_left > 0 ? 1 : 0;
      if (!first) {
        if (num(*in, 0, 6, &nt) != 1 || nt < 1.0 || nt > RINEX_MAX_TYPES) {
          complain(in, "bad number of observation types");
          return false;
        }
        cont_left = static_cast<int>(nt);
        cont_col = 0;
        for (auto& t : f->types) t.ntype = cont_left;
      }
      for (int k = 0; k < 9 && cont_left > 0; ++k, --cont_left, ++cont_col) {
        char t[4];
        field(*in, 10 + 6 * k, 2, t, sizeof t);
        if (!type_is_valid(t, false)) {
          complain(in, "unknown observation type, ignored");
          continue;
        }
        if (t[0] == 'P' && t[1] == '1') p1_col = cont_col;
        for (auto& ty : f->types) note_type(&ty, cont_col, t, false, p1_col);
      }
      have_types = true;
      continue;
    }
    if (v3 && label_is(*in, "SYS / # / OBS TYPES")) {
      if (in->buf[0] != ' ') {
        double nt = 0.0;
        if (num(*in, 3, 3, &nt) != 1 || nt < 1.0 || nt > RINEX_MAX_TYPES) {
          complain(in, "bad number of observation types");
          return false;
        }
        cont_sys = sys_index(in->buf[0]);
        cont_left = static_cast<int>(nt);
        cont_col = 0;
        f->types[cont_sys].ntype = cont_left;
        if (cont_sys == SYSI_OTHER) f->types[cont_sys] = TYPES_T{0, -1, -1, -1, -1};
      } else if (cont_sys < 0 || cont_left <= 0) {
        complain(in, "observation type continuation without a system");
        continue;
      }
      for (int k = 0; k < 13 && cont_left > 0; ++k, --cont_left, ++cont_col) {
        char t[5];
        field(*in, 7 + 4 * k, 3, t, sizeof t);
        if (!type_is_valid(t, true)) {
          complain(in, "unknown observation type, ignored");
          continue;
        }
        if (cont_sys != SYSI_OTHER) note_type(&f->types[cont_sys], cont_col, t, true, -1);
      }
      have_types = true;
      continue;
    }
  }
  complain(in, have_version ? "file ends inside the header" : "empty file");
  return false;
}

// ---------------------------------------------------------------------------
// Observation epochs.

struct EPOCH_HDR_T {
  gtime_t time;
  int flag, nsat;
};

bool parse_epoch_line(OBS_FILE_T* f, EPOCH_HDR_T* e) {
  LINE_READER_T& in = f->in;
  double y, mo, d, h, mi, s, fl, ns;
  bool ok;
  if (f->version >= 3.0) {
    ok = in.buf[0] == '>' && num(in, 2, 4, &y) == 1 && num(in, 6, 3, &mo) == 1 && num(in, 9, 3, &d) == 1 &&
         num(in, 12, 3, &h) == 1 && num(in, 15, 3, &mi) == 1 && num(in, 18, 11, &s) == 1 && num(in, 29, 3, &fl) == 1 &&
         num(in, 32, 3, &ns) == 1;
  } else {
    ok = num(in, 0, 3, &y) == 1 && num(in, 3, 3, &mo) == 1 && num(in, 6, 3, &d) == 1 && num(in, 9, 3, &h) == 1 &&
         num(in, 12, 3, &mi) == 1 && num(in, 15, 11, &s) == 1 && num(in, 26, 3, &fl) == 1 && num(in, 29, 3, &ns) == 1;
    if (!ok && num(in, 26, 3, &fl) == 1 && fl >= 2.0 && fl <= 5.0 && num(in, 29, 3, &ns) == 1) {
      // event records may leave the time blank
      ok = true;
      y = 2000;
      mo = d = 1;
      h = mi = s = 0;
    }
  }
  if (!ok || fl < 0.0 || fl > 6.0 || ns < 0.0 || ns > 999.0) return false;
  e->flag = static_cast<int>(fl);
  e->nsat = static_cast<int>(ns);
  if (e->flag <= 1 || e->flag == 6) return make_time(y, mo, d, h, mi, s, &e->time);
  return true;
}

// The observables of one satellite: text columns from `start` of the line(s),
// `ntype` fields of 16 columns, 5 per line in RINEX 2 (continuation lines).
void fill_obs(OBS_FILE_T* f, const TYPES_T& ty, int col, double value, int lli, int ssi, obsd_t* o) {
  (void)f;
  if (col == ty.c1) o->P[0] = value;
  if (col == ty.l1) {
    o->L[0] = value;
    o->LLI[0] = static_cast<unsigned char>(lli & (f->version >= 3.0 ? 3 : 1));
  }
  if (col == ty.d1) o->D[0] = std::fabs(value) < 1e9 ? static_cast<float>(value) : 0.0f;
  if (col == ty.s1) {
    const double snr = value * 4.0;
    o->SNR[0] = static_cast<unsigned char>(snr < 0.0 ? 0.0 : snr > 255.0 ? 255.0 : snr + 0.5);
  }
  if (col == ty.l1 && ty.s1 < 0 && ssi >= 1 && ssi <= 9) {
    // without a C/N0 type: the signal strength digit, 1..9 standing for 12..54 dB-Hz
    o->SNR[0] = static_cast<unsigned char>(ssi * 6 * 4);
  }
}

bool value_field(const LINE_READER_T& in, int i, double* v, int* lli, int* ssi) {
  const int r = num(in, i, 14, v);
  if (r < 0) return false;
  char c[2];
  field(in, i + 14, 1, c, sizeof c);
  *lli = (c[0] >= '0' && c[0] <= '9') ? c[0] - '0' : 0;
  if (c[0] != ' ' && (c[0] < '0' || c[0] > '9')) return false;
  field(in, i + 15, 1, c, sizeof c);
  *ssi = (c[0] >= '0' && c[0] <= '9') ? c[0] - '0' : 0;
  if (c[0] != ' ' && (c[0] < '0' || c[0] > '9')) return false;
  return true;
}

// Reads the body of an epoch with usable observations. Returns the count
// (may be 0); -1 at a premature end of the file.
int read_epoch_body(OBS_FILE_T* f, const EPOCH_HDR_T& e, obsd_t* obs, int rcv) {
  LINE_READER_T& in = f->in;
  const bool v3 = f->version >= 3.0;
  int n = 0;
  if (v3) {
    for (int k = 0; k < e.nsat; ++k) {
      if (!next_line(&in)) {
        complain(&in, "file ends inside an epoch");
        return -1;
      }
      if (in.buf[0] == '>') {
        complain(&in, "epoch shorter than its satellite count");
        // let the caller read this line again: re-read by seeking is not possible; drop the epoch
        return -2;
      }
      char id[4];
      field(in, 0, 3, id, sizeof id);
      const int sat = sat_of(id, f->file_sys);
      if (sat < 0) {
        complain(&in, "malformed satellite identifier, line skipped");
        continue;
      }
      if (sat == 0) continue;
      const TYPES_T& ty = f->types[sys_index(id[0])];
      if (ty.l1 < 0 && ty.c1 < 0) continue;
      if (n >= MAXOBS) continue;
      obsd_t o{};
      bool bad = false;
      for (int c = 0; c < ty.ntype && !bad; ++c) {
        if (c != ty.c1 && c != ty.l1 && c != ty.d1 && c != ty.s1) continue;
        double v;
        int lli, ssi;
        if (!value_field(in, 3 + 16 * c, &v, &lli, &ssi))
          bad = true;
        else
          fill_obs(f, ty, c, v, lli, ssi, &o);
      }
      if (bad) {
        complain(&in, "malformed observation, satellite skipped");
        continue;
      }
      if (o.P[0] == 0.0 && o.L[0] == 0.0) continue;
      o.time = e.time;
      o.sat = static_cast<unsigned char>(sat);
      o.rcv = static_cast<unsigned char>(rcv);
      o.code[0] = CODE_L1C;
      obs[n++] = o;
    }
    return n;
  }
  // RINEX 2: the satellite list on the epoch line and its continuations.
  int sats[MAXOBS * 4];
  char ids[MAXOBS * 4][4];
  const int nsat = e.nsat > MAXOBS * 4 ? MAXOBS * 4 : e.nsat;
  if (nsat < e.nsat) complain(&in, "too many satellites in an epoch");
  for (int k = 0; k < nsat; ++k) {
    if (k > 0 && k % 12 == 0) {
      if (!next_line(&in)) {
        complain(&in, "file ends inside an epoch");
        return -1;
      }
    }
    field(in, 32 + 3 * (k % 12), 3, ids[k], sizeof ids[k]);
    sats[k] = sat_of(ids[k], f->file_sys);
  }
  const int ntype = f->types[SYSI_GPS].ntype;
  const int lines_per_sat = (ntype + 4) / 5;
  for (int k = 0; k < e.nsat; ++k) {
    obsd_t o{};
    bool bad = false;
    const bool known = k < nsat;
    const int sat = known ? sats[k] : 0;
    const TYPES_T& ty = f->types[known ? sys_index(ids[k][0] == ' ' ? f->file_sys : ids[k][0]) : SYSI_OTHER];
    for (int l = 0; l < lines_per_sat; ++l) {
      if (!next_line(&in)) {
        complain(&in, "file ends inside an epoch");
        return -1;
      }
      if (sat <= 0) continue;
      for (int j = 0; j < 5; ++j) {
        const int c = l * 5 + j;
        if (c >= ntype) break;
        if (c != ty.c1 && c != ty.l1 && c != ty.d1 && c != ty.s1) continue;
        double v;
        int lli, ssi;
        if (!value_field(in, 16 * j, &v, &lli, &ssi))
          bad = true;
        else
          fill_obs(f, ty, c, v, lli, ssi, &o);
      }
    }
    if (sat < 0) {
      complain(&in, "malformed satellite identifier, satellite skipped");
      continue;
    }
    if (bad) {
      complain(&in, "malformed observation, satellite skipped");
      continue;
    }
    if (sat == 0 || n >= MAXOBS || (o.P[0] == 0.0 && o.L[0] == 0.0)) continue;
    o.time = e.time;
    o.sat = static_cast<unsigned char>(sat);
    o.rcv = static_cast<unsigned char>(rcv);
    o.code[0] = CODE_L1C;
    obs[n++] = o;
  }
  return n;
}

bool valid_rcv(int rcv) { return rcv == RINEX_ROVER || rcv == RINEX_BASE; }

int read_epoch(OBS_FILE_T* f, obsd_t* obs, int* n, gtime_t* time, int rcv) {
  if (!f->open) return 0;
  while (next_line(&f->in)) {
    LINE_READER_T& in = f->in;
    if (in.len == 0) continue;
    EPOCH_HDR_T e{};
    if (!parse_epoch_line(f, &e)) {
      complain(&in, "malformed epoch line, skipped");
      continue;
    }
    if (e.flag >= 2 && e.flag <= 5) {  // event: header lines follow
      bool ended = false;
      for (int k = 0; k < e.nsat; ++k) {
        if (!next_line(&in)) {
          ended = true;
          break;
        }
        if (label_is(in, "# / TYPES OF OBSERV") || label_is(in, "SYS / # / OBS TYPES"))
          complain(&in, "observation types changed inside the file: not followed");
      }
      if (ended) {
        complain(&in, "file ends inside an event record");
        break;
      }
      continue;
    }
    const int r = read_epoch_body(f, e, obs, rcv);
    if (r == -1) break;
    if (r == -2) continue;
    if (e.flag == 6) continue;  // cycle slip records: the phase flags carry them
    *n = r;
    *time = e.time;
    return 1;
  }
  f->eof = 1;
  return 0;
}

// ---------------------------------------------------------------------------
// Navigation files.

struct NAV_HDR_T {
  double version;
  char sys;  // 'G' GPS, 'R' GLONASS, 'J', 'M' mixed...
};

void nav_header_ion(const LINE_READER_T& in, int first_col, int width, double* dst) {
  for (int k = 0; k < 4; ++k) {
    double v;
    if (num(in, first_col + width * k, width, &v) == 1) dst[k] = v;
  }
}

bool read_nav_header(LINE_READER_T* in, NAV_HDR_T* h, double* ion_a, double* ion_b, int* ion_n) {
  bool have_version = false;
  while (next_line(in)) {
    if (!have_version) {
      if (!label_is(*in, "RINEX VERSION / TYPE")) {
        complain(in, "not a RINEX file: no RINEX VERSION / TYPE line");
        return false;
      }
      double v;
      if (num(*in, 0, 9, &v) != 1 || v < 2.0 || v >= 4.0) {
        complain(in, "unsupported RINEX version");
        return false;
      }
      h->version = v;
      char kind[2], sys[2];
      field(*in, 20, 1, kind, sizeof kind);
      field(*in, 40, 1, sys, sizeof sys);
      if (v < 3.0) {
        if (kind[0] == 'N')
          h->sys = 'G';
        else if (kind[0] == 'G')
          h->sys = 'R';
        else if (kind[0] == 'H')
          h->sys = 'S';
        else {
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
      have_version = true;
      continue;
    }
    if (label_is(*in, "END OF HEADER")) return true;
    if (label_is(*in, "ION ALPHA")) {
      nav_header_ion(*in, 2, 12, ion_a);
      *ion_n |= 1;
    } else if (label_is(*in, "ION BETA")) {
      nav_header_ion(*in, 2, 12, ion_b);
      *ion_n |= 2;
    } else if (label_is(*in, "IONOSPHERIC CORR")) {
      if (std::strncmp(in->buf, "GPSA", 4) == 0) {
        nav_header_ion(*in, 5, 12, ion_a);
        *ion_n |= 1;
      } else if (std::strncmp(in->buf, "GPSB", 4) == 0) {
        nav_header_ion(*in, 5, 12, ion_b);
        *ion_n |= 2;
      }
    } else if (label_is(*in, "LEAP SECONDS")) {
      double ls;
      if (num(*in, 0, 6, &ls) == 1 && ls >= 0.0 && ls < 100.0) RTKCMN_set_leap_second(static_cast<S16>(ls));
    }
  }
  complain(in, have_version ? "file ends inside the header" : "empty file");
  return false;
}

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

// Every ephemeris of the navigation files, kept until the epochs reach its
// time: the store holds one record per satellite, so the reader hands over,
// epoch by epoch, the record whose reference time lies nearest.
inline constexpr int MAX_EPH_TAB = 4096;
inline constexpr int MAX_GEPH_TAB = 4096;
eph_t Eph_tab[MAX_EPH_TAB];
geph_t Geph_tab[MAX_GEPH_TAB];
int N_eph = 0, N_geph = 0;
int Given[MAXSAT];  // table index + 1 of the record in the store, per satellite
unsigned int Nav_full_drops = 0;

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

// Hands over, for every satellite, the record nearest to time t.
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

void store_glo(int sat, int slot, gtime_t toc_utc, const double* v) {
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
  // toe in 15-minute steps of the day: its index as the issue of data
  int w2 = 0;
  const double tow_utc = time2gpst(toc_utc, &w2);
  g.iode = static_cast<int>(std::fmod(tow_utc + 10800.0, 86400.0) / 900.0 + 0.5) & 0x7F;
  g.frq = frq >= -7.0 && frq <= 6.0 ? static_cast<int>(frq) : -9;
  (void)slot;
  add_geph(g);
}

bool finite_all(const double* v, int n) {
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(v[i]) || std::fabs(v[i]) > 1e12) return false;
  return true;
}

int read_nav(LINE_READER_T* in) {
  NAV_HDR_T h{};
  double ion_a[4] = {0, 0, 0, 0}, ion_b[4] = {0, 0, 0, 0};
  int ion_n = 0;
  if (!read_nav_header(in, &h, ion_a, ion_b, &ion_n)) return 0;
  if (ion_n == 3) {
    double ion[8];
    for (int i = 0; i < 4; ++i) {
      ion[i] = ion_a[i];
      ion[4 + i] = ion_b[i];
    }
    RTK_input_ion(ion);
  }
  const bool v3 = h.version >= 3.0;
  while (next_line(in)) {
    if (in->len == 0) continue;
    char sysc = h.sys;
    char id[4];
    int prn = 0;
    if (v3) {
      field(*in, 0, 3, id, sizeof id);
      sysc = id[0];
      if (!(id[1] >= '0' && id[1] <= '9') || !(id[2] >= '0' && id[2] <= '9')) {
        complain(in, "malformed satellite identifier in a navigation record, line skipped");
        continue;
      }
      prn = (id[1] - '0') * 10 + (id[2] - '0');
    } else {
      double p;
      if (num(*in, 0, 2, &p) != 1 || p < 1.0 || p > 99.0) {
        complain(in, "malformed navigation record line, skipped");
        continue;
      }
      prn = static_cast<int>(p);
    }
    int lines;
    switch (sysc) {
      case 'G':
      case 'J':
      case 'E':
      case 'C':
      case 'I':
        lines = 7;
        break;
      case 'R':
      case 'S':
        lines = 3;
        break;
      default:
        complain(in, "unknown satellite system in a navigation record, line skipped");
        continue;
    }
    const long rec_line = in->line_no;
    gtime_t toc{};
    const bool time_ok = nav_epoch(*in, v3, &toc);
    double v[32];
    int nv = 0;
    const bool ok = read_nav_values(in, v3, lines, v, &nv);
    if (!ok) continue;
    if (!time_ok) {
      const long l = in->line_no;
      in->line_no = rec_line;
      complain(in, "malformed navigation record time, record skipped");
      in->line_no = l;
      continue;
    }
    if (!finite_all(v, nv)) continue;
    if (sysc == 'G' || sysc == 'J') {
      const int sat = sysc == 'G' ? satno(SYS_GPS, prn) : satno(SYS_QZS, prn + 192);
      if (sat > 0 && v[10] > 1000.0 && v[21] >= 0.0 && v[21] < 10000.0 && v[11] >= 0.0 && v[11] < 604800.0)
        store_gps(sat, toc, v);
    } else if (sysc == 'R') {
      const int sat = satno(SYS_GLO, prn);
      if (sat > 0) store_glo(sat, prn, toc, v);
    }
  }
  return 1;
}

// ---------------------------------------------------------------------------
// File-mode pairing.

// Base epochs up to the rover time go to the raw buffer, in order.
void feed_base(gtime_t rover_time) {
  OBS_FILE_T* f = &Obs_file[1];
  if (!Base_pos_sent && f->has_pos) {
    RTK_RAW_update_base_pos_xyz(f->pos[0], f->pos[1], f->pos[2]);
    Base_pos_sent = 1;
  }
  for (;;) {
    if (!f->has_pending) {
      if (f->eof || !read_epoch(f, f->pending, &f->n_pending, &f->pending_time, RINEX_BASE)) return;
      ++Stats.base_epochs;
      f->has_pending = 1;
    }
    if (timediff(f->pending_time, rover_time) > RINEX_PAIR_TOL) return;
    RTK_RAW_update_base_meas(f->pending, f->n_pending);
    Base_fed = 1;
    Base_fed_time = f->pending_time;
    f->has_pending = 0;
  }
}

}  // namespace

// Base epochs counted as unpaired: every base epoch read that was never the
// latest base epoch at a rover epoch.
namespace {
unsigned int Base_used = 0;
gtime_t Base_used_time{};
int Base_used_any = 0;
}  // namespace

void RINEX_init() {
  for (int r = 0; r < 2; ++r) RINEX_close_obs(r + 1);
  for (auto& f : Obs_file) f = OBS_FILE_T{};
  Stats = RINEX_STATS_T{};
  Nav_count = 0;
  Base_pos_sent = 0;
  Base_fed = 0;
  Base_fed_time = gtime_t{};
  Base_used = 0;
  Base_used_time = gtime_t{};
  Base_used_any = 0;
  N_eph = N_geph = 0;
  Nav_full_drops = 0;
  for (int& g : Given) g = 0;
}

int RINEX_attach_obs(int rcv, std::FILE* fp, const char* name) {
  if (!valid_rcv(rcv) || fp == nullptr) return 0;
  OBS_FILE_T* f = &Obs_file[rcv - 1];
  RINEX_close_obs(rcv);
  *f = OBS_FILE_T{};
  f->in.fp = fp;
  set_name(&f->in, name);
  if (!read_obs_header(f)) {
    f->in.fp = nullptr;
    return 0;
  }
  f->open = 1;
  return 1;
}

int RINEX_open_obs(int rcv, const char* path) {
  if (!valid_rcv(rcv) || path == nullptr) return 0;
  std::FILE* fp = std::fopen(path, "r");
  if (fp == nullptr) {
    std::fprintf(stderr, "talonhost: %s: cannot open the RINEX observation file\n", path);
    ++Stats.errors;
    return 0;
  }
  if (!RINEX_attach_obs(rcv, fp, path)) {
    std::fclose(fp);
    return 0;
  }
  Obs_file[rcv - 1].owns_fp = 1;
  return 1;
}

void RINEX_close_obs(int rcv) {
  if (!valid_rcv(rcv)) return;
  OBS_FILE_T* f = &Obs_file[rcv - 1];
  if (f->owns_fp && f->in.fp != nullptr) std::fclose(f->in.fp);
  f->in.fp = nullptr;
  f->owns_fp = 0;
  f->open = 0;
}

int RINEX_read_obs_epoch(int rcv, obsd_t* obs, int* n, gtime_t* time) {
  if (!valid_rcv(rcv)) return 0;
  return read_epoch(&Obs_file[rcv - 1], obs, n, time, rcv);
}

int RINEX_get_header_pos(int rcv, double* xyz) {
  if (!valid_rcv(rcv) || !Obs_file[rcv - 1].has_pos) return 0;
  for (int i = 0; i < 3; ++i) xyz[i] = Obs_file[rcv - 1].pos[i];
  return 1;
}

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
    ++Stats.errors;
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

int RINEX_process_file(const RINEX_SOURCE_T* src) {
  static obsd_t obs[MAXOBS];
  for (;;) {
    gtime_t tr{};
    int n = 0;
    if (src->rover_is_rinex) {
      if (!read_epoch(&Obs_file[0], obs, &n, &tr, RINEX_ROVER)) return 0;
      ++Stats.rover_epochs;
    } else {
      if (!CRV_read_rover_file_epoch(src->fp_rover, &tr)) return 0;
      ++Stats.rover_epochs;
    }
    deliver_nav(tr);
    bool paired = true;
    if (src->base_is_rinex) {
      feed_base(tr);
      paired = Base_fed && std::fabs(timediff(tr, Base_fed_time)) <= RINEX_PAIR_MAX_AGE;
      if (paired && (!Base_used_any || timediff(Base_fed_time, Base_used_time) != 0.0)) {
        ++Base_used;
        Base_used_time = Base_fed_time;
        Base_used_any = 1;
      }
    } else {
      CRV_read_base_file_for(src->fp_base, tr);
      gtime_t tb{};
      paired = RTK_RAW_get_base_time(&tb) && std::fabs(timediff(tr, tb)) <= RINEX_PAIR_MAX_AGE;
    }
    if (!paired) ++Stats.unpaired_rover;
    if (src->rover_is_rinex) {
      if (!paired) continue;  // the epoch does not reach the engine
      RTK_RAW_update_rover_meas(obs, n);
    }
    return 1;
  }
}

void RINEX_get_stats(RINEX_STATS_T* stats) {
  *stats = Stats;
  stats->unpaired_base = Stats.base_epochs > Base_used ? Stats.base_epochs - Base_used : 0;
  // the base epoch read ahead has not had its chance yet
  if (Obs_file[1].has_pending && stats->unpaired_base > 0) --stats->unpaired_base;
}
