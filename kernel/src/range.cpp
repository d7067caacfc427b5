#include "kernel/src/range.h"

#include <array>
#include <cmath>

#include "kernel/src/carrier_cycles.h"
#include "kernel/src/carrier_smoothing.h"
#include "kernel/src/correction.h"
#include "kernel/src/range_lib.h"
#include "kernel/src/satellite.h"
#include "kernel/src/tcxo_freq.h"
#include "misc/talon_assert.h"

struct RNG_S {
  D64 pr;                            // m
  D64 tr;                            // m
  D64 filter_pr;                     // m, smoothed with the range rate (fixed weights)
  D64 ttime;                         // GPS s of week
  POS_T sv_pos;                      // ECEF m at transmit time
  VEL_T sv_vel;                      // m/s
  F32 dt_non_atm;                    // s
  F32 ddt_non_atm;                   // s/s
  F32 dr;                            // m/s from the carrier Doppler, positive while the range grows
  F32 dr_by_nco_freq;                // m/s from the NCO setting
  F32 dr_by_good_acc_carrier_slots;  // m/s over the common clean slots
  F32 good_slots_lag_s;              // s from the middle of those slots to the epoch
  F32 last_dr;
  F32 var_pr;       // m^2
  F32 var_dr;       // (m/s)^2
  F32 iono, tropo;  // m
  F32 rvel;         // m/s
  std::array<F32, 3> dc;
  SV_T sv;
  CS_T cs;
  S16 has_init, has_ttime;
  S08 has_dr, has_dr_by_nco_freq, has_dr_by_good_acc_carrier_slots, has_sv_position, has_filter_pr;
  S16 ch_id;
  S16 cn0, last_cn0;
  S16 has_sv_iono_grid_correction_from_sbas;
};

namespace {

constexpr F32 INIT_VAR_PR = 9.0F;   // m^2
constexpr F32 INIT_VAR_DR = 0.09F;  // (m/s)^2
constexpr F32 FIRST_SECOND_VAR_DR = 9.0F;
constexpr S16 CN0_RISE_DELAY_DB = 5;  // a rise of this much is believed one update later
constexpr D64 SECONDS_PER_DAY = 86400.0;

struct VARIANCE_ROW_T {
  F32 var_pr;  // m^2
  F32 var_dr;  // (m/s)^2
};
// Row (50 - min(C/N0, 50)) / 2, at most 18: 49 dB-Hz and above first.
constexpr std::array<VARIANCE_ROW_T, 19> RANGE_VARIANCE_TABLE = {{{4.0F, 0.01F},
                                                                  {4.0F, 0.02F},
                                                                  {5.0F, 0.04F},
                                                                  {6.0F, 0.04F},
                                                                  {8.0F, 0.09F},
                                                                  {9.0F, 0.09F},
                                                                  {16.0F, 0.16F},
                                                                  {25.0F, 0.16F},
                                                                  {36.0F, 0.25F},
                                                                  {49.0F, 0.25F},
                                                                  {81.0F, 0.36F},
                                                                  {100.0F, 0.36F},
                                                                  {144.0F, 0.49F},
                                                                  {225.0F, 0.64F},
                                                                  {400.0F, 0.81F},
                                                                  {625.0F, 1.0F},
                                                                  {1000.0F, 2.0F},
                                                                  {1600.0F, 4.0F},
                                                                  {2500.0F, 8.0F}}};

std::array<RNG_S, NUM_HW_CHANNELS> Range_ary{};

bool gps_like(U16 type) { return type == GNSS_TYPE_GPS || type == GNSS_TYPE_SBAS || type == GNSS_TYPE_BD2; }

void clear_epoch_flags(RNG_S& r) {
  r.has_ttime = 0;
  r.has_dr = r.has_dr_by_nco_freq = r.has_dr_by_good_acc_carrier_slots = r.has_sv_position = 0;
  r.has_sv_iono_grid_correction_from_sbas = 0;
}

// Satellite state and clock correction at the transmit time of week wn.
void satellite_at_transmit_time(RNG_S& r, S16 wn) {
  ACC_T acc{};
  if (!SV_precise(r.sv, wn, r.ttime, &r.sv_pos, &r.sv_vel, &acc)) return;
  r.dt_non_atm = r.ddt_non_atm = 0.0F;
  const U16 type = SV_get_type(r.sv);
  if (type == GNSS_TYPE_GPS || type == GNSS_TYPE_BD2) {
    F32 dtsv = 0.0F, ddtsv = 0.0F;
    COR_clock_correction_polynomials(r.sv, wn, r.ttime, &dtsv, &ddtsv);
    r.dt_non_atm = dtsv - COR_group_delay(r.sv) + COR_relativistic_effect(&r.sv_pos, &r.sv_vel);
    r.ddt_non_atm = ddtsv;
    if (!std::isfinite(r.dt_non_atm) || !std::isfinite(r.ddt_non_atm)) return;  // no usable clock: no position
  }
  r.has_sv_position = 1;
}

void update_one(RNG_S& r, S16 gtc_wn, D64 gtc_sec, D64 gtc_meas_dt, D64 gtc_shift_dt) {
  if (gps_like(SV_get_type(r.sv))) r.pr = RNGL_calculate_pseudo_range(gtc_sec, r.ttime);
  r.filter_pr = r.has_filter_pr ? 0.75 * (r.filter_pr + r.dr) + 0.25 * r.pr : r.pr;
  r.has_filter_pr = 1;
  CS_update_measurements(r.cs, r.pr, r.dr, r.var_pr, r.var_dr, 1.0F, gtc_meas_dt, gtc_shift_dt);
  S16 wn = gtc_wn;  // week of the transmit time
  if (gtc_sec - r.ttime > RNGL_HALF_WEEK) ++wn;
  if (gtc_sec - r.ttime < -RNGL_HALF_WEEK) --wn;
  satellite_at_transmit_time(r, wn);
}

bool bound(RNG_T rng) { return rng != nullptr && rng->sv != nullptr; }

}  // namespace

void RNG_init() {
  CS_init();
  for (std::size_t i = 0; i < Range_ary.size(); ++i) {
    Range_ary[i] = RNG_S{};
    Range_ary[i].ch_id = static_cast<S16>(i);
    Range_ary[i].cs = CS_find_reference(static_cast<S16>(i));
    RNG_reset(&Range_ary[i]);
  }
}

RNG_T RNG_get_reference(S16 ch_id) {
  talon_assert(ch_id >= 0 && ch_id < NUM_HW_CHANNELS, "range record id");
  return &Range_ary[static_cast<std::size_t>(ch_id)];
}

void RNG_reset(RNG_T rng) {
  if (rng == nullptr) return;
  const S16 ch = rng->ch_id;
  const CS_T cs = rng->cs;
  *rng = RNG_S{};
  rng->ch_id = ch;
  rng->cs = cs;
  rng->var_pr = INIT_VAR_PR;
  rng->var_dr = INIT_VAR_DR;
  CS_reset(cs);
}

void RNG_set(RNG_T rng, SV_T sv, S16 ch_id) {
  if (rng == nullptr) return;
  rng->sv = sv;
  rng->ch_id = ch_id;
  rng->has_init = sv != nullptr ? 1 : 0;
}

void RNG_reset_calculation() {
  for (RNG_S& r : Range_ary) clear_epoch_flags(r);
}

S16 RNG_update_ttime(RNG_T rng, D64 ttime) {
  if (!bound(rng) || !std::isfinite(ttime)) return 0;
  rng->ttime = ttime;
  rng->has_ttime = 1;
  return 1;
}

void RNG_update_carrier_dopp_freq(RNG_T rng, S16, S16, D64 carrier_dopp_freq) {
  if (rng == nullptr) return;
  rng->last_dr = rng->dr;
  rng->dr = static_cast<F32>(-carrier_dopp_freq * RNGL_L1_WAVELENGTH);
  rng->has_dr = 1;
}

void RNG_update_carrier_dopp_freq_by_nco_freq(RNG_T rng, S16, S16, D64 carrier_dopp_freq) {
  if (rng == nullptr) return;
  rng->dr_by_nco_freq = static_cast<F32>(-carrier_dopp_freq * RNGL_L1_WAVELENGTH);
  rng->has_dr_by_nco_freq = 1;
}

void RNG_calculate_range_variance(RNG_T rng, S16 cn0, S16 is_first_tracking_sec) {
  if (rng == nullptr) return;
  rng->cn0 = cn0;
  const S16 used = cn0 - rng->last_cn0 >= CN0_RISE_DELAY_DB ? rng->last_cn0 : cn0;
  S16 capped = used < 50 ? used : static_cast<S16>(50);
  if (capped < 0) capped = 0;
  const int row = std::min((50 - capped) / 2, 18);
  rng->var_pr = RANGE_VARIANCE_TABLE[static_cast<std::size_t>(row)].var_pr;
  rng->var_dr =
      is_first_tracking_sec ? FIRST_SECOND_VAR_DR : RANGE_VARIANCE_TABLE[static_cast<std::size_t>(row)].var_dr;
  rng->last_cn0 = cn0;
}

void RNG_update_gtc_time(S16 gtc_wn, D64 gtc_sec, D64 gtc_meas_dt, D64 gtc_shift_dt) {
  if (!std::isfinite(gtc_sec)) return;
  for (RNG_S& r : Range_ary)
    if (r.has_ttime && r.sv != nullptr) update_one(r, gtc_wn, gtc_sec, gtc_meas_dt, gtc_shift_dt);
}

void RNG_calculate_carrier_cycles_by_good_acc_carrier_slots() {
  std::array<CCYCLE_T, NUM_HW_CHANNELS> used{};
  S16 start = 0, n_slots = 0;
  U32 total_clocks = 0;
  const S16 n = CCYCLE_process_carrier_cycles_selection(used.data(), &start, &n_slots, &total_clocks);
  if (n <= 0 || total_clocks == 0) return;
  const D64 ideal = TCXO_get_ideal_baseband_carrier_freq();
  const U32 after = CCYCLE_get_clocks_after_span(start, n_slots);
  for (S16 i = 0; i < n && i < NUM_HW_CHANNELS; ++i) {
    const S16 ch = CCYCLE_get_channel_id(used[static_cast<std::size_t>(i)]);
    if (ch < 0 || ch >= NUM_HW_CHANNELS) continue;
    RNG_S& r = Range_ary[static_cast<std::size_t>(ch)];
    D64 cycles = 0.0;
    if (!CCYCLE_get_selected_carrier_cycles(used[static_cast<std::size_t>(i)], &cycles)) continue;
    const D64 freq = cycles * TCXO_get_sampling_freq(static_cast<S16>(SV_get_type(r.sv))) / total_clocks;  // Hz
    // the Doppler over the slots (ideal - measured, positive while approaching) as a range rate
    r.dr_by_good_acc_carrier_slots = static_cast<F32>(-(ideal - freq) * RNGL_L1_WAVELENGTH);
    const D64 clock_hz = TCXO_get_sampling_freq(static_cast<S16>(SV_get_type(r.sv)));
    r.good_slots_lag_s = clock_hz > 0.0 ? static_cast<F32>((after + 0.5 * total_clocks) / clock_hz) : 0.0F;
    r.has_dr_by_good_acc_carrier_slots = 1;
  }
}

void RNG_update_receiver_states(const POS_T* pos, const VEL_T* vel, D64, F32) {
  if (pos == nullptr || vel == nullptr) return;
  for (RNG_S& r : Range_ary)
    if (r.has_sv_position) RNGL_calculate_true_range(pos, vel, &r.sv_pos, &r.sv_vel, &r.tr, &r.rvel, r.dc.data());
}

void RNG_update_receiver_states_for_elevation(const POS_T* pos, const F32 (*tm)[3]) {
  if (pos == nullptr || tm == nullptr) return;
  for (RNG_S& r : Range_ary)
    if (r.has_sv_position && !SV_has_valid_azm_elv(r.sv)) SV_calc_elevation_azimuth(r.sv, pos, tm);
}

void RNG_calculate_atmosphere_delay(S32 tow, const LLA_T* lla) {
  if (lla == nullptr) return;
  const S32 tod = static_cast<S32>(std::fmod(static_cast<D64>(tow), SECONDS_PER_DAY));
  for (RNG_S& r : Range_ary) {
    if (!r.has_sv_position) continue;
    r.iono = r.tropo = 0.0F;
    const F32 el = SV_get_elevation(r.sv);
    if (!SV_has_valid_azm_elv(r.sv) || !(el > 0.0F)) continue;
    r.tropo = COR_tropospheric_model(el, lla->alt);
    r.iono = COR_ionospheric_model(tod, el, SV_get_azimuth(r.sv), lla);
  }
}

void RNG_clear_atmosphere_delay() {
  for (RNG_S& r : Range_ary) r.iono = r.tropo = 0.0F;
}

// --- Queries -----------------------------------------------------------------------------
S16 RNG_get_ttime(RNG_T rng, D64* ttime) {
  if (rng == nullptr || !rng->has_ttime) return 0;
  *ttime = rng->ttime;
  return 1;
}
S16 RNG_get_pseudo_range(RNG_T rng, D64* pr) {
  if (rng == nullptr || !rng->has_ttime) return 0;
  *pr = rng->pr;
  return 1;
}
S16 RNG_get_true_range(RNG_T rng, D64* tr) {
  if (rng == nullptr || !rng->has_sv_position) return 0;
  *tr = rng->tr;
  return 1;
}
S16 RNG_get_delta_range(RNG_T rng, F32* dr) {
  if (rng == nullptr || !rng->has_dr) return 0;
  *dr = rng->dr;
  return 1;
}
S16 RNG_get_delta_range_by_nco_freq(RNG_T rng, F32* dr) {
  if (rng == nullptr || !rng->has_dr_by_nco_freq) return 0;
  *dr = rng->dr_by_nco_freq;
  return 1;
}
S16 RNG_get_good_acc_carrier_slots_lag(RNG_T rng, F32* lag_s) {
  if (rng == nullptr || !rng->has_dr_by_good_acc_carrier_slots) return 0;
  *lag_s = rng->good_slots_lag_s;
  return 1;
}

S16 RNG_get_delta_range_by_good_acc_carrier_slots(RNG_T rng, F32* dr) {
  if (rng == nullptr || !rng->has_dr_by_good_acc_carrier_slots) return 0;
  *dr = rng->dr_by_good_acc_carrier_slots;
  return 1;
}
S16 RNG_get_sv_position_of_ttime(RNG_T rng, POS_T* pos, VEL_T* vel, F32* dc) {
  if (rng == nullptr || !rng->has_sv_position) return 0;
  if (pos != nullptr) *pos = rng->sv_pos;
  if (vel != nullptr) *vel = rng->sv_vel;
  if (dc != nullptr)
    for (int i = 0; i < 3; ++i) dc[i] = rng->dc[static_cast<std::size_t>(i)];
  return 1;
}
S16 RNG_get_direction_cosine(RNG_T rng, F32* dc) { return RNG_get_sv_position_of_ttime(rng, nullptr, nullptr, dc); }
S16 RNG_get_rvel(RNG_T rng, F32* rvel) {
  if (rng == nullptr || !rng->has_sv_position) return 0;
  *rvel = rng->rvel;
  return 1;
}
S16 RNG_get_rvel_static(RNG_T rng, F32* rvel) {
  if (rng == nullptr || !rng->has_sv_position) return 0;
  *rvel = -(rng->sv_vel.vx * rng->dc[0] + rng->sv_vel.vy * rng->dc[1] + rng->sv_vel.vz * rng->dc[2]);
  return 1;
}
S16 RNG_get_smoothed_pseudo_range(RNG_T rng, D64* pr, F32* var) {
  return rng != nullptr ? CS_get_smoothed_PR(rng->cs, pr, var) : static_cast<S16>(0);
}
S16 RNG_get_PR_smoothed_PR_abs_diff(RNG_T rng, F32* diff) {
  return rng != nullptr ? CS_get_abs_PR_diff(rng->cs, diff) : static_cast<S16>(0);
}
S16 RNG_get_PR_smoothing_count(RNG_T rng, S32* count) {
  return rng != nullptr ? CS_get_smoothing_count(rng->cs, count) : static_cast<S16>(0);
}
S16 RNG_get_PR_smoothed_PR_small_diff_count(RNG_T rng, S16* count) {
  return rng != nullptr ? CS_get_small_PR_diff_count(rng->cs, count) : static_cast<S16>(0);
}
S16 RNG_get_non_atmosphere_delay(RNG_T rng, F32* dt, F32* ddt) {
  const bool has = rng != nullptr && rng->has_sv_position;
  *dt = has ? rng->dt_non_atm : 0.0F;
  *ddt = has ? rng->ddt_non_atm : 0.0F;
  return 0;
}
S16 RNG_get_atmosphere_delay(RNG_T rng, F32* iono, F32* tropo, S16* is_iono_from_sbas) {
  const bool has = rng != nullptr && rng->has_sv_position;
  *iono = has ? rng->iono : 0.0F;
  *tropo = has ? rng->tropo : 0.0F;
  if (is_iono_from_sbas != nullptr) *is_iono_from_sbas = 0;
  return 1;
}
S16 RNG_get_variance(RNG_T rng, F32* var_pr, F32* var_dr) {
  *var_pr = rng != nullptr ? rng->var_pr : INIT_VAR_PR;
  *var_dr = rng != nullptr ? rng->var_dr : INIT_VAR_DR;
  return 1;
}
SV_T RNG_get_sv(RNG_T rng) { return rng != nullptr ? rng->sv : nullptr; }
U16 RNG_get_gnss_type(RNG_T rng) { return SV_get_type(RNG_get_sv(rng)); }
D64 RNG_get_L_frequency(RNG_T rng) { return SV_get_L1_frequency(RNG_get_sv(rng)); }
S16 RNG_get_channel_id(RNG_T rng) { return rng != nullptr ? rng->ch_id : static_cast<S16>(-1); }
S16 RNG_get_URA(RNG_T rng) { return bound(rng) ? SV_get_URA(rng->sv) : static_cast<S16>(-1); }
S16 RNG_get_cn0(RNG_T rng) {
  if (!bound(rng)) return 0;
  return rng->cn0 < rng->last_cn0 ? rng->cn0 : rng->last_cn0;
}
S16 RNG_get_elevation_in_degree(RNG_T rng) {
  return rng != nullptr && rng->has_sv_position ? SV_get_elevation_in_deg(rng->sv) : static_cast<S16>(0);
}
F32 RNG_get_dr_change_rate(RNG_T rng) { return rng != nullptr && rng->has_dr ? rng->dr - rng->last_dr : 0.0F; }
S16 RNG_is_sv_use_ionosphere_model_from_sbas(RNG_T rng) {
  return rng != nullptr ? rng->has_sv_iono_grid_correction_from_sbas : static_cast<S16>(0);
}

// --- Selections and quality tests ----------------------------------------------------------
S16 RNG_get_smoothed_range_array(F32 var_thr, F32 diff_thr, RNG_T* rng_ary) {
  S16 n = 0;
  for (RNG_S& r : Range_ary) {
    D64 pr = 0.0;
    F32 var = 0.0F, diff = 0.0F;
    if (!bound(&r) || !CS_get_smoothed_PR(r.cs, &pr, &var) || !CS_get_abs_PR_diff(r.cs, &diff)) continue;
    if (var < var_thr && diff < diff_thr) rng_ary[n++] = &r;
  }
  return n;
}

S16 RNG_get_good_acc_carrier_range_array(RNG_T* rng_ary) {
  S16 n = 0;
  for (RNG_S& r : Range_ary)
    if (r.has_dr_by_good_acc_carrier_slots) rng_ary[n++] = &r;
  return n;
}

S16 RNG_is_PR_pass_stability_check(RNG_T rng, S16 stable_type) {
  D64 pr = 0.0;
  F32 v = 0.0F, diff = 0.0F;
  S16 n = 0;
  if (rng == nullptr || !CS_get_smoothed_PR(rng->cs, &pr, &v) || !CS_get_small_PR_diff_count(rng->cs, &n)) return 0;
  if (stable_type == 0) return (v < 10.0F && n > 0) || (v < 64.0F && n > 1) || (v < 144.0F && n > 3) || n >= 5 ? 1 : 0;
  if (!(v < 4.0F && n > 9)) return 0;
  if (stable_type == 1) return 1;
  return CS_get_abs_PR_diff(rng->cs, &diff) && diff < 2.0F ? 1 : 0;
}

S16 RNG_is_PR_may_convergence_by_carrier_check(RNG_T rng) {
  return rng != nullptr ? CCYCLE_does_PR_might_converge(CCYCLE_find_reference(rng->ch_id)) : static_cast<S16>(0);
}

S16 RNG_get_dgps_prc(RNG_T, F32*) { return 0; }
S16 RNG_has_valid_dgps_inputs() { return 0; }
