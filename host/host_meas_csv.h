// Measurement log of a navigation run (--meas-csv PATH): one CSV row per
// reported channel per measurement epoch the kernel processed, written from
// the kernel's epoch observer (RAW_install_epoch_done_callback).
//
// Columns (header line first):
//   epoch,gps_week,gps_tow_s,ch,gnss,svid,state,frame_sync,tx_time_s,
//   pseudorange_m,corrected_pr_m,range_rate_mps,doppler_hz,cn0_dbhz,el_deg,az_deg,used
// epoch counts the processed epochs from 1; gps_week / gps_tow_s are the
// epoch's time count adjusted to GPS time (the receiver's own clock, before
// any clock-bias correction), empty until GPS time is known; ch is the
// hardware channel 0..19; gnss G, R, S, J, C or E; svid the kernel's id
// (SBAS 120..138, QZSS 33..37); state the channel state 0..6; frame_sync 0/1;
// tx_time_s the signal's transmit time (GPS seconds of week) and
// pseudorange_m = c x (epoch time - transmit time), each empty while unknown;
// doppler_hz the L1 carrier Doppler (positive when the satellite approaches)
// (the NCO Doppler at the epoch in a channel's first tracking epoch, then the
// accumulated carrier's mean over the interval) and cn0_dbhz the C/N0, empty
// on channels not tracking. corrected_pr_m is the pseudorange corrected for
// the satellite clock and the modelled atmosphere, range_rate_mps
// -Doppler x L1 wavelength, el_deg/az_deg the satellite's direction (empty
// until known), used 1 when the epoch's fix took the channel's pseudorange
// or range rate, else 0.
// Times print with 12 decimals, metres and Hz with 4, dB-Hz with 2. Idle
// channels have no row.
#pragma once

#include "misc/gnss_types.h"

// Create path (the caller's string, copied) and write the header; from then
// on every processed epoch adds its rows. 1 on success; 0 when the file
// cannot be created or written (an output fault, noted with
// HOST_note_output_fault; nothing is installed).
S16 HOSTMEAS_open(const char* path);
// Stop logging and close the file. 1 when every row reached the file (or no
// file was open); 0 after an output fault (noted with HOST_note_output_fault).
// A write fault during the run also asks the run to stop.
S16 HOSTMEAS_close();
// Rows written since the last open.
long HOSTMEAS_get_row_count();
