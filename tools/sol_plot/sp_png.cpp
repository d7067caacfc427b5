// PNG writer: chunk CRC-32, zlib stream with Adler-32, deflate blocks
// stored or with the fixed Huffman codes, 8-bit RGB image.
#include <array>
#include <cstring>

#include "tools/sol_plot/sol_plot.h"

namespace {

using U8 = std::uint8_t;
using U32 = std::uint32_t;

constexpr std::array<U32, 256> make_crc_table() {
  std::array<U32, 256> t{};
  for (U32 n = 0; n < 256; ++n) {
    U32 c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1U) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
    t[n] = c;
  }
  return t;
}
constexpr std::array<U32, 256> CRC_TABLE = make_crc_table();

// Deflate length codes 257..285: base length and extra bits.
constexpr std::array<int, 29> LEN_BASE = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                          31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<int, 29> LEN_EXTRA = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// Deflate distance codes 0..29: base distance and extra bits.
constexpr std::array<int, 30> DIST_BASE = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                           33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                           1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<int, 30> DIST_EXTRA = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                            6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

constexpr int WINDOW = 32768;  // largest match distance, bytes
constexpr int MIN_MATCH = 3;
constexpr int MAX_MATCH = 258;
constexpr int HASH_BITS = 15;
constexpr int MAX_CHAIN = 32;  // candidates tried per position

// Deflate bit writer: bits go out least significant first.
struct BitOut {
  std::vector<U8>* out;
  U32 acc = 0;
  int nbits = 0;
  void put(U32 value, int count) {
    for (int i = 0; i < count; ++i) {
      acc |= ((value >> i) & 1U) << nbits;
      if (++nbits == 8) {
        out->push_back(static_cast<U8>(acc));
        acc = 0;
        nbits = 0;
      }
    }
  }
  // A Huffman code goes out most significant bit first.
  void put_code(U32 code, int len) {
    for (int i = len - 1; i >= 0; --i) put((code >> i) & 1U, 1);
  }
  void flush() {
    if (nbits > 0) out->push_back(static_cast<U8>(acc));
    acc = 0;
    nbits = 0;
  }
};

// Fixed literal/length code of symbol sym (0..287).
void put_litlen(BitOut* bo, int sym) {
  if (sym < 144)
    bo->put_code(0x30U + static_cast<U32>(sym), 8);
  else if (sym < 256)
    bo->put_code(0x190U + static_cast<U32>(sym - 144), 9);
  else if (sym < 280)
    bo->put_code(static_cast<U32>(sym - 256), 7);
  else
    bo->put_code(0xC0U + static_cast<U32>(sym - 280), 8);
}

void put_match(BitOut* bo, int len, int dist) {
  int li = 28;
  while (LEN_BASE[li] > len) --li;
  put_litlen(bo, 257 + li);
  bo->put(static_cast<U32>(len - LEN_BASE[li]), LEN_EXTRA[li]);
  int di = 29;
  while (DIST_BASE[di] > dist) --di;
  bo->put_code(static_cast<U32>(di), 5);
  bo->put(static_cast<U32>(dist - DIST_BASE[di]), DIST_EXTRA[di]);
}

U32 hash3(const U8* p) {
  const U32 v = (static_cast<U32>(p[0]) << 16) | (static_cast<U32>(p[1]) << 8) | p[2];
  return (v * 2654435761U) >> (32 - HASH_BITS);
}

// Longest earlier match for position i among the hash chain; length 0 when none.
int find_match(const U8* p, std::size_t n, std::size_t i, const std::vector<int>& head, const std::vector<int>& prev,
               int* dist) {
  const std::size_t limit = n - i < MAX_MATCH ? n - i : MAX_MATCH;
  int best = 0;
  int cand = head[hash3(p + i)];
  for (int chain = 0; cand >= 0 && chain < MAX_CHAIN; ++chain) {
    const std::size_t c = static_cast<std::size_t>(cand);
    if (i - c > WINDOW) break;
    std::size_t len = 0;
    while (len < limit && p[c + len] == p[i + len]) ++len;
    if (static_cast<int>(len) > best) {
      best = static_cast<int>(len);
      *dist = static_cast<int>(i - c);
      if (len == limit) break;
    }
    cand = prev[c % WINDOW];
  }
  return best >= MIN_MATCH ? best : 0;
}

void deflate_fixed(const U8* p, std::size_t n, std::vector<U8>* out) {
  BitOut bo{out};
  bo.put(1, 1);  // final block
  bo.put(1, 2);  // fixed Huffman codes
  std::vector<int> head(static_cast<std::size_t>(1) << HASH_BITS, -1);
  std::vector<int> prev(WINDOW, -1);
  auto insert = [&](std::size_t i) {
    if (i + MIN_MATCH > n) return;
    const U32 h = hash3(p + i);
    prev[i % WINDOW] = head[h];
    head[h] = static_cast<int>(i);
  };
  std::size_t i = 0;
  while (i < n) {
    int dist = 0;
    const int len = i + MIN_MATCH <= n ? find_match(p, n, i, head, prev, &dist) : 0;
    if (len == 0) {
      put_litlen(&bo, p[i]);
      insert(i);
      ++i;
      continue;
    }
    put_match(&bo, len, dist);
    for (int k = 0; k < len; ++k) insert(i + static_cast<std::size_t>(k));
    i += static_cast<std::size_t>(len);
  }
  put_litlen(&bo, 256);  // end of block
  bo.flush();
}

void deflate_stored(const U8* p, std::size_t n, std::vector<U8>* out) {
  std::size_t pos = 0;
  do {
    const std::size_t len = n - pos < 65535 ? n - pos : 65535;
    const bool final = pos + len == n;
    out->push_back(final ? 1 : 0);  // BFINAL, BTYPE 00, padding to the byte
    out->push_back(static_cast<U8>(len & 0xFFU));
    out->push_back(static_cast<U8>(len >> 8));
    out->push_back(static_cast<U8>(~len & 0xFFU));
    out->push_back(static_cast<U8>((~len >> 8) & 0xFFU));
    out->insert(out->end(), p + pos, p + pos + len);
    pos += len;
  } while (pos < n);
}

void put_be32(std::vector<U8>* out, U32 v) {
  for (int s = 24; s >= 0; s -= 8) out->push_back(static_cast<U8>(v >> s));
}

void put_chunk(std::vector<U8>* out, const char* type, const U8* data, std::size_t n) {
  put_be32(out, static_cast<U32>(n));
  const std::size_t start = out->size();
  out->insert(out->end(), type, type + 4);
  if (n > 0) out->insert(out->end(), data, data + n);
  put_be32(out, SP_png_crc32(out->data() + start, n + 4));
}

}  // namespace

std::uint32_t SP_png_crc32(const std::uint8_t* p, std::size_t n, std::uint32_t crc) {
  U32 c = crc ^ 0xFFFFFFFFU;
  for (std::size_t i = 0; i < n; ++i) c = CRC_TABLE[(c ^ p[i]) & 0xFFU] ^ (c >> 8);
  return c ^ 0xFFFFFFFFU;
}

std::uint32_t SP_png_adler32(const std::uint8_t* p, std::size_t n, std::uint32_t adler) {
  U32 a = adler & 0xFFFFU, b = adler >> 16;
  for (std::size_t i = 0; i < n; ++i) {
    a = (a + p[i]) % 65521U;
    b = (b + a) % 65521U;
  }
  return (b << 16) | a;
}

void SP_png_zlib(const std::uint8_t* p, std::size_t n, int level, std::vector<std::uint8_t>* out) {
  out->push_back(0x78);  // deflate, 32 KiB window
  out->push_back(0x01);  // check bits: 0x7801 is a multiple of 31; no dictionary
  if (level == 0)
    deflate_stored(p, n, out);
  else
    deflate_fixed(p, n, out);
  put_be32(out, SP_png_adler32(p, n));
}

int SP_png_encode(const std::uint8_t* rgb, int width, int height, int level, std::vector<std::uint8_t>* out) {
  out->clear();
  if (width < 1 || width > 16384 || height < 1 || height > 16384) return 0;
  static constexpr U8 SIGNATURE[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  out->insert(out->end(), SIGNATURE, SIGNATURE + 8);
  std::vector<U8> ihdr;
  put_be32(&ihdr, static_cast<U32>(width));
  put_be32(&ihdr, static_cast<U32>(height));
  ihdr.push_back(8);  // bits per sample
  ihdr.push_back(2);  // colour type: RGB
  ihdr.push_back(0);  // compression: deflate
  ihdr.push_back(0);  // filter method 0
  ihdr.push_back(0);  // no interlace
  put_chunk(out, "IHDR", ihdr.data(), ihdr.size());
  const std::size_t stride = static_cast<std::size_t>(width) * 3;
  std::vector<U8> raw;
  raw.reserve((stride + 1) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);  // filter type None
    const U8* row = rgb + stride * static_cast<std::size_t>(y);
    raw.insert(raw.end(), row, row + stride);
  }
  std::vector<U8> z;
  SP_png_zlib(raw.data(), raw.size(), level, &z);
  put_chunk(out, "IDAT", z.data(), z.size());
  put_chunk(out, "IEND", nullptr, 0);
  return 1;
}
