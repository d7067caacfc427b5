// Measurement prediction for the target: flags from the fix record, the clock
// from one frame-synchronised channel before the first fix, and the
// ASIC_PREDICT_MEAS / PSE_WEAK_ARRAY frames once a second (model in
// kernel_meas_predict.h).
#include "kernel/src/kernel_meas_predict.h"

#include <array>
#include <cmath>

#include "host/wrap.h"
#include "kernel/src/channel.h"
#include "kernel/src/ephemeris.h"
#include "kernel/src/gtc_adjust.h"
#include "kernel/src/meas_predictor.h"
#include "kernel/src/navigate.h"
#include "kernel/src/range.h"
#include "kernel/src/satellite.h"
#include "kernel/src/settings.h"
#include "kernel/src/sky_view.h"
#include "kernel/src/tcxo_freq.h"
#include "misc/host_msg.h"

namespace {

constexpr U32 GPS_TYPE_BIT = 1u;            // navigation GNSS selection bit of GPS
constexpr U16 NO_FIX_STOP_EPOCHS = 3600;    // more epochs without fix than this: stop predicting
constexpr U16 REF_MIN_REAL_FIXES = 5;       // real fixes in a row before a fix becomes the reference
constexpr S32 REF_DROP_S = 100;             // reference older than this is dropped, s
constexpr S32 REF_USE_MAX_S = 25;           // reference younger than this gives the position, s
constexpr F32 SLOW_MPS = 3.0f;              // m/s
constexpr U16 SLOW_MAX_NO_FIX = 299;        // epochs without fix a slow receiver keeps chip prediction
constexpr F32 MAX_PR_SIGMA_M = 20.0f;       // m
constexpr F32 MAX_DR_SIGMA_MPS = 5.0f;      // m/s
constexpr F32 KMH_75_MPS = 75.0f / 3.6f;    // m/s
constexpr F32 KMH_120_MPS = 120.0f / 3.6f;  // m/s
constexpr S32 REF_75_MAX_S = 25;            // reference age allowed below 75 km/h, s
constexpr S32 REF_120_MAX_S = 15;           // reference age allowed below 120 km/h, s
constexpr U16 NO_FIX_CHIP_CLEAR = 10;       // epochs without a first fix before chip prediction is cleared
constexpr S16 MIN_DIFF_SVS = 4;             // satellites of a differential fix good for chip prediction
constexpr S16 FIRST_QZSS = 33;              // kernel ids of QZSS: 33..37
constexpr S16 LAST_QZSS = 37;
constexpr S16 LAST_GPS = 32;

struct STATE_T {
  S16 do_not_predict_meas = 0;
  S16 can_predict_msc = 0;
  S16 can_predict_chip = 0;
  S16 can_predict_clock_bias = 0;
  S16 has_predict_clock_bias = 0;
  S16 predict_clock_bias_is_by_one_ch_framsync = 0;
  S16 rcv_has_good_ref_fix = 0;
  S32 rcv_cont_no_good_ref_second_count = 1;
  POS_T rcv_good_ref_pos{};
  VEL_T rcv_good_ref_vel{};
  S16 qzss_enable = 1;
  S16 qzss_max_num = 1;
  S16 last_num_predicted = 0;
  S16 last_num_weak = 0;
};

STATE_T State;

// Step 2: the reference fix (position and velocity) of a good 3-D fix.
void update_reference(S16 fixmode) {
  F32 pr_sigma = 0.0f, dr_sigma = 0.0f;
  if (fixmode > FIX_2D && NV_get_continuous_real_fix_count() >= REF_MIN_REAL_FIXES &&
      NV_get_position_quality_result(&pr_sigma, &dr_sigma) != 0) {
    NV_get_ecef_position(&State.rcv_good_ref_pos);
    NV_get_ecef_velocity(&State.rcv_good_ref_vel);
    State.rcv_has_good_ref_fix = 1;
    State.rcv_cont_no_good_ref_second_count = 1;
    return;
  }
  if (State.rcv_cont_no_good_ref_second_count < REF_DROP_S + 1) ++State.rcv_cont_no_good_ref_second_count;
  if (State.rcv_cont_no_good_ref_second_count > REF_DROP_S) State.rcv_has_good_ref_fix = 0;
}

// Step 4: may the code phase be predicted to the chip after a fix?
S16 chip_predictable(S16 fixmode) {
  const F32 speed = NV_get_speed();
  const U16 no_fix = NV_get_continuous_no_fix_count();
  if (speed < SLOW_MPS && fixmode == FIX_3D) return 1;
  if (speed < SLOW_MPS && no_fix <= SLOW_MAX_NO_FIX && fixmode != FIX_2D) return 1;
  F32 pr_sigma = 0.0f, dr_sigma = 0.0f;
  const bool good_fix = fixmode == FIX_3D || (fixmode == FIX_DIFF && NV_get_fix_svs() >= MIN_DIFF_SVS);
  if (good_fix && NV_get_position_quality_result(&pr_sigma, &dr_sigma) != 0 && pr_sigma <= MAX_PR_SIGMA_M &&
      dr_sigma <= MAX_DR_SIGMA_MPS)
    return 1;
  const S32 age = State.rcv_cont_no_good_ref_second_count;
  if (State.rcv_has_good_ref_fix != 0 &&
      ((speed < KMH_75_MPS && age < REF_75_MAX_S) || (speed < KMH_120_MPS && age < REF_120_MAX_S)))
    return 1;
  return 0;
}

// Geometric range from rcv to sat with the Earth-rotation term, m.
D64 range_with_rotation(const POS_T& rcv, const POS_T& sat) {
  const D64 dx = rcv.px - sat.px, dy = rcv.py - sat.py, dz = rcv.pz - sat.pz;
  return std::sqrt(dx * dx + dy * dy + dz * dz) + MP_EARTH_ROTATION_OVER_C * (sat.px * rcv.py - sat.py * rcv.px);
}

// The first frame-synchronised GPS channel (0..19) whose satellite is
// healthy and has an ephemeris; null when none.
CHAN_T first_framesync_channel() {
  for (S16 ch = 0; ch < NUM_HW_CHANNELS; ++ch) {
    CHAN_T c = CH_find_reference(ch);
    if (CH_get_gnss_type(c) != GNSS_TYPE_GPS || CH_has_real_frame_sync(c) == 0) continue;
    SV_T sv = CH_get_sv(c);
    if (sv != nullptr && SV_is_healthy(sv) != 0 && SV_has_ephemeris(sv) != 0) return c;
  }
  return nullptr;
}

// Step 6: the receiver clock from one frame-synchronised channel, no fix yet.
// Returns 1 when the clock was handed to the navigation driver.
S16 prepare_meas_prediction_after_one_framesync() {
  CHAN_T c = first_framesync_channel();
  if (c == nullptr) return 0;
  SV_T sv = CH_get_sv(c);
  D64 tow = 0.0;
  U16 wn = 0;
  NV_get_time(&tow, &wn);
  S16 tt_wn = 0;
  D64 tt = 0.0;
  if (CH_get_transmit_time_with_wn(c, static_cast<S16>(wn), static_cast<S32>(tow), &tt_wn, &tt) == 0) return 0;
  POS_T rcv{};
  NV_get_ecef_position(&rcv);
  POS_T sat{};
  VEL_T vel{};
  if (SV_precise(sv, tt_wn, tt, &sat, &vel, nullptr) == 0) return 0;
  D64 range = range_with_rotation(rcv, sat);
  F32 dtsv = 0.0f, ddtsv = 0.0f;
  EPH_T eph = SV_get_gps_ephemeris(sv);
  if (EPH_get_delta_tsv(eph, tt_wn, tt, &dtsv, &ddtsv) == 0) dtsv = ddtsv = 0.0f;
  range -= (static_cast<D64>(dtsv) - static_cast<D64>(EPH_get_TGD(eph))) * MP_SPEED_OF_LIGHT;
  RNG_T rng = RNG_get_reference(CH_get_id(c));
  D64 pr = 0.0;
  F32 dr = 0.0f;
  if (RNG_get_pseudo_range(rng, &pr) == 0 || RNG_get_delta_range(rng, &dr) == 0) return 0;
  const D64 geo = range_with_rotation(rcv, sat) - MP_EARTH_ROTATION_OVER_C * (sat.px * rcv.py - sat.py * rcv.px);
  if (!(geo > 0.0)) return 0;
  // The satellite's line-of-sight rate seen from a receiver at rest, m/s
  // (positive while it approaches).
  const D64 sv_los = (static_cast<D64>(vel.vx) * (rcv.px - sat.px) + static_cast<D64>(vel.vy) * (rcv.py - sat.py) +
                      static_cast<D64>(vel.vz) * (rcv.pz - sat.pz)) /
                     geo;
  const D64 bias = pr - range;
  const D64 drift = static_cast<D64>(dr) + sv_los - static_cast<D64>(ddtsv) * MP_SPEED_OF_LIGHT;
  if (!std::isfinite(bias) || !std::isfinite(drift)) return 0;
  NV_set_clock_bias_drift(bias, static_cast<F32>(drift));
  State.has_predict_clock_bias = 1;
  State.predict_clock_bias_is_by_one_ch_framsync = 1;
  return 1;
}

// Step 3: predict the n satellites of svs at the latest epoch and send them
// for raw time-count second raw_tow.
void set_predict_GPS_measurement(S32 raw_tow, S16 n, const SV_T* svs) {
  D64 tow = 0.0;
  U16 wn = 0;
  NV_get_time(&tow, &wn);
  POS_T pos{};
  VEL_T vel{};
  NV_get_ecef_position(&pos);
  NV_get_ecef_velocity(&vel);
  D64 cbias = 0.0;  // not used: the fix time already carries it
  F32 cdrift = 0.0f;
  NV_get_clock_bias_drift(&cbias, &cdrift);
  if (State.rcv_has_good_ref_fix != 0 && State.rcv_cont_no_good_ref_second_count < REF_USE_MAX_S) {
    const D64 k = static_cast<D64>(State.rcv_cont_no_good_ref_second_count);
    pos.px = State.rcv_good_ref_pos.px + k * static_cast<D64>(State.rcv_good_ref_vel.vx);
    pos.py = State.rcv_good_ref_pos.py + k * static_cast<D64>(State.rcv_good_ref_vel.vy);
    pos.pz = State.rcv_good_ref_pos.pz + k * static_cast<D64>(State.rcv_good_ref_vel.vz);
  }
  static KMPREDICT_LIST_T list;
  KMPREDICT_predict_list(NV_has_fixed(), State.can_predict_chip, static_cast<S16>(wn), tow, &pos, &vel, cdrift, n, svs,
                         &list);
  ASIC_set_predicted_meas(list.nmeas, raw_tow, list.meas.data(), State.can_predict_chip);
  PSE_set_weak_search_array(list.nweak, list.weak.data());
  State.last_num_predicted = list.nmeas;
  State.last_num_weak = list.nweak;
}

}  // namespace

D64 KMPREDICT_travel_guess(S16 prn) {
  if (prn <= 0) return 0.0;
  if (prn >= FIRST_QZSS && prn <= LAST_QZSS) {
    if (State.qzss_enable == 0 || prn > LAST_GPS + State.qzss_max_num) return 0.0;
    return KMPREDICT_QZSS_TRAVEL_GUESS_S;
  }
  return prn <= LAST_GPS ? KMPREDICT_GPS_TRAVEL_GUESS_S : 0.0;
}

void KMPREDICT_predict_list(S16 has_fixed, S16 can_predict_chip, S16 wn, D64 tow, const POS_T* pos, const VEL_T* vel,
                            F32 cdrift_mps, S16 n, const SV_T* svs, KMPREDICT_LIST_T* out) {
  if (out == nullptr) return;
  out->nmeas = 0;
  out->nweak = 0;
  if (pos == nullptr || vel == nullptr || svs == nullptr) return;
  const D64 pse_scale = static_cast<D64>(TCXO_get_pse_nco_freq_scale());
  for (S16 i = 0; i < n && out->nmeas < MSG_PREDICT_N; ++i) {
    const S16 prn = SV_get_svid(svs[i]);
    const D64 guess = KMPREDICT_travel_guess(prn);
    if (guess <= 0.0) continue;
    MP_SIGNAL_T sig;
    if (MP_estimate_signal_ttime(guess, has_fixed, wn, tow, pos, vel, svs[i], &sig) == 0) continue;
    // A fast receiver clock (positive drift) lowers every received frequency
    // as if each satellite receded that much faster.
    const D64 rate = sig.rate - static_cast<D64>(cdrift_mps);
    MP_SUB_BIT_T sub;
    MP_predict_sub_bit_equation(sig.ttime, rate, &sub);
    ASIC_PREDICTED_MEAS_T& m = out->meas[static_cast<std::size_t>(out->nmeas++)];
    m.prn = prn;
    m.code_rate_per_ms = static_cast<S16>(sub.code_rate / 1000);
    m.code_rate = sub.code_rate;
    m.code0 = sub.code_phase;
    m.dop_freq = sub.nco_word;
    m.by_eph_flag = sig.precise;
    if ((sig.precise == 0 || can_predict_chip == 0) && out->nweak < MSG_WEAK_ARRAY_N) {
      PSE_WEAK_SEARCH_T& w = out->weak[static_cast<std::size_t>(out->nweak++)];
      w.prn = prn;
      w.dmsc = sig.msc;
      w.dopp = static_cast<S16>(std::lround(pse_scale * (rate / MP_SPEED_OF_LIGHT) * SV_L1_FREQUENCY));
    }
  }
}

void KMPREDICT_init(S16 can_do_hot_start, S32 rtc_lapsed_time) {
  const S16 qzss_enable = 1, qzss_max = 1;
  State = STATE_T{};
  if (can_do_hot_start != 0 && rtc_lapsed_time >= 0) {
    State.can_predict_clock_bias = rtc_lapsed_time < KMPREDICT_CB_MAX_LAPSE_S ? 1 : 0;
    State.can_predict_msc = rtc_lapsed_time < KMPREDICT_MSC_MAX_LAPSE_S ? 1 : 0;
  }
  State.qzss_enable = qzss_enable;
  State.qzss_max_num = qzss_max;
}

void KMPREDICT_process() {
  const S16 fixmode = NV_get_fixmode();
  const U16 no_fix = NV_get_continuous_no_fix_count();
  if (no_fix > NO_FIX_STOP_EPOCHS) State.do_not_predict_meas = 1;
  if (fixmode == FIX_3D || fixmode == FIX_DIFF) State.do_not_predict_meas = 0;
  update_reference(fixmode);
  const S16 has_fixed = NV_has_fixed();
  if (has_fixed == 0 && State.can_predict_clock_bias != 0) prepare_meas_prediction_after_one_framesync();
  if (has_fixed != 0) {
    State.can_predict_msc = 1;
    State.can_predict_chip = chip_predictable(fixmode);
  } else if (no_fix > NO_FIX_CHIP_CLEAR) {
    State.can_predict_chip = 0;
  }
  if (State.do_not_predict_meas != 0) return;
  if (has_fixed == 0 && (State.can_predict_msc == 0 || State.has_predict_clock_bias == 0)) return;
  if ((SETTINGS_get_nav_gnss_type_bits() & GPS_TYPE_BIT) == 0) return;
  std::array<SV_T, NUM_HW_CHANNELS> svs{};
  const S16 n = SVSKY_get_sorted_SV_on_sky_one_gnss_type(GNSS_TYPE_GPS, svs.data());
  if (n < 0 || n > NUM_HW_CHANNELS) return;
  set_predict_GPS_measurement(GTCADJ_get_raw_gtc_tow(), n, svs.data());
}

void KMPREDICT_reset_prediction_flag() { State.do_not_predict_meas = 1; }

S16 KMPREDICT_is_can_predict_cb() { return State.can_predict_clock_bias; }

S16 KMPREDICT_if_predict_cb_is_from_one_ch_fs() { return State.predict_clock_bias_is_by_one_ch_framsync; }

void KMPREDICT_set_has_predict_cb_flag() { State.has_predict_clock_bias = 1; }

void KMPREDICT_set_qzss_mask(S16 enable, S16 max_num) {
  State.qzss_enable = enable != 0 ? 1 : 0;
  State.qzss_max_num = max_num;
}

void KMPREDICT_get_state(KMPREDICT_STATE_T* out) {
  if (out == nullptr) return;
  out->do_not_predict_meas = State.do_not_predict_meas;
  out->can_predict_msc = State.can_predict_msc;
  out->can_predict_chip = State.can_predict_chip;
  out->can_predict_clock_bias = State.can_predict_clock_bias;
  out->has_predict_clock_bias = State.has_predict_clock_bias;
  out->predict_cb_by_one_ch_fs = State.predict_clock_bias_is_by_one_ch_framsync;
  out->has_good_ref_fix = State.rcv_has_good_ref_fix;
  out->no_good_ref_second_count = State.rcv_cont_no_good_ref_second_count;
  out->qzss_enable = State.qzss_enable;
  out->qzss_max_num = State.qzss_max_num;
  out->last_num_predicted = State.last_num_predicted;
  out->last_num_weak = State.last_num_weak;
}
