// Scenario files of the simulated sky: every key reaches its field, defaults
// hold for keys not given, and each kind of bad line is refused with its line
// number named.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/sky/sky.h"

namespace {

TEST(SkyScenario, EveryKeyReachesItsField) {
  const char* text =
      "# a full scenario\n"
      "start_week = 2400\n"
      "start_tow = 345600.5   # Thursday\n"
      "duration = 600\n"
      "nsat = 12\n"
      "seed = 7\n"
      "mask = 10\n"
      "lat = 35.5\n"
      "lon = -139.25\n"
      "height = 40\n"
      "vel_enu = 1 -2 0.5\n"
      "waypoint = 0 35.5 139.25 40\n"
      "waypoint = 60 35.6 139.3 41\n"
      "clk_bias = 0.0012\n"
      "clk_drift = -2.5e-7\n"
      "outage = 0 10 20\n"
      "outage = 5 30 31.5\n"
      "code_noise = 0.8\n"
      "cn0_noise = 1.5\n"
      "slip = 3 42 -7\n"
      "tcxo_mode = 0\n"
      "meas_rate = 2\n"
      "carrier_slots = 1\n"
      "invert_bits = 1\n"
      "invert_bits_at = 90\n"
      "bit_flip_rate = 0.001\n"
      "batch_loss_rate = 0.01\n"
      "iono_alpha = 2.0e-8 0 -5.96e-8 1.19e-7\n"
      "iono_beta = 1.2e5 0 -1.31e5 1.0e6\n"
      "leap_seconds = 18\n"
      "leap_event = 2450 3 19\n"
      "tropo_model = simple\n"
      "iono_scale = 2.5\n"
      "warm_start = 1\n"
      "warm_start_age = 3600\n"
      "warm_start_iono = 1\n"
      "\n"
      "   \t  \n";
  SKY_SCENARIO_T sc;
  char err[160];
  ASSERT_EQ(SKY_parse_scenario(text, &sc, err, sizeof err), 1) << err;
  EXPECT_EQ(sc.start.week, 2400);
  EXPECT_DOUBLE_EQ(sc.start.tow, 345600.5);
  EXPECT_DOUBLE_EQ(sc.duration_s, 600.0);
  EXPECT_EQ(sc.nsat, 12);
  EXPECT_EQ(sc.seed, 7U);
  EXPECT_DOUBLE_EQ(sc.mask_deg, 10.0);
  EXPECT_DOUBLE_EQ(sc.llh[0], 35.5);
  EXPECT_DOUBLE_EQ(sc.llh[1], -139.25);
  EXPECT_DOUBLE_EQ(sc.llh[2], 40.0);
  EXPECT_DOUBLE_EQ(sc.vel_enu[0], 1.0);
  EXPECT_DOUBLE_EQ(sc.vel_enu[1], -2.0);
  EXPECT_DOUBLE_EQ(sc.vel_enu[2], 0.5);
  ASSERT_EQ(sc.n_waypoints, 2);
  EXPECT_DOUBLE_EQ(sc.waypoints[1][0], 60.0);
  EXPECT_DOUBLE_EQ(sc.waypoints[1][1], 35.6);
  EXPECT_DOUBLE_EQ(sc.waypoints[1][2], 139.3);
  EXPECT_DOUBLE_EQ(sc.waypoints[1][3], 41.0);
  EXPECT_DOUBLE_EQ(sc.clk_bias0_s, 0.0012);
  EXPECT_DOUBLE_EQ(sc.clk_drift, -2.5e-7);
  ASSERT_EQ(sc.n_outages, 2);
  EXPECT_EQ(sc.outages[0].svid, 0);
  EXPECT_EQ(sc.outages[1].svid, 5);
  EXPECT_DOUBLE_EQ(sc.outages[1].t0, 30.0);
  EXPECT_DOUBLE_EQ(sc.outages[1].t1, 31.5);
  EXPECT_DOUBLE_EQ(sc.code_noise_m, 0.8);
  EXPECT_DOUBLE_EQ(sc.cn0_noise_db, 1.5);
  ASSERT_EQ(sc.n_slips, 1);
  EXPECT_EQ(sc.slips[0].svid, 3);
  EXPECT_DOUBLE_EQ(sc.slips[0].t, 42.0);
  EXPECT_DOUBLE_EQ(sc.slips[0].cycles, -7.0);
  EXPECT_EQ(sc.tcxo_mode, 0);
  EXPECT_DOUBLE_EQ(sc.meas_rate_hz, 2.0);
  EXPECT_EQ(sc.carrier_slots, 1);
  EXPECT_EQ(sc.invert_bits, 1);
  EXPECT_EQ(sc.invert_bits_at_s, 90);
  EXPECT_DOUBLE_EQ(sc.bit_flip_rate, 0.001);
  EXPECT_DOUBLE_EQ(sc.batch_loss_rate, 0.01);
  EXPECT_DOUBLE_EQ(sc.iono_alpha[0], 2.0e-8);
  EXPECT_DOUBLE_EQ(sc.iono_beta[3], 1.0e6);
  EXPECT_EQ(sc.leap_s, 18);
  EXPECT_EQ(sc.leap_wn, 2450);
  EXPECT_EQ(sc.leap_dn, 3);
  EXPECT_EQ(sc.leap_s_after, 19);
  EXPECT_EQ(sc.tropo_model, SKY_TROPO_SIMPLE);
  EXPECT_DOUBLE_EQ(sc.iono_scale, 2.5);
  EXPECT_EQ(sc.warm_start, 1);
  EXPECT_DOUBLE_EQ(sc.warm_start_age_s, 3600.0);
  EXPECT_EQ(sc.warm_start_iono, 1);
}

TEST(SkyScenario, TroposphereModelByName) {
  struct WordCase {
    const char* text;
    int model;
  };
  const std::vector<WordCase> cases = {
      {"tropo_model = saastamoinen\n", SKY_TROPO_SAASTAMOINEN},
      {"tropo_model = simple\n", SKY_TROPO_SIMPLE},
      {"tropo_model =   simple   # the kernel's model\n", SKY_TROPO_SIMPLE},
  };
  for (const WordCase& c : cases) {
    SKY_SCENARIO_T sc;
    char err[160];
    ASSERT_EQ(SKY_parse_scenario(c.text, &sc, err, sizeof err), 1) << c.text << err;
    EXPECT_EQ(sc.tropo_model, c.model) << c.text;
  }
}

TEST(SkyScenario, DefaultsForKeysNotGiven) {
  SKY_SCENARIO_T sc;
  sc.nsat = 3;  // overwritten by the defaults
  char err[160];
  ASSERT_EQ(SKY_parse_scenario("lat = 10\n", &sc, err, sizeof err), 1) << err;
  const SKY_SCENARIO_T def{};
  EXPECT_EQ(sc.nsat, def.nsat);
  EXPECT_DOUBLE_EQ(sc.duration_s, def.duration_s);
  EXPECT_DOUBLE_EQ(sc.meas_rate_hz, 1.0);
  EXPECT_EQ(sc.tcxo_mode, 4);
  EXPECT_EQ(sc.invert_bits_at_s, -1);
  EXPECT_EQ(sc.n_waypoints, 0);
  EXPECT_EQ(sc.tropo_model, SKY_TROPO_SAASTAMOINEN);
  EXPECT_DOUBLE_EQ(sc.iono_scale, 1.0);
  EXPECT_EQ(sc.warm_start, 0);
  EXPECT_DOUBLE_EQ(sc.warm_start_age_s, 0.0);
  EXPECT_EQ(sc.warm_start_iono, 0);
  // no trailing newline needed
  ASSERT_EQ(SKY_parse_scenario("nsat = 5", &sc, err, sizeof err), 1) << err;
  EXPECT_EQ(sc.nsat, 5);
}

struct BadCase {
  const char* name;
  const char* text;
  const char* reason;  // expected start of the message
};

TEST(SkyScenario, BadLinesAreRefusedNamingTheLine) {
  const std::vector<BadCase> cases = {
      {"unknown key", "nsat = 4\nfoo = 1\n", "line 2: unknown key: foo"},
      {"no equals sign", "# c\nnsat 4\n", "line 2: expected key = value"},
      {"not a number", "lat = north\n", "line 1: bad number: lat"},
      {"trailing garbage", "lat = 12x\n", "line 1: bad number: lat"},
      {"not finite", "lat = nan\n", "line 1: bad number: lat"},
      {"too few numbers", "vel_enu = 1 2\n", "line 1: 3 numbers expected: vel_enu"},
      {"too many numbers", "lat = 1 2\n", "line 1: 1 number expected: lat"},
      {"empty value", "lat =\n", "line 1: 1 number expected: lat"},
      {"latitude out of range", "lat = 90.5\n", "line 1: value 90.5 out of range"},
      {"nsat zero", "nsat = 0\n", "line 1: value 0 out of range"},
      {"nsat 33", "nsat = 33\n", "line 1: value 33 out of range"},
      {"nsat fraction", "nsat = 4.5\n", "line 1: whole number expected: nsat"},
      {"tcxo mode 5", "tcxo_mode = 5\n", "line 1: value 5 out of range"},
      {"meas rate 3", "meas_rate = 3\n", "line 1: value 3 out of range"},
      {"tow one week", "start_tow = 604800\n", "line 1: start_tow must be below 604800"},
      {"zero duration", "duration = 0\n", "line 1: duration must be positive"},
      {"flip rate above 1", "bit_flip_rate = 1.5\n", "line 1: value 1.5 out of range"},
      {"outage reversed", "outage = 3 20 10\n", "line 1: outage end must follow its start"},
      {"outage svid 33", "outage = 33 1 2\n", "line 1: value 33 out of range"},
      {"slip svid 0", "slip = 0 1 2\n", "line 1: value 0 out of range"},
      {"waypoints not increasing", "waypoint = 10 1 2 3\nwaypoint = 10 1 2 3\n",
       "line 2: waypoint times must increase"},
      {"duplicate key", "nsat = 4\n\nnsat = 5\n", "line 3: key given twice: nsat"},
      {"alpha0 too large", "iono_alpha = 2e-7 0 0 0\n", "line 1: value does not fit its 8-bit message field"},
      {"beta0 too large", "iono_beta = 300000 0 0 0\n", "line 1: value does not fit its 8-bit message field"},
      {"leap day 8", "leap_event = 2400 8 18\n", "line 1: value 8 out of range"},
      {"drift too large", "clk_drift = 1e-3\n", "line 1: value 0.001 out of range"},
      {"unknown troposphere model", "tropo_model = hopfield\n", "line 1: unknown value: tropo_model"},
      {"troposphere model as a number", "tropo_model = 1\n", "line 1: unknown value: tropo_model"},
      {"troposphere model twice", "tropo_model = simple\ntropo_model = simple\n",
       "line 2: key given twice: tropo_model"},
      {"negative iono scale", "iono_scale = -1\n", "line 1: value -1 out of range"},
      {"warm start 2", "warm_start = 2\n", "line 1: value 2 out of range"},
      {"warm start iono 2", "warm_start_iono = 2\n", "line 1: value 2 out of range"},
      {"warm start age fraction", "warm_start_age = 1.5\n", "line 1: whole number expected: warm_start_age"},
      {"warm start age above four weeks", "warm_start_age = 2419201\n", "line 1: value 2.4192e+06 out of range"},
  };
  for (const BadCase& c : cases) {
    SKY_SCENARIO_T sc;
    char err[160] = "untouched";
    EXPECT_EQ(SKY_parse_scenario(c.text, &sc, err, sizeof err), 0) << c.name;
    EXPECT_EQ(std::string(err).rfind(c.reason, 0), 0U) << c.name << ": got \"" << err << "\"";
  }
}

TEST(SkyScenario, TooManyRepeatsAreRefused) {
  std::string text;
  for (int i = 0; i <= SKY_MAX_OUTAGES; ++i)
    text += "outage = 1 " + std::to_string(i) + " " + std::to_string(i + 1) + "\n";
  SKY_SCENARIO_T sc;
  char err[160];
  EXPECT_EQ(SKY_parse_scenario(text.c_str(), &sc, err, sizeof err), 0);
  EXPECT_EQ(std::string(err), "line 17: more than 16 outages: outage");
}

TEST(SkyScenario, LongLineIsRefused) {
  const std::string text = "lat = 1" + std::string(600, ' ') + "\n";
  SKY_SCENARIO_T sc;
  char err[160];
  EXPECT_EQ(SKY_parse_scenario(text.c_str(), &sc, err, sizeof err), 0);
  EXPECT_EQ(std::string(err), "line 1: line too long");
}

TEST(SkyScenario, FileLoadAndMissingFile) {
  char path[] = "/tmp/sky_scenario_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string text = "nsat = 8\r\nlat = -33.9\r\n";
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
  SKY_SCENARIO_T sc;
  char err[160];
  EXPECT_EQ(SKY_load_scenario(path, &sc, err, sizeof err), 1) << err;
  EXPECT_EQ(sc.nsat, 8);
  EXPECT_DOUBLE_EQ(sc.llh[0], -33.9);
  std::remove(path);
  EXPECT_EQ(SKY_load_scenario(path, &sc, err, sizeof err), 0);
  EXPECT_EQ(std::string(err).rfind("cannot open", 0), 0U) << err;
}

TEST(SkyScenario, NulByteInFileIsRefused) {
  char path[] = "/tmp/sky_scenario_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const char text[] = "nsat = 8\n\0lat = 1\n";
  ASSERT_EQ(write(fd, text, sizeof text - 1), static_cast<ssize_t>(sizeof text - 1));
  close(fd);
  SKY_SCENARIO_T sc;
  char err[160];
  EXPECT_EQ(SKY_load_scenario(path, &sc, err, sizeof err), 0);
  EXPECT_EQ(std::string(err), "NUL byte in scenario file");
  std::remove(path);
}

// Arbitrary bytes never crash the parser: each text is accepted or refused
// with a reason.
TEST(SkyScenario, ArbitraryBytesAreRefusedOrAccepted) {
  const char alphabet[] = "=# \t\n\r.-+e0123456789abcdefghijklmnopqrstuvwxyz_";
  uint32_t x = 7;
  for (int k = 0; k < 3000; ++k) {
    std::string text;
    const int len = static_cast<int>((x >> 3) % 200);
    for (int i = 0; i < len; ++i) {
      x = x * 1664525U + 1013904223U;
      text += (x >> 24) % 4 == 0 ? static_cast<char>(1 + (x >> 8) % 255) : alphabet[(x >> 8) % (sizeof alphabet - 1)];
    }
    x = x * 1664525U + 1013904223U;
    SKY_SCENARIO_T sc;
    char err[160] = "";
    if (SKY_parse_scenario(text.c_str(), &sc, err, sizeof err) == 0) {
      EXPECT_NE(err[0], '\0') << "case " << k;
    }
  }
  // the known keys with arbitrary numbers
  const char* keys[] = {"nsat", "lat", "waypoint", "outage", "slip", "leap_event", "iono_alpha", "vel_enu"};
  for (const char* key : keys) {
    for (const char* value : {"1e308", "-1e308", "1e-320", "0x1p3", "3 3 3 3 3", "", "-0", "4294967296"}) {
      SKY_SCENARIO_T sc;
      char err[160] = "";
      const std::string text = std::string(key) + " = " + value + "\n";
      if (SKY_parse_scenario(text.c_str(), &sc, err, sizeof err) == 0) {
        EXPECT_NE(err[0], '\0') << text;
      }
    }
  }
}

}  // namespace
