// Stand-ins for the satellite-data modules still to come (fast first fix
// with bit-count prediction), until the satellite-data issues replace them.
//
// Neutral results: nothing is predicted.
#include "kernel/src/kernel_modules.h"

// --- Fast first fix ---------------------------------------------------------------------
void KFASTFS_init(S16, S16, S32) {}
void KFASTFS_process(S16, D64, S16) {}
