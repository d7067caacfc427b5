// Viterbi decoder of the SBAS convolutional code (rate 1/2, constraint length
// 7, G1 = 171, G2 = 133 octal) with hard decisions, and the CRC-24Q of the
// SBAS message parity.
#include <array>
#include <cstddef>

#include "kernel/src/sbas_decode.h"

namespace {

constexpr int NUM_STATES = 64;                     // 6 state bits
constexpr int MAX_STEPS = SBAS_VTB_MAX_BYTES * 4;  // 116 symbol pairs
constexpr int DECISION_BYTES = NUM_STATES / 8;     // one decision bit per state
constexpr unsigned G1_STATE_MASK = 0x39;           // 171 octal without the input tap
constexpr unsigned G2_STATE_MASK = 0x1B;           // 133 octal without the input tap
constexpr unsigned STATE_MASK = NUM_STATES - 1;
constexpr unsigned INPUT_SHIFT = 5;  // the newest input bit is bit 5 of the state
constexpr U32 CRC24Q_POLY = 0x1864CFB;
constexpr U32 CRC24Q_MASK = 0xFFFFFF;

constexpr unsigned parity6(unsigned v) {
  v ^= v >> 4;
  v ^= v >> 2;
  v ^= v >> 1;
  return v & 1u;
}

constexpr std::array<U32, 256> make_crc24q_table() {
  std::array<U32, 256> t{};
  for (U32 i = 0; i < 256; ++i) {
    U32 r = i << 16;
    for (int k = 0; k < 8; ++k) r = (r & 0x800000u) != 0 ? (r << 1) ^ CRC24Q_POLY : r << 1;
    t[i] = r & CRC24Q_MASK;
  }
  return t;
}

constexpr std::array<U32, 256> Crc24_Q_table = make_crc24q_table();

struct VITERBI_S {
  std::array<U08, SBAS_VTB_MAX_BYTES> sym_pair_buffer;  // symbol bytes awaiting decoding
  S16 accumulated_bytes_in_buffer;
  std::array<S16, NUM_STATES> pre_metric;  // accumulated Hamming distance per state
  std::array<S16, NUM_STATES> cur_metric;
  std::array<std::array<U08, MAX_STEPS>, DECISION_BYTES> path_metric;  // decision bits [state / 8][step]
};

std::array<VITERBI_S, SBAS_DBC_NUM> Viterbi{};
// Sym_pair_out_tab[state] = G1 symbol (bit 1) and G2 symbol (bit 0) of input 0;
// input 1 complements both.
std::array<U08, NUM_STATES> Sym_pair_out_tab{};

bool valid_ndx(S16 ndx) { return ndx >= 0 && ndx < SBAS_DBC_NUM; }

U08 pair_of(const U08* in, int step) {
  const auto byte = in[static_cast<std::size_t>(step / 4)];
  return static_cast<U08>((byte >> (6 - 2 * (step % 4))) & 3u);
}

unsigned distance(unsigned a, unsigned b) {
  const unsigned d = a ^ b;
  return (d & 1u) + (d >> 1);
}

void set_decision(VITERBI_S& v, int step, unsigned state, unsigned bit) {
  auto& byte = v.path_metric[state / 8][static_cast<std::size_t>(step)];
  const auto m = static_cast<U08>(1u << (state % 8));
  byte = static_cast<U08>(bit != 0 ? byte | m : byte & ~m);
}

unsigned decision(const VITERBI_S& v, int step, unsigned state) {
  return (v.path_metric[state / 8][static_cast<std::size_t>(step)] >> (state % 8)) & 1u;
}

// One trellis step: the survivor of each new state s from its predecessors
// 2s mod 64 and 2s mod 64 + 1 (the second wins a tie).
void add_compare_select(VITERBI_S& v, int step, unsigned rx) {
  for (unsigned s = 0; s < NUM_STATES; ++s) {
    const unsigned in_bit = s >> INPUT_SHIFT;
    const unsigned p0 = (s << 1) & STATE_MASK;
    const unsigned p1 = p0 + 1;
    const unsigned flip = in_bit != 0 ? 3u : 0u;
    const int m0 = v.pre_metric[p0] + static_cast<int>(distance(Sym_pair_out_tab[p0] ^ flip, rx));
    const int m1 = v.pre_metric[p1] + static_cast<int>(distance(Sym_pair_out_tab[p1] ^ flip, rx));
    const bool second = m1 <= m0;
    v.cur_metric[s] = static_cast<S16>(second ? m1 : m0);
    set_decision(v, step, s, second ? 1u : 0u);
  }
  v.pre_metric = v.cur_metric;
}

}  // namespace

void VTB_generate_sym_pair_tab() {
  for (unsigned s = 0; s < NUM_STATES; ++s)
    Sym_pair_out_tab[s] = static_cast<U08>((parity6(s & G1_STATE_MASK) << 1) | parity6(s & G2_STATE_MASK));
}

void VTB_init_convolutional_encorder(S16 ndx) {
  if (!valid_ndx(ndx)) return;
  Viterbi[static_cast<std::size_t>(ndx)] = VITERBI_S{};
}

void VTB_reset(S16 ndx) {
  if (!valid_ndx(ndx)) return;
  Viterbi[static_cast<std::size_t>(ndx)].accumulated_bytes_in_buffer = 0;
}

S16 VTB_decode(S16 ndx, S16 nbytes_in, const U08* in, U08* out) {
  if (!valid_ndx(ndx) || in == nullptr || out == nullptr) return 0;
  if (nbytes_in < SBAS_VTB_MIN_BYTES || nbytes_in > SBAS_VTB_MAX_BYTES) return 0;
  if (Sym_pair_out_tab[1] == 0) VTB_generate_sym_pair_tab();  // state 1: G1 and G2 both tap delay 6
  VITERBI_S& v = Viterbi[static_cast<std::size_t>(ndx)];
  for (int i = 0; i < nbytes_in; ++i) v.sym_pair_buffer[static_cast<std::size_t>(i)] = in[i];
  v.accumulated_bytes_in_buffer = nbytes_in;
  const int steps = nbytes_in * 4;
  v.pre_metric.fill(0);
  for (int t = 0; t < steps; ++t) add_compare_select(v, t, pair_of(v.sym_pair_buffer.data(), t));
  unsigned state = 0;
  for (unsigned s = 1; s < NUM_STATES; ++s)
    if (v.pre_metric[s] < v.pre_metric[state]) state = s;
  for (int i = 0; i < (steps + 7) / 8; ++i) out[i] = 0;
  for (int t = steps - 1; t >= 0; --t) {
    if ((state >> INPUT_SHIFT) != 0) out[t / 8] = static_cast<U08>(out[t / 8] | (0x80u >> (t % 8)));
    state = ((state << 1) & STATE_MASK) | decision(v, t, state);
  }
  v.accumulated_bytes_in_buffer = 0;
  return static_cast<S16>(steps);
}

U32 crc24q_remainder_by_tab(const U32* words, S32 nbits) {
  if (words == nullptr || nbits <= 0) return 0;
  U32 crc = 0;
  S32 pos = 0;
  for (; pos + 8 <= nbits; pos += 8) {
    const U32 byte = (words[pos / 32] >> (24 - pos % 32)) & 0xFFu;
    crc = ((crc << 8) & CRC24Q_MASK) ^ Crc24_Q_table[((crc >> 16) ^ byte) & 0xFFu];
  }
  for (; pos < nbits; ++pos) {
    const U32 bit = (words[pos / 32] >> (31 - pos % 32)) & 1u;
    const U32 top = ((crc >> 23) & 1u) ^ bit;
    crc = (crc << 1) & CRC24Q_MASK;
    if (top != 0) crc ^= CRC24Q_POLY & CRC24Q_MASK;
  }
  return crc;
}

S16 crc24q_parity_check_by_tab(const U32* words, S32 nbits) {
  if (words == nullptr || nbits < 24) return 0;
  return crc24q_remainder_by_tab(words, nbits) == 0 ? 1 : 0;
}
