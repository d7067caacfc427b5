// The program end to end: run modes, stop conditions, exit codes and the
// bytes it puts on the wire.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "misc/crc16.h"
#include "misc/host_msg.h"
#include "misc/pack.h"
#include "rtk/rtk.h"
#include "test_util.h"

int HOST_format_solution_line(long acc_cnt4, const sol_t& sol, double baseline, char* line, std::size_t size);

namespace {

using namespace talon_test;
using Bytes = std::vector<unsigned char>;

// A frame of `type` with `payload_len` payload bytes (filled with `fill`) and its checksum.
Bytes frame(int type, int payload_len, unsigned char fill = 0x11) {
  Bytes f(static_cast<std::size_t>(payload_len) + 4, fill);
  f[0] = 0x4A;
  f[1] = 0x58;
  f[2] = static_cast<unsigned char>(type);
  f.back() = calc_checksum(f.data(), static_cast<int>(f.size()) - 1);
  return f;
}
Bytes gtc() { return frame(0, 39); }  // measurement epoch close, 42 + 1 bytes
const Bytes RTC_FRAME = {0x4A, 0x58, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x03, 0xE8, 0xF3};
const Bytes INIT_FRAME = {0x4A, 0x58, 0x0F, 0x1D};
const Bytes STOP_FRAME = {0x4A, 0x58, 0x10, 0x02};

void append(Bytes& to, const Bytes& b) { to.insert(to.end(), b.begin(), b.end()); }

// Read command frames from fd, cut by the catalogue's lengths, until
// HOSTBASE_STOP or the time-out; their types in order (-1 for bytes that start
// no known frame).
std::vector<int> command_types_until_stop(int fd, int timeout_ms) {
  std::vector<int> types;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < end) {
    const Bytes head = read_fd(fd, 3, 200);
    if (head.size() < 3) continue;
    const HOST_MSG_INFO_T* info = HOST_MSG_find(head[2]);
    if (head[0] != 0x4A || head[1] != 0x58 || info == nullptr) {
      types.push_back(-1);
      break;
    }
    const Bytes rest = read_fd(fd, static_cast<std::size_t>(info->len) + 1 - 3, 2000);  // payload and checksum
    if (rest.size() != static_cast<std::size_t>(info->len) + 1 - 3) break;
    types.push_back(head[2]);
    if (head[2] == MSG_TYPE_HOSTBASE_STOP) break;
  }
  return types;
}

int count_of(const std::string& s, const std::string& what) {
  int n = 0;
  for (std::size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
  return n;
}

const std::vector<std::string> REPLAY = {"--rtk-mode", "0", "--mode", "1"};
const std::vector<std::string> LOGGING = {"--rtk-mode", "0", "--mode", "0"};

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// ---------------------------------------------------------------------------
// Words, defaults and file RTK exit codes
// ---------------------------------------------------------------------------
// One run of the program in a fresh directory: the files it finds there, its
// arguments, and what it must do.
struct ExitCase {
  const char* name = "";
  std::vector<std::pair<std::string, Bytes>> files = {};  // written before the run
  std::vector<std::string> args = {};
  int exit_code = 0;
  std::optional<std::string> out = {};  // exact stdout, if given
  const char* out_has = nullptr;        // text stdout contains, or null
  std::optional<std::string> err = {};  // exact stderr, if given
  const char* err_has = nullptr;        // text stderr contains, or null
  bool solutions = false;               // Normal_sol.txt and Geotagging_sol.txt exist afterwards
};

// A recording whose one record is longer than the reader can hold (length 0xFFFF).
Bytes too_long_record() {
  Bytes rb = {0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF};
  rb.resize(rb.size() + 0xFFFF, 0x00);
  return rb;
}

std::string name_of(const ::testing::TestParamInfo<ExitCase>& info) { return info.param.name; }

void check_exit_case(const ExitCase& c) {
  TempDir d;
  for (const auto& [name, bytes] : c.files) write_file(d.file(name), bytes);
  const RunResult r = run_talonhost(d.path(), c.args);
  EXPECT_EQ(r.exit_code, c.exit_code) << r.out << r.err;
  if (c.out) {
    EXPECT_EQ(r.out, *c.out);
  }
  if (c.out_has != nullptr) {
    EXPECT_NE(r.out.find(c.out_has), std::string::npos) << r.out;
  }
  if (c.err) {
    EXPECT_EQ(r.err, *c.err);
  }
  if (c.err_has != nullptr) {
    EXPECT_NE(r.err.find(c.err_has), std::string::npos) << r.err;
  }
  EXPECT_EQ(file_exists(d.file("Normal_sol.txt")), c.solutions);
  EXPECT_EQ(file_exists(d.file("Geotagging_sol.txt")), c.solutions);
}

// Words that end the program at once: exit code 0 with the text on stdout,
// or 2 with the usage on stderr and nothing on stdout.
class HelpVersionAndBadOptions : public ::testing::TestWithParam<ExitCase> {};
TEST_P(HelpVersionAndBadOptions, EndAtOnce) { check_exit_case(GetParam()); }

// File RTK: 0 when the run completed (solution files written), 1 when the
// rover, base or recording cannot be opened or there is no input, 3 on input
// faults counted during the run.
class FileRtkExitCodes : public ::testing::TestWithParam<ExitCase> {};
TEST_P(FileRtkExitCodes, ExitCodeMessagesAndFiles) { check_exit_case(GetParam()); }

const std::string RINEX_SET = TALON_SHARED_DATA "/rinex/spirent-2km-static/";

const std::string BANNER = "\nKernel Version: 2.0.55\nNavigation platform model: DEFAULT\n";

INSTANTIATE_TEST_SUITE_P(
    HostRun, HelpVersionAndBadOptions,
    ::testing::Values(
        ExitCase{.name = "help", .args = {"help"}, .exit_code = 0, .out_has = "--count", .err = ""},
        ExitCase{.name = "version", .args = {"version"}, .exit_code = 0, .out = "Kernel Version: 2.0.55\n", .err = ""},
        ExitCase{.name = "unknown_option",
                 .args = {"--no-such-option"},
                 .exit_code = 2,
                 .out = "",
                 .err_has = "talonhost: unknown or malformed option: --no-such-option\nUsage: talonhost"},
        ExitCase{.name = "platform_model_out_of_range",
                 .args = {"--nav-platform-model", "9"},
                 .exit_code = 2,
                 .out = "",
                 .err_has = "talonhost: unknown or malformed option: --nav-platform-model\nUsage: talonhost"},
        ExitCase{.name = "unknown_word",
                 .args = {"purple"},
                 .exit_code = 2,
                 .out = "",
                 .err_has = "talonhost: unknown option: purple\nUsage: talonhost"}),
    name_of);

INSTANTIATE_TEST_SUITE_P(
    HostRun, FileRtkExitCodes,
    ::testing::Values(
        // CRVRAW files: the default run.
        ExitCase{.name = "missing_rover",
                 .exit_code = 1,
                 .out = BANNER + "RTK_ERROR : can't open rover CRVRAW\n",
                 .err = ""},
        ExitCase{.name = "missing_base",
                 .files = {{"r.bin", Bytes(10, 0)}},
                 .exit_code = 1,
                 .out = BANNER + "RTK_ERROR : can't open base CRVRAW\n",
                 .err = ""},
        ExitCase{.name = "no_input", .args = {"--is-crvraw", "0"}, .exit_code = 1, .out = BANNER, .err = ""},
        ExitCase{.name = "completed_without_epochs",
                 .files = {{"r.bin", Bytes(1000, 0)}, {"b.bin", Bytes(1000, 0)}},
                 .exit_code = 0,
                 .out = BANNER,
                 .err_has = "RTK summary: 0 epochs",
                 .solutions = true},
        // A recording of a real-time run.
        ExitCase{.name = "recording_missing",
                 .args = {"--rb-file", "nothing.bin"},
                 .exit_code = 1,
                 .out = BANNER,
                 .err = "talonhost: nothing.bin: cannot open the recording\n"},
        ExitCase{.name = "recording_empty",
                 .files = {{"rb.bin", {}}},
                 .args = {"--rb-file", "rb.bin"},
                 .exit_code = 0,
                 .out = BANNER,
                 .err = "Recording: 0 records too long for the reader\n",
                 .solutions = true},
        ExitCase{.name = "recording_record_too_long",
                 .files = {{"rb.bin", too_long_record()}},
                 .args = {"--rb-file", "rb.bin"},
                 .exit_code = 3,
                 .out = BANNER,
                 .err = "Recording: 1 records too long for the reader\n",
                 .solutions = true},
        // RINEX on one side: a side that cannot be opened.
        ExitCase{.name = "rinex_rover_missing",
                 .files = {{"b.bin", Bytes(10, 0)}},
                 .args = {"--rover-rinex", "missing.obs"},
                 .exit_code = 1,
                 .out = BANNER,
                 .err = "talonhost: missing.obs: cannot open the RINEX observation file\n"},
        ExitCase{.name = "rinex_crvraw_base_missing",
                 .args = {"--rover-rinex", RINEX_SET + "rover.obs", "--nav", RINEX_SET + "gps.nav"},
                 .exit_code = 1,
                 .out = BANNER,
                 .err = "talonhost: b.bin: cannot open the base CRVRAW file\n"}),
    name_of);

TEST(HostRun, FileRtkWritesBothSolutionHeaders) {
  TempDir d;
  write_file(d.file("rover.bin"), Bytes(1000, 0));
  write_file(d.file("base.bin"), Bytes(1000, 0));
  const RunResult r = run_talonhost(d.path(), {"--rover-file", "rover.bin", "--base-file", "base.bin"});
  EXPECT_EQ(r.exit_code, 0);  // a completed file RTK run
  const std::string header =
      "          EPOCH           DATE            UTC         STATUS    AGE_OF_DIFF          RATIO            LAT"
      "            LON            ALT              X              Y              Z       BASELINE\n";
  EXPECT_EQ(read_text(d.file("Normal_sol.txt")), header);
  EXPECT_EQ(read_text(d.file("Geotagging_sol.txt")), header);
}

// ---------------------------------------------------------------------------
// Replay
// ---------------------------------------------------------------------------
TEST(HostRun, ReplayWithoutLogEndsWithOneAndNoMessage) {
  TempDir d;
  const RunResult r = run_talonhost(d.path(), REPLAY);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("Start in replay mode....\n"), std::string::npos);
}

TEST(HostRun, ReplayOfEmptyLogEndsNormally) {
  TempDir d;
  write_file(d.file("log_data.dat"), {});
  const RunResult r = run_talonhost(d.path(), REPLAY);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("Pse_on_sec_count = 0, Pse_off_sec_count = 0\n"), std::string::npos);
  // Replay writes both KML files (here with no points), closed properly.
  EXPECT_NE(read_text(d.file("output.kml")).find("</kml>"), std::string::npos);
  EXPECT_NE(read_text(d.file("fixmode.kml")).find("</kml>"), std::string::npos);
}

TEST(HostRun, ReplayCountsGoodWrongTypeAndWrongChecksumFrames) {
  TempDir d;
  // Noise ending in a 'J': the 'J' of the following frame is then taken as a
  // failed preamble, so that first epoch frame is lost without being counted.
  Bytes log = {0x00, 0x13, 0x4A};
  append(log, gtc());
  append(log, RTC_FRAME);
  Bytes bad = gtc();
  bad.back() ^= 0xFF;
  append(log, bad);                 // wrong checksum
  append(log, frame(2, 0));         // a host command coming back: wrong type
  append(log, {0x4A, 0x58, 0x50});  // type 80: wrong type
  append(log, frame(26, 10));       // search status
  append(log, gtc());
  Bytes bad_rtc = RTC_FRAME;
  bad_rtc[5] ^= 0x40;         // payload corrupted
  append(log, bad_rtc);       // wrong checksum
  append(log, frame(33, 2));  // temperature, accepted
  append(log, gtc());
  write_file(d.file("log_data.dat"), log);
  const RunResult r = run_talonhost(d.path(), REPLAY);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.err.find("Host link: 5 good frames, 2 wrong msgtype, 2 wrong checksum"), std::string::npos) << r.err;
  EXPECT_EQ(count_of(r.out, "Epoch "), 2);
  EXPECT_NE(r.out.find("RTC wn: 1, sec: 5\n"), std::string::npos);
}

TEST(HostRun, CountLimitStopsAtTheNextEpochWithoutOutput) {
  TempDir d;
  Bytes log;
  for (int i = 0; i < 6; ++i) append(log, gtc());
  write_file(d.file("log_data.dat"), log);
  const RunResult r = run_talonhost(d.path(), with(REPLAY, {"--count", "3"}));
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(count_of(r.out, "Epoch "), 3);
  // The fourth epoch stops the loop: its frame was the last one dispatched.
  EXPECT_NE(r.err.find("Host link: 4 good frames"), std::string::npos) << r.err;
}

TEST(HostRun, FinishFilePresentAtStartStopsTheFirstPass) {
  TempDir d;
  Bytes log;
  for (int i = 0; i < 6; ++i) append(log, gtc());
  write_file(d.file("log_data.dat"), log);
  write_file(d.file("finish.txt"), {});
  const RunResult r = run_talonhost(d.path(), REPLAY);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(count_of(r.out, "Epoch "), 0);
  EXPECT_NE(r.err.find("Host link: 0 good frames"), std::string::npos) << r.err;
}

TEST(HostRun, NoKmlMeansNoKmlFiles) {
  TempDir d;
  write_file(d.file("log_data.dat"), gtc());
  const RunResult r = run_talonhost(d.path(), with(REPLAY, {"nokml"}));
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_FALSE(file_exists(d.file("output.kml")));
  EXPECT_FALSE(file_exists(d.file("fixmode.kml")));
}

// ---------------------------------------------------------------------------
// Real time against a pseudo-terminal target
// ---------------------------------------------------------------------------
TEST(HostRun, LoggingWithoutPortFails) {
  TempDir d;
  const RunResult r = run_talonhost(d.path(), LOGGING);  // com_num -1: no port
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("Open serial port failed!\n"), std::string::npos);
}

TEST(HostRun, LoggingHandshakeLogAndStop) {
  TempDir d;
  Pty pty;
  const int pid = spawn_talonhost(d.path(), with(LOGGING, {"--port", pty.slave_path}));
  // The first bytes on the wire are HOSTBASE_INIT.
  EXPECT_EQ(read_fd(pty.master, 4, 5000), INIT_FRAME);
  // Answer with the RTC report, then stream epochs with some noise.
  ASSERT_EQ(write(pty.master, RTC_FRAME.data(), RTC_FRAME.size()), static_cast<ssize_t>(RTC_FRAME.size()));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Bytes stream;
  for (int i = 0; i < 3; ++i) {
    // One epoch at a time, as a target streams them; some noise before the first.
    Bytes chunk = i == 0 ? Bytes{0x00, 0xFF} : Bytes{};
    append(chunk, gtc());
    append(stream, chunk);
    ASSERT_EQ(write(pty.master, chunk.data(), chunk.size()), static_cast<ssize_t>(chunk.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
  }
  write_file(d.file("finish.txt"), {});
  // After HOSTBASE_INIT only the kernel's commands, then the stop message as the last frame.
  const std::vector<int> types = command_types_until_stop(pty.master, 10000);
  ASSERT_FALSE(types.empty());
  EXPECT_EQ(types.back(), MSG_TYPE_HOSTBASE_STOP);
  for (std::size_t i = 0; i + 1 < types.size(); ++i) {
    const HOST_MSG_INFO_T* info = HOST_MSG_find(types[i]);
    ASSERT_NE(info, nullptr);
    EXPECT_NE(info->dir, MSG_DIR_T2H) << info->name;
    EXPECT_NE(types[i], MSG_TYPE_HOSTBASE_INIT);
    EXPECT_NE(types[i], MSG_TYPE_HOSTBASE_STOP);
  }
  EXPECT_EQ(wait_talonhost(pid, 20), 0);
  const std::string out = read_text(d.file("out"));
  EXPECT_NE(out.find("Start in real time mode....\n"), std::string::npos);
  EXPECT_NE(out.find("wait rtc count = "), std::string::npos);
  EXPECT_NE(out.find("Save initilize files...\n"), std::string::npos);
  EXPECT_EQ(count_of(out, "Epoch "), 3);
  // rtc_data.dat: sec 5, subsec 1000, week 1, little-endian, CRC of bytes 0..9.
  const Bytes rtc = read_file(d.file("rtc_data.dat"));
  ASSERT_EQ(rtc.size(), 12u);
  const Bytes want_head = {5, 0, 0, 0, 0xE8, 0x03, 0, 0, 1, 0};
  EXPECT_EQ(Bytes(rtc.begin(), rtc.begin() + 10), want_head);
  const U16 crc = crc16(rtc.data(), 10);
  EXPECT_EQ(rtc[10], crc & 0xFF);
  EXPECT_EQ(rtc[11], crc >> 8);
  // The link log holds exactly what the target sent after its RTC report.
  EXPECT_EQ(read_file(d.file("log_data.dat")), stream);
  EXPECT_EQ(read_file(d.file("log_save.dat")).size(), 20480u);
  EXPECT_EQ(read_file(d.file("flash_save.alm")).size(), 20480u);
}

TEST(HostRun, SilentTargetTimesOutAndStillSendsStop) {
  TempDir d;
  Pty pty;
  const auto t0 = std::chrono::steady_clock::now();
  const int pid = spawn_talonhost(d.path(), with(LOGGING, {"--port", pty.slave_path}));
  EXPECT_EQ(read_fd(pty.master, 8, 10000), (Bytes{0x4A, 0x58, 0x0F, 0x1D, 0x4A, 0x58, 0x10, 0x02}));
  EXPECT_EQ(wait_talonhost(pid, 20), 0);
  // The target had about three seconds to answer.
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2500));
  const std::string out = read_text(d.file("out"));
  EXPECT_NE(out.find("wait target timeout!!\n"), std::string::npos);
  EXPECT_EQ(out.find("Save initilize files"), std::string::npos);
  EXPECT_FALSE(file_exists(d.file("rtc_data.dat")));
  EXPECT_FALSE(file_exists(d.file("log_data.dat")));
  EXPECT_FALSE(file_exists(d.file("log_save.dat")));
  EXPECT_FALSE(file_exists(d.file("flash_save.alm")));
}

// ---------------------------------------------------------------------------
// Real-time RTK
// ---------------------------------------------------------------------------
// A port that cannot be opened ends a real-time RTK run with 1 and its
// message; rb.bin was already created. "ROVER" in the arguments stands for a
// pseudo-terminal that opens.
struct PortCase {
  const char* name;
  std::vector<std::string> args;
  const char* message;
};

class RealTimeRtkPortFailures : public ::testing::TestWithParam<PortCase> {};

TEST_P(RealTimeRtkPortFailures, EndWithOneAndTheMessage) {
  const PortCase& c = GetParam();
  TempDir d;
  Pty rover;
  std::vector<std::string> args = c.args;
  for (std::string& a : args)
    if (a == "ROVER") a = rover.slave_path;
  const RunResult r = run_talonhost(d.path(), args);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, BANNER + c.message);
  EXPECT_TRUE(file_exists(d.file("rb.bin")));
}

INSTANTIATE_TEST_SUITE_P(HostRun, RealTimeRtkPortFailures,
                         ::testing::Values(PortCase{"rover", {"--mode", "0"}, "Open serial port 1 is failed ..\n"},
                                           PortCase{"base",
                                                    {"--mode", "0", "--port", "ROVER", "--base-port", "/nonexistent"},
                                                    "Open serial port 2 is failed ..\n"},
                                           PortCase{"output",
                                                    {"--mode", "0", "--port", "ROVER", "--com-num3", "24", "ttyNOSUCH"},
                                                    "Open serial port 3 is failed ..\n"}),
                         [](const ::testing::TestParamInfo<PortCase>& info) { return std::string(info.param.name); });

TEST(HostRun, RealTimeRtkRecordsEveryChunk) {
  TempDir d;
  Pty rover, base;
  const int pid =
      spawn_talonhost(d.path(), {"--mode", "0", "--port", rover.slave_path, "--base-port", base.slave_path});
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  Bytes r(100), b(40);
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<unsigned char>(i);
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<unsigned char>(0xFF - i);
  ASSERT_EQ(write(rover.master, r.data(), r.size()), 100);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(write(base.master, b.data(), b.size()), 40);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  kill(pid, SIGINT);  // ends the run through its close-down, keeping rb.bin whole
  EXPECT_EQ(wait_talonhost(pid, 10), 0);
  Bytes want = {0x78, 0x56, 0x34, 0x12, 0x00, 0x64};
  append(want, r);
  append(want, {0x12, 0x34, 0x56, 0x78, 0x00, 0x28});
  append(want, b);
  EXPECT_EQ(read_file(d.file("rb.bin")), want);
}

// ---------------------------------------------------------------------------
// Solution line of the solution files
// ---------------------------------------------------------------------------
sol_t solution_at(int week, double tow) {
  sol_t s{};
  s.time = gpst2time(week, tow);
  s.rr[0] = -3749943.5172;
  s.rr[1] = 3683398.2394;
  s.rr[2] = 3600629.5295;
  s.stat = SOLQ_FIX;
  s.age = 1.25f;
  s.ratio = 37.5f;
  return s;
}

TEST(SolutionLine, ExactColumns) {
  // GPS week 2400, 100.25 s = 2026-01-04 00:01:40.25 GPST = 00:01:22.250 UTC (18 leap seconds).
  RTKCMN_set_leap_second(18);
  const sol_t s = solution_at(2400, 100.25);
  char line[512];
  const int n = HOST_format_solution_line(42, s, 26.5, line, sizeof line);
  ASSERT_GT(n, 0);
  const std::string l(line, static_cast<std::size_t>(n));
  // EPOCH, DATE (9+1+2+1+2), UTC (3+2+1+2+1+6), then ten columns of 15, and the line end.
  ASSERT_EQ(l.size(), 13u * 15u + 1u) << l;
  EXPECT_EQ(l.substr(0, 15), "             42");
  EXPECT_EQ(l.substr(15, 15), "     2026/01/04");
  EXPECT_EQ(l.substr(30, 15), "   00:01:22.250");
  EXPECT_EQ(l.substr(45, 15), "            FIX");
  EXPECT_EQ(l.substr(60, 15), "           1.25");
  EXPECT_EQ(l.substr(75, 15), "          10.00");  // ratio 37.5 is capped
  EXPECT_EQ(l.substr(135, 15), "   -3749943.517");
  EXPECT_EQ(l.substr(150, 15), "    3683398.239");
  EXPECT_EQ(l.substr(165, 15), "    3600629.530");
  EXPECT_EQ(l.substr(180, 15), "         26.500");
  // LAT/LON/ALT agree with X/Y/Z to the printed precision (1e-8 degree is about 1 mm).
  const double pos[3] = {std::stod(l.substr(90, 15)) / 57.2957795131, std::stod(l.substr(105, 15)) / 57.2957795131,
                         std::stod(l.substr(120, 15))};
  double xyz[3];
  pos2ecef(pos, xyz);
  EXPECT_NEAR(xyz[0], s.rr[0], 0.003);
  EXPECT_NEAR(xyz[1], s.rr[1], 0.003);
  EXPECT_NEAR(xyz[2], s.rr[2], 0.003);
}

TEST(SolutionLine, AgeRoundingResidueIsNotNegativeZero) {
  sol_t s = solution_at(2400, 100.0);
  s.age = -1e-6f;
  char line[512];
  HOST_format_solution_line(1, s, 0.0, line, sizeof line);
  EXPECT_EQ(std::string(line + 60, 15), "           0.00");
}

// The status column of each solution status.
struct StatusCase {
  const char* name;
  unsigned char stat;
  const char* word;
};

class SolutionStatusWord : public ::testing::TestWithParam<StatusCase> {};

TEST_P(SolutionStatusWord, RightAlignedInItsColumn) {
  const StatusCase& c = GetParam();
  sol_t s = solution_at(2400, 100.0);
  s.stat = c.stat;
  char line[512];
  HOST_format_solution_line(1, s, 0.0, line, sizeof line);
  EXPECT_EQ(std::string(line + 45, 15), std::string(15 - std::strlen(c.word), ' ') + c.word);
}

INSTANTIATE_TEST_SUITE_P(SolutionLine, SolutionStatusWord,
                         ::testing::Values(StatusCase{"fix", SOLQ_FIX, "FIX"}, StatusCase{"float", SOLQ_FLOAT, "FLOAT"},
                                           StatusCase{"single", SOLQ_SINGLE, "SINGLE"},
                                           StatusCase{"none", SOLQ_NONE, "NONE"}, StatusCase{"dgps", SOLQ_DGPS, "NONE"},
                                           StatusCase{"sbas", SOLQ_SBAS, "NONE"},
                                           StatusCase{"out_of_range_200", 200, "NONE"}),
                         [](const ::testing::TestParamInfo<StatusCase>& info) { return std::string(info.param.name); });

TEST(SolutionLine, SecondsThatRoundToSixtyCarryIntoTheMinute) {
  RTKCMN_set_leap_second(18);
  // 23:59:59.9996 UTC on 2026-01-03 would print as "59.999.." -> rounds to 2026/01/04 00:00:00.000.
  const sol_t s = solution_at(2400, 18.0 - 0.0004);
  char line[512];
  HOST_format_solution_line(1, s, 0.0, line, sizeof line);
  EXPECT_EQ(std::string(line + 15, 30), "     2026/01/04   00:00:00.000");
}

}  // namespace
