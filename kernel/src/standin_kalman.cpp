// Stand-ins for the navigation Kalman filter (KMF_), its navigation-side
// driver and the static position filter, until their issue replaces them.
//
// Kept for real: the dynamic model (P / PV) with its switching rule after a
// least-squares velocity solution, and the PV acceleration noise; the
// navigation driver's prediction depends on them. Neutral: the covariance
// projection does nothing, the filter produces no solution (so the driver
// takes the least-squares fix) and the static position filter keeps nothing.
#include "kernel/src/kalman_filter.h"

namespace {

S16 Dynamic_model = KMF_P_MODEL;
F32 Sp_pv = 1.0F;

constexpr F32 STATIC_SPEED = 0.5556F;  // m/s (2 km/h)

}  // namespace

void KMF_reset() { Dynamic_model = KMF_P_MODEL; }

void KMF_switch_dynamic_model(S16 model) {
  if (model == KMF_P_MODEL || model == KMF_PV_MODEL) Dynamic_model = model;
}

S16 KMF_is_P_mode() { return Dynamic_model == KMF_P_MODEL ? 1 : 0; }
S16 KMF_get_dynamic_model() { return Dynamic_model; }
void KMF_set_PV_process_noise_parameter(F32 sp) { Sp_pv = sp; }
F32 KMF_get_PV_process_noise_parameter() { return Sp_pv; }

void KMF_project_covariance(F32 dt) {
  if (dt > 100.0F) KMF_reset();
}

S16 kalman_filter(const LSQRAIM_OUTPUT_T*, F32*, F32*, NV_KMF_QUALITY_T* quality_p, NV_KMF_OUTPUT_T* out_p) {
  if (quality_p != nullptr) *quality_p = NV_KMF_QUALITY_T{};
  if (out_p != nullptr) *out_p = NV_KMF_OUTPUT_T{};
  return 0;
}

void check_LSQ_result_to_switch_KMF_model(const LSQRAIM_OUTPUT_T* lsq_p) {
  if (lsq_p == nullptr) return;
  const LSQRAIM_LSQ_DR_T& d = lsq_p->lsq_dr_2D;
  const LSQRAIM_QUALITY_T& q = lsq_p->quality_dr_2D;
  if (d.has_result != 0 && q.has_quality != 0 && q.var_residual < 1.0F && d.h_speed < STATIC_SPEED)
    Dynamic_model = KMF_P_MODEL;
}

void SPMFILTER_update_navigation_states(U32, S16, F32) {}
