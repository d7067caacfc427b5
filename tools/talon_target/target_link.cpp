#include "tools/talon_target/target_link.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "misc/dispatch.h"
#include "misc/host_msg.h"
#include "misc/pack.h"

namespace {

using Clock = std::chrono::steady_clock;

std::FILE* Record_fp = nullptr;
Clock::time_point Start_time;
int Got_init = 0;
int Got_stop = 0;
void (*Command_hook)(const U08* frame, int len) = nullptr;

std::string hex(const U08* b, int n) {
  std::string s;
  char t[4];
  for (int i = 0; i < n; ++i) {
    std::snprintf(t, sizeof t, "%02X", b[i]);
    s += t;
  }
  return s;
}

std::string fields(const U08* f) {
  char s[512] = "";
  switch (f[2]) {
    case MSG_TYPE_PSE_CLOCK:
    case MSG_TYPE_GLO_PSE_CLOCK:
    case MSG_TYPE_BD2_PSE_CLOCK: {
      S32 c = 0;
      unpack_msg_pse_set_clock_offset(f, &c);  // same layout for the three types
      std::snprintf(s, sizeof s, "clk_offset=%d", static_cast<int>(c));
      break;
    }
    case MSG_TYPE_ASIC_DROP_CHANNEL: {
      S16 ch = 0, prn = 0;
      U08 ti = 0;
      unpack_msg_drop_channel(f, &ch, &prn, &ti);
      std::snprintf(s, sizeof s, "ch_id=%d prn=%d track_issue=%u", ch, prn, ti);
      break;
    }
    case MSG_TYPE_ASIC_SET_HOT_START_PREDICT_TIME: {
      S32 gs = 0, rs = 0;
      S16 gss = 0, gsss = 0, rss = 0, v = 0;
      unpack_msg_set_hot_start_predict_time(f, &gs, &gss, &gsss, &rs, &rss, &v);
      std::snprintf(s, sizeof s,
                    "gtc_sec=%d gtc_subsec=%d gtc_ssubsec=%d record_rtc_sec=%d record_rtc_subsec=%d valid=%d",
                    static_cast<int>(gs), gss, gsss, static_cast<int>(rs), rss, v);
      break;
    }
    case MSG_TYPE_ASIC_RTC: {
      S16 wn = 0;
      S32 sec = 0;
      U32 sub = 0;
      unpack_msg_rtc(f, &wn, &sec, &sub);
      std::snprintf(s, sizeof s, "wn=%d sec=%d subsec=%u", wn, static_cast<int>(sec), sub);
      break;
    }
    case MSG_TYPE_ASIC_SET_1PPS:
    case MSG_TYPE_GLO_SET_1PPS: {
      S16 e = 0;
      U32 o = 0, per = 0;
      unpack_msg_set_1pps(f, &e, &o, &per);
      std::snprintf(s, sizeof s, "enable=%d offset=%u period=%u", e, o, per);
      break;
    }
    case MSG_TYPE_PSE_SVDOPP: {
      S16 num = 0;
      PSE_PRN_DOPP_T d[MSG_PSE_SVDOPP_N];
      unpack_msg_pse_set_sv_doppler(f, &num, d);
      int n = std::snprintf(s, sizeof s, "num=%d", num);
      for (int i = 0; i < num && i < MSG_PSE_SVDOPP_N && n < 480; ++i)
        n += std::snprintf(s + n, sizeof s - static_cast<std::size_t>(n), " %d:%d", d[i].prn, d[i].dopp);
      break;
    }
    case MSG_TYPE_ASIC_PREDICT_MEAS: {
      S16 num = 0, can = 0;
      S32 ref = 0;
      ASIC_PREDICTED_MEAS_T pm[MSG_PREDICT_N];
      unpack_msg_predict_meas(f, &num, &ref, pm, &can);
      std::snprintf(s, sizeof s, "num=%d ref_gtc_sec=%d can_predict_to_chip=%d", num, static_cast<int>(ref), can);
      break;
    }
    case MSG_TYPE_ASIC_SHIFT_MSC: {
      S16 ch = 0, prn = 0, sc = 0;
      U08 ti = 0;
      unpack_msg_ch_shift_msc(f, &ch, &prn, &ti, &sc);
      std::snprintf(s, sizeof s, "ch_id=%d prn=%d track_issue=%u shift_count=%d", ch, prn, ti, sc);
      break;
    }
    default: {
      // Commands with a single one-byte field show it; others show only their frame.
      const HOST_MSG_INFO_T* m = HOST_MSG_find(f[2]);
      if (m != nullptr && m->len == 4) std::snprintf(s, sizeof s, "value=%u", f[3]);
      break;
    }
  }
  return s;
}

void on_command(U08* buf, int len) {
  U08 frame[DP_MAX_MSG_SIZE + 1];
  for (int i = 0; i < len; ++i) frame[i] = buf[i];
  frame[len] = calc_checksum(buf, len);
  if (buf[2] == MSG_TYPE_HOSTBASE_INIT) Got_init = 1;
  if (buf[2] == MSG_TYPE_HOSTBASE_STOP) Got_stop = 1;
  if (Command_hook != nullptr) Command_hook(frame, len + 1);
  if (Record_fp != nullptr) {
    const double t = std::chrono::duration<double, std::milli>(Clock::now() - Start_time).count();
    std::fprintf(Record_fp, "%10.3f %s\n", t, TARGET_describe_command(frame, len + 1).c_str());
    std::fflush(Record_fp);
  }
}

void install_command_receiver() {
  DP_initialize();
  for (const HOST_MSG_INFO_T& m : HOST_MSG_TABLE)
    if (m.dir != MSG_DIR_T2H) DP_install_callback(m.type, m.len, on_command);
}

// What the target has sent and still sends in one session.
struct SERVE_T {
  std::vector<TARGET_CHUNK_T> script;  // the report script (empty with a report source)
  std::vector<U08> out;                // bytes queued for the host
  std::vector<U08> sent;               // every report byte queued after the RTC report
  std::size_t next_epoch = 0;
  bool answered = false, script_done = false;
  Clock::time_point next_send{};
};

// The next epoch's bytes, from the report source or the script; false at the end.
bool next_report(const TARGET_LINK_PARAM_T& p, SERVE_T* st, TARGET_CHUNK_T* out) {
  if (p.next_chunk != nullptr) return p.next_chunk(out);
  if (st->next_epoch >= st->script.size()) return false;
  *out = st->script[st->next_epoch++];
  return true;
}

// HOSTBASE_INIT arrived: queue the RTC report and let the host settle.
void answer_init(const TARGET_LINK_PARAM_T& p, SERVE_T* st) {
  const TARGET_CHUNK_T rtc = p.next_chunk == nullptr ? TARGET_rtc_report(p.script) : p.rtc_chunk;
  st->out.insert(st->out.end(), rtc.begin(), rtc.end());
  st->answered = true;
  st->next_send = Clock::now() + std::chrono::milliseconds(p.settle_ms);
}

int write_file_atomic(const std::string& path, const U08* data, std::size_t n);

// Queue the next epoch; at the end of the reports write the sent file.
void queue_next_epoch(const TARGET_LINK_PARAM_T& p, SERVE_T* st) {
  TARGET_CHUNK_T c;
  if (next_report(p, st, &c)) {
    st->out.insert(st->out.end(), c.begin(), c.end());
    st->sent.insert(st->sent.end(), c.begin(), c.end());
    st->next_send = Clock::now() + std::chrono::milliseconds(p.period_ms);
  } else {
    st->script_done = true;
    if (!p.sent_file.empty()) write_file_atomic(p.sent_file, st->sent.data(), st->sent.size());
  }
}

int write_file_atomic(const std::string& path, const U08* data, std::size_t n) {
  const std::string tmp = path + ".tmp";
  std::FILE* fp = std::fopen(tmp.c_str(), "wb");
  if (fp == nullptr) return 0;
  const bool ok = std::fwrite(data, 1, n, fp) == n;
  if (std::fclose(fp) != 0 || !ok) return 0;
  return std::rename(tmp.c_str(), path.c_str()) == 0 ? 1 : 0;
}

void set_raw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return;
  cfmakeraw(&tio);
  tcsetattr(fd, TCSANOW, &tio);
}

}  // namespace

std::string TARGET_describe_command(const U08* frame, int len) {
  const HOST_MSG_INFO_T* m = len >= 3 ? HOST_MSG_find(frame[2]) : nullptr;
  std::string line = m != nullptr ? m->name : "UNKNOWN";
  line += " [" + hex(frame, len) + "]";
  if (m != nullptr && len == m->len + 1) {
    const std::string f = fields(frame);
    if (!f.empty()) line += " " + f;
  }
  return line;
}

int TARGET_serve(const TARGET_LINK_PARAM_T& p) {
  Start_time = Clock::now();
  Command_hook = p.on_command;
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return 1;
  const char* name = ptsname(master);
  if (name == nullptr) return 1;
  const std::string slave_path(name);
  // Keep the slave open too, in raw mode: no echo, and no hang-up between the
  // host's open and close.
  const int slave_keep = open(slave_path.c_str(), O_RDWR | O_NOCTTY);
  if (slave_keep < 0) return 1;
  set_raw(slave_keep);
  set_raw(master);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

  if (!p.record_file.empty()) Record_fp = std::fopen(p.record_file.c_str(), "w");
  install_command_receiver();
  if (!p.pty_file.empty() &&
      !write_file_atomic(p.pty_file, reinterpret_cast<const U08*>(slave_path.c_str()), slave_path.size()))
    return 1;
  std::printf("target on %s\n", slave_path.c_str());
  std::fflush(stdout);

  SERVE_T st;
  st.script = p.next_chunk == nullptr ? TARGET_build_script(p.script) : std::vector<TARGET_CHUNK_T>{};
  std::vector<U08>& out = st.out;
  const Clock::time_point deadline = Start_time + std::chrono::seconds(p.timeout_s);

  int rc = 2;
  while (Clock::now() < deadline) {
    pollfd pfd{master, static_cast<short>(POLLIN | (out.empty() ? 0 : POLLOUT)), 0};
    const int pr = poll(&pfd, 1, 1);
    if (pr > 0 && (pfd.revents & POLLIN)) {
      U08 buf[512];
      const ssize_t n = read(master, buf, sizeof buf);
      if (n > 0) DP_dispatch_msg(buf, static_cast<int>(n));
    }
    if (pr > 0 && (pfd.revents & POLLHUP)) usleep(1000);  // no slave user yet
    if (!out.empty()) {
      const ssize_t n = write(master, out.data(), out.size());
      if (n > 0) out.erase(out.begin(), out.begin() + n);
    }
    if (Got_stop) {
      rc = 0;
      break;
    }
    if (p.silent) continue;
    if (Got_init && !st.answered) answer_init(p, &st);
    if (st.answered && !st.script_done && out.empty() && Clock::now() >= st.next_send) queue_next_epoch(p, &st);
  }
  // Let the last bytes reach the host before the pty goes away.
  for (int i = 0; i < 200 && !out.empty(); ++i) {
    const ssize_t n = write(master, out.data(), out.size());
    if (n > 0)
      out.erase(out.begin(), out.begin() + n);
    else
      usleep(1000);
  }
  if (Record_fp != nullptr) std::fclose(Record_fp);
  Record_fp = nullptr;
  close(slave_keep);
  close(master);
  return rc;
}
