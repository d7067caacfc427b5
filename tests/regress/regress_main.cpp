// Runner of the expected-output regression cases (tests/regress/<case>/, see
// README.md there) and of the comparator's unit tests.
//   talon_regress --run|--rebuild CASE_DIR TALONHOST SCENARIO_SIM TALON_TARGET DATA_DIR SHARED_DIR
// --run compares the outputs of the case with its expected files: exit 0 when
// they agree, 1 when not, 77 (skip) when an input set is missing. --rebuild
// writes the expected files from the current build. Both then check the
// expected files against the case's truth file. Without --run/--rebuild the
// program runs its GoogleTest tests.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/host.h"
#include "host/wrap.h"
#include "regress_compare.h"

namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

constexpr int PASS = 0, FAIL = 1, SKIP = 77;
constexpr int RUN_TIMEOUT_S = 240;

struct ENV_T {
  std::string case_dir, talonhost, sim, target, data, shared;
  std::string work;     // temporary working directory of the run
  bool replay = false;  // run main in-process with the command sink (navigation replay)
  bool kml = false;     // the KML files are outputs of the case (output.kml, fixmode.kml)
};

std::string read_text(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void write_text(const std::string& path, const std::string& s) { std::ofstream(path, std::ios::binary) << s; }

// Lines of a case file, split into words; '#' comments and blank lines skipped.
// With whole_lines each line is one word (the args file: one argument a line).
std::vector<Args> case_lines(const ENV_T& env, const std::string& name, bool whole_lines) {
  std::vector<Args> v;
  std::istringstream in(read_text(env.case_dir + "/" + name));
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    Args words;
    std::istringstream ws(line);
    if (whole_lines)
      words.push_back(line);
    else
      for (std::string w; ws >> w;) words.push_back(w);
    for (std::string& w : words)
      for (const auto& [key, val] : {std::pair<std::string, std::string>{"@DATA@", env.data},
                                     {"@SHARED@", env.shared},
                                     {"@CASE@", env.case_dir}})
        for (std::size_t p; (p = w.find(key)) != std::string::npos;) w.replace(p, key.size(), val);
    if (!words.empty()) v.push_back(words);
  }
  return v;
}

// --- Running a program -------------------------------------------------------------

// Command frames from the proxy's sink in the replay child: 2-byte length, then the frame.
std::FILE* Sink_fp = nullptr;
void sink_to_file(const U08* frame, int len) {
  std::fputc(len >> 8, Sink_fp);
  std::fputc(len & 0xFF, Sink_fp);
  std::fwrite(frame, 1, static_cast<std::size_t>(len), Sink_fp);
}

// Run exe (or host_main in-process when exe is empty, command sink installed)
// in dir with stdin /dev/null, stdout/stderr to out/err. Returns the exit code,
// -1 on a signal or after RUN_TIMEOUT_S.
int run_in(const std::string& dir, const std::string& exe, const Args& args, const std::string& out,
           const std::string& err) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    dup2(open("/dev/null", O_RDONLY), 0);
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    Args all = {exe.empty() ? "talonhost" : exe};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (!exe.empty()) {
      execv(exe.c_str(), argv.data());
      _exit(127);
    }
    Sink_fp = std::fopen((dir + "/.commands").c_str(), "wb");
    WRAP_install_command_sink(sink_to_file);
    const int rc = host_main(static_cast<int>(all.size()), argv.data());
    std::fflush(nullptr);
    _exit(rc);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(RUN_TIMEOUT_S);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) != pid) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// --- Set-up steps (file "setup", one a line) -----------------------------------------

using STEP_FN = int (*)(ENV_T& env, const Args& a);  // a[0] is the verb; PASS, FAIL or SKIP
struct STEP_T {
  std::string_view verb;
  std::size_t n_args;
  STEP_FN fn;
};

// needs PATH: skip the case when an input set is missing.
int step_needs(ENV_T&, const Args& a) {
  if (fs::exists(a[1])) return PASS;
  std::printf("SKIP: input set %s is missing\n", a[1].c_str());
  return SKIP;
}
// link SRC NAME: symbolic link to an input file under NAME in the working directory.
int step_link(ENV_T& env, const Args& a) {
  std::error_code ec;
  fs::create_symlink(a[1], env.work + "/" + a[2], ec);
  return ec ? FAIL : PASS;
}
// head BYTES SRC NAME: the first BYTES bytes of SRC as NAME (a truncated input).
int step_head(ENV_T& env, const Args& a) {
  const std::string s = read_text(a[2]);
  const std::size_t n = std::stoul(a[1]);
  if (s.size() <= n) return FAIL;
  write_text(env.work + "/" + a[3], s.substr(0, n));
  return PASS;
}
// sim SCENARIO: the scenario simulator's r.bin, b.bin, rb.bin and truth.txt.
int step_sim(ENV_T& env, const Args& a) {
  return run_in(env.work, env.sim, {a[1], env.work}, env.work + "/.sim.out", env.work + "/.sim.err") == 0 ? PASS : FAIL;
}
// target_set EPOCHS: the scripted target's replay set (log_data.dat, log_init.dat, flash.alm, rtc_data.dat).
int step_target_set(ENV_T& env, const Args& a) {
  return run_in(env.work, env.target, {"--write-set", env.work, "--epochs", a[1]}, env.work + "/.tgt.out",
                env.work + "/.tgt.err") == 0
             ? PASS
             : FAIL;
}
// sky SCENARIO: the simulated sky's navigation replay set (log_data.dat, rtc_data.dat, log_init.dat,
// flash.alm, sd_log.dat, truth.csv) of a sky scenario file.
int step_sky(ENV_T& env, const Args& a) {
  return run_in(env.work, env.sim, {"--kernel-set", a[1], env.work}, env.work + "/.sim.out", env.work + "/.sim.err") ==
                 0
             ? PASS
             : FAIL;
}
// kml: output.kml and fixmode.kml are compared as outputs of the case.
int step_kml(ENV_T& env, const Args&) {
  env.kml = true;
  return PASS;
}
// replay: run the program in-process with the target proxy's command sink installed.
int step_replay(ENV_T& env, const Args&) {
  env.replay = true;
  return PASS;
}

constexpr std::array<STEP_T, 8> STEPS = {{{"needs", 2, step_needs},
                                          {"link", 3, step_link},
                                          {"head", 4, step_head},
                                          {"sim", 2, step_sim},
                                          {"target_set", 2, step_target_set},
                                          {"sky", 2, step_sky},
                                          {"kml", 1, step_kml},
                                          {"replay", 1, step_replay}}};

int run_setup(ENV_T& env) {
  for (const Args& a : case_lines(env, "setup", false)) {
    const STEP_T* step = nullptr;
    for (const STEP_T& s : STEPS)
      if (a[0] == s.verb && a.size() == s.n_args) step = &s;
    const int r = step == nullptr ? FAIL : step->fn(env, a);
    if (r != PASS) {
      if (r == FAIL) std::printf("setup step failed: %s\n", a[0].c_str());
      return r;
    }
  }
  return PASS;
}

// --- Outputs of a run ------------------------------------------------------------------

std::string commands_hex(const std::string& raw) {
  std::string out;
  for (std::size_t i = 0; i + 2 <= raw.size();) {
    const std::size_t n = (static_cast<std::size_t>(static_cast<U08>(raw[i])) << 8) | static_cast<U08>(raw[i + 1]);
    char h[3];
    for (std::size_t k = i + 2; k < i + 2 + n && k < raw.size(); ++k) {
      std::snprintf(h, sizeof h, "%02X", static_cast<U08>(raw[k]));
      out += h;
    }
    out += "\n";
    i += 2 + n;
  }
  return out;
}

// Expected file name, whether the run wrote the output, its text and its comparison.
struct OUTPUT_T {
  const char* name;
  bool present;
  std::string text;
  std::string (*compare)(const std::string&, const std::string&);
};

std::vector<OUTPUT_T> outputs_of(const ENV_T& env, int rc) {
  std::vector<OUTPUT_T> v;
  for (const char* sol : {"Normal_sol.txt", "Geotagging_sol.txt"}) {
    const std::string p = env.work + "/" + sol;
    v.push_back({sol, fs::exists(p), read_text(p), regress::compare_solutions});
  }
  v.push_back({"exit_code", true, std::to_string(rc) + "\n", regress::compare_text});
  v.push_back({"stdout.txt", true, read_text(env.work + "/.stdout"), regress::compare_text});
  v.push_back({"stderr.txt", true, regress::filter_stderr(read_text(env.work + "/.stderr")), regress::compare_text});
  for (const char* kml : {"output.kml", "fixmode.kml"}) {
    const std::string p = env.work + "/" + kml;
    if (env.kml) v.push_back({kml, fs::exists(p), read_text(p), regress::compare_text});
  }
  if (env.replay)
    v.push_back({"commands.txt", true, commands_hex(read_text(env.work + "/.commands")), regress::compare_text});
  return v;
}

// --- Truth checks of the expected files (file "truth", one check a line) ------------------

struct SOL_LINE_T {
  std::string status;
  double gps_s;   // GPS time, s since 1980-01-06 (from DATE and UTC plus the leap seconds)
  double xyz[3];  // ECEF, m
  double baseline;
};

constexpr double LEAP_S = 18.0;  // GPS - UTC, s, since 2017 (fix_track is used on later sets only)

std::vector<SOL_LINE_T> solution_lines(const std::string& text) {
  std::vector<SOL_LINE_T> v;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    SOL_LINE_T s{};
    int y, mo, d, h, mi;
    double sec, lat, lon, alt, ratio, age;
    char st[16];
    long ep;
    if (std::sscanf(line.c_str(), "%ld %d/%d/%d %d:%d:%lf %15s %lf %lf %lf %lf %lf %lf %lf %lf %lf", &ep, &y, &mo, &d,
                    &h, &mi, &sec, st, &age, &ratio, &lat, &lon, &alt, &s.xyz[0], &s.xyz[1], &s.xyz[2],
                    &s.baseline) != 17)
      continue;
    s.status = st;
    std::tm tm{};  // UTC calendar date; 315964800 s from 1970-01-01 to 1980-01-06
    tm.tm_year = y - 1900, tm.tm_mon = mo - 1, tm.tm_mday = d, tm.tm_hour = h, tm.tm_min = mi;
    s.gps_s = static_cast<double>(timegm(&tm) - 315964800) + sec + LEAP_S;
    v.push_back(s);
  }
  return v;
}

double dist(const double* a, const double* b) { return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]); }

struct TRUTH_CTX_T {
  std::vector<SOL_LINE_T> sol;  // epoch lines of the expected Normal_sol.txt
  std::string out;              // expected stdout and stderr
  std::string commands;         // expected commands.txt
};
using TRUTH_FN = std::string (*)(const TRUTH_CTX_T& t, const Args& a);  // "" when it holds
struct TRUTH_T {
  std::string_view verb;
  std::size_t n_args;
  TRUTH_FN fn;
};

// Epoch checks: at least one epoch of the statuses checked, and the largest deviation within the limit.
//   fix_near X Y Z TOL: FIX epochs, distance from the point, m;
//   fix_track TRUTH_FILE TOL: FIX epochs, distance from the truth row of the epoch's time, m (rows: week,
//     tow s, x y z m; matched within 10 ms: the truth is at the true time of the epoch);
//   fix_moves_below V: FIX epochs, speed from the previous FIX one second or less before, below V m/s
//     (fixed positions of a walking rover are consistent);
//   base X Y Z TOL: FIX and FLOAT epochs, BASELINE against the distance of the position from X Y Z, m
//     (the base position in use is this one);
//   baseline_range MIN MAX: every epoch, BASELINE within [MIN, MAX] m.
std::string truth_epochs(const TRUTH_CTX_T& t, const Args& a) {
  const std::string& verb = a[0];
  const bool range = verb == "baseline_range", with_float = verb == "base";
  std::vector<std::array<double, 4>> rows;  // GPS s, x, y, z: the point of fix_near and base, the truth rows
  if (verb == "fix_near" || with_float) rows.push_back({0.0, std::stod(a[1]), std::stod(a[2]), std::stod(a[3])});
  std::istringstream in(verb == "fix_track" ? read_text(a[1]) : "");
  for (std::string line; std::getline(in, line);) {
    double wk, tow, x, y, z;
    if (line[0] != '#' && std::sscanf(line.c_str(), "%lf %lf %lf %lf %lf", &wk, &tow, &x, &y, &z) == 5)
      rows.push_back({wk * 604800.0 + tow, x, y, z});
  }
  const SOL_LINE_T* last = nullptr;
  int n = 0;
  double worst = 0;
  for (const SOL_LINE_T& s : t.sol) {
    if (!range && s.status != "FIX" && !(with_float && s.status == "FLOAT")) continue;
    ++n;
    if (range) {
      worst = std::max({worst, std::stod(a[1]) - s.baseline, s.baseline - std::stod(a[2])});
    } else if (verb == "fix_moves_below") {
      const double dt = last != nullptr ? s.gps_s - last->gps_s : 0.0;
      if (dt > 0 && dt <= 1.0) worst = std::max(worst, dist(s.xyz, last->xyz) / dt);
      last = &s;
    } else {
      const std::array<double, 4>* row = verb == "fix_track" ? nullptr : rows.data();
      for (const auto& r : rows)
        if (verb == "fix_track" && std::fabs(r[0] - s.gps_s) < 0.01) row = &r;
      if (row == nullptr) return "a FIX epoch without a truth row";
      const double d = dist(s.xyz, row->data() + 1);
      worst = std::max(worst, with_float ? std::fabs(d - s.baseline) : d);
    }
  }
  const double limit = range ? 0.0 : std::stod(a.back());
  std::printf("  %d epochs checked, largest deviation %.4f (m or m/s), limit %g\n", n, worst, limit);
  if (n > 0 && (verb == "fix_moves_below" ? worst < limit : worst <= limit)) return "";
  return n == 0 ? "no epoch of the statuses checked" : "a deviation beyond the limit";
}
// no_solution: no epoch line.
std::string truth_no_solution(const TRUTH_CTX_T& t, const Args&) {
  return t.sol.empty() ? "" : "solution epochs written";
}
// The words of a check line from word i on, as one text.
std::string words_from(const Args& a, std::size_t i) {
  std::string w = i < a.size() ? a[i] : "";
  while (++i < a.size()) w += " " + a[i];
  return w;
}
// says WORD...: stdout or stderr holds the words (as one text); count N WORD...: they hold them exactly N times.
std::string truth_says(const TRUTH_CTX_T& t, const Args& a) {
  const bool count = a[0] == "count";
  const std::string w = words_from(a, count ? 2 : 1);
  long n = 0;
  for (std::size_t p = t.out.find(w); p != std::string::npos; p = t.out.find(w, p + 1)) ++n;
  if (count ? n == std::stol(a[1]) : n > 0) return "";
  return "'" + w + "' appears " + std::to_string(n) + " times";
}
// commands_at_least N: the command log holds at least N frames.
std::string truth_commands(const TRUTH_CTX_T& t, const Args& a) {
  const long n = std::count(t.commands.begin(), t.commands.end(), '\n');
  std::printf("  %ld command frames\n", n);
  return n >= std::stol(a[1]) ? "" : "too few command frames";
}

constexpr std::array<TRUTH_T, 9> TRUTHS = {{{"fix_near", 5, truth_epochs},
                                            {"fix_moves_below", 2, truth_epochs},
                                            {"fix_track", 3, truth_epochs},
                                            {"base", 5, truth_epochs},
                                            {"baseline_range", 3, truth_epochs},
                                            {"no_solution", 1, truth_no_solution},
                                            {"says", 0, truth_says},
                                            {"count", 0, truth_says},
                                            {"commands_at_least", 2, truth_commands}}};

int check_truth(const ENV_T& env) {
  const std::string d = env.case_dir + "/";
  const TRUTH_CTX_T t{solution_lines(read_text(d + "Normal_sol.txt")),
                      read_text(d + "stdout.txt") + read_text(d + "stderr.txt"), read_text(d + "commands.txt")};
  int rc = PASS;
  for (const Args& a : case_lines(env, "truth", false)) {
    const TRUTH_T* chk = nullptr;
    for (const TRUTH_T& c : TRUTHS)
      if (a[0] == c.verb && (c.n_args == 0 ? a.size() >= 2 : a.size() == c.n_args)) chk = &c;
    const std::string why = chk == nullptr ? "unknown truth check" : chk->fn(t, a);
    const std::string line = words_from(a, 0);
    std::printf("truth %s: %s%s\n", why.empty() ? "ok  " : "FAIL", line.c_str(),
                why.empty() ? "" : (": " + why).c_str());
    if (!why.empty()) rc = FAIL;
  }
  return rc;
}

// --- One case ------------------------------------------------------------------------------

int run_case(ENV_T& env, bool rebuild) {
  char tmpl[] = "/tmp/talon_regress_XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return FAIL;
  env.work = tmpl;
  int rc = run_setup(env);
  if (rc == PASS) {
    Args args;
    for (const Args& a : case_lines(env, "args", true)) args.push_back(a[0]);
    const int exit_code =
        run_in(env.work, env.replay ? "" : env.talonhost, args, env.work + "/.stdout", env.work + "/.stderr");
    for (const OUTPUT_T& o : outputs_of(env, exit_code)) {
      const std::string expected_path = env.case_dir + "/" + o.name;
      if (rebuild) {
        std::error_code ec;
        if (o.present)
          write_text(expected_path, o.text);
        else
          fs::remove(expected_path, ec);
        continue;
      }
      const bool expected = fs::exists(expected_path);
      std::string why;
      if (expected != o.present)
        why = expected ? "the run did not write it" : "the run wrote it, no expected file";
      else if (o.present)
        why = o.compare(read_text(expected_path), o.text);
      if (!why.empty()) {
        std::printf("MISMATCH %s: %s\n", o.name, why.c_str());
        rc = FAIL;
      }
    }
    if (check_truth(env) != PASS) rc = FAIL;
  }
  std::error_code ec;
  fs::remove_all(env.work, ec);
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode != "--run" && mode != "--rebuild") {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
  }
  if (argc != 8) {
    std::fprintf(stderr,
                 "usage: talon_regress --run|--rebuild CASE_DIR TALONHOST SCENARIO_SIM TALON_TARGET DATA_DIR "
                 "SHARED_DIR\n");
    return 2;
  }
  // Absolute paths: the programs run in a temporary working directory.
  const auto abs = [](const char* p) { return fs::absolute(p).lexically_normal().string(); };
  ENV_T env{abs(argv[2]), abs(argv[3]), abs(argv[4]), abs(argv[5]), abs(argv[6]), abs(argv[7]), "", false};
  const int rc = run_case(env, mode == "--rebuild");
  std::printf("%s %s\n",
              rc == SKIP        ? "SKIP"
              : rc != PASS      ? "FAIL"
              : mode == "--run" ? "PASS"
                                : "REBUILT",
              env.case_dir.c_str());
  return rc;
}
