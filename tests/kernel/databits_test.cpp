// GPS data bits: word parity (IS-GPS-200 Table 20-XIV), frame sync from the
// preamble and HOW, subframe slicing, the remainder combination, subframe
// collection and dispatch, bit-count handlers. Streams are encoded by the
// test's own encoder (gps_nav_encoder.h) from known source data.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "kernel/src/bitcount_handler.h"
#include "kernel/src/dbits_collect.h"
#include "kernel/src/dbits_parity.h"
#include "kernel/src/sf_collect.h"
#include "tests/kernel/gps_nav_encoder.h"

namespace {

using gpsenc::U32;

// --- parity ----------------------------------------------------------------------------

struct ParityCase {
  const char* name;
  U32 data24;  // source data d1..d24
  int d29s, d30s;
  U32 parity;  // D25..D30 read off Table 20-XIV by hand
};

// Known answers: with all source data 0 each parity bit is the D29* or D30*
// it includes (D25, D27, D30 take D29*; D26, D28, D29 take D30*); a single
// d1 enters D25, D27, D29; d24 enters D26, D29, D30.
const ParityCase PARITY_CASES[] = {
    {"zero_data_zero_stars", 0x000000, 0, 0, 0x00},
    {"zero_data_d29star", 0x000000, 1, 0, 0x29},
    {"zero_data_d30star", 0x000000, 0, 1, 0x16},
    {"zero_data_both_stars", 0x000000, 1, 1, 0x3F},
    {"d1_only", 0x800000, 0, 0, 0x2A},
    {"d24_only", 0x000001, 0, 0, 0x13},
};

TEST(DataBitParity, KnownAnswers) {
  for (const ParityCase& c : PARITY_CASES) {
    SCOPED_TRACE(c.name);
    const U32 w30 = gpsenc::encode_word(c.data24, c.d29s, c.d30s);
    EXPECT_EQ(w30 & 0x3Fu, c.parity);
    const U32 w = gpsenc::with_stars(w30, c.d29s, c.d30s);
    EXPECT_EQ(DBP_compute_parity(w), c.parity);
    EXPECT_EQ(DBP_check_dataword_parity(w), 1);
  }
}

TEST(DataBitParity, AgreesWithTheBitwiseEquationsOnManyWords) {
  gpsenc::Lcg rng{12345};
  for (int n = 0; n < 2000; ++n) {
    const U32 data = rng.next() & 0xFFFFFFu;
    const int stars = n % 4;
    const int d29s = stars >> 1;
    const int d30s = stars & 1;
    const U32 w = gpsenc::with_stars(gpsenc::encode_word(data, d29s, d30s), d29s, d30s);
    ASSERT_EQ(DBP_compute_parity(w), w & 0x3Fu) << "word " << n;
    ASSERT_EQ(DBP_check_dataword_parity(w), 1) << "word " << n;
  }
}

TEST(DataBitParity, EverySingleBitErrorIsDetected) {
  gpsenc::Lcg rng{777};
  for (int n = 0; n < 64; ++n) {
    const int d29s = (n >> 1) & 1;
    const int d30s = n & 1;
    const U32 w = gpsenc::with_stars(gpsenc::encode_word(rng.next() & 0xFFFFFFu, d29s, d30s), d29s, d30s);
    for (int bit = 0; bit < 32; ++bit)
      EXPECT_EQ(DBP_check_dataword_parity(w ^ (1u << bit)), 0) << "word " << n << " bit " << bit;
  }
}

TEST(DataBitParity, D30StarInvertsTheDataAndCorrectionUndoesIt) {
  gpsenc::Lcg rng{99};
  for (int n = 0; n < 200; ++n) {
    const U32 data = rng.next() & 0xFFFFFFu;
    for (int d29s = 0; d29s < 2; ++d29s) {
      const U32 normal = gpsenc::encode_word(data, d29s, 0);
      const U32 inverted = gpsenc::encode_word(data, d29s, 1);
      EXPECT_EQ((normal ^ inverted) >> 6, 0xFFFFFFu);  // D1..D24 complemented
      const U32 w = gpsenc::with_stars(inverted, d29s, 1);
      const U32 c = DBP_polarity_corrected(w);
      EXPECT_EQ((c >> 6) & 0xFFFFFFu, data);
      EXPECT_EQ(c & 0x40000000u, 0u);
      EXPECT_EQ(DBP_check_dataword_parity(c), 1);
      // The whole word received inverted (180-degree lock) also passes.
      EXPECT_EQ(DBP_check_dataword_parity(~w), 1);
      EXPECT_EQ((DBP_polarity_corrected(~w) >> 6) & 0xFFFFFFu, data);
    }
  }
}

// --- streams ---------------------------------------------------------------------------

constexpr U32 IODE = 0x5A;
constexpr U32 WN10 = 2400 % 1024;

constexpr std::array<U32, 25> SF4_SVID = {57, 25, 26, 27, 28, 57, 29, 30, 31, 32, 57, 62, 52,
                                          53, 54, 57, 55, 56, 58, 59, 57, 60, 61, 62, 63};

// Frames from TOW count t0 (a multiple of 5: subframe 1 of the first frame
// starts at t0 x 6 s), n_frames frames, all under one IODE and week.
gpsenc::Encoded make_frames(U32 t0, int n_frames, U32 wn10 = WN10, U32 iode = IODE, std::uint64_t seed = 1) {
  gpsenc::Lcg rng{seed};
  gpsenc::Encoded e;
  for (int f = 0; f < n_frames; ++f) {
    const U32 t = (t0 + 5u * static_cast<U32>(f)) % 100800u;
    const U32 page = (t / 5u) % 25u + 1u;
    for (int sfid = 1; sfid <= 5; ++sfid) {
      const U32 svid = sfid == 4 ? SF4_SVID[page - 1] : (page == 25 ? 51u : page);
      // Subframes 1..3 repeat every frame with the same data: reseed per frame.
      gpsenc::Lcg r = sfid <= 3 ? gpsenc::Lcg{seed * 31u + static_cast<U32>(sfid)} : rng;
      const gpsenc::Subframe s =
          gpsenc::make_subframe(sfid, (t + static_cast<U32>(sfid)) % 100800u, wn10, iode, svid, r);
      if (sfid > 3) rng = r;
      gpsenc::append_subframe(e, s);
    }
  }
  return e;
}

struct Events {
  std::size_t at = 0;                           // stream bit position after the batch being fed
  std::vector<std::size_t> sf123_at;            // position of each subframes 1..3 delivery
  std::vector<std::size_t> framesync_at;        // position of each frame sync
  std::vector<std::pair<S32, S32>> framesyncs;  // tow, bitcnt
  std::vector<U16> weeks;
  std::vector<std::array<std::array<U32, 10>, 3>> sf123;
  std::vector<std::pair<int, std::array<U32, 10>>> pages;  // svid kind, words
};
Events Ev;

void on_framesync(DBCollect_T, S32 tow, S32 bitcnt) {
  Ev.framesyncs.emplace_back(tow, bitcnt);
  Ev.framesync_at.push_back(Ev.at);
}
void on_wn(U16 wn) { Ev.weeks.push_back(wn); }
void on_sf123(S16, const U32 (*w)[10]) {
  std::array<std::array<U32, 10>, 3> a{};
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < 10; ++i) a[static_cast<std::size_t>(k)][static_cast<std::size_t>(i)] = w[k][i];
  Ev.sf123.push_back(a);
  Ev.sf123_at.push_back(Ev.at);
}
template <int KIND>
void on_page(const U32* w) {
  std::array<U32, 10> a{};
  for (int i = 0; i < 10; ++i) a[static_cast<std::size_t>(i)] = w[i];
  Ev.pages.emplace_back(KIND, a);
}

int Aiding_pages = 0;
void on_aiding(S16, S16, S16, const U32*) { ++Aiding_pages; }

class DataBits : public ::testing::Test {
 protected:
  void SetUp() override {
    Ev = Events{};
    Aiding_pages = 0;
    DBC_init();
    BC_init();
    DBC_install_framesync_callback(on_framesync);
    DBC_install_wn_callback(on_wn);
    SFC_install_callback_s1s2s3(on_sf123);
    SFC_install_callback_s5_p1_24(on_page<1>);
    SFC_install_callback_s4_p18(on_page<18>);
    SFC_install_callback_s4_p25(on_page<425>);
    SFC_install_callback_s5_p25(on_page<525>);
    SFC_install_callback_aiding(on_aiding);
    dbc = DBC_new(3);
  }
  void TearDown() override {
    DBC_install_framesync_callback(nullptr);
    DBC_install_wn_callback(nullptr);
    SFC_install_callback_s1s2s3(nullptr);
    SFC_install_callback_s5_p1_24(nullptr);
    SFC_install_callback_s4_p18(nullptr);
    SFC_install_callback_s4_p25(nullptr);
    SFC_install_callback_s5_p25(nullptr);
    SFC_install_callback_aiding(nullptr);
    DBC_init();
  }
  // Feed bits [from, to) in batches of 30; bit j has track bit count base + j.
  // Returns the number of batches that reported a frame sync.
  int feed(const std::vector<int>& bits, std::size_t from, std::size_t to, S32 base = 1000) {
    int syncs = 0;
    for (std::size_t j = from; j + 30 <= to && j + 30 <= bits.size(); j += 30) {
      U32 v = 0;
      for (std::size_t k = 0; k < 30; ++k) v = (v << 1) | static_cast<U32>(bits[j + k]);
      Ev.at = j + 30;
      syncs += DBC_collect(dbc, v, base + static_cast<S32>(j + 30));
    }
    return syncs;
  }
  DBCollect_T dbc = nullptr;
};

// Every subframe 1..3 handed over equals the encoder's words of that subframe
// in one of the frames sent (only the HOW, with its TOW count, differs from
// frame to frame), polarity corrected: the source data in bits 29..6, parity
// passing.
void expect_sf123_is_truth(const std::array<std::array<U32, 10>, 3>& got, const gpsenc::Encoded& e) {
  const std::size_t n_frames = e.words.size() / 50;
  for (std::size_t k = 0; k < 3; ++k)
    for (std::size_t i = 0; i < 10; ++i) {
      const U32 g = got[k][i];
      EXPECT_EQ(DBP_check_dataword_parity(g), 1) << "subframe " << k + 1 << " word " << i + 1;
      bool found = false;
      for (std::size_t f = 0; f < n_frames && !found; ++f) {
        const std::size_t at = 50 * f + 10 * k + i;
        found = (g & 0x3FFFFFFFu) == (gpsenc::corrected(e.words[at]) & 0x3FFFFFFFu) &&
                ((g >> 6) & 0xFFFFFFu) == e.source[at];
      }
      EXPECT_TRUE(found) << "subframe " << k + 1 << " word " << i + 1 << " = " << std::hex << g;
    }
}

struct SyncCase {
  const char* name;
  U32 t0;         // TOW count of the first frame
  int start_bit;  // first bit fed (into the first frame)
  int sync_bit;   // first bit of the subframe whose preamble gives the sync
};
void PrintTo(const SyncCase& c, std::ostream* os) { *os << c.name; }

// Each case upright and inverted (180-degree lock).
class DataBitsSync : public DataBits, public ::testing::WithParamInterface<std::tuple<SyncCase, bool>> {};

TEST_P(DataBitsSync, FrameSyncAndSubframes123BitIdentical) {
  const auto& [c, inverted] = GetParam();
  const gpsenc::Encoded e = make_frames(c.t0, 4);
  const std::vector<int> bits = gpsenc::bits_of(e, inverted);
  const int syncs = feed(bits, static_cast<std::size_t>(c.start_bit), bits.size());
  ASSERT_GE(syncs, 1);
  ASSERT_FALSE(Ev.framesyncs.empty());
  // The first sync: the subframe after the start bit, its time of week and bit count.
  const S32 tow = static_cast<S32>(c.t0) * 6 + 6 * (c.sync_bit / 300);
  EXPECT_EQ(Ev.framesyncs[0].first, tow % 604800);
  EXPECT_EQ(Ev.framesyncs[0].second, 1000 + c.sync_bit);
  S32 fs_tow = 0;
  S32 fs_bitcnt = 0;
  ASSERT_EQ(DBC_get_frame_sync_result(dbc, &fs_tow, &fs_bitcnt), 1);
  // Subframes 1..3 arrive, bit-identical to the encoder's source, in either polarity.
  ASSERT_FALSE(Ev.sf123.empty());
  for (const auto& s : Ev.sf123) expect_sf123_is_truth(s, e);
  // The week of subframe 1, on its first sighting.
  ASSERT_FALSE(Ev.weeks.empty());
  EXPECT_EQ(Ev.weeks[0], WN10);
}

INSTANTIATE_TEST_SUITE_P(DataBits, DataBitsSync,
                         ::testing::Combine(::testing::Values(SyncCase{"start_of_subframe1", 1000, 0, 300},
                                                              SyncCase{"mid_subframe1", 1000, 137, 300},
                                                              SyncCase{"mid_subframe3", 2005, 617, 900},
                                                              SyncCase{"subframe5", 50, 1201, 1500},
                                                              SyncCase{"week_start", 0, 11, 300},
                                                              SyncCase{"how_tow_count_0", 100795, 955, 1200}),
                                            ::testing::Bool()),
                         [](const auto& i) {
                           return std::string(std::get<0>(i.param).name) +
                                  (std::get<1>(i.param) ? "_inverted" : "_upright");
                         });

}  // namespace

namespace {

// --- remainder combination ------------------------------------------------------------------

struct RemainderCase {
  const char* name;
  int start_bit;            // first bit fed, in the first frame (sync on the next subframe)
  std::size_t first_sf123;  // stream position at which subframes 1..3 are first complete
};
void PrintTo(const RemainderCase& c, std::ostream* os) { *os << c.name; }

// A preamble pattern (D1..D8 = 10001011, complemented after a 1) at a bit
// after `from` and before the next subframe start.
bool false_preamble_between(const std::vector<int>& bits, std::size_t from) {
  const std::size_t to = (from / 300 + 1) * 300;
  for (std::size_t p = from + 1; p < to; ++p) {
    int v = 0;
    for (std::size_t k = 0; k < 8; ++k) v = (v << 1) | bits[p + k];
    if (bits[p - 1] != 0) v ^= 0xFF;
    if (v == 0x8B) return true;
  }
  return false;
}

// The first stream make(seed), seed 1, 2, ..., without a false preamble
// between start_bit and the sync (it would restart the remainder there).
template <typename Make>
void clean_stream(Make make, bool inverted, int start_bit, gpsenc::Encoded* e, std::vector<int>* bits) {
  for (std::uint64_t seed = 1; seed < 1000; ++seed) {
    *e = make(seed);
    *bits = gpsenc::bits_of(*e, inverted);
    if (!false_preamble_between(*bits, static_cast<std::size_t>(start_bit))) return;
  }
  FAIL() << "no stream without a false preamble";
}

class DataBitsRemainder : public DataBits, public ::testing::WithParamInterface<RemainderCase> {};

// The subframe cut by the sync is rebuilt from the bits before the preamble
// and the head of its next copy: subframes 1..3 complete (cur_w words of the
// next copy) before a whole new copy has arrived.
TEST_P(DataBitsRemainder, RebuildsTheCutSubframeEarly) {
  const RemainderCase& c = GetParam();
  for (const bool inverted : {false, true}) {
    SCOPED_TRACE(inverted ? "inverted" : "upright");
    Ev = Events{};
    DBC_reset(dbc);
    gpsenc::Encoded e;
    std::vector<int> bits;
    ASSERT_NO_FATAL_FAILURE(clean_stream([](std::uint64_t seed) { return make_frames(1000, 3, WN10, IODE, seed); },
                                         inverted, c.start_bit, &e, &bits));
    feed(bits, static_cast<std::size_t>(c.start_bit), bits.size());
    ASSERT_FALSE(Ev.sf123.empty());
    EXPECT_EQ(Ev.sf123_at[0], c.first_sf123);
    for (const auto& sf : Ev.sf123) expect_sf123_is_truth(sf, e);
  }
}

// Sync on subframe 2 (start in subframe 1 at s): 300 - s bits passed through
// the remainder (at most 272 kept: 9 words + 2 bits), pre_w = (n - 2) / 30
// words, the rebuilt subframe 1 needs 10 - pre_w words of its next copy
// (from bit 1500). Without the combination subframe 1 arrives whole at 1800.
INSTANTIATE_TEST_SUITE_P(DataBits, DataBitsRemainder,
                         ::testing::Values(RemainderCase{"sync_sf2_remainder_at_its_cap_one_new_word", 0, 1530},
                                           RemainderCase{"sync_sf2_six_old_words", 100, 1630},
                                           RemainderCase{"sync_sf2_three_old_words_too_few", 200, 1820},
                                           RemainderCase{"sync_sf3_rebuilds_sf2", 400, 1930},
                                           RemainderCase{"sync_sf4_rebuilds_sf3", 700, 2230},
                                           RemainderCase{"sync_sf1_never_combines", 1250, 2420},
                                           RemainderCase{"remainder_below_32_bits", 280, 1810}),
                         [](const ::testing::TestParamInfo<RemainderCase>& i) { return std::string(i.param.name); });

// Frames from TOW count t0 to the end of the week with week wn10, then frames
// of the next week with wn10 + 1 (each week's own subframe-1 week number).
gpsenc::Encoded make_frames_across_week(U32 t0, int n_frames, U32 wn10, std::uint64_t seed) {
  gpsenc::Encoded e;
  for (int f = 0; f < n_frames; ++f) {
    const U32 t = (t0 + 5u * static_cast<U32>(f)) % 100800u;
    const U32 wn = t >= t0 ? wn10 : (wn10 + 1u) % 1024u;
    const U32 page = (t / 5u) % 25u + 1u;
    for (int sfid = 1; sfid <= 5; ++sfid) {
      const U32 svid = sfid == 4 ? SF4_SVID[page - 1] : (page == 25 ? 51u : page);
      gpsenc::Lcg r{seed * 31u + static_cast<U32>(sfid) + 7u * static_cast<U32>(f)};
      gpsenc::append_subframe(e,
                              gpsenc::make_subframe(sfid, (t + static_cast<U32>(sfid)) % 100800u, wn, IODE, svid, r));
    }
  }
  return e;
}

class DataBitsWeekEnd : public DataBits, public ::testing::WithParamInterface<int> {};

// Sync on subframe 2 of the last frame of a week: the subframe 1 cut by the
// sync is not rebuilt from the copy of the next frame, which is sent in the
// next week with the next week number (the old words would hand on the week
// before with the new week's time). Subframe 1 then arrives whole, and the
// only week number seen is the new week's.
TEST_P(DataBitsWeekEnd, NoSubframe1RebuiltAcrossTheWeekStart) {
  const int start_bit = GetParam();
  for (const bool inverted : {false, true}) {
    SCOPED_TRACE(inverted ? "inverted" : "upright");
    Ev = Events{};
    DBC_init();
    BC_init();
    dbc = DBC_new(3);
    gpsenc::Encoded e;
    std::vector<int> bits;
    ASSERT_NO_FATAL_FAILURE(
        clean_stream([](std::uint64_t seed) { return make_frames_across_week(100795, 3, WN10, seed); }, inverted,
                     start_bit, &e, &bits));
    feed(bits, static_cast<std::size_t>(start_bit), bits.size());
    ASSERT_FALSE(Ev.sf123.empty());
    for (const auto& sf : Ev.sf123) {
      // Subframe 1 as one copy: its HOW's time and its week from the same week.
      const U32 how_count = (gpsenc::corrected(sf[0][1]) >> 13) & 0x1FFFFu;
      const U32 wn = (gpsenc::corrected(sf[0][2]) >> 20) & 0x3FFu;
      EXPECT_EQ(wn, how_count == 100796u ? WN10 : WN10 + 1u) << "HOW count " << how_count;
      expect_sf123_is_truth(sf, e);
    }
    for (const U16 w : Ev.weeks) EXPECT_EQ(w, WN10 + 1u);
  }
}

// Start bits in subframe 1 of the last frame: 9, 8 and 7 old words in the remainder.
INSTANTIATE_TEST_SUITE_P(DataBits, DataBitsWeekEnd, ::testing::Values(0, 20, 50));

// --- corrupted streams ----------------------------------------------------------------------

enum class Damage { FLIP, DROP_BATCHES, INVERT_FROM };
struct CorruptCase {
  const char* name;
  Damage kind;
  std::vector<std::size_t> at;  // FLIP: bit positions; DROP_BATCHES: first bit of each lost batch; INVERT_FROM: start
};
void PrintTo(const CorruptCase& c, std::ostream* os) { *os << c.name; }

// Bit positions first, first + step, ... (n of them).
std::vector<std::size_t> every(std::size_t first, std::size_t step, std::size_t n) {
  std::vector<std::size_t> v;
  for (std::size_t k = 0; k < n; ++k) v.push_back(first + step * k);
  return v;
}

class DataBitsCorrupt : public DataBits, public ::testing::WithParamInterface<CorruptCase> {};

// Whatever the damage, subframes 1..3 and pages handed on are the encoder's
// words (no word failing parity reaches a decoder), and the collector syncs
// again and delivers subframes 1..3 after the damage.
TEST_P(DataBitsCorrupt, NoBadWordReachesTheDecodersAndSyncRecovers) {
  const CorruptCase& c = GetParam();
  const gpsenc::Encoded e = make_frames(2000, 8);
  std::vector<int> bits = gpsenc::bits_of(e, false);
  std::size_t last_damage = 0;
  if (c.kind == Damage::FLIP) {
    for (const std::size_t p : c.at) bits[p] ^= 1;
    last_damage = c.at.back();
  } else if (c.kind == Damage::DROP_BATCHES) {
    // Batches run from bit 5 (the first batch fed); remove whole batches.
    for (auto it = c.at.rbegin(); it != c.at.rend(); ++it)
      bits.erase(bits.begin() + static_cast<std::ptrdiff_t>(*it), bits.begin() + static_cast<std::ptrdiff_t>(*it + 30));
    last_damage = c.at.back();
  } else {
    for (std::size_t p = c.at[0]; p < bits.size(); ++p) bits[p] ^= 1;
    last_damage = c.at[0];
  }
  feed(bits, 5, bits.size());
  for (const auto& sf : Ev.sf123) expect_sf123_is_truth(sf, e);
  // Pages: each equals a subframe 4 or 5 of the stream, corrected.
  for (const auto& [kind, w] : Ev.pages) {
    bool found = false;
    for (std::size_t sf = 3; sf < e.words.size() / 10 && !found; sf += (sf % 5 == 3 ? 1 : 4)) {
      bool same = true;
      for (std::size_t i = 0; i < 10; ++i) same = same && w[i] == gpsenc::corrected(e.words[10 * sf + i]);
      found = same;
    }
    EXPECT_TRUE(found) << "page kind " << kind;
  }
  // Recovery: subframes 1..3 again after the damage.
  ASSERT_FALSE(Ev.sf123_at.empty());
  EXPECT_GT(Ev.sf123_at.back(), last_damage + 300);
}

INSTANTIATE_TEST_SUITE_P(
    DataBits, DataBitsCorrupt,
    ::testing::Values(CorruptCase{"flip_tlm_of_sf3", Damage::FLIP, {1500 + 600 + 12}},
                      CorruptCase{"flip_how_tow", Damage::FLIP, {3000 + 300 + 30 + 3}},
                      CorruptCase{"flip_week_word", Damage::FLIP, {3000 + 60 + 4}},
                      CorruptCase{"flip_parity_bits", Damage::FLIP, {1500 + 90 + 26, 1500 + 390 + 29, 1500 + 690 + 25}},
                      CorruptCase{"flip_d30_of_every_word_of_a_frame", Damage::FLIP, every(3029, 30, 14)},
                      CorruptCase{"burst_of_40_bits", Damage::FLIP, every(4500, 1, 40)},
                      CorruptCase{"one_lost_batch", Damage::DROP_BATCHES, {2405}},
                      CorruptCase{"three_lost_batches", Damage::DROP_BATCHES, {2405, 3005, 4505}},
                      CorruptCase{"polarity_change_mid_word", Damage::INVERT_FROM, {4217}},
                      CorruptCase{"polarity_change_at_subframe_start", Damage::INVERT_FROM, {4500}}),
    [](const ::testing::TestParamInfo<CorruptCase>& i) { return std::string(i.param.name); });

// --- sync refusals and drops ----------------------------------------------------------------

// A stream of hand-built subframes: id, HOW TOW count.
gpsenc::Encoded custom_stream(const std::vector<std::pair<int, U32>>& sfs) {
  gpsenc::Encoded e;
  gpsenc::Lcg rng{5};
  for (const auto& [sfid, count] : sfs)
    gpsenc::append_subframe(e, gpsenc::make_subframe(sfid, count, WN10, IODE, 1, rng));
  return e;
}

struct RefuseCase {
  const char* name;
  std::vector<std::pair<int, U32>> subframes;
  std::size_t framesyncs;
};
void PrintTo(const RefuseCase& c, std::ostream* os) { *os << c.name; }
class DataBitsRefuse : public DataBits, public ::testing::WithParamInterface<RefuseCase> {};

TEST_P(DataBitsRefuse, HowDecidesTheSync) {
  const RefuseCase& c = GetParam();
  const gpsenc::Encoded e = custom_stream(c.subframes);
  const std::vector<int> bits = gpsenc::bits_of(e, false);
  feed(bits, 0, bits.size());
  EXPECT_EQ(Ev.framesyncs.size(), c.framesyncs);
}

INSTANTIATE_TEST_SUITE_P(DataBits, DataBitsRefuse,
                         ::testing::Values(RefuseCase{"consistent", {{1, 1}, {2, 2}, {3, 3}}, 1},
                                           RefuseCase{"tow_count_100800", {{1, 1}, {2, 100801}, {3, 100802}}, 0},
                                           RefuseCase{"sfid_does_not_match_count", {{1, 1}, {3, 2}, {4, 3}}, 0}),
                         [](const ::testing::TestParamInfo<RefuseCase>& i) { return std::string(i.param.name); });

struct UncheckedCase {
  const char* name;
  int unchecked;  // subframes after the first whose TLM and HOW fail parity
  std::size_t framesyncs;
};
void PrintTo(const UncheckedCase& c, std::ostream* os) { *os << c.name; }
class DataBitsUnchecked : public DataBits, public ::testing::WithParamInterface<UncheckedCase> {};

// Ten subframes after the sync in which neither the preamble nor the HOW could
// be checked drop the sync; nine do not.
TEST_P(DataBitsUnchecked, TenUncheckedSubframesDropTheSync) {
  const UncheckedCase& c = GetParam();
  const gpsenc::Encoded e = make_frames(3000, 5);
  std::vector<int> bits = gpsenc::bits_of(e, false);
  // Sync on subframe 1 of frame 1 (bit 1500); damage D25 of TLM and HOW of the next subframes.
  for (int k = 1; k <= c.unchecked; ++k) {
    const std::size_t sf = 1500 + 300 * static_cast<std::size_t>(k);
    bits[sf + 24] ^= 1;
    bits[sf + 30 + 24] ^= 1;
  }
  feed(bits, 1205, bits.size());
  EXPECT_EQ(Ev.framesyncs.size(), c.framesyncs);
}

INSTANTIATE_TEST_SUITE_P(DataBits, DataBitsUnchecked,
                         ::testing::Values(UncheckedCase{"nine_keep_the_sync", 9, 1},
                                           UncheckedCase{"ten_drop_the_sync", 10, 2}),
                         [](const ::testing::TestParamInfo<UncheckedCase>& i) { return std::string(i.param.name); });

// --- week number and pages --------------------------------------------------------------------

TEST_F(DataBits, AWeekChangeIsBelievedOnItsSecondSighting) {
  gpsenc::Encoded e = make_frames(600, 3, 100);
  const gpsenc::Encoded later = make_frames(615, 3, 101);
  // Frames 4..6 carry week 101 (continuing the chain: re-encode them after frame 3).
  gpsenc::Encoded all;
  for (std::size_t sf = 0; sf < 15; ++sf) {
    gpsenc::Subframe s{};
    for (std::size_t i = 0; i < 10; ++i) s[i] = e.source[10 * sf + i];
    gpsenc::append_subframe(all, s);
  }
  for (std::size_t sf = 0; sf < 15; ++sf) {
    gpsenc::Subframe s{};
    for (std::size_t i = 0; i < 10; ++i) s[i] = later.source[10 * sf + i];
    gpsenc::append_subframe(all, s);
  }
  const std::vector<int> bits = gpsenc::bits_of(all, false);
  feed(bits, 1250, bits.size());
  // Subframe 1 seen in frames 2..6: 100, 100, (101 refused once), 101, 101.
  EXPECT_EQ(Ev.weeks, (std::vector<U16>{100, 100, 101, 101}));
}

TEST_F(DataBits, PagesGoToTheirCallbacksBySvId) {
  const gpsenc::Encoded e = make_frames(0, 25);
  const std::vector<int> bits = gpsenc::bits_of(e, true);
  feed(bits, 0, bits.size());
  int almanac = 0;
  int p18 = 0;
  int s4p25 = 0;
  int s5p25 = 0;
  for (const auto& [kind, w] : Ev.pages) {
    almanac += kind == 1 ? 1 : 0;
    p18 += kind == 18 ? 1 : 0;
    s4p25 += kind == 425 ? 1 : 0;
    s5p25 += kind == 525 ? 1 : 0;
  }
  // 25 frames: subframe 5 pages 1..24 and subframe 4 pages 2-5, 7-10 (SV 25..32) are almanacs.
  EXPECT_EQ(almanac, 32);
  EXPECT_EQ(p18, 1);
  EXPECT_EQ(s4p25, 1);
  EXPECT_EQ(s5p25, 1);
  EXPECT_EQ(Aiding_pages, 50);
}

// The last subframe 5 of the week carries HOW TOW count 0: it is page 10.
TEST_F(DataBits, TowCountZeroIsPage10) {
  const gpsenc::Encoded e = make_frames(100790, 2);
  const std::vector<int> bits = gpsenc::bits_of(e, false);
  feed(bits, 0, bits.size());
  bool seen = false;
  for (const auto& [kind, w] : Ev.pages) {
    const U32 tow_count = (w[1] >> 13) & 0x1FFFFu;
    const U32 svid = (w[2] >> 22) & 0x3Fu;
    if (tow_count == 0) {
      EXPECT_EQ(kind, 1);
      EXPECT_EQ(svid, 10u);
      seen = true;
    }
  }
  EXPECT_TRUE(seen);
}

TEST_F(DataBits, APageWhoseSvIdDoesNotMatchItsPageIsNotDispatched) {
  gpsenc::Encoded e;
  gpsenc::Lcg rng{3};
  // TOW count 94 -> page (93 / 5) % 25 + 1 = 19 of subframe 4 (SV ID 58): send SV ID 56 instead.
  gpsenc::append_subframe(e, gpsenc::make_subframe(3, 93, WN10, IODE, 0, rng));
  gpsenc::append_subframe(e, gpsenc::make_subframe(4, 94, WN10, IODE, 56, rng));
  gpsenc::append_subframe(e, gpsenc::make_subframe(5, 95, WN10, IODE, 19, rng));
  gpsenc::append_subframe(e, gpsenc::make_subframe(1, 96, WN10, IODE, 0, rng));
  const std::vector<int> bits = gpsenc::bits_of(e, false);
  feed(bits, 0, bits.size());
  ASSERT_EQ(Ev.framesyncs.size(), 1u);
  ASSERT_EQ(Ev.pages.size(), 1u);  // only subframe 5 page 19 (SV ID 19)
  EXPECT_EQ(Ev.pages[0].first, 1);
  EXPECT_EQ(Aiding_pages, 2);
}

// --- null handles and identities ------------------------------------------------------------

TEST(DataBitsNull, EveryOperationAcceptsANullHandle) {
  DBC_init();
  BC_init();
  S32 a = 7;
  S32 b = 7;
  EXPECT_EQ(DBC_get_owner_channel_id(nullptr), -1);
  EXPECT_EQ(DBC_collect(nullptr, 0x22C00000u, 30), 0);
  EXPECT_EQ(DBC_get_frame_sync_result(nullptr, &a, &b), 0);
  DBC_reset(nullptr);
  DBC_delete(nullptr);
  EXPECT_EQ(DBC_new(-1), nullptr);
  EXPECT_EQ(DBC_new(20), nullptr);
  EXPECT_EQ(DBC_find_reference(5), nullptr);  // not in use
  EXPECT_EQ(SFC_get_owner_channel_id(nullptr), -1);
  const std::array<U32, 10> w{};
  EXPECT_EQ(SFC_collect(nullptr, 1, w.data(), 0x3FF), 0);
  SFC_reset(nullptr);
  SFC_remove_stored_data(nullptr);
  SFC_delete(nullptr);
  EXPECT_EQ(BC_find_reference(-1), nullptr);
  EXPECT_EQ(BC_find_reference(20), nullptr);
  BC_reset(nullptr);
  EXPECT_EQ(BC_frame_sync(nullptr, 10, GNSS_TYPE_GPS, 1, 0), 0);
  EXPECT_EQ(BC_update_dbits_bitcnt(nullptr, GNSS_TYPE_GPS, 1, 0, 0), 0);
  EXPECT_EQ(BC_update_meas_track_bitcnt(nullptr, GNSS_TYPE_GPS, 1, 0, 0), 0);
  EXPECT_EQ(BC_convert_track_bitcnt_to_abs_bitcnt(nullptr, 1, &a), 0);
  EXPECT_EQ(BC_convert_abs_bitcnt_to_track_bitcnt(nullptr, 1, &a), 0);
  EXPECT_EQ(BC_get_gnss_type(nullptr), GNSS_TYPE_NONE);
  EXPECT_EQ(BC_get_signal_id(nullptr), 0);
  EXPECT_EQ(BC_get_track_issue_id(nullptr), 0);
  EXPECT_EQ(BC_get_bitcnt0(nullptr), 0);
  EXPECT_EQ(BC_get_abs_bitcnt_of_dbits(nullptr), 0);
  EXPECT_EQ(BC_get_abs_bitcnt_of_measurement(nullptr), 0);
  EXPECT_EQ(BC_has_frame_sync(nullptr), 0);
  EXPECT_EQ(a, 7);
  EXPECT_EQ(b, 7);
  // A collector in use is found; deleted, it is not.
  const DBCollect_T d = DBC_new(5);
  EXPECT_EQ(DBC_find_reference(5), d);
  EXPECT_EQ(DBC_get_owner_channel_id(d), 5);
  EXPECT_EQ(SFC_get_owner_channel_id(SFC_find_reference(5)), 5);
  DBC_delete(d);
  EXPECT_EQ(DBC_find_reference(5), nullptr);
  EXPECT_EQ(SFC_find_reference(5), nullptr);
}

struct FsCountCase {
  const char* name;
  std::vector<std::pair<U16, bool>> steps;  // frame sync of this GNSS type (false: reset the handler)
  S16 any_real_fs;
};
void PrintTo(const FsCountCase& c, std::ostream* os) { *os << c.name; }
class BitCountFrameSyncCount : public ::testing::TestWithParam<FsCountCase> {};

// Only GPS handlers count as real frame syncs: a reset takes a GPS one off the
// count, and a sync of another system never enters it.
TEST_P(BitCountFrameSyncCount, CountsGpsOnly) {
  const FsCountCase& c = GetParam();
  BC_init();
  const BC_T bc = BC_find_reference(2);
  for (const auto& [type, sync] : c.steps) {
    if (sync)
      BC_frame_sync(bc, 1000, type, 7, 1);
    else
      BC_reset(bc);
  }
  EXPECT_EQ(BC_has_any_one_real_fs(), c.any_real_fs);
}

INSTANTIATE_TEST_SUITE_P(
    BitCount, BitCountFrameSyncCount,
    ::testing::Values(FsCountCase{"gps_sync", {{GNSS_TYPE_GPS, true}}, 1},
                      FsCountCase{"gps_sync_then_reset", {{GNSS_TYPE_GPS, true}, {GNSS_TYPE_GPS, false}}, 0},
                      FsCountCase{"sbas_sync", {{GNSS_TYPE_SBAS, true}}, 0},
                      FsCountCase{"sbas_sync_then_reset", {{GNSS_TYPE_SBAS, true}, {GNSS_TYPE_SBAS, false}}, 0},
                      FsCountCase{"glonass_sync", {{GNSS_TYPE_GLONASS, true}}, 0},
                      FsCountCase{"glonass_then_gps_then_reset",
                                  {{GNSS_TYPE_GLONASS, true}, {GNSS_TYPE_GPS, true}, {GNSS_TYPE_GPS, false}},
                                  0}),
    [](const ::testing::TestParamInfo<FsCountCase>& i) { return std::string(i.param.name); });

struct BcCase {
  const char* name;
  U16 type;
  S16 signal_id;
  S32 bitcnt0;     // given to the frame sync
  S32 track;       // a track bit count
  S32 expect_abs;  // absolute bit count of it, wrapped into the week
};
void PrintTo(const BcCase& c, std::ostream* os) { *os << c.name; }
class BitCountConvert : public ::testing::TestWithParam<BcCase> {};

TEST_P(BitCountConvert, TrackAndAbsoluteBitCountsRoundTrip) {
  const BcCase& c = GetParam();
  BC_init();
  const BC_T bc = BC_find_reference(0);
  S32 abs = -1;
  EXPECT_EQ(BC_convert_track_bitcnt_to_abs_bitcnt(bc, c.track, &abs), 0);  // no frame sync yet
  BC_frame_sync(bc, c.bitcnt0, c.type, c.signal_id, 4);
  ASSERT_EQ(BC_convert_track_bitcnt_to_abs_bitcnt(bc, c.track, &abs), 1);
  EXPECT_EQ(abs, c.expect_abs);
  S32 track = -1;
  ASSERT_EQ(BC_convert_abs_bitcnt_to_track_bitcnt(bc, abs, &track), 1);
  S32 back = -1;
  BC_convert_track_bitcnt_to_abs_bitcnt(bc, track, &back);
  EXPECT_EQ(back, abs);
  EXPECT_EQ(BC_update_meas_track_bitcnt(bc, c.type, c.signal_id, c.track, 4), 1);
  EXPECT_EQ(BC_get_abs_bitcnt_of_measurement(bc), c.expect_abs);
  EXPECT_EQ(BC_update_meas_track_bitcnt(bc, c.type, c.signal_id, c.track, 5), 0);  // another issue
  // Data bits of another signal reset the handler.
  EXPECT_EQ(BC_update_dbits_bitcnt(bc, c.type, static_cast<S16>(c.signal_id + 1), c.track, 4), 1);
  EXPECT_EQ(BC_has_frame_sync(bc), 0);
}

// Bits per week: GPS 50 x 604 800 = 30 240 000; GLONASS 100 x; SBAS 500 x.
INSTANTIATE_TEST_SUITE_P(BitCount, BitCountConvert,
                         ::testing::Values(BcCase{"gps_plain", GNSS_TYPE_GPS, 5, 1000, 250, 1250},
                                           BcCase{"gps_negative_origin_wraps", GNSS_TYPE_GPS, 5, -100, 50,
                                                  30240000 - 50},
                                           BcCase{"gps_past_the_week_end", GNSS_TYPE_GPS, 5, 30239990, 20, 10},
                                           BcCase{"glonass_week", GNSS_TYPE_GLONASS, 3, 60479990, 15, 5},
                                           BcCase{"sbas_week", GNSS_TYPE_SBAS, 129, 302399999, 2, 1}),
                         [](const ::testing::TestParamInfo<BcCase>& i) { return std::string(i.param.name); });

}  // namespace

namespace {

// --- subframes 1..3 word by word -------------------------------------------------------------

struct Reception {
  int frame_set;  // 0: IODE 0x5A, 1: IODE 0x77
  int sfid;
  U16 flags;  // words that passed
};
struct PieceCase {
  const char* name;
  std::vector<Reception> receptions;
  std::size_t completes_after;  // reception index after which subframes 1..3 are handed over; -1: never
  int frame_set;                // the set handed over
};
void PrintTo(const PieceCase& c, std::ostream* os) { *os << c.name; }
class SubframePieces : public DataBits, public ::testing::WithParamInterface<PieceCase> {};

TEST_P(SubframePieces, CompleteOnceEveryWordIsStoredUnderOneIode) {
  const PieceCase& c = GetParam();
  const std::array<gpsenc::Encoded, 2> sets = {make_frames(1000, 1, WN10, 0x5A, 1),
                                               make_frames(1000, 1, WN10, 0x77, 2)};
  const SFCollect_T sfc = SFC_find_reference(3);
  ASSERT_NE(sfc, nullptr);
  for (std::size_t r = 0; r < c.receptions.size(); ++r) {
    const Reception& rx = c.receptions[r];
    const gpsenc::Encoded& e = sets[static_cast<std::size_t>(rx.frame_set)];
    std::array<U32, 10> w{};
    for (std::size_t i = 0; i < 10; ++i) {
      w[i] = e.words[10 * static_cast<std::size_t>(rx.sfid - 1) + i];
      if (((rx.flags >> i) & 1u) == 0) w[i] ^= 0x15u;  // a word that failed parity
    }
    SFC_collect(sfc, static_cast<S16>(rx.sfid), w.data(), rx.flags);
    EXPECT_EQ(Ev.sf123.size(), r >= c.completes_after ? 1u : 0u) << "after reception " << r;
  }
  if (!Ev.sf123.empty()) expect_sf123_is_truth(Ev.sf123[0], sets[static_cast<std::size_t>(c.frame_set)]);
}

INSTANTIATE_TEST_SUITE_P(
    DataBits, SubframePieces,
    ::testing::Values(PieceCase{"whole_subframes", {{0, 1, 0x3FF}, {0, 2, 0x3FF}, {0, 3, 0x3FF}}, 2, 0},
                      PieceCase{
                          "pieces_over_two_frames",
                          {{0, 1, 0x0FF}, {0, 2, 0x3FF}, {0, 3, 0x3E7}, {0, 1, 0x3C0}, {0, 2, 0x001}, {0, 3, 0x018}},
                          5,
                          0},
                      PieceCase{"iode_word_failed_first_stores_nothing",
                                {{0, 2, 0x3FB}, {0, 1, 0x3FF}, {0, 3, 0x3FF}, {0, 2, 0x3FF}},
                                3,
                                0},
                      PieceCase{"new_iode_discards_the_pieces",
                                {{0, 1, 0x3FF}, {0, 2, 0x3FF}, {1, 3, 0x3FF}, {1, 1, 0x3FF}, {1, 2, 0x3FF}},
                                4,
                                1},
                      PieceCase{"never_complete", {{0, 1, 0x3FF}, {0, 2, 0x3FF}, {0, 3, 0x1FF}, {0, 3, 0x1FF}}, 99, 0}),
    [](const ::testing::TestParamInfo<PieceCase>& i) { return std::string(i.param.name); });

}  // namespace
