// Start-up and log files: the SD-card log header (big-endian, CRC-checked)
// written here byte by byte, SD-card replay and conversion runs, the replay
// start-up files and the recorder file.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <tuple>

#include "host/host_files.h"
#include "kernel/src/kernel.h"
#include "link_test_util.h"
#include "misc/crc16.h"

namespace {

using link_test::Bytes;
using talon_test::read_file;
using talon_test::write_file;

// Run a block in another working directory.
struct Cwd {
  std::filesystem::path old = std::filesystem::current_path();
  explicit Cwd(const std::string& dir) { std::filesystem::current_path(dir); }
  ~Cwd() { std::filesystem::current_path(old); }
};

void be(Bytes& b, U64 v, int n) {
  for (int i = n - 1; i >= 0; --i) b.push_back(static_cast<U08>(v >> (8 * i)));
}
void be16(Bytes& b, std::initializer_list<int> vs) {
  for (int v : vs) be(b, static_cast<U16>(v), 2);
}
void be_d(Bytes& b, double d) {
  U64 u = 0;
  std::memcpy(&u, &d, 8);
  be(b, u, 8);
}
void add_crc(Bytes& b, std::size_t from) {
  const U16 c = crc16(b.data() + from, b.size() - from);
  be(b, c, 2);
}

struct SdHeader {
  S16 tcxo_freq_mode = 4;
  S16 npse = 6;
  S16 nav_platform_model = 2;
  S32 clock_offset = 1234;  // Hz
  bool pos = false;
  bool bad_init_crc = false;
  bool bad_pos_crc = false;
  bool bad_rtc_crc = false;
  std::size_t image_size = 20480;
  int rtc_bytes = 12;
};

constexpr S16 SD_RTC_WN = 2299;
constexpr S32 SD_RTC_SEC = 600000;
constexpr U32 SD_RTC_SUBSEC = 32767;

Bytes image_pattern() {
  Bytes img(20480);
  for (std::size_t i = 0; i < img.size(); ++i) img[i] = static_cast<U08>(i * 31 + 7);
  return img;
}

// sd_log.dat header as the target writes it: image, KERNEL_INIT_T + CRC,
// optional KERNEL_INIT_POS_TIME_T + CRC, SAVE_RTC_T; all big-endian.
Bytes sd_header(const SdHeader& h) {
  Bytes b = image_pattern();
  b.resize(h.image_size);
  if (h.image_size < 20480) return b;
  const std::size_t rec = b.size();
  be(b, 0x20001000, 4);              // backup_mem_p (target address)
  be(b, 0x20006000, 4);              // nvram_alm_mem_p
  be(b, 0, 4);                       // nvram_alm_const_mem_p
  be(b, h.pos ? 0x20008000 : 0, 4);  // init_pos_p
  be16(b, {0, 0, 1, h.tcxo_freq_mode, 0, 2, h.npse, 0, 0});
  for (U08 v : {1, 2, 8, 1, 2, 7, 1, 1}) b.push_back(v);  // SBAS, QZSS parameters
  be16(b, {1, 2026, 12, 6});                              // user time
  be16(b, {1, 1, 0x0101, 1});               // reset_kernel_settings, tm_cal_np_enable, gnss_select_bits, position_rate
  be16(b, {h.nav_platform_model, 0xABCD});  // and rsvd
  be16(b, {1, 300, 250, 400, 1, 0, 0});     // DOP mask, 2D navigation at / after the first fix, padding
  be(b, static_cast<U32>(h.clock_offset), 4);
  be16(b, {18});              // leap_sec_from_flash
  b.insert(b.end(), {1, 0});  // elv_cnr_select_mode, padding
  be16(b, {5, -3});           // elevation and C/N0 masks
  EXPECT_EQ(b.size() - rec, 88u);
  add_crc(b, rec);
  if (h.bad_init_crc) b.back() ^= 0x01;
  if (h.pos) {
    const std::size_t p = b.size();
    be_d(b, 35.5);
    be_d(b, -139.25);
    be_d(b, 42.5);
    be16(b, {1, 2300});
    be(b, 345600, 4);
    be16(b, {2026, 12, 6, 10, 30, 59});
    be(b, 0x01020304, 4);
    EXPECT_EQ(b.size() - p, 48u);
    add_crc(b, p);
    if (h.bad_pos_crc) b[p + 3] ^= 0x40;
  }
  Bytes rtc;
  be(rtc, static_cast<U32>(SD_RTC_SEC), 4);
  be(rtc, SD_RTC_SUBSEC, 4);
  be(rtc, static_cast<U16>(SD_RTC_WN), 2);
  add_crc(rtc, 0);
  if (h.bad_rtc_crc) rtc[9] ^= 0x01;
  b.insert(b.end(), rtc.begin(), rtc.begin() + h.rtc_bytes);
  return b;
}

struct SdCase {
  const char* name;
  SdHeader h;
  int ret;      // init_sd_replay_data
  bool record;  // kernel initialisation record accepted
  bool pos;     // position/time record attached
  bool rtc;     // RTC reading handed to the proxy
};

void PrintTo(const SdCase& c, std::ostream* os) { *os << c.name; }

class SdHeaderRead : public ::testing::TestWithParam<SdCase> {};

TEST_P(SdHeaderRead, AcceptsOrRejectsEachRecord) {
  const SdCase& c = GetParam();
  talon_test::TempDir dir;
  const Bytes stream = {0x4A, 0x58, 0x0F, 0x1D};
  Bytes file = sd_header(c.h);
  const std::size_t header_size = file.size();
  if (c.h.rtc_bytes == 12) file.insert(file.end(), stream.begin(), stream.end());
  write_file(dir.file("sd_log.dat"), file);

  WRAP_init(0, nullptr);
  std::FILE* fp = std::fopen(dir.file("sd_log.dat").c_str(), "rb");
  ASSERT_NE(fp, nullptr);
  EXPECT_EQ(init_sd_replay_data(fp, 0), c.ret);
  if (c.ret == 1) {
    EXPECT_EQ(std::ftell(fp), static_cast<long>(header_size));  // at the link stream
  }
  std::fclose(fp);

  EXPECT_EQ(std::memcmp(HOST_get_backup_region(), image_pattern().data(), std::min<std::size_t>(c.h.image_size, 20480)),
            0);
  const KERNEL_INIT_T* k = HOST_get_sd_kernel_init_data();
  ASSERT_EQ(k != nullptr, c.record);
  if (k != nullptr) {
    using std::tuple;
    EXPECT_EQ(tuple(k->backup_mem_p, k->nvram_alm_mem_p), tuple(nullptr, nullptr));  // target addresses never kept
    EXPECT_EQ(tuple(k->power_saving_mode, k->tcxo_freq_mode, k->tcxo_ppm, k->npse),
              tuple(1, c.h.tcxo_freq_mode, 2, c.h.npse));
    EXPECT_EQ(tuple(k->sbas_para.ranging_ura_mask, k->sbas_para.subsystem_mask, k->qzss_para.qzss_max_num),
              tuple(8, 7, 1));
    EXPECT_EQ(tuple(k->usr_in_time_sync.year, k->usr_in_time_sync.day, k->tm_cal_np_enable, k->gnss_select_bits),
              tuple(2026, 6, 1, 0x0101));
    EXPECT_EQ(tuple(k->nav_platform_model, k->rsvd), tuple(c.h.nav_platform_model, 0xABCD));
    EXPECT_EQ(tuple(k->dop_mask.mask_mode_S16, k->dop_mask.hdop_mask_U16, k->dop_mask.gdop_mask_U16),
              tuple(1, 250, 400));
    EXPECT_EQ(tuple(k->enable_2D_navigation_at_first_pos_fix, k->enable_2D_navigation_after_first_pos_fix),
              tuple(1, 0));
    EXPECT_EQ(tuple(k->clock_offset_from_flash, k->leap_sec_from_flash), tuple(c.h.clock_offset, 18));
    EXPECT_EQ(tuple(k->elv_cnr_mask.elv_cnr_select_mode, k->elv_cnr_mask.elv_mask, k->elv_cnr_mask.cnr_mask),
              tuple(1, 5, -3));
    ASSERT_EQ(k->init_pos_p != nullptr, c.pos);
    if (c.pos) {
      const KERNEL_INIT_POS_TIME_T& p = *k->init_pos_p;
      EXPECT_EQ(tuple(p.lat_deg, p.lon_deg, p.alt), tuple(35.5, -139.25, 42.5));
      EXPECT_EQ(tuple(p.time_format_select, p.wn, p.tow, p.year, p.sec, p.rsvd),
                tuple(1, 2300, 345600, 2026, 59, 0x01020304u));
    }
  }
  S16 wn = 0;
  S32 sec = 0;
  U32 subsec = 0;
  ASSERT_EQ(ASIC_get_rtc(&wn, &sec, &subsec), c.rtc ? 1 : 0);
  if (c.rtc) {
    EXPECT_EQ(std::tuple(wn, sec, subsec), std::tuple(SD_RTC_WN, SD_RTC_SEC, SD_RTC_SUBSEC));
  }
}

SdHeader with(std::function<void(SdHeader&)> f) {
  SdHeader h;
  f(h);
  return h;
}

INSTANTIATE_TEST_SUITE_P(
    SdLog, SdHeaderRead,
    ::testing::Values(
        SdCase{"plain", SdHeader{}, 1, true, false, true},
        SdCase{"with_position", with([](SdHeader& h) { h.pos = true; }), 1, true, true, true},
        SdCase{"position_bad_crc", with([](SdHeader& h) { h.pos = h.bad_pos_crc = true; }), 1, true, false, true},
        // The RTC record is still read from the bytes after the 90-byte block.
        SdCase{"init_bad_crc", with([](SdHeader& h) { h.bad_init_crc = true; }), 1, false, false, true},
        SdCase{"tcxo_mode_5", with([](SdHeader& h) { h.tcxo_freq_mode = 5; }), 1, false, false, true},
        SdCase{"tcxo_mode_negative", with([](SdHeader& h) { h.tcxo_freq_mode = -1; }), 1, false, false, true},
        SdCase{"platform_model_6", with([](SdHeader& h) { h.nav_platform_model = 6; }), 1, false, false, true},
        SdCase{"npse_9", with([](SdHeader& h) { h.npse = 9; }), 1, false, false, true},
        SdCase{"npse_negative", with([](SdHeader& h) { h.npse = -1; }), 1, false, false, true},
        SdCase{"limits_accepted", with([](SdHeader& h) {
                 h.tcxo_freq_mode = 0;
                 h.npse = 8;
                 h.nav_platform_model = 5;
               }),
               1, true, false, true},
        SdCase{"rtc_bad_crc", with([](SdHeader& h) { h.bad_rtc_crc = true; }), 1, true, false, false},
        SdCase{"short_rtc", with([](SdHeader& h) { h.rtc_bytes = 11; }), 0, true, false, false},
        SdCase{"short_image", with([](SdHeader& h) { h.image_size = 20479; }), 0, false, false, false}),
    [](const ::testing::TestParamInfo<SdCase>& i) { return std::string(i.param.name); });

TEST(SdLog, KernelInitByteOrderConversionSwapsEveryMultiByteField) {
  KERNEL_INIT_T k{};
  k.npse = 0x0102;
  k.gnss_select_bits = 0x0304;
  k.clock_offset_from_flash = 0x05060708;
  k.elv_cnr_mask = {9, 0x0A0B, 0x0C0D};
  k.sbas_para.sbas_enable_disable = 0x11;
  KERNEL_init_data_endian_conversion(&k);
  EXPECT_EQ(std::tuple(k.npse, k.gnss_select_bits, k.clock_offset_from_flash), std::tuple(0x0201, 0x0403, 0x08070605));
  EXPECT_EQ(std::tuple(k.elv_cnr_mask.elv_cnr_select_mode, k.elv_cnr_mask.elv_mask, k.elv_cnr_mask.cnr_mask),
            std::tuple(9, 0x0B0A, 0x0D0C));
  EXPECT_EQ(k.sbas_para.sbas_enable_disable, 0x11);
  KERNEL_INIT_POS_TIME_T p{};
  p.tow = 0x01020304;
  p.minute = 0x0506;
  KERNEL_init_pos_time_endian_conversion(&p);
  EXPECT_EQ(std::tuple(p.tow, p.minute), std::tuple(0x04030201, 0x0605));
}

// Scripted target's report stream for the program runs.
Bytes script_stream(int epochs) {
  talon_test::TempDir d;
  const int pid = link_test::spawn(d.path(), link_test::target_exe(),
                                   {"--write-set", d.path(), "--epochs", std::to_string(epochs)}, "out");
  EXPECT_EQ(talon_test::wait_talonhost(pid, 30), 0);
  return read_file(d.file("log_data.dat"));
}

S32 clock_offset_sent(const std::vector<Bytes>& cmds) {
  for (const Bytes& c : cmds)
    if (c.size() == 8 && c[2] == 10)
      return static_cast<S32>((U32{c[3]} << 24) | (U32{c[4]} << 16) | (U32{c[5]} << 8) | c[6]);
  return -1;
}

// The scripted target's stream of 20 epochs, made once, behind the SD-card
// headers of the runs below.
class SdScriptStream : public ::testing::Test {
 protected:
  static constexpr int EPOCHS = 20;
  static void SetUpTestSuite() {
    if (Stream.empty()) Stream = script_stream(EPOCHS);
  }
  static inline Bytes Stream;
  static inline const std::vector<std::string> SD_ARGS = {"--rtk-mode",  "0", "--mode",          "1",
                                                          "--sd-replay", "1", "--do-kml-output", "0"};
};

struct SdRun {
  const char* name;
  SdHeader h;
  int rc;
  S32 clock_offset;  // the record's clock offset (Hz), or the built-in 0
};

void PrintTo(const SdRun& c, std::ostream* os) { *os << c.name; }

class SdReplayRun : public SdScriptStream, public ::testing::WithParamInterface<SdRun> {};

TEST_P(SdReplayRun, UsesTheAcceptedRecord) {
  const SdRun& r = GetParam();
  ASSERT_GT(Stream.size(), 100u);
  talon_test::TempDir dir;
  Bytes file = sd_header(r.h);
  if (r.h.image_size == 20480) file.insert(file.end(), Stream.begin(), Stream.end());
  write_file(dir.file("sd_log.dat"), file);
  const link_test::Replay rep = link_test::replay_capturing_commands(dir.path(), SD_ARGS);
  EXPECT_EQ(rep.exit_code, r.rc) << rep.out;
  if (r.rc != 0) return;
  EXPECT_NE(rep.out.find("Start in SD Card replay mode...."), std::string::npos);
  EXPECT_EQ(talon_test::count_of(rep.out, "fix mode = 0,"), link_test::reported_epochs(EPOCHS));
  // The search sends it in its engine's units: offset0 + scale x Hz,
  // truncated. The SD runs use TCXO mode 4 (24.552 MHz, x64 = 1571.328 MHz,
  // mixer NCO word 44 739 243 within 0.04 Hz of 4.092 MHz): offset0 0, scale
  // 2^26 / 24 552 000 units per Hz.
  EXPECT_EQ(clock_offset_sent(rep.commands), static_cast<S32>(r.clock_offset * (67108864.0 / 24552000.0)));
}

INSTANTIATE_TEST_SUITE_P(
    SdLog, SdReplayRun,
    ::testing::Values(SdRun{"valid_record", SdHeader{}, 0, 1234},
                      SdRun{"with_position", with([](SdHeader& h) { h.pos = true; }), 0, 1234},
                      SdRun{"bad_record_crc", with([](SdHeader& h) { h.bad_init_crc = true; }), 0, 0},
                      SdRun{"short_header", with([](SdHeader& h) { h.image_size = 1000; }), 1, -1}),
    [](const ::testing::TestParamInfo<SdRun>& i) { return std::string(i.param.name); });

TEST_F(SdScriptStream, ConversionReplaysTheSame) {
  ASSERT_GT(Stream.size(), 100u);
  // Conversion: a replay set that replays the same way (a record equal to the built-in one).
  talon_test::TempDir dir;
  SdHeader h;
  h.clock_offset = 0;
  Bytes file = sd_header(h);
  file.insert(file.end(), Stream.begin(), Stream.end());
  write_file(dir.file("sd_log.dat"), file);
  std::vector<std::string> conv_args = SD_ARGS;
  conv_args.insert(conv_args.end(), {"--sd-convert", "1"});
  const link_test::Replay sd = link_test::replay_capturing_commands(dir.path(), conv_args);
  ASSERT_EQ(sd.exit_code, 0) << sd.out;
  EXPECT_EQ(read_file(dir.file("log_data.dat")), Stream);
  // The image is written after the kernel start, which converts the records it
  // restores to the host's byte order in place; the kernel stand-in restores none.
  EXPECT_EQ(read_file(dir.file("log_init.dat")).size(), 20480u);
  EXPECT_EQ(read_file(dir.file("rtc_data.dat")), link_test::rtc_data_bytes(SD_RTC_WN, SD_RTC_SEC, SD_RTC_SUBSEC));

  const link_test::Replay replay =
      link_test::replay_capturing_commands(dir.path(), {"--rtk-mode", "0", "--mode", "1", "--do-kml-output", "0"});
  EXPECT_EQ(replay.exit_code, 0);
  EXPECT_EQ(talon_test::count_of(replay.out, "fix mode = 0,"), link_test::reported_epochs(EPOCHS));
  EXPECT_EQ(replay.commands, sd.commands);
}

TEST(StartupFiles, ReplayStartFilesAndLoggingCopies) {
  talon_test::TempDir dir;
  Cwd cwd(dir.path());
  // rtc_data.dat: accepted as written, ignored with one flipped bit.
  ASSERT_EQ(write_rtc_data_file(-2, 123456, 0x89ABCDEF), 1);
  Bytes rtc = read_file("rtc_data.dat");
  EXPECT_EQ(rtc, (Bytes{0x40, 0xE2, 0x01, 0x00, 0xEF, 0xCD, 0xAB, 0x89, 0xFE, 0xFF,
                        static_cast<U08>(crc16(rtc.data(), 10)), static_cast<U08>(crc16(rtc.data(), 10) >> 8)}));
  WRAP_init(0, nullptr);
  load_replay_init_file();
  S16 wn = 0;
  S32 sec = 0;
  U32 subsec = 0;
  ASSERT_EQ(ASIC_get_rtc(&wn, &sec, &subsec), 1);
  EXPECT_EQ(std::tuple(wn, sec, subsec), std::tuple(-2, 123456, 0x89ABCDEFu));
  for (std::size_t bit = 0; bit < 96; bit += 13) {
    Bytes bad = rtc;
    bad[bit / 8] ^= static_cast<U08>(1u << (bit % 8));
    write_file("rtc_data.dat", bad);
    load_replay_init_file();
    EXPECT_EQ(ASIC_get_rtc(&wn, &sec, &subsec), 0) << bit;
  }

  // Images: log_save.dat / flash_save.alm are loaded and copied to log_init.dat / flash.alm.
  const Bytes img = image_pattern();
  Bytes alm(img.rbegin(), img.rend());
  write_file("log_save.dat", img);
  write_file("flash_save.alm", alm);
  load_logging_init_file();
  init_nvram_block_file_in_log_mode();
  EXPECT_EQ(read_file("log_init.dat"), img);
  EXPECT_EQ(read_file("flash.alm"), alm);
  EXPECT_EQ(std::memcmp(HOST_get_alm_nvram_block(), alm.data(), alm.size()), 0);
  save_init_file();
  save_nvram_block_file_in_log_mode();
  EXPECT_EQ(read_file("log_save.dat"), img);
  EXPECT_EQ(read_file("flash_save.alm"), alm);
}

TEST(StartupFiles, RecorderRecord) {
  talon_test::TempDir dir;
  static HOST_REC_T rec;
  const std::string name = dir.file("rb.bin");
  ASSERT_EQ(HOST_rec_open(&rec, name.c_str(), 1), 1);
  char chunk[100];
  for (int i = 0; i < 100; ++i) chunk[i] = static_cast<char>(i);
  ASSERT_EQ(HOST_rec_put_record(&rec, 0, chunk, 100), 1);
  ASSERT_EQ(HOST_rec_put_record(&rec, 1, chunk, 1), 1);
  EXPECT_EQ(HOST_rec_put_record(&rec, 1, chunk, 0), 0);                 // empty record refused
  EXPECT_EQ(HOST_rec_put_record(&rec, 1, chunk, RB_MAX_CHUNK + 1), 0);  // longer than the reader takes
  EXPECT_TRUE(read_file(name).empty());                                 // buffered until flushed
  ASSERT_EQ(HOST_rec_close(&rec), 1);
  Bytes want = {0x78, 0x56, 0x34, 0x12, 0x00, 0x64};
  for (int i = 0; i < 100; ++i) want.push_back(static_cast<U08>(i));
  for (U08 b : {0x12, 0x34, 0x56, 0x78, 0x00, 0x01, 0x00}) want.push_back(b);
  EXPECT_EQ(read_file(name), want);
}

// More records than the buffer holds: each write hands over whole records,
// so the file on disk always ends on a record boundary.
TEST(StartupFiles, RecorderWritesWholeRecordsWhenFull) {
  talon_test::TempDir dir;
  static HOST_REC_T rec;
  const std::string name = dir.file("rb.bin");
  ASSERT_EQ(HOST_rec_open(&rec, name.c_str(), 1), 1);
  char chunk[RB_MAX_CHUNK];
  for (int i = 0; i < RB_MAX_CHUNK; ++i) chunk[i] = static_cast<char>(i);
  constexpr int N = 2 * HOST_REC_BUF_SIZE / (6 + RB_MAX_CHUNK) + 3;
  for (int k = 0; k < N; ++k) {
    ASSERT_EQ(HOST_rec_put_record(&rec, k & 1, chunk, RB_MAX_CHUNK), 1) << k;
    const std::size_t on_disk = read_file(name).size();
    EXPECT_EQ(on_disk % (6 + RB_MAX_CHUNK), 0u) << k;
    EXPECT_LE(on_disk, static_cast<std::size_t>(k + 1) * (6 + RB_MAX_CHUNK)) << k;
  }
  EXPECT_GT(read_file(name).size(), 0u);
  ASSERT_EQ(HOST_rec_close(&rec), 1);
  EXPECT_EQ(read_file(name).size(), static_cast<std::size_t>(N) * (6 + RB_MAX_CHUNK));
}

// A file size limit of 1000 bytes: the write of 20 records of 134 bytes
// stops short inside the eighth; the file is cut back to the seven whole
// records before it, and the fault is noted (EFBIG). In a child process, which
// carries the limit.
TEST(StartupFiles, RecorderCutsAShortWriteBackToWholeRecords) {
  talon_test::TempDir dir;
  const std::string name = dir.file("rb.bin");
  char chunk[RB_MAX_CHUNK];
  for (int i = 0; i < RB_MAX_CHUNK; ++i) chunk[i] = static_cast<char>(i);
  const pid_t pid = fork();
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1000, 1000};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
    static HOST_REC_T rec;
    HOST_clear_output_fault();
    if (!HOST_rec_open(&rec, name.c_str(), 1)) _exit(3);
    for (int k = 0; k < 20; ++k)
      if (!HOST_rec_put_record(&rec, 0, chunk, RB_MAX_CHUNK)) _exit(4);
    const bool refused = HOST_rec_flush(&rec) == 0 && HOST_has_output_fault() == 1;
    HOST_rec_close(&rec);
    _exit(refused ? 0 : 5);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  Bytes want;
  for (int k = 0; k < 7; ++k) {
    for (U08 b : {0x78, 0x56, 0x34, 0x12, 0x00, 0x80}) want.push_back(b);
    want.insert(want.end(), chunk, chunk + RB_MAX_CHUNK);
  }
  EXPECT_EQ(read_file(name), want);
}

// A full disk: the write fails, the fault is noted once with its reason, and
// the recording takes nothing more.
TEST(StartupFiles, RecorderOnFullDisk) {
  static HOST_REC_T rec;
  HOST_clear_output_fault();
  ASSERT_EQ(HOST_rec_open(&rec, "/dev/full", 1), 1);
  const char chunk[10] = {};
  ASSERT_EQ(HOST_rec_put_record(&rec, 0, chunk, 10), 1);
  EXPECT_EQ(HOST_rec_flush(&rec), 0);
  EXPECT_EQ(HOST_has_output_fault(), 1);
  EXPECT_EQ(HOST_rec_put_record(&rec, 0, chunk, 10), 0);
  EXPECT_EQ(HOST_rec_close(&rec), 0);
  HOST_clear_output_fault();
}

}  // namespace
