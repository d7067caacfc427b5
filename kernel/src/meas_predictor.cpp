// Measurement predictor: transmit time, line-of-sight rate and the target's
// code and carrier settings of one satellite (model in meas_predictor.h).
#include "kernel/src/meas_predictor.h"

#include <cmath>

#include "kernel/src/ephemeris.h"
#include "kernel/src/satellite.h"
#include "kernel/src/tcxo_freq.h"

namespace {

constexpr D64 WEEK_S = 604800.0;
constexpr S32 MS_PER_BIT = 20;

// Truncation toward zero into S32; non-finite values give 0 and values beyond
// the range its end (no undefined conversion).
S32 to_s32(D64 v) {
  if (!std::isfinite(v)) return 0;
  if (v >= 2147483647.0) return 2147483647;
  if (v <= -2147483648.0) return -2147483647 - 1;
  return static_cast<S32>(v);
}

// Clock polynomial of a GPS-type satellite with an ephemeris at week wn,
// time t (s); 0 otherwise.
D64 clock_polynomial(SV_T sv, S16 wn, D64 t) {
  if (SV_get_type(sv) != GNSS_TYPE_GPS) return 0.0;
  F32 dtsv = 0.0f;
  if (EPH_get_delta_tsv(SV_get_gps_ephemeris(sv), wn, t, &dtsv, nullptr) == 0) return 0.0;
  return static_cast<D64>(dtsv);
}

}  // namespace

S16 MP_estimate_signal_ttime(D64 guess_s, S16 has_fixed, S16 wn, D64 tow, const POS_T* rcv_pos, const VEL_T* rcv_vel,
                             SV_T sv, MP_SIGNAL_T* out) {
  if (sv == nullptr || rcv_pos == nullptr || rcv_vel == nullptr || out == nullptr) return 0;
  if (!std::isfinite(tow) || !std::isfinite(guess_s) || tow < 0.0 || tow >= WEEK_S) return 0;
  D64 t = tow - guess_s;
  S16 twn = wn;
  if (t < 0.0) {
    t += WEEK_S;
    --twn;
  }
  MP_SIGNAL_T s;
  if (SV_precise(sv, twn, t, &s.sv_pos, &s.sv_vel, nullptr) != 0) {
    s.precise = 1;
  } else if (has_fixed != 0 && SV_rough(sv, twn, static_cast<S32>(t), &s.sv_pos, &s.sv_vel) != 0) {
    s.precise = 0;
  } else {
    return 0;
  }
  s.dtsv = clock_polynomial(sv, twn, t);
  const D64 dx = rcv_pos->px - s.sv_pos.px;
  const D64 dy = rcv_pos->py - s.sv_pos.py;
  const D64 dz = rcv_pos->pz - s.sv_pos.pz;
  const D64 geo = std::sqrt(dx * dx + dy * dy + dz * dz);
  if (!(geo > 0.0) || !std::isfinite(geo)) return 0;
  s.range = geo + MP_EARTH_ROTATION_OVER_C * (s.sv_pos.px * rcv_pos->py - s.sv_pos.py * rcv_pos->px);
  s.ttime = tow - (s.range / MP_SPEED_OF_LIGHT - s.dtsv);
  if (s.ttime < 0.0) s.ttime += WEEK_S;
  s.msc = static_cast<S16>(std::llround(s.ttime * 1000.0) % MS_PER_BIT);
  const D64 vx = static_cast<D64>(s.sv_vel.vx) - static_cast<D64>(rcv_vel->vx);
  const D64 vy = static_cast<D64>(s.sv_vel.vy) - static_cast<D64>(rcv_vel->vy);
  const D64 vz = static_cast<D64>(s.sv_vel.vz) - static_cast<D64>(rcv_vel->vz);
  s.rate = (vx * dx + vy * dy + vz * dz) / geo;
  *out = s;
  return 1;
}

S32 MP_predict_bitcnt(D64 t1, D64 t0, S16 bps) {
  // std::round halves away from zero.
  return to_s32(std::round((t1 - t0) * static_cast<D64>(bps)));
}

void MP_predict_sub_bit_equation(D64 ttime, D64 rate, MP_SUB_BIT_T* out) {
  if (out == nullptr) return;
  const D64 frac = std::fmod(ttime, MP_BIT_S);
  out->code_phase = to_s32(1023.0 * frac * 1000.0 * MP_SUB_CHIPS_PER_CHIP);
  out->code_rate = to_s32(-rate * MP_CHIP_RATE * MP_SUB_CHIPS_PER_CHIP / MP_SPEED_OF_LIGHT);
  const D64 hz = -rate * SV_L1_FREQUENCY / MP_SPEED_OF_LIGHT;
  // The NCO word is a 32-bit register: the offset is added modulo 2^32.
  const U32 word = static_cast<U32>(to_s32(hz * static_cast<D64>(TCXO_get_tm_nco_freq_scale()))) +
                   static_cast<U32>(TCXO_get_tm_nco_offset0());
  out->nco_word = static_cast<S32>(word);
}
