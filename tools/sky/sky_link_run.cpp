// A scenario played as the target's report stream, one measurement epoch at a
// time: channel assignment, channel reports, carrier slots, the GTC report
// with its RTC record, and the data-bit batches completed by the epoch.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "misc/pack.h"
#include "tools/sky/sky_hot.h"
#include "tools/sky/sky_link.h"
#include "tools/sky/sky_pps.h"
#include "tools/sky/sky_predict.h"
#include "tools/sky/sky_search.h"

namespace {

constexpr double BIT_S = 0.02;
constexpr int SLOTS = MSG_CARRIER_ARY_N;     // carrier slots of an epoch
constexpr uint8_t PEAK_TAP = 3;              // peak tap the target reports, sub-chips
constexpr uint32_t CH_NOISE_POWER = 100000;  // channel noise power: below every interference threshold
constexpr uint32_t DEBUG_MSG = 1U << 8;      // bit-sync source: normal
constexpr std::size_t MAX_FRAME = 80;        // longest report frame with its checksum
constexpr uint8_t SLIP_NO_GOOD = 4;          // no-good readings of a slot with a slip: above the host's limit of 3

struct LINK_CH_T {
  int16_t svid = 0;           // 0: free; an SBAS GEO by its kernel prn 120..138
  int geo = -1;               // SBAS channel: index of the GEO in the run; -1 for a GPS channel
  uint8_t issue = 0;          // tracking issue, changes with every assignment
  int age = 0;                // epochs since assignment
  int64_t origin = 0;         // absolute bit of track bit 0 (SBAS: absolute symbol, 2 ms, of track symbol 0)
  int64_t next_batch = -1;    // track bit of the next batch's first bit; −1 before bit sync
  long double phase = 0.0L;   // baseband carrier phase accumulated, cycles
  double prev_doppler = 0.0;  // Doppler at the previous epoch, Hz
  int has_first_bit = 0;
  int64_t first_abs_bit = 0;                          // absolute bit of the first data bit sent
  int64_t eph_end_bit = 0;                            // absolute bit where subframes 1..3 have all been sent whole
  int slipped = 0;                                    // a scripted cycle slip fell in this epoch's interval
  std::array<uint8_t, MSG_CARRIER_ARY_N> slot_bad{};  // no-good carrier readings per slot of this epoch
  int32_t shift_ms = 0;                               // commanded code shift: reported transmit time moves by it, ms
};

struct LINK_RUN_T {
  const SKY_SCENARIO_T* sc = nullptr;
  SKY_LINK_PARAM_T p;
  SKY_LINK_SOURCE_T src;
  SKY_TCXO_T tcxo;
  SKY_BIT_FAULTS_T faults;
  int step_ms = 1000;
  int64_t index = 0;
  SKY_GTC_T gtc;       // mark of the next epoch
  SKY_GTC_T prev_gtc;  // mark of the previous epoch
  SKY_GPST_T start_clock;
  std::array<LINK_CH_T, SKY_LINK_NCH> ch{};
  std::array<uint8_t, SKY_LINK_NCH> last_issue{};
  SKY_EPOCH_T ep;       // sky at this epoch
  SKY_EPOCH_T slot_ep;  // sky at a slot boundary
  int closed_loop = 0;  // 1: the search engine model decides the channels (sky_search.h)
  int n_geo = 0;        // SBAS GEOs of the scenario
  std::array<SKY_SBAS_GEO_T, SKY_SBAS_MAX_GEO> geo{};
};

LINK_RUN_T Run;

double clock_diff_s(SKY_GPST_T a, SKY_GPST_T b) {
  return static_cast<double>(a.week - b.week) * 604800.0 + (a.tow - b.tow);
}

// Absolute bit in progress and the time into it of satellite time stamp tx
// (long double with an exact-as-can-be 20 ms: the double 0.02 is 4e-19 s
// long, which over the 3e7 bits of a week would add 0.4 cm).
int64_t abs_bit_of(SKY_GPST_T tx, double* sub_bit) {
  constexpr long double BIT_LS = 0.02L;
  const long double tow = tx.tow;
  auto bit = static_cast<int64_t>(std::floor(tow / BIT_LS));
  long double sub = tow - static_cast<long double>(bit) * BIT_LS;
  if (sub < 0.0L) {
    sub += BIT_LS;
    --bit;
  }
  if (sub >= BIT_LS) {
    sub -= BIT_LS;
    ++bit;
  }
  if (sub_bit != nullptr) *sub_bit = static_cast<double>(sub);
  return static_cast<int64_t>(tx.week) * SKY_LINK_BITS_PER_WEEK + bit;
}

SKY_GPST_T gpst_of_bit(int64_t abs_bit) {
  SKY_GPST_T t;
  t.week = static_cast<int32_t>(abs_bit / SKY_LINK_BITS_PER_WEEK);
  t.tow = static_cast<double>(abs_bit % SKY_LINK_BITS_PER_WEEK) * BIT_S;
  return t;
}

// First absolute bit by which every word of subframes 1, 2 and 3 has been
// sent whole since absolute bit first (words of 30 bits, subframes of 300,
// frames of 1500, subframe 1 at the week start). A receiver that keeps words
// gathers a subframe from consecutive frames (the data set changes every two
// hours only), so the words a channel missed at its start come one frame
// later, not the whole subframe.
int64_t eph_end_bit(int64_t first) {
  constexpr int64_t WORD = 30;
  constexpr int64_t SUBFRAME = 300;
  constexpr int64_t FRAME = 1500;
  int64_t end = 0;
  for (int64_t k = 0; k < 3; ++k)
    for (int64_t w = 0; w < 10; ++w) {
      const int64_t offset = k * SUBFRAME + w * WORD;  // the word's place in its frame
      int64_t start = (first - offset + FRAME - 1) / FRAME * FRAME + offset;
      if (start < first) start += FRAME;
      end = std::max(end, start + WORD);
    }
  return end;
}

int append_frame(U08* buf, std::size_t cap, std::size_t* len, const U08* frame, int size) {
  if (*len + static_cast<std::size_t>(size) + 1 > cap) return 0;
  std::memcpy(buf + *len, frame, static_cast<std::size_t>(size));
  *len += static_cast<std::size_t>(append_checksum(buf + *len, size));
  return 1;
}

// ---- channel assignment ----

constexpr int SBAS_TARGET_OFFSET = 82;  // the target numbers SBAS prn 120..138 as 38..56
constexpr int64_t SBAS_SYMBOLS_PER_WEEK = 302400000;

int geo_count(const SKY_EPOCH_T& ep) { return std::clamp(ep.n_geo, 0, std::min(SKY_SBAS_MAX_GEO, Run.n_geo)); }

// Absolute SBAS symbol (2 ms, counted from the start of week 0) in progress at
// the GEO's time stamp tx, and the time into it.
int64_t abs_symbol_of(SKY_GPST_T tx, double* sub_symbol) {
  constexpr long double SYM_LS = 0.002L;
  const long double tow = tx.tow;
  auto n = static_cast<int64_t>(std::floor(tow / SYM_LS));
  long double sub = tow - static_cast<long double>(n) * SYM_LS;
  if (sub < 0.0L) {
    sub += SYM_LS;
    --n;
  }
  if (sub >= SYM_LS) {
    sub -= SYM_LS;
    ++n;
  }
  if (sub_symbol != nullptr) *sub_symbol = static_cast<double>(sub);
  return static_cast<int64_t>(tx.week) * SBAS_SYMBOLS_PER_WEEK + n;
}

int channel_of(int svid) {
  for (int i = 0; i < SKY_LINK_NCH; ++i)
    if (Run.ch[static_cast<std::size_t>(i)].svid == svid) return i;
  return -1;
}

void release_invisible_channels() {
  for (LINK_CH_T& c : Run.ch) {
    if (c.svid == 0) continue;
    bool seen = false;
    for (int i = 0; i < Run.ep.n; ++i)
      if (Run.ep.sig[i].svid == c.svid && Run.ep.sig[i].visible != 0) seen = true;
    for (int i = 0; i < geo_count(Run.ep); ++i)
      if (Run.ep.geo[i].svid == c.svid && Run.ep.geo[i].visible != 0) seen = true;
    if (!seen) c = LINK_CH_T{};
  }
}

void assign_channel(int k, const SKY_SIGNAL_T& s) {
  LINK_CH_T c;
  c.svid = s.svid;
  auto& issue = Run.last_issue[static_cast<std::size_t>(k)];
  issue = static_cast<uint8_t>(issue == 255 ? 1 : issue + 1);
  c.issue = issue;
  c.origin = abs_bit_of(s.tx_time, nullptr) - 100 * (k + 1);
  c.prev_doppler = s.doppler_hz;
  Run.ch[static_cast<std::size_t>(k)] = c;
}

void assign_new_channels() {
  for (int i = 0; i < Run.ep.n; ++i) {
    const SKY_SIGNAL_T& s = Run.ep.sig[i];
    if (s.visible == 0 || channel_of(s.svid) >= 0) continue;
    const int k = channel_of(0);
    if (k < 0) return;
    assign_channel(k, s);
  }
}

// SBAS GEOs in view get a channel at once, open or closed loop (the SBAS
// search is the target's own; the host's SBAS search settings send nothing).
void assign_geo_channels() {
  for (int i = 0; i < geo_count(Run.ep); ++i) {
    const SKY_SIGNAL_T& s = Run.ep.geo[i];
    if (s.visible == 0 || channel_of(s.svid) >= 0) continue;
    const int k = channel_of(0);
    if (k < 0) return;
    LINK_CH_T c;
    c.svid = s.svid;
    c.geo = i;
    auto& issue = Run.last_issue[static_cast<std::size_t>(k)];
    issue = static_cast<uint8_t>(issue == 255 ? 1 : issue + 1);
    c.issue = issue;
    c.origin = abs_symbol_of(s.tx_time, nullptr) - 1000 * (k + 1);
    c.prev_doppler = s.doppler_hz;
    Run.ch[static_cast<std::size_t>(k)] = c;
  }
}

// Closed loop: channels for the satellites the search engine acquires now.
void assign_found_channels() {
  std::array<int16_t, SKY_LINK_NCH> tracked{};
  for (int k = 0; k < SKY_LINK_NCH; ++k)
    tracked[static_cast<std::size_t>(k)] = Run.ch[static_cast<std::size_t>(k)].svid;
  std::array<int16_t, SKY_LINK_NCH> found{};
  const double step_s = Run.index > 0 ? Run.step_ms * 1e-3 : 0.0;
  const int n = SKY_SEARCH_epoch(Run.ep, step_s, tracked.data(), found.data());
  for (int i = 0; i < n; ++i) {
    const int k = channel_of(0);
    if (k < 0) return;
    for (int j = 0; j < Run.ep.n; ++j)
      if (Run.ep.sig[j].svid == found[static_cast<std::size_t>(i)]) assign_channel(k, Run.ep.sig[j]);
  }
}

const SKY_SIGNAL_T* signal_of(const SKY_EPOCH_T& ep, int svid) {
  for (int i = 0; i < ep.n; ++i)
    if (ep.sig[i].svid == svid) return &ep.sig[i];
  for (int i = 0; i < geo_count(ep); ++i)
    if (ep.geo[i].svid == svid) return &ep.geo[i];
  return nullptr;
}

uint8_t state_of(const LINK_CH_T& c) {
  if (c.age < Run.p.pullin_epochs) return CH_PULLIN;
  if (c.age < Run.p.pullin_epochs + Run.p.bitsync_epochs) return CH_BITSYNC;
  return CH_TRACK;
}

// ---- carrier ----

// Baseband carrier cycles between two instants of Doppler d0 and d1, dt s of receiver clock apart.
long double baseband_cycles(double d0, double d1, double dt) {
  return static_cast<long double>(Run.tcxo.ideal_bb_hz - 0.5 * (d0 + d1)) * static_cast<long double>(dt);
}

// L1 cycles slipped by satellite svid in (t0, t1], seconds after the scenario start.
double slips_between(int svid, double t0, double t1) {
  double cycles = 0.0;
  for (int i = 0; i < Run.sc->n_slips && i < SKY_MAX_SLIPS; ++i) {
    const auto& sl = Run.sc->slips[i];
    if ((sl.svid == svid || sl.svid == 0) && sl.t > t0 && sl.t <= t1) cycles += sl.cycles;
  }
  return cycles;
}

double since_start_of(const SKY_GTC_T& g) {
  return clock_diff_s(SKY_LINK_gtc_to_clock(Run.tcxo, Run.p.gtc_origin, g), Run.sc->start);
}

// Apply the slips of (a, b] to channel c: the baseband phase moves against
// the L1 phase. Returns 1 when there was one.
int apply_slips(LINK_CH_T& c, const SKY_GTC_T& a, const SKY_GTC_T& b) {
  const double cycles = slips_between(c.svid, since_start_of(a), since_start_of(b));
  if (cycles == 0.0) return 0;
  c.phase -= static_cast<long double>(cycles);
  c.slipped = 1;
  return 1;
}

int64_t phase_steps(long double phase) { return static_cast<int64_t>(std::floor(phase * 1024.0L + 0.5L)); }

// Whole-epoch carrier fields from phase steps p0 → p1 (1/1024 cycle each).
void carrier_fields(int64_t p0, int64_t p1, ASIC_CHAN_MEAS_T* m) {
  const int64_t d = p1 - p0;
  const int64_t whole = (d >= 0) ? d / 1024 : -((-d + 1023) / 1024);
  m->acc_carrier_cycle = static_cast<S32>(whole);
  m->carrier_phase = static_cast<S16>(d - whole * 1024);
}

int64_t floor_div_1024(int64_t v) { return (v >= 0) ? v / 1024 : -((-v + 1023) / 1024); }

// Slot arrays from the phase steps at the 11 slot boundaries.
void slot_fields(const std::array<int64_t, SLOTS + 1>& p, const std::array<uint8_t, SLOTS>& bad, int slot_ms,
                 ASIC_CHAN_MEAS_T* m) {
  for (int i = 0; i < SLOTS; ++i) {
    const auto j = static_cast<std::size_t>(i);
    m->start_carrier_phase_ary[j] = static_cast<S16>(p[j] - floor_div_1024(p[j]) * 1024);
    m->acc_carrier_cycle_ary[j] = static_cast<S16>(floor_div_1024(p[j + 1]) - floor_div_1024(p[j]));
    m->acc_carrier_cycle_count_ary[j] = static_cast<U08>(slot_ms);
    m->carrier_phase_no_good_count_ary[j] = bad[j];
  }
  m->end_carrier_phase = static_cast<U16>(p[SLOTS] - floor_div_1024(p[SLOTS]) * 1024);
  m->carrier_phase_ary_count = SLOTS;
}

// ---- one channel ----

void fill_identity(const LINK_CH_T& c, ASIC_CHAN_MEAS_T* m) {
  m->gnss_type = static_cast<S08>(c.geo >= 0 ? GNSS_TYPE_SBAS : GNSS_TYPE_GPS);
  m->prn = static_cast<S08>(c.geo >= 0 ? c.svid - SBAS_TARGET_OFFSET : c.svid);
  m->state = state_of(c);
  m->loop_gain_mode = 1;
  m->peak_tap_loc = PEAK_TAP;
  m->nsc = SKY_LINK_NSC;
  m->track_issue = c.issue;
  m->ch_noise_power = CH_NOISE_POWER;
  m->debug_msg = DEBUG_MSG;
}

void fill_measurement(const LINK_CH_T& c, const SKY_SIGNAL_T& s, ASIC_CHAN_MEAS_T* m) {
  double sub_bit = 0.0;
  const SKY_GPST_T tx = c.shift_ms != 0 ? SKY_LINK_gpst_add(s.tx_time, c.shift_ms * 1e-3) : s.tx_time;
  // SBAS: the bit counter counts 2 ms symbols, the code phase the time into the symbol
  const int64_t abs_bit = c.geo >= 0 ? abs_symbol_of(tx, &sub_bit) : abs_bit_of(tx, &sub_bit);
  m->bitcnt = static_cast<U32>(abs_bit - c.origin);
  m->code_phase_reg = SKY_LINK_code_phase_reg(sub_bit, SKY_LINK_NSC, PEAK_TAP);
  m->dop_freq = SKY_LINK_nco_word(Run.tcxo, s.doppler_hz);
  SKY_LINK_cn0_fields(s.cn0_dbhz, Run.tcxo.noise_power, m);
}

// ---- data bits ----

int inverted_now(double since_start_s) {
  int inv = Run.sc->invert_bits != 0 ? 1 : 0;
  if (Run.sc->invert_bits_at_s >= 0 && since_start_s >= Run.sc->invert_bits_at_s) inv ^= 1;
  return inv;
}

void append_batches(int k, LINK_CH_T& c, int64_t track_now, double since_start_s, U08* buf, std::size_t cap,
                    std::size_t* len) {
  if (c.next_batch < 0) c.next_batch = (track_now + 29) / 30 * 30;
  while (c.next_batch + 30 <= track_now) {
    const int64_t first = c.origin + c.next_batch;
    if (c.has_first_bit == 0) {
      c.has_first_bit = 1;
      c.first_abs_bit = first;
      c.eph_end_bit = eph_end_bit(first);
    }
    int lost = 0;
    const uint32_t bits =
        SKY_LINK_batch_bits(Run.src.nav_word, c.svid, first, inverted_now(since_start_s), Run.faults, &lost);
    if (lost == 0) {
      U08 f[MAX_FRAME];
      const int n = pack_msg_get_databits(f, static_cast<S16>(k), GNSS_TYPE_GPS, c.svid, bits, 30,
                                          static_cast<U32>(c.next_batch + 30), c.issue);
      if (!append_frame(buf, cap, len, f, n)) return;
    }
    c.next_batch += 30;
  }
}

// SBAS: 32-symbol words of the GEO's encoded stream, each reported with the
// track symbol count at its end (the word's symbols end there).
int append_symbol_words(int k, LINK_CH_T& c, int64_t track_now, U08* buf, std::size_t cap, std::size_t* len) {
  if (c.next_batch < 0) c.next_batch = track_now;
  while (c.next_batch + 32 <= track_now) {
    const uint32_t word =
        SKY_SBAS_symbol_word(Run.geo[static_cast<std::size_t>(c.geo)], c.origin + c.next_batch, Run.sc->invert_bits);
    U08 f[MAX_FRAME];
    const int n =
        pack_msg_get_databits(f, static_cast<S16>(k), GNSS_TYPE_SBAS, static_cast<S16>(c.svid - SBAS_TARGET_OFFSET),
                              word, 32, static_cast<U32>(c.next_batch + 32), c.issue);
    if (!append_frame(buf, cap, len, f, n)) return 0;
    c.next_batch += 32;
  }
  return 1;
}

// ---- epoch ----

int sky_at(const SKY_GTC_T& g, SKY_EPOCH_T* out) {
  return Run.src.epoch_at_clock(SKY_LINK_gtc_to_clock(Run.tcxo, Run.p.gtc_origin, g), out);
}

// Doppler at the 11 slot boundaries of the epoch, per channel, into phases; the GTC clock counts.
int slot_phases(std::array<std::array<int64_t, SLOTS + 1>, SKY_LINK_NCH>* steps, U32* clocks, U16* subsecs) {
  const int slot_ms = Run.step_ms / SLOTS;
  std::array<double, SKY_LINK_NCH> d0{};
  for (int k = 0; k < SKY_LINK_NCH; ++k) {
    const auto j = static_cast<std::size_t>(k);
    d0[j] = Run.ch[j].prev_doppler;
    (*steps)[j][0] = phase_steps(Run.ch[j].phase);
  }
  for (int i = 1; i <= SLOTS; ++i) {
    const SKY_GTC_T a = SKY_LINK_gtc_add_ms(Run.prev_gtc, static_cast<int64_t>(slot_ms) * (i - 1));
    const SKY_GTC_T b = SKY_LINK_gtc_add_ms(Run.prev_gtc, static_cast<int64_t>(slot_ms) * i);
    const uint64_t n = SKY_LINK_clocks_between(Run.tcxo, a, b);
    clocks[i - 1] = static_cast<U32>(n);
    subsecs[i - 1] = static_cast<U16>(slot_ms);
    const SKY_EPOCH_T* e = &Run.ep;
    if (i < SLOTS) {
      if (!sky_at(b, &Run.slot_ep)) return 0;
      e = &Run.slot_ep;
    }
    const double dt = static_cast<double>(n) / static_cast<double>(Run.tcxo.freq_hz);
    for (int k = 0; k < SKY_LINK_NCH; ++k) {
      const auto j = static_cast<std::size_t>(k);
      LINK_CH_T& c = Run.ch[j];
      const SKY_SIGNAL_T* s = c.svid != 0 ? signal_of(*e, c.svid) : nullptr;
      const double d1 = s != nullptr ? s->doppler_hz : d0[j];
      c.phase += baseband_cycles(d0[j], d1, dt);
      if (c.svid != 0 && apply_slips(c, a, b)) c.slot_bad[static_cast<std::size_t>(i - 1)] = SLIP_NO_GOOD;
      d0[j] = d1;
      (*steps)[j][static_cast<std::size_t>(i)] = phase_steps(c.phase);
    }
  }
  return 1;
}

void advance_phases_whole_epoch(double dt, std::array<int64_t, SKY_LINK_NCH>* p0) {
  for (int k = 0; k < SKY_LINK_NCH; ++k) {
    const auto j = static_cast<std::size_t>(k);
    LINK_CH_T& c = Run.ch[j];
    (*p0)[j] = phase_steps(c.phase);
    const SKY_SIGNAL_T* s = c.svid != 0 ? signal_of(Run.ep, c.svid) : nullptr;
    if (s == nullptr) continue;
    c.phase += baseband_cycles(c.prev_doppler, s->doppler_hz, dt);
    apply_slips(c, Run.prev_gtc, Run.gtc);
  }
}

void fill_truth(int k, const LINK_CH_T& c, const SKY_SIGNAL_T& s, SKY_LINK_EPOCH_T* t) {
  if (t == nullptr || t->n >= SKY_LINK_NCH) return;
  SKY_LINK_SAT_TRUTH_T& r = t->sat[t->n++];
  r.svid = s.svid;
  r.ch = static_cast<int16_t>(k);
  r.state = state_of(c);
  r.tx_time = s.tx_time;
  r.range_m = s.range_m;
  r.pseudorange_m = s.pseudorange_m;
  r.range_rate_mps = s.range_rate_mps;
  r.doppler_hz = s.doppler_hz;
  r.cn0_dbhz = s.cn0_dbhz;
  r.el_deg = s.el_deg;
  r.az_deg = s.az_deg;
  r.sv_clock_s = s.sat_clk_s;
  r.iono_m = s.iono_m;
  r.tropo_m = s.tropo_m;
  r.pr_fault_m = s.pr_fault_m;
  r.has_mean_doppler = c.age > 0 ? 1 : 0;
  r.mean_doppler_hz = 0.5 * (c.prev_doppler + s.doppler_hz);
  r.has_frame_sync_time = c.has_first_bit;
  if (c.has_first_bit != 0) {
    r.frame_sync_time = gpst_of_bit((c.first_abs_bit + 299) / 300 * 300);
    r.eph_time = gpst_of_bit(c.eph_end_bit);
  }
}

struct EPOCH_CTX_T {
  U08* buf;
  std::size_t cap;
  std::size_t len;
  SKY_LINK_EPOCH_T* truth;
  double since_start_s;
};

int append_channel_reports(EPOCH_CTX_T& x, const std::array<int64_t, SKY_LINK_NCH>& p0,
                           const std::array<std::array<int64_t, SLOTS + 1>, SKY_LINK_NCH>& slots, int with_slots) {
  for (int k = 0; k < SKY_LINK_NCH; ++k) {
    const auto j = static_cast<std::size_t>(k);
    LINK_CH_T& c = Run.ch[j];
    const SKY_SIGNAL_T* s = c.svid != 0 ? signal_of(Run.ep, c.svid) : nullptr;
    if (s == nullptr) continue;
    ASIC_CHAN_MEAS_T m{};
    fill_identity(c, &m);
    fill_measurement(c, *s, &m);
    const int full = c.age > 0 ? 1 : 0;  // carrier accumulated over the whole interval
    m.acc_carrier_cycle_count = full != 0 ? static_cast<U32>(Run.step_ms) : 0U;
    m.unlock_count = static_cast<S16>(c.slipped);
    const int64_t p1 = phase_steps(c.phase);
    carrier_fields(full != 0 ? (with_slots != 0 ? slots[j][0] : p0[j]) : p1, p1, &m);
    if (with_slots != 0 && full != 0) slot_fields(slots[j], c.slot_bad, Run.step_ms / SLOTS, &m);
    U08 f[MAX_FRAME];
    if (!append_frame(x.buf, x.cap, &x.len, f, pack_msg_chan(f, static_cast<S16>(k), &m))) return 0;
    if (with_slots != 0 && !append_frame(x.buf, x.cap, &x.len, f, pack_msg_chan_carrier(f, static_cast<S16>(k), &m)))
      return 0;
    if (c.geo < 0) fill_truth(k, c, *s, x.truth);  // the truth file's rows are GPS satellites
  }
  return 1;
}

ASIC_READ_RTC_T rtc_record() {
  return SKY_LINK_rtc_record(Run.p.rtc, Run.ep.rx.true_time, Run.ep.rx.clk_drift, Run.tcxo.freq_hz);
}

int append_gtc(EPOCH_CTX_T& x, int with_slots, const U32* clocks, const U16* subsecs) {
  U08 f[MAX_FRAME];
  if (with_slots != 0 && !append_frame(x.buf, x.cap, &x.len, f, pack_msg_gtc_clock_counts(f, SLOTS, clocks, subsecs)))
    return 0;
  const GTC_RD_T regs = SKY_LINK_gtc_registers(Run.tcxo, Run.gtc);
  const int whole = Run.gtc.ms == 0 ? 1 : 0;
  const ASIC_READ_RTC_T rtc = whole != 0 ? rtc_record() : ASIC_READ_RTC_T{};
  return append_frame(x.buf, x.cap, &x.len, f,
                      pack_msg_gtc(f, &regs, 0, static_cast<S16>(whole), Run.tcxo.noise_power, 0, &rtc));
}

int append_all_batches(EPOCH_CTX_T& x) {
  for (int k = 0; k < SKY_LINK_NCH; ++k) {
    LINK_CH_T& c = Run.ch[static_cast<std::size_t>(k)];
    const SKY_SIGNAL_T* s = c.svid != 0 ? signal_of(Run.ep, c.svid) : nullptr;
    if (s == nullptr || state_of(c) < CH_BITSYNC) continue;
    if (c.geo >= 0) {
      append_symbol_words(k, c, abs_symbol_of(s->tx_time, nullptr) - c.origin, x.buf, x.cap, &x.len);
      continue;
    }
    const int64_t track_now = abs_bit_of(s->tx_time, nullptr) - c.origin;
    append_batches(k, c, track_now, x.since_start_s, x.buf, x.cap, &x.len);
  }
  return 1;
}

void finish_epoch() {
  for (LINK_CH_T& c : Run.ch) {
    if (c.svid == 0) continue;
    const SKY_SIGNAL_T* s = signal_of(Run.ep, c.svid);
    if (s != nullptr) c.prev_doppler = s->doppler_hz;
    ++c.age;
    c.slipped = 0;
    c.slot_bad.fill(0);
  }
  Run.prev_gtc = Run.gtc;
  Run.gtc = SKY_LINK_gtc_add_ms(Run.gtc, Run.step_ms);
  ++Run.index;
}

// ---- the whole-second epochs sent (what the 1PPS commands answer) ----

struct PPS_SECOND_T {
  SKY_RX_T rx;
  int64_t index = 0;
  SKY_GTC_T mark;         // the next time-count second starts here
  SKY_GPST_T mark_clock;  // receiver clock reading of that mark
};
constexpr int PPS_RING = 256;
std::array<PPS_SECOND_T, PPS_RING> Pps_ring{};
int64_t Pps_seconds = 0;  // whole-second epochs sent in this run

void sky_link_reset_seconds() { Pps_seconds = 0; }

void sky_link_note_second() {
  if (Run.gtc.ms != 0) return;
  PPS_SECOND_T& e = Pps_ring[static_cast<std::size_t>(Pps_seconds % PPS_RING)];
  e.rx = Run.ep.rx;
  e.index = Run.index;
  e.mark = SKY_LINK_gtc_add_ms(Run.gtc, 1000);
  e.mark_clock = SKY_LINK_gtc_to_clock(Run.tcxo, Run.p.gtc_origin, e.mark);
  ++Pps_seconds;
}

}  // namespace

int SKY_LINK_start(const SKY_SCENARIO_T* sc, const SKY_LINK_PARAM_T& p, SKY_LINK_SOURCE_T src) {
  if (sc == nullptr || src.epoch_at_clock == nullptr || src.nav_word == nullptr) return 0;
  if (sc->meas_rate_hz != 1.0 && sc->meas_rate_hz != 2.0) return 0;
  Run = LINK_RUN_T{};
  sky_link_reset_seconds();
  if (!SKY_LINK_tcxo(sc->tcxo_mode, &Run.tcxo)) return 0;
  Run.sc = sc;
  Run.p = p;
  Run.src = src;
  Run.faults.seed = sc->seed;
  Run.faults.bit_flip_rate = sc->bit_flip_rate;
  Run.faults.batch_loss_rate = sc->batch_loss_rate;
  Run.step_ms = static_cast<int>(1000.0 / sc->meas_rate_hz);
  Run.n_geo = 0;
  for (int i = 0; i < sc->n_sbas && i < SKY_SBAS_MAX_GEO; ++i)
    if (SKY_sbas_geo(sc, i, &Run.geo[static_cast<std::size_t>(i)]) != 0) Run.n_geo = i + 1;
  SKY_GPST_T clock0 = sc->start;
  clock0.tow += sc->clk_bias0_s;
  Run.gtc = SKY_LINK_gtc_at_or_after(Run.tcxo, p.gtc_origin, clock0, Run.step_ms);
  Run.prev_gtc = SKY_LINK_gtc_add_ms(Run.gtc, -Run.step_ms);
  Run.start_clock = SKY_LINK_gtc_to_clock(Run.tcxo, p.gtc_origin, Run.gtc);
  return 1;
}

const SKY_TCXO_T& SKY_LINK_tcxo_of_run() { return Run.tcxo; }

int SKY_LINK_hot_context(SKY_RTC_MODEL_T* rtc, SKY_GPST_T* start, int32_t* clock_per_ms0) {
  if (Run.sc == nullptr) return 0;
  *rtc = Run.p.rtc;
  *start = Run.sc->start;
  *clock_per_ms0 = Run.tcxo.clock_per_ms0;
  return 1;
}

int SKY_LINK_rtc_report(U08* buf, SKY_RTC_T* rtc) {
  const SKY_RTC_T r = SKY_LINK_rtc_at(Run.p.rtc, Run.sc != nullptr ? Run.sc->start : SKY_GPST_T{});
  if (rtc != nullptr) *rtc = r;
  const int n = pack_msg_rtc(buf, r.wn, r.sec, r.subsec);
  return append_checksum(buf, n);
}

int SKY_LINK_next_epoch(U08* buf, std::size_t cap, SKY_LINK_EPOCH_T* truth) {
  if (Run.sc == nullptr) return -1;
  const SKY_GPST_T clock_now = SKY_LINK_gtc_to_clock(Run.tcxo, Run.p.gtc_origin, Run.gtc);
  EPOCH_CTX_T x{buf, cap, 0, truth, clock_diff_s(clock_now, Run.start_clock)};
  if (x.since_start_s >= Run.sc->duration_s - 1e-9) return 0;
  if (!Run.src.epoch_at_clock(clock_now, &Run.ep)) return -1;
  if (truth != nullptr) {
    *truth = SKY_LINK_EPOCH_T{};
    truth->index = Run.index;
    truth->gtc = Run.gtc;
    truth->rx = Run.ep.rx;
  }
  release_invisible_channels();
  if (Run.closed_loop != 0)
    assign_found_channels();
  else
    assign_new_channels();
  assign_geo_channels();
  const int with_slots = (Run.sc->carrier_slots != 0 && Run.step_ms % SLOTS == 0) ? 1 : 0;
  std::array<int64_t, SKY_LINK_NCH> p0{};
  std::array<std::array<int64_t, SLOTS + 1>, SKY_LINK_NCH> slots{};
  U32 clocks[SLOTS] = {};
  U16 subsecs[SLOTS] = {};
  if (with_slots != 0) {
    if (!slot_phases(&slots, clocks, subsecs)) return -1;
  } else {
    const double dt = static_cast<double>(SKY_LINK_clocks_between(Run.tcxo, Run.prev_gtc, Run.gtc)) /
                      static_cast<double>(Run.tcxo.freq_hz);
    advance_phases_whole_epoch(dt, &p0);
  }
  if (!append_channel_reports(x, p0, slots, with_slots)) return -1;
  if (!append_gtc(x, with_slots, clocks, subsecs)) return -1;
  if (Run.closed_loop != 0 && Run.gtc.ms == 0) {
    U08 f[MAX_FRAME];
    const int n = SKY_SEARCH_status_frame(f);
    if (x.len + static_cast<std::size_t>(n) > x.cap) return -1;
    std::memcpy(x.buf + x.len, f, static_cast<std::size_t>(n));
    x.len += static_cast<std::size_t>(n);
  }
  append_all_batches(x);
  sky_link_note_second();
  finish_epoch();
  return static_cast<int>(x.len);
}

void SKY_LINK_set_closed_loop(int on) {
  Run.closed_loop = on != 0 ? 1 : 0;
  SKY_SEARCH_reset(Run.sc != nullptr ? Run.sc->seed : 1U, Run.tcxo);
}

namespace {

LINK_CH_T* matching_channel(int ch, int prn, int issue) {
  if (ch < 0 || ch >= SKY_LINK_NCH) return nullptr;
  LINK_CH_T& c = Run.ch[static_cast<std::size_t>(ch)];
  const int target_prn = c.geo >= 0 ? c.svid - SBAS_TARGET_OFFSET : c.svid;  // commands name the target's number
  if (c.svid == 0 || (c.svid != prn && target_prn != prn) || c.issue != issue) return nullptr;
  return &c;
}

}  // namespace

int SKY_LINK_drop_channel(int ch, int prn, int issue) {
  LINK_CH_T* c = matching_channel(ch, prn, issue);
  if (c == nullptr) return 0;
  *c = LINK_CH_T{};
  return 1;
}

int SKY_LINK_shift_channel(int ch, int prn, int issue, int shift_ms) {
  LINK_CH_T* c = matching_channel(ch, prn, issue);
  if (c == nullptr) return 0;
  c->shift_ms += shift_ms;
  return 1;
}

int SKY_LINK_sky_at_mark(const SKY_GTC_T& g, SKY_EPOCH_T* out) {
  if (Run.sc == nullptr || out == nullptr) return 0;
  return sky_at(g, out);
}

int SKY_LINK_pps_second(int64_t k, SKY_RX_T* rx, int64_t* index, SKY_GTC_T* mark, SKY_GPST_T* mark_clock,
                        int64_t* seconds_sent) {
  if (seconds_sent != nullptr) *seconds_sent = Pps_seconds;
  if (k < 0 || k >= Pps_seconds || k < Pps_seconds - PPS_RING) return 0;
  const PPS_SECOND_T& e = Pps_ring[static_cast<std::size_t>(k % PPS_RING)];
  if (rx != nullptr) *rx = e.rx;
  if (index != nullptr) *index = e.index;
  if (mark != nullptr) *mark = e.mark;
  if (mark_clock != nullptr) *mark_clock = e.mark_clock;
  return 1;
}
