// Simulated rover/base scenarios of the tests: one builder over the
// simulator's defaults (GPS week 2400, 1 Hz, base antenna 35 N 139 E 50 m,
// rover 100 m E 50 m N 2 m up, noise-free, 31 satellites, 5 deg mask) and the
// simulation of a scenario into memory.
#pragma once

#include <vector>

#include "tools/scenario_sim/sim.h"

namespace sim_test {

constexpr double PHASE_3MM = 0.003 / 0.190293673;  // 3 mm of GPS L1 carrier phase, cycles

// A scenario built from the defaults by small named modifiers; it is a
// SIM_SCENARIO_T, so any other field is set directly.
struct Scenario : SIM_SCENARIO_T {
  Scenario() = default;
  explicit Scenario(const SIM_SCENARIO_T& from) : SIM_SCENARIO_T(from) {}
  // Starts at GPS week and time of week tow0 (s), lasts duration (s).
  Scenario(int week_number, double start_tow, double length_s) {
    week = week_number;
    tow0 = start_tow;
    duration = length_s;
  }
  // Base antenna at 48.78 N 9.18 E, 320 m above the ellipsoid.
  Scenario& base_48n() {
    base_llh[0] = 48.78;
    base_llh[1] = 9.18;
    base_llh[2] = 320.0;
    return *this;
  }
  // Rover offset from the base at the start, m east, north and up.
  Scenario& rover_at(double east, double north, double up) {
    rover_enu[0] = east;
    rover_enu[1] = north;
    rover_enu[2] = up;
    return *this;
  }
  // Rover moving at east, north (and up) m/s.
  Scenario& moving(double east, double north, double up = 0.0) {
    rover_vel_enu[0] = east;
    rover_vel_enu[1] = north;
    rover_vel_enu[2] = up;
    return *this;
  }
  // Noise of 1 sigma: code (m), carrier phase (cycles), Doppler (Hz).
  Scenario& noise(double code_m, double phase_cycles, double doppler_hz = 0.0) {
    code_noise = code_m;
    phase_noise = phase_cycles;
    doppler_noise = doppler_hz;
    return *this;
  }
  Scenario& seeded(unsigned int s) {
    seed = s;
    return *this;
  }
  // Walking at speed (m/s) along a circle of radius (m) from the start, turning left.
  Scenario& walking(double speed, double radius) {
    walk_speed = speed;
    walk_radius = radius;
    return *this;
  }
  // One more canopy window (start s, length s, satellites shaded, slip kind).
  Scenario& shaded(const SIM_CANOPY_T& window) {
    if (ncanopy < SIM_MAX_CANOPY) canopy[ncanopy++] = window;
    return *this;
  }
  // Lasting length_s seconds; satellites tracked above elmask_deg.
  Scenario& lasting(double length_s) {
    duration = length_s;
    return *this;
  }
  Scenario& mask(double elmask_deg) {
    elmask = elmask_deg;
    return *this;
  }
  // Seconds between epochs.
  Scenario& every(double interval_s) {
    interval = interval_s;
    return *this;
  }
};

// The streams, truth and recorder file of a simulated scenario.
struct SimPair {
  std::vector<U08> rover, base;    // CRVRAW rover stream; base stream (CRVRAW or RTCM 3)
  std::vector<U08> rb;             // both as a recorder file (rb.bin), when asked for
  std::vector<SIM_TRUTH_T> truth;  // one per rover epoch
  std::vector<SIM_MARK_T> marks;   // stream sizes after each epoch
  int epochs = 0;                  // rover epochs (sim_run_to_memory's return)
};

// Simulates sc into memory; with_rb: also the recorder file.
inline SimPair simulate(const SIM_SCENARIO_T& sc, bool with_rb = false) {
  SimPair p;
  p.epochs = sim_run_to_memory(&sc, &p.rover, &p.base, &p.truth, &p.marks);
  if (with_rb) sim_make_rb(p.rover, p.base, p.marks, &p.rb);
  return p;
}

// The same scenario as RINEX 3 text (the rover's receiver clock bias is not
// written: RINEX carries none) and the CRVRAW streams of that run.
struct SimRinex {
  std::vector<U08> rover, base;    // CRVRAW streams
  std::vector<SIM_TRUTH_T> truth;  // one per rover epoch
  SIM_RINEX_T rinex;               // rover and base observation text, GPS navigation text
  int epochs = 0;                  // rover epochs (sim_run_rinex's return)
};

inline SimRinex simulate_rinex(const SIM_SCENARIO_T& sc) {
  SimRinex r;
  r.epochs = sim_run_rinex(&sc, &r.rover, &r.base, &r.truth, &r.rinex);
  return r;
}

}  // namespace sim_test
