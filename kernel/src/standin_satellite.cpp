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

namespace {
U08* Alm_stored_image = nullptr;
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

// --- Sky view and bit-count prediction -------------------------------------------
void SVSKY_force_update_all(S16, S32, const POS_T*) {}
void KSVCALC_init(S16) {}
// Once a second: the satellites' background state refresh at the adjusted
// GPS time (the sky-view update that follows it is the sky view's, later).
void KSVCALC_process() {
  S16 wn = 0;
  D64 tow = 0.0;
  if (GTCADJ_get_adjusted_gtc(&wn, &tow) == 1) SV_update_schedule_computing_time_event(wn, static_cast<S32>(tow));
}
void KFASTFS_init(S16, S16, S32) {}
void KFASTFS_process(S16, D64, S16) {}
