// Helpers for the host-link tests: the scripted target program, command
// records and replays captured through the target proxy's command sink.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/host.h"
#include "host/wrap.h"
#include "misc/crc16.h"
#include "test_util.h"

namespace link_test {

using Bytes = std::vector<unsigned char>;

// The scripted target is built beside the program under test.
inline std::string target_exe() {
  std::string host = TALONHOST_EXE;
  return host.substr(0, host.rfind('/')) + "/tools/talon_target/talon_target";
}

// Run a program with args in dir (stdout and stderr to the file out_name there); returns its pid.
inline int spawn(const std::string& dir, const std::string& exe, const std::vector<std::string>& args,
                 const std::string& out_name) {
  return talon_test::spawn_program(dir, exe, args, out_name, out_name);
}

// Wait until pred() holds, for at most timeout_ms.
template <typename P>
bool wait_for(P pred, int timeout_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return pred();
}

// The command frames of a target record, in order (the bracketed hex of each line).
inline std::vector<Bytes> record_frames(const std::string& path) {
  std::vector<Bytes> v;
  std::istringstream in(talon_test::read_text(path));
  for (std::string line; std::getline(in, line);) {
    const auto a = line.find('['), b = line.find(']');
    if (a == std::string::npos || b == std::string::npos || b < a) continue;
    Bytes f;
    for (std::size_t i = a + 1; i + 1 < b; i += 2)
      f.push_back(static_cast<unsigned char>(std::stoi(line.substr(i, 2), nullptr, 16)));
    v.push_back(f);
  }
  return v;
}

// Frames written by the command sink of a replay child: 2-byte length, then the frame.
inline std::FILE* Sink_fp = nullptr;
inline void sink_to_file(const unsigned char* f, int len) {
  std::fputc(len >> 8, Sink_fp);
  std::fputc(len & 0xFF, Sink_fp);
  std::fwrite(f, 1, static_cast<std::size_t>(len), Sink_fp);
}

struct Replay {
  int exit_code = -1;
  std::vector<Bytes> commands;  // every command frame the proxy was asked to send
  std::string out;
};

// Run the program's main in a child process in dir, with the proxy's command
// sink installed, and collect the command frames.
inline Replay replay_capturing_commands(const std::string& dir, const std::vector<std::string>& args) {
  const std::string cmd_file = dir + "/commands.bin", out_file = dir + "/replay.out";
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    Sink_fp = std::fopen(cmd_file.c_str(), "wb");
    const int fo = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::fflush(stdout);
    dup2(fo, 1);
    WRAP_install_command_sink(sink_to_file);
    std::vector<std::string> all = {"talonhost"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = host_main(static_cast<int>(all.size()), argv.data());
    std::fflush(stdout);
    std::fclose(Sink_fp);
    _exit(rc);
  }
  Replay r;
  r.exit_code = talon_test::wait_talonhost(pid, 60);
  const Bytes raw = talon_test::read_file(cmd_file);
  for (std::size_t i = 0; i + 2 <= raw.size();) {
    const std::size_t n = (static_cast<std::size_t>(raw[i]) << 8) | raw[i + 1];
    r.commands.emplace_back(raw.begin() + static_cast<long>(i + 2), raw.begin() + static_cast<long>(i + 2 + n));
    i += 2 + n;
  }
  r.out = talon_test::read_text(out_file);
  return r;
}

// rtc_data.dat as the program writes it: seconds (4 bytes), sub-second count
// (4) and week (2), little-endian, then the CRC-16 of those 10 bytes, little-endian.
inline Bytes rtc_data_bytes(S16 wn, S32 sec, U32 subsec) {
  Bytes b;
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(static_cast<U32>(sec) >> (8 * i)));
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(subsec >> (8 * i)));
  b.push_back(static_cast<unsigned char>(static_cast<U16>(wn) & 0xFF));
  b.push_back(static_cast<unsigned char>(static_cast<U16>(wn) >> 8));
  const U16 crc = crc16(b.data(), 10);
  b.push_back(static_cast<unsigned char>(crc & 0xFF));
  b.push_back(static_cast<unsigned char>(crc >> 8));
  return b;
}

// Epochs a navigation run reports for `epochs` epochs of the scripted target
// at epoch_ms intervals from millisecond 0: the kernel runs at one position
// per second and drops the set at millisecond 500 of each second.
inline int reported_epochs(int epochs, int epoch_ms = 100) {
  int n = 0;
  for (int k = 0; k < epochs; ++k)
    if ((k * epoch_ms) % 1000 != 500) ++n;
  return n;
}

}  // namespace link_test
