// talon_target: the scripted target of the host link.
//
//   talon_target [--pty-file F] [--record F] [--sent F] [--epochs N] [--epoch-ms N] [--period-ms N]
//                [--settle-ms N] [--rtc WN,SEC,SUBSEC] [--mixed-gnss] [--silent] [--timeout-s N]
//   talon_target --write-set DIR [--epochs N] [--epoch-ms N] [--rtc WN,SEC,SUBSEC] [--mixed-gnss]
//
// --epoch-ms: the simulated epoch interval (its time count), 100 by default;
// --mixed-gnss: GLONASS and BeiDou channels beside the GPS ones.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/talon_target/target_link.h"

namespace {

int usage() {
  std::fprintf(
      stderr,
      "usage: talon_target [--pty-file F] [--record F] [--sent F] [--epochs N] [--epoch-ms N]\n"
      "                    [--period-ms N] [--settle-ms N] [--rtc WN,SEC,SUBSEC] [--mixed-gnss]\n"
      "                    [--silent] [--timeout-s N]\n"
      "       talon_target --write-set DIR [--epochs N] [--epoch-ms N] [--rtc WN,SEC,SUBSEC] [--mixed-gnss]\n");
  return 1;
}

bool to_int(const char* s, long lo, long hi, int* out) {
  char* end = nullptr;
  const long v = std::strtol(s, &end, 0);
  if (end == s || *end != '\0' || v < lo || v > hi) return false;
  *out = static_cast<int>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  TARGET_LINK_PARAM_T p;
  std::string set_dir;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    if (a == "--silent") {
      p.silent = 1;
      continue;
    }
    if (a == "--mixed-gnss") {
      p.script.mixed_gnss = 1;
      continue;
    }
    if (v == nullptr) return usage();
    ++i;
    if (a == "--pty-file")
      p.pty_file = v;
    else if (a == "--record")
      p.record_file = v;
    else if (a == "--sent")
      p.sent_file = v;
    else if (a == "--write-set")
      set_dir = v;
    else if (a == "--epochs") {
      if (!to_int(v, 0, 100000, &p.script.epochs)) return usage();
    } else if (a == "--epoch-ms") {
      if (!to_int(v, 1, 1000, &p.script.epoch_ms)) return usage();
    } else if (a == "--period-ms") {
      if (!to_int(v, 0, 10000, &p.period_ms)) return usage();
    } else if (a == "--settle-ms") {
      if (!to_int(v, 0, 10000, &p.settle_ms)) return usage();
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
  return TARGET_serve(p);
}
