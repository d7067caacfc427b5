// File RTK: the engine over recorded rover and base streams, solutions into
// Normal_sol.txt and Geotagging_sol.txt. Three inputs drive one epoch loop
// through an epoch source:
//   CRVRAW rover and base files (r.bin / b.bin, or --rover-file / --base-file),
//   RINEX observation files on either side (--rover-rinex / --base-rinex, --nav),
//   a recording of a real-time run (--rb-file).
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <initializer_list>

#include "host/host.h"
#include "host/host_files.h"
#include "host/host_input.h"
#include "host/host_output.h"
#include "host/host_run.h"
#include "host/host_solution.h"
#include "rtk/crv.h"
#include "rtk/rinex.h"
#include "rtk/rtcm3.h"
#include "rtk/rtk.h"
#include "rtk/rtk_raw.h"

namespace {

constexpr double PROGRESS_PERIOD_S = 0.25;   // at most four progress lines a second
constexpr std::size_t RB_READ_CHUNK = 4096;  // bytes per read of a recording
constexpr double BASE_MAX_AGE_S = 30.0;      // a base epoch older than this does not pair (the engine's limit)

// An epoch source: feeds the rover and base readers up to the next point at
// which the engine is to run.
struct RTK_EPOCH_SOURCE_T {
  // 1 when the readers were fed, 0 at the end of the input.
  int (*next)();
  // Share of the input read so far, percent (null: not known, shown as 0).
  double (*read_pct)();
  // 1: progress line and summary on stderr.
  int report;
  // 1: as the real-time loop, the engine's automatic reset tick after every
  // solved epoch (the recording of a real-time run), with this method.
  int reset_tick;
};

// Open inputs of the running file RTK run (one run per process);
// close_inputs closes whatever is open.
struct RTK_FILE_INPUT_T {
  std::FILE* fp_rover = nullptr;                     // CRVRAW rover file
  std::FILE* fp_base = nullptr;                      // CRVRAW base file
  std::FILE* fp_rover_obs = nullptr;                 // RINEX rover observation file
  std::FILE* fp_base_obs = nullptr;                  // RINEX base observation file
  std::FILE* fp_rb = nullptr;                        // recording
  long rover_size = 0;                               // bytes of the CRVRAW rover file
  RINEX_SOURCE_T rinex{};                            // the sides of a RINEX run
  const double* base_pos = nullptr;                  // ECEF base position (m) given on the command line, else null
  std::array<unsigned char, RB_READ_CHUNK> chunk{};  // recording bytes read
  std::size_t chunk_len = 0, chunk_pos = 0;          // bytes in chunk, next byte to hand on
  long rb_size = 0;                                  // bytes of the recording
};
RTK_FILE_INPUT_T Input;

// What the epoch loop of the run saw.
struct RTK_RUN_COUNTS_T {
  long solved = 0;           // epochs solved (lines of the solution files)
  long with_base = 0;        // of them, with a base position and a base epoch within BASE_MAX_AGE_S
  long single = 0;           // of them, SINGLE
  bool interrupted = false;  // the loop ended on a stop request (SIGINT, SIGTERM, SIGHUP)
};
RTK_RUN_COUNTS_T Counts;

void close_inputs() {
  if (Input.fp_rover_obs != nullptr) RINEX_close_obs(RINEX_ROVER);
  if (Input.fp_base_obs != nullptr) RINEX_close_obs(RINEX_BASE);
  for (std::FILE* fp : {Input.fp_rover, Input.fp_base, Input.fp_rover_obs, Input.fp_base_obs, Input.fp_rb})
    if (fp != nullptr) std::fclose(fp);
  Input.fp_rover = Input.fp_base = Input.fp_rover_obs = Input.fp_base_obs = Input.fp_rb = nullptr;
}

// ---------------------------------------------------------------------------
// The epoch loop
// ---------------------------------------------------------------------------
double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// 1 when the engine's last solved epoch had a base: a base position and a
// base epoch at most BASE_MAX_AGE_S from the rover epoch.
bool solved_with_base() {
  double dt = 0.0;
  return RTK_RAW_get_raw_base_valid() != 0 && RTK_RAW_get_time_dif(&dt) != 0 && std::fabs(dt) <= BASE_MAX_AGE_S;
}

// One solved epoch: counted, reported (progress at most every
// PROGRESS_PERIOD_S) and written; then the reset tick when the source asks for
// it. False on an output fault.
bool solved_epoch(const RTK_EPOCH_SOURCE_T& src, HOSTSOL_STATS_T* stats, long* acc_cnt4,
                  std::chrono::steady_clock::time_point* last_progress, bool* progress_shown,
                  const HOSTSOL_FILES_T& files) {
  ++*acc_cnt4;
  if (solved_with_base()) ++Counts.with_base;
  sol_t sol{};
  RTK_get_solution(&sol);
  HOSTSOL_count(stats, sol);
  if (src.report) {
    const auto now = std::chrono::steady_clock::now();
    if (std::chrono::duration<double>(now - *last_progress).count() >= PROGRESS_PERIOD_S) {
      *last_progress = now;
      HOSTSOL_print_progress(*stats, src.read_pct != nullptr ? src.read_pct() : 0.0);
      *progress_shown = true;
    }
  }
  const bool ok = HOSTSOL_write(*acc_cnt4, sol, files) != 0;
  if (src.reset_tick != 0) RTK_reset_engine_tick(src.reset_tick);
  return ok;
}

// Solution files, then the engine after every step of the source; each
// solved epoch counted, reported and written. A stop request (SIGINT, SIGTERM,
// SIGHUP) ends the loop between two steps, so that the files end with the
// last whole epoch. Closes the KML and solution files at the end and prints
// the summary when the source reports (an interrupted run says so after it).
// An output fault (noted, reported by HOST_run_rtk_file) stops the run: no
// further epochs, no summary.
void run_epochs(const HOST_PARAM_T& p, const RTK_EPOCH_SOURCE_T& src) {
  HOSTSOL_FILES_T files;
  bool written = HOSTSOL_open(p, &files) != 0;
  long acc_cnt4 = 0;
  HOSTSOL_STATS_T stats;
  const auto wall0 = std::chrono::steady_clock::now();
  auto last_progress = wall0;
  bool progress_shown = false;  // a progress line (without its line end) is on stderr
  while (written) {
    if (HOST_stop_requested()) {
      Counts.interrupted = true;
      break;
    }
    if (!src.next()) break;
    // The engine runs while it takes rover epochs and more wait (in real-time
    // pairing a rover epoch that waited for its base and the one behind it).
    for (;;) {
      const int queued = RTK_RAW_get_rover_queue();
      if (RTK_loop()) {
        written = solved_epoch(src, &stats, &acc_cnt4, &last_progress, &progress_shown, files);
        if (!written) break;
      }
      const int left = RTK_RAW_get_rover_queue();
      if (left == 0 || left >= queued) break;
    }
  }
  Counts.solved = acc_cnt4;
  Counts.single = stats.single;
  HOSTOUT_close();
  written = written && !HOST_has_output_fault();  // a KML file that could not be completed
  if (written && src.report) {
    HOSTSOL_print_progress(stats, !Counts.interrupted ? 100.0 : src.read_pct != nullptr ? src.read_pct() : 0.0);
    HOSTSOL_print_summary(stats, seconds_since(wall0));
  } else if (progress_shown) {
    std::fputc('\n', stderr);  // ends the progress line before the fault message
  }
  if (Counts.interrupted) std::fprintf(stderr, "talonhost: RTK run interrupted after %ld epochs\n", acc_cnt4);
  HOSTSOL_close(&files);
}

// ---------------------------------------------------------------------------
// What the inputs dropped, and the verdict on them. A run stopped by an
// output fault reports only that fault (HOST_run_rtk_file), so these say
// nothing then.
// ---------------------------------------------------------------------------
// One count of a drop line and what it counts ("checksum", "too short" ...).
struct DROP_PART_T {
  unsigned int n;
  const char* what;
};

// One line "talonhost: <name>: <total> <what> (<n> <part>, <n> <part> ...)" on
// stderr when the parts add up to more than 0; nothing otherwise.
void report_drops(const char* name, const char* what, std::initializer_list<DROP_PART_T> parts) {
  unsigned int total = 0;
  for (const DROP_PART_T& p : parts) total += p.n;
  if (total == 0) return;
  std::fprintf(stderr, "talonhost: %s: %u %s (", name, total, what);
  const char* sep = "";
  for (const DROP_PART_T& p : parts) {
    std::fprintf(stderr, "%s%u %s", sep, p.n, p.what);
    sep = ", ";
  }
  std::fputs(")\n", stderr);
}

// CRVRAW frames and messages of one stream (is_rover 1: rover) that were
// dropped, one line each kind on stderr; `name` names the stream.
void report_crv_drops(const char* name, int is_rover) {
  if (HOST_has_output_fault()) return;
  CRV_FRAMES_T f{};
  CRV_get_frames(is_rover, &f);
  report_drops(name, "CRVRAW frames dropped", {{f.checksum, "checksum"}, {f.length, "length"}});
  if (f.skipped > 0) std::fprintf(stderr, "talonhost: %s: %u bytes outside CRVRAW frames skipped\n", name, f.skipped);
  if (f.incomplete > 0 && !Counts.interrupted)  // an interrupted run stops inside the input
    std::fprintf(stderr, "talonhost: %s: last CRVRAW frame cut short (%u bytes)\n", name, f.incomplete);
  CRV_DROPS_T d{};
  CRV_get_drops(is_rover, &d);
  report_drops(name, "CRVRAW messages dropped",
               {{d.short_msg, "too short"},
                {d.bad_sat, "satellite number"},
                {d.iod_mismatch, "IOD mismatch"},
                {d.bad_value, "value out of range"}});
}

// RTCM 3 frames of the base stream `name` that failed their CRC.
void report_rtcm3_drops(const char* name) {
  if (HOST_has_output_fault()) return;
  std::array<unsigned int, RTCM3_NSTATUS> st{};
  RTCM3_get_base_status(st.data());
  if (st[RTCM3_STATUS_CRC_BAD] > 0)
    std::fprintf(stderr, "talonhost: %s: %u RTCM 3 frames dropped (bad CRC)\n", name, st[RTCM3_STATUS_CRC_BAD]);
  // Observation messages before the first rover epoch are the usual start of a
  // recording and not reported.
  RTCM3_DROPS_T d{};
  RTCM3_get_drops(&d);
  report_drops(name, "RTCM 3 messages dropped",
               {{d.bad_time, "time off"},
                {d.short_msg, "too short"},
                {d.too_many_cells, "too many cells"},
                {d.full_epoch, "epoch full"}});
}

// Observation values of a RINEX file (receiver rcv, named `name`) dropped as out of range.
void report_rinex_value_drops(int rcv, const char* name) {
  if (HOST_has_output_fault()) return;
  RINEX_VALUE_DROPS_T d{};
  RINEX_get_value_drops(rcv, &d);
  report_drops(name, "observation values out of range dropped",
               {{d.pseudorange, "pseudorange"}, {d.phase, "carrier phase"}, {d.doppler, "Doppler"}, {d.snr, "C/N0"}});
}

// Rover epochs that were solved without a base (a RINEX run counts them in its
// input line instead).
void report_unpaired(const char* base_name) {
  if (HOST_has_output_fault()) return;
  const long n = Counts.solved - Counts.with_base;
  if (n > 0 && Counts.with_base > 0)
    std::fprintf(stderr, "talonhost: %s: %ld rover epochs without a base epoch within %.0f s\n", base_name, n,
                 BASE_MAX_AGE_S);
}

// The verdict of a run that was neither interrupted nor stopped by an output
// fault (then HOST_EXIT_OK): HOST_EXIT_INPUT_FAULT when
// the rover gave no epoch (rover_epochs 0) or no solved epoch had a base,
// with a message naming the file; else HOST_EXIT_OK.
int input_verdict(const char* rover_name, const char* base_name, unsigned long rover_epochs) {
  if (Counts.interrupted || HOST_has_output_fault()) return HOST_EXIT_OK;
  if (rover_epochs == 0) {
    std::fprintf(stderr, "talonhost: %s: no rover epoch\n", rover_name);
    return HOST_EXIT_INPUT_FAULT;
  }
  if (Counts.with_base == 0) {
    const char* what = Counts.solved == 0               ? "no solution"
                       : Counts.single == Counts.solved ? "every solution is SINGLE"
                                                        : "no FIX or FLOAT solution";
    std::fprintf(stderr, "talonhost: %s: no usable base epoch; %s\n", base_name, what);
    return HOST_EXIT_INPUT_FAULT;
  }
  return HOST_EXIT_OK;
}

// ---------------------------------------------------------------------------
// CRVRAW rover and base files
// ---------------------------------------------------------------------------
// The base position given on the command line (--base-pos) goes to the raw
// buffers after every step of a source, so that it wins over the stream's own.
void apply_base_pos() {
  if (Input.base_pos != nullptr) RTK_RAW_update_base_pos_xyz(Input.base_pos[0], Input.base_pos[1], Input.base_pos[2]);
}

int crvraw_next() {
  apply_base_pos();  // before the reading too: the reader then waits for no position in the base file
  if (CRV_process_file(Input.fp_rover, Input.fp_base) == 0) return 0;
  apply_base_pos();
  return 1;
}

double crvraw_read_pct() {
  const long pos = std::ftell(Input.fp_rover);
  return Input.rover_size > 0 && pos > 0 ? 100.0 * static_cast<double>(pos) / static_cast<double>(Input.rover_size)
                                         : 0.0;
}

// Bytes of the file fp; the stream is left where it was (0 when unknown).
long file_size(std::FILE* fp) {
  const long at = std::ftell(fp);
  if (at < 0 || std::fseek(fp, 0, SEEK_END) != 0) return 0;
  const long n = std::ftell(fp);
  std::fseek(fp, at, SEEK_SET);
  return n > 0 ? n : 0;
}

int run_crvraw(const HOST_PARAM_T& p) {
  int rc = HOST_EXIT_START;
  if ((Input.fp_rover = HOST_open_input(p.rover_file, "rb")) == nullptr) {
    std::printf("RTK_ERROR : can't open rover CRVRAW\n");
    HOST_report_open_error(p.rover_file);
  } else if ((Input.fp_base = HOST_open_input(p.base_file, "rb")) == nullptr) {
    std::printf("RTK_ERROR : can't open base CRVRAW\n");
    HOST_report_open_error(p.base_file);
  } else {
    Input.rover_size = file_size(Input.fp_rover);
    Input.base_pos = p.has_base_pos ? p.base_pos : nullptr;
    run_epochs(p, RTK_EPOCH_SOURCE_T{crvraw_next, crvraw_read_pct, 1, 0});
    report_crv_drops(p.rover_file, 1);
    report_crv_drops(p.base_file, 0);
    report_unpaired(p.base_file);
    CRV_FRAMES_T rover{};
    CRV_get_frames(1, &rover);
    rc = input_verdict(p.rover_file, p.base_file, rover.epochs);
  }
  close_inputs();
  return rc;
}

// ---------------------------------------------------------------------------
// RINEX observation files (the other side may be CRVRAW)
// ---------------------------------------------------------------------------
int rinex_next() {
  if (!RINEX_process_file(&Input.rinex)) return 0;
  apply_base_pos();
  return 1;
}

// Share of the rover input read (the RINEX or the CRVRAW rover file), percent.
double rinex_read_pct() {
  std::FILE* fp = Input.fp_rover_obs != nullptr ? Input.fp_rover_obs : Input.fp_rover;
  const long pos = fp != nullptr ? std::ftell(fp) : 0;
  return Input.rover_size > 0 && pos > 0 ? 100.0 * static_cast<double>(pos) / static_cast<double>(Input.rover_size)
                                         : 0.0;
}

// Open one side of a RINEX run: the RINEX observation file obs (its header
// read) when given, else the CRVRAW file crv. HOST_EXIT_OK when open,
// HOST_EXIT_START when the file cannot be opened, HOST_EXIT_INPUT_FAULT when
// the RINEX header is unusable (the reader's message on stderr).
int open_rinex_side(int rcv, const char* obs, const char* crv, std::FILE** fp_obs, std::FILE** fp_crv) {
  const char* side = rcv == RINEX_ROVER ? "rover" : "base";
  if (obs[0] == '\0') {
    if ((*fp_crv = HOST_open_input(crv, "rb")) != nullptr) return HOST_EXIT_OK;
    std::fprintf(stderr, "talonhost: %s: cannot open the %s CRVRAW file\n", crv, side);
    return HOST_EXIT_START;
  }
  if ((*fp_obs = HOST_open_input(obs, "r")) == nullptr) {
    std::fprintf(stderr, "talonhost: %s: cannot open the RINEX observation file\n", obs);
    return HOST_EXIT_START;
  }
  if (RINEX_attach_obs(rcv, *fp_obs, obs)) return HOST_EXIT_OK;
  std::fclose(*fp_obs);
  *fp_obs = nullptr;
  return HOST_EXIT_INPUT_FAULT;
}

// Of two exit codes the one that tells more: HOST_EXIT_INPUT_FAULT over
// HOST_EXIT_START over HOST_EXIT_OK.
int worse(int a, int b) { return a > b ? a : b; }

// Open the rover and base, read the navigation files and check that the run
// has what it needs. HOST_EXIT_OK to run, else the exit code (messages on
// stderr).
int open_rinex_inputs(const HOST_PARAM_T& p) {
  const bool rover_rinex = p.rover_rinex[0] != '\0', base_rinex = p.base_rinex[0] != '\0';
  Input.rinex = RINEX_SOURCE_T{rover_rinex ? 1 : 0, base_rinex ? 1 : 0, nullptr, nullptr};
  int rc = open_rinex_side(RINEX_ROVER, p.rover_rinex, p.rover_file, &Input.fp_rover_obs, &Input.fp_rover);
  rc = worse(rc, open_rinex_side(RINEX_BASE, p.base_rinex, p.base_file, &Input.fp_base_obs, &Input.fp_base));
  Input.rinex.fp_rover = Input.fp_rover;
  Input.rinex.fp_base = Input.fp_base;
  for (int i = 0; i < p.n_nav; ++i)
    if (!HOST_check_input(p.nav_files[i]))
      rc = worse(rc, HOST_EXIT_START);
    else if (!RINEX_read_nav(p.nav_files[i]))
      rc = worse(rc, HOST_EXIT_INPUT_FAULT);
  if (rc != HOST_EXIT_OK) return rc;
  for (const int rcv : {RINEX_ROVER, RINEX_BASE}) {
    const char* obs = rcv == RINEX_ROVER ? p.rover_rinex : p.base_rinex;
    if (obs[0] == '\0') continue;
    const int types = RINEX_get_gps_types(rcv);
    const bool v3 = RINEX_get_version(rcv) >= 3.0;
    if ((types & RINEX_GPS_CODE) == 0) {
      std::fprintf(stderr, "talonhost: %s: no usable GPS observation types (%s)\n", obs, v3 ? "C1C/L1C" : "C1/L1");
      rc = HOST_EXIT_INPUT_FAULT;
    } else if ((types & RINEX_GPS_PHASE) == 0) {
      std::fprintf(stderr, "talonhost: %s: no GPS carrier phase type (%s): GPS gives code solutions only\n", obs,
                   v3 ? "L1C" : "L1");
    }
  }
  if (rc != HOST_EXIT_OK) return rc;
  if (rover_rinex && RINEX_get_nav_count() == 0) {
    std::fprintf(stderr, "talonhost: no navigation data: a RINEX rover needs --nav with GPS or GLONASS ephemerides\n");
    return HOST_EXIT_INPUT_FAULT;
  }
  double hdr_pos[3];
  if (base_rinex && !p.has_base_pos && !RINEX_get_header_pos(RINEX_BASE, hdr_pos)) {
    std::fprintf(stderr, "talonhost: %s: no base position in the header; give --base-pos X,Y,Z\n", p.base_rinex);
    return HOST_EXIT_INPUT_FAULT;
  }
  return HOST_EXIT_OK;
}

// File RTK with a RINEX rover and/or base. The output files and lines are
// those of the CRVRAW run; the input statistics follow the summary.
int run_rinex(const HOST_PARAM_T& p) {
  int rc = open_rinex_inputs(p);
  if (rc == HOST_EXIT_OK) {
    Input.base_pos = p.has_base_pos ? p.base_pos : nullptr;
    Input.rover_size = file_size(Input.fp_rover_obs != nullptr ? Input.fp_rover_obs : Input.fp_rover);
    run_epochs(p, RTK_EPOCH_SOURCE_T{rinex_next, rinex_read_pct, 1, 0});
    RINEX_STATS_T rs{};
    RINEX_get_stats(&rs);
    std::fprintf(stderr,
                 "RTK input: %u rover epochs, %u base epochs, skipped unpaired: %u rover, %u base; %u input faults\n",
                 rs.rover_epochs, rs.base_epochs, rs.unpaired_rover, rs.unpaired_base, rs.errors);
    if (p.rover_rinex[0] != '\0')
      report_rinex_value_drops(RINEX_ROVER, p.rover_rinex);
    else
      report_crv_drops(p.rover_file, 1);
    if (p.base_rinex[0] != '\0')
      report_rinex_value_drops(RINEX_BASE, p.base_rinex);
    else
      report_crv_drops(p.base_file, 0);
    rc = input_verdict(p.rover_rinex[0] != '\0' ? p.rover_rinex : p.rover_file,
                       p.base_rinex[0] != '\0' ? p.base_rinex : p.base_file, rs.rover_epochs);
    if (rs.errors > 0) rc = HOST_EXIT_INPUT_FAULT;
  }
  close_inputs();
  return rc;
}

// ---------------------------------------------------------------------------
// Recording of a real-time run (rb.bin)
// ---------------------------------------------------------------------------
// The recorder reader takes one byte at a time and hands each whole record
// to the rover reader, or to the base reader (RTCM 3 or CRVRAW); the engine
// runs after every record, as the real-time loop runs it after every serial
// read.
int recording_next() {
  for (;;) {
    while (Input.chunk_pos < Input.chunk_len)
      if (CRV_post_processing(Input.chunk[Input.chunk_pos++])) {
        apply_base_pos();
        return 1;
      }
    Input.chunk_len = std::fread(Input.chunk.data(), 1, Input.chunk.size(), Input.fp_rb);
    Input.chunk_pos = 0;
    if (Input.chunk_len == 0) return 0;
  }
}

double recording_read_pct() {
  const long pos = std::ftell(Input.fp_rb);
  return Input.rb_size > 0 && pos > 0 ? 100.0 * static_cast<double>(pos) / static_cast<double>(Input.rb_size) : 0.0;
}

// A hint when the recorded base stream holds more frames of the other format
// than of the one it was read as (--is-rtcm wrong).
void report_base_format(const HOST_PARAM_T& p) {
  if (HOST_has_output_fault()) return;
  const unsigned int other = CRV_get_recorder_other_format_frames();
  unsigned int own = 0;
  if (p.is_rtcm) {
    std::array<unsigned int, RTCM3_NSTATUS> st{};
    RTCM3_get_base_status(st.data());
    own = st[RTCM3_STATUS_CRC_GOOD];
  } else {
    CRV_FRAMES_T f{};
    CRV_get_frames(0, &f);
    own = f.good;
  }
  if (other > own)
    std::fprintf(stderr, "talonhost: %s: the base stream looks like %s; try --is-rtcm %d\n", p.rb_file,
                 p.is_rtcm ? "CRVRAW" : "RTCM 3", p.is_rtcm ? 0 : 1);
}

int run_recording(const HOST_PARAM_T& p) {
  int rc = HOST_EXIT_START;
  if ((Input.fp_rb = HOST_open_input(p.rb_file, "rb")) == nullptr) {
    std::fprintf(stderr, "talonhost: %s: cannot open the recording\n", p.rb_file);
  } else {
    Input.rb_size = file_size(Input.fp_rb);
    CRV_set_post_processing_stream_type(p.is_rtcm ? 1 : 0);
    Input.base_pos = p.has_base_pos ? p.base_pos : nullptr;
    // As in the real-time run: base epochs at or before each rover epoch after
    // a bounded wait, and the automatic reset tick of its --rtk-reset method.
    RTK_RAW_set_realtime_pairing(1);
    run_epochs(p, RTK_EPOCH_SOURCE_T{recording_next, recording_read_pct, 1, p.rtk_reset});
    rc = HOST_EXIT_OK;
  }
  close_inputs();
  if (rc == HOST_EXIT_OK) {
    const unsigned int drops = CRV_get_recorder_drops();
    std::fprintf(stderr, "Recording: %u records too long for the reader\n", drops);
    char name[HOST_PATH_LEN + 16];
    std::snprintf(name, sizeof name, "%s (rover)", p.rb_file);
    report_crv_drops(name, 1);
    std::snprintf(name, sizeof name, "%s (base)", p.rb_file);
    if (p.is_rtcm)
      report_rtcm3_drops(name);
    else
      report_crv_drops(name, 0);
    report_base_format(p);
    report_unpaired(name);
    CRV_FRAMES_T rover{};
    CRV_get_frames(1, &rover);
    rc = input_verdict(p.rb_file, name, rover.epochs);
    if (drops > 0) rc = HOST_EXIT_INPUT_FAULT;
  }
  return rc;
}

// The run of the input that the parameters name; its exit code.
int run_input(const HOST_PARAM_T& p) {
  if (p.rb_file[0] != '\0') return run_recording(p);
  if (p.rover_rinex[0] != '\0' || p.base_rinex[0] != '\0') return run_rinex(p);
  if (!p.is_crvraw) return HOST_EXIT_START;  // no input: ends at once
  return run_crvraw(p);
}

}  // namespace

// SIGINT, SIGTERM and SIGHUP stop the epoch loop from the start of the run (a
// signal after the loop has ended leaves the run complete). A solution or KML file that could not be written is
// reported last, in one line, and outranks the input's exit code and an interruption; an interruption outranks the
// input's exit code (what was read is incomplete).
int HOST_run_rtk_file(const HOST_PARAM_T& p) {
  HOST_clear_output_fault();
  if (!HOST_install_stop_handlers())
    std::fprintf(stderr, "talonhost: cannot install the SIGINT, SIGTERM and SIGHUP handlers\n");
  Counts = RTK_RUN_COUNTS_T{};
  const int rc = run_input(p);
  if (HOST_report_output_fault()) return HOST_EXIT_OUTPUT_FAULT;
  return Counts.interrupted ? HOST_EXIT_INTERRUPTED : rc;
}
