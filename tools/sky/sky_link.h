// The link half of the simulated sky: what the Corvane Talon 8 target reports
// on the host link for the signals of the sky (tools/sky/sky.h), in the link's
// own units: time-count registers, RTC readings, channel reports (code phase,
// bit counter, Doppler NCO word, C/N0 fields, carrier slots), 30-bit data-bit
// batches, and the replay set plus truth file of a whole scenario.
//
// Every encoder here is the exact inverse of the conversion the host applies
// to the reports, so that a decoded report gives back the sky's transmit time,
// Doppler and C/N0 within the link's resolution.
//
// Conventions:
//   - receiver clock time: the TCXO's own time scale; one nominal TCXO period
//     is 1 / freq_hz seconds of it. The target's time count (GTC) counts it.
//   - absolute bit: a 20 ms GPS data bit counted from the start of GPS week 0
//     (week × 30 240 000 + bit of week), 64-bit.
//   - track bit count: the channel's own data-bit counter (absolute bit minus
//     the channel's origin), the `bitcnt` of channel reports and batches.
#pragma once

#include <cstddef>
#include <cstdint>

#include "misc/host_msg.h"
#include "tools/sky/sky.h"

inline constexpr int SKY_LINK_NCH = 20;                               // hardware channels
inline constexpr int64_t SKY_LINK_BITS_PER_WEEK = 30240000;           // 50 bit/s × 604 800 s
inline constexpr int32_t SKY_LINK_WORDS_PER_WEEK = 1008000;           // 30-bit words per week
inline constexpr uint8_t SKY_LINK_NSC = 8;                            // sub-chips per chip reported by the target
inline constexpr int16_t SKY_LINK_CN_INTEG_MS = 20;                   // coherent integration of the C/N0 estimator, ms
inline constexpr int16_t SKY_LINK_CN_COUNT = 50;                      // estimator sums per report
inline constexpr double SKY_LINK_HALF_CHIP_S = 4.887585532746823e-7;  // 0.5 / 1.023 MHz

// ---- TCXO modes ----

// Constants of one TCXO mode as the target's registers use them.
struct SKY_TCXO_T {
  int mode = 4;
  uint32_t freq_hz = 0;       // nominal TCXO frequency, Hz
  int32_t clock_per_ms0 = 0;  // freq_hz / 1000 (integer): clocks of a short millisecond
  int32_t fraction = 0;       // freq_hz − 1000 × clock_per_ms0: long (+1 clock) milliseconds per second
  double ideal_bb_hz = 0.0;   // ideal zero-Doppler baseband carrier frequency after the mixer residual, Hz
  float tm_scale = 0.0f;      // tracking NCO units per Hz (2^29 / freq_hz as tabulated, single precision)
  int32_t if_hz = 0;          // IF frequency: 1575.42 MHz − freq_hz × PLL ratio, Hz (GTC IF_FREQ register)
  uint32_t noise_power = 0;   // receiver noise power reported in GTC: 2 500 000 × (f / 16 367 667)² + 5000
};

// Fill *out for TCXO mode 0..4. 1 on success, 0 for another mode (out untouched).
int SKY_LINK_tcxo(int mode, SKY_TCXO_T* out);

// TCXO clocks from the start of a time-count second to its millisecond mark
// ms (0..1000): the first `fraction` milliseconds of a second last
// clock_per_ms0 + 1 clocks, the rest clock_per_ms0. ms = 1000 gives freq_hz.
uint32_t SKY_LINK_ms_clocks(const SKY_TCXO_T& t, int ms);

// ---- time count ----

// The target's raw time count at a millisecond mark.
struct SKY_GTC_T {
  int32_t week = 0;  // raw week (the register keeps the low 12 bits)
  int32_t sec = 0;   // raw second of week, 0..604799
  int32_t ms = 0;    // millisecond of the second, 0..999
};

// Relation between the receiver clock and the raw time count: the count
// started from the clock, minus whole weeks and whole seconds.
struct SKY_GTC_ORIGIN_T {
  int32_t week_offset = 0;  // raw week = clock week − week_offset
  int32_t sec_offset = 0;   // raw seconds = clock seconds − sec_offset (whole seconds, may exceed a week)
};

// Receiver clock time of the raw mark g (the kernel's reading: second plus
// SKY_LINK_ms_clocks(ms) / freq_hz).
SKY_GPST_T SKY_LINK_gtc_to_clock(const SKY_TCXO_T& t, const SKY_GTC_ORIGIN_T& o, const SKY_GTC_T& g);

// The raw mark `ms_step` milliseconds after g (ms_step ≥ 0), seconds and
// weeks carried.
SKY_GTC_T SKY_LINK_gtc_add_ms(const SKY_GTC_T& g, int64_t ms_step);

// The first raw mark at or after receiver clock time clock whose millisecond
// is a multiple of step_ms (1..1000, a divisor of 1000).
SKY_GTC_T SKY_LINK_gtc_at_or_after(const SKY_TCXO_T& t, const SKY_GTC_ORIGIN_T& o, SKY_GPST_T clock, int step_ms);

// Time-count registers of mark g: WEEK_SUBSEC = (week & 0xFFF) << 16 | ms,
// INTSEL_SEC = sec, SSUBSEC_DIV_SSUBSEC = 0 (epochs fall on millisecond
// marks), IF_FREQ = t.if_hz.
GTC_RD_T SKY_LINK_gtc_registers(const SKY_TCXO_T& t, const SKY_GTC_T& g);

// TCXO clocks from mark a to the later mark b (b − a below one week).
uint64_t SKY_LINK_clocks_between(const SKY_TCXO_T& t, const SKY_GTC_T& a, const SKY_GTC_T& b);

// ---- RTC ----

// The target's 32 768 Hz real-time clock as a function of true GPS time:
// rtc = true + offset_s + drift × (true − ref), read as 12-bit week, second
// of week and 1/32768 s count (truncated). The same model gives the same
// readings in every run, so a set made later continues an earlier one.
struct SKY_RTC_MODEL_T {
  double offset_s = 0.3125;   // RTC − GPS time at ref, s
  double drift = 0.0;         // s/s
  SKY_GPST_T ref{2000, 0.0};  // reference time of the drift
};

struct SKY_RTC_T {
  int16_t wn = 0;       // week modulo 4096
  int32_t sec = 0;      // second of week
  uint32_t subsec = 0;  // 1/32768 s, 0..32767
};

SKY_RTC_T SKY_LINK_rtc_at(const SKY_RTC_MODEL_T& m, SKY_GPST_T true_time);

// True GPS time at which the RTC shows the whole second rtc_total_s
// (week × 604 800 + second, the week unwrapped).
SKY_GPST_T SKY_LINK_rtc_second_time(const SKY_RTC_MODEL_T& m, int64_t rtc_total_s);
// True GPS time at which the RTC shows rtc_total_s whole seconds (week
// unwrapped) and subsec counts of 1/32768 s (low 15 bits used).
SKY_GPST_T SKY_LINK_rtc_tick_time(const SKY_RTC_MODEL_T& m, int64_t rtc_total_s, uint32_t subsec);
// The RTC record a whole-second GTC report carries for the time-count mark at
// true time mark_true (receiver clock drift clk_drift s/s, nominal TCXO
// frequency freq_hz): the RTC is latched at its first 1/32768 s count at or
// after the mark; record_rtc_sec = that count's second of week (bits 0..19),
// record_rtc_wn_subsec = week mod 4096 in bits 16..27 and the count's
// sub-second (1/32768 s) in bits 0..14, and the third word the TCXO clocks
// from the mark to the latch (0 .. one RTC count, under 750 clocks).
ASIC_READ_RTC_T SKY_LINK_rtc_record(const SKY_RTC_MODEL_T& m, SKY_GPST_T mark_true, double clk_drift, uint32_t freq_hz);
// GPS time t moved by s seconds (either sign), the time of week brought back
// into 0 .. 604800 s by whole weeks.
SKY_GPST_T SKY_LINK_gpst_add(SKY_GPST_T t, double s);

// ---- channel report fields ----

// Code phase register of a sub-bit time sub_bit_s (seconds into the current
// 20 ms data bit, 0 ≤ sub_bit_s < 0.02) for nsc sub-chips (1..8) and a peak
// tap: ms bits 15..11, chip + 1 bits 9..0, sub-chip + 1 (nsc written as 0)
// bits 30..28, 1/1024 sub-chip bits 25..16, rounded to the nearest step.
uint32_t SKY_LINK_code_phase_reg(double sub_bit_s, uint8_t nsc, uint8_t peak_tap);

// Doppler NCO word: round((ideal_bb_hz − doppler_hz) × tm_scale).
int32_t SKY_LINK_nco_word(const SKY_TCXO_T& t, double doppler_hz);

// C/N0 estimator fields for cn0_dbhz (≥ 17 dB-Hz is representable) against
// noise power noise_power: cn_integ 20 ms, cn_div 1, cn_count 50, cn_shift
// chosen so that y = (20 × noise_power) >> (2 cn_shift) lies in 1..4000, and
// acc_power = 50 × y × (z + 1) with z = round(10^(cn0/10) × 20 / 1000) ≥ 1,
// so that the host's x / y − 1 gives z exactly in integer or real division.
void SKY_LINK_cn0_fields(double cn0_dbhz, uint32_t noise_power, ASIC_CHAN_MEAS_T* m);

// ---- data bits ----

// Deterministic corruption of the data bits: a bit of absolute index b of
// satellite svid arrives flipped when a hash of (seed, svid, b) falls below
// bit_flip_rate; a batch whose first bit is b is lost likewise with
// batch_loss_rate. Same seed, same faults.
struct SKY_BIT_FAULTS_T {
  unsigned seed = 1;
  double bit_flip_rate = 0.0;
  double batch_loss_rate = 0.0;
};

// Source of navigation words (SKY_nav_word or a test's own).
using SKY_NAV_WORD_FN = uint32_t (*)(int svid, int32_t week, int32_t word_index);

// The transmitted data bit of absolute bit b (D1..D30 as sent, upright).
int SKY_LINK_nav_bit(SKY_NAV_WORD_FN nav, int svid, int64_t abs_bit);

// The 30 bits of absolute bits first_abs_bit .. +29 as the target sends them
// (earliest bit in bit 29), complemented when inverted, with the bit flips
// of faults. *lost = 1 when faults drop this batch.
uint32_t SKY_LINK_batch_bits(SKY_NAV_WORD_FN nav, int svid, int64_t first_abs_bit, int inverted,
                             const SKY_BIT_FAULTS_T& faults, int* lost);

// ---- SD-card log ----

// The kernel start record (KERNEL_INIT_T) as stored in an SD-card log: 88
// bytes, each field at its natural alignment with 32-bit addresses,
// big-endian.
inline constexpr int SKY_LINK_KERNEL_INIT_SIZE = 88;
// Header of sd_log.dat: the 20 480-byte backup memory image, the start record
// and its CRC-16 (2 bytes), the 12-byte RTC record (SAVE_RTC_T).
inline constexpr std::size_t SKY_LINK_SD_HEADER_SIZE = 20480 + SKY_LINK_KERNEL_INIT_SIZE + 2 + 12;

// Encode the start record of a replay of a set in TCXO mode tcxo_mode into
// buf (caller's, >= 88 bytes): the host's built-in start values (power
// saving on, 6 search engines, SBAS and QZSS on, GPS only, 1 fix per second,
// DOP masks 30.0, 2-D fixes allowed, clock offset 0 Hz, 16 leap seconds,
// elevation mask 5 degrees) with that TCXO mode, all addresses 0 (no user
// position/time record follows). Returns 88, or -1 when the record cannot
// be encoded.
int SKY_LINK_kernel_init_record(int tcxo_mode, U08* buf);

// Encode the sd_log.dat header of a cold start in TCXO mode tcxo_mode (0..4)
// with the RTC reading rtc into buf (caller's, cap bytes): a zero backup
// image; the start record (SKY_LINK_kernel_init_record) followed by the
// CRC-16/XMODEM of its 88 bytes; SAVE_RTC_T = rtc_sec (S32, s), rtc_subsec
// (U32, 1/32768 s), rtc_wn (S16, week mod 4096), CRC-16 of those 10 bytes.
// Every multi-byte field and each CRC big-endian; each CRC is taken over the
// bytes as stored. The link stream follows the header. Returns
// SKY_LINK_SD_HEADER_SIZE, or -1 for a bad mode, a null buf or cap too small.
int SKY_LINK_sd_header(int tcxo_mode, const SKY_RTC_T& rtc, U08* buf, std::size_t cap);

// ---- warm-start image ----

// The receiver-state piece at the head of the backup memory image: two
// sectors of 48 bytes + CRC-16 at offsets 0 and 56 (lat, lon S32 1e-8 rad;
// alt S32 cm; cdrift S32 mm/s; gps_tow D64 s; rtc_gps_ratio D64; its quality
// U32; rtc_sec S32; rtc_wn S16; rtc_subsec S16 1/32768 s; rtc_gps_ss_dif S16;
// gps_wn S16), the clock record at 112 (left invalid here).
inline constexpr std::size_t SKY_LINK_BACKUP_SECTOR0 = 0;
inline constexpr std::size_t SKY_LINK_BACKUP_SECTOR1 = 56;
inline constexpr std::size_t SKY_LINK_BACKUP_PIECE_SIZE = 128;
// The ionospheric piece after it: alpha0..3 (F32, s, s/sc, s/sc^2, s/sc^3),
// beta0..3 (S32, s, s/sc, s/sc^2, s/sc^3), then the CRC-16 of those 32 bytes.
inline constexpr std::size_t SKY_LINK_BACKUP_IONO = 128;
inline constexpr std::size_t SKY_LINK_BACKUP_IONO_SIZE = 34;

// What a warm-start image stores (the same in both sectors).
struct SKY_LINK_WARM_T {
  int32_t lat_e8 = 0;          // 1e-8 rad, rounded
  int32_t lon_e8 = 0;          // 1e-8 rad, rounded
  int32_t alt_cm = 0;          // ellipsoidal height, cm, rounded
  int32_t cdrift_mm_s = 0;     // receiver clock drift x c, mm/s (positive: the clock runs fast)
  SKY_GPST_T fix_time;         // true GPS time of the stored RTC stamp (full week)
  double rtc_gps_ratio = 1.0;  // RTC seconds per GPS second (1 + the RTC model's drift)
  uint32_t ratio_quality = 0;  // baseline of the ratio, s (low 16 bits); stored RTC second / 16 (high 16 bits)
  SKY_RTC_T rtc;               // the stored RTC stamp: the set's RTC reading minus warm_start_age_s
};

// The warm start of scenario sc: the receiver at its start position (the
// first waypoint of a track; lat, lon, height otherwise), its clock drift,
// and the stored RTC stamp warm_start_age_s whole seconds before rtc_read
// (the RTC reading of the set, rtc_data.dat) with the true GPS time at which
// RTC model m showed it, so that the RTC lapse from the stamp to the reading,
// divided by the ratio, added to the stored time gives the GPS time of the
// reading. Fills *out. 1 on success, 0 for a null argument.
int SKY_LINK_warm_state(const SKY_SCENARIO_T* sc, const SKY_RTC_MODEL_T& m, const SKY_RTC_T& rtc_read,
                        SKY_LINK_WARM_T* out);

// Write state w as both receiver-state sectors (fields and CRC-16/XMODEM of
// the 48 bytes as stored) into region (caller's backup memory image of cap
// bytes, >= SKY_LINK_BACKUP_PIECE_SIZE); big_endian = 1 writes the target's
// byte order (the image of an SD-card log), 0 this machine's order (the
// host's log_init.dat). Bytes outside the two sectors are left as they are.
// 1 on success, 0 for a null region or cap too small.
int SKY_LINK_warm_image(const SKY_LINK_WARM_T& w, int big_endian, U08* region, std::size_t cap);

// The broadcast ionospheric parameters of scenario sc as their message
// integers (SKY_IONO_UTC_T alpha and beta; the other fields 0), quantised as
// the sky broadcasts them. 1 on success, 0 for a null argument.
int SKY_LINK_scenario_iono(const SKY_SCENARIO_T* sc, SKY_IONO_UTC_T* out);

// Write the ionospheric piece (SKY_LINK_BACKUP_IONO) of the broadcast
// parameters p (message integers, scaled here by 2^-30, 2^-27, 2^-24, 2^-24
// and 2^11, 2^14, 2^16, 2^16) into region (caller's backup memory image of
// cap bytes), in the target's byte order (big_endian = 1) or this machine's
// (0), with the CRC-16/XMODEM of its 32 bytes as stored. 1 on success, 0 for
// a null region or cap too small.
int SKY_LINK_warm_iono_image(const SKY_IONO_UTC_T& p, int big_endian, U08* region, std::size_t cap);

// ---- whole runs ----

// Where the link half takes the sky from: SKY_epoch_at_clock and SKY_nav_word
// of the core, or a test's own functions.
struct SKY_LINK_SOURCE_T {
  int (*epoch_at_clock)(SKY_GPST_T clock_time, SKY_EPOCH_T* out) = nullptr;
  SKY_NAV_WORD_FN nav_word = nullptr;
};

// The core's functions (sky_link_core.cpp: links the core).
SKY_LINK_SOURCE_T SKY_LINK_core_source();

// Link options beyond the scenario.
struct SKY_LINK_PARAM_T {
  SKY_GTC_ORIGIN_T gtc_origin;
  SKY_RTC_MODEL_T rtc;
  int pullin_epochs = 1;   // epochs reported CH_PULLIN after a satellite appears
  int bitsync_epochs = 1;  // then CH_BITSYNC (data bits start with it)
};

// Truth of one satellite at one epoch (rows "S" of truth.csv).
struct SKY_LINK_SAT_TRUTH_T {
  int16_t svid = 0;
  int16_t ch = -1;     // hardware channel
  uint8_t state = 0;   // channel state reported
  SKY_GPST_T tx_time;  // satellite time stamp of the code received
  double range_m = 0.0, pseudorange_m = 0.0, range_rate_mps = 0.0, doppler_hz = 0.0, cn0_dbhz = 0.0;
  double el_deg = 0.0, az_deg = 0.0;
  int has_mean_doppler = 0;      // 1 when the channel tracked the whole interval since the previous epoch
  double mean_doppler_hz = 0.0;  // Doppler averaged over that interval (what the accumulated carrier measures), Hz
  int has_frame_sync_time = 0;   // 1 once data bits have started
  SKY_GPST_T frame_sync_time;    // tx time of the first subframe start after the first data bit
  SKY_GPST_T eph_time;           // tx time by which every word of subframes 1-3 was sent whole since then
  double sv_clock_s = 0.0;       // satellite clock offset the pseudorange carries (polynomial + relativity - T_GD), s
  double iono_m = 0.0;           // ionospheric delay included in the pseudorange, m
  double tropo_m = 0.0;          // tropospheric delay included in the pseudorange, m
  double pr_fault_m = 0.0;       // scripted pseudorange step included in the pseudorange (and tx_time), m; 0 outside
};

// One measurement epoch: its time count, the receiver truth and the tracked satellites.
struct SKY_LINK_EPOCH_T {
  int64_t index = 0;
  SKY_GTC_T gtc;
  SKY_RX_T rx;
  int n = 0;
  SKY_LINK_SAT_TRUTH_T sat[SKY_LINK_NCH] = {};
};

// Start a run of scenario sc (kept by pointer; caller owns it) from source.
// The first epoch is the first time-count mark at or after the receiver
// clock time of sc->start. 1 on success; 0 for a bad TCXO mode or rate.
int SKY_LINK_start(const SKY_SCENARIO_T* sc, const SKY_LINK_PARAM_T& p, SKY_LINK_SOURCE_T src);

// The RTC report frame (type 14, checksum included) the target sends in
// answer to HOSTBASE_INIT, and the matching rtc reading; buf holds ≥ 16 bytes.
// Returns the frame length.
int SKY_LINK_rtc_report(U08* buf, SKY_RTC_T* rtc);

// Encode the next measurement epoch into buf (capacity cap bytes; 4096
// always suffices): the CHAN (and, with carrier slots, CHAN_CARRIER) report
// of each tracked channel, GTC_CLOCK_COUNTS with carrier slots, GTC, then
// the data-bit batches completed by this epoch. Fills *truth when non-null.
// Returns the byte count, 0 when the scenario's duration is over, −1 when
// the sky gave no epoch or buf is too small.
int SKY_LINK_next_epoch(U08* buf, std::size_t cap, SKY_LINK_EPOCH_T* truth);

// The TCXO constants of the running scenario.
const SKY_TCXO_T& SKY_LINK_tcxo_of_run();

// Write the replay set of scenario sc into directory dir: log_data.dat,
// rtc_data.dat, log_init.dat and flash.alm (zero images: a cold start; with
// sc->warm_start = 1 log_init.dat holds the warm start of
// SKY_LINK_warm_state in this machine's byte order, and with
// sc->warm_start_iono = 1 as well the scenario's broadcast ionospheric
// parameters), the same start and link
// stream as an SD-card log sd_log.dat (header of SKY_LINK_sd_header with the
// scenario's TCXO mode, its backup image holding the same warm start in the
// target's byte order, then the bytes of log_data.dat), and truth.csv (format
// in tools/sky/README.md). Returns the number of
// epochs written, −1 on a start or file failure (a one-line reason in err,
// caller's buffer of err_len bytes).
int SKY_LINK_write_set(const SKY_SCENARIO_T* sc, const SKY_LINK_PARAM_T& p, SKY_LINK_SOURCE_T src, const char* dir,
                       char* err, std::size_t err_len);

// scenario_sim --kernel-set: load the scenario file scenario_path, prepare
// the core's sky and write its replay set and truth file into dir with the
// default link options. Returns the epochs written, −1 with a one-line
// reason in err (caller's buffer of err_len bytes).
int SKY_LINK_kernel_set(const char* scenario_path, const char* dir, char* err, std::size_t err_len);

// talon_target --scenario: load the scenario file, prepare the core's sky
// and start its report stream (SKY_LINK_rtc_report, SKY_LINK_next_epoch).
// 1 on success, 0 with a one-line reason in err.
int SKY_LINK_start_scenario(const char* scenario_path, char* err, std::size_t err_len);
