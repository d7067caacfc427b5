// Stand-ins for the search strategy and for the 1PPS scheduling, until the
// search and clock issues (and the 1PPS timing issue) replace them.
//
// The search stand-in sends
// the search engine one command only: the start clock offset, once at start,
// in the engine's units as the search sends it after its first tick
// (offset0 + scale x Hz, truncated, saturated to the S32 field), so that the clock offset chosen at start
// (backup clock record, or the start record's) reaches the target as the
// search will send it. Cold search is blind; the forced switches are taken.

#include "host/wrap.h"
#include "kernel/src/kernel_modules.h"
#include "kernel/src/tcxo_freq.h"
#include "misc/saturate.h"

namespace {
S16 Do_power_saving = 0;
}  // namespace

// --- Search ---------------------------------------------------------------------------------
void KSEARCH_init(S16, S16 do_power_save, S16, S16, S32 init_clock_offset_hz, S16, S32) {
  Do_power_saving = do_power_save;
  // Engine frequency units: offset0 + scale (units per Hz) x Hz, truncated.
  const D64 clock_offset = static_cast<D64>(TCXO_get_pse_nco_offset0()) +
                           static_cast<D64>(TCXO_get_pse_nco_freq_scale()) * static_cast<D64>(init_clock_offset_hz);
  PSE_set_clock_offset(SAT_trunc_s32(clock_offset));
}
void KSEARCH_process() {}
S16 KSEARCH_force_GPS_switch_to_hot_search() { return 0; }
S16 KSEARCH_force_GPS_switch_to_cold_search() { return 1; }
S16 KSEARCH_is_GPS_in_blind_search_mode() { return 1; }
void KSEARCH_set_event_clear_all_almanacs() {}
void SRST_set_power_off_mode(S16 on) { Do_power_saving = on; }
S16 SRST_get_power_off_mode() { return Do_power_saving; }
void SRST_set_force_no_power_saving_in_cold_search() {}

// --- 1PPS -------------------------------------------------------------------------------------
void K1PPS_init() {}
void K1PPS_process() {}
