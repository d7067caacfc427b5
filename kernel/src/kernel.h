// Navigation kernel entry points.
#pragma once

#include "kernel/src/kernel_types.h"

// Start the kernel; 1 when a valid receiver state was read from backup memory.
S16 KERNEL_init(const KERNEL_INIT_T* init_p);
// Run the kernel on what the target proxy holds; 1 when a measurement epoch was processed.
S16 KERNEL_loop();
void KERNEL_close();
