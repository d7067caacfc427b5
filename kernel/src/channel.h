// Channels (CH_): the kernel's record of each of the 20 hardware channels.
// A channel follows the target: a non-idle measurement binds it to a
// satellite, a change of tracking issue or satellite resets it, an idle one
// resets it. It keeps the signal's transmit time (GPS seconds of week, once
// the bit count is known from a frame sync or a prediction), the filtered
// C/N0, an interference score, routes data bits to the decoders and offers
// the usable ranges to navigation.
//
// Channel handles (CHAN_T) point to fixed records of this module, valid for
// the whole run. Every accessor is null-safe: a null handle reads as an idle
// channel without satellite (0, or the stated "none" value). Pointers handed
// in are read or written during the call only. Single-threaded, inside
// KERNEL_loop.
#pragma once

#include "kernel/src/kernel_handles.h"
#include "misc/gnss_types.h"

// Signal-level modes of the target (low byte of its debug word).
enum : U08 {
  SIG_LEVEL_120DBM = 0,
  SIG_LEVEL_125DBM = 1,
  SIG_LEVEL_130DBM = 2,
  SIG_LEVEL_135DBM = 3,
  SIG_LEVEL_138DBM = 4,
  SIG_LEVEL_135_142_DBM = 5,
  SIG_LEVEL_143_146_DBM = 6,
  SIG_LEVEL_145DBM = 7,
  SIG_LEVEL_145DBM_HOT = 8,
  SIG_LEVEL_WEAK = 9,
  SIG_LEVEL_VERY_WEAK = 10,
};
// Bit-sync sources of the target (second byte of its debug word).
enum : U08 {
  BS_NONE = 0,
  BS_NORMAL = 1,
  BS_WEAK = 2,
  BS_PREDICT_DURING_NORMAL = 3,
  BS_PREDICT_WEAK_PSE = 4,
  BS_PREDICT_MEAS = 5,
};
enum : S08 {
  CH_LOOP_GAIN_SMALL = 0,
  CH_LOOP_GAIN_LARGE = 1,
};
inline constexpr int CH_NSTATE = 7;  // channel states CH_IDLE .. CH_MEAS_AVAILABLE

// One converted channel measurement of an epoch (built afresh, zero-filled).
struct CH_MEAS_INPUT_T {
  CCYCLE_IN_T carrier_in;     // carrier slots of the epoch
  D64 sub_bit;                // s: position of the code within the current data bit
  S16 has_sub_bit;            // 1: sub_bit was measured this epoch (0: no sub-chip count)
  U32 acc_cycle_count;        // ms of carrier accumulated in the epoch
  F32 cnr;                    // dB-Hz
  F32 nco_freq;               // Hz: carrier NCO frequency
  U32 bitcnt;                 // the channel's data-bit counter
  U16 track_state;            // CH_IDLE .. CH_MEAS_AVAILABLE
  S16 unlock;                 // non-zero: carrier not locked in this epoch
  S16 gnss_type;              // GNSS_TYPE_...
  S16 svid;                   // kernel numbering (SBAS 120..138)
  S16 k_num;                  // GLONASS frequency number, else 0
  F32 dopp_freq;              // Hz: Doppler from the accumulated carrier
  F32 dopp_freq_by_nco_freq;  // Hz: Doppler from the NCO setting
  U32 unlock_status;          // the target's unlock status word
  S08 integ_divider;          // C/N0 divider
  S08 integ_time;             // ms: coherent integration time
  U08 issue_id;               // tracking issue (changes when the channel is re-assigned)
  S08 loop_gain_mode;         // CH_LOOP_GAIN_...
  U32 code_phase_reg2;        // second code phase register, passed through
  U08 signal_source;          // SIG_LEVEL_...
  U08 bs_source;              // BS_...
  U32 ch_noise_power;         // the channel's noise power (target units)
};

// Called with the channel id (0..19) whenever a channel is reset.
using CH_RESET_CALLBACK_T = void (*)(S16 ch_id);

// --- Life cycle and epoch events ----------------------------------------------------
void CH_init();                       // every channel reset, measurement interval unknown
CHAN_T CH_find_reference(S16 ch_id);  // ch_id 0..19 (anything else is a fatal assertion); never null
void CH_reset(CHAN_T ch);             // back to idle, satellite and collectors released
void CH_install_callback_reset(CH_RESET_CALLBACK_T func);
// Bind the channel (and its range record) to satellite sv (null: none).
void CH_set_tracking_sv(CHAN_T ch, SV_T sv);
// Start of a measurement epoch at raw time count raw_gtc_sec (s, 0..1048575),
// raw_gtc_subsec (ms) with a time-count shift of gtc_shift_count ms in the interval.
void CH_set_measurement_update_event(U32 raw_gtc_sec, U16 raw_gtc_subsec, S16 gtc_shift_count);
// The epoch's time-count slots: ary_count entries of acc_clocks_ary (TCXO
// clocks) and acc_subsecs_ary (ms), handed to the carrier-cycle selection. A
// count outside 0..10 is taken as no slots.
void CH_set_gtc_clock_counts(S16 ary_count, const U32* acc_clocks_ary, const U16* acc_subsecs_ary);
// One channel's measurement of the epoch. 1 when the channel has a transmit
// time and its satellite has an ephemeris, else 0.
S16 CH_update_measurement(CHAN_T ch, const CH_MEAS_INPUT_T* in_p);
// Mark the carrier slots usable for the epoch at adjusted GPS time gtc_wn, gtc_tow (s).
void CH_select_delta_range_process(S16 gtc_wn, S32 gtc_tow);
// A data-bit batch of the channel (fields as ASIC_get_databits gives them;
// signal_id = the target's satellite number). Returns 0.
S16 CH_process_databits(CHAN_T ch, U16 gnss_type, S16 signal_id, U32 databits, U32 databits_info, S32 bitcnt,
                        U08 issue_id);
// A predicted offset from the channel's bit counter to the absolute bit count
// of the week (20 ms bits), taken only when gnss_type, svid and issue_id match
// the channel; without frame sync the transmit time is recomputed from it.
void CH_update_predict_bitcnt0(CHAN_T ch, U16 gnss_type, S16 svid, U08 issue_id, S32 predict_bitcnt0);
void CH_reset_predict_bitcnt0(CHAN_T ch);  // forget the prediction (and, without frame sync, the transmit time)
void CH_reset_all_predict_bitcnt0();

// --- Selections ------------------------------------------------------------------------
// Channels of gnss_type in any state but CH_IDLE into ch_ary (caller's array of 20); returns their count.
S16 CH_get_channels_by_gnss_type(U16 gnss_type, CHAN_T* ch_ary);
// Fill rng_ary (caller's array of 20 handles) with the ranges usable in this
// epoch, in channel order; returns their count, 0..20.
S16 CH_get_all_useful_ranges(RNG_T* rng_ary);
S16 CH_get_range(CHAN_T ch, RNG_T* rng_p);  // 1 and the range record when usable, else 0
// Transmit time of the signal (GPS seconds of week): 1 and *tt_p when known, else 0.
S16 CH_get_transmit_time(CHAN_T ch, D64* tt_p);
// As CH_get_transmit_time, with the week of the transmit time next to receive week rcv_wn, time rcv_tow (s).
S16 CH_get_transmit_time_with_wn(CHAN_T ch, S16 rcv_wn, S32 rcv_tow, S16* wn_of_tt_p, D64* tt_p);
S16 CH_sbas_need_kick(CHAN_T ch);  // 1: an SBAS channel that decoded nothing for long
// Channel chid (0..19) at frame sync or better, C/N0 >= 30, PRN <= 32: 1 with its PRN and Doppler (Hz, truncated).
S16 CH_get_stable_tracking_prn_and_doppler_freq_in_hz(S16 chid, S16* prn_p, S16* doppler_freq_in_hz_p);
// Clock offset estimate (Hz) from a channel tracking prn: doppler - channel Doppler + golden_clock_offset.
S16 CH_estimate_clk_offset_by_golden_sample(S16 prn, S16 doppler_freq_in_hz, S32 golden_clock_offset,
                                            S32* estimate_clock_offset_p);
S16 CH_get_any_sbas_reliable_freq_in_hz(S16* freq_p);  // Hz, from a locked SBAS channel that decodes
S16 CH_has_any_real_frame_sync();                      // 1 when any GPS channel has a frame sync

// --- Accessors (null-safe) ---------------------------------------------------------------
S16 CH_get_id(CHAN_T ch);                               // 0..19; -1 for null
U16 CH_get_gnss_type(CHAN_T ch);                        // GNSS_TYPE_...; GNSS_TYPE_NONE when idle
S16 CH_get_svid(CHAN_T ch);                             // kernel numbering (SBAS 120..138); 0 when idle
S16 CH_get_prn(CHAN_T ch);                              // as CH_get_svid
S16 CH_get_URA(CHAN_T ch);                              // the satellite's URA index; -1 without satellite record
S16 CH_get_glonass_slot_n(CHAN_T ch);                   // GLONASS slot number; 0 when none
S16 CH_get_glonass_k_num(CHAN_T ch);                    // GLONASS frequency number; 0 when none
SV_T CH_get_sv(CHAN_T ch);                              // null without satellite record
U16 CH_get_state(CHAN_T ch);                            // CH_IDLE .. CH_MEAS_AVAILABLE
U08 CH_get_issue_id(CHAN_T ch);                         // tracking issue id the target gave the assignment
S08 CH_get_loop_gain_mode(CHAN_T ch);                   // 0 unless tracking
S16 CH_get_cnr(CHAN_T ch);                              // dB-Hz, rounded (+0.5, truncated)
S16 CH_get_filte_cnr(CHAN_T ch);                        // filtered C/N0, dB-Hz, rounded
S16 CH_get_filter_cnr(CHAN_T ch);                       // same
F32 CH_get_f32_cnr(CHAN_T ch);                          // dB-Hz
S16 CH_get_steady_cnr_count(CHAN_T ch);                 // epochs with a steady C/N0, 0..1000
U16 CH_get_measurement_update_count(CHAN_T ch);         // tracked epochs, 0..10000
S32 CH_get_isr_bitcnt(CHAN_T ch);                       // the channel's data-bit count at the last epoch
S16 CH_get_bitcnt0(CHAN_T ch, S32* bitcnt0_p);          // 1 and the frame-sync bit-count offset when known
S16 CH_get_predict_bitcnt0(CHAN_T ch, S32* bitcnt0_p);  // 1 and the predicted offset when set
S08 CH_get_integration_time(CHAN_T ch);                 // ms
S16 CH_get_dopp_freq_in_hz(CHAN_T ch);                  // Hz, truncated
F32 CH_get_dopp_freq(CHAN_T ch);                        // Hz: carrier Doppler (NCO Doppler in the first track second)
F32 CH_get_nco_freq_in_hz(CHAN_T ch);                   // Hz
F32 CH_get_nco_freq_to_dopp_in_hz(CHAN_T ch);           // Hz: Doppler from the NCO setting
U32 CH_get_acc_cycle_count(CHAN_T ch);                  // ms
S16 CH_get_sub_bit(CHAN_T ch, D64* sub_bit_p);          // 1 and s within the data bit when measured this epoch
U32 CH_get_code_phase_reg2(CHAN_T ch);
U32 CH_get_code_phase_reg2_2(CHAN_T ch);  // same register
U08 CH_get_signal_source(CHAN_T ch);      // SIG_LEVEL_...
U08 CH_get_bit_sync_source(CHAN_T ch);    // BS_...
S16 CH_is_tracking(CHAN_T ch);            // state above CH_BITSYNC
S16 CH_is_weak_track(CHAN_T ch);          // state CH_SOFT_TRACK
S16 CH_is_unlock(CHAN_T ch);              // carrier not locked this epoch
S16 CH_is_first_track_second(CHAN_T ch);  // not yet tracked over one whole interval
S16 CH_has_frame_sync(CHAN_T ch);         // bit count known from a frame sync
S16 CH_has_real_frame_sync(CHAN_T ch);    // same (predictions do not count)
S08 CH_get_integ_divider(CHAN_T ch);
U32 CH_get_last_unlock_status(CHAN_T ch);
U32 CH_get_unlock_status(CHAN_T ch);
U32 CH_get_noise_power(CHAN_T ch);       // target units
S16 CH_get_interference_cnt(CHAN_T ch);  // interference score
