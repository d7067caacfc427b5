// Bad-measurement screens of the estimation inputs.
#include "kernel/src/nav_bad_meas.h"

#include <array>
#include <cmath>
#include <cstddef>

#include "kernel/src/channel.h"

namespace {

constexpr D64 MS_RANGE = 299792.458;           // m, light travel in 1 ms
constexpr D64 MS_RANGE_ROUNDED_UP = 299816;    // m, whole milliseconds counted from this
constexpr D64 MS_REMAINDER_LIMIT = 29979.246;  // m, 0.1 ms

struct SORTED_T {
  std::array<NV_ESTIN_T, NVESTIN_MAX> pr;  // by |pr_diff| ascending
  std::array<NV_ESTIN_T, NVESTIN_MAX> dr;  // by |dr_diff| ascending
  S16 n;
};

D64 apr(NV_ESTIN_T e) { return std::fabs(NVESTIN_get_pr_diff(e)); }
D64 adr(NV_ESTIN_T e) { return std::fabs(NVESTIN_get_dr_diff(e)); }

void sort_by(std::array<NV_ESTIN_T, NVESTIN_MAX>& a, S16 n, D64 (*key)(NV_ESTIN_T)) {
  for (S16 i = 1; i < n; ++i) {
    NV_ESTIN_T v = a[static_cast<std::size_t>(i)];
    S16 j = i;
    for (; j > 0 && key(a[static_cast<std::size_t>(j - 1)]) > key(v); --j)
      a[static_cast<std::size_t>(j)] = a[static_cast<std::size_t>(j - 1)];
    a[static_cast<std::size_t>(j)] = v;
  }
}

// The inputs without error, sorted both ways.
SORTED_T collect(S16 n_estin, const NV_ESTIN_T* ary) {
  SORTED_T s{};
  if (ary == nullptr) return s;
  for (S16 i = 0; i < n_estin && i < NVESTIN_MAX; ++i) {
    if (NVESTIN_has_no_error(ary[i]) == 0) continue;
    if (!std::isfinite(NVESTIN_get_pr_diff(ary[i])) || !std::isfinite(NVESTIN_get_dr_diff(ary[i]))) continue;
    s.pr[static_cast<std::size_t>(s.n)] = ary[i];
    s.dr[static_cast<std::size_t>(s.n)] = ary[i];
    ++s.n;
  }
  sort_by(s.pr, s.n, apr);
  sort_by(s.dr, s.n, adr);
  return s;
}

// Largest gap between neighbours of a sorted list (its upper index) and the
// second largest gap; the smallest gap.
struct GAPS_T {
  S16 max_at;  // upper index of the largest gap
  D64 max_gap, second_gap, min_gap;
};
GAPS_T gaps(const std::array<NV_ESTIN_T, NVESTIN_MAX>& a, S16 n, D64 (*key)(NV_ESTIN_T)) {
  GAPS_T g{1, -1.0, -1.0, 1e300};
  for (S16 i = 1; i < n; ++i) {
    const D64 d = key(a[static_cast<std::size_t>(i)]) - key(a[static_cast<std::size_t>(i - 1)]);
    if (d > g.max_gap) {
      g.second_gap = g.max_gap;
      g.max_gap = d;
      g.max_at = i;
    } else if (d > g.second_gap) {
      g.second_gap = d;
    }
    if (d < g.min_gap) g.min_gap = d;
  }
  if (g.second_gap < 0.0) g.second_gap = 0.0;
  return g;
}

// An outlier at either end of a sorted list: the input there, or null.
NV_ESTIN_T end_outlier(const std::array<NV_ESTIN_T, NVESTIN_MAX>& a, S16 n, D64 (*key)(NV_ESTIN_T), D64 min_gap_limit,
                       D64 gap_limit, D64 ratio) {
  const GAPS_T g = gaps(a, n, key);
  if (!(g.min_gap <= min_gap_limit)) return nullptr;
  if (!(g.max_gap > gap_limit && g.max_gap > ratio * g.second_gap)) return nullptr;
  if (g.max_at == 1) return a[0];
  if (g.max_at == n - 1) return a[static_cast<std::size_t>(n - 1)];
  return nullptr;
}

constexpr U16 BAD_DROP = NVESTIN_BAD_MEASUREMENT | NVESTIN_LARGE_ERROR | NVESTIN_NEED_DROP_CHANNEL;

// Gap walk of the regular screen; true when an input was flagged.
bool gap_walk(const SORTED_T& s, U32 fix_3D_count) {
  const bool biased = apr(s.pr[0]) > 100.0 || adr(s.dr[0]) > 10.0;
  const bool late = fix_3D_count > 10 && !biased;
  for (S16 i = 1; i < s.n; ++i) {
    const auto k = static_cast<std::size_t>(i);
    const NV_ESTIN_T up_pr = s.pr[k];
    const NV_ESTIN_T up_dr = s.dr[k];
    const D64 gp = apr(up_pr) - apr(s.pr[k - 1]);
    const D64 gd = adr(up_dr) - adr(s.dr[k - 1]);
    if (gp > 100000.0) {
      NVESTIN_set_flags(up_pr, BAD_DROP);
      return true;
    }
    if (!late) continue;
    bool flagged = false;
    if (gp > 100.0 && gd > 5.0 && up_pr == up_dr && NVESTIN_get_cn0(up_pr) < 29) {
      NVESTIN_set_flags(up_pr, NVESTIN_BAD_MEASUREMENT);
      flagged = true;
    }
    if (gp <= 400.0 && gd > 12.0 && NVESTIN_get_cn0(up_dr) < 36) {
      NVESTIN_set_flags(up_dr, BAD_DROP);
      flagged = true;
    }
    if (gp > 400.0 && NVESTIN_get_cn0(up_pr) < 36) {
      NVESTIN_set_flags(up_pr, BAD_DROP);
      flagged = true;
    }
    if (flagged) return true;
  }
  return false;
}

}  // namespace

S16 NVBADMEAS_bad_measurement_check_first_fix(S16 n_estin, const NV_ESTIN_T* estins_ary, U32) {
  const SORTED_T s = collect(n_estin, estins_ary);
  if (s.n < 3) return s.n;
  // Codes off by one millisecond (predicted bit syncs only).
  const D64 d01 = apr(s.pr[1]) - apr(s.pr[0]);
  if (d01 < 300.0) {
    S16 flagged = 0;
    for (S16 i = 0; i < s.n; ++i) {
      const NV_ESTIN_T e = s.pr[static_cast<std::size_t>(i)];
      const D64 x = apr(e) - d01;
      if (x > 290000.0 && x < 310000.0 && NVESTIN_get_bs_source(e) > BS_WEAK) {
        NVESTIN_set_flags(e, NVESTIN_BAD_MEASUREMENT | NVESTIN_NEED_DROP_CHANNEL);
        ++flagged;
      }
    }
    if (flagged > 0) return static_cast<S16>(s.n - flagged);
  }
  if (NV_ESTIN_T e = end_outlier(s.pr, s.n, apr, 30000.0, 1000.0, 2.0); e != nullptr) {
    NVESTIN_set_flags(e, NVESTIN_BAD_MEASUREMENT);
    return static_cast<S16>(s.n - 1);
  }
  if (NV_ESTIN_T e = end_outlier(s.dr, s.n, adr, 30.0, 50.0, 3.0); e != nullptr) {
    NVESTIN_set_flags(e, NVESTIN_BAD_MEASUREMENT);
    return static_cast<S16>(s.n - 1);
  }
  return s.n;
}

S16 NVBADMEAS_bad_measurement_check(S16 n_estin, const NV_ESTIN_T* estins_ary, U32 fix_3D_count) {
  const SORTED_T s = collect(n_estin, estins_ary);
  if (s.n < 3) return s.n;
  const auto last = static_cast<std::size_t>(s.n - 1);
  // A residual of whole milliseconds (within 0.1 ms).
  const NV_ESTIN_T top = s.pr[last];
  const D64 x = apr(top);
  if (x < 1.0e12) {
    const auto whole_ms = static_cast<long long>(std::llround(x) / static_cast<long long>(MS_RANGE_ROUNDED_UP));
    if (whole_ms >= 1 && std::fmod(x, MS_RANGE) < MS_REMAINDER_LIMIT) {
      NVESTIN_set_flags(top, BAD_DROP);
      return static_cast<S16>(s.n - 1);
    }
  }
  if (fix_3D_count > 10) {
    if (x > 1000.0 && x > 30.0 * apr(s.pr[last - 1])) {
      NVESTIN_set_flags(top, BAD_DROP | NVESTIN_NEED_CLEAR_EPHEMERIS);
      return static_cast<S16>(s.n - 1);
    }
    const NV_ESTIN_T top_dr = s.dr[last];
    if (adr(top_dr) > 50.0 && adr(top_dr) > 10.0 * adr(s.dr[last - 1])) {
      NVESTIN_set_flags(top_dr, BAD_DROP);
      return static_cast<S16>(s.n - 1);
    }
  }
  return gap_walk(s, fix_3D_count) ? static_cast<S16>(s.n - 1) : s.n;
}
