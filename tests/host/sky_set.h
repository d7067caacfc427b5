// Test helper: a navigation replay set of a simulated-sky scenario, made in a
// test's temporary directory (log_data.dat, rtc_data.dat, log_init.dat,
// flash.alm, sd_log.dat, truth.csv; see tools/sky/README.md).
#pragma once

#include <string>
#include <vector>

#include "test_util.h"
#include "tools/sky/sky_link.h"

// Write scenario (the text of a scenario file) to dir/sc.txt and make its set
// in dir. Returns SKY_LINK_kernel_set's result (> 0 on success) with the
// reason in *err otherwise.
inline int make_sky_set(const talon_test::TempDir& dir, const std::string& scenario, std::string* err) {
  talon_test::write_file(dir.file("sc.txt"), std::vector<unsigned char>(scenario.begin(), scenario.end()));
  char text[256] = "";
  const int n = SKY_LINK_kernel_set(dir.file("sc.txt").c_str(), dir.path().c_str(), text, sizeof text);
  *err = text;
  return n;
}
