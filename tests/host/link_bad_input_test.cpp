// Bad input from the target in a logging run: garbage bytes, reports for
// channels that were never started, a target that never answers and one that
// stops in the middle of a run. In every case the program must end normally
// when asked to (finish.txt), say what it says as "talonhost: ..." lines (and
// the link's "Host link: ..." summary), and
// leave its saved backup image whole: absent, or 20480 bytes whose receiver-
// state sectors are untouched (zero) or carry the CRC-16 of their bytes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "link_test_util.h"
#include "misc/crc16.h"
#include "misc/host_msg.h"
#include "misc/pack.h"

namespace {

using link_test::Bytes;
using talon_test::file_exists;
using talon_test::read_file;

const Bytes RTC_FRAME = {0x4A, 0x58, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x03, 0xE8, 0xF3};
const Bytes HOSTBASE_INIT = {0x4A, 0x58, 0x0F, 0x1D};

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// A time-count report closing an epoch (week 1, second s).
Bytes gtc(int s) {
  GTC_RD_T g{};
  g.WEEK_SUBSEC = 1U << 16;
  g.INTSEL_SEC = static_cast<U32>(s);
  U08 f[80];
  ASIC_READ_RTC_T rtc{};
  const int n = append_checksum(f, pack_msg_gtc(f, &g, 0, 0, 100000, 0, &rtc));
  return Bytes(f, f + n);
}

Bytes frame(const U08* f, int n_without_checksum) {
  U08 b[400];
  std::copy(f, f + n_without_checksum, b);
  const int n = append_checksum(b, n_without_checksum);
  return Bytes(b, b + n);
}

// Reports for channels the target never started: channel ids beyond the
// hardware's, PRNs out of range, carrier and data bits of channels without a
// channel report, a channel whose track issue changes every epoch.
Bytes never_started_epoch(int k) {
  Bytes out;
  U08 f[400];
  ASIC_CHAN_MEAS_T m{};
  m.gnss_type = 0;
  m.state = 3;
  m.nsc = 8;
  m.bitcnt = 1000U + 50U * static_cast<U32>(k);
  m.cn_integ = 20;
  m.cn_count = 50;
  m.acc_power = 0xFFFFFFFFU;
  m.acc_carrier_cycle_count = 1000;
  m.dop_freq = 0x7FFFFFFF;
  m.track_issue = static_cast<U08>(k);
  const struct {
    S16 ch;
    S08 prn;
  } chans[] = {{7, 3}, {19, 32}, {200, 5}, {-1, 9}, {4, 0}, {5, 99}, {6, -7}};
  for (const auto& c : chans) {
    m.prn = c.prn;
    const Bytes b = frame(f, pack_msg_chan(f, c.ch, &m));
    out.insert(out.end(), b.begin(), b.end());
  }
  m.carrier_phase_ary_count = 200;  // more slots than the array holds
  Bytes b = frame(f, pack_msg_chan_carrier(f, 250, &m));
  out.insert(out.end(), b.begin(), b.end());
  b = frame(f, pack_msg_chan_carrier(f, 12, &m));
  out.insert(out.end(), b.begin(), b.end());
  b = gtc(100 + k);
  out.insert(out.end(), b.begin(), b.end());
  for (S16 ch : {S16{12}, S16{19}, S16{255}}) {
    b = frame(f, pack_msg_get_databits(f, ch, 0, 9, 0x2C5A5A5AU, 30, 1030U + 50U * static_cast<U32>(k), 1));
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

// Pseudo-random bytes with sync pairs, frame headers of every report type and
// wrong checksums mixed in.
Bytes garbage_chunk(unsigned k) {
  Bytes out(2048);
  unsigned x = 0x9E3779B9U * (k + 1);
  for (std::size_t i = 0; i < out.size(); ++i) {
    x = x * 1664525U + 1013904223U;
    out[i] = static_cast<unsigned char>(x >> 24);
    if (i % 97 == 0 && i + 3 < out.size()) {
      out[i] = 0x4A;
      out[i + 1] = 0x58;
      out[i + 2] = static_cast<unsigned char>((x >> 8) % 70);
      i += 2;
    }
  }
  return out;
}

enum class Kind { GARBAGE, NEVER_STARTED, SILENT, STOPS_MID_RUN };
struct BadCase {
  const char* name;
  Kind kind;
};

// A raw pty in place of the target: answer the handshake, then feed chunks.
void feed_raw(const talon_test::Pty& pty, const BadCase& c) {
  EXPECT_EQ(talon_test::read_fd(pty.master, 4, 5000), HOSTBASE_INIT);
  talon_test::write_all(pty.master, RTC_FRAME.data(), RTC_FRAME.size());
  sleep_ms(200);
  for (unsigned k = 0; k < 8; ++k) {
    const Bytes b = c.kind == Kind::GARBAGE ? garbage_chunk(k) : never_started_epoch(static_cast<int>(k));
    talon_test::write_all(pty.master, b.data(), b.size());
    sleep_ms(30);
  }
  sleep_ms(300);
}

void expect_saved_files_whole(const std::string& d) {
  if (file_exists(d + "/log_save.dat")) {
    const Bytes image = read_file(d + "/log_save.dat");
    ASSERT_EQ(image.size(), 20480U);
    for (std::size_t off : {std::size_t{0}, std::size_t{56}}) {
      bool zero = true;
      for (std::size_t i = off; i < off + 50; ++i) zero = zero && image[i] == 0;
      const unsigned crc = image[off + 48] | (image[off + 49] << 8);
      EXPECT_TRUE(zero || crc == crc16(image.data() + off, 48)) << "sector at " << off;
    }
  }
  if (file_exists(d + "/flash_save.alm")) {
    EXPECT_EQ(read_file(d + "/flash_save.alm").size(), 20480U);
  }
}

long file_size(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

// A sky the target plays closed loop and stops sending after 40 s of it.
constexpr const char* SKY =
    "start_week = 2400\nstart_tow = 345600\nduration = 70\nnsat = 9\nseed = 5\n"
    "lat = 35.68\nlon = 139.77\nheight = 40\nclk_drift = 1.2e-7\n";

int run_with_target(const std::string& d, const BadCase& c) {
  std::vector<std::string> args = {"--pty-file", "pty.txt", "--sent", "sent.bin", "--timeout-s", "30"};
  if (c.kind == Kind::SILENT) {
    args.push_back("--silent");
  } else {
    talon_test::write_file(d + "/sky.txt", Bytes(SKY, SKY + std::strlen(SKY)));
    for (const char* a : {"--scenario", "sky.txt", "--closed-loop", "--stop-after-s", "40", "--period-ms", "10"})
      args.emplace_back(a);
  }
  const int tpid = link_test::spawn(d, link_test::target_exe(), args, "target.out");
  EXPECT_TRUE(link_test::wait_for([&] { return file_exists(d + "/pty.txt"); }, 10000));
  const std::string port = talon_test::read_text(d + "/pty.txt");
  const int hpid = talon_test::spawn_talonhost(
      d, {"--rtk-mode", "0", "--mode", "0", "--port", port, "--do-kml-output", "0", "--fix-csv", "fix.csv"});
  if (c.kind == Kind::SILENT) {
    sleep_ms(600);
  } else {
    EXPECT_TRUE(link_test::wait_for([&] { return file_exists(d + "/sent.bin"); }, 20000));
    EXPECT_TRUE(
        link_test::wait_for([&] { return file_size(d + "/log_data.dat") == file_size(d + "/sent.bin"); }, 10000));
    sleep_ms(600);  // the target stays silent; the program goes on waiting
  }
  talon_test::write_file(d + "/finish.txt", {});
  const int rc = talon_test::wait_talonhost(hpid, 30);
  talon_test::wait_talonhost(tpid, 30);
  return rc;
}

void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }

class LinkBadInput : public ::testing::TestWithParam<BadCase> {};

TEST_P(LinkBadInput, TheProgramEndsNormallyAndItsSavedFilesStayWhole) {
  {
    const BadCase& c = GetParam();
    talon_test::TempDir dir;
    const std::string d = dir.path();
    int rc = -1;
    if (c.kind == Kind::GARBAGE || c.kind == Kind::NEVER_STARTED) {
      talon_test::Pty pty;
      fcntl(pty.master, F_SETFD, FD_CLOEXEC);
      const int pid = talon_test::spawn_talonhost(
          d, {"--rtk-mode", "0", "--mode", "0", "--port", pty.slave_path, "--do-kml-output", "0"});
      feed_raw(pty, c);
      talon_test::write_file(d + "/finish.txt", {});
      rc = talon_test::wait_talonhost(pid, 30);
    } else {
      rc = run_with_target(d, c);
    }
    EXPECT_EQ(rc, 0) << talon_test::read_text(d + "/err");
    const std::string err = talon_test::read_text(d + "/err");
    std::size_t at = 0;
    while (at < err.size()) {  // every line names the program, but for the link's summary
      const std::size_t end = err.find('\n', at);
      EXPECT_TRUE(err.compare(at, 11, "talonhost: ") == 0 || err.compare(at, 11, "Host link: ") == 0)
          << err.substr(at, end - at);
      if (end == std::string::npos) break;
      at = end + 1;
    }
    expect_saved_files_whole(d);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LinkBadInput,
                         ::testing::Values(BadCase{"garbage_bytes", Kind::GARBAGE},
                                           BadCase{"reports_for_channels_never_started", Kind::NEVER_STARTED},
                                           BadCase{"a_target_that_never_answers", Kind::SILENT},
                                           BadCase{"a_target_that_stops_mid_run", Kind::STOPS_MID_RUN}),
                         [](const ::testing::TestParamInfo<BadCase>& i) { return std::string(i.param.name); });

// Measurement epochs that reach the port together (a host that fell behind
// reads up to 128 bytes at a time, several small epochs at once) are each
// processed: the target proxy holds one epoch, so none may be overwritten.
TEST(LinkBurst, EpochsArrivingTogetherAreEachProcessed) {
  talon_test::TempDir dir;
  const std::string d = dir.path();
  talon_test::Pty pty;
  fcntl(pty.master, F_SETFD, FD_CLOEXEC);
  const int pid = talon_test::spawn_talonhost(
      d, {"--rtk-mode", "0", "--mode", "0", "--port", pty.slave_path, "--do-kml-output", "0", "--fix-csv", "f.csv"});
  EXPECT_EQ(talon_test::read_fd(pty.master, 4, 5000), HOSTBASE_INIT);
  talon_test::write_all(pty.master, RTC_FRAME.data(), RTC_FRAME.size());
  sleep_ms(200);
  constexpr int N_EPOCHS = 24;
  Bytes burst;
  for (int k = 0; k < N_EPOCHS; ++k) {
    const Bytes b = gtc(100 + k);
    burst.insert(burst.end(), b.begin(), b.end());
  }
  talon_test::write_all(pty.master, burst.data(), burst.size());
  sleep_ms(500);
  talon_test::write_file(d + "/finish.txt", {});
  ASSERT_EQ(talon_test::wait_talonhost(pid, 30), 0) << talon_test::read_text(d + "/err");
  const std::string rows = talon_test::read_text(d + "/f.csv");
  EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), N_EPOCHS + 1) << rows;  // the header and one row per epoch
  EXPECT_EQ(talon_test::read_text(d + "/err").find("overwritten"), std::string::npos)
      << talon_test::read_text(d + "/err");
}

}  // namespace
