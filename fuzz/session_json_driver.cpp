#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "audio/recorded_session.h"
#include "cli/cli.h"
#include "engine/buffer_plan.h"
#include "fuzz/drivers.h"

namespace {

// A real session of two pings on the simulated room, recorded once per process and removed at
// its end; each input replaces its session.json.
struct RecordedFolder {
  RecordedFolder()
      : path((std::filesystem::temp_directory_path() /
              ("mervane_fuzz_session_" + std::to_string(::getpid())))
                 .string()) {
    std::filesystem::remove_all(path);
    std::ostringstream out, err;
    runCli({"ping", "--count", "2", "--record", path}, out, err);
  }
  ~RecordedFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string path;
};

const std::string& sessionFolder() {
  static const RecordedFolder folder;
  return folder.path;
}

}  // namespace

void runSessionJsonInput(std::span<const uint8_t> bytes) {
  const std::string text(bytes.begin(), bytes.end());
  SessionInfo info;
  if (parseSessionInfo(text, info).empty()) {
    SonarSettings settings;
    applyDefaultSettings(settings);
    applyCapture(info.capture, settings);
    planBuffers(settings);
  }
  std::vector<SessionPing> pings;
  parsePingList(text, pings);

  const std::string& folder = sessionFolder();
  std::ofstream(folder + "/" + kSessionFile, std::ios::binary | std::ios::trunc) << text;
  std::ostringstream out, err;
  runCli({"analyze", folder, "--json"}, out, err);
  runCli({"--backend", "replay:" + folder, "ping", "--count", "3"}, out, err);
}
