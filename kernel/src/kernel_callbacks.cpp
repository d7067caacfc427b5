// Callback wiring of the kernel modules: the epoch's navigation chain behind
// the raw measurement module, the RTC module's hot-start hooks into the
// measurement predictor and the navigation clock, frame sync and week number into the time-count
// adjustment, subframes into the ephemeris, almanac, health, ionosphere and
// UTC modules, channel drops and fix faults from the navigation, SBAS
// messages into the SBAS GEO module.
#include <array>
#include <cmath>

#include "host/wrap.h"
#include "kernel/src/kernel.h"
#include "kernel/src/kernel_modules.h"
#include "kernel/src/nav_inputs.h"
#include "kernel/src/navigate.h"

namespace {

constexpr S16 TARGET_SBAS_OFFSET = SBAS_TARGET_OFFSET;  // kernel id above 119 -> target numbering
constexpr S32 MS_PER_GPS_BIT = 20;
constexpr S32 GPS_BITS_PER_SEC = 50;
constexpr S32 MAX_FRAMESYNC_BIT_OFFSET = 200;  // bits (4 s) between a frame sync and the epoch
constexpr S16 EPH_SOURCE_BROADCAST = 0;
constexpr S16 EPH_SOURCE_AIDING = 1;
constexpr S16 EPH_SOURCE_AIDING_CONFIRMED = 2;

S16 Has_check_almanac_time = 0;  // the almanac age check ran (once per start)
KCALLBACK_SF123_OBSERVER_T Sf123_observer = nullptr;

// Truncation toward zero, saturated to the S32 range.
S32 trunc_s32(D64 v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return 2147483647;
  if (v <= -2147483648.0) return -2147483647 - 1;
  return static_cast<S32>(v);
}

bool gps_time_confirmed() {
  return GTCADJ_get_gtc_tow_adjust_type() == GTCADJ_CONFIRMED && GTCADJ_get_gtc_wn_adjust_type() == GTCADJ_CONFIRMED;
}

bool channel_id_ok(S16 ch_id) { return ch_id >= 0 && ch_id < NUM_HW_CHANNELS; }

// The navigation chain of one measurement epoch.
void asic_gtc_callback(S16 raw_gtc_wn, D64 raw_gtc_tow, D64 gtc_meas_dt, D64 gtc_shift_dt) {
  // Whole second: the time count lies within 10 ms after a second.
  const S16 gtc_is_integer_second =
      (static_cast<S64>(trunc_s32(raw_gtc_tow)) * 100 - trunc_s32(raw_gtc_tow * 100.0)) == 0 ? 1 : 0;
  GTCADJ_update_raw_gtc(raw_gtc_wn, raw_gtc_tow);
  S16 gtc_wn = 0;
  D64 gtc_tow = 0.0;
  if (!GTCADJ_get_adjusted_gtc(&gtc_wn, &gtc_tow)) return;  // GPS time not known yet
  if (gtc_shift_dt == 0.0) KFASTFS_process(gtc_wn, gtc_tow, gtc_is_integer_second);
  CH_select_delta_range_process(gtc_wn, trunc_s32(gtc_tow));
  RNG_update_gtc_time(gtc_wn, gtc_tow, gtc_meas_dt, gtc_shift_dt);
  std::array<RNG_T, NUM_HW_CHANNELS> rng_ary{};
  const S16 n_rngs = CH_get_all_useful_ranges(rng_ary.data());
  NV_process(gtc_wn, gtc_tow, n_rngs, rng_ary.data(), gtc_meas_dt, gtc_shift_dt);
  if (!Has_check_almanac_time) {
    ALM_check_validity_time(gtc_wn);
    Has_check_almanac_time = 1;
  }
}

void asic_rtc_callback(S32 gtc_sync_to_rtc_error, S16 is_integer_second) {
  KRTC_compensate_gtc_sync_to_gps_time_error(gtc_sync_to_rtc_error, is_integer_second);
}

void asic_cal_rtc_ratio_callback(U32 record_rtc_sec, U32 record_rtc_wn_subsec, U32 record_gtc_ssubsec_div_subsec) {
  KRTC_cal_rtc_ratio_proc(record_rtc_sec, record_rtc_wn_subsec, record_gtc_ssubsec_div_subsec);
}

// Time of week from a GPS frame sync: accepted when the sync lies within
// 200 bits of the channel's bit count at the last whole second.
void framesync_callback(DBCollect_T dbc, S32 tow, S32 bitcnt) {
  const S16 ch_id = DBC_get_owner_channel_id(dbc);
  if (!channel_id_ok(ch_id)) return;
  const S32 last_meas_subsec = GTCADJ_get_subsec();
  const S64 ch_meas_bitcnt = CH_get_isr_bitcnt(CH_find_reference(ch_id));
  const S64 last_ch_meas_bitcnt_at_0_subsec = ch_meas_bitcnt - last_meas_subsec / MS_PER_GPS_BIT;
  const S64 dbitcnt = static_cast<S64>(bitcnt) - last_ch_meas_bitcnt_at_0_subsec;
  if (dbitcnt >= -MAX_FRAMESYNC_BIT_OFFSET && dbitcnt <= MAX_FRAMESYNC_BIT_OFFSET)
    GTCADJ_set_framesync_tow(tow, static_cast<S32>(dbitcnt), GPS_BITS_PER_SEC);
}

void receive_sf1_wn_callback(U16 wn) { GTCADJ_set_subframe1_wn(static_cast<S16>(wn), GNSS_TYPE_GPS); }

void sf123_callback(S16 ch_id, const U32 (*dws_p)[10]) {
  if (!channel_id_ok(ch_id)) return;
  const S16 prn = CH_get_prn(CH_find_reference(ch_id));
  if (prn == 0) return;
  if (Sf123_observer != nullptr) Sf123_observer(prn, dws_p);
  const EPH_T eph = EPH_get_reference(prn);
  if (eph == nullptr) return;  // no ephemeris record for this id
  if (EPH_get_data_source(prn) != EPH_SOURCE_AIDING)
    EPH_set_data_source(prn, EPH_SOURCE_BROADCAST);
  else
    EPH_set_data_source(prn, EPH_has_valid_data(eph) ? EPH_SOURCE_AIDING_CONFIRMED : EPH_SOURCE_BROADCAST);
  EPH_update_datawords(eph, dws_p);
}

void almanac_subframe_callback(const U32* dws_p) {
  if (!gps_time_confirmed()) return;
  S16 wn = 0;
  D64 tow = 0.0;
  GTCADJ_get_adjusted_gtc(&wn, &tow);
  ALM_update_datawords(wn, trunc_s32(tow), dws_p);
}

void iono_utc_param_callback(const U32* dws_p) {
  COR_update_ionospheric_parameter(dws_p);
  const S16 gps_time_is_valid = gps_time_confirmed() ? 1 : 0;
  S16 wn = 0;
  D64 tow = 0.0;
  if (gps_time_is_valid) GTCADJ_get_adjusted_gtc(&wn, &tow);
  UTC_update_utc_parameters(wn, trunc_s32(tow), gps_time_is_valid, dws_p);
}

void sf4_p25_callback(const U32* dws_p) { SVH_update_datawords(4, dws_p); }

void sf5_p25_callback(const U32* dws_p) {
  ALM_update_WNa_subframe(dws_p);
  SVH_update_datawords(5, dws_p);
}

void drop_channel_callback(S16 ch_id) {
  if (!channel_id_ok(ch_id)) return;
  const CHAN_T ch = CH_find_reference(ch_id);
  if (CH_get_state(ch) == CH_IDLE) return;
  S16 prn = CH_get_prn(ch);
  if (prn >= SBAS_PRN_MIN) prn = static_cast<S16>(prn - TARGET_SBAS_OFFSET);  // the target's numbering
  ASIC_drop_channel_signal(ch_id, prn, CH_get_issue_id(ch));
}

void navigate_position_fix_fault_callback() { KMPREDICT_reset_prediction_flag(); }

// Hooks of the RTC module's hot-start clock-bias rule: the bias is predicted
// only while the measurement predictor can predict it from more than one
// channel; a predicted bias replaces the navigation clock bias with the drift
// kept, and the predictor is told that it has one.
S16 rtc_can_predict_cb() {
  return KMPREDICT_is_can_predict_cb() && !KMPREDICT_if_predict_cb_is_from_one_ch_fs() ? 1 : 0;
}

void rtc_set_clock_bias(D64 cbias_m) {
  D64 cbias = 0.0;
  F32 cdrift = 0.0F;
  NV_get_clock_bias_drift(&cbias, &cdrift);
  NV_set_clock_bias_drift(cbias_m, cdrift);
}

void rtc_set_predicted_bias_ready() { KMPREDICT_set_has_predict_cb_flag(); }

void sbas_geo_block_callback(S16 prn, const U32* dws_p, S16 msg_type) {
  if (!gps_time_confirmed()) return;
  S16 wn = 0;
  D64 tow = 0.0;
  GTCADJ_get_adjusted_gtc(&wn, &tow);
  SBAS_GEO_update_messages(wn, trunc_s32(tow), prn, dws_p, msg_type);
}

}  // namespace

void KCALLBACK_install_sf123_observer(KCALLBACK_SF123_OBSERVER_T func) { Sf123_observer = func; }

void KCALLBACK_init() {
  Has_check_almanac_time = 0;
  RAW_install_gtc_out_callback(asic_gtc_callback);
  RAW_install_compensate_gtc_sync_to_gps_time_error_callback(asic_rtc_callback);
  RAW_install_cal_rtc_ratio_callback(asic_cal_rtc_ratio_callback);
  // The RTC hot-start rule runs behind the time-count compensation callback.
  const KRTC_HOT_START_HOOKS_T hooks{rtc_can_predict_cb, rtc_set_clock_bias, rtc_set_predicted_bias_ready};
  KRTC_install_hot_start_hooks(&hooks);
  DBC_install_framesync_callback(framesync_callback);
  DBC_install_wn_callback(receive_sf1_wn_callback);
  NV_install_callback_update_wn_for_rom_agps(receive_sf1_wn_callback);
  SFC_install_callback_s1s2s3(sf123_callback);
  SFC_install_callback_s5_p1_24(almanac_subframe_callback);
  SFC_install_callback_s4_p18(iono_utc_param_callback);
  SFC_install_callback_s4_p25(sf4_p25_callback);
  SFC_install_callback_s5_p25(sf5_p25_callback);
  NV_install_callback_drop_channel(drop_channel_callback);
  NV_install_callback_position_fix_fault(navigate_position_fix_fault_callback);
  SBAS_BKC_install_callback_geos(sbas_geo_block_callback);
}
