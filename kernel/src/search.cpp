// Search tick: the per-second commands to the GPS search engine and the
// conversion of search strategies into engine search states.
#include "kernel/src/search.h"

#include <algorithm>
#include <array>
#include <numbers>

#include "host/wrap.h"
#include "kernel/src/almanac.h"
#include "kernel/src/channel.h"
#include "kernel/src/navigate.h"
#include "kernel/src/satellite.h"
#include "kernel/src/tcxo_freq.h"
#include "misc/saturate.h"

namespace {

constexpr F32 VISIBLE_ELEVATION_RAD = static_cast<F32>(SRCH_VISIBLE_ELEVATION_DEG * std::numbers::pi / 180.0);
constexpr F32 MPS_TO_KMH = 3.6F;
constexpr F32 STATIC_SPEED_KMH = 10.0F;       // at most: static
constexpr F32 SLOW_SPEED_KMH = 65.0F;         // at most: slow
constexpr U16 STATIC_MAX_NO_FIX_S = 10;       // no-fix seconds in a row below which the static hint holds
constexpr U16 MOVING_MIN_NO_FIX_S = 70;       // no-fix seconds in a row from which the receiver counts as moving
constexpr D64 TCXO_PPM_EXTRA_RANGE = 6000.0;  // Hz added to the full and cover-all ranges with tcxo_ppm 1

// Bin step per signal level, in multiples of the scale s (Hz).
constexpr std::array<D64, SRCH_NUM_SIG_LEVELS> BIN_STEP_HZ = {500.0, 500.0, 500.0, 250.0, 250.0, 250.0,
                                                              250.0, 250.0, 62.5,  25.0,  25.0};
// Doppler range per SRST_RANGE_... in Hz; the one-bin range is 1 engine unit, unscaled.
constexpr std::array<D64, SRST_NUM_RANGES> FREQUENCY_RANGE_HZ = {0.0, 125.0, 500.0, 3000.0, 4000.0, 8500.0, 13000.0};

std::array<S32, SRCH_NUM_SIG_LEVELS> Bin_step_table{};
std::array<S32, SRST_NUM_RANGES> Frequency_range_table{};
S16 Tcxo_ppm = 0;
S16 Search_duty_mode = 0;
S16 Sort_sv_count = 0;
S16 Update_clock_count = 0;

void build_tables() {
  const D64 s = TCXO_get_pse_nco_freq_scale();
  for (std::size_t i = 0; i < Bin_step_table.size(); ++i) Bin_step_table[i] = SAT_trunc_s32(BIN_STEP_HZ[i] * s);
  Frequency_range_table[SRST_RANGE_ONE_BIN] = 1;
  for (std::size_t i = 1; i < Frequency_range_table.size(); ++i)
    Frequency_range_table[i] = SAT_trunc_s32(FREQUENCY_RANGE_HZ[i] * s);
}

bool visible(SV_T sv) { return SV_has_valid_azm_elv(sv) != 0 && SV_get_elevation(sv) > VISIBLE_ELEVATION_RAD; }

S16 sat_s16(S32 v) { return static_cast<S16>(std::clamp<S32>(v, -32768, 32767)); }

// Receiver-static hint: 2 static, 1 slow, 0 moving or unknown.
S16 static_hint() {
  if (NV_has_fixed() == 0) return 0;
  const F32 kmh = NV_get_speed() * MPS_TO_KMH;
  const U16 no_fix = NV_get_continuous_no_fix_count();
  if (no_fix < STATIC_MAX_NO_FIX_S && kmh <= STATIC_SPEED_KMH) return 2;
  if (no_fix >= MOVING_MIN_NO_FIX_S) return 0;
  return kmh <= SLOW_SPEED_KMH ? S16{1} : S16{0};
}

// The Doppler list: the GPS-type satellites by elevation, highest first (a
// stable insertion sort, no allocation), the first 20 with their predicted
// Doppler in engine units; the count is the position of the last of them
// above 2 degrees, plus one.
S16 send_doppler_list() {
  std::array<SV_T, SRCH_NUM_GPS_IDS> sorted{};
  std::size_t n = 0;
  for (S16 id = 1; id <= SRCH_NUM_GPS_IDS; ++id) {
    SV_T sv = SV_get_reference(GNSS_TYPE_GPS, id);
    if (sv == nullptr) continue;
    const F32 el = SV_get_elevation(sv);
    std::size_t k = n++;
    for (; k > 0 && SV_get_elevation(sorted[k - 1]) < el; --k) sorted[k] = sorted[k - 1];
    sorted[k] = sv;
  }
  const D64 s = TCXO_get_pse_nco_freq_scale();
  std::array<PSE_PRN_DOPP_T, SRCH_DOPP_LIST_N> list{};
  S16 count = 0;
  for (std::size_t i = 0; i < list.size() && i < n; ++i) {
    list[i].prn = SV_get_svid(sorted[i]);
    list[i].dopp = sat_s16(SAT_trunc_s32(static_cast<D64>(SV_get_doppler(sorted[i])) * s));
    if (visible(sorted[i])) count = static_cast<S16>(i + 1);
  }
  PSE_set_sv_doppler(count, list.data());
  return count;
}

// Correlation-level counts and the tracked counts of the GPS-type channels.
struct TRACK_COUNTS_T {
  S16 tracked;
  S16 strong;
  S16 n_vis;
};
TRACK_COUNTS_T count_channels() {
  std::array<U08, 4> cnr{};  // above 46, 44, 39, 29 dB-Hz
  constexpr std::array<S16, 4> CNR_THR = {46, 44, 39, 29};
  TRACK_COUNTS_T t{};
  for (S16 id = 0; id < NCHAN; ++id) {
    CHAN_T ch = CH_find_reference(id);
    if (CH_get_gnss_type(ch) != GNSS_TYPE_GPS) continue;
    const U16 state = CH_get_state(ch);
    if (state >= CH_FRAMESYNC) {
      const S16 c = CH_get_cnr(ch);
      for (std::size_t k = 0; k < cnr.size(); ++k)
        if (c > CNR_THR[k]) ++cnr[k];
    }
    if (state < CH_TRACK) continue;
    ++t.tracked;
    if (CH_is_weak_track(ch) != 0) continue;
    ++t.strong;
    SV_T sv = CH_get_sv(ch);
    if (sv != nullptr && visible(sv)) ++t.n_vis;
  }
  PSE_update_tm_cnr_status(cnr[0], cnr[1], cnr[2], cnr[3]);
  return t;
}

}  // namespace

S16 SRCH_start_mode_for_sky(S16 start_mode, S32 n_above) {
  if (start_mode == SRST_COLD_START) return SRST_COLD_START;
  return n_above >= SRCH_HOT_START_MIN_SV ? start_mode : S16{SRST_COLD_START};
}

S16 SRCH_count_gps_above_2deg() {
  S16 n = 0;
  for (S16 id = 1; id <= SRCH_NUM_GPS_IDS; ++id) {
    SV_T sv = SV_get_reference(GNSS_TYPE_GPS, id);
    if (sv != nullptr && visible(sv)) ++n;
  }
  return n;
}

void SRCH_init(S16 n_pse, S16 start_mode, S32 clock_offset, S16 search_duty_mode, S16 tcxo_ppm) {
  const S16 start = SRCH_start_mode_for_sky(start_mode, SRCH_count_gps_above_2deg());
  Tcxo_ppm = tcxo_ppm;
  Search_duty_mode = search_duty_mode;
  Sort_sv_count = 0;
  Update_clock_count = 0;
  build_tables();
  SRST_init(n_pse, start);
  SRCH_tick(clock_offset);
  PSE_set_clock_offset(clock_offset);
}

S32 SRCH_get_bin_step(S16 signal_mode) {
  if (signal_mode < 0 || signal_mode >= SRCH_NUM_SIG_LEVELS) return 0;
  return Bin_step_table[static_cast<std::size_t>(signal_mode)];
}
S32 SRCH_get_frequency_range(S16 frequency_range) {
  if (frequency_range < 0 || frequency_range >= SRST_NUM_RANGES) return 0;
  return Frequency_range_table[static_cast<std::size_t>(frequency_range)];
}

S32 SRCH_get_bins(S16 signal_mode, S16 frequency_range) {
  S32 range = SRCH_get_frequency_range(frequency_range);
  const S32 step = SRCH_get_bin_step(signal_mode);
  if (range < 1 || step < 1) return 1;
  if (Tcxo_ppm == 1 && frequency_range >= SRST_RANGE_FULL)
    range =
        SAT_trunc_s32(static_cast<D64>(range) + SAT_trunc_s32(TCXO_PPM_EXTRA_RANGE * TCXO_get_pse_nco_freq_scale()));
  S32 bins = (range - 1) / step + 1;
  if (bins % 2 == 0) ++bins;
  return std::min(bins, SRCH_MAX_BINS);
}

void SRCH_convert_strategy(const SRST_STRATEGY_T* strategy, PSE_STATE_T* state) {
  *state = PSE_STATE_T{};
  const S16 nsets = std::clamp<S16>(strategy->nsets, 0, SRST_MAX_SETS);
  for (S16 k = 0; k < nsets; ++k) {
    const SRST_SET_T& in = strategy->srst_set[static_cast<std::size_t>(k)];
    PSE_SEARCH_SET_T& out = state->set[static_cast<std::size_t>(k)];
    out.mode = static_cast<U08>(in.search_mode);
    out.strength = static_cast<U08>(in.signal_mode);
    out.bins = static_cast<U08>(SRCH_get_bins(in.signal_mode, in.frequency_range));
    out.npse_use = static_cast<U08>(in.n_pse);
  }
  state->nsets = nsets;
  state->primary_set_ndx = strategy->primary_set_ndx;
}

S16 SRCH_send_strategy_list() {
  std::array<SRST_STRATEGY_T, SRST_MAX_STRATEGIES> list{};
  std::array<PSE_STATE_T, SRST_MAX_STRATEGIES> states{};
  S16 mode = 0;
  const S16 n = std::clamp<S16>(SRST_get_strategy_list(list.data(), &mode), 0, SRST_MAX_STRATEGIES);
  for (S16 i = 0; i < n; ++i)
    SRCH_convert_strategy(&list[static_cast<std::size_t>(i)], &states[static_cast<std::size_t>(i)]);
  PSE_set_search_states_array(static_cast<S08>(mode), n, states.data());
  return n;
}

void SRCH_tick(S32 clock_offset) {
  PSE_receiver_is_static(static_hint());

  if (SRST_get_state() == SRST_COLD_SEARCH && NV_has_fixed() == 0) {
    Sort_sv_count = 0;
    Update_clock_count = 0;
  } else {
    if (Sort_sv_count <= 0) {
      SRST_set_nsv_on_sky(send_doppler_list());
      Sort_sv_count = SRCH_SORT_SV_PERIOD_S;
    }
    --Sort_sv_count;
    PSE_set_clock_offset(clock_offset);
  }

  SRST_set_fix_mode_and_speed(NV_get_fixmode(), NV_get_speed());
  const TRACK_COUNTS_T t = count_channels();
  SRST_set_nsv_tracked(t.tracked, t.strong);
  const S16 state = SRST_get_state();
  if (state == SRST_COLD_SEARCH || state == SRST_NORMAL_COLD_SEARCH || state == SRST_COLD_AFTER_FIX_SEARCH)
    SRST_set_nalm_valid(ALM_get_valid_num());

  if (SRST_process_state(t.n_vis) != 0) {
    PSE_pause(0);
    SRST_step();
    if (SRST_has_state_changed() != 0) {
      SRCH_send_strategy_list();
      SRST_clear_state_changed();
    }
    SRST_count_second(1);
  } else {
    PSE_pause(1);
    SRST_count_second(0);
  }
}
