// Fast frame sync step. See kernel_fast_fs.h.
#include "kernel/src/kernel_fast_fs.h"

#include "kernel/src/bitcount_predictor.h"
#include "kernel/src/channel.h"
#include "kernel/src/navigate.h"
#include "kernel/src/settings.h"

void KFASTFS_init(S16 has_stored_time_pos, S16 stored_wn, S32 stored_sec) {
  BCP_init(has_stored_time_pos, stored_wn, stored_sec);
}

void KFASTFS_process(S16 gtc_wn, D64 gtc_sec, S16 gtc_is_integer) {
  POS_T pos{};
  NV_get_ecef_position(&pos);
  D64 cbias_m = 0.0;
  F32 cdrift_mps = 0.0F;
  NV_get_clock_bias_drift(&cbias_m, &cdrift_mps);
  const S16 meas_rate = static_cast<S16>(SETTINGS_get_n_hz_position_rate());
  if (NV_get_fixmode() >= FIX_2D) {
    BCP_enable_prediction();
    // The fix is of the previous epoch: its bias carried one second on by the drift.
    D64 cbias_diff = 0.0;
    BCP_process_normal(gtc_wn, gtc_sec, &pos, cbias_m + static_cast<D64>(cdrift_mps), &cbias_diff);
  } else if (meas_rate <= 1 || gtc_is_integer) {
    BCP_process_before_first_fix(gtc_wn, gtc_sec, &pos, cbias_m);
  }
  CH_reset_all_predict_bitcnt0();
  for (S16 i = 0; i < NUM_HW_CHANNELS; ++i) {
    const CHAN_T ch = CH_find_reference(i);
    S32 bitcnt0 = 0;
    if (CH_get_state(ch) == CH_IDLE || CH_has_frame_sync(ch) || !BCP_get_predict_bitcnt0(i, &bitcnt0)) continue;
    CH_update_predict_bitcnt0(ch, CH_get_gnss_type(ch), CH_get_svid(ch), BCP_get_predict_issue_id(i), bitcnt0);
  }
}
