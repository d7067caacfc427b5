// Field helpers of the console table: channel state labels and the UTC time
// rounded to the tenth of a second the table prints.
#include "host/host_console.h"

#include <array>
#include <cmath>

namespace {
constexpr std::array<const char*, HOSTCON_STATE_LONG_TERM_EPH + 1> STATE_LABELS = {"ID", "PU", "BS", "TR",
                                                                                   "ST", "FS", "OK", "LT"};

bool is_leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
  static constexpr std::array<int, 12> DAYS = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 31;
  return month == 2 && is_leap_year(year) ? 29 : DAYS[static_cast<std::size_t>(month - 1)];
}

// One minute on, carried through the calendar fields.
void add_one_minute(UTC_TIME_T* t) {
  if (++t->minute < 60) return;
  t->minute = 0;
  if (++t->hour < 24) return;
  t->hour = 0;
  ++t->day_of_year;
  if (++t->day <= days_in_month(t->year, t->month)) return;
  t->day = 1;
  if (++t->month <= 12) return;
  t->month = 1;
  t->day_of_year = 1;
  ++t->year;
}
}  // namespace

const char* HOSTCON_state_label(U16 state) { return state < STATE_LABELS.size() ? STATE_LABELS[state] : "--"; }

void HOSTCON_round_utc_to_tenth(UTC_TIME_T* utc_p) {
  if (utc_p == nullptr || !std::isfinite(utc_p->sec)) return;
  const double tenths = std::floor(utc_p->sec * 10.0 + 0.5);
  if (tenths >= 600.0 && utc_p->sec < 60.0) {
    utc_p->sec = 0.0;
    add_one_minute(utc_p);
    return;
  }
  utc_p->sec = tenths / 10.0;
}
