#include "kernel/src/kernel_backup.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "kernel/src/nav_inputs.h"
#include "misc/crc16.h"
#include "misc/endian_swap.h"
#include "misc/talon_assert.h"

namespace {

// BACKUP_DATA_T, 48 bytes in the order and at the offsets below, in the byte
// order of the machine that wrote it; the CRC (U16) follows at offset 48.
enum : U32 {
  BD_LAT = 0,                 // S32, latitude, 1e-8 rad
  BD_LON = 4,                 // S32, longitude, 1e-8 rad
  BD_ALT = 8,                 // S32, altitude, cm
  BD_CDRIFT = 12,             // S32, receiver clock drift, mm/s
  BD_GPS_TOW = 16,            // D64, GPS time of week of the fix, s
  BD_RTC_GPS_RATIO = 24,      // D64, RTC rate / GPS time rate
  BD_RTC_RATIO_QUALITY = 32,  // U32
  BD_RTC_SEC = 36,            // S32, RTC seconds
  BD_RTC_WN = 40,             // S16, RTC week
  BD_RTC_SUBSEC = 42,         // S16, RTC sub-second count
  BD_RTC_GPS_SS_DIF = 44,     // S16, RTC/GPS sub-second difference
  BD_GPS_WN = 46,             // S16, GPS week of the fix
};
// CLOCK_RECORD_T, 8 bytes; its CRC (U16) follows directly.
enum : U32 {
  CR_HAS_RELIABLE = 0,  // S32, 1 = valid
  CR_OFFSET = 4,        // S32, receiver clock frequency offset, Hz
};

struct FieldWidth {
  U32 offset;
  U32 size;
};
constexpr std::array<FieldWidth, 12> BACKUP_DATA_FIELDS = {{{BD_LAT, 4},
                                                            {BD_LON, 4},
                                                            {BD_ALT, 4},
                                                            {BD_CDRIFT, 4},
                                                            {BD_GPS_TOW, 8},
                                                            {BD_RTC_GPS_RATIO, 8},
                                                            {BD_RTC_RATIO_QUALITY, 4},
                                                            {BD_RTC_SEC, 4},
                                                            {BD_RTC_WN, 2},
                                                            {BD_RTC_SUBSEC, 2},
                                                            {BD_RTC_GPS_SS_DIF, 2},
                                                            {BD_GPS_WN, 2}}};
constexpr std::array<FieldWidth, 2> CLOCK_RECORD_FIELDS = {{{CR_HAS_RELIABLE, 4}, {CR_OFFSET, 4}}};

// Drift (m/s) to a frequency offset (Hz) at L1: 1575.42e6 / c.
constexpr D64 MPS_TO_HZ_L1 = 5.2550354685707275;
constexpr U32 NO_OFFSET = std::numeric_limits<U32>::max();

U08* Region = nullptr;
U32 Backup_data_addr0 = NO_OFFSET;
U32 Backup_data_addr1 = NO_OFFSET;
U32 Clock_record_addr = NO_OFFSET;
U32 Clock_record_crc_addr = NO_OFFSET;

void require_layout() {
  talon_assert(Region != nullptr && Backup_data_addr0 != NO_OFFSET, "Backup_data_addr0");
  talon_assert(Backup_data_addr1 != NO_OFFSET, "Backup_data_addr1");
  talon_assert(Clock_record_addr != NO_OFFSET, "Clock_record_addr");
  talon_assert(Clock_record_crc_addr != NO_OFFSET, "Clock_record_crc_addr");
}

template <typename T>
T get(const U08* p, U32 off) {
  T v;
  std::memcpy(&v, p + off, sizeof v);
  return v;
}
template <typename T>
void put(U08* p, U32 off, T v) {
  std::memcpy(p + off, &v, sizeof v);
}

// Truncation toward zero, saturated to the S32 range (NaN gives 0).
S32 trunc_s32(D64 v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<S32>::max();
  if (v <= -2147483648.0) return std::numeric_limits<S32>::min();
  return static_cast<S32>(v);
}

bool record_valid(const U08* rec, U32 len, U16 stored_crc) { return stored_crc != 0 && stored_crc == crc16(rec, len); }

bool sector_valid(U32 addr) {
  const U08* s = Region + addr;
  return record_valid(s, BACKUP_DATA_SIZE, get<U16>(s, BACKUP_DATA_SIZE));
}

void write_sector(U32 addr, const U08* rec) {
  std::memcpy(Region + addr, rec, BACKUP_DATA_SIZE);
  put<U16>(Region + addr, BACKUP_DATA_SIZE, crc16(rec, BACKUP_DATA_SIZE));
}

void reverse(U08* p, U32 n) {
  for (U32 i = 0; i < n / 2; ++i) {
    const U08 t = p[i];
    p[i] = p[n - 1 - i];
    p[n - 1 - i] = t;
  }
}

// Byte-order conversion of one record in place. A record valid in the other
// byte order gets its CRC recomputed; one that was already in this order
// (and is garbled by the swap) is invalidated.
template <std::size_t N>
void convert_record(U08* rec, U32 len, U08* crc_p, const std::array<FieldWidth, N>& fields) {
  const U16 crc_before = crc16(rec, len);
  reverse(crc_p, 2);
  for (const FieldWidth& f : fields) reverse(rec + f.offset, f.size);
  const U16 crc_after = crc16(rec, len);
  const U16 stored = get<U16>(crc_p, 0);
  if (stored == crc_before)
    put<U16>(crc_p, 0, crc_after);
  else if (stored == crc_after)
    put<U16>(crc_p, 0, U16{0});
}

}  // namespace

S16 KBACKUP_init_storage_address(U08* region_p, U32 init_offset) {
  Region = region_p;
  const U32 start = KBACKUP_align8(init_offset);
  Backup_data_addr0 = start;
  Backup_data_addr1 = KBACKUP_align8(Backup_data_addr0 + BACKUP_SECTOR_SIZE);
  Clock_record_addr = KBACKUP_align8(Backup_data_addr1 + BACKUP_SECTOR_SIZE);
  Clock_record_crc_addr = Clock_record_addr + CLOCK_RECORD_SIZE;
  return static_cast<S16>(KBACKUP_align8(Clock_record_crc_addr + 2) - init_offset);
}

U32 KBACKUP_init(U08* region_p) {
  if (region_p != nullptr) KBACKUP_init_storage_address(region_p, 0);
  require_layout();
  if (ENDIAN_need_swap()) {
    for (U32 addr : {Backup_data_addr0, Backup_data_addr1})
      convert_record(Region + addr, BACKUP_DATA_SIZE, Region + addr + BACKUP_DATA_SIZE, BACKUP_DATA_FIELDS);
    convert_record(Region + Clock_record_addr, CLOCK_RECORD_SIZE, Region + Clock_record_crc_addr, CLOCK_RECORD_FIELDS);
  }
  return KBACKUP_align8(Clock_record_crc_addr + 2);
}

void KBACKUP_store_time_and_position(const KBACKUP_STATE_IN_T* in) {
  require_layout();
  std::array<U08, BACKUP_DATA_SIZE> rec{};
  put<S32>(rec.data(), BD_LAT, trunc_s32(in->lla.lat * 1e8));
  put<S32>(rec.data(), BD_LON, trunc_s32(in->lla.lon * 1e8));
  put<S32>(rec.data(), BD_ALT, trunc_s32(static_cast<D64>(in->lla.alt) * 100.0));
  put<S32>(rec.data(), BD_CDRIFT, trunc_s32(static_cast<D64>(in->cdrift) * 1000.0));
  put<D64>(rec.data(), BD_GPS_TOW, in->gps_tow);
  put<D64>(rec.data(), BD_RTC_GPS_RATIO, in->rtc_gps_ratio);
  put<U32>(rec.data(), BD_RTC_RATIO_QUALITY, in->rtc_gps_ratio_quality);
  put<S32>(rec.data(), BD_RTC_SEC, in->rtc_sec);
  put<S16>(rec.data(), BD_RTC_WN, in->rtc_wn);
  put<S16>(rec.data(), BD_RTC_SUBSEC, in->rtc_subsec);
  put<S16>(rec.data(), BD_RTC_GPS_SS_DIF, in->rtc_gps_ss_dif);
  put<S16>(rec.data(), BD_GPS_WN, in->gps_wn);
  write_sector(Backup_data_addr0, rec.data());
  write_sector(Backup_data_addr1, rec.data());
}

void KBACKUP_store_position_only(const LLA_T* lla) {
  require_layout();
  for (U32 addr : {Backup_data_addr0, Backup_data_addr1}) {
    if (!sector_valid(addr)) continue;  // an invalid sector stays invalid
    std::array<U08, BACKUP_DATA_SIZE> rec{};
    std::memcpy(rec.data(), Region + addr, BACKUP_DATA_SIZE);
    put<S32>(rec.data(), BD_LAT, trunc_s32(lla->lat * 1e8));
    put<S32>(rec.data(), BD_LON, trunc_s32(lla->lon * 1e8));
    put<S32>(rec.data(), BD_ALT, trunc_s32(static_cast<D64>(lla->alt) * 100.0));
    write_sector(addr, rec.data());
  }
}

S16 KBACKUP_set_clock_offset(S32 clock_offset) {
  require_layout();
  U08* r = Region + Clock_record_addr;
  put<S32>(r, CR_HAS_RELIABLE, 1);
  put<S32>(r, CR_OFFSET, clock_offset);
  put<U16>(Region, Clock_record_crc_addr, crc16(r, CLOCK_RECORD_SIZE));
  return 1;
}

void KBACKUP_store_clock_drift(F32 cdrift) {
  KBACKUP_set_clock_offset(trunc_s32(-static_cast<D64>(cdrift) * MPS_TO_HZ_L1));
}

S16 KBACKUP_process(U16) {
  const S16 fixmode = NV_get_fixmode();
  S16 due = 0;
  if (fixmode >= FIX_3D) {
    const U32 fix_count = NV_get_fix_count();
    const S16 svs = NV_get_fix_svs();
    LLA_T lla{};
    NV_get_lla_position(&lla);
    D64 cbias = 0.0;
    F32 cdrift = 0.0f;
    NV_get_clock_bias_drift(&cbias, &cdrift);
    const bool store_time = (fix_count > 2 && svs > 3) || CH_has_any_real_frame_sync();
    if (store_time) {
      due = 1;
      if (KRTC_is_valid()) {
        KBACKUP_STATE_IN_T in{};
        in.lla = lla;
        in.cdrift = cdrift;
        U16 wn = 0;
        NV_get_time(&in.gps_tow, &wn);
        in.gps_wn = static_cast<S16>(wn);
        KRTC_get_rtc_time(&in.rtc_wn, &in.rtc_sec, &in.rtc_subsec, &in.rtc_gps_ss_dif);
        KRTC_get_rtc_ratio(&in.rtc_gps_ratio, &in.rtc_gps_ratio_quality);
        KBACKUP_store_time_and_position(&in);
      }
    } else {
      KBACKUP_store_position_only(&lla);
    }
    VEL_T v{};
    NV_get_ecef_velocity(&v);
    if (fix_count > 4 && svs > 4 && NV_get_tdop() <= 2.0f && v.vx <= 0.5f && v.vy <= 0.5f && v.vz <= 0.5f)
      KBACKUP_store_clock_drift(cdrift);
  }
  return due;
}

S16 KBACKUP_get_receiver_states(KBACKUP_T* data_p) {
  require_layout();
  U32 addr = Backup_data_addr0;
  if (!sector_valid(addr)) {
    addr = Backup_data_addr1;
    if (!sector_valid(addr)) return 0;
  }
  const U08* s = Region + addr;
  KBACKUP_T d{};
  d.lla.lat = get<S32>(s, BD_LAT) * 1e-8;
  d.lla.lon = get<S32>(s, BD_LON) * 1e-8;
  d.lla.alt = static_cast<F32>(get<S32>(s, BD_ALT) * 0.01);
  d.cdrift = static_cast<F32>(get<S32>(s, BD_CDRIFT) * 0.001);
  d.last_stored_D64_gps_tow = get<D64>(s, BD_GPS_TOW);
  d.last_stored_gps_wn = get<S16>(s, BD_GPS_WN);
  d.last_stored_rtc_wn = get<S16>(s, BD_RTC_WN);
  d.last_stored_rtc_sec = get<S32>(s, BD_RTC_SEC);
  d.last_stored_rtc_subsec = get<S16>(s, BD_RTC_SUBSEC);
  d.rtc_gps_ss_dif = get<S16>(s, BD_RTC_GPS_SS_DIF);
  d.rtc_gps_ratio = get<D64>(s, BD_RTC_GPS_RATIO);
  d.rtc_gps_ratio_quality = get<U32>(s, BD_RTC_RATIO_QUALITY);
  KRTC_set_rtc_ratio(d.rtc_gps_ratio, d.rtc_gps_ratio_quality, d.last_stored_D64_gps_tow, d.last_stored_gps_wn,
                     d.last_stored_rtc_wn, d.last_stored_rtc_sec, d.last_stored_rtc_subsec);
  *data_p = d;
  return 1;
}

S16 KBACKUP_get_clock_offset(S32* clock_offset_p) {
  require_layout();
  const U08* r = Region + Clock_record_addr;
  if (!record_valid(r, CLOCK_RECORD_SIZE, get<U16>(Region, Clock_record_crc_addr))) return 0;
  if (get<S32>(r, CR_HAS_RELIABLE) != 1) return 0;
  *clock_offset_p = get<S32>(r, CR_OFFSET);
  return 1;
}

void KBACKUP_clear_data() {
  require_layout();
  put<U16>(Region + Backup_data_addr0, BACKUP_DATA_SIZE, U16{0});
  put<U16>(Region + Backup_data_addr1, BACKUP_DATA_SIZE, U16{0});
}
