// Ephemeris store: subframes 1..3 from the simulated sky's navigation words
// decoded by the kernel, then satellite positions and clocks against the
// sky's own (independent) IS-GPS-200 orbit and against the RTK engine's
// broadcast-orbit routine; hostile records; confirmation; week correction;
// backup records in both byte orders.
#include "kernel/src/ephemeris.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "kernel/src/backup_layout.h"
#include "kernel/src/dbits_parity.h"
#include "misc/crc16.h"
#include "misc/endian_swap.h"
#include "rtk/eph.h"
#include "tests/kernel/sky_ephemeris.h"
#include "tests/tools/sky/sky_engine_eph.h"
#include "tools/sky/sky.h"

namespace {

using Frame = SkyFrame;

constexpr int WEEK_S = 604800;
constexpr D64 NaN = std::numeric_limits<D64>::quiet_NaN();
constexpr D64 INF = std::numeric_limits<D64>::infinity();

EPH_T load(int svid, const Frame& f) { return load_sky_ephemeris(svid, f); }

// Write n bits of value v at data bit Dfirst of a corrected word.
void put_bits(U32* w, int first, int n, U32 v) {
  const int shift = 31 - first - n;
  const U32 mask = ((1U << n) - 1U) << shift;
  *w = (*w & ~mask) | ((v << shift) & mask);
}

class Ephemeris : public ::testing::Test {
 protected:
  void SetUp() override {
    ENDIAN_set_swap_flag(0);
    ASSERT_EQ(init_full_sky(2400, 600000.0, 48.1, 11.6), 1);
    region_.fill(0);
    EPH_init_storage_address(region_.data(), OFFSET);
    EPH_init(nullptr);
  }
  void TearDown() override {
    ENDIAN_set_swap_flag(0);
    EPH_init_storage_address(nullptr, 0);
    EPH_init(nullptr);
  }
  static constexpr U32 OFFSET = 2128;
  std::array<U08, 8600> region_{};
};

// Every satellite, every minute of a 2 h 10 min set across the end of week
// 2400 (with at least one change of data set): the decoded record reproduces
// the sky's orbit and clock within 1 mm and 1 ns, and the RTK engine's orbit
// within 1 mm for the same broadcast fields.
TEST_F(Ephemeris, PositionsAndClocksEqualTheSkyAndTheRtkOrbitAcrossAWeek) {
  int n = 0, iode_changes = 0, weeks_seen = 0;
  D64 worst_sky_m = 0.0, worst_clk_s = 0.0, worst_rtk_m = 0.0, worst_vel = 0.0;
  for (int svid = 1; svid <= SKY_MAX_SV; ++svid) {
    int last_iode = -1, last_week = 0;
    for (int k = -65; k <= 65; ++k) {
      const int week = k < 0 ? 2400 : 2401;
      const D64 tow = k < 0 ? WEEK_S + 60.0 * k : 60.0 * k;
      const D64 frame_tow = std::floor(tow / 30.0) * 30.0;
      SKY_EPH_T se{};
      ASSERT_EQ(SKY_get_ephemeris(svid, SKY_GPST_T{week, frame_tow}, &se), 1) << "svid " << svid;
      const EPH_T e = load(svid, sky_frame(svid, week, tow));
      const std::string at =
          "svid " + std::to_string(svid) + " week " + std::to_string(week) + " tow " + std::to_string(tow);
      ASSERT_EQ(EPH_get_iode(e), se.iode) << at;
      ASSERT_EQ(EPH_get_wn(e), se.week % 1024) << at;
      EXPECT_TRUE(e->IODC == se.iodc && e->URA == se.ura && e->health == se.health && e->toc == se.toc * 16 &&
                  e->toe == se.toe * 16 && e->AODO == se.aodo * 900 &&
                  e->TGD == static_cast<F32>(std::ldexp(static_cast<D64>(se.tgd), -31)))
          << at;
      if (last_iode >= 0 && se.iode != last_iode) ++iode_changes;
      if (svid == 1 && week != last_week) ++weeks_seen;
      last_iode = se.iode;
      last_week = week;

      EPH_POS_T p{};
      EPH_VEL_T v{};
      EPH_ACC_T a{};
      ASSERT_EQ(EPH_calc_SV_position(e, static_cast<S16>(week), tow, &p, &v, &a), 1) << at;
      D64 dt = 0.0, dt_l1 = 0.0;
      ASSERT_EQ(EPH_get_clock_correction(e, static_cast<S16>(week), tow, &dt, &dt_l1), 1) << at;

      std::array<D64, 3> sp{}, sv{};
      D64 sclk = 0.0;
      ASSERT_EQ(SKY_eph_sat_state(&se, SKY_GPST_T{week, tow}, sp.data(), sv.data(), &sclk), 1) << at;
      const D64 d_sky = std::hypot(p.px - sp[0], p.py - sp[1], p.pz - sp[2]);
      EXPECT_LT(d_sky, 1e-3) << at;
      EXPECT_LT(std::fabs(dt - sclk), 1e-9) << at;
      EXPECT_NEAR(dt - dt_l1, std::ldexp(static_cast<D64>(se.tgd), -31), 1e-15) << at;
      const D64 d_vel = std::hypot(v.vx - sv[0], v.vy - sv[1], v.vz - sv[2]);
      EXPECT_LT(d_vel, 1e-3) << at;  // m/s, F32 storage

      const eph_t re = sky_test::to_engine(se);  // the RTK engine's record of the same fields
      std::array<D64, 3> rp{};
      D64 rdts = 0.0, rvar = 0.0;
      eph2pos(gpst2time(week, tow), &re, rp.data(), &rdts, &rvar);
      const D64 d_rtk = std::hypot(p.px - rp[0], p.py - rp[1], p.pz - rp[2]);
      EXPECT_LT(d_rtk, 1e-3) << at;

      worst_sky_m = std::max(worst_sky_m, d_sky);
      worst_rtk_m = std::max(worst_rtk_m, d_rtk);
      worst_clk_s = std::max(worst_clk_s, std::fabs(dt - sclk));
      worst_vel = std::max(worst_vel, d_vel);
      ++n;
    }
  }
  EXPECT_GT(iode_changes, 0);
  EXPECT_EQ(weeks_seen, 2);
  std::printf(
      "ephemeris: %d states, worst |dpos| sky %.3g m, rtk %.3g m, |dclk| %.3g s, |dvel| %.3g m/s, "
      "%d data-set changes\n",
      n, worst_sky_m, worst_rtk_m, worst_clk_s, worst_vel, iode_changes);
}

// Acceleration: the change of velocity over one second agrees with the stored acceleration.
TEST_F(Ephemeris, AccelerationMatchesTheVelocityChange) {
  const EPH_T e = load(7, sky_frame(7, 2400, 100000.0));
  EPH_VEL_T v0{}, v1{};
  EPH_ACC_T a{};
  ASSERT_EQ(EPH_calc_SV_position(e, 2400, 100000.0, nullptr, &v0, &a), 1);
  ASSERT_EQ(EPH_calc_SV_position(e, 2400, 100001.0, nullptr, &v1, nullptr), 1);
  EXPECT_NEAR(v1.vx - v0.vx, a.ax, 2e-3);
  EXPECT_NEAR(v1.vy - v0.vy, a.ay, 2e-3);
  EXPECT_NEAR(v1.vz - v0.vz, a.az, 2e-3);
  EXPECT_GT(std::hypot(a.ax, a.ay, a.az), 0.3);  // gravity about 0.57 m/s^2 at GPS height, less the earth-fixed terms
}

// Hostile records: the request fails and writes nothing (no NaN reaches the caller).
struct Hostile {
  const char* name;
  void (*spoil)(EPH_S*);
};
const Hostile HOSTILE[] = {
    {"A_zero", [](EPH_S* r) { r->A = 0.0; }},
    {"A_negative", [](EPH_S* r) { r->A = -1.0; }},
    {"A_nan", [](EPH_S* r) { r->A = NaN; }},
    {"A_inf", [](EPH_S* r) { r->A = INF; }},
    {"e_nan", [](EPH_S* r) { r->e = NaN; }},
    {"e_one", [](EPH_S* r) { r->e = 1.0; }},
    {"M0_inf", [](EPH_S* r) { r->M0 = INF; }},
    {"Omega0_nan", [](EPH_S* r) { r->Omega_0 = NaN; }},
    {"i0_nan", [](EPH_S* r) { r->i0 = NaN; }},
    {"omega_inf", [](EPH_S* r) { r->omega = -INF; }},
    {"Omega_dot_nan", [](EPH_S* r) { r->Omega_dot = NaN; }},
    {"Crs_nan", [](EPH_S* r) { r->Crs = std::numeric_limits<F32>::quiet_NaN(); }},
    {"Cuc_inf", [](EPH_S* r) { r->Cuc = std::numeric_limits<F32>::infinity(); }},
    {"Cis_nan", [](EPH_S* r) { r->Cis = std::numeric_limits<F32>::quiet_NaN(); }},
    {"delta_n_nan", [](EPH_S* r) { r->delta_n = std::numeric_limits<F32>::quiet_NaN(); }},
    {"IDOT_inf", [](EPH_S* r) { r->IDOT = std::numeric_limits<F32>::infinity(); }},
    {"af0_nan", [](EPH_S* r) { r->af0 = std::numeric_limits<F32>::quiet_NaN(); }},
    {"TGD_nan", [](EPH_S* r) { r->TGD = std::numeric_limits<F32>::quiet_NaN(); }},
};

TEST_F(Ephemeris, HostileRecordsFailWithoutNaN) {
  for (const Hostile& h : HOSTILE) {
    const EPH_T e = load(12, sky_frame(12, 2400, 200000.0));
    h.spoil(e);
    EPH_POS_T p{1.0, 2.0, 3.0};
    EPH_VEL_T v{4.0F, 5.0F, 6.0F};
    EPH_ACC_T a{7.0F, 8.0F, 9.0F};
    D64 dt = 10.0, dt_l1 = 11.0;
    EXPECT_EQ(EPH_calc_SV_position(e, 2400, 200000.0, &p, &v, &a), 0) << h.name;
    EXPECT_EQ(EPH_get_clock_correction(e, 2400, 200000.0, &dt, &dt_l1), 0) << h.name;
    EXPECT_TRUE(p.px == 1.0 && p.py == 2.0 && p.pz == 3.0) << h.name;
    EXPECT_TRUE(v.vx == 4.0F && a.az == 9.0F) << h.name;
    EXPECT_TRUE(dt == 10.0 && dt_l1 == 11.0) << h.name;
  }
}

// Records that pass every field check but describe no satellite (from a
// corrupted store): an orbit far beyond any broadcast sqrt(A), a node turning
// at 1 rad/s, a clock drift whose polynomial leaves single precision. No
// position, no clock; never a non-finite or absurd value for the ranges.
TEST_F(Ephemeris, AbsurdOrbitsAndClocksGiveNothing) {
  struct Case {
    const char* name;
    void (*spoil)(EPH_S*);
    bool position, clock;  // still available
  };
  const Case cases[] = {
      {"A of 1e16 m", [](EPH_S* r) { r->A = 1e16; }, false, true},
      {"node rate 1 rad/s", [](EPH_S* r) { r->Omega_dot = 1.0; }, false, true},
      {"af1 3e38 s/s", [](EPH_S* r) { r->af1 = 3e38F; }, true, false},
  };
  for (const Case& c : cases) {
    const EPH_T e = load(12, sky_frame(12, 2400, 200000.0));
    c.spoil(e);
    EPH_POS_T p{};
    EPH_VEL_T v{};
    EPH_ACC_T a{};
    F32 dt = 0.0F, ddt = 0.0F;
    EXPECT_EQ(EPH_calc_SV_position(e, 2400, 200100.0, &p, &v, &a), c.position ? 1 : 0) << c.name;
    EXPECT_EQ(EPH_get_delta_tsv(e, 2400, 200100.0, &dt, &ddt), c.clock ? 1 : 0) << c.name;
  }
}

// A sqrt(A) field of 0 in subframe 2 (parity may well pass) decodes to A = 0: no position.
TEST_F(Ephemeris, ZeroSqrtAFromTheSubframeGivesNoPosition) {
  Frame f = sky_frame(3, 2400, 300000.0);
  put_bits(&f.w[1][7], 17, 8, 0);
  put_bits(&f.w[1][8], 1, 24, 0);
  const EPH_T e = load(3, f);
  EPH_POS_T p{};
  EXPECT_EQ(EPH_calc_SV_position(e, 2400, 300000.0, &p, nullptr, nullptr), 0);
  EXPECT_EQ(EPH_get_clock_correction(e, 2400, 300000.0, nullptr, nullptr), 0);
}

// URA index 15 ("no accuracy prediction"): never usable for ranging; 0..14 usable.
TEST_F(Ephemeris, UraIndexFifteenIsNotUsableForRanging) {
  struct Case {
    U32 ura;
    S16 usable;
  };
  for (const Case c : {Case{0, 1}, Case{14, 1}, Case{15, 0}}) {
    Frame f = sky_frame(5, 2400, 400000.0);
    put_bits(&f.w[0][2], 13, 4, c.ura);
    const EPH_T e = load(5, f);
    EXPECT_EQ(EPH_get_URA(5), static_cast<S16>(c.ura)) << "URA " << c.ura;
    EXPECT_EQ(EPH_is_usable_for_ranging(e), c.usable) << "URA " << c.ura;
  }
  EXPECT_EQ(EPH_is_usable_for_ranging(nullptr), 0);
  EPH_clear_one(5);
  EXPECT_EQ(EPH_is_usable_for_ranging(EPH_get_reference(5)), 0);
}

// Confirmation: an identical second copy confirms; one differing copy with the
// same IODE is kept out, a second one replaces the record; a new IODE decodes at once.
TEST_F(Ephemeris, ConfirmationAndReplacementRules) {
  const Frame good = sky_frame(9, 2400, 500000.0);
  Frame bad = good;
  put_bits(&bad.w[2][8], 1, 24, 12345);  // Omega dot changed, same IODE
  EPH_T e = load(9, good);
  const D64 omega_dot = e->Omega_dot;
  EXPECT_EQ(EPH_pass_valid_check(e), 0);
  EXPECT_EQ(EPH_update_datawords(e, bad.w), 0);
  EXPECT_EQ(e->Omega_dot, omega_dot);
  EXPECT_EQ(EPH_update_datawords(e, good.w), 0);
  EXPECT_EQ(EPH_pass_valid_check(e), 1);
  EXPECT_EQ(EPH_update_datawords(e, bad.w), 0);  // confirmed: kept
  EXPECT_EQ(e->Omega_dot, omega_dot);

  e = load(9, good);
  EXPECT_EQ(EPH_update_datawords(e, bad.w), 0);
  EXPECT_EQ(EPH_update_datawords(e, bad.w), 1);  // second mismatch replaces
  EXPECT_NE(e->Omega_dot, omega_dot);

  Frame next = good;
  put_bits(&next.w[1][2], 1, 8, (static_cast<U32>(e->IODE) + 1U) & 0xFFU);
  EXPECT_EQ(EPH_update_datawords(e, next.w), 1);
}

// Week of toe: transmitted late in a week with toe early in the next gives WN + 1
// (1023 wraps to 0); transmitted early in the week with toe late in the previous gives WN - 1.
TEST_F(Ephemeris, WeekCorrectionFollowsToe) {
  struct Case {
    const char* name;
    U32 wn10, how_count, toe16;
    S16 want;
  };
  const Case cases[] = {
      {"late_week_toe_next", 400, 100790, 0, 401},
      {"wrap_1023", 1023, 100790, 450, 0},
      {"same_week", 400, 50000, 18000, 400},
      {"early_week_toe_prev", 400, 2, 37575, 399},
  };
  for (const Case& c : cases) {
    Frame f = sky_frame(11, 2400, 100000.0);
    put_bits(&f.w[0][2], 1, 10, c.wn10);
    put_bits(&f.w[0][1], 1, 17, c.how_count);
    put_bits(&f.w[1][9], 1, 16, c.toe16);
    const EPH_T e = load(11, f);
    EXPECT_EQ(EPH_get_wn(e), c.want) << c.name;
  }
  EXPECT_EQ(EPH_calculate_tk_integer(1023, 604000, 0, 800), 1600);  // across the 1024-week rollover
  EXPECT_EQ(EPH_calculate_tk_integer(1, 0, 2049, 10), 10);          // weeks compared modulo 1024
}

// Validity windows: broadcast orbit 10800 s before to 7200 s after toe.
TEST_F(Ephemeris, ValidityWindow) {
  const EPH_T e = load(14, sky_frame(14, 2400, 300000.0));
  const D64 toe = e->toe;
  struct Case {
    D64 dt;
    S16 ok;
  };
  for (const Case c : {Case{-10800.0, 1}, Case{-10801.0, 0}, Case{7200.0, 1}, Case{7201.0, 0}}) {
    EXPECT_EQ(EPH_calc_SV_position(e, 2400, toe + c.dt, nullptr, nullptr, nullptr), c.ok) << c.dt;
  }
  // Clock: broadcast to 7380 s after toc; an aiding-source record 7380 s either side of toe and toc.
  const D64 toc = e->toc;
  for (const Case c : {Case{-10800.0, 1}, Case{-10801.0, 0}, Case{7380.0, 1}, Case{7381.0, 0}}) {
    EXPECT_EQ(EPH_get_delta_tsv(e, 2400, toc + c.dt, nullptr, nullptr), c.ok) << "clock " << c.dt;
  }
  EPH_set_data_source(14, 1);
  for (const Case c : {Case{-7380.0, 1}, Case{-7381.0, 0}, Case{7380.0, 1}, Case{7381.0, 0}}) {
    EXPECT_EQ(EPH_calc_SV_position(e, 2400, toe + c.dt, nullptr, nullptr, nullptr), c.ok) << "aiding " << c.dt;
    EXPECT_EQ(EPH_get_delta_tsv(e, 2400, toc + c.dt, nullptr, nullptr), c.ok) << "aiding clock " << c.dt;
  }
  EPH_set_data_source(14, 0);
  EXPECT_EQ(EPH_is_overdue(e, 2400, static_cast<S32>(toe) + 7200), 0);
  EXPECT_EQ(EPH_is_overdue(e, 2400, static_cast<S32>(toe) + 7201), 1);
  EXPECT_EQ(EPH_get_reference(0), nullptr);
  EXPECT_EQ(EPH_get_reference(39), nullptr);
  EXPECT_EQ(EPH_get_health(nullptr), 63);
  EXPECT_EQ(EPH_get_iode(nullptr), -1);
}

// The record layout of the backup piece, field widths in order (byte-order conversion on the test side).
constexpr std::array<int, 32> WIDTHS{8, 8, 8, 8, 8, 8, 8, 2, 2, 2, 2, 1, 1, 2, 4, 4,
                                     4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 1, 1, 1, 1};

// The piece as a host of the other byte order writes it: every field
// reversed, the CRC word computed over those bytes and stored reversed (0
// stays 0: an invalid record).
void swap_piece(U08* piece) {
  for (U32 r = 0; r < EPH_N_RECORDS; ++r) {
    U08* rec = piece + r * EPH_RECORD_SIZE;
    U08* p = rec;
    for (int w : WIDTHS) {
      for (int i = 0; i < w / 2; ++i) std::swap(p[i], p[w - 1 - i]);
      p += w;
    }
    U08* c = piece + EPH_N_RECORDS * EPH_RECORD_SIZE + r * 2;
    if (c[0] == 0 && c[1] == 0) continue;
    const U16 crc = crc16(rec, EPH_RECORD_SIZE);
    std::memcpy(c, &crc, 2);
    std::swap(c[0], c[1]);
  }
}

// Records survive a save and restore, in this host's byte order and in the other.
TEST_F(Ephemeris, BackupRecordsSurviveSaveAndRestoreInBothByteOrders) {
  const std::array<int, 4> svids{1, 17, 32, 38};
  std::array<EPH_S, 4> want{};
  for (size_t i = 0; i < svids.size(); ++i) {
    const EPH_T e = load(svids[i], sky_frame(std::min(svids[i], 32), 2400, 100000.0 + 3000.0 * i));
    e->prn = static_cast<S16>(svids[i]);
    EPH_update_datawords(e, sky_frame(std::min(svids[i], 32), 2400, 100000.0 + 3000.0 * i).w);  // confirm
    want[i] = *e;
  }
  // The CRC words are CRC-16/XMODEM of the stored record bytes.
  U08* piece = region_.data() + OFFSET;
  for (size_t i = 0; i < svids.size(); ++i) {
    const size_t idx = static_cast<size_t>(svids[i] - 1);
    U16 crc = 0;
    std::memcpy(&crc, piece + 4864 + idx * 2, 2);
    EXPECT_EQ(crc, crc16(piece + idx * 128, 128)) << svids[i];
    EXPECT_NE(crc, 0) << svids[i];
  }
  const std::array<U08, 8600> saved = region_;

  for (int order = 0; order < 2; ++order) {
    EPH_clear_all();  // the working copy forgets; only the image holds the records now
    region_ = saved;
    if (order == 1) swap_piece(region_.data() + OFFSET);
    ENDIAN_set_swap_flag(static_cast<S16>(order));
    EPH_init_storage_address(region_.data(), OFFSET);
    EXPECT_EQ(EPH_init(nullptr), 4940);
    ENDIAN_set_swap_flag(0);
    for (size_t i = 0; i < svids.size(); ++i) {
      const EPH_T e = EPH_get_reference(static_cast<S16>(svids[i]));
      EXPECT_EQ(std::memcmp(e, &want[i], sizeof(EPH_S)), 0) << "order " << order << " svid " << svids[i];
      EXPECT_EQ(EPH_pass_valid_check(e), 1) << "order " << order << " svid " << svids[i];
    }
    EXPECT_EQ(EPH_has_valid_data(EPH_get_reference(2)), 0) << "order " << order;
    // After the restore the image is in this host's order again: identical to the saved one.
    EXPECT_EQ(std::memcmp(region_.data() + OFFSET, saved.data() + OFFSET, EPH_BACKUP_SIZE), 0) << "order " << order;
  }
}

// A record whose bytes no longer match its CRC, or from the aiding source, is dropped at start.
TEST_F(Ephemeris, BackupRecordsFailingTheirCrcAreDropped) {
  load(4, sky_frame(4, 2400, 100000.0));
  load(6, sky_frame(6, 2400, 100000.0));
  EPH_set_data_source(6, 1);
  region_[OFFSET + 3 * 128 + 20] ^= 0x01U;  // one bit of record 4's A
  EPH_init(nullptr);
  EXPECT_EQ(EPH_has_valid_data(EPH_get_reference(4)), 0);
  EXPECT_EQ(EPH_has_valid_data(EPH_get_reference(6)), 0);
  EXPECT_EQ(EPH_get_prn(EPH_get_reference(4)), 4);
}

}  // namespace
