// Handles of the kernel's records and the few small records that cross
// module borders. A handle is a pointer to one fixed per-channel or
// per-satellite slot of its module's static storage; it lives for the whole
// run and is never freed. The records behind the handles are private to
// their modules.
#pragma once

#include <array>

#include "misc/gnss_types.h"

struct CHAN_S;
using CHAN_T = CHAN_S*;  // one of the 20 hardware channels (channel)
struct RNG_S;
using RNG_T = RNG_S*;  // the range record of a channel
struct CCYCLE_S;
using CCYCLE_T = CCYCLE_S*;  // the carrier-cycle record of a channel
struct SV_S;
using SV_T = SV_S*;  // the kernel's record of one satellite
struct BC_S;
using BC_T = BC_S*;  // the bit-count handler of a channel
struct DBCOLLECT_S;
using DBCollect_T = DBCOLLECT_S*;  // a channel's GPS data-bit collector
struct EPH_S;
using EPH_T = EPH_S*;  // the ephemeris record of a GPS-type satellite

inline constexpr int CCYCLE_MAX_SLOTS = 10;  // carrier-phase slots of one epoch

// One carrier-phase slot of an epoch: the carrier accumulated over the slot
// (cycles), the target's count of bad carrier-phase readings in it and the
// milliseconds of carrier it covers.
struct CCYCLE_BUF_T {
  F32 acc_carrier_cycle;            // cycles
  U16 carrier_phase_no_good_count;  // readings
  U16 acc_carrier_cycle_count;      // ms
};

// The carrier slots of one channel in one epoch: array_count (0..10) valid
// entries of array.
struct CCYCLE_IN_T {
  std::array<CCYCLE_BUF_T, CCYCLE_MAX_SLOTS> array;
  U16 array_count;
};
