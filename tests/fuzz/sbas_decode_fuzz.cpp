// Fuzz target: arbitrary SBAS symbol reports, symbol counts, collector
// indices, PRNs and issue ids into the SBAS message decoder, mixed with
// collector creation, deletion, reset and the status readers, and direct
// Viterbi, CRC-24Q and message-type calls. Input: records of 12 bytes,
//   byte 0      operation: below 0xE0 a symbol report, else one of the others below
//   byte 1      collector index as a signed byte (-128..127; 0..2 are real)
//   byte 2      PRN offset: PRN = 110 + byte (110..365; 120..138 are SBAS)
//   byte 3      issue id
//   bytes 4..7  symbols / parameter (little-endian U32)
//   bytes 8..11 symbol count / parameter (little-endian S32)
// A symbol report whose operation byte is below 0x80 uses the previous
// count + 32 instead of bytes 8..11, so that long runs of reports reach the
// Viterbi decoder, the preamble search and the CRC check. At most 64 records
// of an input are used (2048 symbols: more than the three messages a lock
// needs), so that each run stays short: every report can cost several
// Viterbi decodes while the alignment trials run.
#include <array>
#include <cstddef>
#include <cstdint>

#include "kernel/src/sbas_decode.h"

namespace {

constexpr std::size_t RECORD_BYTES = 12;
constexpr std::size_t MAX_RECORDS = 64;

U32 le32(const std::uint8_t* p) {
  return static_cast<U32>(p[0]) | (static_cast<U32>(p[1]) << 8) | (static_cast<U32>(p[2]) << 16) |
         (static_cast<U32>(p[3]) << 24);
}

S32 Geo_calls = 0;
void geo_block(S16 prn, const U32* block, S16 msg_type) {
  if (prn >= SBAS_PRN_MIN && prn <= SBAS_PRN_MAX && msg_type == 9) Geo_calls += static_cast<S32>(block[0] & 1u);
}

void other_op(std::uint8_t op, S16 ndx, S16 prn, S16 issue, U32 v, S32 n) {
  std::array<U08, SBAS_VTB_MAX_BYTES + 2> in{};
  std::array<U08, SBAS_VTB_MAX_BYTES> out{};
  std::array<U32, SBAS_BLOCK_WORDS> block{};
  S16 locked = 0;
  S32 bk = 0, m9 = 0, ms = 0;
  switch (op) {
    case 0xE0:
      SBAS_DBC_new(issue);
      break;
    case 0xE1:
      SBAS_DBC_delete(ndx);
      break;
    case 0xE2:
      SBAS_DBC_reset(ndx);
      break;
    case 0xE3:
      SBAS_DBC_check_prn(ndx, prn);
      break;
    case 0xE4:
      SBAS_DBC_update_bitcnt0(ndx, n);
      SBAS_DBC_get_track_to_first_block_msg_ms(ndx, &ms);
      break;
    case 0xE5:
      SBAS_DBC_get_db_status(ndx, &locked, &bk, &m9);
      SBAS_DBC_decode_successfully(ndx);
      SBAS_DBC_get_reset_count(ndx);
      break;
    case 0xE6:
      // A Viterbi block of any size (some outside 9..29 bytes) from the pattern v.
      for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<U08>(v >> (8 * (i % 4)));
      VTB_decode(ndx, static_cast<S16>(n % 40), in.data(), out.data());
      break;
    case 0xE7:
      for (std::size_t i = 0; i < block.size(); ++i) block[i] = v * static_cast<U32>(i + 1) ^ static_cast<U32>(n);
      crc24q_parity_check_by_tab(block.data(), n % (SBAS_BLOCK_WORDS * 32 + 1));
      SBAS_EXT_unsign(block.data(), static_cast<S16>(n), static_cast<S16>(v));
      SBAS_EXT_sign(block.data(), static_cast<S16>(v & 0xFFu), static_cast<S16>((v >> 8) & 0x3Fu));
      break;
    case 0xE8:
      for (std::size_t i = 0; i < block.size(); ++i) block[i] = v ^ static_cast<U32>(i * 0x9E3779B9u);
      SBAS_BKC_collect(prn, block.data());
      SBAS_has_fast_msg();
      SBAS_has_long_msg();
      SBAS_has_iono_msg();
      SBAS_has_inte_msg();
      break;
    default:
      SBAS_DBC_init();
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SBAS_DBC_init();
  SBAS_BKC_install_callback_geos(geo_block);
  SBAS_DBC_new(0);
  S32 count = 32;
  const std::size_t used = size < RECORD_BYTES * MAX_RECORDS ? size : RECORD_BYTES * MAX_RECORDS;
  for (std::size_t off = 0; off + RECORD_BYTES <= used; off += RECORD_BYTES) {
    const std::uint8_t op = data[off];
    const auto ndx = static_cast<S16>(static_cast<std::int8_t>(data[off + 1]));
    const auto prn = static_cast<S16>(110 + data[off + 2]);
    const auto issue = static_cast<S16>(data[off + 3]);
    const U32 v = le32(data + off + 4);
    const auto n = static_cast<S32>(le32(data + off + 8));
    if (op < 0xE0) {
      count = op < 0x80 ? static_cast<S32>(static_cast<U32>(count) + 32u) : n;
      SBAS_DBC_collect(ndx, static_cast<S16>(op % 20), prn, issue, v, count);
    } else {
      other_op(op, ndx, prn, issue, v, n);
    }
  }
  SBAS_DBC_FAULTS_T f{};
  SBAS_DBC_get_faults(&f);
  return 0;
}
