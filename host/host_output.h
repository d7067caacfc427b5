// Console table, KML files and NMEA output of the navigation modes. The file
// RTK runs use only the KML files (opened by HOSTOUT_init, closed with their
// closing lines by HOSTOUT_close). Every KML file lives in the working
// directory; this module owns the files it opens.
#pragma once

// Open output<append_p>.kml when write_output_kml is 1 and
// fixmode<append_p>.kml when write_fixmode_kml is 1, each with its document
// header; append_p (the caller's, may be null or empty) is the file name
// appendix. Restarts the epoch count of the console table. A KML file that
// cannot be created or whose header cannot be written is an output fault
// (noted with HOST_note_output_fault of host/host_files.h; that file stays
// closed).
void HOSTOUT_init(int write_output_kml, int write_fixmode_kml, const char* append_p);
// Write the closing lines of the open KML files and close them; a failed
// write or close is an output fault (noted).
void HOSTOUT_close();
// ANSI colours in the console table on / off.
void HOSTOUT_set_ansi();
void HOSTOUT_set_no_ansi();
// Power-on second (s) from which KML points are written.
void HOSTOUT_set_kml_start_second(int start_sec);
// fixmode.kml shows the dead-reckoning fix modes.
void HOSTOUT_set_DR_output_GNSS_fixmode_kml();
// The current fix as a point of the track in output.kml, in colour index
// color (KML_BLACK .. KML_WHITE of host/host.h).
void HOSTOUT_output_kml(int color);
// The current fix and its fix mode as a point in fixmode.kml.
void HOSTOUT_output_kml_fixmode();
// Console table of the current epoch on stdout.
void HOSTOUT_print_detail_data();
// End-of-run counters on stdout.
void HOSTOUT_print_debug_informations_at_end();
// NMEA sentences of the current epoch on stdout.
void HOSTOUT_print_nmea_message();
