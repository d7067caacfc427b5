// Stand-ins for the measurement and navigation modules (ranges, carrier
// cycles, corrections, navigation, platform model, measurement checks and
// prediction), until the measurement/navigation issues replace them with the
// real modules.
//
// They give neutral results: no fix, no usable range, nothing stored. The
// range records exist (one per channel, so that the channel module's handles
// are real) but hold nothing. Corrections, carrier smoothing and carrier
// cycles are real modules (correction, carrier_smoothing, carrier_cycles).
#include <array>

#include "kernel/src/kernel_modules.h"
#include "kernel/src/nav_inputs.h"
#include "misc/talon_assert.h"

struct RNG_S {
  S16 ch_id;
};

namespace {

template <typename T>
std::array<T, NUM_HW_CHANNELS> numbered_records() {
  std::array<T, NUM_HW_CHANNELS> a{};
  for (std::size_t i = 0; i < a.size(); ++i) a[i].ch_id = static_cast<S16>(i);
  return a;
}
std::array<RNG_S, NUM_HW_CHANNELS> Range_ary = numbered_records<RNG_S>();

S16 Nvmodel = NMODEL_DEFAULT;

}  // namespace

// --- Ranges -------------------------------------------------------------------------
void RNG_init() {}
void RNG_update_gtc_time(S16, D64, D64, D64) {}
RNG_T RNG_get_reference(S16 ch_id) {
  talon_assert(ch_id >= 0 && ch_id < NUM_HW_CHANNELS, "range record id");
  return &Range_ary[static_cast<std::size_t>(ch_id)];
}
void RNG_reset(RNG_T) {}
void RNG_set(RNG_T, SV_T, S16) {}
void RNG_reset_calculation() {}
S16 RNG_update_ttime(RNG_T, D64) { return 0; }
void RNG_update_carrier_dopp_freq(RNG_T, S16, S16, D64) {}
void RNG_update_carrier_dopp_freq_by_nco_freq(RNG_T, S16, S16, D64) {}
void RNG_calculate_range_variance(RNG_T, S16, S16) {}
void RNG_calculate_carrier_cycles_by_good_acc_carrier_slots() {}

// --- Navigation: no fix -------------------------------------------------------------
void NV_init() {}
S16 NV_process(S16, D64, S16, RNG_T*, D64, D64) { return 1; }
S16 NV_has_fixed() { return 0; }
S16 NV_has_stored_init_time() { return 0; }
S16 NV_has_stored_init_position() { return 0; }
void NV_restore_data(S16, S32, const LLA_T*, F32) {}
void NV_restore_time_pos_data_only(S16, S32, const LLA_T*) {}
void NV_set_force_3D_first_fix_for_hot_start_application() {}
void NV_install_callback_drop_channel(NV_DROP_CHANNEL_CALLBACK_T) {}
void NV_install_callback_position_fix_fault(NV_POSITION_FIX_FAULT_CALLBACK_T) {}
void NV_install_callback_update_wn_for_rom_agps(NV_UPDATE_WN_CALLBACK_T) {}
S16 NV_is_channel_meas_use_in_fix(S16) { return 0; }
S16 NV_is_channel_meas_show_use_in_fix(S16) { return 0; }
S16 NV_is_channel_meas_broadcast_differential_message(S16) { return 0; }
S16 NV_get_error_statistics(F32* a, F32* b, F32* c, F32* d, F32* enu) {
  *a = *b = *c = *d = 0.0f;
  enu[0] = enu[1] = enu[2] = 0.0f;
  return 0;
}
NV_ESTIN_T NVESTIN_get_reference(S16) { return nullptr; }
S16 NVESTIN_has_data(NV_ESTIN_T) { return 0; }
D64 NVESTIN_get_pr_diff(NV_ESTIN_T) { return 0.0; }
S16 LSQRAIM_get_RAIM_enu_error(F32*, F32*, F32*, S16*, F32*, F32*, F32*) { return 0; }

S16 NV_get_fixmode() { return FIX_NONE; }
U32 NV_get_fix_count() { return 0; }
S16 NV_get_fix_svs() { return 0; }
F32 NV_get_tdop() { return 99.9f; }
void NV_get_ecef_velocity(VEL_T* vel_p) { *vel_p = VEL_T{0.0f, 0.0f, 0.0f}; }
void NV_get_ecef_position(POS_T* pos_p) { *pos_p = POS_T{0.0, 0.0, 0.0}; }
S16 NV_get_time(D64* tow, U16* wn) {
  *tow = 0.0;
  *wn = 0;
  return 0;
}
void NV_get_lla_position(LLA_T* lla_p) { *lla_p = LLA_T{0.0, 0.0, 0.0f}; }
void NV_get_clock_bias_drift(D64* cbias, F32* cdrift) {
  *cbias = 0.0;
  *cdrift = 0.0f;
}

// The platform model is kept as given (the navigation model module applies it).
void NVMODEL_set_model(S16 model) { Nvmodel = model; }
S16 NVMODEL_get_model() { return Nvmodel; }

// --- Measurement checks and prediction ------------------------------------------------
void KMCHECK_init() {}
void KMCHECK_check_result_process() {}
void KMPREDICT_init(S16, S32) {}
void KMPREDICT_process() {}
void KMPREDICT_reset_prediction_flag() {}
