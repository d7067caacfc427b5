// Bad input to the CRVRAW reader: every case is dropped and counted, never decoded.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "rtk/rtk_test_util.h"

namespace {

using rtk_test::feed_rover;
using rtk_test::time_msg;

std::vector<U08> frame(const std::vector<U08>& payload) {
  std::vector<U08> f(payload.size() + 7);
  sim_frame(payload.data(), static_cast<int>(payload.size()), f.data());
  return f;
}

int status(int i) {
  int s[11];
  CRV_get_rover_status(s);
  return s[i];
}

CRV_DROPS_T drops() {
  CRV_DROPS_T d;
  CRV_get_drops(1, &d);
  return d;
}

TEST(CrvInput, FrameLengthChecksumAndResync) {
  rtk_test::reset_engine();
  std::vector<U08> big(4090, 0);
  big[0] = 0xDE;
  feed_rover(frame(big));  // frame length 4097: too long
  EXPECT_EQ(status(9), 1);
  big.resize(4089);
  feed_rover(frame(big));  // frame length 4096: taken (0xDE is ignored)
  EXPECT_EQ(status(9), 1);
  EXPECT_EQ(status(10), 0);

  std::vector<U08> t = time_msg(1, 2400, 1000);
  t[8] ^= 0x01;  // payload corrupted
  feed_rover(t);
  EXPECT_EQ(status(10), 1);
  t = time_msg(1, 2400, 1000);
  ASSERT_GT(t.size(), 7u);
  t.back() = 0x0B;  // end bytes wrong
  feed_rover(t);
  EXPECT_EQ(status(10), 2);
  EXPECT_EQ(CRV_get_cs_err_count(), 2u);
  gtime_t tt{};
  EXPECT_EQ(CRV_get_rover_time(&tt), 0);

  // garbage with sync-like bytes, then a good frame
  feed_rover({0xA0, 0x00, 0xA1, 0xA0, 0xA0, 0x13, 0x00});
  feed_rover(frame({0x00}));  // empty-ish frame without a known id
  feed_rover(time_msg(1, 2400, 1000));
  EXPECT_EQ(CRV_get_rover_time(&tt), 1);
  EXPECT_EQ(status(2), 1);
  feed_rover({0xA0, 0xA1, 0x00, 0x00, 0x00, 0x0D, 0x0A});  // payload length 0
  EXPECT_EQ(status(9), 2);
}

TEST(CrvInput, ShortMessagesAreDroppedAndCounted) {
  rtk_test::reset_engine(SYS_GPS | SYS_SBS | SYS_GLO);
  feed_rover(time_msg(1, 2400, 1000));
  obsd_t obs[MAXOBS_CYCLE];
  int nr = 0, nb = 0;
  // Payloads shorter than their id and counts promise: length, then the bytes set (offset, value).
  struct Short {
    std::size_t len;
    std::vector<std::pair<std::size_t, U08>> set;
  };
  const Short cases[] = {
      {9, {{0, 0xDC}, {1, 1}, {3, 1}}},               // time: 9 of 10 bytes
      {3 + 23 * 2 - 1, {{0, 0xDD}, {1, 1}, {2, 2}}},  // raw: two records, one byte short
      {14 + 31 * 2 - 1, {{0, 0xE5}, {13, 2}}},        // extended raw: two records, one byte short
      {3, {{0, 0xE5}}},                               // extended raw without its head
      {56, {{0, 0xDF}, {1, 1}}},                      // receiver state
      {102, {{0, 0xE4}, {1, 40}, {2, 9}}},            // SBAS type 9
      {32, {{0, 0xE0}, {1, 1}}},                      // GPS subframe
      {11, {{0, 0xE1}, {1, 65}, {2, 1}}},             // GLONASS string
  };
  unsigned int expected = 0;
  for (const Short& c : cases) {
    std::vector<U08> payload(c.len, 0);
    for (const auto& [off, v] : c.set) payload[off] = v;
    feed_rover(frame(payload));
    EXPECT_EQ(drops().short_msg, ++expected) << std::hex << int(payload[0]) << " " << payload.size();
    EXPECT_EQ(RTK_RAW_get_meas(obs, &nr, &nb), 0);
  }
}

TEST(CrvInput, SatelliteNumbersOutsideTheTableAreDropped) {
  rtk_test::reset_engine(SYS_ALL);
  feed_rover(time_msg(1, 2400, 1000));
  SIM_GPS_EPH_T e;
  sim_make_gps_eph(0, 31, 2400, 3600.0, 1, &e);
  U08 sf[3][30], f[SIM_MAX_FRAME];
  sim_encode_gps_subframes(&e, 0.0, sf);
  unsigned int expected = 0;
  for (int prn : {0, 33, 120, 192, 200, 255}) {
    std::vector<U08> m(f, f + sim_msg_gps_sf(prn, sf[0], f));
    feed_rover(m);
    EXPECT_EQ(drops().bad_sat, ++expected) << prn;
  }
  const U08 data[9] = {0};
  for (int slot : {0, 25, 191}) {
    std::vector<U08> m(f, f + sim_msg_glo_string(slot, 1, data, f));
    feed_rover(m);
    EXPECT_EQ(drops().bad_sat, ++expected) << slot;
  }
  for (int number : {0, 32, 52, 138}) {
    SIM_SBAS9_T s;
    sim_make_sbas9(40, SIM_TIME_T{2400, 1000.0}, &s);
    s.number = number;
    std::vector<U08> m(f, f + sim_msg_sbas9(&s, f));
    feed_rover(m);
    EXPECT_EQ(drops().bad_sat, ++expected) << number;
  }
  // extended raw records: SBAS outside 120..138, GPS PRN 0, unknown GNSS type
  SIM_OBS_T o[4] = {{1, 119, 0, 40, 2e7, 0, 0, 1},
                    {1, 139, 0, 40, 2e7, 0, 0, 1},
                    {0, 0, 0, 40, 2e7, 0, 0, 1},
                    {9, 5, 0, 40, 2e7, 0, 0, 1}};
  std::vector<U08> m(f, f + sim_msg_extraw(2, 2400, 2000, 1000, 0, o, 4, f));
  feed_rover(m);
  EXPECT_EQ(drops().bad_sat, expected + 4);
  // string number outside 1..4 and a subframe id outside 1..5
  std::vector<U08> s0(f, f + sim_msg_glo_string(3, 5, data, f));
  feed_rover(s0);
  sf[0][5] = static_cast<U08>(sf[0][5] | 0x1C);  // HOW subframe id 7
  std::vector<U08> s7(f, f + sim_msg_gps_sf(3, sf[0], f));
  feed_rover(s7);
  EXPECT_EQ(drops().bad_value, 2u);
  const nav_t* nav = RTK_get_nav();
  for (int i = 0; i < MAXEPH; ++i) EXPECT_EQ(nav->eph[i].sat, 0);
  for (int i = 0; i < MAXSEPH; ++i) EXPECT_EQ(nav->seph[i].sat, 0);
}

TEST(CrvInput, NonFiniteValuesDoNotReachTheEngine) {
  rtk_test::reset_engine();
  feed_rover(time_msg(1, 2400, 1000));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  SIM_OBS_T o[2] = {{0, 3, 0, 40, nan, std::numeric_limits<double>::infinity(), std::nanf(""), 7},
                    {0, 4, 0, 255, 1e300, 1e300, 1e30f, 7}};
  U08 f[SIM_MAX_FRAME];
  std::vector<U08> m(f, f + sim_msg_raw(1, o, 2, f));
  feed_rover(m);
  obsd_t obs[MAXOBS_CYCLE];
  int nr = 0, nb = 0;
  ASSERT_EQ(RTK_RAW_get_meas(obs, &nr, &nb), 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(obs[i].P[0], 0.0);
    EXPECT_TRUE(std::isfinite(obs[i].L[0]));
    EXPECT_EQ(obs[i].D[0], 0.0f);
  }
  EXPECT_EQ(obs[1].SNR[0], 255);
  const double pos[3] = {nan, 0.0, 0.0};
  const float vel[3] = {0.0f, 0.0f, 0.0f};
  rtk_test::feed_base(time_msg(1, 2400, 1000));
  std::vector<U08> r(f, f + sim_msg_rcv(1, pos, vel, 0.0, f));
  rtk_test::feed_base(r);
  double xyz[3];
  EXPECT_EQ(RTK_RAW_get_base_pos_xyz(xyz), 0);
}

}  // namespace
