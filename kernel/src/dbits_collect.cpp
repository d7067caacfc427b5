// GPS data-bit collectors: bit buffer, preamble search, TLM/HOW check,
// subframe slicing and the remainder buffer that rebuilds the subframe cut by
// the sync from its two copies.
#include "kernel/src/dbits_collect.h"

#include <array>

#include "kernel/src/dbits_parity.h"

namespace {

constexpr int BITS_PER_WORD = 30;
constexpr int WORDS_PER_SF = 10;
constexpr int BITS_PER_SF = 300;
constexpr int BUF_WORDS = 11;
constexpr int BUF_BITS = BUF_WORDS * BITS_PER_WORD;
constexpr int RM_WORDS = 9;
constexpr int KEEP_BITS = 8;         // bits kept when no preamble was found
constexpr S16 RM_MIN_BITS = 32;      // remainder bits needed before a combination
constexpr S16 RM_CAP_BITS = 272;     // remainder bits used at most
constexpr U32 PREAMBLE = 0x8B;       // 10001011
constexpr U32 PREAMBLE_SHIFT = 22;   // D1..D8 at bits 29..22
constexpr U32 TOW_COUNT_SHIFT = 13;  // HOW: TOW count (17 bits) at bits 29..13, units of 6 s
constexpr U32 TOW_COUNT_MASK = 0x1FFFF;
constexpr U32 SFID_SHIFT = 8;  // HOW: subframe id at bits 10..8
constexpr U32 SFID_MASK = 0x7;
constexpr U32 TOW_COUNT_LIMIT = 100800;  // TOW counts per week
constexpr U32 WN_SHIFT = 20;             // subframe 1 word 3: week number D1..D10 at bits 29..20
constexpr U32 WN_MASK = 0x3FF;
constexpr U32 HEALTH_SHIFT = 8;  // subframe 1 word 3: SV health D17..D22 at bits 13..8
constexpr U32 HEALTH_MASK = 0x3F;
constexpr U32 LAST_TWO_BITS = 0x3;
constexpr U32 STAR_SHIFT = 30;
constexpr U16 ALL_WORDS = 0x3FF;
constexpr U08 REF_COUNTER_LIMIT = 10;  // subframes without confirmation before the sync is dropped
constexpr S32 SECONDS_PER_SF = 6;
constexpr S32 MIN_REBUILT_SF1_TOW = 30;  // s

}  // namespace

struct DBCOLLECT_S {
  SFCollect_T sfc;                         // the channel's subframe collector
  S16 owner_chan_id;                       // channel id
  S16 found_preamble;                      // a preamble is aligned at the head of databit_buf
  S16 first_tlm_how_ok;                    // the first TLM/HOW after the preamble passed
  S16 stored_bit_count;                    // bits held in databit_buf from the head
  S16 reset_flag;                          // set by reset, cleared by the next input
  S32 current_asic_bitcnt;                 // track bit count of the latest input
  std::array<U32, BUF_WORDS> databit_buf;  // 30 bits a word, D29*/D30* in bits 31..30
  S32 fs_tow;                              // s, time of week of the subframe whose preamble was found
  S32 fs_bitcnt;                           // track bit count of that subframe's first bit
  S16 has_framesync_tow;                   // fs_tow, fs_bitcnt valid
  S16 ref_sfid;                            // subframe id of the first subframe after the preamble
  U32 ref_tow_count;                       // its HOW TOW count
  S16 ref_valid;                           // the first subframe after sync was delivered
  U08 ref_counter;                         // subframes delivered without a confirmed preamble/HOW
  S16 preamble_valid;                      // a later subframe confirmed the preamble or HOW
  S16 predict_sfid;                        // id expected for the subframe being sliced
  std::array<U32, RM_WORDS> rm_buf;        // bits shifted out before the preamble, newest in element 8
  S16 rm_buf_bit_count;                    // bits shifted through rm_buf (capped)
  S16 sf_count;                            // subframes sliced since the sync
  std::array<U08, 3> ref_iode;             // IODE / IODC LSBs of subframes 1, 2, 3 in the first frame
};

namespace {

std::array<DBCOLLECT_S, NUM_HW_CHANNELS> Dbc_pool{};
std::array<bool, NUM_HW_CHANNELS> Dbc_in_use{};
DBC_callback_T Framesync_callback = nullptr;
DBC_WN_CALLBACK_T Wn_callback = nullptr;
// Week-number double check, shared by all channels.
S16 Dbc_last_wn = 0;
S16 Dbc_has_last_wn = 0;
S16 Dbc_different_wn = 0;
S16 Dbc_has_different_wn = 0;

// --- bit buffer ------------------------------------------------------------------------

U32 buf_bit(const DBCOLLECT_S& d, int pos) {
  const auto w = static_cast<std::size_t>(pos / BITS_PER_WORD);
  const auto b = static_cast<unsigned>(BITS_PER_WORD - 1 - pos % BITS_PER_WORD);
  return (d.databit_buf[w] >> b) & 1u;
}

// D29*/D30* of words 1.. from the last two bits of the word before each.
void chain_stars(DBCOLLECT_S* d) {
  for (std::size_t w = 1; w < d->databit_buf.size(); ++w)
    d->databit_buf[w] = (d->databit_buf[w] & DBP_WORD_MASK) | ((d->databit_buf[w - 1] & LAST_TWO_BITS) << STAR_SHIFT);
}

void append_databits(DBCOLLECT_S* d, U32 databits) {
  if (d->stored_bit_count < 0 || d->stored_bit_count + BITS_PER_WORD > BUF_BITS) {
    d->stored_bit_count = 0;  // cannot happen with the steps below; never write past the buffer
    d->found_preamble = 0;
  }
  for (int j = 0; j < BITS_PER_WORD; ++j) {
    const int pos = d->stored_bit_count + j;
    auto& word = d->databit_buf[static_cast<std::size_t>(pos / BITS_PER_WORD)];
    const auto b = static_cast<unsigned>(BITS_PER_WORD - 1 - pos % BITS_PER_WORD);
    if (pos % BITS_PER_WORD == 0 && pos > 0) word = 0;
    const U32 bit = (databits >> static_cast<unsigned>(BITS_PER_WORD - 1 - j)) & 1u;
    word = (word & ~(1u << b)) | (bit << b);
  }
  d->stored_bit_count = static_cast<S16>(d->stored_bit_count + BITS_PER_WORD);
  chain_stars(d);
}

// Move the bits from position `from` to the head of the buffer; the head
// word's D29*/D30* are the two bits before it (the last two shifted out).
void repack_from(DBCOLLECT_S* d, int from) {
  std::array<U32, BUF_WORDS> nb{};
  const int n = d->stored_bit_count - from;
  for (int p = 0; p < n; ++p) {
    const U32 bit = buf_bit(*d, from + p);
    nb[static_cast<std::size_t>(p / BITS_PER_WORD)] |= bit
                                                       << static_cast<unsigned>(BITS_PER_WORD - 1 - p % BITS_PER_WORD);
  }
  nb[0] |= (d->rm_buf[RM_WORDS - 1] & LAST_TWO_BITS) << STAR_SHIFT;
  d->databit_buf = nb;
  d->stored_bit_count = static_cast<S16>(n);
  chain_stars(d);
}

// Drop whole words from the head of the buffer (the next word keeps its
// D29*/D30*).
void drop_words(DBCOLLECT_S* d, int n_words) {
  for (int w = 0; w < BUF_WORDS; ++w) {
    const int src = w + n_words;
    d->databit_buf[static_cast<std::size_t>(w)] = src < BUF_WORDS ? d->databit_buf[static_cast<std::size_t>(src)] : 0;
  }
  d->stored_bit_count = static_cast<S16>(d->stored_bit_count - n_words * BITS_PER_WORD);
  if (d->stored_bit_count < 0) d->stored_bit_count = 0;
}

// One bit into the 270-bit remainder shift register.
void shift_into_rm(DBCOLLECT_S* d, U32 bit) {
  for (std::size_t k = 0; k + 1 < d->rm_buf.size(); ++k)
    d->rm_buf[k] = ((d->rm_buf[k] << 1) | ((d->rm_buf[k + 1] >> (BITS_PER_WORD - 1)) & 1u)) & DBP_WORD_MASK;
  d->rm_buf[RM_WORDS - 1] = ((d->rm_buf[RM_WORDS - 1] << 1) | bit) & DBP_WORD_MASK;
  if (d->rm_buf_bit_count < RM_CAP_BITS) ++d->rm_buf_bit_count;
}

void clear_remainder(DBCOLLECT_S* d) {
  d->sf_count = 0;
  d->rm_buf_bit_count = 0;
  d->ref_iode = {};
  d->rm_buf = {};
}

// --- preamble, TLM and HOW ----------------------------------------------------------------

// The 8 bits D1..D8 starting at pos, complemented when the bit before them
// (D30*) is 1, are the preamble.
bool preamble_at(const DBCOLLECT_S& d, int pos, U32 d30_star) {
  U32 v = 0;
  for (int i = 0; i < KEEP_BITS; ++i) v = (v << 1) | buf_bit(d, pos + i);
  if (d30_star != 0) v = ~v & 0xFFu;
  return v == PREAMBLE;
}

// Shift bits out of the head until the preamble is at the head (1), or only
// the last 8 bits remain (0). Each bit leaves before the test, into the
// remainder buffer.
bool find_preamble(DBCOLLECT_S* d) {
  int pos = 0;
  while (d->stored_bit_count - pos > KEEP_BITS) {
    const U32 bit = buf_bit(*d, pos);
    ++pos;
    shift_into_rm(d, bit);
    if (preamble_at(*d, pos, bit)) {
      repack_from(d, pos);
      return true;
    }
  }
  repack_from(d, pos);
  return false;
}

bool word_has_preamble(U32 word) { return ((DBP_polarity_corrected(word) >> PREAMBLE_SHIFT) & 0xFFu) == PREAMBLE; }

struct HOW_T {
  U32 tow_count;  // units of 6 s: time of the next subframe start
  S16 sfid;
};

HOW_T decode_how(U32 how) {
  const U32 w = DBP_polarity_corrected(how);
  return {(w >> TOW_COUNT_SHIFT) & TOW_COUNT_MASK, static_cast<S16>((w >> SFID_SHIFT) & SFID_MASK)};
}

bool how_consistent(const HOW_T& h) {
  return h.tow_count < TOW_COUNT_LIMIT && h.sfid == static_cast<S16>((h.tow_count + 4) % 5 + 1);
}

// Steps 2 and 3 of the TLM/HOW pair check: the TLM's last two bits are the
// HOW's D29*/D30* (or their complement), and the TLM's D29*/D30* equal the
// HOW's last two bits, 00 or 11.
bool tlm_how_chain_ok(U32 tlm, U32 how) {
  const U32 tlm_tail = tlm & LAST_TWO_BITS;
  const U32 how_star = how >> STAR_SHIFT;
  if (tlm_tail != how_star && tlm_tail + how_star != LAST_TWO_BITS) return false;
  if (tlm_tail != how_star) tlm = ~tlm;
  const U32 tlm_star = tlm >> STAR_SHIFT;
  const U32 how_tail = how & LAST_TWO_BITS;
  return tlm_star == how_tail && (how_tail == 0 || how_tail == LAST_TWO_BITS);
}

bool check_first_tel_how(const DBCOLLECT_S& d, HOW_T* how_p) {
  const U32 tlm = d.databit_buf[0];
  const U32 how = d.databit_buf[1];
  if (!DBP_check_dataword_parity(tlm) || !DBP_check_dataword_parity(how)) return false;
  if (!tlm_how_chain_ok(tlm, how)) return false;
  *how_p = decode_how(how);
  return how_consistent(*how_p);
}

// Word 1 and word 2 of a later subframe against the reference.
bool check_word1_word2_with_ref(DBCOLLECT_S* d, const std::array<U32, 10>& w, U16 flags) {
  const bool w1 = (flags & 1u) != 0;
  const bool w2 = (flags & 2u) != 0;
  if (w1) {
    if (!word_has_preamble(w[0])) return false;
    d->preamble_valid = 1;
  }
  if (w2) {
    const HOW_T h = decode_how(w[1]);
    if (h.sfid != d->predict_sfid || !how_consistent(h)) return false;
    const S32 dsf = h.sfid - d->ref_sfid;
    S64 dtow = static_cast<S64>(h.tow_count) - d->ref_tow_count;
    if (dtow < 0) dtow += TOW_COUNT_LIMIT;
    const S64 expect = dsf > 0 ? dsf : (dsf < 0 ? dsf + 5 : 0);
    if (dtow % 5 != expect) return false;
    d->preamble_valid = 1;
  }
  if (w1 && w2 && !tlm_how_chain_ok(w[0], w[1])) return false;
  return true;
}

// --- week number ---------------------------------------------------------------------------

bool wn_double_check(S16 wn) {
  if (!Dbc_has_last_wn) {
    Dbc_last_wn = wn;
    Dbc_has_last_wn = 1;
    return true;
  }
  if (wn == Dbc_last_wn) {
    Dbc_has_different_wn = 0;
    return true;
  }
  if (Dbc_has_different_wn && wn == Dbc_different_wn) {
    Dbc_last_wn = wn;
    Dbc_has_different_wn = 0;
    return true;
  }
  Dbc_different_wn = wn;
  Dbc_has_different_wn = 1;
  return false;
}

// Subframe 1, word 3: week number (10 bits) to the week-number callback when
// the double check passes and the satellite is healthy.
void week_number(U32 word3) {
  if (Wn_callback == nullptr) return;
  const U32 w = DBP_polarity_corrected(word3);
  const auto wn = static_cast<S16>((w >> WN_SHIFT) & WN_MASK);
  const bool accepted = wn_double_check(wn);
  if (accepted && ((w >> HEALTH_SHIFT) & HEALTH_MASK) == 0) Wn_callback(static_cast<U16>(wn));
}

// --- subframes -----------------------------------------------------------------------------

U16 check_sf_10_words_parity(const DBCOLLECT_S& d, std::array<U32, 10>* words) {
  U16 flags = 0;
  for (int i = 0; i < WORDS_PER_SF; ++i) {
    const U32 w = d.databit_buf[static_cast<std::size_t>(i)];
    (*words)[static_cast<std::size_t>(i)] = w;
    if (DBP_check_dataword_parity(w)) flags = static_cast<U16>(flags | (1u << static_cast<unsigned>(i)));
  }
  return flags;
}

void advance_predict_sfid(DBCOLLECT_S* d) { d->predict_sfid = static_cast<S16>(d->predict_sfid % 5 + 1); }

void drop_sync(DBCOLLECT_S* d) {
  d->found_preamble = 0;
  clear_remainder(d);
}

void ref_iode_store(DBCOLLECT_S* d, S16 sfid, const std::array<U32, 10>& w, U16 flags) {
  if (sfid >= 1 && sfid <= 3)
    d->ref_iode[static_cast<std::size_t>(sfid - 1)] = SFC_get_iode_from_sub123(sfid, w.data(), flags);
}

void maybe_week_number(const DBCOLLECT_S& d, const std::array<U32, 10>& w, U16 flags) {
  if (d.predict_sfid == 1 && (flags & 0x4u) != 0 && (flags & 0x8u) != 0) week_number(w[2]);
}

enum class SLICE_RESULT { DONE, RESYNC };

SLICE_RESULT slice_subframe(DBCOLLECT_S* d) {
  if (d->sf_count < 0x7FFF) ++d->sf_count;
  advance_predict_sfid(d);
  std::array<U32, 10> w{};
  const U16 flags = check_sf_10_words_parity(*d, &w);
  if (!d->ref_valid) {
    if ((d->ref_sfid == 2 || d->ref_sfid == 3) && flags != ALL_WORDS) d->sf_count = 5;
    if (d->predict_sfid == 2 || d->predict_sfid == 3) ref_iode_store(d, d->predict_sfid, w, flags);
    maybe_week_number(*d, w, flags);
    SFC_collect(d->sfc, d->predict_sfid, w.data(), flags);
    drop_words(d, WORDS_PER_SF);
    d->ref_valid = 1;
    return SLICE_RESULT::DONE;
  }
  // The subframes of the first frame that the remainder combination needs must be whole.
  const S16 r = d->ref_sfid;
  const S16 c = d->sf_count;
  const bool needed = (r == 2 && c == 2) || (r == 3 && c == 4) || (r == 4 && c == 3) || (r == 4 && c == 4);
  if (needed && flags != ALL_WORDS) d->sf_count = 5;
  if (needed && r != 2) ref_iode_store(d, d->predict_sfid, w, flags);
  if (!check_word1_word2_with_ref(d, w, flags)) {
    drop_sync(d);
    return SLICE_RESULT::RESYNC;
  }
  if (!d->preamble_valid && ++d->ref_counter >= REF_COUNTER_LIMIT) {
    drop_sync(d);
    return SLICE_RESULT::RESYNC;
  }
  maybe_week_number(*d, w, flags);
  if (flags != 0) SFC_collect(d->sfc, d->predict_sfid, w.data(), flags);
  drop_words(d, WORDS_PER_SF);
  return SLICE_RESULT::DONE;
}

// The subframe cut by the sync (id ref_sfid - 1) rebuilt from the head of its
// new copy (cur_w words in databit_buf) and the tail of the old one (pre_w
// words in the remainder buffer). 1 when it was handed on.
bool process_rmbuf(DBCOLLECT_S* d, int pre_w, int cur_w) {
  const S16 r = d->ref_sfid;
  if ((r == 2 && pre_w < 4) || (r == 3 && d->ref_iode[2] != d->ref_iode[0])) return false;
  std::array<U32, 10> w{};
  for (int j = 0; j < cur_w; ++j) w[static_cast<std::size_t>(j)] = d->databit_buf[static_cast<std::size_t>(j)];
  for (int j = cur_w; j < WORDS_PER_SF; ++j) {
    const int e = j - 1;  // remainder element of word j+1
    // D29*/D30* from the word before it: the remainder element before, or for
    // the first remainder word when no element precedes it (remainder at its
    // cap), the rebuilt current word.
    const U32 prev = e >= 1 ? d->rm_buf[static_cast<std::size_t>(e - 1)] : w[static_cast<std::size_t>(j - 1)];
    w[static_cast<std::size_t>(j)] =
        (d->rm_buf[static_cast<std::size_t>(e)] & DBP_WORD_MASK) | ((prev & LAST_TWO_BITS) << STAR_SHIFT);
  }
  for (const U32 word : w)
    if (!DBP_check_dataword_parity(word)) return false;
  if (r == 4 && SFC_get_iode_from_sub123(3, w.data(), ALL_WORDS) != d->ref_iode[0]) return false;
  if (r == 2 && SFC_get_iode_from_sub123(1, w.data(), ALL_WORDS) != d->ref_iode[1]) return false;
  if (r == 2 && pre_w < 8) {
    S32 tow = static_cast<S32>(decode_how(w[1]).tow_count) * SECONDS_PER_SF - SECONDS_PER_SF;
    if (tow < 0) tow += SECONDS_PER_WEEK;
    if (tow < MIN_REBUILT_SF1_TOW) return false;
  }
  advance_predict_sfid(d);
  if (d->predict_sfid == 1) week_number(w[2]);
  SFC_collect(d->sfc, d->predict_sfid, w.data(), ALL_WORDS);
  drop_words(d, cur_w);
  d->found_preamble = 0;
  return true;
}

void clear_reference(DBCOLLECT_S* d) {
  SFC_remove_stored_data(d->sfc);
  d->ref_sfid = 0;
  d->ref_tow_count = 0;
  d->ref_counter = 0;
  d->ref_valid = 0;
  d->preamble_valid = 0;
}

// First TLM/HOW after a preamble: on success the frame sync is reported.
bool confirm_sync(DBCOLLECT_S* d) {
  HOW_T h{};
  if (!check_first_tel_how(*d, &h)) return false;
  d->first_tlm_how_ok = 1;
  d->ref_sfid = h.sfid;
  d->ref_tow_count = h.tow_count;
  S32 tow = static_cast<S32>(h.tow_count) * SECONDS_PER_SF - SECONDS_PER_SF;
  if (tow < 0) tow += SECONDS_PER_WEEK;
  d->fs_tow = tow;
  d->fs_bitcnt = static_cast<S32>(static_cast<S64>(d->current_asic_bitcnt) - d->stored_bit_count);
  d->has_framesync_tow = 1;
  if (Framesync_callback != nullptr) Framesync_callback(d, d->fs_tow, d->fs_bitcnt);
  d->predict_sfid = static_cast<S16>(d->ref_sfid - 1);
  return true;
}

void reset_collector(DBCOLLECT_S* d) {
  SFC_reset(d->sfc);
  d->current_asic_bitcnt = 0;
  d->found_preamble = 0;
  d->first_tlm_how_ok = 0;
  d->stored_bit_count = 0;
  d->has_framesync_tow = 0;
  d->databit_buf = {};
  clear_remainder(d);
  d->reset_flag = 1;
}

}  // namespace

void DBC_init() {
  SFC_init();
  Dbc_last_wn = 0;
  Dbc_has_last_wn = 0;
  Dbc_different_wn = 0;
  Dbc_has_different_wn = 0;
  for (std::size_t i = 0; i < Dbc_pool.size(); ++i) {
    Dbc_pool[i] = DBCOLLECT_S{};
    Dbc_pool[i].owner_chan_id = static_cast<S16>(i);
    Dbc_in_use[i] = false;
  }
}

DBCollect_T DBC_new(S16 ch_id) {
  if (ch_id < 0 || ch_id >= NUM_HW_CHANNELS) return nullptr;
  const auto i = static_cast<std::size_t>(ch_id);
  DBCOLLECT_S* d = &Dbc_pool[i];
  d->owner_chan_id = ch_id;
  d->sfc = SFC_new(ch_id);
  Dbc_in_use[i] = true;
  reset_collector(d);
  return d;
}

DBCollect_T DBC_find_reference(S16 ch_id) {
  if (ch_id < 0 || ch_id >= NUM_HW_CHANNELS || !Dbc_in_use[static_cast<std::size_t>(ch_id)]) return nullptr;
  return &Dbc_pool[static_cast<std::size_t>(ch_id)];
}

void DBC_delete(DBCollect_T dbc) {
  if (dbc == nullptr) return;
  SFC_delete(dbc->sfc);
  dbc->sfc = nullptr;
  const S16 id = dbc->owner_chan_id;
  if (id >= 0 && id < NUM_HW_CHANNELS) Dbc_in_use[static_cast<std::size_t>(id)] = false;
}

S16 DBC_get_owner_channel_id(DBCollect_T dbc) {
  if (dbc == nullptr) return -1;
  return dbc->owner_chan_id;
}

void DBC_reset(DBCollect_T dbc) {
  if (dbc != nullptr) reset_collector(dbc);
}

S16 DBC_collect(DBCollect_T dbc, U32 databits, S32 bitcnt) {
  if (dbc == nullptr) return 0;
  DBCOLLECT_S* d = dbc;
  d->current_asic_bitcnt = bitcnt;
  d->reset_flag = 0;
  append_databits(d, databits & DBP_WORD_MASK);
  S16 result = 0;
  // Every pass consumes bits or returns; the bound only guards the loop.
  for (int pass = 0; pass <= BUF_BITS; ++pass) {
    if (!d->found_preamble) {
      clear_reference(d);
      if (!find_preamble(d)) return result;
      d->found_preamble = 1;
      d->first_tlm_how_ok = 0;
    }
    if (!d->first_tlm_how_ok) {
      if (d->stored_bit_count < 2 * BITS_PER_WORD) return result;
      if (!confirm_sync(d)) {
        drop_sync(d);
        continue;
      }
      result = 1;
    }
    if (d->sf_count == 4 && d->ref_sfid != 1 && d->ref_sfid != 5 && d->rm_buf_bit_count >= RM_MIN_BITS) {
      if (d->rm_buf_bit_count > RM_CAP_BITS) d->rm_buf_bit_count = RM_CAP_BITS;
      const int pre_w = (d->rm_buf_bit_count - 2) / BITS_PER_WORD;
      const int cur_w = WORDS_PER_SF - pre_w;
      if (d->stored_bit_count < BITS_PER_SF - BITS_PER_WORD * pre_w) return result;
      const bool rebuilt = process_rmbuf(d, pre_w, cur_w);
      ++d->sf_count;
      if (rebuilt) continue;
    }
    if (d->stored_bit_count < BITS_PER_SF) return result;
    if (slice_subframe(d) == SLICE_RESULT::DONE) return result;
  }
  return result;
}

S16 DBC_get_frame_sync_result(DBCollect_T dbc, S32* tow_p, S32* bitcnt_p) {
  if (dbc == nullptr || !dbc->has_framesync_tow) return 0;
  *tow_p = dbc->fs_tow;
  *bitcnt_p = dbc->fs_bitcnt;
  return 1;
}

void DBC_install_framesync_callback(DBC_callback_T func) { Framesync_callback = func; }
void DBC_install_wn_callback(DBC_WN_CALLBACK_T func) { Wn_callback = func; }
