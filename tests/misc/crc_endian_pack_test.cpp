// Known answers for the CRC, the byte-order helpers and the field codec.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "misc/crc16.h"
#include "misc/endian_swap.h"
#include "misc/pack.h"

namespace {

const U08* bytes(const char* s) { return reinterpret_cast<const U08*>(s); }

TEST(Crc16, KnownAnswersAndContinuation) {
  // CRC-16/XMODEM check value and the "abc" vector of the start-up files.
  EXPECT_EQ(crc16(bytes("123456789"), 9), 0x31C3);
  EXPECT_EQ(crc16(bytes("abc"), 3), 0x9DD6);
  EXPECT_EQ(crc16(bytes(""), 0), 0x0000);
  const U08 one[] = {0x01};
  EXPECT_EQ(crc16(one, 1), 0x1021);  // a single set bit gives the polynomial
  // continued from an initial value: the same check value at every split
  const char* s = "123456789";
  for (std::size_t split = 0; split <= 9; ++split) {
    const U16 first = crc16(bytes(s), split);
    EXPECT_EQ(crc16_wi(bytes(s) + split, 9 - split, first), 0x31C3) << "split " << split;
  }
}

TEST(EndianSwap, ReversesEveryWidthAndFlag) {
  U16 u16 = 0x1234;
  ENDIAN_swap_U16(&u16);
  EXPECT_EQ(u16, 0x3412);
  S16 s16 = static_cast<S16>(0xFF01);
  ENDIAN_swap_S16(&s16);
  EXPECT_EQ(s16, 0x01FF);
  U32 u32 = 0x01020304u;
  ENDIAN_swap_U32(&u32);
  EXPECT_EQ(u32, 0x04030201u);
  S32 s32 = -2;  // FF FF FF FE
  ENDIAN_swap_S32(&s32);
  EXPECT_EQ(static_cast<U32>(s32), 0xFEFFFFFFu);
  F32 f = 1.0f;  // 3F 80 00 00
  ENDIAN_swap_F32(&f);
  U32 fbits = 0;
  std::memcpy(&fbits, &f, 4);
  EXPECT_EQ(fbits, 0x0000803Fu);
  D64 d = 1.0;  // 3F F0 00 00 00 00 00 00
  ENDIAN_swap_D64(&d);
  U64 dbits = 0;
  std::memcpy(&dbits, &d, 8);
  EXPECT_EQ(dbits, 0x000000000000F03FULL);
  ENDIAN_swap_D64(&d);
  EXPECT_EQ(d, 1.0);
  ENDIAN_set_swap_flag(1);
  EXPECT_EQ(ENDIAN_need_swap(), 1);
  ENDIAN_set_swap_flag(0);
  EXPECT_EQ(ENDIAN_need_swap(), 0);
}

TEST(Pack, ByteVectors) {
  U08 buf[16] = {};
  ASSERT_EQ(pack(buf, "ccc l", 0x4A, 0x58, 10, 0x01020304), 7);
  const U08 want[] = {0x4A, 0x58, 0x0A, 0x01, 0x02, 0x03, 0x04};
  EXPECT_EQ(0, std::memcmp(buf, want, 7));

  // s takes the low 16 bits, c the low 8 bits; negative values are two's complement.
  ASSERT_EQ(pack(buf, "s c s", 0x12345, 0x1FF, -2), 5);
  const U08 want2[] = {0x23, 0x45, 0xFF, 0xFF, 0xFE};
  EXPECT_EQ(0, std::memcmp(buf, want2, 5));

  // f: IEEE-754 single, big-endian; -1.5f = BF C0 00 00.
  ASSERT_EQ(pack(buf, "f", -1.5), 4);
  const U08 want3[] = {0xBF, 0xC0, 0x00, 0x00};
  EXPECT_EQ(0, std::memcmp(buf, want3, 4));
}

TEST(Pack, UnpackWidthsAndSignedness) {
  const U08 in[] = {0xC8, 0xFF, 0xFE, 0x80, 0x00, 0x00, 0x01, 0xBF, 0xC0, 0x00, 0x00};
  U08 c = 0;
  S16 s = 0;
  S32 l = 0;
  F32 f = 0.0f;
  ASSERT_EQ(unpack(in, "c s l f", &c, &s, &l, &f), 11);
  EXPECT_EQ(c, 200);
  EXPECT_EQ(s, -2);
  EXPECT_EQ(l, static_cast<S32>(0x80000001u));
  EXPECT_EQ(f, -1.5f);
  S08 sc = 0;
  ASSERT_EQ(unpack(in, "c", &sc), 1);
  EXPECT_EQ(sc, -56);  // 0xC8 in a signed byte
}

TEST(Pack, UnknownLetterFails) {
  U08 buf[8];
  EXPECT_EQ(pack(buf, "cx", 1, 2), -1);
  U08 c = 0;
  EXPECT_EQ(unpack(buf, "d", &c), -1);
}

TEST(Pack, Checksum) {
  U08 frame[4] = {0x4A, 0x58, 0x0F, 0x00};
  EXPECT_EQ(calc_checksum(frame, 3), 0x1D);
  EXPECT_EQ(calc_checksum(frame, 0), 0x00);
  EXPECT_EQ(append_checksum(frame, 3), 4);
  EXPECT_EQ(frame[3], 0x1D);  // HOSTBASE_INIT on the wire: 4A 58 0F 1D
}

}  // namespace
