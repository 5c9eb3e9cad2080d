#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "audio/recorded_session.h"

// Writes a recorded session while the pings run. Recording never stands in the measurement's
// way: the first write that fails (a full disk, a vanished folder) stops the recording, keeps
// the reason, and leaves every ping recorded before it readable.
class SessionRecorder {
 public:
  // How many bytes the disk of a folder holds for us; false with errno set when it cannot be
  // asked. Replaceable so that tests can play a nearly full disk; the default asks statvfs.
  using FreeSpaceQuery = bool (*)(const std::string& folder, uint64_t& freeBytes);
  static bool diskFreeSpace(const std::string& folder, uint64_t& freeBytes);

  // Why a folder cannot take a new session, or empty: it must be empty or not exist yet (its
  // parent must), and must not be `replayed` (the session being played back, if any).
  static std::string checkFolder(const std::string& folder, const std::string& replayed);

  // Creates the folder if needed, checks that the disk holds `bytesPerMinute` more, writes
  // session.json and an empty pings.jsonl. Returns the reason on failure and null.
  static std::unique_ptr<SessionRecorder> start(const std::string& folder, SessionInfo info,
                                                uint64_t bytesPerMinute, std::string& problem,
                                                FreeSpaceQuery freeSpace = &diskFreeSpace);
  ~SessionRecorder();
  SessionRecorder(const SessionRecorder&) = delete;
  SessionRecorder& operator=(const SessionRecorder&) = delete;

  // Records one ping (on any one thread at a time; the counters and active() may be read from
  // another meanwhile): its warm-up and its recording as the back end delivered them, the back
  // end's clock, and the analysis settings in use (a JSON object; kept in the line only when it
  // differs from the previous ping's). False when the recording stopped now or earlier.
  bool addPing(std::span<const uint8_t> warmUp, std::span<const uint8_t> ping, uint64_t timeMs,
               const std::string& analysisJson);
  // Writes session.json again with the count and the end; the recorder stops.
  std::string finish();

  // Another capture than the session's (a dialog changed the format or the chirp) ends it: its
  // recordings would not match session.json. False when it stopped now or earlier.
  bool checkCapture(const SessionCapture& capture);

  bool active() const { return listFd_ >= 0; }
  // These may be read from another thread (a status bar) while pings are recorded.
  uint64_t pings() const { return pings_.load(std::memory_order_relaxed); }
  uint64_t bytesWritten() const { return bytes_.load(std::memory_order_relaxed); }
  const std::string& folder() const { return folder_; }
  // Why the recording stopped early; empty while it runs or after a normal finish.
  const std::string& problem() const { return info_.stopped; }

 private:
  SessionRecorder(std::string folder, SessionInfo info, int listFd);
  void stop(std::string reason);

  std::string folder_;
  SessionInfo info_;
  std::atomic<int> listFd_{-1};
  std::atomic<uint64_t> pings_{0};
  std::atomic<uint64_t> bytes_{0};
  std::string lastAnalysis_;
  bool finished_ = false;
};

// "2026-12-09T03:41:07Z", for session.json.
std::string isoTimeNow();
