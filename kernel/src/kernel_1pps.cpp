// 1PPS pulse scheduling: the pulse position and second length sent to the
// target once a second.
#include "kernel/src/kernel_1pps.h"

#include <cmath>

#include "host/wrap.h"
#include "kernel/src/kernel_interface.h"
#include "kernel/src/navigate.h"
#include "kernel/src/tcxo_freq.h"
#include "timing/timing.h"

namespace {

constexpr D64 L = SPEED_OF_LIGHT;      // m/s: one second of clock bias in metres
constexpr U32 PPS_COUNT_LIMIT = 1000;  // the counts saturate here
constexpr U64 US_PER_S = 1000000;
constexpr D64 TWO_POW_32 = 4294967296.0;
constexpr int SORREL_REF_MODE = 4;  // the TCXO mode whose frequency drives the pulse block
constexpr U32 SORREL_MULT = 6;

S16 Pps_is_outputing = 0;
U32 Pps_count = 0;
U32 T6_pps_count = 0;
S16 CB_SOURCE = 0;  // clock-bias source of this second (only the navigation here)
F32 T8_PPS_CB = 0.0f;
U32 Pps_width = 800;  // us, as last sent
U32 Pps_hi_clk = 0;   // Hz: the chip's high-rate pulse clock has no source in this program
S16 Glo_pps_block_clock_source_mode = TIMING_SORREL_PPS_CLOCK_SOURCE_IS_REF_CLOCK_X8;
U32 Glo_pps_run_clock = 0;

// A non-negative double to U32, truncated toward zero; NaN and negatives give
// 0, values beyond the range the largest count.
U32 to_u32(D64 v) {
  if (!(v > 0.0)) return 0;
  if (v >= TWO_POW_32) return 0xFFFFFFFFU;
  return static_cast<U32>(v);
}

// x modulo one second of metres, brought into [0, L).
D64 wrap_second(D64 x) {
  D64 t = std::fmod(x, L);
  if (t < 0.0) t += L;
  return t;
}

void cal_and_make_1pps_pulse(D64 cb, F32 cd) {
  K1PPS_PULSE_T p;
  K1PPS_compute_pulse(cb, cd, TIMING_get_pps_cable_delay(), TCXO_get_tcxo_freq(), Pps_hi_clk, TIMING_get_freq_out_hz(),
                      &p);
  const U32 width = TIMING_get_pps_width();
  if (width != Pps_width) {
    Pps_width = width;
    ASIC_set_pps_width(static_cast<U32>(static_cast<U64>(width) * Pps_hi_clk / US_PER_S));
  }
  T8_PPS_CB = static_cast<F32>(p.offset_s);
  ASIC_set_1pps(K1PPS_VALID_AND_CAN_ADJ_GTC, p.tcxo_offset, p.tcxo_period);
  Pps_is_outputing = 1;
  ASIC_set_1pps_for_T8(p.hi_clk_offset, p.hi_clk_period, p.freq_out_enable, p.nco_increment);
  if (T6_pps_count < PPS_COUNT_LIMIT) ++T6_pps_count;
}

}  // namespace

void K1PPS_compute_pulse(D64 cb_m, F32 cd_mps, S32 cable_delay_0_01ns, U32 tcxo_hz, U32 hi_clk_hz, U32 freq_out_hz,
                         K1PPS_PULSE_T* out) {
  if (out == nullptr) return;
  const D64 cd = cd_mps;
  // The bias one second later (one second of drift added), m.
  D64 t = wrap_second(cb_m + cd);
  // From GPS seconds to receiver-clock seconds: times (1 + drift).
  t = wrap_second(t / L * cd + t);
  // The cable delay (0.01 ns) in metres moves the pulse later.
  const D64 cable_m = static_cast<D64>(static_cast<F32>(cable_delay_0_01ns) * 0.01f) * L * static_cast<D64>(1e-9f);
  t = wrap_second(cable_m + t);
  const D64 s = t / L;
  out->offset_s = s;
  out->hi_clk_offset = to_u32(static_cast<D64>(hi_clk_hz) * s + 0.5);
  out->tcxo_offset = to_u32(static_cast<D64>(tcxo_hz) * s + 0.5);
  // Receiver-clock length of one GPS second relative to one: 1 + r + r^2.
  const auto r = static_cast<F32>(cd / L);
  const F32 k = r * (r + 1.0f) + 1.0f;
  out->tcxo_period = to_u32(static_cast<D64>(tcxo_hz) * static_cast<D64>(k));
  out->hi_clk_period = to_u32(static_cast<D64>(k) * static_cast<D64>(hi_clk_hz));
  out->freq_out_enable = freq_out_hz != 0 ? 1 : 0;
  // Without a pulse clock there is nothing to divide by: increment 0.
  out->nco_increment = hi_clk_hz == 0 ? 0U
                                      : to_u32(2.0 * static_cast<D64>(freq_out_hz) / static_cast<D64>(hi_clk_hz) *
                                               TWO_POW_32 / static_cast<D64>(k));
}

void K1PPS_init() {
  Pps_is_outputing = 0;
  Pps_count = 0;
  T6_pps_count = 0;
  Glo_pps_run_clock = 0;
  Glo_pps_block_clock_source_mode = TIMING_SORREL_PPS_CLOCK_SOURCE_IS_REF_CLOCK_X8;
  TIMING_install_time_status_reader(KINTERFACE_get_time_status);
}

void K1PPS_process() {
  CB_SOURCE = 0;
  if (TIMING_is_time_avalialbe() == 0 && Pps_count == 0) {
    ASIC_set_1pps(K1PPS_INVALID, 0, 0);
    Pps_is_outputing = 0;
    return;
  }
  D64 cb = 0.0;
  F32 cd = 0.0f;
  NV_get_clock_bias_drift(&cb, &cd);
  if (Pps_count < PPS_COUNT_LIMIT) ++Pps_count;
  cal_and_make_1pps_pulse(cb, cd);
}

S16 K1PPS_is_1pps_outputing() { return Pps_is_outputing; }
U32 K1PPS_get_pps_count() { return Pps_count; }
U32 K1PPS_get_command_count() { return T6_pps_count; }
F32 K1PPS_get_last_offset_s() { return T8_PPS_CB; }

void K1PPS_set_sorrel_pps_run_clock_source_mode(S16 mode) {
  Glo_pps_block_clock_source_mode = mode;
  int shift = 1;
  switch (mode) {
    case TIMING_SORREL_PPS_CLOCK_SOURCE_IS_REF_CLOCK_X1:
      shift = 3;
      break;
    case TIMING_SORREL_PPS_CLOCK_SOURCE_IS_REF_CLOCK_X2:
      shift = 2;
      break;
    case TIMING_SORREL_PPS_CLOCK_SOURCE_IS_REF_CLOCK_X4:
      shift = 1;
      break;
    case TIMING_SORREL_PPS_CLOCK_SOURCE_IS_REF_CLOCK_X8:
      shift = 0;
      break;
    default:
      break;
  }
  Glo_pps_run_clock = (TCXO_convert_mode_to_freq(SORREL_REF_MODE) * SORREL_MULT) >> shift;
}
S16 K1PPS_get_sorrel_pps_run_clock_source_mode() { return Glo_pps_block_clock_source_mode; }
U32 K1PPS_get_sorrel_pps_run_clock() { return Glo_pps_run_clock; }
