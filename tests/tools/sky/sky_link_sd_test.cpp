// The SD-card log of a replay set: its header (zero backup image, the kernel
// start record with the set's TCXO mode, the RTC record; big-endian, CRC-16
// over each record as stored) rebuilt here field by field, and SD-card
// replays by talonhost that start the kernel in the set's TCXO mode.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host/host.h"
#include "kernel/src/tcxo_freq.h"
#include "tests/test_util.h"
#include "tests/tools/sky/sky_link_fake.h"
#include "tools/sky/sky_link.h"

namespace {

using namespace sky_fake;
using namespace talon_test;
using Bytes = std::vector<unsigned char>;

// CRC-16/XMODEM bit by bit: polynomial 0x1021, initial value 0, no
// reflection, no final XOR.
unsigned crc_xmodem(const unsigned char* p, std::size_t n) {
  unsigned crc = 0;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= static_cast<unsigned>(p[i]) << 8;
    for (int b = 0; b < 8; ++b) crc = (crc & 0x8000U) != 0 ? ((crc << 1) ^ 0x1021U) & 0xFFFFU : (crc << 1) & 0xFFFFU;
  }
  return crc;
}

TEST(SkyLinkSd, BitwiseCrcGivesThePublishedCheckValues) {
  const std::string check = "123456789", abc = "abc";
  EXPECT_EQ(crc_xmodem(reinterpret_cast<const unsigned char*>(check.data()), check.size()), 0x31C3U);
  EXPECT_EQ(crc_xmodem(reinterpret_cast<const unsigned char*>(abc.data()), abc.size()), 0x9DD6U);
}

// Big-endian field writers.
void be(Bytes& b, unsigned long long v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void be16s(Bytes& b, std::initializer_list<int> vs) {
  for (int v : vs) be(b, static_cast<unsigned short>(v), 2);
}

// The kernel start record of a cold-start replay in TCXO mode `mode`, field
// by field in its stored order, then its CRC.
Bytes expected_record(int mode) {
  Bytes b;
  be(b, 0, 4);                               // backup_mem_p
  be(b, 0, 4);                               // nvram_alm_mem_p
  be(b, 0, 4);                               // nvram_alm_const_mem_p
  be(b, 0, 4);                               // init_pos_p: no position/time record follows
  be16s(b, {0, 0, 1, mode, 0, 0, 6, 0, 0});  // force_warm, force_cold, power_saving_mode, tcxo_freq_mode, rf_bit_mode,
                                             // tcxo_ppm, npse, pse_duty_power_mode, dazar_mode
  EXPECT_EQ(b.size(), 34U);
  for (int v : {1, 2, 8, 1, 2, 7}) b.push_back(static_cast<unsigned char>(v));  // SBAS parameters
  for (int v : {1, 1}) b.push_back(static_cast<unsigned char>(v));              // QZSS parameters
  be16s(b, {0, 0, 0, 0});                                                       // user reference date: off
  be16s(b, {1, 0, 1, 1, 0, 0});  // reset_kernel_settings, tm_cal_np_enable, gnss_select_bits, position_rate,
                                 // nav_platform_model, rsvd
  be16s(b, {1, 300, 300, 300});  // DOP mask: auto, PDOP, HDOP, GDOP (tenths)
  be16s(b, {1, 1});              // 2-D fixes at and after the first fix
  EXPECT_EQ(b.size(), 74U);
  be(b, 0, 2);  // padding before the 32-bit field
  be(b, 0, 4);  // clock_offset_from_flash, Hz
  be16s(b, {16});
  EXPECT_EQ(b.size(), 82U);
  b.push_back(1);  // elv_cnr_select_mode
  b.push_back(0);  // padding
  be16s(b, {5, 0});
  EXPECT_EQ(b.size(), 88U);
  be(b, crc_xmodem(b.data(), 88), 2);
  return b;
}

Bytes expected_rtc(const SKY_RTC_T& r) {
  Bytes b;
  be(b, static_cast<unsigned>(r.sec), 4);
  be(b, r.subsec, 4);
  be(b, static_cast<unsigned short>(r.wn), 2);
  be(b, crc_xmodem(b.data(), 10), 2);
  return b;
}

SKY_SCENARIO_T short_scenario(int mode, double duration) {
  SKY_SCENARIO_T sc;
  sc.start = SKY_GPST_T{2400, 345600.0};
  sc.duration_s = duration;
  sc.tcxo_mode = mode;
  return sc;
}

class SkyLinkSdHeader : public testing::TestWithParam<int> {};

TEST_P(SkyLinkSdHeader, HeaderIsTheZeroImageTheStartRecordAndTheRtcRecordThenTheLinkStream) {
  const int mode = GetParam();
  fake_reset(4);
  TempDir dir;
  const SKY_SCENARIO_T sc = short_scenario(mode, 5.0);
  char err[200] = "";
  ASSERT_EQ(SKY_LINK_write_set(&sc, SKY_LINK_PARAM_T{}, fake_source(), dir.path().c_str(), err, sizeof err), 5) << err;
  Bytes want(20480, 0);
  const Bytes rec = expected_record(mode);
  want.insert(want.end(), rec.begin(), rec.end());
  const Bytes rtc = expected_rtc(SKY_LINK_rtc_at(SKY_RTC_MODEL_T{}, sc.start));
  want.insert(want.end(), rtc.begin(), rtc.end());
  ASSERT_EQ(want.size(), SKY_LINK_SD_HEADER_SIZE);
  const Bytes link = read_file(dir.file("log_data.dat"));
  ASSERT_FALSE(link.empty());
  want.insert(want.end(), link.begin(), link.end());
  const Bytes sd = read_file(dir.file("sd_log.dat"));
  ASSERT_EQ(sd.size(), want.size());
  for (std::size_t i = 0; i < sd.size(); ++i) ASSERT_EQ(sd[i], want[i]) << "byte " << i;
}

INSTANTIATE_TEST_SUITE_P(TcxoModes, SkyLinkSdHeader, testing::Values(0, 1, 2, 3, 4),
                         [](const testing::TestParamInfo<int>& i) { return "mode" + std::to_string(i.param); });

TEST(SkyLinkSd, HeaderEncoderRefusesABadModeAndAShortBuffer) {
  std::vector<U08> buf(SKY_LINK_SD_HEADER_SIZE);
  const SKY_RTC_T rtc{};
  EXPECT_EQ(SKY_LINK_sd_header(5, rtc, buf.data(), buf.size()), -1);
  EXPECT_EQ(SKY_LINK_sd_header(-1, rtc, buf.data(), buf.size()), -1);
  EXPECT_EQ(SKY_LINK_sd_header(0, rtc, buf.data(), buf.size() - 1), -1);
  EXPECT_EQ(SKY_LINK_sd_header(0, rtc, nullptr, buf.size()), -1);
  EXPECT_EQ(SKY_LINK_sd_header(0, rtc, buf.data(), buf.size()), static_cast<int>(SKY_LINK_SD_HEADER_SIZE));
}

struct HostRun {
  int exit_code = -1;
  std::string out;
  unsigned long tcxo_hz = 0;  // the kernel's TCXO frequency after the run
};

// Run the program's main in a child process in dir (stdout to a file there)
// and read the kernel's TCXO frequency after the run.
HostRun run_host_in(const std::string& dir, const std::vector<std::string>& args) {
  const std::string out_file = dir + "/host.out", tcxo_file = dir + "/tcxo.txt";
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    const int fo = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fo, 1);
    std::vector<std::string> all = {"talonhost"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = host_main(static_cast<int>(all.size()), argv.data());
    std::fflush(stdout);
    std::FILE* f = std::fopen(tcxo_file.c_str(), "w");
    if (f != nullptr) {
      std::fprintf(f, "%lu\n", static_cast<unsigned long>(TCXO_get_tcxo_freq()));
      std::fclose(f);
    }
    _exit(rc);
  }
  HostRun r;
  r.exit_code = wait_talonhost(pid, 60);
  r.out = read_text(out_file);
  const std::string t = read_text(tcxo_file);
  if (!t.empty()) r.tcxo_hz = std::stoul(t);
  return r;
}

const std::vector<std::string> SD_ARGS = {"--rtk-mode", "0", "--mode", "1", "--sd-replay", "1", "--do-kml-output", "0"};
const std::vector<std::string> PLAIN_ARGS = {"--rtk-mode", "0", "--mode", "1", "--do-kml-output", "0"};

struct SdReplayCase {
  const char* name;
  int mode;
  unsigned long tcxo_hz;  // nominal frequency of the mode
};

void PrintTo(const SdReplayCase& c, std::ostream* os) { *os << c.name; }

class SkyLinkSdReplay : public testing::TestWithParam<SdReplayCase> {};

// An SD-card replay starts the kernel in the set's TCXO mode and runs every
// epoch; the plain replay of the same set starts it in mode 4 (24.552 MHz).
TEST_P(SkyLinkSdReplay, StartsTheKernelInTheSetsTcxoMode) {
  const SdReplayCase& c = GetParam();
  fake_reset(6);
  TempDir dir;
  const SKY_SCENARIO_T sc = short_scenario(c.mode, 10.0);
  char err[200] = "";
  const int n = SKY_LINK_write_set(&sc, SKY_LINK_PARAM_T{}, fake_source(), dir.path().c_str(), err, sizeof err);
  ASSERT_EQ(n, 10) << err;
  const HostRun sd = run_host_in(dir.path(), SD_ARGS);
  EXPECT_EQ(sd.exit_code, 0) << sd.out;
  EXPECT_NE(sd.out.find("Start in SD Card replay mode...."), std::string::npos) << sd.out;
  EXPECT_EQ(sd.tcxo_hz, c.tcxo_hz);
  EXPECT_GE(count_of(sd.out, "Power on count: "), n) << sd.out;  // a console table per epoch
  const HostRun plain = run_host_in(dir.path(), PLAIN_ARGS);
  EXPECT_EQ(plain.exit_code, 0) << plain.out;
  EXPECT_EQ(plain.tcxo_hz, 24552000UL);
  // The start record is the host's built-in one but for the mode: a mode-4
  // set prints the same in both forms after the start line.
  if (c.mode == 4) {
    const std::string sd_start = "Start in SD Card replay mode....\n", plain_start = "Start in replay mode....\n";
    std::string sd_out = sd.out;
    const std::size_t at = sd_out.find(sd_start);
    ASSERT_NE(at, std::string::npos);
    sd_out.replace(at, sd_start.size(), plain_start);
    EXPECT_EQ(sd_out, plain.out);
  }
}

INSTANTIATE_TEST_SUITE_P(TcxoModes, SkyLinkSdReplay,
                         testing::Values(SdReplayCase{"mode0_16367667", 0, 16367667},
                                         SdReplayCase{"mode1_16368000", 1, 16368000},
                                         SdReplayCase{"mode2_16369000", 2, 16369000},
                                         SdReplayCase{"mode3_19500000", 3, 19500000},
                                         SdReplayCase{"mode4_24552000", 4, 24552000}),
                         [](const testing::TestParamInfo<SdReplayCase>& i) { return std::string(i.param.name); });

#ifdef TALON_SCENARIO_SIM_EXE
// scenario_sim --kernel-set on a mode-0 sky scenario: its SD-card log replays
// to the end with the kernel in mode 0.
TEST(SkyLinkSd, KernelSetOfAMode0SkyReplaysInMode0) {
  TempDir dir;
  write_file(dir.file("sc.txt"), [] {
    const std::string s =
        "start_week = 2400\nstart_tow = 345600\nduration = 12\nlat = 35\nlon = 139\nheight = 40\ntcxo_mode = 0\n";
    return Bytes(s.begin(), s.end());
  }());
  const int pid =
      spawn_program(dir.path(), TALON_SCENARIO_SIM_EXE, {"--kernel-set", "sc.txt", "."}, "sim.out", "sim.out");
  ASSERT_EQ(wait_talonhost(pid, 60), 0) << read_text(dir.file("sim.out"));
  const HostRun sd = run_host_in(dir.path(), SD_ARGS);
  EXPECT_EQ(sd.exit_code, 0) << sd.out;
  EXPECT_EQ(sd.tcxo_hz, 16367667UL);
  EXPECT_EQ(count_of(sd.out, "Power on count: "), 12) << sd.out;  // a console table per epoch
}
#endif

}  // namespace
