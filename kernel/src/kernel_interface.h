// Kernel interface: the kernel's face towards the host program. Version
// numbers, configuration operations that update both the settings and the
// module concerned, and queries of clock offset, datum shift, fault
// detection, residuals and the satellites used, for output.
#pragma once

#include "kernel/src/datum.h"
#include "kernel/src/kernel_types.h"
#include "kernel/src/settings.h"
#include "misc/gnss_types.h"
#include "misc/nmea.h"

// Interface state to its initial values (no datum shift, filtered C/N0 for NMEA).
void KINTERFACE_init();

U32 KINTERFACE_get_major_version();  // 2
U32 KINTERFACE_get_minor_version();  // 0
U32 KINTERFACE_get_revision();       // 55

void KINTERFACE_set_sbas_para(const SBAS_PARAMETER_T* para);
S16 KINTERFACE_get_sbas_para(SBAS_PARAMETER_T* para);
void KINTERFACE_set_qzss_para(const QZSS_PARAMETER_T* para);
S16 KINTERFACE_get_qzss_para(QZSS_PARAMETER_T* para);
S16 KINTERFACE_set_ref_time_to_sync_gps_time(const USER_INPUT_TIME_SYNC_T* t);
S16 KINTERFACE_get_ref_time_to_sync_gps_time(USER_INPUT_TIME_SYNC_T* t);
void KINTERFACE_set_tm_cal_noise_power_enable(S16 enable);
S16 KINTERFACE_is_enable_tm_cal_noise_power();
void KINTERFACE_enable_power_saving(S16 enable);
S16 KINTERFACE_is_enable_power_saving();
void KINTERFACE_force_no_power_saving_in_cold_search();
void KINTERFACE_set_navigation_platform_model(S16 model);  // NMODEL_DEFAULT .. AIRBORNE; others ignored
S16 KINTERFACE_get_navigation_platform_model();
void KINTERFACE_set_pps_cable_delay(S32 delay);  // 0.01 ns
void KINTERFACE_set_pps_width(U32 width);        // us
S32 KINTERFACE_get_pps_cable_delay();
U32 KINTERFACE_get_pps_pps_width();
// The navigation state the timing library tests before aligning the pulse to
// GPS time (installed with TIMING_install_time_status_reader): *fix_mode_p the
// fix mode of the last epoch (FIX_NONE .. FIX_DIFF), *has_real_frame_sync_p 1
// when any GPS channel has a real frame sync (else 0), *fix_count_p the fixes
// since start. Null pointers are skipped.
void KINTERFACE_get_time_status(S16* fix_mode_p, S16* has_real_frame_sync_p, U32* fix_count_p);

// Clear the backed-up receiver state, the UTC parameters and the
// ionospheric corrections; with also_clean_almanac also every almanac.
void KINTERFACE_clear_stored_data(S32 also_clean_almanac);
void KINTERFACE_agps_re_init_SV_search_functions();
void KINTERFACE_rom_agps_re_init_SV_search_functions();

// Receiver clock drift (m/s) as a frequency offset at L1 (Hz): negated and
// multiplied by 1575.42e6 / c, fraction cut off.
S32 KINTERFACE_drift_to_clock_offset(F32 drift_mps);
// 0 without a fix; else the navigation's clock drift as a frequency offset (Hz).
S16 KINTERFACE_get_run_time_clock_offset(S32* clock_offset_p);
S16 KINTERFACE_get_reliable_clock_offset_from_backup_sram(S32* clock_offset_p);  // Hz
S16 KINTERFACE_set_reliable_clock_offset_in_backup_sram(S32 clock_offset);       // Hz
S16 KINTERFACE_get_reliable_leap_second(S32* leap_sec_p);
// The datum shift of the last NMEA collection: arc minutes, arc minutes, metres (0 for WGS 84).
S16 KINTERFACE_get_datum_offset_from_wgs84(D64* diff_lat, D64* diff_lon, F32* diff_alt);
S16 KINTERFACE_get_satellite_fault_detection(F32* err_lat_p, F32* err_lon_p, F32* err_alt_p, S16* sat_id_p, F32* prob_p,
                                             F32* est_bias_p, F32* std_bias_p);
// Per channel shown as used in the fix, its pseudorange difference (m), into
// the GPS or the GLONASS list (20 entries each); mode 0. Returns 1.
S16 KINTERFACE_get_range_residuals(S16* mode_p, S16* nmeas_gps_p, F32* residual_gps_p, S16* nmeas_glo_p,
                                   F32* residual_glo_p);
S16 KINTERFACE_get_data_for_nmea_gst(F32* rms_range_inputs_std_p, F32* std_semi_major_axis_p,
                                     F32* std_semi_minor_axis_p, F32* orientation_semi_major_axis_p,
                                     F32* std_enu_error_p);
// One epoch for the NMEA sentences (misc/nmea.h), into the caller's records:
// data_p the whole record (cleared first); the satellites in view, at most
// NMEA_MAX_SV (20) each, into the caller's lists nmea_sv_gps (GPS, QZSS and
// SBAS, NMEA ids), nmea_sv_glonass and nmea_sv_beidou2 with their counts in
// *n_gps_sv_in_view_p, *n_glonass_sv_in_view_p, *n_beidou2_sv_in_view_p
// (this receiver lists no GLONASS or BeiDou satellites: 0). The satellites
// in view are the tracking channels (state above CH_BITSYNC) of GPS and SBAS
// satellites with their C/N0 (filtered), then the GPS satellites of the sky
// view without a channel (C/N0 -1). With is_wgs84 0 the position is
// converted to the datum datum_p (the caller's, read during the call) and
// the shift kept for KINTERFACE_get_datum_offset_from_wgs84; with 1 (or a
// null datum) it stays WGS 84. Returns 1.
S16 KINTERFACE_get_data_for_nmea(NMEA_DATA_T* data_p, S16* n_gps_sv_in_view_p, S16* n_glonass_sv_in_view_p,
                                 S16* n_beidou2_sv_in_view_p, NMEA_SV_T* nmea_sv_gps,
                                 NMEA_SV_GLONASS_T* nmea_sv_glonass, NMEA_SV_T* nmea_sv_beidou2, S16 is_wgs84,
                                 const DTM_T* datum_p);

// Accepted and ignored.
void KINTERFACE_enable_multipath_mitigation(S16 enable);
void KINTERFACE_enable_dazar(S16 enable);
void KINTERFACE_set_timing_mode(const TIMING_T* t);
void KINTERFACE_set_freq_out_mode(const FREQ_OUT_T* f);
void KINTERFACE_set_pps_align_mode(S16 mode);
void KINTERFACE_set_pps_output_mode(S16 mode);
void KINTERFACE_set_sorrel_pps_clock_cource_mode(S16 mode);
// Always 0.
S16 KINTERFACE_is_enable_multipath_mitigation();
S16 KINTERFACE_is_enable_dazar();
S16 KINTERFACE_get_timing_mode(TIMING_T* t);
S16 KINTERFACE_get_rinning_timing_mode(TIMING_T* t);
S16 KINTERFACE_get_freq_out_mode(FREQ_OUT_T* f);
S16 KINTERFACE_get_pps_align_mode();
S16 KINTERFACE_get_pps_output_mode();
S16 KINTERFACE_get_sorrel_pps_clock_cource_mode();

// Satellite identifiers for output: GPS-type ids 33..37 (QZSS) become
// 193..197, SBAS ids 120..139 become 33..52; others stay as they are.
S16 KINTERFACE_map_output_svid(U16 gnss_type, S16 id);
// Satellites of the channels used in the fix (respectively shown as used) of
// one GNSS type, mapped for output, zero ids skipped; asking for GPS also
// takes SBAS channels. fix_svids holds 20 entries. Returns the count.
S16 get_fix_svids(U16 gnss_type, S16* fix_svids);
S16 get_show_fix_svids(U16 gnss_type, S16* fix_svids);
// Tracking channels (state above CH_BITSYNC) of one GNSS type whose
// satellites broadcast differential corrections, mapped as above.
S16 get_broadcast_differential_msg_svids(U16 gnss_type, S16* svids);
