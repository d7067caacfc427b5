// Console table, KML files and NMEA output of the navigation modes. The file
// RTK runs use only the KML files' life cycle (HOSTOUT_init, HOSTOUT_close)
// and write no track, so their files are removed at the close. Every KML file
// lives in the working directory; this module owns the files it opens.
#pragma once

#include "host/pc_sio.h"

// Create output<append_p>.kml when write_output_kml is 1 and
// fixmode<append_p>.kml when write_fixmode_kml is 1 (truncating); their heads
// are written at the first epoch with a fix. append_p (the caller's, read
// during the call, may be null or empty) is the file name appendix (up to 24
// characters). Clears the highest speeds of the table and the
// dead-reckoning marker flag. A KML file that cannot be created is an output
// fault (noted with HOST_note_output_fault of host/host_files.h; that file
// stays closed and is skipped).
void HOSTOUT_init(int write_output_kml, int write_fixmode_kml, const char* append_p);
// Write the closing lines of the open KML files and close them (a run whose
// epochs never had a fix leaves the closing lines only); a file to which no
// epoch was ever offered (HOSTOUT_output_kml / HOSTOUT_output_kml_fixmode
// never called, as in the file RTK runs) is closed and removed instead. A
// failed write or close is an output fault (noted).
void HOSTOUT_close();
// ANSI colours in the console table on (epoch number bright white, position
// bright green) / off (no escape characters at all).
void HOSTOUT_set_ansi();
void HOSTOUT_set_no_ansi();
// Power-on second (s, KERNEL_get_power_on_sec_count) from which KML points
// and markers are written; the track head is written at the first fix anyway.
void HOSTOUT_set_kml_start_second(int start_sec);
// fixmode.kml would show the dead-reckoning positions of epochs without a
// fix; this receiver has no dead-reckoning module, so the flag stays clear.
void HOSTOUT_set_DR_output_GNSS_fixmode_kml();
// The current fix (degrees) as a point "lon,lat,0" of the track in
// output.kml, the line in colour index color (KML_BLACK .. KML_WHITE of
// host/host.h; any other index gives red). Nothing without a fix.
void HOSTOUT_output_kml(int color);
// The current fix as a marker in fixmode.kml, styled by its fix mode and
// quality, with the receiver state (speed, clock, DOPs, residual sigmas and
// the measured channels) in its description. Nothing before the first fix.
void HOSTOUT_output_kml_fixmode();
// Console table of the current epoch on stdout: the epoch number, one line
// per active channel (state, ephemeris, elevation/azimuth degrees, C/N0
// dB-Hz, transmit time s, Doppler Hz, residuals m and m/s), the time count,
// GPS time, UTC to 0.1 s, position (degrees, m), velocity (m/s, km/h), DOPs,
// the filter and quality lines.
void HOSTOUT_print_detail_data();
// End-of-run counters on stdout (the search engine's on/off seconds: 0, the
// host link does not report them).
void HOSTOUT_print_debug_informations_at_end();
// NMEA sentences of the current epoch (GGA, GSA, one GSV per four
// satellites in view, RMC, VTG; WGS 84) on stdout, and to the NMEA port when
// one is set.
void HOSTOUT_print_nmea_message();
// The same sentences to the NMEA port only (nothing without a port): the
// epochs whose stdout shows the console table.
void HOSTOUT_send_nmea_to_port();
// The port that receives the sentences as well (the caller opens and closes
// it and keeps it open while set; null: none). Clears the failure count. A
// write the port refuses (a device error, or more than 1 MiB waiting) is
// said once on stderr as "talonhost: <port>: NMEA write failed: <reason>"
// and counted; it never stops the run.
void HOSTOUT_set_nmea_port(SIO_T sio);
// Sentences the NMEA port refused since it was set.
long HOSTOUT_get_nmea_port_failures();
