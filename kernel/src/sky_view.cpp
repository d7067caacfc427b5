// Sky view: per-satellite elevation, azimuth and Doppler and the sorted list
// of satellites in view; the once-a-second satellite computation schedule.
#include "kernel/src/sky_view.h"

#include <array>
#include <cmath>
#include <cstddef>

#include "kernel/src/coordinate.h"
#include "kernel/src/gtc_adjust.h"
#include "kernel/src/kernel_modules.h"
#include "kernel/src/navigate.h"
#include "kernel/src/satellite.h"

namespace {

constexpr std::size_t N_GPS = SPARE_GPS_ID;  // GPS-type ids 1..38
constexpr S64 WEEK_S = 604800;

struct SVSKY_T {
  SV_T sv;
  S16 has_valid_data;
  F32 elv;  // rad
};

std::array<SVSKY_T, N_GPS> Svsky{};
std::array<SV_T, SVSKY_MAX_SORTED> Sorted_on_sky_ary{};
S16 Nsorted_svs_in_view = 0;
std::size_t Svsky_calc_ndx = 0;
S16 Svsky_last_wn = 0;
S32 Svsky_last_tow = 0;
POS_T Svsky_last_rcvpos{};
S16 Svsky_has_last_update = 0;

// The ECEF -> east, north, up rotation at the receiver.
void enu_matrix(const POS_T& rcv, F32 (*tm)[3]) {
  LLA_T lla{};
  COO_cartesian_to_geodetic(&rcv, &lla);
  COO_calculate_enu_tm(static_cast<F32>(lla.lat), static_cast<F32>(lla.lon), tm);
}

// Position (rough, else precise), elevation, azimuth and Doppler of one
// satellite. 1 when the elevation and azimuth were computed.
S16 compute_one(SV_T sv, S16 wn, S32 tow, const POS_T& rcv, const F32 (*tm)[3]) {
  if (sv == nullptr) return 0;
  // without a rough state the precise computation sets a new reference
  // state, from which the rough state then follows
  if (SV_rough(sv, wn, tow, nullptr, nullptr) == 0 &&
      (SV_precise(sv, wn, static_cast<D64>(tow), nullptr, nullptr, nullptr) == 0 ||
       SV_rough(sv, wn, tow, nullptr, nullptr) == 0))
    return 0;
  if (SV_calc_elevation_azimuth(sv, &rcv, tm) == 0) return 0;
  SV_calc_doppler(sv, &rcv, nullptr);
  return 1;
}

void compute_gps(std::size_t i, S16 wn, S32 tow, const POS_T& rcv, const F32 (*tm)[3]) {
  SVSKY_T& s = Svsky[i];
  if (s.sv == nullptr) s.sv = SV_get_reference(GNSS_TYPE_GPS, static_cast<S16>(i + 1));
  s.has_valid_data = compute_one(s.sv, wn, tow, rcv, tm);
  s.elv = s.has_valid_data != 0 ? SV_get_elevation(s.sv) : 0.0F;
}

void full_update(S16 wn, S32 tow, const POS_T& rcv, const F32 (*tm)[3]) {
  for (std::size_t i = 0; i < N_GPS; ++i) compute_gps(i, wn, tow, rcv, tm);
}

// Round robin from Svsky_calc_ndx until one satellite has valid data.
void partial_update(S16 wn, S32 tow, const POS_T& rcv, const F32 (*tm)[3]) {
  for (std::size_t k = 0; k < N_GPS; ++k) {
    const std::size_t i = Svsky_calc_ndx;
    Svsky_calc_ndx = (Svsky_calc_ndx + 1) % N_GPS;
    compute_gps(i, wn, tow, rcv, tm);
    if (Svsky[i].has_valid_data != 0) break;
  }
}

void update_sbas(S16 wn, S32 tow, const POS_T& rcv, const F32 (*tm)[3]) {
  for (S16 prn = SBAS_PRN_MIN; prn <= SBAS_PRN_MAX; ++prn) {
    const SV_T sv = SV_get_reference(GNSS_TYPE_SBAS, prn);
    if (SV_rough(sv, wn, tow, nullptr, nullptr) != 0) SV_calc_elevation_azimuth(sv, &rcv, tm);
  }
}

// GPS-type satellites with valid data at or above 0, highest first (stable
// among equal elevations), at most 19.
void sort_list() {
  Nsorted_svs_in_view = 0;
  for (const SVSKY_T& s : Svsky) {
    if (s.has_valid_data == 0 || !(s.elv >= 0.0F)) continue;
    auto n = static_cast<std::size_t>(Nsorted_svs_in_view);
    std::size_t at = n;
    while (at > 0 && Svsky[static_cast<std::size_t>(SV_get_svid(Sorted_on_sky_ary[at - 1]) - 1)].elv < s.elv) --at;
    if (at >= Sorted_on_sky_ary.size()) continue;
    if (n == Sorted_on_sky_ary.size()) --n;  // the lowest falls off
    for (std::size_t j = n; j > at; --j) Sorted_on_sky_ary[j] = Sorted_on_sky_ary[j - 1];
    Sorted_on_sky_ary[at] = s.sv;
    Nsorted_svs_in_view = static_cast<S16>(n + 1);
  }
}

bool position_usable(const POS_T* p) {
  return p != nullptr && std::isfinite(p->px) && std::isfinite(p->py) && std::isfinite(p->pz);
}

void remember(S16 wn, S32 tow, const POS_T& rcv) {
  Svsky_last_wn = wn;
  Svsky_last_tow = tow;
  Svsky_last_rcvpos = rcv;
  Svsky_has_last_update = 1;
}

}  // namespace

void SVSKY_init() {
  for (std::size_t i = 0; i < N_GPS; ++i)
    Svsky[i] = SVSKY_T{SV_get_reference(GNSS_TYPE_GPS, static_cast<S16>(i + 1)), 0, 0.0F};
  Sorted_on_sky_ary.fill(nullptr);
  Nsorted_svs_in_view = 0;
  Svsky_calc_ndx = 0;
  Svsky_last_wn = 0;
  Svsky_last_tow = 0;
  Svsky_last_rcvpos = POS_T{};
  Svsky_has_last_update = 0;
}

void SVSKY_update_receiver_position(S16 wn, S32 tow, const POS_T* rcv_p) {
  if (!position_usable(rcv_p)) return;
  F32 tm[3][3] = {};
  enu_matrix(*rcv_p, tm);
  const S64 dt = (static_cast<S64>(wn) - Svsky_last_wn) * WEEK_S + (static_cast<S64>(tow) - Svsky_last_tow);
  const D64 dx = rcv_p->px - Svsky_last_rcvpos.px;
  const D64 dy = rcv_p->py - Svsky_last_rcvpos.py;
  const D64 dz = rcv_p->pz - Svsky_last_rcvpos.pz;
  const bool moved = !(std::sqrt(dx * dx + dy * dy + dz * dz) < SVSKY_FULL_UPDATE_MOVE_M);
  if (Svsky_has_last_update == 0 || dt > SVSKY_FULL_UPDATE_DT_S || dt < -SVSKY_FULL_UPDATE_DT_S || moved)
    full_update(wn, tow, *rcv_p, tm);
  else
    partial_update(wn, tow, *rcv_p, tm);
  update_sbas(wn, tow, *rcv_p, tm);
  sort_list();
  remember(wn, tow, *rcv_p);
}

void SVSKY_force_update_all(S16 wn, S32 tow, const POS_T* rcv_p) {
  if (!position_usable(rcv_p)) return;
  F32 tm[3][3] = {};
  enu_matrix(*rcv_p, tm);
  full_update(wn, tow, *rcv_p, tm);
  update_sbas(wn, tow, *rcv_p, tm);
  sort_list();
  remember(wn, tow, *rcv_p);
}

void SVSKY_force_update_one(S16 wn, S32 tow, const POS_T* rcv_p, SV_T sv) {
  if (!position_usable(rcv_p) || sv == nullptr) return;
  F32 tm[3][3] = {};
  enu_matrix(*rcv_p, tm);
  const S16 svid = SV_get_svid(sv);
  if (SV_get_type(sv) == GNSS_TYPE_GPS && svid >= 1 && svid <= static_cast<S16>(N_GPS))
    compute_gps(static_cast<std::size_t>(svid - 1), wn, tow, *rcv_p, tm);
  else
    compute_one(sv, wn, tow, *rcv_p, tm);
}

S16 SVSKY_has_valid_data(SV_T sv) {
  const S16 svid = SV_get_svid(sv);
  if (SV_get_type(sv) != GNSS_TYPE_GPS || svid < 1 || svid > static_cast<S16>(N_GPS)) return 0;
  return Svsky[static_cast<std::size_t>(svid - 1)].has_valid_data;
}

S16 SVSKY_get_sorted_SV_on_sky(SV_T* list) {
  if (list == nullptr) return 0;
  for (std::size_t i = 0; i < static_cast<std::size_t>(Nsorted_svs_in_view); ++i) list[i] = Sorted_on_sky_ary[i];
  return Nsorted_svs_in_view;
}

S16 SVSKY_get_sorted_SV_on_sky_one_gnss_type(U16 gnss_type, SV_T* list) {
  if (list == nullptr) return 0;
  S16 n = 0;
  for (std::size_t i = 0; i < static_cast<std::size_t>(Nsorted_svs_in_view); ++i)
    if (SV_get_type(Sorted_on_sky_ary[i]) == gnss_type) list[n++] = Sorted_on_sky_ary[i];
  return n;
}

// --- the once-a-second schedule -------------------------------------------------------------

// A hot or warm start computes the sky view at once, from the stored (or
// input) position at the start time the RTC predicts (or the user gave), so
// that the search's start decision and its first Doppler list see the
// satellites on the sky before the first raw count.
void KSVCALC_init(S16 can_do_hot_start) {
  SVSKY_init();
  if (can_do_hot_start == 0 || NV_has_stored_init_position() == 0) return;
  S16 wn = 0;
  S32 tow = 0;
  if (GTCADJ_get_init_time(&wn, &tow) != 1) return;
  SV_update_schedule_computing_time_event(wn, tow);
  POS_T rcv{};
  NV_get_ecef_position(&rcv);
  SVSKY_force_update_all(wn, tow, &rcv);
}

// Once a second: the satellites' background state refresh at the adjusted
// GPS time, then the sky view for the fix, or for the stored start position
// while there is no fix yet.
void KSVCALC_process() {
  S16 wn = 0;
  D64 tow = 0.0;
  if (GTCADJ_get_adjusted_gtc(&wn, &tow) != 1) return;
  const auto tow_s = static_cast<S32>(tow);
  SV_update_schedule_computing_time_event(wn, tow_s);
  if (NV_has_fixed() == 0 && NV_has_stored_init_position() == 0) return;
  POS_T rcv{};
  NV_get_ecef_position(&rcv);
  SVSKY_update_receiver_position(wn, tow_s, &rcv);
}
