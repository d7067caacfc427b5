// The measurement log of replays of simulated-sky cold-start sets against the
// sky's truth file: transmit time, raw pseudorange, Doppler, C/N0 and the
// adjusted GPS time of every row, and frame sync on every tracked channel.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "test_util.h"

namespace {

using Fields = std::vector<std::string>;

// truth.csv: E rows by epoch, S rows by (epoch, channel).
struct Truth {
  std::map<int, Fields> e;
  std::map<std::pair<int, int>, Fields> s;
};

Truth read_truth(const std::string& path) {
  Truth t;
  std::istringstream in(talon_test::read_text(path));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const Fields f = talon_test::split_csv(line);
    if (f[0] == "E") t.e[std::stoi(f[1])] = f;
    if (f[0] == "S") t.s[{std::stoi(f[1]), std::stoi(f[3])}] = f;
  }
  return t;
}

// Truth columns.
enum { E_GTC_MS = 4, E_CLOCK_WEEK = 7, E_CLOCK_TOW = 8 };
enum { S_SVID = 2, S_STATE = 4, S_TX_TOW = 6, S_PR = 8, S_DOPPLER = 10, S_CN0 = 11, S_MEAN_DOPPLER = 16 };
// Measurement-log columns.
enum { M_EPOCH, M_WEEK, M_TOW, M_CH, M_GNSS, M_SVID, M_STATE, M_FS, M_TX, M_PR, M_CPR, M_RR, M_DOPP, M_CN0 };

struct SkyCase {
  const char* name;
  const char* extra;  // scenario lines beside the common ones
};
void PrintTo(const SkyCase& c, std::ostream* os) { *os << c.name; }
class MeasCsvSky : public ::testing::TestWithParam<SkyCase> {};

TEST_P(MeasCsvSky, RowsAgreeWithTheSkyTruth) {
  talon_test::TempDir dir;
  {
    std::ofstream sc(dir.file("sc.txt"));
    sc << "start_week = 2400\nduration = 60\nnsat = 8\nlat = 35\nlon = 135\nheight = 50\n"
          "clk_bias = 0.0005\nclk_drift = 1e-7\n"
       << GetParam().extra;
  }
  int pid = talon_test::spawn_program(dir.path(), TALON_SCENARIO_SIM_EXE, {"--kernel-set", "sc.txt", "."}, "sim.out",
                                      "sim.err");
  ASSERT_EQ(talon_test::wait_talonhost(pid, 60), 0) << talon_test::read_text(dir.file("sim.err"));
  pid = talon_test::spawn_program(dir.path(), TALONHOST_EXE,
                                  {"--rtk-mode", "0", "--mode", "1", "--do-kml-output", "0", "--meas-csv", "m.csv"},
                                  "out.txt", "err.txt");
  ASSERT_EQ(talon_test::wait_talonhost(pid, 60), 0) << talon_test::read_text(dir.file("err.txt"));

  const Truth truth = read_truth(dir.file("truth.csv"));
  // The epochs the host processes: one a second (the time count's millisecond 0).
  std::vector<int> processed;
  for (const auto& [k, e] : truth.e)
    if (e[E_GTC_MS] == "0") processed.push_back(k);

  std::istringstream in(talon_test::read_text(dir.file("m.csv")));
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  std::map<int, bool> tracked_before;  // channel -> a tracking row was seen
  std::map<int, bool> synced;          // channel -> frame sync seen
  int rows = 0, with_tx = 0, with_time = 0;
  while (std::getline(in, line)) {
    const Fields m = talon_test::split_csv(line);
    ASSERT_EQ(m.size(), 17u) << line;
    const std::size_t idx = static_cast<std::size_t>(std::stoi(m[M_EPOCH]) - 1);
    ASSERT_LT(idx, processed.size());
    const int k = processed[idx];
    const int ch = std::stoi(m[M_CH]);
    const auto it = truth.s.find({k, ch});
    ASSERT_NE(it, truth.s.end()) << line;
    const Fields& t = it->second;
    const Fields& e = truth.e.at(k);
    SCOPED_TRACE(line);
    ++rows;
    EXPECT_EQ(m[M_GNSS], "G");
    EXPECT_EQ(m[M_SVID], t[S_SVID]);
    EXPECT_EQ(m[M_STATE], t[S_STATE]);
    if (!m[M_TOW].empty()) {  // the receiver's own clock, adjusted to GPS time
      ++with_time;
      EXPECT_EQ(m[M_WEEK], e[E_CLOCK_WEEK]);
      EXPECT_NEAR(std::stod(m[M_TOW]), std::stod(e[E_CLOCK_TOW]), 1e-6);
    }
    if (!m[M_TX].empty()) {
      ++with_tx;
      // 2 cm, plus one step of a double at this time of week (above 2^19 s
      // a step is 1.2e-10 s, 3.5 cm: both files print the nearest double).
      const double tx = std::stod(t[S_TX_TOW]);
      EXPECT_NEAR(std::stod(m[M_TX]), tx, 0.02 / 299792458.0 + (std::nextafter(tx, 1e9) - tx));
      // The transmit time's resolution (1/8192 chip, within 1.8 cm) plus the
      // truth's own pseudorange column against its clock and transmit-time
      // columns (within 0.9 cm): 3 cm.
      if (!m[M_PR].empty()) {
        EXPECT_NEAR(std::stod(m[M_PR]), std::stod(t[S_PR]), 0.03);
      }
    }
    if (m[M_FS] == "1") synced[ch] = true;
    if (std::stoi(m[M_STATE]) >= 3) {
      // First tracking epoch: the NCO's Doppler at the epoch; later the
      // accumulated carrier's mean over the interval.
      const bool first = !tracked_before[ch];
      const std::string& want = first || t[S_MEAN_DOPPLER].empty() ? t[S_DOPPLER] : t[S_MEAN_DOPPLER];
      EXPECT_NEAR(std::stod(m[M_DOPP]), std::stod(want), 0.05);
      if (std::stod(t[S_CN0]) >= 27.0) {  // the sky's C/N0 fields resolve 0.2 dB above 27 dB-Hz
        EXPECT_NEAR(std::stod(m[M_CN0]), std::stod(t[S_CN0]), 0.5);
      }
      tracked_before[ch] = true;
    }
  }
  int reported = 0;  // satellites the target reported in the processed epochs
  for (const int k : processed)
    for (int ch = 0; ch < 20; ++ch) reported += truth.s.count({k, ch}) != 0 ? 1 : 0;
  EXPECT_EQ(rows, reported);
  EXPECT_GT(with_tx, rows / 2);
  EXPECT_GT(with_time, rows / 4);
  for (const auto& [ch, seen] : tracked_before) EXPECT_TRUE(synced[ch]) << "channel " << ch;
}

INSTANTIATE_TEST_SUITE_P(Sets, MeasCsvSky,
                         ::testing::Values(SkyCase{"mode4_1hz", "start_tow = 345600\n"},
                                           SkyCase{"mode4_2hz_slots_inverted_bits",
                                                   "start_tow = 345600\nmeas_rate = 2\ncarrier_slots = 1\n"
                                                   "invert_bits = 1\n"},
                                           SkyCase{"across_the_week_end", "start_tow = 604770\n"}),
                         [](const ::testing::TestParamInfo<SkyCase>& i) { return std::string(i.param.name); });

}  // namespace
