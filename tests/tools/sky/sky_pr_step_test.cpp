// Scripted pseudorange steps (scenario key pr_step): the same sky played with
// and without a step. Inside the step's window the channel report of that
// satellite encodes a transmit time earlier by exactly step / c (bit count and
// code phase), while its carrier, Doppler and C/N0 fields stay as they were;
// outside the window, and for every other satellite, the channel reports are
// byte for byte those of the sky without the step. The truth rows carry the
// step in pr_fault_m and keep the fault-free range terms.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "misc/host_msg.h"
#include "tests/test_util.h"
#include "tools/sky/sky.h"
#include "tools/sky/sky_link.h"

namespace {

// Frame length (without the checksum byte) of a message type; -1 when unknown.
int frame_len(U08 type) {
  for (const HOST_MSG_INFO_T& m : HOST_MSG_TABLE)
    if (m.type == type) return m.len;
  return -1;
}

constexpr double C_MPS = 299792458.0;
constexpr double BIT_S = 0.020;  // one GPS data bit

// Time within the current data bit (s) that a channel report's code phase
// register encodes: milliseconds (bits 11..15), whole chips (bits 0..9, from
// 1), sub-chip (bits 28..30, from 1; 0 = the last), 1/1024 of a sub-chip
// (bits 16..25), less the correlator peak tap offset.
double sub_bit_s(const ASIC_CHAN_MEAS_T& m) {
  const double ms = (m.code_phase_reg >> 11) & 31;
  const double chip = m.code_phase_reg & 0x3FF;
  int sc = static_cast<int>((m.code_phase_reg >> 28) & 7);
  if (sc == 0) sc = m.nsc;
  sc -= 1;
  const double frac = (m.code_phase_reg >> 16) & 0x3FF;
  const double nsc = m.nsc;
  return 0.001 * (ms + (chip - 1) / 1023.0 + sc / (nsc * 1023.0) + frac / (nsc * 1023.0 * 1024.0)) -
         m.peak_tap_loc / (nsc * 1023.0 * 1000.0);
}

// Transmit time of a report in the channel's own bit count, s.
double report_tx_s(const ASIC_CHAN_MEAS_T& m) { return static_cast<double>(m.bitcnt) * BIT_S + sub_bit_s(m); }

// One epoch of the stream: channel reports by channel (decoded and raw bytes)
// and the truth.
struct Epoch {
  std::map<int, ASIC_CHAN_MEAS_T> chan;
  std::map<int, std::vector<U08>> raw;
  SKY_LINK_EPOCH_T truth;
};

std::vector<Epoch> play(const SKY_SCENARIO_T& sc) {
  std::vector<Epoch> out;
  EXPECT_EQ(SKY_init(&sc), 1);
  EXPECT_EQ(SKY_LINK_start(&sc, SKY_LINK_PARAM_T{}, SKY_LINK_core_source()), 1);
  std::vector<U08> buf(8192);
  for (;;) {
    Epoch e;
    const int n = SKY_LINK_next_epoch(buf.data(), buf.size(), &e.truth);
    EXPECT_GE(n, 0);
    if (n <= 0) break;
    for (int i = 0; i + 3 <= n;) {
      const U08 type = buf[static_cast<std::size_t>(i) + 2];
      const int len = frame_len(type);
      if (len <= 0 || i + len + 1 > n) {
        ADD_FAILURE() << "unknown or cut frame, type " << static_cast<int>(type);
        break;
      }
      const U08* f = buf.data() + i;
      if (type == MSG_TYPE_CHAN) {
        S16 ch = 0;
        ASIC_CHAN_MEAS_T m{};
        unpack_msg_chan(f, &ch, &m);
        e.chan[ch] = m;
        e.raw[ch] = std::vector<U08>(f, f + len + 1);
      }
      i += len + 1;
    }
    out.push_back(e);
  }
  return out;
}

struct StepCase {
  const char* name;
  int svid;
  double t0, t1, metres;
};

void PrintTo(const StepCase& c, std::ostream* os) { *os << c.name; }

const std::vector<StepCase> CASES = {
    {"100 m on satellite 3", 3, 10.5, 20.5, 100.0},
    {"minus 250 m on satellite 1", 1, 4.5, 12.5, -250.0},
    {"100 km on satellite 7", 7, 8.5, 9.5, 100000.0},
};

class SkyPrStep : public testing::TestWithParam<StepCase> {};

TEST_P(SkyPrStep, OnlyTheCodeOfThatSatelliteMovesAndOnlyInsideTheWindow) {
  const StepCase& c = GetParam();
  const std::string base =
      "start_week = 2400\nstart_tow = 346000\nduration = 25\nnsat = 8\nseed = 5\n"
      "lat = 35.5\nlon = 139.25\nheight = 40\nclk_bias = 0.0003\nclk_drift = 2e-7\n";
  static SKY_SCENARIO_T plain, faulted;
  char err[200] = "";
  plain = SKY_SCENARIO_T{};
  faulted = SKY_SCENARIO_T{};
  ASSERT_EQ(SKY_parse_scenario(base.c_str(), &plain, err, sizeof err), 1) << err;
  const std::string step = base + "pr_step = " + std::to_string(c.svid) + " " + std::to_string(c.t0) + " " +
                           std::to_string(c.t1) + " " + std::to_string(c.metres) + "\n";
  ASSERT_EQ(SKY_parse_scenario(step.c_str(), &faulted, err, sizeof err), 1) << err;
  ASSERT_EQ(faulted.n_pr_steps, 1);

  const std::vector<Epoch> a = play(plain);
  const std::vector<Epoch> b = play(faulted);
  ASSERT_EQ(a.size(), b.size());
  ASSERT_EQ(a.size(), 25U);
  int inside = 0, outside = 0, others = 0;
  for (std::size_t k = 0; k < a.size(); ++k) {
    SCOPED_TRACE(testing::Message() << "epoch " << k);
    const SKY_LINK_EPOCH_T& ta = a[k].truth;
    const SKY_LINK_EPOCH_T& tb = b[k].truth;
    const double dt =
        (tb.rx.true_time.week - faulted.start.week) * 604800.0 + (tb.rx.true_time.tow - faulted.start.tow);
    ASSERT_EQ(ta.n, tb.n);
    for (int i = 0; i < tb.n; ++i) {
      const SKY_LINK_SAT_TRUTH_T& sa = ta.sat[i];
      const SKY_LINK_SAT_TRUTH_T& sb = tb.sat[i];
      ASSERT_EQ(sa.svid, sb.svid);
      ASSERT_EQ(sa.ch, sb.ch);
      const bool in_window = sb.svid == c.svid && dt >= c.t0 && dt < c.t1;
      const double expect = in_window ? c.metres : 0.0;
      // Truth: the step in its own column and in the pseudorange, the range terms untouched.
      EXPECT_EQ(sb.pr_fault_m, expect) << "svid " << sb.svid;
      EXPECT_EQ(sa.pr_fault_m, 0.0);
      EXPECT_EQ(sb.range_m, sa.range_m);
      EXPECT_EQ(sb.iono_m, sa.iono_m);
      EXPECT_EQ(sb.tropo_m, sa.tropo_m);
      EXPECT_EQ(sb.doppler_hz, sa.doppler_hz);
      EXPECT_NEAR(sb.pseudorange_m - sa.pseudorange_m, expect, 1e-6) << "svid " << sb.svid;
      const double fault_free =
          sb.range_m + C_MPS * (tb.rx.clk_bias_s - sb.sv_clock_s) + sb.iono_m + sb.tropo_m;  // no code noise here
      EXPECT_NEAR(sb.pseudorange_m - fault_free, expect, 1e-3) << "svid " << sb.svid;
      // Reports.
      ASSERT_TRUE(a[k].chan.count(sb.ch) && b[k].chan.count(sb.ch));
      const ASIC_CHAN_MEAS_T& ma = a[k].chan.at(sb.ch);
      const ASIC_CHAN_MEAS_T& mb = b[k].chan.at(sb.ch);
      if (!in_window) {
        EXPECT_EQ(a[k].raw.at(sb.ch), b[k].raw.at(sb.ch)) << "svid " << sb.svid << " report changed outside the step";
        (sb.svid == c.svid ? outside : others) += 1;
        continue;
      }
      ++inside;
      // The reported pseudorange, c x (receiver clock - transmit time), grows by the step.
      const double reported_step = (report_tx_s(ma) - report_tx_s(mb)) * C_MPS;
      EXPECT_NEAR(reported_step, c.metres, 0.05) << "svid " << sb.svid;
      EXPECT_EQ(mb.dop_freq, ma.dop_freq);
      EXPECT_EQ(mb.acc_carrier_cycle, ma.acc_carrier_cycle);
      EXPECT_EQ(mb.carrier_phase, ma.carrier_phase);
      EXPECT_EQ(mb.acc_carrier_cycle_count, ma.acc_carrier_cycle_count);
      EXPECT_EQ(mb.state, ma.state);
    }
  }
  // Epochs one second apart, the window's ends half-way between two.
  EXPECT_EQ(inside, static_cast<int>(std::lround(c.t1 - c.t0)));
  EXPECT_GT(outside, 0);
  EXPECT_GT(others, 100);
}

INSTANTIATE_TEST_SUITE_P(Steps, SkyPrStep, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<StepCase>& i) { return talon_test::case_name(i.param.name); });

// The key's checks: whole svid 1..32, 0 <= t0 < t1, |metres| <= 100000, at most 8 lines.
TEST(SkyPrStepKey, BadLinesAreRefused) {
  struct Bad {
    const char* line;
    const char* why;
  };
  const Bad cases[] = {
      {"pr_step = 0 1 2 10\n", "svid 0"},
      {"pr_step = 33 1 2 10\n", "svid 33"},
      {"pr_step = 2.5 1 2 10\n", "fractional svid"},
      {"pr_step = 3 -1 2 10\n", "negative start"},
      {"pr_step = 3 5 5 10\n", "empty window"},
      {"pr_step = 3 6 5 10\n", "end before start"},
      {"pr_step = 3 1 2 100001\n", "step too large"},
      {"pr_step = 3 1 2 -100001\n", "negative step too large"},
      {"pr_step = 3 1 2\n", "three numbers"},
  };
  for (const Bad& b : cases) {
    SKY_SCENARIO_T sc{};
    char err[200] = "";
    EXPECT_EQ(SKY_parse_scenario(b.line, &sc, err, sizeof err), 0) << b.why;
    EXPECT_NE(std::strstr(err, "line 1"), nullptr) << b.why << ": " << err;
  }
  std::string eight, nine;
  for (int i = 0; i < 8; ++i) eight += "pr_step = " + std::to_string(i + 1) + " 1 2 -100000\n";
  nine = eight + "pr_step = 9 1 2 10\n";
  SKY_SCENARIO_T sc{};
  char err[200] = "";
  ASSERT_EQ(SKY_parse_scenario(eight.c_str(), &sc, err, sizeof err), 1) << err;
  EXPECT_EQ(sc.n_pr_steps, 8);
  EXPECT_EQ(sc.pr_steps[7].svid, 8);
  EXPECT_EQ(sc.pr_steps[7].metres, -100000.0);
  EXPECT_EQ(SKY_parse_scenario(nine.c_str(), &sc, err, sizeof err), 0);
  EXPECT_NE(std::strstr(err, "line 9"), nullptr) << err;
}

}  // namespace
