// Raw buffers of the RTK engine: the rover epochs waiting for the engine, the
// last RTK_RAW_BASE_HISTORY base epochs, the base
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

// Base epochs kept, oldest first; each rover epoch is paired with one of them.
inline constexpr int RTK_RAW_BASE_HISTORY = 8;
// Two epoch times closer than this (s) are one epoch (a base epoch handed
// over again after a late message of its time replaces the one held).
inline constexpr double RTK_RAW_SAME_EPOCH = 1e-3;
// Receiver clock offsets between the rover and the base time tags, s: in
// real-time pairing a base epoch up to this much after the rover epoch counts
// as at its time, and a base epoch this close ends the wait for one.
inline constexpr double RTK_RAW_PAIR_TOL = 0.01;
// Real-time pairing: while the base interval is not known (one base epoch
// held), a rover epoch waits for the next base epoch only when the newest lags
// it by at most this, s.
inline constexpr double RTK_RAW_MAX_WAIT_LAG = 2.0;
// Growth of the base data error with its age, m/s (1 sigma of a double
// difference): see RTK_RAW_base_age_variance.
inline constexpr double RTK_RAW_AGE_SIGMA_RATE = 0.005;

// Clears both epochs, the base position, velocity and clock biases, the
// carried-over slip flags, the streams' last epoch times and the counters. Mode 2, stream type 0 (unknown);
// the six IODs start as 0, 1, 2, 3, 4, 0 so that no epoch matches before its
// messages have arrived.
void RTK_RAW_init();

// ---------------------------------------------------------------------------
// Updates from the stream readers. Observation arrays are copied (n is clamped
// to 0..MAXOBS); the caller keeps its array.

// New rover epoch. In file pairing a rover epoch not yet taken by
// RTK_RAW_get_meas is replaced and counted (RTK_RAW_get_rover_overrun_count);
// in real-time pairing one more may wait behind it, and only a third replaces
// the newest waiting one (counted). When its time (that of
// obs_array[0]) lies more than RTK_RAW_TIME_BACK_LIMIT before the previous
// rover epoch, the step is counted and reported (the first of the run, on
// stderr), the engine is told (RTK_RAW_take_time_back), and a base epoch held
// that lies more than RTK_RAW_TIME_BACK_LIMIT ahead of the new rover epoch is
// dropped (RTK_RAW_get_base_dropped).
void RTK_RAW_update_rover_meas(const obsd_t* obs_array, int n);
// New base epoch (time: that of obs_array[0]) into the history, in time order;
// an epoch of the same time (within RTK_RAW_SAME_EPOCH) is replaced, the oldest
// leaves when the history is full, and an epoch older than all of a full
// history is dropped; an empty one (n 0) is ignored. Loss-of-lock flags of
// base epochs that no cycle used are OR-ed into the epoch paired next (see
// RTK_RAW_get_meas), so that a slip is not lost; not across a step back of
// more than RTK_RAW_TIME_BACK_LIMIT, which clears the history, is counted,
// reported (the first of the run, on stderr) and told to the engine
// (RTK_RAW_take_time_back).
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

// Takes the oldest waiting rover epoch and pairs it with a base epoch of the
// history: writes the rover observations followed by the base observations
// into obs_array (the caller's, room for MAXOBS_CYCLE) and the two counts into
// *n_rover_p and *n_base_p. Returns the total, or 0 without a rover epoch.
// Pairing: of the candidate base epochs, those that serve the most of the
// rover epoch's systems (so a partial epoch, e.g. GLONASS without its GPS
// partner, never displaces a whole one), and of them the nearest in time.
// File pairing (the default): every epoch held is a candidate, before or after
// the rover epoch, so the age (rover - base) may be negative. Real-time
// pairing (RTK_RAW_set_realtime_pairing): only epochs at or before the rover
// time + RTK_RAW_PAIR_TOL; when none lies within RTK_RAW_PAIR_TOL and the
// next base epoch is due (by the base's interval, not overdue by more than one
// interval), the rover epoch waits: 0 is returned and it stays, until its base
// epoch arrives or a later rover epoch queues behind it. The base observations
// carry the slip flags of the unused base epochs before them. Without a base
// epoch the rover epoch goes alone (*n_base_p 0). In moving-base mode (4) it
// pairs like real time and also refuses, 0 without touching the counts, with
// an RTCM 3 base, with CRVRAW IODs that differ within the rover or within the
// base set, without both clock biases, or when the two epochs lie more than
// 0.01 s apart after the clock-bias correction. Base epochs stay for later
// cycles.
int RTK_RAW_get_meas(obsd_t* obs_array, int* n_rover_p, int* n_base_p);
// Copies the newest base epoch into obs_array (the caller's, room for MAXOBS);
// returns its count, 0 without one.
int RTK_RAW_get_base_meas(obsd_t* obs_array);
// Time of the newest base epoch (GPS time) into *time_p; 1, or 0 without a base epoch.
int RTK_RAW_get_base_time(gtime_t* time_p);
// Time of the base epoch held nearest to t (either side; GPS time) into
// *time_p; 1, or 0 without a base epoch. The file readers use it to tell
// whether a rover epoch has a base.
int RTK_RAW_nearest_base_time(gtime_t t, gtime_t* time_p);
// Times of the base epochs held, oldest first, into times[0..max_n-1] (the
// caller's); returns the count written.
int RTK_RAW_get_base_history(gtime_t* times, int max_n);
// Pairing rule of RTK_RAW_get_meas: 1 real time (base epochs at or before the
// rover epoch, bounded wait), 0 files (nearest either side). RTK_RAW_init sets 0.
void RTK_RAW_set_realtime_pairing(int realtime);
// Rover epochs waiting (0..2): a caller that ran the engine runs it again
// while a cycle took one and more wait.
int RTK_RAW_get_rover_queue();
// Variance (m^2) that base data of the given age (s, either sign) adds to a
// double difference: (RTK_RAW_AGE_SIGMA_RATE x |age|)^2. For a filter that
// weighs the base age; 0 at age 0.
double RTK_RAW_base_age_variance(double age);
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
// into *dt (negative when file pairing took a later base epoch). Returns 1, or
// 0 (and *dt = 0) when the last rover epoch taken went without a base epoch.
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
// 1 once a cycle has used the base epoch of the last RTK_RAW_get_meas: that
// epoch and the ones before it then pass no more loss-of-lock flags on. 0 does
// nothing.
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
