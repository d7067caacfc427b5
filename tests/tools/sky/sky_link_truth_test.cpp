// Propagation truth of a replay set: the truth file's S rows carry the
// satellite clock offset, the ionospheric and the tropospheric delay that the
// pseudorange holds. Checked here against the IS-GPS-200 clock correction and
// Klobuchar model and against the simple troposphere
// 2.47 exp(-0.000133 h) / (sin E + 0.0121), each worked in the test at the
// truth's elevation and azimuth; and noise-free pseudoranges decompose exactly:
// pseudorange - range - c bias + c sv_clock - iono - tropo = 0.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "test_util.h"
#include "tools/sky/sky.h"
#include "tools/sky/sky_link.h"

namespace {

using talon_test::TempDir;

constexpr double PI = 3.14159265358979323846;
constexpr double GPS_PI = 3.1415926535898;  // the value of pi in the IS-GPS-200 user algorithms
constexpr double C_MPS = 299792458.0;
constexpr double MU = 3.986005e14;          // m^3/s^2
constexpr double REL_F = -4.442807633e-10;  // s/m^1/2
constexpr double WEEK_S = 604800.0;
constexpr double D2R = PI / 180.0;

// WGS-84 ECEF (m) -> geodetic latitude, longitude (rad), height (m).
void ecef_to_llh(const double* r, double* llh) {
  constexpr double A = 6378137.0, F = 1.0 / 298.257223563, E2 = F * (2.0 - F);
  const double p = std::hypot(r[0], r[1]);
  double lat = std::atan2(r[2], p * (1.0 - E2)), h = 0.0;
  for (int i = 0; i < 10; ++i) {
    const double n = A / std::sqrt(1.0 - E2 * std::sin(lat) * std::sin(lat));
    h = p / std::cos(lat) - n;
    lat = std::atan2(r[2], p * (1.0 - E2 * n / (n + h)));
  }
  llh[0] = lat;
  llh[1] = std::atan2(r[1], r[0]);
  llh[2] = h;
}

// IS-GPS-200 20.3.3.5.2.5: L1 ionospheric delay (s) from the broadcast
// parameters p (message integers), user latitude and longitude (rad),
// elevation and azimuth (rad), GPS time of week (s).
double klobuchar_s(const SKY_IONO_UTC_T& p, double lat, double lon, double el, double az, double tow) {
  const double a[4] = {std::ldexp(p.alpha[0], -30), std::ldexp(p.alpha[1], -27), std::ldexp(p.alpha[2], -24),
                       std::ldexp(p.alpha[3], -24)};
  const double b[4] = {std::ldexp(p.beta[0], 11), std::ldexp(p.beta[1], 14), std::ldexp(p.beta[2], 16),
                       std::ldexp(p.beta[3], 16)};
  const double e = el / PI;  // semicircles
  const double psi = 0.0137 / (e + 0.11) - 0.022;
  double phi_i = lat / PI + psi * std::cos(az);
  if (phi_i > 0.416) phi_i = 0.416;
  if (phi_i < -0.416) phi_i = -0.416;
  const double lam_i = lon / PI + psi * std::sin(az) / std::cos(phi_i * PI);
  const double phi_m = phi_i + 0.064 * std::cos((lam_i - 1.617) * PI);
  double t = std::fmod(4.32e4 * lam_i + tow, 86400.0);
  if (t < 0.0) t += 86400.0;
  const double f = 1.0 + 16.0 * std::pow(0.53 - e, 3.0);
  double amp = a[0] + phi_m * (a[1] + phi_m * (a[2] + phi_m * a[3]));
  if (amp < 0.0) amp = 0.0;
  double per = b[0] + phi_m * (b[1] + phi_m * (b[2] + phi_m * b[3]));
  if (per < 72000.0) per = 72000.0;
  const double x = 2.0 * PI * (t - 50400.0) / per;
  if (std::fabs(x) >= 1.57) return f * 5e-9;
  return f * (5e-9 + amp * (1.0 - x * x / 2.0 + x * x * x * x / 24.0));
}

// IS-GPS-200 20.3.3.3.3.1 and 20.3.3.3.3.2: the L1 user's satellite clock
// offset (s) at GPS time `week`, `t` from ephemeris e (message integers):
// af0 + af1 dt + af2 dt^2 + F e sqrt(A) sin E - T_GD.
double sv_clock_s(const SKY_EPH_T& e, int32_t week, double t) {
  const double dt_oc = (week - e.week) * WEEK_S + t - std::ldexp(e.toc, 4);
  const double dt_oe = (week - e.week) * WEEK_S + t - std::ldexp(e.toe, 4);
  const double sqrt_a = std::ldexp(static_cast<double>(e.sqrta), -19);
  const double ecc = std::ldexp(static_cast<double>(e.e), -33);
  const double n = std::sqrt(MU) / (sqrt_a * sqrt_a * sqrt_a) + std::ldexp(e.deln, -43) * GPS_PI;
  const double m = std::ldexp(e.m0, -31) * GPS_PI + n * dt_oe;
  double ek = m;
  for (int i = 0; i < 30; ++i) ek = m + ecc * std::sin(ek);
  return std::ldexp(e.af0, -31) + std::ldexp(e.af1, -43) * dt_oc + std::ldexp(e.af2, -55) * dt_oc * dt_oc +
         REL_F * ecc * sqrt_a * std::sin(ek) - std::ldexp(e.tgd, -31);
}

double simple_tropo_m(double h, double el) { return 2.47 * std::exp(-0.000133 * h) / (std::sin(el) + 0.0121); }

struct TruthCase {
  const char* name;
  const char* scenario;  // besides the start, duration and satellites
  bool simple;           // tropo_model = simple
  double iono_scale;
};

const std::vector<TruthCase> CASES = {
    {"default models", "lat = 35.5\nlon = 139.25\nheight = 55\n", false, 1.0},
    {"simple troposphere at sea level", "lat = 35.5\nlon = 139.25\ntropo_model = simple\n", true, 1.0},
    {"simple troposphere on a mountain, ionosphere doubled",
     "lat = -22.9\nlon = -68.2\nheight = 2500\ntropo_model = simple\niono_scale = 2\n", true, 2.0},
    {"no ionosphere", "lat = 5\nlon = 10\nheight = 10\ntropo_model = simple\niono_scale = 0\n", true, 0.0},
    {"moving, clock bias and drift, 2 Hz, half the ionosphere",
     "waypoint = 0 -33.9 151.2 20\nwaypoint = 30 -33.899 151.202 60\nclk_bias = 0.002\nclk_drift = 1e-7\n"
     "meas_rate = 2\ntcxo_mode = 0\ntropo_model = simple\niono_scale = 0.5\n",
     true, 0.5},
};

void PrintTo(const TruthCase& c, std::ostream* os) { *os << c.name; }

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string l;
  while (std::getline(in, l)) out.push_back(l);
  return out;
}

class SkyTruthDelays : public testing::TestWithParam<TruthCase> {};

TEST_P(SkyTruthDelays, TruthColumnsMatchTheModelsAndThePseudorange) {
  const TruthCase& c = GetParam();
  const std::string text =
      std::string("start_week = 2400\nstart_tow = 346000\nduration = 30\nnsat = 8\nseed = 3\n") + c.scenario;
  SKY_SCENARIO_T sc{};
  char err[200] = "";
  ASSERT_EQ(SKY_parse_scenario(text.c_str(), &sc, err, sizeof err), 1) << err;
  ASSERT_EQ(SKY_init(&sc), 1);
  TempDir dir;
  ASSERT_GT(SKY_LINK_write_set(&sc, SKY_LINK_PARAM_T{}, SKY_LINK_core_source(), dir.path().c_str(), err, sizeof err), 0)
      << err;
  SKY_IONO_UTC_T iono{};
  SKY_get_iono_utc(&iono);

  const std::vector<std::string> lines = lines_of(talon_test::read_text(dir.file("truth.csv")));
  ASSERT_GE(lines.size(), 4U);
  EXPECT_EQ(lines[2],
            "# S,epoch,svid,ch,state,tx_week,tx_tow_s,range_m,pseudorange_m,range_rate_mps,doppler_hz,cn0_dbhz,"
            "el_deg,az_deg,fs_week,fs_tow_s,mean_doppler_hz,sv_clock_s,iono_m,tropo_m,pr_fault_m");
  double bias = 0.0, tow = 0.0, llh[3] = {};
  int rows = 0;
  double max_iono = 0.0;
  for (const std::string& l : lines) {
    if (l.empty() || l[0] == '#') continue;
    const std::vector<std::string> f = talon_test::split_csv(l);
    if (f[0] == "E") {
      ASSERT_EQ(f.size(), 17U) << l;
      tow = std::stod(f[6]);
      const double pos[3] = {std::stod(f[9]), std::stod(f[10]), std::stod(f[11])};
      ecef_to_llh(pos, llh);
      bias = std::stod(f[15]);
      continue;
    }
    if (f[0] != "S") continue;
    ASSERT_EQ(f.size(), 21U) << l;
    EXPECT_EQ(f[20], "0.0000") << l;  // no scripted pseudorange step
    ++rows;
    const double range = std::stod(f[7]), pr = std::stod(f[8]);
    const double el = std::stod(f[12]) * D2R, az = std::stod(f[13]) * D2R;
    const double clk = std::stod(f[17]), iono_m = std::stod(f[18]), tropo_m = std::stod(f[19]);
    // Noise off: the pseudorange is range, clocks and the two delays exactly.
    EXPECT_NEAR(pr - range - C_MPS * bias + C_MPS * clk - iono_m - tropo_m, 0.0, 1e-3) << l;
    // Ionosphere: the scale times the broadcast model at the truth geometry.
    const double klob_m = C_MPS * klobuchar_s(iono, llh[0], llh[1], el, az, tow);
    EXPECT_NEAR(iono_m, c.iono_scale * klob_m, 2e-3) << l;
    if (c.iono_scale == 0.0) {
      EXPECT_EQ(iono_m, 0.0) << l;
    }
    max_iono = std::max(max_iono, iono_m);
    // Troposphere.
    if (c.simple) {
      EXPECT_NEAR(tropo_m, simple_tropo_m(llh[2], el), 2e-3) << l;
    }
    EXPECT_GT(tropo_m, 1.5) << l;
    // Satellite clock at the GPS time of transmission (the time stamp less the clock offset).
    SKY_GPST_T tx{std::stoi(f[5]), std::stod(f[6]) - clk};
    SKY_EPH_T eph{};
    ASSERT_EQ(SKY_get_ephemeris(std::stoi(f[2]), tx, &eph), 1);
    EXPECT_NEAR(clk, sv_clock_s(eph, tx.week, tx.tow), 1e-12) << l;
  }
  EXPECT_GT(rows, 100);
  if (c.iono_scale > 0.0) {
    EXPECT_GT(max_iono, 1.0);  // the comparison is not trivially 0 = 0
  }
}

INSTANTIATE_TEST_SUITE_P(Sets, SkyTruthDelays, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<TruthCase>& i) {
                           return talon_test::case_name(i.param.name);
                         });

// The kernel's simple troposphere: 5 degrees at sea level is 2.47 / (sin 5 deg
// + 0.0121) = 24.885 m; 0 at and below the horizon.
TEST(SkySimpleTroposphere, KnownValues) {
  struct Row {
    double h, el_deg, want_m, tol;
  };
  const std::vector<Row> rows = {
      {0.0, 5.0, 24.885, 0.001},
      {0.0, 90.0, 2.47 / 1.0121, 1e-12},
      {1000.0, 90.0, 2.47 * std::exp(-0.133) / 1.0121, 1e-12},
      {0.0, 0.0, 0.0, 0.0},
      {0.0, -3.0, 0.0, 0.0},
  };
  for (const Row& r : rows)
    EXPECT_NEAR(SKY_simple_tropo_m(r.h, r.el_deg * D2R), r.want_m, r.tol) << r.h << " m, " << r.el_deg << " deg";
}

}  // namespace
