// Processing options of the RTK engine.
#include "rtk/rtk_cfg.h"

namespace {

RTK_CFG_T Rtk_cfg{};
int Rtk_cfg_is_valid = 0;
int Rtk_rover_func = RTK_ROVER_FUNC_NORMAL;
F32 Rtk_moving_base_baseline = 0.0f;  // m
int Rtk_integrity = 1;                // prcopt_t.integrity of the next RTK_CFG_get
double Rtk_snr_reentry = 20.0;        // epochs, prcopt_t.snr_reentry of the next RTK_CFG_get

constexpr double SNR_REENTRY_MAX = 600.0;  // epochs

constexpr int MODE_KINEMA = 2;
constexpr int MODE_MOVEB = 4;

}  // namespace

void RTK_CFG_init() {
  Rtk_cfg = RTK_CFG_T{};
  Rtk_cfg_is_valid = 0;
  Rtk_rover_func = RTK_ROVER_FUNC_NORMAL;
  Rtk_moving_base_baseline = 0.0f;
}

void RTK_CFG_set_rtk_cfg_is_valid(int valid) { Rtk_cfg_is_valid = valid; }

void RTK_CFG_set_by_master(const RTK_CFG_T* cfg) {
  if (cfg != nullptr) Rtk_cfg = *cfg;
}

int RTK_CFG_set_rtk_rover_func(int func, F32 moving_base_baseline_m) {
  if (func < RTK_ROVER_FUNC_NORMAL || func > RTK_ROVER_FUNC_MOVING_BASE) return 0;
  Rtk_rover_func = func;
  Rtk_moving_base_baseline = moving_base_baseline_m;
  return 1;
}

int RTK_CFG_set() { return 1; }

void RTK_CFG_set_integrity(int on) { Rtk_integrity = on != 0 ? 1 : 0; }

int RTK_CFG_set_snr_reentry(double epochs) {
  if (!(epochs >= 0.0 && epochs <= SNR_REENTRY_MAX)) return 0;  // also refuses NaN
  Rtk_snr_reentry = epochs;
  return 1;
}

void RTK_CFG_get(prcopt_t* opt_p, int navsys, int snr_mask, int geo_snr_mask, int elv_mask, int* exsats_p) {
  prcopt_t& o = *opt_p;
  o = prcopt_t{};
  o.mode = MODE_KINEMA;
  o.nf = 1;
  o.navsys = navsys;
  o.elmin = elv_mask * D2R;
  o.snrmask.ena[0] = o.snrmask.ena[1] = 1;
  for (double& m : o.snrmask.mask[0]) m = snr_mask;
  o.snrmask.bd2_geo_snr_mask = geo_snr_mask;
  o.sateph = 0;
  o.modear = 3;  // fix and hold
  o.glomodear = 1;
  o.maxout = 5;
  o.minlock = 10;
  o.minlock_low_elv = 20;
  o.minfix = 10;
  o.ionoopt = 1;
  o.tropopt = 1;
  o.dynamics = 1;
  o.niter = 1;
  o.eratio[0] = 300.0;
  o.err[0] = 100.0;
  o.err[1] = 0.003;  // m
  o.err[2] = 0.003;  // m
  o.err[3] = 0.0;    // m per 10 km of baseline
  o.err[4] = 10.0;   // Doppler, Hz
  o.std[0] = 30.0;   // ambiguity, cycles
  o.std[1] = 0.03;
  o.std[2] = 0.3;
  o.prn[0] = 1e-4;  // ambiguity, cycles/sqrt(s)
  o.prn[1] = 1e-3;
  o.prn[2] = 1e-4;
  o.prn[3] = 10.0;  // horizontal acceleration, m/s^2
  o.prn[4] = 10.0;  // vertical acceleration, m/s^2
  o.sclkstab = 5e-12;
  o.thresar[0] = 3.0;
  o.thresar[1] = 1.0;  // m, float position sigma above which a fix needs a larger ratio (0: no limit)
  o.elmaskar = o.elmin;
  o.elmaskhold = 0.0;
  o.maxtdiff = 30.0;
  o.maxinno = 30.0;
  o.maxgdop = 30.0;
  if (exsats_p != nullptr) {
    const int n = exsats_p[0];
    for (int i = 1; i <= n && i <= MAXSAT; ++i) {
      const int sat = exsats_p[i];
      if (sat >= 1 && sat <= MAXSAT) o.exsats[sat - 1] = 1;
    }
  }
  o.tarn_set_max_rtk_sv_numbers = 14;
  o.tanr_elv_mask_for_baseline_larger_than_2km = 0.3141592653589793;  // 18 deg
  o.olvo_remain_cont_pntpos_cnt_after_raim = 1;
  o.olvo_alternative_raim_fde = 1;
  o.olvo_cycle_slip_detect = 1;
  o.olvo_delay_to_enter_new_sat = 1;
  o.olvo_calc_prc_for_master = 1;
  o.olvo_support_sbas = 1;
  o.olvo_support_error_ellipsoid = 1;
  o.olvo_calibrate_GLO_SD_IFB = 1;
  o.olvo_only_use_GLO_PR_with_stable_SD_IFB = 250;
  o.olvo_mask_invalid_meas = 1;
  o.olvo_remove_sbas_after_entering_fix_and_hold = 1;
  o.olvo_do_not_use_sbas_when_sv_are_sufficient = 1;
  o.integrity = Rtk_integrity;
  o.snr_reentry = Rtk_snr_reentry;

  if (Rtk_cfg_is_valid) {
    o.thresar[0] = Rtk_cfg.ar_fix_ratio_scale_100 * 0.01;
    if (Rtk_rover_func == RTK_ROVER_FUNC_MOVING_BASE) {
      o.mode = MODE_MOVEB;
      o.baseline[0] = Rtk_moving_base_baseline;
      o.baseline[1] = 0.1;
    } else if (Rtk_rover_func == RTK_ROVER_FUNC_FLOAT) {
      o.olvo_float_rtk_mode = 1;
    }
  }
  if (o.olvo_float_rtk_mode) o.olvo_do_not_use_sbas_when_sv_are_sufficient = 0;
  if (!o.olvo_support_sbas) {
    o.olvo_remove_sbas_after_entering_fix_and_hold = 0;
    o.olvo_do_not_use_sbas_when_sv_are_sufficient = 0;
  } else {
    o.navsys |= SYS_SBS;
  }
}
