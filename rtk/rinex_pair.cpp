// RINEX file mode: pairs each rover epoch with the base epochs up to its time
// and hands both to the engine's raw buffers; the reader's start and counters.
#include <cmath>

#include "rtk/crv.h"
#include "rtk/rinex.h"
#include "rtk/rinex_internal.h"
#include "rtk/rtk_raw.h"

using namespace rinex_internal;

namespace {

int Base_pos_sent = 0;
int Base_fed = 0;  // a base epoch has gone to the raw buffer
gtime_t Base_fed_time{};
int Base_back_held = 0;  // the pending base epoch went back and has waited one rover epoch

// Base epochs counted as unpaired: every base epoch read that was never the
// latest base epoch at a rover epoch.
unsigned int Base_used = 0;
gtime_t Base_used_time{};
int Base_used_any = 0;

// Base epochs up to the rover time, and the first one after it, go to the raw
// buffer, in order (the header position first, once): the base history then
// holds the epochs on both sides of the rover epoch for the nearest pairing.
void feed_base(gtime_t rover_time) {
  OBS_FILE_T* f = obs_file(RINEX_BASE);
  if (!Base_pos_sent && f->has_pos) {
    RTK_RAW_update_base_pos_xyz(f->pos[0], f->pos[1], f->pos[2]);
    Base_pos_sent = 1;
  }
  for (;;) {
    if (!f->has_pending) {
      if (f->eof || !read_epoch(f, f->pending, &f->n_pending, &f->pending_time, RINEX_BASE)) return;
      ++stats()->base_epochs;
      f->has_pending = 1;
    }
    // An epoch after the rover epoch waits once one at or after it has gone.
    if (timediff(f->pending_time, rover_time) > RINEX_PAIR_TOL && Base_fed &&
        timediff(Base_fed_time, rover_time) >= -RINEX_PAIR_TOL)
      return;
    // A base epoch more than RTK_RAW_TIME_BACK_LIMIT before the last one fed
    // starts another recording: it waits for the next rover epoch, which pairs
    // with it when the rover went back as well, else lets the base catch up.
    if (Base_fed && !Base_back_held && timediff(f->pending_time, Base_fed_time) < -RTK_RAW_TIME_BACK_LIMIT) {
      Base_back_held = 1;
      return;
    }
    Base_back_held = 0;
    RTK_RAW_update_base_meas(f->pending, f->n_pending);
    Base_fed = 1;
    Base_fed_time = f->pending_time;
    f->has_pending = 0;
  }
}

// The next rover epoch: from the RINEX file into obs (MAXOBS entries, count
// in *n), or from the CRVRAW file straight to the raw buffer. False at the end.
bool next_rover_epoch(const RINEX_SOURCE_T* src, obsd_t* obs, int* n, gtime_t* tr) {
  if (src->rover_is_rinex) {
    if (!read_epoch(obs_file(RINEX_ROVER), obs, n, tr, RINEX_ROVER)) return false;
  } else if (!CRV_read_rover_file_epoch(src->fp_rover, tr)) {
    return false;
  }
  ++stats()->rover_epochs;
  return true;
}

// RINEX base: feeds the base epochs around tr; true when the nearest held is
// within RINEX_PAIR_MAX_AGE of tr (that base epoch then counts as used).
bool pair_rinex_base(gtime_t tr) {
  feed_base(tr);
  gtime_t tb{};
  const bool paired = RTK_RAW_nearest_base_time(tr, &tb) && std::fabs(timediff(tr, tb)) <= RINEX_PAIR_MAX_AGE;
  if (paired && (!Base_used_any || timediff(tb, Base_used_time) != 0.0)) {
    ++Base_used;
    Base_used_time = tb;
    Base_used_any = 1;
  }
  return paired;
}

// CRVRAW base: reads the base file around tr; true when the nearest base
// epoch held is within RINEX_PAIR_MAX_AGE of tr.
bool pair_crv_base(std::FILE* fp_base, gtime_t tr) {
  CRV_read_base_file_for(fp_base, tr);
  gtime_t tb{};
  return RTK_RAW_nearest_base_time(tr, &tb) && std::fabs(timediff(tr, tb)) <= RINEX_PAIR_MAX_AGE;
}

}  // namespace

void RINEX_init() {
  obs_reset();
  *stats() = RINEX_STATS_T{};
  Base_pos_sent = 0;
  Base_fed = 0;
  Base_fed_time = gtime_t{};
  Base_back_held = 0;
  Base_used = 0;
  Base_used_time = gtime_t{};
  Base_used_any = 0;
  nav_reset();
}

int RINEX_process_file(const RINEX_SOURCE_T* src) {
  static obsd_t obs[MAXOBS];
  for (;;) {
    gtime_t tr{};
    int n = 0;
    if (!next_rover_epoch(src, obs, &n, &tr)) return 0;
    deliver_nav(tr);
    const bool paired = src->base_is_rinex ? pair_rinex_base(tr) : pair_crv_base(src->fp_base, tr);
    if (!paired) ++stats()->unpaired_rover;
    if (src->rover_is_rinex) {
      if (!paired) continue;  // the epoch does not reach the engine
      RTK_RAW_update_rover_meas(obs, n);
    }
    return 1;
  }
}

void RINEX_get_stats(RINEX_STATS_T* stats_out) {
  const RINEX_STATS_T& st = *stats();
  *stats_out = st;
  stats_out->unpaired_base = st.base_epochs > Base_used ? st.base_epochs - Base_used : 0;
  // the base epoch read ahead has not had its chance yet
  if (obs_file(RINEX_BASE)->has_pending && stats_out->unpaired_base > 0) --stats_out->unpaired_base;
}
