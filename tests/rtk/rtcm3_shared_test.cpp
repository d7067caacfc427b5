// The RTCM 3 reader on recorded streams against the decodes of two independent
// decoders (station positions, 1004 observables, MSM7 cells).
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "json_min.h"
#include "rtk/rtk_test_util.h"
#include "test_util.h"

namespace {

using json_min::Value;

using rtk_test::LAM_L1;
using rtk_test::LMS;
constexpr int WEEK = 2100;  // any week the streams could be in

// Test name of a stream: "rtcm3-2" and "rtcm3.2" stay apart.
std::string stream_name(std::string name) {
  for (std::size_t i = name.find('.'); i != std::string::npos; i = name.find('.')) name.replace(i, 1, " dot ");
  return talon_test::case_name(name);
}

// The frames of a stream: a preamble, a length and a good CRC-24Q (noise between
// frames is skipped).
std::vector<std::vector<U08>> frames_of(const std::vector<U08>& s) {
  std::vector<std::vector<U08>> out;
  std::size_t i = 0;
  while (i + 3 <= s.size()) {
    const std::size_t n = ((s[i + 1] & 3u) << 8 | s[i + 2]) + 6u;
    if (s[i] != 0xD3 || i + n > s.size() ||
        crc24q(&s[i], static_cast<int>(n) - 3) !=
            (static_cast<unsigned int>(s[i + n - 3]) << 16 | s[i + n - 2] << 8 | s[i + n - 1])) {
      ++i;
      continue;
    }
    out.emplace_back(s.begin() + static_cast<long>(i), s.begin() + static_cast<long>(i + n));
    i += n;
  }
  return out;
}

int type_of(const std::vector<U08>& f) { return (f[3] << 4) | (f[4] >> 4); }

using rtk_test::feed_rtcm3;
constexpr auto reset = rtk_test::reset_rtcm3;

const obsd_t* find_sat(const obsd_t* obs, int n, int sat) {
  for (int i = 0; i < n; ++i)
    if (obs[i].sat == sat) return &obs[i];
  return nullptr;
}

// Every frame has a good CRC; station positions and 1004 L1 observables match gpsdecode.
void check_legacy_stream(const std::string& dir, const std::string& name, int expect_1004, int expect_sta) {
  reset();
  const auto frames = frames_of(talon_test::read_file(dir + name + ".rtcm3"));
  const auto recs = json_min::parse_lines(talon_test::read_text(dir + name + ".gpsdecode.json"));
  ASSERT_EQ(frames.size(), recs.size()) << name;
  int n1004 = 0, nsta = 0;
  std::size_t nbytes = 0;
  for (const auto& f : frames) nbytes += f.size();
  for (std::size_t k = 0; k < frames.size(); ++k) {
    const Value& j = recs[k];
    const int type = type_of(frames[k]);
    ASSERT_EQ(type, static_cast<int>(j["type"].n())) << name << " frame " << k;
    if (type == 1004) RTCM3_update_rover_time(WEEK, j["tow"].n() * 0.001 + 0.5);
    feed_rtcm3(frames[k]);
    if (type == 1005 || type == 1006) {
      int staid = 0;
      double pos[3];
      ASSERT_EQ(RTCM3_get_station(&staid, pos), 1);
      EXPECT_EQ(staid, static_cast<int>(j["station_id"].n()));
      EXPECT_NEAR(pos[0], j["x"].n(), 5e-5);
      EXPECT_NEAR(pos[1], j["y"].n(), 5e-5);
      EXPECT_NEAR(pos[2], j["z"].n(), 5e-5);
      double raw[3];
      ASSERT_EQ(RTK_RAW_get_base_pos_xyz(raw), 1);
      EXPECT_DOUBLE_EQ(raw[0], pos[0]);
      ++nsta;
    }
    if (type != 1004) continue;
    ++n1004;
    obsd_t obs[MAXOBS];
    gtime_t t{};
    const int n = RTCM3_get_epoch(obs, MAXOBS, &t);
    int week = 0;
    EXPECT_NEAR(time2gpst(t, &week), j["tow"].n() * 0.001, 1e-9);
    EXPECT_EQ(week, WEEK);
    int expected = 0;
    for (const Value& s : j["satellites"].arr) {
      const int id = static_cast<int>(s["ident"].n());
      // DF009: 1..32 GPS, 40..58 SBAS PRN 120..138 (engine numbers 33..51)
      const int sat = id >= 40 ? satno(SYS_SBS, id - 7) : satno(SYS_GPS, id);
      if (sat == 0) continue;
      ++expected;
      const obsd_t* o = find_sat(obs, n, sat);
      ASSERT_NE(o, nullptr) << name << " G" << id;
      const Value& l1 = s["L1"];
      const double P = l1["prange"].n() + l1["amb"].n() * LMS;
      EXPECT_NEAR(o->P[0], P, 1e-6);
      if (std::fabs(l1["delta"].n() + 262.144) < 1e-9) {
        EXPECT_EQ(o->L[0], 0.0);
      } else {
        EXPECT_NEAR(o->L[0] * LAM_L1 - P, l1["delta"].n(), 1e-6) << name << " G" << id;
      }
      EXPECT_EQ(o->SNR[0], static_cast<int>(l1["CNR"].n() * 4.0 + 0.5));
      EXPECT_EQ(o->code[0], l1["ind"].n() != 0.0 ? 2 : CODE_L1C);
      EXPECT_EQ(o->rcv, 2);
    }
    EXPECT_EQ(n, expected) << name;
  }
  EXPECT_EQ(n1004, expect_1004) << name;
  EXPECT_EQ(nsta, expect_sta) << name;
  unsigned int st[RTCM3_NSTATUS];
  RTCM3_get_base_status(st);
  EXPECT_EQ(st[3], static_cast<unsigned int>(expect_1004));  // 1004
  EXPECT_EQ(st[RTCM3_STATUS_BYTES], nbytes);
  EXPECT_EQ(st[RTCM3_STATUS_CRC_GOOD], frames.size());
  EXPECT_EQ(st[31], 0u);
}

// MSM7 cells of signal 1C against the second decoder: pseudorange, phase-range,
// range rate, CNR and half-cycle flag; every message lands in one epoch per time.
void check_msm_stream(const std::string& dir, const std::string& name, int leap) {
  reset();
  RTKCMN_set_leap_second(static_cast<S16>(leap));
  const auto bytes = talon_test::read_file(dir + name + ".rtcm3");
  Value top;
  ASSERT_TRUE(json_min::parse_text(talon_test::read_text(dir + name + ".msm.json"), &top));
  const auto& msms = top.arr;
  // The first GPS epoch gives the rover time for the messages that come before it.
  for (const Value& m : msms)
    if (m["type"].n() == 1077) {
      RTCM3_update_rover_time(WEEK, m["epoch_ms"].n() * 0.001);
      break;
    }
  std::size_t next = 0;
  int checked_cells = 0, checked_msgs = 0;
  for (const auto& f : frames_of(bytes)) {
    const int type = type_of(f);
    const bool msm = (type >= 1071 && type <= 1077) || (type >= 1081 && type <= 1087) ||
                     (type >= 1091 && type <= 1097) || (type >= 1101 && type <= 1107) || (type >= 1121 && type <= 1127);
    if (!msm) {
      feed_rtcm3(f);
      continue;
    }
    ASSERT_LT(next, msms.size());
    const Value& m = msms[next++];
    ASSERT_EQ(type, static_cast<int>(m["type"].n()));
    if (type == 1077 || type == 1107) RTCM3_update_rover_time(WEEK, m["epoch_ms"].n() * 0.001);
    feed_rtcm3(f);
    int sys = 0;
    if (type == 1077)
      sys = SYS_GPS;
    else if (type == 1087)
      sys = SYS_GLO;
    else if (type == 1107)
      sys = SYS_SBS;
    else
      continue;  // Galileo is not decoded; BeiDou has no engine satellites
    obsd_t obs[MAXOBS];
    gtime_t t{};
    const int n = RTCM3_get_epoch(obs, MAXOBS, &t);
    if (sys != SYS_GLO) {
      EXPECT_NEAR(time2gpst(t, nullptr), m["epoch_ms"].n() * 0.001, 1e-9) << name;
    }
    int expected = 0;
    for (const Value& c : m["cells"].arr) {
      if (c["sig"].str != "1C") continue;
      int prn = static_cast<int>(c["prn"].n());
      if (sys == SYS_SBS) prn -= 87;
      const int sat = satno(sys, prn);
      if (sat == 0) continue;
      ++expected;
      const obsd_t* o = find_sat(obs, n, sat);
      ASSERT_NE(o, nullptr) << name << " sat " << sat;
      double lam = LAM_L1;
      if (sys == SYS_GLO) lam = rtk_test::lam_g1(c["glo_ext"].n() - 7.0);
      if (c.has("pseudorange_m") && o->P[0] == 0.0) {
        // The second decoder applies the invalid fine value (-2^-10 ms) to the rough
        // range: its result is then a whole multiple of 2^-10 ms.
        const double units = c["pseudorange_m"].n() / LMS * 1024.0;
        EXPECT_NEAR(units, std::round(units), 1e-6) << "sat " << sat;
      } else if (c.has("pseudorange_m")) {
        EXPECT_NEAR(o->P[0], c["pseudorange_m"].n(), 1e-3);
      } else {
        EXPECT_EQ(o->P[0], 0.0);
      }
      if (c.has("phaserange_m")) {
        EXPECT_NEAR(o->L[0] * lam, c["phaserange_m"].n(), 1e-3);
      } else {
        EXPECT_EQ(o->L[0], 0.0);
      }
      if (c.has("range_rate_mps")) {
        EXPECT_NEAR(-o->D[0] * lam, c["range_rate_mps"].n(), 2e-3);
      }
      EXPECT_EQ(o->SNR[0], static_cast<int>(c["cnr"].n() * 4.0));
      EXPECT_EQ(o->LLI[0] & 2, c["half"].n() != 0.0 ? 2 : 0);
      EXPECT_EQ(o->rcv, 2);
      // One epoch: the GPS message's time holds for the other systems too.
      EXPECT_EQ(timediff(o->time, obs[0].time), 0.0);
      ++checked_cells;
    }
    int nsys = 0;
    for (int i = 0; i < n; ++i) nsys += satsys(obs[i].sat, nullptr) == sys;
    EXPECT_EQ(nsys, expected) << name << " type " << type;
    ++checked_msgs;
  }
  EXPECT_EQ(next, msms.size());
  EXPECT_GT(checked_cells, 100);
  EXPECT_GT(checked_msgs, 40);
  RTCM3_DROPS_T d{};
  RTCM3_get_drops(&d);
  EXPECT_EQ(d.bad_time + d.short_msg + d.too_many_cells + d.full_epoch, 0u);
  RTKCMN_set_leap_second(18);
}

// A recorded stream: frames in the gpsdecode listing (n1004 < 0: no listing) and
// the GPS - UTC of the MSM listing (s; 0: no listing).
struct StreamCase {
  const char* name;
  int n1004, nsta, leap;
};
void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

class Rtcm3Stream : public ::testing::TestWithParam<StreamCase> {};

TEST_P(Rtcm3Stream, MatchesTheIndependentDecoders) {
  TALON_SHARED_DATA_OR_SKIP(dir, "rtcm3");
  const StreamCase& c = GetParam();
  // The whole byte stream, noise included, in serial-sized chunks: the reader
  // finds every frame that has a good CRC.
  reset();
  const auto bytes = talon_test::read_file(dir + c.name + ".rtcm3");
  ASSERT_FALSE(bytes.empty());
  feed_rtcm3(bytes, 128);
  unsigned int st[RTCM3_NSTATUS];
  RTCM3_get_base_status(st);
  EXPECT_EQ(st[29], bytes.size());
  EXPECT_EQ(st[30], frames_of(bytes).size());
  if (c.n1004 >= 0) check_legacy_stream(dir, c.name, c.n1004, c.nsta);
  if (c.leap > 0) check_msm_stream(dir, c.name, c.leap);
}

INSTANTIATE_TEST_SUITE_P(Rtcm3Shared, Rtcm3Stream,
                         ::testing::Values(StreamCase{"rtcm3-3", 166, 17, 0}, StreamCase{"rtcm3-2", 83, 8, 0},
                                           StreamCase{"rtcm3.bndm", 33, 8, 0},
                                           StreamCase{"rtcm3", 0, 1, 0},  // the standard's own example frames
                                           StreamCase{"ublox-zed-f9t-rtcm3", -1, 0, 18},
                                           StreamCase{"rtcm3.2", -1, 0, 17}),
                         [](const auto& i) { return stream_name(i.param.name); });

}  // namespace
