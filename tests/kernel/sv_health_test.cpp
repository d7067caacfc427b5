// Satellite health: the page-25 health words of the simulated sky
// (IS-GPS-200 20.3.3.5.1.3), the backup piece and hostile pages.
#include <array>
#include <cmath>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "kernel/src/backup_layout.h"
#include "kernel/src/sv_health.h"
#include "misc/crc16.h"
#include "misc/endian_swap.h"
#include "tests/kernel/sky_almanac.h"
#include "tools/sky/sky.h"

namespace {

constexpr int WEEK = 2345;

std::array<U08, SVH_BACKUP_SIZE> Region{};

alm_test::Page sky_page25(int sf, int tx) {
  return alm_test::sky_subframe(tx, WEEK, alm_test::subframe_index(300, 25, sf));
}

class SvHealth : public ::testing::Test {
 protected:
  void SetUp() override {
    ENDIAN_set_swap_flag(0);
    Region.fill(0);
    SVH_init(Region.data());
  }
  void TearDown() override { ENDIAN_set_swap_flag(0); }
};

// A sky of n satellites marks svid n+1..32 as not present (63); the others
// healthy. Subframe 5 carries 1..24, subframe 4 25..32; 33..38 stay as stored.
TEST_F(SvHealth, SkyPagesGiveEverySatellitesHealth) {
  struct Case {
    const char* name;
    int nsat;
  };
  const std::array<Case, 3> cases = {{{"32 satellites", 32}, {"27 satellites", 27}, {"20 satellites", 20}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    static SKY_SCENARIO_T sc;
    sc = SKY_SCENARIO_T{};
    sc.start = SKY_GPST_T{WEEK, 180000.0};
    sc.nsat = c.nsat;
    ASSERT_EQ(SKY_init(&sc), 1);
    Region.fill(0);
    SVH_init(Region.data());
    EXPECT_EQ(SVH_has_valid_data(), 0);
    SVH_update_datawords(5, sky_page25(5, 1).data());
    EXPECT_EQ(SVH_has_valid_data(), 0);
    SVH_update_datawords(4, sky_page25(4, 1).data());
    EXPECT_EQ(SVH_has_valid_data(), 1);
    for (int prn = 1; prn <= 32; ++prn) EXPECT_EQ(SVH_get_health(static_cast<S16>(prn)), prn <= c.nsat ? 0 : 63) << prn;
    for (int prn = 33; prn <= 38; ++prn) EXPECT_EQ(SVH_get_health(static_cast<S16>(prn)), 63) << prn;
  }
}

// Hand-built pages: each of the 6-bit slots at its own place.
TEST_F(SvHealth, EverySlotAtItsPlace) {
  alm_test::Page p5{};
  alm_test::put(&p5[2], 1, 2, 1);
  alm_test::put(&p5[2], 3, 6, 51);
  for (int sv = 1; sv <= 24; ++sv)
    alm_test::put(&p5[static_cast<std::size_t>(3 + (sv - 1) / 4)], 1 + 6 * ((sv - 1) % 4), 6, sv);
  alm_test::Page p4{};
  alm_test::put(&p4[2], 1, 2, 1);
  alm_test::put(&p4[2], 3, 6, 63);
  alm_test::put(&p4[7], 19, 6, 25);
  for (int sv = 26; sv <= 29; ++sv) alm_test::put(&p4[8], 1 + 6 * (sv - 26), 6, sv);
  for (int sv = 30; sv <= 32; ++sv) alm_test::put(&p4[9], 1 + 6 * (sv - 30), 6, sv);
  SVH_update_datawords(5, p5.data());
  SVH_update_datawords(4, p4.data());
  for (int prn = 1; prn <= 32; ++prn) EXPECT_EQ(SVH_get_health(static_cast<S16>(prn)), prn) << prn;
}

// The backup piece: CRC round trip, a corrupted piece (flags cleared), the
// other byte order restored, the packed form.
TEST_F(SvHealth, BackupPiece) {
  static SKY_SCENARIO_T sc;
  sc = SKY_SCENARIO_T{};
  sc.start = SKY_GPST_T{WEEK, 180000.0};
  sc.nsat = 30;
  ASSERT_EQ(SKY_init(&sc), 1);
  SVH_update_datawords(5, sky_page25(5, 2).data());
  SVH_update_datawords(4, sky_page25(4, 2).data());
  U16 crc = 0;
  std::memcpy(&crc, Region.data() + 42, 2);
  EXPECT_EQ(crc, crc16(Region.data(), 42));
  const std::array<U08, SVH_BACKUP_SIZE> good = Region;
  struct Case {
    const char* name;
    int corrupt_byte;
    bool other_order;
    bool swap_flag;
    int expect_valid;
  };
  const std::array<Case, 5> cases = {{{"round trip", -1, false, false, 1},
                                      {"corrupted health", 3, false, false, 0},
                                      {"corrupted flag", 40, false, false, 0},
                                      {"other byte order", -1, true, true, 1},
                                      {"host order under the swap flag", -1, false, true, 0}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Region = good;
    if (c.corrupt_byte >= 0) Region[static_cast<std::size_t>(c.corrupt_byte)] ^= 0x04;
    if (c.other_order) {
      std::swap(Region[38], Region[39]);
      std::swap(Region[40], Region[41]);
      const U16 other = crc16(Region.data(), 42);
      Region[42] = static_cast<U08>(other >> 8);
      Region[43] = static_cast<U08>(other & 0xFF);
    }
    ENDIAN_set_swap_flag(c.swap_flag ? 1 : 0);
    SVH_init(Region.data());
    ENDIAN_set_swap_flag(0);
    EXPECT_EQ(SVH_has_valid_data(), c.expect_valid);
    if (c.expect_valid == 1) {
      EXPECT_EQ(std::memcmp(Region.data(), good.data(), good.size()), 0);
      EXPECT_EQ(SVH_get_health(31), 63);
      EXPECT_EQ(SVH_get_health(30), 0);
    }
  }
  EXPECT_EQ(SVH_get_backup_size(), 42);
  SVH_update_from_packed_backup_region(good.data());
  EXPECT_EQ(std::memcmp(Region.data(), good.data(), good.size()), 0);
  EXPECT_EQ(SVH_has_valid_data(), 1);
}

// Hostile pages: wrong subframe, wrong SV IDs, arbitrary words, ids outside
// the table.
TEST_F(SvHealth, HostilePagesAreIgnored) {
  const std::array<U08, SVH_BACKUP_SIZE> before = Region;
  for (int sf = -1; sf <= 6; ++sf)
    for (int id = 0; id < 64; ++id) {
      if ((sf == 5 && id == 51) || (sf == 4 && id == 63)) continue;
      alm_test::Page p{};
      for (U32& w : p) w = 0x3FFFFFC0U;
      p[2] = 0;
      alm_test::put(&p[2], 3, 6, id);
      SVH_update_datawords(static_cast<S16>(sf), p.data());
    }
  EXPECT_EQ(std::memcmp(Region.data(), before.data(), before.size()), 0);
  SVH_update_datawords(5, nullptr);
  SVH_update_from_packed_backup_region(nullptr);
  for (S16 prn : {static_cast<S16>(-5), static_cast<S16>(0), static_cast<S16>(39), static_cast<S16>(200)})
    EXPECT_EQ(SVH_get_health(prn), 63);
}

}  // namespace
