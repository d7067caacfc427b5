// Stand-ins for the SBAS and QZSS modules, until the SBAS issue replaces them.
// Neutral results: no GEO record, no correction record, nothing sent. The
// backup layout operation returns the real size of the SBAS piece.
#include "kernel/src/backup_layout.h"
#include "kernel/src/kernel_modules.h"

S16 KWAAS_init_storage_address(U08*, U32) { return static_cast<S16>(KWAAS_BACKUP_SIZE); }
void KWAAS_init(const SBAS_PARAMETER_T*, S32) {}
void KWAAS_clear_all_geo_parameters() {}
void KWAAS_second_tick_process() {}
void KWAAS_set_sbas_para(const SBAS_PARAMETER_T*) {}
void KQZSS_init(const QZSS_PARAMETER_T*) {}
void KQZSS_second_tick_process() {}
void KQZSS_set_qzss_para(const QZSS_PARAMETER_T*) {}
void SBAS_BKC_install_callback_geos(SBAS_GEO_BLOCK_CALLBACK_T) {}
S16 SBAS_DBC_new(S16) { return -1; }
void SBAS_DBC_delete(S16) {}
S16 SBAS_DBC_check_prn(S16, S16) { return 0; }
S16 SBAS_DBC_collect(S16, S16, S16, S16, U32, S32) { return 0; }
S16 SBAS_DBC_get_track_to_first_block_msg_ms(S16, S32*) { return 0; }
void SBAS_DBC_update_bitcnt0(S16, S32) {}
S16 SBAS_DBC_get_db_status(S16, S16* locked_p, S32* bk_cnt_p, S32* msg_9_cnt_p) {
  *locked_p = 0;
  *bk_cnt_p = 0;
  *msg_9_cnt_p = 0;
  return 0;
}
S16 SBAS_DBC_decode_successfully(S16) { return 0; }
void SBAS_GEO_update_messages(S16, S32, S16, const U32*, S16) {}
