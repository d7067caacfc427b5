// Console table and KML files of the navigation modes (HOSTOUT_).
//
// The console table is printed after every measurement epoch from the
// kernel's readers (navigation NV_, channels CH_, satellites SV_, ranges
// RNG_, estimation inputs NVESTIN_, time count GTCADJ_) and the host's own
// counters. output.kml holds the track as one line string, fixmode.kml one
// marker per epoch coloured by the kind of fix. A KML file is created by
// HOSTOUT_init (so that a file that cannot be created is reported at once);
// its head is written at the first epoch with a fix and its closing lines by
// HOSTOUT_close. A file to which no epoch was ever offered (the file RTK
// runs, which write no track) is removed at the close instead of being left
// behind as an empty document.
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host/host.h"
#include "host/host_callbacks.h"
#include "host/host_console.h"
#include "host/host_files.h"
#include "host/host_output.h"
#include "host/pc_sio.h"
#include "kernel/src/almanac.h"
#include "kernel/src/channel.h"
#include "kernel/src/ephemeris.h"
#include "kernel/src/gtc_adjust.h"
#include "kernel/src/kalman_filter.h"
#include "kernel/src/kernel.h"
#include "kernel/src/kernel_interface.h"
#include "kernel/src/nav_estimation_inputs.h"
#include "kernel/src/navigate.h"
#include "kernel/src/range.h"
#include "kernel/src/raw_meas.h"
#include "kernel/src/rtc.h"
#include "kernel/src/satellite.h"
#include "kernel/src/utc.h"
#include "misc/dispatch.h"
#include "misc/nmea.h"

namespace {
constexpr int N_CHANNELS = 20;
constexpr double SPEED_OF_LIGHT = 3e8;  // m/s, for the clock error in ms of the RTC line
constexpr double MPS_TO_KMH = 3.6;

// A KML file of the run: its stream (null when not open), its name (kept
// here because an output fault keeps a pointer to it), whether its head was
// written and whether any epoch was offered to it.
struct KML_FILE_T {
  std::FILE* fp = nullptr;
  char name[64] = "";
  bool is_first_fix = true;
  bool offered = false;
};
KML_FILE_T Kml_output, Kml_fixmode;
S32 Kml_start_second = 0;
S16 Out_DR_fixmode_kml = 0;
F32 Max_speed = 0.0F;       // m/s
F32 Max_show_speed = 0.0F;  // m/s

// Colour escapes of the table (empty without ANSI colours).
struct ANSI_T {
  const char* normal = "";
  const char* bright_green = "";
  const char* bright_white = "";
};
ANSI_T Ansi;

// Track colours in aabbggrr order, indexed by KML_BLACK .. KML_WHITE.
constexpr std::array<const char*, N_KML_COLORS> COLOR_STRING = {"ff000000", "ff0000ff", "ff00ffff",
                                                                "ff00ff00", "ffff0000", "ffffffff"};

// Marker styles of fixmode.kml: id and icon colour (aabbggrr).
struct KML_STYLE_T {
  const char* id;
  const char* color;
};
enum : int { STYLE_PREDICT, STYLE_2D, STYLE_3D, STYLE_LIGHT_GREEN, STYLE_BLUE, STYLE_CYAN, STYLE_ORANGE, N_STYLES };
constexpr std::array<KML_STYLE_T, N_STYLES> STYLES = {{{"StylePredict", "ff0000ff"},
                                                       {"Style2D", "ff00ffff"},
                                                       {"Style3D", "ff00ff00"},
                                                       {"StyleLightGreen", "ffAAff8f"},
                                                       {"StyleBlue", "FFFF9030"},
                                                       {"StyleCyan", "FFFFFFA0"},
                                                       {"StyleOrange", "FF00A5FF"}}};
constexpr const char* KML_NAMESPACE = "http://earth.google.com/kml/2.0";
constexpr const char* PUSHPIN_ICON = "http://maps.google.com/mapfiles/kml/pushpin/wht-pushpin.png";

// Per-channel estimation input of this epoch (null when the channel has none).
using ESTIN_BY_CH_T = std::array<NV_ESTIN_T, N_CHANNELS>;

void collect_estins(ESTIN_BY_CH_T* by_ch) {
  by_ch->fill(nullptr);
  std::array<NV_ESTIN_T, NVESTIN_MAX> list{};
  const S16 n = NVESTIN_get_inputs(list.data());
  for (S16 i = 0; i < n && i < NVESTIN_MAX; ++i) {
    const S16 ch = NVESTIN_get_channel_id(list[static_cast<std::size_t>(i)]);
    if (ch >= 0 && ch < N_CHANNELS) (*by_ch)[static_cast<std::size_t>(ch)] = list[static_cast<std::size_t>(i)];
  }
}

// ---------------------------------------------------------------------------
// KML files
// ---------------------------------------------------------------------------

// Create <base><append_p>.kml (truncating). An output fault when it cannot be
// created; the file then stays closed and is skipped.
void open_kml(KML_FILE_T* k, const char* base, const char* append_p) {
  std::snprintf(k->name, sizeof k->name, "%s%s.kml", base, append_p != nullptr ? append_p : "");
  k->is_first_fix = true;
  k->offered = false;
  k->fp = std::fopen(k->name, "w");
  if (k->fp == nullptr) HOST_note_output_fault(k->name, "create", errno);
}

// After a batch of writes: a failed write is an output fault; the file is
// closed and skipped from then on.
void check_kml(KML_FILE_T* k, int rc) {
  if (k->fp == nullptr || (rc >= 0 && std::ferror(k->fp) == 0)) return;
  HOST_note_output_fault(k->name, "write", errno);
  std::fclose(k->fp);
  k->fp = nullptr;
}

// The closing lines tail_p, then the close. A file that no epoch was offered
// to is closed and removed instead. A failed write or close is an output fault.
void close_kml(KML_FILE_T* k, const char* tail_p) {
  if (k->fp == nullptr) return;
  if (!k->offered) {
    std::fclose(k->fp);
    std::remove(k->name);
    k->fp = nullptr;
    return;
  }
  int err = 0;
  if (std::fputs(tail_p, k->fp) < 0) err = errno;
  if (std::fclose(k->fp) != 0 && err == 0) err = errno;
  if (err != 0) HOST_note_output_fault(k->name, "write", err);
  k->fp = nullptr;
}

int write_track_head(std::FILE* f, D64 lat, D64 lon, int color) {
  const char* c =
      color >= 0 && color < N_KML_COLORS ? COLOR_STRING[static_cast<std::size_t>(color)] : COLOR_STRING[KML_RED];
  return std::fprintf(f,
                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"%s\">\n<Placemark>\n"
                      "  <description>Plot Your Traveling Path</description>\n  <name>Trajectory</name>\n"
                      "  <LookAt>\n    <longitude>%.13f</longitude>\n    <latitude>%.13f</latitude>\n"
                      "    <range>500.0</range>\n    <tilt>0.0</tilt>\n    <heading>0.0</heading>\n  </LookAt>\n"
                      "  <visibility>1</visibility>\n  <open>0</open>\n  <Style>\n    <LineStyle>\n"
                      "      <width>3</width>\n      <color>%s</color>\n    </LineStyle>\n    <PolyStyle>\n"
                      "      <color>7f00ffff</color>\n    </PolyStyle>\n  </Style>\n  <LineString>\n"
                      "    <extrude>1</extrude>\n    <tessellate>1</tessellate>\n"
                      "    <altitudeMode>clampToGround</altitudeMode>\n    <coordinates>\n",
                      KML_NAMESPACE, lon, lat, c);
}

int write_fixmode_head(std::FILE* f) {
  int rc =
      std::fprintf(f, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"%s\">\n<Document>\n", KML_NAMESPACE);
  for (int i = 0; i < N_STYLES && rc >= 0; ++i) {
    const KML_STYLE_T& s = STYLES[static_cast<std::size_t>(i)];
    rc = std::fprintf(f,
                      "  <Style id=\"%s\">\n    <IconStyle>\n      <Icon><href>%s</href></Icon>\n"
                      "      <color>%s</color>\n      <scale>0.5</scale>\n    </IconStyle>\n  </Style>\n",
                      s.id, PUSHPIN_ICON, s.color);
    if (rc >= 0 && i >= STYLE_3D) rc = std::fprintf(f, "  <name>fixmode</name>\n");
  }
  return rc;
}

// The marker style of the current fix.
int fixmode_style(S16 fixmode) {
  if (NV_does_fix_use_PR_measurements() == 0) {
    if (fixmode == FIX_PREDICTION) return STYLE_PREDICT;
    if (fixmode == FIX_2D) return STYLE_2D;
    return fixmode > FIX_2D ? STYLE_3D : STYLE_BLUE;
  }
  if (fixmode == FIX_PREDICTION) return STYLE_PREDICT;
  F32 pr_sigma = 0.0F;
  const bool good = NV_get_position_quality_result(&pr_sigma, nullptr) == 1 &&
                    NV_does_vel_use_good_carrier_DR_measurements() != 0 &&
                    NV_does_pos_use_may_convergence_PR_measurements() != 0 && pr_sigma < 4.0F;
  if (fixmode == FIX_2D) return good ? STYLE_ORANGE : STYLE_2D;
  return good ? STYLE_CYAN : STYLE_3D;
}

// The channel lines of a marker's description: the measured channels with an
// estimation input of this epoch.
int write_fixmode_channels(std::FILE* f) {
  ESTIN_BY_CH_T estins{};
  collect_estins(&estins);
  int rc = 0;
  for (S16 ch = 0; ch < N_CHANNELS && rc >= 0; ++ch) {
    CHAN_T c = CH_find_reference(ch);
    NV_ESTIN_T e = estins[static_cast<std::size_t>(ch)];
    if (CH_get_sv(c) == nullptr || CH_get_state(c) != CH_NSTATE - 1 || e == nullptr) continue;
    const U16 type = CH_get_gnss_type(c);
    const char* sys = type == GNSS_TYPE_GLONASS ? "GLO" : type == GNSS_TYPE_BD2 ? "BD2" : "GPS";
    const int id = type == GNSS_TYPE_GLONASS ? CH_get_glonass_slot_n(c) : CH_get_svid(c);
    rc = std::fprintf(f, "    %d, %s %d, C/N0=%d, %d, %.1f, %.1f", ch, sys, id, CH_get_cnr(c), CH_is_unlock(c),
                      NVESTIN_get_pr_diff(e), NVESTIN_get_dr_diff(e));
    const S16 use = NV_get_channel_fix_state(ch);
    if (rc < 0) break;
    if (use == CH_FIX_PR_ONLY)
      rc = std::fprintf(f, ", pr only\n\n");
    else if (use == CH_FIX_DR_ONLY)
      rc = std::fprintf(f, ", dr only\n\n");
    else if (use > CH_FIX_DR_ONLY)
      rc = std::fprintf(f, ", pr dr\n");
    else
      rc = std::fprintf(f, "\n");
  }
  return rc;
}

int write_fixmode_placemark(std::FILE* f, S16 fixmode, D64 lat, D64 lon) {
  D64 cb = 0.0;
  F32 cd = 0.0F;
  NV_get_clock_bias_drift(&cb, &cd);
  int rc = std::fprintf(
      f,
      "  <Placemark>\n    <styleUrl>#%s</styleUrl>\n    <description><![CDATA[\n    power on count = %d\n"
      "    speed = %.1f kmh, course = %.1f\n    cb = %.1f m, cd = %.2f m/s\n    hdop = %.1f, vdop = %.1f, tdop = %.1f\n"
      "    fixmode = %d, fix sv = %d, alt = %.1f\n\n",
      STYLES[static_cast<std::size_t>(fixmode_style(fixmode))].id,
      static_cast<int>(KERNEL_get_power_on_meas_count()) - 1, static_cast<double>(NV_get_speed()) * MPS_TO_KMH,
      static_cast<double>(NV_get_course()), cb, static_cast<double>(cd), static_cast<double>(NV_get_hdop()),
      static_cast<double>(NV_get_vdop()), static_cast<double>(NV_get_tdop()), fixmode, NV_get_fix_svs(),
      static_cast<double>(NV_get_altitude()));
  F32 pr_sigma = 0.0F;
  F32 dr_sigma = 0.0F;
  if (rc >= 0 && NV_get_position_quality_result(&pr_sigma, &dr_sigma) == 1)
    rc = std::fprintf(f, "    pr_res_sigma = %.1f, dr_res_sigma = %.1f\n", static_cast<double>(pr_sigma),
                      static_cast<double>(dr_sigma));
  if (rc >= 0)
    rc = std::fprintf(f, "    Good DR = %d, convergence PR = %d\n\n", NV_does_vel_use_good_carrier_DR_measurements(),
                      NV_does_pos_use_may_convergence_PR_measurements());
  if (rc >= 0) rc = write_fixmode_channels(f);
  if (rc >= 0)
    rc = std::fprintf(f,
                      "    ]]></description>\n    <Point><coordinates>%.13f,%.13f,0</coordinates></Point>\n"
                      "  </Placemark>\n",
                      lon, lat);
  return rc;
}

// ---------------------------------------------------------------------------
// Console table
// ---------------------------------------------------------------------------

// Residual texts of a channel: "%8.1f" m and "%8.2f" m/s, or "--------".
struct RESIDUAL_TEXT_T {
  char pr[24] = "--------";
  char dr[24] = "--------";
};
RESIDUAL_TEXT_T residual_text(NV_ESTIN_T e) {
  RESIDUAL_TEXT_T t;
  if (e != nullptr) {
    std::snprintf(t.pr, sizeof t.pr, "%8.1lf", NVESTIN_get_pr_diff(e));
    std::snprintf(t.dr, sizeof t.dr, "%8.2lf", NVESTIN_get_dr_diff(e));
  }
  return t;
}

const char* system_name(U16 type) {
  switch (type) {
    case GNSS_TYPE_GLONASS:
      return "GLO";
    case GNSS_TYPE_GALILEO:
      return "GAL";
    case GNSS_TYPE_BD2:
      return "BD2";
    default:
      return "GPS";
  }
}

// Frame-sync type of a channel: 2 real frame sync, 1 predicted bit count, 0 none.
int frame_sync_type(CHAN_T c) {
  S32 bitcnt0 = 0;
  if (CH_has_real_frame_sync(c) != 0) return 2;
  return CH_get_predict_bitcnt0(c, &bitcnt0) != 0 ? 1 : 0;
}

// The epoch's receive time (week, whole second of week) the transmit times are placed against.
struct RCV_TIME_T {
  S16 wn;
  S32 tow;
};

// One channel line; counts the channel in *useful_pr_p when its pseudorange passes the stability check.
void print_channel(S16 ch, NV_ESTIN_T e, RCV_TIME_T rcv, int* useful_pr_p) {
  CHAN_T c = CH_find_reference(ch);
  U16 state = CH_get_state(c);
  if (state == 0) return;
  const U16 type = CH_get_gnss_type(c);
  SV_T sv = CH_get_sv(c);
  char k_text[16] = "   ";
  if (type == GNSS_TYPE_GLONASS) std::snprintf(k_text, sizeof k_text, "K%+2d", CH_get_glonass_k_num(c));
  S16 wn_tt = rcv.wn;
  D64 tt = 0.0;
  if (CH_get_transmit_time_with_wn(c, rcv.wn, rcv.tow, &wn_tt, &tt) == 0) tt = 0.0;
  const RESIDUAL_TEXT_T res = residual_text(e);
  const char dazar = 'N';  // no orbit prediction in this receiver: every precise position is from an ephemeris
  if (sv == nullptr) {
    if (type != GNSS_TYPE_GLONASS) return;
    std::printf(
        "C: %2d, %s:   %s, S:%d,%2d,%d,%c, F:%d, I:%02X, E: 0, A:  0, CN0:%2d, U=%2d,acc=%4ld, tt=%13.6f, "
        "dop=%6d, dpr=%s, ddr=%s\n",
        ch, system_name(type), k_text, state, CH_get_signal_source(c), CH_get_bit_sync_source(c), dazar,
        NV_get_channel_fix_state(ch), CH_get_issue_id(c), CH_get_cnr(c), CH_is_unlock(c),
        static_cast<long>(CH_get_acc_cycle_count(c)), tt, CH_get_dopp_freq_in_hz(c), res.pr, res.dr);
    return;
  }
  const S16 eph = tt != 0.0 ? SV_get_ephemeris_available_state(sv, wn_tt, tt) : S16{0};
  const bool healthy = (eph & 4) != 0;
  if (state == CH_NSTATE - 1 && healthy && type == GNSS_TYPE_GPS && (eph & 3) != 0 &&
      EPH_get_data_source(CH_get_svid(c)) == 1)
    state = HOSTCON_STATE_LONG_TERM_EPH;
  RNG_T rng = nullptr;
  if (healthy && CH_get_range(c, &rng) != 0 && RNG_is_PR_pass_stability_check(rng, 1) != 0) ++*useful_pr_p;
  std::printf(
      "C: %2d, %s:%3d%s, S:%s,%c%c%c,%02d,%d, %d,%c, F:%d, I:%02X, E:%2d, A:%3d, CN0:%2d, U=%2d,acc=%4ld,"
      "URA=%2d, tt=%13.6f, dop=%6d, dpr=%s, ddr=%s\n",
      ch, system_name(type), CH_get_svid(c), k_text, HOSTCON_state_label(state), (eph & 1) != 0 ? 'A' : '_',
      (eph & 2) != 0 ? 'E' : '_', healthy ? 'H' : '_', CH_get_signal_source(c), CH_get_bit_sync_source(c),
      frame_sync_type(c), dazar, NV_get_channel_fix_state(ch), CH_get_issue_id(c), SV_get_elevation_in_deg(sv),
      SV_get_azimuth_in_deg(sv), CH_get_cnr(c), CH_is_unlock(c), static_cast<long>(CH_get_acc_cycle_count(c)),
      CH_get_URA(c), tt, CH_get_dopp_freq_in_hz(c), res.pr, res.dr);
}

void print_table_head() {
  U32 min_noise = 0;
  U32 noise = 0;
  RAW_get_noise_power(&min_noise, &noise);
  // the target's time-count shift counter is not reported over the host link: 0
  std::printf("%sPower on count: %ld%s     Noise_power: %ld, Min_noise_power: %ld   FS: %d, Alm=%d, sh=%d\n",
              Ansi.bright_white, static_cast<long>(KERNEL_get_power_on_meas_count()) - 1, Ansi.normal,
              static_cast<long>(noise), static_cast<long>(min_noise), CH_has_any_real_frame_sync() != 0 ? 1 : 0,
              ALM_get_valid_num(), 0);
  const HOST_PSE_STATUS_T* pse = HOST_get_pse_status();
  std::printf(" PSE Mode: %d   Strategy: %d   Search Strength: %d  %d  %d  %d\n", pse->Pse_Search_Mode,
              pse->Pse_Search_State, pse->Pse_0, pse->Pse_1, pse->Pse_2, pse->Pse_3);
  std::printf(
      "Status Characters: eph - ephemeris state, S - signal source, B - bitsync source, A - DAZAR state\n"
      "ch_id  sv_id            eph S  B FS A\n");
}

void print_time_lines() {
  std::printf("RAW GTC: %d, %ld.%03u\n", GTCADJ_get_raw_wn(), static_cast<long>(GTCADJ_get_raw_gtc_tow()),
              static_cast<unsigned>(GTCADJ_get_subsec()));
  S16 adj_wn = 0;
  D64 adj_tow = 0.0;
  GTCADJ_get_adjusted_gtc(&adj_wn, &adj_tow);
  std::printf("ADJ GTC: %d, %.3f\n", adj_wn, adj_tow);
  D64 tow = 0.0;
  U16 wn = 0;
  NV_get_time(&tow, &wn);
  std::printf("WN: %d, TOW: %f, fix mode = %d, fix sv = %d, sh_fix sv = %2d\n", wn, tow, NV_get_fixmode(),
              NV_get_fix_svs(), NV_get_show_fix_svs());
  UTC_TIME_T utc{};
  UTC_convert_gps_to_utc_time(static_cast<S16>(wn), tow, &utc, nullptr);
  HOSTCON_round_utc_to_tenth(&utc);
  std::printf("UTC: %04d/%02d/%02d_%02d:%02d:%04.1lf\n", utc.year, utc.month, utc.day, utc.hour, utc.minute, utc.sec);
}

void print_state_lines() {
  D64 lat = 0.0;
  D64 lon = 0.0;
  NV_get_lat_lon_degree(&lat, &lon);
  D64 cb = 0.0;
  F32 cd = 0.0F;
  NV_get_clock_bias_drift(&cb, &cd);
  std::printf("Pos: %s%.6f %.6f %.2f%s, cb = %.2f, %.2f\n", Ansi.bright_green, lat, lon,
              static_cast<double>(NV_get_altitude()), Ansi.normal, cb, static_cast<double>(cd));
  VEL_ENU_T v{};
  NV_get_enu_velocity(&v);
  std::printf("Vel (ENU): %.2f %.2f %.2f Speed= %.1f(Max= %.1f)Km/hr, Show_speed= %.1f(Max= %.1f), Head = %.1f\n",
              static_cast<double>(v.ve), static_cast<double>(v.vn), static_cast<double>(v.vu),
              static_cast<double>(NV_get_speed()) * MPS_TO_KMH, static_cast<double>(Max_speed) * MPS_TO_KMH,
              static_cast<double>(NV_get_show_speed()) * MPS_TO_KMH, static_cast<double>(Max_show_speed) * MPS_TO_KMH,
              static_cast<double>(NV_get_course()));
  std::printf("GPS-GLONASS Time Diff = %.3f m, Time Drift = %.3e m\n", NV_get_gps_glonass_time_diff(),
              static_cast<double>(NV_get_gps_glonass_time_drift()));
  std::printf("Show DOP: G:%.1f P:%.1f H:%.1f V:%.1f T:%.1f\n", static_cast<double>(NV_get_show_gdop()),
              static_cast<double>(NV_get_show_pdop()), static_cast<double>(NV_get_show_hdop()),
              static_cast<double>(NV_get_show_vdop()), static_cast<double>(NV_get_show_tdop()));
  std::printf("Real DOP: G:%.1f P:%.1f H:%.1f V:%.1f T:%.1f\n", static_cast<double>(NV_get_gdop()),
              static_cast<double>(NV_get_pdop()), static_cast<double>(NV_get_hdop()),
              static_cast<double>(NV_get_vdop()), static_cast<double>(NV_get_tdop()));
  S32 d_sec = 0;
  D64 pred_cb = 0.0;
  KRTC_get_debug_info(&d_sec, &pred_cb);
  const double cb_error = cb - pred_cb;  // m
  std::printf("RTC HOT START : d_sec = %ld, pred_cb = %.3f, cb_error = %.3f, %.3f ms\n", static_cast<long>(d_sec),
              pred_cb, cb_error, cb_error * 1000.0 / SPEED_OF_LIGHT);
}

void print_filter_lines(int useful_pr_count) {
  // the six prediction-disable event counters: no such events are kept in this receiver
  std::printf("BCP debug msg : ");
  for (int i = 0; i < 6; ++i) std::printf(" %ld,", 0L);
  std::printf("\n");
  std::printf("%s\n", KMF_is_P_mode() != 0 ? "KF is P mode" : "KF is PV mode");
  F32 pr_sigma = 0.0F;
  F32 dr_sigma = 0.0F;
  if (NV_get_position_quality_result(&pr_sigma, &dr_sigma) == 1)
    std::printf("%d SVs, pr_residual_sigma = %.1f, dr_residual_sigma = %.1f\n", NV_get_fix_svs(),
                static_cast<double>(pr_sigma), static_cast<double>(dr_sigma));
  std::printf("Good Carrier DR = %d, convergence PR = %d\n", NV_does_vel_use_good_carrier_DR_measurements(),
              NV_does_pos_use_may_convergence_PR_measurements());
  std::printf("useful_filter_pr_count = %d\n", useful_pr_count);
  const F32 epe = NV_get_EPE();
  if (epe == 0.0F)
    std::printf("EPE: -- m\n");
  else
    std::printf("EPE: %.1f m\n\n", static_cast<double>(epe));
}
}  // namespace

void HOSTOUT_init(int write_output_kml, int write_fixmode_kml, const char* append_p) {
  Out_DR_fixmode_kml = 0;
  Max_speed = 0.0F;
  Max_show_speed = 0.0F;
  if (write_output_kml) open_kml(&Kml_output, "output", append_p);
  if (write_fixmode_kml) open_kml(&Kml_fixmode, "fixmode", append_p);
}

void HOSTOUT_close() {
  close_kml(&Kml_output, "    </coordinates>\n  </LineString>\n</Placemark>\n</kml>\n");
  close_kml(&Kml_fixmode, "</Document>\n</kml>\n");
}

void HOSTOUT_set_ansi() {
  Ansi.normal = "\033[0m";
  Ansi.bright_green = "\033[1;32m";
  Ansi.bright_white = "\033[1;37m";
}
void HOSTOUT_set_no_ansi() { Ansi = ANSI_T{}; }
void HOSTOUT_set_kml_start_second(int start_sec) { Kml_start_second = start_sec; }
// The dead-reckoning positions are not offered to fixmode.kml: this receiver
// has no dead-reckoning module, so the flag stays 0.
void HOSTOUT_set_DR_output_GNSS_fixmode_kml() { Out_DR_fixmode_kml = 0; }

void HOSTOUT_output_kml(int color) {
  KML_FILE_T* k = &Kml_output;
  if (k->fp == nullptr) return;
  k->offered = true;
  if (NV_get_fixmode() == FIX_NONE) return;
  D64 lat = 0.0;
  D64 lon = 0.0;
  NV_get_lat_lon_degree(&lat, &lon);
  int rc = 0;
  if (k->is_first_fix) rc = write_track_head(k->fp, lat, lon, color);
  if (rc >= 0 && static_cast<S64>(KERNEL_get_power_on_sec_count()) >= Kml_start_second)
    rc = std::fprintf(k->fp, "      %.13f,%.13f,0\n", lon, lat);
  k->is_first_fix = false;
  check_kml(k, rc);
}

void HOSTOUT_output_kml_fixmode() {
  KML_FILE_T* k = &Kml_fixmode;
  if (k->fp == nullptr) return;
  k->offered = true;
  const S16 fixmode = NV_get_fixmode();
  if (NV_has_fixed() == 0 && Out_DR_fixmode_kml == 0) return;
  D64 lat = 0.0;
  D64 lon = 0.0;
  NV_get_lat_lon_degree(&lat, &lon);
  int rc = 0;
  if (k->is_first_fix) rc = write_fixmode_head(k->fp);
  k->is_first_fix = false;
  if (rc >= 0 && static_cast<S64>(KERNEL_get_power_on_sec_count()) >= Kml_start_second)
    rc = write_fixmode_placemark(k->fp, fixmode, lat, lon);
  check_kml(k, rc);
}

void HOSTOUT_print_detail_data() {
  print_table_head();
  ESTIN_BY_CH_T estins{};
  collect_estins(&estins);
  D64 tow = 0.0;
  U16 wn = 0;
  NV_get_time(&tow, &wn);
  const RCV_TIME_T rcv{static_cast<S16>(wn), static_cast<S32>(tow)};
  int useful_pr_count = 0;
  for (S16 ch = 0; ch < N_CHANNELS; ++ch)
    print_channel(ch, estins[static_cast<std::size_t>(ch)], rcv, &useful_pr_count);
  if (NV_get_speed() > Max_speed) Max_speed = NV_get_speed();
  if (NV_get_show_speed() > Max_show_speed) Max_show_speed = NV_get_show_speed();
  std::printf("Wrong msgtype = %d, Wrong checksum = %d\n", DP_get_wrong_msgtype_count(), DP_get_wrong_checksum_count());
  print_time_lines();
  print_state_lines();
  print_filter_lines(useful_pr_count);
}

void HOSTOUT_print_debug_informations_at_end() {
  // the search engine's on/off second counters are not reported over the host link: 0
  std::printf("Pse_on_sec_count = %ld, Pse_off_sec_count = %ld\n", 0L, 0L);
}

namespace {

// The NMEA port (the caller's, null: none) and its write failures.
SIO_T Nmea_port = nullptr;
long Nmea_port_failures = 0;
// The epoch's record, satellites in view and sentence buffer.
NMEA_DATA_T Nmea_data;
std::array<NMEA_SV_T, NMEA_MAX_SV> Nmea_sv_gps;
std::array<NMEA_SV_GLONASS_T, NMEA_MAX_SV> Nmea_sv_glonass;
std::array<NMEA_SV_T, NMEA_MAX_SV> Nmea_sv_beidou2;
std::array<U08, NMEA_BUF_SIZE> Nmea_buf;

// One sentence of len characters to stdout and / or the NMEA port. A
// failed write is said once on stderr and counted; the run goes on.
void nmea_out(const U08* buf, S16 len, bool to_stdout) {
  if (len <= 0) return;
  if (to_stdout) std::printf("%s", reinterpret_cast<const char*>(buf));
  if (Nmea_port == nullptr) return;
  errno = 0;
  if (sio_tx(Nmea_port, reinterpret_cast<const char*>(buf), len) != 0) return;
  if (Nmea_port_failures++ == 0) {
    std::fflush(stdout);
    std::fprintf(stderr, "talonhost: %s: NMEA write failed: %s (further failures are counted)\n", sio_name(Nmea_port),
                 errno != 0 ? std::strerror(errno) : "output queue full");
  }
}

// The sentence block of the epoch: GGA, GSA, GSV (one per four satellites
// in view, none without), RMC, VTG.
void nmea_block(bool to_stdout) {
  S16 n_gps = 0;
  S16 n_glonass = 0;
  S16 n_beidou2 = 0;
  constexpr DTM_T WGS84 = {6378137.0, 298.257223563, 0, 0, 0};
  KINTERFACE_get_data_for_nmea(&Nmea_data, &n_gps, &n_glonass, &n_beidou2, Nmea_sv_gps.data(), Nmea_sv_glonass.data(),
                               Nmea_sv_beidou2.data(), 1, &WGS84);
  U08* buf = Nmea_buf.data();
  nmea_out(buf, NMEA_gga(buf, &Nmea_data), to_stdout);
  nmea_out(buf, NMEA_gsa(buf, &Nmea_data), to_stdout);
  for (S32 k = 1; k <= (n_gps + 3) / 4; ++k) nmea_out(buf, NMEA_gsv(buf, n_gps, k, Nmea_sv_gps.data()), to_stdout);
  nmea_out(buf, NMEA_rmc(buf, &Nmea_data), to_stdout);
  nmea_out(buf, NMEA_vtg(buf, &Nmea_data), to_stdout);
}

}  // namespace

void HOSTOUT_set_nmea_port(SIO_T sio) {
  Nmea_port = sio;
  Nmea_port_failures = 0;
}
long HOSTOUT_get_nmea_port_failures() { return Nmea_port_failures; }

void HOSTOUT_print_nmea_message() { nmea_block(true); }

void HOSTOUT_send_nmea_to_port() {
  if (Nmea_port != nullptr) nmea_block(false);
}
