// libFuzzer target of sol_plot: arbitrary bytes as a solution file, then the
// output path over whatever rows came out (reference, east/north/up, KML,
// GPX). Drawing the 1200 x 940 picture costs ~60 ms under the sanitizers, so
// only inputs whose byte sum is a multiple of 1024 are also drawn.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/sol_plot/sol_plot.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static SP_SOL_T sol;
  static SP_CANVAS_T canvas;
  SP_sol_parse_text(reinterpret_cast<const char*>(data), size, &sol);
  if (sol.rows.empty()) return 0;
  double lat = 0.0;
  double lon = 0.0;
  double h = 0.0;
  SP_sol_default_ref(sol, &lat, &lon, &h);
  SP_sol_enu(&sol, lat, lon, h);
  std::string xml;
  SP_track_kml(sol, "fuzz", &xml);
  SP_track_gpx(sol, "fuzz", &xml);
  unsigned sum = 0;
  for (std::size_t i = 0; i < size; ++i) sum += data[i];
  if (sum % 1024U == 0) {
    SP_canvas_init(&canvas, SP_FIG_WIDTH, SP_FIG_HEIGHT, SP_RGB_T{255, 255, 255});
    SP_figure_draw(sol, "fuzz", lat, lon, h, &canvas);
  }
  return 0;
}
