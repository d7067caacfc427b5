// Fuzz target: the whole navigation kernel fed through the host link, as the
// navigation run feeds it. Bytes go to the dispatcher, which hands whole
// frames to the report handlers and the target proxy; the kernel loop runs
// after every chunk and writes its commands back through the proxy (no port:
// they are built and dropped). Every epoch the kernel closes is also written
// as measurement-log rows and an NMEA epoch (to /dev/null and a buffer), which
// reads every channel accessor and the fix record. Input layout:
//   byte 0   bits 0..2 TCXO mode (mod 5), bits 3..4 position rate index
//            (1, 2, 5, 10 Hz), bit 5 early measurements on, bit 6 framed
//   framed   a sequence of reports, each a type byte (mod the catalogue
//            size) and that type's payload bytes; each is framed with the
//            sync bytes and a good checksum, so that arbitrary payloads of
//            every report type reach the kernel
//   raw      wire bytes in chunks whose lengths come from the data (1..128)
// A recorded link log (a few epochs of the simulated sky) seeds the corpus.
#include <array>
#include <cstddef>
#include <cstdint>

#include "host/host_callbacks.h"
#include "host/host_meas_csv.h"
#include "host/wrap.h"
#include "kernel/src/kernel_interface.h"
#include "misc/dispatch.h"
#include "misc/host_msg.h"
#include "misc/nmea.h"
#include "misc/pack.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/fuzz_kernel.h"

namespace {
constexpr std::size_t MAX_CHUNK = 128;  // bytes of one raw read

// One pass of the navigation loop after a read: the kernel, then what the run
// prints for an epoch.
void kernel_pass() {
  if (KERNEL_loop() == 0) return;
  NMEA_DATA_T d{};
  std::array<NMEA_SV_T, NMEA_MAX_SV> gps{};
  std::array<NMEA_SV_GLONASS_T, NMEA_MAX_SV> glo{};
  std::array<NMEA_SV_T, NMEA_MAX_SV> bd{};
  S16 n_gps = 0, n_glo = 0, n_bd = 0;
  KINTERFACE_get_data_for_nmea(&d, &n_gps, &n_glo, &n_bd, gps.data(), glo.data(), bd.data(), 1, nullptr);
  std::array<U08, NMEA_BUF_SIZE> s{};
  (void)NMEA_gga(s.data(), &d);
  (void)NMEA_gsa(s.data(), &d);
  for (S32 k = 1; k <= (n_gps + 3) / 4; ++k) (void)NMEA_gsv(s.data(), n_gps, k, gps.data());
  (void)NMEA_rmc(s.data(), &d);
}

void feed_framed(FUZZ_INPUT_T& in) {
  std::array<U08, DP_MAX_MSG_SIZE + 1> frame{};
  while (in.size > 0) {
    const HOST_MSG_INFO_T* m = HOST_MSG_find(in.byte() % DP_NUM_MSG_TYPES);
    if (m == nullptr) continue;
    frame[0] = DP_SYNC0;
    frame[1] = DP_SYNC1;
    frame[2] = m->type;
    for (int i = 3; i < m->len; ++i) frame[static_cast<std::size_t>(i)] = in.byte();
    append_checksum(frame.data(), m->len);
    DP_dispatch_msg(frame.data(), m->len + 1);
    kernel_pass();
  }
}

void feed_raw(FUZZ_INPUT_T& in) {
  while (in.size > 0) {
    std::size_t n = 1 + in.data[0] % MAX_CHUNK;
    if (n > in.size) n = in.size;
    DP_dispatch_msg(in.data, static_cast<int>(n));
    in.data += n;
    in.size -= n;
    kernel_pass();
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FUZZ_INPUT_T in{data, size};
  const U08 cfg = in.byte();
  msg_init();
  FUZZ_start_kernel(cfg);
  HOSTMEAS_open("/dev/null");
  if (cfg & 0x40)
    feed_framed(in);
  else
    feed_raw(in);
  kernel_pass();
  kernel_pass();
  HOSTMEAS_close();
  KERNEL_close();
  return 0;
}
