// Fuzz target: the almanac store, the health pages and the sky view on
// arbitrary input. Input layout:
//   byte 0          flags: bit 0 swap flag (other byte order), bit 1 stored image given, bit 2 constant image given
//   bytes 1..1900   the almanac piece of the backup region
//   next 1900       the stored image
//   next 1900       the constant image
//   next 44         the health piece
//   rest            commands of 44 bytes: week S16, time of week S32, selector U16, then ten words U32
// Every position computed is finite; every refusal is a 0.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "kernel/src/almanac.h"
#include "kernel/src/backup_layout.h"
#include "kernel/src/satellite.h"
#include "kernel/src/sky_view.h"
#include "kernel/src/sv_health.h"
#include "misc/endian_swap.h"

namespace {
std::array<U08, ALM_BACKUP_SIZE> Alm_piece;
std::array<U08, ALM_BACKUP_SIZE> Stored;
std::array<U08, ALM_BACKUP_SIZE> Constant;
std::array<U08, SVH_BACKUP_SIZE> Svh_piece;

void take(const std::uint8_t*& data, std::size_t& size, void* dst, std::size_t n) {
  const std::size_t k = size < n ? size : n;
  std::memcpy(dst, data, k);
  data += k;
  size -= k;
}

void check_position(ALM_T alm, S16 wn, S32 tow) {
  POS_T p{};
  VEL_T v{};
  if (ALM_calc_SV_position(alm, wn, tow, &p, &v) != 1) return;
  if (!std::isfinite(p.px) || !std::isfinite(p.py) || !std::isfinite(p.pz) || !std::isfinite(v.vx) ||
      !std::isfinite(v.vy) || !std::isfinite(v.vz))
    std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Alm_piece.fill(0);
  Stored.fill(0);
  Constant.fill(0);
  Svh_piece.fill(0);
  U08 flags = 0;
  take(data, size, &flags, 1);
  take(data, size, Alm_piece.data(), Alm_piece.size());
  take(data, size, Stored.data(), Stored.size());
  take(data, size, Constant.data(), Constant.size());
  take(data, size, Svh_piece.data(), Svh_piece.size());
  ENDIAN_set_swap_flag(flags & 1);
  ALM_init(Alm_piece.data(), (flags & 2) ? Stored.data() : nullptr, (flags & 4) ? Constant.data() : nullptr);
  SVH_init(Svh_piece.data());
  ENDIAN_set_swap_flag(0);
  SV_init();
  SVSKY_init();
  const POS_T rcv{-3947600.0, 3431180.0, 3638050.0};
  while (size >= 44) {
    S16 wn = 0;
    S32 tow = 0;
    U16 sel = 0;
    std::array<U32, 10> words{};
    take(data, size, &wn, sizeof wn);
    take(data, size, &tow, sizeof tow);
    take(data, size, &sel, sizeof sel);
    take(data, size, words.data(), sizeof(U32) * words.size());
    switch (sel % 8) {
      case 0:
        ALM_update_datawords(wn, tow, words.data());
        break;
      case 1:
        ALM_update_WNa_subframe(words.data());
        break;
      case 2:
        SVH_update_datawords(static_cast<S16>(sel >> 3), words.data());
        break;
      case 3:
        ALM_check_validity_time(wn);
        break;
      case 4:
        SVSKY_update_receiver_position(wn, tow, &rcv);
        break;
      case 5:
        ALM_check_received_all_almanacs(wn);
        break;
      case 6:
        ALM_clear_one(static_cast<S16>(sel >> 3));
        break;
      default:
        break;
    }
    check_position(ALM_get_reference(static_cast<S16>((sel >> 3) % 40)), wn, tow);
  }
  for (S16 prn = 1; prn <= ALM_MAX_PRN; ++prn) check_position(ALM_get_reference(prn), 2345, 300000);
  std::array<SV_T, SVSKY_LIST_CAPACITY> list{};
  if (SVSKY_get_sorted_SV_on_sky(list.data()) > SVSKY_MAX_SORTED) std::abort();
  return 0;
}
