// Byte-order conversion of the kernel initialisation records.
#include <initializer_list>

#include "kernel/src/kernel.h"
#include "misc/endian_swap.h"

void KERNEL_init_data_endian_conversion(KERNEL_INIT_T* p) {
  for (S16* v : {&p->force_warm, &p->force_cold, &p->power_saving_mode, &p->tcxo_freq_mode, &p->rf_bit_mode,
                 &p->tcxo_ppm, &p->npse, &p->pse_duty_power_mode, &p->dazar_mode})
    ENDIAN_swap_S16(v);
  for (S16* v : {&p->usr_in_time_sync.enable_disable, &p->usr_in_time_sync.year, &p->usr_in_time_sync.month,
                 &p->usr_in_time_sync.day})
    ENDIAN_swap_S16(v);
  ENDIAN_swap_S16(&p->reset_kernel_settings);
  ENDIAN_swap_S16(&p->tm_cal_np_enable);
  ENDIAN_swap_U16(&p->gnss_select_bits);
  ENDIAN_swap_U16(&p->position_rate);
  ENDIAN_swap_S16(&p->nav_platform_model);
  ENDIAN_swap_U16(&p->rsvd);
  ENDIAN_swap_S16(&p->dop_mask.mask_mode_S16);
  ENDIAN_swap_U16(&p->dop_mask.pdop_mask_U16);
  ENDIAN_swap_U16(&p->dop_mask.hdop_mask_U16);
  ENDIAN_swap_U16(&p->dop_mask.gdop_mask_U16);
  ENDIAN_swap_S16(&p->enable_2D_navigation_at_first_pos_fix);
  ENDIAN_swap_S16(&p->enable_2D_navigation_after_first_pos_fix);
  ENDIAN_swap_S32(&p->clock_offset_from_flash);
  ENDIAN_swap_S16(&p->leap_sec_from_flash);
  ENDIAN_swap_S16(&p->elv_cnr_mask.elv_mask);
  ENDIAN_swap_S16(&p->elv_cnr_mask.cnr_mask);
}

void KERNEL_init_pos_time_endian_conversion(KERNEL_INIT_POS_TIME_T* p) {
  ENDIAN_swap_D64(&p->lat_deg);
  ENDIAN_swap_D64(&p->lon_deg);
  ENDIAN_swap_D64(&p->alt);
  ENDIAN_swap_S16(&p->time_format_select);
  ENDIAN_swap_S16(&p->wn);
  ENDIAN_swap_S32(&p->tow);
  for (U16* v : {&p->year, &p->month, &p->day, &p->hour, &p->minute, &p->sec}) ENDIAN_swap_U16(v);
}
