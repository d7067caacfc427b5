// Satellite health: page-25 health words and their backup piece.
#include "kernel/src/sv_health.h"

#include <cstddef>
#include <cstring>

#include "kernel/src/backup_layout.h"
#include "misc/crc16.h"
#include "misc/endian_swap.h"

static_assert(sizeof(SVH_PACKED_DATA_T) == SVH_PACKED_SIZE && offsetof(SVH_PACKED_DATA_T, sf4_valid) == 38 &&
              offsetof(SVH_PACKED_DATA_T, sf5_valid) == 40);

namespace {

constexpr S16 SF4_PAGE25_SV_ID = 63;
constexpr S16 SF5_PAGE25_SV_ID = 51;
constexpr std::size_t N_HEALTH = sizeof(SVH_PACKED_DATA_T::health);

SVH_PACKED_DATA_T Svh{};
U08* Region = nullptr;
U32 Piece_offset = 0;

U32 bits(U32 word, int first, int n) { return (word >> (31 - first - n)) & ((1U << n) - 1U); }

U16 crc_of(const SVH_PACKED_DATA_T& d) {
  U08 b[SVH_PACKED_SIZE];
  std::memcpy(b, &d, SVH_PACKED_SIZE);
  return crc16(b, SVH_PACKED_SIZE);
}

void store() {
  if (Region == nullptr) return;
  std::memcpy(Region + Piece_offset, &Svh, SVH_PACKED_SIZE);
  const U16 crc = crc_of(Svh);
  std::memcpy(Region + Piece_offset + SVH_PACKED_SIZE, &crc, sizeof crc);
}

void swap2(U08* p) {
  const U08 t = p[0];
  p[0] = p[1];
  p[1] = t;
}

// The piece in the other byte order, converted in place: valid in that
// order -> CRC recomputed; anything else -> CRC 0.
void convert_byte_order() {
  U08* p = Region + Piece_offset;
  const U16 crc_before = crc16(p, SVH_PACKED_SIZE);
  swap2(p + SVH_PACKED_SIZE);
  U16 stored = 0;
  std::memcpy(&stored, p + SVH_PACKED_SIZE, sizeof stored);
  swap2(p + 38);
  swap2(p + 40);
  U16 crc = 0;
  if (stored != 0 && stored == crc_before) crc = crc16(p, SVH_PACKED_SIZE);
  std::memcpy(p + SVH_PACKED_SIZE, &crc, sizeof crc);
}

// Four 6-bit health values of word w (D1-D6, D7-D12, D13-D18, D19-D24) to
// svid first..first+count-1, starting at slot slot0 of the word.
void put_health(U32 w, int slot0, S16 first, int count) {
  for (int k = 0; k < count; ++k)
    Svh.health[static_cast<std::size_t>(first - 1 + k)] = static_cast<U08>(bits(w, 1 + 6 * (slot0 + k), 6));
}

}  // namespace

S16 SVH_init_storage_address(U08* region_p, U32 offset) {
  Region = region_p;
  Piece_offset = offset;
  return static_cast<S16>(SVH_BACKUP_SIZE);
}

void SVH_init(U08* region_p) {
  if (region_p != nullptr) SVH_init_storage_address(region_p, 0);
  U16 stored = 0;
  if (Region != nullptr) {
    if (ENDIAN_need_swap() != 0) convert_byte_order();
    std::memcpy(&Svh, Region + Piece_offset, SVH_PACKED_SIZE);
    std::memcpy(&stored, Region + Piece_offset + SVH_PACKED_SIZE, sizeof stored);
  }
  if (stored != 0 && stored == crc_of(Svh)) return;
  std::memset(Svh.health, SVH_NOT_PRESENT, N_HEALTH);
  Svh.sf4_valid = 0;
  Svh.sf5_valid = 0;
  store();
}

void SVH_update_datawords(S16 sfid, const U32* words) {
  if (words == nullptr) return;
  const auto sv_id = static_cast<S16>(bits(words[2], 3, 6));
  if (sfid == 5 && sv_id == SF5_PAGE25_SV_ID) {
    for (int w = 0; w < 6; ++w) put_health(words[3 + w], 0, static_cast<S16>(1 + 4 * w), 4);
    Svh.sf5_valid = 1;
  } else if (sfid == 4 && sv_id == SF4_PAGE25_SV_ID) {
    put_health(words[7], 3, 25, 1);
    put_health(words[8], 0, 26, 4);
    put_health(words[9], 0, 30, 3);
    Svh.sf4_valid = 1;
  } else {
    return;
  }
  store();
}

S16 SVH_get_health(S16 prn) {
  if (prn < 1 || prn > static_cast<S16>(N_HEALTH)) return SVH_NOT_PRESENT;
  return Svh.health[static_cast<std::size_t>(prn - 1)];
}
S16 SVH_has_valid_data() { return Svh.sf4_valid != 0 && Svh.sf5_valid != 0 ? 1 : 0; }
S16 SVH_get_backup_size() { return static_cast<S16>(SVH_PACKED_SIZE); }

void SVH_update_from_packed_backup_region(const void* packed_p) {
  if (packed_p == nullptr) return;
  std::memcpy(&Svh, packed_p, SVH_PACKED_SIZE);
  store();
}
