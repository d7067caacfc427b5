// End-to-end runs of the program against the scripted target on a pty, and
// replays of the set a logging run leaves. Known truth is what the scripted
// target sent (its sent.bin, its script parameters) and recorded.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include "link_test_util.h"
#include "misc/host_msg.h"

namespace {

using link_test::Bytes;
using talon_test::file_exists;
using talon_test::read_file;

constexpr int EPOCHS = 40;

long file_size(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

struct LiveRun {
  int host_rc = -1;
  int target_rc = -1;
  std::string out;
};

// One logging run against a scripted target; stops with finish.txt or SIGINT.
LiveRun logging_run(const std::string& dir, const std::string& rtc, bool stop_with_finish_file) {
  LiveRun r;
  for (const char* f : {"pty.txt", "sent.bin", "record.txt", "finish.txt"}) unlink((dir + "/" + f).c_str());
  const int tpid = link_test::spawn(dir, link_test::target_exe(),
                                    {"--pty-file", "pty.txt", "--record", "record.txt", "--sent", "sent.bin",
                                     "--epochs", std::to_string(EPOCHS), "--rtc", rtc, "--timeout-s", "60"},
                                    "target.out");
  EXPECT_TRUE(link_test::wait_for([&] { return file_exists(dir + "/pty.txt"); }, 10000));
  const std::string port = talon_test::read_text(dir + "/pty.txt");
  const int hpid = link_test::spawn(
      dir, TALONHOST_EXE, {"--rtk-mode", "0", "--mode", "0", "--port", port, "--do-kml-output", "0"}, "host.out");
  // The script has been played and the host has logged all of it.
  EXPECT_TRUE(link_test::wait_for([&] { return file_exists(dir + "/sent.bin"); }, 30000));
  EXPECT_TRUE(
      link_test::wait_for([&] { return file_size(dir + "/log_data.dat") == file_size(dir + "/sent.bin"); }, 10000));
  if (stop_with_finish_file)
    talon_test::write_file(dir + "/finish.txt", {});
  else
    kill(hpid, SIGINT);
  r.host_rc = talon_test::wait_talonhost(hpid, 60);
  r.target_rc = talon_test::wait_talonhost(tpid, 30);
  r.out = talon_test::read_text(dir + "/host.out");
  return r;
}

TEST(LinkRun, LoggingRunThenReplayOfItsSetThenASecondRun) {
  talon_test::TempDir dir;
  const std::string d = dir.path();

  // --- Logging run in an empty directory, stopped by finish.txt. ---
  const LiveRun live = logging_run(d, "2300,345600,16384", true);
  ASSERT_EQ(live.host_rc, 0) << live.out;
  EXPECT_EQ(live.target_rc, 0);  // the target saw HOSTBASE_STOP
  EXPECT_NE(live.out.find("Start in real time mode....\n"), std::string::npos) << live.out;
  EXPECT_NE(live.out.find("wait rtc count = "), std::string::npos) << live.out;
  EXPECT_NE(live.out.find("RTC wn: 2300, sec: 345600"), std::string::npos);
  EXPECT_NE(live.out.find("Save initilize files..."), std::string::npos);

  // rtc_data.dat: the target's RTC report (week 2300, 345600 s, sub-second count 16384).
  EXPECT_EQ(read_file(d + "/rtc_data.dat"), link_test::rtc_data_bytes(2300, 345600, 16384));

  // log_data.dat: exactly the bytes the target sent after its RTC report.
  const Bytes sent = read_file(d + "/sent.bin");
  ASSERT_GT(sent.size(), 1000u);
  EXPECT_EQ(read_file(d + "/log_data.dat"), sent);

  // Commands: HOSTBASE_INIT first, HOSTBASE_STOP last, the kernel's in between.
  const std::vector<Bytes> live_cmds = link_test::record_frames(d + "/record.txt");
  ASSERT_GE(live_cmds.size(), 3u);
  EXPECT_EQ(live_cmds.front(), (Bytes{0x4A, 0x58, 0x0F, 0x1D}));
  EXPECT_EQ(live_cmds.back(), (Bytes{0x4A, 0x58, 0x10, 0x02}));
  for (std::size_t i = 1; i + 1 < live_cmds.size(); ++i) {  // in between only commands of the kernel
    const HOST_MSG_INFO_T* info = live_cmds[i].size() > 2 ? HOST_MSG_find(live_cmds[i][2]) : nullptr;
    ASSERT_NE(info, nullptr) << i;
    EXPECT_NE(info->dir, MSG_DIR_T2H) << info->name;
    EXPECT_NE(live_cmds[i][2], MSG_TYPE_HOSTBASE_INIT) << i;
    EXPECT_NE(live_cmds[i][2], MSG_TYPE_HOSTBASE_STOP) << i;
  }
  EXPECT_EQ(talon_test::count_of(talon_test::read_text(d + "/record.txt"), "HOSTBASE_STOP"), 1);

  // Memory images saved at the end; nothing to copy at the start of an empty directory.
  EXPECT_EQ(read_file(d + "/log_save.dat").size(), 20480u);
  EXPECT_EQ(read_file(d + "/flash_save.alm").size(), 20480u);
  EXPECT_FALSE(file_exists(d + "/log_init.dat"));
  EXPECT_FALSE(file_exists(d + "/flash.alm"));

  // --- Replay of the set, with the proxy's commands captured. ---
  unlink((d + "/finish.txt").c_str());
  const link_test::Replay rep =
      link_test::replay_capturing_commands(d, {"--rtk-mode", "0", "--mode", "1", "--do-kml-output", "0"});
  EXPECT_EQ(rep.exit_code, 0) << rep.out;
  EXPECT_NE(rep.out.find("Start in replay mode...."), std::string::npos);
  // every epoch the target sent but the half-second ones (one position a second)
  EXPECT_EQ(talon_test::count_of(rep.out, "fix mode = 0,"), link_test::reported_epochs(EPOCHS));
  const std::vector<Bytes> kernel_cmds(live_cmds.begin() + 1, live_cmds.end() - 1);
  EXPECT_FALSE(kernel_cmds.empty());
  EXPECT_EQ(rep.commands, kernel_cmds);

  // --- A second logging run starts from the files the first one saved. ---
  const Bytes saved = read_file(d + "/log_save.dat");
  const Bytes saved_alm = read_file(d + "/flash_save.alm");
  const LiveRun second = logging_run(d, "2301,1000,0", false);
  ASSERT_EQ(second.host_rc, HOST_EXIT_INTERRUPTED) << second.out;  // stopped with SIGINT
  EXPECT_EQ(read_file(d + "/log_init.dat"), saved);
  EXPECT_EQ(read_file(d + "/flash.alm"), saved_alm);
  EXPECT_NE(second.out.find("RTC wn: 2301, sec: 1000"), std::string::npos);
}

}  // namespace
