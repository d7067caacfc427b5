// Almanac and health through a started kernel: the stored almanac image
// (the host's flash.alm) lands in the backup image at the almanac piece's
// fixed place (offset 224) and comes back unchanged through ALM_get_address;
// clearing the stored data with the almanac flag clears every record; the
// health piece (offset 7072) starts as "nothing known" with a valid CRC.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "host/wrap.h"
#include "kernel/src/backup_layout.h"
#include "kernel/src/kernel.h"
#include "kernel/src/kernel_interface.h"
#include "kernel/src/kernel_modules.h"
#include "misc/crc16.h"
#include "misc/endian_swap.h"
#include "misc/start_files.h"

namespace {

std::array<U08, HOST_IMAGE_SIZE> Region;
std::array<U08, HOST_IMAGE_SIZE> Alm_image;
constexpr U32 ALM_AT = 224;   // the almanac piece's offset in the image
constexpr U32 SVH_AT = 7072;  // the health piece's offset
static_assert(BACKUP_LAYOUT.offset[BACKUP_PIECE_ALM] == ALM_AT && BACKUP_LAYOUT.offset[BACKUP_PIECE_SVH] == SVH_AT);

KERNEL_INIT_T init_record(S16 force_cold) {
  KERNEL_INIT_T k{};
  k.backup_mem_p = Region.data();
  k.nvram_alm_mem_p = Alm_image.data();
  k.force_cold = force_cold;
  k.tcxo_freq_mode = 1;
  k.npse = 8;
  k.gnss_select_bits = 1;
  k.position_rate = 1;
  k.nav_platform_model = PEDESTRIAN;
  return k;
}

// The image as the store writes it: every record with its prn, valid ones
// (prn 3, 10, 27) with their CRC words.
void write_image() {
  Alm_image.fill(0);
  for (int prn = 1; prn <= 38; ++prn) {
    ALM_S r{};
    r.prn = static_cast<S16>(prn);
    if (prn == 3 || prn == 10 || prn == 27) {
      r.A = 2.656e7F;
      r.e = 0.01F;
      r.i0 = 0.96F;
      r.M0 = 0.2F * static_cast<F32>(prn);
      r.toa = 319488;
      r.wna = 2300 % 1024;
      r.valid = ALM_VLAID_FROM_DATA;
    }
    U08* rec = Alm_image.data() + 48 * (prn - 1);
    std::memcpy(rec, &r, 48);
    const U16 crc = r.valid != 0 ? crc16(rec, 48) : static_cast<U16>(0);
    std::memcpy(Alm_image.data() + 1824 + 2 * (prn - 1), &crc, 2);
  }
}

class KernelAlmanac : public ::testing::Test {
 protected:
  void SetUp() override {
    Region.fill(0);
    write_image();
    ENDIAN_set_swap_flag(0);
    WRAP_init(0, nullptr);
  }
  void TearDown() override {
    ALM_clear_all();
    KERNEL_close();
    ENDIAN_set_swap_flag(0);
  }
};

TEST_F(KernelAlmanac, StoredImagePassesThroughTheKernel) {
  struct Case {
    const char* name;
    S16 force_cold;
  };
  const std::array<Case, 2> cases = {{{"normal start", 0}, {"cold start", 1}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Region.fill(0);
    const KERNEL_INIT_T k = init_record(c.force_cold);
    KERNEL_init(&k);
    EXPECT_EQ(ALM_get_valid_num(), 3);
    U08* addr = nullptr;
    ASSERT_EQ(ALM_get_address(&addr), 1900);
    EXPECT_EQ(addr, Region.data() + ALM_AT);
    EXPECT_EQ(std::memcmp(addr, Alm_image.data(), 1900), 0);
    // the health piece: nothing known, a valid CRC
    EXPECT_EQ(SVH_has_valid_data(), 0);
    EXPECT_EQ(SVH_get_health(5), SVH_NOT_PRESENT);
    U16 crc = 0;
    std::memcpy(&crc, Region.data() + SVH_AT + 42, 2);
    EXPECT_EQ(crc, crc16(Region.data() + SVH_AT, 42));
    KERNEL_close();
  }
}

TEST_F(KernelAlmanac, ClearingStoredDataWithTheAlmanacFlag) {
  const KERNEL_INIT_T k = init_record(0);
  KERNEL_init(&k);
  ASSERT_EQ(ALM_get_valid_num(), 3);
  KINTERFACE_clear_stored_data(0);
  EXPECT_EQ(ALM_get_valid_num(), 3);
  KINTERFACE_clear_stored_data(1);
  EXPECT_EQ(ALM_get_valid_num(), 0);
  for (int i = 0; i < 38; ++i) {
    U16 crc = 1;
    std::memcpy(&crc, Region.data() + ALM_AT + 1824 + 2 * i, 2);
    EXPECT_EQ(crc, 0) << i;
  }
}

}  // namespace
