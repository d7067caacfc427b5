// Start-up of the navigation kernel shared by the fuzz targets that drive a
// whole kernel: a cold start (backup memory all zero) in the configuration
// the first input byte gives:
//   bits 0..2 TCXO mode (mod 5), bits 3..4 position rate index (1, 2, 5,
//   10 Hz), bit 5 early measurements on
// The backup and almanac images are static storage of this header's user
// (one fuzz executable each), valid until the next start.
#pragma once

#include <array>
#include <cstddef>

#include "host/wrap.h"
#include "kernel/src/kernel.h"
#include "kernel/src/raw_meas.h"
#include "misc/endian_swap.h"

inline void FUZZ_start_kernel(U08 cfg) {
  static std::array<U08, 20480> region;
  static std::array<U08, 20480> alm_image;
  constexpr std::array<U16, 4> rates = {1, 2, 5, 10};
  region.fill(0);
  KERNEL_INIT_T k{};
  k.backup_mem_p = region.data();
  k.nvram_alm_mem_p = alm_image.data();
  k.tcxo_freq_mode = static_cast<S16>((cfg & 7) % 5);
  k.npse = 6;
  k.sbas_para = SBAS_PARAMETER_T{1, SBAS_RANGING_MODE_AUTO, 8, 1, 2, 7};
  k.qzss_para = QZSS_PARAMETER_T{1, 1};
  k.reset_kernel_settings = 1;
  k.gnss_select_bits = 0xF;
  k.position_rate = rates[static_cast<std::size_t>((cfg >> 3) & 3)];
  k.dop_mask = KERNEL_INIT_DOP_MASK_T{DOP_MASK_AUTO, 300, 300, 300};
  k.leap_sec_from_flash = 18;
  ENDIAN_set_swap_flag(0);
  WRAP_init(0, nullptr);
  KERNEL_init(&k);
  if (cfg & 0x20) RAW_try_to_use_early_meas_in_hot_start();
}
