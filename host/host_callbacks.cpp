// Report handlers of the host program and their registration with the
// host-link dispatcher. Each handler decodes its report with the message
// catalogue and stores it in the target proxy; the proxy drops and counts
// what cannot be stored.
#include "host/host_callbacks.h"

#include <cstdio>

#include "host/host.h"
#include "host/wrap.h"
#include "misc/dispatch.h"
#include "misc/host_msg.h"

namespace {

HOST_PSE_STATUS_T Pse_status{};

void msg_gtc_callback(U08* buf, int) {
  HOST_flush_log();
  GTC_RD_T gtc{};
  S16 gtc_shift_count = 0;
  S16 has_updated_rtc = 0;
  U32 noise_power = 0;
  S32 gtc_sync = 0;  // GTC clocks
  ASIC_READ_RTC_T rtc_gtc_meas{};
  unpack_msg_gtc(buf, &gtc, &gtc_shift_count, &has_updated_rtc, &noise_power, &gtc_sync, &rtc_gtc_meas);
  WRAP_set_asic_gtc(&gtc, gtc_shift_count, has_updated_rtc, noise_power, nullptr, gtc_sync, &rtc_gtc_meas);
}

void msg_gtc_clock_counts_callback(U08* buf, int) {
  HOST_flush_log();
  S16 ary_count = 0;
  U32 acc_clocks_ary[MSG_GTC_CLOCK_N] = {};
  U16 acc_subsecs_ary[MSG_GTC_CLOCK_N] = {};
  unpack_msg_gtc_clock_counts(buf, &ary_count, acc_clocks_ary, acc_subsecs_ary);
  WRAP_set_asic_gtc_clock_counts(ary_count, acc_clocks_ary, acc_subsecs_ary);
}

void msg_chan_callback(U08* buf, int) {
  HOST_flush_log();
  S16 ch_id = 0;
  ASIC_CHAN_MEAS_T ch_meas{};
  unpack_msg_chan(buf, &ch_id, &ch_meas);
  WRAP_set_asic_chan_meas(ch_id, &ch_meas);
}

void msg_chan_carrier_callback(U08* buf, int) {
  HOST_flush_log();
  S16 ch_id = 0;
  ASIC_CHAN_MEAS_T ch_meas{};
  unpack_msg_chan_carrier(buf, &ch_id, &ch_meas);
  WRAP_set_asic_chan_carrier_meas(ch_id, &ch_meas);
}

void msg_asic_get_databits_callback(U08* buf, int) {
  HOST_flush_log();
  S16 ch_id = 0, gnss_type = 0, prn = 0;
  U32 databits = 0, databits_info = 0, bitcnt = 0;
  U08 issue_id = 0;
  unpack_msg_get_databits(buf, &ch_id, &gnss_type, &prn, &databits, &databits_info, &bitcnt, &issue_id);
  WRAP_set_asic_databits(ch_id, gnss_type, prn, databits, databits_info, bitcnt, issue_id);
}

void msg_asic_rtc_callback(U08* buf, int) {
  HOST_flush_log();
  S16 wn = 0;      // RTC week (mod 4096)
  S32 sec = 0;     // RTC seconds
  U32 subsec = 0;  // RTC sub-second count, 1/32768 s
  unpack_msg_rtc(buf, &wn, &sec, &subsec);
  WRAP_set_asic_rtc(wn, sec, subsec);
  std::printf("RTC wn: %d, sec: %ld\n", static_cast<int>(wn), static_cast<long>(sec));
  HOST_set_received_rtc(wn, sec, subsec);
}

void msg_pse_status_callback(U08* buf, int) {
  HOST_flush_log();
  U32 weak_bs_flag = 0;  // not used
  unpack_msg_pse_status(buf, &Pse_status.Pse_Search_Mode, &Pse_status.Pse_Search_State, &Pse_status.Pse_0,
                        &Pse_status.Pse_1, &Pse_status.Pse_2, &Pse_status.Pse_3, &weak_bs_flag);
}

// GLONASS search status and the weak-signal flags: accepted, not used here.
void msg_glo_pse_status_callback(U08*, int) { HOST_flush_log(); }
void msg_asic_145_flag_callback(U08*, int) { HOST_flush_log(); }

// Dead-reckoning sensor data and temperature: accepted and ignored.
void msg_deadreckoning_callback(U08*, int) {}
void msg_dr_temperature_callback(U08*, int) {}

void checksum_err_handler(U08*, int) { HOST_flush_log(); }

struct REPORT_HANDLER_T {
  int type;
  int size;
  DP_CALLBACKS func;
};

// Registration order of the report handlers.
constexpr REPORT_HANDLER_T REPORT_HANDLERS[] = {
    {MSG_TYPE_GTC, MSG_LEN_GTC, msg_gtc_callback},
    {MSG_TYPE_GTC_CLOCK_COUNTS, MSG_LEN_GTC_CLOCK_COUNTS, msg_gtc_clock_counts_callback},
    {MSG_TYPE_CHAN, MSG_LEN_CHAN, msg_chan_callback},
    {MSG_TYPE_CHAN_CARRIER, MSG_LEN_CHAN_CARRIER, msg_chan_carrier_callback},
    {MSG_TYPE_ASIC_GET_DATABITS, MSG_LEN_ASIC_GET_DATABITS, msg_asic_get_databits_callback},
    {MSG_TYPE_ASIC_RTC, MSG_LEN_ASIC_RTC, msg_asic_rtc_callback},
    {MSG_TYPE_PSE_STATUS, MSG_LEN_PSE_STATUS, msg_pse_status_callback},
    {MSG_TYPE_ASIC_WEAK_BS_FLAG, MSG_LEN_ASIC_WEAK_BS_FLAG, msg_asic_145_flag_callback},
    {MSG_TYPE_DEADRECKONING, MSG_LEN_DEADRECKONING, msg_deadreckoning_callback},
    {MSG_TYPE_DR_TEMPERATURE, MSG_LEN_DR_TEMPERATURE, msg_dr_temperature_callback},
    {MSG_TYPE_GLO_PSE_STATUS, MSG_LEN_GLO_PSE_STATUS, msg_glo_pse_status_callback},
};

}  // namespace

const HOST_PSE_STATUS_T* HOST_get_pse_status() { return &Pse_status; }

void msg_init() {
  Pse_status = HOST_PSE_STATUS_T{};
  DP_initialize();
  DP_install_checksum_error_handler(checksum_err_handler);
  for (const REPORT_HANDLER_T& h : REPORT_HANDLERS) DP_install_callback(h.type, h.size, h.func);
}
