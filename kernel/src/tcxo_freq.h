// TCXO frequency constants of the target: the nominal clock frequency of each
// TCXO mode and the factors that turn Hz into the target's NCO units.
#pragma once

#include "misc/gnss_types.h"

inline constexpr int TCXO_NUM_MODES = 5;

// Select the mode (0..4) and derive its corrected NCO offsets. 0 and no change
// for a mode outside the table.
S16 TCXO_init(int tcxo_freq_mode);
// Nominal frequency of a mode in Hz; 0 for a mode outside the table.
U32 TCXO_convert_mode_to_freq(int mode);
U32 TCXO_get_tcxo_freq();                    // Hz
U32 TCXO_get_sampling_freq(S16 gnss_type);   // Hz (the TCXO frequency)
F32 TCXO_get_ideal_baseband_carrier_freq();  // Hz, with the mixer residual
S32 TCXO_get_pse_nco_offset0();              // search NCO units
F32 TCXO_get_pse_nco_freq_scale();           // search NCO units per Hz (2^26 / f)
S32 TCXO_get_tm_nco_offset0();               // tracking NCO units
F32 TCXO_get_tm_nco_freq_scale();            // tracking NCO units per Hz (2^29 / f)
U32 TCXO_get_asic_clock_per_ms0();           // whole TCXO clocks per ms
U32 TCXO_get_asic_clock_fraction();          // f - 1000 x clocks per ms
