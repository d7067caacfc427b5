// Solution files of the file RTK runs and their statistics.
#include "host/host_solution.h"

#include <cerrno>
#include <cmath>

#include "host/host_files.h"
#include "host/host_output.h"

namespace {

const char* status_word(unsigned char stat) {
  switch (stat) {
    case SOLQ_FIX:
      return "FIX";
    case SOLQ_FLOAT:
      return "FLOAT";
    case SOLQ_SINGLE:
      return "SINGLE";
    default:
      return "NONE";
  }
}

constexpr const char* NORMAL_NAME = "Normal_sol.txt";
constexpr const char* GEO_NAME = "Geotagging_sol.txt";

// Create the solution file `name` with its header line; null after an output
// fault (noted; a file created with a failed header is closed).
std::FILE* create_solution_file(const char* name) {
  std::FILE* fp = std::fopen(name, "w");
  if (fp == nullptr) {
    HOST_note_output_fault(name, "create", errno);
    return nullptr;
  }
  if (std::fprintf(fp, "%15s%15s%15s%15s%15s%15s%15s%15s%15s%15s%15s%15s%15s\n", "EPOCH", "DATE", "UTC", "STATUS",
                   "AGE_OF_DIFF", "RATIO", "LAT", "LON", "ALT", "X", "Y", "Z", "BASELINE") < 0) {
    HOST_note_output_fault(name, "write", errno);
    std::fclose(fp);
    return nullptr;
  }
  return fp;
}

// Write n bytes of line to fp (the file `name`); false after an output fault (noted).
bool write_line(std::FILE* fp, const char* name, const char* line, std::size_t n) {
  if (std::fwrite(line, 1, n, fp) == n) return true;
  HOST_note_output_fault(name, "write", errno);
  return false;
}

// Close fp (the file `name`) when open and set it to null; false after an output fault (noted).
bool close_solution_file(std::FILE** fp, const char* name) {
  if (*fp == nullptr) return true;
  const bool ok = std::fclose(*fp) == 0;
  if (!ok) HOST_note_output_fault(name, "write", errno);
  *fp = nullptr;
  return ok;
}

double pct(long n, long d) { return d > 0 ? 100.0 * static_cast<double>(n) / static_cast<double>(d) : 0.0; }

}  // namespace

// The UTC time is rounded to the millisecond before it is split into
// calendar fields, so that a second that would print as "60.000" carries
// into the minute.
int HOST_format_solution_line(long acc_cnt4, const sol_t& sol, double baseline, char* line, std::size_t size) {
  gtime_t utc = gpst2utc(sol.time);
  const double ms = std::floor(utc.sec * 1000.0 + 0.5);
  utc.sec = ms / 1000.0;
  if (utc.sec >= 1.0) {
    utc.time += 1.0;
    utc.sec -= 1.0;
  }
  double ep[6];
  time2epoch(utc, ep);
  double pos[3];
  ecef2pos(sol.rr, pos);
  const double ratio = sol.ratio > 10.0f ? 10.0 : static_cast<double>(sol.ratio);
  // The age is a difference of epoch times; a rounding residue below the
  // printed resolution would otherwise show as "-0.00".
  const double age = std::fabs(static_cast<double>(sol.age)) < 0.005 ? 0.0 : static_cast<double>(sol.age);
  const int n = std::snprintf(
      line, size,
      "%15ld%9d/%02d/%02d%3s%02d:%02d:%06.3lf%15s%15.2f%15.2f%15.8lf%15.8lf%15.3lf%15.3lf%15.3lf%15.3lf%15.3lf\n",
      acc_cnt4, static_cast<int>(static_cast<U16>(ep[0])), static_cast<int>(static_cast<U08>(ep[1])),
      static_cast<int>(static_cast<U08>(ep[2])), "", static_cast<int>(static_cast<U08>(ep[3])),
      static_cast<int>(static_cast<U08>(ep[4])), ep[5], status_word(sol.stat), age, ratio, pos[0] * 57.2957795131,
      pos[1] * 57.2957795131, pos[2], sol.rr[0], sol.rr[1], sol.rr[2], baseline);
  return n < 0 ? 0 : n;
}

int HOSTSOL_open(const HOST_PARAM_T& p, HOSTSOL_FILES_T* files) {
  HOSTOUT_init(1, 1, p.kml_append);
  if (p.out_ansi_color)
    HOSTOUT_set_ansi();
  else
    HOSTOUT_set_no_ansi();
  if (HOST_has_output_fault()) return 0;  // a KML file could not be created
  files->normal = create_solution_file(NORMAL_NAME);
  if (files->normal == nullptr) return 0;
  files->geo = create_solution_file(GEO_NAME);
  return files->geo != nullptr ? 1 : 0;
}

int HOSTSOL_close(HOSTSOL_FILES_T* files) {
  const bool normal_ok = close_solution_file(&files->normal, NORMAL_NAME);
  const bool geo_ok = close_solution_file(&files->geo, GEO_NAME);
  return normal_ok && geo_ok ? 1 : 0;
}

int HOSTSOL_write(long acc_cnt4, const sol_t& sol, const HOSTSOL_FILES_T& files) {
  U16 raw_wn = 0, raw_period_in_ms = 0;
  U32 raw_tow_in_ms = 0;
  RTK_get_rover_meas_time_info(&raw_wn, &raw_tow_in_ms, &raw_period_in_ms);
  char line[512];
  const int n = HOST_format_solution_line(acc_cnt4, sol, RTK_get_baseline(), line, sizeof line);
  const auto len = static_cast<std::size_t>(n);
  if (raw_period_in_ms != 1 && files.normal != nullptr && !write_line(files.normal, NORMAL_NAME, line, len)) return 0;
  if ((raw_period_in_ms == 1 || raw_period_in_ms == 2) && files.geo != nullptr &&
      !write_line(files.geo, GEO_NAME, line, len))
    return 0;
  return 1;
}

void HOSTSOL_count(HOSTSOL_STATS_T* stats, const sol_t& sol) {
  ++stats->epochs;
  if (sol.stat == SOLQ_FIX)
    ++stats->fix;
  else if (sol.stat == SOLQ_FLOAT)
    ++stats->flt;
  else if (sol.stat == SOLQ_SINGLE)
    ++stats->single;
  if (!stats->has_first) {
    stats->has_first = true;
    stats->first = sol.time;
  }
  if (sol.stat == SOLQ_FIX && !stats->has_fix) {
    stats->has_fix = true;
    stats->first_fix = sol.time;
  }
}

void HOSTSOL_print_progress(const HOSTSOL_STATS_T& stats, double read_pct) {
  std::fprintf(stderr, "\rRTK %5.1f%% read, %ld epochs, FIX %5.1f%%, FLOAT %5.1f%%, SINGLE %5.1f%%", read_pct,
               stats.epochs, pct(stats.fix, stats.epochs), pct(stats.flt, stats.epochs),
               pct(stats.single, stats.epochs));
}

void HOSTSOL_print_summary(const HOSTSOL_STATS_T& stats, double wall_s) {
  std::fprintf(stderr, "\nRTK summary: %ld epochs, FIX %.1f%%, FLOAT %.1f%%, SINGLE %.1f%%, NONE %.1f%%\n",
               stats.epochs, pct(stats.fix, stats.epochs), pct(stats.flt, stats.epochs),
               pct(stats.single, stats.epochs), pct(stats.epochs - stats.fix - stats.flt - stats.single, stats.epochs));
  if (stats.has_fix)
    std::fprintf(stderr, "RTK time to first FIX: %.1f s\n", timediff(stats.first_fix, stats.first));
  else
    std::fprintf(stderr, "RTK time to first FIX: no FIX\n");
  std::fprintf(stderr, "RTK wall time: %.3f s\n", wall_s);
}
