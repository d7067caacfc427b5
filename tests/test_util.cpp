#include "test_util.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace talon_test {

TempDir::TempDir() {
  char tmpl[] = "/tmp/talon_test_XXXXXX";
  const char* p = mkdtemp(tmpl);
  if (p == nullptr) std::abort();
  path_ = p;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

int spawn_program(const std::string& dir, const std::string& exe, const std::vector<std::string>& args,
                  const std::string& out, const std::string& err) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (chdir(dir.c_str()) != 0) _exit(127);
  const int in = open("/dev/null", O_RDONLY);
  const int fo = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int fe = err == out ? fo : open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(in, 0);
  dup2(fo, 1);
  dup2(fe, 2);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(exe.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(exe.c_str(), argv.data());
  _exit(127);
}

namespace {

pid_t start(const std::string& dir, const std::vector<std::string>& args, const std::string& out,
            const std::string& err) {
  return spawn_program(dir, TALONHOST_EXE, args, out, err);
}

}  // namespace

int wait_talonhost(int pid, int timeout_s) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
  int status = 0;
  for (;;) {
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int spawn_talonhost(const std::string& dir, const std::vector<std::string>& args) {
  return start(dir, args, dir + "/out", dir + "/err");
}

RunResult run_talonhost(const std::string& dir, const std::vector<std::string>& args, int timeout_s) {
  char tmpl[] = "/tmp/talon_run_XXXXXX";
  const char* io = mkdtemp(tmpl);
  if (io == nullptr) std::abort();
  const std::string out = std::string(io) + "/out", err = std::string(io) + "/err";
  RunResult r;
  r.exit_code = wait_talonhost(start(dir, args, out, err), timeout_s);
  r.out = read_text(out);
  r.err = read_text(err);
  std::error_code ec;
  std::filesystem::remove_all(io, ec);
  return r;
}

Pty::Pty() {
  int slave = -1;
  char name[256];
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) std::abort();
  termios tio{};
  tcgetattr(slave, &tio);
  cfmakeraw(&tio);
  tcsetattr(slave, TCSANOW, &tio);
  tcgetattr(master, &tio);
  cfmakeraw(&tio);
  tcsetattr(master, TCSANOW, &tio);
  // Keep the slave open here as well so that the master never sees a hang-up
  // between the program's open and close of the device.
  slave_path = name;
  slave_keep_ = slave;
}

Pty::~Pty() {
  if (master >= 0) close(master);
  if (slave_keep_ >= 0) close(slave_keep_);
}

std::vector<unsigned char> read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool file_exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

std::string read_text(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::vector<unsigned char> read_fd(int fd, std::size_t want, int timeout_ms) {
  std::vector<unsigned char> got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (got.size() < want) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    unsigned char buf[4096];
    const ssize_t n = read(fd, buf, std::min(sizeof buf, want - got.size()));
    if (n <= 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    got.insert(got.end(), buf, buf + n);
  }
  return got;
}

std::string case_name(const std::string& text) {
  std::string n;
  for (const char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c)) != 0)
      n += c;
    else if (!n.empty() && n.back() != '_')
      n += '_';
  }
  while (!n.empty() && n.back() == '_') n.pop_back();
  return n.empty() ? "case" : n;
}

std::string shared_data_root() {
  const char* env = std::getenv("TALON_SHARED_DATA");
  return (env != nullptr && *env != '\0') ? std::string(env) : std::string(TALON_SHARED_DATA);
}

std::string shared_data(const std::string& set) {
  const std::string p = shared_data_root() + "/" + set;
  if (!file_exists(p)) return "";
  return std::filesystem::is_directory(p) ? p + "/" : p;
}

const char* const SOL_HEADER =
    "          EPOCH           DATE            UTC         STATUS    AGE_OF_DIFF          RATIO            LAT"
    "            LON            ALT              X              Y              Z       BASELINE";

namespace {

// A right-aligned number of a fixed-width column with `decimals` digits after
// the point (-1: an integer): blanks, then the whole rest is the number.
bool number_field(const std::string& f, int decimals, double* v) {
  std::size_t i = 0;
  while (i < f.size() && f[i] == ' ') ++i;
  if (i == f.size()) return false;
  const std::string t = f.substr(i);
  char* end = nullptr;
  *v = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size()) return false;
  const std::size_t dot = t.find('.');
  if (decimals < 0) return dot == std::string::npos;
  return dot != std::string::npos && t.size() - dot - 1 == static_cast<std::size_t>(decimals);
}

bool digits_at(const std::string& s, std::initializer_list<std::size_t> at) {
  for (std::size_t i : at)
    if (std::isdigit(static_cast<unsigned char>(s[i])) == 0) return false;
  return true;
}

}  // namespace

bool parse_sol_line(const std::string& l, SolLine* out) {
  if (l.size() != 13u * 15u) return false;
  double v = 0;
  if (!number_field(l.substr(0, 15), -1, &v)) return false;
  out->epoch = static_cast<long>(v);
  // date: 9-wide year, '/', 2-digit month, '/', 2-digit day; UTC: 3 blanks, hh:mm:ss.sss
  const std::string d = l.substr(15, 15), u = l.substr(30, 15);
  if (d[9] != '/' || d[12] != '/' || u.substr(0, 3) != "   " || u[5] != ':' || u[8] != ':' || u[11] != '.')
    return false;
  if (!digits_at(d, {10, 11, 13, 14}) || !digits_at(u, {3, 4, 6, 7, 9, 10, 12, 13, 14})) return false;
  out->time = d + u;
  const std::string s = l.substr(45, 15);
  const std::size_t i = s.find_first_not_of(' ');
  if (i == std::string::npos) return false;
  out->status = s.substr(i);
  double* f[] = {&out->age, &out->ratio, &out->lat, &out->lon, &out->alt, &out->x, &out->y, &out->z, &out->baseline};
  constexpr int decimals[9] = {2, 2, 8, 8, 3, 3, 3, 3, 3};
  for (std::size_t k = 0; k < 9; ++k)
    if (!number_field(l.substr(60 + 15 * k, 15), decimals[k], f[k])) return false;
  return true;
}

SolFile read_sol_file(const std::string& path) {
  SolFile f;
  std::istringstream in(read_text(path));
  std::string l;
  if (!std::getline(in, l)) return f;
  f.header_ok = l == SOL_HEADER;
  while (std::getline(in, l)) {
    SolLine p;
    if (parse_sol_line(l, &p))
      f.lines.push_back(p);
    else
      f.bad_lines.push_back(l);
  }
  return f;
}

double sol_dist(const SolLine& l, const double* p) { return std::hypot(l.x - p[0], l.y - p[1], l.z - p[2]); }

int count_of(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

std::vector<std::string> split_csv(const std::string& line) {
  std::vector<std::string> f;
  std::string cur;
  for (const char c : line) {
    if (c == ',') {
      f.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  f.push_back(cur);
  return f;
}

std::vector<std::vector<std::string>> csv_rows(const std::string& path, std::size_t min_fields) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(read_text(path));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f = split_csv(line);
    if (f.size() >= min_fields) rows.push_back(std::move(f));
  }
  return rows;
}

void write_all(int fd, const unsigned char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, p, n);
    if (w <= 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
}

bool split_rb(const std::vector<unsigned char>& rb, std::vector<unsigned char>* rover,
              std::vector<unsigned char>* base) {
  for (std::size_t i = 0; i < rb.size();) {
    if (i + 6 > rb.size()) return false;
    const bool is_base = rb[i] == 0x12 && rb[i + 1] == 0x34 && rb[i + 2] == 0x56 && rb[i + 3] == 0x78;
    const bool is_rover = rb[i] == 0x78 && rb[i + 1] == 0x56 && rb[i + 2] == 0x34 && rb[i + 3] == 0x12;
    const std::size_t n = static_cast<std::size_t>(rb[i + 4]) << 8 | rb[i + 5];
    if ((!is_base && !is_rover) || n == 0 || n > 128 || i + 6 + n > rb.size()) return false;
    std::vector<unsigned char>* to = is_base ? base : rover;
    to->insert(to->end(), rb.begin() + static_cast<long>(i + 6), rb.begin() + static_cast<long>(i + 6 + n));
    i += 6 + n;
  }
  return true;
}

}  // namespace talon_test
