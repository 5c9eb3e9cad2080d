#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "audio/recorded_session.h"
#include "cli_result.h"

namespace {

namespace fs = std::filesystem;

size_t linesIn(const fs::path& path) {
  std::ifstream in(path);
  size_t n = 0;
  for (std::string line; std::getline(in, line);) ++n;
  return n;
}

// The real program killed by SIGKILL while it records a long run of pings: whatever moment the
// signal hits (mid-WAV, mid-line), the session reads and replays up to its last complete ping.
TEST(RecordedSessionKilled, ReplaysUpToItsLastCompletePing) {
  const fs::path dir = fs::temp_directory_path() / ("mervane_killed_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string session = (dir / "s").string();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execl(MERVANE_CLI, MERVANE_CLI, "ping", "--count", "100000", "--record", session.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (linesIn(dir / "s" / kPingListFile) < 8 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the recording ended before it was killed";

  RecordedSession s;
  ASSERT_EQ(readRecordedSession(session, s), "");
  EXPECT_FALSE(s.info.complete);
  const size_t pings = s.pings.size();
  ASSERT_GE(pings, 8u);
  const std::string count = std::to_string(pings);
  const CliResult all = cli({"--backend", "replay:" + session, "ping", "--count", count});
  EXPECT_EQ(all.code, 0) << all.err;
  const CliResult more =
      cli({"--backend", "replay:" + session, "ping", "--count", std::to_string(pings + 1)});
  EXPECT_EQ(more.code, 1);
  EXPECT_TRUE(has(more.err, "The recorded session has ended")) << more.err;
  fs::remove_all(dir);
}

}  // namespace
