// The closed-loop search engine of the simulated sky: host commands in,
// acquisitions out. The epoch at which each satellite gets a channel is
// computed here from the documented rule (tools/sky/README.md, "Closed loop"):
// a set sweeps its PRNs (cold: all 32 from PRN seed mod 32 + 1 on; hot: the
// Doppler list in order), each over its bins of the level's width centred on
// the searched Doppler; cell = sweep index x bins + bin; the unit count tests
// that many cells at once, so the cell is reached at (cell / units + 1) x the
// level's cell time of engine time; engine time k s at epoch k (1 Hz).
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "misc/host_msg.h"
#include "misc/pack.h"
#include "tests/tools/sky/sky_link_fake.h"
#include "tools/sky/sky_link.h"
#include "tools/sky/sky_predict.h"
#include "tools/sky/sky_search.h"

namespace {

using namespace sky_fake;

constexpr unsigned SEED = 3;                       // cold sweeps start at PRN 4
constexpr int NSAT = 6;                            // fake C/N0 30.0, 34.1, 38.2, 42.3, 46.4, 50.5 dB-Hz for PRN 1..6
constexpr double SCALE = 67108864.0 / 24552000.0;  // engine units per Hz in TCXO mode 4 (2^26 / f)

SKY_SCENARIO_T scenario(double duration) {
  SKY_SCENARIO_T sc;
  sc.start = SKY_GPST_T{2400, 345600.0};
  sc.duration_s = duration;
  sc.tcxo_mode = 4;
  sc.meas_rate_hz = 1.0;
  sc.seed = SEED;
  return sc;
}

// One epoch's channel reports and search status, read back from its bytes.
struct Reports {
  std::map<int, ASIC_CHAN_MEAS_T> chan;  // by hardware channel
  int n_status = 0;
  S08 mode = 0, state = 0, p0 = 0, p1 = 0, p2 = 0, p3 = 0;
};

Reports read_reports(const U08* b, int n) {
  Reports r;
  int i = 0;
  while (i + 3 <= n) {
    const HOST_MSG_INFO_T* m = HOST_MSG_find(b[i + 2]);
    if (b[i] != 0x4A || b[i + 1] != 0x58 || m == nullptr || i + m->len + 1 > n) {
      ADD_FAILURE() << "bad frame at byte " << i;
      return r;
    }
    EXPECT_EQ(calc_checksum(b + i, m->len), b[i + m->len]);
    if (b[i + 2] == MSG_TYPE_CHAN) {
      S16 ch = 0;
      ASIC_CHAN_MEAS_T c{};
      unpack_msg_chan(b + i, &ch, &c);
      r.chan[ch] = c;
    } else if (b[i + 2] == MSG_TYPE_PSE_STATUS) {
      U32 weak = 0;
      unpack_msg_pse_status(b + i, &r.mode, &r.state, &r.p0, &r.p1, &r.p2, &r.p3, &weak);
      ++r.n_status;
    }
    i += m->len + 1;
  }
  return r;
}

// A closed-loop run of the stand-in sky, one epoch at a time.
struct Loop {
  SKY_SCENARIO_T sc;
  SKY_LINK_EPOCH_T truth{};
  Reports rep;
  int epoch = -1;
  explicit Loop(double duration) : sc(scenario(duration)) {
    fake_reset(NSAT);
    EXPECT_EQ(SKY_LINK_start(&sc, SKY_LINK_PARAM_T{}, fake_source()), 1);
    SKY_LINK_set_closed_loop(1);
  }
  bool step() {
    static U08 buf[8192];
    const int n = SKY_LINK_next_epoch(buf, sizeof buf, &truth);
    if (n <= 0) return false;
    rep = read_reports(buf, n);
    ++epoch;
    return true;
  }
  const SKY_LINK_SAT_TRUTH_T* sat(int svid) const {
    for (int i = 0; i < truth.n; ++i)
      if (truth.sat[i].svid == svid) return &truth.sat[i];
    return nullptr;
  }
};

void send(const U08* f, int n_without_checksum) {
  U08 b[400];
  for (int i = 0; i < n_without_checksum; ++i) b[i] = f[i];
  const int n = append_checksum(b, n_without_checksum);
  EXPECT_EQ(SKY_LINK_command(b, n), 1);
}

void send_list(int mode_code, const std::vector<PSE_STATE_T>& list) {
  std::array<PSE_STATE_T, MSG_PSE_STATES_N> st{};
  for (std::size_t i = 0; i < list.size(); ++i) st[i] = list[i];
  U08 f[200];
  send(f,
       pack_msg_pse_set_search_states_array(f, static_cast<S08>(mode_code), static_cast<S16>(list.size()), st.data()));
}

PSE_STATE_T one_set(U08 mode, U08 level, U08 bins, U08 units) {
  PSE_STATE_T s{};
  s.nsets = 1;
  s.set[0] = PSE_SEARCH_SET_T{mode, level, bins, units};
  return s;
}

// The documented rule: engine time at which a set reaches a satellite (-1: never).
struct Level {
  double min_cn0, cell_s, bin_hz;
};
constexpr Level LEVELS[] = {{54, 0.010, 500},  {49, 0.015, 500}, {44, 0.025, 500}, {39, 0.040, 250},
                            {36, 0.060, 250},  {32, 0.100, 250}, {28, 0.250, 250}, {29, 0.200, 250},
                            {29, 0.200, 62.5}, {25, 0.800, 25},  {22, 2.000, 25}};

double rule_time(int index, int bins, int units, int level, double centre_hz, double doppler_hz, double cn0) {
  const Level& lv = LEVELS[level];
  if (index < 0 || cn0 < lv.min_cn0) return -1.0;
  const double b = std::floor((doppler_hz - (centre_hz - 0.5 * bins * lv.bin_hz)) / lv.bin_hz);
  if (b < 0 || b >= bins) return -1.0;
  const int cell = index * bins + static_cast<int>(b);
  return (cell / units + 1) * lv.cell_s;
}

double pass_time(int nprn, int bins, int units, int level) {
  return ((nprn * bins + units - 1) / units) * LEVELS[level].cell_s;
}

int cold_index(int prn) { return (prn - static_cast<int>(SEED % 32 + 1) + 32) % 32; }

TEST(SkySearch, BlindColdSearchFindsEachSatelliteWhenTheSweepReachesIt) {
  Loop l(40.0);
  std::map<int, int> first;  // svid -> first epoch with a channel
  while (l.step())
    for (int i = 0; i < l.truth.n; ++i) first.emplace(l.truth.sat[i].svid, l.epoch);
  for (int svid = 1; svid <= NSAT; ++svid) {
    SCOPED_TRACE("PRN " + std::to_string(svid));
    const double cn0 = 30.0 + 4.1 * (svid - 1);
    // The Doppler moves by well under a bin over the run: take it at the start.
    fake_reset(NSAT);
    SKY_EPOCH_T ep;
    fake_epoch_at_clock(SKY_GPST_T{2400, 345600.0 + 2.5e-4}, &ep);
    const double t = rule_time(cold_index(svid), SKY_SEARCH_BLIND_BINS, SKY_SEARCH_UNITS, SKY_SEARCH_BLIND_LEVEL, 0.0,
                               ep.sig[svid - 1].doppler_hz, cn0);
    if (t < 0) {
      EXPECT_EQ(first.count(svid), 0U) << "found though below the blind level's threshold";
      continue;
    }
    ASSERT_EQ(first.count(svid), 1U);
    EXPECT_EQ(first[svid], static_cast<int>(std::ceil(t))) << "rule time " << t << " s";
  }
}

// Commands sent before the first epoch, and what each satellite does.
struct ListCase {
  const char* name;
  int paused;
  int wrong_dopp_svid;  // this listed satellite gets a Doppler 5 kHz off
};

TEST(SkySearch, HotListPauseAndWrongDoppler) {
  const ListCase cases[] = {
      {"hot list, right Dopplers", 0, 0},
      {"hot list, PRN 6 5 kHz off", 0, 6},
      {"paused", 1, 0},
  };
  for (const ListCase& c : cases) {
    SCOPED_TRACE(c.name);
    Loop l(12.0);
    // The Doppler list: PRN 6, 5, 4 in this order, at their true Doppler (engine units, clock offset 0).
    fake_reset(NSAT);
    SKY_EPOCH_T ep;
    fake_epoch_at_clock(SKY_GPST_T{2400, 345600.0 + 2.5e-4}, &ep);
    std::array<PSE_PRN_DOPP_T, MSG_PSE_SVDOPP_N> d{};
    const int order[] = {6, 5, 4};
    for (int i = 0; i < 3; ++i) {
      const int svid = order[i];
      const double hz = ep.sig[svid - 1].doppler_hz + (svid == c.wrong_dopp_svid ? 5000.0 : 0.0);
      d[static_cast<std::size_t>(i)] = PSE_PRN_DOPP_T{static_cast<S16>(svid), static_cast<S16>(hz * SCALE)};
    }
    U08 f[200];
    send(f, pack_msg_pse_set_sv_doppler(f, 3, d.data()));
    send_list(4, {one_set(1, 3, 13, 6)});  // hot, level 3 (39 dB-Hz), 13 bins of 250 Hz
    if (c.paused != 0) send(f, pack_msg_pse_pause(f, 1));
    std::map<int, int> first;
    while (l.step()) {
      for (int i = 0; i < l.truth.n; ++i) first.emplace(l.truth.sat[i].svid, l.epoch);
      if (l.rep.n_status > 0) {  // the status names the list, its strategy, its level and the pause
        EXPECT_EQ(l.rep.mode, 4);
        EXPECT_EQ(l.rep.state, 0);
        EXPECT_EQ(l.rep.p0, 3);
        EXPECT_EQ(l.rep.p1, -1);
        EXPECT_EQ(l.rep.p3, c.paused);
      }
    }
    for (int svid = 1; svid <= NSAT; ++svid) {
      SCOPED_TRACE("PRN " + std::to_string(svid));
      int index = -1;
      for (int i = 0; i < 3; ++i)
        if (order[i] == svid) index = i;
      const double centre =
          index >= 0 ? d[static_cast<std::size_t>(index)].dopp / static_cast<double>(static_cast<float>(SCALE)) : 0.0;
      const double t = c.paused != 0
                           ? -1.0
                           : rule_time(index, 13, 6, 3, centre, ep.sig[svid - 1].doppler_hz, 30.0 + 4.1 * (svid - 1));
      if (t < 0) {
        EXPECT_EQ(first.count(svid), 0U);
        continue;
      }
      ASSERT_EQ(first.count(svid), 1U);
      EXPECT_EQ(first[svid], static_cast<int>(std::ceil(t)));
    }
  }
}

TEST(SkySearch, DropFreesTheChannelAndTheSatelliteComesBackAfterANewDwell) {
  Loop l(45.0);
  constexpr int SVID = 6;
  SKY_EPOCH_T ep;
  fake_epoch_at_clock(SKY_GPST_T{2400, 345600.0 + 2.5e-4}, &ep);
  const double t = rule_time(cold_index(SVID), SKY_SEARCH_BLIND_BINS, SKY_SEARCH_UNITS, SKY_SEARCH_BLIND_LEVEL, 0.0,
                             ep.sig[SVID - 1].doppler_hz, 50.5);
  ASSERT_GT(t, 0.0);
  const double pass = pass_time(32, SKY_SEARCH_BLIND_BINS, SKY_SEARCH_UNITS, SKY_SEARCH_BLIND_LEVEL);
  const int drop_epoch = static_cast<int>(std::ceil(t)) + 3;
  int ch = -1;
  U08 issue = 0;
  int back = -1;
  while (l.step()) {
    const SKY_LINK_SAT_TRUTH_T* s = l.sat(SVID);
    if (l.epoch == drop_epoch) {
      ASSERT_NE(s, nullptr);
      ch = s->ch;
      issue = l.rep.chan.at(ch).track_issue;
      U08 f[32];
      // A wrong track issue is refused and leaves the channel.
      U08 b[32];
      const int n =
          append_checksum(b, pack_msg_drop_channel(b, static_cast<S16>(ch), SVID, static_cast<U08>(issue + 1)));
      EXPECT_EQ(SKY_LINK_command(b, n), 0);
      EXPECT_EQ(SKY_SEARCH_counts().drops_refused, 1);
      send(f, pack_msg_drop_channel(f, static_cast<S16>(ch), SVID, issue));
      continue;
    }
    if (l.epoch > drop_epoch && back < 0) {
      if (s != nullptr) {
        back = l.epoch;
      } else if (l.rep.chan.count(ch) != 0) {  // the freed channel may take another satellite, not this one
        EXPECT_NE(l.rep.chan.at(ch).prn, SVID) << "epoch " << l.epoch;
      }
    }
  }
  EXPECT_EQ(SKY_SEARCH_counts().drops, 1);
  EXPECT_EQ(back, static_cast<int>(std::ceil(pass + t))) << "the next pass reaches it at " << pass + t << " s";
}

TEST(SkySearch, OneMillisecondShiftMovesTheReportedTransmitTime) {
  Loop l(20.0);
  constexpr int SVID = 6;
  std::vector<double> d;  // reported minus true transmit time, ms (plus the channel's constant origin)
  int shift_epoch = -1;
  while (l.step()) {
    const SKY_LINK_SAT_TRUTH_T* s = l.sat(SVID);
    if (s == nullptr) continue;
    const ASIC_CHAN_MEAS_T& m = l.rep.chan.at(s->ch);
    const double ms = (m.code_phase_reg >> 11) & 31;
    const double chip = m.code_phase_reg & 0x3FF;
    d.push_back(m.bitcnt * 20.0 + ms + chip / 1023.0 - (s->tx_time.tow - 345600.0) * 1000.0);
    if (shift_epoch < 0 && d.size() == 3) {
      shift_epoch = l.epoch;
      U08 f[32];
      send(f, pack_msg_ch_shift_msc(f, s->ch, SVID, m.track_issue, 1));
    }
  }
  ASSERT_GE(d.size(), 6U);
  EXPECT_NEAR(d[1] - d[0], 0.0, 0.01);
  EXPECT_NEAR(d[2] - d[1], 0.0, 0.01);
  EXPECT_NEAR(d[3] - d[2], 1.0, 0.01);  // the report after the command carries the shift
  EXPECT_NEAR(d[5] - d[3], 0.0, 0.01);
  EXPECT_EQ(SKY_SEARCH_counts().shifts, 1);
}

TEST(SkySearch, MalformedAndUnknownFramesAreCountedAndIgnored) {
  Loop l(3.0);
  U08 good[16];
  const int n = append_checksum(good, pack_msg_pse_pause(good, 1));
  struct Bad {
    const char* name;
    std::vector<U08> frame;
  };
  std::vector<U08> g(good, good + n);
  auto with = [&](int at, U08 v) {
    std::vector<U08> b = g;
    b[static_cast<std::size_t>(at)] = v;
    return b;
  };
  std::vector<U08> short_frame(g.begin(), g.begin() + 2);
  std::vector<U08> long_frame = g;
  long_frame.push_back(0);
  std::vector<U08> unknown = {0x4A, 0x58, 200, 0};
  unknown[3] = calc_checksum(unknown.data(), 3);
  std::vector<U08> report = {0x4A, 0x58, MSG_TYPE_PSE_STATUS};  // a report type, not a command
  report.resize(MSG_LEN_PSE_STATUS + 1);
  report.back() = calc_checksum(report.data(), MSG_LEN_PSE_STATUS);
  std::array<PSE_STATE_T, MSG_PSE_STATES_N> st{};
  st[0] = one_set(1, 3, 13, 6);
  st[0].nsets = 4;  // more sets than a state has
  U08 f[200];
  const int m = append_checksum(f, pack_msg_pse_set_search_states_array(f, 4, 1, st.data()));
  const Bad cases[] = {
      {"two bytes", short_frame},         {"bad first sync", with(0, 0x00)},
      {"bad second sync", with(1, 0x00)}, {"bad checksum", with(n - 1, 0)},
      {"one byte too many", long_frame},  {"unknown type", unknown},
      {"a report type", report},          {"strategy state of 4 sets", std::vector<U08>(f, f + m)},
  };
  int bad = 0;
  for (const Bad& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SKY_LINK_command(c.frame.data(), static_cast<int>(c.frame.size())), 0);
    EXPECT_EQ(SKY_SEARCH_counts().bad, ++bad);
    EXPECT_EQ(SKY_SEARCH_view().paused, 0);
    EXPECT_EQ(SKY_SEARCH_view().has_list, 0);
  }
  EXPECT_EQ(SKY_LINK_command(nullptr, 5), 0);
  EXPECT_EQ(SKY_LINK_command(good, n), 1);
  EXPECT_EQ(SKY_SEARCH_view().paused, 1);
}

// A predicted measurement starts its satellite at the next epoch, search or
// no search (the engine is paused here), when the list says it is good to the
// chip and its code phase is within 1/8 chip and its Doppler within half a
// hot-search bin (31.25 Hz) of the truth at the list's second; otherwise it
// is left to the search. The truth here is the stand-in sky's own signal at
// the mark of the epoch sent: code phase = its time stamp modulo 20 ms x
// 1 023 000 x 8192 (1/8192 chip), Doppler word = the target's
// (SKY_LINK_nco_word). Before, the code phase was not looked at and a
// Doppler 200 Hz off still started the satellite.
TEST(SkySearch, PredictedMeasurementStartsItsSatelliteOnlyWhenCodeAndDopplerAreClose) {
  struct Case {
    const char* name;
    double code_err_chips;  // predicted - true
    double dopp_err_hz;     // predicted - true
    S16 can_chip;           // the list's can_predict_to_chip
    int ref_offset_s;       // list second - the epoch's second (0: the epoch sent)
    int started;
  };
  const Case cases[] = {
      {"right code and Doppler", 0.0, 0.0, 1, 0, 1},
      {"0.1 chip early, 30 Hz high", -0.1, 30.0, 1, 0, 1},
      {"0.1 chip late, 30 Hz low", 0.1, -30.0, 1, 0, 1},
      {"a whole bit off is the same code phase", 20460.0, 0.0, 1, 0, 1},
      {"0.2 chip off", 0.2, 0.0, 1, 0, 0},
      {"one chip off", -1.0, 0.0, 1, 0, 0},
      {"40 Hz off", 0.0, 40.0, 1, 0, 0},
      {"200 Hz off", 0.0, 200.0, 1, 0, 0},
      {"not good to the chip", 0.0, 0.0, 0, 0, 0},
      {"a second no epoch was sent for", 0.0, 0.0, 1, 5, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Loop l(4.0);
    constexpr int SVID = 4;
    U08 f[400];
    send(f, pack_msg_pse_pause(f, 1));
    ASSERT_TRUE(l.step());
    ASSERT_EQ(l.sat(SVID), nullptr) << "paused from the start: nothing acquired";
    ASSERT_EQ(l.truth.gtc.ms, 0);
    SKY_EPOCH_T ep;
    fake_epoch_at_clock(l.truth.rx.clock_time, &ep);
    const SKY_SIGNAL_T& sig = ep.sig[SVID - 1];
    const double code = std::fmod(sig.tx_time.tow, 0.020) * 1023000.0 * 8192.0 + c.code_err_chips * 8192.0;
    std::array<ASIC_PREDICTED_MEAS_T, MSG_PREDICT_N> pm{};
    pm[0].prn = SVID;
    pm[0].code0 = static_cast<S32>(std::lround(std::fmod(code + 20460.0 * 8192.0, 20460.0 * 8192.0)));
    pm[0].dop_freq = SKY_LINK_nco_word(SKY_LINK_tcxo_of_run(), sig.doppler_hz + c.dopp_err_hz);
    pm[0].by_eph_flag = 1;
    send(f, pack_msg_predict_meas(f, 1, l.truth.gtc.sec + c.ref_offset_s, pm.data(), c.can_chip));
    int first = -1;
    while (l.step())
      if (first < 0 && l.sat(SVID) != nullptr) first = l.epoch;
    EXPECT_EQ(first, c.started != 0 ? 1 : -1);
    EXPECT_EQ(SKY_SEARCH_counts().predicted_started, c.started);
    EXPECT_EQ(SKY_SEARCH_counts().predict_meas, 1);
    ASSERT_EQ(SKY_PREDICT_count(), 1);
    const SKY_PREDICT_RECORD_T* r = SKY_PREDICT_record(0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->started, c.started);
    EXPECT_EQ(r->has_truth, c.ref_offset_s == 0 ? 1 : 0);
    if (r->has_truth == 0) continue;
    EXPECT_NEAR(r->code_err_chips, std::remainder(c.code_err_chips, 20460.0), 1e-3);
    EXPECT_NEAR(r->doppler_err_hz, c.dopp_err_hz, 0.05);
    EXPECT_EQ(r->epoch, 0);
    EXPECT_EQ(r->true_nco, SKY_LINK_nco_word(SKY_LINK_tcxo_of_run(), sig.doppler_hz));
  }
}

// Received lists stay safe: a count outside 0..20 is refused whole (counted
// bad), a PRN outside 1..32 is skipped and counted; nothing starts.
TEST(SkySearch, PredictedMeasurementListsOutOfRangeAreIgnoredAndCounted) {
  struct Case {
    const char* name;
    S16 num;
    S16 prn;
    int taken;  // the frame taken (1) or refused as bad (0)
    int bad_lists, bad_prn, entries;
  };
  const Case cases[] = {
      {"count 21", 21, 4, 0, 1, 0, 0}, {"count -1", -1, 4, 0, 1, 0, 0}, {"count 0", 0, 4, 1, 0, 0, 0},
      {"PRN 0", 1, 0, 1, 0, 1, 1},     {"PRN 33", 1, 33, 1, 0, 1, 1},   {"PRN -5", 1, -5, 1, 0, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Loop l(3.0);
    U08 f[400];
    send(f, pack_msg_pse_pause(f, 1));
    ASSERT_TRUE(l.step());
    std::array<ASIC_PREDICTED_MEAS_T, MSG_PREDICT_N> pm{};
    for (auto& m : pm) m.prn = c.prn;
    // The count byte travels as one signed byte at offset 3.
    const int n = pack_msg_predict_meas(f, 0, l.truth.gtc.sec, pm.data(), 1);
    f[3] = static_cast<U08>(c.num);
    U08 b[400];
    for (int i = 0; i < n; ++i) b[i] = f[i];
    const int len = append_checksum(b, n);
    EXPECT_EQ(SKY_LINK_command(b, len), c.taken);
    while (l.step()) {
    }
    EXPECT_EQ(SKY_PREDICT_counts().bad_lists, c.bad_lists);
    EXPECT_EQ(SKY_PREDICT_counts().bad_prn, c.bad_prn);
    EXPECT_EQ(SKY_PREDICT_counts().entries, c.entries);
    EXPECT_EQ(SKY_SEARCH_counts().bad, c.taken != 0 ? 0 : 1);
    EXPECT_EQ(SKY_SEARCH_counts().predicted_started, 0);
  }
}

}  // namespace
