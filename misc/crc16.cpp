#include "misc/crc16.h"

#include <array>

namespace {

constexpr std::array<U16, 256> make_crc16_table() {
  std::array<U16, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned crc = i << 8;
    for (int b = 0; b < 8; ++b) crc = (crc & 0x8000u) ? ((crc << 1) ^ 0x1021u) : (crc << 1);
    t[i] = static_cast<U16>(crc & 0xFFFFu);
  }
  return t;
}

constexpr std::array<U16, 256> Crc16_table = make_crc16_table();

}  // namespace

U16 crc16_wi(const U08* buf, std::size_t len, U16 init) {
  unsigned crc = init;
  for (std::size_t i = 0; i < len; ++i) crc = ((crc << 8) ^ Crc16_table[((crc >> 8) ^ buf[i]) & 0xFFu]) & 0xFFFFu;
  return static_cast<U16>(crc);
}

U16 crc16(const U08* buf, std::size_t len) { return crc16_wi(buf, len, 0); }
