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
// One rb.bin record into fp (the caller's open file): 4-byte marker (base when
// is_base is 1, else rover), 2-byte big-endian length, then the len bytes of
// buf. 1 on success; 0 when fp is null, len is not 1..65535 or a write fails
// (errno then tells why; the caller notes the fault).
S16 write_rb_record(std::FILE* fp, int is_base, const char* buf, int len);
