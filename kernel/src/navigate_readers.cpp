// Readers of the fix record and the channel-use queries.
#include <cmath>

#include "kernel/src/navigate.h"
#include "kernel/src/navigate_record.h"

namespace {

const NV_DATA_T& rec() { return NV_record(); }

// Degrees x 1e8 or metres x 1e8, truncated toward zero; non-finite gives 0.
S64 scale_e8(D64 v) {
  const D64 s = v * 1.0e8;
  if (!std::isfinite(s) || std::fabs(s) >= 9.0e18) return 0;
  return static_cast<S64>(s);
}

U08 channel_flags(S16 ch) {
  if (ch < 0 || ch >= NUM_HW_CHANNELS) return 0;
  return rec().channel_meas_flags[static_cast<std::size_t>(ch)];
}

}  // namespace

S16 NV_get_time(D64* tow, U16* wn) {
  if (tow != nullptr) *tow = rec().tow;
  if (wn != nullptr) *wn = static_cast<U16>(rec().wn);
  return NV_flag_record().Has_updated_gtc;
}

void NV_get_ecef_position(POS_T* pos_p) {
  if (pos_p != nullptr) *pos_p = rec().pos;
}
void NV_get_ecef_velocity(VEL_T* vel_p) {
  if (vel_p != nullptr) *vel_p = rec().vel;
}
void NV_get_enu_velocity(VEL_ENU_T* vel_p) {
  if (vel_p != nullptr) *vel_p = rec().vel_enu;
}
void NV_get_lla_position(LLA_T* lla_p) {
  if (lla_p != nullptr) *lla_p = rec().lla;
}
void NV_get_lla_e8_position(LLA_e8_T* lla_p) {
  if (lla_p == nullptr) return;
  constexpr D64 TO_DEG = 57.29577951308232;
  lla_p->lat_e8 = scale_e8(rec().lla.lat * TO_DEG);
  lla_p->lon_e8 = scale_e8(rec().lla.lon * TO_DEG);
  lla_p->alt_e8 = scale_e8(static_cast<D64>(rec().lla.alt));
}
void NV_get_lat_lon_degree(D64* lat_deg, D64* lon_deg) {
  if (lat_deg != nullptr) *lat_deg = rec().lat_deg;
  if (lon_deg != nullptr) *lon_deg = rec().lon_deg;
}
F32 NV_get_altitude() { return rec().lla.alt; }
F32 NV_get_course() { return rec().course; }
F32 NV_get_speed() { return rec().speed; }
F32 NV_get_show_speed() { return rec().show_speed; }
F32 NV_get_speed_vu() { return rec().speed_vu; }
void NV_get_enu(F32 enu[3][3]) {
  if (enu == nullptr) return;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) enu[i][j] = rec().enu[i][j];
}
void NV_get_clock_bias_drift(D64* cbias_m, F32* cdrift_mps) {
  if (cbias_m != nullptr) *cbias_m = rec().cbias;
  if (cdrift_mps != nullptr) *cdrift_mps = rec().cdrift;
}
D64 NV_get_gps_glonass_time_diff() { return rec().ctsys_glo; }
F32 NV_get_gps_glonass_time_drift() { return rec().cdtsys_glo; }
S16 NV_get_fixmode() { return rec().fix_mode; }
U32 NV_get_fix_count() { return rec().fix_count; }
S16 NV_get_fix_svs() { return rec().fix_sats; }
S16 NV_get_show_fix_svs() { return rec().show_fix_sats; }
U16 NV_get_total_move_count() { return rec().total_move_count; }
U16 NV_get_continuous_no_fix_count() { return rec().cont_no_fix_count; }
U16 NV_get_continuous_real_fix_count() { return rec().cont_real_fix_count; }
F32 NV_get_gdop() { return rec().gdop; }
F32 NV_get_pdop() { return rec().pdop; }
F32 NV_get_hdop() { return rec().hdop; }
F32 NV_get_edop() { return rec().edop; }
F32 NV_get_ndop() { return rec().ndop; }
F32 NV_get_vdop() { return rec().vdop; }
F32 NV_get_tdop() { return rec().tdop; }
F32 NV_get_show_gdop() { return rec().show_gdop; }
F32 NV_get_show_pdop() { return rec().show_pdop; }
F32 NV_get_show_hdop() { return rec().show_hdop; }
F32 NV_get_show_vdop() { return rec().show_vdop; }
F32 NV_get_show_tdop() { return rec().show_tdop; }
F32 NV_get_EPE() { return rec().EPE; }
S16 NV_get_position_quality_result(F32* pr_sigma, F32* dr_sigma) {
  if (rec().has_residual_sigma == 0) return 0;
  if (pr_sigma != nullptr) *pr_sigma = rec().pr_residual_sigma;
  if (dr_sigma != nullptr) *dr_sigma = rec().dr_residual_sigma;
  return 1;
}
S16 NV_get_navi_type() { return rec().navi_type; }
S32 NV_get_any_sbas_reliable_freq_in_hz() { return 0; }
S16 NV_has_fixed() { return rec().has_fixed; }
S16 NV_has_stored_init_time() { return NV_flag_record().Has_stored_init_time; }
S16 NV_has_stored_init_position() { return NV_flag_record().Has_stored_init_position; }
S16 NV_does_fix_use_PR_measurements() { return (rec().has_fixed != 0 && rec().use_PR_meas_fix != 0) ? 1 : 0; }
S16 NV_does_vel_use_good_carrier_DR_measurements() { return rec().vel_use_good_carrier_meas != 0 ? 1 : 0; }
S16 NV_does_pos_use_may_convergence_PR_measurements() { return rec().pos_use_may_convergence_meas != 0 ? 1 : 0; }
S16 NV_is_no_fix_by_dop_mask() { return NV_no_fix_by_dop_mask_flag(); }
void NV_get_dx(F32 dx[5]) {
  if (dx == nullptr) return;
  for (int i = 0; i < 5; ++i) dx[i] = rec().dx[i];
}

S16 NV_get_error_statistics(F32* rms_range_inputs_std_p, F32* std_semi_major_axis_p, F32* std_semi_minor_axis_p,
                            F32* orientation_semi_major_axis_p, F32* std_enu_error_p) {
  const NV_DATA_T& d = rec();
  const bool ok = d.has_error_statistics != 0;
  if (rms_range_inputs_std_p != nullptr) *rms_range_inputs_std_p = ok ? d.err_rms : 0.0F;
  if (std_semi_major_axis_p != nullptr) *std_semi_major_axis_p = ok ? d.err_semi_major : 0.0F;
  if (std_semi_minor_axis_p != nullptr) *std_semi_minor_axis_p = ok ? d.err_semi_minor : 0.0F;
  if (orientation_semi_major_axis_p != nullptr) *orientation_semi_major_axis_p = ok ? d.err_orientation : 0.0F;
  if (std_enu_error_p != nullptr)
    for (int i = 0; i < 3; ++i) std_enu_error_p[i] = ok ? d.err_enu[i] : 0.0F;
  return ok ? 1 : 0;
}

S16 NV_is_channel_meas_use_in_fix(S16 ch) { return (channel_flags(ch) & (NV_CH_PR_USED | NV_CH_DR_USED)) != 0 ? 1 : 0; }
S16 NV_is_channel_meas_use_PR_in_fix(S16 ch) { return (channel_flags(ch) & NV_CH_PR_USED) != 0 ? 1 : 0; }
S16 NV_is_channel_meas_use_DR_in_fix(S16 ch) { return (channel_flags(ch) & NV_CH_DR_USED) != 0 ? 1 : 0; }
S16 NV_is_channel_meas_show_use_in_fix(S16 ch) { return (channel_flags(ch) & NV_CH_SHOW_USED) != 0 ? 1 : 0; }
S16 NV_is_channel_meas_use_differential_in_fix(S16 ch) { return (channel_flags(ch) & NV_CH_DIFFERENTIAL) != 0 ? 1 : 0; }
S16 NV_is_channel_meas_broadcast_differential_message(S16 ch) {
  return (channel_flags(ch) & NV_CH_SBAS_BROADCAST) != 0 ? 1 : 0;
}
S16 NV_get_channel_fix_state(S16 ch) {
  const U08 f = channel_flags(ch);
  if ((f & NV_CH_DIFFERENTIAL) != 0) return CH_DIFFERENTIAL;
  const bool pr = (f & NV_CH_PR_USED) != 0;
  const bool dr = (f & NV_CH_DR_USED) != 0;
  if (pr && dr) return CH_FIX_PR_DR;
  if (pr) return CH_FIX_PR_ONLY;
  if (dr) return CH_FIX_DR_ONLY;
  if ((f & NV_CH_SHOW_USED) != 0) return CH_SHOW_FIX;
  return CH_NOFIX;
}
