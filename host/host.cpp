// The host program: the banner, the choice of the run mode, and the stop
// request that the runs' loops poll.
#include "host/host.h"

#include <csignal>

#include "host/host_output.h"
#include "host/host_run.h"
#include "kernel/src/kernel_interface.h"
#include "rtk/rtk.h"
#include "rtk/rtk_cfg.h"

namespace {

volatile std::sig_atomic_t Stop_flag = 0;    // 1: the running loop is to stop
volatile std::sig_atomic_t Interrupted = 0;  // 1: the stop came from SIGINT, SIGTERM or SIGHUP

}  // namespace

void sigint_handler(int) {
  Interrupted = 1;
  Stop_flag = 1;
}
int HOST_install_stop_handlers() {
  for (const int sig : {SIGINT, SIGTERM, SIGHUP})
    if (std::signal(sig, sigint_handler) == SIG_ERR) return 0;
  return 1;
}
int HOST_stop_requested() { return Stop_flag != 0 ? 1 : 0; }
int HOST_interrupted() { return Interrupted != 0 ? 1 : 0; }
void HOST_request_stop() { Stop_flag = 1; }

int host_main(int argc, char** argv) {
  HOST_PARAM_T p;
  if (!get_main_param(argc, argv, &p)) return p.exit_code;

  std::printf("\nKernel Version: %lu.%lu.%lu\n", static_cast<unsigned long>(KINTERFACE_get_major_version()),
              static_cast<unsigned long>(KINTERFACE_get_minor_version()),
              static_cast<unsigned long>(KINTERFACE_get_revision()));
  const bool model_known = p.nav_platform_model >= 0 && p.nav_platform_model < N_NAV_MODELS;
  std::printf("Navigation platform model: %s\n",
              model_known ? NVMODEL_STRINGS[static_cast<std::size_t>(p.nav_platform_model)] : "UNKNOWN");
  if (p.dazar_enabled) std::printf("DAZAR enabled!\n");
  HOSTOUT_set_kml_start_second(p.kml_start_sec);

  if (p.rtk_mode == 0) return HOST_run_navigation(p);
  const int is_rinex = p.is_rinex || p.rover_rinex[0] != '\0' || p.base_rinex[0] != '\0';
  RTK_CFG_set_integrity(p.rtk_integrity);
  RTK_CFG_set_snr_reentry(p.snr_reentry);  // 0..600 epochs, checked by the option table
  RTK_init(p.navsys, p.snr_mask, p.geosnr_mask, p.evl_mask, is_rinex, p.exsats.data());
  RTK_init_medium();
  GLOSDIFB_reset_glo_sd_ifb();
  if (p.mode == HOST_LOGGING) return HOST_run_rtk_realtime(p);
  return HOST_run_rtk_file(p);
}
