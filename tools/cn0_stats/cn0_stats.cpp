// C/N0 statistics of one receiver's observation epochs (see cn0_stats.h).
#include "tools/cn0_stats/cn0_stats.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr double MAX_CN0 = 200.0;  // dB-Hz; anything above is not a C/N0
constexpr int CNT_MIN = -10;       // the re-entry count stops falling here, as in the engine

int bin_of(double cn0) { return std::min(CN0S_NBIN - 1, static_cast<int>(cn0)); }

bool above_el(const CN0S_T& s, double el) { return el == CN0S_EL_UNKNOWN || el >= s.el_mask; }

void add_sat_stats(CN0S_T& s, const CN0S_OBS_T& o) {
  CN0S_SAT_T& st = s.sat[o.sat];
  if (st.n == 0) {
    st.min = o.cn0;
    st.max = o.cn0;
  }
  ++st.n;
  st.sum += o.cn0;
  st.min = std::min(st.min, o.cn0);
  st.max = std::max(st.max, o.cn0);
  ++st.hist[bin_of(o.cn0)];
  if (o.el != CN0S_EL_UNKNOWN) {
    st.el_sum += o.el;
    ++st.n_el;
  }
  for (int k = 0; k < s.n_masks; ++k)
    if (o.cn0 < s.m[k].mask) ++st.below[k];
}

// One observation against mask k: the dip runs and the engine's re-entry
// count. Returns 1 when the satellite is used, 0 otherwise; *nopen gets 1 when
// it would be used without the re-entry count.
int mask_step(CN0S_T& s, int k, const CN0S_OBS_T& o, int* nopen) {
  CN0S_MASK_T& m = s.m[k];
  int& cnt = s.cnt[k][o.sat];
  int& run = s.run[k][o.sat];
  const bool el_ok = above_el(s, o.el);
  const bool above = o.cn0 >= m.mask;
  if (!above) {
    cnt = s.lockout;
    ++run;
    if (el_ok) ++m.obs_below;
  } else {
    if (run > 0 && s.was_above[k][o.sat] && el_ok) ++m.dips[std::min(run, CN0S_MAX_DIP + 1) - 1];
    run = 0;
    s.was_above[k][o.sat] = true;
  }
  if (cnt > CNT_MIN) --cnt;
  *nopen = (above && el_ok) ? 1 : 0;
  const int used = (above && el_ok && cnt <= 0) ? 1 : 0;
  if (*nopen && !used) ++m.obs_locked;
  return used;
}

}  // namespace

int CN0S_init(CN0S_T* s, const double* masks, int n_masks, int lockout, double el_mask) {
  if (s == nullptr) return 0;
  std::memset(s, 0, sizeof(*s));
  if (masks == nullptr || n_masks < 1 || n_masks > CN0S_MAX_MASKS) return 0;
  if (lockout < 0 || lockout > CN0S_MAX_LOCKOUT || !(el_mask >= -90.0 && el_mask <= 90.0)) return 0;
  for (int k = 0; k < n_masks; ++k)
    if (!(masks[k] >= 0.0 && masks[k] <= 99.0)) return 0;
  for (int k = 0; k < n_masks; ++k) s->m[k].mask = masks[k];
  s->n_masks = n_masks;
  s->lockout = lockout;
  s->el_mask = el_mask;
  return 1;
}

int CN0S_add_epoch(CN0S_T* s, const CN0S_OBS_T* obs, int n) {
  if (s == nullptr || n < 0 || (obs == nullptr && n > 0)) return -1;
  bool seen[CN0S_MAX_SAT] = {};
  int used[CN0S_MAX_MASKS] = {};
  int nopen[CN0S_MAX_MASKS] = {};
  int taken = 0;
  for (int i = 0; i < n; ++i) {
    const CN0S_OBS_T& o = obs[i];
    if (o.sat < 1 || o.sat >= CN0S_MAX_SAT || !(o.cn0 >= 0.0 && o.cn0 <= MAX_CN0) || seen[o.sat]) continue;
    seen[o.sat] = true;
    ++taken;
    add_sat_stats(*s, o);
    if (above_el(*s, o.el)) {
      ++s->obs_el;
      ++s->hist[bin_of(o.cn0)];
    }
    for (int k = 0; k < s->n_masks; ++k) {
      int np = 0;
      used[k] += mask_step(*s, k, o, &np);
      nopen[k] += np;
    }
  }
  ++s->epochs;
  s->obs += static_cast<unsigned long>(taken);
  for (int k = 0; k < s->n_masks; ++k) {
    CN0S_MASK_T& m = s->m[k];
    m.used_sum += static_cast<unsigned long>(used[k]);
    m.used_nopen_sum += static_cast<unsigned long>(nopen[k]);
    ++m.used_hist[std::min(used[k], CN0S_MAX_NUSED)];
    ++m.used_nopen_hist[std::min(nopen[k], CN0S_MAX_NUSED)];
  }
  return taken;
}

int CN0S_percentile(const unsigned long* hist, double p) {
  if (hist == nullptr) return -1;
  unsigned long total = 0;
  for (int b = 0; b < CN0S_NBIN; ++b) total += hist[b];
  if (total == 0) return -1;
  const double need = std::clamp(p, 0.0, 1.0) * static_cast<double>(total);
  unsigned long acc = 0;
  for (int b = 0; b < CN0S_NBIN; ++b) {
    acc += hist[b];
    if (static_cast<double>(acc) >= need && acc > 0) return b;
  }
  return CN0S_NBIN - 1;
}

double CN0S_mean_used(const CN0S_T* s, int k, int penalty) {
  if (s == nullptr || k < 0 || k >= s->n_masks || s->epochs == 0) return 0.0;
  const unsigned long sum = penalty ? s->m[k].used_sum : s->m[k].used_nopen_sum;
  return static_cast<double>(sum) / static_cast<double>(s->epochs);
}

unsigned long CN0S_epochs_fewer(const CN0S_T* s, int k, int penalty, int below) {
  if (s == nullptr || k < 0 || k >= s->n_masks) return 0;
  const unsigned long* h = penalty ? s->m[k].used_hist : s->m[k].used_nopen_hist;
  unsigned long n = 0;
  for (int i = 0; i < std::min(below, CN0S_MAX_NUSED + 1); ++i) n += h[i];
  return n;
}

namespace {

double pct(unsigned long a, unsigned long b) {
  return b == 0 ? 0.0 : 100.0 * static_cast<double>(a) / static_cast<double>(b);
}

void print_sats(const CN0S_T& s, std::FILE* fp, void (*sat_name)(int, char*)) {
  std::fprintf(fp, "C/N0 per satellite (dB-Hz; p10/p50/p90 lower bin edges; elevation deg, '-' unknown)\n");
  std::fprintf(fp, "sat     epochs  mean   min  p10  p50  p90   max  el_mean");
  for (int k = 0; k < s.n_masks; ++k) std::fprintf(fp, "  <%4.1f%%", s.m[k].mask);
  std::fprintf(fp, "\n");
  for (int i = 1; i < CN0S_MAX_SAT; ++i) {
    const CN0S_SAT_T& st = s.sat[i];
    if (st.n == 0) continue;
    char name[8] = {};
    if (sat_name != nullptr)
      sat_name(i, name);
    else
      std::snprintf(name, sizeof(name), "%d", i);
    std::fprintf(fp, "%-6s %7lu %5.1f %5.1f %4d %4d %4d %5.1f", name, st.n, st.sum / static_cast<double>(st.n), st.min,
                 CN0S_percentile(st.hist, 0.1), CN0S_percentile(st.hist, 0.5), CN0S_percentile(st.hist, 0.9), st.max);
    if (st.n_el > 0)
      std::fprintf(fp, "  %7.1f", st.el_sum / static_cast<double>(st.n_el));
    else
      std::fprintf(fp, "  %7s", "-");
    for (int k = 0; k < s.n_masks; ++k) std::fprintf(fp, "  %6.1f", pct(st.below[k], st.n));
    std::fprintf(fp, "\n");
  }
}

void print_masks(const CN0S_T& s, std::FILE* fp) {
  std::fprintf(fp,
               "\nAll observations above the elevation mask (%.0f deg): %lu in %lu epochs; C/N0 p10 %d, p50 %d, p90 "
               "%d dB-Hz\n",
               s.el_mask, s.obs_el, s.epochs, CN0S_percentile(s.hist, 0.1), CN0S_percentile(s.hist, 0.5),
               CN0S_percentile(s.hist, 0.9));
  std::fprintf(fp,
               "\nPer mask (re-entry count %d epochs; 'pen' with it, 'free' without; dips = returns above the mask)\n",
               s.lockout);
  std::fprintf(fp,
               "mask   below%%  dips1 dips2 dips3 dips>3  held%%  used/ep free  used/ep pen  min free  min pen  "
               "ep<6 free  ep<6 pen  ep<5 free  ep<5 pen\n");
  for (int k = 0; k < s.n_masks; ++k) {
    const CN0S_MASK_T& m = s.m[k];
    int min_free = -1, min_pen = -1;
    for (int i = 0; i <= CN0S_MAX_NUSED; ++i) {
      if (min_free < 0 && m.used_nopen_hist[i] > 0) min_free = i;
      if (min_pen < 0 && m.used_hist[i] > 0) min_pen = i;
    }
    std::fprintf(fp, "%4.1f  %6.1f  %5lu %5lu %5lu %6lu  %5.1f  %12.2f  %11.2f  %8d  %7d  %9lu  %8lu  %9lu  %8lu\n",
                 m.mask, pct(m.obs_below, s.obs_el), m.dips[0], m.dips[1], m.dips[2], m.dips[3],
                 pct(m.obs_locked, s.obs_el), CN0S_mean_used(&s, k, 0), CN0S_mean_used(&s, k, 1), min_free, min_pen,
                 CN0S_epochs_fewer(&s, k, 0, 6), CN0S_epochs_fewer(&s, k, 1, 6), CN0S_epochs_fewer(&s, k, 0, 5),
                 CN0S_epochs_fewer(&s, k, 1, 5));
  }
}

}  // namespace

void CN0S_print(const CN0S_T* s, std::FILE* fp, void (*sat_name)(int sat, char* buf)) {
  if (s == nullptr || fp == nullptr) return;
  print_sats(*s, fp, sat_name);
  print_masks(*s, fp);
}
