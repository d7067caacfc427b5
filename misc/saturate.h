// Float-to-integer conversions that cannot overflow: truncation toward zero
// (the house rule for every float-to-integer conversion), saturated to the
// range of the target type. Used where a float quantity (a clock offset in Hz,
// an NCO setting) becomes a fixed-width field of a command or a record.
#pragma once

#include <cmath>
#include <limits>

#include "misc/gnss_types.h"

// v truncated toward zero; values beyond the S32 range (infinities included)
// give its nearest end, -2 147 483 648 or 2 147 483 647; NaN gives 0.
inline S32 SAT_trunc_s32(D64 v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<S32>::max();
  if (v <= -2147483648.0) return std::numeric_limits<S32>::min();
  return static_cast<S32>(v);
}
