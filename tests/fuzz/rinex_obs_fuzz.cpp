// libFuzzer target of the RINEX reader: arbitrary text as an observation file
// (epochs read out), or split at the first NUL byte into a rover observation
// file and a navigation file that run through the file-mode pairing and the
// engine cycle against a fixed base epoch stream.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "rtk/glo_sd_ifb.h"
#include "rtk/rinex.h"
#include "rtk/rtk.h"

namespace {

obsd_t Obs[MAXOBS];

std::FILE* open_mem(const std::uint8_t* data, std::size_t size) {
  std::FILE* fp = std::tmpfile();
  if (fp == nullptr) return nullptr;
  if (size > 0) std::fwrite(data, 1, size, fp);
  std::rewind(fp);
  return fp;
}

void init_engine() {
  int exsats[10] = {0};
  RTK_init(SYS_GPS | SYS_GLO | SYS_QZS | SYS_SBS, 35, 40, 15, 1, exsats);
  RTK_init_medium();
  GLOSDIFB_reset_glo_sd_ifb();
}

void read_obs(const std::uint8_t* data, std::size_t size) {
  init_engine();
  std::FILE* fp = open_mem(data, size);
  if (fp == nullptr) return;
  if (RINEX_attach_obs(RINEX_ROVER, fp, "fuzz.obs")) {
    int n = 0;
    gtime_t t{};
    for (int k = 0; k < 1000 && RINEX_read_obs_epoch(RINEX_ROVER, Obs, &n, &t); ++k) {
      if (n < 0 || n > MAXOBS) __builtin_trap();
      for (int i = 0; i < n; ++i)
        if (Obs[i].sat < 1 || Obs[i].sat > MAXSAT) __builtin_trap();
    }
  }
  RINEX_close_obs(RINEX_ROVER);
  std::fclose(fp);
}

void run_engine(const std::uint8_t* data, std::size_t size) {
  init_engine();
  const void* nul = std::memchr(data, 0, size);
  const std::size_t n_obs =
      nul != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - data) : size;
  std::FILE* fo = open_mem(data, n_obs);
  std::FILE* fb = open_mem(data, n_obs);  // the same text as base
  std::FILE* fn = nul != nullptr ? open_mem(data + n_obs + 1, size - n_obs - 1) : nullptr;
  if (fo == nullptr || fb == nullptr) {
    if (fo != nullptr) std::fclose(fo);
    if (fb != nullptr) std::fclose(fb);
    if (fn != nullptr) std::fclose(fn);
    return;
  }
  if (fn != nullptr) RINEX_read_nav_stream(fn, "fuzz.nav");
  if (RINEX_attach_obs(RINEX_ROVER, fo, "fuzz_r.obs") && RINEX_attach_obs(RINEX_BASE, fb, "fuzz_b.obs")) {
    const RINEX_SOURCE_T src{1, 1, nullptr, nullptr};
    for (int k = 0; k < 200 && RINEX_process_file(&src); ++k) RTK_loop();
  }
  RINEX_close_obs(RINEX_ROVER);
  RINEX_close_obs(RINEX_BASE);
  std::fclose(fo);
  std::fclose(fb);
  if (fn != nullptr) std::fclose(fn);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  if (data[0] & 1)
    run_engine(data + 1, size - 1);
  else
    read_obs(data + 1, size - 1);
  return 0;
}
