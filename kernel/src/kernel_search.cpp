// Kernel search: start mode, clock offset and almanac readiness for the GPS
// search strategy.
#include "kernel/src/kernel_search.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "host/wrap.h"
#include "kernel/src/almanac.h"
#include "kernel/src/channel.h"
#include "kernel/src/gtc_adjust.h"
#include "kernel/src/navigate.h"
#include "kernel/src/search.h"
#include "kernel/src/sky_view.h"
#include "kernel/src/sv_health.h"
#include "kernel/src/tcxo_freq.h"
#include "misc/saturate.h"

namespace {

constexpr S16 HOT_SWITCH_MIN_SV = 6;  // GPS satellites on the sky a forced hot search needs

S32 Clock_offset = 0;
S32 Clock_offset_via_sbas = 0;
S32 Kernel_init_clock_offset_hz = 0;
S16 Has_received_all_almanacs = 0;

// offset0 + s x hz in engine units, truncated and saturated.
S32 hz_to_engine(D64 hz) {
  return SAT_trunc_s32(static_cast<D64>(TCXO_get_pse_nco_offset0()) +
                       static_cast<D64>(TCXO_get_pse_nco_freq_scale()) * hz);
}

void update_clock_offset() {
  if (NV_get_fixmode() >= FIX_2D && NV_get_fix_count() > 1) {
    D64 cbias = 0.0;
    F32 cdrift = 0.0F;
    NV_get_clock_bias_drift(&cbias, &cdrift);
    // Drift (m/s) to Hz at L1, then into engine units with the sign of the offset.
    Clock_offset = SAT_trunc_s32(static_cast<D64>(TCXO_get_pse_nco_offset0()) -
                                 static_cast<D64>(TCXO_get_pse_nco_freq_scale()) *
                                     (static_cast<D64>(cdrift) * KSEARCH_MPS_TO_HZ_L1));
    return;
  }
  S16 f = 0;
  if (CH_get_any_sbas_reliable_freq_in_hz(&f) == 0) return;
  if (std::abs(static_cast<S64>(Kernel_init_clock_offset_hz) + f) > KSEARCH_SBAS_CLOCK_MAX_DIFF_HZ) {
    Kernel_init_clock_offset_hz = -f;
    Clock_offset = hz_to_engine(-static_cast<D64>(f));
    Clock_offset_via_sbas = Clock_offset;
  }
}

}  // namespace

S16 KSEARCH_start_mode(S16 can_do_hot_start, S32 elapse_dt) {
  if (can_do_hot_start == 0) return SRST_COLD_START;
  return elapse_dt < KSEARCH_FAST_HOT_MAX_DT_S ? SRST_FAST_HOT_START : SRST_HOT_WARM_START;
}

void KSEARCH_init(S16 npse_used, S16 do_power_save, S16 search_duty_mode, S16 tcxo_ppm, S32 init_clock_offset_hz,
                  S16 can_do_hot_start, S32 elapse_dt) {
  const S16 start = KSEARCH_start_mode(can_do_hot_start, elapse_dt);
  Kernel_init_clock_offset_hz = init_clock_offset_hz;
  Clock_offset = hz_to_engine(static_cast<D64>(init_clock_offset_hz));
  Clock_offset_via_sbas = 0;
  Has_received_all_almanacs = 0;
  SRCH_init(std::min<S16>(npse_used, SRST_MAX_PSE), start, Clock_offset, search_duty_mode, tcxo_ppm);
  SRST_set_power_off_mode(do_power_save);
}

void KSEARCH_process() {
  update_clock_offset();
  SRCH_tick(Clock_offset);
  if (Has_received_all_almanacs == 0 && KSEARCH_check_received_all_almanacs() != 0) {
    Has_received_all_almanacs = 1;
    SRST_set_all_almanacs_ready(1);
  }
}

S16 KSEARCH_check_received_all_almanacs() {
  if (GTCADJ_get_gtc_wn_adjust_type() != GTCADJ_CONFIRMED) return 0;
  if (SVH_has_valid_data() == 0) return 0;
  S16 wn = 0;
  D64 tow = 0.0;
  GTCADJ_get_adjusted_gtc(&wn, &tow);
  return ALM_check_received_all_almanacs(wn);
}

S16 KSEARCH_force_GPS_switch_to_hot_search() {
  std::array<SV_T, SVSKY_LIST_CAPACITY> list{};
  if (SVSKY_get_sorted_SV_on_sky_one_gnss_type(GNSS_TYPE_GPS, list.data()) < HOT_SWITCH_MIN_SV) return 0;
  SRST_switch_to_short_hot_warm_search();
  return 1;
}

S16 KSEARCH_force_GPS_switch_to_cold_search() {
  SRST_switch_to_normal_cold_search();
  return 1;
}

S16 KSEARCH_is_GPS_in_blind_search_mode() { return SRST_is_blind_search(); }

void KSEARCH_set_event_clear_all_almanacs() {
  Has_received_all_almanacs = 0;
  SRST_set_all_almanacs_ready(0);
}

void KSEARCH_set_enable_waas_search(S16 enable) {
  SRST_set_waas_enable(enable);
  PSE_update_sbas_enable_disable(enable);
}

void KSEARCH_update_sbas_limitation(U08 sbas_subsystem_mask, U08 sbas_max_n_tm) {
  PSE_update_sbas_limitation(sbas_subsystem_mask, sbas_max_n_tm);
}

void KSEARCH_set_enable_qzss_search(S16 enable, S16 max_num) { PSE_update_qzss_limitation(enable, max_num); }

S32 KSEARCH_get_clock_offset() { return Clock_offset; }
S32 KSEARCH_get_clock_offset_via_sbas() { return Clock_offset_via_sbas; }
S32 KSEARCH_get_init_clock_offset_hz() { return Kernel_init_clock_offset_hz; }
S16 KSEARCH_has_received_all_almanacs() { return Has_received_all_almanacs; }
