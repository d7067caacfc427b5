// Stand-ins for the kernel, until issue 6 (kernel frame) replaces them.
// They run on real link data through the target proxy: KERNEL_init takes the
// RTC reading, KERNEL_loop takes each measurement epoch with
// ASIC_get_measurements (and sends the start clock offset to the search engine
// every tenth epoch) or, when none waits, drains the data bits of every
// channel with ASIC_get_databits. The start-up commands of the real kernel
// (ASIC_init, PSE_init, the hot-start prediction) come with issue 6.
#include "host/wrap.h"
#include "kernel/src/almanac.h"
#include "kernel/src/kernel.h"
#include "kernel/src/kernel_interface.h"

namespace {
U08* Alm_mem_p = nullptr;
S32 Clock_offset = 0;  // Hz
U32 Kernel_power_on_meas_count = 1;
ASIC_MEAS_T Standin_meas{};  // the epoch being processed
constexpr U32 STANDIN_EPOCHS_PER_TICK = 10;
}  // namespace

// issue 6
S16 KERNEL_init(const KERNEL_INIT_T* init_p) {
  Alm_mem_p = init_p != nullptr ? init_p->nvram_alm_mem_p : nullptr;
  Clock_offset = init_p != nullptr ? init_p->clock_offset_from_flash : 0;
  Kernel_power_on_meas_count = 1;
  S16 wn = 0;
  S32 sec = 0;
  U32 subsec = 0;
  (void)ASIC_get_rtc(&wn, &sec, &subsec);
  return 0;
}

// issue 6
S16 KERNEL_loop() {
  PSE_process();
  if (ASIC_get_measurements(&Standin_meas)) {
    if (Kernel_power_on_meas_count % STANDIN_EPOCHS_PER_TICK == 0) PSE_set_clock_offset(Clock_offset);
    ++Kernel_power_on_meas_count;
    return 1;
  }
  for (S16 ch = 0; ch < NCHAN; ++ch) {
    S16 gnss_type = 0, prn = 0;
    U32 databits = 0, databits_info = 0, bitcnt = 0;
    U08 issue_id = 0;
    while (ASIC_get_databits(ch, &gnss_type, &prn, &databits, &databits_info, &bitcnt, &issue_id)) {
    }
  }
  return 0;
}

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
