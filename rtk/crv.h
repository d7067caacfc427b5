// CRVRAW reader of the rover and base streams.
#pragma once

#include <cstdio>

#include "misc/gnss_types.h"

int CRV_process_rover(int len, char* buf);
int CRV_process_base(int len, char* buf);
// File mode: read the next rover epoch and the matching base data.
// 0 at the end of the rover file, else 1.
U08 CRV_process_file(std::FILE* fp_r_bin, std::FILE* fp_b_bin);
void CRV_print_status();
