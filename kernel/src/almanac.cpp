// Almanac store: page decoding, start-up merge with the stored and constant
// images, backup records and the almanac orbit.
#include "kernel/src/almanac.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "kernel/src/backup_layout.h"
#include "kernel/src/sv_health.h"
#include "misc/crc16.h"
#include "misc/endian_swap.h"

static_assert(sizeof(ALM_S) == ALM_RECORD_SIZE, "ALM_S is the 48-byte backup record");
static_assert(offsetof(ALM_S, toa) == 36 && offsetof(ALM_S, prn) == 40 && offsetof(ALM_S, wna) == 42 &&
              offsetof(ALM_S, valid) == 44 && offsetof(ALM_S, health) == 46);
static_assert(ALM_MAX_PRN == static_cast<S16>(ALM_N_RECORDS));

namespace {

constexpr F32 GPS_PI_F = 3.1415926535898F;
constexpr F32 TWO_PI_F = 6.2831855F;
constexpr F32 MU_F = 3.986005e14F;       // m^3/s^2 (398 600 513 257 472 in single precision)
constexpr F32 OMEGA_E_F = 7.292115e-5F;  // earth rotation rate, rad/s
constexpr S32 WEEK_S = 604800;
constexpr S32 HALF_WEEK_S = 302400;
constexpr S32 TOA_UNIT_S = 4096;
constexpr S32 EPH_DERIVED_QZSS_LIMIT_S = 7200;  // ephemeris-derived QZSS almanac: |dt| at most 2 h
constexpr S16 QZSS_FIRST = 33;
constexpr S16 QZSS_LAST = 35;
constexpr S16 PAGE25_SV_ID = 51;  // SV ID of subframe 5 page 25
constexpr S16 HEALTH_NOT_PRESENT = 63;
constexpr int KEPLER_MAX_STEPS = 20;
constexpr F32 KEPLER_TOLERANCE = 1e-6F;
constexpr S16 EIGHT_BIT_WEEK_MAX = 255;  // a stored week at most this is an 8-bit week
constexpr F32 MIN_SEMI_MAJOR_AXIS_M = 1.0e6F;
constexpr F32 MAX_SEMI_MAJOR_AXIS_M = 1.0e8F;
constexpr U32 CRC_AREA = ALM_N_RECORDS * ALM_RECORD_SIZE;  // CRC words follow the records

std::array<ALM_S, ALM_N_RECORDS> Alm{};
U08* Region = nullptr;
U32 Piece_offset = 0;
S32 Toa_p25 = -1;  // s; -1 before any page 25
S16 Wna_p25 = 0;   // 8 bits
S16 Num_the_same_valid_alms_between_sram_and_nvram_init = 0;
ALM_CLEAR_HOOK_T Clear_hook = nullptr;

// --- records and the backup region ---------------------------------------------

U08* record_bytes(std::size_t idx) { return Region + Piece_offset + idx * ALM_RECORD_SIZE; }
U08* crc_bytes(std::size_t idx) { return Region + Piece_offset + CRC_AREA + idx * BACKUP_CRC_SIZE; }
std::size_t index_of(const ALM_S* alm) { return static_cast<std::size_t>(alm - Alm.data()); }

U16 crc_of(const ALM_S& r) {
  std::array<U08, ALM_RECORD_SIZE> b{};
  std::memcpy(b.data(), &r, ALM_RECORD_SIZE);
  return crc16(b.data(), ALM_RECORD_SIZE);
}

// Write the working record through to the region with the CRC word crc.
void store_with_crc(const ALM_S* alm, U16 crc) {
  if (Region == nullptr) return;
  const std::size_t idx = index_of(alm);
  std::memcpy(record_bytes(idx), alm, ALM_RECORD_SIZE);
  std::memcpy(crc_bytes(idx), &crc, sizeof crc);
}
// The CRC of a valid record, 0 for an invalid one.
void store(const ALM_S* alm) { store_with_crc(alm, alm->valid != ALM_INVALID ? crc_of(*alm) : static_cast<U16>(0)); }

// Record idx of an image in the store's layout in this machine's order, its
// CRC (of the record in this order) and whether the image's CRC word was
// non-zero and matched. Under the swap flag the image was written in the
// other byte order: its CRC word is checked against its bytes as written,
// then the record is converted.
struct IMAGE_RECORD_T {
  ALM_S r;
  U16 crc;
  bool crc_ok;
};
IMAGE_RECORD_T read_image(const U08* image, std::size_t idx) {
  std::array<U08, ALM_RECORD_SIZE> b{};
  std::memcpy(b.data(), image + idx * ALM_RECORD_SIZE, ALM_RECORD_SIZE);
  U16 c = 0;
  std::memcpy(&c, image + CRC_AREA + idx * BACKUP_CRC_SIZE, sizeof c);
  const bool swap = ENDIAN_need_swap() != 0;
  if (swap) c = static_cast<U16>((c >> 8) | (c << 8));
  IMAGE_RECORD_T out{};
  out.crc_ok = c != 0 && c == crc16(b.data(), ALM_RECORD_SIZE);
  if (swap) ALM_data_endian_conversion_with_addr_input(b.data());
  std::memcpy(&out.r, b.data(), ALM_RECORD_SIZE);
  out.crc = swap ? crc16(b.data(), ALM_RECORD_SIZE) : c;
  return out;
}
// An image record that passes: level at least min_level, CRC non-zero and
// matching, prn idx + 1.
bool image_record_good(const IMAGE_RECORD_T& img, std::size_t idx, S16 min_level) {
  return img.r.valid >= min_level && img.crc_ok && img.r.prn == static_cast<S16>(idx + 1);
}

// Widths of the record's fields in order (byte-order conversion).
struct Field {
  U32 offset;
  U32 size;
};
constexpr std::array<Field, 15> ALM_FIELDS{{{0, 4},
                                            {4, 4},
                                            {8, 4},
                                            {12, 4},
                                            {16, 4},
                                            {20, 4},
                                            {24, 4},
                                            {28, 4},
                                            {32, 4},
                                            {36, 4},
                                            {40, 2},
                                            {42, 2},
                                            {44, 2},
                                            {46, 1},
                                            {47, 1}}};

void reverse(U08* p, U32 n) {
  for (U32 i = 0; i < n / 2; ++i) {
    const U08 t = p[i];
    p[i] = p[n - 1 - i];
    p[n - 1 - i] = t;
  }
}

// A backup record written in the other byte order: converted in place; a
// record whose CRC matched before the swap gets its CRC recomputed, anything
// else CRC 0 (invalid).
void convert_backup_record(std::size_t idx) {
  U08* rec = record_bytes(idx);
  U08* crc_p = crc_bytes(idx);
  const U16 crc_before = crc16(rec, ALM_RECORD_SIZE);
  reverse(crc_p, 2);
  U16 stored = 0;
  std::memcpy(&stored, crc_p, sizeof stored);
  ALM_data_endian_conversion_with_addr_input(rec);
  U16 crc = 0;
  if (stored != 0 && stored == crc_before) crc = crc16(rec, ALM_RECORD_SIZE);
  std::memcpy(crc_p, &crc, sizeof crc);
}

// --- page fields -----------------------------------------------------------------

// n bits of a word from data bit Dfirst (D1 at bit 29 .. D24 at bit 6).
U32 bits(U32 word, int first, int n) { return (word >> (31 - first - n)) & ((1U << n) - 1U); }
S32 sbits(U32 v, int n) {
  const U32 sign = 1U << (n - 1);
  return static_cast<S32>(v ^ sign) - static_cast<S32>(sign);
}
F32 scaled(S32 v, int exp2) { return static_cast<F32>(std::ldexp(static_cast<D64>(v), exp2)); }

// Table 20-VI fields of an almanac page into r (prn, week, level untouched).
void decode_page(const U32* w, ALM_S* r) {
  r->e = scaled(static_cast<S32>(bits(w[2], 9, 16)), -21);
  r->toa = static_cast<S32>(bits(w[3], 1, 8)) * TOA_UNIT_S;
  r->i0 = scaled(sbits(bits(w[3], 9, 16), 16), -19) * GPS_PI_F + 0.3F * GPS_PI_F;
  r->Omega_dot = scaled(sbits(bits(w[4], 1, 16), 16), -38) * GPS_PI_F;
  r->health = static_cast<U08>(bits(w[4], 17, 8));
  const F32 sqrt_a = scaled(static_cast<S32>(bits(w[5], 1, 24)), -11);
  r->A = sqrt_a * sqrt_a;
  r->Omega_0 = scaled(sbits(bits(w[6], 1, 24), 24), -23) * GPS_PI_F;
  r->omega = scaled(sbits(bits(w[7], 1, 24), 24), -23) * GPS_PI_F;
  r->M0 = scaled(sbits(bits(w[8], 1, 24), 24), -23) * GPS_PI_F;
  const U32 af0 = (bits(w[9], 1, 8) << 3) | bits(w[9], 20, 3);
  r->af0 = scaled(sbits(af0, 11), -20);
  r->af1 = scaled(sbits(bits(w[9], 9, 11), 11), -38);
}

// A week difference brought into -half..half for a period of 2 half.
S32 fold(S32 d, S32 half) {
  const S32 period = 2 * half;
  d %= period;
  if (d > half) d -= period;
  if (d < -half) d += period;
  return d;
}
S32 wn10(S32 wn) { return ((wn % 1024) + 1024) % 1024; }

// Week difference from stored week wna to full week wn (see ALM_week_difference).
S32 week_difference(S16 wna, S16 wn) {
  if (wna > EIGHT_BIT_WEEK_MAX) return fold(wn10(wn) - wna, 512);
  return fold(wn10(wn) % 256 - wna, 128);
}

// The 10-bit week of an almanac page with reference toa received at week wn, tow.
S16 page_week(S16 wn, S32 tow, S32 toa) {
  const S32 w = wn10(wn);
  if (Toa_p25 == toa) {  // the page-25 week, completed to the 10-bit week nearest wn
    return static_cast<S16>(wn10(w + fold(Wna_p25 - w % 256, 128)));
  }
  const S64 d = static_cast<S64>(tow) - toa;
  if (d < -HALF_WEEK_S) return static_cast<S16>(wn10(w - 1));
  if (d > HALF_WEEK_S) return static_cast<S16>(wn10(w + 1));
  return static_cast<S16>(w);
}

bool record_finite(const ALM_S& r) {
  return std::isfinite(r.A) && std::isfinite(r.Omega_0) && std::isfinite(r.omega) && std::isfinite(r.M0) &&
         std::isfinite(r.e) && std::isfinite(r.i0) && std::isfinite(r.Omega_dot) && r.A >= MIN_SEMI_MAJOR_AXIS_M &&
         r.A <= MAX_SEMI_MAJOR_AXIS_M && r.e >= 0.0F && r.e < 1.0F;
}

F32 wrap_2pi(F32 a) {
  F32 r = std::fmod(a, TWO_PI_F);
  if (r < 0.0F) r += TWO_PI_F;
  return r;
}

// Eccentric anomaly from mean anomaly m by Newton steps from E = M.
F32 kepler(F32 m, F32 e) {
  F32 ea = m;
  for (int k = 0; k < KEPLER_MAX_STEPS; ++k) {
    const F32 step = (ea - e * std::sin(ea) - m) / (1.0F - e * std::cos(ea));
    ea -= step;
    if (std::fabs(step) < KEPLER_TOLERANCE) break;
  }
  return ea;
}

// The orbit of a usable record at dt (s) from toa into pos and vel.
bool orbit(const ALM_S& r, F32 dt, POS_T* pos, VEL_T* vel) {
  const F32 a = r.A;
  const F32 e = r.e;
  const F32 n = std::sqrt(MU_F / (a * a * a));
  const F32 m = wrap_2pi(r.M0 + n * dt);
  const F32 ea = kepler(m, e);
  const F32 sin_e = std::sin(ea);
  const F32 cos_e = std::cos(ea);
  const F32 root = std::sqrt(1.0F - e * e);
  F32 v = std::atan2(root * sin_e, cos_e - e);
  if (v < 0.0F) v += TWO_PI_F;
  const F32 u = v + r.omega;
  const F32 one_e = 1.0F - e * cos_e;
  const F32 rad = a * one_e;
  const F32 node = wrap_2pi(r.Omega_0 + (r.Omega_dot - OMEGA_E_F) * dt - OMEGA_E_F * static_cast<F32>(r.toa));
  const F32 cu = std::cos(u);
  const F32 su = std::sin(u);
  const F32 cn = std::cos(node);
  const F32 sn = std::sin(node);
  const F32 ci = std::cos(r.i0);
  const F32 si = std::sin(r.i0);
  const F32 xp = rad * cu;
  const F32 yp = rad * su;
  const F32 x = xp * cn - yp * ci * sn;
  const F32 y = xp * sn + yp * ci * cn;
  const F32 z = yp * si;
  const F32 e_dot = n / one_e;
  const F32 r_dot = a * e * e_dot * sin_e;
  const F32 r_u_dot = rad * e_dot * root / one_e;
  const F32 xp_dot = r_dot * cu - r_u_dot * su;
  const F32 yp_dot = r_dot * su + r_u_dot * cu;
  const F32 node_dot = r.Omega_dot - OMEGA_E_F;
  const F32 vx = xp_dot * cn - yp_dot * ci * sn - node_dot * y;
  const F32 vy = xp_dot * sn + yp_dot * ci * cn + node_dot * x;
  const F32 vz = yp_dot * si;
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z) || !std::isfinite(vx) || !std::isfinite(vy) ||
      !std::isfinite(vz))
    return false;
  *pos = POS_T{x, y, z};
  if (vel != nullptr) *vel = VEL_T{vx, vy, vz};
  return true;
}

}  // namespace

// --- store ---------------------------------------------------------------------------

S16 ALM_init_storage_address(U08* region_p, U32 offset) {
  Region = region_p;
  Piece_offset = offset;
  return static_cast<S16>(ALM_BACKUP_SIZE);
}

S16 ALM_init(U08* region_p, U08* stored_image, const U08* const_image) {
  if (region_p != nullptr) ALM_init_storage_address(region_p, 0);
  Toa_p25 = -1;
  Wna_p25 = 0;
  Num_the_same_valid_alms_between_sram_and_nvram_init = 0;
  // 1. the backup records
  bool any_valid = false;
  S16 latest_wna = 0;
  std::array<U16, ALM_N_RECORDS> crcs{};
  for (std::size_t i = 0; i < ALM_N_RECORDS; ++i) {
    ALM_S& r = Alm[i];
    r = ALM_S{};
    if (Region != nullptr) {
      if (ENDIAN_need_swap() != 0) convert_backup_record(i);
      std::memcpy(&r, record_bytes(i), ALM_RECORD_SIZE);
      std::memcpy(&crcs[i], crc_bytes(i), sizeof(U16));
    }
    r.prn = static_cast<S16>(i + 1);
    if (r.valid != ALM_INVALID && crcs[i] != 0 && crcs[i] == crc_of(r)) {
      if (!any_valid || wn10(r.wna) > latest_wna) latest_wna = static_cast<S16>(wn10(r.wna));
      any_valid = true;
      continue;
    }
    r = ALM_S{};
    r.prn = static_cast<S16>(i + 1);
    crcs[i] = 0;
    store(&r);
  }
  // 2. the stored image
  for (std::size_t i = 0; stored_image != nullptr && i < ALM_N_RECORDS; ++i) {
    const IMAGE_RECORD_T img = read_image(stored_image, i);
    if (Alm[i].valid != ALM_INVALID) {
      if (img.crc_ok && crcs[i] == img.crc) ++Num_the_same_valid_alms_between_sram_and_nvram_init;
      continue;
    }
    if (!image_record_good(img, i, ALM_VLAID_FROM_INPUT)) continue;
    if (any_valid && std::abs(fold(wn10(img.r.wna) - latest_wna, 512)) > ALM_MAX_WEEK_AGE) continue;
    Alm[i] = img.r;
    store_with_crc(&Alm[i], img.crc);
    ++Num_the_same_valid_alms_between_sram_and_nvram_init;
  }
  // 3. the constant image
  for (std::size_t i = 0; const_image != nullptr && i < ALM_N_RECORDS; ++i) {
    if (Alm[i].valid != ALM_INVALID) continue;
    const IMAGE_RECORD_T img = read_image(const_image, i);
    if (!image_record_good(img, i, ALM_VLAID_FROM_CONST)) continue;
    Alm[i] = img.r;
    Alm[i].valid = ALM_VLAID_FROM_CONST;
    store(&Alm[i]);
  }
  return static_cast<S16>(ALM_BACKUP_SIZE);
}

S32 ALM_get_address(U08** addr) {
  if (addr == nullptr) return 0;
  if (Region == nullptr) {
    *addr = nullptr;
    return 0;
  }
  *addr = Region + Piece_offset;
  return static_cast<S32>(ALM_BACKUP_SIZE);
}

S16 ALM_get_num_same_as_stored_image() { return Num_the_same_valid_alms_between_sram_and_nvram_init; }

ALM_T ALM_get_reference(S16 prn) {
  if (prn < 1 || prn > ALM_MAX_PRN) return nullptr;
  return &Alm[static_cast<std::size_t>(prn - 1)];
}
S16 ALM_get_prn(ALM_T alm) { return alm != nullptr ? alm->prn : static_cast<S16>(0); }
S16 ALM_get_health(ALM_T alm) {
  return alm != nullptr && alm->valid != ALM_INVALID ? static_cast<S16>(alm->health) : ALM_NO_HEALTH;
}
S16 ALM_has_valid_data(ALM_T alm) { return alm != nullptr ? alm->valid : static_cast<S16>(ALM_INVALID); }
S16 ALM_get_wna(ALM_T alm, S16* wna_p) {
  if (alm == nullptr || alm->valid == ALM_INVALID) return 0;
  if (wna_p != nullptr) *wna_p = alm->wna;
  return 1;
}
S16 ALM_get_valid_num() {
  S16 n = 0;
  for (const ALM_S& r : Alm)
    if (r.valid != ALM_INVALID) ++n;
  return n;
}

// --- pages -----------------------------------------------------------------------------

S16 ALM_update_datawords(S16 wn, S32 tow, const U32* words) {
  if (words == nullptr) return 0;
  const ALM_T alm = ALM_get_reference(static_cast<S16>(bits(words[2], 3, 6)));
  if (alm == nullptr) return 0;
  const S32 toa = static_cast<S32>(bits(words[3], 1, 8)) * TOA_UNIT_S;
  alm->wna = page_week(wn, tow, toa);
  store_with_crc(alm, alm->valid != ALM_INVALID ? crc_of(*alm) : static_cast<U16>(0));
  if (alm->valid == ALM_VLAID_FROM_DATA && alm->toa == toa) return 0;
  decode_page(words, alm);
  alm->valid = ALM_VLAID_FROM_DATA;
  store(alm);
  return 1;
}

S16 ALM_update_WNa_subframe(const U32* words) {
  if (words == nullptr || static_cast<S16>(bits(words[2], 3, 6)) != PAGE25_SV_ID) return 0;
  const S32 toa = static_cast<S32>(bits(words[2], 9, 8)) * TOA_UNIT_S;
  if (toa == Toa_p25) return 0;
  Toa_p25 = toa;
  Wna_p25 = static_cast<S16>(bits(words[2], 17, 8));
  return 1;
}

void ALM_get_page25(S32* toa_p, S16* wna_p) {
  if (toa_p != nullptr) *toa_p = Toa_p25;
  if (wna_p != nullptr) *wna_p = Wna_p25;
}

void ALM_set(S16 prn, const ALM_IN_T* in) {
  const ALM_T alm = ALM_get_reference(prn);
  if (alm == nullptr || in == nullptr) return;
  alm->A = in->A;
  alm->Omega_0 = in->Omega_0;
  alm->omega = in->omega;
  alm->M0 = in->M0;
  alm->e = in->e;
  alm->i0 = in->i0;
  alm->Omega_dot = in->Omega_dot;
  alm->af0 = in->af0;
  alm->af1 = in->af1;
  alm->toa = in->toa;
  alm->wna = static_cast<S16>(wn10(in->wna));
  alm->health = in->health;
  alm->valid = ALM_VLAID_FROM_EPH;
  store(alm);
}

// --- orbit -------------------------------------------------------------------------------

S32 ALM_week_difference(ALM_T alm, S16 wn) { return alm != nullptr ? week_difference(alm->wna, wn) : 0; }

S16 ALM_calc_SV_position(ALM_T alm, S16 wn, S32 tow, POS_T* pos, VEL_T* vel) {
  if (alm == nullptr || pos == nullptr || alm->valid == ALM_INVALID || !record_finite(*alm)) return 0;
  const S32 dw = week_difference(alm->wna, wn);
  if (std::abs(dw) > ALM_MAX_WEEK_AGE) {
    if (alm->valid == ALM_VLAID_FROM_CONST) ALM_clear_one(alm->prn);
    return 0;
  }
  const S64 dt = static_cast<S64>(tow) - alm->toa + static_cast<S64>(dw) * WEEK_S;
  if (alm->valid == ALM_VLAID_FROM_EPH && alm->prn >= QZSS_FIRST && alm->prn <= QZSS_LAST &&
      (dt > EPH_DERIVED_QZSS_LIMIT_S || dt < -EPH_DERIVED_QZSS_LIMIT_S))
    return 0;
  return orbit(*alm, static_cast<F32>(dt), pos, vel) ? 1 : 0;
}

void ALM_check_validity_time(S16 wn) {
  for (ALM_S& r : Alm)
    if (r.valid != ALM_INVALID && std::abs(week_difference(r.wna, wn)) > ALM_MAX_WEEK_AGE) ALM_clear_one(r.prn);
}

S16 ALM_check_received_all_almanacs(S16 wn) {
  for (S16 prn = 1; prn <= ALM_MAX_PRN; ++prn) {
    if (SVH_get_health(prn) == HEALTH_NOT_PRESENT) continue;
    const ALM_S& r = Alm[static_cast<std::size_t>(prn - 1)];
    if (r.valid == ALM_INVALID || std::abs(week_difference(r.wna, wn)) >= 2) return 0;
  }
  return 1;
}

// --- clearing and shared helpers ------------------------------------------------------------

void ALM_install_clear_hook(ALM_CLEAR_HOOK_T hook) { Clear_hook = hook; }

void ALM_clear_one(S16 prn) {
  const ALM_T alm = ALM_get_reference(prn);
  if (alm == nullptr) return;
  alm->valid = ALM_INVALID;
  store_with_crc(alm, 0);
  if (Clear_hook != nullptr) Clear_hook(prn);
}

void ALM_clear_all() {
  for (S16 prn = 1; prn <= ALM_MAX_PRN; ++prn) ALM_clear_one(prn);
}

S16 ALM_get_almanac_structure_size() { return static_cast<S16>(ALM_RECORD_SIZE); }

void ALM_set_svid(ALM_T alm, S16 prn) {
  if (alm != nullptr) alm->prn = prn;
}

void ALM_set_invalid(ALM_T alm) {
  if (alm != nullptr) alm->valid = ALM_INVALID;
}

void ALM_set_contents(ALM_T alm, const ALM_S* src) {
  if (alm == nullptr || src == nullptr) return;
  const S16 prn = alm->prn;
  *alm = *src;
  alm->prn = prn;
}

void ALM_data_endian_conversion_with_addr_input(U08* rec_p) {
  if (rec_p == nullptr) return;
  for (const Field& f : ALM_FIELDS) reverse(rec_p + f.offset, f.size);
}
