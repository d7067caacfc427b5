// cn0_stats: C/N0 statistics of one receiver's observation epochs, to judge
// the RTK engine's C/N0 mask and its re-entry count on recorded data.
//
// For every satellite: the C/N0 distribution (1 dB-Hz histogram, mean,
// percentiles) and the share of its observations below each candidate mask.
// For every candidate mask: the observations below it, the dips (runs of
// 1, 2, 3 or more epochs below the mask after which the satellite comes back
// above it), the observations above the mask that the engine's re-entry count
// still drops, and the satellites usable per epoch with and without that
// count.
//
// The re-entry count follows the engine: a satellite seen below the mask gets
// its count set to `lockout` (20 in the engine); every epoch in which the
// satellite is observed takes one off the count (the dip epoch included); the
// satellite is used only when it is at or above the mask and its count is 0
// or less. A one-epoch dip therefore costs the dip epoch plus lockout - 2
// further epochs (19 in all for 20); lockout 0 or 1 models no re-entry count.
// The count runs per epoch of the file, so at 5 Hz 20 epochs are 4 s.
//
// Satellites below the elevation mask (when elevations are known) are not
// counted as usable, not counted in the below-mask and dip figures, and do
// not appear in the per-epoch counts; their re-entry counts still run, as in
// the engine. All storage is in the caller's CN0S_T; nothing is allocated.
#pragma once

#include <cstdio>

inline constexpr int CN0S_MAX_SAT = 128;          // satellite indices 1..127
inline constexpr int CN0S_MAX_MASKS = 8;          // candidate masks of one run
inline constexpr int CN0S_NBIN = 64;              // 1 dB-Hz bins [k, k + 1); the last one takes 63 and above
inline constexpr int CN0S_MAX_DIP = 3;            // dips of 1..3 epochs counted one by one, longer ones together
inline constexpr int CN0S_MAX_NUSED = 64;         // used-satellite counts per epoch kept one by one, more together
inline constexpr double CN0S_EL_UNKNOWN = -99.0;  // elevation not known: counts as above the elevation mask
inline constexpr int CN0S_MAX_LOCKOUT = 1000;     // epochs

// One observation: satellite index 1..CN0S_MAX_SAT-1, C/N0 (dB-Hz) and
// elevation (degrees, or CN0S_EL_UNKNOWN).
struct CN0S_OBS_T {
  int sat;
  double cn0;
  double el;
};

struct CN0S_SAT_T {
  unsigned long n;       // observations
  double sum, min, max;  // dB-Hz
  double el_sum;         // degrees, over the n_el observations of known elevation
  unsigned long n_el;
  unsigned long below[CN0S_MAX_MASKS];  // observations below each mask (any elevation)
  unsigned long hist[CN0S_NBIN];
};

struct CN0S_MASK_T {
  double mask;                                        // dB-Hz
  unsigned long obs_below;                            // observations above the elevation mask and below this mask
  unsigned long dips[CN0S_MAX_DIP + 1];               // dips[k - 1]: dips of k epochs; dips[CN0S_MAX_DIP]: longer
  unsigned long obs_locked;                           // at or above the mask, above the elevation mask, but held out
  unsigned long used_sum, used_nopen_sum;             // satellites used, summed over the epochs
  unsigned long used_hist[CN0S_MAX_NUSED + 1];        // epochs by satellites used (with the re-entry count)
  unsigned long used_nopen_hist[CN0S_MAX_NUSED + 1];  // the same without it
};

struct CN0S_T {
  int n_masks;
  int lockout;                        // epochs
  double el_mask;                     // degrees
  unsigned long epochs, obs, obs_el;  // epochs, observations, observations above the elevation mask
  unsigned long hist[CN0S_NBIN];      // every observation above the elevation mask
  CN0S_SAT_T sat[CN0S_MAX_SAT];
  CN0S_MASK_T m[CN0S_MAX_MASKS];
  int cnt[CN0S_MAX_MASKS][CN0S_MAX_SAT];  // re-entry count per mask and satellite
  int run[CN0S_MAX_MASKS][CN0S_MAX_SAT];  // epochs in a row below the mask
  bool was_above[CN0S_MAX_MASKS][CN0S_MAX_SAT];
};

// Clears *s and sets the candidate masks (n_masks of them, 1..CN0S_MAX_MASKS,
// dB-Hz, 0..99), the re-entry count (epochs, 0..CN0S_MAX_LOCKOUT) and the
// elevation mask (degrees, -90..90). Returns 1, or 0 for a null s or masks or
// a value out of range (*s then cleared with no mask).
int CN0S_init(CN0S_T* s, const double* masks, int n_masks, int lockout, double el_mask);

// Adds one epoch of n observations (caller's array, only read). Observations
// with a satellite index outside 1..CN0S_MAX_SAT-1 or a C/N0 that is not a
// number in 0..200 dB-Hz are left out; a satellite given twice counts once
// (the first). Returns the observations taken, or -1 for a null s, a null obs
// with n > 0 or a negative n (nothing added).
int CN0S_add_epoch(CN0S_T* s, const CN0S_OBS_T* obs, int n);

// Value (dB-Hz, lower edge of the bin) below which at least the share p
// (0..1) of the histogram's observations lie; -1 for an empty histogram or a
// null hist. hist has CN0S_NBIN bins.
int CN0S_percentile(const unsigned long* hist, double p);

// Mean satellites used per epoch for mask k (penalty 1: with the re-entry
// count, 0: without); 0 for no epoch or a bad k.
double CN0S_mean_used(const CN0S_T* s, int k, int penalty);
// Epochs of mask k with fewer than `below` satellites used; 0 for a bad k.
unsigned long CN0S_epochs_fewer(const CN0S_T* s, int k, int penalty, int below);

// Prints the tables (per satellite, all satellites, per mask) to fp.
// sat_name(sat, buf) writes the satellite's name into buf (8 bytes); null
// gives the index. Nothing for a null s or fp.
void CN0S_print(const CN0S_T* s, std::FILE* fp, void (*sat_name)(int sat, char* buf));
