// The host-link receiver, driven by tables of byte streams.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "misc/dispatch.h"
#include "misc/pack.h"

namespace {

using Bytes = std::vector<U08>;

// RTC report: week 1, second 5, sub-second 1000, checksum 0xF3.
const Bytes RTC_FRAME = {0x4A, 0x58, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x03, 0xE8, 0xF3};

struct Seen {
  int type;
  Bytes frame;
};
std::vector<Seen> Calls;
int Checksum_errors = 0;

void on_frame(U08* buf, int len) { Calls.push_back({buf[2], Bytes(buf, buf + len)}); }
void on_checksum_error(U08*, int) { ++Checksum_errors; }

// Receiver set up as the host program does for the types used here.
void setup() {
  DP_initialize();
  Calls.clear();
  Checksum_errors = 0;
  DP_install_checksum_error_handler(on_checksum_error);
  ASSERT_EQ(DP_install_callback(14, 13, on_frame), 1);  // RTC report
  ASSERT_EQ(DP_install_callback(33, 5, on_frame), 1);   // temperature (2-byte payload)
  ASSERT_EQ(DP_install_callback(15, 3, on_frame), 1);   // a type without payload
}

Bytes frame(std::initializer_list<U08> head_and_payload) {
  Bytes f(head_and_payload);
  f.push_back(calc_checksum(f.data(), static_cast<int>(f.size())));
  return f;
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct Case {
  std::string name;
  Bytes stream;
  int good;  // return value summed over the calls
  int wrong_type;
  int wrong_checksum;
  std::vector<int> types;  // handlers called, in order
};

class DispatchTable : public ::testing::TestWithParam<Case> {};

TEST_P(DispatchTable, WholeBufferAndEverySplit) {
  const Case& c = GetParam();
  // Feed the stream whole, then split in two at every position, then byte by byte.
  for (std::size_t split = 0; split <= c.stream.size() + 1; ++split) {
    setup();
    int good = 0;
    if (split <= c.stream.size()) {
      good += DP_dispatch_msg(c.stream.data(), static_cast<int>(split));
      good += DP_dispatch_msg(c.stream.data() + split, static_cast<int>(c.stream.size() - split));
    } else {
      for (U08 b : c.stream) good += DP_dispatch_msg(&b, 1);
    }
    SCOPED_TRACE(c.name + ", split " + std::to_string(split));
    EXPECT_EQ(good, c.good);
    EXPECT_EQ(DP_get_wrong_msgtype_count(), c.wrong_type);
    EXPECT_EQ(DP_get_wrong_checksum_count(), c.wrong_checksum);
    EXPECT_EQ(Checksum_errors, c.wrong_checksum);
    std::vector<int> types;
    for (const Seen& s : Calls) types.push_back(s.type);
    EXPECT_EQ(types, c.types);
  }
}

Bytes bad_checksum_rtc() {
  Bytes f = RTC_FRAME;
  f.back() ^= 0x01;
  return f;
}

const Bytes TEMP = frame({0x4A, 0x58, 33, 0x12, 0x34});
const Bytes NOPAYLOAD = frame({0x4A, 0x58, 15});

INSTANTIATE_TEST_SUITE_P(
    Frames, DispatchTable,
    ::testing::Values(Case{"rtc report", RTC_FRAME, 1, 0, 0, {14}}, Case{"no payload", NOPAYLOAD, 1, 0, 0, {15}},
                      Case{"leading garbage", cat({{0x00, 0xFF, 0x58, 0x4A, 0x00, 0x58}, RTC_FRAME}), 1, 0, 0, {14}},
                      Case{"bad checksum", bad_checksum_rtc(), 0, 0, 1, {}},
                      Case{"bad checksum then good", cat({bad_checksum_rtc(), RTC_FRAME}), 1, 0, 1, {14}},
                      // A type above 65, and type 2 (a command only the host sends).
                      Case{"type above 65", cat({{0x4A, 0x58, 66}, RTC_FRAME}), 1, 1, 0, {14}},
                      Case{"type not accepted", cat({frame({0x4A, 0x58, 2}), RTC_FRAME}), 1, 1, 0, {14}},
                      // The second 'J' is taken in the preamble state and sends the receiver idle.
                      Case{"J J X does not start a frame", cat({{0x4A}, RTC_FRAME}), 0, 0, 0, {}},
                      Case{"J J X then a frame", cat({{0x4A}, RTC_FRAME, RTC_FRAME}), 1, 0, 0, {14}},
                      Case{"back to back", cat({RTC_FRAME, TEMP, NOPAYLOAD}), 3, 0, 0, {14, 33, 15}},
                      // A frame cut short swallows what follows until its length is reached: the
                      // first temperature frame and the sync byte of the second, whose 'X' then
                      // fails as checksum. The third frame is received.
                      Case{"truncated frame then next",
                           cat({Bytes(RTC_FRAME.begin(), RTC_FRAME.begin() + 6), TEMP, TEMP, TEMP}),
                           1,
                           0,
                           1,
                           {33}},
                      Case{"empty", {}, 0, 0, 0, {}}),
    [](const ::testing::TestParamInfo<Case>& i) {
      std::string n = i.param.name;
      for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

TEST(Dispatch, HandlerGetsTheWholeFrame) {
  setup();
  ASSERT_EQ(DP_dispatch_msg(RTC_FRAME.data(), static_cast<int>(RTC_FRAME.size())), 1);
  ASSERT_EQ(Calls.size(), 1u);
  EXPECT_EQ(Calls[0].frame, Bytes(RTC_FRAME.begin(), RTC_FRAME.end() - 1));
  S16 wn = 0;
  S32 sec = 0;
  U32 subsec = 0;
  ASSERT_EQ(unpack(Calls[0].frame.data() + 3, "sll", &wn, &sec, &subsec), 10);
  EXPECT_EQ(wn, 1);
  EXPECT_EQ(sec, 5);
  EXPECT_EQ(subsec, 1000u);
}

TEST(Dispatch, InstallRejectsOutOfRangeAndTakesANullHandler) {
  DP_initialize();
  EXPECT_EQ(DP_install_callback(-1, 13, on_frame), 0);
  EXPECT_EQ(DP_install_callback(66, 13, on_frame), 0);
  EXPECT_EQ(DP_install_callback(14, 2, on_frame), 0);
  EXPECT_EQ(DP_install_callback(14, 769, on_frame), 0);
  EXPECT_EQ(DP_install_callback(14, 768, on_frame), 1);
  EXPECT_EQ(DP_install_callback(65, 3, on_frame), 1);
  // The rejected -1 must not have touched another entry: type 14 stays 768 long.
  Bytes big = {0x4A, 0x58, 14};
  big.resize(768, 0x55);
  big.push_back(calc_checksum(big.data(), 768));
  Calls.clear();
  EXPECT_EQ(DP_dispatch_msg(big.data(), static_cast<int>(big.size())), 1);
  // A null handler still counts the frame.
  ASSERT_EQ(DP_install_callback(14, 13, nullptr), 1);
  EXPECT_EQ(DP_dispatch_msg(RTC_FRAME.data(), static_cast<int>(RTC_FRAME.size())), 1);
}

}  // namespace
