// Fix log writer (--fix-csv): the navigation fix record of each output epoch
// as one CSV row.
#include "host/host_fix_csv.h"

#include <cerrno>
#include <cmath>
#include <cstdio>

#include "host/host_csv_line.h"
#include "host/host_files.h"
#include "host/host_run.h"
#include "kernel/src/navigate.h"
#include "kernel/src/utc.h"

namespace {

constexpr const char* HEADER =
    "epoch,gps_week,gps_tow_s,utc,fix_mode,nsv_used,x_m,y_m,z_m,lat_deg,lon_deg,alt_m,vx_mps,vy_mps,vz_mps,"
    "clock_bias_m,clock_drift_mps,gdop,pdop,hdop,vdop,tdop\n";
constexpr int EMPTY_TIME_FIELDS = 3;    // gps_week, gps_tow_s, utc
constexpr int EMPTY_STATE_FIELDS = 11;  // position, velocity, clock
constexpr int EMPTY_DOP_FIELDS = 5;     // gdop .. tdop
constexpr F32 UNKNOWN_DOP = 99.0F;      // DOPs at or above this are "unknown" (99.9)

std::FILE* Fix_fp = nullptr;
char Fix_path[256] = "";  // name kept for the fault message
long Fix_epoch = 0;
long Fix_rows = 0;
bool Fix_fault = false;

void write_fault() {
  if (Fix_fault) return;
  Fix_fault = true;
  HOST_note_output_fault(Fix_path, "write", errno);
  HOST_request_stop();
}

void empty_fields(HOST_CSV_LINE_T* l, int n) {
  for (int i = 0; i < n; ++i) l->text(",");
}

// gps_week, gps_tow_s, utc (each followed by a comma).
void time_fields(HOST_CSV_LINE_T* l) {
  D64 tow = 0.0;
  U16 wn = 0;
  if (NV_has_fixed() != 1 || NV_get_time(&tow, &wn) != 1 || !std::isfinite(tow)) {
    empty_fields(l, EMPTY_TIME_FIELDS);
    return;
  }
  l->integer(wn);
  l->text(",");
  l->fixed(tow, 12);
  l->text(",");
  UTC_TIME_T utc{};
  UTC_convert_gps_to_utc_time(static_cast<S16>(wn), tow, &utc, nullptr);
  char text[400];  // room for any value the format can print
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%06.3fZ,", utc.year, utc.month, utc.day, utc.hour,
                utc.minute, utc.sec);
  l->text(text);
}

// x..z, lat, lon, alt, vx..vz, clock bias and drift (each followed by a comma).
void state_fields(HOST_CSV_LINE_T* l) {
  POS_T pos{};
  VEL_T vel{};
  D64 lat_deg = 0.0;
  D64 lon_deg = 0.0;
  D64 cbias = 0.0;
  F32 cdrift = 0.0F;
  NV_get_ecef_position(&pos);
  NV_get_ecef_velocity(&vel);
  NV_get_lat_lon_degree(&lat_deg, &lon_deg);
  NV_get_clock_bias_drift(&cbias, &cdrift);
  const D64 metres[] = {pos.px, pos.py, pos.pz};
  for (const D64 v : metres) {
    l->fixed(v, 4);
    l->text(",");
  }
  l->fixed(lat_deg, 9);
  l->text(",");
  l->fixed(lon_deg, 9);
  l->text(",");
  l->fixed(static_cast<D64>(NV_get_altitude()), 4);
  l->text(",");
  const F32 mps[] = {vel.vx, vel.vy, vel.vz};
  for (const F32 v : mps) {
    l->fixed(static_cast<D64>(v), 4);
    l->text(",");
  }
  l->fixed(cbias, 4);
  l->text(",");
  l->fixed(static_cast<D64>(cdrift), 4);
  l->text(",");
}

// gdop .. tdop, the last without a comma.
void dop_fields(HOST_CSV_LINE_T* l) {
  const F32 dops[] = {NV_get_gdop(), NV_get_pdop(), NV_get_hdop(), NV_get_vdop(), NV_get_tdop()};
  for (std::size_t i = 0; i < std::size(dops); ++i) {
    if (std::isfinite(dops[i]) && dops[i] < UNKNOWN_DOP) l->fixed(static_cast<D64>(dops[i]), 3);
    if (i + 1 < std::size(dops)) l->text(",");
  }
}

}  // namespace

S16 HOSTFIX_open(const char* path) {
  HOSTFIX_close();
  std::snprintf(Fix_path, sizeof Fix_path, "%s", path);
  Fix_epoch = 0;
  Fix_rows = 0;
  Fix_fault = false;
  Fix_fp = std::fopen(path, "w");
  if (Fix_fp == nullptr) {
    HOST_note_output_fault(Fix_path, "create", errno);
    return 0;
  }
  if (std::fputs(HEADER, Fix_fp) < 0) {
    HOST_note_output_fault(Fix_path, "write", errno);
    std::fclose(Fix_fp);
    Fix_fp = nullptr;
    return 0;
  }
  return 1;
}

void HOSTFIX_write_epoch() {
  if (Fix_fp == nullptr || Fix_fault) return;
  ++Fix_epoch;
  const S16 mode = NV_get_fixmode();
  HOST_CSV_LINE_T l;
  l.integer(Fix_epoch);
  l.text(",");
  time_fields(&l);
  l.integer(mode);
  l.text(",");
  l.integer(mode >= FIX_2D ? NV_get_fix_svs() : 0);
  l.text(",");
  if (mode >= FIX_PREDICTION)
    state_fields(&l);
  else
    empty_fields(&l, EMPTY_STATE_FIELDS);
  if (mode >= FIX_2D)
    dop_fields(&l);
  else
    empty_fields(&l, EMPTY_DOP_FIELDS - 1);
  l.text("\n");
  if (std::fwrite(l.buf.data(), 1, l.n, Fix_fp) != l.n) {
    write_fault();
    return;
  }
  ++Fix_rows;
}

S16 HOSTFIX_close() {
  if (Fix_fp == nullptr) return 1;
  const bool closed = std::fclose(Fix_fp) == 0;
  Fix_fp = nullptr;
  if (!closed && !Fix_fault) {
    Fix_fault = true;
    HOST_note_output_fault(Fix_path, "write", errno);
  }
  return Fix_fault ? 0 : 1;
}

long HOSTFIX_get_row_count() { return Fix_rows; }
