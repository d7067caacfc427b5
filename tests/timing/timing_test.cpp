// Timing settings: the stored pulse settings and the test whether GPS time is
// available, from the navigation state handed by an installed reader.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>

#include "test_util.h"
#include "timing/timing.h"

namespace {

S16 Mode = FIX_NONE;
S16 Fs = 0;
U32 Count = 0;
void reader(S16* mode, S16* fs, U32* count) {
  *mode = Mode;
  *fs = Fs;
  *count = Count;
}

struct TimeCase {
  const char* name;
  S16 mode, fs;
  U32 count;
  S16 expect;
};
const std::array<TimeCase, 8> CASES = {{
    {"no fix", FIX_NONE, 0, 0, 0},
    {"prediction", FIX_PREDICTION, 1, 10, 0},
    {"2-D", FIX_2D, 1, 10, 0},
    {"3-D, 3 fixes", FIX_3D, 1, 3, 0},
    {"3-D, no frame sync", FIX_3D, 0, 10, 0},
    {"3-D, frame sync, 4 fixes", FIX_3D, 1, 4, 1},
    {"differential", FIX_DIFF, 1, 100, 1},
    {"3-D, many fixes", FIX_3D, 1, 4000000000U, 1},
}};

TEST(Timing, TimeAvailableNeeds3DFrameSyncAnd4Fixes) {
  TIMING_install_time_status_reader(reader);
  for (const TimeCase& c : CASES) {
    Mode = c.mode;
    Fs = c.fs;
    Count = c.count;
    EXPECT_EQ(TIMING_is_time_avalialbe(), c.expect) << c.name;
  }
  TIMING_install_time_status_reader(nullptr);
  Mode = FIX_3D;
  Fs = 1;
  Count = 10;
  EXPECT_EQ(TIMING_is_time_avalialbe(), 0) << "no reader";
}

TEST(Timing, SettingsStored) {
  const S32 delay = TIMING_get_pps_cable_delay();
  const U32 width = TIMING_get_pps_width();
  EXPECT_EQ(TIMING_set_pps_cable_delay(-250), 1);
  EXPECT_EQ(TIMING_set_pps_width(100), 1);
  EXPECT_EQ(TIMING_get_pps_cable_delay(), -250);
  EXPECT_EQ(TIMING_get_pps_width(), 100U);
  EXPECT_EQ(TIMING_get_freq_out_hz(), 0U);
  TIMING_set_pps_cable_delay(delay);
  TIMING_set_pps_width(width);
}

// The timing library sits below the kernel: none of its sources includes a
// kernel, host or RTK header (it reads the navigation state through the
// installed reader), so no library cycle can come back through it.
TEST(Timing, SourcesIncludeNothingAboveTheTimingLibrary) {
  const std::filesystem::path dir = std::filesystem::path(TALON_SOURCE_DIR) / "timing";
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string ext = e.path().extension().string();
    if (ext != ".cpp" && ext != ".h") continue;
    ++files;
    const std::string text = talon_test::read_text(e.path().string());
    for (const char* above : {"#include \"kernel/", "#include \"host/", "#include \"rtk/", "#include \"tools/"})
      EXPECT_EQ(text.find(above), std::string::npos) << e.path().filename().string() << " includes " << above;
  }
  EXPECT_GE(files, 2);
}

}  // namespace
