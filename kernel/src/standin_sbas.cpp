// Stand-ins for the SBAS GEO and QZSS modules, until the SBAS issue replaces them.
// The message decoding (sbas_decode.h) is real; KWAAS_init starts its collectors.
// Neutral results: no GEO record, no correction record, nothing sent. The
// backup layout operation returns the real size of the SBAS piece.
#include "kernel/src/backup_layout.h"
#include "kernel/src/kernel_modules.h"

S16 KWAAS_init_storage_address(U08*, U32) { return static_cast<S16>(KWAAS_BACKUP_SIZE); }
void KWAAS_init(const SBAS_PARAMETER_T*, S32) { SBAS_DBC_init(); }  // the symbol collectors are real
void KWAAS_clear_all_geo_parameters() {}
void KWAAS_second_tick_process() {}
void KWAAS_set_sbas_para(const SBAS_PARAMETER_T*) {}
void KQZSS_init(const QZSS_PARAMETER_T*) {}
void KQZSS_second_tick_process() {}
void KQZSS_set_qzss_para(const QZSS_PARAMETER_T*) {}
void SBAS_GEO_update_messages(S16, S32, S16, const U32*, S16) {}
