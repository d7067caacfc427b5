// The solution plotter: PNG writer against known check values and read back
// by an independent decoder, the raster, east/north/up against known points,
// the KML and GPX of a small file, malformed rows and the command line.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "test_util.h"
#include "tools/sol_plot/sol_plot.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes& bytes_of(const char* s) {
  static Bytes b;
  b.assign(s, s + std::strlen(s));
  return b;
}

// ------------------------------------------------------------- a PNG reader
// Written from the PNG and deflate formats on its own (bitwise CRC, separate
// code tables), so that it does not share a mistake with the writer.

std::uint32_t crc_bitwise(const std::uint8_t* p, std::size_t n) {
  std::uint32_t c = 0xFFFFFFFFU;
  for (std::size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ ((c & 1U) != 0 ? 0xEDB88320U : 0U);
  }
  return ~c;
}

struct BitIn {
  const Bytes& d;
  std::size_t pos;
  int bit = 0;
  bool bad = false;
  unsigned get(int n) {
    unsigned v = 0;
    for (int i = 0; i < n; ++i) {
      if (pos >= d.size()) {
        bad = true;
        return 0;
      }
      v |= static_cast<unsigned>((d[pos] >> bit) & 1) << i;
      if (++bit == 8) {
        bit = 0;
        ++pos;
      }
    }
    return v;
  }
  void align() {
    if (bit != 0) {
      bit = 0;
      ++pos;
    }
  }
};

// Literal/length symbol in the fixed code (codes read most significant bit first).
int fixed_litlen(BitIn* b) {
  unsigned code = 0;
  for (int len = 1; len <= 9 && !b->bad; ++len) {
    code = (code << 1) | b->get(1);
    if (len == 7 && code <= 23) return 256 + static_cast<int>(code);
    if (len == 8 && code >= 0x30 && code <= 0xBF) return static_cast<int>(code) - 0x30;
    if (len == 8 && code >= 0xC0 && code <= 0xC7) return 280 + static_cast<int>(code) - 0xC0;
    if (len == 9 && code >= 0x190 && code <= 0x1FF) return 144 + static_cast<int>(code) - 0x190;
  }
  return -1;
}

bool inflate_fixed(BitIn* b, Bytes* out) {
  static const int lbase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
  static const int lext[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  static const int dbase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
  for (;;) {
    const int sym = fixed_litlen(b);
    if (sym < 0 || b->bad) return false;
    if (sym < 256) {
      out->push_back(static_cast<std::uint8_t>(sym));
      continue;
    }
    if (sym == 256) return true;
    if (sym > 285) return false;
    const int len = lbase[sym - 257] + static_cast<int>(b->get(lext[sym - 257]));
    unsigned dcode = 0;
    for (int i = 0; i < 5; ++i) dcode = (dcode << 1) | b->get(1);
    if (dcode > 29) return false;
    const int dext = dcode < 4 ? 0 : static_cast<int>(dcode) / 2 - 1;
    const std::size_t dist = static_cast<std::size_t>(dbase[dcode]) + b->get(dext);
    if (dist > out->size() || b->bad) return false;
    for (int i = 0; i < len; ++i) out->push_back((*out)[out->size() - dist]);
  }
}

// zlib stream with stored and fixed-Huffman blocks; false on anything else.
bool inflate_zlib(const Bytes& z, Bytes* out, int* stored_blocks, int* fixed_blocks) {
  if (z.size() < 6 || (z[0] & 0x0F) != 8 || ((z[0] << 8) | z[1]) % 31 != 0) return false;
  BitIn b{z, 2};
  for (bool final = false; !final;) {
    final = b.get(1) != 0;
    const unsigned type = b.get(2);
    if (type == 0) {
      ++*stored_blocks;
      b.align();
      if (b.pos + 4 > z.size()) return false;
      const unsigned len = z[b.pos] | (z[b.pos + 1] << 8);
      const unsigned nlen = z[b.pos + 2] | (z[b.pos + 3] << 8);
      if ((len ^ 0xFFFFU) != nlen || b.pos + 4 + len > z.size()) return false;
      out->insert(out->end(), z.begin() + static_cast<long>(b.pos) + 4, z.begin() + static_cast<long>(b.pos + 4 + len));
      b.pos += 4 + len;
    } else if (type == 1) {
      ++*fixed_blocks;
      if (!inflate_fixed(&b, out)) return false;
    } else {
      return false;
    }
    if (b.bad) return false;
  }
  b.align();
  if (b.pos + 4 != z.size()) return false;
  std::uint32_t a = 1, s = 0;
  for (std::uint8_t v : *out) {
    a = (a + v) % 65521;
    s = (s + a) % 65521;
  }
  const std::uint32_t want =
      (static_cast<std::uint32_t>(z[b.pos]) << 24) | (z[b.pos + 1] << 16) | (z[b.pos + 2] << 8) | z[b.pos + 3];
  return ((s << 16) | a) == want;
}

std::uint32_t be32(const Bytes& d, std::size_t i) {
  return (static_cast<std::uint32_t>(d[i]) << 24) | (d[i + 1] << 16) | (d[i + 2] << 8) | d[i + 3];
}

struct Decoded {
  bool ok = false;
  std::string why;
  int width = 0, height = 0;
  int stored_blocks = 0, fixed_blocks = 0;
  Bytes rgb;
};

Decoded decode_png(const Bytes& f) {
  Decoded r;
  static const std::uint8_t sig[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  if (f.size() < 8 || std::memcmp(f.data(), sig, 8) != 0) return r.why = "signature", r;
  Bytes idat;
  std::vector<std::string> order;
  for (std::size_t i = 8; i < f.size();) {
    if (i + 12 > f.size()) return r.why = "truncated chunk", r;
    const std::uint32_t n = be32(f, i);
    if (i + 12 + n > f.size()) return r.why = "chunk length", r;
    const std::string type(f.begin() + static_cast<long>(i) + 4, f.begin() + static_cast<long>(i) + 8);
    if (crc_bitwise(f.data() + i + 4, n + 4) != be32(f, i + 8 + n)) return r.why = "CRC of " + type, r;
    order.push_back(type);
    if (type == "IHDR") {
      if (n != 13) return r.why = "IHDR length", r;
      r.width = static_cast<int>(be32(f, i + 8));
      r.height = static_cast<int>(be32(f, i + 12));
      if (f[i + 16] != 8 || f[i + 17] != 2 || f[i + 18] != 0 || f[i + 19] != 0 || f[i + 20] != 0)
        return r.why = "IHDR fields", r;
    }
    if (type == "IDAT")
      idat.insert(idat.end(), f.begin() + static_cast<long>(i) + 8, f.begin() + static_cast<long>(i + 8 + n));
    i += 12 + n;
  }
  if (order.empty() || order.front() != "IHDR" || order.back() != "IEND") return r.why = "chunk order", r;
  Bytes raw;
  if (!inflate_zlib(idat, &raw, &r.stored_blocks, &r.fixed_blocks)) return r.why = "zlib stream", r;
  const std::size_t stride = static_cast<std::size_t>(r.width) * 3;
  if (raw.size() != (stride + 1) * static_cast<std::size_t>(r.height)) return r.why = "image size", r;
  for (int y = 0; y < r.height; ++y) {
    const std::size_t row = static_cast<std::size_t>(y) * (stride + 1);
    if (raw[row] != 0) return r.why = "filter type", r;
    r.rgb.insert(r.rgb.end(), raw.begin() + static_cast<long>(row) + 1,
                 raw.begin() + static_cast<long>(row + 1 + stride));
  }
  r.ok = true;
  return r;
}

// ------------------------------------------------------------- check values

TEST(SolPlotPng, CheckValuesOfCrc32AndAdler32) {
  EXPECT_EQ(SP_png_crc32(bytes_of("123456789").data(), 9), 0xCBF43926U);
  EXPECT_EQ(SP_png_adler32(bytes_of("Wikipedia").data(), 9), 0x11E60398U);
  // The CRC of the IEND chunk's type, the last four bytes of every PNG file.
  EXPECT_EQ(SP_png_crc32(bytes_of("IEND").data(), 4), 0xAE426082U);
  // Continuing a CRC over two parts gives the CRC of the whole.
  const std::uint32_t part = SP_png_crc32(bytes_of("1234").data(), 4);
  EXPECT_EQ(SP_png_crc32(bytes_of("56789").data(), 5, part), 0xCBF43926U);
  EXPECT_EQ(SP_png_crc32(nullptr, 0), 0U);
  EXPECT_EQ(SP_png_adler32(nullptr, 0), 1U);
}

TEST(SolPlotPng, StoredZlibStreamIsByteExact) {
  Bytes z;
  SP_png_zlib(bytes_of("Wikipedia").data(), 9, 0, &z);
  const Bytes want = {0x78, 0x01, 0x01, 0x09, 0x00, 0xF6, 0xFF, 'W',  'i',  'k',
                      'i',  'p',  'e',  'd',  'i',  'a',  0x11, 0xE6, 0x03, 0x98};
  EXPECT_EQ(z, want);
}

// Data of n bytes: runs, repeats at many distances and noise.
Bytes mixed_data(std::size_t n) {
  Bytes d(n);
  std::uint32_t s = 12345;
  for (std::size_t i = 0; i < n; ++i) {
    s = s * 1103515245U + 12345U;
    if ((i / 1000) % 3 == 0)
      d[i] = 255;
    else if ((i / 1000) % 3 == 1)
      d[i] = static_cast<std::uint8_t>(i % 7 * 31);
    else
      d[i] = static_cast<std::uint8_t>(s >> 24);
  }
  return d;
}

struct ZlibCase {
  const char* name;
  std::size_t n;
  int level;
};

class SolPlotZlib : public ::testing::TestWithParam<ZlibCase> {};

TEST_P(SolPlotZlib, InflatesBackToTheData) {
  const ZlibCase& c = GetParam();
  const Bytes d = mixed_data(c.n);
  Bytes z, back;
  SP_png_zlib(d.data(), d.size(), c.level, &z);
  int stored = 0, fixed = 0;
  ASSERT_TRUE(inflate_zlib(z, &back, &stored, &fixed)) << c.name;
  EXPECT_EQ(back, d) << c.name;
  if (c.level == 0) {
    EXPECT_EQ(stored, c.n == 0 ? 1 : static_cast<int>((c.n + 65534) / 65535)) << c.name;
    EXPECT_EQ(fixed, 0) << c.name;
  } else {
    EXPECT_EQ(fixed, 1) << c.name;
    if (c.n > 10000) {
      EXPECT_LT(z.size(), c.n * 6 / 10) << c.name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(SolPlot, SolPlotZlib,
                         ::testing::Values(ZlibCase{"stored empty", 0, 0}, ZlibCase{"stored 1 byte", 1, 0},
                                           ZlibCase{"stored one full block", 65535, 0},
                                           ZlibCase{"stored three blocks", 140000, 0}, ZlibCase{"fixed empty", 0, 1},
                                           ZlibCase{"fixed 2 bytes", 2, 1}, ZlibCase{"fixed 100000 bytes", 100000, 1}),
                         [](const auto& i) { return talon_test::case_name(i.param.name); });

// ------------------------------------------------------------- raster + PNG

TEST(SolPlotPng, DecodedImageHasThePixelsDrawn) {
  const SP_RGB_T bg{10, 20, 30}, red{255, 0, 0}, blue{0, 0, 255}, green{0, 200, 0};
  SP_CANVAS_T c;
  SP_canvas_init(&c, 9, 7, bg);
  SP_canvas_pixel(&c, 2, 3, red);
  SP_canvas_line(&c, 0, 0, 8, 0, blue);   // top row
  SP_canvas_line(&c, 8, 6, 8, 1, green);  // right column upwards
  SP_canvas_pixel(&c, -1, 3, red);        // outside: ignored
  SP_canvas_pixel(&c, 9, 3, red);
  for (int level : {0, 1}) {
    Bytes png;
    ASSERT_EQ(SP_png_encode(c.rgb.data(), c.width, c.height, level, &png), 1);
    const Decoded d = decode_png(png);
    ASSERT_TRUE(d.ok) << "level " << level << ": " << d.why;
    EXPECT_EQ(d.width, 9);
    EXPECT_EQ(d.height, 7);
    EXPECT_EQ(level == 0 ? d.stored_blocks : d.fixed_blocks, 1);
    auto px = [&](int x, int y) {
      const std::size_t i = 3 * (static_cast<std::size_t>(y) * 9 + static_cast<std::size_t>(x));
      return std::vector<int>{d.rgb[i], d.rgb[i + 1], d.rgb[i + 2]};
    };
    for (int y = 0; y < 7; ++y) {
      for (int x = 0; x < 9; ++x) {
        std::vector<int> want{bg.r, bg.g, bg.b};
        if (y == 0) want = {blue.r, blue.g, blue.b};
        if (x == 8 && y >= 1) want = {green.r, green.g, green.b};
        if (x == 2 && y == 3) want = {red.r, red.g, red.b};
        EXPECT_EQ(px(x, y), want) << "level " << level << " pixel " << x << "," << y;
      }
    }
  }
}

// The reader above is a real check: a flipped bit in the image data or in
// the CRC fails it.
TEST(SolPlotPng, ReaderRejectsACorruptedFile) {
  SP_CANVAS_T c;
  SP_canvas_init(&c, 4, 3, SP_RGB_T{1, 2, 3});
  Bytes png;
  ASSERT_EQ(SP_png_encode(c.rgb.data(), c.width, c.height, 1, &png), 1);
  ASSERT_TRUE(decode_png(png).ok);
  const std::size_t idat_data = 8 + 25 + 8;  // signature, IHDR chunk, IDAT length and type
  for (const std::size_t at : {idat_data + 2, png.size() - 13}) {
    Bytes bad = png;
    bad[at] ^= 0x10;
    const Decoded d = decode_png(bad);
    EXPECT_FALSE(d.ok) << "byte " << at;
    EXPECT_EQ(d.why, "CRC of IDAT") << "byte " << at;
  }
}

TEST(SolPlotPng, RejectsImpossibleSizes) {
  Bytes png{1, 2, 3};
  const std::uint8_t rgb[3] = {0, 0, 0};
  EXPECT_EQ(SP_png_encode(rgb, 0, 1, 1, &png), 0);
  EXPECT_TRUE(png.empty());
  EXPECT_EQ(SP_png_encode(rgb, 1, 16385, 1, &png), 0);
}

TEST(SolPlotRaster, DotLineClipAndText) {
  const SP_RGB_T white{255, 255, 255}, k{0, 0, 0};
  SP_CANVAS_T c;
  SP_canvas_init(&c, 40, 30, white);
  SP_canvas_dot(&c, 10, 10, 2, k);
  int set = 0;
  for (int y = 5; y < 16; ++y)
    for (int x = 5; x < 16; ++x) set += SP_canvas_get(c, x, y).r == 0 ? 1 : 0;
  EXPECT_EQ(set, 21);  // radius 2: the 5x5 square less its 4 corners
  EXPECT_EQ(SP_canvas_get(c, 12, 10).r, 0);
  EXPECT_EQ(SP_canvas_get(c, 12, 12).r, 255);
  // A diagonal line covers one pixel per column, both ends included.
  SP_canvas_init(&c, 40, 30, white);
  SP_canvas_line(&c, 0, 0, 9, 9, k);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(SP_canvas_get(c, i, i).r, 0) << i;
  EXPECT_EQ(SP_canvas_get(c, 10, 10).r, 255);
  // Clipping keeps drawing inside the rectangle; far coordinates are harmless.
  SP_canvas_init(&c, 40, 30, white);
  SP_canvas_clip(&c, 10, 10, 20, 20);
  SP_canvas_line(&c, -2000000000, 15, 2000000000, 15, k);
  SP_canvas_unclip(&c);
  EXPECT_EQ(SP_canvas_get(c, 9, 15).r, 255);
  EXPECT_EQ(SP_canvas_get(c, 10, 15).r, 0);
  EXPECT_EQ(SP_canvas_get(c, 19, 15).r, 0);
  EXPECT_EQ(SP_canvas_get(c, 20, 15).r, 255);
  // Text: '1' at scale 1 sets its glyph's dots; the advance is 6 a character.
  SP_canvas_init(&c, 40, 30, white);
  EXPECT_EQ(SP_canvas_text(&c, 3, 4, "1\x01", 1, k), 12);
  const std::uint8_t* g = SP_font_glyph('1');
  ASSERT_NE(g, nullptr);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 5; ++x)
      EXPECT_EQ(SP_canvas_get(c, 3 + x, 4 + y).r == 0, (g[y] & (0x10 >> x)) != 0) << x << "," << y;
  EXPECT_EQ(SP_font_glyph('\x01'), nullptr);
  for (char ch = ' '; ch <= '~'; ++ch) EXPECT_NE(SP_font_glyph(ch), nullptr) << ch;
}

// ------------------------------------------------------------- geodesy

TEST(SolPlotEnu, KnownPoints) {
  double xyz[3];
  SP_geo_to_ecef(0.0, 0.0, 0.0, xyz);
  EXPECT_NEAR(xyz[0], 6378137.0, 1e-6);
  EXPECT_NEAR(xyz[1], 0.0, 1e-6);
  EXPECT_NEAR(xyz[2], 0.0, 1e-6);
  SP_geo_to_ecef(90.0, 0.0, 0.0, xyz);
  EXPECT_NEAR(xyz[2], 6356752.314245, 1e-5);  // WGS 84 semi-minor axis
  double lat, lon, h;
  SP_geo_to_ecef(35.0, 139.0, 50.0, xyz);
  SP_ecef_to_geo(xyz, &lat, &lon, &h);
  EXPECT_NEAR(lat, 35.0, 1e-10);
  EXPECT_NEAR(lon, 139.0, 1e-10);
  EXPECT_NEAR(h, 50.0, 1e-4);

  // 100 m along the meridian and along the parallel from 35 N 139 E 50 m:
  // radii of curvature M = a(1-e2)/w^3 and N = a/w, w = sqrt(1 - e2 sin^2(lat)).
  const double a = 6378137.0, f = 1.0 / 298.257223563, e2 = f * (2.0 - f);
  const double sp = std::sin(35.0 * M_PI / 180.0);
  const double w = std::sqrt(1.0 - e2 * sp * sp);
  const double m = a * (1.0 - e2) / (w * w * w), n = a / w;
  double enu[3];
  SP_geo_to_ecef(35.0 + 100.0 / m * 180.0 / M_PI, 139.0, 50.0, xyz);
  SP_ecef_to_enu(xyz, 35.0, 139.0, 50.0, enu);
  EXPECT_NEAR(enu[0], 0.0, 1e-6);
  EXPECT_NEAR(enu[1], 100.0, 1e-3);
  EXPECT_NEAR(enu[2], -100.0 * 100.0 / (2.0 * m), 1e-4);  // the surface drops away: -0.8 mm
  SP_geo_to_ecef(35.0, 139.0 + 100.0 / (n * std::cos(35.0 * M_PI / 180.0)) * 180.0 / M_PI, 50.0, xyz);
  SP_ecef_to_enu(xyz, 35.0, 139.0, 50.0, enu);
  EXPECT_NEAR(enu[0], 100.0, 1e-3);
  EXPECT_NEAR(enu[1], 0.0, 1e-3);
  SP_geo_to_ecef(35.0, 139.0, 60.0, xyz);
  SP_ecef_to_enu(xyz, 35.0, 139.0, 50.0, enu);
  EXPECT_NEAR(enu[2], 10.0, 1e-6);
}

// ------------------------------------------------------------- solution files

// A solution line as talonhost writes it.
std::string sol_line(long epoch, const char* hms, const char* status, double age, double ratio, double lat, double lon,
                     double alt) {
  double xyz[3];
  SP_geo_to_ecef(lat, lon, alt, xyz);
  char buf[512];
  std::snprintf(buf, sizeof buf, "%15ld%9d/%02d/%02d%3s%s%15s%15.2f%15.2f%15.8f%15.8f%15.3f%15.3f%15.3f%15.3f%15.3f\n",
                epoch, 2024, 2, 7, "", hms, status, age, ratio, lat, lon, alt, xyz[0], xyz[1], xyz[2], 123.456);
  return buf;
}

std::string three_rows() {
  return std::string(talon_test::SOL_HEADER) + "\n" +
         sol_line(1, "11:19:42.000", "SINGLE", 0.0, 0.0, 35.00100000, 139.00200000, 51.000) +
         sol_line(2, "11:19:42.200", "FLOAT", 0.2, 1.5, 35.00100100, 139.00200200, 51.100) +
         sol_line(3, "11:19:42.400", "FIX", 0.4, 10.0, 35.00100200, 139.00200400, 51.200);
}

TEST(SolPlotSol, ParsesTheProgramsLines) {
  const std::string text = three_rows();
  SP_SOL_T sol;
  EXPECT_EQ(SP_sol_parse_text(text.data(), text.size(), &sol), 3);
  EXPECT_EQ(sol.malformed, 0);
  ASSERT_EQ(sol.rows.size(), 3U);
  const SP_ROW_T& r = sol.rows[1];
  EXPECT_EQ(r.epoch, 2);
  EXPECT_EQ(r.status, SP_FLOAT);
  EXPECT_STREQ(r.status_word, "FLOAT");
  EXPECT_DOUBLE_EQ(r.age, 0.2);
  EXPECT_DOUBLE_EQ(r.ratio, 1.5);
  EXPECT_DOUBLE_EQ(r.lat, 35.001001);
  EXPECT_DOUBLE_EQ(r.lon, 139.002002);
  EXPECT_DOUBLE_EQ(r.alt, 51.1);
  EXPECT_DOUBLE_EQ(r.baseline, 123.456);
  EXPECT_TRUE(r.has_pos);
  EXPECT_NEAR(r.t - sol.rows[0].t, 0.2, 1e-6);  // a double of 1.7e9 s resolves 0.24 us
  // 2024-02-07 11:19:42 UTC = 1707304782 s after 1970-01-01.
  EXPECT_NEAR(sol.rows[0].t, 1707304782.0, 1e-6);
  EXPECT_EQ(sol.count[SP_FIX], 1);
  EXPECT_EQ(sol.count[SP_FLOAT], 1);
  EXPECT_EQ(sol.count[SP_SINGLE], 1);
  EXPECT_EQ(sol.count[SP_OTHER], 0);
  char iso[40];
  SP_track_iso_time(sol.rows[2], iso, sizeof iso);
  EXPECT_STREQ(iso, "2024-02-07T11:19:42.400Z");
}

TEST(SolPlotSol, ReferenceIsTheMeanOfFixRowsElseOfAll) {
  const std::string text = sol_line(1, "00:00:00.000", "FIX", 0, 10, 35.0, 139.0, 50.0) +
                           sol_line(2, "00:00:01.000", "FIX", 0, 10, 35.0, 139.0, 52.0) +
                           sol_line(3, "00:00:02.000", "SINGLE", 0, 0, 35.1, 139.1, 90.0);
  SP_SOL_T sol;
  SP_sol_parse_text(text.data(), text.size(), &sol);
  double lat, lon, h;
  EXPECT_EQ(SP_sol_default_ref(sol, &lat, &lon, &h), 2);
  EXPECT_NEAR(lat, 35.0, 1e-9);
  EXPECT_NEAR(lon, 139.0, 1e-9);
  EXPECT_NEAR(h, 51.0, 1e-4);
  SP_sol_enu(&sol, lat, lon, h);
  EXPECT_NEAR(sol.rows[0].u, -1.0, 1e-4);
  EXPECT_NEAR(sol.rows[1].u, 1.0, 1e-4);
  EXPECT_NEAR(sol.rows[2].n, 11094.0, 5.0);  // 0.1 deg of latitude
  const std::string single = sol_line(1, "00:00:00.000", "SINGLE", 0, 0, 35.0, 139.0, 50.0) +
                             sol_line(2, "00:00:01.000", "NONE", 0, 0, 35.0, 139.0, 60.0);
  SP_sol_parse_text(single.data(), single.size(), &sol);
  EXPECT_EQ(sol.count[SP_OTHER], 1);
  EXPECT_EQ(SP_sol_default_ref(sol, &lat, &lon, &h), 2);
  EXPECT_NEAR(h, 55.0, 1e-4);
}

struct BadLine {
  const char* name;
  std::string line;
};

class SolPlotMalformed : public ::testing::TestWithParam<BadLine> {};

// Each bad line between two good rows is counted, named by its line number and
// skipped; the good rows around it stay.
TEST_P(SolPlotMalformed, IsCountedAndSkipped) {
  const BadLine& c = GetParam();
  SP_ROW_T row;
  EXPECT_EQ(SP_sol_parse_line(c.line.c_str(), &row), 0) << c.name;
  const std::string text = std::string(talon_test::SOL_HEADER) + "\n" +
                           sol_line(1, "11:19:42.000", "FIX", 0.0, 10.0, 35.0, 139.0, 50.0) + c.line + "\n" +
                           sol_line(2, "11:19:43.000", "FIX", 0.0, 10.0, 35.0, 139.0, 50.0);
  SP_SOL_T sol;
  EXPECT_EQ(SP_sol_parse_text(text.data(), text.size(), &sol), 2) << c.name;
  EXPECT_EQ(sol.malformed, 1) << c.name;
  EXPECT_EQ(sol.first_bad_line, 3) << c.name;
}

std::string good() {
  std::string l = sol_line(7, "11:19:42.000", "FIX", 0.4, 10.0, 35.0, 139.0, 50.0);
  l.pop_back();
  return l;
}
std::string replaced(const std::string& what, const std::string& with) {
  std::string l = good();
  l.replace(l.find(what), what.size(), with);
  return l;
}

INSTANTIATE_TEST_SUITE_P(SolPlot, SolPlotMalformed,
                         ::testing::Values(BadLine{"garbage", "hello world"}, BadLine{"one column", "42"},
                                           BadLine{"twelve columns", good().substr(0, good().rfind(' '))},
                                           BadLine{"fourteen columns", good() + " 1"},
                                           BadLine{"epoch not a number", replaced("7 ", "x ")},
                                           BadLine{"month 13", replaced("2024/02/07", "2024/13/07")},
                                           BadLine{"30 February", replaced("2024/02/07", "2024/02/30")},
                                           BadLine{"date with dashes", replaced("2024/02/07", "2024-02-07")},
                                           BadLine{"hour 24", replaced("11:19:42.000", "24:19:42.000")},
                                           BadLine{"second 60", replaced("11:19:42.000", "11:19:60.000")},
                                           BadLine{"lower-case status", replaced("FIX", "fix")},
                                           BadLine{"latitude 91", replaced("35.00000000", "91.00000000")},
                                           BadLine{"longitude -181", replaced("139.00000000", "-181.00000000")},
                                           BadLine{"ratio nan", replaced("10.00", "nan")},
                                           BadLine{"age inf", replaced("0.40", "inf")},
                                           BadLine{"height 1e300", replaced("50.000", "1e300")},
                                           BadLine{"number with a tail", replaced("50.000", "50.000m")},
                                           BadLine{"line of 600 characters", good() + std::string(600, ' ') + "x"},
                                           BadLine{"second header", std::string(talon_test::SOL_HEADER)},
                                           BadLine{"NUL inside", replaced("FIX", std::string("F\0X", 3))}),
                         [](const auto& i) { return talon_test::case_name(i.param.name); });

TEST(SolPlotSol, EmptyTextOrHeaderOnlyHasNoRows) {
  SP_SOL_T sol;
  EXPECT_EQ(SP_sol_parse_text("", 0, &sol), 0);
  EXPECT_EQ(sol.malformed, 0);
  const std::string h = std::string(talon_test::SOL_HEADER) + "\n\n  \n";
  EXPECT_EQ(SP_sol_parse_text(h.data(), h.size(), &sol), 0);
  EXPECT_EQ(sol.malformed, 0);
  // A row far from the Earth is a row without a position: counted, not tracked.
  const std::string far = sol_line(1, "00:00:00.000", "NONE", 0, 0, -90.0, 0.0, -6356752.314);
  EXPECT_EQ(SP_sol_parse_text(far.data(), far.size(), &sol), 1);
  EXPECT_EQ(sol.no_pos, 1);
  EXPECT_FALSE(sol.rows[0].has_pos);
}

// A file read in blocks: rows across block boundaries, CRLF line ends, a line
// of 200000 bytes and a last row without a line end give what the whole text
// gives.
TEST(SolPlotSol, FileReadInBlocksAsTheWholeText) {
  std::string text = std::string(talon_test::SOL_HEADER) + "\r\n";
  for (int i = 0; i < 400; ++i) {
    std::string l = sol_line(i + 1, "11:19:42.000", i % 2 == 0 ? "FIX" : "FLOAT", 0.0, 10.0, 35.0, 139.0, 50.0);
    if (i == 200) text += std::string(200000, 'x') + "\n";
    if (i == 399)
      l.pop_back();
    else
      l.insert(l.size() - 1, "\r");
    text += l;
  }
  talon_test::TempDir dir;
  talon_test::write_file(dir.file("s.txt"), Bytes(text.begin(), text.end()));
  SP_SOL_T from_file, from_text;
  ASSERT_EQ(SP_sol_read_file(dir.file("s.txt").c_str(), &from_file), 1);
  SP_sol_parse_text(text.data(), text.size(), &from_text);
  for (const SP_SOL_T* s : {&from_file, &from_text}) {
    EXPECT_EQ(s->rows.size(), 400U);
    EXPECT_EQ(s->malformed, 1);
    EXPECT_EQ(s->first_bad_line, 202);
    EXPECT_EQ(s->count[SP_FIX], 200);
    EXPECT_EQ(s->count[SP_FLOAT], 200);
  }
  EXPECT_EQ(from_file.rows.back().epoch, 400);
  EXPECT_EQ(SP_sol_read_file(dir.file("none.txt").c_str(), &from_file), 0);
  EXPECT_EQ(SP_sol_read_file(dir.path().c_str(), &from_file), -1);
}

// ------------------------------------------------------------- KML and GPX

// Tags open and close in order (a small check of well-formedness).
bool tags_balanced(const std::string& x, std::string* why) {
  std::vector<std::string> stack;
  for (std::size_t i = x.find('<'); i != std::string::npos; i = x.find('<', i + 1)) {
    const std::size_t end = x.find('>', i);
    if (end == std::string::npos) return *why = "unclosed tag", false;
    const std::string tag = x.substr(i + 1, end - i - 1);
    if (tag.empty() || tag[0] == '?' || tag[0] == '!' || tag.back() == '/') continue;
    const std::string name = tag.substr(0, tag.find(' '));
    if (name[0] != '/') {
      stack.push_back(name);
    } else if (stack.empty() || stack.back() != name.substr(1)) {
      return *why = "</" + name.substr(1) + "> closes " + (stack.empty() ? "nothing" : stack.back()), false;
    } else {
      stack.pop_back();
    }
  }
  if (!stack.empty()) return *why = "<" + stack.back() + "> left open", false;
  return true;
}

TEST(SolPlotTrack, KmlAndGpxOfThreeRows) {
  const std::string text = three_rows();
  SP_SOL_T sol;
  SP_sol_parse_text(text.data(), text.size(), &sol);
  std::string kml, gpx, why;
  SP_track_kml(sol, "a<b&c", &kml);
  SP_track_gpx(sol, "a<b&c", &gpx);
  EXPECT_TRUE(tags_balanced(kml, &why)) << why;
  EXPECT_TRUE(tags_balanced(gpx, &why)) << why;
  EXPECT_EQ(kml.find("a<b"), std::string::npos);
  EXPECT_NE(kml.find("<name>a&lt;b&amp;c</name>"), std::string::npos);
  EXPECT_NE(gpx.find("<name>a&lt;b&amp;c</name>"), std::string::npos);
  EXPECT_NE(kml.find("<kml xmlns=\"http://www.opengis.net/kml/2.2\">"), std::string::npos);
  EXPECT_NE(gpx.find("<gpx version=\"1.1\""), std::string::npos);
  EXPECT_NE(gpx.find("xmlns=\"http://www.topografix.com/GPX/1/1\""), std::string::npos);

  const char* words[3] = {"SINGLE", "FLOAT", "FIX"};
  const char* kml_coord[3] = {"139.00200000,35.00100000,51.000", "139.00200200,35.00100100,51.100",
                              "139.00200400,35.00100200,51.200"};
  const char* gpx_pt[3] = {
      "<trkpt lat=\"35.00100000\" lon=\"139.00200000\"><ele>51.000</ele><time>2024-02-07T11:19:42.000Z</time>"
      "<desc>epoch 1 SINGLE ratio 0.00 age 0.00 s</desc><type>SINGLE</type></trkpt>",
      "<trkpt lat=\"35.00100100\" lon=\"139.00200200\"><ele>51.100</ele><time>2024-02-07T11:19:42.200Z</time>"
      "<desc>epoch 2 FLOAT ratio 1.50 age 0.20 s</desc><type>FLOAT</type></trkpt>",
      "<trkpt lat=\"35.00100200\" lon=\"139.00200400\"><ele>51.200</ele><time>2024-02-07T11:19:42.400Z</time>"
      "<desc>epoch 3 FIX ratio 10.00 age 0.40 s</desc><type>FIX</type></trkpt>"};
  std::size_t line_at = kml.find("<LineString>");
  ASSERT_NE(line_at, std::string::npos);
  std::size_t prev_gpx = 0;
  for (int i = 0; i < 3; ++i) {
    // In the track line, in order, and as the point of a placemark of its status.
    const std::size_t at = kml.find(kml_coord[i], line_at);
    EXPECT_NE(at, std::string::npos) << i;
    EXPECT_LT(at, kml.find("</LineString>")) << i;
    line_at = at;
    const std::string placemark = std::string("<styleUrl>#") + words[i] + "</styleUrl>";
    const std::size_t pm = kml.find(placemark, kml.find("<Folder>"));
    ASSERT_NE(pm, std::string::npos) << i;
    EXPECT_LT(kml.find(std::string("<coordinates>") + kml_coord[i], pm), kml.find("</Placemark>", pm)) << i;
    const std::size_t g = gpx.find(gpx_pt[i]);
    EXPECT_NE(g, std::string::npos) << i;
    EXPECT_GE(g, prev_gpx) << i;
    prev_gpx = g;
  }
  EXPECT_EQ(talon_test::count_of(gpx, "<trkpt "), 3);
  EXPECT_EQ(talon_test::count_of(kml, "<Point>"), 3);
  // Every status has its style, FIX green and SINGLE red (KML colours are aabbggrr).
  EXPECT_NE(kml.find("<Style id=\"FIX\"><IconStyle><color>ff00a000</color>"), std::string::npos);
  EXPECT_NE(kml.find("<Style id=\"SINGLE\"><IconStyle><color>ff0000dc</color>"), std::string::npos);
}

// ------------------------------------------------------------- the picture

TEST(SolPlotFigure, TrackDotsHaveTheirStatusColours) {
  const std::string text = three_rows();
  SP_SOL_T sol;
  SP_sol_parse_text(text.data(), text.size(), &sol);
  SP_sol_enu(&sol, 35.001, 139.002, 51.0);
  SP_CANVAS_T c;
  SP_figure_draw(sol, "three rows", 35.001, 139.002, 51.0, &c);
  ASSERT_EQ(c.width, SP_FIG_WIDTH);
  ASSERT_EQ(c.height, SP_FIG_HEIGHT);
  long counts[SP_NUM_STATUS] = {};
  for (int y = 0; y < c.height; ++y) {
    for (int x = 0; x < c.width; ++x) {
      const SP_RGB_T p = SP_canvas_get(c, x, y);
      for (int s = 0; s < SP_NUM_STATUS; ++s) {
        const SP_RGB_T want = SP_status_colour(s);
        if (p.r == want.r && p.g == want.g && p.b == want.b) ++counts[s];
      }
    }
  }
  // One dot per row in each of the 6 panels plus the legend square; no OTHER row, only its square.
  EXPECT_GT(counts[SP_FIX], 6 * 9);
  EXPECT_GT(counts[SP_FLOAT], 6 * 9);
  EXPECT_GT(counts[SP_SINGLE], 6 * 9);
  EXPECT_EQ(counts[SP_OTHER], 14 * 14);
  Bytes png;
  ASSERT_EQ(SP_png_encode(c.rgb.data(), c.width, c.height, 1, &png), 1);
  const Decoded d = decode_png(png);
  ASSERT_TRUE(d.ok) << d.why;
  EXPECT_EQ(d.rgb, c.rgb);
}

// ------------------------------------------------------------- command line

struct CliRun {
  int code = -1;
  std::string out, err;
};

CliRun run_sol_plot(const talon_test::TempDir& dir, const std::vector<std::string>& args) {
  const int pid = talon_test::spawn_program(dir.path(), SOL_PLOT_EXE, args, dir.file("so"), dir.file("se"));
  CliRun r;
  r.code = talon_test::wait_talonhost(pid, 30);
  r.out = talon_test::read_text(dir.file("so"));
  r.err = talon_test::read_text(dir.file("se"));
  return r;
}

TEST(SolPlotCli, WritesPictureAndTracks) {
  talon_test::TempDir dir;
  const std::string text = three_rows() + "garbage line\n";
  talon_test::write_file(dir.file("Normal_sol.txt"), Bytes(text.begin(), text.end()));
  const CliRun r = run_sol_plot(
      dir, {"Normal_sol.txt", "--png", "p.png", "--kml", "t.kml", "--gpx", "t.gpx", "--ref", "35.001,139.002,51"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("sol_plot: Normal_sol.txt: 1 malformed lines skipped (first at line 5)"), std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("3 rows, FIX 1 (33.3%), FLOAT 1 (33.3%), SINGLE 1 (33.3%), OTHER 0 (0.0%)"), std::string::npos)
      << r.out;
  const Decoded d = decode_png(talon_test::read_file(dir.file("p.png")));
  EXPECT_TRUE(d.ok) << d.why;
  EXPECT_EQ(d.width, SP_FIG_WIDTH);
  EXPECT_EQ(talon_test::count_of(talon_test::read_text(dir.file("t.kml")), "<Point>"), 3);
  EXPECT_EQ(talon_test::count_of(talon_test::read_text(dir.file("t.gpx")), "<trkpt "), 3);
}

struct CliCase {
  const char* name;
  const char* content;  // null: no input file
  std::vector<std::string> args;
  int code;
  const char* message;
};

class SolPlotCliBad : public ::testing::TestWithParam<CliCase> {};

TEST_P(SolPlotCliBad, ExitsWithAMessage) {
  const CliCase& c = GetParam();
  talon_test::TempDir dir;
  if (c.content != nullptr)
    talon_test::write_file(dir.file("in.txt"), Bytes(c.content, c.content + std::strlen(c.content)));
  const CliRun r = run_sol_plot(dir, c.args);
  EXPECT_EQ(r.code, c.code) << c.name << ": " << r.err;
  EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
  EXPECT_FALSE(talon_test::file_exists(dir.file("p.png"))) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    SolPlot, SolPlotCliBad,
    ::testing::Values(
        CliCase{"missing file", nullptr, {"in.txt", "--png", "p.png"}, 1, "sol_plot: in.txt: cannot read: "},
        CliCase{"directory", nullptr, {".", "--png", "p.png"}, 1, "sol_plot: .: not a regular file"},
        CliCase{"device", nullptr, {"/dev/zero", "--png", "p.png"}, 1, "sol_plot: /dev/zero: not a regular file"},
        CliCase{"empty file", "", {"in.txt", "--png", "p.png"}, 1, "sol_plot: in.txt: no solution rows"},
        CliCase{"garbage",
                "\x01\x02 garbage\n\xff\xfe\n",
                {"in.txt", "--png", "p.png"},
                1,
                "sol_plot: in.txt: 2 malformed lines skipped (first at line 1)"},
        CliCase{"no arguments", nullptr, {}, 2, "usage: sol_plot"},
        CliCase{"unknown option", "", {"in.txt", "--pgn", "p.png"}, 2, "sol_plot: --pgn: unknown option"},
        CliCase{"missing value", "", {"in.txt", "--png"}, 2, "sol_plot: --png: missing value"},
        CliCase{"bad reference", "", {"in.txt", "--ref", "35,139"}, 2, "sol_plot: --ref 35,139: expected"},
        CliCase{"reference off the Earth", "", {"in.txt", "--ref", "95,139,0"}, 2, "sol_plot: --ref 95,139,0"}),
    [](const auto& i) { return talon_test::case_name(i.param.name); });

}  // namespace
