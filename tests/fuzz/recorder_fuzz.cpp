// libFuzzer target of the recorder reader (rb.bin) with both base stream types:
// records go to the CRVRAW rover reader and to the RTCM 3 or CRVRAW base reader,
// and each record is followed by the raw buffers' hand-out as in a re-run.
#include <cstddef>
#include <cstdint>

#include "rtk/crv.h"
#include "rtk/rtcm3.h"
#include "rtk/rtk.h"
#include "rtk/rtk_raw.h"

namespace {
obsd_t Obs[MAXOBS_CYCLE];
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CRV_init();
  RTCM3_init();
  RTK_RAW_init();
  RTK_NAV_init(SYS_ALL);
  if (size == 0) return 0;
  CRV_set_post_processing_stream_type(data[0] & 1 ? 1 : 0);
  for (std::size_t i = 1; i < size; ++i) {
    if (!CRV_post_processing(data[i])) continue;
    int nr = 0, nb = 0;
    RTK_RAW_get_meas(Obs, &nr, &nb);
  }
  return 0;
}
