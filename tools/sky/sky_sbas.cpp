// SBAS GEO satellites of the simulated sky: orbit, DO-229 messages and the
// convolutionally encoded symbol stream (see sky_sbas.h).
#include "tools/sky/sky_sbas.h"

#include <array>
#include <cmath>
#include <cstdint>

namespace {

constexpr double OMEGA_E = 7.2921151467e-5;  // Earth rotation rate, rad/s
constexpr double DEG = 3.14159265358979323846 / 180.0;
constexpr int64_t SECONDS_PER_DAY = 86400;
constexpr int T0_STEP_S = 16;       // type 9 reference time resolution, s
constexpr unsigned G1_TAPS = 0171;  // taps on delays 0..6, delay 0 (the new bit) in bit 6
constexpr unsigned G2_TAPS = 0133;
constexpr uint8_t IODP = 1;  // issue of the PRN mask sent in type 1 and the corrections
constexpr std::array<uint32_t, 3> PREAMBLE = {0x53, 0x9A, 0xC6};
// Schedule of one 12 s cycle; slot 11 is type 0 or 63 (see sky_sbas.h).
constexpr std::array<int, SKY_SBAS_CYCLE_S> SCHEDULE = {1, 9, 2, 3, 4, 5, 24, 25, 18, 26, 6, 63};
constexpr double VEL_H_S = 1.0;   // central-difference step of the velocity, s
constexpr double ACC_H_S = 10.0;  // step of the acceleration, s

uint64_t splitmix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

// Uniform number in [0, 1) from (seed, prn, index).
double unit_hash(uint64_t seed, int prn, int64_t index) {
  const uint64_t h = splitmix64(splitmix64(seed ^ (static_cast<uint64_t>(prn) << 40)) ^ static_cast<uint64_t>(index));
  return static_cast<double>(h >> 11) * (1.0 / 9007199254740992.0);
}

int parity(unsigned v) {
  int p = 0;
  while (v != 0) {
    p ^= static_cast<int>(v & 1U);
    v >>= 1;
  }
  return p;
}

// n-bit field at message bit s (most significant bit first).
void put_field(uint32_t* block, int s, int n, uint32_t v) {
  for (int i = 0; i < n; ++i) {
    const int b = s + i;
    const uint32_t mask = 0x80000000U >> (b % 32);
    if (((v >> (n - 1 - i)) & 1U) != 0)
      block[b / 32] |= mask;
    else
      block[b / 32] &= ~mask;
  }
}

int get_bit(const uint32_t* block, int b) { return static_cast<int>((block[b / 32] >> (31 - b % 32)) & 1U); }

// value / scale rounded to the nearest integer, as an n-bit two's complement field.
uint32_t signed_field(double value, double scale, int n) {
  const int64_t q = std::llround(value / scale);
  return static_cast<uint32_t>(q) & ((n == 32 ? 0xFFFFFFFFU : ((1U << n) - 1U)));
}

int64_t floor_div(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

void position_at(const SKY_SBAS_GEO_T& g, double t_s, double* p) {
  const double u = OMEGA_E * t_s + g.phase_rad;
  const double r = SKY_SBAS_GEO_RADIUS_M * (1.0 - g.ecc * std::cos(u));
  const double lat = g.incl_deg * DEG * std::sin(u);
  const double lon = g.lon_deg * DEG + 2.0 * g.ecc * std::sin(u);
  p[0] = r * std::cos(lat) * std::cos(lon);
  p[1] = r * std::cos(lat) * std::sin(lon);
  p[2] = r * std::sin(lat);
}

// Type 9 (DO-229 GEO navigation message) fields from the true orbit at t0.
void fill_type9(const SKY_SBAS_GEO_T& g, int64_t k, uint32_t* block) {
  const int64_t t0 = SKY_SBAS_type9_t0(k);
  double p[3] = {};
  double v[3] = {};
  double a[3] = {};
  SKY_SBAS_geo_state(g, static_cast<double>(t0), p, v, a);
  const int64_t tod = ((t0 % SECONDS_PER_DAY) + SECONDS_PER_DAY) % SECONDS_PER_DAY;
  put_field(block, 14, 8, static_cast<uint32_t>((t0 / T0_STEP_S) & 0xFF));  // IOD: changes with t0
  put_field(block, 22, 13, static_cast<uint32_t>(tod / T0_STEP_S));
  put_field(block, 35, 4, static_cast<uint32_t>(g.ura) & 0xFU);
  put_field(block, 39, 30, signed_field(p[0], 0.08, 30));
  put_field(block, 69, 30, signed_field(p[1], 0.08, 30));
  put_field(block, 99, 25, signed_field(p[2], 0.4, 25));
  put_field(block, 124, 17, signed_field(v[0], 0.000625, 17));
  put_field(block, 141, 17, signed_field(v[1], 0.000625, 17));
  put_field(block, 158, 18, signed_field(v[2], 0.004, 18));
  put_field(block, 176, 10, signed_field(a[0], 0.0000125, 10));
  put_field(block, 186, 10, signed_field(a[1], 0.0000125, 10));
  put_field(block, 196, 10, signed_field(a[2], 0.0000625, 10));
  put_field(block, 206, 12, 0);  // aGf0: the sky's GEO clock keeps GPS time
  put_field(block, 218, 8, 0);   // aGf1
}

// Type 1: PRN mask (bits 14-223, PRN 1 first), IODP at 224-225.
void fill_type1(const SKY_SBAS_GEO_T& g, uint32_t* block) {
  for (int i = 0; i < 32; ++i) put_field(block, 14 + i, 1, (g.gps_prn_mask >> i) & 1U);
  put_field(block, 224, 2, IODP);
}

// Correction types: a pattern of the seed and the message, with the IODP of
// the mask where DO-229 puts it (types 2-5 and 24 after IODF, 6 after the
// IODFs, 18 and 26 carry their band/IODI instead and keep the pattern).
void fill_pattern(const SKY_SBAS_GEO_T& g, int type, int64_t k, uint32_t* block) {
  for (int b = 14; b < 226; ++b)
    put_field(block, b, 1, static_cast<uint32_t>(unit_hash(g.seed ^ 0x5BA5ULL, g.prn, k * 256 + b) < 0.5 ? 1 : 0));
  if (type >= 2 && type <= 5) put_field(block, 16, 2, IODP);
  if (type == 24) put_field(block, 112, 2, IODP);
}

}  // namespace

uint32_t SKY_SBAS_crc24q(const uint32_t* words, int nbits) {
  uint32_t r = 0;
  for (int i = 0; i < nbits; ++i) {
    const uint32_t top = ((r >> 23) & 1U) ^ static_cast<uint32_t>(get_bit(words, i));
    r = (r << 1) & 0xFFFFFFU;
    if (top != 0) r ^= SKY_SBAS_CRC24Q_GENERATOR & 0xFFFFFFU;
  }
  return r;
}

int SKY_SBAS_encode_bit(SKY_SBAS_ENC_T* e, int bit) {
  // register of seven: the new bit at delay 0 (bit 6 of the tap masks)
  const unsigned r7 = (static_cast<unsigned>(bit & 1) << 6) | (e->reg & 0x3FU);
  // delays 1..6 are bits 5..0 with the newest previous bit at delay 1
  const int s1 = parity(r7 & G1_TAPS);
  const int s2 = parity(r7 & G2_TAPS);
  e->reg = ((e->reg >> 1) | (static_cast<uint32_t>(bit & 1) << 5)) & 0x3FU;
  return (s1 << 1) | s2;
}

void SKY_SBAS_geo_state(const SKY_SBAS_GEO_T& g, double t_s, double* pos, double* vel, double* acc) {
  position_at(g, t_s, pos);
  double pm[3] = {};
  double pp[3] = {};
  if (vel != nullptr) {
    position_at(g, t_s - VEL_H_S, pm);
    position_at(g, t_s + VEL_H_S, pp);
    for (int i = 0; i < 3; ++i) vel[i] = (pp[i] - pm[i]) / (2.0 * VEL_H_S);
  }
  if (acc != nullptr) {
    position_at(g, t_s - ACC_H_S, pm);
    position_at(g, t_s + ACC_H_S, pp);
    for (int i = 0; i < 3; ++i) acc[i] = (pp[i] - 2.0 * pos[i] + pm[i]) / (ACC_H_S * ACC_H_S);
  }
}

int SKY_SBAS_message_type(const SKY_SBAS_GEO_T& g, int64_t k) {
  const auto slot = static_cast<std::size_t>(((k % SKY_SBAS_CYCLE_S) + SKY_SBAS_CYCLE_S) % SKY_SBAS_CYCLE_S);
  if (slot == SCHEDULE.size() - 1 && g.send_type0 != 0) return 0;
  return SCHEDULE[slot];
}

int64_t SKY_SBAS_type9_t0(int64_t k) { return floor_div(k, T0_STEP_S) * T0_STEP_S; }

int SKY_SBAS_message(const SKY_SBAS_GEO_T& g, int64_t k, uint32_t* block) {
  for (int i = 0; i < 8; ++i) block[i] = 0;
  const int type = SKY_SBAS_message_type(g, k);
  put_field(block, 0, 8, PREAMBLE[static_cast<std::size_t>(((k % 3) + 3) % 3)]);
  put_field(block, 8, 6, static_cast<uint32_t>(type));
  if (type == 9)
    fill_type9(g, k, block);
  else if (type == 1)
    fill_type1(g, block);
  else if (type != 63)
    fill_pattern(g, type, k, block);
  put_field(block, 226, 24, SKY_SBAS_crc24q(block, 226));
  return type;
}

uint32_t SKY_SBAS_symbol_word(const SKY_SBAS_GEO_T& g, int64_t n0, int inverted) {
  if (n0 < 0) n0 = 0;
  // message bits b0 - 6 .. b1 feed the encoder for symbols n0 .. n0 + 31
  const int64_t b0 = n0 / 2;
  const int64_t b1 = (n0 + 31) / 2;
  const int64_t first_bit = b0 - 6 < 0 ? 0 : b0 - 6;
  const int64_t k_first = first_bit / SKY_SBAS_MSG_BITS;
  const int64_t k_last = b1 / SKY_SBAS_MSG_BITS;
  std::array<std::array<uint32_t, 8>, 2> msgs{};  // messages k_first .. k_last (at most two)
  for (int64_t k = k_first; k <= k_last && k - k_first < 2; ++k)
    SKY_SBAS_message(g, k, msgs[static_cast<std::size_t>(k - k_first)].data());
  SKY_SBAS_ENC_T e;
  uint32_t word = 0;
  for (int64_t b = first_bit; b <= b1; ++b) {
    const int64_t k = b / SKY_SBAS_MSG_BITS;
    const int bit =
        get_bit(msgs[static_cast<std::size_t>(k - k_first)].data(), static_cast<int>(b % SKY_SBAS_MSG_BITS));
    const int pair = SKY_SBAS_encode_bit(&e, bit);
    for (int s = 0; s < 2; ++s) {
      const int64_t n = 2 * b + s;
      if (n < n0 || n > n0 + 31) continue;
      int sym = s == 0 ? (pair >> 1) & 1 : pair & 1;
      if (inverted != 0) sym ^= 1;
      if (g.symbol_error_rate > 0.0 && unit_hash(g.seed, g.prn, n) < g.symbol_error_rate) sym ^= 1;
      word |= static_cast<uint32_t>(sym) << (31 - (n - n0));
    }
  }
  return word;
}
