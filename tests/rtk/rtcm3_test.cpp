// RTCM 3 reader: known answers, bad input, time resolution, version detection,
// epoch assembly and round trips through the simulator's independent writer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "rtk/rtk_test_util.h"

namespace {

using rtk_test::LAM_L1;
using rtk_test::LMS;
constexpr int WEEK = 2300;
constexpr double TOW = 345600.0;

void feed(const U08* p, int n) { rtk_test::feed_rtcm3(std::vector<U08>(p, p + n)); }
void feed(const std::vector<U08>& v) { rtk_test::feed_rtcm3(v); }
void reset() { rtk_test::reset_rtcm3(); }
// A fresh reader with the rover at TOW of WEEK.
void reset_at_rover_time() {
  reset();
  RTCM3_update_rover_time(WEEK, TOW);
}

std::vector<U08> frame(int n, const U08* buf) { return std::vector<U08>(buf, buf + n); }

SIM_RTCM_CELL_T cell(int prn, double pr, double lock_ms = 10000.0) {
  SIM_RTCM_CELL_T c{};
  c.prn = prn;
  c.sig = 2;
  c.pr = pr;
  c.phr = pr + 1.25;
  c.phase_ok = 1;
  c.rate = -321.5;
  c.lock_ms = lock_ms;
  c.cnr = 45.0;
  return c;
}

// GLONASS epoch field of GPS time of week tow: day of week and time of day, Moscow time.
U32 glo_epoch(double tow) {
  double t = std::fmod(tow - 18.0 + 10800.0, 604800.0);
  const int dow = static_cast<int>(t / 86400.0);
  return (static_cast<U32>(dow) << 27) | static_cast<U32>(std::llround((t - dow * 86400.0) * 1000.0));
}

// MSM m of message group base (1070 GPS, 1080 GLONASS ...) at GPS time of week tow, station 7.
std::vector<U08> msm(int m, int base, double tow, int sync, const std::vector<SIM_RTCM_CELL_T>& cells) {
  U08 buf[1200];
  const U32 epoch = base == 1080 ? glo_epoch(tow) : static_cast<U32>(std::llround(tow * 1000.0));
  return frame(sim_rtcm_msm(m, base, 7, epoch, sync, cells.data(), static_cast<int>(cells.size()), buf), buf);
}

std::vector<U08> legacy(int type, double tow, int sync, const std::vector<SIM_RTCM_CELL_T>& cells) {
  U08 buf[1200];
  return frame(sim_rtcm_legacy(type, 7, static_cast<U32>(std::llround(tow * 1000.0)), sync, cells.data(),
                               static_cast<int>(cells.size()), buf),
               buf);
}

std::vector<SIM_RTCM_CELL_T> gps_cells(int n, double pr0 = 21.0e6) {
  std::vector<SIM_RTCM_CELL_T> v;
  for (int i = 0; i < n; ++i) v.push_back(cell(i + 1, pr0 + i * 123456.789));
  return v;
}

int epoch(obsd_t* obs, gtime_t* t = nullptr) { return RTCM3_get_epoch(obs, MAXOBS, t); }

// Five observation messages: epochs are handed over from then on.
void learn(int type_base = 1070) {
  for (int k = 0; k < 5; ++k) feed(msm(4, type_base, TOW, 0, gps_cells(4)));
}

// ---------------------------------------------------------------------------
TEST(Rtcm3, KnownAnswers) {
  // (the CRC-24Q check value of "123456789" is in the navigation library's tests)
  // RTCM 10403 example 1005 frame: station 2003.
  const std::vector<U08> ex = {0xD3, 0x00, 0x13, 0x3E, 0xD7, 0xD3, 0x02, 0x02, 0x98, 0x0E, 0xDE, 0xEF, 0x34,
                               0xB4, 0xBD, 0x62, 0xAC, 0x09, 0x41, 0x98, 0x6F, 0x33, 0x36, 0x0B, 0x98};
  reset();
  feed(ex);
  int staid = 0;
  double pos[3];
  ASSERT_EQ(RTCM3_get_station(&staid, pos), 1);
  EXPECT_EQ(staid, 2003);
  EXPECT_NEAR(pos[0], 1114104.5999, 1e-6);
  EXPECT_NEAR(pos[1], -4850729.7108, 1e-6);
  EXPECT_NEAR(pos[2], 3975521.4643, 1e-6);
  double raw[3];
  ASSERT_EQ(RTK_RAW_get_base_pos_xyz(raw), 1);
  EXPECT_DOUBLE_EQ(raw[2], pos[2]);
  unsigned int st[RTCM3_NSTATUS];
  RTCM3_get_base_status(st);
  EXPECT_EQ(st[4], 1u);  // 1005
  EXPECT_EQ(st[29], 25u);
  EXPECT_EQ(st[30], 1u);
  EXPECT_EQ(st[31], 0u);

  // The simulator's writer frames the same message body with the same CRC.
  U08 out[64];
  ASSERT_EQ(sim_rtcm_frame(ex.data() + 3, 19, out), 25);
  EXPECT_EQ(std::vector<U08>(out, out + 25), ex);
  // and writes a 1006 that the reader takes back.
  const double xyz[3] = {-3957199.1234, 3310199.5678, 3737711.9012};
  reset();
  feed(frame(sim_rtcm_station(1006, 4095, xyz, 1.5, out), out));
  ASSERT_EQ(RTCM3_get_station(&staid, pos), 1);
  EXPECT_EQ(staid, 4095);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(pos[i], xyz[i], 5e-5);
}

TEST(Rtcm3, BadInputIsCountedAndDropped) {
  reset_at_rover_time();
  learn();
  RTCM3_DROPS_T d0{};
  RTCM3_get_drops(&d0);
  auto good = msm(4, 1070, TOW + 1.0, 0, gps_cells(6));

  // Bad CRC: counted, nothing decoded.
  auto bad = good;
  bad[10] ^= 0x10;
  unsigned int st0[RTCM3_NSTATUS], st[RTCM3_NSTATUS];
  RTCM3_get_base_status(st0);
  feed(bad);
  RTCM3_get_base_status(st);
  EXPECT_EQ(st[31], st0[31] + 1);
  EXPECT_EQ(st[30], st0[30]);
  gtime_t t{};
  obsd_t obs[MAXOBS];
  epoch(obs, &t);
  EXPECT_EQ(time2gpst(t, nullptr), TOW);

  // A frame cut short: the MSM length field shortened by 3 bytes, CRC recomputed.
  U08 buf[1200];
  const int body = static_cast<int>(good.size()) - 6;
  const int n = sim_rtcm_frame(good.data() + 3, body - 3, buf);
  feed(buf, n);
  RTCM3_DROPS_T d{};
  RTCM3_get_drops(&d);
  EXPECT_EQ(d.short_msg, d0.short_msg + 1);
  epoch(obs, &t);
  EXPECT_EQ(time2gpst(t, nullptr), TOW);

  // 1004 whose satellite count promises more records than the frame holds.
  reset_at_rover_time();
  auto leg = legacy(1004, TOW, 0, gps_cells(3));
  std::vector<U08> body4(leg.begin() + 3, leg.end() - 3);
  body4[7] = static_cast<U08>((body4[7] & 0x0F) | 0x40);  // DF006 (bits 55..59 of the message): 4 satellites
  feed(buf, sim_rtcm_frame(body4.data(), static_cast<int>(body4.size()), buf));
  RTCM3_get_drops(&d);
  EXPECT_EQ(d.short_msg, 1u);
  EXPECT_EQ(epoch(obs), 0);
  feed(leg);  // the true message is taken
  EXPECT_EQ(epoch(obs), 3);

  // A 1005 one byte longer than its fields.
  const double xyz[3] = {1.0e6, 2.0e6, 3.0e6};
  U08 st_buf[64];
  const int n5 = sim_rtcm_station(1005, 1, xyz, 0.0, st_buf);
  std::vector<U08> long5(st_buf + 3, st_buf + n5 - 3);
  long5.push_back(0);
  reset();
  feed(buf, sim_rtcm_frame(long5.data(), static_cast<int>(long5.size()), buf));
  int staid = 0;
  double pos[3];
  EXPECT_EQ(RTCM3_get_station(&staid, pos), 0);

  // An MSM with more than 64 cells (9 satellites x 8 signals).
  reset_at_rover_time();
  std::vector<SIM_RTCM_CELL_T> many;
  for (int s = 1; s <= 9; ++s)
    for (int g = 2; g <= 9; ++g) {
      auto c = cell(s, 2.1e7 + s * 1000.0);
      c.sig = g;
      many.push_back(c);
    }
  feed(msm(4, 1070, TOW, 0, std::vector<SIM_RTCM_CELL_T>(many.begin(), many.begin() + 64)));
  EXPECT_EQ(epoch(obs), 8);  // 64 cells: accepted
  feed(msm(4, 1070, TOW, 0, many));
  RTCM3_get_drops(&d);
  EXPECT_EQ(d.too_many_cells, 1u);
}

TEST(Rtcm3, EpochTimeResolvedAgainstTheRover) {
  reset();
  obsd_t obs[MAXOBS];
  gtime_t t{};
  // No rover time yet: rejected.
  feed(msm(4, 1070, TOW, 0, gps_cells(5)));
  RTCM3_DROPS_T d{};
  RTCM3_get_drops(&d);
  EXPECT_EQ(d.no_rover_time, 1u);
  EXPECT_EQ(epoch(obs), 0);

  // Within 60 s of the rover: taken, in the rover's week.
  RTCM3_update_rover_time(WEEK, TOW + 59.0);
  feed(msm(4, 1070, TOW, 0, gps_cells(5)));
  EXPECT_EQ(epoch(obs, &t), 5);
  int week = 0;
  EXPECT_EQ(time2gpst(t, &week), TOW);
  EXPECT_EQ(week, WEEK);
  // 61 s: rejected; the epoch stays.
  RTCM3_update_rover_time(WEEK, TOW + 62.0);
  feed(msm(4, 1070, TOW + 1.0, 0, gps_cells(6)));
  RTCM3_get_drops(&d);
  EXPECT_EQ(d.bad_time, 1u);
  EXPECT_EQ(epoch(obs), 5);

  // Across the week: base at the end of a week, rover already in the next.
  RTCM3_update_rover_time(WEEK + 1, 2.0);
  feed(msm(4, 1070, 604799.0, 0, gps_cells(3)));
  EXPECT_EQ(epoch(obs, &t), 3);
  EXPECT_EQ(time2gpst(t, &week), 604799.0);
  EXPECT_EQ(week, WEEK);
  RTCM3_update_rover_time(WEEK, TOW);
  // GLONASS: day of week and Moscow time of day.
  std::vector<SIM_RTCM_CELL_T> g = gps_cells(2);
  for (auto& c : g) c.ext = 8;
  feed(msm(5, 1080, TOW + 0.5, 0, g));
  EXPECT_EQ(epoch(obs, &t), 2);
  EXPECT_NEAR(time2gpst(t, &week), TOW + 0.5, 1e-6);
  // A base week below 1700 is rejected.
  RTCM3_update_rover_time(1690, TOW);
  feed(msm(4, 1070, TOW, 0, gps_cells(4)));
  RTCM3_get_drops(&d);
  EXPECT_EQ(d.bad_time, 2u);
}

TEST(Rtcm3, LegacyFieldsAndPhaseContinuity) {
  reset_at_rover_time();
  obsd_t obs[MAXOBS];
  // Ambiguity 70 ms and pseudorange field 0.
  auto c = cell(5, 70.0 * LMS, 1000.0e3);
  c.phr = c.pr + 100.0 * LAM_L1;
  auto c2 = cell(45, 2.2e7);  // DF009 45: SBAS PRN 125, engine number 38
  auto c4 = cell(59, 2.2e7);  // DF009 59: no satellite
  auto c3 = cell(7, 2.3e7);
  c3.phase_ok = 0;
  feed(legacy(1004, TOW, 0, {c, c2, c3, c4}));
  ASSERT_EQ(epoch(obs), 3);
  EXPECT_EQ(obs[0].sat, 5);
  EXPECT_DOUBLE_EQ(obs[0].P[0], 70.0 * LMS);
  EXPECT_NEAR(obs[0].L[0] * LAM_L1 - obs[0].P[0], 100.0 * LAM_L1, 0.0005);
  EXPECT_EQ(obs[0].SNR[0], 180);
  EXPECT_EQ(obs[0].code[0], CODE_L1C);
  EXPECT_EQ(obs[0].LLI[0], 0);
  // invalid phase: pseudorange kept, no phase
  EXPECT_EQ(obs[1].sat, satno(SYS_SBS, 38));
  EXPECT_NEAR(obs[1].P[0], 2.2e7, 0.01);
  EXPECT_EQ(obs[2].sat, 7);
  EXPECT_NEAR(obs[2].P[0], 2.3e7, 0.01);
  EXPECT_EQ(obs[2].L[0], 0.0);

  // Phase-range term -200 cycles after a stored 1300: rolled over to 1300 cycles.
  reset_at_rover_time();
  c = cell(5, 2.0e7, 1000.0e3);
  c.phr = c.pr + 1300.0 * LAM_L1;
  feed(legacy(1002, TOW, 0, {c}));
  c.phr = c.pr - 200.0 * LAM_L1;
  c.lock_ms = 5000.0;  // lock time indicator 127 -> 5: loss of lock
  feed(legacy(1002, TOW + 1.0, 0, {c}));
  ASSERT_EQ(epoch(obs), 1);
  EXPECT_NEAR(obs[0].L[0] * LAM_L1, c.phr + 1500.0 * LAM_L1, 0.0005);
  EXPECT_EQ(obs[0].LLI[0], 1);
  c.lock_ms = 6000.0;
  feed(legacy(1002, TOW + 2.0, 0, {c}));
  epoch(obs);
  EXPECT_EQ(obs[0].LLI[0], 0);
}

TEST(Rtcm3, VersionDetectionAndHandOver) {
  reset_at_rover_time();
  obsd_t obs[MAXOBS];
  // Legacy and MSM GPS in the first five messages: GPS version 3. The fifth
  // observation message starts the hand-over.
  feed(legacy(1004, TOW, 0, gps_cells(4)));
  EXPECT_EQ(epoch(obs), 4);
  for (int k = 0; k < 3; ++k) feed(msm(4, 1070, TOW + 1.0 + k, 0, gps_cells(5)));
  int gps = 0, bds = 0, started = 0;
  RTCM3_get_version(&gps, &bds, &started);
  EXPECT_EQ(gps, 3);
  EXPECT_EQ(started, 0);
  EXPECT_EQ(RTK_RAW_get_base_meas(obs), 0);  // nothing handed over while learning
  feed(msm(4, 1070, TOW + 5.0, 0, gps_cells(6)));
  RTCM3_get_version(&gps, &bds, &started);
  EXPECT_EQ(started, 1);
  EXPECT_EQ(RTK_RAW_get_base_meas(obs), 6);
  // From now on 1004 is not decoded.
  feed(legacy(1004, TOW + 6.0, 0, gps_cells(2)));
  gtime_t t{};
  EXPECT_EQ(epoch(obs, &t), 6);
  EXPECT_EQ(time2gpst(t, nullptr), TOW + 5.0);

  // A legacy-only base: its 1004 epochs are handed over; its GPS MSM would not be decoded.
  reset_at_rover_time();
  for (int k = 0; k < 6; ++k) feed(legacy(1004, TOW + k, 0, gps_cells(4 + k % 2)));
  EXPECT_EQ(RTK_RAW_get_base_meas(obs), 5);
  feed(msm(4, 1070, TOW + 7.0, 0, gps_cells(8)));
  EXPECT_EQ(RTK_RAW_get_base_meas(obs), 5);

  // A GLONASS-only base starts handing over after five messages as well.
  reset_at_rover_time();
  std::vector<SIM_RTCM_CELL_T> g = gps_cells(6);
  for (auto& c : g) c.ext = 9;
  for (int k = 0; k < 4; ++k) feed(msm(5, 1080, TOW + k, 0, g));
  EXPECT_EQ(RTK_RAW_get_base_meas(obs), 0);
  feed(msm(5, 1080, TOW + 4.0, 0, g));
  RTCM3_get_version(&gps, &bds, &started);
  EXPECT_EQ(gps, 0);
  EXPECT_EQ(started, 1);
  EXPECT_EQ(RTK_RAW_get_base_meas(obs), 6);
}

// GLONASS cells with frequency numbers (extended info) for MSM5/7.
std::vector<SIM_RTCM_CELL_T> glo_cells(int n) {
  std::vector<SIM_RTCM_CELL_T> g;
  for (int s = 1; s <= n; ++s) {
    auto c = cell(s, 2.0e7 + s * 1e5);
    c.ext = 7 + (s % 3);
    g.push_back(c);
  }
  return g;
}

// Times of week of the base epochs held by the raw buffers, oldest first, and
// their satellite counts.
struct Held {
  std::vector<double> tow;
  std::vector<int> n;
};
Held held() {
  Held h;
  gtime_t t[RTK_RAW_BASE_HISTORY];
  const int k = RTK_RAW_get_base_history(t, RTK_RAW_BASE_HISTORY);
  for (int i = 0; i < k; ++i) h.tow.push_back(time2gpst(t[i], nullptr) - TOW);
  return h;
}

// One message of a case: system (1070 GPS, 1080 GLONASS), epoch (s after TOW),
// multiple message bit; or a rover time (s after TOW) when base is 0.
struct Msg {
  int base;
  double t;
  int sync;
};
struct AssemblyCase {
  const char* name;
  std::vector<Msg> msgs;
  std::vector<double> held_tow;  // base epochs held afterwards (s after TOW), oldest first
  int newest_n;                  // satellites of the newest held epoch
};
std::ostream& operator<<(std::ostream& os, const AssemblyCase& c) { return os << c.name; }

class Rtcm3EpochAssembly : public ::testing::TestWithParam<AssemblyCase> {};

// The stream first carries GPS (bit 1) + GLONASS (bit 0) pairs at 1 .. 5 s,
// which makes GPS + GLONASS its systems; each case then goes on from 6 s.
TEST_P(Rtcm3EpochAssembly, MergedPerTimeWhateverTheOrder) {
  const AssemblyCase& c = GetParam();
  reset_at_rover_time();
  for (int k = 1; k <= 5; ++k) {
    feed(msm(4, 1070, TOW + k, 1, gps_cells(8)));
    feed(msm(5, 1080, TOW + k, 0, glo_cells(5)));
  }
  for (const Msg& m : c.msgs) {
    if (m.base == 0) {
      RTCM3_update_rover_time(WEEK, TOW + m.t);
      continue;
    }
    if (m.base == 1070)
      feed(msm(4, 1070, TOW + m.t, m.sync, gps_cells(8)));
    else
      feed(msm(5, 1080, TOW + m.t, m.sync, glo_cells(5)));
  }
  const Held h = held();
  ASSERT_GE(h.tow.size(), c.held_tow.size());
  const std::vector<double> tail(h.tow.end() - static_cast<long>(c.held_tow.size()), h.tow.end());
  EXPECT_EQ(tail, c.held_tow);
  obsd_t obs[MAXOBS];
  EXPECT_EQ(RTK_RAW_get_base_meas(obs), c.newest_n);
  for (int i = 1; i < c.newest_n; ++i) EXPECT_EQ(timediff(obs[i].time, obs[0].time), 0.0);
}

INSTANTIATE_TEST_SUITE_P(
    Rtcm3, Rtcm3EpochAssembly,
    ::testing::Values(
        // The GPS message alone (bit 1) waits for its GLONASS partner.
        AssemblyCase{"gps_waits_for_glonass", {{1070, 6, 1}}, {4, 5}, 13},
        AssemblyCase{"gps_then_glonass", {{1070, 6, 1}, {1080, 6, 0}}, {5, 6}, 13},
        // Reversed order, multiple message bits as sent: merged into one epoch.
        AssemblyCase{"glonass_then_gps", {{1080, 6, 1}, {1070, 6, 0}}, {5, 6}, 13},
        // Every system of the stream seen: handed over although the bit says more follow.
        AssemblyCase{"both_bits_set_all_systems", {{1080, 6, 1}, {1070, 6, 1}}, {5, 6}, 13},
        // A GLONASS message without its GPS partner is an epoch of its own; the
        // GPS epochs before it stay (the pairing passes over it for a GPS rover).
        AssemblyCase{"glonass_alone", {{1080, 6, 0}}, {4, 5, 6}, 5},
        AssemblyCase{"glonass_alone_then_gps_epoch", {{1080, 6, 0}, {1070, 7, 1}, {1080, 7, 0}}, {5, 6, 7}, 13},
        // A late GPS message of an epoch already closed by GLONASS: merged, handed over again.
        AssemblyCase{"late_gps_merged", {{1080, 6, 0}, {1070, 6, 1}}, {4, 5, 6}, 13},
        // GPS without GLONASS: handed over once the rover time has passed it,
        // or when a message of a later epoch arrives.
        AssemblyCase{"rover_time_passes", {{1070, 6, 1}, {0, 6.5, 0}}, {4, 5, 6}, 8},
        AssemblyCase{"rover_time_at_epoch", {{1070, 6, 1}, {0, 6.0, 0}}, {3, 4, 5}, 13},
        AssemblyCase{"later_epoch_begins", {{1070, 6, 1}, {1070, 7, 1}}, {4, 5, 6}, 8}),
    [](const ::testing::TestParamInfo<AssemblyCase>& i) { return std::string(i.param.name); });

TEST(Rtcm3, EpochAssembly) {
  reset_at_rover_time();
  learn();
  obsd_t obs[MAXOBS];
  // A GLONASS-only base (no GPS at all): every epoch is handed over.
  const std::vector<SIM_RTCM_CELL_T> g = glo_cells(5);
  for (int k = 0; k < 20; ++k) feed(msm(5, 1080, TOW + 11.0 + k, 0, g));
  EXPECT_EQ(RTK_RAW_get_base_meas(obs), 5);
  gtime_t tb{};
  RTK_RAW_get_base_time(&tb);
  EXPECT_EQ(time2gpst(tb, nullptr), TOW + 30.0);
  // The same epoch time again: the same epoch (a repeated message replaces its satellites).
  feed(msm(5, 1080, TOW + 30.0, 0, g));
  EXPECT_EQ(epoch(obs), 5);
  EXPECT_EQ(RTK_RAW_get_base_meas(obs), 5);
  // Messages that keep the epoch open (bit 1) never hold more than 64 observations.
  std::vector<SIM_RTCM_CELL_T> sb;
  for (int s = 1; s <= 19; ++s) sb.push_back(cell(s, 3.7e7 + s));
  std::vector<SIM_RTCM_CELL_T> gl;
  for (int s = 1; s <= 24; ++s) {
    auto c = cell(s, 2.0e7 + s * 1e4);
    c.ext = 7;
    gl.push_back(c);
  }
  feed(msm(7, 1070, TOW + 31.0, 1, gps_cells(32)));
  feed(msm(7, 1080, TOW + 31.0, 1, gl));
  feed(msm(7, 1100, TOW + 31.0, 1, sb));
  EXPECT_EQ(epoch(obs), 64);
  RTCM3_DROPS_T d{};
  RTCM3_get_drops(&d);
  EXPECT_EQ(d.full_epoch, 11u);
  feed(msm(7, 1110, TOW + 31.0, 0, {cell(1, 3.8e7)}));  // QZSS closes the epoch
  EXPECT_EQ(RTK_RAW_get_base_meas(obs), 64);

  // An epoch that nothing closes is handed over when the next one starts.
  feed(msm(4, 1070, TOW + 40.0, 1, gps_cells(7)));
  RTK_RAW_get_base_time(&tb);
  EXPECT_EQ(time2gpst(tb, nullptr), TOW + 31.0);
  feed(msm(4, 1070, TOW + 41.0, 1, gps_cells(9)));
  RTK_RAW_get_base_time(&tb);
  EXPECT_EQ(time2gpst(tb, nullptr), TOW + 40.0);
  EXPECT_EQ(RTK_RAW_get_base_meas(obs), 7);
}

// GLONASS MSM4/6 carry no frequency number: the phase needs the engine's.
class Rtcm3GlonassMsm : public ::testing::TestWithParam<int> {};

TEST_P(Rtcm3GlonassMsm, WavelengthFromTheEngine) {
  const int m = GetParam();
  reset_at_rover_time();
  std::vector<SIM_RTCM_CELL_T> g = {cell(3, 2.0e7), cell(4, 2.1e7)};
  feed(msm(m, 1080, TOW, 0, g));
  obsd_t obs[MAXOBS];
  ASSERT_EQ(epoch(obs), 2);
  EXPECT_GT(obs[0].P[0], 0.0);
  EXPECT_EQ(obs[0].L[0], 0.0);
  RTK_set_glonass_freq_num(3, -4);
  feed(msm(m, 1080, TOW + 1.0, 0, g));
  ASSERT_EQ(epoch(obs), 2);
  EXPECT_NEAR(obs[0].L[0] * rtk_test::lam_g1(-4), g[0].phr, 1e-3);
  EXPECT_EQ(obs[1].L[0], 0.0);
}

INSTANTIATE_TEST_SUITE_P(Rtcm3, Rtcm3GlonassMsm, ::testing::Values(4, 6),
                         [](const auto& i) { return "MSM" + std::to_string(i.param); });

// Every MSM type of every system through the simulator's writer and back.
struct MsmSys {
  const char* name;
  int base, sys, nsat;
};
void PrintTo(const MsmSys& c, std::ostream* os) { *os << c.name; }

class Rtcm3MsmRoundTrip : public ::testing::TestWithParam<std::tuple<int, MsmSys>> {};

TEST_P(Rtcm3MsmRoundTrip, CellsComeBackWithinTheResolution) {
  const auto& [m, s] = GetParam();
  const double pr_res[4] = {LMS * 5.96e-8, LMS * 5.96e-8, LMS * 1.87e-9, LMS * 1.87e-9};
  const double ph_res[4] = {LMS * 1.87e-9, LMS * 1.87e-9, LMS * 4.66e-10, LMS * 4.66e-10};
  reset_at_rover_time();
  // GPS and BeiDou MSM among the first five messages.
  for (int k = 0; k < 2; ++k) feed(msm(4, 1120, TOW - 14.0, 0, gps_cells(4)));
  learn();
  std::vector<SIM_RTCM_CELL_T> cells;
  for (int i = 0; i < s.nsat && cells.size() < 30; ++i) {
    auto c = cell(1 + i, 2.0e7 + i * 777777.777 + 0.123);
    c.phr = c.pr + 3.456 - i * 1.1;
    c.rate = -700.0 + i * 55.5;
    c.cnr = 30.0 + i * 0.5;
    c.half = i % 2;
    c.ext = s.sys == SYS_GLO ? (i % 14) : 0;
    cells.push_back(c);
    auto c5 = c;  // a second signal on the same satellite, not kept
    c5.sig = 16;
    c5.pr += 5.0;
    cells.push_back(c5);
  }
  const double tow = TOW + 1.0 - (s.sys == SYS_CMP ? 14.0 : 0.0);
  U08 buf[1200];
  const U32 ep = s.sys == SYS_GLO ? glo_epoch(TOW + 1.0) : static_cast<U32>(std::llround(tow * 1000.0));
  feed(buf, sim_rtcm_msm(m, s.base, 9, ep, 0, cells.data(), static_cast<int>(cells.size()), buf));
  obsd_t obs[MAXOBS];
  gtime_t t{};
  const int n = epoch(obs, &t);
  EXPECT_NEAR(time2gpst(t, nullptr), TOW + 1.0, 1e-6);
  if (s.sys == SYS_CMP) {
    EXPECT_EQ(n, 0);  // no BeiDou satellite in the engine's table
    return;
  }
  ASSERT_EQ(n, static_cast<int>(cells.size() / 2));
  const bool ext = m == 5 || m == 7;
  for (int i = 0; i < n; ++i) {
    const SIM_RTCM_CELL_T& c = cells[static_cast<std::size_t>(2 * i)];
    const int prn = c.prn + (s.sys == SYS_SBS ? 32 : 0) + (s.sys == SYS_QZS ? 192 : 0);
    ASSERT_EQ(obs[i].sat, satno(s.sys, prn));
    EXPECT_NEAR(obs[i].P[0], c.pr, pr_res[m - 4] * 0.51 + 1e-6) << "sat " << int(obs[i].sat);
    double lam = LAM_L1;
    if (s.sys == SYS_GLO) {
      if (!ext) {
        EXPECT_EQ(obs[i].L[0], 0.0);
        EXPECT_EQ(obs[i].D[0], 0.0f);
        continue;
      }
      lam = rtk_test::lam_g1(c.ext - 7);
    }
    EXPECT_NEAR(obs[i].L[0] * lam, c.phr, ph_res[m - 4] * 0.51 + 1e-6);
    if (ext) {
      EXPECT_NEAR(-obs[i].D[0] * lam, c.rate, 1e-3);
    } else {
      EXPECT_EQ(obs[i].D[0], 0.0f);
    }
    const double cnr = m >= 6 ? c.cnr : std::round(c.cnr);
    EXPECT_EQ(obs[i].SNR[0], static_cast<int>(cnr * 4.0));
    EXPECT_EQ(obs[i].LLI[0] & 2, c.half ? 2 : 0);
    EXPECT_EQ(obs[i].rcv, 2);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rtcm3, Rtcm3MsmRoundTrip,
    ::testing::Combine(::testing::Values(4, 5, 6, 7),
                       ::testing::Values(MsmSys{"GPS", 1070, SYS_GPS, 32}, MsmSys{"GLONASS", 1080, SYS_GLO, 24},
                                         MsmSys{"SBAS", 1100, SYS_SBS, 19}, MsmSys{"QZSS", 1110, SYS_QZS, 1},
                                         MsmSys{"BeiDou", 1120, SYS_CMP, 10})),
    [](const auto& i) { return "MSM" + std::to_string(std::get<0>(i.param)) + "_" + std::get<1>(i.param).name; });

}  // namespace
