// Stand-ins for the measurement prediction, until its issue replaces them
// with the real module. The prediction keeps nothing.
#include "kernel/src/kernel_modules.h"

// --- Measurement prediction -----------------------------------------------------------
void KMPREDICT_init(S16, S32) {}
void KMPREDICT_process() {}
void KMPREDICT_reset_prediction_flag() {}
