// Round trips of every CRVRAW message through the simulator's writer and the reader.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "rtk/rtk_test_util.h"

namespace {

using rtk_test::feed_base;
using rtk_test::feed_rover;
using rtk_test::gps_sf_msgs;
using rtk_test::time_msg;

std::vector<U08> frame_bytes(const U08* f, int n) { return std::vector<U08>(f, f + n); }

// A broadcast ephemeris with every field drawn within its IS-GPS-200 range.
SIM_GPS_EPH_T random_eph(std::mt19937& g, int prn, int week) {
  auto u = [&](long long lo, long long hi) {
    return static_cast<long long>(std::uniform_int_distribution<long long>(lo, hi)(g));
  };
  SIM_GPS_EPH_T e{};
  e.prn = prn;
  e.week = week;
  e.l2code = static_cast<int>(u(0, 3));
  e.ura = static_cast<int>(u(0, 15));
  e.health = static_cast<int>(u(0, 63));
  e.iodc = static_cast<int>(u(0, 1023));
  e.iode = e.iodc & 0xFF;
  e.l2p = static_cast<int>(u(0, 1));
  e.tgd = static_cast<int>(u(-127, 127));
  e.toc = static_cast<int>(u(0, 37799));
  e.af2 = static_cast<int>(u(-128, 127));
  e.af1 = static_cast<int>(u(-32768, 32767));
  e.af0 = static_cast<int>(u(-(1 << 21), (1 << 21) - 1));
  e.crs = static_cast<int>(u(-32768, 32767));
  e.deln = static_cast<int>(u(-32768, 32767));
  e.m0 = static_cast<int>(u(INT32_MIN, INT32_MAX));
  e.cuc = static_cast<int>(u(-32768, 32767));
  e.e = static_cast<unsigned int>(u(0, 257698037));  // e <= 0.03
  e.cus = static_cast<int>(u(-32768, 32767));
  e.sqrta = static_cast<unsigned int>(u(2530LL << 19, 0xFFFFFFFFLL));  // 2530 .. 8192 m^0.5
  e.toe = static_cast<int>(u(0, 37799));
  e.fit_flag = static_cast<int>(u(0, 1));
  e.aodo = static_cast<int>(u(0, 31));
  e.cic = static_cast<int>(u(-32768, 32767));
  e.omg0 = static_cast<int>(u(INT32_MIN, INT32_MAX));
  e.cis = static_cast<int>(u(-32768, 32767));
  e.i0 = static_cast<int>(u(INT32_MIN, INT32_MAX));
  e.crc = static_cast<int>(u(-32768, 32767));
  e.omg = static_cast<int>(u(INT32_MIN, INT32_MAX));
  e.omgd = static_cast<int>(u(-(1 << 23), (1 << 23) - 1));
  e.idot = static_cast<int>(u(-(1 << 13), (1 << 13) - 1));
  return e;
}

void expect_eph_equal(const eph_t& d, const SIM_GPS_EPH_T& e, int week) {
  SIM_GPS_EPH_VAL_T v;
  sim_gps_eph_values(&e, &v);
  EXPECT_EQ(d.iode, e.iode);
  EXPECT_EQ(d.iodc, e.iodc);
  EXPECT_EQ(d.sva, e.ura);
  EXPECT_EQ(d.svh, e.health);
  EXPECT_EQ(d.code, e.l2code);
  EXPECT_EQ(d.flag, e.l2p);
  EXPECT_EQ(d.week, week);
  EXPECT_EQ(d.fit, e.fit_flag ? 0.0 : 4.0);
  EXPECT_EQ(d.toes, v.toes);
  EXPECT_EQ(timediff(d.toe, gpst2time(week, v.toes)), 0.0);
  EXPECT_EQ(timediff(d.toc, gpst2time(week, v.toc)), 0.0);
  EXPECT_EQ(d.f0, v.af0);
  EXPECT_EQ(d.f1, v.af1);
  EXPECT_EQ(d.f2, v.af2);
  EXPECT_EQ(d.tgd[0], v.tgd);
  EXPECT_EQ(d.A, v.sqrtA * v.sqrtA);
  EXPECT_EQ(d.e, v.e);
  EXPECT_EQ(d.i0, v.i0);
  EXPECT_EQ(d.OMG0, v.OMG0);
  EXPECT_EQ(d.omg, v.omg);
  EXPECT_EQ(d.M0, v.M0);
  EXPECT_EQ(d.deln, v.deln);
  EXPECT_EQ(d.OMGd, v.OMGd);
  EXPECT_EQ(d.idot, v.idot);
  EXPECT_EQ(d.crc, v.crc);
  EXPECT_EQ(d.crs, v.crs);
  EXPECT_EQ(d.cuc, v.cuc);
  EXPECT_EQ(d.cus, v.cus);
  EXPECT_EQ(d.cic, v.cic);
  EXPECT_EQ(d.cis, v.cis);
}

TEST(CrvRoundTrip, RandomEphemeridesThroughSubframes) {
  std::mt19937 g(20240607);
  const int weeks[] = {500, 1023, 1024, 2047, 2048, 2400, 3000};
  for (int k = 0; k < 300; ++k) {
    rtk_test::reset_engine();
    const int week = weeks[k % 7];
    const int prn = 1 + k % 32;
    const SIM_GPS_EPH_T e = random_eph(g, prn, week);
    const double tow = std::floor(std::uniform_real_distribution<double>(0.0, 604794.0)(g) / 6.0) * 6.0;
    feed_rover(time_msg(1, week, static_cast<U32>(tow * 1000.0)));
    feed_rover(gps_sf_msgs(e, tow));
    // the subframe's transmission week decides; toe half a week away belongs to the neighbour week
    const double ttr = (std::floor(tow / 6.0) + 1.0) * 6.0;  // HOW count of subframe 1
    int want_week = week;
    if (e.toe * 16.0 < ttr - 302400.0)
      ++want_week;
    else if (e.toe * 16.0 > ttr + 302400.0)
      --want_week;
    SCOPED_TRACE("case " + std::to_string(k) + ", week " + std::to_string(week) + ", PRN " + std::to_string(prn));
    const eph_t& d = RTK_get_nav()->eph[prn - 1];
    ASSERT_EQ(d.sat, prn);
    expect_eph_equal(d, e, want_week);
  }
}

TEST(CrvRoundTrip, TgdMinus128IodcMismatchQzssAndPendingWeek) {
  std::mt19937 g(7);
  rtk_test::reset_engine(SYS_GPS | SYS_QZS);
  SIM_GPS_EPH_T e = random_eph(g, 5, 2400);
  e.iode = 0x2A;
  e.iodc = 0x12A;
  e.tgd = -128;
  e.toe = e.toc = 345600 / 16;
  // subframes before any epoch time: kept, decoded once the stream has its week
  feed_rover(gps_sf_msgs(e, 345600.0));
  EXPECT_EQ(RTK_get_nav()->eph[4].sat, 0);
  feed_rover(time_msg(1, 2400, 345606000));
  ASSERT_EQ(RTK_get_nav()->eph[4].sat, 5);
  EXPECT_EQ(RTK_get_nav()->eph[4].week, 2400);
  EXPECT_EQ(RTK_get_nav()->eph[4].tgd[0], 0.0);
  EXPECT_EQ(RTK_get_nav()->eph[4].iodc, 0x12A);

  rtk_test::reset_engine(SYS_GPS | SYS_QZS);
  e.iodc = 0x12B;  // IODE 0x2A does not match IODC mod 256
  feed_rover(time_msg(1, 2400, 345606000));
  feed_rover(gps_sf_msgs(e, 345600.0));
  EXPECT_EQ(RTK_get_nav()->eph[4].sat, 0);

  // QZSS PRN 193 lands in satellite index 33
  e.prn = 193;
  e.iodc = 0x12A;
  feed_rover(gps_sf_msgs(e, 345600.0));
  EXPECT_EQ(RTK_get_nav()->eph[32].sat, 33);
  // same record again is a duplicate; a new toc alone is stored
  eph_t stored = RTK_get_nav()->eph[32];
  EXPECT_EQ(RTK_input_eph(&stored), 0);
  stored.toc = timeadd(stored.toc, 16.0);
  EXPECT_EQ(RTK_input_eph(&stored), 1);
}

TEST(CrvRoundTrip, RawAndTimeMessages) {
  rtk_test::reset_engine(SYS_GPS | SYS_SBS | SYS_GLO | SYS_QZS);
  SIM_OBS_T o[6] = {};
  o[0] = {0, 7, 0, 45, 21000123.456789, 110361234.125, -1234.5f, 1 | 2 | 4};
  o[1] = {0, 40, 0, 38, 38000000.25, 3.5e9, 10.25f, 1 | 4 | 8 | 0x40};  // SBAS number 40; slip; folded phase
  o[2] = {0, 70, 0, 41, 20500000.0, -1.0e8, 0.0f, 1 | 2};               // GLONASS slot 6, no phase
  o[3] = {0, 193, 0, 44, 37000000.0, 1.0, 1.0f, 0};                     // QZSS, nothing valid
  o[4] = {0, 0, 0, 44, 1.0, 1.0, 1.0f, 7};                              // code 0: no satellite
  o[5] = {0, 200, 0, 44, 1.0, 1.0, 1.0f, 7};                            // BeiDou: not in the table
  U08 f[SIM_MAX_FRAME];
  feed_rover(frame_bytes(f, sim_msg_raw(9, o, 6, f)));  // before any time message: ignored
  obsd_t obs[MAXOBS_CYCLE];
  int nr = 0, nb = 0;
  EXPECT_EQ(RTK_RAW_get_meas(obs, &nr, &nb), 0);

  feed_rover(time_msg(9, 2400, 123456789, 200));
  feed_rover(frame_bytes(f, sim_msg_raw(9, o, 6, f)));
  ASSERT_EQ(RTK_RAW_get_meas(obs, &nr, &nb), 4);
  EXPECT_EQ(nr, 4);
  EXPECT_EQ(timediff(obs[0].time, gpst2time(2400, 123456.789)), 0.0);
  EXPECT_EQ(obs[0].meas_period_in_ms, 200);
  EXPECT_EQ(obs[0].sat, 7);
  EXPECT_EQ(obs[0].rcv, 1);
  EXPECT_EQ(obs[0].SNR[0], 180);
  EXPECT_EQ(obs[0].code[0], CODE_L1C);
  EXPECT_EQ(obs[0].P[0], 21000123.456789);
  EXPECT_EQ(obs[0].L[0], 110361234.125);
  EXPECT_EQ(obs[0].D[0], -1234.5f);
  EXPECT_EQ(obs[0].LLI[0], 0);
  EXPECT_EQ(obs[1].sat, satno(SYS_SBS, 40));
  EXPECT_EQ(obs[1].L[0], 3.5e9 - 2e9 * 2);  // folded into [-1e9, 1e9)
  EXPECT_EQ(obs[1].D[0], 0.0f);             // Doppler not flagged valid
  EXPECT_EQ(obs[1].LLI[0], 0x41);
  EXPECT_EQ(obs[2].sat, satno(SYS_GLO, 6));
  EXPECT_EQ(obs[2].L[0], 0.0);
  EXPECT_EQ(obs[3].sat, 33);
  EXPECT_EQ(obs[3].P[0], 0.0);

  // IOD differing from the time message: nothing handed over, the old epoch not again
  feed_rover(frame_bytes(f, sim_msg_raw(10, o, 6, f)));
  EXPECT_EQ(RTK_RAW_get_meas(obs, &nr, &nb), 0);
  CRV_DROPS_T drops;
  CRV_get_drops(1, &drops);
  EXPECT_EQ(drops.iod_mismatch, 1u);
  EXPECT_GE(drops.bad_sat, 1u);

  // the base stream: receiver 2, and its receiver state gives the base position
  feed_base(time_msg(3, 2400, 123456789));
  feed_base(frame_bytes(f, sim_msg_raw(3, o, 1, f)));
  const double pos[3] = {-3961904.9, 3348993.7, 3698211.8};
  const float vel[3] = {0.5f, -0.25f, 0.125f};
  feed_base(frame_bytes(f, sim_msg_rcv(3, pos, vel, 1234.5, f)));
  double xyz[3], cb = 0.0;
  float v[3];
  ASSERT_EQ(RTK_RAW_get_base_pos_xyz(xyz), 1);
  EXPECT_EQ(xyz[0], pos[0]);
  EXPECT_EQ(xyz[1], pos[1]);
  EXPECT_EQ(xyz[2], pos[2]);
  RTK_RAW_get_base_vel_xyz(v);
  EXPECT_EQ(v[2], 0.125f);
  EXPECT_EQ(RTK_RAW_get_base_cbias(&cb), 1);
  EXPECT_EQ(cb, 1234.5);
  int iod[3];
  RTK_RAW_get_base_crv_iod(iod);
  EXPECT_EQ(iod[0], 3);
  EXPECT_EQ(iod[1], 3);
  EXPECT_EQ(iod[2], 3);
  ASSERT_EQ(RTK_RAW_get_base_meas(obs), 1);
  EXPECT_EQ(obs[0].rcv, 2);
  int status[11];
  CRV_get_base_status(status);
  EXPECT_EQ(status[2], 1);  // time messages
  EXPECT_EQ(status[3], 1);  // raw observations
}

TEST(CrvRoundTrip, RawMessageExaminesAtMost64Records) {
  rtk_test::reset_engine();
  std::vector<SIM_OBS_T> o(70);
  for (int k = 0; k < 70; ++k) o[static_cast<std::size_t>(k)] = {0, 1 + k % 32, 0, 40, 2.0e7 + k, 0.0, 0.0f, 1};
  U08 f[SIM_MAX_FRAME];
  feed_rover(time_msg(1, 2400, 1000));
  feed_rover(frame_bytes(f, sim_msg_raw(1, o.data(), 70, f)));
  obsd_t obs[MAXOBS_CYCLE];
  int nr = 0, nb = 0;
  EXPECT_EQ(RTK_RAW_get_meas(obs, &nr, &nb), 64);
  EXPECT_EQ(obs[63].P[0], 2.0e7 + 63);
}

TEST(CrvRoundTrip, ExtendedRawRecordsAndEpochTypes) {
  rtk_test::reset_engine(SYS_GPS | SYS_SBS | SYS_GLO | SYS_QZS | SYS_GAL | SYS_CMP);
  SIM_OBS_T o[8] = {};
  o[0] = {0, 12, 0, 47, 22000000.5, 115000000.25, 500.5f, 1 | 2 | 4 | 0x4000};
  o[1] = {1, 129, 0, 36, 38000000.0, 2.0e8, 1.0f, 1 | 2 | 4 | 8};  // SBAS PRN 129 -> number 42
  o[2] = {2, 3, -4, 42, 20000000.0, 1.0e8, 2.0f, 1 | 4};           // GLONASS slot 3, k = -4
  o[3] = {2, 4, 8, 42, 20000000.0, 1.0e8, 2.0f, 1 | 4};            // frequency number 8 is not valid
  o[4] = {4, 193, 0, 40, 37000000.0, 0.0, 3.0f, 1 | 0x20};         // QZSS: no phase, bit 5 no effect
  o[5] = {0, 13, 0, 40, 21000000.0, 1.0e8, 3.0f, 1 | 4 | 0x20};    // phase not yet usable: dropped
  o[6] = {3, 11, 0, 40, 21000000.0, 1.0e8, 3.0f, 7};               // Galileo: skipped
  o[7] = {5, 11, 0, 40, 21000000.0, 1.0e8, 3.0f, 7};               // BeiDou: skipped
  U08 f[SIM_MAX_FRAME];
  // an extended raw message alone starts the stream's epoch time
  feed_rover(frame_bytes(f, sim_msg_extraw(77, 2400, 123500, 100, 1, o, 8, f)));
  gtime_t t{};
  ASSERT_EQ(CRV_get_rover_time(&t), 1);
  EXPECT_EQ(timediff(t, gpst2time(2400, 123.5)), 0.0);
  obsd_t obs[MAXOBS_CYCLE];
  int nr = 0, nb = 0;
  ASSERT_EQ(RTK_RAW_get_meas(obs, &nr, &nb), 5);
  EXPECT_EQ(obs[0].meas_period_in_ms, RTK_GEOTAGGING_AND_INTEGER_MEAS_EPOCH);
  EXPECT_EQ(obs[0].sat, 12);
  EXPECT_EQ(obs[0].LLI[0], 0x40);
  EXPECT_EQ(obs[0].SNR[0], 188);
  EXPECT_EQ(obs[0].D[0], 500.5f);
  EXPECT_EQ(obs[1].sat, satno(SYS_SBS, 42));
  EXPECT_EQ(obs[1].LLI[0], 1);
  EXPECT_EQ(obs[2].sat, satno(SYS_GLO, 3));
  EXPECT_EQ(obs[3].sat, satno(SYS_GLO, 4));
  EXPECT_EQ(obs[4].sat, 33);
  const nav_t* nav = RTK_get_nav();
  EXPECT_EQ(nav->geph[2].frq, -4);
  EXPECT_NEAR(nav->lam[satno(SYS_GLO, 3) - 1][0], CLIGHT / (1602e6 - 4 * 0.5625e6), 1e-12);
  EXPECT_EQ(nav->geph[3].frq, -9);  // unknown: no carrier wavelength
  EXPECT_EQ(satwavelen(satno(SYS_GLO, 4), 0, nav), 0.0);

  struct {
    U32 tow_ms;
    int period, indicator, type;
  } cases[] = {{123500, 100, 1, 2}, {123500, 300, 1, 1}, {123200, 100, 1, 1},
               {123500, 100, 0, 0}, {124000, 300, 1, 2}, {123500, 0, 1, 1}};
  for (const auto& c : cases) {
    feed_rover(frame_bytes(f, sim_msg_extraw(1, 2400, c.tow_ms, c.period, c.indicator, o, 1, f)));
    ASSERT_EQ(RTK_RAW_get_meas(obs, &nr, &nb), 1);
    EXPECT_EQ(obs[0].meas_period_in_ms, c.type) << c.tow_ms << " " << c.period;
  }
}

TEST(CrvRoundTrip, GlonassStringsAndSbasType9) {
  rtk_test::reset_engine(SYS_GPS | SYS_SBS | SYS_GLO);
  RTK_set_glonass_freq_num(5, 3);
  const SIM_TIME_T t{2400, 345600.0 + 3 * 3600.0 + 15.0};
  U08 f[SIM_MAX_FRAME];
  SIM_GLO_EPH_T g;
  SIM_TIME_T toe{};
  sim_make_glo_eph(5, t, &g, &toe);
  g.bn = 0;
  g.gamn = -3;
  g.taun = -123456;
  g.dtaun = -7;
  g.x[0] = -(1 << 25);
  g.v[1] = (1 << 23) - 1;
  g.a[2] = -15;
  U08 data[9];
  sim_encode_glo_string(&g, 1, data);
  feed_rover(frame_bytes(f, sim_msg_glo_string(5, 1, data, f)));  // before any epoch time: ignored
  feed_rover(time_msg(1, t.week, static_cast<U32>(t.tow * 1000.0)));
  for (int m = 1; m <= 4; ++m) {
    sim_encode_glo_string(&g, m, data);
    feed_rover(frame_bytes(f, sim_msg_glo_string(5, m, data, f)));
  }
  const geph_t& d = RTK_get_nav()->geph[4];
  ASSERT_EQ(d.sat, satno(SYS_GLO, 5));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(d.pos[i], std::ldexp(g.x[i], -11) * 1e3);
    EXPECT_EQ(d.vel[i], std::ldexp(g.v[i], -20) * 1e3);
    EXPECT_EQ(d.acc[i], std::ldexp(g.a[i], -30) * 1e3);
  }
  EXPECT_EQ(d.gamn, std::ldexp(-3, -40));
  EXPECT_EQ(d.taun, std::ldexp(-123456, -30));
  EXPECT_EQ(d.dtaun, std::ldexp(-7, -30));
  EXPECT_EQ(d.iode, g.tb);
  EXPECT_EQ(d.sva, g.ft);
  EXPECT_EQ(d.age, g.en);
  EXPECT_EQ(d.svh, 0);
  EXPECT_EQ(d.frq, 3);  // the stream's frequency number is kept
  // toe: tb in Moscow time -> UTC -> GPS time, the same day
  const double toe_tow = std::floor(t.tow / 86400.0) * 86400.0 + g.tb * 900.0 - 10800.0 + 18.0;
  EXPECT_EQ(timediff(d.toe, gpst2time(t.week, toe_tow)), 0.0);
  EXPECT_EQ(timediff(d.toe, gpst2time(toe.week, toe.tow)), 0.0);
  // string 4 naming another slot: not stored for this satellite
  g.slot = 6;
  sim_encode_glo_string(&g, 4, data);
  g.tb ^= 1;
  feed_rover(frame_bytes(f, sim_msg_glo_string(7, 4, data, f)));
  EXPECT_EQ(RTK_get_nav()->geph[6].sat, 0);

  SIM_SBAS9_T s;
  sim_make_sbas9(50, SIM_TIME_T{2400, 86400.0 * 2 + 100.0}, &s);
  s.t0 = 86300;  // yesterday's time of day: 200 s before reception, across midnight
  s.ura = 15;
  feed_base(frame_bytes(f, sim_msg_sbas9(&s, f)));  // base stream: not read
  EXPECT_EQ(RTK_get_nav()->seph[50 - 33].sat, 0);
  feed_rover(frame_bytes(f, sim_msg_sbas9(&s, f)));
  const seph_t& e = RTK_get_nav()->seph[50 - 33];
  ASSERT_EQ(e.sat, satno(SYS_SBS, 50));
  EXPECT_EQ(timediff(e.t0, gpst2time(2400, 86400.0 * 2 - 100.0)), 0.0);
  EXPECT_EQ(timediff(e.tof, gpst2time(2400, 86400.0 * 2 + 100.0)), 0.0);
  EXPECT_EQ(e.svh, 1);
  EXPECT_EQ(e.sva, 15);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(e.pos[i], s.pos[i]);
    EXPECT_EQ(e.vel[i], s.vel[i]);
    EXPECT_EQ(e.acc[i], s.acc[i]);
  }
  EXPECT_EQ(e.af0, s.af0);
  EXPECT_EQ(e.af1, s.af1);
}

TEST(CrvRoundTrip, RecorderFile) {
  rtk_test::reset_engine();
  U08 f[SIM_MAX_FRAME];
  std::vector<U08> rover = time_msg(4, 2400, 5000), base = time_msg(5, 2400, 6000);
  std::vector<U08> rec = {0x00, 0x12, 0x34};  // noise before the first marker
  auto add = [&](bool is_rover, const std::vector<U08>& chunk) {
    const U08 m[4] = {0x12, 0x34, 0x56, 0x78};
    for (int i = 0; i < 4; ++i) rec.push_back(is_rover ? m[3 - i] : m[i]);
    rec.push_back(static_cast<U08>(chunk.size() >> 8));
    rec.push_back(static_cast<U08>(chunk.size()));
    rec.insert(rec.end(), chunk.begin(), chunk.end());
  };
  add(true, rover);
  add(false, base);
  // a record too long for the reader: dropped without overrunning its buffer
  rec.insert(rec.end(), {0x78, 0x56, 0x34, 0x12, 0x0F, 0xFB});
  rec.insert(rec.end(), 100, 0xA0);
  const int n = sim_msg_time(6, 2400, 7000, 1000, f);
  add(true, std::vector<U08>(f, f + n));
  int delivered = 0;
  for (U08 b : rec) delivered += CRV_post_processing(b);
  EXPECT_EQ(delivered, 3);
  EXPECT_EQ(CRV_get_recorder_drops(), 1u);
  gtime_t tr{}, tb{};
  ASSERT_EQ(CRV_get_rover_time(&tr), 1);
  ASSERT_EQ(CRV_get_base_time(&tb), 1);
  EXPECT_EQ(timediff(tr, gpst2time(2400, 7.0)), 0.0);
  EXPECT_EQ(timediff(tb, gpst2time(2400, 6.0)), 0.0);
}

}  // namespace
