// Output files that cannot be written: the program says so once on stderr
// (file and reason), stops and exits with 4; a run that cannot start leaves
// the previous recording untouched. Full disk is /dev/full behind a symlink
// (writes fail with ENOSPC); a file that cannot be created is a directory of
// that name, or a read-only working directory (the program then runs as
// "nobody" when the test runs as root, who could write there anyway).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "host/host.h"
#include "test_util.h"

namespace {

using namespace talon_test;
using Bytes = std::vector<unsigned char>;

enum class Drive {
  UNATTENDED,  // nothing on its ports: ends by itself
  RTK_RT,      // real-time RTK: rover bytes fed on the pty until the program ends
  LOGGING,     // navigation logging: the RTC handshake answered, 16 KiB of link noise, then finish.txt
};
enum class Setup {
  DIRECTORY,  // `file` is a directory
  DEV_FULL,   // `file` is a symlink to /dev/full
  READ_ONLY,  // the working directory is read-only
  PREVIOUS,   // `file` holds an earlier recording that must stay as it was
};

struct FaultCase {
  const char* name;
  Drive drive;
  Setup setup;
  const char* file;               // the file of the setup
  std::vector<std::string> args;  // "PTY": the pseudo-terminal; "@DATA@/": the project's data/
  int exit_code;
  std::string err_line;  // the one "talonhost: " line on stderr ("": none)
  std::vector<std::string> out_has = {};
  std::vector<std::string> out_lacks = {};
  int geo_lines_below = -1;  // Geotagging_sol.txt holds fewer solution lines
                             // (the run stopped early)
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

constexpr uid_t NOBODY = 65534;

// RTC report: week 1, 5 s, sub-second count 1000.
const Bytes RTC_FRAME = {0x4A, 0x58, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x03, 0xE8, 0xF3};
const Bytes HOSTBASE_INIT = {0x4A, 0x58, 0x0F, 0x1D};

// Exit status of a child that cannot reach the program or its directory.
constexpr int NOT_REACHABLE = 125;

// Start the program in dir (stdout, stderr to io/out, io/err), as "nobody" when
// asked and running as root.
int spawn_as(const std::string& dir, const std::string& io, const std::vector<std::string>& args, bool nobody) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int in = open("/dev/null", O_RDONLY);
  const int fo = open((io + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int fe = open((io + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(in, 0);
  dup2(fo, 1);
  dup2(fe, 2);
  if (nobody && geteuid() == 0 && (setgid(NOBODY) != 0 || setuid(NOBODY) != 0)) _exit(126);
  // A checkout under a private home directory is out of reach of "nobody".
  if (access(TALONHOST_EXE, X_OK) != 0 || chdir(dir.c_str()) != 0) _exit(NOT_REACHABLE);
  std::vector<char*> argv = {const_cast<char*>(TALONHOST_EXE)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(TALONHOST_EXE, argv.data());
  _exit(127);
}

class OutputFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(OutputFault, OneMessageAndExitCode) {
  const FaultCase& c = GetParam();
  TempDir d, io;
  Pty pty;
  const Bytes previous = {0x78, 0x56, 0x34, 0x12, 0x00, 0x02, 0xAB, 0xCD};
  const std::string f = d.file(c.file);
  if (c.setup == Setup::DIRECTORY) {
    ASSERT_EQ(mkdir(f.c_str(), 0755), 0);
  }
  if (c.setup == Setup::DEV_FULL) {
    ASSERT_EQ(symlink("/dev/full", f.c_str()), 0);
  }
  if (c.setup == Setup::PREVIOUS) write_file(f, previous);
  if (c.setup == Setup::READ_ONLY) {
    ASSERT_EQ(chmod(d.path().c_str(), 0555), 0);
  }
  std::vector<std::string> args = c.args;
  for (std::string& a : args) {
    if (a == "PTY") a = pty.slave_path;
    if (a.rfind("@DATA@/", 0) == 0) a = std::string(TALON_SOURCE_DIR) + "/data/" + a.substr(7);
  }

  const int pid = spawn_as(d.path(), io.path(), args, c.setup == Setup::READ_ONLY);
  // 16 KiB in small chunks: more than the stdio buffer of rb.bin or log_data.dat.
  auto feed = [&pty]() {
    const Bytes chunk(128, 0x00);
    for (int i = 0; i < 128; ++i) {
      write_all(pty.master, chunk.data(), chunk.size());
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  };
  if (c.drive == Drive::RTK_RT) feed();
  if (c.drive == Drive::LOGGING) {
    EXPECT_EQ(read_fd(pty.master, 4, 5000), HOSTBASE_INIT);
    write_all(pty.master, RTC_FRAME.data(), RTC_FRAME.size());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    feed();
    write_file(d.file("finish.txt"), {});  // ends a run that got past its start
  }
  // Every case ends by itself; a run still going after the time-out fails here.
  const int rc = wait_talonhost(pid, c.drive == Drive::UNATTENDED ? 60 : 20);
  chmod(d.path().c_str(), 0755);
  if (rc == NOT_REACHABLE) GTEST_SKIP() << "the program or the test directory is out of reach of the user nobody";
  const std::string out = read_text(io.file("out")), err = read_text(io.file("err"));

  EXPECT_EQ(rc, c.exit_code) << out << err;
  if (c.err_line.empty()) {
    EXPECT_EQ(count_of(err, "talonhost: "), 0) << err;
  } else {
    EXPECT_EQ(count_of(err, "talonhost: "), 1) << err;
    EXPECT_NE(err.find(c.err_line + "\n"), std::string::npos) << err;
    EXPECT_EQ(err.find("RTK summary"), std::string::npos) << err;  // a stopped run has none
  }
  for (const std::string& s : c.out_has) EXPECT_NE(out.find(s), std::string::npos) << s << "\n" << out;
  for (const std::string& s : c.out_lacks) EXPECT_EQ(out.find(s), std::string::npos) << s << "\n" << out;
  if (c.setup == Setup::PREVIOUS) {
    EXPECT_EQ(read_file(f), previous) << c.file;
  }
  if (c.geo_lines_below >= 0) {
    const SolFile geo = read_sol_file(d.file("Geotagging_sol.txt"));
    EXPECT_TRUE(geo.header_ok);
    EXPECT_LT(static_cast<int>(geo.lines.size()), c.geo_lines_below);
  }
}

const std::vector<std::string> STATIC = {"--rover-file", "@DATA@/sample-static/r.bin", "--base-file",
                                         "@DATA@/sample-static/b.bin"};
const std::vector<std::string> LOGGING = {"--rtk-mode", "0", "--mode", "0", "--port", "PTY", "--do-kml-output", "0"};

INSTANTIATE_TEST_SUITE_P(
    Cases, OutputFault,
    ::testing::Values(
        // A start that fails at a port leaves the previous recording as it was.
        FaultCase{"rtk_rover_port_missing_keeps_rb_bin",
                  Drive::UNATTENDED,
                  Setup::PREVIOUS,
                  "rb.bin",
                  {"--mode", "0", "--port", "/nonexistent/ttyUSB9"},
                  HOST_EXIT_START,
                  "",
                  {"Open serial port 1 is failed ..\n"}},
        FaultCase{"rtk_base_port_missing_keeps_rb_bin",
                  Drive::UNATTENDED,
                  Setup::PREVIOUS,
                  "rb.bin",
                  {"--mode", "0", "--port", "PTY", "--base-port", "/nonexistent/ttyUSB9"},
                  HOST_EXIT_START,
                  "",
                  {"Open serial port 2 is failed ..\n"}},
        // File RTK: Normal_sol.txt cannot be created, or the disk fills up
        // mid-run.
        FaultCase{"normal_sol_is_a_directory", Drive::UNATTENDED, Setup::DIRECTORY, "Normal_sol.txt", STATIC,
                  HOST_EXIT_OUTPUT_FAULT, "talonhost: Normal_sol.txt: cannot create: Is a directory"},
        FaultCase{"geotagging_sol_is_a_directory", Drive::UNATTENDED, Setup::DIRECTORY, "Geotagging_sol.txt", STATIC,
                  HOST_EXIT_OUTPUT_FAULT, "talonhost: Geotagging_sol.txt: cannot create: Is a directory"},
        // The KML files are created first; the first that fails is named.
        FaultCase{"read_only_directory", Drive::UNATTENDED, Setup::READ_ONLY, "", STATIC, HOST_EXIT_OUTPUT_FAULT,
                  "talonhost: output.kml: cannot create: Permission denied"},
        // 300 epochs, 100 of them geotagging: the run stops at the first failed
        // write of Normal_sol.txt, within its first few dozen epochs.
        FaultCase{"normal_sol_disk_full",
                  Drive::UNATTENDED,
                  Setup::DEV_FULL,
                  "Normal_sol.txt",
                  {"--rover-file", "@DATA@/sample-moving-5hz/r.bin", "--base-file", "@DATA@/sample-moving-5hz/b.bin"},
                  HOST_EXIT_OUTPUT_FAULT,
                  "talonhost: Normal_sol.txt: cannot write: No space left on device",
                  {},
                  {},
                  50},
        // Real-time RTK: rb.bin fills the disk; the run closes down by itself.
        FaultCase{"rb_bin_disk_full",
                  Drive::RTK_RT,
                  Setup::DEV_FULL,
                  "rb.bin",
                  {"--mode", "0", "--port", "PTY"},
                  HOST_EXIT_OUTPUT_FAULT,
                  "talonhost: rb.bin: cannot write: No space left on device",
                  {"Start in real time mode....\n"}},
        // Logging: the files of the start, and the start-up image saved at the
        // end.
        FaultCase{"rtc_data_is_a_directory",
                  Drive::LOGGING,
                  Setup::DIRECTORY,
                  "rtc_data.dat",
                  LOGGING,
                  HOST_EXIT_OUTPUT_FAULT,
                  "talonhost: rtc_data.dat: cannot create: Is a directory",
                  {"wait rtc count = "},
                  {"Save initilize files"}},
        FaultCase{"log_data_is_a_directory",
                  Drive::LOGGING,
                  Setup::DIRECTORY,
                  "log_data.dat",
                  LOGGING,
                  HOST_EXIT_OUTPUT_FAULT,
                  "talonhost: log_data.dat: cannot create: Is a directory",
                  {"wait rtc count = "},
                  {"Save initilize files"}},
        // The link log fills the disk: the run stops; its start-up images are still saved.
        FaultCase{"log_data_disk_full",
                  Drive::LOGGING,
                  Setup::DEV_FULL,
                  "log_data.dat",
                  LOGGING,
                  HOST_EXIT_OUTPUT_FAULT,
                  "talonhost: log_data.dat: cannot write: No space left on device",
                  {"wait rtc count = ", "Save initilize files...\n"}},
        FaultCase{"log_save_is_a_directory",
                  Drive::LOGGING,
                  Setup::DIRECTORY,
                  "log_save.dat",
                  LOGGING,
                  HOST_EXIT_OUTPUT_FAULT,
                  "talonhost: log_save.dat: cannot create: Is a directory",
                  {"wait rtc count = "},
                  {"Save initilize files"}},
        FaultCase{"flash_save_disk_full",
                  Drive::LOGGING,
                  Setup::DEV_FULL,
                  "flash_save.alm",
                  LOGGING,
                  HOST_EXIT_OUTPUT_FAULT,
                  "talonhost: flash_save.alm: cannot write: No space left on device",
                  {"wait rtc count = "},
                  {"Save initilize files"}}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

}  // namespace
