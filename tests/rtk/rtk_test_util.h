// Helpers of the RTK engine tests.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "rtk/crv.h"
#include "rtk/eph.h"
#include "rtk/glo_sd_ifb.h"
#include "rtk/pntpos.h"
#include "rtk/relpos.h"
#include "rtk/rinex.h"
#include "rtk/rtcm3.h"
#include "rtk/rtk.h"
#include "rtk/rtk_cfg.h"
#include "rtk/rtk_raw.h"
#include "sim_scenario.h"

namespace rtk_test {

// Options of a single-point run: broadcast ionosphere, Saastamoinen, 10 degree mask.
inline prcopt_t default_opt() {
  prcopt_t opt{};
  opt.mode = 2;
  opt.nf = 1;
  opt.navsys = SYS_GPS | SYS_SBS;
  opt.elmin = 10.0 * D2R;
  opt.eratio[0] = 300.0;
  opt.err[0] = 100.0;
  opt.err[1] = 0.003;
  opt.err[2] = 0.003;
  opt.err[4] = 10.0;
  opt.ionoopt = 1;
  opt.tropopt = 1;
  opt.maxgdop = 30.0;
  opt.olvo_alternative_raim_fde = 1;
  opt.olvo_remain_cont_pntpos_cnt_after_raim = 1;
  return opt;
}

// Fresh reader, raw buffers and navigation store.
inline void reset_engine(int navsys = SYS_GPS | SYS_SBS) {
  CRV_init();
  RTK_RAW_init();
  RTK_NAV_init(navsys);
}

// A FILE holding the bytes (closed by the caller).
inline std::FILE* mem_file(const std::vector<U08>& bytes) {
  std::FILE* fp = std::tmpfile();
  if (fp == nullptr) return nullptr;
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), fp);
  std::rewind(fp);
  return fp;
}

inline std::FILE* mem_file(const std::string& text) { return mem_file(std::vector<U08>(text.begin(), text.end())); }

inline void feed_rover(const std::vector<U08>& bytes) {
  std::vector<char> b(bytes.begin(), bytes.end());
  CRV_process_rover(static_cast<int>(b.size()), b.data());
}

inline void feed_base(const std::vector<U08>& bytes) {
  std::vector<char> b(bytes.begin(), bytes.end());
  CRV_process_base(static_cast<int>(b.size()), b.data());
}

// A CRVRAW time message: stream IOD, GPS week, time of week (ms), measurement period (ms).
inline std::vector<U08> time_msg(int iod, int week, U32 tow_ms, int period_ms = 1000) {
  U08 f[64];
  return std::vector<U08>(f, f + sim_msg_time(iod, week, tow_ms, period_ms, f));
}

// The three CRVRAW subframe messages of a broadcast ephemeris sent at tow (s).
inline std::vector<U08> gps_sf_msgs(const SIM_GPS_EPH_T& e, double tow) {
  U08 sf[3][30], f[64];
  sim_encode_gps_subframes(&e, tow, sf);
  std::vector<U08> out;
  for (auto& s : sf) {
    const int n = sim_msg_gps_sf(e.prn, s, f);
    out.insert(out.end(), f, f + n);
  }
  return out;
}

// The rover's epochs of a rover/base pair held in memory, read as the file RTK
// mode reads them (the engine is reset first).
inline std::vector<std::vector<obsd_t>> rover_epochs(const std::vector<U08>& rover, const std::vector<U08>& base) {
  reset_engine();
  std::FILE* fr = mem_file(rover);
  std::FILE* fb = mem_file(base);
  std::vector<std::vector<obsd_t>> ep;
  static obsd_t obs[MAXOBS_CYCLE];
  while (CRV_process_file(fr, fb)) {
    int nr = 0, nb = 0;
    if (RTK_RAW_get_meas(obs, &nr, &nb) > 0) ep.emplace_back(obs, obs + nr);
  }
  std::fclose(fr);
  std::fclose(fb);
  return ep;
}

// A light-millisecond (m), the GPS L1 wavelength (m) and the GLONASS G1
// wavelength of frequency number k (m).
constexpr double LMS = 299792.458;
constexpr double LAM_L1 = 299792458.0 / 1575.42e6;
inline double lam_g1(double k) { return 299792458.0 / (1602.0e6 + k * 0.5625e6); }

// Fresh RTCM 3 reader, raw buffers and navigation store (every system).
inline void reset_rtcm3() {
  RTCM3_init();
  RTK_RAW_init();
  RTK_NAV_init(SYS_ALL);
}

// Bytes to the RTCM 3 base reader in pieces of at most `chunk` bytes.
inline void feed_rtcm3(const std::vector<U08>& bytes, std::size_t chunk = 1u << 20) {
  std::vector<char> b(bytes.begin(), bytes.end());
  for (std::size_t i = 0; i < b.size(); i += chunk)
    RTCM3_process_base(static_cast<int>(std::min(chunk, b.size() - i)), b.data() + i);
}

// A RINEX header line: text in columns 1-60, label from column 61.
inline std::string rinex_hdr(const std::string& text, const std::string& label) {
  std::string s = text;
  s.resize(60, ' ');
  return s + label + "\n";
}

// The RINEX reader's counts of the files open or attached now.
inline RINEX_STATS_T rinex_stats() {
  RINEX_STATS_T st{};
  RINEX_get_stats(&st);
  return st;
}

// Distance between two ECEF positions, m.
inline double dist(const double* a, const double* b) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

// A filter (static storage, rebuilt on each call) holding the given GPS
// ambiguity states amb (cycles) of satellites sats, each with lock 5 and
// elevation 45 deg; position states at 1000, 2000, 3000 m with variance
// pos_var (m^2); ambiguity covariance P_amb (cycles^2, n x n column-major).
// Default options for GPS (C/N0 masks 35 / 40 dB-Hz, 15 deg) with the
// integrity gates on or off (integrity 1 / 0).
inline rtk_t* hand_rtk(const std::vector<int>& sats, const std::vector<double>& amb, const std::vector<double>& P_amb,
                       int integrity = 0, double pos_var = 1.0) {
  static rtk_t rtk;
  rtk = rtk_t{};
  int ex[1] = {0};
  RTK_CFG_init();
  RTK_CFG_get(&rtk.opt, SYS_GPS, 35, 40, 15, ex);
  rtk.opt.integrity = integrity;
  rtk.nx = RTK_NX;
  rtk.na = RTK_NP;
  for (int i = 0; i < 3; ++i) {
    rtk.x[i] = 1000.0 * (i + 1);
    rtk.P[i + i * RTK_NX] = pos_var;
  }
  const std::size_t n = sats.size();
  for (std::size_t a = 0; a < n; ++a) {
    const int s = sats[a];
    rtk.x[RTK_NP + s - 1] = amb[a];
    rtk.ssat[s - 1].lock[0] = 5;
    rtk.ssat[s - 1].azel[1] = 45.0 * D2R;
    for (std::size_t b = 0; b < n; ++b) rtk.P[(RTK_NP + s - 1) + (RTK_NP + sats[b] - 1) * RTK_NX] = P_amb[a + b * n];
  }
  return &rtk;
}

// The engine as the host program initialises it for a file run: is_rinex 1
// for RINEX input, elevation mask elmask (deg).
inline void init_engine(int is_rinex = 0, int elmask = 15) {
  int exsats[10] = {0};
  RTK_init(21, 35, 40, elmask, is_rinex, exsats);
  RTK_init_medium();
  GLOSDIFB_reset_glo_sd_ifb();
}

// One engine cycle of a run against truth.
struct Cycle {
  std::size_t epoch = 0;  // rover epoch, counted from 0 as the reader delivers them
  sol_t sol{};
  double err = 0.0;         // distance of sol.rr from the true rover position, m (0 without truth)
  unsigned long holds = 0;  // fix-and-hold updates of the filter so far
};

// Feeds CRVRAW rover and base bytes held in memory through the engine as the
// file RTK mode does (the engine is not initialised here) and returns the
// cycles that gave a solution. Rover epochs are counted from 0 as the reader
// delivers them; epoch k is compared with truth[k], and the run stops after
// the last truth epoch (no truth: no comparison, no stop). skip(&k), when
// given, is asked before each cycle: true takes that reader step without a
// cycle (skip adds 1 to k when it took a rover epoch). on_cycle, when given,
// sees each cycle while the engine still holds its state.
inline std::vector<Cycle> run_cycles(const std::vector<U08>& rover, const std::vector<U08>& base,
                                     const std::vector<SIM_TRUTH_T>& truth = {},
                                     const std::function<bool(std::size_t*)>& skip = nullptr,
                                     const std::function<void(const Cycle&)>& on_cycle = nullptr) {
  std::FILE* fr = mem_file(rover);
  std::FILE* fb = mem_file(base);
  std::vector<Cycle> out;
  std::size_t k = 0;
  while (CRV_process_file(fr, fb)) {
    if (skip && skip(&k)) continue;
    if (!RTK_loop()) continue;
    Cycle c;
    c.epoch = k;
    RTK_get_solution(&c.sol);
    if (!truth.empty()) {
      if (k >= truth.size()) break;
      c.err = dist(c.sol.rr, truth[k].pos);
    }
    ++k;
    RELPOS_COUNTS_T n{};
    RELPOS_get_counts(&n);
    c.holds = n.fix_and_hold_cnt;
    if (on_cycle) on_cycle(c);
    out.push_back(c);
  }
  std::fclose(fr);
  std::fclose(fb);
  return out;
}

// The same over RINEX rover and base observation text and navigation text
// held in memory (names r.obs, b.obs, n.nav in messages): the solution of
// every cycle that gave one. *read gets 1 when all three were taken, else 0
// (then there is no cycle).
inline std::vector<sol_t> run_rinex_text(const std::string& rover_obs, const std::string& base_obs,
                                         const std::string& nav, int* read = nullptr) {
  std::FILE* fr = mem_file(rover_obs);
  std::FILE* fb = mem_file(base_obs);
  std::FILE* fn = mem_file(nav);
  std::vector<sol_t> out;
  const int ok = RINEX_attach_obs(RINEX_ROVER, fr, "r.obs") && RINEX_attach_obs(RINEX_BASE, fb, "b.obs") &&
                 RINEX_read_nav_stream(fn, "n.nav");
  if (read != nullptr) *read = ok;
  const RINEX_SOURCE_T src{1, 1, nullptr, nullptr};
  while (ok && RINEX_process_file(&src)) {
    if (!RTK_loop()) continue;
    out.emplace_back();
    RTK_get_solution(&out.back());
  }
  std::fclose(fr);
  std::fclose(fb);
  std::fclose(fn);
  return out;
}

}  // namespace rtk_test
