// Navigation modes of the host program: real time with a target on a serial
// port, replay of log_data.dat, and replay of an SD-card log (sd_log.dat).
// A run is cut into its start (ports, files, handshake, kernel start), its
// loop (link bytes -> dispatcher -> kernel -> outputs) and its end sequence.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "host/host.h"
#include "host/host_callbacks.h"
#include "host/host_files.h"
#include "host/host_fix_csv.h"
#include "host/host_meas_csv.h"
#include "host/host_output.h"
#include "host/host_run.h"
#include "host/host_start_record.h"
#include "host/pc_sio.h"
#include "host/wrap.h"
#include "kernel/src/almanac.h"
#include "kernel/src/kernel.h"
#include "kernel/src/navigate.h"
#include "misc/dispatch.h"
#include "misc/endian_swap.h"
#include "misc/host_msg.h"
#include "misc/pack.h"
#include "timing/timing.h"

namespace {

// ---------------------------------------------------------------------------
// Module state
// ---------------------------------------------------------------------------
S32 Power_on_count = 1;         // output epochs so far plus one
HOST_REC_T Link_log;            // log_data.dat while logging (closed otherwise)
bool Port_hung_up = false;      // the target's port hung up: the run lost its input
S16 Host_has_received_rtc = 0;  // the target's RTC report arrived
S16 Host_rtc_wn = 0;            // its GPS week
S32 Host_rtc_sec = 0;           // its second of week, s
U32 Host_rtc_subsec = 0;        // its sub-second
long Good_frame_count = 0;      // frames dispatched to a callback

constexpr int HOST_RX_CHUNK = 128;  // bytes per serial read while waiting for the RTC report
// Bytes per read of the main loop, logging or replaying: fewer than any
// measurement set, so that each kernel pass sees at most one new set. A
// larger live read that caught two sets (a host behind its target) let the
// second overwrite the first, and the logging run then lost an epoch that
// the replay of its log processes.
constexpr int HOST_LOOP_CHUNK = 8;
constexpr U32 FINISH_PROBE_MASK = 0x3FFF;   // probe finish.txt every 16384 passes
constexpr int HANDSHAKE_TIMEOUT_MS = 3000;  // time the target has to answer HOSTBASE_INIT
constexpr int STOP_DRAIN_TIMEOUT_MS = 2000;
constexpr int NAV_WAIT_MS = 100;      // longest sleep while the link is quiet, ms
constexpr int FINISH_PROBE_MS = 500;  // while logging, finish.txt is also probed this often, ms

constexpr const char* LINK_LOG_NAME = "log_data.dat";

// A failed write of the output file `name`: noted as the run's output fault
// (with errno), and the run is asked to stop.
void output_fault_stop(const char* name) {
  HOST_note_output_fault(name, "write", errno);
  HOST_request_stop();
}

// The target's port hung up: said once on stderr; the run is asked to stop.
void nav_port_lost(SIO_T sio) {
  if (Port_hung_up) return;
  Port_hung_up = true;
  std::fflush(stdout);
  std::fprintf(stderr, "talonhost: %s: the port hung up\n", sio_name(sio));
  HOST_request_stop();
}

// Send one packed frame (size bytes without its checksum) whole.
void send_frame(SIO_T sio, U08* buf, int size) {
  const int n = append_checksum(buf, size);
  sio_tx(sio, reinterpret_cast<const char*>(buf), n);
}

}  // namespace

void HOST_set_received_rtc(S16 wn, S32 sec, U32 subsec) {
  Host_rtc_wn = wn;
  Host_rtc_sec = sec;
  Host_rtc_subsec = subsec;
  Host_has_received_rtc = 1;
}
S16 HOST_has_received_rtc() { return Host_has_received_rtc; }
void HOST_flush_log() {
  if (!HOST_rec_flush(&Link_log)) HOST_request_stop();
}
long HOST_get_good_frame_count() { return Good_frame_count; }

void send_hostbase_init_msg(SIO_T sio) {
  U08 buf[MSG_LEN_HOSTBASE_INIT + 1];
  send_frame(sio, buf, pack_msg_hostbase_init(buf));
}
void send_hostbase_stop_msg(SIO_T sio) {
  U08 buf[MSG_LEN_HOSTBASE_STOP + 1];
  send_frame(sio, buf, pack_msg_hostbase_stop(buf));
}

// Start-up handshake of logging mode: dispatch what the target sends until
// its RTC report arrives, for at most HANDSHAKE_TIMEOUT_MS. The bytes are
// dispatched but not logged. Between reads the wait sleeps in sio_wait.
S16 wait_rtc_input(SIO_T sio) {
  char buf[HOST_RX_CHUNK];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(HANDSHAKE_TIMEOUT_MS);
  unsigned long polls = 0;
  for (;;) {
    ++polls;
    const int len = sio_rx(sio, buf, HOST_RX_CHUNK);
    if (len > 0) DP_dispatch_msg(reinterpret_cast<const U08*>(buf), len);
    if (Host_has_received_rtc) {
      std::printf("wait rtc count = %lu\n", polls);
      return write_rtc_data_file(Host_rtc_wn, Host_rtc_sec, Host_rtc_subsec);
    }
    if (len <= 0 && sio_hung_up(sio)) {
      nav_port_lost(sio);
      return 0;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline || HOST_stop_requested()) break;
    if (len <= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
      sio_wait(&sio, 1, static_cast<int>(std::min<long long>(left + 1, NAV_WAIT_MS)));
    }
  }
  std::printf("wait target timeout!!\n");
  return 0;
}

namespace {

// Ports and files of one navigation run; nav_close_files closes what is open.
struct NAV_RUN_T {
  bool logging = false;            // real time with a target, else replay
  SIO_T sio = nullptr;             // the target's port while logging
  SIO_T nmea = nullptr;            // the NMEA port (--nmea-port), null without
  std::FILE* fp_replay = nullptr;  // log_data.dat or sd_log.dat being replayed
  std::FILE* fp_cnv = nullptr;     // converted log_data.dat in SD-card conversion
  bool start_log_success = false;  // logging started: the start-up files are saved at the end
};

// How the start of a run went.
enum class NavStart {
  RUN,    // start-up done: run the loop, then the end sequence
  END,    // start-up handshake or link log failed: end sequence only
  ABORT,  // port or replay file missing, or SD-card header short: no end sequence
};

KERNEL_INIT_T build_kernel_init(const HOST_PARAM_T& p) {
  KERNEL_INIT_T k{};
  if (const KERNEL_INIT_T* sd = HOST_get_sd_kernel_init_data(); sd != nullptr) {
    k = *sd;
  } else {
    k = HOST_builtin_kernel_init(4);
    k.dazar_mode = static_cast<S16>(p.dazar_enabled);
    k.gnss_select_bits = static_cast<U16>(p.gnss_sel_bits);
    k.nav_platform_model = static_cast<S16>(p.nav_platform_model);
  }
  k.backup_mem_p = HOST_get_backup_region();
  k.nvram_alm_mem_p = HOST_get_alm_nvram_block();
  k.nvram_alm_const_mem_p = nullptr;
  if (p.gnss_sel_bits != 1) k.gnss_select_bits = static_cast<U16>(p.gnss_sel_bits);
  if (p.force_warm) k.force_warm = 1;
  if (p.force_cold) k.force_cold = 1;
  return k;
}

// Replay: open the log to replay and load its start-up data.
NavStart nav_open_replay(const HOST_PARAM_T& p, NAV_RUN_T* r) {
  if (p.sd_replay) {
    r->fp_replay = std::fopen("sd_log.dat", "rb");
    if (r->fp_replay == nullptr) return NavStart::ABORT;
    if (!init_sd_replay_data(r->fp_replay, p.sd_convert)) return NavStart::ABORT;
    ENDIAN_set_swap_flag(1);
  } else {
    r->fp_replay = std::fopen("log_data.dat", "rb");
    if (r->fp_replay == nullptr) return NavStart::ABORT;
    load_replay_init_file();
    ENDIAN_set_swap_flag(0);
  }
  return NavStart::RUN;
}

// Logging: HOSTBASE_INIT, the RTC handshake, then the link log and the
// start-up files (the port is open, so a run that cannot start does not
// touch them). A file that cannot be written ends the run (output fault).
NavStart nav_open_link(NAV_RUN_T* r) {
  send_hostbase_init_msg(r->sio);
  if (!wait_rtc_input(r->sio)) return NavStart::END;
  if (!HOST_rec_open(&Link_log, LINK_LOG_NAME, 0)) return NavStart::END;
  const S16 init_copied = load_logging_init_file();
  if (!init_nvram_block_file_in_log_mode() || !init_copied) return NavStart::END;
  r->start_log_success = true;
  return NavStart::RUN;
}

// Start of a run: the port (logging), the target proxy and message
// callbacks, then the replay input or the link handshake.
NavStart nav_start(const HOST_PARAM_T& p, NAV_RUN_T* r) {
  r->logging = p.mode == HOST_LOGGING;
  if (p.nmea_port_path[0] != '\0') {
    errno = 0;
    r->nmea = sio_open_path(p.nmea_port_path, SERIAL_BAUD_115200);
    if (r->nmea == nullptr) {
      std::fflush(stdout);
      std::fprintf(stderr, "talonhost: %s: cannot open the NMEA port: %s\n", p.nmea_port_path,
                   errno != 0 ? std::strerror(errno) : "not a terminal");
      return NavStart::ABORT;
    }
    HOSTOUT_set_nmea_port(r->nmea);
  }
  if (r->logging) {
    r->sio = p.port_path[0] != '\0' ? sio_open_path(p.port_path, SERIAL_BAUD_115200)
                                    : sio_open(p.com_num - 1, SERIAL_BAUD_115200);
    if (r->sio == nullptr) {
      std::printf("Open serial port failed!\n");
      return NavStart::ABORT;
    }
    std::printf("Start in real time mode....\n");
  } else {
    std::printf(p.sd_replay ? "Start in SD Card replay mode....\n" : "Start in replay mode....\n");
  }
  WRAP_init(r->logging ? 1 : 0, r->sio);
  msg_init();
  return r->logging ? nav_open_link(r) : nav_open_replay(p, r);
}

// Outputs and kernel of a started run: KML files and ANSI choice, the kernel
// start, the 1PPS settings and the SD-card conversion files.
void nav_prepare(const HOST_PARAM_T& p, NAV_RUN_T* r) {
  int write_output_kml = 1;
  int write_fixmode_kml = r->logging ? 0 : 1;
  if (!p.do_kml_output) write_output_kml = write_fixmode_kml = 0;
  HOSTOUT_init(write_output_kml, write_fixmode_kml, p.kml_append);
  if (p.out_ansi_color)
    HOSTOUT_set_ansi();
  else
    HOSTOUT_set_no_ansi();
  if (p.dr_out_gps_fixmode) HOSTOUT_set_DR_output_GNSS_fixmode_kml();

  const KERNEL_INIT_T kernel_init = build_kernel_init(p);
  KERNEL_init(&kernel_init);
  NV_set_least_square_only(static_cast<S16>(p.lsq_only));
  // The measurement log follows the kernel's epochs from the first one on.
  if (p.meas_csv[0] != '\0' && !HOSTMEAS_open(p.meas_csv)) HOST_request_stop();
  if (p.fix_csv[0] != '\0' && !HOSTFIX_open(p.fix_csv)) HOST_request_stop();
  TIMING_set_pps_cable_delay(0);
  TIMING_set_pps_width(800);

  if (!r->logging && p.sd_replay && p.sd_convert) {
    if (!write_sd_convert_init_files()) HOST_request_stop();
    r->fp_cnv = std::fopen(LINK_LOG_NAME, "wb");
    if (r->fp_cnv == nullptr) {
      HOST_note_output_fault(LINK_LOG_NAME, "create", errno);
      HOST_request_stop();
    }
  }
}

// The next link bytes into buf: up to 8 bytes of the replay file (none: the
// run stops; copied to the conversion file when open), or what the port has
// (appended to the link log). Returns their count, 0 or less when none. A
// failed write of the log stops the run (output fault).
int nav_read(const NAV_RUN_T& r, char* buf) {
  if (!r.logging) {
    const int len = static_cast<int>(std::fread(buf, 1, HOST_LOOP_CHUNK, r.fp_replay));
    if (len == 0) HOST_request_stop();
    if (r.fp_cnv != nullptr && len > 0 &&
        std::fwrite(buf, 1, static_cast<std::size_t>(len), r.fp_cnv) != static_cast<std::size_t>(len))
      output_fault_stop(LINK_LOG_NAME);
    return len;
  }
  const int len = sio_rx(r.sio, buf, HOST_LOOP_CHUNK);
  if (len > 0 && !HOST_rec_put(&Link_log, buf, len)) HOST_request_stop();
  if (len <= 0 && sio_hung_up(r.sio)) nav_port_lost(r.sio);
  return len;
}

// Outputs of one measurement epoch, or the stop at the epoch limit.
void nav_epoch(const HOST_PARAM_T& p) {
  if (p.count != 0 && Power_on_count > p.count) {
    HOST_request_stop();
  } else {
    if (p.do_kml_output) {
      HOSTOUT_output_kml(p.kml_color);
      HOSTOUT_output_kml_fixmode();
    }
    if (p.output_nmea) {
      HOSTOUT_print_nmea_message();  // stdout and the NMEA port
    } else {
      HOSTOUT_print_detail_data();
      HOSTOUT_send_nmea_to_port();
    }
    HOSTFIX_write_epoch();
  }
  ++Power_on_count;
}

// 1 when a file finish.txt can be opened in the working directory.
bool finish_file_present() {
  std::FILE* f = std::fopen("finish.txt", "r");
  if (f == nullptr) return false;
  std::fclose(f);
  return true;
}

// Real-time housekeeping of one pass: the link log written when its oldest
// byte is due, finish.txt probed every FINISH_PROBE_MS, and, when the pass
// found nothing to do, a sleep until the link has input or hangs up, the
// kernel's queued commands can leave, a signal or NAV_WAIT_MS.
void nav_realtime_pass(const NAV_RUN_T& r, bool idle, std::chrono::steady_clock::time_point* next_probe) {
  if (!HOST_rec_tick(&Link_log)) HOST_request_stop();
  const auto now = std::chrono::steady_clock::now();
  if (now >= *next_probe) {
    *next_probe = now + std::chrono::milliseconds(FINISH_PROBE_MS);
    if (finish_file_present()) HOST_request_stop();
  }
  if (idle && !HOST_stop_requested()) sio_wait(&r.sio, 1, NAV_WAIT_MS);
}

// Main loop: link bytes to the dispatcher, the kernel loop, the outputs of
// each epoch, until a stop request.
void nav_loop(const HOST_PARAM_T& p, const NAV_RUN_T& r) {
  U32 check_finish_file_cnt = 0;
  char buf[HOST_RX_CHUNK];
  auto next_probe = std::chrono::steady_clock::now() + std::chrono::milliseconds(FINISH_PROBE_MS);
  while (!HOST_stop_requested()) {
    const int len = nav_read(r, buf);
    if (len > 0) Good_frame_count += DP_dispatch_msg(reinterpret_cast<const U08*>(buf), len);
    const S16 epoch = KERNEL_loop();
    if (epoch) nav_epoch(p);
    if ((check_finish_file_cnt & FINISH_PROBE_MASK) == 0 && finish_file_present()) HOST_request_stop();
    ++check_finish_file_cnt;
    if (r.logging) nav_realtime_pass(r, len <= 0 && !epoch, &next_probe);
  }
}

// Close what is open; a failed close of a written log (its last bytes) is an
// output fault.
void nav_close_files(NAV_RUN_T* r) {
  HOSTMEAS_close();
  HOSTFIX_close();
  if (r->fp_replay != nullptr) std::fclose(r->fp_replay);
  HOST_rec_close(&Link_log);
  if (r->fp_cnv != nullptr && std::fclose(r->fp_cnv) != 0) HOST_note_output_fault(LINK_LOG_NAME, "write", errno);
  r->fp_replay = nullptr;
  r->fp_cnv = nullptr;
  if (r->nmea != nullptr) {
    const long failures = HOSTOUT_get_nmea_port_failures();
    if (failures > 0) {
      std::fflush(stdout);
      std::fprintf(stderr, "talonhost: %s: %ld NMEA sentences could not be written\n", sio_name(r->nmea), failures);
    }
    HOSTOUT_set_nmea_port(nullptr);
    sio_close(r->nmea);  // queued sentences leave first (at most about 2 s)
    r->nmea = nullptr;
  }
}

// End sequence: HOSTBASE_STOP, the files, the port and the start-up files of
// a logging run, then the end-of-run output and the link statistics.
void nav_end(NAV_RUN_T* r) {
  HOST_flush_log();  // the link log on disk before the wait for the stop message to leave
  if (r->logging) {
    send_hostbase_stop_msg(r->sio);
    sio_drain(r->sio, STOP_DRAIN_TIMEOUT_MS);  // let the stop message leave before the port closes
  }
  nav_close_files(r);
  if (r->logging) {
    sio_close(r->sio);
    r->sio = nullptr;
    if (r->start_log_success) {
      U08* alm_addr = nullptr;
      const S32 len = ALM_get_address(&alm_addr);
      if (alm_addr != nullptr && len > 0 && len <= HOST_IMAGE_SIZE)
        std::memmove(HOST_get_alm_nvram_block(), alm_addr, static_cast<std::size_t>(len));
      // Both images are attempted; the message only when both were saved.
      const S16 init_saved = save_init_file();
      if (save_nvram_block_file_in_log_mode() && init_saved) std::printf("Save initilize files...\n");
    }
  }
  HOSTOUT_print_debug_informations_at_end();
  HOSTOUT_close();
  std::fflush(stdout);
  std::fprintf(stderr, "Host link: %ld good frames, %d wrong msgtype, %d wrong checksum\n", Good_frame_count,
               DP_get_wrong_msgtype_count(), DP_get_wrong_checksum_count());
}

}  // namespace

// An output fault is reported last, in one line, and gives
// HOST_EXIT_OUTPUT_FAULT; then a lost port HOST_EXIT_INPUT_FAULT, then a stop
// signal HOST_EXIT_INTERRUPTED.
int HOST_run_navigation(const HOST_PARAM_T& p) {
  HOST_clear_output_fault();
  // Ctrl-C, SIGTERM and SIGHUP, from the start-up handshake on, end the run
  // through its close-down (stop message, saved files, flushed link log).
  if (!HOST_install_stop_handlers()) std::exit(1);
  NAV_RUN_T r;
  const NavStart start = nav_start(p, &r);
  if (start == NavStart::ABORT) {
    nav_close_files(&r);
    return HOST_report_output_fault() ? HOST_EXIT_OUTPUT_FAULT : HOST_EXIT_START;
  }
  if (start == NavStart::RUN) {
    nav_prepare(p, &r);
    nav_loop(p, r);
  }
  nav_end(&r);
  if (HOST_report_output_fault()) return HOST_EXIT_OUTPUT_FAULT;
  if (Port_hung_up) return HOST_EXIT_INPUT_FAULT;
  return HOST_interrupted() ? HOST_EXIT_INTERRUPTED : HOST_EXIT_OK;
}
