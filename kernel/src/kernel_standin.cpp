// Stand-ins for the kernel, until issue 6 (kernel frame) replaces them.
// KERNEL_loop reports one measurement epoch for each GTC report that the
// target proxy completed, so that the host loop's epoch handling (output,
// count limit) runs on real link data already.
#include "host/wrap.h"
#include "kernel/src/almanac.h"
#include "kernel/src/kernel.h"
#include "kernel/src/kernel_interface.h"

namespace {
U08* Alm_mem_p = nullptr;
}

// issue 6
S16 KERNEL_init(const KERNEL_INIT_T* init_p) {
  Alm_mem_p = init_p != nullptr ? init_p->nvram_alm_mem_p : nullptr;
  return 0;
}

// issue 6
S16 KERNEL_loop() { return WRAP_standin_take_epoch(); }

// issue 6
void KERNEL_close() {}

// issue 6: the kernel version of this release.
U32 KINTERFACE_get_major_version() { return 2; }
U32 KINTERFACE_get_minor_version() { return 0; }
U32 KINTERFACE_get_revision() { return 55; }

// Almanac store stand-in (the almanac module comes with the satellite-data
// issues): it works in place in the image the host handed over, 1900 bytes.
S32 ALM_get_address(U08** addr) {
  *addr = Alm_mem_p;
  return Alm_mem_p != nullptr ? 1900 : 0;
}
