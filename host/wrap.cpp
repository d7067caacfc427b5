// Target proxy. The measurement, data-bit and search stores and the command
// operations come with issue 5 (message catalogue and target proxy); this
// file holds the RTC slot and the epoch flag that the start-up and the host
// loop need now.
#include "host/wrap.h"

#include "misc/pack.h"

namespace {
S16 Wrap_can_do = 0;
SIO_T Wrap_sio = nullptr;
S16 Wrap_has_rtc_time = 0;
S16 Wrap_rtc_wn = 0;
S32 Wrap_rtc_sec = 0;
U32 Wrap_rtc_subsec = 0;
S16 Wrap_has_asic_meas = 0;
}  // namespace

void WRAP_init(S16 do_wrap, SIO_T sio) {
  Wrap_can_do = do_wrap;
  Wrap_sio = sio;
  Wrap_has_rtc_time = 0;
  Wrap_has_asic_meas = 0;
}

void WRAP_set_asic_rtc(S16 wn, S32 sec, U32 subsec) {
  Wrap_rtc_wn = wn;
  Wrap_rtc_sec = sec;
  Wrap_rtc_subsec = subsec;
  Wrap_has_rtc_time = 1;
}

S16 ASIC_get_rtc(S16* wn, S32* sec, U32* subsec) {
  if (!Wrap_has_rtc_time) return 0;
  *wn = Wrap_rtc_wn;
  *sec = Wrap_rtc_sec;
  *subsec = Wrap_rtc_subsec;
  Wrap_has_rtc_time = 0;
  return 1;
}

void WRAP_set_epoch_complete() { Wrap_has_asic_meas = 1; }

S16 WRAP_standin_take_epoch() {
  if (!Wrap_has_asic_meas) return 0;
  Wrap_has_asic_meas = 0;
  return 1;
}

void WRAP_send_frame(U08* buf, int size) {
  if (!Wrap_can_do || Wrap_sio == nullptr) return;
  const int n = append_checksum(buf, size);
  sio_tx(Wrap_sio, reinterpret_cast<const char*>(buf), n);
}
