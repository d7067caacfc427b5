// Fuzz target: arbitrary GPS data-bit batches, bit-count handler and
// time-count inputs into a started kernel (cold start), through the data-bit
// collectors, the subframe collectors and the kernel's frame-sync, week and
// subframe callbacks. Input: records of 10 bytes,
//   byte 0     operation: below 0xF0 a data-bit batch, else one of the others below
//   byte 1     channel (taken modulo 20)
//   bytes 2..5 databits / parameter (little-endian U32)
//   bytes 6..9 bit count / parameter (little-endian S32)
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "host/wrap.h"
#include "kernel/src/kernel.h"
#include "kernel/src/kernel_modules.h"
#include "misc/start_files.h"

namespace {
std::array<U08, HOST_IMAGE_SIZE> Region;
std::array<U08, HOST_IMAGE_SIZE> Alm_image;

U32 le32(const std::uint8_t* p) {
  return static_cast<U32>(p[0]) | (static_cast<U32>(p[1]) << 8) | (static_cast<U32>(p[2]) << 16) |
         (static_cast<U32>(p[3]) << 24);
}

void bit_count_op(std::uint8_t op, S16 ch, U32 v, S32 n) {
  const BC_T bc = BC_find_reference(ch);
  const auto type = static_cast<U16>(v & 7u);
  const auto signal = static_cast<S16>((v >> 8) & 0xFFFFu);
  const auto issue = static_cast<U08>(v >> 24);
  S32 out = 0;
  switch (op) {
    case 0xF5:
      BC_frame_sync(bc, n, type, signal, issue);
      break;
    case 0xF6:
      BC_update_dbits_bitcnt(bc, type, signal, n, issue);
      break;
    case 0xF7:
      BC_update_meas_track_bitcnt(bc, type, signal, n, issue);
      break;
    default:
      BC_convert_track_bitcnt_to_abs_bitcnt(bc, n, &out);
      BC_convert_abs_bitcnt_to_track_bitcnt(bc, n, &out);
      BC_reset((v & 1u) != 0 ? bc : nullptr);
      break;
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Region.fill(0);
  Alm_image.fill(0);
  KERNEL_INIT_T k{};
  k.backup_mem_p = Region.data();
  k.nvram_alm_mem_p = Alm_image.data();
  k.force_cold = 1;
  k.tcxo_freq_mode = 4;
  k.npse = 6;
  k.gnss_select_bits = 1;
  k.position_rate = 1;
  WRAP_init(0, nullptr);
  KERNEL_init(&k);
  GTCADJ_update_raw_gtc(0, 1234.0);
  for (std::size_t off = 0; off + 10 <= size; off += 10) {
    const std::uint8_t op = data[off];
    const auto ch = static_cast<S16>(data[off + 1] % NUM_HW_CHANNELS);
    const U32 v = le32(data + off + 2);
    const auto n = static_cast<S32>(le32(data + off + 6));
    DBCollect_T dbc = DBC_find_reference(ch);
    if (op < 0xF0) {
      if (dbc == nullptr) dbc = DBC_new(ch);
      DBC_collect(dbc, v, n);
    } else if (op < 0xF4) {
      DBC_reset(dbc);
    } else if (op == 0xF4) {
      DBC_delete(dbc);
    } else if (op < 0xF9) {
      bit_count_op(op, ch, v, n);
    } else if (op == 0xF9) {
      // Raw time count: ms within the week, or (top bit of v) whole seconds of any size.
      const D64 tow = (v & 0x80000000u) != 0 ? static_cast<D64>(n) : static_cast<D64>(n) / 1000.0;
      GTCADJ_update_raw_gtc(static_cast<S16>(v), tow);
    } else if (op == 0xFA) {
      GTCADJ_set_framesync_tow(n, static_cast<S32>(v), 50);
    } else if (op == 0xFB) {
      GTCADJ_set_subframe1_wn(static_cast<S16>(v), GNSS_TYPE_GPS);
    } else {
      S32 tow = 0;
      S32 bitcnt = 0;
      DBC_get_frame_sync_result(dbc, &tow, &bitcnt);
      S16 wn = 0;
      D64 t = 0.0;
      GTCADJ_get_adjusted_gtc(&wn, &t);
    }
  }
  KERNEL_close();
  return 0;
}
