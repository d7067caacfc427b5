// Stand-ins for the RTK engine operations that the host program calls.
// They hold the program's shape until the engine exists:
//   RTK_*, GLOSDIFB_*        -> issue 4 (RTK driver, filter, ambiguity resolution)
//   RTCM3_*                  -> issue 7 (RTCM 3 base input)
// Each consumes its input and reports that no epoch was solved.
#include <cstdio>

#include "rtk/crv.h"
#include "rtk/rtcm3.h"
#include "rtk/rtk.h"
#include "rtk/rtk_raw.h"

namespace {
sol_t Solution{};
}

// issue 7
int RTCM3_process_base(int, char*) { return 1; }
void RTCM3_print_status() {}
void RTCM3_update_rover_time(int, double) {}

// issue 4
// Until the driver exists, initialisation brings up the stream reader, the raw
// buffers and the navigation data store (SBAS is always added to the systems).
void RTK_init(int navsys, int, int, int, int, int*) {
  Solution = sol_t{};
  CRV_init();
  RTK_RAW_init();
  RTK_NAV_init(navsys | SYS_SBS);
}
void RTK_init_medium() {}
int RTK_loop() { return 0; }
int RTK_get_solution(sol_t* sol_p) {
  *sol_p = Solution;
  return 1;
}
double RTK_get_baseline() { return 0.0; }
void RTK_get_rover_meas_time_info(U16* wn, U32* tow_in_ms, U16* meas_period_in_ms) {
  *wn = 0;
  *tow_in_ms = 0;
  *meas_period_in_ms = 0;
}
void RTK_print_solution() {}
void RTK_reset_engine_tick(int) {}
void RTK_get_reset_count_for_debug(long unsigned int* a, long unsigned int* b, long unsigned int* c) {
  *a = *b = *c = 0;
}
void GLOSDIFB_reset_glo_sd_ifb() {}
