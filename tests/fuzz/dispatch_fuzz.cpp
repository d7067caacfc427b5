// Fuzz target: arbitrary link bytes through the host-link receiver and the
// host program's report handlers, fed in chunks of varying size.
#include <cstddef>
#include <cstdint>

#include "host/host_callbacks.h"
#include "host/wrap.h"
#include "kernel/src/kernel.h"
#include "misc/dispatch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = false;
  static U08 region[20480];
  if (!ready) {
    WRAP_init(0, nullptr);
    // A started kernel, so that every epoch runs the ticks.
    KERNEL_INIT_T k{};
    k.backup_mem_p = region;
    k.tcxo_freq_mode = 4;
    k.npse = 6;
    k.reset_kernel_settings = 1;
    k.gnss_select_bits = 1;
    k.position_rate = 1;
    KERNEL_init(&k);
    ready = true;
  }
  msg_init();
  std::size_t off = 0;
  // The first byte chooses the chunk size (1..16), as serial reads split frames anywhere.
  const std::size_t chunk = size > 0 ? (data[0] & 0x0Fu) + 1u : 1u;
  while (off < size) {
    const std::size_t n = size - off < chunk ? size - off : chunk;
    DP_dispatch_msg(data + off, static_cast<int>(n));
    KERNEL_loop();
    off += n;
  }
  return 0;
}
