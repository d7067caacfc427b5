// SBAS GEO satellites of the simulated sky (RTCA DO-229 signal layout):
// a geostationary orbit with a small daily figure (so the GEO navigation
// message carries real velocity and acceleration), the 250-bit messages it
// broadcasts once a second and their rate-1/2 convolutional symbol stream.
//
// Message layout (DO-229): bits 0-7 preamble, the 24-bit cycle 0x53, 0x9A,
// 0xC6 (one byte per message, message k of the cycle at k mod 3); bits 8-13
// the message type; bits 14-225 the data field; bits 226-249 the CRC-24Q
// parity (generator 0x1864CFB, initial value 0) over bits 0-225. Bit 0 is
// sent first; in a block of eight 32-bit words bit 0 is the most significant
// bit of word 0.
//
// Timing: message k (k = whole seconds of GPS time since the start of week 0)
// leaves the satellite from GPS second k to k + 1, 250 bit/s; the stream of
// message bits is encoded continuously (the encoder register runs across
// message edges) with the K = 7 code G1 = 171, G2 = 133 (octal), the G1
// symbol first, 500 symbols/s: symbol n (n from the start of week 0) leaves
// at n / 500 s.
//
// Message schedule (a cycle of 12 s, slot = k mod 12): 1 (PRN mask), 9 (GEO
// navigation), 2, 3, 4, 5 (fast corrections), 24 (mixed fast/long-term), 25
// (long-term), 18 (ionospheric grid mask), 26 (ionospheric delays), 6
// (integrity), and 0 ("do not use", when configured) or 63 (null message) in
// the last slot. The correction types carry a deterministic bit pattern with
// the IODP of the mask where DO-229 puts it; only type 1 and type 9 carry
// decoded contents.
#pragma once

#include <cstdint>

inline constexpr int SKY_SBAS_MAX_GEO = 3;          // GEO satellites of a scenario
inline constexpr int SKY_SBAS_MSG_BITS = 250;       // bits of one message (1 s)
inline constexpr int SKY_SBAS_SYMBOLS_PER_S = 500;  // encoded symbols per second
inline constexpr int SKY_SBAS_CYCLE_S = 12;         // length of the message schedule, s
inline constexpr int SKY_SBAS_PRN_MIN = 120;        // SBAS PRNs 120..138
inline constexpr int SKY_SBAS_PRN_MAX = 138;
inline constexpr double SKY_SBAS_GEO_RADIUS_M = 42164170.0;  // geostationary orbit radius, m
inline constexpr uint32_t SKY_SBAS_CRC24Q_GENERATOR = 0x1864CFB;

// One GEO of the sky.
struct SKY_SBAS_GEO_T {
  int prn = 0;                     // 120..138
  double lon_deg = 0.0;            // mean sub-satellite longitude, degrees east
  double incl_deg = 0.05;          // inclination: daily north-south swing amplitude, degrees
  double ecc = 0.0002;             // eccentricity: daily radial and east-west swing
  double phase_rad = 0.0;          // phase of the daily figure at GPS time 0, rad
  int ura = 2;                     // URA index sent in type 9 (0..15)
  int send_type0 = 0;              // 1: the last schedule slot is a type 0 message, else type 63
  uint32_t gps_prn_mask = 0;       // type 1: mask bits of GPS PRN 1..32 (bit 0 = PRN 1)
  double symbol_error_rate = 0.0;  // probability that a symbol arrives flipped
  unsigned seed = 1;               // seed of the symbol errors and the correction bit patterns
};

// CRC-24Q remainder (generator 0x1864CFB, initial value 0, bitwise) of the
// first nbits bits of words (first bit in the most significant bit of
// words[0]). 24-bit result.
uint32_t SKY_SBAS_crc24q(const uint32_t* words, int nbits);

// The rate-1/2, K = 7 convolutional encoder: reg holds the last six input
// bits (newest in bit 0), zero at the start.
struct SKY_SBAS_ENC_T {
  uint32_t reg = 0;
};
// Pushes one input bit (0/1); returns the two symbols, G1 (sent first) in
// bit 1 and G2 in bit 0.
int SKY_SBAS_encode_bit(SKY_SBAS_ENC_T* e, int bit);

// True ECEF state of the GEO at t_s seconds of GPS time since the start of
// week 0 (the satellite's time of transmission): position (m), velocity
// (m/s) and acceleration (m/s^2) into the caller's arrays (vel, acc may be
// null). The orbit: radius a (1 − e cos u), latitude i sin u, longitude
// λ0 + 2 e sin u, u = Ωe t + phase, fixed in the Earth frame.
void SKY_SBAS_geo_state(const SKY_SBAS_GEO_T& g, double t_s, double* pos, double* vel, double* acc);

// Message type of message k (see the schedule above).
int SKY_SBAS_message_type(const SKY_SBAS_GEO_T& g, int64_t k);

// GPS time since the start of week 0 (s, a multiple of 16 s) to which the
// type 9 message k refers (its t0): the 16-s boundary at or before second k.
int64_t SKY_SBAS_type9_t0(int64_t k);

// Message k as sent (250 bits, parity included) into block[0..7] (caller's;
// the 6 bits after bit 249 are 0). Returns the message type.
int SKY_SBAS_message(const SKY_SBAS_GEO_T& g, int64_t k, uint32_t* block);

// 32 received symbols from symbol n0 (symbols since the start of week 0,
// n0 >= 0) on: symbol n0 in bit 31; the symbol errors of the GEO (a hash of
// seed, prn and symbol index below symbol_error_rate flips it) applied,
// complemented when inverted.
uint32_t SKY_SBAS_symbol_word(const SKY_SBAS_GEO_T& g, int64_t n0, int inverted);
