// Propagation and satellite clock corrections: the broadcast ionospheric
// model against the simulated sky's own double-precision IS-GPS-200
// 20.3.3.5.2.5 model (chosen cases and a grid), page-18 decoding
// (20.3.3.5.1.7) from words built here and from the sky's navigation stream,
// the tropospheric model's known values, the backup record in both byte
// orders, and the satellite clock terms against the sky's orbit and clock.
#include "kernel/src/correction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/backup_image.h"
#include "kernel/src/backup_layout.h"
#include "kernel/src/dbits_parity.h"
#include "kernel/src/ephemeris.h"
#include "kernel/src/kernel_modules.h"
#include "misc/crc16.h"
#include "misc/endian_swap.h"
#include "tests/kernel/sky_ephemeris.h"
#include "tools/sky/sky.h"

namespace {

constexpr D64 PI = 3.1415926535898;
constexpr D64 C = 299792458.0;
constexpr D64 DEG = PI / 180.0;
constexpr U32 COR_OFFSET = 128;  // the piece's place in the region

// Raw 8-bit page-18 fields (two's complement).
struct IonoRaw {
  std::array<int, 4> alpha;  // 2^-30, 2^-27, 2^-24, 2^-24 s (per semicircle^n)
  std::array<int, 4> beta;   // 2^11, 2^14, 2^16, 2^16 s (per semicircle^n)
};
constexpr std::array<int, 4> ALPHA_EXP = {-30, -27, -24, -24};
constexpr std::array<int, 4> BETA_EXP = {11, 14, 16, 16};

// Subframe 4 of the given page SV ID as the collector hands it on
// (polarity corrected, D1 at bit 29, parity bits left 0): word 3 data ID 01,
// SV ID, alpha0, alpha1; word 4 alpha2, alpha3, beta0; word 5 beta1..3.
std::array<U32, 10> page_words(const IonoRaw& r, int sv_id) {
  auto w = [](std::uint32_t d24) { return static_cast<U32>((d24 & 0xFFFFFFU) << 6); };
  auto b = [](int v) { return static_cast<std::uint32_t>(v) & 0xFFU; };
  std::array<U32, 10> words{};
  words[0] = w(0x8B0000U);
  words[1] = w(4U << 2);  // HOW, subframe id 4
  words[2] = w((1U << 22) | (b(sv_id) << 16) | (b(r.alpha[0]) << 8) | b(r.alpha[1]));
  words[3] = w((b(r.alpha[2]) << 16) | (b(r.alpha[3]) << 8) | b(r.beta[0]));
  words[4] = w((b(r.beta[1]) << 16) | (b(r.beta[2]) << 8) | b(r.beta[3]));
  return words;
}

struct IonoSI {
  std::array<D64, 4> alpha, beta;
};
IonoSI scaled(const IonoRaw& r) {
  IonoSI s{};
  for (std::size_t i = 0; i < 4; ++i) {
    s.alpha[i] = std::ldexp(static_cast<D64>(r.alpha[i]), ALPHA_EXP[i]);
    s.beta[i] = std::ldexp(static_cast<D64>(r.beta[i]), BETA_EXP[i]);
  }
  return s;
}

// The sky's own (independent, double precision) IS-GPS-200 20.3.3.5.2.5
// model: L1 delay in metres for user latitude/longitude (rad),
// elevation/azimuth (rad) and GPS time t (s), from the raw page-18 fields.
D64 sky_klobuchar(const IonoRaw& r, D64 lat, D64 lon, D64 el, D64 az, D64 t_gps) {
  SKY_IONO_UTC_T p{};
  for (std::size_t i = 0; i < 4; ++i) {
    p.alpha[i] = r.alpha[i];
    p.beta[i] = r.beta[i];
  }
  return SKY_klobuchar_m(&p, lat, lon, az, el, t_gps);
}

// A region for the piece, static so that the module may keep its pointer.
std::array<U08, 256>& region() {
  static std::array<U08, 256> r{};
  return r;
}

class Correction : public ::testing::Test {
 protected:
  void SetUp() override {
    ENDIAN_set_swap_flag(0);
    region().fill(0);
    COR_init_storage_address(region().data(), COR_OFFSET);
    COR_init(nullptr);
    COR_install_backup_iono_parameters_callback(nullptr);
    COR_install_clear_iono_parameters_callback(nullptr);
  }
  void TearDown() override {
    ENDIAN_set_swap_flag(0);
    COR_install_backup_iono_parameters_callback(nullptr);
    COR_install_clear_iono_parameters_callback(nullptr);
    COR_init_storage_address(nullptr, 0);
    COR_init(nullptr);
  }
  static void load(const IonoRaw& r) {
    const std::array<U32, 10> w = page_words(r, 56);
    COR_update_ionospheric_parameter(w.data());
  }
};

// Typical broadcast values and a set with a large amplitude and a short period.
constexpr IonoRaw TYPICAL = {{12, 1, -1, -1}, {44, 0, -3, 1}};
constexpr IonoRaw STRONG = {{127, -128, 100, -7}, {-128, 127, -50, 20}};

TEST_F(Correction, Page18FieldsAreDecodedWithTheirScaleFactors) {
  struct Case {
    const char* name;
    IonoRaw raw;
  };
  const std::vector<Case> cases = {
      {"typical", TYPICAL},
      {"extremes of the 8-bit fields", STRONG},
      {"all -1", {{-1, -1, -1, -1}, {-1, -1, -1, -1}}},
      {"zeros", {{0, 0, 0, 0}, {0, 0, 0, 0}}},
  };
  for (const Case& c : cases) {
    COR_clear_all();
    load(c.raw);
    COR_T got{};
    ASSERT_EQ(COR_get_ionospheric_parameters(&got), 1) << c.name;
    for (std::size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(got.a[i], static_cast<F32>(std::ldexp(static_cast<D64>(c.raw.alpha[i]), ALPHA_EXP[i])))
          << c.name << " alpha" << i;
      EXPECT_EQ(got.b[i], c.raw.beta[i] * (1 << BETA_EXP[i])) << c.name << " beta" << i;
    }
  }
}

TEST_F(Correction, OtherPagesOfSubframe4AreIgnored) {
  struct Case {
    const char* name;
    int sv_id;
  };
  const std::vector<Case> cases = {{"page 25 (SV ID 63)", 63},
                                   {"page 13 (SV ID 52)", 52},
                                   {"SV ID 55", 55},
                                   {"SV ID 57", 57},
                                   {"page 1 (SV ID 57)", 57}};
  for (const Case& c : cases) {
    COR_clear_all();
    const std::array<U32, 10> w = page_words(TYPICAL, c.sv_id);
    COR_update_ionospheric_parameter(w.data());
    COR_T got{};
    EXPECT_EQ(COR_get_ionospheric_parameters(&got), 0) << c.name;
    // With valid parameters held, another page leaves them alone.
    load(TYPICAL);
    const std::array<U32, 10> other = page_words(STRONG, c.sv_id);
    COR_update_ionospheric_parameter(other.data());
    ASSERT_EQ(COR_get_ionospheric_parameters(&got), 1) << c.name;
    EXPECT_EQ(got.b[0], TYPICAL.beta[0] << 11) << c.name;
  }
  COR_update_ionospheric_parameter(nullptr);  // ignored, no crash
}

TEST_F(Correction, KlobucharEqualsTheDoublePrecisionModelWithin1cm) {
  struct Case {
    const char* name;
    D64 lat_deg, lon_deg, el_deg, az_deg;
    S32 tod;
  };
  const std::vector<Case> cases = {
      {"mid-latitude afternoon", 40.0, -100.0, 20.0, 210.0, 74400},
      {"mid-latitude night (x beyond 1.57)", 40.0, -100.0, 20.0, 210.0, 31200},
      {"equator noon, 5 deg elevation", 0.0, 0.0, 5.0, 90.0, 50400},
      {"high elevation", 35.0, 139.0, 85.0, 10.0, 20000},
      {"north clamp +0.416", 80.0, 10.0, 10.0, 0.0, 48000},
      {"south clamp -0.416", -80.0, 10.0, 10.0, 180.0, 48000},
      {"local time wraps past a day", 10.0, 170.0, 30.0, 45.0, 80000},
      {"local time wraps below zero (afternoon)", -20.0, -170.0, 30.0, 300.0, 1000},
      {"negative azimuth", 50.0, 8.0, 45.0, -60.0, 45000},
      {"low elevation night", 60.0, 25.0, 2.0, 200.0, 0},
  };
  D64 worst = 0.0;
  for (const IonoRaw& raw : {TYPICAL, STRONG}) {
    load(raw);
    for (const Case& c : cases) {
      const LLA_T lla{c.lat_deg * DEG, c.lon_deg * DEG, 0.0F};
      const D64 el = c.el_deg * DEG, az = c.az_deg * DEG;
      const D64 ref = sky_klobuchar(raw, lla.lat, lla.lon, el, az, c.tod);
      const F32 got = COR_ionospheric_model(c.tod, static_cast<F32>(el), static_cast<F32>(az), &lla);
      EXPECT_NEAR(got, ref, 0.01) << c.name << " alpha0 raw " << raw.alpha[0];
      EXPECT_GT(got, 0.0F) << c.name;
      worst = std::max(worst, std::fabs(got - ref));
    }
  }
  std::printf("klobuchar: worst |single - double| %.3g m\n", worst);
}

TEST_F(Correction, KlobucharIsZeroWithoutValidParametersOrOutOfRangeAngles) {
  const LLA_T lla{0.7, 0.2, 0.0F};
  EXPECT_EQ(COR_ionospheric_model(50000, 0.5F, 1.0F, &lla), 0.0F) << "never loaded";
  load(TYPICAL);
  EXPECT_GT(COR_ionospheric_model(50000, 0.5F, 1.0F, &lla), 0.0F);
  EXPECT_EQ(COR_ionospheric_model(50000, 1.6F, 1.0F, &lla), 0.0F) << "elevation above pi/2";
  EXPECT_EQ(COR_ionospheric_model(50000, -1.6F, 1.0F, &lla), 0.0F) << "elevation below -pi/2";
  EXPECT_EQ(COR_ionospheric_model(50000, 0.5F, 6.3F, &lla), 0.0F) << "azimuth above 2 pi";
  EXPECT_EQ(COR_ionospheric_model(50000, 0.5F, -6.3F, &lla), 0.0F) << "azimuth below -2 pi";
  EXPECT_EQ(COR_ionospheric_model(50000, std::nanf(""), 1.0F, &lla), 0.0F) << "NaN elevation";
  EXPECT_EQ(COR_ionospheric_model(50000, 0.5F, 1.0F, nullptr), 0.0F) << "no position";
  const LLA_T nan_lla{std::nan(""), 0.2, 0.0F};
  EXPECT_EQ(COR_ionospheric_model(50000, 0.5F, 1.0F, &nan_lla), 0.0F) << "NaN latitude";
  COR_clear_all();
  EXPECT_EQ(COR_ionospheric_model(50000, 0.5F, 1.0F, &lla), 0.0F) << "cleared";
  // a stored record with a valid CRC but values no broadcast can carry
  const COR_T bad = {{std::nanf(""), 0.0F, 0.0F, 0.0F}, {0, 0, 0, 0}};
  ASSERT_EQ(COR_update_iono_parameters_from_backup_region(&bad), 1);
  EXPECT_EQ(COR_ionospheric_model(50000, 0.5F, 1.0F, &lla), 0.0F) << "NaN alpha";
}

// The sky's page 18 from its navigation stream, decoded here, gives the sky's
// parameters, and the model then equals the sky's own (independent) delay.
TEST_F(Correction, SkyPage18DecodesToTheSkyParametersAndDelays) {
  ASSERT_EQ(init_full_sky(2300, 3600.0), 1);
  SKY_IONO_UTC_T truth{};
  SKY_get_iono_utc(&truth);
  bool found = false;
  for (int frame = 0; frame < 25 && !found; ++frame) {
    const int first = frame * 50 + 30;  // subframe 4 of the frame
    std::array<U32, 10> w{};
    U32 prev = SKY_nav_word(3, 2300, first - 1);
    for (int i = 0; i < 10; ++i) {
      const U32 raw = SKY_nav_word(3, 2300, first + i);
      w[static_cast<std::size_t>(i)] = DBP_polarity_corrected(raw | ((prev & 3U) << 30));
      prev = raw;
    }
    if (((w[2] >> 22) & 0x3FU) != 56U) continue;
    found = true;
    COR_update_ionospheric_parameter(w.data());
  }
  ASSERT_TRUE(found);
  COR_T got{};
  ASSERT_EQ(COR_get_ionospheric_parameters(&got), 1);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(got.a[i], static_cast<F32>(std::ldexp(static_cast<D64>(truth.alpha[i]), ALPHA_EXP[i]))) << i;
    EXPECT_EQ(got.b[i], truth.beta[i] * (1 << BETA_EXP[i])) << i;
  }
  int n = 0;
  D64 worst = 0.0;
  for (int lat = -80; lat <= 80; lat += 40)
    for (int lon = -180; lon < 180; lon += 60)
      for (int el : {5, 30, 70})
        for (int az = 0; az < 360; az += 120)
          for (S32 tod : {0, 30000, 50400, 70000}) {
            const LLA_T lla{lat * DEG, lon * DEG, 0.0F};
            const D64 sky = SKY_klobuchar_m(&truth, lla.lat, lla.lon, az * DEG, el * DEG, tod);
            const F32 got_m = COR_ionospheric_model(tod, static_cast<F32>(el * DEG), static_cast<F32>(az * DEG), &lla);
            EXPECT_NEAR(got_m, sky, 0.01)
                << "lat " << lat << " lon " << lon << " el " << el << " az " << az << " tod " << tod;
            worst = std::max(worst, std::fabs(got_m - sky));
            ++n;
          }
  EXPECT_GT(n, 100);
  std::printf("klobuchar: %d delays against the sky, worst difference %.3g m\n", n, worst);
}

TEST_F(Correction, TroposphereKnownValues) {
  struct Case {
    const char* name;
    D64 el_deg, alt_m, expected_m, tol_m;
  };
  const std::vector<Case> cases = {
      {"5 deg at sea level", 5.0, 0.0, 24.885, 0.002},
      {"zenith at sea level", 90.0, 0.0, 2.47 / 1.0121, 1e-4},
      {"zenith at 1000 m", 90.0, 1000.0, 2.47 * std::exp(-0.133) / 1.0121, 1e-4},
      {"30 deg at 5000 m", 30.0, 5000.0, 2.47 * std::exp(-0.665) / (0.5 + 0.0121), 1e-4},
      {"10 deg below sea level (-100 m)", 10.0, -100.0, 2.47 * std::exp(0.0133) / (std::sin(10.0 * DEG) + 0.0121),
       1e-3},
  };
  for (const Case& c : cases) {
    const F32 got = COR_tropospheric_model(static_cast<F32>(c.el_deg * DEG), static_cast<F32>(c.alt_m));
    EXPECT_NEAR(got, c.expected_m, c.tol_m) << c.name;
  }
  EXPECT_EQ(COR_tropospheric_model(std::nanf(""), 0.0F), 0.0F) << "NaN elevation";
  EXPECT_EQ(COR_tropospheric_model(0.3F, -1e6F), 0.0F) << "overflowing altitude";
  // Altitude decay: every 1000 m multiplies the delay by exp(-0.133).
  const F32 low = COR_tropospheric_model(0.3F, 200.0F);
  const F32 high = COR_tropospheric_model(0.3F, 1200.0F);
  EXPECT_NEAR(high / low, std::exp(-0.133), 1e-6);
}

// --- backup record ---------------------------------------------------------------------

// The record as a machine of either byte order writes it: alpha F32 x 4, beta
// S32 x 4, then the CRC of those 32 bytes as they lie.
void write_image(U08* piece, const IonoRaw& r, bool big_endian) {
  const IonoSI s = scaled(r);
  for (std::size_t i = 0; i < 4; ++i) {
    kernel_test::put(piece + 4 * i, static_cast<F32>(s.alpha[i]), big_endian);
    kernel_test::put(piece + 16 + 4 * i, static_cast<S32>(s.beta[i]), big_endian);
  }
  kernel_test::put(piece + 32, crc16(piece, 32), big_endian);
}

U16 stored_crc(const U08* piece) {
  U16 c = 0;
  std::memcpy(&c, piece + 32, 2);
  return c;
}

TEST_F(Correction, BackupRecordSurvivesSaveAndRestoreInBothByteOrders) {
  U08* piece = region().data() + COR_OFFSET;
  struct Case {
    const char* name;
    bool image_big_endian;  // how the image was written
    bool swap_flag;         // this run converts the byte order
    bool valid;             // parameters expected after the restore
  };
  const bool host_big = std::endian::native == std::endian::big;
  const std::vector<Case> cases = {
      {"host order, no conversion", host_big, false, true},
      {"other order, converted", !host_big, true, true},
      {"host order but converted (garbled)", host_big, true, false},
      {"other order, not converted", !host_big, false, false},
  };
  for (const Case& c : cases) {
    region().fill(0);
    write_image(piece, STRONG, c.image_big_endian);
    ENDIAN_set_swap_flag(c.swap_flag ? 1 : 0);
    EXPECT_EQ(COR_init(nullptr), 34) << c.name;
    COR_T got{};
    ASSERT_EQ(COR_get_ionospheric_parameters(&got), c.valid ? 1 : 0) << c.name;
    if (c.valid) {
      const IonoSI s = scaled(STRONG);
      for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(got.a[i], static_cast<F32>(s.alpha[i])) << c.name;
        EXPECT_EQ(got.b[i], static_cast<S32>(s.beta[i])) << c.name;
      }
      // The region now holds the record in this machine's order with its CRC.
      EXPECT_EQ(stored_crc(piece), crc16(piece, 32)) << c.name;
      EXPECT_NE(stored_crc(piece), 0) << c.name;
    }
    if (!c.valid) {
      EXPECT_NE(stored_crc(piece), crc16(piece, 32)) << c.name << ": no accidental match";
    }
  }
}

TEST_F(Correction, StoredRecordRoundTripAndCrcRules) {
  U08* piece = region().data() + COR_OFFSET;
  load(TYPICAL);
  // What the module wrote: the record in this order and its CRC.
  COR_T stored{};
  std::memcpy(&stored, piece, 32);
  EXPECT_EQ(stored.b[0], 44 << 11);
  EXPECT_EQ(stored_crc(piece), crc16(piece, 32));
  COR_init(nullptr);  // a restart over the same region
  COR_T got{};
  ASSERT_EQ(COR_get_ionospheric_parameters(&got), 1);
  EXPECT_EQ(got.a[0], static_cast<F32>(12.0 * std::ldexp(1.0, -30)));

  // An all-zero record has CRC 0: a zero CRC is never valid.
  region().fill(0);
  ASSERT_EQ(crc16(piece, 32), 0);
  COR_init(nullptr);
  EXPECT_EQ(COR_get_ionospheric_parameters(&got), 0) << "zero CRC";
  // A record whose CRC does not match.
  write_image(piece, TYPICAL, std::endian::native == std::endian::big);
  piece[5] ^= 0x10U;
  COR_init(nullptr);
  EXPECT_EQ(COR_get_ionospheric_parameters(&got), 0) << "CRC mismatch";
  // Cleared: CRC 0 in the region, nothing valid after a restart.
  load(TYPICAL);
  COR_clear_all();
  EXPECT_EQ(stored_crc(piece), 0);
  COR_init(nullptr);
  EXPECT_EQ(COR_get_ionospheric_parameters(&got), 0) << "cleared";
}

TEST_F(Correction, EndianConversionRules) {
  const bool host_big = std::endian::native == std::endian::big;
  auto swap16 = [](U16 v) { return static_cast<U16>((v >> 8) | (v << 8)); };
  // The image of TYPICAL as the other order writes it, and its CRC.
  std::array<U08, 34> other{};
  write_image(other.data(), TYPICAL, !host_big);
  const U16 crc_other_data = crc16(other.data(), 32);
  std::array<U08, 34> mine{};
  write_image(mine.data(), TYPICAL, host_big);
  const U16 crc_my_data = crc16(mine.data(), 32);
  struct Case {
    const char* name;
    bool data_other_order;  // the 32 bytes lie in the other order
    U16 stored;             // the CRC word as read on this machine
    U16 expected;           // after the conversion
    bool data_now_mine;     // the converted bytes are this machine's record
  };
  const std::vector<Case> cases = {
      {"other order, valid: CRC of the converted data", true, swap16(crc_other_data), crc_my_data, true},
      {"this order, valid: no match either way, kept swapped", false, crc_my_data, swap16(crc_my_data), false},
      {"CRC equal to the converted data's: garbled, 0", false, swap16(crc16(other.data(), 32)), 0, false},
      {"CRC matching nothing: kept swapped", true, 0x3412, 0x1234, true},
  };
  for (const Case& c : cases) {
    std::array<U08, 34> rec = c.data_other_order ? other : mine;
    U16 crc = c.stored;
    COR_data_endian_conversion(rec.data(), &crc);
    EXPECT_EQ(crc, c.expected) << c.name;
    EXPECT_EQ(std::memcmp(rec.data(), c.data_now_mine ? mine.data() : other.data(), 32), 0) << c.name;
  }
}

TEST_F(Correction, BackupObserversAndRestoreFromACopy) {
  static std::array<U08, 32> copy{};
  static int cleared = 0;
  copy.fill(0);
  cleared = 0;
  COR_install_backup_iono_parameters_callback([](const void* d, S16 size) {
    ASSERT_EQ(size, 32);
    std::memcpy(copy.data(), d, 32);
  });
  COR_install_clear_iono_parameters_callback([] { ++cleared; });
  EXPECT_EQ(COR_get_backup_iono_parameters_size(), 32);
  load(STRONG);
  COR_T before{};
  ASSERT_EQ(COR_get_ionospheric_parameters(&before), 1);
  COR_clear_all();
  EXPECT_EQ(cleared, 1);
  COR_T got{};
  EXPECT_EQ(COR_get_ionospheric_parameters(&got), 0);
  EXPECT_EQ(COR_update_iono_parameters_from_backup_region(copy.data()), 1);
  ASSERT_EQ(COR_get_ionospheric_parameters(&got), 1);
  EXPECT_EQ(std::memcmp(&got, &before, sizeof got), 0);
  EXPECT_EQ(COR_update_iono_parameters_from_backup_region(nullptr), 0);
  // Stored in the region with its CRC: survives a restart.
  COR_init(nullptr);
  EXPECT_EQ(COR_get_ionospheric_parameters(&got), 1);
}

// --- satellite clock terms -----------------------------------------------------------

TEST(CorrectionClock, RelativisticTermKnownValues) {
  // -2 r.v / c^2, s, worked by hand.
  struct Case {
    const char* name;
    POS_T pos;
    VEL_T vel;
    D64 expected;
  };
  const std::vector<Case> cases = {
      {"r.v = 4e9 m^2/s", {15e6, 10e6, 18e6}, {1000.0F, -2000.0F, 500.0F}, -8.9012004e-8},
      {"circular (r.v = 0)", {26560e3, 0.0, 0.0}, {0.0F, 3874.0F, 0.0F}, 0.0},
      {"receding, r.v = 2.07e10 m^2/s", {-12e6, 20e6, 13e6}, {-400.0F, 600.0F, 300.0F}, -4.6063712e-7},
  };
  for (const Case& c : cases)
    EXPECT_NEAR(COR_relativistic_effect(&c.pos, &c.vel), c.expected, 1e-6 * std::fabs(c.expected) + 1e-15) << c.name;
  const VEL_T v{1000.0F, -2000.0F, 500.0F};
  EXPECT_EQ(COR_relativistic_effect(nullptr, &v), 0.0F);
  EXPECT_EQ(COR_erd(nullptr), 0.0F);
}

class CorrectionSky : public ::testing::Test {
 protected:
  void SetUp() override {
    ENDIAN_set_swap_flag(0);
    ASSERT_EQ(init_full_sky(2300, 200000.0), 1);
    eph_region_.fill(0);
    EPH_init_storage_address(eph_region_.data(), 0);
    EPH_init(nullptr);
  }
  void TearDown() override {
    EPH_init_storage_address(nullptr, 0);
    EPH_init(nullptr);
  }
  // Subframes 1..3 of the frame at tow, decoded into the record of svid.
  static void load_eph(int svid, int week, D64 tow) { load_sky_ephemeris(svid, sky_frame(svid, week, tow)); }
  std::array<U08, EPH_BACKUP_SIZE> eph_region_{};
};

// Group delay, clock polynomial and relativistic term of every satellite
// against the sky's broadcast fields and its clock (which includes
// F e sqrt(A) sin E): the relativistic term from -2 r.v / c^2 equals it.
TEST_F(CorrectionSky, ClockTermsEqualTheSkyClock) {
  const int week = 2300;
  int n = 0;
  for (int svid = 1; svid <= SKY_MAX_SV; ++svid) {
    for (const D64 tow : {200000.0, 201234.5, 203000.0}) {
      SKY_EPH_T se{};
      ASSERT_EQ(SKY_get_ephemeris(svid, SKY_GPST_T{week, std::floor(tow / 30.0) * 30.0}, &se), 1);
      load_eph(svid, week, tow);
      const SV_T sv = SV_get_reference(GNSS_TYPE_GPS, static_cast<S16>(svid));
      ASSERT_NE(sv, nullptr);
      const std::string at = "svid " + std::to_string(svid) + " tow " + std::to_string(tow);
      EXPECT_EQ(COR_group_delay(sv), static_cast<F32>(std::ldexp(static_cast<D64>(se.tgd), -31))) << at;

      const D64 af0 = std::ldexp(static_cast<D64>(se.af0), -31);
      const D64 af1 = std::ldexp(static_cast<D64>(se.af1), -43);
      const D64 af2 = std::ldexp(static_cast<D64>(se.af2), -55);
      const D64 tk = tow - se.toc * 16.0;
      const D64 poly = af0 + af1 * tk + af2 * tk * tk;
      F32 dt = 1.0F, ddt = 1.0F;
      ASSERT_EQ(COR_clock_correction_polynomials(sv, static_cast<S16>(week), tow, &dt, &ddt), 1) << at;
      EXPECT_NEAR(dt, poly, 1e-11) << at;
      EXPECT_NEAR(ddt, af1 + 2.0 * af2 * tk, 1e-15) << at;

      std::array<D64, 3> p{}, v{};
      D64 clk = 0.0;
      ASSERT_EQ(SKY_eph_sat_state(&se, SKY_GPST_T{week, tow}, p.data(), v.data(), &clk), 1) << at;
      const POS_T pos{p[0], p[1], p[2]};
      const VEL_T vel{static_cast<F32>(v[0]), static_cast<F32>(v[1]), static_cast<F32>(v[2])};
      EXPECT_NEAR(COR_relativistic_effect(&pos, &vel), clk - poly, 1e-10) << at;
      ++n;
    }
  }
  EXPECT_GT(n, 20);
}

TEST_F(CorrectionSky, NoClockTermsWithoutAGpsEphemeris) {
  struct Case {
    const char* name;
    SV_T sv;
  };
  EPH_clear_all();
  const std::vector<Case> cases = {
      {"null satellite", nullptr},
      {"GPS satellite without ephemeris", SV_get_reference(GNSS_TYPE_GPS, 5)},
      {"SBAS satellite", SV_get_reference(GNSS_TYPE_SBAS, 129)},
  };
  for (const Case& c : cases) {
    F32 dt = 1.0F, ddt = 1.0F;
    EXPECT_EQ(COR_clock_correction_polynomials(c.sv, 2300, 200000.0, &dt, &ddt), 0) << c.name;
    EXPECT_EQ(dt, 0.0F) << c.name;
    EXPECT_EQ(ddt, 0.0F) << c.name;
    EXPECT_EQ(COR_group_delay(c.sv), 0.0F) << c.name;
  }
  // Out of the ephemeris' time window: no polynomial.
  load_eph(5, 2300, 200000.0);
  F32 dt = 1.0F, ddt = 1.0F;
  EXPECT_EQ(COR_clock_correction_polynomials(SV_get_reference(GNSS_TYPE_GPS, 5), 2300, 250000.0, &dt, &ddt), 0);
  EXPECT_EQ(dt, 0.0F);
}

}  // namespace
