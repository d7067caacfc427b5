// CRVRAW reader counters that the file runs report: good frames, frames
// dropped for their checksum or length, epochs handed over; and the search of
// a recording's base bytes for frames of the other base format.
#include <gtest/gtest.h>

#include <vector>

#include "rtk/crv.h"
#include "rtk/rtk.h"
#include "rtk/rtk_test_util.h"
#include "test_util.h"
#include "tools/scenario_sim/sim.h"

namespace {

using Bytes = std::vector<U08>;

void init_engine() {
  int exsats[10] = {0};
  RTK_init(21, 35, 40, 15, 0, exsats);
}

Bytes frame_of(int n, const U08* buf) { return Bytes(buf, buf + n); }

// A time message and a raw message of one GPS satellite: one epoch.
Bytes epoch_frames() {
  U08 buf[SIM_MAX_FRAME];
  Bytes out = frame_of(sim_msg_time(5, 2300, 100000000U, 1000, buf), buf);
  const SIM_OBS_T o{0, 8, 0, 45, 22000000.0, 115000000.0, 100.0f, 7};
  const Bytes raw = frame_of(sim_msg_raw(5, &o, 1, buf), buf);
  out.insert(out.end(), raw.begin(), raw.end());
  return out;
}

void feed_rover(Bytes b) { CRV_process_rover(static_cast<int>(b.size()), reinterpret_cast<char*>(b.data())); }

TEST(CrvFrames, GoodChecksumAndLengthCountedPerStream) {
  init_engine();
  Bytes bad_cs = epoch_frames();
  bad_cs[6] ^= 0x01;                                      // a payload byte of the time frame
  const Bytes too_long = {0xA0, 0xA1, 0xFF, 0xFF, 0x00};  // 65535 + 7 bytes: longer than CRV_MAX_FRAME
  feed_rover({0x11, 0xA0, 0x33});                         // outside any frame
  feed_rover(epoch_frames());
  feed_rover(bad_cs);
  feed_rover(too_long);
  feed_rover({0x44});
  const Bytes cut = epoch_frames();
  feed_rover(Bytes(cut.begin(), cut.begin() + 9));  // a frame begun, not complete
  CRV_FRAMES_T r{}, b{};
  CRV_get_frames(1, &r);
  CRV_get_frames(0, &b);
  EXPECT_EQ(r.good, 3u);  // time, raw; the raw frame after the broken time frame
  EXPECT_EQ(r.checksum, 1u);
  EXPECT_EQ(r.length, 1u);
  EXPECT_EQ(r.epochs, 2u);   // the second raw frame still matches the first time message's IOD
  EXPECT_EQ(r.skipped, 5u);  // 3 before the first frame, the last byte of too_long, 0x44
  EXPECT_EQ(r.incomplete, 9u);
  EXPECT_EQ(b.good + b.checksum + b.length + b.epochs + b.skipped + b.incomplete, 0u);
}

// One recorder record (base marker) of the given bytes.
Bytes base_record(const Bytes& bytes) {
  Bytes rec = {0x12, 0x34, 0x56, 0x78, static_cast<U08>(bytes.size() >> 8), static_cast<U08>(bytes.size() & 0xFF)};
  rec.insert(rec.end(), bytes.begin(), bytes.end());
  return rec;
}

struct SniffCase {
  const char* name;
  int stream_type;  // 1 RTCM 3, 0 CRVRAW
  bool rtcm_bytes;  // the base bytes are RTCM 3 frames (else CRVRAW frames)
  unsigned int other;
};
void PrintTo(const SniffCase& c, std::ostream* os) { *os << c.name; }

class CrvRecorderSniff : public ::testing::TestWithParam<SniffCase> {};

TEST_P(CrvRecorderSniff, OtherFormatFramesCounted) {
  const SniffCase& c = GetParam();
  init_engine();
  CRV_set_post_processing_stream_type(static_cast<unsigned char>(c.stream_type));
  Bytes base;
  U08 buf[SIM_MAX_FRAME];
  const double xyz[3] = {4157143.9742, 671821.3032, 4774713.1112};
  for (int k = 0; k < 3; ++k) {
    const Bytes f = c.rtcm_bytes ? frame_of(sim_rtcm_station(1005, 1, xyz, 0.0, buf), buf) : epoch_frames();
    base.insert(base.end(), f.begin(), f.end());
  }
  for (std::size_t i = 0; i < base.size(); i += 100) {
    const Bytes part(base.begin() + static_cast<long>(i),
                     base.begin() + static_cast<long>(std::min(base.size(), i + 100)));
    for (const U08 byte : base_record(part)) CRV_post_processing(byte);
  }
  EXPECT_EQ(CRV_get_recorder_other_format_frames(), c.other);
}

INSTANTIATE_TEST_SUITE_P(Cases, CrvRecorderSniff,
                         ::testing::Values(SniffCase{"rtcm_read_as_crvraw", 0, true, 3},
                                           SniffCase{"crvraw_read_as_rtcm", 1, false, 6},
                                           SniffCase{"rtcm_read_as_rtcm", 1, true, 0},
                                           SniffCase{"crvraw_read_as_crvraw", 0, false, 0}),
                         talon_test::CaseName());

}  // namespace
