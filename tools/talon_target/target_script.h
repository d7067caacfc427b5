// The report script of the scripted target: a deterministic sequence of
// measurement epochs, data-bit batches and search-engine status reports, as
// the target sends them on the host link.
#pragma once

#include <cstddef>
#include <vector>

#include "misc/gnss_types.h"

struct TARGET_SCRIPT_PARAM_T {
  int epochs = 60;         // measurement epochs to send
  int epoch_ms = 100;      // epoch interval of the simulated target, ms
  int tracked = 6;         // channels reported in each epoch (0..20)
  int noise_every = 7;     // two noise bytes before every n-th epoch; 0 = none
  int mixed_gnss = 0;      // 1: channels 1, 4, 7 .. are GLONASS, 2, 5, 8 .. BeiDou (reports and data bits)
  S16 rtc_wn = 2300;       // RTC week (mod 4096)
  S32 rtc_sec = 345600;    // RTC seconds
  U32 rtc_subsec = 16384;  // RTC sub-second count, 1/32768 s
};

// GNSS type of channel ch in the script.
S16 TARGET_channel_gnss_type(const TARGET_SCRIPT_PARAM_T& p, int ch);

// One epoch's bytes: the reports of the epoch (and what precedes it), in link order.
using TARGET_CHUNK_T = std::vector<U08>;

// The RTC report frame (checksum included) that answers HOSTBASE_INIT.
TARGET_CHUNK_T TARGET_rtc_report(const TARGET_SCRIPT_PARAM_T& p);
// The report stream, one chunk per epoch.
std::vector<TARGET_CHUNK_T> TARGET_build_script(const TARGET_SCRIPT_PARAM_T& p);

// Write a replay set into directory dir: log_data.dat (the script), rtc_data.dat
// (the RTC report), log_init.dat and flash.alm (patterned 20480-byte images).
// 1 on success.
int TARGET_write_replay_set(const char* dir, const TARGET_SCRIPT_PARAM_T& p);
