// The target's end of the host link on a pseudo-terminal.
//
// The scripted target opens a pty, publishes the slave device's path, and
// waits for HOSTBASE_INIT. It answers with its RTC report, lets the host
// settle, then plays the report script one epoch per period. Every command
// frame the host sends is recorded, decoded and time-stamped. HOSTBASE_STOP
// ends the session.
#pragma once

#include <string>

#include "tools/talon_target/target_script.h"

struct TARGET_LINK_PARAM_T {
  TARGET_SCRIPT_PARAM_T script;
  int period_ms = 5;        // wall time between two epochs of the script
  int settle_ms = 300;      // pause after the RTC report before the script starts
  int silent = 0;           // 1: never answer (a dead target)
  int timeout_s = 60;       // give up after this long without HOSTBASE_STOP
  std::string pty_file;     // the slave path is written here (atomically)
  std::string record_file;  // one line per command received
  std::string sent_file;    // every byte sent after the RTC report, written when the script is done
  // Optional report source in place of the script (a simulated sky played
  // open loop): fills *out with the next epoch's bytes and returns true, or
  // returns false at the end. rtc_chunk is then the answer to HOSTBASE_INIT.
  bool (*next_chunk)(TARGET_CHUNK_T* out) = nullptr;
  TARGET_CHUNK_T rtc_chunk;
  // Optional: every command frame received (checksum included, len bytes;
  // the buffer is the link's, valid during the call) is passed on here too
  // (a closed-loop sky takes the search commands).
  void (*on_command)(const U08* frame, int len) = nullptr;
};

// Decode one command frame (checksum included) into a line: name, hex frame in
// brackets, fields. Returns the line without newline.
std::string TARGET_describe_command(const U08* frame, int len);

// Serve one host session. 0 after HOSTBASE_STOP, 1 on a set-up failure, 2 on time-out.
int TARGET_serve(const TARGET_LINK_PARAM_T& p);
