// Helpers shared by the tests: temporary directories, running the program,
// pseudo-terminal pairs, recorded data sets, solution files.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talon_test {

// A fresh directory under /tmp, removed with its content on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct RunResult {
  int exit_code = -1;  // -1 when the process did not exit normally
  std::string out;
  std::string err;
};

// Run talonhost with args in dir; stdin is /dev/null. Kills it after timeout_s.
RunResult run_talonhost(const std::string& dir, const std::vector<std::string>& args, int timeout_s = 60);

// Start exe with args in dir in the background (stdin /dev/null, stdout and
// stderr to the files out and err, relative to dir; they may be the same file);
// returns its pid.
int spawn_program(const std::string& dir, const std::string& exe, const std::vector<std::string>& args,
                  const std::string& out, const std::string& err);
// Start talonhost in the background; returns its pid. Output goes to files out/err in dir.
int spawn_talonhost(const std::string& dir, const std::vector<std::string>& args);
// Wait for a spawned process; returns its exit code (-1 on a signal or timeout).
int wait_talonhost(int pid, int timeout_s);

// A pseudo-terminal pair in raw mode: master fd (the test's end) and slave path.
struct Pty {
  int master = -1;
  std::string slave_path;
  Pty();
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

 private:
  int slave_keep_ = -1;
};

std::vector<unsigned char> read_file(const std::string& path);
// The bytes of each port in a recorder file rb.bin (appended to *rover and
// *base); false when it is not a clean sequence of records (tag 78 56 34 12
// rover or 12 34 56 78 base, 2-byte big-endian length 1..128, the bytes).
bool split_rb(const std::vector<unsigned char>& rb, std::vector<unsigned char>* rover,
              std::vector<unsigned char>* base);
void write_file(const std::string& path, const std::vector<unsigned char>& bytes);
bool file_exists(const std::string& path);
std::string read_text(const std::string& path);

// Read from fd until `want` bytes arrived or timeout_ms passed.
std::vector<unsigned char> read_fd(int fd, std::size_t want, int timeout_ms);

// A gtest parameter name made of a readable case name: every run of other
// characters becomes one '_' ("3.5 s, marine" -> "3_5_s_marine").
std::string case_name(const std::string& text);

// The gtest parameter name of a case with a `name` member (a C string or
// std::string already made of letters, digits and '_'), for
// INSTANTIATE_TEST_SUITE_P.
struct CaseName {
  template <class T>
  std::string operator()(const ::testing::TestParamInfo<T>& info) const {
    return std::string(info.param.name);
  }
};

// Directory of the recorded data sets, read in place and never copied into the
// project: $TALON_SHARED_DATA when that environment variable is set (point it
// elsewhere to check that a clean clone skips these tests), else ../shared/data
// next to the source tree.
std::string shared_data_root();
// The path of a set (a directory, returned with a trailing "/", or a file: e.g.
// "rinex/yamatogawa", "rtcm3/rtcm3-3.rtcm3") when it exists, else "".
std::string shared_data(const std::string& set);

// One line of Normal_sol.txt or Geotagging_sol.txt: 13 right-aligned columns of
// 15 characters. Angles in degrees, heights and ECEF coordinates in m, age in s.
struct SolLine {
  long epoch = 0;
  std::string time;    // date and UTC columns as printed (30 characters)
  std::string status;  // "FIX", "FLOAT", "SINGLE" ... without the padding
  double age = 0, ratio = 0, lat = 0, lon = 0, alt = 0, x = 0, y = 0, z = 0, baseline = 0;
};

// The header line of both solution files.
extern const char* const SOL_HEADER;

// Parses one solution line with its exact columns (date yyyy/mm/dd, UTC
// hh:mm:ss.sss, decimals 2, 2, 8, 8, then 3); false on any deviation.
bool parse_sol_line(const std::string& line, SolLine* out);

struct SolFile {
  bool header_ok = false;              // first line is SOL_HEADER
  std::vector<SolLine> lines;          // the lines that parse, in file order
  std::vector<std::string> bad_lines;  // the lines that do not
};
SolFile read_sol_file(const std::string& path);

// Distance of a solution's X Y Z from the ECEF point p, m.
double sol_dist(const SolLine& l, const double* p);

// Number of occurrences of `what` in `text`.
int count_of(const std::string& text, const std::string& what);

// The comma-separated fields of one CSV line (no quoting; an empty line gives
// one empty field).
std::vector<std::string> split_csv(const std::string& line);

// The rows of the CSV file at path with at least min_fields fields, split;
// empty lines and lines starting with '#' (comments, headers) are skipped.
std::vector<std::vector<std::string>> csv_rows(const std::string& path, std::size_t min_fields);

// Write n bytes to fd, retrying short and failed writes (a pseudo-terminal
// whose queue is full) until all are written.
void write_all(int fd, const unsigned char* p, std::size_t n);

}  // namespace talon_test

// Declares `var` as the path of a recorded data set (see shared_data), or skips
// the test naming the missing set. Use in a test body or a fixture's SetUp.
#define TALON_SHARED_DATA_OR_SKIP(var, set)                                                             \
  const std::string var = ::talon_test::shared_data(set);                                               \
  if (var.empty())                                                                                      \
  GTEST_SKIP() << "recorded data set " << (set) << " absent under " << ::talon_test::shared_data_root() \
               << " (set TALON_SHARED_DATA to its directory)"

namespace talon_test {}  // namespace talon_test
