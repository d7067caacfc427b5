// Solution files of the file RTK runs (Normal_sol.txt, Geotagging_sol.txt)
// and the run statistics printed on stderr. Private to the host program.
#pragma once

#include <cstdio>

#include "host/host.h"
#include "rtk/rtk.h"
#include "rtk/rtk_cmn.h"

// The two solution files of a run; a file that is not open is null.
struct HOSTSOL_FILES_T {
  std::FILE* normal = nullptr;  // Normal_sol.txt
  std::FILE* geo = nullptr;     // Geotagging_sol.txt
};

// Open the KML files of the run (HOSTOUT_init(1, 1, p.kml_append); they
// receive only their closing lines), choose the ANSI setting, and create both
// solution files in the working directory with their header line. The files
// are the caller's until HOSTSOL_close. Returns 1 when both were created and
// their headers written; 0 after an output fault (noted with
// HOST_note_output_fault): a KML file that could not be created or written
// (no solution file is then created), or a solution file (Geotagging_sol.txt
// is then not created when Normal_sol.txt could not be).
int HOSTSOL_open(const HOST_PARAM_T& p, HOSTSOL_FILES_T* files);
// Close the solution files that are open and set them to null. Returns 1 when
// every close (with its last writes) succeeded; 0 after an output fault (noted).
int HOSTSOL_close(HOSTSOL_FILES_T* files);

// One solved epoch (number acc_cnt4, the engine's current solution sol) into
// the solution files, routed by the rover's epoch type: period value 1
// (geotagging mark) to Geotagging_sol.txt only, 2 to both files, any other
// value to Normal_sol.txt only. Returns 1 when the line was written where it
// goes; 0 after an output fault (noted).
int HOSTSOL_write(long acc_cnt4, const sol_t& sol, const HOSTSOL_FILES_T& files);

// Solved epochs of a run by solution status, and the GPS times of the first
// solution and of the first FIX.
struct HOSTSOL_STATS_T {
  long epochs = 0;
  long fix = 0, flt = 0, single = 0;
  bool has_first = false, has_fix = false;
  gtime_t first{}, first_fix{};
};
void HOSTSOL_count(HOSTSOL_STATS_T* stats, const sol_t& sol);
// Progress line on stderr (starting with a carriage return, no line end):
// read_pct is the share of the input read, percent.
void HOSTSOL_print_progress(const HOSTSOL_STATS_T& stats, double read_pct);
// Summary lines on stderr: status shares, time to first FIX (s) and the wall
// time of the run wall_s (s).
void HOSTSOL_print_summary(const HOSTSOL_STATS_T& stats, double wall_s);
