// 1PPS pulse scheduling: the pulse of one second from known clock biases and
// drifts (offset and period in TCXO counts worked out here from the pulse's
// meaning: the GPS whole second as the receiver clock sees it, one second of
// drift ahead), and the per-second commands before and after GPS time is
// available, captured from the target proxy's command sink.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "host/wrap.h"
#include "kernel/src/kernel_1pps.h"
#include "kernel/src/navigate.h"
#include "kernel/src/tcxo_freq.h"
#include "misc/host_msg.h"
#include "timing/timing.h"

namespace {

constexpr double C = 299792458.0;  // m/s
constexpr U32 F_MODE4 = 24552000;  // TCXO mode 4, Hz
constexpr U32 F_MODE0 = 16367667;  // TCXO mode 0, Hz

// ---- one second's pulse ----

struct PulseCase {
  const char* name;
  double bias_s;      // receiver clock - GPS time, s
  double drift;       // s/s
  S32 cable_0_01ns;   // cable delay
  U32 tcxo_hz;        // TCXO frequency
  double expect_s;    // pulse position within the coming second, s: frac(bias + drift) x (1 + drift) + delay
  U32 expect_period;  // TCXO counts of that second: integer part of f x (1 + drift + drift^2)
};

// Worked by hand: 0.0004 s of bias puts the pulse 0.4 ms into the second
// (9820.8 counts at 24.552 MHz); -0.2 ms puts it 0.2 ms before the next mark,
// 0.9998 s in; a bias of whole seconds plus a quarter keeps only the quarter;
// a drift of 1e-7 s/s moves the pulse 1e-7 s (1 + 1e-7) in and lengthens the
// second to 24 552 002.4552 counts; a cable delay of 100 x 0.01 ns = 1 ns puts
// it 1 ns later.
const std::array<PulseCase, 9> PULSES = {{
    {"zero bias and drift", 0.0, 0.0, 0, F_MODE4, 0.0, F_MODE4},
    {"bias 0.4 ms", 0.0004, 0.0, 0, F_MODE4, 0.0004, F_MODE4},
    {"negative bias -0.2 ms", -0.0002, 0.0, 0, F_MODE4, 0.9998, F_MODE4},
    {"bias 2.25 s", 2.25, 0.0, 0, F_MODE4, 0.25, F_MODE4},
    {"bias -1.75 s", -1.75, 0.0, 0, F_MODE4, 0.25, F_MODE4},
    {"drift 1e-7", 0.0, 1e-7, 0, F_MODE4, 1e-7 * (1.0 + 1e-7), 24552002},
    {"bias and negative drift", 0.0003, -5e-8, 0, F_MODE4, (0.0003 - 5e-8) * (1.0 - 5e-8), 24551998},
    {"cable delay 1 ns", 0.0004, 0.0, 100, F_MODE4, 0.000400001, F_MODE4},
    {"mode 0 clock", 0.123456789, 0.0, 0, F_MODE0, 0.123456789, F_MODE0},
}};

TEST(K1ppsPulse, OffsetAndPeriodOfKnownBiasAndDrift) {
  for (const PulseCase& c : PULSES) {
    K1PPS_PULSE_T p;
    K1PPS_compute_pulse(c.bias_s * C, static_cast<F32>(c.drift * C), c.cable_0_01ns, c.tcxo_hz, 0, 0, &p);
    // The drift reaches the pulse as a single-precision m/s value: 3e-8 relative.
    EXPECT_NEAR(p.offset_s, c.expect_s, 1e-13 + std::fabs(c.drift) * 1e-7) << c.name;
    EXPECT_GE(p.offset_s, 0.0) << c.name;
    EXPECT_LT(p.offset_s, 1.0) << c.name;
    EXPECT_EQ(p.tcxo_offset, static_cast<U32>(std::llround(c.expect_s * c.tcxo_hz))) << c.name;
    EXPECT_EQ(p.tcxo_period, c.expect_period) << c.name;
  }
}

TEST(K1ppsPulse, CableDelayOf100MovesThePulse0_2998mLater) {
  K1PPS_PULSE_T a, b;
  const double cb = -1234.5;  // m
  K1PPS_compute_pulse(cb, 0.0f, 0, F_MODE4, 0, 0, &a);
  K1PPS_compute_pulse(cb, 0.0f, 100, F_MODE4, 0, 0, &b);
  EXPECT_NEAR((b.offset_s - a.offset_s) * C, 0.2998, 1e-4);
  EXPECT_NEAR(b.offset_s - a.offset_s, 1e-9, 1e-15);
}

struct HiClkCase {
  const char* name;
  U32 hi_clk_hz;
  U32 freq_out_hz;
  double bias_s;
  U32 expect_hi_offset, expect_hi_period;
  S16 expect_enable;
  U32 expect_increment;
};

// Without the high-rate pulse clock (0, as in this program) nothing is
// divided by it: its counts and the 10 MHz NCO increment are 0. With a
// 100 MHz clock, 10 MHz out is 2 x 10 / 100 x 2^32 = 858 993 459.2 -> 858 993 459
// per count, and 0.25 s is 25 000 000 counts.
const std::array<HiClkCase, 4> HI_CLK = {{
    {"no pulse clock, output off", 0, 0, 0.25, 0, 0, 0, 0},
    {"no pulse clock, 10 MHz out", 0, 10000000, 0.25, 0, 0, 1, 0},
    {"100 MHz pulse clock, output off", 100000000, 0, 0.25, 25000000, 100000000, 0, 0},
    {"100 MHz pulse clock, 10 MHz out", 100000000, 10000000, 0.25, 25000000, 100000000, 1, 858993459},
}};

TEST(K1ppsPulse, HighRateClockAndFrequencyOutput) {
  for (const HiClkCase& c : HI_CLK) {
    K1PPS_PULSE_T p;
    K1PPS_compute_pulse(c.bias_s * C, 0.0f, 0, F_MODE4, c.hi_clk_hz, c.freq_out_hz, &p);
    EXPECT_EQ(p.hi_clk_offset, c.expect_hi_offset) << c.name;
    EXPECT_EQ(p.hi_clk_period, c.expect_hi_period) << c.name;
    EXPECT_EQ(p.freq_out_enable, c.expect_enable) << c.name;
    EXPECT_EQ(p.nco_increment, c.expect_increment) << c.name;
  }
}

TEST(K1ppsPulse, NonFiniteBiasGivesCountsInRange) {
  K1PPS_PULSE_T p;
  K1PPS_compute_pulse(std::nan(""), 0.0f, 0, F_MODE4, 0, 0, &p);
  EXPECT_EQ(p.tcxo_offset, 0U);
  K1PPS_compute_pulse(0.0, 0.0f, 0, F_MODE4, 0, 0, nullptr);  // no record: nothing happens
}

// ---- the per-second commands ----

struct PpsCmd {
  S16 enable;
  U32 offset, period;
};
std::vector<PpsCmd> Cmds;
int Other_frames = 0;
void capture(const U08* f, int len) {
  if (len > 2 && f[2] == MSG_TYPE_ASIC_SET_1PPS) {
    PpsCmd c{};
    unpack_msg_set_1pps(f, &c.enable, &c.offset, &c.period);
    Cmds.push_back(c);
  } else {
    ++Other_frames;
  }
}

// The navigation state the fake reader hands the timing library.
S16 Fix_mode = FIX_NONE;
S16 Has_fs = 0;
U32 Fix_count = 0;
void fake_status(S16* mode, S16* fs, U32* count) {
  *mode = Fix_mode;
  *fs = Has_fs;
  *count = Fix_count;
}

struct NavState {
  S16 mode;
  S16 fs;
  U32 count;
};

struct SecondsCase {
  const char* name;
  std::vector<NavState> seconds;   // the navigation state at each second tick
  std::vector<S16> expect_enable;  // the one ASIC_SET_1PPS of each second: 0 off, 2 pulse
};

const NavState NO_FIX{FIX_NONE, 0, 0};
const NavState GOOD{FIX_3D, 1, 10};

const std::array<SecondsCase, 8> SECONDS = {{
    {"no fix: off every second", {NO_FIX, NO_FIX, NO_FIX}, {0, 0, 0}},
    {"3-D with frame sync but 3 fixes: off", {{FIX_3D, 1, 3}, {FIX_3D, 1, 3}}, {0, 0}},
    {"2-D fix: off", {{FIX_2D, 1, 9}}, {0}},
    {"3-D, 4 fixes, no frame sync: off", {{FIX_3D, 0, 4}}, {0}},
    {"3-D, frame sync, 4 fixes: pulse", {{FIX_3D, 1, 4}}, {2}},
    {"differential fix: pulse", {{FIX_DIFF, 1, 20}}, {2}},
    {"off until time is available, then pulse", {NO_FIX, {FIX_2D, 1, 5}, GOOD, GOOD}, {0, 0, 2, 2}},
    {"fix lost after the first pulse: keeps pulsing", {GOOD, NO_FIX, {FIX_2D, 0, 12}, NO_FIX}, {2, 2, 2, 2}},
}};

class K1ppsSeconds : public ::testing::Test {
 protected:
  void SetUp() override {
    Cmds.clear();
    Other_frames = 0;
    WRAP_init(0, nullptr);
    WRAP_install_command_sink(capture);
    TCXO_init(4);
    NV_init();
    K1PPS_init();
    TIMING_install_time_status_reader(fake_status);
    TIMING_set_pps_cable_delay(0);
    TIMING_set_pps_width(800);
  }
  void TearDown() override {
    WRAP_install_command_sink(nullptr);
    TIMING_install_time_status_reader(nullptr);
  }
};

TEST_F(K1ppsSeconds, OneCommandPerSecondOffBeforeTimeThenPulse) {
  for (const SecondsCase& c : SECONDS) {
    SetUp();
    NV_set_clock_bias_drift(0.0004 * C, 0.0f);
    for (const NavState& s : c.seconds) {
      Fix_mode = s.mode;
      Has_fs = s.fs;
      Fix_count = s.count;
      K1PPS_process();
    }
    ASSERT_EQ(Cmds.size(), c.expect_enable.size()) << c.name;
    for (std::size_t i = 0; i < Cmds.size(); ++i) {
      EXPECT_EQ(Cmds[i].enable, c.expect_enable[i]) << c.name << ", second " << i;
      if (c.expect_enable[i] == 0) {
        EXPECT_EQ(Cmds[i].offset, 0U) << c.name << ", second " << i;
        EXPECT_EQ(Cmds[i].period, 0U) << c.name << ", second " << i;
      } else {
        EXPECT_EQ(Cmds[i].offset, 9821U) << c.name << ", second " << i;  // 0.0004 s x 24 552 000
        EXPECT_EQ(Cmds[i].period, F_MODE4) << c.name << ", second " << i;
      }
    }
    EXPECT_EQ(Other_frames, 0) << c.name;  // the other pulse operations send nothing on the link
    EXPECT_EQ(K1PPS_is_1pps_outputing(), c.expect_enable.back() == 2 ? 1 : 0) << c.name;
  }
}

TEST_F(K1ppsSeconds, CountsSaturateAt1000AndKeepTheLastOffset) {
  Fix_mode = FIX_3D;
  Has_fs = 1;
  Fix_count = 50;
  NV_set_clock_bias_drift(-0.0002 * C, 0.0f);
  for (int i = 0; i < 1005; ++i) K1PPS_process();
  EXPECT_EQ(K1PPS_get_pps_count(), 1000U);
  EXPECT_EQ(K1PPS_get_command_count(), 1000U);
  EXPECT_NEAR(K1PPS_get_last_offset_s(), 0.9998f, 1e-6f);
  EXPECT_EQ(Cmds.size(), 1005U);
  EXPECT_EQ(Cmds.back().offset, 24547090U);  // 0.9998 x 24 552 000 = 24 547 089.6
}

struct SorrelCase {
  const char* name;
  S16 mode;
  U32 expect_hz;  // 24 552 000 x 6 = 147 312 000 Hz shifted right
};
const std::array<SorrelCase, 5> SORREL = {{
    {"x1", 0, 18414000},
    {"x2", 1, 36828000},
    {"x4", 2, 73656000},
    {"x8", 3, 147312000},
    {"other value", 7, 73656000},
}};

TEST(K1ppsSorrel, RunClockOfEachSourceMode) {
  K1PPS_init();
  EXPECT_EQ(K1PPS_get_sorrel_pps_run_clock_source_mode(), 3);
  EXPECT_EQ(K1PPS_get_sorrel_pps_run_clock(), 0U);
  for (const SorrelCase& c : SORREL) {
    K1PPS_set_sorrel_pps_run_clock_source_mode(c.mode);
    EXPECT_EQ(K1PPS_get_sorrel_pps_run_clock_source_mode(), c.mode) << c.name;
    EXPECT_EQ(K1PPS_get_sorrel_pps_run_clock(), c.expect_hz) << c.name;
  }
  K1PPS_init();
}

}  // namespace
