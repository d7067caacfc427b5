// The host program: run parameters, the five run modes and their loops.
#include "host/host.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "host/host_callbacks.h"
#include "host/host_files.h"
#include "host/host_output.h"
#include "host/pc_sio.h"
#include "host/wrap.h"
#include "kernel/src/almanac.h"
#include "kernel/src/kernel.h"
#include "kernel/src/kernel_interface.h"
#include "misc/dispatch.h"
#include "misc/endian_swap.h"
#include "misc/host_msg.h"
#include "misc/pack.h"
#include "rtk/crv.h"
#include "rtk/rinex.h"
#include "rtk/rtcm3.h"
#include "rtk/rtk.h"
#include "rtk/rtk_cmn.h"
#include "rtk/rtk_raw.h"
#include "timing/timing.h"

namespace {

// ---------------------------------------------------------------------------
// Program-wide state
// ---------------------------------------------------------------------------
volatile std::sig_atomic_t Stop_flag = 0;
S32 Power_on_count = 1;  // output epochs so far plus one
std::FILE* Fp_log = nullptr;
U32 Gnss_sel_bits = 1;
char Kml_append_p[25] = "";
S16 Host_has_received_rtc = 0;
S16 Host_rtc_wn = 0;
S32 Host_rtc_sec = 0;
U32 Host_rtc_subsec = 0;
long Good_frame_count = 0;

constexpr int HOST_RX_CHUNK = 128;          // bytes per serial read
constexpr int HOST_REPLAY_CHUNK = 8;        // bytes per replay read
constexpr U32 FINISH_PROBE_MASK = 0x3FFF;   // probe finish.txt every 16384 passes
constexpr int HANDSHAKE_TIMEOUT_MS = 3000;  // time the target has to answer HOSTBASE_INIT
constexpr int STOP_DRAIN_TIMEOUT_MS = 2000;

constexpr std::array<const char*, N_KML_COLORS> KML_COLOR_WORDS = {"black", "red", "yellow", "green", "blue", "white"};

// ---------------------------------------------------------------------------
// Command line
// ---------------------------------------------------------------------------
struct IntOption {
  const char* name;
  int HOST_PARAM_T::*field;
  int min, max;
  const char* help;
};

constexpr IntOption INT_OPTIONS[] = {
    {"mode", &HOST_PARAM_T::mode, 0, 1, "0 real time (target or rover on a serial port), 1 from files"},
    {"count", &HOST_PARAM_T::count, 0, 2147483647, "output epochs after which a navigation run stops, 0 = no limit"},
    {"com-num", &HOST_PARAM_T::com_num, -1, NSERIAL_COM, "target / rover serial port number (1-based), -1 = none"},
    {"com-num2", &HOST_PARAM_T::com_num2, -1, NSERIAL_COM, "RTK base serial port number, -1 = none"},
    {"com-num3", &HOST_PARAM_T::com_num3, -1, NSERIAL_COM, "RTK solution output port number, -1 = none"},
    {"output-nmea", &HOST_PARAM_T::output_nmea, 0, 1, "1: NMEA sentences instead of the console table"},
    {"kml-color", &HOST_PARAM_T::kml_color, 0, N_KML_COLORS - 1,
     "track colour 0..5 (black red yellow green blue white)"},
    {"kml-start-sec", &HOST_PARAM_T::kml_start_sec, 0, 2147483647, "power-on second of the first KML point"},
    {"sd-replay", &HOST_PARAM_T::sd_replay, 0, 1, "1: replay sd_log.dat instead of log_data.dat"},
    {"sd-convert", &HOST_PARAM_T::sd_convert, 0, 1, "1: SD-card replay also writes a replay file set"},
    {"dr-out-gps-fixmode", &HOST_PARAM_T::dr_out_gps_fixmode, 0, 1, "1: dead-reckoning fix modes in fixmode.kml"},
    {"do-kml-output", &HOST_PARAM_T::do_kml_output, 0, 1, "0: no KML files"},
    {"force-warm", &HOST_PARAM_T::force_warm, 0, 1, "1: force a warm start"},
    {"force-cold", &HOST_PARAM_T::force_cold, 0, 1, "1: force a cold start"},
    {"out-ansi-color", &HOST_PARAM_T::out_ansi_color, 0, 1, "1: ANSI colours in the console table"},
    {"nav-platform-model", &HOST_PARAM_T::nav_platform_model, 0, N_NAV_MODELS - 1,
     "0 DEFAULT, 1 PEDESTRIAN, 2 CAR, 3 MARINE, 4 BALLOON, 5 AIRBORNE"},
    {"dazar-enabled", &HOST_PARAM_T::dazar_enabled, 0, 1, "1: orbit prediction on"},
    {"rtk-mode", &HOST_PARAM_T::rtk_mode, -2147483647, 2147483647, "0: navigation modes, other: RTK modes"},
    {"navsys", &HOST_PARAM_T::navsys, 0, 255, "RTK navigation systems bit mask"},
    {"snr-mask", &HOST_PARAM_T::snr_mask, 0, 99, "RTK C/N0 mask, dB-Hz"},
    {"geosnr-mask", &HOST_PARAM_T::geosnr_mask, 0, 99, "RTK C/N0 mask of SBAS and BeiDou GEO satellites, dB-Hz"},
    {"evl-mask", &HOST_PARAM_T::evl_mask, 0, 90, "RTK elevation mask, degrees"},
    {"is-rinex", &HOST_PARAM_T::is_rinex, 0, 1, "RTK input files are RINEX"},
    {"is-crvraw", &HOST_PARAM_T::is_crvraw, 0, 1, "file RTK: rover and base files are CRVRAW; 0: no input"},
    {"is-rtcm", &HOST_PARAM_T::is_rtcm, 0, 1, "real-time RTK: the base stream is RTCM 3"},
    {"rtk-reset", &HOST_PARAM_T::rtk_reset, -2147483647, 2147483647, "real-time RTK automatic reset method, 0 = none"},
};

struct PathOption {
  const char* name;
  char (HOST_PARAM_T::*field)[HOST_PATH_LEN];
  const char* help;
};

constexpr PathOption PATH_OPTIONS[] = {
    {"port", &HOST_PARAM_T::port_path, "device path of the target or rover port (instead of --com-num)"},
    {"base-port", &HOST_PARAM_T::base_port_path, "device path of the RTK base port (instead of --com-num2)"},
    {"out-port", &HOST_PARAM_T::out_port_path, "device path of the RTK solution output port (instead of --com-num3)"},
    {"rover-file", &HOST_PARAM_T::rover_file, "file RTK rover input"},
    {"base-file", &HOST_PARAM_T::base_file, "file RTK base input"},
    {"rover-rinex", &HOST_PARAM_T::rover_rinex,
     "file RTK rover from a RINEX observation file (instead of --rover-file)"},
    {"base-rinex", &HOST_PARAM_T::base_rinex, "file RTK base from a RINEX observation file (instead of --base-file)"},
    {"rb-file", &HOST_PARAM_T::rb_file,
     "file RTK over a real-time recording (rb.bin); with --is-rtcm 1 for an RTCM 3 base"},
};

bool parse_long(const char* s, long long min, long long max, long long* out) {
  if (s == nullptr || *s == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(s, &end, 0);
  if (errno != 0 || end == s || *end != '\0' || v < min || v > max) return false;
  *out = v;
  return true;
}

bool copy_path(char* dst, std::size_t size, const char* src) {
  if (src == nullptr || *src == '\0' || std::strlen(src) >= size) return false;
  std::memcpy(dst, src, std::strlen(src) + 1);
  return true;
}

// --nav FILE, repeatable: RINEX navigation files of a file RTK run.
bool add_nav_file(const char* s, HOST_PARAM_T* p) {
  if (p->n_nav >= HOST_MAX_NAV_FILES) return false;
  if (!copy_path(p->nav_files[p->n_nav], HOST_PATH_LEN, s)) return false;
  ++p->n_nav;
  return true;
}

// --base-pos X,Y,Z: ECEF metres, each within 10000 km of the centre.
bool parse_base_pos(const char* s, HOST_PARAM_T* p) {
  if (s == nullptr) return false;
  const char* q = s;
  for (int i = 0; i < 3; ++i) {
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(q, &end);
    if (errno != 0 || end == q || !std::isfinite(v) || std::fabs(v) > 1e7) return false;
    p->base_pos[i] = v;
    if (i < 2) {
      if (*end != ',') return false;
      q = end + 1;
    } else if (*end != '\0') {
      return false;
    }
  }
  p->has_base_pos = 1;
  return true;
}

// exsats: "N1,N2,..." satellite numbers of the RTK engine to exclude, stored
// as the engine takes them: the count, then the numbers (at most 9).
bool parse_exsats(const char* s, HOST_PARAM_T* p) {
  p->exsats.fill(0);
  if (s == nullptr || *s == '\0') return false;
  int n = 1;
  const char* q = s;
  while (*q != '\0') {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(q, &end, 10);
    if (errno != 0 || end == q || v < 0 || v > 255 || n >= HOST_MAX_EXSATS) return false;
    p->exsats[static_cast<std::size_t>(n++)] = static_cast<int>(v);
    if (*end == ',')
      ++end;
    else if (*end != '\0')
      return false;
    q = end;
  }
  p->exsats[0] = n - 1;
  return true;
}

int usage_error(const char* fmt, const char* arg, HOST_PARAM_T* p) {
  std::fprintf(stderr, fmt, arg);
  std::fputc('\n', stderr);
  HOST_print_usage(stderr);
  p->exit_code = 2;
  return 0;
}

// One "--name VALUE" or "--name=VALUE" option. Returns the number of argv
// entries used, 0 on an error.
int parse_long_option(int argc, char** argv, int i, HOST_PARAM_T* p) {
  std::string_view arg(argv[i] + 2);
  const char* value = nullptr;
  int used = 2;
  std::string_view name = arg;
  if (const auto eq = arg.find('='); eq != std::string_view::npos) {
    name = arg.substr(0, eq);
    value = argv[i] + 2 + eq + 1;
    used = 1;
  } else if (i + 1 < argc) {
    value = argv[i + 1];
  }
  for (const IntOption& o : INT_OPTIONS) {
    if (name != o.name) continue;
    long long v = 0;
    if (!parse_long(value, o.min, o.max, &v)) return 0;
    p->*o.field = static_cast<int>(v);
    return used;
  }
  for (const PathOption& o : PATH_OPTIONS) {
    if (name != o.name) continue;
    return copy_path(p->*o.field, HOST_PATH_LEN, value) ? used : 0;
  }
  if (name == "gnss-sel-bits") {
    long long v = 0;
    if (!parse_long(value, 0, 0xFFFF, &v)) return 0;
    p->gnss_sel_bits = static_cast<U32>(v);
    return used;
  }
  if (name == "exsats") return parse_exsats(value, p) ? used : 0;
  if (name == "nav") return add_nav_file(value, p) ? used : 0;
  if (name == "base-pos") return parse_base_pos(value, p) ? used : 0;
  return 0;
}

}  // namespace

void HOST_print_usage(std::FILE* out) {
  const HOST_PARAM_T d{};
  std::fprintf(out,
               "Usage: talonhost [option ...]\n"
               "With no option: file RTK over r.bin (rover) and b.bin (base), writing\n"
               "Normal_sol.txt and Geotagging_sol.txt in the working directory.\n\n"
               "Words:\n"
               "  help                  print this text and exit\n"
               "  version               print the kernel version and exit\n"
               "  log                   real-time mode (--mode 0)\n"
               "  com<number>           serial port number, 1..24 (--com-num)\n"
               "  tty<ttytype>          device of numbered ports: /dev/tty<ttytype><number-1> (default: ttyS)\n"
               "  nokml                 no KML files (--do-kml-output 0)\n"
               "  -kmlstart <seconds>   power-on second of the first KML point (default %d)\n"
               "  black|red|yellow|green|blue|white\n"
               "                        KML track colour (default red)\n"
               "  -app <appendix>       appendix of the KML file names (default none)\n\n"
               "Run parameters (--name VALUE or --name=VALUE):\n",
               d.kml_start_sec);
  for (const IntOption& o : INT_OPTIONS) std::fprintf(out, "  --%-20s %s (default %d)\n", o.name, o.help, d.*o.field);
  std::fprintf(out, "  --%-20s %s (default %u)\n", "gnss-sel-bits", "kernel constellation selection bits",
               static_cast<unsigned>(d.gnss_sel_bits));
  std::fprintf(out, "  --%-20s %s (default none)\n", "exsats", "RTK excluded satellites, N1,N2,... (at most 9)");
  for (const PathOption& o : PATH_OPTIONS) {
    const char* def = d.*o.field;
    std::fprintf(out, "  --%-20s %s (default %s)\n", o.name, o.help, def[0] != '\0' ? def : "none");
  }
  std::fprintf(out, "  --%-20s %s (default none)\n", "nav", "file RTK RINEX navigation file, repeatable (at most 8)");
  std::fprintf(out, "  --%-20s %s (default none: the base's RINEX header or stream)\n", "base-pos",
               "file RTK base position X,Y,Z, ECEF m");
}

S16 get_main_param(int argc, char** argv, HOST_PARAM_T* p) {
  *p = HOST_PARAM_T{};
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const std::string_view w(a);
    if (w == "help" || w == "--help" || w == "-h") {
      HOST_print_usage(stdout);
      p->exit_code = 0;
      return 0;
    }
    if (w == "version" || w == "--version") {
      std::printf("Kernel Version: %lu.%lu.%lu\n", static_cast<unsigned long>(KINTERFACE_get_major_version()),
                  static_cast<unsigned long>(KINTERFACE_get_minor_version()),
                  static_cast<unsigned long>(KINTERFACE_get_revision()));
      p->exit_code = 0;
      return 0;
    }
    if (w.size() > 2 && w.substr(0, 2) == "--") {
      const int used = parse_long_option(argc, argv, i, p);
      if (used == 0) return usage_error("talonhost: unknown or malformed option: %s", a, p);
      i += used - 1;
      continue;
    }
    if (w == "log") {
      p->mode = HOST_LOGGING;
      continue;
    }
    if (w == "nokml") {
      p->do_kml_output = 0;
      continue;
    }
    if (w == "-kmlstart" || w == "-app") {
      if (i + 1 >= argc) return usage_error("talonhost: %s needs a value", a, p);
      const char* v = argv[++i];
      if (w == "-app") {
        if (!copy_path(p->kml_append, sizeof p->kml_append, v))
          return usage_error("talonhost: bad KML appendix (1 to 24 characters): %s", v, p);
      } else {
        long long s = 0;
        if (!parse_long(v, 0, 2147483647, &s)) return usage_error("talonhost: bad -kmlstart seconds: %s", v, p);
        p->kml_start_sec = static_cast<int>(s);
      }
      continue;
    }
    if (w.size() > 3 && w.substr(0, 3) == "com") {
      long long n = 0;
      if (!parse_long(a + 3, 1, NSERIAL_COM, &n)) return usage_error("talonhost: bad port number: %s", a, p);
      p->com_num = static_cast<int>(n);
      continue;
    }
    if (w.size() > 3 && w.substr(0, 3) == "tty") {
      if (w.size() > 3 + 15) return usage_error("talonhost: tty type too long: %s", a, p);
      sio_set_tty_type(a + 3);
      continue;
    }
    bool colour = false;
    for (int c = 0; c < N_KML_COLORS; ++c) {
      if (w == KML_COLOR_WORDS[static_cast<std::size_t>(c)]) {
        p->kml_color = c;
        colour = true;
      }
    }
    if (colour) continue;
    return usage_error("talonhost: unknown option: %s", a, p);
  }
  return 1;
}

void sigint_handler(int) { Stop_flag = 1; }

void HOST_set_received_rtc(S16 wn, S32 sec, U32 subsec) {
  Host_rtc_wn = wn;
  Host_rtc_sec = sec;
  Host_rtc_subsec = subsec;
  Host_has_received_rtc = 1;
}
S16 HOST_has_received_rtc() { return Host_has_received_rtc; }
std::FILE* HOST_get_log_file() { return Fp_log; }
void HOST_flush_log() {
  if (Fp_log != nullptr) std::fflush(Fp_log);
}
long HOST_get_good_frame_count() { return Good_frame_count; }

namespace {

// ---------------------------------------------------------------------------
// Navigation modes
// ---------------------------------------------------------------------------
// Send one packed frame (size bytes without its checksum) whole.
void send_frame(SIO_T sio, U08* buf, int size) {
  const int n = append_checksum(buf, size);
  sio_tx(sio, reinterpret_cast<const char*>(buf), n);
}

}  // namespace

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
// dispatched but not logged.
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
    if (std::chrono::steady_clock::now() >= deadline || Stop_flag) break;
    if (len <= 0) usleep(1000);
  }
  std::printf("wait target timeout!!\n");
  return 0;
}

namespace {

KERNEL_INIT_T build_kernel_init(const HOST_PARAM_T& p) {
  KERNEL_INIT_T k{};
  if (const KERNEL_INIT_T* sd = HOST_get_sd_kernel_init_data(); sd != nullptr) {
    k = *sd;
  } else {
    k.init_pos_p = nullptr;
    k.force_warm = 0;
    k.force_cold = 0;
    k.power_saving_mode = 1;
    k.tcxo_freq_mode = 4;
    k.rf_bit_mode = 0;
    k.tcxo_ppm = 0;
    k.npse = 6;
    k.pse_duty_power_mode = 0;
    k.dazar_mode = static_cast<S16>(p.dazar_enabled);
    k.sbas_para = SBAS_PARAMETER_T{1, SBAS_RANGING_MODE_AUTO, 8, 1, 2, 7};
    k.qzss_para = QZSS_PARAMETER_T{1, 1};
    k.usr_in_time_sync = USER_INPUT_TIME_SYNC_T{0, 0, 0, 0};
    k.reset_kernel_settings = 1;
    k.tm_cal_np_enable = 0;
    k.gnss_select_bits = static_cast<U16>(p.gnss_sel_bits);
    k.position_rate = 1;
    k.nav_platform_model = static_cast<S16>(p.nav_platform_model);
    k.rsvd = 0;
    k.dop_mask = KERNEL_INIT_DOP_MASK_T{DOP_MASK_AUTO, 300, 300, 300};
    k.enable_2D_navigation_at_first_pos_fix = 1;
    k.enable_2D_navigation_after_first_pos_fix = 1;
    k.clock_offset_from_flash = 0;
    k.leap_sec_from_flash = 16;
    k.elv_cnr_mask = ELV_CNR_MASK_T{ELV_CNR_MASK_AUTO, 5, 0};
  }
  k.backup_mem_p = HOST_get_backup_region();
  k.nvram_alm_mem_p = HOST_get_alm_nvram_block();
  k.nvram_alm_const_mem_p = nullptr;
  if (p.gnss_sel_bits != 1) k.gnss_select_bits = static_cast<U16>(p.gnss_sel_bits);
  if (p.force_warm) k.force_warm = 1;
  if (p.force_cold) k.force_cold = 1;
  return k;
}

int run_navigation(const HOST_PARAM_T& p) {
  const bool logging = p.mode == HOST_LOGGING;
  SIO_T sio = nullptr;
  std::FILE* fp_in = nullptr;   // log_data.dat or sd_log.dat in replay
  std::FILE* fp_cnv = nullptr;  // converted log_data.dat in SD-card conversion
  int start_log_success = 0;
  bool start_ok = true;

  if (logging) {
    sio = p.port_path[0] != '\0' ? sio_open_path(p.port_path, SERIAL_BAUD_115200)
                                 : sio_open(p.com_num - 1, SERIAL_BAUD_115200);
    if (sio == nullptr) {
      std::printf("Open serial port failed!\n");
      return 1;
    }
    std::printf("Start in real time mode....\n");
  } else {
    std::printf(p.sd_replay ? "Start in SD Card replay mode....\n" : "Start in replay mode....\n");
  }
  WRAP_init(logging ? 1 : 0, sio);
  msg_init();

  int write_output_kml = 1;
  int write_fixmode_kml = 0;
  if (!logging) {
    write_fixmode_kml = 1;
    if (p.sd_replay) {
      fp_in = std::fopen("sd_log.dat", "rb");
      if (fp_in == nullptr) return 1;
      if (!init_sd_replay_data(fp_in, p.sd_convert)) {
        std::fclose(fp_in);
        return 1;
      }
      ENDIAN_set_swap_flag(1);
    } else {
      fp_in = std::fopen("log_data.dat", "rb");
      if (fp_in == nullptr) return 1;
      load_replay_init_file();
      ENDIAN_set_swap_flag(0);
    }
  } else {
    send_hostbase_init_msg(sio);
    if (!wait_rtc_input(sio)) {
      start_ok = false;
    } else {
      fp_in = std::fopen("log_data.dat", "wb");
      if (fp_in == nullptr) {
        start_ok = false;
      } else {
        load_logging_init_file();
        init_nvram_block_file_in_log_mode();
        start_log_success = 1;
        Fp_log = fp_in;
      }
    }
  }

  if (start_ok) {
    if (!p.do_kml_output) write_output_kml = write_fixmode_kml = 0;
    HOSTOUT_init(write_output_kml, write_fixmode_kml, Kml_append_p);
    if (p.out_ansi_color)
      HOSTOUT_set_ansi();
    else
      HOSTOUT_set_no_ansi();
    if (p.dr_out_gps_fixmode) HOSTOUT_set_DR_output_GNSS_fixmode_kml();

    const KERNEL_INIT_T kernel_init = build_kernel_init(p);
    KERNEL_init(&kernel_init);
    TIMING_set_pps_cable_delay(0);
    TIMING_set_pps_width(800);

    if (std::signal(SIGINT, sigint_handler) == SIG_ERR) std::exit(1);

    if (!logging && p.sd_replay && p.sd_convert) {
      write_sd_convert_init_files();
      fp_cnv = std::fopen("log_data.dat", "wb");
    }

    // Main loop.
    U32 check_finish_file_cnt = 0;
    char buf[HOST_RX_CHUNK];
    while (!Stop_flag) {
      int len = 0;
      if (!logging) {
        len = static_cast<int>(std::fread(buf, 1, HOST_REPLAY_CHUNK, fp_in));
        if (len == 0) Stop_flag = 1;
        if (fp_cnv != nullptr && len > 0) std::fwrite(buf, 1, static_cast<std::size_t>(len), fp_cnv);
      } else {
        len = sio_rx(sio, buf, HOST_RX_CHUNK);
      }
      if (len > 0) {
        if (logging) std::fwrite(buf, 1, static_cast<std::size_t>(len), Fp_log);
        Good_frame_count += DP_dispatch_msg(reinterpret_cast<const U08*>(buf), len);
      }
      const S16 epoch = KERNEL_loop();
      if (epoch) {
        if (p.count != 0 && Power_on_count > p.count) {
          Stop_flag = 1;
        } else {
          if (p.do_kml_output) {
            HOSTOUT_output_kml(p.kml_color);
            HOSTOUT_output_kml_fixmode();
          }
          if (p.output_nmea)
            HOSTOUT_print_nmea_message();
          else
            HOSTOUT_print_detail_data();
        }
        ++Power_on_count;
      }
      if ((check_finish_file_cnt & FINISH_PROBE_MASK) == 0) {
        if (std::FILE* f = std::fopen("finish.txt", "r"); f != nullptr) {
          std::fclose(f);
          Stop_flag = 1;
        }
      }
      ++check_finish_file_cnt;
      // In real time, yield the processor while the link is quiet.
      if (logging && len <= 0 && !epoch) usleep(100);
    }
  }

  // End sequence.
  if (logging) {
    send_hostbase_stop_msg(sio);
    sio_drain(sio, STOP_DRAIN_TIMEOUT_MS);  // let the stop message leave before the port closes
  }
  if (fp_in != nullptr) std::fclose(fp_in);
  Fp_log = nullptr;
  if (fp_cnv != nullptr) std::fclose(fp_cnv);
  if (logging) {
    sio_close(sio);
    if (start_log_success) {
      U08* alm_addr = nullptr;
      const S32 len = ALM_get_address(&alm_addr);
      if (alm_addr != nullptr && len > 0 && len <= HOST_IMAGE_SIZE)
        std::memmove(HOST_get_alm_nvram_block(), alm_addr, static_cast<std::size_t>(len));
      save_init_file();
      save_nvram_block_file_in_log_mode();
      std::printf("Save initilize files...\n");
    }
  }
  HOSTOUT_print_debug_informations_at_end();
  HOSTOUT_close();
  std::fflush(stdout);
  std::fprintf(stderr, "Host link: %ld good frames, %d wrong msgtype, %d wrong checksum\n", Good_frame_count,
               DP_get_wrong_msgtype_count(), DP_get_wrong_checksum_count());
  return 0;
}

// ---------------------------------------------------------------------------
// RTK modes
// ---------------------------------------------------------------------------
SIO_T open_rtk_port(const char* path, int com_num) {
  if (path[0] != '\0') return sio_open_path(path, SERIAL_BAUD_115200);
  return sio_open(com_num - 1, SERIAL_BAUD_115200);
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

int run_rtk_realtime(const HOST_PARAM_T& p) {
  std::FILE* fp_rb = std::fopen("rb.bin", "wb");
  if (fp_rb == nullptr) {
    std::printf("Open rb.bin to log is failed!\n");
    return 1;
  }
  SIO_T sio = open_rtk_port(p.port_path, p.com_num);
  if (sio == nullptr) {
    std::printf("Open serial port 1 is failed ..\n");
    std::fclose(fp_rb);
    return 1;
  }
  SIO_T sio2 = nullptr;
  SIO_T sio3 = nullptr;
  if (p.com_num2 != -1 || p.base_port_path[0] != '\0') {
    sio2 = open_rtk_port(p.base_port_path, p.com_num2);
    if (sio2 == nullptr) {
      std::printf("Open serial port 2 is failed ..\n");
      sio_close(sio);
      std::fclose(fp_rb);
      return 1;
    }
  }
  if (p.com_num3 != -1 || p.out_port_path[0] != '\0') {
    sio3 = open_rtk_port(p.out_port_path, p.com_num3);
    if (sio3 == nullptr) {
      std::printf("Open serial port 3 is failed ..\n");
      sio_close(sio2);
      sio_close(sio);
      std::fclose(fp_rb);
      return 1;
    }
  }
  std::printf("Start in real time mode....\n");
  // Ctrl-C ends the run through the close-down below, so that rb.bin keeps
  // every byte received.
  if (std::signal(SIGINT, sigint_handler) == SIG_ERR) std::exit(1);

  char buf[HOST_RX_CHUNK];
  char buf2[HOST_RX_CHUNK];
  int acc_cnt = 0;
  while (!Stop_flag) {
    int len2 = 0;
    if (sio2 != nullptr) {
      len2 = sio_rx(sio2, buf2, HOST_RX_CHUNK);
      if (len2 > 0) {
        write_rb_record(fp_rb, 1, buf2, len2);
        if (p.is_rtcm)
          RTCM3_process_base(len2, buf2);
        else
          CRV_process_base(len2, buf2);
      }
    }
    const int len = sio_rx(sio, buf, HOST_RX_CHUNK);
    if (len > 0) {
      write_rb_record(fp_rb, 0, buf, len);
      CRV_process_rover(len, buf);
    }
    if (RTK_loop()) {
      ++acc_cnt;
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
      if (sio3 != nullptr) {
        sol_t sol{};
        RTK_get_solution(&sol);
        char line[256];
        const int n = format_rtk_port_line(sol, line, sizeof line);
        sio_tx(sio3, line, n);
      }
    } else if (len <= 0 && len2 <= 0) {
      usleep(500);  // the ports are quiet
    }
  }
  sio_close(sio3);
  sio_close(sio2);
  sio_close(sio);
  std::fclose(fp_rb);
  return 0;
}

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

void write_solution_header(std::FILE* fp) {
  std::fprintf(fp, "%15s%15s%15s%15s%15s%15s%15s%15s%15s%15s%15s%15s%15s\n", "EPOCH", "DATE", "UTC", "STATUS",
               "AGE_OF_DIFF", "RATIO", "LAT", "LON", "ALT", "X", "Y", "Z", "BASELINE");
}

}  // namespace

// One line of the solution files. The UTC time is rounded to the millisecond
// before it is split into calendar fields, so that a second that would print
// as "60.000" carries into the minute.
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

namespace {

// KML closing files and the two solution files with their headers, as every
// file RTK run opens them. A file that cannot be created stays null.
void open_solution_outputs(const HOST_PARAM_T& p, std::FILE** fp_normal, std::FILE** fp_geo) {
  HOSTOUT_init(1, 1, Kml_append_p);
  if (p.out_ansi_color)
    HOSTOUT_set_ansi();
  else
    HOSTOUT_set_no_ansi();
  *fp_normal = std::fopen("Normal_sol.txt", "w");
  *fp_geo = std::fopen("Geotagging_sol.txt", "w");
  if (*fp_normal != nullptr) write_solution_header(*fp_normal);
  if (*fp_geo != nullptr) write_solution_header(*fp_geo);
}

// One solved epoch into the solution files, routed by the rover's epoch type:
// period value 1 (geotagging mark) to Geotagging_sol.txt only, 2 to both
// files, anything else to Normal_sol.txt only.
void write_solution_line(long acc_cnt4, const sol_t& sol, std::FILE* fp_normal, std::FILE* fp_geo) {
  U16 raw_wn = 0, raw_period_in_ms = 0;
  U32 raw_tow_in_ms = 0;
  RTK_get_rover_meas_time_info(&raw_wn, &raw_tow_in_ms, &raw_period_in_ms);
  char line[512];
  const int n = HOST_format_solution_line(acc_cnt4, sol, RTK_get_baseline(), line, sizeof line);
  if (raw_period_in_ms != 1 && fp_normal != nullptr) std::fwrite(line, 1, static_cast<std::size_t>(n), fp_normal);
  if ((raw_period_in_ms == 1 || raw_period_in_ms == 2) && fp_geo != nullptr)
    std::fwrite(line, 1, static_cast<std::size_t>(n), fp_geo);
}

}  // namespace

namespace {

// Progress and summary of a file RTK run (stderr, so that stdout and the
// solution files keep their fixed formats).
struct RTK_FILE_STATS_T {
  long epochs = 0;
  long fix = 0, flt = 0, single = 0;
  bool has_first = false, has_fix = false;
  gtime_t first{}, first_fix{};
};

constexpr double PROGRESS_PERIOD_S = 0.25;  // at most four progress lines a second

double pct(long n, long d) { return d > 0 ? 100.0 * static_cast<double>(n) / static_cast<double>(d) : 0.0; }

void count_solution(RTK_FILE_STATS_T* st, const sol_t& sol) {
  ++st->epochs;
  if (sol.stat == SOLQ_FIX)
    ++st->fix;
  else if (sol.stat == SOLQ_FLOAT)
    ++st->flt;
  else if (sol.stat == SOLQ_SINGLE)
    ++st->single;
  if (!st->has_first) {
    st->has_first = true;
    st->first = sol.time;
  }
  if (sol.stat == SOLQ_FIX && !st->has_fix) {
    st->has_fix = true;
    st->first_fix = sol.time;
  }
}

void print_progress(const RTK_FILE_STATS_T& st, double read_pct) {
  std::fprintf(stderr, "\rRTK %5.1f%% read, %ld epochs, FIX %5.1f%%, FLOAT %5.1f%%, SINGLE %5.1f%%", read_pct,
               st.epochs, pct(st.fix, st.epochs), pct(st.flt, st.epochs), pct(st.single, st.epochs));
}

void print_summary(const RTK_FILE_STATS_T& st, double wall_s) {
  std::fprintf(stderr, "\nRTK summary: %ld epochs, FIX %.1f%%, FLOAT %.1f%%, SINGLE %.1f%%, NONE %.1f%%\n", st.epochs,
               pct(st.fix, st.epochs), pct(st.flt, st.epochs), pct(st.single, st.epochs),
               pct(st.epochs - st.fix - st.flt - st.single, st.epochs));
  if (st.has_fix)
    std::fprintf(stderr, "RTK time to first FIX: %.1f s\n", timediff(st.first_fix, st.first));
  else
    std::fprintf(stderr, "RTK time to first FIX: no FIX\n");
  std::fprintf(stderr, "RTK wall time: %.3f s\n", wall_s);
}

long file_size(std::FILE* fp) {
  if (std::fseek(fp, 0, SEEK_END) != 0) return 0;
  const long n = std::ftell(fp);
  std::rewind(fp);
  return n > 0 ? n : 0;
}

// File RTK with a RINEX rover and/or base (the other side CRVRAW). The output
// files and lines are those of the CRVRAW run. Exit code 1 as for CRVRAW runs;
// 3 when an input could not be used or had faults (messages on stderr).
constexpr int RINEX_INPUT_FAULT = 3;

int run_rtk_file_rinex(const HOST_PARAM_T& p) {
  const bool rover_rinex = p.rover_rinex[0] != '\0', base_rinex = p.base_rinex[0] != '\0';
  RINEX_SOURCE_T src{rover_rinex ? 1 : 0, base_rinex ? 1 : 0, nullptr, nullptr};
  bool ok = true;
  if (rover_rinex)
    ok = RINEX_open_obs(RINEX_ROVER, p.rover_rinex) && ok;
  else if ((src.fp_rover = std::fopen(p.rover_file, "rb")) == nullptr) {
    std::fprintf(stderr, "talonhost: %s: cannot open the rover CRVRAW file\n", p.rover_file);
    ok = false;
  }
  if (base_rinex)
    ok = RINEX_open_obs(RINEX_BASE, p.base_rinex) && ok;
  else if ((src.fp_base = std::fopen(p.base_file, "rb")) == nullptr) {
    std::fprintf(stderr, "talonhost: %s: cannot open the base CRVRAW file\n", p.base_file);
    ok = false;
  }
  for (int i = 0; i < p.n_nav; ++i) ok = RINEX_read_nav(p.nav_files[i]) && ok;
  if (ok && rover_rinex && RINEX_get_nav_count() == 0) {
    std::fprintf(stderr, "talonhost: no navigation data: a RINEX rover needs --nav with GPS or GLONASS ephemerides\n");
    ok = false;
  }
  double hdr_pos[3];
  if (ok && base_rinex && !p.has_base_pos && !RINEX_get_header_pos(RINEX_BASE, hdr_pos)) {
    std::fprintf(stderr, "talonhost: %s: no base position in the header; give --base-pos X,Y,Z\n", p.base_rinex);
    ok = false;
  }
  if (!ok) {
    RINEX_close_obs(RINEX_ROVER);
    RINEX_close_obs(RINEX_BASE);
    if (src.fp_rover != nullptr) std::fclose(src.fp_rover);
    if (src.fp_base != nullptr) std::fclose(src.fp_base);
    return RINEX_INPUT_FAULT;
  }
  std::FILE* fp_normal = nullptr;
  std::FILE* fp_geo = nullptr;
  open_solution_outputs(p, &fp_normal, &fp_geo);
  long acc_cnt4 = 0;
  RTK_FILE_STATS_T stats;
  const auto wall0 = std::chrono::steady_clock::now();
  auto last_progress = wall0;
  while (RINEX_process_file(&src)) {
    if (p.has_base_pos) RTK_RAW_update_base_pos_xyz(p.base_pos[0], p.base_pos[1], p.base_pos[2]);
    if (!RTK_loop()) continue;
    ++acc_cnt4;
    sol_t sol{};
    RTK_get_solution(&sol);
    count_solution(&stats, sol);
    const auto now = std::chrono::steady_clock::now();
    if (std::chrono::duration<double>(now - last_progress).count() >= PROGRESS_PERIOD_S) {
      last_progress = now;
      print_progress(stats, 0.0);
    }
    write_solution_line(acc_cnt4, sol, fp_normal, fp_geo);
  }
  HOSTOUT_close();
  print_progress(stats, 100.0);
  print_summary(stats, std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count());
  RINEX_STATS_T rs{};
  RINEX_get_stats(&rs);
  std::fprintf(stderr,
               "RTK input: %u rover epochs, %u base epochs, skipped unpaired: %u rover, %u base; %u input faults\n",
               rs.rover_epochs, rs.base_epochs, rs.unpaired_rover, rs.unpaired_base, rs.errors);
  if (fp_normal != nullptr) std::fclose(fp_normal);
  if (fp_geo != nullptr) std::fclose(fp_geo);
  RINEX_close_obs(RINEX_ROVER);
  RINEX_close_obs(RINEX_BASE);
  if (src.fp_rover != nullptr) std::fclose(src.fp_rover);
  if (src.fp_base != nullptr) std::fclose(src.fp_base);
  return rs.errors > 0 ? RINEX_INPUT_FAULT : 1;
}

int run_rtk_file(const HOST_PARAM_T& p) {
  if (p.rover_rinex[0] != '\0' || p.base_rinex[0] != '\0') return run_rtk_file_rinex(p);
  if (p.is_crvraw) {
    std::FILE* fp_r_bin = std::fopen(p.rover_file, "rb");
    if (fp_r_bin == nullptr) {
      std::printf("RTK_ERROR : can't open rover CRVRAW\n");
      return 1;
    }
    std::FILE* fp_b_bin = std::fopen(p.base_file, "rb");
    if (fp_b_bin == nullptr) {
      std::printf("RTK_ERROR : can't open base CRVRAW\n");
      std::fclose(fp_r_bin);
      return 1;
    }
    std::FILE* fp_normal = nullptr;
    std::FILE* fp_geo = nullptr;
    open_solution_outputs(p, &fp_normal, &fp_geo);

    long acc_cnt4 = 0;
    RTK_FILE_STATS_T stats;
    const long rover_size = file_size(fp_r_bin);
    const auto wall0 = std::chrono::steady_clock::now();
    auto last_progress = wall0;
    for (;;) {
      if (CRV_process_file(fp_r_bin, fp_b_bin) == 0) {
        HOSTOUT_close();
        break;
      }
      if (!RTK_loop()) continue;
      ++acc_cnt4;
      sol_t sol{};
      RTK_get_solution(&sol);
      count_solution(&stats, sol);
      const auto now = std::chrono::steady_clock::now();
      if (std::chrono::duration<double>(now - last_progress).count() >= PROGRESS_PERIOD_S) {
        last_progress = now;
        const long pos = std::ftell(fp_r_bin);
        print_progress(stats, rover_size > 0 && pos > 0 ? 100.0 * static_cast<double>(pos) / rover_size : 0.0);
      }
      write_solution_line(acc_cnt4, sol, fp_normal, fp_geo);
    }
    print_progress(stats, 100.0);
    print_summary(stats, std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count());
    if (fp_normal != nullptr) std::fclose(fp_normal);
    if (fp_geo != nullptr) std::fclose(fp_geo);
    std::fclose(fp_b_bin);
    std::fclose(fp_r_bin);
  }
  return 1;
}

// File RTK over a recording of a real-time run (rb.bin): the recorder reader
// hands each record to the rover reader, or to the base reader (RTCM 3 with
// --is-rtcm 1, else CRVRAW); the engine runs after every record, as the real-time
// loop runs it after every serial read. Same solution files as file RTK.
int run_rtk_recording(const HOST_PARAM_T& p) {
  std::FILE* fp_rb = std::fopen(p.rb_file, "rb");
  if (fp_rb == nullptr) {
    std::printf("RTK_ERROR : can't open the recording %s\n", p.rb_file);
    return 1;
  }
  CRV_set_post_processing_stream_type(p.is_rtcm ? 1 : 0);
  std::FILE* fp_normal = nullptr;
  std::FILE* fp_geo = nullptr;
  open_solution_outputs(p, &fp_normal, &fp_geo);

  long acc_cnt4 = 0;
  unsigned char chunk[4096];
  std::size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, fp_rb)) > 0) {
    for (std::size_t i = 0; i < n; ++i) {
      if (!CRV_post_processing(chunk[i])) continue;
      if (!RTK_loop()) continue;
      ++acc_cnt4;
      sol_t sol{};
      RTK_get_solution(&sol);
      write_solution_line(acc_cnt4, sol, fp_normal, fp_geo);
    }
  }
  HOSTOUT_close();
  if (fp_normal != nullptr) std::fclose(fp_normal);
  if (fp_geo != nullptr) std::fclose(fp_geo);
  std::fclose(fp_rb);
  std::fprintf(stderr, "Recording: %u records too long for the reader\n", CRV_get_recorder_drops());
  return 1;
}

}  // namespace

int host_main(int argc, char** argv) {
  HOST_PARAM_T p;
  if (!get_main_param(argc, argv, &p)) return p.exit_code;
  Gnss_sel_bits = p.gnss_sel_bits;
  Fp_log = nullptr;
  std::memcpy(Kml_append_p, p.kml_append, sizeof Kml_append_p);

  std::printf("\nKernel Version: %lu.%lu.%lu\n", static_cast<unsigned long>(KINTERFACE_get_major_version()),
              static_cast<unsigned long>(KINTERFACE_get_minor_version()),
              static_cast<unsigned long>(KINTERFACE_get_revision()));
  const bool model_known = p.nav_platform_model >= 0 && p.nav_platform_model < N_NAV_MODELS;
  std::printf("Navigation platform model: %s\n",
              model_known ? NVMODEL_STRINGS[static_cast<std::size_t>(p.nav_platform_model)] : "UNKNOWN");
  if (p.dazar_enabled) std::printf("DAZAR enabled!\n");
  HOSTOUT_set_kml_start_second(p.kml_start_sec);

  if (p.rtk_mode != 0) {
    const int is_rinex = p.is_rinex || p.rover_rinex[0] != '\0' || p.base_rinex[0] != '\0';
    RTK_init(p.navsys, p.snr_mask, p.geosnr_mask, p.evl_mask, is_rinex, p.exsats.data());
    RTK_init_medium();
    GLOSDIFB_reset_glo_sd_ifb();
    if (p.mode == HOST_LOGGING) return run_rtk_realtime(p);
    return p.rb_file[0] != '\0' ? run_rtk_recording(p) : run_rtk_file(p);
  }
  return run_navigation(p);
}
