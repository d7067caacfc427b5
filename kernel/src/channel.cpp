// Channels: one record per hardware channel that follows the target's
// tracking, with the signal's transmit time, filtered C/N0, interference
// score, data-bit routing and the ranges handed to navigation.
#include "kernel/src/channel.h"

#include <array>
#include <cmath>
#include <cstdlib>

#include "kernel/src/kernel.h"
#include "kernel/src/kernel_modules.h"
#include "misc/talon_assert.h"

struct CHAN_S {
  S16 id;  // channel number 0..19
  U16 state, last_state;
  S16 unlock;
  U16 in_fix;
  U16 gnss_type;
  S16 svid;  // kernel numbering, as reported (0 when idle); kept also without a satellite record
  S16 k_num;
  U16 meas_update_count;
  F32 nco_freq, dopp_freq, dopp_freq_by_nco_freq;  // Hz
  U32 acc_cycle_count;                             // ms
  F32 cnr;                                         // dB-Hz
  S32 isr_bitcnt, last_isr_bitcnt;
  D64 sub_bit;  // s
  D64 ttime;    // GPS s of week
  S16 has_sub_bit, has_ttime;
  S16 is_first_track_second;
  S16 steady_cnr_count;
  F32 filter_cnr;                         // dB-Hz
  F32 filter_cnr_for_steady_signal_test;  // dB-Hz; 0 unset
  S16 sbas_dbc_ndx;                       // -1 none
  S16 sbas_fs_flag;
  S16 sbas_bit_cnt_start;
  S32 sbas_bit_cnt_num;
  DBCollect_T dbc;
  BC_T bc;
  SV_T sv;
  RNG_T rng;
  CCYCLE_T ccycle;
  U08 issue_id;
  S08 loop_gain_mode, integ_time, integ_divider;
  S16 has_predict_bitcnt0, type_predit_bitcnt0;
  S32 predict_bitcnt0;
  U32 last_unlock_status, unlock_status;
  U32 code_phase_reg2;
  U08 signal_source, bs_source;
  U32 ch_noise_power;
  S16 ch_interference_cnt;
  U32 ch_reset_no_reset_glo_dbc;
};

namespace {

constexpr U16 MAX_MEAS_UPDATE_COUNT = 10000;
constexpr S16 MAX_STEADY_CNR_COUNT = 1000;
constexpr F32 STEADY_CNR_BAND = 2.0f;          // dB-Hz
constexpr F32 CNR_FALL_CLAMP = 25.0f;          // dB-Hz: a falling C/N0 below this is smoothed
constexpr S64 GPS_BITS_PER_WEEK = 30240000;    // 50 x 604 800
constexpr S64 SBAS_BITS_PER_WEEK = 302400000;  // 500 x 604 800
constexpr S32 GPS_BITS_PER_SEC = 50;
constexpr S32 HALF_WEEK = 302400;
constexpr S32 SBAS_KICK_BATCHES = 932;
constexpr F32 SBAS_COUNT_CNR = 35.0f;  // dB-Hz
constexpr U32 INTERFERENCE_UNIT = 22500;
constexpr F32 INTERFERENCE_MAX_CNR = 40.0f;  // dB-Hz: above, no interference is scored
constexpr S16 POWER_ON_GLONASS_SEC = 2;

// Interference score steps: noise above n units adds `add`; below m units subtracts 1.
struct NoiseStep {
  U32 units;
  S16 add;
};
constexpr std::array<NoiseStep, 4> NOISE_ADD = {{{10, 1}, {20, 2}, {50, 5}, {100, 15}}};
constexpr std::array<U32, 3> NOISE_SUB_UNITS = {10, 8, 5};

std::array<CHAN_S, NUM_HW_CHANNELS> Channel_data{};
U32 Ch_meas_raw_gtc_sec = 0;     // s
U16 Ch_meas_raw_gtc_subsec = 0;  // ms
S16 Ch_meas_has_raw_gtc_subsec = 0;
S32 Ch_meas_dsubsec = 0;  // ms: length of the last measurement interval; 0 unknown
CH_RESET_CALLBACK_T Ch_reset_callback = nullptr;

// Empty record of channel i with its fixed handles.
CHAN_S empty_record(S16 i) {
  CHAN_S c{};
  c.id = i;
  c.state = c.last_state = CH_IDLE;
  c.is_first_track_second = 1;
  c.sbas_dbc_ndx = -1;
  c.bc = BC_find_reference(i);
  c.rng = RNG_get_reference(i);
  c.ccycle = CCYCLE_find_reference(i);
  return c;
}

bool is_tracking(const CHAN_S& c) { return c.state > CH_BITSYNC; }

// Truncation to S16, saturated (also for NaN: 0).
S16 trunc_s16(F32 v) {
  if (!(v == v)) return 0;
  if (v >= 32767.0f) return 32767;
  if (v <= -32768.0f) return -32768;
  return static_cast<S16>(v);
}

// C/N0 rounded for display and checks: +0.5 dB, then truncated.
S16 round_cnr(F32 v) { return trunc_s16(v + 0.5f); }

// Signal id of the bit-count handler: the satellite id, the frequency number
// for GLONASS, the target's number for SBAS.
S16 signal_id_of(const CHAN_S& c) {
  if (c.gnss_type == GNSS_TYPE_GLONASS) return c.k_num;
  if (c.gnss_type == GNSS_TYPE_SBAS) return static_cast<S16>(c.svid - SBAS_TARGET_OFFSET);
  return c.svid;
}

// Transmit time of absolute bit count abs_bitcnt plus the sub-bit, wrapped
// into the week. The whole seconds are counted in integers and the fraction
// (bits within the second and the sub-bit, below 1 s) added once, so the
// time of week carries a single rounding (half a unit of the double, 1.7 cm
// of light at the end of the week); bits x 0.02 s in doubles drifted
// several units (2 cm at the end of a day).
D64 ttime_of(S64 abs_bitcnt, bool sbas, D64 sub_bit) {
  const S64 per_week = sbas ? SBAS_BITS_PER_WEEK : GPS_BITS_PER_WEEK;
  const S64 per_second = per_week / SECONDS_PER_WEEK;
  abs_bitcnt %= per_week;
  if (abs_bitcnt < 0) abs_bitcnt += per_week;
  const S64 whole_s = abs_bitcnt / per_second;
  const D64 frac_s = static_cast<D64>(abs_bitcnt % per_second) / static_cast<D64>(per_second) + sub_bit;
  D64 t = static_cast<D64>(whole_s) + frac_s;
  if (t >= SECONDS_PER_WEEK) t -= SECONDS_PER_WEEK;
  return t;
}

// The channel's transmit time from its bit count: the bit-count handler's
// absolute count of the measurement, else the prediction. false when neither
// exists or no sub-bit was measured this epoch.
bool convert_meas_to_transmit_time(CHAN_S& c) {
  if (!c.has_sub_bit) return false;
  S64 abs = 0;
  if (BC_update_meas_track_bitcnt(c.bc, c.gnss_type, signal_id_of(c), c.isr_bitcnt, c.issue_id))
    abs = BC_get_abs_bitcnt_of_measurement(c.bc);
  else if (c.has_predict_bitcnt0)
    abs = static_cast<S64>(c.isr_bitcnt) + c.predict_bitcnt0;
  else
    return false;
  c.ttime = ttime_of(abs, c.gnss_type == GNSS_TYPE_SBAS, c.sub_bit);
  return true;
}

// Filtered C/N0: a rise is followed at once; a fall at or below 25 dB-Hz is
// clamped to 25 and then smoothed by eighths. The steadiness count grows
// while C/N0 stays within 2 dB of a slow average.
void update_filter_cnr(CHAN_S& c, F32 real_cnr) {
  if (real_cnr > CNR_FALL_CLAMP || c.filter_cnr <= real_cnr) {
    c.filter_cnr = real_cnr;
  } else {
    if (c.filter_cnr > CNR_FALL_CLAMP) c.filter_cnr = CNR_FALL_CLAMP;
    c.filter_cnr = (7.0f * c.filter_cnr + real_cnr) / 8.0f;
  }
  if (c.filter_cnr_for_steady_signal_test == 0.0f) {
    c.filter_cnr_for_steady_signal_test = real_cnr;
    return;
  }
  if (std::fabs(real_cnr - c.filter_cnr_for_steady_signal_test) < STEADY_CNR_BAND) {
    if (c.steady_cnr_count < MAX_STEADY_CNR_COUNT) ++c.steady_cnr_count;
  } else {
    c.steady_cnr_count = 0;
  }
  c.filter_cnr_for_steady_signal_test = (7.0f * c.filter_cnr_for_steady_signal_test + real_cnr) / 8.0f;
}

// Interference score from the channel's noise power at a whole second.
void interference_detection_process(CHAN_S& c, U32 noise) {
  c.ch_noise_power = noise;
  if (noise == 0 || c.cnr > INTERFERENCE_MAX_CNR) {
    c.ch_interference_cnt = 0;
    return;
  }
  S32 score = c.ch_interference_cnt;
  for (const NoiseStep& s : NOISE_ADD)
    if (noise > s.units * INTERFERENCE_UNIT) score += s.add;
  for (const U32 units : NOISE_SUB_UNITS)
    if (noise < units * INTERFERENCE_UNIT && score > 0) --score;
  c.ch_interference_cnt = static_cast<S16>(std::min<S32>(score, 32767));
}

// The channel has not yet tracked over one whole measurement interval.
bool check_whether_first_track_second(const CHAN_S& c) {
  return Ch_meas_dsubsec == 0 || c.last_state < CH_TRACK || c.acc_cycle_count < static_cast<U32>(Ch_meas_dsubsec);
}

// Step 3 of an update: re-assignment, satellite binding.
void bind_signal(CHAN_S& c, const CH_MEAS_INPUT_T* in) {
  if (in->issue_id != c.issue_id) CH_reset(&c);
  if (in->gnss_type == GNSS_TYPE_GLONASS && in->svid == 0 && c.sv == nullptr) {
    CH_set_tracking_sv(&c, SV_get_glonass_reference_by_knum(in->k_num));
    c.svid = in->svid;
    return;
  }
  if (in->svid != c.svid || static_cast<U16>(in->gnss_type) != c.gnss_type) {
    if (c.svid != 0) CH_reset(&c);
    c.svid = in->svid;
    CH_set_tracking_sv(&c, SV_get_reference(static_cast<U16>(in->gnss_type), in->svid));
  } else if (c.sv == nullptr) {
    CH_set_tracking_sv(&c, SV_get_reference(static_cast<U16>(in->gnss_type), in->svid));
  }
}

// Step 5: the tracking measurement into the record.
void copy_tracking_measurement(CHAN_S& c, const CH_MEAS_INPUT_T* in) {
  c.code_phase_reg2 = in->code_phase_reg2;
  c.signal_source = in->signal_source;
  c.bs_source = in->bs_source;
  c.cnr = in->cnr;
  if (Ch_meas_raw_gtc_subsec == 0) interference_detection_process(c, in->ch_noise_power);
  update_filter_cnr(c, in->cnr);
  c.unlock = in->unlock;
  c.sub_bit = in->sub_bit;
  c.has_sub_bit = in->has_sub_bit;
  c.nco_freq = in->nco_freq;
  c.dopp_freq = in->dopp_freq;
  c.dopp_freq_by_nco_freq = in->dopp_freq_by_nco_freq;
  c.acc_cycle_count = in->acc_cycle_count;
  c.isr_bitcnt = static_cast<S32>(in->bitcnt);
  CCYCLE_set_one_channel_carrier_cycles(c.ccycle, &in->carrier_in);
}

// Step 6: Doppler to the range record; the NCO Doppler stands in during the first track second.
void update_range_doppler(CHAN_S& c) {
  if (check_whether_first_track_second(c)) {
    c.is_first_track_second = 1;
    RNG_update_carrier_dopp_freq(c.rng, static_cast<S16>(c.gnss_type), c.k_num, c.dopp_freq_by_nco_freq);
    RNG_update_carrier_dopp_freq_by_nco_freq(c.rng, static_cast<S16>(c.gnss_type), c.k_num, c.dopp_freq_by_nco_freq);
  } else {
    c.is_first_track_second = 0;
    RNG_update_carrier_dopp_freq(c.rng, static_cast<S16>(c.gnss_type), c.k_num, c.dopp_freq);
    RNG_update_carrier_dopp_freq_by_nco_freq(c.rng, static_cast<S16>(c.gnss_type), c.k_num, c.dopp_freq_by_nco_freq);
  }
}

S16 update_transmit_time(CHAN_S& c) {
  if (!BC_has_frame_sync(c.bc) && !c.has_predict_bitcnt0) {
    c.has_ttime = 0;
    return 0;
  }
  c.has_ttime = convert_meas_to_transmit_time(c) ? 1 : 0;
  if (!c.has_ttime) return 0;
  RNG_update_ttime(c.rng, c.ttime);
  return SV_has_ephemeris(c.sv) ? 1 : 0;
}

// SBAS frame timing from a frame-synchronised GPS channel: the SBAS message
// blocks start on whole GPS seconds.
void sbas_frame_timing(CHAN_S& c, S32 first_ms) {
  for (const CHAN_S& g : Channel_data) {
    if (g.gnss_type != GNSS_TYPE_GPS || g.svid > GPS_PRN_MAX || !is_tracking(g) || !BC_has_frame_sync(g.bc)) continue;
    const S32 bitcnt0_gps = BC_get_bitcnt0(g.bc);
    const S64 ms =
        (static_cast<S64>(g.isr_bitcnt) * 10 - c.isr_bitcnt) * 2 + static_cast<S64>(bitcnt0_gps) * 20 + first_ms;
    const S64 bitcnt0 = (((ms + 500) / 1000) * 1000 - first_ms) / 2;
    const auto b0 = static_cast<S32>(bitcnt0 % SBAS_BITS_PER_WEEK);
    BC_frame_sync(c.bc, b0, GNSS_TYPE_SBAS, signal_id_of(c), c.issue_id);
    SBAS_DBC_update_bitcnt0(c.sbas_dbc_ndx, b0);
    c.sbas_fs_flag = 1;
    return;
  }
}

void process_sbas_databits(CHAN_S& c, S16 signal_id, U32 databits, S32 bitcnt, U08 issue_id) {
  if (issue_id != c.issue_id) {
    CH_reset(&c);
    c.issue_id = issue_id;
  }
  if (c.sbas_dbc_ndx < 0) {
    c.sbas_dbc_ndx = SBAS_DBC_new(issue_id);
    if (c.sbas_dbc_ndx < 0) return;
    c.sbas_bit_cnt_start = 1;
    c.sbas_bit_cnt_num = 0;
  }
  const S16 prn = static_cast<S16>(signal_id + SBAS_TARGET_OFFSET);
  if (!SBAS_DBC_check_prn(c.sbas_dbc_ndx, prn)) return;
  SBAS_DBC_collect(c.sbas_dbc_ndx, c.id, prn, issue_id, databits, bitcnt);
  if (c.cnr >= SBAS_COUNT_CNR && c.sbas_bit_cnt_num < 0x7FFFFFFF) ++c.sbas_bit_cnt_num;
  S32 first_ms = 0;
  if (!c.sbas_fs_flag && SBAS_DBC_get_track_to_first_block_msg_ms(c.sbas_dbc_ndx, &first_ms))
    sbas_frame_timing(c, first_ms);
}

void process_gps_databits(CHAN_S& c, S16 signal_id, U32 databits, S32 bitcnt, U08 issue_id) {
  if (c.dbc == nullptr) c.dbc = DBC_new(c.id);
  if (c.dbc == nullptr) return;
  if (!DBC_collect(c.dbc, databits, bitcnt)) return;
  S32 tow = 0, fs_bitcnt = 0;
  if (!DBC_get_frame_sync_result(c.dbc, &tow, &fs_bitcnt)) return;
  S64 bitcnt0 = static_cast<S64>(tow) * GPS_BITS_PER_SEC - fs_bitcnt;
  bitcnt0 %= GPS_BITS_PER_WEEK;
  if (bitcnt0 < 0) bitcnt0 += GPS_BITS_PER_WEEK;
  BC_frame_sync(c.bc, static_cast<S32>(bitcnt0), GNSS_TYPE_GPS, signal_id, issue_id);
}

}  // namespace

// --- Life cycle --------------------------------------------------------------------------
void CH_init() {
  // The collectors' pools were emptied by their own init: nothing is deleted here.
  for (std::size_t i = 0; i < Channel_data.size(); ++i) Channel_data[i] = empty_record(static_cast<S16>(i));
  Ch_meas_raw_gtc_sec = 0;
  Ch_meas_raw_gtc_subsec = 0;
  Ch_meas_has_raw_gtc_subsec = 0;
  Ch_meas_dsubsec = 0;
}

CHAN_T CH_find_reference(S16 ch_id) {
  talon_assert(ch_id >= 0 && ch_id < NUM_HW_CHANNELS, "channel id");
  return &Channel_data[static_cast<std::size_t>(ch_id)];
}

void CH_reset(CHAN_T ch) {
  if (ch == nullptr) return;
  if (ch->dbc != nullptr) DBC_delete(ch->dbc);
  if (ch->sbas_dbc_ndx >= 0) SBAS_DBC_delete(ch->sbas_dbc_ndx);
  const S16 id = ch->id;
  *ch = empty_record(id);
  BC_reset(ch->bc);
  RNG_reset(ch->rng);
  CCYCLE_reset(ch->ccycle);
  if (Ch_reset_callback != nullptr) Ch_reset_callback(id);
}

void CH_install_callback_reset(CH_RESET_CALLBACK_T func) { Ch_reset_callback = func; }

void CH_set_tracking_sv(CHAN_T ch, SV_T sv) {
  if (ch == nullptr) return;
  ch->sv = sv;
  RNG_set(ch->rng, sv, ch->id);
}

void CH_set_measurement_update_event(U32 raw_gtc_sec, U16 raw_gtc_subsec, S16 gtc_shift_count) {
  RNG_reset_calculation();
  if (Ch_meas_has_raw_gtc_subsec) {
    S64 dsec = static_cast<S64>(raw_gtc_sec) - Ch_meas_raw_gtc_sec;
    if (dsec < 0) dsec += SECONDS_PER_WEEK;
    S64 d = (static_cast<S64>(raw_gtc_subsec) - Ch_meas_raw_gtc_subsec) + 1000 * dsec - gtc_shift_count;
    if (d < 0) d += 1000;
    Ch_meas_dsubsec = d > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<S32>(d);
  }
  Ch_meas_raw_gtc_sec = raw_gtc_sec;
  Ch_meas_raw_gtc_subsec = raw_gtc_subsec;
  Ch_meas_has_raw_gtc_subsec = 1;
}

void CH_set_gtc_clock_counts(S16 ary_count, const U32* acc_clocks_ary, const U16* acc_subsecs_ary) {
  // The count indexes 10-entry arrays: anything outside 0..10 means no slots.
  if (ary_count < 0 || ary_count > CCYCLE_MAX_SLOTS) ary_count = 0;
  CCYCLE_set_gtc_clock_counts(ary_count, acc_clocks_ary, acc_subsecs_ary);
}

S16 CH_update_measurement(CHAN_T ch, const CH_MEAS_INPUT_T* in) {
  if (ch == nullptr) return 0;
  CHAN_S& c = *ch;
  c.in_fix = 0;
  c.last_state = c.state;
  if (in->track_state == CH_IDLE) {
    if (c.state != CH_IDLE) CH_reset(ch);
    return 0;
  }
  bind_signal(c, in);
  c.k_num = in->gnss_type == GNSS_TYPE_GLONASS ? in->k_num : S16{0};
  c.gnss_type = static_cast<U16>(in->gnss_type);
  c.state = in->track_state;
  c.issue_id = in->issue_id;
  if (!is_tracking(c)) {
    c.has_sub_bit = 0;
    c.has_ttime = 0;
    return 0;
  }
  copy_tracking_measurement(c, in);
  update_range_doppler(c);
  if (c.meas_update_count < MAX_MEAS_UPDATE_COUNT) ++c.meas_update_count;
  c.last_isr_bitcnt = c.isr_bitcnt;
  c.loop_gain_mode = in->loop_gain_mode;
  c.integ_time = in->integ_time;
  c.integ_divider = in->integ_divider;
  c.last_unlock_status = c.unlock_status;
  c.unlock_status = in->unlock_status;
  RNG_calculate_range_variance(c.rng, trunc_s16(c.cnr), c.is_first_track_second);
  return update_transmit_time(c);
}

void CH_select_delta_range_process(S16 gtc_wn, S32 gtc_tow) {
  for (CHAN_S& c : Channel_data) {
    if (!c.has_ttime || c.sv == nullptr) continue;
    S16 wn = 0;
    D64 tt = 0.0;
    if (!CH_get_transmit_time_with_wn(&c, gtc_wn, gtc_tow, &wn, &tt)) continue;
    const S16 st = SV_get_ephemeris_available_state(c.sv, wn, tt);
    if ((st & 4) != 0 && (st & 3) != 0) CCYCLE_set_ephemeris_status_valid(c.ccycle);
  }
  RNG_calculate_carrier_cycles_by_good_acc_carrier_slots();
}

S16 CH_process_databits(CHAN_T ch, U16 gnss_type, S16 signal_id, U32 databits, U32, S32 bitcnt, U08 issue_id) {
  if (ch == nullptr) return 0;
  BC_update_dbits_bitcnt(ch->bc, gnss_type, signal_id, bitcnt, issue_id);
  if (gnss_type == GNSS_TYPE_GPS)
    process_gps_databits(*ch, signal_id, databits, bitcnt, issue_id);
  else if (gnss_type == GNSS_TYPE_SBAS)
    process_sbas_databits(*ch, signal_id, databits, bitcnt, issue_id);
  return 0;
}

void CH_update_predict_bitcnt0(CHAN_T ch, U16 gnss_type, S16 svid, U08 issue_id, S32 predict_bitcnt0) {
  if (ch == nullptr || ch->gnss_type != gnss_type || ch->svid != svid || ch->issue_id != issue_id) return;
  ch->has_predict_bitcnt0 = 1;
  ch->predict_bitcnt0 = predict_bitcnt0;
  if (BC_has_frame_sync(ch->bc)) return;
  ch->has_ttime = convert_meas_to_transmit_time(*ch) ? 1 : 0;
  if (ch->has_ttime) RNG_update_ttime(ch->rng, ch->ttime);
}

void CH_reset_predict_bitcnt0(CHAN_T ch) {
  if (ch == nullptr) return;
  ch->has_predict_bitcnt0 = 0;
  ch->predict_bitcnt0 = 0;
  if (!BC_has_frame_sync(ch->bc)) ch->has_ttime = 0;
}

void CH_reset_all_predict_bitcnt0() {
  for (CHAN_S& c : Channel_data) CH_reset_predict_bitcnt0(&c);
}

// --- Selections --------------------------------------------------------------------------
S16 CH_get_channels_by_gnss_type(U16 gnss_type, CHAN_T* ch_ary) {
  S16 n = 0;
  for (CHAN_S& c : Channel_data)
    if (c.state != CH_IDLE && c.gnss_type == gnss_type) ch_ary[n++] = &c;
  return n;
}

S16 CH_get_range(CHAN_T ch, RNG_T* rng_p) {
  if (ch == nullptr || !ch->has_ttime) return 0;
  if (ch->gnss_type == GNSS_TYPE_GLONASS && KERNEL_get_power_on_sec_count() < POWER_ON_GLONASS_SEC) return 0;
  *rng_p = ch->rng;
  return 1;
}

S16 CH_get_all_useful_ranges(RNG_T* rng_ary) {
  S16 n = 0;
  for (CHAN_S& c : Channel_data) {
    if (c.unlock || c.sv == nullptr) continue;
    if (!SV_is_usable_for_ranging(c.sv)) continue;  // unhealthy, or URA index 15
    RNG_T rng = nullptr;
    if (CH_get_range(&c, &rng)) rng_ary[n++] = rng;
  }
  return n;
}

S16 CH_get_transmit_time(CHAN_T ch, D64* tt_p) {
  if (ch == nullptr || !ch->has_ttime) return 0;
  *tt_p = ch->ttime;
  return 1;
}

S16 CH_get_transmit_time_with_wn(CHAN_T ch, S16 rcv_wn, S32 rcv_tow, S16* wn_of_tt_p, D64* tt_p) {
  D64 tt = 0.0;
  if (!CH_get_transmit_time(ch, &tt)) return 0;
  const D64 d = std::trunc(tt - rcv_tow);
  S16 wn = rcv_wn;
  if (d >= HALF_WEEK + 1)
    wn = static_cast<S16>(rcv_wn - 1);
  else if (d < -HALF_WEEK)
    wn = static_cast<S16>(rcv_wn + 1);
  *wn_of_tt_p = wn;
  *tt_p = tt;
  return 1;
}

S16 CH_sbas_need_kick(CHAN_T ch) {
  if (ch == nullptr || ch->sbas_dbc_ndx < 0 || !ch->sbas_bit_cnt_start || ch->sbas_bit_cnt_num <= SBAS_KICK_BATCHES)
    return 0;
  S16 locked = 0;
  S32 bk_cnt = 0, msg_9_cnt = 0;
  SBAS_DBC_get_db_status(ch->sbas_dbc_ndx, &locked, &bk_cnt, &msg_9_cnt);
  return bk_cnt == 0 ? 1 : 0;
}

S16 CH_get_stable_tracking_prn_and_doppler_freq_in_hz(S16 chid, S16* prn_p, S16* doppler_freq_in_hz_p) {
  if (chid < 0 || chid >= NUM_HW_CHANNELS) return 0;
  const CHAN_S& c = Channel_data[static_cast<std::size_t>(chid)];
  if (c.state < CH_FRAMESYNC || c.cnr < 30.0f || c.svid > GPS_PRN_MAX || c.svid <= 0) return 0;
  *prn_p = c.svid;
  *doppler_freq_in_hz_p = trunc_s16(c.dopp_freq);
  return 1;
}

S16 CH_estimate_clk_offset_by_golden_sample(S16 prn, S16 doppler_freq_in_hz, S32 golden_clock_offset,
                                            S32* estimate_clock_offset_p) {
  for (const CHAN_S& c : Channel_data) {
    if (c.gnss_type != GNSS_TYPE_GPS || c.svid != prn || c.state <= CH_SOFT_TRACK || c.cnr <= 29.0f) continue;
    *estimate_clock_offset_p = doppler_freq_in_hz - trunc_s16(c.dopp_freq) + golden_clock_offset;
    return 1;
  }
  return 0;
}

S16 CH_get_any_sbas_reliable_freq_in_hz(S16* freq_p) {
  for (const CHAN_S& c : Channel_data) {
    if (c.gnss_type != GNSS_TYPE_SBAS || c.cnr <= 34.0f || c.unlock || c.sbas_dbc_ndx < 0) continue;
    if (!SBAS_DBC_decode_successfully(c.sbas_dbc_ndx)) continue;
    *freq_p = trunc_s16(c.dopp_freq);
    return 1;
  }
  return 0;
}

S16 CH_has_any_real_frame_sync() { return BC_has_any_one_real_fs(); }

// --- Accessors -------------------------------------------------------------------------------
S16 CH_get_id(CHAN_T ch) { return ch != nullptr ? ch->id : static_cast<S16>(-1); }
U16 CH_get_gnss_type(CHAN_T ch) { return ch != nullptr ? ch->gnss_type : static_cast<U16>(GNSS_TYPE_NONE); }
S16 CH_get_svid(CHAN_T ch) { return ch != nullptr ? ch->svid : static_cast<S16>(0); }
S16 CH_get_prn(CHAN_T ch) { return CH_get_svid(ch); }
S16 CH_get_URA(CHAN_T ch) { return ch != nullptr ? SV_get_URA(ch->sv) : static_cast<S16>(-1); }
S16 CH_get_glonass_slot_n(CHAN_T ch) { return ch != nullptr ? SV_get_glonass_slot_n(ch->sv) : static_cast<S16>(0); }
S16 CH_get_glonass_k_num(CHAN_T ch) { return ch != nullptr ? ch->k_num : static_cast<S16>(0); }
SV_T CH_get_sv(CHAN_T ch) { return ch != nullptr ? ch->sv : nullptr; }
U16 CH_get_state(CHAN_T ch) { return ch != nullptr ? ch->state : static_cast<U16>(CH_IDLE); }
U08 CH_get_issue_id(CHAN_T ch) { return ch != nullptr ? ch->issue_id : static_cast<U08>(0); }
S08 CH_get_loop_gain_mode(CHAN_T ch) {
  return (ch != nullptr && is_tracking(*ch)) ? ch->loop_gain_mode : static_cast<S08>(0);
}
S16 CH_get_cnr(CHAN_T ch) { return ch != nullptr ? round_cnr(ch->cnr) : static_cast<S16>(0); }
S16 CH_get_filte_cnr(CHAN_T ch) { return ch != nullptr ? round_cnr(ch->filter_cnr) : static_cast<S16>(0); }
S16 CH_get_filter_cnr(CHAN_T ch) { return CH_get_filte_cnr(ch); }
F32 CH_get_f32_cnr(CHAN_T ch) { return ch != nullptr ? ch->cnr : 0.0f; }
S16 CH_get_steady_cnr_count(CHAN_T ch) { return ch != nullptr ? ch->steady_cnr_count : static_cast<S16>(0); }
U16 CH_get_measurement_update_count(CHAN_T ch) { return ch != nullptr ? ch->meas_update_count : static_cast<U16>(0); }
S32 CH_get_isr_bitcnt(CHAN_T ch) { return ch != nullptr ? ch->isr_bitcnt : 0; }
S16 CH_get_bitcnt0(CHAN_T ch, S32* bitcnt0_p) {
  if (ch == nullptr || !BC_has_frame_sync(ch->bc)) return 0;
  *bitcnt0_p = BC_get_bitcnt0(ch->bc);
  return 1;
}
S16 CH_get_predict_bitcnt0(CHAN_T ch, S32* bitcnt0_p) {
  if (ch == nullptr || !ch->has_predict_bitcnt0) return 0;
  *bitcnt0_p = ch->predict_bitcnt0;
  return 1;
}
S08 CH_get_integration_time(CHAN_T ch) { return ch != nullptr ? ch->integ_time : static_cast<S08>(0); }
S16 CH_get_dopp_freq_in_hz(CHAN_T ch) { return ch != nullptr ? trunc_s16(ch->dopp_freq) : static_cast<S16>(0); }
F32 CH_get_dopp_freq(CHAN_T ch) {
  if (ch == nullptr) return 0.0f;
  return ch->is_first_track_second ? ch->dopp_freq_by_nco_freq : ch->dopp_freq;
}
F32 CH_get_nco_freq_in_hz(CHAN_T ch) { return ch != nullptr ? ch->nco_freq : 0.0f; }
F32 CH_get_nco_freq_to_dopp_in_hz(CHAN_T ch) { return ch != nullptr ? ch->dopp_freq_by_nco_freq : 0.0f; }
U32 CH_get_acc_cycle_count(CHAN_T ch) { return ch != nullptr ? ch->acc_cycle_count : 0; }
S16 CH_get_sub_bit(CHAN_T ch, D64* sub_bit_p) {
  if (ch == nullptr || !ch->has_sub_bit) return 0;
  *sub_bit_p = ch->sub_bit;
  return 1;
}
U32 CH_get_code_phase_reg2(CHAN_T ch) { return ch != nullptr ? ch->code_phase_reg2 : 0; }
U32 CH_get_code_phase_reg2_2(CHAN_T ch) { return CH_get_code_phase_reg2(ch); }
U08 CH_get_signal_source(CHAN_T ch) { return ch != nullptr ? ch->signal_source : static_cast<U08>(0); }
U08 CH_get_bit_sync_source(CHAN_T ch) { return ch != nullptr ? ch->bs_source : static_cast<U08>(0); }
S16 CH_is_tracking(CHAN_T ch) { return (ch != nullptr && is_tracking(*ch)) ? 1 : 0; }
S16 CH_is_weak_track(CHAN_T ch) { return (ch != nullptr && ch->state == CH_SOFT_TRACK) ? 1 : 0; }
S16 CH_is_unlock(CHAN_T ch) { return (ch != nullptr && ch->unlock != 0) ? 1 : 0; }
S16 CH_is_first_track_second(CHAN_T ch) { return ch != nullptr ? ch->is_first_track_second : static_cast<S16>(1); }
S16 CH_has_frame_sync(CHAN_T ch) { return ch != nullptr ? BC_has_frame_sync(ch->bc) : static_cast<S16>(0); }
S16 CH_has_real_frame_sync(CHAN_T ch) { return CH_has_frame_sync(ch); }
S08 CH_get_integ_divider(CHAN_T ch) { return ch != nullptr ? ch->integ_divider : static_cast<S08>(0); }
U32 CH_get_last_unlock_status(CHAN_T ch) { return ch != nullptr ? ch->last_unlock_status : 0; }
U32 CH_get_unlock_status(CHAN_T ch) { return ch != nullptr ? ch->unlock_status : 0; }
U32 CH_get_noise_power(CHAN_T ch) { return ch != nullptr ? ch->ch_noise_power : 0; }
S16 CH_get_interference_cnt(CHAN_T ch) { return ch != nullptr ? ch->ch_interference_cnt : static_cast<S16>(0); }
