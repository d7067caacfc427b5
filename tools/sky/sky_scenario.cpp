// Scenario files: "key = value" lines, '#' starts a comment, blank lines are
// skipped. Every key sets one field of SKY_SCENARIO_T (waypoint, outage,
// slip, pr_step and sbas may repeat); an unknown key, a value that is not a number, the wrong
// count of numbers, a value out of range or a key given twice refuses the
// whole file with the line named.
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/sky/sky_core.h"

namespace {

constexpr int MAX_VALUES = 4;
constexpr size_t LINE_MAX = 512;
constexpr size_t MAX_FILE = 65536;
constexpr double MAX_TIME_S = 30.0 * 86400.0;  // longest run and latest event time, s

using APPLY_F = int (*)(SKY_SCENARIO_T* sc, const double* v, char* why, size_t why_len);

struct KEY_T {
  const char* name;
  int n;                  // numbers on the line
  bool integer;           // every number must be a whole number
  bool repeat;            // may be given more than once
  double lo[MAX_VALUES];  // inclusive range of each number
  double hi[MAX_VALUES];
  APPLY_F apply;
};

int ok() { return 1; }

int refuse(char* why, size_t why_len, const char* text) {
  if (why != nullptr && why_len > 0) std::snprintf(why, why_len, "%s", text);
  return 0;
}

int set_start_week(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->start.week = static_cast<int32_t>(v[0]);
  return ok();
}
int set_start_tow(SKY_SCENARIO_T* sc, const double* v, char* why, size_t len) {
  if (v[0] >= SKYC_WEEK_S) return refuse(why, len, "start_tow must be below 604800");
  sc->start.tow = v[0];
  return ok();
}
int set_sky_epoch(SKY_SCENARIO_T* sc, const double* v, char* why, size_t len) {
  if (v[0] != std::floor(v[0])) return refuse(why, len, "sky_epoch week must be a whole number");
  if (v[1] >= SKYC_WEEK_S) return refuse(why, len, "sky_epoch time of week must be below 604800");
  sc->has_sky_epoch = 1;
  sc->sky_epoch.week = static_cast<int32_t>(v[0]);
  sc->sky_epoch.tow = v[1];
  return ok();
}
int set_duration(SKY_SCENARIO_T* sc, const double* v, char* why, size_t len) {
  if (v[0] <= 0.0) return refuse(why, len, "duration must be positive");
  sc->duration_s = v[0];
  return ok();
}
int set_nsat(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->nsat = static_cast<int>(v[0]);
  return ok();
}
int set_seed(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->seed = static_cast<unsigned>(v[0]);
  return ok();
}
int set_mask(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->mask_deg = v[0];
  return ok();
}
int set_lat(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->llh[0] = v[0];
  return ok();
}
int set_lon(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->llh[1] = v[0];
  return ok();
}
int set_height(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->llh[2] = v[0];
  return ok();
}
int set_vel_enu(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  for (int i = 0; i < 3; ++i) sc->vel_enu[i] = v[i];
  return ok();
}
int add_waypoint(SKY_SCENARIO_T* sc, const double* v, char* why, size_t len) {
  if (sc->n_waypoints >= SKY_MAX_WAYPOINTS) return refuse(why, len, "more than 64 waypoints");
  if (sc->n_waypoints > 0 && v[0] <= sc->waypoints[sc->n_waypoints - 1][0]) {
    return refuse(why, len, "waypoint times must increase");
  }
  for (int i = 0; i < 4; ++i) sc->waypoints[sc->n_waypoints][i] = v[i];
  ++sc->n_waypoints;
  return ok();
}
int set_clk_bias(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->clk_bias0_s = v[0];
  return ok();
}
int set_clk_drift(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->clk_drift = v[0];
  return ok();
}
int add_outage(SKY_SCENARIO_T* sc, const double* v, char* why, size_t len) {
  if (sc->n_outages >= SKY_MAX_OUTAGES) return refuse(why, len, "more than 16 outages");
  if (v[2] <= v[1]) return refuse(why, len, "outage end must follow its start");
  auto& o = sc->outages[sc->n_outages++];
  o.svid = static_cast<int>(v[0]);
  o.t0 = v[1];
  o.t1 = v[2];
  return ok();
}
int set_code_noise(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->code_noise_m = v[0];
  return ok();
}
int set_cn0_noise(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->cn0_noise_db = v[0];
  return ok();
}
int add_slip(SKY_SCENARIO_T* sc, const double* v, char* why, size_t len) {
  if (sc->n_slips >= SKY_MAX_SLIPS) return refuse(why, len, "more than 16 slips");
  auto& s = sc->slips[sc->n_slips++];
  s.svid = static_cast<int>(v[0]);
  s.t = v[1];
  s.cycles = v[2];
  return ok();
}
int add_pr_step(SKY_SCENARIO_T* sc, const double* v, char* why, size_t len) {
  if (sc->n_pr_steps >= SKY_MAX_PR_STEPS) return refuse(why, len, "more than 8 pseudorange steps");
  if (v[0] != std::floor(v[0])) return refuse(why, len, "pseudorange step svid must be a whole number");
  if (v[2] <= v[1]) return refuse(why, len, "pseudorange step end must follow its start");
  auto& p = sc->pr_steps[sc->n_pr_steps++];
  p.svid = static_cast<int>(v[0]);
  p.t0 = v[1];
  p.t1 = v[2];
  p.metres = v[3];
  return ok();
}
int set_tcxo_mode(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->tcxo_mode = static_cast<int>(v[0]);
  return ok();
}
int set_meas_rate(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->meas_rate_hz = v[0];
  return ok();
}
int set_carrier_slots(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->carrier_slots = static_cast<int>(v[0]);
  return ok();
}
int set_invert_bits(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->invert_bits = static_cast<int>(v[0]);
  return ok();
}
int set_invert_bits_at(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->invert_bits_at_s = static_cast<int>(v[0]);
  return ok();
}
int set_bit_flip_rate(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->bit_flip_rate = v[0];
  return ok();
}
int set_batch_loss_rate(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->batch_loss_rate = v[0];
  return ok();
}

// Each Klobuchar parameter must fit its 8-bit signed message field.
int fits_s8(const double* v, const int* scale_exp, char* why, size_t len) {
  for (int i = 0; i < 4; ++i) {
    const double q = std::nearbyint(std::ldexp(v[i], -scale_exp[i]));
    if (q < -128.0 || q > 127.0) return refuse(why, len, "value does not fit its 8-bit message field");
  }
  return ok();
}
int set_iono_alpha(SKY_SCENARIO_T* sc, const double* v, char* why, size_t len) {
  static constexpr int EXP[4] = {-30, -27, -24, -24};
  if (fits_s8(v, EXP, why, len) == 0) return 0;
  for (int i = 0; i < 4; ++i) sc->iono_alpha[i] = v[i];
  return ok();
}
int set_iono_beta(SKY_SCENARIO_T* sc, const double* v, char* why, size_t len) {
  static constexpr int EXP[4] = {11, 14, 16, 16};
  if (fits_s8(v, EXP, why, len) == 0) return 0;
  for (int i = 0; i < 4; ++i) sc->iono_beta[i] = v[i];
  return ok();
}
int set_leap_seconds(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->leap_s = static_cast<int>(v[0]);
  return ok();
}
int set_leap_event(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->leap_wn = static_cast<int>(v[0]);
  sc->leap_dn = static_cast<int>(v[1]);
  sc->leap_s_after = static_cast<int>(v[2]);
  return ok();
}

int set_tropo_model(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->tropo_model = static_cast<int>(v[0]);
  return ok();
}
int set_iono_scale(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->iono_scale = v[0];
  return ok();
}
int set_warm_start(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->warm_start = static_cast<int>(v[0]);
  return ok();
}
int set_warm_start_age(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->warm_start_age_s = v[0];
  return ok();
}
int set_warm_start_iono(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->warm_start_iono = static_cast<int>(v[0]);
  return ok();
}
int add_sbas(SKY_SCENARIO_T* sc, const double* v, char* why, size_t len) {
  if (sc->n_sbas >= SKY_SBAS_MAX_GEO) return refuse(why, len, "more than 3 SBAS satellites");
  if (v[0] != std::floor(v[0])) return refuse(why, len, "SBAS PRN must be a whole number");
  for (int i = 0; i < sc->n_sbas; ++i)
    if (sc->sbas_prn[i] == static_cast<int>(v[0])) return refuse(why, len, "SBAS PRN given twice");
  sc->sbas_prn[sc->n_sbas] = static_cast<int>(v[0]);
  sc->sbas_lon_deg[sc->n_sbas] = v[1];
  ++sc->n_sbas;
  return ok();
}
int set_sbas_type0(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->sbas_type0 = static_cast<int>(v[0]);
  return ok();
}
int set_sbas_symbol_errors(SKY_SCENARIO_T* sc, const double* v, char* /*why*/, size_t /*len*/) {
  sc->sbas_symbol_error_rate = v[0];
  return ok();
}

// Keys whose value is a word: each word stands for one number of the key.
struct WORD_T {
  const char* key;
  const char* word;
  double value;
};
constexpr std::array<WORD_T, 2> WORDS = {{
    {"tropo_model", "saastamoinen", SKY_TROPO_SAASTAMOINEN},
    {"tropo_model", "simple", SKY_TROPO_SIMPLE},
}};

bool takes_words(const char* key) {
  for (const WORD_T& w : WORDS) {
    if (std::strcmp(w.key, key) == 0) return true;
  }
  return false;
}

// The number that word stands for with key; false for an unknown word.
bool word_value(const char* key, const char* word, double* v) {
  for (const WORD_T& w : WORDS) {
    if (std::strcmp(w.key, key) == 0 && std::strcmp(w.word, word) == 0) {
      *v = w.value;
      return true;
    }
  }
  return false;
}

constexpr double MAX_WARM_AGE_S = 28.0 * 86400.0;  // a stored fix older than four weeks gives no warm start
constexpr double ALPHA_MAX = 1e-5;                 // beyond any 8-bit alpha field (fits_s8 checks exactly)
constexpr double BETA_MAX = 1e8;
constexpr double MAX_PR_STEP_M = 100000.0;  // m, largest scripted pseudorange step

// clang-format off
constexpr std::array<KEY_T, 38> KEYS = {{
    {"start_week", 1, true, false, {0}, {9999}, set_start_week},
    {"start_tow", 1, false, false, {0}, {SKYC_WEEK_S}, set_start_tow},
    {"duration", 1, false, false, {0}, {MAX_TIME_S}, set_duration},
    {"sky_epoch", 2, false, false, {0, 0}, {9999, SKYC_WEEK_S}, set_sky_epoch},
    {"nsat", 1, true, false, {1}, {SKY_MAX_SV}, set_nsat},
    {"seed", 1, true, false, {0}, {4294967295.0}, set_seed},
    {"mask", 1, false, false, {0}, {89}, set_mask},
    {"lat", 1, false, false, {-90}, {90}, set_lat},
    {"lon", 1, false, false, {-180}, {180}, set_lon},
    {"height", 1, false, false, {-1000}, {100000}, set_height},
    {"vel_enu", 3, false, false, {-3000, -3000, -3000}, {3000, 3000, 3000}, set_vel_enu},
    {"waypoint", 4, false, true, {0, -90, -180, -1000}, {MAX_TIME_S, 90, 180, 100000}, add_waypoint},
    {"clk_bias", 1, false, false, {-10}, {10}, set_clk_bias},
    {"clk_drift", 1, false, false, {-1e-4}, {1e-4}, set_clk_drift},
    {"outage", 3, false, true, {0, 0, 0}, {SKY_MAX_SV, MAX_TIME_S, MAX_TIME_S}, add_outage},
    {"code_noise", 1, false, false, {0}, {1000}, set_code_noise},
    {"cn0_noise", 1, false, false, {0}, {20}, set_cn0_noise},
    {"slip", 3, false, true, {1, 0, -1e6}, {SKY_MAX_SV, MAX_TIME_S, 1e6}, add_slip},
    {"pr_step", 4, false, true, {1, 0, 0, -MAX_PR_STEP_M}, {SKY_MAX_SV, MAX_TIME_S, MAX_TIME_S, MAX_PR_STEP_M},
     add_pr_step},
    {"tcxo_mode", 1, true, false, {0}, {4}, set_tcxo_mode},
    {"meas_rate", 1, true, false, {1}, {2}, set_meas_rate},
    {"carrier_slots", 1, true, false, {0}, {1}, set_carrier_slots},
    {"invert_bits", 1, true, false, {0}, {1}, set_invert_bits},
    {"invert_bits_at", 1, true, false, {-1}, {MAX_TIME_S}, set_invert_bits_at},
    {"bit_flip_rate", 1, false, false, {0}, {1}, set_bit_flip_rate},
    {"batch_loss_rate", 1, false, false, {0}, {1}, set_batch_loss_rate},
    {"iono_alpha", 4, false, false, {-ALPHA_MAX, -ALPHA_MAX, -ALPHA_MAX, -ALPHA_MAX},
     {ALPHA_MAX, ALPHA_MAX, ALPHA_MAX, ALPHA_MAX}, set_iono_alpha},
    {"iono_beta", 4, false, false, {-BETA_MAX, -BETA_MAX, -BETA_MAX, -BETA_MAX},
     {BETA_MAX, BETA_MAX, BETA_MAX, BETA_MAX}, set_iono_beta},
    {"leap_seconds", 1, true, false, {-128}, {127}, set_leap_seconds},
    {"leap_event", 3, true, false, {0, 1, -128}, {9999, 7, 127}, set_leap_event},
    {"tropo_model", 1, true, false, {SKY_TROPO_SAASTAMOINEN}, {SKY_TROPO_SIMPLE}, set_tropo_model},
    {"iono_scale", 1, false, false, {0}, {10}, set_iono_scale},
    {"warm_start", 1, true, false, {0}, {1}, set_warm_start},
    {"warm_start_age", 1, true, false, {0}, {MAX_WARM_AGE_S}, set_warm_start_age},
    {"warm_start_iono", 1, true, false, {0}, {1}, set_warm_start_iono},
    {"sbas", 2, false, true, {SKY_SBAS_PRN_MIN, -180}, {SKY_SBAS_PRN_MAX, 180}, add_sbas},
    {"sbas_type0", 1, true, false, {0}, {1}, set_sbas_type0},
    {"sbas_symbol_errors", 1, false, false, {0}, {0.5}, set_sbas_symbol_errors},
}};
// clang-format on

struct PARSE_T {
  SKY_SCENARIO_T* sc;
  char* err;
  size_t err_len;
  int line_no;
  std::array<bool, KEYS.size()> seen;
};

int fail(PARSE_T* p, const char* what, const char* key) {
  if (p->err != nullptr && p->err_len > 0) {
    std::snprintf(p->err, p->err_len, "line %d: %s%s%s", p->line_no, what, key[0] != '\0' ? ": " : "", key);
  }
  return 0;
}

char* trim(char* s) {
  while (*s == ' ' || *s == '\t') ++s;
  char* end = s + std::strlen(s);
  while (end > s && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\r' || end[-1] == '\n')) --end;
  *end = '\0';
  return s;
}

const KEY_T* find_key(const char* name, size_t* index) {
  for (size_t i = 0; i < KEYS.size(); ++i) {
    if (KEYS[i].apply != nullptr && std::strcmp(KEYS[i].name, name) == 0) {
      *index = i;
      return &KEYS[i];
    }
  }
  return nullptr;
}

// The numbers of value into v; their count, or -1 when a token is not a
// finite number.
int read_numbers(char* value, double* v, int max) {
  int n = 0;
  char* s = value;
  while (true) {
    while (*s == ' ' || *s == '\t') ++s;
    if (*s == '\0') return n;
    if (n == max) return max + 1;
    char* end = nullptr;
    errno = 0;
    const double x = std::strtod(s, &end);
    if (end == s || errno == ERANGE || !std::isfinite(x) || (*end != '\0' && *end != ' ' && *end != '\t')) return -1;
    v[n++] = x;
    s = end;
  }
}

int check_numbers(PARSE_T* p, const KEY_T* k, const double* v) {
  for (int i = 0; i < k->n; ++i) {
    if (k->integer && v[i] != std::floor(v[i])) return fail(p, "whole number expected", k->name);
    if (v[i] < k->lo[i] || v[i] > k->hi[i]) {
      char what[96];
      std::snprintf(what, sizeof what, "value %g out of range %g..%g", v[i], k->lo[i], k->hi[i]);
      return fail(p, what, k->name);
    }
  }
  return 1;
}

// One line (modified in place). 1 when accepted or empty.
int parse_line(PARSE_T* p, char* line) {
  char* hash = std::strchr(line, '#');
  if (hash != nullptr) *hash = '\0';
  char* s = trim(line);
  if (*s == '\0') return 1;
  char* eq = std::strchr(s, '=');
  if (eq == nullptr) return fail(p, "expected key = value", "");
  *eq = '\0';
  const char* name = trim(s);
  size_t index = 0;
  const KEY_T* k = find_key(name, &index);
  if (k == nullptr) return fail(p, "unknown key", name);
  if (p->seen[index] && !k->repeat) return fail(p, "key given twice", name);
  p->seen[index] = true;
  double v[MAX_VALUES] = {};
  char* value = trim(eq + 1);
  int n = 0;
  if (takes_words(name)) {
    if (!word_value(name, value, &v[0])) return fail(p, "unknown value", name);
    n = 1;
  } else {
    n = read_numbers(value, v, MAX_VALUES);
  }
  if (n < 0) return fail(p, "bad number", name);
  if (n != k->n) {
    char what[64];
    std::snprintf(what, sizeof what, "%d number%s expected", k->n, k->n == 1 ? "" : "s");
    return fail(p, what, name);
  }
  if (check_numbers(p, k, v) == 0) return 0;
  char why[96] = "";
  if (k->apply(p->sc, v, why, sizeof why) == 0) return fail(p, why, name);
  return 1;
}

PARSE_T start_parse(SKY_SCENARIO_T* sc, char* err, size_t err_len) {
  *sc = SKY_SCENARIO_T{};
  if (err != nullptr && err_len > 0) err[0] = '\0';
  PARSE_T p{sc, err, err_len, 0, {}};
  return p;
}

}  // namespace

int SKY_parse_scenario(const char* text, SKY_SCENARIO_T* sc, char* err, size_t err_len) {
  if (text == nullptr || sc == nullptr) return 0;
  PARSE_T p = start_parse(sc, err, err_len);
  const char* s = text;
  while (*s != '\0') {
    const char* nl = std::strchr(s, '\n');
    const size_t len = nl != nullptr ? static_cast<size_t>(nl - s) : std::strlen(s);
    ++p.line_no;
    if (len >= LINE_MAX) return fail(&p, "line too long", "");
    char line[LINE_MAX];
    std::memcpy(line, s, len);
    line[len] = '\0';
    if (parse_line(&p, line) == 0) return 0;
    s += len;
    if (*s == '\n') ++s;
  }
  return 1;
}

int SKY_load_scenario(const char* path, SKY_SCENARIO_T* sc, char* err, size_t err_len) {
  if (path == nullptr || sc == nullptr) return 0;
  static char text[MAX_FILE + 1];  // one scenario at a time; no allocation
  *sc = SKY_SCENARIO_T{};
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) {
    if (err != nullptr && err_len > 0) std::snprintf(err, err_len, "cannot open %s", path);
    return 0;
  }
  const size_t n = std::fread(text, 1, MAX_FILE + 1, f);
  std::fclose(f);
  if (n > MAX_FILE) return refuse(err, err_len, "scenario file longer than 64 KiB");
  text[n] = '\0';
  if (std::strlen(text) != n) return refuse(err, err_len, "NUL byte in scenario file");
  return SKY_parse_scenario(text, sc, err, err_len);
}
