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

// Clears both stream decoders (no epoch time, no frame, counters 0), the
// recorder reader, the file-mode pairing state and the post-processing stream
// type. Called by RTK_init.
void CRV_init();
// Feed len bytes of the rover or the base stream (buf is the caller's, read
// only). Decoded epochs go to the raw buffers, ephemerides to the navigation
// store; a frame may span calls. Returns 1.
int CRV_process_rover(int len, char* buf);
int CRV_process_base(int len, char* buf);
// File mode: read the next rover epoch and the matching base data. Reads the
// rover file until an epoch is complete; then, unless a base position (from
// the base file or already in the raw buffers) and a
// base epoch at or after the rover epoch (within RTK_RAW_PAIR_TOL) are held,
// reads the base file until they are: the raw buffers' base history then
// holds the base epochs on both sides of the rover epoch and the engine pairs
// it with the nearest (a base epoch ahead stays for later rover epochs).
// Files are the caller's, opened for binary reading, read from their current
// position. Returns 0 at the end of the rover file, else 1.
U08 CRV_process_file(std::FILE* fp_r_bin, std::FILE* fp_b_bin);
// File mode with one CRVRAW stream and one of another format. The next rover
// epoch: 1 with its time (GPS time) in *time_p, 0 at the end of the file. Or
// the base data up to rover_time, with the pairing rules of CRV_process_file.
int CRV_read_rover_file_epoch(std::FILE* fp_r_bin, gtime_t* time_p);
void CRV_read_base_file_for(std::FILE* fp_b_bin, gtime_t rover_time);
// Does nothing; returns 1.
int CRV_print_status();
// 11 counters of a stream into dbg[0..10] (the caller's): bytes, extended raw
// observations, time messages, raw observations, GPS subframes, GLONASS
// strings, BeiDou D1, BeiDou D2, SBAS type 9, length errors, checksum errors.
// Returns 1.
int CRV_get_rover_status(int* dbg);
int CRV_get_base_status(int* dbg);
// Messages dropped for content: too short for their fields, a satellite number
// outside the table, an IOD that does not match the epoch, values out of range.
struct CRV_DROPS_T {
  unsigned int short_msg, bad_sat, iod_mismatch, bad_value;
};
// Drops of the rover stream (is_rover non-zero) or of the base stream, into *drops.
void CRV_get_drops(int is_rover, CRV_DROPS_T* drops);
// Frames of a stream: good ones (checksum and end bytes right), frames dropped
// for a bad checksum or end bytes, frames dropped for their length (longer
// than CRV_MAX_FRAME, or no payload), epochs handed to the raw buffer, bytes
// skipped outside any frame (while looking for the sync bytes), and bytes of
// a frame begun but not complete (at the end of a file: a cut last frame).
struct CRV_FRAMES_T {
  unsigned int good, checksum, length, epochs;
  unsigned int skipped, incomplete;  // bytes
};
// The counters of the rover stream (is_rover non-zero) or of the base stream, into *frames.
void CRV_get_frames(int is_rover, CRV_FRAMES_T* frames);
unsigned int CRV_get_cs_err_count();  // checksum failures of both streams
// Current epoch time of a stream (GPS time) into *time_p: 1, or 0 while the
// stream has had no time or extended raw message.
int CRV_get_rover_time(gtime_t* time_p);
int CRV_get_base_time(gtime_t* time_p);

// Recorder file reader. The host program records both real-time streams into
// one file of records: a 4-byte marker (12 34 56 78 base, 78 56 34 12 rover),
// a 2-byte big-endian length L, then L bytes of the stream.
// Format of the recorded base stream: 1 = RTCM 3, anything else CRVRAW.
void CRV_set_post_processing_stream_type(unsigned char type);
// One byte of the file. When a record is complete its bytes go to the rover
// or base reader and 1 is returned; otherwise 0. A record longer than
// CRV_MAX_FRAME - 6 is dropped (counted) and the search for a marker restarts.
int CRV_post_processing(unsigned char data);
unsigned int CRV_get_recorder_drops();  // records too long for the reader's buffer
// Frames of the other base format found in the recorded base bytes: RTCM 3
// frames with a good CRC-24Q while the base is read as CRVRAW, CRVRAW frames
// with a good checksum while it is read as RTCM 3 (a wrong --is-rtcm).
unsigned int CRV_get_recorder_other_format_frames();
