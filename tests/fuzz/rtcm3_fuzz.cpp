// libFuzzer target of the RTCM 3 reader: the first bytes choose the rover time
// (so that the time checks pass for some inputs and fail for others) and whether
// a GLONASS frequency number is known; the rest goes to the base reader in
// chunks of varying length. The base epochs it hands over are then read back.
#include <cstddef>
#include <cstdint>

#include "rtk/rtcm3.h"
#include "rtk/rtk.h"
#include "rtk/rtk_raw.h"

namespace {
obsd_t Obs[MAXOBS];
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  RTCM3_init();
  RTK_RAW_init();
  RTK_NAV_init(SYS_ALL);
  if (size < 4) return 0;
  // Rover time: week 1650..2412 in steps of 3, time of week from two bytes (or none at all).
  if (data[0] != 0xFF) RTCM3_update_rover_time(1650 + 3 * data[0], (data[1] << 8 | data[2]) * 9.23);
  if (data[3] & 1) RTK_set_glonass_freq_num(static_cast<U08>(1 + data[3] % 24), static_cast<S08>(data[3] % 14 - 7));
  const std::size_t chunk = 1 + data[3] % 200;
  char buf[256];
  std::size_t i = 4;
  while (i < size) {
    std::size_t n = 0;
    while (n < chunk && i < size) buf[n++] = static_cast<char>(data[i++]);
    RTCM3_process_base(static_cast<int>(n), buf);
    gtime_t t{};
    RTCM3_get_epoch(Obs, MAXOBS, &t);
    RTK_RAW_get_base_meas(Obs);
  }
  unsigned int st[RTCM3_NSTATUS];
  RTCM3_get_base_status(st);
  return 0;
}
