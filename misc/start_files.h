// Sizes of the start-up files that the host program reads and writes in its
// working directory, and that the scripted target writes as a replay set.
// Shared here so that both ends agree on the file format without the tools
// linking the host program.
#pragma once

// Backup memory and almanac images (log_init.dat, log_save.dat, flash.alm,
// flash_save.alm, the image at the head of sd_log.dat), bytes.
inline constexpr int HOST_IMAGE_SIZE = 20480;
// The RTC record of rtc_data.dat, bytes: RTC seconds (S32), RTC sub-second
// count in 1/32768 s (U32), RTC week mod 4096 (S16), CRC-16 of bytes 0..9
// (U16); all little-endian.
inline constexpr int SAVE_RTC_SIZE = 12;
