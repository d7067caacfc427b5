// Message catalogue of the host link: every message's type, fixed length and
// payload, with a packer and an unpacker per message.
//
// A packer writes the whole frame except the checksum ('J', 'X', type,
// payload) and returns its length (MSG_LEN_...); an unpacker reads a frame
// starting at its first sync byte and returns the same length. Payload fields
// are big-endian on the link. Arrays always travel at their full count,
// whatever the count field says; the receiver uses only the first `num`.
//
// One-byte fields are widened on reception as follows: ids, counts and types
// without sign (0..255); fields that carry signed quantities (the carrier-phase
// count, the search-engine index of the enable/disable commands, shift counts,
// GLONASS frequency numbers and the S08 record fields) with sign.
#pragma once

#include <array>

#include "misc/gnss_types.h"

// ---------------------------------------------------------------------------
// Types and lengths (frame length without the checksum byte)
// ---------------------------------------------------------------------------
enum : int {
  MSG_TYPE_GTC = 0,
  MSG_TYPE_CHAN = 1,
  MSG_TYPE_PSE_INIT = 2,
  MSG_TYPE_PSE_PARAM = 3,
  MSG_TYPE_PSE_SET = 4,
  MSG_TYPE_PSE_ENABLE_ALL = 5,
  MSG_TYPE_PSE_DISABLE_ALL = 6,
  MSG_TYPE_PSE_ENABLE_ONE = 7,
  MSG_TYPE_PSE_DISABLE_ONE = 8,
  MSG_TYPE_PSE_SVDOPP = 9,
  MSG_TYPE_PSE_CLOCK = 10,
  MSG_TYPE_PSE_WEAK_ARRAY = 11,
  MSG_TYPE_ASIC_INIT = 12,
  MSG_TYPE_ASIC_GET_DATABITS = 13,
  MSG_TYPE_ASIC_RTC = 14,
  MSG_TYPE_HOSTBASE_INIT = 15,
  MSG_TYPE_HOSTBASE_STOP = 16,
  MSG_TYPE_ASIC_PREDICT_MEAS = 17,
  MSG_TYPE_ASIC_DROP_CHANNEL = 18,
  MSG_TYPE_ASIC_ADJUST_RTC = 19,
  MSG_TYPE_ASIC_SMALL_GAIN = 20,
  MSG_TYPE_PSE_RCV_IS_STATIC = 21,
  MSG_TYPE_PSE_PAUSE = 22,
  MSG_TYPE_ASIC_SKIP_10MS = 23,
  MSG_TYPE_ASIC_SHIFT_MSC = 24,
  MSG_TYPE_ASIC_SET_1PPS = 25,
  MSG_TYPE_PSE_STATUS = 26,
  MSG_TYPE_ASIC_WEAK_BS_FLAG = 27,
  MSG_TYPE_PSE_CNR_STATUS = 28,
  MSG_TYPE_PSE_NEED_WAAS_SEARCH = 29,
  MSG_TYPE_ASIC_RESET_NOISE_POWER = 30,
  MSG_TYPE_ASIC_SET_TR = 31,
  MSG_TYPE_DEADRECKONING = 32,
  MSG_TYPE_DR_TEMPERATURE = 33,
  MSG_TYPE_GLO_PSE_INIT = 36,
  MSG_TYPE_GLO_PSE_PARAM = 37,
  MSG_TYPE_GLO_ASIC_SET_STR_START = 38,
  MSG_TYPE_GLO_ASIC_PREDICT_MEAS = 39,
  MSG_TYPE_GLO_PSE_SET = 40,
  MSG_TYPE_GLO_PSE_ENABLE_ALL = 41,
  MSG_TYPE_GLO_PSE_DISABLE_ALL = 42,
  MSG_TYPE_GLO_PSE_ENABLE_ONE = 43,
  MSG_TYPE_GLO_PSE_DISABLE_ONE = 44,
  MSG_TYPE_GLO_PSE_SVDOPP = 45,
  MSG_TYPE_GLO_PSE_CLOCK = 46,
  MSG_TYPE_GLO_ASIC_INIT = 47,
  MSG_TYPE_GLO_PSE_PAUSE = 48,
  MSG_TYPE_GLO_PSE_CHANGE_145_PARAM = 49,
  MSG_TYPE_GLO_PSE_STATUS = 51,
  MSG_TYPE_GLO_SET_1PPS = 52,
  MSG_TYPE_GLOASIC_SHIFT_MSC = 54,
  MSG_TYPE_ASIC_COMMAND_TM_SHIFT_TAP = 55,
  MSG_TYPE_ASIC_SET_HOT_START_PREDICT_TIME = 56,
  MSG_TYPE_GLO_PSE_WEAK_ARRAY = 61,
  MSG_TYPE_CHAN_CARRIER = 62,
  MSG_TYPE_GTC_CLOCK_COUNTS = 63,
  MSG_TYPE_BD2_PSE_CLOCK = 64,
  MSG_TYPE_BD2_PSE_WEAK_ARRAY = 65,
};

inline constexpr int MSG_LEN_GTC = 42;
inline constexpr int MSG_LEN_CHAN = 62;
inline constexpr int MSG_LEN_PSE_INIT = 3;
inline constexpr int MSG_LEN_PSE_PARAM = 12;
inline constexpr int MSG_LEN_PSE_SET = 117;
inline constexpr int MSG_LEN_PSE_ENABLE_ALL = 3;
inline constexpr int MSG_LEN_PSE_DISABLE_ALL = 3;
inline constexpr int MSG_LEN_PSE_ENABLE_ONE = 4;
inline constexpr int MSG_LEN_PSE_DISABLE_ONE = 4;
inline constexpr int MSG_LEN_PSE_SVDOPP = 64;
inline constexpr int MSG_LEN_PSE_CLOCK = 7;
inline constexpr int MSG_LEN_PSE_WEAK_ARRAY = 36;
inline constexpr int MSG_LEN_ASIC_INIT = 3;
inline constexpr int MSG_LEN_ASIC_GET_DATABITS = 19;
inline constexpr int MSG_LEN_ASIC_RTC = 13;
inline constexpr int MSG_LEN_HOSTBASE_INIT = 3;
inline constexpr int MSG_LEN_HOSTBASE_STOP = 3;
inline constexpr int MSG_LEN_ASIC_PREDICT_MEAS = 329;
inline constexpr int MSG_LEN_ASIC_DROP_CHANNEL = 6;
inline constexpr int MSG_LEN_ASIC_ADJUST_RTC = 15;
inline constexpr int MSG_LEN_ASIC_SMALL_GAIN = 4;
inline constexpr int MSG_LEN_PSE_RCV_IS_STATIC = 4;
inline constexpr int MSG_LEN_PSE_PAUSE = 4;
inline constexpr int MSG_LEN_ASIC_SKIP_10MS = 4;
inline constexpr int MSG_LEN_ASIC_SHIFT_MSC = 7;
inline constexpr int MSG_LEN_ASIC_SET_1PPS = 12;
inline constexpr int MSG_LEN_PSE_STATUS = 13;
inline constexpr int MSG_LEN_ASIC_WEAK_BS_FLAG = 7;
inline constexpr int MSG_LEN_PSE_CNR_STATUS = 7;
inline constexpr int MSG_LEN_PSE_NEED_WAAS_SEARCH = 4;
inline constexpr int MSG_LEN_ASIC_RESET_NOISE_POWER = 3;
inline constexpr int MSG_LEN_ASIC_SET_TR = 64;
inline constexpr int MSG_LEN_DEADRECKONING = 47;
inline constexpr int MSG_LEN_DR_TEMPERATURE = 5;
inline constexpr int MSG_LEN_GLO_PSE_INIT = 3;
inline constexpr int MSG_LEN_GLO_PSE_PARAM = 12;
inline constexpr int MSG_LEN_GLO_ASIC_SET_STR_START = 9;
inline constexpr int MSG_LEN_GLO_ASIC_PREDICT_MEAS = 9;
inline constexpr int MSG_LEN_GLO_PSE_SET = 85;
inline constexpr int MSG_LEN_GLO_PSE_ENABLE_ALL = 3;
inline constexpr int MSG_LEN_GLO_PSE_DISABLE_ALL = 3;
inline constexpr int MSG_LEN_GLO_PSE_ENABLE_ONE = 4;
inline constexpr int MSG_LEN_GLO_PSE_DISABLE_ONE = 4;
inline constexpr int MSG_LEN_GLO_PSE_SVDOPP = 46;
inline constexpr int MSG_LEN_GLO_PSE_CLOCK = 7;
inline constexpr int MSG_LEN_GLO_ASIC_INIT = 3;
inline constexpr int MSG_LEN_GLO_PSE_PAUSE = 4;
inline constexpr int MSG_LEN_GLO_PSE_CHANGE_145_PARAM = 4;
inline constexpr int MSG_LEN_GLO_PSE_STATUS = 13;
inline constexpr int MSG_LEN_GLO_SET_1PPS = 12;
inline constexpr int MSG_LEN_GLOASIC_SHIFT_MSC = 7;
inline constexpr int MSG_LEN_ASIC_COMMAND_TM_SHIFT_TAP = 6;
inline constexpr int MSG_LEN_ASIC_SET_HOT_START_PREDICT_TIME = 19;
inline constexpr int MSG_LEN_GLO_PSE_WEAK_ARRAY = 36;
inline constexpr int MSG_LEN_CHAN_CARRIER = 67;
inline constexpr int MSG_LEN_GTC_CLOCK_COUNTS = 64;
inline constexpr int MSG_LEN_BD2_PSE_CLOCK = 7;
inline constexpr int MSG_LEN_BD2_PSE_WEAK_ARRAY = 52;

// Direction of a message on the link.
enum : U08 {
  MSG_DIR_T2H = 1,   // report of the target
  MSG_DIR_H2T = 2,   // command of the host
  MSG_DIR_BOTH = 3,  // type 14: RTC report and RTC set command
};

struct HOST_MSG_INFO_T {
  U08 type;
  U16 len;  // frame length without checksum (MSG_LEN_...)
  U08 dir;  // MSG_DIR_...
  const char* name;
};

// Every message type in use, in type order. Types 34, 35, 50, 53, 57..60 are unused.
inline constexpr std::array<HOST_MSG_INFO_T, 58> HOST_MSG_TABLE = {{
    {MSG_TYPE_GTC, MSG_LEN_GTC, MSG_DIR_T2H, "GTC"},
    {MSG_TYPE_CHAN, MSG_LEN_CHAN, MSG_DIR_T2H, "CHAN"},
    {MSG_TYPE_PSE_INIT, MSG_LEN_PSE_INIT, MSG_DIR_H2T, "PSE_INIT"},
    {MSG_TYPE_PSE_PARAM, MSG_LEN_PSE_PARAM, MSG_DIR_H2T, "PSE_PARAM"},
    {MSG_TYPE_PSE_SET, MSG_LEN_PSE_SET, MSG_DIR_H2T, "PSE_SET"},
    {MSG_TYPE_PSE_ENABLE_ALL, MSG_LEN_PSE_ENABLE_ALL, MSG_DIR_H2T, "PSE_ENABLE_ALL"},
    {MSG_TYPE_PSE_DISABLE_ALL, MSG_LEN_PSE_DISABLE_ALL, MSG_DIR_H2T, "PSE_DISABLE_ALL"},
    {MSG_TYPE_PSE_ENABLE_ONE, MSG_LEN_PSE_ENABLE_ONE, MSG_DIR_H2T, "PSE_ENABLE_ONE"},
    {MSG_TYPE_PSE_DISABLE_ONE, MSG_LEN_PSE_DISABLE_ONE, MSG_DIR_H2T, "PSE_DISABLE_ONE"},
    {MSG_TYPE_PSE_SVDOPP, MSG_LEN_PSE_SVDOPP, MSG_DIR_H2T, "PSE_SVDOPP"},
    {MSG_TYPE_PSE_CLOCK, MSG_LEN_PSE_CLOCK, MSG_DIR_H2T, "PSE_CLOCK"},
    {MSG_TYPE_PSE_WEAK_ARRAY, MSG_LEN_PSE_WEAK_ARRAY, MSG_DIR_H2T, "PSE_WEAK_ARRAY"},
    {MSG_TYPE_ASIC_INIT, MSG_LEN_ASIC_INIT, MSG_DIR_H2T, "ASIC_INIT"},
    {MSG_TYPE_ASIC_GET_DATABITS, MSG_LEN_ASIC_GET_DATABITS, MSG_DIR_T2H, "ASIC_GET_DATABITS"},
    {MSG_TYPE_ASIC_RTC, MSG_LEN_ASIC_RTC, MSG_DIR_BOTH, "ASIC_RTC"},
    {MSG_TYPE_HOSTBASE_INIT, MSG_LEN_HOSTBASE_INIT, MSG_DIR_H2T, "HOSTBASE_INIT"},
    {MSG_TYPE_HOSTBASE_STOP, MSG_LEN_HOSTBASE_STOP, MSG_DIR_H2T, "HOSTBASE_STOP"},
    {MSG_TYPE_ASIC_PREDICT_MEAS, MSG_LEN_ASIC_PREDICT_MEAS, MSG_DIR_H2T, "ASIC_PREDICT_MEAS"},
    {MSG_TYPE_ASIC_DROP_CHANNEL, MSG_LEN_ASIC_DROP_CHANNEL, MSG_DIR_H2T, "ASIC_DROP_CHANNEL"},
    {MSG_TYPE_ASIC_ADJUST_RTC, MSG_LEN_ASIC_ADJUST_RTC, MSG_DIR_H2T, "ASIC_ADJUST_RTC"},
    {MSG_TYPE_ASIC_SMALL_GAIN, MSG_LEN_ASIC_SMALL_GAIN, MSG_DIR_H2T, "ASIC_SMALL_GAIN"},
    {MSG_TYPE_PSE_RCV_IS_STATIC, MSG_LEN_PSE_RCV_IS_STATIC, MSG_DIR_H2T, "PSE_RCV_IS_STATIC"},
    {MSG_TYPE_PSE_PAUSE, MSG_LEN_PSE_PAUSE, MSG_DIR_H2T, "PSE_PAUSE"},
    {MSG_TYPE_ASIC_SKIP_10MS, MSG_LEN_ASIC_SKIP_10MS, MSG_DIR_H2T, "ASIC_SKIP_10MS"},
    {MSG_TYPE_ASIC_SHIFT_MSC, MSG_LEN_ASIC_SHIFT_MSC, MSG_DIR_H2T, "ASIC_SHIFT_MSC"},
    {MSG_TYPE_ASIC_SET_1PPS, MSG_LEN_ASIC_SET_1PPS, MSG_DIR_H2T, "ASIC_SET_1PPS"},
    {MSG_TYPE_PSE_STATUS, MSG_LEN_PSE_STATUS, MSG_DIR_T2H, "PSE_STATUS"},
    {MSG_TYPE_ASIC_WEAK_BS_FLAG, MSG_LEN_ASIC_WEAK_BS_FLAG, MSG_DIR_T2H, "ASIC_WEAK_BS_FLAG"},
    {MSG_TYPE_PSE_CNR_STATUS, MSG_LEN_PSE_CNR_STATUS, MSG_DIR_H2T, "PSE_CNR_STATUS"},
    {MSG_TYPE_PSE_NEED_WAAS_SEARCH, MSG_LEN_PSE_NEED_WAAS_SEARCH, MSG_DIR_H2T, "PSE_NEED_WAAS_SEARCH"},
    {MSG_TYPE_ASIC_RESET_NOISE_POWER, MSG_LEN_ASIC_RESET_NOISE_POWER, MSG_DIR_H2T, "ASIC_RESET_NOISE_POWER"},
    {MSG_TYPE_ASIC_SET_TR, MSG_LEN_ASIC_SET_TR, MSG_DIR_H2T, "ASIC_SET_TR"},
    {MSG_TYPE_DEADRECKONING, MSG_LEN_DEADRECKONING, MSG_DIR_T2H, "DEADRECKONING"},
    {MSG_TYPE_DR_TEMPERATURE, MSG_LEN_DR_TEMPERATURE, MSG_DIR_T2H, "DR_TEMPERATURE"},
    {MSG_TYPE_GLO_PSE_INIT, MSG_LEN_GLO_PSE_INIT, MSG_DIR_H2T, "GLO_PSE_INIT"},
    {MSG_TYPE_GLO_PSE_PARAM, MSG_LEN_GLO_PSE_PARAM, MSG_DIR_H2T, "GLO_PSE_PARAM"},
    {MSG_TYPE_GLO_ASIC_SET_STR_START, MSG_LEN_GLO_ASIC_SET_STR_START, MSG_DIR_H2T, "GLO_ASIC_SET_STR_START"},
    {MSG_TYPE_GLO_ASIC_PREDICT_MEAS, MSG_LEN_GLO_ASIC_PREDICT_MEAS, MSG_DIR_H2T, "GLO_ASIC_PREDICT_MEAS"},
    {MSG_TYPE_GLO_PSE_SET, MSG_LEN_GLO_PSE_SET, MSG_DIR_H2T, "GLO_PSE_SET"},
    {MSG_TYPE_GLO_PSE_ENABLE_ALL, MSG_LEN_GLO_PSE_ENABLE_ALL, MSG_DIR_H2T, "GLO_PSE_ENABLE_ALL"},
    {MSG_TYPE_GLO_PSE_DISABLE_ALL, MSG_LEN_GLO_PSE_DISABLE_ALL, MSG_DIR_H2T, "GLO_PSE_DISABLE_ALL"},
    {MSG_TYPE_GLO_PSE_ENABLE_ONE, MSG_LEN_GLO_PSE_ENABLE_ONE, MSG_DIR_H2T, "GLO_PSE_ENABLE_ONE"},
    {MSG_TYPE_GLO_PSE_DISABLE_ONE, MSG_LEN_GLO_PSE_DISABLE_ONE, MSG_DIR_H2T, "GLO_PSE_DISABLE_ONE"},
    {MSG_TYPE_GLO_PSE_SVDOPP, MSG_LEN_GLO_PSE_SVDOPP, MSG_DIR_H2T, "GLO_PSE_SVDOPP"},
    {MSG_TYPE_GLO_PSE_CLOCK, MSG_LEN_GLO_PSE_CLOCK, MSG_DIR_H2T, "GLO_PSE_CLOCK"},
    {MSG_TYPE_GLO_ASIC_INIT, MSG_LEN_GLO_ASIC_INIT, MSG_DIR_H2T, "GLO_ASIC_INIT"},
    {MSG_TYPE_GLO_PSE_PAUSE, MSG_LEN_GLO_PSE_PAUSE, MSG_DIR_H2T, "GLO_PSE_PAUSE"},
    {MSG_TYPE_GLO_PSE_CHANGE_145_PARAM, MSG_LEN_GLO_PSE_CHANGE_145_PARAM, MSG_DIR_H2T, "GLO_PSE_CHANGE_145_PARAM"},
    {MSG_TYPE_GLO_PSE_STATUS, MSG_LEN_GLO_PSE_STATUS, MSG_DIR_T2H, "GLO_PSE_STATUS"},
    {MSG_TYPE_GLO_SET_1PPS, MSG_LEN_GLO_SET_1PPS, MSG_DIR_H2T, "GLO_SET_1PPS"},
    {MSG_TYPE_GLOASIC_SHIFT_MSC, MSG_LEN_GLOASIC_SHIFT_MSC, MSG_DIR_H2T, "GLOASIC_SHIFT_MSC"},
    {MSG_TYPE_ASIC_COMMAND_TM_SHIFT_TAP, MSG_LEN_ASIC_COMMAND_TM_SHIFT_TAP, MSG_DIR_H2T, "ASIC_COMMAND_TM_SHIFT_TAP"},
    {MSG_TYPE_ASIC_SET_HOT_START_PREDICT_TIME, MSG_LEN_ASIC_SET_HOT_START_PREDICT_TIME, MSG_DIR_H2T,
     "ASIC_SET_HOT_START_PREDICT_TIME"},
    {MSG_TYPE_GLO_PSE_WEAK_ARRAY, MSG_LEN_GLO_PSE_WEAK_ARRAY, MSG_DIR_H2T, "GLO_PSE_WEAK_ARRAY"},
    {MSG_TYPE_CHAN_CARRIER, MSG_LEN_CHAN_CARRIER, MSG_DIR_T2H, "CHAN_CARRIER"},
    {MSG_TYPE_GTC_CLOCK_COUNTS, MSG_LEN_GTC_CLOCK_COUNTS, MSG_DIR_T2H, "GTC_CLOCK_COUNTS"},
    {MSG_TYPE_BD2_PSE_CLOCK, MSG_LEN_BD2_PSE_CLOCK, MSG_DIR_H2T, "BD2_PSE_CLOCK"},
    {MSG_TYPE_BD2_PSE_WEAK_ARRAY, MSG_LEN_BD2_PSE_WEAK_ARRAY, MSG_DIR_H2T, "BD2_PSE_WEAK_ARRAY"},
}};

// Catalogue entry of a type (points into HOST_MSG_TABLE, static storage), or null
// for a type outside 0..65 or not in use.
const HOST_MSG_INFO_T* HOST_MSG_find(int type);

// ---------------------------------------------------------------------------
// Array sizes carried by the messages
// ---------------------------------------------------------------------------
inline constexpr int MSG_CARRIER_ARY_N = 10;     // carrier-phase history entries per channel
inline constexpr int MSG_GTC_CLOCK_N = 10;       // GTC clock-count entries
inline constexpr int MSG_PSE_STATES_N = 8;       // search states of PSE_SET / GLO_PSE_SET
inline constexpr int MSG_PSE_SETS_N = 3;         // search sets per GPS state
inline constexpr int MSG_GLO_PSE_SETS_N = 2;     // search sets per GLONASS state
inline constexpr int MSG_PSE_SVDOPP_N = 20;      // PSE_SVDOPP entries
inline constexpr int MSG_GLO_PSE_SVDOPP_N = 14;  // GLO_PSE_SVDOPP entries
inline constexpr int MSG_WEAK_ARRAY_N = 8;       // PSE / GLO / BD2 weak-search entries
inline constexpr int MSG_SET_TR_N = 12;          // ASIC_SET_TR entries
inline constexpr int MSG_PREDICT_N = 20;         // ASIC_PREDICT_MEAS entries

// ---------------------------------------------------------------------------
// Records carried by the messages
// ---------------------------------------------------------------------------

// Time-count registers of one measurement epoch.
struct GTC_RD_T {
  U32 SSUBSEC_DIV_SSUBSEC;  // sub-millisecond count register
  U32 WEEK_SUBSEC;          // week / millisecond register
  U32 INTSEL_SEC;           // second-of-week register
  S32 IF_FREQ;              // IF frequency register
};

// RTC sampled at the epoch.
struct ASIC_READ_RTC_T {
  U32 record_rtc_sec;                                                   // RTC seconds
  U32 record_rtc_wn_subsec;                                             // RTC week and sub-second count (1/32768 s)
  U32 record_read_rtc_delay_time_after_gtc_subsec_0_unit_is_gtc_clock;  // GTC clocks
};

// One correlator channel of a measurement epoch.
struct ASIC_CHAN_MEAS_T {
  S08 gnss_type;  // GNSS_TYPE_...
  S08 k_num;      // GLONASS frequency number
  S08 prn;        // target numbering (SBAS 38..56)
  U08 state;      // CH_IDLE .. CH_MEAS_AVAILABLE
  S08 loop_gain_mode;
  U08 peak_tap_loc;
  U32 bitcnt;     // data-bit count
  U32 acc_power;  // accumulated correlation power
  S16 cn_count;   // C/N0 estimator count
  S08 cn_div;
  S08 cn_shift;
  S16 cn_integ;
  U08 nsc;
  U08 track_issue;  // tracking issue id
  S16 unlock_count;
  S16 carrier_phase;  // carrier phase register
  S32 acc_carrier_cycle;
  U32 acc_carrier_cycle_count;
  U32 code_phase_reg;
  U32 code_phase_reg2;
  S32 dop_freq;  // Doppler register
  std::array<S16, MSG_CARRIER_ARY_N> start_carrier_phase_ary;
  std::array<S16, MSG_CARRIER_ARY_N> acc_carrier_cycle_ary;
  std::array<U08, MSG_CARRIER_ARY_N> acc_carrier_cycle_count_ary;
  std::array<U08, MSG_CARRIER_ARY_N> carrier_phase_no_good_count_ary;
  U16 carrier_phase_ary_count;  // entries valid in the four arrays (sign-extended from one byte)
  U16 end_carrier_phase;
  U32 ch_noise_power;
  U32 unlock_status;
  U32 debug_msg;
};

// Search-engine signal-mode parameters.
struct PSE_PARAM_T {
  U08 div_sel1, div_sel2, thr, cohit;
  U16 incohit, freq_step;
};
struct GLO_PSE_PARAM_T {
  U08 div_sel1, div_sel2, thr, cohit;
  U16 incohit, freq_step;
};

struct PSE_SEARCH_SET_T {
  U08 mode, strength, bins, npse_use;
};
struct GLO_PSE_SEARCH_SET_T {
  U08 mode, strength, bins, npse_use;
};

struct PSE_STATE_T {
  std::array<PSE_SEARCH_SET_T, MSG_PSE_SETS_N> set;
  S16 nsets;
  S16 primary_set_ndx;
};
struct GLO_PSE_STATE_T {
  std::array<GLO_PSE_SEARCH_SET_T, MSG_GLO_PSE_SETS_N> set;
  S16 nsets;
  S16 primary_set_ndx;
};

struct PSE_PRN_DOPP_T {
  S16 prn;
  S16 dopp;  // Doppler search centre
};
struct GLO_PSE_KN_DOPP_T {
  S16 kn;  // GLONASS frequency number
  S16 dopp;
};

struct PSE_WEAK_SEARCH_T {
  S16 prn, dmsc, dopp;
};
struct GLO_PSE_WEAK_SEARCH_T {
  S16 kn, dmsc, dopp;
};
struct BD2_PSE_WEAK_SEARCH_T {
  S16 prn, dmsc, dopp;
  U16 dsub_msc;
};

// Predicted code and Doppler of a satellite to be started on a channel.
struct ASIC_PREDICTED_MEAS_T {
  S16 prn;
  S16 code_rate_per_ms;
  S32 code_rate;
  S32 code0;
  S32 dop_freq;
  S16 by_eph_flag;
};
struct GLOASIC_PREDICTED_MEAS_T {
  S16 k_num;
  S16 code_rate_per_ms;
  S32 code_rate;
  S32 code0;
  S32 dop_freq;
  S16 by_eph_flag;
};

struct ASIC_TR_T {
  S16 prn;
  S32 tr_to_chip;
};

// RTC adjustment; rtc_subsec_dif and its CRC stay on the host.
struct ASIC_RTC_ADJ_T {
  U16 subsec;
  U16 week;
  U32 sec;
  U32 ref_gtc_sec;
  U32 rtc_subsec_dif;
  U16 rtc_subsec_dif_crc;
};

// ---------------------------------------------------------------------------
// Packers and unpackers. Buffers hold the frame plus the checksum byte.
//
// Every packer writes exactly MSG_LEN_<type> bytes ('J', 'X', type, payload)
// into the caller's buf (room for at least MSG_LEN_<type> + 1 bytes, so that
// append_checksum() can follow) and returns MSG_LEN_<type>. Every unpacker
// reads a whole frame from the caller's buf, first sync byte at buf[0] (the
// checksum is not looked at: DP_dispatch_msg has checked it), stores each field
// through the caller's pointers and returns MSG_LEN_<type>. Array arguments
// are caller-owned and hold the message's full count (MSG_..._N entries)
// whatever `num` says. Nothing is kept after the call. Register values and
// counts travel as the target keeps them; units are given where the host
// gives them a meaning.
// ---------------------------------------------------------------------------

// Type 0: closes a measurement epoch. gtc_shift_count: GTC shifts (signed
// 16 bits); has_updated_rtc: 0/1; noise_power: noise-power register;
// gtc_sync_to_gps_time_error_unit_is_gtc_clock: GTC clocks (signed).
int pack_msg_gtc(U08* buf, const GTC_RD_T* gtc_p, S16 gtc_shift_count, S16 has_updated_rtc, U32 noise_power,
                 S32 gtc_sync_to_gps_time_error_unit_is_gtc_clock, const ASIC_READ_RTC_T* rtc_gtc_meas_p);
int unpack_msg_gtc(const U08* buf, GTC_RD_T* gtc_p, S16* gtc_shift_count_p, S16* has_updated_rtc_p, U32* noise_power_p,
                   S32* gtc_sync_to_gps_time_error_unit_is_gtc_clock_p, ASIC_READ_RTC_T* rtc_gtc_meas_p);
// Type 63: ary_count entries valid out of MSG_GTC_CLOCK_N in acc_clocks_ary
// (accumulated GTC clocks) and acc_subsecs_ary (accumulated sub-second counts);
// both arrays always hold MSG_GTC_CLOCK_N entries.
int pack_msg_gtc_clock_counts(U08* buf, S16 ary_count, const U32* acc_clocks_ary, const U16* acc_subsecs_ary);
int unpack_msg_gtc_clock_counts(const U08* buf, S16* ary_count_p, U32* acc_clocks_ary, U16* acc_subsecs_ary);
// Type 1: the CHAN fields of the record (the carrier arrays are not touched).
// ch_id: hardware channel 0..NUM_HW_CHANNELS-1.
int pack_msg_chan(U08* buf, S16 ch_id, const ASIC_CHAN_MEAS_T* ch_meas_p);
int unpack_msg_chan(const U08* buf, S16* ch_id_p, ASIC_CHAN_MEAS_T* ch_meas_p);
// Type 62: the carrier arrays, their count and end_carrier_phase.
int pack_msg_chan_carrier(U08* buf, S16 ch_id, const ASIC_CHAN_MEAS_T* ch_meas_p);
int unpack_msg_chan_carrier(const U08* buf, S16* ch_id_p, ASIC_CHAN_MEAS_T* ch_meas_p);

// Messages without payload: the packers write sync, sync and type; the
// unpackers read nothing. Both return the length 3.
int pack_msg_pse_init(U08* buf);
int unpack_msg_pse_init(const U08* buf);
int pack_msg_glo_pse_init(U08* buf);
int unpack_msg_glo_pse_init(const U08* buf);
int pack_msg_pse_enable_all(U08* buf);
int unpack_msg_pse_enable_all(const U08* buf);
int pack_msg_glo_pse_enable_all(U08* buf);
int unpack_msg_glo_pse_enable_all(const U08* buf);
int pack_msg_pse_disable_all(U08* buf);
int unpack_msg_pse_disable_all(const U08* buf);
int pack_msg_glo_pse_disable_all(U08* buf);
int unpack_msg_glo_pse_disable_all(const U08* buf);
int pack_msg_asic_init(U08* buf);
int unpack_msg_asic_init(const U08* buf);
int pack_msg_glo_asic_init(U08* buf);
int unpack_msg_glo_asic_init(const U08* buf);
int pack_msg_hostbase_init(U08* buf);
int unpack_msg_hostbase_init(const U08* buf);
int pack_msg_hostbase_stop(U08* buf);
int unpack_msg_hostbase_stop(const U08* buf);
int pack_msg_reset_noise_power(U08* buf);
int unpack_msg_reset_noise_power(const U08* buf);

// Types 3 and 37: search-engine parameters of signal mode `mode` (0..255).
int pack_msg_pse_set_signal_mode_param(U08* buf, S16 mode, const PSE_PARAM_T* param_p);
int unpack_msg_pse_set_signal_mode_param(const U08* buf, S16* mode_p, PSE_PARAM_T* param_p);
int pack_msg_glo_pse_set_signal_mode_param(U08* buf, S16 mode, const GLO_PSE_PARAM_T* param_p);
int unpack_msg_glo_pse_set_signal_mode_param(const U08* buf, S16* mode_p, GLO_PSE_PARAM_T* param_p);
// Types 4 and 40: MSG_PSE_STATES_N states always (states holds that many);
// nstates of them in use. mode is sign-extended on reception.
int pack_msg_pse_set_search_states_array(U08* buf, S08 mode, S16 nstates, const PSE_STATE_T* states);
int unpack_msg_pse_set_search_states_array(const U08* buf, S08* mode_p, S16* nstates_p, PSE_STATE_T* states);
int pack_msg_glo_pse_set_search_states_array(U08* buf, S08 mode, S16 nstates, const GLO_PSE_STATE_T* states);
int unpack_msg_glo_pse_set_search_states_array(const U08* buf, S08* mode_p, S16* nstates_p, GLO_PSE_STATE_T* states);
// Types 7, 8, 43, 44: enable or disable search engine `pse` (one byte,
// sign-extended on reception).
int pack_msg_pse_enable(U08* buf, S16 pse);
int unpack_msg_pse_enable(const U08* buf, S16* pse_p);
int pack_msg_pse_disable(U08* buf, S16 pse);
int unpack_msg_pse_disable(const U08* buf, S16* pse_p);
int pack_msg_glo_pse_enable(U08* buf, S16 pse);
int unpack_msg_glo_pse_enable(const U08* buf, S16* pse_p);
int pack_msg_glo_pse_disable(U08* buf, S16 pse);
int unpack_msg_glo_pse_disable(const U08* buf, S16* pse_p);
// Types 9 and 45: Doppler search centres, num entries in use out of
// MSG_PSE_SVDOPP_N (GPS, by prn) or MSG_GLO_PSE_SVDOPP_N (GLONASS, by frequency
// number, sign-extended on reception); dopp is sent as 16 bits, signed.
int pack_msg_pse_set_sv_doppler(U08* buf, S16 num, const PSE_PRN_DOPP_T* dopp);
int unpack_msg_pse_set_sv_doppler(const U08* buf, S16* num_p, PSE_PRN_DOPP_T* dopp);
int pack_msg_glo_pse_set_sv_doppler(U08* buf, S16 num, const GLO_PSE_KN_DOPP_T* dopp);
int unpack_msg_glo_pse_set_sv_doppler(const U08* buf, S16* num_p, GLO_PSE_KN_DOPP_T* dopp);
// Types 10, 46, 64: clock offset (S32, Hz) for the GPS, GLONASS and BeiDou
// search engines.
int pack_msg_pse_set_clock_offset(U08* buf, S32 clk_offset);
int unpack_msg_pse_set_clock_offset(const U08* buf, S32* clk_offset_p);
int pack_msg_glo_pse_set_clock_offset(U08* buf, S32 clk_offset);
int unpack_msg_glo_pse_set_clock_offset(const U08* buf, S32* clk_offset_p);
int pack_msg_pse_bd2_set_clock_offset(U08* buf, S32 clk_offset);
int unpack_msg_bd2_pse_set_clock_offset(const U08* buf, S32* clk_offset_p);
// Types 11, 61, 65: weak-signal searches, num entries in use out of
// MSG_WEAK_ARRAY_N (the array always holds that many). dmsc (one byte, signed)
// and dopp (16 bits, signed) travel as the target uses them; GLONASS entries
// carry the frequency number (sign-extended on reception).
int pack_msg_pse_set_weak_array(U08* buf, S16 num, const PSE_WEAK_SEARCH_T* weak);
int unpack_msg_pse_set_weak_array(const U08* buf, S16* num_p, PSE_WEAK_SEARCH_T* weak);
int pack_msg_glo_pse_set_weak_array(U08* buf, S16 num, const GLO_PSE_WEAK_SEARCH_T* weak);
int unpack_msg_glo_pse_set_weak_array(const U08* buf, S16* num_p, GLO_PSE_WEAK_SEARCH_T* weak);
int pack_msg_bd2_pse_set_weak_array(U08* buf, S16 num, const BD2_PSE_WEAK_SEARCH_T* weak);
int unpack_msg_bd2_pse_set_weak_array(const U08* buf, S16* num_p, BD2_PSE_WEAK_SEARCH_T* weak);
// One-byte commands: types 21, 29, 22, 48, 20, 23, 49. The value travels as
// one byte, widened without sign on reception (0..255) except be_stronger
// (signed); ch_id is the hardware channel.
int pack_msg_pse_rcv_is_static(U08* buf, S16 is_static);
int unpack_msg_pse_rcv_is_static(const U08* buf, S16* is_static_p);
int pack_msg_pse_need_waas_search(U08* buf, S16 waas_status);
int unpack_msg_pse_need_waas_search(const U08* buf, S16* waas_status_p);
int pack_msg_pse_pause(U08* buf, S16 pause);
int unpack_msg_pse_pause(const U08* buf, S16* pause_p);
int pack_msg_glo_pse_pause(U08* buf, S16 pause);
int unpack_msg_glo_pse_pause(const U08* buf, S16* pause_p);
int pack_msg_set_small_loop_gain(U08* buf, S16 ch_id);
int unpack_msg_set_small_loop_gain(const U08* buf, S16* ch_id_p);
int pack_msg_skip_10ms_integ(U08* buf, S16 skip_10ms);
int unpack_msg_skip_10ms_integ(const U08* buf, S16* skip_10ms_p);
int pack_msg_glo_pse_change_145_param(U08* buf, S08 be_stronger);
int unpack_msg_glo_pse_change_145_param(const U08* buf, S08* be_stronger_p);
// Type 28: counts of tracked signals at or above 47, 45, 40 and 30 dB-Hz.
int pack_msg_pse_update_tm_cnr_status(U08* buf, U08 nums_of_cnr_47, U08 nums_of_cnr_45, U08 nums_of_cnr_40,
                                      U08 nums_of_cnr_30);
int unpack_msg_pse_update_tm_cnr_status(const U08* buf, U08* nums_of_cnr_47_p, U08* nums_of_cnr_45_p,
                                        U08* nums_of_cnr_40_p, U08* nums_of_cnr_30_p);
// Type 13: a batch of navigation data bits of one channel. ch_id, gnss_type
// (GNSS_TYPE_...) and prn go as one byte each; databits, databits_info and
// bitcnt (the channel's data-bit count) as 32-bit words the host passes on to
// the kernel unchanged; issue_id: the channel's tracking issue id.
int pack_msg_get_databits(U08* buf, S16 ch_id, S16 gnss_type, S16 prn, U32 databits, U32 databits_info, U32 bitcnt,
                          U08 issue_id);
int unpack_msg_get_databits(const U08* buf, S16* ch_id_p, S16* gnss_type_p, S16* prn_p, U32* databits_p,
                            U32* databits_info_p, U32* bitcnt_p, U08* issue_id_p);
// Type 38: data-bit count (signed 32 bits) at which a GLONASS string starts on
// channel ch_id, for the tracking issue issue_id.
int pack_msg_set_string_start_bitcnt(U08* buf, S16 ch_id, S32 bitcnt, U08 issue_id);
int unpack_msg_set_string_start_bitcnt(const U08* buf, S16* ch_id_p, S32* bitcnt_p, U08* issue_id_p);
// Type 17: MSG_PREDICT_N entries always (predict_meas holds that many), num of
// them in use, predicted for GTC second ref_gtc_sec; can_predict_to_chip: 0/1.
// Type 39: head fields only.
int pack_msg_predict_meas(U08* buf, S16 num, S32 ref_gtc_sec, const ASIC_PREDICTED_MEAS_T* predict_meas,
                          S16 can_predict_to_chip);
int unpack_msg_predict_meas(const U08* buf, S16* num_p, S32* ref_gtc_sec_p, ASIC_PREDICTED_MEAS_T* predict_meas,
                            S16* can_predict_to_chip_p);
int pack_msg_glo_predict_meas(U08* buf, S16 num, S32 ref_gtc_sec, S16 can_predict_to_chip);
int unpack_msg_glo_predict_meas(const U08* buf, S16* num_p, S32* ref_gtc_sec_p, S16* can_predict_to_chip_p);
// Type 14: RTC week (mod 4096), seconds, sub-second count (1/32768 s).
int pack_msg_rtc(U08* buf, S16 wn, S32 sec, U32 subsec);
int unpack_msg_rtc(const U08* buf, S16* wn_p, S32* sec_p, U32* subsec_p);
// Types 26 and 51: search-engine status; mode, state and p_0..p_3 one byte each
// (sign-extended on reception), weak_bs_flag as in type 27.
int pack_msg_pse_status(U08* buf, S08 mode, S08 state, S08 p_0, S08 p_1, S08 p_2, S08 p_3, U32 weak_bs_flag);
int unpack_msg_pse_status(const U08* buf, S08* mode_p, S08* state_p, S08* p_0_p, S08* p_1_p, S08* p_2_p, S08* p_3_p,
                          U32* weak_bs_flag_p);
int pack_msg_glo_pse_status(U08* buf, S08 mode, S08 state, S08 p_0, S08 p_1, S08 p_2, S08 p_3, U32 weak_bs_flag);
int unpack_msg_glo_pse_status(const U08* buf, S08* mode_p, S08* state_p, S08* p_0_p, S08* p_1_p, S08* p_2_p, S08* p_3_p,
                              U32* weak_bs_flag_p);
// Types 25 and 52: pulse offset and period in target clocks.
int pack_msg_set_1pps(U08* buf, S16 enable_disable, U32 pps_offset, U32 pps_period);
int unpack_msg_set_1pps(const U08* buf, S16* enable_disable_p, U32* pps_offset_p, U32* pps_period_p);
int pack_msg_glo_set_1pps(U08* buf, S16 enable_disable, U32 pps_offset, U32 pps_period);
int unpack_msg_glo_set_1pps(const U08* buf, S16* enable_disable_p, U32* pps_offset_p, U32* pps_period_p);
// Type 27: weak-signal flags, bit n-1 for PRN n.
int pack_msg_asic_weak_bs_flag(U08* buf, U32 flag);
int unpack_msg_asic_weak_bs_flag(const U08* buf, U32* flag_p);
// Type 31: MSG_SET_TR_N entries always (tr holds that many), num of them in
// use; prn one byte, tr_to_chip 32 bits signed.
int pack_msg_tr(U08* buf, S16 num, const ASIC_TR_T* tr);
int unpack_msg_tr(const U08* buf, S16* num_p, ASIC_TR_T* tr);
// Type 18: frees hardware channel ch_id; GPS prn or GLONASS k_num in the second
// byte; track_issue: the channel's tracking issue id.
int pack_msg_drop_channel(U08* buf, S16 ch_id, S16 prn, U08 track_issue);
int unpack_msg_drop_channel(const U08* buf, S16* ch_id_p, S16* prn_p, U08* track_issue_p);
// Type 19: RTC adjustment (subsec, week, sec, ref_gtc_sec). rtc_subsec_dif and
// its CRC are not sent (the unpacker leaves them untouched).
int pack_msg_adjust_rtc(U08* buf, const ASIC_RTC_ADJ_T* adj_p);
int unpack_msg_adjust_rtc(const U08* buf, ASIC_RTC_ADJ_T* adj_p);
// Types 24 and 54: shift_count (and k_num) sign-extended on reception.
int pack_msg_ch_shift_msc(U08* buf, S16 ch_id, S16 prn, U08 track_issue, S16 shift_count);
int unpack_msg_ch_shift_msc(const U08* buf, S16* ch_id_p, S16* prn_p, U08* track_issue_p, S16* shift_count_p);
int pack_msg_glo_ch_shift_msc(U08* buf, S16 ch_id, S16 k_num, U08 track_issue, S16 shift_count);
int unpack_msg_glo_ch_shift_msc(const U08* buf, S16* ch_id_p, S16* k_num_p, U08* track_issue_p, S16* shift_count_p);
// Type 55: tap shift chip_shift of channel ch_id (one byte, sign-extended on
// reception); static_prediction_on_or_off: 0/1.
int pack_msg_command_tm_shift_tap(U08* buf, S16 ch_id, S16 static_prediction_on_or_off, S16 chip_shift);
int unpack_msg_command_tm_shift_tap(const U08* buf, S16* ch_id_p, S16* static_prediction_on_or_off_p,
                                    S16* chip_shift_p);
// Type 56: time for a hot-start prediction: GTC second, sub-second and
// sub-sub-second counts, the RTC second and sub-second count recorded with it;
// valid_flag 0/1. Seconds travel as 32 bits, the others as 16 bits.
int pack_msg_set_hot_start_predict_time(U08* buf, S32 gtc_sec, S16 gtc_subsec, S16 gtc_ssubsec, S32 record_rtc_sec,
                                        S16 record_rtc_subsec, S16 valid_flag);
int unpack_msg_set_hot_start_predict_time(const U08* buf, S32* gtc_sec_p, S16* gtc_subsec_p, S16* gtc_ssubsec_p,
                                          S32* record_rtc_sec_p, S16* record_rtc_subsec_p, S16* valid_flag_p);
