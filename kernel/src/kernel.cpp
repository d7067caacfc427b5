// Kernel start-up (cold, warm and hot start from the backup memory and the
// optional user position/time), the backup memory layout, and the kernel
// loop with its three ticks: per measurement epoch, per whole second, and
// per data-bit batch.
#include "kernel/src/kernel.h"

#include <array>
#include <cmath>
#include <limits>

#include "host/wrap.h"
#include "kernel/src/backup_layout.h"
#include "kernel/src/kernel_backup.h"
#include "kernel/src/kernel_interface.h"
#include "kernel/src/kernel_modules.h"
#include "kernel/src/nav_inputs.h"
#include "kernel/src/settings.h"
#include "kernel/src/tcxo_freq.h"
#include "misc/saturate.h"
#include "misc/talon_assert.h"

static_assert(KBACKUP_PIECE_SIZE == KBACKUP_BACKUP_SIZE, "receiver-state piece size");

namespace {

constexpr D64 MPS_TO_HZ_L1 = 5.2550354685707275;   // 1575.42e6 Hz / c: drift in m/s -> Hz at L1
constexpr S64 MAX_HOT_START_LAPSE = 2419200;       // s, four weeks
constexpr S32 MAX_EARLY_MEAS_LAPSE = 4;            // s: a fresher state may use early measurements
constexpr S32 USER_TIME_LAPSE = SECONDS_PER_WEEK;  // s, lapse assumed with a user time input
constexpr D64 RTC_SUBSEC_PER_SEC = 32768.0;        // RTC sub-second counts per second
constexpr S32 RTC_SUBSEC_LIMIT = 32768;
// A stored RTC/GPS rate ratio further from 1 than this is not a calibration
// (the stored "unknown" is -1): no time is predicted from it.
constexpr D64 RTC_RATIO_TOLERANCE = 1e-3;
constexpr D64 DEG_TO_RAD = 0.01745329251993791;
constexpr S16 MAX_NPSE = 8;
constexpr F32 NOISE_POWER_REF = 2500000.0f;        // target noise power at the reference TCXO frequency
constexpr F32 NOISE_POWER_REF_FREQ = 16367667.0f;  // Hz
constexpr U32 GPS_TYPE_BIT = 1u;                   // navigation GNSS selection bit of GPS

// --- Kernel state ---
U08* Backup_region = nullptr;
std::array<U32, BACKUP_N_PIECES> Backup_piece_offset{};
S16 Has_init_storage_address = 0;

S16 Read_rtc_wn = 0;
S32 Read_rtc_tow = 0;     // s
U32 Read_rtc_subsec = 0;  // 1/32768 s
S16 Predict_gps_wn_from_rtc = 0;
S32 Predict_gps_tow_from_rtc = 0;  // s
S32 Clock_offset = 0;              // Hz
U32 No_fix_count = 0;
S16 Can_do_fast_hot_start = 0;
S16 Has_trigger_early_measurement_read = 0;
S16 Has_rtc_time = 0;
KERNEL_SEC_TICK_CALLBACK_T Kernel_sec_tick_callback = nullptr;
KERNEL_MEAS_TICK_CALLBACK_T Kernel_meas_tick_callback = nullptr;
KERNEL_DATABITS_CALLBACK_T Kernel_databits_callback = nullptr;
U32 Kernel_power_on_meas_count = 1;
U32 Kernel_power_on_sec_count = 1;
S16 Kernel_has_been_init = 0;
KERNEL_START_STATE_T Start_state{};
U32 Databits_decoded_count = 0;
U32 Databits_skipped_count = 0;

// Truncation toward zero, saturated to the S32 range.
S32 sat_s32(S64 v) {
  if (v > std::numeric_limits<S32>::max()) return std::numeric_limits<S32>::max();
  if (v < std::numeric_limits<S32>::min()) return std::numeric_limits<S32>::min();
  return static_cast<S32>(v);
}

// --- Start record checks ---

// Fields that index tables of the kernel.
bool init_record_usable(const KERNEL_INIT_T* p) {
  return p->tcxo_freq_mode >= 0 && p->tcxo_freq_mode < TCXO_NUM_MODES && p->nav_platform_model >= 0 &&
         p->nav_platform_model < N_NAV_MODELS && p->npse >= 0 && p->npse <= MAX_NPSE;
}

bool is_leap_year(S32 year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

S32 days_in_month(S32 year, S32 month) {
  constexpr std::array<S32, 12> DAYS = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return DAYS[static_cast<std::size_t>(month - 1)] + (month == 2 && is_leap_year(year) ? 1 : 0);
}

// A user position/time record that can be applied: finite coordinates on the
// globe; calendar fields of a real date from the GPS epoch (6 January 1980)
// up to 2099, or a week and time of week inside the week.
bool pos_time_record_usable(const KERNEL_INIT_POS_TIME_T* t) {
  if (!std::isfinite(t->lat_deg) || !std::isfinite(t->lon_deg) || !std::isfinite(t->alt)) return false;
  if (std::fabs(t->lat_deg) > 90.0 || std::fabs(t->lon_deg) > 180.0 || std::fabs(t->alt) > 1.0e6) return false;
  if (t->time_format_select != 0) return t->wn >= 0 && t->tow >= 0 && t->tow < SECONDS_PER_WEEK;
  if (t->year < 1980 || t->year > 2099 || t->month < 1 || t->month > 12) return false;
  if (t->day < 1 || t->day > days_in_month(t->year, t->month)) return false;
  if (t->year == 1980 && t->month == 1 && t->day < 6) return false;
  return t->hour <= 23 && t->minute <= 59 && t->sec <= 59;
}

// --- Start-up steps ---

void init_variables() {
  Can_do_fast_hot_start = 0;
  Has_trigger_early_measurement_read = 0;
  Has_rtc_time = 0;
  No_fix_count = 0;
  Kernel_power_on_meas_count = 1;
  Kernel_power_on_sec_count = 1;
  Databits_decoded_count = 0;
  Databits_skipped_count = 0;
}

void init_settings_module(const KERNEL_INIT_T* p) {
  if (p->reset_kernel_settings) SETTINGS_init();
  SETTINGS_set_power_saving_enable(static_cast<U08>(p->power_saving_mode));
  SETTINGS_set_pse_duty_cycle_mode(static_cast<U08>(p->pse_duty_power_mode));
  SETTINGS_set_number_of_gps_PSE(p->npse);
  SETTINGS_set_number_of_glonass_PSE(p->npse);
  SETTINGS_set_dazar_enable(static_cast<U08>(p->dazar_mode));
  SETTINGS_set_sbas_para(&p->sbas_para);
  SETTINGS_set_qzss_para(&p->qzss_para);
  SETTINGS_set_ref_time_to_sync_gps_time(&p->usr_in_time_sync);
  SETTINGS_set_tm_cal_noise_power_enable(static_cast<U08>(p->tm_cal_np_enable));
  SETTINGS_set_tcxo_ppm_type(static_cast<U08>(p->tcxo_ppm));
  // DOP masks arrive in tenths.
  const DOP_MASK_T dop = {
      static_cast<U08>(p->dop_mask.mask_mode_S16), static_cast<F32>(p->dop_mask.pdop_mask_U16) * 0.1f,
      static_cast<F32>(p->dop_mask.hdop_mask_U16) * 0.1f, static_cast<F32>(p->dop_mask.gdop_mask_U16) * 0.1f};
  SETTINGS_set_dop_mask(&dop);
  SETTINGS_set_2d_navigation_mask(static_cast<U08>(p->enable_2D_navigation_at_first_pos_fix),
                                  static_cast<U08>(p->enable_2D_navigation_after_first_pos_fix));
  SETTINGS_set_nav_gnss_type_bits(static_cast<U08>(p->gnss_select_bits));
  if (p->position_rate != 0) SETTINGS_set_n_hz_position_rate(static_cast<S16>(p->position_rate));
  SETTINGS_set_elv_cnr_mask(&p->elv_cnr_mask);
}

void init_hardware_modules(const KERNEL_INIT_T* p) {
  ASIC_init(p->tm_cal_np_enable);
  PSE_init();
}

void init_navigate_modules(const KERNEL_INIT_T* p) {
  GTCADJ_init();
  RAW_init();
  RNG_init();
  DBC_init();
  CCYCLE_init();
  CH_init();
  BC_init();
  NV_init();
  NVMODEL_set_model(p->nav_platform_model);
}

bool rtc_stamp_in_range(S64 wn, S64 sec, S64 subsec) {
  return wn >= 0 && wn < RTC_WEEK_ROLLOVER && sec >= 0 && sec < SECONDS_PER_WEEK && subsec >= 0 &&
         subsec < RTC_SUBSEC_LIMIT;
}

bool rtc_ratio_usable(D64 ratio) { return std::isfinite(ratio) && std::fabs(ratio - 1.0) <= RTC_RATIO_TOLERANCE; }

// The RTC lapse since the stored fix and the GPS time predicted from it.
struct RtcLapse {
  bool known = false;  // both RTC stamps present and in range
  bool valid = false;  // known, within 0 .. 4 weeks, usable ratio and stored GPS time
  S64 dsec = 0;        // whole RTC seconds
  S32 dsubsec = 0;     // 1/32768 s
};

// Lapse from the stored RTC stamp to the RTC reading of this start; when it
// is valid, predict the GPS time, tell the target the predicted time count and
// the RTC module the lapse. The lapse is counted in 64 bits (a week
// difference of up to 4095 weeks x 604 800 s does not fit 32 bits).
RtcLapse calc_lapsed_time_from_last_fix_and_predict_gps_time(const KBACKUP_T& b) {
  RtcLapse l;
  l.known = Start_state.has_rtc_reading && rtc_stamp_in_range(Read_rtc_wn, Read_rtc_tow, Read_rtc_subsec) &&
            rtc_stamp_in_range(b.last_stored_rtc_wn, b.last_stored_rtc_sec, b.last_stored_rtc_subsec);
  if (!l.known) return l;
  S64 dwn = static_cast<S64>(Read_rtc_wn) - b.last_stored_rtc_wn;
  if (dwn < 0) dwn += RTC_WEEK_ROLLOVER;  // the RTC week counter wrapped
  l.dsec = dwn * SECONDS_PER_WEEK + Read_rtc_tow - b.last_stored_rtc_sec;
  l.dsubsec = static_cast<S32>(Read_rtc_subsec) - b.last_stored_rtc_subsec;
  const bool gps_time_usable = std::isfinite(b.last_stored_D64_gps_tow) && b.last_stored_D64_gps_tow >= 0.0 &&
                               b.last_stored_D64_gps_tow < SECONDS_PER_WEEK && b.last_stored_gps_wn >= 0;
  if (l.dsec < 0 || l.dsec > MAX_HOT_START_LAPSE || !rtc_ratio_usable(b.rtc_gps_ratio) || !gps_time_usable) return l;

  const D64 rtc_lapse_time = static_cast<D64>(l.dsec) + l.dsubsec / RTC_SUBSEC_PER_SEC;  // RTC seconds
  // GPS time of the stored fix, less the time-count/RTC sub-second offset (TCXO clocks), plus the lapse in GPS seconds.
  D64 tow = (b.last_stored_D64_gps_tow - b.rtc_gps_ss_dif / static_cast<D64>(TCXO_get_tcxo_freq())) +
            rtc_lapse_time / b.rtc_gps_ratio;
  // Into [0, 604 800), moving the week either way.
  S64 weeks = static_cast<S64>(std::floor(tow / SECONDS_PER_WEEK));
  tow -= static_cast<D64>(weeks) * SECONDS_PER_WEEK;
  if (tow >= SECONDS_PER_WEEK) {
    tow -= SECONDS_PER_WEEK;
    ++weeks;
  }
  if (tow < 0.0) tow = 0.0;
  const S64 wn = b.last_stored_gps_wn + weeks;
  if (wn < 0 || wn > std::numeric_limits<S16>::max()) return l;
  l.valid = true;
  Predict_gps_wn_from_rtc = static_cast<S16>(wn);
  Predict_gps_tow_from_rtc = static_cast<S32>(tow);
  const S32 predict_gtc_sec = static_cast<S32>(tow);
  const D64 ms = (tow - predict_gtc_sec) * 1000.0;
  const S16 predict_gtc_subsec = static_cast<S16>(ms);
  const S16 predict_gtc_ssubsec = static_cast<S16>((ms - predict_gtc_subsec) * TCXO_get_asic_clock_per_ms0());
  ASIC_set_hot_start_predict_time(predict_gtc_sec, predict_gtc_subsec, predict_gtc_ssubsec, Read_rtc_tow,
                                  static_cast<S16>(Read_rtc_subsec), 1);
  KRTC_update_rtc_lapsed_time(static_cast<S32>(l.dsec), l.dsubsec);
  return l;
}

S16 init_by_restore_data_process(const KBACKUP_T& b) {
  GTCADJ_set_init_predict_gps_time_by_rtc(Predict_gps_wn_from_rtc, Predict_gps_tow_from_rtc);
  NV_restore_data(Predict_gps_wn_from_rtc, Predict_gps_tow_from_rtc, &b.lla, b.cdrift);
  Has_rtc_time = 1;
  Clock_offset = SAT_trunc_s32(-static_cast<D64>(b.cdrift) * MPS_TO_HZ_L1);
  return 1;
}

// Apply the user's position and time; the stored week becomes the input week
// minus one, the stored time of week the input one, the lapse one week.
S16 init_by_kernel_init_pos_time_input(const KERNEL_INIT_POS_TIME_T* t, S16* backup_wn_p, D64* backup_tow_p,
                                       S32* elapse_sec_p) {
  S16 wn = t->wn;
  S32 tow = t->tow;
  if (t->time_format_select == 0) {
    const UTC_TIME_T utc = {static_cast<S16>(t->year), static_cast<S16>(t->month),  static_cast<S16>(t->day), 0,
                            static_cast<S16>(t->hour), static_cast<S16>(t->minute), static_cast<D64>(t->sec)};
    D64 tow_d = 0.0;
    UTC_convert_utc_to_gps_time(&utc, &wn, &tow_d);
    tow = static_cast<S32>(tow_d);
  }
  Predict_gps_wn_from_rtc = wn;
  Predict_gps_tow_from_rtc = tow;
  GTCADJ_set_init_input_time(wn, tow);
  *backup_wn_p = static_cast<S16>(wn - 1);
  *backup_tow_p = tow;
  *elapse_sec_p = USER_TIME_LAPSE;
  if (t->lat_deg == 0.0 && t->lon_deg == 0.0 && t->alt == 0.0) {
    NV_restore_time_pos_data_only(wn, tow, nullptr);
  } else {
    const LLA_T lla = {t->lat_deg * DEG_TO_RAD, t->lon_deg * DEG_TO_RAD, static_cast<F32>(t->alt)};
    NV_restore_time_pos_data_only(wn, tow, &lla);
  }
  return 1;
}

void update_power_parameters() {
  U32 noise_power = 0;
  F32 freq_ratio = 1.0f;
  if (KERNEL_calc_noise_power(TCXO_get_tcxo_freq(), &noise_power, &freq_ratio))
    ASIC_set_noise_power(noise_power, freq_ratio);
}

// --- Ticks ---

void kernel_meas_tick_process(U16 subsec) {
  if (NV_get_fixmode() < FIX_2D)
    ++No_fix_count;
  else
    No_fix_count = 0;
  KMCHECK_check_result_process();
  if (Kernel_meas_tick_callback != nullptr) Kernel_meas_tick_callback(subsec);
  ++Kernel_power_on_meas_count;
}

void kernel_sec_tick_process() {
  K1PPS_process();
  KSVCALC_process();
  KMPREDICT_process();
  KSEARCH_process();
  KBACKUP_process(0);
  if (Kernel_sec_tick_callback != nullptr) Kernel_sec_tick_callback();
  ++Kernel_power_on_sec_count;
}

// Drain the data bits of every channel. GPS and SBAS bits go to the channel
// decoders; GLONASS and BeiDou bits are taken out of the proxy (so that its
// rings never fill) but not decoded.
void kernel_databits_loop_process() {
  const bool gps_output_data = (SETTINGS_get_nav_gnss_type_bits() & GPS_TYPE_BIT) != 0;
  const bool glonass_output_data = false;
  const bool beidou2_output_data = false;
  for (S16 ch = 0; ch < NUM_HW_CHANNELS; ++ch) {
    S16 gnss_type = 0, prn = 0;
    U32 databits = 0, databits_info = 0, bitcnt = 0;
    U08 issue_id = 0;
    while (ASIC_get_databits(ch, &gnss_type, &prn, &databits, &databits_info, &bitcnt, &issue_id)) {
      const bool decode = ((gnss_type == GNSS_TYPE_GPS || gnss_type == GNSS_TYPE_SBAS) && gps_output_data) ||
                          (gnss_type == GNSS_TYPE_GLONASS && glonass_output_data) ||
                          (gnss_type == GNSS_TYPE_BD2 && beidou2_output_data);
      if (decode) {
        CH_process_databits(CH_find_reference(ch), static_cast<U16>(gnss_type), prn, databits, databits_info,
                            static_cast<S32>(bitcnt), issue_id);
        ++Databits_decoded_count;
      } else {
        ++Databits_skipped_count;
      }
      if (Kernel_databits_callback != nullptr)
        Kernel_databits_callback(ch, gnss_type, prn, databits, databits_info, bitcnt, issue_id);
    }
  }
}

}  // namespace

S16 KERNEL_init_backup_address(U08* region_p) {
  talon_assert(region_p != nullptr, "backup_mem_p");
  using LayoutFn = S16 (*)(U08*, U32);
  constexpr std::array<LayoutFn, BACKUP_N_PIECES> LAYOUT = {
      KBACKUP_init_storage_address, COR_init_storage_address, UTC_init_storage_address,  ALM_init_storage_address,
      EPH_init_storage_address,     SVH_init_storage_address, KWAAS_init_storage_address};
  U32 at = 0;
  for (std::size_t i = 0; i < LAYOUT.size(); ++i) {
    const U32 start = BACKUP_align8(at);
    const S16 size = LAYOUT[i](region_p, start);
    // The image format is fixed: every piece has its size for good.
    talon_assert(size >= 0 && static_cast<U32>(size) == BACKUP_PIECE_SIZES[i], "backup piece size");
    Backup_piece_offset[i] = start;
    at = start + static_cast<U32>(size);
  }
  Backup_region = region_p;
  Has_init_storage_address = 1;
  return static_cast<S16>(at);
}

U32 KERNEL_get_backup_piece_offset(int piece) {
  if (piece < 0 || piece >= BACKUP_N_PIECES) return 0;
  return Backup_piece_offset[static_cast<std::size_t>(piece)];
}

S16 KERNEL_init(const KERNEL_INIT_T* p) {
  Kernel_has_been_init = 0;
  talon_assert(p != nullptr && p->backup_mem_p != nullptr, "backup_mem_p");
  Start_state = KERNEL_START_STATE_T{};
  Start_state.sbas_valid_dt = -1;
  if (!init_record_usable(p)) return 0;
  S32 dt = 0;  // s since the stored fix
  S32 sbas_valid_dt = -1;
  S16 can_do_hot_start = 0;
  S16 force_clear_ephemeris = (p->force_warm || p->force_cold) ? 1 : 0;
  S16 has_vbat = 0;
  S16 first_fix_rule = KERNEL_FIRST_FIX_FREE;

  // Laid out at every start (pure offset arithmetic), so that the layout always
  // refers to the region of this start.
  KERNEL_init_backup_address(p->backup_mem_p);
  init_variables();
  init_settings_module(p);
  TCXO_init(p->tcxo_freq_mode);
  init_hardware_modules(p);
  init_navigate_modules(p);

  Read_rtc_wn = 0;
  Read_rtc_tow = 0;
  Read_rtc_subsec = 0;
  Start_state.has_rtc_reading = ASIC_get_rtc(&Read_rtc_wn, &Read_rtc_tow, &Read_rtc_subsec);
  KBACKUP_init(nullptr);
  S32 stored_offset = 0;
  Clock_offset = KBACKUP_get_clock_offset(&stored_offset) ? stored_offset : p->clock_offset_from_flash;
  // The RTC module starts before the receiver state is restored: the restore
  // hands it the stored RTC/GPS relation.
  KRTC_init();
  GTCADJ_set_user_input_time_sync(&p->usr_in_time_sync);

  KBACKUP_T backup{};
  if (!p->force_warm && !p->force_cold && KBACKUP_get_receiver_states(&backup)) {
    has_vbat = 1;
    GTCADJ_set_stored_wn(backup.last_stored_gps_wn);  // settles the 10-bit subframe-1 week
    const RtcLapse lapse = calc_lapsed_time_from_last_fix_and_predict_gps_time(backup);
    Start_state.lapse_valid = lapse.valid ? 1 : 0;
    if (lapse.valid) {
      dt = static_cast<S32>(lapse.dsec);
      sbas_valid_dt = dt;
      can_do_hot_start = init_by_restore_data_process(backup);
    } else {
      // No usable prediction: the target is told so, and records that
      // depend on the age of the stored state count as too old.
      dt = lapse.known ? sat_s32(lapse.dsec) : std::numeric_limits<S32>::max();
      sbas_valid_dt = std::numeric_limits<S32>::max();
      ASIC_set_hot_start_predict_time(0, 0, 0, 0, 0, 0);
    }
    const S16 model = p->nav_platform_model;
    if (!lapse.valid || dt > MAX_EARLY_MEAS_LAPSE || model == AIRBORNE || model == BALLOON || model == MARINE) {
      NV_set_force_3D_first_fix_for_hot_start_application();
      first_fix_rule = KERNEL_FIRST_FIX_3D;
    } else {
      RAW_try_to_use_early_meas_in_hot_start();
      first_fix_rule = KERNEL_FIRST_FIX_EARLY_MEAS;
    }
  } else {
    force_clear_ephemeris = 1;
    ASIC_set_hot_start_predict_time(0, 0, 0, 0, 0, 0);
  }

  COR_init(nullptr);
  UTC_init(nullptr);
  ALM_init(nullptr, p->nvram_alm_mem_p, p->nvram_alm_const_mem_p);
  EPH_init(nullptr);
  SVH_init(nullptr);
  UTC_update_default_leap_second_from_flash(p->leap_sec_from_flash);

  if (p->init_pos_p != nullptr && pos_time_record_usable(p->init_pos_p)) {
    can_do_hot_start = init_by_kernel_init_pos_time_input(p->init_pos_p, &backup.last_stored_gps_wn,
                                                          &backup.last_stored_D64_gps_tow, &dt);
    Start_state.has_user_time = 1;
  }
  if (p->force_cold) {
    can_do_hot_start = 0;
    KBACKUP_clear_data();
  }
  if (force_clear_ephemeris) {
    EPH_clear_all();
    KWAAS_clear_all_geo_parameters();
  }

  SV_init();
  KWAAS_init(&p->sbas_para, sbas_valid_dt);
  KSVCALC_init(can_do_hot_start);
  KSEARCH_init(p->npse, p->power_saving_mode, p->pse_duty_power_mode, p->tcxo_ppm, Clock_offset, can_do_hot_start, dt);
  KMCHECK_init();
  const bool tow_usable =
      std::isfinite(backup.last_stored_D64_gps_tow) && std::fabs(backup.last_stored_D64_gps_tow) < SECONDS_PER_WEEK;
  KFASTFS_init(can_do_hot_start, backup.last_stored_gps_wn,
               can_do_hot_start && tow_usable ? static_cast<S32>(backup.last_stored_D64_gps_tow) : 0);
  KMPREDICT_init(can_do_hot_start, dt);
  K1PPS_init();
  KQZSS_init(&p->qzss_para);
  KINTERFACE_init();
  KCALLBACK_init();
  update_power_parameters();

  Start_state.has_vbat = has_vbat;
  Start_state.dt = dt;
  Start_state.sbas_valid_dt = sbas_valid_dt;
  Start_state.can_do_hot_start = can_do_hot_start;
  Start_state.force_clear_ephemeris = force_clear_ephemeris;
  Start_state.first_fix_rule = first_fix_rule;
  Start_state.has_rtc_time = Has_rtc_time;
  Start_state.predict_gps_wn = Predict_gps_wn_from_rtc;
  Start_state.predict_gps_tow = Predict_gps_tow_from_rtc;
  Start_state.clock_offset = Clock_offset;
  Kernel_has_been_init = 1;
  return has_vbat;
}

S16 KERNEL_loop() {
  if (!Kernel_has_been_init) return 0;
  if (SETTINGS_get_nav_gnss_type_bits() & GPS_TYPE_BIT) PSE_process();
  const S16 has_epoch = RAW_process_measurement();
  if (has_epoch) {
    const U16 subsec = GTCADJ_get_subsec();  // ms of the epoch within its second
    if (NV_has_fixed()) RAW_stop_use_early_meas_in_hot_start();
    kernel_meas_tick_process(subsec);
    if (subsec == 0) {
      kernel_sec_tick_process();
      KWAAS_second_tick_process();
      KQZSS_second_tick_process();
    }
  } else {
    kernel_databits_loop_process();
  }
  return has_epoch ? 1 : 0;
}

void KERNEL_close() { Kernel_has_been_init = 0; }
S16 KERNEL_has_been_init() { return Kernel_has_been_init; }

void KERNEL_get_init_rtc_time(S16* rtc_wn_p, S32* rtc_sec_p, U32* rtc_subsec_p) {
  *rtc_wn_p = Read_rtc_wn;
  *rtc_sec_p = Read_rtc_tow;
  *rtc_subsec_p = Read_rtc_subsec;
}

U32 KERNEL_get_power_on_meas_count() { return Kernel_power_on_meas_count; }
U32 KERNEL_get_power_on_sec_count() { return Kernel_power_on_sec_count; }
void KERNEL_get_start_state(KERNEL_START_STATE_T* state_p) { *state_p = Start_state; }

void KERNEL_get_databits_counts(U32* decoded_p, U32* skipped_p) {
  *decoded_p = Databits_decoded_count;
  *skipped_p = Databits_skipped_count;
}

S16 KERNEL_calc_noise_power(U32 tcxo_freq_hz, U32* noise_power_p, F32* freq_ratio_p) {
  const F32 freq_ratio = static_cast<F32>(tcxo_freq_hz) / NOISE_POWER_REF_FREQ;
  *freq_ratio_p = freq_ratio;
  *noise_power_p = static_cast<U32>(NOISE_POWER_REF * freq_ratio * freq_ratio);
  return (freq_ratio > 1.01f || freq_ratio < 0.99f) ? 1 : 0;
}

void KERNEL_install_sec_tick_callback(KERNEL_SEC_TICK_CALLBACK_T func) { Kernel_sec_tick_callback = func; }
void KERNEL_install_meas_tick_callback(KERNEL_MEAS_TICK_CALLBACK_T func) { Kernel_meas_tick_callback = func; }
void KERNEL_install_databits_callback(KERNEL_DATABITS_CALLBACK_T func) { Kernel_databits_callback = func; }
