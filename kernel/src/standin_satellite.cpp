// Stand-ins for the satellite-data modules (almanac, health, satellite
// states and sky view, bit-count prediction), until the
// satellite-data issues replace them.
//
// Neutral results: nothing is decoded or stored. The
// backup-memory layout operations return the real sizes of their pieces, so
// the image layout is final. The almanac stand-in keeps the stored almanac
// image it was handed and gives it back unchanged (ALM_get_address), so that
// the host program's almanac files pass through a run intact.
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
// Temporary, for the corrections module until the satellite module arrives:
// a GPS-type record's ephemeris is the store's record of its id; the type is
// the record's.
EPH_T SV_get_gps_ephemeris(SV_T sv) {
  if (sv == nullptr || sv->gnss_type != GNSS_TYPE_GPS) return nullptr;
  return EPH_get_reference(sv->svid);
}
U16 SV_get_type(SV_T sv) { return sv != nullptr ? static_cast<U16>(sv->gnss_type) : static_cast<U16>(GNSS_TYPE_NONE); }
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
