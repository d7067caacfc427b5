#include "host/host_start_record.h"

KERNEL_INIT_T HOST_builtin_kernel_init(S16 tcxo_freq_mode) {
  KERNEL_INIT_T k{};
  k.init_pos_p = nullptr;
  k.force_warm = 0;
  k.force_cold = 0;
  k.power_saving_mode = 1;
  k.tcxo_freq_mode = tcxo_freq_mode;
  k.rf_bit_mode = 0;
  k.tcxo_ppm = 0;
  k.npse = 6;
  k.pse_duty_power_mode = 0;
  k.dazar_mode = 0;
  k.sbas_para = SBAS_PARAMETER_T{1, SBAS_RANGING_MODE_AUTO, 8, 1, 2, 7};
  k.qzss_para = QZSS_PARAMETER_T{1, 1};
  k.usr_in_time_sync = USER_INPUT_TIME_SYNC_T{0, 0, 0, 0};
  k.reset_kernel_settings = 1;
  k.tm_cal_np_enable = 0;
  k.gnss_select_bits = 1;
  k.position_rate = 1;
  k.nav_platform_model = 0;
  k.rsvd = 0;
  k.dop_mask = KERNEL_INIT_DOP_MASK_T{DOP_MASK_AUTO, 300, 300, 300};
  k.enable_2D_navigation_at_first_pos_fix = 1;
  k.enable_2D_navigation_after_first_pos_fix = 1;
  k.clock_offset_from_flash = 0;
  k.leap_sec_from_flash = 16;
  k.elv_cnr_mask = ELV_CNR_MASK_T{ELV_CNR_MASK_AUTO, 5, 0};
  return k;
}
