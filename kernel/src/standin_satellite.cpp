// Stand-ins for the satellite-data modules (almanac, health,
// UTC, satellite states and sky view, bit-count prediction), until the
// satellite-data issues replace them.
//
// Neutral results: nothing is decoded or stored. The
// backup-memory layout operations return the real sizes of their pieces, so
// the image layout is final. The almanac stand-in keeps the stored almanac
// image it was handed and gives it back unchanged (ALM_get_address), so that
// the host program's almanac files pass through a run intact. The UTC to GPS
// time conversion is the real one (needed by a user time input at start).
#include <array>

#include "kernel/src/almanac.h"
#include "kernel/src/backup_layout.h"
#include "kernel/src/kernel_modules.h"

// Satellite records exist for every kernel id (GPS-type 1..38, SBAS
// 120..138) so that channels bind to them; they hold no data.
struct SV_S {
  S16 gnss_type;
  S16 svid;
};

namespace {
U08* Alm_stored_image = nullptr;
constexpr std::size_t N_GPS_SV = SPARE_GPS_ID;
constexpr std::size_t N_SBAS_SV = SBAS_PRN_MAX - SBAS_PRN_MIN + 1;
std::array<SV_S, N_GPS_SV + N_SBAS_SV> Sv_data = [] {
  std::array<SV_S, N_GPS_SV + N_SBAS_SV> a{};
  for (std::size_t i = 0; i < N_GPS_SV; ++i) a[i] = SV_S{GNSS_TYPE_GPS, static_cast<S16>(i + 1)};
  for (std::size_t i = 0; i < N_SBAS_SV; ++i)
    a[N_GPS_SV + i] = SV_S{GNSS_TYPE_SBAS, static_cast<S16>(SBAS_PRN_MIN + static_cast<S16>(i))};
  return a;
}();
S16 Utc_default_leap_second = 0;  // s
}  // namespace

// --- Almanac and health ---------------------------------------------------------------
S16 ALM_init_storage_address(U08*, U32) { return static_cast<S16>(ALM_BACKUP_SIZE); }
S16 ALM_init(U08*, U08* stored_image, const U08*) {
  Alm_stored_image = stored_image;
  return static_cast<S16>(ALM_BACKUP_SIZE);
}
S16 ALM_update_datawords(S16, S32, const U32*) { return 0; }
S16 ALM_update_WNa_subframe(const U32*) { return 0; }
void ALM_check_validity_time(S16) {}
void ALM_clear_all() {}
S32 ALM_get_address(U08** addr) {
  *addr = Alm_stored_image;
  return Alm_stored_image != nullptr ? static_cast<S32>(ALM_BACKUP_SIZE) : 0;
}
S16 SVH_init_storage_address(U08*, U32) { return static_cast<S16>(SVH_BACKUP_SIZE); }
void SVH_init(U08*) {}
void SVH_update_datawords(S16, const U32*) {}

// --- UTC -------------------------------------------------------------------------------
S16 UTC_init_storage_address(U08*, U32) { return static_cast<S16>(UTC_BACKUP_SIZE); }
S16 UTC_init(U08*) { return static_cast<S16>(UTC_BACKUP_SIZE); }
void UTC_update_default_leap_second_from_flash(S16 leap_sec) { Utc_default_leap_second = leap_sec; }
S16 UTC_update_utc_parameters(S16, S32, S16, const U32*) { return 0; }
S16 UTC_get_reliable_leap_sec(S32*) { return 0; }
void UTC_clear_all() {}
void UTC_time_shift(S16) {}

// UTC calendar time to GPS week and time of week with the default leap
// seconds. The caller checks the calendar fields (month 1..12, day within the
// month, year from 1980). The GPS time scale starts on 6 January 1980, five
// days (432 000 s) after 1 January 1980.
void UTC_convert_utc_to_gps_time(const UTC_TIME_T* utc_p, S16* wn_p, D64* tow_p) {
  constexpr std::array<S32, 12> DAYS_BEFORE_MONTH = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  const S32 years = utc_p->year - 1980;
  const S32 leap_years = (years + 3) / 4;  // leap years 1980 .. year-1
  const bool is_leap = utc_p->year % 4 == 0;
  S32 day_of_year = DAYS_BEFORE_MONTH[static_cast<std::size_t>(utc_p->month - 1)] + utc_p->day - 1;
  if (is_leap && utc_p->month > 2) day_of_year += 1;
  const D64 whole_sec = static_cast<D64>(static_cast<S64>(utc_p->sec));
  const S64 seconds = static_cast<S64>(leap_years) * 31622400 + static_cast<S64>(years - leap_years) * 31536000 +
                      static_cast<S64>(day_of_year) * 86400 + utc_p->hour * 3600 + utc_p->minute * 60 +
                      static_cast<S64>(whole_sec) + Utc_default_leap_second - 432000;
  *wn_p = static_cast<S16>(seconds / SECONDS_PER_WEEK);
  *tow_p = static_cast<D64>(seconds % SECONDS_PER_WEEK) + (utc_p->sec - whole_sec);
}

// --- Satellite states and bit-count prediction -------------------------------------------
void SV_init() {}
SV_T SV_get_reference(U16 gnss_type, S16 svid) {
  const bool gps_type = gnss_type == GNSS_TYPE_GPS || gnss_type == GNSS_TYPE_QZSS;
  if (gps_type && svid >= GPS_PRN_MIN && svid <= SPARE_GPS_ID) return &Sv_data[static_cast<std::size_t>(svid - 1)];
  if ((gps_type || gnss_type == GNSS_TYPE_SBAS) && svid >= SBAS_PRN_MIN && svid <= SBAS_PRN_MAX)
    return &Sv_data[N_GPS_SV + static_cast<std::size_t>(svid - SBAS_PRN_MIN)];
  return nullptr;
}
SV_T SV_get_glonass_reference_by_knum(S16) { return nullptr; }
S16 SV_get_ura(SV_T) { return -1; }
S16 SV_is_healthy(SV_T) { return 0; }
S16 SV_has_ephemeris(SV_T) { return 0; }
S16 SV_get_ephemeris_available_state(SV_T, S16, D64) { return 0; }
S16 SV_get_glonass_slot_n(SV_T) { return 0; }
void SVSKY_force_update_all(S16, S32, const POS_T*) {}
void KSVCALC_init(S16) {}
void KSVCALC_process() {}
void KFASTFS_init(S16, S16, S32) {}
void KFASTFS_process(S16, D64, S16) {}
