// Backup memory: layout, stores, restore with sector fallback, byte order,
// clock record; and the pool allocator.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "kernel/backup_image.h"
#include "kernel/src/allocator.h"
#include "kernel/src/kernel_backup.h"
#include "misc/crc16.h"
#include "misc/endian_swap.h"

namespace {

std::array<U08, 20480> Region_image;

KBACKUP_STATE_IN_T sample_state() {
  KBACKUP_STATE_IN_T s{};
  s.lla = LLA_T{0.5, -2.25, 123.45f};
  s.cdrift = -1.5f;
  s.gps_tow = 345600.25;
  s.gps_wn = 2400;
  s.rtc_wn = 352;  // RTC week counts modulo 4096
  s.rtc_sec = 345590;
  s.rtc_subsec = 1234;
  s.rtc_gps_ss_dif = -17;
  s.rtc_gps_ratio = 1.0000001;
  s.rtc_gps_ratio_quality = 7;
  return s;
}

S32 s32_at(std::size_t off) {
  S32 v;
  std::memcpy(&v, Region_image.data() + off, 4);
  return v;
}
U16 u16_at(std::size_t off) {
  U16 v;
  std::memcpy(&v, Region_image.data() + off, 2);
  return v;
}

class KernelBackup : public ::testing::Test {
 protected:
  void SetUp() override {
    Region_image.fill(0);
    ENDIAN_set_swap_flag(0);
    ASSERT_EQ(KBACKUP_init(Region_image.data()), KBACKUP_PIECE_SIZE);
  }
  void TearDown() override { ENDIAN_set_swap_flag(0); }
};

TEST_F(KernelBackup, LayoutFromAnAlignedStart) {
  EXPECT_EQ(KBACKUP_init_storage_address(Region_image.data(), 0), 128);
  EXPECT_EQ(KBACKUP_init_storage_address(Region_image.data(), 256), 128);
  KBACKUP_init_storage_address(Region_image.data(), 0);
  // Sectors at 0 and 56, clock record at 112, its CRC at 120.
  KBACKUP_STATE_IN_T s = sample_state();
  KBACKUP_store_time_and_position(&s);
  KBACKUP_store_clock_drift(-1.0f);
  EXPECT_NE(u16_at(48), 0);
  EXPECT_EQ(u16_at(48), u16_at(56 + 48));
  EXPECT_EQ(s32_at(112), 1);
  EXPECT_EQ(s32_at(116), 5);  // -(-1 m/s) x 5.255 Hz, truncated
  EXPECT_EQ(u16_at(120), crc16(Region_image.data() + 112, 8));
}

TEST_F(KernelBackup, StoresInFixedPointAndRestores) {
  KBACKUP_T none{};
  EXPECT_EQ(KBACKUP_get_receiver_states(&none), 0);  // an empty region has no state
  const KBACKUP_STATE_IN_T s = sample_state();
  KBACKUP_store_time_and_position(&s);
  EXPECT_EQ(s32_at(0), 50000000);  // 0.5 rad in 1e-8 rad
  EXPECT_EQ(s32_at(4), -225000000);
  EXPECT_EQ(s32_at(8), 12344);   // cm; 123.45f is 123.449997 m, truncated toward zero
  EXPECT_EQ(s32_at(12), -1500);  // mm/s
  KBACKUP_T d{};
  ASSERT_EQ(KBACKUP_get_receiver_states(&d), 1);
  EXPECT_DOUBLE_EQ(d.lla.lat, 0.5);
  EXPECT_DOUBLE_EQ(d.lla.lon, -2.25);
  EXPECT_NEAR(d.lla.alt, 123.45f, 0.01f);
  EXPECT_FLOAT_EQ(d.cdrift, -1.5f);
  EXPECT_EQ(d.last_stored_D64_gps_tow, 345600.25);
  EXPECT_EQ(d.last_stored_gps_wn, 2400);
  EXPECT_EQ(d.last_stored_rtc_wn, 352);
  EXPECT_EQ(d.last_stored_rtc_sec, 345590);
  EXPECT_EQ(d.last_stored_rtc_subsec, 1234);
  EXPECT_EQ(d.rtc_gps_ss_dif, -17);
  EXPECT_EQ(d.rtc_gps_ratio, 1.0000001);
  EXPECT_EQ(d.rtc_gps_ratio_quality, 7u);
}

TEST_F(KernelBackup, SectorFallbackAndRewrite) {
  KBACKUP_STATE_IN_T s = sample_state();
  KBACKUP_store_time_and_position(&s);
  Region_image[3] ^= 0x10;  // corrupt sector 0
  KBACKUP_T d{};
  ASSERT_EQ(KBACKUP_get_receiver_states(&d), 1);
  EXPECT_DOUBLE_EQ(d.lla.lat, 0.5);  // from sector 1
  s.gps_tow = 1000.0;
  KBACKUP_store_time_and_position(&s);  // rewrites both
  Region_image[56 + 3] ^= 0x10;         // now corrupt sector 1 instead
  ASSERT_EQ(KBACKUP_get_receiver_states(&d), 1);
  EXPECT_EQ(d.last_stored_D64_gps_tow, 1000.0);
  Region_image[3] ^= 0x10;  // both bad
  EXPECT_EQ(KBACKUP_get_receiver_states(&d), 0);
}

TEST_F(KernelBackup, ZeroCrcIsNeverAccepted) {
  // 46 bytes of data followed by their own CRC (big-endian) hash to a CRC of 0.
  for (int i = 0; i < 46; ++i) Region_image[static_cast<std::size_t>(i)] = static_cast<U08>(i * 5 + 1);
  const U16 c = crc16(Region_image.data(), 46);
  Region_image[46] = static_cast<U08>(c >> 8);
  Region_image[47] = static_cast<U08>(c & 0xFF);
  ASSERT_EQ(crc16(Region_image.data(), 48), 0);
  // Stored CRC 0 equals the computed CRC, and still the sector is invalid.
  KBACKUP_T d{};
  EXPECT_EQ(KBACKUP_get_receiver_states(&d), 0);
}

TEST_F(KernelBackup, PositionOnlyStoreKeepsInvalidSectorsInvalid) {
  KBACKUP_STATE_IN_T s = sample_state();
  KBACKUP_store_time_and_position(&s);
  Region_image[56 + 20] ^= 0x01;  // sector 1 invalid
  const LLA_T moved{0.25, 1.0, 10.0f};
  KBACKUP_store_position_only(&moved);
  EXPECT_NE(u16_at(56 + 48), crc16(Region_image.data() + 56, 48));  // still invalid
  KBACKUP_T d{};
  ASSERT_EQ(KBACKUP_get_receiver_states(&d), 1);
  EXPECT_DOUBLE_EQ(d.lla.lat, 0.25);
  EXPECT_EQ(d.last_stored_D64_gps_tow, 345600.25);  // time kept
  // With both invalid, a position-only store creates nothing.
  KBACKUP_clear_data();
  KBACKUP_store_position_only(&moved);
  EXPECT_EQ(KBACKUP_get_receiver_states(&d), 0);
}

TEST_F(KernelBackup, ClockRecord) {
  S32 off = 0;
  EXPECT_EQ(KBACKUP_get_clock_offset(&off), 0);
  KBACKUP_store_clock_drift(-1.0f);
  ASSERT_EQ(KBACKUP_get_clock_offset(&off), 1);
  EXPECT_EQ(off, 5);
  KBACKUP_store_clock_drift(100.0f);  // -525.5 Hz, truncated toward zero
  ASSERT_EQ(KBACKUP_get_clock_offset(&off), 1);
  EXPECT_EQ(off, -525);
  KBACKUP_clear_data();  // the clock record survives a clear
  EXPECT_EQ(KBACKUP_get_clock_offset(&off), 1);
  Region_image[112] = 2;  // has_reliable_clock_offset must be exactly 1
  const U16 crc = crc16(Region_image.data() + 112, 8);
  std::memcpy(Region_image.data() + 120, &crc, 2);
  EXPECT_EQ(KBACKUP_get_clock_offset(&off), 0);
}

TEST_F(KernelBackup, TargetByteOrderImageRestoresTheSameState) {
  // sample_state() in the sector's fixed point: 1e-8 rad, cm, mm/s
  const kernel_test::Sector s{50000000, -225000000, 12344, -1500, 345600.25, 1.0000001,
                              7,        345590,     352,   1234,  -17,       2400};
  kernel_test::write_sector(Region_image.data(), 0, s, true);
  kernel_test::write_sector(Region_image.data(), 56, s, true);
  kernel_test::write_clock_record(Region_image.data(), -42, true);
  ENDIAN_set_swap_flag(1);
  KBACKUP_init(Region_image.data());
  KBACKUP_T d{};
  ASSERT_EQ(KBACKUP_get_receiver_states(&d), 1);
  EXPECT_DOUBLE_EQ(d.lla.lat, 0.5);
  EXPECT_DOUBLE_EQ(d.lla.lon, -2.25);
  EXPECT_EQ(d.last_stored_D64_gps_tow, 345600.25);
  EXPECT_EQ(d.last_stored_gps_wn, 2400);
  EXPECT_EQ(d.rtc_gps_ss_dif, -17);
  S32 off = 0;
  ASSERT_EQ(KBACKUP_get_clock_offset(&off), 1);
  EXPECT_EQ(off, -42);
}

TEST(Allocator, OwnershipAndBounds) {
  struct Elem {
    int v[3];
  };
  std::array<Elem, 4> pool{};
  std::array<S08, 4> used{};
  ALLOC_T a{};
  ALLOC_init(&a, 4, sizeof(Elem), pool.data(), used.data());
  void* e1 = ALLOC_new(&a, 5);
  ASSERT_EQ(e1, &pool[0]);
  EXPECT_EQ(ALLOC_new(&a, 5), e1);  // same id, same element, counted once
  EXPECT_EQ(a.num_used, 1);
  EXPECT_EQ(ALLOC_new(&a, 21), nullptr);
  EXPECT_EQ(ALLOC_new(&a, 0), nullptr);
  EXPECT_EQ(ALLOC_new(&a, 1), &pool[1]);
  EXPECT_EQ(ALLOC_new(&a, 2), &pool[2]);
  EXPECT_EQ(ALLOC_new(&a, 3), &pool[3]);
  EXPECT_EQ(ALLOC_new(&a, 4), nullptr);  // full
  ALLOC_delete(&a, &pool[1]);
  EXPECT_EQ(a.num_used, 3);
  EXPECT_EQ(ALLOC_new(&a, 4), &pool[1]);  // the freed element is reused
  ALLOC_delete(&a, nullptr);
  int outside = 0;
  ALLOC_delete(&a, &outside);                              // not from the pool
  ALLOC_delete(&a, reinterpret_cast<U08*>(&pool[0]) + 1);  // not an element start
  EXPECT_EQ(a.num_used, 4);
  ALLOC_delete(&a, &pool[0]);
  ALLOC_delete(&a, &pool[0]);  // twice: the second is ignored
  EXPECT_EQ(a.num_used, 3);
}

}  // namespace
