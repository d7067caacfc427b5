// End to end: cold-start replay sets of the simulated sky (tools/sky) replayed
// by the navigation run with --meas-csv, every measurement compared with the
// sky's truth file, and every subframe 1-3 that reaches the ephemeris module
// compared word by word with the words the sky transmitted.
//
// The csv numbers the processed epochs from 1, the truth file its epochs from
// 0; rows are matched by the order of the processed epochs (at the default
// position rate of 1 Hz the epochs at millisecond 500 are discarded), and the
// match is confirmed by the time fields: once GPS time is known the csv's
// gps_week/gps_tow_s must equal the truth's receiver clock time of that epoch.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include "test_util.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/host.h"
#include "kernel/src/kernel.h"
#include "tests/host/sky_truth.h"
#include "tools/sky/sky.h"
#include "tools/sky/sky_link.h"

namespace {

constexpr double C_MPS = 299792458.0;
constexpr double WEEK_S = 604800.0;
constexpr double TX_TOL_S = 0.02 / C_MPS;  // 2 cm of light time
constexpr double DOPPLER_TOL_HZ = 0.05;
constexpr double CN0_TOL_DB = 0.5;
constexpr double TIME_TOL_S = 1e-6;
constexpr double FRAME_SYNC_WITHIN_S = 12.0;  // after the channel's first data bits

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  std::string l;
  while (std::getline(in, l)) v.push_back(l);
  return v;
}

// Wrapped difference of two times of week, s (-302400..302400).
double tow_diff(double a, double b) {
  double d = a - b;
  while (d > WEEK_S / 2) d -= WEEK_S;
  while (d < -WEEK_S / 2) d += WEEK_S;
  return d;
}

using Truth = talon_test::SkyTruth;
using TruthEpoch = talon_test::SkyTruthEpoch;
using TruthSat = talon_test::SkyTruthSat;

// Subframes 1-3 as the ephemeris module received them, written by the
// replay child: one line per hand-over, the PRN and 30 words in hex.
std::FILE* Sf_fp = nullptr;
void record_sf123(S16 prn, const U32 (*dws_p)[10]) {
  std::fprintf(Sf_fp, "%d", prn);
  for (int s = 0; s < 3; ++s)
    for (int w = 0; w < 10; ++w) std::fprintf(Sf_fp, " %08x", static_cast<unsigned>(dws_p[s][w]));
  std::fputc('\n', Sf_fp);
}

// The navigation run of the set in dir in a child process, with the
// subframe observer installed; exit code of the run.
int replay_recording_subframes(const std::string& dir, bool sd_replay) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    Sf_fp = std::fopen("sf123.txt", "w");
    if (Sf_fp == nullptr || std::freopen("replay.out", "w", stdout) == nullptr) _exit(127);
    KCALLBACK_install_sf123_observer(record_sf123);
    std::vector<std::string> all = {"talonhost", "--rtk-mode", "0", "--mode", "1", "--meas-csv", "m.csv"};
    if (sd_replay) all.insert(all.end(), {"--sd-replay", "1"});  // sd_log.dat: its start record names the TCXO mode
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = host_main(static_cast<int>(all.size()), argv.data());
    std::fflush(stdout);
    std::fclose(Sf_fp);
    _exit(rc);
  }
  return talon_test::wait_talonhost(pid, 60);
}

// Word i of the week as the sky transmitted it, in the layout in which the
// data-bit path hands words on (IS-GPS-200 word with D29*, D30* of the word
// before in bits 31..30, the whole word complemented when D30* is 1, so that
// bits 29..6 carry the source data d1..d24 and the parity still checks).
U32 kernel_layout(int prn, int week, int i) {
  const U32 prev = i > 0 ? SKY_nav_word(prn, week, i - 1) : SKY_nav_word(prn, week - 1, 1007999);
  const U32 w = ((prev & 3u) << 30) | SKY_nav_word(prn, week, i);
  return (w & 0x40000000u) != 0 ? ~w : w;
}

struct E2eCase {
  const char* name;
  const char* scenario;                        // sky scenario text
  double sync_within_s = FRAME_SYNC_WITHIN_S;  // first frame sync after the first data bits, s
  bool sd_replay = false;                      // replay the SD-card log (any TCXO mode), else the link log (mode 4)
  std::size_t min_sf_sats = 4;                 // satellites that must deliver subframes 1-3
};

void PrintTo(const E2eCase& c, std::ostream* os) { *os << c.name; }

// Worst errors of a case, printed for the record.
struct Worst {
  double tx_s = 0.0, doppler_hz = 0.0, cn0_db = 0.0, time_s = 0.0, sync_s = 0.0;
  int rows_tx = 0, rows_doppler = 0, rows_cn0 = 0, rows_time = 0, subframes = 0;
};

class KernelSkyE2e : public testing::TestWithParam<E2eCase> {};

TEST_P(KernelSkyE2e, MeasurementsSubframesAndTimeAgainstTruth) {
  const E2eCase& c = GetParam();
  talon_test::TempDir dir;
  {
    std::FILE* f = std::fopen(dir.file("sc.txt").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs(c.scenario, f);
    std::fclose(f);
  }
  char err[256] = "";
  const int n = SKY_LINK_kernel_set(dir.file("sc.txt").c_str(), dir.path().c_str(), err, sizeof err);
  ASSERT_GT(n, 0) << err;
  ASSERT_EQ(replay_recording_subframes(dir.path(), c.sd_replay), 0) << talon_test::read_text(dir.file("replay.out"));

  const Truth truth = talon_test::read_sky_truth(dir.file("truth.csv"));
  ASSERT_EQ(truth.epochs.size(), static_cast<std::size_t>(n));
  std::vector<int> processed;  // truth epoch of each csv epoch (csv epoch k at [k - 1])
  for (std::size_t i = 0; i < truth.epochs.size(); ++i)
    if (truth.epochs[i].gtc_ms != 500) processed.push_back(static_cast<int>(i));

  const std::vector<std::string> csv = lines(talon_test::read_text(dir.file("m.csv")));
  ASSERT_GT(csv.size(), 1u);
  Worst w;
  std::map<int, double> first_bits_s, first_sync_s;  // svid -> receiver clock time (s since start)
  std::map<int, int> last_sync;                      // svid -> frame_sync of its last row
  const double t0 = truth.epochs.front().clock_week * WEEK_S + truth.epochs.front().clock_tow;
  for (std::size_t i = 1; i < csv.size(); ++i) {
    const std::vector<std::string> f = talon_test::split_csv(csv[i]);
    ASSERT_EQ(f.size(), 17u) << csv[i];
    const int e = std::stoi(f[0]);
    ASSERT_GE(e, 1) << csv[i];
    ASSERT_LE(static_cast<std::size_t>(e), processed.size()) << csv[i];
    const int te = processed[static_cast<std::size_t>(e - 1)];
    const TruthEpoch& E = truth.epochs[static_cast<std::size_t>(te)];
    const int svid = std::stoi(f[5]);
    const auto it = truth.sats.find({te, svid});
    ASSERT_NE(it, truth.sats.end()) << "no truth for " << csv[i];
    const TruthSat& S = it->second;
    SCOPED_TRACE(csv[i]);
    EXPECT_EQ(std::stoi(f[6]), S.state);
    const double t = E.clock_week * WEEK_S + E.clock_tow - t0;
    if (!f[1].empty()) {  // GPS time known: the receiver clock's reading
      const double d = (std::stoi(f[1]) - E.clock_week) * WEEK_S + (std::stod(f[2]) - E.clock_tow);
      EXPECT_LE(std::fabs(d), TIME_TOL_S);
      w.time_s = std::max(w.time_s, std::fabs(d));
      ++w.rows_time;
    }
    if (!f[8].empty()) {
      const double d = tow_diff(std::stod(f[8]), S.tx_tow);
      // 2 cm, and one unit of a double time of week: both sides hold the
      // time of week as a double, which resolves 3.5 cm of light above
      // 524 288 s (1.7 cm above 262 144 s).
      const double ulp = std::nextafter(S.tx_tow, 2.0 * WEEK_S) - S.tx_tow;
      EXPECT_LE(std::fabs(d), std::max(TX_TOL_S, ulp * 1.0001)) << d * C_MPS << " m";
      w.tx_s = std::max(w.tx_s, std::fabs(d));
      ++w.rows_tx;
    }
    // The Doppler is the carrier's interval mean once the channel tracked
    // through the whole interval; in its first tracking epoch it is the
    // tracking loop's Doppler at the epoch.
    const auto prev = truth.sats.find({te - 1, svid});
    const bool whole_interval = prev != truth.sats.end() && prev->second.state >= 3;
    const double doppler_truth = whole_interval ? S.mean_doppler : S.doppler_hz;
    if (!f[12].empty() && !std::isnan(doppler_truth)) {
      const double d = std::stod(f[12]) - doppler_truth;
      EXPECT_LE(std::fabs(d), DOPPLER_TOL_HZ);
      w.doppler_hz = std::max(w.doppler_hz, std::fabs(d));
      ++w.rows_doppler;
    }
    if (!f[13].empty()) {
      const double d = std::stod(f[13]) - S.cn0;
      EXPECT_LE(std::fabs(d), CN0_TOL_DB);
      w.cn0_db = std::max(w.cn0_db, std::fabs(d));
      ++w.rows_cn0;
    }
    if (!std::isnan(S.fs_tow) && first_bits_s.count(svid) == 0) first_bits_s[svid] = t;
    if (f[7] == "1" && first_sync_s.count(svid) == 0) first_sync_s[svid] = t;
    last_sync[svid] = f[7] == "1";
  }
  const double t_end = truth.epochs.back().clock_week * WEEK_S + truth.epochs.back().clock_tow - t0;
  EXPECT_GT(w.rows_time, 0) << "GPS time never known";
  EXPECT_GT(w.rows_tx, 0);
  EXPECT_GT(w.rows_doppler, 0);
  EXPECT_GT(w.rows_cn0, 0);
  ASSERT_FALSE(first_bits_s.empty());
  for (const auto& [svid, tb] : first_bits_s) {
    if (tb + FRAME_SYNC_WITHIN_S > t_end) continue;
    SCOPED_TRACE("svid " + std::to_string(svid));
    ASSERT_EQ(first_sync_s.count(svid), 1u) << "never frame-synced";
    EXPECT_LE(first_sync_s[svid] - tb, c.sync_within_s);
    w.sync_s = std::max(w.sync_s, first_sync_s[svid] - tb);
    EXPECT_EQ(last_sync[svid], 1) << "frame sync lost at the end";
  }

  // Subframes 1-3: every word as the sky sent it. The HOW's TOW count names
  // the next subframe; a count of 0 closes the week before.
  const int week0 = truth.epochs.front().clock_week;
  std::set<int> prns_with_sf;
  for (const std::string& l : lines(talon_test::read_text(dir.file("sf123.txt")))) {
    std::istringstream in(l);
    int prn = 0;
    in >> prn;
    std::vector<U32> words;
    std::string h;
    while (in >> h) words.push_back(static_cast<U32>(std::stoul(h, nullptr, 16)));
    ASSERT_EQ(words.size(), 30u) << l;
    for (int s = 0; s < 3; ++s) {
      const U32 how = words[static_cast<std::size_t>(s * 10 + 1)] & 0x3FFFFFFFu;
      const int tow_count = static_cast<int>((how >> 13) & 0x1FFFFu);
      int week = week0;
      int sf_index = tow_count - 1;  // subframe of the week (6 s each)
      if (sf_index < 0) {
        sf_index = 100799;
        --week;
      }
      // A set across the week end: a start-week subframe index is large.
      if (sf_index < 50400 && truth.epochs.front().clock_tow > 302400.0) ++week;
      for (int k = 0; k < 10; ++k) {
        const U32 got = words[static_cast<std::size_t>(s * 10 + k)];
        EXPECT_EQ(got, kernel_layout(prn, week, sf_index * 10 + k))
            << "prn " << prn << " subframe " << s + 1 << " word " << k + 1;
      }
    }
    prns_with_sf.insert(prn);
    ++w.subframes;
  }
  EXPECT_GE(prns_with_sf.size(), c.min_sf_sats) << "too few satellites delivered subframes 1-3";
  std::printf(
      "[ e2e %s ] worst: tx %.3f mm, Doppler %.4f Hz, C/N0 %.2f dB, time %.3g s, frame sync %.1f s; "
      "rows tx %d, Doppler %d, C/N0 %d, time %d; subframe sets %d\n",
      c.name, w.tx_s * C_MPS * 1000.0, w.doppler_hz, w.cn0_db, w.time_s, w.sync_s, w.rows_tx, w.rows_doppler,
      w.rows_cn0, w.rows_time, w.subframes);
}

// Cold starts (zero backup and almanac images) of 90 s, receiver clock off
// GPS time and drifting.
constexpr const char* MODE4_1HZ =
    "start_week = 2400\nstart_tow = 345600\nduration = 90\nnsat = 10\nlat = 35\nlon = 135\nheight = 50\n"
    "clk_bias = 0.0003\nclk_drift = 1e-7\n";
constexpr const char* MODE4_2HZ_SLOTS =
    "start_week = 2400\nstart_tow = 200000\nduration = 90\nnsat = 10\nlat = -33\nlon = 151\nheight = 20\n"
    "clk_bias = -0.0002\nclk_drift = -5e-8\nmeas_rate = 2\ncarrier_slots = 1\n";
constexpr const char* WEEK_END =
    "start_week = 2400\nstart_tow = 604740\nduration = 90\nnsat = 10\nlat = 48\nlon = 11\nheight = 500\n"
    "clk_bias = 0.0001\nclk_drift = 2e-8\n";
constexpr const char* INVERTED =
    "start_week = 2400\nstart_tow = 86400\nduration = 90\nnsat = 10\nlat = 52\nlon = -1\nheight = 80\n"
    "clk_bias = 0.0004\nclk_drift = 0\ninvert_bits = 1\n";
constexpr const char* INVERTED_2HZ_WEEK_END =
    "start_week = 2400\nstart_tow = 604770\nduration = 90\nnsat = 10\nlat = 35\nlon = 135\nheight = 50\n"
    "clk_bias = -0.0003\nclk_drift = 1e-7\nmeas_rate = 2\ncarrier_slots = 1\ninvert_bits = 1\n";
// Data-bit corruption: flipped bits (6 % of the words fail parity), lost
// batches, the polarity changing mid-run. A sync needs a good TLM and HOW and
// the next preamble, so it may take a subframe or two longer.
constexpr double CORRUPT_SYNC_WITHIN_S = 30.0;
constexpr const char* CORRUPT =
    "start_week = 2400\nstart_tow = 400000\nduration = 120\nnsat = 10\nlat = 35\nlon = 135\nheight = 50\n"
    "clk_bias = 0.0002\nclk_drift = 1e-8\nbit_flip_rate = 0.002\nbatch_loss_rate = 0.02\ninvert_bits_at = 45\n";
// TCXO mode 0 (16.368 MHz, unequal milliseconds), replayed from the SD-card log.
constexpr const char* MODE0_1HZ =
    "start_week = 2400\nstart_tow = 250000\nduration = 90\nnsat = 10\nlat = 35\nlon = 135\nheight = 50\n"
    "clk_bias = 0.0003\nclk_drift = 1e-7\ntcxo_mode = 0\n";
constexpr const char* MODE0_2HZ_SLOTS_INVERTED =
    "start_week = 2400\nstart_tow = 604750\nduration = 90\nnsat = 10\nlat = -20\nlon = -60\nheight = 300\n"
    "clk_bias = -0.0001\nclk_drift = -3e-8\ntcxo_mode = 0\nmeas_rate = 2\ncarrier_slots = 1\ninvert_bits = 1\n";
// Heavy damage (14 % of the words lost or failing parity): whole subframes
// 1-3 are rare, but the sync and the time still come and nothing damaged is
// handed on.
constexpr double HEAVY_SYNC_WITHIN_S = 60.0;
constexpr const char* HEAVY_LOSS =
    "start_week = 2400\nstart_tow = 150000\nduration = 120\nnsat = 10\nlat = 60\nlon = 25\nheight = 10\n"
    "bit_flip_rate = 0.005\nbatch_loss_rate = 0.08\ninvert_bits = 1\ninvert_bits_at = 70\n";
constexpr const char* POLARITY_FLIP =
    "start_week = 2400\nstart_tow = 500000\nduration = 90\nnsat = 10\nlat = 35\nlon = 135\nheight = 50\n"
    "invert_bits_at = 40\n";

INSTANTIATE_TEST_SUITE_P(Sky, KernelSkyE2e,
                         testing::Values(E2eCase{"mode4_1hz_week2400", MODE4_1HZ},
                                         E2eCase{"mode4_2hz_slots", MODE4_2HZ_SLOTS},
                                         E2eCase{"across_week_end", WEEK_END}, E2eCase{"inverted_bits", INVERTED},
                                         E2eCase{"inverted_2hz_week_end", INVERTED_2HZ_WEEK_END},
                                         E2eCase{"corrupted_bits", CORRUPT, CORRUPT_SYNC_WITHIN_S},
                                         E2eCase{"polarity_flip", POLARITY_FLIP},
                                         E2eCase{"heavy_loss", HEAVY_LOSS, HEAVY_SYNC_WITHIN_S, false, 0},
                                         E2eCase{"mode0_1hz_sd_log", MODE0_1HZ, FRAME_SYNC_WITHIN_S, true},
                                         E2eCase{"mode0_2hz_slots_inverted_week_end_sd_log", MODE0_2HZ_SLOTS_INVERTED,
                                                 FRAME_SYNC_WITHIN_S, true},
                                         E2eCase{"mode4_1hz_sd_log", MODE4_1HZ, FRAME_SYNC_WITHIN_S, true}),
                         [](const testing::TestParamInfo<E2eCase>& i) { return std::string(i.param.name); });

}  // namespace
