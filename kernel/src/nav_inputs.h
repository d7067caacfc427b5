// Readers of the navigation fix, the channels and the RTC module that the
// kernel frame modules use (backup memory, timing). The fix-record readers
// (NV_) are declared in kernel/src/navigate.h, the RTC readers (KRTC_) in
// kernel/src/rtc.h.
#pragma once

#include "kernel/src/navigate.h"
#include "kernel/src/rtc.h"
#include "misc/gnss_types.h"

S16 CH_has_any_real_frame_sync();
