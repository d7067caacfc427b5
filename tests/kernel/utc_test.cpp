// GPS time and UTC: page 18 decoding (IS-GPS-200 20.3.3.5.1.6, Figure 20-1
// sheet 8), the leap-second event (20.3.3.5.2.4) and calendar conversions.
// Calendar truth comes from the standard library's civil calendar.
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "kernel/src/backup_layout.h"
#include "kernel/src/settings.h"
#include "kernel/src/utc.h"
#include "misc/crc16.h"
#include "misc/endian_swap.h"

namespace {

// Page 18 source fields in the scaled units of IS-GPS-200 Table 20-IX.
struct Page18 {
  std::int32_t a0_raw = 0;  // 2^-30 s, 32 bits
  std::int32_t a1_raw = 0;  // 2^-50 s/s, 24 bits
  int tot_raw = 0;          // 2^12 s
  int wnt = 0;              // 8 bits
  int dt_ls = 0;            // s
  int wn_lsf = 0;           // 8 bits
  int dn = 0;               // 1..7
  int dt_lsf = 0;           // s
  int sv_id = 56;
};

// Polarity-corrected words: source data d1..d24 in bits 29..6.
std::array<U32, 10> words_of(const Page18& p) {
  auto w = [](std::uint32_t data24) { return static_cast<U32>((data24 & 0xFFFFFFu) << 6); };
  std::array<U32, 10> words{};
  words[2] = w((1u << 22) | (static_cast<std::uint32_t>(p.sv_id) << 16));  // data id 01, SV ID
  const auto a0 = static_cast<std::uint32_t>(p.a0_raw);
  words[5] = w(static_cast<std::uint32_t>(p.a1_raw));
  words[6] = w(a0 >> 8);
  words[7] = w(((a0 & 0xFFu) << 16) | (static_cast<std::uint32_t>(p.tot_raw & 0xFF) << 8) |
               static_cast<std::uint32_t>(p.wnt & 0xFF));
  words[8] = w((static_cast<std::uint32_t>(p.dt_ls & 0xFF) << 16) | (static_cast<std::uint32_t>(p.wn_lsf & 0xFF) << 8) |
               static_cast<std::uint32_t>(p.dn & 0xFF));
  words[9] = w(static_cast<std::uint32_t>(p.dt_lsf & 0xFF) << 16);
  return words;
}

// The 2016-12-31 leap second: 17 -> 18 s at the end of day 7 of week 1929.
Page18 leap_2016() {
  Page18 p;
  p.tot_raw = 147;  // 602112 s
  p.wnt = 1929 % 256;
  p.dt_ls = 17;
  p.wn_lsf = 1929 % 256;
  p.dn = 7;
  p.dt_lsf = 18;
  return p;
}

std::array<U08, UTC_BACKUP_SIZE> Region{};

void fresh(S16 rate_hz) {
  SETTINGS_init();
  ASSERT_EQ(SETTINGS_set_n_hz_position_rate(rate_hz), 1);
  Region.fill(0);
  UTC_init_storage_address(Region.data(), 0);
  UTC_init(nullptr);
  UTC_update_default_leap_second_from_flash(18);
  UTC_time_shift(UTC_NORMAL);
}

struct Civil {
  int y, m, d, doy;
};
// Calendar date of a day count from 6 January 1980.
Civil civil_of(long day) {
  using namespace std::chrono;
  const sys_days epoch = year{1980} / January / 6;
  const sys_days t = epoch + days{day};
  const year_month_day ymd{t};
  const sys_days jan1 = ymd.year() / January / 1;
  return {static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
          static_cast<int>(static_cast<unsigned>(ymd.day())), static_cast<int>((t - jan1).count()) + 1};
}

struct Expect {
  const char* name;
  S16 wn;
  D64 tow;
  int y, mo, d, h, mi;
  D64 sec;
};

void expect_utc(const Expect& e, const UTC_TIME_T& u) {
  SCOPED_TRACE(e.name);
  EXPECT_EQ(u.year, e.y);
  EXPECT_EQ(u.month, e.mo);
  EXPECT_EQ(u.day, e.d);
  EXPECT_EQ(u.hour, e.h);
  EXPECT_EQ(u.minute, e.mi);
  EXPECT_NEAR(u.sec, e.sec, 1e-3);
}

}  // namespace

TEST(Utc, Page18WordsDecodeToTheParameters) {
  fresh(1);
  Page18 p = leap_2016();
  p.a0_raw = -1234;    // -1.149e-6 s
  p.a1_raw = -0x7FFF;  // negative A1 at 2^-50
  const auto w = words_of(p);
  EXPECT_EQ(UTC_update_utc_parameters(1930, 100, 1, w.data()), 0);  // first non-zero A1 refused
  EXPECT_EQ(UTC_update_utc_parameters(1930, 130, 1, w.data()), 1);  // second taken
  EXPECT_EQ(UTC_has_valid_utc_parameters(), 1);
  S16 ls = 0;
  S16 lsf = 0;
  ASSERT_EQ(UTC_get_utc_t_LS_and_t_LSF(&ls, &lsf), 1);
  EXPECT_EQ(ls, 17);
  EXPECT_EQ(lsf, 18);
  // Stored record fields at their offsets, CRC-16 behind them.
  D64 a0 = 0;
  D64 a1 = 0;
  S32 tot = 0;
  S16 wnt = 0;
  S16 wn_lsf = 0;
  std::memcpy(&a0, Region.data() + 0, 8);
  std::memcpy(&a1, Region.data() + 8, 8);
  std::memcpy(&tot, Region.data() + 16, 4);
  std::memcpy(&wnt, Region.data() + 22, 2);
  std::memcpy(&wn_lsf, Region.data() + 24, 2);
  EXPECT_EQ(a0, -1234.0 / 1073741824.0);
  EXPECT_EQ(a1, std::ldexp(-32767.0, -50));
  EXPECT_EQ(tot, 602112);
  EXPECT_EQ(wnt, 1929 % 256);
  EXPECT_EQ(wn_lsf, 1929 % 256);
  EXPECT_EQ(Region[30], 7);  // DN
  S32 stamp_tow = 0;
  std::memcpy(&stamp_tow, Region.data() + 40, 4);
  EXPECT_EQ(stamp_tow, 130);
  // The record survives a restart from the region; a broken CRC loses it.
  UTC_init(Region.data());
  EXPECT_EQ(UTC_has_valid_utc_parameters(), 1);
  Region[3] ^= 1u;
  UTC_init(Region.data());
  EXPECT_EQ(UTC_has_valid_utc_parameters(), 0);
}

TEST(Utc, PageAcceptanceTable) {
  struct Case {
    const char* name;
    std::int32_t a0_raw, a1_raw;
    int sv_id;
    std::array<S16, 3> accepted;  // three receptions in a row
  };
  const std::array<Case, 4> cases = {{
      {"small A0, A1 0: at once", 100, 0, 56, {1, 1, 1}},
      {"large A0 (0.0001 s): every second page", 107375, 0, 56, {0, 1, 0}},
      {"A1 non-zero: every second page", 0, 5, 56, {0, 1, 0}},
      {"not page 18 (SV ID 55)", 0, 0, 55, {0, 0, 0}},
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh(1);
    Page18 p = leap_2016();
    p.a0_raw = c.a0_raw;
    p.a1_raw = c.a1_raw;
    p.sv_id = c.sv_id;
    const auto w = words_of(p);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(UTC_update_utc_parameters(1930, 0, 0, w.data()), c.accepted[i]);
  }
}

TEST(Utc, LeapSecondCountConfirmedByThreeAgreeingPages) {
  fresh(1);
  const auto w = words_of(leap_2016());
  S32 ls = 0;
  ASSERT_EQ(UTC_update_utc_parameters(1930, 0, 1, w.data()), 1);  // first: parameters present
  EXPECT_EQ(UTC_get_reliable_leap_sec(&ls), 0);
  UTC_update_utc_parameters(1930, 750, 1, w.data());
  UTC_update_utc_parameters(1930, 1500, 1, w.data());
  EXPECT_EQ(UTC_get_reliable_leap_sec(&ls), 0);
  UTC_update_utc_parameters(1930, 2250, 1, w.data());
  ASSERT_EQ(UTC_get_reliable_leap_sec(&ls), 1);
  EXPECT_EQ(ls, 17);
  Page18 other = leap_2016();
  other.dt_ls = 16;
  const auto w2 = words_of(other);
  UTC_update_utc_parameters(1930, 3000, 1, w2.data());
  EXPECT_EQ(UTC_get_reliable_leap_sec(&ls), 0);
  UTC_clear_all();
  EXPECT_EQ(UTC_has_valid_utc_parameters(), 0);
}

// The published vector: week 1930, 17.5 s with 17 -> 18 s announced for the
// end of 2016-12-31 is 2016-12-31 23:59:60.5 UTC; and its neighbours.
TEST(Utc, LeapSecondEvent) {
  fresh(2);  // 500 ms grid: half seconds are on it
  const auto w = words_of(leap_2016());
  ASSERT_EQ(UTC_update_utc_parameters(1930, 0, 1, w.data()), 1);
  const std::array<Expect, 8> cases = {{
      {"well before the window", 1929, 0.0, 2016, 12, 24, 23, 59, 43.0005},
      {"before the event, in the window", 1929, 604700.0, 2016, 12, 31, 23, 58, 3.0005},
      {"last normal second", 1930, 16.5, 2016, 12, 31, 23, 59, 59.5005},
      {"leap second", 1930, 17.0, 2016, 12, 31, 23, 59, 60.0005},
      {"published vector", 1930, 17.5, 2016, 12, 31, 23, 59, 60.5005},
      {"first second of 2017", 1930, 18.0, 2017, 1, 1, 0, 0, 0.0005},
      {"after the event, in the window", 1930, 18.5, 2017, 1, 1, 0, 0, 0.5005},
      {"after the window", 1930, 86400.0 + 18.0, 2017, 1, 2, 0, 0, 0.0005},
  }};
  for (const Expect& e : cases) {
    UTC_TIME_T u{};
    D64 mod = 0;
    UTC_convert_gps_to_utc_time(e.wn, e.tow, &u, &mod);
    expect_utc(e, u);
  }
  U16 y = 0;
  U08 mo = 0;
  U08 d = 0;
  U08 h = 0;
  U08 mi = 0;
  U08 s = 0;
  ASSERT_EQ(UTC_get_leap_second_adjustment_utc_time(1930, 17, &y, &mo, &d, &h, &mi, &s), 1);
  EXPECT_EQ(y, 2017);
  EXPECT_EQ(mo, 1);
  EXPECT_EQ(d, 1);
  EXPECT_EQ(h + mi + s, 0);
}

TEST(Utc, ShiftAndSnapToTheOutputGrid) {
  fresh(5);  // 200 ms grid
  struct Case {
    const char* name;
    S16 mode;
    D64 tow;
    D64 sec;  // expected seconds of the minute, default 18 s leap
    D64 modified_tow;
  };
  // tow 78 s = 00:01:18 GPS = 00:01:00 UTC
  const std::array<Case, 5> cases = {{
      {"310 ms snaps up to 400", UTC_NORMAL, 78.310, 0.4005, 78.310},
      {"299 ms snaps down to 200", UTC_NORMAL, 78.299, 0.2005, 78.299},
      {"300 ms (tie) snaps to 200", UTC_NORMAL, 78.300, 0.2005, 78.300},
      {"half-second shift", UTC_ADVANCE_HALF_SECOND, 78.5, 0.0005, 78.0},
      {"one-second shift", UTC_ADVANCE_ONE_SECOND, 79.0, 0.0005, 78.0},
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UTC_time_shift(c.mode);
    UTC_TIME_T u{};
    D64 mod = 0;
    UTC_convert_gps_to_utc_time(2000, c.tow, &u, &mod);
    EXPECT_NEAR(mod, c.modified_tow, 1e-9);
    EXPECT_EQ(u.minute, 1);
    EXPECT_NEAR(u.sec, c.sec, 1e-6);
  }
}

// Calendar conversions across the 1024 and 2048 week rollovers, at the end of
// a week and in years after 2029, against the civil calendar.
TEST(Utc, CalendarAcrossRollovers) {
  fresh(1);
  struct Case {
    const char* name;
    S16 wn;
    S32 tow;
  };
  const std::array<Case, 12> cases = {{
      {"GPS epoch", 0, 0},
      {"end of week 0", 0, 604799},
      {"leap day 1980", 7, 86400 * 2},
      {"end of week 1023", 1023, 604799},
      {"first rollover", 1024, 0},
      {"end of week 2047", 2047, 604799},
      {"second rollover", 2048, 0},
      {"2030", 2590, 302400},
      {"leap day 2032", 2703, 86400 * 6},
      {"third rollover 2038", 3072, 0},
      {"2060", 4223, 123456},
      {"end of 2099", 6259, 604799},
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UTC_TIME_T u{};
    UTC_convert_gps_to_utc_time_without_leap_sec_adjustment(c.wn, c.tow, &u);
    const long total = static_cast<long>(c.wn) * 604800 + c.tow;
    const Civil cv = civil_of(total / 86400);
    const long sod = total % 86400;
    EXPECT_EQ(u.year, cv.y);
    EXPECT_EQ(u.month, cv.m);
    EXPECT_EQ(u.day, cv.d);
    EXPECT_EQ(u.day_of_year, cv.doy);
    EXPECT_EQ(u.hour, sod / 3600);
    EXPECT_EQ(u.minute, sod % 3600 / 60);
    EXPECT_EQ(u.sec, static_cast<D64>(sod % 60));
    // Back to GPS time with no leap seconds: the same week and second.
    UTC_update_default_leap_second_from_flash(0);
    S16 wn = 0;
    D64 tow = 0;
    UTC_convert_utc_to_gps_time(&u, &wn, &tow);
    EXPECT_EQ(wn, c.wn);
    EXPECT_EQ(tow, static_cast<D64>(c.tow));
    UTC_update_default_leap_second_from_flash(18);
  }
}

TEST(Utc, KnownDatesAndDefaultLeapSeconds) {
  fresh(1);
  UTC_update_default_leap_second_from_flash(0);
  UTC_TIME_T epoch{1980, 1, 6, 6, 0, 0, 0.0};
  S16 wn = -1;
  D64 tow = -1;
  UTC_convert_utc_to_gps_time(&epoch, &wn, &tow);
  EXPECT_EQ(wn, 0);
  EXPECT_EQ(tow, 0.0);
  UTC_update_default_leap_second_from_flash(18);
  // 2019-04-07 00:00:00 UTC (18 s) is week 2048, 18 s; 1999-08-22 00:00:00 UTC (13 s) week 1024, 13 s.
  UTC_TIME_T r2{2019, 4, 7, 97, 0, 0, 0.25};
  UTC_convert_utc_to_gps_time(&r2, &wn, &tow);
  EXPECT_EQ(wn, 2048);
  EXPECT_DOUBLE_EQ(tow, 18.25);
  const Expect back = {"week 2048 with 18 s", 2048, 18.25, 2019, 4, 7, 0, 0, 0.25};
  UTC_TIME_T u{};
  UTC_convert_gps_to_utc_time_by_default_parameters(back.wn, back.tow, &u);
  expect_utc(back, u);
  UTC_update_default_leap_second_from_flash(13);
  const Expect r1 = {"week 1024 with 13 s", 1024, 13.0, 1999, 8, 22, 0, 0, 0.0};
  UTC_convert_gps_to_utc_time_by_default_parameters(r1.wn, r1.tow, &u);
  expect_utc(r1, u);
  // Week 0 has no leap seconds.
  const Expect w0 = {"week 0", 0, 5.0, 1980, 1, 6, 0, 0, 5.0};
  UTC_convert_gps_to_utc_time_by_default_parameters(w0.wn, w0.tow, &u);
  expect_utc(w0, u);
}

// A record written in the other byte order (fields and CRC reversed) is taken
// after conversion; a native record read as foreign is refused.
TEST(Utc, BackupRecordInTheOtherByteOrder) {
  fresh(2);
  const auto w = words_of(leap_2016());
  ASSERT_EQ(UTC_update_utc_parameters(1930, 0, 1, w.data()), 1);
  std::array<U08, UTC_BACKUP_SIZE> native = Region;
  const std::array<std::pair<int, int>, 13> fields = {{{0, 8},
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
  for (const auto& [off, n] : fields)
    for (int i = 0; i < n / 2; ++i) std::swap(Region[off + i], Region[off + n - 1 - i]);
  const U16 crc = crc16(Region.data(), UTC_RECORD_SIZE);
  Region[UTC_RECORD_SIZE] = static_cast<U08>(crc >> 8);  // the CRC word in the other order
  Region[UTC_RECORD_SIZE + 1] = static_cast<U08>(crc & 0xFF);
  ENDIAN_set_swap_flag(1);
  UTC_init(Region.data());
  EXPECT_EQ(UTC_has_valid_utc_parameters(), 1);
  EXPECT_EQ(std::memcmp(Region.data(), native.data(), UTC_RECORD_SIZE), 0);
  UTC_TIME_T u{};
  UTC_convert_gps_to_utc_time(1930, 17.5, &u, nullptr);
  EXPECT_NEAR(u.sec, 60.5005, 1e-3);
  Region = native;
  UTC_init(Region.data());
  EXPECT_EQ(UTC_has_valid_utc_parameters(), 0);
  ENDIAN_set_swap_flag(0);
}
