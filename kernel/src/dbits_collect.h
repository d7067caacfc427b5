// GPS data-bit collectors (DBC_): per tracking channel, the 30-bit batches of
// navigation data bits turned into frame sync (the GPS time of a subframe
// start tied to the channel's track bit count), the subframe-1 week number
// and parity-checked subframes for the subframe collector (sf_collect.h).
//
// Words are GPS navigation words as dbits_parity.h describes them. Collectors
// are static storage, one per channel 0..19; a null handle is accepted by
// every operation (nothing is done, 0 or -1 is answered).
#pragma once

#include "kernel/src/sf_collect.h"
#include "misc/gnss_types.h"

struct DBCOLLECT_S;
using DBCollect_T = DBCOLLECT_S*;  // a channel's GPS data-bit collector

// Frame sync of a collector: tow = GPS time of week (s, 0..604 799) of the
// start of the subframe whose preamble was found, bitcnt = the channel's track
// bit count (20 ms bits) of that subframe's first bit.
using DBC_callback_T = void (*)(DBCollect_T dbc, S32 tow, S32 bitcnt);
// The 10-bit week number (0..1023) of a healthy satellite's subframe 1, once
// seen twice in a row (a change is believed on its second sighting).
using DBC_WN_CALLBACK_T = void (*)(U16 wn);

void DBC_init();  // all collectors free, the week-number check cleared; callbacks kept
// The collector of channel ch_id (0..19), with its subframe collector, reset;
// null outside 0..19.
DBCollect_T DBC_new(S16 ch_id);
DBCollect_T DBC_find_reference(S16 ch_id);      // collector of an in-use channel; null otherwise
void DBC_delete(DBCollect_T dbc);               // with its subframe collector; null is ignored
S16 DBC_get_owner_channel_id(DBCollect_T dbc);  // 0..19; -1 for null
void DBC_reset(DBCollect_T dbc);                // back to searching the preamble; stored words dropped
// One batch: databits bits 29..0 = 30 data bits, earliest at bit 29; bitcnt =
// the channel's track bit count at the end of the batch (the count of the
// bit after its last). Returns 1 exactly when this batch established frame
// sync (a freshly found preamble with a good TLM and HOW), else 0.
S16 DBC_collect(DBCollect_T dbc, U32 databits, S32 bitcnt);
// The last frame sync: time of week (s) and track bit count as the frame-sync
// callback got them; 1 when there is one since the last reset.
S16 DBC_get_frame_sync_result(DBCollect_T dbc, S32* tow_p, S32* bitcnt_p);
void DBC_install_framesync_callback(DBC_callback_T func);
void DBC_install_wn_callback(DBC_WN_CALLBACK_T func);
