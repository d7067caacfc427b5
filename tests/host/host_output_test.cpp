// Console table and KML files: the field helpers (channel state labels, the
// UTC seconds carried into the minute) against calendar arithmetic, and a
// short simulated-sky replay whose console table and KML files are checked
// against the sky's truth (time, position, satellites, C/N0, elevation,
// azimuth, Doppler, transmit times) and against the fixes of --fix-csv.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "host/host_console.h"
#include "test_util.h"
#include "tests/host/sky_set.h"

namespace {

// ---------------------------------------------------------------------------
// Field helpers
// ---------------------------------------------------------------------------

struct LabelCase {
  U16 state;
  const char* label;
};

TEST(HostConsole, ChannelStateLabels) {
  const LabelCase cases[] = {{0, "ID"}, {1, "PU"}, {2, "BS"}, {3, "TR"},   {4, "ST"},      {5, "FS"},     {6, "OK"},
                             {7, "LT"}, {8, "--"}, {9, "--"}, {100, "--"}, {0x7FFF, "--"}, {0xFFFF, "--"}};
  for (const LabelCase& c : cases) EXPECT_STREQ(HOSTCON_state_label(c.state), c.label) << "state " << c.state;
}

struct UtcCase {
  const char* name;
  UTC_TIME_T in;
  UTC_TIME_T out;  // after rounding to the tenth
};

std::string text(const UTC_TIME_T& t) {
  char b[64];
  std::snprintf(b, sizeof b, "%04d/%02d/%02d_%02d:%02d:%04.1f doy %d", t.year, t.month, t.day, t.hour, t.minute, t.sec,
                t.day_of_year);
  return b;
}

TEST(HostConsole, UtcSecondsCarryIntoTheMinute) {
  const UtcCase cases[] = {
      {"below_the_carry", {2026, 3, 4, 63, 10, 20, 59.94}, {2026, 3, 4, 63, 10, 20, 59.9}},
      {"half_tenth_rounds_up", {2026, 3, 4, 63, 10, 20, 12.25}, {2026, 3, 4, 63, 10, 20, 12.3}},
      {"into_the_minute", {2026, 3, 4, 63, 10, 20, 59.95}, {2026, 3, 4, 63, 10, 21, 0.0}},
      {"into_the_hour", {2026, 3, 4, 63, 10, 59, 59.99}, {2026, 3, 4, 63, 11, 0, 0.0}},
      {"into_the_day", {2026, 3, 4, 63, 23, 59, 59.97}, {2026, 3, 5, 64, 0, 0, 0.0}},
      {"into_the_month", {2026, 4, 30, 120, 23, 59, 59.96}, {2026, 5, 1, 121, 0, 0, 0.0}},
      {"into_the_year", {2025, 12, 31, 365, 23, 59, 59.999}, {2026, 1, 1, 1, 0, 0, 0.0}},
      {"leap_year_february", {2024, 2, 28, 59, 23, 59, 59.95}, {2024, 2, 29, 60, 0, 0, 0.0}},
      {"common_year_february", {2023, 2, 28, 59, 23, 59, 59.95}, {2023, 3, 1, 60, 0, 0, 0.0}},
      {"century_not_leap", {2100, 2, 28, 59, 23, 59, 59.95}, {2100, 3, 1, 60, 0, 0, 0.0}},
      {"leap_second_stays", {2016, 12, 31, 366, 23, 59, 60.04}, {2016, 12, 31, 366, 23, 59, 60.0}},
  };
  for (const UtcCase& c : cases) {
    UTC_TIME_T t = c.in;
    HOSTCON_round_utc_to_tenth(&t);
    EXPECT_EQ(text(t), text(c.out)) << c.name;
    char printed[16];
    std::snprintf(printed, sizeof printed, "%04.1f", t.sec);
    if (c.in.sec < 60.0) {
      EXPECT_NE(std::string(printed), "60.0") << c.name;  // 60.x only inside a leap second
    }
  }
  HOSTCON_round_utc_to_tenth(nullptr);  // ignored
}

// ---------------------------------------------------------------------------
// A short sky replay against truth
// ---------------------------------------------------------------------------

constexpr double PI = 3.14159265358979323846;
constexpr double LEAP_S = 16.0;  // the receiver's built-in leap seconds until the broadcast gives them

struct TruthSat {
  int svid = 0;
  double tx_tow = 0.0, doppler = 0.0, cn0 = 0.0, el = 0.0, az = 0.0;
};
struct TruthEpoch {
  double tow = 0.0;
  double pos[3] = {};
  std::map<int, TruthSat> by_ch;
};

std::vector<TruthEpoch> read_truth(const std::string& path) {
  std::vector<TruthEpoch> t;
  std::istringstream in(talon_test::read_text(path));
  std::string l;
  while (std::getline(in, l)) {
    if (l.empty() || l[0] == '#') continue;
    const std::vector<std::string> f = talon_test::split_csv(l);
    if (f[0] == "E" && f.size() >= 12) {
      TruthEpoch e;
      e.tow = std::stod(f[6]);
      for (int k = 0; k < 3; ++k) e.pos[k] = std::stod(f[9 + static_cast<std::size_t>(k)]);
      t.push_back(e);
    } else if (f[0] == "S" && f.size() >= 14 && !t.empty()) {
      TruthSat s;
      s.svid = std::stoi(f[2]);
      s.tx_tow = std::stod(f[6]);
      s.doppler = std::stod(f[10]);
      s.cn0 = std::stod(f[11]);
      s.el = std::stod(f[12]);
      s.az = std::stod(f[13]);
      t.back().by_ch[std::stoi(f[3])] = s;
    }
  }
  return t;
}

// WGS-84 geodetic latitude, longitude (degrees) and height (m) of an ECEF position.
void to_geodetic(const double* p, double* lat, double* lon, double* h) {
  const double a = 6378137.0, f = 1.0 / 298.257223563, e2 = f * (2.0 - f);
  const double r = std::hypot(p[0], p[1]);
  double phi = std::atan2(p[2], r * (1.0 - e2));
  double n = a;
  for (int i = 0; i < 10; ++i) {
    n = a / std::sqrt(1.0 - e2 * std::sin(phi) * std::sin(phi));
    *h = r / std::cos(phi) - n;
    phi = std::atan2(p[2], r * (1.0 - e2 * n / (n + *h)));
  }
  *lat = phi * 180.0 / PI;
  *lon = std::atan2(p[1], p[0]) * 180.0 / PI;
}

// Civil date text "YYYY/MM/DD_HH:MM:" and whole seconds of GPS week wn, second s of week.
std::string utc_minute_text(int wn, long long s, int* sec) {
  long long t = s + (3657LL + wn * 7LL) * 86400;
  const long long days = t / 86400;
  t %= 86400;
  const long long z = days + 719468, era = z / 146097, doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
  const long long d = doy - (153 * mp + 2) / 5 + 1, m = mp < 10 ? mp + 3 : mp - 9;
  const long long y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  char b[64];
  std::snprintf(b, sizeof b, "%04lld/%02lld/%02lld_%02lld:%02lld:", y, m, d, t / 3600, t / 60 % 60);
  *sec = static_cast<int>(t % 60);
  return b;
}

// One console table as printed.
struct Table {
  long count = 0;
  int wn = 0, mode = 0, nsv = 0;
  double tow = 0.0, lat = 0.0, lon = 0.0, h = 0.0;
  std::string utc;
  bool has_sigma = false;
  std::vector<std::string> channels;
};

std::vector<Table> read_tables(const std::string& out) {
  std::vector<Table> ts;
  std::istringstream in(out);
  std::string l;
  while (std::getline(in, l)) {
    long n = 0;
    if (std::sscanf(l.c_str(), "Power on count: %ld", &n) == 1) {
      ts.emplace_back();
      ts.back().count = n;
      continue;
    }
    if (ts.empty()) continue;
    Table& t = ts.back();
    if (l.rfind("C: ", 0) == 0) t.channels.push_back(l);
    std::sscanf(l.c_str(), "WN: %d, TOW: %lf, fix mode = %d, fix sv = %d", &t.wn, &t.tow, &t.mode, &t.nsv);
    std::sscanf(l.c_str(), "Pos: %lf %lf %lf", &t.lat, &t.lon, &t.h);
    if (l.rfind("UTC: ", 0) == 0) t.utc = l.substr(5);
    if (l.find("SVs, pr_residual_sigma = ") != std::string::npos) t.has_sigma = true;
  }
  return ts;
}

constexpr const char* SKY =
    "start_week = 2400\nstart_tow = 300000\nduration = 40\nnsat = 8\nlat = 48\nlon = 11\n"
    "height = 500\nclk_bias = 0.0001\nclk_drift = 2e-8\niono_scale = 0\ntropo_model = simple\n";

// Tags of an XML text balanced (CDATA sections, the declaration and empty-element tags skipped); the
// first problem in *why.
bool xml_balanced(const std::string& x, std::string* why) {
  std::vector<std::string> open;
  std::size_t i = 0;
  while ((i = x.find('<', i)) != std::string::npos) {
    if (x.compare(i, 9, "<![CDATA[") == 0) {
      i = x.find("]]>", i);
      if (i == std::string::npos) return *why = "open CDATA", false;
      continue;
    }
    const std::size_t e = x.find('>', i);
    if (e == std::string::npos) return *why = "open tag", false;
    std::string tag = x.substr(i + 1, e - i - 1);
    i = e + 1;
    if (tag[0] == '?' || tag.back() == '/') continue;
    const std::string name = tag.substr(0, tag.find(' '));
    if (name[0] != '/') {
      open.push_back(name);
    } else if (open.empty() || open.back() != name.substr(1)) {
      return *why = "unmatched " + name, false;
    } else {
      open.pop_back();
    }
  }
  if (!open.empty()) return *why = "unclosed " + open.back(), false;
  return true;
}

// Track points "lon,lat,0" of output.kml.
std::vector<std::pair<double, double>> track_points(const std::string& kml) {
  std::vector<std::pair<double, double>> pts;
  std::istringstream in(kml);
  std::string l;
  while (std::getline(in, l)) {
    double lon = 0.0, lat = 0.0;
    if (l.rfind("      ", 0) == 0 && std::sscanf(l.c_str(), " %lf,%lf,0", &lon, &lat) == 2) pts.emplace_back(lon, lat);
  }
  return pts;
}

class HostOutputSky : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new talon_test::TempDir();
    std::string err;
    ASSERT_GT(make_sky_set(*dir_, SKY, &err), 0) << err;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static talon_test::TempDir* dir_;
};
talon_test::TempDir* HostOutputSky::dir_ = nullptr;

TEST_F(HostOutputSky, ConsoleTableAgainstTruth) {
  const talon_test::RunResult run =
      talon_test::run_talonhost(dir_->path(), {"--rtk-mode", "0", "--mode", "1", "--fix-csv", "f.csv"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out.find('\033'), std::string::npos) << "no escapes without ANSI colours";
  const std::vector<TruthEpoch> truth = read_truth(dir_->file("truth.csv"));
  const std::vector<Table> tables = read_tables(run.out);
  ASSERT_EQ(tables.size(), truth.size());
  std::istringstream csv(talon_test::read_text(dir_->file("f.csv")));
  std::string l;
  std::getline(csv, l);
  int fixes = 0, channel_lines = 0;
  for (std::size_t i = 0; i < tables.size(); ++i) {
    const Table& t = tables[i];
    ASSERT_TRUE(std::getline(csv, l));
    const std::vector<std::string> f = talon_test::split_csv(l);
    EXPECT_EQ(t.count, static_cast<long>(i) + 1);
    EXPECT_EQ(t.mode, std::stoi(f[4])) << "table " << t.count;
    if (t.mode == 0) continue;
    ++fixes;
    // the epoch of the fix: the truth epoch of the same true GPS time
    const TruthEpoch* e = nullptr;
    for (const TruthEpoch& c : truth)
      if (std::fabs(c.tow - t.tow) < 0.001) e = &c;
    ASSERT_NE(e, nullptr) << "table " << t.count << " TOW " << t.tow;
    EXPECT_EQ(t.wn, 2400);
    double lat = 0.0, lon = 0.0, h = 0.0;
    to_geodetic(e->pos, &lat, &lon, &h);
    // noise-free ranges with the receiver's own atmosphere models: within a metre (1e-5 degree is 1.1 m of
    // latitude, 0.74 m of longitude at 48 degrees north)
    EXPECT_NEAR(t.lat, lat, 1e-5) << "table " << t.count;
    EXPECT_NEAR(t.lon, lon, 1.4e-5) << "table " << t.count;
    EXPECT_NEAR(t.h, h, 1.5) << "table " << t.count;
    EXPECT_EQ(t.nsv, 8);
    if (fixes > 1) {
      EXPECT_TRUE(t.has_sigma) << "table " << t.count;  // the first fix gives no residual sigma
    }
    int sec = 0;
    const long long tenth = std::llround(t.tow * 10.0) - static_cast<long long>(LEAP_S * 10.0);
    const std::string minute = utc_minute_text(t.wn, tenth / 10, &sec);
    char want[64];
    std::snprintf(want, sizeof want, "%s%04.1f", minute.c_str(), sec + static_cast<double>(tenth % 10) / 10.0);
    EXPECT_EQ(t.utc, want) << "table " << t.count;
    ASSERT_EQ(t.channels.size(), e->by_ch.size()) << "table " << t.count;
    for (const std::string& c : t.channels) {
      int ch = 0, sv = 0, el = 0, az = 0, cn0 = 0, dop = 0;
      double tt = 0.0;
      const int got = std::sscanf(c.c_str(), "C: %d, GPS:%d", &ch, &sv);
      ASSERT_EQ(got, 2) << c;
      const std::size_t k = c.find(", E:");
      ASSERT_NE(k, std::string::npos) << c;
      ASSERT_EQ(std::sscanf(c.c_str() + k, ", E:%d, A:%d, CN0:%d", &el, &az, &cn0), 3) << c;
      const std::size_t q = c.find(", tt=");
      ASSERT_EQ(std::sscanf(c.c_str() + q, ", tt=%lf, dop=%d", &tt, &dop), 2) << c;
      const auto s = e->by_ch.find(ch);
      ASSERT_NE(s, e->by_ch.end()) << c;
      EXPECT_EQ(sv, s->second.svid) << c;
      EXPECT_NEAR(el, s->second.el, 1.0) << c;
      EXPECT_NEAR(std::remainder(az - s->second.az, 360.0), 0.0, 1.0) << c;
      EXPECT_NEAR(cn0, s->second.cn0, 1.0) << c;
      EXPECT_NEAR(dop, s->second.doppler, 3.0) << c;
      EXPECT_NEAR(tt, s->second.tx_tow, 2e-6) << c;  // the table's 1 us print, plus the receiver's own estimate
      EXPECT_NE(c.find(", dpr="), std::string::npos) << c;
      ++channel_lines;
    }
  }
  EXPECT_GE(fixes, 5);
  EXPECT_GE(channel_lines, 40);
}

TEST_F(HostOutputSky, KmlFilesHoldTheFixes) {
  const talon_test::RunResult run = talon_test::run_talonhost(
      dir_->path(), {"--rtk-mode", "0", "--mode", "1", "--fix-csv", "k.csv", "--kml-color", "5", "-app", "run1"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const std::string track = talon_test::read_text(dir_->file("outputrun1.kml"));
  const std::string marks = talon_test::read_text(dir_->file("fixmoderun1.kml"));
  std::string why;
  EXPECT_TRUE(xml_balanced(track, &why)) << why;
  EXPECT_TRUE(xml_balanced(marks, &why)) << why;
  EXPECT_NE(track.find("<color>ffffffff</color>"), std::string::npos);
  std::vector<std::pair<double, double>> fixes;
  std::istringstream csv(talon_test::read_text(dir_->file("k.csv")));
  std::string l;
  std::getline(csv, l);
  while (std::getline(csv, l)) {
    const std::vector<std::string> f = talon_test::split_csv(l);
    if (std::stoi(f[4]) > 0) fixes.emplace_back(std::stod(f[10]), std::stod(f[9]));
  }
  const std::vector<std::pair<double, double>> pts = track_points(track);
  ASSERT_EQ(pts.size(), fixes.size());
  ASSERT_FALSE(pts.empty());
  for (std::size_t i = 0; i < pts.size(); ++i) {
    EXPECT_NEAR(pts[i].first, fixes[i].first, 6e-10) << i;  // the fix log's 1e-9 degree print
    EXPECT_NEAR(pts[i].second, fixes[i].second, 6e-10) << i;
  }
  EXPECT_EQ(talon_test::count_of(marks, "<Placemark>"), static_cast<int>(fixes.size()));
  EXPECT_EQ(talon_test::count_of(marks, "fixmode = 3, fix sv = 8"), static_cast<int>(fixes.size()));
  EXPECT_EQ(talon_test::count_of(marks, "<Style id="), 7);
  if (std::system("command -v xmllint >/dev/null 2>&1") == 0) {
    for (const char* f : {"outputrun1.kml", "fixmoderun1.kml"}) {
      const std::string cmd = "xmllint --noout '" + dir_->file(f) + "' 2>/dev/null";
      EXPECT_EQ(std::system(cmd.c_str()), 0) << f;
    }
  }
}

// gpsbabel (when installed) reads both KML files back: KML in, GPX out, the track's points and the markers
// are the fixes of --fix-csv.
TEST_F(HostOutputSky, GpsbabelReadsTheKmlBack) {
  if (std::system("command -v gpsbabel >/dev/null 2>&1") != 0) GTEST_SKIP() << "gpsbabel is not installed";
  const talon_test::RunResult run =
      talon_test::run_talonhost(dir_->path(), {"--rtk-mode", "0", "--mode", "1", "--fix-csv", "g.csv", "-app", "g"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  std::vector<std::pair<double, double>> fixes;  // lat, lon (degrees)
  std::istringstream csv(talon_test::read_text(dir_->file("g.csv")));
  std::string l;
  std::getline(csv, l);
  while (std::getline(csv, l)) {
    const std::vector<std::string> f = talon_test::split_csv(l);
    if (std::stoi(f[4]) > 0) fixes.emplace_back(std::stod(f[9]), std::stod(f[10]));
  }
  ASSERT_FALSE(fixes.empty());
  for (const auto& [kml, tag] :
       {std::pair<const char*, const char*>{"outputg.kml", "<trkpt "}, {"fixmodeg.kml", "<wpt "}}) {
    const std::string gpx = dir_->file(std::string(kml) + ".gpx");
    const std::string cmd = "gpsbabel -i kml -f '" + dir_->file(kml) + "' -o gpx -F '" + gpx + "' 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << kml;
    const std::string text = talon_test::read_text(gpx);
    std::vector<std::pair<double, double>> pts;
    for (std::size_t i = 0; (i = text.find(tag, i)) != std::string::npos; ++i) {
      double lat = 0.0, lon = 0.0;
      if (std::sscanf(text.c_str() + i, (std::string(tag) + "lat=\"%lf\" lon=\"%lf\"").c_str(), &lat, &lon) == 2)
        pts.emplace_back(lat, lon);
    }
    ASSERT_EQ(pts.size(), fixes.size()) << kml;
    for (std::size_t i = 0; i < pts.size(); ++i) {
      EXPECT_NEAR(pts[i].first, fixes[i].first, 1.1e-9) << kml << " " << i;  // both print 1e-9 degree
      EXPECT_NEAR(pts[i].second, fixes[i].second, 1.1e-9) << kml << " " << i;
    }
  }
}

TEST_F(HostOutputSky, KmlStartSecondHoldsPointsBack) {
  const talon_test::RunResult run =
      talon_test::run_talonhost(dir_->path(), {"--rtk-mode", "0", "--mode", "1", "--kml-start-sec", "100000"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const std::string track = talon_test::read_text(dir_->file("output.kml"));
  const std::string marks = talon_test::read_text(dir_->file("fixmode.kml"));
  std::string why;
  EXPECT_TRUE(xml_balanced(track, &why)) << why;
  EXPECT_TRUE(xml_balanced(marks, &why)) << why;
  EXPECT_NE(track.find("<LookAt>"), std::string::npos) << "the head is written at the first fix";
  EXPECT_TRUE(track_points(track).empty());
  EXPECT_EQ(talon_test::count_of(marks, "<Placemark>"), 0);
  EXPECT_EQ(talon_test::count_of(marks, "<Style id="), 7);
}

TEST_F(HostOutputSky, AnsiColours) {
  const talon_test::RunResult run = talon_test::run_talonhost(
      dir_->path(), {"--rtk-mode", "0", "--mode", "1", "--out-ansi-color", "1", "--do-kml-output", "0"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(talon_test::count_of(run.out, "\033[1;37mPower on count: 1\033[0m"), 1);
  EXPECT_EQ(talon_test::count_of(run.out, "Pos: \033[1;32m"), talon_test::count_of(run.out, "Power on count: "));
}

// A replay whose epochs never have a fix leaves the KML files with their closing lines only.
TEST(HostOutput, NoFixLeavesTheClosingLinesOnly) {
  talon_test::TempDir dir;
  std::string err;
  ASSERT_GT(
      make_sky_set(dir, "start_week = 2400\nstart_tow = 300000\nduration = 8\nnsat = 8\nlat = 48\nlon = 11\n", &err), 0)
      << err;
  const talon_test::RunResult run = talon_test::run_talonhost(dir.path(), {"--rtk-mode", "0", "--mode", "1"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(talon_test::count_of(run.out, "fix mode = 0,"), 8);
  EXPECT_EQ(talon_test::read_text(dir.file("output.kml")),
            "    </coordinates>\n  </LineString>\n</Placemark>\n</kml>\n");
  EXPECT_EQ(talon_test::read_text(dir.file("fixmode.kml")), "</Document>\n</kml>\n");
}

}  // namespace
