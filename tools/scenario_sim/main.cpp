// scenario_sim: writes r.bin, b.bin, truth.txt and the recorder file rb.bin
// (both streams interleaved by epoch) for a scenario file.
//   scenario_sim <scenario file> [output directory]
// With --kernel-set it writes instead the navigation kernel's replay set
// (log_data.dat, rtc_data.dat, log_init.dat, flash.alm), the same run as an
// SD-card log carrying the TCXO mode (sd_log.dat) and truth.csv of a
// simulated-sky scenario (tools/sky/README.md):
//   scenario_sim --kernel-set <sky scenario file> <output directory>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/scenario_sim/sim.h"
#ifdef SCENARIO_SIM_KERNEL_SET
#include "tools/sky/sky_link.h"
#endif

namespace {

// --kernel-set SCENARIO OUTDIR: 0 on success, 1 on a scenario or file
// failure or a build without the sky, 2 on a usage error.
int kernel_set_main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: scenario_sim --kernel-set <sky scenario file> <output directory>\n");
    return 2;
  }
#ifdef SCENARIO_SIM_KERNEL_SET
  char err[256] = "";
  const int n = SKY_LINK_kernel_set(argv[2], argv[3], err, sizeof err);
  if (n < 0) {
    std::fprintf(stderr, "scenario_sim: --kernel-set: %s\n", err);
    return 1;
  }
  std::printf("%d epochs written\n", n);
  return 0;
#else
  (void)argv;
  std::fprintf(stderr, "scenario_sim: --kernel-set: this build has no simulated sky\n");
  return 1;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--kernel-set") == 0) return kernel_set_main(argc, argv);
  if (argc < 2) {
    std::printf("usage: scenario_sim <scenario file> [output directory]\n");
    return 2;
  }
  std::FILE* fp = std::fopen(argv[1], "r");
  if (fp == nullptr) {
    std::printf("can't open %s\n", argv[1]);
    return 1;
  }
  std::string text;
  char buf[4096];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, fp)) > 0) text.append(buf, n);
  std::fclose(fp);
  SIM_SCENARIO_T sc;
  int line = 0;
  if (!sim_parse_scenario(text.c_str(), &sc, &line)) {
    std::printf("%s:%d: bad scenario line\n", argv[1], line);
    return 1;
  }
  const std::string dir = argc > 2 ? std::string(argv[2]) + "/" : std::string();
  const int nep = sim_run(&sc, (dir + "r.bin").c_str(), (dir + "b.bin").c_str(), (dir + "truth.txt").c_str());
  if (nep < 0) {
    std::printf("can't write the output files\n");
    return 1;
  }
  std::vector<U08> rover, base, rb;
  std::vector<SIM_MARK_T> marks;
  sim_run_to_memory(&sc, &rover, &base, nullptr, &marks);
  sim_make_rb(rover, base, marks, &rb);
  std::FILE* fo = std::fopen((dir + "rb.bin").c_str(), "wb");
  if (fo == nullptr || std::fwrite(rb.data(), 1, rb.size(), fo) != rb.size() || std::fclose(fo) != 0) {
    std::printf("can't write the output files\n");
    return 1;
  }
  std::printf("%d epochs written\n", nep);
  return 0;
}
