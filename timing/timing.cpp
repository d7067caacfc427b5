#include "timing/timing.h"

namespace {

constexpr U32 MIN_FIX_COUNT = 4;  // fixes since start before the pulse is aligned to GPS time

S32 Timing_cable_delay_unit_is_0_01ns = 0;  // 0.01 ns
U32 Timing_width_unit_is_micro_sec = 0;     // us (the host program sets 800 at start)
U32 Timing_frequency_output_hz = 0;         // Hz, 0 = off
TIMING_TIME_STATUS_READER_T Time_status_reader = nullptr;

}  // namespace

void TIMING_install_time_status_reader(TIMING_TIME_STATUS_READER_T reader) { Time_status_reader = reader; }

S16 TIMING_set_pps_cable_delay(S32 delay_0_01ns) {
  Timing_cable_delay_unit_is_0_01ns = delay_0_01ns;
  return 1;
}
S16 TIMING_set_pps_width(U32 width_us) {
  Timing_width_unit_is_micro_sec = width_us;
  return 1;
}
S32 TIMING_get_pps_cable_delay() { return Timing_cable_delay_unit_is_0_01ns; }
U32 TIMING_get_pps_width() { return Timing_width_unit_is_micro_sec; }
U32 TIMING_get_freq_out_hz() { return Timing_frequency_output_hz; }

S16 TIMING_is_time_avalialbe() {
  if (Time_status_reader == nullptr) return 0;
  S16 fix_mode = FIX_NONE;
  S16 has_fs = 0;
  U32 fix_count = 0;
  Time_status_reader(&fix_mode, &has_fs, &fix_count);
  return (fix_mode >= FIX_3D && has_fs != 0 && fix_count >= MIN_FIX_COUNT) ? 1 : 0;
}
