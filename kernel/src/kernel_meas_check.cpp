// Measurement check. See kernel_meas_check.h.
#include "kernel/src/kernel_meas_check.h"

#include <array>

#include "host/wrap.h"
#include "kernel/src/channel.h"
#include "kernel/src/ephemeris.h"
#include "kernel/src/nav_bad_meas.h"
#include "kernel/src/nav_estimation_inputs.h"
#include "kernel/src/navigate.h"
#include "kernel/src/sbas_geo.h"

namespace {

constexpr S16 XCORR_STRONG_CN0 = 39;         // dB-Hz: the stronger channel lies above this
constexpr S16 XCORR_WEAK_CN0 = 36;           // dB-Hz: the weaker channel lies below this
constexpr S16 XCORR_MIN_CN0_GAP = 21;        // dB: and at least this much weaker
constexpr S16 XCORR_DOPPLER_STEP_HZ = 1000;  // sidelobes repeat every 1 kHz
constexpr S16 XCORR_DOPPLER_TOL_HZ = 3;

S32 CROSS_CORRELATION_KICK = 0;
std::array<bool, NUM_HW_CHANNELS> Dropped{};  // channels dropped in this call

// The assignment (satellite id and tracking issue) each channel was last
// asked to drop: the target releases the channel on the first command, so the
// same assignment is not asked again while reports of it are still arriving.
struct DROP_SENT_T {
  S16 svid;  // kernel id, 0: none asked
  U08 issue_id;
};
std::array<DROP_SENT_T, NUM_HW_CHANNELS> Drop_sent{};

bool ch_ok(S16 ch_id) { return ch_id >= 0 && ch_id < NUM_HW_CHANNELS; }

// ASIC_DROP_CHANNEL for channel ch_id in the target's numbering, once per
// assignment. true when the command was sent.
bool drop_channel(S16 ch_id) {
  if (!ch_ok(ch_id) || Dropped[static_cast<std::size_t>(ch_id)]) return false;
  const CHAN_T ch = CH_find_reference(ch_id);
  if (CH_get_state(ch) == CH_IDLE) return false;
  DROP_SENT_T& sent = Drop_sent[static_cast<std::size_t>(ch_id)];
  const S16 svid = CH_get_svid(ch);
  const U08 issue = CH_get_issue_id(ch);
  if (sent.svid == svid && sent.issue_id == issue) return false;  // asked already
  S16 prn = CH_get_prn(ch);
  if (prn >= SBAS_PRN_MIN) prn = static_cast<S16>(prn - SBAS_TARGET_OFFSET);
  ASIC_drop_channel_signal(ch_id, prn, issue);
  Dropped[static_cast<std::size_t>(ch_id)] = true;
  sent = DROP_SENT_T{svid, issue};
  return true;
}

// The requests the screens left in one estimation input.
void act_on_input(NV_ESTIN_T estin) {
  const S16 ch_id = NVESTIN_get_channel_id(estin);
  const S16 svid = NVESTIN_get_sv_id(estin);
  const U16 type = NVESTIN_get_gnss_type(estin);
  if (NVESTIN_need_clear_ephemeris(estin)) {
    if (type == GNSS_TYPE_SBAS)
      SBAS_GEO_clear_one(svid);
    else if (type == GNSS_TYPE_GPS || type == GNSS_TYPE_QZSS)
      EPH_clear_one(svid);  // ids outside 1..38 are ignored there
  }
  if (!ch_ok(ch_id)) return;
  const CHAN_T ch = CH_find_reference(ch_id);
  if (CH_get_state(ch) == CH_IDLE || CH_get_svid(ch) != svid) return;  // the channel moved on
  if (NVESTIN_need_plus_one_msc(estin)) ASIC_set_ch_shift_one_msc(ch_id, svid, CH_get_issue_id(ch), 1);
  if (NVESTIN_need_minus_one_msc(estin)) ASIC_set_ch_shift_one_msc(ch_id, svid, CH_get_issue_id(ch), -1);
  if (NVESTIN_need_drop_channel(estin)) drop_channel(ch_id);
}

bool gps_or_sbas(CHAN_T ch) {
  const U16 t = CH_get_gnss_type(ch);
  return t == GNSS_TYPE_GPS || t == GNSS_TYPE_SBAS;
}

// A channel that may take part in the cross-correlation check.
bool xcorr_candidate(CHAN_T ch) { return CH_is_tracking(ch) && gps_or_sbas(ch) && !CH_is_first_track_second(ch); }

void cross_correlation_check() {
  for (S16 a = 0; a < NUM_HW_CHANNELS; ++a) {
    const CHAN_T ch_a = CH_find_reference(a);
    const S16 cn0_a = CH_get_cnr(ch_a);
    if (!xcorr_candidate(ch_a) || cn0_a <= XCORR_STRONG_CN0) continue;
    const S16 dopp_a = CH_get_dopp_freq_in_hz(ch_a);
    for (S16 b = 0; b < NUM_HW_CHANNELS; ++b) {
      const CHAN_T ch_b = CH_find_reference(b);
      const S16 cn0_b = CH_get_cnr(ch_b);
      if (b == a || Dropped[static_cast<std::size_t>(b)] || !xcorr_candidate(ch_b) || cn0_b >= XCORR_WEAK_CN0) continue;
      const auto d = static_cast<S16>(dopp_a - CH_get_dopp_freq_in_hz(ch_b));
      const S16 r = static_cast<S16>(d % XCORR_DOPPLER_STEP_HZ);  // sign of d
      if (r >= -XCORR_DOPPLER_TOL_HZ && r <= XCORR_DOPPLER_TOL_HZ && cn0_a - cn0_b >= XCORR_MIN_CN0_GAP) {
        if (drop_channel(b)) ++CROSS_CORRELATION_KICK;
      }
    }
  }
}

}  // namespace

void KMCHECK_init() {
  NV_install_first_fix_bad_meas_check_callback(NVBADMEAS_bad_measurement_check_first_fix);
  NV_install_bad_meas_check_callback(NVBADMEAS_bad_measurement_check);
  CROSS_CORRELATION_KICK = 0;
  Drop_sent.fill(DROP_SENT_T{0, 0});
}

void KMCHECK_check_result_process() {
  Dropped.fill(false);
  std::array<NV_ESTIN_T, NVESTIN_MAX> inputs{};
  const S16 n = NVESTIN_get_inputs(inputs.data());
  for (S16 k = 0; k < n && k < NVESTIN_MAX; ++k) act_on_input(inputs[static_cast<std::size_t>(k)]);
  for (S16 i = 0; i < NUM_HW_CHANNELS; ++i) {
    const CHAN_T ch = CH_find_reference(i);
    if (CH_is_tracking(ch) && CH_get_interference_cnt(ch) > KMCHECK_INTERFERENCE_DROP_SCORE) drop_channel(i);
  }
  cross_correlation_check();
}

S32 KMCHECK_get_cross_correlation_kick_count() { return CROSS_CORRELATION_KICK; }
