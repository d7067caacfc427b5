// The kernel start record a navigation run builds when no SD-card log gives
// one (the plain replay and the logging run).
#pragma once

#include "kernel/src/kernel_types.h"

// Start record for TCXO mode tcxo_freq_mode (0..4): power saving on, 6 search
// engines, SBAS (auto ranging) and QZSS on, settings reset, GPS alone, one
// position a second, the default platform model and DOP masks (30.0), 2-D
// navigation allowed before and after the first fix, 16 leap seconds until
// page 18, elevation/C/N0 mask auto (5 degrees). No backup or almanac memory
// (the caller sets backup_mem_p and nvram_alm_mem_p), no user position.
KERNEL_INIT_T HOST_builtin_kernel_init(S16 tcxo_freq_mode);
