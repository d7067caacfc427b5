// Bit-count handlers: the per-channel origin of the absolute bit count.
#include "kernel/src/bitcount_handler.h"

#include <array>

struct BC_S {
  S16 has_init;          // the signal identity below is set
  S16 signal_id;         // satellite id of the tracked signal
  S16 has_meas_bitcnt;   // meas_abs_bitcnt is valid
  S08 has_frame_sync;    // bitcnt0 is valid
  U08 track_issue_id;    // tracking issue id of the assignment
  U16 gnss_type;         // GNSS type, GPS by default
  S32 bitcnt0;           // absolute bit count minus track bit count, bits
  S32 dbits_abs_bitcnt;  // absolute bit count of the latest data bits
  S32 meas_abs_bitcnt;   // absolute bit count of the latest measurement
};

namespace {

std::array<BC_S, NUM_HW_CHANNELS> Bc_data{};
S16 Frame_sync_count = 0;  // GPS handlers holding a frame sync

constexpr S64 BITS_PER_SEC_GPS = 50;
constexpr S64 BITS_PER_SEC_GLONASS = 100;
constexpr S64 BITS_PER_SEC_SBAS = 500;
constexpr S16 BD2_GEO_SIGNAL_MIN = 1;
constexpr S16 BD2_GEO_SIGNAL_MAX = 5;

// Bits in one week of the signal's data rate.
S64 bits_per_week(U16 gnss_type, S16 signal_id) {
  const bool bd2_geo = gnss_type == GNSS_TYPE_BD2 && signal_id >= BD2_GEO_SIGNAL_MIN && signal_id <= BD2_GEO_SIGNAL_MAX;
  S64 rate = BITS_PER_SEC_GPS;
  if (gnss_type == GNSS_TYPE_GLONASS) rate = BITS_PER_SEC_GLONASS;
  if (gnss_type == GNSS_TYPE_SBAS || bd2_geo) rate = BITS_PER_SEC_SBAS;
  return rate * SECONDS_PER_WEEK;
}

// A bit count brought into 0 .. one week - 1 (a count just outside the week
// moves by one week; anything further, from corrupted input, is reduced the
// same way so that the result stays in the week).
S32 adjust_bit_count_range(S64 count, U16 gnss_type, S16 signal_id) {
  const S64 week = bits_per_week(gnss_type, signal_id);
  S64 c = count % week;
  if (c < 0) c += week;
  return static_cast<S32>(c);
}

void reset_handler(BC_S* bc) {
  if (bc->has_frame_sync && bc->gnss_type == GNSS_TYPE_GPS && Frame_sync_count > 0) --Frame_sync_count;
  bc->has_init = 0;
  bc->signal_id = 0;
  bc->has_meas_bitcnt = 0;
  bc->has_frame_sync = 0;
  bc->track_issue_id = 0;
  bc->gnss_type = GNSS_TYPE_GPS;
}

bool same_signal(const BC_S* bc, U16 gnss_type, S16 signal_id, U08 issue_id) {
  return bc->gnss_type == gnss_type && bc->signal_id == signal_id && bc->track_issue_id == issue_id;
}

}  // namespace

void BC_init() {
  for (BC_S& bc : Bc_data) {
    bc = BC_S{};
    bc.gnss_type = GNSS_TYPE_GPS;
  }
  Frame_sync_count = 0;
}

BC_T BC_find_reference(S16 ch_id) {
  if (ch_id < 0 || ch_id >= NUM_HW_CHANNELS) return nullptr;
  return &Bc_data[static_cast<std::size_t>(ch_id)];
}

void BC_reset(BC_T bc) {
  if (bc != nullptr) reset_handler(bc);
}

S16 BC_frame_sync(BC_T bc, S32 bitcnt0, U16 gnss_type, S16 signal_id, U08 issue_id) {
  if (bc == nullptr) return 0;
  const S32 origin = adjust_bit_count_range(bitcnt0, gnss_type, signal_id);
  // A handler synced to the same signal keeps the origin it has.
  if (bc->has_frame_sync && same_signal(bc, gnss_type, signal_id, issue_id)) return 0;
  reset_handler(bc);
  bc->has_init = 1;
  bc->gnss_type = gnss_type;
  bc->signal_id = signal_id;
  bc->track_issue_id = issue_id;
  bc->bitcnt0 = origin;
  bc->has_frame_sync = 1;
  // Only GPS handlers are counted (BC_reset takes GPS handlers off the count).
  if (gnss_type == GNSS_TYPE_GPS && Frame_sync_count < NUM_HW_CHANNELS) ++Frame_sync_count;
  return 0;
}

S16 BC_update_dbits_bitcnt(BC_T bc, U16 gnss_type, S16 signal_id, S32 track_bitcnt, U08 issue_id) {
  if (bc == nullptr) return 0;
  S16 was_reset = 0;
  if (bc->has_init && !same_signal(bc, gnss_type, signal_id, issue_id)) {
    reset_handler(bc);
    was_reset = 1;
  }
  if (!bc->has_init) {
    bc->has_init = 1;
    bc->gnss_type = gnss_type;
    bc->signal_id = signal_id;
    bc->track_issue_id = issue_id;
  }
  if (bc->has_frame_sync)
    bc->dbits_abs_bitcnt =
        adjust_bit_count_range(static_cast<S64>(bc->bitcnt0) + track_bitcnt, bc->gnss_type, bc->signal_id);
  return was_reset;
}

S16 BC_update_meas_track_bitcnt(BC_T bc, U16 gnss_type, S16 signal_id, S32 track_bitcnt, U08 issue_id) {
  if (bc == nullptr || !bc->has_init || !bc->has_frame_sync || !same_signal(bc, gnss_type, signal_id, issue_id))
    return 0;
  bc->meas_abs_bitcnt = adjust_bit_count_range(static_cast<S64>(bc->bitcnt0) + track_bitcnt, gnss_type, signal_id);
  bc->has_meas_bitcnt = 1;
  return 1;
}

S16 BC_convert_track_bitcnt_to_abs_bitcnt(BC_T bc, S32 track_bitcnt, S32* abs_bitcnt_p) {
  if (bc == nullptr || !bc->has_frame_sync) return 0;
  *abs_bitcnt_p = adjust_bit_count_range(static_cast<S64>(track_bitcnt) + bc->bitcnt0, bc->gnss_type, bc->signal_id);
  return 1;
}

S16 BC_convert_abs_bitcnt_to_track_bitcnt(BC_T bc, S32 abs_bitcnt, S32* track_bitcnt_p) {
  if (bc == nullptr || !bc->has_frame_sync) return 0;
  *track_bitcnt_p = adjust_bit_count_range(static_cast<S64>(abs_bitcnt) - bc->bitcnt0, bc->gnss_type, bc->signal_id);
  return 1;
}

U16 BC_get_gnss_type(BC_T bc) { return bc != nullptr ? bc->gnss_type : static_cast<U16>(GNSS_TYPE_NONE); }
S16 BC_get_signal_id(BC_T bc) {
  if (bc == nullptr) return 0;
  return bc->signal_id;
}
U08 BC_get_track_issue_id(BC_T bc) { return bc != nullptr ? bc->track_issue_id : 0; }
S32 BC_get_bitcnt0(BC_T bc) { return bc != nullptr && bc->has_frame_sync ? bc->bitcnt0 : 0; }
S32 BC_get_abs_bitcnt_of_dbits(BC_T bc) { return bc != nullptr && bc->has_frame_sync ? bc->dbits_abs_bitcnt : 0; }
S32 BC_get_abs_bitcnt_of_measurement(BC_T bc) { return bc != nullptr && bc->has_meas_bitcnt ? bc->meas_abs_bitcnt : 0; }
S16 BC_has_frame_sync(BC_T bc) { return bc != nullptr && bc->has_frame_sync ? 1 : 0; }
S16 BC_has_any_one_real_fs() { return Frame_sync_count > 0 ? 1 : 0; }
S16 BC_has_any_frame_sync_error() { return 0; }
