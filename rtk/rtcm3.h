// RTCM 3 reader of the base stream.
//
// Frame: 0xD3, 6 reserved bits, 10-bit message length N, N bytes of message
// (the first 12 bits are the message type), CRC-24Q of everything before it.
// Decoded: 1002, 1004 (legacy GPS L1), 1005, 1006 (antenna reference point),
// 1032 (counted), MSM4..MSM7 of GPS, GLONASS, SBAS, QZSS and BeiDou. Only the
// L1 / B1 signal is kept. Complete base epochs go to RTK_RAW_update_base_meas,
// the station position to RTK_RAW_update_base_pos_xyz.
#pragma once

#include "rtk/rtk_cmn.h"

inline constexpr int RTCM3_PREAMBLE = 0xD3;
inline constexpr int RTCM3_MAX_MSG = 1023;  // largest message length (10-bit field), bytes
inline constexpr int RTCM3_NSTATUS = 32;    // values of RTCM3_get_base_status
// Indices of RTCM3_get_base_status after the message counts.
inline constexpr int RTCM3_STATUS_BYTES = 29;     // bytes received
inline constexpr int RTCM3_STATUS_CRC_GOOD = 30;  // frames with a good CRC-24Q
inline constexpr int RTCM3_STATUS_CRC_BAD = 31;   // frames with a bad CRC-24Q

// Clears the decoder (frame, epoch, station, phase and lock history), the
// rover time, the message-family learning and every counter. Called by RTK_init.
void RTCM3_init();
// Feeds len bytes of the base stream (buf is the caller's, read only) one by
// one to RTCM3_input_byte; a frame may span calls. Returns 1.
int RTCM3_process_base(int len, char* buf);
// One byte. Returns the message type when a frame with a good CRC was
// completed and decoded (whether or not its content was accepted), -1
// otherwise. Bytes of a frame that fails its CRC are searched again for a
// preamble.
int RTCM3_input_byte(unsigned char data);
// Does nothing; returns 1.
int RTCM3_print_status();
// Epoch time of the rover stream: full GPS week and time of week, s. Base
// epoch times are placed in the rover's week (GLONASS: its day) and must lie
// within 60 s of it; no base epoch is decoded before the first call.
void RTCM3_update_rover_time(int week, double tow);
// RTCM3_NSTATUS (32) values into dbg (the caller's): message counts of types
// 1001..1006, 1074..1077, 1084..1087, 1104..1107, 1114..1117, 1124..1127, 1032
// (indices 0..26, then two unused), bytes received, frames with a good CRC,
// frames with a bad CRC.
void RTCM3_get_base_status(unsigned int* dbg);

// Messages rejected for content, by reason.
struct RTCM3_DROPS_T {
  unsigned int no_rover_time;   // observation message before any rover epoch time
  unsigned int bad_time;        // week below 1700 or more than 60 s from the rover time
  unsigned int short_msg;       // message shorter than its fields
  unsigned int too_many_cells;  // MSM with more than 64 cells
  unsigned int full_epoch;      // observations beyond 64 in one epoch
};
void RTCM3_get_drops(RTCM3_DROPS_T* drops);  // copied into *drops

// The last decoded epoch and station position, for inspection.
// Copies at most max_n observations of the epoch into obs (the caller's) and
// its time (GPS time) into *time unless time is null; returns the number copied.
int RTCM3_get_epoch(obsd_t* obs, int max_n, gtime_t* time);
// Station id into *staid and antenna reference point into pos[0..2] (ECEF m,
// the caller's); returns 1 once a 1005/1006 was decoded, else 0.
int RTCM3_get_station(int* staid, double* pos);
// Message families seen while learning into *gps and *bds (bit 0 legacy GPS,
// bit 1 MSM), and into *started 1 once five observation messages have been
// seen and epochs are handed over, else 0.
void RTCM3_get_version(int* gps, int* bds, int* started);
