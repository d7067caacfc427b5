// The target's parallel search engine as the simulated sky's closed loop: it
// takes the host's search commands (strategy lists, Doppler list, clock
// offset, pause, static hint, channel drops and millisecond shifts, hot-start
// predictions) and decides when a visible satellite is acquired and gets a
// hardware channel. Used only when a run is put in closed-loop mode
// (SKY_LINK_set_closed_loop); an open-loop run gives every visible satellite a
// channel at once and never calls into this module.
//
// Acquisition model (tools/sky/README.md, "Closed loop"): a search pass
// sweeps its satellites one after the other, each over its Doppler bins; its
// engine units test cells (one satellite, one Doppler bin) in parallel, one
// cell each per cell time of the pass's signal level. A satellite is found
// when the sweep reaches its cell, provided it is visible, untracked, inside
// the searched Doppler range and at least as strong as the level's threshold.
// Time only runs for the engine while it is not paused.
//
// Units: frequencies in Hz unless named engine units; engine frequency units
// are the search NCO's: Hz × SKY_TCXO_T::pse_scale (2^26 / TCXO frequency),
// a clock offset carries the NCO's offset0 on top.
#pragma once

#include <array>
#include <cstdint>

#include "misc/host_msg.h"
#include "tools/sky/sky_link.h"

inline constexpr int SKY_SEARCH_NPRN = 32;    // GPS PRNs a cold pass sweeps
inline constexpr int SKY_SEARCH_UNITS = 6;    // engine units of the target (the host's start record: 6)
inline constexpr int SKY_SEARCH_LEVELS = 11;  // signal levels 0..10 of a search set

// One signal level of the engine: the weakest signal it finds, the time one
// unit needs for one cell at it, and the width of its Doppler bins.
struct SKY_SEARCH_LEVEL_T {
  double min_cn0_dbhz;  // dB-Hz: weaker satellites are not found by a pass at this level
  double cell_s;        // s per cell (one PRN, one Doppler bin) and unit
  double bin_hz;        // Doppler bin width, Hz
};

// Levels 0..10 (-120, -125, -130, -135, -138, -135..-142, -143..-146, -145,
// -145 hot, weak and very weak dBm): the threshold is the C/N0 of that power
// against a -174 dBm/Hz noise floor, the bin widths those of the host's
// search tables (500 Hz for the strong levels, 250, 62.5 and 25 Hz), the cell
// time grows with the integration a weaker level needs.
inline constexpr std::array<SKY_SEARCH_LEVEL_T, SKY_SEARCH_LEVELS> SKY_SEARCH_LEVEL_TBL = {{
    {54.0, 0.010, 500.0},
    {49.0, 0.015, 500.0},
    {44.0, 0.025, 500.0},
    {39.0, 0.040, 250.0},
    {36.0, 0.060, 250.0},
    {32.0, 0.100, 250.0},
    {28.0, 0.250, 250.0},
    {29.0, 0.200, 250.0},
    {29.0, 0.200, 62.5},
    {25.0, 0.800, 25.0},
    {22.0, 2.000, 25.0},
}};

// The engine's own search before the host sends any strategy list: one cold
// pass at level 4 over 53 bins (13 kHz of Doppler around the clock offset)
// with all units, repeated.
inline constexpr int SKY_SEARCH_BLIND_LEVEL = 4;
inline constexpr int SKY_SEARCH_BLIND_BINS = 53;

// Counters of the commands received (for tests and the target's summary).
struct SKY_SEARCH_COUNTS_T {
  int frames = 0;             // frames given to SKY_LINK_command
  int bad = 0;                // malformed (short, bad sync, wrong length, bad checksum, bad field) or unknown: ignored
  int pse_set = 0;            // strategy lists taken
  int svdopp = 0;             // Doppler lists taken
  int clock = 0;              // clock offsets taken
  int pause = 0;              // pause commands taken
  int is_static = 0;          // static hints taken
  int drops = 0;              // channels freed by a drop
  int drops_refused = 0;      // drops whose channel, PRN or track issue did not match
  int shifts = 0;             // millisecond shifts applied
  int shifts_refused = 0;     // shifts whose channel, PRN or track issue did not match
  int predict_time = 0;       // hot-start prediction times recorded
  int predict_meas = 0;       // predicted-measurement lists recorded
  int predicted_started = 0;  // satellites started at once from a predicted measurement
  int acquired = 0;           // satellites acquired by the search passes
  int other = 0;              // valid commands the engine does not act on (other GNSS, power, SBAS ...)
};

// What the engine runs now (for tests and the status report).
struct SKY_SEARCH_VIEW_T {
  int has_list = 0;     // 0: the engine's blind search; 1: the host's strategy list
  int mode_code = 0;    // the list's mode code (0 for the blind search)
  int strategy = 0;     // index of the strategy now running
  int paused = 0;       // 1: paused by the host
  int is_static = 0;    // the host's last static hint (0, 1, 2)
  int n_dopp = 0;       // satellites in the Doppler list
  double clock_hz = 0;  // clock offset searched around, Hz ((offset − offset0) / scale)
  double engine_s = 0;  // engine running time, s
};

// Start a closed-loop engine for a run of seed `seed` with TCXO constants t
// (the NCO offset0 and scale of the search). Forgets every command.
void SKY_SEARCH_reset(unsigned seed, const SKY_TCXO_T& t);

// One host command frame (sync, sync, type, payload, checksum; len bytes with
// the checksum; the caller's buffer). Returns 1 when taken, 0 when ignored
// (counted as bad: malformed or unknown; or, for valid commands the engine
// does not act on, counted as other).
int SKY_LINK_command(const U08* frame, int len);

// One measurement epoch of a closed-loop run: the engine runs step_s seconds
// (0 at the first epoch; nothing while paused) and fills svids (caller's
// array of SKY_LINK_NCH) with the satellites acquired now, in order. tracked
// (caller's, per hardware channel) holds the satellite on each channel (0:
// free). Returns their count.
int SKY_SEARCH_epoch(const SKY_EPOCH_T& ep, double step_s, const int16_t* tracked, int16_t* svids);

// The search status report (type 26, checksum included) into buf (>= 16
// bytes): mode = the list's mode code (0 in the blind search), state = the
// strategy now running, p_0..p_2 = signal levels of its sets (-1 where it has
// fewer), p_3 = 1 while paused. Returns the frame length.
int SKY_SEARCH_status_frame(U08* buf);

// The engine's state and its command counters.
SKY_SEARCH_VIEW_T SKY_SEARCH_view();
const SKY_SEARCH_COUNTS_T& SKY_SEARCH_counts();

// The PRN a cold pass of seed `seed` sweeps first: seed mod 32 + 1; then the
// PRNs in increasing order, wrapping after 32.
int SKY_SEARCH_first_prn(unsigned seed);

// ---- the run's side (tools/sky/sky_link_run.cpp) ----

// Put the started run in closed-loop mode (1) or back to open loop (0): the
// search engine decides the channels, and every whole second a search status
// report follows the epoch's GTC report. Resets the engine.
void SKY_LINK_set_closed_loop(int on);

// Free channel ch of satellite prn with track issue issue. 1 done, 0 when
// they do not match a busy channel.
int SKY_LINK_drop_channel(int ch, int prn, int issue);

// Shift the code of channel ch (satellite prn, track issue issue) by
// shift_ms whole milliseconds: its reported transmit time moves by shift_ms
// ms from the next report on. 1 done, 0 when they do not match a busy channel.
int SKY_LINK_shift_channel(int ch, int prn, int issue, int shift_ms);
