#include "audio/session_recorder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "audio/wave_pair.h"
#include "io/checked_save.h"

namespace {

std::string errnoText() {
  return std::strerror(errno);
}

bool isEmptyFolder(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  bool empty = true;
  while (const dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
      empty = false;
      break;
    }
  }
  ::closedir(dir);
  return empty;
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool appendAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string isoTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return buf;
}

std::string SessionRecorder::checkFolder(const std::string& folder, const std::string& replayed) {
  if (folder.empty()) return "no folder given to record into";
  if (!replayed.empty() && sameFile(folder, replayed)) {
    return folder + " is the session being played back";
  }
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) {
    if (errno == ENOENT) return {};  // made at the start
    return folder + ": " + errnoText();
  }
  if (!S_ISDIR(st.st_mode)) return folder + " is not a folder";
  if (!isEmptyFolder(folder)) return folder + " is not empty; a session needs a folder of its own";
  return {};
}

bool SessionRecorder::diskFreeSpace(const std::string& folder, uint64_t& freeBytes) {
  struct statvfs fs {};
  if (::statvfs(folder.c_str(), &fs) != 0) return false;
  freeBytes = uint64_t{fs.f_bavail} * fs.f_frsize;
  return true;
}

std::unique_ptr<SessionRecorder> SessionRecorder::start(const std::string& folder, SessionInfo info,
                                                        uint64_t bytesPerMinute,
                                                        std::string& problem,
                                                        FreeSpaceQuery freeSpace) {
  problem = checkFolder(folder, {});
  if (!problem.empty()) return nullptr;
  const bool made = ::mkdir(folder.c_str(), 0755) == 0;
  if (!made && errno != EEXIST) {
    problem = "cannot make " + folder + ": " + errnoText();
    return nullptr;
  }
  uint64_t freeBytes = 0;
  if (!freeSpace(folder, freeBytes)) {
    problem = folder + ": " + errnoText();
  } else if (freeBytes < bytesPerMinute) {
    problem = "the disk of " + folder + " has " + std::to_string(freeBytes / 1024) +
              " KB free; a minute of recording takes " + std::to_string(bytesPerMinute / 1024) +
              " KB";
  }
  if (!problem.empty()) {
    // A refused start leaves the disk as it found it.
    if (made) ::rmdir(folder.c_str());
    return nullptr;
  }
  info.complete = false;
  info.stopped.clear();
  if (info.started.empty()) info.started = isoTimeNow();
  problem = saveTextChecked(folder + "/" + kSessionFile, sessionJson(info));
  if (!problem.empty()) return nullptr;
  const std::string list = folder + "/" + kPingListFile;
  const int fd = ::open(list.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    problem = "cannot create " + list + ": " + errnoText();
    return nullptr;
  }
  return std::unique_ptr<SessionRecorder>(new SessionRecorder(folder, std::move(info), fd));
}

SessionRecorder::SessionRecorder(std::string folder, SessionInfo info, int listFd)
    : folder_(std::move(folder)), info_(std::move(info)), listFd_(listFd) {}

SessionRecorder::~SessionRecorder() {
  if (!finished_) finish();
}

void SessionRecorder::stop(std::string reason) {
  if (listFd_ >= 0) ::close(listFd_);
  listFd_ = -1;
  info_.stopped = std::move(reason);
}

bool SessionRecorder::addPing(std::span<const uint8_t> warmUp, std::span<const uint8_t> ping,
                              uint64_t timeMs, const std::string& analysisJson) {
  if (!active()) return false;
  const uint64_t index = pings() + 1;
  if (warmUp.size() != kWarmUpBytes || ping.size() != info_.recordBytes) {
    stop("recording stopped after " + std::to_string(pings()) +
         " pings: a recording of another length than the session's");
    return false;
  }
  const PcmFormat format = pcmFormatOf(info_.capture.format);
  const std::string warmName = sessionPingName(index, PingFile::kWarmUp);
  const std::string pingName = sessionPingName(index, PingFile::kPing);
  std::string problem = writeNewWavFile(folder_ + "/" + warmName, format, warmUp);
  if (problem.empty()) problem = writeNewWavFile(folder_ + "/" + pingName, format, ping);
  if (!problem.empty()) {
    ::unlink((folder_ + "/" + warmName).c_str());
    stop("recording stopped after " + std::to_string(pings()) + " pings: " + problem);
    return false;
  }
  std::string line = "{\"index\":" + std::to_string(index) +
                     ",\"timeMs\":" + std::to_string(timeMs) + ",\"warmUp\":\"" + warmName +
                     "\",\"ping\":\"" + pingName + "\"";
  if (analysisJson != lastAnalysis_) line += ",\"analysis\":" + analysisJson;
  line += "}\n";
  // The line goes last and in one write: a ping counts only once both of its files are whole.
  if (!appendAll(listFd_, line)) {
    stop("recording stopped after " + std::to_string(pings()) + " pings: cannot write " +
         kPingListFile + ": " + errnoText());
    return false;
  }
  lastAnalysis_ = analysisJson;
  bytes_.fetch_add(warmUp.size() + ping.size() + 2 * 44 + line.size(), std::memory_order_relaxed);
  pings_.store(index, std::memory_order_relaxed);
  return true;
}

bool SessionRecorder::checkCapture(const SessionCapture& c) {
  if (!active()) return false;
  const SessionCapture& r = info_.capture;
  const bool same = c.format.channels == r.format.channels &&
                    c.format.samplesPerSec == r.format.samplesPerSec &&
                    c.format.bitsPerSample == r.format.bitsPerSample &&
                    c.startFrequency == r.startFrequency && c.endFrequency == r.endFrequency &&
                    c.chirpTime == r.chirpTime && c.chirpShape == r.chirpShape &&
                    c.recordTime == r.recordTime && c.offsetBytes == r.offsetBytes;
  if (!same) {
    stop("recording stopped after " + std::to_string(pings()) +
         " pings: the format, chirp, record time or offset changed");
  }
  return same;
}

std::string SessionRecorder::finish() {
  if (finished_) return {};
  finished_ = true;
  const std::string reason = info_.stopped;
  if (listFd_ >= 0) ::close(listFd_);
  listFd_ = -1;
  info_.complete = true;
  info_.pings = pings();
  // A disk too full for this keeps the first session.json, which still reads: the list counts.
  const std::string problem = saveTextChecked(folder_ + "/" + kSessionFile, sessionJson(info_));
  info_.stopped = reason;
  return problem;
}
