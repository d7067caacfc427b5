// 1PPS pulse scheduling (K1PPS_): once a second the kernel tells the target
// where, within the coming second of its time count, to put the one pulse per
// second and how long that second is in TCXO clocks. The pulse sits at the
// GPS whole second as the receiver clock sees it: the navigation's clock bias
// advanced by one second of drift, shifted later by the antenna cable delay
// (timing/timing.h holds the cable delay, the width and the frequency output).
//
// Units: clock bias in metres, drift in m/s (both c times seconds), offsets
// and periods in counts of the clock named, frequencies in Hz.
#pragma once

#include "misc/gnss_types.h"

// What a pulse command announces (the enable_disable field of ASIC_SET_1PPS).
enum : S16 {
  K1PPS_INVALID = 0,                // pulse off
  K1PPS_VALID = 1,                  // pulse valid
  K1PPS_VALID_AND_CAN_ADJ_GTC = 2,  // pulse valid, the target may align its time count to it
};

// Clock source of the second pulse block: the reference clock times 1, 2, 4 or 8.
enum : S16 {
  TIMING_SORREL_PPS_CLOCK_SOURCE_IS_REF_CLOCK_X1 = 0,
  TIMING_SORREL_PPS_CLOCK_SOURCE_IS_REF_CLOCK_X2 = 1,
  TIMING_SORREL_PPS_CLOCK_SOURCE_IS_REF_CLOCK_X4 = 2,
  TIMING_SORREL_PPS_CLOCK_SOURCE_IS_REF_CLOCK_X8 = 3,
};

// One second's pulse, as computed from the clock bias and drift.
struct K1PPS_PULSE_T {
  D64 offset_s = 0.0;       // pulse position within the coming second, s, 0 <= offset_s < 1
  U32 tcxo_offset = 0;      // the same in TCXO counts, rounded to the nearest count
  U32 tcxo_period = 0;      // length of the coming second in TCXO counts (truncated)
  U32 hi_clk_offset = 0;    // pulse position in counts of the high-rate pulse clock, rounded
  U32 hi_clk_period = 0;    // length of the second in those counts (truncated)
  S16 freq_out_enable = 0;  // 1 when the auxiliary frequency output is on
  U32 nco_increment = 0;    // its NCO increment, 2^-32 cycle per pulse-clock count; 0 when that clock is 0
};

// The pulse of one second, without side effects: cb_m the clock bias (m,
// receiver clock minus GPS time times c), cd_mps the drift (m/s), the cable
// delay in 0.01 ns (positive: the pulse later), tcxo_hz the TCXO frequency,
// hi_clk_hz the high-rate pulse clock (0: none; then its counts and the NCO
// increment are 0, nothing is divided by it), freq_out_hz the auxiliary
// output (0 off). Fills *out (caller's record); a null out does nothing.
void K1PPS_compute_pulse(D64 cb_m, F32 cd_mps, S32 cable_delay_0_01ns, U32 tcxo_hz, U32 hi_clk_hz, U32 freq_out_hz,
                         K1PPS_PULSE_T* out);

// Kernel start-up: no pulse, counts cleared, the pulse block's clock source
// mode 3 (x8) with run clock 0; installs the kernel's navigation-state reader
// in the timing library (KINTERFACE_get_time_status).
void K1PPS_init();
// Once a second, first in the second tick: before GPS time is first available
// (TIMING_is_time_avalialbe) the pulse is switched off with
// ASIC_set_1pps(0, 0, 0); from then on, even if the fix is lost, the pulse of
// the navigation's clock bias and drift is sent with ASIC_set_1pps(2, offset,
// period) (TCXO counts), then ASIC_set_1pps_for_T8 (pulse-clock counts).
void K1PPS_process();

S16 K1PPS_is_1pps_outputing();  // 1 after a pulse was commanded, 0 after it was switched off
U32 K1PPS_get_pps_count();      // seconds with a pulse scheduled, saturating at 1000
U32 K1PPS_get_command_count();  // pulse commands issued, saturating at 1000
F32 K1PPS_get_last_offset_s();  // position of the last pulse within its second, s
// Store the clock source mode of the pulse block and derive its run clock:
// (TCXO frequency of mode 4 x 6) >> 3, 2, 1, 0 for modes 0..3 (>> 1 for any
// other value). Nothing in the host program calls it.
void K1PPS_set_sorrel_pps_run_clock_source_mode(S16 mode);
S16 K1PPS_get_sorrel_pps_run_clock_source_mode();
U32 K1PPS_get_sorrel_pps_run_clock();  // Hz
