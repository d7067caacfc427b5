// Measurement log writer (--meas-csv): the kernel's channel view of each
// processed epoch as CSV rows.
#include "host/host_meas_csv.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host/host_csv_line.h"
#include "host/host_files.h"
#include "host/host_run.h"
#include "kernel/src/kernel_modules.h"
#include "kernel/src/range.h"

namespace {

constexpr int HALF_WEEK = 302400;  // s
constexpr D64 RAD_TO_DEG = 57.29577951308232;

std::FILE* Meas_fp = nullptr;
char Meas_path[256] = "";  // name kept for the fault message
long Meas_epoch = 0;
long Meas_rows = 0;
bool Meas_fault = false;

constexpr const char* HEADER =
    "epoch,gps_week,gps_tow_s,ch,gnss,svid,state,frame_sync,tx_time_s,pseudorange_m,corrected_pr_m,"
    "range_rate_mps,doppler_hz,cn0_dbhz,el_deg,az_deg,used\n";

char gnss_letter(U16 gnss_type, S16 svid) {
  switch (gnss_type) {
    case GNSS_TYPE_GPS:
      return (svid >= QZSS_ID_MIN && svid <= QZSS_ID_MAX) ? 'J' : 'G';
    case GNSS_TYPE_SBAS:
      return 'S';
    case GNSS_TYPE_GLONASS:
      return 'R';
    case GNSS_TYPE_QZSS:
      return 'J';
    case GNSS_TYPE_BD2:
      return 'C';
    case GNSS_TYPE_GALILEO:
      return 'E';
    default:
      return '?';
  }
}

void write_fault() {
  if (Meas_fault) return;
  Meas_fault = true;
  HOST_note_output_fault(Meas_path, "write", errno);
  HOST_request_stop();
}

using Line = HOST_CSV_LINE_T;

// One row of channel ch (ch_id) of an epoch at GPS time wn, tow (s) when has_time.
void format_row(CHAN_T ch, S16 ch_id, bool has_time, S16 wn, D64 tow, Line* l) {
  const S16 svid = CH_get_svid(ch);
  l->integer(Meas_epoch);
  l->text(",");
  if (has_time) {
    l->integer(wn);
    l->text(",");
    l->fixed(tow, 12);
  } else {
    l->text(",");
  }
  l->text(",");
  l->integer(ch_id);
  l->text(",");
  l->letter(gnss_letter(CH_get_gnss_type(ch), svid));
  l->text(",");
  l->integer(svid);
  l->text(",");
  l->integer(CH_get_state(ch));
  l->text(CH_has_frame_sync(ch) ? ",1," : ",0,");
  D64 tt = 0.0;
  const bool has_tt = CH_get_transmit_time(ch, &tt) == 1;
  if (has_tt) l->fixed(tt, 12);
  l->text(",");
  if (has_tt && has_time) {
    D64 dt = tow - tt;  // s, across the week boundary either way
    if (dt > HALF_WEEK) dt -= SECONDS_PER_WEEK;
    if (dt < -HALF_WEEK) dt += SECONDS_PER_WEEK;
    l->fixed(dt * SPEED_OF_LIGHT, 4);
  }
  l->text(",");
  RNG_T rng = nullptr;
  const bool has_rng = CH_get_range(ch, &rng) == 1;
  D64 pr = 0.0;
  if (has_rng && RNG_get_sv_position_of_ttime(rng, nullptr, nullptr, nullptr) == 1 &&
      RNG_get_pseudo_range(rng, &pr) == 1) {
    // satellite clock (polynomial - group delay + relativistic term) and the
    // modelled ionosphere and troposphere taken out
    F32 dt = 0.0F, ddt = 0.0F, iono = 0.0F, tropo = 0.0F;
    RNG_get_non_atmosphere_delay(rng, &dt, &ddt);
    RNG_get_atmosphere_delay(rng, &iono, &tropo, nullptr);
    l->fixed(pr + SPEED_OF_LIGHT * static_cast<D64>(dt) - static_cast<D64>(iono) - static_cast<D64>(tropo), 4);
  }
  l->text(",");
  F32 dr = 0.0F;
  if (has_rng && RNG_get_delta_range(rng, &dr) == 1) l->fixed(static_cast<D64>(dr), 4);  // m/s, range growing > 0
  l->text(",");
  if (CH_is_tracking(ch)) {
    l->fixed(CH_get_dopp_freq(ch), 4);
    l->text(",");
    l->fixed(CH_get_f32_cnr(ch), 2);
  } else {
    l->text(",");
  }
  l->text(",");
  const SV_T sv = CH_get_sv(ch);
  if (SV_has_valid_azm_elv(sv) == 1) {
    l->fixed(static_cast<D64>(SV_get_elevation(sv)) * RAD_TO_DEG, 3);
    l->text(",");
    l->fixed(static_cast<D64>(SV_get_azimuth(sv)) * RAD_TO_DEG, 3);
    l->text(",");
  } else {
    l->text(",,");
  }
  // used: the fix of this epoch took its pseudorange or its range rate
  l->text(NV_is_channel_meas_use_in_fix(ch_id) == 1 ? "1\n" : "0\n");
}

void write_epoch(U16) {
  if (Meas_fp == nullptr || Meas_fault) return;
  ++Meas_epoch;
  S16 wn = 0;
  D64 tow = 0.0;
  const bool has_time = GTCADJ_get_adjusted_gtc(&wn, &tow) == 1;
  for (S16 i = 0; i < NUM_HW_CHANNELS; ++i) {
    const CHAN_T ch = CH_find_reference(i);
    if (CH_get_state(ch) == CH_IDLE) continue;
    Line line;
    format_row(ch, i, has_time, wn, tow, &line);
    if (std::fwrite(line.buf.data(), 1, line.n, Meas_fp) != line.n) {
      write_fault();
      return;
    }
    ++Meas_rows;
  }
}

}  // namespace

S16 HOSTMEAS_open(const char* path) {
  HOSTMEAS_close();
  std::snprintf(Meas_path, sizeof Meas_path, "%s", path);
  Meas_epoch = 0;
  Meas_rows = 0;
  Meas_fault = false;
  Meas_fp = std::fopen(path, "w");
  if (Meas_fp == nullptr) {
    HOST_note_output_fault(Meas_path, "create", errno);
    return 0;
  }
  if (std::fputs(HEADER, Meas_fp) < 0) {
    HOST_note_output_fault(Meas_path, "write", errno);
    std::fclose(Meas_fp);
    Meas_fp = nullptr;
    return 0;
  }
  RAW_install_epoch_done_callback(write_epoch);
  return 1;
}

S16 HOSTMEAS_close() {
  if (Meas_fp == nullptr) return 1;
  RAW_install_epoch_done_callback(nullptr);
  const bool closed = std::fclose(Meas_fp) == 0;
  Meas_fp = nullptr;
  if (!closed && !Meas_fault) {
    Meas_fault = true;
    HOST_note_output_fault(Meas_path, "write", errno);
  }
  return Meas_fault ? 0 : 1;
}

long HOSTMEAS_get_row_count() { return Meas_rows; }
