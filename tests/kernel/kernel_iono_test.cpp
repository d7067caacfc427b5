// Ionospheric parameters through a started kernel: the record at its fixed
// place in the backup image (offset 128) is restored in both byte orders on
// every start mode, an image of the wrong order restores nothing, clearing
// the stored data invalidates it, and a page 18 decoded while the kernel
// runs lands in the image at that place with its CRC.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "host/wrap.h"
#include "kernel/backup_image.h"
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
constexpr U32 COR_AT = 128;  // the ionosphere piece's offset in the image

// alpha0..3 (s, s/sc, s/sc^2, s/sc^3) and beta0..3 (s, s/sc, s/sc^2, s/sc^3).
constexpr std::array<F32, 4> ALPHA = {1.0244548e-08F, 2.2351742e-08F, -5.9604645e-08F, -1.1920929e-07F};
constexpr std::array<S32, 4> BETA = {88064, 32768, -131072, -196608};

void write_cor(bool big_endian) {
  U08* p = Region.data() + COR_AT;
  for (std::size_t i = 0; i < 4; ++i) {
    kernel_test::put(p + 4 * i, ALPHA[i], big_endian);
    kernel_test::put(p + 16 + 4 * i, BETA[i], big_endian);
  }
  kernel_test::put(p + 32, crc16(p, 32), big_endian);
}

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

class KernelIono : public ::testing::Test {
 protected:
  void SetUp() override {
    Region.fill(0);
    Alm_image.fill(0);
    ENDIAN_set_swap_flag(0);
    WRAP_init(0, nullptr);
  }
  void TearDown() override {
    KERNEL_close();
    ENDIAN_set_swap_flag(0);
  }
};

TEST_F(KernelIono, RecordRestoredAtStart) {
  const bool host_big = std::endian::native == std::endian::big;
  struct Case {
    const char* name;
    bool target_order;   // image written big-endian and the swap flag set
    bool image_matches;  // the image really is in that order
    S16 force_cold;
    bool valid;
  };
  const std::vector<Case> cases = {
      {"host order, normal start", false, true, 0, true},
      {"host order, cold start", false, true, 1, true},
      {"target order, normal start", true, true, 0, true},
      {"target order, cold start", true, true, 1, true},
      {"host-order image read as target order", true, false, 0, false},
  };
  for (const Case& c : cases) {
    Region.fill(0);
    const bool big = c.image_matches ? c.target_order || host_big : host_big;
    write_cor(big);
    ENDIAN_set_swap_flag(c.target_order && !host_big ? 1 : 0);
    WRAP_init(0, nullptr);
    const KERNEL_INIT_T k = init_record(c.force_cold);
    KERNEL_init(&k);
    COR_T got{};
    ASSERT_EQ(COR_get_ionospheric_parameters(&got), c.valid ? 1 : 0) << c.name;
    if (c.valid) {
      for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(got.a[i], ALPHA[i]) << c.name;
        EXPECT_EQ(got.b[i], BETA[i]) << c.name;
      }
      const LLA_T lla{0.6, 2.4, 0.0F};
      EXPECT_GT(COR_ionospheric_model(50000, 0.5F, 1.0F, &lla), 0.0F) << c.name;
    }
    KERNEL_close();
  }
}

TEST_F(KernelIono, ClearingStoredDataInvalidatesTheRecord) {
  write_cor(std::endian::native == std::endian::big);
  const KERNEL_INIT_T k = init_record(0);
  KERNEL_init(&k);
  COR_T got{};
  ASSERT_EQ(COR_get_ionospheric_parameters(&got), 1);
  KINTERFACE_clear_stored_data(0);
  EXPECT_EQ(COR_get_ionospheric_parameters(&got), 0);
  U16 crc = 1;
  std::memcpy(&crc, Region.data() + COR_AT + 32, 2);
  EXPECT_EQ(crc, 0);
}

// Page 18 (polarity corrected words, D1 at bit 29): alpha0..3 raw 11, 3, -1,
// -2; beta0..3 raw 43, 2, -2, -3. Stored in the image with its CRC.
TEST_F(KernelIono, Page18IsStoredInTheImage) {
  const KERNEL_INIT_T k = init_record(1);
  KERNEL_init(&k);
  COR_T got{};
  ASSERT_EQ(COR_get_ionospheric_parameters(&got), 0);
  auto w = [](U32 d24) { return (d24 & 0xFFFFFFU) << 6; };
  std::array<U32, 10> words{};
  words[2] = w((1U << 22) | (56U << 16) | (11U << 8) | 3U);
  words[3] = w((0xFFU << 16) | (0xFEU << 8) | 43U);
  words[4] = w((2U << 16) | (0xFEU << 8) | 0xFDU);
  COR_update_ionospheric_parameter(words.data());
  ASSERT_EQ(COR_get_ionospheric_parameters(&got), 1);
  EXPECT_EQ(got.a[0], std::ldexp(11.0F, -30));
  EXPECT_EQ(got.a[3], std::ldexp(-2.0F, -24));
  EXPECT_EQ(got.b[0], 43 * 2048);
  EXPECT_EQ(got.b[3], -3 * 65536);
  const U08* p = Region.data() + COR_AT;
  U16 crc = 0;
  std::memcpy(&crc, p + 32, 2);
  EXPECT_EQ(crc, crc16(p, 32));
  COR_T stored{};
  std::memcpy(&stored, p, 32);
  EXPECT_EQ(std::memcmp(&stored, &got, 32), 0);
}

}  // namespace
