// Raw measurements (RAW_): once per measurement epoch, take the target's
// measurement set from the target proxy, turn the correlator registers of
// each channel into engineering units (transmit-time fraction within the data
// bit, Doppler, C/N0, carrier slots), update the channel records and hand the
// epoch's time count to the installed callbacks, which run the epoch's
// navigation.
//
// Module state is static; every pointer handed in is read (or written)
// during the call only. Single-threaded, inside KERNEL_loop.
#pragma once

#include "host/wrap.h"
#include "kernel/src/channel.h"
#include "misc/gnss_types.h"

// Time count of a measurement epoch: raw week, raw time of week (s), length of
// the measurement interval (s) and the time-count shift inside it (s).
using RAW_GTC_OUT_CALLBACK_T = void (*)(S16 raw_gtc_wn, D64 raw_gtc_tow, D64 gtc_meas_dt, D64 gtc_shift_dt);
// Time-count sync error against GPS time (TCXO clocks) and whether the epoch is a whole second (1/0).
using RAW_COMPENSATE_GTC_CALLBACK_T = void (*)(S32 gtc_sync_to_rtc_error, S16 is_integer_second);
// The three RTC record words of a whole-second epoch (ASIC_READ_RTC_T).
using RAW_CAL_RTC_RATIO_CALLBACK_T = void (*)(U32 record_rtc_sec, U32 record_rtc_wn_subsec,
                                              U32 record_gtc_ssubsec_div_subsec);
// Observer of every measurement set taken from the proxy, before it is
// converted (the record is the module's, valid during the call only).
using RAW_MEAS_CALLBACK_T = void (*)(const ASIC_MEAS_T* meas_p);
// Observer of every epoch that was processed (RAW_process_measurement
// returned 1), called last, after the time-count callback ran the epoch's
// navigation: subsec = ms of the epoch within its second (0..999).
using RAW_EPOCH_DONE_CALLBACK_T = void (*)(U16 subsec);

// Conversion constants of one signal type.
struct RAW_CNV_PARAM_T {
  D64 ideal_bb_carrier_freq;  // Hz: the zero-Doppler baseband carrier of the TCXO mode
  F32 noise_power;            // target noise-power units
  F32 inv_tm_freq_scale;      // Hz per tracking-NCO unit
  U32 chipnum_reg_mask;       // 0x3FF: chip field of the code phase register
  U16 ms_per_bit;             // 20 (GPS), 2 (SBAS)
  U16 chips_per_ms;           // 1023
};

// Start: noise-power defaults for the TCXO, NCO scale, clock constants of the
// TCXO mode, epoch rate from the position rate setting; every flag and
// counter 0. Needs TCXO_init and the settings first.
void RAW_init();
// One epoch: 1 when a measurement set was taken from the proxy and processed;
// 0 when none waited, or when it was the 500 ms set at a 1 Hz position rate
// (discarded unless early measurements are in use).
S16 RAW_process_measurement();
void RAW_install_gtc_out_callback(RAW_GTC_OUT_CALLBACK_T func);                                       // every epoch
void RAW_install_compensate_gtc_sync_to_gps_time_error_callback(RAW_COMPENSATE_GTC_CALLBACK_T func);  // every epoch
void RAW_install_cal_rtc_ratio_callback(RAW_CAL_RTC_RATIO_CALLBACK_T func);  // whole-second epochs
void RAW_install_raw_meas_callback(RAW_MEAS_CALLBACK_T func);                // every set taken; null removes it
void RAW_install_epoch_done_callback(RAW_EPOCH_DONE_CALLBACK_T func);        // every processed epoch; null removes
void RAW_try_to_use_early_meas_in_hot_start();  // hot start within 4 s: use the first epochs at once
void RAW_stop_use_early_meas_in_hot_start();
// flag 1: every channel is marked unlocked from the next epoch on; 0 ends it.
void RAW_set_force_unlock_flag(S16 flag);
S16 RAW_get_jammer_flag();  // the target's jammer indication (low 16 bits of channel 10's unlock status)
// The filtered minimum noise power and the last input (target units).
void RAW_get_noise_power(U32* min_noise_power_p, U32* current_noise_power_p);
// The 14 GLONASS noise powers (caller's array of 14; always 0 in this system).
void RAW_get_glo_noise_power(U32* glo_noise_power_p);
void RAW_reset_minimum_noise_power(U32 noise_power);  // restart the minimum filter at noise_power

// C/N0 in dB-Hz of one channel from its estimator fields (acc_power,
// cn_count, cn_integ, cn_div, cn_shift) and the noise power (target units).
// 0 (channel not usable) unless cn_count > 0, cn_integ > 0, cn_div > 0,
// cn_shift 0..15 and the scaled noise power is non-zero; intermediate
// products are 64-bit, so no field value overflows or divides by zero.
F32 RAW_calculate_cnr(const ASIC_CHAN_MEAS_T* asic_p, U32 noise_power);

// Convert one tracking channel (the conversion RAW_process_measurement does
// per channel at CH_TRACK or above): asic_p the target's record, gtc_clock_count
// the TCXO clocks of the epoch's interval, out_p the caller's record (zeroed
// first, then filled). A carrier-slot count outside 0..10 gives no slots; a
// sub-chip count nsc of 0 gives no sub-bit measurement (has_sub_bit 0). C/N0
// comes from the last whole-second computation (RAW_calculate_cnr). ch_id
// 0..19 (anything else is a fatal assertion).
void RAW_convert_channel(S16 ch_id, U32 gtc_clock_count, const ASIC_CHAN_MEAS_T* asic_p, CH_MEAS_INPUT_T* out_p);
