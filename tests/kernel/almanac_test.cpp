// Almanac store: pages of the simulated sky decoded field by field
// (IS-GPS-200 Table 20-VI scale factors), almanac orbits against the sky's
// true orbits, week completion and rollover, the backup records and the
// start-up merge with the stored and constant images, hostile pages.
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "kernel/src/almanac.h"
#include "kernel/src/backup_layout.h"
#include "kernel/src/sv_health.h"
#include "misc/crc16.h"
#include "misc/endian_swap.h"
#include "tests/kernel/sky_almanac.h"
#include "tests/kernel/sky_ephemeris.h"
#include "tools/sky/sky.h"

namespace {

using alm_test::AlmFields;
using alm_test::Page;

constexpr double PI = 3.1415926535898;
constexpr int WEEK = 2345;  // 10-bit 297, 8-bit 41
constexpr double T0 = 200000.0;

// Region and images live for the whole test program: the store keeps the pointer.
std::array<U08, ALM_BACKUP_SIZE> Region{};
std::array<U08, ALM_BACKUP_SIZE> Image{};
std::array<U08, ALM_BACKUP_SIZE> Const_image{};
std::array<U08, SVH_BACKUP_SIZE> Svh_region{};

class Almanac : public ::testing::Test {
 protected:
  void SetUp() override {
    ENDIAN_set_swap_flag(0);
    Region.fill(0);
    ASSERT_EQ(ALM_init(Region.data(), nullptr, nullptr), 1900);
    ALM_install_clear_hook(nullptr);
  }
  void TearDown() override {
    ENDIAN_set_swap_flag(0);
    ALM_install_clear_hook(nullptr);
    ALM_clear_all();  // later tests of the program expect no almanac
  }
};

// The sky's almanac page of svid in the page cycle that starts at or after T0.
struct SkyPage {
  Page words;
  int tow;  // s of week at the start of the subframe
};
SkyPage sky_almanac_page(int svid) {
  int sf = 0;
  int page = 0;
  alm_test::almanac_page_of(svid, &sf, &page);
  const int cycle = static_cast<int>(std::ceil(T0 / 750.0));
  const std::int32_t s = alm_test::subframe_index(cycle, page, sf);
  return SkyPage{alm_test::sky_subframe(svid <= 24 ? 1 : 2, WEEK, s), s * 6};
}

ALM_S record_of(int prn) {
  ALM_S r{};
  std::memcpy(&r, ALM_get_reference(static_cast<S16>(prn)), sizeof r);
  return r;
}

double dist(const POS_T& p, const double* q) {
  return std::sqrt((p.px - q[0]) * (p.px - q[0]) + (p.py - q[1]) * (p.py - q[1]) + (p.pz - q[2]) * (p.pz - q[2]));
}

// A backup region as a machine of the other byte order writes it: its
// fields, the CRC of its bytes, the CRC word (offset 1824) in its order.
void to_other_byte_order(std::array<U08, ALM_BACKUP_SIZE>& img) {
  for (int i = 0; i < 38; ++i) {
    U08* rec = img.data() + 48 * i;
    U16 crc = 0;
    std::memcpy(&crc, img.data() + 1824 + 2 * i, 2);
    ALM_data_endian_conversion_with_addr_input(rec);
    if (crc != 0) crc = crc16(rec, 48);
    img[static_cast<std::size_t>(1824 + 2 * i)] = static_cast<U08>(crc >> 8);
    img[static_cast<std::size_t>(1825 + 2 * i)] = static_cast<U08>(crc & 0xFF);
  }
}

// The sky's true satellite position (and velocity when tv is given), ECEF m
// and m/s, from its broadcast ephemeris of the time t (s of week WEEK).
void sky_truth(int svid, int t, double* tp, double* tv) {
  SKY_EPH_T eph;
  ASSERT_EQ(SKY_get_ephemeris(svid, SKY_GPST_T{WEEK, static_cast<double>(t)}, &eph), 1);
  ASSERT_EQ(SKY_eph_sat_state(&eph, SKY_GPST_T{WEEK, static_cast<double>(t)}, tp, tv, nullptr), 1);
}

// Every field of a decoded record against the page's raw fields f (the sky's
// SKY_ALM_T or a hand-encoded AlmFields) in the IS-GPS-200 Table 20-VI units:
// toa 2^12 s, e 2^-21, i0 0.30 + 2^-19 sc, Omega dot 2^-38 sc/s, Omega_0,
// omega, M0 2^-23 sc, af0 2^-20 s, af1 2^-38 s/s, sqrt(A) 2^-11 m^1/2 (single
// precision: angles within 1e-6 rad).
template <typename F>
void expect_record_is(const ALM_S& r, const F& f) {
  EXPECT_EQ(r.toa, f.toa * 4096);
  EXPECT_EQ(r.health, f.health);
  EXPECT_EQ(r.e, static_cast<F32>(std::ldexp(f.e, -21)));
  const double sqrt_a = std::ldexp(f.sqrta, -11);
  EXPECT_NEAR(r.A, sqrt_a * sqrt_a, 1e-6 * sqrt_a * sqrt_a);
  EXPECT_NEAR(r.i0, (std::ldexp(f.di, -19) + 0.3) * PI, 1e-6);
  EXPECT_NEAR(r.Omega_dot, std::ldexp(f.omgd, -38) * PI, 1e-6 * std::fabs(std::ldexp(f.omgd, -38) * PI) + 1e-15);
  EXPECT_NEAR(r.Omega_0, std::ldexp(f.omg0, -23) * PI, 1e-6);
  EXPECT_NEAR(r.omega, std::ldexp(f.omg, -23) * PI, 1e-6);
  EXPECT_NEAR(r.M0, std::ldexp(f.m0, -23) * PI, 1e-6);
  EXPECT_EQ(r.af0, static_cast<F32>(std::ldexp(f.af0, -20)));
  EXPECT_EQ(r.af1, static_cast<F32>(std::ldexp(f.af1, -38)));
}

// Every field of the decoded page equals the sky's almanac.
TEST_F(Almanac, SkyPagesDecodeFieldByField) {
  ASSERT_EQ(init_full_sky(WEEK, T0), 1);
  for (int svid : {1, 2, 7, 13, 24, 25, 28, 32}) {
    SCOPED_TRACE("svid " + std::to_string(svid));
    const SkyPage pg = sky_almanac_page(svid);
    SKY_ALM_T a;
    ASSERT_EQ(SKY_get_almanac(svid, SKY_GPST_T{WEEK, static_cast<double>(pg.tow)}, &a), 1);
    ASSERT_EQ(ALM_update_datawords(WEEK, pg.tow, pg.words.data()), 1);
    const ALM_T alm = ALM_get_reference(static_cast<S16>(svid));
    EXPECT_EQ(ALM_has_valid_data(alm), ALM_VLAID_FROM_DATA);
    const ALM_S r = record_of(svid);
    EXPECT_EQ(r.prn, svid);
    EXPECT_EQ(r.wna, WEEK % 1024);
    EXPECT_EQ(ALM_get_health(alm), a.health);
    expect_record_is(r, a);
    // the same toa again: not decoded a second time
    EXPECT_EQ(ALM_update_datawords(WEEK, pg.tow + 750, pg.words.data()), 0);
  }
  EXPECT_EQ(ALM_get_valid_num(), 8);
}

// Hand-encoded fields at their extremes, sign bits and the split af0.
TEST_F(Almanac, EncodedFieldsAtTheirLimits) {
  struct Case {
    const char* name;
    AlmFields f;
  };
  AlmFields neg = alm_test::typical(5, 10);
  neg.di = -32768;
  neg.omgd = -32768;
  neg.omg0 = -8388608;
  neg.omg = 8388607;
  neg.m0 = -1;
  neg.af0 = -1024;
  neg.af1 = -1024;
  neg.health = 255;
  AlmFields pos = alm_test::typical(6, 147);
  pos.e = 65535;
  pos.di = 32767;
  pos.af0 = 1023;
  pos.af1 = 1023;
  pos.sqrta = 16777215;
  const std::array<Case, 3> cases = {{{"typical", alm_test::typical(3, 40)}, {"negative", neg}, {"positive", pos}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Page p = alm_test::encode_almanac(c.f);
    ASSERT_EQ(ALM_update_datawords(WEEK, c.f.toa * 4096, p.data()), 1);
    expect_record_is(record_of(c.f.svid), c.f);
  }
}

// The almanac orbit against the sky's true orbit (its broadcast ephemeris
// of the time) at toa and a day either side: an almanac's accuracy.
TEST_F(Almanac, PositionAndVelocityAgainstTheSkyTruth) {
  ASSERT_EQ(init_full_sky(WEEK, T0), 1);
  struct Case {
    const char* name;
    double offset_s;
  };
  const std::array<Case, 5> offsets = {
      {{"toa", 0.0}, {"toa+1h", 3600.0}, {"toa-1h", -3600.0}, {"toa+1day", 86400.0}, {"toa-1day", -86400.0}}};
  for (int svid : {1, 4, 9, 16, 23, 26, 31}) {
    const SkyPage pg = sky_almanac_page(svid);
    ASSERT_EQ(ALM_update_datawords(WEEK, pg.tow, pg.words.data()), 1);
    const ALM_T alm = ALM_get_reference(static_cast<S16>(svid));
    const int toa = record_of(svid).toa;
    for (const Case& c : offsets) {
      SCOPED_TRACE("svid " + std::to_string(svid) + " " + c.name);
      const int t = toa + static_cast<int>(c.offset_s);
      POS_T p{};
      VEL_T v{};
      ASSERT_EQ(ALM_calc_SV_position(alm, WEEK, t, &p, &v), 1);
      double tp[3], tv[3];
      ASSERT_NO_FATAL_FAILURE(sky_truth(svid, t, tp, tv));
      EXPECT_LT(dist(p, tp), 2000.0);  // largest seen 830 m
      EXPECT_NEAR(v.vx, tv[0], 0.5);
      EXPECT_NEAR(v.vy, tv[1], 0.5);
      EXPECT_NEAR(v.vz, tv[2], 0.5);
    }
  }
}

// The week of a page: from page 25 when its toa matches (completed to the
// 10-bit week nearest the current one), else the current week moved by a
// half-week rule on tow - toa.
TEST_F(Almanac, PageWeekAndRollover) {
  struct Case {
    const char* name;
    int wn;          // full week of reception
    int tow;         // s
    int toa_units;   // 2^12 s
    int p25_toa;     // page 25 toa units, -1: no page 25
    int p25_wna;     // 8 bits
    int expect_wna;  // 10 bits
  };
  const std::array<Case, 9> cases = {{
      {"same week", 2345, 100000, 20, -1, 0, 2345 % 1024},
      {"received at 600000, toa 61440: next week", 2345, 600000, 15, -1, 0, 2346 % 1024},
      {"received early in the week, toa late: last week", 2345, 1000, 144, -1, 0, 2344 % 1024},
      {"last week across 1023/1024", 1024, 1000, 144, -1, 0, 1023},
      {"next week across 2047/2048", 2047, 600000, 15, -1, 0, 0},
      {"page 25 week", 2345, 100000, 20, 20, 2345 % 256, 2345 % 1024},
      {"page 25 week 255 read at full week 1024", 1024, 1000, 144, 144, 255, 1023},
      {"page 25 week 0 read at full week 2047", 2047, 600000, 15, 15, 0, 0},
      {"page 25 toa differs: half-week rule", 2345, 100000, 20, 21, 7, 2345 % 1024},
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ALM_clear_all();
    ALM_init(Region.data(), nullptr, nullptr);  // page 25 forgotten
    if (c.p25_toa >= 0) {
      const Page p25 = alm_test::encode_page25(c.p25_toa, c.p25_wna);
      EXPECT_EQ(ALM_update_WNa_subframe(p25.data()), 1);
      EXPECT_EQ(ALM_update_WNa_subframe(p25.data()), 0);  // not new
    }
    const Page p = alm_test::encode_almanac(alm_test::typical(9, c.toa_units));
    ASSERT_EQ(ALM_update_datawords(static_cast<S16>(c.wn), c.tow, p.data()), 1);
    S16 wna = -1;
    ASSERT_EQ(ALM_get_wna(ALM_get_reference(9), &wna), 1);
    EXPECT_EQ(wna, c.expect_wna);
    // the week difference folds back to the reception week's neighbourhood
    EXPECT_LE(std::abs(ALM_week_difference(ALM_get_reference(9), static_cast<S16>(c.wn))), 1);
  }
}

// The sky's own page 25: toa and 8-bit week of its almanac data set.
TEST_F(Almanac, SkyPage25GivesToaAndWeek) {
  ASSERT_EQ(init_full_sky(WEEK, T0), 1);
  const int cycle = static_cast<int>(std::ceil(T0 / 750.0));
  const std::int32_t s = alm_test::subframe_index(cycle, 25, 5);
  const Page p = alm_test::sky_subframe(3, WEEK, s);
  SKY_ALM_T a;
  ASSERT_EQ(SKY_get_almanac(1, SKY_GPST_T{WEEK, s * 6.0}, &a), 1);
  ALM_init(Region.data(), nullptr, nullptr);
  EXPECT_EQ(ALM_update_WNa_subframe(p.data()), 1);
  S32 toa = 0;
  S16 wna = 0;
  ALM_get_page25(&toa, &wna);
  EXPECT_EQ(toa, a.toa * 4096);
  EXPECT_EQ(wna, a.wna);
  EXPECT_EQ(wna, WEEK % 256);
  EXPECT_EQ(ALM_update_WNa_subframe(p.data()), 0);
  // a page that is not page 25 (an almanac page) is not taken for it
  const SkyPage other = sky_almanac_page(5);
  EXPECT_EQ(ALM_update_WNa_subframe(other.words.data()), 0);
}

// Week difference and age limit: 10-bit weeks above 255, 8-bit weeks below.
TEST_F(Almanac, WeekDifferenceAndAgeLimit) {
  struct Case {
    const char* name;
    int stored_wna;
    int wn;
    int expect_diff;
    int expect_position;
  };
  const std::array<Case, 9> cases = {{
      {"10-bit same week", 297, 2345, 0, 1},
      {"10-bit 1023 at full week 1024", 1023, 1024, 1, 1},
      {"10-bit 1023 at full week 2048", 1023, 2048, 1, 1},
      {"8-bit 255 at full week 2048", 255, 2048, 1, 1},
      {"8-bit 0 at full week 2047", 0, 2047, -1, 1},
      {"8-bit 41 at full week 2345", 41, 2345, 0, 1},
      {"30 weeks old", 300, 330, 30, 1},
      {"31 weeks old", 300, 331, 31, 0},
      {"31 weeks ahead", 300, 269 + 1024, -31, 0},
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ALM_IN_T in{};
    const Page p = alm_test::encode_almanac(alm_test::typical(11, 20));
    ASSERT_EQ(ALM_update_datawords(WEEK, 81920, p.data()), 1);
    const ALM_S r = record_of(11);
    in = ALM_IN_T{
        r.A, r.Omega_0, r.omega, r.M0, r.e, r.i0, r.Omega_dot, r.af0, r.af1, r.toa, 11, static_cast<S16>(c.stored_wna),
        0};
    ALM_set(11, &in);
    const ALM_T alm = ALM_get_reference(11);
    EXPECT_EQ(ALM_has_valid_data(alm), ALM_VLAID_FROM_EPH);
    EXPECT_EQ(ALM_week_difference(alm, static_cast<S16>(c.wn)), c.expect_diff);
    POS_T pos{};
    EXPECT_EQ(ALM_calc_SV_position(alm, static_cast<S16>(c.wn), 81920, &pos, nullptr), c.expect_position);
    EXPECT_EQ(ALM_has_valid_data(alm), ALM_VLAID_FROM_EPH);  // not constant: kept
  }
}

// Mend: "all almanacs received" folds the week difference as the position
// computation does. A full week (2345) against stored 10-bit (297) or 8-bit
// (41) weeks; a direct comparison never finds them within a week.
TEST_F(Almanac, AllAlmanacsReceivedFoldsTheWeek) {
  std::array<U08, SVH_BACKUP_SIZE> zero{};
  Svh_region = zero;
  SVH_init(Svh_region.data());  // nothing known: every health 63
  alm_test::Page p5{};
  alm_test::put(&p5[2], 1, 2, 1);
  alm_test::put(&p5[2], 3, 6, 51);
  alm_test::Page p4{};
  alm_test::put(&p4[2], 1, 2, 1);
  alm_test::put(&p4[2], 3, 6, 63);
  alm_test::put(&p4[9], 13, 6, 63);  // svid 32 not present; 1..31 healthy
  SVH_update_datawords(5, p5.data());
  SVH_update_datawords(4, p4.data());
  ASSERT_EQ(SVH_has_valid_data(), 1);
  struct Case {
    const char* name;
    int wn;          // full week of the check
    int stored_wna;  // for every svid 1..31
    int old_svid;    // 0: none; else this svid's week is stored_wna - 2 (10-bit)
    int missing_svid;
    int expect;
  };
  const std::array<Case, 7> cases = {{
      {"10-bit weeks", 2345, 2345 % 1024, 0, 0, 1},
      {"8-bit weeks", 2345, 2345 % 256, 0, 0, 1},
      {"a week old", 2345, 2344 % 1024, 0, 0, 1},
      {"one two weeks old", 2345, 2345 % 1024, 17, 0, 0},
      {"one missing", 2345, 2345 % 1024, 0, 5, 0},
      {"week 1023 checked at full week 2048", 2048, 1023, 0, 0, 1},
      {"8-bit week 255 checked at full week 2048", 2048, 255, 0, 0, 1},
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ALM_clear_all();
    for (int svid = 1; svid <= 31; ++svid) {
      if (svid == c.missing_svid) continue;
      ALM_IN_T in{};
      in.A = 2.656e7F;
      in.e = 0.01F;
      in.toa = 61440;
      in.prn = static_cast<S16>(svid);
      in.wna = static_cast<S16>(svid == c.old_svid ? c.stored_wna - 2 : c.stored_wna);
      ALM_set(static_cast<S16>(svid), &in);
    }
    EXPECT_EQ(ALM_check_received_all_almanacs(static_cast<S16>(c.wn)), c.expect);
  }
}

// Backup records: the CRC round trip through ALM_init, a corrupted record
// refused, the other byte order restored, a host-order region under the swap
// flag invalidated.
TEST_F(Almanac, BackupRoundTripCorruptionAndByteOrder) {
  for (int svid : {1, 2, 3}) {
    const Page p = alm_test::encode_almanac(alm_test::typical(svid, 30));
    ASSERT_EQ(ALM_update_datawords(WEEK, 30 * 4096, p.data()), 1);
  }
  const ALM_S r2 = record_of(2);
  U08* addr = nullptr;
  ASSERT_EQ(ALM_get_address(&addr), 1900);
  ASSERT_EQ(addr, Region.data());
  // each valid record's CRC word is the CRC of its 48 bytes
  for (int i = 0; i < 3; ++i) {
    U16 crc = 0;
    std::memcpy(&crc, Region.data() + 1824 + 2 * i, 2);
    EXPECT_EQ(crc, crc16(Region.data() + 48 * i, 48));
  }
  const std::array<U08, ALM_BACKUP_SIZE> good = Region;
  struct Case {
    const char* name;
    int corrupt_byte;  // -1 none
    bool other_order;
    bool swap_flag;
    int expect_valid;
  };
  const std::array<Case, 5> cases = {{{"round trip", -1, false, false, 3},
                                      {"corrupted field", 48 + 5, false, false, 2},
                                      {"corrupted CRC word", 1824 + 2, false, false, 2},
                                      {"other byte order", -1, true, true, 3},
                                      {"host order under the swap flag", -1, false, true, 0}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Region = good;
    if (c.corrupt_byte >= 0) Region[static_cast<std::size_t>(c.corrupt_byte)] ^= 0x10;
    if (c.other_order) to_other_byte_order(Region);
    ENDIAN_set_swap_flag(c.swap_flag ? 1 : 0);
    ALM_init(Region.data(), nullptr, nullptr);
    ENDIAN_set_swap_flag(0);
    EXPECT_EQ(ALM_get_valid_num(), c.expect_valid);
    if (c.expect_valid == 3) {
      const ALM_S r = record_of(2);
      EXPECT_EQ(std::memcmp(&r, &r2, sizeof r), 0);
      EXPECT_EQ(std::memcmp(Region.data(), good.data(), good.size()), 0);
    }
    if (c.corrupt_byte == 48 + 5) {
      EXPECT_EQ(ALM_has_valid_data(ALM_get_reference(2)), ALM_INVALID);
    }
    // invalid records keep their prn and have CRC 0
    for (int prn = 1; prn <= 38; ++prn) EXPECT_EQ(ALM_get_prn(ALM_get_reference(static_cast<S16>(prn))), prn);
  }
}

// Fill an image in the store's layout with record r (its CRC) at prn.
void put_image_record(std::array<U08, ALM_BACKUP_SIZE>& img, const ALM_S& r) {
  const auto i = static_cast<std::size_t>(r.prn - 1);
  std::memcpy(img.data() + 48 * i, &r, 48);
  const U16 crc = crc16(img.data() + 48 * i, 48);
  std::memcpy(img.data() + 1824 + 2 * i, &crc, 2);
}
void blank_image(std::array<U08, ALM_BACKUP_SIZE>& img) {
  img.fill(0);
  for (int prn = 1; prn <= 38; ++prn) {
    ALM_S r{};
    r.prn = static_cast<S16>(prn);
    std::memcpy(img.data() + 48 * (prn - 1), &r, 48);
  }
}
ALM_S typical_record(int prn, int wna, S16 level) {
  ALM_S r{};
  r.A = 2.656e7F;
  r.e = 0.01F;
  r.i0 = 0.96F;
  r.M0 = 0.1F * static_cast<F32>(prn);
  r.toa = 61440;
  r.prn = static_cast<S16>(prn);
  r.wna = static_cast<S16>(wna);
  r.valid = level;
  return r;
}

// The stored image (flash.alm) passes through start-up and ALM_get_address
// unchanged when nothing new is decoded.
TEST_F(Almanac, StoredImagePassesThroughUnchanged) {
  blank_image(Image);
  for (int prn : {1, 5, 9, 30, 33})
    put_image_record(Image, typical_record(prn, 297, prn == 9 ? ALM_VLAID_FROM_EPH : ALM_VLAID_FROM_DATA));
  put_image_record(Image, typical_record(12, 297, ALM_VLAID_FROM_INPUT));
  Region.fill(0);
  ALM_init(Region.data(), Image.data(), nullptr);
  EXPECT_EQ(ALM_get_valid_num(), 6);
  EXPECT_EQ(ALM_get_num_same_as_stored_image(), 6);
  U08* addr = nullptr;
  ASSERT_EQ(ALM_get_address(&addr), 1900);
  EXPECT_EQ(std::memcmp(addr, Image.data(), Image.size()), 0);
  // a second start from that backup: the records are the same as the image's
  ALM_init(Region.data(), Image.data(), nullptr);
  EXPECT_EQ(ALM_get_num_same_as_stored_image(), 6);
  EXPECT_EQ(std::memcmp(addr, Image.data(), Image.size()), 0);
}

// A stored image written in the other byte order (an SD-card dump) is read
// under the swap flag: its records arrive in this machine's order.
TEST_F(Almanac, StoredImageOfTheOtherByteOrder) {
  blank_image(Image);
  for (int prn : {2, 14, 31}) put_image_record(Image, typical_record(prn, 297, ALM_VLAID_FROM_DATA));
  const std::array<U08, ALM_BACKUP_SIZE> host_order = Image;
  to_other_byte_order(Image);
  struct Case {
    const char* name;
    int swap_flag;
    int expect_valid;
  };
  const std::array<Case, 2> cases = {{{"under the swap flag", 1, 3}, {"without it: refused", 0, 0}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Region.fill(0);
    ENDIAN_set_swap_flag(static_cast<S16>(c.swap_flag));
    ALM_init(Region.data(), Image.data(), nullptr);
    ENDIAN_set_swap_flag(0);
    EXPECT_EQ(ALM_get_valid_num(), c.expect_valid);
    if (c.expect_valid == 3) {
      EXPECT_EQ(std::memcmp(Region.data(), host_order.data(), host_order.size()), 0);
    }
  }
}

// The start-up merge rules and the age rules of stored and constant records.
TEST_F(Almanac, StartUpMergeRules) {
  struct Case {
    const char* name;
    int backup_wna;      // week of the valid backup record of prn 1 (-1: none)
    int image_wna;       // week of the stored image record of prn 2 (-1: none)
    S16 image_level;     // its level
    bool image_bad_crc;  // its CRC broken
    int image_prn;       // prn written into it
    int const_wna;       // week of the constant record of prn 2 (-1: none)
    S16 expect_level2;   // level of prn 2 after start-up
  };
  const std::array<Case, 8> cases = {{
      {"image taken", -1, 297, ALM_VLAID_FROM_DATA, false, 2, -1, ALM_VLAID_FROM_DATA},
      {"image 30 weeks from the backup week taken", 327, 297, ALM_VLAID_FROM_DATA, false, 2, -1, ALM_VLAID_FROM_DATA},
      {"image 31 weeks from the backup week not taken", 328, 297, ALM_VLAID_FROM_DATA, false, 2, -1, ALM_INVALID},
      {"image at level 1 not taken", -1, 297, ALM_VLAID_FROM_CONST, false, 2, -1, ALM_INVALID},
      {"image with a bad CRC not taken", -1, 297, ALM_VLAID_FROM_DATA, true, 2, -1, ALM_INVALID},
      {"image of the wrong prn not taken", -1, 297, ALM_VLAID_FROM_DATA, false, 3, -1, ALM_INVALID},
      {"constant record fills the gap at level 1", -1, -1, 0, false, 2, 297, ALM_VLAID_FROM_CONST},
      {"image preferred to the constant record", -1, 297, ALM_VLAID_FROM_INPUT, false, 2, 297, ALM_VLAID_FROM_INPUT},
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ALM_clear_all();
    if (c.backup_wna >= 0) {
      ALM_IN_T in{};
      in.A = 2.656e7F;
      in.e = 0.01F;
      in.prn = 1;
      in.wna = static_cast<S16>(c.backup_wna);
      ALM_set(1, &in);
    }
    blank_image(Image);
    blank_image(Const_image);
    if (c.image_wna >= 0) {
      ALM_S r = typical_record(2, c.image_wna, c.image_level);
      r.prn = static_cast<S16>(c.image_prn);
      put_image_record(Image, r);
      if (c.image_prn != 2) std::memcpy(Image.data() + 48, Image.data() + 48 * (c.image_prn - 1), 48);
      if (c.image_prn != 2) std::memcpy(Image.data() + 1826, Image.data() + 1824 + 2 * (c.image_prn - 1), 2);
      if (c.image_bad_crc) Image[1826] ^= 1;
    }
    if (c.const_wna >= 0) put_image_record(Const_image, typical_record(2, c.const_wna, ALM_VLAID_FROM_DATA));
    ALM_init(Region.data(), Image.data(), Const_image.data());
    EXPECT_EQ(ALM_has_valid_data(ALM_get_reference(2)), c.expect_level2);
    // what was taken is a valid backup record on the next start
    const S16 level = ALM_has_valid_data(ALM_get_reference(2));
    ALM_init(Region.data(), nullptr, nullptr);
    EXPECT_EQ(ALM_has_valid_data(ALM_get_reference(2)), level);
  }
}

int Hook_calls = 0;
S16 Hook_last = 0;
void hook(S16 prn) {
  ++Hook_calls;
  Hook_last = prn;
}

// A constant almanac 31 weeks old is cleared when first used; a stored one of
// the same age is only skipped. The age check at the first GPS time clears
// every record more than 30 weeks away.
TEST_F(Almanac, AgeRulesForConstantAndStoredRecords) {
  blank_image(Image);
  blank_image(Const_image);
  put_image_record(Image, typical_record(4, 297, ALM_VLAID_FROM_DATA));
  put_image_record(Const_image, typical_record(6, 297, ALM_VLAID_FROM_DATA));
  ALM_clear_all();
  ALM_init(Region.data(), Image.data(), Const_image.data());
  ALM_install_clear_hook(hook);
  Hook_calls = 0;
  ASSERT_EQ(ALM_has_valid_data(ALM_get_reference(6)), ALM_VLAID_FROM_CONST);
  ASSERT_EQ(ALM_has_valid_data(ALM_get_reference(4)), ALM_VLAID_FROM_DATA);
  POS_T p{};
  const S16 wn31 = 297 + 31 + 1024;
  EXPECT_EQ(ALM_calc_SV_position(ALM_get_reference(4), wn31, 61440, &p, nullptr), 0);
  EXPECT_EQ(ALM_has_valid_data(ALM_get_reference(4)), ALM_VLAID_FROM_DATA);
  EXPECT_EQ(Hook_calls, 0);
  EXPECT_EQ(ALM_calc_SV_position(ALM_get_reference(6), wn31, 61440, &p, nullptr), 0);
  EXPECT_EQ(ALM_has_valid_data(ALM_get_reference(6)), ALM_INVALID);
  EXPECT_EQ(Hook_calls, 1);
  EXPECT_EQ(Hook_last, 6);
  U16 crc = 1;
  std::memcpy(&crc, Region.data() + 1824 + 2 * 5, 2);
  EXPECT_EQ(crc, 0);
  // the age check
  ALM_check_validity_time(static_cast<S16>(297 + 30 + 1024));
  EXPECT_EQ(ALM_has_valid_data(ALM_get_reference(4)), ALM_VLAID_FROM_DATA);
  ALM_check_validity_time(wn31);
  EXPECT_EQ(ALM_has_valid_data(ALM_get_reference(4)), ALM_INVALID);
  EXPECT_EQ(ALM_get_valid_num(), 0);
}

// An ephemeris-derived record of QZSS 33..35 gives positions only within 2 h of toa.
TEST_F(Almanac, EphemerisDerivedQzssWithinTwoHours) {
  struct Case {
    const char* name;
    int prn;
    int dt;
    int expect;
  };
  const std::array<Case, 5> cases = {{{"qzss 33 at 7200 s", 33, 7200, 1},
                                      {"qzss 33 at 7201 s", 33, 7201, 0},
                                      {"qzss 35 at -7201 s", 35, -7201, 0},
                                      {"qzss 36 at 7201 s", 36, 7201, 1},
                                      {"gps 20 at 7201 s", 20, 7201, 1}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ALM_IN_T in{};
    in.A = 4.2164e7F;
    in.e = 0.075F;
    in.i0 = 0.7F;
    in.toa = 302400;
    in.prn = static_cast<S16>(c.prn);
    in.wna = 297;
    ALM_set(static_cast<S16>(c.prn), &in);
    POS_T p{};
    EXPECT_EQ(ALM_calc_SV_position(ALM_get_reference(static_cast<S16>(c.prn)), WEEK, 302400 + c.dt, &p, nullptr),
              c.expect);
  }
}

// Hostile pages: every SV ID, every pattern of a word's fields, arbitrary
// words: nothing is stored outside 1..38, positions are finite or refused.
TEST_F(Almanac, HostilePagesStayInsideTheTable) {
  for (int id = 0; id < 64; ++id) {
    AlmFields f = alm_test::typical(id, 10);
    const Page p = alm_test::encode_almanac(f);
    EXPECT_EQ(ALM_update_datawords(WEEK, 40960, p.data()), id >= 1 && id <= 38 ? 1 : 0) << "SV ID " << id;
  }
  EXPECT_EQ(ALM_get_valid_num(), 38);
  std::uint32_t x = 12345;
  auto next = [&x]() {
    x = x * 1664525U + 1013904223U;
    return x;
  };
  for (int word = 0; word < 10; ++word) {
    for (U32 pattern = 0; pattern < (1U << 24); pattern += 4099) {
      Page p = alm_test::encode_almanac(alm_test::typical(static_cast<int>(next() % 64), 10));
      p[static_cast<std::size_t>(word)] = (pattern << 6) | (next() & 0xC000003FU);
      const S16 prn = static_cast<S16>((p[2] >> 22) & 0x3F);
      const S16 r = ALM_update_datawords(static_cast<S16>(next() % 5000), static_cast<S32>(next() % 700000), p.data());
      if (prn < 1 || prn > 38) {
        EXPECT_EQ(r, 0);
      }
      ALM_update_WNa_subframe(p.data());
      if (prn >= 1 && prn <= 38) {
        POS_T pos{1.0, 2.0, 3.0};
        VEL_T vel{};
        if (ALM_calc_SV_position(ALM_get_reference(prn), static_cast<S16>(next() % 5000),
                                 static_cast<S32>(next() % 700000), &pos, &vel) == 1) {
          EXPECT_TRUE(std::isfinite(pos.px) && std::isfinite(pos.py) && std::isfinite(pos.pz));
          EXPECT_TRUE(std::isfinite(vel.vx) && std::isfinite(vel.vy) && std::isfinite(vel.vz));
        }
      }
    }
  }
  // times and weeks at the ends of their types (the week rule must not overflow)
  for (S32 tow : {std::numeric_limits<S32>::min(), std::numeric_limits<S32>::max(), -1}) {
    for (S16 wn : {std::numeric_limits<S16>::min(), std::numeric_limits<S16>::max(), static_cast<S16>(-1)}) {
      ALM_clear_one(7);
      const Page p = alm_test::encode_almanac(alm_test::typical(7, 255));
      EXPECT_EQ(ALM_update_datawords(wn, tow, p.data()), 1);
      S16 wna = -1;
      ASSERT_EQ(ALM_get_wna(ALM_get_reference(7), &wna), 1);
      EXPECT_TRUE(wna >= 0 && wna <= 1023) << wna;
      POS_T pos{};
      if (ALM_calc_SV_position(ALM_get_reference(7), wn, tow, &pos, nullptr) == 1) {
        EXPECT_TRUE(std::isfinite(pos.px) && std::isfinite(pos.py) && std::isfinite(pos.pz));
      }
    }
  }
  EXPECT_EQ(ALM_update_datawords(WEEK, 0, nullptr), 0);
  EXPECT_EQ(ALM_update_WNa_subframe(nullptr), 0);
  for (S16 prn : {static_cast<S16>(-1), static_cast<S16>(0), static_cast<S16>(39), static_cast<S16>(32767)}) {
    EXPECT_EQ(ALM_get_reference(prn), nullptr);
    ALM_clear_one(prn);
    ALM_set(prn, nullptr);
  }
  EXPECT_EQ(ALM_get_health(nullptr), ALM_NO_HEALTH);
  EXPECT_EQ(ALM_calc_SV_position(nullptr, WEEK, 0, nullptr, nullptr), 0);
}

}  // namespace

namespace {

// An ephemeris decode seeds the almanac below level 3 (orbit, toa = toe, the
// week of toe, the health); a broadcast almanac (level 4) is kept.
TEST_F(Almanac, EphemerisSeedsTheAlmanacBelowLevelThree) {
  ASSERT_EQ(init_full_sky(WEEK, T0), 1);
  struct Case {
    const char* name;
    int svid;
    bool broadcast_first;
    S16 expect_level;
  };
  const std::array<Case, 3> cases = {{{"no almanac", 3, false, ALM_VLAID_FROM_EPH},
                                      {"another satellite", 17, false, ALM_VLAID_FROM_EPH},
                                      {"broadcast almanac kept", 8, true, ALM_VLAID_FROM_DATA}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.broadcast_first) {
      const SkyPage pg = sky_almanac_page(c.svid);
      ASSERT_EQ(ALM_update_datawords(WEEK, pg.tow, pg.words.data()), 1);
    }
    load_sky_ephemeris(c.svid, sky_frame(c.svid, WEEK, T0));
    const ALM_T alm = ALM_get_reference(static_cast<S16>(c.svid));
    ASSERT_EQ(ALM_has_valid_data(alm), c.expect_level);
    if (c.broadcast_first) continue;
    const EPH_T eph = EPH_get_reference(static_cast<S16>(c.svid));
    const ALM_S r = record_of(c.svid);
    EXPECT_EQ(r.toa, EPH_get_toe(eph));
    EXPECT_EQ(r.wna, EPH_get_wn(eph));
    EXPECT_EQ(r.health, EPH_get_health(eph));
    // an orbit without harmonic terms: within a few km of the truth over an hour
    for (int dt : {0, 1800, 3600}) {
      const int t = r.toa + dt;
      POS_T p{};
      ASSERT_EQ(ALM_calc_SV_position(alm, WEEK, t, &p, nullptr), 1);
      double tp[3];
      ASSERT_NO_FATAL_FAILURE(sky_truth(c.svid, t, tp, nullptr));
      EXPECT_LT(dist(p, tp), 5000.0) << dt;
    }
  }
  EPH_clear_all();
}

}  // namespace
