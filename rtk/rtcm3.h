// RTCM 3 reader of the base stream.
#pragma once

int RTCM3_process_base(int len, char* buf);
void RTCM3_print_status();
// Epoch time of the rover stream (GPS week, time of week in s).
void RTCM3_update_rover_time(int week, double tow);
