// Subframe collectors (SFC_): per channel, the word-by-word assembly of GPS
// subframes 1..3 under one IODE, and the dispatch of the almanac, health,
// ionosphere/UTC pages of subframes 4 and 5.
//
// Words are GPS navigation words as dbits_parity.h describes them (D29*, D30*
// in bits 31..30). Subframes handed to the callbacks are polarity corrected
// (DBP_polarity_corrected: bit 30 clear, source data in bits 29..6) and are
// the collector's storage: valid during the call only.
#pragma once

#include "misc/gnss_types.h"

struct SFCOLLECT_S;
using SFCollect_T = SFCOLLECT_S*;

using SFC_S123_CALLBACK_T = void (*)(S16 ch_id, const U32 (*dws_p)[10]);  // subframes 1..3, 10 words each
using SFC_PAGE_CALLBACK_T = void (*)(const U32* dws_p);                   // one subframe, 10 words
// Every page of subframes 4 and 5 that passed: channel 0..19, page 1..25,
// subframe id 4 or 5, the 10 words.
using SFC_AIDING_CALLBACK_T = void (*)(S16 ch_id, S16 page, S16 sfid, const U32* dws_p);

void SFC_init();                                // all collectors free and cleared; callbacks kept
SFCollect_T SFC_new(S16 ch_id);                 // the collector of channel 0..19, cleared; null outside
SFCollect_T SFC_find_reference(S16 ch_id);      // the collector of an in-use channel; null otherwise
void SFC_delete(SFCollect_T sfc);               // back to the pool; null is ignored
S16 SFC_get_owner_channel_id(SFCollect_T sfc);  // 0..19; -1 for null
void SFC_reset(SFCollect_T sfc);                // forget the IODE and every stored word
void SFC_remove_stored_data(SFCollect_T sfc);   // forget the IODE (the next subframe starts afresh)
// One subframe of id sfid (1..5): words[10] (read during the call), bit i of
// valid_flags set when word i+1 passed parity. Subframes 1..3: 1 when they
// completed with this one and were handed to the callback, else 0. Subframes
// 4 and 5: 1 when all words passed (or the satellite is QZSS, whose pages are
// not used), else 0. 0 for a bad id or a null collector.
S16 SFC_collect(SFCollect_T sfc, S16 sfid, const U32* words, U16 valid_flags);

// IODE of subframe sfid (1..3) from its words (subframe 1: the 8 LSBs of the
// IODC in word 8; 2: word 3; 3: word 10); 0 when that word failed parity
// (its bit in valid_flags is clear) or sfid is not 1..3.
U08 SFC_get_iode_from_sub123(S16 sfid, const U32* words, U16 valid_flags);

void SFC_install_callback_s1s2s3(SFC_S123_CALLBACK_T func);    // subframes 1..3 of a channel, complete
void SFC_install_callback_s4_p13(SFC_PAGE_CALLBACK_T func);    // subframe 4 page 13
void SFC_install_callback_s4_p17(SFC_PAGE_CALLBACK_T func);    // subframe 4 page 17
void SFC_install_callback_s4_p18(SFC_PAGE_CALLBACK_T func);    // ionosphere and UTC page
void SFC_install_callback_s4_p25(SFC_PAGE_CALLBACK_T func);    // health page of subframe 4
void SFC_install_callback_s5_p1_24(SFC_PAGE_CALLBACK_T func);  // almanac pages (SV ID 1..32)
void SFC_install_callback_s5_p25(SFC_PAGE_CALLBACK_T func);    // health and almanac week page of subframe 5
void SFC_install_callback_aiding(SFC_AIDING_CALLBACK_T func);
