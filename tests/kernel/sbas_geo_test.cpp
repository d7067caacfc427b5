// SBAS GEO navigation records: a type 9 message built bit by bit from the
// RTCA DO-229 field layout (preamble 8 bits, type 6 bits, then IOD 8, t0 13
// (16 s), URA 4, XG/YG 30 (0.08 m), ZG 25 (0.4 m), XG/YG rate 17
// (0.000625 m/s), ZG rate 18 (0.004 m/s), XG/YG acceleration 10
// (0.0000125 m/s^2), ZG acceleration 10 (0.0000625 m/s^2), aGf0 12 (2^-31 s),
// aGf1 8 (2^-40 s/s)), decoded and propagated (DO-229 quadratic model) and
// checked against the values the test computes itself; the backup slots
// round trip with their CRC words; the SBAS/QZSS settings and the SBAS status
// sent each second.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/src/backup_layout.h"
#include "kernel/src/sbas_decode.h"
#include "kernel/src/sbas_geo.h"
#include "misc/crc16.h"
#include "misc/endian_swap.h"

namespace {

constexpr std::int32_t DAY = 86400;

// The test's own message builder: value v (two's complement for signed
// fields) into n bits from bit `first`, bit 0 = MSB of word 0.
struct Message {
  std::array<std::uint32_t, 8> w{};
  void put(int first, int n, std::int64_t v) {
    const auto u = static_cast<std::uint64_t>(v);
    for (int i = 0; i < n; ++i) {
      const int b = first + i;
      const std::uint32_t bit = static_cast<std::uint32_t>((u >> (n - 1 - i)) & 1u);
      w[static_cast<std::size_t>(b / 32)] |= bit << (31 - (b % 32));
    }
  }
};

// Raw (integer) type 9 field values.
struct Type9 {
  int iod, t0, ura;
  std::int64_t xg, yg, zg, vx, vy, vz, ax, ay, az, af0, af1;
};

Message build_type9(const Type9& f) {
  Message m;
  m.put(0, 8, 0x53);  // preamble
  m.put(8, 6, 9);     // message type
  m.put(14, 8, f.iod);
  m.put(22, 13, f.t0);
  m.put(35, 4, f.ura);
  m.put(39, 30, f.xg);
  m.put(69, 30, f.yg);
  m.put(99, 25, f.zg);
  m.put(124, 17, f.vx);
  m.put(141, 17, f.vy);
  m.put(158, 18, f.vz);
  m.put(176, 10, f.ax);
  m.put(186, 10, f.ay);
  m.put(196, 10, f.az);
  m.put(206, 12, f.af0);
  m.put(218, 8, f.af1);
  return m;
}

// A GEO near 130 W: XG 24 000 km, YG -33 000 km, ZG -120 km (all within
// their field ranges), with rates and accelerations of both signs.
constexpr Type9 GEO_A{0x5A, 2000, 3, 300000000, -412500000, -300000, 1234, -2000, -3000, 100, -200, 50, -1000, 77};

// Separate frame for the test's own expectation.
struct Expected {
  double x, y, z, vx, vy, vz, ax, ay, az, af0, af1;
  std::int32_t t0;
};
Expected scale(const Type9& f) {
  return {f.xg * 0.08,
          f.yg * 0.08,
          f.zg * 0.4,
          f.vx * 0.000625,
          f.vy * 0.000625,
          f.vz * 0.004,
          f.ax * 0.0000125,
          f.ay * 0.0000125,
          f.az * 0.0000625,
          std::ldexp(double(f.af0), -31),
          std::ldexp(double(f.af1), -40),
          f.t0 * 16};
}

std::array<U08, KWAAS_BACKUP_SIZE>& region() {
  static std::array<U08, KWAAS_BACKUP_SIZE> r{};
  return r;
}

bool same_record(const SBAS_GEO_T& a, const SBAS_GEO_T& b) {
  return a.XG == b.XG && a.YG == b.YG && a.ZG == b.ZG && a.VXG == b.VXG && a.VYG == b.VYG && a.VZG == b.VZG &&
         a.AXG == b.AXG && a.AYG == b.AYG && a.AZG == b.AZG && a.aGf0 == b.aGf0 && a.aGf1 == b.aGf1 && a.URA == b.URA &&
         a.prn == b.prn && a.is_valid == b.is_valid && a.IOD == b.IOD && a.t0 == b.t0 && a.TOW_SBAS == b.TOW_SBAS &&
         a.WN_SBAS == b.WN_SBAS;
}

SBAS_PARAMETER_T sbas_para(U08 enable, U08 ranging, U08 ura_mask) { return {enable, ranging, ura_mask, 0, 3, 0xFF}; }

// A fresh module on a zeroed region: no records, ranging on, mask 8.
void fresh_start() {
  ENDIAN_set_swap_flag(0);
  region().fill(0);
  KWAAS_init_storage_address(region().data(), 0);
  const SBAS_PARAMETER_T p = sbas_para(1, 1, 8);
  KWAAS_init(&p, -1);
}

// Restart on the same region (the records come back from the backup slots).
void restart() {
  KWAAS_init_storage_address(region().data(), 0);
  const SBAS_PARAMETER_T p = sbas_para(1, 1, 8);
  KWAAS_init(&p, -1);
}

TEST(SbasGeo, Type9FieldsAndQuadraticPropagation) {
  fresh_start();
  const Message m = build_type9(GEO_A);
  const Expected e = scale(GEO_A);
  const std::int32_t tow_rx = 2 * DAY + e.t0 + 10;  // received 10 s after t0
  ASSERT_EQ(SBAS_GEO_update_messages(2300, tow_rx, 131, m.w.data(), 9), 1);
  SBAS_GEO_T r{};
  ASSERT_EQ(SBAS_GEO_get_record(131, &r), 1);
  EXPECT_EQ(r.is_valid, 1);
  EXPECT_EQ(r.prn, 131);
  EXPECT_EQ(r.IOD, 0x5A);
  EXPECT_EQ(r.URA, 3);
  EXPECT_EQ(r.t0, 32000);
  EXPECT_EQ(r.WN_SBAS, 2300);
  EXPECT_EQ(r.TOW_SBAS, tow_rx);
  struct Field {
    const char* name;
    double got, want, tol;
  };
  const std::vector<Field> fields{
      {"XG", r.XG, e.x, 1e-6},        {"YG", r.YG, e.y, 1e-6},       {"ZG", r.ZG, e.z, 1e-6},
      {"VXG", r.VXG, e.vx, 1e-12},    {"VYG", r.VYG, e.vy, 1e-12},   {"VZG", r.VZG, e.vz, 1e-12},
      {"AXG", r.AXG, e.ax, 1e-15},    {"AYG", r.AYG, e.ay, 1e-15},   {"AZG", r.AZG, e.az, 1e-15},
      {"aGf0", r.aGf0, e.af0, 1e-20}, {"aGf1", r.aGf1, e.af1, 1e-25}};
  for (const Field& f : fields) EXPECT_NEAR(f.got, f.want, f.tol) << f.name;
  EXPECT_EQ(SBAS_GEO_get_URA(131), 3);

  struct Case {
    const char* name;
    std::int32_t dt;
  };
  for (const Case& c : {Case{"at t0", 0}, Case{"t0 + 60 s", 60}, Case{"t0 - 100 s", -100}}) {
    const double dt = c.dt;
    POS_T p{};
    VEL_T v{};
    ASSERT_EQ(SBAS_GEO_cal_sv_position(131, 2300, 2 * DAY + e.t0 + c.dt, &p, &v), 1) << c.name;
    EXPECT_NEAR(p.px, e.x + e.vx * dt + 0.5 * e.ax * dt * dt, 1e-3) << c.name;
    EXPECT_NEAR(p.py, e.y + e.vy * dt + 0.5 * e.ay * dt * dt, 1e-3) << c.name;
    EXPECT_NEAR(p.pz, e.z + e.vz * dt + 0.5 * e.az * dt * dt, 1e-3) << c.name;
    EXPECT_NEAR(v.vx, e.vx + e.ax * dt, 1e-5) << c.name;
    EXPECT_NEAR(v.vy, e.vy + e.ay * dt, 1e-5) << c.name;
    EXPECT_NEAR(v.vz, e.vz + e.az * dt, 1e-5) << c.name;
  }
  POS_T rough{};
  ASSERT_EQ(SBAS_GEO_cal_sv_rough_position(131, 0, 0, &rough), 1);
  EXPECT_EQ(rough.px, e.x);
}

// Negative extremes of every signed field: the sign is taken from the field's top bit.
TEST(SbasGeo, SignedFieldExtremes) {
  fresh_start();
  const Type9 f{
      0,   0,    0,     -(1LL << 29), (1LL << 29) - 1, -(1LL << 24), -(1LL << 16), (1LL << 16) - 1, -(1LL << 17), -512,
      511, -512, -2048, -128};
  const Message m = build_type9(f);
  ASSERT_EQ(SBAS_GEO_update_messages(2300, 3 * DAY + 5, 120, m.w.data(), 9), 1);
  SBAS_GEO_T r{};
  ASSERT_EQ(SBAS_GEO_get_record(120, &r), 1);
  const Expected e = scale(f);
  EXPECT_DOUBLE_EQ(r.XG, e.x);
  EXPECT_DOUBLE_EQ(r.YG, e.y);
  EXPECT_DOUBLE_EQ(r.ZG, e.z);
  EXPECT_DOUBLE_EQ(r.VXG, e.vx);
  EXPECT_DOUBLE_EQ(r.VYG, e.vy);
  EXPECT_DOUBLE_EQ(r.VZG, e.vz);
  EXPECT_DOUBLE_EQ(r.AXG, e.ax);
  EXPECT_DOUBLE_EQ(r.AYG, e.ay);
  EXPECT_DOUBLE_EQ(r.AZG, e.az);
  EXPECT_DOUBLE_EQ(r.aGf0, e.af0);
  EXPECT_DOUBLE_EQ(r.aGf1, e.af1);
}

TEST(SbasGeo, MessageTimingAndPositionLimits) {
  struct Case {
    const char* name;
    int t0_field;         // 16 s units
    std::int32_t tow_rx;  // reception
    std::int32_t tow_q;   // position request
    S16 wn_q;
    int want_stored;
    int want_position;
  };
  const std::vector<Case> cases{
      {"t0 500 s after the time of day: accepted", 1000, 2 * DAY + 15500, 2 * DAY + 15500, 2300, 1, 1},
      {"t0 600 s after the time of day: ignored", 1000, 2 * DAY + 15400, 2 * DAY + 15400, 2300, 0, 0},
      {"t0 600 s before the time of day: ignored", 1000, 2 * DAY + 16600, 2 * DAY + 16600, 2300, 0, 0},
      {"across midnight: t0 86 384 s, time of day 10 s (dt 26 s)", 5399, 3 * DAY + 10, 3 * DAY + 10, 2300, 1, 1},
      {"position 1 025 s after reception: refused", 1000, 2 * DAY + 16000, 2 * DAY + 16000 + 1025, 2300, 1, 0},
      {"position 513 s from t0 but young: refused", 1000, 2 * DAY + 16000 + 500, 2 * DAY + 16000 + 513, 2300, 1, 0},
      {"position two weeks later: refused", 1000, 2 * DAY + 16000, 2 * DAY + 16000, 2302, 1, 0},
      {"next week, same second of the day: age too large", 1000, 2 * DAY + 16000, 2 * DAY + 16000, 2301, 1, 0},
  };
  for (const Case& c : cases) {
    fresh_start();
    Type9 f = GEO_A;
    f.t0 = c.t0_field;
    const Message m = build_type9(f);
    EXPECT_EQ(SBAS_GEO_update_messages(2300, c.tow_rx, 125, m.w.data(), 9), c.want_stored) << c.name;
    POS_T p{};
    EXPECT_EQ(SBAS_GEO_cal_sv_position(125, c.wn_q, c.tow_q, &p, nullptr), c.want_position) << c.name;
  }
  // Across midnight the propagation uses dt = 26 s.
  fresh_start();
  Type9 f = GEO_A;
  f.t0 = 5399;
  const Message m = build_type9(f);
  ASSERT_EQ(SBAS_GEO_update_messages(2300, 3 * DAY + 10, 125, m.w.data(), 9), 1);
  POS_T p{};
  ASSERT_EQ(SBAS_GEO_cal_sv_position(125, 2300, 3 * DAY + 10, &p, nullptr), 1);
  const Expected e = scale(f);
  EXPECT_NEAR(p.px, e.x + e.vx * 26 + 0.5 * e.ax * 26 * 26, 1e-3);
}

TEST(SbasGeo, RangingFlagAndUraMask) {
  struct Case {
    const char* name;
    U08 ranging;
    U08 mask;
    int ura;
    int want;
  };
  const std::vector<Case> cases{{"mask 8, URA 7: usable", 1, 8, 7, 1},
                                {"mask 8, URA 8: refused", 1, 8, 8, 0},
                                {"mask 8, URA 15: refused", 1, 8, 15, 0},
                                {"ranging disabled, URA 0: refused", 0, 8, 0, 0},
                                {"ranging auto, URA 0: usable", 2, 8, 0, 1}};
  for (const Case& c : cases) {
    fresh_start();
    const SBAS_PARAMETER_T p = sbas_para(1, c.ranging, c.mask);
    KWAAS_set_sbas_para(&p);
    Type9 f = GEO_A;
    f.ura = c.ura;
    const Message m = build_type9(f);
    ASSERT_EQ(SBAS_GEO_update_messages(2300, 2 * DAY + 32000, 133, m.w.data(), 9), 1) << c.name;
    POS_T pos{};
    EXPECT_EQ(SBAS_GEO_cal_sv_position(133, 2300, 2 * DAY + 32000, &pos, nullptr), c.want) << c.name;
    EXPECT_EQ(SBAS_GEO_get_URA(133), c.ura) << c.name;
  }
}

TEST(SbasGeo, OnlyType9IsDecoded) {
  fresh_start();
  const Message m = build_type9(GEO_A);
  for (const S16 type : {S16{0}, S16{1}, S16{2}, S16{18}, S16{63}}) {
    EXPECT_EQ(SBAS_GEO_update_messages(2300, 2 * DAY + 32000, 131, m.w.data(), type), 0) << "type " << type;
  }
  EXPECT_EQ(SBAS_GEO_get_URA(131), -1);
}

// Mend: an SBAS prn outside 120..138 never reaches the GEO records.
TEST(SbasGeo, PrnOutsideRangeDroppedAndCounted) {
  fresh_start();
  const Message m = build_type9(GEO_A);
  struct Case {
    const char* name;
    S16 prn;
  };
  const std::vector<Case> cases{{"prn 119", 119}, {"prn 139", 139}, {"prn 0", 0}, {"prn -1", -1}, {"prn 32767", 32767}};
  U32 expected_count = 0;
  for (const Case& c : cases) {
    EXPECT_EQ(SBAS_GEO_update_messages(2300, 2 * DAY + 32000, c.prn, m.w.data(), 9), 0) << c.name;
    EXPECT_EQ(SBAS_GEO_get_bad_prn_count(), ++expected_count) << c.name;
    POS_T p{};
    EXPECT_EQ(SBAS_GEO_cal_sv_position(c.prn, 2300, 2 * DAY + 32000, &p, nullptr), 0) << c.name;
    EXPECT_EQ(SBAS_GEO_get_URA(c.prn), -1) << c.name;
    expected_count += 2;  // both requests are counted as well
    EXPECT_EQ(SBAS_GEO_get_bad_prn_count(), expected_count) << c.name;
  }
  for (S16 prn = SBAS_GEO_FIRST_PRN; prn <= SBAS_GEO_LAST_PRN; ++prn) EXPECT_EQ(SBAS_GEO_get_URA(prn), -1) << prn;
  for (S16 s = 0; s < 3; ++s) EXPECT_EQ(SBAS_GEO_get_slot_prn(s), -1) << "slot " << s;
}

TEST(SbasGeo, BackupSlotsRoundTrip) {
  struct Case {
    const char* name;
    int damaged_slot;  // -1: none
    int damage_crc;    // 1: the CRC word, 0: a record byte
  };
  const std::vector<Case> cases{{"no damage", -1, 0},
                                {"slot 0 record byte damaged", 0, 0},
                                {"slot 1 record byte damaged", 1, 0},
                                {"slot 2 CRC word damaged", 2, 1}};
  const std::array<S16, 3> prns{120, 129, 138};
  for (const Case& c : cases) {
    fresh_start();
    std::array<SBAS_GEO_T, 3> stored{};
    for (std::size_t i = 0; i < 3; ++i) {
      Type9 f = GEO_A;
      f.iod = static_cast<int>(10 + i);
      f.xg += static_cast<std::int64_t>(i) * 1000;
      const Message m = build_type9(f);
      ASSERT_EQ(SBAS_GEO_update_messages(2300, 2 * DAY + 32000, prns[i], m.w.data(), 9), 1) << c.name;
      ASSERT_EQ(SBAS_GEO_get_record(prns[i], &stored[i]), 1);
      EXPECT_EQ(SBAS_GEO_get_slot_prn(static_cast<S16>(i)), prns[i]) << c.name;
    }
    if (c.damaged_slot >= 0) {
      const std::size_t at =
          c.damage_crc != 0 ? KWAAS_GEO_SLOTS * KWAAS_GEO_RECORD_SIZE + static_cast<std::size_t>(c.damaged_slot) * 2
                            : static_cast<std::size_t>(c.damaged_slot) * KWAAS_GEO_RECORD_SIZE + 3;
      region()[at] ^= 0x10;
    }
    restart();
    for (std::size_t i = 0; i < 3; ++i) {
      const std::string what = std::string(c.name) + ", prn " + std::to_string(prns[i]);
      SBAS_GEO_T r{};
      ASSERT_EQ(SBAS_GEO_get_record(prns[i], &r), 1);
      if (static_cast<int>(i) == c.damaged_slot) {
        EXPECT_EQ(r.is_valid, 0) << what;
        EXPECT_EQ(SBAS_GEO_get_slot_prn(static_cast<S16>(i)), -1) << what;
        continue;
      }
      EXPECT_EQ(r.is_valid, 1) << what;
      EXPECT_TRUE(same_record(r, stored[i])) << what;
      EXPECT_EQ(SBAS_GEO_get_slot_prn(static_cast<S16>(i)), prns[i]) << what;
    }
  }
}

TEST(SbasGeo, SlotChoiceAndClearing) {
  fresh_start();
  const Message m = build_type9(GEO_A);
  for (const S16 prn : {S16{120}, S16{121}, S16{122}}) {
    ASSERT_EQ(SBAS_GEO_update_messages(2300, 2 * DAY + 32000, prn, m.w.data(), 9), 1);
  }
  // A refresh of 121 keeps its slot; a fourth satellite overwrites slot 0.
  ASSERT_EQ(SBAS_GEO_update_messages(2300, 2 * DAY + 32001, 121, m.w.data(), 9), 1);
  EXPECT_EQ(SBAS_GEO_get_slot_prn(1), 121);
  ASSERT_EQ(SBAS_GEO_update_messages(2300, 2 * DAY + 32000, 123, m.w.data(), 9), 1);
  EXPECT_EQ(SBAS_GEO_get_slot_prn(0), 123);
  EXPECT_EQ(SBAS_GEO_get_slot_prn(1), 121);
  EXPECT_EQ(SBAS_GEO_get_slot_prn(2), 122);
  // Clearing one satellite frees its slot, which the next new satellite takes.
  SBAS_GEO_clear_one(121);
  EXPECT_EQ(SBAS_GEO_get_URA(121), -1);
  EXPECT_EQ(SBAS_GEO_get_slot_prn(1), -1);
  ASSERT_EQ(SBAS_GEO_update_messages(2300, 2 * DAY + 32000, 130, m.w.data(), 9), 1);
  EXPECT_EQ(SBAS_GEO_get_slot_prn(1), 130);
  restart();
  struct Case {
    const char* name;
    S16 prn;
    S16 want_ura;
  };
  for (const Case& c : {Case{"120 overwritten", 120, -1}, Case{"121 cleared", 121, -1}, Case{"122 kept", 122, 3},
                        Case{"123 kept", 123, 3}, Case{"130 kept", 130, 3}}) {
    EXPECT_EQ(SBAS_GEO_get_URA(c.prn), c.want_ura) << c.name;
  }
  KWAAS_clear_all_geo_parameters();
  restart();
  for (S16 prn = SBAS_GEO_FIRST_PRN; prn <= SBAS_GEO_LAST_PRN; ++prn) EXPECT_EQ(SBAS_GEO_get_URA(prn), -1) << prn;
}

TEST(SbasGeo, SettingsRoundTrip) {
  fresh_start();
  struct Case {
    const char* name;
    SBAS_PARAMETER_T sbas;
    QZSS_PARAMETER_T qzss;
  };
  const std::vector<Case> cases{{"all off", {0, 0, 0, 0, 0, 0}, {0, 0}},
                                {"SBAS on, ranging auto", {1, 2, 8, 1, 3, 0x1F}, {1, 3}},
                                {"SBAS on, ranging off", {1, 0, 15, 0, 1, 0x01}, {0, 1}}};
  for (const Case& c : cases) {
    KWAAS_set_sbas_para(&c.sbas);
    KQZSS_set_qzss_para(&c.qzss);
    SBAS_PARAMETER_T s{};
    QZSS_PARAMETER_T q{};
    KWAAS_get_sbas_para(&s);
    KQZSS_get_qzss_para(&q);
    EXPECT_EQ(std::memcmp(&s, &c.sbas, sizeof s), 0) << c.name;
    EXPECT_EQ(std::memcmp(&q, &c.qzss, sizeof q), 0) << c.name;
    EXPECT_EQ(KWAAS_is_enabled(), c.sbas.sbas_enable_disable) << c.name;
    EXPECT_EQ(KQZSS_is_enabled(), c.qzss.qzss_enable_disable) << c.name;
  }
  const QZSS_PARAMETER_T q0{1, 2};
  KQZSS_init(&q0);
  QZSS_PARAMETER_T q{};
  KQZSS_get_qzss_para(&q);
  EXPECT_EQ(q.qzss_max_num, 2);
}

// The SBAS status sent each second: 2 when a correction message (fast,
// long-term, ionospheric or integrity) has been received, else 0; nothing
// while SBAS is disabled.
TEST(SbasGeo, SecondTickCorrectionsReceivedRule) {
  struct Case {
    const char* name;
    U08 enable;
    std::vector<int> types;
    S16 want;
  };
  const std::vector<Case> cases{{"enabled, nothing received", 1, {}, 0},
                                {"enabled, only type 9", 1, {9, 9, 9}, 0},
                                {"enabled, only a PRN mask", 1, {1}, 0},
                                {"enabled, fast corrections without a PRN mask", 1, {2}, 0},
                                {"enabled, PRN mask then fast corrections", 1, {1, 2}, 2},
                                {"enabled, PRN mask then integrity", 1, {1, 6}, 2},
                                {"enabled, PRN mask then long-term", 1, {1, 25}, 2},
                                {"enabled, ionospheric grid mask", 1, {18}, 2},
                                {"enabled, ionospheric delays", 1, {26}, 2},
                                {"disabled, PRN mask then fast corrections", 0, {1, 2}, -1}};
  for (const Case& c : cases) {
    fresh_start();
    const SBAS_PARAMETER_T p = sbas_para(c.enable, 1, 8);
    KWAAS_init(&p, -1);  // restarts the decoder: message flags cleared
    for (const int t : c.types) {
      Message m;
      m.put(0, 8, 0x53);
      m.put(8, 6, t);
      SBAS_BKC_collect(131, m.w.data());
    }
    KWAAS_second_tick_process();
    EXPECT_EQ(KWAAS_get_last_status(), c.want) << c.name;
  }
}

// A region written by a target of the other byte order: every field of the
// 112-byte record (11 D64, 4 S16, 2 S32, 1 S16 from offset 0) and the CRC word
// reversed, the CRC computed over the bytes as written. After the conversion
// at start-up the records are the same; a damaged slot is still refused.
TEST(SbasGeo, BackupSlotsFromTheOtherByteOrder) {
  struct Case {
    const char* name;
    int damaged_slot;
  };
  const std::vector<Case> cases{{"whole image", -1}, {"slot 1 damaged", 1}};
  constexpr std::array<int, 18> widths{8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 2, 2, 2, 2, 4, 4, 2};
  const std::array<S16, 3> prns{122, 127, 135};
  for (const Case& c : cases) {
    fresh_start();
    std::array<SBAS_GEO_T, 3> stored{};
    for (std::size_t i = 0; i < 3; ++i) {
      Type9 f = GEO_A;
      f.yg -= static_cast<std::int64_t>(i) * 777;
      const Message m = build_type9(f);
      ASSERT_EQ(SBAS_GEO_update_messages(2301, 5 * DAY + 32000, prns[i], m.w.data(), 9), 1) << c.name;
      ASSERT_EQ(SBAS_GEO_get_record(prns[i], &stored[i]), 1);
    }
    for (std::size_t i = 0; i < 3; ++i) {
      U08* rec = region().data() + i * KWAAS_GEO_RECORD_SIZE;
      std::size_t at = 0;
      for (const int w : widths) {
        std::reverse(rec + at, rec + at + w);
        at += static_cast<std::size_t>(w);
      }
      U16 crc = crc16(rec, KWAAS_GEO_RECORD_SIZE);
      crc = static_cast<U16>((crc >> 8) | (crc << 8));
      std::memcpy(region().data() + KWAAS_GEO_SLOTS * KWAAS_GEO_RECORD_SIZE + i * 2, &crc, 2);
      if (static_cast<int>(i) == c.damaged_slot) rec[5] ^= 0x01;
    }
    ENDIAN_set_swap_flag(1);
    restart();
    ENDIAN_set_swap_flag(0);
    for (std::size_t i = 0; i < 3; ++i) {
      const std::string what = std::string(c.name) + ", prn " + std::to_string(prns[i]);
      SBAS_GEO_T r{};
      ASSERT_EQ(SBAS_GEO_get_record(prns[i], &r), 1);
      if (static_cast<int>(i) == c.damaged_slot) {
        EXPECT_EQ(r.is_valid, 0) << what;
        continue;
      }
      EXPECT_TRUE(same_record(r, stored[i])) << what;
    }
    // Converted in place: a restart in this byte order finds the same records.
    restart();
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(SBAS_GEO_get_URA(prns[i]), static_cast<int>(i) == c.damaged_slot ? -1 : 3) << c.name << " again";
    }
  }
}

// Correction records (12 bytes: ref_t S32, igp_info U16, is_valid S08 at 6,
// band U08, igp U08, 3 pad; CRC words after the 81 records) survive a
// start-up only when valid with a good non-zero CRC and a lapse of -1 or
// below 301 s.
TEST(SbasGeo, CorrectionRecordsKeptByLapseAndCrc) {
  struct Case {
    const char* name;
    S32 lapse;
    int damage;  // 0 none, 1 record byte, 2 CRC word 0
    int want_valid;
  };
  const std::vector<Case> cases{{"lapse unknown", -1, 0, 1},  {"lapse 300 s", 300, 0, 1},   {"lapse 301 s", 301, 0, 0},
                                {"lapse 3600 s", 3600, 0, 0}, {"record damaged", 10, 1, 0}, {"CRC word 0", 10, 2, 0}};
  const std::size_t corr = (KWAAS_GEO_SIZE + 3u) & ~3u;
  for (const Case& c : cases) {
    fresh_start();
    U08* rec = region().data() + corr + 5 * KWAAS_IGP_RECORD_SIZE;  // record 5
    const std::array<U08, 12> image{0x10, 0x20, 0x00, 0x00, 0x34, 0x12, 1, 2, 7, 0, 0, 0};
    std::memcpy(rec, image.data(), image.size());
    U16 crc = c.damage == 2 ? U16{0} : crc16(rec, KWAAS_IGP_RECORD_SIZE);
    std::memcpy(region().data() + corr + KWAAS_IGP_RECORDS * KWAAS_IGP_RECORD_SIZE + 5 * 2, &crc, 2);
    if (c.damage == 1) rec[8] ^= 0x40;
    KWAAS_init_storage_address(region().data(), 0);
    const SBAS_PARAMETER_T p = sbas_para(1, 1, 8);
    KWAAS_init(&p, c.lapse);
    EXPECT_EQ(rec[6], c.want_valid) << c.name;
  }
}

}  // namespace
