// Fix log of a navigation run (--fix-csv PATH): one CSV row per output epoch
// (each epoch the console table or NMEA reports), read from the navigation
// fix record after the kernel loop.
//
// Columns (header line first):
//   epoch,gps_week,gps_tow_s,utc,fix_mode,nsv_used,x_m,y_m,z_m,lat_deg,lon_deg,alt_m,
//   vx_mps,vy_mps,vz_mps,clock_bias_m,clock_drift_mps,gdop,pdop,hdop,vdop,tdop
// epoch counts the output epochs from 1. gps_week / gps_tow_s are the fix's
// GPS time (the receiver's time count with the clock bias removed; full
// week, seconds of week with 12 decimals) and utc the same instant as the
// receiver labels it in UTC (ISO 8601 with milliseconds, leap seconds from
// the broadcast or the default, snapped to the position output interval);
// all three empty until the first fix. fix_mode is the fix record's mode:
// 0 none, 1 prediction, 2 2-D, 3 3-D, 4 differential. nsv_used: satellites
// used in the fix. Position (ECEF m, WGS-84 geodetic degrees with 9
// decimals and ellipsoidal height m), ECEF velocity (m/s), receiver clock
// bias (m) and drift (m/s) are given when the epoch has a fix or a
// prediction (mode 1 or above), DOPs when it has a fix (mode 2 or above);
// otherwise the fields are empty. Metres and m/s print with 4 decimals,
// DOPs with 3.
#pragma once

#include "misc/gnss_types.h"

// Create path (the caller's string, copied) and write the header. 1 on
// success; 0 when the file cannot be created or written (an output fault,
// noted with HOST_note_output_fault; nothing is open).
S16 HOSTFIX_open(const char* path);
// Append the row of the current output epoch (nothing when no file is open).
// A write fault is noted once and asks the run to stop.
void HOSTFIX_write_epoch();
// Close the file. 1 when every row reached the file (or no file was open);
// 0 after an output fault.
S16 HOSTFIX_close();
// Rows written since the last open.
long HOSTFIX_get_row_count();
