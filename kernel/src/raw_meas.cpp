// Raw measurements: the target's measurement set of an epoch into channel
// inputs in engineering units, the epoch's time count and measurement
// interval counted in TCXO clocks, the noise floor and C/N0.
#include "kernel/src/raw_meas.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "kernel/src/kernel_modules.h"
#include "kernel/src/settings.h"
#include "kernel/src/tcxo_freq.h"
#include "misc/talon_assert.h"

// Time-count shifts seen since start (epochs whose set reported a shift).
S16 GTC_SH_CNT = 0;

namespace {

constexpr F32 NOISE_POWER_REF = 2500000.0f;        // target noise power at the reference TCXO frequency
constexpr F32 NOISE_POWER_REF_FREQ = 16367667.0f;  // Hz
constexpr U32 NOISE_POWER_DEFAULT_MARGIN = 5000;
constexpr U32 NOISE_POWER_FLOOR = 500000;       // smallest noise power the minimum filter takes
constexpr U32 NOISE_POWER_UNSET = 0xFFFFFFFFu;  // "no value yet"
constexpr U32 NOISE_POWER_FIRST_MARGIN = 50000;
constexpr S64 NOISE_POWER_TRACK_WINDOW = 50000;  // inputs this close to the minimum move it
constexpr S64 NOISE_POWER_TRACK_DIV = 16;        // by 1/16 of the difference
constexpr S16 MAX_MEAS_COUNT = 10;
constexpr U16 HALF_SECOND_MS = 500;
constexpr S32 MS_PER_SECOND = 1000;
constexpr U32 SUBSEC_MASK = 0x7FFu;  // WEEK_SUBSEC bits 0..10: ms
constexpr U32 SEC_MASK = 0xFFFFFu;   // INTSEL_SEC bits 0..19: s
constexpr U32 WEEK_MASK = 0xFFFu;    // WEEK_SUBSEC bits 16..27: week
constexpr int WEEK_SHIFT = 16;
constexpr S32 SHIFT_START_MS = 526;                // the target's shifted milliseconds start at this millisecond
constexpr int JAMMER_REPORT_CHANNEL = 10;          // the target reports its jammer indication on this channel
constexpr D64 CARRIER_PHASE_SCALE = 1.0 / 1024.0;  // carrier phase register: 2^-10 cycle
constexpr D64 HALF_CHIP_S = 4.887585532746823e-7;  // 0.5 / 1.023 MHz
constexpr D64 CHIPS_PER_MS = 1023.0;
constexpr D64 FRAC_PER_SUBCHIP = 1024.0;  // code phase fraction: 2^-10 sub-chip
constexpr S16 MAX_CN_SHIFT = 15;
constexpr S16 GPS_INTEG_20MS = 20;

// Code phase register fields.
constexpr U32 CP_CHIP_MASK = 0x3FFu;  // bits 0..9: chip
constexpr int CP_MS_SHIFT = 11;       // bits 11..15: ms within the data bit
constexpr U32 CP_MS_MASK = 31u;
constexpr int CP_FRAC_SHIFT = 16;  // bits 16..25: fraction of a sub-chip, 2^-10
constexpr U32 CP_FRAC_MASK = 0x3FFu;
constexpr int CP_SC_SHIFT = 28;  // bits 28..30: sub-chip, 0 standing for nsc
constexpr U32 CP_SC_MASK = 7u;

// Navigation GNSS selection bits.
constexpr U32 NAV_BIT_GPS = 1u;  // GPS, SBAS and QZSS
constexpr U32 NAV_BIT_GLONASS = 2u;
constexpr U32 NAV_BIT_BD2 = 4u;
constexpr U32 NAV_BIT_GALILEO = 8u;

// --- Module state ---
U32 Default_noise_power = 0;
U32 Min_noise_power = 0;
U32 Current_input_noise_power = 0;
std::array<U32, 2> Last_input_noise_power{};
std::array<U32, WRAP_GLO_NOISE_POWER_N> Current_input_glo_noise_power{};
F32 Inv_tm_freq_scale = 0.0f;
F32 Inv_tm_freq_scale_for_beidou2 = 1.0f;
F32 Inv_tm_freq_scale_for_glonass = 1.0f;
std::array<F32, NUM_HW_CHANNELS> Cnr_tmp{};  // last C/N0 per channel, dB-Hz
S16 Raw_update_rate = 1;                     // epochs per second
S16 Do_update_cnr_flag = 0;
S32 Raw_tcxo_freq = 0;  // Hz
S32 Raw_clock_per_ms0 = 0;
S32 Raw_clock_per_ms1 = 0;
S32 Raw_clock_fraction = 0;  // ms of each second that last Raw_clock_per_ms1 clocks
S16 Raw_ms0_count = 0;       // ms of the epoch's interval that last Raw_clock_per_ms0 clocks
S16 Raw_gtc_shift_count = 0;
U16 Raw_normal_sum_count = 1000;  // ms per epoch
U16 Raw_last_gtc_subsec = 0;
S16 Raw_has_last_gtc_subsec = 0;
S16 Raw_jmr_flag = 0;
S16 Raw_try_use_early_meas = 0;
S16 Raw_meas_count = 0;
S16 Force_unlock_flag = 0;
ASIC_MEAS_T Raw_meas{};  // the set being processed

RAW_GTC_OUT_CALLBACK_T Raw_gtc_out_callback = nullptr;
RAW_COMPENSATE_GTC_CALLBACK_T Raw_compensate_callback = nullptr;
RAW_CAL_RTC_RATIO_CALLBACK_T Raw_cal_rtc_ratio_callback = nullptr;
RAW_MEAS_CALLBACK_T Raw_meas_callback = nullptr;
RAW_EPOCH_DONE_CALLBACK_T Raw_epoch_done_callback = nullptr;

// --- Conversion constants ---

// The GNSS type byte as the small non-negative number it is (a negative byte is no known type).
S16 gnss_type_of(const ASIC_CHAN_MEAS_T* a) { return static_cast<S16>(static_cast<U08>(a->gnss_type)); }

// The satellite number byte (the target numbers 1..56), read without sign.
S16 prn_of(const ASIC_CHAN_MEAS_T* a) { return static_cast<S16>(static_cast<U08>(a->prn)); }

// The GLONASS frequency number (a signed byte, -7..+6), 0 on other channels.
S16 k_num_of(const ASIC_CHAN_MEAS_T* a) {
  if (gnss_type_of(a) != GNSS_TYPE_GLONASS) return 0;
  const S16 k = static_cast<S16>(static_cast<U08>(a->k_num));
  return k > 127 ? static_cast<S16>(k - 256) : k;
}

RAW_CNV_PARAM_T get_gnss_raw_parameters(S16 gnss_type) {
  RAW_CNV_PARAM_T p{};
  p.ideal_bb_carrier_freq = TCXO_get_ideal_baseband_carrier_freq();
  p.noise_power = static_cast<F32>(Current_input_noise_power);
  p.inv_tm_freq_scale = Inv_tm_freq_scale;
  if (gnss_type == GNSS_TYPE_BD2) p.inv_tm_freq_scale = Inv_tm_freq_scale_for_beidou2;
  if (gnss_type == GNSS_TYPE_GLONASS) p.inv_tm_freq_scale = Inv_tm_freq_scale_for_glonass;
  p.chipnum_reg_mask = CP_CHIP_MASK;
  p.ms_per_bit = gnss_type == GNSS_TYPE_SBAS ? 2 : 20;
  p.chips_per_ms = 1023;
  return p;
}

bool is_enabled_gnss_type(S16 gnss_type) {
  const U32 bits = SETTINGS_get_nav_gnss_type_bits();
  switch (gnss_type) {
    case GNSS_TYPE_GPS:
    case GNSS_TYPE_SBAS:
    case GNSS_TYPE_QZSS:
      return (bits & NAV_BIT_GPS) != 0;
    case GNSS_TYPE_GLONASS:
      return (bits & NAV_BIT_GLONASS) != 0;
    case GNSS_TYPE_BD2:
      return (bits & NAV_BIT_BD2) != 0;
    case GNSS_TYPE_GALILEO:
      return (bits & NAV_BIT_GALILEO) != 0;
    default:
      return false;
  }
}

// The target numbers SBAS signals 38..56: the kernel's ids are 82 higher.
S16 kernel_svid(S16 gnss_type, S16 prn) {
  constexpr S16 TARGET_SBAS_MIN = SBAS_PRN_MIN - SBAS_TARGET_OFFSET;  // 38
  constexpr S16 TARGET_SBAS_MAX = SBAS_PRN_MAX - SBAS_TARGET_OFFSET;  // 56
  if ((prn >= TARGET_SBAS_MIN && prn <= TARGET_SBAS_MAX) || gnss_type == GNSS_TYPE_SBAS)
    return static_cast<S16>(prn + SBAS_TARGET_OFFSET);
  return prn;
}

// --- Noise floor ---

// The minimum noise power follows the quietest inputs: three inputs in a row
// below it replace it by the largest of them; an input within 50 000 of it
// moves it by a sixteenth of the difference.
void filte_minimum_noise_power(U32 in) {
  in = std::max(in, NOISE_POWER_FLOOR);
  if (Min_noise_power == NOISE_POWER_UNSET) {
    Min_noise_power = in + NOISE_POWER_FIRST_MARGIN;
  } else if (in < Min_noise_power && Last_input_noise_power[0] < Min_noise_power &&
             Last_input_noise_power[1] < Min_noise_power) {
    Min_noise_power = std::max({in, Last_input_noise_power[0], Last_input_noise_power[1]});
  } else if (in != Last_input_noise_power[0]) {
    const S64 d = static_cast<S64>(in) - Min_noise_power;
    if (d > -NOISE_POWER_TRACK_WINDOW && d < NOISE_POWER_TRACK_WINDOW)
      Min_noise_power = static_cast<U32>(static_cast<S64>(Min_noise_power) + d / NOISE_POWER_TRACK_DIV);
  }
  Last_input_noise_power[1] = Last_input_noise_power[0];
  Last_input_noise_power[0] = in;
}

U32 noise_power_for_cnr() { return Min_noise_power == NOISE_POWER_UNSET ? Current_input_noise_power : Min_noise_power; }

// --- Clock counts ---

// TCXO clocks of the milliseconds [start_subsec, end_subsec) of a second: an
// end of 0 means 1000, equal marks a whole second, an end before the start
// wraps through the second. Millisecond m lasts Raw_clock_per_ms1 clocks when
// m < Raw_clock_fraction, else Raw_clock_per_ms0. *ms0_count_p: milliseconds
// of Raw_clock_per_ms0 clocks in the span.
S64 calc_gtc_interval_clock_count(S32 start_subsec, S32 end_subsec, S32* ms0_count_p) {
  if (end_subsec == 0) end_subsec = MS_PER_SECOND;
  S32 n = end_subsec - start_subsec;
  if (n <= 0) n += MS_PER_SECOND;
  // Milliseconds below the fraction inside [start, start + n) modulo 1000.
  S32 long_ms = 0;
  const S32 a = start_subsec;
  const S32 b = start_subsec + n;  // at most 1999
  long_ms += std::max(0, std::min(b, Raw_clock_fraction) - std::min(a, Raw_clock_fraction));
  if (b > MS_PER_SECOND) long_ms += std::min(b - MS_PER_SECOND, Raw_clock_fraction);
  *ms0_count_p = n - long_ms;
  return static_cast<S64>(n) * Raw_clock_per_ms0 + long_ms;
}

// Clocks of |gtc_shift_count| shifted milliseconds, signed like the shift:
// they start at millisecond 526 of the second.
S64 calc_shift_clock_count(S16 gtc_shift_count) {
  const S64 n = std::abs(static_cast<S32>(gtc_shift_count));
  S64 clocks = 0;
  if (Raw_clock_fraction == 0)
    clocks = n * Raw_clock_per_ms0;
  else if (n + SHIFT_START_MS - 1 < Raw_clock_fraction)
    clocks = n * Raw_clock_per_ms1;
  else {
    const S64 n1 = std::clamp<S64>(Raw_clock_fraction - SHIFT_START_MS, 0, n);
    clocks = n1 * Raw_clock_per_ms1 + (n - n1) * Raw_clock_per_ms0;
  }
  return gtc_shift_count < 0 ? -clocks : clocks;
}

// TCXO clocks that really elapsed from the previous epoch (or one nominal
// period back) to this one; the clocks of the milliseconds the target shifted
// its time count by are removed and given in *shift_clock_count_p.
S64 calc_gtc_real_clock_count(U16 subsec, S16 gtc_shift_count, S64* shift_clock_count_p) {
  S32 start = 0;
  if (Raw_has_last_gtc_subsec) {
    start = Raw_last_gtc_subsec % MS_PER_SECOND;  // a hostile register may exceed 999
  } else {
    S32 period = MS_PER_SECOND / std::max<S16>(Raw_update_rate, 1);
    if (Raw_update_rate <= 1 && subsec == HALF_SECOND_MS) period = HALF_SECOND_MS;
    start = (static_cast<S32>(subsec) - period + MS_PER_SECOND) % MS_PER_SECOND;
  }
  S32 ms0 = 0;
  const S64 span = calc_gtc_interval_clock_count(start, subsec % MS_PER_SECOND, &ms0);
  Raw_ms0_count = static_cast<S16>(ms0);
  *shift_clock_count_p = gtc_shift_count != 0 ? calc_shift_clock_count(gtc_shift_count) : 0;
  return span - *shift_clock_count_p;
}

// A channel's accumulated carrier (cycles) as a frequency (Hz): over the
// epoch's clock count, or, when the channel accumulated another number of
// milliseconds than the epoch has, over the clocks of its own milliseconds.
D64 compensate_acc_carrier_cycle_by_gtc_shift(D64 cycle, U32 acc_carrier_cycle_count, U32 gtc_clock_count) {
  S64 clocks = gtc_clock_count;
  if (acc_carrier_cycle_count != Raw_normal_sum_count) {
    const S64 count = std::min<U32>(acc_carrier_cycle_count, 100000u);
    const S64 ms0 = std::min<S64>(count, Raw_ms0_count);
    clocks = ms0 * Raw_clock_per_ms0 + (count - ms0) * Raw_clock_per_ms1;
  }
  if (clocks <= 0) return 0.0;
  return cycle * static_cast<D64>(Raw_tcxo_freq) / static_cast<D64>(clocks);
}

// --- Time count ---

// Week (12 bits) and whole seconds of the time-count registers. The seconds
// field has 20 bits (0..1 048 575) but a week only 604 800 s: a count past the
// week's end is reduced modulo 604 800 and the whole weeks go to the week
// (modulo 4096, the width of its field), so that the time stays continuous.
S16 raw_gtc_week_and_sec(const GTC_RD_T* gtc, U32* sec_p) {
  const U32 sec = gtc->INTSEL_SEC & SEC_MASK;
  const U32 wn = (gtc->WEEK_SUBSEC >> WEEK_SHIFT) & WEEK_MASK;
  const auto week_s = static_cast<U32>(SECONDS_PER_WEEK);
  *sec_p = sec % week_s;
  return static_cast<S16>((wn + sec / week_s) & WEEK_MASK);
}

// Week and time of week (s) of the time-count registers; the target's
// milliseconds are unequal when the TCXO frequency is not a whole number of
// kHz: the first `fraction` of each second last one clock longer.
void raw_gtc_convert(const GTC_RD_T* gtc, S16* wn_p, D64* tow_p) {
  U32 sec = 0;
  *wn_p = raw_gtc_week_and_sec(gtc, &sec);
  const S32 ms = static_cast<S32>(gtc->WEEK_SUBSEC & SUBSEC_MASK);
  if (Raw_clock_fraction == 0 || ms == 0 || Raw_tcxo_freq <= 0) {
    *tow_p = sec + ms * 0.001;
    return;
  }
  S64 clocks = 0;
  if (ms < Raw_clock_fraction)
    clocks = static_cast<S64>(ms) * Raw_clock_per_ms1;
  else
    clocks = static_cast<S64>(ms - Raw_clock_fraction) * Raw_clock_per_ms0 +
             static_cast<S64>(Raw_clock_per_ms1) * Raw_clock_fraction;
  *tow_p = sec + static_cast<D64>(clocks) / Raw_tcxo_freq;
}

// --- Channel conversion steps ---

// Position of the code within the current data bit, s. false when the
// sub-chip count nsc is 0 (no sub-chip resolution this epoch).
bool decode_sub_bit(const ASIC_CHAN_MEAS_T* a, const RAW_CNV_PARAM_T& p, D64* sub_bit_p) {
  if (a->nsc == 0) return false;
  const U32 reg = a->code_phase_reg;
  S32 ms = static_cast<S32>((reg >> CP_MS_SHIFT) & CP_MS_MASK);
  if (p.ms_per_bit != 20) ms %= p.ms_per_bit;
  const S32 chip = static_cast<S32>(reg & p.chipnum_reg_mask);
  S32 sc = static_cast<S32>((reg >> CP_SC_SHIFT) & CP_SC_MASK);
  if (sc == 0) sc = a->nsc;
  sc -= 1;
  const S32 frac = static_cast<S32>((reg >> CP_FRAC_SHIFT) & CP_FRAC_MASK);
  const D64 nsc = a->nsc;
  *sub_bit_p = 0.001 * (ms + (chip - 1) / CHIPS_PER_MS + sc / (nsc * CHIPS_PER_MS) +
                        frac / (nsc * CHIPS_PER_MS * FRAC_PER_SUBCHIP)) -
               a->peak_tap_loc / (nsc * CHIPS_PER_MS * 1000.0) + HALF_CHIP_S;
  return true;
}

// Carrier slots of the epoch; a count outside 0..10 gives none.
void convert_carrier_slots(const ASIC_CHAN_MEAS_T* a, CCYCLE_IN_T* out) {
  const S32 count = static_cast<S16>(a->carrier_phase_ary_count);  // one sign-extended byte on the link
  if (count < 0 || count > CCYCLE_MAX_SLOTS) {
    out->array_count = 0;
    return;
  }
  for (S32 i = 0; i < count; ++i) {
    const auto k = static_cast<std::size_t>(i);
    const D64 end_phase =
        i + 1 < count ? static_cast<D64>(a->start_carrier_phase_ary[k + 1]) : static_cast<D64>(a->end_carrier_phase);
    const D64 cycles = a->acc_carrier_cycle_ary[k] + (end_phase - a->start_carrier_phase_ary[k]) * CARRIER_PHASE_SCALE;
    out->array[k].acc_carrier_cycle = static_cast<F32>(cycles);
    out->array[k].carrier_phase_no_good_count = a->carrier_phase_no_good_count_ary[k];
    out->array[k].acc_carrier_cycle_count = a->acc_carrier_cycle_count_ary[k];
  }
  out->array_count = static_cast<U16>(count);
}

S16 unlock_of(const ASIC_CHAN_MEAS_T* a) {
  if (Force_unlock_flag || a->acc_carrier_cycle_count == 0) return 1;
  const bool gps_like = gnss_type_of(a) == GNSS_TYPE_GPS || gnss_type_of(a) == GNSS_TYPE_BD2;
  if (gps_like && a->cn_integ == GPS_INTEG_20MS && a->unlock_status >= 1 && a->unlock_status <= 3) return 1;
  return a->unlock_count;
}

// The minimal input of a channel below CH_TRACK: state and identity only.
void minimal_input(const ASIC_CHAN_MEAS_T* a, CH_MEAS_INPUT_T* in) {
  *in = CH_MEAS_INPUT_T{};
  in->track_state = a->state;
  if (a->state == CH_IDLE) return;
  in->gnss_type = gnss_type_of(a);
  in->svid = kernel_svid(in->gnss_type, prn_of(a));
  in->k_num = k_num_of(a);
  in->issue_id = a->track_issue;
}

}  // namespace

// --- C/N0 ---------------------------------------------------------------------------
F32 RAW_calculate_cnr(const ASIC_CHAN_MEAS_T* a, U32 noise_power) {
  if (a->cn_count <= 0 || a->cn_integ <= 0 || a->cn_div <= 0 || a->cn_shift < 0 || a->cn_shift > MAX_CN_SHIFT)
    return 0.0f;
  const S64 x = static_cast<S64>(a->acc_power) / a->cn_count;
  const S64 div2 = static_cast<S64>(a->cn_div) * a->cn_div;
  // cn_integ < 2^15 and noise_power < 2^32: the product fits 47 bits.
  const S64 y = (static_cast<S64>(a->cn_integ) * (static_cast<S64>(noise_power) / div2)) >> (2 * a->cn_shift);
  if (y <= 0) return 0.0f;
  const S64 z = x / y - 1;
  const S64 per_integ = 1000 / a->cn_integ;
  if (z <= 0 || per_integ <= 0) return 0.0f;
  const D64 cnr = 10.0 * std::log10(static_cast<D64>(per_integ) * static_cast<D64>(z));
  return cnr > 0.0 ? static_cast<F32>(cnr) : 0.0f;
}

void RAW_convert_channel(S16 ch_id, U32 gtc_clock_count, const ASIC_CHAN_MEAS_T* a, CH_MEAS_INPUT_T* out) {
  talon_assert(ch_id >= 0 && ch_id < NUM_HW_CHANNELS, "raw channel id");
  *out = CH_MEAS_INPUT_T{};
  const RAW_CNV_PARAM_T p = get_gnss_raw_parameters(gnss_type_of(a));
  out->has_sub_bit = decode_sub_bit(a, p, &out->sub_bit) ? 1 : 0;
  out->nco_freq = static_cast<F32>(a->dop_freq * static_cast<D64>(p.inv_tm_freq_scale));
  const D64 cycles = a->acc_carrier_cycle + a->carrier_phase * CARRIER_PHASE_SCALE;
  const D64 carrier_freq =
      compensate_acc_carrier_cycle_by_gtc_shift(cycles, a->acc_carrier_cycle_count, gtc_clock_count);
  out->dopp_freq = static_cast<F32>(p.ideal_bb_carrier_freq - carrier_freq);
  out->dopp_freq_by_nco_freq = static_cast<F32>(p.ideal_bb_carrier_freq - out->nco_freq);
  out->acc_cycle_count = a->acc_carrier_cycle_count;
  convert_carrier_slots(a, &out->carrier_in);
  out->bitcnt = a->bitcnt;
  out->track_state = a->state;
  out->gnss_type = gnss_type_of(a);
  out->svid = kernel_svid(out->gnss_type, prn_of(a));
  out->k_num = k_num_of(a);
  out->integ_time = static_cast<S08>(a->cn_integ);
  out->issue_id = a->track_issue;
  out->integ_divider = a->cn_div;
  out->unlock_status = a->unlock_status;
  out->loop_gain_mode = a->loop_gain_mode;
  out->code_phase_reg2 = a->code_phase_reg2;
  out->ch_noise_power = a->ch_noise_power;
  out->signal_source = static_cast<U08>(a->debug_msg & 0xFFu);
  out->bs_source = static_cast<U08>((a->debug_msg >> 8) & 0xFFu);
  const auto k = static_cast<std::size_t>(ch_id);
  if (Do_update_cnr_flag) Cnr_tmp[k] = RAW_calculate_cnr(a, noise_power_for_cnr());
  out->cnr = Cnr_tmp[k];
  out->unlock = unlock_of(a);
}

// --- Life cycle ---------------------------------------------------------------------
void RAW_init() {
  const U32 f = TCXO_get_tcxo_freq();
  const F32 ratio = static_cast<F32>(f) / NOISE_POWER_REF_FREQ;
  Default_noise_power = static_cast<U32>(NOISE_POWER_REF * ratio * ratio);
  Min_noise_power = Default_noise_power + NOISE_POWER_DEFAULT_MARGIN;
  Current_input_noise_power = Min_noise_power;
  Last_input_noise_power.fill(NOISE_POWER_UNSET);
  Current_input_glo_noise_power.fill(0);
  const F32 scale = TCXO_get_tm_nco_freq_scale();
  Inv_tm_freq_scale = scale != 0.0f ? 1.0f / scale : 0.0f;
  Inv_tm_freq_scale_for_beidou2 = 1.0f;
  Inv_tm_freq_scale_for_glonass = 1.0f;
  Cnr_tmp.fill(0.0f);
  Raw_update_rate = std::max<S16>(SETTINGS_get_n_hz_position_rate(), 1);
  Raw_tcxo_freq = static_cast<S32>(f);
  Raw_clock_per_ms0 = static_cast<S32>(TCXO_get_asic_clock_per_ms0());
  Raw_clock_per_ms1 = Raw_clock_per_ms0 + 1;
  Raw_clock_fraction = static_cast<S32>(TCXO_get_asic_clock_fraction());
  Raw_normal_sum_count = static_cast<U16>(Raw_update_rate > 1 ? MS_PER_SECOND / Raw_update_rate : MS_PER_SECOND);
  Do_update_cnr_flag = 0;
  Raw_ms0_count = 0;
  Raw_gtc_shift_count = 0;
  Raw_last_gtc_subsec = 0;
  Raw_has_last_gtc_subsec = 0;
  Raw_jmr_flag = 0;
  Raw_try_use_early_meas = 0;
  Raw_meas_count = 0;
  Force_unlock_flag = 0;
  GTC_SH_CNT = 0;
}

namespace {

// Step 7 of an epoch: every channel's input to its record.
void update_all_channels(U32 real_clock_count) {
  for (S16 ch = 0; ch < NUM_HW_CHANNELS; ++ch) {
    const ASIC_CHAN_MEAS_T& a = Raw_meas.chan[static_cast<std::size_t>(ch)];
    CH_MEAS_INPUT_T in{};
    if (a.state < CH_TRACK) {
      minimal_input(&a, &in);
      CH_update_measurement(CH_find_reference(ch), &in);
      if (ch == JAMMER_REPORT_CHANNEL) Raw_jmr_flag = static_cast<S16>(a.unlock_status & 0xFFFFu);
    } else if (is_enabled_gnss_type(gnss_type_of(&a))) {
      RAW_convert_channel(ch, real_clock_count, &a, &in);
      CH_update_measurement(CH_find_reference(ch), &in);
    }
  }
}

// Step 12: how the UTC output advances at this epoch.
void shift_utc_output(U16 subsec) {
  UTC_time_shift(UTC_NORMAL);
  if (!Raw_try_use_early_meas || Raw_update_rate > 1) return;
  if (Raw_meas_count == 1)
    UTC_time_shift(UTC_ADVANCE_ONE_SECOND);
  else if (Raw_meas_count == 2 && subsec == HALF_SECOND_MS)
    UTC_time_shift(UTC_ADVANCE_HALF_SECOND);
}

}  // namespace

S16 RAW_process_measurement() {
  if (!ASIC_get_measurements(&Raw_meas)) return 0;
  if (Raw_meas_callback != nullptr) Raw_meas_callback(&Raw_meas);
  if (Raw_meas_count < MAX_MEAS_COUNT) ++Raw_meas_count;
  Raw_gtc_shift_count = Raw_meas.gtc_shift_count;
  if (Raw_gtc_shift_count != 0) ++GTC_SH_CNT;

  const U16 subsec = static_cast<U16>(Raw_meas.gtc.WEEK_SUBSEC & SUBSEC_MASK);
  U32 sec = 0;
  raw_gtc_week_and_sec(&Raw_meas.gtc, &sec);
  Do_update_cnr_flag = 0;
  CH_set_measurement_update_event(sec, subsec, Raw_gtc_shift_count);
  CH_set_gtc_clock_counts(Raw_meas.acc_clocks_ary_count, Raw_meas.acc_clocks_ary.data(),
                          Raw_meas.acc_subsecs_ary.data());
  // At one epoch per second the half-second set is not used.
  const bool half_second_at_1hz = Raw_update_rate <= 1 && subsec == HALF_SECOND_MS;
  if (half_second_at_1hz && !Raw_try_use_early_meas) return 0;

  if (subsec == 0 || half_second_at_1hz) {
    Do_update_cnr_flag = 1;
    if (Raw_meas.noise_power != 0) {
      Current_input_noise_power = Raw_meas.noise_power;
      filte_minimum_noise_power(Raw_meas.noise_power);
    }
  }
  S64 shift_clock_count = 0;
  const S64 real_clock_count = calc_gtc_real_clock_count(subsec, Raw_gtc_shift_count, &shift_clock_count);
  update_all_channels(static_cast<U32>(std::max<S64>(real_clock_count, 0)));

  S16 gtc_wn = 0;
  D64 gtc_tow = 0.0;
  raw_gtc_convert(&Raw_meas.gtc, &gtc_wn, &gtc_tow);
  if (Raw_compensate_callback != nullptr)
    Raw_compensate_callback(Raw_meas.gtc_sync_to_gps_time_error_unit_is_gtc_clock, subsec == 0 ? 1 : 0);
  const D64 f = Raw_tcxo_freq > 0 ? static_cast<D64>(Raw_tcxo_freq) : 1.0;
  const D64 gtc_meas_dt = static_cast<D64>(real_clock_count) / f;
  const D64 gtc_shift_dt = Raw_gtc_shift_count != 0 ? static_cast<D64>(shift_clock_count) / f : 0.0;
  if (Raw_gtc_out_callback != nullptr) Raw_gtc_out_callback(gtc_wn, gtc_tow, gtc_meas_dt, gtc_shift_dt);
  if (subsec == 0 && Raw_cal_rtc_ratio_callback != nullptr)
    Raw_cal_rtc_ratio_callback(Raw_meas.rtc_gtc_meas.record_rtc_sec, Raw_meas.rtc_gtc_meas.record_rtc_wn_subsec,
                               Raw_meas.rtc_gtc_meas.record_read_rtc_delay_time_after_gtc_subsec_0_unit_is_gtc_clock);
  shift_utc_output(subsec);
  Raw_last_gtc_subsec = subsec;
  Raw_has_last_gtc_subsec = 1;
  if (Raw_epoch_done_callback != nullptr) Raw_epoch_done_callback(subsec);
  return 1;
}

void RAW_install_gtc_out_callback(RAW_GTC_OUT_CALLBACK_T func) { Raw_gtc_out_callback = func; }
void RAW_install_compensate_gtc_sync_to_gps_time_error_callback(RAW_COMPENSATE_GTC_CALLBACK_T func) {
  Raw_compensate_callback = func;
}
void RAW_install_cal_rtc_ratio_callback(RAW_CAL_RTC_RATIO_CALLBACK_T func) { Raw_cal_rtc_ratio_callback = func; }
void RAW_install_raw_meas_callback(RAW_MEAS_CALLBACK_T func) { Raw_meas_callback = func; }
void RAW_install_epoch_done_callback(RAW_EPOCH_DONE_CALLBACK_T func) { Raw_epoch_done_callback = func; }
void RAW_try_to_use_early_meas_in_hot_start() { Raw_try_use_early_meas = 1; }
void RAW_stop_use_early_meas_in_hot_start() { Raw_try_use_early_meas = 0; }
void RAW_set_force_unlock_flag(S16 flag) { Force_unlock_flag = flag; }
S16 RAW_get_jammer_flag() { return Raw_jmr_flag; }
void RAW_get_noise_power(U32* min_noise_power_p, U32* current_noise_power_p) {
  *min_noise_power_p = Min_noise_power;
  *current_noise_power_p = Current_input_noise_power;
}
void RAW_get_glo_noise_power(U32* glo_noise_power_p) {
  std::copy(Current_input_glo_noise_power.begin(), Current_input_glo_noise_power.end(), glo_noise_power_p);
}
void RAW_reset_minimum_noise_power(U32 noise_power) {
  Min_noise_power = noise_power;
  Last_input_noise_power.fill(NOISE_POWER_UNSET);
}
