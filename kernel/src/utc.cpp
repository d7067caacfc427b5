// GPS time and UTC: page 18 parameters, leap seconds and calendar conversions.
#include "kernel/src/utc.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "kernel/src/backup_layout.h"
#include "kernel/src/settings.h"
#include "misc/crc16.h"
#include "misc/endian_swap.h"

namespace {

// The backup record, 48 bytes without padding, followed by its CRC-16.
struct UTC_PARAMETER {
  D64 A0;           // s
  D64 A1;           // s/s
  S32 tot;          // reference time of the UTC data, s of week
  S16 delta_t_LS;   // current leap seconds, s
  S16 WNt;          // UTC reference week, 8 bits
  S16 WN_LSF;       // leap-second effectivity week, 8 bits
  S16 delta_t_LSF;  // leap seconds after the event, s
  S16 utc_valid;    // 1: parameters present
  U08 DN;           // day number of the event, 1..7
  U08 rsvd1;
  S16 reliable_leap_sec_is_valid;  // 1: the leap-second count is confirmed
  S16 reliable_leap_sec;           // s
  S16 stamp_time_is_valid;         // 1: receive time known
  S16 stamp_time_wn;               // GPS week of reception
  S32 stamp_time_tow;              // GPS time of week of reception, s
  std::array<U08, 4> rsvd2;
};
static_assert(sizeof(UTC_PARAMETER) == UTC_RECORD_SIZE);
static_assert(offsetof(UTC_PARAMETER, tot) == 16 && offsetof(UTC_PARAMETER, DN) == 30 &&
              offsetof(UTC_PARAMETER, stamp_time_tow) == 40);

constexpr S32 SEC_PER_DAY = 86400;
constexpr S32 HALF_DAY = 43200;
constexpr D64 LARGE_A0 = 0.0001;         // s: an offset this large needs a second page
constexpr S16 PAGE18_SV_ID = 56;         // SV ID of subframe 4 page 18
constexpr S16 CONFIRM_COUNT_MAX = 10;    // agreeing pages counted at most
constexpr S16 CONFIRM_COUNT_NEEDED = 3;  // agreements that confirm the leap seconds
constexpr D64 SEC_LIMIT = 59.999996185302734;
constexpr std::array<S32, 13> DAYS_BEFORE_MONTH = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};
constexpr std::array<S32, 13> DAYS_BEFORE_MONTH_LEAP = {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366};

UTC_PARAMETER Utc{};
U08* Region = nullptr;
U32 Record_offset = 0;
S16 UTC_default_leap_second = 16;  // s
S16 Utc_check_leap_second_count = 0;
S16 Utc_large_a0_count = 0;
S16 Utc_large_a1_count = 0;
S16 Utc_shift_mode = UTC_NORMAL;
S32 Pos_interval_ms = 1000;

// Offsets and widths (bytes) of the record's multi-byte fields.
struct FieldWidth {
  U32 offset, size;
};
constexpr std::array<FieldWidth, 13> RECORD_FIELDS = {{{0, 8},
                                                       {8, 8},
                                                       {16, 4},
                                                       {20, 2},
                                                       {22, 2},
                                                       {24, 2},
                                                       {26, 2},
                                                       {28, 2},
                                                       {32, 2},
                                                       {34, 2},
                                                       {36, 2},
                                                       {38, 2},
                                                       {40, 4}}};

void reverse(U08* p, U32 n) {
  for (U32 i = 0; i < n / 2; ++i) {
    const U08 t = p[i];
    p[i] = p[n - 1 - i];
    p[n - 1 - i] = t;
  }
}

// The stored record in the other byte order, converted in place: a record
// valid in that order gets its CRC recomputed, one that was already in this
// order (and is garbled by the swap) is invalidated.
void convert_record_byte_order(U08* rec) {
  U08* crc_p = rec + UTC_RECORD_SIZE;
  const U16 crc_before = crc16(rec, UTC_RECORD_SIZE);
  reverse(crc_p, 2);
  for (const FieldWidth& f : RECORD_FIELDS) reverse(rec + f.offset, f.size);
  const U16 crc_after = crc16(rec, UTC_RECORD_SIZE);
  U16 stored = 0;
  std::memcpy(&stored, crc_p, sizeof stored);
  U16 fixed = stored;
  if (stored == crc_before)
    fixed = crc_after;
  else if (stored == crc_after)
    fixed = 0;
  std::memcpy(crc_p, &fixed, sizeof fixed);
}

// Floor division and non-negative remainder for a positive divisor.
S64 floor_div(S64 a, S64 b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
D64 pos_fmod(D64 a, D64 b) {
  const D64 r = std::fmod(a, b);
  return r < 0.0 ? r + b : r;
}

// Bits Dfirst..Dlast (1-based, first transmitted first) of a polarity-corrected word.
U32 dbits(U32 word, int first, int last) {
  const int n = last - first + 1;
  return (word >> (30 - last)) & ((1u << n) - 1u);
}
S32 signed_bits(U32 v, int n) {
  const U32 sign = 1u << (n - 1);
  return static_cast<S32>((v ^ sign) - sign);
}

void write_record() {
  if (Region == nullptr) return;
  std::memcpy(Region + Record_offset, &Utc, UTC_RECORD_SIZE);
  const U16 crc = crc16(Region + Record_offset, UTC_RECORD_SIZE);
  std::memcpy(Region + Record_offset + UTC_RECORD_SIZE, &crc, sizeof crc);
}

// An 8-bit week difference brought into -128..128.
S32 week_diff8(S32 d) {
  d %= 256;
  if (d > 128) d -= 256;
  if (d < -128) d += 256;
  return d;
}

S32 interval_of_rate(S32 rate) {
  switch (rate) {
    case 2:
      return 500;
    case 4:
      return 250;
    case 5:
      return 200;
    case 8:
      return 125;
    case 10:
      return 100;
    case 20:
      return 50;
    case 25:
      return 40;
    case 40:
      return 25;
    case 50:
      return 20;
    default:
      return 1000;
  }
}

// Days since 6 January 1980 and second of day (whole s, 0..86400 in a leap
// second) plus a fraction (s) to the calendar.
void day_and_tod_to_utc(S64 day, S32 sod, D64 frac, UTC_TIME_T* utc_p) {
  const S64 d = day + 5;  // days since 1 January 1980
  const S64 years = (d - (floor_div(day - 55, 1461) + 1)) / 365;
  const S64 doy0 = d - 365 * years - (years + 3) / 4;
  const S32 year = static_cast<S32>(1980 + years);
  const auto& table = year % 4 == 0 ? DAYS_BEFORE_MONTH_LEAP : DAYS_BEFORE_MONTH;
  std::size_t m = 1;
  while (m < 12 && doy0 >= table[m]) ++m;
  S32 hour = sod / 3600;
  if (hour > 23) hour = 23;
  S32 minute = (sod - hour * 3600) / 60;
  if (minute > 59) minute = 59;
  const S32 whole = sod - hour * 3600 - minute * 60;
  D64 sec = static_cast<D64>(whole) + static_cast<D64>(static_cast<F32>(frac));
  const bool leap_announced = Utc.utc_valid != 0 && Utc.delta_t_LSF != Utc.delta_t_LS;
  if (sec >= 60.0 && !leap_announced) sec = SEC_LIMIT;
  utc_p->year = static_cast<S16>(year);
  utc_p->month = static_cast<S16>(m);
  utc_p->day = static_cast<S16>(doy0 - table[m - 1] + 1);
  utc_p->day_of_year = static_cast<S16>(doy0 + 1);
  utc_p->hour = static_cast<S16>(hour);
  utc_p->minute = static_cast<S16>(minute);
  utc_p->sec = sec;
}

// UTC seconds since the GPS epoch (whole part, fraction) to the calendar.
void utc_seconds_to_utc(S64 whole, D64 frac, UTC_TIME_T* utc_p) {
  const S64 day = floor_div(whole, SEC_PER_DAY);
  day_and_tod_to_utc(day, static_cast<S32>(whole - day * SEC_PER_DAY), frac, utc_p);
}

// Total seconds since the GPS epoch minus offset (s), split into whole and fraction.
void split(S16 wn, D64 tow, D64 offset, S64* whole_p, D64* frac_p) {
  const D64 t = tow - offset;
  const D64 w = std::floor(t);
  *whole_p = static_cast<S64>(wn) * SECONDS_PER_WEEK + static_cast<S64>(w);
  *frac_p = t - w;
}

// IS-GPS-200 20.3.3.5.2.4 with the broadcast parameters.
void convert_with_parameters(S16 wn, D64 tow, UTC_TIME_T* utc_p) {
  const D64 whole_tow = std::floor(tow);
  const S32 dw = week_diff8(static_cast<S32>(wn % 256) - Utc.WN_LSF);
  const S64 t = static_cast<S64>(SECONDS_PER_WEEK) * dw + static_cast<S64>(whole_tow) - Utc.delta_t_LS;
  const S64 x = t + static_cast<S64>(1 - Utc.DN) * SEC_PER_DAY - 64800;
  const S32 dwt = week_diff8(static_cast<S32>(wn % 256) - Utc.WNt);
  const D64 a_term = Utc.A0 + Utc.A1 * (tow - Utc.tot + static_cast<D64>(SECONDS_PER_WEEK) * dwt);
  if (x >= 0 && x <= HALF_DAY) {
    const D64 dt_utc = Utc.delta_t_LS + a_term;
    const D64 w = pos_fmod(tow - dt_utc - HALF_DAY, SEC_PER_DAY) + HALF_DAY;
    const D64 day_len = SEC_PER_DAY + Utc.delta_t_LSF - Utc.delta_t_LS;
    const D64 t_utc = pos_fmod(w, day_len);
    S64 whole = 0;
    D64 frac = 0.0;
    split(wn, tow, dt_utc + HALF_DAY, &whole, &frac);
    const S64 day = floor_div(whole, SEC_PER_DAY) + static_cast<S64>(std::floor(w / day_len));
    const D64 sod = std::floor(t_utc);
    day_and_tod_to_utc(day, static_cast<S32>(sod), t_utc - sod, utc_p);
    return;
  }
  const S16 ls = (x < 0 && Utc.delta_t_LSF != Utc.delta_t_LS) ? Utc.delta_t_LS : Utc.delta_t_LSF;
  S64 whole = 0;
  D64 frac = 0.0;
  split(wn, tow, ls + a_term, &whole, &frac);
  utc_seconds_to_utc(whole, frac, utc_p);
}

// Refusal of implausible pages: the first large A0 or non-zero A1 in a row
// is refused, the second taken.
bool passes_double_check(D64 a0, D64 a1) {
  bool ok = true;
  if (std::fabs(a0) >= LARGE_A0) {
    if (++Utc_large_a0_count < 2) ok = false;
  } else {
    Utc_large_a0_count = 0;
  }
  if (a1 != 0.0) {
    if (++Utc_large_a1_count < 2) ok = false;
  } else {
    Utc_large_a1_count = 0;
  }
  if (ok) {
    if (Utc_large_a0_count >= 2) Utc_large_a0_count = 0;
    if (Utc_large_a1_count >= 2) Utc_large_a1_count = 0;
  }
  return ok;
}

}  // namespace

S16 UTC_init_storage_address(U08* region_p, U32 offset) {
  Region = region_p;
  Record_offset = offset;
  return static_cast<S16>(UTC_BACKUP_SIZE);
}

S16 UTC_init(U08* region_p) {
  if (region_p != nullptr) UTC_init_storage_address(region_p, 0);
  Utc_check_leap_second_count = 0;
  Utc_large_a0_count = 0;
  Utc_large_a1_count = 0;
  Utc_shift_mode = UTC_NORMAL;
  Pos_interval_ms = interval_of_rate(SETTINGS_get_n_hz_position_rate());
  if (Region == nullptr) {
    Utc = UTC_PARAMETER{};
    return static_cast<S16>(UTC_BACKUP_SIZE);
  }
  if (ENDIAN_need_swap() != 0) convert_record_byte_order(Region + Record_offset);
  std::memcpy(&Utc, Region + Record_offset, UTC_RECORD_SIZE);
  U16 stored = 0;
  std::memcpy(&stored, Region + Record_offset + UTC_RECORD_SIZE, sizeof stored);
  const bool good = stored != 0 && stored == crc16(Region + Record_offset, UTC_RECORD_SIZE);
  if (good) {
    Utc.utc_valid = 1;
  } else {
    Utc.utc_valid = 0;
    Utc.reliable_leap_sec_is_valid = 0;
  }
  return static_cast<S16>(UTC_BACKUP_SIZE);
}

void UTC_update_default_leap_second_from_flash(S16 leap_sec) { UTC_default_leap_second = leap_sec; }

S16 UTC_update_utc_parameters(S16 wn, S32 tow, S16 gps_time_is_valid, const U32* words) {
  if (words == nullptr) return 0;
  if (static_cast<S16>(dbits(words[2], 3, 8)) != PAGE18_SV_ID) return 0;
  const U32 a0_raw = (dbits(words[6], 1, 24) << 8) | dbits(words[7], 1, 8);
  const D64 a0 = std::ldexp(static_cast<D64>(static_cast<S32>(a0_raw)), -30);
  const D64 a1 = std::ldexp(static_cast<D64>(signed_bits(dbits(words[5], 1, 24), 24)), -50);
  const U08 dn = static_cast<U08>(dbits(words[8], 17, 24));
  if (!passes_double_check(a0, a1)) return 0;
  const auto dt_ls = static_cast<S16>(signed_bits(dbits(words[8], 1, 8), 8));
  if (Utc.utc_valid != 0) {
    if (dt_ls != Utc.delta_t_LS) {
      Utc_check_leap_second_count = 0;
      Utc.reliable_leap_sec_is_valid = 0;
    } else {
      if (Utc_check_leap_second_count < CONFIRM_COUNT_MAX) ++Utc_check_leap_second_count;
      if (Utc_check_leap_second_count >= CONFIRM_COUNT_NEEDED) {
        Utc.reliable_leap_sec = dt_ls;
        Utc.reliable_leap_sec_is_valid = 1;
      }
    }
  }
  Utc.A0 = a0;
  Utc.A1 = a1;
  Utc.delta_t_LS = dt_ls;
  Utc.tot = static_cast<S32>(dbits(words[7], 9, 16)) * 4096;
  Utc.WNt = static_cast<S16>(dbits(words[7], 17, 24));
  Utc.WN_LSF = static_cast<S16>(dbits(words[8], 9, 16));
  Utc.DN = dn;
  Utc.delta_t_LSF = static_cast<S16>(signed_bits(dbits(words[9], 1, 8), 8));
  Utc.utc_valid = 1;
  if (gps_time_is_valid != 0) {
    Utc.stamp_time_is_valid = 1;
    Utc.stamp_time_wn = wn;
    Utc.stamp_time_tow = tow;
  }
  write_record();
  return 1;
}

void UTC_convert_gps_to_utc_time(S16 wn, D64 tow, UTC_TIME_T* utc_p, D64* modified_tow_p) {
  if (Utc_shift_mode == UTC_ADVANCE_HALF_SECOND) tow -= 0.5;
  if (Utc_shift_mode == UTC_ADVANCE_ONE_SECOND) tow -= 1.0;
  if (modified_tow_p != nullptr) *modified_tow_p = tow;
  const D64 whole = std::floor(tow);
  const auto ms = static_cast<S32>((tow - whole) * 1000.0);
  S32 k = ms / Pos_interval_ms;
  if ((ms - k * Pos_interval_ms) * 2 > Pos_interval_ms) ++k;  // ties go to the lower multiple
  tow = whole + static_cast<D64>(k * Pos_interval_ms) / 1000.0 + 0.0005;
  if (Utc.utc_valid != 0) {
    convert_with_parameters(wn, tow, utc_p);
    return;
  }
  UTC_convert_gps_to_utc_time_by_default_parameters(wn, tow, utc_p);
}

void UTC_convert_gps_to_utc_time_by_default_parameters(S16 wn, D64 tow, UTC_TIME_T* utc_p) {
  S64 whole = 0;
  D64 frac = 0.0;
  split(wn, tow, wn == 0 ? 0.0 : static_cast<D64>(UTC_default_leap_second), &whole, &frac);
  utc_seconds_to_utc(whole, frac, utc_p);
}

void UTC_convert_gps_to_utc_time_without_leap_sec_adjustment(S16 wn, D64 tow, UTC_TIME_T* utc_p) {
  S64 whole = 0;
  D64 frac = 0.0;
  split(wn, tow, 0.0, &whole, &frac);
  utc_seconds_to_utc(whole, frac, utc_p);
}

// UTC calendar time to GPS week and time of week with the default leap
// seconds. The GPS time scale starts on 6 January 1980, five days (432 000 s)
// after 1 January 1980.
void UTC_convert_utc_to_gps_time(const UTC_TIME_T* utc_p, S16* wn_p, D64* tow_p) {
  const S32 years = utc_p->year - 1980;
  const S32 leap_years = (years + 3) / 4;  // leap years 1980 .. year-1
  const bool is_leap = utc_p->year % 4 == 0;
  S32 day_of_year = DAYS_BEFORE_MONTH[static_cast<std::size_t>(utc_p->month - 1)] + utc_p->day - 1;
  if (is_leap && utc_p->month > 2) day_of_year += 1;
  const D64 whole_sec = static_cast<D64>(static_cast<S64>(utc_p->sec));
  const S64 seconds = static_cast<S64>(leap_years) * 31622400 + static_cast<S64>(years - leap_years) * 31536000 +
                      static_cast<S64>(day_of_year) * 86400 + utc_p->hour * 3600 + utc_p->minute * 60 +
                      static_cast<S64>(whole_sec) + UTC_default_leap_second - 432000;
  *wn_p = static_cast<S16>(seconds / SECONDS_PER_WEEK);
  *tow_p = static_cast<D64>(seconds % SECONDS_PER_WEEK) + (utc_p->sec - whole_sec);
}

void UTC_time_shift(S16 shift) { Utc_shift_mode = shift; }

S16 UTC_has_valid_utc_parameters() { return Utc.utc_valid != 0 ? 1 : 0; }

S16 UTC_get_reliable_leap_sec(S32* leap_sec_p) {
  if (Utc.reliable_leap_sec_is_valid == 0) return 0;
  if (leap_sec_p != nullptr) *leap_sec_p = Utc.reliable_leap_sec;
  return 1;
}

S16 UTC_get_default_used_leap_second() { return UTC_default_leap_second; }

S16 UTC_get_utc_t_LS_and_t_LSF(S16* t_ls_p, S16* t_lsf_p) {
  if (Utc.utc_valid == 0) return 0;
  *t_ls_p = Utc.delta_t_LS;
  *t_lsf_p = Utc.delta_t_LSF;
  return 1;
}

S16 UTC_get_leap_second_adjustment_utc_time(S16 gps_wn, S32, U16* year_p, U08* month_p, U08* day_p, U08* hour_p,
                                            U08* minute_p, U08* second_p) {
  if (Utc.utc_valid == 0) return 0;
  // Full week of the event: the upper bits from gps_wn, the nearest match of the 8 bits.
  const S32 wn_lsf = gps_wn + week_diff8(Utc.WN_LSF - static_cast<S32>(gps_wn % 256));
  const S64 day = static_cast<S64>(wn_lsf) * 7 + Utc.DN;  // start of day DN + 1
  UTC_TIME_T t{};
  day_and_tod_to_utc(day, 0, 0.0, &t);
  *year_p = static_cast<U16>(t.year);
  *month_p = static_cast<U08>(t.month);
  *day_p = static_cast<U08>(t.day);
  *hour_p = static_cast<U08>(t.hour);
  *minute_p = static_cast<U08>(t.minute);
  *second_p = static_cast<U08>(t.sec);
  return 1;
}

S16 UTC_get_time_stamp_of_utc_parameter(UTC_TIME_T* utc_p) {
  if (Utc.stamp_time_is_valid == 0) return 0;
  UTC_convert_gps_to_utc_time_by_default_parameters(Utc.stamp_time_wn, Utc.stamp_time_tow, utc_p);
  return 1;
}

void UTC_clear_all() {
  Utc.utc_valid = 0;
  Utc.reliable_leap_sec_is_valid = 0;
  Utc_check_leap_second_count = 0;
  if (Region == nullptr) return;
  std::memcpy(Region + Record_offset, &Utc, UTC_RECORD_SIZE);
  const U16 zero = 0;
  std::memcpy(Region + Record_offset + UTC_RECORD_SIZE, &zero, sizeof zero);
}
