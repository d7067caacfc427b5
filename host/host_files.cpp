// Start-up and log files. Every file is read and written byte by byte in its
// stated order, never as a memory image of a structure.
#include "host/host_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iterator>

#include "host/wrap.h"
#include "kernel/src/kernel.h"
#include "misc/crc16.h"
#include "misc/endian_swap.h"

namespace {

std::array<U08, HOST_IMAGE_SIZE> Backup_region{};
std::array<U08, HOST_IMAGE_SIZE> Alm_nvram_block{};
KERNEL_INIT_T Sd_kernel_init_data{};
KERNEL_INIT_POS_TIME_T Sd_kernel_init_pos_time{};
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

// The first output fault of the run (see HOST_note_output_fault).
struct OUTPUT_FAULT_T {
  const char* name = nullptr;  // null: none
  const char* what = nullptr;
  int err = 0;
};
OUTPUT_FAULT_T Output_fault{};

// Write a whole file `name` from `size` bytes of `src`. 1 when written and
// closed; 0 after an output fault (noted).
S16 write_image(const char* name, const U08* src, std::size_t size) {
  std::FILE* fp = std::fopen(name, "wb");
  if (fp == nullptr) {
    HOST_note_output_fault(name, "create", errno);
    return 0;
  }
  const bool written = std::fwrite(src, 1, size, fp) == size;
  const int write_err = errno;
  const bool closed = std::fclose(fp) == 0;
  if (written && closed) return 1;
  HOST_note_output_fault(name, "write", written ? errno : write_err);
  return 0;
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

// KERNEL_INIT_T as the target keeps it in memory and in the SD-card log:
// 88 bytes, natural alignment, 32-bit addresses, big-endian.
struct KERNEL_INIT_LAYOUT_T {
  U16 backup_mem_p = 0, nvram_alm_mem_p = 4, nvram_alm_const_mem_p = 8, init_pos_p = 12;
  U16 force_warm = 16;        // nine S16 from force_warm to dazar_mode
  U16 sbas_para = 34;         // six U08
  U16 qzss_para = 40;         // two U08
  U16 usr_in_time_sync = 42;  // four S16
  U16 reset_kernel_settings = 50, tm_cal_np_enable = 52, gnss_select_bits = 54, position_rate = 56;
  U16 nav_platform_model = 58, rsvd = 60;
  U16 dop_mask = 62;  // S16 then three U16
  U16 enable_2D_at_first = 70, enable_2D_after_first = 72;
  U16 clock_offset_from_flash = 76;  // after two bytes of padding
  U16 leap_sec_from_flash = 80;
  U16 elv_cnr_select_mode = 82, elv_mask = 84, cnr_mask = 86;
};
constexpr KERNEL_INIT_LAYOUT_T KINIT_OFF{};

// KERNEL_INIT_POS_TIME_T: 48 bytes.
struct KERNEL_INIT_POS_TIME_LAYOUT_T {
  U16 lat_deg = 0, lon_deg = 8, alt = 16, time_format_select = 24, wn = 26, tow = 28;
  U16 year = 32;  // year, month, day, hour, minute, sec: six U16
  U16 rsvd = 44;
};
constexpr KERNEL_INIT_POS_TIME_LAYOUT_T KPOS_OFF{};

// The record's multi-byte fields are loaded as the bytes lie in the file
// (the target's order) and then converted by the kernel's own byte-order
// conversion, which reverses them; this host is little-endian.
static_assert(std::endian::native == std::endian::little, "SD-card records are converted for a little-endian host");

template <typename T>
void load_raw(const U08* rec, U16 off, T* dst) {
  std::memcpy(dst, rec + off, sizeof(T));
}

// Decode the 88-byte record into *k. The addresses in the file are target
// addresses and are never kept: the three memory addresses become null, and
// the position/time address only says whether that record follows.
// Returns whether it follows.
bool decode_kernel_init(const U08* rec, KERNEL_INIT_T* k) {
  *k = KERNEL_INIT_T{};
  S16* s16_run[] = {&k->force_warm, &k->force_cold, &k->power_saving_mode,   &k->tcxo_freq_mode, &k->rf_bit_mode,
                    &k->tcxo_ppm,   &k->npse,       &k->pse_duty_power_mode, &k->dazar_mode};
  for (std::size_t i = 0; i < std::size(s16_run); ++i)
    load_raw(rec, static_cast<U16>(KINIT_OFF.force_warm + 2 * i), s16_run[i]);
  SBAS_PARAMETER_T& sb = k->sbas_para;
  U08* sbas_bytes[] = {&sb.sbas_enable_disable,       &sb.ranging_enable_disable,   &sb.ranging_ura_mask,
                       &sb.correction_enable_disable, &sb.num_of_tracking_channels, &sb.subsystem_mask};
  for (std::size_t i = 0; i < std::size(sbas_bytes); ++i) *sbas_bytes[i] = rec[KINIT_OFF.sbas_para + i];
  k->qzss_para.qzss_enable_disable = rec[KINIT_OFF.qzss_para];
  k->qzss_para.qzss_max_num = rec[KINIT_OFF.qzss_para + 1];
  USER_INPUT_TIME_SYNC_T& u = k->usr_in_time_sync;
  S16* sync[] = {&u.enable_disable, &u.year, &u.month, &u.day};
  for (std::size_t i = 0; i < std::size(sync); ++i)
    load_raw(rec, static_cast<U16>(KINIT_OFF.usr_in_time_sync + 2 * i), sync[i]);
  load_raw(rec, KINIT_OFF.reset_kernel_settings, &k->reset_kernel_settings);
  load_raw(rec, KINIT_OFF.tm_cal_np_enable, &k->tm_cal_np_enable);
  load_raw(rec, KINIT_OFF.gnss_select_bits, &k->gnss_select_bits);
  load_raw(rec, KINIT_OFF.position_rate, &k->position_rate);
  load_raw(rec, KINIT_OFF.nav_platform_model, &k->nav_platform_model);
  load_raw(rec, KINIT_OFF.rsvd, &k->rsvd);
  load_raw(rec, KINIT_OFF.dop_mask, &k->dop_mask.mask_mode_S16);
  load_raw(rec, static_cast<U16>(KINIT_OFF.dop_mask + 2), &k->dop_mask.pdop_mask_U16);
  load_raw(rec, static_cast<U16>(KINIT_OFF.dop_mask + 4), &k->dop_mask.hdop_mask_U16);
  load_raw(rec, static_cast<U16>(KINIT_OFF.dop_mask + 6), &k->dop_mask.gdop_mask_U16);
  load_raw(rec, KINIT_OFF.enable_2D_at_first, &k->enable_2D_navigation_at_first_pos_fix);
  load_raw(rec, KINIT_OFF.enable_2D_after_first, &k->enable_2D_navigation_after_first_pos_fix);
  load_raw(rec, KINIT_OFF.clock_offset_from_flash, &k->clock_offset_from_flash);
  load_raw(rec, KINIT_OFF.leap_sec_from_flash, &k->leap_sec_from_flash);
  k->elv_cnr_mask.elv_cnr_select_mode = rec[KINIT_OFF.elv_cnr_select_mode];
  load_raw(rec, KINIT_OFF.elv_mask, &k->elv_cnr_mask.elv_mask);
  load_raw(rec, KINIT_OFF.cnr_mask, &k->elv_cnr_mask.cnr_mask);
  KERNEL_init_data_endian_conversion(k);
  return get_u32(rec + KINIT_OFF.init_pos_p, true) != 0;
}

void decode_kernel_init_pos_time(const U08* rec, KERNEL_INIT_POS_TIME_T* p) {
  *p = KERNEL_INIT_POS_TIME_T{};
  load_raw(rec, KPOS_OFF.lat_deg, &p->lat_deg);
  load_raw(rec, KPOS_OFF.lon_deg, &p->lon_deg);
  load_raw(rec, KPOS_OFF.alt, &p->alt);
  load_raw(rec, KPOS_OFF.time_format_select, &p->time_format_select);
  load_raw(rec, KPOS_OFF.wn, &p->wn);
  load_raw(rec, KPOS_OFF.tow, &p->tow);
  U16* cal[] = {&p->year, &p->month, &p->day, &p->hour, &p->minute, &p->sec};
  for (std::size_t i = 0; i < std::size(cal); ++i) load_raw(rec, static_cast<U16>(KPOS_OFF.year + 2 * i), cal[i]);
  load_raw(rec, KPOS_OFF.rsvd, &p->rsvd);
  KERNEL_init_pos_time_endian_conversion(p);
  ENDIAN_swap_U32(&p->rsvd);
}

// Fields that the kernel uses as table indices must lie inside their tables.
bool kernel_init_is_sane(const KERNEL_INIT_T& k) {
  return k.tcxo_freq_mode >= 0 && k.tcxo_freq_mode <= SD_MAX_TCXO_FREQ_MODE && k.nav_platform_model >= 0 &&
         k.nav_platform_model < N_NAV_MODELS && k.npse >= 0 && k.npse <= SD_MAX_NPSE;
}

}  // namespace

U08* HOST_get_backup_region() { return Backup_region.data(); }
U08* HOST_get_alm_nvram_block() { return Alm_nvram_block.data(); }
const KERNEL_INIT_T* HOST_get_sd_kernel_init_data() {
  return Has_valid_sd_kernel_init_data ? &Sd_kernel_init_data : nullptr;
}

void HOST_note_output_fault(const char* name, const char* what, int err) {
  if (Output_fault.name == nullptr) Output_fault = OUTPUT_FAULT_T{name, what, err};
}
int HOST_has_output_fault() { return Output_fault.name != nullptr ? 1 : 0; }
void HOST_clear_output_fault() { Output_fault = OUTPUT_FAULT_T{}; }
int HOST_report_output_fault() {
  if (Output_fault.name == nullptr) return 0;
  std::fprintf(stderr, "talonhost: %s: cannot %s: %s\n", Output_fault.name, Output_fault.what,
               std::strerror(Output_fault.err));
  HOST_clear_output_fault();
  return 1;
}

S16 load_logging_init_file() {
  if (!read_image("log_save.dat", Backup_region.data(), Backup_region.size())) return 1;
  return write_image("log_init.dat", Backup_region.data(), Backup_region.size());
}

S16 init_nvram_block_file_in_log_mode() {
  if (!read_image("flash_save.alm", Alm_nvram_block.data(), Alm_nvram_block.size())) return 1;
  return write_image("flash.alm", Alm_nvram_block.data(), Alm_nvram_block.size());
}

S16 save_init_file() { return write_image("log_save.dat", Backup_region.data(), Backup_region.size()); }

S16 save_nvram_block_file_in_log_mode() {
  return write_image("flash_save.alm", Alm_nvram_block.data(), Alm_nvram_block.size());
}

S16 write_sd_convert_init_files() { return write_image("log_init.dat", Backup_region.data(), Backup_region.size()); }

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
  return write_image("rtc_data.dat", b.data(), b.size());
}

S16 restore_sd_kernel_init_data(std::FILE* fp) {
  std::array<U08, KERNEL_INIT_FILE_SIZE + 2> rec{};
  if (std::fread(rec.data(), 1, rec.size(), fp) != rec.size()) return 0;
  const U16 crc = crc16(rec.data(), KERNEL_INIT_FILE_SIZE);
  const bool has_pos_time = decode_kernel_init(rec.data(), &Sd_kernel_init_data);
  if (crc != get_u16(rec.data() + KERNEL_INIT_FILE_SIZE, true)) return 0;
  if (!kernel_init_is_sane(Sd_kernel_init_data)) return 0;  // would index a table: treated as a bad record
  if (!has_pos_time) return 1;
  std::array<U08, KERNEL_INIT_POS_TIME_FILE_SIZE + 2> pos{};
  if (std::fread(pos.data(), 1, pos.size(), fp) != pos.size()) return 0;
  const U16 pos_crc = crc16(pos.data(), KERNEL_INIT_POS_TIME_FILE_SIZE);
  decode_kernel_init_pos_time(pos.data(), &Sd_kernel_init_pos_time);
  if (pos_crc == get_u16(pos.data() + KERNEL_INIT_POS_TIME_FILE_SIZE, true))
    Sd_kernel_init_data.init_pos_p = &Sd_kernel_init_pos_time;
  return 1;
}

S16 init_sd_replay_data(std::FILE* fp, int sd_convert) {
  Has_valid_sd_kernel_init_data = 0;
  if (std::fread(Backup_region.data(), 1, Backup_region.size(), fp) != Backup_region.size()) return 0;
  Has_valid_sd_kernel_init_data = restore_sd_kernel_init_data(fp);
  std::array<U08, SAVE_RTC_SIZE> b{};
  if (std::fread(b.data(), 1, b.size(), fp) != b.size()) return 0;
  const SAVE_RTC_T r = decode_save_rtc(b.data(), true);
  if (crc16(b.data(), 10) != r.crc) return 1;  // no RTC time for the target proxy
  WRAP_set_asic_rtc(r.rtc_wn, r.rtc_sec, r.rtc_subsec);
  if (!sd_convert) return 1;
  return write_rtc_data_file(r.rtc_wn, r.rtc_sec, r.rtc_subsec);
}

namespace {

long long steady_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Length of the whole rb.bin records at the start of the n bytes of b.
std::size_t whole_records(const char* b, std::size_t n) {
  std::size_t i = 0;
  while (i + 6 <= n) {
    const std::size_t rec =
        6 + ((static_cast<std::size_t>(static_cast<U08>(b[i + 4])) << 8) | static_cast<U08>(b[i + 5]));
    if (i + rec > n) break;
    i += rec;
  }
  return i;
}

// The recording has failed: the fault noted (err), the buffer dropped.
S16 rec_fail(HOST_REC_T* rec, int err) {
  HOST_note_output_fault(rec->name, "write", err);
  rec->failed = true;
  rec->len = 0;
  return 0;
}

// Room for n more bytes in the buffer, writing it first when they do not fit.
S16 rec_make_room(HOST_REC_T* rec, int n) {
  if (rec->len + n <= HOST_REC_BUF_SIZE) return 1;
  return HOST_rec_flush(rec);
}

void rec_append(HOST_REC_T* rec, const void* src, int n) {
  if (rec->len == 0) rec->oldest_ms = steady_ms();
  std::memcpy(rec->buf + rec->len, src, static_cast<std::size_t>(n));
  rec->len += n;
}

}  // namespace

S16 HOST_rec_open(HOST_REC_T* rec, const char* name, int rb_records) {
  rec->fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  rec->name = name;
  rec->rb_records = rb_records != 0;
  rec->failed = false;
  rec->len = 0;
  rec->on_disk = 0;
  if (rec->fd >= 0) return 1;
  HOST_note_output_fault(name, "create", errno);
  return 0;
}

S16 HOST_rec_flush(HOST_REC_T* rec) {
  if (rec->fd < 0) return 1;
  if (rec->failed) return 0;
  const std::size_t n = static_cast<std::size_t>(rec->len);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t w = ::write(rec->fd, rec->buf + done, n - done);
    if (w > 0) {
      done += static_cast<std::size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    const int err = w < 0 ? errno : EIO;
    // Bytes of a record cut by a short write are taken off again, so that the
    // file ends on a whole record.
    const std::size_t keep = rec->rb_records ? whole_records(rec->buf, done) : done;
    if (keep < done) (void)::ftruncate(rec->fd, static_cast<off_t>(rec->on_disk + static_cast<long long>(keep)));
    return rec_fail(rec, err);
  }
  rec->on_disk += static_cast<long long>(n);
  rec->len = 0;
  return 1;
}

S16 HOST_rec_tick(HOST_REC_T* rec) {
  if (rec->fd < 0 || rec->len == 0) return rec->failed ? 0 : 1;
  if (steady_ms() - rec->oldest_ms < HOST_REC_FLUSH_MS) return 1;
  return HOST_rec_flush(rec);
}

S16 HOST_rec_put_record(HOST_REC_T* rec, int is_base, const char* buf, int len) {
  if (rec->fd < 0 || rec->failed || buf == nullptr || len <= 0 || len > RB_MAX_CHUNK) return 0;
  if (!rec_make_room(rec, 6 + len)) return 0;
  const std::array<U08, 4>& marker = is_base ? RB_BASE_MARKER : RB_ROVER_MARKER;
  const U08 hdr[6] = {
      marker[0], marker[1], marker[2], marker[3], static_cast<U08>(len >> 8), static_cast<U08>(len & 0xFF)};
  rec_append(rec, hdr, 6);
  rec_append(rec, buf, len);
  return 1;
}

S16 HOST_rec_put(HOST_REC_T* rec, const char* buf, int len) {
  if (rec->fd < 0 || rec->failed || buf == nullptr || len < 0) return 0;
  while (len > 0) {
    if (rec->len == HOST_REC_BUF_SIZE && !HOST_rec_flush(rec)) return 0;
    const int n = std::min(len, HOST_REC_BUF_SIZE - rec->len);
    rec_append(rec, buf, n);
    buf += n;
    len -= n;
  }
  return 1;
}

S16 HOST_rec_close(HOST_REC_T* rec) {
  if (rec->fd < 0) return 1;
  S16 ok = HOST_rec_flush(rec);
  if (::close(rec->fd) != 0 && ok) ok = rec_fail(rec, errno);
  rec->fd = -1;
  rec->len = 0;
  return ok;
}
