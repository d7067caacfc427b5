// A logging session of two runs against the simulated sky on a pty: the
// scripted target plays a sky scenario open loop, the program logs it with
// --fix-csv.
//
// Run 1 starts cold in an empty directory; at its end log_save.dat holds the
// backup memory image. Its receiver-state sectors (two copies of a 48-byte
// record, each followed by its CRC-16/XMODEM) must decode to the sky's truth:
// the position within 10 m, the GPS time of the stored fix inside the run and
// tied to the stored RTC stamp as the sky's RTC shows it, the clock drift
// within 0.5 m/s.
//
// Run 2 plays the same sky five minutes later in the same directory: the
// program copies log_save.dat to log_init.dat and the kernel starts from it
// (hot: the GPS time predicted from the RTC, which is a fixed function of GPS
// time in the sky, so both runs' RTC readings agree with it). Its first fix,
// counted in GPS time from its start, must come sooner than run 1's and
// before any satellite's own frame sync could (6 s: the bit counts are
// predicted), every fix of run 2 within 10 m of the truth. Both times are
// printed and recorded as test properties.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "link_test_util.h"
#include "misc/crc16.h"
#include "tools/sky/sky.h"
#include "tools/sky/sky_link.h"

namespace {

using link_test::Bytes;
using talon_test::file_exists;
using talon_test::read_file;

constexpr double C_MPS = 299792458.0;
constexpr double WEEK_S = 604800.0;
constexpr int START_WEEK = 2400;
constexpr double START_TOW_1 = 345600.0;
constexpr double SECOND_RUN_LATER_S = 300.0;  // run 2 starts this long after run 1
constexpr double DURATION_1 = 90.0;           // s of sky in run 1
constexpr double DURATION_2 = 60.0;           // s of sky in run 2
constexpr double SUBFRAME_S = 6.0;            // no frame sync before one whole subframe is read
constexpr double HOT_POSITION_BOUND_M = 10.0;

// The sky of both runs: a receiver at rest in Tokyo with a drifting clock, 9
// satellites; the constellation is that of run 1's start in both (sky_epoch).
std::string scenario_text(double start_tow, double duration) {
  char b[512];
  std::snprintf(b, sizeof b,
                "start_week = %d\nstart_tow = %.1f\nduration = %.1f\nsky_epoch = %d %.1f\nnsat = 9\nseed = 11\n"
                "lat = 35.68\nlon = 139.77\nheight = 40\nclk_bias = 0.0004\nclk_drift = 1.2e-7\n",
                START_WEEK, start_tow, duration, START_WEEK, START_TOW_1);
  return b;
}

long file_size(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

struct LiveRun {
  int host_rc = -1;
  int target_rc = -1;
  std::string out;
  int search_mode = -1;  // mode code of the first strategy list sent (PSE_SET byte 3), -1 without one
};

// Mode code of the first PSE_SET line of the target's command record (the
// line holds the frame in hex after the name: byte 3 is the mode code).
int first_search_mode(const std::string& record) {
  const std::size_t at = record.find("PSE_SET [");
  if (at == std::string::npos) return -1;
  return std::stoi(record.substr(at + 9 + 6, 2), nullptr, 16);
}

// One logging run of the scenario file scenario (in dir) against the target
// playing it fast (one epoch every 15 ms), with --fix-csv fix_csv; stopped
// with finish.txt once the program has logged everything the target sent.
LiveRun logging_run(const std::string& dir, const std::string& scenario, const std::string& fix_csv) {
  LiveRun r;
  for (const char* f : {"pty.txt", "sent.bin", "record.txt", "finish.txt"}) unlink((dir + "/" + f).c_str());
  const int tpid = link_test::spawn(dir, link_test::target_exe(),
                                    {"--scenario", scenario, "--pty-file", "pty.txt", "--record", "record.txt",
                                     "--sent", "sent.bin", "--period-ms", "15", "--timeout-s", "60"},
                                    "target.out");
  EXPECT_TRUE(link_test::wait_for([&] { return file_exists(dir + "/pty.txt"); }, 10000));
  const std::string port = talon_test::read_text(dir + "/pty.txt");
  const int hpid = link_test::spawn(
      dir, TALONHOST_EXE,
      {"--rtk-mode", "0", "--mode", "0", "--port", port, "--do-kml-output", "0", "--fix-csv", fix_csv}, "host.out");
  EXPECT_TRUE(link_test::wait_for([&] { return file_exists(dir + "/sent.bin"); }, 30000));
  EXPECT_TRUE(
      link_test::wait_for([&] { return file_size(dir + "/log_data.dat") == file_size(dir + "/sent.bin"); }, 10000));
  talon_test::write_file(dir + "/finish.txt", {});
  r.host_rc = talon_test::wait_talonhost(hpid, 60);
  r.target_rc = talon_test::wait_talonhost(tpid, 30);
  r.out = talon_test::read_text(dir + "/host.out");
  r.search_mode = first_search_mode(talon_test::read_text(dir + "/record.txt"));
  return r;
}

struct Fix {
  int week = 0;
  double tow = 0.0;  // GPS time of the fix
  double xyz[3] = {};
};

// Every row of a fix log with a 2-D or 3-D fix (fix_mode 2 or more).
std::vector<Fix> fixes(const std::string& path) {
  std::vector<Fix> out;
  for (const std::vector<std::string>& f : talon_test::csv_rows(path, 9)) {
    if (f[4].empty() || f[4] == "fix_mode" || std::stoi(f[4]) < 2 || f[1].empty() || f[2].empty()) continue;
    Fix x;
    x.week = std::stoi(f[1]);
    x.tow = std::stod(f[2]);
    for (std::size_t i = 0; i < 3; ++i) x.xyz[i] = std::stod(f[6 + i]);
    out.push_back(x);
  }
  return out;
}

// Little-endian fields of the host's image.
template <typename T>
T get(const Bytes& b, std::size_t at) {
  T v;
  std::memcpy(&v, b.data() + at, sizeof v);
  return v;
}

// One receiver-state sector (offset 0 or 56 of the image): 48 bytes and the CRC of them.
struct Sector {
  bool valid = false;
  double lat = 0.0, lon = 0.0, alt = 0.0;  // rad, rad, m
  double cdrift = 0.0;                     // m/s
  double gps_tow = 0.0;                    // s
  double rtc_gps_ratio = 0.0;
  int rtc_sec = 0, rtc_wn = 0, rtc_subsec = 0, rtc_gps_ss_dif = 0, gps_wn = 0;
};

Sector sector_at(const Bytes& image, std::size_t off) {
  Sector s;
  const U16 crc = get<U16>(image, off + 48);
  s.valid = crc != 0 && crc == crc16(image.data() + off, 48);
  s.lat = get<S32>(image, off + 0) * 1e-8;
  s.lon = get<S32>(image, off + 4) * 1e-8;
  s.alt = get<S32>(image, off + 8) * 0.01;
  s.cdrift = get<S32>(image, off + 12) * 0.001;
  s.gps_tow = get<double>(image, off + 16);
  s.rtc_gps_ratio = get<double>(image, off + 24);
  s.rtc_sec = get<S32>(image, off + 36);
  s.rtc_wn = get<S16>(image, off + 40);
  s.rtc_subsec = get<S16>(image, off + 42);
  s.rtc_gps_ss_dif = get<S16>(image, off + 44);
  s.gps_wn = get<S16>(image, off + 46);
  return s;
}

// WGS-84 geodetic (rad, rad, m) to ECEF (m).
void llh_to_ecef(double lat, double lon, double h, double* r) {
  constexpr double A = 6378137.0, F = 1.0 / 298.257223563, E2 = F * (2.0 - F);
  const double n = A / std::sqrt(1.0 - E2 * std::sin(lat) * std::sin(lat));
  r[0] = (n + h) * std::cos(lat) * std::cos(lon);
  r[1] = (n + h) * std::cos(lat) * std::sin(lon);
  r[2] = (n * (1.0 - E2) + h) * std::sin(lat);
}

// The RTC reading of rtc_data.dat: week (12 bits), second, sub-second (1/32768 s).
struct RtcReading {
  int wn = 0;
  long sec = 0;
  long subsec = 0;
};
RtcReading rtc_reading(const Bytes& b) {
  RtcReading r;
  if (b.size() < 12) return r;
  r.sec = get<S32>(b, 0);
  r.subsec = static_cast<long>(get<U32>(b, 4));
  r.wn = get<S16>(b, 8);
  return r;
}

TEST(HotStartRun, SecondLoggingRunStartsHotAndFixesSooner) {
  talon_test::TempDir dir;
  const std::string d = dir.path();
  const double start_tow_2 = START_TOW_1 + SECOND_RUN_LATER_S;
  {
    const std::string s1 = scenario_text(START_TOW_1, DURATION_1);
    const std::string s2 = scenario_text(start_tow_2, DURATION_2);
    talon_test::write_file(d + "/sky1.txt", Bytes(s1.begin(), s1.end()));
    talon_test::write_file(d + "/sky2.txt", Bytes(s2.begin(), s2.end()));
  }
  // The truth: the same scenario in the sky library.
  static SKY_SCENARIO_T sc;
  char err[200] = "";
  ASSERT_EQ(SKY_parse_scenario(scenario_text(START_TOW_1, DURATION_1).c_str(), &sc, err, sizeof err), 1) << err;
  ASSERT_EQ(SKY_init(&sc), 1);
  static SKY_EPOCH_T truth;
  ASSERT_EQ(SKY_epoch_at_clock(sc.start, &truth), 1);
  const double drift_mps = sc.clk_drift * C_MPS;

  // --- Run 1: cold, in an empty directory. ---
  const LiveRun r1 = logging_run(d, "sky1.txt", "fix1.csv");
  ASSERT_EQ(r1.host_rc, 0) << r1.out;
  EXPECT_EQ(r1.target_rc, 0);
  EXPECT_FALSE(file_exists(d + "/log_init.dat"));  // nothing to start from
  const Bytes save1 = read_file(d + "/log_save.dat");
  ASSERT_EQ(save1.size(), 20480U);
  const RtcReading rtc1 = rtc_reading(read_file(d + "/rtc_data.dat"));
  // The RTC report is the sky's RTC at the start of the run.
  const SKY_RTC_T rtc_at_1 = SKY_LINK_rtc_at(SKY_RTC_MODEL_T{}, sc.start);
  EXPECT_EQ(rtc1.wn, rtc_at_1.wn);
  EXPECT_EQ(rtc1.sec, rtc_at_1.sec);
  const std::vector<Fix> fixes1 = fixes(d + "/fix1.csv");
  const bool has_fix1 = !fixes1.empty();

  // --- Run 2: five minutes later, same directory. ---
  const LiveRun r2 = logging_run(d, "sky2.txt", "fix2.csv");
  ASSERT_EQ(r2.host_rc, 0) << r2.out;
  EXPECT_EQ(r2.target_rc, 0);
  EXPECT_EQ(read_file(d + "/log_init.dat"), save1);  // the program started from run 1's image
  // The second RTC reading continues the first: the sky's RTC is one function of GPS time.
  const RtcReading rtc2 = rtc_reading(read_file(d + "/rtc_data.dat"));
  const double rtc_lapse = (rtc2.wn - rtc1.wn) * WEEK_S + static_cast<double>(rtc2.sec - rtc1.sec) +
                           static_cast<double>(rtc2.subsec - rtc1.subsec) / 32768.0;
  EXPECT_NEAR(rtc_lapse, SECOND_RUN_LATER_S, 2.0 / 32768.0);
  const std::vector<Fix> fixes2 = fixes(d + "/fix2.csv");

  if (!has_fix1) {
    GTEST_SKIP() << "fix1.csv has no 2-D or 3-D fix: the navigation fix is not in this build; the backup sectors, "
                    "the first-fix times and the hot start cannot be checked";
  }

  // The search starts cold (normal cold search, 1) without a backup, and as a
  // fast hot search (5) from a backup five minutes old: the sky view of the
  // stored position shows more than 6 satellites above 2 degrees at start.
  EXPECT_EQ(r1.search_mode, 1);
  EXPECT_EQ(r2.search_mode, 5);

  // --- Run 1's saved receiver state against the truth. ---
  const Sector s0 = sector_at(save1, 0), s1 = sector_at(save1, 56);
  ASSERT_TRUE(s0.valid || s1.valid) << "no valid receiver-state sector in log_save.dat";
  for (const Sector* s : {&s0, &s1}) {
    if (!s->valid) continue;
    SCOPED_TRACE(s == &s0 ? "sector 0" : "sector 1");
    double p[3];
    llh_to_ecef(s->lat, s->lon, s->alt, p);
    const double* t = truth.rx.pos_ecef;
    EXPECT_LT(std::hypot(p[0] - t[0], p[1] - t[1], p[2] - t[2]), 10.0);
    EXPECT_NEAR(s->cdrift, drift_mps, 0.5);
    // The stored fix lies inside run 1 ...
    const double stored = (s->gps_wn - START_WEEK) * WEEK_S + (s->gps_tow - START_TOW_1);
    EXPECT_GE(stored, 0.0);
    EXPECT_LE(stored, DURATION_1 + 1.0);
    // ... and its RTC stamp is what the sky's RTC showed then (it counts whole
    // seconds a fraction of a second ahead of GPS time: the latest RTC record
    // is at most a second older than the fix).
    const SKY_RTC_T rtc_then = SKY_LINK_rtc_at(SKY_RTC_MODEL_T{}, SKY_LINK_gpst_add(sc.start, stored));
    const double rtc_age = (rtc_then.wn - s->rtc_wn) * WEEK_S + (rtc_then.sec - s->rtc_sec) +
                           (static_cast<double>(rtc_then.subsec) - s->rtc_subsec) / 32768.0;
    EXPECT_GE(rtc_age, -0.01);
    EXPECT_LE(rtc_age, 1.5);
    EXPECT_NEAR(s->rtc_gps_ratio, 1.0, 1e-6);  // the sky's RTC runs at GPS rate
  }

  // --- First fixes: run 2 (hot) sooner than run 1 (cold), in GPS time since each start. ---
  const double ttff1 = (fixes1[0].week - START_WEEK) * WEEK_S + (fixes1[0].tow - START_TOW_1);
  std::printf("first fix: run 1 (cold) %.3f s after its start\n", ttff1);
  RecordProperty("first_fix_cold_s", std::to_string(ttff1));
  EXPECT_GT(ttff1, 0.0);
  ASSERT_FALSE(fixes2.empty()) << "fix2.csv has no 2-D or 3-D fix";
  const double ttff2 = (fixes2[0].week - START_WEEK) * WEEK_S + (fixes2[0].tow - start_tow_2);
  std::printf("first fix: run 2 (hot, started %.0f s after run 1) %.3f s after its start\n", SECOND_RUN_LATER_S, ttff2);
  RecordProperty("first_fix_hot_s", std::to_string(ttff2));
  EXPECT_GE(ttff2, 0.0);
  EXPECT_LT(ttff2, ttff1);
  // The hot start fixes before any satellite's own frame sync (which needs a
  // whole 6-s subframe of data bits): the channels' bit counts are predicted
  // from the stored time, the orbits and the clock bias. Every fix of run 2
  // lies within 10 m of the truth (the receiver rests at one position).
  EXPECT_LT(ttff2, SUBFRAME_S);
  double worst = 0.0;
  for (const Fix& x : fixes2) {
    const double* t = truth.rx.pos_ecef;
    const double e = std::hypot(x.xyz[0] - t[0], x.xyz[1] - t[1], x.xyz[2] - t[2]);
    worst = std::max(worst, e);
    EXPECT_LT(e, HOT_POSITION_BOUND_M) << "run 2 fix at " << x.tow;
  }
  std::printf("run 2: %zu fixes, largest position error %.2f m\n", fixes2.size(), worst);
}

}  // namespace
