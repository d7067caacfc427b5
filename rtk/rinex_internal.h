// What the files of the RINEX reader share, not part of its interface
// (rtk/rinex.h is): the line reader and its column fields (rinex_line.cpp),
// the observation files (rinex_obs.cpp), the navigation store
// (rinex_nav.cpp), used by the file-mode pairing (rinex_pair.cpp).
#pragma once

#include <cstdio>

#include "rtk/rinex.h"
#include "rtk/rtk_cmn.h"

namespace rinex_internal {

// ---------------------------------------------------------------------------
// Line reader (rinex_line.cpp).

// One text file read line by line; complaints name it and the current line.
struct LINE_READER_T {
  std::FILE* fp;  // the caller's stream, or one the observation file owns
  char name[128];
  long line_no;       // 1-based number of the line in buf
  unsigned int msgs;  // complaints made so far (printed up to RINEX_MAX_MSGS)
  char buf[RINEX_MAX_LINE + 2];
  int len;  // characters in buf, line end removed
};

// The reader's counters (RINEX_get_stats); reset by RINEX_init.
RINEX_STATS_T* stats();

// Counts a complaint and prints "talonhost: FILE:LINE: what" for the first
// RINEX_MAX_MSGS of the file, then one note that the rest are only counted.
void complain(LINE_READER_T* in, const char* what);
// Keeps the name used in complaints ("?" for a null name; cut to 127 characters).
void set_name(LINE_READER_T* in, const char* name);
// The next line without its end in in->buf; 0 at the end of the file. A line
// longer than RINEX_MAX_LINE is cut (and reported); NUL bytes end the line's text.
int next_line(LINE_READER_T* in);
// Columns [i, i+n) of the line (0-based) into out (size bytes, NUL-terminated),
// blanks beyond the end of the line; false when the copy is blank.
bool field(const LINE_READER_T& in, int i, int n, char* out, int size);
// The number in columns [i, i+n) (Fortran 'D' exponents accepted): 1 and *v
// when it parses completely, 0 for a blank field (*v = 0), -1 for garbage (*v = 0).
int num(const LINE_READER_T& in, int i, int n, double* v);
// True when the header label (columns 61 on) starts with `label`.
bool label_is(const LINE_READER_T& in, const char* label);
// The "RINEX VERSION / TYPE" line: true with its version (2.0 up to but not
// including 4.0) in *version; false with a complaint otherwise.
bool version_line(LINE_READER_T* in, double* version);

// An integer field of a record; values beyond +-1e9 become -1e9 / 1e9.
int to_int(double v);
// GPS time of a calendar epoch (two-digit years: 80..99 -> 19xx, 00..79 -> 20xx;
// s in seconds, fractions kept), checked first; false for an impossible date.
bool make_time(double y, double mo, double d, double h, double mi, double s, gtime_t* t);

// ---------------------------------------------------------------------------
// Observation files (rinex_obs.cpp).

enum : int { SYSI_GPS = 0, SYSI_GLO, SYSI_QZS, SYSI_SBS, SYSI_OTHER, N_SYSI };

// Observation types of one system that the engine uses (column of each, -1 absent).
struct TYPES_T {
  int ntype;  // observation types per satellite
  int c1, l1, d1, s1;
};

struct OBS_FILE_T {
  LINE_READER_T in;
  int owns_fp;  // opened by RINEX_open_obs: closed with the file
  int open;     // the header was read
  double version;
  char file_sys;  // 'G', 'R', 'S', 'J', 'M', ...
  TYPES_T types[N_SYSI];
  int has_pos;
  double pos[3];  // APPROX POSITION XYZ, ECEF m
  // one epoch read ahead (base pairing)
  int has_pending;
  obsd_t pending[MAXOBS];
  int n_pending;
  gtime_t pending_time;
  int eof;                    // the last read met the end of the file
  RINEX_VALUE_DROPS_T drops;  // values out of range (RINEX_get_value_drops)
};

// The file of receiver rcv (RINEX_ROVER or RINEX_BASE; checked by the caller).
OBS_FILE_T* obs_file(int rcv);
// Closes and clears both observation files.
void obs_reset();
// The next epoch of usable observations of f into obs (MAXOBS entries, the
// caller's), their count in *n and the receiver time in *time; receiver
// number rcv goes into each observation. 1 with an epoch, 0 at the end of the file.
int read_epoch(OBS_FILE_T* f, obsd_t* obs, int* n, gtime_t* time, int rcv);

// ---------------------------------------------------------------------------
// Navigation store (rinex_nav.cpp).

// Clears the kept records, the record count and what was handed over.
void nav_reset();
// Hands the navigation store, per satellite, the kept record nearest to time t.
void deliver_nav(gtime_t t);

}  // namespace rinex_internal
