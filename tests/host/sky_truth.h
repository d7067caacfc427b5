// The simulated sky's truth file (truth.csv, tools/sky/README.md "Truth
// file") read once for the end-to-end tests: every E row (the epoch: true
// time, receiver clock, antenna position and velocity, clock bias and drift),
// every S row (a satellite on a channel in that epoch) and the F row (the
// expected first fix). An empty field (an unknown value) reads as NaN.
#pragma once

#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "test_util.h"

namespace talon_test {

inline constexpr double SKY_C_MPS = 299792458.0;

struct SkyTruthEpoch {
  int epoch = 0;
  int gtc_week = 0, gtc_ms = 0;
  double gtc_sec = 0.0;
  int gps_week = 0;
  double tow = 0.0;  // true GPS time of week, s
  int clock_week = 0;
  double clock_tow = 0.0;              // receiver clock reading, s of week
  std::array<double, 3> pos{}, vel{};  // antenna, ECEF m and m/s
  double bias_s = 0.0, drift = 0.0;    // receiver clock - GPS time (s), its rate (s/s)
};

struct SkyTruthSat {
  int ch = 0, state = 0;
  int tx_week = 0;
  double tx_tow = 0.0;  // transmit time of the code received at the epoch, s of week
  double range_m = 0.0, pseudorange_m = 0.0, range_rate_mps = 0.0;
  double doppler_hz = 0.0, cn0 = 0.0, el_deg = 0.0, az_deg = 0.0;
  double fs_tow = NAN;        // frame-sync transmit time, NaN before the channel's data bits
  double mean_doppler = NAN;  // Hz over the interval before the epoch, NaN in a channel's first epoch
  double sv_clock_s = NAN, iono_m = NAN, tropo_m = NAN, pr_fault_m = NAN;
};

struct SkyTruth {
  std::vector<SkyTruthEpoch> epochs;
  std::map<std::pair<std::size_t, int>, SkyTruthSat> sats;  // (epoch index, svid)
  std::map<long long, std::size_t> by_clock_ms;             // receiver clock, ms of week -> epoch index
  std::map<long long, std::size_t> by_gps_ms;               // true GPS time, ms of week -> epoch index
  bool has_first_fix = false;
  double first_fix_tow = 0.0;  // s of week
  // The satellite svid in epoch index e, or null when it was not on a channel.
  const SkyTruthSat* sat(std::size_t e, int svid) const {
    const auto it = sats.find({e, svid});
    return it == sats.end() ? nullptr : &it->second;
  }
};

// The number in field c of f, NaN when the field is missing or empty.
inline double sky_truth_num(const std::vector<std::string>& f, std::size_t c) {
  return c < f.size() && !f[c].empty() ? std::stod(f[c]) : std::numeric_limits<double>::quiet_NaN();
}

inline SkyTruthEpoch sky_truth_epoch(const std::vector<std::string>& f) {
  SkyTruthEpoch e;
  e.epoch = std::stoi(f[1]);
  e.gtc_week = std::stoi(f[2]);
  e.gtc_sec = std::stod(f[3]);
  e.gtc_ms = std::stoi(f[4]);
  e.gps_week = std::stoi(f[5]);
  e.tow = std::stod(f[6]);
  e.clock_week = std::stoi(f[7]);
  e.clock_tow = std::stod(f[8]);
  for (std::size_t k = 0; k < 3; ++k) {
    e.pos[k] = std::stod(f[9 + k]);
    e.vel[k] = std::stod(f[12 + k]);
  }
  e.bias_s = std::stod(f[15]);
  e.drift = std::stod(f[16]);
  return e;
}

inline SkyTruthSat sky_truth_sat(const std::vector<std::string>& f) {
  SkyTruthSat s;
  s.ch = std::stoi(f[3]);
  s.state = std::stoi(f[4]);
  s.tx_week = std::stoi(f[5]);
  s.tx_tow = std::stod(f[6]);
  s.range_m = std::stod(f[7]);
  s.pseudorange_m = std::stod(f[8]);
  s.range_rate_mps = std::stod(f[9]);
  s.doppler_hz = std::stod(f[10]);
  s.cn0 = std::stod(f[11]);
  s.el_deg = std::stod(f[12]);
  s.az_deg = std::stod(f[13]);
  s.fs_tow = sky_truth_num(f, 15);
  s.mean_doppler = sky_truth_num(f, 16);
  s.sv_clock_s = sky_truth_num(f, 17);
  s.iono_m = sky_truth_num(f, 18);
  s.tropo_m = sky_truth_num(f, 19);
  s.pr_fault_m = sky_truth_num(f, 20);
  return s;
}

// The truth file at path (the test fails on a missing file through read_text).
inline SkyTruth read_sky_truth(const std::string& path) {
  SkyTruth t;
  std::istringstream in(read_text(path));
  std::string l;
  while (std::getline(in, l)) {
    if (l.empty() || l[0] == '#') continue;
    const std::vector<std::string> f = split_csv(l);
    if (f[0] == "E" && f.size() >= 17) {
      const SkyTruthEpoch e = sky_truth_epoch(f);
      t.by_clock_ms[std::llround(e.clock_tow * 1000.0)] = t.epochs.size();
      t.by_gps_ms[std::llround(e.tow * 1000.0)] = t.epochs.size();
      t.epochs.push_back(e);
    } else if (f[0] == "S" && f.size() >= 14 && !t.epochs.empty()) {
      t.sats[{t.epochs.size() - 1, std::stoi(f[2])}] = sky_truth_sat(f);
    } else if (f[0] == "F" && f.size() >= 3) {
      t.has_first_fix = true;
      t.first_fix_tow = std::stod(f[2]);
    }
  }
  return t;
}

}  // namespace talon_test
