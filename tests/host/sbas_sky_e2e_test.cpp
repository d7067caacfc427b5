// End to end: a simulated sky with an SBAS GEO (prn 129 over 140 E, seen
// from Japan) replayed through the navigation run with --output-nmea 1 and
// --meas-csv. The GEO's channel decodes its symbol stream (type 1, 9 and the
// correction types), the type 9 message gives the kernel the GEO's orbit: the
// elevation and azimuth the kernel shows for it (GSV and the measurement
// log) against the sky's true GEO, its transmit time against the true
// geometry; once corrections arrive the GGA quality is 2 (differential), and
// in the same sky without the GEO it stays 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"
#include "tests/host/sky_set.h"
#include "tools/sky/sky.h"
#include "tools/sky/sky_sbas.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double DEG = PI / 180.0;
constexpr double C_MPS = 299792458.0;
constexpr double WEEK_S = 604800.0;

constexpr const char* SKY_BASE =
    "start_week = 2400\nstart_tow = 300000\nduration = 100\nnsat = 10\nlat = 35.6\nlon = 139.7\nheight = 40\n"
    "iono_scale = 0\ntropo_model = simple\n";

struct Receiver {
  double llh[3] = {35.6 * DEG, 139.7 * DEG, 40.0};
  double pos[3] = {};
  double enu[3][3] = {};
  Receiver() {
    constexpr double A = 6378137.0, F = 1.0 / 298.257223563, E2 = F * (2.0 - F);
    const double sl = std::sin(llh[0]), cl = std::cos(llh[0]), so = std::sin(llh[1]), co = std::cos(llh[1]);
    const double n = A / std::sqrt(1.0 - E2 * sl * sl);
    pos[0] = (n + llh[2]) * cl * co;
    pos[1] = (n + llh[2]) * cl * so;
    pos[2] = (n * (1.0 - E2) + llh[2]) * sl;
    const double e[3][3] = {{-so, co, 0.0}, {-sl * co, -sl * so, cl}, {cl * co, cl * so, sl}};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) enu[i][j] = e[i][j];
  }
};

// True elevation, azimuth (degrees) and range (m) of the GEO at GPS time t
// (s since week 0), light time and Earth rotation included.
void geo_look(const SKY_SBAS_GEO_T& g, const Receiver& r, double t, double* el, double* az, double* range) {
  double tau = 0.12;
  double s[3] = {};
  for (int it = 0; it < 5; ++it) {
    double p[3] = {};
    SKY_SBAS_geo_state(g, t - tau, p, nullptr, nullptr);
    const double th = 7.2921151467e-5 * tau;
    s[0] = std::cos(th) * p[0] + std::sin(th) * p[1];
    s[1] = -std::sin(th) * p[0] + std::cos(th) * p[1];
    s[2] = p[2];
    *range = std::sqrt((s[0] - r.pos[0]) * (s[0] - r.pos[0]) + (s[1] - r.pos[1]) * (s[1] - r.pos[1]) +
                       (s[2] - r.pos[2]) * (s[2] - r.pos[2]));
    tau = *range / C_MPS;
  }
  double l[3] = {};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) l[i] += r.enu[i][j] * (s[j] - r.pos[j]);
  *az = std::atan2(l[0], l[1]) / DEG;
  if (*az < 0.0) *az += 360.0;
  *el = std::atan2(l[2], std::hypot(l[0], l[1])) / DEG;
}

std::vector<std::string> fields_of(const std::string& sentence) {
  std::vector<std::string> v;
  const std::string body = sentence.substr(1, sentence.find('*') - 1);
  std::stringstream ss(body);
  std::string f;
  while (std::getline(ss, f, ',')) v.push_back(f);
  if (!body.empty() && body.back() == ',') v.emplace_back();
  return v;
}

struct NmeaFigures {
  int fixes = 0;
  int quality1 = 0;
  int quality2 = 0;
  int first_q2 = -1;  // index of the first fix with quality 2
  int max_used = 0;   // most satellites used by a fix
  int after_q2_not2 = 0;
  int gsv_geo = 0;
  double worst_el = 0.0, worst_az = 0.0;
  double worst_horizontal_m = 0.0;  // GGA position against the receiver's true place
};

// "ddmm.mmmm" or "dddmm.mmmm" with its hemisphere letter into degrees.
double nmea_degrees(const std::string& v, const std::string& hemi, int deg_digits) {
  const double d = std::stod(v.substr(0, static_cast<std::size_t>(deg_digits))) +
                   std::stod(v.substr(static_cast<std::size_t>(deg_digits))) / 60.0;
  return hemi == "S" || hemi == "W" ? -d : d;
}

NmeaFigures read_nmea(const std::string& out, const SKY_SBAS_GEO_T* g) {
  NmeaFigures f;
  const Receiver r;
  std::istringstream in(out);
  std::string l;
  double tod = -1.0;
  while (std::getline(in, l)) {
    if (l.rfind("$GPGGA", 0) == 0) {
      const std::vector<std::string> v = fields_of(l);
      tod = v.size() > 1 && !v[1].empty()
                ? std::stod(v[1].substr(0, 2)) * 3600 + std::stod(v[1].substr(2, 2)) * 60 + std::stod(v[1].substr(4))
                : -1.0;
      if (v.size() < 8 || v[6] == "0") continue;
      f.max_used = std::max(f.max_used, std::stoi(v[7]));
      const double dn = (nmea_degrees(v[2], v[3], 2) * DEG - r.llh[0]) * 6371000.0;
      const double de = (nmea_degrees(v[4], v[5], 3) * DEG - r.llh[1]) * 6371000.0 * std::cos(r.llh[0]);
      f.worst_horizontal_m = std::max(f.worst_horizontal_m, std::hypot(dn, de));
      EXPECT_LE(std::hypot(dn, de), 5.0) << l;
      if (v[6] == "1") ++f.quality1;
      if (v[6] == "2") {
        ++f.quality2;
        if (f.first_q2 < 0) f.first_q2 = f.fixes;
      }
      if (f.first_q2 >= 0 && v[6] != "2") ++f.after_q2_not2;
      ++f.fixes;
    } else if (l.rfind("$GPGSV", 0) == 0 && g != nullptr && tod >= 0.0) {
      const std::vector<std::string> v = fields_of(l);
      for (std::size_t k = 4; k + 2 < v.size(); k += 4) {
        if (v[k] != std::to_string(g->prn - 87) || (v[k + 1] == "00" && v[k + 2] == "000")) continue;
        // GPS time of the fix: the UTC time of day plus the 16 leap seconds the kernel uses, in week 2400 day 3
        const double t = 2400.0 * WEEK_S + 3.0 * 86400.0 + tod + 16.0;
        double el = 0, az = 0, range = 0;
        geo_look(*g, r, t, &el, &az, &range);
        const double del = std::fabs(std::stod(v[k + 1]) - el);
        double daz = std::fabs(std::stod(v[k + 2]) - az);
        daz = std::min(daz, 360.0 - daz);
        EXPECT_LE(del, 1.0) << l;
        EXPECT_LE(daz, 1.0) << l;
        f.worst_el = std::max(f.worst_el, del);
        f.worst_az = std::max(f.worst_az, daz);
        ++f.gsv_geo;
      }
    }
  }
  return f;
}

struct GeoCase {
  const char* name;
  const char* keys;  // SBAS keys added to SKY_BASE
};

const GeoCase GEO_CASES[] = {
    {"clean_symbols", "sbas = 129 140\n"},
    {"two_percent_symbol_errors_type0", "sbas = 129 140\nsbas_symbol_errors = 0.02\nsbas_type0 = 1\n"},
};

void PrintTo(const GeoCase& c, std::ostream* os) { *os << c.name; }
class SbasSkyGeo : public testing::TestWithParam<GeoCase> {};

TEST_P(SbasSkyGeo, GeoDecodedPositionedAndGgaDifferential) {
  const GeoCase& c = GetParam();
  talon_test::TempDir dir;
  const std::string scenario = std::string(SKY_BASE) + c.keys;
  std::string err;
  ASSERT_GT(make_sky_set(dir, scenario, &err), 0) << err;
  SKY_SCENARIO_T sc;
  char why[256] = "";
  ASSERT_EQ(SKY_parse_scenario(scenario.c_str(), &sc, why, sizeof why), 1) << why;
  SKY_SBAS_GEO_T g;
  ASSERT_EQ(SKY_sbas_geo(&sc, 0, &g), 1);
  const talon_test::RunResult run = talon_test::run_talonhost(
      dir.path(),
      {"--rtk-mode", "0", "--mode", "1", "--output-nmea", "1", "--do-kml-output", "0", "--meas-csv", "m.csv"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const NmeaFigures f = read_nmea(run.out, &g);
  EXPECT_GE(f.fixes, 30);
  EXPECT_GE(f.quality2, 20) << "corrections never made the fix differential";
  EXPECT_EQ(f.after_q2_not2, 0);
  EXPECT_GE(f.gsv_geo, 20);
  std::printf("[ figures  ] %s: GGA worst %.2f m from the true place\n", c.name, f.worst_horizontal_m);
  // The measurement log: the GEO's rows, elevation and azimuth from the
  // kernel's GEO record and its transmit time against the true geometry.
  const Receiver r;
  std::istringstream in(talon_test::read_text(dir.file("m.csv")));
  std::string l;
  int rows = 0, timed = 0;
  double worst_el = 0, worst_az = 0, worst_tx_m = 0;
  while (std::getline(in, l)) {
    const std::vector<std::string> v = talon_test::split_csv(l);
    if (v.size() < 17 || v[4] != "S" || v[5] != "129" || v[1].empty() || v[14].empty()) continue;
    const double t = std::stod(v[1]) * WEEK_S + std::stod(v[2]);
    double el = 0, az = 0, range = 0;
    geo_look(g, r, t, &el, &az, &range);
    const double del = std::fabs(std::stod(v[14]) - el);
    double daz = std::fabs(std::stod(v[15]) - az);
    daz = std::min(daz, 360.0 - daz);
    if (del == 0.0 && std::stod(v[14]) == 0.0) continue;  // not computed yet
    EXPECT_LE(del, 0.05) << l;
    EXPECT_LE(daz, 0.05) << l;
    worst_el = std::max(worst_el, del);
    worst_az = std::max(worst_az, daz);
    ++rows;
    if (v[7] == "1" && !v[8].empty()) {
      // receive time (no clock bias in this sky) less the light time and the simple tropospheric delay
      const double tropo = SKY_simple_tropo_m(40.0, el * DEG);
      const double want = std::stod(v[2]) - (range + tropo) / C_MPS;  // time of week: no week-long sum here
      const double dm = std::fabs(std::stod(v[8]) - want) * C_MPS;
      EXPECT_LE(dm, 1.0) << l;
      worst_tx_m = std::max(worst_tx_m, dm);
      ++timed;
    }
  }
  EXPECT_GE(rows, 20);
  EXPECT_GE(timed, 20);
  std::printf(
      "[ figures  ] %s: %d fixes, quality 1: %d, quality 2: %d (first at fix %d); GSV GEO rows %d worst el %.2f "
      "az %.2f deg; meas rows %d worst el %.4f az %.4f deg; transmit time %d rows worst %.2f m\n",
      c.name, f.fixes, f.quality1, f.quality2, f.first_q2, f.gsv_geo, f.worst_el, f.worst_az, rows, worst_el, worst_az,
      timed, worst_tx_m);
}

INSTANTIATE_TEST_SUITE_P(Cases, SbasSkyGeo, testing::ValuesIn(GEO_CASES),
                         [](const testing::TestParamInfo<GeoCase>& i) { return std::string(i.param.name); });

// Four GPS satellites and the GEO: with fewer than five others the automatic
// SBAS ranging mode adds the GEO's range (its position from the type 9
// record), so the fixes use five satellites and stay on the true place.
TEST(SbasSkyRun, FourGpsSatellitesAndTheGeoRanged) {
  talon_test::TempDir dir;
  std::string scenario = std::string(SKY_BASE) + "sbas = 129 140\n";
  scenario.replace(scenario.find("nsat = 10"), 9, "nsat = 4");
  std::string err;
  ASSERT_GT(make_sky_set(dir, scenario, &err), 0) << err;
  const talon_test::RunResult run = talon_test::run_talonhost(
      dir.path(), {"--rtk-mode", "0", "--mode", "1", "--output-nmea", "1", "--do-kml-output", "0"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const NmeaFigures f = read_nmea(run.out, nullptr);
  EXPECT_GE(f.fixes, 30);
  EXPECT_EQ(f.max_used, 5);
  std::printf(
      "[ figures  ] four GPS and the GEO: %d fixes with up to %d satellites, worst %.2f m from the true place\n",
      f.fixes, f.max_used, f.worst_horizontal_m);
}

TEST(SbasSkyRun, WithoutGeoGgaStaysQualityOne) {
  talon_test::TempDir dir;
  std::string err;
  ASSERT_GT(make_sky_set(dir, SKY_BASE, &err), 0) << err;
  const talon_test::RunResult run = talon_test::run_talonhost(
      dir.path(), {"--rtk-mode", "0", "--mode", "1", "--output-nmea", "1", "--do-kml-output", "0"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const NmeaFigures f = read_nmea(run.out, nullptr);
  EXPECT_GE(f.fixes, 30);
  EXPECT_EQ(f.quality2, 0);
  EXPECT_EQ(f.quality1, f.fixes);
}

}  // namespace
