// Fuzz target: the range chain from an arbitrary ephemeris record to the
// corrected range. Input layout:
//   128 bytes  an ephemeris record image (every field, NaN and infinity
//              included), marked valid, as satellite 1's broadcast record
//   8 bytes    transmit time (D64, s of week), 8 bytes receive time (D64),
//   2 bytes    week (S16), 8 + 8 + 4 bytes receiver latitude, longitude
//              (D64, rad) and height (F32, m), 4 bytes Doppler (F32, Hz),
//   2 bytes    C/N0 (S16)
//   32 bytes   ionosphere record (4 x F32 alpha, 4 x S32 beta) written to the
//              backup piece with its CRC, so the Klobuchar model runs on it
// Every output the range record gives must be finite, or refused.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "kernel/src/coordinate.h"
#include "kernel/src/correction.h"
#include "kernel/src/ephemeris.h"
#include "kernel/src/range.h"
#include "kernel/src/satellite.h"
#include "misc/crc16.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

using Input = FUZZ_INPUT_T;

std::array<U08, 64> Iono_region;

void require(bool ok) {
  if (!ok) std::abort();
}

bool finite3(const POS_T& p) { return std::isfinite(p.px) && std::isfinite(p.py) && std::isfinite(p.pz); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in{data, size};
  EPH_init_storage_address(nullptr, 0);
  EPH_init(nullptr);
  SV_init();
  RNG_init();
  EPH_T eph = EPH_get_reference(1);
  in.take(eph, sizeof(EPH_S));
  eph->prn = 1;
  eph->valid = 1;
  eph->data_source = 0;
  const D64 ttime = in.get<D64>();
  const D64 rx = in.get<D64>();
  const S16 wn = in.get<S16>();
  LLA_T lla{in.get<D64>(), in.get<D64>(), in.get<F32>()};
  const F32 doppler = in.get<F32>();
  const S16 cn0 = in.get<S16>();
  Iono_region.fill(0);
  in.take(Iono_region.data(), 32);
  const U16 crc = crc16(Iono_region.data(), 32);
  std::memcpy(Iono_region.data() + 32, &crc, sizeof crc);
  COR_init_storage_address(Iono_region.data(), 0);
  COR_init(nullptr);

  const RNG_T rng = RNG_get_reference(3);
  RNG_set(rng, SV_get_reference(GNSS_TYPE_GPS, 1), 3);
  RNG_reset_calculation();
  RNG_calculate_range_variance(rng, cn0, 0);
  RNG_update_carrier_dopp_freq(rng, GNSS_TYPE_GPS, 0, doppler);
  RNG_update_ttime(rng, ttime);
  RNG_update_gtc_time(wn, rx, 1.0, 0.0);

  POS_T rcv{};
  if (std::isfinite(lla.lat) && std::isfinite(lla.lon) && std::isfinite(lla.alt) && std::fabs(lla.lat) <= 1.6 &&
      std::fabs(lla.lon) <= 7.0 && std::fabs(lla.alt) < 1e7F) {
    COO_geodetic_to_cartesian(&lla, &rcv);
    F32 tm[3][3];
    COO_calculate_enu_tm(static_cast<F32>(lla.lat), static_cast<F32>(lla.lon), tm);
    SV_rough(RNG_get_sv(rng), wn, static_cast<S32>(std::isfinite(rx) && std::fabs(rx) < 1e9 ? rx : 0.0), nullptr,
             nullptr);
    RNG_update_receiver_states_for_elevation(&rcv, tm);
    const VEL_T v0{};
    RNG_update_receiver_states(&rcv, &v0, 0.0, 0.0F);
    RNG_calculate_atmosphere_delay(static_cast<S32>(std::isfinite(rx) && std::fabs(rx) < 1e9 ? rx : 0.0), &lla);
  }

  POS_T p{};
  VEL_T v{};
  F32 dc[3] = {0.0F, 0.0F, 0.0F};
  if (RNG_get_sv_position_of_ttime(rng, &p, &v, dc)) {
    require(finite3(p));
    require(std::isfinite(v.vx) && std::isfinite(v.vy) && std::isfinite(v.vz));
    F32 dt = 0.0F, ddt = 0.0F, iono = 0.0F, tropo = 0.0F;
    RNG_get_non_atmosphere_delay(rng, &dt, &ddt);
    RNG_get_atmosphere_delay(rng, &iono, &tropo, nullptr);
    require(std::isfinite(dt) && std::isfinite(ddt) && std::isfinite(iono) && std::isfinite(tropo));
    D64 tr = 0.0;
    if (RNG_get_true_range(rng, &tr) && finite3(rcv)) require(std::isfinite(tr));
  }
  F32 vp = 0.0F, vd = 0.0F;
  RNG_get_variance(rng, &vp, &vd);
  require(std::isfinite(vp) && std::isfinite(vd));
  return 0;
}
