#include "misc/dispatch.h"

#include <array>
#include <cstring>

#include "misc/pack.h"

namespace {

struct tCALLBACK_INFO {
  int size;              // frame length without checksum; 0 = type not accepted
  DP_CALLBACKS cb_func;  // may be null
};

enum : int {
  ST_IDLE = 0,
  ST_PREAMBLE = 1,
  ST_TYPE = 2,
  ST_CONTENT = 3,
  ST_CHECKSUM = 4,
  ST_DONE = 5,
};

using DP_tSTATE_FUNC = int (*)(U08 b);

std::array<tCALLBACK_INFO, DP_NUM_MSG_TYPES> Dispacth_callback_tbl{};
DP_CHECKSUM_ERR_HANDLER_T Dispatch_checksum_err_handler = nullptr;
std::array<U08, DP_MAX_MSG_SIZE> Tmp_msg_buffer{};
int Msg_type = 0;
int Msg_buf_ndx = 0;
int Dispatch_state = ST_IDLE;
int Wrong_msgtype_count = 0;
int Wrong_checksum_count = 0;

int state_idle_proc(U08 b) { return b == DP_SYNC0 ? ST_PREAMBLE : ST_IDLE; }

// A second 'J' here does not restart the frame: the next byte is examined idle.
int state_preamble0_proc(U08 b) { return b == DP_SYNC1 ? ST_TYPE : ST_IDLE; }

int state_type_proc(U08 b) {
  if (b > DP_MAX_MSG_TYPE) {
    ++Wrong_msgtype_count;
    return ST_IDLE;
  }
  Msg_type = b;
  Tmp_msg_buffer[2] = b;
  Msg_buf_ndx = 3;
  const int size = Dispacth_callback_tbl[b].size;
  if (size == 0) {
    ++Wrong_msgtype_count;
    return ST_IDLE;
  }
  return size == DP_MIN_MSG_SIZE ? ST_CHECKSUM : ST_CONTENT;
}

int state_content_proc(U08 b) {
  // size is at most DP_MAX_MSG_SIZE (checked at installation), so the index stays inside.
  Tmp_msg_buffer[static_cast<std::size_t>(Msg_buf_ndx++)] = b;
  return Msg_buf_ndx == Dispacth_callback_tbl[static_cast<std::size_t>(Msg_type)].size ? ST_CHECKSUM : ST_CONTENT;
}

int state_checksum_proc(U08 b) {
  const tCALLBACK_INFO& info = Dispacth_callback_tbl[static_cast<std::size_t>(Msg_type)];
  if (calc_checksum(Tmp_msg_buffer.data(), info.size) == b) {
    if (info.cb_func != nullptr) info.cb_func(Tmp_msg_buffer.data(), info.size);
    return ST_DONE;
  }
  ++Wrong_checksum_count;
  if (Dispatch_checksum_err_handler != nullptr) Dispatch_checksum_err_handler(Tmp_msg_buffer.data(), info.size);
  return ST_IDLE;
}

constexpr std::array<DP_tSTATE_FUNC, 5> State_funcs = {
    state_idle_proc, state_preamble0_proc, state_type_proc, state_content_proc, state_checksum_proc,
};

}  // namespace

void DP_initialize() {
  Tmp_msg_buffer.fill(0);
  Tmp_msg_buffer[0] = DP_SYNC0;
  Tmp_msg_buffer[1] = DP_SYNC1;
  Msg_type = 0;
  Msg_buf_ndx = 0;
  Dispatch_state = ST_IDLE;
  Dispacth_callback_tbl.fill(tCALLBACK_INFO{0, nullptr});
  Dispatch_checksum_err_handler = nullptr;
  Wrong_msgtype_count = 0;
  Wrong_checksum_count = 0;
}

int DP_install_callback(int type, int size, DP_CALLBACKS func) {
  if (type < 0 || type > DP_MAX_MSG_TYPE) return 0;
  if (size < DP_MIN_MSG_SIZE || size > DP_MAX_MSG_SIZE) return 0;
  Dispacth_callback_tbl[static_cast<std::size_t>(type)] = tCALLBACK_INFO{size, func};
  return 1;
}

void DP_install_checksum_error_handler(DP_CHECKSUM_ERR_HANDLER_T func) { Dispatch_checksum_err_handler = func; }

int DP_dispatch_msg(const U08* buf, int len) {
  int good = 0;
  for (int i = 0; i < len; ++i) {
    Dispatch_state = State_funcs[static_cast<std::size_t>(Dispatch_state)](buf[i]);
    if (Dispatch_state == ST_DONE) {
      ++good;
      Dispatch_state = ST_IDLE;
    }
  }
  return good;
}

int DP_get_wrong_msgtype_count() { return Wrong_msgtype_count; }
int DP_get_wrong_checksum_count() { return Wrong_checksum_count; }
