#include "kernel/src/range_lib.h"

#include <cmath>

D64 RNGL_calculate_pseudo_range(D64 gtc_sec, D64 ttime) {
  D64 dt = gtc_sec - ttime;
  if (dt > RNGL_HALF_WEEK) dt -= 2.0 * RNGL_HALF_WEEK;
  if (dt < -RNGL_HALF_WEEK) dt += 2.0 * RNGL_HALF_WEEK;
  return dt * RNGL_LIGHT_SPEED;
}

void RNGL_calculate_true_range(const POS_T* rcv_pos, const VEL_T* rcv_vel, const POS_T* sv_pos, const VEL_T* sv_vel,
                               D64* range, F32* rvel, F32* dc) {
  const D64 d[3] = {rcv_pos->px - sv_pos->px, rcv_pos->py - sv_pos->py, rcv_pos->pz - sv_pos->pz};
  const D64 r = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]) +
                (sv_pos->px * rcv_pos->py - sv_pos->py * rcv_pos->px) * RNGL_EARTH_ROTATION_BY_C;
  *range = r;
  F32 v = 0.0F;
  const F32 dv[3] = {rcv_vel->vx - sv_vel->vx, rcv_vel->vy - sv_vel->vy, rcv_vel->vz - sv_vel->vz};
  for (int i = 0; i < 3; ++i) {
    dc[i] = r > 0.0 ? static_cast<F32>(d[i] / r) : 0.0F;
    v += dv[i] * dc[i];
  }
  *rvel = v;
}
