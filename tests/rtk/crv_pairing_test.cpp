// File-mode pairing of rover and base epochs.
#include <gtest/gtest.h>

#include <cmath>

#include "rtk/rtk_test_util.h"

namespace {

struct Pairing {
  int rover_epochs = 0;
  std::vector<double> age;  // rover time - base time after each rover epoch (NaN: no base epoch)
  int base_pos_valid = 0;
  long base_left = 0;  // bytes of the base file not read
};

Pairing run(const SIM_SCENARIO_T& sc) {
  const sim_test::SimPair sim = sim_test::simulate(sc);
  rtk_test::reset_engine();
  std::FILE* fr = rtk_test::mem_file(sim.rover);
  std::FILE* fb = rtk_test::mem_file(sim.base);
  Pairing p;
  while (CRV_process_file(fr, fb)) {
    ++p.rover_epochs;
    gtime_t tr{}, tb{};
    CRV_get_rover_time(&tr);
    p.age.push_back(RTK_RAW_get_base_time(&tb) ? timediff(tr, tb) : std::nan(""));
  }
  EXPECT_EQ(CRV_process_file(fr, fb), 0);  // stays at the end
  double xyz[3];
  p.base_pos_valid = RTK_RAW_get_base_pos_xyz(xyz);
  p.base_left = static_cast<long>(sim.base.size()) - std::ftell(fb);
  std::fclose(fr);
  std::fclose(fb);
  return p;
}

SIM_SCENARIO_T scenario() {
  SIM_SCENARIO_T sc;
  sc.duration = 9.0;
  sc.nsat = 12;
  return sc;
}

TEST(CrvPairing, EqualTimesPairEveryEpoch) {
  const Pairing p = run(scenario());
  ASSERT_EQ(p.rover_epochs, 10);
  for (double a : p.age) EXPECT_EQ(a, 0.0);
  EXPECT_EQ(p.base_pos_valid, 1);
}

TEST(CrvPairing, BaseAheadWaitsForTheRover) {
  SIM_SCENARIO_T sc = scenario();
  sc.base_time_offset = 3.0;  // the base file starts 3 s after the rover file
  const Pairing p = run(sc);
  ASSERT_EQ(p.rover_epochs, 10);
  // the first base epoch is held while the rover catches up, then epochs pair exactly
  EXPECT_EQ(p.age[0], -3.0);
  EXPECT_EQ(p.age[1], -2.0);
  EXPECT_EQ(p.age[2], -1.0);
  for (std::size_t i = 3; i < p.age.size(); ++i) EXPECT_EQ(p.age[i], 0.0) << i;
  EXPECT_GT(p.base_left, 0);  // the base epochs after the rover's end stay unread
}

TEST(CrvPairing, LaggingBaseIsSkippedToTheRoverTime) {
  SIM_SCENARIO_T sc = scenario();
  sc.base_time_offset = -4.0;  // the base file starts 4 s before the rover file
  sc.ext_raw = 1;
  const Pairing p = run(sc);
  ASSERT_EQ(p.rover_epochs, 10);
  // also the first rover epoch, when the base position arrives after the base's first epoch
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(p.age[i], 0.0) << i;
  // the base file ends 4 s early: its last epoch is the newest there is
  for (std::size_t i = 6; i < 10; ++i) EXPECT_EQ(p.age[i], static_cast<double>(i - 5)) << i;
}

TEST(CrvPairing, MissingBasePosition) {
  SIM_SCENARIO_T sc = scenario();
  sc.base_pos = 0;
  sc.rover_rcv = 0;
  const Pairing p = run(sc);
  // every rover epoch is still delivered; the base file is read to its end
  EXPECT_EQ(p.rover_epochs, 10);
  EXPECT_EQ(p.base_pos_valid, 0);
  EXPECT_EQ(p.base_left, 0);
}

TEST(CrvPairing, EmptyFiles) {
  rtk_test::reset_engine();
  std::FILE* fr = rtk_test::mem_file(std::vector<U08>{});
  std::FILE* fb = rtk_test::mem_file(std::vector<U08>{});
  EXPECT_EQ(CRV_process_file(fr, fb), 0);
  std::fclose(fr);
  std::fclose(fb);
}

}  // namespace
