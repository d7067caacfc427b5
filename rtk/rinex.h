// RINEX reader of the RTK engine: observation files 2.10/2.11 and 3.0x (GPS,
// GLONASS, QZSS and SBAS L1), navigation files 2.x (GPS, GLONASS) and 3.0x
// (GPS, QZSS, GLONASS, mixed) with their ionosphere parameters.
//
// The reader feeds the engine through the same operations as the CRVRAW
// reader: epochs through RTK_RAW_update_rover_meas / RTK_RAW_update_base_meas,
// the base's header position through RTK_RAW_update_base_pos_xyz, ephemerides
// through RTK_input_eph / RTK_input_geph and RTK_set_glonass_freq_num, and the
// Klobuchar parameters through RTK_input_ion.
//
// Every complaint names the file and the line: "FILE:LINE: what".
#pragma once

#include <cstdio>

#include "rtk/rtk_cmn.h"

enum : int {
  RINEX_ROVER = 1,  // receiver numbers as in obsd_t::rcv
  RINEX_BASE = 2,
};

inline constexpr int RINEX_MAX_LINE = 1100;  // longest line kept (64 types of 16 columns and the satellite)
inline constexpr int RINEX_MAX_TYPES = 64;   // observation types per system
inline constexpr int RINEX_MAX_MSGS = 20;    // complaints printed per file; the rest are only counted

void RINEX_init();

// Observation files. Opening reads the header; 0 (with a message) when the
// file cannot be opened or its header is unusable.
int RINEX_open_obs(int rcv, const char* path);
// The same on an open stream (tests and the fuzz target); the stream stays the caller's.
int RINEX_attach_obs(int rcv, std::FILE* fp, const char* name);
void RINEX_close_obs(int rcv);
// The next epoch of usable observations (flags 0 and 1), receiver time in *time.
// 1 with an epoch, 0 at the end of the file.
int RINEX_read_obs_epoch(int rcv, obsd_t* obs, int* n, gtime_t* time);
// Approximate position of the header; 0 when the header gave none.
int RINEX_get_header_pos(int rcv, double* xyz);

// Navigation file: every record to the navigation store. 1 when the file was
// read (even with skipped records), 0 when it cannot be opened or its header is unusable.
int RINEX_read_nav(const char* path);
int RINEX_read_nav_stream(std::FILE* fp, const char* name);
int RINEX_get_nav_count();  // GPS/QZSS and GLONASS records kept since RINEX_init
// Hands the navigation store, per satellite, the kept record whose reference
// time is nearest to `time` (file mode does this at every rover epoch).
void RINEX_deliver_nav(gtime_t time);

// File mode: the next rover epoch to the raw buffer, preceded by every base
// epoch up to its time (so that base slip flags pass on). 0 at the end of the
// rover file; 1 when the rover epoch is in the buffer. An epoch without a base
// epoch within RINEX_PAIR_MAX_AGE is not handed over and is counted.
inline constexpr double RINEX_PAIR_MAX_AGE = 30.0;  // s
inline constexpr double RINEX_PAIR_TOL = 0.005;     // s; base epochs up to this much after the rover count
// Sources of the two streams in file mode.
struct RINEX_SOURCE_T {
  int rover_is_rinex;  // else CRVRAW from fp_rover
  int base_is_rinex;   // else CRVRAW from fp_base
  std::FILE* fp_rover;
  std::FILE* fp_base;
};
int RINEX_process_file(const RINEX_SOURCE_T* src);

struct RINEX_STATS_T {
  unsigned int errors;          // malformed lines, unknown types, truncated records
  unsigned int rover_epochs;    // rover epochs read
  unsigned int base_epochs;     // base epochs read
  unsigned int unpaired_rover;  // rover epochs skipped: no base epoch in time
  unsigned int unpaired_base;   // base epochs read but never usable for a rover epoch
};
void RINEX_get_stats(RINEX_STATS_T* stats);
