// sol_plot: draws a talonhost solution file and writes its track.
//
//   sol_plot SOLFILE [--png F] [--kml F] [--gpx F] [--ref LAT,LON,ALT]
//
// SOLFILE is Normal_sol.txt or Geotagging_sol.txt. --png writes the picture
// (track and east/north/up, ratio and age of differential against time,
// coloured by status), --kml and --gpx the track. East/north/up are taken from
// the reference LAT,LON (deg) ALT (m): by default the mean of the FIX rows,
// else of all rows. A summary goes to stdout, messages to stderr.
// Exit codes: 0 done; 1 the input cannot be read or has no solution row, or
// an output cannot be written; 2 bad command line.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/sol_plot/sol_plot.h"

namespace {

struct ARGS_T {
  const char* input = nullptr;
  const char* png = nullptr;
  const char* kml = nullptr;
  const char* gpx = nullptr;
  bool has_ref = false;
  double ref[3] = {0.0, 0.0, 0.0};  // lat, lon (deg), alt (m)
};

void usage() { std::fprintf(stderr, "usage: sol_plot SOLFILE [--png F] [--kml F] [--gpx F] [--ref LAT,LON,ALT]\n"); }

// "LAT,LON,ALT" in deg, deg, m with |lat| <= 90, |lon| <= 180, |alt| <= 1e7.
bool parse_ref(const char* s, double ref[3]) {
  const char* p = s;
  for (int i = 0; i < 3; ++i) {
    char* end = nullptr;
    errno = 0;
    ref[i] = std::strtod(p, &end);
    if (end == p || errno == ERANGE || !std::isfinite(ref[i])) return false;
    if (*end != (i < 2 ? ',' : '\0')) return false;
    p = end + 1;
  }
  return std::fabs(ref[0]) <= 90.0 && std::fabs(ref[1]) <= 180.0 && std::fabs(ref[2]) <= 1e7;
}

// Returns 0 with args filled, else the exit code (2) after a message.
int parse_args(int argc, char** argv, ARGS_T* a) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const char** dst = nullptr;
    if (std::strcmp(arg, "--png") == 0) dst = &a->png;
    if (std::strcmp(arg, "--kml") == 0) dst = &a->kml;
    if (std::strcmp(arg, "--gpx") == 0) dst = &a->gpx;
    const bool is_ref = std::strcmp(arg, "--ref") == 0;
    if ((dst != nullptr || is_ref) && i + 1 >= argc) {
      std::fprintf(stderr, "sol_plot: %s: missing value\n", arg);
      return 2;
    }
    if (dst != nullptr) {
      *dst = argv[++i];
    } else if (is_ref) {
      a->has_ref = parse_ref(argv[++i], a->ref);
      if (!a->has_ref) {
        std::fprintf(stderr, "sol_plot: --ref %s: expected LAT,LON,ALT (deg, deg, m)\n", argv[i]);
        return 2;
      }
    } else if (arg[0] == '-' && arg[1] != '\0') {
      std::fprintf(stderr, "sol_plot: %s: unknown option\n", arg);
      usage();
      return 2;
    } else if (a->input == nullptr) {
      a->input = arg;
    } else {
      std::fprintf(stderr, "sol_plot: %s: only one solution file\n", arg);
      return 2;
    }
  }
  if (a->input == nullptr) {
    usage();
    return 2;
  }
  return 0;
}

// Write n bytes to the file path; false after a message on stderr.
bool write_file(const char* path, const void* data, std::size_t n) {
  std::FILE* fp = std::fopen(path, "wb");
  if (fp == nullptr) {
    std::fprintf(stderr, "sol_plot: %s: cannot create: %s\n", path, std::strerror(errno));
    return false;
  }
  const bool wrote = std::fwrite(data, 1, n, fp) == n;
  const int saved = errno;
  const bool closed = std::fclose(fp) == 0;
  if (!wrote || !closed) {
    std::fprintf(stderr, "sol_plot: %s: cannot write: %s\n", path, std::strerror(wrote ? errno : saved));
    return false;
  }
  std::printf("wrote %s (%zu bytes)\n", path, n);
  return true;
}

// Base name of a path, for titles.
const char* base_name(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

void print_summary(const ARGS_T& a, const SP_SOL_T& sol, long ref_rows) {
  const long total = static_cast<long>(sol.rows.size());
  std::printf("%s: %ld rows", a.input, total);
  for (int s = 0; s < SP_NUM_STATUS; ++s)
    std::printf(", %s %ld (%.1f%%)", SP_status_name(s), sol.count[s],
                100.0 * static_cast<double>(sol.count[s]) / static_cast<double>(total));
  std::printf("\n");
  if (a.has_ref)
    std::printf("reference %.8f %.8f %.3f (given)\n", a.ref[0], a.ref[1], a.ref[2]);
  else
    std::printf("reference %.8f %.8f %.3f (mean of %ld %s rows)\n", a.ref[0], a.ref[1], a.ref[2], ref_rows,
                sol.count[SP_FIX] > 0 ? "FIX" : "positioned");
}

}  // namespace

int main(int argc, char** argv) {
  ARGS_T a;
  const int bad = parse_args(argc, argv, &a);
  if (bad != 0) return bad;
  static SP_SOL_T sol;
  const int got = SP_sol_read_file(a.input, &sol);
  if (got < 0) {
    std::fprintf(stderr, "sol_plot: %s: not a regular file\n", a.input);
    return 1;
  }
  if (got == 0) {
    std::fprintf(stderr, "sol_plot: %s: cannot read: %s\n", a.input, std::strerror(errno));
    return 1;
  }
  if (sol.malformed > 0)
    std::fprintf(stderr, "sol_plot: %s: %ld malformed lines skipped (first at line %ld)\n", a.input, sol.malformed,
                 sol.first_bad_line);
  if (sol.rows.empty()) {
    std::fprintf(stderr, "sol_plot: %s: no solution rows\n", a.input);
    return 1;
  }
  if (sol.no_pos > 0)
    std::fprintf(stderr, "sol_plot: %s: %ld rows without a position left out of the track\n", a.input, sol.no_pos);
  long ref_rows = 0;
  if (!a.has_ref) ref_rows = SP_sol_default_ref(sol, &a.ref[0], &a.ref[1], &a.ref[2]);
  SP_sol_enu(&sol, a.ref[0], a.ref[1], a.ref[2]);
  print_summary(a, sol, ref_rows);

  bool ok = true;
  if (a.png != nullptr) {
    static SP_CANVAS_T canvas;
    SP_figure_draw(sol, base_name(a.input), a.ref[0], a.ref[1], a.ref[2], &canvas);
    std::vector<std::uint8_t> png;
    SP_png_encode(canvas.rgb.data(), canvas.width, canvas.height, 1, &png);
    ok = write_file(a.png, png.data(), png.size()) && ok;
  }
  std::string doc;
  if (a.kml != nullptr) {
    SP_track_kml(sol, base_name(a.input), &doc);
    ok = write_file(a.kml, doc.data(), doc.size()) && ok;
  }
  if (a.gpx != nullptr) {
    SP_track_gpx(sol, base_name(a.input), &doc);
    ok = write_file(a.gpx, doc.data(), doc.size()) && ok;
  }
  return ok ? 0 : 1;
}
