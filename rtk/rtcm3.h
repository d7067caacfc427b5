// RTCM 3 reader of the base stream.
#pragma once

int RTCM3_process_base(int len, char* buf);
void RTCM3_print_status();
