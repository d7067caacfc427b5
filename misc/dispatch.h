// Host-link receiver: cuts frames out of the byte stream and hands each good
// frame to the handler registered for its type.
//
// Frame: 'J' (0x4A), 'X' (0x58), type (0..65), payload of the type's fixed
// length, checksum = XOR of every byte before it. A type's `size` is the frame
// length without the checksum byte (3 + payload). There is no length field.
#pragma once

#include "misc/gnss_types.h"

inline constexpr int DP_SYNC0 = 0x4A;        // 'J'
inline constexpr int DP_SYNC1 = 0x58;        // 'X'
inline constexpr int DP_MAX_MSG_TYPE = 65;   // highest message type
inline constexpr int DP_NUM_MSG_TYPES = 66;  // types 0..65
inline constexpr int DP_MIN_MSG_SIZE = 3;    // sync, sync, type: no payload
inline constexpr int DP_MAX_MSG_SIZE = 768;  // receive buffer

using DP_CALLBACKS = void (*)(U08* buf, int len);
using DP_CHECKSUM_ERR_HANDLER_T = void (*)(U08* buf, int len);

// Clear the callback table, the checksum-error handler and the receiver state.
// The error counters are cleared too.
void DP_initialize();

// Register `func` for frames of `type` that are `size` bytes long (without the
// checksum). Returns 1, or 0 without a change when type is outside 0..65 or
// size outside 3..768. A null func accepts the type and drops its frames.
int DP_install_callback(int type, int size, DP_CALLBACKS func);

void DP_install_checksum_error_handler(DP_CHECKSUM_ERR_HANDLER_T func);

// Feed len bytes; returns the number of good frames completed in this call.
// The receiver state carries over between calls.
int DP_dispatch_msg(const U08* buf, int len);

// Frames dropped for an unknown or unaccepted type, and for a bad checksum.
int DP_get_wrong_msgtype_count();
int DP_get_wrong_checksum_count();
