// A scenario played as the target's report stream, read back frame by frame
// with the host-link catalogue and checked against the stand-in sky's truth.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "misc/host_msg.h"
#include "misc/pack.h"
#include "tests/test_util.h"
#include "tests/tools/sky/sky_link_fake.h"
#include "tools/sky/sky_link.h"

namespace {

using namespace sky_fake;

// One epoch as the host would assemble it.
struct ReadEpoch {
  std::map<int, ASIC_CHAN_MEAS_T> chan;  // by channel
  std::map<int, int> has_carrier;
  GTC_RD_T gtc{};
  S16 has_rtc = 0;
  U32 noise = 0;
  ASIC_READ_RTC_T rtc{};
  S16 n_clocks = 0;
  U32 clocks[MSG_GTC_CLOCK_N] = {};
  U16 subsecs[MSG_GTC_CLOCK_N] = {};
  struct Batch {
    int ch;
    int prn;
    U32 bits;
    U32 bitcnt;
    U08 issue;
  };
  std::vector<Batch> batches;  // batches that follow this epoch's GTC
};

int frame_len(U08 type) {
  switch (type) {
    case MSG_TYPE_GTC:
      return MSG_LEN_GTC;
    case MSG_TYPE_CHAN:
      return MSG_LEN_CHAN;
    case MSG_TYPE_CHAN_CARRIER:
      return MSG_LEN_CHAN_CARRIER;
    case MSG_TYPE_GTC_CLOCK_COUNTS:
      return MSG_LEN_GTC_CLOCK_COUNTS;
    case MSG_TYPE_ASIC_GET_DATABITS:
      return MSG_LEN_ASIC_GET_DATABITS;
    default:
      return -1;
  }
}

// Reads one epoch's bytes; every frame must be whole with a good checksum.
ReadEpoch read_epoch(const U08* b, int n) {
  ReadEpoch e;
  int i = 0;
  while (i < n) {
    EXPECT_EQ(b[i], 0x4A);
    EXPECT_EQ(b[i + 1], 0x58);
    const int len = frame_len(b[i + 2]);
    EXPECT_GT(len, 0) << "type " << static_cast<int>(b[i + 2]);
    if (len <= 0 || i + len + 1 > n) {
      ADD_FAILURE() << "cut frame";
      return e;
    }
    EXPECT_EQ(calc_checksum(b + i, len), b[i + len]);
    const U08* f = b + i;
    S16 ch = 0;
    switch (f[2]) {
      case MSG_TYPE_CHAN: {
        ASIC_CHAN_MEAS_T m{};
        unpack_msg_chan(f, &ch, &m);
        e.chan[ch] = m;
        break;
      }
      case MSG_TYPE_CHAN_CARRIER: {
        ch = f[3];  // the record to complete: this channel's CHAN report
        unpack_msg_chan_carrier(f, &ch, &e.chan[ch]);
        e.has_carrier[ch] = 1;
        break;
      }
      case MSG_TYPE_GTC_CLOCK_COUNTS:
        unpack_msg_gtc_clock_counts(f, &e.n_clocks, e.clocks, e.subsecs);
        break;
      case MSG_TYPE_GTC: {
        S16 shift = 0;
        S32 err = 0;
        unpack_msg_gtc(f, &e.gtc, &shift, &e.has_rtc, &e.noise, &err, &e.rtc);
        EXPECT_EQ(shift, 0);
        break;
      }
      default: {
        ReadEpoch::Batch bt{};
        S16 type = 0, prn = 0;
        U32 info = 0;
        unpack_msg_get_databits(f, &ch, &type, &prn, &bt.bits, &info, &bt.bitcnt, &bt.issue);
        EXPECT_EQ(type, GNSS_TYPE_GPS);
        EXPECT_EQ(info, 30U);
        bt.ch = ch;
        bt.prn = prn;
        e.batches.push_back(bt);
      }
    }
    i += len + 1;
  }
  return e;
}

SKY_SCENARIO_T scenario(int mode, double rate, int slots) {
  SKY_SCENARIO_T sc;
  sc.start = SKY_GPST_T{2400, 345600.0};
  sc.duration_s = 12.0;
  sc.tcxo_mode = mode;
  sc.meas_rate_hz = rate;
  sc.carrier_slots = slots;
  return sc;
}

// Transmit-time error of a report (m): the decoded absolute bit and sub-bit
// against the truth's, the bit part in integers (a week-long count of
// seconds in floating point would itself be coarser than 2 cm).
double tx_error_m(const ASIC_CHAN_MEAS_T& m, int64_t origin, SKY_GPST_T truth) {
  const double ms = (m.code_phase_reg >> 11) & 31;
  const double chip = m.code_phase_reg & 0x3FF;
  int sc = static_cast<int>((m.code_phase_reg >> 28) & 7);
  if (sc == 0) sc = m.nsc;
  sc -= 1;
  const double frac = (m.code_phase_reg >> 16) & 0x3FF;
  const double nsc = m.nsc;
  const double sub = 0.001 * (ms + (chip - 1) / 1023.0 + sc / (nsc * 1023.0) + frac / (nsc * 1023.0 * 1024.0)) -
                     m.peak_tap_loc / (nsc * 1023.0 * 1000.0) + 4.887585532746823e-7;
  const long double tow = truth.tow;
  const auto bit_of_week = static_cast<int64_t>(std::floor(tow / 0.02L));
  const long double truth_sub = tow - static_cast<long double>(bit_of_week) * 0.02L;
  const int64_t truth_abs = static_cast<int64_t>(truth.week) * SKY_LINK_BITS_PER_WEEK + bit_of_week;
  const int64_t abs = static_cast<int64_t>(m.bitcnt) + origin;
  return static_cast<double>((static_cast<long double>(abs - truth_abs) * 0.02L + (sub - truth_sub)) * C);
}

int64_t abs_bit(SKY_GPST_T t) {
  return static_cast<int64_t>(t.week) * SKY_LINK_BITS_PER_WEEK +
         static_cast<int64_t>(std::floor(static_cast<long double>(t.tow) / 0.02L));
}

struct ModeCase {
  const char* name;
  int mode;
  double rate;
  int slots;
  double start_tow = 345600.0;    // scenario start (and stand-in sky reference), week 2400
  SKY_GTC_ORIGIN_T gtc_origin{};  // raw time count against the receiver clock
};

void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.name; }

class SkyLinkRun : public testing::TestWithParam<ModeCase> {};

TEST_P(SkyLinkRun, ReportsDecodeToTheSkyTruth) {
  const ModeCase& mc = GetParam();
  fake_reset(6);
  fake().appear_s[5] = 3.0;  // one satellite rises during the run
  fake().t0.tow = mc.start_tow;
  SKY_SCENARIO_T sc = scenario(mc.mode, mc.rate, mc.slots);
  sc.start.tow = mc.start_tow;
  SKY_LINK_PARAM_T p;
  p.gtc_origin = mc.gtc_origin;
  ASSERT_EQ(SKY_LINK_start(&sc, p, fake_source()), 1);
  const SKY_TCXO_T& t = SKY_LINK_tcxo_of_run();
  std::vector<U08> buf(8192);
  std::map<int, int64_t> origin;  // per channel: absolute bit of track bit 0
  std::map<int, U32> next_batch_cnt;
  std::map<int, double> prev_doppler;
  SKY_LINK_EPOCH_T truth;
  int epochs = 0;
  int batches = 0;
  SKY_GTC_T prev_gtc{};
  for (;;) {
    const int n = SKY_LINK_next_epoch(buf.data(), buf.size(), &truth);
    ASSERT_GE(n, 0);
    if (n == 0) break;
    SCOPED_TRACE(testing::Message() << "epoch " << epochs);
    const ReadEpoch e = read_epoch(buf.data(), n);
    // time count: consecutive marks one period apart, each the receiver clock of the sky epoch
    const int ms = static_cast<int>(e.gtc.WEEK_SUBSEC & 0x7FF);
    EXPECT_EQ(ms % static_cast<int>(1000 / mc.rate), 0);
    if (epochs > 0) {
      EXPECT_EQ(SKY_LINK_clocks_between(t, prev_gtc, truth.gtc),
                mc.rate == 1.0
                    ? uint64_t{t.freq_hz}
                    : (ms == 0 ? t.freq_hz - SKY_LINK_ms_clocks(t, 500) : uint64_t{SKY_LINK_ms_clocks(t, 500)}));
    }
    EXPECT_EQ(e.has_rtc, ms == 0 ? 1 : 0);
    EXPECT_EQ(e.noise, t.noise_power);
    EXPECT_EQ(static_cast<int>(e.chan.size()), truth.n);
    for (int i = 0; i < truth.n; ++i) {
      const SKY_LINK_SAT_TRUTH_T& s = truth.sat[i];
      ASSERT_TRUE(e.chan.count(s.ch));
      const ASIC_CHAN_MEAS_T& m = e.chan.at(s.ch);
      EXPECT_EQ(m.prn, s.svid);
      EXPECT_EQ(m.state, s.state);
      if (!origin.count(s.ch)) {
        origin[s.ch] = abs_bit(s.tx_time) - static_cast<int64_t>(m.bitcnt);
      }
      EXPECT_LE(std::fabs(tx_error_m(m, origin[s.ch], s.tx_time)), 0.02) << "svid " << s.svid;
      const float nco = static_cast<float>(m.dop_freq) * (1.0f / t.tm_scale);
      EXPECT_NEAR(static_cast<float>(t.ideal_bb_hz) - nco, s.doppler_hz, 0.05);
      if (m.acc_carrier_cycle_count != 0) {  // carrier over the interval: the mean Doppler
        const double cyc = m.acc_carrier_cycle + m.carrier_phase / 1024.0;
        const double dt = static_cast<double>(SKY_LINK_clocks_between(t, prev_gtc, truth.gtc)) / t.freq_hz;
        EXPECT_NEAR(t.ideal_bb_hz - cyc / dt, 0.5 * (s.doppler_hz + prev_doppler[s.svid]), 0.01);
        EXPECT_EQ(s.has_mean_doppler, 1);
        EXPECT_NEAR(s.mean_doppler_hz, 0.5 * (s.doppler_hz + prev_doppler[s.svid]), 1e-9);
        EXPECT_EQ(m.acc_carrier_cycle_count, static_cast<U32>(1000 / mc.rate));
      }
      prev_doppler[s.svid] = s.doppler_hz;
      EXPECT_EQ(e.has_carrier.count(s.ch) != 0, mc.slots != 0);
    }
    prev_gtc = truth.gtc;
    // the registers, decoded as the host does (unequal milliseconds in mode 0), are the receiver clock
    const double raw_tow = (e.gtc.INTSEL_SEC & 0xFFFFF) + SKY_LINK_ms_clocks(t, ms) / static_cast<double>(t.freq_hz);
    const int raw_wn = static_cast<int>((e.gtc.WEEK_SUBSEC >> 16) & 0xFFF);
    const double raw_total = (raw_wn + mc.gtc_origin.week_offset) * 604800.0 + raw_tow + mc.gtc_origin.sec_offset;
    EXPECT_NEAR(raw_total, (truth.rx.clock_time.week & 0xFFF) * 604800.0 + truth.rx.clock_time.tow, 1e-6);
    for (const ReadEpoch::Batch& bt : e.batches) {
      ++batches;
      ASSERT_TRUE(origin.count(bt.ch));
      if (next_batch_cnt.count(bt.ch)) {
        EXPECT_EQ(bt.bitcnt, next_batch_cnt[bt.ch]);
      }
      next_batch_cnt[bt.ch] = bt.bitcnt + 30;
      int lost = 0;
      const SKY_BIT_FAULTS_T none;
      EXPECT_EQ(bt.bits, SKY_LINK_batch_bits(fake_nav_word, bt.prn, origin[bt.ch] + bt.bitcnt - 30, 0, none, &lost));
    }
    ++epochs;
  }
  EXPECT_EQ(epochs, static_cast<int>(12 * mc.rate));
  // 50/30 batches per second per satellite once bit-synchronised (after 2 epochs)
  EXPECT_GE(batches, 5 * 10 * 50 / 30 - 5);
}

INSTANTIATE_TEST_SUITE_P(Modes, SkyLinkRun,
                         testing::Values(ModeCase{"mode0_1hz", 0, 1.0, 0}, ModeCase{"mode0_2hz_slots", 0, 2.0, 1},
                                         ModeCase{"mode1_1hz", 1, 1.0, 0}, ModeCase{"mode2_2hz", 2, 2.0, 0},
                                         ModeCase{"mode3_1hz", 3, 1.0, 0}, ModeCase{"mode4_2hz_slots", 4, 2.0, 1},
                                         ModeCase{"mode0_2hz_across_the_week_end", 0, 2.0, 1, 604794.0},
                                         ModeCase{"mode4_1hz_count_behind_the_clock", 4, 1.0, 0, 345600.0, {1570, 9}}),
                         [](const testing::TestParamInfo<ModeCase>& i) { return std::string(i.param.name); });

// Plays a scenario to its end, one read epoch per entry, with the truth.
struct Played {
  std::vector<ReadEpoch> epochs;
  std::vector<SKY_LINK_EPOCH_T> truth;
};

Played play(const SKY_SCENARIO_T& sc, const SKY_LINK_PARAM_T& p = SKY_LINK_PARAM_T{}) {
  Played out;
  EXPECT_EQ(SKY_LINK_start(&sc, p, fake_source()), 1);
  std::vector<U08> buf(8192);
  SKY_LINK_EPOCH_T truth;
  for (int n = SKY_LINK_next_epoch(buf.data(), buf.size(), &truth); n > 0;
       n = SKY_LINK_next_epoch(buf.data(), buf.size(), &truth)) {
    out.epochs.push_back(read_epoch(buf.data(), n));
    out.truth.push_back(truth);
  }
  return out;
}

// Origin (absolute bit of track bit 0) of each channel's first report.
std::map<int, int64_t> origins(const Played& pl) {
  std::map<int, int64_t> o;
  for (std::size_t k = 0; k < pl.epochs.size(); ++k)
    for (int i = 0; i < pl.truth[k].n; ++i) {
      const SKY_LINK_SAT_TRUTH_T& s = pl.truth[k].sat[i];
      if (!o.count(s.ch)) o[s.ch] = abs_bit(s.tx_time) - static_cast<int64_t>(pl.epochs[k].chan.at(s.ch).bitcnt);
    }
  return o;
}

struct PolarityCase {
  const char* name;
  int invert_bits;
  int invert_at_s;
  double flip_rate;
};

TEST(SkyLinkStream, BatchPolarityFollowsTheScenario) {
  const PolarityCase cases[] = {{"upright", 0, -1, 0.0},
                                {"inverted", 1, -1, 0.0},
                                {"flips_to_inverted_at_6s", 0, 6, 0.0},
                                {"inverted_then_upright_at_6s", 1, 6, 0.0}};
  for (const PolarityCase& c : cases) {
    SCOPED_TRACE(c.name);
    fake_reset(4);
    SKY_SCENARIO_T sc = scenario(1, 1.0, 0);
    sc.invert_bits = c.invert_bits;
    sc.invert_bits_at_s = c.invert_at_s;
    const Played pl = play(sc);
    const std::map<int, int64_t> o = origins(pl);
    int checked = 0;
    for (std::size_t k = 0; k < pl.epochs.size(); ++k) {
      int inv = c.invert_bits;
      if (c.invert_at_s >= 0 && static_cast<double>(k) >= c.invert_at_s) inv ^= 1;
      for (const ReadEpoch::Batch& bt : pl.epochs[k].batches) {
        const uint32_t up =
            SKY_LINK_batch_bits(fake_nav_word, bt.prn, o.at(bt.ch) + bt.bitcnt - 30, 0, SKY_BIT_FAULTS_T{}, nullptr);
        EXPECT_EQ(bt.bits, inv ? up ^ 0x3FFFFFFFU : up) << "epoch " << k;
        ++checked;
      }
    }
    EXPECT_GT(checked, 40);
  }
}

TEST(SkyLinkStream, BitFlipsAndLostBatchesAtTheirRates) {
  fake_reset(8);
  SKY_SCENARIO_T sc = scenario(4, 1.0, 0);
  sc.duration_s = 60.0;
  sc.bit_flip_rate = 0.01;
  sc.batch_loss_rate = 0.2;
  const Played pl = play(sc);
  const std::map<int, int64_t> o = origins(pl);
  int flipped = 0, sent = 0;
  std::map<int, U32> next;
  int gaps = 0, expected_batches = 0;
  for (const ReadEpoch& e : pl.epochs)
    for (const ReadEpoch::Batch& bt : e.batches) {
      const uint32_t up =
          SKY_LINK_batch_bits(fake_nav_word, bt.prn, o.at(bt.ch) + bt.bitcnt - 30, 0, SKY_BIT_FAULTS_T{}, nullptr);
      flipped += __builtin_popcount(bt.bits ^ up);
      ++sent;
      if (next.count(bt.ch)) {
        gaps += static_cast<int>((bt.bitcnt - next[bt.ch]) / 30);
        expected_batches += static_cast<int>((bt.bitcnt - next[bt.ch]) / 30) + 1;
      }
      next[bt.ch] = bt.bitcnt + 30;
    }
  EXPECT_NEAR(flipped / (30.0 * sent), 0.01, 0.004);
  EXPECT_NEAR(static_cast<double>(gaps) / expected_batches, 0.2, 0.05);
}

TEST(SkyLinkStream, ChannelStatesAndIssueIds) {
  fake_reset(6);
  fake().vanish_s[2] = 4.0;  // satellite 3 sets: its channel is freed
  fake().appear_s[5] = 7.0;  // satellite 6 rises later and takes the free channel
  fake().vanish_s[5] = 1e9;
  const Played pl = play(scenario(1, 1.0, 0));
  ASSERT_EQ(pl.epochs.size(), 12U);
  EXPECT_EQ(pl.epochs[0].chan.size(), 5U);
  EXPECT_EQ(pl.epochs[0].chan.at(0).state, CH_PULLIN);
  EXPECT_EQ(pl.epochs[1].chan.at(0).state, CH_BITSYNC);
  EXPECT_EQ(pl.epochs[2].chan.at(0).state, CH_TRACK);
  EXPECT_EQ(pl.epochs[0].chan.at(2).prn, 3);
  EXPECT_EQ(pl.epochs[0].chan.at(2).track_issue, 1);
  EXPECT_EQ(pl.epochs[5].chan.count(2), 0U);  // not reported: the host marks it idle
  EXPECT_EQ(pl.epochs[5].chan.size(), 4U);
  const ASIC_CHAN_MEAS_T& late = pl.epochs[8].chan.at(2);
  EXPECT_EQ(late.prn, 6);
  EXPECT_EQ(late.track_issue, 2);
  EXPECT_EQ(late.state, CH_PULLIN);
  EXPECT_EQ(late.acc_carrier_cycle_count, 0U);  // no carrier yet in its first epoch
  EXPECT_EQ(pl.epochs[8].chan.at(0).track_issue, 1);
}

TEST(SkyLinkStream, CarrierSlotsAddUpToTheEpochAndTheClockCounts) {
  fake_reset(5);
  const Played pl = play(scenario(0, 2.0, 1));
  SKY_TCXO_T t;
  ASSERT_EQ(SKY_LINK_tcxo(0, &t), 1);
  int checked = 0;
  for (std::size_t k = 1; k < pl.epochs.size(); ++k) {
    const ReadEpoch& e = pl.epochs[k];
    ASSERT_EQ(e.n_clocks, 10);
    U32 sum = 0;
    for (int i = 0; i < 10; ++i) {
      EXPECT_EQ(e.subsecs[i], 50);
      sum += e.clocks[i];
    }
    EXPECT_EQ(sum, SKY_LINK_clocks_between(t, pl.truth[k - 1].gtc, pl.truth[k].gtc));
    for (const auto& [ch, m] : e.chan) {
      if (m.acc_carrier_cycle_count == 0) continue;
      ASSERT_EQ(m.carrier_phase_ary_count, 10);
      double slots = 0.0;
      for (int i = 0; i < 10; ++i) {
        const auto j = static_cast<std::size_t>(i);
        const int end = i < 9 ? m.start_carrier_phase_ary[j + 1] : m.end_carrier_phase;
        slots += m.acc_carrier_cycle_ary[j] + (end - m.start_carrier_phase_ary[j]) / 1024.0;
        EXPECT_EQ(m.acc_carrier_cycle_count_ary[j], 50);
      }
      EXPECT_NEAR(slots, m.acc_carrier_cycle + m.carrier_phase / 1024.0, 1e-9) << "ch " << ch;
      ++checked;
    }
  }
  EXPECT_GT(checked, 50);
}

// The host's chain from data bits to transmit time: the preamble found in the
// batches at track bit fs_bitcnt (bit count of a batch = track count after
// its last bit), the HOW's TOW count giving fs_tow = 6 × count − 6, the
// origin bitcnt0 = 50 × fs_tow − fs_bitcnt, then every channel report's
// (bitcnt + bitcnt0) × 20 ms + sub-bit is its transmit time, and fs_tow the
// truth's frame-sync time.
TEST(SkyLinkStream, FrameSyncFromTheBatchesTiesTheBitCountToGpsTime) {
  fake_reset(4);
  SKY_SCENARIO_T sc = scenario(0, 1.0, 0);
  sc.duration_s = 20.0;
  const Played pl = play(sc);
  std::map<int, std::map<int64_t, int>> bits;  // per channel: track bit -> value
  for (const ReadEpoch& e : pl.epochs)
    for (const ReadEpoch::Batch& bt : e.batches)
      for (int i = 0; i < 30; ++i) bits[bt.ch][static_cast<int64_t>(bt.bitcnt) - 30 + i] = (bt.bits >> (29 - i)) & 1;
  ASSERT_EQ(bits.size(), 4U);
  for (const auto& entry : bits) {
    const auto& b = entry.second;
    const auto ch = entry.first;
    SCOPED_TRACE(ch);
    auto field = [&](int64_t from, int n) {
      int v = 0;
      for (int i = 0; i < n; ++i) v = (v << 1) | b.at(from + i);
      return v;
    };
    int64_t fs_bitcnt = -1;
    int tow_count = 0;
    // a preamble whose HOW is consistent and that the next subframe confirms
    for (int64_t k = b.begin()->first; k + 360 <= b.rbegin()->first; ++k) {
      if (field(k, 8) != 0x8B || field(k + 300, 8) != 0x8B) continue;
      tow_count = field(k + 30, 17);
      if (field(k + 30 + 19, 3) == (tow_count + 4) % 5 + 1 && field(k + 330, 17) == tow_count + 1) {
        fs_bitcnt = k;
        break;
      }
    }
    ASSERT_GE(fs_bitcnt, 0);
    const int64_t fs_tow = 6LL * tow_count - 6;
    const int64_t bitcnt0 = fs_tow * 50 - fs_bitcnt;
    int checked = 0;
    for (std::size_t k = 0; k < pl.epochs.size(); ++k)
      for (int i = 0; i < pl.truth[k].n; ++i) {
        const SKY_LINK_SAT_TRUTH_T& s = pl.truth[k].sat[i];
        if (s.ch != ch) continue;
        const int64_t week_origin = static_cast<int64_t>(s.tx_time.week) * SKY_LINK_BITS_PER_WEEK + bitcnt0;
        EXPECT_LE(std::fabs(tx_error_m(pl.epochs[k].chan.at(ch), week_origin, s.tx_time)), 0.02) << k;
        if (s.has_frame_sync_time) {
          EXPECT_EQ(s.frame_sync_time.week, s.tx_time.week);
          EXPECT_DOUBLE_EQ(s.frame_sync_time.tow, static_cast<double>(fs_tow));
        }
        ++checked;
      }
    EXPECT_EQ(checked, 20);
  }
}

// A scripted slip of the L1 carrier moves the baseband phase the other way,
// in the epoch and slot it falls in, which are flagged.
TEST(SkyLinkStream, CycleSlipsShowInTheirEpochAndSlot) {
  fake_reset(4);
  SKY_SCENARIO_T sc = scenario(4, 2.0, 1);
  sc.n_slips = 1;
  sc.slips[0].svid = 2;
  sc.slips[0].t = 5.22;  // epoch 11 covers (5.0, 5.5] s, its slot 4 (5.20, 5.25]
  sc.slips[0].cycles = 10.0;
  const Played pl = play(sc);
  ASSERT_EQ(pl.epochs.size(), 24U);
  SKY_TCXO_T t;
  ASSERT_EQ(SKY_LINK_tcxo(4, &t), 1);
  for (std::size_t k = 2; k < pl.epochs.size(); ++k) {
    SCOPED_TRACE(k);
    const ASIC_CHAN_MEAS_T& m = pl.epochs[k].chan.at(1);
    ASSERT_EQ(m.prn, 2);
    const double mean_dopp = 0.5 * (pl.truth[k].sat[1].doppler_hz + pl.truth[k - 1].sat[1].doppler_hz);
    const double cyc = m.acc_carrier_cycle + m.carrier_phase / 1024.0;
    const double dt = static_cast<double>(SKY_LINK_clocks_between(t, pl.truth[k - 1].gtc, pl.truth[k].gtc)) / t.freq_hz;
    const bool slip = k == 11;
    EXPECT_EQ(m.unlock_count, slip ? 1 : 0);
    EXPECT_NEAR(t.ideal_bb_hz - cyc / dt, mean_dopp + (slip ? 10.0 / dt : 0.0), 0.01);
    for (int i = 0; i < 10; ++i)
      EXPECT_EQ(m.carrier_phase_no_good_count_ary[static_cast<std::size_t>(i)], slip && i == 4 ? 4 : 0) << i;
    EXPECT_EQ(pl.epochs[k].chan.at(0).unlock_count, 0);
  }
}

// The RTC records of whole-second epochs measure the RTC against the time
// count: the RTC time between two latches (sub-second counts included) over
// the time-count time between them (whole seconds plus the latch delays, in
// TCXO clocks), times (1 + clock drift), is the RTC's own rate. Each record's
// latch delay is under one RTC count (it fits the kernel's 16 bits), and its
// sub-second is the RTC's 0.3125 s lead over GPS time, not 0.
TEST(SkyLinkStream, RtcRecordsGiveTheRtcRate) {
  fake_reset(3);
  SKY_SCENARIO_T sc = scenario(0, 2.0, 0);
  sc.duration_s = 30.0;
  SKY_LINK_PARAM_T p;
  p.rtc.drift = 2.0e-5;
  const Played pl = play(sc, p);
  SKY_TCXO_T t;
  ASSERT_EQ(SKY_LINK_tcxo(0, &t), 1);
  std::vector<ReadEpoch> rec;
  for (const ReadEpoch& e : pl.epochs)
    if (e.has_rtc) rec.push_back(e);
  ASSERT_EQ(rec.size(), 30U);
  for (std::size_t i = 1; i < rec.size(); ++i) EXPECT_EQ(rec[i].rtc.record_rtc_sec, rec[i - 1].rtc.record_rtc_sec + 1);
  for (std::size_t k = 0; k < pl.epochs.size(); ++k) {
    const ReadEpoch& e = pl.epochs[k];
    if (!e.has_rtc) continue;
    EXPECT_LE(e.rtc.record_read_rtc_delay_time_after_gtc_subsec_0_unit_is_gtc_clock, t.freq_hz / 32768U + 1U);
    // The latch is the RTC reading at the epoch, or the next count.
    const SKY_RTC_T now = SKY_LINK_rtc_at(p.rtc, pl.truth[k].rx.true_time);
    const int64_t latched = static_cast<int64_t>(e.rtc.record_rtc_sec) * 32768 + (e.rtc.record_rtc_wn_subsec & 0x7FFF);
    const int64_t reading = static_cast<int64_t>(now.sec) * 32768 + now.subsec;
    EXPECT_GE(latched - reading, 0) << k;
    EXPECT_LE(latched - reading, 1) << k;
  }
  const ReadEpoch& a = rec.front();
  const ReadEpoch& b = rec.back();
  const double rtc_s = static_cast<double>(b.rtc.record_rtc_sec) - a.rtc.record_rtc_sec +
                       (static_cast<double>(b.rtc.record_rtc_wn_subsec & 0x7FFFU) -
                        static_cast<double>(a.rtc.record_rtc_wn_subsec & 0x7FFFU)) /
                           32768.0;
  const double ss = static_cast<double>(b.rtc.record_read_rtc_delay_time_after_gtc_subsec_0_unit_is_gtc_clock) -
                    static_cast<double>(a.rtc.record_read_rtc_delay_time_after_gtc_subsec_0_unit_is_gtc_clock);
  const double gtc_s = std::floor(rtc_s + 0.5) + ss / t.freq_hz;
  EXPECT_NEAR(rtc_s / gtc_s * (1.0 + fake().drift), 1.0 + 2.0e-5, 5e-9);
}

}  // namespace

namespace {

TEST(SkyLinkStream, RefusesBadStartsAndShortBuffers) {
  fake_reset(4);
  SKY_SCENARIO_T sc = scenario(4, 1.0, 0);
  SKY_LINK_SOURCE_T none;
  EXPECT_EQ(SKY_LINK_start(&sc, SKY_LINK_PARAM_T{}, none), 0);
  EXPECT_EQ(SKY_LINK_start(nullptr, SKY_LINK_PARAM_T{}, fake_source()), 0);
  for (const auto& [mode, rate] : {std::pair{5, 1.0}, std::pair{-1, 1.0}, std::pair{4, 0.5}, std::pair{4, 5.0}}) {
    sc.tcxo_mode = mode;
    sc.meas_rate_hz = rate;
    EXPECT_EQ(SKY_LINK_start(&sc, SKY_LINK_PARAM_T{}, fake_source()), 0) << mode << " " << rate;
  }
  sc = scenario(4, 1.0, 0);
  ASSERT_EQ(SKY_LINK_start(&sc, SKY_LINK_PARAM_T{}, fake_source()), 1);
  U08 small[100];
  EXPECT_EQ(SKY_LINK_next_epoch(small, sizeof small, nullptr), -1);  // four channel reports do not fit
}

}  // namespace
