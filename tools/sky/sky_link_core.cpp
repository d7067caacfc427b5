// The link half fed by the sky core: the core's functions as the link's
// source, and the scenario-file entry points of scenario_sim and talon_target.
#include <cstdio>

#include "tools/sky/sky_link.h"

namespace {

SKY_SCENARIO_T Scenario;  // the scenario of the run (the sky keeps it by pointer)

int load_sky(const char* scenario_path, char* err, std::size_t err_len) {
  Scenario = SKY_SCENARIO_T{};
  if (!SKY_load_scenario(scenario_path, &Scenario, err, err_len)) return 0;
  if (!SKY_init(&Scenario)) {
    if (err != nullptr && err_len > 0) std::snprintf(err, err_len, "the sky of %s can't be prepared", scenario_path);
    return 0;
  }
  return 1;
}

}  // namespace

SKY_LINK_SOURCE_T SKY_LINK_core_source() {
  SKY_LINK_SOURCE_T s;
  s.epoch_at_clock = SKY_epoch_at_clock;
  s.nav_word = SKY_nav_word;
  return s;
}

int SKY_LINK_kernel_set(const char* scenario_path, const char* dir, char* err, std::size_t err_len) {
  if (!load_sky(scenario_path, err, err_len)) return -1;
  return SKY_LINK_write_set(&Scenario, SKY_LINK_PARAM_T{}, SKY_LINK_core_source(), dir, err, err_len);
}

int SKY_LINK_start_scenario(const char* scenario_path, char* err, std::size_t err_len) {
  if (!load_sky(scenario_path, err, err_len)) return 0;
  if (!SKY_LINK_start(&Scenario, SKY_LINK_PARAM_T{}, SKY_LINK_core_source())) {
    if (err != nullptr && err_len > 0)
      std::snprintf(err, err_len, "bad TCXO mode or measurement rate in %s", scenario_path);
    return 0;
  }
  return 1;
}
