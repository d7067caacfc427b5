// scenario_sim: writes r.bin, b.bin, truth.txt and the recorder file rb.bin
// (both streams interleaved by epoch) for a scenario file.
//   scenario_sim <scenario file> [output directory]
#include <cstdio>
#include <string>

#include "tools/scenario_sim/sim.h"

int main(int argc, char** argv) {
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
