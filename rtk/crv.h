// CRVRAW reader of the rover and base streams.
//
// Frame: 0xA0 0xA1, payload length N (U2), N payload bytes (the first is the
// message id), XOR of the payload, 0x0D 0x0A. Multi-byte fields are big-endian.
#pragma once

#include <cstdio>

#include "misc/gnss_types.h"
#include "rtk/rtk_cmn.h"

// Message ids.
enum : int {
  CRV_ID_TIME = 0xDC,     // measurement time
  CRV_ID_RAW = 0xDD,      // raw measurements
  CRV_ID_RCV = 0xDF,      // receiver navigation state
  CRV_ID_GPS_SF = 0xE0,   // GPS / QZSS subframe
  CRV_ID_GLO_STR = 0xE1,  // GLONASS string
  CRV_ID_BDS_D1 = 0xE2,   // BeiDou D1 subframe
  CRV_ID_BDS_D2 = 0xE3,   // BeiDou D2 page
  CRV_ID_SBAS = 0xE4,     // SBAS message (type 9 decoded)
  CRV_ID_EXTRAW = 0xE5,   // extended raw measurements
};

inline constexpr int CRV_MAX_FRAME = 4096;  // largest frame, sync and end bytes included

void CRV_init();
int CRV_process_rover(int len, char* buf);
int CRV_process_base(int len, char* buf);
// File mode: read the next rover epoch and the matching base data.
// 0 at the end of the rover file, else 1.
U08 CRV_process_file(std::FILE* fp_r_bin, std::FILE* fp_b_bin);
// File mode with one CRVRAW stream and one of another format: the next rover
// epoch (1, its time in *time_p; 0 at the end), or the base data up to a rover time.
int CRV_read_rover_file_epoch(std::FILE* fp_r_bin, gtime_t* time_p);
void CRV_read_base_file_for(std::FILE* fp_b_bin, gtime_t rover_time);
int CRV_print_status();
// 11 counters: bytes, extended raw observations, time messages, raw observations,
// GPS subframes, GLONASS strings, BeiDou D1, BeiDou D2, SBAS type 9, length errors,
// checksum errors.
int CRV_get_rover_status(int* dbg);
int CRV_get_base_status(int* dbg);
// Messages dropped for content: too short for their fields, a satellite number
// outside the table, an IOD that does not match the epoch, values out of range.
struct CRV_DROPS_T {
  unsigned int short_msg, bad_sat, iod_mismatch, bad_value;
};
void CRV_get_drops(int is_rover, CRV_DROPS_T* drops);
unsigned int CRV_get_cs_err_count();  // checksum failures of both streams
int CRV_get_rover_time(gtime_t* time_p);
int CRV_get_base_time(gtime_t* time_p);
// Recorder file reader: one byte per call; 1 when a record has been delivered.
void CRV_set_post_processing_stream_type(unsigned char type);  // 1 = RTCM 3 base, else CRVRAW
int CRV_post_processing(unsigned char data);
unsigned int CRV_get_recorder_drops();  // records too long for the reader's buffer
