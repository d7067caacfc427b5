// Stand-in for the measurement check, until its issue replaces it with the
// real module.
//
// The measurement check installs the two bad-measurement screens into the
// navigation driver (as the real module does) and acts on nothing.
#include "kernel/src/kernel_modules.h"
#include "kernel/src/nav_bad_meas.h"
#include "kernel/src/navigate.h"

// --- Measurement checks ---------------------------------------------------------------
void KMCHECK_init() {
  NV_install_first_fix_bad_meas_check_callback(NVBADMEAS_bad_measurement_check_first_fix);
  NV_install_bad_meas_check_callback(NVBADMEAS_bad_measurement_check);
}
void KMCHECK_check_result_process() {}
