// GPS data bits: word parity (IS-GPS-200 Table 20-XIV), frame sync from the
// preamble and HOW, subframe slicing, the remainder combination, subframe
// collection and dispatch, bit-count handlers. Streams are encoded by the
// test's own encoder (gps_nav_encoder.h) from known source data.
#include <gtest/gtest.h>

#include <string>
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
  std::vector<std::pair<S32, S32>> framesyncs;  // tow, bitcnt
  std::vector<U16> weeks;
  std::vector<std::array<std::array<U32, 10>, 3>> sf123;
  std::vector<std::pair<int, std::array<U32, 10>>> pages;  // svid kind, words
};
Events Ev;

void on_framesync(DBCollect_T, S32 tow, S32 bitcnt) { Ev.framesyncs.emplace_back(tow, bitcnt); }
void on_wn(U16 wn) { Ev.weeks.push_back(wn); }
void on_sf123(S16, const U32 (*w)[10]) {
  std::array<std::array<U32, 10>, 3> a{};
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < 10; ++i) a[static_cast<std::size_t>(k)][static_cast<std::size_t>(i)] = w[k][i];
  Ev.sf123.push_back(a);
}
template <int KIND>
void on_page(const U32* w) {
  std::array<U32, 10> a{};
  for (int i = 0; i < 10; ++i) a[static_cast<std::size_t>(i)] = w[i];
  Ev.pages.emplace_back(KIND, a);
}

class DataBits : public ::testing::Test {
 protected:
  void SetUp() override {
    Ev = Events{};
    DBC_init();
    BC_init();
    DBC_install_framesync_callback(on_framesync);
    DBC_install_wn_callback(on_wn);
    SFC_install_callback_s1s2s3(on_sf123);
    SFC_install_callback_s5_p1_24(on_page<1>);
    SFC_install_callback_s4_p18(on_page<18>);
    SFC_install_callback_s4_p25(on_page<425>);
    SFC_install_callback_s5_p25(on_page<525>);
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
    DBC_init();
  }
  // Feed bits [from, to) in batches of 30; bit j has track bit count base + j.
  // Returns the number of batches that reported a frame sync.
  int feed(const std::vector<int>& bits, std::size_t from, std::size_t to, S32 base = 1000) {
    int syncs = 0;
    for (std::size_t j = from; j + 30 <= to && j + 30 <= bits.size(); j += 30) {
      U32 v = 0;
      for (std::size_t k = 0; k < 30; ++k) v = (v << 1) | static_cast<U32>(bits[j + k]);
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
  bool inverted;
  int sync_bit;  // first bit of the subframe whose preamble gives the sync
};

class DataBitsSync : public DataBits, public ::testing::WithParamInterface<SyncCase> {};

TEST_P(DataBitsSync, FrameSyncAndSubframes123BitIdentical) {
  const SyncCase& c = GetParam();
  const gpsenc::Encoded e = make_frames(c.t0, 4);
  const std::vector<int> bits = gpsenc::bits_of(e, c.inverted);
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
                         ::testing::Values(SyncCase{"start_of_subframe1_upright", 1000, 0, false, 300},
                                           SyncCase{"start_of_subframe1_inverted", 1000, 0, true, 300},
                                           SyncCase{"mid_subframe1_upright", 1000, 137, false, 300},
                                           SyncCase{"mid_subframe1_inverted", 1000, 137, true, 300},
                                           SyncCase{"mid_subframe3_upright", 2005, 617, false, 900},
                                           SyncCase{"mid_subframe3_inverted", 2005, 617, true, 900},
                                           SyncCase{"subframe5_upright", 50, 1201, false, 1500},
                                           SyncCase{"subframe5_inverted", 50, 1201, true, 1500},
                                           SyncCase{"week_start_upright", 0, 11, false, 300},
                                           SyncCase{"week_start_inverted", 0, 11, true, 300},
                                           SyncCase{"how_tow_count_0_upright", 100795, 955, false, 1200},
                                           SyncCase{"how_tow_count_0_inverted", 100795, 955, true, 1200}),
                         [](const ::testing::TestParamInfo<SyncCase>& i) { return std::string(i.param.name); });

}  // namespace
