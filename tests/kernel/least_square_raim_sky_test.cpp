// The fix end to end on the simulated sky: broadcast ephemerides decoded from
// the sky's navigation message, the range records fed with each satellite's
// transmit time and carrier Doppler at a receiver-clock epoch, estimation
// inputs formed against a guessed receiver state, and the least-squares fix
// iterated from a guess 2 km off. The fix is compared with the sky's truth:
// position, clock bias, velocity and clock drift. The sky carries no
// ionosphere here (its true delay scaled by 0) and the kernel has no
// broadcast ionosphere either, so only the troposphere models differ.
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "kernel/src/channel.h"
#include "kernel/src/coordinate.h"
#include "kernel/src/ephemeris.h"
#include "kernel/src/kernel_modules.h"
#include "kernel/src/least_square_raim.h"
#include "kernel/src/nav_estimation_inputs.h"
#include "kernel/src/range.h"
#include "kernel/src/satellite.h"
#include "tests/kernel/sky_ephemeris.h"
#include "tools/sky/sky.h"

namespace {

constexpr double C = 299792458.0;
constexpr int WEEK = 2400;
constexpr double T0 = 345600.0;

struct Receiver {
  POS_T pos;
  VEL_T vel;
  D64 bias;   // m
  F32 drift;  // m/s
};

// One epoch: estimation inputs against rx, then the solver. 1 with a result.
S16 solve(const SKY_EPOCH_T& ep, const std::array<RNG_T, 20>& rngs, S16 n, const Receiver& rx, F32 enu[3][3],
          LSQRAIM_OUTPUT_T* out) {
  LLA_T lla{};
  COO_cartesian_to_geodetic(&rx.pos, &lla);
  COO_calculate_enu_tm(static_cast<F32>(lla.lat), static_cast<F32>(lla.lon), enu);
  RNG_update_receiver_states_for_elevation(&rx.pos, enu);
  RNG_update_receiver_states(&rx.pos, &rx.vel, rx.bias, rx.drift);
  RNG_calculate_atmosphere_delay(static_cast<S32>(ep.rx.clock_time.tow), &lla);
  std::array<RNG_T, 20> list = rngs;
  const S16 k = NVESTIN_update(n, list.data(), rx.bias, rx.drift, 0.0, 0.0F, &rx.vel, 1, 0, nullptr);
  EXPECT_EQ(k, n);
  LSQRAIM_INPUT_T in{};
  in.n_estin = NVESTIN_get_inputs(in.estin_all_ary);
  in.n_estin_all = in.n_estin;
  for (S16 i = 0; i < in.n_estin; ++i) in.estin_ary[i] = in.estin_all_ary[i];
  in.rcv_pos_p = &rx.pos;
  in.rcv_vel_p = &rx.vel;
  static VEL_ENU_T venu;
  venu = VEL_ENU_T{enu[0][0] * rx.vel.vx + enu[0][1] * rx.vel.vy + enu[0][2] * rx.vel.vz,
                   enu[1][0] * rx.vel.vx + enu[1][1] * rx.vel.vy + enu[1][2] * rx.vel.vz,
                   enu[2][0] * rx.vel.vx + enu[2][1] * rx.vel.vy + enu[2][2] * rx.vel.vz};
  in.vel_enu_p = &venu;
  in.enu_mat = enu;
  in.alt = lla.alt;
  return LSQRAIM_proc(&in, out);
}

// The sky at 35 N 139 E moving at 10 m/s east and 5 m/s south, its clock
// 30 km and 30 m/s off; up to 12 satellites above 10 degrees bound to range
// records 0..n-1 with their transmit times and Doppler of the epoch.
void setup_sky(SKY_EPOCH_T& ep, std::array<RNG_T, 20>& rngs, S16& n) {
  static SKY_SCENARIO_T sc;  // kept by the sky for the run
  sc = SKY_SCENARIO_T{};
  sc.start = SKY_GPST_T{WEEK, T0};
  sc.nsat = SKY_MAX_SV;
  sc.llh[0] = 35.0;
  sc.llh[1] = 139.0;
  sc.llh[2] = 50.0;
  sc.vel_enu[0] = 10.0;
  sc.vel_enu[1] = -5.0;
  sc.clk_bias0_s = 1.0e-4;  // 30 km
  sc.clk_drift = 1.0e-7;    // 30 m/s
  sc.iono_scale = 0.0;
  sc.tropo_model = SKY_TROPO_SIMPLE;
  EXPECT_EQ(SKY_init(&sc), 1);
  EPH_init_storage_address(nullptr, 0);
  EPH_init(nullptr);
  SV_init();
  CH_init();
  RNG_init();
  NVESTIN_init();
  NVMODEL_set_model(NMODEL_DEFAULT);

  EXPECT_EQ(SKY_epoch_at_clock(SKY_GPST_T{WEEK, T0 + 60.0}, &ep), 1);
  n = 0;
  RNG_reset_calculation();
  for (int i = 0; i < ep.n && n < 12; ++i) {
    const SKY_SIGNAL_T& s = ep.sig[i];
    if (s.visible == 0 || s.el_deg < 10.0) continue;
    load_sky_ephemeris(s.svid, sky_frame(s.svid, WEEK, T0 + 60.0));
    const RNG_T rng = RNG_get_reference(n);
    RNG_set(rng, SV_get_reference(GNSS_TYPE_GPS, s.svid), n);
    EXPECT_EQ(RNG_update_ttime(rng, ep.rx.clock_time.tow - s.pseudorange_m / C), 1);
    RNG_update_carrier_dopp_freq(rng, GNSS_TYPE_GPS, 0, s.doppler_hz);  // as the channel measures it: approaching > 0
    RNG_calculate_range_variance(rng, 45, 0);
    RNG_calculate_range_variance(rng, 45, 0);
    rngs[static_cast<std::size_t>(n++)] = rng;
  }
  EXPECT_GE(n, 6);
  RNG_update_gtc_time(WEEK, ep.rx.clock_time.tow, 1.0, 0.0);
}

TEST(LsqRaimSky, FixFromTheSimulatedSkyAgainstTruth) {
  SKY_EPOCH_T ep{};
  std::array<RNG_T, 20> rngs{};
  S16 n = 0;
  setup_sky(ep, rngs, n);
  // Guess: 2 km off, clock unknown, at rest.
  Receiver rx{POS_T{ep.rx.pos_ecef[0] + 1200.0, ep.rx.pos_ecef[1] - 900.0, ep.rx.pos_ecef[2] + 1300.0},
              VEL_T{0.0F, 0.0F, 0.0F}, 0.0, 0.0F};
  F32 enu[3][3];
  LSQRAIM_OUTPUT_T out{};
  for (int it = 0; it < 5; ++it) {
    ASSERT_EQ(solve(ep, rngs, n, rx, enu, &out), 1);
    ASSERT_EQ(out.lsq_pr_4s3D.has_result, 1);
    ASSERT_EQ(out.lsq_dr_3D.has_result, 1);
    const F32* dx = out.lsq_pr_4s3D.dx;
    const F32* ddx = out.lsq_dr_3D.ddx;
    // ENU corrections back to ECEF: the rows of enu are the local axes.
    rx.pos.px += enu[0][0] * dx[0] + enu[1][0] * dx[1] + enu[2][0] * dx[2];
    rx.pos.py += enu[0][1] * dx[0] + enu[1][1] * dx[1] + enu[2][1] * dx[2];
    rx.pos.pz += enu[0][2] * dx[0] + enu[1][2] * dx[1] + enu[2][2] * dx[2];
    rx.bias += dx[3];
    rx.vel.vx += enu[0][0] * ddx[0] + enu[1][0] * ddx[1] + enu[2][0] * ddx[2];
    rx.vel.vy += enu[0][1] * ddx[0] + enu[1][1] * ddx[1] + enu[2][1] * ddx[2];
    rx.vel.vz += enu[0][2] * ddx[0] + enu[1][2] * ddx[1] + enu[2][2] * ddx[2];
    rx.drift += ddx[3];
  }
  const double dpos =
      std::hypot(rx.pos.px - ep.rx.pos_ecef[0], rx.pos.py - ep.rx.pos_ecef[1], rx.pos.pz - ep.rx.pos_ecef[2]);
  const double dvel =
      std::hypot(rx.vel.vx - ep.rx.vel_ecef[0], rx.vel.vy - ep.rx.vel_ecef[1], rx.vel.vz - ep.rx.vel_ecef[2]);
  std::printf("sky fix with %d satellites: position error %.3f m, clock %.3f m, velocity %.4f m/s, drift %.4f m/s\n", n,
              dpos, rx.bias - C * ep.rx.clk_bias_s, dvel, rx.drift - C * ep.rx.clk_drift);
  EXPECT_LT(dpos, 1.0);
  EXPECT_NEAR(rx.bias, C * ep.rx.clk_bias_s, 1.0);
  EXPECT_LT(dvel, 0.05);
  EXPECT_NEAR(rx.drift, C * ep.rx.clk_drift, 0.05);
  EXPECT_EQ(out.n_estin_pr_used, n);
  EXPECT_LT(out.quality_pr_4s3D.var_residual, 1.0F);
}

// After the first fix the elevation mask applies: satellites below it form
// no input and are marked masked for the sky view.
TEST(LsqRaimSky, ElevationMaskAfterTheFirstFix) {
  SKY_EPOCH_T ep{};
  std::array<RNG_T, 20> rngs{};
  S16 n = 0;
  setup_sky(ep, rngs, n);
  const POS_T pos{ep.rx.pos_ecef[0], ep.rx.pos_ecef[1], ep.rx.pos_ecef[2]};
  LLA_T lla{};
  COO_cartesian_to_geodetic(&pos, &lla);
  F32 enu[3][3];
  COO_calculate_enu_tm(static_cast<F32>(lla.lat), static_cast<F32>(lla.lon), enu);
  RNG_update_receiver_states_for_elevation(&pos, enu);
  const VEL_T vel{0.0F, 0.0F, 0.0F};
  RNG_update_receiver_states(&pos, &vel, 0.0, 0.0F);
  int above = 0;
  for (S16 i = 0; i < n; ++i) above += RNG_get_elevation_in_degree(rngs[static_cast<std::size_t>(i)]) >= 30 ? 1 : 0;
  ASSERT_GT(above, 0);
  ASSERT_LT(above, n);
  const ELV_CNR_MASK_T mask{ELV_CNR_MASK_ELV_ONLY, 30, 45};  // the C/N0 mask is not applied in this mode
  EXPECT_EQ(NVESTIN_update(n, rngs.data(), 0.0, 0.0F, 0.0, 0.0F, &vel, 1, 0, &mask), n);  // before the first fix
  EXPECT_EQ(NVESTIN_update(n, rngs.data(), 0.0, 0.0F, 0.0, 0.0F, &vel, 1, 1, &mask), above);
  for (S16 i = 0; i < n; ++i) {
    const RNG_T r = rngs[static_cast<std::size_t>(i)];
    const bool low = RNG_get_elevation_in_degree(r) < 30;
    EXPECT_EQ(GSV_is_masked(RNG_get_sv(r)), low ? 1 : 0) << "range " << i;
    EXPECT_EQ(NVESTIN_has_data(NVESTIN_get_reference(i)), low ? 0 : 1) << "range " << i;
  }
  const ELV_CNR_MASK_T cnr{ELV_CNR_MASK_CNR_ONLY, 30, 46};  // every range at 45 dB-Hz is below
  EXPECT_EQ(NVESTIN_update(n, rngs.data(), 0.0, 0.0F, 0.0, 0.0F, &vel, 1, 1, &cnr), 0);
  NVESTIN_set_CN0_threshold(46);
  EXPECT_EQ(NVESTIN_update(n, rngs.data(), 0.0, 0.0F, 0.0, 0.0F, &vel, 1, 0, nullptr), 0);
  NVESTIN_set_CN0_threshold(0);
}

}  // namespace
