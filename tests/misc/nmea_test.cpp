// NMEA 0183 sentence builders: each case a record and the exact sentence it
// must give, the checksum computed here by an independent XOR; checksum
// known answers from the NMEA 0183 examples; hostile records that must never
// write past the 256-byte buffer.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "misc/nmea.h"

namespace {

// "$" + body + "*" + XOR of the body's characters as two upper-case hex digits + CR LF.
std::string sentence(const std::string& body) {
  unsigned x = 0;
  for (const char c : body) x ^= static_cast<unsigned char>(c);
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", x);
  return "$" + body + tail;
}

// 12:35:19.000 UTC on 23 March 1994 at 48 07.038 N, 11 31.000 E, 545.4 m
// above mean sea level (geoid 46.9 m), a 3-D fix of 8 satellites, HDOP 0.9
// (the NMEA 0183 GGA / RMC example).
NMEA_DATA_T base_record() {
  NMEA_DATA_T d{};
  d.hour = 12;
  d.minute = 35;
  d.sec = 19.0f;
  d.day = 23;
  d.month = 3;
  d.year = 1994;
  d.is_north = 1;
  d.is_east = 1;
  d.lat_d = 48;
  d.lat_m = 7.038f;
  d.lon_d = 11;
  d.lon_m = 31.0f;
  d.geoid = 469;
  d.alt = 545.4f + 46.9f;
  d.fix_mode = FIX_3D;
  d.nsv_used_gps = 8;
  d.id_nums_gps = {4, 5, 9, 12, 24, 25, 29, 31};
  d.pdop = 2.5f;
  d.hdop = 0.9f;
  d.vdop = 2.1f;
  d.speed = 22.4f;
  d.course = 84.4f;
  return d;
}

enum class Builder { GGA, GSA, RMC, VTG, GNS, GLL, ZDA, GLGSA, GNGSA_GPS, GNGSA_GLONASS, BDGSA };

S16 build(Builder b, U08* buf, const NMEA_DATA_T* d) {
  switch (b) {
    case Builder::GGA:
      return NMEA_gga(buf, d);
    case Builder::GSA:
      return NMEA_gsa(buf, d);
    case Builder::RMC:
      return NMEA_rmc(buf, d);
    case Builder::VTG:
      return NMEA_vtg(buf, d);
    case Builder::GNS:
      return NMEA_gns(buf, d);
    case Builder::GLL:
      return NMEA_gll(buf, d);
    case Builder::ZDA:
      return NMEA_zda(buf, d);
    case Builder::GLGSA:
      return NMEA_gsa_glonass(buf, d);
    case Builder::GNGSA_GPS:
      return NMEA_gsa_combined_system(buf, d, GNSS_TYPE_GPS);
    case Builder::GNGSA_GLONASS:
      return NMEA_gsa_combined_system(buf, d, GNSS_TYPE_GLONASS);
    case Builder::BDGSA:
      return NMEA_BD_gsa(buf, d);
  }
  return 0;
}

struct SentenceCase {
  const char* name;
  Builder builder;
  std::function<void(NMEA_DATA_T*)> change;  // applied to the base record
  const char* body;                          // expected sentence between '$' and '*'
};
void PrintTo(const SentenceCase& c, std::ostream* os) { *os << c.name; }

void none(NMEA_DATA_T*) {}

const std::vector<SentenceCase>& sentence_cases() {
  static const std::vector<SentenceCase> cases = {
      // GGA
      {"gga_example", Builder::GGA, none, "GPGGA,123519.000,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,0000"},
      {"gga_carry_24_9999995_deg", Builder::GGA, [](NMEA_DATA_T* d) { NMEA_set_position(d, 24.9999995, -80.5); },
       "GPGGA,123519.000,2500.0000,N,08030.0000,W,1,08,0.9,545.4,M,46.9,M,,0000"},
      {"gga_no_carry_24_999999_deg", Builder::GGA, [](NMEA_DATA_T* d) { NMEA_set_position(d, 24.999999, -80.5); },
       "GPGGA,123519.000,2459.9999,N,08030.0000,W,1,08,0.9,545.4,M,46.9,M,,0000"},
      {"gga_longitude_carry_south", Builder::GGA, [](NMEA_DATA_T* d) { NMEA_set_position(d, -33.5, 151.99999999); },
       "GPGGA,123519.000,3330.0000,S,15200.0000,E,1,08,0.9,545.4,M,46.9,M,,0000"},
      {"gga_5m_below_msl_prints_0", Builder::GGA,
       [](NMEA_DATA_T* d) {
         d->alt = 10.0f;
         d->geoid = 150;
       },
       "GPGGA,123519.000,4807.0380,N,01131.0000,E,1,08,0.9,0.0,M,15.0,M,,0000"},
      {"gga_negative_geoid", Builder::GGA,
       [](NMEA_DATA_T* d) {
         d->alt = -20.0f;
         d->geoid = -305;
       },
       "GPGGA,123519.000,4807.0380,N,01131.0000,E,1,08,0.9,10.5,M,-30.5,M,,0000"},
      {"gga_no_fix", Builder::GGA,
       [](NMEA_DATA_T* d) {
         d->fix_mode = FIX_NONE;
         d->nsv_used_gps = 0;
       },
       "GPGGA,123519.000,4807.0380,N,01131.0000,E,0,00,0.9,545.4,M,46.9,M,,0000"},
      {"gga_prediction_quality_6", Builder::GGA, [](NMEA_DATA_T* d) { d->fix_mode = FIX_PREDICTION; },
       "GPGGA,123519.000,4807.0380,N,01131.0000,E,6,08,0.9,545.4,M,46.9,M,,0000"},
      {"gga_2d_quality_1", Builder::GGA, [](NMEA_DATA_T* d) { d->fix_mode = FIX_2D; },
       "GPGGA,123519.000,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,0000"},
      {"gga_differential_quality_2", Builder::GGA, [](NMEA_DATA_T* d) { d->fix_mode = FIX_DIFF; },
       "GPGGA,123519.000,4807.0380,N,01131.0000,E,2,08,0.9,545.4,M,46.9,M,,0000"},
      {"gga_glonass_added_to_count_dop_99_9", Builder::GGA,
       [](NMEA_DATA_T* d) {
         d->nsv_used_glonass = 3;
         d->hdop = 99.9f;
         d->sec = 59.999f;
       },
       "GPGGA,123559.999,4807.0380,N,01131.0000,E,1,11,99.9,545.4,M,46.9,M,,0000"},
      // GSA
      {"gsa_3d_8_used", Builder::GSA, none, "GPGSA,A,3,04,05,09,12,24,25,29,31,,,,,2.5,0.9,2.1"},
      {"gsa_no_fix_type_1", Builder::GSA,
       [](NMEA_DATA_T* d) {
         d->fix_mode = FIX_NONE;
         d->nsv_used_gps = 0;
       },
       "GPGSA,A,1,,,,,,,,,,,,,2.5,0.9,2.1"},
      {"gsa_prediction_3_used_type_2", Builder::GSA,
       [](NMEA_DATA_T* d) {
         d->fix_mode = FIX_PREDICTION;
         d->nsv_used_gps = 3;
       },
       "GPGSA,A,2,04,05,09,,,,,,,,,,2.5,0.9,2.1"},
      {"gsa_2d_4_used_type_3", Builder::GSA,
       [](NMEA_DATA_T* d) {
         d->fix_mode = FIX_2D;
         d->nsv_used_gps = 4;
       },
       "GPGSA,A,3,04,05,09,12,,,,,,,,,2.5,0.9,2.1"},
      {"gsa_13_used_12_fields", Builder::GSA,
       [](NMEA_DATA_T* d) {
         d->nsv_used_gps = 13;
         for (int k = 0; k < 13; ++k) d->id_nums_gps[static_cast<std::size_t>(k)] = static_cast<S16>(k + 1);
       },
       "GPGSA,A,3,01,02,03,04,05,06,07,08,09,10,11,12,2.5,0.9,2.1"},
      {"gsa_20_used_12_fields", Builder::GSA,
       [](NMEA_DATA_T* d) {
         d->nsv_used_gps = 20;
         for (int k = 0; k < 20; ++k) d->id_nums_gps[static_cast<std::size_t>(k)] = static_cast<S16>(k + 11);
       },
       "GPGSA,A,3,11,12,13,14,15,16,17,18,19,20,21,22,2.5,0.9,2.1"},
      {"gsa_prn_above_99", Builder::GSA,
       [](NMEA_DATA_T* d) {
         d->nsv_used_gps = 3;
         d->id_nums_gps = {7, 193, 40};
       },
       "GPGSA,A,3,07,193,40,,,,,,,,,,2.5,0.9,2.1"},
      // RMC
      {"rmc_example", Builder::RMC, none, "GPRMC,123519.000,A,4807.0380,N,01131.0000,E,022.4,084.4,230394,,,A"},
      {"rmc_no_fix", Builder::RMC, [](NMEA_DATA_T* d) { d->fix_mode = FIX_NONE; },
       "GPRMC,123519.000,V,4807.0380,N,01131.0000,E,022.4,084.4,230394,,,N"},
      {"rmc_prediction_V_E", Builder::RMC, [](NMEA_DATA_T* d) { d->fix_mode = FIX_PREDICTION; },
       "GPRMC,123519.000,V,4807.0380,N,01131.0000,E,022.4,084.4,230394,,,E"},
      {"rmc_prediction_inertial_A_E", Builder::RMC,
       [](NMEA_DATA_T* d) {
         d->fix_mode = FIX_PREDICTION;
         d->is_INS = 1;
       },
       "GPRMC,123519.000,A,4807.0380,N,01131.0000,E,022.4,084.4,230394,,,E"},
      {"rmc_differential_year_2026", Builder::RMC,
       [](NMEA_DATA_T* d) {
         d->fix_mode = FIX_DIFF;
         d->year = 2026;
         d->day = 7;
         d->month = 12;
         d->speed = 0.0f;
         d->course = 359.94f;
       },
       "GPRMC,123519.000,A,4807.0380,N,01131.0000,E,000.0,359.9,071226,,,D"},
      {"rmc_carry_24_9999995_deg", Builder::RMC, [](NMEA_DATA_T* d) { NMEA_set_position(d, 24.9999995, 0.0); },
       "GPRMC,123519.000,A,2500.0000,N,00000.0000,E,022.4,084.4,230394,,,A"},
      // VTG
      {"vtg_example", Builder::VTG, none, "GPVTG,084.4,T,,M,022.4,N,041.5,K,A"},
      {"vtg_no_fix", Builder::VTG, [](NMEA_DATA_T* d) { d->fix_mode = FIX_NONE; },
       "GPVTG,084.4,T,,M,022.4,N,041.5,K,N"},
      {"vtg_prediction", Builder::VTG, [](NMEA_DATA_T* d) { d->fix_mode = FIX_PREDICTION; },
       "GPVTG,084.4,T,,M,022.4,N,041.5,K,E"},
      // The other builders
      {"gns_gps_only", Builder::GNS, none, "GNGNS,123519.000,4807.0380,N,01131.0000,E,AN,08,0.9,545.4,46.9,,"},
      {"gns_gps_glonass", Builder::GNS, [](NMEA_DATA_T* d) { d->nsv_used_glonass = 4; },
       "GNGNS,123519.000,4807.0380,N,01131.0000,E,AA,12,0.9,545.4,46.9,,"},
      {"gll_example", Builder::GLL, none, "GPGLL,4807.0380,N,01131.0000,E,123519.000,A,A"},
      {"gll_no_fix", Builder::GLL, [](NMEA_DATA_T* d) { d->fix_mode = FIX_NONE; },
       "GPGLL,4807.0380,N,01131.0000,E,123519.000,V,N"},
      {"gll_carry_24_9999995_deg", Builder::GLL, [](NMEA_DATA_T* d) { NMEA_set_position(d, -24.9999995, -0.5); },
       "GPGLL,2500.0000,S,00030.0000,W,123519.000,A,A"},
      {"zda_example", Builder::ZDA, none, "GPZDA,123519.000,23,03,1994,00,00"},
      {"glgsa", Builder::GLGSA,
       [](NMEA_DATA_T* d) {
         d->nsv_used_glonass = 2;
         d->id_nums_glonass = {65, 88};
       },
       "GLGSA,A,3,65,88,,,,,,,,,,,2.5,0.9,2.1"},
      {"gngsa_gps", Builder::GNGSA_GPS,
       [](NMEA_DATA_T* d) {
         d->nsv_used_gps = 2;
         d->fix_mode = FIX_2D;
         d->nsv_used_glonass = 2;
       },
       "GNGSA,A,3,04,05,,,,,,,,,,,2.5,0.9,2.1"},
      {"gngsa_glonass", Builder::GNGSA_GLONASS,
       [](NMEA_DATA_T* d) {
         d->nsv_used_glonass = 1;
         d->id_nums_glonass = {70};
       },
       "GNGSA,A,3,70,,,,,,,,,,,,2.5,0.9,2.1"},
      {"bdgsa", Builder::BDGSA,
       [](NMEA_DATA_T* d) {
         d->nsv_used_beidou2 = 2;
         d->id_nums_beidou2 = {1, 14};
       },
       "BDGSA,A,3,01,14,,,,,,,,,,,2.5,0.9,2.1"},
  };
  return cases;
}

class NmeaSentence : public testing::TestWithParam<SentenceCase> {};

TEST_P(NmeaSentence, ExactSentence) {
  const SentenceCase& c = GetParam();
  NMEA_DATA_T d = base_record();
  c.change(&d);
  std::array<U08, NMEA_BUF_SIZE> buf{};
  const S16 n = build(c.builder, buf.data(), &d);
  const std::string got(reinterpret_cast<const char*>(buf.data()));
  EXPECT_EQ(got, sentence(c.body));
  EXPECT_EQ(n, static_cast<S16>(got.size()));
}

INSTANTIATE_TEST_SUITE_P(Builders, NmeaSentence, testing::ValuesIn(sentence_cases()),
                         [](const testing::TestParamInfo<SentenceCase>& i) { return std::string(i.param.name); });

// GSV blocks: the satellites in view and every sentence of the block.
struct GsvCase {
  const char* name;
  std::vector<NMEA_SV_T> sv;
  std::vector<const char*> bodies;  // sentence 1, 2, ...
};
void PrintTo(const GsvCase& c, std::ostream* os) { *os << c.name; }

const std::vector<GsvCase>& gsv_cases() {
  static const std::vector<GsvCase> cases = {
      {"nine_in_view_4_4_1",
       {{1, 80, 10, 45},
        {2, 70, 20, 44},
        {3, 60, 30, 43},
        {4, 50, 40, 42},
        {5, 40, 50, 41},
        {6, 30, 60, 40},
        {7, 20, 70, 39},
        {8, 10, 80, 38},
        {9, 5, 90, 37}},
       {"GPGSV,3,1,09,01,80,010,45,02,70,020,44,03,60,030,43,04,50,040,42",
        "GPGSV,3,2,09,05,40,050,41,06,30,060,40,07,20,070,39,08,10,080,38", "GPGSV,3,3,09,09,05,090,37"}},
      {"sorted_by_elevation",
       {{12, 7, 344, 39}, {1, 40, 83, 46}, {14, 22, 228, 45}, {2, 17, 308, 41}},
       {"GPGSV,1,1,04,01,40,083,46,14,22,228,45,02,17,308,41,12,07,344,39"}},
      {"equal_elevations_keep_order",
       {{5, 30, 100, 40}, {7, 45, 200, 41}, {2, 30, 300, 42}, {9, 30, 10, 43}, {3, 45, 20, 44}},
       {"GPGSV,2,1,05,07,45,200,41,03,45,020,44,05,30,100,40,02,30,300,42", "GPGSV,2,2,05,09,30,010,43"}},
      {"untracked_empty_cn0", {{3, 60, 30, 43}, {17, 12, 270, -1}}, {"GPGSV,1,1,02,03,60,030,43,17,12,270,"}},
      {"prn_above_99",
       {{193, 70, 5, 40}, {40, 35, 180, 38}, {194, 10, 355, -1}},
       {"GPGSV,1,1,03,193,70,005,40,40,35,180,38,194,10,355,"}},
      {"none_in_view", {}, {}},
  };
  return cases;
}

class NmeaGsv : public testing::TestWithParam<GsvCase> {};

TEST_P(NmeaGsv, Block) {
  const GsvCase& c = GetParam();
  std::array<NMEA_SV_T, NMEA_MAX_SV> sv{};
  std::copy(c.sv.begin(), c.sv.end(), sv.begin());
  const S32 n = static_cast<S32>(c.sv.size());
  const S32 sentences = (n + 3) / 4;
  ASSERT_EQ(static_cast<std::size_t>(sentences), c.bodies.size());
  std::array<U08, NMEA_BUF_SIZE> buf{};
  for (S32 k = 1; k <= sentences; ++k) {
    const S16 len = NMEA_gsv(buf.data(), n, k, sv.data());
    const std::string got(reinterpret_cast<const char*>(buf.data()));
    EXPECT_EQ(got, sentence(c.bodies[static_cast<std::size_t>(k - 1)])) << "sentence " << k;
    EXPECT_EQ(len, static_cast<S16>(got.size()));
  }
  // past the block: nothing
  for (const S32 k : {0, sentences + 1, -1}) {
    buf.fill('x');
    EXPECT_EQ(NMEA_gsv(buf.data(), n, k, sv.data()), 0) << "sentence " << k;
    EXPECT_EQ(buf[0], 0) << "sentence " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(Builders, NmeaGsv, testing::ValuesIn(gsv_cases()),
                         [](const testing::TestParamInfo<GsvCase>& i) { return std::string(i.param.name); });

TEST(NmeaGsv, GlonassAndBeidouLayouts) {
  std::array<U08, NMEA_BUF_SIZE> buf{};
  std::array<NMEA_SV_GLONASS_T, 2> glo = {{{70, 1, 20, 100, -1}, {65, -7, 50, 200, 33}}};
  NMEA_gsv_glonass(buf.data(), 2, 1, glo.data());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buf.data())), sentence("GLGSV,1,1,02,65,50,200,33,70,20,100,"));
  std::array<NMEA_SV_T, 1> bd = {{{11, 33, 44, 30}}};
  NMEA_BD_gsv(buf.data(), 1, 1, bd.data());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buf.data())), sentence("BDGSV,1,1,01,11,33,044,30"));
}

// Checksums of the NMEA 0183 examples (the text between '$' and '*', and the
// checksum printed after '*').
TEST(NmeaChecksum, KnownAnswers) {
  struct Kat {
    const char* name;
    const char* body;
    unsigned sum;
  };
  const Kat kats[] = {
      {"gga", "GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,", 0x47},
      {"rmc", "GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W", 0x6A},
      {"gsa", "GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1", 0x39},
      {"gsv", "GPGSV,2,1,08,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45", 0x75},
      {"empty", "", 0x00},
  };
  for (const Kat& k : kats) EXPECT_EQ(cal_checksum(k.body), k.sum) << k.name;
}

TEST(NmeaPosition, DegreesToFields) {
  struct Case {
    const char* name;
    double lat, lon;
    S16 north, east, lat_d, lon_d;
    double lat_m, lon_m;
  };
  const Case cases[] = {
      {"north_east", 48.1173, 11.5166666667, 1, 1, 48, 11, 7.038, 31.0},
      {"south_west", -33.8568, -151.2153, 0, 0, 33, 151, 51.408, 12.918},
      {"zero", 0.0, 0.0, 1, 1, 0, 0, 0.0, 0.0},
      {"not_finite", std::nan(""), std::numeric_limits<double>::infinity(), 1, 1, 0, 0, 0.0, 0.0},
  };
  for (const Case& c : cases) {
    NMEA_DATA_T d{};
    NMEA_set_position(&d, c.lat, c.lon);
    EXPECT_EQ(d.is_north, c.north) << c.name;
    EXPECT_EQ(d.is_east, c.east) << c.name;
    EXPECT_EQ(d.lat_d, c.lat_d) << c.name;
    EXPECT_EQ(d.lon_d, c.lon_d) << c.name;
    EXPECT_NEAR(d.lat_m, c.lat_m, 1e-4) << c.name;
    EXPECT_NEAR(d.lon_m, c.lon_m, 1e-4) << c.name;
  }
}

// Hostile records: every builder stays inside its 256 bytes and still writes
// one terminated sentence with a right checksum.
constexpr std::size_t GUARD = 256;
constexpr U08 CANARY = 0xA5;

void check_bounded(const std::array<U08, NMEA_BUF_SIZE + GUARD>& buf, S16 n, const std::string& what) {
  for (std::size_t i = NMEA_BUF_SIZE; i < buf.size(); ++i)
    ASSERT_EQ(buf[i], CANARY) << what << ": byte " << i << " written past the buffer";
  const char* s = reinterpret_cast<const char*>(buf.data());
  const std::size_t len = strnlen(s, NMEA_BUF_SIZE);
  ASSERT_LT(len, static_cast<std::size_t>(NMEA_BUF_SIZE)) << what << ": not terminated";
  EXPECT_EQ(static_cast<std::size_t>(n), len) << what;
  if (len == 0) return;
  const std::string str(s, len);
  ASSERT_GE(len, 6u) << what;
  EXPECT_EQ(str[0], '$') << what;
  EXPECT_EQ(str.substr(len - 2), "\r\n") << what;
  EXPECT_EQ(str[len - 5], '*') << what;
  EXPECT_EQ(str, sentence(str.substr(1, len - 6))) << what;
}

TEST(NmeaHostile, RecordsStayInTheBuffer) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Hostile {
    const char* name;
    std::function<void(NMEA_DATA_T*)> change;
  };
  const Hostile cases[] = {
      {"nan_everywhere",
       [&](NMEA_DATA_T* d) {
         d->lat_m = d->lon_m = d->alt = d->course = d->speed = d->sec = nan;
         d->pdop = d->hdop = d->vdop = nan;
       }},
      {"infinities",
       [&](NMEA_DATA_T* d) {
         d->lat_m = d->alt = d->speed = inf;
         d->lon_m = d->course = d->hdop = -inf;
       }},
      {"huge_values",
       [](NMEA_DATA_T* d) {
         d->lat_m = d->lon_m = d->alt = d->course = d->speed = d->sec = 3e38f;
         d->pdop = d->hdop = d->vdop = -3e38f;
         d->lat_d = d->lon_d = d->geoid = d->dgps_stid = -32768;
         d->year = 65535;
         d->day = d->month = d->hour = d->minute = 255;
       }},
      {"negative_counts", [](NMEA_DATA_T* d) { d->nsv_used_gps = d->nsv_used_glonass = d->nsv_used_beidou2 = -7; }},
      {"counts_above_20_big_ids",
       [](NMEA_DATA_T* d) {
         d->nsv_used_gps = d->nsv_used_glonass = d->nsv_used_beidou2 = 32767;
         d->id_nums_gps.fill(-32768);
         d->id_nums_glonass.fill(32767);
         d->id_nums_beidou2.fill(-1);
       }},
      {"fix_mode_below", [](NMEA_DATA_T* d) { d->fix_mode = -3; }},
      {"fix_mode_above", [](NMEA_DATA_T* d) { d->fix_mode = 77; }},
      {"everything_at_once",
       [&](NMEA_DATA_T* d) {
         d->lat_m = d->lon_m = d->alt = d->course = d->speed = d->sec = -3e38f;
         d->pdop = d->hdop = d->vdop = nan;
         d->lat_d = d->lon_d = d->geoid = d->dgps_stid = 32767;
         d->nsv_used_gps = d->nsv_used_glonass = d->nsv_used_beidou2 = 21;
         d->id_nums_gps.fill(-32768);
         d->id_nums_glonass.fill(-32768);
         d->id_nums_beidou2.fill(-32768);
         d->fix_mode = 32767;
         d->is_north = d->is_east = -1;
       }},
  };
  const Builder builders[] = {Builder::GGA,       Builder::GSA,           Builder::RMC,  Builder::VTG,
                              Builder::GNS,       Builder::GLL,           Builder::ZDA,  Builder::GLGSA,
                              Builder::GNGSA_GPS, Builder::GNGSA_GLONASS, Builder::BDGSA};
  for (const Hostile& h : cases) {
    NMEA_DATA_T d = base_record();
    h.change(&d);
    for (const Builder b : builders) {
      std::array<U08, NMEA_BUF_SIZE + GUARD> buf{};
      buf.fill(CANARY);
      const S16 n = build(b, buf.data(), &d);
      check_bounded(buf, n, std::string(h.name) + " builder " + std::to_string(static_cast<int>(b)));
    }
  }
}

TEST(NmeaHostile, GsvCountsAndSentences) {
  struct Hostile {
    const char* name;
    S32 nview, sentence;
    S16 prn, elv, azm, cn0;
  };
  const Hostile cases[] = {
      {"negative_count", -5, 1, 1, 1, 1, 1},
      {"count_above_20_sentence_5", 1000, 5, -32768, -32768, -32768, 32767},
      {"count_above_20_sentence_6", 21, 6, 32767, 32767, 32767, -32768},
      {"sentence_zero", 9, 0, 1, 2, 3, 4},
      {"sentence_negative", 9, -2147483647, 1, 2, 3, 4},
      {"sentence_huge", 9, 2147483647, 1, 2, 3, 4},
      {"count_huge", 2147483647, 1, -1, -1, -1, -1},
  };
  for (const Hostile& h : cases) {
    std::array<NMEA_SV_T, NMEA_MAX_SV> sv{};
    sv.fill(NMEA_SV_T{h.prn, h.elv, h.azm, h.cn0});
    std::array<NMEA_SV_GLONASS_T, NMEA_MAX_SV> glo{};
    glo.fill(NMEA_SV_GLONASS_T{h.prn, h.prn, h.elv, h.azm, h.cn0});
    for (int which = 0; which < 3; ++which) {
      std::array<U08, NMEA_BUF_SIZE + GUARD> buf{};
      buf.fill(CANARY);
      const S16 n = which == 0   ? NMEA_gsv(buf.data(), h.nview, h.sentence, sv.data())
                    : which == 1 ? NMEA_BD_gsv(buf.data(), h.nview, h.sentence, sv.data())
                                 : NMEA_gsv_glonass(buf.data(), h.nview, h.sentence, glo.data());
      check_bounded(buf, n, std::string(h.name) + " gsv " + std::to_string(which));
    }
  }
}

}  // namespace
