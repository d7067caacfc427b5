// Report handlers of the host program and their registration.
//
// The message catalogue (issue 5) brings the unpackers of every report; until
// then the RTC report is decoded here field by field and the GTC report only
// closes the epoch. Every report type the target sends is accepted with its
// length so that the link statistics are right from the start.
#include <cstdio>

#include "host/host.h"
#include "host/wrap.h"
#include "misc/dispatch.h"
#include "misc/pack.h"

namespace {

enum : int {
  MSG_TYPE_GTC = 0,
  MSG_TYPE_CHAN = 1,
  MSG_TYPE_ASIC_GET_DATABITS = 13,
  MSG_TYPE_ASIC_RTC = 14,
  MSG_TYPE_PSE_STATUS = 26,
  MSG_TYPE_ASIC_WEAK_BS_FLAG = 27,
  MSG_TYPE_DEADRECKONING = 32,
  MSG_TYPE_DR_TEMPERATURE = 33,
  MSG_TYPE_GLO_PSE_STATUS = 51,
  MSG_TYPE_CHAN_CARRIER = 62,
  MSG_TYPE_GTC_CLOCK_COUNTS = 63,
};

void msg_gtc_callback(U08*, int) {
  HOST_flush_log();
  WRAP_set_epoch_complete();
}

void msg_report_callback(U08*, int) { HOST_flush_log(); }

void msg_asic_rtc_callback(U08* buf, int) {
  HOST_flush_log();
  S16 wn = 0;     // RTC week (mod 4096)
  S32 sec = 0;    // RTC seconds of week
  U32 subsec = 0; // RTC sub-second count
  unpack(buf + 3, "sll", &wn, &sec, &subsec);
  WRAP_set_asic_rtc(wn, sec, subsec);
  std::printf("RTC wn: %d, sec: %ld\n", static_cast<int>(wn), static_cast<long>(sec));
  HOST_set_received_rtc(wn, sec, subsec);
}

void msg_ignore_callback(U08*, int) {}

void checksum_err_handler(U08*, int) { HOST_flush_log(); }

}  // namespace

void msg_init() {
  DP_initialize();
  DP_install_checksum_error_handler(checksum_err_handler);
  DP_install_callback(MSG_TYPE_GTC, 42, msg_gtc_callback);
  DP_install_callback(MSG_TYPE_GTC_CLOCK_COUNTS, 64, msg_report_callback);
  DP_install_callback(MSG_TYPE_CHAN, 62, msg_report_callback);
  DP_install_callback(MSG_TYPE_CHAN_CARRIER, 67, msg_report_callback);
  DP_install_callback(MSG_TYPE_ASIC_GET_DATABITS, 19, msg_report_callback);
  DP_install_callback(MSG_TYPE_ASIC_RTC, 13, msg_asic_rtc_callback);
  DP_install_callback(MSG_TYPE_PSE_STATUS, 13, msg_report_callback);
  DP_install_callback(MSG_TYPE_ASIC_WEAK_BS_FLAG, 7, msg_report_callback);
  DP_install_callback(MSG_TYPE_DEADRECKONING, 47, msg_ignore_callback);
  DP_install_callback(MSG_TYPE_DR_TEMPERATURE, 5, msg_ignore_callback);
  DP_install_callback(MSG_TYPE_GLO_PSE_STATUS, 13, msg_report_callback);
}
