// Stand-ins for the measurement and navigation modules (raw measurements,
// channels, ranges, carrier cycles, corrections, navigation, platform model,
// measurement checks and prediction), until the measurement/navigation issues
// replace them with the real modules.
//
// They give neutral results: no fix, no frame sync, no usable range, nothing
// stored. One piece does real work so that the kernel's ticks follow the real
// epoch timing: RAW_process_measurement takes each measurement epoch out of the
// target proxy, reads the epoch's week, second and millisecond from its time
// count report and hands them to the installed time-count callback (the
// kernel's epoch chain), as the raw measurement module will.
#include <array>

#include "host/wrap.h"
#include "kernel/src/backup_layout.h"
#include "kernel/src/kernel_modules.h"
#include "kernel/src/nav_inputs.h"
#include "misc/talon_assert.h"

struct CHAN_S {
  S16 id;
};

namespace {

RAW_GTC_OUT_CALLBACK_T Raw_gtc_out_callback = nullptr;
RAW_COMPENSATE_GTC_CALLBACK_T Raw_compensate_callback = nullptr;
RAW_CAL_RTC_RATIO_CALLBACK_T Raw_cal_rtc_ratio_callback = nullptr;
S16 Raw_try_use_early_meas = 0;
ASIC_MEAS_T Raw_meas{};  // the epoch being processed
S16 Raw_has_last_gtc = 0;
U32 Raw_last_gtc_sec = 0;     // s
U16 Raw_last_gtc_subsec = 0;  // ms

std::array<CHAN_S, NUM_HW_CHANNELS> Channel_data = [] {
  std::array<CHAN_S, NUM_HW_CHANNELS> a{};
  for (std::size_t i = 0; i < a.size(); ++i) a[i].id = static_cast<S16>(i);
  return a;
}();

S16 Nvmodel = NMODEL_DEFAULT;

}  // namespace

// --- Raw measurements -------------------------------------------------------------
void RAW_init() {
  Raw_try_use_early_meas = 0;
  Raw_has_last_gtc = 0;
}

S16 RAW_process_measurement() {
  if (!ASIC_get_measurements(&Raw_meas)) return 0;
  // Time count registers: week in bits 16..27 and milliseconds in bits 0..10
  // of WEEK_SUBSEC, whole seconds in bits 0..19 of INTSEL_SEC.
  const U16 subsec = static_cast<U16>(Raw_meas.gtc.WEEK_SUBSEC & 0x7FFu);
  const U32 sec = Raw_meas.gtc.INTSEL_SEC & 0xFFFFFu;
  const S16 wn = static_cast<S16>((Raw_meas.gtc.WEEK_SUBSEC >> 16) & 0xFFFu);
  D64 meas_dt = 0.0;  // s since the previous epoch (the real module counts TCXO clocks)
  if (Raw_has_last_gtc) {
    S64 dms = (static_cast<S64>(sec) - Raw_last_gtc_sec) * 1000 + subsec - Raw_last_gtc_subsec;
    if (dms < 0) dms += static_cast<S64>(SECONDS_PER_WEEK) * 1000;
    meas_dt = static_cast<D64>(dms) * 0.001;
  }
  Raw_has_last_gtc = 1;
  Raw_last_gtc_sec = sec;
  Raw_last_gtc_subsec = subsec;
  if (Raw_compensate_callback != nullptr)
    Raw_compensate_callback(Raw_meas.gtc_sync_to_gps_time_error_unit_is_gtc_clock, subsec == 0 ? 1 : 0);
  if (Raw_gtc_out_callback != nullptr) Raw_gtc_out_callback(wn, sec + subsec * 0.001, meas_dt, 0.0);
  if (subsec == 0 && Raw_cal_rtc_ratio_callback != nullptr)
    Raw_cal_rtc_ratio_callback(Raw_meas.rtc_gtc_meas.record_rtc_sec, Raw_meas.rtc_gtc_meas.record_rtc_wn_subsec,
                               Raw_meas.rtc_gtc_meas.record_read_rtc_delay_time_after_gtc_subsec_0_unit_is_gtc_clock);
  return 1;
}

void RAW_install_gtc_out_callback(RAW_GTC_OUT_CALLBACK_T func) { Raw_gtc_out_callback = func; }
void RAW_install_compensate_gtc_sync_to_gps_time_error_callback(RAW_COMPENSATE_GTC_CALLBACK_T func) {
  Raw_compensate_callback = func;
}
void RAW_install_cal_rtc_ratio_callback(RAW_CAL_RTC_RATIO_CALLBACK_T func) { Raw_cal_rtc_ratio_callback = func; }
void RAW_try_to_use_early_meas_in_hot_start() { Raw_try_use_early_meas = 1; }
void RAW_stop_use_early_meas_in_hot_start() { Raw_try_use_early_meas = 0; }

// --- Channels: idle, no satellite ------------------------------------------------------
void CH_init() {}
CHAN_T CH_find_reference(S16 ch_id) {
  talon_assert(ch_id >= 0 && ch_id < NUM_HW_CHANNELS, "channel id");
  return &Channel_data[static_cast<std::size_t>(ch_id)];
}
S16 CH_process_databits(CHAN_T, U16, S16, U32, U32, S32, U08) { return 0; }
void CH_select_delta_range_process(S16, S32) {}
S16 CH_get_all_useful_ranges(RNG_T*) { return 0; }
S32 CH_get_isr_bitcnt(CHAN_T) { return 0; }
U16 CH_get_state(CHAN_T) { return CH_IDLE; }
U16 CH_get_gnss_type(CHAN_T) { return GNSS_TYPE_NONE; }
S16 CH_get_prn(CHAN_T) { return 0; }
S16 CH_get_svid(CHAN_T) { return 0; }
U08 CH_get_issue_id(CHAN_T) { return 0; }
S16 CH_has_any_real_frame_sync() { return 0; }

// --- Ranges, carrier cycles, corrections ---------------------------------------------
void RNG_init() {}
void RNG_update_gtc_time(S16, D64, D64, D64) {}
void CCYCLE_init() {}
S16 COR_init_storage_address(U08*, U32) { return static_cast<S16>(COR_BACKUP_SIZE); }
S16 COR_init(U08*) { return static_cast<S16>(COR_BACKUP_SIZE); }
void COR_update_ionospheric_parameter(const U32*) {}
void COR_clear_all() {}

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
