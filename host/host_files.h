// Start-up and log files of the host program, and the kernel memory images
// they carry. All files live in the working directory.
#pragma once

#include <cstdio>

#include "kernel/src/kernel_types.h"
#include "misc/gnss_types.h"
#include "misc/start_files.h"  // HOST_IMAGE_SIZE, SAVE_RTC_SIZE

inline constexpr int RB_MAX_CHUNK = 128;                   // largest rb.bin record payload, bytes
inline constexpr int KERNEL_INIT_FILE_SIZE = 88;           // KERNEL_INIT_T in the SD-card log, bytes
inline constexpr int KERNEL_INIT_POS_TIME_FILE_SIZE = 48;  // KERNEL_INIT_POS_TIME_T in the SD-card log, bytes
inline constexpr S16 SD_MAX_TCXO_FREQ_MODE = 4;            // TCXO frequency table: modes 0..4
inline constexpr S16 SD_MAX_NPSE = 8;                      // search engines: 0..8

// The two memory images handed to KERNEL_init: HOST_IMAGE_SIZE bytes each,
// static storage of this module (never freed).
U08* HOST_get_backup_region();
U08* HOST_get_alm_nvram_block();
// Kernel initialisation record read from an SD-card log (this module's
// storage), or null when none was accepted.
const KERNEL_INIT_T* HOST_get_sd_kernel_init_data();

// Output faults of a run. The first failed creation or write of an output
// file is kept: name is the file's name (a string with static storage), what
// the failed step ("create" or "write"; a failed flush or close is a
// "write"), err the errno value of the failure. Later faults are not kept,
// so that a run reports one message.
void HOST_note_output_fault(const char* name, const char* what, int err);
// 1 when a fault was noted since the last clear or report, else 0.
int HOST_has_output_fault();
void HOST_clear_output_fault();
// The kept fault as one line on stderr, "talonhost: <name>: cannot <what>:
// <strerror(err)>", then cleared. Returns 1 when there was one, else 0.
int HOST_report_output_fault();

// The start-up files. Each writer returns 1 when its file was written whole
// (the copies also when there was nothing to copy), 0 after an output fault
// (noted with HOST_note_output_fault).
S16 load_logging_init_file();             // log_save.dat -> Backup_region -> log_init.dat
S16 init_nvram_block_file_in_log_mode();  // flash_save.alm -> Alm_nvram_block -> flash.alm
S16 save_init_file();                     // Backup_region -> log_save.dat
S16 save_nvram_block_file_in_log_mode();  // Alm_nvram_block -> flash_save.alm
void load_replay_init_file();             // rtc_data.dat, log_init.dat, flash.alm
// sd_log.dat header read from fp (the caller's open file, at its start):
// backup image, kernel initialisation record (+ optional position/time
// record), RTC record. 0 when the image or the RTC record is short; 1
// otherwise (also when a CRC does not match). The file is then at the first
// byte of the link stream. With sd_convert 1 a good RTC reading is also written
// to rtc_data.dat (0 when that fails, an output fault).
S16 init_sd_replay_data(std::FILE* fp, int sd_convert);
// The kernel initialisation record (and its position/time record) of the
// header, read from fp (the caller's, at the record); 1 when accepted: CRC
// good and tcxo_freq_mode 0..4, platform model 0..5, npse 0..8.
S16 restore_sd_kernel_init_data(std::FILE* fp);
S16 write_sd_convert_init_files();  // Backup_region -> log_init.dat (1 written, 0 output fault)
// rtc_data.dat from an RTC reading (little-endian, CRC-16 of bytes 0..9). 1
// when written whole; 0 when it cannot be created or written (an output fault).
S16 write_rtc_data_file(S16 rtc_wn, S32 rtc_sec, U32 rtc_subsec);
// Recordings written while a real-time run goes on (rb.bin, the link log
// log_data.dat). Bytes are gathered in the recording's own buffer and handed
// to the file with write(2) whole: when the buffer is full, when the oldest
// buffered byte is HOST_REC_FLUSH_MS old (HOST_rec_tick), on HOST_rec_flush
// and at HOST_rec_close. A record of rb.bin is therefore never split between
// two writes; after a short write (disk full) the file is cut back to its
// last whole record. The first failed create or write is an output fault
// (noted with HOST_note_output_fault); the recording then takes nothing more
// and every call returns 0. The caller owns the block (fixed storage of its
// module, not per epoch); no allocation.
inline constexpr int HOST_REC_BUF_SIZE = 16384;  // buffer of a recording, bytes
inline constexpr int HOST_REC_FLUSH_MS = 500;    // longest time a byte stays in the buffer while idle, ms
struct HOST_REC_T {
  int fd = -1;                       // the open file, -1 when closed
  const char* name = "";             // file name (static string), for the fault message
  bool rb_records = false;           // holds rb.bin records (cut back to whole records)
  bool failed = false;               // an output fault was noted
  int len = 0;                       // bytes buffered
  long long oldest_ms = 0;           // steady-clock time of the oldest buffered byte, ms
  long long on_disk = 0;             // bytes written to the file, bytes
  char buf[HOST_REC_BUF_SIZE] = {};  // bytes not yet written
};
// Create (or truncate) the file `name` (a string with static storage) as the
// recording rec; rb_records 1 for rb.bin records. 1 when created; 0 after an
// output fault ("create").
S16 HOST_rec_open(HOST_REC_T* rec, const char* name, int rb_records);
// One rb.bin record: 4-byte marker (12 34 56 78 base when is_base is 1, else
// 78 56 34 12 rover), 2-byte big-endian length, then the len bytes of buf (the
// caller's). 1 when taken; 0 when rec is closed or failed, len is not
// 1..RB_MAX_CHUNK, or a write failed.
S16 HOST_rec_put_record(HOST_REC_T* rec, int is_base, const char* buf, int len);
// len raw bytes of buf (the caller's), the link log. 1 when taken; 0 when rec
// is closed or failed, len is negative, or a write failed.
S16 HOST_rec_put(HOST_REC_T* rec, const char* buf, int len);
// Write what is buffered now. 1 when written (or nothing to do on a closed
// recording), 0 after an output fault.
S16 HOST_rec_flush(HOST_REC_T* rec);
// Write what is buffered when its oldest byte is HOST_REC_FLUSH_MS old: call
// at least every 100 ms while the run waits. 1, or 0 after an output fault.
S16 HOST_rec_tick(HOST_REC_T* rec);
// Write what is buffered and close the file (a closed recording is left
// alone). 1 when all was written and closed, 0 after an output fault.
S16 HOST_rec_close(HOST_REC_T* rec);
