// Navigation kernel entry points: start-up (cold, warm, hot), the kernel
// loop with its measurement, second and data-bit ticks, and the observers of
// those ticks.
#pragma once

#include "kernel/src/kernel_types.h"

// Start the kernel; 1 when a valid receiver state was read from backup memory.
// A start record whose fields would index outside a table (TCXO mode 0..4,
// platform model 0..5, search engines 0..8) is refused: 0, and the kernel
// stays uninitialised (KERNEL_loop does nothing). A user position/time
// record with impossible fields is ignored, as if none were given.
S16 KERNEL_init(const KERNEL_INIT_T* init_p);
// Run the kernel on what the target proxy holds; 1 when a measurement epoch was processed.
S16 KERNEL_loop();
void KERNEL_close();
S16 KERNEL_has_been_init();  // 1 after a completed KERNEL_init, until KERNEL_close

// Lay out the backup memory region among the kernel modules, by offset from
// region_p. Returns the total span in bytes (8600). KERNEL_init lays out
// the region it is given at every start.
S16 KERNEL_init_backup_address(U08* region_p);
// Offset of each module's piece (BACKUP_PIECE_...), as laid out; 0 before any layout.
U32 KERNEL_get_backup_piece_offset(int piece);

// The RTC reading taken at start (week, seconds, sub-second count in 1/32768 s).
void KERNEL_get_init_rtc_time(S16* rtc_wn_p, S32* rtc_sec_p, U32* rtc_subsec_p);
U32 KERNEL_get_power_on_meas_count();  // measurement epochs since start, plus 1
U32 KERNEL_get_power_on_sec_count();   // whole seconds since start, plus 1

// How the last KERNEL_init started the receiver.
enum : S16 {
  KERNEL_FIRST_FIX_FREE = 0,        // no restored state: no first-fix rule
  KERNEL_FIRST_FIX_3D = 1,          // the first fix must be 3-D
  KERNEL_FIRST_FIX_EARLY_MEAS = 2,  // early measurements may be used for the first fix
};
struct KERNEL_START_STATE_T {
  S16 has_vbat;         // a valid receiver state was read from backup memory
  S16 has_rtc_reading;  // an RTC reading was waiting in the target proxy
  S16 lapse_valid;      // the RTC lapse since the stored fix is known and within 0 .. 4 weeks
  S32 dt;               // s: RTC lapse since the stored fix (saturated); 604 800 with a user time
  S32 sbas_valid_dt;    // s: age handed to the SBAS module; -1 without restored state
  S16 can_do_hot_start;
  S16 force_clear_ephemeris;
  S16 first_fix_rule;   // KERNEL_FIRST_FIX_...
  S16 has_rtc_time;     // the GPS time was predicted from the RTC
  S16 has_user_time;    // a user position/time record was applied
  S16 predict_gps_wn;   // GPS time predicted from the RTC or taken from the user record
  S32 predict_gps_tow;  // s
  S32 clock_offset;     // Hz, handed to the search
};
void KERNEL_get_start_state(KERNEL_START_STATE_T* state_p);

// Data-bit batches taken from the target proxy since start: handed to the
// channel decoders (GPS, SBAS), and consumed without decoding (GLONASS,
// BeiDou and other types).
void KERNEL_get_databits_counts(U32* decoded_p, U32* skipped_p);

// Noise power the target must be told for a TCXO frequency (2 500 000 at
// 16 367 667 Hz, scaled by the square of the frequency ratio). 1 when the
// ratio lies outside 0.99 .. 1.01 and the target must be told, else 0.
S16 KERNEL_calc_noise_power(U32 tcxo_freq_hz, U32* noise_power_p, F32* freq_ratio_p);

// Observers of the kernel's work, null unless installed (the host program installs none).
using KERNEL_SEC_TICK_CALLBACK_T = void (*)();
using KERNEL_MEAS_TICK_CALLBACK_T = void (*)(U16 subsec);  // ms of the epoch within its second
using KERNEL_DATABITS_CALLBACK_T = void (*)(S16 ch_id, S16 gnss_type, S16 prn, U32 databits, U32 databits_info,
                                            U32 bitcnt, U08 issue_id);
void KERNEL_install_sec_tick_callback(KERNEL_SEC_TICK_CALLBACK_T func);
void KERNEL_install_meas_tick_callback(KERNEL_MEAS_TICK_CALLBACK_T func);
void KERNEL_install_databits_callback(KERNEL_DATABITS_CALLBACK_T func);

// Callback wiring of the kernel modules (kernel_callbacks); the last step of KERNEL_init.
void KCALLBACK_init();
// Observer of the subframes 1-3 that reach the ephemeris module: satellite
// prn (kernel id) and the three subframes, 10 words each, in the layout of
// dbits_parity.h (the words belong to the caller and live for the call only).
// Called before the ephemeris takes them; null removes it. KCALLBACK_init
// keeps it, so it may be installed before the kernel starts.
using KCALLBACK_SF123_OBSERVER_T = void (*)(S16 prn, const U32 (*dws_p)[10]);
void KCALLBACK_install_sf123_observer(KCALLBACK_SF123_OBSERVER_T func);

// Reverse the byte order of every multi-byte field of the records in place
// (records read back from the target's memory, which is big-endian). The
// byte fields stay as they are. The address fields of KERNEL_INIT_T are host
// pointers, never taken from a file, and are left alone.
void KERNEL_init_data_endian_conversion(KERNEL_INIT_T* p);
void KERNEL_init_pos_time_endian_conversion(KERNEL_INIT_POS_TIME_T* p);
