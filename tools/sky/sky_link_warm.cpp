// The warm-start image of a replay set: the receiver-state sectors at the head
// of the backup memory image as a receiver leaves them after a fix, so that
// the navigation kernel starts with the stored position and with GPS time
// predicted from the RTC reading of the set.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

#include "misc/crc16.h"
#include "tools/sky/sky_link.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double C_MPS = 299792458.0;        // speed of light, m/s
constexpr int64_t RTC_WEEKS = 4096;          // the RTC week counter wraps here
constexpr double RTC_HZ = 32768.0;           // RTC sub-second counts per second
constexpr uint32_t RATIO_BASELINE_S = 3600;  // the stored ratio counts as measured over an hour
constexpr std::size_t SECTOR_DATA = 48;      // bytes of one sector before its CRC
constexpr std::size_t IONO_DATA = 32;        // bytes of the ionospheric record before its CRC
// Scale exponents of the Klobuchar fields: alpha0..3 2^-30 s, 2^-27 s/sc,
// 2^-24 s/sc^2, 2^-24 s/sc^3; beta0..3 2^11 s, 2^14 s/sc, 2^16 s/sc^2, 2^16 s/sc^3.
constexpr std::array<int, 4> ALPHA_EXP = {-30, -27, -24, -24};
constexpr std::array<int, 4> BETA_EXP = {11, 14, 16, 16};

// Field offsets of one sector.
enum : std::size_t {
  F_LAT = 0,
  F_LON = 4,
  F_ALT = 8,
  F_CDRIFT = 12,
  F_GPS_TOW = 16,
  F_RATIO = 24,
  F_QUALITY = 32,
  F_RTC_SEC = 36,
  F_RTC_WN = 40,
  F_RTC_SUBSEC = 42,
  F_SS_DIF = 44,
  F_GPS_WN = 46,
};

// v at p in the chosen byte order.
template <typename T>
void put(U08* p, T v, bool big_endian) {
  std::memcpy(p, &v, sizeof v);
  if (big_endian != (std::endian::native == std::endian::big)) std::reverse(p, p + sizeof v);
}

int32_t round_s32(double v) { return static_cast<int32_t>(std::lround(v)); }

// An 8-bit signed message field of value v with LSB 2^lsb_exp, rounded.
int32_t quantise_s8(double v, int lsb_exp) {
  return static_cast<int32_t>(std::clamp<long>(std::lround(std::ldexp(v, -lsb_exp)), -128L, 127L));
}

// The full week of an RTC reading with the 12-bit week wn, taken near the
// true full week near_week.
int64_t rtc_full_week(int32_t near_week, int16_t wn) {
  for (int64_t k = -1; k <= 1; ++k) {
    const int64_t w = near_week + k;
    if (w >= 0 && w % RTC_WEEKS == wn) return w;
  }
  return near_week;
}

void write_sector(const SKY_LINK_WARM_T& w, bool be, U08* p) {
  put(p + F_LAT, w.lat_e8, be);
  put(p + F_LON, w.lon_e8, be);
  put(p + F_ALT, w.alt_cm, be);
  put(p + F_CDRIFT, w.cdrift_mm_s, be);
  put(p + F_GPS_TOW, w.fix_time.tow, be);
  put(p + F_RATIO, w.rtc_gps_ratio, be);
  put(p + F_QUALITY, w.ratio_quality, be);
  put(p + F_RTC_SEC, w.rtc.sec, be);
  put(p + F_RTC_WN, w.rtc.wn, be);
  put(p + F_RTC_SUBSEC, static_cast<int16_t>(w.rtc.subsec), be);
  put(p + F_SS_DIF, int16_t{0}, be);  // the stored time is that of the RTC stamp itself
  put(p + F_GPS_WN, static_cast<int16_t>(w.fix_time.week), be);
  put(p + SECTOR_DATA, crc16(p, SECTOR_DATA), be);
}

}  // namespace

int SKY_LINK_warm_state(const SKY_SCENARIO_T* sc, const SKY_RTC_MODEL_T& m, const SKY_RTC_T& rtc_read,
                        SKY_LINK_WARM_T* out) {
  if (sc == nullptr || out == nullptr) return 0;
  SKY_LINK_WARM_T w;
  const double* llh = sc->n_waypoints > 0 ? &sc->waypoints[0][1] : sc->llh;  // degrees, degrees, m
  w.lat_e8 = round_s32(llh[0] * PI / 180.0 * 1e8);
  w.lon_e8 = round_s32(llh[1] * PI / 180.0 * 1e8);
  w.alt_cm = round_s32(llh[2] * 100.0);
  w.cdrift_mm_s = round_s32(sc->clk_drift * C_MPS * 1000.0);
  // The stored stamp: the reading less the age in whole seconds, same sub-second count.
  const int64_t read_total = rtc_full_week(sc->start.week, rtc_read.wn) * 604800 + rtc_read.sec;
  const int64_t stamp_total = read_total - static_cast<int64_t>(sc->warm_start_age_s);
  const int64_t stamp_week = stamp_total / 604800;
  w.rtc.wn = static_cast<int16_t>(stamp_week % RTC_WEEKS);
  w.rtc.sec = static_cast<int32_t>(stamp_total - stamp_week * 604800);
  w.rtc.subsec = rtc_read.subsec;
  // True time at which the RTC showed the stamp exactly.
  w.fix_time = SKY_LINK_gpst_add(SKY_LINK_rtc_second_time(m, stamp_total),
                                 static_cast<double>(w.rtc.subsec) / RTC_HZ / (1.0 + m.drift));
  w.rtc_gps_ratio = 1.0 + m.drift;
  w.ratio_quality = (static_cast<uint32_t>(w.rtc.sec / 16) << 16) | RATIO_BASELINE_S;
  *out = w;
  return 1;
}

int SKY_LINK_scenario_iono(const SKY_SCENARIO_T* sc, SKY_IONO_UTC_T* out) {
  if (sc == nullptr || out == nullptr) return 0;
  *out = SKY_IONO_UTC_T{};
  for (std::size_t i = 0; i < 4; ++i) {
    out->alpha[i] = quantise_s8(sc->iono_alpha[i], ALPHA_EXP[i]);
    out->beta[i] = quantise_s8(sc->iono_beta[i], BETA_EXP[i]);
  }
  return 1;
}

int SKY_LINK_warm_iono_image(const SKY_IONO_UTC_T& p, int big_endian, U08* region, std::size_t cap) {
  if (region == nullptr || cap < SKY_LINK_BACKUP_IONO + SKY_LINK_BACKUP_IONO_SIZE) return 0;
  U08* r = region + SKY_LINK_BACKUP_IONO;
  const bool be = big_endian != 0;
  for (std::size_t i = 0; i < 4; ++i) {
    put(r + 4 * i, static_cast<float>(std::ldexp(static_cast<double>(p.alpha[i]), ALPHA_EXP[i])), be);
    put(r + 16 + 4 * i, static_cast<int32_t>(std::ldexp(static_cast<double>(p.beta[i]), BETA_EXP[i])), be);
  }
  put(r + IONO_DATA, crc16(r, IONO_DATA), be);
  return 1;
}

int SKY_LINK_warm_image(const SKY_LINK_WARM_T& w, int big_endian, U08* region, std::size_t cap) {
  if (region == nullptr || cap < SKY_LINK_BACKUP_PIECE_SIZE) return 0;
  for (std::size_t off : {SKY_LINK_BACKUP_SECTOR0, SKY_LINK_BACKUP_SECTOR1})
    write_sector(w, big_endian != 0, region + off);
  return 1;
}
