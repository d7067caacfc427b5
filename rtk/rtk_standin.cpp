// Stand-ins for the RTK engine operations that the host program calls.
// They hold the program's shape until the engine exists:
//   RTCM3_*                  -> issue 7 (RTCM 3 base input)
// Each consumes its input and reports that nothing was decoded.
#include "rtk/rtcm3.h"

// issue 7
int RTCM3_process_base(int, char*) { return 1; }
void RTCM3_print_status() {}
void RTCM3_update_rover_time(int, double) {}
