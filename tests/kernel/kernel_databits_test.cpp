// Data bits through a started kernel: the frame-sync callback of the kernel
// hands a sync to the time-count adjustment only within 200 bits of the
// epoch's second, and the subframe-1 week of a 2018 stream settles GPS time
// on a cold start without any stored week.
#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <string>
#include <vector>

#include "host/wrap.h"
#include "kernel/src/backup_layout.h"
#include "kernel/src/kernel.h"
#include "kernel/src/kernel_modules.h"
#include "misc/start_files.h"
#include "tests/kernel/gps_nav_encoder.h"

namespace {

std::array<U08, HOST_IMAGE_SIZE> Region;
std::array<U08, HOST_IMAGE_SIZE> Alm_image;

KERNEL_INIT_T cold_start_record() {
  KERNEL_INIT_T k{};
  k.backup_mem_p = Region.data();
  k.nvram_alm_mem_p = Alm_image.data();
  k.force_cold = 1;
  k.tcxo_freq_mode = 4;
  k.npse = 6;
  k.gnss_select_bits = 1;
  k.position_rate = 1;
  k.nav_platform_model = PEDESTRIAN;
  return k;
}

// Encoded frames from TOW count t0 (a multiple of 5) carrying the 10-bit week wn10.
gpsenc::Encoded frames(gpsenc::U32 t0, int n, gpsenc::U32 wn10) {
  gpsenc::Encoded e;
  for (int f = 0; f < n; ++f)
    for (int sfid = 1; sfid <= 5; ++sfid) {
      gpsenc::Lcg r{static_cast<std::uint64_t>(sfid <= 3 ? sfid : 10 * f + sfid)};
      const gpsenc::U32 t = t0 + 5u * static_cast<gpsenc::U32>(f);
      gpsenc::append_subframe(e, gpsenc::make_subframe(sfid, t + static_cast<gpsenc::U32>(sfid), wn10, 0x21, 1, r));
    }
  return e;
}

class KernelDataBits : public ::testing::Test {
 protected:
  void SetUp() override {
    Region.fill(0);
    Alm_image.fill(0);
    WRAP_init(0, nullptr);
    const KERNEL_INIT_T k = cold_start_record();
    ASSERT_EQ(KERNEL_init(&k), 0);  // no receiver state: a cold start
    dbc = DBC_new(0);
    ASSERT_NE(dbc, nullptr);
  }
  void TearDown() override { KERNEL_close(); }
  // Bits from `from` in batches of 30, bit j at track bit count base + j
  // (the channel's bit count at the epoch is 0); stops after the first frame
  // sync when `until_sync`.
  void feed(const std::vector<int>& bits, std::size_t from, S32 base, bool until_sync) {
    for (std::size_t j = from; j + 30 <= bits.size(); j += 30) {
      gpsenc::U32 v = 0;
      for (std::size_t k = 0; k < 30; ++k) v = (v << 1) | static_cast<gpsenc::U32>(bits[j + k]);
      if (DBC_collect(dbc, v, base + static_cast<S32>(j + 30)) && until_sync) return;
    }
  }
  DBCollect_T dbc = nullptr;
};

struct WindowCase {
  const char* name;
  S32 dbitcnt;  // bits from the epoch's second to the synced subframe's first bit
  bool accepted;
};
void PrintTo(const WindowCase& c, std::ostream* os) { *os << c.name; }
class KernelFrameSyncWindow : public KernelDataBits, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(KernelFrameSyncWindow, OnlyWithin200BitsOfTheEpoch) {
  const WindowCase& c = GetParam();
  GTCADJ_update_raw_gtc(0, 1234.0);  // the epoch: raw second 1234, millisecond 0
  const gpsenc::Encoded e = frames(50000, 2, 2400 % 1024);
  const std::vector<int> bits = gpsenc::bits_of(e, false);
  // Sync on subframe 2 (bit 300): its first bit has track count base + 300.
  feed(bits, 5, c.dbitcnt - 300, true);
  S32 fs_tow = 0;
  S32 fs_bitcnt = 0;
  ASSERT_EQ(DBC_get_frame_sync_result(dbc, &fs_tow, &fs_bitcnt), 1);
  EXPECT_EQ(fs_tow, 50000 * 6 + 6);
  EXPECT_EQ(fs_bitcnt, c.dbitcnt);
  EXPECT_EQ(GTCADJ_get_gtc_tow_adjust_type(), c.accepted ? GTCADJ_CONFIRMED : 0);
  if (!c.accepted) return;
  S16 wn = 0;
  D64 tow = 0.0;
  GTCADJ_get_adjusted_gtc(&wn, &tow);
  // GPS second at the epoch: the subframe's time less the bits between, 50 a second.
  EXPECT_DOUBLE_EQ(tow, fs_tow - c.dbitcnt / 50.0);
}

INSTANTIATE_TEST_SUITE_P(Kernel, KernelFrameSyncWindow,
                         ::testing::Values(WindowCase{"at_the_epoch", 0, true}, WindowCase{"200_bits_after", 200, true},
                                           WindowCase{"200_bits_before", -200, true},
                                           WindowCase{"201_bits_after", 201, false},
                                           WindowCase{"201_bits_before", -201, false},
                                           WindowCase{"a_frame_later", 1500, false}),
                         [](const ::testing::TestParamInfo<WindowCase>& i) { return std::string(i.param.name); });

class KernelOldLog : public KernelDataBits, public ::testing::WithParamInterface<bool> {};

// A stream from June 2018 (week 2005), replayed on a cold start with no stored
// week: GPS time comes out in 2018, both polarities.
TEST_P(KernelOldLog, A2018StreamWithoutAStoredWeek) {
  const bool inverted = GetParam();
  GTCADJ_update_raw_gtc(0, 1234.0);
  const gpsenc::Encoded e = frames(60000, 3, 2005 % 1024);
  const std::vector<int> bits = gpsenc::bits_of(e, inverted);
  feed(bits, 5, -300, false);  // the subframe-2 sync lies at the epoch's second
  S16 wn = 0;
  D64 tow = 0.0;
  EXPECT_EQ(GTCADJ_get_adjusted_gtc(&wn, &tow), 1);
  EXPECT_EQ(wn, 2005);
  EXPECT_DOUBLE_EQ(tow, 60000 * 6 + 6);
  EXPECT_EQ(GTCADJ_get_gtc_wn_adjust_type(), GTCADJ_CONFIRMED);
  EXPECT_EQ(GTCADJ_get_gtc_tow_adjust_type(), GTCADJ_CONFIRMED);
}

INSTANTIATE_TEST_SUITE_P(Kernel, KernelOldLog, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) {
                           return std::string(i.param ? "inverted" : "upright");
                         });

}  // namespace
