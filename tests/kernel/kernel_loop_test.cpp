// The kernel loop on a replayed log of the scripted target: 2 Hz measurement
// epochs with data-bit batches between them, from GPS, GLONASS and BeiDou
// channels. The tick and data-bit observers record the order of the kernel's
// work; the expected order follows from what the target sent.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "host/host_callbacks.h"
#include "host/link_test_util.h"
#include "host/wrap.h"
#include "kernel/src/kernel.h"
#include "misc/dispatch.h"
#include "misc/endian_swap.h"
#include "test_util.h"
#include "tests/kernel/kernel_cold_start.h"

namespace {

std::vector<std::string> Events;
void on_meas_tick(U16 subsec) { Events.push_back("meas " + std::to_string(subsec)); }
void on_sec_tick() { Events.push_back("sec"); }
void on_databits(S16 ch, S16 gnss_type, S16, U32, U32, U32, U08) {
  Events.push_back("bits ch" + std::to_string(ch) + " type" + std::to_string(gnss_type));
}

// Script of the scripted target used here.
constexpr int EPOCHS = 12;
constexpr int EPOCH_MS = 500;
constexpr int TRACKED = 6;       // the script's default
constexpr int DBITS_EVERY = 3;   // a data-bit batch for every channel after epochs 2, 5, 8, ...
constexpr int REPLAY_CHUNK = 8;  // bytes per read, as the host's replay reads

std::vector<unsigned char> write_script(const std::string& dir) {
  const int pid = link_test::spawn(
      dir, link_test::target_exe(),
      {"--write-set", dir, "--epochs", std::to_string(EPOCHS), "--epoch-ms", std::to_string(EPOCH_MS), "--mixed-gnss"},
      "target.out");
  EXPECT_EQ(talon_test::wait_talonhost(pid, 30), 0);
  return talon_test::read_file(dir + "/log_data.dat");
}

// GNSS type of a channel in the mixed script: GPS, GLONASS, BeiDou in turn.
S16 channel_type(int ch) {
  constexpr std::array<S16, 3> TYPES = {GNSS_TYPE_GPS, GNSS_TYPE_GLONASS, GNSS_TYPE_BD2};
  return TYPES[static_cast<std::size_t>(ch % 3)];
}

struct ReplayResult {
  int epochs_reported = 0;  // KERNEL_loop calls that returned 1
  U32 decoded = 0, skipped = 0;
};

ReplayResult replay(const std::vector<unsigned char>& log, U16 gnss_select_bits) {
  ENDIAN_set_swap_flag(0);
  WRAP_init(0, nullptr);
  WRAP_clear_counters();
  msg_init();
  WRAP_set_asic_rtc(2300, 345600, 16384);  // the script's RTC, as the replay files give it
  const KERNEL_INIT_T k = talon_test::cold_start_record(4, 2, gnss_select_bits, 18);
  KERNEL_init(&k);
  Events.clear();
  KERNEL_install_meas_tick_callback(on_meas_tick);
  KERNEL_install_sec_tick_callback(on_sec_tick);
  KERNEL_install_databits_callback(on_databits);
  ReplayResult r;
  for (std::size_t off = 0; off < log.size(); off += REPLAY_CHUNK) {
    const std::size_t n = std::min<std::size_t>(REPLAY_CHUNK, log.size() - off);
    DP_dispatch_msg(log.data() + off, static_cast<int>(n));
    r.epochs_reported += KERNEL_loop();
  }
  r.epochs_reported += KERNEL_loop();  // the last pass after the end of the file
  KERNEL_get_databits_counts(&r.decoded, &r.skipped);
  KERNEL_install_meas_tick_callback(nullptr);
  KERNEL_install_sec_tick_callback(nullptr);
  KERNEL_install_databits_callback(nullptr);
  KERNEL_close();
  return r;
}

TEST(KernelLoop, TwoHertzEpochsWithDataBitsInTheirFixedOrder) {
  talon_test::TempDir dir;
  const std::vector<unsigned char> log = write_script(dir.path());
  ASSERT_GT(log.size(), 1000u);
  const ReplayResult r = replay(log, 1);

  // Per epoch: the measurement tick; on whole seconds the second tick after
  // it; the data bits the target sent after the epoch, drained channel by
  // channel before the next epoch. A 500 ms epoch runs no second tick.
  std::vector<std::string> want;
  for (int k = 0; k < EPOCHS; ++k) {
    const int subsec = k * EPOCH_MS % 1000;
    want.push_back("meas " + std::to_string(subsec));
    if (subsec == 0) want.push_back("sec");
    if (k % DBITS_EVERY == DBITS_EVERY - 1)
      for (int ch = 0; ch < TRACKED; ++ch)
        want.push_back("bits ch" + std::to_string(ch) + " type" + std::to_string(channel_type(ch)));
  }
  EXPECT_EQ(Events, want);
  EXPECT_EQ(r.epochs_reported, EPOCHS);
  EXPECT_EQ(KERNEL_get_power_on_meas_count(), static_cast<U32>(EPOCHS + 1));
  EXPECT_EQ(KERNEL_get_power_on_sec_count(), static_cast<U32>(EPOCHS / 2 + 1));

  // Every batch left the proxy; GPS batches went to the decoder, GLONASS and
  // BeiDou batches were consumed without decoding.
  const U32 batches = EPOCHS / DBITS_EVERY * TRACKED;
  EXPECT_EQ(r.decoded, batches / 3);
  EXPECT_EQ(r.skipped, batches * 2 / 3);
  for (int reason = 0; reason < WRAP_N_DROP_REASONS; ++reason) EXPECT_EQ(WRAP_get_drop_count(reason), 0) << reason;
  EXPECT_EQ(WRAP_get_overwrite_count(), 0);
  S16 t = 0, prn = 0;
  U32 bits = 0, info = 0, cnt = 0;
  U08 issue = 0;
  for (S16 ch = 0; ch < NCHAN; ++ch) EXPECT_EQ(ASIC_get_databits(ch, &t, &prn, &bits, &info, &cnt, &issue), 0);

  // The RTC reading of the replay set was taken at start.
  S16 wn = 0;
  S32 sec = 0;
  U32 subsec = 0;
  KERNEL_get_init_rtc_time(&wn, &sec, &subsec);
  EXPECT_EQ(wn, 2300);
  EXPECT_EQ(sec, 345600);
  EXPECT_EQ(subsec, 16384u);
}

TEST(KernelLoop, WithoutGpsSelectedNoBitsAreDecoded) {
  talon_test::TempDir dir;
  const ReplayResult r = replay(write_script(dir.path()), 0);
  EXPECT_EQ(r.epochs_reported, EPOCHS);
  EXPECT_EQ(r.decoded, 0u);
  EXPECT_EQ(r.skipped, static_cast<U32>(EPOCHS / DBITS_EVERY * TRACKED));
}

TEST(KernelLoop, NothingRunsBeforeStartOrAfterClose) {
  KERNEL_close();
  WRAP_init(0, nullptr);
  WRAP_set_asic_databits(3, GNSS_TYPE_GPS, 5, 0x12345678, 30, 100, 1);
  Events.clear();
  KERNEL_install_databits_callback(on_databits);
  EXPECT_EQ(KERNEL_loop(), 0);
  KERNEL_install_databits_callback(nullptr);
  EXPECT_TRUE(Events.empty());
  S16 t = 0, prn = 0;
  U32 bits = 0, info = 0, cnt = 0;
  U08 issue = 0;
  EXPECT_EQ(ASIC_get_databits(3, &t, &prn, &bits, &info, &cnt, &issue), 1);  // left in the proxy
}

}  // namespace
