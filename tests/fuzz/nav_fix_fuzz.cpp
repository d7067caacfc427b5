// Fuzz target: the navigation fix path (range records -> estimation inputs
// -> first fix / least squares with RAIM -> fix record) fed arbitrary
// measurement sets. Eight satellites of the simulated sky carry real
// broadcast ephemerides; the input gives, for up to 12 epochs:
//   1 byte     epoch time step (s, 0..255 with the week step below)
//   1 byte     week step (0: none, else the week counter wraps 1023 -> 0)
//   8 bytes    a raw offset added to the epoch's receiver time (D64, s; NaN
//              and infinity included)
//   per satellite (8): 1 byte present flag, 8 bytes transmit-time error
//   (D64, s), 4 bytes Doppler (F32, Hz), 2 bytes C/N0 (S16)
// After every epoch the fix record must hold finite values only: position,
// velocity, geodetic position, clock, time and DOPs.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "kernel/src/channel.h"
#include "kernel/src/dbits_parity.h"
#include "kernel/src/ephemeris.h"
#include "kernel/src/kernel_modules.h"
#include "kernel/src/navigate.h"
#include "kernel/src/range.h"
#include "kernel/src/satellite.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/kernel/fix_record_finite.h"
#include "tools/sky/sky.h"

namespace {

constexpr int WEEK = 2400;
constexpr double T0 = 345600.0;
constexpr double C = 299792458.0;
constexpr int NSAT = 8;
constexpr int MAX_EPOCHS = 12;

using Input = FUZZ_INPUT_T;

void require(bool ok) {
  if (!ok) std::abort();
}

struct SkyView {
  SKY_EPOCH_T ep{};
  std::array<int, NSAT> svid{};
  std::array<double, NSAT> pr{}, dopp{};
  int n = 0;
};

// The sky once: the receiver at 35 N 139 E, its clock 1e-4 s off; the first
// eight satellites above 10 degrees.
const SkyView& sky() {
  static SkyView v;
  static bool done = false;
  if (done) return v;
  static SKY_SCENARIO_T sc;
  sc.start = SKY_GPST_T{WEEK, T0};
  sc.nsat = SKY_MAX_SV;
  sc.llh[0] = 35.0;
  sc.llh[1] = 139.0;
  sc.llh[2] = 50.0;
  sc.clk_bias0_s = 1.0e-4;
  require(SKY_init(&sc) == 1);
  require(SKY_epoch_at_clock(SKY_GPST_T{WEEK, T0 + 60.0}, &v.ep) == 1);
  for (int i = 0; i < v.ep.n && v.n < NSAT; ++i) {
    const SKY_SIGNAL_T& s = v.ep.sig[i];
    if (s.visible == 0 || s.el_deg < 10.0) continue;
    v.svid[v.n] = s.svid;
    v.pr[v.n] = s.pseudorange_m;
    v.dopp[v.n] = s.doppler_hz;
    ++v.n;
  }
  require(v.n == NSAT);
  done = true;
  return v;
}

// Subframes 1..3 of the frame of svid at T0 + 60 s into its broadcast record.
void load_ephemeris(int svid) {
  const int first = static_cast<int>(std::floor((T0 + 60.0) / 30.0)) * 50;
  U32 w[3][10];
  U32 prev = SKY_nav_word(svid, WEEK, first - 1);
  for (int s = 0; s < 3; ++s)
    for (int i = 0; i < 10; ++i) {
      const U32 word = SKY_nav_word(svid, WEEK, first + s * 10 + i);
      w[s][i] = DBP_polarity_corrected(word | ((prev & 3U) << 30));
      prev = word;
    }
  EPH_T e = EPH_get_reference(static_cast<S16>(svid));
  EPH_clear_one(static_cast<S16>(svid));
  EPH_set_data_source(static_cast<S16>(svid), 0);
  EPH_update_datawords(e, w);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const SkyView& v = sky();
  Input in{data, size};
  EPH_init_storage_address(nullptr, 0);
  EPH_init(nullptr);
  SV_init();
  CH_init();
  RNG_init();
  NV_init();
  NVMODEL_set_model(NMODEL_DEFAULT);
  for (int i = 0; i < NSAT; ++i) load_ephemeris(v.svid[static_cast<std::size_t>(i)]);
  S16 wn = WEEK;
  D64 t = v.ep.rx.clock_time.tow;
  for (int e = 0; e < MAX_EPOCHS && in.size > 0; ++e) {
    const int step = in.get<std::uint8_t>();
    if (in.get<std::uint8_t>() != 0) wn = static_cast<S16>((wn + 1) % 1024);
    const D64 offset = in.get<D64>();
    t += step;
    const D64 tr = t + offset;
    RNG_reset_calculation();
    std::array<RNG_T, 20> rngs{};
    S16 n = 0;
    for (int i = 0; i < NSAT; ++i) {
      const bool present = (in.get<std::uint8_t>() & 1U) != 0;
      const D64 terr = in.get<D64>();
      const F32 dopp = in.get<F32>();
      const S16 cn0 = in.get<S16>();
      if (!present) continue;
      const RNG_T rng = RNG_get_reference(n);
      RNG_set(rng, SV_get_reference(GNSS_TYPE_GPS, static_cast<S16>(v.svid[static_cast<std::size_t>(i)])), n);
      RNG_update_ttime(rng, tr - v.pr[static_cast<std::size_t>(i)] / C + terr);
      RNG_update_carrier_dopp_freq(rng, GNSS_TYPE_GPS, 0, v.dopp[static_cast<std::size_t>(i)] + dopp);
      RNG_calculate_range_variance(rng, cn0, 0);
      rngs[static_cast<std::size_t>(n++)] = rng;
    }
    RNG_update_gtc_time(wn, tr, 1.0, 0.0);
    NV_process(wn, tr, n, rngs.data(), 1.0, 0.0);
    require(NVTEST_fix_record_is_finite());
  }
  return 0;
}
