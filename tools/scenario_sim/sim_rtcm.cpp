// RTCM 3 writer of the scenario simulator, from the field tables of RTCM 10403:
// framing with CRC-24Q, station positions 1005 / 1006, legacy GPS L1 1002 /
// 1004 and MSM4 to MSM7 of any system. It keeps its own bit writer and CRC so
// that it shares nothing with the engine's reader.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "tools/scenario_sim/sim.h"

namespace {

constexpr double LMS = SIM_C / 1000.0;  // one light-millisecond, m

// Appends bit fields, most significant bit first.
struct BitWriter {
  U08* buf;
  int pos;  // bits written
  void put(int nbits, long long value) {
    for (int i = nbits - 1; i >= 0; --i) {
      const int bit = static_cast<int>((static_cast<unsigned long long>(value) >> i) & 1ULL);
      U08& byte = buf[pos / 8];
      if (bit)
        byte = static_cast<U08>(byte | (0x80 >> (pos % 8)));
      else
        byte = static_cast<U08>(byte & ~(0x80 >> (pos % 8)));
      ++pos;
    }
  }
};

// CRC-24Q, generator 0x1864CFB, bit by bit.
unsigned int crc24q_bitwise(const U08* p, int n) {
  unsigned int crc = 0;
  for (int i = 0; i < n; ++i) {
    crc ^= static_cast<unsigned int>(p[i]) << 16;
    for (int b = 0; b < 8; ++b) {
      crc <<= 1;
      if (crc & 0x1000000u) crc ^= 0x1864CFBu;
    }
  }
  return crc & 0xFFFFFFu;
}

long long round_ll(double x) { return static_cast<long long>(std::floor(x + 0.5)); }

// Lock time indicators from the lock time in ms.
// DF013 (legacy, 7 bits; lock time in s).
int lock_df013(double ms) {
  const int t = static_cast<int>(ms / 1000.0);
  if (t < 24) return t;
  if (t < 72) return (t + 24) / 2;
  if (t < 168) return (t + 120) / 4;
  if (t < 360) return (t + 408) / 8;
  if (t < 744) return (t + 1176) / 16;
  if (t < 937) return (t + 3096) / 32;
  return 127;
}
// DF402 (MSM4/5, 4 bits): index i for a lock time of at least 2^(i+4) ms (0 below 32 ms).
int lock_df402(double ms) {
  int i = 0;
  double lim = 32.0;
  while (i < 15 && ms >= lim) {
    ++i;
    lim *= 2.0;
  }
  return i;
}
// DF407 (MSM6/7, 10 bits): ranges of 2^k ms with a step of 2^(k-5) ms.
int lock_df407(double ms) {
  const long long t = static_cast<long long>(ms);
  if (t < 64) return static_cast<int>(t);
  long long base = 64;  // start of the range
  long long step = 2;
  int index0 = 64;  // indicator at the start of the range
  while (base < 67108864LL) {
    if (t < 2 * base) return index0 + static_cast<int>((t - base) / step);
    index0 += 32;
    base *= 2;
    step *= 2;
  }
  return 704;
}

// Satellites and signals of one MSM message (ids ascending) and the cell of each pair.
struct MsmLayout {
  unsigned long long satmask;  // DF394: bit 64 - id set for each satellite id 1..64
  unsigned int sigmask;        // DF395: bit 32 - id set for each signal id 1..32
  int sats[64], sigs[32];      // ids of the satellites and signals of the masks
  int ns, nsig;
  const SIM_RTCM_CELL_T* cell_of[64][32];  // [satellite index][signal index], null: no cell
};

// Masks and cell table from the cells (at most 64).
void msm_layout(const SIM_RTCM_CELL_T* cells, int n, MsmLayout* m) {
  *m = MsmLayout{};
  for (int i = 0; i < n; ++i) {
    m->satmask |= 1ULL << (64 - cells[i].prn);
    m->sigmask |= 1u << (32 - cells[i].sig);
  }
  for (int i = 1; i <= 64; ++i)
    if (m->satmask & (1ULL << (64 - i))) m->sats[m->ns++] = i;
  for (int i = 1; i <= 32; ++i)
    if (m->sigmask & (1u << (32 - i))) m->sigs[m->nsig++] = i;
  for (int i = 0; i < n; ++i) {
    int a = 0, b = 0;
    while (m->sats[a] != cells[i].prn) ++a;
    while (m->sigs[b] != cells[i].sig) ++b;
    m->cell_of[a][b] = &cells[i];
  }
}

// First cell (lowest signal) of satellite index a.
const SIM_RTCM_CELL_T* first_cell(const MsmLayout& m, int a) {
  const SIM_RTCM_CELL_T* c = nullptr;
  for (int b = 0; b < m.nsig && c == nullptr; ++b) c = m.cell_of[a][b];
  return c;
}

// MSM header: message number type_base + msm, station, 30-bit epoch time, multiple
// message bit, the masks and the cell mask.
void msm_header(BitWriter* w, int msm, int type_base, int staid, U32 epoch, int sync, const MsmLayout& m) {
  w->put(12, type_base + msm);                          // DF002: 1070 + 10 * system + msm
  w->put(12, staid);                                    // DF003
  w->put(30, epoch);                                    // DF004 / DF427 / (DF416 + DF034): epoch time
  w->put(1, sync);                                      // DF393 multiple message bit
  w->put(3, 0);                                         // DF409 IODS
  w->put(7, 0);                                         // DF001 reserved
  w->put(2, 0);                                         // DF411 clock steering
  w->put(2, 0);                                         // DF412 external clock
  w->put(1, 0);                                         // DF417 smoothing
  w->put(3, 0);                                         // DF418 smoothing interval
  w->put(32, static_cast<long long>(m.satmask >> 32));  // DF394 satellite mask
  w->put(32, static_cast<long long>(m.satmask & 0xFFFFFFFFULL));
  w->put(32, m.sigmask);  // DF395 signal mask
  for (int a = 0; a < m.ns; ++a)
    for (int b = 0; b < m.nsig; ++b) w->put(1, m.cell_of[a][b] != nullptr ? 1 : 0);  // DF396 cell mask
}

// Satellite data: rough range of each satellite from its first cell's pseudorange
// (rough, 2^-10 ms) and, in MSM5/7 (ext), the extended information and the rough
// phase-range rate (rate, whole m/s).
void msm_sat_data(BitWriter* w, bool ext, const MsmLayout& m, long long* rough, int* rate) {
  for (int a = 0; a < m.ns; ++a) {
    const SIM_RTCM_CELL_T* c = first_cell(m, a);
    rough[a] = round_ll(c->pr / LMS * 1024.0);
    rate[a] = static_cast<int>(round_ll(c->rate));
  }
  for (int a = 0; a < m.ns; ++a) w->put(8, rough[a] >> 10);  // DF397 whole ms
  if (ext)
    for (int a = 0; a < m.ns; ++a) w->put(4, first_cell(m, a)->ext);  // extended satellite information
  for (int a = 0; a < m.ns; ++a) w->put(10, rough[a] & 0x3FF);        // DF398 modulo 1 ms, 2^-10 ms
  if (ext)
    for (int a = 0; a < m.ns; ++a) w->put(14, rate[a]);  // DF399 rough phase-range rate, 1 m/s
}

// Cells in message order (satellite by satellite, signal by signal) with the
// satellite index of each.
struct MsmCells {
  const SIM_RTCM_CELL_T* cell[64 * 32];
  int sat[64 * 32];
  int n;
};

// Fine pseudorange (DF400 / DF405) and fine phase-range (DF401 / DF406) of every
// cell against its satellite's rough range (2^-10 ms); hi: MSM6/7 resolutions.
// Values out of the field's range, and invalid phase, go out as the invalid value.
void msm_fine_ranges(BitWriter* w, bool hi, const MsmCells& cl, const long long* rough) {
  const double prs = hi ? 536870912.0 : 16777216.0;    // 2^29 / 2^24 per ms
  const double phs = hi ? 2147483648.0 : 536870912.0;  // 2^31 / 2^29 per ms
  const int prb = hi ? 20 : 15, phb = hi ? 24 : 22;
  for (int k = 0; k < cl.n; ++k) {  // DF400 / DF405 fine pseudorange
    const double fine = cl.cell[k]->pr / LMS - static_cast<double>(rough[cl.sat[k]]) / 1024.0;
    long long v = round_ll(fine * prs);
    if (std::llabs(v) >= (1LL << (prb - 1))) v = -(1LL << (prb - 1));
    w->put(prb, v);
  }
  for (int k = 0; k < cl.n; ++k) {  // DF401 / DF406 fine phase-range
    const double fine = cl.cell[k]->phr / LMS - static_cast<double>(rough[cl.sat[k]]) / 1024.0;
    long long v = round_ll(fine * phs);
    if (!cl.cell[k]->phase_ok || std::llabs(v) >= (1LL << (phb - 1))) v = -(1LL << (phb - 1));
    w->put(phb, v);
  }
}

// Signal data of every cell; hi: MSM6/7 resolutions, ext: MSM5/7 fine phase-range
// rate against the satellite's rough rate (rate, m/s).
void msm_signal_data(BitWriter* w, bool hi, bool ext, const MsmLayout& m, const long long* rough, const int* rate) {
  static MsmCells cl;  // large; one message at a time
  cl.n = 0;
  for (int a = 0; a < m.ns; ++a)
    for (int b = 0; b < m.nsig; ++b)
      if (m.cell_of[a][b] != nullptr) {
        cl.cell[cl.n] = m.cell_of[a][b];
        cl.sat[cl.n++] = a;
      }
  msm_fine_ranges(w, hi, cl, rough);
  for (int k = 0; k < cl.n; ++k)  // DF402 / DF407 lock time indicator
    w->put(hi ? 10 : 4, hi ? lock_df407(cl.cell[k]->lock_ms) : lock_df402(cl.cell[k]->lock_ms));
  for (int k = 0; k < cl.n; ++k) w->put(1, cl.cell[k]->half);  // DF420 half-cycle ambiguity
  for (int k = 0; k < cl.n; ++k)                               // DF403 CNR 1 dB-Hz / DF408 CNR 2^-4 dB-Hz
    w->put(hi ? 10 : 6, hi ? round_ll(cl.cell[k]->cnr * 16.0) : round_ll(cl.cell[k]->cnr));
  if (ext)
    for (int k = 0; k < cl.n; ++k)  // DF404 fine phase-range rate, 0.0001 m/s
      w->put(15, round_ll((cl.cell[k]->rate - rate[cl.sat[k]]) / 0.0001));
}
}  // namespace

int sim_rtcm_frame(const U08* msg, int n, U08* out) {
  out[0] = 0xD3;
  out[1] = static_cast<U08>((n >> 8) & 0x03);
  out[2] = static_cast<U08>(n & 0xFF);
  std::memcpy(out + 3, msg, static_cast<std::size_t>(n));
  const unsigned int crc = crc24q_bitwise(out, n + 3);
  out[n + 3] = static_cast<U08>(crc >> 16);
  out[n + 4] = static_cast<U08>(crc >> 8);
  out[n + 5] = static_cast<U08>(crc);
  return n + 6;
}

int sim_rtcm_station(int type, int staid, const double* xyz, double height, U08* out) {
  U08 msg[32] = {};
  BitWriter w{msg, 0};
  w.put(12, type);                                         // DF002 message number
  w.put(12, staid);                                        // DF003 reference station id
  w.put(6, 0);                                             // DF021 ITRF realisation year
  w.put(1, 1);                                             // DF022 GPS indicator
  w.put(1, 0);                                             // DF023 GLONASS indicator
  w.put(1, 0);                                             // DF024 Galileo indicator
  w.put(1, 0);                                             // DF141 reference station indicator
  w.put(38, round_ll(xyz[0] / 0.0001));                    // DF025 ARP ECEF-X, 0.0001 m
  w.put(1, 0);                                             // DF142 single receiver oscillator
  w.put(1, 0);                                             // DF001 reserved
  w.put(38, round_ll(xyz[1] / 0.0001));                    // DF026 ARP ECEF-Y
  w.put(2, 0);                                             // DF364 quarter cycle indicator
  w.put(38, round_ll(xyz[2] / 0.0001));                    // DF027 ARP ECEF-Z
  if (type == 1006) w.put(16, round_ll(height / 0.0001));  // DF028 antenna height
  return sim_rtcm_frame(msg, (w.pos + 7) / 8, out);
}

int sim_rtcm_legacy(int type, int staid, U32 tow_ms, int sync, const SIM_RTCM_CELL_T* cells, int n, U08* out) {
  U08 msg[1100] = {};
  BitWriter w{msg, 0};
  w.put(12, type);    // DF002
  w.put(12, staid);   // DF003
  w.put(30, tow_ms);  // DF004 GPS epoch time, ms
  w.put(1, sync);     // DF005 synchronous GNSS flag
  w.put(5, n);        // DF006 number of satellites
  w.put(1, 0);        // DF007 divergence-free smoothing
  w.put(3, 0);        // DF008 smoothing interval
  for (int i = 0; i < n; ++i) {
    const SIM_RTCM_CELL_T& c = cells[i];
    const double amb = std::floor(c.pr / LMS);  // DF014 modulus ambiguity, whole light-ms
    const long long pr = round_ll((c.pr - amb * LMS) / 0.02);
    w.put(6, c.prn);                                                // DF009 satellite id
    w.put(1, 0);                                                    // DF010 L1 code indicator: C/A
    w.put(24, pr);                                                  // DF011 L1 pseudorange, 0.02 m
    const double prq = amb * LMS + static_cast<double>(pr) * 0.02;  // the pseudorange as transmitted
    long long phr = round_ll((c.phr - prq) / 0.0005);               // DF012 L1 phase-range - pseudorange, 0.0005 m
    if (!c.phase_ok) phr = -524288;
    w.put(20, phr);
    w.put(7, lock_df013(c.lock_ms));        // DF013 L1 lock time indicator
    w.put(8, static_cast<long long>(amb));  // DF014
    w.put(8, round_ll(c.cnr / 0.25));       // DF015 L1 CNR, 0.25 dB-Hz
    if (type == 1004) {
      w.put(2, 0);         // DF016 L2 code indicator
      w.put(14, -8192);    // DF017 L2-L1 pseudorange: invalid
      w.put(20, -524288);  // DF018 L2 phase-range - L1 pseudorange: invalid
      w.put(7, 0);         // DF019 L2 lock time
      w.put(8, 0);         // DF020 L2 CNR
    }
  }
  return sim_rtcm_frame(msg, (w.pos + 7) / 8, out);
}

int sim_rtcm_msm(int msm, int type_base, int staid, U32 epoch, int sync, const SIM_RTCM_CELL_T* cells, int n,
                 U08* out) {
  MsmLayout m;
  msm_layout(cells, n, &m);
  const bool hi = msm >= 6;  // MSM6/7 resolutions
  const bool ext = msm == 5 || msm == 7;
  U08 msg[1100] = {};
  BitWriter w{msg, 0};
  msm_header(&w, msm, type_base, staid, epoch, sync, m);
  long long rough[64];
  int rate[64];
  msm_sat_data(&w, ext, m, rough, rate);
  msm_signal_data(&w, hi, ext, m, rough, rate);
  return sim_rtcm_frame(msg, (w.pos + 7) / 8, out);
}

void sim_rtcm_init(SIM_RTCM_STATE_T* st) { *st = SIM_RTCM_STATE_T{}; }

namespace {

// RTCM cell of one GPS or GLONASS L1 observation at receiver time tow (s), phase as a
// phase-range (m) near the pseudorange: an integer number of cycles is removed per
// satellite at its first epoch (and, for legacy GPS, rolled over to keep DF012 in range).
// Returns 1 for GPS, 2 for GLONASS, 0 for an observation the stream leaves out.
int obs_cell(SIM_RTCM_STATE_T* st, const SIM_RTCM_OPT_T* opt, double tow, const SIM_OBS_T& o, SIM_RTCM_CELL_T* c) {
  const bool is_glo = o.gnss == 2;
  if (o.gnss != 0 && !is_glo) return 0;
  const int id = is_glo ? (o.sv > 64 ? o.sv - 64 : o.sv) : o.sv;
  if (id < 1 || id > 32) return 0;
  const int slot = is_glo ? 32 + id - 1 : id - 1;
  const double lam = is_glo ? SIM_C / (1602.0E6 + o.frq * 0.5625E6) : SIM_C / SIM_L1;
  const bool slip = (o.ind & 8u) != 0;
  if (!st->tracked[slot]) {
    st->tracked[slot] = 1;
    st->offset[slot] = std::floor(o.cp - o.pr / lam + 0.5);
    st->lock_start[slot] = tow;
  }
  if (slip) st->lock_start[slot] = tow;
  double phr = (o.cp - st->offset[slot]) * lam;
  if (opt->msm == 0 && !is_glo) {  // DF012 holds +-262 m: roll over by 1500 cycles
    while (phr - o.pr > 262.0) {
      st->offset[slot] += 1500.0;
      phr -= 1500.0 * lam;
    }
    while (phr - o.pr < -262.0) {
      st->offset[slot] -= 1500.0;
      phr += 1500.0 * lam;
    }
  }
  *c = SIM_RTCM_CELL_T{};
  c->prn = id;
  c->sig = 2;  // L1 C/A, G1 C/A
  c->pr = o.pr;
  c->phr = phr;
  c->phase_ok = (o.ind & 4u) != 0;
  c->rate = -static_cast<double>(o.dop) * lam;
  c->lock_ms = (tow - st->lock_start[slot]) * 1000.0;
  c->cnr = o.cn0;
  c->ext = is_glo ? o.frq + 7 : 0;
  return is_glo ? 2 : 1;
}

// GLONASS epoch time of GPS time of week tow (s): day of week (3 bits) and time of day
// (27 bits, ms) in Moscow time; leap_sec: GPS - UTC, s.
U32 glo_epoch_time(double tow, int leap_sec) {
  double t = tow - leap_sec + 10800.0;
  t = std::fmod(t, 604800.0);
  if (t < 0) t += 604800.0;
  const int dow = static_cast<int>(t / 86400.0);
  const U32 tod_ms = static_cast<U32>(round_ll((t - dow * 86400.0) * 1000.0)) % 86400000u;
  return (static_cast<U32>(dow) << 27) | tod_ms;
}

}  // namespace

int sim_rtcm_base_epoch(SIM_RTCM_STATE_T* st, const SIM_RTCM_OPT_T* opt, int week, double tow, const SIM_OBS_T* obs,
                        int n, const double* base_pos, U08* out) {
  (void)week;
  int len = 0;
  if (opt->pos_type != 0 && st->epochs % 10 == 0)
    len += sim_rtcm_station(opt->pos_type, opt->staid, base_pos, 0.0, out + len);
  ++st->epochs;
  const U32 tow_ms = static_cast<U32>(round_ll(tow * 1000.0));
  SIM_RTCM_CELL_T gps[64], glo[64];
  int ngps = 0, nglo = 0;
  for (int i = 0; i < n; ++i) {
    SIM_RTCM_CELL_T c;
    const int sys = obs_cell(st, opt, tow, obs[i], &c);
    if (sys == 1) gps[ngps++] = c;
    if (sys == 2) glo[nglo++] = c;
  }
  const bool has_glo = nglo > 0;
  const int glo_msm = opt->msm != 0 ? opt->msm : opt->glo_msm;
  if (opt->gps_lost && has_glo && glo_msm != 0) {
    // the GPS message is lost: GLONASS alone, its multiple message bit clear
  } else if (opt->msm == 0) {
    len += sim_rtcm_legacy(opt->legacy_type, opt->staid, tow_ms, has_glo && glo_msm != 0, gps, ngps, out + len);
  } else {
    len += sim_rtcm_msm(opt->msm, 1070, opt->staid, tow_ms, has_glo, gps, ngps, out + len);
  }
  if (has_glo && glo_msm != 0)
    len += sim_rtcm_msm(glo_msm, 1080, opt->staid, glo_epoch_time(tow, opt->leap_sec), 0, glo, nglo, out + len);
  return len;
}
