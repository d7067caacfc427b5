// Scenario simulator: CRVRAW writer, broadcast message encoders and the
// generator of rover and base observables with known truth.
//
// Everything here is written from the message tables and the public signal
// documents on its own; it shares no bit-layout or orbit code with the reader
// and the engine, so that round trips and end-to-end runs test both sides.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "misc/gnss_types.h"

inline constexpr double SIM_C = 299792458.0;
inline constexpr double SIM_PI_SC = 3.1415926535898;  // pi of the navigation message scale factors
inline constexpr double SIM_MU = 3.986005e14;
inline constexpr double SIM_OMGE = 7.2921151467e-5;
inline constexpr double SIM_L1 = 1575.42e6;
inline constexpr int SIM_MAX_SAT = 32;
inline constexpr int SIM_MAX_OBS = 64;
inline constexpr int SIM_MAX_FRAME = 4096;

// GPS time split into week and time of week.
struct SIM_TIME_T {
  int week;
  double tow;
};

// ---------------------------------------------------------------------------
// GPS ephemeris as broadcast: every field is the integer of subframes 1-3;
// the physical values follow from the scale factors (sim_gps_eph_values).
struct SIM_GPS_EPH_T {
  int prn;
  int week;  // full week of the transmission (the subframe carries week mod 1024)
  int l2code, ura, health, iodc, l2p, iode, fit_flag, aodo;
  int tgd, toc, af2, af1, af0;  // 2^-31 s, 2^4 s, 2^-55, 2^-43, 2^-31
  int crs, deln, m0, cuc, cus, toe, cic, omg0, cis, i0, crc, omg, omgd, idot;
  unsigned int e, sqrta;  // 2^-33, 2^-19 m^0.5
};

// Physical values of a broadcast GPS ephemeris (radians, metres, seconds).
struct SIM_GPS_EPH_VAL_T {
  double toes, toc, af0, af1, af2, tgd;
  double sqrtA, e, i0, OMG0, omg, M0, deln, OMGd, idot, crc, crs, cuc, cus, cic, cis;
};
void sim_gps_eph_values(const SIM_GPS_EPH_T* eph, SIM_GPS_EPH_VAL_T* v);
// ECEF position (m) and satellite clock offset (s, polynomial + relativity, without T_GD)
// at time t; sec_since_toe is t - toe in seconds.
void sim_gps_sat_state(const SIM_GPS_EPH_T* eph, double sec_since_toe, double* pos, double* clk);

// Subframes 1, 2 and 3 as ten 24-bit words each (parity removed), MSB first.
// tow: GPS time of week of the start of subframe 1 (multiple of 6 s).
void sim_encode_gps_subframes(const SIM_GPS_EPH_T* eph, double tow, U08 sf[3][30]);

// GLONASS ephemeris as broadcast in strings 1-4 (sign-magnitude fields).
struct SIM_GLO_EPH_T {
  int slot;               // n, 1..24
  int tk_h, tk_m, tk_30;  // frame start, Moscow time
  int tb;                 // 15-min index of the reference time, Moscow time
  int bn, p1, p2, p3, p4, ln, ft, en, nt, m;
  int x[3], v[3], a[3];   // 2^-11 km, 2^-20 km/s, 2^-30 km/s^2
  int gamn, taun, dtaun;  // 2^-40, 2^-30 s, 2^-30 s
};
// String m (1..4): the 72 bits that follow the string number (9 bytes).
void sim_encode_glo_string(const SIM_GLO_EPH_T* geph, int m, U08 out[9]);

// SBAS type 9 GEO navigation message.
struct SIM_SBAS9_T {
  int number;         // 33..51 (PRN - 87)
  int week, tow, t0;  // reception week and time of week (s); time of day of applicability (s)
  int ura;
  double pos[3], vel[3], acc[3], af0, af1;
};

// ---------------------------------------------------------------------------
// CRVRAW writer. Each function writes one whole frame into out (room for
// SIM_MAX_FRAME bytes) and returns its length.
struct SIM_OBS_T {
  int gnss;          // 0 GPS, 1 SBAS, 2 GLONASS, 3 Galileo, 4 QZSS, 5 BeiDou (extended raw)
  int sv;            // satellite number of the message (raw: the satellite code)
  int frq;           // GLONASS frequency number
  int cn0;           // dB-Hz
  double pr;         // m
  double cp;         // cycles
  float dop;         // Hz
  unsigned int ind;  // channel indicator bits
};
int sim_frame(const U08* payload, int n, U08* out);
int sim_msg_time(int iod, int week, U32 tow_ms, int period_ms, U08* out);
int sim_msg_raw(int iod, const SIM_OBS_T* obs, int n, U08* out);
int sim_msg_extraw(int iod, int week, U32 tow_ms, int period_ms, int indicator, const SIM_OBS_T* obs, int n, U08* out);
int sim_msg_rcv(int iod, const double* pos, const float* vel, double cbias, U08* out);
int sim_msg_gps_sf(int prn, const U08 sf[30], U08* out);
int sim_msg_glo_string(int slot, int m, const U08 data[9], U08* out);
int sim_msg_sbas9(const SIM_SBAS9_T* s, U08* out);

// ---------------------------------------------------------------------------
// RTCM 3 writer. Each function writes one whole frame (or an epoch's frames)
// into out and returns the length in bytes.
struct SIM_RTCM_CELL_T {
  int prn;         // satellite id of the message: MSM mask position 1..64, legacy DF009
  int sig;         // MSM signal id 1..32 (2: L1 C/A)
  double pr;       // pseudorange, m
  double phr;      // phase-range, m
  int phase_ok;    // 0: phase field marked invalid
  double rate;     // phase-range rate, m/s
  double lock_ms;  // lock time, ms
  int half;        // half-cycle ambiguity flag
  double cnr;      // dB-Hz
  int ext;         // MSM5/7 extended satellite information (GLONASS: frequency number + 7)
};
int sim_rtcm_frame(const U08* msg, int n, U08* out);
// 1005 or 1006 (type); height only in 1006.
int sim_rtcm_station(int type, int staid, const double* xyz, double height, U08* out);
// 1002 or 1004 (L1 only; the L2 fields are marked invalid).
int sim_rtcm_legacy(int type, int staid, U32 tow_ms, int sync, const SIM_RTCM_CELL_T* cells, int n, U08* out);
// MSM4..7 (msm) of the system whose types start at type_base + 4 (GPS 1070, GLONASS 1080,
// SBAS 1100, QZSS 1110, BeiDou 1120). epoch: the 30-bit epoch time field (GLONASS:
// day of week << 27 | time of day in ms). At most 64 cells.
int sim_rtcm_msm(int msm, int type_base, int staid, U32 epoch, int sync, const SIM_RTCM_CELL_T* cells, int n, U08* out);

// Base stream as RTCM 3: options and per-satellite state of the writer.
struct SIM_RTCM_OPT_T {
  int msm = 4;             // 4..7: MSM of GPS and GLONASS; 0: legacy GPS
  int legacy_type = 1004;  // 1002 or 1004 when msm is 0
  int glo_msm = 4;         // GLONASS MSM with legacy GPS (0: none)
  int pos_type = 1005;     // 1005, 1006 or 0 (no position)
  int staid = 1;
  int leap_sec = 18;  // GPS - UTC, s (GLONASS epoch times)
  int gps_lost = 0;   // 1: the epoch's GPS message is left out when it has GLONASS (GLONASS alone)
};
struct SIM_RTCM_STATE_T {
  int epochs;
  int tracked[56];
  double offset[56];      // cycles removed from the phase, per satellite
  double lock_start[56];  // tow of the start of the lock
};
void sim_rtcm_init(SIM_RTCM_STATE_T* st);
// One base epoch (observations as for CRVRAW) as RTCM 3 frames; the station
// position goes out every 10 epochs.
int sim_rtcm_base_epoch(SIM_RTCM_STATE_T* st, const SIM_RTCM_OPT_T* opt, int week, double tow, const SIM_OBS_T* obs,
                        int n, const double* base_pos, U08* out);

// ---------------------------------------------------------------------------
// Scenario.
struct SIM_SLIP_T {
  int rcv;  // 0 rover, 1 base
  int prn;
  double t;  // seconds after the start
  int cycles;
  int unmarked = 0;  // 1: no cycle-slip bit in the stream (only the phase jumps)
};

// Canopy window over the rover: from t0 for dur seconds (after the start) the
// nsat satellites of lowest C/N0 at its start are shaded. kind 0: their C/N0
// falls by SIM_CANOPY_CN0_DROP (still tracked), the phase slips by 5..50 cycles
// at the window's first epoch, flagged there only; kind 1: the same slip
// without a flag; kind 2: they are not tracked in the window and come back
// with an unflagged slip.
struct SIM_CANOPY_T {
  double t0, dur;
  int nsat, kind;
};
inline constexpr int SIM_MAX_CANOPY = 32;
inline constexpr double SIM_CANOPY_CN0_DROP = 10.0;  // dB

struct SIM_SCENARIO_T {
  int week = 2400;
  double tow0 = 345600.0;                     // start, GPS time of week, s
  double duration = 60.0;                     // s
  double interval = 1.0;                      // s between epochs
  double base_llh[3] = {35.0, 139.0, 50.0};   // deg, deg, m (WGS-84)
  double rover_enu[3] = {100.0, 50.0, 2.0};   // rover offset from the base at the start, m
  double rover_vel_enu[3] = {0.0, 0.0, 0.0};  // m/s (zero: static rover)
  double code_noise = 0.0;                    // m, 1 sigma
  double phase_noise = 0.0;                   // cycles
  double doppler_noise = 0.0;                 // Hz
  double iono_error = 0.0;                    // fraction of the broadcast ionosphere model left as error
  double clk_bias[2] = {1.0E-4, -2.0E-4};     // rover, base receiver clock offset at the start, s
  double clk_drift[2] = {2.0E-8, -1.0E-8};    // s/s
  int nsat = 31;                              // GPS satellites of the constellation
  double elmask = 5.0;                        // deg, satellites below are not tracked
  unsigned int seed = 1;
  int ext_raw = 0;                // 1: extended raw (0xE5); 0: time and raw (0xDC, 0xDD)
  int base_pos = 1;               // write the base position (0xDF)
  int rover_rcv = 1;              // write the rover receiver state (0xDF, clock bias)
  int nav_first = 1;              // subframes before the first epoch (else after it)
  int glonass = 0;                // also GLONASS: strings and observables of 24 satellites
  int sbas = 0;                   // also SBAS type 9 messages (rover stream)
  double base_time_offset = 0.0;  // base epochs shifted by this (s), for pairing tests
  int geotag_every = 0;           // extended raw: every n-th rover epoch (from the first) is marked as geotagging
  int base_rtcm = 0;              // base stream as RTCM 3: 4..7 MSM, 1002 / 1004 legacy GPS; 0: CRVRAW
  int base_rtcm_pos = 1005;       // 1005 or 1006
  int nslip = 0;
  SIM_SLIP_T slips[16] = {};
  // Base stream faults (sim_base_delivered, sim_base_gps_lost).
  double base_glo_alone_rate = 0.0;  // RTCM 3 base: share of epochs whose GPS message is lost (key base_glo_alone_rate)
  double base_rate = 1.0;            // share of base epochs that arrive (key base_rate)
  double base_max_gap = 30.0;        // s: with base_rate below 1 no gap reaches this (key base_max_gap)
  int nbase_gap = 0;                 // key base_gap = start, length (s after the start; repeatable, at most 8)
  double base_gaps[8][2] = {};
  // Walking rover: speed (m/s) along a circle of this radius (m) from rover_enu,
  // turning left; 0: no walk (rover_vel_enu only).
  double walk_speed = 0.0, walk_radius = 0.0;
  int ncanopy = 0;
  SIM_CANOPY_T canopy[SIM_MAX_CANOPY] = {};
  int code_bias_prn = 0;    // rover GPS satellite with a constant code bias (0: none)
  double code_bias = 0.0;   // m, added to that satellite's rover pseudorange
  double cn0_offset = 0.0;  // dB added to every C/N0 (negative: weaker signals)
};

// 1 when the base epoch dT s after the start arrives: outside every base_gap
// window and, with base_rate below 1, drawn with that probability (every
// epoch whose index is a multiple of base_max_gap / interval arrives). 0: the
// base writes nothing for it (CRVRAW, RTCM 3 and RINEX alike).
int sim_base_delivered(const SIM_SCENARIO_T* sc, double dT);
// 1 when the RTCM 3 base epoch dT s after the start loses its GPS message
// (drawn with probability base_glo_alone_rate); its GLONASS message still goes.
int sim_base_gps_lost(const SIM_SCENARIO_T* sc, double dT);

// Truth of one rover epoch.
struct SIM_TRUTH_T {
  SIM_TIME_T t;   // true GPS time of reception
  double pos[3];  // rover ECEF, m
  double clk;     // rover clock offset, s
  int nsat;       // satellites written
  int geotag;     // 1 when the epoch carries the geotagging mark
};

// Byte counts of the rover and base streams after each epoch.
struct SIM_MARK_T {
  std::size_t rover, base;
};

// Writes the rover and base streams and the truth file (any path may be null).
// Returns the number of rover epochs, -1 if a file cannot be written.
int sim_run(const SIM_SCENARIO_T* sc, const char* rover_path, const char* base_path, const char* truth_path);
// The same into memory.
int sim_run_to_memory(const SIM_SCENARIO_T* sc, std::vector<U08>* rover, std::vector<U08>* base,
                      std::vector<SIM_TRUTH_T>* truth, std::vector<SIM_MARK_T>* marks = nullptr);
// The two streams as one recorder file (rb.bin): per epoch the base bytes, then
// the rover bytes, in records of at most 128 bytes (marker, big-endian length, bytes).
void sim_make_rb(const std::vector<U08>& rover, const std::vector<U08>& base, const std::vector<SIM_MARK_T>& marks,
                 std::vector<U08>* rb);

// Base ECEF position of a scenario, m.
void sim_base_ecef(const SIM_SCENARIO_T* sc, double* r);
// Broadcast GPS ephemeris of constellation slot i (0..nsat-1) with reference time toe
// (week, time of week in s; a multiple of 16 s). The orbit is continuous over toe.
void sim_make_gps_eph(int i, int nsat, int week, double toe_tow, unsigned int seed, SIM_GPS_EPH_T* eph);
// GLONASS broadcast ephemeris of slot 1..24 for the half hour (Moscow time) that
// holds GPS time t: its reference time tb is the quarter hour in the middle of it
// (toe: the same instant as GPS week and time of week). The state lies on the
// slot's orbit of a 3-plane, 8-slot constellation (inclination 64.8 deg).
void sim_make_glo_eph(int slot, SIM_TIME_T t, SIM_GLO_EPH_T* geph, SIM_TIME_T* toe);
// Position (ECEF, m) and clock offset (s) of a broadcast GLONASS ephemeris dt
// seconds from its reference time: the state integrated in an inertial frame
// with the central and J2 terms.
void sim_glo_sat_state(const SIM_GLO_EPH_T* geph, double dt, double* pos, double* clk);
// Frequency number of a slot (antipodal slots share one).
int sim_glo_frq(int slot);
// SBAS type 9 message of number 33..51 received at GPS time t.
void sim_make_sbas9(int number, SIM_TIME_T t, SIM_SBAS9_T* msg);
// Geodetic (rad, rad, m) to ECEF (m), WGS-84.
void sim_llh2ecef(const double* llh, double* r);
// Broadcast ionosphere (default Klobuchar coefficients) on L1, m; tow in s.
double sim_klobuchar(double lat, double lon, double az, double el, double tow);
// Saastamoinen delay in a standard atmosphere, relative humidity 0.7, m.
double sim_saastamoinen(double lat, double hgt, double el);
// Parses "key = value" lines into a scenario; returns 1, or 0 with the bad line number in *line.
int sim_parse_scenario(const char* text, SIM_SCENARIO_T* sc, int* line);

// ---------------------------------------------------------------------------
// RINEX 3.04 writer (GPS L1 C/A: C1C L1C D1C S1C; GPS navigation records).
void sim_rinex_obs_header(std::string* out, const double* approx_pos, double interval, SIM_TIME_T first);
// One epoch at receiver time t; satellites other than GPS are left out.
void sim_rinex_obs_epoch(std::string* out, SIM_TIME_T t, const SIM_OBS_T* obs, int n);
void sim_rinex_nav_header(std::string* out);
void sim_rinex_nav_gps(std::string* out, const SIM_GPS_EPH_T* eph);

// The streams of sim_run_to_memory, and the same observables and GPS
// ephemerides as RINEX text (rover and base observation files, navigation file).
struct SIM_RINEX_T {
  std::string rover_obs, base_obs, nav;
};
int sim_run_rinex(const SIM_SCENARIO_T* sc, std::vector<U08>* rover, std::vector<U08>* base,
                  std::vector<SIM_TRUTH_T>* truth, SIM_RINEX_T* rinex);
