// libFuzzer target of the CRVRAW reader: arbitrary bytes on the rover and base
// streams and the recorder reader, then a single-point solution over whatever
// epoch and navigation data came out of them; or both streams into the whole
// engine cycle (screening, relative positioning, ambiguity resolution).
#include <cstddef>
#include <cstdint>

#include "rtk/crv.h"
#include "rtk/glo_sd_ifb.h"
#include "rtk/pntpos.h"
#include "rtk/rtk.h"
#include "rtk/rtk_raw.h"

namespace {

obsd_t Obs[MAXOBS_CYCLE];

prcopt_t options() {
  prcopt_t opt{};
  opt.navsys = SYS_ALL;
  opt.elmin = 0.0;
  opt.eratio[0] = 300.0;
  opt.err[1] = opt.err[2] = 0.003;
  opt.ionoopt = 1;
  opt.tropopt = 1;
  opt.maxgdop = 30.0;
  opt.olvo_alternative_raim_fde = 1;
  return opt;
}

void solve() {
  static const prcopt_t opt = options();
  int nr = 0, nb = 0;
  if (RTK_RAW_get_meas(Obs, &nr, &nb) <= 0) return;
  sol_t sol{};
  char msg[128];
  pntpos(Obs, nr, RTK_get_nav(), &opt, &sol, nullptr, nullptr, msg);
}

// Alternate chunks on the rover and base streams, an engine cycle after each.
void run_engine(const std::uint8_t* data, std::size_t size) {
  int exsats[10] = {0};
  RTK_init(SYS_GPS | SYS_GLO | SYS_QZS, 35, 40, 15, 0, exsats);
  RTK_init_medium();
  GLOSDIFB_reset_glo_sd_ifb();
  char buf[256];
  std::size_t i = 1;
  int to_rover = 1;
  while (i < size) {
    std::size_t n = 0;
    while (n < sizeof buf && i < size) buf[n++] = static_cast<char>(data[i++]);
    if (to_rover)
      CRV_process_rover(static_cast<int>(n), buf);
    else
      CRV_process_base(static_cast<int>(n), buf);
    to_rover = !to_rover;
    if (RTK_loop()) {
      sol_t sol{};
      RTK_get_solution(&sol);
      (void)RTK_get_baseline();
      U16 wn = 0, type = 0;
      U32 tow = 0;
      RTK_get_rover_meas_time_info(&wn, &tow, &type);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CRV_init();
  RTK_RAW_init();
  RTK_NAV_init(SYS_ALL);
  if (size == 0) return 0;
  // First byte: where the bytes go; the rest in chunks of varying length.
  const int mode = data[0] % 4;
  if (mode == 3) {
    run_engine(data, size);
    return 0;
  }
  char buf[512];
  std::size_t i = 1;
  while (i < size) {
    std::size_t n = 0;
    while (n < sizeof buf && i < size) buf[n++] = static_cast<char>(data[i++]);
    if (mode == 0)
      CRV_process_rover(static_cast<int>(n), buf);
    else if (mode == 1)
      CRV_process_base(static_cast<int>(n), buf);
    else
      for (std::size_t k = 0; k < n; ++k) CRV_post_processing(static_cast<unsigned char>(buf[k]));
    solve();
  }
  return 0;
}
