// Hand-built backup images for the kernel tests: receiver-state sectors and the
// clock record as the backup memory holds them (sectors at 0 and 56, clock
// record at 112), in host byte order or in the target's (big-endian) order.
#pragma once

#include <algorithm>
#include <cstring>

#include "misc/crc16.h"
#include "misc/gnss_types.h"

namespace kernel_test {

// One receiver-state sector: 48 bytes of fields, then their CRC-16.
struct Sector {
  S32 lat = 50000000;    // 1e-8 rad
  S32 lon = -20000000;   // 1e-8 rad
  S32 alt = 12345;       // cm
  S32 cdrift = -100000;  // mm/s
  D64 gps_tow = 100000.25;
  D64 ratio = 1.0;  // RTC seconds per GPS second
  U32 quality = 600;
  S32 rtc_sec = 200000;
  S16 rtc_wn = 300;
  S16 rtc_subsec = 0;
  S16 ss_dif = 0;  // TCXO clocks
  S16 gps_wn = 2300;
};

template <typename T>
void put(U08* p, T v, bool big_endian) {
  std::memcpy(p, &v, sizeof v);
  if (big_endian) std::reverse(p, p + sizeof v);
}

// Sector at region + off, fields and CRC in the chosen byte order.
inline void write_sector(U08* region, U32 off, const Sector& s, bool be) {
  U08* p = region + off;
  put(p + 0, s.lat, be);
  put(p + 4, s.lon, be);
  put(p + 8, s.alt, be);
  put(p + 12, s.cdrift, be);
  put(p + 16, s.gps_tow, be);
  put(p + 24, s.ratio, be);
  put(p + 32, s.quality, be);
  put(p + 36, s.rtc_sec, be);
  put(p + 40, s.rtc_wn, be);
  put(p + 42, s.rtc_subsec, be);
  put(p + 44, s.ss_dif, be);
  put(p + 46, s.gps_wn, be);
  put(p + 48, crc16(p, 48), be);
}

// Clock record: reliable flag 1, offset (Hz), CRC.
inline void write_clock_record(U08* region, S32 offset_hz, bool be) {
  U08* p = region + 112;
  put(p, S32{1}, be);
  put(p + 4, offset_hz, be);
  put(p + 8, crc16(p, 8), be);
}

}  // namespace kernel_test
