// Target proxy fed through the host's report handlers: epoch assembly, data
// bits, RTC, search status, the drops of reports that cannot be stored, and
// the command frames of the kernel's operations.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>
#include <vector>

#include "host/host.h"
#include "host/host_callbacks.h"
#include "host/pc_sio.h"
#include "host/wrap.h"
#include "misc/dispatch.h"
#include "misc/host_msg.h"
#include "misc/pack.h"
#include "test_util.h"

namespace {

using Bytes = std::vector<U08>;
using std::tuple;

Bytes frame(const std::function<int(U08*)>& pack_fn) {
  U08 buf[800];
  const int n = append_checksum(buf, pack_fn(buf));
  return Bytes(buf, buf + n);
}

int feed(const Bytes& b) { return DP_dispatch_msg(b.data(), static_cast<int>(b.size())); }

std::vector<Bytes> Captured;
void capture(const U08* f, int len) { Captured.emplace_back(f, f + len); }

class Proxy : public ::testing::Test {
 protected:
  void SetUp() override {
    WRAP_init(0, nullptr);
    WRAP_clear_counters();
    msg_init();
    Captured.clear();
    WRAP_install_command_sink(capture);
  }
  void TearDown() override { WRAP_install_command_sink(nullptr); }
};

ASIC_CHAN_MEAS_T chan(S08 prn, U08 state) {
  ASIC_CHAN_MEAS_T m{};
  m.gnss_type = GNSS_TYPE_GPS;
  m.prn = prn;
  m.state = state;
  m.bitcnt = 1000u + static_cast<U32>(prn);
  m.dop_freq = -1234;
  m.cn_integ = 45;
  for (int i = 0; i < MSG_CARRIER_ARY_N; ++i)
    m.start_carrier_phase_ary[static_cast<std::size_t>(i)] = static_cast<S16>(i + 1);
  m.carrier_phase_ary_count = 4;
  m.end_carrier_phase = 777;
  return m;
}

Bytes gtc_frame(U32 sec) {
  return frame([sec](U08* b) {
    const GTC_RD_T g{1, 2, sec, -3};
    const ASIC_READ_RTC_T r{10, 20, 30};
    return pack_msg_gtc(b, &g, 5, 1, 2500000, -9, &r);
  });
}

Bytes chan_frame(S16 ch_id, const ASIC_CHAN_MEAS_T& m) {
  return frame([&](U08* b) { return pack_msg_chan(b, ch_id, &m); });
}

Bytes carrier_frame(S16 ch_id, const ASIC_CHAN_MEAS_T& m) {
  return frame([&](U08* b) { return pack_msg_chan_carrier(b, ch_id, &m); });
}

Bytes dbits_frame(S16 ch_id, U32 databits) {
  return frame(
      [=](U08* b) { return pack_msg_get_databits(b, ch_id, GNSS_TYPE_GPS, 7, databits, 0x11, 500 + databits, 2); });
}

TEST_F(Proxy, AssemblesOneEpochFromItsReports) {
  const ASIC_CHAN_MEAS_T c3 = chan(12, CH_TRACK);
  const ASIC_CHAN_MEAS_T c7 = chan(25, CH_MEAS_AVAILABLE);
  U32 clk[10];
  U16 sub[10];
  for (int i = 0; i < 10; ++i) {
    clk[i] = 100u * static_cast<U32>(i);
    sub[i] = static_cast<U16>(i);
  }
  int good = feed(chan_frame(3, c3)) + feed(carrier_frame(3, c3)) + feed(chan_frame(7, c7)) +
             feed(frame([&](U08* b) { return pack_msg_gtc_clock_counts(b, 3, clk, sub); })) + feed(gtc_frame(345));
  EXPECT_EQ(good, 5);
  ASIC_MEAS_T m{};
  ASSERT_EQ(ASIC_get_measurements(&m), 1);
  const ASIC_CHAN_MEAS_T& m3 = m.chan[3];
  EXPECT_EQ(tuple(m3.prn, m3.state, m3.dop_freq, m3.carrier_phase_ary_count, m3.end_carrier_phase),
            tuple(12, CH_TRACK, -1234, 4, 777));
  EXPECT_EQ(m3.start_carrier_phase_ary[9], 10);
  EXPECT_EQ(tuple(m.chan[7].prn, m.chan[7].carrier_phase_ary_count), tuple(25, 0));  // no carrier report for 7
  for (std::size_t ch = 0; ch < NCHAN; ++ch) {
    if (ch != 3 && ch != 7) {
      EXPECT_EQ(m.chan[ch].state, CH_IDLE) << ch;
    }
  }
  EXPECT_EQ(tuple(m.gtc.INTSEL_SEC, m.gtc.IF_FREQ, m.gtc_shift_count, m.has_updated_rtc, m.noise_power),
            tuple(345u, -3, 5, 1, 2500000u));
  EXPECT_EQ(tuple(m.gtc_sync_to_gps_time_error_unit_is_gtc_clock,
                  m.rtc_gtc_meas.record_read_rtc_delay_time_after_gtc_subsec_0_unit_is_gtc_clock),
            tuple(-9, 30u));
  EXPECT_EQ(tuple(m.acc_clocks_ary_count, m.acc_clocks_ary[2], m.acc_subsecs_ary[2]), tuple(3, 200u, 2));
  EXPECT_EQ(ASIC_get_measurements(&m), 0);
  EXPECT_EQ(WRAP_get_overwrite_count(), 0);
}

TEST_F(Proxy, EpochEdgeCases) {
  // GTC alone: all 20 channels idle.
  feed(chan_frame(2, chan(5, CH_TRACK)));
  feed(gtc_frame(1));
  ASIC_MEAS_T m{};
  ASSERT_EQ(ASIC_get_measurements(&m), 1);
  feed(gtc_frame(2));
  ASSERT_EQ(ASIC_get_measurements(&m), 1);
  for (const ASIC_CHAN_MEAS_T& c : m.chan) EXPECT_EQ(c.state, CH_IDLE);

  // A carrier report without the channel's CHAN report changes nothing.
  feed(carrier_frame(4, chan(9, CH_TRACK)));
  feed(gtc_frame(3));
  ASSERT_EQ(ASIC_get_measurements(&m), 1);
  EXPECT_EQ(tuple(m.chan[4].carrier_phase_ary_count, m.chan[4].end_carrier_phase), tuple(0, 0));

  // Two GTC reports without a take: one overwrite, one epoch waiting.
  feed(gtc_frame(4));
  feed(gtc_frame(5));
  EXPECT_EQ(WRAP_get_overwrite_count(), 1);
  ASSERT_EQ(ASIC_get_measurements(&m), 1);
  EXPECT_EQ(m.gtc.INTSEL_SEC, 5u);
  EXPECT_EQ(ASIC_get_measurements(&m), 0);

  // A repeated CHAN within an epoch counts too.
  feed(chan_frame(1, chan(5, CH_TRACK)));
  feed(chan_frame(1, chan(6, CH_TRACK)));
  EXPECT_EQ(WRAP_get_overwrite_count(), 2);
}

TEST_F(Proxy, ReportsThatCannotBeStoredAreDroppedAndCounted) {
  struct Case {
    const char* what;
    Bytes report;
    int reason;
  };
  ASIC_CHAN_MEAS_T bad_count = chan(3, CH_TRACK);
  bad_count.carrier_phase_ary_count = 11;
  ASIC_CHAN_MEAS_T neg_count = chan(3, CH_TRACK);
  neg_count.carrier_phase_ary_count = 0xFF;  // sign-extended to -1
  const Case cases[] = {
      {"CHAN channel 20", chan_frame(20, chan(3, CH_TRACK)), WRAP_DROP_BAD_CH_ID},
      {"CHAN channel 200", chan_frame(0xC8, chan(3, CH_TRACK)), WRAP_DROP_BAD_CH_ID},
      {"CHAN state 7", chan_frame(0, chan(3, 7)), WRAP_DROP_BAD_STATE},
      {"CHAN state 255", chan_frame(0, chan(3, 255)), WRAP_DROP_BAD_STATE},
      {"CHAN_CARRIER channel 20", carrier_frame(20, chan(3, CH_TRACK)), WRAP_DROP_BAD_CH_ID},
      {"CHAN_CARRIER count 11", carrier_frame(0, bad_count), WRAP_DROP_BAD_CARRIER_COUNT},
      {"CHAN_CARRIER count 0xFF", carrier_frame(0, neg_count), WRAP_DROP_BAD_CARRIER_COUNT},
      {"data bits channel 200", dbits_frame(0xC8, 1), WRAP_DROP_BAD_CH_ID},
  };
  // Channel 0 holds an accepted report: no drop may disturb it.
  const ASIC_CHAN_MEAS_T good = chan(17, CH_FRAMESYNC);
  feed(chan_frame(0, good));
  feed(carrier_frame(0, good));
  for (const Case& c : cases) {
    const S32 before = WRAP_get_drop_count(c.reason);
    EXPECT_EQ(feed(c.report), 1) << c.what;  // a good frame: dispatched, then dropped by the proxy
    EXPECT_EQ(WRAP_get_drop_count(c.reason), before + 1) << c.what;
  }
  feed(gtc_frame(9));
  ASIC_MEAS_T m{};
  ASSERT_EQ(ASIC_get_measurements(&m), 1);
  EXPECT_EQ(tuple(m.chan[0].prn, m.chan[0].state, m.chan[0].carrier_phase_ary_count), tuple(17, CH_FRAMESYNC, 4));
  S16 g, p;
  U32 d, di, bc;
  U08 i;
  for (S16 ch = 0; ch < NCHAN; ++ch) EXPECT_EQ(ASIC_get_databits(ch, &g, &p, &d, &di, &bc, &i), 0);

  // Clock counts: a count above 10 stores 10 entries.
  U32 clk[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  U16 sub[10] = {};
  feed(frame([&](U08* b) { return pack_msg_gtc_clock_counts(b, 0xFF, clk, sub); }));
  feed(gtc_frame(10));
  ASSERT_EQ(ASIC_get_measurements(&m), 1);
  EXPECT_EQ(tuple(m.acc_clocks_ary_count, m.acc_clocks_ary[9]), tuple(10, 10u));
}

TEST_F(Proxy, DataBitsQueuePerChannelAndAFullRingKeepsItsBatches) {
  for (U32 k = 0; k < 3; ++k) feed(dbits_frame(5, 0x100 + k));
  S16 g, p;
  U32 d, di, bc;
  U08 i;
  for (U32 k = 0; k < 3; ++k) {
    ASSERT_EQ(ASIC_get_databits(5, &g, &p, &d, &di, &bc, &i), 1);
    EXPECT_EQ(tuple(d, bc, g, p, i), tuple(0x100 + k, 500 + 0x100 + k, GNSS_TYPE_GPS, 7, 2));
  }
  EXPECT_EQ(ASIC_get_databits(5, &g, &p, &d, &di, &bc, &i), 0);

  // 40 batches into an empty ring: the first 32 are kept in order, 8 dropped.
  for (U32 k = 0; k < 40; ++k) feed(dbits_frame(19, k));
  EXPECT_EQ(WRAP_get_drop_count(WRAP_DROP_DBIT_RING_FULL), 8);
  for (U32 k = 0; k < SIZEOF_WRAP_DBIT_QUEUE; ++k) {
    ASSERT_EQ(ASIC_get_databits(19, &g, &p, &d, &di, &bc, &i), 1);
    EXPECT_EQ(d, k);
  }
  EXPECT_EQ(ASIC_get_databits(19, &g, &p, &d, &di, &bc, &i), 0);
}

TEST_F(Proxy, RtcAndSearchStatusReports) {
  const Bytes rtc = {0x4A, 0x58, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x03, 0xE8, 0xF3};
  EXPECT_EQ(feed(rtc), 1);
  S16 wn = 0;
  S32 sec = 0;
  U32 subsec = 0;
  ASSERT_EQ(ASIC_get_rtc(&wn, &sec, &subsec), 1);
  EXPECT_EQ(tuple(wn, sec, subsec), tuple(1, 5, 1000u));
  EXPECT_EQ(ASIC_get_rtc(&wn, &sec, &subsec), 0);
  EXPECT_EQ(HOST_has_received_rtc(), 1);

  feed(frame([](U08* b) { return pack_msg_pse_status(b, 2, 3, -1, 4, 5, -6, 0xFFFFFFFF); }));
  const HOST_PSE_STATUS_T* s = HOST_get_pse_status();
  EXPECT_EQ(tuple(s->Pse_Search_Mode, s->Pse_Search_State, s->Pse_0, s->Pse_3), tuple(2, 3, -1, -6));
  msg_init();
  EXPECT_EQ(HOST_get_pse_status()->Pse_Search_Mode, 0);

  // Accepted and ignored reports are good frames that change nothing.
  EXPECT_EQ(feed(frame([](U08* b) { return pack_msg_asic_weak_bs_flag(b, 1); })), 1);
  EXPECT_EQ(feed(frame([](U08* b) { return pack_msg_glo_pse_status(b, 1, 1, 1, 1, 1, 1, 1); })), 1);
  Bytes dr = {0x4A, 0x58, 32};  // type 32 with 44 zero payload bytes
  dr.resize(47, 0);
  dr.push_back(calc_checksum(dr.data(), 47));
  EXPECT_EQ(feed(dr), 1);
  EXPECT_EQ(DP_get_wrong_msgtype_count(), 0);
}

// Commands in replay reach only the sink; their frames are the catalogue's.
TEST_F(Proxy, CommandsInReplayGoToTheSinkOnly) {
  EXPECT_EQ(PSE_set_clock_offset(100), 1);
  ASSERT_EQ(Captured.size(), 1u);
  EXPECT_EQ(Captured[0], frame([](U08* b) { return pack_msg_pse_set_clock_offset(b, 100); }));

  Captured.clear();
  ASIC_set_rtc(2100, 7);
  ASIC_init(1);
  PSE_init();
  ASIC_drop_channel_signal(3, 17, 2);
  PSE_enable(-1);
  ASIC_set_1pps(1, 10, 16367667);
  const std::vector<Bytes> want = {
      frame([](U08* b) { return pack_msg_rtc(b, 2100, 7, 1000); }),
      frame(pack_msg_asic_init),
      frame(pack_msg_pse_init),
      Bytes{0x4A, 0x58, 0x12, 0x03, 0x11, 0x02, static_cast<U08>(0x4A ^ 0x58 ^ 0x12 ^ 0x03 ^ 0x11 ^ 0x02)},
      frame([](U08* b) { return pack_msg_pse_enable(b, -1); }),
      frame([](U08* b) { return pack_msg_set_1pps(b, 1, 10, 16367667); }),
  };
  EXPECT_EQ(Captured, want);

  // Operations without a link counterpart send nothing.
  Captured.clear();
  PSE_process();
  ASIC_set_noise_power(1, 1.0f);
  PSE_update_sbas_limitation(7, 2);
  EXPECT_EQ(ASIC_update_aiding_bits(0, 0, 0), 0);
  EXPECT_TRUE(Captured.empty());
}

TEST_F(Proxy, CommandCountsAreClampedAndOnlyTheGivenEntriesAreRead) {
  // Exactly `num` entries on the heap: reading one more would be caught by the sanitizer build.
  std::vector<PSE_PRN_DOPP_T> dopp(3, PSE_PRN_DOPP_T{9, -100});
  PSE_set_sv_doppler(3, dopp.data());
  std::vector<ASIC_PREDICTED_MEAS_T> pm(2, ASIC_PREDICTED_MEAS_T{5, 1, 2, 3, 4, 1});
  ASIC_set_predicted_meas(2, 1000, pm.data(), 1);
  std::vector<PSE_WEAK_SEARCH_T> weak(MSG_WEAK_ARRAY_N + 4, PSE_WEAK_SEARCH_T{1, 2, 3});
  PSE_set_weak_search_array(static_cast<S16>(weak.size()), weak.data());
  std::vector<ASIC_TR_T> tr(1, ASIC_TR_T{4, 5});
  ASIC_set_tr(-3, tr.data());
  std::vector<PSE_STATE_T> st(MSG_PSE_STATES_N + 1);
  PSE_set_search_states_array(0, 9, st.data());
  ASSERT_EQ(Captured.size(), 5u);

  S16 num = 0;
  PSE_PRN_DOPP_T got[MSG_PSE_SVDOPP_N];
  unpack_msg_pse_set_sv_doppler(Captured[0].data(), &num, got);
  EXPECT_EQ(num, 3);
  EXPECT_EQ(got[2].prn, 9);
  EXPECT_EQ(got[3].prn, 0);  // beyond num: zero, not whatever follows the caller's array
  EXPECT_EQ(Captured[1].size(), static_cast<std::size_t>(MSG_LEN_ASIC_PREDICT_MEAS + 1));
  EXPECT_EQ(Captured[1][3], 2);
  EXPECT_EQ(Captured[2][3], MSG_WEAK_ARRAY_N);  // 12 clamped to 8
  EXPECT_EQ(Captured[3][3], 0);                 // -3 clamped to 0
  EXPECT_EQ(Captured[4][4], MSG_PSE_STATES_N);  // 9 clamped to 8
}

// In logging mode the same commands leave on the port, whole and in order.
TEST_F(Proxy, CommandsInLoggingModeGoToThePort) {
  talon_test::Pty pty;
  SIO_T sio = sio_open_path(pty.slave_path.c_str(), SERIAL_BAUD_115200);
  ASSERT_NE(sio, nullptr);
  WRAP_init(1, sio);
  PSE_set_clock_offset(-2);
  ASIC_drop_channel_signal(3, 17, 2);
  Bytes want = Captured[0];
  want.insert(want.end(), Captured[1].begin(), Captured[1].end());
  EXPECT_EQ(talon_test::read_fd(pty.master, want.size(), 2000), want);
  // The same port in replay mode: the sink still sees the frame, the port nothing.
  WRAP_init(0, sio);
  PSE_set_clock_offset(100);
  EXPECT_EQ(Captured.size(), 3u);
  EXPECT_TRUE(talon_test::read_fd(pty.master, 1, 200).empty());
  sio_close(sio);
  WRAP_init(0, nullptr);
}

}  // namespace
