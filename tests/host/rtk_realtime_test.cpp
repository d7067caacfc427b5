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

#include "rtk/sim_scenario.h"
#include "test_util.h"

namespace {

using namespace talon_test;
using Bytes = std::vector<unsigned char>;

TEST(RtkRealTime, RtcmBaseOverPseudoTerminals) {
  sim_test::Scenario sc;
  sc.lasting(30.0).rover_at(250.0, 50.0, 2.0);
  sc.base_rtcm = 4;
  const sim_test::SimPair sim = sim_test::simulate(sc);
  ASSERT_EQ(sim.epochs, 31);

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
  for (const SIM_MARK_T& m : sim.marks) {
    write_all(pbase.master, sim.base.data() + b0, m.base - b0);
    write_all(prover.master, sim.rover.data() + r0, m.rover - r0);
    r0 = m.rover;
    b0 = m.base;
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    drain_out();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  drain_out();
  kill(pid, SIGINT);
  ASSERT_EQ(wait_talonhost(pid, 10), 5);  // ended by the signal, after the close-down
  drain_out();

  // rb.bin: records of at most 128 bytes holding exactly the bytes of each port.
  Bytes got_rover, got_base;
  ASSERT_TRUE(split_rb(read_file(d.file("rb.bin")), &got_rover, &got_base));
  EXPECT_EQ(got_rover, sim.rover);
  EXPECT_EQ(got_base, sim.base);

  // One status block and one solution line per solved epoch.
  const std::string out = read_text(d.file("out"));
  const int solved = count_of(out, "--------------------------------------------------------------------");
  EXPECT_EQ(count_of(out, "<RTK> reset           : "), solved);
  std::vector<std::string> port_lines;
  std::istringstream port_in(port_text);
  for (std::string l; std::getline(port_in, l);) port_lines.push_back(l);
  EXPECT_EQ(static_cast<int>(port_lines.size()), solved);
  EXPECT_TRUE(port_text.empty() || port_text.back() == '\n');
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
    EXPECT_LT(std::hypot(p[0] - sim.truth[0].pos[0], p[1] - sim.truth[0].pos[1], p[2] - sim.truth[0].pos[2]), 0.02)
        << port_lines[k];
  }
  EXPECT_EQ(fixed, 10);

  // The recording re-run: the same solutions, in the solution file.
  TempDir d2;
  write_file(d2.file("rb.bin"), read_file(d.file("rb.bin")));
  const RunResult rr = run_talonhost(d2.path(), {"--rb-file", "rb.bin", "--is-rtcm", "1"});
  EXPECT_EQ(rr.exit_code, 0);
  const SolFile sol = read_sol_file(d2.file("Normal_sol.txt"));
  EXPECT_TRUE(sol.header_ok);
  EXPECT_TRUE(sol.bad_lines.empty());
  ASSERT_EQ(sol.lines.size(), port_lines.size());
  for (std::size_t k = 0; k < port_lines.size(); ++k) {
    double p[3];
    ASSERT_EQ(std::sscanf(port_lines[k].c_str() + 20, "%lf %lf %lf", &p[0], &p[1], &p[2]), 3);
    EXPECT_NEAR(p[0], sol.lines[k].x, 0.0011) << k;
    EXPECT_NEAR(p[1], sol.lines[k].y, 0.0011) << k;
    EXPECT_NEAR(p[2], sol.lines[k].z, 0.0011) << k;
  }
}

}  // namespace
