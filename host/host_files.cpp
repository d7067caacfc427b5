// Start-up and log files. Every file is read and written byte by byte in its
// stated order, never as a memory image of a structure.
//
// The field-by-field decoding of the SD-card kernel initialisation record
// comes with issue 5; until then such a record is skipped and the built-in
// initialisation is used.
#include "host/host_files.h"

#include <array>
#include <cstring>

#include "host/wrap.h"
#include "misc/crc16.h"

namespace {

std::array<U08, HOST_IMAGE_SIZE> Backup_region{};
std::array<U08, HOST_IMAGE_SIZE> Alm_nvram_block{};
KERNEL_INIT_T Sd_kernel_init_data{};
S16 Has_valid_sd_kernel_init_data = 0;

constexpr std::array<U08, 4> RB_BASE_MARKER = {0x12, 0x34, 0x56, 0x78};
constexpr std::array<U08, 4> RB_ROVER_MARKER = {0x78, 0x56, 0x34, 0x12};

// Read up to `size` bytes of a file into `dst`; 1 when the file could be opened.
int read_image(const char* name, U08* dst, std::size_t size) {
  std::FILE* fp = std::fopen(name, "rb");
  if (fp == nullptr) return 0;
  (void)std::fread(dst, 1, size, fp);  // a short image leaves the rest as it was
  std::fclose(fp);
  return 1;
}

void write_image(const char* name, const U08* src, std::size_t size) {
  std::FILE* fp = std::fopen(name, "wb");
  if (fp == nullptr) return;
  (void)std::fwrite(src, 1, size, fp);
  std::fclose(fp);
}

// SAVE_RTC_T: rtc_sec S32 @0, rtc_subsec U32 @4, rtc_wn S16 @8, crc U16 @10.
struct SAVE_RTC_T {
  S32 rtc_sec;
  U32 rtc_subsec;
  S16 rtc_wn;
  U16 crc;
};

U32 get_u32(const U08* b, bool big) {
  return big ? (U32{b[0]} << 24) | (U32{b[1]} << 16) | (U32{b[2]} << 8) | U32{b[3]}
             : (U32{b[3]} << 24) | (U32{b[2]} << 16) | (U32{b[1]} << 8) | U32{b[0]};
}
U16 get_u16(const U08* b, bool big) {
  return big ? static_cast<U16>((b[0] << 8) | b[1]) : static_cast<U16>((b[1] << 8) | b[0]);
}
void put_u32_le(U08* b, U32 v) {
  for (int i = 0; i < 4; ++i) b[i] = static_cast<U08>(v >> (8 * i));
}
void put_u16_le(U08* b, U16 v) {
  b[0] = static_cast<U08>(v);
  b[1] = static_cast<U08>(v >> 8);
}

SAVE_RTC_T decode_save_rtc(const U08* b, bool big) {
  return SAVE_RTC_T{static_cast<S32>(get_u32(b, big)), get_u32(b + 4, big), static_cast<S16>(get_u16(b + 8, big)),
                    get_u16(b + 10, big)};
}

void encode_save_rtc_le(U08* b, S16 wn, S32 sec, U32 subsec) {
  put_u32_le(b, static_cast<U32>(sec));
  put_u32_le(b + 4, subsec);
  put_u16_le(b + 8, static_cast<U16>(wn));
  put_u16_le(b + 10, crc16(b, 10));
}

}  // namespace

U08* HOST_get_backup_region() { return Backup_region.data(); }
U08* HOST_get_alm_nvram_block() { return Alm_nvram_block.data(); }
const KERNEL_INIT_T* HOST_get_sd_kernel_init_data() {
  return Has_valid_sd_kernel_init_data ? &Sd_kernel_init_data : nullptr;
}

void load_logging_init_file() {
  if (read_image("log_save.dat", Backup_region.data(), Backup_region.size()))
    write_image("log_init.dat", Backup_region.data(), Backup_region.size());
}

void init_nvram_block_file_in_log_mode() {
  if (read_image("flash_save.alm", Alm_nvram_block.data(), Alm_nvram_block.size()))
    write_image("flash.alm", Alm_nvram_block.data(), Alm_nvram_block.size());
}

void save_init_file() { write_image("log_save.dat", Backup_region.data(), Backup_region.size()); }

void save_nvram_block_file_in_log_mode() {
  write_image("flash_save.alm", Alm_nvram_block.data(), Alm_nvram_block.size());
}

void write_sd_convert_init_files() { write_image("log_init.dat", Backup_region.data(), Backup_region.size()); }

void load_replay_init_file() {
  std::FILE* fp = std::fopen("rtc_data.dat", "rb");
  if (fp != nullptr) {
    std::array<U08, SAVE_RTC_SIZE> b{};
    if (std::fread(b.data(), 1, b.size(), fp) == b.size()) {
      const SAVE_RTC_T r = decode_save_rtc(b.data(), false);
      if (crc16(b.data(), 10) == r.crc) WRAP_set_asic_rtc(r.rtc_wn, r.rtc_sec, r.rtc_subsec);
    }
    std::fclose(fp);
  }
  read_image("log_init.dat", Backup_region.data(), Backup_region.size());
  read_image("flash.alm", Alm_nvram_block.data(), Alm_nvram_block.size());
}

S16 write_rtc_data_file(S16 rtc_wn, S32 rtc_sec, U32 rtc_subsec) {
  std::array<U08, SAVE_RTC_SIZE> b{};
  encode_save_rtc_le(b.data(), rtc_wn, rtc_sec, rtc_subsec);
  std::FILE* fp = std::fopen("rtc_data.dat", "wb");
  if (fp == nullptr) return 0;
  const bool ok = std::fwrite(b.data(), 1, b.size(), fp) == b.size();
  return (std::fclose(fp) == 0 && ok) ? 1 : 0;
}

S16 init_sd_replay_data(std::FILE* fp, int sd_convert) {
  if (std::fread(Backup_region.data(), 1, Backup_region.size(), fp) != Backup_region.size()) return 0;
  // KERNEL_INIT_T (88 bytes, big-endian, 32-bit addresses) and its CRC. The
  // fourth address (bytes 12..15) says whether a position/time record follows.
  Has_valid_sd_kernel_init_data = 0;
  std::array<U08, 90> init_rec{};
  if (std::fread(init_rec.data(), 1, init_rec.size(), fp) == init_rec.size()) {
    if (get_u32(init_rec.data() + 12, true) != 0) {
      std::array<U08, 50> pos_rec{};
      (void)std::fread(pos_rec.data(), 1, pos_rec.size(), fp);
    }
  }
  std::array<U08, SAVE_RTC_SIZE> b{};
  if (std::fread(b.data(), 1, b.size(), fp) != b.size()) return 0;
  const SAVE_RTC_T r = decode_save_rtc(b.data(), true);
  if (crc16(b.data(), 10) != r.crc) return 1;  // no RTC time for the target proxy
  WRAP_set_asic_rtc(r.rtc_wn, r.rtc_sec, r.rtc_subsec);
  if (!sd_convert) return 1;
  return write_rtc_data_file(r.rtc_wn, r.rtc_sec, r.rtc_subsec);
}

S16 write_rb_record(std::FILE* fp, int is_base, const char* buf, int len) {
  if (fp == nullptr || len <= 0 || len > 0xFFFF) return 0;
  const std::array<U08, 4>& marker = is_base ? RB_BASE_MARKER : RB_ROVER_MARKER;
  const U08 hdr[6] = {marker[0], marker[1], marker[2], marker[3], static_cast<U08>(len >> 8),
                      static_cast<U08>(len & 0xFF)};
  if (std::fwrite(hdr, 1, sizeof hdr, fp) != sizeof hdr) return 0;
  return std::fwrite(buf, 1, static_cast<std::size_t>(len), fp) == static_cast<std::size_t>(len) ? 1 : 0;
}
