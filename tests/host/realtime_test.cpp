// The real-time modes against pseudo-terminals: recordings on disk while the
// run goes on, the exit code of a run stopped by a signal, and ports whose far
// end hangs up (the test closes the pty master). Known truth is what the test
// wrote to each port.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "host/host.h"
#include "link_test_util.h"
#include "misc/pack.h"

namespace {

using namespace talon_test;
using Bytes = std::vector<unsigned char>;

// A measurement epoch close frame (type 0, 39 payload bytes, checksum).
Bytes gtc() {
  Bytes f(43, 0x11);
  f[0] = 0x4A;
  f[1] = 0x58;
  f[2] = 0x00;
  f.back() = calc_checksum(f.data(), static_cast<int>(f.size()) - 1);
  return f;
}
// RTC report: week 1, 5 s, sub-second count 1000.
const Bytes RTC_FRAME = {0x4A, 0x58, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x03, 0xE8, 0xF3};
const Bytes HOSTBASE_INIT = {0x4A, 0x58, 0x0F, 0x1D};
const Bytes HOSTBASE_STOP = {0x4A, 0x58, 0x10, 0x02};

Bytes pattern(std::size_t n, unsigned seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(seed + 7 * i);
  return b;
}

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Logging mode against the pty, started in d; the handshake answered with the
// RTC report. Returns the program's pid.
int start_logging(const TempDir& d, const Pty& pty) {
  const int pid =
      spawn_talonhost(d.path(), {"--rtk-mode", "0", "--mode", "0", "--port", pty.slave_path, "--do-kml-output", "0"});
  EXPECT_EQ(read_fd(pty.master, 4, 5000), HOSTBASE_INIT);
  write_all(pty.master, RTC_FRAME.data(), RTC_FRAME.size());
  sleep_ms(300);
  return pid;
}

// Three time-count epochs to the program, 100 ms apart; returns the bytes sent.
Bytes feed_three_epochs(const Pty& pty) {
  Bytes stream;
  for (int i = 0; i < 3; ++i) {
    const Bytes chunk = gtc();
    stream.insert(stream.end(), chunk.begin(), chunk.end());
    write_all(pty.master, chunk.data(), chunk.size());
    sleep_ms(100);
  }
  return stream;
}

// Keep the test's end of a pty out of the program (spawned later), so that
// closing it here is a hang-up there.
void own_master(const Pty& pty) { fcntl(pty.master, F_SETFD, FD_CLOEXEC); }

// Close the test's end of a pty: the program's end sees a hang-up.
void hang_up(Pty* pty) {
  close(pty->master);
  pty->master = -1;
}

std::string hung_up_line(const Pty& pty) { return "talonhost: " + pty.slave_path + ": the port hung up\n"; }

// ---------------------------------------------------------------------------
// Recordings reach the disk while the run is idle
// ---------------------------------------------------------------------------

// Bytes on rover and base, then 1.5 s without input: rb.bin on disk already
// holds every byte, in whole records, while the run goes on.
TEST(RealTimeRecording, RbBinOnDiskWhileIdle) {
  TempDir d;
  Pty rover, base;
  const int pid =
      spawn_talonhost(d.path(), {"--mode", "0", "--port", rover.slave_path, "--base-port", base.slave_path});
  sleep_ms(300);
  const Bytes r = pattern(300, 1), b = pattern(70, 99);
  write_all(rover.master, r.data(), r.size());
  write_all(base.master, b.data(), b.size());
  sleep_ms(1500);
  Bytes got_rover, got_base;
  EXPECT_TRUE(split_rb(read_file(d.file("rb.bin")), &got_rover, &got_base));
  EXPECT_EQ(got_rover, r);
  EXPECT_EQ(got_base, b);
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0);  // still running
  kill(pid, SIGINT);
  EXPECT_EQ(wait_talonhost(pid, 10), HOST_EXIT_INTERRUPTED);
}

// Logging mode: link bytes that are no whole frame (nothing for a report
// handler), then 1.5 s of silence: log_data.dat on disk holds them.
TEST(RealTimeRecording, LinkLogOnDiskWhileIdle) {
  TempDir d;
  Pty pty;
  const int pid = start_logging(d, pty);
  const Bytes noise = pattern(200, 0x20);
  write_all(pty.master, noise.data(), noise.size());
  sleep_ms(1500);
  EXPECT_EQ(read_file(d.file("log_data.dat")), noise);
  kill(pid, SIGINT);
  EXPECT_EQ(wait_talonhost(pid, 10), HOST_EXIT_INTERRUPTED);
}

// ---------------------------------------------------------------------------
// Logging stopped by a signal: the same close-down as finish.txt, exit 5
// ---------------------------------------------------------------------------
class LoggingSignal : public ::testing::TestWithParam<int> {};

TEST_P(LoggingSignal, StopMessageSavedFilesAndExitCode) {
  TempDir d;
  Pty pty;
  const int pid = start_logging(d, pty);
  const Bytes stream = feed_three_epochs(pty);
  kill(pid, GetParam());
  // The kernel's commands, then the stop message as the last frame.
  Bytes wire;
  while (wire.size() < 4 || !std::equal(HOSTBASE_STOP.begin(), HOSTBASE_STOP.end(), wire.end() - 4)) {
    const Bytes b = read_fd(pty.master, 1, 5000);
    if (b.empty()) break;
    wire.push_back(b[0]);
  }
  ASSERT_GE(wire.size(), 4u);
  EXPECT_TRUE(std::equal(HOSTBASE_STOP.begin(), HOSTBASE_STOP.end(), wire.end() - 4));
  EXPECT_EQ(wait_talonhost(pid, 10), HOST_EXIT_INTERRUPTED);
  const std::string out = read_text(d.file("out"));
  EXPECT_NE(out.find("Save initilize files...\n"), std::string::npos) << out;
  EXPECT_EQ(count_of(out, "Power on count: "), 3) << out;
  EXPECT_EQ(read_file(d.file("log_data.dat")), stream);
  EXPECT_EQ(read_file(d.file("log_save.dat")).size(), 20480u);
  EXPECT_EQ(read_file(d.file("flash_save.alm")).size(), 20480u);
  EXPECT_EQ(count_of(read_text(d.file("err")), "talonhost: "), 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, LoggingSignal, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& i) {
                           return std::string(i.param == SIGINT ? "sigint" : i.param == SIGTERM ? "sigterm" : "sighup");
                         });

// A replay stopped by a signal before the end of its file: the close-down,
// then 5. The log is 1 GiB of zeros without a frame, a sparse file that takes
// no disk space and several seconds to replay.
TEST(ReplaySignal, SigtermGives5) {
  TempDir d;
  {
    const int fd = open(d.file("log_data.dat").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 1L << 30), 0);
    close(fd);
  }
  const int pid = spawn_talonhost(d.path(), {"--rtk-mode", "0", "--mode", "1", "--do-kml-output", "0"});
  sleep_ms(300);
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0);  // still replaying
  kill(pid, SIGTERM);
  EXPECT_EQ(wait_talonhost(pid, 10), HOST_EXIT_INTERRUPTED);
  EXPECT_NE(read_text(d.file("err")).find("Host link: 0 good frames"), std::string::npos);  // the end sequence ran
}

// ---------------------------------------------------------------------------
// Ports whose far end hangs up
// ---------------------------------------------------------------------------

// Wait until the program's stderr holds `what`, for at most timeout_ms.
bool err_has(const TempDir& d, const std::string& what, int timeout_ms) {
  return link_test::wait_for([&] { return read_text(d.file("err")).find(what) != std::string::npos; }, timeout_ms);
}

// The target goes away after three epochs: the hang-up is named once, the run
// closes down as after Ctrl-C (stop message attempted, files saved, link log
// complete) and exits with 3.
TEST(PortHangUp, LoggingTargetGone) {
  TempDir d;
  Pty pty;
  own_master(pty);
  const int pid = start_logging(d, pty);
  const Bytes stream = feed_three_epochs(pty);
  sleep_ms(200);
  hang_up(&pty);
  EXPECT_EQ(wait_talonhost(pid, 5), HOST_EXIT_INPUT_FAULT);  // old code: runs on, killed here
  const std::string err = read_text(d.file("err"));
  EXPECT_EQ(count_of(err, "talonhost: "), 1) << err;
  EXPECT_NE(err.find(hung_up_line(pty)), std::string::npos) << err;
  const std::string out = read_text(d.file("out"));
  EXPECT_NE(out.find("Save initilize files...\n"), std::string::npos) << out;
  EXPECT_EQ(read_file(d.file("log_data.dat")), stream);
  EXPECT_EQ(read_file(d.file("log_save.dat")).size(), 20480u);
  EXPECT_EQ(read_file(d.file("flash_save.alm")).size(), 20480u);
}

// Real-time RTK with rover, base and output ports; one of them hangs up.
enum class Gone { ROVER, BASE, OUTPUT };
struct HangUpCase {
  const char* name;
  Gone gone;
};
void PrintTo(const HangUpCase& c, std::ostream* os) { *os << c.name; }

class RtkPortHangUp : public ::testing::TestWithParam<HangUpCase> {};

// Rover gone: the run ends by itself with 3, rb.bin complete. Base or output
// gone: named once, the run goes on recording the rover until SIGINT (5).
TEST_P(RtkPortHangUp, NamedOnceAndTheRunGoesOnOrEnds) {
  const HangUpCase& c = GetParam();
  TempDir d;
  Pty rover, base, out;
  for (const Pty* p : {&rover, &base, &out}) own_master(*p);
  const int pid = spawn_talonhost(d.path(), {"--mode", "0", "--port", rover.slave_path, "--base-port", base.slave_path,
                                             "--out-port", out.slave_path});
  sleep_ms(300);
  const Bytes r1 = pattern(200, 3), b1 = pattern(50, 40), r2 = pattern(150, 77);
  write_all(rover.master, r1.data(), r1.size());
  write_all(base.master, b1.data(), b1.size());
  sleep_ms(300);
  Pty& gone = c.gone == Gone::ROVER ? rover : c.gone == Gone::BASE ? base : out;
  const std::string line = hung_up_line(gone);
  hang_up(&gone);
  Bytes want_rover = r1;
  if (c.gone == Gone::ROVER) {
    EXPECT_EQ(wait_talonhost(pid, 5), HOST_EXIT_INPUT_FAULT);  // old code: runs on, killed here
  } else {
    EXPECT_TRUE(err_has(d, line, 3000));
    // The rover is still read and recorded.
    write_all(rover.master, r2.data(), r2.size());
    want_rover.insert(want_rover.end(), r2.begin(), r2.end());
    sleep_ms(300);
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0);  // still running
    kill(pid, SIGINT);
    EXPECT_EQ(wait_talonhost(pid, 10), HOST_EXIT_INTERRUPTED);
  }
  const std::string err = read_text(d.file("err"));
  EXPECT_EQ(count_of(err, "talonhost: "), 1) << err;
  EXPECT_NE(err.find(line), std::string::npos) << err;
  Bytes got_rover, got_base;
  EXPECT_TRUE(split_rb(read_file(d.file("rb.bin")), &got_rover, &got_base));
  EXPECT_EQ(got_rover, want_rover);
  EXPECT_EQ(got_base, b1);
}

INSTANTIATE_TEST_SUITE_P(Ports, RtkPortHangUp,
                         ::testing::Values(HangUpCase{"rover", Gone::ROVER}, HangUpCase{"base", Gone::BASE},
                                           HangUpCase{"output", Gone::OUTPUT}),
                         [](const ::testing::TestParamInfo<HangUpCase>& i) { return std::string(i.param.name); });

}  // namespace
