// The host program: run parameters, run modes and the main loops.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>

#include "misc/gnss_types.h"

enum : int {
  HOST_LOGGING = 0,  // real time, target (navigation) or rover (RTK) on a serial port
  HOST_REPLAY = 1,   // from files
};

// KML track colour indices (see host_output).
enum : int {
  KML_BLACK = 0,
  KML_RED = 1,
  KML_YELLOW = 2,
  KML_GREEN = 3,
  KML_BLUE = 4,
  KML_WHITE = 5,
  N_KML_COLORS = 6,
};

inline constexpr std::array<const char*, N_NAV_MODELS> NVMODEL_STRINGS = {"DEFAULT", "PEDESTRIAN", "CAR",
                                                                          "MARINE",  "BALLOON",    "AIRBORNE"};

inline constexpr int HOST_MAX_EXSATS = 10;
inline constexpr int HOST_PATH_LEN = 256;
inline constexpr int HOST_MAX_NAV_FILES = 8;

// Every run parameter of the program, with the default that get_main_param stores.
struct HOST_PARAM_T {
  int mode = HOST_REPLAY;
  int count = 0;        // output epochs after which a navigation run stops; 0 = no limit
  int com_num = -1;     // target / rover port, 1-based; -1 = none
  int com_num2 = -1;    // RTK base port; -1 = none
  int com_num3 = -1;    // RTK solution output port; -1 = none
  int output_nmea = 0;  // 1: NMEA sentences instead of the console table
  int kml_color = KML_RED;
  int kml_start_sec = 0;  // power-on second from which KML points are written
  int sd_replay = 0;
  int sd_convert = 0;
  int dr_out_gps_fixmode = 0;
  int do_kml_output = 1;
  int force_warm = 0;
  int force_cold = 0;
  int out_ansi_color = 0;
  U32 gnss_sel_bits = 1;
  int nav_platform_model = NMODEL_DEFAULT;
  int lsq_only = 0;  // 1: navigation fixes by least squares alone (no Kalman filter)
  int dazar_enabled = 0;
  int rtk_mode = 2;      // 0: navigation modes; other: RTK modes
  int navsys = 21;       // RTK navigation-system bit mask
  int snr_mask = 35;     // dB-Hz
  int geosnr_mask = 40;  // dB-Hz
  int evl_mask = 15;     // degrees
  int is_rinex = 0;
  int is_crvraw = 1;
  int is_rtcm = 0;
  int rtk_reset = 2;
  int rtk_integrity = 1;  // 1: fix validation and integrity checks of the relative filter; 0: the plain filter
  int snr_reentry = 20;   // epochs a rover satellite stays out of RTK after its C/N0 fell below the mask; 0: none
  std::array<int, HOST_MAX_EXSATS> exsats{};
  // Device paths that override the numbered ports (empty: use the number).
  char port_path[HOST_PATH_LEN] = "";
  char base_port_path[HOST_PATH_LEN] = "";
  char out_port_path[HOST_PATH_LEN] = "";
  // Navigation modes: device or pty that receives the NMEA sentences as well (empty: none).
  char nmea_port_path[HOST_PATH_LEN] = "";
  // File RTK inputs.
  char rover_file[HOST_PATH_LEN] = "r.bin";
  char base_file[HOST_PATH_LEN] = "b.bin";
  // File RTK from RINEX: observation files (empty: the CRVRAW file of that
  // side), navigation files (--nav, repeatable) and a base position override.
  char rover_rinex[HOST_PATH_LEN] = "";
  char base_rinex[HOST_PATH_LEN] = "";
  int n_nav = 0;
  char nav_files[HOST_MAX_NAV_FILES][HOST_PATH_LEN] = {};
  int has_base_pos = 0;
  double base_pos[3] = {0.0, 0.0, 0.0};  // ECEF, m
  // File RTK from a recorder file of a real-time run instead of r.bin / b.bin (empty: none).
  char rb_file[HOST_PATH_LEN] = "";
  // Navigation modes: measurement log written per processed epoch (empty: none).
  char meas_csv[HOST_PATH_LEN] = "";
  char fix_csv[HOST_PATH_LEN] = "";
  // KML file name appendix ("-app").
  char kml_append[25] = "";
  // Set by get_main_param when it returns 0: the process exit code.
  int exit_code = 0;
};

// Exit codes of the program.
enum : int {
  HOST_EXIT_OK = 0,            // run completed (file RTK: solution files written), or "help" / "version"
  HOST_EXIT_START = 1,         // run could not start: a port or file could not be opened, an SD-card log
                               // header is short, or file RTK has no input (--is-crvraw 0)
  HOST_EXIT_USAGE = 2,         // unknown or malformed option (usage on stderr)
  HOST_EXIT_INPUT_FAULT = 3,   // file RTK input unusable, faults counted during the run, no rover epoch or
                               // no usable base epoch (stderr); in
                               // real time: the target's port (navigation) or the rover port (RTK) hung
                               // up, "talonhost: <port>: the port hung up" on stderr, then the orderly
                               // close-down
  HOST_EXIT_OUTPUT_FAULT = 4,  // an output file could not be written: a solution file, rb.bin, log_data.dat,
                               // rtc_data.dat or a start-up file could not be created or written (one message
                               // on stderr naming the file and the reason; the run stops)
  HOST_EXIT_INTERRUPTED = 5,   // the run was ended by SIGINT (Ctrl-C), SIGTERM or SIGHUP after an orderly
                               // close-down: what was received is recorded, output files end on a whole line
};

// Store the defaults in *p, then apply the command line (argv[1..argc-1];
// argv stays the caller's and is only read). Returns 1 to run; 0 when the
// program should end at once with p->exit_code: HOST_EXIT_OK after "help" or
// "version" (text on stdout), HOST_EXIT_USAGE after an unknown or malformed
// option (message and usage on stderr). A "tty<type>" word also sets the
// device prefix of numbered ports (sio_set_tty_type).
S16 get_main_param(int argc, char** argv, HOST_PARAM_T* p);

// Usage text listing every option with its default, written to out (the
// caller's stream, left open).
void HOST_print_usage(std::FILE* out);

// The program: everything main() does (parameters, banner, one run mode).
// Returns the process exit code (HOST_EXIT_*).
int host_main(int argc, char** argv);

// SIGINT, SIGTERM and SIGHUP handler of every run (navigation, real-time RTK, file RTK): asks the
// running loop to stop and marks the run interrupted (the run then ends through its close-down
// with HOST_EXIT_INTERRUPTED). sig is unused.
void sigint_handler(int sig);

// HOSTBASE_INIT / HOSTBASE_STOP frame (4 bytes with its checksum) to the
// target on the open port sio (the caller's).
struct SIO_S;
void send_hostbase_init_msg(SIO_S* sio);
void send_hostbase_stop_msg(SIO_S* sio);
// Start-up handshake of real-time navigation: dispatches what the target
// sends on sio for at most 3 s. Returns 1 when the target's RTC report
// arrived and rtc_data.dat was written; 0 on a time-out, a stop request or
// when rtc_data.dat cannot be created or written (an output fault, noted with
// HOST_note_output_fault).
S16 wait_rtc_input(SIO_S* sio);

// One line of Normal_sol.txt / Geotagging_sol.txt, with its line end, into
// line (the caller's buffer of size bytes, NUL-terminated): solved-epoch
// number acc_cnt4, the UTC date and time of sol.time rounded to the
// millisecond, status word, age of differential (s), ratio (capped at 10),
// latitude and longitude (degrees), height (m), ECEF X, Y, Z (m) and the
// baseline length (m). Returns the length written (snprintf's count).
struct sol_t;
int HOST_format_solution_line(long acc_cnt4, const sol_t& sol, double baseline, char* line, std::size_t size);

// Program-wide state that the target proxy fills or uses.
// The RTC report received during the start-up handshake: GPS week wn, second
// of week sec (s) and sub-second subsec (as the target reports it).
void HOST_set_received_rtc(S16 wn, S32 sec, U32 subsec);
S16 HOST_has_received_rtc();  // 1 once an RTC report was received, else 0
// Write the buffered bytes of the link log log_data.dat when open (a failed
// write is an output fault that stops the run).
void HOST_flush_log();

// Link statistics of the last navigation run: good frames dispatched.
long HOST_get_good_frame_count();
