// The target's answer to the host's hot-start time prediction in a
// closed-loop run of the simulated sky (ASIC_SET_HOT_START_PREDICT_TIME).
//
// What the message asks. At a hot start the host predicts, from its stored
// fix and the RTC lapse since, the GPS time at which the RTC showed the
// reading the target reported at start (record_rtc_sec + record_rtc_subsec /
// 32768 s), and sends it as a time count: gtc_sec (second of week) +
// gtc_subsec ms + gtc_ssubsec TCXO clocks (of TCXO frequency / 1000 (integer)
// per millisecond). The target sets its time count so that it would have read
// that value at that RTC moment; from then on the host takes the time count's
// time of week as GPS time (the week from its own prediction) until a frame
// sync confirms it.
//
// The answer. The sky's time count is the receiver clock, so setting it is a
// step of the receiver clock (SKY_clock_step): afterwards the clock reads the
// predicted time at the RTC moment and its bias is the prediction's error.
// The first valid message of a run is taken when the step is at most 10 s
// (the scenario's clock-bias range); later ones, the "no prediction" message
// (valid_flag 0) and messages with a field out of range are recorded only.
// The record keeps what the host predicted against the truth.
#pragma once

#include <cstdint>

#include "misc/host_msg.h"
#include "tools/sky/sky.h"
#include "tools/sky/sky_link.h"

// The first hot-start time message of a run and its truth.
struct SKY_HOT_RECORD_T {
  int valid_flag = 0;          // as sent: 1 a prediction, 0 none
  int32_t gtc_sec = 0;         // predicted time count: second of week
  int16_t gtc_subsec = 0;      // ms
  int16_t gtc_ssubsec = 0;     // TCXO clocks within the ms
  int32_t rtc_sec = 0;         // the RTC reading it is for: second of week
  int16_t rtc_subsec = 0;      // 1/32768 s
  int in_range = 0;            // 1 when every field is in its range (and a run is going)
  SKY_GPST_T rtc_true;         // true GPS time at which the RTC showed that reading
  SKY_GPST_T predicted;        // the predicted time as GPS time (the week nearest rtc_true)
  double error_s = 0.0;        // predicted - true, s
  double bias_before_s = 0.0;  // receiver clock - GPS time at rtc_true before the answer, s
  double step_s = 0.0;         // receiver clock step taken (0 when not applied), s
  int applied = 0;             // 1 when the time count was set from it
};

// Forget the record and the count (a new closed-loop run).
void SKY_HOT_reset();
// Take one ASIC_SET_HOT_START_PREDICT_TIME frame (checked by the caller:
// sync, type, length, checksum): record the first of the run and answer it
// as above. 1 when it was in range (applied or not), 0 otherwise (counted).
int SKY_HOT_take(const U08* frame);
// Messages taken this run.
int SKY_HOT_count();
// The first message's record; null before one came.
const SKY_HOT_RECORD_T* SKY_HOT_first();

// ---- the run's side (tools/sky/sky_link_run.cpp) ----

// The running scenario's RTC model, start time and TCXO clocks per
// millisecond (TCXO frequency / 1000, integer). 1 when a run is started, else
// 0 (outputs untouched).
int SKY_LINK_hot_context(SKY_RTC_MODEL_T* rtc, SKY_GPST_T* start, int32_t* clock_per_ms0);
