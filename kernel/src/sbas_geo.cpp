// SBAS GEO navigation records and the SBAS/QZSS settings.
#include "kernel/src/sbas_geo.h"

#include <array>
#include <cstddef>
#include <cstring>

#include "kernel/src/backup_layout.h"
#include "kernel/src/kernel_meas_predict.h"
#include "kernel/src/kernel_search.h"
#include "kernel/src/navigate.h"
#include "kernel/src/sbas_decode.h"
#include "misc/crc16.h"
#include "misc/endian_swap.h"

static_assert(sizeof(SBAS_GEO_T) == KWAAS_GEO_RECORD_SIZE, "SBAS_GEO_T is the 112-byte backup record");
static_assert(offsetof(SBAS_GEO_T, aGf1) == 80 && offsetof(SBAS_GEO_T, URA) == 88 && offsetof(SBAS_GEO_T, prn) == 90 &&
              offsetof(SBAS_GEO_T, is_valid) == 92 && offsetof(SBAS_GEO_T, IOD) == 94 &&
              offsetof(SBAS_GEO_T, t0) == 96 && offsetof(SBAS_GEO_T, TOW_SBAS) == 100 &&
              offsetof(SBAS_GEO_T, WN_SBAS) == 104);

namespace {

constexpr S32 DAY_S = 86400;
constexpr S32 HALF_DAY_S = 43200;
constexpr S32 WEEK_S = 604800;
constexpr S32 T0_UNIT_S = 16;
constexpr S32 MAX_T0_DISTANCE_S = 512;  // |time of day - t0| of a usable message or position
constexpr S32 MAX_AGE_S = 1024;         // a record is usable this long after reception
constexpr S16 GEO_MSG_TYPE = 9;
constexpr S16 SLOT_FREE = -1;
constexpr S32 CORR_KEEP_LAPSE_S = 301;  // correction records survive a lapse below this
constexpr U32 GEO_CRC_AREA = KWAAS_GEO_SLOTS * KWAAS_GEO_RECORD_SIZE;
constexpr U32 CORR_CRC_AREA = KWAAS_IGP_RECORDS * KWAAS_IGP_RECORD_SIZE;
constexpr U32 IGP_IS_VALID_OFFSET = 6;

std::array<SBAS_GEO_T, SBAS_GEO_N_PRN> Sbas_Geo_local{};
std::array<S16, KWAAS_GEO_SLOTS> Sbas_Geo_Prn_In_Ram{SLOT_FREE, SLOT_FREE, SLOT_FREE};
S16 Sbas_Geo_Ranging_Flag = 1;
S16 Sbas_Geo_Ranging_Ura_Mask = 8;
U32 Bad_prn_count = 0;
SBAS_PARAMETER_T Sbas_para{};
QZSS_PARAMETER_T Qzss_para{};
S16 Last_status = -1;
U08* Region = nullptr;
U32 Piece_offset = 0;

bool prn_ok(S16 prn) { return prn >= SBAS_GEO_FIRST_PRN && prn <= SBAS_GEO_LAST_PRN; }
std::size_t index_of(S16 prn) { return static_cast<std::size_t>(prn - SBAS_GEO_FIRST_PRN); }

// --- backup slots ---------------------------------------------------------------

U08* slot_bytes(std::size_t slot) { return Region + Piece_offset + slot * KWAAS_GEO_RECORD_SIZE; }
U08* slot_crc_bytes(std::size_t slot) { return Region + Piece_offset + GEO_CRC_AREA + slot * BACKUP_CRC_SIZE; }
U32 corr_offset() { return Piece_offset + BACKUP_align4(KWAAS_GEO_SIZE); }
U08* igp_bytes(std::size_t i) { return Region + corr_offset() + i * KWAAS_IGP_RECORD_SIZE; }
U08* igp_crc_bytes(std::size_t i) { return Region + corr_offset() + CORR_CRC_AREA + i * BACKUP_CRC_SIZE; }

U16 read_u16(const U08* p) {
  U16 v = 0;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void write_u16(U08* p, U16 v) { std::memcpy(p, &v, sizeof v); }

SBAS_GEO_T read_slot(std::size_t slot) {
  SBAS_GEO_T r{};
  std::memcpy(&r, slot_bytes(slot), sizeof r);
  return r;
}

bool slot_good(std::size_t slot, const SBAS_GEO_T& r) {
  const U16 c = read_u16(slot_crc_bytes(slot));
  return r.is_valid == 1 && c != 0 && c == crc16(slot_bytes(slot), KWAAS_GEO_RECORD_SIZE);
}

void write_slot(std::size_t slot, const SBAS_GEO_T& r) {
  if (Region == nullptr) return;
  std::array<U08, KWAAS_GEO_RECORD_SIZE> b{};  // padding bytes stored as 0
  std::memcpy(b.data(), &r, sizeof r);
  std::memcpy(slot_bytes(slot), b.data(), b.size());
  write_u16(slot_crc_bytes(slot), crc16(b.data(), b.size()));
}

void invalidate_slot(std::size_t slot) {
  Sbas_Geo_Prn_In_Ram[slot] = SLOT_FREE;
  if (Region == nullptr) return;
  SBAS_GEO_T r = read_slot(slot);
  r.is_valid = 0;
  write_slot(slot, r);
}

void reverse(U08* p, U32 n) {
  for (U32 i = 0; i < n / 2; ++i) {
    const U08 t = p[i];
    p[i] = p[n - 1 - i];
    p[n - 1 - i] = t;
  }
}

// Field widths of SBAS_GEO_T in order (byte-order conversion); the padding
// after WN_SBAS is left as it is.
struct Field {
  U32 offset;
  U32 size;
};
constexpr std::array<Field, 18> GEO_FIELDS{{{0, 8},
                                            {8, 8},
                                            {16, 8},
                                            {24, 8},
                                            {32, 8},
                                            {40, 8},
                                            {48, 8},
                                            {56, 8},
                                            {64, 8},
                                            {72, 8},
                                            {80, 8},
                                            {88, 2},
                                            {90, 2},
                                            {92, 2},
                                            {94, 2},
                                            {96, 4},
                                            {100, 4},
                                            {104, 2}}};
constexpr std::array<Field, 5> IGP_FIELDS{{{0, 4}, {4, 2}, {6, 1}, {7, 1}, {8, 1}}};

// A record written in the other byte order: converted in place; one whose
// CRC matched before the swap gets its CRC recomputed, anything else CRC 0
// (invalid).
template <std::size_t N>
void convert_record(U08* rec, U08* crc_p, U32 size, const std::array<Field, N>& fields) {
  const U16 crc_before = crc16(rec, size);
  reverse(crc_p, 2);
  const U16 stored = read_u16(crc_p);
  for (const Field& f : fields) reverse(rec + f.offset, f.size);
  write_u16(crc_p, stored != 0 && stored == crc_before ? crc16(rec, size) : static_cast<U16>(0));
}

void restore_geo_slots() {
  for (std::size_t i = 0; i < Sbas_Geo_local.size(); ++i) {
    Sbas_Geo_local[i] = SBAS_GEO_T{};
    Sbas_Geo_local[i].prn = static_cast<S16>(SBAS_GEO_FIRST_PRN + static_cast<S16>(i));
  }
  Sbas_Geo_Prn_In_Ram.fill(SLOT_FREE);
  if (Region == nullptr) return;
  for (std::size_t s = 0; s < KWAAS_GEO_SLOTS; ++s) {
    if (ENDIAN_need_swap() != 0) convert_record(slot_bytes(s), slot_crc_bytes(s), KWAAS_GEO_RECORD_SIZE, GEO_FIELDS);
    const SBAS_GEO_T r = read_slot(s);
    if (!slot_good(s, r) || !prn_ok(r.prn)) continue;
    Sbas_Geo_local[index_of(r.prn)] = r;
    Sbas_Geo_Prn_In_Ram[s] = r.prn;
  }
}

void restore_corrections(S32 hot_start_dt) {
  if (Region == nullptr) return;
  const bool lapse_ok = hot_start_dt == -1 || hot_start_dt < CORR_KEEP_LAPSE_S;
  for (std::size_t i = 0; i < KWAAS_IGP_RECORDS; ++i) {
    U08* rec = igp_bytes(i);
    if (ENDIAN_need_swap() != 0) convert_record(rec, igp_crc_bytes(i), KWAAS_IGP_RECORD_SIZE, IGP_FIELDS);
    const U16 c = read_u16(igp_crc_bytes(i));
    const bool ok = rec[IGP_IS_VALID_OFFSET] == 1 && c != 0 && c == crc16(rec, KWAAS_IGP_RECORD_SIZE);
    if (!ok || !lapse_ok) rec[IGP_IS_VALID_OFFSET] = 0;
  }
}

// --- type 9 fields ---------------------------------------------------------------

// n (1..32) bits of the message from bit `first` (bit 0 = MSB of block[0]).
U32 bits(const U32* block, int first, int n) {
  U64 v = 0;
  for (int i = 0; i < n; ++i) {
    const int b = first + i;
    v = (v << 1U) | ((block[b / 32] >> (31 - (b % 32))) & 1U);
  }
  return static_cast<U32>(v);
}
S32 sbits(const U32* block, int first, int n) {
  const U32 v = bits(block, first, n);
  const U32 sign = 1U << static_cast<U32>(n - 1);
  return static_cast<S32>(v ^ sign) - static_cast<S32>(sign);
}

// A time-of-day difference brought into -43 200..43 200 s.
S32 fold_day(S32 d) {
  if (d > HALF_DAY_S) d -= DAY_S;
  if (d < -HALF_DAY_S) d += DAY_S;
  return d;
}
S32 time_of_day(S32 tow) { return ((tow % DAY_S) + DAY_S) % DAY_S; }

void decode_type9(const U32* block, SBAS_GEO_T* r) {
  r->IOD = static_cast<S16>(bits(block, 14, 8));
  r->t0 = static_cast<S32>(bits(block, 22, 13)) * T0_UNIT_S;
  r->URA = static_cast<S16>(bits(block, 35, 4));
  r->XG = sbits(block, 39, 30) * 0.08;
  r->YG = sbits(block, 69, 30) * 0.08;
  r->ZG = sbits(block, 99, 25) * 0.4;
  r->VXG = sbits(block, 124, 17) * 0.000625;
  r->VYG = sbits(block, 141, 17) * 0.000625;
  r->VZG = sbits(block, 158, 18) * 0.004;
  r->AXG = sbits(block, 176, 10) * 0.0000125;
  r->AYG = sbits(block, 186, 10) * 0.0000125;
  r->AZG = sbits(block, 196, 10) * 0.0000625;
  r->aGf0 = sbits(block, 206, 12) * 0x1p-31;
  r->aGf1 = sbits(block, 218, 8) * 0x1p-40;
}

// Backup slot for prn: the slot already holding it, else the first free one, else 0.
std::size_t slot_for(S16 prn) {
  for (std::size_t s = 0; s < KWAAS_GEO_SLOTS; ++s) {
    if (Sbas_Geo_Prn_In_Ram[s] == prn) return s;
  }
  for (std::size_t s = 0; s < KWAAS_GEO_SLOTS; ++s) {
    if (Sbas_Geo_Prn_In_Ram[s] == SLOT_FREE) return s;
  }
  return 0;
}

void apply_sbas_para() {
  KSEARCH_set_enable_waas_search(Sbas_para.sbas_enable_disable);
  KSEARCH_update_sbas_limitation(Sbas_para.subsystem_mask, Sbas_para.num_of_tracking_channels);
  SBAS_GEO_set_ranging_flag(Sbas_para.ranging_enable_disable, Sbas_para.ranging_ura_mask);
}

}  // namespace

// --- KWAAS -------------------------------------------------------------------------

S16 KWAAS_init_storage_address(U08* region_p, U32 offset) {
  Region = region_p;
  Piece_offset = offset;
  return static_cast<S16>(KWAAS_BACKUP_SIZE);
}

void KWAAS_init(const SBAS_PARAMETER_T* para, S32 hot_start_dt) {
  if (para != nullptr) Sbas_para = *para;
  Bad_prn_count = 0;
  Last_status = -1;
  SBAS_DBC_init();
  restore_geo_slots();
  restore_corrections(hot_start_dt);
  apply_sbas_para();
}

void KWAAS_clear_all_geo_parameters() { SBAS_GEO_clear_all(); }

void KWAAS_second_tick_process() {
  if (Sbas_para.sbas_enable_disable != 0) {
    const bool corrections =
        SBAS_has_fast_msg() != 0 || SBAS_has_long_msg() != 0 || SBAS_has_iono_msg() != 0 || SBAS_has_inte_msg() != 0;
    Last_status = corrections ? static_cast<S16>(2) : static_cast<S16>(0);
    NV_set_sbas_status_tick(Last_status);
  } else {
    Last_status = -1;
  }
  NV_set_sbas_limitation_tick(Sbas_para.sbas_enable_disable);
}

void KWAAS_set_sbas_para(const SBAS_PARAMETER_T* para) {
  if (para == nullptr) return;
  Sbas_para = *para;
  apply_sbas_para();
}

S16 KWAAS_is_enabled() { return Sbas_para.sbas_enable_disable; }

void KWAAS_get_sbas_para(SBAS_PARAMETER_T* para) {
  if (para != nullptr) *para = Sbas_para;
}

S16 KWAAS_get_last_status() { return Last_status; }

// --- KQZSS -------------------------------------------------------------------------

void KQZSS_init(const QZSS_PARAMETER_T* para) { KQZSS_set_qzss_para(para); }

void KQZSS_set_qzss_para(const QZSS_PARAMETER_T* para) {
  if (para == nullptr) return;
  Qzss_para = *para;
  KSEARCH_set_enable_qzss_search(Qzss_para.qzss_enable_disable, Qzss_para.qzss_max_num);
}

void KQZSS_second_tick_process() {
  NV_set_qzss_limitation_tick(Qzss_para.qzss_enable_disable);
  KMPREDICT_set_qzss_mask(Qzss_para.qzss_enable_disable, Qzss_para.qzss_max_num);
}

S16 KQZSS_is_enabled() { return Qzss_para.qzss_enable_disable; }

void KQZSS_get_qzss_para(QZSS_PARAMETER_T* para) {
  if (para != nullptr) *para = Qzss_para;
}

// --- SBAS_GEO ----------------------------------------------------------------------

S16 SBAS_GEO_update_messages(S16 wn, S32 tow, S16 prn, const U32* block, S16 msg_type) {
  if (!prn_ok(prn)) {
    ++Bad_prn_count;
    return 0;
  }
  if (msg_type != GEO_MSG_TYPE || block == nullptr) return 0;
  SBAS_GEO_T r = Sbas_Geo_local[index_of(prn)];
  decode_type9(block, &r);
  if (fold_day(time_of_day(tow) - r.t0) > MAX_T0_DISTANCE_S || fold_day(time_of_day(tow) - r.t0) < -MAX_T0_DISTANCE_S)
    return 0;
  r.prn = prn;
  r.WN_SBAS = wn;
  r.TOW_SBAS = tow;
  r.is_valid = 1;
  Sbas_Geo_local[index_of(prn)] = r;
  const std::size_t slot = slot_for(prn);
  write_slot(slot, r);
  Sbas_Geo_Prn_In_Ram[slot] = prn;
  return 1;
}

void SBAS_GEO_set_ranging_flag(S16 flag, S16 ura_mask) {
  Sbas_Geo_Ranging_Flag = flag;
  Sbas_Geo_Ranging_Ura_Mask = ura_mask;
}

S16 SBAS_GEO_cal_sv_position(S16 prn, S16 wn, S32 tow, POS_T* pos_p, VEL_T* vel_p) {
  if (!prn_ok(prn)) {
    ++Bad_prn_count;
    return 0;
  }
  const SBAS_GEO_T& r = Sbas_Geo_local[index_of(prn)];
  if (r.is_valid != 1 || Sbas_Geo_Ranging_Flag == 0 || r.URA >= Sbas_Geo_Ranging_Ura_Mask || pos_p == nullptr) return 0;
  S32 dwn = (static_cast<S32>(wn) - r.WN_SBAS) % 1024;
  if (dwn > 512) dwn -= 1024;
  if (dwn < -512) dwn += 1024;
  if (dwn > 1 || dwn < -1) return 0;
  const S64 age = static_cast<S64>(dwn) * WEEK_S + tow - r.TOW_SBAS;
  if (age > MAX_AGE_S || age < -MAX_AGE_S) return 0;
  const S32 dt_s = fold_day(time_of_day(tow) - r.t0);
  if (dt_s > MAX_T0_DISTANCE_S || dt_s < -MAX_T0_DISTANCE_S) return 0;
  const D64 dt = dt_s;
  pos_p->px = r.XG + r.VXG * dt + 0.5 * r.AXG * dt * dt;
  pos_p->py = r.YG + r.VYG * dt + 0.5 * r.AYG * dt * dt;
  pos_p->pz = r.ZG + r.VZG * dt + 0.5 * r.AZG * dt * dt;
  if (vel_p != nullptr) {
    vel_p->vx = static_cast<F32>(r.VXG + r.AXG * dt);
    vel_p->vy = static_cast<F32>(r.VYG + r.AYG * dt);
    vel_p->vz = static_cast<F32>(r.VZG + r.AZG * dt);
  }
  return 1;
}

S16 SBAS_GEO_cal_sv_rough_position(S16 prn, S16 /*wn*/, S32 /*tow*/, POS_T* pos_p) {
  if (!prn_ok(prn)) {
    ++Bad_prn_count;
    return 0;
  }
  const SBAS_GEO_T& r = Sbas_Geo_local[index_of(prn)];
  if (r.is_valid != 1 || pos_p == nullptr) return 0;
  pos_p->px = r.XG;
  pos_p->py = r.YG;
  pos_p->pz = r.ZG;
  return 1;
}

S16 SBAS_GEO_get_URA(S16 prn) {
  if (!prn_ok(prn)) {
    ++Bad_prn_count;
    return -1;
  }
  const SBAS_GEO_T& r = Sbas_Geo_local[index_of(prn)];
  return r.is_valid == 1 ? r.URA : static_cast<S16>(-1);
}

S16 SBAS_GEO_get_record(S16 prn, SBAS_GEO_T* out) {
  if (!prn_ok(prn) || out == nullptr) return 0;
  *out = Sbas_Geo_local[index_of(prn)];
  return 1;
}

void SBAS_GEO_clear_one(S16 prn) {
  if (!prn_ok(prn)) {
    ++Bad_prn_count;
    return;
  }
  for (std::size_t s = 0; s < KWAAS_GEO_SLOTS; ++s) {
    if (Region != nullptr) {
      const SBAS_GEO_T r = read_slot(s);
      if (slot_good(s, r) && r.prn == prn) invalidate_slot(s);
    }
    if (Sbas_Geo_Prn_In_Ram[s] == prn) Sbas_Geo_Prn_In_Ram[s] = SLOT_FREE;
  }
  Sbas_Geo_local[index_of(prn)].is_valid = 0;
}

void SBAS_GEO_clear_all() {
  for (std::size_t s = 0; s < KWAAS_GEO_SLOTS; ++s) invalidate_slot(s);
  for (SBAS_GEO_T& r : Sbas_Geo_local) r.is_valid = 0;
}

U32 SBAS_GEO_get_bad_prn_count() { return Bad_prn_count; }

S16 SBAS_GEO_get_slot_prn(S16 slot) {
  if (slot < 0 || slot >= static_cast<S16>(KWAAS_GEO_SLOTS)) return -1;
  return Sbas_Geo_Prn_In_Ram[static_cast<std::size_t>(slot)];
}
