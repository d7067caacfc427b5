// RINEX observation reader: the header (version, approximate position,
// observation types) and the epochs (epoch line, satellite list, observables)
// of 2.10/2.11 and 3.0x files, as obsd_t records of the L1 C/A observables.
#include <cmath>
#include <cstring>

#include "rtk/rinex.h"
#include "rtk/rinex_internal.h"

namespace rinex_internal {

namespace {

OBS_FILE_T Obs_file[2]{};  // [0] rover, [1] base

bool valid_rcv(int rcv) { return rcv == RINEX_ROVER || rcv == RINEX_BASE; }

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

// ---------------------------------------------------------------------------
// Observation header: one function per header record the reader uses.

// Where the header stands between its records.
struct OBS_HDR_STATE_T {
  bool have_types;
  int p1_col;  // RINEX 2 column of P1, -1 absent
  // continuation of a type list
  int cont_sys;   // RINEX 3 system index of the list, -1 none yet
  int cont_left;  // types still to come
  int cont_col;   // column of the next type
};

enum class HDR_STEP { NEXT, END, FAIL };  // read on, header complete, header unusable

bool type_is_valid(const char* t, bool v3) {
  static constexpr char KINDS[] = "CLDSPI";
  if (std::strchr(KINDS, t[0]) == nullptr || t[0] == '\0') return false;
  if (t[1] < '1' || t[1] > '9') return false;
  if (v3) return (t[2] >= 'A' && t[2] <= 'Z');
  return true;
}

// Records which column carries each L1 observable. RINEX 3: C1C, L1C, D1C,
// S1C (SBAS and QZSS the same); RINEX 2: C1, L1, D1, S1 (P1 when C1 is absent,
// see obs_end_of_header).
void note_type(TYPES_T* ty, int col, const char* t, bool v3) {
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

// "RINEX VERSION / TYPE": version, observation file, file system ('G' when blank).
bool obs_version_type(OBS_FILE_T* f) {
  LINE_READER_T* in = &f->in;
  double v = 0.0;
  if (!version_line(in, &v)) return false;
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
  return true;
}

// "APPROX POSITION XYZ": kept when it lies between about 100 km and 31600 km
// from the centre of the earth. Otherwise it is reported, unless it reads as
// zero (X and Y given as 0, Z 0 or left out), the usual mark of an unknown
// position. A field that does not parse ends the reading of the line.
void obs_approx_position(OBS_FILE_T* f) {
  LINE_READER_T* in = &f->in;
  double x = 0.0, y = 0.0, z = 0.0;
  const bool xy_read = num(*in, 0, 14, &x) == 1 && num(*in, 14, 14, &y) == 1;
  const bool xyz_read = xy_read && num(*in, 28, 14, &z) == 1;
  if (xyz_read && x * x + y * y + z * z > 1e10 && x * x + y * y + z * z < 1e15) {
    f->pos[0] = x;
    f->pos[1] = y;
    f->pos[2] = z;
    f->has_pos = 1;
  } else if (!(xy_read && x == 0.0 && y == 0.0 && z == 0.0)) {
    complain(in, "bad APPROX POSITION XYZ");
  }
}

// RINEX 2 "# / TYPES OF OBSERV": one list for every system, 9 types a line.
bool obs_types_v2(OBS_FILE_T* f, OBS_HDR_STATE_T* st) {
  LINE_READER_T* in = &f->in;
  if (st->cont_left <= 0) {
    double nt = 0.0;
    if (num(*in, 0, 6, &nt) != 1 || nt < 1.0 || nt > RINEX_MAX_TYPES) {
      complain(in, "bad number of observation types");
      return false;
    }
    st->cont_left = static_cast<int>(nt);
    st->cont_col = 0;
    for (auto& t : f->types) t.ntype = st->cont_left;
  }
  for (int k = 0; k < 9 && st->cont_left > 0; ++k, --st->cont_left, ++st->cont_col) {
    char t[4];
    field(*in, 10 + 6 * k, 2, t, sizeof t);
    if (!type_is_valid(t, false)) {
      complain(in, "unknown observation type, ignored");
      continue;
    }
    if (t[0] == 'P' && t[1] == '1') st->p1_col = st->cont_col;
    for (auto& ty : f->types) note_type(&ty, st->cont_col, t, false);
  }
  st->have_types = true;
  return true;
}

// First line of a RINEX 3 "SYS / # / OBS TYPES" list: its system and count.
bool obs_types_v3_start(OBS_FILE_T* f, OBS_HDR_STATE_T* st) {
  LINE_READER_T* in = &f->in;
  double nt = 0.0;
  if (num(*in, 3, 3, &nt) != 1 || nt < 1.0 || nt > RINEX_MAX_TYPES) {
    complain(in, "bad number of observation types");
    return false;
  }
  st->cont_sys = sys_index(in->buf[0]);
  st->cont_left = static_cast<int>(nt);
  st->cont_col = 0;
  f->types[st->cont_sys].ntype = st->cont_left;
  if (st->cont_sys == SYSI_OTHER) f->types[st->cont_sys] = TYPES_T{0, -1, -1, -1, -1};
  return true;
}

// RINEX 3 "SYS / # / OBS TYPES": a list per system, 13 types a line.
bool obs_types_v3(OBS_FILE_T* f, OBS_HDR_STATE_T* st) {
  LINE_READER_T* in = &f->in;
  if (in->buf[0] != ' ') {
    if (!obs_types_v3_start(f, st)) return false;
  } else if (st->cont_sys < 0 || st->cont_left <= 0) {
    complain(in, "observation type continuation without a system");
    return true;
  }
  for (int k = 0; k < 13 && st->cont_left > 0; ++k, --st->cont_left, ++st->cont_col) {
    char t[5];
    field(*in, 7 + 4 * k, 3, t, sizeof t);
    if (!type_is_valid(t, true)) {
      complain(in, "unknown observation type, ignored");
      continue;
    }
    if (st->cont_sys != SYSI_OTHER) note_type(&f->types[st->cont_sys], st->cont_col, t, true);
  }
  st->have_types = true;
  return true;
}

// "END OF HEADER": usable with observation types; RINEX 2 files without C1
// take P1 as the pseudorange.
bool obs_end_of_header(OBS_FILE_T* f, const OBS_HDR_STATE_T& st) {
  if (!st.have_types) {
    complain(&f->in, "header without observation types");
    return false;
  }
  if (f->version < 3.0 && f->types[SYSI_GPS].c1 < 0 && st.p1_col >= 0) {
    for (auto& t : f->types) t.c1 = st.p1_col;
  }
  return true;
}

// One header line after the version line; records the reader does not use are passed over.
HDR_STEP obs_header_record(OBS_FILE_T* f, OBS_HDR_STATE_T* st) {
  const LINE_READER_T& in = f->in;
  const bool v3 = f->version >= 3.0;
  if (label_is(in, "END OF HEADER")) return obs_end_of_header(f, *st) ? HDR_STEP::END : HDR_STEP::FAIL;
  if (label_is(in, "APPROX POSITION XYZ")) {
    obs_approx_position(f);
    return HDR_STEP::NEXT;
  }
  if (!v3 && label_is(in, "# / TYPES OF OBSERV")) return obs_types_v2(f, st) ? HDR_STEP::NEXT : HDR_STEP::FAIL;
  if (v3 && label_is(in, "SYS / # / OBS TYPES")) return obs_types_v3(f, st) ? HDR_STEP::NEXT : HDR_STEP::FAIL;
  return HDR_STEP::NEXT;
}

bool read_obs_header(OBS_FILE_T* f) {
  LINE_READER_T* in = &f->in;
  for (auto& t : f->types) t = TYPES_T{0, -1, -1, -1, -1};
  OBS_HDR_STATE_T st{false, -1, -1, 0, 0};
  bool have_version = false;
  while (next_line(in)) {
    if (!have_version) {
      if (!obs_version_type(f)) return false;
      have_version = true;
      continue;
    }
    const HDR_STEP step = obs_header_record(f, &st);
    if (step != HDR_STEP::NEXT) return step == HDR_STEP::END;
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

// True for the columns of the observables the engine uses.
bool wanted(const TYPES_T& ty, int col) { return col == ty.c1 || col == ty.l1 || col == ty.d1 || col == ty.s1; }

// A value of column col that is present (not 0) and out of range is counted in
// *drops and read as absent: true when it is to be dropped.
bool out_of_range(const TYPES_T& ty, int col, double value, RINEX_VALUE_DROPS_T* drops) {
  if (value == 0.0) return false;
  const double a = std::fabs(value);
  if (col == ty.c1 && !(a >= RINEX_MIN_PR && a <= RINEX_MAX_PR && value > 0.0)) {
    ++drops->pseudorange;
    return true;
  }
  if (col == ty.l1 && !(a < RINEX_MAX_PHASE)) {
    ++drops->phase;
    return true;
  }
  if (col == ty.d1 && !(a <= RINEX_MAX_DOPPLER)) {
    ++drops->doppler;
    return true;
  }
  if (col == ty.s1 && !(value > 0.0 && value <= RINEX_MAX_SNR)) {
    ++drops->snr;
    return true;
  }
  return false;
}

// One observable of column col into o: pseudorange m, phase cycles (its loss
// of lock flag, bits 0-1 in RINEX 3, bit 0 in RINEX 2), Doppler Hz, C/N0 dB-Hz
// to 0.25 dB-Hz units. A value out of range is dropped (counted in f->drops).
void fill_obs(OBS_FILE_T* f, const TYPES_T& ty, int col, double value, int lli, int ssi, obsd_t* o) {
  if (out_of_range(ty, col, value, &f->drops)) return;
  if (col == ty.c1) o->P[0] = value;
  if (col == ty.l1) {
    o->L[0] = value;
    o->LLI[0] = static_cast<unsigned char>(lli & (f->version >= 3.0 ? 3 : 1));
  }
  if (col == ty.d1) o->D[0] = static_cast<float>(value);
  if (col == ty.s1) {
    const double snr = value * 4.0;
    o->SNR[0] = static_cast<unsigned char>(snr > 255.0 ? 255.0 : snr + 0.5);
  }
  if (col == ty.l1 && ty.s1 < 0 && ssi >= 1 && ssi <= 9) {
    // without a C/N0 type: the signal strength digit, 1..9 standing for 12..54 dB-Hz
    o->SNR[0] = static_cast<unsigned char>(ssi * 6 * 4);
  }
}

// A 16-column observation field at column i: value (14 columns), loss of
// lock digit, signal strength digit (blank = 0). False for garbage.
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

// The field of column col, at text column i of the current line, into o; false for garbage.
bool take_value(OBS_FILE_T* f, const TYPES_T& ty, int col, int i, obsd_t* o) {
  double v;
  int lli, ssi;
  if (!value_field(f->in, i, &v, &lli, &ssi)) return false;
  fill_obs(f, ty, col, v, lli, ssi, o);
  return true;
}

// Appends a satellite's observables to the epoch.
void keep_obs(obsd_t* obs, int* n, obsd_t o, gtime_t time, int sat, int rcv) {
  o.time = time;
  o.sat = static_cast<unsigned char>(sat);
  o.rcv = static_cast<unsigned char>(rcv);
  o.code[0] = CODE_L1C;
  obs[(*n)++] = o;
}

// One satellite line of a RINEX 3 epoch with n observations kept so far: true
// with the satellite in *sat and its observables in *o when it is to be kept.
bool sat_line_v3(OBS_FILE_T* f, int n, obsd_t* o, int* sat) {
  LINE_READER_T& in = f->in;
  char id[4];
  field(in, 0, 3, id, sizeof id);
  *sat = sat_of(id, f->file_sys);
  if (*sat < 0) {
    complain(&in, "malformed satellite identifier, line skipped");
    return false;
  }
  if (*sat == 0) return false;
  const TYPES_T& ty = f->types[sys_index(id[0])];
  if (ty.l1 < 0 && ty.c1 < 0) return false;
  if (n >= MAXOBS) return false;
  bool bad = false;
  for (int c = 0; c < ty.ntype && !bad; ++c)
    if (wanted(ty, c) && !take_value(f, ty, c, 3 + 16 * c, o)) bad = true;
  if (bad) {
    complain(&in, "malformed observation, satellite skipped");
    return false;
  }
  return !(o->P[0] == 0.0 && o->L[0] == 0.0);
}

// RINEX 3 epoch body: one line per satellite. The count kept, -1 at a
// premature end of the file, -2 when the next epoch starts early (epoch dropped).
int read_epoch_body_v3(OBS_FILE_T* f, const EPOCH_HDR_T& e, obsd_t* obs, int rcv) {
  LINE_READER_T& in = f->in;
  int n = 0;
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
    obsd_t o{};
    int sat = 0;
    if (sat_line_v3(f, n, &o, &sat)) keep_obs(obs, &n, o, e.time, sat, rcv);
  }
  return n;
}

// The satellite list of a RINEX 2 epoch: on the epoch line and its continuation lines, 12 a line.
struct SAT_LIST_T {
  int n;  // identifiers read (at most MAXOBS * 4)
  int sats[MAXOBS * 4];
  char ids[MAXOBS * 4][4];
};

// Reads the list of an epoch of e.nsat satellites; false at a premature end of the file.
bool sat_list_v2(OBS_FILE_T* f, const EPOCH_HDR_T& e, SAT_LIST_T* list) {
  LINE_READER_T& in = f->in;
  list->n = e.nsat > MAXOBS * 4 ? MAXOBS * 4 : e.nsat;
  if (list->n < e.nsat) complain(&in, "too many satellites in an epoch");
  for (int k = 0; k < list->n; ++k) {
    if (k > 0 && k % 12 == 0) {
      if (!next_line(&in)) {
        complain(&in, "file ends inside an epoch");
        return false;
      }
    }
    field(in, 32 + 3 * (k % 12), 3, list->ids[k], sizeof list->ids[k]);
    list->sats[k] = sat_of(list->ids[k], f->file_sys);
  }
  return true;
}

// Fields of value line l of a RINEX 2 satellite (5 a line) into o; false when one is garbage.
bool line_values_v2(OBS_FILE_T* f, const TYPES_T& ty, int l, int ntype, obsd_t* o) {
  bool ok = true;
  for (int j = 0; j < 5; ++j) {
    const int c = l * 5 + j;
    if (c >= ntype) break;
    if (wanted(ty, c) && !take_value(f, ty, c, 16 * j, o)) ok = false;
  }
  return ok;
}

// The value lines of satellite k of a RINEX 2 epoch: 1 with its observables
// in *o when it is to be kept, 0 when not (complaints made), -1 at a
// premature end of the file.
int sat_values_v2(OBS_FILE_T* f, const SAT_LIST_T& list, int k, obsd_t* o) {
  LINE_READER_T& in = f->in;
  const bool known = k < list.n;
  const int sat = known ? list.sats[k] : 0;
  const TYPES_T& ty = f->types[known ? sys_index(list.ids[k][0] == ' ' ? f->file_sys : list.ids[k][0]) : SYSI_OTHER];
  const int ntype = f->types[SYSI_GPS].ntype;
  const int lines_per_sat = (ntype + 4) / 5;
  bool bad = false;
  for (int l = 0; l < lines_per_sat; ++l) {
    if (!next_line(&in)) {
      complain(&in, "file ends inside an epoch");
      return -1;
    }
    if (sat > 0 && !line_values_v2(f, ty, l, ntype, o)) bad = true;
  }
  if (sat < 0) {
    complain(&in, "malformed satellite identifier, satellite skipped");
    return 0;
  }
  if (bad) {
    complain(&in, "malformed observation, satellite skipped");
    return 0;
  }
  return sat > 0 && !(o->P[0] == 0.0 && o->L[0] == 0.0) ? 1 : 0;
}

// RINEX 2 epoch body: the satellite list, then the value lines of each
// satellite. The count kept, -1 at a premature end of the file.
int read_epoch_body_v2(OBS_FILE_T* f, const EPOCH_HDR_T& e, obsd_t* obs, int rcv) {
  SAT_LIST_T list;
  if (!sat_list_v2(f, e, &list)) return -1;
  int n = 0;
  for (int k = 0; k < e.nsat; ++k) {
    obsd_t o{};
    const int r = sat_values_v2(f, list, k, &o);
    if (r < 0) return -1;
    if (r == 0 || n >= MAXOBS) continue;
    keep_obs(obs, &n, o, e.time, list.sats[k], rcv);
  }
  return n;
}

// Reads the body of an epoch with usable observations. Returns the count
// (may be 0); -1 at a premature end of the file, -2 for an epoch dropped.
int read_epoch_body(OBS_FILE_T* f, const EPOCH_HDR_T& e, obsd_t* obs, int rcv) {
  if (f->version >= 3.0) return read_epoch_body_v3(f, e, obs, rcv);
  return read_epoch_body_v2(f, e, obs, rcv);
}

// The count header lines of an event record (flags 2..5), passed over: a
// change of observation types is reported, not followed. False when the file ends.
bool skip_event_lines(LINE_READER_T* in, int count) {
  for (int k = 0; k < count; ++k) {
    if (!next_line(in)) {
      complain(in, "file ends inside an event record");
      return false;
    }
    if (label_is(*in, "# / TYPES OF OBSERV") || label_is(*in, "SYS / # / OBS TYPES"))
      complain(in, "observation types changed inside the file: not followed");
  }
  return true;
}

}  // namespace

OBS_FILE_T* obs_file(int rcv) { return &Obs_file[rcv - 1]; }

void obs_reset() {
  for (int r = 0; r < 2; ++r) RINEX_close_obs(r + 1);
  for (auto& f : Obs_file) f = OBS_FILE_T{};
}

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
      if (!skip_event_lines(&in, e.nsat)) break;
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

}  // namespace rinex_internal

using namespace rinex_internal;

int RINEX_attach_obs(int rcv, std::FILE* fp, const char* name) {
  if (!valid_rcv(rcv) || fp == nullptr) return 0;
  OBS_FILE_T* f = obs_file(rcv);
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
    ++stats()->errors;
    return 0;
  }
  if (!RINEX_attach_obs(rcv, fp, path)) {
    std::fclose(fp);
    return 0;
  }
  obs_file(rcv)->owns_fp = 1;
  return 1;
}

void RINEX_close_obs(int rcv) {
  if (!valid_rcv(rcv)) return;
  OBS_FILE_T* f = obs_file(rcv);
  if (f->owns_fp && f->in.fp != nullptr) std::fclose(f->in.fp);
  f->in.fp = nullptr;
  f->owns_fp = 0;
  f->open = 0;
}

int RINEX_read_obs_epoch(int rcv, obsd_t* obs, int* n, gtime_t* time) {
  if (!valid_rcv(rcv)) return 0;
  return read_epoch(obs_file(rcv), obs, n, time, rcv);
}

int RINEX_get_gps_types(int rcv) {
  if (!valid_rcv(rcv) || !obs_file(rcv)->open) return 0;
  const TYPES_T& ty = obs_file(rcv)->types[SYSI_GPS];
  return (ty.c1 >= 0 ? RINEX_GPS_CODE : 0) | (ty.l1 >= 0 ? RINEX_GPS_PHASE : 0);
}

double RINEX_get_version(int rcv) { return valid_rcv(rcv) && obs_file(rcv)->open ? obs_file(rcv)->version : 0.0; }

void RINEX_get_value_drops(int rcv, RINEX_VALUE_DROPS_T* drops) {
  *drops = valid_rcv(rcv) ? obs_file(rcv)->drops : RINEX_VALUE_DROPS_T{};
}

int RINEX_get_header_pos(int rcv, double* xyz) {
  if (!valid_rcv(rcv) || !obs_file(rcv)->has_pos) return 0;
  for (int i = 0; i < 3; ++i) xyz[i] = obs_file(rcv)->pos[i];
  return 1;
}
