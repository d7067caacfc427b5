// Stand-in for the 1PPS scheduling, until the 1PPS timing issue replaces it:
// no pulse position is sent.

#include "kernel/src/kernel_modules.h"

void K1PPS_init() {}
void K1PPS_process() {}
