// Command line of the host program: the option tables, their parsing into
// HOST_PARAM_T and the usage text.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "host/host.h"
#include "host/pc_sio.h"
#include "kernel/src/kernel_interface.h"
#include "rtk/rtk_cmn.h"

namespace {

constexpr std::array<const char*, N_KML_COLORS> KML_COLOR_WORDS = {"black", "red", "yellow", "green", "blue", "white"};

// One integer run parameter: its option name, its field, its range and its help line.
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
    {"lsq-only", &HOST_PARAM_T::lsq_only, 0, 1, "1: navigation fixes by least squares alone (no Kalman filter)"},
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
    {"rtk-integrity", &HOST_PARAM_T::rtk_integrity, 0, 1,
     "1: RTK fix validation and integrity checks; 0: the plain filter (fixes on the ratio test alone)"},
    {"snr-reentry", &HOST_PARAM_T::snr_reentry, 0, 600,
     "epochs an RTK rover satellite stays out after its C/N0 fell below the mask, 0 = none"},
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
    {"nmea-port", &HOST_PARAM_T::nmea_port_path,
     "navigation modes: device or pty that receives the NMEA sentences of every epoch as well"},
    {"rover-file", &HOST_PARAM_T::rover_file, "file RTK rover input"},
    {"base-file", &HOST_PARAM_T::base_file, "file RTK base input"},
    {"rover-rinex", &HOST_PARAM_T::rover_rinex,
     "file RTK rover from a RINEX observation file (instead of --rover-file)"},
    {"base-rinex", &HOST_PARAM_T::base_rinex, "file RTK base from a RINEX observation file (instead of --base-file)"},
    {"rb-file", &HOST_PARAM_T::rb_file,
     "file RTK over a real-time recording (rb.bin); with --is-rtcm 1 for an RTCM 3 base"},
    {"meas-csv", &HOST_PARAM_T::meas_csv, "navigation modes: measurement log, one CSV row per channel per epoch"},
    {"fix-csv", &HOST_PARAM_T::fix_csv, "navigation modes: fix log, one CSV row per output epoch"},
};

// Texts of the limits a refused option value broke (the usage text and README
// give the same numbers).
static_assert(HOST_MAX_NAV_FILES == 8 && HOST_PATH_LEN == 256, "update the limit texts below");
constexpr const char* NAV_LIMIT = "at most 8 navigation files";
constexpr const char* PATH_LIMIT = "path longer than 255 characters";
constexpr const char* BASE_POS_LIMIT =
    "the base position must lie within 100 km of the Earth's surface (WGS-84 height -100000 to 100000 m)";
constexpr double BASE_POS_MAX_HEIGHT_M = 100e3;  // |ellipsoidal height| of an accepted --base-pos, m

// A decimal integer (leading zeros allowed: "010" is 10; "0x10" is refused)
// within [min, max].
bool parse_long(const char* s, long long min, long long max, long long* out) {
  if (s == nullptr || *s == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(s, &end, 10);
  if (errno != 0 || end == s || *end != '\0' || v < min || v > max) return false;
  *out = v;
  return true;
}

bool copy_path(char* dst, std::size_t size, const char* src) {
  if (src == nullptr || *src == '\0' || std::strlen(src) >= size) return false;
  std::memcpy(dst, src, std::strlen(src) + 1);
  return true;
}

// A path option's value into dst (HOST_PATH_LEN bytes). false when empty or
// too long; *why then names the limit when it was the length.
bool copy_path_option(char* dst, const char* src, const char** why) {
  if (copy_path(dst, HOST_PATH_LEN, src)) return true;
  if (src != nullptr && *src != '\0') *why = PATH_LIMIT;
  return false;
}

// --nav FILE, repeatable: RINEX navigation files of a file RTK run. false
// when malformed or past a limit (*why then names it).
bool add_nav_file(const char* s, HOST_PARAM_T* p, const char** why) {
  if (p->n_nav >= HOST_MAX_NAV_FILES) {
    if (s != nullptr) *why = NAV_LIMIT;
    return false;
  }
  if (!copy_path_option(p->nav_files[p->n_nav], s, why)) return false;
  ++p->n_nav;
  return true;
}

// Whether the ECEF point r (m) lies within BASE_POS_MAX_HEIGHT_M of the WGS-84
// ellipsoid. Far points are refused before the conversion.
bool near_surface(const double* r) {
  for (int i = 0; i < 3; ++i)
    if (std::fabs(r[i]) > 1e7) return false;
  double pos[3];
  ecef2pos(r, pos);
  return std::fabs(pos[2]) <= BASE_POS_MAX_HEIGHT_M;
}

// --base-pos X,Y,Z: ECEF metres of a point near the Earth's surface
// (near_surface; else *why names the rule).
bool parse_base_pos(const char* s, HOST_PARAM_T* p, const char** why) {
  if (s == nullptr) return false;
  const char* q = s;
  for (int i = 0; i < 3; ++i) {
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(q, &end);
    if (errno != 0 || end == q || !std::isfinite(v)) return false;
    p->base_pos[i] = v;
    if (i < 2) {
      if (*end != ',') return false;
      q = end + 1;
    } else if (*end != '\0') {
      return false;
    }
  }
  if (!near_surface(p->base_pos)) {
    *why = BASE_POS_LIMIT;
    return false;
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

// A usage error: the message (fmt with one %s for arg) and the usage text on
// stderr, exit code 2. Returns 0, the value get_main_param then returns.
S16 usage_error(const char* fmt, const char* arg, HOST_PARAM_T* p) {
  std::fprintf(stderr, fmt, arg);
  std::fputc('\n', stderr);
  HOST_print_usage(stderr);
  p->exit_code = HOST_EXIT_USAGE;
  return 0;
}

// A refused option value: "talonhost: --NAME: WHY" (arg is "--NAME" or
// "--NAME=VALUE") and the usage text on stderr, exit code 2. Returns 0.
S16 limit_error(std::string_view arg, const char* why, HOST_PARAM_T* p) {
  const std::string_view name = arg.substr(0, arg.find('='));
  std::fprintf(stderr, "talonhost: %.*s: %s\n", static_cast<int>(name.size()), name.data(), why);
  HOST_print_usage(stderr);
  p->exit_code = HOST_EXIT_USAGE;
  return 0;
}

// One "--name VALUE" or "--name=VALUE" option. Returns the number of argv
// entries used, 0 on an error; *why then names the limit the value broke, or
// stays null when the option is unknown or malformed.
int parse_long_option(int argc, char** argv, int i, HOST_PARAM_T* p, const char** why) {
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
    return copy_path_option(p->*o.field, value, why) ? used : 0;
  }
  if (name == "gnss-sel-bits") {
    long long v = 0;
    if (!parse_long(value, 0, 0xFFFF, &v)) return 0;
    p->gnss_sel_bits = static_cast<U32>(v);
    return used;
  }
  if (name == "exsats") return parse_exsats(value, p) ? used : 0;
  if (name == "nav") return add_nav_file(value, p, why) ? used : 0;
  if (name == "base-pos") return parse_base_pos(value, p, why) ? used : 0;
  return 0;
}

// "help" and "version": print and end with exit code 0. Returns 1 when w
// was one of them.
bool info_word(std::string_view w, HOST_PARAM_T* p) {
  if (w == "help" || w == "--help" || w == "-h") {
    HOST_print_usage(stdout);
  } else if (w == "version" || w == "--version") {
    std::printf("Kernel Version: %lu.%lu.%lu\n", static_cast<unsigned long>(KINTERFACE_get_major_version()),
                static_cast<unsigned long>(KINTERFACE_get_minor_version()),
                static_cast<unsigned long>(KINTERFACE_get_revision()));
  } else {
    return false;
  }
  p->exit_code = HOST_EXIT_OK;
  return true;
}

// KML colour index of a colour word, -1 when w names no colour.
int kml_color_of(std::string_view w) {
  for (int c = 0; c < N_KML_COLORS; ++c)
    if (w == KML_COLOR_WORDS[static_cast<std::size_t>(c)]) return c;
  return -1;
}

// "-kmlstart <seconds>" or "-app <appendix>" with its value v. 1 when stored.
S16 value_word(std::string_view w, const char* v, HOST_PARAM_T* p) {
  if (w == "-app") {
    if (!copy_path(p->kml_append, sizeof p->kml_append, v))
      return usage_error("talonhost: bad KML appendix (1 to 24 characters): %s", v, p);
    return 1;
  }
  long long s = 0;
  if (!parse_long(v, 0, 2147483647, &s)) return usage_error("talonhost: bad -kmlstart seconds: %s", v, p);
  p->kml_start_sec = static_cast<int>(s);
  return 1;
}

// One word of the command line that is not a "--name" option: argv[*i],
// advancing *i past a value it takes. 1 when stored, 0 on a usage error.
S16 parse_word(int argc, char** argv, int* i, HOST_PARAM_T* p) {
  const char* a = argv[*i];
  const std::string_view w(a);
  if (w == "log") {
    p->mode = HOST_LOGGING;
  } else if (w == "nokml") {
    p->do_kml_output = 0;
  } else if (w == "-kmlstart" || w == "-app") {
    if (*i + 1 >= argc) return usage_error("talonhost: %s needs a value", a, p);
    return value_word(w, argv[++*i], p);
  } else if (w.size() > 3 && w.substr(0, 3) == "com") {
    long long n = 0;
    if (!parse_long(a + 3, 1, NSERIAL_COM, &n)) return usage_error("talonhost: bad port number: %s", a, p);
    p->com_num = static_cast<int>(n);
  } else if (w.size() > 3 && w.substr(0, 3) == "tty") {
    if (w.size() > 3 + 15) return usage_error("talonhost: tty type too long: %s", a, p);
    sio_set_tty_type(a + 3);
  } else if (const int c = kml_color_of(w); c >= 0) {
    p->kml_color = c;
  } else {
    return usage_error("talonhost: unknown option: %s", a, p);
  }
  return 1;
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
    if (info_word(w, p)) return 0;
    if (w.size() > 2 && w.substr(0, 2) == "--") {
      const char* why = nullptr;
      const int used = parse_long_option(argc, argv, i, p, &why);
      if (used == 0 && why != nullptr) return limit_error(w, why, p);
      if (used == 0) return usage_error("talonhost: unknown or malformed option: %s", a, p);
      i += used - 1;
      continue;
    }
    if (!parse_word(argc, argv, &i, p)) return 0;
  }
  return 1;
}
