// Stand-ins for the measurement and navigation modules (ranges, carrier
// cycles, corrections, navigation, platform model, measurement checks and
// prediction), until the measurement/navigation issues replace them with the
// real modules.
//
// They give neutral results: no fix, nothing stored. Ranges, corrections,
// carrier smoothing and carrier cycles are real modules (range, correction,
// carrier_smoothing, carrier_cycles).
//
// The navigation stand-in keeps a position restored at start-up (the backup
// image's stored position, or the user's start position) and, once a second,
// hands it to the ranges as a receiver at rest: the satellites' rough states,
// elevations and azimuths are refreshed, and the geometric ranges and the
// atmospheric delays computed, so that the corrected ranges of a warm start
// can be seen before the navigation fix exists.
#include <array>
#include <cmath>

#include "kernel/src/coordinate.h"
#include "kernel/src/kernel_modules.h"
#include "kernel/src/nav_inputs.h"

namespace {

S16 Nvmodel = NMODEL_DEFAULT;

struct RESTORED_POS_T {
  bool valid;
  LLA_T lla;     // rad, rad, m
  POS_T ecef;    // m
  F32 tm[3][3];  // rows east, north, up in ECEF
};
RESTORED_POS_T Restored{};

void keep_position(const LLA_T* lla) {
  if (lla == nullptr || (lla->lat == 0.0 && lla->lon == 0.0 && lla->alt == 0.0F) || !std::isfinite(lla->lat) ||
      !std::isfinite(lla->lon) || !std::isfinite(lla->alt) || std::fabs(lla->lat) > 1.5707963267948966 ||
      std::fabs(lla->lon) > 6.283185307179586)
    return;
  Restored.valid = true;
  Restored.lla = *lla;
  COO_geodetic_to_cartesian(lla, &Restored.ecef);
  COO_calculate_enu_tm(static_cast<F32>(lla->lat), static_cast<F32>(lla->lon), Restored.tm);
}

// The ranges of the epoch seen from the restored position (a receiver at
// rest); at a whole second the satellites' rough states and elevations are
// refreshed first.
void ranges_from_restored_position(S16 wn, D64 sec, S16 n, RNG_T* rngs) {
  if (!Restored.valid) return;
  const S32 tow = static_cast<S32>(sec);
  if (std::fabs(sec - std::round(sec)) < 0.01) {
    for (S16 i = 0; i < n; ++i) {
      const SV_T sv = RNG_get_sv(rngs[i]);
      if (SV_rough(sv, wn, static_cast<S32>(std::round(sec)), nullptr, nullptr)) SV_invalidate_azm_elv(sv);
    }
  }
  RNG_update_receiver_states_for_elevation(&Restored.ecef, Restored.tm);
  const VEL_T at_rest{0.0F, 0.0F, 0.0F};
  RNG_update_receiver_states(&Restored.ecef, &at_rest, 0.0, 0.0F);
  RNG_calculate_atmosphere_delay(tow, &Restored.lla);
}

}  // namespace

// --- Navigation: no fix -------------------------------------------------------------
void NV_init() { Restored = RESTORED_POS_T{}; }
S16 NV_process(S16 wn, D64 sec, S16 n, RNG_T* rngs, D64, D64) {
  ranges_from_restored_position(wn, sec, n, rngs);
  return 1;
}
S16 NV_has_fixed() { return 0; }
S16 NV_has_stored_init_time() { return 0; }
S16 NV_has_stored_init_position() { return 0; }
void NV_restore_data(S16, S32, const LLA_T* lla, F32) { keep_position(lla); }
void NV_restore_time_pos_data_only(S16, S32, const LLA_T* lla) { keep_position(lla); }
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

// Fix record readers of the console and fix-log stand-ins: no fix yet.
void NV_get_lat_lon_degree(D64* lat_deg, D64* lon_deg) { *lat_deg = *lon_deg = 0.0; }
F32 NV_get_altitude() { return 0.0F; }
F32 NV_get_gdop() { return 99.9F; }
F32 NV_get_pdop() { return 99.9F; }
F32 NV_get_hdop() { return 99.9F; }
F32 NV_get_vdop() { return 99.9F; }
