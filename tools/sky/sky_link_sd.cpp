// The header of an SD-card log (sd_log.dat) as the target writes it ahead of
// the link stream: the backup memory image, the kernel start record with its
// CRC and the RTC record, every multi-byte field big-endian (the target's
// order). The host's SD-card replay reads it back and starts the kernel with
// the record, so the log carries its own TCXO mode.
#include <cstring>

#include "misc/crc16.h"
#include "misc/pack.h"
#include "misc/start_files.h"
#include "tools/sky/sky_link.h"

namespace {

// Start-record values beside the TCXO mode: those of the host's built-in
// start record, so that a set replays alike in both forms.
constexpr int POWER_SAVING_MODE = 1;
constexpr int NPSE = 6;                           // search engines
constexpr int SBAS_PARA[6] = {1, 2, 8, 1, 2, 7};  // enable, ranging auto, URA mask, corrections, channels, subsystems
constexpr int QZSS_PARA[2] = {1, 1};              // enable, at most one
constexpr int RESET_KERNEL_SETTINGS = 1;          // restore the default settings first
constexpr int GNSS_SELECT_GPS = 1;                // bit 0: GPS
constexpr int POSITION_RATE_HZ = 1;               // fixes per second
constexpr int DOP_MASK[4] = {1, 300, 300, 300};   // auto; PDOP, HDOP, GDOP masks in tenths
constexpr int LEAP_SEC_FROM_FLASH = 16;           // s
constexpr int ELV_CNR_MASK[3] = {1, 5, 0};        // auto; elevation mask deg, C/N0 mask dB-Hz

void put_be16(U08* b, U16 v) {
  b[0] = static_cast<U08>(v >> 8);
  b[1] = static_cast<U08>(v);
}

}  // namespace

int SKY_LINK_kernel_init_record(int tcxo_mode, U08* buf) {
  // Four 32-bit target addresses (0: no user position/time record follows);
  // nine S16 force_warm .. dazar_mode; SBAS and QZSS bytes; the user
  // reference date (four S16, off); reset_kernel_settings, tm_cal_np_enable,
  // gnss_select_bits, position_rate, nav_platform_model, rsvd; the DOP mask;
  // the two 2-D enables; two bytes of padding; clock_offset_from_flash (S32,
  // Hz); leap_sec_from_flash; elv_cnr_select_mode and a padding byte; the
  // elevation and C/N0 masks.
  const int n = pack(buf, "llll sssssssss cccccc cc ssss ssssss ssss ss s l s cc ss",  //
                     0, 0, 0, 0,                                                       // addresses
                     0, 0, POWER_SAVING_MODE, tcxo_mode, 0, 0, NPSE, 0, 0,             // force_warm .. dazar_mode
                     SBAS_PARA[0], SBAS_PARA[1], SBAS_PARA[2], SBAS_PARA[3], SBAS_PARA[4], SBAS_PARA[5],  //
                     QZSS_PARA[0], QZSS_PARA[1],                                                          //
                     0, 0, 0, 0,                                                                          // user date
                     RESET_KERNEL_SETTINGS, 0, GNSS_SELECT_GPS, POSITION_RATE_HZ, 0, 0,                   //
                     DOP_MASK[0], DOP_MASK[1], DOP_MASK[2], DOP_MASK[3],                                  //
                     1, 1,                                                                                // 2-D fixes
                     0,                                                                                   // padding
                     0,                    // clock offset
                     LEAP_SEC_FROM_FLASH,  //
                     ELV_CNR_MASK[0], 0, ELV_CNR_MASK[1], ELV_CNR_MASK[2]);
  return n == SKY_LINK_KERNEL_INIT_SIZE ? n : -1;
}

int SKY_LINK_sd_header(int tcxo_mode, const SKY_RTC_T& rtc, U08* buf, std::size_t cap) {
  if (buf == nullptr || cap < SKY_LINK_SD_HEADER_SIZE || tcxo_mode < 0 || tcxo_mode > 4) return -1;
  std::memset(buf, 0, HOST_IMAGE_SIZE);  // zero backup memory: a cold start
  U08* rec = buf + HOST_IMAGE_SIZE;
  if (SKY_LINK_kernel_init_record(tcxo_mode, rec) < 0) return -1;
  put_be16(rec + SKY_LINK_KERNEL_INIT_SIZE, crc16(rec, SKY_LINK_KERNEL_INIT_SIZE));
  U08* r = rec + SKY_LINK_KERNEL_INIT_SIZE + 2;
  // SAVE_RTC_T: rtc_sec S32, rtc_subsec U32, rtc_wn S16, CRC of those 10 bytes as stored.
  pack(r, "lls", rtc.sec, rtc.subsec, static_cast<int>(rtc.wn));
  put_be16(r + 10, crc16(r, 10));
  return static_cast<int>(SKY_LINK_SD_HEADER_SIZE);
}
