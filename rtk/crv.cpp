// CRVRAW reader: frame assembly, message decoding (time, raw and extended raw
// measurements, receiver state, GPS/QZSS subframes, GLONASS strings, SBAS
// type 9), epoch hand-over to the raw buffers, file-mode pairing and the
// recorder file reader.
#include "rtk/crv.h"

#include <cmath>
#include <cstring>

#include "rtk/rtcm3.h"
#include "rtk/rtk.h"
#include "rtk/rtk_raw.h"

namespace {

constexpr unsigned char SYNC1 = 0xA0, SYNC2 = 0xA1;
constexpr int FRAME_OVERHEAD = 7;  // sync 2, length 2, checksum 1, end 2
constexpr int SUBFRM_BYTES = 380;
constexpr int GPS_SF_BYTES = 30;  // ten 24-bit words without parity
constexpr int GLO_STR_BYTES = 10;
constexpr int RAW_HDR = 3, RAW_REC = 23;
constexpr int EXTRAW_HDR = 14, EXTRAW_REC = 31;
constexpr int TIME_LEN = 10, RCV_LEN = 57, GPS_LEN = 33, GLO_LEN = 12, BDS_LEN = 31, SBAS_LEN = 103;
constexpr double LFOLD = 1E9;        // carrier phase folded into [-1e9, 1e9) cycles
constexpr double MAX_PR = 1E9;       // largest accepted pseudorange, m
constexpr double MAX_DOPPLER = 1E6;  // Hz
constexpr double MAX_POS = 1E9;      // m
constexpr double MAX_VEL = 1E5;      // m/s
constexpr double MAX_CBIAS = 1E10;   // m
// Scale factors 2^-n of the broadcast fields (exact powers of two).
constexpr double P2_5 = 0x1p-5, P2_11 = 0x1p-11, P2_19 = 0x1p-19, P2_20 = 0x1p-20, P2_29 = 0x1p-29, P2_30 = 0x1p-30;
constexpr double P2_31 = 0x1p-31, P2_33 = 0x1p-33, P2_40 = 0x1p-40, P2_43 = 0x1p-43, P2_55 = 0x1p-55;
constexpr unsigned char REC_BASE[4] = {0x12, 0x34, 0x56, 0x78};
constexpr unsigned char REC_ROVER[4] = {0x78, 0x56, 0x34, 0x12};
constexpr int REC_HDR = 6;

struct crv_t {
  int rcv_is_rover;
  int has_epoch_time;
  gtime_t time;
  U16 meas_period_in_ms;
  int nobs;
  obsd_t obs[MAXOBS];
  unsigned char subfrm[MAXSAT][SUBFRM_BYTES];
  double lockt[MAXSAT][NFREQ];
  unsigned char sf_pending[MAXSAT];  // subframes 1-3 complete, waiting for the epoch week
  volatile int nbyte;
  int len;
  int iod;
  unsigned char buff[CRV_MAX_FRAME];
  int lock;
  unsigned int dbg_acc_bytes, dbg_acc_msg_length_err_cnt, dbg_acc_msg_cs_err_cnt, dbg_acc_msg_ext_raw_cnt,
      dbg_acc_msg_time_cnt, dbg_acc_msg_raw_cnt, dbg_acc_msg_gps_sf_cnt, dbg_acc_msg_bd2_d1_cnt, dbg_acc_msg_bd2_d2_cnt,
      dbg_acc_msg_sbas_type9_cnt, dbg_acc_msg_glo_string;
  unsigned int good_frames, epochs;  // frames that passed the checksum; epochs handed over
  unsigned int framed_bytes;         // bytes of completed frames and of frames dropped for their length
  CRV_DROPS_T drops;
};

struct CRV_PP_T {
  int nbyte;
  int is_rover;
  int len;
  unsigned char buff[CRV_MAX_FRAME];
};

crv_t crv_r, crv_b;
gtime_t Crv_r_time, Crv_b_time;
U08 Has_update_rover_meas = 0, Has_update_base_meas = 0, Has_parse_base_meas = 0, Has_parse_base_pos = 0;
unsigned int DBG_CS_ERR = 0;
long CRV_DBG_R = 0, CRV_DBG_B = 0;
CRV_PP_T CRV_rb;
unsigned char Pp_stream_type = 0;
unsigned int Recorder_drops = 0;

// Frame search over the recorded base bytes for the format the base is not
// read as (see CRV_get_recorder_other_format_frames): the frame being
// collected and the count of good frames found.
struct CRV_SNIFF_T {
  int nbyte;           // bytes of the frame collected (0: looking for its start)
  int len;             // bytes of the whole frame once its header is in
  unsigned char prev;  // the byte before the current one (CRVRAW sync search)
  unsigned char buff[CRV_MAX_FRAME];
  unsigned int frames;
};
CRV_SNIFF_T Sniff;

// Big-endian field readers.
unsigned int U2(const unsigned char* p) { return (static_cast<unsigned int>(p[0]) << 8) | p[1]; }
unsigned int U4(const unsigned char* p) {
  return (static_cast<unsigned int>(p[0]) << 24) | (static_cast<unsigned int>(p[1]) << 16) |
         (static_cast<unsigned int>(p[2]) << 8) | p[3];
}
int S2(const unsigned char* p) { return static_cast<S16>(static_cast<U16>(U2(p))); }
int S4(const unsigned char* p) { return static_cast<S32>(U4(p)); }
float R4(const unsigned char* p) {
  const U32 u = U4(p);
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}
double R8(const unsigned char* p) {
  const U64 u = (static_cast<U64>(U4(p)) << 32) | U4(p + 4);
  double d;
  std::memcpy(&d, &u, sizeof d);
  return d;
}

bool within(double v, double lim) { return std::isfinite(v) && std::fabs(v) <= lim; }

unsigned char checksum(const unsigned char* buff, int len) {
  unsigned char cs = 0;
  for (int i = 0; i < len; ++i) cs ^= buff[i];
  return cs;
}

// Full GPS week of the stream's current epoch.
int epoch_week(const crv_t* raw) {
  int week = 0;
  time2gpst(raw->time, &week);
  return week;
}

// ----------------------------------------------------------------------------
// GPS / QZSS subframes (IS-GPS-200), bit 0 = first bit of the stored subframe.

int sf_id(const unsigned char* sf) { return static_cast<int>(getbitu(sf, 43, 3)); }

void decode_subfrm1(const unsigned char* buff, eph_t* eph, double* tow, int* week10) {
  *tow = getbitu(buff, 24, 17) * 6.0;
  *week10 = static_cast<int>(getbitu(buff, 48, 10));
  eph->code = static_cast<int>(getbitu(buff, 58, 2));
  eph->sva = static_cast<int>(getbitu(buff, 60, 4));
  eph->svh = static_cast<int>(getbitu(buff, 64, 6));
  const int iodc0 = static_cast<int>(getbitu(buff, 70, 2));
  eph->flag = static_cast<int>(getbitu(buff, 72, 1));
  const int tgd = getbits(buff, 160, 8);
  const int iodc1 = static_cast<int>(getbitu(buff, 168, 8));
  const double toc = getbitu(buff, 176, 16) * 16.0;
  eph->f2 = getbits(buff, 192, 8) * P2_55;
  eph->f1 = getbits(buff, 200, 16) * P2_43;
  eph->f0 = getbits(buff, 216, 22) * P2_31;
  eph->tgd[0] = tgd == -128 ? 0.0 : tgd * P2_31;
  eph->iodc = (iodc0 << 8) + iodc1;
  eph->toc.sec = toc;  // seconds of week until the week is known
}

void decode_subfrm2(const unsigned char* buff, eph_t* eph) {
  eph->iode = static_cast<int>(getbitu(buff, 48, 8));
  eph->crs = getbits(buff, 56, 16) * P2_5;
  eph->deln = getbits(buff, 72, 16) * P2_43 * SC2RAD;
  eph->M0 = getbits(buff, 88, 32) * P2_31 * SC2RAD;
  eph->cuc = getbits(buff, 120, 16) * P2_29;
  eph->e = getbitu(buff, 136, 32) * P2_33;
  eph->cus = getbits(buff, 168, 16) * P2_29;
  const double sqrtA = getbitu(buff, 184, 32) * P2_19;
  eph->toes = getbitu(buff, 216, 16) * 16.0;
  eph->fit = getbitu(buff, 232, 1) ? 0.0 : 4.0;
  eph->A = sqrtA * sqrtA;
}

int decode_subfrm3(const unsigned char* buff, eph_t* eph) {
  eph->cic = getbits(buff, 48, 16) * P2_29;
  eph->OMG0 = getbits(buff, 64, 32) * P2_31 * SC2RAD;
  eph->cis = getbits(buff, 96, 16) * P2_29;
  eph->i0 = getbits(buff, 112, 32) * P2_31 * SC2RAD;
  eph->crc = getbits(buff, 144, 16) * P2_5;
  eph->omg = getbits(buff, 160, 32) * P2_31 * SC2RAD;
  eph->OMGd = getbits(buff, 192, 24) * P2_43 * SC2RAD;
  const int iode = static_cast<int>(getbitu(buff, 216, 8));
  eph->idot = getbits(buff, 224, 14) * P2_43 * SC2RAD;
  return iode;
}

// Ephemeris from subframes 1-3 of one satellite; week10 resolved near ref_week.
int decode_frame(const unsigned char* sfs, eph_t* eph, int ref_week) {
  for (int k = 0; k < 3; ++k) {
    if (sfs[k * GPS_SF_BYTES] != 0x8B || sf_id(sfs + k * GPS_SF_BYTES) != k + 1) return 0;
  }
  *eph = eph_t{};
  double tow = 0.0;
  int week10 = 0;
  decode_subfrm1(sfs, eph, &tow, &week10);
  decode_subfrm2(sfs + GPS_SF_BYTES, eph);
  const int iode3 = decode_subfrm3(sfs + 2 * GPS_SF_BYTES, eph);
  if (iode3 != eph->iode || eph->iode != (eph->iodc & 0xFF)) return 0;

  int week = gps_week_from_10bit(week10, ref_week);
  const double toc = eph->toc.sec;
  if (eph->toes < tow - 302400.0) {
    ++week;
    tow -= 604800.0;
  } else if (eph->toes > tow + 302400.0) {
    --week;
    tow += 604800.0;
  }
  eph->week = week;
  eph->toe = gpst2time(week, eph->toes);
  eph->toc = gpst2time(week, toc);
  eph->ttr = gpst2time(week, tow);
  return 1;
}

void decode_ephem(crv_t* raw, int sat) {
  eph_t eph;
  raw->sf_pending[sat - 1] = 0;
  if (!decode_frame(raw->subfrm[sat - 1], &eph, epoch_week(raw))) return;
  eph.sat = sat;
  RTK_input_eph(&eph);
}

void decode_pending(crv_t* raw) {
  for (int s = 1; s <= MAXSAT; ++s) {
    if (raw->sf_pending[s - 1]) decode_ephem(raw, s);
  }
}

int decode_crvgps(crv_t* raw, const unsigned char* p, int n) {
  if (n < GPS_LEN) {
    ++raw->drops.short_msg;
    return -1;
  }
  const int prn = p[1];
  const int sat = satno(prn == MINPRNQZS ? SYS_QZS : SYS_GPS, prn);
  if (sat == 0) {
    ++raw->drops.bad_sat;
    return -1;
  }
  const unsigned char* sf = p + 3;
  const int id = sf_id(sf);
  if (sf[0] != 0x8B || id < 1 || id > 5) {
    ++raw->drops.bad_value;
    return -1;
  }
  std::memcpy(raw->subfrm[sat - 1] + (id - 1) * GPS_SF_BYTES, sf, GPS_SF_BYTES);
  ++raw->dbg_acc_msg_gps_sf_cnt;
  if (id == 3) {
    if (raw->has_epoch_time)
      decode_ephem(raw, sat);
    else
      raw->sf_pending[sat - 1] = 1;  // no epoch week yet to resolve the 10-bit week
  }
  return CRV_ID_GPS_SF;
}

// ----------------------------------------------------------------------------
// GLONASS strings 1-4 (GLONASS ICD), stored as bit 0 idle, bits 1-4 string
// number, bits 5-76 the 72 data bits.

// Time of day (s, UTC) moved by a day to lie within 12 h of tod_now, as GPS time.
gtime_t glo_time(double tod, double tod_now, double day_start_tow, int week) {
  if (tod < tod_now - 43200.0)
    tod += 86400.0;
  else if (tod > tod_now + 43200.0)
    tod -= 86400.0;
  return utc2gpst(gpst2time(week, day_start_tow + tod));
}

int decode_glostr(const unsigned char* buff, geph_t* geph, gtime_t time) {
  for (int k = 0; k < 4; ++k) {
    if (static_cast<int>(getbitu(buff + k * GLO_STR_BYTES, 1, 4)) != k + 1) return 0;
  }
  *geph = geph_t{};
  const unsigned char* s1 = buff;
  const unsigned char* s2 = buff + GLO_STR_BYTES;
  const unsigned char* s3 = buff + 2 * GLO_STR_BYTES;
  const unsigned char* s4 = buff + 3 * GLO_STR_BYTES;
  const double tk_h = getbitu(s1, 9, 5), tk_m = getbitu(s1, 14, 6), tk_s = getbitu(s1, 20, 1) * 30.0;
  geph->vel[0] = getbitg(s1, 21, 24) * P2_20 * 1E3;
  geph->acc[0] = getbitg(s1, 45, 5) * P2_30 * 1E3;
  geph->pos[0] = getbitg(s1, 50, 27) * P2_11 * 1E3;
  const int bn = static_cast<int>(getbitu(s2, 5, 3));
  const int tb = static_cast<int>(getbitu(s2, 9, 7));
  geph->vel[1] = getbitg(s2, 21, 24) * P2_20 * 1E3;
  geph->acc[1] = getbitg(s2, 45, 5) * P2_30 * 1E3;
  geph->pos[1] = getbitg(s2, 50, 27) * P2_11 * 1E3;
  geph->gamn = getbitg(s3, 6, 11) * P2_40;
  geph->vel[2] = getbitg(s3, 21, 24) * P2_20 * 1E3;
  geph->acc[2] = getbitg(s3, 45, 5) * P2_30 * 1E3;
  geph->pos[2] = getbitg(s3, 50, 27) * P2_11 * 1E3;
  geph->taun = getbitg(s4, 5, 22) * P2_30;
  geph->dtaun = getbitg(s4, 27, 5) * P2_30;
  geph->age = static_cast<int>(getbitu(s4, 32, 5));
  geph->sva = static_cast<int>(getbitu(s4, 52, 4));
  const int slot = static_cast<int>(getbitu(s4, 70, 5));

  geph->sat = satno(SYS_GLO, slot);
  if (geph->sat == 0) return 0;
  geph->svh = bn;
  geph->iode = tb;
  geph->frq = -9;  // not in the strings; the stream's raw records carry it

  // Moscow time of day -> UTC; then GPS time
  int week = 0;
  const double tow_utc = time2gpst(gpst2utc(time), &week);
  const double tod_now = std::fmod(tow_utc, 86400.0);
  const double day_start = tow_utc - tod_now;
  const double tof = tk_h * 3600.0 + tk_m * 60.0 + tk_s - 10800.0;
  const double toe = tb * 900.0 - 10800.0;
  geph->tof = glo_time(tof, tod_now, day_start, week);
  geph->toe = glo_time(toe, tod_now, day_start, week);
  return 1;
}

int decode_crvglo(crv_t* raw, const unsigned char* p, int n) {
  if (!raw->has_epoch_time) return 0;
  if (n < GLO_LEN) {
    ++raw->drops.short_msg;
    return -1;
  }
  const int slot = p[1] - 64;
  const int sat = satno(SYS_GLO, slot);
  if (sat == 0) {
    ++raw->drops.bad_sat;
    return -1;
  }
  const int m = p[2] & 15;
  if (m < 1 || m > 4) {
    ++raw->drops.bad_value;
    return -1;
  }
  unsigned char* str = raw->subfrm[sat - 1] + (m - 1) * GLO_STR_BYTES;
  std::memset(str, 0, GLO_STR_BYTES);
  setbitu(str, 1, 4, static_cast<unsigned int>(m));
  for (int i = 0; i < 9; ++i) setbitu(str, 5 + 8 * i, 8, p[3 + i]);
  ++raw->dbg_acc_msg_glo_string;
  if (m == 4) {
    geph_t geph;
    if (decode_glostr(raw->subfrm[sat - 1], &geph, raw->time) && geph.sat == sat) RTK_input_geph(&geph);
  }
  return CRV_ID_GLO_STR;
}

// ----------------------------------------------------------------------------
// Measurements.

void set_epoch_time(crv_t* raw, int iod, int week, unsigned int tow_ms, unsigned int period) {
  raw->iod = iod;
  raw->time = gpst2time(week, tow_ms * 0.001);
  raw->meas_period_in_ms = static_cast<U16>(period);
  raw->has_epoch_time = 1;
}

int decode_crvtime(crv_t* raw, const unsigned char* p, int n) {
  if (n < TIME_LEN) {
    ++raw->drops.short_msg;
    return -1;
  }
  const int iod = p[1];
  const int week = static_cast<int>(U2(p + 2));
  const unsigned int tow_ms = U4(p + 4);
  set_epoch_time(raw, iod, week, tow_ms, U2(p + 8));
  if (raw->rcv_is_rover) {
    RTCM3_update_rover_time(week, tow_ms * 0.001);
    RTK_RAW_set_rover_crvtime_iod(iod);
  } else {
    RTK_RAW_set_base_crvtime_iod(iod);
  }
  ++raw->dbg_acc_msg_time_cnt;
  decode_pending(raw);
  return CRV_ID_TIME;
}

// Appends one observation; the caller has checked the satellite index.
obsd_t* add_obs(crv_t* raw, int sat, int cn0, double P, double L, float D) {
  obsd_t* o = &raw->obs[raw->nobs++];
  *o = obsd_t{};
  o->time = raw->time;
  o->meas_period_in_ms = raw->meas_period_in_ms;
  o->sat = static_cast<unsigned char>(sat);
  o->rcv = raw->rcv_is_rover ? 1 : 2;
  const int snr = cn0 * 4;
  o->SNR[0] = static_cast<unsigned char>(snr > 255 ? 255 : snr);
  o->code[0] = CODE_L1C;
  o->P[0] = P;
  o->L[0] = L;
  o->D[0] = D;
  return o;
}

// Measurement values of a record, zero where invalid or out of range.
void meas_values(const unsigned char* pr, const unsigned char* cp, const unsigned char* dop, unsigned int ind,
                 double* P, double* L, float* D) {
  *P = (ind & 1) ? R8(pr) : 0.0;
  if (!within(*P, MAX_PR)) *P = 0.0;
  *L = (ind & 4) ? R8(cp) : 0.0;
  if (!std::isfinite(*L)) *L = 0.0;
  *L -= std::floor((*L + LFOLD) / (2.0 * LFOLD)) * 2.0 * LFOLD;
  if (!(*L >= -LFOLD && *L < LFOLD)) *L = 0.0;
  *D = (ind & 2) ? R4(dop) : 0.0f;
  if (!within(*D, MAX_DOPPLER)) *D = 0.0f;
}

int crvraw_sat(int code, int* sys) {
  if (code >= 1 && code <= 32) {
    *sys = SYS_GPS;
    return satno(SYS_GPS, code);
  }
  if (code >= 33 && code <= 51) {
    *sys = SYS_SBS;
    return satno(SYS_SBS, code);
  }
  if (code >= 65 && code <= 88) {
    *sys = SYS_GLO;
    return satno(SYS_GLO, code - 64);
  }
  if (code == 193) {
    *sys = SYS_QZS;
    return satno(SYS_QZS, code);
  }
  *sys = code == 200 ? SYS_CMP : SYS_NONE;
  return 0;
}

int decode_crvraw(crv_t* raw, const unsigned char* p, int n) {
  if (n < RAW_HDR) {
    ++raw->drops.short_msg;
    return -1;
  }
  const int iod = p[1];
  if (iod != raw->iod) {
    ++raw->drops.iod_mismatch;
    return -1;
  }
  if (raw->rcv_is_rover)
    RTK_RAW_set_rover_crvraw_iod(iod);
  else
    RTK_RAW_set_base_crvraw_iod(iod);
  const int m = p[2] < MAXOBS ? p[2] : static_cast<int>(MAXOBS);
  if (n < RAW_HDR + RAW_REC * m) {
    ++raw->drops.short_msg;
    return -1;
  }
  const int navsys = RTK_get_navsys();
  raw->nobs = 0;
  for (int k = 0; k < m; ++k) {
    const unsigned char* r = p + RAW_HDR + RAW_REC * k;
    int sys = SYS_NONE;
    const int sat = crvraw_sat(r[0], &sys);
    if (sat == 0) {
      if (sys == SYS_NONE) ++raw->drops.bad_sat;
      continue;
    }
    if (!(sys & navsys)) continue;
    const unsigned int ind = r[22];
    double P, L;
    float D;
    meas_values(r + 2, r + 10, r + 18, ind, &P, &L, &D);
    obsd_t* o = add_obs(raw, sat, r[1], P, L, D);
    raw->lockt[sat - 1][0] = (ind & 8) ? 1.0 : 0.0;
    if (L != 0.0) {
      o->LLI[0] = static_cast<unsigned char>(raw->lockt[sat - 1][0]);
      if (ind & 0x40) o->LLI[0] |= 0x40;
      raw->lockt[sat - 1][0] = 0.0;
    }
  }
  return CRV_ID_RAW;
}

int epoch_type(unsigned int indicator, unsigned int tow_ms, unsigned int period_ms) {
  if (!(indicator & 1)) return RTK_INTEGER_MEAS_EPOCH;
  const unsigned int t = tow_ms % 1000;
  if (t == 0) return RTK_GEOTAGGING_AND_INTEGER_MEAS_EPOCH;
  if (t == 500 && period_ms != 0 && 500 % period_ms == 0) return RTK_GEOTAGGING_AND_INTEGER_MEAS_EPOCH;
  return RTK_GEOTAGGING;  // also a half second with an unknown (0) period
}

// Epoch header of an extended raw message: time, epoch type and IODs; then
// the subframes that waited for the epoch week are decoded.
void start_extraw_epoch(crv_t* raw, const unsigned char* p) {
  const int iod = p[2];
  const int week = static_cast<int>(U2(p + 3));
  const unsigned int tow_ms = U4(p + 5);
  const unsigned int period = U2(p + 9);
  set_epoch_time(raw, iod, week, tow_ms, period);
  raw->meas_period_in_ms = static_cast<U16>(epoch_type(p[11], tow_ms, period));
  if (raw->rcv_is_rover) {
    RTCM3_update_rover_time(week, tow_ms * 0.001);
    RTK_RAW_set_rover_crvtime_iod(iod);
    RTK_RAW_set_rover_crvraw_iod(iod);
  } else {
    RTK_RAW_set_base_crvtime_iod(iod);
    RTK_RAW_set_base_crvraw_iod(iod);
  }
  decode_pending(raw);
}

// System of an extended raw record (low 4 bits of its first byte), SYS_NONE
// for an unknown one. SBAS PRN 120..138 becomes the engine's number 33..51.
int extraw_sys(unsigned char gnss_type, int* prn) {
  switch (gnss_type & 15) {
    case 0:
      return SYS_GPS;
    case 1:
      *prn -= 87;
      return SYS_SBS;
    case 2:
      return SYS_GLO;
    case 3:
      return SYS_GAL;
    case 4:
      return SYS_QZS;
    case 5:
      return SYS_CMP;
    default:
      return SYS_NONE;
  }
}

// One extended raw record (EXTRAW_REC bytes at r) into the epoch.
void add_extraw_record(crv_t* raw, const unsigned char* r, int navsys) {
  int prn = r[1];
  const int sys = extraw_sys(r[0], &prn);
  if (sys == SYS_NONE) {
    ++raw->drops.bad_sat;
    return;
  }
  if (!(sys & navsys)) return;
  const int sat = satno(sys, prn);
  if (sat == 0) {
    if (sys != SYS_GAL && sys != SYS_CMP) ++raw->drops.bad_sat;
    return;
  }
  const unsigned int ind = U2(r + 27);
  double P, L;
  float D;
  meas_values(r + 4, r + 12, r + 20, ind, &P, &L, &D);
  unsigned char lli = 0;
  if (L != 0.0) {
    if (ind & 8)
      lli |= 1;
    else if (ind & 0x20)
      return;  // phase not yet usable
    if (ind & 0x4000) lli |= 0x40;
  }
  if (sys == SYS_GLO) {
    const int k_num = (r[2] & 15) - 7;
    if (k_num >= -7 && k_num <= 6) RTK_set_glonass_freq_num(static_cast<U08>(prn), static_cast<S08>(k_num));
  }
  obsd_t* o = add_obs(raw, sat, r[3], P, L, D);
  o->LLI[0] = lli;
}

int decode_crvextraw(crv_t* raw, const unsigned char* p, int n) {
  if (n < EXTRAW_HDR) {
    ++raw->drops.short_msg;
    return -1;
  }
  start_extraw_epoch(raw, p);
  const int m = p[13] < MAXOBS ? p[13] : static_cast<int>(MAXOBS);
  if (n < EXTRAW_HDR + EXTRAW_REC * m) {
    ++raw->drops.short_msg;
    return -1;
  }
  const int navsys = RTK_get_navsys();
  raw->nobs = 0;
  for (int k = 0; k < m; ++k) add_extraw_record(raw, p + EXTRAW_HDR + EXTRAW_REC * k, navsys);
  return CRV_ID_EXTRAW;
}

int decode_crvrcv(crv_t* raw, const unsigned char* p, int n) {
  if (!raw->has_epoch_time) return 0;
  if (n < RCV_LEN) {
    ++raw->drops.short_msg;
    return -1;
  }
  const int iod = p[1];
  if (iod != raw->iod) {
    ++raw->drops.iod_mismatch;
    return -1;
  }
  const double x = R8(p + 13), y = R8(p + 21), z = R8(p + 29), cb = R8(p + 49);
  const float vx = R4(p + 37), vy = R4(p + 41), vz = R4(p + 45);
  if (!within(x, MAX_POS) || !within(y, MAX_POS) || !within(z, MAX_POS) || !within(vx, MAX_VEL) ||
      !within(vy, MAX_VEL) || !within(vz, MAX_VEL) || !within(cb, MAX_CBIAS)) {
    ++raw->drops.bad_value;
    return -1;
  }
  if (raw->rcv_is_rover) {
    RTK_RAW_update_rover_cbias(cb);
    RTK_RAW_set_rover_crvrcv_iod(iod);
  } else {
    RTK_RAW_update_base_pos_xyz(x, y, z);
    RTK_RAW_update_base_vel_xyz(vx, vy, vz);
    RTK_RAW_update_base_cbias(cb);
    RTK_RAW_set_base_crvrcv_iod(iod);
  }
  Has_parse_base_pos = 1;
  return CRV_ID_RCV;
}

int decode_crvbds(crv_t* raw, const unsigned char* p, int n) {
  if (!raw->rcv_is_rover) return 0;
  if (n < BDS_LEN) {
    ++raw->drops.short_msg;
    return -1;
  }
  // The satellite table holds no BeiDou satellite: counted, no ephemeris.
  if (p[0] == CRV_ID_BDS_D1)
    ++raw->dbg_acc_msg_bd2_d1_cnt;
  else
    ++raw->dbg_acc_msg_bd2_d2_cnt;
  return p[0];
}

int decode_crvsbastype9(crv_t* raw, const unsigned char* p, int n) {
  if (!raw->rcv_is_rover) return 0;
  if (n < SBAS_LEN) {
    ++raw->drops.short_msg;
    return -1;
  }
  const int sat = satno(SYS_SBS, p[1]);
  if (sat == 0) {
    ++raw->drops.bad_sat;
    return -1;
  }
  if (p[2] != 9) return 0;
  const int week = S2(p + 4);
  const int tow = S4(p + 6);
  const int t0 = S4(p + 10);
  seph_t seph{};
  bool ok = week >= 0 && tow >= 0 && tow < 604800 && t0 >= 0 && t0 <= 86400;
  for (int i = 0; i < 3; ++i) {
    seph.pos[i] = R8(p + 15 + 8 * i);
    seph.vel[i] = R8(p + 39 + 8 * i);
    seph.acc[i] = R8(p + 63 + 8 * i);
    ok = ok && within(seph.pos[i], MAX_POS) && within(seph.vel[i], MAX_VEL) && within(seph.acc[i], 1.0);
  }
  seph.af0 = R8(p + 87);
  seph.af1 = R8(p + 95);
  ok = ok && within(seph.af0, 1.0) && within(seph.af1, 1.0);
  if (!ok) {
    ++raw->drops.bad_value;
    return -1;
  }
  int d = t0 - tow % 86400;
  if (d < -43199)
    d += 86400;
  else if (d > 43200)
    d -= 86400;
  seph.sat = sat;
  seph.t0 = gpst2time(week, tow + d);
  seph.tof = gpst2time(week, tow);
  seph.sva = p[14];
  seph.svh = p[14] == 15 ? 1 : 0;
  RTK_input_seph(&seph);
  ++raw->dbg_acc_msg_sbas_type9_cnt;
  return CRV_ID_SBAS;
}

void hand_over(crv_t* raw) {
  ++raw->epochs;
  if (raw->rcv_is_rover) {
    RTK_RAW_update_rover_meas(raw->obs, raw->nobs);
    Has_update_rover_meas = 1;
    Crv_r_time = raw->time;
  } else {
    RTK_RAW_update_base_meas(raw->obs, raw->nobs);
    Has_update_base_meas = Has_parse_base_meas = 1;
    Crv_b_time = raw->time;
  }
  raw->lock = 1;
}

int decode_crv(crv_t* raw) {
  const int n = raw->len - FRAME_OVERHEAD;  // payload length
  const unsigned char* p = raw->buff + 4;
  if (checksum(p, n) != p[n] || p[n + 1] != 0x0D || p[n + 2] != 0x0A) {
    ++raw->dbg_acc_msg_cs_err_cnt;
    ++DBG_CS_ERR;
    return -2;
  }
  if (n < 1) {
    ++raw->dbg_acc_msg_length_err_cnt;
    return -1;
  }
  ++raw->good_frames;
  int ret = 0;
  switch (p[0]) {
    case CRV_ID_TIME:
      return decode_crvtime(raw, p, n);
    case CRV_ID_RAW:
      if (!raw->has_epoch_time) return 0;
      ret = decode_crvraw(raw, p, n);
      if (ret == CRV_ID_RAW) {
        hand_over(raw);
        raw->dbg_acc_msg_raw_cnt += static_cast<unsigned int>(raw->nobs);
      }
      return ret;
    case CRV_ID_RCV:
      return decode_crvrcv(raw, p, n);
    case CRV_ID_GPS_SF:
      return decode_crvgps(raw, p, n);
    case CRV_ID_GLO_STR:
      return decode_crvglo(raw, p, n);
    case CRV_ID_BDS_D1:
    case CRV_ID_BDS_D2:
      return decode_crvbds(raw, p, n);
    case CRV_ID_SBAS:
      return decode_crvsbastype9(raw, p, n);
    case CRV_ID_EXTRAW:
      ret = decode_crvextraw(raw, p, n);
      if (ret == CRV_ID_EXTRAW) {
        hand_over(raw);
        raw->dbg_acc_msg_ext_raw_cnt += static_cast<unsigned int>(raw->nobs);
      }
      return ret;
    default:
      return 0;  // 0xDE and ids outside 0xDC..0xE5
  }
}

int input_crv(crv_t* raw, unsigned char data) {
  ++raw->dbg_acc_bytes;
  if (raw->nbyte == 0) {
    raw->buff[0] = raw->buff[1];
    raw->buff[1] = data;
    if (raw->buff[0] == SYNC1 && raw->buff[1] == SYNC2) raw->nbyte = 2;
    return 0;
  }
  raw->buff[raw->nbyte] = data;
  raw->nbyte = raw->nbyte + 1;
  if (raw->nbyte == 4) {
    raw->len = static_cast<int>(U2(raw->buff + 2)) + FRAME_OVERHEAD;
    if (raw->len > CRV_MAX_FRAME) {
      ++raw->dbg_acc_msg_length_err_cnt;
      raw->framed_bytes += 4;
      raw->nbyte = 0;
      raw->buff[1] = 0;
      return -1;
    }
  }
  if (raw->nbyte < 4 || raw->nbyte < raw->len) return 0;
  raw->framed_bytes += static_cast<unsigned int>(raw->len);
  raw->nbyte = 0;
  raw->buff[1] = 0;  // the next frame needs its own sync bytes
  return decode_crv(raw);
}

void init_crv(crv_t* raw, int is_rover) {
  std::memset(raw, 0, sizeof *raw);
  raw->rcv_is_rover = is_rover;
}

void status_of(const crv_t* raw, int* dbg) {
  const unsigned int c[11] = {raw->dbg_acc_bytes,
                              raw->dbg_acc_msg_ext_raw_cnt,
                              raw->dbg_acc_msg_time_cnt,
                              raw->dbg_acc_msg_raw_cnt,
                              raw->dbg_acc_msg_gps_sf_cnt,
                              raw->dbg_acc_msg_glo_string,
                              raw->dbg_acc_msg_bd2_d1_cnt,
                              raw->dbg_acc_msg_bd2_d2_cnt,
                              raw->dbg_acc_msg_sbas_type9_cnt,
                              raw->dbg_acc_msg_length_err_cnt,
                              raw->dbg_acc_msg_cs_err_cnt};
  for (int i = 0; i < 11; ++i) dbg[i] = static_cast<int>(c[i]);
}

// Files are read by one thread only: getc_unlocked spares a stream lock per byte.
void process_rover_crvraw_file(std::FILE* fp) {
  while (!Has_update_rover_meas) {
    const int c = getc_unlocked(fp);
    if (c == EOF) break;
    input_crv(&crv_r, static_cast<unsigned char>(c));
  }
}

// Reads the base file until it has delivered an epoch at or after the rover
// time (within RTK_RAW_PAIR_TOL) and the base position: the raw buffers then
// hold the base epochs on both sides of the rover epoch, and the engine pairs
// it with the nearest. A base epoch ahead of the rover stays for later rover
// epochs.
// A base position given from outside (the raw buffers hold one) serves as well.
bool base_pos_known() { return Has_parse_base_pos || RTK_RAW_get_raw_base_valid() != 0; }

void process_base_crvraw_file(std::FILE* fp) {
  // The pairing state changes only with a decoded frame: it is looked at after
  // the first byte and after each frame.
  bool look = true;
  while (!(Has_update_base_meas && Has_parse_base_meas && base_pos_known())) {
    const int c = getc_unlocked(fp);
    if (c == EOF) break;
    const unsigned int framed = crv_b.framed_bytes;
    input_crv(&crv_b, static_cast<unsigned char>(c));
    look = look || crv_b.framed_bytes != framed;
    if (!look) continue;
    look = false;
    if (!(Has_parse_base_meas && base_pos_known())) continue;
    const double age = timediff(Crv_r_time, Crv_b_time);
    if (age <= RTK_RAW_PAIR_TOL) {  // at or after the rover epoch
      Has_update_base_meas = 1;
      break;
    }
    // The base lags: read on, also when its epoch came before the base position.
    if (Has_update_base_meas) Has_update_base_meas = 0;
  }
}

// RTCM 3 frame search: 0xD3, 6 reserved bits (zero), 10-bit length N, N
// bytes, CRC-24Q of the 3 + N bytes before it.
void sniff_rtcm3(CRV_SNIFF_T* s, unsigned char b) {
  if (s->nbyte == 0 && b != RTCM3_PREAMBLE) return;
  s->buff[s->nbyte++] = b;
  if (s->nbyte == 3) {
    s->len = static_cast<int>(((s->buff[1] & 3U) << 8) | s->buff[2]) + 6;
    if ((s->buff[1] & 0xFCU) != 0) s->nbyte = 0;
    return;
  }
  if (s->nbyte < 3 || s->nbyte < s->len) return;
  if (crc24q(s->buff, s->len - 3) == getbitu(s->buff, (s->len - 3) * 8, 24)) ++s->frames;
  s->nbyte = 0;
}

// CRVRAW frame search: sync bytes, length, payload, checksum and end bytes.
void sniff_crvraw(CRV_SNIFF_T* s, unsigned char b) {
  const unsigned char prev = s->prev;
  s->prev = b;
  if (s->nbyte == 0) {
    if (prev == SYNC1 && b == SYNC2) {
      s->buff[0] = SYNC1;
      s->buff[1] = SYNC2;
      s->nbyte = 2;
      s->prev = 0;  // the next frame needs its own sync bytes
    }
    return;
  }
  s->buff[s->nbyte++] = b;
  if (s->nbyte == 4) {
    s->len = static_cast<int>(U2(s->buff + 2)) + FRAME_OVERHEAD;
    if (s->len > CRV_MAX_FRAME || s->len == FRAME_OVERHEAD) s->nbyte = 0;
    return;
  }
  if (s->nbyte < 4 || s->nbyte < s->len) return;
  const int n = s->len - FRAME_OVERHEAD;
  const unsigned char* p = s->buff + 4;
  if (checksum(p, n) == p[n] && p[n + 1] == 0x0D && p[n + 2] == 0x0A) ++s->frames;
  s->nbyte = 0;
}

}  // namespace

void CRV_init() {
  init_crv(&crv_r, 1);
  init_crv(&crv_b, 0);
  std::memset(&CRV_rb, 0, sizeof CRV_rb);
  Crv_r_time = Crv_b_time = gtime_t{};
  Has_update_rover_meas = Has_update_base_meas = Has_parse_base_meas = Has_parse_base_pos = 0;
  Pp_stream_type = 0;
  DBG_CS_ERR = 0;
  CRV_DBG_R = CRV_DBG_B = 0;
  Recorder_drops = 0;
  std::memset(&Sniff, 0, sizeof Sniff);
}

int CRV_process_rover(int len, char* buf) {
  for (int i = 0; i < len; ++i) input_crv(&crv_r, static_cast<unsigned char>(buf[i]));
  return 1;
}

int CRV_process_base(int len, char* buf) {
  for (int i = 0; i < len; ++i) input_crv(&crv_b, static_cast<unsigned char>(buf[i]));
  return 1;
}

U08 CRV_process_file(std::FILE* fp_r_bin, std::FILE* fp_b_bin) {
  process_rover_crvraw_file(fp_r_bin);
  if (!Has_update_rover_meas) return 0;
  // The engine dropped a base epoch left ahead of a rover whose time went back: read a new one.
  if (RTK_RAW_get_base_dropped()) Has_parse_base_meas = 0;
  if (!(Has_parse_base_meas && base_pos_known() && timediff(Crv_r_time, Crv_b_time) <= RTK_RAW_PAIR_TOL)) {
    process_base_crvraw_file(fp_b_bin);
  }
  Has_update_rover_meas = 0;
  Has_update_base_meas = 0;
  return 1;
}

int CRV_read_rover_file_epoch(std::FILE* fp_r_bin, gtime_t* time_p) {
  process_rover_crvraw_file(fp_r_bin);
  if (!Has_update_rover_meas) return 0;
  Has_update_rover_meas = 0;
  *time_p = Crv_r_time;
  return 1;
}

void CRV_read_base_file_for(std::FILE* fp_b_bin, gtime_t rover_time) {
  Crv_r_time = rover_time;
  if (RTK_RAW_get_base_dropped()) Has_parse_base_meas = 0;  // as in CRV_process_file
  if (!(Has_parse_base_meas && base_pos_known() && timediff(Crv_r_time, Crv_b_time) <= RTK_RAW_PAIR_TOL)) {
    process_base_crvraw_file(fp_b_bin);
  }
  Has_update_base_meas = 0;
}

int CRV_print_status() { return 1; }

int CRV_get_rover_status(int* dbg) {
  status_of(&crv_r, dbg);
  return 1;
}

int CRV_get_base_status(int* dbg) {
  status_of(&crv_b, dbg);
  return 1;
}

void CRV_get_drops(int is_rover, CRV_DROPS_T* drops) { *drops = is_rover ? crv_r.drops : crv_b.drops; }
void CRV_get_frames(int is_rover, CRV_FRAMES_T* frames) {
  const crv_t& raw = is_rover ? crv_r : crv_b;
  const unsigned int held = static_cast<unsigned int>(raw.nbyte);  // bytes of the frame being collected
  const unsigned int used = raw.framed_bytes + held;
  *frames = CRV_FRAMES_T{raw.good_frames,
                         raw.dbg_acc_msg_cs_err_cnt,
                         raw.dbg_acc_msg_length_err_cnt,
                         raw.epochs,
                         raw.dbg_acc_bytes > used ? raw.dbg_acc_bytes - used : 0,
                         held};
}
unsigned int CRV_get_cs_err_count() { return DBG_CS_ERR; }

int CRV_get_rover_time(gtime_t* time_p) {
  if (!crv_r.has_epoch_time) return 0;
  *time_p = crv_r.time;
  return 1;
}

int CRV_get_base_time(gtime_t* time_p) {
  if (!crv_b.has_epoch_time) return 0;
  *time_p = crv_b.time;
  return 1;
}

void CRV_set_post_processing_stream_type(unsigned char type) { Pp_stream_type = type; }

int CRV_post_processing(unsigned char data) {
  CRV_PP_T* rb = &CRV_rb;
  if (rb->nbyte == 0) {
    rb->buff[0] = rb->buff[1];
    rb->buff[1] = rb->buff[2];
    rb->buff[2] = rb->buff[3];
    rb->buff[3] = data;
    if (std::memcmp(rb->buff, REC_BASE, 4) == 0) {
      rb->is_rover = 0;
      rb->nbyte = 4;
    } else if (std::memcmp(rb->buff, REC_ROVER, 4) == 0) {
      rb->is_rover = 1;
      rb->nbyte = 4;
    }
    return 0;
  }
  rb->buff[rb->nbyte++] = data;
  if (rb->nbyte == REC_HDR) {
    rb->len = static_cast<int>(U2(rb->buff + 4));
    if (rb->len > CRV_MAX_FRAME - REC_HDR) {  // cannot be held: drop the record, look for the next marker
      ++Recorder_drops;
      rb->nbyte = 0;
      std::memset(rb->buff, 0, 4);
      return 0;
    }
  }
  if (rb->nbyte < REC_HDR || rb->nbyte < rb->len + REC_HDR) return 0;
  char* chunk = reinterpret_cast<char*>(rb->buff + REC_HDR);
  if (rb->is_rover) {
    CRV_process_rover(rb->len, chunk);
    CRV_DBG_R += rb->len;
  } else {
    if (Pp_stream_type == 1)
      RTCM3_process_base(rb->len, chunk);
    else
      CRV_process_base(rb->len, chunk);
    for (int i = 0; i < rb->len; ++i) {
      if (Pp_stream_type == 1)
        sniff_crvraw(&Sniff, rb->buff[REC_HDR + i]);
      else
        sniff_rtcm3(&Sniff, rb->buff[REC_HDR + i]);
    }
    CRV_DBG_B += rb->len;
  }
  rb->nbyte = 0;
  std::memset(rb->buff, 0, 4);
  return 1;
}

unsigned int CRV_get_recorder_drops() { return Recorder_drops; }
unsigned int CRV_get_recorder_other_format_frames() { return Sniff.frames; }
