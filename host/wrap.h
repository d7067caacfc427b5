// Target proxy: the kernel's view of the target. Reports received from the
// link are stored here for the kernel to pull (ASIC_get_measurements,
// ASIC_get_databits, ASIC_get_rtc); the kernel's ASIC_/PSE_ commands become
// host-link messages to the target in logging mode and go nowhere in replay.
// Every command frame is also handed to an optional command sink, in both
// modes, so that tests and tools can capture what the kernel would send.
#pragma once

#include <array>

#include "host/pc_sio.h"
#include "misc/gnss_types.h"
#include "misc/host_msg.h"

inline constexpr int NCHAN = NUM_HW_CHANNELS;      // hardware channels
inline constexpr int SIZEOF_WRAP_DBIT_QUEUE = 32;  // data-bit batches per channel ring
inline constexpr int WRAP_GLO_NOISE_POWER_N = 14;  // GLONASS noise-power slots (always 0 here)
inline constexpr int WRAP_CMD_BUF_SIZE = 256;      // command frame buffer, bytes
inline constexpr int WRAP_PREDICT_BUF_SIZE = 768;  // ASIC_PREDICT_MEAS frame buffer, bytes

// One measurement epoch as the kernel takes it.
struct ASIC_MEAS_T {
  std::array<ASIC_CHAN_MEAS_T, NCHAN> chan;
  GTC_RD_T gtc;
  S16 gtc_shift_count;
  U32 noise_power;
  S16 has_updated_rtc;
  S32 gtc_sync_to_gps_time_error_unit_is_gtc_clock;  // GTC clocks
  ASIC_READ_RTC_T rtc_gtc_meas;
  std::array<U32, MSG_GTC_CLOCK_N> acc_clocks_ary;            // GTC clocks
  std::array<U16, MSG_GTC_CLOCK_N> acc_subsecs_ary;           // ms
  S16 acc_clocks_ary_count;                                   // valid entries, 0..10
  std::array<U32, WRAP_GLO_NOISE_POWER_N> glo_noise_power_p;  // always 0 in this system
};

// One data-bit batch of a channel.
struct WRAP_DBIT_T {
  S16 gnss_type;
  S16 prn;
  U32 databits;
  U32 databits_info;
  U32 bitcnt;
  U08 issue_id;
};

struct WRAP_DBIT_QUEUE_T {
  std::array<WRAP_DBIT_T, SIZEOF_WRAP_DBIT_QUEUE> dbits;
  S16 in;
  S16 out;
  S16 count;
};

// Reports that could not be stored, by reason.
enum : int {
  WRAP_DROP_BAD_CH_ID = 0,          // CHAN, CHAN_CARRIER or data bits for a channel above 19
  WRAP_DROP_BAD_STATE = 1,          // CHAN with a state above CH_MEAS_AVAILABLE
  WRAP_DROP_BAD_CARRIER_COUNT = 2,  // CHAN_CARRIER count outside 0..10
  WRAP_DROP_DBIT_RING_FULL = 3,     // data-bit batch while the channel's ring holds 32
  WRAP_DROP_NO_CHAN = 4,            // CHAN_CARRIER without the channel's CHAN in this epoch
  WRAP_N_DROP_REASONS = 5,
};

// Receives every command frame (checksum included) the kernel issues, also in replay.
using WRAP_COMMAND_SINK_T = void (*)(const U08* frame, int len);

// --- Set-up and statistics ---------------------------------------------------------
// Store whether commands may be sent (1: logging mode) and the port; empty every store.
// The command sink and the counters are kept.
void WRAP_init(S16 do_wrap, SIO_T sio);
void WRAP_install_command_sink(WRAP_COMMAND_SINK_T sink);  // null: none
S16 WRAP_get_overwrite_count();
S32 WRAP_get_drop_count(int reason);
S32 WRAP_get_rtc_overwrite_count();  // RTC readings that replaced one still waiting
void WRAP_clear_counters();

// --- Storing reports (called by the report handlers). 1 stored, 0 dropped. ------------
S16 WRAP_set_asic_chan_meas(S16 ch_id, const ASIC_CHAN_MEAS_T* ch_meas_p);
S16 WRAP_set_asic_chan_carrier_meas(S16 ch_id, const ASIC_CHAN_MEAS_T* ch_meas_p);
S16 WRAP_set_asic_gtc_clock_counts(S16 ary_count, const U32* acc_clocks_ary, const U16* acc_subsecs_ary);
// Closes the epoch. glo_noise_power_p may be null (zeros).
void WRAP_set_asic_gtc(const GTC_RD_T* gtc_p, S16 gtc_shift_count, S16 has_updated_rtc, U32 noise_power,
                       const U32* glo_noise_power_p, S32 gtc_sync_to_gps_time_error_unit_is_gtc_clock,
                       const ASIC_READ_RTC_T* rtc_gtc_meas_p);
S16 WRAP_set_asic_databits(S16 ch_id, S16 gnss_type, S16 prn, U32 databits, U32 databits_info, U32 bitcnt,
                           U08 issue_id);
// RTC reading of the target (from its report, or from the replay files).
void WRAP_set_asic_rtc(S16 wn, S32 sec, U32 subsec);

// --- Queries for the kernel ---------------------------------------------------------
S16 ASIC_get_measurements(ASIC_MEAS_T* meas_p);
S16 ASIC_get_databits(S16 ch_id, S16* gnss_type_p, S16* prn_p, U32* databits_p, U32* databits_info_p, U32* bitcnt_p,
                      U08* issue_id_p);
S16 ASIC_get_rtc(S16* wn_p, S32* sec_p, U32* subsec_p);
S32 ASIC_get_stable_tracking_channels();

// --- Commands: one message each; sent only in logging mode; return 1. ---------------------
S16 ASIC_init(S16 noise_power_cal_mode);
S16 PSE_init();
S16 ASIC_set_rtc(S16 wn, S32 sec);
S16 ASIC_adjust_rtc(const ASIC_RTC_ADJ_T* adj_p);
S16 ASIC_set_hot_start_predict_time(S32 gtc_sec, S16 gtc_subsec, S16 gtc_ssubsec, S32 record_rtc_sec,
                                    S16 record_rtc_subsec, S16 valid_flag);
S16 ASIC_set_predicted_meas(S16 num, S32 ref_gtc_sec, const ASIC_PREDICTED_MEAS_T* predict_meas,
                            S16 can_predict_to_chip);
S16 ASIC_drop_channel_signal(S16 ch_id, S16 prn, U08 track_issue);
S16 GLOASIC_drop_channel_signal(S16 ch_id, S16 k_num, U08 track_issue);
S16 ASIC_set_small_loop_gain(S16 ch_id);
S16 ASIC_do_skip_10ms_mode(S16 skip_10ms);
S16 ASIC_set_ch_shift_one_msc(S16 ch_id, S16 prn, U08 track_issue, S16 shift_count);
S16 ASIC_set_1pps(S16 enable_disable, U32 pps_offset, U32 pps_period);
S16 GLOASIC_set_1pps(S16 enable_disable, U32 pps_offset, U32 pps_period);
S16 ASIC_reset_noise_power();
S16 ASIC_set_tr(S16 num, const ASIC_TR_T* tr);
S16 GLOASIC_init();
S16 GLOASIC_set_string_start_bitcnt(S16 ch_id, S32 isr_bitcnt, U08 track_issue_id);
S16 GLOASIC_set_predicted_meas(S16 num, S32 ref_gtc_sec, const GLOASIC_PREDICTED_MEAS_T* predict_meas,
                               S16 can_predict_to_chip);
S16 PSE_set_signal_mode_param(S16 mode, const PSE_PARAM_T* param_p);
S16 PSE_set_search_states_array(S08 mode, S16 nstates, const PSE_STATE_T* states);
S16 PSE_enable_all();
S16 PSE_disable_all();
S16 PSE_enable(S16 pse);
S16 PSE_disable(S16 pse);
S16 PSE_set_sv_doppler(S16 num, const PSE_PRN_DOPP_T* dopp);
S16 PSE_set_clock_offset(S32 clk_offset);
S16 PSE_set_weak_search_array(S16 num, const PSE_WEAK_SEARCH_T* weak);
S16 PSE_receiver_is_static(S16 is_static);
S16 PSE_pause(S16 pause);
S16 PSE_update_tm_cnr_status(U08 nums_of_cnr_47, U08 nums_of_cnr_45, U08 nums_of_cnr_40, U08 nums_of_cnr_30);
S16 PSE_need_waas_search(S16 waas_status);
S16 GLOPSE_init();
S16 GLOPSE_set_search_states_array(S08 mode, S16 nstates, const GLO_PSE_STATE_T* states);
S16 GLOPSE_set_sv_doppler(S16 num, const GLO_PSE_KN_DOPP_T* dopp);
S16 GLOPSE_set_clock_offset(S32 clk_offset);
S16 GLOPSE_pause(S16 on_off);
S16 GLOPSE_set_weak_search_array(S16 num, const GLO_PSE_WEAK_SEARCH_T* weak);
S16 BD2_PSE_set_clock_offset(S32 clk_offset);
S16 BD2_PSE_set_weak_search_array(S16 num, const BD2_PSE_WEAK_SEARCH_T* weak);

// --- Operations without a counterpart on the link: they send nothing. ------------------
void PSE_process();
void GLOPSE_process();
void BD2_PSE_process();
void BD2_PSE_init();
void PSE_update_sbas_enable_disable(S16 enable);
void PSE_update_sbas_limitation(U08 sbas_subsystem_mask, U08 sbas_max_n_tm);
void PSE_update_qzss_limitation(S16 enable, S16 max_num);
void GLOPSE_change_145_param(S08 be_stronger);
void ASIC_reset_aiding_bits(S16 ch_id);
S16 ASIC_update_aiding_bits(S16 ch_id, S32 start_bitcnt, U32 bits);  // returns 0
void ASIC_predict_meas_to_track();
void ASIC_send_measurements_immediatly();
void ASIC_set_RF_type(U08 rf_type);
void ASIC_set_noise_power(U32 noise_power, F32 sqrt_ratio);
void PSE_set_noise_power_sqrt_ratio(F32 sqrt_ratio);
void ASIC_set_pps_width(U32 pps_width_clock);
void ASIC_set_1pps_for_T8(U32 pps_offset, U32 pps_period, S16 _10mhz_enable, U32 _10mhz_nco_increment);
void GLOASIC_set_1pps_clock_source_mode(S16 mode);

// --- Report handlers of the host program (host_callbacks) ---------------------------
// Search-engine status mirror, cleared by msg_init, filled by PSE_STATUS reports.
struct HOST_PSE_STATUS_T {
  S08 Pse_Search_Mode;
  S08 Pse_Search_State;
  S08 Pse_0, Pse_1, Pse_2, Pse_3;
};
const HOST_PSE_STATUS_T* HOST_get_pse_status();

// Register the report handlers of the host link (types and lengths) with the dispatcher.
void msg_init();
