#include "kernel/src/satellite.h"

#include <array>
#include <cmath>

#include "kernel/src/almanac.h"
#include "kernel/src/sv_sbas.h"

namespace {

constexpr S32 SECONDS_PER_WEEK = 604800;
constexpr D64 TWO_PI = 6.2831853071796;
constexpr D64 RAD_TO_DEG = 57.2957795131;
constexpr D64 LIGHT_SPEED = 299792458.0;  // m/s
constexpr S16 HEALTH_LIMIT = 1;           // health 0 and 1 count as healthy
constexpr D64 MAX_DOPPLER_HZ = 1e6;       // far beyond any satellite's Doppler
constexpr D64 MAX_ABS_TOW = 2.0e6;        // s: a time of week a little off its week still counts

}  // namespace

// Per GPS-type satellite: the reference state computed from the ephemeris at
// a whole second and the rough state (ECEF m, m/s, m/s^2).
struct SVGPS_S {
  S16 prn;
  S16 alm_calc_valid;  // the rough state is valid
  S16 eph_calc_valid;  // the reference state is valid
  S16 calc_by_dazar;   // always 0 here
  S16 alm_ref_wn;
  S32 alm_ref_tow;
  POS_T alm_pos;
  VEL_T alm_vel;
  S16 eph_ref_wn;
  S16 eph_update_times;  // background refreshes since the last precise request
  S32 eph_ref_tow;
  POS_T eph_ref_pos;
  VEL_T eph_ref_vel;
  ACC_T eph_ref_acc;
};

struct SV_S {
  SVGPS_S* gps;    // null for SBAS records
  SVSBAS_S* sbas;  // the SBAS record (sv_sbas.h); null for GPS-type records
  U16 gnss_type;
  S16 svid;
  F32 azm, elv;  // rad
  S16 azm_deg, elv_deg;
  S32 doppler;  // Hz
  S16 azm_calc_valid, elv_calc_valid, doppler_calc_valid;
  S16 pierce_point_calc_valid;
  F32 pierce_point_lat_radians, pierce_point_lon_radians;
  F32 pierce_point_lat_degree, pierce_point_lon_degree;
  S16 pierce_point_has_grid;
  F32 pierce_point_iono_meters;
  S16 is_masked;
};

namespace {

constexpr std::size_t N_GPS = SPARE_GPS_ID;
constexpr std::size_t N_SBAS = SBAS_PRN_MAX - SBAS_PRN_MIN + 1;

std::array<SVGPS_S, N_GPS> Svgps{};
std::array<SV_S, N_GPS> Sv_gps{};
std::array<SV_S, N_SBAS> Sv_sbas{};

// Every record bound to its type, id and GPS state; flags and states cleared.
void bind_all() {
  for (std::size_t i = 0; i < N_GPS; ++i) {
    Svgps[i] = SVGPS_S{};
    Svgps[i].prn = static_cast<S16>(i + 1);
    Sv_gps[i] = SV_S{};
    Sv_gps[i].gps = &Svgps[i];
    Sv_gps[i].gnss_type = GNSS_TYPE_GPS;
    Sv_gps[i].svid = static_cast<S16>(i + 1);
  }
  for (std::size_t i = 0; i < N_SBAS; ++i) {
    Sv_sbas[i] = SV_S{};
    Sv_sbas[i].gnss_type = GNSS_TYPE_SBAS;
    Sv_sbas[i].svid = static_cast<S16>(SBAS_PRN_MIN + static_cast<S16>(i));
    Sv_sbas[i].sbas = SVSBAS_get_reference(Sv_sbas[i].svid);
  }
}
// The records are bound before the kernel starts as well (SV_init binds them again).
const bool Bound_at_load = (bind_all(), true);

EPH_T eph_of(SV_T sv) { return sv != nullptr && sv->gps != nullptr ? EPH_get_reference(sv->svid) : nullptr; }

// The rough state of either kind of record: a GPS-type satellite's rough
// position and velocity, an SBAS GEO's stored rough position at rest (its
// record gives no rough velocity; a GEO moves a few m/s). 1, or 0 without one.
S16 rough_state(SV_T sv, POS_T* pos, VEL_T* vel) {
  if (sv == nullptr) return 0;
  if (sv->sbas != nullptr) {
    *vel = VEL_T{};
    return SVSBAS_get_stored_rough_position(sv->sbas, pos);
  }
  if (sv->gps == nullptr || !sv->gps->alm_calc_valid) return 0;
  *pos = sv->gps->alm_pos;
  *vel = sv->gps->alm_vel;
  return 1;
}

// pos + vel dt + acc dt^2 / 2 and vel + acc dt (dt s).
void extrapolate(const SVGPS_S& g, D64 dt, POS_T* pos, VEL_T* vel, ACC_T* acc) {
  const D64 h = 0.5 * dt * dt;
  if (pos != nullptr) {
    pos->px = g.eph_ref_pos.px + g.eph_ref_vel.vx * dt + g.eph_ref_acc.ax * h;
    pos->py = g.eph_ref_pos.py + g.eph_ref_vel.vy * dt + g.eph_ref_acc.ay * h;
    pos->pz = g.eph_ref_pos.pz + g.eph_ref_vel.vz * dt + g.eph_ref_acc.az * h;
  }
  if (vel != nullptr) {
    vel->vx = static_cast<F32>(g.eph_ref_vel.vx + g.eph_ref_acc.ax * dt);
    vel->vy = static_cast<F32>(g.eph_ref_vel.vy + g.eph_ref_acc.ay * dt);
    vel->vz = static_cast<F32>(g.eph_ref_vel.vz + g.eph_ref_acc.az * dt);
  }
  if (acc != nullptr) *acc = g.eph_ref_acc;
}

// The reference state at the whole second ref_tow of week ref_wn from the
// full ephemeris computation. Returns 1; 0 (reference dropped) on failure.
S16 fix_position(SVGPS_S& g, S16 ref_wn, S32 ref_tow) {
  EPH_POS_T p{};
  EPH_VEL_T v{};
  EPH_ACC_T a{};
  if (!EPH_calc_SV_position(EPH_get_reference(g.prn), ref_wn, static_cast<D64>(ref_tow), &p, &v, &a)) {
    g.eph_calc_valid = 0;
    return 0;
  }
  g.eph_ref_wn = ref_wn;
  g.eph_ref_tow = ref_tow;
  g.eph_ref_pos = POS_T{p.px, p.py, p.pz};
  g.eph_ref_vel = VEL_T{v.vx, v.vy, v.vz};
  g.eph_ref_acc = ACC_T{a.ax, a.ay, a.az};
  g.eph_calc_valid = 1;
  return 1;
}

// The whole second after t (s of week wn), wrapped into the next week.
void next_whole_second(S16 wn, D64 t, S16* ref_wn, S32* ref_tow) {
  S32 tow = static_cast<S32>(std::floor(t)) + 1;
  S16 w = wn;
  if (tow >= SECONDS_PER_WEEK) {
    tow -= SECONDS_PER_WEEK;
    ++w;
  }
  *ref_wn = w;
  *ref_tow = tow;
}

S16 svgps_precise(SVGPS_S& g, S16 wn, D64 t, POS_T* pos, VEL_T* vel, ACC_T* acc) {
  g.eph_update_times = 0;
  g.calc_by_dazar = 0;
  if (g.eph_calc_valid) {
    const D64 dt = EPH_calculate_tk_double(g.eph_ref_wn, g.eph_ref_tow, wn, t);
    if (std::fabs(dt) <= SV_PRECISE_REUSE_S) {
      extrapolate(g, dt, pos, vel, acc);
      return 1;
    }
  }
  S16 ref_wn = 0;
  S32 ref_tow = 0;
  next_whole_second(wn, t, &ref_wn, &ref_tow);
  if (!fix_position(g, ref_wn, ref_tow)) return 0;
  extrapolate(g, EPH_calculate_tk_double(ref_wn, ref_tow, wn, t), pos, vel, acc);
  if (!g.alm_calc_valid) {
    g.alm_pos = g.eph_ref_pos;
    g.alm_vel = g.eph_ref_vel;
    g.alm_ref_wn = g.eph_ref_wn;
    g.alm_ref_tow = g.eph_ref_tow;
    g.alm_calc_valid = 1;
  }
  return 1;
}

// The almanac position at wn, tow as the rough state. 1, or 0 without a usable almanac.
S16 almanac_rough(SVGPS_S& g, S16 wn, S32 tow) {
  POS_T p{};
  VEL_T v{};
  if (ALM_calc_SV_position(ALM_get_reference(g.prn), wn, tow, &p, &v) == 0) return 0;
  g.alm_pos = p;
  g.alm_vel = v;
  return 1;
}

S16 svgps_rough(SVGPS_S& g, S16 wn, S32 tow, POS_T* pos, VEL_T* vel) {
  const S32 dt = g.eph_calc_valid ? EPH_calculate_tk_integer(g.eph_ref_wn, g.eph_ref_tow, wn, tow) : 0;
  if (g.eph_calc_valid && dt > -SV_ROUGH_REUSE_S && dt < SV_ROUGH_REUSE_S)
    extrapolate(g, static_cast<D64>(dt), &g.alm_pos, &g.alm_vel, nullptr);
  else if (almanac_rough(g, wn, tow) == 0)
    return 0;
  g.alm_ref_wn = wn;
  g.alm_ref_tow = tow;
  g.alm_calc_valid = 1;
  if (pos != nullptr) *pos = g.alm_pos;
  if (vel != nullptr) *vel = g.alm_vel;
  return 1;
}

}  // namespace

void SV_init() {
  SVSBAS_init();
  bind_all();
}

SV_T SV_get_reference(U16 gnss_type, S16 svid) {
  const bool gps_type = gnss_type == GNSS_TYPE_GPS || gnss_type == GNSS_TYPE_QZSS;
  if (gps_type && svid >= GPS_PRN_MIN && svid <= SPARE_GPS_ID) return &Sv_gps[static_cast<std::size_t>(svid - 1)];
  if ((gps_type || gnss_type == GNSS_TYPE_SBAS) && svid >= SBAS_PRN_MIN && svid <= SBAS_PRN_MAX)
    return &Sv_sbas[static_cast<std::size_t>(svid - SBAS_PRN_MIN)];
  return nullptr;
}

SV_T SV_get_glonass_reference_by_knum(S16) { return nullptr; }
S16 SV_get_glonass_slot_n(SV_T) { return 0; }

U16 SV_get_type(SV_T sv) { return sv != nullptr ? sv->gnss_type : static_cast<U16>(GNSS_TYPE_NONE); }
S16 SV_get_svid(SV_T sv) { return sv != nullptr ? sv->svid : static_cast<S16>(0); }
S16 SV_get_prn(SV_T sv) { return SV_get_svid(sv); }
S16 SV_get_URA(SV_T sv) {
  if (sv != nullptr && sv->sbas != nullptr) return SVSBAS_get_URA(sv->sbas);
  return eph_of(sv) != nullptr ? EPH_get_URA(sv->svid) : static_cast<S16>(-1);
}
S16 SV_get_iode(SV_T sv) { return eph_of(sv) != nullptr ? EPH_get_iode(eph_of(sv)) : static_cast<S16>(-1); }
EPH_T SV_get_gps_ephemeris(SV_T sv) { return eph_of(sv); }
S16 SV_has_ephemeris(SV_T sv) {
  if (sv != nullptr && sv->sbas != nullptr) return SVSBAS_get_URA(sv->sbas) >= 0 ? 1 : 0;  // a GEO record is held
  return EPH_has_valid_data(eph_of(sv)) != 0 ? 1 : 0;
}
S16 SV_has_almanac(SV_T sv) {
  return sv != nullptr && sv->gps != nullptr && ALM_has_valid_data(ALM_get_reference(sv->svid)) != 0 ? 1 : 0;
}
D64 SV_get_L1_frequency(SV_T) { return SV_L1_FREQUENCY; }

S16 SV_is_healthy(SV_T sv) {
  const EPH_T eph = eph_of(sv);
  return eph != nullptr && EPH_get_health(eph) <= HEALTH_LIMIT ? 1 : 0;
}

S16 SV_is_usable_for_ranging(SV_T sv) {
  if (sv == nullptr) return 0;
  if (sv->gps == nullptr) return 1;
  return SV_is_healthy(sv) && EPH_is_usable_for_ranging(eph_of(sv)) ? 1 : 0;
}

S16 SV_get_ephemeris_available_state(SV_T sv, S16 wn, D64 tt) {
  const EPH_T eph = eph_of(sv);
  if (EPH_has_valid_data(eph) == 0 || EPH_is_overdue(eph, wn, static_cast<S32>(tt))) return 0;
  return static_cast<S16>(2 + (SV_is_healthy(sv) ? 4 : 0));
}

S16 SV_precise(SV_T sv, S16 wn, D64 t, POS_T* pos, VEL_T* vel, ACC_T* acc) {
  if (sv != nullptr && sv->sbas != nullptr) {
    const S16 ok = SVSBAS_precise(sv->sbas, wn, t, pos, vel);
    if (ok != 0 && acc != nullptr) *acc = ACC_T{};  // the GEO record's quadratic model: acceleration not carried on
    return ok;
  }
  if (sv == nullptr || sv->gps == nullptr || !(std::fabs(t) < MAX_ABS_TOW)) return 0;  // NaN refused too
  return svgps_precise(*sv->gps, wn, t, pos, vel, acc);
}

S16 SV_rough(SV_T sv, S16 wn, S32 tow, POS_T* pos, VEL_T* vel) {
  if (sv != nullptr && sv->sbas != nullptr) {
    const S16 ok = SVSBAS_rough(sv->sbas, wn, static_cast<D64>(tow), pos);
    if (ok != 0 && vel != nullptr) *vel = VEL_T{};
    return ok;
  }
  if (sv == nullptr || sv->gps == nullptr) return 0;
  return svgps_rough(*sv->gps, wn, tow, pos, vel);
}

void SV_update_schedule_computing_time_event(S16 wn, S32 tow) {
  for (SVGPS_S& g : Svgps) {
    if (!g.eph_calc_valid || EPH_calculate_tk_integer(g.eph_ref_wn, g.eph_ref_tow, wn, tow) != SV_REFRESH_AGE_S)
      continue;
    if (g.eph_update_times >= SV_MAX_REFRESH) {
      g.eph_calc_valid = 0;
      continue;
    }
    if (fix_position(g, wn, tow)) ++g.eph_update_times;
  }
}

S16 SV_calc_elevation_azimuth(SV_T sv, const POS_T* rcv, const F32 (*enu)[3]) {
  POS_T s{};
  VEL_T v{};
  if (rcv == nullptr || enu == nullptr || rough_state(sv, &s, &v) == 0) return 0;
  const F32 los[3] = {static_cast<F32>(s.px - rcv->px), static_cast<F32>(s.py - rcv->py),
                      static_cast<F32>(s.pz - rcv->pz)};
  F32 l[3];
  for (int r = 0; r < 3; ++r) l[r] = enu[r][0] * los[0] + enu[r][1] * los[1] + enu[r][2] * los[2];
  // a receiver on the satellite or a state beyond single precision has no direction
  if (!std::isfinite(l[0]) || !std::isfinite(l[1]) || !std::isfinite(l[2]) ||
      (l[0] == 0.0F && l[1] == 0.0F && l[2] == 0.0F))
    return 0;
  D64 az = std::atan2(static_cast<D64>(l[0]), static_cast<D64>(l[1]));
  if (az < 0.0) az += TWO_PI;
  const D64 el =
      std::atan2(static_cast<D64>(l[2]), std::sqrt(static_cast<D64>(l[0]) * l[0] + static_cast<D64>(l[1]) * l[1]));
  sv->azm = static_cast<F32>(az);
  sv->elv = static_cast<F32>(el);
  sv->azm_deg = static_cast<S16>(std::trunc(az * RAD_TO_DEG + 0.5));  // rounded as the receiver does: + 0.5, truncated
  sv->elv_deg = static_cast<S16>(std::trunc(el * RAD_TO_DEG + 0.5));
  sv->azm_calc_valid = sv->elv_calc_valid = 1;
  sv->pierce_point_calc_valid = 0;
  sv->pierce_point_has_grid = 0;
  return 1;
}

S16 SV_calc_doppler(SV_T sv, const POS_T* rcv, S32* doppler) {
  POS_T sp{};
  VEL_T sv_vel{};
  if (rcv == nullptr || rough_state(sv, &sp, &sv_vel) == 0) return 0;
  const F32 d[3] = {static_cast<F32>(rcv->px - sp.px), static_cast<F32>(rcv->py - sp.py),
                    static_cast<F32>(rcv->pz - sp.pz)};
  const F32 n = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
  if (!(n > 0.0F) || !std::isfinite(n)) return 0;
  const F32 rate = (sv_vel.vx * d[0] + sv_vel.vy * d[1] + sv_vel.vz * d[2]) / n;  // m/s, approaching > 0
  const D64 hz = SV_L1_FREQUENCY / LIGHT_SPEED * static_cast<D64>(rate);
  if (!(std::fabs(hz) < MAX_DOPPLER_HZ)) return 0;  // not a satellite's motion (and beyond S32)
  sv->doppler = static_cast<S32>(hz);
  sv->doppler_calc_valid = 1;
  if (doppler != nullptr) *doppler = sv->doppler;
  return 1;
}

F32 SV_get_elevation(SV_T sv) { return sv != nullptr && sv->elv_calc_valid ? sv->elv : 0.0F; }
F32 SV_get_azimuth(SV_T sv) { return sv != nullptr && sv->azm_calc_valid ? sv->azm : 0.0F; }
S16 SV_get_elevation_in_deg(SV_T sv) { return sv != nullptr && sv->elv_calc_valid ? sv->elv_deg : static_cast<S16>(0); }
S16 SV_get_azimuth_in_deg(SV_T sv) { return sv != nullptr && sv->azm_calc_valid ? sv->azm_deg : static_cast<S16>(0); }
S32 SV_get_doppler(SV_T sv) { return sv != nullptr && sv->doppler_calc_valid ? sv->doppler : 0; }
S16 SV_has_valid_azm_elv(SV_T sv) { return sv != nullptr && sv->azm_calc_valid && sv->elv_calc_valid ? 1 : 0; }
void SV_invalidate_azm_elv(SV_T sv) {
  if (sv != nullptr) sv->azm_calc_valid = sv->elv_calc_valid = 0;
}

S16 GSV_is_masked(SV_T sv) { return sv != nullptr ? sv->is_masked : static_cast<S16>(0); }
void GSV_set_masked(SV_T sv, S16 masked) {
  if (sv != nullptr) sv->is_masked = masked != 0 ? 1 : 0;
}
void GSV_set_all_sv_unmasked() {
  for (SV_S& s : Sv_gps) s.is_masked = 0;
  for (SV_S& s : Sv_sbas) s.is_masked = 0;
}
