#include "kernel/src/sv_sbas.h"

#include <array>
#include <cmath>

#include "kernel/src/sbas_geo.h"

struct SVSBAS_S {
  S16 prn;
  S16 eph_calc_valid;  // eph_pos/eph_vel hold the last precise result
  POS_T eph_pos;       // ECEF m
  VEL_T eph_vel;       // m/s
  S16 alm_calc_valid;  // alm_pos holds the last rough result
  POS_T alm_pos;       // ECEF m
};

namespace {

constexpr D64 MAX_ABS_TOW = 2.0e6;  // s: a time of week a little off its week still counts

std::array<SVSBAS_S, SBAS_GEO_N_PRN> Svsbas{};

void bind_all() {
  for (std::size_t i = 0; i < Svsbas.size(); ++i) {
    Svsbas[i] = SVSBAS_S{};
    Svsbas[i].prn = static_cast<S16>(SBAS_GEO_FIRST_PRN + static_cast<S16>(i));
  }
}
const bool Bound_at_load = (bind_all(), true);

}  // namespace

void SVSBAS_init() { bind_all(); }

SVSBAS_T SVSBAS_get_reference(S16 prn) {
  if (prn < SBAS_GEO_FIRST_PRN || prn > SBAS_GEO_LAST_PRN) return nullptr;
  return &Svsbas[static_cast<std::size_t>(prn - SBAS_GEO_FIRST_PRN)];
}

S16 SVSBAS_get_prn(SVSBAS_T sv) { return sv != nullptr ? sv->prn : static_cast<S16>(0); }

S16 SVSBAS_precise(SVSBAS_T sv, S16 wn, D64 t, POS_T* pos, VEL_T* vel) {
  if (sv == nullptr) return 0;
  if (!(std::fabs(t) < MAX_ABS_TOW)) {  // NaN refused too
    sv->eph_calc_valid = 0;
    return 0;
  }
  POS_T p{};
  VEL_T v{};
  if (SBAS_GEO_cal_sv_position(sv->prn, wn, static_cast<S32>(t), &p, &v) == 0) {
    sv->eph_calc_valid = 0;
    return 0;
  }
  sv->eph_pos = p;
  sv->eph_vel = v;
  sv->eph_calc_valid = 1;
  if (pos != nullptr) *pos = p;
  if (vel != nullptr) *vel = v;
  return 1;
}

S16 SVSBAS_rough(SVSBAS_T sv, S16 wn, D64 t, POS_T* pos) {
  if (sv == nullptr) return 0;
  const S32 tow = std::fabs(t) < MAX_ABS_TOW ? static_cast<S32>(t) : 0;
  POS_T p{};
  if (SBAS_GEO_cal_sv_rough_position(sv->prn, wn, tow, &p) == 0) {
    sv->alm_calc_valid = 0;
    return 0;
  }
  sv->alm_pos = p;
  sv->alm_calc_valid = 1;
  if (pos != nullptr) *pos = p;
  return 1;
}

S16 SVSBAS_get_stored_rough_position(SVSBAS_T sv, POS_T* pos) {
  if (sv == nullptr || sv->alm_calc_valid == 0) return 0;
  if (pos != nullptr) *pos = sv->alm_pos;
  return 1;
}

S16 SVSBAS_get_URA(SVSBAS_T sv) { return sv != nullptr ? SBAS_GEO_get_URA(sv->prn) : static_cast<S16>(-1); }
