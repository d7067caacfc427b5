// Faults of the base stream that a scenario may ask for: base epochs that do
// not arrive (gaps, a delivery rate) and RTCM 3 epochs whose GPS message is
// lost while its GLONASS message arrives. Decided per epoch from the seed and
// the epoch's index alone, so that a scenario reproduces them exactly and the
// observables (noise) of every other epoch stay those of the same scenario
// without faults.
#include <cmath>

#include "tools/scenario_sim/sim.h"

namespace {

constexpr unsigned int SALT_DELIVERY = 0x9E3779B9u;
constexpr unsigned int SALT_GPS_LOST = 0x85EBCA6Bu;

// Uniform number in [0, 1) from the seed, the epoch index and a salt (splitmix64).
double fault_uniform(unsigned int seed, long long k, unsigned int salt) {
  unsigned long long z = (static_cast<unsigned long long>(seed) << 32) ^ static_cast<unsigned long long>(k) ^
                         (static_cast<unsigned long long>(salt) << 16);
  z += 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return static_cast<double>(z >> 11) / 9007199254740992.0;
}

long long epoch_index(const SIM_SCENARIO_T* sc, double dT) {
  return sc->interval > 0.0 ? std::llround(dT / sc->interval) : 0;
}

}  // namespace

int sim_base_delivered(const SIM_SCENARIO_T* sc, double dT) {
  for (int i = 0; i < sc->nbase_gap; ++i)
    if (dT >= sc->base_gaps[i][0] - 1e-9 && dT < sc->base_gaps[i][0] + sc->base_gaps[i][1] - 1e-9) return 0;
  if (sc->base_rate >= 1.0) return 1;
  const long long k = epoch_index(sc, dT);
  // Every M-th epoch arrives whatever the draw: no gap reaches base_max_gap.
  const long long m = sc->interval > 0.0 ? static_cast<long long>(std::floor(sc->base_max_gap / sc->interval)) : 1;
  if (m <= 1 || k % m == 0) return 1;
  return fault_uniform(sc->seed, k, SALT_DELIVERY) < sc->base_rate ? 1 : 0;
}

int sim_base_gps_lost(const SIM_SCENARIO_T* sc, double dT) {
  if (sc->base_glo_alone_rate <= 0.0) return 0;
  return fault_uniform(sc->seed, epoch_index(sc, dT), SALT_GPS_LOST) < sc->base_glo_alone_rate ? 1 : 0;
}
