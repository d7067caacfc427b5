// Helpers shared by the tests: temporary directories, running the program,
// pseudo-terminal pairs.
#pragma once

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
void write_file(const std::string& path, const std::vector<unsigned char>& bytes);
bool file_exists(const std::string& path);
std::string read_text(const std::string& path);

// Read from fd until `want` bytes arrived or timeout_ms passed.
std::vector<unsigned char> read_fd(int fd, std::size_t want, int timeout_ms);

}  // namespace talon_test
