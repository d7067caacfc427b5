// Helpers of the RTK engine tests.
#pragma once

#include <cstdio>
#include <vector>

#include "rtk/crv.h"
#include "rtk/eph.h"
#include "rtk/pntpos.h"
#include "rtk/rtk.h"
#include "rtk/rtk_raw.h"
#include "tools/scenario_sim/sim.h"

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

inline void feed_rover(const std::vector<U08>& bytes) {
  std::vector<char> b(bytes.begin(), bytes.end());
  CRV_process_rover(static_cast<int>(b.size()), b.data());
}

inline void feed_base(const std::vector<U08>& bytes) {
  std::vector<char> b(bytes.begin(), bytes.end());
  CRV_process_base(static_cast<int>(b.size()), b.data());
}

}  // namespace rtk_test
