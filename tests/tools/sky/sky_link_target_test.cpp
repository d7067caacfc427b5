// The scripted target playing a simulated sky open loop on a pty: it answers
// HOSTBASE_INIT with the sky's RTC report, streams the sky's epochs byte for
// byte, and records the commands it receives.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "misc/host_msg.h"
#include "misc/pack.h"
#include "tests/test_util.h"
#include "tests/tools/sky/sky_link_fake.h"
#include "tools/sky/sky_link.h"
#include "tools/talon_target/target_link.h"

namespace {

using namespace sky_fake;
using namespace talon_test;

SKY_SCENARIO_T short_scenario() {
  SKY_SCENARIO_T sc;
  sc.start = SKY_GPST_T{2400, 345600.0};
  sc.duration_s = 4.0;
  sc.tcxo_mode = 0;
  sc.meas_rate_hz = 2.0;
  sc.carrier_slots = 1;
  return sc;
}

bool sky_chunk(TARGET_CHUNK_T* out) {
  static U08 buf[8192];
  const int n = SKY_LINK_next_epoch(buf, sizeof buf, nullptr);
  if (n <= 0) return false;
  out->assign(buf, buf + n);
  return true;
}

std::vector<U08> frame(int n, U08* buf) {
  const int len = append_checksum(buf, n);
  return std::vector<U08>(buf, buf + len);
}

void send(int fd, const std::vector<U08>& f) {
  ASSERT_EQ(write(fd, f.data(), f.size()), static_cast<ssize_t>(f.size()));
}

std::string wait_for_text(const std::string& path, int timeout_ms) {
  for (int i = 0; i < timeout_ms / 5; ++i) {
    if (file_exists(path)) return read_text(path);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return "";
}

TEST(SkyLinkTarget, PlaysTheSkyOpenLoopAndRecordsTheCommands) {
  fake_reset(5);
  const SKY_SCENARIO_T sc = short_scenario();
  // The expected stream: the same sky played once more.
  ASSERT_EQ(SKY_LINK_start(&sc, SKY_LINK_PARAM_T{}, fake_source()), 1);
  U08 rtc[32];
  const int rtc_len = SKY_LINK_rtc_report(rtc, nullptr);
  std::vector<U08> expect;
  for (TARGET_CHUNK_T c; sky_chunk(&c);) expect.insert(expect.end(), c.begin(), c.end());
  ASSERT_FALSE(expect.empty());

  ASSERT_EQ(SKY_LINK_start(&sc, SKY_LINK_PARAM_T{}, fake_source()), 1);
  TempDir dir;
  TARGET_LINK_PARAM_T p;
  p.next_chunk = sky_chunk;
  p.rtc_chunk.assign(rtc, rtc + rtc_len);
  p.period_ms = 1;
  p.settle_ms = 5;
  p.timeout_s = 20;
  p.pty_file = dir.file("pty");
  p.record_file = dir.file("record.txt");
  p.sent_file = dir.file("sent.bin");
  int rc = -1;
  std::thread target([&] { rc = TARGET_serve(p); });
  const std::string slave = wait_for_text(p.pty_file, 5000);
  ASSERT_FALSE(slave.empty());
  const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  U08 buf[64];
  send(fd, frame(pack_msg_hostbase_init(buf), buf));
  const std::vector<unsigned char> got = read_fd(fd, static_cast<std::size_t>(rtc_len) + expect.size(), 10000);
  send(fd, frame(pack_msg_pse_set_clock_offset(buf, -2), buf));
  send(fd, frame(pack_msg_hostbase_stop(buf), buf));
  target.join();
  close(fd);
  EXPECT_EQ(rc, 0);
  ASSERT_EQ(got.size(), static_cast<std::size_t>(rtc_len) + expect.size());
  EXPECT_TRUE(std::equal(rtc, rtc + rtc_len, got.begin()));
  EXPECT_TRUE(std::equal(expect.begin(), expect.end(), got.begin() + rtc_len));
  const std::string record = read_text(p.record_file);
  EXPECT_NE(record.find("HOSTBASE_INIT"), std::string::npos) << record;
  EXPECT_NE(record.find("clk_offset=-2"), std::string::npos) << record;
  EXPECT_NE(record.find("HOSTBASE_STOP"), std::string::npos) << record;
}

}  // namespace
