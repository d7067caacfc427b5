#include "kernel/src/tcxo_freq.h"

#include <array>

namespace {

struct TcxoMode {
  U32 freq_hz;           // nominal TCXO frequency, Hz
  U32 pll_ratio;         // mixer-1 PLL multiplication
  S32 mixer1_nco_word;   // mixer-1 NCO word, 2^-28 of the TCXO frequency
  F32 ideal_bb_freq_hz;  // ideal zero-Doppler baseband frequency, Hz
  S32 pse_nco_offset0;   // search NCO offset at zero Doppler
  S32 tm_nco_offset0;    // tracking NCO offset at zero Doppler
  F32 pse_freq_scale;    // 2^26 / f, NCO units per Hz
  F32 tm_freq_scale;     // 2^29 / f, NCO units per Hz
};

constexpr std::array<TcxoMode, TCXO_NUM_MODES> TCXO_TBL = {{
    {16367667, 96, 67108864, 32051.25f, 131412, 1051303, 4.1000871658325195f, 32.800697326660156f},
    {16368000, 96, 67108864, 0.0f, 0, 0, 4.100003719329834f, 32.80002975463867f},
    {16369000, 96, 67108864, -96250.0f, -394601, -3156810, 4.099753379821777f, 32.79802703857422f},
    {19500000, 81, -56164957, 0.0f, 0, 0, 3.4414801597595215f, 27.531841278076172f},
    {24552000, 64, 44739243, 0.0f, 0, 0, 2.7333359718322754f, 21.866687774658203f},
}};

constexpr D64 GPS_L1_HZ = 1575.42e6;
constexpr D64 TWO_POW_26 = 67108864.0;
constexpr D64 TWO_POW_28 = 268435456.0;
constexpr D64 TWO_POW_29 = 536870912.0;

int Tcxo_freq_mode = 4;
F32 Ideal_bb_freq = 0.0f;
S32 Pse_nco_offset0 = 0;
S32 Tm_nco_offset0 = 0;

const TcxoMode& mode_tbl() { return TCXO_TBL[static_cast<std::size_t>(Tcxo_freq_mode)]; }

}  // namespace

S16 TCXO_init(int tcxo_freq_mode) {
  if (tcxo_freq_mode < 0 || tcxo_freq_mode >= TCXO_NUM_MODES) return 0;
  Tcxo_freq_mode = tcxo_freq_mode;
  const TcxoMode& m = mode_tbl();
  const D64 f = m.freq_hz;
  // What mixer 1 leaves after the PLL and the NCO, against the ideal baseband frequency.
  const D64 required_mixer1 = GPS_L1_HZ - f * m.pll_ratio;
  const F32 residual =
      static_cast<F32>(required_mixer1 - static_cast<D64>(m.mixer1_nco_word) * f / TWO_POW_28) - m.ideal_bb_freq_hz;
  Pse_nco_offset0 = m.pse_nco_offset0 + static_cast<S32>(static_cast<D64>(residual) * TWO_POW_26 / f);
  Tm_nco_offset0 = m.tm_nco_offset0 + static_cast<S32>(static_cast<D64>(residual) * TWO_POW_29 / f);
  Ideal_bb_freq = m.ideal_bb_freq_hz + residual;
  return 1;
}

U32 TCXO_convert_mode_to_freq(int mode) {
  return (mode >= 0 && mode < TCXO_NUM_MODES) ? TCXO_TBL[static_cast<std::size_t>(mode)].freq_hz : 0;
}
U32 TCXO_get_tcxo_freq() { return mode_tbl().freq_hz; }
U32 TCXO_get_sampling_freq(S16) { return mode_tbl().freq_hz; }
F32 TCXO_get_ideal_baseband_carrier_freq() { return Ideal_bb_freq; }
S32 TCXO_get_pse_nco_offset0() { return Pse_nco_offset0; }
F32 TCXO_get_pse_nco_freq_scale() { return mode_tbl().pse_freq_scale; }
S32 TCXO_get_tm_nco_offset0() { return Tm_nco_offset0; }
F32 TCXO_get_tm_nco_freq_scale() { return mode_tbl().tm_freq_scale; }
U32 TCXO_get_asic_clock_per_ms0() { return mode_tbl().freq_hz / 1000u; }
U32 TCXO_get_asic_clock_fraction() { return mode_tbl().freq_hz - 1000u * (mode_tbl().freq_hz / 1000u); }
