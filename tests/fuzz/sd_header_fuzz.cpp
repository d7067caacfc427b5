// Arbitrary sd_log.dat contents through the SD-card header reader. The input
// is the header after the 20480-byte backup image (which is read as it is),
// so that the fuzzer works on the records.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "host/host_files.h"
#include "host/wrap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> file(HOST_IMAGE_SIZE, 0x5A);
  file.insert(file.end(), data, data + size);
  std::FILE* fp = fmemopen(file.data(), file.size(), "rb");
  if (fp == nullptr) return 0;
  WRAP_init(0, nullptr);
  (void)init_sd_replay_data(fp, 0);
  if (const KERNEL_INIT_T* k = HOST_get_sd_kernel_init_data(); k != nullptr) {
    // An accepted record indexes its tables only inside them.
    if (k->tcxo_freq_mode < 0 || k->tcxo_freq_mode > 4 || k->nav_platform_model < 0 || k->nav_platform_model > 5 ||
        k->npse < 0 || k->npse > 8 || k->backup_mem_p != nullptr)
      __builtin_trap();
  }
  std::fclose(fp);
  return 0;
}
