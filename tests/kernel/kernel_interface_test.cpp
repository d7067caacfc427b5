// Kernel interface and the start record's settings: versions, clock offset
// conversions, output satellite ids, what KERNEL_init hands to the settings,
// and the operations that reach the backup memory and the timing module.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "host/wrap.h"
#include "kernel/src/kernel.h"
#include "kernel/src/kernel_backup.h"
#include "kernel/src/kernel_interface.h"
#include "kernel/src/settings.h"
#include "misc/crc16.h"
#include "misc/endian_swap.h"

namespace {

std::array<U08, 20480> Region;

KERNEL_INIT_T init_record() {
  KERNEL_INIT_T k{};
  k.backup_mem_p = Region.data();
  k.power_saving_mode = 0;
  k.tcxo_freq_mode = 4;
  k.tcxo_ppm = 2;
  k.npse = 6;
  k.pse_duty_power_mode = 3;
  k.sbas_para = SBAS_PARAMETER_T{0, SBAS_RANGING_MODE_ENABLE, 4, 0, 3, 5};
  k.qzss_para = QZSS_PARAMETER_T{0, 2};
  k.usr_in_time_sync = USER_INPUT_TIME_SYNC_T{1, 2024, 5, 17};
  k.reset_kernel_settings = 1;
  k.tm_cal_np_enable = 1;
  k.gnss_select_bits = 1;
  k.position_rate = 5;
  k.nav_platform_model = CAR;
  k.dop_mask = KERNEL_INIT_DOP_MASK_T{DOP_MASK_PDOP_ONLY, 125, 80, 300};
  k.enable_2D_navigation_at_first_pos_fix = 0;
  k.enable_2D_navigation_after_first_pos_fix = 1;
  k.elv_cnr_mask = ELV_CNR_MASK_T{ELV_CNR_MASK_ELV_ONLY, 10, 30};
  return k;
}

class KernelInterface : public ::testing::Test {
 protected:
  void SetUp() override {
    Region.fill(0);
    ENDIAN_set_swap_flag(0);
    WRAP_init(0, nullptr);
    const KERNEL_INIT_T k = init_record();
    ASSERT_EQ(KERNEL_init(&k), 0);
  }
  void TearDown() override { KERNEL_close(); }
};

TEST_F(KernelInterface, VersionAndConversions) {
  EXPECT_EQ(KINTERFACE_get_major_version(), 2u);
  EXPECT_EQ(KINTERFACE_get_minor_version(), 0u);
  EXPECT_EQ(KINTERFACE_get_revision(), 55u);
  // Drift (m/s) to Hz at L1, negated and truncated: -100 m/s is 525.5 Hz.
  EXPECT_EQ(KINTERFACE_drift_to_clock_offset(-100.0f), 525);
  EXPECT_EQ(KINTERFACE_drift_to_clock_offset(-1.0f), 5);
  EXPECT_EQ(KINTERFACE_drift_to_clock_offset(100.0f), -525);
  S32 offset = 7;
  EXPECT_EQ(KINTERFACE_get_run_time_clock_offset(&offset), 0);  // no fix yet
  EXPECT_EQ(offset, 7);
}

TEST_F(KernelInterface, OutputSatelliteIds) {
  struct Case {
    U16 type;
    S16 id, out;
  };
  const Case cases[] = {
      {GNSS_TYPE_GPS, 5, 5},     {GNSS_TYPE_GPS, 33, 193},  {GNSS_TYPE_GPS, 37, 197},  {GNSS_TYPE_GPS, 38, 38},
      {GNSS_TYPE_SBAS, 120, 33}, {GNSS_TYPE_SBAS, 129, 42}, {GNSS_TYPE_SBAS, 139, 52}, {GNSS_TYPE_GLONASS, 5, 5},
  };
  for (const Case& c : cases) EXPECT_EQ(KINTERFACE_map_output_svid(c.type, c.id), c.out) << c.type << " " << c.id;
  std::array<S16, 20> ids{};
  EXPECT_EQ(get_show_fix_svids(GNSS_TYPE_GPS, ids.data()), 0);  // no channel in a fix yet
}

TEST_F(KernelInterface, StartRecordReachesTheSettings) {
  EXPECT_EQ(SETTINGS_is_power_saving_enabled(), 0);
  EXPECT_EQ(SETTINGS_get_pse_duty_cycle_mode(), 3);
  EXPECT_EQ(SETTINGS_get_number_of_gps_PSE(), 6);
  EXPECT_EQ(SETTINGS_get_number_of_glonass_PSE(), 0);  // not supported: stays 0
  EXPECT_EQ(SETTINGS_get_tcxo_ppm_type(), 2);
  EXPECT_EQ(SETTINGS_get_tm_cal_noise_power_enable(), 1);
  EXPECT_EQ(SETTINGS_get_n_hz_position_rate(), 5);
  EXPECT_EQ(SETTINGS_get_nav_gnss_type_bits(), 1);
  SBAS_PARAMETER_T sbas{};
  KINTERFACE_get_sbas_para(&sbas);
  EXPECT_EQ(sbas.ranging_enable_disable, SBAS_RANGING_MODE_ENABLE);
  EXPECT_EQ(sbas.subsystem_mask, 5);
  EXPECT_EQ(SETTINGS_get_sbas_ranging_mode(), 0);  // SBAS disabled
  QZSS_PARAMETER_T qzss{};
  KINTERFACE_get_qzss_para(&qzss);
  EXPECT_EQ(qzss.qzss_max_num, 2);
  USER_INPUT_TIME_SYNC_T sync{};
  KINTERFACE_get_ref_time_to_sync_gps_time(&sync);
  EXPECT_EQ(sync.year, 2024);
  EXPECT_EQ(sync.day, 17);
  // DOP masks in tenths become F32 masks.
  DOP_MASK_T dop{};
  SETTINGS_get_dop_mask(&dop);
  EXPECT_EQ(dop.dop_mask_mode, DOP_MASK_PDOP_ONLY);
  EXPECT_FLOAT_EQ(dop.pdop_mask, 12.5f);
  EXPECT_FLOAT_EQ(dop.hdop_mask, 8.0f);
  EXPECT_FLOAT_EQ(dop.gdop_mask, 30.0f);
  S16 at_first = -1, after_first = -1;
  SETTINGS_get_2d_navigation_mask(&at_first, &after_first);
  EXPECT_EQ(at_first, 0);
  EXPECT_EQ(after_first, 1);
  ELV_CNR_MASK_T mask{};
  SETTINGS_get_elv_cnr_mask(&mask);
  EXPECT_EQ(mask.elv_mask, 10);
  EXPECT_EQ(mask.cnr_mask, 30);
  EXPECT_EQ(KINTERFACE_get_navigation_platform_model(), CAR);

  // A position rate of 0 keeps the stored rate; an unsupported one (3) too.
  KERNEL_INIT_T k = init_record();
  k.reset_kernel_settings = 0;
  k.position_rate = 0;
  KERNEL_init(&k);
  EXPECT_EQ(SETTINGS_get_n_hz_position_rate(), 5);
  k.position_rate = 3;
  KERNEL_init(&k);
  EXPECT_EQ(SETTINGS_get_n_hz_position_rate(), 5);
  k.reset_kernel_settings = 1;
  k.position_rate = 0;
  KERNEL_init(&k);
  EXPECT_EQ(SETTINGS_get_n_hz_position_rate(), 1);  // defaults first
}

TEST_F(KernelInterface, OperationsOnSettingsAndModules) {
  KINTERFACE_set_navigation_platform_model(AIRBORNE);
  EXPECT_EQ(KINTERFACE_get_navigation_platform_model(), AIRBORNE);
  KINTERFACE_set_navigation_platform_model(6);  // not a model: ignored
  EXPECT_EQ(KINTERFACE_get_navigation_platform_model(), AIRBORNE);
  KINTERFACE_enable_power_saving(1);
  EXPECT_EQ(KINTERFACE_is_enable_power_saving(), 1);
  EXPECT_EQ(SETTINGS_is_power_saving_enabled(), 1);
  KINTERFACE_set_tm_cal_noise_power_enable(0);
  EXPECT_EQ(KINTERFACE_is_enable_tm_cal_noise_power(), 0);
  KINTERFACE_set_pps_cable_delay(-1500);
  KINTERFACE_set_pps_width(200);
  EXPECT_EQ(KINTERFACE_get_pps_cable_delay(), -1500);
  EXPECT_EQ(KINTERFACE_get_pps_pps_width(), 200u);
  EXPECT_EQ(SETTINGS_get_pps_cable_delay(), -1500);
  D64 dlat = 1.0, dlon = 1.0;
  F32 dalt = 1.0f;
  EXPECT_EQ(KINTERFACE_get_datum_offset_from_wgs84(&dlat, &dlon, &dalt), 1);
  EXPECT_EQ(dlat, 0.0);
  EXPECT_EQ(dalt, 0.0f);
  EXPECT_EQ(KINTERFACE_is_enable_dazar(), 0);
  EXPECT_EQ(KINTERFACE_get_pps_output_mode(), 0);
}

TEST_F(KernelInterface, ClockOffsetAndStoredDataInBackupMemory) {
  S32 offset = 0;
  EXPECT_EQ(KINTERFACE_get_reliable_clock_offset_from_backup_sram(&offset), 0);
  EXPECT_EQ(KINTERFACE_set_reliable_clock_offset_in_backup_sram(-321), 1);
  EXPECT_EQ(KINTERFACE_get_reliable_clock_offset_from_backup_sram(&offset), 1);
  EXPECT_EQ(offset, -321);
  // The clock record sits at offset 112 of the region with its CRC at 120.
  U16 crc = 0;
  std::memcpy(&crc, Region.data() + 120, 2);
  EXPECT_EQ(crc, crc16(Region.data() + 112, 8));

  KBACKUP_STATE_IN_T s{};
  s.gps_tow = 1000.0;
  s.gps_wn = 2300;
  s.rtc_gps_ratio = 1.0;
  KBACKUP_store_time_and_position(&s);
  KBACKUP_T state{};
  EXPECT_EQ(KBACKUP_get_receiver_states(&state), 1);
  KINTERFACE_clear_stored_data(1);
  EXPECT_EQ(KBACKUP_get_receiver_states(&state), 0);
  EXPECT_EQ(KINTERFACE_get_reliable_clock_offset_from_backup_sram(&offset), 1);  // the clock record stays
}

}  // namespace
