// Float clock offsets that become S32 fields of the search and clock commands
// saturate instead of overflowing: the drift-to-offset conversion (Hz at L1 =
// -drift x 1575.42e6 / c) and the search engine's clock command (offset0 +
// scale x Hz in engine units) at the ends of their ranges.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "host/wrap.h"
#include "kernel/src/kernel.h"
#include "kernel/src/kernel_interface.h"
#include "misc/host_msg.h"

namespace {

constexpr S32 MAX = std::numeric_limits<S32>::max();
constexpr S32 MIN = std::numeric_limits<S32>::min();
constexpr D64 SCALE_MODE1 = 4.100003719329834;  // search NCO units per Hz, TCXO mode 1

TEST(ClockOffsetSaturation, DriftToClockOffset) {
  struct Case {
    const char* name;
    F32 drift_mps;
    S32 expect_hz;
  };
  const Case cases[] = {
      {"-1 m/s", -1.0F, 5},
      {"1000 m/s", 1000.0F, -5255},
      {"5e8 m/s, beyond the S32 range of Hz", 5.0e8F, MIN},
      {"-5e8 m/s", -5.0e8F, MAX},
      {"largest float", std::numeric_limits<F32>::max(), MIN},
      {"+infinity", std::numeric_limits<F32>::infinity(), MIN},
      {"-infinity", -std::numeric_limits<F32>::infinity(), MAX},
      {"NaN", std::numeric_limits<F32>::quiet_NaN(), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(KINTERFACE_drift_to_clock_offset(c.drift_mps), c.expect_hz) << c.name;
}

std::vector<std::vector<U08>> Commands;
void capture(const U08* f, int len) { Commands.emplace_back(f, f + len); }

// The search's clock command at start, from the start record's clock offset
// (Hz): TCXO mode 1 has offset0 0 and 2^26 / 16 368 000 engine units per Hz
// (kept in single precision: 4.100003719329834), so offsets beyond about
// +-523 MHz do not fit the S32 field.
TEST(ClockOffsetSaturation, SearchClockCommandAtStart) {
  struct Case {
    const char* name;
    S32 offset_hz;
    S32 expect_units;
  };
  const Case cases[] = {
      {"-42 Hz", -42, static_cast<S32>(-42 * SCALE_MODE1)},
      {"500 MHz fits", 500000000, static_cast<S32>(500000000 * SCALE_MODE1)},
      {"largest offset", MAX, MAX},
      {"smallest offset", MIN, MIN},
  };
  static std::array<U08, 20480> region, alm;
  for (const Case& c : cases) {
    region.fill(0);
    alm.fill(0);
    Commands.clear();
    WRAP_init(0, nullptr);
    WRAP_install_command_sink(capture);
    KERNEL_INIT_T k{};
    k.backup_mem_p = region.data();
    k.nvram_alm_mem_p = alm.data();
    k.tcxo_freq_mode = 1;
    k.npse = 6;
    k.gnss_select_bits = 1;
    k.clock_offset_from_flash = c.offset_hz;
    KERNEL_init(&k);
    bool sent = false;
    for (const std::vector<U08>& f : Commands) {
      if (f.size() <= 2 || f[2] != MSG_TYPE_PSE_CLOCK) continue;
      S32 units = 0;
      unpack_msg_pse_set_clock_offset(f.data(), &units);
      EXPECT_EQ(units, c.expect_units) << c.name;
      sent = true;
    }
    EXPECT_TRUE(sent) << c.name;
    WRAP_install_command_sink(nullptr);
    KERNEL_close();
  }
}

}  // namespace
