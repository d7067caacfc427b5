// File RTK on hostile input and when it is stopped: every row is a short
// reproduction run as a program, with its expected exit code and stderr.
//   HostileInput/FileRtk.Case/<name>: damaged or mismatched inputs (flipped
//     CRVRAW bytes, empty or garbage base, a recording read with the wrong
//     --is-rtcm, RINEX without GPS observation types or with absurd values)
//     and a KML file name that is a directory.
//   Interrupt/FileRtk.Case/<signal>_<input>: SIGINT, SIGTERM and SIGHUP during
//     a CRVRAW, RINEX and recording run: exit 5, solution files of whole
//     lines, KML files closed, the summary and the interruption on stderr.
// A run is held in mid-run by making Normal_sol.txt a FIFO with a one-page
// buffer that the test reads: the program blocks in its writes until the test
// drains the FIFO, so the signal always arrives before the input has been read.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "host/host.h"
#include "rtk/sim_scenario.h"
#include "test_util.h"

namespace {

using namespace talon_test;
using Bytes = std::vector<unsigned char>;

// ---------------------------------------------------------------------------
// Inputs, made once per test binary
// ---------------------------------------------------------------------------
std::string data_file(const std::string& name) { return std::string(TALON_SOURCE_DIR) + "/data/" + name; }

// The static sample pair of data/ (300 epochs at 1 Hz, no geotagging).
const Bytes& static_rover() {
  static const Bytes b = read_file(data_file("sample-static/r.bin"));
  return b;
}
const Bytes& static_base() {
  static const Bytes b = read_file(data_file("sample-static/b.bin"));
  return b;
}

// Every n-th byte (from the first of `from`) inverted.
Bytes flipped(Bytes b, std::size_t from, std::size_t n) {
  for (std::size_t i = from; i < b.size(); i += n) b[i] = static_cast<unsigned char>(~b[i]);
  return b;
}

// A short simulated pair recorded as rb.bin, the base as RTCM 3 MSM7 (rtcm 1)
// or CRVRAW (rtcm 0). flip_base: every 50th base byte inverted.
Bytes sim_recording(bool rtcm, bool flip_base = false) {
  sim_test::Scenario sc(2245, 36000.0, 29.0);
  sc.base_48n().rover_at(2000.0, 50.0, 2.0).noise(0.5, 0.005).seeded(7);
  sc.base_rtcm = rtcm ? 7 : 0;
  sim_test::SimPair p = sim_test::simulate(sc);
  if (flip_base) p.base = flipped(p.base, 25, 50);
  Bytes rb;
  sim_make_rb(p.rover, p.base, p.marks, &rb);
  return rb;
}

// A simulated pair as RINEX 3 (rover and base observation files, GPS
// navigation file): 150 epochs at 1 Hz, more solution lines than the FIFO of
// an interrupt test and the program's stdio buffer hold.
struct RinexSet {
  std::string rover, base, nav;
  int epochs = 0;
};
const RinexSet& rinex_set() {
  static const RinexSet set = [] {
    sim_test::Scenario sc(2300, 200000.0, 149.0);
    sc.base_48n().rover_at(500.0, 50.0, 2.0).noise(0.3, 0.003);
    const sim_test::SimRinex r = sim_test::simulate_rinex(sc);
    return RinexSet{r.rinex.rover_obs, r.rinex.base_obs, r.rinex.nav, r.epochs};
  }();
  return set;
}

// The static sample pair as a recording: 128-byte records, base then rover.
const Bytes& static_recording() {
  static const Bytes rb = [] {
    const Bytes& r = static_rover();
    const Bytes& b = static_base();
    Bytes out;
    auto put = [&out](const Bytes& src, std::size_t from, bool is_base) {
      const std::size_t n = std::min<std::size_t>(128, src.size() - from);
      const Bytes mark = is_base ? Bytes{0x12, 0x34, 0x56, 0x78} : Bytes{0x78, 0x56, 0x34, 0x12};
      out.insert(out.end(), mark.begin(), mark.end());
      out.push_back(static_cast<unsigned char>(n >> 8));
      out.push_back(static_cast<unsigned char>(n & 0xFF));
      out.insert(out.end(), src.begin() + static_cast<long>(from), src.begin() + static_cast<long>(from + n));
    };
    for (std::size_t i = 0; i < r.size() || i < b.size(); i += 128) {
      if (i < b.size()) put(b, i, true);
      if (i < r.size()) put(r, i, false);
    }
    return out;
  }();
  return rb;
}

// Pseudo-random bytes (fixed seed).
Bytes garbage(std::size_t n) {
  Bytes b(n);
  unsigned int x = 12345U;
  for (auto& c : b) {
    x = x * 1103515245U + 12345U;
    c = static_cast<unsigned char>(x >> 16);
  }
  return b;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// RINEX observation text with the first satellite line of every epoch given
// `value` (14 columns) as its pseudorange; *n gets the count of changed lines.
std::string first_pr_set(std::string obs, const char* value, int* n) {
  *n = 0;
  for (std::size_t at = obs.find("\n> "); at != std::string::npos; at = obs.find("\n> ", at + 1)) {
    const std::size_t sat_line = obs.find('\n', at + 1) + 1;
    obs.replace(sat_line + 3, 14, value);
    ++*n;
  }
  return obs;
}

std::string replaced(std::string s, const std::string& from, const std::string& to) {
  const std::size_t at = s.find(from);
  if (at != std::string::npos) s.replace(at, from.size(), to);
  return s;
}

// ---------------------------------------------------------------------------
// Running the program, held in mid-run when it is to be signalled
// ---------------------------------------------------------------------------
struct Outcome {
  int exit_code = -1;
  std::string out, err;
  std::string normal;  // Normal_sol.txt as written (drained from the FIFO in a signalled run)
};

// Runs the program in dir. With sig 0 it runs to its end. Otherwise
// Normal_sol.txt is a FIFO of one page: the test reads the header and a first
// solution line, sends sig, then reads the rest until the program closes it.
Outcome run_program(const TempDir& d, const std::vector<std::string>& args, int sig) {
  Outcome o;
  if (sig == 0) {
    const RunResult r = run_talonhost(d.path(), args);
    o.exit_code = r.exit_code;
    o.out = r.out;
    o.err = r.err;
    o.normal = read_text(d.file("Normal_sol.txt"));
    return o;
  }
  const std::string fifo = d.file("Normal_sol.txt");
  EXPECT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  const int fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  EXPECT_GE(fd, 0);
  fcntl(fd, F_SETPIPE_SZ, 4096);
  TempDir io;
  const int pid = spawn_program(d.path(), TALONHOST_EXE, args, io.file("out"), io.file("err"));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  bool signalled = false;
  char buf[4096];
  while (std::chrono::steady_clock::now() < deadline) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      o.normal.append(buf, static_cast<std::size_t>(n));
      if (!signalled && count_of(o.normal, "\n") >= 2) {  // the header and a solution line
        kill(pid, sig);
        signalled = true;
      }
      continue;
    }
    if (n == 0 && !o.normal.empty()) break;  // the program closed the file
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  close(fd);
  EXPECT_TRUE(signalled) << "no solution line within 20 s";
  o.exit_code = wait_talonhost(pid, 20);
  o.out = read_text(io.file("out"));
  o.err = read_text(io.file("err"));
  return o;
}

// The solution lines of a file's text (each line whole and parseable); false
// with a failure otherwise.
bool whole_lines(const TempDir& d, const std::string& name, const std::string& content, std::size_t* n_lines) {
  const std::string copy = d.file(name + ".copy");
  write_file(copy, text(content));
  const SolFile f = read_sol_file(copy);
  EXPECT_TRUE(f.header_ok) << name;
  EXPECT_TRUE(f.bad_lines.empty()) << name << ": " << (f.bad_lines.empty() ? "" : f.bad_lines[0]);
  EXPECT_TRUE(!content.empty() && content.back() == '\n') << name << " does not end with a line end";
  *n_lines = f.lines.size();
  return f.header_ok && f.bad_lines.empty();
}

// ---------------------------------------------------------------------------
// Hostile input
// ---------------------------------------------------------------------------
struct HostileCase {
  const char* name;
  std::function<void(const TempDir&)> setup;  // writes the inputs into the directory
  std::vector<std::string> args;
  int exit_code;
  std::vector<std::string> err_has;  // "@N@" stands for absurd_pr_lines()
  std::vector<std::string> err_lacks = {};
};
void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

void static_pair(const TempDir& d) {
  write_file(d.file("r.bin"), static_rover());
  write_file(d.file("b.bin"), static_base());
}

void rinex_files(const TempDir& d, const std::string& rover) {
  write_file(d.file("rover.obs"), text(rover));
  write_file(d.file("base.obs"), text(rinex_set().base));
  write_file(d.file("gps.nav"), text(rinex_set().nav));
}
// The RINEX set with the rover's GPS observation types line replaced by `types`.
std::function<void(const TempDir&)> rover_types(const char* types) {
  return [types](const TempDir& d) { rinex_files(d, replaced(rinex_set().rover, "G    4 C1C L1C D1C S1C", types)); };
}

// rb.bin: sim_recording(rtcm, flip_base).
std::function<void(const TempDir&)> recording(bool rtcm, bool flip_base = false) {
  return [rtcm, flip_base](const TempDir& d) { write_file(d.file("rb.bin"), sim_recording(rtcm, flip_base)); };
}

const std::vector<std::string> RINEX_ARGS = {"--rover-rinex", "rover.obs", "--base-rinex",
                                             "base.obs",      "--nav",     "gps.nav"};

int absurd_pr_lines() {
  int n = 0;
  first_pr_set(rinex_set().rover, "      -1.0E+11", &n);
  return n;
}

class FileRtk : public ::testing::TestWithParam<HostileCase> {};

TEST_P(FileRtk, Case) {
  const HostileCase& c = GetParam();
  TempDir d;
  c.setup(d);
  const Outcome o = run_program(d, c.args, 0);
  EXPECT_EQ(o.exit_code, c.exit_code) << o.err;
  for (std::string s : c.err_has) {
    for (std::size_t at = s.find("@N@"); at != std::string::npos; at = s.find("@N@"))
      s.replace(at, 3, std::to_string(absurd_pr_lines()));
    EXPECT_NE(o.err.find(s), std::string::npos) << s << "\n" << o.err;
  }
  for (const std::string& s : c.err_lacks) EXPECT_EQ(o.err.find(s), std::string::npos) << s << "\n" << o.err;
  // Whatever the input, a solution file that was written holds whole lines.
  if (!o.normal.empty()) {
    std::size_t n = 0;
    whole_lines(d, "Normal_sol.txt", o.normal, &n);
  }
}

INSTANTIATE_TEST_SUITE_P(
    HostileInput, FileRtk,
    ::testing::Values(
        // 10 % of the rover bytes inverted: hardly a frame survives; the drops
        // are counted by kind, and a rover without epochs is an input fault.
        HostileCase{"crvraw_rover_ten_percent_flipped",
                    [](const TempDir& d) {
                      write_file(d.file("r.bin"), flipped(static_rover(), 3, 10));
                      write_file(d.file("b.bin"), static_base());
                    },
                    {},
                    HOST_EXIT_INPUT_FAULT,
                    {"talonhost: r.bin: ", " CRVRAW frames dropped (", " checksum, ", " length)\n",
                     " bytes outside CRVRAW frames skipped\n", "talonhost: r.bin: no rover epoch\n"}},
        // A few inverted bytes: the frames they hit are dropped and counted;
        // the run completes.
        HostileCase{"crvraw_rover_few_flipped",
                    [](const TempDir& d) {
                      write_file(d.file("r.bin"), flipped(static_rover(), 1000, 20011));
                      write_file(d.file("b.bin"), static_base());
                    },
                    {},
                    HOST_EXIT_OK,
                    {"RTK summary: ", "talonhost: r.bin: ", " CRVRAW frames dropped ("},
                    {"no usable base"}},
        HostileCase{"empty_base",
                    [](const TempDir& d) {
                      write_file(d.file("r.bin"), static_rover());
                      write_file(d.file("b.bin"), {});
                    },
                    {},
                    HOST_EXIT_INPUT_FAULT,
                    {"RTK summary: 300 epochs", "talonhost: b.bin: no usable base epoch; every solution is SINGLE\n"}},
        HostileCase{"garbage_base",
                    [](const TempDir& d) {
                      write_file(d.file("r.bin"), static_rover());
                      write_file(d.file("b.bin"), garbage(static_base().size()));
                    },
                    {},
                    HOST_EXIT_INPUT_FAULT,
                    {"RTK summary: 300 epochs", "talonhost: b.bin: ", " bytes outside CRVRAW frames skipped\n",
                     "talonhost: b.bin: no usable base epoch; every solution is SINGLE\n"}},
        // The rover cut inside a frame: the epochs before the cut are solved.
        HostileCase{"crvraw_rover_cut_inside_a_frame",
                    [](const TempDir& d) {
                      const Bytes& r = static_rover();
                      write_file(d.file("r.bin"), Bytes(r.begin(), r.begin() + 20000));
                      write_file(d.file("b.bin"), static_base());
                    },
                    {},
                    HOST_EXIT_OK,
                    {"RTK summary: 36 epochs", "talonhost: r.bin: last CRVRAW frame cut short (159 bytes)\n"}},
        // The base ends after its first 100 epochs: the later rover epochs have
        // none within 30 s.
        HostileCase{
            "base_ends_early",
            [](const TempDir& d) {
              write_file(d.file("r.bin"), static_rover());
              const Bytes& b = static_base();
              write_file(d.file("b.bin"), Bytes(b.begin(), b.begin() + static_cast<long>(b.size() / 3)));
            },
            {},
            HOST_EXIT_OK,
            {"RTK summary: 300 epochs", "talonhost: b.bin: ", " rover epochs without a base epoch within 30 s\n"},
            {"no usable base"}},
        HostileCase{
            "recording_rtcm_read_as_crvraw",
            recording(true),
            {"--rb-file", "rb.bin", "--is-rtcm", "0"},
            HOST_EXIT_INPUT_FAULT,
            {"RTK summary: 30 epochs", "talonhost: rb.bin: the base stream looks like RTCM 3; try --is-rtcm 1\n",
             "no usable base epoch"}},
        HostileCase{
            "recording_crvraw_read_as_rtcm",
            recording(false),
            {"--rb-file", "rb.bin", "--is-rtcm", "1"},
            HOST_EXIT_INPUT_FAULT,
            {"RTK summary: 30 epochs", "talonhost: rb.bin: the base stream looks like CRVRAW; try --is-rtcm 0\n",
             "no usable base epoch"}},
        HostileCase{"recording_rtcm_right",
                    recording(true),
                    {"--rb-file", "rb.bin", "--is-rtcm", "1"},
                    HOST_EXIT_OK,
                    {"RTK summary: 30 epochs", "Recording: 0 records too long for the reader\n"},
                    {"try --is-rtcm", "dropped", "no usable"}},
        HostileCase{"recording_rtcm_bad_crc",
                    recording(true, true),
                    {"--rb-file", "rb.bin", "--is-rtcm", "1"},
                    HOST_EXIT_INPUT_FAULT,
                    {"RTK summary: 30 epochs", "talonhost: rb.bin (base): ", " RTCM 3 frames dropped (bad CRC)\n"}},
        // A GPS MSM7 frame (type 1077) of 4 bytes with a good CRC: too short for its header.
        HostileCase{
            "recording_rtcm_short_message",
            [](const TempDir& d) {
              Bytes rb = sim_recording(true);
              const U08 msg[4] = {0x43, 0x50, 0x01, 0x02};
              U08 frame[16];
              const int n = sim_rtcm_frame(msg, 4, frame);
              const Bytes rec = {0x12, 0x34, 0x56, 0x78, 0x00, static_cast<U08>(n)};
              rb.insert(rb.end(), rec.begin(), rec.end());
              rb.insert(rb.end(), frame, frame + n);
              write_file(d.file("rb.bin"), rb);
            },
            {"--rb-file", "rb.bin", "--is-rtcm", "1"},
            HOST_EXIT_OK,
            {"RTK summary: 30 epochs",
             "talonhost: rb.bin (base): 1 RTCM 3 messages dropped (0 time off, 1 too short, 0 too many cells, 0 "
             "epoch full)\n"}},
        HostileCase{"rinex3_rover_only_glonass_types",
                    rover_types("R    4 C1C L1C D1C S1C"),
                    RINEX_ARGS,
                    HOST_EXIT_INPUT_FAULT,
                    {"talonhost: rover.obs: no usable GPS observation types (C1C/L1C)\n"}},
        HostileCase{"rinex3_rover_without_c1c",
                    rover_types("G    4 C5Q L1C D1C S1C"),
                    RINEX_ARGS,
                    HOST_EXIT_INPUT_FAULT,
                    {"talonhost: rover.obs: no usable GPS observation types (C1C/L1C)\n"}},
        // Code without carrier phase: the run goes on and says what it lacks.
        HostileCase{"rinex3_rover_without_l1c",
                    rover_types("G    4 C1C L5Q D1C S1C"),
                    RINEX_ARGS,
                    HOST_EXIT_OK,
                    {"talonhost: rover.obs: no GPS carrier phase type (L1C): GPS gives code solutions only\n",
                     "RTK summary: 150 epochs"}},
        HostileCase{"rinex3_absurd_pseudorange",
                    [](const TempDir& d) {
                      int n = 0;
                      rinex_files(d, first_pr_set(rinex_set().rover, "      -1.0E+11", &n));
                    },
                    RINEX_ARGS,
                    HOST_EXIT_OK,
                    {"RTK summary: 150 epochs",
                     "talonhost: rover.obs: @N@ observation values out of range dropped (@N@ pseudorange, 0 carrier"}},
        HostileCase{"kml_is_a_directory",
                    [](const TempDir& d) {
                      static_pair(d);
                      mkdir(d.file("output.kml").c_str(), 0755);
                    },
                    {},
                    HOST_EXIT_OUTPUT_FAULT,
                    {"talonhost: output.kml: cannot create: Is a directory\n"},
                    {"RTK summary"}},
        HostileCase{"fixmode_kml_is_a_directory",
                    [](const TempDir& d) {
                      static_pair(d);
                      mkdir(d.file("fixmode-x.kml").c_str(), 0755);
                    },
                    {"-app", "-x"},
                    HOST_EXIT_OUTPUT_FAULT,
                    {"talonhost: fixmode-x.kml: cannot create: Is a directory\n"},
                    {"RTK summary"}}),
    talon_test::CaseName());

// ---------------------------------------------------------------------------
// SIGINT, SIGTERM and SIGHUP over the three inputs
// ---------------------------------------------------------------------------
struct InterruptCase {
  const char* name;
  int sig;
  int input;   // 0 CRVRAW pair, 1 RINEX, 2 recording
  int epochs;  // epochs of the whole input
};
void PrintTo(const InterruptCase& c, std::ostream* os) { *os << c.name; }

class Interrupt : public ::testing::TestWithParam<InterruptCase> {};

TEST_P(Interrupt, Case) {
  const InterruptCase& c = GetParam();
  TempDir d;
  std::vector<std::string> args;
  if (c.input == 0) static_pair(d);
  if (c.input == 1) {
    rinex_files(d, rinex_set().rover);
    args = RINEX_ARGS;
  }
  if (c.input == 2) {
    write_file(d.file("rb.bin"), static_recording());
    args = {"--rb-file", "rb.bin"};
  }
  const Outcome o = run_program(d, args, c.sig);
  EXPECT_EQ(o.exit_code, HOST_EXIT_INTERRUPTED) << o.err;
  std::size_t n_normal = 0, n_geo = 0;
  whole_lines(d, "Normal_sol.txt", o.normal, &n_normal);
  whole_lines(d, "Geotagging_sol.txt", read_text(d.file("Geotagging_sol.txt")), &n_geo);
  // The run stopped early, at an epoch boundary: every solved epoch is a line.
  EXPECT_GT(n_normal, 0u);
  EXPECT_LT(static_cast<int>(n_normal), c.epochs);
  EXPECT_EQ(n_geo, 0u);
  const std::string n = std::to_string(n_normal);
  EXPECT_NE(o.err.find("RTK summary: " + n + " epochs"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("talonhost: RTK run interrupted after " + n + " epochs\n"), std::string::npos) << o.err;
  EXPECT_EQ(count_of(o.err, "talonhost: "), 1) << o.err;  // good input: nothing else to say
  // A file RTK run writes no track: its KML files are not left behind, interrupted or not.
  for (const char* kml : {"output.kml", "fixmode.kml"}) EXPECT_FALSE(talon_test::file_exists(d.file(kml))) << kml;
}

INSTANTIATE_TEST_SUITE_P(
    FileRtk, Interrupt,
    ::testing::Values(InterruptCase{"sigint_crvraw", SIGINT, 0, 300}, InterruptCase{"sigterm_crvraw", SIGTERM, 0, 300},
                      InterruptCase{"sighup_crvraw", SIGHUP, 0, 300}, InterruptCase{"sigint_rinex", SIGINT, 1, 150},
                      InterruptCase{"sigterm_rinex", SIGTERM, 1, 150}, InterruptCase{"sighup_rinex", SIGHUP, 1, 150},
                      InterruptCase{"sigint_recording", SIGINT, 2, 300},
                      InterruptCase{"sigterm_recording", SIGTERM, 2, 300},
                      InterruptCase{"sighup_recording", SIGHUP, 2, 300}),
    talon_test::CaseName());

}  // namespace
