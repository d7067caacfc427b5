// Carrier smoothing of pseudoranges: a scalar filter per channel.
#include "kernel/src/carrier_smoothing.h"

#include <array>
#include <cmath>
#include <cstddef>

#include "misc/talon_assert.h"

struct CS_S {
  D64 filter_pr;        // smoothed pseudorange, m
  S32 cs_count;         // updates since the start
  S16 small_dpr_count;  // consecutive innovations below 10 m
  S08 has_init;         // 1: the filter runs
  S08 chid;             // channel 0..19
  F32 var;              // variance of filter_pr, m^2
  F32 abs_d_pr;         // |innovation| of the last update, m
};

namespace {

void reset_record(CS_S* cs) {
  cs->filter_pr = 0.0;
  cs->cs_count = 0;
  cs->small_dpr_count = 0;
  cs->has_init = 0;
  cs->var = 0.0F;
  cs->abs_d_pr = CS_RESET_ABS_DIFF;
}

std::array<CS_S, NUM_HW_CHANNELS> fresh_records() {
  std::array<CS_S, NUM_HW_CHANNELS> a{};
  for (std::size_t i = 0; i < a.size(); ++i) {
    reset_record(&a[i]);
    a[i].chid = static_cast<S08>(i);
  }
  return a;
}

std::array<CS_S, NUM_HW_CHANNELS> Carrier_smoothing_data = fresh_records();

}  // namespace

void CS_init() { Carrier_smoothing_data = fresh_records(); }

CS_T CS_find_reference(S16 ch_id) {
  talon_assert(ch_id >= 0 && ch_id < NUM_HW_CHANNELS, "carrier-smoothing record id");
  return &Carrier_smoothing_data[static_cast<std::size_t>(ch_id)];
}

void CS_reset(CS_T cs) {
  if (cs != nullptr) reset_record(cs);
}

void CS_update_measurements(CS_T cs, D64 pr, D64 dr, F32 pr_var, F32 dr_var, F32 /*dt*/, D64 gtc_meas_dt,
                            D64 gtc_shift_dt) {
  if (cs == nullptr) return;
  if (cs->has_init == 0) {
    cs->var = pr_var;
    cs->filter_pr = pr;
    cs->has_init = 1;
    return;
  }
  const D64 predicted = cs->filter_pr + gtc_shift_dt * SPEED_OF_LIGHT + dr * gtc_meas_dt;
  const F32 k = cs->var / (cs->var + pr_var);
  const D64 innovation = pr - predicted;
  cs->filter_pr = predicted + static_cast<D64>(k) * innovation;
  cs->abs_d_pr = static_cast<F32>(std::fabs(innovation));
  if (cs->cs_count > CS_RESET_MIN_COUNT && cs->abs_d_pr > CS_RESET_INNOVATION) {
    reset_record(cs);
    return;
  }
  if (cs->abs_d_pr < CS_SMALL_INNOVATION) {
    if (cs->small_dpr_count < CS_SMALL_COUNT_MAX) ++cs->small_dpr_count;
  } else {
    cs->small_dpr_count = 0;
  }
  const F32 one_k = 1.0F - k;
  cs->var = k * k * pr_var + one_k * one_k * (cs->var + dr_var);
  ++cs->cs_count;
}

S16 CS_get_smoothed_PR(CS_T cs, D64* pr_p, F32* var_p) {
  if (cs == nullptr || cs->has_init == 0) return 0;
  if (pr_p != nullptr) *pr_p = cs->filter_pr;
  if (var_p != nullptr) *var_p = cs->var;
  return 1;
}

S16 CS_get_abs_PR_diff(CS_T cs, F32* abs_diff_p) {
  if (cs == nullptr) return 0;
  if (abs_diff_p != nullptr) *abs_diff_p = cs->abs_d_pr;
  return cs->has_init != 0 ? 1 : 0;
}

S16 CS_get_smoothing_count(CS_T cs, S32* count_p) {
  if (cs == nullptr) return 0;
  if (count_p != nullptr) *count_p = cs->cs_count;
  return cs->has_init != 0 ? 1 : 0;
}

S16 CS_get_small_PR_diff_count(CS_T cs, S16* count_p) {
  if (cs == nullptr) return 0;
  if (count_p != nullptr) *count_p = cs->small_dpr_count;
  return cs->has_init != 0 ? 1 : 0;
}
