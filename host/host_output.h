// Console table, KML files and NMEA output of the navigation modes.
#pragma once

void HOSTOUT_init(int write_output_kml, int write_fixmode_kml, const char* append_p);
void HOSTOUT_close();
void HOSTOUT_set_ansi();
void HOSTOUT_set_no_ansi();
void HOSTOUT_set_kml_start_second(int start_sec);
void HOSTOUT_set_DR_output_GNSS_fixmode_kml();
void HOSTOUT_output_kml(int color);
void HOSTOUT_output_kml_fixmode();
void HOSTOUT_print_detail_data();
void HOSTOUT_print_debug_informations_at_end();
void HOSTOUT_print_nmea_message();
