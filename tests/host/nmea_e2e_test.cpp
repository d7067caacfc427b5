// End to end: a simulated-sky replay set run with --output-nmea 1 and with
// --nmea-port. Every sentence's checksum; every GGA after the first fix
// against the truth position of its epoch (latitude, longitude and height
// parsed back, the geoid added back); the RMC date and time against the
// truth's GPS time less the leap seconds; GSV elevations and azimuths
// against the truth's satellite geometry; gpsbabel reads the sentences as a
// track of as many points as there are fixes; gpsd reading the NMEA port
// (through a pseudo-terminal) reports a fix at the truth position.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/host.h"
#include "host/host_output.h"
#include "host/pc_sio.h"
#include "test_util.h"
#include "tests/host/sky_set.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double DEG = PI / 180.0;
constexpr double LEAP_S = 16.0;  // GPS - UTC the kernel uses before the broadcast UTC page arrives

// Noise-free, static, the sky's atmosphere equal to the kernel's models.
constexpr const char* SKY_STATIC =
    "start_week = 2400\nstart_tow = 300000\nduration = 60\nnsat = 10\nlat = 48\nlon = 11\nheight = 500\n"
    "clk_bias = 0.0001\nclk_drift = 2e-8\niono_scale = 0\ntropo_model = simple\n";
// The same moving at 20 m/s (16 east, 12 south) in the southern and eastern hemispheres.
constexpr const char* SKY_MOVING =
    "start_week = 2400\nstart_tow = 300000\nduration = 60\nnsat = 10\nlat = -33\nlon = 151\nheight = 40\n"
    "vel_enu = 16 -12 0\nclk_bias = -0.0002\nclk_drift = -4e-8\niono_scale = 0\ntropo_model = simple\n";
constexpr double KNOTS_PER_MPS = 3600.0 / 1852.0;

struct TruthEpoch {
  double tow = 0.0;                    // true GPS time of week, s
  std::array<double, 3> pos{}, vel{};  // ECEF m, m/s
};
struct Truth {
  int week = 0;
  std::vector<TruthEpoch> epochs;
  std::map<std::pair<std::size_t, int>, std::pair<double, double>> sats;  // (epoch, svid) -> el, az degrees
};

Truth read_truth(const std::string& path) {
  Truth t;
  std::istringstream in(talon_test::read_text(path));
  std::string l;
  while (std::getline(in, l)) {
    if (l.empty() || l[0] == '#') continue;
    const std::vector<std::string> f = talon_test::split_csv(l);
    if (f[0] == "E" && f.size() >= 17) {
      TruthEpoch e;
      t.week = std::stoi(f[5]);
      e.tow = std::stod(f[6]);
      for (std::size_t k = 0; k < 3; ++k) {
        e.pos[k] = std::stod(f[9 + k]);
        e.vel[k] = std::stod(f[12 + k]);
      }
      t.epochs.push_back(e);
    } else if (f[0] == "S" && f.size() >= 14 && !t.epochs.empty()) {
      t.sats[{t.epochs.size() - 1, std::stoi(f[2])}] = {std::stod(f[12]), std::stod(f[13])};
    }
  }
  return t;
}

// WGS-84 geodetic (degrees, m) to ECEF (m).
std::array<double, 3> ecef(double lat_deg, double lon_deg, double h) {
  const double a = 6378137.0, f = 1.0 / 298.257223563, e2 = f * (2.0 - f);
  const double sl = std::sin(lat_deg * DEG), cl = std::cos(lat_deg * DEG);
  const double n = a / std::sqrt(1.0 - e2 * sl * sl);
  return {(n + h) * cl * std::cos(lon_deg * DEG), (n + h) * cl * std::sin(lon_deg * DEG), (n * (1.0 - e2) + h) * sl};
}

double dist(const std::array<double, 3>& a, const std::array<double, 3>& b) {
  return std::sqrt(std::pow(a[0] - b[0], 2) + std::pow(a[1] - b[1], 2) + std::pow(a[2] - b[2], 2));
}

// A sentence "$...*XX\r\n" (or without CR LF) whose checksum is the XOR of
// the characters between '$' and '*'.
bool checksum_ok(const std::string& s) {
  const std::size_t star = s.find('*');
  if (s.empty() || s[0] != '$' || star == std::string::npos || star + 3 > s.size()) return false;
  unsigned x = 0;
  for (std::size_t i = 1; i < star; ++i) x ^= static_cast<unsigned char>(s[i]);
  return std::strtoul(s.substr(star + 1, 2).c_str(), nullptr, 16) == x;
}

// The fields of a sentence between '$' and '*'.
std::vector<std::string> fields(const std::string& s) { return talon_test::split_csv(s.substr(1, s.find('*') - 1)); }

// "ddmm.mmmm" / "dddmm.mmmm" with its hemisphere to signed degrees.
double degrees(const std::string& v, const std::string& hemi, int deg_digits) {
  const double d = std::stod(v.substr(0, static_cast<std::size_t>(deg_digits)));
  const double m = std::stod(v.substr(static_cast<std::size_t>(deg_digits)));
  const double x = d + m / 60.0;
  return hemi == "S" || hemi == "W" ? -x : x;
}

// Seconds of the UTC day of "hhmmss.sss".
double time_of_day(const std::string& t) {
  return std::stoi(t.substr(0, 2)) * 3600.0 + std::stoi(t.substr(2, 2)) * 60.0 + std::stod(t.substr(4));
}

// Day, month, two-digit year of GPS week wn, second of week tow.
std::string ddmmyy(int wn, double tow) {
  long long days = static_cast<long long>(std::floor(tow / 86400.0)) + 3657LL + wn * 7LL;  // from 1970-01-01
  const long long z = days + 719468;
  const long long era = z / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const long long d = doy - (153 * mp + 2) / 5 + 1;
  const long long m = mp < 10 ? mp + 3 : mp - 9;
  const long long y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02lld%02lld%02lld", d, m, y % 100);
  return buf;
}

// The sentences of a text (lines starting with '$', CR LF removed).
std::vector<std::string> sentences_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string l;
  while (std::getline(in, l)) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    if (!l.empty() && l[0] == '$') out.push_back(l);
  }
  return out;
}

// The truth epoch whose UTC time of day (true GPS time less the leap
// seconds) lies within 0.5 s of tod; -1 when none.
long truth_epoch_at(const Truth& t, double tod) {
  for (std::size_t i = 0; i < t.epochs.size(); ++i) {
    const double utc = std::fmod(t.epochs[i].tow - LEAP_S, 86400.0);
    if (std::fabs(utc - tod) < 0.5) return static_cast<long>(i);
  }
  return -1;
}

struct Figures {
  int blocks = 0, fixes = 0, gsv_checked = 0, gsv_unknown = 0, bad_checksums = 0, speed_checked = 0;
  double worst_pos = 0.0, worst_el = 0.0, worst_az = 0.0, worst_knots = 0.0, worst_course = 0.0;
};

// Speed (knots) and course (degrees) of RMC or VTG against the truth's
// horizontal velocity at its position; the course only when moving faster
// than 1 m/s, and only once the receiver shows a speed (it shows 0 while unsure).
void check_speed_course(const TruthEpoch& t, double knots, double course, Figures* f) {
  const double lat = std::atan2(t.pos[2], std::hypot(t.pos[0], t.pos[1]));  // geocentric: enough for the axes
  const double lon = std::atan2(t.pos[1], t.pos[0]);
  const double ve = -std::sin(lon) * t.vel[0] + std::cos(lon) * t.vel[1];
  const double vn =
      -std::sin(lat) * std::cos(lon) * t.vel[0] - std::sin(lat) * std::sin(lon) * t.vel[1] + std::cos(lat) * t.vel[2];
  const double speed = std::hypot(ve, vn);
  if (knots == 0.0 && speed > 1.0) return;  // not shown yet
  const double dk = std::fabs(knots - speed * KNOTS_PER_MPS);
  f->worst_knots = std::max(f->worst_knots, dk);
  EXPECT_LT(dk, 0.2) << "speed, knots";
  if (speed > 1.0) {
    double dc = std::fabs(course - std::fmod(std::atan2(ve, vn) / DEG + 360.0, 360.0));
    dc = std::min(dc, 360.0 - dc);
    f->worst_course = std::max(f->worst_course, dc);
    EXPECT_LT(dc, 1.0) << "course";
  }
  ++f->speed_checked;
}

// Every block of sentences of a run against the truth.
Figures check_blocks(const std::vector<std::string>& all, const Truth& truth) {
  Figures f;
  long epoch = -1;        // the truth epoch of the current block (after a fix)
  std::vector<int> used;  // satellites of the block's GSA not yet seen in its GSV
  bool fixed = false;
  for (const std::string& s : all) {
    SCOPED_TRACE(s);
    if (!checksum_ok(s)) ++f.bad_checksums;
    const std::vector<std::string> v = fields(s);
    if (v[0] == "GPGGA") {
      ++f.blocks;
      EXPECT_EQ(v.size(), 15u);
      epoch = -1;
      used.clear();
      fixed = v[6] != "0";
      if (!fixed) {
        EXPECT_EQ(f.fixes, 0) << "no fix after the first one in a clear sky";
        continue;
      }
      epoch = truth_epoch_at(truth, time_of_day(v[1]));
      EXPECT_GE(epoch, 0) << "no truth epoch at this time";
      if (epoch < 0) continue;
      const double lat = degrees(v[2], v[3], 2), lon = degrees(v[4], v[5], 3);
      const double h = std::stod(v[9]) + std::stod(v[11]);  // above mean sea level + geoid
      const double err = dist(ecef(lat, lon, h), truth.epochs[static_cast<std::size_t>(epoch)].pos);
      f.worst_pos = std::max(f.worst_pos, err);
      EXPECT_LT(err, 3.0) << "GGA position from truth";
      EXPECT_EQ(v[6], "1");
      ++f.fixes;
    } else if (v[0] == "GPGSA" && epoch >= 0) {
      used.clear();
      for (std::size_t k = 3; k < 15 && k < v.size(); ++k)
        if (!v[k].empty()) used.push_back(std::stoi(v[k]));
    } else if (v[0] == "GPGSV" && epoch >= 0) {
      for (std::size_t k = 4; k + 2 < v.size(); k += 4) {  // PRN, elevation, azimuth, C/N0
        const int prn = std::stoi(v[k]);
        // "00,000": a satellite the receiver has no orbit for yet (tracked
        // before its ephemeris arrived); every satellite used has one
        if (v[k + 1] == "00" && v[k + 2] == "000") {
          EXPECT_EQ(std::count(used.begin(), used.end(), prn), 0) << prn << " used without elevation and azimuth";
          ++f.gsv_unknown;
          continue;
        }
        const auto t = truth.sats.find({static_cast<std::size_t>(epoch), prn});
        if (t == truth.sats.end()) continue;
        const double del = std::fabs(std::stod(v[k + 1]) - t->second.first);
        double daz = std::fabs(std::stod(v[k + 2]) - t->second.second);
        daz = std::min(daz, 360.0 - daz);
        f.worst_el = std::max(f.worst_el, del);
        f.worst_az = std::max(f.worst_az, daz);
        EXPECT_LE(del, 1.0) << "elevation of " << v[k];
        EXPECT_LE(daz, 1.0) << "azimuth of " << v[k];
        ++f.gsv_checked;
        used.erase(std::remove(used.begin(), used.end(), prn), used.end());
      }
    } else if (v[0] == "GPRMC" && epoch >= 0) {
      EXPECT_TRUE(used.empty()) << "satellites used but not in view";
      check_speed_course(truth.epochs[static_cast<std::size_t>(epoch)], std::stod(v[7]), std::stod(v[8]), &f);
      EXPECT_EQ(v[2], "A");
      EXPECT_EQ(v[9], ddmmyy(truth.week, truth.epochs[static_cast<std::size_t>(epoch)].tow - LEAP_S)) << "date";
      EXPECT_EQ(v[12], "A");
    } else if (v[0] == "GPVTG" && epoch >= 0) {
      EXPECT_EQ(v.size(), 10u);
      check_speed_course(truth.epochs[static_cast<std::size_t>(epoch)], std::stod(v[5]), std::stod(v[1]), &f);
      EXPECT_NEAR(std::stod(v[7]), std::stod(v[5]) * 1.852, 0.051) << "km/h from knots";
      EXPECT_EQ(v[9], "A");
    }
  }
  return f;
}

struct ReplayCase {
  const char* name;
  const char* scenario;
};
void PrintTo(const ReplayCase& c, std::ostream* os) { *os << c.name; }
class NmeaReplay : public testing::TestWithParam<ReplayCase> {};

TEST_P(NmeaReplay, AgainstTruthAndGpsbabel) {
  const ReplayCase& c = GetParam();
  talon_test::TempDir dir;
  std::string err;
  ASSERT_GT(make_sky_set(dir, c.scenario, &err), 0) << err;
  const talon_test::RunResult run = talon_test::run_talonhost(
      dir.path(), {"--rtk-mode", "0", "--mode", "1", "--output-nmea", "1", "--do-kml-output", "0"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const Truth truth = read_truth(dir.file("truth.csv"));
  const std::vector<std::string> all = sentences_of(run.out);
  const Figures f = check_blocks(all, truth);
  EXPECT_EQ(f.bad_checksums, 0);
  EXPECT_GE(f.fixes, 20);
  EXPECT_GE(f.gsv_checked, 100);
  // the block order: GGA, GSA, GSV..., RMC, VTG
  std::string order;
  for (const std::string& s : all) order += s.substr(3, 3) == "GSV" ? std::string("S") : s.substr(3, 1);
  for (std::size_t p = 0; p < order.size();) {
    ASSERT_EQ(order.substr(p, 2), "GG") << "at sentence " << p;  // GGA, GSA
    p += 2;
    while (p < order.size() && order[p] == 'S') ++p;
    ASSERT_EQ(order.substr(p, 2), "RV") << "at sentence " << p;  // RMC, VTG
    p += 2;
  }
  EXPECT_GE(f.speed_checked, 40);
  std::printf(
      "%s: %d blocks, %d fixes; GGA worst %.3f m from truth; GSV %d satellites, worst elevation %.2f deg, "
      "azimuth %.2f deg; %d tracked before their orbit was known; speed worst %.3f kn, course %.2f deg\n",
      c.name, f.blocks, f.fixes, f.worst_pos, f.gsv_checked, f.worst_el, f.worst_az, f.gsv_unknown, f.worst_knots,
      f.worst_course);

  // gpsbabel reads the sentences as a track of one point per fix
  std::string text;
  for (const std::string& s : all) text += s + "\r\n";
  talon_test::write_file(dir.file("out.nmea"), std::vector<unsigned char>(text.begin(), text.end()));
  ASSERT_EQ(access("/usr/bin/gpsbabel", X_OK), 0) << "gpsbabel missing: install it with tools/setup.sh";
  const int pid =
      talon_test::spawn_program(dir.path(), "/usr/bin/gpsbabel",
                                {"-i", "nmea", "-f", "out.nmea", "-o", "gpx", "-F", "x.gpx"}, "gb.out", "gb.out");
  ASSERT_EQ(talon_test::wait_talonhost(pid, 20), 0) << talon_test::read_text(dir.file("gb.out"));
  const std::string gpx = talon_test::read_text(dir.file("x.gpx"));
  EXPECT_EQ(talon_test::count_of(gpx, "<trkpt"), f.fixes);
}

INSTANTIATE_TEST_SUITE_P(Sky, NmeaReplay,
                         testing::Values(ReplayCase{"static_48n_11e", SKY_STATIC},
                                         ReplayCase{"moving_20mps_33s_151e", SKY_MOVING}),
                         talon_test::CaseName());

// --- gpsd -------------------------------------------------------------------

// A process started by the test, killed and reaped when the test leaves.
struct Child {
  int pid = -1;
  ~Child() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
      if (waitpid(pid, nullptr, WNOHANG) == pid) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
};

// A TCP port of the loopback interface that was free a moment ago.
int free_port() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t len = sizeof a;
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(fd);
  return port;
}

// true once something accepts connections on the loopback port, within timeout_ms.
bool wait_listening(int port, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// true once the file holds `what`, within timeout_ms.
bool wait_text(const std::string& path, const std::string& what, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    if (talon_test::read_text(path).find(what) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// A number member "name": of a JSON object line; NaN when absent.
double json_number(const std::string& line, const std::string& name) {
  const std::size_t p = line.find("\"" + name + "\":");
  if (p == std::string::npos) return std::nan("");
  return std::strtod(line.c_str() + p + name.size() + 3, nullptr);
}

// Write n bytes to fd, waiting for room until the deadline; false when it passed.
bool write_until(int fd, const unsigned char* p, std::size_t n, std::chrono::steady_clock::time_point deadline) {
  while (n > 0) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    pollfd w{fd, POLLOUT, 0};
    if (poll(&w, 1, 20) <= 0) continue;
    const ssize_t k = write(fd, p, n);
    if (k > 0) {
      p += k;
      n -= static_cast<std::size_t>(k);
    }
  }
  return true;
}

std::string gpsd_exe() {
  for (const char* p : {"/usr/sbin/gpsd", "/usr/bin/gpsd", "/usr/local/sbin/gpsd"})
    if (access(p, X_OK) == 0) return p;
  return "";
}

// talonhost replays the set with the console table on stdout and the NMEA
// sentences on --nmea-port (a pseudo-terminal); the test relays them to a
// second pseudo-terminal that gpsd reads; gpspipe -w on gpsd's port must
// report a TPV with a 2-D or 3-D fix at the truth position.
TEST(NmeaE2e, GpsdReadsTheNmeaPort) {
  const std::string gpsd = gpsd_exe();
  ASSERT_FALSE(gpsd.empty()) << "gpsd missing: install gpsd and gpsd-clients with tools/setup.sh";
  ASSERT_EQ(access("/usr/bin/gpspipe", X_OK), 0) << "gpspipe missing: install gpsd-clients with tools/setup.sh";
  talon_test::TempDir dir;
  std::string err;
  ASSERT_GT(make_sky_set(dir, SKY_STATIC, &err), 0) << err;
  const Truth truth = read_truth(dir.file("truth.csv"));
  ASSERT_FALSE(truth.epochs.empty());

  talon_test::Pty to_gpsd, from_host;
  fcntl(to_gpsd.master, F_SETFL, fcntl(to_gpsd.master, F_GETFL) | O_NONBLOCK);  // writes wait in write_until only
  const int port = free_port();
  ASSERT_GT(port, 0);
  Child gpsd_proc, pipe_proc;
  gpsd_proc.pid = talon_test::spawn_program(
      dir.path(), gpsd, {"-N", "-n", "-b", "-S", std::to_string(port), "-F", dir.file("gpsd.sock"), to_gpsd.slave_path},
      "gpsd.out", "gpsd.out");
  ASSERT_TRUE(wait_listening(port, 5000)) << talon_test::read_text(dir.file("gpsd.out"));
  pipe_proc.pid = talon_test::spawn_program(dir.path(), "/usr/bin/gpspipe",
                                            {"-w", "-n", "400", "-x", "20", "127.0.0.1:" + std::to_string(port)},
                                            "pipe.out", "pipe.err");
  ASSERT_TRUE(wait_text(dir.file("pipe.out"), "\"class\":\"WATCH\"", 5000))
      << talon_test::read_text(dir.file("pipe.err"));

  Child host;
  host.pid = talon_test::spawn_talonhost(
      dir.path(), {"--rtk-mode", "0", "--mode", "1", "--do-kml-output", "0", "--nmea-port", from_host.slave_path});
  // relay what talonhost writes to gpsd's terminal (what gpsd writes is read and dropped)
  std::string relayed;
  bool host_done = false;
  int host_exit = -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  auto quiet_since = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() < deadline) {
    std::array<pollfd, 2> p = {{{from_host.master, POLLIN, 0}, {to_gpsd.master, POLLIN, 0}}};
    poll(p.data(), p.size(), 20);
    std::array<unsigned char, 4096> b{};
    if ((p[0].revents & POLLIN) != 0) {
      const ssize_t n = read(from_host.master, b.data(), b.size());
      if (n > 0) {
        ASSERT_TRUE(write_until(to_gpsd.master, b.data(), static_cast<std::size_t>(n), deadline))
            << "gpsd does not read its terminal";
        relayed.append(reinterpret_cast<const char*>(b.data()), static_cast<std::size_t>(n));
        quiet_since = std::chrono::steady_clock::now();
      }
    }
    if ((p[1].revents & POLLIN) != 0 && read(to_gpsd.master, b.data(), b.size()) < 0) {
      // nothing to drop this time
    }
    if (!host_done) {
      int status = 0;
      if (waitpid(host.pid, &status, WNOHANG) == host.pid) {
        host_done = true;
        host.pid = -1;
        host_exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
    } else if (std::chrono::steady_clock::now() - quiet_since > std::chrono::milliseconds(300)) {
      break;
    }
  }
  ASSERT_TRUE(host_done) << "talonhost did not end";
  EXPECT_EQ(host_exit, 0) << talon_test::read_text(dir.file("err"));
  // stdout kept the console table; the port got the sentences
  const std::string out = talon_test::read_text(dir.file("out"));
  EXPECT_EQ(talon_test::count_of(out, "$GPGGA"), 0);
  const std::vector<std::string> sent = sentences_of(relayed);
  ASSERT_GE(sent.size(), 100u);
  const Figures f = check_blocks(sent, truth);
  EXPECT_EQ(f.bad_checksums, 0);
  EXPECT_GE(f.fixes, 20);

  // gpsd's fixes
  ASSERT_TRUE(wait_text(dir.file("pipe.out"), "\"class\":\"TPV\"", 10000))
      << talon_test::read_text(dir.file("pipe.out")) << talon_test::read_text(dir.file("gpsd.out"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::istringstream in(talon_test::read_text(dir.file("pipe.out")));
  std::string l;
  int tpv_fixes = 0;
  double worst = 0.0;
  while (std::getline(in, l)) {
    if (l.find("\"class\":\"TPV\"") == std::string::npos || json_number(l, "mode") < 2.0) continue;
    const double lat = json_number(l, "lat"), lon = json_number(l, "lon");
    ASSERT_FALSE(std::isnan(lat) || std::isnan(lon)) << l;
    // the receiver stands still: every truth epoch has the same position
    const double e = dist(ecef(lat, lon, 500.0), truth.epochs.front().pos);
    worst = std::max(worst, e);
    EXPECT_LT(e, 3.0) << l;
    ++tpv_fixes;
  }
  EXPECT_GE(tpv_fixes, 5) << talon_test::read_text(dir.file("pipe.out"));
  std::printf("gpsd: %d TPV reports with a fix, worst %.3f m horizontally from truth\n", tpv_fixes, worst);
}

// A NMEA port that cannot be opened ends the run at its start with one
// message naming the port.
TEST(NmeaE2e, NmeaPortThatCannotBeOpened) {
  struct Case {
    const char* name;
    std::string path;
  };
  talon_test::TempDir dir;
  talon_test::write_file(dir.file("plain.txt"), {'x'});
  const Case cases[] = {{"missing_device", dir.file("no_such_tty")}, {"not_a_terminal", dir.file("plain.txt")}};
  for (const Case& c : cases) {
    const talon_test::RunResult run =
        talon_test::run_talonhost(dir.path(), {"--rtk-mode", "0", "--mode", "1", "--nmea-port", c.path}, 20);
    EXPECT_EQ(run.exit_code, HOST_EXIT_START) << c.name;
    EXPECT_NE(run.err.find("talonhost: " + c.path + ": cannot open the NMEA port: "), std::string::npos)
        << c.name << ": " << run.err;
  }
}

// A NMEA port whose far end has gone: the first refused sentence is named
// once on stderr, every refused sentence is counted, and the output goes on.
TEST(NmeaPort, RefusedWritesAreSaidOnceAndCounted) {
  talon_test::Pty pty;
  SIO_T sio = sio_open_path(pty.slave_path.c_str(), SERIAL_BAUD_115200);
  ASSERT_NE(sio, nullptr);
  HOSTOUT_set_nmea_port(sio);
  HOSTOUT_send_nmea_to_port();
  const std::vector<unsigned char> got = talon_test::read_fd(pty.master, 7, 2000);
  EXPECT_EQ(std::string(got.begin(), got.end()), "$GPGGA,");
  EXPECT_EQ(HOSTOUT_get_nmea_port_failures(), 0);
  close(pty.master);  // the far end goes
  pty.master = -1;
  testing::internal::CaptureStderr();
  HOSTOUT_send_nmea_to_port();
  HOSTOUT_send_nmea_to_port();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(talon_test::count_of(err, "talonhost: " + pty.slave_path + ": NMEA write failed: "), 1) << err;
  EXPECT_EQ(talon_test::count_of(err, "\n"), 1) << err;
  EXPECT_GE(HOSTOUT_get_nmea_port_failures(), 8);  // at least GGA, GSA, RMC, VTG of each block
  HOSTOUT_set_nmea_port(nullptr);
  sio_close(sio);
}

}  // namespace
