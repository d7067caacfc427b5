// --meas-csv: the measurement log of a navigation replay of a set written by
// the scripted target. The header is fixed; every processed epoch has one row
// per channel the target reported, with the identity, state and Doppler the
// target sent (Doppler from its tracking NCO word at the TCXO of mode 4).
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "host/link_test_util.h"
#include "test_util.h"

namespace {

constexpr int EPOCHS = 36;  // 100 ms epochs from millisecond 0
constexpr int TRACKED = 6;  // the script's channels 0..5
constexpr const char* HEADER =
    "epoch,gps_week,gps_tow_s,ch,gnss,svid,state,frame_sync,tx_time_s,pseudorange_m,corrected_pr_m,"
    "range_rate_mps,doppler_hz,cn0_dbhz,el_deg,az_deg,used";

// What the scripted target reports for channel ch at its epoch k.
int script_prn(int ch) { return 3 + 4 * ch % 29 + 1; }
int script_state(int k) { return k < 10 ? 2 : (k < 30 ? 3 : 6); }
int script_nco_word(int ch) { return -1500 + 100 * ch; }

// L1 Doppler of a tracking-NCO word at TCXO mode 4 (24.552 MHz): the NCO runs
// at 2^29 / f units per Hz; the zero-Doppler baseband frequency is what the
// front end leaves of L1 after the x64 PLL and the mixer NCO (word 44 739 243
// of 2^28 f), and the Doppler is that frequency less the NCO's.
double doppler_of_word(int word) {
  const double f = 24.552e6;
  const double baseband0 = 1575.42e6 - 64.0 * f - 44739243.0 * f / 268435456.0;
  return baseband0 - word * f / 536870912.0;
}

TEST(MeasCsv, ReplayWritesOneRowPerReportedChannelPerEpoch) {
  talon_test::TempDir dir;
  const int pid = link_test::spawn(dir.path(), link_test::target_exe(),
                                   {"--write-set", dir.path(), "--epochs", std::to_string(EPOCHS)}, "target.out");
  ASSERT_EQ(talon_test::wait_talonhost(pid, 30), 0);
  const link_test::Replay rep = link_test::replay_capturing_commands(
      dir.path(), {"--rtk-mode", "0", "--mode", "1", "--do-kml-output", "0", "--meas-csv", "meas.csv"});
  ASSERT_EQ(rep.exit_code, 0) << rep.out;
  const int reported = link_test::reported_epochs(EPOCHS);
  EXPECT_EQ(talon_test::count_of(rep.out, "fix mode = 0,"), reported);

  std::istringstream in(talon_test::read_text(dir.file("meas.csv")));
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line, HEADER);
  std::vector<std::vector<std::string>> rows;
  while (std::getline(in, line)) rows.push_back(talon_test::split_csv(line));
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(reported * TRACKED));

  // The script's epochs the kernel processed: all but those at millisecond 500.
  std::vector<int> script_epoch;
  for (int k = 0; k < EPOCHS; ++k)
    if (k * 100 % 1000 != 500) script_epoch.push_back(k);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::vector<std::string>& r = rows[i];
    ASSERT_EQ(r.size(), 17u) << i;
    const int e = static_cast<int>(i) / TRACKED;
    const int ch = static_cast<int>(i) % TRACKED;
    const int k = script_epoch[static_cast<std::size_t>(e)];
    SCOPED_TRACE("row " + std::to_string(i));
    EXPECT_EQ(r[0], std::to_string(e + 1));
    EXPECT_EQ(r[1].empty(), r[2].empty());  // week and time of week known together
    EXPECT_EQ(r[3], std::to_string(ch));
    EXPECT_EQ(r[4], "G");
    EXPECT_EQ(r[5], std::to_string(script_prn(ch)));
    EXPECT_EQ(r[6], std::to_string(script_state(k)));
    EXPECT_EQ(r[7], "0");  // the script's data bits carry no preamble
    EXPECT_EQ(r[8], "");   // no transmit time without frame sync
    EXPECT_EQ(r[9], "");
    for (const std::size_t f : {10u, 11u, 14u, 15u}) EXPECT_EQ(r[f], "") << f;
    EXPECT_EQ(r[16], "0");  // no fix: no channel used
    if (script_state(k) >= 3) {
      ASSERT_FALSE(r[12].empty());
      EXPECT_NEAR(std::stod(r[12]), doppler_of_word(script_nco_word(ch)), 0.05);
      EXPECT_EQ(r[12].size() - r[12].find('.') - 1, 4u);  // 4 decimals
      EXPECT_EQ(r[13], "0.00");                           // the script's C/N0 divider is 0: no usable C/N0
    } else {
      EXPECT_EQ(r[12], "");
      EXPECT_EQ(r[13], "");
    }
  }
}

TEST(MeasCsv, UncreatableFileIsAnOutputFault) {
  talon_test::TempDir dir;
  const int pid =
      link_test::spawn(dir.path(), link_test::target_exe(), {"--write-set", dir.path(), "--epochs", "5"}, "target.out");
  ASSERT_EQ(talon_test::wait_talonhost(pid, 30), 0);
  const link_test::Replay rep = link_test::replay_capturing_commands(
      dir.path(), {"--rtk-mode", "0", "--mode", "1", "--do-kml-output", "0", "--meas-csv", "no/such/dir/m.csv"});
  EXPECT_EQ(rep.exit_code, 4);
}

}  // namespace
