// Fuzz target: arbitrary measurement sets through the bad-measurement
// screens and the least-squares fix with RAIM. Every value is taken raw from
// the input (NaN, infinities and huge values included). Input layout:
//   byte 0   platform model (mod 6), bit 7: reuse the first handles in the
//            good-carrier list (repeated handles)
//   byte 1   number of inputs (mod 21), byte 2 good-carrier count (mod 23,
//            beyond 20 refused), byte 3 3-D fix count
//   then     per input: pr_diff D64, dr_diff D64, dc F32[3], C/N0 S16 and
//            bit-sync source U08
//   then     the ECEF-to-ENU rotation F32[9], the receiver position D64[3],
//            velocity F32[3], east/north/up velocity F32[3], held altitude F32
//            and last speed F32
// Whatever the input, every result the solver reports is finite.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kernel/src/kernel_modules.h"
#include "kernel/src/least_square_raim.h"
#include "kernel/src/nav_bad_meas.h"
#include "kernel/src/nav_estimation_inputs.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

using Input = FUZZ_INPUT_T;

void check(bool ok) {
  if (!ok) __builtin_trap();
}

void check_pr(const LSQRAIM_LSQ_PR_T& p) {
  if (p.has_result == 0) return;
  for (float x : p.dx) check(std::isfinite(x));
  for (float x : p.inv_mat) check(std::isfinite(x));
}

void check_dr(const LSQRAIM_LSQ_DR_T& p) {
  if (p.has_result == 0) return;
  for (float x : p.ddx) check(std::isfinite(x));
  check(std::isfinite(p.h_speed) && std::isfinite(p.v_speed));
}

void check_q(const LSQRAIM_QUALITY_T& q) {
  if (q.has_pdop != 0) check(std::isfinite(q.pdop));
  if (q.has_quality == 0) return;
  check(std::isfinite(q.var_residual));
  check(q.n_residuals >= 0 && q.n_residuals <= LSQRAIM_MAX_INPUTS);
  for (S16 i = 0; i < q.n_residuals; ++i) check(std::isfinite(q.r[i]) && std::isfinite(q.slope[i]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in{data, size};
  const auto cfg = in.get<U08>();
  NVMODEL_set_model(static_cast<S16>((cfg & 0x7F) % 6));
  const S16 n = static_cast<S16>(in.get<U08>() % 21);
  const S16 n_good = static_cast<S16>(in.get<U08>() % 23);
  const U32 fix_3d = in.get<U08>();
  NVESTIN_init();
  LSQRAIM_INPUT_T li{};
  S16 n_all = 0;
  for (S16 i = 0; i < n; ++i) {
    NVESTIN_VALUES_T v{};
    v.pr_diff = in.get<D64>();
    v.dr_diff = in.get<D64>();
    v.dr_diff_static = v.dr_diff;
    for (float& d : v.dc) d = in.get<F32>();
    v.cn0 = in.get<S16>();
    v.bs_mode = in.get<U08>();
    v.sv_id = static_cast<S16>(i + 1);
    v.gnss_type = GNSS_TYPE_GPS;
    v.has_good_carrier = 1;
    if (NV_ESTIN_T e = NVESTIN_set_input(i, &v); e != nullptr) li.estin_all_ary[n_all++] = e;
  }
  std::array<NV_ESTIN_T, NVESTIN_MAX> list{};
  const S16 nl = NVESTIN_get_inputs(list.data());
  (void)NVBADMEAS_bad_measurement_check_first_fix(nl, list.data(), fix_3d);
  (void)NVBADMEAS_bad_measurement_check(nl, list.data(), fix_3d);
  li.n_estin_all = n_all;
  li.n_estin = n_good;
  for (S16 i = 0; i < LSQRAIM_MAX_INPUTS; ++i)
    li.estin_ary[i] = (cfg & 0x80) != 0 ? li.estin_all_ary[i % 2] : li.estin_all_ary[i];
  static F32 enu[3][3];
  for (auto& row : enu)
    for (float& x : row) x = in.get<F32>();
  static POS_T pos;
  static VEL_T vel;
  static VEL_ENU_T venu;
  pos = POS_T{in.get<D64>(), in.get<D64>(), in.get<D64>()};
  vel = VEL_T{in.get<F32>(), in.get<F32>(), in.get<F32>()};
  venu = VEL_ENU_T{in.get<F32>(), in.get<F32>(), in.get<F32>()};
  li.alt = in.get<F32>();
  li.last_speed = in.get<F32>();
  li.fix_3D_count = fix_3d;
  li.enu_mat = enu;
  li.rcv_pos_p = &pos;
  li.rcv_vel_p = &vel;
  li.vel_enu_p = &venu;
  LSQRAIM_OUTPUT_T out{};
  const S16 r = LSQRAIM_proc(&li, &out);
  check(r == 0 || r == 1);
  check_pr(out.lsq_pr_4s3D);
  check_pr(out.lsq_pr_4s2D);
  check_pr(out.lsq_pr_5s);
  check_dr(out.lsq_dr_3D);
  check_dr(out.lsq_dr_2D);
  for (const LSQRAIM_QUALITY_T* q :
       {&out.quality_pr_4s3D, &out.quality_pr_4s2D, &out.quality_pr_5s, &out.quality_dr_3D, &out.quality_dr_2D})
    check_q(*q);
  check(out.n_estin_pr_used >= 0 && out.n_estin_pr_used <= LSQRAIM_MAX_INPUTS);
  F32 a = 0, b = 0, c = 0, p = 0, eb = 0, sb = 0;
  S16 id = 0;
  if (LSQRAIM_get_RAIM_enu_error(&a, &b, &c, &id, &p, &eb, &sb) == 1)
    check(std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(eb) && std::isfinite(sb));
  return 0;
}
