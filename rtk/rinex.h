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
// All storage is the reader's own and fixed in size (one observation file per
// receiver, 4096 GPS/QZSS and 4096 GLONASS navigation records); nothing is
// allocated. Times are gtime_t in the GPS time scale.
//
// Every complaint goes to stderr and names the file and the line:
// "talonhost: FILE:LINE: what" (at most RINEX_MAX_MSGS per file, the rest only
// counted in RINEX_STATS_T::errors). Malformed lines, records and satellites
// are skipped; the reader goes on with the next one.
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

// Back to the start: closes both observation files (streams opened by
// RINEX_open_obs are closed, attached streams are let go), forgets the kept
// navigation records and what was handed to the store, and clears the
// pairing state and the counters. The engine's own store is not touched
// (RTK_init calls this).
void RINEX_init();

// Observation files, one per receiver rcv (RINEX_ROVER or RINEX_BASE).
//
// Opens `path` and reads its header. 1 when the header is usable (version 2
// or 3, observation file, observation types present); 0 for a bad rcv or a
// null path (nothing done), or with a message when the file cannot be opened
// (counted as an error) or its header is unusable (the file is closed again).
// A file open for rcv is closed once the new one could be opened. The reader
// owns the stream and closes it in RINEX_close_obs, RINEX_init or the next
// open or attach for rcv.
int RINEX_open_obs(int rcv, const char* path);
// The same on an open stream (tests and the fuzz target), read from its
// current position. The stream stays the caller's: the reader never closes
// it, and it must stay open until RINEX_close_obs(rcv). `name` (copied, cut
// to 127 characters; null gives "?") names the file in complaints. 0 without
// anything done for a bad rcv or a null stream.
int RINEX_attach_obs(int rcv, std::FILE* fp, const char* name);
// Ends reading of rcv's file (closing the stream when the reader opened it).
// Nothing for a bad rcv or a file not open.
void RINEX_close_obs(int rcv);
// The next epoch of usable observations (epoch flags 0 and 1; events, flags
// 2..5, and cycle slip records, flag 6, are passed over). obs is the caller's
// array of MAXOBS entries; *n gets the count 0..MAXOBS (satellites beyond
// MAXOBS are dropped) and *time the receiver time of the epoch. Each record
// carries the L1 C/A observables only: P[0] pseudorange m (RINEX 2: P1 when the
// file has no C1), L[0] carrier phase cycles, D[0] Doppler Hz, SNR[0] C/N0 in
// 0.25 dB-Hz (from the signal strength digit when the file has no S1), LLI[0]
// the loss of lock flag, code[0] CODE_L1C, rcv and the satellite index;
// satellites with neither pseudorange nor phase, of systems without an index
// (Galileo, BeiDou, NavIC) or of systems without L1 types are left out.
// 1 with an epoch; 0 at the end of the file, for a bad rcv or a file not open
// (*n and *time untouched).
int RINEX_read_obs_epoch(int rcv, obsd_t* obs, int* n, gtime_t* time);
// Approximate position of the header (APPROX POSITION XYZ, ECEF m) into the
// caller's xyz[3]; 0 (xyz untouched) for a bad rcv or when the header gave
// none or one implausibly near to or far from the centre of the earth.
int RINEX_get_header_pos(int rcv, double* xyz);
// GPS observation types of rcv's header that the engine uses: RINEX_GPS_CODE
// when a pseudorange type is there (RINEX 3 C1C; RINEX 2 C1, or P1 without
// C1), RINEX_GPS_PHASE when the carrier phase type is (L1C / L1), OR-ed; 0 for
// a bad rcv or a file not open.
enum : int { RINEX_GPS_CODE = 1, RINEX_GPS_PHASE = 2 };
int RINEX_get_gps_types(int rcv);
// Version of rcv's header (2.0 up to 4.0, e.g. 3.04); 0 for a bad rcv or a file not open.
double RINEX_get_version(int rcv);

// Observation values dropped for being out of range (the value is read as
// absent, the rest of the satellite's observables kept): a pseudorange outside
// RINEX_MIN_PR..RINEX_MAX_PR, a carrier phase of RINEX_MAX_PHASE cycles or
// more, a Doppler beyond RINEX_MAX_DOPPLER, a C/N0 below 0 or above
// RINEX_MAX_SNR. Counted per file, not as errors.
inline constexpr double RINEX_MIN_PR = 1.0e7;       // m; GNSS pseudoranges lie near 2e7..4e7 m
inline constexpr double RINEX_MAX_PR = 6.0e7;       // m
inline constexpr double RINEX_MAX_PHASE = 1.0e10;   // cycles, the range of the F14.3 field
inline constexpr double RINEX_MAX_DOPPLER = 1.0e5;  // Hz
inline constexpr double RINEX_MAX_SNR = 100.0;      // dB-Hz
struct RINEX_VALUE_DROPS_T {
  unsigned int pseudorange, phase, doppler, snr;
};
// The counts of rcv's file since it was opened or attached into the caller's
// *drops (zero for a bad rcv).
void RINEX_get_value_drops(int rcv, RINEX_VALUE_DROPS_T* drops);

// Navigation file: every GPS, QZSS and GLONASS record is kept by the reader
// (GPS and QZSS ones with a plausible sqrt(A), week and toe; a record equal
// to a kept one in satellite, issue of data and toe only once); the store
// receives them through RINEX_deliver_nav. The header's Klobuchar parameters
// (when both alpha and beta are given) go to RTK_input_ion at once, its leap
// seconds to RTKCMN_set_leap_second. 1 when the file was read (even with
// skipped records); 0 with a message when it cannot be opened (counted as an
// error) or its header is unusable. Records beyond the tables are dropped and
// counted; RINEX_read_nav reports the count after its file (covering streams
// read before it).
int RINEX_read_nav(const char* path);
// The same on an open stream, read to its end; the stream stays the caller's
// (not closed). `name` (copied) names it in complaints. 0 for a null stream.
int RINEX_read_nav_stream(std::FILE* fp, const char* name);
// GPS/QZSS and GLONASS records kept since RINEX_init.
int RINEX_get_nav_count();
// Hands the navigation store, per satellite, the kept record whose reference
// time (toe) is nearest to `time` (file mode does this at every rover epoch);
// a satellite's record goes over only when it differs from the one handed
// over last, a GLONASS record with its frequency number.
void RINEX_deliver_nav(gtime_t time);

// File mode: the next rover epoch to the raw buffer, preceded by every base
// epoch up to its time and the first one after it (so that base slip flags
// pass on and the engine can pair it with the nearest base epoch) and by the
// kept navigation records nearest to it. 0 at the end of the rover file; 1 when
// the rover epoch is in the buffer. A RINEX rover epoch whose nearest base epoch
// is not within RINEX_PAIR_MAX_AGE is not handed over (the next one is read) and is
// counted; a CRVRAW rover epoch is handed over by the CRVRAW reader and only
// counted. The base's header position goes to the raw buffer once, before
// its first epoch. The RINEX files are the ones opened or attached for
// RINEX_ROVER and RINEX_BASE.
inline constexpr double RINEX_PAIR_MAX_AGE = 30.0;  // s
inline constexpr double RINEX_PAIR_TOL = 0.005;     // s; base epochs up to this much after the rover count
// Sources of the two streams in file mode.
struct RINEX_SOURCE_T {
  int rover_is_rinex;   // else CRVRAW from fp_rover
  int base_is_rinex;    // else CRVRAW from fp_base
  std::FILE* fp_rover;  // the caller's stream (CRVRAW only; unused for RINEX)
  std::FILE* fp_base;   // the caller's stream (CRVRAW only; unused for RINEX)
};
// src is the caller's and is only read.
int RINEX_process_file(const RINEX_SOURCE_T* src);

struct RINEX_STATS_T {
  unsigned int errors;          // malformed lines, unknown types, truncated records, files not opened
  unsigned int rover_epochs;    // rover epochs read
  unsigned int base_epochs;     // base epochs read
  unsigned int unpaired_rover;  // rover epochs skipped: no base epoch in time
  unsigned int unpaired_base;   // base epochs read but never usable for a rover epoch
};
// The counters since RINEX_init into the caller's *stats (the base epoch read
// ahead and not yet due is not counted as unpaired).
void RINEX_get_stats(RINEX_STATS_T* stats);
