// Subframe collectors: subframes 1..3 gathered word by word under one IODE,
// pages of subframes 4 and 5 dispatched by SV ID.
#include "kernel/src/sf_collect.h"

#include <array>

#include "kernel/src/dbits_parity.h"
#include "kernel/src/kernel_modules.h"

struct SFCOLLECT_S {
  S16 chan_id;                            // channel id 0..19
  U32 sf123[3][10];                       // stored words of subframes 1, 2, 3 (handed over as is)
  std::array<U16, 3> sf123_valid_flags;   // bit i: word i+1 stored; 0x3FF complete
  U08 iode;                               // IODE the words are gathered under
  S08 has_iode;                           // iode is set
  std::array<U16, 3> sf123_repeat_flags;  // bit i: word i+1 confirmed by a second copy
};

namespace {

constexpr U16 ALL_WORDS = 0x3FF;
constexpr int WORDS_PER_SF = 10;
constexpr U32 TOW_COUNT_SHIFT = 13;  // HOW: TOW count in bits 29..13 (17 bits)
constexpr U32 TOW_COUNT_MASK = 0x1FFFF;
constexpr U32 SVID_SHIFT = 22;  // word 3 of subframes 4/5: SV ID (page ID) in bits 27..22
constexpr U32 SVID_MASK = 0x3F;
constexpr U32 IODE_SHIFT = 22;  // IODE / IODC LSBs: D1..D8, bits 29..22
constexpr U32 IODE_MASK = 0xFF;
constexpr U32 LAST_TWO_BITS = 0x3;
constexpr U32 STAR_SHIFT = 30;

// Expected SV ID of each page 1..25 (data ID excluded).
constexpr std::array<U08, 25> SF4SVID_TBL = {57, 25, 26, 27, 28, 57, 29, 30, 31, 32, 57, 62, 52,
                                             53, 54, 57, 55, 56, 58, 59, 57, 60, 61, 62, 63};
constexpr std::array<U08, 25> SF5SVID_TBL = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13,
                                             14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 51};
constexpr U32 SVID_ALMANAC_MAX = 32;
constexpr U32 SVID_S5P25 = 51;
constexpr U32 SVID_S4P13 = 52;
constexpr U32 SVID_S4P17 = 55;
constexpr U32 SVID_S4P18 = 56;
constexpr U32 SVID_S4P25 = 63;

std::array<SFCOLLECT_S, NUM_HW_CHANNELS> Sfc_pool{};
std::array<bool, NUM_HW_CHANNELS> Sfc_in_use{};

SFC_S123_CALLBACK_T SF123Callback = nullptr;
SFC_PAGE_CALLBACK_T S4P13Callback = nullptr;
SFC_PAGE_CALLBACK_T S4P17Callback = nullptr;
SFC_PAGE_CALLBACK_T S4P18Callback = nullptr;
SFC_PAGE_CALLBACK_T S4P25Callback = nullptr;
SFC_PAGE_CALLBACK_T S5P1_24Callback = nullptr;
SFC_PAGE_CALLBACK_T S5P25Callback = nullptr;
SFC_AIDING_CALLBACK_T AidingCallback = nullptr;

bool word_ok(U16 flags, int i) { return ((flags >> static_cast<unsigned>(i)) & 1u) != 0; }

void clear_collector(SFCOLLECT_S* sfc) {
  sfc->has_iode = 0;
  sfc->iode = 0;
  sfc->sf123_valid_flags = {};
  sfc->sf123_repeat_flags = {};
}

// Index of the word carrying the IODE of subframes 1..3 (subframe 1: the
// IODC LSBs of word 8; 2: word 3; 3: word 10).
int iode_word_index(S16 sfid) {
  constexpr std::array<int, 3> IODE_WORD = {7, 2, 9};
  return IODE_WORD[static_cast<std::size_t>(sfid - 1)];
}

// Both neighbours of word i (0..9) in this reception passed (word 1: word 2;
// word 10: word 9).
bool neighbours_ok(U16 flags, int i) {
  const bool before = i == 0 || word_ok(flags, i - 1);
  const bool after = i == WORDS_PER_SF - 1 || word_ok(flags, i + 1);
  return before && after;
}

void store_word_by_word(SFCOLLECT_S* sfc, std::size_t k, const U32* words, U16 flags, bool eph_ok) {
  U32* stored = sfc->sf123[k];
  U16& valid = sfc->sf123_valid_flags[k];
  U16& repeat = sfc->sf123_repeat_flags[k];
  for (int i = 0; i < WORDS_PER_SF; ++i) {
    if (!word_ok(flags, i)) continue;
    const U16 bit = static_cast<U16>(1u << static_cast<unsigned>(i));
    const U32 w = words[i];
    U32& s = stored[i];
    if ((valid & bit) == 0) {
      if (!eph_ok || neighbours_ok(flags, i)) {
        s = w;
        valid = static_cast<U16>(valid | bit);
      }
    } else if (w == s || w == ~s) {
      repeat = static_cast<U16>(repeat | bit);
    } else if ((repeat & bit) == 0 && neighbours_ok(flags, i)) {
      s = w;
    }
  }
}

// The stored words of a subframe chain together: the last two bits of each
// word are the D29*, D30* of the next (or their complement, the next word then
// taken complemented); the TLM's D29*, D30* and the last two bits of the HOW
// and of word 10 are all 00 or all 11.
bool check_complete_sf(const U32* stored) {
  std::array<U32, 10> w{};
  for (int i = 0; i < WORDS_PER_SF; ++i) w[static_cast<std::size_t>(i)] = stored[i];
  for (int i = 0; i + 1 < WORDS_PER_SF; ++i) {
    const U32 tail = w[static_cast<std::size_t>(i)] & LAST_TWO_BITS;
    U32& next = w[static_cast<std::size_t>(i) + 1];
    const U32 star = next >> STAR_SHIFT;
    if (star == tail) continue;
    if ((star ^ tail) != LAST_TWO_BITS) return false;
    next = ~next;
  }
  const U32 a = w[0] >> STAR_SHIFT;
  const U32 b = w[1] & LAST_TWO_BITS;
  const U32 c = w[9] & LAST_TWO_BITS;
  return a == b && b == c && (a == 0 || a == LAST_TWO_BITS);
}

bool ephemeris_is_valid(S16 chan_id) {
  const S16 prn = CH_get_prn(CH_find_reference(chan_id));
  const EPH_T eph = EPH_get_reference(prn);  // null for a PRN without a record
  return eph != nullptr && EPH_pass_valid_check(eph) != 0;
}

S16 collect_subframe123(SFCOLLECT_S* sfc, S16 sfid, const U32* words, U16 flags) {
  const std::size_t k = static_cast<std::size_t>(sfid - 1);
  const int iw = iode_word_index(sfid);
  const bool iode_ok = word_ok(flags, iw);
  const U08 iode = static_cast<U08>((DBP_polarity_corrected(words[iw]) >> IODE_SHIFT) & IODE_MASK);
  const bool eph_ok = ephemeris_is_valid(sfc->chan_id);
  if (!sfc->has_iode) {
    sfc->sf123_valid_flags = {};
    sfc->sf123_repeat_flags = {};
    if (!iode_ok) return 0;
    sfc->iode = iode;
    sfc->has_iode = 1;
  } else if (iode_ok && iode != sfc->iode) {
    sfc->sf123_valid_flags = {};
    sfc->sf123_repeat_flags = {};
    sfc->iode = iode;
  }
  store_word_by_word(sfc, k, words, flags, eph_ok);
  bool all_complete = true;
  for (std::size_t j = 0; j < 3; ++j) {
    if (sfc->sf123_valid_flags[j] == ALL_WORDS && !check_complete_sf(sfc->sf123[j])) {
      sfc->sf123_valid_flags[j] = 0;
      sfc->sf123_repeat_flags[j] = 0;
    }
    if (sfc->sf123_valid_flags[j] != ALL_WORDS) all_complete = false;
  }
  if (!all_complete) return 0;
  for (auto& sf : sfc->sf123)
    for (U32& w : sf) w = DBP_polarity_corrected(w);
  if (SF123Callback != nullptr) SF123Callback(sfc->chan_id, sfc->sf123);
  sfc->has_iode = 0;
  return 1;
}

void dispatch_page(U32 svid, const U32* w) {
  SFC_PAGE_CALLBACK_T cb = nullptr;
  if (svid >= 1 && svid <= SVID_ALMANAC_MAX)
    cb = S5P1_24Callback;
  else if (svid == SVID_S5P25)
    cb = S5P25Callback;
  else if (svid == SVID_S4P13)
    cb = S4P13Callback;
  else if (svid == SVID_S4P17)
    cb = S4P17Callback;
  else if (svid == SVID_S4P18)
    cb = S4P18Callback;
  else if (svid == SVID_S4P25)
    cb = S4P25Callback;
  if (cb != nullptr) cb(w);
}

S16 collect_subframe45(const SFCOLLECT_S* sfc, S16 sfid, const U32* words, U16 flags) {
  const S16 svid = CH_get_svid(CH_find_reference(sfc->chan_id));
  if (svid >= QZSS_ID_MIN && svid <= QZSS_ID_MAX) return 1;  // QZSS pages are not used
  if (flags != ALL_WORDS) return 0;
  std::array<U32, 10> w{};
  for (int i = 0; i < WORDS_PER_SF; ++i) w[static_cast<std::size_t>(i)] = DBP_polarity_corrected(words[i]);
  const U32 tow_count = (w[1] >> TOW_COUNT_SHIFT) & TOW_COUNT_MASK;
  // Page of a 12.5-minute frame cycle: the TOW count is that of the next subframe.
  constexpr S16 PAGE_OF_TOW_COUNT_0 = 10;
  const S16 page = tow_count == 0 ? PAGE_OF_TOW_COUNT_0 : static_cast<S16>((tow_count - 1) / 5 % 25 + 1);
  const U32 svid_page = (w[2] >> SVID_SHIFT) & SVID_MASK;
  const auto& tbl = sfid == 4 ? SF4SVID_TBL : SF5SVID_TBL;
  if (svid_page == tbl[static_cast<std::size_t>(page - 1)]) dispatch_page(svid_page, w.data());
  if (AidingCallback != nullptr) AidingCallback(sfc->chan_id, page, sfid, w.data());
  return 1;
}

}  // namespace

void SFC_init() {
  for (std::size_t i = 0; i < Sfc_pool.size(); ++i) {
    Sfc_pool[i] = SFCOLLECT_S{};
    Sfc_pool[i].chan_id = static_cast<S16>(i);
    Sfc_in_use[i] = false;
  }
}

SFCollect_T SFC_new(S16 ch_id) {
  if (ch_id < 0 || ch_id >= NUM_HW_CHANNELS) return nullptr;
  const auto i = static_cast<std::size_t>(ch_id);
  Sfc_in_use[i] = true;
  SFCOLLECT_S* sfc = &Sfc_pool[i];
  sfc->chan_id = ch_id;
  clear_collector(sfc);
  return sfc;
}

SFCollect_T SFC_find_reference(S16 ch_id) {
  if (ch_id < 0 || ch_id >= NUM_HW_CHANNELS || !Sfc_in_use[static_cast<std::size_t>(ch_id)]) return nullptr;
  return &Sfc_pool[static_cast<std::size_t>(ch_id)];
}

void SFC_delete(SFCollect_T sfc) {
  if (sfc == nullptr) return;
  const S16 id = sfc->chan_id;
  if (id >= 0 && id < NUM_HW_CHANNELS) Sfc_in_use[static_cast<std::size_t>(id)] = false;
}

S16 SFC_get_owner_channel_id(SFCollect_T sfc) {
  if (sfc == nullptr) return -1;
  return sfc->chan_id;
}

void SFC_reset(SFCollect_T sfc) {
  if (sfc != nullptr) clear_collector(sfc);
}

void SFC_remove_stored_data(SFCollect_T sfc) {
  if (sfc != nullptr) sfc->has_iode = 0;
}

U08 SFC_get_iode_from_sub123(S16 sfid, const U32* words, U16 valid_flags) {
  if (words == nullptr || sfid < 1 || sfid > 3) return 0;
  const int iw = iode_word_index(sfid);
  if (!word_ok(valid_flags, iw)) return 0;
  return static_cast<U08>((DBP_polarity_corrected(words[iw]) >> IODE_SHIFT) & IODE_MASK);
}

S16 SFC_collect(SFCollect_T sfc, S16 sfid, const U32* words, U16 valid_flags) {
  if (sfc == nullptr || words == nullptr || sfid < 1 || sfid > 5) return 0;
  if (sfid <= 3) return collect_subframe123(sfc, sfid, words, valid_flags);
  return collect_subframe45(sfc, sfid, words, valid_flags);
}

void SFC_install_callback_s1s2s3(SFC_S123_CALLBACK_T func) { SF123Callback = func; }
void SFC_install_callback_s4_p13(SFC_PAGE_CALLBACK_T func) { S4P13Callback = func; }
void SFC_install_callback_s4_p17(SFC_PAGE_CALLBACK_T func) { S4P17Callback = func; }
void SFC_install_callback_s4_p18(SFC_PAGE_CALLBACK_T func) { S4P18Callback = func; }
void SFC_install_callback_s4_p25(SFC_PAGE_CALLBACK_T func) { S4P25Callback = func; }
void SFC_install_callback_s5_p1_24(SFC_PAGE_CALLBACK_T func) { S5P1_24Callback = func; }
void SFC_install_callback_s5_p25(SFC_PAGE_CALLBACK_T func) { S5P25Callback = func; }
void SFC_install_callback_aiding(SFC_AIDING_CALLBACK_T func) { AidingCallback = func; }
