#include "tools/talon_target/target_script.h"

#include <cstdio>
#include <string>

#include "misc/crc16.h"
#include "misc/host_msg.h"
#include "misc/pack.h"
#include "misc/start_files.h"

namespace {

void append_frame(TARGET_CHUNK_T& out, U08* buf, int size) {
  const int n = append_checksum(buf, size);
  out.insert(out.end(), buf, buf + n);
}

// Channel `ch` of epoch k: a satellite tracked with steadily advancing counters.
ASIC_CHAN_MEAS_T channel_report(int ch, int k, S16 gnss_type) {
  ASIC_CHAN_MEAS_T m{};
  m.gnss_type = static_cast<S08>(gnss_type);
  m.prn = static_cast<S08>(3 + 4 * ch % 29 + 1);
  m.state = static_cast<U08>(k < 10 ? CH_BITSYNC : (k < 30 ? CH_TRACK : CH_MEAS_AVAILABLE));
  m.peak_tap_loc = static_cast<U08>(ch);
  m.bitcnt = static_cast<U32>(1000 * ch + 5 * k);  // 20 ms bits: 5 per 100 ms epoch
  m.acc_power = static_cast<U32>(400000 + 1000 * ch + k);
  m.cn_count = static_cast<S16>(40 + ch);
  m.cn_integ = static_cast<S16>(100 + k % 7);
  m.track_issue = static_cast<U08>(1 + ch);
  m.carrier_phase = static_cast<S16>((k * 37 + ch * 11) % 1024);
  m.acc_carrier_cycle = -1500 * k + ch;  // Doppler of about -1.5 kHz
  m.acc_carrier_cycle_count = static_cast<U32>(k);
  m.code_phase_reg = static_cast<U32>(0x00100000 + 977 * k + ch);
  m.code_phase_reg2 = static_cast<U32>(k * 3);
  m.dop_freq = -1500 + 100 * ch;
  m.ch_noise_power = 2500000;
  for (int i = 0; i < MSG_CARRIER_ARY_N; ++i) {
    const auto j = static_cast<std::size_t>(i);
    m.start_carrier_phase_ary[j] = static_cast<S16>(i * 100 + k);
    m.acc_carrier_cycle_ary[j] = static_cast<S16>(-150 * i);
    m.acc_carrier_cycle_count_ary[j] = static_cast<U08>(10 * i);
    m.carrier_phase_no_good_count_ary[j] = 0;
  }
  m.carrier_phase_ary_count = static_cast<U16>(MSG_CARRIER_ARY_N);
  m.end_carrier_phase = static_cast<U16>((k * 37 + ch * 11 + 500) % 1024);
  return m;
}

int write_bytes(const std::string& path, const U08* data, std::size_t n) {
  std::FILE* fp = std::fopen(path.c_str(), "wb");
  if (fp == nullptr) return 0;
  const bool ok = std::fwrite(data, 1, n, fp) == n;
  return (std::fclose(fp) == 0 && ok) ? 1 : 0;
}

}  // namespace

S16 TARGET_channel_gnss_type(const TARGET_SCRIPT_PARAM_T& p, int ch) {
  if (!p.mixed_gnss) return GNSS_TYPE_GPS;
  constexpr S16 TYPES[3] = {GNSS_TYPE_GPS, GNSS_TYPE_GLONASS, GNSS_TYPE_BD2};
  return TYPES[ch % 3];
}

TARGET_CHUNK_T TARGET_rtc_report(const TARGET_SCRIPT_PARAM_T& p) {
  TARGET_CHUNK_T out;
  U08 buf[64];
  append_frame(out, buf, pack_msg_rtc(buf, p.rtc_wn, p.rtc_sec, p.rtc_subsec));
  return out;
}

std::vector<TARGET_CHUNK_T> TARGET_build_script(const TARGET_SCRIPT_PARAM_T& p) {
  std::vector<TARGET_CHUNK_T> script;
  U08 buf[800];
  for (int k = 0; k < p.epochs; ++k) {
    TARGET_CHUNK_T c;
    if (p.noise_every > 0 && k % p.noise_every == p.noise_every - 1) {
      c.push_back(0x4A);  // a sync byte that starts no frame, and a stray byte
      c.push_back(0x00);
    }
    for (int ch = 0; ch < p.tracked && ch < NUM_HW_CHANNELS; ++ch) {
      const ASIC_CHAN_MEAS_T m = channel_report(ch, k, TARGET_channel_gnss_type(p, ch));
      append_frame(c, buf, pack_msg_chan(buf, static_cast<S16>(ch), &m));
      if (ch % 2 == 0) append_frame(c, buf, pack_msg_chan_carrier(buf, static_cast<S16>(ch), &m));
    }
    U32 clocks[MSG_GTC_CLOCK_N];
    U16 subsecs[MSG_GTC_CLOCK_N];
    for (int i = 0; i < MSG_GTC_CLOCK_N; ++i) {
      clocks[i] = static_cast<U32>(16367667 / 100 * (i + 1) + k);  // GTC clocks per 10 ms
      subsecs[i] = static_cast<U16>((k * p.epoch_ms + 10 * i) % 1000);
    }
    append_frame(c, buf, pack_msg_gtc_clock_counts(buf, MSG_GTC_CLOCK_N, clocks, subsecs));
    const U32 ms = static_cast<U32>(k * p.epoch_ms);
    const GTC_RD_T gtc{static_cast<U32>(k * 1637), static_cast<U32>((p.rtc_wn << 16) | (ms % 1000)),
                       static_cast<U32>(p.rtc_sec) + ms / 1000, 4092000};
    const ASIC_READ_RTC_T rtc{static_cast<U32>(p.rtc_sec) + ms / 1000, static_cast<U32>(p.rtc_subsec + 3277 * k),
                              static_cast<U32>(50 + k)};
    append_frame(c, buf, pack_msg_gtc(buf, &gtc, 0, k % 10 == 0 ? 1 : 0, 2500000, -12, &rtc));
    if (k % 3 == 2) {  // a data-bit batch for every channel: 15 bits of 20 ms
      for (int ch = 0; ch < p.tracked; ++ch)
        append_frame(c, buf,
                     pack_msg_get_databits(buf, static_cast<S16>(ch), TARGET_channel_gnss_type(p, ch),
                                           channel_report(ch, k, GNSS_TYPE_GPS).prn,
                                           static_cast<U32>(0x2AAAAAAA ^ (k * 0x01010101)), 15,
                                           static_cast<U32>(1000 * ch + 5 * k), static_cast<U08>(1 + ch)));
    }
    if (k % 10 == 9) append_frame(c, buf, pack_msg_pse_status(buf, 1, static_cast<S08>(k / 10 % 4), 3, 2, 1, 0, 0));
    script.push_back(std::move(c));
  }
  return script;
}

int TARGET_write_replay_set(const char* dir, const TARGET_SCRIPT_PARAM_T& p) {
  const std::string d(dir);
  std::vector<U08> log;
  for (const TARGET_CHUNK_T& c : TARGET_build_script(p)) log.insert(log.end(), c.begin(), c.end());
  if (!write_bytes(d + "/log_data.dat", log.data(), log.size())) return 0;
  // rtc_data.dat: rtc_sec S32, rtc_subsec U32, rtc_wn S16, CRC-16 of bytes 0..9; little-endian.
  U08 rtc[SAVE_RTC_SIZE];
  for (int i = 0; i < 4; ++i) rtc[i] = static_cast<U08>(static_cast<U32>(p.rtc_sec) >> (8 * i));
  for (int i = 0; i < 4; ++i) rtc[4 + i] = static_cast<U08>(p.rtc_subsec >> (8 * i));
  rtc[8] = static_cast<U08>(p.rtc_wn);
  rtc[9] = static_cast<U08>(static_cast<U16>(p.rtc_wn) >> 8);
  const U16 crc = crc16(rtc, 10);
  rtc[10] = static_cast<U08>(crc);
  rtc[11] = static_cast<U08>(crc >> 8);
  if (!write_bytes(d + "/rtc_data.dat", rtc, sizeof rtc)) return 0;
  std::vector<U08> image(HOST_IMAGE_SIZE);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<U08>(i * 7 + 1);
  if (!write_bytes(d + "/log_init.dat", image.data(), image.size())) return 0;
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<U08>(i * 13 + 5);
  return write_bytes(d + "/flash.alm", image.data(), image.size());
}
