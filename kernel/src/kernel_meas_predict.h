// Measurement prediction for the target (KMPREDICT_): once a second (the
// kernel's second tick) every GPS satellite on the sky is predicted with the
// measurement predictor (MP_, kernel/src/meas_predictor.h) at the time of the
// latest epoch: the code phase within the data bit, the code rate and the
// carrier NCO word, sent to the target with ASIC_set_predicted_meas for that
// epoch's raw time-count second. Satellites that cannot be predicted to the
// chip (known only from the almanac, or every satellite while the receiver's
// state is not good enough) also go to the search engine's weak-signal list
// (PSE_set_weak_search_array, millisecond within the bit and Doppler in
// search-NCO units).
//
// Before the first fix a prediction needs the millisecond of the code (a hot
// start of under 601 s) and a receiver clock bias: one from the RTC module's
// hot-start rule (KMPREDICT_set_has_predict_cb_flag) or, after a hot start of
// under 7201 s, one estimated here from the first frame-synchronised channel
// (pseudorange against the range from the stored position) and handed to the
// navigation driver with NV_set_clock_bias_drift.
//
// Units: s, m, m/s; clock bias m, drift m/s (c times seconds, s/s).
#pragma once

#include <array>

#include "kernel/src/kernel_handles.h"
#include "misc/gnss_types.h"
#include "misc/host_msg.h"

inline constexpr S32 KMPREDICT_CB_MAX_LAPSE_S = 7201;  // hot start younger than this: the clock bias may be predicted
inline constexpr S32 KMPREDICT_MSC_MAX_LAPSE_S = 601;  // hot start younger than this: the code millisecond may be
inline constexpr D64 KMPREDICT_GPS_TRAVEL_GUESS_S = 0.075;   // travel-time guess of a GPS satellite, s
inline constexpr D64 KMPREDICT_QZSS_TRAVEL_GUESS_S = 0.116;  // travel-time guess of a QZSS satellite, s

// Kernel start-up: every flag cleared; on a hot start (can_do_hot_start 1)
// with rtc_lapsed_time (s since the stored fix) below 7201 the clock bias may
// be predicted, below 601 the code millisecond too. The reference fix is
// cleared (counter 1); QZSS prediction enabled for at most 1 satellite.
void KMPREDICT_init(S16 can_do_hot_start, S32 rtc_lapsed_time);
// Once a second (second tick): the flags from the fix record, the clock from
// one frame-synchronised channel before the first fix, then the prediction
// frames (ASIC_PREDICT_MEAS and PSE_WEAK_ARRAY) when a prediction is allowed.
void KMPREDICT_process();
// Position-fix fault callback: stop predicting until the next 3-D fix.
void KMPREDICT_reset_prediction_flag();
// Clock-bias prediction before the first fix (read by the RTC module's
// hot-start rule through the hooks the kernel frame installs):
S16 KMPREDICT_is_can_predict_cb();                // 1: the clock bias may be predicted (hot start, lapse < 7201 s)
S16 KMPREDICT_if_predict_cb_is_from_one_ch_fs();  // 1: the predicted bias came from one frame-synchronised channel
void KMPREDICT_set_has_predict_cb_flag();         // a predicted clock bias exists (set by the RTC module)
// QZSS prediction (once a second from the QZSS settings): enable 1/0 and the
// highest QZSS satellite predicted is 32 + max_num (ids 33..37).
void KMPREDICT_set_qzss_mask(S16 enable, S16 max_num);

// Travel-time guess (s) of kernel satellite prn under the QZSS settings:
// 0.075 for GPS 1..32, 0.116 for QZSS 33..37 while QZSS prediction is enabled
// and prn <= 32 + max_num; 0 (not predicted) otherwise.
D64 KMPREDICT_travel_guess(S16 prn);

// What one second's prediction sends.
struct KMPREDICT_LIST_T {
  S16 nmeas = 0;                                            // entries of meas in use, 0..20
  std::array<ASIC_PREDICTED_MEAS_T, MSG_PREDICT_N> meas{};  // ASIC_PREDICT_MEAS entries (units in host/wrap.h)
  S16 nweak = 0;                                            // entries of weak in use, 0..8
  std::array<PSE_WEAK_SEARCH_T, MSG_WEAK_ARRAY_N> weak{};   // weak-search list: ms within the bit, search-NCO Doppler
};
// The prediction of the first n satellites of svs (caller's array of
// handles, read during the call) received at GPS week wn, time of week tow
// (s) by a receiver at pos (ECEF m) moving at vel (m/s) whose clock drifts
// cdrift_mps (m/s, positive: the clock runs fast). has_fixed 1 lets
// satellites known only from the almanac in (imprecise, by_eph_flag 0).
// Per predicted satellite one entry {prn, code_rate / 1000, code rate, code
// phase, NCO word, precise flag}; imprecise ones, or all of them when
// can_predict_chip is 0, also enter the weak-search list (at most 8) with the
// millisecond within the bit and round(PSE scale x rate / c x L1) as Doppler.
// Fills *out (null: nothing); nothing is sent.
void KMPREDICT_predict_list(S16 has_fixed, S16 can_predict_chip, S16 wn, D64 tow, const POS_T* pos, const VEL_T* vel,
                            F32 cdrift_mps, S16 n, const SV_T* svs, KMPREDICT_LIST_T* out);

// The module's state, for tests and detail output.
struct KMPREDICT_STATE_T {
  S16 do_not_predict_meas = 0;
  S16 can_predict_msc = 0;
  S16 can_predict_chip = 0;
  S16 can_predict_clock_bias = 0;
  S16 has_predict_clock_bias = 0;
  S16 predict_cb_by_one_ch_fs = 0;
  S16 has_good_ref_fix = 0;
  S32 no_good_ref_second_count = 1;  // s since the reference fix
  S16 qzss_enable = 1;
  S16 qzss_max_num = 1;
  S16 last_num_predicted = 0;  // entries of the last ASIC_PREDICT_MEAS sent (0 before any)
  S16 last_num_weak = 0;       // entries of the last PSE_WEAK_ARRAY sent
};
void KMPREDICT_get_state(KMPREDICT_STATE_T* out);  // null: nothing
