// RTCM 3 reader of the base stream (RTCM 10403 message layouts).
#include "rtk/rtcm3.h"

#include <array>
#include <cmath>
#include <cstring>

#include "rtk/eph.h"
#include "rtk/rtk.h"
#include "rtk/rtk_raw.h"

namespace {

// ---------------------------------------------------------------------------
// Constants of the format.
constexpr int HDR_BYTES = 3;  // preamble, reserved bits, length
constexpr int CRC_BYTES = 3;
constexpr int BUFF_SIZE = 1200;                  // frame buffer: 3 + 1023 + 3 bytes fit
constexpr double RANGE_MS = CLIGHT * 0.001;      // one light-millisecond, m
constexpr double P2_10 = 9.765625e-4;            // 2^-10
constexpr double P2_24 = 5.960464477539063e-8;   // 2^-24
constexpr double P2_29 = 1.862645149230957e-9;   // 2^-29
constexpr double P2_31 = 4.656612873077393e-10;  // 2^-31
constexpr int MAX_CELLS = 64;
constexpr int MIN_WEEK = 1700;
constexpr double MAX_ROVER_DT = 60.0;  // s, largest base - rover time difference
constexpr double HALF_WEEK = 302400.0;
constexpr double BDT_GPST = 14.0;        // BeiDou time + 14 s = GPS time
constexpr int START_MSG_COUNT = 4;       // epochs handed over once more observation messages were seen
constexpr int L1_SIGNAL_ID = 2;          // MSM signal id of L1 C/A (GPS, SBAS, QZSS, GLONASS G1) and B1I
constexpr double EPOCH_TIME_TOL = 1e-3;  // s: messages of one epoch carry the same time

// Version flags.
constexpr unsigned char VER_LEGACY = 1;  // bit 0: legacy GPS messages seen
constexpr unsigned char VER_MSM = 2;     // bit 1: MSM seen

// Message type counter index of dbg_acc_msg_type.
struct TypeIndex {
  int first, last, index;
};
constexpr std::array<TypeIndex, 7> TYPE_INDEX = {{
    {1001, 1006, 0},
    {1074, 1077, 6},
    {1084, 1087, 10},
    {1104, 1107, 14},
    {1114, 1117, 18},
    {1124, 1127, 22},
    {1032, 1032, 26},
}};

// ---------------------------------------------------------------------------
// Legacy GPS L1 observation messages 1002 / 1004.
// Header after the message type (DF002, 12 bits) at bit 24 of the frame:
constexpr int LEG_STAID_BITS = 12;    // DF003 reference station id
constexpr int LEG_TOW_BITS = 30;      // DF004 GPS epoch time, 1 ms
constexpr int LEG_SYNC_BITS = 1;      // DF005 synchronous GNSS flag
constexpr int LEG_NSAT_BITS = 5;      // DF006 number of satellites
constexpr int LEG_HDR_END = 24 + 64;  // header: type + 52 bits (incl. DF007, DF008)
// 1002: DF009 sat id 6, DF010 L1 code ind 1, DF011 L1 pseudorange 24 (0.02 m),
//       DF012 L1 phase-range - pseudorange 20 (0.0005 m), DF013 lock time 7,
//       DF014 pseudorange modulus ambiguity 8 (299792.458 m), DF015 L1 CNR 8 (0.25 dB-Hz): 74 bits.
// 1004: the same plus DF016 L2 code ind 2, DF017 L2-L1 pseudorange 14, DF018 L2
//       phase-range - L1 pseudorange 20, DF019 L2 lock time 7, DF020 L2 CNR 8: 125 bits.
constexpr int LEG_SAT_BITS = 6;
constexpr int LEG_CODE_BITS = 1;
constexpr int LEG_PR_BITS = 24;
constexpr int LEG_PHR_BITS = 20;
constexpr int LEG_LOCK_BITS = 7;
constexpr int LEG_AMB_BITS = 8;
constexpr int LEG_CNR_BITS = 8;
constexpr double LEG_PR_SCALE = 0.02;     // m
constexpr double LEG_PHR_SCALE = 0.0005;  // m
constexpr double LEG_CNR_SCALE = 0.25;    // dB-Hz
constexpr int LEG_PHR_INVALID = -524288;  // 0x80000
constexpr int LEG_1002_BITS = 74;
constexpr int LEG_1004_BITS = 125;
constexpr double PHASE_ROLL = 1500.0;   // cycles: rollover of DF012
constexpr int LEG_MAX_SBAS_ID = 39;     // DF009 40..58: SBAS PRN id + 80
constexpr int PRN_TO_SBAS_NUMBER = 87;  // engine SBAS numbers 33..51 are PRN 120..138 less 87

// ---------------------------------------------------------------------------
// MSM: header after the message type at bit 24.
//   DF003 station id 12; epoch time 30 (DF004 GPS/SBAS/QZSS ms, DF427 BeiDou ms,
//   GLONASS: DF416 day of week 3 + DF034 time of day 27, ms); DF393 multiple
//   message bit 1; DF409 IODS 3; DF001 reserved 7; DF411 clock steering 2;
//   DF412 external clock 2; DF417 smoothing 1; DF418 smoothing interval 3;
//   DF394 satellite mask 64; DF395 signal mask 32; DF396 cell mask nsat x nsig.
constexpr int MSM_SATMASK_BITS = 64;
constexpr int MSM_SIGMASK_BITS = 32;

// Satellite and signal data of one MSM type.
struct MsmLayout {
  int ext_and_rate;  // MSM5/7: DF... extended info 4 bits and rough rate 14 bits per satellite
  int pr_bits;       // fine pseudorange: DF400 15 bits 2^-24 ms / DF405 20 bits 2^-29 ms
  double pr_scale;
  int ph_bits;  // fine phase-range: DF401 22 bits 2^-29 ms / DF406 24 bits 2^-31 ms
  double ph_scale;
  int lock_bits;  // lock time indicator: DF402 4 bits / DF407 10 bits
  int cnr_bits;   // CNR: DF403 6 bits 1 dB-Hz / DF408 10 bits 2^-4 dB-Hz
  double cnr_scale;
  int rate;  // MSM5/7: DF404 fine phase-range rate 15 bits 0.0001 m/s
};
constexpr std::array<MsmLayout, 4> MSM_LAYOUTS = {{
    {0, 15, P2_24, 22, P2_29, 4, 6, 1.0, 0},       // MSM4
    {1, 15, P2_24, 22, P2_29, 4, 6, 1.0, 1},       // MSM5
    {0, 20, P2_29, 24, P2_31, 10, 10, 0.0625, 0},  // MSM6
    {1, 20, P2_29, 24, P2_31, 10, 10, 0.0625, 1},  // MSM7
}};
constexpr int MSM_RR_INT_BITS = 8;   // DF397 rough range, whole ms (255 invalid)
constexpr int MSM_EXT_BITS = 4;      // extended satellite info (GLONASS: frequency number + 7)
constexpr int MSM_RR_MOD_BITS = 10;  // DF398 rough range modulo 1 ms, 2^-10 ms
constexpr int MSM_RATE_BITS = 14;    // DF399 rough phase-range rate, 1 m/s (-8192 invalid)
constexpr int MSM_FRATE_BITS = 15;   // DF404 fine phase-range rate, 0.0001 m/s (-16384 invalid)
constexpr double MSM_FRATE_SCALE = 1e-4;
constexpr int MSM_HALF_BITS = 1;  // DF420 half-cycle ambiguity
constexpr unsigned int RR_INVALID = 255;
constexpr int RATE_INVALID = -8192;
constexpr int FRATE_INVALID = -16384;
constexpr int GLO_EXT_UNKNOWN = 14;  // extended info 14, 15: frequency number not given

// MSM message families: first type of each, with its system.
struct MsmFamily {
  int first;
  int sys;
};
constexpr std::array<MsmFamily, 5> MSM_FAMILIES = {{
    {1074, SYS_GPS},
    {1084, SYS_GLO},
    {1104, SYS_SBS},
    {1114, SYS_QZS},
    {1124, SYS_CMP},
}};

// Station position 1005 / 1006, after the message type:
//   DF003 station id 12; DF021 ITRF year 6; DF022..DF142 indicator bits 4;
//   DF025 X 38 (0.0001 m); DF141 + DF023 2 bits; DF026 Y 38; DF364 2 bits;
//   DF027 Z 38; (1006: DF028 antenna height 16, 0.0001 m).
constexpr int STA_1005_BITS = 24 + 152;  // whole message plus header, bits
constexpr int STA_1006_BITS = 24 + 168;
constexpr double STA_SCALE = 1e-4;

// ---------------------------------------------------------------------------
// Decoder state.
struct rtcm_t {
  int staid, stah, seqno, outtype;
  gtime_t time;  // time of the base epoch last added to (GPS time)
  int has_valid_gps_time;
  gtime_t time_s;
  double sta_pos[3];  // antenna reference point, ECEF m
  int has_sta_pos;
  int obsflag;        // the last message closed its epoch (multiple message bit clear)
  double cp[MAXSAT];  // last DF012 phase-range term per satellite, cycles
  unsigned char has_cp[MAXSAT];
  unsigned short lock[MAXSAT];  // last lock-time indicator per satellite
  int nbyte, len;               // bytes held; message length + 3
  unsigned char buff[BUFF_SIZE];
  unsigned int dbg_acc_bytes, dbg_acc_msg_crc24_pass_cnt, dbg_acc_msg_crc24_fail_cnt;
  unsigned int dbg_acc_msg_type[RTCM3_NSTATUS];
};

// Base epochs being assembled, one per epoch time. Messages of one time are
// merged into its slot whatever their order; a slot is handed over when its
// epoch is complete (a message with the multiple message bit clear, or every
// system of the stream seen), when a message of a later time arrives, or once
// the rover time has passed it. A slot stays after its hand-over, so that a
// late message of its time is merged and the epoch handed over again (the raw
// buffers replace an epoch of the same time).
constexpr int NSLOT = 4;
constexpr int NSYS_RING = 8;  // closed epochs whose systems make up the stream's systems
struct EPOCH_SLOT_T {
  gtime_t time;      // GPS time of the epoch
  int used;          // the slot holds an epoch
  int handed;        // handed over at least once
  unsigned int sys;  // SYS_ bits of the messages merged
  unsigned int seq;  // order of the slot's last message, for the choice of a slot to reuse
  int nobs;
  obsd_t obs[MAXOBS];
};

rtcm_t Rtcm3_b;
int RTCM3_rover_time_is_valid = 0;
int RTCM3_rover_time_wn = 0;
double RTCM3_rover_time_tow = 0.0;
unsigned char RTCM3_BASE_MEAS_START_UPDATE_TO_RAW = 0;
unsigned char RTCM3_BASE_MEAS_GOT_ACC_CNT = 0;
unsigned char RTCM3_BASE_VERSION_GPS = 0;
unsigned char RTCM3_BASE_VERSION_BDS = 0;
EPOCH_SLOT_T Slots[NSLOT];
int Last_slot = -1;                  // slot of the last observation message, -1 before one
unsigned int Slot_seq = 0;           // message order
unsigned int Closed_sys[NSYS_RING];  // systems of the last closed epochs
int Closed_sys_next = 0;             // ring index
RTCM3_DROPS_T Drops{};
unsigned char Rescan[2 * BUFF_SIZE];  // bytes to search again after a CRC failure
int Rescan_head = 0, Rescan_n = 0;

// ---------------------------------------------------------------------------
// Bit reading bounded by the message: every read checks the frame first.
struct BitReader {
  const unsigned char* buff;
  int pos;
  int end;  // bit index one past the last message bit
  bool ok;
  unsigned int u(int n) {
    if (!ok || pos + n > end) {
      ok = false;
      return 0;
    }
    const unsigned int v = getbitu(buff, pos, n);
    pos += n;
    return v;
  }
  int s(int n) {
    if (!ok || pos + n > end) {
      ok = false;
      return 0;
    }
    const int v = getbits(buff, pos, n);
    pos += n;
    return v;
  }
  double s38() {  // 38-bit two's complement field as a double
    const int hi = s(32);
    const unsigned int lo = u(6);
    return static_cast<double>(hi) * 64.0 + static_cast<double>(lo);
  }
  void skip(int n) {
    if (!ok || pos + n > end)
      ok = false;
    else
      pos += n;
  }
};

void count_type(int type) {
  for (const TypeIndex& t : TYPE_INDEX)
    if (type >= t.first && type <= t.last) ++Rtcm3_b.dbg_acc_msg_type[t.index + type - t.first];
}

gtime_t rover_time() { return gpst2time(RTCM3_rover_time_wn, RTCM3_rover_time_tow); }

// Place a GPS time of week (s) in the week of the rover time and check it.
int resolve_tow(double tow, gtime_t* t) {
  if (!RTCM3_rover_time_is_valid) {
    ++Drops.no_rover_time;
    return 0;
  }
  int week = RTCM3_rover_time_wn;
  const double dt = tow - RTCM3_rover_time_tow;
  if (dt < -HALF_WEEK)
    ++week;
  else if (dt > HALF_WEEK)
    --week;
  const gtime_t bt = gpst2time(week, tow);
  int w = 0;
  time2gpst(bt, &w);
  if (w < MIN_WEEK || std::fabs(timediff(bt, rover_time())) > MAX_ROVER_DT) {
    ++Drops.bad_time;
    return 0;
  }
  *t = bt;
  return 1;
}

// GLONASS time of day (Moscow time, s) placed in the day of the rover time,
// then taken to GPS time.
int adjday_glot(double tod, gtime_t* t) {
  if (!RTCM3_rover_time_is_valid) {
    ++Drops.no_rover_time;
    return 0;
  }
  const gtime_t msk = timeadd(gpst2utc(rover_time()), 10800.0);  // Moscow time of the rover
  double ep[6];
  time2epoch(msk, ep);
  const double tod_rover = ep[3] * 3600.0 + ep[4] * 60.0 + ep[5];
  ep[3] = ep[4] = ep[5] = 0.0;
  double d = tod - tod_rover;
  if (d < -43200.0)
    tod += 86400.0;
  else if (d > 43200.0)
    tod -= 86400.0;
  const gtime_t bt = utc2gpst(timeadd(epoch2time(ep), tod - 10800.0));
  int w = 0;
  time2gpst(bt, &w);
  if (w < MIN_WEEK || std::fabs(timediff(bt, rover_time())) > MAX_ROVER_DT) {
    ++Drops.bad_time;
    return 0;
  }
  *t = bt;
  return 1;
}

double adjcp(int sat, double cp) {
  double& prev = Rtcm3_b.cp[sat - 1];
  if (Rtcm3_b.has_cp[sat - 1]) {
    if (cp < prev - PHASE_ROLL / 2.0)
      cp += PHASE_ROLL;
    else if (cp > prev + PHASE_ROLL / 2.0)
      cp -= PHASE_ROLL;
  }
  prev = cp;
  Rtcm3_b.has_cp[sat - 1] = 1;
  return cp;
}

unsigned char lossoflock(int sat, unsigned int lock) {
  const int i = sat - 1;
  const unsigned int prev = Rtcm3_b.lock[i];
  const unsigned char lli = ((lock == 0 && prev == 0) || lock < prev) ? 1 : 0;
  Rtcm3_b.lock[i] = static_cast<unsigned short>(lock);
  return lli;
}

unsigned char snratio(double snr) {
  return (snr <= 0.0 || snr >= 255.5) ? 0 : static_cast<unsigned char>(std::floor(snr * 4.0 + 0.5));
}

// Systems of the stream: those of the last NSYS_RING epochs closed by their
// multiple message bit.
unsigned int stream_systems() {
  unsigned int m = 0;
  for (const unsigned int s : Closed_sys) m |= s;
  return m;
}

void hand_over(EPOCH_SLOT_T* e) {
  if (RTCM3_BASE_MEAS_START_UPDATE_TO_RAW) RTK_RAW_update_base_meas(e->obs, e->nobs);
  e->handed = 1;
}

// Every slot not yet handed over whose time lies more than EPOCH_TIME_TOL
// before t goes now (oldest first): a later epoch has begun.
void hand_over_before(gtime_t t) {
  for (;;) {
    EPOCH_SLOT_T* oldest = nullptr;
    for (EPOCH_SLOT_T& e : Slots)
      if (e.used && !e.handed && timediff(e.time, t) < -EPOCH_TIME_TOL &&
          (oldest == nullptr || timediff(e.time, oldest->time) < 0.0))
        oldest = &e;
    if (oldest == nullptr) return;
    hand_over(oldest);
  }
}

// The slot of epoch time t: the one that holds it, else a free one, else the
// one whose last message is the oldest (handed over first if it was not).
// Slots of earlier epochs not yet handed over are handed over first.
EPOCH_SLOT_T* slot_for(gtime_t t) {
  for (EPOCH_SLOT_T& e : Slots)
    if (e.used && std::fabs(timediff(e.time, t)) <= EPOCH_TIME_TOL) return &e;
  hand_over_before(t);
  EPOCH_SLOT_T* pick = nullptr;
  for (EPOCH_SLOT_T& e : Slots) {
    if (!e.used) {
      pick = &e;
      break;
    }
    if (pick == nullptr || e.seq < pick->seq) pick = &e;
  }
  if (pick->used && !pick->handed) hand_over(pick);
  pick->used = 1;
  pick->handed = 0;
  pick->time = t;
  pick->sys = 0;
  pick->nobs = 0;
  return pick;
}

// The epoch of a message of system sys at time *t; *t takes the epoch's time
// (one time for all its observations).
EPOCH_SLOT_T* join_epoch(int sys, gtime_t* t) {
  EPOCH_SLOT_T* e = slot_for(*t);
  *t = e->time;
  e->sys |= static_cast<unsigned int>(sys);
  e->seq = ++Slot_seq;
  Last_slot = static_cast<int>(e - Slots);
  rtcm_t* r = &Rtcm3_b;
  r->time = e->time;
  r->has_valid_gps_time = 1;
  return e;
}

// Room for the observation of satellite sat in the epoch: its earlier entry
// (a message repeated), else a new one; null when the epoch is full (counted).
obsd_t* epoch_obs(EPOCH_SLOT_T* e, int sat) {
  for (int i = 0; i < e->nobs; ++i)
    if (e->obs[i].sat == sat) return &e->obs[i];
  if (e->nobs >= MAXOBS) {
    ++Drops.full_epoch;
    return nullptr;
  }
  return &e->obs[e->nobs++];
}

// After a message: an epoch closed by the multiple message bit, or holding
// every system of the stream, is handed over; so is again an epoch handed
// over before (a late message merged into it). Otherwise it waits.
void end_message(EPOCH_SLOT_T* e, int sync) {
  Rtcm3_b.obsflag = !sync;
  if (!sync) {
    Closed_sys[Closed_sys_next] = e->sys;
    Closed_sys_next = (Closed_sys_next + 1) % NSYS_RING;
  }
  const unsigned int all = stream_systems();
  if (!sync || e->handed || (all != 0 && (e->sys & all) == all)) hand_over(e);
}

// Version detection during the first observation messages. Every observation
// message counts (also GLONASS, SBAS and QZSS MSM, so that a base without GPS
// or BeiDou MSM starts too); GPS and BeiDou set their family bits.
void learn_version(int type) {
  if (RTCM3_BASE_MEAS_START_UPDATE_TO_RAW) return;
  bool counted = true;
  if (type == 1002 || type == 1004)
    RTCM3_BASE_VERSION_GPS |= VER_LEGACY;
  else if (type >= 1074 && type <= 1077)
    RTCM3_BASE_VERSION_GPS |= VER_MSM;
  else if (type >= 1124 && type <= 1127)
    RTCM3_BASE_VERSION_BDS |= VER_MSM;
  else
    counted = (type >= 1084 && type <= 1087) || (type >= 1104 && type <= 1107) || (type >= 1114 && type <= 1117);
  if (!counted) return;
  if (++RTCM3_BASE_MEAS_GOT_ACC_CNT > START_MSG_COUNT) RTCM3_BASE_MEAS_START_UPDATE_TO_RAW = 1;
}

// ---------------------------------------------------------------------------
// 1002 / 1004.
int decode_legacy(int type) {
  rtcm_t* r = &Rtcm3_b;
  BitReader b{r->buff, 24 + 12, r->len * 8, true};
  const int staid = static_cast<int>(b.u(LEG_STAID_BITS));
  const double tow = b.u(LEG_TOW_BITS) * 0.001;
  const int sync = static_cast<int>(b.u(LEG_SYNC_BITS));
  const int nsat = static_cast<int>(b.u(LEG_NSAT_BITS));
  const int rec_bits = type == 1002 ? LEG_1002_BITS : LEG_1004_BITS;
  if (!b.ok || LEG_HDR_END + nsat * rec_bits > r->len * 8) {
    ++Drops.short_msg;
    return 0;
  }
  gtime_t t{};
  if (!resolve_tow(tow, &t)) return 0;
  r->staid = staid;
  EPOCH_SLOT_T* e = join_epoch(SYS_GPS, &t);
  b.pos = LEG_HDR_END;
  for (int j = 0; j < nsat; ++j) {
    const int start = b.pos;
    int prn = static_cast<int>(b.u(LEG_SAT_BITS));
    const int code = static_cast<int>(b.u(LEG_CODE_BITS));
    const double pr1 = b.u(LEG_PR_BITS) * LEG_PR_SCALE;
    const int ppr1 = b.s(LEG_PHR_BITS);
    const unsigned int lock1 = b.u(LEG_LOCK_BITS);
    const int amb = static_cast<int>(b.u(LEG_AMB_BITS));
    const double cnr1 = b.u(LEG_CNR_BITS) * LEG_CNR_SCALE;
    b.pos = start + rec_bits;  // 1004: the L2 fields are not used
    int sys = SYS_GPS;
    if (prn > LEG_MAX_SBAS_ID) {
      sys = SYS_SBS;
      prn += 80 - PRN_TO_SBAS_NUMBER;
    }
    const int sat = satno(sys, prn);
    if (sat == 0) continue;
    obsd_t* o = epoch_obs(e, sat);
    if (o == nullptr) continue;
    *o = obsd_t{};
    o->time = t;
    o->sat = static_cast<unsigned char>(sat);
    o->rcv = 2;
    const double P = pr1 + amb * RANGE_MS;
    o->P[0] = P;
    if (ppr1 != LEG_PHR_INVALID) {
      const double lam = CLIGHT / FREQ1;
      o->L[0] = P / lam + adjcp(sat, ppr1 * LEG_PHR_SCALE / lam);
    }
    o->LLI[0] = lossoflock(sat, lock1);
    o->SNR[0] = snratio(cnr1);
    o->code[0] = code ? 2 : CODE_L1C;
  }
  end_message(e, sync);
  return 1;
}

// ---------------------------------------------------------------------------
// 1005 / 1006.
int decode_type1005(int type) {
  rtcm_t* r = &Rtcm3_b;
  const int want = type == 1005 ? STA_1005_BITS : STA_1006_BITS;
  if (r->len * 8 != want) {
    ++Drops.short_msg;
    return 0;
  }
  BitReader b{r->buff, 24 + 12, r->len * 8, true};
  const int staid = static_cast<int>(b.u(12));
  b.skip(6 + 4);  // DF021, DF022..DF142
  const double x = b.s38();
  b.skip(2);
  const double y = b.s38();
  b.skip(2);
  const double z = b.s38();
  if (!b.ok) return 0;
  r->staid = staid;
  r->sta_pos[0] = x * STA_SCALE;
  r->sta_pos[1] = y * STA_SCALE;
  r->sta_pos[2] = z * STA_SCALE;
  r->has_sta_pos = 1;
  RTK_RAW_update_base_pos_xyz(r->sta_pos[0], r->sta_pos[1], r->sta_pos[2]);
  return 1;
}

// ---------------------------------------------------------------------------
// MSM.
struct MsmHead {
  int staid, sync, nsat, nsig, ncell;
  gtime_t time;
  unsigned char sats[MSM_SATMASK_BITS];
  unsigned char sigs[MSM_SIGMASK_BITS];
  unsigned char cellmask[MAX_CELLS];
};

// Header; returns the bit position of the satellite data, 0 when rejected.
int decode_msm_head(int sys, MsmHead* h) {
  rtcm_t* r = &Rtcm3_b;
  BitReader b{r->buff, 24 + 12, r->len * 8, true};
  h->staid = static_cast<int>(b.u(12));
  double tow = 0.0;
  unsigned int tod_ms = 0;
  if (sys == SYS_GLO) {
    b.skip(3);  // DF416 day of week
    tod_ms = b.u(27);
  } else {
    tow = b.u(30) * 0.001;
    if (sys == SYS_CMP) tow += BDT_GPST;
  }
  h->sync = static_cast<int>(b.u(1));
  b.skip(3 + 7 + 2 + 2 + 1 + 3);
  h->nsat = h->nsig = 0;
  for (int i = 1; i <= MSM_SATMASK_BITS; ++i)
    if (b.u(1)) h->sats[h->nsat++] = static_cast<unsigned char>(i);
  for (int i = 1; i <= MSM_SIGMASK_BITS; ++i)
    if (b.u(1)) h->sigs[h->nsig++] = static_cast<unsigned char>(i);
  if (!b.ok) {
    ++Drops.short_msg;
    return 0;
  }
  if (h->nsat * h->nsig > MAX_CELLS) {
    ++Drops.too_many_cells;
    return 0;
  }
  h->ncell = 0;
  for (int i = 0; i < h->nsat * h->nsig; ++i) {
    h->cellmask[i] = static_cast<unsigned char>(b.u(1));
    h->ncell += h->cellmask[i];
  }
  if (!b.ok) {
    ++Drops.short_msg;
    return 0;
  }
  const int ok = sys == SYS_GLO ? adjday_glot(tod_ms * 0.001, &h->time) : resolve_tow(tow, &h->time);
  if (!ok) return 0;
  return b.pos;
}

int msm_prn_to_sat(int sys, int id) {
  switch (sys) {
    case SYS_QZS:
      return satno(SYS_QZS, id + 192);
    case SYS_SBS:
      return satno(SYS_SBS, id + 32);
    default:
      return satno(sys, id);
  }
}

// Satellite data of an MSM: rough range (m, -1 when invalid), extended info,
// rough phase-range rate (m/s) and its validity, indexed like the satellite mask.
struct MsmSatData {
  double rr[MSM_SATMASK_BITS];
  double rrate[MSM_SATMASK_BITS];
  int ext[MSM_SATMASK_BITS];
  bool rate_ok[MSM_SATMASK_BITS];
};

// Signal data of an MSM, one entry per cell: fine pseudorange and fine
// phase-range (m), lock-time indicator, half-cycle flag, CNR (dB-Hz), fine
// phase-range rate (m/s), and the validity of each value.
struct MsmCellData {
  double pr[MAX_CELLS], cp[MAX_CELLS], rate[MAX_CELLS], cnr[MAX_CELLS];
  unsigned int lock[MAX_CELLS];
  int half[MAX_CELLS];
  bool pr_ok[MAX_CELLS], cp_ok[MAX_CELLS], fr_ok[MAX_CELLS];
};

void read_msm_sat_data(BitReader* b, const MsmLayout& ly, int ns, MsmSatData* sd) {
  for (int i = 0; i < ns; ++i) {
    const unsigned int v = b->u(MSM_RR_INT_BITS);
    sd->rr[i] = v == RR_INVALID ? -1.0 : v * RANGE_MS;
  }
  if (ly.ext_and_rate)
    for (int i = 0; i < ns; ++i) sd->ext[i] = static_cast<int>(b->u(MSM_EXT_BITS));
  else
    for (int i = 0; i < ns; ++i) sd->ext[i] = 15;
  for (int i = 0; i < ns; ++i) {
    const unsigned int v = b->u(MSM_RR_MOD_BITS);
    if (sd->rr[i] >= 0.0) sd->rr[i] += v * P2_10 * RANGE_MS;
  }
  if (ly.ext_and_rate) {
    for (int i = 0; i < ns; ++i) {
      const int v = b->s(MSM_RATE_BITS);
      sd->rate_ok[i] = v != RATE_INVALID;
      sd->rrate[i] = v;
    }
  }
}

void read_msm_cell_data(BitReader* b, const MsmLayout& ly, int nc, MsmCellData* cd) {
  const int pr_invalid = -(1 << (ly.pr_bits - 1));
  const int ph_invalid = -(1 << (ly.ph_bits - 1));
  for (int j = 0; j < nc; ++j) {
    const int v = b->s(ly.pr_bits);
    cd->pr_ok[j] = v != pr_invalid;
    cd->pr[j] = v * ly.pr_scale * RANGE_MS;
  }
  for (int j = 0; j < nc; ++j) {
    const int v = b->s(ly.ph_bits);
    cd->cp_ok[j] = v != ph_invalid;
    cd->cp[j] = v * ly.ph_scale * RANGE_MS;
  }
  for (int j = 0; j < nc; ++j) cd->lock[j] = b->u(ly.lock_bits);
  for (int j = 0; j < nc; ++j) cd->half[j] = static_cast<int>(b->u(MSM_HALF_BITS));
  for (int j = 0; j < nc; ++j) cd->cnr[j] = b->u(ly.cnr_bits) * ly.cnr_scale;
  for (int j = 0; j < nc; ++j) {
    cd->fr_ok[j] = false;
    cd->rate[j] = 0.0;
    if (!ly.rate) continue;
    const int v = b->s(MSM_FRATE_BITS);
    cd->fr_ok[j] = v != FRATE_INVALID;
    cd->rate[j] = v * MSM_FRATE_SCALE;
  }
}

// L1 / B1 wavelength, m: GLONASS from the message's frequency number when it
// carries one, else from the engine (0 while it knows no frequency number).
double msm_wavelength(int sys, int ext, int sat, const nav_t* nav) {
  if (sys == SYS_GLO && ext < GLO_EXT_UNKNOWN) return CLIGHT / (FREQ1_GLO + (ext - 7) * DFRQ1_GLO);
  return satwavelen(sat, 0, nav);
}

// Observation of satellite i (satellite data) and one of its cells.
void fill_msm_obs(obsd_t* o, int sys, int sat, gtime_t time, const MsmLayout& ly, const MsmSatData& sd, int i,
                  const MsmCellData& cd, int cell, double lam) {
  *o = obsd_t{};
  o->time = time;
  o->sat = static_cast<unsigned char>(sat);
  o->rcv = 2;
  if (sd.rr[i] >= 0.0 && cd.pr_ok[cell]) o->P[0] = sd.rr[i] + cd.pr[cell];
  if (sd.rr[i] >= 0.0 && cd.cp_ok[cell] && lam > 0.0) o->L[0] = (sd.rr[i] + cd.cp[cell]) / lam;
  if (ly.rate && sd.rate_ok[i] && cd.fr_ok[cell] && lam > 0.0)
    o->D[0] = static_cast<float>(-(sd.rrate[i] + cd.rate[cell]) / lam);
  o->LLI[0] = static_cast<unsigned char>(lossoflock(sat, cd.lock[cell]) + (cd.half[cell] ? 2 : 0));
  const double snr = cd.cnr[cell] * 4.0;
  o->SNR[0] = static_cast<unsigned char>(snr > 255.0 ? 255.0 : snr);
  o->code[0] = sys == SYS_CMP ? CODE_L1I : CODE_L1C;
}

// Appends the L1 / B1 cells of the message to the epoch.
void add_msm_obs(EPOCH_SLOT_T* e, int sys, const MsmHead& h, const MsmLayout& ly, const MsmSatData& sd,
                 const MsmCellData& cd) {
  const nav_t* nav = RTK_get_nav();
  int k = 0;  // cell index
  for (int i = 0; i < h.nsat; ++i) {
    for (int j = 0; j < h.nsig; ++j) {
      if (!h.cellmask[i * h.nsig + j]) continue;
      const int cell = k++;
      if (h.sigs[j] != L1_SIGNAL_ID) continue;
      const int sat = msm_prn_to_sat(sys, h.sats[i]);
      if (sat == 0) continue;
      obsd_t* o = epoch_obs(e, sat);
      if (o == nullptr) continue;
      const double lam = msm_wavelength(sys, sd.ext[i], sat, nav);
      fill_msm_obs(o, sys, sat, h.time, ly, sd, i, cd, cell, lam);
    }
  }
}

// Observations of one MSM message (type 1074 + 10 * family + (msm - 4)).
int decode_msm(int sys, int msm) {
  rtcm_t* r = &Rtcm3_b;
  const MsmLayout& ly = MSM_LAYOUTS[static_cast<std::size_t>(msm - 4)];
  MsmHead h{};
  const int pos = decode_msm_head(sys, &h);
  if (pos == 0) return 0;
  const int ns = h.nsat, nc = h.ncell;
  const int sat_bits = ns * (MSM_RR_INT_BITS + MSM_RR_MOD_BITS + (ly.ext_and_rate ? MSM_EXT_BITS + MSM_RATE_BITS : 0));
  const int cell_bits =
      nc * (ly.pr_bits + ly.ph_bits + ly.lock_bits + MSM_HALF_BITS + ly.cnr_bits + (ly.rate ? MSM_FRATE_BITS : 0));
  if (pos + sat_bits + cell_bits > r->len * 8) {
    ++Drops.short_msg;
    return 0;
  }
  BitReader b{r->buff, pos, r->len * 8, true};
  MsmSatData sd{};
  MsmCellData cd{};
  read_msm_sat_data(&b, ly, ns, &sd);
  read_msm_cell_data(&b, ly, nc, &cd);
  if (!b.ok) {  // cannot happen after the length test above; kept as the reader's own guard
    ++Drops.short_msg;
    return 0;
  }
  r->staid = h.staid;
  EPOCH_SLOT_T* e = join_epoch(sys, &h.time);
  add_msm_obs(e, sys, h, ly, sd, cd);
  end_message(e, h.sync);
  return 1;
}

// ---------------------------------------------------------------------------
int decode_rtcm3() {
  rtcm_t* r = &Rtcm3_b;
  if (r->len * 8 < 24 + 12) return -1;  // no room for the message type
  const int type = static_cast<int>(getbitu(r->buff, 24, 12));
  count_type(type);
  learn_version(type);
  if (type == 1002 || type == 1004) {
    if (RTCM3_BASE_VERSION_GPS == VER_LEGACY) decode_legacy(type);
  } else if (type == 1005 || type == 1006) {
    decode_type1005(type);
  } else if (type == 1032) {
    // Physical reference station position: counted, not applied.
  } else {
    for (std::size_t f = 0; f < MSM_FAMILIES.size(); ++f) {
      const int first = MSM_FAMILIES[f].first;
      if (type < first || type > first + 3) continue;
      const int sys = MSM_FAMILIES[f].sys;
      if (sys == SYS_GPS && !(RTCM3_BASE_VERSION_GPS & VER_MSM)) break;
      if (sys == SYS_CMP && !(RTCM3_BASE_VERSION_BDS & VER_MSM)) break;
      decode_msm(sys, type - first + 4);
      break;
    }
  }
  return type;
}

// Frame assembly of one byte; the message type of a decoded frame, else -1.
int assemble(unsigned char data) {
  rtcm_t* r = &Rtcm3_b;
  if (r->nbyte == 0) {
    if (data != RTCM3_PREAMBLE) return -1;
    r->buff[r->nbyte++] = data;
    return -1;
  }
  r->buff[r->nbyte++] = data;
  if (r->nbyte == HDR_BYTES) r->len = static_cast<int>(getbitu(r->buff, 14, 10)) + HDR_BYTES;
  if (r->nbyte < HDR_BYTES || r->nbyte < r->len + CRC_BYTES) return -1;
  r->nbyte = 0;
  if (crc24q(r->buff, r->len) != getbitu(r->buff, r->len * 8, 24)) {
    ++r->dbg_acc_msg_crc24_fail_cnt;
    // Queue the frame's bytes after its preamble ahead of those not yet searched.
    const int n = r->len + CRC_BYTES - 1;
    const int rest = Rescan_n - Rescan_head;
    if (n + rest <= static_cast<int>(sizeof Rescan)) {
      std::memmove(Rescan + n, Rescan + Rescan_head, static_cast<std::size_t>(rest));
      std::memcpy(Rescan, r->buff + 1, static_cast<std::size_t>(n));
      Rescan_head = 0;
      Rescan_n = n + rest;
    }
    return -1;
  }
  ++r->dbg_acc_msg_crc24_pass_cnt;
  return decode_rtcm3();
}

}  // namespace

void RTCM3_init() {
  Rtcm3_b = rtcm_t{};
  RTCM3_rover_time_is_valid = 0;
  RTCM3_rover_time_wn = 0;
  RTCM3_rover_time_tow = 0.0;
  RTCM3_BASE_MEAS_START_UPDATE_TO_RAW = 0;
  RTCM3_BASE_MEAS_GOT_ACC_CNT = 0;
  RTCM3_BASE_VERSION_GPS = 0;
  RTCM3_BASE_VERSION_BDS = 0;
  for (EPOCH_SLOT_T& e : Slots) e = EPOCH_SLOT_T{};
  Last_slot = -1;
  Slot_seq = 0;
  for (unsigned int& m : Closed_sys) m = 0;
  Closed_sys_next = 0;
  Drops = RTCM3_DROPS_T{};
  Rescan_head = Rescan_n = 0;
}

int RTCM3_input_byte(unsigned char data) {
  ++Rtcm3_b.dbg_acc_bytes;
  int ret = assemble(data);
  // Bytes of a frame that failed its CRC are searched again for a preamble, so
  // that a false preamble in noise does not swallow the frames that follow it.
  while (Rescan_head < Rescan_n) {
    const int t = assemble(Rescan[Rescan_head++]);
    if (t >= 0) ret = t;
  }
  Rescan_head = Rescan_n = 0;
  return ret;
}

int RTCM3_process_base(int len, char* buf) {
  for (int i = 0; i < len; ++i) RTCM3_input_byte(static_cast<unsigned char>(buf[i]));
  return 1;
}

int RTCM3_print_status() { return 1; }

void RTCM3_update_rover_time(int week, double tow) {
  RTCM3_rover_time_wn = week;
  RTCM3_rover_time_tow = tow;
  RTCM3_rover_time_is_valid = 1;
  // Epochs that the rover time has passed are not waited for any longer.
  hand_over_before(gpst2time(week, tow));
}

void RTCM3_get_base_status(unsigned int* dbg) {
  for (int i = 0; i < 29; ++i) dbg[i] = Rtcm3_b.dbg_acc_msg_type[i];
  dbg[RTCM3_STATUS_BYTES] = Rtcm3_b.dbg_acc_bytes;
  dbg[RTCM3_STATUS_CRC_GOOD] = Rtcm3_b.dbg_acc_msg_crc24_pass_cnt;
  dbg[RTCM3_STATUS_CRC_BAD] = Rtcm3_b.dbg_acc_msg_crc24_fail_cnt;
}

void RTCM3_get_drops(RTCM3_DROPS_T* drops) { *drops = Drops; }

int RTCM3_get_epoch(obsd_t* obs, int max_n, gtime_t* time) {
  if (Last_slot < 0) {
    if (time != nullptr) *time = gtime_t{};
    return 0;
  }
  const EPOCH_SLOT_T& e = Slots[static_cast<std::size_t>(Last_slot)];
  const int n = e.nobs < max_n ? e.nobs : max_n;
  for (int i = 0; i < n; ++i) obs[i] = e.obs[i];
  if (time != nullptr) *time = Rtcm3_b.time;
  return n;
}

int RTCM3_get_station(int* staid, double* pos) {
  *staid = Rtcm3_b.staid;
  for (int i = 0; i < 3; ++i) pos[i] = Rtcm3_b.sta_pos[i];
  return Rtcm3_b.has_sta_pos;
}

void RTCM3_get_version(int* gps, int* bds, int* started) {
  *gps = RTCM3_BASE_VERSION_GPS;
  *bds = RTCM3_BASE_VERSION_BDS;
  *started = RTCM3_BASE_MEAS_START_UPDATE_TO_RAW;
}
