// The replay set of a scenario (log_data.dat, rtc_data.dat, log_init.dat
// with a cold or warm start, flash.alm), the same run as an SD-card log (sd_log.dat, which carries the
// TCXO mode in its kernel start record) and its truth file truth.csv.
#include <cstdio>
#include <string>
#include <vector>

#include "misc/crc16.h"
#include "misc/start_files.h"
#include "tools/sky/sky_link.h"

namespace {

constexpr std::size_t EPOCH_BUF = 8192;
constexpr int FIX_SATS = 4;  // satellites with subframes 1..3 needed for a first fix

void set_err(char* err, std::size_t len, const char* what, const std::string& path) {
  if (err != nullptr && len > 0) std::snprintf(err, len, "%s %s", what, path.c_str());
}

int write_file(const std::string& path, const U08* data, std::size_t n) {
  std::FILE* fp = std::fopen(path.c_str(), "wb");
  if (fp == nullptr) return 0;
  const bool ok = n == 0 || std::fwrite(data, 1, n, fp) == n;
  return (std::fclose(fp) == 0 && ok) ? 1 : 0;
}

// rtc_data.dat: rtc_sec S32, rtc_subsec U32, rtc_wn S16, CRC-16 of bytes 0..9; little-endian.
int write_rtc_file(const std::string& path, const SKY_RTC_T& r) {
  U08 b[SAVE_RTC_SIZE] = {};
  for (int i = 0; i < 4; ++i) b[i] = static_cast<U08>(static_cast<U32>(r.sec) >> (8 * i));
  for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<U08>(r.subsec >> (8 * i));
  b[8] = static_cast<U08>(static_cast<U16>(r.wn));
  b[9] = static_cast<U08>(static_cast<U16>(r.wn) >> 8);
  const U16 crc = crc16(b, 10);
  b[10] = static_cast<U08>(crc);
  b[11] = static_cast<U08>(crc >> 8);
  return write_file(path, b, sizeof b);
}

void write_truth_header(std::FILE* fp, const SKY_TCXO_T& t) {
  std::fprintf(fp, "# simulated sky truth, TCXO mode %d (%u Hz)\n", t.mode, t.freq_hz);
  std::fprintf(fp,
               "# E,epoch,gtc_week,gtc_sec,gtc_ms,gps_week,gps_tow_s,clock_week,clock_tow_s,x_m,y_m,z_m,vx_mps,"
               "vy_mps,vz_mps,clk_bias_s,clk_drift\n");
  std::fprintf(fp,
               "# S,epoch,svid,ch,state,tx_week,tx_tow_s,range_m,pseudorange_m,range_rate_mps,doppler_hz,cn0_dbhz,"
               "el_deg,az_deg,fs_week,fs_tow_s,mean_doppler_hz,sv_clock_s,iono_m,tropo_m,"
               "pr_fault_m\n");
  std::fprintf(fp, "# F,gps_week,gps_tow_s\n");
}

void write_truth_epoch(std::FILE* fp, const SKY_LINK_EPOCH_T& e) {
  const SKY_RX_T& r = e.rx;
  std::fprintf(fp, "E,%lld,%d,%d,%d,%d,%.12f,%d,%.12f,%.4f,%.4f,%.4f,%.4f,%.4f,%.4f,%.12e,%.12e\n",
               static_cast<long long>(e.index), e.gtc.week, e.gtc.sec, e.gtc.ms, r.true_time.week, r.true_time.tow,
               r.clock_time.week, r.clock_time.tow, r.pos_ecef[0], r.pos_ecef[1], r.pos_ecef[2], r.vel_ecef[0],
               r.vel_ecef[1], r.vel_ecef[2], r.clk_bias_s, r.clk_drift);
  for (int i = 0; i < e.n; ++i) {
    const SKY_LINK_SAT_TRUTH_T& s = e.sat[i];
    std::fprintf(fp, "S,%lld,%d,%d,%d,%d,%.12f,%.4f,%.4f,%.4f,%.4f,%.2f,%.4f,%.4f,", static_cast<long long>(e.index),
                 s.svid, s.ch, s.state, s.tx_time.week, s.tx_time.tow, s.range_m, s.pseudorange_m, s.range_rate_mps,
                 s.doppler_hz, s.cn0_dbhz, s.el_deg, s.az_deg);
    if (s.has_frame_sync_time != 0)
      std::fprintf(fp, "%d,%.12f,", s.frame_sync_time.week, s.frame_sync_time.tow);
    else
      std::fprintf(fp, ",,");
    if (s.has_mean_doppler != 0) std::fprintf(fp, "%.4f", s.mean_doppler_hz);
    std::fprintf(fp, ",%.12e,%.4f,%.4f,%.4f\n", s.sv_clock_s, s.iono_m, s.tropo_m, s.pr_fault_m);
  }
}

// Tracked satellites whose subframes 1..3 have all been received whole.
int count_ephemeris_ready(const SKY_LINK_EPOCH_T& e) {
  int n = 0;
  for (int i = 0; i < e.n; ++i) {
    const SKY_LINK_SAT_TRUTH_T& s = e.sat[i];
    if (s.has_frame_sync_time == 0) continue;
    const double since =
        static_cast<double>(s.tx_time.week - s.eph_time.week) * 604800.0 + (s.tx_time.tow - s.eph_time.tow);
    if (since >= 0.0) ++n;
  }
  return n;
}

// The link stream of every epoch goes to log_data.dat and, after its header,
// to sd_log.dat.
int play(std::FILE* log, std::FILE* sd, std::FILE* truth, int* epochs) {
  std::vector<U08> buf(EPOCH_BUF);
  SKY_LINK_EPOCH_T e;
  int have_fix = 0;
  SKY_GPST_T fix_time;
  for (;;) {
    const int n = SKY_LINK_next_epoch(buf.data(), buf.size(), &e);
    if (n < 0) return 0;
    if (n == 0) break;
    for (std::FILE* fp : {log, sd})
      if (std::fwrite(buf.data(), 1, static_cast<std::size_t>(n), fp) != static_cast<std::size_t>(n)) return 0;
    write_truth_epoch(truth, e);
    if (have_fix == 0 && count_ephemeris_ready(e) >= FIX_SATS) {
      have_fix = 1;
      fix_time = e.rx.true_time;
    }
    ++*epochs;
  }
  if (have_fix != 0) std::fprintf(truth, "F,%d,%.12f\n", fix_time.week, fix_time.tow);
  return 1;
}

}  // namespace

int SKY_LINK_write_set(const SKY_SCENARIO_T* sc, const SKY_LINK_PARAM_T& p, SKY_LINK_SOURCE_T src, const char* dir,
                       char* err, std::size_t err_len) {
  const std::string d = std::string(dir) + "/";
  if (!SKY_LINK_start(sc, p, src)) {
    set_err(err, err_len, "bad TCXO mode or measurement rate in", "scenario");
    return -1;
  }
  U08 frame[32];
  SKY_RTC_T rtc;
  SKY_LINK_rtc_report(frame, &rtc);
  if (!write_rtc_file(d + "rtc_data.dat", rtc)) {
    set_err(err, err_len, "can't write", d + "rtc_data.dat");
    return -1;
  }
  const std::vector<U08> zero(HOST_IMAGE_SIZE, 0);
  std::vector<U08> init = zero;  // the backup image: all zero (a cold start) or a warm start
  SKY_LINK_WARM_T warm;
  if (sc->warm_start != 0) {
    SKY_LINK_warm_state(sc, p.rtc, rtc, &warm);
    SKY_LINK_warm_image(warm, 0, init.data(), init.size());
  }
  SKY_IONO_UTC_T iono;
  const int with_iono = sc->warm_start != 0 && sc->warm_start_iono != 0 ? 1 : 0;
  if (with_iono != 0) {
    SKY_LINK_scenario_iono(sc, &iono);
    SKY_LINK_warm_iono_image(iono, 0, init.data(), init.size());
  }
  struct IMAGE_FILE_T {
    const char* name;
    const std::vector<U08>* image;
  };
  for (const IMAGE_FILE_T& f : {IMAGE_FILE_T{"log_init.dat", &init}, IMAGE_FILE_T{"flash.alm", &zero}}) {
    if (!write_file(d + f.name, f.image->data(), f.image->size())) {
      set_err(err, err_len, "can't write", d + f.name);
      return -1;
    }
  }
  std::vector<U08> sd_header(SKY_LINK_SD_HEADER_SIZE);
  if (SKY_LINK_sd_header(sc->tcxo_mode, rtc, sd_header.data(), sd_header.size()) < 0) {
    set_err(err, err_len, "can't encode the SD-card log header for", "scenario");
    return -1;
  }
  if (sc->warm_start != 0) SKY_LINK_warm_image(warm, 1, sd_header.data(), HOST_IMAGE_SIZE);  // the target's order
  if (with_iono != 0) SKY_LINK_warm_iono_image(iono, 1, sd_header.data(), HOST_IMAGE_SIZE);
  std::FILE* log = std::fopen((d + "log_data.dat").c_str(), "wb");
  std::FILE* sd = std::fopen((d + "sd_log.dat").c_str(), "wb");
  std::FILE* truth = std::fopen((d + "truth.csv").c_str(), "w");
  int epochs = 0;
  int ok = (log != nullptr && sd != nullptr && truth != nullptr) ? 1 : 0;
  if (ok != 0 && std::fwrite(sd_header.data(), 1, sd_header.size(), sd) != sd_header.size()) ok = 0;
  if (ok != 0) {
    write_truth_header(truth, SKY_LINK_tcxo_of_run());
    ok = play(log, sd, truth, &epochs);
  }
  if (log != nullptr && std::fclose(log) != 0) ok = 0;
  if (sd != nullptr && std::fclose(sd) != 0) ok = 0;
  if (truth != nullptr && std::fclose(truth) != 0) ok = 0;
  if (ok == 0) {
    set_err(err, err_len, "can't write the replay set in", std::string(dir));
    return -1;
  }
  return epochs;
}
