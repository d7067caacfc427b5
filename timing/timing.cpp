#include "timing/timing.h"

namespace {
S32 Pps_cable_delay = 0;  // 0.01 ns
U32 Pps_width = 0;        // us
}  // namespace

S16 TIMING_set_pps_cable_delay(S32 delay_0_01ns) {
  Pps_cable_delay = delay_0_01ns;
  return 1;
}
S16 TIMING_set_pps_width(U32 width_us) {
  Pps_width = width_us;
  return 1;
}
S32 TIMING_get_pps_cable_delay() { return Pps_cable_delay; }
U32 TIMING_get_pps_width() { return Pps_width; }
