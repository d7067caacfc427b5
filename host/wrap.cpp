// Target proxy: report stores for the kernel and the kernel's commands to the target.
#include "host/wrap.h"

#include <algorithm>

#include "host/pc_sio.h"
#include "misc/pack.h"
#include "misc/talon_assert.h"

namespace {

S16 Wrap_can_do = 0;
SIO_T Wrap_sio = nullptr;
WRAP_COMMAND_SINK_T Wrap_command_sink = nullptr;

ASIC_MEAS_T Wrap_asic_meas{};
S16 Wrap_has_asic_meas = 0;
std::array<S16, NCHAN> Wrap_has_chan_meas{};
std::array<WRAP_DBIT_QUEUE_T, NCHAN> Wrap_dbit_queue{};

S16 Wrap_rtc_wn = 0;
S32 Wrap_rtc_sec = 0;
U32 Wrap_rtc_subsec = 0;
S16 Wrap_has_rtc_time = 0;

S32 Wrap_overwrite_count = 0;
S32 Wrap_rtc_overwrite_count = 0;
std::array<S32, WRAP_N_DROP_REASONS> Wrap_drop_count{};

bool valid_ch(S16 ch_id) { return ch_id >= 0 && ch_id < NCHAN; }

S16 drop(int reason) {
  ++Wrap_drop_count[static_cast<std::size_t>(reason)];
  return 0;
}

// Hand a packed frame (size bytes, without checksum) to the sink and, in
// logging mode, to the target.
S16 send(U08* buf, int size) {
  const int n = append_checksum(buf, size);
  if (Wrap_command_sink != nullptr) Wrap_command_sink(buf, n);
  if (Wrap_can_do && Wrap_sio != nullptr) sio_tx(Wrap_sio, reinterpret_cast<const char*>(buf), n);
  return 1;
}

// Clamp a command's entry count to 0..max.
S16 clamp_num(S16 num, int max) { return static_cast<S16>(std::clamp<int>(num, 0, max)); }

// Copy the first num entries of the caller's array into a full-size zeroed
// array, so that the packer never reads past what the caller handed over.
template <typename T, std::size_t N>
std::array<T, N> first_entries(const T* src, S16 num) {
  std::array<T, N> a{};
  if (src != nullptr) std::copy_n(src, num, a.begin());
  return a;
}

}  // namespace

// ---------------------------------------------------------------------------
// Set-up and statistics
// ---------------------------------------------------------------------------
void WRAP_init(S16 do_wrap, SIO_T sio) {
  Wrap_can_do = do_wrap;
  Wrap_sio = sio;
  for (WRAP_DBIT_QUEUE_T& q : Wrap_dbit_queue) {
    q.count = 0;
    q.in = 0;
    q.out = 0;
  }
  Wrap_has_chan_meas.fill(0);
  Wrap_asic_meas = ASIC_MEAS_T{};
  Wrap_has_asic_meas = 0;
  Wrap_has_rtc_time = 0;
}

void WRAP_install_command_sink(WRAP_COMMAND_SINK_T sink) { Wrap_command_sink = sink; }

S16 WRAP_get_overwrite_count() { return static_cast<S16>(Wrap_overwrite_count); }

S32 WRAP_get_drop_count(int reason) {
  if (reason < 0 || reason >= WRAP_N_DROP_REASONS) return 0;
  return Wrap_drop_count[static_cast<std::size_t>(reason)];
}

S32 WRAP_get_rtc_overwrite_count() { return Wrap_rtc_overwrite_count; }

void WRAP_clear_counters() {
  Wrap_overwrite_count = 0;
  Wrap_rtc_overwrite_count = 0;
  Wrap_drop_count.fill(0);
}

// ---------------------------------------------------------------------------
// Storing reports
// ---------------------------------------------------------------------------
S16 WRAP_set_asic_chan_meas(S16 ch_id, const ASIC_CHAN_MEAS_T* ch_meas_p) {
  if (!valid_ch(ch_id)) return drop(WRAP_DROP_BAD_CH_ID);
  if (ch_meas_p->state > CH_MEAS_AVAILABLE) return drop(WRAP_DROP_BAD_STATE);
  if (Wrap_has_asic_meas) ++Wrap_overwrite_count;
  const auto ch = static_cast<std::size_t>(ch_id);
  if (Wrap_has_chan_meas[ch]) ++Wrap_overwrite_count;
  Wrap_asic_meas.chan[ch] = *ch_meas_p;
  Wrap_has_chan_meas[ch] = 1;
  return 1;
}

S16 WRAP_set_asic_chan_carrier_meas(S16 ch_id, const ASIC_CHAN_MEAS_T* ch_meas_p) {
  if (!valid_ch(ch_id)) return drop(WRAP_DROP_BAD_CH_ID);
  // The count arrives as one sign-extended byte: 0..10 entries are meaningful.
  if (static_cast<S16>(ch_meas_p->carrier_phase_ary_count) < 0 ||
      ch_meas_p->carrier_phase_ary_count > MSG_CARRIER_ARY_N)
    return drop(WRAP_DROP_BAD_CARRIER_COUNT);
  if (Wrap_has_asic_meas) ++Wrap_overwrite_count;
  const auto ch = static_cast<std::size_t>(ch_id);
  if (!Wrap_has_chan_meas[ch]) return drop(WRAP_DROP_NO_CHAN);  // CHAN must come first in the epoch
  ASIC_CHAN_MEAS_T& m = Wrap_asic_meas.chan[ch];
  m.start_carrier_phase_ary = ch_meas_p->start_carrier_phase_ary;
  m.acc_carrier_cycle_ary = ch_meas_p->acc_carrier_cycle_ary;
  m.acc_carrier_cycle_count_ary = ch_meas_p->acc_carrier_cycle_count_ary;
  m.carrier_phase_no_good_count_ary = ch_meas_p->carrier_phase_no_good_count_ary;
  m.end_carrier_phase = ch_meas_p->end_carrier_phase;
  m.carrier_phase_ary_count = ch_meas_p->carrier_phase_ary_count;
  return 1;
}

S16 WRAP_set_asic_gtc_clock_counts(S16 ary_count, const U32* acc_clocks_ary, const U16* acc_subsecs_ary) {
  if (Wrap_has_asic_meas) return 0;  // only while no complete epoch waits
  const S16 n = clamp_num(ary_count, MSG_GTC_CLOCK_N);
  std::copy_n(acc_clocks_ary, n, Wrap_asic_meas.acc_clocks_ary.begin());
  std::copy_n(acc_subsecs_ary, n, Wrap_asic_meas.acc_subsecs_ary.begin());
  Wrap_asic_meas.acc_clocks_ary_count = n;
  return 1;
}

void WRAP_set_asic_gtc(const GTC_RD_T* gtc_p, S16 gtc_shift_count, S16 has_updated_rtc, U32 noise_power,
                       const U32* glo_noise_power_p, S32 gtc_sync_to_gps_time_error_unit_is_gtc_clock,
                       const ASIC_READ_RTC_T* rtc_gtc_meas_p) {
  if (Wrap_has_asic_meas) ++Wrap_overwrite_count;
  ASIC_MEAS_T& m = Wrap_asic_meas;
  m.gtc = *gtc_p;
  m.gtc_shift_count = gtc_shift_count;
  m.has_updated_rtc = has_updated_rtc;
  m.noise_power = noise_power;
  if (glo_noise_power_p != nullptr)
    std::copy_n(glo_noise_power_p, WRAP_GLO_NOISE_POWER_N, m.glo_noise_power_p.begin());
  else
    m.glo_noise_power_p.fill(0);
  m.gtc_sync_to_gps_time_error_unit_is_gtc_clock = gtc_sync_to_gps_time_error_unit_is_gtc_clock;
  m.rtc_gtc_meas = *rtc_gtc_meas_p;
  for (std::size_t ch = 0; ch < NCHAN; ++ch)
    if (!Wrap_has_chan_meas[ch]) m.chan[ch].state = CH_IDLE;
  Wrap_has_chan_meas.fill(0);
  Wrap_has_asic_meas = 1;
}

S16 WRAP_set_asic_databits(S16 ch_id, S16 gnss_type, S16 prn, U32 databits, U32 databits_info, U32 bitcnt,
                           U08 issue_id) {
  if (!valid_ch(ch_id)) return drop(WRAP_DROP_BAD_CH_ID);
  WRAP_DBIT_QUEUE_T& q = Wrap_dbit_queue[static_cast<std::size_t>(ch_id)];
  // A full ring keeps its undelivered batches; the new one is dropped.
  if (q.count >= SIZEOF_WRAP_DBIT_QUEUE) return drop(WRAP_DROP_DBIT_RING_FULL);
  q.dbits[static_cast<std::size_t>(q.in)] = WRAP_DBIT_T{gnss_type, prn, databits, databits_info, bitcnt, issue_id};
  q.in = static_cast<S16>((q.in + 1) % SIZEOF_WRAP_DBIT_QUEUE);
  ++q.count;
  return 1;
}

void WRAP_set_asic_rtc(S16 wn, S32 sec, U32 subsec) {
  // A reading still waiting is replaced by the newer one (counted).
  if (Wrap_has_rtc_time) ++Wrap_rtc_overwrite_count;
  Wrap_rtc_wn = wn;
  Wrap_rtc_sec = sec;
  Wrap_rtc_subsec = subsec;
  Wrap_has_rtc_time = 1;
}

// ---------------------------------------------------------------------------
// Queries for the kernel
// ---------------------------------------------------------------------------
S16 ASIC_get_measurements(ASIC_MEAS_T* meas_p) {
  if (!Wrap_has_asic_meas) return 0;
  *meas_p = Wrap_asic_meas;
  Wrap_has_asic_meas = 0;
  Wrap_asic_meas = ASIC_MEAS_T{};
  return 1;
}

S16 ASIC_get_databits(S16 ch_id, S16* gnss_type_p, S16* prn_p, U32* databits_p, U32* databits_info_p, U32* bitcnt_p,
                      U08* issue_id_p) {
  talon_assert(valid_ch(ch_id), "data-bit query for a channel outside 0..19");
  WRAP_DBIT_QUEUE_T& q = Wrap_dbit_queue[static_cast<std::size_t>(ch_id)];
  if (q.count <= 0) return 0;
  const WRAP_DBIT_T& d = q.dbits[static_cast<std::size_t>(q.out)];
  *gnss_type_p = d.gnss_type;
  *prn_p = d.prn;
  *databits_p = d.databits;
  *databits_info_p = d.databits_info;
  *bitcnt_p = d.bitcnt;
  *issue_id_p = d.issue_id;
  q.out = static_cast<S16>((q.out + 1) % SIZEOF_WRAP_DBIT_QUEUE);
  --q.count;
  return 1;
}

S16 ASIC_get_rtc(S16* wn_p, S32* sec_p, U32* subsec_p) {
  if (!Wrap_has_rtc_time) return 0;
  *wn_p = Wrap_rtc_wn;
  *sec_p = Wrap_rtc_sec;
  *subsec_p = Wrap_rtc_subsec;
  Wrap_has_rtc_time = 0;
  return 1;
}

S32 ASIC_get_stable_tracking_channels() { return 0; }

// ---------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------
S16 ASIC_init(S16) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_asic_init(buf));
}

S16 PSE_init() {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_pse_init(buf));
}

// The target's RTC is set with a sub-second count of 1000.
S16 ASIC_set_rtc(S16 wn, S32 sec) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_rtc(buf, wn, sec, 1000));
}

S16 ASIC_adjust_rtc(const ASIC_RTC_ADJ_T* adj_p) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_adjust_rtc(buf, adj_p));
}

S16 ASIC_set_hot_start_predict_time(S32 gtc_sec, S16 gtc_subsec, S16 gtc_ssubsec, S32 record_rtc_sec,
                                    S16 record_rtc_subsec, S16 valid_flag) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_set_hot_start_predict_time(buf, gtc_sec, gtc_subsec, gtc_ssubsec, record_rtc_sec,
                                                       record_rtc_subsec, valid_flag));
}

S16 ASIC_set_predicted_meas(S16 num, S32 ref_gtc_sec, const ASIC_PREDICTED_MEAS_T* predict_meas,
                            S16 can_predict_to_chip) {
  U08 buf[WRAP_PREDICT_BUF_SIZE];
  const S16 n = clamp_num(num, MSG_PREDICT_N);
  const auto entries = first_entries<ASIC_PREDICTED_MEAS_T, MSG_PREDICT_N>(predict_meas, n);
  return send(buf, pack_msg_predict_meas(buf, n, ref_gtc_sec, entries.data(), can_predict_to_chip));
}

S16 ASIC_drop_channel_signal(S16 ch_id, S16 prn, U08 track_issue) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_drop_channel(buf, ch_id, prn, track_issue));
}

S16 GLOASIC_drop_channel_signal(S16 ch_id, S16 k_num, U08 track_issue) {
  talon_assert(valid_ch(ch_id), "GLONASS channel drop for a channel outside 0..19");
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_drop_channel(buf, ch_id, k_num, track_issue));
}

S16 ASIC_set_small_loop_gain(S16 ch_id) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_set_small_loop_gain(buf, ch_id));
}

S16 ASIC_do_skip_10ms_mode(S16 skip_10ms) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_skip_10ms_integ(buf, skip_10ms));
}

S16 ASIC_set_ch_shift_one_msc(S16 ch_id, S16 prn, U08 track_issue, S16 shift_count) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_ch_shift_msc(buf, ch_id, prn, track_issue, shift_count));
}

S16 ASIC_set_1pps(S16 enable_disable, U32 pps_offset, U32 pps_period) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_set_1pps(buf, enable_disable, pps_offset, pps_period));
}

S16 GLOASIC_set_1pps(S16 enable_disable, U32 pps_offset, U32 pps_period) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_glo_set_1pps(buf, enable_disable, pps_offset, pps_period));
}

S16 ASIC_reset_noise_power() {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_reset_noise_power(buf));
}

S16 ASIC_set_tr(S16 num, const ASIC_TR_T* tr) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  const S16 n = clamp_num(num, MSG_SET_TR_N);
  const auto entries = first_entries<ASIC_TR_T, MSG_SET_TR_N>(tr, n);
  return send(buf, pack_msg_tr(buf, n, entries.data()));
}

S16 GLOASIC_init() {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_glo_asic_init(buf));
}

S16 GLOASIC_set_string_start_bitcnt(S16 ch_id, S32 isr_bitcnt, U08 track_issue_id) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_set_string_start_bitcnt(buf, ch_id, isr_bitcnt, track_issue_id));
}

// The GLONASS prediction message carries only its head fields.
S16 GLOASIC_set_predicted_meas(S16 num, S32 ref_gtc_sec, const GLOASIC_PREDICTED_MEAS_T*, S16 can_predict_to_chip) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_glo_predict_meas(buf, num, ref_gtc_sec, can_predict_to_chip));
}

S16 PSE_set_signal_mode_param(S16 mode, const PSE_PARAM_T* param_p) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_pse_set_signal_mode_param(buf, mode, param_p));
}

S16 PSE_set_search_states_array(S08 mode, S16 nstates, const PSE_STATE_T* states) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  const S16 n = clamp_num(nstates, MSG_PSE_STATES_N);
  const auto entries = first_entries<PSE_STATE_T, MSG_PSE_STATES_N>(states, n);
  return send(buf, pack_msg_pse_set_search_states_array(buf, mode, n, entries.data()));
}

S16 PSE_enable_all() {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_pse_enable_all(buf));
}

S16 PSE_disable_all() {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_pse_disable_all(buf));
}

S16 PSE_enable(S16 pse) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_pse_enable(buf, pse));
}

S16 PSE_disable(S16 pse) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_pse_disable(buf, pse));
}

S16 PSE_set_sv_doppler(S16 num, const PSE_PRN_DOPP_T* dopp) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  const S16 n = clamp_num(num, MSG_PSE_SVDOPP_N);
  const auto entries = first_entries<PSE_PRN_DOPP_T, MSG_PSE_SVDOPP_N>(dopp, n);
  return send(buf, pack_msg_pse_set_sv_doppler(buf, n, entries.data()));
}

S16 PSE_set_clock_offset(S32 clk_offset) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_pse_set_clock_offset(buf, clk_offset));
}

S16 PSE_set_weak_search_array(S16 num, const PSE_WEAK_SEARCH_T* weak) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  const S16 n = clamp_num(num, MSG_WEAK_ARRAY_N);
  const auto entries = first_entries<PSE_WEAK_SEARCH_T, MSG_WEAK_ARRAY_N>(weak, n);
  return send(buf, pack_msg_pse_set_weak_array(buf, n, entries.data()));
}

S16 PSE_receiver_is_static(S16 is_static) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_pse_rcv_is_static(buf, is_static));
}

S16 PSE_pause(S16 pause) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_pse_pause(buf, pause));
}

S16 PSE_update_tm_cnr_status(U08 nums_of_cnr_47, U08 nums_of_cnr_45, U08 nums_of_cnr_40, U08 nums_of_cnr_30) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf,
              pack_msg_pse_update_tm_cnr_status(buf, nums_of_cnr_47, nums_of_cnr_45, nums_of_cnr_40, nums_of_cnr_30));
}

S16 PSE_need_waas_search(S16 waas_status) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_pse_need_waas_search(buf, waas_status));
}

S16 GLOPSE_init() {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_glo_pse_init(buf));
}

S16 GLOPSE_set_search_states_array(S08 mode, S16 nstates, const GLO_PSE_STATE_T* states) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  const S16 n = clamp_num(nstates, MSG_PSE_STATES_N);
  const auto entries = first_entries<GLO_PSE_STATE_T, MSG_PSE_STATES_N>(states, n);
  return send(buf, pack_msg_glo_pse_set_search_states_array(buf, mode, n, entries.data()));
}

S16 GLOPSE_set_sv_doppler(S16 num, const GLO_PSE_KN_DOPP_T* dopp) {
  U08 buf[WRAP_CMD_BUF_SIZE] = {};
  const S16 n = clamp_num(num, MSG_GLO_PSE_SVDOPP_N);
  const auto entries = first_entries<GLO_PSE_KN_DOPP_T, MSG_GLO_PSE_SVDOPP_N>(dopp, n);
  return send(buf, pack_msg_glo_pse_set_sv_doppler(buf, n, entries.data()));
}

S16 GLOPSE_set_clock_offset(S32 clk_offset) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_glo_pse_set_clock_offset(buf, clk_offset));
}

S16 GLOPSE_pause(S16 on_off) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_glo_pse_pause(buf, on_off));
}

S16 GLOPSE_set_weak_search_array(S16 num, const GLO_PSE_WEAK_SEARCH_T* weak) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  const S16 n = clamp_num(num, MSG_WEAK_ARRAY_N);
  const auto entries = first_entries<GLO_PSE_WEAK_SEARCH_T, MSG_WEAK_ARRAY_N>(weak, n);
  return send(buf, pack_msg_glo_pse_set_weak_array(buf, n, entries.data()));
}

S16 BD2_PSE_set_clock_offset(S32 clk_offset) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  return send(buf, pack_msg_pse_bd2_set_clock_offset(buf, clk_offset));
}

S16 BD2_PSE_set_weak_search_array(S16 num, const BD2_PSE_WEAK_SEARCH_T* weak) {
  U08 buf[WRAP_CMD_BUF_SIZE];
  const S16 n = clamp_num(num, MSG_WEAK_ARRAY_N);
  const auto entries = first_entries<BD2_PSE_WEAK_SEARCH_T, MSG_WEAK_ARRAY_N>(weak, n);
  return send(buf, pack_msg_bd2_pse_set_weak_array(buf, n, entries.data()));
}

// ---------------------------------------------------------------------------
// Operations without a counterpart on the link
// ---------------------------------------------------------------------------
void PSE_process() {}
void GLOPSE_process() {}
void BD2_PSE_process() {}
void BD2_PSE_init() {}
void PSE_update_sbas_enable_disable(S16) {}
void PSE_update_sbas_limitation(U08, U08) {}
void PSE_update_qzss_limitation(S16, S16) {}
void GLOPSE_change_145_param(S08) {}
void ASIC_reset_aiding_bits(S16) {}
S16 ASIC_update_aiding_bits(S16, S32, U32) { return 0; }
void ASIC_predict_meas_to_track() {}
void ASIC_send_measurements_immediatly() {}
void ASIC_set_RF_type(U08) {}
void ASIC_set_noise_power(U32, F32) {}
void PSE_set_noise_power_sqrt_ratio(F32) {}
void ASIC_set_pps_width(U32) {}
void ASIC_set_1pps_for_T8(U32, U32, S16, U32) {}
void GLOASIC_set_1pps_clock_source_mode(S16) {}
