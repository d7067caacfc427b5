// Real-time RTK: rover and optional base on serial ports, every byte recorded
// in rb.bin, a status block per solved epoch on stdout and, with an output
// port, one solution line per solved epoch on that port.
#include <cstdio>
#include <cstdlib>

#include "host/host.h"
#include "host/host_files.h"
#include "host/host_run.h"
#include "host/pc_sio.h"
#include "rtk/crv.h"
#include "rtk/rtcm3.h"
#include "rtk/rtk.h"
#include "rtk/rtk_cmn.h"
#include "rtk/rtk_raw.h"

namespace {

constexpr int RTK_RX_CHUNK = 128;  // bytes per serial read (= RB_MAX_CHUNK, one rb.bin record)
constexpr int RTK_WAIT_MS = 100;   // longest sleep while the ports are quiet, ms

// The ports of a run; rtk_close_io closes what is open. A base or output port
// whose far end hung up is closed at once and the run goes on without it.
struct RTK_RT_IO_T {
  SIO_T sio = nullptr;      // rover
  SIO_T sio2 = nullptr;     // base, optional
  SIO_T sio3 = nullptr;     // solution output, optional
  bool rover_lost = false;  // the rover port hung up: the run ended for want of input
};

HOST_REC_T Rb_rec;  // rb.bin

SIO_T open_rtk_port(const char* path, int com_num) {
  if (path[0] != '\0') return sio_open_path(path, SERIAL_BAUD_115200);
  return sio_open(com_num - 1, SERIAL_BAUD_115200);
}

// Open the ports, then rb.bin (a run that cannot start leaves the previous
// recording as it was); on a failure its message on stdout. 1 when all that
// the run needs is open.
bool rtk_open_io(const HOST_PARAM_T& p, RTK_RT_IO_T* io) {
  io->sio = open_rtk_port(p.port_path, p.com_num);
  if (io->sio == nullptr) {
    std::printf("Open serial port 1 is failed ..\n");
    return false;
  }
  if (p.com_num2 != -1 || p.base_port_path[0] != '\0') {
    io->sio2 = open_rtk_port(p.base_port_path, p.com_num2);
    if (io->sio2 == nullptr) {
      std::printf("Open serial port 2 is failed ..\n");
      return false;
    }
  }
  if (p.com_num3 != -1 || p.out_port_path[0] != '\0') {
    io->sio3 = open_rtk_port(p.out_port_path, p.com_num3);
    if (io->sio3 == nullptr) {
      std::printf("Open serial port 3 is failed ..\n");
      return false;
    }
  }
  if (!HOST_rec_open(&Rb_rec, "rb.bin", 1)) {
    HOST_clear_output_fault();  // the run did not start: its message on stdout instead
    std::printf("Open rb.bin to log is failed!\n");
    return false;
  }
  return true;
}

// Close what is open, rb.bin first (closing the output port may wait for its
// queued solutions); a failed write of rb.bin's last bytes is an output fault.
void rtk_close_io(RTK_RT_IO_T* io) {
  HOST_rec_close(&Rb_rec);
  sio_close(io->sio3);
  sio_close(io->sio2);
  sio_close(io->sio);
  io->sio = io->sio2 = io->sio3 = nullptr;
}

// One record into rb.bin; a failed write is an output fault that stops the run.
void rtk_record(int is_base, const char* buf, int len) {
  if (!HOST_rec_put_record(&Rb_rec, is_base, buf, len)) HOST_request_stop();
}

// A port whose far end hung up: said once on stderr, then closed. The rover
// ends the run; without base or output port the run goes on.
void rtk_port_lost(RTK_RT_IO_T* io, SIO_T* port) {
  std::fflush(stdout);
  std::fprintf(stderr, "talonhost: %s: the port hung up\n", sio_name(*port));
  if (*port == io->sio) {
    io->rover_lost = true;
    HOST_request_stop();
    return;  // closed with the others at the end of the run
  }
  sio_close(*port);
  *port = nullptr;
}

// The solution line of the real-time output port.
int format_rtk_port_line(const sol_t& sol, char* line, std::size_t size) {
  gtime_t t = sol.time;
  if (1.0 - t.sec < 0.5) {
    t.time += 1.0;
    t.sec = 0.0;
  }
  double ep[6];
  time2epoch(t, ep);
  char tstr[64];
  std::snprintf(tstr, sizeof tstr, "%04.0f/%02.0f/%02.0f %02.0f:%02.0f:%0*.*f", ep[0], ep[1], ep[2], ep[3], ep[4], 2, 0,
                ep[5]);
  const char* s = " ";
  const int n = std::snprintf(
      line, size, "%s%s%14.4f%s%14.4f%s%14.4f%s%3d%s%3d%s%8.4f%s%8.4f%s%8.4f%s%8.4f%s%8.4f%s%8.4f%s%6.2f%s%6.1f\n",
      tstr, s, sol.rr[0], s, sol.rr[1], s, sol.rr[2], s, static_cast<int>(sol.stat), s, static_cast<int>(sol.ns), s,
      0.0, s, 0.0, s, 0.0, s, 0.0, s, 0.0, s, 0.0, s, static_cast<double>(sol.age), s, static_cast<double>(sol.ratio));
  return n < 0 ? 0 : (static_cast<std::size_t>(n) >= size ? static_cast<int>(size) - 1 : n);
}

// One solved epoch: the status block (acc_cnt solved epochs so far), the
// engine's reset tick, and the solution line on the output port when open.
void rtk_solved_epoch(const HOST_PARAM_T& p, const RTK_RT_IO_T& io, int acc_cnt) {
  std::printf("--------------------------------------------------------------------%d\n", acc_cnt);
  CRV_print_status();
  RTCM3_print_status();
  RTK_RAW_print_status();
  RTK_print_solution();
  if (p.rtk_reset != 0) RTK_reset_engine_tick(p.rtk_reset);
  long unsigned int cont_no_fix_count = 0, total_reset_count = 0, total_full_reset_count = 0;
  RTK_get_reset_count_for_debug(&cont_no_fix_count, &total_reset_count, &total_full_reset_count);
  std::printf("<RTK> reset           : %ld, %ld, %ld\n", static_cast<long>(cont_no_fix_count),
              static_cast<long>(total_reset_count), static_cast<long>(total_full_reset_count));
  if (io.sio3 != nullptr) {
    sol_t sol{};
    RTK_get_solution(&sol);
    char line[256];
    const int n = format_rtk_port_line(sol, line, sizeof line);
    sio_tx(io.sio3, line, n);
  }
}

// What arrives on the output port is read and dropped (the port only
// carries solutions out); reading it also tells when its far end has gone.
void rtk_drain_output_port(RTK_RT_IO_T* io) {
  if (io->sio3 == nullptr) return;
  char scratch[RTK_RX_CHUNK];
  while (sio_rx(io->sio3, scratch, RTK_RX_CHUNK) > 0) {
  }
  if (sio_hung_up(io->sio3)) rtk_port_lost(io, &io->sio3);
}

// Main loop: base bytes, rover bytes (each recorded, then to its reader),
// the engine, until a stop request (SIGINT, SIGTERM, SIGHUP, a failed write
// of rb.bin, or the rover port gone). While the ports are quiet the loop
// sleeps in sio_wait; rb.bin is written at least every HOST_REC_FLUSH_MS.
void rtk_realtime_loop(const HOST_PARAM_T& p, RTK_RT_IO_T* io) {
  char buf[RTK_RX_CHUNK];
  char buf2[RTK_RX_CHUNK];
  int acc_cnt = 0;
  while (!HOST_stop_requested()) {
    int len2 = 0;
    if (io->sio2 != nullptr) {
      len2 = sio_rx(io->sio2, buf2, RTK_RX_CHUNK);
      if (len2 > 0) {
        rtk_record(1, buf2, len2);
        if (p.is_rtcm)
          RTCM3_process_base(len2, buf2);
        else
          CRV_process_base(len2, buf2);
      } else if (sio_hung_up(io->sio2)) {
        rtk_port_lost(io, &io->sio2);
      }
    }
    const int len = sio_rx(io->sio, buf, RTK_RX_CHUNK);
    if (len > 0) {
      rtk_record(0, buf, len);
      CRV_process_rover(len, buf);
    } else if (sio_hung_up(io->sio)) {
      rtk_port_lost(io, &io->sio);
    }
    if (!HOST_rec_tick(&Rb_rec)) HOST_request_stop();
    // The engine runs while it takes rover epochs and more wait (a rover epoch
    // that waited for its base epoch and the one behind it).
    bool solved = false;
    for (;;) {
      const int queued = RTK_RAW_get_rover_queue();
      if (RTK_loop()) {
        ++acc_cnt;
        rtk_solved_epoch(p, *io, acc_cnt);
        solved = true;
      }
      const int left = RTK_RAW_get_rover_queue();
      if (left == 0 || left >= queued) break;
    }
    if (!solved && len <= 0 && len2 <= 0 && !HOST_stop_requested()) {
      // The ports are quiet: sleep until one of them has input, hangs up or
      // can take queued output, a signal, or the time-out.
      const SIO_T ports[3] = {io->sio, io->sio2, io->sio3};
      if ((sio_wait(ports, 3, RTK_WAIT_MS) & 4) != 0) rtk_drain_output_port(io);
    }
  }
}

}  // namespace

int HOST_run_rtk_realtime(const HOST_PARAM_T& p) {
  HOST_clear_output_fault();
  RTK_RT_IO_T io;
  const bool ok = rtk_open_io(p, &io);
  if (ok) {
    std::printf("Start in real time mode....\n");
    // Ctrl-C, SIGTERM and SIGHUP end the run through the close-down below, so
    // that rb.bin keeps every byte received.
    if (!HOST_install_stop_handlers()) std::exit(1);
    // Each rover epoch pairs with a base epoch at or before its time, after a
    // bounded wait for it.
    RTK_RAW_set_realtime_pairing(1);
    rtk_realtime_loop(p, &io);
  }
  rtk_close_io(&io);
  std::fflush(stdout);
  if (HOST_report_output_fault()) return HOST_EXIT_OUTPUT_FAULT;
  if (!ok) return HOST_EXIT_START;
  if (io.rover_lost) return HOST_EXIT_INPUT_FAULT;
  return HOST_interrupted() ? HOST_EXIT_INTERRUPTED : HOST_EXIT_OK;
}
