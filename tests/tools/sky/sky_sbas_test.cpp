// SBAS GEO satellites of the simulated sky: the encoder and CRC-24Q as known
// answers of RTCA DO-229 (G1 = 171, G2 = 133 octal; CRC-24Q check value), the
// sky's encoded symbol stream decoded by the kernel's SBAS decoder at 0 % and
// 2 % symbol errors (every message after lock with a good CRC, the type 9
// blocks bit for bit), and the sky's type 9 message turned into the GEO
// position and velocity by the kernel against the sky's true orbit.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "kernel/src/backup_layout.h"
#include "kernel/src/sbas_decode.h"
#include "kernel/src/sbas_geo.h"
#include "misc/endian_swap.h"
#include "tools/sky/sky.h"
#include "tools/sky/sky_sbas.h"

namespace {

constexpr int64_t WEEK_S = 604800;

SKY_SBAS_GEO_T geo_129() {
  SKY_SBAS_GEO_T g;
  g.prn = 129;
  g.lon_deg = 140.0;
  g.incl_deg = 0.05;
  g.ecc = 0.0002;
  g.phase_rad = 0.7;
  g.ura = 2;
  g.gps_prn_mask = 0x3FF;  // PRN 1..10
  g.seed = 9;
  return g;
}

// --- known answers ----------------------------------------------------------------------------

TEST(SkySbasEncoder, ImpulseResponseIsTheGeneratorTaps) {
  // A single 1 then zeros: pair d is (bit 6-d of G1, bit 6-d of G2).
  constexpr std::array<int, 7> EXPECTED = {0b11, 0b10, 0b11, 0b11, 0b00, 0b01, 0b11};
  SKY_SBAS_ENC_T e;
  for (std::size_t d = 0; d < EXPECTED.size(); ++d) {
    SCOPED_TRACE(d);
    EXPECT_EQ(SKY_SBAS_encode_bit(&e, d == 0 ? 1 : 0), EXPECTED[d]);
  }
  EXPECT_EQ(SKY_SBAS_encode_bit(&e, 0), 0);  // the 1 has left the register
}

TEST(SkySbasCrc, CheckValueAndMessageParity) {
  // "123456789" -> 0xCDE703, the published check value of CRC-24Q.
  std::array<uint32_t, 3> w{0x31323334, 0x35363738, 0x39000000};
  EXPECT_EQ(SKY_SBAS_crc24q(w.data(), 72), 0xCDE703U);
  const SKY_SBAS_GEO_T g = geo_129();
  for (int64_t k = 1000; k < 1000 + SKY_SBAS_CYCLE_S; ++k) {
    SCOPED_TRACE(k);
    std::array<uint32_t, 8> b{};
    SKY_SBAS_message(g, k, b.data());
    EXPECT_EQ(SKY_SBAS_crc24q(b.data(), 250), 0U);            // parity included: remainder 0
    EXPECT_EQ(crc24q_parity_check_by_tab(b.data(), 250), 1);  // and the kernel agrees
    EXPECT_EQ(b[0] >> 24, (std::array<uint32_t, 3>{0x53, 0x9A, 0xC6}[static_cast<std::size_t>(k % 3)]));
  }
}

// --- the stream through the kernel's decoder ------------------------------------------------

std::vector<std::array<uint32_t, 8>> Seen;
void record(S16, const U32* block, S16) {
  std::array<uint32_t, 8> b{};
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = block[i];
  Seen.push_back(b);
}

struct StreamCase {
  const char* name;
  double error_rate;
  int inverted;
  int64_t start_offset_symbols;  // first reported symbol after a whole second (odd: second symbol of a pair)
  int send_type0;
};

const StreamCase STREAM_CASES[] = {
    {"clean_upright", 0.0, 0, 0, 0},
    {"clean_inverted_odd_start", 0.0, 1, 77, 1},
    {"two_percent_upright", 0.02, 0, 10, 0},
    {"two_percent_inverted_odd_start", 0.02, 1, 333, 1},
};

constexpr int STREAM_SECONDS = 72;
constexpr int64_t START_S = 1900LL * WEEK_S + 345600 + 3;  // a whole GPS second of week 1900

TEST(SkySbasStream, DecodesToEveryMessageAfterLock) {
  for (const StreamCase& c : STREAM_CASES) {
    SCOPED_TRACE(c.name);
    SKY_SBAS_GEO_T g = geo_129();
    g.symbol_error_rate = c.error_rate;
    g.send_type0 = c.send_type0;
    SBAS_DBC_init();
    SBAS_BKC_install_callback_geos(record);
    Seen.clear();
    const S16 ndx = SBAS_DBC_new(3);
    ASSERT_EQ(ndx, 0);
    ASSERT_EQ(SBAS_DBC_check_prn(ndx, 129), 1);
    const int64_t n_first = START_S * SKY_SBAS_SYMBOLS_PER_S + c.start_offset_symbols;
    const int64_t words = STREAM_SECONDS * SKY_SBAS_SYMBOLS_PER_S / 32;
    int64_t lock_word = -1;
    S32 bk_at_lock = 0;
    S32 count = 32;
    for (int64_t i = 0; i < words; ++i, count += 32) {
      SBAS_DBC_collect(ndx, 5, 129, 3, SKY_SBAS_symbol_word(g, n_first + 32 * i, c.inverted), count);
      S16 locked = 0;
      S32 bk = 0, m9 = 0;
      SBAS_DBC_get_db_status(ndx, &locked, &bk, &m9);
      if (locked != 0 && lock_word < 0) {
        lock_word = i;
        bk_at_lock = bk;
      }
    }
    ASSERT_GE(lock_word, 0) << "never locked";
    S16 locked = 0;
    S32 bk = 0, m9 = 0;
    SBAS_DBC_get_db_status(ndx, &locked, &bk, &m9);
    EXPECT_EQ(locked, 1);
    // Messages sent whole after the lock and past the decoder's pipeline
    // (three Viterbi blocks of 96 symbols): each one passed its CRC.
    const int64_t lock_symbol = n_first + 32 * (lock_word + 1);
    const int64_t end_symbol = n_first + 32 * words - 3 * 96;
    const int64_t k_after = lock_symbol / SKY_SBAS_SYMBOLS_PER_S + 1;
    const int64_t k_end = end_symbol / SKY_SBAS_SYMBOLS_PER_S;  // messages before k_end are whole
    const auto sent_after = static_cast<S32>(k_end - k_after);
    EXPECT_GE(bk - bk_at_lock, sent_after);
    EXPECT_LE(bk - bk_at_lock, sent_after + 2);
    // The type 9 blocks are the sky's messages bit for bit.
    ASSERT_FALSE(Seen.empty());
    for (const auto& b : Seen) {
      bool found = false;
      for (int64_t k = START_S; k < START_S + STREAM_SECONDS && !found; ++k) {
        std::array<uint32_t, 8> m{};
        if (SKY_SBAS_message(g, k, m.data()) == 9) found = m == b;
      }
      EXPECT_TRUE(found) << "a type 9 block the sky never sent";
    }
    EXPECT_EQ(SBAS_has_fast_msg(), 1);
    EXPECT_EQ(SBAS_has_long_msg(), 1);
    EXPECT_EQ(SBAS_has_iono_msg(), 1);
    EXPECT_EQ(SBAS_has_inte_msg(), 1);
    U08 iodp = 0;
    U32 mask = 0;
    ASSERT_EQ(SBAS_BKC_get_prn_mask(&iodp, &mask), 1);
    U32 want_mask = 0;  // the field as sent: PRN 1 first, so in the most significant bit
    for (int prn = 1; prn <= 32; ++prn)
      if (((g.gps_prn_mask >> (prn - 1)) & 1U) != 0) want_mask |= 1U << (32 - prn);
    EXPECT_EQ(mask, want_mask);
    EXPECT_EQ(iodp, 1);
    std::printf("[ figures  ] %-32s locked after %lld symbols, %d messages passed (%d after lock of %d sent)\n", c.name,
                static_cast<long long>(32 * (lock_word + 1)), bk, bk - bk_at_lock, sent_after);
  }
}

// --- type 9 of the sky -> the kernel's GEO position ------------------------------------------

std::array<U08, KWAAS_BACKUP_SIZE>& region() {
  static std::array<U08, KWAAS_BACKUP_SIZE> r{};
  return r;
}

struct GeoCase {
  const char* name;
  int64_t k;  // message second (GPS seconds since week 0)
  int dt_s;   // position asked dt_s after reception
};

const GeoCase GEO_CASES[] = {
    {"at_t0_boundary", START_S + 13, 0},
    {"mid_interval", START_S + 1, 7},
    {"two_minutes_later", START_S + 25, 120},
    {"five_minutes_later", START_S + 37, 300},
    {"next_day_start", 1901LL * WEEK_S + 86400 - 11, 30},  // t0 before midnight, asked after it
};

TEST(SkySbasType9, KernelGeoPositionMatchesTheSkyOrbit) {
  const SKY_SBAS_GEO_T g = geo_129();
  for (const GeoCase& c : GEO_CASES) {
    SCOPED_TRACE(c.name);
    ENDIAN_set_swap_flag(0);
    region().fill(0);
    KWAAS_init_storage_address(region().data(), 0);
    const SBAS_PARAMETER_T p{1, 1, 8, 1, 3, 0xFF};
    KWAAS_init(&p, -1);
    // the type 9 message nearest at or after c.k
    int64_t k = c.k;
    std::array<uint32_t, 8> b{};
    while (SKY_SBAS_message(g, k, b.data()) != 9) ++k;
    const int64_t rx = k + 1;  // whole second after the message has arrived
    const auto wn = static_cast<S16>(rx / WEEK_S);
    ASSERT_EQ(SBAS_GEO_update_messages(wn, static_cast<S32>(rx % WEEK_S), 129, b.data(), 9), 1);
    const int64_t t = rx + c.dt_s;
    POS_T pos{};
    VEL_T vel{};
    ASSERT_EQ(SBAS_GEO_cal_sv_position(129, static_cast<S16>(t / WEEK_S), static_cast<S32>(t % WEEK_S), &pos, &vel), 1);
    double tp[3] = {};
    double tv[3] = {};
    SKY_SBAS_geo_state(g, static_cast<double>(t), tp, tv, nullptr);
    const double dp = std::hypot(pos.px - tp[0], pos.py - tp[1], pos.pz - tp[2]);
    const double dv = std::hypot(vel.vx - tv[0], vel.vy - tv[1], vel.vz - tv[2]);
    EXPECT_LT(dp, 1.0);
    EXPECT_LT(dv, 0.01);
    std::printf("[ figures  ] %-20s t - t0 = %4lld s: position off %.3f m, velocity off %.4f m/s (speed %.3f m/s)\n",
                c.name, static_cast<long long>(t - SKY_SBAS_type9_t0(k)), dp, dv, std::hypot(tv[0], tv[1], tv[2]));
  }
}

// --- scenario keys ----------------------------------------------------------------------------

struct KeyCase {
  const char* name;
  const char* text;
  int ok;
  int n_sbas;
};

const KeyCase KEY_CASES[] = {
    {"none", "nsat = 5\n", 1, 0},
    {"one_geo", "sbas = 129 140\n", 1, 1},
    {"three_geos_and_options",
     "sbas = 120 -15.5\nsbas = 133 -129\nsbas = 138 0\nsbas_type0 = 1\nsbas_symbol_errors = 0.02\n", 1, 3},
    {"four_geos_refused", "sbas = 120 0\nsbas = 121 1\nsbas = 122 2\nsbas = 123 3\n", 0, 0},
    {"prn_twice_refused", "sbas = 129 140\nsbas = 129 141\n", 0, 0},
    {"prn_below_120_refused", "sbas = 119 140\n", 0, 0},
    {"prn_above_138_refused", "sbas = 139 140\n", 0, 0},
    {"prn_not_whole_refused", "sbas = 129.5 140\n", 0, 0},
    {"longitude_out_of_range_refused", "sbas = 129 181\n", 0, 0},
    {"one_number_refused", "sbas = 129\n", 0, 0},
    {"type0_out_of_range_refused", "sbas_type0 = 2\n", 0, 0},
    {"error_rate_above_half_refused", "sbas_symbol_errors = 0.6\n", 0, 0},
};

TEST(SkySbasScenario, KeysAndTheirLimits) {
  for (const KeyCase& c : KEY_CASES) {
    SCOPED_TRACE(c.name);
    SKY_SCENARIO_T sc;
    char why[256] = "";
    ASSERT_EQ(SKY_parse_scenario(c.text, &sc, why, sizeof why), c.ok) << why;
    if (c.ok == 0) continue;
    EXPECT_EQ(sc.n_sbas, c.n_sbas);
    for (int i = 0; i < sc.n_sbas; ++i) {
      SKY_SBAS_GEO_T g;
      ASSERT_EQ(SKY_sbas_geo(&sc, i, &g), 1);
      EXPECT_EQ(g.prn, sc.sbas_prn[i]);
      EXPECT_EQ(g.lon_deg, sc.sbas_lon_deg[i]);
      EXPECT_EQ(g.send_type0, sc.sbas_type0);
      EXPECT_EQ(g.symbol_error_rate, sc.sbas_symbol_error_rate);
    }
    SKY_SBAS_GEO_T g;
    EXPECT_EQ(SKY_sbas_geo(&sc, sc.n_sbas, &g), 0);
  }
}

// The GEO's signal at an epoch: geometry of the true orbit, no clock term,
// transmit time = clock - pseudorange / c; above the mask it is visible.
TEST(SkySbasScenario, GeoSignalFollowsTheOrbit) {
  SKY_SCENARIO_T sc;
  char why[256] = "";
  ASSERT_EQ(SKY_parse_scenario("start_week = 2400\nstart_tow = 300000\nlat = 35.6\nlon = 139.7\nheight = 40\n"
                               "sbas = 129 140\nsbas = 122 -15.5\n",
                               &sc, why, sizeof why),
            1)
      << why;
  ASSERT_EQ(SKY_init(&sc), 1);
  SKY_EPOCH_T ep;
  ASSERT_EQ(SKY_epoch_at_clock(SKY_GPST_T{2400, 300010.0}, &ep), 1);
  ASSERT_EQ(ep.n_geo, 2);
  EXPECT_EQ(ep.geo[0].svid, 129);
  EXPECT_EQ(ep.geo[0].visible, 1);
  EXPECT_GT(ep.geo[0].el_deg, 40.0);
  EXPECT_EQ(ep.geo[1].svid, 122);
  EXPECT_EQ(ep.geo[1].visible, 0);  // over the Atlantic: below the horizon of Tokyo
  const SKY_SIGNAL_T& s = ep.geo[0];
  EXPECT_EQ(s.sat_clk_s, 0.0);
  EXPECT_NEAR(s.pseudorange_m, s.range_m + s.iono_m + s.tropo_m, 1e-6);
  EXPECT_NEAR((300010.0 - s.tx_time.tow) * 299792458.0, s.pseudorange_m, 0.02);  // a double tow resolves 1.7 cm
  SKY_SBAS_GEO_T g;
  ASSERT_EQ(SKY_sbas_geo(&sc, 0, &g), 1);
  double p[3] = {};
  SKY_SBAS_geo_state(g, 2400.0 * 604800.0 + s.tx_time.tow, p, nullptr, nullptr);
  EXPECT_NEAR(std::hypot(p[0], p[1], p[2]), std::hypot(s.sat_pos_ecef[0], s.sat_pos_ecef[1], s.sat_pos_ecef[2]), 1e-3);
}

}  // namespace
