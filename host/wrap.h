// Target proxy: the kernel's view of the target. Reports received from the
// link are stored here for the kernel to pull; the kernel's commands become
// messages on the link in real time and go nowhere in replay.
#pragma once

#include "host/pc_sio.h"
#include "misc/gnss_types.h"

// Store whether commands may be sent (1: logging mode) and the port; empty every store.
void WRAP_init(S16 do_wrap, SIO_T sio);
// RTC reading of the target (from its report, or from the replay files).
void WRAP_set_asic_rtc(S16 wn, S32 sec, U32 subsec);
// Take the stored RTC reading; 0 when none is stored.
S16 ASIC_get_rtc(S16* wn, S32* sec, U32* subsec);
// A GTC report closed a measurement epoch.
void WRAP_set_epoch_complete();
// Until the proxy's measurement store exists (issue 5): 1 once per completed epoch.
S16 WRAP_standin_take_epoch();
// Send one packed frame (without checksum, size bytes) to the target in logging mode.
void WRAP_send_frame(U08* buf, int size);

// Register the report handlers of the host link (types and lengths) with the dispatcher.
void msg_init();
