// Report handlers of the host program: one per report type of the host link,
// registered with the dispatcher (misc/dispatch.h) by msg_init. The
// measurement, data-bit and RTC handlers decode their report with the message
// catalogue (misc/host_msg.h) and store it in the target proxy (host/wrap.h),
// which drops and counts what cannot be stored; the RTC report is also kept
// for the start-up handshake and printed ("RTC wn: ..."). PSE_STATUS fills the
// search-status mirror below. The GLONASS search status, the weak-signal
// flags, dead-reckoning data and the temperature report are accepted and not
// used. Every handler but those of dead-reckoning data and temperature first
// flushes the link log (log_data.dat) when it is open.
#pragma once

#include "misc/gnss_types.h"

// The target's last PSE_STATUS report: the GPS search engine's mode, state
// and the four engine words, as the target sends them.
struct HOST_PSE_STATUS_T {
  S08 Pse_Search_Mode;
  S08 Pse_Search_State;
  S08 Pse_0, Pse_1, Pse_2, Pse_3;
};

// The search-status mirror, all zero until the first PSE_STATUS report after
// msg_init. Never null; points to static storage of the handlers, valid for
// the whole run and changed by every PSE_STATUS report.
const HOST_PSE_STATUS_T* HOST_get_pse_status();

// Clear the search-status mirror, reset the dispatcher (DP_initialize: its
// table and its error counters), install the checksum-error handler and
// register every report handler with its message type and frame length.
// Called once before the first byte of a run is dispatched.
void msg_init();
