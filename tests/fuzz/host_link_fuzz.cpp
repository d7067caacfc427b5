// Arbitrary bytes from the target's port through the dispatcher into the
// report handlers and the target proxy, with the kernel's pulls in between.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "host/host_callbacks.h"
#include "host/wrap.h"
#include "misc/dispatch.h"
#include "misc/host_msg.h"
#include "misc/pack.h"

namespace {
ASIC_MEAS_T Meas;

void drain() {
  (void)ASIC_get_measurements(&Meas);
  for (S16 ch = 0; ch < NCHAN; ++ch) {
    S16 g, p;
    U32 d, di, bc;
    U08 i;
    while (ASIC_get_databits(ch, &g, &p, &d, &di, &bc, &i)) {
    }
  }
  S16 wn;
  S32 sec;
  U32 sub;
  (void)ASIC_get_rtc(&wn, &sec, &sub);
}
}  // namespace

// Odd first byte: the rest is read as a sequence of reports, each a type byte
// and that type's payload, framed here with sync bytes and a good checksum so
// that arbitrary payloads reach the handlers.
void feed_framed(const std::uint8_t* data, std::size_t size) {
  std::size_t pos = 0;
  U08 frame[DP_MAX_MSG_SIZE + 1];
  int n = 0;
  while (pos < size) {
    const HOST_MSG_INFO_T* m = HOST_MSG_find(data[pos] % DP_NUM_MSG_TYPES);
    ++pos;
    if (m == nullptr) continue;
    frame[0] = DP_SYNC0;
    frame[1] = DP_SYNC1;
    frame[2] = m->type;
    for (int i = 3; i < m->len; ++i) frame[i] = pos < size ? data[pos++] : 0;
    append_checksum(frame, m->len);
    DP_dispatch_msg(frame, m->len + 1);
    if (++n % 4 == 0) drain();
  }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  WRAP_init(0, nullptr);
  msg_init();
  if (size > 0 && (data[0] & 1)) {
    feed_framed(data + 1, size - 1);
    drain();
    return 0;
  }
  // Feed in chunks whose lengths come from the data itself, pulling now and then
  // so that the rings both fill and drain.
  std::size_t pos = 0;
  int chunk = 0;
  while (pos < size) {
    const std::size_t n = std::min<std::size_t>(size - pos, 1 + (data[pos] % 128));
    DP_dispatch_msg(data + pos, static_cast<int>(n));
    pos += n;
    if (++chunk % 3 == 0) drain();
  }
  drain();
  return 0;
}
