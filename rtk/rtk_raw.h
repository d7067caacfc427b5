// Raw buffers of the RTK engine: the latest rover and base epochs, the base
// position and velocity, receiver clock biases and the IODs that tie the
// messages of one stream epoch together.
#pragma once

#include "rtk/rtk_cmn.h"

// A stream whose epoch time goes back by more than this (s) against its
// previous epoch starts again (two recordings one after the other, a receiver
// restarted with an old time). One recording never goes back that far: receiver
// clock steps are milliseconds and epochs come in order. Well below the
// engine's base age limit (maxtdiff, 30 s), so that a base epoch left ahead by
// such a step is dropped instead of pairing with rover epochs up to 30 s older.
inline constexpr double RTK_RAW_TIME_BACK_LIMIT = 5.0;

// Clears both epochs, the base position, velocity and clock biases, the
// carried-over slip flags, the streams' last epoch times and the counters. Mode 2, stream type 0 (unknown);
// the six IODs start as 0, 1, 2, 3, 4, 0 so that no epoch matches before its
// messages have arrived.
void RTK_RAW_init();

// ---------------------------------------------------------------------------
// Updates from the stream readers. Observation arrays are copied (n is clamped
// to 0..MAXOBS); the caller keeps its array.

// New rover epoch. A rover epoch not yet taken by RTK_RAW_get_meas is replaced
// and counted (RTK_RAW_get_rover_overrun_count). When its time (that of
// obs_array[0]) lies more than RTK_RAW_TIME_BACK_LIMIT before the previous
// rover epoch, the step is counted and reported (the first of the run, on
// stderr), the engine is told (RTK_RAW_take_time_back), and a base epoch held
// that lies more than RTK_RAW_TIME_BACK_LIMIT ahead of the new rover epoch is
// dropped (RTK_RAW_get_base_dropped).
void RTK_RAW_update_rover_meas(const obsd_t* obs_array, int n);
// New base epoch; it stays until replaced. While the engine has not used the
// previous base epoch, its loss-of-lock flags are OR-ed into this one, so that
// a slip is not lost; not across a step back of more than
// RTK_RAW_TIME_BACK_LIMIT, which is counted, reported (the first of the run, on
// stderr) and told to the engine (RTK_RAW_take_time_back).
void RTK_RAW_update_base_meas(const obsd_t* obs_array, int n);
// Base antenna position, ECEF m; marks the base position valid.
void RTK_RAW_update_base_pos_xyz(double x, double y, double z);
// Base velocity, ECEF m/s (moving base); the validity follows the position.
void RTK_RAW_update_base_vel_xyz(float vx, float vy, float vz);
// Receiver clock biases of the rover and of the base, m; each marks its own valid.
void RTK_RAW_update_rover_cbias(double cbias);
void RTK_RAW_update_base_cbias(double cbias);

// ---------------------------------------------------------------------------
// Reads for the engine.

// Takes the rover epoch: writes the rover observations followed by the base
// observations into obs_array (the caller's, room for MAXOBS_CYCLE) and the
// two counts into *n_rover_p and *n_base_p. Returns the total, or 0 without a
// rover epoch. In moving-base mode (4) it also refuses, 0 without touching the
// counts, with an RTCM 3 base, with CRVRAW IODs that differ within the rover
// or within the base set, without both clock biases, or when the two epochs
// lie more than 0.01 s apart after the clock-bias correction. The base epoch
// stays for later cycles.
int RTK_RAW_get_meas(obsd_t* obs_array, int* n_rover_p, int* n_base_p);
// Copies the base epoch into obs_array (the caller's, room for MAXOBS);
// returns its count, 0 without one.
int RTK_RAW_get_base_meas(obsd_t* obs_array);
// Time of the base epoch (GPS time) into *time_p; 1, or 0 without a base epoch.
int RTK_RAW_get_base_time(gtime_t* time_p);
// Base position into xyz[0..2] (ECEF m) and velocity into vel[0..2] (ECEF m/s);
// the caller's arrays. Both return 1 once a base position was delivered, else
// 0 (values 0).
int RTK_RAW_get_base_pos_xyz(double* xyz);
int RTK_RAW_get_base_vel_xyz(float* vel);
// Receiver clock bias of the rover or of the base, m, into *cbias; 1 once one
// was delivered, else 0.
int RTK_RAW_get_rover_cbias(double* cbias);
int RTK_RAW_get_base_cbias(double* cbias);
// IODs of the last base time, raw and receiver-state messages into iod[0..2]
// (the caller's).
void RTK_RAW_get_base_crv_iod(int* iod);
// 1 once a base position was delivered, else 0.
int RTK_RAW_get_raw_base_valid();
// Rover time minus base time of the epochs last taken by RTK_RAW_get_meas, s,
// into *dt. Returns 1, or 0 (and *dt = 0) until both a rover and a base epoch
// have been taken.
int RTK_RAW_get_time_dif(double* dt);

// ---------------------------------------------------------------------------
// Settings.

// Positioning mode of the engine (4 = moving base turns on the epoch matching
// of RTK_RAW_get_meas).
void RTK_RAW_set_rtk_mode(int mode);
// Base stream format: 0 unknown, 1 RTCM 3, 2 CRVRAW raw, 3 CRVRAW extended raw.
void RTK_RAW_set_base_stream_type(int type);
// IOD (0..255) of the last measurement time, raw measurement and receiver
// state message of the rover and of the base CRVRAW stream. In moving-base
// mode an epoch is used only when the three IODs of each stream agree.
void RTK_RAW_set_rover_crvtime_iod(int iod);
void RTK_RAW_set_rover_crvraw_iod(int iod);
void RTK_RAW_set_rover_crvrcv_iod(int iod);
void RTK_RAW_set_base_crvtime_iod(int iod);
void RTK_RAW_set_base_crvraw_iod(int iod);
void RTK_RAW_set_base_crvrcv_iod(int iod);
// 1 once a cycle has used the base epoch: the next base epoch then does not
// take over its loss-of-lock flags. Cleared by every base update.
void RTK_RAW_set_has_used_base_obs_flag(U08 flag);
// Rover epochs replaced before RTK_RAW_get_meas took them.
unsigned int RTK_RAW_get_rover_overrun_count();
// Epochs of the rover (is_rover non-zero) or of the base stream whose time
// went back by more than RTK_RAW_TIME_BACK_LIMIT since RTK_RAW_init.
unsigned int RTK_RAW_get_time_back_count(int is_rover);
// 1 once after a stream's time went back (the engine then starts its filter
// again), else 0; the call clears it.
int RTK_RAW_take_time_back();
// 1 while the base epoch has been dropped because the rover's time went back
// behind it and no base epoch has come since: a file reader then reads the
// base on even though its last base epoch lies ahead of the rover. Else 0.
int RTK_RAW_get_base_dropped();
// Does nothing (kept for the host's status output).
void RTK_RAW_print_status();
