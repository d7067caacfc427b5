// Fuzz target: a started kernel fed arbitrary measurement reports through the
// target proxy, every field of every record taken from the input (also values
// the link's byte widths could not carry). Input layout:
//   byte 0   bits 0..2 TCXO mode (mod 5), bits 3..4 position rate index
//            (1, 2, 5, 10 Hz), bit 5 early measurements on
//   rest     a sequence of reports, each an opcode byte and its bytes:
//            0 CHAN:          ch_id byte, then an ASIC_CHAN_MEAS_T image
//            1 CHAN_CARRIER:  ch_id byte, then an ASIC_CHAN_MEAS_T image
//            2 GTC_CLOCK_COUNTS: count S16, 10 x U32 clocks, 10 x U16 ms
//            3 GTC:           GTC_RD_T, shift S16, noise U32, sync error S32,
//                             ASIC_READ_RTC_T; then one kernel loop
//            4 data bits:     ch_id byte, type S16, prn S16, bits U32,
//                             info U32, bitcnt U32, issue U08; then one
//                             kernel loop
//            other: a kernel loop
// Every processed epoch is also written as measurement-log rows (to
// /dev/null), which reads every channel accessor.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "host/host_meas_csv.h"
#include "host/wrap.h"
#include "kernel/src/kernel.h"
#include "misc/endian_swap.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/fuzz_kernel.h"

namespace {
using Input = FUZZ_INPUT_T;

void feed_gtc(Input& in) {
  GTC_RD_T gtc{};
  S16 shift = 0;
  U32 noise = 0;
  S32 sync_error = 0;
  ASIC_READ_RTC_T rtc{};
  in.take(&gtc, sizeof gtc);
  in.take(&shift, sizeof shift);
  in.take(&noise, sizeof noise);
  in.take(&sync_error, sizeof sync_error);
  in.take(&rtc, sizeof rtc);
  WRAP_set_asic_gtc(&gtc, shift, 0, noise, nullptr, sync_error, &rtc);
}

void feed_databits(Input& in) {
  const S16 ch = in.byte();
  S16 type = 0, prn = 0;
  U32 bits = 0, info = 0, bitcnt = 0;
  U08 issue = 0;
  in.take(&type, sizeof type);
  in.take(&prn, sizeof prn);
  in.take(&bits, sizeof bits);
  in.take(&info, sizeof info);
  in.take(&bitcnt, sizeof bitcnt);
  in.take(&issue, sizeof issue);
  WRAP_set_asic_databits(ch, type, prn, bits, info, bitcnt, issue);
}

void feed_report(U08 op, Input& in) {
  switch (op % 6) {
    case 0:
    case 1: {
      const S16 ch = in.byte();
      ASIC_CHAN_MEAS_T m{};
      in.take(&m, sizeof m);
      if (op % 6 == 0)
        WRAP_set_asic_chan_meas(ch, &m);
      else
        WRAP_set_asic_chan_carrier_meas(ch, &m);
      return;
    }
    case 2: {
      S16 n = 0;
      std::array<U32, 10> clocks{};
      std::array<U16, 10> ms{};
      in.take(&n, sizeof n);
      in.take(clocks.data(), sizeof clocks);
      in.take(ms.data(), sizeof ms);
      WRAP_set_asic_gtc_clock_counts(n, clocks.data(), ms.data());
      return;
    }
    case 3:
      feed_gtc(in);
      KERNEL_loop();
      return;
    case 4:
      feed_databits(in);
      KERNEL_loop();
      return;
    default:
      KERNEL_loop();
      return;
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in{data, size};
  FUZZ_start_kernel(in.byte());
  HOSTMEAS_open("/dev/null");
  while (in.size > 0) feed_report(in.byte(), in);
  KERNEL_loop();
  KERNEL_loop();
  HOSTMEAS_close();
  KERNEL_close();
  return 0;
}
