// Navigation kernel entry points.
#pragma once

#include "kernel/src/kernel_types.h"

// Start the kernel; 1 when a valid receiver state was read from backup memory.
S16 KERNEL_init(const KERNEL_INIT_T* init_p);
// Run the kernel on what the target proxy holds; 1 when a measurement epoch was processed.
S16 KERNEL_loop();
void KERNEL_close();

// Reverse the byte order of every multi-byte field of the records in place
// (records read back from the target's memory, which is big-endian). The
// byte fields stay as they are. The address fields of KERNEL_INIT_T are host
// pointers, never taken from a file, and are left alone.
void KERNEL_init_data_endian_conversion(KERNEL_INIT_T* p);
void KERNEL_init_pos_time_endian_conversion(KERNEL_INIT_POS_TIME_T* p);
