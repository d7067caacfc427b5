// SBAS symbol collectors: symbol-word gathering, pair-alignment and polarity
// trials, Viterbi decoding in blocks of 96 symbols, output-word assembly,
// preamble search, CRC-24Q check, preamble lock, message-type bookkeeping and
// the type-9 handoff to the GEO callback.
#include "kernel/src/sbas_decode.h"

#include <array>
#include <cstddef>

namespace {

constexpr std::size_t BUF_WORDS = 9;  // databit_buf: 288 bits, room for a message and one more word
constexpr int BUF_BITS = static_cast<int>(BUF_WORDS) * 32;
constexpr std::size_t SYM_WORDS = 4;                    // sbas_buf: the word carried over plus three new ones
constexpr std::size_t DECODE_WORDS = 3;                 // 96 symbols a decode
constexpr std::size_t DECODE_BYTES = DECODE_WORDS * 4;  // 12 symbol bytes
constexpr std::size_t DECODE_BITS = DECODE_BYTES * 4;   // 48 decoded bits
constexpr std::size_t HISTORY_WORDS = 2;                // symbol words before the decoded ones given to the decoder
constexpr std::size_t LOOKAHEAD_BYTES = 3;              // symbol bytes of the next word given to the decoder (12 pairs)
constexpr int HALF_WORD = 16;
constexpr U32 TRIAL_WINDOW = 34;  // decodes per alignment/polarity trial
constexpr int NUM_TRIALS = 4;
constexpr std::array<std::array<U08, 2>, NUM_TRIALS> TRIALS{{{0, 0}, {0, 1}, {1, 0}, {1, 1}}};  // shift, complement
constexpr int PREAMBLE_BITS = 8;
constexpr std::array<U32, 3> PREAMBLES{0x53, 0x9A, 0xC6};  // in their cyclic order
constexpr int PREAMBLE_SEARCH_MIN = 7;                     // the search goes on while more bits than this remain
constexpr S32 MS_PER_BIT = 4;                              // 250 bits/s
constexpr S32 MS_PER_SYMBOL = 2;                           // 500 symbols/s
constexpr U16 FREE_ISSUE_ID = 0xFFFF;
constexpr int TYPE_BIT = 8;
constexpr int TYPE_BITS = 6;
constexpr int MASK_BIT = 14;   // type 1: PRN mask bits of PRN 1..32 at bits 14..45
constexpr int IODP_BIT = 224;  // type 1: IODP at bits 224..225
constexpr U08 NOT_PASSED_MAX = 255;

struct SBAS_DBCOLLECT_S {
  S16 found_preamble;                      // a preamble is aligned at the head of databit_buf
  S16 fake_preamble_or_bit_error;          // the last preamble failed its CRC: search one bit further
  S16 stored_bit_count;                    // decoded bits held from the head of databit_buf
  U32 total_bit_count;                     // decoded bits appended since reset
  std::array<U32, BUF_WORDS> databit_buf;  // first bit in bit 31 of word 0
  S32 bk_cnt;                              // messages that passed the CRC (up to 1000)
  S32 msg_9_cnt;                           // type-9 messages among them
};

struct SBAS_S {
  U08 check_successive;                   // locked: three good messages carried the preambles in cyclic order
  U08 complement;                         // symbol stream taken inverted
  U08 shift_1_bit;                        // symbol pairs start one symbol later
  U08 preamble_index;                     // fill level of preamble_container
  U08 bit_index;                          // symbol words gathered in sbas_buf (0..4)
  U08 repeat_check;                       // restart the trial window at the next decode
  U08 check_count;                        // alignment/polarity trial 0..3
  U32 preamble;                           // preamble byte of the last message found, in the top byte
  std::array<U32, 3> preamble_container;  // preambles of the last good messages
  std::array<U32, SYM_WORDS> sbas_buf;    // symbol words
  U08 has_passed;                         // some message passed its CRC
  U08 not_passed_count;                   // CRC failures since the last good message
  S16 ch_id;                              // channel feeding the collector
  S32 track_to_1st_blk_edge_ms;           // ms from symbol count 0 to the first good message after lock; -1
  S32 first_bitcnt_received_after_reset;  // symbol count of the first word after reset; -1
  S32 bitcnt0;                            // symbol-count offset from the channel code; -1
  U32 last_symbol_count;                  // symbol count of the last word
  S16 has_last_symbol_count;
  std::array<U32, 2> history;  // the two symbol words before sbas_buf[0], oldest first
  S16 history_words;           // of them received (0 or 2)
};

struct ASSEMBLER_S {        // output words of the decodes
  U32 kk;                   // decodes since the trial window started
  std::array<U32, 2> sbas;  // word A, word B
};

struct PRN_FILTER_S {
  S16 pre_prn;
  S16 counter;
  S16 ini;
};

struct BKCOLLECT_S {
  S16 has_iodp;
  U08 iodp;
  U32 gps_prn_mask;
  U08 has_fast_msg;
  U08 has_long_msg;
  U08 has_iono_msg;
  U08 has_inte_msg;
};

std::array<SBAS_DBCOLLECT_S, SBAS_DBC_NUM> Dbcollect{};
std::array<SBAS_S, SBAS_DBC_NUM> Sbas{};
std::array<ASSEMBLER_S, SBAS_DBC_NUM> Decdoe{};
std::array<PRN_FILTER_S, SBAS_DBC_NUM> Prn_filter{};
std::array<S16, SBAS_DBC_NUM> SBAS_DBC_is_idle{1, 1, 1};
std::array<U16, SBAS_DBC_NUM> SBAS_DBC_issue_id{FREE_ISSUE_ID, FREE_ISSUE_ID, FREE_ISSUE_ID};
std::array<S32, SBAS_DBC_NUM> SBAS_DBC_RESET_CNT{};
SBAS_DBC_FAULTS_T Faults{};
S32 WAAS_FIND_PREAMBLE = 0;  // preambles found
S32 WAAS_FIND_BLOCK = 0;     // messages that passed the CRC
BKCOLLECT_S Bkc{};
SBAS_BKC_CALLBACK_T MSG_Geos_Callback = nullptr;

bool valid_ndx(S16 ndx) { return ndx >= 0 && ndx < SBAS_DBC_NUM; }
bool valid_prn(S16 prn) { return prn >= SBAS_PRN_MIN && prn <= SBAS_PRN_MAX; }
std::size_t at(S16 ndx) { return static_cast<std::size_t>(ndx); }

// --- bit buffer ------------------------------------------------------------------------

U32 buf_bit(const SBAS_DBCOLLECT_S& d, int pos) {
  return (d.databit_buf[static_cast<std::size_t>(pos / 32)] >> (31 - pos % 32)) & 1u;
}

U32 buf_byte(const SBAS_DBCOLLECT_S& d, int pos) {
  U32 v = 0;
  for (int i = 0; i < PREAMBLE_BITS; ++i) v = (v << 1) | buf_bit(d, pos + i);
  return v;
}

// Drops the first n bits (0 < n <= stored): the rest moves to the head.
void drop_head_bits(SBAS_DBCOLLECT_S& d, int n) {
  if (n <= 0) return;
  const auto words = static_cast<std::size_t>(n / 32);
  const int bits = n % 32;
  for (std::size_t i = 0; i < BUF_WORDS; ++i) {
    const std::size_t src = i + words;
    U32 hi = src < BUF_WORDS ? d.databit_buf[src] : 0u;
    const U32 lo = src + 1 < BUF_WORDS ? d.databit_buf[src + 1] : 0u;
    if (bits != 0) hi = (hi << bits) | (lo >> (32 - bits));
    d.databit_buf[i] = hi;
  }
  d.stored_bit_count = static_cast<S16>(d.stored_bit_count - n);
}

void append_word(SBAS_DBCOLLECT_S& d, U32 w) {
  if (d.stored_bit_count + 32 > BUF_BITS) drop_head_bits(d, d.stored_bit_count + 32 - BUF_BITS);  // cannot happen
  const int pos = d.stored_bit_count;
  const auto wi = static_cast<std::size_t>(pos / 32);
  const int bits = pos % 32;
  if (bits == 0) {
    d.databit_buf[wi] = w;
  } else {
    d.databit_buf[wi] = (d.databit_buf[wi] & ~(0xFFFFFFFFu >> bits)) | (w >> bits);
    if (wi + 1 < BUF_WORDS) d.databit_buf[wi + 1] = w << (32 - bits);
  }
  d.stored_bit_count = static_cast<S16>(d.stored_bit_count + 32);
  d.total_bit_count += 32;
}

bool is_preamble(U32 byte) { return byte == PREAMBLES[0] || byte == PREAMBLES[1] || byte == PREAMBLES[2]; }

// The next preamble candidate at or after the head (one bit later after a
// failed CRC), moved to the head; without one, all but the last 7 bits go.
bool sbas_find_preamble(SBAS_S& s, SBAS_DBCOLLECT_S& d) {
  int pos = d.fake_preamble_or_bit_error != 0 ? 1 : 0;
  d.fake_preamble_or_bit_error = 0;
  for (; d.stored_bit_count - pos > PREAMBLE_SEARCH_MIN; ++pos) {
    const U32 byte = buf_byte(d, pos);
    if (!is_preamble(byte)) continue;
    drop_head_bits(d, pos);
    s.preamble = byte << 24;
    d.found_preamble = 1;
    ++WAAS_FIND_PREAMBLE;
    return true;
  }
  drop_head_bits(d, d.stored_bit_count - PREAMBLE_SEARCH_MIN);
  return false;
}

bool cyclic_order(const std::array<U32, 3>& c) {
  for (std::size_t k = 0; k < PREAMBLES.size(); ++k) {
    bool ok = true;
    for (std::size_t i = 0; i < c.size(); ++i) ok = ok && (c[i] >> 24) == PREAMBLES[(k + i) % PREAMBLES.size()];
    if (ok) return true;
  }
  return false;
}

// Milliseconds from symbol count 0 to the head of the message at the head of
// the buffer: decoded bits before it (4 ms each), the symbols before the
// first reported one (2 ms each: that report's count - 32), and one symbol
// more when pairs start on the second symbol.
void first_edge(SBAS_S& s, const SBAS_DBCOLLECT_S& d) {
  S64 ms = (static_cast<S64>(d.total_bit_count) - d.stored_bit_count) * MS_PER_BIT;
  if (s.first_bitcnt_received_after_reset >= 0)
    ms += (static_cast<S64>(s.first_bitcnt_received_after_reset) - SBAS_SYMBOLS_PER_WORD) * MS_PER_SYMBOL;
  if (s.shift_1_bit != 0) ms += MS_PER_SYMBOL;
  if (ms < 0) return;  // a first symbol count below 32 places no message edge: stays unknown
  s.track_to_1st_blk_edge_ms = static_cast<S32>(ms & 0x7FFFFFFF);
}

void message_passed(S16 prn, SBAS_S& s, SBAS_DBCOLLECT_S& d) {
  if (s.check_successive != 0 && s.track_to_1st_blk_edge_ms < 0) first_edge(s, d);
  s.preamble_container[s.preamble_index] = s.preamble;
  if (++s.preamble_index >= s.preamble_container.size()) {
    if (cyclic_order(s.preamble_container)) s.check_successive = 1;
    s.preamble_index = 0;
  }
  std::array<U32, SBAS_BLOCK_WORDS> block{};
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = d.databit_buf[i];
  block[SBAS_BLOCK_WORDS - 1] &= ~0x3Fu;  // bits 250..255
  drop_head_bits(d, SBAS_MSG_BITS);
  if (d.bk_cnt < SBAS_BLOCK_COUNT_LIMIT) {
    ++d.bk_cnt;
    if (SBAS_EXT_unsign(block.data(), TYPE_BIT, TYPE_BITS) == 9) ++d.msg_9_cnt;
  }
  ++WAAS_FIND_BLOCK;
  s.not_passed_count = 0;
  s.preamble = 0;
  d.found_preamble = 0;
  s.has_passed = 1;
  SBAS_BKC_collect(prn, block.data());
}

void message_failed(SBAS_S& s, SBAS_DBCOLLECT_S& d) {
  d.fake_preamble_or_bit_error = 1;
  d.found_preamble = 0;
  s.preamble = 0;
  if (s.check_successive != 0) {
    s.repeat_check = 1;
    if (s.not_passed_count >= SBAS_UNLOCK_FAILURES - 1) s.check_successive = 0;
  }
  if (s.not_passed_count < NOT_PASSED_MAX) ++s.not_passed_count;
}

// One decoded 32-bit word into the bit buffer: preamble search and CRC check.
void sbas_dbit_collect(S16 ndx, S16 prn, U32 word) {
  SBAS_S& s = Sbas[at(ndx)];
  SBAS_DBCOLLECT_S& d = Dbcollect[at(ndx)];
  append_word(d, word);
  for (;;) {
    if (d.found_preamble == 0 && !sbas_find_preamble(s, d)) return;
    if (d.stored_bit_count < SBAS_MSG_BITS) return;
    if (crc24q_parity_check_by_tab(d.databit_buf.data(), SBAS_MSG_BITS) != 0) {
      message_passed(prn, s, d);
      return;
    }
    message_failed(s, d);
  }
}

// Words of the decoded bits (48 a decode, bits 0..47 = bits 47..0 of dec):
// every two decodes give three words.
void deliver(S16 ndx, S16 prn, U64 dec, bool complement) {
  ASSEMBLER_S& a = Decdoe[at(ndx)];
  const U32 flip = complement ? 0xFFFFFFFFu : 0u;
  if (a.kk % 2 == 0) {
    a.sbas[0] = static_cast<U32>(dec >> HALF_WORD);
    a.sbas[1] = static_cast<U32>(dec & 0xFFFFu) << HALF_WORD;
    sbas_dbit_collect(ndx, prn, a.sbas[0] ^ flip);
  } else {
    a.sbas[1] |= static_cast<U32>(dec >> 32) & 0xFFFFu;
    a.sbas[0] = static_cast<U32>(dec & 0xFFFFFFFFu);
    sbas_dbit_collect(ndx, prn, a.sbas[1] ^ flip);
    sbas_dbit_collect(ndx, prn, a.sbas[0] ^ flip);
  }
}

// One decode of the first three words of sbas_buf; true at the end of a trial window.
// The Viterbi block is framed by the words before them (history, so that the
// decoder enters the block on a settled path) and by the first 12 pairs of the
// fourth word (look-ahead, so that the last bits are not decided on the block
// edge); only the 48 bits of the three words are used.
bool sbas_symbols_decode(S16 ndx, S16 prn, bool shift, bool complement) {
  SBAS_S& s = Sbas[at(ndx)];
  const auto h = static_cast<std::size_t>(s.history_words);
  std::array<U32, HISTORY_WORDS + SYM_WORDS> seq{};
  for (std::size_t i = 0; i < h; ++i) seq[i] = s.history[HISTORY_WORDS - h + i];
  for (std::size_t i = 0; i < SYM_WORDS; ++i) seq[h + i] = s.sbas_buf[i];
  const std::size_t nwords = h + SYM_WORDS;
  if (shift)
    for (std::size_t i = 0; i < nwords; ++i) seq[i] = (seq[i] << 1) | (i + 1 < nwords ? seq[i + 1] >> 31 : 0u);
  const std::size_t nbytes = h * 4 + DECODE_BYTES + LOOKAHEAD_BYTES;
  std::array<U08, SBAS_VTB_MAX_BYTES> in{};
  for (std::size_t i = 0; i < nbytes; ++i) in[i] = static_cast<U08>(seq[i / 4] >> (24 - 8 * (i % 4)));
  std::array<U08, (SBAS_VTB_MAX_BYTES + 1) / 2> out{};
  if (VTB_decode(ndx, static_cast<S16>(nbytes), in.data(), out.data()) != static_cast<S16>(nbytes * 4)) return false;
  U64 dec = 0;
  for (std::size_t i = 0; i < DECODE_BITS / 8; ++i) dec = (dec << 8) | out[h * 2 + i];
  s.history[0] = s.sbas_buf[1];
  s.history[1] = s.sbas_buf[2];
  s.history_words = static_cast<S16>(HISTORY_WORDS);
  ASSEMBLER_S& a = Decdoe[at(ndx)];
  if (s.repeat_check != 0) {
    a.kk %= 2;
    s.repeat_check = 0;
  }
  deliver(ndx, prn, dec, complement);
  if (++a.kk < TRIAL_WINDOW) return false;
  a.kk = 0;
  return true;
}

void reset_collector(S16 ndx) {
  ++SBAS_DBC_RESET_CNT[at(ndx)];
  VTB_init_convolutional_encorder(ndx);
  VTB_reset(ndx);
  Dbcollect[at(ndx)] = SBAS_DBCOLLECT_S{};
  SBAS_S& s = Sbas[at(ndx)];
  s = SBAS_S{};
  s.repeat_check = 1;
  s.track_to_1st_blk_edge_ms = -1;
  s.first_bitcnt_received_after_reset = -1;
  s.bitcnt0 = -1;
  Decdoe[at(ndx)] = ASSEMBLER_S{};
  Prn_filter[at(ndx)] = PRN_FILTER_S{0, 0, 1};
  SBAS_BKC_init();
}

}  // namespace

// --- Collectors ---------------------------------------------------------------------------

void SBAS_DBC_init() {
  VTB_generate_sym_pair_tab();
  for (S16 i = 0; i < SBAS_DBC_NUM; ++i) {
    SBAS_DBC_is_idle[at(i)] = 1;
    SBAS_DBC_issue_id[at(i)] = FREE_ISSUE_ID;
    reset_collector(i);
  }
  SBAS_DBC_RESET_CNT.fill(0);
  Faults = SBAS_DBC_FAULTS_T{};
  WAAS_FIND_PREAMBLE = 0;
  WAAS_FIND_BLOCK = 0;
}

S16 SBAS_DBC_new(S16 issue_id) {
  for (S16 i = 0; i < SBAS_DBC_NUM; ++i) {
    if (SBAS_DBC_is_idle[at(i)] == 0) continue;
    SBAS_DBC_is_idle[at(i)] = 0;
    reset_collector(i);
    SBAS_DBC_issue_id[at(i)] = static_cast<U16>(issue_id);
    return i;
  }
  return -1;
}

void SBAS_DBC_delete(S16 ndx) {
  if (!valid_ndx(ndx)) return;
  SBAS_DBC_is_idle[at(ndx)] = 1;
  SBAS_DBC_issue_id[at(ndx)] = FREE_ISSUE_ID;
}

void SBAS_DBC_reset(S16 ndx) {
  if (valid_ndx(ndx)) reset_collector(ndx);
}

S16 SBAS_DBC_collect(S16 ndx, S16 ch_id, S16 prn, S16 issue_id, U32 symbols, S32 symbol_count) {
  if (!valid_ndx(ndx)) {
    ++Faults.no_collector_words;
    return 0;
  }
  if (!valid_prn(prn)) {
    ++Faults.bad_prn;
    return 0;
  }
  if (SBAS_DBC_issue_id[at(ndx)] != static_cast<U16>(issue_id)) {
    reset_collector(ndx);
    SBAS_DBC_issue_id[at(ndx)] = static_cast<U16>(issue_id);
  }
  SBAS_S* s = &Sbas[at(ndx)];
  const U32 count = static_cast<U32>(symbol_count);
  if (s->has_last_symbol_count != 0 && count != s->last_symbol_count + SBAS_SYMBOLS_PER_WORD) {
    ++Faults.symbol_gaps;
    reset_collector(ndx);
  }
  s->ch_id = ch_id;
  s->last_symbol_count = count;
  s->has_last_symbol_count = 1;
  if (s->first_bitcnt_received_after_reset < 0) s->first_bitcnt_received_after_reset = symbol_count & 0x7FFFFFFF;
  s->sbas_buf[s->bit_index] = symbols;
  if (++s->bit_index < SYM_WORDS) return 0;
  bool shift = s->shift_1_bit != 0;
  bool complement = s->complement != 0;
  if (s->check_successive == 0) {
    shift = TRIALS[s->check_count][0] != 0;
    complement = TRIALS[s->check_count][1] != 0;
    s->shift_1_bit = shift ? 1 : 0;
    s->complement = complement ? 1 : 0;
  }
  const bool window_end = sbas_symbols_decode(ndx, prn, shift, complement);
  if (window_end && s->check_successive == 0) s->check_count = static_cast<U08>((s->check_count + 1) % NUM_TRIALS);
  s->sbas_buf[0] = s->sbas_buf[SYM_WORDS - 1];
  s->bit_index = 1;
  return 0;
}

S16 SBAS_DBC_check_prn(S16 ndx, S16 prn) {
  if (!valid_prn(prn)) {
    ++Faults.bad_prn;
    return 0;
  }
  if (!valid_ndx(ndx)) return 0;
  PRN_FILTER_S& f = Prn_filter[at(ndx)];
  if (f.ini != 0 || prn == f.pre_prn) {
    f.ini = 0;
    f.pre_prn = prn;
    f.counter = 0;
    return 1;
  }
  if (++f.counter > SBAS_PRN_FILTER_LIMIT) f.ini = 1;
  return 0;
}

S16 SBAS_DBC_get_track_to_first_block_msg_ms(S16 ndx, S32* ms_p) {
  if (!valid_ndx(ndx) || ms_p == nullptr || Sbas[at(ndx)].track_to_1st_blk_edge_ms < 0) return 0;
  *ms_p = Sbas[at(ndx)].track_to_1st_blk_edge_ms;
  return 1;
}

void SBAS_DBC_update_bitcnt0(S16 ndx, S32 bitcnt0) {
  if (valid_ndx(ndx)) Sbas[at(ndx)].bitcnt0 = bitcnt0;
}

S16 SBAS_DBC_get_db_status(S16 ndx, S16* locked_p, S32* bk_cnt_p, S32* msg_9_cnt_p) {
  const bool ok = valid_ndx(ndx);
  if (locked_p != nullptr) *locked_p = ok ? static_cast<S16>(Sbas[at(ndx)].check_successive) : S16{0};
  if (bk_cnt_p != nullptr) *bk_cnt_p = ok ? Dbcollect[at(ndx)].bk_cnt : 0;
  if (msg_9_cnt_p != nullptr) *msg_9_cnt_p = ok ? Dbcollect[at(ndx)].msg_9_cnt : 0;
  return ok ? 1 : 0;
}

S16 SBAS_DBC_decode_successfully(S16 ndx) {
  if (!valid_ndx(ndx)) return 0;
  return Sbas[at(ndx)].check_successive != 0 && Sbas[at(ndx)].has_passed != 0 ? 1 : 0;
}

S32 SBAS_DBC_get_reset_count(S16 ndx) { return valid_ndx(ndx) ? SBAS_DBC_RESET_CNT[at(ndx)] : 0; }

void SBAS_DBC_get_faults(SBAS_DBC_FAULTS_T* faults_p) {
  if (faults_p != nullptr) *faults_p = Faults;
}

// --- Message types -------------------------------------------------------------------------

void SBAS_BKC_init() { Bkc = BKCOLLECT_S{}; }

void SBAS_BKC_collect(S16 prn, const U32* block) {
  if (block == nullptr) return;
  const auto type = static_cast<S16>(SBAS_EXT_unsign(block, TYPE_BIT, TYPE_BITS));
  switch (type) {
    case 1:
      Bkc.iodp = static_cast<U08>(SBAS_EXT_unsign(block, IODP_BIT, 2));
      Bkc.gps_prn_mask = SBAS_EXT_unsign(block, MASK_BIT, 32);
      Bkc.has_iodp = 1;
      break;
    case 2:
    case 3:
    case 4:
    case 5:
      if (Bkc.has_iodp != 0) Bkc.has_fast_msg = 1;
      break;
    case 6:
      if (Bkc.has_iodp != 0) Bkc.has_inte_msg = 1;
      break;
    case 24:
      if (Bkc.has_iodp != 0) {
        Bkc.has_fast_msg = 1;
        Bkc.has_long_msg = 1;
      }
      break;
    case 25:
      if (Bkc.has_iodp != 0) Bkc.has_long_msg = 1;
      break;
    case 18:
    case 26:
      Bkc.has_iono_msg = 1;
      break;
    case 9:
      if (MSG_Geos_Callback != nullptr) MSG_Geos_Callback(prn, block, type);
      break;
    default:
      break;
  }
}

void SBAS_BKC_install_callback_geos(SBAS_BKC_CALLBACK_T func) { MSG_Geos_Callback = func; }

S16 SBAS_has_fast_msg() { return Bkc.has_fast_msg; }
S16 SBAS_has_long_msg() { return Bkc.has_long_msg; }
S16 SBAS_has_iono_msg() { return Bkc.has_iono_msg; }
S16 SBAS_has_inte_msg() { return Bkc.has_inte_msg; }

S16 SBAS_BKC_get_prn_mask(U08* iodp_p, U32* mask_p) {
  if (Bkc.has_iodp == 0) return 0;
  if (iodp_p != nullptr) *iodp_p = Bkc.iodp;
  if (mask_p != nullptr) *mask_p = Bkc.gps_prn_mask;
  return 1;
}

// --- Fields --------------------------------------------------------------------------------

U32 SBAS_EXT_unsign(const U32* block, S16 s, S16 n) {
  if (block == nullptr || s < 0 || n < 1 || n > 32 || s + n > SBAS_BLOCK_WORDS * 32) return 0;
  U32 v = 0;
  for (int i = s; i < s + n; ++i) v = (v << 1) | ((block[i / 32] >> (31 - i % 32)) & 1u);
  return v;
}

S32 SBAS_EXT_sign(const U32* block, S16 s, S16 n) {
  const U32 u = SBAS_EXT_unsign(block, s, n);
  if (n < 1 || n >= 32) return static_cast<S32>(u);
  const U32 sign = 1u << (n - 1);
  return static_cast<S32>((u ^ sign) - sign);
}
