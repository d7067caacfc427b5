// SBAS message decoding: CRC-24Q and Viterbi known answers, and symbol
// streams built with the simulated sky's encoder (tools/sky/sky_sbas.h,
// written from RTCA DO-229: 250-bit messages, preambles 0x53, 0x9A, 0xC6 in
// cyclic order, CRC-24Q parity, rate-1/2 K=7 convolutional code G1 = 171,
// G2 = 133 octal, G1 symbol first) decoded back at every pair alignment and
// both polarities, with 2 % symbol errors.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "host/wrap.h"
#include "kernel/src/channel.h"
#include "kernel/src/kernel.h"
#include "kernel/src/sbas_decode.h"
#include "tools/sky/sky_sbas.h"

namespace {

using Bits = std::vector<int>;

// --- the sky's encoder and bitwise CRC-24Q on bit vectors -------------------------------------

std::vector<U32> to_words(const std::vector<int>& bits);

// Bitwise CRC-24Q remainder (initial value 0) of a bit sequence.
std::uint32_t crc24q_bits(const Bits& bits) {
  const std::vector<U32> w = to_words(bits);
  return SKY_SBAS_crc24q(w.data(), static_cast<int>(bits.size()));
}

// The symbols of bits, the encoder starting from zero; G1 symbol first.
std::vector<int> encode(const Bits& bits) {
  SKY_SBAS_ENC_T e;
  std::vector<int> sym;
  for (const int b : bits) {
    const int pair = SKY_SBAS_encode_bit(&e, b);
    sym.push_back((pair >> 1) & 1);
    sym.push_back(pair & 1);
  }
  return sym;
}

void put_field(Bits& bits, int start, int n, std::uint32_t v) {
  for (int i = 0; i < n; ++i) bits[static_cast<std::size_t>(start + i)] = static_cast<int>((v >> (n - 1 - i)) & 1u);
}

// A 250-bit message: preamble, type, 212 random data bits, parity.
Bits make_message(std::uint32_t preamble, int type, std::mt19937& rng) {
  Bits m(250, 0);
  put_field(m, 0, 8, preamble);
  put_field(m, 8, 6, static_cast<std::uint32_t>(type));
  for (int i = 14; i < 226; ++i) m[static_cast<std::size_t>(i)] = static_cast<int>(rng() & 1u);
  const std::uint32_t crc = crc24q_bits(Bits(m.begin(), m.begin() + 226));
  put_field(m, 226, 24, crc);
  return m;
}

std::array<std::uint32_t, 8> to_block(const Bits& m) {
  std::array<std::uint32_t, 8> b{};
  for (std::size_t i = 0; i < m.size(); ++i)
    if (m[i] != 0) b[i / 32] |= 0x80000000u >> (i % 32);
  return b;
}

std::vector<U32> to_words(const std::vector<int>& bits) {
  std::vector<U32> w((bits.size() + 31) / 32, 0);
  for (std::size_t i = 0; i < bits.size(); ++i)
    if (bits[i] != 0) w[i / 32] |= 0x80000000u >> (i % 32);
  return w;
}

// --- messages seen by the GEO callback ---------------------------------------------------------

std::vector<std::array<std::uint32_t, 8>> Seen_blocks;
std::vector<S16> Seen_prns;

void record_block(S16 prn, const U32* block, S16 msg_type) {
  EXPECT_EQ(msg_type, 9);
  std::array<std::uint32_t, 8> b{};
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = block[i];
  Seen_blocks.push_back(b);
  Seen_prns.push_back(prn);
}

void start_decoder() {
  SBAS_DBC_init();
  SBAS_BKC_install_callback_geos(record_block);
  Seen_blocks.clear();
  Seen_prns.clear();
}

// --- CRC-24Q ---------------------------------------------------------------------------------

struct CrcCase {
  const char* name;
  std::string bytes;
  std::uint32_t remainder;
};

// "123456789" -> 0xCDE703 is the published check value of CRC-24Q (the RTCM 3 CRC).
const CrcCase CRC_CASES[] = {
    {"check_value_123456789", "123456789", 0xCDE703},
    {"single_zero_byte", std::string(1, '\0'), 0x000000},
    {"single_0x01_byte", std::string(1, '\x01'), 0x864CFB},  // the generator itself
};

TEST(SbasCrc24q, KnownAnswersAndParityCheck) {
  for (const CrcCase& c : CRC_CASES) {
    SCOPED_TRACE(c.name);
    Bits bits;
    for (const char ch : c.bytes)
      for (int i = 7; i >= 0; --i) bits.push_back((static_cast<unsigned char>(ch) >> i) & 1);
    const std::vector<U32> w = to_words(bits);
    EXPECT_EQ(crc24q_remainder_by_tab(w.data(), static_cast<S32>(bits.size())), c.remainder);
    EXPECT_EQ(crc24q_bits(bits), c.remainder);  // the test's bitwise CRC agrees
    Bits with_parity = bits;
    for (int i = 23; i >= 0; --i) with_parity.push_back(static_cast<int>((c.remainder >> i) & 1u));
    const std::vector<U32> wp = to_words(with_parity);
    EXPECT_EQ(crc24q_parity_check_by_tab(wp.data(), static_cast<S32>(with_parity.size())), 1);
    Bits flipped = with_parity;
    flipped[3] ^= 1;
    const std::vector<U32> wf = to_words(flipped);
    EXPECT_EQ(crc24q_parity_check_by_tab(wf.data(), static_cast<S32>(flipped.size())), 0);
  }
}

TEST(SbasCrc24q, MessageOf250Bits) {
  std::mt19937 rng(7);
  const Bits m = make_message(0x53, 9, rng);
  const auto b = to_block(m);
  EXPECT_EQ(crc24q_parity_check_by_tab(b.data(), 250), 1);
  for (const int pos : {0, 13, 100, 225, 226, 249}) {
    SCOPED_TRACE(pos);
    Bits f = m;
    f[static_cast<std::size_t>(pos)] ^= 1;
    const auto fb = to_block(f);
    EXPECT_EQ(crc24q_parity_check_by_tab(fb.data(), 250), 0);
  }
}

// --- Viterbi ----------------------------------------------------------------------------------

TEST(SbasViterbi, ImpulseResponseIsTheGeneratorTaps) {
  // A single 1 followed by zeros: the pairs are the taps of G1 = 1111001 and
  // G2 = 1011011 read from delay 0, interleaved.
  Bits in(48, 0);
  in[0] = 1;
  const std::vector<int> sym = encode(in);
  const std::vector<int> taps{1, 1, 1, 0, 1, 1, 1, 1, 0, 0, 0, 1, 1, 1};
  for (std::size_t i = 0; i < taps.size(); ++i) EXPECT_EQ(sym[i], taps[i]) << "symbol " << i;
  for (std::size_t i = taps.size(); i < sym.size(); ++i) EXPECT_EQ(sym[i], 0) << "symbol " << i;
}

struct VtbCase {
  const char* name;
  int nbytes;             // symbol bytes (4 pairs each)
  std::vector<int> ones;  // input bits set to 1
  int symbol_errors;      // symbols flipped, spread far apart
  int decoded;            // bits the decoder answers
};

const VtbCase VTB_CASES[] = {
    {"impulse", 12, {0}, 0, 48},
    {"all_zero", 12, {}, 0, 48},
    {"impulse_mid_block", 12, {20}, 0, 48},
    {"pattern_29_bytes", 29, {0, 3, 4, 9, 30, 31, 32, 60, 77, 90, 100}, 0, 116},
    {"pattern_with_two_symbol_errors", 20, {2, 5, 6, 11, 40, 41, 50}, 2, 80},
    {"impulse_9_bytes", 9, {1}, 0, 36},
    {"too_short_8_bytes", 8, {0}, 0, 0},
    {"too_long_30_bytes", 30, {0}, 0, 0},
};

TEST(SbasViterbi, DecodesEncodedBlocks) {
  VTB_generate_sym_pair_tab();
  for (const VtbCase& c : VTB_CASES) {
    SCOPED_TRACE(c.name);
    Bits in(static_cast<std::size_t>(c.nbytes * 4), 0);
    for (const int k : c.ones) in[static_cast<std::size_t>(k)] = 1;
    std::vector<int> sym = encode(in);
    for (int e = 0; e < c.symbol_errors; ++e) sym[static_cast<std::size_t>(20 + 40 * e)] ^= 1;
    std::vector<U08> bytes(static_cast<std::size_t>(c.nbytes), 0);
    for (std::size_t i = 0; i < sym.size(); ++i)
      if (sym[i] != 0) bytes[i / 8] = static_cast<U08>(bytes[i / 8] | (0x80u >> (i % 8)));
    std::vector<U08> out(static_cast<std::size_t>((c.nbytes + 1) / 2), 0xEE);
    const S16 n = VTB_decode(0, static_cast<S16>(c.nbytes), bytes.data(), out.data());
    ASSERT_EQ(n, c.decoded);
    for (int i = 0; i < n; ++i)
      EXPECT_EQ((out[static_cast<std::size_t>(i / 8)] >> (7 - i % 8)) & 1, in[static_cast<std::size_t>(i)])
          << "bit " << i;
  }
}

// --- symbol streams ---------------------------------------------------------------------------

struct Stream {
  std::vector<U32> words;            // 32-symbol reports
  std::vector<Bits> messages;        // sent messages
  std::vector<long> message_symbol;  // symbol index of each message's first symbol pair
};

// lead random bits, then the messages back to back, encoded continuously;
// offset symbols of noise in front (pair alignment), inverted when asked,
// symbol errors at rate p.
Stream make_stream(const std::vector<std::pair<std::uint32_t, int>>& msgs, int lead, int offset, bool invert, double p,
                   unsigned seed) {
  std::mt19937 rng(seed);
  Stream s;
  Bits bits;
  for (int i = 0; i < lead; ++i) bits.push_back(static_cast<int>(rng() & 1u));
  for (const auto& [pre, type] : msgs) {
    s.message_symbol.push_back(offset + 2L * static_cast<long>(bits.size()));
    s.messages.push_back(make_message(pre, type, rng));
    bits.insert(bits.end(), s.messages.back().begin(), s.messages.back().end());
  }
  for (int i = 0; i < 200; ++i) bits.push_back(static_cast<int>(rng() & 1u));
  std::vector<int> sym;
  for (int i = 0; i < offset; ++i) sym.push_back(static_cast<int>(rng() & 1u));
  const std::vector<int> coded = encode(bits);
  sym.insert(sym.end(), coded.begin(), coded.end());
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int& x : sym) {
    if (invert) x ^= 1;
    if (u(rng) < p) x ^= 1;
  }
  sym.resize(sym.size() / 32 * 32);
  s.words = to_words(sym);
  return s;
}

std::vector<std::pair<std::uint32_t, int>> type9_cycle(int n) {
  std::vector<std::pair<std::uint32_t, int>> v;
  constexpr std::array<std::uint32_t, 3> pre{0x53, 0x9A, 0xC6};
  for (int i = 0; i < n; ++i) v.emplace_back(pre[static_cast<std::size_t>(i % 3)], 9);
  return v;
}

// Feeds the words from collector ndx with symbol counts first_count, +32 ...;
// skip = index of a word left out (a lost report), -1 for none.
void feed(S16 ndx, const Stream& s, S32 first_count, std::size_t skip = SIZE_MAX, S16 prn = 129) {
  S32 count = first_count;
  for (std::size_t i = 0; i < s.words.size(); ++i, count += 32) {
    if (i == skip) continue;
    SBAS_DBC_collect(ndx, 4, prn, 7, s.words[i], count);
  }
}

// Index of the sent message equal to block, or -1.
int find_message(const Stream& s, const std::array<std::uint32_t, 8>& b) {
  for (std::size_t i = 0; i < s.messages.size(); ++i)
    if (to_block(s.messages[i]) == b) return static_cast<int>(i);
  return -1;
}

struct StreamCase {
  const char* name;
  int offset;  // noise symbols before the stream (pair alignment and word position)
  bool invert;
  S32 first_count;  // symbol count of the first report
};

const StreamCase STREAM_CASES[] = {
    {"aligned_upright", 0, false, 32},
    {"aligned_inverted", 0, true, 32},
    {"second_symbol_upright", 1, false, 32},
    {"second_symbol_inverted", 1, true, 32},
    {"offset_2_upright", 2, false, 32},
    {"offset_3_inverted", 3, true, 32},
    {"offset_17_inverted", 17, true, 32},
    {"offset_30_upright", 30, false, 32},
    {"late_first_count_upright", 1, false, 32 + 2000},
    {"odd_first_count_inverted", 0, true, 32 + 2001},
};

constexpr int STREAM_MESSAGES = 45;
constexpr double SYMBOL_ERROR_RATE = 0.02;

TEST(SbasDecode, TwoPercentSymbolErrorsEveryMessageAfterLockDecoded) {
  int total_sent_after_lock = 0;
  int total_decoded_after_lock = 0;
  for (const StreamCase& c : STREAM_CASES) {
    SCOPED_TRACE(c.name);
    const Stream s = make_stream(type9_cycle(STREAM_MESSAGES), 77, c.offset, c.invert, SYMBOL_ERROR_RATE,
                                 1000u + static_cast<unsigned>(c.offset) * 2u + (c.invert ? 1u : 0u));
    start_decoder();
    const S16 ndx = SBAS_DBC_new(7);
    ASSERT_EQ(ndx, 0);
    ASSERT_EQ(SBAS_DBC_check_prn(ndx, 129), 1);
    feed(ndx, s, c.first_count);
    S16 locked = 0;
    S32 bk_cnt = 0, msg9 = 0;
    ASSERT_EQ(SBAS_DBC_get_db_status(ndx, &locked, &bk_cnt, &msg9), 1);
    EXPECT_EQ(locked, 1);
    EXPECT_EQ(SBAS_DBC_decode_successfully(ndx), 1);
    // Every delivered message is one that was sent, in order, with its PRN.
    int last = -1;
    std::vector<int> got;
    for (std::size_t i = 0; i < Seen_blocks.size(); ++i) {
      const int k = find_message(s, Seen_blocks[i]);
      EXPECT_GE(k, 0) << "block " << i << " was never sent";
      EXPECT_GT(k, last) << "block " << i;
      EXPECT_EQ(Seen_prns[i], 129);
      last = k;
      got.push_back(k);
    }
    EXPECT_EQ(bk_cnt, static_cast<S32>(Seen_blocks.size()));
    EXPECT_EQ(msg9, bk_cnt);
    // The first edge: the head of a sent message, in ms from symbol count 0.
    S32 edge_ms = -1;
    ASSERT_EQ(SBAS_DBC_get_track_to_first_block_msg_ms(ndx, &edge_ms), 1);
    const long first_symbol = c.first_count - 32;  // symbol count of the first reported symbol
    int edge_msg = -1;
    for (std::size_t k = 0; k < s.message_symbol.size(); ++k)
      if ((first_symbol + s.message_symbol[k]) * 2 == edge_ms) edge_msg = static_cast<int>(k);
    ASSERT_GE(edge_msg, 0) << "edge " << edge_ms << " ms is no message head";
    // Lock came with the third good message in cyclic order: from the
    // message at the edge on, every message that was fully sent is decoded.
    const long symbols_fed = static_cast<long>(s.words.size()) * 32;
    int sent_after = 0, decoded_after = 0;
    for (std::size_t k = static_cast<std::size_t>(edge_msg); k < s.messages.size(); ++k) {
      if (s.message_symbol[k] + 500 + 96 * 3 > symbols_fed) break;  // still in the decoder's pipeline
      ++sent_after;
      bool found = false;
      for (const int g : got) found = found || g == static_cast<int>(k);
      EXPECT_TRUE(found) << "message " << k << " after lock not decoded";
      decoded_after += found ? 1 : 0;
    }
    total_sent_after_lock += sent_after;
    total_decoded_after_lock += decoded_after;
    std::printf("[ figures  ] %-26s sent %d, decoded %zu (after lock: %d of %d), edge at message %d\n", c.name,
                STREAM_MESSAGES, Seen_blocks.size(), decoded_after, sent_after, edge_msg);
  }
  std::printf("[ figures  ] 2 %% symbol errors: %d of %d messages after lock decoded with a correct CRC\n",
              total_decoded_after_lock, total_sent_after_lock);
}

TEST(SbasDecode, LostReportResetsTheCollector) {
  const Stream s = make_stream(type9_cycle(24), 31, 0, false, 0.0, 55);
  start_decoder();
  const S16 ndx = SBAS_DBC_new(7);
  const S32 resets0 = SBAS_DBC_get_reset_count(ndx);
  // Feed until locked, then lose one report.
  std::size_t i = 0;
  S32 count = 32;
  S16 locked = 0;
  S32 bk = 0, m9 = 0;
  for (; i < s.words.size() && locked == 0; ++i, count += 32) {
    SBAS_DBC_collect(ndx, 4, 129, 7, s.words[i], count);
    SBAS_DBC_get_db_status(ndx, &locked, &bk, &m9);
  }
  ASSERT_EQ(locked, 1);
  ASSERT_GT(bk, 0);
  count += 32;  // the report at index i is lost
  ++i;
  SBAS_DBC_collect(ndx, 4, 129, 7, s.words[i], count);
  SBAS_DBC_get_db_status(ndx, &locked, &bk, &m9);
  EXPECT_EQ(locked, 0);
  EXPECT_EQ(bk, 0);
  EXPECT_EQ(SBAS_DBC_get_reset_count(ndx), resets0 + 1);
  SBAS_DBC_FAULTS_T f{};
  SBAS_DBC_get_faults(&f);
  EXPECT_EQ(f.symbol_gaps, 1);
  // Decoding starts afresh from the next report and locks again.
  const std::size_t seen_before = Seen_blocks.size();
  for (++i, count += 32; i < s.words.size(); ++i, count += 32) SBAS_DBC_collect(ndx, 4, 129, 7, s.words[i], count);
  SBAS_DBC_get_db_status(ndx, &locked, &bk, &m9);
  EXPECT_EQ(locked, 1);
  EXPECT_GT(Seen_blocks.size(), seen_before);
  for (std::size_t k = 0; k < Seen_blocks.size(); ++k) EXPECT_GE(find_message(s, Seen_blocks[k]), 0) << k;
  SBAS_DBC_get_faults(&f);
  EXPECT_EQ(f.symbol_gaps, 1);
}

struct BadIndexCase {
  const char* name;
  S16 ndx;
};

const BadIndexCase BAD_INDEX_CASES[] = {
    {"no_free_collector", -1}, {"one_past_the_pool", 3}, {"large", 1000}, {"most_negative", -32768}};

TEST(SbasDecode, CollectorIndexOutsidePoolIgnoredAndCounted) {
  start_decoder();
  S32 expected = 0;
  for (const BadIndexCase& c : BAD_INDEX_CASES) {
    SCOPED_TRACE(c.name);
    for (int k = 0; k < 10; ++k) SBAS_DBC_collect(c.ndx, 2, 129, 1, 0xA5A5A5A5u, 32 * (k + 1));
    expected += 10;
    SBAS_DBC_FAULTS_T f{};
    SBAS_DBC_get_faults(&f);
    EXPECT_EQ(f.no_collector_words, expected);
    S16 locked = 5;
    S32 bk = 5, m9 = 5, ms = 5;
    EXPECT_EQ(SBAS_DBC_get_db_status(c.ndx, &locked, &bk, &m9), 0);
    EXPECT_EQ(locked, 0);
    EXPECT_EQ(bk, 0);
    EXPECT_EQ(m9, 0);
    EXPECT_EQ(SBAS_DBC_check_prn(c.ndx, 129), 0);
    EXPECT_EQ(SBAS_DBC_get_track_to_first_block_msg_ms(c.ndx, &ms), 0);
    EXPECT_EQ(SBAS_DBC_decode_successfully(c.ndx), 0);
    SBAS_DBC_update_bitcnt0(c.ndx, 1);
    SBAS_DBC_reset(c.ndx);
    SBAS_DBC_delete(c.ndx);
  }
  // A fourth collector is refused.
  EXPECT_EQ(SBAS_DBC_new(1), 0);
  EXPECT_EQ(SBAS_DBC_new(2), 1);
  EXPECT_EQ(SBAS_DBC_new(3), 2);
  EXPECT_EQ(SBAS_DBC_new(4), -1);
  SBAS_DBC_delete(1);
  EXPECT_EQ(SBAS_DBC_new(5), 1);
}

struct BadPrnCase {
  const char* name;
  S16 prn;
};

const BadPrnCase BAD_PRN_CASES[] = {{"below_120", 119}, {"above_138", 139},          {"zero", 0},
                                    {"negative", -1},   {"target_numbering_38", 38}, {"gps_32", 32}};

TEST(SbasDecode, PrnOutside120To138DroppedAndCounted) {
  start_decoder();
  const S16 ndx = SBAS_DBC_new(7);
  ASSERT_EQ(ndx, 0);
  S32 expected = 0;
  for (const BadPrnCase& c : BAD_PRN_CASES) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SBAS_DBC_check_prn(ndx, c.prn), 0);
    SBAS_DBC_collect(ndx, 2, c.prn, 7, 0x12345678u, 32);
    expected += 2;
    SBAS_DBC_FAULTS_T f{};
    SBAS_DBC_get_faults(&f);
    EXPECT_EQ(f.bad_prn, expected);
  }
  // The filter was not disturbed: the first good PRN is still taken.
  EXPECT_EQ(SBAS_DBC_check_prn(ndx, 120), 1);
  EXPECT_EQ(SBAS_DBC_check_prn(ndx, 138), 0);
}

TEST(SbasDecode, PrnFilterTakesANewPrnAfterMoreThan20Refusals) {
  start_decoder();
  const S16 ndx = SBAS_DBC_new(7);
  EXPECT_EQ(SBAS_DBC_check_prn(ndx, 129), 1);
  EXPECT_EQ(SBAS_DBC_check_prn(ndx, 129), 1);
  for (int k = 0; k < 21; ++k) EXPECT_EQ(SBAS_DBC_check_prn(ndx, 131), 0) << "refusal " << k + 1;
  EXPECT_EQ(SBAS_DBC_check_prn(ndx, 131), 1);
  EXPECT_EQ(SBAS_DBC_check_prn(ndx, 129), 0);
  // Accepting the PRN clears the count: 20 refusals are not enough again.
  EXPECT_EQ(SBAS_DBC_check_prn(ndx, 131), 1);
  for (int k = 0; k < 20; ++k) EXPECT_EQ(SBAS_DBC_check_prn(ndx, 129), 0);
  EXPECT_EQ(SBAS_DBC_check_prn(ndx, 131), 1);
}

struct LockCase {
  const char* name;
  std::vector<std::uint32_t> preambles;
  S16 locked;
};

const LockCase LOCK_CASES[] = {
    {"order_53_9A_C6", {0x53, 0x9A, 0xC6}, 1},    {"order_9A_C6_53", {0x9A, 0xC6, 0x53}, 1},
    {"order_C6_53_9A", {0xC6, 0x53, 0x9A}, 1},    {"reversed_53_C6_9A", {0x53, 0xC6, 0x9A}, 0},
    {"repeated_53_53_53", {0x53, 0x53, 0x53}, 0}, {"two_messages_only", {0x53, 0x9A}, 0},
};

TEST(SbasDecode, LockNeedsThreePreamblesInCyclicOrder) {
  for (const LockCase& c : LOCK_CASES) {
    SCOPED_TRACE(c.name);
    std::vector<std::pair<std::uint32_t, int>> msgs;
    for (const std::uint32_t p : c.preambles) msgs.emplace_back(p, 9);
    const Stream s = make_stream(msgs, 40, 0, false, 0.0, 99);
    start_decoder();
    const S16 ndx = SBAS_DBC_new(7);
    feed(ndx, s, 32);
    S16 locked = 0;
    S32 bk = 0, m9 = 0;
    SBAS_DBC_get_db_status(ndx, &locked, &bk, &m9);
    EXPECT_EQ(bk, static_cast<S32>(c.preambles.size()));
    EXPECT_EQ(locked, c.locked);
    S32 ms = 0;
    EXPECT_EQ(SBAS_DBC_get_track_to_first_block_msg_ms(ndx, &ms), 0);  // known with the first message after lock
  }
}

struct TrialCase {
  const char* name;
  int offset;
  bool invert;
  int trial;  // the alignment/polarity trial that fits: (shift, complement) = (0,0), (0,1), (1,0), (1,1)
};

const TrialCase TRIAL_CASES[] = {
    {"aligned_upright", 0, false, 0},
    {"aligned_inverted", 0, true, 1},
    {"second_symbol_upright", 1, false, 2},
    {"second_symbol_inverted", 1, true, 3},
};

// A trial window is 34 decodes of 96 symbols. The first good message cannot
// come before the fitting trial's window and comes within it (plus the
// decoder's pipeline): an inverted stream or one starting on the second
// symbol of a pair decodes after at most three windows.
TEST(SbasDecode, AlignmentAndPolarityFoundInTheirTrialWindow) {
  constexpr long WINDOW_SYMBOLS = 34L * 96L;
  for (const TrialCase& c : TRIAL_CASES) {
    SCOPED_TRACE(c.name);
    const Stream s = make_stream(type9_cycle(32), 13, c.offset, c.invert, 0.0, 31);
    start_decoder();
    const S16 ndx = SBAS_DBC_new(7);
    long first_good_symbol = -1;
    S32 count = 32;
    for (std::size_t i = 0; i < s.words.size() && first_good_symbol < 0; ++i, count += 32) {
      SBAS_DBC_collect(ndx, 4, 129, 7, s.words[i], count);
      S16 locked = 0;
      S32 bk = 0, m9 = 0;
      SBAS_DBC_get_db_status(ndx, &locked, &bk, &m9);
      if (bk > 0) first_good_symbol = count;
    }
    ASSERT_GT(first_good_symbol, 0);
    EXPECT_GE(first_good_symbol, WINDOW_SYMBOLS * c.trial);
    EXPECT_LE(first_good_symbol, WINDOW_SYMBOLS * (c.trial + 1) + 500 + 4 * 32);
  }
}

struct UnlockCase {
  const char* name;
  int failures;  // messages with a wrong parity after lock, one CRC failure each
  S16 locked;
};

const UnlockCase UNLOCK_CASES[] = {
    {"one_failure_keeps_lock", 1, 1},
    {"51_failures_keep_lock", 51, 1},
    {"52nd_failure_clears_lock", 52, 0},
};

// After four good messages (locked), messages of preamble 0x53 and 242 zero
// bits: their parity is wrong, and no other 8-bit window of the stream reads
// as a preamble, so each costs exactly one CRC failure.
TEST(SbasDecode, LockClearedAtThe52ndConsecutiveFailure) {
  for (const UnlockCase& c : UNLOCK_CASES) {
    SCOPED_TRACE(c.name);
    std::mt19937 rng(21);
    Bits bits(40, 0);
    constexpr std::array<std::uint32_t, 3> pre{0x53, 0x9A, 0xC6};
    std::vector<Bits> good;
    for (std::size_t i = 0; i < 4; ++i) {
      good.push_back(make_message(pre[i % 3], 9, rng));
      bits.insert(bits.end(), good.back().begin(), good.back().end());
    }
    for (int k = 0; k < c.failures; ++k) {
      Bits bad(250, 0);
      put_field(bad, 0, 8, 0x53);
      bits.insert(bits.end(), bad.begin(), bad.end());
    }
    bits.insert(bits.end(), 400, 0);
    std::vector<int> sym = encode(bits);
    sym.resize(sym.size() / 32 * 32);
    const std::vector<U32> words = to_words(sym);
    start_decoder();
    const S16 ndx = SBAS_DBC_new(7);
    S32 count = 32;
    for (const U32 w : words) {
      SBAS_DBC_collect(ndx, 4, 129, 7, w, count);
      count += 32;
    }
    S16 locked = 0;
    S32 bk = 0, m9 = 0;
    SBAS_DBC_get_db_status(ndx, &locked, &bk, &m9);
    EXPECT_EQ(bk, 4);
    EXPECT_EQ(locked, c.locked);
    ASSERT_EQ(Seen_blocks.size(), good.size());
    for (std::size_t i = 0; i < good.size(); ++i) EXPECT_EQ(Seen_blocks[i], to_block(good[i])) << "message " << i;
  }
}

// --- message types ------------------------------------------------------------------------------

struct TypeCase {
  const char* name;
  std::vector<int> types;
  int fast, lng, iono, inte, geo_calls;
};

const TypeCase TYPE_CASES[] = {
    {"fast_before_mask_ignored", {2, 3, 4, 5}, 0, 0, 0, 0, 0},
    {"mask_then_fast", {1, 2}, 1, 0, 0, 0, 0},
    {"mask_then_type_24", {1, 24}, 1, 1, 0, 0, 0},
    {"mask_then_type_25", {1, 25}, 0, 1, 0, 0, 0},
    {"integrity_before_mask_ignored", {6}, 0, 0, 0, 0, 0},
    {"mask_then_integrity", {1, 6}, 0, 0, 0, 1, 0},
    {"iono_grid_18", {18}, 0, 0, 1, 0, 0},
    {"iono_delays_26", {26}, 0, 0, 1, 0, 0},
    {"geo_navigation_9", {9, 0, 9}, 0, 0, 0, 0, 2},
    {"do_not_use_0", {0, 63, 7, 10, 12, 17}, 0, 0, 0, 0, 0},
};

TEST(SbasMessageTypes, PresenceFlagsAndGeoHandoff) {
  for (const TypeCase& c : TYPE_CASES) {
    SCOPED_TRACE(c.name);
    start_decoder();
    std::mt19937 rng(3);
    for (const int t : c.types) {
      const auto b = to_block(make_message(0x53, t, rng));
      SBAS_BKC_collect(125, b.data());
    }
    EXPECT_EQ(SBAS_has_fast_msg(), c.fast);
    EXPECT_EQ(SBAS_has_long_msg(), c.lng);
    EXPECT_EQ(SBAS_has_iono_msg(), c.iono);
    EXPECT_EQ(SBAS_has_inte_msg(), c.inte);
    EXPECT_EQ(static_cast<int>(Seen_blocks.size()), c.geo_calls);
    for (const S16 p : Seen_prns) EXPECT_EQ(p, 125);
    // Any collector reset clears the flags.
    SBAS_DBC_reset(0);
    EXPECT_EQ(SBAS_has_fast_msg() + SBAS_has_long_msg() + SBAS_has_iono_msg() + SBAS_has_inte_msg(), 0);
  }
}

TEST(SbasMessageTypes, PrnMaskFields) {
  start_decoder();
  Bits m(250, 0);
  put_field(m, 0, 8, 0x9A);
  put_field(m, 8, 6, 1);
  put_field(m, 14, 32, 0x80000003u);  // PRN 1, 31, 32
  put_field(m, 224, 2, 2);
  const auto b = to_block(m);
  SBAS_BKC_collect(120, b.data());
  U08 iodp = 0;
  U32 mask = 0;
  ASSERT_EQ(SBAS_BKC_get_prn_mask(&iodp, &mask), 1);
  EXPECT_EQ(iodp, 2);
  EXPECT_EQ(mask, 0x80000003u);
}

struct FieldCase {
  const char* name;
  S16 start, n;
  std::uint32_t value;  // written with the test's put_field
  U32 unsigned_read;
  S32 signed_read;
};

const FieldCase FIELD_CASES[] = {
    {"type_bits_8_13", 8, 6, 9, 9, 9},
    {"signed_minus_one_30_bits", 39, 30, 0x3FFFFFFF, 0x3FFFFFFF, -1},
    {"signed_most_negative_12_bits", 206, 12, 0x800, 0x800, -2048},
    {"signed_positive_8_bits", 218, 8, 0x7F, 0x7F, 127},
    {"across_word_32_bits", 20, 32, 0xDEADBEEF, 0xDEADBEEF, static_cast<S32>(0xDEADBEEFu)},
    {"last_bits_of_parity", 242, 8, 0xA5, 0xA5, -91},
};

TEST(SbasMessageTypes, FieldExtraction) {
  for (const FieldCase& c : FIELD_CASES) {
    SCOPED_TRACE(c.name);
    Bits m(250, 0);
    put_field(m, c.start, c.n, c.value);
    const auto b = to_block(m);
    EXPECT_EQ(SBAS_EXT_unsign(b.data(), c.start, c.n), c.unsigned_read);
    EXPECT_EQ(SBAS_EXT_sign(b.data(), c.start, c.n), c.signed_read);
  }
  const auto z = to_block(Bits(250, 1));
  EXPECT_EQ(SBAS_EXT_unsign(z.data(), 250, 7), 0u);  // past the block
  EXPECT_EQ(SBAS_EXT_unsign(z.data(), -1, 8), 0u);
  EXPECT_EQ(SBAS_EXT_unsign(z.data(), 0, 33), 0u);
}

// --- through the channel code of a started kernel ------------------------------------------------

std::array<U08, 20480> Region;
std::array<U08, 20480> Alm_image;

void start_kernel() {
  Region.fill(0);
  Alm_image.fill(0);
  WRAP_init(0, nullptr);
  KERNEL_INIT_T k{};
  k.backup_mem_p = Region.data();
  k.nvram_alm_mem_p = Alm_image.data();
  k.force_cold = 1;
  k.tcxo_freq_mode = 4;
  k.npse = 6;
  k.sbas_para = SBAS_PARAMETER_T{1, SBAS_RANGING_MODE_AUTO, 8, 1, 3, 7};
  k.qzss_para = QZSS_PARAMETER_T{1, 1};
  k.reset_kernel_settings = 1;
  k.gnss_select_bits = 1;
  k.position_rate = 1;
  ASSERT_EQ(KERNEL_init(&k), 0);
}

struct ChannelCase {
  const char* name;
  S16 ch;
  S16 target_prn;  // the target's numbering (38..56 for SBAS 120..138)
  S16 collector;   // the collector the channel gets, -1 for none
  bool decodes;    // its messages arrive
};

// Four SBAS channels: the first three get collectors 0..2 and decode; the
// fourth gets none and its words are ignored. A target PRN of 10 on an SBAS
// channel is kernel PRN 92, outside 120..138: dropped and counted.
const ChannelCase CHANNEL_CASES[] = {
    {"first_sbas_channel", 3, 47, 0, true},
    {"second_sbas_channel", 9, 51, 1, true},
    {"third_sbas_channel", 12, 38, 2, true},
    {"fourth_sbas_channel_no_collector", 15, 56, -1, false},
};

TEST(SbasThroughChannels, ThreeCollectorsDecodeTheFourthChannelIsIgnored) {
  start_kernel();
  const Stream s = make_stream(type9_cycle(30), 21, 1, true, 0.0, 17);
  S32 count = 32;
  for (std::size_t i = 0; i < s.words.size(); ++i, count += 32)
    for (const ChannelCase& c : CHANNEL_CASES)
      CH_process_databits(CH_find_reference(c.ch), GNSS_TYPE_SBAS, c.target_prn, s.words[i], 0, count, 1);
  for (const ChannelCase& c : CHANNEL_CASES) {
    SCOPED_TRACE(c.name);
    if (c.collector < 0) continue;
    S16 locked = 0;
    S32 bk = 0, m9 = 0;
    ASSERT_EQ(SBAS_DBC_get_db_status(c.collector, &locked, &bk, &m9), 1);
    EXPECT_EQ(locked, c.decodes ? 1 : 0);
    EXPECT_EQ(bk > 0, c.decodes);
    EXPECT_EQ(SBAS_DBC_decode_successfully(c.collector), c.decodes ? 1 : 0);
  }
  SBAS_DBC_FAULTS_T f{};
  SBAS_DBC_get_faults(&f);
  EXPECT_EQ(f.no_collector_words, 0);  // the channel code never hands on an index of -1
  EXPECT_EQ(f.symbol_gaps, 0);
  EXPECT_EQ(f.bad_prn, 0);
  // A channel reporting a PRN outside 120..138 feeds nothing.
  for (int i = 0; i < 5; ++i)
    CH_process_databits(CH_find_reference(18), GNSS_TYPE_SBAS, 10, 0x5555AAAAu, 0, 32 * (i + 1), 1);
  SBAS_DBC_get_faults(&f);
  EXPECT_EQ(f.bad_prn, 0);         // every collector is busy: the fifth channel gets none
  CH_reset(CH_find_reference(3));  // frees collector 0
  for (int i = 0; i < 5; ++i)
    CH_process_databits(CH_find_reference(18), GNSS_TYPE_SBAS, 10, 0x5555AAAAu, 0, 32 * (i + 1), 1);
  SBAS_DBC_get_faults(&f);
  EXPECT_EQ(f.bad_prn, 5);
  KERNEL_close();
}

}  // namespace
