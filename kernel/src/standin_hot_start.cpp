// Stand-ins for what the RTC module's hot-start clock-bias rule reaches through
// its hooks (kernel/src/rtc.h, installed by KCALLBACK_init): the measurement
// predictor's clock-bias flags, until the measurement-prediction module
// (KMPREDICT_) replaces them. The navigation clock setter the hooks call is
// the navigation driver's (NV_set_clock_bias_drift, kernel/src/navigate.cpp).
//
// The predictor's flag follows what KMPREDICT_init does with the kernel's
// start: the clock bias may be predicted after a hot start whose RTC lapse is
// below 7201 s. No estimate from one frame-synchronised channel is made here,
// and a predicted bias is not kept (the predictor does not run yet).
#include "kernel/src/kernel.h"
#include "kernel/src/kernel_modules.h"

namespace {
constexpr S32 CB_PREDICT_MAX_LAPSE = 7201;  // s: a hot start older than this cannot predict the clock bias
}  // namespace

// --- Measurement prediction: clock-bias flags ---------------------------------------------
S16 KMPREDICT_is_can_predict_cb() {
  KERNEL_START_STATE_T st{};
  KERNEL_get_start_state(&st);
  return st.can_do_hot_start != 0 && st.dt >= 0 && st.dt < CB_PREDICT_MAX_LAPSE ? 1 : 0;
}
S16 KMPREDICT_if_predict_cb_is_from_one_ch_fs() { return 0; }
void KMPREDICT_set_has_predict_cb_flag() {}
