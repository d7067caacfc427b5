// Fuzz target: kernel start-up from arbitrary backup memory, start record,
// user position/time record and RTC reading, then the kernel loop on
// arbitrary link bytes. Input layout:
//   byte 0            flags: bit 0 swap flag (target byte order), bit 1 user record given
//   bytes 1..128      the receiver-state piece of the backup image (sectors, clock record)
//   bytes 129..138    RTC reading: week S16, seconds S32, sub-second U32
//   next              the start record after its four pointers
//   next 48           the user position/time record
//   rest              link bytes, dispatched in chunks of 8 with a kernel loop after each
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "host/host_callbacks.h"
#include "host/wrap.h"
#include "kernel/src/kernel.h"
#include "misc/dispatch.h"
#include "misc/endian_swap.h"

namespace {
std::array<U08, 20480> Region;
std::array<U08, 20480> Alm_image;

// Copy up to n bytes from the input into dst; the rest of dst stays 0.
void take(const std::uint8_t*& data, std::size_t& size, void* dst, std::size_t n) {
  const std::size_t k = size < n ? size : n;
  std::memcpy(dst, data, k);
  data += k;
  size -= k;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Region.fill(0);
  U08 flags = 0;
  take(data, size, &flags, 1);
  take(data, size, Region.data(), 128);
  S16 rtc_wn = 0;
  S32 rtc_sec = 0;
  U32 rtc_subsec = 0;
  take(data, size, &rtc_wn, sizeof rtc_wn);
  take(data, size, &rtc_sec, sizeof rtc_sec);
  take(data, size, &rtc_subsec, sizeof rtc_subsec);
  KERNEL_INIT_T k{};
  constexpr std::size_t FIELDS = offsetof(KERNEL_INIT_T, force_warm);
  take(data, size, reinterpret_cast<U08*>(&k) + FIELDS, sizeof k - FIELDS);
  KERNEL_INIT_POS_TIME_T pos{};
  take(data, size, &pos, sizeof pos);
  k.backup_mem_p = Region.data();
  k.nvram_alm_mem_p = Alm_image.data();
  k.nvram_alm_const_mem_p = nullptr;
  k.init_pos_p = (flags & 2) ? &pos : nullptr;

  ENDIAN_set_swap_flag(flags & 1);
  WRAP_init(0, nullptr);
  msg_init();
  WRAP_set_asic_rtc(rtc_wn, rtc_sec, rtc_subsec);
  KERNEL_init(&k);
  for (std::size_t off = 0; off < size; off += 8) {
    const std::size_t n = size - off < 8 ? size - off : 8;
    DP_dispatch_msg(data + off, static_cast<int>(n));
    KERNEL_loop();
  }
  KERNEL_loop();
  KERNEL_close();
  return 0;
}
