// Target proxy: the kernel's view of the target. Reports received from the
// link are stored here for the kernel to pull (ASIC_get_measurements,
// ASIC_get_databits, ASIC_get_rtc); the kernel's ASIC_/PSE_ commands become
// host-link messages to the target in logging mode and go nowhere in replay.
// Every command frame is also handed to an optional command sink, in both
// modes, so that tests and tools can capture what the kernel would send.
//
// Part of the link library (talon_link, with the serial ports): it calls
// neither the kernel nor the host program. The report handlers that fill the
// stores belong to the host program (host/host_callbacks.h).
//
// Single-threaded: the report handlers and the kernel's queries run on the
// same main loop, never at the same time. All state is static storage of the
// proxy; every pointer handed in is read (or written) during the call only.
#pragma once

#include <array>

#include "misc/gnss_types.h"
#include "misc/host_msg.h"

// Open serial port (host/pc_sio.h); the proxy only writes command frames to it.
struct SIO_S;
using SIO_T = SIO_S*;

inline constexpr int NCHAN = NUM_HW_CHANNELS;      // hardware channels
inline constexpr int SIZEOF_WRAP_DBIT_QUEUE = 32;  // data-bit batches per channel ring
inline constexpr int WRAP_GLO_NOISE_POWER_N = 14;  // GLONASS noise-power slots (always 0 here)
inline constexpr int WRAP_CMD_BUF_SIZE = 256;      // command frame buffer, bytes
inline constexpr int WRAP_PREDICT_BUF_SIZE = 768;  // ASIC_PREDICT_MEAS frame buffer, bytes

// One measurement epoch as the kernel takes it: the CHAN / CHAN_CARRIER
// reports of the epoch per channel, the GTC_CLOCK_COUNTS report and the
// closing GTC report. Channels without a CHAN report in the epoch are CH_IDLE.
struct ASIC_MEAS_T {
  std::array<ASIC_CHAN_MEAS_T, NCHAN> chan;                   // indexed by channel id 0..19
  GTC_RD_T gtc;                                               // time-count registers of the epoch
  S16 gtc_shift_count;                                        // ms the target shifted its time count by in this epoch
  U32 noise_power;                                            // target noise-power estimate
  S16 has_updated_rtc;                                        // 1: rtc_gtc_meas holds a new RTC sample
  S32 gtc_sync_to_gps_time_error_unit_is_gtc_clock;           // GTC clocks
  ASIC_READ_RTC_T rtc_gtc_meas;                               // RTC sampled at the epoch
  std::array<U32, MSG_GTC_CLOCK_N> acc_clocks_ary;            // GTC clocks
  std::array<U16, MSG_GTC_CLOCK_N> acc_subsecs_ary;           // ms
  S16 acc_clocks_ary_count;                                   // valid entries, 0..10
  std::array<U32, WRAP_GLO_NOISE_POWER_N> glo_noise_power_p;  // always 0 in this system
};

// One data-bit batch of a channel, as the ASIC_GET_DATABITS report carries it.
struct WRAP_DBIT_T {
  S16 gnss_type;      // GNSS_TYPE_...
  S16 prn;            // target numbering (SBAS 38..56)
  U32 databits;       // the bits of the batch, earliest in the highest bit used (GPS: bits 29..0)
  U32 databits_info;  // batch information word, passed on to the channel code unchanged
  U32 bitcnt;         // the channel's track data-bit count of the batch
  U08 issue_id;       // tracking issue id of the channel
};

// Ring of data-bit batches of one channel: entries in..out, count of them.
struct WRAP_DBIT_QUEUE_T {
  std::array<WRAP_DBIT_T, SIZEOF_WRAP_DBIT_QUEUE> dbits;
  S16 in;     // next slot written
  S16 out;    // next slot read
  S16 count;  // batches waiting, 0..32
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

// Receives every command frame the kernel issues, in logging mode and in
// replay: `frame` points to `len` bytes (sync bytes, type, payload and the
// checksum byte) in the proxy's own buffer, valid only during the call.
using WRAP_COMMAND_SINK_T = void (*)(const U08* frame, int len);

// --- Set-up and statistics ---------------------------------------------------------
// Store do_wrap (1: logging mode, commands go to the port; 0: replay, they go
// nowhere) and the target's port (null: none; the caller keeps ownership and
// keeps it open until the run ends). Empties every store: the epoch being
// assembled, the data-bit rings, the RTC slot. The command sink and the
// counters are kept.
void WRAP_init(S16 do_wrap, SIO_T sio);
// Install the command sink; null removes it (frames then go to the port only).
void WRAP_install_command_sink(WRAP_COMMAND_SINK_T sink);
// Reports written over an epoch still waiting for the kernel, plus CHAN reports
// repeated for a channel within one epoch; truncated to 16 bits.
S16 WRAP_get_overwrite_count();
// Reports dropped for `reason` (WRAP_DROP_...); 0 for a reason outside 0..4.
S32 WRAP_get_drop_count(int reason);
// RTC readings that replaced one still waiting for the kernel.
S32 WRAP_get_rtc_overwrite_count();
// Zero the overwrite, RTC-overwrite and drop counters.
void WRAP_clear_counters();

// --- Storing reports (called by the report handlers) -------------------------------
// Each takes the decoded fields of one report; record pointers must be valid
// and are read during the call only. Returns 1 when stored, 0 when dropped
// (and counted under its WRAP_DROP_ reason).

// CHAN report: the whole channel record into the epoch being assembled.
// ch_id 0..19; a state above CH_MEAS_AVAILABLE is dropped.
S16 WRAP_set_asic_chan_meas(S16 ch_id, const ASIC_CHAN_MEAS_T* ch_meas_p);
// CHAN_CARRIER report: the four carrier-phase arrays, end_carrier_phase and
// carrier_phase_ary_count (0..10) into the channel's record. Only after the
// channel's CHAN report of the same epoch; dropped otherwise.
S16 WRAP_set_asic_chan_carrier_meas(S16 ch_id, const ASIC_CHAN_MEAS_T* ch_meas_p);
// GTC_CLOCK_COUNTS report: ary_count (clamped to 0..10) entries of
// acc_clocks_ary (GTC clocks) and acc_subsecs_ary (ms); both arrays hold at
// least that many entries. 0 and nothing stored while a complete epoch waits
// (not counted as a drop).
S16 WRAP_set_asic_gtc_clock_counts(S16 ary_count, const U32* acc_clocks_ary, const U16* acc_subsecs_ary);
// GTC report: closes the epoch and makes it available to ASIC_get_measurements.
// gtc_shift_count in ms, noise_power in the target's noise-power units,
// gtc_sync_to_gps_time_error_unit_is_gtc_clock in GTC clocks. glo_noise_power_p
// points to 14 entries or is null (zeros). Channels without a CHAN report in
// the epoch become CH_IDLE. Replacing an epoch still waiting is counted as an
// overwrite.
void WRAP_set_asic_gtc(const GTC_RD_T* gtc_p, S16 gtc_shift_count, S16 has_updated_rtc, U32 noise_power,
                       const U32* glo_noise_power_p, S32 gtc_sync_to_gps_time_error_unit_is_gtc_clock,
                       const ASIC_READ_RTC_T* rtc_gtc_meas_p);
// ASIC_GET_DATABITS report: one batch appended to the ring of channel ch_id
// (0..19); fields as in WRAP_DBIT_T. A full ring (32 batches) keeps what it
// holds and drops the new batch.
S16 WRAP_set_asic_databits(S16 ch_id, S16 gnss_type, S16 prn, U32 databits, U32 databits_info, U32 bitcnt,
                           U08 issue_id);
// RTC reading of the target (from its ASIC_RTC report, or from rtc_data.dat in
// replay): wn = RTC week (mod 4096), sec = RTC seconds, subsec = sub-second
// count in 1/32768 s. A reading still waiting is replaced (and counted).
void WRAP_set_asic_rtc(S16 wn, S32 sec, U32 subsec);

// --- Queries for the kernel ---------------------------------------------------------
// Take the complete epoch: 1 and *meas_p filled (caller's record), the store
// emptied for the next epoch; 0 and *meas_p untouched when none waits.
S16 ASIC_get_measurements(ASIC_MEAS_T* meas_p);
// Take the oldest data-bit batch of channel ch_id (0..19; anything else is a
// fatal assertion): 1 and the seven fields written through the pointers (all
// non-null, fields as in WRAP_DBIT_T); 0 and nothing written when the ring is
// empty.
S16 ASIC_get_databits(S16 ch_id, S16* gnss_type_p, S16* prn_p, U32* databits_p, U32* databits_info_p, U32* bitcnt_p,
                      U08* issue_id_p);
// Take the waiting RTC reading: 1 and week (mod 4096), seconds and sub-second
// count (1/32768 s) written; 0 and nothing written when none waits.
S16 ASIC_get_rtc(S16* wn_p, S32* sec_p, U32* subsec_p);
// Channels the target tracks steadily: always 0 (the link does not report it).
S32 ASIC_get_stable_tracking_channels();

// --- Commands ------------------------------------------------------------------------
// Each builds one host-link command frame in a buffer of its own, hands it to
// the command sink (when installed) and, in logging mode with a port, queues
// it on the port; a port error goes unnoticed. Each returns 1. Record and
// array arguments are read during the call only; array commands clamp their
// count to the message's entry count and send only the first `num` entries of
// the caller's array (the rest of the message is zero); a null array sends
// zeros. Integer fields travel in the byte widths of the message: a value too
// wide for its field keeps its low bytes.

// ASIC_INIT; noise_power_cal_mode (1: the target calibrates its noise power)
// is not sent.
S16 ASIC_init(S16 noise_power_cal_mode);
// PSE_INIT: restart the GPS search engine.
S16 PSE_init();
// ASIC_RTC: set the target's RTC to week wn (mod 4096) and second sec; the
// sub-second count sent is 1000 (1/32768 s).
S16 ASIC_set_rtc(S16 wn, S32 sec);
// ASIC_ADJUST_RTC: sub-second count (1/32768 s), week, seconds and the
// time-count second the adjustment refers to; rtc_subsec_dif and its CRC stay
// here.
S16 ASIC_adjust_rtc(const ASIC_RTC_ADJ_T* adj_p);
// ASIC_SET_HOT_START_PREDICT_TIME: the time count the target should expect at
// the RTC mark: gtc_sec (s), gtc_subsec (ms), gtc_ssubsec (TCXO clocks within
// the ms); the RTC mark record_rtc_sec (s), record_rtc_subsec (1/32768 s);
// valid_flag 1: a prediction, 0: none (all fields 0).
S16 ASIC_set_hot_start_predict_time(S32 gtc_sec, S16 gtc_subsec, S16 gtc_ssubsec, S32 record_rtc_sec,
                                    S16 record_rtc_subsec, S16 valid_flag);
// ASIC_PREDICT_MEAS: num (0..20) predicted GPS / BeiDou signals for
// time-count second ref_gtc_sec (s). Per entry: prn, code phase code0 in
// 1/8192 chip from the start of the data bit, code_rate in 1/8192 chip/s,
// dop_freq as a tracking-NCO word, by_eph_flag 1 when predicted from the
// ephemeris. can_predict_to_chip 1: the code phase is good to a chip. Built
// in a 768-byte buffer.
S16 ASIC_set_predicted_meas(S16 num, S32 ref_gtc_sec, const ASIC_PREDICTED_MEAS_T* predict_meas,
                            S16 can_predict_to_chip);
// ASIC_DROP_CHANNEL: release channel ch_id (0..19) tracking prn (target
// numbering: SBAS 38..56) under tracking issue track_issue.
S16 ASIC_drop_channel_signal(S16 ch_id, S16 prn, U08 track_issue);
// ASIC_DROP_CHANNEL for a GLONASS channel: k_num is the frequency number.
// ch_id outside 0..19 is a fatal assertion.
S16 GLOASIC_drop_channel_signal(S16 ch_id, S16 k_num, U08 track_issue);
// ASIC_SMALL_GAIN: use the small tracking-loop gain on channel ch_id (0..19).
S16 ASIC_set_small_loop_gain(S16 ch_id);
// ASIC_SKIP_10MS: the target's 10 ms integration skip mode, skip_10ms 1 on, 0 off.
S16 ASIC_do_skip_10ms_mode(S16 skip_10ms);
// ASIC_SHIFT_MSC: shift the code of channel ch_id (tracking prn under
// track_issue) by shift_count ms (+1 or -1).
S16 ASIC_set_ch_shift_one_msc(S16 ch_id, S16 prn, U08 track_issue, S16 shift_count);
// ASIC_SET_1PPS: enable_disable 0 pulse off, 1 valid, 2 valid and the target
// may align its time count to it; pps_offset = pulse position within the
// coming second and pps_period = length of that second, both in TCXO clocks.
S16 ASIC_set_1pps(S16 enable_disable, U32 pps_offset, U32 pps_period);
// GLO_SET_1PPS: as ASIC_set_1pps, for the GLONASS pulse block.
S16 GLOASIC_set_1pps(S16 enable_disable, U32 pps_offset, U32 pps_period);
// ASIC_RESET_NOISE_POWER: the target restarts its noise-power estimate.
S16 ASIC_reset_noise_power();
// ASIC_SET_TR: num (0..12) entries {prn, tr_to_chip: the satellite's
// transmit time in the target's code-chip count}.
S16 ASIC_set_tr(S16 num, const ASIC_TR_T* tr);
// GLO_ASIC_INIT: restart the GLONASS channels.
S16 GLOASIC_init();
// GLO_ASIC_SET_STR_START: channel ch_id's data-bit count isr_bitcnt at which a
// GLONASS string starts, for tracking issue track_issue_id.
S16 GLOASIC_set_string_start_bitcnt(S16 ch_id, S32 isr_bitcnt, U08 track_issue_id);
// GLO_ASIC_PREDICT_MEAS: the head fields only (num, ref_gtc_sec in s,
// can_predict_to_chip); the entries are not sent and may be null.
S16 GLOASIC_set_predicted_meas(S16 num, S32 ref_gtc_sec, const GLOASIC_PREDICTED_MEAS_T* predict_meas,
                               S16 can_predict_to_chip);
// PSE_PARAM: correlation parameters of search mode `mode`.
S16 PSE_set_signal_mode_param(S16 mode, const PSE_PARAM_T* param_p);
// PSE_SET: the search states of the GPS engine; mode = the search state
// (strategy) code, nstates (0..8) states of up to 3 search sets each.
S16 PSE_set_search_states_array(S08 mode, S16 nstates, const PSE_STATE_T* states);
// PSE_ENABLE_ALL / PSE_DISABLE_ALL: every GPS search engine on / off.
S16 PSE_enable_all();
S16 PSE_disable_all();
// PSE_ENABLE_ONE / PSE_DISABLE_ONE: search engine number pse on / off.
S16 PSE_enable(S16 pse);
S16 PSE_disable(S16 pse);
// PSE_SVDOPP: num (0..20) satellites on the sky, highest first, each with its
// predicted Doppler in search-NCO units (Hz x TCXO_get_pse_nco_freq_scale).
S16 PSE_set_sv_doppler(S16 num, const PSE_PRN_DOPP_T* dopp);
// PSE_CLOCK: receiver clock (frequency) offset to search around, search-NCO
// units.
S16 PSE_set_clock_offset(S32 clk_offset);
// PSE_WEAK_ARRAY: num (0..8) satellites for the weak-signal search, each with
// its ms within the data bit (0..19) and Doppler in search-NCO units.
S16 PSE_set_weak_search_array(S16 num, const PSE_WEAK_SEARCH_T* weak);
// PSE_RCV_IS_STATIC: is_static 2 static, 1 slow (at most 65 km/h), 0 moving
// or unknown.
S16 PSE_receiver_is_static(S16 is_static);
// PSE_PAUSE: pause 1 stops the GPS search (power saving), 0 runs it.
S16 PSE_pause(S16 pause);
// PSE_CNR_STATUS: numbers of GPS channels (frame-synchronised or measuring)
// with C/N0 above 46, 44, 39 and 29 dB-Hz.
S16 PSE_update_tm_cnr_status(U08 nums_of_cnr_47, U08 nums_of_cnr_45, U08 nums_of_cnr_40, U08 nums_of_cnr_30);
// PSE_NEED_WAAS_SEARCH: waas_status 1 when SBAS satellites should be searched.
S16 PSE_need_waas_search(S16 waas_status);
// GLO_PSE_INIT: restart the GLONASS search engine.
S16 GLOPSE_init();
// GLO_PSE_SET: as PSE_set_search_states_array, up to 2 sets per state.
S16 GLOPSE_set_search_states_array(S08 mode, S16 nstates, const GLO_PSE_STATE_T* states);
// GLO_PSE_SVDOPP: num (0..14) GLONASS frequency numbers with their Doppler in
// search-NCO units.
S16 GLOPSE_set_sv_doppler(S16 num, const GLO_PSE_KN_DOPP_T* dopp);
// GLO_PSE_CLOCK: as PSE_set_clock_offset, for the GLONASS engine.
S16 GLOPSE_set_clock_offset(S32 clk_offset);
// GLO_PSE_PAUSE: on_off 1 stops the GLONASS search, 0 runs it.
S16 GLOPSE_pause(S16 on_off);
// GLO_PSE_WEAK_ARRAY: as PSE_set_weak_search_array, by frequency number.
S16 GLOPSE_set_weak_search_array(S16 num, const GLO_PSE_WEAK_SEARCH_T* weak);
// BD2_PSE_CLOCK: as PSE_set_clock_offset, for the BeiDou engine.
S16 BD2_PSE_set_clock_offset(S32 clk_offset);
// BD2_PSE_WEAK_ARRAY: as PSE_set_weak_search_array, with the sub-ms code
// offset dsub_msc per entry.
S16 BD2_PSE_set_weak_search_array(S16 num, const BD2_PSE_WEAK_SEARCH_T* weak);

// --- Operations without a counterpart on the link ------------------------------------
// The target's firmware does this work itself or the link carries no message
// for it: each accepts its arguments, sends nothing and has no effect.
void PSE_process();                                                           // per-loop search-engine service
void GLOPSE_process();                                                        // per-loop GLONASS search-engine service
void BD2_PSE_process();                                                       // per-loop BeiDou search-engine service
void BD2_PSE_init();                                                          // BeiDou search-engine restart
void PSE_update_sbas_enable_disable(S16 enable);                              // 1: search SBAS satellites
void PSE_update_sbas_limitation(U08 sbas_subsystem_mask, U08 sbas_max_n_tm);  // SBAS systems, channels at most
void PSE_update_qzss_limitation(S16 enable, S16 max_num);                     // QZSS search, satellites at most
void GLOPSE_change_145_param(S08 be_stronger);                                // GLONASS search parameter switch
void ASIC_reset_aiding_bits(S16 ch_id);
S16 ASIC_update_aiding_bits(S16 ch_id, S32 start_bitcnt, U32 bits);  // returns 0: no aiding on the link
void ASIC_predict_meas_to_track();
void ASIC_send_measurements_immediatly();
void ASIC_set_RF_type(U08 rf_type);
// Noise power (target units) for the TCXO in use, with the TCXO frequency
// over the 16 367 667 Hz reference.
void ASIC_set_noise_power(U32 noise_power, F32 sqrt_ratio);
void PSE_set_noise_power_sqrt_ratio(F32 sqrt_ratio);
void ASIC_set_pps_width(U32 pps_width_clock);  // pulse width, counts of the target's high-rate pulse clock
// 1PPS on the target's high-rate pulse clock: offset within the second and
// period, in its counts; the 10 MHz output enable (1 on) and its NCO
// increment (2^-32 cycle per pulse-clock count).
void ASIC_set_1pps_for_T8(U32 pps_offset, U32 pps_period, S16 _10mhz_enable, U32 _10mhz_nco_increment);
void GLOASIC_set_1pps_clock_source_mode(S16 mode);  // 0..3: reference clock x1, x2, x4, x8
