// The link half fed by the sky core.
#include <cstdio>

#include "tools/sky/sky_link.h"

SKY_LINK_SOURCE_T SKY_LINK_core_source() {
  SKY_LINK_SOURCE_T s;
  s.epoch_at_clock = SKY_epoch_at_clock;
  s.nav_word = SKY_nav_word;
  return s;
}

int SKY_LINK_kernel_set(const char* scenario_path, const char* dir, char* err, std::size_t err_len) {
  static SKY_SCENARIO_T sc;  // kept by pointer by the sky for the run
  sc = SKY_SCENARIO_T{};
  if (!SKY_load_scenario(scenario_path, &sc, err, err_len)) return -1;
  if (!SKY_init(&sc)) {
    if (err != nullptr && err_len > 0) std::snprintf(err, err_len, "the sky of %s can't be prepared", scenario_path);
    return -1;
  }
  return SKY_LINK_write_set(&sc, SKY_LINK_PARAM_T{}, SKY_LINK_core_source(), dir, err, err_len);
}
