// Real-time RTK over pseudo-terminals with an RTCM 3 base: the simulator plays
// rover and base at a steady pace; rb.bin must hold exactly the bytes sent, in
// its record format; the output port gets one solution line per solved epoch;
// re-running rb.bin with --rb-file gives the same solutions.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_util.h"
#include "tools/scenario_sim/sim.h"

namespace {

using namespace talon_test;
using Bytes = std::vector<unsigned char>;

int count_of(const std::string& s, const std::string& what) {
  int n = 0;
  for (std::size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
  return n;
}

void write_all(int fd, const U08* p, std::size_t n) {
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

struct Rec {
  bool base;
  Bytes data;
};

// The records of a recorder file; false when it is not a clean sequence of records.
bool parse_rb(const Bytes& rb, std::vector<Rec>* recs) {
  std::size_t i = 0;
  while (i < rb.size()) {
    if (i + 6 > rb.size()) return false;
    const bool base = rb[i] == 0x12 && rb[i + 1] == 0x34 && rb[i + 2] == 0x56 && rb[i + 3] == 0x78;
    const bool rover = rb[i] == 0x78 && rb[i + 1] == 0x56 && rb[i + 2] == 0x34 && rb[i + 3] == 0x12;
    if (!base && !rover) return false;
    const std::size_t n = static_cast<std::size_t>(rb[i + 4]) << 8 | rb[i + 5];
    if (n == 0 || n > 128 || i + 6 + n > rb.size()) return false;
    recs->push_back(Rec{base, Bytes(rb.begin() + static_cast<long>(i + 6), rb.begin() + static_cast<long>(i + 6 + n))});
    i += 6 + n;
  }
  return true;
}

std::vector<std::string> lines_of(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream in(s);
  std::string l;
  while (std::getline(in, l)) out.push_back(l);
  return out;
}

TEST(RtkRealTime, RtcmBaseOverPseudoTerminals) {
  SIM_SCENARIO_T sc;
  sc.duration = 30.0;
  sc.base_rtcm = 4;
  sc.rover_enu[0] = 250.0;
  std::vector<U08> rover, base;
  std::vector<SIM_MARK_T> marks;
  std::vector<SIM_TRUTH_T> truth;
  ASSERT_EQ(sim_run_to_memory(&sc, &rover, &base, &truth, &marks), 31);

  TempDir d;
  Pty prover, pbase, pout;
  const int pid = spawn_talonhost(d.path(), {"--mode", "0", "--port", prover.slave_path, "--base-port",
                                             pbase.slave_path, "--out-port", pout.slave_path, "--is-rtcm", "1"});
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  fcntl(pout.master, F_SETFL, fcntl(pout.master, F_GETFL) | O_NONBLOCK);
  std::string port_text;
  auto drain_out = [&]() {
    char buf[4096];
    ssize_t n = 0;
    while ((n = read(pout.master, buf, sizeof buf)) > 0) port_text.append(buf, static_cast<std::size_t>(n));
  };
  // Paced play: each epoch's base bytes, then its rover bytes, 60 ms apart.
  std::size_t r0 = 0, b0 = 0;
  for (const SIM_MARK_T& m : marks) {
    write_all(pbase.master, base.data() + b0, m.base - b0);
    write_all(prover.master, rover.data() + r0, m.rover - r0);
    r0 = m.rover;
    b0 = m.base;
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    drain_out();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  drain_out();
  kill(pid, SIGINT);
  ASSERT_EQ(wait_talonhost(pid, 10), 0);
  drain_out();

  // rb.bin: records of at most 128 bytes holding exactly the bytes of each port.
  std::vector<Rec> recs;
  ASSERT_TRUE(parse_rb(read_file(d.file("rb.bin")), &recs));
  Bytes got_rover, got_base;
  for (const Rec& r : recs)
    (r.base ? got_base : got_rover).insert((r.base ? got_base : got_rover).end(), r.data.begin(), r.data.end());
  EXPECT_EQ(got_rover, rover);
  EXPECT_EQ(got_base, base);

  // One status block and one solution line per solved epoch.
  const std::string out = read_text(d.file("out"));
  const int solved = count_of(out, "--------------------------------------------------------------------");
  EXPECT_EQ(count_of(out, "<RTK> reset           : "), solved);
  const auto port_lines = lines_of(port_text);
  EXPECT_EQ(static_cast<int>(port_lines.size()), solved);
  EXPECT_EQ(port_text.empty() || port_text.back() == '\n', true);
  const std::regex line_re(
      R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}( [ -]{0,13}-?\d+\.\d{4}){3}( [ \d]{2}\d){2}( +0\.0000){6} +-?\d+\.\d{2} +-?\d+\.\d)");
  for (const auto& l : port_lines) EXPECT_TRUE(std::regex_match(l, line_re)) << l;
  // Every rover epoch is solved; the run ends fixed on the simulator's truth.
  EXPECT_GE(solved, 30);
  int fixed = 0;
  for (std::size_t k = port_lines.size() > 10 ? port_lines.size() - 10 : 0; k < port_lines.size(); ++k) {
    double p[3];
    int stat = 0;
    ASSERT_EQ(std::sscanf(port_lines[k].c_str() + 20, "%lf %lf %lf %d", &p[0], &p[1], &p[2], &stat), 4);
    if (stat != 1) continue;
    ++fixed;
    const double d[3] = {p[0] - truth[0].pos[0], p[1] - truth[0].pos[1], p[2] - truth[0].pos[2]};
    EXPECT_LT(std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]), 0.02) << port_lines[k];
  }
  EXPECT_EQ(fixed, 10);

  // The recording re-run: the same solutions, in the solution file.
  TempDir d2;
  write_file(d2.file("rb.bin"), read_file(d.file("rb.bin")));
  const RunResult rr = run_talonhost(d2.path(), {"--rb-file", "rb.bin", "--is-rtcm", "1"});
  EXPECT_EQ(rr.exit_code, 0);
  const auto sol_lines = lines_of(read_text(d2.file("Normal_sol.txt")));
  ASSERT_GE(sol_lines.size(), 1u);  // the header
  ASSERT_EQ(sol_lines.size() - 1, port_lines.size());
  for (std::size_t k = 0; k < port_lines.size(); ++k) {
    double p[3], s[3], alt = 0.0;
    ASSERT_EQ(std::sscanf(port_lines[k].c_str() + 20, "%lf %lf %lf", &p[0], &p[1], &p[2]), 3);
    ASSERT_GT(sol_lines[k + 1].size(), 150u);
    ASSERT_EQ(std::sscanf(sol_lines[k + 1].c_str() + 120, "%lf %lf %lf %lf", &alt, &s[0], &s[1], &s[2]), 4);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(p[i], s[i], 0.0011) << k;
  }
}

}  // namespace
