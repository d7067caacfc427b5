// talon_target: the scripted target of the host link.
//
//   talon_target [--pty-file F] [--record F] [--sent F] [--epochs N] [--epoch-ms N] [--period-ms N]
//                [--settle-ms N] [--rtc WN,SEC,SUBSEC] [--mixed-gnss] [--silent] [--timeout-s N]
//   talon_target --write-set DIR [--epochs N] [--epoch-ms N] [--rtc WN,SEC,SUBSEC] [--mixed-gnss]
//   talon_target --scenario FILE [--pty-file F] [--record F] [--sent F] [--period-ms N] [--settle-ms N] ...
//
// --epoch-ms: the simulated epoch interval (its time count), 100 by default;
// --mixed-gnss: GLONASS and BeiDou channels beside the GPS ones.
// --scenario: play a simulated-sky scenario (tools/sky) open loop instead of
// the script, one measurement epoch per period (builds with the sky only).
// --closed-loop (with --scenario): the sky's search engine model takes the
// host's search commands and decides when satellites are acquired
// (tools/sky/sky_search.h). --stop-after-s N (with --scenario): the target
// stops sending reports after N s of scenario time and stays silent.
// --pps-file F (with --closed-loop): at the end, write every ASIC_SET_1PPS
// command with the receiver clock's truth of its moment as CSV (columns and
// relation in tools/sky/sky_pps.h and tools/sky/README.md).
// --predict-file F (with --closed-loop): at the end, write every entry of the
// ASIC_PREDICT_MEAS lists with the truth of its second and its errors as CSV
// (columns in tools/sky/sky_predict.h and tools/sky/README.md).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/talon_target/target_link.h"
#ifdef TALON_TARGET_SKY
#include "tools/sky/sky_hot.h"
#include "tools/sky/sky_link.h"
#include "tools/sky/sky_pps.h"
#include "tools/sky/sky_predict.h"
#include "tools/sky/sky_search.h"
#endif

namespace {

// Options of a scenario run.
struct SKY_OPT_T {
  int closed_loop = 0;
  int stop_after_s = -1;     // -1: never
  std::string pps_file;      // where to write the 1PPS commands with their truth; empty: nowhere
  std::string predict_file;  // where to write the predicted measurements with their truth; empty: nowhere
};

#ifdef TALON_TARGET_SKY
SKY_LINK_EPOCH_T Epoch_truth;
int Stop_after_s = -1;

bool sky_chunk(TARGET_CHUNK_T* out) {
  static U08 buf[8192];
  const int n = SKY_LINK_next_epoch(buf, sizeof buf, &Epoch_truth);
  if (n <= 0) return false;
  // The epoch's time from the start of the run, from its time count.
  static int64_t first_ms = -1;
  const int64_t ms =
      (static_cast<int64_t>(Epoch_truth.gtc.week) * 604800 + Epoch_truth.gtc.sec) * 1000 + Epoch_truth.gtc.ms;
  if (first_ms < 0) first_ms = ms;
  if (Stop_after_s >= 0 && ms - first_ms >= static_cast<int64_t>(Stop_after_s) * 1000) return false;
  out->assign(buf, buf + n);
  return true;
}

void sky_command(const U08* frame, int len) { SKY_LINK_command(frame, len); }

// Start the scenario's report stream; 0 with a message on failure.
int use_scenario(const std::string& path, const SKY_OPT_T& o, TARGET_LINK_PARAM_T* p) {
  char err[256] = "";
  if (!SKY_LINK_start_scenario(path.c_str(), err, sizeof err)) {
    std::fprintf(stderr, "talon_target: --scenario: %s\n", err);
    return 0;
  }
  if (o.closed_loop != 0) {
    SKY_LINK_set_closed_loop(1);
    p->on_command = sky_command;
  }
  Stop_after_s = o.stop_after_s;
  U08 rtc[32];
  const int n = SKY_LINK_rtc_report(rtc, nullptr);
  p->rtc_chunk.assign(rtc, rtc + n);
  p->next_chunk = sky_chunk;
  return 1;
}

// The 1PPS commands with their truth, one CSV row each.
void write_pps_file(const std::string& path) {
  std::FILE* fp = std::fopen(path.c_str(), "w");
  if (fp == nullptr) {
    std::fprintf(stderr, "talon_target: --pps-file: cannot write %s\n", path.c_str());
    return;
  }
  std::fprintf(
      fp,
      "# enable,offset,period,second,epoch,lag_epochs,mark_week,mark_sec,epoch_true_week,epoch_true_tow_s,clk_bias_s,"
      "clk_drift,freq_hz,true_offset_s,cmd_offset_s\n");
  for (int i = 0; i < SKY_PPS_count(); ++i) {
    const SKY_PPS_RECORD_T* r = SKY_PPS_record(i);
    if (r == nullptr) break;
    std::fprintf(fp, "%d,%u,%u,%lld,%lld,%lld,%d,%d,%d,%.12f,%.15e,%.15e,%u,%.15f,%.15f\n", r->enable, r->offset,
                 r->period, static_cast<long long>(r->second), static_cast<long long>(r->epoch),
                 static_cast<long long>(r->lag_epochs), r->mark.week, r->mark.sec, r->epoch_true_time.week,
                 r->epoch_true_time.tow, r->clk_bias_s, r->clk_drift, r->freq_hz, r->true_offset_s, r->cmd_offset_s);
  }
  std::fclose(fp);
}

// The predicted measurements with their truth, one CSV row per entry.
void write_predict_file(const std::string& path) {
  std::FILE* fp = std::fopen(path.c_str(), "w");
  if (fp == nullptr) {
    std::fprintf(stderr, "talon_target: --predict-file: cannot write %s\n", path.c_str());
    return;
  }
  std::fprintf(fp,
               "# list,ref_sec,can_chip,prn,code_rate_per_ms,code_rate,code0,dop_freq,by_eph,has_truth,epoch,"
               "true_week,true_tow_s,visible,el_deg,cn0_dbhz,true_code,true_code_rate,true_nco,true_doppler_hz,"
               "pred_doppler_hz,code_err_chips,doppler_err_hz,started\n");
  for (int i = 0; i < SKY_PREDICT_count(); ++i) {
    const SKY_PREDICT_RECORD_T* r = SKY_PREDICT_record(i);
    if (r == nullptr) break;
    const ASIC_PREDICTED_MEAS_T& m = r->meas;
    std::fprintf(fp, "%lld,%d,%d,%d,%d,%d,%d,%d,%d,%d,%lld,%d,%.9f,%d,%.3f,%.2f,%.3f,%.3f,%d,%.4f,%.4f,%.6f,%.4f,%d\n",
                 static_cast<long long>(r->list), r->ref_sec, r->can_chip, m.prn, m.code_rate_per_ms, m.code_rate,
                 m.code0, m.dop_freq, m.by_eph_flag, r->has_truth, static_cast<long long>(r->epoch), r->true_time.week,
                 r->true_time.tow, r->visible, r->el_deg, r->cn0_dbhz, r->true_code, r->true_code_rate, r->true_nco,
                 r->true_doppler_hz, r->pred_doppler_hz, r->code_err_chips, r->doppler_err_hz, r->started);
  }
  std::fclose(fp);
}

// The host's hot-start time prediction against the truth (sky_hot.h).
void print_hot_start() {
  const SKY_HOT_RECORD_T* r = SKY_HOT_first();
  if (r == nullptr) return;
  if (r->valid_flag != 1 || r->in_range == 0) {
    std::fprintf(stderr, "talon_target: hot start: %d messages, no prediction (valid %d, in range %d)\n",
                 SKY_HOT_count(), r->valid_flag, r->in_range);
    return;
  }
  std::fprintf(stderr,
               "talon_target: hot start: %d messages; predicted %d %.9f s for RTC %d+%d/32768 s, true %d %.9f s: "
               "error %+.6f ms; time count %s (clock step %+.6f ms)\n",
               SKY_HOT_count(), r->predicted.week, r->predicted.tow, r->rtc_sec, r->rtc_subsec, r->rtc_true.week,
               r->rtc_true.tow, r->error_s * 1e3, r->applied != 0 ? "set" : "not set", r->step_s * 1e3);
}

void print_summary(const SKY_OPT_T& o) {
  if (o.closed_loop == 0) return;
  const SKY_SEARCH_COUNTS_T& c = SKY_SEARCH_counts();
  std::fprintf(stderr,
               "talon_target: search: %d frames (%d bad), %d lists, %d Doppler lists, %d clock offsets, %d pauses, "
               "%d drops (%d refused), %d shifts (%d refused), %d acquired, %d started from predictions\n",
               c.frames, c.bad, c.pse_set, c.svdopp, c.clock, c.pause, c.drops, c.drops_refused, c.shifts,
               c.shifts_refused, c.acquired, c.predicted_started);
  std::fprintf(stderr, "talon_target: 1pps: %d commands\n", SKY_PPS_count());
  print_hot_start();
  if (!o.pps_file.empty()) write_pps_file(o.pps_file);
  const SKY_PREDICT_COUNTS_T& pc = SKY_PREDICT_counts();
  std::fprintf(stderr,
               "talon_target: predictions: %d lists (%d bad), %d entries (%d bad PRNs, %d without truth), "
               "%d within 1/8 chip and %.2f Hz, %d started\n",
               pc.lists, pc.bad_lists, pc.entries, pc.bad_prn, pc.no_truth, pc.within_tol, 0.5 * SKY_PREDICT_BIN_HZ,
               pc.started);
  if (!o.predict_file.empty()) write_predict_file(o.predict_file);
}
#else
void print_summary(const SKY_OPT_T&) {}
int use_scenario(const std::string&, const SKY_OPT_T&, TARGET_LINK_PARAM_T*) {
  std::fprintf(stderr, "talon_target: --scenario: this build has no simulated sky\n");
  return 0;
}
#endif

int usage() {
  std::fprintf(stderr,
               "usage: talon_target [--pty-file F] [--record F] [--sent F] [--epochs N] [--epoch-ms N]\n"
               "                    [--period-ms N] [--settle-ms N] [--rtc WN,SEC,SUBSEC] [--mixed-gnss]\n"
               "                    [--silent] [--timeout-s N]\n"
               "       talon_target --write-set DIR [--epochs N] [--epoch-ms N] [--rtc WN,SEC,SUBSEC] [--mixed-gnss]\n"
               "       talon_target --scenario FILE [--pty-file F] [--record F] [--sent F] [--period-ms N]\n"
               "                    [--settle-ms N] [--timeout-s N] [--closed-loop] [--stop-after-s N]\n"
               "                    [--pps-file F] [--predict-file F]\n");
  return 1;
}

bool to_int(const char* s, long lo, long hi, int* out) {
  char* end = nullptr;
  const long v = std::strtol(s, &end, 0);
  if (end == s || *end != '\0' || v < lo || v > hi) return false;
  *out = static_cast<int>(v);
  return true;
}

// The options without a value; false for any other.
bool take_flag(const std::string& a, TARGET_LINK_PARAM_T* p, SKY_OPT_T* sky) {
  if (a == "--closed-loop")
    sky->closed_loop = 1;
  else if (a == "--silent")
    p->silent = 1;
  else if (a == "--mixed-gnss")
    p->script.mixed_gnss = 1;
  else
    return false;
  return true;
}

// The options naming a file or directory; false for any other.
bool take_path(const std::string& a, const char* v, TARGET_LINK_PARAM_T* p, SKY_OPT_T* sky, std::string* set_dir,
               std::string* scenario) {
  if (a == "--pty-file")
    p->pty_file = v;
  else if (a == "--record")
    p->record_file = v;
  else if (a == "--sent")
    p->sent_file = v;
  else if (a == "--write-set")
    *set_dir = v;
  else if (a == "--scenario")
    *scenario = v;
  else if (a == "--pps-file")
    sky->pps_file = v;
  else if (a == "--predict-file")
    sky->predict_file = v;
  else
    return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  TARGET_LINK_PARAM_T p;
  std::string set_dir, scenario;
  SKY_OPT_T sky;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    if (take_flag(a, &p, &sky)) continue;
    if (v == nullptr) return usage();
    ++i;
    if (take_path(a, v, &p, &sky, &set_dir, &scenario)) continue;
    if (a == "--epochs") {
      if (!to_int(v, 0, 100000, &p.script.epochs)) return usage();
    } else if (a == "--epoch-ms") {
      if (!to_int(v, 1, 1000, &p.script.epoch_ms)) return usage();
    } else if (a == "--period-ms") {
      if (!to_int(v, 0, 10000, &p.period_ms)) return usage();
    } else if (a == "--settle-ms") {
      if (!to_int(v, 0, 10000, &p.settle_ms)) return usage();
    } else if (a == "--stop-after-s") {
      if (!to_int(v, 0, 2592000, &sky.stop_after_s)) return usage();
    } else if (a == "--timeout-s") {
      if (!to_int(v, 1, 3600, &p.timeout_s)) return usage();
    } else if (a == "--rtc") {
      int wn = 0;
      long sec = 0;
      unsigned long sub = 0;
      if (std::sscanf(v, "%d,%ld,%lu", &wn, &sec, &sub) != 3) return usage();
      p.script.rtc_wn = static_cast<S16>(wn);
      p.script.rtc_sec = static_cast<S32>(sec);
      p.script.rtc_subsec = static_cast<U32>(sub);
    } else {
      return usage();
    }
  }
  if (!set_dir.empty()) return TARGET_write_replay_set(set_dir.c_str(), p.script) ? 0 : 1;
  if ((sky.closed_loop != 0 || sky.stop_after_s >= 0) && scenario.empty()) return usage();
  if ((!sky.pps_file.empty() || !sky.predict_file.empty()) && sky.closed_loop == 0) return usage();
  if (!scenario.empty() && !use_scenario(scenario, sky, &p)) return 1;
  const int rc = TARGET_serve(p);
  print_summary(sky);
  return rc;
}
