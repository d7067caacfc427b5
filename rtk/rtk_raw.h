// Raw buffers of the RTK engine: the latest rover and base epochs, the base
// position and velocity, receiver clock biases and the IODs that tie the
// messages of one stream epoch together.
#pragma once

#include "rtk/rtk_cmn.h"

void RTK_RAW_init();
void RTK_RAW_update_rover_meas(const obsd_t* obs_array, int n);
void RTK_RAW_update_base_meas(const obsd_t* obs_array, int n);
void RTK_RAW_update_base_pos_xyz(double x, double y, double z);
void RTK_RAW_update_base_vel_xyz(float vx, float vy, float vz);
void RTK_RAW_update_rover_cbias(double cbias);
void RTK_RAW_update_base_cbias(double cbias);
// Rover observations followed by the base observations; the total, 0 when refused.
int RTK_RAW_get_meas(obsd_t* obs_array, int* n_rover_p, int* n_base_p);
int RTK_RAW_get_base_meas(obsd_t* obs_array);  // the base epoch; its count
int RTK_RAW_get_base_time(gtime_t* time_p);    // 0 without a base epoch
int RTK_RAW_get_base_pos_xyz(double* xyz);
int RTK_RAW_get_base_vel_xyz(float* vel);
int RTK_RAW_get_rover_cbias(double* cbias);
int RTK_RAW_get_base_cbias(double* cbias);
void RTK_RAW_get_base_crv_iod(int* iod);  // base time, raw and receiver-state IODs
int RTK_RAW_get_raw_base_valid();
int RTK_RAW_get_time_dif(double* dt);
void RTK_RAW_set_rtk_mode(int mode);
void RTK_RAW_set_base_stream_type(int type);
void RTK_RAW_set_rover_crvtime_iod(int iod);
void RTK_RAW_set_rover_crvraw_iod(int iod);
void RTK_RAW_set_rover_crvrcv_iod(int iod);
void RTK_RAW_set_base_crvtime_iod(int iod);
void RTK_RAW_set_base_crvraw_iod(int iod);
void RTK_RAW_set_base_crvrcv_iod(int iod);
void RTK_RAW_set_has_used_base_obs_flag(U08 flag);
unsigned int RTK_RAW_get_rover_overrun_count();  // rover epochs replaced before they were taken
