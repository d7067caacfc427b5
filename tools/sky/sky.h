// The simulated sky: what a GPS receiver at a known place and time would
// receive, computed from broadcast ephemerides with the propagation and clock
// effects a real signal carries. It is the truth source of the navigation
// kernel's tests and shares no code with the kernel or the RTK engine.
//
// Two halves meet here:
//   sky core (sky_*.cpp): scenario, constellation, receiver motion and clock,
//     signals at the antenna, navigation message words;
//   sky link (sky_link*.cpp): the target's view of those signals in the host
//     link's units (time count, channel reports, data-bit batches, RTC) and
//     the replay set / truth files.
// The link half uses only what this header declares.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int SKY_MAX_SV = 32;         // GPS PRNs 1..32
constexpr int SKY_MAX_OUTAGES = 16;    // outage windows in a scenario
constexpr int SKY_MAX_WAYPOINTS = 64;  // waypoints of a receiver track
constexpr int SKY_MAX_SLIPS = 16;      // scripted cycle slips

// GPS time: full week number and seconds of week [0, 604800).
struct SKY_GPST_T {
  int32_t week = 0;
  double tow = 0.0;
};

// Receiver truth at one epoch.
struct SKY_RX_T {
  SKY_GPST_T true_time;     // true GPS time of the epoch
  SKY_GPST_T clock_time;    // the receiver clock's reading (true time + clk_bias_s)
  double pos_ecef[3] = {};  // antenna, WGS-84 ECEF, m
  double vel_ecef[3] = {};  // m/s
  double clk_bias_s = 0.0;  // receiver clock − true GPS time, s
  double clk_drift = 0.0;   // d(clk_bias)/dt, s/s (positive: clock runs fast)
};

// One satellite's L1 C/A signal at the antenna at the epoch.
struct SKY_SIGNAL_T {
  int16_t svid = 0;     // PRN 1..32
  uint8_t visible = 0;  // 1 when above the elevation mask and not blocked by an outage
  // The satellite's own time stamp of the code received at the epoch (GPS
  // system time of transmission plus the satellite clock error incl.
  // relativity, minus T_GD): what the code phase and bit count encode.
  SKY_GPST_T tx_time;
  double range_m = 0.0;         // geometric range, light time and Earth rotation included, m
  double pseudorange_m = 0.0;   // c × (receiver clock time − tx_time), m
  double iono_m = 0.0;          // Klobuchar L1 delay included in pseudorange_m, m
  double tropo_m = 0.0;         // Saastamoinen delay included in pseudorange_m, m
  double sat_clk_s = 0.0;       // satellite clock correction incl. relativity and T_GD, s
  double range_rate_mps = 0.0;  // d(range)/dt, m/s
  double doppler_hz = 0.0;      // L1 carrier Doppler seen by the receiver clock, positive when approaching, Hz
  double carrier_cycles = 0.0;  // accumulated L1 carrier phase since the start, cycles (slips included)
  double cn0_dbhz = 0.0;        // carrier-to-noise density, dB-Hz (noise included)
  double el_deg = 0.0;          // elevation, degrees
  double az_deg = 0.0;          // azimuth from north, degrees
};

// Per-epoch view of the whole sky.
struct SKY_EPOCH_T {
  SKY_RX_T rx;
  int n = 0;                          // entries of sig used
  SKY_SIGNAL_T sig[SKY_MAX_SV] = {};  // every satellite of the constellation, visible or not
};

// A parsed scenario (short text file of "key = value" lines, '#' comments).
// The core fills the fields it knows; the link half reads the target fields.
struct SKY_SCENARIO_T {
  // time and constellation
  SKY_GPST_T start;           // true GPS time of the first epoch
  double duration_s = 120.0;  // length of the run, s
  int nsat = 10;              // satellites of the generated constellation
  unsigned seed = 1;          // random seed of noise and orbit generation
  double mask_deg = 5.0;      // elevation mask, degrees
  // receiver
  double llh[3] = {};      // start position: latitude, longitude (degrees), ellipsoidal height (m)
  double vel_enu[3] = {};  // constant velocity, m/s (east, north, up)
  int n_waypoints = 0;     // when > 0 the receiver follows these (time offset s, lat deg, lon deg, h m)
  double waypoints[SKY_MAX_WAYPOINTS][4] = {};
  double clk_bias0_s = 0.0;  // receiver clock − GPS time at the start, s
  double clk_drift = 0.0;    // s/s
  // outages: satellite svid (0 = all) blocked from t0 to t1 (s after start)
  int n_outages = 0;
  struct {
    int svid;
    double t0, t1;
  } outages[SKY_MAX_OUTAGES] = {};
  // signal noise and faults
  double code_noise_m = 0.0;  // 1-sigma code noise, m
  double cn0_noise_db = 0.0;  // 1-sigma C/N0 noise, dB
  int n_slips = 0;            // cycle slips: svid, time after start (s), cycles
  struct {
    int svid;
    double t;
    double cycles;
  } slips[SKY_MAX_SLIPS] = {};
  // target (used by the link half)
  int tcxo_mode = 4;             // 0..4, the target's TCXO frequency mode
  double meas_rate_hz = 1.0;     // measurement epochs per second: 1 or 2
  int carrier_slots = 0;         // 1: channel reports carry the 10 carrier slots and clock counts (2 Hz)
  int invert_bits = 0;           // 1: data bits sent inverted (the tracking loop's 180-degree ambiguity)
  int invert_bits_at_s = -1;     // >= 0: polarity flips at this time after start, s
  double bit_flip_rate = 0.0;    // probability that a data bit arrives flipped
  double batch_loss_rate = 0.0;  // probability that a 30-bit data batch is lost
};

// ---- core ----

// Parse a scenario file. 1 on success; 0 with a one-line reason in err
// (caller's buffer of err_len bytes) on a missing file, an unknown key or a
// value out of range.
int SKY_load_scenario(const char* path, SKY_SCENARIO_T* sc, char* err, size_t err_len);

// Prepare the sky of scenario sc (kept by pointer for the run; the caller
// owns it). 1 on success.
int SKY_init(const SKY_SCENARIO_T* sc);

// The sky at the epoch when the receiver clock reads clock_time (the target's
// measurement epochs are ticks of its own clock). Fills out. 1 on success.
int SKY_epoch_at_clock(SKY_GPST_T clock_time, SKY_EPOCH_T* out);

// The 30-bit navigation word (bits D1..D30 in bits 29..0, parity included,
// D29*/D30* chaining applied, upright polarity) that satellite svid transmits
// starting at GPS time week, word_index × 0.6 s (word_index 0 .. 1007999 in
// the week). 0 for an unknown svid.
uint32_t SKY_nav_word(int svid, int32_t week, int32_t word_index);
