// Serial ports, exercised on pseudo-terminal pairs opened by the test.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "host/pc_sio.h"
#include "test_util.h"

namespace {

using talon_test::Pty;
using talon_test::read_fd;

// Read through the port until `want` bytes came or timeout_ms passed.
std::vector<char> sio_read_all(SIO_T sio, std::size_t want, int timeout_ms) {
  std::vector<char> got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  char buf[128];
  while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
    const int n = sio_rx(sio, buf, sizeof buf);
    if (n > 0)
      got.insert(got.end(), buf, buf + n);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return got;
}

// A port opened on a fresh pseudo-terminal pair at 115200 Bd, closed at the end.
class PcSioPort : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(sio = sio_open_path(pty.slave_path.c_str(), SERIAL_BAUD_115200), nullptr); }
  void TearDown() override {
    if (sio != nullptr) sio_close(sio);
  }
  void write_master(const std::vector<unsigned char>& b) { talon_test::write_all(pty.master, b.data(), b.size()); }
  Pty pty;
  SIO_T sio = nullptr;
};

TEST(PcSio, RejectsBadArgumentsMissingDevicesAndPlainFiles) {
  EXPECT_EQ(sio_open(24, SERIAL_BAUD_115200), nullptr);
  EXPECT_EQ(sio_open(0, 10), nullptr);
  EXPECT_EQ(sio_open(-2, SERIAL_BAUD_115200), nullptr);  // the default com_num of -1, minus one
  EXPECT_EQ(sio_open(0, -1), nullptr);
  Pty pty;
  EXPECT_EQ(sio_open_path(pty.slave_path.c_str(), 10), nullptr);
  EXPECT_EQ(sio_open_path(pty.slave_path.c_str(), -1), nullptr);
  EXPECT_EQ(sio_open_path("/nonexistent/ttyX", SERIAL_BAUD_115200), nullptr);
  EXPECT_EQ(sio_open_path("/dev/null", SERIAL_BAUD_115200), nullptr);  // not a terminal
  EXPECT_EQ(sio_open_path(nullptr, SERIAL_BAUD_115200), nullptr);
  sio_close(nullptr);  // accepted and ignored
  EXPECT_EQ(sio_baud(nullptr, SERIAL_BAUD_9600), 0);
  EXPECT_EQ(sio_tx(nullptr, "x", 1), 0);
  char c;
  EXPECT_EQ(sio_rx(nullptr, &c, 1), 0);
}

TEST(PcSio, NumberedPortsMapToDeviceNames) {
  char name[64];
  sio_set_tty_type("S");
  ASSERT_EQ(sio_device_name(0, name, sizeof name), 1);
  EXPECT_STREQ(name, "/dev/ttyS0");
  sio_set_tty_type("USB");
  ASSERT_EQ(sio_device_name(2, name, sizeof name), 1);
  EXPECT_STREQ(name, "/dev/ttyUSB2");
  sio_set_tty_type("S");
  EXPECT_EQ(sio_device_name(24, name, sizeof name), 0);
  EXPECT_EQ(sio_device_name(-1, name, sizeof name), 0);
}

TEST_F(PcSioPort, EmptyReadReturnsZeroAtOnce) {
  char buf[128];
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(sio_rx(sio, buf, sizeof buf), 0);
  // Never waits for bytes that have not arrived (generous bound for a loaded machine).
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
}

TEST_F(PcSioPort, ReadsAtMostLenOfWhatIsQueued) {
  std::vector<unsigned char> data(300);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 7);
  write_master(data);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let all 300 reach the slave's queue
  char buf[128];
  std::vector<int> counts;
  std::vector<unsigned char> got;
  for (int i = 0; i < 4; ++i) {
    const int n = sio_rx(sio, buf, 128);
    counts.push_back(n);
    got.insert(got.end(), buf, buf + (n > 0 ? n : 0));
  }
  EXPECT_EQ(counts, (std::vector<int>{128, 128, 44, 0}));
  EXPECT_EQ(got, data);
}

TEST_F(PcSioPort, EveryByteValuePassesUnchangedBothWays) {
  std::vector<unsigned char> all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i);
  // Host to device.
  EXPECT_EQ(sio_tx(sio, reinterpret_cast<const char*>(all.data()), 256), 256);
  EXPECT_EQ(read_fd(pty.master, 256, 2000), all);
  // Device to host: no CR/LF mapping, no flow-control or signal characters.
  write_master(all);
  const std::vector<char> in = sio_read_all(sio, 256, 2000);
  EXPECT_EQ(std::vector<unsigned char>(in.begin(), in.end()), all);
}

TEST_F(PcSioPort, BurstToSlowReaderArrivesWholeAndInOrder) {
  // Far more than a pty takes at once, so part of it waits in the port block.
  constexpr std::size_t N = 256 * 1024;
  std::vector<unsigned char> data(N);
  for (std::size_t i = 0; i < N; ++i) data[i] = static_cast<unsigned char>((i * 131) ^ (i >> 8));
  const int r = sio_tx(sio, reinterpret_cast<const char*>(data.data()), static_cast<int>(N));
  EXPECT_TRUE(r == -1 || r == static_cast<int>(N));
  // A second small write queues behind the first one.
  EXPECT_NE(sio_tx(sio, "\x01\x02\x03", 3), 0);
  std::vector<unsigned char> got;
  std::thread reader([&] {
    // A slow reader: small reads with pauses.
    while (got.size() < N + 3) {
      std::vector<unsigned char> part = read_fd(pty.master, std::min<std::size_t>(4096, N + 3 - got.size()), 3000);
      if (part.empty()) break;
      got.insert(got.end(), part.begin(), part.end());
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  EXPECT_EQ(sio_drain(sio, 20000), 1);
  reader.join();
  ASSERT_EQ(got.size(), N + 3);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), got.begin()));
  EXPECT_EQ(got[N], 1);
  EXPECT_EQ(got[N + 2], 3);
}

TEST_F(PcSioPort, CloseFlushesQueuedBytes) {
  constexpr std::size_t N = 128 * 1024;
  std::vector<unsigned char> data(N, 0x5A);
  data.back() = 0xA5;
  sio_tx(sio, reinterpret_cast<const char*>(data.data()), static_cast<int>(N));
  std::vector<unsigned char> got;
  std::thread reader([&] { got = read_fd(pty.master, N, 5000); });
  sio_close(sio);
  sio = nullptr;
  reader.join();
  EXPECT_EQ(got, data);
}

TEST_F(PcSioPort, BaudChange) {
  EXPECT_EQ(sio_get_baud_rate(sio), 115200);
  // Every rate of the table is set exactly, including those without a POSIX constant.
  for (int b = 0; b < NSERIAL_BAUD; ++b) {
    EXPECT_EQ(sio_baud(sio, b), 1) << b;
    EXPECT_EQ(sio_get_baud_rate(sio), Baud_rate_array[static_cast<std::size_t>(b)]) << b;
  }
  EXPECT_EQ(sio_baud(sio, NSERIAL_BAUD), 0);
  EXPECT_EQ(sio_baud(sio, -1), 0);
}

// sio_wait wakes for input and for a hang-up of the far end (the pty master
// closed); the hang-up is told by sio_hung_up once the bytes before it are read.
TEST_F(PcSioPort, WaitReportsInputThenHangUp) {
  EXPECT_EQ(std::string(sio_name(sio)), pty.slave_path);
  EXPECT_EQ(std::string(sio_name(nullptr)), "");
  const SIO_T ports[2] = {nullptr, sio};  // a null entry is skipped
  EXPECT_EQ(sio_wait(ports, 2, 20), 0);   // quiet: time-out
  EXPECT_EQ(sio_wait(ports, 0, 0), 0);
  EXPECT_EQ(sio_wait(ports, SIO_WAIT_MAX + 1, 0), 0);
  EXPECT_EQ(sio_wait(nullptr, 1, 0), 0);
  write_master({1, 2, 3});
  EXPECT_EQ(sio_wait(ports, 2, 2000), 2);
  EXPECT_EQ(sio_read_all(sio, 3, 2000), (std::vector<char>{1, 2, 3}));
  EXPECT_EQ(sio_hung_up(sio), 0);
  close(pty.master);
  pty.master = -1;
  EXPECT_EQ(sio_wait(ports, 2, 2000), 2);
  char buf[8];
  EXPECT_EQ(sio_rx(sio, buf, sizeof buf), 0);
  EXPECT_EQ(sio_hung_up(sio), 1);
  EXPECT_EQ(sio_hung_up(nullptr), 0);
  EXPECT_EQ(sio_wait(ports, 2, 0), 0);  // a port that hung up is no longer waited on
}

}  // namespace
