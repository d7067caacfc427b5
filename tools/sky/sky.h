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

#include "tools/sky/sky_sbas.h"

constexpr int SKY_MAX_SV = 32;         // GPS PRNs 1..32
constexpr int SKY_MAX_OUTAGES = 16;    // outage windows in a scenario
constexpr int SKY_MAX_WAYPOINTS = 64;  // waypoints of a receiver track
constexpr int SKY_MAX_SLIPS = 16;      // scripted cycle slips
constexpr int SKY_MAX_PR_STEPS = 8;    // scripted pseudorange steps

// Tropospheric delay models of the sky (scenario key tropo_model).
constexpr int SKY_TROPO_SAASTAMOINEN = 0;  // Saastamoinen in a standard atmosphere (default)
constexpr int SKY_TROPO_SIMPLE = 1;        // 2.47 exp(-0.000133 h) / (sin E + 0.0121) m

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
  // Near the week's end a double tow resolves 1.2e-10 s (3.5 cm): for
  // sub-centimetre work take clock_time - pseudorange_m / c instead.
  SKY_GPST_T tx_time;
  double range_m = 0.0;         // geometric range, light time and Earth rotation included, m
  double pseudorange_m = 0.0;   // c × (receiver clock time − tx_time), m
  double iono_m = 0.0;          // ionospheric L1 delay included in pseudorange_m (iono_scale x Klobuchar), m
  double tropo_m = 0.0;         // tropospheric delay included in pseudorange_m (tropo_model), m
  double sat_clk_s = 0.0;       // satellite clock offset: polynomial + relativity - T_GD, s
  double range_rate_mps = 0.0;  // d(range)/dt, m/s
  double doppler_hz = 0.0;      // L1 carrier Doppler seen by the receiver clock, positive when approaching, Hz
  double carrier_cycles = 0.0;  // accumulated L1 carrier phase since the start, cycles (slips included)
  double cn0_dbhz = 0.0;        // carrier-to-noise density, dB-Hz (noise included)
  double el_deg = 0.0;          // elevation, degrees
  double az_deg = 0.0;          // azimuth from north, degrees
  double code_err_m = 0.0;      // code noise included in pseudorange_m (and tx_time), m
  double pr_fault_m = 0.0;      // scripted pseudorange step included in pseudorange_m (and tx_time), m; 0 outside
  double sat_pos_ecef[3] = {};  // satellite at transmission, in the ECEF frame of the epoch (Earth rotation applied), m
};

// Per-epoch view of the whole sky.
struct SKY_EPOCH_T {
  SKY_RX_T rx;
  int n = 0;                          // entries of sig used
  SKY_SIGNAL_T sig[SKY_MAX_SV] = {};  // every satellite of the constellation, visible or not
  // SBAS GEOs of the scenario (svid = prn 120..138), visible or not; their
  // clock keeps GPS time (sat_clk_s 0), tx_time is GPS time of transmission
  int n_geo = 0;
  SKY_SIGNAL_T geo[SKY_SBAS_MAX_GEO] = {};
};

// A parsed scenario (short text file of "key = value" lines, '#' comments).
// The core fills the fields it knows; the link half reads the target fields.
struct SKY_SCENARIO_T {
  // time and constellation
  SKY_GPST_T start;  // true GPS time of the first epoch
  // The constellation's reference time: the satellites are placed in view of
  // the start position at this time, and the broadcast data sets, almanacs
  // and UTC reference follow from it. Default (has_sky_epoch 0): the start.
  // A later run of "the same sky" gives the earlier run's start here.
  int has_sky_epoch = 0;
  SKY_GPST_T sky_epoch;
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
  // pseudorange steps: the code of satellite svid (1..32) reads `metres`
  // longer from t0 to t1 (s after the start, t0 <= dt < t1); carrier phase and
  // Doppler are untouched
  int n_pr_steps = 0;
  struct {
    int svid;
    double t0, t1;
    double metres;
  } pr_steps[SKY_MAX_PR_STEPS] = {};
  // target (used by the link half)
  int tcxo_mode = 4;             // 0..4, the target's TCXO frequency mode
  double meas_rate_hz = 1.0;     // measurement epochs per second: 1 or 2
  int carrier_slots = 0;         // 1: channel reports carry the 10 carrier slots and clock counts (2 Hz)
  int invert_bits = 0;           // 1: data bits sent inverted (the tracking loop's 180-degree ambiguity)
  int invert_bits_at_s = -1;     // >= 0: polarity flips at this time after start, s
  double bit_flip_rate = 0.0;    // probability that a data bit arrives flipped
  double batch_loss_rate = 0.0;  // probability that a 30-bit data batch is lost
  // broadcast ionosphere and UTC (subframe 4 page 18); quantised to their
  // message fields when the sky starts
  double iono_alpha[4] = {1.118e-8, -7.451e-9, -5.961e-8, 1.192e-7};  // Klobuchar alpha0..3: s, s/sc, s/sc^2, s/sc^3
  double iono_beta[4] = {116700.0, -229400.0, -131100.0, 1.049e6};    // Klobuchar beta0..3: s, s/sc, s/sc^2, s/sc^3
  int leap_s = 18;        // delta t_LS: GPS - UTC before the leap-second event, s
  int leap_wn = 1929;     // WN_LSF: full GPS week of the leap-second event (sent modulo 256)
  int leap_dn = 7;        // DN: day of that week, 1..7
  int leap_s_after = 18;  // delta t_LSF: GPS - UTC after the event, s
  // propagation truth: the delays the pseudoranges carry
  int tropo_model = SKY_TROPO_SAASTAMOINEN;  // SKY_TROPO_SAASTAMOINEN or SKY_TROPO_SIMPLE
  double iono_scale = 1.0;                   // true ionospheric delay = iono_scale x broadcast Klobuchar delay
  // start-up image of the replay set (used by the link half)
  int warm_start = 0;             // 1: log_init.dat holds a warm-start receiver state; 0: all zero (cold start)
  double warm_start_age_s = 0.0;  // s (whole): the stored fix was taken this long before the RTC reading of the set
  int warm_start_iono = 0;        // 1: the warm-start image also holds the broadcast ionospheric parameters
  // SBAS GEO satellites (sky_sbas.h): prn 120..138 at a mean longitude
  int n_sbas = 0;
  int sbas_prn[SKY_SBAS_MAX_GEO] = {};
  double sbas_lon_deg[SKY_SBAS_MAX_GEO] = {};  // degrees east
  int sbas_type0 = 0;                          // 1: the GEOs send type 0 in the last slot of their schedule
  double sbas_symbol_error_rate = 0.0;         // probability that an SBAS symbol arrives flipped
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

// SBAS GEO i (0 .. n_sbas - 1) of scenario sc as the sky flies it: its prn
// and mean longitude, inclination 0.05 degrees, eccentricity 0.0002, the
// phase of its daily figure 0.37 (prn - 120) rad, URA index 2, the scenario's
// type 0 choice, symbol error rate and seed, and a type 1 PRN mask of GPS PRN
// 1..nsat. 1 on success, 0 for another i (out untouched).
int SKY_sbas_geo(const SKY_SCENARIO_T* sc, int i, SKY_SBAS_GEO_T* out);
// The target set its time count (the receiver clock) s seconds forward
// (negative: back): from now on the receiver clock reads true time + clk_bias
// + drift x (true - start) + the sum of the steps taken since SKY_init.
void SKY_clock_step(double s);
// Receiver clock - GPS time at true time true_time (steps included), s; 0
// before SKY_init.
double SKY_clock_bias_at(SKY_GPST_T true_time);

// The 30-bit navigation word (bits D1..D30 in bits 29..0, parity included,
// D29*/D30* chaining applied, upright polarity) that satellite svid transmits
// starting at GPS time week, word_index × 0.6 s (word_index 0 .. 1007999 in
// the week). 0 for an unknown svid.
uint32_t SKY_nav_word(int svid, int32_t week, int32_t word_index);

// ---- core: additions ----

// Parse scenario text held in memory (same syntax and checks as
// SKY_load_scenario; "line N" counts the lines of text). 1 on success; 0 with
// a one-line reason in err (caller's buffer of err_len bytes).
int SKY_parse_scenario(const char* text, SKY_SCENARIO_T* sc, char* err, size_t err_len);

// Broadcast ephemeris (subframes 1-3) of one satellite. Every field is the
// integer of its IS-GPS-200 message field (scale factor in the comment;
// sc = semicircles).
struct SKY_EPH_T {
  int32_t svid = 0;
  int32_t week = 0;      // full GPS week of toe (subframe 1 sends it modulo 1024)
  int32_t l2_code = 0;   // codes on L2, 2 bits
  int32_t ura = 0;       // URA index, 4 bits
  int32_t health = 0;    // SV health, 6 bits
  int32_t iodc = 0;      // 10 bits; its low 8 bits equal iode
  int32_t l2p_flag = 0;  // L2 P data flag, 1 bit
  int32_t tgd = 0;       // T_GD, 8 bits signed, 2^-31 s
  int32_t toc = 0;       // 16 bits, 2^4 s
  int32_t af2 = 0;       // 8 bits signed, 2^-55 s/s^2
  int32_t af1 = 0;       // 16 bits signed, 2^-43 s/s
  int32_t af0 = 0;       // 22 bits signed, 2^-31 s
  int32_t iode = 0;      // 8 bits
  int32_t crs = 0;       // 16 bits signed, 2^-5 m
  int32_t deln = 0;      // 16 bits signed, 2^-43 sc/s
  int32_t m0 = 0;        // 32 bits signed, 2^-31 sc
  int32_t cuc = 0;       // 16 bits signed, 2^-29 rad
  uint32_t e = 0;        // 32 bits, 2^-33
  int32_t cus = 0;       // 16 bits signed, 2^-29 rad
  uint32_t sqrta = 0;    // 32 bits, 2^-19 m^1/2
  int32_t toe = 0;       // 16 bits, 2^4 s
  int32_t fit_flag = 0;  // fit interval flag, 1 bit
  int32_t aodo = 0;      // age of data offset, 5 bits, 900 s
  int32_t cic = 0;       // 16 bits signed, 2^-29 rad
  int32_t omg0 = 0;      // Omega_0, 32 bits signed, 2^-31 sc
  int32_t cis = 0;       // 16 bits signed, 2^-29 rad
  int32_t i0 = 0;        // 32 bits signed, 2^-31 sc
  int32_t crc = 0;       // 16 bits signed, 2^-5 m
  int32_t omg = 0;       // omega, 32 bits signed, 2^-31 sc
  int32_t omgd = 0;      // Omega dot, 24 bits signed, 2^-43 sc/s
  int32_t idot = 0;      // 14 bits signed, 2^-43 sc/s
};

// Almanac of one satellite (subframe 5 pages 1-24, subframe 4 almanac pages).
struct SKY_ALM_T {
  int32_t svid = 0;
  int32_t e = 0;       // 16 bits, 2^-21
  int32_t toa = 0;     // 8 bits, 2^12 s
  int32_t wna = 0;     // almanac week, 8 bits (week modulo 256)
  int32_t di = 0;      // inclination - 0.30 sc, 16 bits signed, 2^-19 sc
  int32_t omgd = 0;    // 16 bits signed, 2^-38 sc/s
  int32_t health = 0;  // 8 bits
  int32_t sqrta = 0;   // 24 bits, 2^-11 m^1/2
  int32_t omg0 = 0;    // 24 bits signed, 2^-23 sc
  int32_t omg = 0;     // 24 bits signed, 2^-23 sc
  int32_t m0 = 0;      // 24 bits signed, 2^-23 sc
  int32_t af0 = 0;     // 11 bits signed, 2^-20 s
  int32_t af1 = 0;     // 11 bits signed, 2^-38 s/s
};

// Ionosphere and UTC parameters of subframe 4 page 18, as message integers.
struct SKY_IONO_UTC_T {
  int32_t alpha[4] = {};  // 8 bits signed each: 2^-30 s, 2^-27 s/sc, 2^-24 s/sc^2, 2^-24 s/sc^3
  int32_t beta[4] = {};   // 8 bits signed each: 2^11 s, 2^14 s/sc, 2^16 s/sc^2, 2^16 s/sc^3
  int32_t a1 = 0;         // 24 bits signed, 2^-50 s/s
  int32_t a0 = 0;         // 32 bits signed, 2^-30 s
  int32_t tot = 0;        // 8 bits, 2^12 s
  int32_t wnt = 0;        // 8 bits (week modulo 256)
  int32_t dt_ls = 0;      // 8 bits signed, s
  int32_t wn_lsf = 0;     // 8 bits (week modulo 256)
  int32_t dn = 0;         // 8 bits, day 1..7
  int32_t dt_lsf = 0;     // 8 bits signed, s
};

// The ephemeris satellite svid broadcasts at GPS time t (the 2-hour data set
// in effect then; the sky's orbit and clock follow the same set). 1 and *out
// for a satellite of the constellation; 0 otherwise.
int SKY_get_ephemeris(int svid, SKY_GPST_T t, SKY_EPH_T* out);

// The almanac of satellite svid broadcast at GPS time t (reference time toa
// of the almanac data set then). 1 and *out for a satellite of the
// constellation; 0 otherwise.
int SKY_get_almanac(int svid, SKY_GPST_T t, SKY_ALM_T* out);

// The ionosphere and UTC parameters the sky broadcasts (and uses for its own
// ionospheric delay). Fills *out.
void SKY_get_iono_utc(SKY_IONO_UTC_T* out);

// Satellite position (ECEF m, pos: 3 doubles), velocity (ECEF m/s, vel: 3
// doubles, may be null) and clock offset (*clk_s, s: af0 + af1 dt + af2 dt^2
// plus the relativistic term F e sqrt(A) sin E, without T_GD; may be null) at
// GPS system time t from ephemeris eph, by the IS-GPS-200 user algorithm.
// Buffers owned by the caller. 1 on success, 0 for a zero semi-major axis.
int SKY_eph_sat_state(const SKY_EPH_T* eph, SKY_GPST_T t, double* pos, double* vel, double* clk_s);

// Klobuchar L1 ionospheric delay (m) from broadcast parameters p at geodetic
// latitude lat and longitude lon (rad), azimuth az and elevation el (rad) of
// the satellite and GPS time of week tow (s). Elevations below 0 count as 0.
double SKY_klobuchar_m(const SKY_IONO_UTC_T* p, double lat, double lon, double az, double el, double tow);

// Saastamoinen tropospheric delay (m) in a standard atmosphere (1013.25 hPa,
// 15 C and 50 % relative humidity at sea level, 6.5 K/km lapse rate) at
// geodetic latitude lat (rad), ellipsoidal height h (m, clamped to 0..10 km)
// and elevation el (rad; held at 2 degrees below 2 degrees).
double SKY_saastamoinen_m(double lat, double h, double el);

// Simple tropospheric delay (m) at height h (m) and elevation el (rad):
// 2.47 exp(-0.000133 h) / (sin el + 0.0121); 0 for el <= 0 (the navigation
// kernel's own model, used as the truth with tropo_model = simple).
double SKY_simple_tropo_m(double h, double el);

// One navigation word from its 24 source data bits d1..d24 (d24: bits 23..0,
// d1 highest) and the transmitted word before it (prev: its bits 1..0 are
// D29*, D30*): bits 29..6 = D1..D24 (d complemented when D30* is 1), bits
// 5..0 = the parity D25..D30 of IS-GPS-200 Table 20-XIV.
uint32_t SKY_nav_encode(uint32_t d24, uint32_t prev);
