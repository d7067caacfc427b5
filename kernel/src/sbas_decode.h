// SBAS message decoding: the raw symbol stream of an SBAS channel (500
// symbols/s, rate-1/2 convolutional code, constraint length 7, generators
// G1 = 171 and G2 = 133 octal, G1 symbol first) turned into checked 250-bit
// messages (8-bit preamble 0x53, 0x9A, 0xC6 in cyclic order, 6-bit message
// type, 212 data bits, 24-bit CRC-24Q parity), as RTCA DO-229 defines them.
//
// Up to three SBAS channels are decoded at once, each by its own collector
// (index 0..2). A collector resolves the symbol-pair alignment and the stream
// polarity by trial, Viterbi-decodes 96 symbols at a time, searches the
// preamble, checks the CRC, locks once three good messages carried the three
// preambles in cyclic order, notes the message types seen and hands type-9
// (GEO navigation) messages to the installed GEO callback.
//
// Bit numbering of a message: bit 0 is the first preamble bit, the message
// type is bits 8..13, the parity bits 226..249. A message block is 8 U32
// words holding bits 0..249 most significant bit first (bit 0 = bit 31 of word
// 0; bits 250..255 are 0). All storage is static; buffers handed in are read
// (or written) during the call only and stay the caller's.
#pragma once

#include "misc/gnss_types.h"

constexpr S16 SBAS_DBC_NUM = 3;            // collectors
constexpr S16 SBAS_MSG_BITS = 250;         // bits of one message, parity included
constexpr S16 SBAS_BLOCK_WORDS = 8;        // U32 words of one message block
constexpr S16 SBAS_SYMBOLS_PER_WORD = 32;  // symbols of one report
constexpr S16 SBAS_VTB_MAX_BYTES = 29;     // symbol bytes one Viterbi block may hold (116 pairs)
constexpr S16 SBAS_VTB_MIN_BYTES = 9;      // symbol bytes one Viterbi block needs (36 pairs)
constexpr S16 SBAS_PRN_FILTER_LIMIT = 20;  // refusals after which the PRN filter takes a new PRN
constexpr S16 SBAS_UNLOCK_FAILURES = 52;   // consecutive CRC failures that clear the lock
constexpr S32 SBAS_BLOCK_COUNT_LIMIT = 1000;

// One SBAS message of GEO prn (120..138): the block (SBAS_BLOCK_WORDS words,
// read during the call only) and its message type (0..63).
using SBAS_BKC_CALLBACK_T = void (*)(S16 prn, const U32* block, S16 msg_type);

// Input faults the decoder refused (counted since SBAS_DBC_init).
struct SBAS_DBC_FAULTS_T {
  S32 no_collector_words;  // symbol words for a collector index outside 0..2 (-1: no free collector), ignored
  S32 bad_prn;             // PRNs outside 120..138 given to the decoder, dropped
  S32 symbol_gaps;         // symbol counts not the previous + 32: the collector was reset
};

// --- Collectors ---------------------------------------------------------------------------
// All three collectors idle (issue id 0xFFFF) and reset, fault counters 0,
// the Viterbi output table built. The GEO callback stays installed.
void SBAS_DBC_init();
// The first idle collector, marked busy, reset, with issue_id stored: 0..2;
// -1 when all three are busy.
S16 SBAS_DBC_new(S16 issue_id);
void SBAS_DBC_delete(S16 ndx);  // frees collector ndx; an index outside 0..2 is ignored
// Back to searching alignment: Viterbi state, decoder and collector fields,
// output assembler and PRN filter cleared, the timing fields unknown (-1), the
// shared message-type flags and PRN mask cleared; counts the reset. An index
// outside 0..2 is ignored.
void SBAS_DBC_reset(S16 ndx);
// One report of channel ch_id (0..19): symbols = 32 hard-decision symbols,
// the earliest in bit 31; symbol_count = the channel's symbol count after the
// last of them (counts from tracking start, 2 ms a symbol). A changed
// issue_id, or a count that is not the previous + 32 (a lost report), resets
// the collector first. Words for an index outside 0..2 and PRNs outside
// 120..138 are ignored and counted. Returns 0.
S16 SBAS_DBC_collect(S16 ndx, S16 ch_id, S16 prn, S16 issue_id, U32 symbols, S32 symbol_count);
// 1 when prn (kernel numbering, 120..138) may feed collector ndx: the first
// PRN after a reset is taken, later the same PRN is accepted; a different
// one is refused, and after more than 20 refusals the next PRN is taken
// afresh. 0 for a PRN outside 120..138 (counted) or an index outside 0..2.
S16 SBAS_DBC_check_prn(S16 ndx, S16 prn);
// 1 once known: *ms_p = milliseconds from the start of the channel's symbol
// count (symbol count 0) to the leading edge of the first good message after
// lock. 0 (and *ms_p untouched) otherwise.
S16 SBAS_DBC_get_track_to_first_block_msg_ms(S16 ndx, S32* ms_p);
// Stores the symbol-count offset the channel code derived from the message
// timing (symbols); an index outside 0..2 is ignored.
void SBAS_DBC_update_bitcnt0(S16 ndx, S32 bitcnt0);
// *locked_p = 1 while locked (three preambles in cyclic order), *bk_cnt_p =
// messages that passed the CRC (up to 1000), *msg_9_cnt_p = type-9 messages
// among them. Returns 1; 0 with zeros for an index outside 0..2.
S16 SBAS_DBC_get_db_status(S16 ndx, S16* locked_p, S32* bk_cnt_p, S32* msg_9_cnt_p);
S16 SBAS_DBC_decode_successfully(S16 ndx);  // 1 when locked and at least one message passed
S32 SBAS_DBC_get_reset_count(S16 ndx);      // resets of collector ndx since init; 0 for a bad index
void SBAS_DBC_get_faults(SBAS_DBC_FAULTS_T* faults_p);

// --- Message types (shared by all collectors, cleared by any collector reset) ----------
void SBAS_BKC_init();  // flags and PRN mask cleared; the GEO callback stays installed
// One checked message block of prn (SBAS_BLOCK_WORDS words): records the
// presence of its type; a type-9 message goes to the GEO callback.
void SBAS_BKC_collect(S16 prn, const U32* block);
void SBAS_BKC_install_callback_geos(SBAS_BKC_CALLBACK_T func);
S16 SBAS_has_fast_msg();  // type 2..5 or 24 seen after a PRN mask (type 1): 1/0
S16 SBAS_has_long_msg();  // type 24 or 25 seen after a PRN mask: 1/0
S16 SBAS_has_iono_msg();  // type 18 or 26 seen: 1/0
S16 SBAS_has_inte_msg();  // type 6 seen after a PRN mask: 1/0
// The last PRN mask (type 1): *iodp_p = IODP (0..3), *mask_p = the mask bits
// of PRN 1..32, PRN 1 in bit 31. Returns 1 when a mask was received.
S16 SBAS_BKC_get_prn_mask(U08* iodp_p, U32* mask_p);

// --- Fields of a message block -------------------------------------------------------------
// The n-bit field (1..32) at bit s of block (s + n <= 256), most significant
// bit first; unsigned, or two's complement. 0 for a field outside the block.
U32 SBAS_EXT_unsign(const U32* block, S16 s, S16 n);
S32 SBAS_EXT_sign(const U32* block, S16 s, S16 n);

// --- Viterbi decoder -----------------------------------------------------------------------
// Builds the output table: for each 6-bit encoder state (the previous input
// in bit 5, the oldest in bit 0) the G1 and G2 symbols of input 0.
void VTB_generate_sym_pair_tab();
void VTB_init_convolutional_encorder(S16 ndx);  // the Viterbi state of collector ndx cleared
void VTB_reset(S16 ndx);                        // its symbol buffer emptied
// Decodes one block independently: in = nbytes_in bytes of hard-decision
// symbols, four pairs a byte, most significant first, G1 before G2 in each
// pair; 9..29 bytes are decoded, other sizes nothing. out receives one bit per
// pair, most significant first ((nbytes_in + 1) / 2 bytes, caller's buffer).
// Returns the decoded bits (4 per byte), 0 when nothing was decoded.
S16 VTB_decode(S16 ndx, S16 nbytes_in, const U08* in, U08* out);

// --- CRC-24Q (generator 0x1864CFB, initial value 0) -----------------------------------------
// The remainder over nbits bits of words (most significant bit first).
U32 crc24q_remainder_by_tab(const U32* words, S32 nbits);
// 1 when the remainder over nbits (parity included) is 0; 0 otherwise or for nbits < 24.
S16 crc24q_parity_check_by_tab(const U32* words, S32 nbits);
