// The cold start of the kernel unit tests: a start record in the host's
// usual settings (6 search engines, SBAS and QZSS on, DOP masks 30.0, no
// stored state) over a backup image and an almanac image of this header
// (static storage, one pair per test executable, cleared by each start).
#pragma once

#include <array>

#include "host/wrap.h"
#include "kernel/src/kernel.h"

namespace talon_test {

struct KERNEL_TEST_IMAGES_T {
  std::array<U08, 20480> region;     // backup memory
  std::array<U08, 20480> alm_image;  // stored almanacs (flash.alm)
};
inline KERNEL_TEST_IMAGES_T Kernel_test_images;

// The start record: TCXO mode 0..4, position rate (fixes per second), GNSS
// selection bits, leap seconds of the flash record; the images above, the
// backup image cleared.
inline KERNEL_INIT_T cold_start_record(S16 tcxo_mode = 4, U16 position_rate = 1, U16 gnss_select_bits = 1,
                                       S16 leap_sec_from_flash = 0) {
  Kernel_test_images.region.fill(0);
  KERNEL_INIT_T k{};
  k.backup_mem_p = Kernel_test_images.region.data();
  k.nvram_alm_mem_p = Kernel_test_images.alm_image.data();
  k.tcxo_freq_mode = tcxo_mode;
  k.npse = 6;
  k.sbas_para = SBAS_PARAMETER_T{1, SBAS_RANGING_MODE_AUTO, 8, 1, 2, 7};
  k.qzss_para = QZSS_PARAMETER_T{1, 1};
  k.reset_kernel_settings = 1;
  k.gnss_select_bits = gnss_select_bits;
  k.position_rate = position_rate;
  k.dop_mask = KERNEL_INIT_DOP_MASK_T{DOP_MASK_AUTO, 300, 300, 300};
  k.leap_sec_from_flash = leap_sec_from_flash;
  return k;
}

// The target proxy in replay (nothing sent) and the kernel started cold from
// cold_start_record(...). Returns what KERNEL_init returns (0: no stored state).
inline S16 start_cold_kernel(S16 tcxo_mode = 4, U16 position_rate = 1, S16 leap_sec_from_flash = 0) {
  WRAP_init(0, nullptr);
  const KERNEL_INIT_T k = cold_start_record(tcxo_mode, position_rate, 1, leap_sec_from_flash);
  return KERNEL_init(&k);
}

}  // namespace talon_test
