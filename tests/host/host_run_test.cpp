// The program end to end: run modes, stop conditions, exit codes, messages
// and the bytes it puts on the wire; the solution line. (A missing rover, base
// or recording and an unknown option run as the expected-output cases
// Regress.bad_*, byte for byte.)
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/host.h"
#include "link_test_util.h"
#include "misc/pack.h"
#include "rtk/rtk.h"

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
// RTC report: week 1, 5 s, sub-second count 1000.
const Bytes RTC_FRAME = {0x4A, 0x58, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x03, 0xE8, 0xF3};

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}
Bytes gtcs(int n) {
  Bytes b;
  for (int i = 0; i < n; ++i) b = cat({b, gtc()});
  return b;
}

const std::string BANNER = "\nKernel Version: 2.0.55\nNavigation platform model: DEFAULT\n";
const std::vector<std::string> REPLAY = {"--rtk-mode", "0", "--mode", "1"};
const std::vector<std::string> LOGGING = {"--rtk-mode", "0", "--mode", "0"};

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// ---------------------------------------------------------------------------
// Runs that end by themselves: the files found, the arguments, what they do
// ---------------------------------------------------------------------------
struct RunCase {
  const char* name = "";
  std::vector<std::pair<std::string, Bytes>> files = {};  // written before the run
  // "PTY" stands for a pseudo-terminal that opens, "@SHARED@/<set>/<file>" for
  // a file of a recorded data set (the case is skipped without the set).
  std::vector<std::string> args = {};
  int exit_code = 0;
  std::optional<std::string> out = {};    // exact stdout, if given
  std::vector<std::string> out_has = {};  // stdout contains each
  std::optional<std::string> err = {};    // exact stderr, if given
  std::vector<std::string> err_has = {};  // stderr contains each
  int epochs = -1;                        // console tables on stdout, if not -1
  bool solutions = false;                 // both solution files hold the header only; else neither exists
  int kml = -1;                           // 1: both KML files written and closed; 0: neither exists
  std::vector<std::string> after = {};    // files that exist afterwards
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class ProgramRun : public ::testing::TestWithParam<RunCase> {};

TEST_P(ProgramRun, ExitCodeOutputAndFiles) {
  const RunCase& c = GetParam();
  TempDir d;
  Pty pty;
  for (const auto& [name, bytes] : c.files) write_file(d.file(name), bytes);
  std::vector<std::string> args = c.args;
  for (std::string& a : args) {
    if (a == "PTY") a = pty.slave_path;
    if (a.rfind("@SHARED@/", 0) != 0) continue;
    const std::string set = a.substr(9, a.rfind('/') - 9);
    TALON_SHARED_DATA_OR_SKIP(dir, set);
    a = dir + a.substr(a.rfind('/') + 1);
  }
  const RunResult r = run_talonhost(d.path(), args);
  EXPECT_EQ(r.exit_code, c.exit_code) << r.out << r.err;
  EXPECT_EQ(r.out, c.out.value_or(r.out));  // when given
  EXPECT_EQ(r.err, c.err.value_or(r.err));
  for (const std::string& s : c.out_has) EXPECT_NE(r.out.find(s), std::string::npos) << s << "\n" << r.out;
  for (const std::string& s : c.err_has) EXPECT_NE(r.err.find(s), std::string::npos) << s << "\n" << r.err;
  if (c.epochs >= 0) {
    EXPECT_EQ(count_of(r.out, "Power on count: "), c.epochs) << r.out;
  }
  for (const char* f : {"Normal_sol.txt", "Geotagging_sol.txt"}) {
    EXPECT_EQ(file_exists(d.file(f)), c.solutions) << f;
    if (c.solutions) {
      EXPECT_EQ(read_text(d.file(f)), std::string(SOL_HEADER) + "\n") << f;
    }
  }
  for (const char* f : {"output.kml", "fixmode.kml"}) {
    if (c.kml == 0) {
      EXPECT_FALSE(file_exists(d.file(f))) << f;
    }
    if (c.kml == 1) {
      EXPECT_NE(read_text(d.file(f)).find("</kml>"), std::string::npos) << f;
    }
  }
  for (const std::string& f : c.after) EXPECT_TRUE(file_exists(d.file(f))) << f;
}

std::string name_of(const ::testing::TestParamInfo<RunCase>& info) { return info.param.name; }

// Words that end the program at once: 0 with the text on stdout, or 2 with
// the message and the usage on stderr and nothing on stdout.
INSTANTIATE_TEST_SUITE_P(
    Words, ProgramRun,
    ::testing::Values(
        RunCase{.name = "help", .args = {"help"}, .exit_code = 0, .out_has = {"--count"}, .err = ""},
        RunCase{.name = "version", .args = {"version"}, .exit_code = 0, .out = "Kernel Version: 2.0.55\n", .err = ""},
        RunCase{.name = "platform_model_out_of_range",
                .args = {"--nav-platform-model", "9"},
                .exit_code = 2,
                .out = "",
                .err_has = {"talonhost: unknown or malformed option: --nav-platform-model\nUsage: talonhost"}},
        RunCase{.name = "unknown_word",
                .args = {"purple"},
                .exit_code = 2,
                .out = "",
                .err_has = {"talonhost: unknown option: purple\nUsage: talonhost"}}),
    name_of);

// A recording whose one record is longer than the reader can hold (length 0xFFFF).
Bytes too_long_record() {
  Bytes rb = {0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF};
  rb.resize(rb.size() + 0xFFFF, 0x00);
  return rb;
}

// File RTK: 0 when the run completed (both solution files written), 1 when an
// input cannot be opened or there is none, 3 on input faults counted in the run.
INSTANTIATE_TEST_SUITE_P(
    FileRtk, ProgramRun,
    ::testing::Values(
        RunCase{.name = "no_input", .args = {"--is-crvraw", "0"}, .exit_code = 1, .out = BANNER, .err = ""},
        // A rover that gives no epoch is an input fault, named after the summary.
        RunCase{.name = "rover_without_epochs",
                .files = {{"rover.bin", Bytes(1000, 0)}, {"base.bin", Bytes(1000, 0)}},
                .args = {"--rover-file", "rover.bin", "--base-file", "base.bin"},
                .exit_code = 3,
                .out = BANNER,
                .err_has = {"RTK summary: 0 epochs", "talonhost: rover.bin: no rover epoch\n"},
                .solutions = true},
        RunCase{.name = "recording_empty",
                .files = {{"rb.bin", {}}},
                .args = {"--rb-file", "rb.bin"},
                .exit_code = 3,
                .out = BANNER,
                .err_has = {"RTK summary: 0 epochs", "Recording: 0 records too long for the reader\n",
                            "talonhost: rb.bin: no rover epoch\n"},
                .solutions = true},
        RunCase{.name = "recording_record_too_long",
                .files = {{"rb.bin", too_long_record()}},
                .args = {"--rb-file", "rb.bin"},
                .exit_code = 3,
                .out = BANNER,
                .err_has = {"RTK summary: 0 epochs", "Recording: 1 records too long for the reader\n"},
                .solutions = true},
        // RINEX on one side: a side that cannot be opened.
        RunCase{.name = "rinex_rover_missing",
                .files = {{"b.bin", Bytes(10, 0)}},
                .args = {"--rover-rinex", "missing.obs"},
                .exit_code = 1,
                .out = BANNER,
                .err = "talonhost: missing.obs: cannot open the RINEX observation file\n"},
        RunCase{.name = "rinex_crvraw_base_missing",
                .args = {"--rover-rinex", "@SHARED@/rinex/spirent-2km-static/rover.obs", "--nav",
                         "@SHARED@/rinex/spirent-2km-static/gps.nav"},
                .exit_code = 1,
                .out = BANNER,
                .err = "talonhost: b.bin: cannot open the base CRVRAW file\n"}),
    name_of);

// A replay log with good and bad frames. Noise ending in a 'J': the 'J' of the
// following frame is then taken as a failed preamble, so that first epoch
// frame is lost without being counted.
Bytes counted_frames_log() {
  Bytes bad_gtc = gtc();
  bad_gtc.back() ^= 0xFF;  // wrong checksum
  Bytes bad_rtc = RTC_FRAME;
  bad_rtc[5] ^= 0x40;  // payload corrupted: wrong checksum
  return cat({{0x00, 0x13, 0x4A},
              gtc(),
              RTC_FRAME,
              bad_gtc,
              frame(2, 0),         // a host command coming back: wrong type
              {0x4A, 0x58, 0x50},  // type 80: wrong type
              frame(26, 10),       // search status
              gtc(),
              bad_rtc,
              frame(33, 2),  // temperature, accepted
              gtc()});
}

// Replay of log_data.dat (and logging without a port): stop conditions, frame
// counts and KML output.
INSTANTIATE_TEST_SUITE_P(
    Replay, ProgramRun,
    ::testing::Values(
        RunCase{.name = "without_log", .args = REPLAY, .exit_code = 1, .out_has = {"Start in replay mode....\n"}},
        RunCase{.name = "empty_log",
                .files = {{"log_data.dat", {}}},
                .args = REPLAY,
                .out_has = {"Pse_on_sec_count = 0, Pse_off_sec_count = 0\n"},
                .kml = 0},  // no epoch was offered to the KML files: they are removed at the close
        RunCase{.name = "epochs_without_fix_leave_the_closing_lines",
                .files = {{"log_data.dat", gtcs(3)}},
                .args = REPLAY,
                .out_has = {"fix mode = 0,"},
                .kml = 1},
        RunCase{.name = "counts_good_wrong_type_and_wrong_checksum_frames",
                .files = {{"log_data.dat", counted_frames_log()}},
                .args = REPLAY,
                .out_has = {"RTC wn: 1, sec: 5\n"},
                .err_has = {"Host link: 5 good frames, 2 wrong msgtype, 2 wrong checksum"},
                .epochs = 2},
        // The fourth epoch stops the loop: its frame was the last one dispatched.
        RunCase{.name = "count_limit_stops_at_the_next_epoch",
                .files = {{"log_data.dat", gtcs(6)}},
                .args = with(REPLAY, {"--count", "3"}),
                .err_has = {"Host link: 4 good frames"},
                .epochs = 3},
        RunCase{.name = "finish_file_at_start_stops_the_first_pass",
                .files = {{"log_data.dat", gtcs(6)}, {"finish.txt", {}}},
                .args = REPLAY,
                .err_has = {"Host link: 0 good frames"},
                .epochs = 0},
        RunCase{.name = "nokml", .files = {{"log_data.dat", gtc()}}, .args = with(REPLAY, {"nokml"}), .kml = 0},
        RunCase{.name = "logging_without_port",  // com_num -1: no port
                .args = LOGGING,
                .exit_code = 1,
                .out_has = {"Open serial port failed!\n"}}),
    name_of);

// A port that cannot be opened ends a real-time RTK run with 1 and its
// message, before rb.bin is created (OutputFault keeps an earlier one).
INSTANTIATE_TEST_SUITE_P(
    RealTimeRtkPort, ProgramRun,
    ::testing::Values(RunCase{.name = "rover",
                              .args = {"--mode", "0"},
                              .exit_code = 1,
                              .out = BANNER + "Open serial port 1 is failed ..\n"},
                      RunCase{.name = "base",
                              .args = {"--mode", "0", "--port", "PTY", "--base-port", "/nonexistent"},
                              .exit_code = 1,
                              .out = BANNER + "Open serial port 2 is failed ..\n"},
                      RunCase{.name = "output",
                              .args = {"--mode", "0", "--port", "PTY", "--com-num3", "24", "ttyNOSUCH"},
                              .exit_code = 1,
                              .out = BANNER + "Open serial port 3 is failed ..\n"}),
    name_of);

// ---------------------------------------------------------------------------
// Real time against a pseudo-terminal target
// ---------------------------------------------------------------------------
TEST(HostRun, LoggingHandshakeLogAndStop) {
  TempDir d;
  Pty pty;
  const int pid = spawn_talonhost(d.path(), with(LOGGING, {"--port", pty.slave_path}));
  // The first bytes on the wire are HOSTBASE_INIT.
  EXPECT_EQ(read_fd(pty.master, 4, 5000), (Bytes{0x4A, 0x58, 0x0F, 0x1D}));
  // Answer with the RTC report, then stream epochs one at a time, some noise before the first.
  write_all(pty.master, RTC_FRAME.data(), RTC_FRAME.size());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Bytes stream;
  for (int i = 0; i < 3; ++i) {
    const Bytes chunk = i == 0 ? cat({{0x00, 0xFF}, gtc()}) : gtc();
    stream = cat({stream, chunk});
    write_all(pty.master, chunk.data(), chunk.size());
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
  }
  write_file(d.file("finish.txt"), {});
  // The kernel's commands, then the stop message as the last frame (what the
  // commands are: LinkRun.LoggingRunThenReplayOfItsSetThenASecondRun).
  const Bytes stop = {0x4A, 0x58, 0x10, 0x02};
  Bytes wire;
  while (wire.size() < 4 || !std::equal(stop.begin(), stop.end(), wire.end() - 4)) {
    const Bytes b = read_fd(pty.master, 1, 10000);
    if (b.empty()) break;
    wire.push_back(b[0]);
  }
  EXPECT_GE(wire.size(), 4u);
  EXPECT_TRUE(talon_test::read_fd(pty.master, 1, 200).empty());  // nothing after it
  EXPECT_EQ(wait_talonhost(pid, 20), 0);
  const std::string out = read_text(d.file("out"));
  for (const char* s : {"Start in real time mode....\n", "wait rtc count = ", "Save initilize files...\n"})
    EXPECT_NE(out.find(s), std::string::npos) << s;
  EXPECT_EQ(count_of(out, "Power on count: "), 3);
  EXPECT_EQ(read_file(d.file("rtc_data.dat")), link_test::rtc_data_bytes(1, 5, 1000));
  // The link log holds exactly what the target sent after its RTC report.
  EXPECT_EQ(read_file(d.file("log_data.dat")), stream);
  EXPECT_EQ(read_file(d.file("log_save.dat")).size(), 20480u);
  EXPECT_EQ(read_file(d.file("flash_save.alm")).size(), 20480u);
}

// A target that never answers: the handshake times out after about three
// seconds, the stop message is still sent, nothing is saved, the run ends normally.
TEST(HostRun, SilentTargetTimesOutAndStillSendsStop) {
  TempDir d;
  Pty pty;
  const auto t0 = std::chrono::steady_clock::now();
  const int pid = spawn_talonhost(d.path(), with(LOGGING, {"--port", pty.slave_path}));
  EXPECT_EQ(read_fd(pty.master, 8, 10000), (Bytes{0x4A, 0x58, 0x0F, 0x1D, 0x4A, 0x58, 0x10, 0x02}));
  EXPECT_EQ(wait_talonhost(pid, 20), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2500));
  const std::string out = read_text(d.file("out"));
  EXPECT_NE(out.find("wait target timeout!!\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("Save initilize files"), std::string::npos);
  for (const char* f : {"log_save.dat", "flash_save.alm", "rtc_data.dat", "log_data.dat", "log_init.dat", "flash.alm"})
    EXPECT_FALSE(file_exists(d.file(f))) << f;
}

// Every stop signal ends a real-time RTK run through its close-down: rb.bin
// holds exactly the bytes received, in whole records, and the exit code is 5.
class RealTimeRtkStop : public ::testing::TestWithParam<int> {};

TEST_P(RealTimeRtkStop, RecordsEveryChunk) {
  TempDir d;
  Pty rover, base;
  const int pid =
      spawn_talonhost(d.path(), {"--mode", "0", "--port", rover.slave_path, "--base-port", base.slave_path});
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  Bytes r(100), b(40);
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<unsigned char>(i);
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<unsigned char>(0xFF - i);
  write_all(rover.master, r.data(), r.size());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  write_all(base.master, b.data(), b.size());
  std::this_thread::sleep_for(std::chrono::milliseconds(800));  // time to read it on a loaded machine (sanitizers)
  kill(pid, GetParam());
  EXPECT_EQ(wait_talonhost(pid, 10), HOST_EXIT_INTERRUPTED);
  EXPECT_EQ(read_file(d.file("rb.bin")),
            cat({{0x78, 0x56, 0x34, 0x12, 0x00, 0x64}, r, {0x12, 0x34, 0x56, 0x78, 0x00, 0x28}, b}));
}

INSTANTIATE_TEST_SUITE_P(Signals, RealTimeRtkStop, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& i) {
                           return std::string(i.param == SIGINT ? "sigint" : i.param == SIGTERM ? "sigterm" : "sighup");
                         });

// ---------------------------------------------------------------------------
// Solution line of the solution files
// ---------------------------------------------------------------------------
sol_t solution_at(double tow, unsigned char stat = SOLQ_FIX, float age = 1.25f) {
  sol_t s{};
  s.time = gpst2time(2400, tow);
  s.rr[0] = -3749943.5172;
  s.rr[1] = 3683398.2394;
  s.rr[2] = 3600629.5295;
  s.stat = stat;
  s.age = age;
  s.ratio = 37.5f;
  return s;
}

std::string format_line(const sol_t& s, long epoch, double baseline) {
  RTKCMN_set_leap_second(18);
  char line[512];
  const int n = HOST_format_solution_line(epoch, s, baseline, line, sizeof line);
  return n > 0 ? std::string(line, static_cast<std::size_t>(n)) : std::string();
}

TEST(SolutionLine, ExactColumns) {
  // GPS week 2400, 100.25 s = 2026-01-04 00:01:40.25 GPST = 00:01:22.250 UTC (18 leap seconds).
  const sol_t s = solution_at(100.25);
  const std::string l = format_line(s, 42, 26.5);
  // EPOCH, DATE (9+1+2+1+2), UTC (3+2+1+2+1+6), STATUS, AGE, RATIO (37.5 capped);
  // LAT, LON, ALT checked below; X, Y, Z, BASELINE; the line end.
  ASSERT_EQ(l.size(), 13u * 15u + 1u) << l;
  EXPECT_EQ(l.substr(0, 90),
            "             42     2026/01/04   00:01:22.250            FIX           1.25          10.00");
  EXPECT_EQ(l.substr(135), "   -3749943.517    3683398.239    3600629.530         26.500\n");
  // LAT/LON/ALT agree with X/Y/Z to the printed precision (1e-8 degree is about 1 mm).
  const double pos[3] = {std::stod(l.substr(90, 15)) * D2R, std::stod(l.substr(105, 15)) * D2R,
                         std::stod(l.substr(120, 15))};
  double xyz[3];
  pos2ecef(pos, xyz);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(xyz[i], s.rr[i], 0.003) << i;
}

// One column of the line for a solution: its start, width and right-aligned text.
struct ColumnCase {
  const char* name;
  sol_t sol;
  std::size_t at, width;
  const char* text;
};

void PrintTo(const ColumnCase& c, std::ostream* os) { *os << c.name; }

class SolutionColumn : public ::testing::TestWithParam<ColumnCase> {};

TEST_P(SolutionColumn, RightAligned) {
  const ColumnCase& c = GetParam();
  const std::string l = format_line(c.sol, 1, 0.0);
  ASSERT_GE(l.size(), c.at + c.width);
  EXPECT_EQ(l.substr(c.at, c.width), std::string(c.width - std::string(c.text).size(), ' ') + c.text);
}

INSTANTIATE_TEST_SUITE_P(
    SolutionLine, SolutionColumn,
    ::testing::Values(ColumnCase{"status_fix", solution_at(100.0, SOLQ_FIX), 45, 15, "FIX"},
                      ColumnCase{"status_float", solution_at(100.0, SOLQ_FLOAT), 45, 15, "FLOAT"},
                      ColumnCase{"status_single", solution_at(100.0, SOLQ_SINGLE), 45, 15, "SINGLE"},
                      ColumnCase{"status_none", solution_at(100.0, SOLQ_NONE), 45, 15, "NONE"},
                      ColumnCase{"status_dgps", solution_at(100.0, SOLQ_DGPS), 45, 15, "NONE"},
                      ColumnCase{"status_sbas", solution_at(100.0, SOLQ_SBAS), 45, 15, "NONE"},
                      ColumnCase{"status_out_of_range_200", solution_at(100.0, 200), 45, 15, "NONE"},
                      ColumnCase{"age_rounding_residue_is_not_negative_zero", solution_at(100.0, SOLQ_FIX, -1e-6f), 60,
                                 15, "0.00"},
                      // 23:59:59.9996 UTC on 2026-01-03 rounds to 2026/01/04 00:00:00.000.
                      ColumnCase{"seconds_that_round_to_sixty_carry_into_the_minute", solution_at(18.0 - 0.0004), 15,
                                 30, "2026/01/04   00:00:00.000"}),
    [](const ::testing::TestParamInfo<ColumnCase>& info) { return std::string(info.param.name); });

}  // namespace
