// Bit-count handlers (BC_): per hardware channel, the origin that turns the
// channel's track bit count into an absolute bit count of the GPS week (the
// number of data bits since the start of the week: 20 ms bits for GPS, 10 ms
// for GLONASS, 2 ms for SBAS and the BeiDou GEO signals).
//
// One handler per channel (0..19) lives for the whole run; it is reset on
// channel reset and whenever the channel's signal identity changes. All
// operations accept a null handle (they do nothing and answer 0, or -1 for
// the identity getters' "none").
#pragma once

#include "misc/gnss_types.h"

struct BC_S;
using BC_T = BC_S*;

void BC_init();                     // reset all 20 handlers and the frame-sync count
BC_T BC_find_reference(S16 ch_id);  // handler of channel 0..19; null outside
void BC_reset(BC_T bc);
// A frame sync: bitcnt0 = absolute bit count minus track bit count (bits,
// wrapped into the week here) for the signal (GNSS type, satellite id,
// tracking issue id). A handler already synced to the same signal keeps its
// origin. Returns 0.
S16 BC_frame_sync(BC_T bc, S32 bitcnt0, U16 gnss_type, S16 signal_id, U08 issue_id);
// Data bits of the signal at track bit count track_bitcnt: a handler set up
// for another signal is reset first (returns 1), else 0. When synced, the
// absolute bit count of the bits is kept.
S16 BC_update_dbits_bitcnt(BC_T bc, U16 gnss_type, S16 signal_id, S32 track_bitcnt, U08 issue_id);
// A measurement of the signal at track bit count track_bitcnt: 1 and the
// absolute bit count kept when the signal matches and the handler is synced.
S16 BC_update_meas_track_bitcnt(BC_T bc, U16 gnss_type, S16 signal_id, S32 track_bitcnt, U08 issue_id);
// Track <-> absolute bit count (bits, wrapped into the week): 1 when synced.
S16 BC_convert_track_bitcnt_to_abs_bitcnt(BC_T bc, S32 track_bitcnt, S32* abs_bitcnt_p);
S16 BC_convert_abs_bitcnt_to_track_bitcnt(BC_T bc, S32 abs_bitcnt, S32* track_bitcnt_p);

U16 BC_get_gnss_type(BC_T bc);            // GNSS_TYPE_...; GNSS_TYPE_NONE for null
S16 BC_get_signal_id(BC_T bc);            // satellite id; 0 for null or not set
U08 BC_get_track_issue_id(BC_T bc);       // tracking issue id; 0 for null or not set
S32 BC_get_bitcnt0(BC_T bc);              // bits; 0 without frame sync
S32 BC_get_abs_bitcnt_of_dbits(BC_T bc);  // bits; 0 without frame sync
// Absolute bit count of the latest measurement, bits; 0 when none was kept
// since the last reset.
S32 BC_get_abs_bitcnt_of_measurement(BC_T bc);
S16 BC_has_frame_sync(BC_T bc);     // 1/0
S16 BC_has_any_one_real_fs();       // 1 when any GPS handler holds a frame sync
S16 BC_has_any_frame_sync_error();  // always 0: no cross-channel check raises it
