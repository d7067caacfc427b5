// Ephemeris store: subframe 1..3 decoding, confirmation, backup records and
// the IS-GPS-200 satellite orbit and clock computation.
#include "kernel/src/ephemeris.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "kernel/src/almanac.h"
#include "kernel/src/backup_layout.h"
#include "misc/crc16.h"
#include "misc/endian_swap.h"

static_assert(sizeof(EPH_S) == EPH_RECORD_SIZE, "EPH_S is the 128-byte backup record");
static_assert(offsetof(EPH_S, prn) == 56 && offsetof(EPH_S, valid) == 64 && offsetof(EPH_S, AODO) == 66 &&
              offsetof(EPH_S, Crs) == 68 && offsetof(EPH_S, toc) == 116 && offsetof(EPH_S, URA) == 124 &&
              offsetof(EPH_S, valid_check_count) == 127);

namespace {

constexpr D64 GPS_PI = 3.1415926535898;  // the value IS-GPS-200 prescribes
constexpr D64 TWO_PI = 6.2831853071796;
constexpr D64 REL_F = -4.442807633e-10;  // relativistic constant F, s/m^1/2
constexpr S32 WEEK_S = 604800;
// Largest orbit radius a broadcast record can describe: sqrt(A) at most
// 8192 m^1/2 (A 6.7e7 m) with e below 0.5 (1e8 m); anything beyond comes
// from a corrupted store and gives no position.
constexpr D64 MAX_ORBIT_RADIUS_M = 2.0e8;
constexpr D64 MAX_ORBIT_SPEED_MPS = 2.0e4;  // ECEF speed: orbital plus Earth rotation, with a wide margin
constexpr S32 HALF_WEEK_S = 302400;
constexpr U32 CRC_AREA = EPH_N_RECORDS * EPH_RECORD_SIZE;  // CRC words follow the records

std::array<EPH_S, EPH_N_RECORDS> Eph{};
U08* Region = nullptr;
U32 Piece_offset = 0;

// --- backup region -------------------------------------------------------------

U08* record_bytes(std::size_t idx) { return Region + Piece_offset + idx * EPH_RECORD_SIZE; }
U08* crc_bytes(std::size_t idx) { return Region + Piece_offset + CRC_AREA + idx * BACKUP_CRC_SIZE; }

std::size_t index_of(const EPH_S* eph) { return static_cast<std::size_t>(eph - Eph.data()); }

// Write the working record through to the region with its CRC (0 for an invalid record).
void store(const EPH_S* eph) {
  if (Region == nullptr) return;
  const std::size_t idx = index_of(eph);
  std::memcpy(record_bytes(idx), eph, EPH_RECORD_SIZE);
  U16 crc = 0;
  if (eph->valid == 1) crc = crc16(record_bytes(idx), EPH_RECORD_SIZE);
  std::memcpy(crc_bytes(idx), &crc, sizeof crc);
}

// Widths of the record's fields in order (byte-order conversion).
struct Field {
  U32 offset;
  U32 size;
};
constexpr std::array<Field, 32> EPH_FIELDS{
    {{0, 8},   {8, 8},   {16, 8},  {24, 8},  {32, 8},  {40, 8},  {48, 8},  {56, 2},  {58, 2},  {60, 2}, {62, 2},
     {64, 1},  {65, 1},  {66, 2},  {68, 4},  {72, 4},  {76, 4},  {80, 4},  {84, 4},  {88, 4},  {92, 4}, {96, 4},
     {100, 4}, {104, 4}, {108, 4}, {112, 4}, {116, 4}, {120, 4}, {124, 1}, {125, 1}, {126, 1}, {127, 1}}};

void reverse(U08* p, U32 n) {
  for (U32 i = 0; i < n / 2; ++i) {
    const U08 t = p[i];
    p[i] = p[n - 1 - i];
    p[n - 1 - i] = t;
  }
}

// A record written in the other byte order: convert it in place; a record
// whose CRC matched before the swap (it was in the other order) gets its CRC
// recomputed, anything else gets CRC 0 (invalid).
void convert_record(std::size_t idx) {
  U08* rec = record_bytes(idx);
  U08* crc_p = crc_bytes(idx);
  const U16 crc_before = crc16(rec, EPH_RECORD_SIZE);
  reverse(crc_p, 2);
  U16 stored = 0;
  std::memcpy(&stored, crc_p, sizeof stored);
  for (const Field& f : EPH_FIELDS) reverse(rec + f.offset, f.size);
  U16 crc = 0;
  if (stored != 0 && stored == crc_before) crc = crc16(rec, EPH_RECORD_SIZE);
  std::memcpy(crc_p, &crc, sizeof crc);
}

// --- subframe fields -----------------------------------------------------------

// n bits of a word from data bit Dfirst (D1 at bit 29 .. D24 at bit 6).
U32 bits(U32 word, int first, int n) { return (word >> (31 - first - n)) & ((1U << n) - 1U); }
S32 sbits(U32 v, int n) {
  const U32 sign = 1U << (n - 1);
  return static_cast<S32>((v ^ sign)) - static_cast<S32>(sign);
}
// 32-bit field: the high 8 bits from D17..D24 of word hi, the low 24 from word lo.
U32 bits32(U32 hi, U32 lo) { return (bits(hi, 17, 8) << 24) | bits(lo, 1, 24); }
S32 sbits32(U32 hi, U32 lo) {
  const U32 v = bits32(hi, lo);
  S32 s = 0;
  std::memcpy(&s, &v, sizeof s);
  return s;
}

// The fields of subframes 1..3 (sf[k] = subframe k+1) into out; WN still the
// broadcast week, prn, flags and data_source left for the caller.
void decode(const U32 (*sf)[10], EPH_S* out) {
  const U32* s1 = sf[0];
  const U32* s2 = sf[1];
  const U32* s3 = sf[2];
  out->WN = static_cast<S16>(bits(s1[2], 1, 10));
  out->URA = static_cast<U08>(bits(s1[2], 13, 4));
  out->health = static_cast<U08>(bits(s1[2], 17, 6));
  out->IODC = static_cast<S16>((bits(s1[2], 23, 2) << 8) | bits(s1[7], 1, 8));
  out->TGD = static_cast<F32>(std::ldexp(sbits(bits(s1[6], 17, 8), 8), -31));
  out->toc = static_cast<S32>(bits(s1[7], 9, 16)) * 16;
  out->af2 = static_cast<F32>(std::ldexp(sbits(bits(s1[8], 1, 8), 8), -55));
  out->af1 = static_cast<F32>(std::ldexp(sbits(bits(s1[8], 9, 16), 16), -43));
  out->af0 = static_cast<F32>(std::ldexp(sbits(bits(s1[9], 1, 22), 22), -31));

  out->IODE = static_cast<S16>(bits(s2[2], 1, 8));
  out->Crs = static_cast<F32>(std::ldexp(sbits(bits(s2[2], 9, 16), 16), -5));
  out->delta_n = static_cast<F32>(std::ldexp(sbits(bits(s2[3], 1, 16), 16), -43) * GPS_PI);
  out->M0 = std::ldexp(sbits32(s2[3], s2[4]), -31) * GPS_PI;
  out->Cuc = static_cast<F32>(std::ldexp(sbits(bits(s2[5], 1, 16), 16), -29));
  out->e = std::ldexp(static_cast<D64>(bits32(s2[5], s2[6])), -33);
  out->Cus = static_cast<F32>(std::ldexp(sbits(bits(s2[7], 1, 16), 16), -29));
  const D64 sqrt_a = std::ldexp(static_cast<D64>(bits32(s2[7], s2[8])), -19);
  out->A = sqrt_a * sqrt_a;
  out->toe = static_cast<S32>(bits(s2[9], 1, 16)) * 16;
  out->AODO = static_cast<U16>(bits(s2[9], 18, 5) * 900U);

  out->Cic = static_cast<F32>(std::ldexp(sbits(bits(s3[2], 1, 16), 16), -29));
  out->Omega_0 = std::ldexp(sbits32(s3[2], s3[3]), -31) * GPS_PI;
  out->Cis = static_cast<F32>(std::ldexp(sbits(bits(s3[4], 1, 16), 16), -29));
  out->i0 = std::ldexp(sbits32(s3[4], s3[5]), -31) * GPS_PI;
  out->Crc = static_cast<F32>(std::ldexp(sbits(bits(s3[6], 1, 16), 16), -5));
  out->omega = std::ldexp(sbits32(s3[6], s3[7]), -31) * GPS_PI;
  out->Omega_dot = std::ldexp(sbits(bits(s3[8], 1, 24), 24), -43) * GPS_PI;
  out->IDOT = static_cast<F32>(std::ldexp(sbits(bits(s3[9], 9, 14), 14), -43) * GPS_PI);
}

// Week correction: the broadcast week is the week of transmission; make WN
// the week of toe (HOW TOW count of subframe 1, 6 s units, is the start of
// the next subframe), modulo 1024.
void correct_week(EPH_S* eph, const U32* sf1) {
  S32 t_sf1 = static_cast<S32>(bits(sf1[1], 1, 17)) * 6 - 6;
  if (t_sf1 < 0) t_sf1 += WEEK_S;
  const S32 d = eph->toe - t_sf1;
  S32 wn = eph->WN;
  if (d < -HALF_WEEK_S) ++wn;
  if (d > HALF_WEEK_S) --wn;
  eph->WN = static_cast<S16>(((wn % 1024) + 1024) % 1024);
}

// Every decoded field equal (floats exactly; a NaN never matches).
bool same_fields(const EPH_S& a, const EPH_S& b) {
  return a.M0 == b.M0 && a.e == b.e && a.A == b.A && a.Omega_0 == b.Omega_0 && a.i0 == b.i0 && a.omega == b.omega &&
         a.Omega_dot == b.Omega_dot && a.IODC == b.IODC && a.IODE == b.IODE && a.WN == b.WN && a.AODO == b.AODO &&
         a.Crs == b.Crs && a.Cuc == b.Cuc && a.Cus == b.Cus && a.Cic == b.Cic && a.Cis == b.Cis && a.Crc == b.Crc &&
         a.delta_n == b.delta_n && a.IDOT == b.IDOT && a.TGD == b.TGD && a.af0 == b.af0 && a.af1 == b.af1 &&
         a.af2 == b.af2 && a.toc == b.toc && a.toe == b.toe && a.URA == b.URA && a.health == b.health;
}

// --- orbit -----------------------------------------------------------------------

bool finite_record(const EPH_S& r) {
  const std::array<D64, 19> v{r.M0,  r.e,   r.A,   r.Omega_0, r.i0,   r.omega, r.Omega_dot, r.Crs, r.Cuc, r.Cus,
                              r.Cic, r.Cis, r.Crc, r.delta_n, r.IDOT, r.TGD,   r.af0,       r.af1, r.af2};
  for (D64 x : v)
    if (!std::isfinite(x)) return false;
  return true;
}

// A record whose orbit can be computed: finite, A > 0, 0 <= e < 1.
bool orbit_ok(const EPH_S& r) { return finite_record(r) && r.A > 0.0 && r.e >= 0.0 && r.e < 1.0; }

bool time_ok(const EPH_S& r, D64 tk, D64 late_limit) {
  if (r.data_source == 1) return std::fabs(tk) <= 7380.0;
  return tk <= late_limit && tk >= -10800.0;
}

// Eccentric anomaly from mean anomaly mk by Newton iteration (at most 20
// steps, stop below 1e-10 rad); *denom gets the last 1 - e cos E.
D64 kepler(D64 mk, D64 e, D64* denom) {
  D64 ek = mk;
  D64 den = 1.0;
  for (int i = 0; i < 20; ++i) {
    const D64 ep = std::fmod(ek, TWO_PI);
    den = 1.0 - e * std::cos(ep);
    const D64 step = (ek - e * std::sin(ep) - mk) / den;
    ek -= step;
    if (std::fabs(step) < 1e-10) break;
  }
  *denom = den;
  return ek;
}

struct OrbitState {
  std::array<D64, 3> pos;  // m
  std::array<D64, 3> vel;  // m/s
  D64 ek;                  // eccentric anomaly, rad
};

// Position and velocity at tk s from toe (IS-GPS-200 user algorithm with its
// analytic time derivative).
OrbitState orbit(const EPH_S& r, D64 tk, U16 refsys, D64 mu, D64 we) {
  const D64 n0 = std::sqrt(mu / (r.A * r.A * r.A));
  const D64 n = n0 + static_cast<D64>(r.delta_n);
  const D64 mk = r.M0 + n * tk;
  D64 den = 1.0;
  const D64 ek = kepler(mk, r.e, &den);
  const D64 sin_e = std::sin(ek);
  const D64 cos_e = std::cos(ek);
  const D64 sq = std::sqrt(1.0 - r.e * r.e);
  D64 v = std::atan2(sq * sin_e, cos_e - r.e);
  if (v < 0.0) v += TWO_PI;
  const D64 phi = v + r.omega;
  const D64 s2 = std::sin(2.0 * phi);
  const D64 c2 = std::cos(2.0 * phi);
  const D64 cus = r.Cus, cuc = r.Cuc, crs = r.Crs, crc = r.Crc, cis = r.Cis, cic = r.Cic;
  const D64 u = phi + cus * s2 + cuc * c2;
  const D64 rr = r.A * (1.0 - r.e * cos_e) + crs * s2 + crc * c2;
  const D64 ii = r.i0 + cis * s2 + cic * c2 + static_cast<D64>(r.IDOT) * tk;
  const D64 node_rate = refsys == 0 ? r.Omega_dot - we : r.Omega_dot;
  const D64 om = std::fmod(r.Omega_0 + node_rate * tk - we * static_cast<D64>(r.toe), TWO_PI);

  const D64 e_dot = n / den;
  const D64 phi_dot = n * sq / (den * den);
  const D64 u_dot = phi_dot * (1.0 + 2.0 * (cus * c2 - cuc * s2));
  const D64 r_dot = r.A * r.e * sin_e * e_dot + 2.0 * phi_dot * (crs * c2 - crc * s2);
  const D64 i_dot = static_cast<D64>(r.IDOT) + 2.0 * phi_dot * (cis * c2 - cic * s2);

  const D64 cu = std::cos(u), su = std::sin(u);
  const D64 x = rr * cu, y = rr * su;
  const D64 x_dot = r_dot * cu - rr * su * u_dot;
  const D64 y_dot = r_dot * su + rr * cu * u_dot;
  const D64 co = std::cos(om), so = std::sin(om), ci = std::cos(ii), si = std::sin(ii);

  OrbitState s{};
  s.ek = ek;
  s.pos = {x * co - y * ci * so, x * so + y * ci * co, y * si};
  s.vel = {x_dot * co - y_dot * ci * so + y * si * i_dot * so - node_rate * s.pos[1],
           x_dot * so + y_dot * ci * co - y * si * i_dot * co + node_rate * s.pos[0], y_dot * si + y * ci * i_dot};
  return s;
}

bool finite3(const std::array<D64, 3>& v) { return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]); }

// A valid record seeds the satellite's almanac when that is below the
// ephemeris-derived level: the orbit in single precision, toa = toe, the
// week of toe (10 bits) and the health.
void seed_almanac(const EPH_S& e) {
  const auto prn = static_cast<S16>(index_of(&e) + 1);  // the slot's satellite, whatever the prn field holds
  const ALM_T alm = ALM_get_reference(prn);
  if (alm == nullptr || ALM_has_valid_data(alm) >= ALM_VLAID_FROM_EPH) return;
  ALM_IN_T in{};
  in.A = static_cast<F32>(e.A);
  in.Omega_0 = static_cast<F32>(e.Omega_0);
  in.omega = static_cast<F32>(e.omega);
  in.M0 = static_cast<F32>(e.M0);
  in.e = static_cast<F32>(e.e);
  in.i0 = static_cast<F32>(e.i0);
  in.Omega_dot = static_cast<F32>(e.Omega_dot);
  in.toa = e.toe;
  in.prn = prn;
  in.wna = static_cast<S16>(e.WN + 1024);
  in.health = e.health;
  ALM_set(prn, &in);
}

// Record usable for a computation at (wn, t): valid, computable, inside the window.
const EPH_S* usable(EPH_T eph) {
  if (eph == nullptr || eph->valid != 1 || !orbit_ok(*eph)) return nullptr;
  return eph;
}

}  // namespace

// --- store ---------------------------------------------------------------------------

S16 EPH_init_storage_address(U08* region_p, U32 offset) {
  Region = region_p;
  Piece_offset = offset;
  return static_cast<S16>(EPH_BACKUP_SIZE);
}

S16 EPH_init(U08* region_p) {
  if (region_p != nullptr) EPH_init_storage_address(region_p, 0);
  for (std::size_t i = 0; i < EPH_N_RECORDS; ++i) {
    EPH_S& r = Eph[i];
    r = EPH_S{};
    if (Region != nullptr) {
      if (ENDIAN_need_swap() != 0) convert_record(i);
      U16 crc = 0;
      std::memcpy(&crc, crc_bytes(i), sizeof crc);
      std::memcpy(&r, record_bytes(i), EPH_RECORD_SIZE);
      const bool keep =
          r.valid == 1 && crc != 0 && crc == crc16(record_bytes(i), EPH_RECORD_SIZE) && r.data_source != 1;
      if (!keep) {
        r = EPH_S{};
        r.prn = static_cast<S16>(i + 1);
        store(&r);
        continue;
      }
    }
    if (r.prn != static_cast<S16>(i + 1)) {
      r.prn = static_cast<S16>(i + 1);
      store(&r);
    }
    if (r.valid == 1) seed_almanac(r);
  }
  return static_cast<S16>(EPH_BACKUP_SIZE);
}

void EPH_clear_one(S16 prn) {
  EPH_T eph = EPH_get_reference(prn);
  if (eph == nullptr) return;
  eph->valid = 0;
  store(eph);
}

void EPH_clear_all() {
  for (S16 prn = 1; prn <= EPH_MAX_PRN; ++prn) EPH_clear_one(prn);
}

EPH_T EPH_get_reference(S16 prn) {
  if (prn < 1 || prn > EPH_MAX_PRN) return nullptr;
  return &Eph[static_cast<std::size_t>(prn - 1)];
}

S16 EPH_get_prn(EPH_T eph) { return eph == nullptr ? S16{0} : eph->prn; }
S16 EPH_get_wn(EPH_T eph) { return eph == nullptr ? S16{0} : eph->WN; }
S32 EPH_get_toe(EPH_T eph) { return eph == nullptr ? 0 : eph->toe; }

S16 EPH_get_data_source(S16 prn) {
  const EPH_T eph = EPH_get_reference(prn);
  return eph == nullptr ? S16{0} : S16{eph->data_source};
}

void EPH_set_data_source(S16 prn, S16 source) {
  EPH_T eph = EPH_get_reference(prn);
  if (eph == nullptr) return;
  eph->data_source = static_cast<S08>(source);
  store(eph);
}

S16 EPH_has_valid_data(EPH_T eph) { return eph != nullptr && eph->valid == 1 ? 1 : 0; }
S16 EPH_pass_valid_check(EPH_T eph) { return EPH_has_valid_data(eph) != 0 && eph->valid_check == 1 ? 1 : 0; }
S16 EPH_get_health(EPH_T eph) { return EPH_has_valid_data(eph) != 0 ? S16{eph->health} : S16{63}; }
S16 EPH_get_iode(EPH_T eph) { return EPH_has_valid_data(eph) != 0 ? eph->IODE : S16{-1}; }
S16 EPH_get_URA(S16 prn) {
  const EPH_T eph = EPH_get_reference(prn);
  return EPH_has_valid_data(eph) != 0 ? S16{eph->URA} : S16{-1};
}
F32 EPH_get_TGD(EPH_T eph) { return EPH_has_valid_data(eph) != 0 ? eph->TGD : 0.0F; }

S16 EPH_is_usable_for_ranging(EPH_T eph) {
  return EPH_has_valid_data(eph) != 0 && eph->URA != EPH_URA_NO_PREDICTION ? 1 : 0;
}

S16 EPH_is_overdue(EPH_T eph, S16 wn, S32 tow) {
  if (EPH_has_valid_data(eph) == 0) return 1;
  const S32 tk = EPH_calculate_tk_integer(eph->WN, eph->toe, wn, tow);
  return tk > 7200 || tk < -7200 ? 1 : 0;
}

S16 EPH_if_SG_signal(S16 prn) {
  const EPH_T e = EPH_get_reference(prn);
  if (EPH_has_valid_data(e) == 0) return 0;
  return e->Crs == 0.0F && e->Cuc == 0.0F && e->Cus == 0.0F && e->Cic == 0.0F && e->Cis == 0.0F && e->Crc == 0.0F ? 1
                                                                                                                  : 0;
}

S16 EPH_update_datawords(EPH_T eph, const U32 (*words)[10]) {
  if (eph == nullptr || words == nullptr) return 0;
  EPH_S fresh = *eph;
  decode(words, &fresh);
  if (fresh.data_source != 1) correct_week(&fresh, words[0]);
  if (eph->valid == 1 && eph->IODE == fresh.IODE) {
    if (eph->valid_check == 1) return 0;
    if (same_fields(*eph, fresh)) {
      eph->valid_check = 1;
      store(eph);
      return 0;
    }
    eph->valid_check_count = static_cast<S08>(eph->valid_check_count + 1);
    if (eph->valid_check_count < 2) {
      store(eph);
      return 0;
    }
  }
  fresh.valid_check = 0;
  fresh.valid_check_count = 0;
  fresh.valid = 1;
  *eph = fresh;
  store(eph);
  seed_almanac(*eph);
  return 1;
}

// --- time and orbit ----------------------------------------------------------------

S32 EPH_calculate_tk_integer(S16 ref_wn, S32 ref_tow, S16 wn, S32 tow) {
  S32 dwn = (wn % 1024) - (ref_wn % 1024);
  if (dwn > 512) dwn -= 1024;
  if (dwn < -512) dwn += 1024;
  return (tow - ref_tow) + dwn * WEEK_S;
}

D64 EPH_calculate_tk_double(S16 ref_wn, D64 ref_tow, S16 wn, D64 tow) {
  S32 dwn = (wn % 1024) - (ref_wn % 1024);
  if (dwn > 512) dwn -= 1024;
  if (dwn < -512) dwn += 1024;
  return (tow - ref_tow) + static_cast<D64>(dwn) * WEEK_S;
}

S16 EPH_calc_SV_position_with_parameters(EPH_T eph, S16 wn, D64 t, U16 refsys_type, D64 mu, D64 omega_e_dot,
                                         EPH_POS_T* pos, EPH_VEL_T* vel, EPH_ACC_T* acc) {
  const EPH_S* r = usable(eph);
  if (r == nullptr || !std::isfinite(t) || !std::isfinite(mu) || !std::isfinite(omega_e_dot) || mu <= 0.0) return 0;
  const D64 tk = EPH_calculate_tk_double(r->WN, r->toe, wn, t);
  if (!time_ok(*r, tk, 7200.0)) return 0;
  const OrbitState s = orbit(*r, tk, refsys_type, mu, omega_e_dot);
  if (!finite3(s.pos) || !finite3(s.vel)) return 0;
  if (!(std::sqrt(s.pos[0] * s.pos[0] + s.pos[1] * s.pos[1] + s.pos[2] * s.pos[2]) <= MAX_ORBIT_RADIUS_M) ||
      !(std::sqrt(s.vel[0] * s.vel[0] + s.vel[1] * s.vel[1] + s.vel[2] * s.vel[2]) <= MAX_ORBIT_SPEED_MPS))
    return 0;
  std::array<D64, 3> a{};
  if (acc != nullptr) {
    // Acceleration as the central difference of the analytic velocity over
    // +-0.5 s (the velocity is smooth on this scale; error well below F32).
    const OrbitState lo = orbit(*r, tk - 0.5, refsys_type, mu, omega_e_dot);
    const OrbitState hi = orbit(*r, tk + 0.5, refsys_type, mu, omega_e_dot);
    for (std::size_t k = 0; k < 3; ++k) a[k] = hi.vel[k] - lo.vel[k];
    if (!finite3(a)) return 0;
  }
  // velocity and acceleration are single precision: a record whose orbit
  // overflows them (garbage from a corrupted store) gives no position
  const EPH_VEL_T v{static_cast<F32>(s.vel[0]), static_cast<F32>(s.vel[1]), static_cast<F32>(s.vel[2])};
  const EPH_ACC_T ac{static_cast<F32>(a[0]), static_cast<F32>(a[1]), static_cast<F32>(a[2])};
  if (!std::isfinite(v.vx) || !std::isfinite(v.vy) || !std::isfinite(v.vz) || !std::isfinite(ac.ax) ||
      !std::isfinite(ac.ay) || !std::isfinite(ac.az))
    return 0;
  if (pos != nullptr) *pos = EPH_POS_T{s.pos[0], s.pos[1], s.pos[2]};
  if (vel != nullptr) *vel = v;
  if (acc != nullptr) *acc = ac;
  return 1;
}

S16 EPH_calc_SV_position(EPH_T eph, S16 wn, D64 t, EPH_POS_T* pos, EPH_VEL_T* vel, EPH_ACC_T* acc) {
  return EPH_calc_SV_position_with_parameters(eph, wn, t, 0, EPH_GPS_MU, EPH_GPS_OMEGA_E, pos, vel, acc);
}

S16 EPH_get_delta_tsv(EPH_T eph, S16 wn, D64 t, F32* dtsv, F32* ddtsv) {
  if (eph == nullptr || eph->valid != 1 || !std::isfinite(t)) return 0;
  const D64 tk = EPH_calculate_tk_double(eph->WN, eph->toc, wn, t);
  if (!time_ok(*eph, tk, 7380.0)) return 0;
  const D64 af0 = eph->af0, af1 = eph->af1, af2 = eph->af2;
  const D64 d = af0 + (af1 + af2 * tk) * tk;
  const D64 dd = af1 + 2.0 * af2 * tk;
  const F32 d32 = static_cast<F32>(d), dd32 = static_cast<F32>(dd);  // also refuses values beyond single precision
  if (!std::isfinite(d32) || !std::isfinite(dd32)) return 0;
  if (dtsv != nullptr) *dtsv = d32;
  if (ddtsv != nullptr) *ddtsv = dd32;
  return 1;
}

S16 EPH_get_clock_correction(EPH_T eph, S16 wn, D64 t, D64* dt_s, D64* dt_l1_s) {
  const EPH_S* r = usable(eph);
  if (r == nullptr || !std::isfinite(t)) return 0;
  const D64 tc = EPH_calculate_tk_double(r->WN, r->toc, wn, t);
  const D64 tk = EPH_calculate_tk_double(r->WN, r->toe, wn, t);
  if (!time_ok(*r, tc, 7380.0) || !time_ok(*r, tk, 7200.0)) return 0;
  const D64 af0 = r->af0, af1 = r->af1, af2 = r->af2;
  const D64 n = std::sqrt(EPH_GPS_MU / (r->A * r->A * r->A)) + static_cast<D64>(r->delta_n);
  D64 den = 1.0;
  const D64 ek = kepler(r->M0 + n * tk, r->e, &den);
  const D64 d = af0 + (af1 + af2 * tc) * tc + REL_F * r->e * std::sqrt(r->A) * std::sin(ek);
  if (!std::isfinite(d)) return 0;
  if (dt_s != nullptr) *dt_s = d;
  if (dt_l1_s != nullptr) *dt_l1_s = d - static_cast<D64>(r->TGD);
  return 1;
}
